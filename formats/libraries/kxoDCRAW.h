// kxoDCRAW: camera RAW files through dcraw, a device reader (I/O mode 3
// only; the file comes from LOADNAME). Runs the converter (DCRAW_PATH,
// default "dcraw") with its image on standard output, which goes straight
// into a temporary file, and loads that with the PNM module or, with
// METAFORMAT=TIFF, the TIFF module, each on its own control pad. Options:
// EXTRACTMODE=PREVIEW (-e), FORMAT=16BIT (-4), METAFORMAT=TIFF (-T),
// PICNUMBER (-s, 0..99), COLORSPACE RAW/SRGB/ADOB/WIDE/PRO/XYZ (-o 0..5).
// Takes no metadata over and writes nothing.
// Relies on the converter helpers (kxconvert), the PNM and TIFF modules.
#pragma once

#include "formats/libraries/kxconvert.h"

class kxoDCRAW : public KXObject {
public:
    explicit kxoDCRAW(KXClass* lib = nullptr);
    ~kxoDCRAW() override {
        kxoDCRAW::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t Load() override;
    KXCONV_DEVICE_OPERATIONS(".dng")

    // The converter's options from the settings ("-c" first).
    std::vector<std::string> Options();

    // The converter's output, deleted at Reset.
    KXConvFile Output;
};
