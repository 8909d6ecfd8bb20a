// kxpAlphaTo8Bit: 16- to 8-bit alpha (see the header). Relies on the
// operator frame and the core's alpha conversions.
#include "kxpAlphaTo8Bit.h"

#include "kxpAlphaCopy.h"

using namespace kxp_alpha;

uint32_t kxpAlphaTo8Bit::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    if (!source || !result) return KXERR_INTERNALACCESS;
    *result = nullptr;
    Restart(this, source);
    if (source->ColorDepth != 24 && source->ColorDepth != 48) return KXERR_NEED24BIT;
    if (source->Type != ONEPLANE || !HoldsRows(source)) return KXERR_FILEREQUIREMENTS;
    const uint32_t kind = MapKind(source);
    if (source->Version <= 2 || !kind) return KXERR_NEEDALPHA;
    if (!source->AlphaData) return KXERR_INTERNALACCESS;

    uint32_t err = MakeHostOrder(source);
    if (err) return err;
    if ((err = NewResult(source))) return err;
    KX_GfxBuffer* r = Result;
    if ((err = CopyPixels(r, source))) return err;
    const size_t pixels = size_t(source->Width) * source->Height;
    auto* map = static_cast<uint8_t*>(AllocVec(pixels, MEMF_ANY));
    if (!map) return KXERR_NOMEMORY;
    if (kind == KXALPHA_CHANNEL16)
        KXSUP_Convert16To8Bit(static_cast<const uint16_t*>(source->AlphaData), map, source->Width, source->Height,
                              KXSUP_GetGfxBufferEndianess(source), 1);
    else
        std::memcpy(map, source->AlphaData, pixels);
    AttachAlphaMap(r, map);
    MarkResult(r, source, source, CarryAll);
    *result = r;
    return KXERR_NONE;
}
