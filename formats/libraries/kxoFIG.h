// kxoFIG: FIG drawings through fig2dev. Recognises files that begin with
// "#FIG" and whose name ends in ".fig" (both needed). Load runs the
// converter (FIG2DEV_PATH, default "fig2dev") into a PostScript file in the
// temporary directory and hands it to a PostScript module of its own,
// which renders it with its own control pad (GS_PATH, DPI). Writes nothing.
// Relies on the converter helpers (kxconvert) and the PostScript module.
#pragma once

#include "formats/libraries/kxconvert.h"

class kxoFIG : public KXObject {
public:
    explicit kxoFIG(KXClass* lib = nullptr);
    ~kxoFIG() override {
        kxoFIG::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    KXF_FRAME_OPERATIONS(".fig")

    // The PostScript file of the last conversion; deleted at Reset.
    KXConvFile Output;
};
