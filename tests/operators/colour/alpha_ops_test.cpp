// The alpha operators: AlphaTo16Bit, AlphaTo8Bit, OptimizeAlpha,
// StripAlpha, InvertAlpha and ExtractAlpha. Their input table over every
// kind with the alpha the optimiser and the inversion leave, the numeric
// cases of widening, narrowing, dropping, inverting and extracting, and
// ImageMagick's alpha extraction as an oracle.
#include "input_kinds.h"
#include "operators/colour/kxpAlphaTo16Bit.h"
#include "operators/colour/kxpAlphaTo8Bit.h"
#include "operators/colour/kxpExtractAlpha.h"
#include "operators/colour/kxpInvertAlpha.h"
#include "operators/colour/kxpOptimizeAlpha.h"
#include "operators/colour/kxpStripAlpha.h"
#include "oracle.h"

using namespace colour_test;
using namespace colour_kinds;
using namespace colour_oracle;

namespace {

using Keys = std::vector<std::pair<const char*, const char*>>;

// A picture with an alpha map of the given values (8 or 16 bits, in the picture's order).
Buffer WithMap(uint32_t depth, std::vector<uint32_t> values, bool wide, uint32_t flags = KXGFXF_II)
{
    Buffer b = Picture(depth, 4, uint32_t(values.size()), 1);
    b->Flags = flags;
    b->AlphaType = wide ? KXALPHA_CHANNEL16 : KXALPHA_CHANNEL8;
    auto* m = static_cast<uint8_t*>(AllocVec(values.size() * (wide ? 2 : 1), MEMF_ANY));
    for (size_t i = 0; i < values.size(); ++i) {
        if (!wide) m[i] = uint8_t(values[i]);
        else if (flags & KXGFXF_MM) m[2 * i] = uint8_t(values[i] >> 8), m[2 * i + 1] = uint8_t(values[i]);
        else m[2 * i] = uint8_t(values[i]), m[2 * i + 1] = uint8_t(values[i] >> 8);
    }
    b->AlphaData = m;
    return b;
}

std::vector<uint32_t> Map8(const Buffer& b)
{
    EXPECT_EQ(KXSUP_AlphaHolds(b.get()), uint32_t(KXALPHA_CHANNEL8));
    const uint8_t* m = KXSUP_AlphaBytes(b.get());
    return m ? std::vector<uint32_t>(m, m + b->Width * b->Height) : std::vector<uint32_t>{};
}

}  // namespace

