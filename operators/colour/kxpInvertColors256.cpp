// kxpInvertColors256: mirrors the palette of a palette picture (see the
// header). Relies on the operator frame's palette input check and result
// record.
#include "kxpInvertColors256.h"

#include <algorithm>
#include <cstring>

uint32_t kxpInvertColors256::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputPalette(source, result, &work);
    if (err) return err;
    if ((err = NewSameSizeResult(work))) {
        DropResult();
        return err;
    }
    KX_GfxBuffer* r = Result;
    std::memcpy(r->Data, work->Data, static_cast<size_t>(work->Width) * work->Height);

    const uint32_t n = 1u << std::min<uint32_t>(work->ColorDepth, 8);
    for (uint32_t i = 0; i < n / 2; ++i)
        std::swap_ranges(r->Palette + 3 * i, r->Palette + 3 * i + 3, r->Palette + 3 * (n - 1 - i));
    MarkResult(r, work, source, CarryAll);
    *result = r;
    return KXERR_NONE;
}
