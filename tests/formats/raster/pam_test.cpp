// kxoPAM: files made by netpbm and ImageMagick load pixel for pixel (grey,
// black-and-white and RGB, with and without alpha, maxval 255 and 65535),
// header quirks and refusals, the writer through our reader, netpbm and
// ImageMagick, safe save and damaged input.
#include <gtest/gtest.h>

#include "formats/raster/kxoPAM.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"
#include "write_failure.h"

using namespace kxt;

namespace {

void loadText(const std::string& text, Loaded& out, List* settings = nullptr) {
    std::string p = TempPath("text.pam");
    WriteAll(p, std::vector<uint8_t>(text.begin(), text.end()));
    LoadFile<kxoPAM>(p, out, settings);
    unlink(p.c_str());
}

std::string pamHeader(uint32_t w, uint32_t h, uint32_t depth, uint32_t maxval, const char* type) {
    return "P7\nWIDTH " + std::to_string(w) + "\nHEIGHT " + std::to_string(h) + "\nDEPTH " + std::to_string(depth) + "\nMAXVAL " +
           std::to_string(maxval) + "\nTUPLTYPE " + type + "\nENDHDR\n";
}

// The alpha of an image as bytes: an 8-bit map, or the high bytes of a
// 16-bit one (host order); empty without alpha.
std::vector<uint8_t> alphaBytes(const KX_GfxBuffer* b) {
    const size_t n = (size_t)b->Width * b->Height;
    if (KXSUP_AlphaHolds(b) == KXALPHA_CHANNEL8) return std::vector<uint8_t>(KXSUP_AlphaBytes(b), KXSUP_AlphaBytes(b) + n);
    std::vector<uint8_t> a;
    if (KXSUP_AlphaHolds(b) == KXALPHA_CHANNEL16)
        for (size_t i = 0; i < n; ++i) a.push_back((uint8_t)(static_cast<const uint16_t*>(b->AlphaData)[i] >> 8));
    return a;
}

KXConfig* padWith(const char* key, const char* value) {
    uint32_t err = 0;
    kxoPAM probe;
    auto* cfg = new KXConfig(probe.PadPath, &err);
    cfg->SetValue(key, value);
    return cfg;
}

// ---- files made by netpbm and ImageMagick -------------------------------------------

struct FixtureCase {
    const char* File;
    const char* Expected;  // read by the test's own netpbm reader
    const char* Alpha;     // expected alpha as a PGM, or null
    uint32_t Depth, PixelBits, SubFormat;
};

class PamFixture : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(PamFixture, LoadsLikeNetpbm) {
    const FixtureCase& c = GetParam();
    Loaded l;
    LoadFile<kxoPAM>(Fixture(std::string("pam/") + c.File), l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    ASSERT_NE(l.Buffer, nullptr);
    EXPECT_EQ(l.Buffer->ColorDepth, c.Depth);
    EXPECT_EQ(l.Buffer->PixelBits, c.PixelBits);
    EXPECT_EQ(l.SubFormat, c.SubFormat);
    EXPECT_EQ((KXSUP_GetGfxBufferFlags(l.Buffer) & KXGFXF_GRAY) != 0, c.SubFormat == 1);
    if (c.PixelBits == 48) {
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(l.Buffer) & (KXGFXF_II | KXGFXF_MM), (uint32_t)KXGFXF_II);
    }
    Rgb want, got = ToRgb(l.Buffer);
    ASSERT_TRUE(ReadNetpbm(Fixture(std::string("pam/") + c.Expected), want));
    got.Alpha.clear();
    want.Alpha.clear();
    EXPECT_EQ(Compare(got, want), "");
    if (c.Alpha) {
        Rgb a;
        ASSERT_TRUE(ReadNetpbm(Fixture(std::string("pam/") + c.Alpha), a));
        std::vector<uint8_t> wantAlpha;
        for (size_t i = 0; i < a.Pix.size(); i += 3) wantAlpha.push_back(a.Pix[i]);
        EXPECT_EQ(alphaBytes(l.Buffer), wantAlpha);
        EXPECT_EQ(KXSUP_AlphaHolds(l.Buffer), c.PixelBits == 48 ? (uint32_t)KXALPHA_CHANNEL16 : (uint32_t)KXALPHA_CHANNEL8);
    } else {
        EXPECT_EQ(KXSUP_AlphaHolds(l.Buffer), (uint32_t)KXALPHA_NONE);
    }
    ASSERT_FALSE(l.Progress.empty());
    EXPECT_EQ(l.Progress.back(), 100u);
}

INSTANTIATE_TEST_SUITE_P(Files, PamFixture,
                         ::testing::Values(FixtureCase{"rgb.pam", "rgb.ppm", nullptr, 24, 24, 0},
                                           FixtureCase{"rgba.pam", "rgb.ppm", "alpha.pgm", 24, 24, 0},
                                           FixtureCase{"im_rgba.pam", "rgb.ppm", "alpha.pgm", 24, 24, 0},
                                           FixtureCase{"rgb16.pam", "rgb.ppm", nullptr, 48, 48, 0},
                                           FixtureCase{"rgba16.pam", "rgb.ppm", "alpha.pgm", 48, 48, 0},
                                           FixtureCase{"grey.pam", "grey.pgm", nullptr, 8, 8, 1},
                                           FixtureCase{"im_grey.pam", "grey.pgm", nullptr, 8, 8, 1},
                                           FixtureCase{"grey16.pam", "grey.pgm", nullptr, 8, 8, 1},
                                           FixtureCase{"greya.pam", "grey.pgm", "alpha.pgm", 24, 24, 1},
                                           FixtureCase{"greya16.pam", "grey.pgm", "alpha.pgm", 48, 48, 1},
                                           FixtureCase{"bw.pam", "bw.expect.ppm", nullptr, 1, 8, 1}),
                         [](const ::testing::TestParamInfo<FixtureCase>& info) {
                             std::string n = info.param.File;
                             for (char& ch : n)
                                 if (!isalnum((unsigned char)ch)) ch = '_';
                             return n;
                         });

TEST(Pam, ReadersSurviveDamagedFiles) {
    for (const char* f : {"rgb.pam", "rgba.pam", "rgba16.pam", "greya.pam", "grey16.pam", "bw.pam"})
        KXT_CheckReaderRobustness("kxoPAM", Fixture(std::string("pam/") + f));
}

// ---- headers ----------------------------------------------------------------------------

TEST(Pam, HeaderSpellingsAndRefusals) {
    const std::string px = "\x01\x02\x03\x04\x05\x06";
    struct {
        const char* Name;
        std::string Text;
        uint32_t Err;
        uint32_t Depth;  // ColorDepth of a loaded image
        uint32_t Alpha;
    } cases[] = {
        {"comments and unknown keywords", "P7\n# made by hand\nWIDTH 2\nHEIGHT 1\nFOO bar\nDEPTH 3\nTUPLTYPE RGB\nENDHDR\n" + px,
         KXERR_NONE, 24, KXALPHA_NONE},
        {"later line wins", "P7\nWIDTH 9\nWIDTH 2\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n" + px, KXERR_NONE, 24,
         KXALPHA_NONE},
        {"RGBA is RGB without alpha", pamHeader(1, 1, 4, 255, "RGBA") + "\x01\x02\x03\x04", KXERR_NONE, 24, KXALPHA_NONE},
        {"GRAYSCALE_ALPHA", pamHeader(1, 1, 2, 255, "GRAYSCALE_ALPHA") + "\x01\x02", KXERR_NONE, 24, KXALPHA_CHANNEL8},
        {"DEPTH 5 skips a sample", pamHeader(1, 1, 5, 255, "RGB_ALPHA") + "\x01\x02\x03\x04\x05", KXERR_NONE, 24, KXALPHA_CHANNEL8},
        {"CR LF never ends the header", "P7\r\nWIDTH 1\r\nHEIGHT 1\r\nDEPTH 1\r\nTUPLTYPE GRAY\r\nENDHDR\r\n\x01", KXERR_EOF, 0, 0},
        {"CMYK", pamHeader(1, 1, 4, 255, "CMYK") + "\x01\x02\x03\x04", KXERR_FILEREQUIREMENTS, 0, 0},
        {"no TUPLTYPE", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nENDHDR\n\x01", KXERR_FILEREQUIREMENTS, 0, 0},
        {"DEPTH too small for RGB", pamHeader(1, 1, 2, 255, "RGB") + "\x01\x02", KXERR_FILEREQUIREMENTS, 0, 0},
        {"DEPTH too small for alpha", pamHeader(1, 1, 1, 255, "GRAYSCALE_ALPHA") + "\x01", KXERR_FILEREQUIREMENTS, 0, 0},
        {"MAXVAL 1000", pamHeader(1, 1, 1, 1000, "GRAYSCALE") + "\x01\x02", KXERR_FILEREQUIREMENTS, 0, 0},
        {"MAXVAL 0", pamHeader(1, 1, 1, 0, "GRAYSCALE") + "\x01", KXERR_FILEREQUIREMENTS, 0, 0},
        {"zero width", pamHeader(0, 1, 1, 255, "GRAYSCALE"), KXERR_FILEREQUIREMENTS, 0, 0},
        {"width above 32 bits", "P7\nWIDTH 99999999999\nHEIGHT 1\nDEPTH 1\nTUPLTYPE GRAY\nENDHDR\n\x01", KXERR_FILEREQUIREMENTS, 0,
         0},
        {"huge sizes, short file", pamHeader(4000000000u, 4000000000u, 4, 65535, "RGB_ALPHA"), KXERR_FILEREQUIREMENTS, 0, 0},
        {"large picture, short file", pamHeader(30000, 30000, 3, 255, "RGB") + px, KXERR_EOF, 0, 0},
        {"raster cut", pamHeader(2, 1, 3, 255, "RGB") + "\x01\x02", KXERR_EOF, 0, 0},
        {"header cut", "P7\nWIDTH 2\n", KXERR_EOF, 0, 0},
        {"P6 is not a PAM", "P6 1 1 255\n\x01\x02\x03", KXERR_UNKNOWNFORMAT, 0, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        loadText(c.Text, l);
        EXPECT_EQ(l.Err, c.Err);
        if (c.Err == KXERR_NONE) {
            ASSERT_NE(l.Buffer, nullptr);
            EXPECT_EQ(l.Buffer->ColorDepth, c.Depth);
            EXPECT_EQ(KXSUP_AlphaHolds(l.Buffer), c.Alpha);
        } else {
            EXPECT_EQ(l.Buffer, nullptr);
        }
    }
}

TEST(Pam, SampleValues) {
    {
        // 16-bit grey without alpha: sample / 257.
        Loaded l;
        loadText(pamHeader(2, 1, 1, 65535, "GRAYSCALE") + std::string("\xFF\xFF\x80\x80", 4), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Buffer->Data[0], 255);
        EXPECT_EQ(l.Buffer->Data[1], 128);
    }
    {
        // 16-bit RGB with COLORDEPTH=24 keeps the high bytes.
        std::unique_ptr<KXConfig> pad(padWith("colordepth", "24"));
        Loaded l;
        loadText(pamHeader(1, 1, 3, 65535, "RGB") + std::string("\x80\x80\x7F\xFF\x00\x01", 6), l, pad->GetPadList());
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Buffer->PixelBits, 24u);
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 3), (std::vector<uint8_t>{128, 127, 0}));
    }
    {
        // RGB below maxval 255 is rescaled (15: times 17), alpha too.
        Loaded l;
        loadText(pamHeader(1, 1, 4, 15, "RGB_ALPHA") + std::string("\x0F\x08\x00\x05", 4), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 3), (std::vector<uint8_t>{255, 136, 0}));
        EXPECT_EQ(alphaBytes(l.Buffer), std::vector<uint8_t>{85});
    }
    {
        // Grey below maxval 255 keeps its samples under a reduced ramp.
        Loaded l;
        loadText(pamHeader(4, 1, 1, 15, "GRAYSCALE") + std::string("\x00\x05\x0a\x0f", 4), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Buffer->ColorDepth, 4u);
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 4), (std::vector<uint8_t>{0, 5, 10, 15}));
        EXPECT_EQ(l.Buffer->Palette[15 * 3], 255);
    }
    {
        // Black and white with alpha: 0 and 1 become black and white.
        Loaded l;
        loadText(pamHeader(2, 1, 2, 1, "BLACKANDWHITE_ALPHA") + std::string("\x00\x01\x01\x00", 4), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 6), (std::vector<uint8_t>{0, 0, 0, 255, 255, 255}));
        EXPECT_EQ(alphaBytes(l.Buffer), (std::vector<uint8_t>{255, 0}));
        EXPECT_NE(KXSUP_GetGfxBufferFlags(l.Buffer) & KXGFXF_GRAY, 0u);
    }
}

