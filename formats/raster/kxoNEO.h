// kxoNEO: NEOchrome pictures of the Atari ST, read only. A 128-byte header
// (flag 0, resolution 0, 1 or 2, sixteen 0x0RGB palette words, width 0 or
// 320, height 0 or 200) and 32000 bytes of interleaved bit planes, loaded
// as 320 x 200 x 4, 640 x 200 x 2 or 640 x 400 x 1 bit planes. A short file
// (17104 bytes) leaves the rows it lacks at 0. Recognised by its size
// (32128 or 17104) and the ending .neo.
// Refuses other flags, resolutions and sizes in the header (15). Save
// answers 16.
// Relies on the raster frame (byte reader, checked sizes).
#pragma once

#include "formats/raster/kxframe.h"

class kxoNEO : public KXObject {
public:
    explicit kxoNEO(KXClass* lib = nullptr);
    ~kxoNEO() override {
        kxoNEO::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override { return KXERR_NOTSUPPORTED; }
    KXF_FRAME_OPERATIONS(".neo")

private:
    uint32_t LoadBody();
};
