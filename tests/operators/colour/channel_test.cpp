// The channel operators: ResetChannel and ExtractRed/Green/Blue. Their
// input table over every kind with the alpha each keeps, the key rules of
// ResetChannel, the results of the extraction, and ImageMagick and netpbm
// as oracles.
#include "input_kinds.h"
#include "operators/colour/kxpExtractBlue.h"
#include "operators/colour/kxpExtractGreen.h"
#include "operators/colour/kxpExtractRed.h"
#include "operators/colour/kxpResetChannel.h"
#include "oracle.h"

using namespace colour_test;
using namespace colour_kinds;
using namespace colour_oracle;

namespace {

using Keys = std::vector<std::pair<const char*, const char*>>;

uint32_t Extract(int channel, KX_GfxBuffer* s, Buffer* r)
{
    return channel == 0 ? RunOp<kxpExtractRed>(s, r) : channel == 1 ? RunOp<kxpExtractGreen>(s, r) : RunOp<kxpExtractBlue>(s, r);
}

Buffer White(uint32_t depth)
{
    Buffer b = Chunky(depth, 2, 2);
    memset(b->Data, 255, b->BufferSize);
    return b;
}

}  // namespace

TEST(ChannelOperators, InputTable)
{
    // Columns: ResetChannel, ExtractRed, ExtractGreen, ExtractBlue, then
    // the alpha kind ResetChannel keeps (the extractions keep none).
    const uint32_t K = KXALPHA_SINGLECOLOR, T = KXALPHA_MULTICOLOR, M = KXALPHA_CHANNEL8;
    const Row<5> rows[] = {
        {"pal1", {0, 0, 0, 0, 0}},         {"pal4", {0, 0, 0, 0, 0}},         {"pal8", {0, 0, 0, 0, 0}},
        {"pal8 v1", {0, 0, 0, 0, 0}},      {"planes5", {0, 0, 0, 0, 0}},      {"planes key", {0, 0, 0, 0, K}},
        {"HAM6", {19, 19, 19, 19, 0}},     {"HAM8 planes", {19, 19, 19, 19, 0}}, {"EHB", {0, 0, 0, 0, 0}},
        {"pal8 key", {0, 0, 0, 0, K}},     {"pal8 table", {0, 0, 0, 0, T}},   {"pal8 map8", {0, 0, 0, 0, 0}},
        {"pal8 map16", {0, 0, 0, 0, 0}},   {"pal8 key+table", {0, 0, 0, 0, K}}, {"24", {0, 0, 0, 0, 0}},
        {"24 v1", {0, 0, 0, 0, 0}},        {"24 key", {0, 0, 0, 0, K}},       {"24 table", {0, 0, 0, 0, T}},
        {"24 map8", {0, 0, 0, 0, M}},      {"24 map16", {0, 0, 0, 0, M}},     {"48 II", {0, 0, 0, 0, 0}},
        {"48 MM", {0, 0, 0, 0, 0}},        {"48 v2", {0, 0, 0, 0, 0}},        {"48 MM map8", {0, 0, 0, 0, M}},
        {"48 MM map16", {0, 0, 0, 0, M}},  {"48 II map16", {0, 0, 0, 0, M}},  {"48 MM locked", {35, 35, 35, 35, 0}},
        {"48 MM+II", {36, 36, 36, 36, 0}}, {"type 3", {16, 16, 16, 16, 0}},   {"type 0", {15, 15, 15, 15, 0}},
        {"24 planes", {15, 15, 15, 15, 0}}, {"depth 12", {15, 15, 15, 15, 0}},
    };
    ExpectEveryKind(rows, std::size(rows));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.kind);
        Buffer s = Make(row.kind), r;
        EXPECT_EQ(RunOp<kxpResetChannel>(s.get(), &r), row.codes[0]);
        if (r) {
            EXPECT_EQ(r->ColorDepth, s->ColorDepth);
            EXPECT_EQ(KXSUP_AlphaHolds(r.get()), row.codes[4]);
            EXPECT_EQ(KXSUP_GetGfxBufferFlags(r.get()), 0u) << "no flags, no byte-order mark";
        }
        for (int c = 0; c < 3; ++c) {
            Buffer e = Make(row.kind), x;
            EXPECT_EQ(Extract(c, e.get(), &x), row.codes[1 + c]);
            if (!x) continue;
            EXPECT_EQ(x->Type, uint32_t(ONEPLANE));
            EXPECT_EQ(x->ColorDepth, e->ColorDepth <= 8 ? e->ColorDepth : 8u);
            EXPECT_EQ(KXSUP_AlphaHolds(x.get()), 0u);
            EXPECT_EQ(KXSUP_GetGfxBufferFlags(x.get()) & ~uint32_t(KXGFXF_II), 0u);
        }
    }
}