// ---- writer ------------------------------------------------------------------------------

struct SaveResult {
    uint32_t Err;
    std::vector<uint8_t> File;
};

SaveResult saveImage(KX_GfxBuffer* img, uint32_t sub, const std::string& path, List* settings = nullptr) {
    kxoPAM pam;
    if (settings) pam.SetLocalConfig(settings);
    pam.SetSaveName(path.c_str());
    pam.SetSubFormat(sub);
    pam.SetGfxBuffer(img);
    SaveResult r{pam.Save(), {}};
    r.File = KXT_ReadBytes(path);
    return r;
}

enum AlphaKind { NONE, MAP, KEY, TABLE };

// The picture as RGB(A) bytes the file should hold: grey values for the
// grey sub-format, palette alpha from the index or table.
Rgb expected(const KX_GfxBuffer* img, AlphaKind kind, bool grey) {
    Rgb r = ToRgb(img);
    const size_t n = (size_t)r.W * r.H;
    r.Alpha.clear();
    if (kind == MAP && img->PixelBits == 24) r.Alpha.assign(KXSUP_AlphaBytes(img), KXSUP_AlphaBytes(img) + n);
    if (kind == MAP && img->PixelBits == 48)
        for (size_t i = 0; i < n; ++i) r.Alpha.push_back((uint8_t)(static_cast<const uint16_t*>(img->AlphaData)[i] / 257));
    if (kind == KEY || kind == TABLE)
        for (size_t i = 0; i < n; ++i)
            r.Alpha.push_back(kind == KEY ? (img->Data[i] == 1 ? 0 : 255) : KXSUP_AlphaBytes(img)[img->Data[i]]);
    if (grey) {
        for (size_t i = 0; i < n; ++i) {
            uint8_t v;
            if (img->PixelBits == 48) {
                const uint16_t* s = reinterpret_cast<const uint16_t*>(img->Data) + 3 * i;
                v = (uint8_t)(((s[0] / 257) * 30 + (s[1] / 257) * 59 + (s[2] / 257) * 11) / 100);
            } else {
                v = (uint8_t)((r.Pix[3 * i] * 30 + r.Pix[3 * i + 1] * 59 + r.Pix[3 * i + 2] * 11) / 100);
            }
            r.Pix[3 * i] = r.Pix[3 * i + 1] = r.Pix[3 * i + 2] = v;
        }
    }
    return r;
}

