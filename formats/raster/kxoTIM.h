// kxoTIM: PlayStation TIM textures. Reads 4- and 8-bit pictures with a
// colour lookup table (its first 16 or 256 entries) as palette pictures and
// 15- and 24-bit direct colour as 24-bit pictures; rows are W 16-bit units,
// so a 24-bit row holds 2W / 3 pixels. Bit 15 of a colour (the
// semi-transparency flag) is not kept.
// Refuses other ids and modes (15) and image data shorter than the picture
// (29); has no writer.
// Relies on the raster frame (byte reader, checked sizes).
#pragma once

#include "formats/raster/kxframe.h"

class kxoTIM : public KXObject {
public:
    explicit kxoTIM(KXClass* lib = nullptr);
    ~kxoTIM() override {
        kxoTIM::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override { return KXERR_NOTSUPPORTED; }
    KXF_FRAME_OPERATIONS(".TIM")

private:
    uint32_t LoadBody();
};
