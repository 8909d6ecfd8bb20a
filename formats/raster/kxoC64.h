// kxoC64: Commodore 64 pictures, read only: Koala multicolour (10003 bytes,
// load address 0x6000), Doodle high resolution (9201 to 9229 bytes, 0x5C00),
// GEOS paint documents in the 254-byte-block file form (.geo; compressed
// records of 16 lines of 640 pixels with a colour byte per card, up to 720
// lines) and GODOT 16-colour pictures (.4bt, "GOD0" and a run-length
// stream). Every picture becomes one byte a pixel in 16 colours, 320 x 200
// or, for GEOS, 640 pixels wide.
// Koala and Doodle parts that a short file lacks stay 0; a GODOT stream
// that ends early leaves its remaining pixels 0; GEOS items never read past
// the picture data, and data that make no line give 29. Save answers 16.
// Relies on the raster frame (byte reader, checked sizes).
#pragma once

#include "formats/raster/kxframe.h"

class kxoC64 : public KXObject {
public:
    explicit kxoC64(KXClass* lib = nullptr);
    ~kxoC64() override {
        kxoC64::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override { return KXERR_NOTSUPPORTED; }
    KXF_FRAME_OPERATIONS(".C64")

private:
    uint32_t LoadBody();
    uint32_t LoadKoala(KXByteReader& r);
    uint32_t LoadDoodle(KXByteReader& r);
    uint32_t LoadGodot(KXByteReader& r);
    uint32_t LoadGeos(KXByteReader& r);
};
