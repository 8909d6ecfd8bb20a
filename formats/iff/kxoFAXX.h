// kxoFAXX: fax pages in FORM "FAXX" (FXHD page header, optional GPHD, the
// metadata chunk set and one PAGE coded with the one-dimensional Modified
// Huffman code of ITU-T T.4), read into a one-plane black-and-white image.
// Read only.
#pragma once

#include "formats/iff/iff.h"

class kxoFAXX : public KXIffModule {
public:
    explicit kxoFAXX(KXClass* lib);
    ~kxoFAXX() override {
        kxoFAXX::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t Save() override;
    uint32_t Load() override;

private:
    void InitOwn() override;
    void LogLine(const char* text);

    uint8_t Fxhd[20] = {};
    uint8_t Gphd[60] = {};
    uint8_t* Page = nullptr;  // PAGE data while decoding
};
