// kxoSCR: ZX Spectrum screens, read only. The 6912 bytes of display memory
// (a 6144-byte bitmap in the Spectrum's line order and 768 attribute bytes
// of ink, paper and bright; flash ignored), bare (.scr, .zx), behind a
// header of 9, 12 or 17 bytes (.zx, .$c) or in a tape image (.tap, sub-
// format "(TAP)"), loaded as 256 x 192 in 4 bit planes with the Spectrum's
// 16 colours. Recognised by size and name ending only.
// Refuses other sizes (15). Save answers 16.
// Relies on the raster frame (byte reader, checked sizes).
#pragma once

#include "formats/raster/kxframe.h"

class kxoSCR : public KXObject {
public:
    explicit kxoSCR(KXClass* lib = nullptr);
    ~kxoSCR() override {
        kxoSCR::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override { return KXERR_NOTSUPPORTED; }
    KXF_FRAME_OPERATIONS(".SCR")

private:
    uint32_t LoadBody();
};