TEST(AlphaOperators, InputTable)
{
    // Columns: AlphaTo16Bit, AlphaTo8Bit, OptimizeAlpha, StripAlpha,
    // InvertAlpha, ExtractAlpha, then the alpha kinds of the optimiser's and
    // the inversion's results (NO_ALPHA at its default, IGNORE).
    const uint32_t K = KXALPHA_SINGLECOLOR, T = KXALPHA_MULTICOLOR, M = KXALPHA_CHANNEL8;
    const Row<8> rows[] = {
        {"pal1", {33, 20, 0, 0, 0, 20, 0, 0}},
        {"pal4", {33, 20, 0, 0, 0, 20, 0, 0}},
        {"pal8", {33, 20, 0, 0, 0, 20, 0, 0}},
        {"pal8 v1", {33, 20, 0, 0, 0, 20, 0, 0}},
        {"planes5", {33, 20, 0, 0, 0, 20, 0, 0}},
        {"planes key", {33, 20, 0, 0, 0, 20, K, T}},
        // HAM is refused only by the optimiser; the others take it as stored.
        {"HAM6", {33, 20, 19, 0, 0, 20, 0, 0}},
        {"HAM8 planes", {33, 20, 19, 0, 0, 20, 0, 0}},
        {"EHB", {33, 20, 0, 0, 0, 20, 0, 0}},
        {"pal8 key", {33, 20, 0, 0, 0, 20, K, T}},
        {"pal8 table", {33, 20, 0, 0, 0, 20, T, T}},
        {"pal8 map8", {33, 20, 0, 0, 0, 20, 0, 0}},
        {"pal8 map16", {33, 20, 0, 0, 0, 20, 0, 0}},
        {"pal8 key+table", {33, 20, 0, 0, 0, 20, K, T}},
        {"24", {33, 26, 0, 0, 0, 26, 0, 0}},
        {"24 v1", {33, 26, 0, 0, 0, 26, 0, 0}},
        {"24 key", {33, 26, 0, 0, 0, 26, K, 0}},
        {"24 table", {33, 26, 0, 0, 0, 26, T, 0}},
        {"24 map8", {33, 0, 0, 0, 0, 0, M, M}},
        {"24 map16", {33, 0, 0, 0, 0, 0, M, M}},
        {"48 II", {26, 26, 0, 0, 0, 26, 0, 0}},
        {"48 MM", {26, 26, 0, 0, 0, 26, 0, 0}},
        {"48 v2", {26, 26, 0, 0, 0, 26, 0, 0}},
        {"48 MM map8", {0, 0, 0, 0, 0, 0, M, M}},
        {"48 MM map16", {0, 0, 0, 0, 0, 0, M, M}},
        {"48 II map16", {0, 0, 0, 0, 0, 0, M, M}},
        {"48 MM locked", {26, 26, 35, 35, 35, 26, 0, 0}},
        {"48 MM+II", {26, 26, 36, 36, 36, 26, 0, 0}},
        {"type 3", {33, 20, 16, 16, 0, 20, 0, 0}},
        {"type 0", {33, 20, 15, 15, 0, 20, 0, 0}},
        {"24 planes", {33, 15, 15, 15, 15, 15, 0, 0}},
        {"depth 12", {33, 20, 15, 0, 15, 20, 0, 0}},
    };
    ExpectEveryKind(rows, std::size(rows));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.kind);
        Buffer s[6], r[6];
        for (auto& b : s) b = Make(row.kind);
        EXPECT_EQ(RunOp<kxpAlphaTo16Bit>(s[0].get(), &r[0]), row.codes[0]);
        EXPECT_EQ(RunOp<kxpAlphaTo8Bit>(s[1].get(), &r[1]), row.codes[1]);
        EXPECT_EQ(RunOp<kxpOptimizeAlpha>(s[2].get(), &r[2]), row.codes[2]);
        EXPECT_EQ(RunOp<kxpStripAlpha>(s[3].get(), &r[3]), row.codes[3]);
        EXPECT_EQ(RunOp<kxpInvertAlpha>(s[4].get(), &r[4]), row.codes[4]);
        EXPECT_EQ(RunOp<kxpExtractAlpha>(s[5].get(), &r[5]), row.codes[5]);
        if (r[0]) {
            EXPECT_EQ(KXSUP_AlphaHolds(r[0].get()), uint32_t(KXALPHA_CHANNEL16));
        }
        if (r[1]) {
            EXPECT_EQ(KXSUP_AlphaHolds(r[1].get()), uint32_t(KXALPHA_CHANNEL8));
        }
        if (r[2]) {
            EXPECT_EQ(KXSUP_AlphaHolds(r[2].get()), row.codes[6]);
        }
        if (r[3]) {
            EXPECT_EQ(KXSUP_AlphaHolds(r[3].get()), 0u);
            EXPECT_EQ(r[3]->Type, uint32_t(ONEPLANE));
        }
        if (r[4]) {
            EXPECT_EQ(KXSUP_AlphaHolds(r[4].get()), row.codes[7]);
            EXPECT_EQ(r[4]->Type, s[4]->Type) << "the inversion keeps the layout";
        }
        if (r[5]) {
            EXPECT_EQ(r[5]->ColorDepth, 8u);
        }
    }
}

