// The depth conversions and the input table of the colour operators: every
// input family against kxpAnyTo24Bit, kxpAnyTo48Bit and kxpDither24Bit, then
// the conversions' numeric cases (48 to 24 narrowing, 24 to 48 widening,
// HAM decoding, alpha maps and their widths, byte order and locking).
#include <functional>

#include "colour_fixtures.h"
#include "operators/colour/kxpAnyTo24Bit.h"
#include "operators/colour/kxpAnyTo48Bit.h"
#include "operators/colour/kxpDither24Bit.h"

using namespace colour_test;

namespace {

struct InputCase {
    const char* name;
    std::function<Buffer()> make;
    uint32_t code24, code48, codeDither;
    uint32_t alpha24, alpha48;  // result alpha kinds of the conversions
};

Buffer WithAlpha(Buffer b, uint32_t kind)
{
    AddAlpha(b.get(), kind);
    return b;
}
Buffer Ham(uint32_t depth, uint32_t kind = 0)
{
    Buffer b = Chunky(depth, 4, 3);
    b->ViewMode = KXVIEWMODE_HAM;
    if (kind) AddAlpha(b.get(), kind);
    return b;
}
Buffer Ehb()
{
    Buffer b = Chunky(6, 4, 3, 2);
    b->NativeDIPF = KXDIPF_EHB;
    return b;
}
Buffer Rgb48(bool big)
{
    Buffer b = Chunky(48, 4, 3);
    KXSUP_SetGfxBufferEndianess(b.get(), big ? KXGFXF_MM : KXGFXF_II);
    return b;
}
Buffer Odd(uint32_t type, uint32_t depth)
{
    Buffer b = Chunky(depth, 4, 3);
    b->Type = type;
    return b;
}

}  // namespace

