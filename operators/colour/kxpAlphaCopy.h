// kxpAlphaCopy: the little the alpha operators share: the layout test of
// a chunky picture they check themselves, and a result's pixels copied
// from its work image.
#pragma once

#include <cstring>

#include "operators/kxpFrame.h"

namespace kxp_alpha {

// A chunky picture whose block holds its rows: width, height and pixel
// data present, rows of the depth's pixels within the buffer size.
inline bool HoldsRows(const KX_GfxBuffer* b)
{
    uint32_t size = 0;
    return b->Width && b->Height && b->Data && KXSUP_CheckedSize(&size, b->Width, b->Height, KXP_BytesPerPixel(b)) &&
           size <= b->BufferSize;
}

// Gives the result a copy of the work image's pixel block (its whole
// buffer size); 3 when there is no memory.
inline uint32_t CopyPixels(KX_GfxBuffer* result, const KX_GfxBuffer* work)
{
    result->BufferSize = work->BufferSize;
    result->Data = nullptr;
    if (!work->BufferSize) return KXERR_NONE;
    result->Data = static_cast<uint8_t*>(AllocVec(work->BufferSize, MEMF_ANY));
    if (!result->Data) return KXERR_NOMEMORY;
    std::memcpy(result->Data, work->Data, work->BufferSize);
    return KXERR_NONE;
}

// The kind of alpha a picture holds, by the core's one rule, counted as a
// map only on 24- and 48-bit chunky pictures.
inline uint32_t MapKind(const KX_GfxBuffer* b)
{
    const uint32_t kind = KXSUP_AlphaHolds(b);
    const bool map = kind == KXALPHA_CHANNEL8 || kind == KXALPHA_CHANNEL16;
    return map && (b->PixelBits == 24 || b->PixelBits == 48) ? kind : KXALPHA_NONE;
}

// The start of a run that checks its input itself: an undetached result
// of an earlier run is freed, or, when it is this run's source, kept in
// the second work slot until Reset; the alpha map of the earlier source
// is released.
inline void Restart(KXOperator* op, KX_GfxBuffer* source)
{
    if (op->Result) {
        if (op->Result == source) {
            if (op->Scratch2) KXSUP_FreeGfxBuffer(op->Scratch2);
            op->Scratch2 = op->Result;
        } else {
            KXSUP_FreeGfxBuffer(op->Result);
        }
        op->Result = nullptr;
    }
    if (op->AlphaMap8) {
        if (op->AlphaMap8Owned) FreeVec(op->AlphaMap8);
        op->AlphaMap8 = nullptr;
        op->AlphaMap8Owned = 0;
    }
}

}  // namespace kxp_alpha
