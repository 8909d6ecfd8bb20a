// kxquant: colour histogram, median cut, cached nearest-entry search and
// the error-diffusing palette mapper (see the header).
#include "kxquant.h"

#include <algorithm>
#include <cstring>

#include "kxtypes.h"
#include "memory.h"

namespace {

inline uint32_t keyR(uint32_t key) { return (key >> 10) & 31; }
inline uint32_t keyG(uint32_t key) { return (key >> 5) & 31; }
inline uint32_t keyB(uint32_t key) { return key & 31; }

inline int32_t clamp255(int32_t v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

inline int32_t distance(const KXQEntry& e, int32_t r, int32_t g, int32_t b)
{
    int32_t dr = e.R - r, dg = e.G - g, db = e.B - b;
    return dr * dr + dg * dg + db * db;
}

// The search itself, on a clamped colour; the cache lookup is the caller's.
uint32_t searchNearest(int32_t r, int32_t g, int32_t b, const KXQEntry* e, uint32_t n)
{
    // Binary search on R; without an exact match the candidate is where
    // the halving stopped.
    uint32_t lo = 0, hi = n - 1, cand = 0;
    bool matched = false;
    while (lo < hi) {
        uint32_t mid = lo + (hi - lo) / 2;
        if (e[mid].R == r) {
            cand = mid;
            matched = true;
            break;
        }
        if (e[mid].R < r) lo = mid + 1;
        else hi = mid;
    }
    if (!matched) cand = lo;

    uint32_t best = cand;
    int32_t d = distance(e[cand], r, g, b);
    // Scan outwards, one step down then one step up per round, each scan
    // closing once its R distance alone reaches the best distance.
    int64_t down = int64_t(cand) - 1, up = int64_t(cand) + 1;
    bool downOpen = down >= 0, upOpen = up < int64_t(n);
    while (d > 0 && (downOpen || upOpen)) {
        if (downOpen) {
            const KXQEntry& c = e[down];
            int32_t dist = distance(c, r, g, b);
            if (dist < d) {
                d = dist;
                best = uint32_t(down);
            }
            int32_t dr = c.R - r;
            if (dr * dr < d) downOpen = --down >= 0;
            else downOpen = false;
        }
        if (upOpen) {
            const KXQEntry& c = e[up];
            int32_t dist = distance(c, r, g, b);
            if (dist < d) {
                d = dist;
                best = uint32_t(up);
            }
            int32_t dr = c.R - r;
            if (dr * dr < d) upOpen = ++up < int64_t(n);
            else upOpen = false;
        }
    }
    return best;
}

inline uint32_t bestPen(int32_t r, int32_t g, int32_t b, const KXQEntry* e, uint32_t n, int16_t* cache)
{
    r = clamp255(r);
    g = clamp255(g);
    b = clamp255(b);
    uint32_t key = KXQ_ColorKey(uint32_t(r), uint32_t(g), uint32_t(b));
    if (cache[key] >= 0) return uint32_t(cache[key]);
    uint32_t best = searchNearest(r, g, b, e, n);
    cache[key] = int16_t(best);
    return best;
}

// Component of a key on the axis, then on the two others in rotation.
inline uint32_t rotatedKey(uint32_t key, int axis)
{
    uint32_t c[3] = {keyR(key), keyG(key), keyB(key)};
    return (c[axis] << 10) | (c[(axis + 1) % 3] << 5) | c[(axis + 2) % 3];
}

// One row of error diffusion. The errors of a row are interleaved per
// pixel (R, G, B of pixel x at 3 * (x + 2)), so that a pixel's shares land
// in neighbouring cells; two guard pixels on each side take the shares that
// fall outside the row.
template <bool Burkes>
void diffuseRow(const uint8_t* src, uint8_t* out, uint32_t width, bool forward, int32_t* cur, int32_t* next, const KXQEntry* e,
                uint32_t n, int16_t* cache)
{
    const int64_t step = forward ? 1 : -1;
    const int64_t s3 = 3 * step;
    int64_t x = forward ? 0 : int64_t(width) - 1;
    for (uint32_t i = 0; i < width; ++i, x += step) {
        const int64_t p = 3 * (x + 2);
        const uint8_t* s = src + 3 * x;
        int32_t v[3];
        for (int c = 0; c < 3; ++c) v[c] = clamp255(int32_t(s[c]) + (cur[p + c] >> 10));
        uint32_t idx = bestPen(v[0], v[1], v[2], e, n, cache);
        out[x] = uint8_t(idx);
        const int32_t chosen[3] = {e[idx].R, e[idx].G, e[idx].B};
        for (int c = 0; c < 3; ++c) {
            const int32_t E = (v[c] - chosen[c]) * 1024;
            int32_t* cr = cur + p + c;
            int32_t* nx = next + p + c;
            if constexpr (!Burkes) {
                cr[s3] += (E * 7) >> 4;
                nx[-s3] += (E * 3) >> 4;
                nx[0] += (E * 5) >> 4;
                nx[s3] += E >> 4;
            } else {
                cr[s3] += (E * 8) >> 5;
                cr[2 * s3] += (E * 4) >> 5;
                nx[-2 * s3] += (E * 2) >> 5;
                nx[-s3] += (E * 4) >> 5;
                nx[0] += (E * 8) >> 5;
                nx[s3] += (E * 4) >> 5;
                nx[2 * s3] += (E * 2) >> 5;
            }
        }
    }
}

void report(const KXQProgress* progress, uint64_t row, uint64_t rows)
{
    if (progress && progress->Report && rows) progress->Report(progress->Context, uint32_t(row * 100 / rows));
}

}  // namespace

void BuildColorHistogram(const uint8_t* pixels, uint32_t width, uint32_t height, uint16_t* histogram)
{
    const uint64_t count = uint64_t(width) * height;
    for (uint64_t i = 0; i < count; ++i, pixels += 3) {
        uint16_t& c = histogram[KXQ_ColorKey(pixels[0], pixels[1], pixels[2])];
        // Saturate one below the top so a full bucket never reads as empty.
        if (++c == 65535) c = 65534;
    }
}

uint32_t MedianCutPalette(const uint16_t* histogram, KXQEntry* entries, uint32_t n)
{
    if (!histogram || !entries || n == 0 || n > 256) return KXERR_INTERNALACCESS;
    uint32_t occupied = 0;
    for (uint32_t k = 0; k < KXQ_HISTOGRAM_SIZE; ++k) occupied += histogram[k] ? 1 : 0;
    auto* list = static_cast<KXQBox*>(AllocVec(sizeof(KXQBox) * std::max<uint32_t>(occupied, 1), MEMF_ANY));
    if (!list) return KXERR_NOMEMORY;
    uint32_t d = 0;
    for (uint32_t k = 0; k < KXQ_HISTOGRAM_SIZE; ++k) {
        if (!histogram[k]) continue;
        list[d].Weight = std::min<uint16_t>(histogram[k], 32767);
        list[d].Key = uint16_t(k);
        ++d;
    }
    uint32_t err = KXERR_NONE;
    if (d <= n) {
        for (uint32_t j = 0; j < d; ++j)
            entries[j] = {uint8_t(keyR(list[j].Key) * 8), uint8_t(keyG(list[j].Key) * 8), uint8_t(keyB(list[j].Key) * 8), 0};
        for (uint32_t j = d; j < n; ++j) entries[j] = {255, 255, 255, 0};
    } else {
        err = SplitColorBox(list, d, 0, n, entries);
    }
    FreeVec(list);
    return err;
}

uint32_t SplitColorBox(KXQBox* list, uint32_t count, uint32_t first, uint32_t slots, KXQEntry* entries)
{
    if (count < slots) return KXERR_DECODE;
    if (slots == 0) return KXERR_NONE;
    if (slots == 1) {
        uint64_t sr = 0, sg = 0, sb = 0;
        for (uint32_t i = 0; i < count; ++i) {
            sr += keyR(list[i].Key) * 8;
            sg += keyG(list[i].Key) * 8;
            sb += keyB(list[i].Key) * 8;
        }
        entries[first] = {uint8_t(sr / count + 4), uint8_t(sg / count + 4), uint8_t(sb / count + 4), 0};
        return KXERR_NONE;
    }
    if (count == slots) {
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t k = list[i].Key;
            entries[first + i] = {uint8_t(keyR(k) * 8 + 4), uint8_t(keyG(k) * 8 + 4), uint8_t(keyB(k) * 8 + 4), 0};
        }
        return KXERR_NONE;
    }

