// kxoDDS: DirectDraw Surface. Reads the first image of a file: uncompressed
// 16-bit (5-6-5, 1-5-5-5, 4-4-4-4), 24- and 32-bit (blue-first or
// alpha-first) pixels and the block formats DXT1 to DXT5 (DXT2 and DXT4
// un-premultiplied); every picture loads as 24 bits, with an 8-bit alpha map
// when the file carries alpha. Writes 24-bit pictures as uncompressed 32-bit
// surfaces, the alpha map (if any) in the fourth byte.
// Refuses other layouts (15) and unknown bit counts or codes (14).
// Relies on the raster frame (byte reader and writer, checked sizes, safe
// save).
#pragma once

#include "formats/raster/kxframe.h"

class kxoDDS : public KXObject {
public:
    explicit kxoDDS(KXClass* lib = nullptr);
    ~kxoDDS() override {
        kxoDDS::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".DDS")

private:
    uint32_t LoadBody();
};
