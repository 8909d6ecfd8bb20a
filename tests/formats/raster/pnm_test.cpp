// kxoPNM: the six kinds made by netpbm load pixel for pixel, header
// quirks and refusals, the two pad keys, the writer through our reader and
// through netpbm and ImageMagick, safe save and damaged input.
#include <gtest/gtest.h>

#include "formats/raster/kxoPNM.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"
#include "write_failure.h"

using namespace kxt;

namespace {

void loadText(const std::string& text, Loaded& out) {
    std::string p = TempPath("text.pnm");
    WriteAll(p, std::vector<uint8_t>(text.begin(), text.end()));
    LoadFile<kxoPNM>(p, out);
    unlink(p.c_str());
}

// ---- files made by netpbm --------------------------------------------------------

struct FixtureCase {
    const char* File;
    const char* Expected;
    uint32_t Depth;
    uint32_t PixelBits;  // 0: bit planes
    uint32_t SubFormat;
};

std::string fixtureName(const ::testing::TestParamInfo<FixtureCase>& info) {
    std::string n = info.param.File;
    for (char& ch : n)
        if (!isalnum((unsigned char)ch)) ch = '_';
    return n;
}

class PnmFixture : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(PnmFixture, LoadsLikeNetpbm) {
    const FixtureCase& c = GetParam();
    Loaded l;
    LoadFile<kxoPNM>(Fixture(std::string("pnm/") + c.File), l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    ASSERT_NE(l.Buffer, nullptr);
    EXPECT_EQ(l.Buffer->ColorDepth, c.Depth);
    EXPECT_EQ(l.Buffer->PixelBits, c.PixelBits);
    EXPECT_EQ(l.Buffer->Type, c.PixelBits ? (uint32_t)ONEPLANE : (uint32_t)BITPLANE);
    EXPECT_EQ(l.SubFormat, c.SubFormat);
    const bool grey = c.SubFormat == 1;
    EXPECT_EQ((KXSUP_GetGfxBufferFlags(l.Buffer) & KXGFXF_GRAY) != 0, grey);
    if (c.PixelBits == 48) {
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(l.Buffer) & (KXGFXF_II | KXGFXF_MM), (uint32_t)KXGFXF_II);
    }
    Rgb want;
    ASSERT_TRUE(ReadNetpbm(Fixture(std::string("pnm/") + c.Expected), want));
    EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "");
    ASSERT_FALSE(l.Progress.empty());
    EXPECT_EQ(l.Progress.back(), 100u);
}

INSTANTIATE_TEST_SUITE_P(Files, PnmFixture,
                         ::testing::Values(FixtureCase{"p6.ppm", "p6.ppm", 24, 24, 0}, FixtureCase{"p3.ppm", "p6.ppm", 24, 24, 0},
                                           FixtureCase{"p5.pgm", "p5.pgm", 8, 8, 1}, FixtureCase{"p2.pgm", "p5.pgm", 8, 8, 1},
                                           FixtureCase{"p4.pbm", "p4.expect.ppm", 1, 0, 1},
                                           FixtureCase{"p1.pbm", "p1.expect.ppm", 8, 8, 1},
                                           FixtureCase{"p6_16.ppm", "p6.ppm", 48, 48, 0},
                                           FixtureCase{"p3_m65535.ppm", "p6.ppm", 48, 48, 0},
                                           FixtureCase{"p5_16.pgm", "p5.pgm", 8, 8, 1},
                                           // Other maxvals: colour samples are rescaled, grey maps get a ramp.
                                           FixtureCase{"p6_m15.ppm", "p6_m15.expect.ppm", 24, 24, 0},
                                           FixtureCase{"p3_m100.ppm", "p3_m100.expect.ppm", 24, 24, 0},
                                           FixtureCase{"p5_m15.pgm", "p5_m15.expect.ppm", 4, 8, 1},
                                           FixtureCase{"p2_m100.pgm", "p2_m100.expect.ppm", 7, 8, 1}),
                         fixtureName);

TEST(Pnm, ReadersSurviveDamagedFiles) {
    for (const char* f : {"p6.ppm", "p3.ppm", "p5.pgm", "p2.pgm", "p4.pbm", "p1.pbm", "p6_16.ppm", "p5_m15.pgm"})
        KXT_CheckReaderRobustness("kxoPNM", Fixture(std::string("pnm/") + f));
}