KX_GfxBuffer* picture(uint32_t w, uint32_t h, uint32_t depth, AlphaKind kind) {
    KX_GfxBuffer* img = MakeImage(w, h, depth, kind == MAP && depth == 24);
    const size_t n = (size_t)w * h;
    if (kind == MAP && depth == 48) {
        img->Version = 3;
        img->AlphaType = KXALPHA_CHANNEL16;
        auto* map = static_cast<uint16_t*>(AllocVec(n * 2, MEMF_CLEAR));
        for (size_t i = 0; i < n; ++i) map[i] = (uint16_t)(i * 4099 + 17);
        img->AlphaData = map;
    }
    if (kind == KEY) {
        img->Version = 3;
        img->AlphaType = KXALPHA_SINGLECOLOR;
        KXSUP_SetAlphaIndex(img, 1);
    }
    if (kind == TABLE) {
        img->Version = 3;
        img->AlphaType = KXALPHA_MULTICOLOR;
        img->AlphaData = AllocVec(256, MEMF_CLEAR);
        for (uint32_t i = 0; i < 256; ++i) KXSUP_AlphaBytes(img)[i] = (uint8_t)(i * 31 + 3);
    }
    return img;
}

TEST(Pam, WriterRoundTripsThroughOurReaderNetpbmAndImageMagick) {
    const bool netpbm = KXT_HaveTool("pamdepth"), magick = KXT_HaveTool("convert-im6.q16");
    std::string p = TempPath("rt.pam"), q = TempPath("rt_check.pam");
    struct {
        uint32_t Depth;
        AlphaKind Kind;
    } kinds[] = {{1, NONE}, {1, KEY}, {4, TABLE}, {8, NONE}, {8, KEY}, {24, NONE}, {24, MAP}, {48, NONE}, {48, MAP}};
    for (auto& k : kinds) {
        for (uint32_t sub : {0u, 1u}) {
            for (uint32_t w : {1u, 2u, 3u, 8u, 9u, 17u, 31u}) {
                SCOPED_TRACE("depth " + std::to_string(k.Depth) + " alpha " + std::to_string(k.Kind) + " sub " +
                             std::to_string(sub) + " width " + std::to_string(w));
                KX_GfxBuffer* img = picture(w, 3, k.Depth, k.Kind);
                Rgb want = expected(img, k.Kind, sub == 1);
                SaveResult s = saveImage(img, sub, p);
                ASSERT_EQ(s.Err, KXERR_NONE);
                Loaded l;
                LoadFile<kxoPAM>(p, l);
                ASSERT_EQ(l.Err, KXERR_NONE);
                EXPECT_EQ(l.SubFormat, sub);
                Rgb got = ToRgb(l.Buffer);
                got.Alpha = alphaBytes(l.Buffer);
                // 16-bit alpha comes back whole: compare its high byte with the rounded one.
                EXPECT_EQ(Compare(got, want, k.Depth == 48 && sub == 0 ? 1 : 0), "") << "our reader";
                if (netpbm && w == 9) {
                    Rgb theirs;
                    ASSERT_TRUE(Shell("pamdepth 255 " + p + " | pamtopam > " + q));
                    ASSERT_TRUE(ReadNetpbm(q, theirs));
                    EXPECT_EQ(Compare(theirs, want, k.Depth == 48 ? 1 : 0), "") << "netpbm";
                }
                if (magick && w == 17) {
                    Rgb theirs;
                    ASSERT_TRUE(Shell("convert-im6.q16 " + p + " -depth 8 pam:" + q));
                    ASSERT_TRUE(ReadNetpbm(q, theirs));
                    EXPECT_EQ(Compare(theirs, want, k.Depth == 48 ? 1 : 0), "") << "ImageMagick";
                }
                KXSUP_FreeGfxBuffer(img);
            }
        }
    }
    unlink(p.c_str());
    unlink(q.c_str());
    if (!netpbm || !magick) GTEST_SKIP() << "netpbm or ImageMagick is not installed: a cross-check did not run";
}

