// kxoDEEP: true-colour FORM "DEEP" whose pixel is a list of elements (red,
// green, blue and optionally alpha) of 8 or 16 bits. Reads uncompressed,
// run-length (RLE) and nibble-delta (TVDC) bodies of 24 or 48 bits with or
// without alpha; writes uncompressed 24- or 48-bit bodies with or without
// alpha.
#pragma once

#include "formats/iff/iff.h"

class kxoDEEP : public KXIffModule {
public:
    explicit kxoDEEP(KXClass* lib);
    ~kxoDEEP() override {
        kxoDEEP::Reset();
        FreeConfig();
    }

    uint32_t Save() override;
    uint32_t Load() override;

private:
    void InitOwn() override;
    void FreeWork() override;
    void LogLine(const char* text);

    uint8_t Dgbl[8] = {};
    uint8_t Dpel[256] = {};
    uint8_t Dloc[8] = {};
    uint8_t Dchg[4] = {};
    int16_t Tvdc[16] = {};
    uint32_t TvdcSize = 0;      // size of the TVDC chunk read (0: none)
    uint8_t* Body = nullptr;    // DBOD as read
    uint8_t* Row = nullptr;     // work row while saving or decoding
};

