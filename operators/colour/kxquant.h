// kxquant: the colour quantiser and palette mapper that the dithering
// operators share. A histogram over 15-bit colour keys, a median-cut
// palette builder, a cached nearest-entry search and a mapper that writes
// one palette index per 24-bit pixel, plainly (best pen) or with
// Floyd-Steinberg or Burkes error diffusion along serpentine rows.
// Pure pixel code: no graphics-buffer records; progress goes through a
// caller's callback. Relies on AllocVec/FreeVec and the checked-size helper.
#pragma once

#include <cstdint>

// One palette entry as the engine works on it; X carries no meaning.
struct KXQEntry {
    uint8_t R, G, B, X;
};

// One occupied colour key of the histogram with its weight.
struct KXQBox {
    uint16_t Weight;
    uint16_t Key;
};

// Progress of the mapper: percent of rows done, reported before a row.
struct KXQProgress {
    void (*Report)(void* context, uint32_t percent);
    void* Context;
};

enum : uint32_t {
    KXQ_HISTOGRAM_SIZE = 32768,  // counters (and cache entries), one per colour key
    KXQ_METHOD_BESTPEN = 0,
    KXQ_METHOD_FLOYD = 1,
    KXQ_METHOD_ORDERED = 2,  // not a mapper method: handled by the operator
    KXQ_METHOD_BURKES = 3,
};

// The 15-bit key of an 8-bit colour: 5 bits each of R, G and B.
inline uint32_t KXQ_ColorKey(uint32_t r, uint32_t g, uint32_t b) { return ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3); }

// Counts width*height packed R, G, B pixels into 32768 counters (cleared by
// the caller). Counters saturate at 65534.
void BuildColorHistogram(const uint8_t* pixels, uint32_t width, uint32_t height, uint16_t* histogram);

// Fills entries 0 to n-1 (n 1 to 256) from the histogram: the occupied
// buckets' lower corners padded with white when there are at most n of
// them, else the median cut. 3 when the box list cannot be allocated.
uint32_t MedianCutPalette(const uint16_t* histogram, KXQEntry* entries, uint32_t n);

// Median cut of count boxes into slots entries from slot first. Sorts the
// boxes in place. 14 when there are fewer boxes than slots.
uint32_t SplitColorBox(KXQBox* list, uint32_t count, uint32_t first, uint32_t slots, KXQEntry* entries);

// Nearest of the n entries (sorted by R, G, B) to the colour, clamped to
// 0..255 first. With a cache (32768 entries, -1 empty) the first colour
// looked up in a bucket binds the bucket's answer.
uint32_t FindBestPen(int32_t r, int32_t g, int32_t b, const KXQEntry* entries, uint32_t n, int16_t* cache);

// Sorts the n entries by R, G, B in place, then writes width*height
// indices for the packed 24-bit pixels with the method (0 best pen,
// 1 Floyd-Steinberg, any other Burkes). 3 when the cache or the error rows
// cannot be allocated: nothing is written then. progress may be null.
uint32_t MapToPalette(const uint8_t* pixels, uint8_t* indices, uint32_t width, uint32_t height, KXQEntry* entries, uint32_t n,
                      uint32_t method, const KXQProgress* progress);
