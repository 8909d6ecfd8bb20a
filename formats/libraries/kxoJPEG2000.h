// kxoJPEG2000: JPEG 2000 on OpenJPEG, and PGX in a few lines of its own.
// Reads JP2 files (grey or sRGB colour space, or an ICC profile of grey or
// RGB), raw code streams (one component grey, two: the first as grey, three
// or more: the first three as RGB; a JP2 file with a profile likewise) and
// PGX files of unsigned samples of 1 to 32 bits; only the first three
// components are used and samples of more than 8 bits keep their low 8
// bits. Writes 24-bit and palette images as lossless three-component 8-bit
// JP2 files (one layer, the reversible transform, tiles of 1024 x 1024 for
// larger pictures) and as PGX files of 8-bit grey (30 R + 59 G + 11 B) / 100.
// No control-pad keys; the only metadata is a JP2 file's ICC profile, read
// when metadata is loaded. Relies on the format frame (checked sizes, safe
// save) and routes OpenJPEG's messages to the log. Refuses other colour
// spaces, signed or mismatched components (15) and depths other than 1-8
// and 24.
#pragma once

#include "formats/raster/kxframe.h"

class kxoJPEG2000 : public KXObject {
public:
    explicit kxoJPEG2000(KXClass* lib = nullptr);
    ~kxoJPEG2000() override;

    void Reset() override;
    uint32_t Save() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    KXF_FRAME_OPERATIONS(".JP2")

private:
    uint32_t loadOpenJpeg(bool rawCodeStream);
    uint32_t loadPgx();
    uint32_t saveJp2();
    uint32_t savePgx();
};
