// kxoQRT: QRT ray-tracer pictures: width and height as 16-bit little-endian
// numbers, then for every row a 2-byte prefix (the row number) and the red,
// green and blue bytes of the row, each a plane line. Reads and writes
// 24-bit pictures. A file is exactly as long as its rows: that is how it is
// recognised.
// Refuses a file of another length (15); on save, depths other than 24 (20)
// and pictures wider or taller than 65535 pixels (15).
// Relies on the raster frame (byte reader and writer, checked sizes, safe
// save) and the plane moves of kxplanes.
#pragma once

#include "formats/raster/kxframe.h"

class kxoQRT : public KXObject {
public:
    explicit kxoQRT(KXClass* lib = nullptr);
    ~kxoQRT() override {
        kxoQRT::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".QRT")

private:
    uint32_t LoadBody();
    // Before the row with `left` rows after it: (height - left) x 100 /
    // height on every 8th of those counts, so the last row reports 100.
    void RowProgress(uint32_t left, uint32_t height);
};
