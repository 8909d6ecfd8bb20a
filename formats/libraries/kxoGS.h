// kxoGS: PostScript and PDF through Ghostscript. Recognises files that
// begin with "%!PS-Adobe" or "%PDF-", and files whose first byte is "%" and
// whose name ends in ".ps" or ".pdf". Load runs the interpreter (GS_PATH,
// default "gs") at DPI (default 72) into a 24-bit PNG file in the
// temporary directory and loads that with a PNG reader at its built-in
// settings; the first page is what the PNG reader sees. Writes nothing.
// Relies on the converter helpers (kxconvert) and the PNG module.
#pragma once

#include "formats/libraries/kxconvert.h"

class kxoGS : public KXObject {
public:
    explicit kxoGS(KXClass* lib = nullptr);
    ~kxoGS() override {
        kxoGS::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    KXF_FRAME_OPERATIONS(".GS")

    // The rendered PNG of the last conversion; deleted at Reset.
    KXConvFile Output;
};
