// kxpRotate: turns an image by a right angle. DEGREES "90" (the default,
// and any text it does not know) turns a quarter counter-clockwise: the
// top row of the result is the source's right column read downwards;
// "270" turns a quarter clockwise and "180" half round. Any depth (bit
// planes as a chunky copy, HAM refused); samples are moved unchanged in
// their byte order; an 8-bit alpha map is turned with them.
#include "kxpRotate.h"

#include <cstring>

#include "kxpRows.h"

namespace {

// Quarter turns go through bands of Band<B> source columns (result rows):
// each source row gives Band<B> neighbouring pixels, written to Band<B>
// result rows that are filled front to back, so both sides stay in cache.
// A band a few cache lines wide uses each source line it touches fully
// before moving on, while its result rows stay within the cache and the
// address-translation cache; 8-bit rows do best with narrow bands.
template <unsigned B>
constexpr uint32_t Band = B == 1 ? 8 : B == 3 ? 64 : 32;

// result (x, y) = source (W-1-y, x) when counterClockwise, else (y, H-1-x).
// Turns source columns [c0, c0+cols): each source row, read left to right,
// gives one pixel to each of the band's result rows.
template <unsigned B>
void QuarterBand(uint8_t* dst, const uint8_t* src, uint32_t w, uint32_t h, uint32_t c0, uint32_t cols, bool counterClockwise)
{
    const size_t srcRow = static_cast<size_t>(w) * B, dstRow = static_cast<size_t>(h) * B;
    if (counterClockwise) {
        // Result row w-1-c holds source column c; result column x is source row x.
        for (uint32_t x = 0; x < h; x++) {
            const uint8_t* s = src + srcRow * x + static_cast<size_t>(c0) * B;
            uint8_t* d = dst + dstRow * (w - 1 - c0) + static_cast<size_t>(x) * B;
            for (uint32_t c = 0; c < cols; c++, s += B, d -= dstRow) std::memcpy(d, s, B);
        }
    } else {
        // Result row c holds source column c read from the bottom.
        for (uint32_t x = 0; x < h; x++) {
            const uint8_t* s = src + srcRow * (h - 1 - x) + static_cast<size_t>(c0) * B;
            uint8_t* d = dst + dstRow * c0 + static_cast<size_t>(x) * B;
            for (uint32_t c = 0; c < cols; c++, s += B, d += dstRow) std::memcpy(d, s, B);
        }
    }
}

uint32_t BandFor(uint32_t bpp) { return bpp == 1 ? Band<1> : bpp == 3 ? Band<3> : Band<6>; }

void QuarterBandBpp(uint8_t* dst, const uint8_t* src, uint32_t w, uint32_t h, uint32_t bpp, uint32_t c0, uint32_t cols, bool ccw)
{
    switch (bpp) {
    case 1: QuarterBand<1>(dst, src, w, h, c0, cols, ccw); break;
    case 3: QuarterBand<3>(dst, src, w, h, c0, cols, ccw); break;
    default: QuarterBand<6>(dst, src, w, h, c0, cols, ccw); break;
    }
}

}  // namespace

uint32_t kxpRotate::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputWithAlpha(source, result, &work);
    if (!err) err = NewResult(work);
    if (err) return err;

    static const char* const angles[] = {"90", "180", "270"};
    const int angle = KXPKeyReader(this, false).Word("DEGREES", angles, 3, 0);

    KX_GfxBuffer* r = Result;
    r->Version = 1;
    const uint32_t w = work->Width, h = work->Height, bpp = KXP_BytesPerPixel(work);
    r->Data = static_cast<uint8_t*>(AllocVec(work->BufferSize, MEMF_ANY));
    if (!r->Data) return KXERR_NOMEMORY;
    const size_t used = static_cast<size_t>(w) * h * bpp;
    if (work->BufferSize > used) std::memset(r->Data + used, 0, work->BufferSize - used);

    uint8_t* map = nullptr;
    if (AlphaMap8 && !(map = static_cast<uint8_t*>(AllocVec(static_cast<size_t>(w) * h, MEMF_ANY)))) return KXERR_NOMEMORY;

    if (angle == 1) {
        const size_t rowBytes = static_cast<size_t>(w) * bpp;
        for (uint32_t y = 0; y < h; y++) {
            RowProgress(y, h);
            kxp_rows::ReverseRow(r->Data + rowBytes * y, work->Data + rowBytes * (h - 1 - y), w, bpp);
        }
        if (map)
            for (uint32_t y = 0; y < h; y++) kxp_rows::ReverseRow(map + static_cast<size_t>(w) * y, AlphaMap8 + static_cast<size_t>(w) * (h - 1 - y), w, 1);
    } else {
        const bool ccw = angle == 0;
        r->Width = h;
        r->Height = w;
        // Progress runs over the source columns (before every 8th); the
        // map goes in 8-bit bands of its own.
        const uint32_t band = BandFor(bpp);
        for (uint32_t y0 = 0; y0 < w; y0 += band) {
            const uint32_t rows = w - y0 < band ? w - y0 : band;
            for (uint32_t y = y0; y < y0 + rows; y++) RowProgress(y, w);
            QuarterBandBpp(r->Data, work->Data, w, h, bpp, y0, rows, ccw);
        }
        if (map)
            for (uint32_t y0 = 0; y0 < w; y0 += Band<1>) QuarterBandBpp(map, AlphaMap8, w, h, 1, y0, w - y0 < Band<1> ? w - y0 : Band<1>, ccw);
    }
    if (map)
        AttachAlphaMap(r, map);
    else if ((err = CarryAlpha(r, work)))
        return err;
    MarkResult(r, work, source, CarryAll);
    *result = r;
    return KXERR_NONE;
}
