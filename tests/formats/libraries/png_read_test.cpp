// PNGs written by netpbm and ImageMagick load with the pixels of the
// netpbm image they were made from, under each depth setting; palette
// transparency and palette-depth reduction from crafted files.
#include "png_helpers.h"

namespace {

using namespace pngtest;

struct ToolCase {
    const char* name;
    bool colour;
    uint32_t maxval;
    const char* tool;  // %s in, %s out
    Settings settings;
    uint32_t depth;     // loaded ColorDepth
    uint32_t pixelBits;
    bool grey;
    int shift;  // loaded sample = file sample >> shift (16-bit stripped to 8)
};

const ToolCase kToolCases[] = {
    {"rgb8", true, 255, "pnmtopng -force %s > %s", {}, 24, 24, false, 0},
    {"rgb8i", true, 255, "pnmtopng -force -interlace %s > %s", {}, 24, 24, false, 0},
    {"rgb16", true, 65535, "pnmtopng -force %s > %s", {}, 48, 48, false, 0},
    {"rgb16i", true, 65535, "pnmtopng -force -interlace %s > %s", {}, 48, 48, false, 0},
    {"rgb16as24", true, 65535, "pnmtopng -force %s > %s", {{"COLORDEPTH", "24"}}, 24, 24, false, 8},
    {"rgb16as24lc", true, 65535, "pnmtopng -force %s > %s", {{"colordepth", "24"}}, 24, 24, false, 8},
    {"grey8", false, 255, "pnmtopng -force %s > %s", {}, 8, 8, true, 0},
    {"grey8as24", false, 255, "pnmtopng -force %s > %s", {{"GRAYDEPTH8", "24"}}, 24, 24, true, 0},
    {"grey8as24i", false, 255, "pnmtopng -force -interlace %s > %s", {{"GRAYDEPTH8", "24"}}, 24, 24, true, 0},
    {"grey16", false, 65535, "pnmtopng -force %s > %s", {}, 48, 48, true, 0},
    {"grey16i", false, 65535, "pnmtopng -force -interlace %s > %s", {}, 48, 48, true, 0},
    {"grey16as8", false, 65535, "pnmtopng -force %s > %s", {{"GRAYDEPTH16", "8"}}, 8, 8, true, 8},
    {"grey16im", false, 65535, "convert-im6.q16 %s -define png:color-type=0 -define png:bit-depth=16 PNG:%s", {}, 48, 48, true, 0},
    {"rgb8im", true, 255, "convert-im6.q16 %s PNG24:%s", {}, 24, 24, false, 0},
};

// Grey maxval 3 files are 2-bit greys: loaded expanded to 8 bits.
TEST(PngRead, TwoBitGreyIsExpanded) {
    if (!KXT_HaveTool("pnmtopng")) GTEST_SKIP() << "pnmtopng missing";
    const std::string pnm = TempPath("g2.pgm"), png = TempPath("g2.png");
    ASSERT_TRUE(KXT_WriteBytes(pnm, MakePnm(false, 7, 3, 3, [](uint32_t i) { return i; })));
    ASSERT_EQ(RunTool("pnmtopng " + pnm + " > " + png), 0);
    ASSERT_EQ(KXT_ReadBytes(png)[24], 2);
    Png r;
    ASSERT_EQ(r.Load(png), KXERR_NONE);
    const KX_GfxBuffer* b = r.Image();
    ASSERT_EQ(b->ColorDepth, 8u);
    for (uint32_t i = 0; i < 21; ++i) EXPECT_EQ(b->Data[i], (i % 4) * 85);
    remove(pnm.c_str());
    remove(png.c_str());
}

class PngFromTools : public ::testing::TestWithParam<ToolCase> {};

TEST_P(PngFromTools, LoadsThePixelsOfTheSource) {
    const ToolCase& c = GetParam();
    const std::string tool(c.tool, strchr(c.tool, ' '));
    if (!KXT_HaveTool(tool.c_str())) GTEST_SKIP() << tool << " missing";
    const uint32_t w = 13, h = 7;
    const std::string pnm = TempPath(std::string(c.name) + (c.colour ? ".ppm" : ".pgm"));
    const std::string png = TempPath(std::string(c.name) + ".png");
    const auto source = MakePnm(c.colour, w, h, c.maxval, [](uint32_t i) { return i * 2654435761u >> 7; });
    ASSERT_TRUE(KXT_WriteBytes(pnm, source));
    char command[512];
    snprintf(command, sizeof(command), c.tool, pnm.c_str(), png.c_str());
    ASSERT_EQ(RunTool(command), 0) << command;
    Pnm expected;
    ASSERT_TRUE(ParsePnm(source, &expected));

    Png r(c.settings);
    ASSERT_EQ(r.Load(png), KXERR_NONE);
    KX_GfxBuffer* b = r.Image();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->ColorDepth, c.depth);
    EXPECT_EQ(b->PixelBits, c.pixelBits);
    EXPECT_EQ(KXSUP_IsGrayBuffer(b) != 0, c.grey);
    if (c.depth == 48) {
        EXPECT_EQ(KXSUP_GetGfxBufferEndianess(b), (uint32_t)KXENDIAN_BIG);
    }
    for (uint32_t i = 0; i < w * h; ++i) {
        for (int ch = 0; ch < 3; ++ch) {
            const uint32_t want = expected.rgb[i * 3 + ch] >> c.shift;
            uint32_t got;
            if (c.pixelBits == 8) {
                got = b->Palette[b->Data[i] * 3 + ch];
            } else if (c.pixelBits == 24) {
                got = b->Data[i * 3 + ch];
            } else {
                const uint8_t* s = b->Data + (i * 3 + ch) * 2;
                got = (uint32_t)(s[0] << 8 | s[1]);  // big-endian as marked
            }
            ASSERT_EQ(got, want) << c.name << " px " << i << " ch " << ch;
        }
    }
    remove(pnm.c_str());
    remove(png.c_str());
}

