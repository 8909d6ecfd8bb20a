// kxpExtractGrayScales: grey levels of any picture (see the header). The
// run is the shared grey ramp; this class reads its own keys and marks the
// result grey.
#include "kxpExtractGrayScales.h"

#include <strings.h>

uint32_t kxpExtractGrayScales::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    Options o = {true, false, Sort::None};
    {
        KXPKeyReader keys(this, false);
        o.quick = keys.Has("QUICK");
        if (keys.Has("SORTED8BIT")) {
            const char* v = keys.Text("SORTED8BIT");
            o.sort = v && strcasecmp(v, "DESCENDING") == 0 ? Sort::Descending : Sort::Ascending;
        }
    }
    KX_GfxBuffer* work = nullptr;
    uint32_t depth = 0;
    uint32_t err = RunGreyRamp(source, result, o, &work, &depth);
    if (err) return err;
    KX_GfxBuffer* r = Result;
    if (work->ColorDepth == 48) KXSUP_SetGfxBufferEndianess(r, KXSUP_GetGfxBufferFlags(work));
    KXSUP_AddGfxBufferFlags(r, KXGFXF_GRAY, 1);
    *result = r;
    return KXERR_NONE;
}