TEST(ChannelOperators, ResetChannelKeys)
{
    struct Case {
        Keys keys;
        uint32_t channel, v8, v16;
    };
    const Case cases[] = {
        {{}, 0, 0, 0},
        {{{"MODE", "green"}}, 1, 0, 0},
        {{{"MODE", "Blue"}, {"CHANNEL_VALUE", "128"}}, 2, 128, 32896},
        {{{"MODE", "ALPHA"}, {"CHANNEL_VALUE", "7"}}, 0, 7, 0x0707},
        {{{"CHANNEL_VALUE", "300"}}, 0, 255, 65535},
        {{{"CHANNEL_VALUE", "-1"}}, 0, 255, 65535},
        {{{"CHANNEL_VALUE16", "4660"}}, 0, 18, 4660},
        {{{"CHANNEL_VALUE16", "4660"}, {"CHANNEL_VALUE", "9"}}, 0, 18, 4660},
        {{{"CHANNEL_VALUE16", "70000"}}, 0, 17, 65535},
        {{{"channel_value", "40"}, {"mode", "GREEN"}}, 1, 40, 0x2828},
        {{{"CHANNEL_VALUE", ""}}, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys.empty() ? "no keys" : std::string(c.keys[0].first) + "=" + c.keys[0].second);
        Buffer s24 = White(24), s48 = White(48), pal = Picture(4), r24, r48, rp;
        ASSERT_EQ(RunOp<kxpResetChannel>(s24.get(), &r24, c.keys), 0u);
        ASSERT_EQ(RunOp<kxpResetChannel>(s48.get(), &r48, c.keys), 0u);
        ASSERT_EQ(RunOp<kxpResetChannel>(pal.get(), &rp, c.keys), 0u);
        for (uint32_t i = 0; i < 12; ++i) {
            const bool chosen = i % 3 == c.channel;
            ASSERT_EQ(r24->Data[i], chosen ? c.v8 : 255u) << "byte " << i;
            ASSERT_EQ(Get16(r48->Data, i, false), chosen ? c.v16 : 65535u) << "sample " << i;
        }
        for (uint32_t i = 0; i < 256 * 3; ++i)
            ASSERT_EQ(rp->Palette[i], i < 48 && i % 3 == c.channel ? c.v8 : pal->Palette[i]) << "palette byte " << i;
        EXPECT_EQ(0, memcmp(rp->Data, pal->Data, 15));
    }
}

TEST(ChannelOperators, ResetChannelProgressEvery512Pixels)
{
    static std::vector<uint32_t> seen;
    seen.clear();
    KXClass lib;
    kxpResetChannel op(&lib);
    op.SetProgress([](KXProgress* p, uintptr_t) { seen.push_back(p->Percent); }, 0);
    Buffer s = Picture(24, 4, 40, 30);
    KX_GfxBuffer* r = nullptr;
    ASSERT_EQ(op.OperateTagList(s.get(), &r, nullptr), 0u);
    EXPECT_EQ(seen, (std::vector<uint32_t>{0, 42, 85}));
}

