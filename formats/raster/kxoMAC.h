// kxoMAC: MacPaint documents. Reads the one-bit 576 x 720 picture, its rows
// packed one by one with PackBits behind the 512-byte document header, with
// or without a 128-byte MacBinary header in front. Writes any picture of up
// to 8 bits: stretched to 576 x 720 (kxpResize, then kxpOptimizePalette),
// dithered to black and white (kxpHilbertDither256) and put in order with
// white at index 0 (kxpExtractGrayScales), each operator run with a
// settings list of its own; rows are written as literal runs.
// Refuses runs that end past their row (14) and data that end before the
// last row (29); does not save 24- or 48-bit pictures (21, 34).
// Relies on the raster frame (byte reader and writer, safe save) and the
// catalogue's operators.
#pragma once

#include "formats/raster/kxframe.h"

class kxoMAC : public KXObject {
public:
    explicit kxoMAC(KXClass* lib = nullptr);
    ~kxoMAC() override {
        kxoMAC::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".MAC")

    // The PackBits rows of width pixels (planes bit planes a row, each
    // packed by itself) from [input, input + size) into data. A run that
    // would end past its row gives 14, input that ends before the last row
    // 29.
    uint32_t UnpackRows(const uint8_t* input, uint64_t size, uint8_t* data, uint32_t width, uint32_t height, uint32_t planes);

private:
    uint32_t LoadBody();
    uint32_t Convert(KX_GfxBuffer** owned, const KX_GfxBuffer** result);
};
