// kxpPaletteDither: 24-bit RGB to a palette taken from another picture
// (see the header). The reference is loaded by a reader object of its own;
// completion and mapping are the quantiser's. Relies on the operator
// frame, kxquant and the second-picture loader.
#include "kxpPaletteDither.h"

#include <algorithm>

#include "kxpSecondImage.h"
#include "kxquant.h"

uint32_t kxpPaletteDither::CompletePalette(const uint8_t* pixels, uint32_t width, uint32_t height, KXQEntry* entries, uint32_t p, uint32_t n)
{
    if (p >= n) return KXERR_NONE;
    const uint8_t mask = n > 32 ? 0xFF : 0xF0;
    auto* histogram = static_cast<uint16_t*>(AllocVec(KXQ_HISTOGRAM_SIZE * sizeof(uint16_t), MEMF_CLEAR));
    if (!histogram) return KXERR_NOMEMORY;
    const uint64_t count = uint64_t(width) * height;
    for (uint64_t i = 0; i < count; ++i, pixels += 3) {
        uint16_t& c = histogram[KXQ_ColorKey(pixels[0] & mask, pixels[1] & mask, pixels[2] & mask)];
        // Saturate: a full bucket must never read as empty.
        if (c != 0xFFFF) ++c;
    }
    for (uint32_t i = 0; i < p; ++i) histogram[KXQ_ColorKey(entries[i].R, entries[i].G, entries[i].B)] = 0;

    uint32_t occupied = 0;
    for (uint32_t k = 0; k < KXQ_HISTOGRAM_SIZE; ++k) occupied += histogram[k] ? 1 : 0;
    auto* list = static_cast<KXQBox*>(AllocVec(sizeof(KXQBox) * std::max<uint32_t>(occupied, 1), MEMF_ANY));
    if (!list) {
        FreeVec(histogram);
        return KXERR_NOMEMORY;
    }
    uint32_t d = 0;
    for (uint32_t k = 0; k < KXQ_HISTOGRAM_SIZE; ++k)
        if (histogram[k]) list[d++] = {histogram[k], uint16_t(k)};
    FreeVec(histogram);

    const uint32_t m = n - p;
    KXQEntry* built = entries + p;
    uint32_t err = KXERR_NONE;
    if (d <= m) {
        for (uint32_t j = 0; j < d; ++j) {
            const uint32_t k = list[j].Key;
            built[j] = {uint8_t(((k >> 10) & 31) * 8), uint8_t(((k >> 5) & 31) * 8), uint8_t((k & 31) * 8), 0};
        }
        for (uint32_t j = d; j < m; ++j) built[j] = {0, 0, 0, 0};
    } else {
        err = SplitColorBox(list, d, 0, m, built);
        for (uint32_t j = 0; !err && j < m; ++j) built[j] = {uint8_t(built[j].R & mask), uint8_t(built[j].G & mask), uint8_t(built[j].B & mask), 0};
    }
    FreeVec(list);
    return err;
}

uint32_t kxpPaletteDither::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputTrueColour(source, result, &work, true);
    if (err) return err;
    if ((err = NewResult(work))) return err;

    KXPKeyReader keys(this, false);
    const uint32_t depth = keys.Depth("COLORDEPTH");
    uint32_t keep = std::min(keys.Depth("PALETTEDEPTH"), depth);
    const char* path = keys.Text("PALETTEFILE");
    if (!path) path = "not_specified";
    static const char* const modes[] = {"BESTPEN", "ORDERED", "BURKES"};
    static const uint32_t methods[] = {KXQ_METHOD_BESTPEN, KXQ_METHOD_ORDERED, KXQ_METHOD_BURKES};
    const int mode = keys.Word("DITHERMODE", modes, 3, -1);
    const uint32_t method = mode < 0 ? uint32_t(KXQ_METHOD_FLOYD) : methods[mode];

    const uint32_t w = work->Width, h = work->Height;
    uint32_t bytes = 0;
    if (!KXSUP_CheckedSize(&bytes, w, h)) return KXERR_NOMEMORY;
    KX_GfxBuffer* r = Result;
    r->ColorDepth = depth;
    r->PixelBits = 8;
    r->BufferSize = bytes;
    r->ViewMode = KXSUP_BestModeID(w, h, depth);
    r->NativeDIPF = 0;
    r->AlphaType = KXALPHA_NONE;
    if (!(r->Data = static_cast<uint8_t*>(AllocVec(bytes, MEMF_ANY)))) return KXERR_NOMEMORY;

    KX_GfxBuffer* reference = nullptr;
    if ((err = KXP_LoadSecondImage(Lib, path, &reference))) return err;
    const uint32_t referenceDepth = reference->ColorDepth;
    if (referenceDepth <= 8) CopyMem(reference->Palette, r->Palette, sizeof r->Palette);
    KXSUP_FreeGfxBuffer(reference);
    if (referenceDepth > 8) return KXERR_FILEREQUIREMENTS;
    keep = std::min(keep, std::max<uint32_t>(referenceDepth, 1));

    const uint32_t n = 1u << depth, p = 1u << keep;
    KXQEntry entries[256] = {};
    for (uint32_t i = 0; i < n; ++i) entries[i] = {r->Palette[3 * i], r->Palette[3 * i + 1], r->Palette[3 * i + 2], 0};
    if (p < n && (err = CompletePalette(work->Data, w, h, entries, p, n))) return err;

    KXQProgress progress = {[](void* op, uint32_t percent) { static_cast<kxpPaletteDither*>(op)->ReportProgress(percent); }, this};
    if ((err = MapToPalette(work->Data, r->Data, w, h, entries, n, method, ProgressHook ? &progress : nullptr))) return err;
    // Sorted by the mapper: each index names the entry it was chosen from.
    for (uint32_t i = 0; i < n; ++i) {
        r->Palette[3 * i] = entries[i].R;
        r->Palette[3 * i + 1] = entries[i].G;
        r->Palette[3 * i + 2] = entries[i].B;
    }
    *result = r;
    return KXERR_NONE;
}
