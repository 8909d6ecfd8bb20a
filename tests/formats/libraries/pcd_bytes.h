// Photo CD image packs made in the tests: the signature of the image pack
// information at 2048 and the three small resolutions at their offsets,
// each row pair as the luma of both rows and then C1 and C2 per 2 x 2
// block; and PhotoYCC to RGB in floating point as the reference.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace pcdtest {

struct Resolution {
    uint32_t offset, width, height;
};
constexpr Resolution kResolutions[3] = {{8192, 192, 128}, {47104, 384, 256}, {196608, 768, 512}};
// Through the end of Base.
constexpr size_t kPackSize = 196608 + 768 * 512 * 3 / 2;

struct Ycc {
    uint8_t y, c1, c2;
};
// res 0..2, pixel (x, y); chroma is taken at the even pixel of each block.
using Picture = std::function<Ycc(uint32_t res, uint32_t x, uint32_t y)>;

inline std::vector<uint8_t> MakePack(const Picture& picture, size_t size = kPackSize) {
    std::vector<uint8_t> pack(kPackSize, 0);
    memcpy(&pack[2048], "PCD_IPI", 7);
    pack[2055] = 1;  // the IPI version follows the signature
    for (uint32_t r = 0; r < 3; ++r) {
        const Resolution& l = kResolutions[r];
        uint8_t* p = &pack[l.offset];
        for (uint32_t y = 0; y < l.height; y += 2) {
            for (uint32_t row = 0; row < 2; ++row)
                for (uint32_t x = 0; x < l.width; ++x) *p++ = picture(r, x, y + row).y;
            for (uint32_t x = 0; x < l.width; x += 2) *p++ = picture(r, x, y).c1;
            for (uint32_t x = 0; x < l.width; x += 2) *p++ = picture(r, x, y).c2;
        }
    }
    pack.resize(size);
    return pack;
}

// PhotoYCC to RGB with the module's coefficients, in floating point.
inline void ToRgb(Ycc v, int rgb[3]) {
    const double l = 1.3584 * v.y, c1 = v.c1 - 156.0, c2 = v.c2 - 137.0;
    const double f[3] = {l + 1.8215 * c2, l - 0.4303 * c1 - 0.9271 * c2, l + 2.2179 * c1};
    for (int i = 0; i < 3; ++i) rgb[i] = f[i] < 0 ? 0 : f[i] > 255 ? 255 : (int)std::floor(f[i]);
}

// A picture whose luma and chroma change from pixel to pixel and block to
// block, so that any mix-up of rows, columns, planes or blocks shows.
inline Ycc Busy(uint32_t res, uint32_t x, uint32_t y) {
    return {(uint8_t)((x * 37 + y * 101 + res * 7) % 189), (uint8_t)(100 + (x / 2 * 7 + res) % 113),
            (uint8_t)(90 + (y / 2 * 11 + x / 2 * 3) % 97)};
}

// A picture of gentle gradients, for comparisons through lossy JPEG.
inline Ycc Smooth(uint32_t, uint32_t x, uint32_t y) {
    return {(uint8_t)(20 + (x / 3 + y / 2) % 150), (uint8_t)(120 + x / 8 % 60), (uint8_t)(110 + y / 8 % 60)};
}

}  // namespace pcdtest
