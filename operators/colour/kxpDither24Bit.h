// kxpDither24Bit: dithers a chunky 24-bit picture to a palette picture of
// 1 to 8 bits (COLORDEPTH). DITHERMODE: Floyd-Steinberg (default),
// "BURKES" or "BESTPEN" (no diffusion) map to a median-cut palette of the
// picture; "ORDERED" maps to a fixed colour cube through a 16x16 threshold
// matrix. No alpha and no flag bits are carried.
#pragma once

#include <cstdint>

#include "operators/kxpFrame.h"

struct KXQEntry;

class kxpDither24Bit : public kxpFrame {
public:
    explicit kxpDither24Bit(KXClass* lib = nullptr) : kxpFrame(lib, "kxpDither24Bit") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;

    // The threshold matrix entry (0 to 255) of row i, column j (0 to 15).
    static uint32_t ThresholdEntry(uint32_t i, uint32_t j);

private:
    uint32_t Ordered(const KX_GfxBuffer* work, KX_GfxBuffer* r, uint32_t depth);
    uint32_t Quantised(const KX_GfxBuffer* work, KX_GfxBuffer* r, uint32_t depth, uint32_t method);
};
