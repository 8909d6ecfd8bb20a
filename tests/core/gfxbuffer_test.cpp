// Graphics-buffer records: allocation, copy, versions, flags, byte order of
// 48-bit samples and 16-bit alpha, the alpha-map lenders and copiers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/gfxbuffer.h"
#include "core/memory.h"
#include "support/testfiles.h"

namespace {

struct BufferDeleter {
    void operator()(KX_GfxBuffer* b) const { KXSUP_FreeGfxBuffer(b); }
};
using BufferPtr = std::unique_ptr<KX_GfxBuffer, BufferDeleter>;

// A record built the way modules build one: a cleared AllocVec block.
BufferPtr moduleRecord(uint32_t version) {
    auto* b = static_cast<KX_GfxBuffer*>(AllocVec(sizeof(KX_GfxBuffer), MEMF_CLEAR));
    b->Version = version;
    return BufferPtr(b);
}

// A chunky 48-bit buffer whose samples count 0x0102, 0x0304, ... in memory.
BufferPtr rgb48(uint32_t version, uint32_t width, uint32_t height) {
    BufferPtr b = moduleRecord(version);
    b->Type = ONEPLANE;
    b->ColorDepth = 48;
    b->PixelBits = 48;
    b->Width = width;
    b->Height = height;
    b->BufferSize = width * height * 6;
    b->Data = static_cast<uint8_t*>(AllocVec(b->BufferSize, MEMF_CLEAR));
    for (uint32_t i = 0; i < b->BufferSize; ++i) b->Data[i] = uint8_t(i + 1);
    return b;
}

void attachMap8(KX_GfxBuffer* b, std::vector<uint8_t> values) {
    b->AlphaType |= KXALPHA_CHANNEL8;
    b->AlphaData = AllocVec(values.size(), MEMF_ANY);
    memcpy(b->AlphaData, values.data(), values.size());
}

}  // namespace

TEST(GfxBuffer, AllocateChecksVersionAndSize) {
    struct Row {
        uint32_t version, dataSize, err, gotVersion;
    } rows[] = {
        {5, 0, KXERR_NEWERVERSION, 0},
        {0, 0, KXERR_NONE, 1},
        {4, 100, KXERR_NONE, 4},
    };
    for (const Row& r : rows) {
        KX_GfxBuffer* b = reinterpret_cast<KX_GfxBuffer*>(1);
        EXPECT_EQ(KXSUP_AllocGfxBuffer(&b, r.version, r.dataSize, MEMF_CLEAR), r.err) << r.version;
        if (r.err) {
            EXPECT_EQ(b, nullptr);
            continue;
        }
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->Version, r.gotVersion);
        EXPECT_EQ(b->BufferSize, r.dataSize);
        EXPECT_EQ(b->Data == nullptr, r.dataSize == 0);
        if (r.dataSize) {
            EXPECT_EQ(b->Data[r.dataSize - 1], 0);
        }
        KXSUP_FreeGfxBuffer(b);
    }
    EXPECT_EQ(KXSUP_AllocGfxBuffer(nullptr, 1, 0, 0), KXERR_INTERNALACCESS);
}

// The trace names every block freed: a map or table goes with its record
// from version 3 on; a block beside a key index (kind 1, whatever other bits
// are set) or in an older record stays with whoever put it there.
TEST(GfxBuffer, FreeReleasesOwnedAlphaOnlyFromVersion3) {
    struct Row {
        uint32_t version, kind;
        bool owned;
    } rows[] = {
        {3, KXALPHA_CHANNEL8, true},
        {4, KXALPHA_CHANNEL16, true},
        {3, KXALPHA_MULTICOLOR, true},
        {4, KXALPHA_SINGLECOLOR | KXALPHA_CHANNEL8, false},
        {2, KXALPHA_CHANNEL8, false},
    };
    for (const Row& r : rows) {
        KX_GfxBuffer* b = moduleRecord(r.version).release();
        b->AlphaType = r.kind;
        void* alpha = b->AlphaData = AllocVec(256, MEMF_CLEAR);
        char line[48];
        snprintf(line, sizeof(line), "FreeVec         : $%016llx\n", (unsigned long long)(uintptr_t)alpha);
        KXT_TraceLog trace(9);
        KXSUP_FreeGfxBuffer(b);
        EXPECT_EQ(trace.lines().find(line) != std::string::npos, r.owned) << r.version << " " << r.kind;
        if (!r.owned) FreeVec(alpha);
    }
    KXSUP_FreeGfxBuffer(nullptr);
}

