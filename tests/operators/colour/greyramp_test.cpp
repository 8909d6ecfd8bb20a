// kxpExtractGrayScales and kxpAntique: which inputs they take, the depth
// limits, the grey formulas (luminance, quick, red of a grey picture, high
// bytes of 48-bit samples), the ramps, re-sorting by brightness, the tint,
// and what each carries (the grey mark; palette transparency).
#include <array>

#include "dither_kinds.h"
#include "operators/colour/kxpAntique.h"
#include "operators/colour/kxpExtractGrayScales.h"

using namespace colour_test;

namespace {

using Keys = std::vector<std::pair<const char*, const char*>>;

std::vector<int> Entry(const Buffer& r, int i) { return {r->Palette[3 * i], r->Palette[3 * i + 1], r->Palette[3 * i + 2]}; }
std::vector<int> Pixels(const Buffer& r) { return std::vector<int>(r->Data, r->Data + size_t(r->Width) * r->Height); }

Buffer Rgb(std::vector<std::array<uint8_t, 3>> colours)
{
    Buffer s = Chunky(24, uint32_t(colours.size()), 1);
    for (size_t i = 0; i < colours.size(); ++i) memcpy(s->Data + 3 * i, colours[i].data(), 3);
    return s;
}

uint32_t Want(const InputKind& k, uint32_t) { return k.family == kHam ? uint32_t(KXERR_NOHAM) : 0u; }

}  // namespace

TEST(GreyRamp, TakesEveryDepthButHam)
{
    ExpectCodes<kxpExtractGrayScales>(Want);
    ExpectCodes<kxpAntique>(Want);
    // Every result: one byte a pixel, the source's size, depth d.
    for (const InputKind& k : InputKinds()) {
        if (k.family == kHam) continue;
        SCOPED_TRACE(k.name);
        Buffer in = MakeInput(k, 0), a, b;
        ASSERT_EQ(RunOp<kxpExtractGrayScales>(in.get(), &a, {{"COLORDEPTH", "4"}}), 0u);
        ASSERT_EQ(RunOp<kxpAntique>(in.get(), &b, {{"COLORDEPTH", "4"}}), 0u);
        for (const Buffer* r : {&a, &b}) {
            EXPECT_EQ((*r)->PixelBits, 8u);
            EXPECT_EQ((*r)->Width, 5u);
            EXPECT_EQ((*r)->BufferSize, 20u);
            EXPECT_EQ((*r)->ColorDepth, std::min(4u, k.depth));
            for (int v : Pixels(*r)) ASSERT_LT(v, 1 << (*r)->ColorDepth);
        }
    }
}

TEST(GreyRamp, GreyFormulas)
{
    Buffer s = Rgb({{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}}), r;
    ASSERT_EQ(RunOp<kxpExtractGrayScales>(s.get(), &r), 0u);
    EXPECT_EQ(Pixels(r), (std::vector<int>{76, 150, 28, 255}));
    for (int i = 0; i < 256; ++i) ASSERT_EQ(Entry(r, i), (std::vector<int>(3, i)));
    EXPECT_EQ(r->ColorDepth, 8u);
    EXPECT_EQ(KXSUP_GetGfxBufferFlags(r.get()), uint32_t(KXGFXF_GRAY));
    // QUICK, even without a value; the antique tint ignores it.
    ASSERT_EQ(RunOp<kxpExtractGrayScales>(s.get(), &r, {{"QUICK", ""}}), 0u);
    EXPECT_EQ(Pixels(r), (std::vector<int>{63, 127, 31, 221}));
    ASSERT_EQ(RunOp<kxpAntique>(s.get(), &r, {{"QUICK", ""}}), 0u);
    EXPECT_EQ(Pixels(r), (std::vector<int>{76, 150, 28, 255}));
    // A picture marked grey: its red sample, with or without QUICK.
    KXSUP_AddGfxBufferFlags(s.get(), KXGFXF_GRAY, 1);
    for (Keys keys : {Keys{{"COLORDEPTH", "4"}}, Keys{{"COLORDEPTH", "4"}, {"QUICK", "1"}}}) {
        ASSERT_EQ(RunOp<kxpExtractGrayScales>(s.get(), &r, keys), 0u);
        EXPECT_EQ(Pixels(r), (std::vector<int>{15, 0, 0, 15}));
    }

    // 48 bits in either order: the high byte of each sample.
    for (uint32_t order : {0u, uint32_t(KXGFXF_MM), uint32_t(KXGFXF_II)}) {
        SCOPED_TRACE(order);
        Buffer d = Chunky(48, 2, 1);
        const bool big = order == KXGFXF_MM;
        const uint16_t v[6] = {0xFF01, 0x00FF, 0x0000, 0x1234, 0x5678, 0x9ABC};
        for (int i = 0; i < 6; ++i) Put16(d.get(), i, v[i], big);
        if (order) KXSUP_SetGfxBufferEndianess(d.get(), order);
        ASSERT_EQ(RunOp<kxpExtractGrayScales>(d.get(), &r), 0u);
        EXPECT_EQ(Pixels(r), (std::vector<int>{76, (0x12 * 30 + 0x56 * 59 + 0x9A * 11) / 100}));
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(r.get()), uint32_t(KXGFXF_GRAY | KXGFXF_II));
        EXPECT_EQ(r->NativeDIPF, 0u);
    }
}

