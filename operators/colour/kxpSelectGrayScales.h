// kxpSelectGrayScales: keeps the colours inside a box (strictly between
// RED/GREEN/BLUE_LEVEL2 and _LEVEL1, defaults 0 and 255) and outside a
// second box (between _LEVEL4 and _LEVEL3, empty by default); every other
// colour becomes grey, (30 R + 59 G + 11 B) / 100. Palette pictures are
// changed through all 256 entries; 48-bit pictures compare 16-bit samples
// with the bounds widened to v | v << 8. No alpha or flags are carried.
// Refuses HAM.
#pragma once

#include "operators/kxpFrame.h"

class kxpSelectGrayScales : public kxpFrame {
public:
    explicit kxpSelectGrayScales(KXClass* lib = nullptr) : kxpFrame(lib, "kxpSelectGrayScales") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
