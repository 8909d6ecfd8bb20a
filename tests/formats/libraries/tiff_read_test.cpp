// The TIFF reader against libtiff's own tools: a matrix of files made in
// the test by netpbm, tiffcp, raw2tiff and ImageMagick, each loaded with
// the pixels tifftopnm gives for it, by the road the reader should take.
#include <tiffio.h>

#include <functional>

#include "support/robustness.h"
#include "formats/libraries/kxoTIFFInternal.h"
#include "tiff_helpers.h"

namespace {

using namespace tifftest;

const uint32_t kW = 13, kH = 7;

// The source pictures: grey or colour netpbm files of a given maxval.
Bytes Source(bool colour, uint32_t maxval) {
    return pngtest::MakePnm(colour, kW, kH, maxval, [maxval](uint32_t i) {
        // Few distinct colours at maxval 255 so that netpbm can make a palette.
        return maxval == 255 ? (i * 37 % 11) * 23 : i * 2654435761u >> 9;
    });
}

struct Row {
    const char* name;
    bool colour;
    uint32_t maxval;
    const char* make;  // IN: the netpbm source (or PAM with alpha), OUT: the TIFF
    Settings settings;
    uint32_t depth;     // loaded ColorDepth
    uint32_t type;      // BITPLANE or ONEPLANE
    uint32_t road;      // KXTiffTestSeam::Road
    bool alpha = false; // RGBA source; the alpha map is compared too
    bool byrow = false; // 16-bit samples: tifftopnm -byrow keeps them whole
    int scale = 0;      // 0: as tifftopnm gives it; 1: 16-bit sample / 257; 2: the grey ramp
    bool grey = false;  // the picture is flagged grey
    // How the expected pixels are made: 0 tifftopnm, 1 tiff2rgba first (for
    // YCbCr, which tifftopnm does not read), 2 tifftopnm for the colour of a
    // picture with associated alpha (as stored), the source for its alpha.
    int oracle = 0;
};

// What the reader holds for a sample tifftopnm gives as v of maxval m.
uint32_t Expected(uint32_t v, uint32_t m, int scale) {
    if (scale == 1) return v / 257;
    // Grey without a colour map: level i is i x (256 / levels), the last 255.
    if (scale == 2) return v == m ? 255 : v * (256 / (m + 1));
    return v;
}

using R = KXTiffTestSeam::Road;
const Row kRows[] = {
    {"bw_none", false, 1, "pnmtotiff -none IN > OUT", {}, 1, BITPLANE, R::ROAD_OWN},
    {"bw_none_mb", false, 1, "pnmtotiff -none -minisblack IN > OUT", {}, 1, BITPLANE, R::ROAD_OWN},
    {"bw_packbits", false, 1, "pnmtotiff -packbits IN > OUT", {}, 1, BITPLANE, R::ROAD_OWN},
    {"bw_strips_mm", false, 1, "pnmtotiff -none -rowsperstrip=2 IN > T && tiffcp -B T OUT", {}, 1, BITPLANE, R::ROAD_OWN},
    {"grey2", false, 3, "pnmtotiff -none IN > OUT", {}, 2, ONEPLANE, R::ROAD_OWN, false, false, 2},
    {"grey4", false, 15, "pnmtotiff -none IN > OUT", {}, 4, ONEPLANE, R::ROAD_OWN, false, false, 2},
    {"grey4_packbits", false, 15, "pnmtotiff -packbits IN > OUT", {}, 4, ONEPLANE, R::ROAD_OWN, false, false, 2},
    {"grey8", false, 200, "pnmtotiff -none IN > OUT", {}, 8, ONEPLANE, R::ROAD_OWN},
    {"grey8_miniswhite", false, 200, "pnmtotiff -none -miniswhite IN > OUT", {}, 8, ONEPLANE, R::ROAD_OWN},
    {"grey8_packbits_strips", false, 200, "pnmtotiff -packbits -rowsperstrip=3 IN > OUT", {}, 8, ONEPLANE, R::ROAD_OWN},
    {"pal8", true, 255, "pnmtotiff -none IN > OUT", {}, 8, ONEPLANE, R::ROAD_OWN},
    {"pal4", true, 255, "pnmtotiff -none -indexbits=4 IN > OUT", {}, 4, ONEPLANE, R::ROAD_OWN},
    {"pal8_packbits_mm", true, 255, "pnmtotiff -packbits IN > T && tiffcp -B T OUT", {}, 8, ONEPLANE, R::ROAD_OWN},
    {"rgb8", true, 200, "pnmtotiff -truecolor -none IN > OUT", {}, 24, ONEPLANE, R::ROAD_OWN},
    {"rgb8_strips_mm", true, 200, "pnmtotiff -truecolor -none -rowsperstrip=2 IN > T && tiffcp -B T OUT", {}, 24, ONEPLANE, R::ROAD_OWN},
    {"rgb8_packbits", true, 200, "pnmtotiff -truecolor -packbits IN > OUT", {}, 24, ONEPLANE, R::ROAD_OWN},
    {"rgb16", true, 65535, "pnmtotiff -truecolor -none IN > OUT", {}, 48, ONEPLANE, R::ROAD_OWN, false, true},
    {"rgb16_mm", true, 65535, "pnmtotiff -truecolor -none IN > T && tiffcp -B T OUT", {}, 48, ONEPLANE, R::ROAD_OWN, false, true},
    {"grey16", false, 65535, "pnmtotiff -none IN > OUT", {}, 48, ONEPLANE, R::ROAD_OWN, false, true},
    {"grey16_mm", false, 65535, "pnmtotiff -none IN > T && tiffcp -B T OUT", {}, 48, ONEPLANE, R::ROAD_OWN, false, true},
    {"grey16_as8", false, 65535, "pnmtotiff -none IN > OUT", {{"GRAYDEPTH16", "8"}}, 8, ONEPLANE, R::ROAD_OWN, false, true, 1},
    {"grey16_as8_anycase", false, 65535, "pnmtotiff -none IN > OUT", {{"GrayDepth16", "8"}}, 8, ONEPLANE, R::ROAD_OWN, false, true, 1},
    {"rgba8", true, 255, "convert-im6.q16 IN -define tiff:alpha=unassociated -compress none OUT", {}, 24, ONEPLANE, R::ROAD_OWN, true},
    {"rgba16_mm", true, 65535, "convert-im6.q16 IN -define tiff:alpha=unassociated -compress none -endian MSB OUT", {}, 48,
     ONEPLANE, R::ROAD_OWN, true, true},
    // Through libtiff: its own rows, or its RGBA reader (24-bit RGB).
    {"grey8_lzw", false, 200, "pnmtotiff -lzw IN > OUT", {}, 24, ONEPLANE, R::ROAD_LIBTIFF, false, false, 0, true},
    {"grey8_zip_map", false, 200, "pnmtotiff -none IN > T && tiffcp -c zip T OUT", {}, 24, ONEPLANE, R::ROAD_LIBTIFF, false, false, 0, true},
    {"rgb8_lzw", true, 200, "pnmtotiff -truecolor -lzw IN > OUT", {}, 24, ONEPLANE, R::ROAD_LIBTIFF},
    {"rgb8_zip_pred_mm", true, 200, "pnmtotiff -truecolor -none IN > T && tiffcp -B -c zip:2 T OUT", {}, 24, ONEPLANE, R::ROAD_LIBTIFF},
    {"rgb16_lzw", true, 65535, "pnmtotiff -truecolor -lzw IN > OUT", {}, 48, ONEPLANE, R::ROAD_LIBTIFF, false, true},
    {"grey16_zip_mm", false, 65535, "pnmtotiff -none IN > T && tiffcp -B -c zip T OUT", {}, 48, ONEPLANE, R::ROAD_LIBTIFF, false, true, 0, true},
    {"grey16_zip_as8", false, 65535, "pnmtotiff -none IN > T && tiffcp -c zip T OUT", {{"GRAYDEPTH16", "8"}}, 8, ONEPLANE, R::ROAD_LIBTIFF, false, true, 1, true},
    {"pal8_lzw", true, 255, "pnmtotiff -lzw IN > OUT", {}, 8, ONEPLANE, R::ROAD_LIBTIFF},
    {"pal4_lzw", true, 255, "pnmtotiff -lzw -indexbits=4 IN > OUT", {}, 24, ONEPLANE, R::ROAD_LIBTIFF},
    {"bw_g3", false, 1, "pnmtotiff -g3 IN > OUT", {}, 24, ONEPLANE, R::ROAD_LIBTIFF, false, false, 0, true},
    {"bw_g4_mm", false, 1, "pnmtotiff -g4 IN > T && tiffcp -B T OUT", {}, 24, ONEPLANE, R::ROAD_LIBTIFF, false, false, 0, true},
    {"bw_lzw_tiled", false, 1, "pnmtotiff -none IN > T && tiffcp -c lzw -t -w 16 -l 16 T OUT", {}, 24, ONEPLANE, R::ROAD_LIBTIFF, false, false, 0, true},
    {"rgb8_jpeg", true, 200, "pnmtotiff -truecolor -none IN > T && tiffcp -c jpeg:90 T OUT", {}, 24, ONEPLANE, R::ROAD_LIBTIFF,
     false, false, 0, false, 1},
    {"rgb8_jpeg_raw", true, 200, "pnmtotiff -truecolor -none IN > T && tiffcp -c jpeg:r T OUT", {}, 24, ONEPLANE, R::ROAD_LIBTIFF},
    {"rgb8_tiled_lzw", true, 200, "pnmtotiff -truecolor -none IN > T && tiffcp -c lzw -t -w 16 -l 16 T OUT", {}, 24, ONEPLANE, R::ROAD_LIBTIFF},
    {"rgb8_separate", true, 200, "pnmtotiff -truecolor -none IN > T && tiffcp -p separate T OUT", {}, 24, ONEPLANE, R::ROAD_LIBTIFF},
    {"rgb8_separate_tiled_zip", true, 200, "pnmtotiff -truecolor -none IN > T && tiffcp -p separate -c zip -t T OUT", {}, 24, ONEPLANE, R::ROAD_LIBTIFF},
    {"rgba8_zip", true, 255, "convert-im6.q16 IN -define tiff:alpha=unassociated -compress zip OUT", {}, 24, ONEPLANE, R::ROAD_LIBTIFF, true},
    {"rgba16_lzw_mm", true, 65535, "convert-im6.q16 IN -define tiff:alpha=unassociated -compress lzw -endian MSB OUT", {}, 48,
     ONEPLANE, R::ROAD_LIBTIFF, true, true},
    {"rgba8_associated", true, 255, "convert-im6.q16 IN -define tiff:alpha=associated -compress lzw OUT", {}, 24, ONEPLANE,
     R::ROAD_LIBTIFF, true, false, 0, false, 2},
    // raw2tiff stores PackBits data with its bits reversed (FillOrder 2).
    {"raw2tiff_grey8", false, 255, "pamtopnm IN | tail -c 91 > T && raw2tiff -w 13 -l 7 -d byte -b 1 -p minisblack T OUT", {}, 8,
     ONEPLANE, R::ROAD_OWN},
};

uint32_t AlphaOf(uint32_t i, uint32_t maxval) { return (i * 40503u + 7) % (maxval + 1); }

// The PAM with an alpha channel made from a netpbm colour source.
Bytes WithAlpha(const Bytes& pnm, uint32_t maxval) {
    Pnm p;
    EXPECT_TRUE(pngtest::ParsePnm(pnm, &p));
    std::string head = "P7\nWIDTH " + std::to_string(kW) + "\nHEIGHT " + std::to_string(kH) +
                       "\nDEPTH 4\nMAXVAL " + std::to_string(maxval) + "\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    Bytes out(head.begin(), head.end());
    for (uint32_t i = 0; i < kW * kH; ++i)
        for (uint32_t c = 0; c < 4; ++c) {
            const uint32_t v = c < 3 ? p.rgb[i * 3 + c] : AlphaOf(i, maxval);
            if (maxval > 255) out.push_back((uint8_t)(v >> 8));
            out.push_back((uint8_t)v);
        }
    return out;
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
    return s;
}

class TiffReadMatrix : public ::testing::TestWithParam<Row> {};

TEST_P(TiffReadMatrix, PixelsOfLibtiffsTools) {
    const Row& r = GetParam();
    for (const char* tool : {"pnmtotiff", "tiffcp", "tifftopnm", "ppmtoppm", "convert-im6.q16", "raw2tiff"})
        if (!KXT_HaveTool(tool)) GTEST_SKIP() << tool << " missing";
    const std::string in = TempPath(std::string(r.name) + (r.alpha ? ".pam" : r.colour ? ".ppm" : ".pgm"));
    const std::string tif = TempPath(std::string(r.name) + ".tif"), tmp = TempPath(std::string(r.name) + ".tmp.tif");
    const std::string expect = TempPath(std::string(r.name) + ".ppm");
    const Bytes source = Source(r.colour, r.maxval);
    ASSERT_TRUE(KXT_WriteBytes(in, r.alpha ? WithAlpha(source, r.maxval) : source));
    const std::string make = Replace(Replace(Replace(r.make, "IN", in), "OUT", tif), " T ", " " + tmp + " ");
    ASSERT_EQ(RunTool(make), 0) << make;
    // tifftopnm puts an alpha channel over black: pictures with alpha are
    // compared with the source the file was made from instead.
    Pnm want;
    if (r.alpha && r.oracle != 2) {
        ASSERT_TRUE(pngtest::ParsePnm(source, &want));
    } else {
        const std::string from = r.oracle == 1 ? tmp + ".rgba" : tif;
        if (r.oracle == 1) ASSERT_EQ(RunTool("tiff2rgba -c none -n " + tif + " " + from), 0);
        ASSERT_EQ(RunTool(std::string("tifftopnm ") + (r.byrow ? "-byrow " : "") + from + " | ppmtoppm > " + expect), 0);
        ASSERT_TRUE(ReadPnm(expect, &want));
        remove((tmp + ".rgba").c_str());
    }

    KXTiffTestSeam seam;
    Tiff t(r.settings);
    ASSERT_EQ(t.Load(tif), KXERR_NONE);
    EXPECT_EQ(seam.LastRoad, r.road);
    KX_GfxBuffer* b = t.Image();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Width, kW);
    EXPECT_EQ(b->Height, kH);
    EXPECT_EQ(b->ColorDepth, r.depth);
    EXPECT_EQ(b->Type, r.type);
    if (r.grey) EXPECT_TRUE(KXSUP_IsGrayBuffer(b));
    std::string why;
    EXPECT_TRUE(KXT_ImageIsValid(b, &why)) << why;
    for (uint32_t i = 0; i < kW * kH; ++i)
        for (int c = 0; c < 3; ++c)
            ASSERT_EQ(Sample(b, i, c), Expected(want.rgb[i * 3 + c], want.maxval, r.scale)) << "pixel " << i << " sample " << c;
    if (r.alpha) {
        ASSERT_EQ(KXSUP_AlphaHolds(b), r.depth == 48 ? (uint32_t)KXALPHA_CHANNEL16 : (uint32_t)KXALPHA_CHANNEL8);
        for (uint32_t i = 0; i < kW * kH; ++i) {
            uint32_t got;
            if (r.depth == 24) {
                got = KXSUP_AlphaBytes(b)[i];
            } else {
                const uint8_t* s = KXSUP_AlphaBytes(b) + i * 2;
                got = KXSUP_GetGfxBufferEndianess(b) == KXENDIAN_BIG ? (uint32_t)(s[0] << 8 | s[1]) : (uint32_t)(s[1] << 8 | s[0]);
            }
            ASSERT_EQ(got, AlphaOf(i, r.maxval)) << "alpha " << i;
        }
    }
    for (const std::string& f : {in, tif, tmp, expect}) remove(f.c_str());
}