TEST(GreyRamp, RampsAndDepths)
{
    Buffer white = Rgb({{255, 255, 255}, {0, 0, 0}}), r;
    ASSERT_EQ(RunOp<kxpExtractGrayScales>(white.get(), &r, {{"COLORDEPTH", "4"}}), 0u);
    EXPECT_EQ(Pixels(r), (std::vector<int>{15, 0}));
    EXPECT_EQ(Entry(r, 15), (std::vector<int>{240, 240, 240}));
    EXPECT_EQ(Entry(r, 16), (std::vector<int>{0, 0, 0}));  // (16 x 16) mod 256
    EXPECT_EQ(Entry(r, 255), (std::vector<int>{255, 255, 255}));

    struct Case {
        const char* depth;
        uint32_t want;
    } depths[] = {{"0", 1}, {"-3", 8}, {"12", 8}, {"3", 3}};
    for (const auto& c : depths) {
        ASSERT_EQ(RunOp<kxpExtractGrayScales>(white.get(), &r, {{"COLORDEPTH", c.depth}}), 0u);
        EXPECT_EQ(r->ColorDepth, c.want) << c.depth;
    }

    // An 8-bit palette picture to 4 bits: a 16-entry ramp ending in white.
    Buffer p = Chunky(8, 4, 1);
    for (int i = 0; i < 4; ++i) p->Data[i] = uint8_t(i * 60);
    ASSERT_EQ(RunOp<kxpExtractGrayScales>(p.get(), &r, {{"COLORDEPTH", "4"}}), 0u);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(Entry(r, i), (std::vector<int>(3, i * 16)));
    EXPECT_EQ(Entry(r, 15), (std::vector<int>(3, 255)));
    for (int i = 0; i < 4; ++i) {
        const uint8_t* e = p->Palette + 3 * p->Data[i];
        EXPECT_EQ(r->Data[i], (e[0] * 30 + e[1] * 59 + e[2] * 11) / 100 / 16) << i;
    }
    EXPECT_EQ(Entry(r, 16), Entry(p, 16)) << "entries beyond the ramp keep the source's";

    // A 4-bit picture asked for 8: stays 4 bits, indices kept, entries grey.
    Buffer q = Chunky(4, 3, 1);
    q->Data[0] = 3, q->Data[1] = 15, q->Data[2] = 0;
    ASSERT_EQ(RunOp<kxpExtractGrayScales>(q.get(), &r), 0u);
    EXPECT_EQ(r->ColorDepth, 4u);
    EXPECT_EQ(Pixels(r), (std::vector<int>{3, 15, 0}));
    for (int i = 0; i < 16; ++i) {
        const uint8_t* e = q->Palette + 3 * i;
        EXPECT_EQ(Entry(r, i), (std::vector<int>(3, (e[0] * 30 + e[1] * 59 + e[2] * 11) / 100))) << i;
    }

    // Two colours: the darker entry black, the other white; equal: 0 white.
    struct Pair {
        std::array<uint8_t, 6> entries;
        int first;
    } pairs[] = {{{200, 0, 0, 0, 0, 100}, 255}, {{0, 0, 100, 200, 0, 0}, 0}, {{9, 9, 9, 9, 9, 9}, 255}};
    for (const auto& c : pairs) {
        Buffer b = Chunky(1, 2, 1);
        memcpy(b->Palette, c.entries.data(), 6);
        b->Data[1] = 1;
        ASSERT_EQ(RunOp<kxpExtractGrayScales>(b.get(), &r), 0u);
        EXPECT_EQ(Entry(r, 0), (std::vector<int>(3, c.first)));
        EXPECT_EQ(Entry(r, 1), (std::vector<int>(3, 255 - c.first)));
        EXPECT_EQ(Pixels(r), (std::vector<int>{0, 1}));
    }
}

