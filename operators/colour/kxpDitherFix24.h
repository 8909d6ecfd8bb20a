// kxpDitherFix24: dithers a chunky 24-bit picture to a palette that does
// not depend on the picture: a ramp of grey levels for 1 to 4 bits, a grid
// of colours for 5 to 8 bits (COLORDEPTH). DITHERMODE "BESTPEN" maps each
// pixel to its nearest entry, anything else diffuses the error the
// Floyd-Steinberg way. QUICK picks a cheaper grey formula; THUMBDITHER pads
// the result with index 0 to at least THUMB_WIDTH x THUMB_HEIGHT. No alpha
// and no flag bits are carried.
#pragma once

#include <cstdint>

#include "operators/kxpFrame.h"

struct KXQEntry;

class kxpDitherFix24 : public kxpFrame {
public:
    explicit kxpDitherFix24(KXClass* lib = nullptr) : kxpFrame(lib, "kxpDitherFix24") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;

    // The fixed palette of a depth (1 to 8) in the form the mapper uses;
    // returns the number of entries.
    static uint32_t FixedPalette(uint32_t depth, KXQEntry* entries);
    // Nearest entry of the grid palette: colours with R, G and B all below
    // 8 are black (entry 0) at once, without the cache; the rest as the
    // quantiser's cached search.
    static uint32_t FindBestFixedPen(int32_t r, int32_t g, int32_t b, const KXQEntry* entries, uint32_t n, int16_t* cache);

private:
    uint32_t MapGrid(const KX_GfxBuffer* work, KX_GfxBuffer* r, uint32_t depth, bool floyd);
    uint32_t MapGrey(const KX_GfxBuffer* work, KX_GfxBuffer* r, uint32_t depth, bool floyd, bool quick);
    uint32_t PadForThumbnail(KX_GfxBuffer* r, uint32_t wantW, uint32_t wantH);
};
