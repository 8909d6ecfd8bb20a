// kxoCT: Scitex CT files built as byte tables (grey and RGB, even and odd
// widths with their padded lines) load as ImageMagick reads the same file;
// the refusals, recognition, damaged input, no writer.
#include <gtest/gtest.h>

#include <cstring>

#include "formats/raster/kxoCT.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"

using namespace kxt;

namespace {

// A CT file as the HandShake layout has it: "CT" at 80, the separation
// mask at 1026, sizes in units at 1028 and 1042, lines and pixels as
// "%+012d" at 1056 and 1068, the pixels from 2048.
std::vector<uint8_t> ctFile(uint32_t mask, const std::string& lines, const std::string& pixels,
                            const std::vector<uint8_t>& data) {
    std::vector<uint8_t> v(2048, 0);
    memcpy(&v[80], "CT", 2);
    v[1024] = 1;
    v[1025] = mask == 8 ? 1 : 3;
    v[1026] = (uint8_t)(mask >> 8), v[1027] = (uint8_t)mask;
    memcpy(&v[1028], "+.10000000e+01", 14);
    memcpy(&v[1042], "+.10000000e+01", 14);
    memcpy(&v[1056], lines.data(), lines.size());
    memcpy(&v[1068], pixels.data(), pixels.size());
    PutBytes(v, data);
    return v;
}

std::string size(uint32_t n) {
    char text[16];
    snprintf(text, sizeof(text), "%+012d", (int)n);
    return text;
}

// Lines of w bytes and their padding byte when w is odd.
std::vector<uint8_t> lines(uint32_t w, uint32_t count) {
    std::vector<uint8_t> v;
    for (uint32_t l = 0; l < count; ++l) {
        for (uint32_t x = 0; x < w; ++x) v.push_back((uint8_t)(l * 40 + x * 9 + 3));
        if (w & 1) v.push_back(0xEE);
    }
    return v;
}

TEST(Ct, FilesLoadAsImageMagickReadsThem) {
    const bool im = KXT_HaveTool("convert-im6.q16");
    const std::string p = TempPath("check.ct"), q = TempPath("check.ppm");
    for (uint32_t mask : {7u, 8u}) {
        for (uint32_t w : {1u, 2u, 5u, 16u}) {
            SCOPED_TRACE("mask " + std::to_string(mask) + " width " + std::to_string(w));
            const uint32_t channels = mask == 7 ? 3 : 1;
            const std::vector<uint8_t> file = ctFile(mask, size(3), size(w), lines(w, 3 * channels));
            WriteAll(p, file);
            EXPECT_EQ(Recognises<kxoCT>(file), 1u);
            Loaded l;
            LoadFile<kxoCT>(p, l);
            ASSERT_EQ(l.Err, KXERR_NONE);
            EXPECT_EQ(l.SubFormat, 0u);
            EXPECT_EQ(l.Buffer->ColorDepth, 8 * channels);
            EXPECT_EQ(KXSUP_IsGrayBuffer(l.Buffer) != 0, mask == 8);
            // Row y, component c: line 3y + c of the file.
            const Rgb got = ToRgb(l.Buffer);
            for (uint32_t y = 0; y < 3; ++y)
                for (uint32_t x = 0; x < w; ++x)
                    for (uint32_t c = 0; c < 3; ++c) {
                        const uint32_t line = mask == 7 ? 3 * y + c : y;
                        ASSERT_EQ(got.Pix[3 * (y * w + x) + c], (uint8_t)(line * 40 + x * 9 + 3)) << x << "," << y << "," << c;
                    }
            if (im) {
                Rgb theirs;
                ASSERT_TRUE(Shell("convert-im6.q16 sct:" + p + " -depth 8 -type TrueColor ppm:" + q));
                ASSERT_TRUE(ReadNetpbm(q, theirs));
                EXPECT_EQ(Compare(got, theirs), "") << "ImageMagick";
            }
        }
    }
    unlink(p.c_str());
    unlink(q.c_str());
    if (!im) GTEST_SKIP() << "ImageMagick is missing: the cross-check did not run";
}

TEST(Ct, AnRgbFileOfTwoPixels) {
    Loaded l;
    LoadBytes<kxoCT>(ctFile(7, size(1), size(2), {0x10, 0x20, 0x30, 0x40, 0x50, 0x60}), l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 6),
              (std::vector<uint8_t>{0x10, 0x30, 0x50, 0x20, 0x40, 0x60}));
}

TEST(Ct, Refusals) {
    std::vector<uint8_t> cut = ctFile(8, size(1), size(2), {});
    cut.resize(1070);
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        uint32_t Err;
    } cases[] = {
        {"four separations", ctFile(15, size(1), size(2), std::vector<uint8_t>(8, 1)), KXERR_FILEREQUIREMENTS},
        {"header cut", cut, KXERR_FILEREQUIREMENTS},
        {"no width", ctFile(8, size(1), "", std::vector<uint8_t>(8, 1)), KXERR_FILEREQUIREMENTS},
        {"height not a number", ctFile(8, "+abc", size(2), std::vector<uint8_t>(8, 1)), KXERR_FILEREQUIREMENTS},
        {"no pixels", ctFile(8, size(1), size(2), {}), KXERR_EOF},
        {"padding missing", ctFile(7, size(1), size(3), std::vector<uint8_t>(9, 1)), KXERR_EOF},
        {"large picture, short file", ctFile(7, size(60000), size(60000), std::vector<uint8_t>(64, 1)), KXERR_EOF},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoCT>(c.File, l);
        EXPECT_EQ(l.Err, c.Err);
        EXPECT_EQ(l.Buffer, nullptr);
    }
    std::vector<uint8_t> lw = ctFile(7, size(1), size(2), {});
    memcpy(&lw[80], "LW", 2);
    EXPECT_EQ(Recognises<kxoCT>(lw), 0u);
    EXPECT_EQ(Recognises<kxoCT>(std::vector<uint8_t>(81, 'C')), 0u);
}

TEST(Ct, ReaderSurvivesDamagedFilesAndHasNoWriter) {
    const std::string p = TempPath("robust.ct");
    for (uint32_t mask : {7u, 8u}) {
        WriteAll(p, ctFile(mask, size(7), size(13), lines(13, 7 * (mask == 7 ? 3 : 1))));
        KXT_CheckReaderRobustness("kxoCT", p);
    }
    unlink(p.c_str());
    KX_GfxBuffer* img = MakeImage(2, 2, 24);
    EXPECT_EQ(SaveTo<kxoCT>(img, TempPath("no.ct")).Err, KXERR_NOTSUPPORTED);
    KXSUP_FreeGfxBuffer(img);
}

}  // namespace
