// kxoSGI: SGI image files (magic 474). Reads one byte per channel, one, three
// or four channels, verbatim or run-length encoded, rows bottom-up as the
// format stores them: one channel gives an 8-bit grey palette picture, three
// a 24-bit picture, four a 24-bit picture with its alpha map. Writes 24-bit
// pictures as verbatim three-channel files (an alpha map is not written).
// Refuses other storage kinds (15), other channel counts and sample sizes
// (16), run-length rows longer than six bytes a pixel (14); on save, depths
// other than 24 (20) and pictures wider or taller than 65535 pixels (15).
// Relies on the raster frame (byte reader and writer, checked sizes, safe
// save) and the plane moves of kxplanes.
#pragma once

#include "formats/raster/kxframe.h"

class kxoSGI : public KXObject {
public:
    explicit kxoSGI(KXClass* lib = nullptr);
    ~kxoSGI() override {
        kxoSGI::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".SGI")

private:
    uint32_t LoadBody();
};
