// Colour management: transforms of palette, 24- and 48-bit buffers and raw
// pixel arrays, the failure codes, and the in-memory profile builders.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/colour.h"
#include "core/kxlib.h"
#include "support/testfiles.h"

namespace {

// A linear-light RGB profile: mid values brighten on the way to sRGB.
std::vector<uint8_t> linearProfile() {
    uint8_t* p = nullptr;
    uint32_t n = 0;
    EXPECT_EQ(KXSUP_CreateCMSProfileGamma(256, 1.0, &p, &n), KXERR_NONE);
    std::vector<uint8_t> v(p, p + n);
    FreeVec(p);
    return v;
}

std::vector<uint8_t> srgbProfile() {
    cmsHPROFILE h = cmsCreate_sRGBProfile();
    cmsUInt32Number n = 0;
    cmsSaveProfileToMem(h, nullptr, &n);
    std::vector<uint8_t> v(n);
    cmsSaveProfileToMem(h, v.data(), &n);
    cmsCloseProfile(h);
    return v;
}

struct Buffer {
    KX_GfxBuffer* b = nullptr;
    Buffer(uint32_t version, uint32_t w, uint32_t h, uint32_t depth) : b(KXT_NewChunkyBuffer(version, w, h, depth)) {}
    ~Buffer() { KXSUP_FreeGfxBuffer(b); }
};

TEST(Colour, PaletteChangesOnlyItsEntriesAndNotThePixels) {
    const auto linear = linearProfile();
    Buffer buf(1, 4, 1, 1);
    for (int i = 0; i < 256 * 3; ++i) buf.b->Palette[i] = 128;
    for (int i = 0; i < 4; ++i) buf.b->Data[i] = (uint8_t)(i & 1);
    uint8_t before[256 * 3];
    memcpy(before, buf.b->Palette, sizeof(before));
    ASSERT_EQ(KXSUP_ApplyCMSProfileSRGB(buf.b, linear.data(), (uint32_t)linear.size()), KXERR_NONE);
    for (int i = 0; i < 6; ++i) EXPECT_GT(buf.b->Palette[i], 170) << i;  // linear 0.5 is about 188 in sRGB
    EXPECT_EQ(memcmp(buf.b->Palette + 6, before + 6, sizeof(before) - 6), 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(buf.b->Data[i], i & 1);
}

TEST(Colour, TwentyFourBitPixelsAreTransformed) {
    const auto linear = linearProfile();
    const auto srgb = srgbProfile();
    Buffer buf(1, 3, 2, 24);
    for (uint32_t i = 0; i < buf.b->BufferSize; ++i) buf.b->Data[i] = (uint8_t)(i * 40);
    std::vector<uint8_t> before(buf.b->Data, buf.b->Data + buf.b->BufferSize);
    // sRGB to sRGB keeps the values (within rounding).
    ASSERT_EQ(KXSUP_ApplyCMSProfile(buf.b, srgb.data(), (uint32_t)srgb.size(), srgb.data(), (uint32_t)srgb.size()),
              KXERR_NONE);
    for (uint32_t i = 0; i < buf.b->BufferSize; ++i) EXPECT_NEAR(buf.b->Data[i], before[i], 1) << i;
    memset(buf.b->Data, 128, buf.b->BufferSize);
    ASSERT_EQ(KXSUP_ApplyCMSProfileSRGB(buf.b, linear.data(), (uint32_t)linear.size()), KXERR_NONE);
    for (uint32_t i = 0; i < buf.b->BufferSize; ++i) EXPECT_GT(buf.b->Data[i], 170);
}

TEST(Colour, FortyEightBitBigEndianComesBackLittleEndianAndTransformed) {
    const auto linear = linearProfile();
    Buffer buf(4, 2, 1, 48);
    ASSERT_EQ(KXSUP_SetGfxBufferEndianess(buf.b, 1), KXERR_NONE);  // marked big-endian
    for (uint32_t i = 0; i < buf.b->BufferSize; i += 2) {
        buf.b->Data[i] = 0x80;  // 0x8000 big-endian
        buf.b->Data[i + 1] = 0x00;
    }
    ASSERT_EQ(KXSUP_ApplyCMSProfileSRGB(buf.b, linear.data(), (uint32_t)linear.size()), KXERR_NONE);
    EXPECT_EQ(buf.b->Flags & (KXGFXF_MM | KXGFXF_II), (uint32_t)KXGFXF_II);
    const uint16_t* s = reinterpret_cast<const uint16_t*>(buf.b->Data);
    for (int i = 0; i < 6; ++i) EXPECT_GT(s[i], 0xA800) << i;  // host order, brightened
}

TEST(Colour, LockedBigEndianFortyEightBitIsRefusedUnchanged) {
    const auto linear = linearProfile();
    Buffer buf(4, 2, 1, 48);
    ASSERT_EQ(KXSUP_SetGfxBufferEndianess(buf.b, 1), KXERR_NONE);
    buf.b->Flags |= KXGFXF_LOCKED;
    memset(buf.b->Data, 0x12, buf.b->BufferSize);
    EXPECT_EQ(KXSUP_ApplyCMSProfileSRGB(buf.b, linear.data(), (uint32_t)linear.size()), KXERR_ENDIANLOCKED);
    for (uint32_t i = 0; i < buf.b->BufferSize; ++i) EXPECT_EQ(buf.b->Data[i], 0x12);
}

TEST(Colour, FailuresGiveTheirCodesAndLeaveTheBuffer) {
    const auto linear = linearProfile();
    const uint8_t junk[200] = {1, 2, 3};
    struct Case {
        uint32_t depth;
        const uint8_t* in;
        uint32_t inSize;
        const uint8_t* out;
        uint32_t outSize;
        uint32_t code;
    };
    const Case cases[] = {
        {0, linear.data(), (uint32_t)linear.size(), nullptr, 0, KXERR_FILEREQUIREMENTS},
        {9, linear.data(), (uint32_t)linear.size(), nullptr, 0, KXERR_FILEREQUIREMENTS},
        {16, linear.data(), (uint32_t)linear.size(), nullptr, 0, KXERR_FILEREQUIREMENTS},
        {25, linear.data(), (uint32_t)linear.size(), nullptr, 0, KXERR_FILEREQUIREMENTS},
        {47, linear.data(), (uint32_t)linear.size(), nullptr, 0, KXERR_FILEREQUIREMENTS},
        {24, junk, sizeof(junk), nullptr, 0, KXERR_NODESTFILE},
        {24, nullptr, 0, nullptr, 0, KXERR_NODESTFILE},
        {24, linear.data(), (uint32_t)linear.size(), junk, sizeof(junk), KXERR_NOMEMORY},
    };
    for (const Case& c : cases) {
        Buffer buf(1, 2, 2, c.depth == 0 || c.depth > 8 ? 24 : c.depth);
        buf.b->ColorDepth = c.depth;
        memset(buf.b->Data, 77, buf.b->BufferSize);
        EXPECT_EQ(KXSUP_ApplyCMSProfile(buf.b, c.in, c.inSize, c.out, c.outSize), c.code) << c.depth;
        for (uint32_t i = 0; i < buf.b->BufferSize; ++i) ASSERT_EQ(buf.b->Data[i], 77);
    }
    EXPECT_EQ(KXSUP_ApplyCMSProfileSRGB(nullptr, linear.data(), (uint32_t)linear.size()), KXERR_INTERNALACCESS);
    uint8_t px[3] = {};
    EXPECT_EQ(KXSUP_ApplyCMSProfileRaw(nullptr, px, 1, 1, linear.data(), (uint32_t)linear.size(), nullptr, 0, 0, 0),
              KXERR_INTERNALACCESS);
}

TEST(Colour, RawTransformFormatsAndInPlaceWidening) {
    const auto linear = linearProfile();
    const uint32_t L = (uint32_t)linear.size();
    const uint8_t src[6] = {128, 128, 128, 10, 200, 30};
    uint8_t a[6], b[6];
    // An unknown format code is RGB 8.
    ASSERT_EQ(KXSUP_ApplyCMSProfileRaw(src, a, 2, 1, linear.data(), L, nullptr, 0, 0, 0), KXERR_NONE);
    ASSERT_EQ(KXSUP_ApplyCMSProfileRaw(src, b, 2, 1, linear.data(), L, nullptr, 0, 99, 1234), KXERR_NONE);
    EXPECT_EQ(memcmp(a, b, 6), 0);
    EXPECT_GT(a[0], 170);
    // RGB 8 to RGB 16 in one array gives what two arrays give.
    uint16_t apart[6];
    ASSERT_EQ(KXSUP_ApplyCMSProfileRaw(src, apart, 2, 1, linear.data(), L, nullptr, 0, KXCMS_RGB_8, KXCMS_RGB_16),
              KXERR_NONE);
    uint16_t same[6] = {};
    memcpy(same, src, 6);
    ASSERT_EQ(KXSUP_ApplyCMSProfileRaw(same, same, 2, 1, linear.data(), L, nullptr, 0, KXCMS_RGB_8, KXCMS_RGB_16),
              KXERR_NONE);
    EXPECT_EQ(memcmp(apart, same, sizeof(same)), 0);
}

double trcGamma(cmsHPROFILE h, cmsTagSignature sig) {
    auto* curve = static_cast<cmsToneCurve*>(cmsReadTag(h, sig));
    return curve ? cmsEstimateGamma(curve, 0.01) : -1;
}

TEST(Colour, GammaBuilderMakesOneCurveOfTheInverseExponent) {
    uint8_t* p = nullptr;
    uint32_t n = 0;
    ASSERT_EQ(KXSUP_CreateCMSProfileGamma(256, 0.45455, &p, &n), KXERR_NONE);
    cmsHPROFILE h = cmsOpenProfileFromMem(p, n);
    ASSERT_NE(h, nullptr);
    EXPECT_NEAR(trcGamma(h, cmsSigRedTRCTag), 2.2, 0.01);
    EXPECT_NEAR(trcGamma(h, cmsSigGreenTRCTag), 2.2, 0.01);
    EXPECT_NEAR(trcGamma(h, cmsSigBlueTRCTag), 2.2, 0.01);
    // The white point is stored adapted to D50; the adaptation takes D65 there.
    const auto* chad = static_cast<const double*>(cmsReadTag(h, cmsSigChromaticAdaptationTag));
    ASSERT_NE(chad, nullptr);
    const double d65[3] = {0.3127 / 0.329, 1.0, (1 - 0.3127 - 0.329) / 0.329};
    const double d50[3] = {0.9642, 1.0, 0.8249};
    for (int r = 0; r < 3; ++r)
        EXPECT_NEAR(chad[r * 3] * d65[0] + chad[r * 3 + 1] * d65[1] + chad[r * 3 + 2] * d65[2], d50[r], 0.002);
    cmsCloseProfile(h);
    FreeVec(p);
}

TEST(Colour, BuildersRefuseWithoutWritingTheirOutputs) {
    uint8_t sentinel = 0;
    uint8_t* p = &sentinel;
    uint32_t n = 12345;
    for (double g : {0.0, -1.0, (double)NAN, (double)INFINITY}) {
        EXPECT_EQ(KXSUP_CreateCMSProfileGamma(256, g, &p, &n), KXERR_FILEREQUIREMENTS) << g;
        EXPECT_EQ(p, &sentinel);
        EXPECT_EQ(n, 12345u);
    }
    uint16_t table[256];
    for (int i = 0; i < 256; ++i) table[i] = (uint16_t)(i * 257);
    const float white[2] = {0.3127f, 0.329f};
    const float prim[6] = {0.64f, 0.33f, 0.3f, 0.6f, 0.15f, 0.06f};
    EXPECT_EQ(KXSUP_CreateCMSProfileCurves(256, table, nullptr, table, white, prim, &p, &n), KXERR_FILEREQUIREMENTS);
    EXPECT_EQ(p, &sentinel);
}

TEST(Colour, CurveTablesOfOtherLengthsAreResampled) {
    // A TIFF transfer function of 2^12 entries, gamma 1.8.
    std::vector<uint16_t> big(4096);
    for (size_t i = 0; i < big.size(); ++i) big[i] = (uint16_t)lround(65535.0 * pow(i / 4095.0, 1.8));
    uint16_t small[256];
    ASSERT_TRUE(KXSUP_ResampleToneCurve(big.data(), 4096, small));
    EXPECT_EQ(small[0], 0);
    EXPECT_EQ(small[255], 65535);
    for (int i = 1; i < 256; ++i) EXPECT_GE(small[i], small[i - 1]);
    EXPECT_NEAR(small[128], 65535.0 * pow(128 / 255.0, 1.8), 40);
    uint16_t two[2] = {0, 65535};
    ASSERT_TRUE(KXSUP_ResampleToneCurve(two, 2, small));
    EXPECT_EQ(small[51], 51 * 257);

    const float white[2] = {0.3127f, 0.329f};
    const float prim[6] = {0.64f, 0.33f, 0.3f, 0.6f, 0.15f, 0.06f};
    uint8_t* p = nullptr;
    uint32_t n = 0;
    ASSERT_EQ(KXSUP_CreateCMSProfileCurves(256, big.data(), big.data(), big.data(), white, prim, &p, &n, 4096),
              KXERR_NONE);
    cmsHPROFILE h = cmsOpenProfileFromMem(p, n);
    ASSERT_NE(h, nullptr);
    EXPECT_NEAR(trcGamma(h, cmsSigGreenTRCTag), 1.8, 0.05);
    cmsCloseProfile(h);
    FreeVec(p);
}

TEST(Colour, ProfileFromFile) {
    const std::string dir = KX_GetProcessTempDir();
    const std::string good = dir + "colour_test_good.icc", cut = dir + "colour_test_cut.icc";
    const auto linear = linearProfile();
    FILE* f = fopen(good.c_str(), "wb");
    fwrite(linear.data(), 1, linear.size(), f);
    fclose(f);
    f = fopen(cut.c_str(), "wb");
    fwrite(linear.data(), 1, linear.size() / 2, f);  // the size field promises more
    fclose(f);

    Buffer buf(1, 1, 1, 24);
    memset(buf.b->Data, 128, 3);
    EXPECT_EQ(KXSUP_ApplyCMSProfileFromFile(buf.b, good.c_str()), KXERR_NONE);
    EXPECT_GT(buf.b->Data[0], 170);
    EXPECT_EQ(KXSUP_ApplyCMSProfileFromFile(buf.b, cut.c_str()), KXERR_EOF);
    EXPECT_EQ(KXSUP_ApplyCMSProfileFromFile(buf.b, (dir + "colour_test_missing.icc").c_str()), KXERR_FILENOTFOUND);
    EXPECT_EQ(KXSUP_ApplyCMSProfileFromFile(buf.b, nullptr), KXERR_FILENOTFOUND);
    remove(good.c_str());
    remove(cut.c_str());
}

}  // namespace