INSTANTIATE_TEST_SUITE_P(Tools, TiffReadMatrix, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& i) { return std::string(i.param.name); });

// Our own files, every depth and alpha kind, read back as written.
TEST(TiffRead, OurFilesComeBack) {
    for (uint32_t depth : {1u, 4u, 8u, 24u, 48u}) {
        for (bool alpha : {false, true}) {
            if (alpha && depth <= 8) continue;
            for (uint32_t w : {1u, 2u, 3u, 7u, 8u, 9u, 16u, 17u, 61u}) {
                SCOPED_TRACE("depth " + std::to_string(depth) + (alpha ? " alpha" : "") + " width " + std::to_string(w));
                Buffer img = MakeImage(depth, w, 3);
                if (alpha) AddAlpha(img.get());
                Buffer ref = MakeImage(depth, w, 3);
                const std::string path = TempPath("back.tif");
                Tiff out;
                ASSERT_EQ(out.Save(img.get(), path), KXERR_NONE);
                Tiff in;
                ASSERT_EQ(in.Load(path), KXERR_NONE);
                KX_GfxBuffer* b = in.Image();
                ASSERT_NE(b, nullptr);
                EXPECT_EQ(b->ColorDepth, depth <= 8 ? 8u : depth);
                for (uint32_t i = 0; i < w * 3; ++i)
                    for (int c = 0; c < 3; ++c) ASSERT_EQ(Sample(b, i, c), Sample(ref.get(), i, c)) << i;
                if (alpha) {
                    ASSERT_EQ(KXSUP_AlphaHolds(b), KXSUP_AlphaHolds(img.get()));
                    if (depth == 24) EXPECT_EQ(memcmp(b->AlphaData, img->AlphaData, w * 3), 0);
                }
                remove(path.c_str());
            }
        }
    }
}

