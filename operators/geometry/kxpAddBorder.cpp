// kxpAddBorder: grows the picture by LEFT_WIDTH, RIGHT_WIDTH, TOP_WIDTH and
// BOTTOM_WIDTH pixels (keys matched with case, unsigned, default 0) of one
// colour: BACKCOLOR "0x"RRGGBB for 24 and 48 bits (48-bit samples are the
// bytes times 257), BACKPEN for palette pictures (its low 8 bits, and no
// more bits than the picture's depth holds, so the frame is always a colour
// of the picture); both keys in any case. Any depth (bit planes as a
// chunky copy, HAM refused); 48-bit input is made host-ordered. An 8-bit
// alpha map grows with the picture, its frame filled with BACKPEN's low
// byte (0 by default: a transparent frame); palette transparency is kept.
// A result whose size cannot be represented or allocated gives 3.
#include "kxpAddBorder.h"

#include <cstring>
#include <memory>

#include "kxpArea.h"
#include "kxpRows.h"

uint32_t kxpAddBorder::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputAnyDepth(source, result, &work);
    if (!err) err = MakeHostOrder(work);
    if (!err) err = FetchAlphaMap8(work);
    if (err) return err;

    uint32_t left, right, top, bottom;
    {
        KXPKeyReader widths(this, false);
        left = widths.ULong("LEFT_WIDTH", 0);
        right = widths.ULong("RIGHT_WIDTH", 0);
        top = widths.ULong("TOP_WIDTH", 0);
        bottom = widths.ULong("BOTTOM_WIDTH", 0);
    }
    KXPKeyReader keys(this, true);
    const uint8_t pen = static_cast<uint8_t>(keys.Long("BACKPEN", 0) & 0xFF);
    KXPBackground bg = {};
    if (work->ColorDepth <= 8) {
        bg.Pixel[0] = static_cast<uint8_t>(work->ColorDepth < 8 ? pen & ((1u << work->ColorDepth) - 1) : pen);
    } else {
        bg = KXP_ReadBackground(keys, work);
    }

    const uint32_t w = work->Width, h = work->Height, bpp = KXP_BytesPerPixel(work);
    const uint64_t rw = uint64_t(w) + left + right, rh = uint64_t(h) + top + bottom;
    uint32_t size = 0, mapSize = 0;
    // A size that the record cannot hold is memory the library cannot give.
    if (rw > UINT32_MAX || rh > UINT32_MAX || KXSUP_CheckSize(&size, rw, rh, bpp)) return KXERR_NOMEMORY;
    if (AlphaMap8 && KXSUP_CheckSize(&mapSize, rw, rh)) return KXERR_NOMEMORY;

    if ((err = NewResult(work))) return err;
    KX_GfxBuffer* r = Result;
    r->Width = static_cast<uint32_t>(rw);
    r->Height = static_cast<uint32_t>(rh);
    r->BufferSize = size;
    if (!(r->Data = static_cast<uint8_t*>(AllocVec(size, MEMF_ANY)))) return KXERR_NOMEMORY;

    // One frame row, then every result row from it and the source rows.
    const size_t outRow = static_cast<size_t>(rw) * bpp, inRow = static_cast<size_t>(w) * bpp;
    const size_t leftBytes = static_cast<size_t>(left) * bpp, rightBytes = static_cast<size_t>(right) * bpp;
    std::unique_ptr<uint8_t, void (*)(void*)> frame(static_cast<uint8_t*>(AllocVec(outRow, MEMF_ANY)), FreeVec);
    if (!frame) return KXERR_NOMEMORY;
    kxp_rows::FillPixels(frame.get(), bg.Pixel, rw, bpp);
    for (uint64_t y = 0; y < top; y++) std::memcpy(r->Data + outRow * y, frame.get(), outRow);
    for (uint32_t y = 0; y < h; y++) {
        RowProgress(y, h);
        uint8_t* d = r->Data + outRow * (top + y);
        std::memcpy(d, frame.get(), leftBytes);
        std::memcpy(d + leftBytes, Row(work, y, bpp), inRow);
        std::memcpy(d + leftBytes + inRow, frame.get(), rightBytes);
    }
    for (uint64_t y = top + uint64_t(h); y < rh; y++) std::memcpy(r->Data + outRow * y, frame.get(), outRow);

    if (AlphaMap8) {
        auto* map = static_cast<uint8_t*>(AllocVec(mapSize, MEMF_ANY));
        if (!map) return KXERR_NOMEMORY;
        std::memset(map, pen, mapSize);
        for (uint32_t y = 0; y < h; y++) std::memcpy(map + rw * (top + y) + left, AlphaMap8 + static_cast<size_t>(w) * y, w);
        AttachAlphaMap(r, map);
    } else if ((err = CarryAlpha(r, work))) {
        return err;
    }
    MarkResult(r, work, source, 0);
    *result = r;
    return KXERR_NONE;
}
