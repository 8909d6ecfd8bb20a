// kxpAnyTo24Bit: converts any picture the system holds (bit planes or
// chunky, palette 1 to 8 bits, HAM6, HAM8, EHB, 24 and 48 bits) into chunky
// 24-bit RGB, carrying its alpha as an 8-bit map (PRECISE "OFF" narrows
// 16-bit values by their high byte instead of dividing by 257).
#pragma once

#include "operators/kxpFrame.h"

class kxpAnyTo24Bit : public kxpFrame {
public:
    explicit kxpAnyTo24Bit(KXClass* lib = nullptr) : kxpFrame(lib, "kxpAnyTo24Bit") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
