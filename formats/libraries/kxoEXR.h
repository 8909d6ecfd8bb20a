// kxoEXR: OpenEXR images through a converter. Recognises files that begin
// with the OpenEXR magic number and whose name ends in ".exr" (both
// needed). Load runs the converter (EXRTOPPM_PATH, default our own
// exrtoppm: sRGB-encoded 16-bit PPM) and loads its output with a PNM module
// on its own control pad (a 48-bit image unless that pad asks for 24).
// Writes nothing. Relies on the converter helpers (kxconvert) and the PNM
// module.
#pragma once

#include "formats/libraries/kxconvert.h"

class kxoEXR : public KXObject {
public:
    explicit kxoEXR(KXClass* lib = nullptr);
    ~kxoEXR() override {
        kxoEXR::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    KXF_FRAME_OPERATIONS(".exr")

    // The converter's PNM file of the last conversion; deleted at Reset.
    KXConvFile Output;
};
