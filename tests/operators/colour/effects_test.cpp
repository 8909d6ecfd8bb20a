// The colour effects: SelectGrayScales, Ghost, ColorCycle and RedEyeFix.
// Their input table over every kind with the alpha each result keeps, the
// numeric cases (boxes and bounds, ghost passes and picture ends,
// permutations, the red-eye test) and ImageMagick's channel swap as an
// oracle.
#include "input_kinds.h"
#include "operators/colour/kxpColorCycle.h"
#include "operators/colour/kxpGhost.h"
#include "operators/colour/kxpRedEyeFix.h"
#include "operators/colour/kxpSelectGrayScales.h"
#include "oracle.h"

using namespace colour_test;
using namespace colour_kinds;
using namespace colour_oracle;

namespace {

using Keys = std::vector<std::pair<const char*, const char*>>;

// A 24-bit row of the given pixels.
Buffer Pixels24(std::vector<std::array<uint8_t, 3>> px, uint32_t w = 0)
{
    if (!w) w = uint32_t(px.size());
    Buffer b = Chunky(24, w, uint32_t(px.size()) / w);
    std::memcpy(b->Data, px.data(), px.size() * 3);
    return b;
}

std::array<uint8_t, 3> At(const Buffer& b, size_t i) { return {b->Data[3 * i], b->Data[3 * i + 1], b->Data[3 * i + 2]}; }

}  // namespace

TEST(ColourEffects, InputTable)
{
    // Columns: SelectGrayScales, Ghost, ColorCycle, RedEyeFix, then the
    // alpha kind ColorCycle keeps (the others keep none).
    const uint32_t K = KXALPHA_SINGLECOLOR, T = KXALPHA_MULTICOLOR, M = KXALPHA_CHANNEL8;
    const Row<5> rows[] = {
        {"pal1", {0, 20, 0, 20, 0}},           {"pal4", {0, 20, 0, 20, 0}},
        {"pal8", {0, 20, 0, 20, 0}},           {"pal8 v1", {0, 20, 0, 20, 0}},
        {"planes5", {0, 20, 0, 20, 0}},        {"planes key", {0, 20, 0, 20, K}},
        {"HAM6", {19, 20, 19, 20, 0}},         {"HAM8 planes", {19, 20, 19, 20, 0}},
        {"EHB", {0, 20, 0, 20, 0}},            {"pal8 key", {0, 20, 0, 20, K}},
        {"pal8 table", {0, 20, 0, 20, T}},     {"pal8 map8", {0, 20, 0, 20, 0}},
        {"pal8 map16", {0, 20, 0, 20, 0}},     {"pal8 key+table", {0, 20, 0, 20, K}},
        {"24", {0, 0, 0, 0, 0}},               {"24 v1", {0, 0, 0, 0, 0}},
        {"24 key", {0, 0, 0, 0, K}},           {"24 table", {0, 0, 0, 0, T}},
        {"24 map8", {0, 0, 0, 0, M}},          {"24 map16", {0, 0, 0, 0, M}},
        {"48 II", {0, 0, 0, 0, 0}},            {"48 MM", {0, 0, 0, 0, 0}},
        {"48 v2", {0, 0, 0, 0, 0}},            {"48 MM map8", {0, 0, 0, 0, M}},
        {"48 MM map16", {0, 0, 0, 0, M}},      {"48 II map16", {0, 0, 0, 0, M}},
        {"48 MM locked", {35, 35, 35, 35, 0}}, {"48 MM+II", {36, 36, 36, 36, 0}},
        {"type 3", {16, 20, 16, 20, 0}},       {"type 0", {15, 20, 15, 20, 0}},
        {"24 planes", {15, 15, 15, 15, 0}},    {"depth 12", {15, 20, 15, 20, 0}},
    };
    ExpectEveryKind(rows, std::size(rows));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.kind);
        Buffer s[4] = {Make(row.kind), Make(row.kind), Make(row.kind), Make(row.kind)}, r[4];
        EXPECT_EQ(RunOp<kxpSelectGrayScales>(s[0].get(), &r[0]), row.codes[0]);
        EXPECT_EQ(RunOp<kxpGhost>(s[1].get(), &r[1]), row.codes[1]);
        EXPECT_EQ(RunOp<kxpColorCycle>(s[2].get(), &r[2]), row.codes[2]);
        EXPECT_EQ(RunOp<kxpRedEyeFix>(s[3].get(), &r[3]), row.codes[3]);
        for (int i = 0; i < 4; ++i) {
            if (!r[i]) continue;
            EXPECT_EQ(r[i]->Type, uint32_t(ONEPLANE));
            EXPECT_EQ(r[i]->ColorDepth, s[i]->ColorDepth);
            EXPECT_EQ(KXSUP_AlphaHolds(r[i].get()), i == 2 ? row.codes[4] : 0u) << "operator " << i;
            if (r[i]->ColorDepth == 48) {
                EXPECT_EQ(KXSUP_GetGfxBufferEndianess(r[i].get()), uint32_t(KXENDIAN_LITTLE)) << "host order";
            }
        }
    }
}

