// The tone operators (XOr, FlipNibbles, Negate, Complement, Gamma,
// Contrast, Brightness): their input table over every kind with the alpha
// each result keeps, the numeric cases of every rule and key limit, byte
// order and flags of the results, and ImageMagick and netpbm as oracles.
#include "input_kinds.h"
#include "operators/colour/kxpBrightness.h"
#include "operators/colour/kxpComplement.h"
#include "operators/colour/kxpContrast.h"
#include "operators/colour/kxpFlipNibbles.h"
#include "operators/colour/kxpGamma.h"
#include "operators/colour/kxpNegate.h"
#include "operators/colour/kxpXOr.h"
#include "oracle.h"

using namespace colour_test;
using namespace colour_kinds;
using namespace colour_oracle;

namespace {

enum Op { XOr, Flip, Negate, Complement, Gamma, Contrast, Brightness, OpCount };
const char* const kNames[] = {"XOr", "FlipNibbles", "Negate", "Complement", "Gamma", "Contrast", "Brightness"};
using Keys = std::vector<std::pair<const char*, const char*>>;

uint32_t RunTone(int op, KX_GfxBuffer* s, Buffer* r, Keys keys = {})
{
    switch (op) {
    case XOr: return RunOp<kxpXOr>(s, r, keys);
    case Flip: return RunOp<kxpFlipNibbles>(s, r, keys);
    case Negate: return RunOp<kxpNegate>(s, r, keys);
    case Complement: return RunOp<kxpComplement>(s, r, keys);
    case Gamma: return RunOp<kxpGamma>(s, r, keys);
    case Contrast: return RunOp<kxpContrast>(s, r, keys);
    default: return RunOp<kxpBrightness>(s, r, keys);
    }
}

// One 24- or 48-bit pixel (host order) of three equal samples.
Buffer Grey(uint32_t depth, uint32_t v, uint32_t flags = KXGFXF_II)
{
    Buffer b = Chunky(depth, 1, 1);
    for (int i = 0; i < 3; ++i) {
        if (depth == 24) b->Data[i] = uint8_t(v);
        else Put16(b.get(), i, uint16_t(v), flags & KXGFXF_MM);
    }
    b->Flags = flags;
    return b;
}

uint32_t Sample(const Buffer& r, int i = 0)
{
    return r->ColorDepth == 24 ? r->Data[i] : Get16(r->Data, i, KXSUP_GetGfxBufferEndianess(r.get()) == KXENDIAN_BIG);
}

}  // namespace

