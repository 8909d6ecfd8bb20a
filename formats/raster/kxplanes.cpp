// kxplanes: plane lines and interleaved pixels (see kxplanes.h).
#include "formats/raster/kxplanes.h"

#include <cstring>

KXVecBlock KXF_AllocBlock(uint64_t size, bool clear) {
    uint32_t n = 0;
    if (KXSUP_CheckSize(&n, size ? size : 1) != KXERR_NONE) return nullptr;
    return KXVecBlock(static_cast<uint8_t*>(AllocVec(n, clear ? MEMF_CLEAR : MEMF_ANY)));
}

// The common strides get loops of their own, so that the compiler sees a
// constant step.
void KXF_PlaneToPixels(const uint8_t* plane, uint8_t* pixels, uint32_t count, uint32_t sampleBytes, uint32_t pixelBytes) {
    if (sampleBytes == 2) {
        for (uint32_t x = 0; x < count; ++x, plane += 2, pixels += pixelBytes) memcpy(pixels, plane, 2);
        return;
    }
    switch (pixelBytes) {
    case 1:
        memcpy(pixels, plane, count);
        break;
    case 3:
        for (uint32_t x = 0; x < count; ++x) pixels[3 * (size_t)x] = plane[x];
        break;
    case 4:
        for (uint32_t x = 0; x < count; ++x) pixels[4 * (size_t)x] = plane[x];
        break;
    default:
        for (uint32_t x = 0; x < count; ++x) pixels[(size_t)pixelBytes * x] = plane[x];
    }
}

void KXF_PixelsToPlane(const uint8_t* pixels, uint8_t* plane, uint32_t count, uint32_t sampleBytes, uint32_t pixelBytes) {
    if (sampleBytes == 2) {
        for (uint32_t x = 0; x < count; ++x, plane += 2, pixels += pixelBytes) memcpy(plane, pixels, 2);
        return;
    }
    switch (pixelBytes) {
    case 1:
        memcpy(plane, pixels, count);
        break;
    case 3:
        for (uint32_t x = 0; x < count; ++x) plane[x] = pixels[3 * (size_t)x];
        break;
    default:
        for (uint32_t x = 0; x < count; ++x) plane[x] = pixels[(size_t)pixelBytes * x];
    }
}
