// kxoRAS: files of netpbm, ImageMagick and GraphicsMagick (standard and RGB
// types, 1, 8 and 24 bits, odd widths with their padded rows, short colour
// maps) load as those programs read them; hand-made files for the byte
// orders of the types, the colour map of 24-bit files, maps without
// entries or with too many, and the refusals; the writer through our
// reader, rasttopnm, ImageMagick and Pillow; safe save and damaged input.
#include <gtest/gtest.h>

#include "formats/raster/kxoRAS.h"
#include "module_io.h"
#include "pillow.h"
#include "raster_pixels.h"
#include "support/robustness.h"
#include "write_failure.h"

using namespace kxt;

namespace {

void putBe32(std::vector<uint8_t>& v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v.push_back((uint8_t)(x >> s));
}

std::vector<uint8_t> header(uint32_t w, uint32_t h, uint32_t depth, uint32_t type, uint32_t mapType, uint32_t mapLength,
                            uint32_t length = 0) {
    std::vector<uint8_t> v;
    for (uint32_t x : {0x59A66A95u, w, h, depth, length, type, mapType, mapLength}) putBe32(v, x);
    return v;
}

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<uint8_t> pixels(const KX_GfxBuffer* b) { return std::vector<uint8_t>(b->Data, b->Data + b->BufferSize); }
std::vector<uint8_t> palette(const KX_GfxBuffer* b, uint32_t entries) {
    return std::vector<uint8_t>(b->Palette, b->Palette + 3 * entries);
}

TEST(Ras, FilesOfOtherProgramsLoadAsTheyReadThem) {
    struct {
        const char* Name;
        const char* Expect;
        uint32_t Depth, Type;
        bool Grey;
    } cases[] = {
        {"netpbm_std24", "ppm", 24, ONEPLANE, false}, {"netpbm_std8", "ppm", 8, ONEPLANE, false},
        {"netpbm_grey", "pgm", 8, ONEPLANE, false},   {"im_rgb", "ppm", 24, ONEPLANE, false},
        {"im_pal", "ppm", 8, ONEPLANE, false},        {"gm_bw", "ppm", 1, BITPLANE, true},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string file = Fixture(std::string("ras/") + c.Name + ".ras");
        EXPECT_EQ(Recognises<kxoRAS>(KXT_ReadBytes(file)), 1u);
        Loaded l;
        LoadFile<kxoRAS>(file, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.SubFormat, 0u);
        EXPECT_EQ(l.Buffer->ColorDepth, c.Depth);
        EXPECT_EQ(l.Buffer->Type, c.Type);
        EXPECT_EQ(KXSUP_IsGrayBuffer(l.Buffer) != 0, c.Grey);
        EXPECT_TRUE(l.Progress.empty());
        Rgb want;
        ASSERT_TRUE(ReadNetpbm(Fixture(std::string("ras/") + c.Name + "." + c.Expect), want));
        EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "");
    }
}

