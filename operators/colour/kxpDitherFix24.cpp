// kxpDitherFix24: 24-bit RGB to a fixed grey ramp or colour grid (see the
// header). The grid search is the quantiser's cached nearest-entry search;
// the grey ramp is mapped through tables of the 256 grey values. Relies on
// the operator frame and kxquant.
#include "kxpDitherFix24.h"

#include <algorithm>
#include <cstring>

#include "kxquant.h"

namespace {

// The grey levels of the ramp (48 is not among them).
constexpr uint8_t kGreyLevels[16] = {0, 16, 32, 64, 80, 96, 112, 128, 144, 160, 176, 192, 208, 224, 240, 255};

// Grid levels: R and G 16, 48, ..., 240 (8 each), B 32, 96, 160, 224.
inline uint8_t GridRG(uint32_t i) { return uint8_t(16 + 32 * i); }
inline uint8_t GridB(uint32_t i) { return uint8_t(32 + 64 * i); }

// Below 8 bits the grid is thinned per channel so that every channel keeps
// levels across its whole range (taking every k-th colour of the full grid
// would leave some depths with one blue level only). Indices into the
// grid's levels.
constexpr uint8_t kRG8[8] = {0, 1, 2, 3, 4, 5, 6, 7};
constexpr uint8_t kRG4[4] = {0, 2, 5, 7};
constexpr uint8_t kB4[4] = {0, 1, 2, 3};
constexpr uint8_t kB2[2] = {0, 3};

struct Thinned {
    const uint8_t *r, *g, *b;
    uint32_t nr, ng, nb;
};

inline int32_t Clamp255(int32_t v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

inline uint32_t Grey(const uint8_t* p, bool quick)
{
    return quick ? uint32_t(p[0] / 4 + p[1] / 2 + p[2] / 8) : (30u * p[0] + 59u * p[1] + 11u * p[2]) / 100;
}

// Pen for a colour of the grid palette, inline for the mapper's loops.
inline uint32_t FixedPen(int32_t r, int32_t g, int32_t b, const KXQEntry* e, uint32_t n, int16_t* cache)
{
    r = Clamp255(r);
    g = Clamp255(g);
    b = Clamp255(b);
    if (r < 8 && g < 8 && b < 8) return 0;
    const uint32_t key = KXQ_ColorKey(uint32_t(r), uint32_t(g), uint32_t(b));
    if (cache[key] >= 0) return uint32_t(cache[key]);
    const uint32_t best = FindBestPen(r, g, b, e, n, nullptr);
    cache[key] = int16_t(best);
    return best;
}

}  // namespace

uint32_t kxpDitherFix24::FixedPalette(uint32_t depth, KXQEntry* entries)
{
    if (depth <= 4) {
        // 4: every level; 3: every second; 2: every fourth; 1: black and
        // white; the last entry is white in each.
        const uint32_t n = 1u << depth, step = 16 / n;
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t v = i + 1 == n ? 255 : kGreyLevels[i * step];
            entries[i] = {v, v, v, 0};
        }
        return n;
    }
    if (depth >= 8) {
        entries[0] = {0, 0, 0, 0};
        for (uint32_t m = 0; m < 254; ++m) entries[m + 1] = {GridRG(m / 32), GridRG((m / 4) % 8), GridB(m % 4), 0};
        entries[255] = {255, 255, 255, 0};
        return 256;
    }
    const Thinned t = depth == 7 ? Thinned{kRG8, kRG4, kB4, 8, 4, 4} : depth == 6 ? Thinned{kRG4, kRG4, kB4, 4, 4, 4} : Thinned{kRG4, kRG4, kB2, 4, 4, 2};
    uint32_t n = 0;
    for (uint32_t ir = 0; ir < t.nr; ++ir)
        for (uint32_t ig = 0; ig < t.ng; ++ig)
            for (uint32_t ib = 0; ib < t.nb; ++ib) entries[n++] = {GridRG(t.r[ir]), GridRG(t.g[ig]), GridB(t.b[ib]), 0};
    // Black and white take the darkest and the brightest grid colour's
    // places, which keeps the entries in ascending order of R.
    entries[0] = {0, 0, 0, 0};
    entries[n - 1] = {255, 255, 255, 0};
    return n;
}

uint32_t kxpDitherFix24::FindBestFixedPen(int32_t r, int32_t g, int32_t b, const KXQEntry* entries, uint32_t n, int16_t* cache)
{
    if (!entries || !n) return 0;
    if (!cache) {
        if (Clamp255(r) < 8 && Clamp255(g) < 8 && Clamp255(b) < 8) return 0;
        return FindBestPen(r, g, b, entries, n, nullptr);
    }
    return FixedPen(r, g, b, entries, n, cache);
}

