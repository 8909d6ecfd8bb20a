// kxpTopToBottom: flips an image top to bottom. Any depth (bit planes as
// a chunky copy, HAM refused); samples are moved unchanged, so 48-bit
// images keep their byte order; an 8-bit alpha map is flipped with them.
#include "kxpTopToBottom.h"

#include <cstring>

uint32_t kxpTopToBottom::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint8_t* map = nullptr;
    uint32_t err = BeginSameSize(source, result, &work, &map);
    if (err) return err;

    KX_GfxBuffer* r = Result;
    const uint32_t w = work->Width, h = work->Height, bpp = KXP_BytesPerPixel(work);

    const size_t rowBytes = static_cast<size_t>(w) * bpp;
    for (uint32_t y = 0; y < h; y++) {
        RowProgress(y, h);
        std::memcpy(r->Data + rowBytes * y, work->Data + rowBytes * (h - 1 - y), rowBytes);
    }
    if (map)
        for (uint32_t y = 0; y < h; y++) std::memcpy(map + static_cast<size_t>(w) * y, AlphaMap8 + static_cast<size_t>(w) * (h - 1 - y), w);
    else if ((err = CarryAlpha(r, work)))
        return err;
    MarkResult(r, work, source, CarryAll);
    *result = r;
    return KXERR_NONE;
}
