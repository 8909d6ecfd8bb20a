// kxpStripAlpha: every kind of alpha removed (see the header). Only the
// layout is checked: any chunky picture, and any bit-plane picture the
// core can make chunky, is taken. Relies on the operator frame.
#include "kxpStripAlpha.h"

#include "kxpAlphaCopy.h"

using namespace kxp_alpha;

uint32_t kxpStripAlpha::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    if (!source || !result) return KXERR_INTERNALACCESS;
    *result = nullptr;
    Restart(this, source);
    if (source->Type > 2) return KXERR_NOTSUPPORTED;
    KX_GfxBuffer* work = source;
    if (source->Type == BITPLANE) {
        KX_GfxBuffer* copy = nullptr;
        uint32_t err = KXSUP_BitPlaneToOnePlane8(source, &copy);
        if (err || !copy) {
            if (copy) KXSUP_FreeGfxBuffer(copy);
            return err ? err : KXERR_NOMEMORY;
        }
        if (Scratch1) KXSUP_FreeGfxBuffer(Scratch1);
        Scratch1 = work = copy;
    } else if (source->Type != ONEPLANE) {
        return KXERR_FILEREQUIREMENTS;
    }
    if (work->BufferSize && !work->Data) return KXERR_FILEREQUIREMENTS;
    uint32_t err = work->ColorDepth == 48 ? MakeHostOrder(work) : KXERR_NONE;
    if (err) return err;
    if ((err = NewResult(work))) return err;
    KX_GfxBuffer* r = Result;
    if (source->Version < 2) {
        r->Version = 1;
        r->NativeDIPF = 0;
    }
    if ((err = CopyPixels(r, work))) return err;
    MarkResult(r, work, source, CarryAll);
    *result = r;
    return KXERR_NONE;
}
