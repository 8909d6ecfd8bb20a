// kxoMTV: a file of ImageMagick loads as mtvtoppm reads it; hand-made
// headers for comments, line ends, the bounds of the number fields and the
// refusals; recognition by extension and first line; the writer's exact
// bytes, through our reader, mtvtoppm and ImageMagick; safe save and
// damaged input.
#include <gtest/gtest.h>

#include "formats/raster/kxoMTV.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"
#include "write_failure.h"

using namespace kxt;

namespace {

std::vector<uint8_t> bytes(const std::string& text, size_t pixelBytes = 0) {
    std::vector<uint8_t> v(text.begin(), text.end());
    for (size_t i = 0; i < pixelBytes; ++i) v.push_back((uint8_t)(i * 7 + 1));
    return v;
}

// CheckFile on these bytes in a file of the given path.
uint32_t recognisedAs(const std::vector<uint8_t>& file, const std::string& p) {
    WriteAll(p, file);
    FILE* f = fopen(p.c_str(), "rb");
    kxoMTV m;
    const uint32_t r = f ? m.CheckFile(f, p.c_str(), KXIO_FILE) : 0;
    if (f) {
        EXPECT_EQ(ftell(f), 0L);
        fclose(f);
    }
    unlink(p.c_str());
    return r;
}

TEST(Mtv, FileOfImageMagickLoadsAsMtvtoppmReadsIt) {
    const std::string file = Fixture("mtv/im.mtv");
    EXPECT_EQ(recognisedAs(KXT_ReadBytes(file), TempPath("im.mtv")), 1u);
    Loaded l;
    LoadFile<kxoMTV>(file, l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.SubFormat, 0u);
    EXPECT_EQ(l.Buffer->ColorDepth, 24u);
    EXPECT_EQ(l.Progress, (std::vector<uint32_t>{50, 100}));
    Rgb want;
    ASSERT_TRUE(ReadNetpbm(Fixture("mtv/im.ppm"), want));
    EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "");
}

TEST(Mtv, Headers) {
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        uint32_t Err, W, H;
        uint8_t FirstRed;
    } cases[] = {
        {"plain", bytes("3 2\n", 18), KXERR_NONE, 3, 2, 1},
        {"a comment line first", bytes("# made by hand\n4 2\n", 24), KXERR_NONE, 4, 2, 1},
        {"comment lines between the numbers", bytes("4\n#a\r#b\n 2\n", 24), KXERR_NONE, 4, 2, 1},
        // The byte after the height's end is the first pixel byte.
        {"carriage return and line feed", bytes("2 1\r\n", 5), KXERR_NONE, 2, 1, '\n'},
        {"other bytes before the numbers", bytes("w=3, h=1\n", 9), KXERR_NONE, 3, 1, 1},
        {"leading digits only", bytes("2x5 1\n", 6), KXERR_NONE, 2, 1, 1},
        {"fifteen characters", bytes("000000000000002 1\n", 6), KXERR_NONE, 2, 1, 1},
        {"sixteen characters", bytes("0000000000000002 1\n", 6), KXERR_FILEREQUIREMENTS, 0, 0, 0},
        {"beyond 32 bits", bytes("4294967296 1\n", 6), KXERR_FILEREQUIREMENTS, 0, 0, 0},
        {"zero width", bytes("0 1\n", 6), KXERR_FILEREQUIREMENTS, 0, 0, 0},
        {"a comment that never ends", bytes("3 # no line end"), KXERR_EOF, 0, 0, 0},
        {"no height", bytes("3 "), KXERR_EOF, 0, 0, 0},
        {"raster short", bytes("3 2\n", 17), KXERR_EOF, 0, 0, 0},
        {"large picture, short file", bytes("60000 60000\n", 64), KXERR_EOF, 0, 0, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoMTV>(c.File, l);
        EXPECT_EQ(l.Err, c.Err);
        EXPECT_EQ(l.Buffer != nullptr, c.Err == KXERR_NONE);
        if (!l.Buffer) continue;
        EXPECT_EQ(l.Buffer->Width, c.W);
        EXPECT_EQ(l.Buffer->Height, c.H);
        EXPECT_EQ(l.Buffer->Data[0], c.FirstRed);
    }
}

