// kxpConvolveNxN: a 5 x 5, 7 x 7 or 9 x 9 integer matrix. MATRIX_SIZE
// (any case) "5x5" gives 5, "7x7" 7, any other text 9, none 5; then
// MATRIX_LINE1 to MATRIX_LINEn with n "%ld" each (default all 1),
// DIVIDE_EQUAL (default n x n, 0 becomes n x n), ADD_EQUAL (default 0), or
// a matrix file named by MATRIX_FILE (see kxpMatrixKeys); with no pad at
// all the 5 x 5 mean. Every interior sample becomes the weighted sum of its
// channel's neighbours divided by the divisor: 5 x 5 truncates the quotient
// and adds the offset, 7 x 7 and 9 x 9 add the offset to the exact quotient
// and truncate the total; then clamped. The outer n/2 rows and columns are
// copied. 24 and 48 bits (chunky; 48-bit input made host-ordered, the
// offset widened to (offset << 8) | offset). No alpha, no flags.
#include "kxpConvolveNxN.h"

#include <strings.h>

#include <algorithm>

#include "kxpKernel.h"
#include "kxpMatrixKeys.h"

uint32_t kxpConvolveNxN::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputTrueColour(source, result, &work);
    if (!err) err = MakeHostOrder(work);
    if (err) return err;

    KXPIntMatrix m;
    m.N = 5;
    std::fill(m.K, m.K + 25, 1);
    m.Divisor = 25;
    kxp_matrix::ReadPads(this, [&m](KX_ControlPad* pad) {
        m.N = 5;
        if (const char* size = kxp_matrix::Value(pad, "MATRIX_SIZE")) m.N = strcasecmp(size, "5x5") == 0 ? 5 : strcasecmp(size, "7x7") == 0 ? 7 : 9;
        const int32_t all = static_cast<int32_t>(m.N * m.N);
        std::fill(m.K, m.K + 81, 1);
        m.Divisor = all;
        m.Offset = 0;
        for (uint32_t r = 0; r < m.N; r++) kxp_matrix::Longs(kxp_matrix::Value(pad, kxp_matrix::LineKey(r)), m.K + m.N * r, m.N);
        kxp_matrix::Long(pad, "DIVIDE_EQUAL", &m.Divisor);
        kxp_matrix::Long(pad, "ADD_EQUAL", &m.Offset);
        if (!m.Divisor) m.Divisor = all;
    });
    m.RealQuotient = m.N >= 7;
    if (work->ColorDepth == 48) m.Offset = static_cast<int32_t>(static_cast<uint32_t>(m.Offset) << 8 | static_cast<uint32_t>(m.Offset));

    if ((err = NewSameSizeResult(work))) return err;
    const uint64_t rows = work->Height > m.N / 2 ? work->Height - m.N / 2 : 1;
    if ((err = KXP_ConvolveInt(work, Result, m, [this, rows](uint64_t row) { RowProgress(row, rows); }))) return err;
    MarkResult(Result, work, source, 0);
    *result = Result;
    return KXERR_NONE;
}
