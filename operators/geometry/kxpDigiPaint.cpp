// kxpDigiPaint: every pixel takes, in each channel, the largest value of
// its window, black positions outside the picture included (see
// kxpPaintWindow for the window, whose rows run on into the neighbouring
// rows). The window is 2g + 1 pixels square, g = GRANULARITY ("%ld", default 3, limited to
// 1..7). 24 and 48 bits (chunky; 48-bit input made host-ordered, counted
// by the samples' high bytes, the result that byte times 257). No alpha
// and no flags are carried over. Progress before every 8th row (48 bits:
// every 4th), by the number of rows.
#include "kxpDigiPaint.h"

#include "kxpMatrixKeys.h"
#include "kxpPaintWindow.h"

uint32_t kxpDigiPaint::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputTrueColour(source, result, &work);
    if (!err) err = MakeHostOrder(work);
    if (!err) err = NewSameSizeResult(work);
    if (err) return err;

    int32_t g = 3;
    kxp_matrix::Longs(KXPKeyReader(this, false).Text("GRANULARITY"), &g, 1);
    g = g < 1 ? 1 : g > 7 ? 7 : g;
    const uint64_t rows = work->Height;
    err = KXP_PaintWindow(work, Result, static_cast<uint32_t>(g), KXPPaint::Digi, work->ColorDepth == 48 ? 4 : 8,
                          [this, rows](uint64_t row) { ReportProgress(static_cast<uint32_t>(row * 100 / rows)); });
    if (err) return err;
    MarkResult(Result, work, source, 0);
    *result = Result;
    return KXERR_NONE;
}