TEST(ColourInputTable, EveryFamilyAgainstEveryOperator)
{
    const uint32_t A8 = KXALPHA_CHANNEL8, A16 = KXALPHA_CHANNEL16;
    const InputCase cases[] = {
        {"palette 1 bit", [] { return Chunky(1, 4, 3); }, 0, 0, 20, 0, 0},
        {"palette 4 bit", [] { return Chunky(4, 4, 3); }, 0, 0, 20, 0, 0},
        {"palette 8 bit", [] { return Chunky(8, 4, 3); }, 0, 0, 20, 0, 0},
        {"bit planes 5", [] { return ToPlanes(Chunky(5, 9, 3)); }, 0, 0, 20, 0, 0},
        {"bit planes with key", [] { return ToPlanes(WithAlpha(Chunky(3, 9, 3), KXALPHA_SINGLECOLOR)); }, 0, 0, 20, A8, A16},
        {"HAM6", [] { return Ham(6); }, 0, 0, 20, 0, 0},
        {"HAM8", [] { return Ham(8); }, 0, 0, 20, 0, 0},
        {"HAM8 with alpha", [] { return Ham(8, KXALPHA_MULTICOLOR); }, 0, 0, 20, 0, 0},
        {"HAM4", [] { return Ham(4); }, 0, 0, 20, 0, 0},
        {"EHB", [] { return Ehb(); }, 0, 0, 20, 0, 0},
        {"palette key", [] { return WithAlpha(Chunky(8, 4, 3), KXALPHA_SINGLECOLOR); }, 0, 0, 20, A8, A16},
        {"palette map 8", [] { return WithAlpha(Chunky(8, 4, 3), KXALPHA_CHANNEL8); }, 0, 0, 20, A8, A8},
        {"palette table", [] { return WithAlpha(Chunky(8, 4, 3), KXALPHA_MULTICOLOR); }, 0, 0, 20, A8, A16},
        {"palette map 16", [] { return WithAlpha(Chunky(8, 4, 3), KXALPHA_CHANNEL16); }, 0, 0, 20, A8, A16},
        {"palette version 2 key", [] { Buffer b = WithAlpha(Chunky(8, 4, 3), KXALPHA_SINGLECOLOR); b->Version = 2; return b; }, 0, 0, 20, 0, 0},
        {"24 bit", [] { return Chunky(24, 4, 3); }, 0, 0, 0, 0, 0},
        {"24 bit key", [] { return WithAlpha(Chunky(24, 4, 3), KXALPHA_SINGLECOLOR); }, 0, 0, 0, A8, A16},
        {"24 bit map 8", [] { return WithAlpha(Chunky(24, 4, 3), KXALPHA_CHANNEL8); }, 0, 0, 0, A8, A8},
        {"24 bit table", [] { return WithAlpha(Chunky(24, 4, 3), KXALPHA_MULTICOLOR); }, 0, 0, 0, A8, A16},
        {"24 bit map 16", [] { return WithAlpha(Chunky(24, 4, 3), KXALPHA_CHANNEL16); }, 0, 0, 0, A8, A16},
        {"48 bit little-endian", [] { return Rgb48(false); }, 0, 0, 20, 0, 0},
        {"48 bit big-endian", [] { return Rgb48(true); }, 0, 0, 20, 0, 0},
        {"48 bit unmarked", [] { return Chunky(48, 4, 3, 2); }, 0, 0, 20, 0, 0},
        {"48 bit map 8", [] { return WithAlpha(Rgb48(true), KXALPHA_CHANNEL8); }, 0, 0, 20, A8, A8},
        {"48 bit map 16", [] { return WithAlpha(Rgb48(true), KXALPHA_CHANNEL16); }, 0, 0, 20, A8, A16},
        {"48 bit key", [] { return WithAlpha(Rgb48(false), KXALPHA_SINGLECOLOR); }, 0, 0, 20, A8, A16},
        {"type 3", [] { return Odd(3, 8); }, 16, 16, 20, 0, 0},
        {"type 3, 24 bit", [] { return Odd(3, 24); }, 16, 16, 15, 0, 0},
        {"type 0", [] { return Odd(0, 8); }, 15, 15, 20, 0, 0},
        {"bit planes 24 bit", [] { return Odd(BITPLANE, 24); }, 15, 15, 15, 0, 0},
        {"depth 12", [] { return Odd(ONEPLANE, 12); }, 15, 15, 20, 0, 0},
        {"depth 0 reads as bytes", [] { return Odd(ONEPLANE, 0); }, 0, 0, 20, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Buffer s24 = c.make(), s48 = c.make(), sd = c.make();
        Buffer r24, r48, rd;
        EXPECT_EQ(RunOp<kxpAnyTo24Bit>(s24.get(), &r24), c.code24);
        EXPECT_EQ(RunOp<kxpAnyTo48Bit>(s48.get(), &r48), c.code48);
        EXPECT_EQ(RunOp<kxpDither24Bit>(sd.get(), &rd), c.codeDither);
        if (r24) {
            EXPECT_EQ(r24->ColorDepth, 24u);
            EXPECT_EQ(r24->PixelBits, 24u);
            EXPECT_EQ(r24->Type, uint32_t(ONEPLANE));
            EXPECT_EQ(r24->BufferSize, r24->Width * r24->Height * 3);
            EXPECT_EQ(r24->NativeDIPF, 0u);
            EXPECT_EQ(r24->Version >= 3 ? r24->AlphaType : 0u, c.alpha24);
            if (c.alpha24) { EXPECT_NE(r24->AlphaData, nullptr); }
        }
        if (r48) {
            EXPECT_EQ(r48->ColorDepth, 48u);
            EXPECT_EQ(r48->Version, 4u);
            EXPECT_EQ(r48->BufferSize, r48->Width * r48->Height * 6);
            EXPECT_EQ(r48->AlphaType, c.alpha48);
            if (c.alpha48) { EXPECT_NE(r48->AlphaData, nullptr); }
        }
        if (rd) {
            EXPECT_EQ(rd->ColorDepth, 8u);
            EXPECT_EQ(rd->PixelBits, 8u);
            EXPECT_EQ(rd->Version, 2u);
        }
    }
}

TEST(ColourInputTable, NullArgumentsLeaveTheResultPointer)
{
    Buffer s = Chunky(24, 2, 2);
    KXClass lib;
    kxpAnyTo24Bit a(&lib);
    kxpAnyTo48Bit b(&lib);
    kxpDither24Bit d(&lib);
    for (KXOperator* op : {static_cast<KXOperator*>(&a), static_cast<KXOperator*>(&b), static_cast<KXOperator*>(&d)}) {
        KX_GfxBuffer* marker = s.get();
        EXPECT_EQ(op->OperateTagList(nullptr, &marker, nullptr), uint32_t(KXERR_INTERNALACCESS));
        EXPECT_EQ(marker, s.get());
        EXPECT_EQ(op->OperateTagList(s.get(), nullptr, nullptr), uint32_t(KXERR_INTERNALACCESS));
    }
}

TEST(AnyTo24Bit, NarrowsFortyEightBitSamples)
{
    struct Case {
        const char* precise;
        bool big;
        std::vector<uint8_t> want;
    } cases[] = {
        {nullptr, false, {18, 0, 255, 254}}, {"OFF", false, {18, 0, 255, 255}}, {"off", true, {18, 0, 255, 255}},
        {"ON", true, {18, 0, 255, 254}},     {"maybe", false, {18, 0, 255, 254}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.precise ? c.precise : "(default)");
        Buffer s = Chunky(48, 2, 1);
        KXSUP_SetGfxBufferEndianess(s.get(), c.big ? KXGFXF_MM : KXGFXF_II);
        const uint16_t v[6] = {0x1234, 0x00FF, 0xFFFF, 0xFF00, 0, 0};
        for (int i = 0; i < 6; ++i) Put16(s.get(), i, v[i], c.big);
        Buffer r;
        std::vector<std::pair<const char*, const char*>> keys;
        if (c.precise) keys.push_back({"PRECISE", c.precise});
        ASSERT_EQ(RunOp<kxpAnyTo24Bit>(s.get(), &r, keys), 0u);
        EXPECT_EQ(std::vector<uint8_t>(r->Data, r->Data + 4), c.want);
        // The source is left big-endian and marked so, its values unchanged.
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(s.get()) & (KXGFXF_MM | KXGFXF_II), uint32_t(KXGFXF_MM));
        for (int i = 0; i < 6; ++i) EXPECT_EQ(Get16(s->Data, i, true), v[i]);
    }
}

