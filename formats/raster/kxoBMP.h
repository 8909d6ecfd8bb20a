// kxoBMP: Windows and OS/2 bitmaps, plain or in a RIFF "RDIB" wrapper.
// Reads 1-, 4-, 8-bit palette files (uncompressed, RLE8, RLE4), 16-bit
// 5-5-5 and bit-field 5-5-5/5-6-5, 24-bit and 32-bit files (the alpha byte
// of a 32-bit bit-field file that declares the alpha mask 0xFF000000 becomes
// an 8-bit alpha map), and the ICC profile of a 124-byte header.
// Writes 1-, 4-, 8-bit palette and 24-bit images with a 40-byte header,
// 24-bit images with an 8-bit alpha map as 32-bit with a 108-byte header,
// and any of them with a 124-byte header (sub-format "v5", with the ICC
// profile of the metadata record).
// Refuses bit counts 2, 3, 5, 6, 7 (14), compression above 3, other masks,
// sizes that do not fit the header's fields, and 48-bit images (16).
// Relies on the raster frame (byte reader and writer, safe save).
#pragma once

#include "formats/raster/kxframe.h"

class kxoBMP : public KXObject {
public:
    explicit kxoBMP(KXClass* lib = nullptr);
    ~kxoBMP() override {
        kxoBMP::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".BMP")

private:
    uint32_t LoadBody();
    uint32_t WriteBody(const uint8_t* alpha, const uint8_t* icc, uint32_t iccSize);
};
