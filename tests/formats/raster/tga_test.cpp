// kxoTGA: files made by ImageMagick and netpbm (uncompressed and
// run-length encoded, colour-mapped, grey, true colour, with alpha) load as
// tgatoppm reads them; hand-made files for 1-, 15- and 16-bit pixels, map
// placement, orientation, recognition and refusals; the writer through our
// reader, tgatoppm and ImageMagick; safe save and damaged input.
#include <gtest/gtest.h>

#include "formats/raster/kxoTGA.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"
#include "write_failure.h"

using namespace kxt;

namespace {

uint32_t recognises(const std::string& path) {
    kxoTGA tga;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return 0;
    uint32_t r = tga.CheckFile(f, path.c_str(), KXIO_FILE);
    EXPECT_EQ(ftell(f), 0L);
    fclose(f);
    return r;
}

uint32_t recognisesBytes(const std::vector<uint8_t>& bytes) {
    std::string p = TempPath("check.tga");
    WriteAll(p, bytes);
    uint32_t r = recognises(p);
    unlink(p.c_str());
    return r;
}

// An 18-byte header; map fields in the order of the file.
std::vector<uint8_t> header(uint8_t mapType, uint8_t type, uint16_t first, uint16_t length, uint8_t entryBits, uint16_t w,
                            uint16_t h, uint8_t depth, uint8_t descriptor, uint8_t idLength = 0) {
    return {idLength,           mapType,           type,
            (uint8_t)first,     (uint8_t)(first >> 8), (uint8_t)length,
            (uint8_t)(length >> 8), entryBits,     0,
            0,                  0,                 0,
            (uint8_t)w,         (uint8_t)(w >> 8), (uint8_t)h,
            (uint8_t)(h >> 8),  depth,             descriptor};
}

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<uint8_t> rgbOf(const KX_GfxBuffer* b) { return ToRgb(b).Pix; }

// ---- files made by ImageMagick and netpbm ------------------------------------------------

TEST(Tga, FilesLoadAsTgatoppmReadsThem) {
    struct {
        const char* File;
        uint32_t Depth, PixelBits;
        bool Grey, Alpha, Recognised;
    } cases[] = {
        {"im_rgb.tga", 24, 24, false, false, true},      {"im_rgb_rle.tga", 24, 24, false, false, true},
        {"im_rgba.tga", 24, 24, false, true, true},      {"im_rgba_rle.tga", 24, 24, false, true, true},
        {"im_pal.tga", 8, 8, false, false, true},        {"im_grey.tga", 8, 8, true, false, true},
        {"im_bw.tga", 8, 8, true, false, true},          {"nb_rgb.tga", 24, 24, false, false, true},
        {"nb_rgb_rle.tga", 24, 24, false, false, true},  {"nb_cmap.tga", 8, 8, false, false, true},
        {"nb_cmap_rle.tga", 8, 8, false, false, true},   {"nb_grey.tga", 8, 8, true, false, true},
        {"nb_grey_rle.tga", 8, 8, true, false, true},
        // 15-bit map entries: loaded, but not recognised (only 24-bit maps are).
        {"nb_cmap16.tga", 8, 8, false, false, false},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.File);
        const std::string path = Fixture(std::string("tga/") + c.File);
        EXPECT_EQ(recognises(path), c.Recognised ? 1u : 0u);
        Loaded l;
        LoadFile<kxoTGA>(path, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Buffer->ColorDepth, c.Depth);
        EXPECT_EQ(l.Buffer->PixelBits, c.PixelBits);
        EXPECT_EQ((KXSUP_GetGfxBufferFlags(l.Buffer) & KXGFXF_GRAY) != 0, c.Grey);
        Rgb want, got = ToRgb(l.Buffer);
        std::string base = std::string(c.File);
        base = base.substr(0, base.size() - 4);
        ASSERT_TRUE(ReadNetpbm(Fixture("tga/" + base + ".expect.ppm"), want));
        got.Alpha.clear();
        // netpbm widens 5-bit values by arithmetic (x * 255 / 31), we by
        // repeating the top bits: one step apart at most.
        EXPECT_EQ(Compare(got, want, std::string(c.File) == "nb_cmap16.tga" ? 1 : 0), "");
        EXPECT_EQ(KXSUP_AlphaHolds(l.Buffer), c.Alpha ? (uint32_t)KXALPHA_CHANNEL8 : (uint32_t)KXALPHA_NONE);
        if (c.Alpha) {
            Rgb a;
            ASSERT_TRUE(ReadNetpbm(Fixture("tga/im_rgba.alpha.pgm"), a));
            for (size_t i = 0; i < a.Pix.size() / 3; ++i) ASSERT_EQ(KXSUP_AlphaBytes(l.Buffer)[i], a.Pix[3 * i]) << i;
        }
    }
}