TEST(ToneOperators, InputTable)
{
    // Columns: the seven operators in kNames order, then the alpha kind a
    // result keeps (FlipNibbles keeps a map but no index or table).
    const uint32_t K = KXALPHA_SINGLECOLOR, T = KXALPHA_MULTICOLOR, M = KXALPHA_CHANNEL8;
    const Row<8> rows[] = {
        {"pal1", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"pal4", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"pal8", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"pal8 v1", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"planes5", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"planes key", {0, 0, 0, 0, 0, 0, 0, K}},
        {"HAM6", {19, 19, 19, 19, 19, 19, 19, 0}},
        {"HAM8 planes", {19, 19, 19, 19, 19, 19, 19, 0}},
        {"EHB", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"pal8 key", {0, 0, 0, 0, 0, 0, 0, K}},
        {"pal8 table", {0, 0, 0, 0, 0, 0, 0, T}},
        {"pal8 map8", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"pal8 map16", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"pal8 key+table", {0, 0, 0, 0, 0, 0, 0, K}},
        {"24", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"24 v1", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"24 key", {0, 0, 0, 0, 0, 0, 0, K}},
        {"24 table", {0, 0, 0, 0, 0, 0, 0, T}},
        {"24 map8", {0, 0, 0, 0, 0, 0, 0, M}},
        {"24 map16", {0, 0, 0, 0, 0, 0, 0, M}},
        {"48 II", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"48 MM", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"48 v2", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"48 MM map8", {0, 0, 0, 0, 0, 0, 0, M}},
        {"48 MM map16", {0, 0, 0, 0, 0, 0, 0, M}},
        {"48 II map16", {0, 0, 0, 0, 0, 0, 0, M}},
        // XOr and FlipNibbles take samples as stored: no byte-order step.
        {"48 MM locked", {0, 0, 35, 35, 35, 35, 35, 0}},
        {"48 MM+II", {0, 0, 36, 36, 36, 36, 36, 0}},
        {"type 3", {16, 16, 16, 16, 16, 16, 16, 0}},
        {"type 0", {15, 15, 15, 15, 15, 15, 15, 0}},
        {"24 planes", {15, 15, 15, 15, 15, 15, 15, 0}},
        {"depth 12", {15, 15, 15, 15, 15, 15, 15, 0}},
    };
    ExpectEveryKind(rows, std::size(rows));
    for (const auto& row : rows) {
        for (int op = 0; op < OpCount; ++op) {
            SCOPED_TRACE(std::string(row.kind) + " / " + kNames[op]);
            Buffer s = Make(row.kind), r;
            ASSERT_EQ(RunTone(op, s.get(), &r), row.codes[op]);
            if (!r) continue;
            EXPECT_EQ(r->Type, uint32_t(ONEPLANE));
            EXPECT_EQ(r->ColorDepth, s->ColorDepth);
            const uint32_t kept = op == Flip && row.codes[7] != M ? 0 : row.codes[7];
            EXPECT_EQ(KXSUP_AlphaHolds(r.get()), kept);
            if (kept == T) {
                EXPECT_NE(r->AlphaData, s->AlphaData) << "the table is the result's own";
            }
            if (kept == M) {
                EXPECT_EQ(KXSUP_AlphaBytes(r.get())[0], s->AlphaType & KXALPHA_CHANNEL16 ? 0x1234 / 257 : 200);
            }
        }
    }
}

