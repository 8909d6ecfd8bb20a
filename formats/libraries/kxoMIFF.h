// kxoMIFF: ImageMagick MIFF, version 1.0 header, uncompressed. Writes 24-bit
// RGB and 48-bit RGB (big-endian samples; the picture handed in is turned
// big-endian in place) as DirectClass, with an alpha sample after each pixel
// when the picture has an alpha map (48 bits: the 8-bit alpha times 257);
// palette pictures of 1 to 8 bits as PseudoClass with their colour map and
// one index byte a pixel, followed by an alpha byte when the picture has an
// alpha map or an alpha table (ImageMagick's index-alpha layout).
// Save-only: CheckFile answers 0, Load gives 16. Refuses HAM pictures (19)
// and other depths (15). Relies on the raster frame (byte writer, checked
// sizes, safe save).
#pragma once

#include "formats/raster/kxframe.h"

class kxoMIFF : public KXObject {
public:
    explicit kxoMIFF(KXClass* lib = nullptr);
    ~kxoMIFF() override {
        kxoMIFF::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".mif")

private:
    uint32_t Prepare();
    uint32_t PaletteAlpha();
    bool WriteBody(KXByteWriter& w);

    const uint8_t* AlphaTable = nullptr;  // a palette picture's 256 alpha values (borrowed)
    uint8_t* RowBlock = nullptr;          // one pixel row with its alpha samples (AllocVec)
};