TEST(GfxBuffer, CopyTakesFieldsOfSourceVersionAndOwnBlocks) {
    BufferPtr src = rgb48(3, 2, 1);
    src->ViewMode = 0x1234;
    src->Palette[5] = 9;
    src->Flags = 0xDEAD;  // not part of a version-3 record
    attachMap8(src.get(), {10, 20});
    KX_GfxBuffer* raw = nullptr;
    ASSERT_EQ(KXSUP_CopyGfxBuffer(src.get(), &raw, 1, MEMF_ANY), KXERR_NONE);
    BufferPtr copy(raw);
    EXPECT_EQ(copy->Version, 3u);
    EXPECT_EQ(copy->ViewMode, 0x1234u);
    EXPECT_EQ(copy->Palette[5], 9);
    EXPECT_EQ(copy->Flags, 0u);
    EXPECT_NE(copy->Data, src->Data);
    EXPECT_EQ(memcmp(copy->Data, src->Data, src->BufferSize), 0);
    ASSERT_NE(copy->AlphaData, src->AlphaData);
    EXPECT_EQ(KXSUP_AlphaBytes(copy.get())[1], 20);

    BufferPtr v1 = rgb48(1, 1, 1);
    v1->NativeDIPF = KXDIPF_HAM;  // beyond a version-1 record
    ASSERT_EQ(KXSUP_CopyGfxBuffer(v1.get(), &raw, 0, MEMF_CLEAR), KXERR_NONE);
    BufferPtr copy1(raw);
    EXPECT_EQ(copy1->NativeDIPF, 0u);
    EXPECT_EQ(copy1->Data[0], 0);

    BufferPtr broken = moduleRecord(2);
    broken->BufferSize = 16;
    EXPECT_EQ(KXSUP_CopyGfxBuffer(broken.get(), &raw, 1, 0), KXERR_INTERNALACCESS);
    EXPECT_EQ(raw, nullptr);
}

TEST(GfxBuffer, SetVersionClearsFieldsTheOldVersionLacked) {
    struct Row {
        uint32_t from, to, err, stored;
        bool dipfCleared, alphaCleared, flagsCleared;
    } rows[] = {
        {1, 4, KXERR_NONE, 4, true, true, true},
        {2, 3, KXERR_NONE, 3, false, true, false},
        {3, 4, KXERR_NONE, 4, false, false, true},
        {4, 4, KXERR_NONE, 4, false, false, false},
        {2, 0, KXERR_NEWERVERSION, 1, false, false, false},
        {2, 9, KXERR_NEWERVERSION, 4, false, true, true},
    };
    for (const Row& r : rows) {
        BufferPtr b = moduleRecord(r.from);
        b->Width = 7;
        b->NativeDIPF = 8;
        b->AlphaType = KXALPHA_SINGLECOLOR;
        KXSUP_SetAlphaIndex(b.get(), 3);
        b->Flags = KXGFXF_GRAY;
        EXPECT_EQ(KXSUP_SetGfxBufferVersion(b.get(), r.to), r.err) << r.from << "->" << r.to;
        EXPECT_EQ(b->Version, r.stored);
        EXPECT_EQ(b->Width, 7u);
        EXPECT_EQ(b->NativeDIPF == 0, r.dipfCleared) << r.from << "->" << r.to;
        EXPECT_EQ(b->AlphaType == 0, r.alphaCleared) << r.from << "->" << r.to;
        EXPECT_EQ(b->Flags == 0, r.flagsCleared) << r.from << "->" << r.to;
    }
    BufferPtr zero = moduleRecord(0);
    zero->Width = 7;
    EXPECT_EQ(KXSUP_SetGfxBufferVersion(zero.get(), 2), KXERR_NONE);
    EXPECT_EQ(zero->Width, 0u);
    EXPECT_EQ(KXSUP_SetGfxBufferVersion(nullptr, 2), KXERR_INTERNALACCESS);
}

// Lowering below 3 must not strand an owned map (the leak check sees it).
TEST(GfxBuffer, LoweringBelowVersion3ReleasesTheMap) {
    BufferPtr b = rgb48(3, 2, 1);
    attachMap8(b.get(), {1, 2});
    EXPECT_EQ(KXSUP_SetGfxBufferVersion(b.get(), 2), KXERR_NONE);
    EXPECT_EQ(b->AlphaData, nullptr);
}

