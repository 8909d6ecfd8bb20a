// kxpOptimizeAlpha: removes alpha that is fully opaque (see the header).
// Relies on the operator frame.
#include "kxpOptimizeAlpha.h"

#include "kxpAlphaCopy.h"

using namespace kxp_alpha;

namespace {

bool AllOpaque(const uint8_t* a, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (a[i] != 255) return false;
    return true;
}

}  // namespace

uint32_t kxpOptimizeAlpha::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputAnyDepth(source, result, &work);
    if (err) return err;
    if ((err = MakeHostOrder(work)) || (err = FetchAlphaMap8(work))) return err;
    if ((err = NewSameSizeResult(work))) return err;
    KX_GfxBuffer* r = Result;
    std::memcpy(r->Data, work->Data, size_t(work->Width) * work->Height * KXP_BytesPerPixel(work));

    const size_t pixels = size_t(work->Width) * work->Height;
    const uint32_t kind = KXSUP_AlphaHolds(work);
    if (AlphaMap8 && (work->PixelBits == 24 || work->PixelBits == 48)) {
        if (!AllOpaque(AlphaMap8, pixels)) {
            auto* map = static_cast<uint8_t*>(AllocVec(pixels, MEMF_ANY));
            if (!map) return KXERR_NOMEMORY;
            std::memcpy(map, AlphaMap8, pixels);
            AttachAlphaMap(r, map);
        }
    } else if (kind == KXALPHA_SINGLECOLOR || (kind == KXALPHA_MULTICOLOR && work->AlphaData && !AllOpaque(KXSUP_AlphaBytes(work), 256))) {
        if ((err = CarryAlpha(r, work))) return err;
    }
    MarkResult(r, work, source, CarryAll);
    *result = r;
    return KXERR_NONE;
}
