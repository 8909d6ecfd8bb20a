// kxoXPM: pixmaps of ppmtoxpm (one and two characters a pixel),
// ImageMagick (with None) and GraphicsMagick load pixel for pixel; byte
// tables for the three forms, the colour words, the value line and its
// bounds, short files; the writer's three forms round trip, their exact
// text, xpmtoppm, ImageMagick and GraphicsMagick reading ours, its
// refusals before the file is touched, the safe save and damaged input.
#include <gtest/gtest.h>

#include "formats/raster/kxoXPM.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"
#include "write_failure.h"

using namespace kxt;

namespace {

std::vector<uint8_t> text(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST(Xpm, PixmapsOfOtherProgramsLoadPixelForPixel) {
    struct {
        const char* Name;
        uint32_t Depth;
        int Transparent;
    } cases[] = {{"netpbm_50", 6, -1}, {"netpbm_120", 7, -1}, {"im_50", 6, -1}, {"gm_50", 6, -1}, {"im_alpha", 4, 11}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadFile<kxoXPM>(Fixture(std::string("xpm/") + c.Name + ".xpm"), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.SubFormat, 2u);
        EXPECT_EQ(l.Buffer->ColorDepth, c.Depth);
        if (c.Transparent >= 0) {
            EXPECT_EQ(l.Buffer->Version, 3u);
            EXPECT_EQ(l.Buffer->AlphaType, (uint32_t)KXALPHA_SINGLECOLOR);
            EXPECT_EQ(KXSUP_AlphaIndex(l.Buffer), (uint32_t)c.Transparent);
        } else {
            EXPECT_EQ(l.Buffer->Version, 1u);
        }
        Rgb want;
        ASSERT_TRUE(ReadNetpbm(Fixture(std::string("xpm/") + c.Name + ".ppm"), want));
        EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "");
    }
}

// A 3 x 2 pixmap of the three colours in the given form.
std::string pixmap(int variant, const std::string& colours, const std::string& rows, const std::string& values = "3 2 3 1") {
    if (variant == 2) return "! XPM2\n" + values + "\n" + colours + rows;
    return "/* XPM */\nstatic char *x[] = {\n\"" + values + "\",\n" + colours + rows + "};\n";
}

struct Case {
    const char* Name;
    std::string File;
    uint32_t Err;
    std::vector<uint32_t> Colours;  // 0xRRGGBB of the entries
    std::vector<uint8_t> Pixels;
};

void runCases(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoXPM>(text(c.File), l, "t.xpm");
        ASSERT_EQ(l.Err, c.Err);
        if (c.Err != KXERR_NONE) {
            EXPECT_EQ(l.Buffer, nullptr);
            continue;
        }
        for (size_t i = 0; i < c.Colours.size(); ++i) {
            const uint8_t* p = l.Buffer->Palette + 3 * i;
            EXPECT_EQ((uint32_t)(p[0] << 16 | p[1] << 8 | p[2]), c.Colours[i]) << "entry " << i;
        }
        if (!c.Pixels.empty())
            EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + l.Buffer->BufferSize), c.Pixels);
    }
}

