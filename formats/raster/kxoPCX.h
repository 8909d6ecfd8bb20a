// kxoPCX: ZSoft PCX, versions 0, 2, 3 and 5. Reads 1 to 4 bit planes of
// 1 bit, 8-bit palette and 24-bit (three 8-bit planes) pictures, raw or
// run-length coded; version 3 files get a grey ramp. Writes 1- to 4-bit
// pictures as four bit planes (version 2), 5- to 8-bit ones as one 8-bit
// plane with the 256-colour block after the data (version 5), both
// run-length coded unless that comes out larger, and 24-bit pictures as
// three raw planes.
// Refuses versions 1, 4 and above 5, other encodings and plane layouts,
// and a bytes-per-line smaller than the row needs (15); pictures wider or
// taller than 65535 pixels are not saved (15).
// Relies on the raster frame (byte reader and writer, checked sizes, safe
// save).
#pragma once

#include "formats/raster/kxframe.h"

class kxoPCX : public KXObject {
public:
    explicit kxoPCX(KXClass* lib = nullptr);
    ~kxoPCX() override {
        kxoPCX::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".PCX")

private:
    uint32_t LoadBody();
};
