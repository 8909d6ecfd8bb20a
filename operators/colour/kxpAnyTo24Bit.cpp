// kxpAnyTo24Bit: any depth to chunky 24-bit RGB (see the header). HAM and
// EHB pictures are accepted; a HAM picture of a depth other than 6 or 8
// has no decoding and comes out black. A 48-bit source is first brought
// into big-endian order in place and stays so. Relies on the operator
// frame and the core's byte-order helpers.
#include "kxpAnyTo24Bit.h"

#include "kxpDepthRows.h"

using namespace kxp_depth;

namespace {

// 48-bit samples go big-endian in place; the core records the new order
// with them and leaves a source already marked so alone, locked or not.
uint32_t MakeBigEndian(KX_GfxBuffer* work) { return KXSUP_ConvertGfxBufferEndianess(work, KXENDIAN_BIG); }

// The 8-bit map of a true-colour source: its own 8-bit map copied, its
// 16-bit map narrowed, anything else (or a missing block) opaque.
void TrueColourAlpha(const KX_GfxBuffer* work, uint32_t kind, uint8_t* map, uint32_t pixels, bool precise)
{
    const auto* src = static_cast<const uint8_t*>(work->AlphaData);
    if (kind == KXALPHA_CHANNEL8 && src)
        std::memcpy(map, src, pixels);
    else if (kind == KXALPHA_CHANNEL16 && src)
        Narrow16Row(src, map, pixels, precise, KXSUP_GetGfxBufferEndianess(work) == KXENDIAN_BIG);
    else
        std::memset(map, 255, pixels);
}

}  // namespace

uint32_t kxpAnyTo24Bit::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputAnyDepth(source, result, &work, 0, false);
    if (err) return err;
    if (work->ColorDepth == 48 && (err = MakeBigEndian(work))) return err;

    static const char* const offWord[] = {"OFF"};
    const bool precise = KXPKeyReader(this, false).Word("PRECISE", offWord, 1, -1) != 0;

    const uint32_t w = work->Width, h = work->Height, depth = work->ColorDepth;
    uint32_t outBytes = 0, pixels = 0;
    if (!KXSUP_CheckedSize(&outBytes, w, h, 3) || !KXSUP_CheckedSize(&pixels, w, h)) return KXERR_NOMEMORY;
    const bool ham = IsHamBuffer(work), ehb = IsEhbBuffer(work);
    const uint32_t kind = MappedAlphaKind(work, ham, ehb);

    if ((err = NewResult(work))) return err;
    KX_GfxBuffer* r = Result;
    r->ColorDepth = 24;
    r->PixelBits = 24;
    r->BufferSize = outBytes;
    DropModeBits(r, ham, ehb);
    uint8_t* alpha = nullptr;
    if (kind) {
        alpha = static_cast<uint8_t*>(AllocVec(pixels, MEMF_ANY));
        if (!alpha) return KXERR_NOMEMORY;
        AttachAlphaMap(r, alpha);
    }
    MarkResult(r, work, source, CarryAll);
    if ((err = AllocPixels(r, outBytes))) return err;

    const uint8_t* in = work->Data;
    uint8_t* out = r->Data;
    if (depth == 24) {
        std::memcpy(out, in, outBytes);
        if (alpha) TrueColourAlpha(work, kind, alpha, pixels, precise);
    } else if (depth == 48) {
        // After the byte-order step the first byte of a sample is its high byte.
        const bool big = KXSUP_GetGfxBufferEndianess(work) == KXENDIAN_BIG;
        for (uint32_t y = 0; y < h; ++y) {
            RowProgress(y, h);
            Narrow16Row(in + size_t(y) * w * 6, out + size_t(y) * w * 3, uint64_t(w) * 3, precise, big);
        }
        if (alpha) TrueColourAlpha(work, kind, alpha, pixels, precise);
    } else {
        IndexedRows<false>(work, ham, kind, out, alpha, w, [this, h](uint32_t y) { RowProgress(y, h); });
    }
    *result = r;
    return KXERR_NONE;
}
