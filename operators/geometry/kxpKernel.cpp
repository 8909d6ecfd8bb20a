// kxpKernel: the convolution filters' sweep (see the header).
#include "kxpKernel.h"

// Each pass over a chunk must stay a loop of its own: jamming two passes
// into one loop (which -O3 tries) turns the vector code into scalar code.
#pragma GCC optimize("no-loop-unroll-and-jam")

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <type_traits>

#include "kxpBands.h"

#define KXP_INLINE [[gnu::always_inline]] inline
#define KXP_AVX2 __attribute__((target("avx2")))

namespace {

constexpr size_t Chunk = 1024;  // samples per pass: sums and rows stay in the first cache level

using Ticker = kxp_bands::Ticker<KXPRowTick>;

// How a sum becomes a sample.
enum Finish {
    AddOnly,     // divisor 1: S + offset
    FloatQuot,   // trunc(S / d) + offset, the quotient in single precision (exact for |S| < 2^24, |d| <= 2^24)
    DoubleQuot,  // the same in double precision (exact for |S| < 2^53)
    IntQuot,     // the same in 64-bit integers
    RealValue,   // S / d + offset in double precision, truncated after the clamp
};

struct Plan {
    const uint8_t* Src = nullptr;
    uint8_t* Dst = nullptr;
    size_t RowSamples = 0;       // 3 * width
    size_t First = 0, Last = 0;  // interior samples of a row
    uint32_t Taps = 0;           // non-zero matrix entries
    int32_t K[81] = {};
    double KReal[81] = {};
    ptrdiff_t Offset[81] = {};   // of each entry's sample from the centre sample, in samples
    int32_t Divisor = 1;
    int32_t AddInt = 0;          // offset for the 32-bit finishes, limited where that cannot change a result
    int64_t AddWide = 0;
    float DivFloat = 1;
    double DivReal = 1, AddReal = 0;
    int32_t Max = 255;
    // A matrix that is the product of a column u and a row v of integers is
    // summed down the columns with u, then along the row with v: exact, and
    // 2n passes in place of up to n * n. Both lists are padded to threes.
    bool Separable = false;
    uint32_t Half = 1;
    uint32_t URows = 0, VCols = 0;
    int32_t U[9] = {}, V[9] = {};
    ptrdiff_t URow[9] = {};  // row offset of each u entry, in samples
    ptrdiff_t VCol[9] = {};  // column offset of each v entry from the left of the window, in samples
};

template <class A>
KXP_INLINE A Clamp(A v, A max)
{
    return v < 0 ? 0 : v > max ? max : v;
}

template <class S, class A, int F>
KXP_INLINE void FinishChunk(S* __restrict out, const A* __restrict acc, size_t len, const Plan& p)
{
    if constexpr (F == AddOnly) {
        if constexpr (sizeof(A) <= 4) {
            for (size_t i = 0; i < len; i++) out[i] = static_cast<S>(Clamp<int32_t>(int32_t(acc[i]) + p.AddInt, p.Max));
        } else {
            for (size_t i = 0; i < len; i++) out[i] = static_cast<S>(Clamp<int64_t>(int64_t(acc[i]) + p.AddWide, p.Max));
        }
    } else if constexpr (F == FloatQuot) {
        for (size_t i = 0; i < len; i++) {
            const int32_t q = static_cast<int32_t>(static_cast<float>(acc[i]) / p.DivFloat);
            out[i] = static_cast<S>(Clamp<int32_t>(q + p.AddInt, p.Max));
        }
    } else if constexpr (F == DoubleQuot) {
        for (size_t i = 0; i < len; i++) {
            const int64_t q = static_cast<int64_t>(static_cast<double>(acc[i]) / p.DivReal);
            out[i] = static_cast<S>(Clamp<int64_t>(q + p.AddWide, p.Max));
        }
    } else if constexpr (F == IntQuot) {
        for (size_t i = 0; i < len; i++) out[i] = static_cast<S>(Clamp<int64_t>(int64_t(acc[i]) / p.Divisor + p.AddWide, p.Max));
    } else {
        const double max = p.Max;
        for (size_t i = 0; i < len; i++) {
            const double t = static_cast<double>(acc[i]) / p.DivReal + p.AddReal;
            // A sum that is not a number (infinite entries cancelling) counts as 0.
            out[i] = static_cast<S>(t >= 0 ? (t > max ? max : t) : 0);
        }
    }
}

// Three matrix entries over one chunk. The sum is formed left to right,
// so that real sums keep the matrix order; integer sums are exact in A.
template <class S, class A, bool First>
KXP_INLINE void Taps3(A* __restrict acc, const S* __restrict s0, const S* __restrict s1, const S* __restrict s2, size_t len, A c0, A c1, A c2)
{
    for (size_t i = 0; i < len; i++) {
        const A a = First ? A(0) : acc[i];
        acc[i] = static_cast<A>(a + c0 * static_cast<A>(s0[i]) + c1 * static_cast<A>(s1[i]) + c2 * static_cast<A>(s2[i]));
    }
}

// Rows [y0, y1) of the interior: each chunk of a row is summed three
// matrix entries at a time in matrix order, then finished.
template <class S, class A, int F>
KXP_INLINE void ConvolveRows(const Plan& p, uint32_t y0, uint32_t y1, Ticker* ticker)
{
    alignas(64) A acc[Chunk];
    const S* src = reinterpret_cast<const S*>(p.Src);
    S* dst = reinterpret_cast<S*>(p.Dst);
    A c[81];
    for (uint32_t k = 0; k < p.Taps; k++) c[k] = std::is_floating_point_v<A> ? static_cast<A>(p.KReal[k]) : static_cast<A>(p.K[k]);
    const uint32_t taps = p.Taps;  // a multiple of 3
    for (uint32_t y = y0; y < y1; y++) {
        if (ticker) ticker->At(y - y0, y1 - y0);
        const S* centre = src + p.RowSamples * y;
        S* out = dst + p.RowSamples * y;
        for (size_t i0 = p.First; i0 < p.Last; i0 += Chunk) {
            const size_t len = std::min(Chunk, p.Last - i0);
            const S* at = centre + i0;
            Taps3<S, A, true>(acc, at + p.Offset[0], at + p.Offset[1], at + p.Offset[2], len, c[0], c[1], c[2]);
            for (uint32_t k = 3; k < taps; k += 3)
                Taps3<S, A, false>(acc, at + p.Offset[k], at + p.Offset[k + 1], at + p.Offset[k + 2], len, c[k], c[k + 1], c[k + 2]);
            FinishChunk<S, A, F>(out + i0, acc, len, p);
        }
    }
}

// A separable matrix: column sums with u over a chunk widened by the
// window's half on either side, then row sums with v.
template <class S, class A, int F>
KXP_INLINE void SeparableRows(const Plan& p, uint32_t y0, uint32_t y1, Ticker* ticker)
{
    alignas(64) A cols[Chunk + 24];
    alignas(64) A acc[Chunk];
    const S* src = reinterpret_cast<const S*>(p.Src);
    S* dst = reinterpret_cast<S*>(p.Dst);
    A u[9], v[9];
    for (uint32_t k = 0; k < p.URows; k++) u[k] = static_cast<A>(p.U[k]);
    for (uint32_t k = 0; k < p.VCols; k++) v[k] = static_cast<A>(p.V[k]);
    const size_t side = size_t(p.Half) * 3;
    for (uint32_t y = y0; y < y1; y++) {
        if (ticker) ticker->At(y - y0, y1 - y0);
        const S* centre = src + p.RowSamples * y;
        S* out = dst + p.RowSamples * y;
        for (size_t i0 = p.First; i0 < p.Last; i0 += Chunk) {
            const size_t len = std::min(Chunk, p.Last - i0), wide = len + 2 * side;
            const S* at = centre + i0 - side;
            Taps3<S, A, true>(cols, at + p.URow[0], at + p.URow[1], at + p.URow[2], wide, u[0], u[1], u[2]);
            for (uint32_t k = 3; k < p.URows; k += 3)
                Taps3<S, A, false>(cols, at + p.URow[k], at + p.URow[k + 1], at + p.URow[k + 2], wide, u[k], u[k + 1], u[k + 2]);
            Taps3<A, A, true>(acc, cols + p.VCol[0], cols + p.VCol[1], cols + p.VCol[2], len, v[0], v[1], v[2]);
            for (uint32_t k = 3; k < p.VCols; k += 3)
                Taps3<A, A, false>(acc, cols + p.VCol[k], cols + p.VCol[k + 1], cols + p.VCol[k + 2], len, v[k], v[k + 1], v[k + 2]);
            FinishChunk<S, A, F>(out + i0, acc, len, p);
        }
    }
}

// The 3 x 3 mean: column sums of three rows, then three neighbouring
// column sums, divided by the constant 9.
template <class S, class U>
KXP_INLINE void BlurRows(const Plan& p, uint32_t y0, uint32_t y1, Ticker* ticker)
{
    alignas(64) U cols[Chunk + 6];
    const S* src = reinterpret_cast<const S*>(p.Src);
    S* dst = reinterpret_cast<S*>(p.Dst);
    for (uint32_t y = y0; y < y1; y++) {
        if (ticker) ticker->At(y - y0, y1 - y0);
        const S* mid = src + p.RowSamples * y;
        const S* __restrict up = mid - p.RowSamples;
        const S* __restrict down = mid + p.RowSamples;
        S* out = dst + p.RowSamples * y;
        for (size_t i0 = p.First; i0 < p.Last; i0 += Chunk) {
            const size_t len = std::min(Chunk, p.Last - i0);
            const size_t from = i0 - 3;
            for (size_t i = 0; i < len + 6; i++) cols[i] = static_cast<U>(U(up[from + i]) + U(mid[from + i]) + U(down[from + i]));
            S* __restrict o = out + i0;
            for (size_t i = 0; i < len; i++) o[i] = static_cast<S>(static_cast<U>(cols[i] + cols[i + 3] + cols[i + 6]) / 9u);
        }
    }
}

using RowsFn = void (*)(const Plan&, uint32_t, uint32_t, Ticker*);

template <class S, class A, int F>
void RowsPlain(const Plan& p, uint32_t y0, uint32_t y1, Ticker* t)
{
    if constexpr (std::is_integral_v<A>) {
        if (p.Separable) return SeparableRows<S, A, F>(p, y0, y1, t);
    }
    ConvolveRows<S, A, F>(p, y0, y1, t);
}

template <class S, class A, int F>
KXP_AVX2 void RowsAvx2(const Plan& p, uint32_t y0, uint32_t y1, Ticker* t)
{
    if constexpr (std::is_integral_v<A>) {
        if (p.Separable) return SeparableRows<S, A, F>(p, y0, y1, t);
    }
    ConvolveRows<S, A, F>(p, y0, y1, t);
}

template <class S, class U>
void BlurPlain(const Plan& p, uint32_t y0, uint32_t y1, Ticker* t)
{
    BlurRows<S, U>(p, y0, y1, t);
}

template <class S, class U>
KXP_AVX2 void BlurAvx2(const Plan& p, uint32_t y0, uint32_t y1, Ticker* t)
{
    BlurRows<S, U>(p, y0, y1, t);
}

template <class S, class A, int F>
RowsFn Pick()
{
    return KXP_UseAvx2() ? RowsAvx2<S, A, F> : RowsPlain<S, A, F>;
}

template <class S, class A>
RowsFn PickFinish(int f)
{
    switch (f) {
    case AddOnly: return Pick<S, A, AddOnly>();
    case FloatQuot:
        if constexpr (sizeof(A) <= 4) return Pick<S, A, FloatQuot>();
        [[fallthrough]];
    case DoubleQuot: return Pick<S, A, DoubleQuot>();
    case IntQuot: return Pick<S, A, IntQuot>();
    default: return Pick<S, A, RealValue>();
    }
}

// Runs rows over the interior in bands.
uint32_t Sweep(const Plan& p, uint32_t h, uint32_t height, uint64_t tapsPerSample, RowsFn rows, const KXPRowTick& tick)
{
    Ticker ticker(h, height - h, 8, tick);
    const uint64_t work = uint64_t(p.RowSamples) * (height - 2 * h) * (tapsPerSample + 1);
    return kxp_bands::Run(h, height - h, work, [&](uint32_t y0, uint32_t y1, bool caller) {
        rows(p, y0, y1, caller && tick ? &ticker : nullptr);
        return 0u;
    });
}

// Splits an n x n integer matrix into a column u and a row v with
// K[r][c] = u[r] * v[c], when it is one; v is the first non-zero row
// divided by the greatest common divisor of its entries, so every other
// row must be a whole multiple of it.
bool Split(const int32_t* k, uint32_t n, int64_t* u, int64_t* v)
{
    uint32_t r0 = 0;
    while (r0 < n && std::all_of(k + r0 * n, k + r0 * n + n, [](int32_t x) { return x == 0; })) r0++;
    if (r0 == n) return false;
    int64_t g = 0;
    uint32_t c0 = n;
    for (uint32_t c = 0; c < n; c++) {
        g = std::gcd(g, std::llabs(k[r0 * n + c]));
        if (c0 == n && k[r0 * n + c]) c0 = c;
    }
    for (uint32_t c = 0; c < n; c++) v[c] = k[r0 * n + c] / g;
    for (uint32_t r = 0; r < n; r++) {
        if (k[r * n + c0] % v[c0]) return false;
        u[r] = k[r * n + c0] / v[c0];
        for (uint32_t c = 0; c < n; c++)
            if (u[r] * v[c] != k[r * n + c]) return false;
    }
    return true;
}

// Zero entries at the centre fill the last group of three; a matrix of
// zeros keeps one group.
void PadTaps(Plan& p)
{
    while (p.Taps % 3 || !p.Taps) {
        p.K[p.Taps] = 0;
        p.KReal[p.Taps] = 0;
        p.Offset[p.Taps] = 0;
        p.Taps++;
    }
}

Plan BasePlan(const KX_GfxBuffer* src, KX_GfxBuffer* dst, uint32_t half)
{
    Plan p;
    p.Src = src->Data;
    p.Dst = dst->Data;
    p.RowSamples = size_t(src->Width) * 3;
    p.First = size_t(half) * 3;
    p.Last = p.RowSamples - p.First;
    p.Max = src->ColorDepth == 48 ? 65535 : 255;
    return p;
}

}  // namespace