TEST(Pam, WriterOutputBytes) {
    std::string p = TempPath("bytes.pam");
    KX_GfxBuffer* red = MakeImage(1, 1, 24);
    red->Data[0] = 255, red->Data[1] = 0, red->Data[2] = 0;
    SaveResult s = saveImage(red, 1, p);
    ASSERT_EQ(s.Err, KXERR_NONE);
    EXPECT_EQ(std::string(s.File.begin(), s.File.end()), pamHeader(1, 1, 1, 255, "GRAYSCALE") + (char)76);

    KX_GfxBuffer* deep = MakeImage(1, 1, 48);
    uint16_t v[3] = {0x1234, 0xABCD, 0x00FF};
    memcpy(deep->Data, v, 6);
    s = saveImage(deep, 0, p);
    ASSERT_EQ(s.Err, KXERR_NONE);
    EXPECT_EQ(std::string(s.File.begin(), s.File.end()), pamHeader(1, 1, 3, 65535, "RGB") + std::string("\x12\x34\xAB\xCD\x00\xFF", 6));
    EXPECT_EQ(0, memcmp(deep->Data, v, 6)) << "the caller's image is left as it was";

    // A transparent index at every palette depth: RGB_ALPHA, 0 there, 255 elsewhere.
    for (uint32_t depth = 1; depth <= 8; ++depth) {
        SCOPED_TRACE(depth);
        KX_GfxBuffer* pal = picture(2, 1, depth, KEY);
        pal->Data[0] = 1, pal->Data[1] = 0;
        s = saveImage(pal, 0, p);
        ASSERT_EQ(s.Err, KXERR_NONE);
        std::string want = pamHeader(2, 1, 4, 255, "RGB_ALPHA");
        want.append((const char*)pal->Palette + 3, 3).append(1, '\0').append((const char*)pal->Palette, 3).append(1, '\xFF');
        EXPECT_EQ(std::string(s.File.begin(), s.File.end()), want);
        KXSUP_FreeGfxBuffer(pal);
    }

    std::unique_ptr<KXConfig> pad(padWith("SUPPRESS_HEADER", "NO"));
    s = saveImage(red, 0, p, pad->GetPadList());
    EXPECT_EQ(s.File, (std::vector<uint8_t>{255, 0, 0}));
    KXSUP_FreeGfxBuffer(red);
    KXSUP_FreeGfxBuffer(deep);
    unlink(p.c_str());
}

