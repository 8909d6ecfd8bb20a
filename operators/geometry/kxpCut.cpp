// kxpCut: fills the area (KX_AREA or CUT_LEFTEDGE, CUT_TOPEDGE, CUT_WIDTH,
// CUT_HEIGHT; keys compared without regard to case) with the background:
// BACKPEN up to 8 bits, BACKCOLOR ("0x" and hexadecimal RRGGBB) for 24
// and 48 bits, default 0. Any depth (bit planes as a chunky copy, HAM
// refused), samples kept in their byte order; an 8-bit alpha map is copied
// with its area set to the background's low byte. An empty area gives 28.
#include "kxpCut.h"

#include "kxpArea.h"

uint32_t kxpCut::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
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
    std::memcpy(r->Data, work->Data, r->BufferSize);
    for (uint32_t i = 0; i < a.Height; i++) {
        RowProgress(i, a.Height);
        kxp_rows::FillPixels(Row(r, a.Top + i, bpp) + static_cast<size_t>(a.Left) * bpp, bg.Pixel, a.Width, bpp);
    }
    if (AlphaMap8) {
        const size_t w = work->Width;
        auto* map = static_cast<uint8_t*>(AllocVec(w * work->Height, MEMF_ANY));
        if (!map) return KXERR_NOMEMORY;
        std::memcpy(map, AlphaMap8, w * work->Height);
        for (uint32_t i = 0; i < a.Height; i++) std::memset(map + w * (a.Top + i) + a.Left, bg.Low, a.Width);
        AttachAlphaMap(r, map);
    } else if ((err = CarryAlpha(r, work))) {
        return err;
    }
    MarkResult(r, work, source, CarryAll);
    *result = r;
    return KXERR_NONE;
}
