// kxpAnyTo48Bit: converts any picture the system holds (bit planes or
// chunky, palette 1 to 8 bits, HAM6, HAM8, EHB, 24 and 48 bits) into chunky
// 48-bit RGB (8-bit values times 257), carrying its alpha; CONVERTALPHA
// "ON" widens an 8-bit map to 16 bits.
#pragma once

#include "operators/kxpFrame.h"

class kxpAnyTo48Bit : public kxpFrame {
public:
    explicit kxpAnyTo48Bit(KXClass* lib = nullptr) : kxpFrame(lib, "kxpAnyTo48Bit") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
