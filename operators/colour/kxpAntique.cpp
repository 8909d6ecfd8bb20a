// kxpAntique: the grey ramp of any picture, tinted (see the header).
#include "kxpAntique.h"

uint32_t kxpAntique::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    int mode = 0;
    {
        KXPKeyReader keys(this, false);
        static const char* const modes[] = {"MODE_1", "MODE_2", "MODE_3", "MODE_4", "MODE_5"};
        mode = keys.Word("MODE", modes, 5, 0);
    }
    KX_GfxBuffer* work = nullptr;
    uint32_t depth = 0;
    uint32_t err = RunGreyRamp(source, result, {false, false, Sort::None}, &work, &depth);
    if (err) return err;
    KX_GfxBuffer* r = Result;
    const uint32_t q = uint32_t(mode) + 2, d = q + 1;
    for (uint32_t i = 0; i < (1u << depth); ++i) {
        uint8_t* e = r->Palette + 3 * i;
        e[1] = uint8_t(e[0] * q / d);
        e[2] = uint8_t(e[1] * q / d);
    }
    if (work->ColorDepth <= 8 && (err = CarryAlpha(r, work))) return err;
    if (work->ColorDepth == 48) KXSUP_SetGfxBufferEndianess(r, KXSUP_GetGfxBufferFlags(work));
    *result = r;
    return KXERR_NONE;
}