uint32_t kxpDitherFix24::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputTrueColour(source, result, &work, true);
    if (err) return err;
    if ((err = NewResult(work))) return err;

    KXPKeyReader keys(this, false);
    const uint32_t depth = keys.Depth("COLORDEPTH");
    const bool thumb = keys.Has("THUMBDITHER");
    const uint32_t thumbW = thumb ? keys.ULong("THUMB_WIDTH", 0) : 0;
    const uint32_t thumbH = thumb ? keys.ULong("THUMB_HEIGHT", 0) : 0;
    const bool quick = depth <= 4 && keys.Has("QUICK");
    static const char* const modes[] = {"BESTPEN"};
    const bool floyd = keys.Word("DITHERMODE", modes, 1, -1) != 0;

    const uint32_t w = work->Width, h = work->Height;
    uint32_t bytes = 0;
    if (!KXSUP_CheckedSize(&bytes, w, h)) return KXERR_NOMEMORY;
    KX_GfxBuffer* r = Result;
    r->ColorDepth = depth;
    r->PixelBits = 8;
    r->BufferSize = bytes;
    r->ViewMode = KXSUP_BestModeID(w, h, depth);
    r->NativeDIPF = 0;
    r->AlphaType = KXALPHA_NONE;
    r->Data = static_cast<uint8_t*>(AllocVec(bytes, MEMF_ANY));
    if (!r->Data) return KXERR_NOMEMORY;

    err = depth >= 5 ? MapGrid(work, r, depth, floyd) : MapGrey(work, r, depth, floyd, quick);
    if (!err && thumb) err = PadForThumbnail(r, thumbW, thumbH);
    if (err) return err;
    *result = r;
    return KXERR_NONE;
}

uint32_t kxpDitherFix24::MapGrid(const KX_GfxBuffer* work, KX_GfxBuffer* r, uint32_t depth, bool floyd)
{
    KXQEntry entries[256] = {};
    const uint32_t n = FixedPalette(depth, entries);
    for (uint32_t i = 0; i < n; ++i) {
        r->Palette[3 * i] = entries[i].R;
        r->Palette[3 * i + 1] = entries[i].G;
        r->Palette[3 * i + 2] = entries[i].B;
    }

    const uint32_t w = work->Width, h = work->Height;
    uint32_t rowBytes = 0;
    // Two error rows of R, G, B per pixel and a guard pixel on each side.
    if (!KXSUP_CheckedSize(&rowBytes, uint64_t(w) + 2, 3 * sizeof(int32_t), 2)) return KXERR_NOMEMORY;
    auto* cache = static_cast<int16_t*>(AllocVec(KXQ_HISTOGRAM_SIZE * sizeof(int16_t), MEMF_ANY));
    auto* rows = floyd ? static_cast<int32_t*>(AllocVec(rowBytes, MEMF_CLEAR)) : nullptr;
    if (!cache || (floyd && !rows)) {
        FreeVec(cache);
        FreeVec(rows);
        return KXERR_NOMEMORY;
    }
    std::fill(cache, cache + KXQ_HISTOGRAM_SIZE, int16_t(-1));
    const size_t stride = size_t(w) * 3;
    const uint8_t* pixels = work->Data;
    uint8_t* indices = r->Data;

    if (!floyd) {
        // The quantiser's visiting order: it decides which colour binds
        // each cache entry.
        auto pen = [&](uint32_t x, uint32_t y) {
            const uint8_t* s = pixels + y * stride + size_t(x) * 3;
            indices[y * size_t(w) + x] = uint8_t(FixedPen(s[0], s[1], s[2], entries, n, cache));
        };
        for (uint32_t x = 0; x < w; ++x) pen(x, 0);
        for (uint32_t y = 0; y < h; ++y) pen(0, y);
        for (uint32_t y = 0; y < h; ++y) pen(w - 1, y);
        for (uint32_t y = 1; y < h; ++y) {
            RowProgress(y, h);
            for (uint32_t x = 1; x + 1 < w; ++x) pen(x, y);
        }
    } else {
        const size_t span = 3 * (size_t(w) + 2);
        int32_t* cur = rows;
        int32_t* next = rows + span;
        for (uint32_t y = 0; y < h; ++y) {
            RowProgress(y, h);
            std::fill(next, next + span, 0);
            const uint8_t* src = pixels + y * stride;
            uint8_t* out = indices + y * size_t(w);
            // Serpentine: even rows left to right, odd rows back.
            const bool forward = (y & 1) == 0;
            const int64_t step = forward ? 1 : -1, s3 = 3 * step;
            int64_t x = forward ? 0 : int64_t(w) - 1;
            for (uint32_t i = 0; i < w; ++i, x += step) {
                const int64_t p = 3 * (x + 1);
                const uint8_t* s = src + 3 * x;
                int32_t v[3];
                for (int c = 0; c < 3; ++c) v[c] = Clamp255(int32_t(s[c]) + (cur[p + c] >> 10));
                const uint32_t idx = FixedPen(v[0], v[1], v[2], entries, n, cache);
                out[x] = uint8_t(idx);
                const int32_t chosen[3] = {entries[idx].R, entries[idx].G, entries[idx].B};
                for (int c = 0; c < 3; ++c) {
                    const int32_t E = (v[c] - chosen[c]) * 1024;
                    cur[p + c + s3] += (E * 7) >> 4;
                    next[p + c - s3] += (E * 3) >> 4;
                    next[p + c] += (E * 5) >> 4;
                    next[p + c + s3] += E >> 4;
                }
            }
            std::swap(cur, next);
        }
    }
    FreeVec(cache);
    FreeVec(rows);
    return KXERR_NONE;
}

