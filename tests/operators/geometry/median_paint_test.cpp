// Median, OilPaint and DigiPaint: the methods and granularities, the
// windows that run on into the neighbouring rows, ties, 16-bit samples,
// every result against the rules written out plainly, and the median,
// minimum and maximum against vips rank and ImageMagick -statistic.
#include <algorithm>
#include <array>

#include "kinds_support.h"
#include "operators/geometry/kxpDigiPaint.h"
#include "operators/geometry/kxpMedian.h"
#include "operators/geometry/kxpOilPaint.h"

using namespace geo;
using Keys = std::vector<std::pair<const char*, const char*>>;
using S16 = std::vector<uint16_t>;
using V = std::vector<uint8_t>;

namespace {

TEST(WindowFilters, InputKindsAlphaAndFlags)
{
    using namespace kinds;
    const uint32_t none = KXALPHA_NONE;
    const std::vector<Row> rows = {
        {PAL8, KXERR_NEED24BIT, 0, 0}, {PLANES4, KXERR_NEED24BIT, 0, 0}, {HAM6, KXERR_NEED24BIT, 0, 0},
        {RGB24, 0, none, 0},           {RGB48, 0, none, 0},               {RGB48MM, 0, none, KXGFXF_II},
        {TABLE8, KXERR_NEED24BIT, 0, 0}, {MAP24, 0, none, 0},             {MAP16_48, 0, none, 0},
        {TYPE3, KXERR_NEED24BIT, 0, 0}, {DEPTH12, KXERR_NEED24BIT, 0, 0},
    };
    CheckRows<kxpMedian>("Median", rows, {{"METHOD", "UPPER"}});
    CheckRows<kxpOilPaint>("OilPaint", rows);
    CheckRows<kxpDigiPaint>("DigiPaint", rows, {{"GRANULARITY", "1"}});
}

// ---- the rules written out plainly ----

S16 MedianReference(const KX_GfxBuffer* src, int position)
{
    const int w = int(src->Width), h = int(src->Height);
    const S16 in = Samples(src);
    S16 out = in;
    for (int y = 1; y < h - 1; y++)
        for (int x = 1; x < w - 1; x++)
            for (int c = 0; c < 3; c++) {
                std::array<uint16_t, 9> v;
                int n = 0;
                for (int dy = -1; dy <= 1; dy++)
                    for (int dx = -1; dx <= 1; dx++) v[n++] = in[(size_t(y + dy) * w + x + dx) * 3 + c];
                std::sort(v.begin(), v.end());
                out[(size_t(y) * w + x) * 3 + c] = v[position];
            }
    return out;
}

// Histograms of 256 counters per pixel, scanned from 0 to 255.
S16 PaintReference(const KX_GfxBuffer* src, int g, bool oil)
{
    const int64_t w = src->Width, n = w * src->Height;
    const bool wide = src->ColorDepth == 48;
    const S16 in = Samples(src);
    S16 out(in.size());
    for (int64_t y = 0; y < int64_t(src->Height); y++)
        for (int64_t x = 0; x < w; x++)
            for (int c = 0; c < 3; c++) {
                int hist[256] = {};
                for (int dy = -g; dy <= g; dy++)
                    for (int dx = -g; dx <= g; dx++) {
                        const int64_t p = (y + dy) * w + (x + dx);
                        const int v = p >= 0 && p < n ? in[p * 3 + c] : 0;
                        hist[wide ? v / 256 : v]++;
                    }
                int best = 0;
                for (int v = 0; v < 256; v++) {
                    if (oil && hist[v] > hist[best]) best = v;
                    if (!oil && hist[v] > 0) best = v;
                }
                out[(y * w + x) * 3 + c] = uint16_t(wide ? best * 257 : best);
            }
    return out;
}

template <class Op>
S16 Filter(const KX_GfxBuffer* src, Keys keys = {})
{
    Op op(Lib());
    KX_GfxBuffer* res = nullptr;
    Buffer copy = Make(src->Width, src->Height, src->ColorDepth, Bytes(src));
    EXPECT_EQ(RunOp(op, copy.get(), &res, keys), 0u);
    return res ? Samples(res) : S16{};
}

TEST(Median, EveryMethodAgreesWithSortingNine)
{
    struct Case {
        uint32_t w, h, depth;
        int levels;  // sample values 0..levels-1 (few levels give many ties)
    } cases[] = {{17, 11, 24, 256}, {17, 11, 24, 3}, {13, 9, 48, 65536}, {9, 7, 48, 4}, {1100, 300, 24, 256}, {500, 200, 48, 65536}};
    for (const auto& c : cases) {
        const size_t n = size_t(c.w) * c.h * 3;
        V bytes = Noise(n * Bpp(c.depth) / 3, c.w + c.levels);
        Buffer src = Make(c.w, c.h, c.depth, bytes);
        if (c.depth == 48)
            for (size_t i = 0; i < n; i++) reinterpret_cast<uint16_t*>(src->Data)[i] %= c.levels;
        else
            for (size_t i = 0; i < n; i++) src->Data[i] = uint8_t(src->Data[i] % c.levels);
        const struct {
            const char* word;
            int position;
        } methods[] = {{"LOWER", 0}, {"median", 4}, {"Upper", 8}, {"other", 4}, {nullptr, 4}};
        for (const auto& m : methods) {
            SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " " + std::to_string(c.depth) + " bit, " + (m.word ? m.word : "no METHOD"));
            Keys keys;
            if (m.word) keys.push_back({"METHOD", m.word});
            EXPECT_TRUE(Filter<kxpMedian>(src.get(), keys) == MedianReference(src.get(), m.position));
        }
    }
    // Too small for an interior: unchanged.
    for (auto [w, h] : {std::pair{2u, 5u}, {5u, 2u}, {1u, 1u}}) {
        Buffer small = Make(w, h, 24, Noise(w * h * 3, 3));
        EXPECT_EQ(Filter<kxpMedian>(small.get(), {{"METHOD", "UPPER"}}), Samples(small.get()));
    }
}

