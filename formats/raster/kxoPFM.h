// kxoPFM: the portable float map, "PF" (R, G, B floats) and "Pf" (grey
// floats), rows stored bottom up, the scale's sign giving the byte order.
// Loads colour as 48 bits in host order (24 bits with the pad key
// COLORDEPTH=24) and grey as 8 bits with a grey ramp; a float divided by
// the scale maps 1.0 to 255 or 65535 (times SCALE_FACTOR / 255, default
// 255), rounded and clamped. Writes little-endian files with scale -1:
// palette and 24-bit samples divided by 255, 48-bit samples by 65535, grey
// as (R x 30 + G x 59 + B x 11) / 100 of the same.
// Refuses a scale of 0 or one that is not finite, header tokens longer than
// 15 characters (15), and depths other than up to 8, 24 and 48 (16).
// Relies on the raster frame (byte reader and writer, checked sizes, safe save).
#pragma once

#include "formats/raster/kxframe.h"

class kxoPFM : public KXObject {
public:
    explicit kxoPFM(KXClass* lib = nullptr);
    ~kxoPFM() override {
        kxoPFM::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".PFM")

    // SCALE_FACTOR (spelt exactly, a real number, default 255) and
    // COLORDEPTH (any spelling of the key; 24 when its value is "24", else 48).
    void ReadSettings(float* factor, uint32_t* depth);

private:
    uint32_t LoadBody();
    uint32_t WriteBody();
};
