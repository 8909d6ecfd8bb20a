// kxoXBM: bitmaps of pbmtoxbm (X11 and X10), ImageMagick and GraphicsMagick
// load pixel for pixel; byte tables for the header lines, the value tokens
// and their refusals, short files; the writer's exact text, dithering of
// palette pictures cropped to their size, the polarity of 1-bit pictures,
// round trips, xbmtopbm, ImageMagick and GraphicsMagick reading ours, its
// refusals, the safe save and damaged input.
#include <gtest/gtest.h>

#include "formats/raster/kxoXBM.h"
#include "module_io.h"
#include "operators/colour/kxpHilbertDither256.h"
#include "raster_pixels.h"
#include "support/robustness.h"
#include "write_failure.h"

using namespace kxt;

namespace {

std::vector<uint8_t> text(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST(Xbm, BitmapsOfOtherProgramsLoadPixelForPixel) {
    for (const char* name : {"netpbm", "netpbm_x10", "netpbm_x10_37", "im", "gm"}) {
        SCOPED_TRACE(name);
        Loaded l;
        LoadFile<kxoXBM>(Fixture(std::string("xbm/") + name + ".xbm"), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Buffer->Type, (uint32_t)BITPLANE);
        EXPECT_EQ(l.Buffer->ColorDepth, 1u);
        EXPECT_EQ(l.Buffer->Version, 4u);
        EXPECT_TRUE(l.Buffer->Flags & KXGFXF_GRAY);
        EXPECT_EQ(l.SubFormat, 0u);
        Rgb want;
        ASSERT_TRUE(ReadNetpbm(Fixture(std::string("xbm/") + name + ".ppm"), want));
        EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "");
    }
}

// A 16 x 2 bitmap with the given value lines.
std::string bitmap(const std::string& values, const std::string& header = "#define t_width 16\n#define t_height 2\n") {
    return header + "static char t_bits[] = {\n" + values + "};\n";
}

TEST(Xbm, HeaderLinesAndValues) {
    struct {
        const char* Name;
        std::string File;
        uint32_t Err;
        std::vector<uint8_t> Data;  // the buffer's 4 bytes when loaded
    } cases[] = {
        {"bytes, first pixel in bit 0", bitmap("0x01, 0x02, 0x80, 0xff,\n"), KXERR_NONE, {0x80, 0x40, 0x01, 0xFF}},
        {"upper-case digits, one digit", bitmap("0xF, 0xA0,\n  0x3,0x0 }"), KXERR_NONE, {0xF0, 0x05, 0xC0, 0x00}},
        {"X10 words: the low byte first", bitmap("0x0102, 0x0000003,\n"), KXERR_NONE, {0x40, 0x80, 0xC0, 0x00}},
        {"values after a full bitmap ignored", bitmap("0x01, 0x02, 0x03, 0x04, 0xZZ, 0x123456789,\n"), KXERR_NONE, {0x80, 0x40, 0xC0, 0x20}},
        {"comments, blank lines, hot spot",
         "/* made by hand */\n\n#define t_width 16\n#define t_height 2\n#define t_x_hot 1\n// note\nstatic char t_bits[] = {\n"
         "/* 0xEE, */\n0x01,\n\n0x02, 0x03,\n0x04};\n",
         KXERR_NONE, {0x80, 0x40, 0xC0, 0x20}},
        {"width word in any case", bitmap("0x01, 0x02, 0x03, 0x04", "#define t_WIDTH 16\n#define t_Height 2\n"), KXERR_NONE, {0x80, 0x40, 0xC0, 0x20}},
        {"no width in the first line", bitmap("0x01, 0x02, 0x03, 0x04", "#define w 16\n#define t_height 2\n"), KXERR_DECODE, {}},
        {"no height in the second line", bitmap("0x01, 0x02, 0x03, 0x04", "#define t_width 16\n#define t_x_hot 2\n"), KXERR_DECODE, {}},
        {"width without a number", bitmap("0x01", "#define t_width x\n#define t_height 2\n"), KXERR_DECODE, {}},
        {"width 0", bitmap("0x01", "#define t_width 0\n#define t_height 2\n"), KXERR_FILEREQUIREMENTS, {}},
        {"height beyond 32 bits", bitmap("0x01", "#define t_width 1\n#define t_height 99999999999\n"), KXERR_FILEREQUIREMENTS, {}},
        {"no height line", "#define t_width 16\n", KXERR_EOF, {}},
        {"eight digits", bitmap("0x01, 0x00000001, 0x03, 0x04\n"), KXERR_DECODE, {}},
        {"word above 0xFFFF", bitmap("0x10000, 0x03,\n"), KXERR_DECODE, {}},
        {"not a digit", bitmap("0x01, 0x0g, 0x03, 0x04\n"), KXERR_DECODE, {}},
        {"no digits", bitmap("0x, 0x03,\n"), KXERR_DECODE, {}},
        {"first value at 256", bitmap(std::string(256, ' ') + "0x01, 0x02, 0x03, 0x04\n"), KXERR_DECODE, {}},
        {"first value at 255", bitmap(std::string(255, ' ') + "0x01, 0x02, 0x03, 0x04\n"), KXERR_NONE, {0x80, 0x40, 0xC0, 0x20}},
        {"bitmap not filled", bitmap("0x01, 0x02, 0x03\n"), KXERR_EOF, {}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoXBM>(text(c.File), l, "t.xbm");
        ASSERT_EQ(l.Err, c.Err);
        if (c.Err != KXERR_NONE) {
            EXPECT_EQ(l.Buffer, nullptr);
            continue;
        }
        ASSERT_EQ(l.Buffer->Width, 16u);
        ASSERT_EQ(l.Buffer->Height, 2u);
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 4), c.Data);
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Palette, l.Buffer->Palette + 6), (std::vector<uint8_t>{255, 255, 255, 0, 0, 0}));
    }
}

