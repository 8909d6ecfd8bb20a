// kxoIMG: a fixture from netpbm's pbmtogem with its picture as PNG; the
// item kinds, header variants and palettes as byte tables; the writer's
// XIMG files read back by us, by netpbm's gemtopnm (one plane) and by
// FFmpeg's GEM decoder (palettes by the file's pixel values); refusals,
// the safe save and damaged input.
#include <gtest/gtest.h>

#include "formats/libraries/kxoPNG.h"
#include "formats/raster/kxoIMG.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"
#include "write_failure.h"

using namespace kxt;

namespace {

void Put16BE(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back((uint8_t)(x >> 8));
    v.push_back((uint8_t)x);
}

// A GEM file: the eight header words, what follows them in the header
// (colour flag, or "XIMG", model and palette) and the packed data.
std::vector<uint8_t> gem(uint32_t w, uint32_t h, uint32_t planes, const std::vector<uint8_t>& data,
                         const std::vector<uint8_t>& extra = {}, uint32_t version = 1, uint32_t pattern = 1, int words = -1) {
    std::vector<uint8_t> v;
    Put16BE(v, version);
    Put16BE(v, words >= 0 ? (uint32_t)words : 8 + (uint32_t)extra.size() / 2);
    Put16BE(v, planes);
    Put16BE(v, pattern);
    Put16BE(v, 85);
    Put16BE(v, 85);
    Put16BE(v, w);
    Put16BE(v, h);
    PutBytes(v, extra);
    PutBytes(v, data);
    return v;
}

std::vector<uint8_t> ximgHeader(const std::vector<std::vector<uint32_t>>& palette, uint32_t model = 0) {
    std::vector<uint8_t> v = {'X', 'I', 'M', 'G'};
    Put16BE(v, model);
    for (auto& e : palette)
        for (uint32_t c : e) Put16BE(v, c);
    return v;
}

uint32_t check(const std::vector<uint8_t>& bytes) { return Recognises<kxoIMG>(bytes); }

TEST(Img, Recognition) {
    const std::vector<uint8_t> row = {0x80, 1, 0};
    struct {
        const char* Name;
        std::vector<uint8_t> Bytes;
        uint32_t Want;
    } cases[] = {
        {"version 1, 8 words", gem(8, 1, 1, row), 1},
        {"version 1, 9 words", gem(8, 1, 1, row, {0, 0}), 1},
        {"version 2, 8 words", gem(8, 1, 1, row, {}, 2), 1},
        {"version 3, 8 words", gem(8, 1, 1, row, {}, 3), 0},
        {"version 0", gem(8, 1, 1, row, {}, 0), 0},
        {"XIMG, version 2", gem(8, 1, 1, row, ximgHeader({{0, 0, 0}, {1000, 1000, 1000}}), 2), 1},
        {"11 words without XIMG", gem(8, 1, 1, row, {'X', 'I', 'M', 'H', 0, 0}), 0},
        {"three bytes", {0, 1, 0}, 0},
    };
    for (auto& c : cases) EXPECT_EQ(check(c.Bytes), c.Want) << c.Name;
}

// One-plane pictures of the plain header: the buffer holds the file's bits
// inverted.
TEST(Img, ItemKinds) {
    struct {
        const char* Name;
        uint32_t W, H, Pattern;
        std::vector<uint8_t> Data;
        uint32_t Err;
        std::vector<uint8_t> Want;  // the buffer's bytes
    } cases[] = {
        {"solid runs of 0x00 are white", 16, 1, 1, {0x02}, KXERR_NONE, {0xFF, 0xFF}},
        {"solid runs of 0xFF are black", 16, 1, 1, {0x82}, KXERR_NONE, {0x00, 0x00}},
        {"bit string", 16, 1, 1, {0x80, 0x02, 0xF0, 0x0F}, KXERR_NONE, {0x0F, 0xF0}},
        {"pattern run", 24, 1, 1, {0x00, 0x03, 0xAA}, KXERR_NONE, {0x55, 0x55, 0x55}},
        {"pattern of two bytes", 32, 1, 2, {0x00, 0x02, 0x0F, 0xF0}, KXERR_NONE, {0xF0, 0x0F, 0xF0, 0x0F}},
        {"pattern length 0 brings nothing", 8, 1, 0, {0x00, 0x05, 0x81}, KXERR_NONE, {0x00}},
        {"scanline run repeats the row", 8, 5, 1, {0x00, 0x00, 0xFF, 0x04, 0x80, 0x01, 0x3C, 0x81}, KXERR_NONE,
         {0xC3, 0xC3, 0xC3, 0xC3, 0x00}},
        {"scanline count past the last row", 8, 2, 1, {0x00, 0x00, 0xFF, 0x09, 0x80, 0x01, 0x3C}, KXERR_NONE, {0xC3, 0xC3}},
        {"a run past the row's end is dropped", 16, 2, 1, {0x05, 0x80, 0x02, 0xFF, 0x00}, KXERR_NONE, {0xFF, 0xFF, 0x00, 0xFF}},
        {"pattern repeats past the row's end", 8, 1, 2, {0x00, 0xFF, 0x0F, 0xF0}, KXERR_NONE, {0xF0}},
        {"data end before the last row", 16, 2, 1, {0x02}, KXERR_EOF, {}},
        {"data end inside a bit string", 16, 1, 1, {0x80, 0x02, 0x01}, KXERR_EOF, {}},
        {"data end inside a pattern", 16, 1, 4, {0x00, 0x01, 0x01}, KXERR_EOF, {}},
        {"scanline run cut short", 16, 1, 1, {0x00, 0x00, 0xFF}, KXERR_EOF, {}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoIMG>(gem(c.W, c.H, 1, c.Data, {}, 1, c.Pattern), l);
        ASSERT_EQ(l.Err, c.Err);
        if (c.Err != KXERR_NONE) {
            EXPECT_EQ(l.Buffer, nullptr);
            continue;
        }
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + c.Want.size()), c.Want);
        // The grey ramp: black for the inverted set bits.
        EXPECT_EQ(l.Buffer->Palette[0], 0);
        EXPECT_EQ(l.Buffer->Palette[3], 255);
        EXPECT_TRUE(l.Buffer->Flags & KXGFXF_GRAY);
    }
}

