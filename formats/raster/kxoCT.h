// kxoCT: Scitex CT pictures, recognised by "CT" at offset 80: grey (one
// separation) or RGB (three, a red, a green and a blue line for every row),
// one byte a sample, lines of odd length padded to even, the height and
// width as decimal text in the parameter block, the pixels from offset
// 2048. Read-only.
// Refuses other separations and sizes that are not numbers (15), a raster
// that ends early (29).
// Relies on the raster frame (byte reader, checked sizes) and the plane
// moves of kxplanes.
#pragma once

#include "formats/raster/kxframe.h"

class kxoCT : public KXObject {
public:
    explicit kxoCT(KXClass* lib = nullptr);
    ~kxoCT() override {
        kxoCT::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override { return KXERR_NOTSUPPORTED; }
    KXF_FRAME_OPERATIONS(".ct")

private:
    uint32_t LoadBody();
};