TEST(GfxBuffer, FlagsNeedVersion4OrTheUpgrade) {
    BufferPtr b = moduleRecord(2);
    b->AlphaType = 5;
    EXPECT_EQ(KXSUP_SetGfxBufferFlags(b.get(), KXGFXF_GRAY, 0), KXERR_NEWERVERSION);
    EXPECT_EQ(b->Version, 2u);
    EXPECT_EQ(KXSUP_GetGfxBufferFlags(b.get()), 0u);
    EXPECT_EQ(KXSUP_AddGfxBufferFlags(b.get(), KXGFXF_GRAY, 0), KXERR_NEWERVERSION);

    EXPECT_EQ(KXSUP_SetGfxBufferFlags(b.get(), KXGFXF_GRAY, 1), KXERR_NONE);
    EXPECT_EQ(b->Version, 4u);
    EXPECT_EQ(b->AlphaType, 0u);
    EXPECT_EQ(KXSUP_AddGfxBufferFlags(b.get(), KXGFXF_SRC8BIT, 0), KXERR_NONE);
    EXPECT_EQ(KXSUP_GetGfxBufferFlags(b.get()), uint32_t(KXGFXF_GRAY | KXGFXF_SRC8BIT));
    EXPECT_EQ(KXSUP_IsGrayBuffer(b.get()), 1);
    EXPECT_EQ(KXSUP_IsSrc8BitBuffer(b.get()), 1);

    BufferPtr old = moduleRecord(3);
    old->Flags = KXGFXF_GRAY;  // not a field of version 3
    EXPECT_EQ(KXSUP_IsGrayBuffer(old.get()), 0);
    EXPECT_EQ(KXSUP_AddGfxBufferFlags(nullptr, 1, 1), KXERR_INTERNALACCESS);
    EXPECT_EQ(KXSUP_GetGfxBufferFlags(nullptr), 0u);
}

TEST(GfxBuffer, SetEndianessMarksWithoutTouchingSamples) {
    BufferPtr b = rgb48(2, 1, 1);
    struct Row {
        uint32_t value, flags, order;
    } rows[] = {
        {1, KXGFXF_MM, KXENDIAN_BIG},
        {2, KXGFXF_II, KXENDIAN_LITTLE},
        {3, KXGFXF_MM, KXENDIAN_BIG},
        {0, 0, KXENDIAN_LITTLE},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(KXSUP_SetGfxBufferEndianess(b.get(), r.value), KXERR_NONE);
        EXPECT_EQ(b->Version, 4u);
        EXPECT_EQ(b->Flags & (KXGFXF_MM | KXGFXF_II), r.flags) << r.value;
        EXPECT_EQ(KXSUP_GetGfxBufferEndianess(b.get()), r.order);
        EXPECT_EQ(b->Data[0], 1);
    }
    b->Flags = KXGFXF_MM | KXGFXF_II;
    KXSUP_SetGfxBufferEndianess(b.get(), 2);
    EXPECT_EQ(b->Flags, uint32_t(KXGFXF_II));
}