bool KXP_UseAvx2()
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    // Read on every run, so that a test can run the plain loops of an AVX2
    // machine against the same expectations.
    return avx2 && !std::getenv(KXP_PLAIN_KERNELS_ENV);
}

bool KXP_CopyEdgeBand(const KX_GfxBuffer* src, KX_GfxBuffer* dst, uint32_t half)
{
    const uint32_t w = src->Width, h = src->Height, bpp = src->ColorDepth == 48 ? 6 : 3;
    const size_t rowBytes = size_t(w) * bpp;
    if (w <= 2 * half || h <= 2 * half) {
        std::memcpy(dst->Data, src->Data, rowBytes * h);
        return false;
    }
    std::memcpy(dst->Data, src->Data, rowBytes * half);
    std::memcpy(dst->Data + rowBytes * (h - half), src->Data + rowBytes * (h - half), rowBytes * half);
    const size_t edge = size_t(half) * bpp;
    for (uint32_t y = half; y < h - half; y++) {
        std::memcpy(dst->Data + rowBytes * y, src->Data + rowBytes * y, edge);
        std::memcpy(dst->Data + rowBytes * (y + 1) - edge, src->Data + rowBytes * (y + 1) - edge, edge);
    }
    return true;
}

uint32_t KXP_ConvolveInt(const KX_GfxBuffer* src, KX_GfxBuffer* dst, const KXPIntMatrix& m, const KXPRowTick& tick)
{
    const uint32_t n = m.N, half = n / 2;
    if (!KXP_CopyEdgeBand(src, dst, half)) return KXERR_NONE;
    Plan p = BasePlan(src, dst, half);
    uint64_t weight = 0;  // sum of |entries|: the largest sum is weight * Max
    for (uint32_t r = 0; r < n; r++)
        for (uint32_t c = 0; c < n; c++) {
            const int32_t k = m.K[r * n + c];
            if (!k) continue;
            p.K[p.Taps] = k;
            p.Offset[p.Taps] = (ptrdiff_t(r) - half) * ptrdiff_t(p.RowSamples) + (ptrdiff_t(c) - half) * 3;
            p.Taps++;
            weight += static_cast<uint64_t>(std::llabs(k));
        }
    PadTaps(p);
    const uint64_t bound = weight * static_cast<uint64_t>(p.Max);
    int64_t u[9], v[9];
    p.Half = half;
    if (Split(m.K, n, u, v)) {
        uint32_t nu = 0, nv = 0;
        bool fits = true;
        for (uint32_t i = 0; i < n; i++) {
            nu += u[i] != 0;
            nv += v[i] != 0;
            fits = fits && std::llabs(u[i]) <= INT32_MAX && std::llabs(v[i]) <= INT32_MAX;
        }
        // Worth it only when the two passes take fewer entries.
        if (fits && nu + nv < p.Taps) {
            p.Separable = true;
            for (uint32_t i = 0; i < n; i++) {
                if (u[i]) {
                    p.U[p.URows] = static_cast<int32_t>(u[i]);
                    p.URow[p.URows++] = (ptrdiff_t(i) - half) * ptrdiff_t(p.RowSamples);
                }
                if (v[i]) {
                    p.V[p.VCols] = static_cast<int32_t>(v[i]);
                    p.VCol[p.VCols++] = ptrdiff_t(i) * 3;
                }
            }
            while (p.URows % 3) p.URows++;  // zero entries on the centre row
            while (p.VCols % 3) p.VCols++;  // and on the first column
        }
    }
    p.Divisor = m.Divisor;
    p.AddWide = m.Offset;
    p.DivFloat = static_cast<float>(m.Divisor);
    p.DivReal = m.Divisor;
    p.AddReal = m.Offset;

    int f;
    if (m.RealQuotient)
        f = RealValue;
    else if (m.Divisor == 1)
        f = AddOnly;
    else if (bound < (uint64_t(1) << 24) && std::llabs(m.Divisor) <= (int64_t(1) << 24))
        f = FloatQuot;
    else if (bound < (uint64_t(1) << 53))
        f = DoubleQuot;
    else
        f = IntQuot;
    // The 32-bit finishes add a limited offset: beyond the largest
    // quotient q either way, every sample clamps alike whether limited or
    // not, and q + offset cannot overflow. They run only for sums below 2^30.
    const int64_t q = f == FloatQuot ? int64_t(1) << 24 : static_cast<int64_t>(std::min<uint64_t>(bound, uint64_t(1) << 30));
    p.AddInt = static_cast<int32_t>(std::clamp<int64_t>(m.Offset, -q - 1, q + p.Max + 1));

    RowsFn rows;
    const bool narrow = bound < (uint64_t(1) << 30);
    if (src->ColorDepth == 24)
        rows = bound <= 32767 ? PickFinish<uint8_t, int16_t>(f) : narrow ? PickFinish<uint8_t, int32_t>(f) : PickFinish<uint8_t, int64_t>(f);
    else
        rows = narrow ? PickFinish<uint16_t, int32_t>(f) : PickFinish<uint16_t, int64_t>(f);
    return Sweep(p, half, src->Height, p.Separable ? p.URows + p.VCols : p.Taps, rows, tick);
}

