// kxpRotateFree: turns an image by ROTATE_ANGLE degrees (real, default 90;
// positive turns clockwise on screen) about the image centre or, with
// METHOD "GIVENPOINT", about (X_COORD, Y_COORD), without interpolation.
// The result is the bounding square of any turn that is not a multiple of
// 90 degrees, the swapped size plus 2 for the texts "90" and "270", else
// (and with KEEPSIZE) the source size; uncovered pixels are 0. Any depth
// (bit planes as a chunky copy, HAM refused), 48-bit samples in host
// order; an 8-bit alpha map is turned with the pixels, uncovered alpha 0.
// Angles that are not finite, and results beyond 32-bit sizes, give 3.
#include "kxpRotateFree.h"

#include <cmath>
#include <cstring>

namespace {

struct Turn {
    int64_t offX, offY;
    int64_t cx, cy;
    double c, s;
};

// Maps every result pixel backwards into the source with the binding
// formula, evaluated left to right. Each of its four bounds tests is
// monotone along a row (every step of the formula is a rounded product or
// sum, each monotone in the column), so the covered pixels of a row form
// one run: its ends are found by bisecting each test, and only the run is
// mapped. Pixels outside it keep the buffer's zeros.
template <unsigned B, typename Progress>
void TurnImage(uint8_t* dst, uint32_t rw, uint32_t rh, const uint8_t* src, uint32_t w, uint32_t h, const Turn& t, Progress&& progress)
{
    const double c = t.c, s = t.s;
    const double cx = static_cast<double>(t.cx), cy = static_cast<double>(t.cy);
    const double cxc = cx * c, cys = cy * s, cxs = cx * s, cyc = cy * c;
    const double fw = static_cast<double>(w), fh = static_cast<double>(h);
    for (uint32_t y = 0; y < rh; y++) {
        progress(y);
        const double dy = static_cast<double>(static_cast<int64_t>(y) - t.offY);
        const double dys = dy * s, cdy = c * dy;
        auto fxAt = [&](uint32_t x) {
            const double dx = static_cast<double>(static_cast<int64_t>(x) - t.offX);
            return dx * c - dys - cxc + cx + cys;
        };
        auto fyAt = [&](uint32_t x) {
            const double dx = static_cast<double>(static_cast<int64_t>(x) - t.offX);
            return cdy + dx * s - cxs + cy - cyc;
        };
        // Narrows [from, to) to the columns where the monotone test holds.
        uint32_t from = 0, to = rw;
        auto narrow = [&](auto&& test) {
            if (from >= to) return;
            const bool first = test(from), last = test(to - 1);
            if (first && last) return;
            if (!first && !last) {
                to = from;
                return;
            }
            // Bisect for the boundary between from and to - 1.
            uint32_t lo = from, hi = to - 1;
            while (hi - lo > 1) {
                const uint32_t mid = lo + (hi - lo) / 2;
                (test(mid) == first ? lo : hi) = mid;
            }
            if (first) to = hi;
            else from = hi;
        };
        narrow([&](uint32_t x) { return fxAt(x) > -1.0; });
        narrow([&](uint32_t x) { return fxAt(x) < fw; });
        narrow([&](uint32_t x) { return fyAt(x) > -1.0; });
        narrow([&](uint32_t x) { return fyAt(x) < fh; });
        uint8_t* d = dst + static_cast<size_t>(y) * rw * B;
        // Inside the run -1 < fx < w and -1 < fy < h, so the truncated
        // coordinates lie in the picture.
        for (uint32_t x = from; x < to; x++) {
            const size_t sx = static_cast<size_t>(static_cast<int64_t>(fxAt(x)));
            const size_t sy = static_cast<size_t>(static_cast<int64_t>(fyAt(x)));
            std::memcpy(d + static_cast<size_t>(x) * B, src + (sy * w + sx) * B, B);
        }
    }
}

}  // namespace

