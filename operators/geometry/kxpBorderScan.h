// kxpBorderScan: the frame scan that AutoBorder and ReplaceBorder share.
// The frame colour is the top-left pixel; a pixel matches only when all its
// bytes are equal (no tolerance, so two indices of one colour differ, and
// 48-bit samples compare alike in either byte order). Left and right
// margins are the smallest runs of matching pixels over all rows, top and
// bottom margins the wholly matching rows at either end. A uniform picture
// has no frame at all, so a cut never leaves an empty picture.
#pragma once

#include <cstdint>
#include <cstring>

#include "kxlib.h"

struct KXPBorder {
    uint32_t Left = 0, Right = 0, Top = 0, Bottom = 0;
    bool Uniform = false;
};

namespace kxp_border {

template <unsigned B>
inline bool Same(const uint8_t* a, const uint8_t* b)
{
    return std::memcmp(a, b, B) == 0;
}

// Matching pixels from the start of the row, counting no further than cap.
template <unsigned B>
inline uint32_t LeftRun(const uint8_t* row, const uint8_t* colour, uint32_t cap)
{
    uint32_t n = 0;
    while (n < cap && Same<B>(row + static_cast<size_t>(n) * B, colour)) n++;
    return n;
}

template <unsigned B>
inline uint32_t RightRun(const uint8_t* row, uint32_t width, const uint8_t* colour, uint32_t cap)
{
    uint32_t n = 0;
    while (n < cap && Same<B>(row + static_cast<size_t>(width - 1 - n) * B, colour)) n++;
    return n;
}

template <unsigned B>
KXPBorder Scan(const uint8_t* data, uint32_t w, uint32_t h)
{
    KXPBorder b;
    uint8_t colour[B];
    std::memcpy(colour, data, B);
    const size_t rowBytes = static_cast<size_t>(w) * B;
    auto full = [&](uint32_t y) { return LeftRun<B>(data + rowBytes * y, colour, w) == w; };
    while (b.Top < h && full(b.Top)) b.Top++;
    if (b.Top == h) {
        b.Top = 0;
        b.Uniform = true;
        return b;
    }
    // Row Top does not match wholly, so the bottom count stops above it.
    while (full(h - 1 - b.Bottom)) b.Bottom++;
    // Rows above Top and below the bottom margin match wholly: their runs
    // are the width and never lower the minimum.
    b.Left = b.Right = w;
    for (uint32_t y = b.Top; y < h - b.Bottom && (b.Left || b.Right); y++) {
        const uint8_t* row = data + rowBytes * y;
        b.Left = LeftRun<B>(row, colour, b.Left);
        b.Right = RightRun<B>(row, w, colour, b.Right);
    }
    return b;
}

}  // namespace kxp_border

// The frame of a chunky work image of 1-, 3- or 6-byte pixels.
inline KXPBorder KXP_ScanBorder(const KX_GfxBuffer* work)
{
    const uint32_t bpp = work->ColorDepth <= 8 ? 1u : work->ColorDepth == 24 ? 3u : 6u;
    switch (bpp) {
    case 1: return kxp_border::Scan<1>(work->Data, work->Width, work->Height);
    case 3: return kxp_border::Scan<3>(work->Data, work->Width, work->Height);
    default: return kxp_border::Scan<6>(work->Data, work->Width, work->Height);
    }
}