TEST(GfxBuffer, ConvertEndianessRulesAndErrors) {
    constexpr uint32_t MM = KXGFXF_MM, II = KXGFXF_II, LK = KXGFXF_LOCKED;
    struct Row {
        const char* name;
        uint32_t version, depth, type, flags, wanted, err;
        bool swapped;
        uint32_t flagsAfter;
    } rows[] = {
        {"big wanted big", 4, 48, ONEPLANE, MM, KXENDIAN_BIG, 0, false, MM},
        {"big wanted little", 4, 48, ONEPLANE, MM, KXENDIAN_LITTLE, 0, true, II},
        {"little wanted little", 4, 48, ONEPLANE, II, KXENDIAN_LITTLE, 0, false, II},
        {"little wanted big", 4, 48, ONEPLANE, II, KXENDIAN_BIG, 0, true, MM},
        {"unmarked wanted little", 4, 48, ONEPLANE, 0, KXENDIAN_LITTLE, 0, false, II},
        {"unmarked wanted big", 4, 48, ONEPLANE, 0, KXENDIAN_BIG, 0, true, MM},
        {"version 3 wanted big", 3, 48, ONEPLANE, MM, KXENDIAN_BIG, 0, true, MM},
        {"version 3 wanted little", 3, 48, ONEPLANE, 0, KXENDIAN_LITTLE, 0, false, 0},
        {"24 bit", 4, 24, ONEPLANE, 0, KXENDIAN_BIG, KXERR_NEED48BIT, false, 0},
        {"24 bit little", 4, 24, ONEPLANE, 0, KXENDIAN_LITTLE, KXERR_NEED48BIT, false, 0},
        {"bit planes", 4, 48, BITPLANE, 0, KXENDIAN_BIG, KXERR_FILEREQUIREMENTS, false, 0},
        {"locked", 4, 48, ONEPLANE, LK, KXENDIAN_BIG, KXERR_ENDIANLOCKED, false, LK},
        {"locked but already big", 4, 48, ONEPLANE, LK | MM, KXENDIAN_BIG, 0, false, LK | MM},
        {"locked but already little", 4, 48, ONEPLANE, LK | II, KXENDIAN_LITTLE, 0, false, LK | II},
        {"both marks to big", 4, 48, ONEPLANE, MM | II, KXENDIAN_BIG, KXERR_ENDIANCONFLICT, false, MM | II},
        {"both marks to little", 4, 48, ONEPLANE, MM | II, KXENDIAN_LITTLE, KXERR_ENDIANCONFLICT, false, MM | II},
    };
    for (const Row& r : rows) {
        BufferPtr b = rgb48(r.version, 2, 1);
        b->ColorDepth = r.depth;
        b->Type = r.type;
        b->Flags = r.flags;
        std::vector<uint16_t> alpha = {0x0102, 0xA0B0};
        if (r.version >= 3) {
            b->AlphaType = KXALPHA_CHANNEL16;
            b->AlphaData = AllocVec(4, MEMF_ANY);
            memcpy(b->AlphaData, alpha.data(), 4);
        }
        EXPECT_EQ(KXSUP_ConvertGfxBufferEndianess(b.get(), r.wanted), r.err) << r.name;
        EXPECT_EQ(b->Data[0], r.swapped ? 2 : 1) << r.name;
        EXPECT_EQ(b->Data[11], r.swapped ? 11 : 12) << r.name;
        EXPECT_EQ(b->Flags, r.flagsAfter) << r.name;
        if (r.version >= 3) {
            auto* a = static_cast<uint16_t*>(b->AlphaData);
            EXPECT_EQ(a[1], r.swapped ? 0xB0A0 : 0xA0B0) << r.name;
        }
    }
    EXPECT_EQ(KXSUP_ConvertGfxBufferEndianess(nullptr, KXENDIAN_BIG), KXERR_INTERNALACCESS);
}

TEST(GfxBuffer, SwappedOlderRecordIsRaisedSoItsMarkSticks) {
    // Swapped but unmarked samples would be read back as little-endian.
    BufferPtr b = rgb48(1, 2, 1);
    EXPECT_EQ(KXSUP_ConvertGfxBufferEndianess(b.get(), KXENDIAN_BIG), KXERR_NONE);
    EXPECT_EQ(b->Version, 4u);
    EXPECT_EQ(KXSUP_GetGfxBufferEndianess(b.get()), uint32_t(KXENDIAN_BIG));
    EXPECT_EQ(b->Data[0], 2);
    // Asking again changes nothing.
    EXPECT_EQ(KXSUP_ConvertGfxBufferEndianess(b.get(), KXENDIAN_BIG), KXERR_NONE);
    EXPECT_EQ(b->Data[0], 2);
}

TEST(GfxBuffer, ConvertEndianessRefusesInconsistentBuffers) {
    BufferPtr small = rgb48(4, 2, 2);
    small->BufferSize = 12;  // holds one row of two
    EXPECT_EQ(KXSUP_ConvertGfxBufferEndianess(small.get(), KXENDIAN_BIG), KXERR_FILEREQUIREMENTS);
    EXPECT_EQ(small->Data[0], 1);

    BufferPtr noData = rgb48(4, 2, 2);
    FreeVec(noData->Data);
    noData->Data = nullptr;
    EXPECT_EQ(KXSUP_ConvertGfxBufferEndianess(noData.get(), KXENDIAN_BIG), KXERR_INTERNALACCESS);
    EXPECT_EQ(noData->Flags, 0u);
}

