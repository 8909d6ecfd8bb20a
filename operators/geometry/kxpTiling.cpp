// kxpTiling: breaks the picture into square tiles of TILESIZE pixels
// (unsigned atol, default 10; 0 becomes 1, above 255, negative values
// included, 255) and moves each by a random step of -16 to 15 pixels in
// each direction (rand(), x first), tile rows from the top, tiles from the
// left, later tiles over earlier ones. Tiles start at multiples of the size
// that are less than the width (height) minus the size, so the last column
// and row of tiles stay; the result starts as a copy of the source, so the
// gaps the tiles leave show the picture beneath. Any depth (bit planes as a
// chunky copy, HAM refused); 48-bit input is made host-ordered. An alpha
// map is dropped; palette transparency (an index or a table) and the grey,
// 8-bit-source and low-depth flags are kept.
#include "kxpTiling.h"

#include <cstdlib>
#include <cstring>

uint32_t kxpTiling::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputAnyDepth(source, result, &work);
    if (!err) err = MakeHostOrder(work);
    if (!err) err = NewSameSizeResult(work);
    if (err) return err;

    uint32_t s = KXPKeyReader(this, false).ULong("TILESIZE", 10);
    if (s > 255) s = 255;
    if (s == 0) s = 1;
    KX_GfxBuffer* r = Result;
    const int64_t w = work->Width, h = work->Height;
    const uint32_t bpp = KXP_BytesPerPixel(work);
    const size_t rowBytes = static_cast<size_t>(w) * bpp;
    std::memcpy(r->Data, work->Data, rowBytes * h);

    for (int64_t top = 0; top < h - s; top += s) {
        RowProgress(static_cast<uint64_t>(top), static_cast<uint64_t>(h));
        for (int64_t left = 0; left < w - s; left += s) {
            const int64_t dx = (std::rand() & 31) - 16;
            const int64_t dy = (std::rand() & 31) - 16;
            // The tile's columns that land inside the picture.
            const int64_t x0 = left + dx < 0 ? -dx : left, x1 = left + s + dx > w ? w - dx : left + s;
            if (x0 >= x1) continue;
            for (int64_t y = top; y < top + s; y++) {
                if (y + dy < 0 || y + dy >= h) continue;
                std::memcpy(r->Data + rowBytes * (y + dy) + (x0 + dx) * bpp, work->Data + rowBytes * y + x0 * bpp, static_cast<size_t>(x1 - x0) * bpp);
            }
        }
    }
    if ((err = CarryAlpha(r, work))) return err;
    MarkResult(r, work, source, CarryAll);
    *result = r;
    return KXERR_NONE;
}
