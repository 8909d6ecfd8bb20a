// kxpAlphaTo16Bit: gives a 48-bit picture a 16-bit alpha map: an 8-bit map
// widened (v * 257, marked as widened with KXGFXF_ALPHASRC8BIT), a 16-bit
// one copied. Samples and map come out in host order. Refuses other
// depths (33) and pictures without a map (26).
#pragma once

#include "operators/kxpFrame.h"

class kxpAlphaTo16Bit : public kxpFrame {
public:
    explicit kxpAlphaTo16Bit(KXClass* lib = nullptr) : kxpFrame(lib, "kxpAlphaTo16Bit") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