TEST(Tga, ReadersSurviveDamagedFiles) {
    for (const char* f : {"im_rgba_rle.tga", "nb_cmap_rle.tga", "nb_grey_rle.tga", "nb_rgb.tga", "nb_cmap16.tga"})
        KXT_CheckReaderRobustness("kxoTGA", Fixture(std::string("tga/") + f));
}

// ---- hand-made files ----------------------------------------------------------------------------

TEST(Tga, SixteenAndFifteenBitPixels) {
    for (uint8_t depth : {16, 15}) {
        SCOPED_TRACE(depth);
        Loaded l;
        LoadBytes<kxoTGA>(header(0, 2, 0, 0, 0, 4, 1, depth, 0x20) + std::vector<uint8_t>{0xFF, 0x7F, 0x00, 0x7C, 0xE0, 0x03, 0x00, 0x80}, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Buffer->ColorDepth, 24u);
        EXPECT_EQ(rgbOf(l.Buffer), (std::vector<uint8_t>{255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 0}));
    }
}

TEST(Tga, BottomUpAndTopDownGiveTheSamePicture) {
    const std::vector<uint8_t> top = {1, 2, 3, 4, 5, 6}, bottom = {7, 8, 9, 10, 11, 12};
    Loaded up, down;
    LoadBytes<kxoTGA>(header(0, 2, 0, 0, 0, 2, 2, 24, 0x00) + bottom + top, up);
    LoadBytes<kxoTGA>(header(0, 2, 0, 0, 0, 2, 2, 24, 0x20) + top + bottom, down);
    ASSERT_EQ(up.Err, KXERR_NONE);
    ASSERT_EQ(down.Err, KXERR_NONE);
    EXPECT_EQ(rgbOf(up.Buffer), (std::vector<uint8_t>{3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}));
    EXPECT_EQ(rgbOf(down.Buffer), rgbOf(up.Buffer));
}

TEST(Tga, OneBitAndGreyPalettes) {
    Loaded l;
    LoadBytes<kxoTGA>(header(0, 3, 0, 0, 0, 10, 2, 1, 0x20) + std::vector<uint8_t>{0xA0, 0x40, 0x01, 0x80}, l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.Buffer->Type, (uint32_t)BITPLANE);
    EXPECT_EQ(l.Buffer->ColorDepth, 1u);
    EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Palette, l.Buffer->Palette + 6), (std::vector<uint8_t>{0, 0, 0, 255, 255, 255}));
    EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 4), (std::vector<uint8_t>{0xA0, 0x40, 0x01, 0x80}));
    EXPECT_NE(KXSUP_GetGfxBufferFlags(l.Buffer) & KXGFXF_GRAY, 0u);
}

TEST(Tga, ColourMapsArePlacedAndSkippedWhole) {
    {
        // 16-bit entries from index 2: entries 0 and 1 stay black.
        Loaded l;
        LoadBytes<kxoTGA>(header(1, 1, 2, 2, 16, 4, 1, 8, 0x20) + std::vector<uint8_t>{0x00, 0x7C, 0xE0, 0x03} +
                              std::vector<uint8_t>{0, 1, 2, 3},
                          l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(rgbOf(l.Buffer), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 255, 0, 0, 0, 255, 0}));
    }
    {
        // A map of 300 entries: the pixels begin after all of them.
        std::vector<uint8_t> map;
        for (int i = 0; i < 300; ++i) map.insert(map.end(), {(uint8_t)i, 0, 0});
        Loaded l;
        LoadBytes<kxoTGA>(header(1, 1, 0, 300, 24, 2, 1, 8, 0x20) + map + std::vector<uint8_t>{5, 255}, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 2), (std::vector<uint8_t>{5, 255}));
        EXPECT_EQ(rgbOf(l.Buffer), (std::vector<uint8_t>{0, 0, 5, 0, 0, 255}));
    }
    {
        // Entries that would fall beyond palette entry 255 are passed over.
        Loaded l;
        LoadBytes<kxoTGA>(header(1, 1, 250, 10, 24, 1, 1, 8, 0x20) + std::vector<uint8_t>(30, 9) + std::vector<uint8_t>{255}, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(rgbOf(l.Buffer), (std::vector<uint8_t>{9, 9, 9}));
    }
}

