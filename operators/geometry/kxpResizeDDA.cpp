// kxpResizeDDA: scales both dimensions by ZOOM_FACTOR (a real number,
// default 1.0; a negative one counts as 1.0) by repeating or dropping
// whole pixels and rows in steps of 1000/factor thousandths of a source
// pixel. Any depth (bit planes as a chunky copy, HAM refused), depth kept;
// an 8-bit alpha map of a true-colour image is scaled the same way.
// Refuses images narrower or lower than 2 pixels (15), and factors that
// give an empty picture or are not finite (3).
#include "kxpResizeDDA.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

// The source column each pixel of the line buffer takes: the column
// counter loses 1000 per source pixel, and the pixel is repeated while the
// counter is below 0, each repetition adding the step. The pattern is the
// same for every row.
std::vector<uint32_t> ColumnTable(uint32_t srcWidth, uint32_t newWidth, int64_t step)
{
    std::vector<uint32_t> table;
    table.reserve(newWidth);
    int64_t counter = 0;
    for (uint32_t x = 0; x < srcWidth && table.size() < newWidth; x++) {
        counter -= 1000;
        while (counter < 0 && table.size() < newWidth) {
            table.push_back(x);
            counter += step;
        }
    }
    return table;
}

template <unsigned B>
void Gather(uint8_t* line, const uint8_t* src, const std::vector<uint32_t>& table)
{
    for (size_t i = 0; i < table.size(); i++) std::memcpy(line + i * B, src + static_cast<size_t>(table[i]) * B, B);
}

void GatherBpp(uint8_t* line, const uint8_t* src, const std::vector<uint32_t>& table, uint32_t bpp)
{
    switch (bpp) {
    case 1: Gather<1>(line, src, table); break;
    case 3: Gather<3>(line, src, table); break;
    default: Gather<6>(line, src, table); break;
    }
}

}  // namespace

uint32_t kxpResizeDDA::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputAnyDepth(source, result, &work, KXERR_FILEREQUIREMENTS);
    if (!err) err = MakeHostOrder(work);
    if (!err) err = FetchAlphaMap8(work);
    if (!err) err = NewResult(work);
    if (err) return err;

    auto fail = [&](uint32_t code) {
        DropResult();
        return code;
    };
    double factor = KXPKeyReader(this, false).Real("ZOOM_FACTOR", 1.0);
    if (!std::isfinite(factor)) return fail(KXERR_NOMEMORY);
    if (factor < 0) factor = 1.0;

    const uint32_t w = work->Width, h = work->Height, bpp = KXP_BytesPerPixel(work);
    const double nwReal = std::trunc(w * factor), nhReal = std::trunc(h * factor);
    if (!(nwReal >= 1 && nwReal < 4294967296.0 && nhReal >= 1 && nhReal < 4294967296.0)) return fail(KXERR_NOMEMORY);
    const uint32_t nw = static_cast<uint32_t>(nwReal), nh = static_cast<uint32_t>(nhReal);
    uint32_t size = 0;
    if (!KXSUP_CheckedSize(&size, nw, nh, bpp)) return fail(KXERR_NOMEMORY);
    KX_GfxBuffer* r = Result;
    r->Width = nw;
    r->Height = nh;
    r->BufferSize = size;
    // Cleared: rows the stepping never reaches stay black, not stale memory.
    if (!(r->Data = static_cast<uint8_t*>(AllocVec(size, MEMF_CLEAR)))) return fail(KXERR_NOMEMORY);
    uint8_t* map = nullptr;
    if (AlphaMap8 && (work->PixelBits == 24 || work->PixelBits == 48)) {
        if (!(map = static_cast<uint8_t*>(AllocVec(static_cast<size_t>(nw) * nh, MEMF_CLEAR)))) return fail(KXERR_NOMEMORY);
        AttachAlphaMap(r, map);
    }

    const int64_t step = static_cast<int64_t>(1000.0 / factor);
    std::vector<uint32_t> table;
    uint8_t* line = static_cast<uint8_t*>(AllocVec(static_cast<size_t>(nw) * bpp, MEMF_CLEAR));
    uint8_t* alphaLine = map ? static_cast<uint8_t*>(AllocVec(nw, MEMF_CLEAR)) : nullptr;
    bool tableOk = true;
    try {
        table = ColumnTable(w, nw, step);
    } catch (...) {
        tableOk = false;
    }
    if (!line || (map && !alphaLine) || !tableOk) {
        FreeVec(line);
        FreeVec(alphaLine);
        return fail(KXERR_NOMEMORY);
    }

    const size_t srcRow = static_cast<size_t>(w) * bpp, outRow = static_cast<size_t>(nw) * bpp;
    int64_t rowCounter = 0;
    uint32_t written = 0;
    for (uint32_t y = 0; y < h && written < nh; y++) {
        RowProgress(y, h);
        rowCounter -= 1000;
        if (rowCounter >= 0) continue;
        GatherBpp(line, work->Data + srcRow * y, table, bpp);
        if (map) GatherBpp(alphaLine, AlphaMap8 + static_cast<size_t>(w) * y, table, 1);
        while (rowCounter < 0 && written < nh) {
            std::memcpy(r->Data + outRow * written, line, outRow);
            if (map) std::memcpy(map + static_cast<size_t>(nw) * written, alphaLine, nw);
            written++;
            rowCounter += step;
        }
    }
    FreeVec(line);
    FreeVec(alphaLine);

    if (!map && (err = CarryAlpha(r, work))) return fail(err);
    MarkResult(r, work, source, CarryGray);
    *result = r;
    return KXERR_NONE;
}