TEST(Median, SpotsGrowOrVanish)
{
    // A dark and a light pixel on grey, away from the edges.
    V px(12 * 7 * 3, 128);
    auto at = [](int x, int y) { return size_t(y * 12 + x) * 3; };
    for (int c = 0; c < 3; c++) {
        px[at(3, 3) + c] = 0;
        px[at(8, 3) + c] = 255;
    }
    Buffer src = Make(12, 7, 24, px);
    auto light = [&](const S16& out, int x, int y) { return out[at(x, y)] == 255; };
    auto dark = [&](const S16& out, int x, int y) { return out[at(x, y)] == 0; };
    const S16 upper = Filter<kxpMedian>(src.get(), {{"METHOD", "upper"}});
    const S16 lower = Filter<kxpMedian>(src.get(), {{"METHOD", "LOWER"}});
    const S16 median = Filter<kxpMedian>(src.get(), {{"METHOD", "MEDIAN"}});
    for (int y = 1; y < 6; y++)
        for (int x = 1; x < 11; x++) {
            const bool nearLight = std::abs(x - 8) <= 1 && std::abs(y - 3) <= 1, nearDark = std::abs(x - 3) <= 1 && std::abs(y - 3) <= 1;
            EXPECT_EQ(light(upper, x, y), nearLight) << x << "," << y;
            EXPECT_FALSE(dark(upper, x, y)) << x << "," << y;
            EXPECT_EQ(dark(lower, x, y), nearDark) << x << "," << y;
            EXPECT_FALSE(light(lower, x, y)) << x << "," << y;
            EXPECT_EQ(median[at(x, y)], 128) << x << "," << y;
        }
}

