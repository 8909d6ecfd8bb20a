// kxoIMG: GEM bit images. Reads the plain 8-word header (a grey ramp), the
// 9-word header with a colour flag (fixed palettes, or true-colour pixels in
// blue, green, red) and XIMG files with an RGB palette, of 1 to 8 or 24
// planes, packed with pattern runs, solid runs, bit strings and scanline
// runs; planar data are held inverted (a set bit in the file is a clear bit
// in the picture), so a palette indexed by the file's pixel values is held
// in reverse order. Writes XIMG files (whatever the sub-format) of palette
// pictures up to 8 bits and of 24-bit pictures, every plane row as bit
// strings.
// Refuses other variants (header version above 1 with 8 or 9 words, "STTT",
// other magic, colour flags 2 and above 3, depths 9 to 23 and above 24:
// 15) and data that end before the last row (29); does not save 48-bit
// pictures nor pictures wider or taller than 65535 (15).
// Relies on the raster frame (byte reader and writer, checked sizes, safe
// save).
#pragma once

#include "formats/raster/kxframe.h"

class kxoIMG : public KXObject {
public:
    explicit kxoIMG(KXClass* lib = nullptr);
    ~kxoIMG() override {
        kxoIMG::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".IMG")

    // 24 plane rows of rowBytes bytes each (plane k is bit k of red, 8 + k
    // of green, 16 + k of blue; leftmost pixel in the top bit) to width
    // pixels of R, G, B, and back. The output of the first starts cleared.
    static void Planes24ToChunky(const uint8_t* planes, uint64_t rowBytes, uint8_t* rgb, uint32_t width);
    static void ChunkyToPlanes24(const uint8_t* rgb, uint8_t* planes, uint64_t rowBytes, uint32_t width);

private:
    uint32_t LoadBody();
};
