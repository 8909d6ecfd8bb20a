// kxpDitherFix24: which inputs it takes, the fixed palettes, the grey ramp
// with and without diffusion and the quick formula, the grid's cached
// search (the first colour of a bucket binds it, black without a search)
// and the thumbnail padding.
#include <algorithm>
#include <numeric>
#include <set>

#include "dither_kinds.h"
#include "operators/colour/kxpDitherFix24.h"
#include "operators/colour/kxquant.h"

using namespace colour_test;

namespace {

using Keys = std::vector<std::pair<const char*, const char*>>;

Buffer Greys(std::vector<uint8_t> values, uint32_t h = 1)
{
    const uint32_t w = uint32_t(values.size());
    Buffer s = Chunky(24, w, h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) memset(s->Data + 3 * (y * w + x), values[x], 3);
    return s;
}

std::vector<int> Entry(const Buffer& r, int i) { return {r->Palette[3 * i], r->Palette[3 * i + 1], r->Palette[3 * i + 2]}; }

}  // namespace

TEST(DitherFix24, TakesChunky24BitOnly)
{
    ExpectCodes<kxpDitherFix24>([](const InputKind& k, uint32_t) { return k.family == k24 ? 0u : uint32_t(KXERR_NEED24BIT); });
    Buffer planes24 = Chunky(24, 2, 2);
    planes24->Type = BITPLANE;
    EXPECT_EQ(RunOp<kxpDitherFix24>(planes24.get(), nullptr), uint32_t(KXERR_FILEREQUIREMENTS));
    KXClass lib;
    kxpDitherFix24 op(&lib);
    KX_GfxBuffer* r = reinterpret_cast<KX_GfxBuffer*>(1);
    EXPECT_EQ(op.OperateTagList(nullptr, &r, nullptr), uint32_t(KXERR_INTERNALACCESS));
    EXPECT_EQ(r, reinterpret_cast<KX_GfxBuffer*>(1));
}

TEST(DitherFix24, ResultRecordAndDepthKey)
{
    struct Case {
        const char* value;
        uint32_t depth;
    } cases[] = {{nullptr, 8}, {"0", 1}, {"", 1}, {"4", 4}, {"5", 5}, {"12", 8}, {"-3", 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(default)");
        Buffer s = Greys({1, 2, 3}, 2), r;
        AddAlpha(s.get(), KXALPHA_CHANNEL8);
        KXSUP_AddGfxBufferFlags(s.get(), KXGFXF_GRAY, 1);
        Keys keys;
        if (c.value) keys.push_back({"COLORDEPTH", c.value});
        ASSERT_EQ(RunOp<kxpDitherFix24>(s.get(), &r, keys), 0u);
        EXPECT_EQ(r->ColorDepth, c.depth);
        EXPECT_EQ(r->PixelBits, 8u);
        EXPECT_EQ(r->BufferSize, 6u);
        EXPECT_EQ(r->Version, 2u);
        EXPECT_EQ(KXSUP_AlphaHolds(r.get()), 0u);
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(r.get()), 0u);
        EXPECT_EQ(r->NativeDIPF, 0u);
    }
}

TEST(DitherFix24, FixedPalettes)
{
    const std::vector<std::vector<int>> ramps = {
        {0, 255}, {0, 80, 144, 255}, {0, 32, 80, 112, 144, 176, 208, 255}, {0, 16, 32, 64, 80, 96, 112, 128, 144, 160, 176, 192, 208, 224, 240, 255}};
    for (uint32_t d = 1; d <= 8; ++d) {
        SCOPED_TRACE(d);
        Buffer s = Greys({9}), r;
        ASSERT_EQ(RunOp<kxpDitherFix24>(s.get(), &r, {{"COLORDEPTH", std::to_string(d).c_str()}}), 0u);
        const int n = 1 << d;
        for (int i = 0; d <= 4 && i < n; ++i) EXPECT_EQ(Entry(r, i), (std::vector<int>(3, ramps[d - 1][i]))) << i;
        EXPECT_EQ(Entry(r, 0), (std::vector<int>{0, 0, 0}));
        EXPECT_EQ(Entry(r, n - 1), (std::vector<int>{255, 255, 255}));
        // The nearest-entry search needs ascending R; all entries differ.
        for (int i = 1; i < n; ++i) {
            EXPECT_LE(r->Palette[3 * (i - 1)], r->Palette[3 * i]) << i;
            EXPECT_NE(Entry(r, i - 1), Entry(r, i)) << i;
        }
        if (d >= 5) {
            std::set<int> blues;
            for (int i = 1; i < n - 1; ++i) blues.insert(r->Palette[3 * i + 2]);
            EXPECT_GE(blues.size(), d == 5 ? 2u : 4u) << "every blue level is kept where the depth allows";
        }
    }
    // The 8-bit grid: colour m at entry m + 1, R outer, B inner.
    KXQEntry e[256];
    ASSERT_EQ(kxpDitherFix24::FixedPalette(8, e), 256u);
    for (uint32_t m = 0; m < 254; ++m) {
        EXPECT_EQ(e[m + 1].R, 16 + 32 * (m / 32));
        EXPECT_EQ(e[m + 1].G, 16 + 32 * ((m / 4) % 8));
        EXPECT_EQ(e[m + 1].B, 32 + 64 * (m % 4));
    }
}

