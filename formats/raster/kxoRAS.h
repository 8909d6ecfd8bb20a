// kxoRAS: Sun raster (magic 0x59A66A95), uncompressed. Reads 1-, 8- and
// 24-bit files of the old, standard and RGB types, with or without an RGB
// colour map: rows padded to 16 bits, 24-bit pixels B, G, R in the old and
// standard types and R, G, B in the RGB type, the colour map of a 24-bit
// file passed over; 1-bit files without a map are black on white. Writes
// palette pictures as 8-bit standard files with a 768-byte map and 24-bit
// pictures as RGB-type files.
// Refuses the byte-encoded and other types and colour maps other than RGB
// (15), other depths (16); on save, depths above 8 other than 24 (16).
// Relies on the raster frame (byte reader and writer, checked sizes, safe
// save).
#pragma once

#include "formats/raster/kxframe.h"

class kxoRAS : public KXObject {
public:
    explicit kxoRAS(KXClass* lib = nullptr);
    ~kxoRAS() override {
        kxoRAS::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".RAS")

    // The 256 reds, then the 256 greens, then the 256 blues of the palette.
    static void WriteColorMap(KXByteWriter& out, const KX_GfxBuffer* image);

private:
    uint32_t LoadBody();
};