TEST(ToneOperators, SampleRules)
{
    struct Case {
        int op;
        Keys keys;
        uint32_t depth, in, out;
    };
    const Case cases[] = {
        {XOr, {}, 24, 0x12, 0x1D},
        {XOr, {{"XORVALUE", "255"}}, 24, 0x12, 0xED},
        {XOr, {{"XORVALUE", "300"}}, 24, 0x12, 0xED},
        {XOr, {{"XORVALUE", "-5"}}, 24, 0x12, 0xED},
        {XOr, {{"XORVALUE", "3"}}, 24, 0x12, 0x11},
        {XOr, {}, 48, 0x1234, 0x1D3B},
        {XOr, {{"XORVALUE", "200"}}, 48, 0x1234, 0x1234 ^ (200 * 257)},
        {XOr, {{"XORVALUE16", "70000"}}, 48, 0x1234, 0x12CB},
        {XOr, {{"XORVALUE", "1"}, {"XORVALUE16", "-1"}}, 48, 0x1234, 0x1335},
        {XOr, {{"XORVALUE16", "-2"}}, 48, 0x1234, 0x1234 ^ 0xFFFE},
        {XOr, {{"XORVALUE16", "0"}}, 48, 0x1234, 0x1234},
        {Flip, {}, 24, 0x12, 0x21},
        {Flip, {{"FLIPMODE", "MINUS_LOW"}}, 24, 0xAB, 0xA0},
        {Flip, {{"FLIPMODE", "MINUS_HIGH"}}, 24, 0xAB, 0x0B},
        {Flip, {{"FLIPMODE", "SHIFT_LOW"}}, 24, 0xAB, 0xB0},
        {Flip, {{"FLIPMODE", "SHIFT_HIGH"}}, 24, 0xAB, 0x0A},
        {Flip, {{"FLIPMODE", "double_low"}}, 24, 0xAB, 0xBB},
        {Flip, {{"FLIPMODE", "DOUBLE_HIGH"}}, 24, 0xAB, 0xAA},
        {Flip, {{"FLIPMODE", "ROTATE"}}, 24, 0xAB, 0xBA},
        {Flip, {}, 48, 0x1234, 0x3412},
        {Flip, {{"FLIPMODE", "DOUBLE_LOW"}}, 48, 0x1234, 0x3434},
        {Flip, {{"FLIPMODE", "SHIFT_HIGH"}}, 48, 0x1234, 0x0012},
        {Negate, {}, 24, 0x12, 0xED},
        {Negate, {}, 48, 0x1234, 0xEDCB},
        {Complement, {}, 48, 0, 65535},
        {Gamma, {}, 24, 0, 0},
        {Gamma, {}, 24, 64, 16},
        {Gamma, {}, 24, 128, 64},
        {Gamma, {}, 24, 200, 157},
        {Gamma, {}, 24, 255, 255},
        {Gamma, {{"RED_GAMMA", "2.0"}, {"GREEN_GAMMA", "2"}, {"BLUE_GAMMA", "2e0"}}, 24, 128, 181},
        {Gamma, {}, 48, 32768, 16384},
        {Gamma, {{"RED_GAMMA", "x"}, {"GREEN_GAMMA", "nan"}, {"BLUE_GAMMA", "inf"}}, 48, 32768, 16384},
        {Gamma, {{"RED_GAMMA", "0"}, {"GREEN_GAMMA", "0"}, {"BLUE_GAMMA", "0"}}, 24, 254, 0},
        {Gamma, {{"RED_GAMMA", "0"}, {"GREEN_GAMMA", "0"}, {"BLUE_GAMMA", "0"}}, 48, 65535, 65535},
        {Gamma, {{"RED_GAMMA", "-1"}, {"GREEN_GAMMA", "-1"}, {"BLUE_GAMMA", "-1"}}, 24, 0, 255},
        {Gamma, {{"RED_GAMMA", "-1"}, {"GREEN_GAMMA", "-1"}, {"BLUE_GAMMA", "-1"}}, 48, 1, 65535},
        {Contrast, {{"PERCENT", "50"}, {"SUMMAND", "10"}}, 24, 200, 110},
        {Contrast, {{"PERCENT", "300"}}, 24, 100, 255},
        {Contrast, {{"PERCENT", "-100"}, {"SUMMAND", "255"}}, 24, 55, 200},
        {Contrast, {{"PERCENT", "-7"}, {"SUMMAND", "5"}}, 24, 10, 5},  // -0.7 truncates toward zero
        {Contrast, {{"PERCENT", "50"}, {"SUMMAND", "10"}}, 48, 1000, 510},
        {Contrast, {{"PERCENT", "2147483647"}}, 48, 65535, 65535},
        {Contrast, {{"PERCENT", "2147483647"}, {"SUMMAND", "-2147483648"}}, 24, 1, 0},
        {Contrast, {{"PERCENT", "-2147483648"}, {"SUMMAND", "2147483647"}}, 48, 65535, 0},
        {Contrast, {{"PERCENT", "-2147483648"}, {"SUMMAND", "2147483647"}}, 48, 0, 65535},
        {Brightness, {{"ADJUST_RGB", "-300"}}, 24, 200, 0},
        {Brightness, {{"ADJUST_RGB", "1000"}}, 48, 2000, 3000},
        {Brightness, {{"ADJUST_RGB", "1000"}}, 48, 65000, 65535},
        {Brightness, {{"ADJUST_RGB", "2147483647"}}, 24, 0, 255},
        {Brightness, {{"ADJUST_RGB", "-2147483648"}}, 48, 65535, 0},
        {Brightness, {{"ADJUST_RGB", "+7"}}, 24, 8, 15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(kNames[c.op]) + " " + std::to_string(c.in) + (c.keys.empty() ? "" : std::string(" ") + c.keys[0].first + "=" + c.keys[0].second));
        Buffer s = Grey(c.depth, c.in), r;
        ASSERT_EQ(RunTone(c.op, s.get(), &r, c.keys), 0u);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(Sample(r, i), c.out) << "sample " << i;
    }
}