TEST(Tga, RunLengthPacketsAndShortFiles) {
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        uint32_t Err;
        std::vector<uint8_t> Pixels;  // palette indices / grey bytes
    } cases[] = {
        {"runs cross rows", header(0, 11, 0, 0, 0, 3, 2, 8, 0x20) + std::vector<uint8_t>{0x83, 7, 0x01, 1, 2}, KXERR_NONE,
         {7, 7, 7, 7, 1, 2}},
        {"a run past the end is cut", header(0, 11, 0, 0, 0, 2, 1, 8, 0x20) + std::vector<uint8_t>{0xFF, 4}, KXERR_NONE, {4, 4}},
        {"a literal past the end is cut", header(0, 11, 0, 0, 0, 2, 1, 8, 0x20) + std::vector<uint8_t>{0x03, 1, 2}, KXERR_NONE, {1, 2}},
        {"packets run out", header(0, 11, 0, 0, 0, 300, 1, 8, 0x20) + std::vector<uint8_t>{0x81, 1, 0x81, 2, 0x81, 3}, KXERR_EOF, {}},
        {"uncompressed raster short", header(0, 3, 0, 0, 0, 4, 4, 8, 0x20) + std::vector<uint8_t>(15, 1), KXERR_EOF, {}},
        {"large picture, short file", header(0, 2, 0, 0, 0, 60000, 60000, 32, 0x20) + std::vector<uint8_t>(64, 1), KXERR_EOF, {}},
        {"large run-length picture, short file", header(0, 10, 0, 0, 0, 60000, 60000, 32, 0x20) + std::vector<uint8_t>(64, 0xFF),
         KXERR_EOF, {}},
        {"ID field runs out", header(0, 3, 0, 0, 0, 1, 1, 8, 0x20, 200) + std::vector<uint8_t>(10, 1), KXERR_EOF, {}},
        {"image type 12", header(0, 12, 0, 0, 0, 1, 1, 8, 0x20) + std::vector<uint8_t>{1}, KXERR_FILEREQUIREMENTS, {}},
        {"pixel depth 7", header(0, 3, 0, 0, 0, 1, 1, 7, 0x20) + std::vector<uint8_t>{1}, KXERR_FILEREQUIREMENTS, {}},
        {"map entry size 8", header(1, 1, 0, 1, 8, 1, 1, 8, 0x20) + std::vector<uint8_t>{1, 0}, KXERR_FILEREQUIREMENTS, {}},
        {"zero width", header(0, 3, 0, 0, 0, 0, 1, 8, 0x20) + std::vector<uint8_t>{1}, KXERR_FILEREQUIREMENTS, {}},
        {"header cut", std::vector<uint8_t>{0, 0, 2, 0}, KXERR_EOF, {}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoTGA>(c.File, l);
        EXPECT_EQ(l.Err, c.Err);
        EXPECT_EQ(l.Buffer != nullptr, c.Err == KXERR_NONE);
        if (l.Buffer) {
            EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + l.Buffer->BufferSize), c.Pixels);
        }
    }
}

TEST(Tga, RecognitionIsAPlausibilityTest) {
    const std::vector<uint8_t> px(12, 1);
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        uint32_t Want;
    } cases[] = {
        {"plain true colour", header(0, 2, 0, 0, 0, 2, 2, 24, 0) + px, 1},
        {"run-length true colour", header(0, 10, 0, 0, 0, 2, 2, 24, 0) + px, 1},
        {"image type 0", header(0, 0, 0, 0, 0, 2, 2, 24, 0) + px, 0},
        {"image type 4", header(0, 4, 0, 0, 0, 2, 2, 24, 0) + px, 0},
        {"image type 8", header(0, 8, 0, 0, 0, 2, 2, 24, 0) + px, 0},
        {"map type 2", header(2, 2, 0, 0, 0, 2, 2, 24, 0) + px, 0},
        {"16-bit map entries", header(1, 1, 0, 2, 16, 2, 2, 8, 0) + std::vector<uint8_t>(8, 1), 0},
        {"map longer than the depth allows", header(1, 1, 0, 4, 24, 2, 2, 1, 0) + std::vector<uint8_t>(13, 1), 0},
        {"first entry beyond the map", header(1, 1, 3, 2, 24, 2, 2, 8, 0) + std::vector<uint8_t>(10, 1), 0},
        {"pixel depth 12", header(0, 2, 0, 0, 0, 2, 2, 12, 0) + px, 0},
        {"zero height", header(0, 2, 0, 0, 0, 2, 0, 24, 0) + px, 0},
        {"longer than its pixels and 1344 bytes", header(0, 2, 0, 0, 0, 2, 2, 24, 0) + std::vector<uint8_t>(1357, 1), 0},
        {"just within that length", header(0, 2, 0, 0, 0, 2, 2, 24, 0) + std::vector<uint8_t>(1338, 1), 1},
        {"shorter than a header", std::vector<uint8_t>{0, 0, 2}, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(recognisesBytes(c.File), c.Want);
    }
}

