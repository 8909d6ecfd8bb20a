// kxpBlur: the 3 x 3 mean: every interior sample becomes the sum of its
// channel's nine neighbours divided by 9, truncated. The outer rows and
// columns are copied from the source, as the other filters copy them. No
// keys. 24 and 48 bits (chunky; 48-bit input made host-ordered). No alpha,
// no flags.
#include "kxpBlur.h"

#include "kxpKernel.h"

uint32_t kxpBlur::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputTrueColour(source, result, &work);
    if (!err) err = MakeHostOrder(work);
    if (!err) err = NewSameSizeResult(work);
    if (err) return err;
    const uint64_t rows = work->Height - 1;
    if ((err = KXP_BoxBlur(work, Result, [this, rows](uint64_t row) { RowProgress(row, rows); }))) return err;
    MarkResult(Result, work, source, 0);
    *result = Result;
    return KXERR_NONE;
}
