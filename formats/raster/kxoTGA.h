// kxoTGA: Truevision TGA. Reads colour-mapped, true-colour and grey files,
// uncompressed or run-length encoded, with 1, 8, 15 or 16 (5-5-5), 24 and 32 bits
// per pixel, bottom-up or top-down, colour maps of 16-, 24- and 32-bit
// entries (15 as 16; the first 256 used, the rest passed over); 32-bit pixels give a
// 24-bit image with an 8-bit alpha map. Writes 8-bit palette images with a
// 256-entry map and 24-bit images (32-bit with an alpha map), top-down and
// uncompressed. The format has no magic: a file is recognised by a
// plausibility test of its header and length.
// Refuses image types above 11, other pixel depths and map entry sizes (15),
// a raster that ends early (29), and on save pictures wider or taller than
// 65535 pixels (15) and depths other than up to 8 and 24 (16).
// Relies on the raster frame (byte reader and writer, checked sizes, safe save).
#pragma once

#include "formats/raster/kxframe.h"

class kxoTGA : public KXObject {
public:
    explicit kxoTGA(KXClass* lib = nullptr);
    ~kxoTGA() override {
        kxoTGA::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".TGA")

private:
    uint32_t LoadBody();
    uint32_t WriteBody();
};
