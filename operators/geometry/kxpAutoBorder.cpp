// kxpAutoBorder: finds the widest frame of the top-left pixel's colour
// (exact match of every byte, see kxpBorderScan) and cuts it away; a
// uniform picture comes back as a copy. No keys. Any depth (bit planes as
// a chunky copy, HAM refused); 48-bit samples are compared and copied in
// their stored byte order. An 8-bit alpha map is cut with the picture, and
// palette transparency (an index or a table) is kept: trimming a frame must
// not make a transparent colour opaque. Carries the grey, 8-bit-source and
// low-depth flags.
#include "kxpAutoBorder.h"

#include <cstring>

#include "kxpBorderScan.h"

uint32_t kxpAutoBorder::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputWithAlpha(source, result, &work);
    if (err) return err;

    const KXPBorder b = KXP_ScanBorder(work);
    const uint32_t bpp = KXP_BytesPerPixel(work);
    const uint32_t rw = work->Width - b.Left - b.Right, rh = work->Height - b.Top - b.Bottom;
    if ((err = NewResult(work))) return err;
    KX_GfxBuffer* r = Result;
    r->Width = rw;
    r->Height = rh;
    r->BufferSize = rw * rh * bpp;  // within the work image's size
    if (!(r->Data = static_cast<uint8_t*>(AllocVec(r->BufferSize, MEMF_ANY)))) {
        DropResult();
        return KXERR_NOMEMORY;
    }
    const size_t rowBytes = static_cast<size_t>(rw) * bpp;
    for (uint32_t y = 0; y < rh; y++) {
        RowProgress(y, rh);
        std::memcpy(r->Data + rowBytes * y, Row(work, b.Top + y, bpp) + static_cast<size_t>(b.Left) * bpp, rowBytes);
    }
    if (AlphaMap8) {
        auto* map = static_cast<uint8_t*>(AllocVec(static_cast<size_t>(rw) * rh, MEMF_ANY));
        if (!map) {
            DropResult();
            return KXERR_NOMEMORY;
        }
        for (uint32_t y = 0; y < rh; y++)
            std::memcpy(map + static_cast<size_t>(rw) * y, AlphaMap8 + static_cast<size_t>(work->Width) * (b.Top + y) + b.Left, rw);
        AttachAlphaMap(r, map);
    } else if ((err = CarryAlpha(r, work))) {
        DropResult();
        return err;
    }
    MarkResult(r, work, source, CarryAll);
    *result = r;
    return KXERR_NONE;
}
