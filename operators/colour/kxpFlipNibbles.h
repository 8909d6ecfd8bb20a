// kxpFlipNibbles: rearranges the two nibbles of every palette component and
// 8-bit sample, or the two bytes of every 16-bit sample, by FLIPMODE:
// "SWAP" (default), "MINUS_LOW", "MINUS_HIGH", "SHIFT_LOW", "SHIFT_HIGH",
// "DOUBLE_LOW", "DOUBLE_HIGH". 16-bit samples are taken as stored, the
// first byte low, and the result keeps the source's byte order.
// Palette transparency is dropped; an alpha map is kept. Refuses HAM.
#pragma once

#include "kxpTone.h"

class kxpFlipNibbles : public kxpTone {
public:
    explicit kxpFlipNibbles(KXClass* lib = nullptr) : kxpTone(lib, "kxpFlipNibbles") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
