// kxoILBM: interleaved bitmaps (FORM "ILBM"): palette images of 1-8 planes
// with CMAP and CAMG (HAM and EHB included), a transparent colour or a mask
// plane, and deep images of 24/32 and 48/64 planes (alpha in the extra
// planes or in the private ALPH chunk); uncompressed or ByteRun1.
#pragma once

#include "formats/iff/iff.h"

class kxoILBM : public KXIffBitmapModule {
public:
    explicit kxoILBM(KXClass* lib);
    ~kxoILBM() override {
        kxoILBM::Reset();
        FreeConfig();
    }

    uint32_t Save() override;
    uint32_t Load() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;

private:
    void InitOwn() override;
    void FreeWork() override;
    // ALPH: the alpha map of a 24-plane picture.
    void ReadOtherChunk(IffChunk* chunk) override;

    uint8_t* Alph = nullptr;        // ALPH data behind its 8-byte header
    uint32_t AlphSize = 0;
    uint8_t* Packed = nullptr;      // packed BODY or ALPH while saving
    KX_GfxBuffer* PlaneCopy = nullptr;  // bit-plane copy of a chunky palette image
};

// One sample channel of a deep image <-> its 8 or 16 planes, one row,
// through 8x8 bit transposes. planes: `bits` plane rows of bytesPerRow
// bytes, plane k holding bit k of the channel, leftmost pixel in bit 7.
// values: the channel of pixel 0, then every `stride` bytes; 16-bit values
// big-endian when bigEndian, else in host order.
void ilbmPlanesToChannel(const uint8_t* planes, uint32_t bytesPerRow, uint32_t width, uint32_t bits, uint8_t* values, uint32_t stride, bool bigEndian);
void ilbmChannelToPlanes(const uint8_t* values, uint32_t stride, uint32_t width, uint32_t bits, bool bigEndian, uint8_t* planes, uint32_t bytesPerRow);
