// kxpKernel: the sweep that the convolution filters share (Convolve,
// ConvolveFloat, ConvolveNxN, Sharpen, Blur). Every interior sample becomes
// a weighted sum of the same channel around it in the source; the outer
// N/2 rows and columns are copied from the source, and a picture with no
// interior is a copy. 24-bit pictures are worked on bytes, 48-bit ones on
// host-ordered 16-bit samples.
//
// Sums are exact (formed in 16, 32 or 64 bits as the matrix's largest
// possible sum needs) and the value is then clamped to the sample range,
// so results equal the integer arithmetic of 32-bit sums wherever those
// did not overflow. Rows are computed in chunks that stay in the first
// cache level, one matrix entry at a time over a whole chunk, which the
// compiler turns into vector code (AVX2 where the processor has it); the
// quotient is taken in single or double precision only where that is
// exact for every possible sum. Rows are spread over threads in bands.
#pragma once

#include <cstdint>
#include <functional>

#include "kxlib.h"

struct KXPIntMatrix {
    uint32_t N = 3;        // 3, 5, 7 or 9
    int32_t K[81] = {};    // row-major: line 1 on top, its first value leftmost
    int32_t Divisor = 1;   // never 0
    int32_t Offset = 0;    // in sample units (already widened for 16-bit samples)
    // false: the quotient truncated toward zero, then the offset added.
    // true: quotient plus offset in double precision, truncated after the
    // clamp (the 7 x 7 and 9 x 9 matrices).
    bool RealQuotient = false;
};

struct KXPRealMatrix {  // 3 x 3, summed in double precision in row-major order
    double K[9] = {};
    double Divisor = 1, Offset = 0;
};

// Called for the progress rows: every interior row (from N/2 on) that is a
// multiple of 8, in order, on the calling thread.
using KXPRowTick = std::function<void(uint64_t row)>;

// dst has src's width, height and depth (24 or 48) and its own pixels; the
// pixels of every row are written. The working memory is a few chunks on
// each thread's stack, so the sweeps return 0.
uint32_t KXP_ConvolveInt(const KX_GfxBuffer* src, KX_GfxBuffer* dst, const KXPIntMatrix& m, const KXPRowTick& tick);
uint32_t KXP_ConvolveReal(const KX_GfxBuffer* src, KX_GfxBuffer* dst, const KXPRealMatrix& m, const KXPRowTick& tick);
// The 3 x 3 mean (sum of nine divided by 9, truncated), taken as a column
// sum and a row sum, which is exact for integers.
uint32_t KXP_BoxBlur(const KX_GfxBuffer* src, KX_GfxBuffer* dst, const KXPRowTick& tick);

// Copies the outer half rows and columns of src into dst, or all of src
// when the picture has no interior for a window of 2 * half + 1. Returns
// true when an interior remains to be computed.
bool KXP_CopyEdgeBand(const KX_GfxBuffer* src, KX_GfxBuffer* dst, uint32_t half);

// True when the processor runs the AVX2 forms of the filters' loops and
// the environment variable KAXON5_PLAIN_KERNELS is not set.
#define KXP_PLAIN_KERNELS_ENV "KAXON5_PLAIN_KERNELS"
bool KXP_UseAvx2();
