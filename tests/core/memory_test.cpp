// Memory: the allocation trace lines, clearing, resizing and freeing, the
// named allocators' size guard, the checked size and the size limit.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/kxlib.h"
#include "support/testfiles.h"

namespace {

std::string hex(const void* p) {
    char buf[24];
    snprintf(buf, sizeof(buf), "$%016llx", (unsigned long long)(uintptr_t)p);
    return buf;
}

}  // namespace

TEST(Memory, TracesEveryCallAtLevel9) {
    KXT_TraceLog trace(9);
    void* none = AllocVec(0, MEMF_CLEAR);
    EXPECT_EQ(none, nullptr);
    auto* block = static_cast<unsigned char*>(AllocVec(16, MEMF_CLEAR));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(block[i], 0) << i;
    memset(block, 0xAB, 16);
    std::string blockHex = hex(block);
    auto* grown = static_cast<unsigned char*>(ReAllocVec(block, 4096, 0));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(grown[15], 0xAB);  // contents kept
    std::string grownHex = hex(grown);
    EXPECT_EQ(ReAllocVec(grown, 0, 0), nullptr);  // frees
    void* fresh = ReAllocVec(nullptr, 8, 0);      // as AllocVec
    std::string freshHex = hex(fresh);
    FreeVec(fresh);
    FreeVec(nullptr);
    void* named = AllocVecNamed(10, 0, 8, "png");
    std::string namedHex = hex(named);
    FreeVecNamed(named, "png");

    EXPECT_EQ(trace.lines(),
              "AllocVec        : $0000000000000000 (S: 00000000, F: $00000001)\n"
              "AllocVec        : " + blockHex + " (S: 00000016, F: $00000001)\n"
              "ReAllocVec      : " + blockHex + " (S: ????????, F: $00000000) => " + grownHex + " (S: 00004096)\n"
              "ReAllocVec      : " + grownHex + " (S: 00000000)\n"
              "AllocVec        : " + freshHex + " (S: 00000008, F: $00000000)\n"
              "FreeVec         : " + freshHex + "\n"
              "FreeVec         : NULL\n"
              "png             : 0010 + 0008\n"
              "AllocVec        : " + namedHex + " (S: 00000018, F: $00000000)\n"
              "png             :\n"
              "FreeVec         : " + namedHex + "\n");
}

TEST(Memory, NoTraceBelowLevel9) {
    KXT_TraceLog trace(8);
    FreeVec(AllocVec(32, 0));
    EXPECT_EQ(trace.lines(), "");
}

// Codec libraries pass sizes read from files: size + extra must not wrap
// round to a small block.
TEST(Memory, NamedAllocatorsRefuseWrappingSizes) {
    EXPECT_EQ(AllocVecNamed(SIZE_MAX - 3, 0, 8, "exifdata"), nullptr);
    void* block = AllocVecNamed(4, 0, 8, "iptcdata");
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(ReAllocVecNamed(block, SIZE_MAX - 3, 0, 8, "iptcdata"), nullptr);
    FreeVecNamed(block, "iptcdata");  // still owned after the refused resize
    EXPECT_EQ(AllocVecNamed(0, 0, 8, "png"), nullptr);
}

TEST(Memory, CopyMemCopiesSourceToDestination) {
    char a[] = "abcdef", b[7] = {};
    CopyMem(a, b, 7);
    EXPECT_STREQ(b, "abcdef");
    CopyMemQuick(a, a + 2, 3);  // overlapping
    EXPECT_STREQ(a, "ababcf");
    CopyMem(nullptr, nullptr, 0);
}