uint32_t kxpRotateFree::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputAnyDepth(source, result, &work);
    if (!err) err = MakeHostOrder(work);
    if (!err) err = FetchAlphaMap8(work);
    if (!err) err = NewResult(work);
    if (err) return err;
    KX_GfxBuffer* r = Result;
    r->Version = 1;

    KXPKeyReader keys(this, false);
    const double angle = keys.Real("ROTATE_ANGLE", 90.0);
    if (!std::isfinite(angle)) return KXERR_NOMEMORY;
    const uint32_t w = work->Width, h = work->Height;
    uint64_t rw = w, rh = h;
    if (!keys.Has("KEEPSIZE")) {
        const char* text = keys.Text("ROTATE_ANGLE");
        if (std::fmod(std::trunc(angle), 90.0) != 0) {
            const double side = std::trunc(std::sqrt(static_cast<double>(w) * w + static_cast<double>(h) * h) + 2);
            if (!(side < 4294967296.0)) return KXERR_NOMEMORY;
            rw = rh = static_cast<uint64_t>(side);
        } else if (!text || !strcmp(text, "90") || !strcmp(text, "90.0") || !strcmp(text, "270") || !strcmp(text, "270.0")) {
            rw = static_cast<uint64_t>(h) + 2;
            rh = static_cast<uint64_t>(w) + 2;
        }
    }
    const uint32_t pixelBits = work->ColorDepth > 24 ? 48 : work->ColorDepth > 8 ? 24 : 8, bpp = pixelBits / 8;
    uint32_t size = 0;
    if (!KXSUP_CheckedSize(&size, rw, rh, bpp)) return KXERR_NOMEMORY;
    r->Width = static_cast<uint32_t>(rw);
    r->Height = static_cast<uint32_t>(rh);
    r->PixelBits = pixelBits;
    r->BufferSize = size;
    // Fresh zero pages from the kernel: the rows' uncovered ends are never
    // written, and the block is cleared only once.
    if (!(r->Data = static_cast<uint8_t*>(AllocVec(size, MEMF_CLEAR)))) return KXERR_NOMEMORY;

    Turn t;
    t.offX = (static_cast<int64_t>(rw) - w) / 2;
    t.offY = (static_cast<int64_t>(rh) - h) / 2;
    t.cx = w / 2;
    t.cy = h / 2;
    static const char* const methods[] = {"GIVENPOINT"};
    if (keys.Word("METHOD", methods, 1, -1) == 0) {
        t.cx = keys.Long("X_COORD", 0);
        t.cy = keys.Long("Y_COORD", 0);
        t.cx = t.cx < 0 ? 0 : t.cx > w ? w : t.cx;
        t.cy = t.cy < 0 ? 0 : t.cy > h ? h : t.cy;
    }
    const double theta = (360 - angle) / 57.29577866666166;
    t.c = std::cos(theta);
    t.s = std::sin(theta);

    auto progress = [&](uint32_t y) { RowProgress(y, r->Height); };
    switch (bpp) {
    case 1: TurnImage<1>(r->Data, r->Width, r->Height, work->Data, w, h, t, progress); break;
    case 3: TurnImage<3>(r->Data, r->Width, r->Height, work->Data, w, h, t, progress); break;
    default: TurnImage<6>(r->Data, r->Width, r->Height, work->Data, w, h, t, progress); break;
    }
    *result = r;

    if (AlphaMap8) {
        auto* map = static_cast<uint8_t*>(AllocVec(static_cast<size_t>(r->Width) * r->Height, MEMF_CLEAR));
        if (!map) {
            *result = nullptr;
            return KXERR_NOMEMORY;
        }
        TurnImage<1>(map, r->Width, r->Height, AlphaMap8, w, h, t, progress);
        AttachAlphaMap(r, map);
    } else if ((err = CarryAlpha(r, work))) {
        *result = nullptr;
        return err;
    }
    MarkResult(r, work, source, CarryAll);
    return KXERR_NONE;
}