uint32_t kxpDitherFix24::MapGrey(const KX_GfxBuffer* work, KX_GfxBuffer* r, uint32_t depth, bool floyd, bool quick)
{
    KXQEntry entries[16] = {};
    const uint32_t n = FixedPalette(depth, entries);
    for (uint32_t i = 0; i < n; ++i) r->Palette[3 * i] = r->Palette[3 * i + 1] = r->Palette[3 * i + 2] = entries[i].R;

    // Index of each grey value: the nearest level (lowest index on ties)
    // for the diffusion, the smallest level not below it for best pen.
    uint8_t nearest[256], notBelow[256];
    for (int32_t v = 0; v < 256; ++v) {
        uint32_t best = 0, above = 0;
        int32_t d = 1 << 30, m = 1 << 30;
        for (uint32_t i = 0; i < n; ++i) {
            const int32_t diff = int32_t(entries[i].R) - v;
            if (diff * diff < d) d = diff * diff, best = i;
            const int32_t mod = diff & 255;
            if (mod < m) m = mod, above = i;
        }
        nearest[v] = uint8_t(best);
        notBelow[v] = uint8_t(above);
    }

    const uint32_t w = work->Width, h = work->Height;
    uint32_t rowBytes = 0;
    if (!KXSUP_CheckedSize(&rowBytes, uint64_t(w) + 2, sizeof(int32_t), 2)) return KXERR_NOMEMORY;
    auto* rows = floyd ? static_cast<int32_t*>(AllocVec(rowBytes, MEMF_CLEAR)) : nullptr;
    if (floyd && !rows) return KXERR_NOMEMORY;
    const size_t span = size_t(w) + 2;
    int32_t* cur = rows;
    int32_t* next = floyd ? rows + span : nullptr;

    for (uint32_t y = 0; y < h; ++y) {
        RowProgress(y, h);
        const uint8_t* src = work->Data + size_t(y) * w * 3;
        uint8_t* out = r->Data + size_t(y) * w;
        if (!floyd) {
            for (uint32_t x = 0; x < w; ++x) out[x] = notBelow[Grey(src + 3 * x, quick)];
            continue;
        }
        std::fill(next, next + span, 0);
        const bool forward = (y & 1) == 0;
        const int64_t step = forward ? 1 : -1;
        int64_t x = forward ? 0 : int64_t(w) - 1;
        for (uint32_t i = 0; i < w; ++i, x += step) {
            const int64_t p = x + 1;
            const int32_t v = Clamp255(int32_t(Grey(src + 3 * x, quick)) + (cur[p] >> 10));
            const uint32_t idx = nearest[v];
            out[x] = uint8_t(idx);
            const int32_t E = (v - int32_t(entries[idx].R)) * 1024;
            cur[p + step] += (E * 7) >> 4;
            next[p - step] += (E * 3) >> 4;
            next[p] += (E * 5) >> 4;
            next[p + step] += E >> 4;
        }
        std::swap(cur, next);
    }
    FreeVec(rows);
    return KXERR_NONE;
}

uint32_t kxpDitherFix24::PadForThumbnail(KX_GfxBuffer* r, uint32_t wantW, uint32_t wantH)
{
    const uint32_t w = r->Width, h = r->Height;
    const uint32_t pw = std::max(wantW, w), ph = std::max(wantH, h);
    if (pw == w && ph == h) return KXERR_NONE;
    // Sizes come from keys without an upper bound: whatever cannot be
    // held is memory that is not there.
    uint32_t bytes = 0;
    if (!KXSUP_CheckedSize(&bytes, pw, ph)) return KXERR_NOMEMORY;
    auto* padded = static_cast<uint8_t*>(AllocVec(bytes, MEMF_CLEAR));
    if (!padded) return KXERR_NOMEMORY;
    if (pw == w) {
        memcpy(padded, r->Data, size_t(w) * h);
    } else {
        for (uint32_t y = 0; y < h; ++y) memcpy(padded + size_t(y) * pw, r->Data + size_t(y) * w, w);
    }
    FreeVec(r->Data);
    r->Data = padded;
    r->Width = pw;
    r->Height = ph;
    r->BufferSize = bytes;
    return KXERR_NONE;
}
