// kxpConvolveFloat: a 3 x 3 matrix of real numbers (MATRIX_LINE1 to
// MATRIX_LINE3, three "%lf" each; default all 1.0), DIVIDE_EQUAL (default
// 1.0, exactly 0.0 becomes 1.0) and ADD_EQUAL (default 0.0), or a matrix
// file named by MATRIX_FILE (see kxpMatrixKeys); with no pad at all the
// 3 x 3 mean (divisor 9.0). Every interior sample becomes the weighted sum
// of its channel's neighbours in double precision (row-major order),
// divided, plus the offset, clamped and truncated toward zero; the outer
// rows and columns are copied. 24 and 48 bits (chunky; 48-bit input made
// host-ordered, the offset times 257). No alpha, no flags. "inf" and "nan"
// count as text that is no number, as a setting is never an error: a line
// stops there and a divisor or offset keeps its default.
#include "kxpConvolveFloat.h"

#include <algorithm>
#include <cmath>

#include "kxpKernel.h"
#include "kxpMatrixKeys.h"

uint32_t kxpConvolveFloat::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputTrueColour(source, result, &work);
    if (!err) err = MakeHostOrder(work);
    if (err) return err;

    KXPRealMatrix m;
    std::fill(m.K, m.K + 9, 1.0);
    m.Divisor = 9;
    kxp_matrix::ReadPads(this, [&m](KX_ControlPad* pad) {
        std::fill(m.K, m.K + 9, 1.0);
        m.Divisor = 1;
        m.Offset = 0;
        for (uint32_t r = 0; r < 3; r++) {
            double line[3];
            const uint32_t n = kxp_matrix::Reals(kxp_matrix::Value(pad, kxp_matrix::LineKey(r)), line, 3);
            for (uint32_t c = 0; c < n && std::isfinite(line[c]); c++) m.K[3 * r + c] = line[c];
        }
        double v = 0;
        if (kxp_matrix::Real(pad, "DIVIDE_EQUAL", &v) && std::isfinite(v)) m.Divisor = v;
        if (kxp_matrix::Real(pad, "ADD_EQUAL", &v) && std::isfinite(v)) m.Offset = v;
        if (m.Divisor == 0.0) m.Divisor = 1;
    });
    if (work->ColorDepth == 48) m.Offset *= 257;

    if ((err = NewSameSizeResult(work))) return err;
    const uint64_t rows = work->Height - 1;
    if ((err = KXP_ConvolveReal(work, Result, m, [this, rows](uint64_t row) { RowProgress(row, rows); }))) return err;
    MarkResult(Result, work, source, 0);
    *result = Result;
    return KXERR_NONE;
}
