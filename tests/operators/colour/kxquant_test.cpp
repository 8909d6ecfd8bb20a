// The colour quantiser: histogram saturation, the median cut on hand-worked
// box lists, the nearest-entry search against a brute-force minimum, the
// cache binding of the best-pen order, and error diffusion whose shares
// round toward minus infinity and fall off the row's edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "core/kxlib.h"
#include "operators/colour/kxquant.h"

namespace {

std::vector<uint8_t> Grey(std::initializer_list<uint8_t> values)
{
    std::vector<uint8_t> px;
    for (uint8_t v : values) px.insert(px.end(), {v, v, v});
    return px;
}

std::vector<uint8_t> Map(std::vector<uint8_t> px, uint32_t w, uint32_t h, std::vector<KXQEntry> entries, uint32_t method)
{
    std::vector<uint8_t> out(size_t(w) * h, 0xEE);
    EXPECT_EQ(MapToPalette(px.data(), out.data(), w, h, entries.data(), uint32_t(entries.size()), method, nullptr), 0u);
    return out;
}

KXQBox Box(uint32_t r5, uint32_t g5, uint32_t b5, uint16_t weight) { return {weight, uint16_t((r5 << 10) | (g5 << 5) | b5)}; }

}  // namespace

TEST(KxQuantHistogram, CountersSaturateBelowTheTop)
{
    std::vector<uint8_t> px(70000 * 3, 0);
    for (size_t i = 0; i < 5 * 3; ++i) px[i] = 200;  // five pixels of another bucket
    std::vector<uint16_t> hist(KXQ_HISTOGRAM_SIZE, 0);
    BuildColorHistogram(px.data(), 70000, 1, hist.data());
    EXPECT_EQ(hist[0], 65534);
    EXPECT_EQ(hist[KXQ_ColorKey(200, 200, 200)], 5);
}

TEST(KxQuantMedianCut, FewBucketsGiveTheirCornersPaddedWithWhite)
{
    std::vector<uint16_t> hist(KXQ_HISTOGRAM_SIZE, 0);
    hist[KXQ_ColorKey(13, 250, 7)] = 70;  // bucket (8, 248, 0)
    hist[KXQ_ColorKey(0, 0, 255)] = 1;    // bucket (0, 0, 248)
    KXQEntry e[4];
    ASSERT_EQ(MedianCutPalette(hist.data(), e, 4), 0u);
    // Ascending key order: (0,0,248) before (8,248,0).
    const uint8_t want[4][3] = {{0, 0, 248}, {8, 248, 0}, {255, 255, 255}, {255, 255, 255}};
    for (int i = 0; i < 4; ++i) EXPECT_EQ((std::vector<int>{e[i].R, e[i].G, e[i].B}), (std::vector<int>{want[i][0], want[i][1], want[i][2]})) << i;
}

TEST(KxQuantMedianCut, SplitsOnTheWidestAxisByWeight)
{
    // R5 0, 10, 20 on the R axis; the heavy last key pulls the lower part up
    // to two keys: means (0+80)/2+4 and 160+4.
    std::vector<KXQBox> list = {Box(20, 0, 0, 100), Box(0, 0, 0, 1), Box(10, 0, 0, 1)};
    KXQEntry e[2] = {};
    ASSERT_EQ(SplitColorBox(list.data(), 3, 0, 2, e), 0u);
    EXPECT_EQ((std::vector<int>{e[0].R, e[0].G, e[0].B, e[1].R, e[1].G, e[1].B}), (std::vector<int>{44, 4, 4, 164, 4, 4}));

    // As many keys as slots: each key its own centre.
    std::vector<KXQBox> two = {Box(1, 2, 3, 9), Box(31, 0, 0, 1)};
    ASSERT_EQ(SplitColorBox(two.data(), 2, 0, 2, e), 0u);
    EXPECT_EQ((std::vector<int>{e[0].R, e[0].G, e[0].B, e[1].R}), (std::vector<int>{12, 20, 28, 252}));

    // G wins over R only when its range is larger: here B has the widest range.
    std::vector<KXQBox> blue = {Box(0, 0, 0, 5), Box(4, 4, 30, 5), Box(2, 4, 10, 5)};
    ASSERT_EQ(SplitColorBox(blue.data(), 3, 0, 2, e), 0u);
    EXPECT_EQ(e[0].B, 4);  // lowest blue key alone, then the mean of the two others
    EXPECT_EQ(e[1].B, (80 + 240) / 2 + 4);

    EXPECT_EQ(SplitColorBox(two.data(), 2, 0, 3, e), uint32_t(KXERR_DECODE));
}

TEST(KxQuantMedianCut, FillsEverySlotOfALargeHistogram)
{
    std::vector<uint16_t> hist(KXQ_HISTOGRAM_SIZE, 0);
    srand(7);
    for (int i = 0; i < 3000; ++i) hist[rand() % KXQ_HISTOGRAM_SIZE] = uint16_t(1 + rand() % 65534);
    KXQEntry e[256];
    for (auto& x : e) x = {1, 2, 3, 77};
    ASSERT_EQ(MedianCutPalette(hist.data(), e, 256), 0u);
    // Every entry is a bucket centre or a mean plus 4: never the marker.
    for (const auto& x : e) EXPECT_NE(x.X, 77);
}

