// Bit planes <-> chunky bytes and the conversion of any buffer to 24 bits.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "core/gfxbuffer.h"
#include "core/memory.h"

namespace {

struct BufferDeleter {
    void operator()(KX_GfxBuffer* b) const { KXSUP_FreeGfxBuffer(b); }
};
using BufferPtr = std::unique_ptr<KX_GfxBuffer, BufferDeleter>;

BufferPtr chunky(uint32_t version, uint32_t width, uint32_t height, uint32_t depth, const std::vector<uint8_t>& data) {
    auto* b = static_cast<KX_GfxBuffer*>(AllocVec(sizeof(KX_GfxBuffer), MEMF_CLEAR));
    b->Version = version;
    b->Type = ONEPLANE;
    b->Width = width;
    b->Height = height;
    b->ColorDepth = depth;
    b->PixelBits = depth == 48 ? 48 : depth == 24 ? 24 : 8;
    b->BufferSize = uint32_t(data.size());
    b->Data = static_cast<uint8_t*>(AllocVec(data.size(), MEMF_ANY));
    memcpy(b->Data, data.data(), data.size());
    for (int i = 0; i < 256; ++i) {
        b->Palette[3 * i] = uint8_t(i);
        b->Palette[3 * i + 1] = uint8_t(255 - i);
        b->Palette[3 * i + 2] = uint8_t(i * 7);
    }
    return BufferPtr(b);
}

BufferPtr convert24(const KX_GfxBuffer* b, uint32_t expectErr = KXERR_NONE) {
    KX_GfxBuffer* out = nullptr;
    EXPECT_EQ(KXSUP_GfxBufferTo24Bit(b, &out), expectErr);
    return BufferPtr(out);
}

std::vector<uint8_t> pixels(const KX_GfxBuffer* b) { return std::vector<uint8_t>(b->Data, b->Data + b->BufferSize); }

std::vector<uint8_t> alpha(const KX_GfxBuffer* b) {
    auto* a = KXSUP_AlphaBytes(b);
    return std::vector<uint8_t>(a, a + b->Width * b->Height);
}

}  // namespace

// Every width 1 to 17 and depth 1 to 8; planes are checked bit by bit
// against the layout, then converted back.
TEST(GfxConvert, PlanesRoundTripAllWidthsAndDepths) {
    std::mt19937 rng(5);
    const uint32_t height = 3;
    for (uint32_t depth = 1; depth <= 8; ++depth) {
        for (uint32_t width = 1; width <= 17; ++width) {
            std::vector<uint8_t> data(width * height);
            for (auto& v : data) v = uint8_t(rng() & ((1u << depth) - 1));
            BufferPtr src = chunky(1, width, height, depth, data);
            KX_GfxBuffer* raw = nullptr;
            ASSERT_EQ(KXSUP_OnePlaneToBitPlane8(src.get(), &raw), KXERR_NONE);
            BufferPtr planes(raw);
            const uint32_t bpl = (width + 7) / 8;
            ASSERT_EQ(planes->Type, BITPLANE);
            ASSERT_EQ(planes->BytesPerLine, bpl);
            ASSERT_EQ(planes->PixelBits, 0u);
            ASSERT_EQ(planes->BufferSize, bpl * height * depth);
            for (uint32_t k = 0; k < depth; ++k)
                for (uint32_t y = 0; y < height; ++y)
                    for (uint32_t x = 0; x < bpl * 8; ++x) {
                        uint8_t byte = planes->Data[bpl * height * k + bpl * y + x / 8];
                        int bit = (byte >> (7 - x % 8)) & 1;
                        int want = x < width ? (data[y * width + x] >> k) & 1 : 0;
                        ASSERT_EQ(bit, want) << "w" << width << " d" << depth << " k" << k << " y" << y << " x" << x;
                    }
            ASSERT_EQ(KXSUP_BitPlaneToOnePlane8(planes.get(), &raw), KXERR_NONE);
            BufferPtr back(raw);
            ASSERT_EQ(back->Type, ONEPLANE);
            ASSERT_EQ(back->PixelBits, 8u);
            ASSERT_EQ(back->BytesPerLine, 0u);
            ASSERT_EQ(pixels(back.get()), data) << "w" << width << " d" << depth;
        }
    }
}