TEST(ColourEffects, SelectGrayScalesBoxes)
{
    struct Case {
        Keys keys;
        std::array<uint8_t, 3> in, out;
    };
    const Keys cut = {{"RED_LEVEL4", "100"}, {"RED_LEVEL3", "200"}, {"GREEN_LEVEL4", "100"}, {"GREEN_LEVEL3", "200"},
                      {"BLUE_LEVEL4", "100"}, {"BLUE_LEVEL3", "200"}};
    const Keys upperOnly = {{"RED_LEVEL3", "200"}, {"GREEN_LEVEL3", "200"}, {"BLUE_LEVEL3", "200"}};
    const Case cases[] = {
        {{}, {0, 128, 200}, {97, 97, 97}},
        {{}, {100, 150, 200}, {100, 150, 200}},
        {{}, {1, 254, 1}, {1, 254, 1}},
        {{}, {1, 255, 1}, {150, 150, 150}},
        {cut, {150, 120, 180}, {135, 135, 135}},
        {cut, {210, 120, 180}, {210, 120, 180}},
        {cut, {100, 120, 180}, {100, 120, 180}},
        {upperOnly, {1, 1, 1}, {1, 1, 1}},  // lower bounds of the excluded box stay 0: 1 lies inside
        {upperOnly, {150, 120, 180}, {135, 135, 135}},
        {{{"RED_LEVEL2", "-1"}}, {100, 150, 200}, {140, 140, 140}},  // a negative bound lies above every sample
        {{{"RED_LEVEL1", "-1"}}, {255, 150, 200}, {255, 150, 200}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.in[0]) + "," + std::to_string(c.in[1]) + "," + std::to_string(c.in[2]));
        Buffer s = Pixels24({c.in}), r;
        ASSERT_EQ(RunOp<kxpSelectGrayScales>(s.get(), &r, c.keys), 0u);
        EXPECT_EQ(At(r, 0), c.out);
    }
}

TEST(ColourEffects, SelectGrayScalesWideAndPalette)
{
    // 48 bits: the bound 128 becomes 32896; grey values of 16-bit samples.
    Buffer s = Chunky(48, 2, 1), r;
    const uint16_t px[] = {32895, 1000, 2000, 32896, 1000, 2000};
    for (int i = 0; i < 6; ++i) Put16(s.get(), i, px[i], false);
    ASSERT_EQ(RunOp<kxpSelectGrayScales>(s.get(), &r, {{"RED_LEVEL1", "128"}}), 0u);
    EXPECT_EQ(Get16(r->Data, 0, false), 32895);
    EXPECT_EQ(Get16(r->Data, 3, false), (32896 * 30 + 1000 * 59 + 2000 * 11) / 100);
    EXPECT_EQ(Get16(r->Data, 5, false), Get16(r->Data, 3, false));
    // The largest samples: the weighted sum needs 23 bits.
    Buffer top = Chunky(48, 1, 1), t;
    const uint16_t tp[] = {65535, 65535, 65000};
    for (int i = 0; i < 3; ++i) Put16(top.get(), i, tp[i], false);
    ASSERT_EQ(RunOp<kxpSelectGrayScales>(top.get(), &t), 0u);
    EXPECT_EQ(Get16(t->Data, 0, false), (65535 * 30 + 65535 * 59 + 65000 * 11) / 100);

    // Palettes: every one of the 256 entries is tested; pixels stay.
    Buffer p = Picture(4), q;
    p->NativeDIPF = 0;
    ASSERT_EQ(RunOp<kxpSelectGrayScales>(p.get(), &q), 0u);
    EXPECT_EQ(0, std::memcmp(q->Data, p->Data, 15));
    for (int i = 0; i < 256; ++i) {
        const uint8_t* e = p->Palette + 3 * i;
        const bool kept = e[0] > 0 && e[0] < 255 && e[1] > 0 && e[1] < 255 && e[2] > 0 && e[2] < 255;
        const uint8_t g = uint8_t((e[0] * 30 + e[1] * 59 + e[2] * 11) / 100);
        const uint8_t want[3] = {kept ? e[0] : g, kept ? e[1] : g, kept ? e[2] : g};
        ASSERT_EQ(0, std::memcmp(q->Palette + 3 * i, want, 3)) << "entry " << i;
    }
}

