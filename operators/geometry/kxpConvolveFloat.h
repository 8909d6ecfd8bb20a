// kxpConvolveFloat: a 3 x 3 matrix of real numbers with divisor and offset.
#pragma once

#include "operators/kxpFrame.h"

class kxpConvolveFloat : public kxpFrame {
public:
    explicit kxpConvolveFloat(KXClass* lib = nullptr) : kxpFrame(lib, "kxpConvolveFloat") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
