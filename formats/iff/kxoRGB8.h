// kxoRGB8: true-colour run-length IFF forms: reads FORM "RGB8" (8 bits a
// channel) and FORM "RGBN" (4 bits a channel), whose genlock bit becomes an
// 8-bit alpha map; writes FORM "RGB8" from 24-bit chunky images, an alpha
// map turning into genlock bits (alpha 0 is transparent).
#pragma once

#include "formats/iff/iff.h"

class kxoRGB8 : public KXIffModule {
public:
    explicit kxoRGB8(KXClass* lib);
    ~kxoRGB8() override {
        kxoRGB8::Reset();
        FreeConfig();
    }

    uint32_t Save() override;
    uint32_t Load() override;

private:
    void InitOwn() override;
    void FreeWork() override;
    void LogLine(const char* text);

    uint8_t* Body = nullptr;  // BODY as read, or the records made for saving
    uint32_t RecordBits = 8;  // 4 (RGBN records) or 8 (RGB8 records)
};