TEST(AnyTo24Bit, UnmarkedFortyEightBitSourceIsMarkedWithItsNewOrder)
{
    Buffer s = Chunky(48, 1, 1, 3);
    Put16(s.get(), 0, 0x1234, false);
    Buffer r;
    ASSERT_EQ(RunOp<kxpAnyTo24Bit>(s.get(), &r), 0u);
    EXPECT_EQ(r->Data[0], 0x1234 / 257);
    // Swapped in place: without the mark a later reader would take it as host order.
    EXPECT_EQ(KXSUP_GetGfxBufferEndianess(s.get()), uint32_t(KXENDIAN_BIG));
    EXPECT_EQ(Get16(s->Data, 0, true), 0x1234);
}

TEST(AnyTo24Bit, LockedSamplesAreConvertedOnlyWhenAlreadyBigEndian)
{
    struct Case {
        const char* name;
        uint32_t order;
        uint32_t code24;
    } cases[] = {
        {"little-endian", KXGFXF_II, 35},
        {"unmarked", 0, 35},
        {"big-endian", KXGFXF_MM, 0},
        {"both marks", KXGFXF_MM | KXGFXF_II, 35},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Buffer s = Chunky(48, 2, 2);
        KXSUP_SetGfxBufferFlags(s.get(), c.order | KXGFXF_LOCKED, 1);
        EXPECT_EQ(RunOp<kxpAnyTo24Bit>(s.get(), nullptr), c.code24);
        EXPECT_EQ(RunOp<kxpAnyTo48Bit>(s.get(), nullptr), 0u);
    }
    Buffer s = Chunky(48, 2, 2);
    KXSUP_SetGfxBufferFlags(s.get(), KXGFXF_MM | KXGFXF_II, 1);
    EXPECT_EQ(RunOp<kxpAnyTo24Bit>(s.get(), nullptr), uint32_t(KXERR_ENDIANCONFLICT));
}

TEST(AnyTo48Bit, WidensEveryEightBitValue)
{
    Buffer s = Chunky(24, 1, 1);
    s->Data[0] = 1, s->Data[1] = 128, s->Data[2] = 255;
    KXSUP_SetGfxBufferFlags(s.get(), KXGFXF_GRAY | KXGFXF_SRC8BIT | KXGFXF_LOCKED, 1);
    Buffer r;
    ASSERT_EQ(RunOp<kxpAnyTo48Bit>(s.get(), &r), 0u);
    for (bool big : {false, true}) EXPECT_EQ((std::vector<int>{Get16(r->Data, 0, big), Get16(r->Data, 1, big), Get16(r->Data, 2, big)}), (std::vector<int>{257, 32896, 65535}));
    EXPECT_EQ(r->Flags, uint32_t(KXGFXF_GRAY | KXGFXF_SRC8BIT));
}

