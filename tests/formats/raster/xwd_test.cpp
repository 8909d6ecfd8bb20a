// kxoXWD: dumps of pnmtoxwd (netpbm), ImageMagick and GraphicsMagick load
// pixel for pixel; hand-built headers for the refusals, the pixel-size
// correction (window width 0, padded rows), both byte orders and the masks,
// colour maps longer than 256 entries, the grey ramp of files without a
// map, rows past the end of the file, recognition and damaged input.
#include <gtest/gtest.h>

#include "formats/raster/kxoXWD.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"

using namespace kxt;

namespace {

TEST(Xwd, DumpsOfOtherProgramsLoadPixelForPixel) {
    struct {
        const char* Name;
        uint32_t Depth;
    } cases[] = {{"netpbm_8bit", 8}, {"netpbm_32bit", 24}, {"netpbm_grey", 8}, {"im_8bit", 8},
                 {"im_24bit", 24},   {"gm_8bit", 8},       {"gm_24bit", 24}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadFile<kxoXWD>(Fixture(std::string("xwd/") + c.Name + ".xwd"), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Buffer->ColorDepth, c.Depth);
        EXPECT_EQ(l.Buffer->Type, (uint32_t)ONEPLANE);
        EXPECT_EQ(l.SubFormat, 0u);
        Rgb want;
        ASSERT_TRUE(ReadNetpbm(Fixture(std::string("xwd/") + c.Name + ".ppm"), want));
        EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "");
    }
}

enum : uint32_t { F_HEADER_SIZE, F_VERSION, F_FORMAT, F_DEPTH, F_WIDTH, F_HEIGHT, F_XOFFSET, F_BYTE_ORDER, F_UNIT, F_BIT_ORDER, F_PAD, F_BPP, F_BPL,
                  F_CLASS, F_RED, F_GREEN, F_BLUE, F_BITS_PER_RGB, F_MAP_ENTRIES, F_NCOLORS, F_WINDOW_WIDTH };

struct Dump {
    uint32_t H[25] = {};
    std::vector<uint8_t> Map, Pixels;
    Dump(uint32_t w, uint32_t h, uint32_t bpp) {
        H[F_HEADER_SIZE] = 104, H[F_VERSION] = 7, H[F_FORMAT] = 2, H[F_DEPTH] = bpp == 8 ? 8 : 24, H[F_WIDTH] = w, H[F_HEIGHT] = h;
        H[F_BYTE_ORDER] = 1, H[F_UNIT] = 32, H[F_BIT_ORDER] = 1, H[F_PAD] = 32, H[F_BPP] = bpp, H[F_BPL] = w * (bpp / 8);
        H[F_RED] = 0xFF0000, H[F_GREEN] = 0xFF00, H[F_BLUE] = 0xFF, H[F_BITS_PER_RGB] = 8, H[F_WINDOW_WIDTH] = w;
        for (uint32_t i = 0; i < H[F_BPL] * h; ++i) Pixels.push_back((uint8_t)(i * 41 + 3));
    }
    void entry(uint32_t r, uint32_t g, uint32_t b) {
        H[F_NCOLORS] = (uint32_t)Map.size() / 12 + 1;
        for (uint32_t v : {(uint32_t)Map.size() / 12, r << 16 | g, b << 16}) PutBytes(Map, {(uint8_t)(v >> 24), (uint8_t)(v >> 16), (uint8_t)(v >> 8), (uint8_t)v});
    }
    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> v;
        for (uint32_t x : H) PutBytes(v, {(uint8_t)(x >> 24), (uint8_t)(x >> 16), (uint8_t)(x >> 8), (uint8_t)x});
        PutBytes(v, {'x', 'w', 'd', 0});  // the window name
        PutBytes(v, Map);
        PutBytes(v, Pixels);
        return v;
    }
};

