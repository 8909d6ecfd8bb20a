// kxpSelectGrayScales: grey outside a chosen colour range (see the
// header). Bounds are read as unsigned 32-bit numbers, so a negative one
// lies above every sample. Relies on the operator frame.
#include "kxpSelectGrayScales.h"

#include <cstring>

namespace {

struct Box {
    uint32_t lo[3], hi[3];
    bool Holds(uint32_t r, uint32_t g, uint32_t b) const
    {
        return lo[0] < r && r < hi[0] && lo[1] < g && g < hi[1] && lo[2] < b && b < hi[2];
    }
};

inline uint32_t Grey(uint32_t r, uint32_t g, uint32_t b) { return (r * 30 + g * 59 + b * 11) / 100; }

void Rows24(const uint8_t* in, uint8_t* out, size_t pixels, const Box& keep, const Box& cut)
{
    for (size_t i = 0; i < pixels; ++i, in += 3, out += 3) {
        const uint32_t r = in[0], g = in[1], b = in[2];
        if (keep.Holds(r, g, b) && !cut.Holds(r, g, b)) {
            out[0] = in[0], out[1] = in[1], out[2] = in[2];
        } else {
            out[0] = out[1] = out[2] = static_cast<uint8_t>(Grey(r, g, b));
        }
    }
}

void Rows48(const uint8_t* in, uint8_t* out, size_t pixels, const Box& keep, const Box& cut)
{
    for (size_t i = 0; i < pixels; ++i, in += 6, out += 6) {
        uint16_t s[3];
        std::memcpy(s, in, 6);
        if (!keep.Holds(s[0], s[1], s[2]) || cut.Holds(s[0], s[1], s[2])) s[0] = s[1] = s[2] = static_cast<uint16_t>(Grey(s[0], s[1], s[2]));
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
    if (work->ColorDepth <= 8) {
        std::memcpy(r->Data, work->Data, size_t(w) * h);
        for (uint32_t i = 0; i < 256; ++i) {
            uint8_t* e = r->Palette + 3 * i;
            if (!keep.Holds(e[0], e[1], e[2]) || cut.Holds(e[0], e[1], e[2])) e[0] = e[1] = e[2] = static_cast<uint8_t>(Grey(e[0], e[1], e[2]));
        }
    } else {
        r->NativeDIPF = 0;
        const uint32_t bpp = KXP_BytesPerPixel(work);
        for (uint32_t y = 0; y < h; ++y) {
            RowProgress(y, h);
            (wide ? Rows48 : Rows24)(Row(work, y, bpp), Row(r, y, bpp), w, keep, cut);
        }
    }
    MarkResult(r, work, source, 0);
    *result = r;
    return KXERR_NONE;
}