TEST(Xpm, ColourWords) {
    const std::string rows = "\"abc\",\n\"cba\"\n";
    runCases({
        {"twelve digits, six and a short form", pixmap(3, "\"a c #FFFF00000000\",\n\"b c #ff0000\",\n\"c c #fff\",\n", rows), KXERR_NONE,
         {0xFF0000, 0xFF0000, 0x000FFF}, {0, 1, 2, 2, 1, 0}},
        {"nine digits, names in any case", pixmap(3, "\"a c #FFF000800\",\n\"b c NAVY\",\n\"c c Teal\",\n", rows), KXERR_NONE,
         {0xFF0080, 0x000080, 0x008080}, {}},
        {"the c pair among others", pixmap(3, "\"a m white c #0000FF\",\n\"b s x c red\",\n\"c g4 black\",\n", rows), KXERR_NONE,
         {0x0000FF, 0xFF0000, 0}, {}},
        {"unknown names: grey by place", pixmap(3, "\"a c bisque\",\n\"b c bisque\",\n\"c c bisque\",\n", rows), KXERR_NONE,
         {0, 0x555555, 0xFFFFFF}, {}},
        {"seven digits and bad digits give 0", pixmap(3, "\"a c #1234567\",\n\"b c #12345g\",\n\"c c #\",\n", rows), KXERR_NONE,
         {0, 0, 0}, {}},
        {"a comma before the pair", pixmap(3, "\"a , c red\",\n\"b c blue\",\n\"c c lime\",\n", rows), KXERR_NONE,
         {0, 0x0000FF, 0x00FF00}, {}},
        {"v2 lines", pixmap(2, "a c #102030\nb c #405060\nc c None\n", "abc\ncba\n"), KXERR_NONE, {0x102030, 0x405060, 0},
         {0, 1, 2, 2, 1, 0}},
    });
    // None at index 0 makes it the transparent colour.
    Loaded l;
    LoadBytes<kxoXPM>(text(pixmap(3, "\"a c None\",\n\"b c #ff0000\",\n\"c c none\",\n", rows)), l, "t.xpm");
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.Buffer->Version, 3u);
    EXPECT_EQ(KXSUP_AlphaIndex(l.Buffer), 2u);  // the last None counts
    Loaded m;
    LoadBytes<kxoXPM>(text(pixmap(3, "\"a c None\",\n\"b c #ff0000\",\n\"c c red\",\n", rows)), m, "t.xpm");
    ASSERT_EQ(m.Err, KXERR_NONE);
    EXPECT_EQ(m.Buffer->AlphaType, (uint32_t)KXALPHA_SINGLECOLOR);
    EXPECT_EQ(KXSUP_AlphaIndex(m.Buffer), 0u);
}

TEST(Xpm, ValuesRowsAndBounds) {
    const std::string colours = "\"a c #010101\",\n\"b c #020202\",\n\"c c #030303\",\n";
    const std::string v1 = "#define x_format 1\n#define x_width 3\n#define x_height 2\n#define x_ncolors 3\n#define x_chars_per_pixel 1\n"
                           "static char *x_colors[] = {\n\"a\", \"#0A0B0C\",\n\"b\", \"red\",\n\"c\", \"#fff\",\n};\n"
                           "static char *x_pixels[] = {\n\"cab\",\n\"bca\"\n};\n";
    std::string many = "\"2 1 257 1\",\n";
    runCases({
        {"v1", v1, KXERR_NONE, {0x0A0B0C, 0xFF0000, 0x000FFF}, {2, 0, 1, 1, 2, 0}},
        {"v1 without a keyword", [&] { std::string s = v1; s.replace(s.find("x_height"), 8, "x_hight_"); return s; }(), KXERR_DECODE, {}, {}},
        {"unknown codes and short rows give 0", pixmap(3, colours, "\"axb\",\n\"c\",\n"), KXERR_NONE, {}, {0, 0, 1, 2, 0, 0}},
        {"three characters a pixel", pixmap(3, "\"a a c #010101\",\n\"bbb c #020202\",\n\"a a c #030303\",\n", "\"bbba a...\",\n\"a abbba a\"\n", "3 2 3 3"),
         KXERR_NONE, {}, {1, 0, 0, 0, 1, 0}},
        {"two characters, first equal code wins", pixmap(3, "\"ab c #010101\",\n\"ab c #020202\",\n\"cd c #030303\",\n", "\"abcdab\",\n\"cdcdzz\"\n", "3 2 3 2"),
         KXERR_NONE, {}, {0, 2, 0, 2, 2, 0}},
        {"257 colours", pixmap(3, "", "", "2 1 257 1"), KXERR_FILEREQUIREMENTS, {}, {}},
        {"0 colours", pixmap(3, "", "", "2 1 0 1"), KXERR_FILEREQUIREMENTS, {}, {}},
        {"32 characters a pixel", pixmap(3, colours, "", "3 2 3 32"), KXERR_FILEREQUIREMENTS, {}, {}},
        {"0 characters a pixel", pixmap(3, colours, "", "3 2 3 0"), KXERR_FILEREQUIREMENTS, {}, {}},
        {"negative width", pixmap(3, colours, "", "-3 2 3 1"), KXERR_FILEREQUIREMENTS, {}, {}},
        {"three values", pixmap(3, colours, "", "3 2 3"), KXERR_DECODE, {}, {}},
        {"code longer than its line", pixmap(3, "\"a c #010101\",\n\"b", "", "3 2 3 9"), KXERR_DECODE, {}, {}},
        {"end in the colour table", pixmap(3, "\"a c #010101\",\n", ""), KXERR_EOF, {}, {}},
        {"end in the rows", pixmap(3, colours, "\"abc\",\n"), KXERR_EOF, {}, {}},
        {"row quote at 256", pixmap(3, colours, std::string(256, ' ') + "\"abc\",\n\"abc\"\n"), KXERR_DECODE, {}, {}},
        {"unknown first line", "XPM\n", KXERR_FILEREQUIREMENTS, {}, {}},
        {"empty file", "", KXERR_EOF, {}, {}},
    });
}

