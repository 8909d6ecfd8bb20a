// kxpDepthRows: the row functions of the two depth conversions
// (kxpAnyTo24Bit, kxpAnyTo48Bit): palette lookup, HAM6/HAM8 decoding,
// 48-to-24 narrowing, 24-to-48 widening and the per-pixel alpha values;
// and the parts of their runs that differ only in sample width.
// 16-bit values widened from 8 bits hold the byte in both halves, so they
// read the same in either byte order.
#pragma once

#include <cstdint>
#include <cstring>

#include "kxlib.h"

namespace kxp_depth {

// The colour a HAM row holds; it runs on from row to row.
struct HamColour {
    uint8_t r = 0, g = 0, b = 0;
};

// Writes one 8-bit sample as 8 bits (Wide false) or as v * 257 (Wide true).
template <bool Wide>
inline uint8_t* Put(uint8_t* out, uint8_t v)
{
    out[0] = v;
    if constexpr (Wide) {
        out[1] = v;
        return out + 2;
    } else {
        return out + 1;
    }
}

template <bool Wide>
inline void PaletteRow(const uint8_t* in, uint8_t* out, uint32_t width, const uint8_t* palette)
{
    for (uint32_t x = 0; x < width; ++x) {
        const uint8_t* c = palette + 3 * in[x];
        out = Put<Wide>(out, c[0]);
        out = Put<Wide>(out, c[1]);
        out = Put<Wide>(out, c[2]);
    }
}

// HAM6: bits 5-4 select set-from-palette, blue, red or green; the 4-bit
// level is copied into both nibbles.
template <bool Wide>
inline void Ham6Row(const uint8_t* in, uint8_t* out, uint32_t width, const uint8_t* palette, HamColour& held)
{
    for (uint32_t x = 0; x < width; ++x) {
        const uint8_t d = in[x];
        const uint8_t level = static_cast<uint8_t>((d & 0x0F) * 17);
        switch (d & 0x30) {
        case 0x10: held.b = level; break;
        case 0x20: held.r = level; break;
        case 0x30: held.g = level; break;
        default: held = {palette[3 * d], palette[3 * d + 1], palette[3 * d + 2]}; break;
        }
        out = Put<Wide>(out, held.r);
        out = Put<Wide>(out, held.g);
        out = Put<Wide>(out, held.b);
    }
}

// HAM8: bits 7-6 select; the 6-bit level is only shifted (0x3F gives 0xFC).
template <bool Wide>
inline void Ham8Row(const uint8_t* in, uint8_t* out, uint32_t width, const uint8_t* palette, HamColour& held)
{
    for (uint32_t x = 0; x < width; ++x) {
        const uint8_t d = in[x];
        const uint8_t level = static_cast<uint8_t>((d & 0x3F) << 2);
        switch (d & 0xC0) {
        case 0x40: held.b = level; break;
        case 0x80: held.r = level; break;
        case 0xC0: held.g = level; break;
        default: held = {palette[3 * d], palette[3 * d + 1], palette[3 * d + 2]}; break;
        }
        out = Put<Wide>(out, held.r);
        out = Put<Wide>(out, held.g);
        out = Put<Wide>(out, held.b);
    }
}

// count 16-bit values, read in the given order, to 8 bits: value / 257
// with the remainder dropped (precise), else the high byte.
inline void Narrow16Row(const uint8_t* in, uint8_t* out, uint64_t count, bool precise, bool bigEndian)
{
    const unsigned hi = bigEndian ? 0 : 1;
    if (!precise) {
        for (uint64_t i = 0; i < count; ++i) out[i] = in[2 * i + hi];
        return;
    }
    for (uint64_t i = 0; i < count; ++i) {
        const uint32_t v = (uint32_t(in[2 * i + hi]) << 8) | in[2 * i + (1 - hi)];
        out[i] = static_cast<uint8_t>(v / 257);
    }
}

// count 8-bit values to v * 257.
inline void Widen8Row(const uint8_t* in, uint8_t* out, uint64_t count)
{
    for (uint64_t i = 0; i < count; ++i) {
        out[2 * i] = in[i];
        out[2 * i + 1] = in[i];
    }
}

// Alpha of a palette row: 0 on the key index, else opaque.
template <bool Wide>
inline void KeyAlphaRow(const uint8_t* in, uint8_t* out, uint32_t width, uint8_t key)
{
    for (uint32_t x = 0; x < width; ++x) out = Put<Wide>(out, in[x] == key ? 0 : 255);
}

// Alpha of a palette row from a 256-entry table.
template <bool Wide>
inline void TableAlphaRow(const uint8_t* in, uint8_t* out, uint32_t width, const uint8_t* table)
{
    for (uint32_t x = 0; x < width; ++x) out = Put<Wide>(out, table[in[x]]);
}

}  // namespace kxp_depth

