// The palette operators: kxpInvertColors256 mirrors the usable palette,
// kxpOptimizePalette drops unused and duplicate entries and lowers the
// depth. Their input table over every kind, then the numeric cases.
#include "input_kinds.h"
#include "operators/colour/kxpInvertColors256.h"
#include "operators/colour/kxpOptimizePalette.h"

using namespace colour_test;
using namespace colour_kinds;

TEST(PaletteOperators, InputTable)
{
    // Columns: InvertColors256, OptimizePalette.
    const Row<2> rows[] = {
        {"pal1", {0, 0}},          {"pal4", {0, 0}},          {"pal8", {0, 0}},          {"pal8 v1", {0, 0}},
        {"planes5", {0, 0}},       {"planes key", {0, 0}},    {"HAM6", {19, 19}},        {"HAM8 planes", {19, 19}},
        {"EHB", {0, 23}},          {"pal8 key", {0, 0}},      {"pal8 table", {0, 0}},    {"pal8 map8", {0, 0}},
        {"pal8 map16", {0, 0}},    {"pal8 key+table", {0, 0}}, {"24", {21, 21}},         {"24 v1", {21, 21}},
        {"24 key", {21, 21}},      {"24 table", {21, 21}},    {"24 map8", {21, 21}},     {"24 map16", {21, 21}},
        {"48 II", {34, 34}},       {"48 MM", {34, 34}},       {"48 v2", {34, 34}},       {"48 MM map8", {34, 34}},
        {"48 MM map16", {34, 34}}, {"48 II map16", {34, 34}}, {"48 MM locked", {34, 34}}, {"48 MM+II", {34, 34}},
        {"type 3", {16, 16}},      {"type 0", {15, 15}},      {"24 planes", {21, 21}},   {"depth 12", {15, 15}},
    };
    ExpectEveryKind(rows, std::size(rows));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.kind);
        Buffer a = Make(row.kind), b = Make(row.kind), ra, rb;
        EXPECT_EQ(RunOp<kxpInvertColors256>(a.get(), &ra), row.codes[0]);
        EXPECT_EQ(RunOp<kxpOptimizePalette>(b.get(), &rb), row.codes[1]);
        for (KX_GfxBuffer* r : {ra.get(), rb.get()}) {
            if (!r) continue;
            EXPECT_EQ(r->Type, uint32_t(ONEPLANE));
            EXPECT_EQ(r->Version >= 3 ? r->AlphaType : 0u, 0u) << "no transparency survives";
        }
    }
}

TEST(PaletteOperators, InvertMirrorsTheEntriesOfTheDepth)
{
    for (uint32_t depth : {1u, 4u, 8u}) {
        SCOPED_TRACE(depth);
        Buffer s = With(Picture(depth, 3), KXALPHA_SINGLECOLOR), r;
        ASSERT_EQ(RunOp<kxpInvertColors256>(s.get(), &r), 0u);
        const uint32_t n = 1u << depth;
        for (uint32_t i = 0; i < 256; ++i) {
            const uint32_t from = i < n ? n - 1 - i : i;
            EXPECT_EQ(0, std::memcmp(r->Palette + 3 * i, s->Palette + 3 * from, 3)) << "entry " << i;
        }
        EXPECT_EQ(0, std::memcmp(r->Data, s->Data, s->Width * s->Height)) << "pixels unchanged";
        EXPECT_EQ(r->Version, 2u) << "the transparent index is dropped";
    }
}

TEST(PaletteOperators, InvertTwiceRestoresBitPlanePictures)
{
    Buffer chunky = Picture(5, 4, 9, 3), planes = ToPlanes(chunky), once, twice;
    ASSERT_EQ(RunOp<kxpInvertColors256>(planes.get(), &once), 0u);
    EXPECT_EQ(once->Type, uint32_t(ONEPLANE));
    ASSERT_EQ(RunOp<kxpInvertColors256>(once.get(), &twice), 0u);
    EXPECT_EQ(0, std::memcmp(twice->Palette, chunky->Palette, sizeof chunky->Palette));
    EXPECT_EQ(0, std::memcmp(twice->Data, chunky->Data, 27));
}

TEST(PaletteOperators, OptimizeKeepsUsedColoursInIndexOrder)
{
    Buffer s = Chunky(8, 4, 1);
    const uint8_t px[] = {200, 7, 7, 200};
    std::memcpy(s->Data, px, 4);
    s->Flags = KXGFXF_GRAY | KXGFXF_SRC8BIT | KXGFXF_SRCLOWDEPTH;
    Buffer r;
    ASSERT_EQ(RunOp<kxpOptimizePalette>(s.get(), &r), 0u);
    EXPECT_EQ(r->ColorDepth, 1u);
    EXPECT_EQ(0, std::memcmp(r->Palette, s->Palette + 3 * 7, 3));
    EXPECT_EQ(0, std::memcmp(r->Palette + 3, s->Palette + 3 * 200, 3));
    for (int i = 6; i < 768; ++i) ASSERT_EQ(r->Palette[i], 0) << "entries after the used ones are black";
    const uint8_t want[] = {1, 0, 0, 1};
    EXPECT_EQ(0, std::memcmp(r->Data, want, 4));
    EXPECT_EQ(KXSUP_GetGfxBufferFlags(r.get()), uint32_t(KXGFXF_GRAY | KXGFXF_SRC8BIT | KXGFXF_SRCLOWDEPTH));
}

TEST(PaletteOperators, OptimizeMergesDuplicatesAndSizesTheDepth)
{
    // Entries 3 and 9 share a colour: both map to 3's place.
    Buffer s = Chunky(8, 3, 1);
    std::memcpy(s->Palette + 3 * 9, s->Palette + 3 * 3, 3);
    const uint8_t px[] = {9, 5, 3};
    std::memcpy(s->Data, px, 3);
    Buffer r;
    ASSERT_EQ(RunOp<kxpOptimizePalette>(s.get(), &r), 0u);
    const uint8_t want[] = {0, 1, 0};
    EXPECT_EQ(0, std::memcmp(r->Data, want, 3));
    EXPECT_EQ(r->ColorDepth, 1u);

    // Distinct colours -> depth: 128 fit 7 bits, 129 need 8.
    for (auto [colours, depth] : {std::pair{1u, 1u}, {2u, 1u}, {3u, 2u}, {16u, 4u}, {17u, 5u}, {128u, 7u}, {129u, 8u}, {256u, 8u}}) {
        SCOPED_TRACE(colours);
        Buffer p = Chunky(8, colours, 2);
        for (uint32_t i = 0; i < colours; ++i) p->Data[i] = p->Data[colours + i] = uint8_t(255 - i);
        Buffer q;
        ASSERT_EQ(RunOp<kxpOptimizePalette>(p.get(), &q), 0u);
        EXPECT_EQ(q->ColorDepth, depth);
        for (uint32_t i = 0; i < 2 * colours; ++i)
            ASSERT_EQ(0, std::memcmp(q->Palette + 3 * q->Data[i], p->Palette + 3 * p->Data[i], 3)) << "pixel " << i;
    }
}
