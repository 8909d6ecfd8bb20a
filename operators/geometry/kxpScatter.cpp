// kxpScatter: shifts every other line by SCATTERFACTOR pixels (atol,
// default 16; a factor not below the line length, compared unsigned, so
// that a negative one counts as large, becomes half the length). Lines are
// rows with SCATTERMODE "X_AXIS" (the default): rows 1, 3, 5, ... move
// right, their first pixels repeated on the left. With "Y_AXIS" they are
// columns, counted from the right edge: the second, fourth, ... column from
// the right moves down, its top pixels repeated above. Any depth (bit
// planes as a chunky copy, HAM refused); 48-bit input is made host-ordered.
// An 8-bit alpha map is scattered with the pixels; palette transparency
// and the grey, 8-bit-source and low-depth flags are kept.
#include "kxpScatter.h"

#include <cstring>

#include "kxpBands.h"

namespace {

struct Shift {
    bool Columns;
    uint32_t Factor;
};

// Scatters a w x h picture of bpp-byte pixels; tick(y) runs before row y.
template <class Tick>
void ScatterImage(uint8_t* dst, const uint8_t* src, uint32_t w, uint32_t h, uint32_t bpp, Shift s, Tick&& tick)
{
    const size_t rowBytes = static_cast<size_t>(w) * bpp, fBytes = static_cast<size_t>(s.Factor) * bpp;
    for (uint32_t y = 0; y < h; y++) {
        tick(y);
        uint8_t* d = dst + rowBytes * y;
        const uint8_t* in = src + rowBytes * y;
        if (!s.Columns) {
            if (y & 1) {
                std::memcpy(d, in, fBytes);
                std::memcpy(d + fBytes, in, rowBytes - fBytes);
            } else {
                std::memcpy(d, in, rowBytes);
            }
            continue;
        }
        std::memcpy(d, in, rowBytes);
        if (y < s.Factor) continue;
        // The columns at an odd distance from the right edge take the pixel
        // Factor rows above.
        const uint8_t* up = src + rowBytes * (y - s.Factor);
        for (size_t x = w % 2 ? 1 : 0; x < w; x += 2) std::memcpy(d + x * bpp, up + x * bpp, bpp);
    }
}

}  // namespace

uint32_t kxpScatter::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputAnyDepth(source, result, &work);
    if (!err) err = MakeHostOrder(work);
    if (!err) err = FetchAlphaMap8(work);
    if (!err) err = NewSameSizeResult(work);
    if (err) return err;

    KXPKeyReader keys(this, false);
    static const char* const modes[] = {"X_AXIS", "Y_AXIS"};
    Shift s{keys.Word("SCATTERMODE", modes, 2, 0) == 1, keys.ULong("SCATTERFACTOR", 16)};
    KX_GfxBuffer* r = Result;
    const uint32_t w = work->Width, h = work->Height, bpp = KXP_BytesPerPixel(work);
    const uint32_t length = s.Columns ? h : w;
    if (s.Factor >= length) s.Factor = length / 2;

    // Progress counts lines: rows, or columns as the rows advance.
    const uint32_t lines = s.Columns ? w : h;
    kxp_bands::Ticker ticker(0, lines, 8, [this, lines](uint64_t line) { RowProgress(line, lines); });
    ScatterImage(r->Data, work->Data, w, h, bpp, s, [&](uint32_t y) { ticker.At(y, h); });
    if (AlphaMap8) {
        auto* map = static_cast<uint8_t*>(AllocVec(static_cast<size_t>(w) * h, MEMF_ANY));
        if (!map) return KXERR_NOMEMORY;
        ScatterImage(map, AlphaMap8, w, h, 1, s, [](uint32_t) {});
        AttachAlphaMap(r, map);
    } else if ((err = CarryAlpha(r, work))) {
        return err;
    }
    MarkResult(r, work, source, CarryAll);
    *result = r;
    return KXERR_NONE;
}
