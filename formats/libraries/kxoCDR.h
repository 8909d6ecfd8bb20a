// kxoCDR: CorelDRAW drawings by their preview bitmap. Recognises RIFF files
// of a form type beginning "CDR" whose first chunk is "vrsn" and whose
// second is "DISP". Load copies the DISP chunk's device-independent bitmap
// into a BMP file in the temporary directory and loads that with a BMP
// module; the drawing itself is not rendered. A DISP chunk must hold at
// least its 4 unused bytes and a 40-byte bitmap header (14) and lie within
// the file (29); before the BMP file is written the preview's picture must
// be within the size limit (3, or 15 beyond 32 bits) and its uncompressed
// rows inside the chunk (29). Writes nothing.
// Relies on the converter helpers (kxconvert), the byte reader and the BMP
// module.
#pragma once

#include "formats/libraries/kxconvert.h"

class kxoCDR : public KXObject {
public:
    explicit kxoCDR(KXClass* lib = nullptr);
    ~kxoCDR() override {
        kxoCDR::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    KXF_FRAME_OPERATIONS(".cdr")

    // The preview as a BMP file; deleted at Reset.
    KXConvFile Output;

private:
    uint32_t extract();
};
