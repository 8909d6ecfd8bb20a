// kxoPSP: Paint Shop Pro images, read only. Finds the general image
// attributes, the colour palette and the layer start block by their block
// markers and composes the channel blocks directly inside the layer start
// block (uncompressed, run-length or deflated) into one picture of 1, 4, 8
// or 24 bits; layer blocks are only logged. The depth of the picture is the
// file's bit depth.
// Refuses other bit depths, plane counts that do not match the bit depth
// and compressions above 2 (15), files without block markers, misplaced
// blocks, run-length data that do not end with the channel and files
// without a channel block (14). Save answers 16.
// Relies on the raster frame (byte reader, checked sizes) and zlib.
#pragma once

#include "formats/raster/kxframe.h"

class kxoPSP : public KXObject {
public:
    explicit kxoPSP(KXClass* lib = nullptr);
    ~kxoPSP() override {
        kxoPSP::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override { return KXERR_NOTSUPPORTED; }
    KXF_FRAME_OPERATIONS(".PSP")

private:
    uint32_t LoadBody();
};
