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

// Quarter turns go through bands of Band result rows (Band source
// columns): each source row gives Band neighbouring pixels, written to
// Band result rows that are filled front to back, so both sides stay in
// cache.
constexpr uint32_t Band = 8;

// result (x, y) = source (W-1-y, x) when counterClockwise, else (y, H-1-x).
template <unsigned B>
void QuarterBand(uint8_t* dst, const uint8_t* src, uint32_t w, uint32_t h, uint32_t y0, uint32_t rows, bool counterClockwise)
{
    const size_t srcRow = static_cast<size_t>(w) * B, dstRow = static_cast<size_t>(h) * B;
    uint8_t* d[Band];
    for (uint32_t k = 0; k < rows; k++) d[k] = dst + dstRow * (y0 + k);
    if (counterClockwise) {
        // Result row y0+k is source column w-1-y0-k.
        const size_t col = static_cast<size_t>(w - 1 - y0) * B;
        for (uint32_t x = 0; x < h; x++) {
            const uint8_t* s = src + srcRow * x + col;
            for (uint32_t k = 0; k < rows; k++) std::memcpy(d[k] + static_cast<size_t>(x) * B, s - static_cast<size_t>(k) * B, B);
        }
    } else {
        // Result row y0+k is source column y0+k, read from the bottom.
        const size_t col = static_cast<size_t>(y0) * B;
        for (uint32_t x = 0; x < h; x++) {
            const uint8_t* s = src + srcRow * (h - 1 - x) + col;
            for (uint32_t k = 0; k < rows; k++) std::memcpy(d[k] + static_cast<size_t>(x) * B, s + static_cast<size_t>(k) * B, B);
        }
    }
}

void QuarterBandBpp(uint8_t* dst, const uint8_t* src, uint32_t w, uint32_t h, uint32_t bpp, uint32_t y0, uint32_t rows, bool ccw)
{
    switch (bpp) {
    case 1: QuarterBand<1>(dst, src, w, h, y0, rows, ccw); break;
    case 3: QuarterBand<3>(dst, src, w, h, y0, rows, ccw); break;
    default: QuarterBand<6>(dst, src, w, h, y0, rows, ccw); break;
    }
}

}  // namespace

uint32_t kxpRotate::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputAnyDepth(source, result, &work);
    if (!err) err = FetchAlphaMap8(work);
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
        // Progress runs over the source columns.
        for (uint32_t y0 = 0; y0 < w; y0 += Band) {
            RowProgress(y0, w);
            const uint32_t rows = w - y0 < Band ? w - y0 : Band;
            QuarterBandBpp(r->Data, work->Data, w, h, bpp, y0, rows, ccw);
            if (map) QuarterBandBpp(map, AlphaMap8, w, h, 1, y0, rows, ccw);
        }
    }
    if (map)
        AttachAlphaMap(r, map);
    else if ((err = CarryAlpha(r, work)))
        return err;
    MarkResult(r, work, source, CarryAll);
    *result = r;
    return KXERR_NONE;
}
