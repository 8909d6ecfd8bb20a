// kxoPXR: Pixar files built as byte tables load as Pillow reads the same
// file (R, G, B); R, G, B, A files with their alpha map; the refusals,
// recognition, damaged input, no writer.
#include <gtest/gtest.h>

#include <cstring>

#include "formats/raster/kxoPXR.h"
#include "module_io.h"
#include "pillow.h"
#include "raster_pixels.h"
#include "support/robustness.h"

using namespace kxt;

namespace {

std::vector<uint8_t> pxrFile(uint32_t w, uint32_t h, uint32_t channels, uint32_t samples, const std::vector<uint8_t>& data,
                             const std::vector<uint8_t>& magic = {0x80, 0xE8, 0x00, 0x00}) {
    std::vector<uint8_t> v(1024, 0);
    memcpy(v.data(), magic.data(), 4);
    v[416] = (uint8_t)h, v[417] = (uint8_t)(h >> 8);
    v[418] = (uint8_t)w, v[419] = (uint8_t)(w >> 8);
    v[424] = (uint8_t)channels, v[426] = (uint8_t)samples;
    PutBytes(v, data);
    return v;
}

std::vector<uint8_t> ramp(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = (uint8_t)(i * 37 + 5);
    return v;
}

TEST(Pxr, RgbFilesLoadAsPillowReadsThem) {
    const bool pil = !PillowPython().empty();
    const std::string p = TempPath("check.pxr"), q = TempPath("check.ppm");
    for (uint32_t w : {1u, 2u, 5u, 17u}) {
        SCOPED_TRACE("width " + std::to_string(w));
        const std::vector<uint8_t> data = ramp(w * 3 * 3), file = pxrFile(w, 3, 14, 2, data);
        WriteAll(p, file);
        EXPECT_EQ(Recognises<kxoPXR>(file), 1u);
        Loaded l;
        LoadFile<kxoPXR>(p, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.SubFormat, 0u);
        EXPECT_EQ(l.Buffer->ColorDepth, 24u);
        EXPECT_EQ(KXSUP_AlphaHolds(l.Buffer), (uint32_t)KXALPHA_NONE);
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + l.Buffer->BufferSize), data);
        if (pil) {
            Rgb theirs;
            ASSERT_TRUE(RunPillow("Image.open('" + p + "').save('" + q + "', format='PPM')"));
            ASSERT_TRUE(ReadNetpbm(q, theirs));
            EXPECT_EQ(Compare(ToRgb(l.Buffer), theirs), "") << "Pillow";
        }
    }
    unlink(p.c_str());
    unlink(q.c_str());
    if (!pil) GTEST_SKIP() << "Pillow is missing: the cross-check did not run";
}

TEST(Pxr, EveryFourthByteOfAnRgbaFileIsAlpha) {
    Loaded l;
    LoadBytes<kxoPXR>(pxrFile(2, 1, 15, 2, {1, 2, 3, 4, 5, 6, 7, 8}), l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.Buffer->Version, 3u);
    EXPECT_EQ(l.Buffer->BufferSize, 6u);
    EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 6), (std::vector<uint8_t>{1, 2, 3, 5, 6, 7}));
    ASSERT_EQ(KXSUP_AlphaHolds(l.Buffer), (uint32_t)KXALPHA_CHANNEL8);
    EXPECT_EQ(KXSUP_AlphaBytes(l.Buffer)[0], 4);
    EXPECT_EQ(KXSUP_AlphaBytes(l.Buffer)[1], 8);
}

TEST(Pxr, Refusals) {
    std::vector<uint8_t> cut = pxrFile(2, 1, 14, 2, {});
    cut.resize(1000);
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        uint32_t Recognised, Err;
    } cases[] = {
        {"other channel layout", pxrFile(2, 1, 16, 2, ramp(8)), 0, KXERR_FILEREQUIREMENTS},
        {"other sample layout", pxrFile(2, 1, 14, 1, ramp(6)), 0, KXERR_FILEREQUIREMENTS},
        {"header cut", cut, 1, KXERR_FILEREQUIREMENTS},
        {"zero width", pxrFile(0, 1, 14, 2, ramp(6)), 1, KXERR_FILEREQUIREMENTS},
        {"raster short", pxrFile(2, 2, 15, 2, ramp(15)), 1, KXERR_EOF},
        {"large picture, short file", pxrFile(60000, 60000, 15, 2, ramp(64)), 1, KXERR_EOF},
        {"not the magic", pxrFile(2, 1, 14, 2, ramp(6), {0x80, 0xE8, 0x00, 0x01}), 0, KXERR_NONE},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(Recognises<kxoPXR>(c.File), c.Recognised);
        Loaded l;
        LoadBytes<kxoPXR>(c.File, l);
        EXPECT_EQ(l.Err, c.Err);  // the magic is recognition only
        EXPECT_EQ(l.Buffer != nullptr, c.Err == KXERR_NONE);
    }
}

TEST(Pxr, ReaderSurvivesDamagedFilesAndHasNoWriter) {
    const std::string p = TempPath("robust.pxr");
    for (uint32_t channels : {14u, 15u}) {
        WriteAll(p, pxrFile(13, 7, channels, 2, ramp(13 * 7 * (channels - 10))));
        KXT_CheckReaderRobustness("kxoPXR", p);
    }
    unlink(p.c_str());
    KX_GfxBuffer* img = MakeImage(2, 2, 24);
    EXPECT_EQ(SaveTo<kxoPXR>(img, TempPath("no.pxr")).Err, KXERR_NOTSUPPORTED);
    KXSUP_FreeGfxBuffer(img);
}

}  // namespace