TEST(PaintFilters, AgreeWithTheHistogramsPixelByPixel)
{
    struct Case {
        uint32_t w, h, depth;
        int g;
        int levels;
    } cases[] = {
        {16, 12, 24, 3, 6},  {16, 12, 24, 1, 256}, {23, 9, 48, 2, 4},  {5, 9, 24, 7, 5},   // narrower than the window
        {20, 1, 24, 7, 3},   {9, 9, 48, 7, 65536}, {1, 6, 24, 2, 3},   {300, 90, 24, 2, 7}, // bands on threads
        {200, 60, 48, 3, 3},
    };
    for (const auto& c : cases) {
        const size_t n = size_t(c.w) * c.h * 3;
        Buffer src = Make(c.w, c.h, c.depth, Noise(n * Bpp(c.depth) / 3, c.w * 3 + c.g));
        for (size_t i = 0; i < n; i++) {
            if (c.depth == 48) {
                uint16_t& s = reinterpret_cast<uint16_t*>(src->Data)[i];
                s = uint16_t((s >> 8) % c.levels * 256 + (s & 0xFF));  // low bytes vary freely
            } else {
                src->Data[i] = uint8_t(src->Data[i] % c.levels * (255 / std::max(1, std::min(c.levels - 1, 255))));
            }
        }
        const std::string g = std::to_string(c.g);
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " " + std::to_string(c.depth) + " bit, g " + g);
        EXPECT_TRUE(Filter<kxpOilPaint>(src.get(), {{"GRANULARITY", g.c_str()}}) == PaintReference(src.get(), c.g, true)) << "OilPaint";
        EXPECT_TRUE(Filter<kxpDigiPaint>(src.get(), {{"GRANULARITY", g.c_str()}}) == PaintReference(src.get(), c.g, false)) << "DigiPaint";
    }
}

TEST(PaintFilters, GranularityAndThePartsPictures)
{
    Buffer noise = Make(19, 17, 24, Noise(19 * 17 * 3, 8));
    struct {
        const char* value;
        int g;
    } granularity[] = {{"0", 1}, {"-5", 1}, {"9", 7}, {"abc", 3}, {nullptr, 3}, {"2", 2}};
    for (const auto& k : granularity) {
        Keys keys;
        if (k.value) keys.push_back({"GRANULARITY", k.value});
        EXPECT_EQ(Filter<kxpDigiPaint>(noise.get(), keys), PaintReference(noise.get(), k.g, false)) << (k.value ? k.value : "missing");
    }

    // A uniform picture: unchanged from DigiPaint, and from OilPaint when at
    // least 8 pixels wide and high; one row of 20 comes back black from
    // OilPaint at g = 7.
    Buffer flat = Make(8, 8, 24, V(8 * 8 * 3, 77));
    for (const char* g : {"1", "3", "7"}) {
        EXPECT_EQ(Filter<kxpDigiPaint>(flat.get(), {{"GRANULARITY", g}}), Samples(flat.get()));
        EXPECT_EQ(Filter<kxpOilPaint>(flat.get(), {{"GRANULARITY", g}}), Samples(flat.get()));
    }
    Buffer row = Make(20, 1, 24, V(60, 77));
    EXPECT_EQ(Filter<kxpOilPaint>(row.get(), {{"GRANULARITY", "7"}}), S16(60, 0));

    // 16 x 16, left half red, right half blue, g = 3.
    V px(16 * 16 * 3, 0);
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++) px[(y * 16 + x) * 3 + (x < 8 ? 0 : 2)] = 255;
    Buffer halves = Make(16, 16, 24, px);
    const S16 digi = Filter<kxpDigiPaint>(halves.get(), {{"GRANULARITY", "3"}});
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++) {
            const bool magenta = (x >= 5 && x <= 10) || x < 3 || x >= 13;
            const size_t i = size_t(y * 16 + x) * 3;
            EXPECT_EQ(digi[i] == 255 && digi[i + 2] == 255, magenta) << x << "," << y;
        }
    const S16 oil = Filter<kxpOilPaint>(halves.get(), {{"GRANULARITY", "3"}});
    EXPECT_EQ(S16(oil.begin(), oil.begin() + 3), (S16{0, 0, 0})) << "24 black, 16 red, 9 blue";
    for (int y = 3; y <= 12; y++)
        for (int x = 0; x < 16; x++) {
            const size_t i = size_t(y * 16 + x) * 3;
            EXPECT_TRUE((oil[i] == 255) != (oil[i + 2] == 255)) << "red or blue at " << x << "," << y;
        }

    // A tie goes to the lower value: the centre of 3 x 3 sees exactly the
    // nine pixels, four of 60, four of 50 and one of 40.
    V tiePx;
    for (uint8_t v : {60, 60, 60, 60, 50, 40, 50, 50, 50}) tiePx.insert(tiePx.end(), {v, v, v});
    Buffer tie = Make(3, 3, 24, tiePx);
    EXPECT_EQ(Filter<kxpOilPaint>(tie.get(), {{"GRANULARITY", "1"}})[(1 * 3 + 1) * 3], 50);

    // 48 bit: low bytes never reach the result.
    Buffer wide = Make(9, 9, 48, Noise(9 * 9 * 6, 12));
    for (bool oilPaint : {true, false}) {
        const S16 out = oilPaint ? Filter<kxpOilPaint>(wide.get()) : Filter<kxpDigiPaint>(wide.get());
        for (uint16_t s : out) EXPECT_EQ(s % 257, 0) << s;
    }
}

