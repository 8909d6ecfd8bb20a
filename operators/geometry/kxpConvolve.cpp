// kxpConvolve: a 3 x 3 integer matrix (MATRIX_LINE1 to MATRIX_LINE3, three
// "%ld" each, line 1 on top; default all 1), DIVIDE_EQUAL (default 1, 0
// becomes 1) and ADD_EQUAL (default 0), or a matrix file named by
// MATRIX_FILE (see kxpMatrixKeys); with no pad at all the 3 x 3 mean
// (divisor 9). Every interior sample becomes the weighted sum of its
// channel's neighbours, divided with truncation toward zero, plus the
// offset, clamped; the outer rows and columns are copied. 24 and 48 bits
// (chunky; 48-bit input made host-ordered, the offset widened to
// (offset << 8) | offset). No alpha and no flags are carried over.
#include "kxpConvolve.h"

#include <algorithm>

#include "kxpKernel.h"
#include "kxpMatrixKeys.h"

uint32_t kxpConvolve::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputTrueColour(source, result, &work);
    if (!err) err = MakeHostOrder(work);
    if (err) return err;

    KXPIntMatrix m;
    std::fill(m.K, m.K + 9, 1);
    m.Divisor = 9;
    kxp_matrix::ReadPads(this, [&m](KX_ControlPad* pad) {
        std::fill(m.K, m.K + 9, 1);
        m.Divisor = 1;
        m.Offset = 0;
        for (uint32_t r = 0; r < 3; r++) kxp_matrix::Longs(kxp_matrix::Value(pad, kxp_matrix::LineKey(r)), m.K + 3 * r, 3);
        kxp_matrix::Long(pad, "DIVIDE_EQUAL", &m.Divisor);
        kxp_matrix::Long(pad, "ADD_EQUAL", &m.Offset);
        if (!m.Divisor) m.Divisor = 1;
    });
    if (work->ColorDepth == 48) m.Offset = static_cast<int32_t>(static_cast<uint32_t>(m.Offset) << 8 | static_cast<uint32_t>(m.Offset));

    if ((err = NewSameSizeResult(work))) return err;
    const uint64_t rows = work->Height - 1;
    if ((err = KXP_ConvolveInt(work, Result, m, [this, rows](uint64_t row) { RowProgress(row, rows); }))) return err;
    MarkResult(Result, work, source, 0);
    *result = Result;
    return KXERR_NONE;
}