TEST(AlphaOperators, WidenAndNarrow)
{
    // 8 to 16 bits: the byte in both halves, marked as widened; flags carried.
    for (uint32_t flags : {uint32_t(KXGFXF_II), uint32_t(KXGFXF_MM)}) {
        Buffer s = WithMap(48, {0x80, 0, 255}, false, flags | KXGFXF_GRAY | KXGFXF_SRC8BIT), r;
        ASSERT_EQ(RunOp<kxpAlphaTo16Bit>(s.get(), &r), 0u);
        const auto* m = static_cast<const uint16_t*>(r->AlphaData);
        EXPECT_EQ(m[0], 0x8080);
        EXPECT_EQ(m[1], 0);
        EXPECT_EQ(m[2], 0xFFFF);
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(r.get()), uint32_t(KXGFXF_II | KXGFXF_GRAY | KXGFXF_SRC8BIT | KXGFXF_ALPHASRC8BIT));
        EXPECT_EQ(0, memcmp(r->Data, s->Data, 18)) << "the samples are copied (the source is host order now)";
    }
    // A 16-bit map is copied, in host order, without the widened mark.
    {
        Buffer s = WithMap(48, {0x1234, 7}, true, KXGFXF_MM), r;
        ASSERT_EQ(RunOp<kxpAlphaTo16Bit>(s.get(), &r), 0u);
        const auto* m = static_cast<const uint16_t*>(r->AlphaData);
        EXPECT_EQ(m[0], 0x1234);
        EXPECT_EQ(m[1], 7);
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(r.get()), uint32_t(KXGFXF_II));
    }
    // 16 to 8 bits: divided by 257, read in the picture's order.
    for (uint32_t flags : {uint32_t(KXGFXF_II), uint32_t(KXGFXF_MM)})
        for (uint32_t depth : {24u, 48u}) {
            Buffer s = WithMap(depth, {65535, 65534, 257, 256}, true, flags), r;
            ASSERT_EQ(RunOp<kxpAlphaTo8Bit>(s.get(), &r), 0u);
            EXPECT_EQ(Map8(r), (std::vector<uint32_t>{255, 254, 1, 0}));
            EXPECT_EQ(r->Version, depth == 48 ? 4u : 3u);
        }
    Buffer s = WithMap(24, {3, 200}, false), r;
    ASSERT_EQ(RunOp<kxpAlphaTo8Bit>(s.get(), &r), 0u);
    EXPECT_EQ(Map8(r), (std::vector<uint32_t>{3, 200}));
    EXPECT_NE(r->AlphaData, s->AlphaData);
}

