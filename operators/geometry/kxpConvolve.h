// kxpConvolve: a 3 x 3 integer matrix with divisor and offset.
#pragma once

#include "operators/kxpFrame.h"

class kxpConvolve : public kxpFrame {
public:
    explicit kxpConvolve(KXClass* lib = nullptr) : kxpFrame(lib, "kxpConvolve") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
