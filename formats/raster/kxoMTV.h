// kxoMTV: MTV ray-tracer pictures: a text line with width and height, then
// R, G, B bytes, rows top to bottom. Reads and writes 24-bit pictures. The
// header's numbers are at most 15 characters; a '#' starts a comment that
// runs to the end of its line. Files are recognised by the extension .mtv
// and a first line of digits and white space.
// Refuses longer numbers and sizes beyond 32 bits (15), a header or raster
// that ends early (29); on save, depths other than 24 (20).
// Relies on the raster frame (byte reader and writer, checked sizes, safe
// save).
#pragma once

#include "formats/raster/kxframe.h"

class kxoMTV : public KXObject {
public:
    explicit kxoMTV(KXClass* lib = nullptr);
    ~kxoMTV() override {
        kxoMTV::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".mtv")

private:
    uint32_t LoadBody();
};
