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

// Per channel and sample value: bit 0 inside the kept box's range, bit 1
// inside the excluded box's; a pixel keeps its colour when the three
// channels' bits together say kept and not excluded.
struct Ranges {
    std::vector<uint8_t> bits[3];
    Ranges(const Box& keep, const Box& cut, uint32_t values)
    {
        for (int c = 0; c < 3; ++c) {
            bits[c].resize(values);
            for (uint32_t v = 0; v < values; ++v)
                bits[c][v] = static_cast<uint8_t>((keep.lo[c] < v && v < keep.hi[c]) | (cut.lo[c] < v && v < cut.hi[c]) << 1);
        }
    }
    // All ones when the colour is kept, else 0.
    uint32_t Kept(uint32_t r, uint32_t g, uint32_t b) const
    {
        const uint32_t m = bits[0][r] & bits[1][g] & bits[2][b];
        return 0u - ((m & 1) & ~(m >> 1));
    }
};

inline uint32_t Grey(uint32_t r, uint32_t g, uint32_t b) { return (r * 30 + g * 59 + b * 11) / 100; }

// Without branches: noisy pictures would mispredict every other pixel.
void Rows24(const uint8_t* in, uint8_t* out, size_t pixels, const Ranges& ranges)
{
    for (size_t i = 0; i < pixels; ++i, in += 3, out += 3) {
        const uint32_t r = in[0], g = in[1], b = in[2];
        const uint32_t kept = ranges.Kept(r, g, b), grey = Grey(r, g, b) & ~kept;
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
        const uint32_t kept = ranges.Kept(s[0], s[1], s[2]), grey = Grey(s[0], s[1], s[2]) & ~kept;
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
            if (!ranges->Kept(e[0], e[1], e[2])) e[0] = e[1] = e[2] = static_cast<uint8_t>(Grey(e[0], e[1], e[2]));
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