TEST(AlphaOperators, OptimizeKeepsOnlyAlphaThatHides)
{
    struct Case {
        const char* name;
        std::function<Buffer()> make;
        uint32_t kind;
    };
    const Case cases[] = {
        {"24, map all 255", [] { return WithMap(24, {255, 255, 255}, false); }, 0},
        {"24, one 254", [] { return WithMap(24, {255, 254, 255}, false); }, KXALPHA_CHANNEL8},
        {"48, 16-bit all 65535", [] { return WithMap(48, {65535, 65535}, true, KXGFXF_MM); }, 0},
        {"48, 16-bit 65534", [] { return WithMap(48, {65534, 65534}, true); }, KXALPHA_CHANNEL8},
        {"palette key", [] { return With(Picture(8), KXALPHA_SINGLECOLOR); }, KXALPHA_SINGLECOLOR},
        {"palette table all 255", [] { Buffer b = With(Picture(8), KXALPHA_MULTICOLOR); memset(b->AlphaData, 255, 256); return b; }, 0},
        {"palette table, one 0", [] { Buffer b = With(Picture(8), KXALPHA_MULTICOLOR); memset(b->AlphaData, 255, 256); KXSUP_AlphaBytes(b.get())[9] = 0; return b; }, KXALPHA_MULTICOLOR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Buffer s = c.make(), r;
        ASSERT_EQ(RunOp<kxpOptimizeAlpha>(s.get(), &r), 0u);
        EXPECT_EQ(KXSUP_AlphaHolds(r.get()), c.kind);
        if (c.kind == KXALPHA_CHANNEL8 && s->AlphaType == KXALPHA_CHANNEL16) {
            EXPECT_EQ(Map8(r), (std::vector<uint32_t>{254, 254}));
        }
        if (c.kind == KXALPHA_CHANNEL8 && s->AlphaType == KXALPHA_CHANNEL8) {
            EXPECT_EQ(Map8(r), (std::vector<uint32_t>{255, 254, 255}));
        }
        if (c.kind == KXALPHA_SINGLECOLOR) {
            EXPECT_EQ(KXSUP_AlphaIndex(r.get()), 5u);
        }
    }
}

TEST(AlphaOperators, StripRemovesEveryKind)
{
    Buffer planes = ToPlanes(With(Picture(3, 4, 9, 3), KXALPHA_SINGLECOLOR)), r;
    ASSERT_EQ(RunOp<kxpStripAlpha>(planes.get(), &r), 0u);
    EXPECT_EQ(r->Type, uint32_t(ONEPLANE));
    EXPECT_EQ(r->BufferSize, 27u);
    EXPECT_EQ(0, memcmp(r->Data, Picture(3, 4, 9, 3)->Data, 27));
    EXPECT_EQ(r->Version, 2u);
    // Versions 1 and 2 stay, 3 and 4 become 2; 48 bits are marked (version 4).
    struct Case {
        uint32_t depth, version, want;
    };
    for (const Case& c : {Case{24, 1, 1}, {24, 2, 2}, {24, 3, 2}, {24, 4, 2}, {48, 1, 4}, {8, 1, 1}}) {
        Buffer s = Picture(c.depth, c.version), q;
        if (c.version >= 3) colour_test::AddAlpha(s.get(), c.depth == 8 ? KXALPHA_MULTICOLOR : KXALPHA_CHANNEL16);
        ASSERT_EQ(RunOp<kxpStripAlpha>(s.get(), &q), 0u);
        EXPECT_EQ(q->Version, c.want);
        EXPECT_EQ(KXSUP_AlphaHolds(q.get()), 0u);
    }
}

TEST(AlphaOperators, InvertEachKindAndNoAlphaRule)
{
    // A transparent index becomes the one opaque entry.
    {
        Buffer s = With(Picture(8), KXALPHA_SINGLECOLOR), r;
        ASSERT_EQ(RunOp<kxpInvertAlpha>(s.get(), &r), 0u);
        ASSERT_EQ(KXSUP_AlphaHolds(r.get()), uint32_t(KXALPHA_MULTICOLOR));
        for (int i = 0; i < 256; ++i) ASSERT_EQ(KXSUP_AlphaBytes(r.get())[i], i == 5 ? 255 : 0);
    }
    // A table is inverted; bit planes stay bit planes.
    {
        Buffer s = ToPlanes(With(Picture(4), KXALPHA_MULTICOLOR)), r;
        ASSERT_EQ(RunOp<kxpInvertAlpha>(s.get(), &r), 0u);
        EXPECT_EQ(r->Type, uint32_t(BITPLANE));
        EXPECT_EQ(0, memcmp(r->Data, s->Data, s->BufferSize));
        for (int i = 0; i < 256; ++i) ASSERT_EQ(KXSUP_AlphaBytes(r.get())[i], i);
    }
    // A 16-bit map is narrowed, then inverted.
    {
        Buffer s = WithMap(48, {0x1234, 65535, 0}, true, KXGFXF_MM), r;
        ASSERT_EQ(RunOp<kxpInvertAlpha>(s.get(), &r), 0u);
        EXPECT_EQ(Map8(r), (std::vector<uint32_t>{255 - 0x1234 / 257, 0, 255}));
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(r.get()), uint32_t(KXGFXF_II));
    }
    // A true-colour depth other than 24 or 48 has no layout to copy.
    {
        Buffer s = Picture(24), r;
        s->ColorDepth = 32;
        EXPECT_EQ(RunOp<kxpInvertAlpha>(s.get(), &r, {{"NO_ALPHA", "OPAQUE"}}), 15u);
    }
    // Nothing to invert: NO_ALPHA, in any case.
    struct Case {
        const char* rule;
        uint32_t code, kind, fill;
    };
    for (const Case& c : {Case{nullptr, 0, 0, 0}, {"IGNORE", 0, 0, 0}, {"bogus", 0, 0, 0}, {"ERROR", 26, 0, 0},
                          {"opaque", 0, KXALPHA_CHANNEL8, 255}, {"TRANSPARENT", 0, KXALPHA_CHANNEL8, 0}}) {
        SCOPED_TRACE(c.rule ? c.rule : "no pad");
        Keys keys;
        if (c.rule) keys.push_back({"no_alpha", c.rule});
        for (uint32_t depth : {8u, 24u}) {
            Buffer s = Picture(depth), r;
            ASSERT_EQ(RunOp<kxpInvertAlpha>(s.get(), &r, keys), c.code);
            if (c.code) continue;
            EXPECT_EQ(r->Version, 3u);
            const uint32_t kind = c.kind && depth == 8 ? KXALPHA_MULTICOLOR : c.kind;
            EXPECT_EQ(KXSUP_AlphaHolds(r.get()), kind);
            if (kind) {
                EXPECT_EQ(KXSUP_AlphaBytes(r.get())[depth == 8 ? 255 : 14], c.fill);
            }
        }
    }
}

