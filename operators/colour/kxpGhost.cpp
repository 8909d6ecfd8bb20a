// kxpGhost: the ghost effect (see the header). Each pass is a shifted copy
// of the whole pixel run and a strided copy of one channel; passes go
// source -> result -> temporary -> result ... Relies on the operator frame.
#include "kxpGhost.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

struct VecFree {
    void operator()(uint8_t* p) const { FreeVec(p); }
};

// One pass over n pixels of bpp bytes: D(k) = S(k + 2), then channel
// bytes [off, off + sb) of D(x, y) for x <= w - 3 from S(y w + x + 4).
// Positions past the last pixel read the last pixel.
void Pass(const uint8_t* s, uint8_t* d, uint32_t w, uint32_t h, uint32_t bpp, uint32_t off, uint32_t sb)
{
    const size_t n = size_t(w) * h;
    const size_t shifted = n > 2 ? n - 2 : 0;
    std::memcpy(d, s + 2 * bpp, shifted * bpp);
    for (size_t k = shifted; k < n; ++k) std::memcpy(d + k * bpp, s + (n - 1) * bpp, bpp);
    if (w < 3) return;
    for (uint32_t y = 0; y < h; ++y) {
        const size_t row = size_t(y) * w;
        for (uint32_t x = 0; x + 2 < w; ++x) {
            const size_t k = std::min(row + x + 4, n - 1);
            std::memcpy(d + (row + x) * bpp + off, s + k * bpp + off, sb);
        }
    }
}

}  // namespace

uint32_t kxpGhost::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputTrueColour(source, result, &work);
    if (err) return err;
    if ((err = MakeHostOrder(work))) return err;

    KXPKeyReader keys(this, false);
    static const char* const modes[] = {"RED", "GREEN", "BLUE"};
    const int channel = keys.Word("GHOSTMODE", modes, 3, 0);
    uint32_t passes = keys.ULong("GHOSTFACTOR", 3);
    if (passes == 0) passes = 1;
    if (passes > 16) passes = 16;

    if ((err = NewSameSizeResult(work))) return err;
    KX_GfxBuffer* r = Result;
    const uint32_t w = work->Width, h = work->Height, bpp = KXP_BytesPerPixel(work), sb = bpp / 3;
    std::unique_ptr<uint8_t, VecFree> temp(static_cast<uint8_t*>(AllocVec(size_t(w) * h * bpp, MEMF_ANY)));
    if (!temp) return KXERR_NOMEMORY;

    const uint8_t* from = work->Data;
    uint8_t* to = r->Data;
    for (uint32_t p = 0; p < passes; ++p) {
        if (ProgressHook) ReportProgress(p * 100 / passes);
        Pass(from, to, w, h, bpp, channel * sb, sb);
        from = to;
        to = to == r->Data ? temp.get() : r->Data;
    }
    if (from == temp.get()) std::memcpy(r->Data, temp.get(), size_t(w) * h * bpp);
    MarkResult(r, work, source, 0);
    *result = r;
    return KXERR_NONE;
}
