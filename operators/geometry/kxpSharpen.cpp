// kxpSharpen: the 3 x 3 matrix
//     0  -1   0
//    -1   s  -2
//     0  -2   0
// with s = SHARPNESS ("%ld", default 11, limited to 7..15) and the divisor
// s - 6, the sum of the entries, so that flat areas keep their value: 7 is
// the strongest, 15 the mildest. The quotient is truncated toward zero and
// clamped; the outer rows and columns are copied. 24 and 48 bits (chunky;
// 48-bit input made host-ordered). No alpha, no flags.
#include "kxpSharpen.h"

#include <algorithm>

#include "kxpKernel.h"
#include "kxpMatrixKeys.h"

uint32_t kxpSharpen::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputTrueColour(source, result, &work);
    if (!err) err = MakeHostOrder(work);
    if (err) return err;

    int32_t s = 11;
    kxp_matrix::Longs(KXPKeyReader(this, false).Text("SHARPNESS"), &s, 1);
    s = s < 7 ? 7 : s > 15 ? 15 : s;
    KXPIntMatrix m;
    const int32_t k[9] = {0, -1, 0, -1, s, -2, 0, -2, 0};
    std::copy(k, k + 9, m.K);
    m.Divisor = s - 6;

    if ((err = NewSameSizeResult(work))) return err;
    const uint64_t rows = work->Height - 1;
    if ((err = KXP_ConvolveInt(work, Result, m, [this, rows](uint64_t row) { RowProgress(row, rows); }))) return err;
    MarkResult(Result, work, source, 0);
    *result = Result;
    return KXERR_NONE;
}