// Layouts made byte by byte, each showing one rule of the own reader.
TEST(TiffRead, OwnReaderByteTables) {
    struct Case {
        const char* name;
        std::function<Bytes()> make;
        Settings settings;
        uint32_t code;
        std::function<void(const KX_GfxBuffer*)> check;
    };
    // A 3-bit grey picture of width 5 (15 bits: each row starts on its own byte).
    auto grey3 = [] {
        TiffBuilder t;
        t.pixels = {0b00100101, 0b01110110, 0b11111010, 0b10001000};  // rows 0 and 1
        t.addShort(256, 5);
        t.addShort(257, 2);
        t.addShort(258, 3);
        t.addShort(259, 1);
        t.addShort(262, 1);
        t.addLong(273, TiffBuilder::kPixels);
        t.addShort(277, 1);
        t.addShort(278, 2);
        t.addLong(279, 4);
        return t.build();
    };
    auto grey8 = [](bool big, uint32_t w, uint32_t h, uint32_t stripBytes, uint32_t offset) {
        TiffBuilder t;
        t.big = big;
        for (uint32_t i = 0; i < stripBytes; ++i) t.pixels.push_back((uint8_t)(i + 1));
        t.addShort(256, w);
        t.addShort(257, h);
        t.addShort(258, 8);
        t.addShort(259, 1);
        t.addShort(262, 1);
        t.addLong(273, offset);
        t.addShort(277, 1);
        t.addLong(279, w * h);
        return t.build();
    };
    auto packbits = [](const Bytes& data, uint32_t w, uint32_t h, uint32_t count) {
        TiffBuilder t;
        t.pixels = data;
        t.addShort(256, w);
        t.addShort(257, h);
        t.addShort(258, 8);
        t.addShort(259, 32773);
        t.addShort(262, 1);
        t.addLong(273, TiffBuilder::kPixels);
        t.addShort(277, 1);
        t.addLong(279, count);
        return t.build();
    };
    const Case cases[] = {
        {"3-bit grey, odd width", grey3, {}, KXERR_NONE,
         [](const KX_GfxBuffer* b) {
             const uint8_t want[10] = {1, 1, 2, 7, 3, 7, 6, 5, 0, 4};
             for (int i = 0; i < 10; ++i) EXPECT_EQ(b->Data[i], want[i]) << i;
             EXPECT_EQ(b->ColorDepth, 3u);
             // MinIsBlack without a map: i x 32, the last entry 255.
             EXPECT_EQ(b->Palette[3 * 3], 96);
             EXPECT_EQ(b->Palette[7 * 3], 255);
         }},
        {"strip cut short: zero pixels at the end", [&] {
             // The directory in front, the pixels cut after 5 of 12 bytes.
             TiffBuilder t;
             t.addShort(256, 4);
             t.addShort(257, 3);
             t.addShort(258, 8);
             t.addShort(259, 1);
             t.addShort(262, 1);
             t.addLong(273, 8 + 2 + 12 * 8 + 4);  // right after the directory
             t.addShort(277, 1);
             t.addLong(279, 12);
             Bytes g = t.build();
             for (uint8_t v : {9, 8, 7, 6, 5}) g.push_back(v);
             return g;
         }, {}, KXERR_NONE,
         [](const KX_GfxBuffer* b) {
             const uint8_t want[12] = {9, 8, 7, 6, 5, 0, 0, 0, 0, 0, 0, 0};
             EXPECT_EQ(memcmp(b->Data, want, 12), 0);
         }},
        {"first strip outside the file", [&] { return grey8(true, 4, 3, 12, 5000); }, {}, KXERR_EOF, nullptr},
        {"PackBits run across the row is cut there",
         [&] { return packbits({0xFD, 7, 0x00, 9, 0xFF, 4, 0xFF, 5}, 2, 3, 8); }, {}, KXERR_NONE,
         [](const KX_GfxBuffer* b) {
             // Row 0 takes two of the four 7s; row 1 starts at the next control byte.
             const uint8_t want[6] = {7, 7, 9, 4, 5, 5};
             EXPECT_EQ(memcmp(b->Data, want, 6), 0);
         }},
        {"PackBits past its strip", [&] { return packbits({0x05, 1, 2}, 2, 3, 3); }, {}, KXERR_DECODE, nullptr},
        {"4-bit MinIsBlack ramp", [] {
             TiffBuilder t;
             t.pixels = {0x01, 0xEF};
             t.addShort(256, 2);
             t.addShort(257, 2);
             t.addShort(258, 4);
             t.addShort(259, 1);
             t.addShort(262, 1);
             t.addLong(273, TiffBuilder::kPixels);
             t.addShort(277, 1);
             t.addLong(279, 2);
             return t.build();
         }, {}, KXERR_NONE,
         [](const KX_GfxBuffer* b) {
             for (int i = 0; i < 15; ++i) EXPECT_EQ(b->Palette[i * 3], i * 16) << i;
             EXPECT_EQ(b->Palette[15 * 3], 255);
             EXPECT_EQ(b->Data[3], 15);
             EXPECT_TRUE(KXSUP_IsGrayBuffer(b));
         }},
        {"colour map outside the file", [] {
             TiffBuilder t;
             t.pixels = {0, 1, 2, 3};
             t.addShort(256, 2);
             t.addShort(257, 2);
             t.addShort(258, 8);
             t.addShort(259, 1);
             t.addShort(262, 3);
             t.addLong(273, TiffBuilder::kPixels);
             t.addShort(277, 1);
             t.addLong(279, 4);
             t.add(320, 3, 768, t.longs({100000}));  // an offset in the entry
             return t.build();
         }, {}, KXERR_DECODE, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = TempPath("bytes.tif");
        ASSERT_TRUE(KXT_WriteBytes(path, c.make()));
        KXTiffTestSeam seam;
        Tiff t(c.settings);
        EXPECT_EQ(t.Load(path), c.code);
        KX_GfxBuffer* b = t.Image();
        if (c.code == KXERR_NONE) {
            ASSERT_NE(b, nullptr);
            EXPECT_EQ(seam.LastRoad, (uint32_t)KXTiffTestSeam::ROAD_OWN);
            std::string why;
            EXPECT_TRUE(KXT_ImageIsValid(b, &why)) << why;
            if (c.check) c.check(b);
        } else {
            EXPECT_EQ(b, nullptr);
        }
        remove(path.c_str());
    }
}

// Damaged copies of our own file and of a tool's multi-strip PackBits
// file end with a code or a valid picture.
TEST(TiffRead, TruncatedAndFlippedFiles) {
    Buffer img = MakeImage(24, 9, 5);
    AddAlpha(img.get());
    const std::string ours = TempPath("robust.tif");
    Tiff t;
    ASSERT_EQ(t.Save(img.get(), ours), KXERR_NONE);
    KXT_CheckReaderRobustness("kxoTIFF", ours);
    remove(ours.c_str());
    if (KXT_HaveTool("pnmtotiff")) {
        const std::string in = TempPath("robust.pgm"), tif = TempPath("robust_pb.tif");
        ASSERT_TRUE(KXT_WriteBytes(in, Source(false, 200)));
        ASSERT_EQ(RunTool("pnmtotiff -packbits -rowsperstrip=2 " + in + " > " + tif), 0);
        KXT_CheckReaderRobustness("kxoTIFF", tif);
        // The libtiff road (and its fall-backs): tiled LZW and JPEG.
        if (KXT_HaveTool("tiffcp")) {
            const std::string tiled = TempPath("robust_tiled.tif"), jpeg = TempPath("robust_jpeg.tif");
            const std::string rgb = TempPath("robust.ppm"), plain = TempPath("robust_rgb.tif");
            ASSERT_TRUE(KXT_WriteBytes(rgb, Source(true, 200)));
            ASSERT_EQ(RunTool("pnmtotiff -truecolor -none " + rgb + " > " + plain), 0);
            ASSERT_EQ(RunTool("tiffcp -c lzw -t -w 16 -l 16 " + plain + " " + tiled), 0);
            ASSERT_EQ(RunTool("tiffcp -c jpeg " + plain + " " + jpeg), 0);
            KXT_CheckReaderRobustness("kxoTIFF", tiled);
            KXT_CheckReaderRobustness("kxoTIFF", jpeg);
            for (const std::string& f : {tiled, jpeg, rgb, plain}) remove(f.c_str());
        }
        remove(in.c_str());
        remove(tif.c_str());
    }
}

}  // namespace
