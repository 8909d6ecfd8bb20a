// Resize against a plain row-by-row walk of the averaging traversal: one
// output row at a time, vertical accumulators carried from row to row,
// then the horizontal walk over the intermediate row. The operator plans
// its weights once; both must agree to the bit at every depth, for
// reductions, enlargements, uneven ratios and the columns a truncated step
// leaves unreached.
#include <algorithm>

#include "geo_support.h"
#include "operators/geometry/kxpResize.h"

using namespace geo;

namespace {

// Samples of one picture as integers (1 index, or 3 channel values per pixel).
std::vector<int32_t> SamplesOf(const uint8_t* data, uint32_t w, uint32_t h, uint32_t bpp)
{
    const size_t n = size_t(w) * h * (bpp == 1 ? 1 : 3);
    std::vector<int32_t> v(n);
    for (size_t i = 0; i < n; i++) v[i] = bpp == 6 ? reinterpret_cast<const uint16_t*>(data)[i] : data[i];
    return v;
}

std::vector<int32_t> Walk(const std::vector<int32_t>& src, uint32_t w, uint32_t h, uint32_t bpp, uint32_t nw, uint32_t nh)
{
    const uint32_t c = bpp == 1 ? 1 : 3;
    const bool pick = bpp == 1;
    const int32_t top = bpp == 6 ? 65535 : 255;
    const int32_t xstep = int32_t((nw == w ? 1.0 : double(nw) / w) * 4096);
    const int32_t ystep = int32_t((nh == h ? 1.0 : double(nh) / h) * 4096);
    std::vector<int32_t> dst(size_t(nw) * nh * c), inter(size_t(w) * c), out(size_t(nw) * c, 0), acc(size_t(w) * c, 2048);
    int32_t rowLeft = ystep;
    bool needRow = true;
    uint32_t rowsRead = 0;
    const int32_t* cur = nullptr;
    auto row = [&](uint32_t y) { return src.data() + size_t(y) * w * c; };
    for (uint32_t r = 0; r < nh; r++) {
        if (nh == h) {
            std::copy(row(r), row(r) + size_t(w) * c, inter.begin());
        } else {
            int32_t toFill = 4096;
            while (rowLeft < toFill) {
                if (needRow && rowsRead < h) cur = row(rowsRead++);
                if (!pick)
                    for (size_t i = 0; i < inter.size(); i++) acc[i] += rowLeft * cur[i];
                toFill -= rowLeft;
                rowLeft = ystep;
                needRow = true;
            }
            if (needRow && rowsRead < h) {
                cur = row(rowsRead++);
                needRow = false;
            }
            for (size_t i = 0; i < inter.size(); i++) {
                inter[i] = pick ? cur[i] : std::min((acc[i] + toFill * cur[i]) / 4096, top);
                acc[i] = 2048;
            }
            rowLeft -= toFill;
            if (rowLeft == 0) {
                rowLeft = ystep;
                needRow = true;
            }
        }
        if (nw == w) {
            out = inter;
        } else {
            int32_t toFill = 4096;
            bool needCol = false;
            std::vector<int32_t> a(c, 2048);
            uint32_t pos = 0;
            auto store = [&](uint32_t col) {
                ASSERT_LT(pos, nw);
                for (uint32_t k = 0; k < c; k++) out[size_t(pos) * c + k] = pick ? inter[col] : std::min(a[k] / 4096, top);
            };
            for (uint32_t col = 0; col < w; col++) {
                int32_t left = xstep;
                while (left >= toFill) {
                    if (needCol) {
                        pos++;
                        std::fill(a.begin(), a.end(), 2048);
                    }
                    for (uint32_t k = 0; k < c; k++) a[k] += toFill * inter[size_t(col) * c + k];
                    store(col);
                    left -= toFill;
                    toFill = 4096;
                    needCol = true;
                }
                if (left > 0) {
                    if (needCol) {
                        pos++;
                        std::fill(a.begin(), a.end(), 2048);
                        needCol = false;
                    }
                    for (uint32_t k = 0; k < c; k++) a[k] += left * inter[size_t(col) * c + k];
                    toFill -= left;
                }
            }
            if (toFill > 0)
                for (uint32_t k = 0; k < c; k++) a[k] += toFill * inter[size_t(w - 1) * c + k];
            if (!needCol) store(w - 1);
        }
        std::copy(out.begin(), out.end(), dst.begin() + size_t(r) * nw * c);
    }
    return dst;
}

TEST(ResizeReference, AgreesWithTheRowWalkToTheBit)
{
    struct Size {
        uint32_t w, h, nw, nh;
    } sizes[] = {
        {4, 4, 2, 2},    {5, 3, 2, 2},   {3, 5, 7, 11},  {7, 3, 3, 7},    {10, 10, 3, 3}, {100, 9, 3, 4},
        {1, 1, 5, 3},    {2, 9, 9, 2},   {17, 13, 16, 12}, {13, 17, 14, 18}, {6, 6, 6, 4},  {6, 6, 4, 6},
        {300, 2, 7, 2},  {2, 300, 2, 7}, {9, 9, 25, 25},
    };
    for (uint32_t depth : {8u, 4u, 24u, 48u}) {
        for (const auto& s : sizes) {
            SCOPED_TRACE(testing::Message() << depth << " bits " << s.w << "x" << s.h << " -> " << s.nw << "x" << s.nh);
            const uint32_t bpp = Bpp(depth);
            std::vector<uint8_t> px = Noise(size_t(s.w) * s.h * bpp, s.w * 31 + s.nh);
            if (depth == 4)
                for (auto& b : px) b &= 15;
            Buffer src = Make(s.w, s.h, depth, px);
            const bool alpha = depth >= 24;
            if (alpha) AddAlpha8(src.get(), 3);
            kxpResize op(Lib());
            KX_GfxBuffer* res = nullptr;
            const std::string nw = std::to_string(s.nw), nh = std::to_string(s.nh);
            ASSERT_EQ(RunOp(op, src.get(), &res, {{"NEW_WIDTH", nw.c_str()}, {"NEW_HEIGHT", nh.c_str()}}), 0u);
            ASSERT_EQ(res->Width, s.nw);
            ASSERT_EQ(res->Height, s.nh);
            EXPECT_EQ(SamplesOf(res->Data, s.nw, s.nh, bpp), Walk(SamplesOf(src->Data, s.w, s.h, bpp), s.w, s.h, bpp, s.nw, s.nh));
            if (alpha) {
                ASSERT_EQ(res->AlphaType, uint32_t(KXALPHA_CHANNEL8));
                EXPECT_EQ(SamplesOf(KXSUP_AlphaBytes(res), s.nw, s.nh, 1),
                          Walk(SamplesOf(KXSUP_AlphaBytes(src.get()), s.w, s.h, 1), s.w, s.h, 1, s.nw, s.nh));
            }
        }
    }
}

}  // namespace
