// kxpMedian: every interior sample becomes the smallest ("LOWER"), the
// middle ("MEDIAN", the default) or the largest ("UPPER") of the nine
// samples of its channel in the 3 x 3 window around it (METHOD, key
// matched with case, word in any case; any other word keeps the median).
// The outer rows and columns are copied; a picture less than 3 pixels wide
// or high comes back unchanged. 24 and 48 bits (chunky; 48-bit input made
// host-ordered). No alpha and no flags are carried over.
//
// Each window column is sorted once (low, middle, high) and serves the
// three outputs beside it: the minimum is the least of three lows, the
// maximum the greatest of three highs, and the median the middle of the
// greatest low, the middle of the middles and the least high, which is
// the exact median of nine. Whole chunks of a row at a time in vector
// code; rows in bands on threads.
#include "kxpMedian.h"

#include <algorithm>

#include "kxpBands.h"
#include "kxpKernel.h"

#define KXP_INLINE [[gnu::always_inline]] inline

namespace {

constexpr size_t Chunk = 1024;
enum Method { Lower = 0, Middle = 4, Upper = 8 };

using Ticker = kxp_bands::Ticker<KXPRowTick>;

template <class S>
KXP_INLINE S Min(S a, S b) { return b < a ? b : a; }
template <class S>
KXP_INLINE S Max(S a, S b) { return a < b ? b : a; }
template <class S>
KXP_INLINE S Med(S a, S b, S c) { return Max(Min(a, b), Min(Max(a, b), c)); }

struct Job {
    const uint8_t* Src;
    uint8_t* Dst;
    size_t RowSamples;  // 3 * width
};

template <class S, int M>
KXP_INLINE void MedianRows(const Job& j, uint32_t y0, uint32_t y1, Ticker* ticker)
{
    alignas(64) S lo[Chunk + 6], mid[Chunk + 6], hi[Chunk + 6];
    const S* src = reinterpret_cast<const S*>(j.Src);
    S* dst = reinterpret_cast<S*>(j.Dst);
    const size_t first = 3, last = j.RowSamples - 3;
    for (uint32_t y = y0; y < y1; y++) {
        if (ticker) ticker->At(y - y0, y1 - y0);
        const S* __restrict a = src + j.RowSamples * (y - 1);
        const S* __restrict b = a + j.RowSamples;
        const S* __restrict c = b + j.RowSamples;
        S* __restrict out = dst + j.RowSamples * y;
        for (size_t i0 = first; i0 < last; i0 += Chunk) {
            const size_t len = std::min(Chunk, last - i0), from = i0 - 3;
            // The columns, each sorted once.
            for (size_t i = 0; i < len + 6; i++) {
                const S p = a[from + i], q = b[from + i], r = c[from + i];
                if constexpr (M != Upper) lo[i] = Min(Min(p, q), r);
                if constexpr (M == Middle) mid[i] = Med(p, q, r);
                if constexpr (M != Lower) hi[i] = Max(Max(p, q), r);
            }
            S* __restrict o = out + i0;
            for (size_t i = 0; i < len; i++) {
                if constexpr (M == Lower) {
                    o[i] = Min(Min(lo[i], lo[i + 3]), lo[i + 6]);
                } else if constexpr (M == Upper) {
                    o[i] = Max(Max(hi[i], hi[i + 3]), hi[i + 6]);
                } else {
                    const S l = Max(Max(lo[i], lo[i + 3]), lo[i + 6]);
                    const S m = Med(mid[i], mid[i + 3], mid[i + 6]);
                    const S h = Min(Min(hi[i], hi[i + 3]), hi[i + 6]);
                    o[i] = Med(l, m, h);
                }
            }
        }
    }
}

using RowsFn = void (*)(const Job&, uint32_t, uint32_t, Ticker*);

template <class S, int M>
void RowsPlain(const Job& j, uint32_t y0, uint32_t y1, Ticker* t)
{
    MedianRows<S, M>(j, y0, y1, t);
}

template <class S, int M>
__attribute__((target("avx2"))) void RowsAvx2(const Job& j, uint32_t y0, uint32_t y1, Ticker* t)
{
    MedianRows<S, M>(j, y0, y1, t);
}

template <class S>
RowsFn Pick(int method)
{
    const bool avx2 = KXP_UseAvx2();
    switch (method) {
    case Lower: return avx2 ? RowsAvx2<S, Lower> : RowsPlain<S, Lower>;
    case Upper: return avx2 ? RowsAvx2<S, Upper> : RowsPlain<S, Upper>;
    default: return avx2 ? RowsAvx2<S, Middle> : RowsPlain<S, Middle>;
    }
}

}  // namespace

uint32_t kxpMedian::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputTrueColour(source, result, &work);
    if (!err) err = MakeHostOrder(work);
    if (!err) err = NewSameSizeResult(work);
    if (err) return err;

    static const char* const words[] = {"LOWER", "MEDIAN", "UPPER"};
    static const int positions[] = {Lower, Middle, Upper};
    const int method = positions[KXPKeyReader(this, false).Word("METHOD", words, 3, 1)];

    KX_GfxBuffer* r = Result;
    if (KXP_CopyEdgeBand(work, r, 1)) {
        const uint32_t h = work->Height;
        const Job job{work->Data, r->Data, size_t(work->Width) * 3};
        const RowsFn rows = work->ColorDepth == 24 ? Pick<uint8_t>(method) : Pick<uint16_t>(method);
        const uint64_t rowsCounted = h - 1;
        Ticker ticker(1, h - 1, 8, [this, rowsCounted](uint64_t row) { RowProgress(row, rowsCounted); });
        kxp_bands::Run(1, h - 1, uint64_t(job.RowSamples) * (h - 2) * 4, [&](uint32_t y0, uint32_t y1, bool caller) {
            rows(job, y0, y1, caller && ProgressHook ? &ticker : nullptr);
            return 0u;
        });
    }
    MarkResult(r, work, source, 0);
    *result = r;
    return KXERR_NONE;
}