TEST(Mtv, RecognisedByExtensionAndFirstLine) {
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        const char* FileName;
        uint32_t Want;
    } cases[] = {
        {"plain", bytes("3 2\n", 18), "a.mtv", 1},
        {"extension in capitals", bytes("3 2\n", 18), "a.MTV", 1},
        {"other extension", bytes("3 2\n", 18), "a.ppm", 0},
        {"a comment line first", bytes("# made by hand\n4 2\n", 24), "a.mtv", 0},
        {"empty first line", bytes("\n4 2\n", 24), "a.mtv", 0},
        {"tabs and blanks", bytes("\t3  2 \n", 18), "a.mtv", 1},
        {"no line end within 31 bytes", bytes("3                               2\n", 18), "a.mtv", 1},
    };
    // A folder of its own, so that the names can be plain.
    const std::string dir = KXT_NewTempDir(TempPath("mtvXXXXXX"));
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(recognisedAs(c.File, dir + "/" + c.FileName), c.Want);
    }
    rmdir(dir.c_str());
}

TEST(Mtv, ReaderSurvivesDamagedFiles) { KXT_CheckReaderRobustness("kxoMTV", Fixture("mtv/im.mtv")); }

// ---- writer ------------------------------------------------------------------------

TEST(Mtv, WriterBytesAndRoundTripThroughOurReaderMtvtoppmAndImageMagick) {
    const std::string p = TempPath("rt.mtv"), q = TempPath("rt.ppm");
    {
        KX_GfxBuffer* img = MakeImage(3, 2, 24);
        Saved s = SaveTo<kxoMTV>(img, p);
        ASSERT_EQ(s.Err, KXERR_NONE);
        std::vector<uint8_t> want = bytes("3 2\n");
        PutBytes(want, std::vector<uint8_t>(img->Data, img->Data + 18));
        EXPECT_EQ(s.File, want);
        KXSUP_FreeGfxBuffer(img);
    }
    const bool netpbm = KXT_HaveTool("mtvtoppm"), im = KXT_HaveTool("convert-im6.q16");
    for (uint32_t w : {1u, 2u, 7u, 17u, 31u}) {
        SCOPED_TRACE("width " + std::to_string(w));
        KX_GfxBuffer* img = MakeImage(w, 3, 24);
        const Rgb want = ToRgb(img);
        ASSERT_EQ(SaveTo<kxoMTV>(img, p).Err, KXERR_NONE);
        Loaded l;
        LoadFile<kxoMTV>(p, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "") << "our reader";
        if (netpbm) {
            EXPECT_EQ(ReadBack(Shell("mtvtoppm " + p + " > " + q), q, want), "") << "mtvtoppm";
        }
        if (im) {
            EXPECT_EQ(ReadBack(Shell("convert-im6.q16 mtv:" + p + " -depth 8 ppm:" + q), q, want), "") << "ImageMagick";
        }
        KXSUP_FreeGfxBuffer(img);
    }
    unlink(p.c_str());
    unlink(q.c_str());
    if (!netpbm || !im) GTEST_SKIP() << "mtvtoppm or ImageMagick is missing: a cross-check did not run";
}

TEST(Mtv, SaveRefusesBeforeTouchingTheFile) {
    const std::string p = TempPath("refuse.mtv");
    for (uint32_t depth : {1u, 8u, 48u}) {
        SCOPED_TRACE(depth);
        KX_GfxBuffer* img = MakeImage(2, 2, depth);
        EXPECT_EQ(SaveOverOld<kxoMTV>(img, p), KXERR_NEED24BIT);
        KXSUP_FreeGfxBuffer(img);
    }
    unlink(p.c_str());
}

TEST(Mtv, FailedWriteGivesIoAndKeepsTheOldFile) {
    KX_GfxBuffer* img = MakeImage(300, 300, 24);
    kxoMTV mtv;
    EXPECT_EQ(SaveUnderFileSizeLimit(&mtv, img, "full.mtv"), KXERR_IO);
    KXSUP_FreeGfxBuffer(img);
}

}  // namespace
