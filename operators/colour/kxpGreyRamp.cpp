// kxpGreyRamp: the grey-ramp run shared by kxpExtractGrayScales and
// kxpAntique (see the header). Relies on the operator frame.
#include "kxpGreyRamp.h"

#include <cstring>

namespace {

inline uint32_t Luminance(uint32_t r, uint32_t g, uint32_t b) { return (r * 30 + g * 59 + b * 11) / 100; }
inline uint32_t Quick(uint32_t r, uint32_t g, uint32_t b) { return r / 4 + g / 2 + b / 8; }

void SetGrey(uint8_t* palette, uint32_t i, uint32_t v) { palette[3 * i] = palette[3 * i + 1] = palette[3 * i + 2] = uint8_t(v); }

}  // namespace

uint32_t kxpGreyRamp::RunGreyRamp(KX_GfxBuffer* source, KX_GfxBuffer** result, const Options& o, KX_GfxBuffer** workOut, uint32_t* depthOut)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputAnyDepth(source, result, &work);
    if (err) return err;
    *workOut = work;
    if ((err = MakeHostOrder(work))) return err;

    KXPKeyReader keys(this, false);
    const bool palette = work->ColorDepth <= 8;
    uint32_t d = keys.Depth("COLORDEPTH");
    if (palette && d > work->ColorDepth) d = work->ColorDepth;
    *depthOut = d;
    const uint32_t s = 256u >> d, n = 1u << d, shift = 8 - d;

    const uint32_t w = work->Width, h = work->Height;
    uint32_t bytes = 0;
    if ((err = KXSUP_CheckSize(&bytes, w, h))) return KXERR_NOMEMORY;
    if ((err = NewResult(work))) return err;
    KX_GfxBuffer* r = Result;
    if (o.extract && !palette) r->NativeDIPF = 0;
    r->ColorDepth = d;
    r->PixelBits = 8;
    r->BufferSize = bytes;
    if (!(r->Data = static_cast<uint8_t*>(AllocVec(bytes, MEMF_ANY)))) return KXERR_NOMEMORY;

    // A 24- or 48-bit picture marked grey holds its level in every sample.
    const bool redOnly = o.extract && !palette && (KXSUP_GetGfxBufferFlags(work) & KXGFXF_GRAY);
    const bool quick = o.extract && o.quick;

    // Index of each source index (palette) or grey level (true colour).
    uint8_t index[256];
    uint8_t* pal = r->Palette;
    if (palette && work->ColorDepth == d) {
        // Indices stay; the entries turn grey.
        for (uint32_t i = 0; i < 256; ++i) index[i] = uint8_t(i);
        for (uint32_t i = 0; i < n; ++i) SetGrey(pal, i, Luminance(work->Palette[3 * i], work->Palette[3 * i + 1], work->Palette[3 * i + 2]));
        if (o.extract && d == 1) {
            const uint32_t l0 = Luminance(work->Palette[0], work->Palette[1], work->Palette[2]);
            const uint32_t l1 = Luminance(work->Palette[3], work->Palette[4], work->Palette[5]);
            const bool zeroDark = l0 < l1;
            SetGrey(pal, 0, zeroDark ? 0 : 255);
            SetGrey(pal, 1, zeroDark ? 255 : 0);
        }
    } else {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t g = i;
            if (palette) {
                const uint8_t* p = work->Palette + 3 * i;
                g = quick ? Quick(p[0], p[1], p[2]) : Luminance(p[0], p[1], p[2]);
            }
            index[i] = uint8_t(g >> shift);
        }
        if (!palette && d == 8) {
            for (uint32_t i = 0; i < 256; ++i) SetGrey(pal, i, i);
        } else if (o.extract && palette) {
            for (uint32_t i = 0; i < n; ++i) SetGrey(pal, i, i * s);
            SetGrey(pal, n - 1, 255);
        } else {
            // The brightest level the pixels use is 256 - s, not white.
            for (uint32_t i = 0; i < 256; ++i) SetGrey(pal, i, (i * s) & 255);
            SetGrey(pal, 255, 255);
        }
    }

    // Re-sorting by brightness, folded into the same table.
    if (o.extract && o.sort != Sort::None) {
        uint8_t renumber[256];
        const bool down = o.sort == Sort::Descending;
        for (uint32_t k = 0; k < 256; ++k) renumber[k] = uint8_t((down ? 255 - pal[3 * k] : pal[3 * k]) / s);
        for (uint32_t i = 0; i < 256; ++i) index[i] = renumber[index[i]];
        if (down) {
            for (uint32_t i = 0; i < 256; ++i) SetGrey(pal, i, (((255 - i) & 255) * s) & 255);
            SetGrey(pal, 0, 255);
        } else {
            for (uint32_t i = 0; i < 256; ++i) SetGrey(pal, i, (i * s) & 255);
            SetGrey(pal, 255, 255);
        }
    }

    if (palette) {
        // The palette cases make no progress calls.
        const uint8_t* in = work->Data;
        uint8_t* out = r->Data;
        for (size_t i = 0, count = size_t(w) * h; i < count; ++i) out[i] = index[in[i]];
        return KXERR_NONE;
    }

    // Per channel weights in tables; index[] takes the grey level on.
    uint32_t wr[256], wg[256], wb[256];
    for (uint32_t v = 0; v < 256; ++v) {
        wr[v] = quick ? (v / 4) * 100 : v * 30;
        wg[v] = quick ? (v / 2) * 100 : v * 59;
        wb[v] = quick ? (v / 8) * 100 : v * 11;
    }
    const bool deep = work->ColorDepth == 48;
    for (uint32_t y = 0; y < h; ++y) {
        RowProgress(y, h);
        uint8_t* out = r->Data + size_t(y) * w;
        if (!deep) {
            const uint8_t* in = work->Data + size_t(y) * w * 3;
            if (redOnly)
                for (uint32_t x = 0; x < w; ++x) out[x] = index[in[3 * x]];
            else
                for (uint32_t x = 0; x < w; ++x, in += 3) out[x] = index[(wr[in[0]] + wg[in[1]] + wb[in[2]]) / 100];
        } else {
            // Host order (little-endian): the high byte of a sample is its second.
            const uint8_t* in = work->Data + size_t(y) * w * 6;
            if (redOnly)
                for (uint32_t x = 0; x < w; ++x) out[x] = index[in[6 * x + 1]];
            else
                for (uint32_t x = 0; x < w; ++x, in += 6) out[x] = index[(wr[in[1]] + wg[in[3]] + wb[in[5]]) / 100];
        }
    }
    return KXERR_NONE;
}