TEST(GfxBuffer, SampleWidthConversions) {
    struct Row {
        uint16_t value;
        uint8_t truncated, divided;
    } rows[] = {{65535, 255, 255}, {65280, 255, 254}, {0x1234, 0x12, 0x12}, {256, 1, 0}, {0, 0, 0}};
    for (const Row& r : rows) {
        uint8_t out = 0;
        EXPECT_EQ(KXSUP_Convert16To8Bit(&r.value, &out, 1, 1, KXENDIAN_LITTLE, 0), KXERR_NONE);
        EXPECT_EQ(out, r.truncated) << r.value;
        KXSUP_Convert16To8Bit(&r.value, &out, 1, 1, KXENDIAN_LITTLE, 1);
        EXPECT_EQ(out, r.divided) << r.value;
        uint16_t big = EqEndianWORD(r.value, KXENDIAN_LITTLE, KXENDIAN_BIG);
        KXSUP_Convert16To8Bit(&big, &out, 1, 1, KXENDIAN_BIG, 0);
        EXPECT_EQ(out, r.truncated) << r.value;
    }
    // In place: the 8-bit values land in the front of the same block.
    uint16_t block[4] = {0x1100, 0x2200, 0x3300, 0x4400};
    KXSUP_Convert16To8Bit(block, reinterpret_cast<uint8_t*>(block), 2, 2, KXENDIAN_LITTLE, 0);
    EXPECT_EQ(memcmp(block, "\x11\x22\x33\x44", 4), 0);

    const uint8_t bytes[3] = {0, 1, 255};
    uint16_t wide[3];
    EXPECT_EQ(KXSUP_Convert8To16Bit(bytes, wide, 3, 1), KXERR_NONE);
    EXPECT_EQ(wide[1], 257);
    EXPECT_EQ(wide[2], 65535);
    EXPECT_EQ(KXSUP_Convert8To16Bit(nullptr, wide, 1, 1), KXERR_INTERNALACCESS);
    EXPECT_EQ(KXSUP_Convert16To8Bit(wide, nullptr, 1, 1, 1, 0), KXERR_INTERNALACCESS);
}

TEST(GfxBuffer, AlphaMapLendersAndCopiers) {
    // 2x1 RGB buffers: one with an 8-bit map, one with a big-endian 16-bit map.
    BufferPtr with8 = rgb48(4, 2, 1);
    with8->PixelBits = 24;
    attachMap8(with8.get(), {0x12, 0xFF});
    BufferPtr with16 = rgb48(4, 2, 1);
    with16->Flags = KXGFXF_MM;
    with16->AlphaType = KXALPHA_CHANNEL16;
    with16->AlphaData = AllocVec(4, MEMF_ANY);
    memcpy(with16->AlphaData, "\xFF\x00\x12\x34", 4);  // 0xFF00, 0x1234

    uint8_t* map8 = nullptr;
    uint16_t* map16 = nullptr;
    int owned = 7;
    EXPECT_EQ(KXSUP_GetAlphaMap8(with8.get(), &map8, &owned, 0, 0), KXERR_NONE);
    EXPECT_EQ(map8, with8->AlphaData);
    EXPECT_EQ(owned, 0);

    EXPECT_EQ(KXSUP_GetAlphaMap8(with16.get(), &map8, &owned, 0, 0), KXERR_NEEDALPHA);
    EXPECT_EQ(map8, nullptr);
    EXPECT_EQ(KXSUP_GetAlphaMap8(with16.get(), &map8, &owned, 1, 1), KXERR_NONE);
    ASSERT_EQ(owned, 1);
    EXPECT_EQ(map8[0], 254);  // 0xFF00 / 257
    EXPECT_EQ(map8[1], 0x12);
    FreeVec(map8);

    EXPECT_EQ(KXSUP_GetAlphaMap16(with16.get(), &map16, &owned, 0), KXERR_NONE);
    EXPECT_EQ(map16, with16->AlphaData);
    EXPECT_EQ(owned, 0);
    EXPECT_EQ(KXSUP_GetAlphaMap16(with8.get(), &map16, &owned, 0), KXERR_NEEDALPHA);
    EXPECT_EQ(KXSUP_GetAlphaMap16(with8.get(), &map16, &owned, 1), KXERR_NONE);
    ASSERT_EQ(owned, 1);
    EXPECT_EQ(map16[0], 0x1212);
    EXPECT_EQ(map16[1], 0xFFFF);
    FreeVec(map16);

    EXPECT_EQ(KXSUP_CopyAlphaMap16(with8.get(), &map16), KXERR_NONE);
    EXPECT_EQ(map16[0], 0x12 * 257);
    FreeVec(map16);
    EXPECT_EQ(KXSUP_CopyAlphaMap16(with16.get(), &map16), KXERR_NONE);
    EXPECT_EQ(memcmp(map16, with16->AlphaData, 4), 0);
    EXPECT_NE(map16, with16->AlphaData);
    FreeVec(map16);
    EXPECT_EQ(KXSUP_CopyAlphaMap8(with16.get(), &map8, 0), KXERR_NONE);
    EXPECT_EQ(map8[0], 0xFF);
    FreeVec(map8);
    EXPECT_EQ(KXSUP_CopyAlphaMap8(with8.get(), &map8, 0), KXERR_NONE);
    EXPECT_EQ(map8[1], 0xFF);
    FreeVec(map8);
}