TEST(Xwd, HeaderRefusals) {
    auto with = [](uint32_t field, uint32_t value) {
        Dump d(5, 3, 32);
        d.H[field] = value;
        return d.bytes();
    };
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        uint32_t Err;
    } cases[] = {
        {"version 6", with(F_VERSION, 6), KXERR_FILEREQUIREMENTS},
        {"XY pixmap", with(F_FORMAT, 1), KXERR_FILEREQUIREMENTS},
        {"16 bits a pixel", [] { Dump d(5, 3, 16); return d.bytes(); }(), KXERR_FILEREQUIREMENTS},
        {"bits per RGB 5", with(F_BITS_PER_RGB, 5), KXERR_FILEREQUIREMENTS},
        {"bitmap unit 16", with(F_UNIT, 16), KXERR_FILEREQUIREMENTS},
        {"bit order 0", with(F_BIT_ORDER, 0), KXERR_FILEREQUIREMENTS},
        {"unknown mask with 32 bits per RGB", [] { Dump d(5, 3, 32); d.H[F_BITS_PER_RGB] = 32; d.H[F_GREEN] = 0xF0F0; return d.bytes(); }(),
         KXERR_FILEREQUIREMENTS},
        {"bytes per line 0", with(F_BPL, 0), KXERR_FILEREQUIREMENTS},
        {"width 0", with(F_WIDTH, 0), KXERR_FILEREQUIREMENTS},
        {"rows past the end", with(F_HEIGHT, 4), KXERR_EOF},
        {"huge height, tiny file", with(F_HEIGHT, 0xFFFFFFFF), KXERR_EOF},
        {"x offset past the end of the last row", with(F_XOFFSET, 1), KXERR_EOF},
        {"colour map past the end", [] { Dump d(5, 3, 8); d.entry(1, 2, 3); d.H[F_NCOLORS] = 1000; return d.bytes(); }(), KXERR_EOF},
        {"header cut", [] { auto v = Dump(5, 3, 32).bytes(); v.resize(60); return v; }(), KXERR_EOF},
        {"window width 0 skips the correction", with(F_WINDOW_WIDTH, 0), KXERR_NONE},
        {"bits per RGB 0", with(F_BITS_PER_RGB, 0), KXERR_NONE},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoXWD>(c.File, l);
        EXPECT_EQ(l.Err, c.Err);
        EXPECT_EQ(l.Buffer != nullptr, c.Err == KXERR_NONE);
    }
    EXPECT_EQ(Recognises<kxoXWD>(with(F_VERSION, 6)), 1u);  // claimed, then refused
    EXPECT_EQ(Recognises<kxoXWD>(with(F_VERSION, 8)), 0u);
    EXPECT_EQ(Recognises<kxoXWD>(with(F_HEADER_SIZE, 99)), 0u);
    EXPECT_EQ(Recognises<kxoXWD>({0, 0, 0, 100, 0, 0}), 0u);
    kxoXWD m;
    EXPECT_EQ(m.Save(), KXERR_NOTSUPPORTED);
}

