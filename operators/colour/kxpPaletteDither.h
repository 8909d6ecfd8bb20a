// kxpPaletteDither: dithers a chunky 24-bit picture to a palette of
// COLORDEPTH bits taken from another picture (PALETTEFILE, any format a
// reader knows, at most 8 bits deep): its first 2^PALETTEDEPTH entries are
// kept, and when the result has more entries than that the rest are built
// from the picture's own colours, leaving out what the kept entries
// already stand for. DITHERMODE as kxpDither24Bit ("ORDERED" diffuses like
// "BURKES"). No alpha and no flag bits are carried.
#pragma once

#include <cstdint>

#include "operators/kxpFrame.h"

struct KXQEntry;

class kxpPaletteDither : public kxpFrame {
public:
    explicit kxpPaletteDither(KXClass* lib = nullptr) : kxpFrame(lib, "kxpPaletteDither") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;

    // Builds entries p to n-1 from the 24-bit pixels: a histogram over the
    // colour keys (channels masked to 0xF0 when n is 32 or less; counts
    // saturate at 65535), the kept entries' buckets emptied, then the
    // buckets' corners or the median cut. 3 when memory runs out.
    static uint32_t CompletePalette(const uint8_t* pixels, uint32_t width, uint32_t height, KXQEntry* entries, uint32_t p, uint32_t n);
};