// ---- headers ------------------------------------------------------------------------

TEST(Pnm, HeaderSpellingsAndRefusals) {
    const std::string px6 = "\x01\x02\x03\x04\x05\x06";
    struct {
        const char* Name;
        std::string Text;
        uint32_t Err;
        uint32_t W, H;
    } cases[] = {
        {"comment before width", "P6\n# made by hand\n2 1\n255\n" + px6, KXERR_NONE, 2, 1},
        {"single spaces", "P6 2 1 255 " + px6, KXERR_NONE, 2, 1},
        {"CR line ends", "P6\r2\r1\r255\r" + px6, KXERR_NONE, 2, 1},
        {"tab separators", "P6\t2\t1\t255\n" + px6, KXERR_NONE, 2, 1},
        {"comment after maxval", "P6 2 1 255#x\n" + px6, KXERR_NONE, 2, 1},
        {"P1 digits without separators", "P1\n2 2\n0101", KXERR_NONE, 2, 2},
        {"maxval 1000", "P6 2 1 1000\n" + px6, KXERR_FILEREQUIREMENTS, 0, 0},
        {"maxval 0", "P5 2 1 0\n\0\0", KXERR_FILEREQUIREMENTS, 0, 0},
        {"zero width", "P5 0 1 255\n", KXERR_FILEREQUIREMENTS, 0, 0},
        {"16-digit width", "P5 1234567890123456 1 255\n", KXERR_FILEREQUIREMENTS, 0, 0},
        {"width above 32 bits", "P5 99999999999 1 255\n", KXERR_FILEREQUIREMENTS, 0, 0},
        {"huge picture", "P6 4000000000 4000000000 255\n", KXERR_FILEREQUIREMENTS, 0, 0},
        {"not a map", "P7\nWIDTH 1\n", KXERR_UNKNOWNFORMAT, 0, 0},
        {"empty file", "", KXERR_UNKNOWNFORMAT, 0, 0},
        {"header cut", "P6\n2 ", KXERR_EOF, 0, 0},
        {"comment to the end", "P6\n# no end", KXERR_EOF, 0, 0},
        {"raster cut", "P6 2 1 255\n\x01\x02", KXERR_EOF, 0, 0},
        {"ASCII raster cut", "P3 2 1 255\n1 2 3 4", KXERR_EOF, 0, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        loadText(c.Text, l);
        EXPECT_EQ(l.Err, c.Err);
        if (c.Err == KXERR_NONE) {
            ASSERT_NE(l.Buffer, nullptr);
            EXPECT_EQ(l.Buffer->Width, c.W);
            EXPECT_EQ(l.Buffer->Height, c.H);
        } else {
            EXPECT_EQ(l.Buffer, nullptr);
        }
    }
}

TEST(Pnm, SampleValuesAndPalettes) {
    {
        // P1: 1 black, 0 white; an 8-bit grey image.
        Loaded l;
        loadText("P1\n2 2\n0101", l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 4), (std::vector<uint8_t>{0, 1, 0, 1}));
        EXPECT_EQ(l.Buffer->Palette[0], 255);
        EXPECT_EQ(l.Buffer->Palette[3], 0);
        EXPECT_EQ(l.Buffer->Version, 4u);
    }
    {
        // P5 maxval 15: the samples stay, the palette spreads them to white.
        Loaded l;
        loadText(std::string("P5 4 1 15\n") + std::string("\x00\x05\x0a\x0f", 4), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Buffer->ColorDepth, 4u);
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 4), (std::vector<uint8_t>{0, 5, 10, 15}));
        EXPECT_EQ(l.Buffer->Palette[5 * 3], 85);
        EXPECT_EQ(l.Buffer->Palette[15 * 3], 255);
    }
    for (const std::string& text : {std::string("P6 1 1 15\n\x0f\x08\x00", 13), std::string("P3 1 1 15\n15 8 0")}) {
        // maxval 15: 15 becomes 255 and 8 becomes 136 in both kinds.
        Loaded l;
        loadText(text, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 3), (std::vector<uint8_t>{255, 136, 0}));
    }
    {
        // Samples above maxval count as maxval.
        Loaded l;
        loadText("P3 1 1 100\n100 250 50", l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 3), (std::vector<uint8_t>{255, 255, 128}));
    }
}

