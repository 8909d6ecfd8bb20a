// kxpConvolveNxN: a 5 x 5, 7 x 7 or 9 x 9 integer matrix with divisor and offset.
#pragma once

#include "operators/kxpFrame.h"

class kxpConvolveNxN : public kxpFrame {
public:
    explicit kxpConvolveNxN(KXClass* lib = nullptr) : kxpFrame(lib, "kxpConvolveNxN") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
