// kxoCSRC: source-code dumps. Writes a chunky picture of up to 8 bits (with
// its palette and HAM flag) or of 24 bits (R, G, B bytes, or 32-bit values
// alpha + R << 8 + G << 16 + B << 24 when it has an alpha map) as data: a C
// file (sub-format 0), a Motorola 68000 assembler file with dc.b/dc.l and
// "$" numbers (1), or a GNU assembler file in .rodata with .byte/.long and
// "0x" numbers (2 and 3, the same text for PowerPC and x86).
// Save-only: CheckFile answers 0, Load gives 16. Refuses 48-bit pictures
// (16). Relies on the raster frame (byte writer, checked sizes, safe save).
#pragma once

#include "formats/raster/kxframe.h"

class kxoCSRC : public KXObject {
public:
    explicit kxoCSRC(KXClass* lib = nullptr);
    ~kxoCSRC() override {
        kxoCSRC::Reset();
        FreeConfig();
    }

    void Reset() override;
    uint32_t CheckFile(FILE* file, const char* name, int32_t mode) override;
    uint32_t Load() override;
    uint32_t Save() override;
    KXF_FRAME_OPERATIONS(".c")

private:
    uint32_t Prepare();
    bool WriteBody(KXByteWriter& w);

    char* RowText = nullptr;  // one pixel row as text (AllocVec)
};