INSTANTIATE_TEST_SUITE_P(Tools, PngFromTools, ::testing::ValuesIn(kToolCases),
                         [](const ::testing::TestParamInfo<ToolCase>& i) { return std::string(i.param.name); });

// RGBA and grey-alpha files from ImageMagick, plain and interlaced.
TEST(PngRead, AlphaFromImageMagick) {
    if (!KXT_HaveTool("convert-im6.q16")) GTEST_SKIP() << "convert-im6.q16 missing";
    const uint32_t w = 11, h = 6;
    std::string pam = "P7\nWIDTH 11\nHEIGHT 6\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    std::vector<uint8_t> src(pam.begin(), pam.end());
    std::vector<uint8_t> px(w * h * 4);
    for (size_t i = 0; i < px.size(); ++i) px[i] = (uint8_t)(i * 29 + 1);
    src.insert(src.end(), px.begin(), px.end());
    const std::string in = TempPath("rgba.pam");
    ASSERT_TRUE(KXT_WriteBytes(in, src));
    struct Variant {
        const char* args;
        Settings settings;
        bool greyFile;
    };
    const Variant variants[] = {
        {"PNG32:", {}, false},
        {"-interlace PNG PNG32:", {}, false},
        {"-colorspace Gray -depth 8 -define png:color-type=4 PNG:", {{"GRAYDEPTH8", "24"}}, true},
        {"-colorspace Gray -depth 8 -define png:color-type=4 -interlace PNG PNG:", {{"GRAYDEPTH8", "24"}}, true},
        {"-colorspace Gray -depth 8 -define png:color-type=4 PNG:", {}, true},
    };
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.args);
        const std::string out = TempPath("rgba.png");
        ASSERT_EQ(RunTool("convert-im6.q16 " + in + " " + v.args + out), 0);
        const auto file = KXT_ReadBytes(out);
        ASSERT_GT(file.size(), 28u);
        ASSERT_EQ(file[24], 8);                      // bit depth
        ASSERT_EQ(file[25], v.greyFile ? 4 : 6);     // colour type
        ASSERT_EQ(file[28], strstr(v.args, "interlace") ? 1 : 0);
        // What the file holds, as an independent program decodes it.
        ASSERT_EQ(RunTool("convert-im6.q16 " + out + " -depth 8 RGBA:" + out + ".rgba"), 0);
        const auto rgba = KXT_ReadBytes(out + ".rgba");
        ASSERT_EQ(rgba.size(), (size_t)w * h * 4);
        Png r(v.settings);
        ASSERT_EQ(r.Load(out), KXERR_NONE);
        const KX_GfxBuffer* b = r.Image();
        const bool alphaKept = !v.greyFile || !v.settings.empty();
        for (uint32_t i = 0; i < w * h; ++i) {
            const uint32_t grey = b->PixelBits == 8 ? b->Palette[b->Data[i] * 3] : b->Data[i * 3];
            if (b->PixelBits == 24) {
                for (int ch = 0; ch < 3; ++ch) ASSERT_EQ(b->Data[i * 3 + ch], rgba[i * 4 + ch]) << i;
            } else {
                ASSERT_EQ(grey, rgba[i * 4]) << i;
            }
            if (alphaKept) {
                ASSERT_EQ(b->AlphaType, (uint32_t)KXALPHA_CHANNEL8);
                ASSERT_EQ(KXSUP_AlphaBytes(b)[i], rgba[i * 4 + 3]) << i;
            }
        }
        if (!alphaKept) {
            EXPECT_EQ(b->Version < 3 ? 0u : b->AlphaType, 0u);  // 8-bit grey drops its alpha
        }
        remove(out.c_str());
        remove((out + ".rgba").c_str());
    }
    remove(in.c_str());
}

