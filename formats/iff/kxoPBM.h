// kxoPBM: chunky palette images of 1-8 bits in FORM "PBM " (one pen number
// per pixel in BODY, rows padded to an even width), stored or ByteRun1,
// with CMAP, CAMG and the metadata chunk set. Written always with 8 planes.
#pragma once

#include "formats/iff/iff.h"

class kxoPBM : public KXIffBitmapModule {
public:
    explicit kxoPBM(KXClass* lib);
    ~kxoPBM() override {
        kxoPBM::Reset();
        FreeConfig();
    }

    uint32_t Save() override;
    uint32_t Load() override;

private:
    void InitOwn() override;
    void FreeWork() override;

    KX_GfxBuffer* ChunkyCopy = nullptr;  // chunky copy of a bit-plane image
};