TEST(AnyTo48Bit, FortyEightBitSourceKeepsItsOrder)
{
    for (bool big : {false, true}) {
        Buffer s = Rgb48(big);
        for (int i = 0; i < 36; ++i) Put16(s.get(), i, uint16_t(i * 1000 + 1), big);
        KXSUP_AddGfxBufferFlags(s.get(), KXGFXF_SRCLOWDEPTH, 1);
        Buffer r;
        ASSERT_EQ(RunOp<kxpAnyTo48Bit>(s.get(), &r), 0u);
        EXPECT_EQ(0, memcmp(r->Data, s->Data, 72));
        EXPECT_EQ(r->Flags, (big ? uint32_t(KXGFXF_MM) : uint32_t(KXGFXF_II)) | KXGFXF_SRCLOWDEPTH);
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(s.get()) & (KXGFXF_MM | KXGFXF_II), big ? uint32_t(KXGFXF_MM) : uint32_t(KXGFXF_II));
    }
}

TEST(DepthConversion, HamDecoding)
{
    struct Case {
        const char* name;
        uint32_t depth, w, h;
        std::vector<uint8_t> px, want;
    } cases[] = {
        {"HAM6", 6, 4, 1, {0x00, 0x2F, 0x35, 0x1A}, {0, 0, 0, 255, 0, 0, 255, 85, 0, 255, 85, 170}},
        {"HAM8", 8, 2, 1, {0x80 | 0x3F, 0xC0 | 0x01}, {252, 0, 0, 252, 4, 0}},
        // The held colour runs on into the next row.
        {"HAM6 rows", 6, 2, 2, {0x00, 0x2F, 0x35, 0x1A}, {0, 0, 0, 255, 0, 0, 255, 85, 0, 255, 85, 170}},
        // Set from palette entry 3 = (3, 252, 21), then modify blue.
        {"HAM6 palette", 6, 2, 1, {0x03, 0x11}, {3, 252, 21, 3, 252, 17}},
        // No decoding for other depths: black.
        {"HAM5", 5, 2, 1, {0x03, 0x11}, {0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Buffer s = Chunky(c.depth, c.w, c.h, 2);
        s->Palette[0] = s->Palette[1] = s->Palette[2] = 0;
        s->NativeDIPF = KXDIPF_HAM;
        s->ViewMode = KXVIEWMODE_HAM | 0x4;
        memcpy(s->Data, c.px.data(), c.px.size());
        Buffer r24, r48;
        ASSERT_EQ(RunOp<kxpAnyTo24Bit>(s.get(), &r24), 0u);
        ASSERT_EQ(RunOp<kxpAnyTo48Bit>(s.get(), &r48), 0u);
        EXPECT_EQ(std::vector<uint8_t>(r24->Data, r24->Data + c.want.size()), c.want);
        for (size_t i = 0; i < c.want.size(); ++i) EXPECT_EQ(Get16(r48->Data, i, false), c.want[i] * 257) << i;
        for (const Buffer* r : {&r24, &r48}) {
            EXPECT_EQ((*r)->ViewMode, 0x4u);
            EXPECT_EQ((*r)->NativeDIPF, 0u);
        }
    }
}

TEST(DepthConversion, HamAndEhbDropTheirAlphaAndModeBit)
{
    Buffer s = Chunky(6, 2, 2, 3);
    s->ViewMode = KXVIEWMODE_EHB;
    AddAlpha(s.get(), KXALPHA_MULTICOLOR);
    s->Data[0] = 40;  // EHB indices take the palette as it is
    Buffer r;
    ASSERT_EQ(RunOp<kxpAnyTo24Bit>(s.get(), &r), 0u);
    EXPECT_EQ(r->Version, 2u);
    EXPECT_EQ(r->ViewMode, 0u);
    EXPECT_EQ((std::vector<int>{r->Data[0], r->Data[1], r->Data[2]}), (std::vector<int>{40, 215, 280 & 255}));
}

TEST(DepthConversion, PaletteAlphaMaps)
{
    Buffer s = Chunky(4, 3, 2);
    const uint8_t px[6] = {5, 0, 5, 15, 5, 1};
    memcpy(s->Data, px, 6);
    AddAlpha(s.get(), KXALPHA_SINGLECOLOR);
    KXSUP_SetAlphaIndex(s.get(), 0x105);  // only the low byte names the index
    Buffer r24, r48;
    ASSERT_EQ(RunOp<kxpAnyTo24Bit>(s.get(), &r24), 0u);
    ASSERT_EQ(RunOp<kxpAnyTo48Bit>(s.get(), &r48), 0u);
    const uint8_t* a = KXSUP_AlphaBytes(r24.get());
    EXPECT_EQ(std::vector<uint8_t>(a, a + 6), (std::vector<uint8_t>{0, 255, 0, 255, 0, 255}));
    // The 48-bit result holds the same values times 257 in a 16-bit map.
    EXPECT_EQ(r48->AlphaType, uint32_t(KXALPHA_CHANNEL16));
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Get16(KXSUP_AlphaBytes(r48.get()), i, false), a[i] * 257);

    Buffer t = Chunky(8, 3, 1);
    const uint8_t tp[3] = {0, 100, 255};
    memcpy(t->Data, tp, 3);
    AddAlpha(t.get(), KXALPHA_MULTICOLOR);
    ASSERT_EQ(RunOp<kxpAnyTo24Bit>(t.get(), &r24), 0u);
    ASSERT_EQ(RunOp<kxpAnyTo48Bit>(t.get(), &r48), 0u);
    a = KXSUP_AlphaBytes(r24.get());
    EXPECT_EQ(std::vector<uint8_t>(a, a + 3), (std::vector<uint8_t>{255, 155, 0}));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Get16(KXSUP_AlphaBytes(r48.get()), i, true), a[i] * 257);

    // A palette picture's own maps carry no per-index meaning: opaque.
    for (uint32_t kind : {uint32_t(KXALPHA_CHANNEL8), uint32_t(KXALPHA_CHANNEL16)}) {
        Buffer m = Chunky(8, 3, 1);
        AddAlpha(m.get(), kind);
        ASSERT_EQ(RunOp<kxpAnyTo24Bit>(m.get(), &r24), 0u);
        ASSERT_EQ(RunOp<kxpAnyTo48Bit>(m.get(), &r48, {{"CONVERTALPHA", "on"}}), 0u);
        a = KXSUP_AlphaBytes(r24.get());
        EXPECT_EQ(std::vector<uint8_t>(a, a + 3), std::vector<uint8_t>(3, 255));
        EXPECT_EQ(r48->AlphaType, uint32_t(KXALPHA_CHANNEL16));
        EXPECT_EQ(std::vector<uint8_t>(KXSUP_AlphaBytes(r48.get()), KXSUP_AlphaBytes(r48.get()) + 6), std::vector<uint8_t>(6, 255));
        EXPECT_EQ(r48->Flags & KXGFXF_ALPHASRC8BIT, 0u);
    }
}