    uint32_t lo[3] = {31, 31, 31}, hi[3] = {0, 0, 0};
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t c[3] = {keyR(list[i].Key), keyG(list[i].Key), keyB(list[i].Key)};
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], c[a]);
            hi[a] = std::max(hi[a], c[a]);
        }
    }
    int axis = 0;
    if (hi[1] - lo[1] > hi[axis] - lo[axis]) axis = 1;
    if (hi[2] - lo[2] > hi[axis] - lo[axis]) axis = 2;
    // Keys are unique, so this order is total and any sort gives it.
    std::sort(list, list + count, [axis](const KXQBox& a, const KXQBox& b) { return rotatedKey(a.Key, axis) < rotatedKey(b.Key, axis); });

    const uint32_t h = slots / 2;
    uint32_t l = 0, u = count - 1;
    uint32_t sumLo = list[0].Weight, sumHi = list[count - 1].Weight;
    while (l + 1 < h) sumLo += list[++l].Weight;
    while (count - u < h) sumHi += list[--u].Weight;
    // Skip an eighth of the open interval at once, then balance the sums.
    const uint32_t g = (u - l) / 8;
    for (uint32_t i = 0; i < g; ++i) {
        sumLo += list[++l].Weight;
        sumHi += list[--u].Weight;
    }
    while (l < u) {
        if (sumLo < sumHi) sumLo += list[++l].Weight;
        else sumHi += list[--u].Weight;
    }
    const uint32_t m = l;

    uint32_t split, slotsLo;
    if (sumLo > sumHi) {
        split = m + 1;
        slotsLo = slots - h;
    } else {
        split = m;
        slotsLo = h;
    }
    if (split == 0) split = 1;
    if (split == count) split = count - 1;
    while (slotsLo > split) --slotsLo;
    while (slots - slotsLo > count - split) ++slotsLo;

    uint32_t err = SplitColorBox(list, split, first, slotsLo, entries);
    if (err) return err;
    return SplitColorBox(list + split, count - split, first + slotsLo, slots - slotsLo, entries);
}