TEST(Pnm, ColorDepthKeyPicksTwentyFourBitForSixteenBitFiles) {
    struct {
        const char* Value;
        uint32_t Depth;
    } cases[] = {{"24", 24}, {"24bit", 48}, {"48", 48}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.Value);
        uint32_t err = 0;
        kxoPNM probe;
        KXConfig cfg(probe.PadPath, &err);
        ASSERT_EQ(err, KXERR_NONE);
        cfg.SetValue("COLORDEPTH", c.Value);
        Loaded l;
        LoadFile<kxoPNM>(Fixture("pnm/p6_16.ppm"), l, cfg.GetPadList());
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Buffer->ColorDepth, c.Depth);
        Rgb want;
        ASSERT_TRUE(ReadNetpbm(Fixture("pnm/p6.ppm"), want));
        EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "");
    }
}

// ---- writer ----------------------------------------------------------------------------

struct SaveResult {
    uint32_t Err;
    std::vector<uint8_t> File;
};

SaveResult saveImage(KX_GfxBuffer* img, uint32_t sub, const std::string& path, List* settings = nullptr) {
    kxoPNM pnm;
    if (settings) pnm.SetLocalConfig(settings);
    pnm.SetSaveName(path.c_str());
    pnm.SetSubFormat(sub);
    pnm.SetGfxBuffer(img);
    SaveResult r{pnm.Save(), {}};
    r.File = KXT_ReadBytes(path);
    return r;
}

Rgb greyOf(const Rgb& c) {
    Rgb g = c;
    for (size_t i = 0; i < c.Pix.size(); i += 3) {
        uint8_t v = (uint8_t)((c.Pix[i] * 30 + c.Pix[i + 1] * 59 + c.Pix[i + 2] * 11) / 100);
        g.Pix[i] = g.Pix[i + 1] = g.Pix[i + 2] = v;
    }
    return g;
}

TEST(Pnm, WriterRoundTripsThroughOurReaderAndNetpbm) {
    const bool netpbm = KXT_HaveTool("pamdepth");
    std::string p = TempPath("rt.pnm"), q = TempPath("rt_check.pnm");
    for (uint32_t depth : {1u, 4u, 8u, 24u, 48u}) {
        for (uint32_t sub : {0u, 1u}) {
            for (uint32_t w : {1u, 2u, 3u, 7u, 8u, 9u, 16u, 17u, 31u}) {
                SCOPED_TRACE("depth " + std::to_string(depth) + " sub " + std::to_string(sub) + " width " + std::to_string(w));
                KX_GfxBuffer* img = MakeImage(w, 3, depth);
                Rgb want = ToRgb(img);  // before the writer turns 48-bit samples big-endian
                if (sub == 1) want = greyOf(want);
                SaveResult s = saveImage(img, sub, p);
                ASSERT_EQ(s.Err, KXERR_NONE);
                Loaded l;
                LoadFile<kxoPNM>(p, l);
                ASSERT_EQ(l.Err, KXERR_NONE);
                EXPECT_EQ(l.SubFormat, sub);
                EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "") << "our reader";
                if (netpbm) {
                    Rgb got;
                    ASSERT_TRUE(Shell("pamdepth 255 " + p + " > " + q));
                    ASSERT_TRUE(ReadNetpbm(q, got));
                    // 16-bit samples are scaled by netpbm, rounded; the high byte is at most one below.
                    EXPECT_EQ(Compare(got, want, depth == 48 ? 1 : 0), "") << "netpbm";
                }
                KXSUP_FreeGfxBuffer(img);
            }
        }
    }
    unlink(p.c_str());
    unlink(q.c_str());
    if (!netpbm) GTEST_SKIP() << "pamdepth (netpbm) is not installed: the cross-check did not run";
}