TEST(ToneOperators, GammaPerChannel)
{
    const Keys keys = {{"RED_GAMMA", "0.5"}, {"GREEN_GAMMA", "1"}, {"BLUE_GAMMA", "2"}};
    Buffer s24 = Grey(24, 128), s48 = Grey(48, 32768), pal = Chunky(8, 1, 1), r24, r48, rp;
    ASSERT_EQ(RunTone(Gamma, s24.get(), &r24, keys), 0u);
    ASSERT_EQ(RunTone(Gamma, s48.get(), &r48, keys), 0u);
    EXPECT_EQ(Sample(r24, 0), 64u);
    EXPECT_EQ(Sample(r24, 1), 128u);
    EXPECT_EQ(Sample(r24, 2), 181u);
    EXPECT_EQ(Sample(r48, 0), 16384u);
    EXPECT_EQ(Sample(r48, 1), 32768u);
    EXPECT_EQ(Sample(r48, 2), 46341u);
    // Palette components go through the table of their channel; the buffer is sized exactly.
    pal->Palette[0] = pal->Palette[1] = pal->Palette[2] = 128;
    pal->BufferSize = 1;
    ASSERT_EQ(RunTone(Gamma, pal.get(), &rp, keys), 0u);
    EXPECT_EQ(rp->Palette[0], 64);
    EXPECT_EQ(rp->Palette[1], 128);
    EXPECT_EQ(rp->Palette[2], 181);
    EXPECT_EQ(rp->PixelBits, 8u);
    EXPECT_EQ(rp->BufferSize, 1u);
}

TEST(ToneOperators, PaletteRules)
{
    // XOr changes indices within the depth and keeps the palette.
    struct XorCase {
        uint32_t depth;
        const char* value;
        uint8_t in, out;
    };
    for (const XorCase& c : {XorCase{1, "1", 0, 1}, {1, "5", 1, 0}, {1, nullptr, 0, 1}, {3, nullptr, 2, 5}, {4, nullptr, 3, 12},
                             {8, nullptr, 3, 12}, {8, "255", 3, 252}, {4, "-1", 3, 12}}) {
        SCOPED_TRACE(std::to_string(c.depth) + " bit, XORVALUE " + (c.value ? c.value : "none"));
        Buffer s = Chunky(c.depth, 2, 1), r;
        s->Data[0] = c.in;
        Keys keys;
        if (c.value) keys.push_back({"XORVALUE", c.value});
        ASSERT_EQ(RunTone(XOr, s.get(), &r, keys), 0u);
        EXPECT_EQ(r->Data[0], c.out);
        EXPECT_EQ(0, std::memcmp(r->Palette, s->Palette, sizeof s->Palette));
    }
    // The others change the palette, over the entries of the depth or all 256.
    struct Range {
        int op;
        uint32_t entries;
    };
    for (const Range& c : {Range{Flip, 16}, {Negate, 16}, {Complement, 256}, {Gamma, 16}, {Contrast, 256}, {Brightness, 256}}) {
        SCOPED_TRACE(kNames[c.op]);
        Buffer s = Picture(4), r;
        const Keys keys = {{"ADJUST_RGB", "9"}, {"PERCENT", "50"}};
        ASSERT_EQ(RunTone(c.op, s.get(), &r, keys), 0u);
        EXPECT_EQ(0, std::memcmp(r->Data, s->Data, 15)) << "pixels unchanged";
        for (uint32_t i = 1; i < 256; ++i) {
            const bool changed = std::memcmp(r->Palette + 3 * i, s->Palette + 3 * i, 3) != 0;
            ASSERT_EQ(changed, i < c.entries) << "entry " << i;
        }
    }
}