TEST(AlphaOperators, ExtractGivesTheMapAsGrey)
{
    Buffer s = WithMap(48, {32768, 0, 65535, 257}, true, KXGFXF_MM), r;
    ASSERT_EQ(RunOp<kxpExtractAlpha>(s.get(), &r), 0u);
    EXPECT_EQ(r->PixelBits, 8u);
    EXPECT_EQ(r->BufferSize, 4u);
    EXPECT_EQ(r->Version, 2u);
    const uint8_t want[] = {127, 0, 255, 1};
    EXPECT_EQ(0, memcmp(r->Data, want, 4));
    for (int i = 0; i < 256; ++i) ASSERT_TRUE(r->Palette[3 * i] == i && r->Palette[3 * i + 1] == i && r->Palette[3 * i + 2] == i);
    EXPECT_EQ(KXSUP_GetGfxBufferFlags(s.get()) & KXGFXF_MM, uint32_t(KXGFXF_MM)) << "the source keeps its order";
}

TEST(AlphaOperators, OracleImageMagickAlphaExtractAndNegate)
{
    if (!KXT_HaveTool("convert-im6.q16")) GTEST_SKIP() << "ImageMagick is missing";
    const std::string dir = KXT_NewTempDir("/tmp/kxalpha-XXXXXX"), in = dir + "/in.pam", out = dir + "/out.pgm";
    Buffer s = Noise(24, 23, 4), r, inv;
    std::vector<uint32_t> alpha(23 * 4);
    for (size_t i = 0; i < alpha.size(); ++i) alpha[i] = uint32_t(i * 29 % 256);
    Buffer a = WithMap(24, alpha, false);
    a->Width = 23, a->Height = 4;
    FreeVec(a->Data);
    a->Data = static_cast<uint8_t*>(AllocVec(s->BufferSize, MEMF_ANY));
    memcpy(a->Data, s->Data, s->BufferSize);
    a->BufferSize = s->BufferSize;
    std::string pam = "P7\nWIDTH 23\nHEIGHT 4\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    for (size_t i = 0; i < alpha.size(); ++i) {
        pam.append(reinterpret_cast<const char*>(a->Data + 3 * i), 3);
        pam += char(alpha[i]);
    }
    ASSERT_TRUE(KXT_WriteFile(in, pam));
    ASSERT_EQ(RunOp<kxpExtractAlpha>(a.get(), &r), 0u);
    ASSERT_TRUE(RunTool("convert-im6.q16 IN -alpha extract -depth 8 pgm:OUT", in, out));
    Pnm p;
    ASSERT_TRUE(ReadPnm(out, &p));
    EXPECT_EQ(MaxDiff(p.samples, Samples(r.get())), 0u);

    ASSERT_EQ(RunOp<kxpInvertAlpha>(a.get(), &inv), 0u);
    ASSERT_TRUE(RunTool("convert-im6.q16 IN -channel A -negate +channel -alpha extract -depth 8 pgm:OUT", in, out));
    ASSERT_TRUE(ReadPnm(out, &p));
    EXPECT_EQ(MaxDiff(p.samples, std::vector<uint16_t>(KXSUP_AlphaBytes(inv.get()), KXSUP_AlphaBytes(inv.get()) + alpha.size())), 0u);
}
