// kxoPCP: Pictor (PC Paint) pictures. Reads 1, 2 and 4 bit planes and 8-bit
// pictures, uncompressed or in run-length packed blocks, with a VGA palette
// (6-bit components), an EGA palette of colour codes or none (a grey ramp).
// Writes every picture of up to 8 bits as 8 bits a pixel with a VGA
// palette, uncompressed or packed (sub-format "packed"; a picture that
// needs more than 65535 blocks is written uncompressed).
// Refuses palette types 1 and 2 and other depths (15), palettes above 768
// bytes (14); does not save 24- and 48-bit pictures (21, 34) nor pictures
// wider or taller than 65535 (15).
// Relies on the raster frame (byte reader and writer, checked sizes, safe
// save).
#pragma once

#include "formats/raster/kxframe.h"

class kxoPCP : public KXObject {
public:
    explicit kxoPCP(KXClass* lib = nullptr);
    ~kxoPCP() override {
        kxoPCP::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".PCP")

private:
    uint32_t LoadBody();
};
