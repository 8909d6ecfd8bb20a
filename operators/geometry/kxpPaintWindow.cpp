// kxpPaintWindow: the paint filters' sliding window (see the header).
#include "kxpPaintWindow.h"

#include <cstring>
#include <memory>

#include "kxpBands.h"
#include "kxpKernel.h"

#define KXP_INLINE [[gnu::always_inline]] inline

namespace {

using Ticker = kxp_bands::Ticker<std::function<void(uint64_t)>>;

constexpr uint32_t MaxCount = 225;  // (2 * 7 + 1)^2 samples in the largest window

// The most frequent value, the lowest of a tie: per count the set of
// values that have it, and the highest count held.
struct Commonest {
    uint8_t Count[256];
    uint64_t Values[MaxCount + 2][4];
    uint32_t Top;
    void Clear()
    {
        std::memset(Count, 0, sizeof Count);
        std::memset(Values, 0, sizeof Values);
        std::memset(Values[0], 0xFF, sizeof Values[0]);
        Top = 0;
    }
    KXP_INLINE void Move(uint8_t v, uint32_t from, uint32_t to)
    {
        const uint64_t bit = uint64_t(1) << (v & 63);
        Values[from][v >> 6] &= ~bit;
        Values[to][v >> 6] |= bit;
    }
    KXP_INLINE void Add(uint8_t v)
    {
        const uint32_t c = Count[v]++;
        Move(v, c, c + 1);
        if (c + 1 > Top) Top = c + 1;
    }
    KXP_INLINE void Remove(uint8_t v)
    {
        const uint32_t c = Count[v]--;
        Move(v, c, c - 1);
        // v now has c - 1: when no value is left at the top, that is the top.
        if (c == Top) {
            const uint64_t* t = Values[c];
            if (!(t[0] | t[1] | t[2] | t[3])) Top = c - 1;
        }
    }
    KXP_INLINE uint8_t Result() const
    {
        const uint64_t* t = Values[Top];
        for (int w = 0; w < 4; w++)
            if (t[w]) return static_cast<uint8_t>(w * 64 + __builtin_ctzll(t[w]));
        return 0;
    }
};

struct Job {
    const uint8_t* Src;
    uint8_t* Dst;
    int64_t W, N;  // width and pixels
    int64_t G;
};

// The three values of pixel q (black outside the picture).
template <bool Wide, bool Checked>
KXP_INLINE void Pixel(const Job& j, int64_t q, uint8_t v[3])
{
    if (Checked && (q < 0 || q >= j.N)) {
        v[0] = v[1] = v[2] = 0;
        return;
    }
    if constexpr (Wide) {
        const uint16_t* s = reinterpret_cast<const uint16_t*>(j.Src) + q * 3;
        v[0] = static_cast<uint8_t>(s[0] >> 8);
        v[1] = static_cast<uint8_t>(s[1] >> 8);
        v[2] = static_cast<uint8_t>(s[2] >> 8);
    } else {
        const uint8_t* s = j.Src + q * 3;
        v[0] = s[0];
        v[1] = s[1];
        v[2] = s[2];
    }
}

// From the window of pixel p to that of p + 1.
template <class T, bool Wide, bool Checked>
KXP_INLINE void Slide(const Job& j, T* t, int64_t p)
{
    for (int64_t dy = -j.G; dy <= j.G; dy++) {
        const int64_t base = p + dy * j.W;
        uint8_t out[3], in[3];
        Pixel<Wide, Checked>(j, base - j.G, out);
        Pixel<Wide, Checked>(j, base + j.G + 1, in);
        for (int c = 0; c < 3; c++)
            if (out[c] != in[c]) {
                t[c].Add(in[c]);
                t[c].Remove(out[c]);
            }
    }
}

template <class T, bool Wide>
uint32_t PaintRows(const Job& j, uint32_t y0, uint32_t y1, Ticker* ticker)
{
    std::unique_ptr<T[]> t(new (std::nothrow) T[3]);
    if (!t) return KXERR_NOMEMORY;
    for (int c = 0; c < 3; c++) t[c].Clear();
    const int64_t p0 = int64_t(y0) * j.W, p1 = int64_t(y1) * j.W;
    for (int64_t dy = -j.G; dy <= j.G; dy++)
        for (int64_t dx = -j.G; dx <= j.G; dx++) {
            uint8_t v[3];
            Pixel<Wide, true>(j, p0 + dy * j.W + dx, v);
            for (int c = 0; c < 3; c++) t[c].Add(v[c]);
        }
    // Pixels whose whole window, and the next pixel's, lies inside.
    const int64_t safeFrom = j.G * j.W + j.G, safeTo = j.N - j.G * j.W - j.G - 1;
    for (int64_t p = p0; p < p1; p++) {
        if (ticker && p % j.W == 0) ticker->At(uint64_t(p - p0) / j.W, y1 - y0);
        if constexpr (Wide) {
            uint16_t* d = reinterpret_cast<uint16_t*>(j.Dst) + p * 3;
            for (int c = 0; c < 3; c++) d[c] = static_cast<uint16_t>(t[c].Result() * 257u);
        } else {
            uint8_t* d = j.Dst + p * 3;
            for (int c = 0; c < 3; c++) d[c] = t[c].Result();
        }
        if (p + 1 == p1) break;
        if (p >= safeFrom && p < safeTo)
            Slide<T, Wide, false>(j, t.get(), p);
        else
            Slide<T, Wide, true>(j, t.get(), p);
    }
    return KXERR_NONE;
}


// DigiPaint: the largest value of a window is the largest of its runs'
// largest values, and outside positions (black) never raise a maximum.
// So each row is first reduced to the largest value of the run of 2g + 1
// around every position (in linear order, across row ends), and the result
// row is the largest of the 2g + 1 run rows at multiples of the width. The
// run rows live in a ring of 2g + 1 rows. 48-bit samples are compared
// whole: the largest sample has the largest high byte.
template <class S>
struct DigiRows {
    const Job& J;
    size_t RowSamples;
    KXP_INLINE void RunRow(int64_t r, S* out) const
    {
        const S* src = reinterpret_cast<const S*>(J.Src);
        const int64_t total = J.N * 3, start = r * int64_t(RowSamples), g3 = J.G * 3;
        if (start - g3 >= 0 && start + int64_t(RowSamples) + g3 <= total) {
            const S* s = src + start;
            for (size_t i = 0; i < RowSamples; i++) out[i] = s[int64_t(i) - g3];
            for (int64_t k = -J.G + 1; k <= J.G; k++) {
                const S* __restrict t = s + k * 3;
                for (size_t i = 0; i < RowSamples; i++) out[i] = out[i] < t[i] ? t[i] : out[i];
            }
            return;
        }
        for (size_t i = 0; i < RowSamples; i++) {
            S m = 0;
            for (int64_t k = -J.G; k <= J.G; k++) {
                const int64_t q = start + int64_t(i) + 3 * k;
                if (q >= 0 && q < total && src[q] > m) m = src[q];
            }
            out[i] = m;
        }
    }
};

template <class S>
KXP_INLINE uint32_t DigiBand(const Job& j, uint32_t y0, uint32_t y1, Ticker* ticker)
{
    const size_t rowSamples = size_t(j.W) * 3;
    const int64_t g = j.G, ring = 2 * g + 1;
    std::unique_ptr<S[]> runs(new (std::nothrow) S[rowSamples * ring]);
    if (!runs) return KXERR_NOMEMORY;
    const DigiRows<S> rows{j, rowSamples};
    auto slot = [&](int64_t r) { return runs.get() + rowSamples * size_t(((r % ring) + ring) % ring); };
    // A run row above the first or below the last row still reaches into
    // the picture at its end or start.
    auto touches = [&](int64_t r) { return r * j.W + j.W - 1 + g >= 0 && r * j.W - g < j.N; };
    for (int64_t r = int64_t(y0) - g; r < int64_t(y0) + g; r++)
        if (touches(r)) rows.RunRow(r, slot(r));
    S* dst = reinterpret_cast<S*>(j.Dst);
    for (uint32_t y = y0; y < y1; y++) {
        if (ticker) ticker->At(y - y0, y1 - y0);
        if (touches(int64_t(y) + g)) rows.RunRow(int64_t(y) + g, slot(int64_t(y) + g));
        S* __restrict out = dst + rowSamples * y;
        bool first = true;
        for (int64_t r = int64_t(y) - g; r <= int64_t(y) + g; r++) {
            if (!touches(r)) continue;
            const S* __restrict in = slot(r);
            if (first) {
                for (size_t i = 0; i < rowSamples; i++) out[i] = in[i];
                first = false;
            } else {
                for (size_t i = 0; i < rowSamples; i++) out[i] = out[i] < in[i] ? in[i] : out[i];
            }
        }
        if constexpr (sizeof(S) == 2)
            for (size_t i = 0; i < rowSamples; i++) out[i] = static_cast<S>((out[i] >> 8) * 257u);
    }
    return KXERR_NONE;
}

template <class S>
uint32_t DigiPlain(const Job& j, uint32_t y0, uint32_t y1, Ticker* t)
{
    return DigiBand<S>(j, y0, y1, t);
}

template <class S>
__attribute__((target("avx2"))) uint32_t DigiAvx2(const Job& j, uint32_t y0, uint32_t y1, Ticker* t)
{
    return DigiBand<S>(j, y0, y1, t);
}

}  // namespace

uint32_t KXP_PaintWindow(const KX_GfxBuffer* src, KX_GfxBuffer* dst, uint32_t g, KXPPaint kind, uint32_t step,
                         const std::function<void(uint64_t row)>& tick)
{
    const Job j{src->Data, dst->Data, src->Width, int64_t(src->Width) * src->Height, g};
    const bool wide = src->ColorDepth == 48;
    using RowsFn = uint32_t (*)(const Job&, uint32_t, uint32_t, Ticker*);
    RowsFn rows;
    if (kind == KXPPaint::Oil)
        rows = wide ? PaintRows<Commonest, true> : PaintRows<Commonest, false>;
    else if (KXP_UseAvx2())
        rows = wide ? DigiAvx2<uint16_t> : DigiAvx2<uint8_t>;
    else
        rows = wide ? DigiPlain<uint16_t> : DigiPlain<uint8_t>;
    Ticker ticker(0, src->Height, step, tick);
    const uint64_t work = uint64_t(j.N) * (2 * g + 1) * 12;
    return kxp_bands::Run(0, src->Height, work, [&](uint32_t y0, uint32_t y1, bool caller) {
        return rows(j, y0, y1, caller && tick ? &ticker : nullptr);
    });
}