TEST(DitherFix24, GreyRampIndices)
{
    // Best pen: the smallest level not below the grey value.
    Buffer s = Greys({20, 17, 16, 241, 0, 255, 48, 65}), r;
    ASSERT_EQ(RunOp<kxpDitherFix24>(s.get(), &r, {{"COLORDEPTH", "4"}, {"DITHERMODE", "bestpen"}}), 0u);
    EXPECT_EQ(std::vector<int>(r->Data, r->Data + 8), (std::vector<int>{2, 2, 1, 15, 0, 15, 3, 4}));
    // Grey by luminance: pure red is 76, green 150, blue 28.
    Buffer c = Chunky(24, 3, 1);
    c->Data[0] = 255, c->Data[4] = 255, c->Data[8] = 255;
    ASSERT_EQ(RunOp<kxpDitherFix24>(c.get(), &r, {{"COLORDEPTH", "4"}, {"DITHERMODE", "BESTPEN"}}), 0u);
    EXPECT_EQ(std::vector<int>(r->Data, r->Data + 3), (std::vector<int>{4, 9, 2}));  // 80, 160, 32

    // QUICK: white is 221, the first level above is 224; without it 255.
    Buffer w = Greys({255});
    ASSERT_EQ(RunOp<kxpDitherFix24>(w.get(), &r, {{"COLORDEPTH", "4"}, {"DITHERMODE", "BESTPEN"}, {"QUICK", ""}}), 0u);
    EXPECT_EQ(r->Data[0], 13);
    ASSERT_EQ(RunOp<kxpDitherFix24>(w.get(), &r, {{"COLORDEPTH", "4"}, {"DITHERMODE", "BESTPEN"}}), 0u);
    EXPECT_EQ(r->Data[0], 15);

    // Floyd-Steinberg: 40 first gets 32 (index 2); over an area the levels
    // average back to 40.
    const uint32_t n = 64;
    Buffer a = Greys(std::vector<uint8_t>(n, 40), n);
    ASSERT_EQ(RunOp<kxpDitherFix24>(a.get(), &r, {{"COLORDEPTH", "4"}}), 0u);
    EXPECT_EQ(r->Data[0], 2);
    uint64_t sum = 0;
    for (uint32_t i = 0; i < n * n; ++i) {
        ASSERT_TRUE(r->Data[i] == 2 || r->Data[i] == 3) << i;
        sum += r->Palette[3 * r->Data[i]];
    }
    // The shares are rounded down, so a little brightness is lost.
    EXPECT_NEAR(double(sum) / (n * n), 40.0, 1.0);
}

TEST(DitherFix24, QuickOnlyBelowFiveBits)
{
    Buffer s = Chunky(24, 16, 16);
    for (uint32_t i = 0; i < s->BufferSize; ++i) s->Data[i] = uint8_t(i * 13);
    for (const char* mode : {"BESTPEN", "FLOYD"}) {
        Buffer a, b;
        ASSERT_EQ(RunOp<kxpDitherFix24>(s.get(), &a, {{"COLORDEPTH", "6"}, {"DITHERMODE", mode}}), 0u);
        ASSERT_EQ(RunOp<kxpDitherFix24>(s.get(), &b, {{"COLORDEPTH", "6"}, {"DITHERMODE", mode}, {"QUICK", "1"}}), 0u);
        EXPECT_EQ(0, memcmp(a->Data, b->Data, 256)) << mode;
    }
}

TEST(DitherFix24, GridSearchAndItsCache)
{
    KXQEntry e[256];
    const uint32_t n = kxpDitherFix24::FixedPalette(8, e);
    std::vector<int16_t> cache(KXQ_HISTOGRAM_SIZE, -1);
    // Near black: entry 0 at once, the cache untouched.
    EXPECT_EQ(kxpDitherFix24::FindBestFixedPen(7, 7, 7, e, n, cache.data()), 0u);
    EXPECT_EQ(kxpDitherFix24::FindBestFixedPen(-40, 3, 0, e, n, cache.data()), 0u);
    EXPECT_TRUE(std::all_of(cache.begin(), cache.end(), [](int16_t v) { return v == -1; }));
    // (8, 0, 0) is searched and binds its bucket.
    EXPECT_EQ(kxpDitherFix24::FindBestFixedPen(8, 0, 0, e, n, cache.data()), 0u);
    EXPECT_EQ(cache[KXQ_ColorKey(8, 0, 0)], 0);
    EXPECT_EQ(std::count(cache.begin(), cache.end(), int16_t(-1)), int(KXQ_HISTOGRAM_SIZE) - 1);

    // One bucket, two colours with different nearest entries: (8, 8, 8) is
    // nearest black, (15, 15, 15) nearest (16, 16, 32); best pen visits row
    // 0 from the left, so the first pixel decides both.
    for (bool blackFirst : {true, false}) {
        SCOPED_TRACE(blackFirst);
        Buffer s = Greys(blackFirst ? std::vector<uint8_t>{8, 15} : std::vector<uint8_t>{15, 8}), r;
        ASSERT_EQ(RunOp<kxpDitherFix24>(s.get(), &r, {{"DITHERMODE", "BESTPEN"}}), 0u);
        const int want = blackFirst ? 0 : 1;
        EXPECT_EQ(r->Data[0], want);
        EXPECT_EQ(r->Data[1], want);
    }
}