TEST(KxQuantFindBestPen, FindsANearestEntry)
{
    srand(3);
    for (int round = 0; round < 200; ++round) {
        std::vector<KXQEntry> e(1 + rand() % 256);
        for (auto& x : e) x = {uint8_t(rand()), uint8_t(rand()), uint8_t(rand()), 0};
        std::vector<uint8_t> dummy(3);
        std::vector<uint8_t> idx(1);
        MapToPalette(dummy.data(), idx.data(), 1, 1, e.data(), uint32_t(e.size()), 0, nullptr);  // sorts
        for (int k = 0; k < 20; ++k) {
            int32_t r = rand() % 300 - 20, g = rand() % 300 - 20, b = rand() % 300 - 20;
            uint32_t got = FindBestPen(r, g, b, e.data(), uint32_t(e.size()), nullptr);
            auto dist = [&](const KXQEntry& x) {
                int32_t cr = std::clamp(r, 0, 255), cg = std::clamp(g, 0, 255), cb = std::clamp(b, 0, 255);
                return (x.R - cr) * (x.R - cr) + (x.G - cg) * (x.G - cg) + (x.B - cb) * (x.B - cb);
            };
            int32_t best = dist(e[0]);
            for (const auto& x : e) best = std::min(best, dist(x));
            ASSERT_LT(got, e.size());
            EXPECT_EQ(dist(e[got]), best) << "round " << round;
        }
    }
}

TEST(KxQuantMapping, SortsThePaletteByRedGreenBlue)
{
    std::vector<KXQEntry> e = {{9, 0, 0, 0}, {1, 5, 0, 0}, {1, 2, 9, 0}, {1, 2, 3, 0}};
    std::vector<uint8_t> px = {9, 0, 0, 1, 2, 3};
    std::vector<uint8_t> out(2);
    ASSERT_EQ(MapToPalette(px.data(), out.data(), 2, 1, e.data(), 4, KXQ_METHOD_FLOYD, nullptr), 0u);
    EXPECT_EQ((std::vector<int>{e[0].B, e[1].B, e[2].G, e[3].R}), (std::vector<int>{3, 9, 5, 9}));
    EXPECT_EQ(out, (std::vector<uint8_t>{3, 0}));
}

TEST(KxQuantMapping, BestPenBindsABucketToItsFirstColourInVisitingOrder)
{
    const std::vector<KXQEntry> pal = {{0, 0, 0, 0}, {12, 0, 0, 0}, {255, 255, 255, 0}};
    // Same bucket: (7,0,0) is nearer to (12,0,0) but (0,0,0) was looked up first.
    EXPECT_EQ(Map({0, 0, 0, 7, 0, 0}, 2, 1, pal, 0), (std::vector<uint8_t>{0, 0}));
    // Column 0 is visited before the interior: the bottom-left black binds
    // the bucket before the centre pixel (7,0,0) is reached.
    std::vector<uint8_t> px(9 * 3, 255);
    px[(1 * 3 + 1) * 3] = 7, px[(1 * 3 + 1) * 3 + 1] = 0, px[(1 * 3 + 1) * 3 + 2] = 0;
    px[(2 * 3 + 0) * 3] = 0, px[(2 * 3 + 0) * 3 + 1] = 0, px[(2 * 3 + 0) * 3 + 2] = 0;
    auto out = Map(px, 3, 3, pal, 0);
    EXPECT_EQ(out[4], 0);
    EXPECT_EQ(out[6], 0);
    EXPECT_EQ(out[0], 2);
}

TEST(KxQuantMapping, DiffusionSharesAndEdges)
{
    const std::vector<KXQEntry> bw = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    struct Case {
        const char* name;
        uint32_t method, w, h;
        std::vector<uint8_t> px, want;
    } cases[] = {
        // One pixel wide: only the share below survives, (102400*5)>>4 >> 10 = 31.
        {"fs one column", KXQ_METHOD_FLOYD, 1, 2, Grey({100, 100}), {0, 1}},
        // 129 -> white, E = -126*1024; ahead (E*7)>>4 = -56448, >>10 = -56 (not -55): 183-56 = 127 -> black.
        {"fs negative floor", KXQ_METHOD_FLOYD, 2, 1, Grey({129, 183}), {1, 0}},
        // Burkes ahead (E*8)>>5 = -32256, >>10 = -32 (not -31): 159-32 = 127 -> black.
        {"burkes negative floor", KXQ_METHOD_BURKES, 2, 1, Grey({129, 159}), {1, 0}},
        // Any other method number is Burkes.
        {"method 7 is burkes", 7, 2, 1, Grey({129, 159}), {1, 0}},
        // Row 1 runs right to left: (1,1) goes first, 100+31 -> white, and
        // pushes (0,1) down to 120+18-55 -> black (left to right would give
        // white, then black).
        {"serpentine", KXQ_METHOD_FLOYD, 2, 2, Grey({0, 100, 120, 100}), {0, 0, 0, 1}},
        // Without diffusion the same picture is all black.
        {"best pen", KXQ_METHOD_BESTPEN, 2, 2, Grey({0, 100, 120, 100}), {0, 0, 0, 0}},
    };
    for (const auto& c : cases) EXPECT_EQ(Map(c.px, c.w, c.h, bw, c.method), c.want) << c.name;
}