TEST(Pnm, WriterOutputBytes) {
    std::string p = TempPath("bytes.pnm");
    KX_GfxBuffer* red = MakeImage(1, 1, 24);
    red->Data[0] = 255, red->Data[1] = 0, red->Data[2] = 0;
    SaveResult s = saveImage(red, 1, p);
    ASSERT_EQ(s.Err, KXERR_NONE);
    EXPECT_EQ(std::string(s.File.begin(), s.File.end()), std::string("P5\n1 1\n255\n") + (char)76);

    KX_GfxBuffer* deep = MakeImage(1, 1, 48);
    uint16_t v[3] = {0x1234, 0xABCD, 0x00FF};
    memcpy(deep->Data, v, 6);
    s = saveImage(deep, 0, p);
    ASSERT_EQ(s.Err, KXERR_NONE);
    EXPECT_EQ(std::string(s.File.begin(), s.File.end()), std::string("P6\n1 1\n65535\n\x12\x34\xAB\xCD\x00\xFF", 19));
    // The caller's image is left as it was.
    EXPECT_EQ(0, memcmp(deep->Data, v, 6));
    KXSUP_SetGfxBufferEndianess(deep, KXGFXF_MM);  // marked big-endian: written as it stands
    memcpy(deep->Data, "\x12\x34\xAB\xCD\x00\xFF", 6);
    s = saveImage(deep, 0, p);
    EXPECT_EQ(std::string(s.File.begin(), s.File.end()), std::string("P6\n1 1\n65535\n\x12\x34\xAB\xCD\x00\xFF", 19));

    uint32_t err = 0;
    kxoPNM probe;
    KXConfig cfg(probe.PadPath, &err);
    cfg.SetValue("SUPPRESS_HEADER", "NO");
    s = saveImage(red, 0, p, cfg.GetPadList());
    EXPECT_EQ(s.File, (std::vector<uint8_t>{255, 0, 0}));
    KXSUP_FreeGfxBuffer(red);
    KXSUP_FreeGfxBuffer(deep);
    unlink(p.c_str());
}

TEST(Pnm, SaveRefusesBeforeTouchingTheFile) {
    std::string p = TempPath("refuse.pnm");
    KX_GfxBuffer* odd = MakeImage(2, 2, 24);
    odd->ColorDepth = 16;  // a depth no writer stores
    EXPECT_EQ(SaveOverOld<kxoPNM>(odd, p), KXERR_NOTSUPPORTED);
    KXSUP_FreeGfxBuffer(odd);
    unlink(p.c_str());
}

TEST(Pnm, FailedWriteGivesIoAndKeepsTheOldFile) {
    KX_GfxBuffer* img = MakeImage(300, 300, 24);
    kxoPNM pnm;
    EXPECT_EQ(SaveUnderFileSizeLimit(&pnm, img, "full.ppm"), KXERR_IO);
    KXSUP_FreeGfxBuffer(img);
}

TEST(Pnm, ImageMagickFilesLoadAndOursReadInImageMagick) {
    KXT_NEED_TOOL("convert-im6.q16");
    std::string src = TempPath("im.ppm"), p = TempPath("im_out.pnm"), q = TempPath("im_back.ppm");
    ASSERT_TRUE(Shell("convert-im6.q16 -size 19x6 xc: +noise Random -depth 8 ppm:" + src));
    Rgb want;
    ASSERT_TRUE(ReadNetpbm(src, want));
    for (std::string fmt : {"ppm", "pgm"}) {
        SCOPED_TRACE(fmt);
        ASSERT_TRUE(Shell("convert-im6.q16 " + src + " -compress none " + fmt + ":" + p));  // ASCII kinds
        Loaded l;
        LoadFile<kxoPNM>(p, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        Rgb theirs;
        ASSERT_TRUE(Shell("convert-im6.q16 " + p + " -depth 8 ppm:" + q));
        ASSERT_TRUE(ReadNetpbm(q, theirs));
        EXPECT_EQ(Compare(ToRgb(l.Buffer), theirs), "");
        // And back: our raw file of what we loaded reads the same there.
        ASSERT_EQ(saveImage(l.Buffer, fmt == "pgm" ? 1 : 0, p).Err, KXERR_NONE);
        ASSERT_TRUE(Shell("convert-im6.q16 " + p + " -depth 8 ppm:" + q));
        Rgb back;
        ASSERT_TRUE(ReadNetpbm(q, back));
        EXPECT_EQ(Compare(back, theirs), "");
    }
    unlink(src.c_str());
    unlink(p.c_str());
    unlink(q.c_str());
}

}  // namespace
