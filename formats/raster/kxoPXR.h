// kxoPXR: Pixar picture files (magic 80 E8 00 00): 8-bit R, G, B or R, G, B,
// A pixels, rows top to bottom, from offset 1024. R, G, B, A files give a
// 24-bit picture with an alpha map. Read-only.
// Refuses other channel and sample layouts (15), a raster that ends early
// (29).
// Relies on the raster frame (byte reader, checked sizes, alpha map).
#pragma once

#include "formats/raster/kxframe.h"

class kxoPXR : public KXObject {
public:
    explicit kxoPXR(KXClass* lib = nullptr);
    ~kxoPXR() override {
        kxoPXR::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override { return KXERR_NOTSUPPORTED; }
    KXF_FRAME_OPERATIONS(".PXR")

private:
    uint32_t LoadBody();
};