// Palette files: depth reduced to what the palette needs, tRNS kinds.
TEST(PngRead, PaletteDepthAndTransparency) {
    struct Case {
        const char* name;
        int bitDepth;
        int entries;
        std::vector<uint8_t> trns;
        uint32_t depth;
        uint32_t alphaType;
        uint32_t index;
    };
    const Case cases[] = {
        {"5 of 16", 4, 5, {}, 3, 0, 0},
        {"2 of 256", 8, 2, {}, 1, 0, 0},
        {"200 of 256", 8, 200, {}, 8, 0, 0},
        {"two clear", 4, 16, {0, 255, 128, 0}, 4, KXALPHA_MULTICOLOR, 0},
        {"one clear", 4, 16, {255, 255, 255, 255, 255, 255, 255, 0}, 4, KXALPHA_SINGLECOLOR, 7},
        {"half only", 4, 16, {128, 128}, 4, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = TempPath("pal.png");
        std::vector<uint8_t> rows(4 * 2, 0x21);  // 4-bit pixels 2, 1 / 8-bit pixel 0x21
        if (c.bitDepth == 8)
            for (auto& p : rows) p = 1;
        ASSERT_TRUE(WriteCrafted(path, c.bitDepth == 4 ? 8 : 4, 2, c.bitDepth, PNG_COLOR_TYPE_PALETTE, rows,
                                 [&](png_structp png, png_infop info) {
                                     png_color pal[256];
                                     for (int i = 0; i < 256; ++i) pal[i] = {(uint8_t)i, (uint8_t)(i * 2), 9};
                                     png_set_PLTE(png, info, pal, c.entries);
                                     if (!c.trns.empty())
                                         png_set_tRNS(png, info, c.trns.data(), (int)c.trns.size(), nullptr);
                                 }));
        Png r;
        ASSERT_EQ(r.Load(path), KXERR_NONE);
        const KX_GfxBuffer* b = r.Image();
        EXPECT_EQ(b->ColorDepth, c.depth);
        EXPECT_EQ(b->Palette[1 * 3 + 1], 2);
        EXPECT_EQ(b->Version >= 3 ? b->AlphaType : 0u, c.alphaType);
        if (c.alphaType == KXALPHA_SINGLECOLOR) {
            EXPECT_EQ(KXSUP_AlphaIndex(b), c.index);
        }
        if (c.alphaType == KXALPHA_MULTICOLOR) {
            const uint8_t* t = KXSUP_AlphaBytes(b);
            for (int i = 0; i < 256; ++i) EXPECT_EQ(t[i], i < (int)c.trns.size() ? c.trns[i] : 255) << i;
        }
        remove(path.c_str());
    }
}

TEST(PngRead, ProgressReportsEveryEighthRowAcrossPasses) {
    const std::string path = TempPath("prog.png");
    Buffer img = MakeImage(24, 2, 16);
    {
        Png w;
        ASSERT_EQ(w.Save(img.get(), path), KXERR_NONE);
    }
    Png r;
    static std::vector<uint32_t> seen;
    seen.clear();
    r.obj.SetProgress([](KXProgress* p, uintptr_t) { seen.push_back(p->Percent); }, 0);
    ASSERT_EQ(r.Load(path), KXERR_NONE);
    EXPECT_EQ(seen, (std::vector<uint32_t>{0, 50}));
    remove(path.c_str());
}

// The fuzz seeds come from netpbm, ImageMagick and a hand-made file with
// raw profiles (upper-case EXIF hex, zTXt IPTC, iTXt XMP).
TEST(PngRead, FuzzSeedsLoad) {
    const std::string dir = std::string(KX_SOURCE_DIR) + "/fuzz/corpus/kxoPNG/";
    for (const char* name : {"grey16.png", "grey2.png", "grey2_trns.png", "greyalpha.png", "palette.png",
                             "raw_profiles.png", "rgb_interlaced.png", "rgba16.png", "rgba_interlaced.png",
                             "text_gamma.png"}) {
        Png r;
        EXPECT_EQ(r.Load(dir + name), KXERR_NONE) << name;
        ASSERT_NE(r.Image(), nullptr) << name;
        if (strcmp(name, "raw_profiles.png") == 0) {
            ASSERT_EQ(r.obj.ExifSize, 46u);
            EXPECT_EQ(memcmp(r.obj.Exif, "Exif\0\0\0\1\2", 9), 0);
            EXPECT_EQ(r.obj.IptcSize, 26u + 7u);
            EXPECT_STREQ(reinterpret_cast<const char*>(r.obj.Xmp0), "<x:xmpmeta/>");
            EXPECT_EQ(r.obj.IccType, 1u);
        }
        if (strcmp(name, "text_gamma.png") == 0) {
            EXPECT_STREQ(r.obj.Name, "kaxon");
            EXPECT_STREQ(r.obj.Anno, "a comment");
            EXPECT_EQ(r.obj.IccType, 3u);
        }
    }
}

}  // namespace