// ---- writer ---------------------------------------------------------------------------------

uint32_t saveImage(KX_GfxBuffer* img, const std::string& path) {
    kxoTGA tga;
    tga.SetSaveName(path.c_str());
    tga.SetGfxBuffer(img);
    return tga.Save();
}

TEST(Tga, WriterRoundTripsThroughOurReaderTgatoppmAndImageMagick) {
    const bool netpbm = KXT_HaveTool("tgatoppm"), magick = KXT_HaveTool("convert-im6.q16");
    std::string p = TempPath("rt.tga"), q = TempPath("rt_check.pam");
    struct {
        uint32_t Depth;
        bool Alpha;
    } kinds[] = {{1, false}, {4, false}, {8, false}, {24, false}, {24, true}};
    for (auto& k : kinds) {
        for (uint32_t w : {1u, 2u, 3u, 8u, 9u, 16u, 17u, 31u}) {
            SCOPED_TRACE("depth " + std::to_string(k.Depth) + (k.Alpha ? " alpha" : "") + " width " + std::to_string(w));
            KX_GfxBuffer* img = MakeImage(w, 3, k.Depth, k.Alpha);
            Rgb want = ToRgb(img);
            ASSERT_EQ(saveImage(img, p), KXERR_NONE);
            std::vector<uint8_t> file = KXT_ReadBytes(p);
            ASSERT_GE(file.size(), 18u);
            EXPECT_EQ(file[16], k.Depth <= 8 ? 8 : k.Alpha ? 32 : 24);
            EXPECT_EQ(file[17], 0x20);
            EXPECT_EQ(recognises(p), 1u);
            Loaded l;
            LoadFile<kxoTGA>(p, l);
            ASSERT_EQ(l.Err, KXERR_NONE);
            EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "") << "our reader";
            if (netpbm && w == 17) {
                Rgb theirs;
                ASSERT_TRUE(Shell("tgatoppm " + p + " > " + q));
                ASSERT_TRUE(ReadNetpbm(q, theirs));
                Rgb colours = want;
                colours.Alpha.clear();
                EXPECT_EQ(Compare(theirs, colours), "") << "tgatoppm";
            }
            if (magick && w == 9) {
                Rgb theirs;
                ASSERT_TRUE(Shell("convert-im6.q16 " + p + " -depth 8 pam:" + q));
                ASSERT_TRUE(ReadNetpbm(q, theirs));
                EXPECT_EQ(Compare(theirs, want), "") << "ImageMagick";
            }
            KXSUP_FreeGfxBuffer(img);
        }
    }
    unlink(p.c_str());
    unlink(q.c_str());
    if (!netpbm || !magick) GTEST_SKIP() << "netpbm or ImageMagick is not installed: a cross-check did not run";
}

TEST(Tga, PaletteImagesGetAFullMap) {
    std::string p = TempPath("pal.tga");
    KX_GfxBuffer* img = MakeImage(3, 1, 4);
    ASSERT_EQ(saveImage(img, p), KXERR_NONE);
    std::vector<uint8_t> file = KXT_ReadBytes(p);
    ASSERT_EQ(file.size(), 18u + 768u + 3u);
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 18), header(1, 1, 0, 256, 24, 3, 1, 8, 0x20));
    EXPECT_EQ(file[18], img->Palette[2]);  // B, G, R
    EXPECT_EQ(file[20], img->Palette[0]);
    EXPECT_EQ(std::vector<uint8_t>(file.end() - 3, file.end()), std::vector<uint8_t>(img->Data, img->Data + 3));
    KXSUP_FreeGfxBuffer(img);
    unlink(p.c_str());
}

TEST(Tga, SaveRefusesBeforeTouchingTheFile) {
    std::string p = TempPath("refuse.tga");
    struct {
        const char* Name;
        uint32_t W, Depth, Err;
    } cases[] = {{"48-bit", 2, 48, KXERR_NOTSUPPORTED}, {"wider than 65535", 65536, 24, KXERR_FILEREQUIREMENTS}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        KX_GfxBuffer* img = MakeImage(c.W, 1, c.Depth);
        EXPECT_EQ(SaveOverOld<kxoTGA>(img, p), c.Err);
        KXSUP_FreeGfxBuffer(img);
    }
    unlink(p.c_str());
}

TEST(Tga, FailedWriteGivesIoAndKeepsTheOldFile) {
    KX_GfxBuffer* img = MakeImage(300, 300, 24, true);
    kxoTGA tga;
    EXPECT_EQ(SaveUnderFileSizeLimit(&tga, img, "full.tga"), KXERR_IO);
    KXSUP_FreeGfxBuffer(img);
}

}  // namespace
