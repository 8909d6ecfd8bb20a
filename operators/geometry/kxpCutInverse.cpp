// kxpCutInverse: fills everything outside the area (KX_AREA or
// CUT_LEFTEDGE, CUT_TOPEDGE, CUT_WIDTH, CUT_HEIGHT; keys compared without
// regard to case) with the background (BACKPEN up to 8 bits, BACKCOLOR
// "0x" RRGGBB for 24 and 48 bits, default 0). Any depth (bit planes as a
// chunky copy, HAM refused), samples kept in their byte order; an 8-bit
// alpha map keeps only the area, the rest set to the background's low
// byte. An empty area gives 28.
#include "kxpCutInverse.h"

#include "kxpArea.h"

uint32_t kxpCutInverse::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    KXPArea a;
    KXPBackground bg;
    uint32_t err = InputWithAlpha(source, result, &work);
    if (!err) err = KXP_ReadCutSettings(this, work, &a, &bg);
    if (!err) err = NewSameSizeResult(work);
    if (err) return err;

    KX_GfxBuffer* r = Result;
    const uint32_t bpp = KXP_BytesPerPixel(work);
    kxp_rows::FillPixels(r->Data, bg.Pixel, static_cast<uint64_t>(work->Width) * work->Height, bpp);
    const size_t areaBytes = static_cast<size_t>(a.Width) * bpp, leftBytes = static_cast<size_t>(a.Left) * bpp;
    for (uint32_t i = 0; i < a.Height; i++) {
        RowProgress(i, a.Height);
        std::memcpy(Row(r, a.Top + i, bpp) + leftBytes, Row(work, a.Top + i, bpp) + leftBytes, areaBytes);
    }
    if (AlphaMap8) {
        const size_t w = work->Width;
        auto* map = static_cast<uint8_t*>(AllocVec(w * work->Height, MEMF_ANY));
        if (!map) return KXERR_NOMEMORY;
        std::memset(map, bg.Low, w * work->Height);
        for (uint32_t i = 0; i < a.Height; i++) std::memcpy(map + w * (a.Top + i) + a.Left, AlphaMap8 + w * (a.Top + i) + a.Left, a.Width);
        AttachAlphaMap(r, map);
    } else if ((err = CarryAlpha(r, work))) {
        return err;
    }
    MarkResult(r, work, source, CarryAll);
    *result = r;
    return KXERR_NONE;
}
