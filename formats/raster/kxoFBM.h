// kxoFBM: Fuzzy Bitmap files: a 256-byte header of decimal text fields that
// starts with "%bitmap", an optional planar colour map and the pixels plane
// by plane. Reads one plane of 8 bits (palette or grey) and three planes of
// 8 or 16 bits (24- and 48-bit pictures; 16-bit samples big-endian, kept so
// and marked); writes palette, 24-bit and 48-bit pictures, the last after
// turning the caller's samples big-endian in place.
// Refuses other plane and bit counts (15), a raster that ends early (29);
// on save, depths above 8 other than 24 and 48 (15) and sizes that do not
// fit their header fields (15).
// Relies on the raster frame (byte reader and writer, checked sizes, safe
// save) and the plane moves of kxplanes.
#pragma once

#include "formats/raster/kxframe.h"

class kxoFBM : public KXObject {
public:
    explicit kxoFBM(KXClass* lib = nullptr);
    ~kxoFBM() override {
        kxoFBM::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".FBM")

    // 2^depth reds, then as many greens, then as many blues of the palette.
    static void WriteColorMap(KXByteWriter& out, const KX_GfxBuffer* image);
    // The pixel aspect written into the header: whole and hundredths of
    // height over width; pixels are square whatever the display mode.
    static void GetAspect(uint32_t mode, long* whole, long* hundredths);

private:
    uint32_t LoadBody();
};