TEST(Ras, ByteOrdersPaddingAndColourMaps) {
    // Width 1 at 24 bits: three bytes and a padding byte a row.
    const std::vector<uint8_t> rows24 = {1, 2, 3, 0, 4, 5, 6, 0};
    std::vector<uint8_t> bigMap;
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 300; ++i) bigMap.push_back((uint8_t)(i + 10 * c));
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        std::vector<uint8_t> Pixels, Palette;
        bool Grey;
    } cases[] = {
        {"old type: B, G, R", header(1, 2, 24, 0, 0, 0) + rows24, {3, 2, 1, 6, 5, 4}, {}, false},
        {"standard type: B, G, R", header(1, 2, 24, 1, 0, 0) + rows24, {3, 2, 1, 6, 5, 4}, {}, false},
        {"RGB type: R, G, B", header(1, 2, 24, 3, 0, 0) + rows24, {1, 2, 3, 4, 5, 6}, {}, false},
        {"the map of a 24-bit file is passed over", header(1, 2, 24, 3, 1, 6) + std::vector<uint8_t>{9, 9, 9, 9, 9, 9} + rows24,
         {1, 2, 3, 4, 5, 6}, {}, false},
        {"8 bits, odd width: rows padded", header(3, 2, 8, 1, 0, 0) + std::vector<uint8_t>{1, 2, 3, 0, 4, 5, 6, 0},
         {1, 2, 3, 4, 5, 6}, {0, 0, 0, 1, 1, 1, 2, 2, 2}, true},
        {"1 bit without a map: black on white", header(17, 1, 1, 1, 0, 0) + std::vector<uint8_t>{0xA5, 0xFF, 0x80, 0x00},
         {0xA5, 0xFF, 0x80}, {255, 255, 255, 0, 0, 0}, true},
        {"1 bit with a map", header(3, 1, 1, 1, 1, 6) + std::vector<uint8_t>{10, 20, 11, 21, 12, 22, 0x40, 0},
         {0x40}, {10, 11, 12, 20, 21, 22}, false},
        {"a map of 48 bytes: 16 entries, the rest black",
         header(1, 1, 8, 1, 1, 48) + std::vector<uint8_t>(48, 200) + std::vector<uint8_t>{15, 0}, {15},
         std::vector<uint8_t>(48, 200) + std::vector<uint8_t>(3, 0), false},
        {"a map of 300 entries and a byte: 256 kept, all passed",
         header(2, 1, 8, 1, 1, 901) + bigMap + std::vector<uint8_t>{0, 255, 254}, {255, 254}, {0, 10, 20, 1, 11, 21}, false},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoRAS>(c.File, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(pixels(l.Buffer), c.Pixels);
        EXPECT_EQ(palette(l.Buffer, (uint32_t)c.Palette.size() / 3), c.Palette);
        EXPECT_EQ(KXSUP_IsGrayBuffer(l.Buffer) != 0, c.Grey);
    }
    Loaded l;
    LoadBytes<kxoRAS>(header(2, 1, 8, 1, 1, 900) + bigMap + std::vector<uint8_t>{0, 255}, l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(palette(l.Buffer, 256)[3 * 255], 255);  // red 255, the map's 256th red
}

TEST(Ras, Refusals) {
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        uint32_t Err;
    } cases[] = {
        {"byte-encoded type", header(2, 2, 8, 2, 0, 0) + std::vector<uint8_t>(4, 1), KXERR_FILEREQUIREMENTS},
        {"type 4", header(2, 2, 8, 4, 0, 0) + std::vector<uint8_t>(4, 1), KXERR_FILEREQUIREMENTS},
        {"raw colour map", header(2, 2, 8, 1, 2, 0) + std::vector<uint8_t>(4, 1), KXERR_FILEREQUIREMENTS},
        {"32 bits", header(2, 2, 32, 3, 0, 0) + std::vector<uint8_t>(16, 1), KXERR_NOTSUPPORTED},
        {"4 bits", header(2, 2, 4, 1, 0, 0) + std::vector<uint8_t>(4, 1), KXERR_NOTSUPPORTED},
        {"zero width", header(0, 2, 8, 1, 0, 0) + std::vector<uint8_t>(4, 1), KXERR_FILEREQUIREMENTS},
        {"header cut", std::vector<uint8_t>{0x59, 0xA6, 0x6A, 0x95, 0, 0, 0, 2}, KXERR_EOF},
        {"colour map cut", header(2, 2, 8, 1, 1, 768) + std::vector<uint8_t>(100, 1), KXERR_EOF},
        {"rows short of their padding", header(3, 2, 8, 1, 0, 0) + std::vector<uint8_t>(7, 1), KXERR_EOF},
        {"large picture, short file", header(60000, 60000, 24, 3, 0, 0) + std::vector<uint8_t>(64, 1), KXERR_EOF},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoRAS>(c.File, l);
        EXPECT_EQ(l.Err, c.Err);
        EXPECT_EQ(l.Buffer, nullptr);
    }
    EXPECT_EQ(Recognises<kxoRAS>(header(2, 2, 8, 2, 0, 0)), 1u);  // the magic alone decides
    EXPECT_EQ(Recognises<kxoRAS>({0x59, 0xA6, 0x6A, 0x96}), 0u);
    EXPECT_EQ(Recognises<kxoRAS>({0x59, 0xA6}), 0u);
}

TEST(Ras, ReadersSurviveDamagedFiles) {
    for (const char* f : {"netpbm_std24", "netpbm_std8", "im_pal", "gm_bw"})
        KXT_CheckReaderRobustness("kxoRAS", Fixture(std::string("ras/") + f + ".ras"));
}

// ---- writer ------------------------------------------------------------------------

