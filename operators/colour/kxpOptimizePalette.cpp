// kxpOptimizePalette: palette redundancy removal (see the header). Relies
// on the operator frame's palette input check and result record and on
// the core's colours-to-depth rule.
#include "kxpOptimizePalette.h"

#include <cstring>

uint32_t kxpOptimizePalette::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    if (!source || !result) return KXERR_INTERNALACCESS;
    *result = nullptr;
    // The depth tests come before the type test here.
    if (source->ColorDepth == 48) return KXERR_NO48BIT;
    if (source->ColorDepth == 24) return KXERR_NO24BIT;
    if (source->ColorDepth > 8) return KXERR_FILEREQUIREMENTS;
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputPalette(source, result, &work);
    if (err) return err;
    if (IsEhbBuffer(source)) return KXERR_NOEHB;

    if ((err = NewResult(work))) return err;
    KX_GfxBuffer* r = Result;
    MarkResult(r, work, source, CarryAll);
    if ((err = AllocSameSizePixels(r, work))) {
        DropResult();
        return err;
    }

    const size_t pixels = static_cast<size_t>(work->Width) * work->Height;
    const uint8_t* in = work->Data;
    bool used[256] = {};
    for (size_t i = 0; i < pixels; ++i) used[in[i]] = true;

    // New entries in the order of the old indices; an index whose colour
    // is already among them maps to that entry.
    uint8_t map[256] = {};
    uint8_t palette[256 * 3] = {};
    uint32_t colours = 0;
    for (uint32_t i = 0; i < 256; ++i) {
        if (!used[i]) continue;
        const uint8_t* c = work->Palette + 3 * i;
        uint32_t k = 0;
        while (k < colours && std::memcmp(palette + 3 * k, c, 3) != 0) ++k;
        if (k == colours) std::memcpy(palette + 3 * colours++, c, 3);
        map[i] = static_cast<uint8_t>(k);
    }
    std::memcpy(r->Palette, palette, sizeof palette);
    uint8_t* out = r->Data;
    for (size_t i = 0; i < pixels; ++i) out[i] = map[in[i]];
    r->ColorDepth = KXSUP_ColorsToDepth(colours);
    *result = r;
    return KXERR_NONE;
}
