// kxpRedEyeFix: red-eye repair (see the header). The result's size comes
// from the depth, never from a PixelBits field that may say otherwise.
// Relies on the operator frame.
#include "kxpRedEyeFix.h"

#include <cstring>

namespace {

void Row24(const uint8_t* in, uint8_t* out, uint32_t w)
{
    std::memcpy(out, in, size_t(w) * 3);
    for (uint32_t x = 0; x < w; ++x, out += 3) {
        const uint32_t r = out[0], g = out[1], b = out[2];
        if (r >= 2 * g && r >= 2 * b && g < 80 && b < 80) out[0] = static_cast<uint8_t>((g + b) / 3);
    }
}

void Row48(const uint8_t* in, uint8_t* out, uint32_t w)
{
    std::memcpy(out, in, size_t(w) * 6);
    for (uint32_t x = 0; x < w; ++x, out += 6) {
        uint16_t s[3];
        std::memcpy(s, out, 6);
        const uint32_t r = s[0] >> 8, g = s[1] >> 8, b = s[2] >> 8;
        if (r >= 2 * g && r >= 2 * b && g < 80 && b < 80) {
            s[0] = static_cast<uint16_t>((uint32_t(s[1]) + s[2]) / 3);
            std::memcpy(out, s, 2);
        }
    }
}

}  // namespace

uint32_t kxpRedEyeFix::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputTrueColour(source, result, &work);
    if (err) return err;
    if ((err = MakeHostOrder(work))) return err;
    if ((err = NewResult(work))) return err;
    KX_GfxBuffer* r = Result;
    const uint32_t w = work->Width, h = work->Height, bpp = KXP_BytesPerPixel(work);
    r->PixelBits = bpp * 8;
    if ((err = KXSUP_CheckSize(&r->BufferSize, w, h, bpp))) return err;
    if (!(r->Data = static_cast<uint8_t*>(AllocVec(r->BufferSize, MEMF_ANY)))) return KXERR_NOMEMORY;

    for (uint32_t y = 0; y < h; ++y) {
        RowProgress(y, h);
        (bpp == 3 ? Row24 : Row48)(Row(work, y, bpp), Row(r, y, bpp), w);
    }
    MarkResult(r, work, source, 0);
    *result = r;
    return KXERR_NONE;
}