TEST(DitherFix24, FloydOnTheGridKeepsTheMean)
{
    const uint32_t w = 48, h = 40;
    Buffer s = Chunky(24, w, h), r;
    for (uint32_t i = 0; i < w * h; ++i) s->Data[3 * i] = 100, s->Data[3 * i + 1] = 150, s->Data[3 * i + 2] = 200;
    ASSERT_EQ(RunOp<kxpDitherFix24>(s.get(), &r), 0u);
    double sum[3] = {0, 0, 0};
    for (uint32_t i = 0; i < w * h; ++i)
        for (int c = 0; c < 3; ++c) sum[c] += r->Palette[3 * r->Data[i] + c];
    EXPECT_NEAR(sum[0] / (w * h), 100, 1.0);
    EXPECT_NEAR(sum[1] / (w * h), 150, 1.0);
    EXPECT_NEAR(sum[2] / (w * h), 200, 1.0);
}

TEST(DitherFix24, ThumbnailPadding)
{
    struct Case {
        Keys keys;
        uint32_t code, w, h;
    } cases[] = {
        {{{"THUMBDITHER", ""}, {"THUMB_WIDTH", "160"}, {"THUMB_HEIGHT", "120"}}, 0, 160, 200},
        {{{"THUMBDITHER", "NO"}, {"THUMB_WIDTH", "40"}, {"THUMB_HEIGHT", "300"}}, 0, 100, 300},
        {{{"THUMB_WIDTH", "160"}, {"THUMB_HEIGHT", "300"}}, 0, 100, 200},  // no THUMBDITHER: not read
        {{{"THUMBDITHER", ""}, {"THUMB_WIDTH", "-1"}}, KXERR_NOMEMORY, 0, 0},
        {{{"THUMBDITHER", ""}, {"THUMB_WIDTH", "70000"}, {"THUMB_HEIGHT", "70000"}}, KXERR_NOMEMORY, 0, 0},
    };
    Buffer s = Chunky(24, 100, 200);
    for (uint32_t i = 0; i < s->BufferSize; ++i) s->Data[i] = 255;
    for (const auto& c : cases) {
        Buffer r;
        Keys keys = c.keys;
        keys.push_back({"DITHERMODE", "BESTPEN"});
        ASSERT_EQ(RunOp<kxpDitherFix24>(s.get(), &r, keys), c.code);
        if (c.code) continue;
        EXPECT_EQ(r->Width, c.w);
        EXPECT_EQ(r->Height, c.h);
        EXPECT_EQ(r->BufferSize, c.w * c.h);
        for (uint32_t y = 0; y < c.h; ++y)
            for (uint32_t x = 0; x < c.w; ++x) ASSERT_EQ(r->Data[y * c.w + x], x < 100 && y < 200 ? 255 : 0) << x << "," << y;
    }
}

TEST(DitherFix24, ProgressBeforeEveryEighthRow)
{
    for (const char* depth : {"8", "2"}) {
        for (const char* mode : {"BESTPEN", "FLOYD"}) {
            SCOPED_TRACE(std::string(depth) + " " + mode);
            KXClass lib;
            kxpDitherFix24 op(&lib);
            uint32_t err = 0;
            KXConfig cfg(op.PadPath, &err);
            cfg.SetValue("COLORDEPTH", depth);
            cfg.SetValue("DITHERMODE", mode);
            op.SetLocalConfig(cfg.GetPadList());
            std::vector<uint32_t> seen;
            op.SetProgress([](KXProgress* p, uintptr_t user) { reinterpret_cast<std::vector<uint32_t>*>(user)->push_back(p->Percent); },
                           reinterpret_cast<uintptr_t>(&seen));
            Buffer s = Greys({1, 2, 3}, 20);
            KX_GfxBuffer* r = nullptr;
            ASSERT_EQ(op.OperateTagList(s.get(), &r, nullptr), 0u);
            // Best pen on the grid reports interior rows only.
            const bool interior = std::string(depth) == "8" && std::string(mode) == "BESTPEN";
            const std::vector<uint32_t> want = interior ? std::vector<uint32_t>{40, 80} : std::vector<uint32_t>{0, 40, 80};
            EXPECT_EQ(seen, want);
        }
    }
}
