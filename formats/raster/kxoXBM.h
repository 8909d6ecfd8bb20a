// kxoXBM: X bitmaps. Reads the C text of the X11 and X10 forms: the width
// and height from the first two #define lines, then the bitmap as
// hexadecimal bytes (0x00) or X10's 16-bit words (0x0000, rows padded to
// whole words), the first pixel in bit 0. Writes the byte form. A palette
// picture of 2 to 8 bits is dithered to black and white along a Hilbert
// curve first; a 1-bit picture is written with its darker colour as the
// set bits.
// Refuses headers without width or height and malformed values (14), a
// bitmap the file does not fill (29); does not save 24- and 48-bit
// pictures (21).
// Relies on the raster frame (checked sizes, safe save) and the operator
// kxpHilbertDither256.
#pragma once

#include "formats/raster/kxframe.h"

class kxoXBM : public KXObject {
public:
    explicit kxoXBM(KXClass* lib = nullptr);
    ~kxoXBM() override {
        kxoXBM::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".XBM")

private:
    uint32_t LoadBody();
    uint32_t Dither(KX_GfxBuffer* source);

    char* LineBuffer = nullptr;          // the loader's data line (AllocVec)
    KX_GfxBuffer* Dithered = nullptr;    // the one-bit picture Save dithered
};