std::vector<uint32_t> g_percent;
void Hook(KXProgress* p, uintptr_t) { g_percent.push_back(p->Percent); }

TEST(WindowFilters, Progress)
{
    struct Case {
        uint32_t depth;
        int which;  // 0 Median, 1 OilPaint, 2 DigiPaint
        std::vector<uint32_t> percent;
    } cases[] = {
        {24, 0, {8 * 100 / 19, 16 * 100 / 19}},
        {24, 1, {0, 40, 80}},
        {48, 2, {0, 20, 40, 60, 80}},
    };
    for (const auto& c : cases) {
        Buffer src = Make(4, 20, c.depth);
        kxpMedian median(Lib());
        kxpOilPaint oil(Lib());
        kxpDigiPaint digi(Lib());
        KXOperator* op = c.which == 0 ? static_cast<KXOperator*>(&median) : c.which == 1 ? static_cast<KXOperator*>(&oil) : &digi;
        op->SetProgress(Hook, 0);
        g_percent.clear();
        KX_GfxBuffer* res = nullptr;
        ASSERT_EQ(op->OperateTagList(src.get(), &res, nullptr), 0u);
        EXPECT_EQ(g_percent, c.percent) << c.which;
    }
}

// Bit-identical on the interior with vips rank and ImageMagick -statistic.
TEST(MedianOracles, AgreeWithVipsRankAndImageMagickStatistic)
{
    struct Tool {
        const char* tool;
        const char* method;
        const char* cmd;
        uint32_t depth;
    } tools[] = {
        {"vips", "LOWER", "vips rank IN OUT 3 3 0", 24},
        {"vips", "MEDIAN", "vips rank IN OUT 3 3 4", 24},
        {"vips", "UPPER", "vips rank IN OUT 3 3 8", 24},
        {"vips", "MEDIAN", "vips rank IN OUT 3 3 4", 48},
        {"convert-im6.q16", "LOWER", "convert-im6.q16 IN -statistic Minimum 3x3 OUT", 24},
        {"convert-im6.q16", "MEDIAN", "convert-im6.q16 IN -statistic Median 3x3 OUT", 24},
        {"convert-im6.q16", "UPPER", "convert-im6.q16 IN -statistic Maximum 3x3 OUT", 24},
        {"convert-im6.q16", "MEDIAN", "convert-im6.q16 IN -statistic Median 3x3 OUT", 48},
    };
    for (const auto& t : tools) {
        if (!KXT_HaveTool(t.tool)) GTEST_SKIP() << t.tool << " is not installed";
        SCOPED_TRACE(t.cmd + std::string(" ") + std::to_string(t.depth));
        const uint32_t w = 41, h = 27;
        Buffer src = Make(w, h, t.depth, Noise(size_t(w) * h * Bpp(t.depth), w + t.depth));
        const S16 ours = Filter<kxpMedian>(src.get(), {{"METHOD", t.method}});
        const std::string in = TempPath("median_in.ppm"), out = TempPath("median_out.ppm");
        ASSERT_TRUE(WritePNM(in, src.get()));
        std::string cmd = t.cmd;
        cmd.replace(cmd.find("IN"), 2, in);
        cmd.replace(cmd.find("OUT"), 3, out);
        ASSERT_EQ(system((cmd + " > /dev/null 2>&1").c_str()), 0) << cmd;
        Pnm p;
        ASSERT_TRUE(ReadPNM(out, p));
        ASSERT_EQ(p.w, w);
        ASSERT_EQ(p.h, h);
        size_t bad = 0;
        for (uint32_t y = 1; y + 1 < h; y++)
            for (uint32_t x = 1; x + 1 < w; x++)
                for (int c = 0; c < 3; c++) {
                    const size_t i = (size_t(y) * w + x) * 3 + c;
                    bad += ours[i] != p.samples[i];
                }
        EXPECT_EQ(bad, 0u);
        remove(in.c_str());
        remove(out.c_str());
    }
}

}  // namespace
