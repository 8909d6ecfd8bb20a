// kxpXOr: XORs a value into every palette index (XORVALUE, limited to the
// largest index of the depth; 15 without the key) or every 8-bit sample
// (the same, limited to 255), and XORVALUE16 into every 16-bit sample
// (without it, or at -1, the 8-bit value in both bytes). 16-bit samples are
// taken as stored, the first byte low, so a big-endian picture has its
// high byte XORed by the low byte of the value; the result keeps the
// source's byte order. Palette and transparency are kept. Refuses HAM.
#pragma once

#include "kxpTone.h"

class kxpXOr : public kxpTone {
public:
    explicit kxpXOr(KXClass* lib = nullptr) : kxpTone(lib, "kxpXOr") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
