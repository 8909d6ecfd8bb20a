// kxpReplaceBorder: finds the widest frame of the top-left pixel's colour
// (exact match of every byte, see kxpBorderScan) and paints it in another
// colour; a uniform picture comes back as an unchanged copy.
//  - 24 and 48 bits: the frame pixels take BACKCOLOR "0x"RRGGBB (48-bit
//    samples the bytes times 257; key in any case, default black).
//  - 8-bit palettes: no pixel changes; the palette entry of the frame's
//    index takes the colour, so every pixel of that index changes.
//  - 1 to 7 bits: the depth grows by one bit; the new upper half of the
//    palette is black but its first entry, which takes the colour, and the
//    frame pixels take that entry.
// The colour of palette pictures is BACKCOLOR as well; without it, BACKPEN
// (any case, low 8 bits) is read as 0xRRGGBB, a blue of that level.
// Any depth (bit planes as a chunky copy, HAM refused); 48-bit input is
// made host-ordered. An 8-bit alpha map and palette transparency are kept.
#include "kxpReplaceBorder.h"

#include <cstring>

#include "kxpArea.h"
#include "kxpBorderScan.h"
#include "kxpRows.h"

uint32_t kxpReplaceBorder::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputAnyDepth(source, result, &work);
    if (!err) err = MakeHostOrder(work);
    if (!err) err = FetchAlphaMap8(work);
    if (!err) err = NewSameSizeResult(work);
    if (err) {
        DropResult();
        return err;
    }
    KX_GfxBuffer* r = Result;
    const uint32_t w = work->Width, h = work->Height, bpp = KXP_BytesPerPixel(work);
    const size_t rowBytes = static_cast<size_t>(w) * bpp;
    std::memcpy(r->Data, work->Data, rowBytes * h);

    const KXPBorder b = KXP_ScanBorder(work);
    if (!b.Uniform) {
        KXPKeyReader keys(this, true);
        if (work->ColorDepth > 8) {
            const KXPBackground bg = KXP_ReadBackground(keys, work);
            for (uint32_t y = 0; y < h; y++) {
                RowProgress(y, h);
                uint8_t* row = Row(r, y, bpp);
                if (y < b.Top || y >= h - b.Bottom) {
                    kxp_rows::FillPixels(row, bg.Pixel, w, bpp);
                } else {
                    kxp_rows::FillPixels(row, bg.Pixel, b.Left, bpp);
                    kxp_rows::FillPixels(row + static_cast<size_t>(w - b.Right) * bpp, bg.Pixel, b.Right, bpp);
                }
            }
        } else {
            const char* text = keys.Text("BACKCOLOR");
            const uint32_t colour = text && std::strncmp(text, "0x", 2) == 0 ? keys.HexColor("BACKCOLOR", 0)
                                                                             : static_cast<uint32_t>(keys.Long("BACKPEN", 0) & 0xFF);
            const uint8_t rgb[3] = {static_cast<uint8_t>(colour >> 16), static_cast<uint8_t>(colour >> 8), static_cast<uint8_t>(colour)};
            const uint32_t d = work->ColorDepth;
            if (d == 8) {
                std::memcpy(r->Palette + 3 * work->Data[0], rgb, 3);
            } else {
                const uint32_t index = 1u << d;
                std::memset(r->Palette + 3 * index, 0, 3 * index);
                std::memcpy(r->Palette + 3 * index, rgb, 3);
                r->ColorDepth = d + 1;
                const uint8_t pixel[1] = {static_cast<uint8_t>(index)};
                for (uint32_t y = 0; y < h; y++) {
                    RowProgress(y, h);
                    uint8_t* row = Row(r, y, 1);
                    if (y < b.Top || y >= h - b.Bottom) {
                        std::memset(row, pixel[0], w);
                    } else {
                        std::memset(row, pixel[0], b.Left);
                        std::memset(row + (w - b.Right), pixel[0], b.Right);
                    }
                }
            }
        }
    }

    if (AlphaMap8) {
        auto* map = static_cast<uint8_t*>(AllocVec(static_cast<size_t>(w) * h, MEMF_ANY));
        if (!map) {
            DropResult();
            return KXERR_NOMEMORY;
        }
        std::memcpy(map, AlphaMap8, static_cast<size_t>(w) * h);
        AttachAlphaMap(r, map);
    } else if ((err = CarryAlpha(r, work))) {
        DropResult();
        return err;
    }
    MarkResult(r, work, source, 0);
    *result = r;
    return KXERR_NONE;
}
