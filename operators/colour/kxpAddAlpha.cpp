// kxpAddAlpha: a new 8-bit alpha map for a true-colour picture (see the
// header). The alpha source picture is read by a reader object of its own
// and scaled by a Resize operator of this operator's library object.
// Relies on the operator frame and the second-picture loader.
#include "kxpAddAlpha.h"

#include <cstring>

#include "kxpSecondImage.h"

namespace {

// "%lx" after a required "0x", into 32 bits; false without the prefix.
bool ReadHex(const char* text, uint32_t* out)
{
    if (!text || strncmp(text, "0x", 2) != 0) return false;
    uint64_t v = 0;
    if (!KXP_ParseHex(text + 2, &v)) return false;
    *out = v > UINT32_MAX ? UINT32_MAX : uint32_t(v);
    return true;
}

struct FreeLater {
    KX_GfxBuffer* b = nullptr;
    ~FreeLater()
    {
        if (b) KXSUP_FreeGfxBuffer(b);
    }
    void Replace(KX_GfxBuffer* n)
    {
        if (b) KXSUP_FreeGfxBuffer(b);
        b = n;
    }
};

}  // namespace

uint32_t kxpAddAlpha::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputTrueColour(source, result, &work);
    if (err) return err;
    if ((err = NewSameSizeResult(work))) return err;
    KX_GfxBuffer* r = Result;
    memcpy(r->Data, work->Data, work->BufferSize);
    const uint32_t w = work->Width, h = work->Height;
    uint32_t pixels = 0;
    if (!KXSUP_CheckedSize(&pixels, w, h)) return KXERR_NOMEMORY;
    auto* map = static_cast<uint8_t*>(AllocVec(pixels, MEMF_ANY));
    if (!map) return KXERR_NOMEMORY;
    AttachAlphaMap(r, map);

    // Every run starts from colour 0, 0, 0 and alpha 0.
    uint32_t value = 0;
    enum { All, Value, Source } mode = All;
    bool scale = true;
    const char* path = nullptr;
    KXPKeyReader keys(this, true);
    static const char* const modes[] = {"ALL", "VALUE", "SOURCE"};
    mode = decltype(mode)(keys.Word("ALPHA_MODE", modes, 3, All));
    const bool pixelKey = keys.Has("ALPHA_PIXEL24"), alphaKey = keys.Has("ALPHA_VALUE8");
    uint32_t colour = 0;
    if (pixelKey && ReadHex(keys.Text("ALPHA_PIXEL24"), &colour)) value = colour << 8;
    if (alphaKey) {
        const int32_t a = keys.Long("ALPHA_VALUE8", 0);
        value |= a < 0 || a > 255 ? 255u : uint32_t(a);
    }
    if (!pixelKey && !alphaKey) ReadHex(keys.Text("ALPHA_VALUE"), &value);
    path = keys.Text("ALPHA_SOURCE");
    static const char* const off[] = {"OFF"};
    scale = keys.Word("SCALE_SOURCEGFX", off, 1, -1) != 0;

    const uint8_t alpha = uint8_t(value);
    if (mode == All) {
        memset(map, alpha, pixels);
    } else if (mode == Value) {
        const uint8_t R = uint8_t(value >> 24), G = uint8_t(value >> 16), B = uint8_t(value >> 8);
        const bool deep = work->ColorDepth == 48;
        // A 16-bit sample is compared by its most significant byte, where
        // the picture's byte order puts it.
        const uint32_t high = deep && KXSUP_GetGfxBufferEndianess(work) == KXENDIAN_BIG ? 0 : 1;
        const uint32_t bpp = deep ? 6 : 3, step = deep ? 2 : 1, at = deep ? high : 0;
        for (uint32_t y = 0; y < h; ++y) {
            RowProgress(y, h);
            const uint8_t* in = Row(work, y, bpp) + at;
            uint8_t* out = map + size_t(y) * w;
            for (uint32_t x = 0; x < w; ++x, in += bpp) out[x] = in[0] == R && in[step] == G && in[2 * step] == B ? alpha : 255;
        }
    } else if ((err = MapFromSource(path, scale, work, map))) {
        return err;
    }

    MarkResult(r, work, source, CarryAll);
    *result = r;
    return KXERR_NONE;
}

uint32_t kxpAddAlpha::MapFromSource(const char* path, bool scale, const KX_GfxBuffer* work, uint8_t* map)
{
    FreeLater picture;
    uint32_t err = KXP_LoadSecondImage(Lib, path ? path : "", &picture.b);
    if (err) return err;
    KX_GfxBuffer* p = picture.b;
    if (p->ColorDepth > 8) return KXERR_NO24BIT;
    if (p->Type > 2) return KXERR_NOTSUPPORTED;
    if (IsHamBuffer(p)) return KXERR_NOHAM;
    if (p->Type == BITPLANE) {
        KX_GfxBuffer* chunky = nullptr;
        err = KXSUP_BitPlaneToOnePlane8(p, &chunky);
        if (err || !chunky) {
            if (chunky) KXSUP_FreeGfxBuffer(chunky);
            return err ? err : KXERR_NOMEMORY;
        }
        picture.Replace(chunky);
        p = chunky;
    }
    if (p->Type != ONEPLANE) return KXERR_FILEREQUIREMENTS;

    const uint32_t w = work->Width, h = work->Height;
    if (p->Width != w || p->Height != h) {
        if (!scale) return KXERR_SIZEMISMATCH;
        KX_GfxBuffer* scaled = nullptr;
        if (KXP_ScaleSecondImage(Lib, p, w, h, &scaled)) return KXERR_SIZEMISMATCH;
        picture.Replace(scaled);
        p = scaled;
        if (p->Width != w || p->Height != h || p->ColorDepth > 8) return KXERR_SIZEMISMATCH;
    }
    const size_t count = size_t(w) * h;
    if (!p->Data || p->BufferSize < count) return KXERR_FILEREQUIREMENTS;
    memcpy(map, p->Data, count);

    bool ramp = true;
    for (uint32_t i = 0; i < 256 && ramp; ++i) ramp = p->Palette[3 * i] == i && p->Palette[3 * i + 1] == i && p->Palette[3 * i + 2] == i;
    if (ramp) return KXERR_NONE;
    uint8_t grey[256];
    for (uint32_t i = 0; i < 256; ++i) {
        const uint8_t* e = p->Palette + 3 * i;
        grey[i] = uint8_t((e[0] * 30u + e[1] * 59u + e[2] * 11u) / 100);
    }
    for (uint32_t y = 0; y < h; ++y) {
        RowProgress(y, h);
        uint8_t* row = map + size_t(y) * w;
        for (uint32_t x = 0; x < w; ++x) row[x] = grey[row[x]];
    }
    return KXERR_NONE;
}