TEST(GfxConvert, PlaneLayoutExamples) {
    // Pixel 8 of a 9-wide row is bit 7 of each plane's second byte.
    auto* raw = static_cast<KX_GfxBuffer*>(AllocVec(sizeof(KX_GfxBuffer), MEMF_CLEAR));
    BufferPtr planes(raw);
    planes->Version = 1;
    planes->Type = BITPLANE;
    planes->Width = 9;
    planes->Height = 1;
    planes->ColorDepth = 2;
    planes->BytesPerLine = 2;
    planes->BufferSize = 4;
    planes->Data = static_cast<uint8_t*>(AllocVec(4, MEMF_ANY));
    memcpy(planes->Data, "\x00\x80\x01\x80", 4);
    KX_GfxBuffer* out = nullptr;
    ASSERT_EQ(KXSUP_BitPlaneToOnePlane8(planes.get(), &out), KXERR_NONE);
    BufferPtr chunk(out);
    EXPECT_EQ(pixels(chunk.get()), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 2, 3}));

    BufferPtr five = chunky(1, 1, 1, 3, {5});
    ASSERT_EQ(KXSUP_OnePlaneToBitPlane8(five.get(), &out), KXERR_NONE);
    BufferPtr p(out);
    EXPECT_EQ(pixels(p.get()), (std::vector<uint8_t>{0x80, 0x00, 0x80}));
}

TEST(GfxConvert, PlaneConversionsRefuseWrongOrShortBuffers) {
    struct Row {
        const char* name;
        uint32_t type, depth, width, height, size;
        bool data;
        uint32_t toChunky, toPlanes;
    } rows[] = {
        {"depth 0", BITPLANE, 0, 8, 1, 8, true, KXERR_FILEREQUIREMENTS, KXERR_FILEREQUIREMENTS},
        {"depth 9", BITPLANE, 9, 8, 1, 16, true, KXERR_FILEREQUIREMENTS, KXERR_FILEREQUIREMENTS},
        {"short data", BITPLANE, 8, 8, 2, 15, true, KXERR_FILEREQUIREMENTS, KXERR_FILEREQUIREMENTS},
        {"no data", BITPLANE, 8, 8, 2, 16, false, KXERR_INTERNALACCESS, KXERR_INTERNALACCESS},
        {"empty", BITPLANE, 1, 0, 5, 0, false, KXERR_FILEREQUIREMENTS, KXERR_FILEREQUIREMENTS},
        {"huge", BITPLANE, 8, 0xFFFFFFFF, 0xFFFF, 16, true, KXERR_FILEREQUIREMENTS, KXERR_FILEREQUIREMENTS},
    };
    for (const Row& r : rows) {
        for (uint32_t type : {BITPLANE, ONEPLANE}) {
            BufferPtr b = chunky(1, r.width, r.height, r.depth, std::vector<uint8_t>(r.size ? r.size : 1));
            b->Type = type;
            b->BufferSize = r.size;
            if (!r.data) {
                FreeVec(b->Data);
                b->Data = nullptr;
            }
            KX_GfxBuffer* out = reinterpret_cast<KX_GfxBuffer*>(1);
            uint32_t want = type == BITPLANE ? r.toChunky : r.toPlanes;
            uint32_t got = type == BITPLANE ? KXSUP_BitPlaneToOnePlane8(b.get(), &out) : KXSUP_OnePlaneToBitPlane8(b.get(), &out);
            EXPECT_EQ(got, want) << r.name << " type " << type;
            EXPECT_EQ(out, nullptr);
            // The other direction refuses the type.
            got = type == BITPLANE ? KXSUP_OnePlaneToBitPlane8(b.get(), &out) : KXSUP_BitPlaneToOnePlane8(b.get(), &out);
            EXPECT_EQ(got, KXERR_FILEREQUIREMENTS) << r.name;
        }
    }
    EXPECT_EQ(KXSUP_BitPlaneToOnePlane8(nullptr, nullptr), KXERR_INTERNALACCESS);
}

