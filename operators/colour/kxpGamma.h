// kxpGamma: gamma correction per channel (RED_GAMMA, GREEN_GAMMA,
// BLUE_GAMMA, 0.5 each): v becomes max * (v / max)^(1/g), rounded and
// limited, through a 256-entry table for palette components and 8-bit
// samples and a 65536-entry table for 16-bit samples. A gamma of 0 or
// below follows the same formula within the limits (black below the
// maximum for 0, white for a negative gamma); one that is not a finite
// number keeps 0.5. Transparency and alpha maps are kept; no flag bits.
// Refuses HAM.
#pragma once

#include "kxpTone.h"

class kxpGamma : public kxpTone {
public:
    explicit kxpGamma(KXClass* lib = nullptr) : kxpTone(lib, "kxpGamma") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
