// kxoPCD: Kodak Photo CD image packs. Recognises files named "*.pcd" whose
// first 4096 bytes hold the signature "PCD_IPI". Decodes the three
// resolutions stored without compression (Base/16 192 x 128, Base/4
// 384 x 256, Base 768 x 512) itself, from PhotoYCC into 24-bit RGB, in the
// orientation stored. The larger ones (OUTPUTFORMAT BASE*4 and up), and
// every one with EXTERNAL_DECODER=ALWAYS, go to the converter (P2J_PATH,
// default our own pcdtojpeg), whose JPEG the JPEG module loads; ours
// decodes up to Base and refuses the residual-coded resolutions, which then
// give 32. Writes nothing.
// Relies on the converter helpers (kxconvert) and the JPEG module.
#pragma once

#include "formats/libraries/kxconvert.h"

// Decodes resolution res (0 Base/16, 1 Base/4, 2 Base) of an open Photo CD
// file into a new 24-bit buffer (version 2, view mode 0) owned by the
// caller. progress, when given, receives the row progress. 29 when the
// file ends before the resolution's data, 3 for memory, 15 for another res.
uint32_t KXPCD_Decode(FILE* file, uint32_t res, KX_GfxBuffer** out, KXObject* progress);

class kxoPCD : public KXObject {
public:
    explicit kxoPCD(KXClass* lib = nullptr);
    ~kxoPCD() override {
        kxoPCD::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    KXF_FRAME_OPERATIONS(".PCD")

    // The resolution index of OUTPUTFORMAT: 1 Base/16 ... 6 Base*64.
    uint32_t Resolution();

    // The converter's JPEG of the last conversion; deleted at Reset.
    KXConvFile Output;

private:
    uint32_t convert(uint32_t resolution);
};
