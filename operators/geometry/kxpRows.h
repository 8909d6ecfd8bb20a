// kxpRows: row primitives the geometry operators share: reversing a row
// of 1-, 3- or 6-byte pixels and filling a row with one pixel value.
// Pixels are moved as bytes, so 48-bit samples keep their byte order.
#pragma once

#include <cstdint>
#include <cstring>

namespace kxp_rows {

template <unsigned B>
inline void ReverseRowT(uint8_t* dst, const uint8_t* src, uint32_t width)
{
    const uint8_t* s = src + static_cast<size_t>(width) * B;
    for (uint32_t x = 0; x < width; x++) {
        s -= B;
        std::memcpy(dst, s, B);
        dst += B;
    }
}

// dst and src must not overlap.
inline void ReverseRow(uint8_t* dst, const uint8_t* src, uint32_t width, uint32_t bpp)
{
    switch (bpp) {
    case 1: ReverseRowT<1>(dst, src, width); break;
    case 3: ReverseRowT<3>(dst, src, width); break;
    default: ReverseRowT<6>(dst, src, width); break;
    }
}

// Fills count pixels with the pixel value held in pixel[0..bpp).
inline void FillPixels(uint8_t* dst, const uint8_t* pixel, uint64_t count, uint32_t bpp)
{
    if (!count) return;
    if (bpp == 1) {
        std::memset(dst, pixel[0], count);
        return;
    }
    std::memcpy(dst, pixel, bpp);
    // Doubling copies: few calls for long rows.
    uint64_t done = 1;
    while (done < count) {
        uint64_t n = done <= count - done ? done : count - done;
        std::memcpy(dst + done * bpp, dst, n * bpp);
        done += n;
    }
}

}  // namespace kxp_rows
