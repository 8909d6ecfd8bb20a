// kxoXWD: X window dumps, read only: file version 7, Z pixmaps of 8 bits
// (palette from the colour map, or a grey ramp of 2^depth levels without
// one), 24 bits (R, G, B in file order) and 32 bits (either byte order,
// components by the masks 0xFF0000, 0xFF00 and 0xFF). Bits per pixel are
// raised to the pixel size that bytes per line and the window width imply.
// Refuses other versions, formats and depths, bits per RGB 1-7, bitmap
// units other than 8 and 32, bit order 0, unknown masks with more than 24
// bits per RGB and bytes per line 0 (15); rows past the end of the file
// give 29. Save answers 16.
// Relies on the raster frame (byte reader, checked sizes).
#pragma once

#include "formats/raster/kxframe.h"

class kxoXWD : public KXObject {
public:
    explicit kxoXWD(KXClass* lib = nullptr);
    ~kxoXWD() override {
        kxoXWD::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override { return KXERR_NOTSUPPORTED; }
    KXF_FRAME_OPERATIONS(".XWD")

    // A component by its mask, or -1 for a mask the reader does not know.
    static int32_t RedByMask(uint32_t pixel, uint32_t mask);
    static int32_t GreenByMask(uint32_t pixel, uint32_t mask);
    static int32_t BlueByMask(uint32_t pixel, uint32_t mask);

private:
    uint32_t LoadBody();
};
