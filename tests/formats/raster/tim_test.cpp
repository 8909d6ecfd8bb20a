// kxoTIM: textures as byte tables (no program here writes them) in every
// mode, with the 24-bit width of 2W / 3 pixels, colour tables of several
// rows and the 16-bit colour edge cases; refusals; the same files read by
// ImageMagick and GraphicsMagick; damaged input.
#include <gtest/gtest.h>

#include "formats/raster/kxoTIM.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"

using namespace kxt;

namespace {

// A block: its length with the 12-byte header, the frame-buffer position,
// W 16-bit units and H rows, then the data.
std::vector<uint8_t> block(uint32_t units, uint32_t h, const std::vector<uint8_t>& data, int32_t length = -1) {
    std::vector<uint8_t> v;
    Put32(v, length >= 0 ? (uint32_t)length : 12 + (uint32_t)data.size());
    Put16(v, 320);
    Put16(v, 0);
    Put16(v, units);
    Put16(v, h);
    PutBytes(v, data);
    return v;
}

std::vector<uint8_t> tim(uint32_t flags, const std::vector<uint8_t>& blocks) {
    std::vector<uint8_t> v;
    Put32(v, 0x10);
    Put32(v, flags);
    PutBytes(v, blocks);
    return v;
}

// CLUT rows of 16 or 256 colours, each row's entries distinct.
std::vector<uint8_t> clut(uint32_t entries, uint32_t rows) {
    std::vector<uint8_t> d;
    for (uint32_t r = 0; r < rows; ++r)
        for (uint32_t i = 0; i < entries; ++i) Put16(d, (i * 2654435761u >> 7 ^ r * 0x1234) & 0xFFFF);
    return block(entries, rows, d);
}

// The colours of a one-row table, without its block header.
std::vector<uint8_t> tableOf(uint32_t entries) {
    const std::vector<uint8_t> b = clut(entries, 1);
    return std::vector<uint8_t>(b.begin() + 12, b.end());
}

std::vector<uint8_t> bytes(uint32_t n, uint32_t seed) {
    std::vector<uint8_t> d(n);
    for (uint32_t i = 0; i < n; ++i) d[i] = (uint8_t)((i * 37 + seed) ^ (i >> 3));
    return d;
}

void colour15(uint32_t c, uint8_t* rgb) {
    rgb[0] = (uint8_t)((c & 31) << 3);
    rgb[1] = (uint8_t)((c >> 5 & 31) << 3);
    rgb[2] = (uint8_t)((c >> 10 & 31) << 3);
}

TEST(Tim, Recognition) {
    const std::vector<uint8_t> direct = tim(2, block(2, 1, bytes(4, 1)));
    struct {
        const char* Name;
        std::vector<uint8_t> Bytes;
        const char* File;
        uint32_t Want;
    } cases[] = {
        {"15-bit, .TIM", direct, "x.TIM", 1},
        {"15-bit, .tim", direct, "x.tim", 1},
        {"another name", direct, "x.bin", 0},
        {"4-bit without a table (flags 0)", tim(0, block(2, 1, bytes(4, 1))), "x.tim", 0},
        {"first block length 0", tim(2, block(2, 1, bytes(4, 1), 0)), "x.tim", 0},
        {"id 0x11", [&] { auto v = direct; v[0] = 0x11; return v; }(), "x.tim", 0},
        {"8-bit with a table", tim(9, clut(256, 1)), "x.tim", 1},
    };
    for (auto& c : cases) EXPECT_EQ(Recognises<kxoTIM>(c.Bytes, c.File), c.Want) << c.Name;
}

TEST(Tim, EveryMode) {
    struct {
        const char* Name;
        uint32_t Flags, Units, H;
        uint32_t Width, Depth;
    } cases[] = {
        {"4-bit", 0x08, 2, 3, 8, 4},      {"8-bit", 0x09, 3, 2, 6, 8},  {"15-bit", 0x02, 5, 2, 5, 24},
        {"24-bit, W = 3", 0x03, 3, 2, 2, 24}, {"24-bit, W = 5: 3 pixels", 0x03, 5, 2, 3, 24},
        {"24-bit, W = 4: 2 pixels", 0x03, 4, 1, 2, 24},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const bool indexed = c.Flags & 8;
        const uint32_t entries = c.Flags == 0x08 ? 16 : 256;
        const std::vector<uint8_t> data = bytes(2 * c.Units * c.H, c.Flags);
        std::vector<uint8_t> blocks;
        if (indexed) PutBytes(blocks, clut(entries, 1));
        PutBytes(blocks, block(c.Units, c.H, data));
        Loaded l;
        LoadBytes<kxoTIM>(tim(c.Flags, blocks), l, "mode.tim");
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.SubFormat, 0u);
        ASSERT_EQ(l.Buffer->Width, c.Width);
        ASSERT_EQ(l.Buffer->Height, c.H);
        EXPECT_EQ(l.Buffer->ColorDepth, c.Depth);
        EXPECT_EQ(l.Buffer->Type, (uint32_t)ONEPLANE);
        EXPECT_EQ(l.Buffer->Flags, 0u);
        // What each pixel must be, from the rows of 2W bytes.
        Rgb want;
        want.W = c.Width, want.H = c.H;
        const std::vector<uint8_t> table = tableOf(entries);
        for (uint32_t y = 0; y < c.H; ++y)
            for (uint32_t x = 0; x < c.Width; ++x) {
                const uint8_t* row = &data[2 * c.Units * y];
                uint8_t rgb[3];
                if (c.Flags == 0x08 || c.Flags == 0x09) {
                    const uint32_t i = c.Flags == 0x08 ? (row[x / 2] >> (x % 2 ? 4 : 0) & 15) : row[x];
                    colour15((uint32_t)(table[2 * i] | table[2 * i + 1] << 8), rgb);
                } else if (c.Flags == 0x02) {
                    colour15((uint32_t)(row[2 * x] | row[2 * x + 1] << 8), rgb);
                } else {
                    memcpy(rgb, row + 3 * x, 3);
                }
                want.Pix.insert(want.Pix.end(), rgb, rgb + 3);
            }
        EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "");
    }
}

