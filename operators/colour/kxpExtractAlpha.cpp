// kxpExtractAlpha: the alpha map as a grey picture (see the header). The
// source's samples are left in their order. Relies on the operator frame
// and the core's alpha-map lender.
#include "kxpExtractAlpha.h"

#include "kxpAlphaCopy.h"

using namespace kxp_alpha;

uint32_t kxpExtractAlpha::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    if (!source || !result) return KXERR_INTERNALACCESS;
    *result = nullptr;
    Restart(this, source);
    if (source->ColorDepth != 24 && source->ColorDepth != 48) return KXERR_NEED24BIT;
    if (source->Type != ONEPLANE || !HoldsRows(source)) return KXERR_FILEREQUIREMENTS;
    if (source->Version <= 2 || !MapKind(source)) return KXERR_NEEDALPHA;
    if (!source->AlphaData) return KXERR_INTERNALACCESS;

    uint32_t err = FetchAlphaMap8(source);
    if (err) return err;
    if (!AlphaMap8) return KXERR_NEEDALPHA;
    if ((err = NewResult(source))) return err;
    KX_GfxBuffer* r = Result;
    r->ColorDepth = r->PixelBits = 8;
    r->NativeDIPF = 0;
    if ((err = KXSUP_CheckSize(&r->BufferSize, source->Width, source->Height))) return err;
    if (!(r->Data = static_cast<uint8_t*>(AllocVec(r->BufferSize, MEMF_ANY)))) return KXERR_NOMEMORY;
    std::memcpy(r->Data, AlphaMap8, r->BufferSize);
    for (uint32_t i = 0; i < 256; ++i) r->Palette[3 * i] = r->Palette[3 * i + 1] = r->Palette[3 * i + 2] = static_cast<uint8_t>(i);
    *result = r;
    return KXERR_NONE;
}
