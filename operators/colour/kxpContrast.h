// kxpContrast: v becomes PERCENT * v / 100 + SUMMAND (defaults 100 and 0),
// truncated toward zero and limited to the sample's range, on all 256
// palette entries or every 8- and 16-bit sample (SUMMAND in sample units,
// unscaled). Computed in 64 bits. Transparency and alpha maps are kept.
// Refuses HAM.
#pragma once

#include "kxpTone.h"

class kxpContrast : public kxpTone {
public:
    explicit kxpContrast(KXClass* lib = nullptr) : kxpTone(lib, "kxpContrast") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