TEST(Tim, ColoursAndTables) {
    // 0x7FFF, 0x001F, 0x7C00, 0x8000 as 15-bit pixels.
    Loaded l;
    LoadBytes<kxoTIM>(tim(2, block(4, 1, {0xFF, 0x7F, 0x1F, 0x00, 0x00, 0x7C, 0x00, 0x80})), l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 12), (std::vector<uint8_t>{248, 248, 248, 248, 0, 0, 0, 0, 248, 0, 0, 0}));
    // A 4-bit W = 2 row: the byte 0x21 gives 1 and then 2.
    Loaded f;
    LoadBytes<kxoTIM>(tim(8, [] { auto b = clut(16, 1); PutBytes(b, block(2, 1, {0x21, 0x43, 0x65, 0x87})); return b; }()), f);
    ASSERT_EQ(f.Err, KXERR_NONE);
    EXPECT_EQ(std::vector<uint8_t>(f.Buffer->Data, f.Buffer->Data + 8), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    // A table of three rows: the first 256 entries, the image after the
    // whole table block.
    std::vector<uint8_t> blocks = clut(256, 3);
    PutBytes(blocks, block(1, 1, {0, 255}));
    Loaded e;
    LoadBytes<kxoTIM>(tim(9, blocks), e);
    ASSERT_EQ(e.Err, KXERR_NONE);
    const std::vector<uint8_t> first = tableOf(256);
    uint8_t rgb[3];
    colour15((uint32_t)(first[510] | first[511] << 8), rgb);
    EXPECT_EQ(std::vector<uint8_t>(e.Buffer->Palette + 765, e.Buffer->Palette + 768), std::vector<uint8_t>(rgb, rgb + 3));
    EXPECT_EQ(e.Buffer->Data[1], 255);
}

