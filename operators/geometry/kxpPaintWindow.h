// kxpPaintWindow: the window of the paint filters (OilPaint, DigiPaint).
// The window of pixel (x, y) holds, for dy and dx from -g to g, the pixel
// at the linear index (y + dy) * width + (x + dx): a position left of the
// first column falls into the end of the row above, one right of the last
// into the start of the row below, and only positions before the first or
// after the last pixel are black. Each channel is counted in a histogram of
// 256 values (of 48-bit samples their high byte), and the result is
//  - OilPaint: the most frequent value, the lowest of equally frequent ones;
//  - DigiPaint: the largest value present;
// 48-bit results are that value times 257.
//
// OilPaint: in linear indices the window is 2g + 1 runs of 2g + 1 pixels,
// so moving to the next pixel (also from the end of a row to the start of
// the next) drops the first pixel of every run and adds the one after it:
// 2(2g + 1) updates per channel, whatever the size of the window. The
// counts keep, per count, the set of values that have it, so the most
// frequent value is found without a scan. DigiPaint: a maximum splits
// exactly into the maxima of the runs (black never raises one), taken in
// vector code along the rows and then across 2g + 1 of them. Pixels are cut
// into bands of whole rows on threads; every band starts its window afresh.
#pragma once

#include <cstdint>
#include <functional>

#include "kxlib.h"

enum class KXPPaint { Oil, Digi };

// dst has src's size and depth (24 or 48, host order). tick(row) runs on
// the calling thread before the rows that are multiples of step.
uint32_t KXP_PaintWindow(const KX_GfxBuffer* src, KX_GfxBuffer* dst, uint32_t g, KXPPaint kind, uint32_t step,
                         const std::function<void(uint64_t row)>& tick);