TEST(GreyRamp, SortedByBrightness)
{
    Buffer s = Chunky(24, 256, 1), r;
    for (int i = 0; i < 256; ++i) memset(s->Data + 3 * i, i, 3);
    // Descending at 8 bits: index 255 - g, entry i = 255 - i.
    for (const char* v : {"DESCENDING", "descending"}) {
        ASSERT_EQ(RunOp<kxpExtractGrayScales>(s.get(), &r, {{"SORTED8BIT", v}}), 0u);
        for (int i = 0; i < 256; ++i) {
            ASSERT_EQ(r->Data[i], 255 - i);
            ASSERT_EQ(Entry(r, i), (std::vector<int>(3, 255 - i)));
        }
    }
    // Descending at 1 bit: up to 127 index 1 (black), from 128 on index 0 (white).
    ASSERT_EQ(RunOp<kxpExtractGrayScales>(s.get(), &r, {{"SORTED8BIT", "Descending"}, {"COLORDEPTH", "1"}}), 0u);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(r->Data[i], i < 128 ? 1 : 0) << i;
    EXPECT_EQ(Entry(r, 0), (std::vector<int>(3, 255)));
    EXPECT_EQ(Entry(r, 1), (std::vector<int>(3, 0)));
    // Ascending (any other value) on a palette picture: the grey entries
    // re-numbered by brightness.
    Buffer p = Chunky(2, 4, 1);
    const uint8_t greys[4] = {200, 10, 130, 70};
    for (int i = 0; i < 4; ++i) memset(p->Palette + 3 * i, greys[i], 3), p->Data[i] = uint8_t(i);
    ASSERT_EQ(RunOp<kxpExtractGrayScales>(p.get(), &r, {{"SORTED8BIT", "yes"}}), 0u);
    EXPECT_EQ(Pixels(r), (std::vector<int>{3, 0, 2, 1}));
    EXPECT_EQ(Entry(r, 1), (std::vector<int>(3, 64)));
    EXPECT_EQ(Entry(r, 255), (std::vector<int>(3, 255)));
}

TEST(GreyRamp, AntiqueTint)
{
    Buffer s = Chunky(24, 2, 1), r;
    memset(s->Data, 255, 3);
    ASSERT_EQ(RunOp<kxpAntique>(s.get(), &r), 0u);
    EXPECT_EQ(Entry(r, 255), (std::vector<int>{255, 170, 113}));
    ASSERT_EQ(RunOp<kxpAntique>(s.get(), &r, {{"COLORDEPTH", "1"}}), 0u);
    EXPECT_EQ(Pixels(r), (std::vector<int>{1, 0}));
    EXPECT_EQ(Entry(r, 1), (std::vector<int>{128, 85, 56}));
    struct Mode {
        const char* word;
        int q, d;
    } modes[] = {{"MODE_2", 3, 4}, {"mode_3", 4, 5}, {"MODE_4", 5, 6}, {"Mode_5", 6, 7}, {"MODE_9", 2, 3}};
    for (const auto& m : modes) {
        ASSERT_EQ(RunOp<kxpAntique>(s.get(), &r, {{"MODE", m.word}}), 0u);
        const int g = 255 * m.q / m.d;
        EXPECT_EQ(Entry(r, 255), (std::vector<int>{255, g, g * m.q / m.d})) << m.word;
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(r.get()), 0u);
    }
    // Palette transparency is carried: the index, or a copy of the table.
    for (uint32_t kind : {uint32_t(KXALPHA_SINGLECOLOR), uint32_t(KXALPHA_MULTICOLOR)}) {
        Buffer p = Chunky(8, 3, 2);
        AddAlpha(p.get(), kind);
        ASSERT_EQ(RunOp<kxpAntique>(p.get(), &r), 0u);
        EXPECT_EQ(KXSUP_AlphaHolds(r.get()), kind);
        if (kind == KXALPHA_SINGLECOLOR) EXPECT_EQ(KXSUP_AlphaIndex(r.get()), 5u);
        else {
            EXPECT_NE(r->AlphaData, p->AlphaData);
            EXPECT_EQ(0, memcmp(r->AlphaData, p->AlphaData, 256));
        }
        Buffer e;
        ASSERT_EQ(RunOp<kxpExtractGrayScales>(p.get(), &e), 0u);
        EXPECT_EQ(KXSUP_AlphaHolds(e.get()), 0u);
    }
}