TEST(Tim, Refusals) {
    const std::vector<uint8_t> good = tim(2, block(2, 2, bytes(8, 3)));
    struct {
        const char* Name;
        std::vector<uint8_t> Bytes;
        uint32_t Err;
    } cases[] = {
        {"id 0x11", [&] { auto v = good; v[0] = 0x11; return v; }(), KXERR_FILEREQUIREMENTS},
        {"flags 0", [&] { auto v = good; v[4] = 0; return v; }(), KXERR_FILEREQUIREMENTS},
        {"flags 0x0A", [&] { auto v = good; v[4] = 0x0A; return v; }(), KXERR_FILEREQUIREMENTS},
        {"cut in the header", std::vector<uint8_t>(good.begin(), good.begin() + 10), KXERR_EOF},
        {"cut in the image data", std::vector<uint8_t>(good.begin(), good.end() - 1), KXERR_EOF},
        {"a block shorter than its rows", tim(2, block(2, 2, bytes(8, 3), 12 + 7)), KXERR_EOF},
        {"a block shorter than its header", tim(2, block(2, 2, bytes(8, 3), 11)), KXERR_EOF},
        {"a block past the file", tim(2, block(2, 2, bytes(8, 3), 0x7FFFFFFF)), KXERR_EOF},
        {"a table cut short", tim(9, [] { auto b = clut(256, 1); b.resize(100); return b; }()), KXERR_EOF},
        {"an image block past the file", tim(9, clut(256, 1)), KXERR_EOF},
        {"24 bits, one unit wide", tim(3, block(1, 1, {1, 2})), KXERR_FILEREQUIREMENTS},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoTIM>(c.Bytes, l);
        EXPECT_EQ(l.Err, c.Err);
        EXPECT_EQ(l.Buffer, nullptr);
    }
    kxoTIM m;
    EXPECT_EQ(m.Save(), KXERR_NOTSUPPORTED);
}

TEST(Tim, ImageAndGraphicsMagickReadTheSameFiles) {
    int ran = 0;
    for (uint32_t flags : {0x08u, 0x09u, 0x02u, 0x03u}) {
        SCOPED_TRACE("flags " + std::to_string(flags));
        std::vector<uint8_t> blocks;
        if (flags & 8) PutBytes(blocks, clut(flags == 8 ? 16 : 256, 1));
        PutBytes(blocks, block(15, 7, bytes(2 * 15 * 7, flags)));
        const std::string p = TempPath("x.tim"), q = TempPath("x.ppm");
        WriteAll(p, tim(flags, blocks));
        Loaded l;
        LoadFile<kxoTIM>(p, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        for (const char* tool : {"convert-im6.q16", "gm"}) {
            if (!KXT_HaveTool(tool)) continue;
            // GraphicsMagick (1.3) reads 15-bit direct colour as black.
            if (flags == 0x02 && std::string(tool) == "gm") continue;
            SCOPED_TRACE(tool);
            ASSERT_TRUE(Shell((std::string(tool) == "gm" ? "gm convert " : "convert-im6.q16 ") + p + " -depth 8 ppm:" + q));
            Rgb got;
            ASSERT_TRUE(ReadNetpbm(q, got));
            // They widen 5-bit components with their top bits (v << 3 | v >> 2).
            EXPECT_EQ(Compare(ToRgb(l.Buffer), got, 7), "");
            ++ran;
        }
        unlink(p.c_str());
        unlink(q.c_str());
    }
    if (!ran) GTEST_SKIP() << "neither ImageMagick nor GraphicsMagick is installed (tools/deps.sh installs them)";
}

TEST(Tim, ReaderSurvivesDamagedFiles) {
    const std::string p = TempPath("robust.tim");
    std::vector<uint8_t> b = clut(16, 2);
    PutBytes(b, block(5, 6, bytes(60, 1)));
    WriteAll(p, tim(8, b));
    KXT_CheckReaderRobustness("kxoTIM", p);
    WriteAll(p, tim(3, block(7, 5, bytes(70, 2))));
    KXT_CheckReaderRobustness("kxoTIM", p);
    unlink(p.c_str());
}

}  // namespace
