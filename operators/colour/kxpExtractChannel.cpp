// kxpExtractChannel: one channel kept (see the header). Relies on the
// operator frame.
#include "kxpExtractChannel.h"

#include <cstring>

uint32_t kxpExtractChannel::Extract(KX_GfxBuffer* source, KX_GfxBuffer** result)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputAnyDepth(source, result, &work);
    if (err) return err;
    if ((err = MakeHostOrder(work))) return err;
    if ((err = NewResult(work))) return err;
    KX_GfxBuffer* r = Result;
    const uint32_t w = work->Width, h = work->Height, c = Channel;

    if (work->ColorDepth <= 8) {
        if ((err = AllocSameSizePixels(r, work))) return err;
        std::memcpy(r->Data, work->Data, size_t(w) * h);
        const uint32_t entries = 1u << work->ColorDepth;
        for (uint32_t i = 0; i < entries; ++i)
            for (uint32_t k = 0; k < 3; ++k)
                if (k != c) r->Palette[3 * i + k] = 0;
        *result = r;
        return KXERR_NONE;
    }

    r->ColorDepth = 8;
    r->PixelBits = 8;
    r->NativeDIPF = 0;
    if ((err = KXSUP_CheckSize(&r->BufferSize, w, h))) return err;
    if (!(r->Data = static_cast<uint8_t*>(AllocVec(r->BufferSize, MEMF_ANY)))) return KXERR_NOMEMORY;
    std::memset(r->Palette, 0, sizeof r->Palette);
    for (uint32_t i = 0; i < 256; ++i) r->Palette[3 * i + c] = static_cast<uint8_t>(i);
    // A 48-bit source's order mark stays with the result; its samples are
    // host-ordered now, so the high byte is the second.
    if (work->ColorDepth == 48) KXSUP_SetGfxBufferEndianess(r, KXSUP_GetGfxBufferFlags(work));
    const uint32_t bpp = KXP_BytesPerPixel(work);
    const uint32_t at = work->ColorDepth == 24 ? c : 2 * c + 1;
    for (uint32_t y = 0; y < h; ++y) {
        RowProgress(y, h);
        const uint8_t* in = Row(work, y, bpp) + at;
        uint8_t* out = r->Data + size_t(y) * w;
        for (uint32_t x = 0; x < w; ++x, in += bpp) out[x] = *in;
    }
    *result = r;
    return KXERR_NONE;
}
