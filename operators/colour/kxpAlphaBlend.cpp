// kxpAlphaBlend: two pictures mixed through an alpha map (see the header).
// The second picture is read through a temporary library object by a
// reader object of its own, and scaled by a Resize operator of this
// operator's library object. Relies on the operator frame and the
// second-picture loader.
#include "kxpAlphaBlend.h"

#include <cstring>

#include "kxpSecondImage.h"

namespace {

// The weight of every sample of a row: each pixel's alpha three times, so
// that the mix below is one flat loop over samples.
void SampleWeights(const uint8_t* a, uint8_t* weights, uint32_t w)
{
    for (uint32_t x = 0; x < w; ++x) weights[3 * x] = weights[3 * x + 1] = weights[3 * x + 2] = a[x];
}

// (a x blend + (255 - a) x source) / 255; the sum stays below 65536, where
// (v + 1 + (v >> 8)) >> 8 is the exact quotient, in 16-bit lanes.
void MixRow8(const uint8_t* s, const uint8_t* b, const uint8_t* weights, uint8_t* out, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        const uint16_t wa = weights[i];
        const uint16_t v = uint16_t(wa * b[i] + uint16_t(255 - wa) * s[i]);
        out[i] = uint8_t((v + 1 + (v >> 8)) >> 8);
    }
}

void MixRow16(const uint16_t* s, const uint16_t* b, const uint8_t* weights, uint16_t* out, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        const uint32_t wa = weights[i];
        out[i] = uint16_t((wa * b[i] + (255 - wa) * s[i]) / 255u);
    }
}

}  // namespace

void kxpAlphaBlend::DropMap()
{
    if (AlphaMap8 && AlphaMap8Owned) FreeVec(AlphaMap8);
    AlphaMap8 = nullptr;
    AlphaMap8Owned = 0;
}

uint32_t kxpAlphaBlend::FetchBlendMap(const KX_GfxBuffer* blend)
{
    DropMap();
    uint8_t* map = nullptr;
    int owned = 0;
    const uint32_t err = KXSUP_GetAlphaMap8(blend, &map, &owned, 1, 1);
    if (err == KXERR_NOMEMORY) return err;
    if (!err && map) {
        AlphaMap8 = map;
        AlphaMap8Owned = owned ? 1 : 0;
    }
    return KXERR_NONE;
}

uint32_t kxpAlphaBlend::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* blend = nullptr;
    const uint32_t err = Blend(source, result, &blend);
    // A map lent by the second picture must not outlive it.
    if (blend) {
        if (AlphaMap8 && !AlphaMap8Owned && blend->AlphaData == AlphaMap8) AlphaMap8 = nullptr;
        KXSUP_FreeGfxBuffer(blend);
    }
    return err;
}

uint32_t kxpAlphaBlend::Blend(KX_GfxBuffer* source, KX_GfxBuffer** result, KX_GfxBuffer** blendOut)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputTrueColour(source, result, &work);
    if (err) return err;
    if ((err = MakeHostOrder(work))) return err;
    const bool deep = work->ColorDepth == 48;
    const uint32_t bpp = deep ? 6 : 3;
    const uint32_t w = work->Width, h = work->Height;

    if ((err = NewResult(work))) return err;
    KX_GfxBuffer* r = Result;
    r->ColorDepth = r->PixelBits = deep ? 48 : 24;
    r->NativeDIPF = 0;
    // One sample block a pixel: W x H x PixelBits / 8.
    uint32_t bytes = 0;
    if (!KXSUP_CheckedSize(&bytes, w, h, bpp)) return KXERR_NOMEMORY;
    r->BufferSize = bytes;
    if (!(r->Data = static_cast<uint8_t*>(AllocVec(bytes, MEMF_ANY)))) return KXERR_NOMEMORY;

    KXPKeyReader keys(this, true);
    const char* path = keys.Text("BLEND_GRAPHICS");
    static const char* const modes[] = {"SRCGFX_ALPHA", "BLENDGFX_ALPHA"};
    const bool blendAlpha = keys.Word("ALPHA_MODE", modes, 2, 0) == 1;
    const bool scale = keys.Has("SCALE_BLENDGFX");

    // Always a temporary library object of its own.
    KX_GfxBuffer* blend = nullptr;
    if ((err = KXP_LoadSecondImage(nullptr, path ? path : "", &blend))) return err;
    *blendOut = blend;
    if (blend->ColorDepth != work->ColorDepth || blend->Type != ONEPLANE) {
        if (deep) return blend->ColorDepth != 48 ? KXERR_NEED48BIT : KXERR_FILEREQUIREMENTS;
        KX_GfxBuffer* converted = nullptr;
        if (KXSUP_GfxBufferTo24Bit(blend, &converted) || !converted) {
            if (converted) KXSUP_FreeGfxBuffer(converted);
            return KXERR_NOMEMORY;
        }
        KXSUP_FreeGfxBuffer(blend);
        *blendOut = blend = converted;
    }
    if (deep && (err = KXSUP_ConvertGfxBufferEndianess(blend, KXENDIAN_LITTLE))) return err;

    if (blendAlpha) err = FetchBlendMap(blend);
    else err = FetchAlphaMap8(work);
    if (err) return err;
    if (!AlphaMap8) return KXERR_NEEDALPHA;

    if (blend->Width != w || blend->Height != h) {
        if (!scale) return KXERR_SIZEMISMATCH;
        KX_GfxBuffer* scaled = nullptr;
        if ((err = KXP_ScaleSecondImage(Lib, blend, w, h, &scaled))) return err;
        if (blendAlpha && AlphaMap8 && !AlphaMap8Owned && blend->AlphaData == AlphaMap8) AlphaMap8 = nullptr;
        KXSUP_FreeGfxBuffer(blend);
        *blendOut = blend = scaled;
        if (blend->Width != w || blend->Height != h || blend->ColorDepth != work->ColorDepth) return KXERR_SIZEMISMATCH;
        if (blendAlpha) {
            if ((err = FetchBlendMap(blend))) return err;
            if (!AlphaMap8) return KXERR_NEEDALPHA;
        }
    }
    if (!blend->Data || blend->BufferSize < bytes) return KXERR_FILEREQUIREMENTS;

    auto* weights = static_cast<uint8_t*>(AllocVec(size_t(w) * 3, MEMF_ANY));
    if (!weights) return KXERR_NOMEMORY;
    const size_t n = size_t(w) * 3;
    for (uint32_t y = 0; y < h; ++y) {
        RowProgress(y, h);
        const size_t at = size_t(y) * w * bpp;
        SampleWeights(AlphaMap8 + size_t(y) * w, weights, w);
        if (deep)
            MixRow16(reinterpret_cast<const uint16_t*>(work->Data + at), reinterpret_cast<const uint16_t*>(blend->Data + at), weights,
                     reinterpret_cast<uint16_t*>(r->Data + at), n);
        else
            MixRow8(work->Data + at, blend->Data + at, weights, r->Data + at, n);
    }
    FreeVec(weights);
    if (deep) KXSUP_SetGfxBufferEndianess(r, KXSUP_GetGfxBufferFlags(work));
    *result = r;
    return KXERR_NONE;
}
