// kxoPAM: the portable arbitrary map ("P7"). Reads BLACKANDWHITE, GRAY and
// RGB tuples with or without an alpha sample (TUPLTYPE ..._ALPHA), maxval
// 1..255 and 65535, any DEPTH that holds the tuple (further samples are
// skipped). Grey tuples keep their samples under a grey-ramp palette
// (65535: sample / 257); grey with alpha loads as 24 bits (48 bits at
// 65535) with an alpha map; RGB samples below maxval 255 are rescaled to
// 0..255, 16-bit RGB loads as 48 bits in host order (24 bits with the pad
// key COLORDEPTH=24). Writes RGB (maxval 255, or 65535 for 48-bit images)
// and GRAYSCALE (maxval 255), each with an alpha sample when the image has
// an alpha map, a transparent index or an alpha table; SUPPRESS_HEADER
// leaves the header out.
// Refuses maxvals 256..65534 and 0, DEPTHs too small for the tuple type,
// unknown tuple types (15). Relies on the raster frame (byte reader and
// writer, checked sizes, safe save).
#pragma once

#include "formats/raster/kxframe.h"

class kxoPAM : public KXObject {
public:
    explicit kxoPAM(KXClass* lib = nullptr);
    ~kxoPAM() override {
        kxoPAM::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".PAM")

    // The pad keys shared with kxoPNM: SUPPRESS_HEADER (present or not,
    // spelt exactly) and COLORDEPTH (any spelling of the key; 24 when its
    // value is "24", else 48).
    bool IsHeaderSuppressed();
    uint32_t ReadColorDepth();

private:
    uint32_t LoadBody();
    uint32_t WriteBody();
};