TEST(ColourEffects, GhostShiftsPixelsAndOneChannel)
{
    // 10 x 2 pixels numbered k: (k, 100 + k, 200 - k).
    auto make = [](uint32_t w, uint32_t h) {
        Buffer b = Chunky(24, w, h);
        for (uint32_t k = 0; k < w * h; ++k) b->Data[3 * k] = uint8_t(k), b->Data[3 * k + 1] = uint8_t(100 + k), b->Data[3 * k + 2] = uint8_t(200 - k);
        return b;
    };
    Buffer s = make(10, 2), r;
    ASSERT_EQ(RunOp<kxpGhost>(s.get(), &r, {{"GHOSTFACTOR", "1"}, {"GHOSTMODE", "blue"}}), 0u);
    EXPECT_EQ(At(r, 0), (std::array<uint8_t, 3>{2, 102, 200 - 4}));
    EXPECT_EQ(At(r, 9), At(s, 11)) << "D(9, 0) is source pixel (1, 1)";
    EXPECT_EQ(At(r, 7)[2], At(s, 11)[2]) << "the ghost channel at x = w - 3 comes from the next row";
    EXPECT_EQ(At(r, 8)[2], At(s, 10)[2]) << "x = w - 2 keeps the shifted pixel's channel";
    // Past the last pixel the last pixel repeats.
    EXPECT_EQ(At(r, 19), At(s, 19));
    EXPECT_EQ(At(r, 18), At(s, 19));
    EXPECT_EQ(At(r, 17)[2], At(s, 19)[2]);

    // Passes: 2 is one pass on the result of one; 0 runs one, 40 sixteen.
    Buffer one, two, twice, zero, forty, sixteen;
    ASSERT_EQ(RunOp<kxpGhost>(s.get(), &one, {{"GHOSTFACTOR", "1"}}), 0u);
    ASSERT_EQ(RunOp<kxpGhost>(one.get(), &twice, {{"GHOSTFACTOR", "1"}}), 0u);
    ASSERT_EQ(RunOp<kxpGhost>(s.get(), &two, {{"GHOSTFACTOR", "2"}}), 0u);
    EXPECT_EQ(0, std::memcmp(two->Data, twice->Data, 60));
    ASSERT_EQ(RunOp<kxpGhost>(s.get(), &zero, {{"GHOSTFACTOR", "0"}}), 0u);
    EXPECT_EQ(0, std::memcmp(zero->Data, one->Data, 60));
    ASSERT_EQ(RunOp<kxpGhost>(s.get(), &forty, {{"GHOSTFACTOR", "40"}}), 0u);
    ASSERT_EQ(RunOp<kxpGhost>(s.get(), &sixteen, {{"GHOSTFACTOR", "16"}}), 0u);
    EXPECT_EQ(0, std::memcmp(forty->Data, sixteen->Data, 60));

    // Narrow and tiny pictures, 24 and 48 bits: nothing is read outside (the sanitizers watch).
    for (uint32_t depth : {24u, 48u})
        for (auto [w, h] : {std::pair{1u, 1u}, {2u, 1u}, {1u, 5u}, {2u, 3u}, {3u, 1u}, {4u, 2u}}) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
            Buffer t = Picture(depth, 4, w, h), g;
            ASSERT_EQ(RunOp<kxpGhost>(t.get(), &g, {{"GHOSTFACTOR", "3"}}), 0u);
            EXPECT_EQ(g->Width, w);
        }
}

