// kxpExtractGrayScales: any picture (palette, bit planes, EHB, 24 or 48
// bits; not HAM) to a grey palette picture of COLORDEPTH bits, never more
// than a palette source's own. QUICK uses R/4 + G/2 + B/8 in place of the
// luminance; SORTED8BIT re-numbers the levels by brightness, "DESCENDING"
// with index 0 the brightest. Marked grey; carries no transparency.
#pragma once

#include "kxpGreyRamp.h"

class kxpExtractGrayScales : public kxpGreyRamp {
public:
    explicit kxpExtractGrayScales(KXClass* lib = nullptr) : kxpGreyRamp(lib, "kxpExtractGrayScales") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
