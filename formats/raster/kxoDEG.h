// kxoDEG: Atari ST Degas pictures. Reads the uncompressed PI1, PI2 and PI3
// files (a resolution byte, 16 palette words and the 32000-byte screen in
// the ST's interleaved layout) and the PackBits-packed PC1, PC2 and PC3
// files (each plane row packed by itself), in the three ST resolutions, as
// bit planes with the 3-bit colour components scaled to 0..238. The
// colour-cycling data after the screen are not read.
// Refuses resolutions above 2 (15) and screens that end before the picture
// is complete (29); has no writer.
// Relies on the raster frame (byte reader, checked sizes) and the ByteRun1
// row decoder of the IFF layer.
#pragma once

#include "formats/raster/kxframe.h"

class kxoDEG : public KXObject {
public:
    explicit kxoDEG(KXClass* lib = nullptr);
    ~kxoDEG() override {
        kxoDEG::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override { return KXERR_NOTSUPPORTED; }
    KXF_FRAME_OPERATIONS(".DEG")

private:
    uint32_t ReadPicture();
};