TEST(ColourEffects, ColorCyclePermutations)
{
    struct Case {
        const char* index;
        std::array<uint8_t, 3> out;
    };
    for (const Case& c : {Case{nullptr, {20, 30, 10}}, {"1", {20, 30, 10}}, {"2", {30, 10, 20}}, {"3", {30, 20, 10}}, {"4", {20, 10, 30}},
                          {"5", {10, 30, 20}}, {"7", {10, 30, 20}}, {"0", {20, 30, 10}}, {"-1", {10, 30, 20}}}) {
        SCOPED_TRACE(c.index ? c.index : "none");
        Buffer s = Pixels24({{10, 20, 30}}), r, s48 = Chunky(48, 1, 1), r48;
        Keys keys;
        if (c.index) keys.push_back({"INDEX", c.index});
        ASSERT_EQ(RunOp<kxpColorCycle>(s.get(), &r, keys), 0u);
        EXPECT_EQ(At(r, 0), c.out);
        for (int i = 0; i < 3; ++i) Put16(s48.get(), i, uint16_t(1000 * (i + 1)), false);
        ASSERT_EQ(RunOp<kxpColorCycle>(s48.get(), &r48, keys), 0u);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(Get16(r48->Data, i, false), c.out[i] / 10 * 1000);
    }
    // Only the entries of the depth change.
    Buffer p = Picture(4), q;
    ASSERT_EQ(RunOp<kxpColorCycle>(p.get(), &q), 0u);
    for (int i = 0; i < 256; ++i) {
        const uint8_t* e = p->Palette + 3 * i;
        const uint8_t cycled[3] = {e[1], e[2], e[0]};
        ASSERT_EQ(0, std::memcmp(q->Palette + 3 * i, i < 16 ? cycled : e, 3)) << "entry " << i;
    }
}

TEST(ColourEffects, RedEyeFix)
{
    Buffer s = Pixels24({{200, 50, 40}, {200, 100, 40}, {150, 76, 40}, {160, 79, 79}}), r;
    ASSERT_EQ(RunOp<kxpRedEyeFix>(s.get(), &r), 0u);
    EXPECT_EQ(At(r, 0), (std::array<uint8_t, 3>{30, 50, 40}));
    EXPECT_EQ(At(r, 1), At(s, 1));
    EXPECT_EQ(At(r, 2), At(s, 2));
    EXPECT_EQ(At(r, 3), (std::array<uint8_t, 3>{52, 79, 79}));

    // 48 bits: the test on high bytes, the new red from the full samples.
    Buffer w = Chunky(48, 1, 1), q;
    const uint16_t px[] = {0xC800, 0x32FF, 0x2801};
    for (int i = 0; i < 3; ++i) Put16(w.get(), i, px[i], false);
    ASSERT_EQ(RunOp<kxpRedEyeFix>(w.get(), &q), 0u);
    EXPECT_EQ(Get16(q->Data, 0, false), (0x32FF + 0x2801) / 3);

    // A record whose PixelBits says less than its depth still gets whole rows.
    Buffer lying = Picture(24, 4, 5, 3), l;
    lying->PixelBits = 8;
    ASSERT_EQ(RunOp<kxpRedEyeFix>(lying.get(), &l), 0u);
    EXPECT_EQ(l->BufferSize, 45u);
    EXPECT_EQ(l->PixelBits, 24u);
}

// Swapping red and green is ColorCycle's INDEX 4.
TEST(ColourEffects, OracleImageMagickChannelSwap)
{
    if (!KXT_HaveTool("convert-im6.q16")) GTEST_SKIP() << "ImageMagick is missing";
    const std::string dir = KXT_NewTempDir("/tmp/kxeffects-XXXXXX");
    for (uint32_t depth : {24u, 48u}) {
        SCOPED_TRACE(depth);
        Buffer s = Noise(depth, 33, 5), r;
        ASSERT_TRUE(WritePpm(dir + "/in.ppm", s.get()));
        ASSERT_EQ(RunOp<kxpColorCycle>(s.get(), &r, {{"INDEX", "4"}}), 0u);
        const std::string cmd = "convert-im6.q16 IN -separate -swap 0,1 -combine -depth " + std::to_string(depth / 3) + " OUT";
        ASSERT_TRUE(RunTool(cmd, dir + "/in.ppm", dir + "/out.ppm"));
        Pnm p;
        ASSERT_TRUE(ReadPnm(dir + "/out.ppm", &p));
        EXPECT_EQ(MaxDiff(p.samples, Samples(r.get())), 0u);
    }
}
