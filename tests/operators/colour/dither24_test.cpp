// kxpDither24Bit: key clamping and mode words, the ordered cube and its
// threshold matrix, the computed palettes (black and white at 1 bit,
// bucket corners padded with white) and the mapping through them.
#include "colour_fixtures.h"
#include "operators/colour/kxpDither24Bit.h"

using namespace colour_test;

namespace {

Buffer Solid(uint32_t w, uint32_t h, uint8_t r, uint8_t g, uint8_t b)
{
    Buffer s = Chunky(24, w, h);
    for (uint32_t i = 0; i < w * h; ++i) s->Data[3 * i] = r, s->Data[3 * i + 1] = g, s->Data[3 * i + 2] = b;
    return s;
}

std::vector<int> Entry(const Buffer& r, int i) { return {r->Palette[3 * i], r->Palette[3 * i + 1], r->Palette[3 * i + 2]}; }

}  // namespace

TEST(Dither24Bit, ColourDepthKeyIsClamped)
{
    struct Case {
        const char* value;
        uint32_t depth;
    } cases[] = {{nullptr, 8}, {"0", 1}, {"3", 3}, {"12", 8}, {"-3", 8}, {"abc", 1}, {" 5x", 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(default)");
        Buffer s = Solid(3, 3, 10, 20, 30), r;
        std::vector<std::pair<const char*, const char*>> keys;
        if (c.value) keys.push_back({"COLORDEPTH", c.value});
        ASSERT_EQ(RunOp<kxpDither24Bit>(s.get(), &r, keys), 0u);
        EXPECT_EQ(r->ColorDepth, c.depth);
        EXPECT_EQ(r->PixelBits, 8u);
        EXPECT_EQ(r->BufferSize, 9u);
        EXPECT_EQ(r->ViewMode, 0u);
        EXPECT_EQ(r->AlphaType, 0u);
    }
}

TEST(Dither24Bit, ModeWords)
{
    // Depth 1: ordered uses black and (0, 255, 0); the others black and white.
    struct Case {
        const char* mode;
        std::vector<int> second;
    } cases[] = {{"ordered", {0, 255, 0}}, {"ORDERED", {0, 255, 0}}, {"BestPen", {255, 255, 255}}, {"burkes", {255, 255, 255}},
                 {"FLOYD", {255, 255, 255}}, {nullptr, {255, 255, 255}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode ? c.mode : "(default)");
        Buffer s = Solid(4, 4, 200, 200, 200), r;
        std::vector<std::pair<const char*, const char*>> keys = {{"COLORDEPTH", "1"}};
        if (c.mode) keys.push_back({"DITHERMODE", c.mode});
        ASSERT_EQ(RunOp<kxpDither24Bit>(s.get(), &r, keys), 0u);
        EXPECT_EQ(Entry(r, 0), (std::vector<int>{0, 0, 0}));
        EXPECT_EQ(Entry(r, 1), c.second);
    }
}

TEST(Dither24Bit, ThresholdMatrix)
{
    const uint32_t row0[] = {0, 128, 32, 160, 8, 136}, row1[] = {192, 64, 224, 96};
    for (uint32_t j = 0; j < 6; ++j) EXPECT_EQ(kxpDither24Bit::ThresholdEntry(0, j), row0[j]);
    for (uint32_t j = 0; j < 4; ++j) EXPECT_EQ(kxpDither24Bit::ThresholdEntry(1, j), row1[j]);
    std::vector<int> seen(256, 0);
    for (uint32_t i = 0; i < 16; ++i)
        for (uint32_t j = 0; j < 16; ++j) seen[kxpDither24Bit::ThresholdEntry(i, j)]++;
    EXPECT_EQ(seen, std::vector<int>(256, 1));
}

TEST(Dither24Bit, OrderedCube)
{
    // Depth 8, white: 224 where the matrix entry is 8 or more, 219 for 4 to
    // 7, 173 for 0 to 3; black is always 0. Column for pixel x is (Width - x) mod 16.
    for (uint32_t w : {16u, 17u}) {
        SCOPED_TRACE(w);
        Buffer s = Solid(w, 16, 255, 255, 255), r;
        ASSERT_EQ(RunOp<kxpDither24Bit>(s.get(), &r, {{"DITHERMODE", "ORDERED"}}), 0u);
        for (uint32_t y = 0; y < 16; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                const uint32_t m = kxpDither24Bit::ThresholdEntry(y, (w - x) % 16);
                const int want = m >= 8 ? 224 : m >= 4 ? 219 : 173;
                ASSERT_EQ(r->Data[y * w + x], want) << x << "," << y;
            }
        EXPECT_EQ(Entry(r, 224), (std::vector<int>{255, 255, 255}));
        EXPECT_EQ(Entry(r, 219), (std::vector<int>{255, 223, 255}));  // levels 4, 7, 4 of 5, 9, 5
        Buffer k = Solid(w, 3, 0, 0, 0);
        ASSERT_EQ(RunOp<kxpDither24Bit>(k.get(), &r, {{"DITHERMODE", "ORDERED"}}), 0u);
        for (uint32_t i = 0; i < w * 3; ++i) ASSERT_EQ(r->Data[i], 0);
    }
    // Depth 1: only green decides.
    Buffer s = Chunky(24, 16, 1), r;
    for (uint32_t x = 0; x < 16; ++x) s->Data[3 * x] = uint8_t(x * 16), s->Data[3 * x + 1] = 200, s->Data[3 * x + 2] = uint8_t(255 - x);
    ASSERT_EQ(RunOp<kxpDither24Bit>(s.get(), &r, {{"DITHERMODE", "ORDERED"}, {"COLORDEPTH", "1"}}), 0u);
    for (uint32_t x = 0; x < 16; ++x) {
        // level = (257 * 200 + t) / 65536: 1 once t reaches 65536 - 51400.
        const uint32_t t = kxpDither24Bit::ThresholdEntry(0, (16 - x) % 16) * 256;
        EXPECT_EQ(r->Data[x], (257u * 200 + t) / 65536) << x;
    }
}

TEST(Dither24Bit, ComputedPalettes)
{
    // Ten distinct buckets to depth 4: their corners, six whites, sorted.
    Buffer s = Chunky(24, 10, 2);
    const uint8_t colours[10][3] = {{250, 0, 0}, {0, 250, 0}, {0, 0, 250}, {9, 9, 9}, {100, 50, 25}, {17, 200, 31}, {255, 255, 0}, {128, 128, 128}, {60, 61, 62}, {0, 0, 0}};
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 10; ++x) memcpy(s->Data + 3 * (y * 10 + x), colours[x], 3);
    for (const char* mode : {"BESTPEN", "FLOYD", "BURKES"}) {
        SCOPED_TRACE(mode);
        Buffer r;
        ASSERT_EQ(RunOp<kxpDither24Bit>(s.get(), &r, {{"COLORDEPTH", "4"}, {"DITHERMODE", mode}}), 0u);
        std::vector<std::vector<int>> want;
        for (auto& c : colours) want.push_back({c[0] & ~7, c[1] & ~7, c[2] & ~7});
        for (int i = 0; i < 6; ++i) want.push_back({255, 255, 255});
        std::sort(want.begin(), want.end());
        for (int i = 0; i < 16; ++i) EXPECT_EQ(Entry(r, i), want[i]) << i;
        // Every pixel names its own bucket's corner.
        for (uint32_t i = 0; i < 20; ++i) {
            const uint8_t* c = colours[i % 10];
            EXPECT_EQ(Entry(r, r->Data[i]), (std::vector<int>{c[0] & ~7, c[1] & ~7, c[2] & ~7})) << i;
        }
    }
    // A gradient of many colours to 8 bits: the palette comes out sorted.
    Buffer g = Chunky(24, 64, 64), r;
    for (uint32_t i = 0; i < 64 * 64; ++i) g->Data[3 * i] = uint8_t(i), g->Data[3 * i + 1] = uint8_t(i / 16), g->Data[3 * i + 2] = uint8_t(i * 7);
    ASSERT_EQ(RunOp<kxpDither24Bit>(g.get(), &r), 0u);
    for (int i = 1; i < 256; ++i) EXPECT_LE(Entry(r, i - 1), Entry(r, i)) << i;
}

TEST(Dither24Bit, ProgressAndRefusals)
{
    KXClass lib;
    kxpDither24Bit op(&lib);
    std::vector<uint32_t> seen;
    op.SetProgress([](KXProgress* p, uintptr_t user) { reinterpret_cast<std::vector<uint32_t>*>(user)->push_back(p->Percent); },
                   reinterpret_cast<uintptr_t>(&seen));
    Buffer s = Solid(3, 20, 1, 2, 3);
    KX_GfxBuffer* r = nullptr;
    ASSERT_EQ(op.OperateTagList(s.get(), &r, nullptr), 0u);
    EXPECT_EQ(seen, (std::vector<uint32_t>{0, 40, 80}));
    // An undetached result is freed by the next run.
    Buffer p = Chunky(8, 3, 3);
    EXPECT_EQ(op.OperateTagList(p.get(), &r, nullptr), uint32_t(KXERR_NEED24BIT));
    EXPECT_EQ(r, nullptr);
}
