// kxpTone: the shared run of the point operators (XOr, FlipNibbles,
// Negate, Complement, Gamma, Contrast, Brightness, ColorCycle and the
// channel operators), which change every sample by itself. A palette
// picture is changed through its palette (or, for XOr, through its
// indices), a true-colour picture sample by sample through one table per
// channel: 256 entries for 8-bit samples, 65536 for 16-bit samples, or a
// plain XOR pattern where the rule is one. The 8-bit alpha map is copied
// to a true-colour result, palette transparency carried where the
// operator keeps it.
#pragma once

#include <cstdint>
#include <vector>

#include "operators/kxpFrame.h"

// What differs among the operators' runs.
struct KXPToneRules {
    bool HostOrder = true;          // 48-bit samples are made host-ordered first
    bool HamAfterPlanes = false;    // bit planes are converted before the HAM test
    bool CarryTransparency = true;  // a transparent index or alpha table is kept
    bool MarkOrder = true;          // a 48-bit result carries its byte-order mark
    uint32_t Carried = KXGFXF_GRAY; // flag bits carried from the source
    bool Progress = true;           // 24- and 48-bit rows report progress
    bool PixelProgress = false;     // ... before every 512th pixel instead of every 8th row
    bool ExactSize = false;         // buffer size of exactly the rows, PixelBits set
};

// The rule of one run, filled by the operator after the input checks.
struct KXPToneTables {
    // Palette path: entries 0 to PaletteEntries - 1 go through Lut8, one
    // table per component; with IndexLut the pixels go through Lut8[0]
    // instead and the palette stays.
    uint32_t PaletteEntries = 0;
    bool IndexLut = false;
    // 24-bit samples and palette components, per channel.
    uint8_t Lut8[3][256] = {};
    // 48-bit samples, per channel, read as little-endian words; the
    // operator owns the tables (Table16 makes them).
    const uint16_t* Lut16[3] = {};
    // Rows by XOR instead: every byte with Xor8 (24 bits), every
    // little-endian word with Xor16 (48 bits).
    bool XorRows = false;
    uint8_t Xor8 = 0;
    uint16_t Xor16 = 0;
    // Channel permutation of the palette and the samples (ColorCycle):
    // result channel c takes source channel Order[c]; applied after the tables.
    uint8_t Order[3] = {0, 1, 2};

    // A 65536-entry table f(w) for the channels of mask bits 1 (red),
    // 2 (green), 4 (blue); at most three per run.
    template <class F>
    void Table16(uint32_t channels, F f)
    {
        if (Store16.capacity() < 3 * 65536) Store16.reserve(3 * 65536);
        const size_t base = Store16.size();
        if (base >= 3 * 65536) return;
        Store16.resize(base + 65536);  // within the reserve: earlier tables stay put
        uint16_t* t = Store16.data() + base;
        for (uint32_t w = 0; w < 65536; ++w) t[w] = static_cast<uint16_t>(f(w));
        for (uint32_t c = 0; c < 3; ++c)
            if (channels & (1u << c)) Lut16[c] = t;
    }
    // The same 8-bit table for all three channels.
    template <class F>
    void Table8(F f)
    {
        for (uint32_t v = 0; v < 256; ++v) Lut8[0][v] = Lut8[1][v] = Lut8[2][v] = static_cast<uint8_t>(f(v));
    }

private:
    std::vector<uint16_t> Store16;
};

class kxpTone : public kxpFrame {
protected:
    kxpTone(KXClass* lib, const char* className) : kxpFrame(lib, className) {}

    // Input family A, the 48-bit byte-order step, the 8-bit alpha map and a
    // result record copied from the work image (pixels not yet written).
    uint32_t ToneBegin(KX_GfxBuffer* source, KX_GfxBuffer** result, KX_GfxBuffer** work, const KXPToneRules& rules);
    // Writes the result's pixels and palette by the tables, attaches the
    // alpha, marks the result and hands it out.
    uint32_t ToneFinish(KX_GfxBuffer* source, KX_GfxBuffer* work, KX_GfxBuffer** result, const KXPToneRules& rules,
                        const KXPToneTables& tables);
};
