// kxoQL: Sinclair QL screen dumps, read only. Files without a header whose
// size gives the geometry: 512 x 256 (32768 bytes), and with the key
// EXOTIC_FORMATS the nine larger screens of the QL's successors. Reads the
// 4-colour mode (sub-format "QL4") and the 8-colour mode ("QL8", flash bits
// ignored, each pixel doubled); QL_MODE or the name's ending (.ql4) picks
// the mode. Recognised only by size and a name ending in .ql, .ql4 or .ql8.
// Refuses other sizes (15). Save answers 16.
// Relies on the raster frame (byte reader, checked sizes).
#pragma once

#include "formats/raster/kxframe.h"

class kxoQL : public KXObject {
public:
    explicit kxoQL(KXClass* lib = nullptr);
    ~kxoQL() override {
        kxoQL::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override { return KXERR_NOTSUPPORTED; }
    KXF_FRAME_OPERATIONS(".scr")

private:
    uint32_t LoadBody();
};
