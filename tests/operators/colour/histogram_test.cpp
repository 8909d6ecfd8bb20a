// The histogram: its input table, the brightness chart (levels, scale,
// colours, width limits, report) and the colour regrouping (order, report,
// 48-bit digits, work file, log), with netpbm's ppmhist and ImageMagick's
// histogram as oracles for the counts.
#include <algorithm>
#include <map>
#include <sstream>

#include "input_kinds.h"
#include "operators/colour/kxpHistogram.h"
#include "oracle.h"

using namespace colour_test;
using namespace colour_kinds;
using namespace colour_oracle;

namespace {

using Keys = std::vector<std::pair<const char*, const char*>>;

Buffer Rgb(const std::vector<std::array<uint8_t, 3>>& px, uint32_t w)
{
    Buffer b = Chunky(24, w, uint32_t(px.size()) / w);
    std::memcpy(b->Data, px.data(), px.size() * 3);
    return b;
}

// Pixels of a brightness chart row that show the bar colour.
uint32_t Bar(const Buffer& r, uint32_t row)
{
    uint32_t n = 0;
    for (uint32_t x = 0; x < r->Width; ++x) n += r->Data[size_t(row) * r->Width + x];
    return n;
}

std::vector<std::string> Lines(const std::string& path)
{
    std::vector<std::string> lines;
    std::istringstream in(KXT_ReadFile(path));
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

}  // namespace

TEST(Histogram, InputTable)
{
    const Row<1> rows[] = {
        {"pal1", {20}},        {"pal4", {20}},        {"pal8", {20}},         {"pal8 v1", {20}},      {"planes5", {20}},
        {"planes key", {20}},  {"HAM6", {20}},        {"HAM8 planes", {20}},  {"EHB", {20}},          {"pal8 key", {20}},
        {"pal8 table", {20}},  {"pal8 map8", {20}},   {"pal8 map16", {20}},   {"pal8 key+table", {20}}, {"24", {0}},
        {"24 v1", {0}},        {"24 key", {0}},       {"24 table", {0}},      {"24 map8", {0}},       {"24 map16", {0}},
        {"48 II", {0}},        {"48 MM", {0}},        {"48 v2", {0}},         {"48 MM map8", {0}},    {"48 MM map16", {0}},
        {"48 II map16", {0}},  {"48 MM locked", {35}}, {"48 MM+II", {36}},    {"type 3", {20}},       {"type 0", {20}},
        {"24 planes", {15}},   {"depth 12", {20}},
    };
    ExpectEveryKind(rows, std::size(rows));
    for (const auto& row : rows)
        for (const char* mode : {"BRIGHTNESS", "COLOR"}) {
            SCOPED_TRACE(std::string(row.kind) + " " + mode);
            Buffer s = Make(row.kind), r;
            s->Flags |= s->Version >= 4 ? uint32_t(KXGFXF_GRAY) : 0u;
            ASSERT_EQ(RunOp<kxpHistogram>(s.get(), &r, {{"MODE", mode}}), row.codes[0]);
            if (!r) continue;
            EXPECT_EQ(KXSUP_AlphaHolds(r.get()), 0u);
            EXPECT_EQ(KXSUP_GetGfxBufferFlags(r.get()) & ~uint32_t(KXGFXF_II), 0u) << "no flags but the byte order";
            if (mode[0] == 'B') {
                EXPECT_EQ(r->Width, 100u);
                EXPECT_EQ(r->Height, 256u);
                EXPECT_EQ(r->ColorDepth, 1u);
                EXPECT_EQ(r->Version, s->ColorDepth == 48 ? 4u : 2u);
            } else {
                EXPECT_EQ(r->ColorDepth, s->ColorDepth);
                EXPECT_EQ(r->Width * r->Height, s->Width * s->Height);
            }
        }
}

TEST(Histogram, BrightnessChart)
{
    // One colour at level 128: its row is full, every other empty.
    {
        Buffer s = Rgb(std::vector<std::array<uint8_t, 3>>(6, {100, 128, 156}), 3), r;
        ASSERT_EQ(RunOp<kxpHistogram>(s.get(), &r), 0u);
        for (uint32_t k = 0; k < 256; ++k) ASSERT_EQ(Bar(r, k), k == 128 ? 100u : 0u) << "row " << k;
        EXPECT_EQ(0, memcmp(r->Palette, "\0\0\0\xff\xff\xff", 6));
    }
    // Counts 1000, 100, 90, 80 and 50: the scale is 100.
    {
        std::vector<std::array<uint8_t, 3>> px;
        for (auto [level, count] : {std::pair{10, 1000}, {20, 100}, {30, 90}, {40, 80}, {50, 50}})
            for (int i = 0; i < count; ++i) px.push_back({uint8_t(level), uint8_t(level - 1), uint8_t(level + 1)});
        Buffer s = Rgb(px, uint32_t(px.size())), r;
        ASSERT_EQ(RunOp<kxpHistogram>(s.get(), &r, {{"WIDTH", "64"}}), 0u);
        EXPECT_EQ(Bar(r, 10), 64u);
        EXPECT_EQ(Bar(r, 20), 64u);
        EXPECT_EQ(Bar(r, 30), 57u);
        EXPECT_EQ(Bar(r, 50), 32u);
        EXPECT_EQ(Bar(r, 11), 0u);
    }
    // 48 bits count by the samples' high bytes.
    {
        Buffer s = Chunky(48, 1, 1), r;
        const uint16_t v[] = {0x01FF, 0x02FF, 0x06FF};
        for (int i = 0; i < 3; ++i) Put16(s.get(), i, v[i], false);
        ASSERT_EQ(RunOp<kxpHistogram>(s.get(), &r), 0u);
        EXPECT_EQ(Bar(r, 3), 100u);
    }
}

TEST(Histogram, ColoursWidthAndKeys)
{
    Buffer s = Rgb({{9, 9, 9}}, 1);
    struct Case {
        Keys keys;
        uint32_t code;
        const char* palette;  // entries 0 and 1
        uint32_t width;
    };
    const Case cases[] = {
        {{{"FORECOLOR_VALUE", "0xff0000"}}, 0, "\0\0\0\xff\0\0", 100},
        {{{"FORECOLOR_VALUE", "ff0000"}}, 0, "\0\0\0\xff\xff\xff", 100},
        {{{"backcolor_value", "0x0000ff"}}, 0, "\0\0\xff\xff\xff\xff", 100},
        {{{"Mode", "brightness"}, {"WIDTH", "1"}}, 0, "\0\0\0\xff\xff\xff", 1},
        {{{"width", "7"}}, 0, "\0\0\0\xff\xff\xff", 100},  // WIDTH must be spelt so
        {{{"WIDTH", "0"}}, 3, nullptr, 0},
        {{{"WIDTH", "-5"}}, 3, nullptr, 0},
        {{{"WIDTH", "2147483647"}}, 3, nullptr, 0},
        {{{"WIDTH", "16777216"}}, 3, nullptr, 0},  // 256 rows of it leave 32 bits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.keys[0].first) + "=" + c.keys[0].second);
        Buffer r;
        ASSERT_EQ(RunOp<kxpHistogram>(s.get(), &r, c.keys), c.code);
        if (c.code) continue;
        EXPECT_EQ(0, memcmp(r->Palette, c.palette, 6));
        EXPECT_EQ(r->Width, c.width);
        EXPECT_EQ(r->BufferSize, c.width * 256);
    }
}

TEST(Histogram, Reports)
{
    const std::string dir = KXT_NewTempDir("/tmp/kxhist-XXXXXX"), path = dir + "/report.txt";
    Buffer s = Rgb({{255, 255, 255}, {0, 0, 0}, {255, 255, 255}, {255, 0, 0}}, 2), r;
    ASSERT_EQ(RunOp<kxpHistogram>(s.get(), &r, {{"HISTOGRAM_PATH", path.c_str()}}), 0u);
    std::vector<std::string> lines = Lines(path);
    ASSERT_EQ(lines.size(), 256u);
    EXPECT_EQ(lines[0], "$000: 1");
    EXPECT_EQ(lines[85], "$055: 1");
    EXPECT_EQ(lines[255], "$0ff: 2");

    // Colour mode: darkest first, the result in runs; the report replaces the old one.
    ASSERT_EQ(RunOp<kxpHistogram>(s.get(), &r, {{"HISTOGRAM_PATH", path.c_str()}, {"MODE", "color"}}), 0u);
    EXPECT_EQ(Lines(path), (std::vector<std::string>{"$000000: 1", "$ff0000: 1", "$ffffff: 2"}));
    const uint8_t want[] = {0, 0, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255};
    EXPECT_EQ(0, memcmp(r->Data, want, 12));
    EXPECT_EQ(KXT_CountEntries(dir), 1) << "no temporary file is left beside the report";

    // No black pixel: the black line is still there, with 0.
    Buffer nb = Rgb({{1, 2, 3}, {9, 9, 9}, {1, 2, 3}}, 3);
    ASSERT_EQ(RunOp<kxpHistogram>(nb.get(), &r, {{"HISTOGRAM_PATH", path.c_str()}, {"MODE", "COLOR"}}), 0u);
    EXPECT_EQ(Lines(path), (std::vector<std::string>{"$000000: 0", "$010203: 2", "$090909: 1"}));

    // 48 bits print the full samples, two to four digits each.
    Buffer w = Chunky(48, 1, 1);
    const uint16_t v[] = {0x00FF, 0x1234, 0x0005};
    for (int i = 0; i < 3; ++i) Put16(w.get(), i, v[i], false);
    ASSERT_EQ(RunOp<kxpHistogram>(w.get(), &r, {{"HISTOGRAM_PATH", path.c_str()}, {"MODE", "COLOR"}}), 0u);
    EXPECT_EQ(Lines(path), (std::vector<std::string>{"$000000: 0", "$ff123405: 1"}));

    // Paths that do not fit their field, or cannot be written, give 30 and leave the old report.
    const std::string before = KXT_ReadFile(path);
    const std::string longPath = dir + "/" + std::string(300, 'x');
    for (const std::string& bad : {longPath, dir + "/missing/report.txt"})
        for (const char* mode : {"BRIGHTNESS", "COLOR"})
            EXPECT_EQ(RunOp<kxpHistogram>(s.get(), &r, {{"HISTOGRAM_PATH", bad.c_str()}, {"MODE", mode}}), 30u) << bad;
    EXPECT_EQ(KXT_ReadFile(path), before);
}

TEST(Histogram, WorkFileAndLog)
{
    KXT_TraceLog trace(9);
    const std::string temp = KXT_NewTempDir("/tmp/kxhistwork-XXXXXX") + "/";
    KXClass lib;
    char* const ownTemp = lib.TempDir;
    lib.TempDir = const_cast<char*>(temp.c_str());
    lib.InstanceId = 0x2A;
    Buffer s = Noise(24, 40, 30);
    {
        kxpHistogram op(&lib);
        op.SetLog(nullptr);
        KXConfig cfg(op.PadPath, nullptr);
        cfg.SetValue("MODE", "COLOR");
        op.SetLocalConfig(cfg.GetPadList());
        KX_GfxBuffer* r = nullptr;
        ASSERT_EQ(op.OperateTagList(s.get(), &r, nullptr), 0u);
        EXPECT_EQ(KXT_CountEntries(temp), 0) << "the work file is deleted";
        // An unwritable temporary directory: the work file cannot be made.
        op.Reset();
        op.SetLocalConfig(cfg.GetPadList());
        lib.TempDir = const_cast<char*>("/nonexistent-kaxon5-dir/");
        EXPECT_EQ(op.OperateTagList(s.get(), &r, nullptr), 30u);
        lib.TempDir = ownTemp;
    }
    const std::string log = trace.lines();
    EXPECT_NE(log.find("histogram       : histogram 40x30 - 1200"), std::string::npos) << log.substr(0, 2000);
    EXPECT_NE(log.find("histogram       : histogram different colors: "), std::string::npos);
    EXPECT_NE(log.find("TCount vs TNCount vs. TTCount = 1200 vs 1200 vs 1200"), std::string::npos);
}

// The counts of every colour against netpbm and ImageMagick; the result
// holds each colour in one run, runs in order of luminance.
TEST(Histogram, OraclesPpmhistAndImageMagick)
{
    if (!KXT_HaveTool("ppmhist") || !KXT_HaveTool("convert-im6.q16")) GTEST_SKIP() << "netpbm or ImageMagick is missing";
    const std::string dir = KXT_NewTempDir("/tmp/kxhisto-XXXXXX"), in = dir + "/in.ppm", report = dir + "/report.txt";
    for (uint32_t depth : {24u, 48u}) {
        SCOPED_TRACE(depth);
        // Few distinct colours, so that counts above 1 appear.
        Buffer s = Noise(depth, 50, 20);
        for (size_t i = 0; i < s->BufferSize; ++i) s->Data[i] &= depth == 24 ? 0xC0 : (i & 1 ? 0x80 : 0x00);
        ASSERT_TRUE(WritePpm(in, s.get()));
        Buffer r;
        ASSERT_EQ(RunOp<kxpHistogram>(s.get(), &r, {{"MODE", "COLOR"}, {"HISTOGRAM_PATH", report.c_str()}}), 0u);

        std::map<std::array<uint32_t, 3>, uint32_t> ours, netpbm, magick;
        const std::vector<uint16_t> px = Samples(r.get());
        uint32_t lastLum = 0;
        std::array<uint32_t, 3> previous = {~0u, 0, 0};
        for (size_t i = 0; i < px.size(); i += 3) {
            const std::array<uint32_t, 3> c = {px[i], px[i + 1], px[i + 2]};
            if (c != previous) {
                EXPECT_EQ(ours.count(c), 0u) << "each colour is one run";
                const uint32_t sh = depth == 48 ? 8 : 0, lum = ((c[0] >> sh) * 30 + (c[1] >> sh) * 59 + (c[2] >> sh) * 11) / 100;
                EXPECT_GE(lum, lastLum) << "darkest first";
                lastLum = lum;
                previous = c;
            }
            ours[c]++;
        }
        ASSERT_TRUE(RunTool("ppmhist -noheader IN > OUT", in, dir + "/hist.txt"));
        std::istringstream ph(KXT_ReadFile(dir + "/hist.txt"));
        for (uint32_t r0, g, b, lum, n; ph >> r0 >> g >> b >> lum >> n;) netpbm[{r0, g, b}] = n;
        ASSERT_TRUE(RunTool("convert-im6.q16 IN -format %c histogram:info:OUT", in, dir + "/im.txt"));
        std::istringstream im(KXT_ReadFile(dir + "/im.txt"));
        for (std::string line; std::getline(im, line);) {
            uint32_t n, r0, g, b;
            if (sscanf(line.c_str(), " %u: (%u,%u,%u)", &n, &r0, &g, &b) == 4) magick[{r0, g, b}] = n;
        }
        EXPECT_EQ(ours, netpbm);
        EXPECT_EQ(ours, magick);
        // The report lists the same counts (and black, with 0 when absent).
        const std::vector<std::string> lines = Lines(report);
        EXPECT_EQ(lines.size(), ours.size() + (ours.count({0, 0, 0}) ? 0 : 1));
    }
}
