// kxpCrop: keeps only the area (KX_AREA or CROP_LEFTEDGE, CROP_TOPEDGE,
// CROP_WIDTH, CROP_HEIGHT; keys compared without regard to case), limited
// to the image. Any depth (bit planes as a chunky copy, HAM refused),
// samples kept in their byte order; an 8-bit alpha map is cropped with
// them. An empty area gives 28.
#include "kxpCrop.h"

#include "kxpArea.h"

uint32_t kxpCrop::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputWithAlpha(source, result, &work);
    if (err) return err;

    KXPKeyReader keys(this, true);
    KXPArea a = KXP_ReadArea(keys, "CROP_", work->Width, work->Height);
    KXP_LimitArea(a, work->Width, work->Height);
    if (!a.Width || !a.Height) return KXERR_SIZEMISMATCH;

    if ((err = NewResult(work))) return err;
    KX_GfxBuffer* r = Result;
    const uint32_t bpp = KXP_BytesPerPixel(work);
    r->Width = a.Width;
    r->Height = a.Height;
    r->BufferSize = a.Width * a.Height * bpp;  // within the work image's size
    if (!(r->Data = static_cast<uint8_t*>(AllocVec(r->BufferSize, MEMF_ANY)))) return KXERR_NOMEMORY;

    const size_t rowBytes = static_cast<size_t>(a.Width) * bpp;
    for (uint32_t i = 0; i < a.Height; i++) {
        RowProgress(i, a.Height);
        std::memcpy(r->Data + rowBytes * i, Row(work, a.Top + i, bpp) + static_cast<size_t>(a.Left) * bpp, rowBytes);
    }
    if (AlphaMap8) {
        auto* map = static_cast<uint8_t*>(AllocVec(static_cast<size_t>(a.Width) * a.Height, MEMF_ANY));
        if (!map) return KXERR_NOMEMORY;
        for (uint32_t i = 0; i < a.Height; i++)
            std::memcpy(map + static_cast<size_t>(a.Width) * i, AlphaMap8 + static_cast<size_t>(work->Width) * (a.Top + i) + a.Left, a.Width);
        AttachAlphaMap(r, map);
    } else if ((err = CarryAlpha(r, work))) {
        return err;
    }
    MarkResult(r, work, source, CarryAll);
    *result = r;
    return KXERR_NONE;
}
