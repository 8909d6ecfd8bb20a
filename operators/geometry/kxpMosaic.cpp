// kxpMosaic: cuts the picture into square blocks of BLOCKS pixels (atol,
// default 2, limited to 2..255 and then to the width) and fills each block
// with the colour of the source pixel at its top-left corner; no averaging.
// Width and height grow to the next multiple of the block. Any depth (bit
// planes as a chunky copy, HAM refused); pixels are moved as stored, so
// 48-bit samples keep their byte order. An 8-bit alpha map is kept
// unchanged, grown to the result's size: the added pixels take the alpha
// of their block's top-left pixel, as they take its colour. Palette
// transparency and the grey, 8-bit-source and low-depth flags are kept.
#include "kxpMosaic.h"

#include <cstring>

#include "kxpRows.h"

uint32_t kxpMosaic::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputWithAlpha(source, result, &work);
    if (err) return err;

    int32_t blocks = KXPKeyReader(this, false).Long("BLOCKS", 2);
    if (blocks > 255) blocks = 255;
    if (blocks < 2) blocks = 2;
    const uint32_t w = work->Width, h = work->Height, bpp = KXP_BytesPerPixel(work);
    const uint32_t b = static_cast<uint32_t>(blocks) > w ? w : static_cast<uint32_t>(blocks);
    const uint64_t rw = (uint64_t(w) + b - 1) / b * b, rh = (uint64_t(h) + b - 1) / b * b;
    uint32_t size = 0, mapSize = 0;
    if (KXSUP_CheckSize(&size, rw, rh, bpp) || (AlphaMap8 && KXSUP_CheckSize(&mapSize, rw, rh))) return KXERR_NOMEMORY;

    if ((err = NewResult(work))) return err;
    KX_GfxBuffer* r = Result;
    r->Width = static_cast<uint32_t>(rw);
    r->Height = static_cast<uint32_t>(rh);
    r->BufferSize = size;
    if (!(r->Data = static_cast<uint8_t*>(AllocVec(size, MEMF_ANY)))) return KXERR_NOMEMORY;

    // The first row of a block row is made pixel by pixel; the other rows
    // of the block row are copies of it.
    const size_t rowBytes = static_cast<size_t>(rw) * bpp;
    for (uint64_t top = 0; top < rh; top += b) {
        RowProgress(top, rh);
        uint8_t* first = r->Data + rowBytes * top;
        const uint8_t* src = Row(work, static_cast<uint32_t>(top), bpp);
        for (uint64_t x = 0; x < rw; x += b) kxp_rows::FillPixels(first + x * bpp, src + x * bpp, b, bpp);
        for (uint32_t k = 1; k < b; k++) std::memcpy(first + rowBytes * k, first, rowBytes);
    }

    if (AlphaMap8) {
        auto* map = static_cast<uint8_t*>(AllocVec(mapSize, MEMF_ANY));
        if (!map) return KXERR_NOMEMORY;
        auto corner = [&](uint64_t x, uint64_t y) { return AlphaMap8[(y / b * b) * w + x / b * b]; };
        for (uint64_t y = 0; y < rh; y++) {
            uint8_t* row = map + rw * y;
            uint64_t x = 0;
            if (y < h) {
                std::memcpy(row, AlphaMap8 + size_t(w) * y, w);
                x = w;
            }
            for (; x < rw; x++) row[x] = corner(x, y);
        }
        AttachAlphaMap(r, map);
    } else if ((err = CarryAlpha(r, work))) {
        return err;
    }
    MarkResult(r, work, source, CarryAll);
    *result = r;
    return KXERR_NONE;
}
