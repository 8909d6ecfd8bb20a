// kxoCUTPAL: Dr. Halo CUT pictures. Reads the run-length coded rows of 8
// bits a pixel and takes the colours from the palette file of the same name
// ending in ".PAL" (or ".pal") beside the picture: entries of three bytes,
// or of three 16-bit words of which the low byte counts (file type 10),
// none straddling a 512-byte block. Without a palette file the picture is
// a grey ramp.
// Refuses rows that claim more than twice the width in bytes (14), rows
// that end before the picture is complete (29), palette files without "AH",
// with more than 256 entries or with a size too small for them (15); has no
// writer.
// Relies on the raster frame (byte reader, checked sizes).
#pragma once

#include <string>

#include "formats/raster/kxframe.h"

class kxoCUTPAL : public KXObject {
public:
    explicit kxoCUTPAL(KXClass* lib = nullptr);
    ~kxoCUTPAL() override {
        kxoCUTPAL::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override { return KXERR_NOTSUPPORTED; }
    KXF_FRAME_OPERATIONS(".cut")

private:
    uint32_t LoadBody();
    uint32_t DecodeRows(const uint8_t* rows, uint64_t size, KX_GfxBuffer* img);
    // The palette file's colours into img; 0 without a palette file.
    uint32_t ReadPalette(KX_GfxBuffer* img, bool* found);
};