TEST(GfxConvert, PlaneConversionsCarryRecordAndAlpha) {
    BufferPtr keyed = chunky(5, 2, 1, 2, {1, 2});
    keyed->ViewMode = 0x1234;
    keyed->AlphaType = KXALPHA_SINGLECOLOR;
    KXSUP_SetAlphaIndex(keyed.get(), 3);
    KX_GfxBuffer* out = nullptr;
    ASSERT_EQ(KXSUP_OnePlaneToBitPlane8(keyed.get(), &out), KXERR_NONE);
    BufferPtr k(out);
    EXPECT_EQ(k->Version, 4u);
    EXPECT_EQ(k->ViewMode, 0x1234u);
    EXPECT_EQ(k->Palette[3 * 2 + 2], 14);
    EXPECT_EQ(KXSUP_AlphaIndex(k.get()), 3u);

    BufferPtr table = chunky(3, 2, 1, 2, {1, 2});
    table->AlphaType = KXALPHA_MULTICOLOR;
    table->AlphaData = AllocVec(256, MEMF_CLEAR);
    KXSUP_AlphaBytes(table.get())[2] = 99;
    ASSERT_EQ(KXSUP_OnePlaneToBitPlane8(table.get(), &out), KXERR_NONE);
    BufferPtr t(out);
    ASSERT_NE(t->AlphaData, table->AlphaData);
    EXPECT_EQ(KXSUP_AlphaBytes(t.get())[2], 99);

    // A palette image's 8-bit map is carried as it is.
    BufferPtr mapped = chunky(3, 2, 1, 2, {1, 2});
    mapped->AlphaType = KXALPHA_CHANNEL8;
    mapped->AlphaData = AllocVec(2, MEMF_ANY);
    memcpy(mapped->AlphaData, "\x10\x20", 2);
    ASSERT_EQ(KXSUP_OnePlaneToBitPlane8(mapped.get(), &out), KXERR_NONE);
    BufferPtr m(out);
    EXPECT_EQ(m->AlphaType, KXALPHA_CHANNEL8);
    EXPECT_EQ(alpha(m.get()), (std::vector<uint8_t>{0x10, 0x20}));

    // A map that is missing is dropped and reported, the result still given.
    FreeVec(m->AlphaData);
    m->AlphaData = nullptr;
    ASSERT_EQ(KXSUP_BitPlaneToOnePlane8(m.get(), &out), KXERR_NEEDALPHA);
    BufferPtr dropped(out);
    ASSERT_NE(dropped, nullptr);
    EXPECT_EQ(dropped->AlphaType, 0u);
    EXPECT_EQ(pixels(dropped.get()), (std::vector<uint8_t>{1, 2}));
}

TEST(GfxConvert, Ham6HeldColourRunsAcrossRows) {
    // Row 0: red, magenta, white from black; row 1 continues from white.
    BufferPtr ham = chunky(1, 3, 2, 6, {0x2F, 0x1F, 0x3F, 0x10, 0x05, 0x38});
    ham->ViewMode = KXVIEWMODE_HAM | 0x4;
    memcpy(ham->Palette + 15, "\x0A\x0B\x0C", 3);  // entry 5
    BufferPtr rgb = convert24(ham.get());
    ASSERT_NE(rgb, nullptr);
    EXPECT_EQ(pixels(rgb.get()), (std::vector<uint8_t>{255, 0, 0, 255, 0, 255, 255, 255, 255,  //
                                                       255, 255, 0, 0x0A, 0x0B, 0x0C, 0x0A, 0x88, 0x0C}));
    EXPECT_EQ(rgb->ViewMode, 0x4u);
    EXPECT_EQ(rgb->Version, 2u);
    EXPECT_EQ(rgb->ColorDepth, 24u);
    EXPECT_EQ(rgb->PixelBits, 24u);
    EXPECT_EQ(rgb->BufferSize, 18u);

    // The same image as bit planes decodes alike.
    KX_GfxBuffer* raw = nullptr;
    ASSERT_EQ(KXSUP_OnePlaneToBitPlane8(ham.get(), &raw), KXERR_NONE);
    BufferPtr planes(raw);
    BufferPtr fromPlanes = convert24(planes.get());
    EXPECT_EQ(pixels(fromPlanes.get()), pixels(rgb.get()));
}

TEST(GfxConvert, Ham8ModifiesSixBits) {
    BufferPtr ham = chunky(2, 4, 1, 8, {0x3F, 0x7F, 0xBF, 0xC1});
    ham->ViewMode = 0;
    ham->NativeDIPF = KXDIPF_HAM;
    memcpy(ham->Palette + 3 * 0x3F, "\x01\x02\x03", 3);
    BufferPtr rgb = convert24(ham.get());
    EXPECT_EQ(pixels(rgb.get()), (std::vector<uint8_t>{1, 2, 3, 1, 2, 0xFC, 0xFC, 2, 0xFC, 0xFC, 4, 0xFC}));
    EXPECT_EQ(rgb->NativeDIPF, 0u);
}

