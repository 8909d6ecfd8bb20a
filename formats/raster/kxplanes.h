// kxplanes: what the raster modules of planar formats share (SGI, FBM, QRT,
// Scitex CT, CVP): a work block through the checked size, and the moves of
// one plane line into one component of interleaved pixels and back.
#pragma once

#include <cstdint>
#include <memory>

#include "core/kxlib.h"

struct KXVecFree {
    void operator()(void* p) const { FreeVec(p); }
};
using KXVecBlock = std::unique_ptr<uint8_t, KXVecFree>;

// A block of size bytes (at least one) formed through KXSUP_CheckSize: none
// when the size does not fit or memory runs out.
KXVecBlock KXF_AllocBlock(uint64_t size, bool clear = false);

// count samples of sampleBytes (1 or 2) from a plane line into the pixels,
// one sample every pixelBytes bytes: the caller points pixels at the
// component. KXF_PixelsToPlane is the way back.
void KXF_PlaneToPixels(const uint8_t* plane, uint8_t* pixels, uint32_t count, uint32_t sampleBytes, uint32_t pixelBytes);
void KXF_PixelsToPlane(const uint8_t* pixels, uint8_t* plane, uint32_t count, uint32_t sampleBytes, uint32_t pixelBytes);