TEST(ToneOperators, ByteOrderAndFlags)
{
    // XOr and FlipNibbles take a big-endian sample as stored; the result stays big-endian.
    {
        Buffer s = Grey(48, 0x1234, KXGFXF_MM), r;
        ASSERT_EQ(RunTone(XOr, s.get(), &r, {{"XORVALUE16", "255"}}), 0u);
        EXPECT_EQ(r->Data[0], 0x12 ^ 0xFF);
        EXPECT_EQ(r->Data[1], 0x34);
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(r.get()) & (KXGFXF_MM | KXGFXF_II), uint32_t(KXGFXF_MM));
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(s.get()) & (KXGFXF_MM | KXGFXF_II), uint32_t(KXGFXF_MM)) << "the source is untouched";
    }
    {
        Buffer s = With(Grey(48, 0x1234, KXGFXF_MM), KXALPHA_CHANNEL16), r;
        ASSERT_EQ(RunTone(Flip, s.get(), &r), 0u);
        EXPECT_EQ(r->Data[0], 0x34);
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(r.get()) & (KXGFXF_MM | KXGFXF_II), uint32_t(KXGFXF_MM));
        EXPECT_EQ(KXSUP_AlphaHolds(r.get()), uint32_t(KXALPHA_CHANNEL8));
    }
    // Negate brings the source to host order and leaves the result unmarked;
    // the others mark theirs host order.
    for (int op : {Negate, Complement, Gamma, Contrast, Brightness}) {
        SCOPED_TRACE(kNames[op]);
        Buffer s = Grey(48, 0x1234, KXGFXF_MM | KXGFXF_GRAY | KXGFXF_SRC8BIT | KXGFXF_SRCLOWDEPTH), r;
        ASSERT_EQ(RunTone(op, s.get(), &r), 0u);
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(s.get()) & (KXGFXF_MM | KXGFXF_II), uint32_t(KXGFXF_II));
        const uint32_t order = op == Negate ? 0u : uint32_t(KXGFXF_II);
        const uint32_t carried = op == Gamma ? 0 : op == Brightness ? KXGFXF_GRAY | KXGFXF_SRC8BIT | KXGFXF_SRCLOWDEPTH : KXGFXF_GRAY;
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(r.get()), order | carried);
        if (op == Negate) {
            EXPECT_EQ(Get16(r->Data, 0, false), 0xEDCB);
        }
    }
    // 24-bit results carry the same flag bits and no order.
    for (int op = 0; op < OpCount; ++op) {
        SCOPED_TRACE(kNames[op]);
        Buffer s = Grey(24, 9, KXGFXF_GRAY | KXGFXF_SRC8BIT), r;
        ASSERT_EQ(RunTone(op, s.get(), &r), 0u);
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(r.get()), op == Gamma ? 0u : op == Brightness ? uint32_t(KXGFXF_GRAY | KXGFXF_SRC8BIT) : uint32_t(KXGFXF_GRAY));
    }
}

TEST(ToneOperators, XorTwiceRestores)
{
    const Keys keys = {{"XORVALUE", "77"}, {"XORVALUE16", "4660"}};
    for (const char* kind : {"planes5", "pal8 key", "24 map8", "48 MM", "48 II map16"}) {
        SCOPED_TRACE(kind);
        Buffer s = Make(kind), once, twice;
        ASSERT_EQ(RunTone(XOr, s.get(), &once, keys), 0u);
        ASSERT_EQ(RunTone(XOr, once.get(), &twice, keys), 0u);
        // Bit planes come back as the chunky picture they were made from.
        Buffer want = s->Type == BITPLANE ? Picture(5, 4, 9, 3) : std::move(s);
        EXPECT_EQ(0, std::memcmp(twice->Data, want->Data, want->BufferSize));
        EXPECT_NE(0, std::memcmp(once->Data, twice->Data, twice->BufferSize));
    }
}

