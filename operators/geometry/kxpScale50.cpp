// kxpScale50: halves (METHOD "HALF", the default and any unknown word) or
// doubles ("DOUBLE") both dimensions without averaging: halving keeps the
// top-left pixel of every 2 by 2 block and drops an odd last row or
// column, doubling repeats every pixel as a 2 by 2 block. Any depth (bit
// planes as a chunky copy, HAM refused), depth kept, 48-bit samples in
// host order; an 8-bit alpha map is scaled the same way. Halving an image
// narrower or lower than 2 pixels gives 28.
#include "kxpScale50.h"

#include <cstring>

namespace {

template <unsigned B>
void HalveRow(uint8_t* dst, const uint8_t* src, uint32_t newWidth)
{
    for (uint32_t x = 0; x < newWidth; x++) std::memcpy(dst + static_cast<size_t>(x) * B, src + static_cast<size_t>(x) * 2 * B, B);
}

template <unsigned B>
void DoubleRow(uint8_t* dst, const uint8_t* src, uint32_t width)
{
    for (uint32_t x = 0; x < width; x++) {
        std::memcpy(dst + static_cast<size_t>(x) * 2 * B, src + static_cast<size_t>(x) * B, B);
        std::memcpy(dst + (static_cast<size_t>(x) * 2 + 1) * B, src + static_cast<size_t>(x) * B, B);
    }
}

void ScaleRow(uint8_t* dst, const uint8_t* src, uint32_t width, uint32_t bpp, bool half)
{
    switch (bpp) {
    case 1: half ? HalveRow<1>(dst, src, width) : DoubleRow<1>(dst, src, width); break;
    case 3: half ? HalveRow<3>(dst, src, width) : DoubleRow<3>(dst, src, width); break;
    default: half ? HalveRow<6>(dst, src, width) : DoubleRow<6>(dst, src, width); break;
    }
}

}  // namespace

uint32_t kxpScale50::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    static const char* const methods[] = {"HALF", "DOUBLE"};
    const bool half = KXPKeyReader(this, false).Word("METHOD", methods, 2, 0) == 0;

    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputAnyDepth(source, result, &work, half ? static_cast<uint32_t>(KXERR_SIZEMISMATCH) : 0u);
    if (!err) err = MakeHostOrder(work);
    if (!err) err = FetchAlphaMap8(work);
    if (!err) err = NewResult(work);
    if (err) return err;

    KX_GfxBuffer* r = Result;
    const uint32_t w = work->Width, h = work->Height, bpp = KXP_BytesPerPixel(work);
    uint32_t size = 0;
    if (half) {
        r->Width = w >> 1;
        r->Height = h >> 1;
        size = work->BufferSize >> 2;
    } else {
        // The work block holds at least the pixels, so four times it fits
        // the doubled picture.
        if (!KXSUP_CheckedSize(&size, work->BufferSize, 4)) {
            DropResult();
            return KXERR_NOMEMORY;
        }
        r->Width = w * 2;
        r->Height = h * 2;
    }
    r->BufferSize = size;
    if (!(r->Data = static_cast<uint8_t*>(AllocVec(size, MEMF_ANY)))) {
        DropResult();
        return KXERR_NOMEMORY;
    }
    const size_t outRow = static_cast<size_t>(r->Width) * bpp, srcRow = static_cast<size_t>(w) * bpp;
    const size_t used = outRow * r->Height;
    if (size > used) std::memset(r->Data + used, 0, size - used);

    if (half) {
        const uint32_t evenRows = h & ~1u;
        for (uint32_t y = 0; y < r->Height; y++) {
            RowProgress(2ull * y, evenRows);
            ScaleRow(r->Data + outRow * y, work->Data + srcRow * 2 * y, r->Width, bpp, true);
        }
    } else {
        for (uint32_t y = 0; y < h; y++) {
            RowProgress(y, h);
            uint8_t* d = r->Data + outRow * 2 * y;
            ScaleRow(d, work->Data + srcRow * y, w, bpp, false);
            std::memcpy(d + outRow, d, outRow);
        }
    }

    if (AlphaMap8) {
        auto* map = static_cast<uint8_t*>(AllocVec(static_cast<size_t>(r->Width) * r->Height, MEMF_ANY));
        if (!map) return KXERR_NOMEMORY;
        for (uint32_t y = 0; y < r->Height; y++) {
            uint8_t* d = map + static_cast<size_t>(r->Width) * y;
            if (half)
                ScaleRow(d, AlphaMap8 + static_cast<size_t>(w) * 2 * y, r->Width, 1, true);
            else if (y % 2 == 0)
                ScaleRow(d, AlphaMap8 + static_cast<size_t>(w) * (y / 2), w, 1, false);
            else
                std::memcpy(d, d - r->Width, r->Width);
        }
        AttachAlphaMap(r, map);
    } else if ((err = CarryAlpha(r, work))) {
        return err;
    }
    MarkResult(r, work, source, CarryAll);
    *result = r;
    return KXERR_NONE;
}