TEST(Xbm, Recognition) {
    struct {
        std::string Start;
        const char* Name;
        uint32_t Known;
    } cases[] = {
        {"/* XBM */\n", "a.bin", 1}, {"#define a_width 1\n", "a.xbm", 1}, {"#define a_width 1\n", "a.XBM", 1},
        {"/* x */\n", "a.xbm", 1},   {"#define a_width 1\n", "a.h", 0},   {"static char", "a.xbm", 0},
        {"/* XB", "a.bin", 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Start + c.Name);
        EXPECT_EQ(Recognises<kxoXBM>(text(c.Start), c.Name), c.Known);
    }
}

// ---- writer -------------------------------------------------------------------

KX_GfxBuffer* oneBit(uint32_t w, uint32_t h, bool darkFirst) {
    KX_GfxBuffer* b = MakeImage(w, h, 1);
    memset(b->Palette, 0, 6);
    memset(darkFirst ? b->Palette + 3 : b->Palette, 255, 3);
    for (uint32_t i = 0; i < w * h; ++i) b->Data[i] = (uint8_t)((i * 7 / 3 + i / w) % 3 == 0);
    return b;
}

TEST(Xbm, WriterText) {
    const std::string p = TempPath("w.xbm");
    // 10 x 2, entry 1 black: index 1 is a set bit, the first pixel bit 0.
    KX_GfxBuffer* img = oneBit(10, 2, false);
    memset(img->Data, 0, 20);
    img->Data[0] = img->Data[9] = img->Data[12] = 1;
    Saved s = SaveTo<kxoXBM>(img, p);
    ASSERT_EQ(s.Err, KXERR_NONE);
    EXPECT_EQ(std::string(s.File.begin(), s.File.end()),
              "/* XBM */\n#define IMAGE_width 10\n#define IMAGE_height 2\nstatic char IMAGE_bits[] = {\n"
              "0x01, 0x02, \n0x04, 0x00, \n};\n");
    // Entry 0 black: the picture is written inverted, so it looks the same
    // (the padding bits stay clear).
    memcpy(img->Palette, "\0\0\0\xFF\xFF\xFF", 6);
    s = SaveTo<kxoXBM>(img, p);
    ASSERT_EQ(s.Err, KXERR_NONE);
    EXPECT_NE(std::string(s.File.begin(), s.File.end()).find("0xfe, 0x01, \n0xfb, 0x03, \n"), std::string::npos);
    KXSUP_FreeGfxBuffer(img);
    unlink(p.c_str());
}

