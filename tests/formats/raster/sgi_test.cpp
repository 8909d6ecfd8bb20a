// kxoSGI: files of netpbm, ImageMagick and Pillow (verbatim and run-length,
// grey, RGB, RGBA) load as their programs read them, bottom row first in
// the file; hand-made files for the packets, the refusals and the bounds of
// the decoder; the writer through our reader, sgitopnm, ImageMagick and
// Pillow; refusals before the file is touched, the safe save, damaged input.
#include <gtest/gtest.h>

#include "formats/raster/kxoSGI.h"
#include "module_io.h"
#include "pillow.h"
#include "raster_pixels.h"
#include "support/robustness.h"
#include "write_failure.h"

using namespace kxt;

namespace {

std::vector<uint8_t> header(uint32_t storage, uint32_t bpc, uint32_t w, uint32_t h, uint32_t channels, uint32_t magic = 474) {
    std::vector<uint8_t> v(512, 0);
    v[0] = (uint8_t)(magic >> 8), v[1] = (uint8_t)magic;
    v[2] = (uint8_t)storage, v[3] = (uint8_t)bpc;
    v[5] = 3;
    v[6] = (uint8_t)(w >> 8), v[7] = (uint8_t)w;
    v[8] = (uint8_t)(h >> 8), v[9] = (uint8_t)h;
    v[10] = (uint8_t)(channels >> 8), v[11] = (uint8_t)channels;
    return v;
}

void putBe32(std::vector<uint8_t>& v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v.push_back((uint8_t)(x >> s));
}

// A run-length file of one channel: the rows as given (bottom row first),
// laid out one after another behind the two tables.
std::vector<uint8_t> rleFile(uint32_t w, const std::vector<std::vector<uint8_t>>& rows) {
    std::vector<uint8_t> f = header(1, 1, w, (uint32_t)rows.size(), 1);
    uint32_t at = 512 + 8 * (uint32_t)rows.size();
    for (auto& r : rows) putBe32(f, at), at += (uint32_t)r.size();
    for (auto& r : rows) putBe32(f, (uint32_t)r.size());
    for (auto& r : rows) PutBytes(f, r);
    return f;
}

std::vector<uint8_t> pixels(const KX_GfxBuffer* b) { return std::vector<uint8_t>(b->Data, b->Data + b->BufferSize); }

TEST(Sgi, FilesOfOtherProgramsLoadAsTheyReadThem) {
    struct {
        const char* Name;
        const char* Expect;
        uint32_t Depth;
        bool Alpha;
    } cases[] = {
        {"netpbm_rgb", "ppm", 24, false},     {"netpbm_rgb_rle", "ppm", 24, false}, {"netpbm_grey", "pgm", 8, false},
        {"netpbm_grey_rle", "pgm", 8, false}, {"im_rgb", "ppm", 24, false},         {"im_rgba", "pam", 24, true},
        {"im_rgba_raw", "pam", 24, true},     {"pil_rgb", "ppm", 24, false},        {"pil_rgba", "pam", 24, true},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string file = Fixture(std::string("sgi/") + c.Name + ".sgi");
        EXPECT_EQ(Recognises<kxoSGI>(KXT_ReadBytes(file)), 1u);
        Loaded l;
        LoadFile<kxoSGI>(file, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.SubFormat, 0u);
        EXPECT_EQ(l.Buffer->Type, (uint32_t)ONEPLANE);
        EXPECT_EQ(l.Buffer->ColorDepth, c.Depth);
        EXPECT_EQ(l.Buffer->PixelBits, c.Depth);
        EXPECT_EQ(KXSUP_IsGrayBuffer(l.Buffer) != 0, c.Depth == 8);
        EXPECT_EQ(KXSUP_AlphaHolds(l.Buffer), c.Alpha ? (uint32_t)KXALPHA_CHANNEL8 : (uint32_t)KXALPHA_NONE);
        Rgb want;
        ASSERT_TRUE(ReadNetpbm(Fixture(std::string("sgi/") + c.Name + "." + c.Expect), want));
        EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "");
    }
}

