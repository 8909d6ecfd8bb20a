// kxpOptimizePalette: drops the palette entries no pixel uses and merges
// entries of equal colour (the lower index keeps its place), renumbers the
// pixels and lowers the depth to the least that holds the colours left.
// Takes palette pictures of 1 to 8 bits (bit planes come back chunky);
// refuses 24 and 48 bits, HAM and EHB. Transparency is not carried.
#pragma once

#include "operators/kxpFrame.h"

class kxpOptimizePalette : public kxpFrame {
public:
    explicit kxpOptimizePalette(KXClass* lib = nullptr) : kxpFrame(lib, "kxpOptimizePalette") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
