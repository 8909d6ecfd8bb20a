// RotateFree maps only the covered run of each result row: every pixel,
// covered or not, must still be what the per-pixel mapping gives, at the
// edges of the runs above all (angles near the right angles, thin pictures,
// turns about a corner, every depth, the alpha map).
#include <cmath>
#include <cstring>

#include "geo_support.h"
#include "operators/geometry/kxpRotateFree.h"

using namespace geo;

namespace {

struct Case {
    uint32_t w, h, depth;
    const char* angle;
    int cx, cy;  // turning point, or -1 for the centre
    bool keep;
    bool alpha;
};

// The mapping pixel by pixel, each result pixel tested on its own.
std::vector<uint8_t> Reference(const KX_GfxBuffer* src, const uint8_t* srcBytes, uint32_t bpp, uint32_t rw, uint32_t rh, double angle,
                               int64_t cx, int64_t cy)
{
    const uint32_t w = src->Width, h = src->Height;
    const int64_t offX = (static_cast<int64_t>(rw) - w) / 2, offY = (static_cast<int64_t>(rh) - h) / 2;
    const double theta = (360 - angle) / 57.29577866666166;
    const double c = std::cos(theta), s = std::sin(theta);
    const double fcx = static_cast<double>(cx), fcy = static_cast<double>(cy);
    std::vector<uint8_t> out(static_cast<size_t>(rw) * rh * bpp, 0);
    for (uint32_t y = 0; y < rh; y++)
        for (uint32_t x = 0; x < rw; x++) {
            const double dx = static_cast<double>(static_cast<int64_t>(x) - offX);
            const double dy = static_cast<double>(static_cast<int64_t>(y) - offY);
            const double fx = dx * c - dy * s - fcx * c + fcx + fcy * s;
            const double fy = c * dy + dx * s - fcx * s + fcy - fcy * c;
            if (!(fx > -1.0 && fy > -1.0 && fx < static_cast<double>(w) && fy < static_cast<double>(h))) continue;
            const size_t sx = static_cast<size_t>(static_cast<int64_t>(fx)), sy = static_cast<size_t>(static_cast<int64_t>(fy));
            std::memcpy(&out[(static_cast<size_t>(y) * rw + x) * bpp], srcBytes + (sy * w + sx) * bpp, bpp);
        }
    return out;
}

}  // namespace

TEST(RotateFree, EveryPixelFollowsTheMapping)
{
    const Case cases[] = {
        {37, 23, 24, "17", -1, -1, false, true},     {23, 37, 24, "-17", -1, -1, false, false}, {40, 30, 48, "30", -1, -1, false, true},
        {31, 29, 8, "45", -1, -1, false, false},     {16, 16, 24, "89.9999", -1, -1, false, false},
        {16, 9, 24, "90.0001", -1, -1, false, true}, {19, 11, 8, "0.001", -1, -1, false, false},  {19, 11, 24, "179.9999", -1, -1, false, false},
        {12, 20, 24, "270.5", -1, -1, false, false}, {25, 13, 24, "123.4", 0, 0, false, true},    {25, 13, 48, "200", 25, 13, false, false},
        {25, 13, 24, "33", 3, 11, true, false},      {25, 13, 8, "-359.9", -1, -1, true, false},   {1, 1, 24, "10", -1, -1, false, false},
        {1, 17, 24, "60", -1, -1, false, true},      {17, 1, 8, "75", -1, -1, false, false},      {2, 3, 48, "300", 2, 0, false, true},
    };
    for (const Case& k : cases) {
        const std::string what = std::to_string(k.w) + "x" + std::to_string(k.h) + "x" + std::to_string(k.depth) + " at " + k.angle;
        const uint32_t bpp = Bpp(k.depth);
        Buffer src = Make(k.w, k.h, k.depth, Noise(static_cast<size_t>(k.w) * k.h * bpp, k.w * 131 + k.h));
        if (k.alpha) AddAlpha8(src.get(), 7);
        std::vector<std::pair<const char*, const char*>> keys = {{"ROTATE_ANGLE", k.angle}};
        const std::string x = std::to_string(k.cx), y = std::to_string(k.cy);
        if (k.cx >= 0) {
            keys.push_back({"METHOD", "GIVENPOINT"});
            keys.push_back({"X_COORD", x.c_str()});
            keys.push_back({"Y_COORD", y.c_str()});
        }
        if (k.keep) keys.push_back({"KEEPSIZE", nullptr});
        kxpRotateFree op(Lib());
        KX_GfxBuffer* res = nullptr;
        ASSERT_EQ(RunOp(op, src.get(), &res, keys), 0u) << what;
        const int64_t cx = k.cx >= 0 ? k.cx : k.w / 2, cy = k.cy >= 0 ? k.cy : k.h / 2;
        const double angle = std::atof(k.angle);
        const std::vector<uint8_t> want = Reference(src.get(), src->Data, bpp, res->Width, res->Height, angle, cx, cy);
        EXPECT_EQ(Bytes(res), want) << what;
        if (k.alpha) {
            ASSERT_EQ(res->AlphaType, static_cast<uint32_t>(KXALPHA_CHANNEL8)) << what;
            const uint8_t* map = KXSUP_AlphaBytes(src.get());
            const std::vector<uint8_t> wantAlpha = Reference(src.get(), map, 1, res->Width, res->Height, angle, cx, cy);
            EXPECT_EQ(0, std::memcmp(KXSUP_AlphaBytes(res), wantAlpha.data(), wantAlpha.size())) << what << " alpha";
        }
    }
}
