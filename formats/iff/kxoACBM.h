// kxoACBM: palette images of 1-8 bit planes in FORM "ACBM" (contiguous
// planes, one whole plane after another, in ABIT; rows padded to 16
// pixels), uncompressed, with CMAP, CAMG, a transparent colour and the
// metadata chunk set.
#pragma once

#include "formats/iff/iff.h"

class kxoACBM : public KXIffBitmapModule {
public:
    explicit kxoACBM(KXClass* lib);
    ~kxoACBM() override {
        kxoACBM::Reset();
        FreeConfig();
    }

    uint32_t Save() override;
    uint32_t Load() override;

private:
    void InitOwn() override;
    void FreeWork() override;

    KX_GfxBuffer* PlaneCopy = nullptr;   // bit-plane copy of a chunky image
};