TEST(Img, HeaderVariantsAndRefusals) {
    const std::vector<uint8_t> row = {0x80, 1, 0};
    std::vector<uint8_t> rows24;
    for (int p = 0; p < 24; ++p) PutBytes(rows24, {0x80, 1, (uint8_t)(p % 3 == 0 ? 0x7F : 0xFF)});
    struct {
        const char* Name;
        std::vector<uint8_t> Bytes;
        uint32_t Err, SubFormat, Depth;
    } cases[] = {
        {"plain", gem(8, 1, 1, row), KXERR_NONE, 0, 1},
        {"9 words, colour flag 1", gem(8, 1, 1, row, {0, 1}), KXERR_NONE, 1, 1},
        {"XIMG", gem(8, 1, 1, row, ximgHeader({{0, 0, 0}, {0, 0, 0}})), KXERR_NONE, 2, 1},
        {"XIMG of 24 planes", gem(8, 1, 24, rows24, ximgHeader({})), KXERR_NONE, 2, 24},
        {"plain, version 2", gem(8, 1, 1, row, {}, 2), KXERR_FILEREQUIREMENTS, 0, 0},
        {"9 words, version 2", gem(8, 1, 1, row, {0, 1}, 2), KXERR_FILEREQUIREMENTS, 0, 0},
        {"colour flag 2", gem(8, 1, 1, row, {0, 2}), KXERR_FILEREQUIREMENTS, 0, 0},
        {"colour flag 4", gem(8, 1, 1, row, {0, 4}), KXERR_FILEREQUIREMENTS, 0, 0},
        {"STTT", gem(8, 1, 4, row, {'S', 'T', 'T', 'T', 0, 0}), KXERR_FILEREQUIREMENTS, 0, 0},
        {"other magic", gem(8, 1, 1, row, {'A', 'B', 'C', 'D', 0, 0}), KXERR_FILEREQUIREMENTS, 0, 0},
        {"XIMG of 10 words", gem(8, 1, 1, row, {'X', 'I', 'M', 'G', 0, 0, 0, 0}, 1, 1, 10), KXERR_FILEREQUIREMENTS, 0, 0},
        {"9 planes", gem(8, 1, 9, row), KXERR_FILEREQUIREMENTS, 0, 0},
        {"23 planes", gem(8, 1, 23, row), KXERR_FILEREQUIREMENTS, 0, 0},
        {"no planes", gem(8, 1, 0, row), KXERR_FILEREQUIREMENTS, 0, 0},
        {"width 0", gem(0, 1, 1, row), KXERR_FILEREQUIREMENTS, 0, 0},
        {"header alone", gem(8, 1, 1, {}), KXERR_NOMEMORY, 0, 0},
        {"cut inside the header", [&] { auto v = gem(8, 1, 1, row); v.resize(12); return v; }(), KXERR_EOF, 0, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoIMG>(c.Bytes, l);
        ASSERT_EQ(l.Err, c.Err);
        if (c.Err != KXERR_NONE) {
            EXPECT_EQ(l.Buffer, nullptr);
            continue;
        }
        EXPECT_EQ(l.SubFormat, c.SubFormat);
        EXPECT_EQ(l.Buffer->ColorDepth, c.Depth);
        EXPECT_EQ(l.Buffer->Type, c.Depth == 24 ? (uint32_t)ONEPLANE : (uint32_t)BITPLANE);
    }
    // 24 planes: plane k is bit k of red, 8 + k of green, 16 + k of blue,
    // each stored inverted: the first pixel's bits are clear in the file in
    // planes 0, 3, 6, ..., so those are its set bits; the second's are all
    // set in the file.
    Loaded l;
    LoadBytes<kxoIMG>(gem(8, 1, 24, rows24, ximgHeader({})), l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 6), (std::vector<uint8_t>{0x49, 0x92, 0x24, 0, 0, 0}));
}