TEST(GfxBuffer, AlphaMapsCountOnlyInRgbBuffersOfVersion3) {
    struct Row {
        const char* name;
        uint32_t version, pixelBits;
    } rows[] = {{"version 2", 2, 24}, {"palette", 4, 8}, {"bit planes", 4, 0}};
    for (const Row& r : rows) {
        BufferPtr b = rgb48(3, 2, 1);
        attachMap8(b.get(), {1, 2});
        b->PixelBits = r.pixelBits;
        b->Version = r.version;  // keeps the map owned for the cleanup
        uint8_t* map8 = reinterpret_cast<uint8_t*>(1);
        uint16_t* map16 = nullptr;
        int owned = 0;
        EXPECT_EQ(KXSUP_GetAlphaMap8(b.get(), &map8, &owned, 1, 0), KXERR_NEEDALPHA) << r.name;
        EXPECT_EQ(map8, nullptr);
        EXPECT_EQ(KXSUP_CopyAlphaMap8(b.get(), &map8, 0), KXERR_NEEDALPHA) << r.name;
        EXPECT_EQ(KXSUP_GetAlphaMap16(b.get(), &map16, &owned, 1), KXERR_NEEDALPHA) << r.name;
        EXPECT_EQ(KXSUP_CopyAlphaMap16(b.get(), &map16), KXERR_NEEDALPHA) << r.name;
        b->Version = 3;
    }
    uint8_t* map8 = nullptr;
    EXPECT_EQ(KXSUP_CopyAlphaMap8(nullptr, &map8, 0), KXERR_INTERNALACCESS);
}

// Alpha kinds are bits; what AlphaData holds follows one rule: the index
// bit wins, then a map (16 bits before 8), then the table.
TEST(GfxBuffer, WhatAlphaDataHolds) {
    struct Row {
        uint32_t version, kind, holds;
    } rows[] = {
        {2, KXALPHA_CHANNEL8, KXALPHA_NONE},
        {3, 0, KXALPHA_NONE},
        {3, KXALPHA_SINGLECOLOR, KXALPHA_SINGLECOLOR},
        {3, KXALPHA_SINGLECOLOR | KXALPHA_CHANNEL8, KXALPHA_SINGLECOLOR},
        {4, KXALPHA_SINGLECOLOR | KXALPHA_CHANNEL16, KXALPHA_SINGLECOLOR},
        {3, KXALPHA_SINGLECOLOR | KXALPHA_MULTICOLOR, KXALPHA_SINGLECOLOR},
        {3, KXALPHA_CHANNEL8 | KXALPHA_CHANNEL16, KXALPHA_CHANNEL16},
        {3, KXALPHA_CHANNEL8 | KXALPHA_MULTICOLOR, KXALPHA_CHANNEL8},
        {3, KXALPHA_CHANNEL16 | KXALPHA_MULTICOLOR, KXALPHA_CHANNEL16},
        {3, KXALPHA_MULTICOLOR, KXALPHA_MULTICOLOR},
        {3, 16, KXALPHA_NONE},
    };
    for (const Row& r : rows) {
        KX_GfxBuffer b = {};
        b.Version = r.version;
        b.AlphaType = r.kind;
        EXPECT_EQ(KXSUP_AlphaHolds(&b), r.holds) << r.version << "/" << r.kind;
    }
    EXPECT_EQ(KXSUP_AlphaHolds(nullptr), uint32_t(KXALPHA_NONE));
}

