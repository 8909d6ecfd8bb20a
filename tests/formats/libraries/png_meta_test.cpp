// PNG metadata: texts, raw EXIF/IPTC profiles, XMP, ICC/sRGB/gAMA/cHRM,
// written by us and by libpng directly, and the palette transparency keys.
#include <lcms2.h>

#include "core/colour.h"
#include "png_helpers.h"

namespace {

using namespace pngtest;

std::vector<uint8_t> Profile() {
    uint8_t* p = nullptr;
    uint32_t n = 0;
    EXPECT_EQ(KXSUP_CreateCMSProfileGamma(256, 0.45455, &p, &n), KXERR_NONE);
    std::vector<uint8_t> v(p, p + n);
    FreeVec(p);
    return v;
}

std::vector<uint8_t> Exif(uint32_t size) {
    std::vector<uint8_t> e(size);
    for (uint32_t i = 0; i < size; ++i) e[i] = (uint8_t)(i * 11 + 7);
    if (size >= 6) memcpy(e.data(), "Exif\0\0", 6);
    return e;
}

std::vector<uint8_t> Iptc(uint32_t records) {
    std::vector<uint8_t> b(26 + records);
    memcpy(b.data(), "Photoshop 3.0\0008BIM\004\004\0\0", 22);
    b[24] = (uint8_t)(records >> 8);
    b[25] = (uint8_t)records;
    for (uint32_t i = 0; i < records; ++i) b[26 + i] = (uint8_t)(i * 3 + 1);
    return b;
}

TEST(PngMeta, EverythingWrittenComesBack) {
    auto exif = Exif(100);
    auto iptc = Iptc(40);
    auto icc = Profile();
    std::string xmp = "<x:xmpmeta>kaxon5</x:xmpmeta>";
    std::string longName(80, 'n');
    KXOSpecialInfo info = {};
    info.Version = 1;
    info.Anno = const_cast<char*>("a description");
    info.Auth = const_cast<char*>("an author");
    info.Copy = const_cast<char*>("(c) someone");
    info.Name = const_cast<char*>("a title");
    info.Exif = exif.data();
    info.ExifSize = (uint32_t)exif.size();
    info.Iptc = iptc.data();
    info.IptcSize = (uint32_t)iptc.size();
    info.Xmp0 = reinterpret_cast<uint8_t*>(xmp.data());
    info.Xmp0Size = (uint32_t)xmp.size();  // no terminating zero counted
    info.IccData = icc.data();
    info.IccSize = (uint32_t)icc.size();
    info.IccName = longName.data();

    Buffer img = MakeImage(24, 5, 4);
    const std::string path = TempPath("meta.png");
    Png w;
    ASSERT_EQ(w.Save(img.get(), path, &info), KXERR_NONE);
    if (KXT_HaveTool("pngcheck")) {
        EXPECT_EQ(RunTool("pngcheck -q " + path + " >/dev/null"), 0);
    }
    const auto file = KXT_ReadBytes(path);
    EXPECT_TRUE(Contains(file, "iCCP" + std::string(78, 'n') + std::string(1, '\0')));

    Png r;
    ASSERT_EQ(r.Load(path), KXERR_NONE);
    const KXObject& o = r.obj;
    EXPECT_STREQ(o.Anno, "a description");
    EXPECT_STREQ(o.Auth, "an author");
    EXPECT_STREQ(o.Copy, "(c) someone");
    EXPECT_STREQ(o.Name, "a title");
    ASSERT_EQ(o.ExifSize, exif.size());
    EXPECT_EQ(memcmp(o.Exif, exif.data(), exif.size()), 0);
    ASSERT_EQ(o.IptcSize, iptc.size());
    EXPECT_EQ(memcmp(o.Iptc, iptc.data(), iptc.size()), 0);
    EXPECT_EQ(o.Iptc[25], 40);  // length field
    ASSERT_EQ(o.Xmp0Size, xmp.size());
    EXPECT_STREQ(reinterpret_cast<const char*>(o.Xmp0), xmp.c_str());
    ASSERT_EQ(o.IccSize, icc.size());
    EXPECT_EQ(memcmp(o.IccData, icc.data(), icc.size()), 0);
    EXPECT_EQ(strlen(o.IccName), 78u);
    EXPECT_EQ(o.IccType, 0u);
    remove(path.c_str());
}

// A profile larger than libpng's default chunk-memory limit of 8 MB (a
// long copyright text here) is written and read at its real size.
TEST(PngMeta, LargeProfileComesBackWhole) {
    cmsHPROFILE profile = cmsCreate_sRGBProfile();
    ASSERT_NE(profile, nullptr);
    cmsMLU* text = cmsMLUalloc(nullptr, 1);
    const std::string copyright((9u << 20), 'c');
    ASSERT_TRUE(cmsMLUsetASCII(text, "en", "US", copyright.c_str()));
    ASSERT_TRUE(cmsWriteTag(profile, cmsSigCopyrightTag, text));
    cmsMLUfree(text);
    cmsUInt32Number n = 0;
    ASSERT_TRUE(cmsSaveProfileToMem(profile, nullptr, &n));
    std::vector<uint8_t> icc(n);
    ASSERT_TRUE(cmsSaveProfileToMem(profile, icc.data(), &n));
    cmsCloseProfile(profile);
    ASSERT_GT(icc.size(), 9u << 20);

    KXOSpecialInfo info = {};
    info.IccData = icc.data();
    info.IccSize = (uint32_t)icc.size();
    info.IccName = const_cast<char*>("large");
    Buffer img = MakeImage(24, 3, 2);
    const std::string path = TempPath("largeicc.png");
    Png w;
    ASSERT_EQ(w.Save(img.get(), path, &info), KXERR_NONE);
    Png r;
    ASSERT_EQ(r.Load(path), KXERR_NONE);
    ASSERT_EQ(r.obj.IccSize, icc.size());
    EXPECT_EQ(memcmp(r.obj.IccData, icc.data(), icc.size()), 0);
    EXPECT_STREQ(r.obj.IccName, "large");
    remove(path.c_str());
}

// The raw-profile chunk is compressed once its hex part (line feeds
// included) reaches 128 characters; blocks shorter than their headers and
// switched-off profiles are left out.
TEST(PngMeta, RawProfileChunksAndTheirRules) {
    struct Case {
        const char* name;
        uint32_t exifSize, iptcRecords;
        uint32_t version;
        Settings settings;
        const char* exifChunk;  // null: no EXIF profile in the file
        bool iptcWritten;
    };
    const Case cases[] = {
        {"62 bytes", 62, 10, 1, {}, "tEXtRaw profile type exif", true},
        {"63 bytes", 63, 10, 1, {}, "zTXtRaw profile type exif", true},
        {"short exif", 5, 0, 1, {}, nullptr, false},
        {"write off", 63, 10, 1, {{"WRITE_EXIF", "OFF"}}, nullptr, true},
        {"version 0", 63, 10, 0, {}, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto exif = Exif(c.exifSize);
        auto iptc = Iptc(c.iptcRecords);
        KXOSpecialInfo info = {};
        info.Version = c.version;
        info.Exif = exif.data();
        info.ExifSize = c.exifSize;
        info.Iptc = iptc.data();
        info.IptcSize = (uint32_t)iptc.size();
        Buffer img = MakeImage(4, 3, 3);
        const std::string path = TempPath("raw.png");
        Png w(c.settings);
        ASSERT_EQ(w.Save(img.get(), path, &info), KXERR_NONE);
        const auto file = KXT_ReadBytes(path);
        if (c.exifChunk) {
            EXPECT_TRUE(Contains(file, c.exifChunk));
        } else {
            EXPECT_FALSE(Contains(file, "Raw profile type exif"));
        }
        EXPECT_EQ(Contains(file, "Raw profile type iptc"), c.iptcWritten);
        remove(path.c_str());
    }
}

// Profiles and texts as other programs write them.
TEST(PngMeta, TextsAndProfilesFromOtherWriters) {
    const std::string upperHex = "\nexif\n       8\n45584946000041FF\n";
    const std::string lowerHex = "\nexif\n       8\n45786966000041ff\n";
    const std::string shortHex = "\nexif\n     100\n4578696600004142\n";
    const std::string iptcHex = "\niptc\n       3\n1c0250\n";
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> texts;  // file order
        Settings settings;
        std::string anno, auth;
        std::vector<uint8_t> exif;
        uint32_t iptcSize;
    };
    const Case cases[] = {
        {"upper-case hex", {{"Raw profile type exif", upperHex}}, {}, "", "",
         {0x45, 0x58, 0x49, 0x46, 0, 0, 0x41, 0xFF}, 0},
        {"lower-case hex", {{"Raw profile type exif", lowerHex}}, {}, "", "",
         {0x45, 0x78, 0x69, 0x66, 0, 0, 0x41, 0xFF}, 0},
        {"short profile dropped", {{"Raw profile type exif", shortHex}}, {}, "", "", {}, 0},
        {"exif off", {{"Raw profile type exif", lowerHex}}, {{"READ_EXIF", "OFF"}}, "", "", {}, 0},
        {"iptc", {{"Raw profile type iptc", iptcHex}}, {}, "", "", {}, 29},
        {"iptc off", {{"Raw profile type iptc", iptcHex}}, {{"READ_IPTC", "OFF"}}, "", "", {}, 0},
        {"description beats comment", {{"Comment", "c"}, {"Description", "d"}}, {}, "d", "", {}, 0},
        {"comment alone", {{"Comment", "c"}}, {}, "c", "", {}, 0},
        {"first author wins", {{"Author", "first"}, {"Author", "second"}}, {}, "", "first", {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = TempPath("texts.png");
        ASSERT_TRUE(WriteCrafted(path, 2, 2, 8, PNG_COLOR_TYPE_GRAY, std::vector<uint8_t>(4, 9),
                                 [&](png_structp png, png_infop info) {
                                     std::vector<png_text> t(c.texts.size());
                                     for (size_t i = 0; i < t.size(); ++i) {
                                         t[i] = {};
                                         t[i].compression = PNG_TEXT_COMPRESSION_NONE;
                                         t[i].key = const_cast<char*>(c.texts[i].first.c_str());
                                         t[i].text = const_cast<char*>(c.texts[i].second.c_str());
                                     }
                                     png_set_text(png, info, t.data(), (int)t.size());
                                 }));
        Png r(c.settings);
        ASSERT_EQ(r.Load(path), KXERR_NONE);
        EXPECT_STREQ(r.obj.Anno ? r.obj.Anno : "", c.anno.c_str());
        EXPECT_STREQ(r.obj.Auth ? r.obj.Auth : "", c.auth.c_str());
        ASSERT_EQ(r.obj.ExifSize, c.exif.size());
        if (!c.exif.empty()) {
            EXPECT_EQ(memcmp(r.obj.Exif, c.exif.data(), c.exif.size()), 0);
        }
        EXPECT_EQ(r.obj.IptcSize, c.iptcSize);
        if (c.iptcSize) {
            EXPECT_EQ(memcmp(r.obj.Iptc, "Photoshop 3.0\0008BIM\004\004", 20), 0);
            EXPECT_EQ(r.obj.Iptc[25], 3);
            EXPECT_EQ(r.obj.Iptc[28], 0x50);
        }
        remove(path.c_str());
    }
}

TEST(PngMeta, ColourInformation) {
    const auto icc = Profile();
    struct Case {
        const char* name;
        std::function<void(png_structp, png_infop)> setup;
        uint32_t iccType;
        const char* iccName;
        bool profile;
    };
    const Case cases[] = {
        {"sRGB", [](png_structp p, png_infop i) { png_set_sRGB(p, i, 2); }, 1, "sRGB", false},
        {"gAMA", [](png_structp p, png_infop i) { png_set_gAMA(p, i, 0.45455); }, 3, "ICC Profile / PNG gAMA based",
         true},
        {"cHRM and gAMA",
         [](png_structp p, png_infop i) {
             png_set_gAMA(p, i, 0.45455);
             png_set_cHRM(p, i, 0.3127, 0.329, 0.64, 0.33, 0.3, 0.6, 0.15, 0.06);
         },
         3, "ICC Profile / PNG cHRM & gAMA based", true},
        {"iCCP",
         [&](png_structp p, png_infop i) {
             png_set_iCCP(p, i, "a profile", PNG_COMPRESSION_TYPE_BASE, icc.data(), (png_uint_32)icc.size());
         },
         0, "a profile", true},
        {"nothing", nullptr, 0, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = TempPath("colour.png");
        ASSERT_TRUE(WriteCrafted(path, 2, 2, 8, PNG_COLOR_TYPE_RGB, std::vector<uint8_t>(12, 100), c.setup));
        Png r;
        ASSERT_EQ(r.Load(path), KXERR_NONE);
        EXPECT_EQ(r.obj.IccType, c.iccType);
        EXPECT_STREQ(r.obj.IccName ? r.obj.IccName : "", c.iccName);
        EXPECT_EQ(r.obj.IccData != nullptr, c.profile);
        if (c.iccType == 1) {
            EXPECT_EQ(r.obj.SRGBIntent, 2u);
        }
        remove(path.c_str());
    }
}

// sRGB is declared when there is no profile; a profile libpng judges
// wrong (here: a grey profile on a colour image) is left out, not fatal.
TEST(PngMeta, SrgbDeclarationAndARefusedProfile) {
    Buffer img = MakeImage(24, 2, 2);
    const std::string path = TempPath("srgb.png");
    KXOSpecialInfo info = {};
    info.IccType = 1;
    info.SRGBIntent = 3;
    {
        Png w;
        ASSERT_EQ(w.Save(img.get(), path, &info), KXERR_NONE);
        Png r;
        ASSERT_EQ(r.Load(path), KXERR_NONE);
        EXPECT_EQ(r.obj.IccType, 1u);
        EXPECT_EQ(r.obj.SRGBIntent, 3u);
    }
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
    cmsHPROFILE grey = cmsCreateGrayProfile(cmsD50_xyY(), curve);
    cmsUInt32Number n = 0;
    cmsSaveProfileToMem(grey, nullptr, &n);
    std::vector<uint8_t> greyIcc(n);
    cmsSaveProfileToMem(grey, greyIcc.data(), &n);
    cmsCloseProfile(grey);
    cmsFreeToneCurve(curve);
    info = {};
    info.IccData = greyIcc.data();
    info.IccSize = (uint32_t)greyIcc.size();
    info.IccName = const_cast<char*>("grey");
    Png w;
    ASSERT_EQ(w.Save(img.get(), path, &info), KXERR_NONE);
    EXPECT_FALSE(Contains(KXT_ReadBytes(path), "iCCP"));
    remove(path.c_str());
}

// PNG8_TRANSPARENT_COLOR names an entry of the palette written; a number
// beyond it is ignored (the buffer's own transparency applies instead).
TEST(PngMeta, TransparentColourSetting) {
    struct Case {
        const char* name;
        Settings settings;
        uint32_t bufferIndex;  // 0xFFFF: none
        uint32_t alphaType;
        uint32_t index;
    };
    const Case cases[] = {
        {"setting", {{"PNG8_TRANSPARENCY", "ON"}, {"PNG8_TRANSPARENT_COLOR", "2"}}, 0xFFFF, KXALPHA_SINGLECOLOR, 2},
        {"setting off", {{"PNG8_TRANSPARENCY", "OFF"}, {"PNG8_TRANSPARENT_COLOR", "2"}}, 0xFFFF, 0, 0},
        {"beyond palette", {{"PNG8_TRANSPARENCY", "ON"}, {"PNG8_TRANSPARENT_COLOR", "9"}}, 0xFFFF, 0, 0},
        {"beyond, buffer's", {{"PNG8_TRANSPARENCY", "ON"}, {"PNG8_TRANSPARENT_COLOR", "200"}}, 1, KXALPHA_SINGLECOLOR, 1},
        {"not a number", {{"PNG8_TRANSPARENCY", "ON"}, {"PNG8_TRANSPARENT_COLOR", "x"}}, 0xFFFF, KXALPHA_SINGLECOLOR, 0},
        {"buffer's beyond palette", {}, 7, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Buffer img = MakeImage(2, 5, 3);
        if (c.bufferIndex != 0xFFFF) {
            KXSUP_SetGfxBufferVersion(img.get(), 3);
            img->AlphaType = KXALPHA_SINGLECOLOR;
            KXSUP_SetAlphaIndex(img.get(), c.bufferIndex);
        }
        const std::string path = TempPath("trans.png");
        Png w(c.settings);
        ASSERT_EQ(w.Save(img.get(), path), KXERR_NONE);
        if (KXT_HaveTool("pngcheck")) {
            EXPECT_EQ(RunTool("pngcheck -q " + path + " >/dev/null"), 0);
        }
        Png r;
        ASSERT_EQ(r.Load(path), KXERR_NONE);
        const KX_GfxBuffer* b = r.Image();
        EXPECT_EQ(b->Version >= 3 ? b->AlphaType : 0u, c.alphaType);
        if (c.alphaType == KXALPHA_SINGLECOLOR) {
            EXPECT_EQ(KXSUP_AlphaIndex(b), c.index);
        }
        remove(path.c_str());
    }
}

}  // namespace