// The palettes from the file and the fixed tables belong to the file's pixel
// values, as other programs write and read them (FFmpeg's GEM decoder reads
// our files below).
TEST(Img, PalettesByTheFilesPixelValues) {
    struct {
        const char* Name;
        std::vector<uint8_t> Bytes;
        // file pixel value -> colour
        std::vector<std::pair<uint32_t, std::vector<uint8_t>>> Colours;
        uint32_t Flags;
    } cases[] = {
        {"XIMG palette in thousandths", gem(8, 1, 1, {}, ximgHeader({{1000, 1000, 1000}, {500, 0, 1}})),
         {{0, {255, 255, 255}}, {1, {127, 0, 0}}}, 0},
        {"XIMG components above 1000", gem(8, 1, 1, {}, ximgHeader({{1100, 2000, 1000}, {0, 0, 0}})), {{0, {255, 255, 255}}}, 0},
        {"XIMG with another colour model: a grey ramp", gem(8, 1, 1, {}, ximgHeader({{1, 2, 3}, {4, 5, 6}}, 1)),
         {{0, {255, 255, 255}}, {1, {0, 0, 0}}}, KXGFXF_GRAY},
        {"9 words, one plane", gem(8, 1, 1, {}, {0, 0}), {{0, {240, 240, 240}}, {1, {0, 0, 0}}}, KXGFXF_SRCLOWDEPTH},
        {"9 words, four planes", gem(8, 1, 4, {}, {0, 1}),
         {{0, {240, 240, 240}}, {1, {240, 0, 0}}, {7, {176, 176, 176}}, {8, {80, 80, 80}}, {15, {0, 0, 0}}}, KXGFXF_SRCLOWDEPTH},
        {"9 words, three planes", gem(8, 1, 3, {}, {0, 0}), {{3, {240, 240, 0}}, {7, {0, 0, 0}}}, KXGFXF_SRCLOWDEPTH},
        {"9 words, eight planes", gem(8, 1, 8, {}, {0, 0}), {{0, {255, 255, 255}}, {1, {127, 127, 127}}, {2, {191, 191, 191}}, {255, {0, 0, 0}}}, 0},
        {"9 words, six planes: a grey ramp", gem(8, 1, 6, {}, {0, 0}), {{63, {0, 0, 0}}, {62, {4, 4, 4}}, {0, {255, 255, 255}}}, 0},
        {"plain, two planes: a grey ramp", gem(8, 1, 2, {}), {{3, {0, 0, 0}}, {2, {64, 64, 64}}, {1, {128, 128, 128}}, {0, {255, 255, 255}}},
         KXGFXF_GRAY},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        // One row of 8 pixels per file value to test: every plane row a
        // bit string of the value's bit, the picture as tall as the list.
        const uint32_t planes = c.Bytes[5];
        std::vector<uint8_t> file = c.Bytes;
        file[15] = (uint8_t)c.Colours.size();
        for (auto& col : c.Colours)
            for (uint32_t p = 0; p < planes; ++p) PutBytes(file, {0x80, 1, (uint8_t)(col.first >> p & 1 ? 0xFF : 0x00)});
        Loaded l;
        LoadBytes<kxoIMG>(file, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        const Rgb got = ToRgb(l.Buffer);
        for (size_t i = 0; i < c.Colours.size(); ++i)
            EXPECT_EQ(std::vector<uint8_t>(got.Pix.begin() + 24 * i, got.Pix.begin() + 24 * i + 3), c.Colours[i].second)
                << "file value " << c.Colours[i].first;
        EXPECT_EQ(l.Buffer->Flags & (KXGFXF_GRAY | KXGFXF_SRCLOWDEPTH), c.Flags);
    }
}

// The 9-word header with colour flag 3: pixels of blue, green, red, every
// count counting pixels, every item kind as it stands.
TEST(Img, TrueColourPixels) {
    std::vector<uint8_t> data = {0x80, 0x02, 10, 20, 30, 40, 50, 60};  // row 0: a bit string of two pixels
    PutBytes(data, {0x82});                                              // row 1: a solid run of 0xFF
    PutBytes(data, {0x01, 0x81});                                        // row 2: 0x00 then 0xFF
    PutBytes(data, {0x00, 0x02, 1, 2, 3});                               // row 3: a pattern of one pixel
    PutBytes(data, {0x00, 0x00, 0xFF, 0x02, 0x80, 0x02, 7, 8, 9, 9, 8, 7});  // rows 4 and 5
    Loaded l;
    LoadBytes<kxoIMG>(gem(2, 6, 1, data, {0, 3}), l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.SubFormat, 1u);
    EXPECT_EQ(l.Buffer->Type, (uint32_t)ONEPLANE);
    EXPECT_EQ(l.Buffer->PixelBits, 24u);
    EXPECT_EQ(l.Buffer->Flags & KXGFXF_GRAY, 0u);
    EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 36),
              (std::vector<uint8_t>{30, 20, 10, 60, 50, 40, 255, 255, 255, 255, 255, 255, 0, 0, 0, 255, 255, 255,
                                    3, 2, 1, 3, 2, 1, 9, 8, 7, 7, 8, 9, 9, 8, 7, 7, 8, 9}));
}