TEST(Pam, GreyWithAlphaSavesBackToTheSameSamples) {
    std::string p = TempPath("greya_back.pam");
    Loaded l;
    LoadFile<kxoPAM>(Fixture("pam/greya.pam"), l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    SaveResult s = saveImage(l.Buffer, 1, p);
    ASSERT_EQ(s.Err, KXERR_NONE);
    EXPECT_EQ(s.File, KXT_ReadBytes(Fixture("pam/greya.pam")));
    unlink(p.c_str());
}

TEST(Pam, SaveRefusesBeforeTouchingTheFile) {
    std::string p = TempPath("refuse.pam");
    KX_GfxBuffer* odd = MakeImage(2, 2, 24);
    odd->ColorDepth = 16;
    EXPECT_EQ(SaveOverOld<kxoPAM>(odd, p), KXERR_NOTSUPPORTED);
    KXSUP_FreeGfxBuffer(odd);
    unlink(p.c_str());
}

TEST(Pam, FailedWriteGivesIoAndKeepsTheOldFile) {
    KX_GfxBuffer* img = picture(300, 300, 24, MAP);
    kxoPAM pam;
    EXPECT_EQ(SaveUnderFileSizeLimit(&pam, img, "full.pam"), KXERR_IO);
    KXSUP_FreeGfxBuffer(img);
}

}  // namespace