namespace kxp_depth {

// The alpha kind a depth conversion turns into a map: what the source's
// AlphaData holds by the core's rule (kind 1, 2, 4 or 8; the index wins
// when several bits are set) in a record of version 3 or later; 0 (no map)
// for HAM and EHB pictures and for none.
inline uint32_t MappedAlphaKind(const KX_GfxBuffer* work, bool ham, bool ehb)
{
    if (ham || ehb) return 0;
    return KXSUP_AlphaHolds(work);
}

// The result's pixels are plain RGB: the HAM and EHB mode bits go (a mode
// of all bits set means none and stays as it is).
inline void DropModeBits(KX_GfxBuffer* result, bool ham, bool ehb)
{
    result->NativeDIPF = 0;
    if (result->ViewMode == KXVIEWMODE_NONE) return;
    if (ham) result->ViewMode &= ~uint32_t(KXVIEWMODE_HAM);
    if (ehb) result->ViewMode &= ~uint32_t(KXVIEWMODE_EHB);
}

// The result's pixel buffer. Without memory the alpha map already attached
// goes too, so the result holds no block of its own.
inline uint32_t AllocPixels(KX_GfxBuffer* result, uint32_t bytes)
{
    result->Data = static_cast<uint8_t*>(AllocVec(bytes, MEMF_ANY));
    if (result->Data) return KXERR_NONE;
    FreeVec(result->AlphaData);
    result->AlphaType = KXALPHA_NONE;
    result->AlphaData = nullptr;
    return KXERR_NOMEMORY;
}

// The rows of a HAM or palette picture as RGB of 8-bit samples (Wide
// false) or of byte x 257 (Wide true); a HAM depth other than 6 or 8 gives
// black. With a map, a key or table kind gives the alpha rows (alphaRow
// bytes apart), any other kind opaque rows. progress(y) runs before row y.
template <bool Wide, class Progress>
inline void IndexedRows(const KX_GfxBuffer* work, bool ham, uint32_t kind, uint8_t* out, uint8_t* alpha, size_t alphaRow, Progress progress)
{
    const uint32_t w = work->Width, h = work->Height, depth = work->ColorDepth;
    const size_t outRow = size_t(w) * (Wide ? 6 : 3);
    const uint8_t* in = work->Data;
    if (ham) {
        HamColour held;
        for (uint32_t y = 0; y < h; ++y) {
            progress(y);
            const uint8_t* row = in + size_t(y) * w;
            uint8_t* dst = out + outRow * y;
            if (depth == 6) Ham6Row<Wide>(row, dst, w, work->Palette, held);
            else if (depth == 8) Ham8Row<Wide>(row, dst, w, work->Palette, held);
            else std::memset(dst, 0, outRow);
        }
        return;
    }
    const auto* table = static_cast<const uint8_t*>(work->AlphaData);
    const uint8_t key = static_cast<uint8_t>(KXSUP_AlphaIndex(work));
    for (uint32_t y = 0; y < h; ++y) {
        progress(y);
        const uint8_t* row = in + size_t(y) * w;
        PaletteRow<Wide>(row, out + outRow * y, w, work->Palette);
        if (!alpha) continue;
        uint8_t* a = alpha + alphaRow * y;
        if (kind == KXALPHA_SINGLECOLOR) KeyAlphaRow<Wide>(row, a, w, key);
        else if (kind == KXALPHA_MULTICOLOR && table) TableAlphaRow<Wide>(row, a, w, table);
        else std::memset(a, 255, alphaRow);  // a palette picture's map kinds: opaque
    }
}

}  // namespace kxp_depth
