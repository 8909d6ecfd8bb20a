// kxpAnyTo48Bit: any depth to chunky 48-bit RGB (see the header). HAM and
// EHB pictures are accepted; a HAM picture of a depth other than 6 or 8
// has no decoding and comes out black. A 48-bit source is copied in its
// own byte order, which the result declares; every other sample is an
// 8-bit value times 257 and reads the same in either order. A palette
// picture's key or alpha table becomes a 16-bit map of those values times
// 257. Relies on the operator frame and the core's flag helpers.
#include "kxpAnyTo48Bit.h"

#include "kxpDepthRows.h"

using namespace kxp_depth;

namespace {

enum class MapKind { None, Eight, Sixteen };

// Which map the result gets for the source's alpha kind.
MapKind ResultMap(uint32_t kind, bool convert)
{
    switch (kind) {
    case KXALPHA_SINGLECOLOR:
    case KXALPHA_MULTICOLOR:
    case KXALPHA_CHANNEL16: return MapKind::Sixteen;
    case KXALPHA_CHANNEL8: return convert ? MapKind::Sixteen : MapKind::Eight;
    default: return MapKind::None;
    }
}

// The map of a true-colour source: its 8-bit map copied or widened, its
// 16-bit map copied as stored; a key or table kind (which belongs to
// palette pictures) or a missing block gives an opaque map.
void TrueColourAlpha(const KX_GfxBuffer* work, uint32_t kind, MapKind map, uint8_t* out, uint32_t pixels)
{
    const auto* src = static_cast<const uint8_t*>(work->AlphaData);
    const size_t bytes = map == MapKind::Sixteen ? size_t(pixels) * 2 : pixels;
    if (kind == KXALPHA_CHANNEL8 && src) {
        if (map == MapKind::Sixteen) Widen8Row(src, out, pixels);
        else std::memcpy(out, src, pixels);
    } else if (kind == KXALPHA_CHANNEL16 && src) {
        std::memcpy(out, src, bytes);
    } else {
        std::memset(out, 255, bytes);
    }
}

}  // namespace

uint32_t kxpAnyTo48Bit::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputAnyDepth(source, result, &work, 0, false);
    if (err) return err;

    static const char* const onWord[] = {"ON"};
    const bool convert = KXPKeyReader(this, false).Word("CONVERTALPHA", onWord, 1, -1) == 0;

    const uint32_t w = work->Width, h = work->Height, depth = work->ColorDepth;
    uint32_t outBytes = 0, pixels = 0, map16Bytes = 0;
    if (!KXSUP_CheckedSize(&outBytes, w, h, 6) || !KXSUP_CheckedSize(&pixels, w, h) || !KXSUP_CheckedSize(&map16Bytes, w, h, 2))
        return KXERR_NOMEMORY;
    const bool ham = IsHamBuffer(work), ehb = IsEhbBuffer(work);
    const bool trueColour = depth == 24 || depth == 48;
    const uint32_t kind = MappedAlphaKind(work, ham, ehb);
    const MapKind map = ResultMap(kind, convert);

    if ((err = NewResult(work))) return err;
    KX_GfxBuffer* r = Result;
    r->ColorDepth = 48;
    r->PixelBits = 48;
    r->BufferSize = outBytes;
    DropModeBits(r, ham, ehb);
    uint8_t* alpha = nullptr;
    if (map != MapKind::None) {
        alpha = static_cast<uint8_t*>(AllocVec(map == MapKind::Sixteen ? map16Bytes : pixels, MEMF_ANY));
        if (!alpha) return KXERR_NOMEMORY;
        r->Version = 3;
        r->AlphaType = map == MapKind::Sixteen ? KXALPHA_CHANNEL16 : KXALPHA_CHANNEL8;
        r->AlphaData = alpha;
    }
    // Byte order of the source, then the carried flag bits.
    MarkResult(r, work, source, CarryAll);
    if (trueColour && kind == KXALPHA_CHANNEL8 && map == MapKind::Sixteen) KXSUP_AddGfxBufferFlags(r, KXGFXF_ALPHASRC8BIT, 1);
    if ((err = AllocPixels(r, outBytes))) return err;

    const uint8_t* in = work->Data;
    uint8_t* out = r->Data;
    if (depth == 48) {
        std::memcpy(out, in, outBytes);
        if (alpha) TrueColourAlpha(work, kind, map, alpha, pixels);
    } else if (depth == 24) {
        for (uint32_t y = 0; y < h; ++y) {
            RowProgress(y, h);
            Widen8Row(in + size_t(y) * w * 3, out + size_t(y) * w * 6, uint64_t(w) * 3);
        }
        if (alpha) TrueColourAlpha(work, kind, map, alpha, pixels);
    } else {
        const size_t alphaRow = map == MapKind::Sixteen ? size_t(w) * 2 : w;
        IndexedRows<true>(work, ham, kind, out, alpha, alphaRow, [this, h](uint32_t y) { RowProgress(y, h); });
    }
    *result = r;
    return KXERR_NONE;
}
