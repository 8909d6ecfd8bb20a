// kxoRGFX: the system's own lossless IFF image file (FORM "RGFX"), also the
// format of the undo files. Stores every kind of KX_GfxBuffer: bit planes or
// chunky pixels of 1-8, 24 or 48 bits, palette, display mode, transparent
// colour, alpha table or 8/16-bit alpha channel, the source flag bits and
// the metadata chunk set with RGFX's own chunks for the rest of the record
// (further texts, compression text, orientation, profile type, sRGB
// intent), so the undo files carry the whole record; body stored or
// deflated.
#pragma once

#include "formats/iff/iff.h"

class kxoRGFX : public KXIffModule {
public:
    explicit kxoRGFX(KXClass* lib);
    ~kxoRGFX() override {
        kxoRGFX::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t Save() override;
    uint32_t Load() override;

private:
    void InitOwn() override;
    // Forgets the records of the last file read.
    void ClearRecords();

    uint8_t Rghd[52] = {};
    uint8_t Rscm[12] = {};
    uint8_t Rcol[776] = {};
    uint8_t Rtrn[260] = {};
    bool RtrnRead = false;
    uint8_t Rflg[8] = {};
    uint8_t Rdip[4] = {};
    uint8_t* Interleaved = nullptr;    // A,R,G,B body made for saving alpha
    uint8_t* Body = nullptr;           // body read by Load, until handed over
    KX_GfxBuffer* ChunkyCopy = nullptr;  // SAVE_CHUNKY conversion
};