TEST(Xpm, Recognition) {
    EXPECT_EQ(Recognises<kxoXPM>(text("! XPM2\n"), "a.bin"), 1u);
    EXPECT_EQ(Recognises<kxoXPM>(text("/* XPM */\n"), "a.bin"), 1u);
    EXPECT_EQ(Recognises<kxoXPM>(text("#define a_format 1\n"), "a.XPM"), 1u);
    EXPECT_EQ(Recognises<kxoXPM>(text("#define a_format 1\n"), "a.xbm"), 0u);
    EXPECT_EQ(Recognises<kxoXPM>(text("/* XPM"), "a.xpm"), 0u);
}

// ---- writer -------------------------------------------------------------------

TEST(Xpm, WriterFormsRoundTrip) {
    const std::string p = TempPath("w.xpm");
    for (uint32_t sub : {0u, 1u, 2u, 7u})
        for (uint32_t depth : {1u, 4u, 8u})
            for (uint32_t w : {1u, 2u, 3u, 8u, 16u, 17u, 31u}) {
                SCOPED_TRACE("sub-format " + std::to_string(sub) + " depth " + std::to_string(depth) + " width " + std::to_string(w));
                KX_GfxBuffer* img = MakeImage(w, 4, depth);
                ASSERT_EQ(SaveTo<kxoXPM>(img, p, sub).Err, KXERR_NONE);
                Loaded l;
                LoadFile<kxoXPM>(p, l);
                ASSERT_EQ(l.Err, KXERR_NONE);
                EXPECT_EQ(l.SubFormat, sub > 2 ? 2u : sub);
                EXPECT_EQ(l.Buffer->ColorDepth, depth);  // 2^depth entries, all written
                EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + w * 4), std::vector<uint8_t>(img->Data, img->Data + w * 4));
                EXPECT_EQ(memcmp(l.Buffer->Palette, img->Palette, 3u << depth), 0);
                KXSUP_FreeGfxBuffer(img);
            }
    // Bit planes are written from one byte a pixel.
    KX_GfxBuffer* img = MakeImage(13, 3, 3);
    KX_GfxBuffer* planes = nullptr;
    ASSERT_EQ(KXSUP_OnePlaneToBitPlane8(img, &planes), KXERR_NONE);
    ASSERT_EQ(SaveTo<kxoXPM>(planes, p).Err, KXERR_NONE);
    Loaded l;
    LoadFile<kxoXPM>(p, l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(Compare(ToRgb(l.Buffer), ToRgb(img)), "");
    KXSUP_FreeGfxBuffer(planes);
    KXSUP_FreeGfxBuffer(img);
    unlink(p.c_str());
}

