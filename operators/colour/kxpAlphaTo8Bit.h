// kxpAlphaTo8Bit: gives a 24- or 48-bit picture an 8-bit alpha map: a
// 16-bit map narrowed (v / 257), an 8-bit one copied. Refuses other depths
// (20) and pictures without a map (26).
#pragma once

#include "operators/kxpFrame.h"

class kxpAlphaTo8Bit : public kxpFrame {
public:
    explicit kxpAlphaTo8Bit(KXClass* lib = nullptr) : kxpFrame(lib, "kxpAlphaTo8Bit") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