TEST(ToneOperators, ProgressEveryEighthRowButNotForXOr)
{
    static std::vector<uint32_t> seen;
    auto hook = [](KXProgress* p, uintptr_t) { seen.push_back(p->Percent); };
    for (int op : {Negate, XOr}) {
        seen.clear();
        Buffer s = Picture(24, 4, 3, 20);
        KXClass lib;
        kxpNegate negate(&lib);
        kxpXOr xr(&lib);
        KXOperator* o = op == Negate ? static_cast<KXOperator*>(&negate) : &xr;
        o->SetProgress(hook, 0);
        KX_GfxBuffer* r = nullptr;
        ASSERT_EQ(o->OperateTagList(s.get(), &r, nullptr), 0u);
        const std::vector<uint32_t> want = op == Negate ? std::vector<uint32_t>{0, 40, 80} : std::vector<uint32_t>{};
        EXPECT_EQ(seen, want);
    }
}

// ImageMagick and netpbm do the same arithmetic on 8- and 16-bit samples.
TEST(ToneOperators, OraclesImageMagickAndNetpbm)
{
    if (!KXT_HaveTool("convert-im6.q16") || !KXT_HaveTool("pnminvert")) GTEST_SKIP() << "ImageMagick or netpbm is missing";
    const std::string dir = KXT_NewTempDir("/tmp/kxtone-XXXXXX");
    struct Case {
        int op;
        Keys keys;
        uint32_t depth;
        const char* command;
        uint32_t tolerance;
    };
    const Case cases[] = {
        {Negate, {}, 24, "convert-im6.q16 IN -negate OUT", 0},
        {Negate, {}, 48, "convert-im6.q16 IN -negate OUT", 0},
        {Complement, {}, 24, "pnminvert IN > OUT", 0},
        {Negate, {}, 48, "pnminvert IN > OUT", 0},
        {XOr, {}, 24, "convert-im6.q16 IN -evaluate xor 3855 OUT", 0},
        {XOr, {{"XORVALUE16", "4660"}}, 48, "convert-im6.q16 IN -evaluate xor 4660 OUT", 0},
        {Brightness, {{"ADJUST_RGB", "1000"}}, 48, "convert-im6.q16 IN -evaluate add 1000 OUT", 0},
        {Brightness, {{"ADJUST_RGB", "-1000"}}, 48, "convert-im6.q16 IN -evaluate subtract 1000 OUT", 0},
        {Brightness, {{"ADJUST_RGB", "40"}}, 24, "convert-im6.q16 IN -evaluate add 10280 OUT", 0},
        {Gamma, {{"RED_GAMMA", "1.7"}, {"GREEN_GAMMA", "1.7"}, {"BLUE_GAMMA", "1.7"}}, 48, "convert-im6.q16 IN -gamma 1.7 OUT", 0},
        {Gamma, {}, 48, "convert-im6.q16 IN -gamma 0.5 OUT", 0},
        // 8-bit samples go through ImageMagick's 16-bit quantum and still agree.
        {Gamma, {}, 24, "convert-im6.q16 IN -gamma 0.5 OUT", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command + std::string(" / ") + kNames[c.op] + " " + std::to_string(c.depth));
        Buffer s = Noise(c.depth, 61, 7), r;
        const std::string in = dir + "/in.ppm", out = dir + "/out.ppm";
        ASSERT_TRUE(WritePpm(in, s.get()));
        ASSERT_EQ(RunTone(c.op, s.get(), &r, c.keys), 0u);
        ASSERT_TRUE(RunTool(c.command, in, out));
        Pnm p;
        ASSERT_TRUE(ReadPnm(out, &p));
        EXPECT_LE(MaxDiff(p.samples, Samples(r.get())), c.tolerance);
    }
}