TEST(Xbm, WriterRoundTripsAndPolarity) {
    const std::string p = TempPath("rt.xbm");
    for (bool darkFirst : {false, true})
        for (uint32_t w : {1u, 2u, 7u, 8u, 9u, 15u, 16u, 17u, 31u}) {
            SCOPED_TRACE("width " + std::to_string(w) + (darkFirst ? " dark entry 0" : ""));
            KX_GfxBuffer* img = oneBit(w, 5, darkFirst);
            ASSERT_EQ(SaveTo<kxoXBM>(img, p).Err, KXERR_NONE);
            Loaded l;
            LoadFile<kxoXBM>(p, l);
            ASSERT_EQ(l.Err, KXERR_NONE);
            EXPECT_EQ(Compare(ToRgb(l.Buffer), ToRgb(img)), "");
            KXSUP_FreeGfxBuffer(img);
        }
    // A one-bit picture in bit planes is written as well.
    KX_GfxBuffer* img = oneBit(13, 3, false);
    KX_GfxBuffer* planes = nullptr;
    ASSERT_EQ(KXSUP_OnePlaneToBitPlane8(img, &planes), KXERR_NONE);
    ASSERT_EQ(SaveTo<kxoXBM>(planes, p).Err, KXERR_NONE);
    Loaded l;
    LoadFile<kxoXBM>(p, l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(Compare(ToRgb(l.Buffer), ToRgb(img)), "");
    KXSUP_FreeGfxBuffer(planes);
    KXSUP_FreeGfxBuffer(img);
    unlink(p.c_str());
}

TEST(Xbm, PalettePicturesAreDitheredAndKeepTheirSize) {
    const std::string p = TempPath("d.xbm");
    KX_GfxBuffer* img = MakeImage(20, 20, 8);
    Saved s = SaveTo<kxoXBM>(img, p);
    ASSERT_EQ(s.Err, KXERR_NONE);
    Loaded l;
    LoadFile<kxoXBM>(p, l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    ASSERT_EQ(l.Buffer->Width, 20u);
    ASSERT_EQ(l.Buffer->Height, 20u);
    // The pixels are the operator's, white background, cut to 20 x 20.
    kxpHilbertDither256 op;
    uint32_t err = 0;
    KXConfig settings(op.PadPath, &err);
    op.SetLocalConfig(settings.GetPadList());
    settings.SetValue("BACKGROUND", "WHITE");
    KX_GfxBuffer* d = nullptr;
    ASSERT_EQ(op.OperateTagList(img, &d, nullptr), KXERR_NONE);
    ASSERT_EQ(d->Width, 32u);
    const Rgb got = ToRgb(l.Buffer), dithered = ToRgb(d);
    for (uint32_t y = 0; y < 20; ++y)
        EXPECT_EQ(memcmp(&got.Pix[y * 20 * 3], &dithered.Pix[y * 32 * 3], 60), 0) << "row " << y;
    KXSUP_FreeGfxBuffer(img);
    unlink(p.c_str());
}

TEST(Xbm, SaveRefusalsAndFailedWrites) {
    const std::string p = TempPath("refuse.xbm");
    KX_GfxBuffer* ham = MakeImage(4, 4, 6);
    ham->ViewMode = KXVIEWMODE_HAM;
    struct {
        const char* Name;
        KX_GfxBuffer* Image;
        uint32_t Err;
    } cases[] = {
        {"24 bits", MakeImage(4, 4, 24), KXERR_NO24BIT},
        {"48 bits", MakeImage(4, 4, 48), KXERR_NO24BIT},
        {"HAM", ham, KXERR_NOHAM},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(SaveOverOld<kxoXBM>(c.Image, p), c.Err);
        KXSUP_FreeGfxBuffer(c.Image);
    }
    unlink(p.c_str());
    kxoXBM m;
    EXPECT_EQ(m.Save(), KXERR_NOTSUPPORTED);
    for (uint32_t depth : {1u, 8u}) {
        KX_GfxBuffer* img = MakeImage(600, 300, depth);
        kxoXBM w;
        EXPECT_EQ(SaveUnderFileSizeLimit(&w, img, "full.xbm"), KXERR_IO);
        KXSUP_FreeGfxBuffer(img);
    }
}

TEST(Xbm, OtherProgramsReadOurBitmaps) {
    KXT_NEED_TOOL("xbmtopbm");
    KXT_NEED_TOOL("convert-im6.q16");
    KXT_NEED_TOOL("gm");
    const std::string p = TempPath("ours.xbm"), q = TempPath("ours.ppm");
    KX_GfxBuffer* img = oneBit(37, 11, true);
    ASSERT_EQ(SaveTo<kxoXBM>(img, p).Err, KXERR_NONE);
    const Rgb want = ToRgb(img);
    const std::string readers[] = {"xbmtopbm " + p + " | ppmtoppm > " + q, "convert-im6.q16 " + p + " -depth 8 ppm:" + q,
                                   "gm convert " + p + " -depth 8 ppm:" + q};
    for (const std::string& cmd : readers) {
        SCOPED_TRACE(cmd);
        unlink(q.c_str());
        EXPECT_EQ(ReadBack(Shell(cmd), q, want), "");
    }
    KXSUP_FreeGfxBuffer(img);
    unlink(p.c_str());
    unlink(q.c_str());
}

TEST(Xbm, ReaderSurvivesDamagedFiles) {
    for (const char* name : {"netpbm", "netpbm_x10_37", "im"}) {
        KXRobustnessOptions o;
        o.Extension = ".xbm";
        KXT_CheckReaderRobustness("kxoXBM", Fixture(std::string("xbm/") + name + ".xbm"), o);
    }
}

}  // namespace
