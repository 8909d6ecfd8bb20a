// kxpSelectGrayScales: grey outside a chosen colour range (see the
// header). Bounds are read as unsigned 32-bit numbers, so a negative one
// lies above every sample. Relies on the operator frame.
#include "kxpSelectGrayScales.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

struct Box {
    uint32_t lo[3], hi[3];
};

// Per channel and sample value, one word: the weighted sample (30, 59 or
// 11 times it; the three together stay below 2^23) in bits 0-23, 1 in bit 24 when it lies in the kept box's
// range and 1 in bit 28 when in the excluded box's. The sum of a pixel's
// three words holds its weighted sum and, in bits 24-25 and 28-29, how many
// channels lie in each range: one addition chain instead of a test per bound.
struct Ranges {
    std::vector<uint32_t> words[3];
    Ranges(const Box& keep, const Box& cut, uint32_t values)
    {
        static const uint32_t weights[3] = {30, 59, 11};
        for (int c = 0; c < 3; ++c) {
            words[c].resize(values);
            for (uint32_t v = 0; v < values; ++v)
                words[c][v] = weights[c] * v | uint32_t(keep.lo[c] < v && v < keep.hi[c]) << 24 | uint32_t(cut.lo[c] < v && v < cut.hi[c]) << 28;
        }
    }
    // The pixel's grey value, and all ones in *kept when the colour stays.
    uint32_t Grey(uint32_t r, uint32_t g, uint32_t b, uint32_t* kept) const
    {
        const uint32_t sum = words[0][r] + words[1][g] + words[2][b];
        // Three in the kept range and fewer than three in the excluded one,
        // without a branch: adding 1 to a count of 3 carries into the bit
        // two above it (26 and 30).
        const uint32_t t = sum + 0x11000000u;
        *kept = 0u - ((t >> 26) & ~(t >> 30) & 1);
        return (sum & 0xFFFFFF) / 100;
    }
};

// Without branches: noisy pictures would mispredict every other pixel.
void Rows24(const uint8_t* in, uint8_t* out, size_t pixels, const Ranges& ranges)
{
    for (size_t i = 0; i < pixels; ++i, in += 3, out += 3) {
        const uint32_t r = in[0], g = in[1], b = in[2];
        uint32_t kept;
        const uint32_t grey = ranges.Grey(r, g, b, &kept) & ~kept;
        out[0] = static_cast<uint8_t>((r & kept) | grey);
        out[1] = static_cast<uint8_t>((g & kept) | grey);
        out[2] = static_cast<uint8_t>((b & kept) | grey);
    }
}

void Rows48(const uint8_t* in, uint8_t* out, size_t pixels, const Ranges& ranges)
{
    for (size_t i = 0; i < pixels; ++i, in += 6, out += 6) {
        uint16_t s[3];
        std::memcpy(s, in, 6);
        uint32_t kept;
        const uint32_t grey = ranges.Grey(s[0], s[1], s[2], &kept) & ~kept;
        for (int c = 0; c < 3; ++c) s[c] = static_cast<uint16_t>((s[c] & kept) | grey);
        std::memcpy(out, s, 6);
    }
}

}  // namespace

uint32_t kxpSelectGrayScales::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputAnyDepth(source, result, &work);
    if (err) return err;
    if ((err = MakeHostOrder(work))) return err;
    if ((err = NewSameSizeResult(work))) return err;
    KX_GfxBuffer* r = Result;

    KXPKeyReader keys(this, false);
    static const char* const names[4][3] = {{"RED_LEVEL1", "GREEN_LEVEL1", "BLUE_LEVEL1"},
                                            {"RED_LEVEL2", "GREEN_LEVEL2", "BLUE_LEVEL2"},
                                            {"RED_LEVEL3", "GREEN_LEVEL3", "BLUE_LEVEL3"},
                                            {"RED_LEVEL4", "GREEN_LEVEL4", "BLUE_LEVEL4"}};
    Box keep, cut;
    const bool wide = work->ColorDepth == 48;
    for (int c = 0; c < 3; ++c) {
        uint32_t* bound[4] = {&keep.hi[c], &keep.lo[c], &cut.hi[c], &cut.lo[c]};
        for (int k = 0; k < 4; ++k) {
            const uint32_t v = keys.ULong(names[k][c], k == 0 ? 255 : 0);
            *bound[k] = wide ? v | v << 8 : v;
        }
    }

    const uint32_t w = work->Width, h = work->Height;
    std::unique_ptr<Ranges> ranges;
    try {
        ranges = std::make_unique<Ranges>(keep, cut, wide ? 65536 : 256);
    } catch (const std::bad_alloc&) {
        return KXERR_NOMEMORY;
    }
    if (work->ColorDepth <= 8) {
        std::memcpy(r->Data, work->Data, size_t(w) * h);
        for (uint32_t i = 0; i < 256; ++i) {
            uint8_t* e = r->Palette + 3 * i;
            uint32_t kept;
            const uint32_t grey = ranges->Grey(e[0], e[1], e[2], &kept);
            if (!kept) e[0] = e[1] = e[2] = static_cast<uint8_t>(grey);
        }
    } else {
        r->NativeDIPF = 0;
        const uint32_t bpp = KXP_BytesPerPixel(work);
        for (uint32_t y = 0; y < h; ++y) {
            RowProgress(y, h);
            (wide ? Rows48 : Rows24)(Row(work, y, bpp), Row(r, y, bpp), w, *ranges);
        }
    }
    MarkResult(r, work, source, 0);
    *result = r;
    return KXERR_NONE;
}