TEST(Img, LoadsNetpbmFixture) {
    Loaded png;
    LoadFile<kxoPNG>(Fixture("img/ellipse.png"), png);
    ASSERT_EQ(png.Err, KXERR_NONE);
    Loaded l;
    LoadFile<kxoIMG>(Fixture("img/ellipse.img"), l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.SubFormat, 0u);
    EXPECT_EQ(l.Buffer->Width, 203u);
    EXPECT_EQ(Compare(ToRgb(l.Buffer), ToRgb(png.Buffer)), "");
}

TEST(Img, WriterRoundTrips) {
    const std::string p = TempPath("w.img");
    for (uint32_t depth : {1u, 2u, 4u, 8u, 24u})
        for (uint32_t w : {1u, 2u, 3u, 7u, 8u, 9u, 16u, 17u, 31u, 300u}) {
            SCOPED_TRACE("depth " + std::to_string(depth) + " width " + std::to_string(w));
            KX_GfxBuffer* img = MakeImage(w, 5, depth);
            Saved s = SaveTo<kxoIMG>(img, p, 2);
            ASSERT_EQ(s.Err, KXERR_NONE);
            const uint32_t words = depth == 24 ? 11 : 11 + 3 * (1u << depth);
            EXPECT_EQ(s.File[3], words & 0xFF);
            EXPECT_EQ(s.File[2], words >> 8);
            Loaded l;
            LoadFile<kxoIMG>(p, l);
            ASSERT_EQ(l.Err, KXERR_NONE);
            EXPECT_EQ(l.SubFormat, 2u);
            Rgb want = ToRgb(img);
            // Components through thousandths: c x 1000 / 255, read back x 255 / 1000.
            if (depth <= 8)
                for (uint8_t& c : want.Pix) c = (uint8_t)(c * 1000 / 255 == 1000 ? 255 : c * 1000 / 255 * 255 / 1000);
            EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "");
            KXSUP_FreeGfxBuffer(img);
        }
    {
        // A 4-bit picture: 59 header words, a component of 128 written as 501.
        KX_GfxBuffer* img = MakeImage(10, 2, 4);
        img->Palette[3 * 15] = 128;
        Saved s = SaveTo<kxoIMG>(img, p, 2);
        ASSERT_EQ(s.Err, KXERR_NONE);
        EXPECT_EQ(std::vector<uint8_t>(s.File.begin(), s.File.begin() + 22),
                  (std::vector<uint8_t>{0, 1, 0, 59, 0, 4, 0, 1, 0, 85, 0, 85, 0, 10, 0, 2, 'X', 'I', 'M', 'G', 0, 0}));
        // Index 15 is the file's pixel value 0: the first palette entry.
        EXPECT_EQ(s.File[22], 501 >> 8);
        EXPECT_EQ(s.File[23], 501 & 0xFF);
        // Every plane row as one bit string of the inverted bytes.
        EXPECT_EQ(s.File[118], 0x80);
        EXPECT_EQ(s.File[119], 2);
        KXSUP_FreeGfxBuffer(img);
    }
    {
        // Bit planes (a loaded picture) save as they are; a row of 2000
        // bytes takes bit strings of 127.
        Loaded in;
        LoadFile<kxoIMG>(Fixture("img/ellipse.img"), in);
        ASSERT_EQ(in.Err, KXERR_NONE);
        // Every sub-format, the registered fourth included, writes XIMG:
        // the plain and 9-word headers would lose the palette.
        for (uint32_t sub : {0u, 1u, 2u, 3u}) {
            SCOPED_TRACE("sub-format " + std::to_string(sub));
            Saved s = SaveTo<kxoIMG>(in.Buffer, p, sub);
            ASSERT_EQ(s.Err, KXERR_NONE);
            EXPECT_EQ(std::string(s.File.begin() + 16, s.File.begin() + 20), "XIMG");
            Loaded l;
            LoadFile<kxoIMG>(p, l);
            ASSERT_EQ(l.Err, KXERR_NONE);
            EXPECT_EQ(l.SubFormat, 2u);
            EXPECT_EQ(Compare(ToRgb(l.Buffer), ToRgb(in.Buffer)), "");
        }
        KX_GfxBuffer* wide = MakeImage(16000, 2, 1);
        memset(wide->Palette, 0, 3);
        memset(wide->Palette + 3, 255, 3);
        ASSERT_EQ(SaveTo<kxoIMG>(wide, p, 2).Err, KXERR_NONE);
        Loaded back;
        LoadFile<kxoIMG>(p, back);
        ASSERT_EQ(back.Err, KXERR_NONE);
        EXPECT_EQ(Compare(ToRgb(back.Buffer), ToRgb(wide)), "");
        KXSUP_FreeGfxBuffer(wide);
    }
    unlink(p.c_str());
}

