// kxpAlphaTo16Bit: 8- to 16-bit alpha (see the header). Relies on the
// operator frame and the core's alpha conversions.
#include "kxpAlphaTo16Bit.h"

#include "kxpAlphaCopy.h"

using namespace kxp_alpha;

uint32_t kxpAlphaTo16Bit::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    if (!source || !result) return KXERR_INTERNALACCESS;
    *result = nullptr;
    Restart(this, source);
    if (source->ColorDepth != 48) return KXERR_NEED48BIT;
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
    auto* map = static_cast<uint16_t*>(AllocVec(pixels * 2, MEMF_ANY));
    if (!map) return KXERR_NOMEMORY;
    if (kind == KXALPHA_CHANNEL8) KXSUP_Convert8To16Bit(KXSUP_AlphaBytes(source), map, source->Width, source->Height);
    else std::memcpy(map, source->AlphaData, pixels * 2);
    r->Version = 3;
    r->AlphaType = KXALPHA_CHANNEL16;
    r->AlphaData = map;
    MarkResult(r, source, source, CarryAll);
    if (kind == KXALPHA_CHANNEL8) KXSUP_AddGfxBufferFlags(r, KXGFXF_ALPHASRC8BIT, 1);
    *result = r;
    return KXERR_NONE;
}
