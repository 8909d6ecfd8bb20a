// kxpMirror: mirrors at the horizontal axis (MIRRORMODE "X_AXIS"), the
// vertical axis ("Y_AXIS") or both ("ZEROPOINT", the default). Any depth
// (bit planes as a chunky copy, HAM refused); samples are moved
// unchanged in their byte order; an 8-bit alpha map is mirrored with them.
#include "kxpMirror.h"

#include <cstring>

#include "kxpRows.h"

namespace {

void MirrorImage(uint8_t* dst, const uint8_t* src, uint32_t w, uint32_t h, uint32_t bpp, bool flipX, bool flipY, kxpMirror* op,
                 void (*progress)(kxpMirror*, uint32_t, uint32_t))
{
    const size_t rowBytes = static_cast<size_t>(w) * bpp;
    for (uint32_t y = 0; y < h; y++) {
        if (progress) progress(op, y, h);
        const uint8_t* s = src + rowBytes * (flipY ? h - 1 - y : y);
        if (flipX)
            kxp_rows::ReverseRow(dst + rowBytes * y, s, w, bpp);
        else
            std::memcpy(dst + rowBytes * y, s, rowBytes);
    }
}

}  // namespace

uint32_t kxpMirror::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    // The alpha map is allocated after the rows, so no map here.
    KX_GfxBuffer* work = nullptr;
    uint32_t err = BeginSameSize(source, result, &work);
    if (err) return err;

    static const char* const modes[] = {"X_AXIS", "Y_AXIS", "ZEROPOINT"};
    int mode = KXPKeyReader(this, false).Word("MIRRORMODE", modes, 3, 2);
    const bool flipX = mode != 0, flipY = mode != 1;

    KX_GfxBuffer* r = Result;
    const uint32_t w = work->Width, h = work->Height, bpp = KXP_BytesPerPixel(work);

    MirrorImage(r->Data, work->Data, w, h, bpp, flipX, flipY, this, [](kxpMirror* op, uint32_t y, uint32_t rows) { op->RowProgress(y, rows); });
    if (AlphaMap8) {
        auto* map = static_cast<uint8_t*>(AllocVec(static_cast<size_t>(w) * h, MEMF_ANY));
        if (!map) return KXERR_NOMEMORY;
        MirrorImage(map, AlphaMap8, w, h, 1, flipX, flipY, this, nullptr);
        AttachAlphaMap(r, map);
    } else if ((err = CarryAlpha(r, work))) {
        return err;
    }
    MarkResult(r, work, source, CarryAll);
    *result = r;
    return KXERR_NONE;
}