TEST(Memory, CheckedSize) {
    // The whole 32-bit range: only the width of BufferSize limits here.
    KXSUP_SetSizeLimit(0xFFFFFFFFu);
    struct Case {
        uint64_t a, b, c, d;
        bool fits;
        uint32_t product;
    };
    const Case cases[] = {
        {640, 480, 3, 1, true, 921600},
        {0, 0xFFFFFFFFFFFFFFFFull, 7, 9, true, 0},
        {0xFFFFFFFFull, 1, 1, 1, true, 0xFFFFFFFFu},
        {0x100000000ull, 1, 1, 1, false, 0},
        {65536, 65536, 1, 1, false, 0},
        {0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull, 2, false, 0},
        {3, 0x55555555, 1, 1, true, 0xFFFFFFFFu},
        {3, 0x55555556, 1, 1, false, 0},
    };
    for (const Case& c : cases) {
        uint32_t out = 12345;
        EXPECT_EQ(KXSUP_CheckedSize(&out, c.a, c.b, c.c, c.d), c.fits) << c.a << "*" << c.b << "*" << c.c << "*" << c.d;
        EXPECT_EQ(out, c.product);
    }
    KXSUP_SetSizeLimit(1000);
    uint32_t out = 0;
    EXPECT_FALSE(KXSUP_CheckedSize(&out, 1001));
    EXPECT_TRUE(KXSUP_CheckedSize(&out, 10, 100));
    KXSUP_ResetSizeLimit();
}

// The two refusals of the checked size: beyond the 32-bit BufferSize 15,
// beyond the library's size limit 3.
TEST(Memory, CheckSizeTellsTheTwoRefusalsApart) {
    KXSUP_ResetSizeLimit();
    ASSERT_EQ(KXSUP_GetSizeLimit(), KXSUP_DEFAULT_SIZE_LIMIT);
    struct Case {
        uint64_t a, b, c;
        uint32_t code, product;
    } cases[] = {
        {1024, 1024, 2048, KXERR_NONE, 0x80000000u},           // exactly the 2 GiB default
        {65535, 65535, 1, KXERR_NOMEMORY, 0},                  // fits 32 bits, not the limit
        {60000, 60000, 1, KXERR_NOMEMORY, 0},
        {65536, 65536, 1, KXERR_FILEREQUIREMENTS, 0},          // 2^32
        {0xFFFFFFFFull, 0xFFFFFFFFull, 0xFFFFFFFFull, KXERR_FILEREQUIREMENTS, 0},
        {0, 0xFFFFFFFFFFFFFFFFull, 5, KXERR_NONE, 0},
    };
    for (const Case& c : cases) {
        uint32_t out = 7;
        EXPECT_EQ(KXSUP_CheckSize(&out, c.a, c.b, c.c), c.code) << c.a << "*" << c.b << "*" << c.c;
        EXPECT_EQ(out, c.product);
        EXPECT_EQ(KXSUP_CheckedSize(&out, c.a, c.b, c.c), c.code == KXERR_NONE);
    }
}

TEST(Memory, ByteCountsOfTheLimitSettings) {
    struct Case {
        const char* text;
        bool ok;
        uint64_t bytes;
    } cases[] = {
        {"2147483648", true, 2147483648ull}, {"3G", true, 3ull << 30},  {"3072m", true, 3072ull << 20},
        {" 512K ", true, 512ull << 10},      {"4g", true, 4ull << 30},  {"0", false, 0},
        {"", false, 0},                      {"-1G", false, 0},         {"3T", false, 0},
        {"1.5G", false, 0},                  {"G", false, 0},           {"99999999999999999999", false, 0},
    };
    for (const Case& c : cases) {
        uint64_t bytes = 0;
        EXPECT_EQ(KXSUP_ParseByteCount(c.text, &bytes), c.ok) << c.text;
        if (c.ok) EXPECT_EQ(bytes, c.bytes) << c.text;
    }
    EXPECT_FALSE(KXSUP_ParseByteCount(nullptr, nullptr));
}