TEST(Ras, WriterRoundTripsThroughOurReaderRasttopnmImageMagickAndPillow) {
    const bool netpbm = KXT_HaveTool("rasttopnm"), im = KXT_HaveTool("convert-im6.q16"), pil = !PillowPython().empty();
    const std::string p = TempPath("rt.ras"), q = TempPath("rt.ppm");
    for (uint32_t depth : {1u, 4u, 8u, 24u}) {
        for (uint32_t w : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 16u, 17u, 31u}) {
            SCOPED_TRACE("depth " + std::to_string(depth) + " width " + std::to_string(w));
            KX_GfxBuffer* img = MakeImage(w, 3, depth);
            const Rgb want = ToRgb(img);
            Saved s = SaveTo<kxoRAS>(img, p);
            ASSERT_EQ(s.Err, KXERR_NONE);
            const bool palette = depth <= 8;
            const uint32_t rowBytes = (w * (palette ? 8 : 24) + 15) / 16 * 2;
            ASSERT_EQ(s.File.size(), 32 + (palette ? 768u : 0u) + rowBytes * 3);
            EXPECT_EQ(std::vector<uint8_t>(s.File.begin(), s.File.begin() + 32),
                      header(w, 3, palette ? 8 : 24, palette ? 1 : 3, palette ? 1 : 0, palette ? 768 : 0, rowBytes * 3));
            Loaded l;
            LoadFile<kxoRAS>(p, l);
            ASSERT_EQ(l.Err, KXERR_NONE);
            EXPECT_EQ(l.Buffer->ColorDepth, palette ? 8u : 24u);
            EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "") << "our reader";
            if (netpbm) {
                EXPECT_EQ(ReadBack(Shell("rasttopnm " + p + " > " + q), q, want), "") << "rasttopnm";
            }
            if (im) {
                EXPECT_EQ(ReadBack(Shell("convert-im6.q16 " + p + " -depth 8 -type TrueColor ppm:" + q), q, want), "") << "ImageMagick";
            }
            if (pil) {
                EXPECT_EQ(ReadBack(RunPillow("Image.open('" + p + "').convert('RGB').save('" + q + "', format='PPM')"), q, want), "")
                    << "Pillow";
            }
            KXSUP_FreeGfxBuffer(img);
        }
    }
    unlink(p.c_str());
    unlink(q.c_str());
    if (!netpbm || !im || !pil) GTEST_SKIP() << "rasttopnm, ImageMagick or Pillow is missing: a cross-check did not run";
}

TEST(Ras, WriterColourMapAndPadding) {
    const std::string p = TempPath("map.ras");
    KX_GfxBuffer* img = MakeImage(3, 2, 8);
    Saved s = SaveTo<kxoRAS>(img, p);
    ASSERT_EQ(s.Err, KXERR_NONE);
    ASSERT_EQ(s.File.size(), 32 + 768 + 8u);
    for (uint32_t i = 0; i < 256; ++i) {
        ASSERT_EQ(s.File[32 + i], img->Palette[3 * i]) << i;
        ASSERT_EQ(s.File[32 + 256 + i], img->Palette[3 * i + 1]) << i;
        ASSERT_EQ(s.File[32 + 512 + i], img->Palette[3 * i + 2]) << i;
    }
    EXPECT_EQ(std::vector<uint8_t>(s.File.begin() + 800, s.File.end()),
              (std::vector<uint8_t>{img->Data[0], img->Data[1], img->Data[2], 0, img->Data[3], img->Data[4], img->Data[5], 0}));
    KXSUP_FreeGfxBuffer(img);
    unlink(p.c_str());
}

TEST(Ras, SaveRefusesBeforeTouchingTheFile) {
    const std::string p = TempPath("refuse.ras");
    struct {
        const char* Name;
        uint32_t Depth, ViewMode, Err;
    } cases[] = {
        {"48 bits", 48, 0, KXERR_NOTSUPPORTED},
        {"16 bits", 24, 0, KXERR_NOTSUPPORTED},  // depth field set to 16 below
        {"HAM", 6, 0x800, KXERR_NOHAM},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        KX_GfxBuffer* img = MakeImage(2, 2, c.Depth);
        if (std::string(c.Name) == "16 bits") img->ColorDepth = 16;
        img->ViewMode = c.ViewMode;
        EXPECT_EQ(SaveOverOld<kxoRAS>(img, p), c.Err);
        KXSUP_FreeGfxBuffer(img);
    }
    unlink(p.c_str());
}

TEST(Ras, FailedWriteGivesIoAndKeepsTheOldFile) {
    for (uint32_t depth : {8u, 24u}) {
        KX_GfxBuffer* img = MakeImage(301, 300, depth);
        kxoRAS ras;
        EXPECT_EQ(SaveUnderFileSizeLimit(&ras, img, "full.ras"), KXERR_IO) << depth;
        KXSUP_FreeGfxBuffer(img);
    }
}

}  // namespace
