// kxoHDR: Radiance RGBE pictures. Reads files whose header names the
// format 32-bit_rle_rgbe (or none) and whose resolution line is -Y h +X w,
// with new-style run-length, flat and old-style repeat-coded scanlines;
// every picture loads as 48 bits (host order), mapped from RGBE through
// fixed tables for a gamma of 2.0 at exposure 1. Writes 24- and 48-bit
// pictures with run-length scanlines (flat ones below 8 pixels).
// Refuses other formats and orientations and damaged scanlines (14),
// pictures wider than 32767 pixels are not saved (14). No alpha, no metadata.
// Relies on the raster frame (byte reader and writer, checked sizes, safe
// save).
#pragma once

#include "formats/raster/kxframe.h"

class kxoHDR : public KXObject {
public:
    explicit kxoHDR(KXClass* lib = nullptr);
    ~kxoHDR() override {
        kxoHDR::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".HDR")

private:
    uint32_t ReadPicture();
    uint32_t WritePicture();
    // Logs "errcode <code> (<message>)" and returns the code.
    uint32_t Fail(uint32_t code, const char* message);
};