// With the index bit and a map bit both set AlphaData is the index: no
// function reads it as a map, frees it or swaps it, and a copy keeps it.
TEST(GfxBuffer, TheIndexBitWinsOverMapBits) {
    for (uint32_t extra : {uint32_t(KXALPHA_CHANNEL8), uint32_t(KXALPHA_CHANNEL16), uint32_t(KXALPHA_MULTICOLOR)}) {
        for (uint32_t pixelBits : {24u, 48u}) {
            SCOPED_TRACE(std::to_string(extra) + " at " + std::to_string(pixelBits));
            BufferPtr b = rgb48(4, 3, 2);
            b->PixelBits = pixelBits;
            b->ColorDepth = pixelBits;
            b->Flags = KXGFXF_MM;
            b->AlphaType = KXALPHA_SINGLECOLOR | extra;
            KXSUP_SetAlphaIndex(b.get(), 7);
            uint8_t* map8 = nullptr;
            uint16_t* map16 = nullptr;
            int owned = 0;
            EXPECT_EQ(KXSUP_GetAlphaMap8(b.get(), &map8, &owned, 1, 1), KXERR_NEEDALPHA);
            EXPECT_EQ(KXSUP_GetAlphaMap16(b.get(), &map16, &owned, 1), KXERR_NEEDALPHA);
            EXPECT_EQ(KXSUP_CopyAlphaMap8(b.get(), &map8, 1), KXERR_NEEDALPHA);
            EXPECT_EQ(KXSUP_CopyAlphaMap16(b.get(), &map16), KXERR_NEEDALPHA);
            if (pixelBits == 48) {
                EXPECT_EQ(KXSUP_ConvertGfxBufferEndianess(b.get(), KXENDIAN_LITTLE), KXERR_NONE);
            }
            EXPECT_EQ(KXSUP_AlphaIndex(b.get()), 7u);
            KX_GfxBuffer* copy = nullptr;
            ASSERT_EQ(KXSUP_CopyGfxBuffer(b.get(), &copy, 1, MEMF_ANY), KXERR_NONE);
            EXPECT_EQ(copy->AlphaType, KXALPHA_SINGLECOLOR | extra);
            EXPECT_EQ(KXSUP_AlphaIndex(copy), 7u);
            KXSUP_FreeGfxBuffer(copy);
        }
    }
}

// Buffers beyond the library's size limit are refused with 3 before
// anything is allocated; the limit comes back with its reset.
TEST(GfxBuffer, AllocationsRespectTheSizeLimit) {
    KXSUP_SetSizeLimit(100);
    KX_GfxBuffer* b = reinterpret_cast<KX_GfxBuffer*>(1);
    EXPECT_EQ(KXSUP_AllocGfxBuffer(&b, 1, 101, MEMF_ANY), KXERR_NOMEMORY);
    EXPECT_EQ(b, nullptr);
    ASSERT_EQ(KXSUP_AllocGfxBuffer(&b, 1, 100, MEMF_CLEAR), KXERR_NONE);
    b->Width = 10;
    b->Height = 10;
    KXSUP_SetSizeLimit(99);
    KX_GfxBuffer* copy = reinterpret_cast<KX_GfxBuffer*>(1);
    EXPECT_EQ(KXSUP_CopyGfxBuffer(b, &copy, 1, MEMF_ANY), KXERR_NOMEMORY);
    EXPECT_EQ(copy, nullptr);
    KXSUP_ResetSizeLimit();
    ASSERT_EQ(KXSUP_CopyGfxBuffer(b, &copy, 1, MEMF_ANY), KXERR_NONE);
    KXSUP_FreeGfxBuffer(copy);
    KXSUP_FreeGfxBuffer(b);
}

