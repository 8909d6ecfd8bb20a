// kxoEPS: Encapsulated PostScript. Writes 24-bit images as a level 2
// colorimage with hexadecimal or run-length encoded samples (SAVE_RLE),
// behind the 32-byte DOS EPS header unless NO_EPS_HEADER is present, placed
// on a page (SAVE_WIDTH x SAVE_HEIGHT points, SAVE_DPI, SAVE_CENTER,
// SAVE_ROTATE; wider-than-tall images are turned by 90 degrees). Reads DOS
// EPS files only (plain EPS is the PostScript module's): it copies out the
// PostScript section, which the PostScript module renders, or the TIFF
// preview, which the TIFF module loads (EXTRACTMODE=HEADER tries the
// preview first); when the chained reader fails the other section is tried
// once, and when that fails too its code is returned. A section must lie
// within the file (29), a preview within the size limit (3). Refuses
// palette and 48-bit images (20).
// Relies on the converter helpers (kxconvert), the raster frame's safe
// save, and the TIFF and PostScript modules.
#pragma once

#include "formats/libraries/kxconvert.h"

class kxoEPS : public KXObject {
public:
    explicit kxoEPS(KXClass* lib = nullptr);
    ~kxoEPS() override {
        kxoEPS::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".EPS")

    // The extracted section while its reader runs.
    KXConvFile Section;

private:
    uint32_t extract(bool tiff, bool* extracted);
};