TEST(GfxConvert, ModeBitsAreClearedNotFlipped) {
    struct Row {
        uint32_t version, viewMode, dipf, after;
    } rows[] = {
        {1, KXVIEWMODE_HAM | 0x4, 0, 0x4},
        {1, KXVIEWMODE_EHB, 0, 0},
        {2, 0x4, KXDIPF_HAM, 0x4},  // HAM by its flags only: no bit appears
        {2, 0x4, KXDIPF_EHB, 0x4},
        {2, KXVIEWMODE_NONE, KXDIPF_HAM, KXVIEWMODE_NONE},
        {1, 0x8004, 0, 0x8004},
    };
    for (const Row& r : rows) {
        BufferPtr b = chunky(r.version, 1, 1, 6, {0});
        b->ViewMode = r.viewMode;
        b->NativeDIPF = r.dipf;
        BufferPtr rgb = convert24(b.get());
        ASSERT_NE(rgb, nullptr);
        EXPECT_EQ(rgb->ViewMode, r.after) << std::hex << r.viewMode << " " << r.dipf;
    }
}

TEST(GfxConvert, EhbAndPaletteLookUpThePalette) {
    BufferPtr ehb = chunky(3, 2, 1, 6, {33, 1});
    ehb->ViewMode = KXVIEWMODE_EHB;
    ehb->AlphaType = KXALPHA_SINGLECOLOR;  // no map for EHB images
    BufferPtr rgb = convert24(ehb.get());
    EXPECT_EQ(pixels(rgb.get()), (std::vector<uint8_t>{33, 222, 231, 1, 254, 7}));
    EXPECT_EQ(rgb->Version, 2u);
    EXPECT_EQ(rgb->AlphaType, 0u);
}

TEST(GfxConvert, SixteenBitSamplesGiveTheirHighByte) {
    // One pixel R 0x1234, G 0xABCD, B 0x00FF in each byte order.
    struct Row {
        const char* name;
        uint32_t version, flags;
        std::vector<uint8_t> bytes;
    } rows[] = {
        {"big", 4, KXGFXF_MM, {0x12, 0x34, 0xAB, 0xCD, 0x00, 0xFF}},
        {"little marked", 4, KXGFXF_II, {0x34, 0x12, 0xCD, 0xAB, 0xFF, 0x00}},
        {"unmarked", 4, 0, {0x34, 0x12, 0xCD, 0xAB, 0xFF, 0x00}},
        {"old version", 2, KXGFXF_MM, {0x34, 0x12, 0xCD, 0xAB, 0xFF, 0x00}},
    };
    for (const Row& r : rows) {
        BufferPtr b = chunky(r.version, 1, 1, 48, r.bytes);
        b->Flags = r.flags;
        BufferPtr rgb = convert24(b.get());
        ASSERT_NE(rgb, nullptr) << r.name;
        EXPECT_EQ(pixels(rgb.get()), (std::vector<uint8_t>{0x12, 0xAB, 0x00})) << r.name;
        EXPECT_EQ(rgb->Flags, 0u);
    }
}