uint32_t KXP_ConvolveReal(const KX_GfxBuffer* src, KX_GfxBuffer* dst, const KXPRealMatrix& m, const KXPRowTick& tick)
{
    if (!KXP_CopyEdgeBand(src, dst, 1)) return KXERR_NONE;
    Plan p = BasePlan(src, dst, 1);
    for (uint32_t r = 0; r < 3; r++)
        for (uint32_t c = 0; c < 3; c++) {
            const double k = m.K[r * 3 + c];
            if (k == 0) continue;  // adds nothing but the sign of a zero sum
            p.KReal[p.Taps] = k;
            p.Offset[p.Taps] = (ptrdiff_t(r) - 1) * ptrdiff_t(p.RowSamples) + (ptrdiff_t(c) - 1) * 3;
            p.Taps++;
        }
    PadTaps(p);
    p.DivReal = m.Divisor;
    p.AddReal = m.Offset;
    const RowsFn rows = src->ColorDepth == 24 ? Pick<uint8_t, double, RealValue>() : Pick<uint16_t, double, RealValue>();
    return Sweep(p, 1, src->Height, p.Taps, rows, tick);
}

uint32_t KXP_BoxBlur(const KX_GfxBuffer* src, KX_GfxBuffer* dst, const KXPRowTick& tick)
{
    if (!KXP_CopyEdgeBand(src, dst, 1)) return KXERR_NONE;
    const Plan p = BasePlan(src, dst, 1);
    RowsFn rows;
    if (src->ColorDepth == 24)
        rows = KXP_UseAvx2() ? BlurAvx2<uint8_t, uint16_t> : BlurPlain<uint8_t, uint16_t>;
    else
        rows = KXP_UseAvx2() ? BlurAvx2<uint16_t, uint32_t> : BlurPlain<uint16_t, uint32_t>;
    return Sweep(p, 1, src->Height, 4, rows, tick);
}