TEST(DepthConversion, TrueColourAlphaMaps)
{
    struct Case {
        const char* name;
        uint32_t depth, kind;
        bool big;
        std::vector<std::pair<const char*, const char*>> keys;
        bool to48;
        uint32_t wantKind;
        std::vector<uint8_t> wantFirstBytes;  // of the result map
        bool srcBit;
    } cases[] = {
        {"24 map 8 to 24", 24, KXALPHA_CHANNEL8, false, {}, false, KXALPHA_CHANNEL8, {200, 200}, false},
        {"24 map 16 to 24 precise", 24, KXALPHA_CHANNEL16, false, {}, false, KXALPHA_CHANNEL8, {0x1234 / 257, 0x1234 / 257}, false},
        {"24 map 16 to 24 high byte", 24, KXALPHA_CHANNEL16, false, {{"PRECISE", "Off"}}, false, KXALPHA_CHANNEL8, {0x12, 0x12}, false},
        {"48 map 16 BE to 24 high byte", 48, KXALPHA_CHANNEL16, true, {{"PRECISE", "OFF"}}, false, KXALPHA_CHANNEL8, {0x12, 0x12}, false},
        {"48 map 16 LE to 24", 48, KXALPHA_CHANNEL16, false, {}, false, KXALPHA_CHANNEL8, {0x1234 / 257, 0x1234 / 257}, false},
        {"24 key to 24 is opaque", 24, KXALPHA_SINGLECOLOR, false, {}, false, KXALPHA_CHANNEL8, {255, 255}, false},
        {"24 table to 24 is opaque", 24, KXALPHA_MULTICOLOR, false, {}, false, KXALPHA_CHANNEL8, {255, 255}, false},
        {"24 map 8 to 48 keeps 8", 24, KXALPHA_CHANNEL8, false, {{"CONVERTALPHA", "yes"}}, true, KXALPHA_CHANNEL8, {200, 200}, false},
        {"24 map 8 to 48 widened", 24, KXALPHA_CHANNEL8, false, {{"CONVERTALPHA", "oN"}}, true, KXALPHA_CHANNEL16, {200, 200, 200, 200}, true},
        {"48 map 16 BE to 48 as stored", 48, KXALPHA_CHANNEL16, true, {}, true, KXALPHA_CHANNEL16, {0x12, 0x34}, false},
        {"48 map 16 LE to 48 as stored", 48, KXALPHA_CHANNEL16, false, {}, true, KXALPHA_CHANNEL16, {0x34, 0x12}, false},
        {"24 key to 48 is opaque", 24, KXALPHA_SINGLECOLOR, false, {}, true, KXALPHA_CHANNEL16, {255, 255, 255, 255}, false},
        {"48 table to 48 is opaque", 48, KXALPHA_MULTICOLOR, false, {}, true, KXALPHA_CHANNEL16, {255, 255, 255, 255}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Buffer s = Chunky(c.depth, 2, 1);
        if (c.depth == 48 || c.big) KXSUP_SetGfxBufferEndianess(s.get(), c.big ? KXGFXF_MM : KXGFXF_II);
        AddAlpha(s.get(), c.kind);
        Buffer r;
        ASSERT_EQ(c.to48 ? RunOp<kxpAnyTo48Bit>(s.get(), &r, c.keys) : RunOp<kxpAnyTo24Bit>(s.get(), &r, c.keys), 0u);
        EXPECT_EQ(r->AlphaType, c.wantKind);
        const uint8_t* a = KXSUP_AlphaBytes(r.get());
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(std::vector<uint8_t>(a, a + c.wantFirstBytes.size()), c.wantFirstBytes);
        EXPECT_EQ((KXSUP_GetGfxBufferFlags(r.get()) & KXGFXF_ALPHASRC8BIT) != 0, c.srcBit);
    }
}

TEST(DepthConversion, BitPlanesAndProgress)
{
    Buffer chunky = Chunky(3, 20, 17);
    for (uint32_t i = 0; i < 20 * 17; ++i) chunky->Data[i] = uint8_t(i % 8);
    Buffer planes = ToPlanes(chunky);
    KXClass lib;
    kxpAnyTo24Bit op(&lib);
    std::vector<uint32_t> seen;
    op.SetProgress([](KXProgress* p, uintptr_t user) { reinterpret_cast<std::vector<uint32_t>*>(user)->push_back(p->Percent); },
                   reinterpret_cast<uintptr_t>(&seen));
    KX_GfxBuffer* r = nullptr;
    ASSERT_EQ(op.OperateTagList(planes.get(), &r, nullptr), 0u);
    EXPECT_EQ(seen, (std::vector<uint32_t>{0, 8 * 100 / 17, 16 * 100 / 17}));
    for (uint32_t i = 0; i < 20 * 17; ++i) ASSERT_EQ(r->Data[3 * i + 2], uint8_t(7 * (i % 8))) << i;
    EXPECT_EQ(planes->Type, uint32_t(BITPLANE));  // the source is untouched
    // A second run without detaching frees the first result (the leak
    // checker would see it otherwise).
    ASSERT_EQ(op.OperateTagList(chunky.get(), &r, nullptr), 0u);
}

TEST(DepthConversion, SizesThatDoNotFitAreRefused)
{
    // 40000 x 40000 pixels of 48 bits do not fit a 32-bit buffer size; the
    // record claims a block it does not have, so no row may be read.
    Buffer s = Chunky(8, 4, 3);
    s->Width = 40000;
    s->Height = 40000;
    EXPECT_NE(RunOp<kxpAnyTo48Bit>(s.get(), nullptr), 0u);
    EXPECT_NE(RunOp<kxpAnyTo24Bit>(s.get(), nullptr), 0u);
}