TEST(Xwd, PixelSizesByteOrdersAndMasks) {
    const std::vector<uint8_t> px = {0x00, 0x12, 0x34, 0x56};
    struct {
        const char* Name;
        uint32_t Order, Red, Green, Blue, BitsPerRgb;
        std::vector<uint8_t> Want;
    } cases[] = {
        {"most significant byte first", 1, 0xFF0000, 0xFF00, 0xFF, 8, {0x12, 0x34, 0x56}},
        {"least significant byte first", 0, 0xFF0000, 0xFF00, 0xFF, 8, {0x34, 0x12, 0x00}},
        {"red and blue swapped", 1, 0xFF, 0xFF00, 0xFF0000, 8, {0x56, 0x34, 0x12}},
        {"unknown blue mask", 1, 0xFF0000, 0xFF00, 0xFF00, 8, {0x12, 0x34, 255}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Dump d(1, 1, 32);
        d.Pixels = px;
        d.H[F_BYTE_ORDER] = c.Order, d.H[F_RED] = c.Red, d.H[F_GREEN] = c.Green, d.H[F_BLUE] = c.Blue, d.H[F_BITS_PER_RGB] = c.BitsPerRgb;
        Loaded l;
        LoadBytes<kxoXWD>(d.bytes(), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Buffer->ColorDepth, 24u);
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 3), c.Want);
    }

    // 24 bits a pixel declared, rows of 4 x the window width: 32-bit pixels.
    Dump d(3, 2, 32);
    d.H[F_BPP] = 24;
    Loaded l;
    LoadBytes<kxoXWD>(d.bytes(), l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.Buffer->Data[3 * 4 + 0], d.Pixels[4 * 4 + 1]);  // pixel (1, 1): red from bits 16-23
    // 24-bit rows padded to 32 bits stay 24-bit (23 pixels in 72 bytes);
    // the x offset skips whole pixels.
    Dump p(23, 2, 24);
    p.H[F_BPL] = 72;
    p.H[F_XOFFSET] = 1;
    p.H[F_WIDTH] = 22;
    p.Pixels.resize(144);
    Loaded m;
    LoadBytes<kxoXWD>(p.bytes(), m);
    ASSERT_EQ(m.Err, KXERR_NONE);
    EXPECT_EQ(std::vector<uint8_t>(m.Buffer->Data, m.Buffer->Data + 3), std::vector<uint8_t>(p.Pixels.begin() + 3, p.Pixels.begin() + 6));
    EXPECT_EQ(std::vector<uint8_t>(m.Buffer->Data + 66, m.Buffer->Data + 69), std::vector<uint8_t>(p.Pixels.begin() + 75, p.Pixels.begin() + 78));
}

TEST(Xwd, ColourMapsAndGreyRamps) {
    // 300 entries: the first 256 are the palette, the pixels follow all 300.
    Dump d(4, 2, 8);
    for (uint32_t i = 0; i < 300; ++i) d.entry(i * 257 % 65536, ((i * 3) & 0xFF) << 8, 0xABCD);
    Loaded l;
    LoadBytes<kxoXWD>(d.bytes(), l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.Buffer->ColorDepth, 8u);
    EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 8), std::vector<uint8_t>(d.Pixels.begin(), d.Pixels.end()));
    EXPECT_EQ(l.Buffer->Palette[3 * 255], 255);
    EXPECT_EQ(l.Buffer->Palette[3 * 255 + 1], (255 * 3) & 0xFF);
    EXPECT_EQ(l.Buffer->Palette[3 * 7 + 2], 0xAB);  // the high byte of a 16-bit word
    EXPECT_FALSE(l.Buffer->Version >= 4 && (l.Buffer->Flags & KXGFXF_GRAY));

    // No map: 2^depth grey levels, the last white; depths above 8 count as 8.
    struct {
        uint32_t Depth;
        std::vector<uint8_t> Levels;  // entries 0, 1, 14, 15, 255
    } ramps[] = {{4, {0, 16, 224, 255, 240}}, {1, {0, 255, 0, 128, 128}}, {12, {0, 1, 14, 15, 255}}, {0, {255, 0, 0, 0, 0}}};
    for (auto& r : ramps) {
        SCOPED_TRACE("depth " + std::to_string(r.Depth));
        Dump g(4, 2, 8);
        g.H[F_DEPTH] = r.Depth;
        Loaded m;
        LoadBytes<kxoXWD>(g.bytes(), m);
        ASSERT_EQ(m.Err, KXERR_NONE);
        const uint8_t* pal = m.Buffer->Palette;
        EXPECT_EQ((std::vector<uint8_t>{pal[0], pal[3], pal[42], pal[45], pal[765]}), r.Levels);
        EXPECT_EQ(pal[46], pal[45]);
        EXPECT_EQ(m.Buffer->Version, 4u);
        EXPECT_TRUE(m.Buffer->Flags & KXGFXF_GRAY);
    }
}

TEST(Xwd, ReaderSurvivesDamagedFiles) {
    for (const char* name : {"netpbm_8bit", "netpbm_32bit", "im_24bit"}) KXT_CheckReaderRobustness("kxoXWD", Fixture(std::string("xwd/") + name + ".xwd"));
}

}  // namespace
