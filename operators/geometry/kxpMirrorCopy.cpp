// kxpMirrorCopy: mirrors one half of an image onto the other. MIRRORMODE
// "VERTUPPER" keeps the upper half, "VERTLOWER" the lower, "HORIZLEFT" the
// left and "HORIZRIGHT" (the default) the right half; the other half shows
// it mirrored, an odd middle row or column maps onto itself. Any depth
// (bit planes as a chunky copy, HAM refused); samples are moved unchanged
// in their byte order; an 8-bit alpha map is mirrored with them.
#include "kxpMirrorCopy.h"

#include <cstring>

#include "kxpRows.h"

namespace {

enum { VERTUPPER, VERTLOWER, HORIZLEFT, HORIZRIGHT };

// One result row: for the vertical modes a whole source row, for the
// horizontal ones the kept half copied and the other half reversed from it.
void MirrorCopyRow(uint8_t* dst, const uint8_t* src, uint32_t y, uint32_t w, uint32_t h, uint32_t bpp, int mode)
{
    const size_t rowBytes = static_cast<size_t>(w) * bpp;
    const uint32_t h2 = h / 2, w2 = w / 2;
    switch (mode) {
    case VERTUPPER: std::memcpy(dst, src + rowBytes * (y < h2 ? y : h - 1 - y), rowBytes); break;
    case VERTLOWER: std::memcpy(dst, src + rowBytes * (y < h2 ? h - 1 - y : y), rowBytes); break;
    case HORIZLEFT: {
        const uint8_t* s = src + rowBytes * y;
        std::memcpy(dst, s, static_cast<size_t>(w2) * bpp);
        // Columns w2..w-1 take w-1-x: the reverse of columns 0..w-1-w2.
        kxp_rows::ReverseRow(dst + static_cast<size_t>(w2) * bpp, s, w - w2, bpp);
        break;
    }
    default: {
        const uint8_t* s = src + rowBytes * y;
        // Columns 0..w2-1 take w-1-x: the reverse of columns w-w2..w-1.
        kxp_rows::ReverseRow(dst, s + static_cast<size_t>(w - w2) * bpp, w2, bpp);
        std::memcpy(dst + static_cast<size_t>(w2) * bpp, s + static_cast<size_t>(w2) * bpp, static_cast<size_t>(w - w2) * bpp);
        break;
    }
    }
}

}  // namespace

uint32_t kxpMirrorCopy::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    // The alpha map is allocated after the rows, so no map here.
    KX_GfxBuffer* work = nullptr;
    uint32_t err = BeginSameSize(source, result, &work);
    if (err) return err;

    static const char* const modes[] = {"VERTUPPER", "VERTLOWER", "HORIZLEFT", "HORIZRIGHT"};
    const int mode = KXPKeyReader(this, false).Word("MIRRORMODE", modes, 4, HORIZRIGHT);

    KX_GfxBuffer* r = Result;
    const uint32_t w = work->Width, h = work->Height, bpp = KXP_BytesPerPixel(work);
    const size_t rowBytes = static_cast<size_t>(w) * bpp;

    for (uint32_t y = 0; y < h; y++) {
        RowProgress(y, h);
        MirrorCopyRow(r->Data + rowBytes * y, work->Data, y, w, h, bpp, mode);
    }
    if (AlphaMap8) {
        auto* map = static_cast<uint8_t*>(AllocVec(static_cast<size_t>(w) * h, MEMF_ANY));
        if (!map) return KXERR_NOMEMORY;
        for (uint32_t y = 0; y < h; y++) MirrorCopyRow(map + static_cast<size_t>(w) * y, AlphaMap8, y, w, h, 1, mode);
        AttachAlphaMap(r, map);
    } else if ((err = CarryAlpha(r, work))) {
        return err;
    }
    MarkResult(r, work, source, CarryAll);
    *result = r;
    return KXERR_NONE;
}