TEST(Img, OtherProgramsReadOurFiles) {
    const std::string p = TempPath("x.img"), q = TempPath("x.ppm");
    if (KXT_HaveTool("gemtopnm")) {
        // netpbm reads one plane, a set bit black.
        KX_GfxBuffer* img = MakeImage(45, 17, 1);
        memset(img->Palette, 0, 6);
        memset(img->Palette + 3, 255, 3);
        ASSERT_EQ(SaveTo<kxoIMG>(img, p, 2).Err, KXERR_NONE);
        EXPECT_EQ(ReadBack(Shell("gemtopnm " + p + " | ppmtoppm > " + q), q, ToRgb(img)), "") << "gemtopnm";
        KXSUP_FreeGfxBuffer(img);
    }
    if (!KXT_HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed (tools/deps.sh installs it)";
    for (uint32_t depth : {1u, 2u, 4u, 8u}) {
        SCOPED_TRACE("depth " + std::to_string(depth));
        KX_GfxBuffer* img = MakeImage(37, 11, depth);
        ASSERT_EQ(SaveTo<kxoIMG>(img, p, 2).Err, KXERR_NONE);
        unlink(q.c_str());
        const std::string ffmpeg = "ffmpeg -v error -f gem_pipe -i " + p + " -f image2 -c:v ppm -y " + q;
        EXPECT_EQ(ReadBack(Shell(ffmpeg), q, ToRgb(img), 1), "") << "ffmpeg";
        KXSUP_FreeGfxBuffer(img);
    }
    unlink(p.c_str());
    unlink(q.c_str());
}

TEST(Img, SaveRefusalsAndFailedWrites) {
    const std::string p = TempPath("refuse.img");
    struct {
        const char* Name;
        uint32_t W, H, Depth, Sub;
        uint32_t Err;
    } cases[] = {
        {"48 bits", 4, 4, 48, 2, KXERR_FILEREQUIREMENTS},
        {"wider than the 16-bit field", 65536, 1, 8, 2, KXERR_FILEREQUIREMENTS},
        {"taller than the 16-bit field", 1, 65536, 1, 2, KXERR_FILEREQUIREMENTS},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        KX_GfxBuffer* img = MakeImage(c.W, c.H, c.Depth);
        EXPECT_EQ(SaveOverOld<kxoIMG>(img, p, c.Sub), c.Err);
        KXSUP_FreeGfxBuffer(img);
    }
    unlink(p.c_str());
    for (uint32_t depth : {4u, 24u}) {
        KX_GfxBuffer* img = MakeImage(300, 300, depth);
        kxoIMG w;
        w.SetSubFormat(2);
        EXPECT_EQ(SaveUnderFileSizeLimit(&w, img, "full.img"), KXERR_IO);
        KXSUP_FreeGfxBuffer(img);
    }
}

TEST(Img, RegistersTheHiddenFourthSubFormat) {
    kxoIMG m;
    EXPECT_EQ(m.SubFormatCount, 3u);
    EXPECT_STREQ(m.SubFormatNames[2], "(XIMG v1)");
    EXPECT_STREQ(m.SubFormatNames[3], "(XIMG v2)");
    EXPECT_EQ(m.SubFormatIds[3], 3u);
}

TEST(Img, ReaderSurvivesDamagedFiles) {
    KXT_CheckReaderRobustness("kxoIMG", Fixture("img/ellipse.img"));
    const std::string p = TempPath("robust.img");
    KX_GfxBuffer* img = MakeImage(21, 6, 4);
    ASSERT_EQ(SaveTo<kxoIMG>(img, p, 2).Err, KXERR_NONE);
    KXT_CheckReaderRobustness("kxoIMG", p);
    KXSUP_FreeGfxBuffer(img);
    img = MakeImage(9, 4, 24);
    ASSERT_EQ(SaveTo<kxoIMG>(img, p, 2).Err, KXERR_NONE);
    KXT_CheckReaderRobustness("kxoIMG", p);
    KXSUP_FreeGfxBuffer(img);
    std::vector<uint8_t> data = {0x00, 0x00, 0xFF, 0x02, 0x80, 0x02, 10, 20, 30, 40, 50, 60, 0x00, 0x01, 1, 2, 3, 0x83};
    WriteAll(p, gem(2, 3, 1, data, {0, 3}));
    KXT_CheckReaderRobustness("kxoIMG", p);
    unlink(p.c_str());
}

}  // namespace