TEST(ChannelOperators, ExtractResults)
{
    // 24 bits: the channel's bytes over a ramp in that channel.
    for (int c = 0; c < 3; ++c) {
        SCOPED_TRACE(c);
        Buffer s = Picture(24), r;
        s->Flags = KXGFXF_GRAY;
        ASSERT_EQ(Extract(c, s.get(), &r), 0u);
        EXPECT_EQ(r->PixelBits, 8u);
        EXPECT_EQ(r->BufferSize, 15u);
        EXPECT_EQ(r->Version, 2u);
        for (int i = 0; i < 15; ++i) ASSERT_EQ(r->Data[i], s->Data[3 * i + c]);
        for (int i = 0; i < 256; ++i)
            for (int k = 0; k < 3; ++k) ASSERT_EQ(r->Palette[3 * i + k], k == c ? i : 0);
    }
    // 48 bits: the high byte, in either stored order; the result is marked.
    for (uint32_t flags : {uint32_t(KXGFXF_II), uint32_t(KXGFXF_MM)}) {
        Buffer s = Chunky(48, 1, 1), r;
        s->Flags = flags;
        Put16(s.get(), 1, 0x1234, flags == KXGFXF_MM);
        ASSERT_EQ(RunOp<kxpExtractGreen>(s.get(), &r), 0u);
        EXPECT_EQ(r->Data[0], 0x12);
        EXPECT_EQ(r->Version, 4u);
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(r.get()), uint32_t(KXGFXF_II));
    }
    // Palettes: pixels kept, the other components of the usable entries zeroed, no transparency.
    Buffer p = With(Picture(4), KXALPHA_SINGLECOLOR), q;
    ASSERT_EQ(RunOp<kxpExtractRed>(p.get(), &q), 0u);
    EXPECT_EQ(q->ColorDepth, 4u);
    EXPECT_EQ(0, memcmp(q->Data, p->Data, 15));
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(q->Palette[3 * i], p->Palette[3 * i]);
        ASSERT_EQ(q->Palette[3 * i + 1], i < 16 ? 0 : p->Palette[3 * i + 1]);
        ASSERT_EQ(q->Palette[3 * i + 2], i < 16 ? 0 : p->Palette[3 * i + 2]);
    }
    EXPECT_EQ(KXSUP_AlphaHolds(q.get()), 0u);
}

TEST(ChannelOperators, OraclesImageMagickAndNetpbm)
{
    if (!KXT_HaveTool("convert-im6.q16") || !KXT_HaveTool("pamchannel") || !KXT_HaveTool("pamtopnm")) GTEST_SKIP() << "ImageMagick or netpbm is missing";
    const std::string dir = KXT_NewTempDir("/tmp/kxchannel-XXXXXX"), in = dir + "/in.ppm", out = dir + "/out.pnm";
    const char* const letters = "RGB";
    for (int c = 0; c < 3; ++c) {
        SCOPED_TRACE(c);
        // 8 bits: ImageMagick's separated channel; 16 bits: netpbm's, high bytes.
        Buffer s = Noise(24, 37, 5, c + 1), r;
        ASSERT_TRUE(WritePpm(in, s.get()));
        ASSERT_EQ(Extract(c, s.get(), &r), 0u);
        ASSERT_TRUE(RunTool(std::string("convert-im6.q16 IN -channel ") + letters[c] + " -separate -depth 8 pgm:OUT", in, out));
        Pnm p;
        ASSERT_TRUE(ReadPnm(out, &p));
        EXPECT_EQ(MaxDiff(p.samples, Samples(r.get())), 0u);

        Buffer w = Noise(48, 37, 5, c + 1), rw;
        ASSERT_TRUE(WritePpm(in, w.get()));
        ASSERT_EQ(Extract(c, w.get(), &rw), 0u);
        ASSERT_TRUE(RunTool("pamchannel -infile IN " + std::to_string(c) + " -tupletype GRAYSCALE | pamtopnm > OUT", in, out));
        ASSERT_TRUE(ReadPnm(out, &p));
        for (auto& v : p.samples) v >>= 8;
        EXPECT_EQ(MaxDiff(p.samples, Samples(rw.get())), 0u);

        // ResetChannel against ImageMagick's evaluate set on one channel.
        Buffer t = Noise(48, 37, 5, c + 1), rt;
        ASSERT_TRUE(WritePpm(in, t.get()));
        const char* const modes[] = {"RED", "GREEN", "BLUE"};
        ASSERT_EQ(RunOp<kxpResetChannel>(t.get(), &rt, {{"MODE", modes[c]}, {"CHANNEL_VALUE16", "4660"}}), 0u);
        ASSERT_TRUE(RunTool(std::string("convert-im6.q16 IN -channel ") + letters[c] + " -evaluate set 4660 OUT", in, out));
        ASSERT_TRUE(ReadPnm(out, &p));
        EXPECT_EQ(MaxDiff(p.samples, Samples(rt.get())), 0u);
    }
}
