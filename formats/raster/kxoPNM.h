// kxoPNM: the portable any-maps P1 to P6 (ASCII and raw bitmaps, grey maps
// and pixel maps). Reads maxval 1..255 and 65535: grey maps keep their
// sample values under a grey-ramp palette (65535: the high byte), pixel
// maps with a maxval below 255 are rescaled to 0..255, and 16-bit pixel
// maps load as 48-bit images in host order (as 24-bit with the pad key
// COLORDEPTH=24). Writes raw P6 (24-bit, 48-bit, palette images expanded)
// and raw P5 (grey values of any depth); SUPPRESS_HEADER leaves the header
// out. Refuses other maxvals and tokens longer than 15 digits (15).
// Relies on the raster frame (byte reader and writer, safe save).
#pragma once

#include "formats/raster/kxframe.h"

class kxoPNM : public KXObject {
public:
    explicit kxoPNM(KXClass* lib = nullptr);
    ~kxoPNM() override {
        kxoPNM::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".PNM")

    // The two pad keys: SUPPRESS_HEADER (present or not, spelt exactly) and
    // COLORDEPTH (any spelling of the key; 24 when its value is "24", else 48).
    bool IsHeaderSuppressed();
    uint32_t ReadColorDepth();

private:
    uint32_t LoadBody();
};