uint32_t FindBestPen(int32_t r, int32_t g, int32_t b, const KXQEntry* entries, uint32_t n, int16_t* cache)
{
    if (!entries || n == 0) return 0;
    if (cache) return bestPen(r, g, b, entries, n, cache);
    return searchNearest(clamp255(r), clamp255(g), clamp255(b), entries, n);
}

uint32_t MapToPalette(const uint8_t* pixels, uint8_t* indices, uint32_t width, uint32_t height, KXQEntry* entries, uint32_t n,
                      uint32_t method, const KXQProgress* progress)
{
    if (!pixels || !indices || !entries || n == 0 || n > 256) return KXERR_INTERNALACCESS;
    std::sort(entries, entries + n, [](const KXQEntry& a, const KXQEntry& b) {
        if (a.R != b.R) return a.R < b.R;
        if (a.G != b.G) return a.G < b.G;
        return a.B < b.B;
    });

    uint32_t rowBytes = 0;
    if (!KXSUP_CheckedSize(&rowBytes, uint64_t(width) + 4, sizeof(int32_t), 6)) return KXERR_NOMEMORY;
    auto* cache = static_cast<int16_t*>(AllocVec(KXQ_HISTOGRAM_SIZE * sizeof(int16_t), MEMF_ANY));
    auto* rows = static_cast<int32_t*>(AllocVec(rowBytes, MEMF_CLEAR));
    if (!cache || !rows) {
        FreeVec(cache);
        FreeVec(rows);
        return KXERR_NOMEMORY;
    }
    std::fill(cache, cache + KXQ_HISTOGRAM_SIZE, int16_t(-1));
    const size_t span = size_t(width) + 4;
    const size_t stride = size_t(width) * 3;

    if (method == KXQ_METHOD_BESTPEN) {
        // The visiting order decides which colour binds each cache entry.
        auto pen = [&](uint32_t x, uint32_t y) {
            const uint8_t* s = pixels + y * stride + size_t(x) * 3;
            indices[y * size_t(width) + x] = uint8_t(bestPen(s[0], s[1], s[2], entries, n, cache));
        };
        if (width && height) {
            for (uint32_t x = 0; x < width; ++x) pen(x, 0);
            for (uint32_t y = 0; y < height; ++y) pen(0, y);
            for (uint32_t y = 0; y < height; ++y) pen(width - 1, y);
            for (uint32_t y = 1; y < height; ++y) {
                if ((y & 7) == 0) report(progress, y, height);
                for (uint32_t x = 1; x + 1 < width; ++x) pen(x, y);
            }
        }
    } else {
        int32_t* cur = rows;
        int32_t* next = rows + 3 * span;
        for (uint32_t y = 0; y < height; ++y) {
            if ((y & 7) == 0) report(progress, y, height);
            std::fill(next, next + 3 * span, 0);
            const uint8_t* src = pixels + y * stride;
            uint8_t* out = indices + y * size_t(width);
            const bool forward = (y & 1) == 0;
            if (method == KXQ_METHOD_FLOYD) diffuseRow<false>(src, out, width, forward, cur, next, entries, n, cache);
            else diffuseRow<true>(src, out, width, forward, cur, next, entries, n, cache);
            std::swap(cur, next);
        }
    }
    FreeVec(cache);
    FreeVec(rows);
    return KXERR_NONE;
}
