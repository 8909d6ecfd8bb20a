// kxoCVP: CVP pictures: 512 x 512 pixels in three planes of 256 KB (red,
// green, blue), rows top to bottom, no header. A file is recognised by its
// length, 786432 bytes, and the extension .cvp. Read-only.
// Refuses a file that ends early (29).
// Relies on the raster frame (byte reader, checked sizes) and the plane
// moves of kxplanes.
#pragma once

#include "formats/raster/kxframe.h"

class kxoCVP : public KXObject {
public:
    explicit kxoCVP(KXClass* lib = nullptr);
    ~kxoCVP() override {
        kxoCVP::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override { return KXERR_NOTSUPPORTED; }
    KXF_FRAME_OPERATIONS(".cvp")

private:
    uint32_t LoadBody();
};