// The environment variable sets the limit to any value from 1 MiB up,
// lower or higher than the default; nothing goes beyond what BufferSize
// holds.
TEST(Memory, TheEnvironmentSetsTheLimit) {
    struct Case {
        const char* env;  // null: unset
        uint32_t limit;
    } cases[] = {
        {nullptr, KXSUP_DEFAULT_SIZE_LIMIT}, {"3G", 3u << 30},           {"3221225472", 3u << 30},
        {"1G", 1u << 30},                    {"8G", 0xFFFFFFFFu},        {"lots", KXSUP_DEFAULT_SIZE_LIMIT},
        {"1M", 1u << 20},                    {"1048576", 1u << 20},      {"64m", 64u << 20},
        {"1048575", KXSUP_DEFAULT_SIZE_LIMIT}, {"512K", KXSUP_DEFAULT_SIZE_LIMIT}, {"0", KXSUP_DEFAULT_SIZE_LIMIT},
    };
    for (const Case& c : cases) {
        if (c.env)
            setenv(KAXON5_MAX_BUFFER_ENV, c.env, 1);
        else
            unsetenv(KAXON5_MAX_BUFFER_ENV);
        KXSUP_ResetSizeLimit();
        EXPECT_EQ(KXSUP_GetSizeLimit(), c.limit) << (c.env ? c.env : "unset");
    }
    unsetenv(KAXON5_MAX_BUFFER_ENV);
    KXSUP_ResetSizeLimit();
}

// A lowered limit refuses what the default takes, with 3, before anything
// is allocated.
TEST(Memory, ALoweredLimitRefusesLargerBuffers) {
    setenv(KAXON5_MAX_BUFFER_ENV, "16M", 1);
    KXSUP_ResetSizeLimit();
    uint32_t out = 0;
    EXPECT_EQ(KXSUP_CheckSize(&out, 4096, 4096), KXERR_NONE);
    EXPECT_EQ(KXSUP_CheckSize(&out, 4096, 4097), KXERR_NOMEMORY);
    unsetenv(KAXON5_MAX_BUFFER_ENV);
    KXSUP_ResetSizeLimit();
}

// The program's setting sets the limit from 1 MiB up, lower or higher than
// the default, unless the environment variable gives one.
TEST(Memory, TheSettingSetsTheLimitUnlessTheEnvironmentDoes) {
    struct Case {
        const char* env;  // null: unset
        uint64_t setting;
        uint32_t limit;
    } cases[] = {
        {nullptr, 1ull << 20, 1u << 20},
        {nullptr, 100ull << 20, 100u << 20},
        {nullptr, 3072ull << 20, 3072u << 20},
        {nullptr, 4096ull << 20, 0xFFFFFFFFu},
        {nullptr, (1ull << 20) - 1, KXSUP_DEFAULT_SIZE_LIMIT},  // below 1 MiB: ignored
        {"256M", 3072ull << 20, 256u << 20},                     // the environment wins
        {"3G", 100ull << 20, 3u << 30},
        {"lots", 100ull << 20, 100u << 20},                      // a malformed variable does not count
        {"1K", 100ull << 20, 100u << 20},
    };
    for (const Case& c : cases) {
        if (c.env)
            setenv(KAXON5_MAX_BUFFER_ENV, c.env, 1);
        else
            unsetenv(KAXON5_MAX_BUFFER_ENV);
        KXSUP_ResetSizeLimit();
        KXSUP_SetSizeLimitSetting(c.setting);
        EXPECT_EQ(KXSUP_GetSizeLimit(), c.limit) << (c.env ? c.env : "unset") << " " << c.setting;
    }
    unsetenv(KAXON5_MAX_BUFFER_ENV);
    KXSUP_ResetSizeLimit();
}

// Raising only raises; nothing goes beyond what BufferSize holds.
TEST(Memory, RaisingTheLimit) {
    unsetenv(KAXON5_MAX_BUFFER_ENV);
    KXSUP_ResetSizeLimit();
    KXSUP_RaiseSizeLimit(1u << 20);
    EXPECT_EQ(KXSUP_GetSizeLimit(), KXSUP_DEFAULT_SIZE_LIMIT);
    KXSUP_RaiseSizeLimit(3500ull << 20);
    EXPECT_EQ(KXSUP_GetSizeLimit(), 3500u << 20);
    uint32_t out = 0;
    EXPECT_EQ(KXSUP_CheckSize(&out, 60000, 60000), KXERR_NONE);
    KXSUP_RaiseSizeLimit(1ull << 40);
    EXPECT_EQ(KXSUP_GetSizeLimit(), 0xFFFFFFFFu);
    KXSUP_ResetSizeLimit();
    EXPECT_EQ(KXSUP_GetSizeLimit(), KXSUP_DEFAULT_SIZE_LIMIT);
}
