// kxpSlicing: displaces the pixels by two tables of random offsets, one
// per column, then one per row, each filled in runs of 1 to 32 equal
// offsets from -32 to 31 drawn with rand(). Result pixel (x, y) takes the
// source pixel (x + row offset of y, y + column offset of x); one whose
// source lies outside the picture is black (index 0). No keys. Any depth
// (bit planes as a chunky copy, HAM refused); 48-bit input is made
// host-ordered and whole pixels are moved. An alpha map is dropped;
// palette transparency (an index or a table) and the grey, 8-bit-source
// and low-depth flags are kept.
#include "kxpSlicing.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// Runs: the offset first, then the count of further entries, as drawn.
void FillRuns(int8_t* table, uint32_t n)
{
    uint32_t i = 0;
    while (i < n) {
        const int8_t offset = static_cast<int8_t>((std::rand() & 63) - 32);
        // Unsigned, so that the largest value rand() gives cannot overflow.
        const uint32_t more = (static_cast<uint32_t>(std::rand()) + 8u) & 31u;
        table[i++] = offset;
        for (uint32_t k = 0; k < more && i < n; k++) table[i++] = offset;
    }
}

template <unsigned B>
void SliceRow(uint8_t* dst, const uint8_t* src, uint32_t w, uint32_t h, uint32_t y, const int8_t* columns, int32_t rowOffset)
{
    const size_t rowBytes = static_cast<size_t>(w) * B;
    for (uint32_t x = 0; x < w; x++) {
        const int64_t sx = int64_t(x) + rowOffset, sy = int64_t(y) + columns[x];
        if (sx < 0 || sx >= w || sy < 0 || sy >= h) continue;
        std::memcpy(dst + size_t(x) * B, src + rowBytes * sy + size_t(sx) * B, B);
    }
}

}  // namespace

uint32_t kxpSlicing::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputAnyDepth(source, result, &work);
    if (!err) err = MakeHostOrder(work);
    if (!err) err = NewSameSizeResult(work);
    if (err) return err;

    KX_GfxBuffer* r = Result;
    const uint32_t w = work->Width, h = work->Height, bpp = KXP_BytesPerPixel(work);
    std::unique_ptr<int8_t, void (*)(void*)> tables(static_cast<int8_t*>(AllocVec(size_t(w) + h, MEMF_ANY)), FreeVec);
    if (!tables) return KXERR_NOMEMORY;
    int8_t* columns = tables.get();
    int8_t* rows = columns + w;
    FillRuns(columns, w);
    FillRuns(rows, h);

    const size_t rowBytes = static_cast<size_t>(w) * bpp;
    std::memset(r->Data, 0, rowBytes * h);
    for (uint32_t y = 0; y < h; y++) {
        RowProgress(y, h);
        uint8_t* d = r->Data + rowBytes * y;
        switch (bpp) {
        case 1: SliceRow<1>(d, work->Data, w, h, y, columns, rows[y]); break;
        case 3: SliceRow<3>(d, work->Data, w, h, y, columns, rows[y]); break;
        default: SliceRow<6>(d, work->Data, w, h, y, columns, rows[y]); break;
        }
    }
    if ((err = CarryAlpha(r, work))) return err;
    MarkResult(r, work, source, CarryAll);
    *result = r;
    return KXERR_NONE;
}