TEST(GfxConvert, AlphaOf24BitResults) {
    const std::vector<uint8_t> indices = {3, 1, 3, 2};
    const std::vector<uint8_t> rgb24(12, 9), rgb48(24, 9);
    struct Row {
        const char* name;
        uint32_t depth, kind;
        std::vector<uint8_t> expected;  // empty: no map
    } rows[] = {
        {"palette key", 8, KXALPHA_SINGLECOLOR, {0, 255, 0, 255}},
        {"palette table", 8, KXALPHA_MULTICOLOR, {30, 10, 30, 20}},
        {"palette map", 8, KXALPHA_CHANNEL8, {255, 255, 255, 255}},
        {"palette 16-bit map", 8, KXALPHA_CHANNEL16, {}},
        {"24 map", 24, KXALPHA_CHANNEL8, {5, 6, 7, 8}},
        {"24 key", 24, KXALPHA_SINGLECOLOR, {255, 255, 255, 255}},
        {"48 table", 48, KXALPHA_MULTICOLOR, {255, 255, 255, 255}},
        {"48 map", 48, KXALPHA_CHANNEL8, {5, 6, 7, 8}},
        {"48 16-bit map", 48, KXALPHA_CHANNEL16, {}},
        // Several kinds: the index bit wins, then a map, then the table.
        {"palette key and map", 8, KXALPHA_SINGLECOLOR | KXALPHA_CHANNEL8, {0, 255, 0, 255}},
        {"palette key and 16-bit map", 8, KXALPHA_SINGLECOLOR | KXALPHA_CHANNEL16, {0, 255, 0, 255}},
        {"palette key and table", 8, KXALPHA_SINGLECOLOR | KXALPHA_MULTICOLOR, {0, 255, 0, 255}},
        {"palette map and table", 8, KXALPHA_CHANNEL8 | KXALPHA_MULTICOLOR, {255, 255, 255, 255}},
        {"24 key and map", 24, KXALPHA_SINGLECOLOR | KXALPHA_CHANNEL8, {255, 255, 255, 255}},
        {"24 map and table", 24, KXALPHA_CHANNEL8 | KXALPHA_MULTICOLOR, {5, 6, 7, 8}},
    };
    for (const Row& r : rows) {
        BufferPtr b = chunky(3, 2, 2, r.depth, r.depth == 8 ? indices : r.depth == 24 ? rgb24 : rgb48);
        b->AlphaType = r.kind;
        if (KXSUP_AlphaHolds(b.get()) == KXALPHA_SINGLECOLOR) {
            KXSUP_SetAlphaIndex(b.get(), 3);
        } else if (KXSUP_AlphaHolds(b.get()) == KXALPHA_MULTICOLOR) {
            b->AlphaData = AllocVec(256, MEMF_CLEAR);
            memcpy(KXSUP_AlphaBytes(b.get()) + 1, "\x0A\x14\x1E", 3);
        } else {
            b->AlphaData = AllocVec(8, MEMF_ANY);
            memcpy(b->AlphaData, "\x05\x06\x07\x08\x00\x00\x00\x00", 8);
        }
        BufferPtr out = convert24(b.get());
        ASSERT_NE(out, nullptr) << r.name;
        if (r.expected.empty()) {
            EXPECT_EQ(out->Version, 2u) << r.name;
            EXPECT_EQ(out->AlphaType, 0u) << r.name;
            EXPECT_EQ(out->AlphaData, nullptr) << r.name;
        } else {
            EXPECT_EQ(out->Version, 3u) << r.name;
            EXPECT_EQ(out->AlphaType, KXALPHA_CHANNEL8) << r.name;
            EXPECT_EQ(alpha(out.get()), r.expected) << r.name;
        }
    }
}

TEST(GfxConvert, To24BitRefusesWhatItCannotRead) {
    struct Row {
        const char* name;
        uint32_t type, depth, size;
        bool data;
        uint32_t err;
    } rows[] = {
        {"type 3", NOPLANE, 8, 4, true, KXERR_NOTSUPPORTED},
        {"type 0", 0, 8, 4, true, KXERR_FILEREQUIREMENTS},
        {"depth 16", ONEPLANE, 16, 4, true, KXERR_FILEREQUIREMENTS},
        {"depth 0", ONEPLANE, 0, 4, true, KXERR_FILEREQUIREMENTS},
        {"short 8", ONEPLANE, 8, 3, true, KXERR_FILEREQUIREMENTS},
        {"short 24", ONEPLANE, 24, 11, true, KXERR_FILEREQUIREMENTS},
        {"short 48", ONEPLANE, 48, 23, true, KXERR_FILEREQUIREMENTS},
        {"no data", ONEPLANE, 24, 12, false, KXERR_INTERNALACCESS},
        {"24 bit planes", BITPLANE, 24, 12, true, KXERR_FILEREQUIREMENTS},
        {"short planes", BITPLANE, 2, 3, true, KXERR_FILEREQUIREMENTS},
    };
    for (const Row& r : rows) {
        BufferPtr b = chunky(1, 2, 2, r.depth, std::vector<uint8_t>(24));
        b->Type = r.type;
        b->BufferSize = r.size;
        if (!r.data) {
            FreeVec(b->Data);
            b->Data = nullptr;
        }
        BufferPtr out = convert24(b.get(), r.err);
        EXPECT_EQ(out, nullptr) << r.name;
    }
    EXPECT_EQ(KXSUP_GfxBufferTo24Bit(nullptr, nullptr), KXERR_INTERNALACCESS);
}
