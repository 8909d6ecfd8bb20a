// kxpAntique: any picture (palette, bit planes, EHB, 24 or 48 bits; not
// HAM) to a grey palette picture of COLORDEPTH bits, never more than a
// palette source's own, whose ramp is then tinted brown: green = red x q/r
// and blue = green x q/r, with q/r from 2/3 ("MODE_1") to 6/7 ("MODE_5").
// A palette source's transparent index or alpha table is carried.
#pragma once

#include "kxpGreyRamp.h"

class kxpAntique : public kxpGreyRamp {
public:
    explicit kxpAntique(KXClass* lib = nullptr) : kxpGreyRamp(lib, "kxpAntique") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