TEST(Xpm, WriterText) {
    const std::string p = TempPath("t.xpm");
    KX_GfxBuffer* img = MakeImage(3, 1, 1);
    memcpy(img->Palette, "\x12\x34\x56\xAB\xCD\xEF", 6);
    img->Data[0] = 1, img->Data[1] = 0, img->Data[2] = 1;
    struct {
        uint32_t Sub;
        std::string Text;
    } cases[] = {
        {0, "#define IMAGE_format 1\n#define IMAGE_width 3\n#define IMAGE_height 1\n#define IMAGE_ncolors 2\n#define IMAGE_chars_per_pixel 2\n"
            "static char *IMAGE_colors[] = {\n\"00\", \"#123456\",\n\"01\", \"#abcdef\",\n};\n"
            "static char *IMAGE_pixels[] = {\n \"010001\",\n};\n"},
        {1, "! XPM2\n3 1 2 2\n00 c #123456\n01 c #abcdef\n010001\n"},
        {2, "/* XPM */\nstatic char *image[] = {\n\"3 1 2 2\",\n\"00 c #123456\",\n\"01 c #abcdef\",\n\"010001\",\n};\n"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Sub);
        Saved s = SaveTo<kxoXPM>(img, p, c.Sub);
        ASSERT_EQ(s.Err, KXERR_NONE);
        EXPECT_EQ(std::string(s.File.begin(), s.File.end()), c.Text);
    }
    KXSUP_FreeGfxBuffer(img);
    unlink(p.c_str());
}

TEST(Xpm, SaveRefusalsAndFailedWrites) {
    const std::string p = TempPath("refuse.xpm");
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
        // Refused before the file is opened: the old file stays.
        EXPECT_EQ(SaveOverOld<kxoXPM>(c.Image, p), c.Err);
        KXSUP_FreeGfxBuffer(c.Image);
    }
    unlink(p.c_str());
    kxoXPM m;
    EXPECT_EQ(m.Save(), KXERR_NOTSUPPORTED);
    for (uint32_t sub : {0u, 1u, 2u}) {
        KX_GfxBuffer* img = MakeImage(300, 300, 8);
        kxoXPM w;
        w.SetSubFormat(sub);
        EXPECT_EQ(SaveUnderFileSizeLimit(&w, img, "full.xpm"), KXERR_IO);
        KXSUP_FreeGfxBuffer(img);
    }
}

TEST(Xpm, OtherProgramsReadOurPixmaps) {
    KXT_NEED_TOOL("xpmtoppm");
    KXT_NEED_TOOL("convert-im6.q16");
    KXT_NEED_TOOL("gm");
    const std::string p = TempPath("ours.xpm"), q = TempPath("ours.ppm");
    KX_GfxBuffer* img = MakeImage(29, 11, 8);
    const Rgb want = ToRgb(img);
    struct {
        uint32_t Sub;
        std::string Command;
    } readers[] = {
        {2, "xpmtoppm " + p + " > " + q}, {2, "convert-im6.q16 " + p + " -depth 8 ppm:" + q}, {2, "gm convert " + p + " -depth 8 ppm:" + q},
    };
    for (auto& r : readers) {
        SCOPED_TRACE(r.Command + " sub-format " + std::to_string(r.Sub));
        ASSERT_EQ(SaveTo<kxoXPM>(img, p, r.Sub).Err, KXERR_NONE);
        unlink(q.c_str());
        EXPECT_EQ(ReadBack(Shell(r.Command), q, want), "");
    }
    KXSUP_FreeGfxBuffer(img);
    unlink(p.c_str());
    unlink(q.c_str());
}

TEST(Xpm, ReaderSurvivesDamagedFiles) {
    for (const char* name : {"netpbm_50", "netpbm_120", "im_alpha"}) KXT_CheckReaderRobustness("kxoXPM", Fixture(std::string("xpm/") + name + ".xpm"));
}

}  // namespace
