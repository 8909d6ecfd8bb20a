// kxpInvertAlpha: inverts palette alpha into a table and true-colour alpha
// into an 8-bit map (see the header). A palette picture is taken as it is
// stored, any layout and HAM included; a true-colour picture must be
// chunky 24 or 48 bits. Relies on the operator frame.
#include "kxpInvertAlpha.h"

#include "kxpAlphaCopy.h"

using namespace kxp_alpha;

namespace {

enum NoAlpha { Ignore, Error, Opaque, Transparent };

}  // namespace

uint32_t kxpInvertAlpha::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    if (!source || !result) return KXERR_INTERNALACCESS;
    *result = nullptr;
    Restart(this, source);
    const bool palette = source->ColorDepth < 24;
    if (palette && source->ColorDepth > 8) return KXERR_FILEREQUIREMENTS;
    if (palette && source->BufferSize && !source->Data) return KXERR_FILEREQUIREMENTS;
    // Only 24 and 48 bits have a layout to copy.
    if (!palette && (source->Type != ONEPLANE || (source->ColorDepth != 24 && source->ColorDepth != 48) || !HoldsRows(source)))
        return KXERR_FILEREQUIREMENTS;
    uint32_t err = KXERR_NONE;
    if (!palette && ((err = MakeHostOrder(source)) || (err = FetchAlphaMap8(source)))) return err;

    static const char* const words[] = {"IGNORE", "ERROR", "OPAQUE", "TRANSPARENT"};
    const int rule = KXPKeyReader(this, true).Word("NO_ALPHA", words, 4, Ignore);

    if ((err = NewResult(source))) return err;
    KX_GfxBuffer* r = Result;
    r->Type = palette ? source->Type : ONEPLANE;  // bit planes stay bit planes here
    if (!palette) {
        r->NativeDIPF = 0;
        r->ColorDepth = r->PixelBits = source->ColorDepth == 24 ? 24 : 48;
    }
    if ((err = CopyPixels(r, source))) return err;

    const size_t count = palette ? 256 : size_t(source->Width) * source->Height;
    auto* alpha = static_cast<uint8_t*>(AllocVec(count, MEMF_ANY));
    if (!alpha) return KXERR_NOMEMORY;
    const uint32_t kind = KXSUP_AlphaHolds(source);
    bool inverted = true;
    if (palette && kind == KXALPHA_SINGLECOLOR) {
        std::memset(alpha, 0, 256);
        alpha[KXSUP_AlphaIndex(source) & 255] = 255;
    } else if (palette && kind == KXALPHA_MULTICOLOR && source->AlphaData) {
        for (size_t i = 0; i < 256; ++i) alpha[i] = static_cast<uint8_t>(255 - KXSUP_AlphaBytes(source)[i]);
    } else if (!palette && AlphaMap8) {
        const uint32_t w = source->Width, h = source->Height;
        for (uint32_t y = 0; y < h; ++y) {
            RowProgress(y, h);
            const uint8_t* in = AlphaMap8 + size_t(y) * w;
            uint8_t* out = alpha + size_t(y) * w;
            for (uint32_t x = 0; x < w; ++x) out[x] = static_cast<uint8_t>(255 - in[x]);
        }
    } else {
        inverted = false;
    }
    if (!inverted && (rule == Ignore || rule == Error)) {
        FreeVec(alpha);
        alpha = nullptr;
        if (rule == Error) {
            DropResult();
            return KXERR_NEEDALPHA;
        }
    } else if (!inverted) {
        std::memset(alpha, rule == Opaque ? 255 : 0, count);
    }
    r->Version = 3;
    r->AlphaType = alpha ? (palette ? KXALPHA_MULTICOLOR : KXALPHA_CHANNEL8) : KXALPHA_NONE;
    r->AlphaData = alpha;
    MarkResult(r, source, source, CarryAll);
    *result = r;
    return KXERR_NONE;
}