TEST(GfxBuffer, BothMapKindsLendOwnWidthCopyTheOther) {
    BufferPtr b = rgb48(3, 1, 1);
    uint16_t* wide = static_cast<uint16_t*>(AllocVec(2, MEMF_ANY));
    *wide = 0x8000;
    b->AlphaType = KXALPHA_CHANNEL8 | KXALPHA_CHANNEL16;
    b->AlphaData = wide;
    uint8_t* map8 = nullptr;
    int owned = 0;
    EXPECT_EQ(KXSUP_GetAlphaMap8(b.get(), &map8, &owned, 1, 0), KXERR_NONE);
    EXPECT_EQ(owned, 0);
    EXPECT_EQ(map8, b->AlphaData);
    EXPECT_EQ(KXSUP_CopyAlphaMap8(b.get(), &map8, 0), KXERR_NONE);
    EXPECT_EQ(map8[0], 0x80);
    FreeVec(map8);
}

TEST(GfxBuffer, ModeDetection) {
    struct Row {
        uint32_t version, viewMode, dipf;
        int ham, ehb;
        uint32_t dipfAfter;
    } rows[] = {
        {1, KXVIEWMODE_NONE, KXDIPF_HAM | KXDIPF_EHB, 0, 0, 0},
        {1, KXVIEWMODE_HAM, 0, 1, 0, KXDIPF_HAM},
        {1, KXVIEWMODE_EHB | 4, 0, 0, 1, KXDIPF_EHB},
        {2, KXVIEWMODE_NONE, KXDIPF_HAM, 1, 0, KXDIPF_HAM},
        {2, 0, KXDIPF_EHB, 0, 1, KXDIPF_EHB},
        {2, KXVIEWMODE_HAM | KXVIEWMODE_EHB, 0, 1, 1, KXDIPF_HAM},
        {2, 0, 0, 0, 0, 0},
    };
    for (const Row& r : rows) {
        BufferPtr b = moduleRecord(r.version);
        b->ViewMode = r.viewMode;
        b->NativeDIPF = r.dipf;
        EXPECT_EQ(IsHamBuffer(b.get()), r.ham) << r.version << " " << r.viewMode;
        EXPECT_EQ(IsEhbBuffer(b.get()), r.ehb) << r.version << " " << r.viewMode;
        EXPECT_EQ(KXSUP_SetGfxBufferModeFlags(b.get()), 1);
        EXPECT_EQ(b->Version, 2u);
        EXPECT_EQ(b->NativeDIPF, r.dipfAfter) << r.version << " " << r.viewMode;
    }
    EXPECT_EQ(IsHamBuffer(nullptr), 0);
}

TEST(GfxBuffer, ColorsToDepth) {
    const uint32_t cases[][2] = {{0, 1}, {2, 1}, {3, 2}, {4, 2}, {5, 3}, {16, 4}, {17, 5}, {64, 6}, {65, 7}, {128, 7}, {129, 8}, {100000, 8}};
    for (const auto& c : cases) EXPECT_EQ(KXSUP_ColorsToDepth(c[0]), c[1]) << c[0];
    EXPECT_EQ(KXSUP_BestModeID(640, 480, 8), 0u);
}

TEST(GfxBuffer, ValueByteOrder) {
    EXPECT_EQ(EqEndianQUAD(0x0102030405060708ull, KXENDIAN_LITTLE, KXENDIAN_BIG), 0x0807060504030201ull);
    EXPECT_EQ(EqEndianQUAD(0x0102030405060708ull, KXENDIAN_BIG, KXENDIAN_BIG), 0x0102030405060708ull);
    EXPECT_EQ(EqEndianLONG(0x01020304u, KXENDIAN_BIG, KXENDIAN_LITTLE), 0x04030201u);
    EXPECT_EQ(EqEndianWORD(0x0102, KXENDIAN_BIG, KXENDIAN_LITTLE), 0x0201);
    EXPECT_EQ(EqEndianWORD(0x0102, KXENDIAN_LITTLE, KXENDIAN_LITTLE), 0x0102);

    uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EndianQUAD(bytes, KXENDIAN_LITTLE, KXENDIAN_BIG);
    EXPECT_EQ(bytes[0], 8);
    EndianLONG(bytes + 1, KXENDIAN_LITTLE, KXENDIAN_BIG);  // unaligned on purpose
    EXPECT_EQ(memcmp(bytes, "\x08\x04\x05\x06\x07\x03\x02\x01", 8), 0);
    EndianWORD(bytes, KXENDIAN_BIG, KXENDIAN_BIG);
    EXPECT_EQ(bytes[0], 8);
    EndianWORD(bytes, KXENDIAN_BIG, KXENDIAN_LITTLE);
    EXPECT_EQ(bytes[0], 4);
}