TEST(Sgi, RunLengthPacketsStayWithinTheirRowAndLine) {
    struct {
        const char* Name;
        std::vector<std::vector<uint8_t>> Rows;  // bottom row first
        std::vector<uint8_t> Pixels;             // top row first
    } cases[] = {
        // Count-0 packets carry nothing; a row that ends early leaves zeros.
        {"empty packets and a short row",
         {{0x00, 0x82, 10, 20, 0x02, 30, 0x00}, {0x03, 50, 0x00}},
         {50, 50, 50, 0, 10, 20, 30, 30}},
        {"a run past the line is cut", {{0x7F, 9}}, {9, 9, 9, 9}},
        {"a literal past the row's bytes takes what is there", {{0x85, 1, 2}}, {1, 2, 0, 0}},
        {"a run without its value", {{0x81, 7, 0x03}}, {7, 0, 0, 0}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoSGI>(rleFile(4, c.Rows), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(pixels(l.Buffer), c.Pixels);
    }
}

TEST(Sgi, VerbatimChannelsFillTheirComponentsBottomUp) {
    // 2 x 2, four channels: each plane's first row is the bottom row.
    std::vector<uint8_t> f = header(0, 1, 2, 2, 4);
    PutBytes(f, {1, 2, 3, 4, 11, 12, 13, 14, 21, 22, 23, 24, 31, 32, 33, 34});
    Loaded l;
    LoadBytes<kxoSGI>(f, l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.Buffer->Version, 3u);
    EXPECT_EQ(l.Buffer->BufferSize, 12u);
    EXPECT_EQ(pixels(l.Buffer), (std::vector<uint8_t>{3, 13, 23, 4, 14, 24, 1, 11, 21, 2, 12, 22}));
    ASSERT_EQ(KXSUP_AlphaHolds(l.Buffer), (uint32_t)KXALPHA_CHANNEL8);
    const uint8_t* alpha = KXSUP_AlphaBytes(l.Buffer);
    EXPECT_EQ(std::vector<uint8_t>(alpha, alpha + 4), (std::vector<uint8_t>{33, 34, 31, 32}));
}

TEST(Sgi, Refusals) {
    auto with = [](std::vector<uint8_t> v, size_t extra) {
        v.resize(v.size() + extra, 7);
        return v;
    };
    std::vector<uint8_t> cutTable = header(1, 1, 4, 2, 3);
    cutTable.resize(512 + 40);
    std::vector<uint8_t> pastEnd = rleFile(4, {{0x04, 1}});
    pastEnd[512 + 4 + 3] = 20;  // the row's length, within six bytes a pixel
    std::vector<uint8_t> tooLong = rleFile(2, {std::vector<uint8_t>(13, 0)});
    std::vector<uint8_t> cutHeader = header(0, 1, 2, 2, 3);
    cutHeader.resize(300);
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        uint32_t Err;
    } cases[] = {
        {"storage 2", with(header(2, 1, 2, 2, 3), 12), KXERR_FILEREQUIREMENTS},
        {"not the magic", with(header(0, 1, 2, 2, 3, 475), 12), KXERR_FILEREQUIREMENTS},
        {"header cut", cutHeader, KXERR_FILEREQUIREMENTS},
        {"two channels", with(header(0, 1, 2, 2, 2), 8), KXERR_NOTSUPPORTED},
        {"five channels", with(header(0, 1, 2, 2, 5), 20), KXERR_NOTSUPPORTED},
        {"two bytes a channel", with(header(0, 2, 2, 2, 3), 24), KXERR_NOTSUPPORTED},
        // 3 x 1 x 8 = 24 bits, but a single channel.
        {"three bytes a channel, one channel", with(header(0, 3, 2, 2, 1), 12), KXERR_NOTSUPPORTED},
        {"zero width", with(header(0, 1, 0, 2, 3), 12), KXERR_FILEREQUIREMENTS},
        {"verbatim raster short", with(header(0, 1, 4, 4, 3), 47), KXERR_EOF},
        {"large picture, short file", with(header(0, 1, 65535, 65535, 4), 64), KXERR_EOF},
        {"run-length tables cut", cutTable, KXERR_EOF},
        {"run-length row past the file", pastEnd, KXERR_EOF},
        {"run-length row longer than six bytes a pixel", tooLong, KXERR_DECODE},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoSGI>(c.File, l);
        EXPECT_EQ(l.Err, c.Err);
        EXPECT_EQ(l.Buffer, nullptr);
    }
    EXPECT_EQ(Recognises<kxoSGI>(with(header(2, 1, 2, 2, 3), 12)), 1u);  // the magic alone decides
    EXPECT_EQ(Recognises<kxoSGI>(header(0, 1, 2, 2, 3, 475)), 0u);
    EXPECT_EQ(Recognises<kxoSGI>({0x01}), 0u);
}

TEST(Sgi, ReadersSurviveDamagedFiles) {
    for (const char* f : {"netpbm_rgb_rle", "netpbm_grey", "im_rgba", "pil_rgb"})
        KXT_CheckReaderRobustness("kxoSGI", Fixture(std::string("sgi/") + f + ".sgi"));
}

// ---- writer ------------------------------------------------------------------------

TEST(Sgi, WriterRoundTripsThroughOurReaderSgitopnmImageMagickAndPillow) {
    const bool netpbm = KXT_HaveTool("sgitopnm"), im = KXT_HaveTool("convert-im6.q16"), pil = !PillowPython().empty();
    const std::string p = TempPath("rt.sgi"), q = TempPath("rt.ppm");
    for (uint32_t w : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 16u, 17u, 31u}) {
        SCOPED_TRACE("width " + std::to_string(w));
        // The alpha map is not written.
        KX_GfxBuffer* img = MakeImage(w, 3, 24, w == 5);
        Rgb want = ToRgb(img);
        want.Alpha.clear();
        Saved s = SaveTo<kxoSGI>(img, p);
        ASSERT_EQ(s.Err, KXERR_NONE);
        ASSERT_EQ(s.File.size(), 512 + w * 3 * 3);
        std::vector<uint8_t> head = header(0, 1, w, 3, 3);
        head[19] = 255;  // pixmax
        EXPECT_EQ(std::vector<uint8_t>(s.File.begin(), s.File.begin() + 512), head);
        // The file begins with the red plane's bottom row.
        EXPECT_EQ(s.File[512], img->Data[w * 2 * 3]);
        Loaded l;
        LoadFile<kxoSGI>(p, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "") << "our reader";
        if (netpbm) {
            EXPECT_EQ(ReadBack(Shell("sgitopnm " + p + " > " + q), q, want), "") << "sgitopnm";
        }
        if (im) {
            EXPECT_EQ(ReadBack(Shell("convert-im6.q16 " + p + " -depth 8 ppm:" + q), q, want), "") << "ImageMagick";
        }
        if (pil) {
            EXPECT_EQ(ReadBack(RunPillow("Image.open('" + p + "').convert('RGB').save('" + q + "', format='PPM')"), q, want), "")
                << "Pillow";
        }
        KXSUP_FreeGfxBuffer(img);
    }
    unlink(p.c_str());
    unlink(q.c_str());
    if (!netpbm || !im || !pil) GTEST_SKIP() << "sgitopnm, ImageMagick or Pillow is missing: a cross-check did not run";
}

TEST(Sgi, SaveRefusesBeforeTouchingTheFile) {
    const std::string p = TempPath("refuse.sgi");
    struct {
        const char* Name;
        uint32_t W, H, Depth, Err;
    } cases[] = {
        {"palette", 2, 2, 8, KXERR_NEED24BIT},
        {"48 bits", 2, 2, 48, KXERR_NEED24BIT},
        {"wider than the 16-bit field", 65536, 1, 24, KXERR_FILEREQUIREMENTS},
        {"taller than the 16-bit field", 1, 65536, 24, KXERR_FILEREQUIREMENTS},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        KX_GfxBuffer* img = MakeImage(c.W, c.H, c.Depth);
        EXPECT_EQ(SaveOverOld<kxoSGI>(img, p), c.Err);
        KXSUP_FreeGfxBuffer(img);
    }
    unlink(p.c_str());
}

TEST(Sgi, FailedWriteGivesIoAndKeepsTheOldFile) {
    KX_GfxBuffer* img = MakeImage(300, 300, 24);
    kxoSGI sgi;
    EXPECT_EQ(SaveUnderFileSizeLimit(&sgi, img, "full.sgi"), KXERR_IO);
    KXSUP_FreeGfxBuffer(img);
}

}  // namespace
