// kxoMSP: Microsoft Paint pictures of Windows 1 and 2. Reads version 1
// ("DanM", the bitmap as it stands) and version 2 ("LinS", run-length coded
// rows; the row map is passed over) as one bit plane, a set bit white, as
// Windows' monochrome bitmaps have it.
// Refuses other magic (15) and data that end before the picture is
// complete (29); has no writer.
// Relies on the raster frame (byte reader, checked sizes).
#pragma once

#include "formats/raster/kxframe.h"

class kxoMSP : public KXObject {
public:
    explicit kxoMSP(KXClass* lib = nullptr);
    ~kxoMSP() override {
        kxoMSP::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override { return KXERR_NOTSUPPORTED; }
    KXF_FRAME_OPERATIONS(".msp")

    // The version-2 rows of width pixels (planes bit planes a row) from
    // [input, input + size) into data: a byte c other than 0 and c literal
    // bytes, or 0, a count and a value. A run may end past its row (the next
    // row overwrites it) but never past the picture. 29 when the input ends
    // before the last row.
    uint32_t UnpackRows(const uint8_t* input, uint64_t size, uint8_t* data, uint32_t width, uint32_t height, uint32_t planes);

private:
    uint32_t LoadBody();
};
