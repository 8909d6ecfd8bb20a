// kxoCUTPAL: pictures and palette files as byte tables (no program here
// writes them): row items and their bounds, both entry sizes with the
// 512-byte block rule, the grey picture without a palette, refusals; the
// same files read by ImageMagick and GraphicsMagick; damaged input.
#include <gtest/gtest.h>

#include "formats/raster/kxoCUTPAL.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"

using namespace kxt;

namespace {

// A picture of the given coded rows, each preceded by its byte count (the
// items and the closing 0).
std::vector<uint8_t> cut(uint32_t w, uint32_t h, const std::vector<std::vector<uint8_t>>& rows, bool countedRows = true) {
    std::vector<uint8_t> v;
    Put16(v, w);
    Put16(v, h);
    Put16(v, 0);
    for (auto& r : rows) {
        if (countedRows) Put16(v, (uint32_t)r.size());
        PutBytes(v, r);
    }
    return v;
}

// Pixels coded as literals of up to 127 and runs of three or more.
std::vector<uint8_t> codeRow(const std::vector<uint8_t>& px) {
    std::vector<uint8_t> r;
    for (size_t i = 0; i < px.size();) {
        size_t k = 1;
        while (i + k < px.size() && k < 127 && px[i + k] == px[i]) ++k;
        if (k >= 3) {
            PutBytes(r, {(uint8_t)(0x80 | k), px[i]});
            i += k;
            continue;
        }
        size_t j = i;
        while (j < px.size() && j - i < 127 && !(j + 2 < px.size() && px[j] == px[j + 1] && px[j] == px[j + 2])) ++j;
        r.push_back((uint8_t)(j - i));
        r.insert(r.end(), px.begin() + i, px.begin() + j);
        i = j;
    }
    r.push_back(0);
    return r;
}

std::vector<uint8_t> pixelsOf(uint32_t w, uint32_t h, uint32_t colours) {
    std::vector<uint8_t> p(w * h);
    for (uint32_t i = 0; i < w * h; ++i) p[i] = (uint8_t)(((i % w) / 4 + (i / w) * 3 + (i % 11 == 0 ? 7 : 0)) % colours);
    return p;
}

std::vector<uint8_t> cutOf(uint32_t w, uint32_t h, const std::vector<uint8_t>& px) {
    std::vector<std::vector<uint8_t>> rows;
    for (uint32_t y = 0; y < h; ++y) rows.push_back(codeRow(std::vector<uint8_t>(px.begin() + y * w, px.begin() + (y + 1) * w)));
    return cut(w, h, rows);
}

// A palette file: "AH", version, size, type, ..., highest index, highest
// red, green and blue (255), a name; entries placed by the 512-byte rule.
std::vector<uint8_t> pal(uint32_t type, const std::vector<std::vector<uint8_t>>& colours, uint32_t size = 0, const char* magic = "AH",
                         uint8_t high = 0x9C) {
    std::vector<uint8_t> v = {(uint8_t)magic[0], (uint8_t)magic[1]};
    Put16(v, 0x0A);
    Put16(v, size);
    v.push_back((uint8_t)type);
    v.push_back(0);
    Put16(v, 0);
    Put16(v, 0);
    Put16(v, (uint32_t)colours.size() - 1);
    for (int i = 0; i < 3; ++i) Put16(v, 255);
    v.resize(40, 'x');
    const uint32_t entry = type == 10 ? 6 : 3;
    for (auto& c : colours) {
        if (512 - v.size() % 512 < 6) v.resize((v.size() / 512 + 1) * 512, 0xEE);
        for (uint8_t x : c) {
            v.push_back(x);
            if (entry == 6) v.push_back(high);  // the high byte is not used
        }
    }
    return v;
}

std::vector<std::vector<uint8_t>> colours(uint32_t n) {
    std::vector<std::vector<uint8_t>> c;
    for (uint32_t i = 0; i < n; ++i) c.push_back({(uint8_t)(i * 7), (uint8_t)(255 - i), (uint8_t)(i * 13 + 5)});
    return c;
}

struct Pair {
    std::string Cut, Pal;
    Pair(const char* name, const char* palName = nullptr) : Cut(TempPath(name)) {
        if (palName) Pal = TempPath(palName);
    }
    ~Pair() {
        unlink(Cut.c_str());
        if (!Pal.empty()) unlink(Pal.c_str());
    }
};

TEST(Cutpal, Recognition) {
    const std::vector<uint8_t> file = cut(2, 1, {{0x82, 1, 0}});
    std::vector<uint8_t> reserved = file;
    reserved[5] = 1;
    struct {
        const char* Name;
        std::vector<uint8_t> Bytes;
        const char* File;
        uint32_t Want;
    } cases[] = {
        {".CUT", file, "x.CUT", 1},          {".cut", file, "x.cut", 1}, {"another name", file, "x.pic", 0},
        {"reserved word not 0", reserved, "x.cut", 0}, {"five bytes", {2, 0, 1, 0, 0}, "x.cut", 0},
    };
    for (auto& c : cases) EXPECT_EQ(Recognises<kxoCUTPAL>(c.Bytes, c.File), c.Want) << c.Name;
}

TEST(Cutpal, RowItems) {
    struct {
        const char* Name;
        uint32_t W, H;
        std::vector<uint8_t> File;
        uint32_t Err;
        std::vector<uint8_t> Want;
    } cases[] = {
        {"a run of three, the rest 0", 5, 1, cut(5, 1, {{0x83, 0x07, 0x00}}, true), KXERR_NONE, {7, 7, 7, 0, 0}},
        {"the count as written: 04 00 83 07 00", 5, 1, cut(5, 1, {{0x04, 0x00, 0x83, 0x07, 0x00}}, false), KXERR_NONE,
         {7, 7, 7, 0, 0}},
        {"0x80 first: a row of zeros", 3, 2, cut(3, 2, {{0x80}, {0x03, 1, 2, 3, 0}}), KXERR_NONE, {0, 0, 0, 1, 2, 3}},
        {"a literal and a run", 6, 1, cut(6, 1, {{0x02, 9, 8, 0x84, 5, 0}}), KXERR_NONE, {9, 8, 5, 5, 5, 5}},
        {"pixels past the width are dropped", 4, 2, cut(4, 2, {{0x83, 1, 0x83, 2, 0x81, 3, 0}, {0x84, 4, 0}}), KXERR_NONE,
         {1, 1, 1, 2, 4, 4, 4, 4}},
        {"items stop at half the count", 4, 2, cut(4, 2, {{0x82, 1}, {0x82, 2, 0}}, true), KXERR_NONE, {1, 1, 0, 0, 2, 2, 0, 0}},
        {"a count of twice the width + 1", 2, 1, cut(2, 1, {{0x82, 1, 0, 0, 0}}), KXERR_DECODE, {}},
        {"rows end before the last", 2, 3, cut(2, 3, {{0x82, 1, 0}}), KXERR_EOF, {}},
        {"a literal past the data", 4, 1, cut(4, 1, {{0x04, 1, 2}}), KXERR_EOF, {}},
        {"a run without its value", 4, 1, cut(4, 1, {{0x84}}), KXERR_EOF, {}},
        {"the header alone", 4, 1, cut(4, 1, {}), KXERR_NOMEMORY, {}},
        {"width 0", 0, 1, cut(0, 1, {{0}}), KXERR_FILEREQUIREMENTS, {}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoCUTPAL>(c.File, l, "rows.cut");
        ASSERT_EQ(l.Err, c.Err);
        if (c.Err != KXERR_NONE) {
            EXPECT_EQ(l.Buffer, nullptr);
            continue;
        }
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + l.Buffer->BufferSize), c.Want);
        // No palette file: the grey ramp.
        EXPECT_EQ(l.Buffer->Palette[3 * 200], 200);
        EXPECT_EQ(l.Buffer->Palette[3 * 255 + 2], 255);
        EXPECT_TRUE(l.Buffer->Flags & KXGFXF_GRAY);
        EXPECT_EQ(l.Buffer->ColorDepth, 8u);
    }
}

TEST(Cutpal, PaletteFiles) {
    const std::vector<uint8_t> px = pixelsOf(40, 9, 16);
    const std::vector<uint8_t> picture = cutOf(40, 9, px);
    struct {
        const char* Name;
        const char* PalName;
        std::vector<uint8_t> Pal;
        uint32_t Err, Depth;
        uint32_t Colours;
    } cases[] = {
        {"type 10, 16 words entries", "p.PAL", pal(10, colours(16)), KXERR_NONE, 4, 16},
        {"3-byte entries", "p.PAL", pal(0, colours(200)), KXERR_NONE, 8, 200},
        {"6-byte entries over blocks", "p.PAL", pal(10, colours(256)), KXERR_NONE, 8, 256},
        {"lower-case .pal", "p.pal", pal(0, colours(16)), KXERR_NONE, 4, 16},
        {"no AH", "p.PAL", pal(0, colours(16), 0, "HA"), KXERR_FILEREQUIREMENTS, 0, 0},
        {"257 entries", "p.PAL", pal(0, colours(257)), KXERR_FILEREQUIREMENTS, 0, 0},
        {"size too small", "p.PAL", pal(10, colours(16), 16 * 6 - 1), KXERR_FILEREQUIREMENTS, 0, 0},
        {"header cut short", "p.PAL", std::vector<uint8_t>{'A', 'H', 0, 0}, KXERR_EOF, 0, 0},
        {"entries cut short", "p.PAL", [] { auto v = pal(0, colours(16)); v.resize(v.size() - 2); return v; }(), KXERR_EOF, 0, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Pair files("p.cut", c.PalName);
        WriteAll(files.Cut, picture);
        WriteAll(files.Pal, c.Pal);
        Loaded l;
        LoadFile<kxoCUTPAL>(files.Cut, l);
        ASSERT_EQ(l.Err, c.Err);
        if (c.Err != KXERR_NONE) {
            EXPECT_EQ(l.Buffer, nullptr);
            continue;
        }
        EXPECT_EQ(l.Buffer->ColorDepth, c.Depth);
        EXPECT_EQ(l.Buffer->Flags & KXGFXF_GRAY, 0u);
        const auto want = colours(c.Colours);
        for (uint32_t i = 0; i < c.Colours; ++i) ASSERT_EQ(std::vector<uint8_t>(l.Buffer->Palette + 3 * i, l.Buffer->Palette + 3 * i + 3), want[i]) << i;
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + px.size()), px);
    }
    // 3-byte entries from offset 40: entry 155 starts at 505 (7 bytes left),
    // entry 156 would start at 508 with 4 left and comes from 512.
    const std::vector<uint8_t> p = pal(0, colours(160));
    EXPECT_EQ(p[505], colours(160)[155][0]);
    EXPECT_EQ(p[512], colours(160)[156][0]);
    // A damaged palette wins over well decoded rows; a damaged picture's
    // error stays when the palette is fine.
    Pair both("q.cut", "q.PAL");
    WriteAll(both.Cut, cut(2, 2, {{0x82, 1, 0}}));
    WriteAll(both.Pal, pal(0, colours(4)));
    Loaded l;
    LoadFile<kxoCUTPAL>(both.Cut, l);
    EXPECT_EQ(l.Err, KXERR_EOF);
    WriteAll(both.Pal, pal(0, colours(4), 0, "XX"));
    Loaded m;
    LoadFile<kxoCUTPAL>(both.Cut, m);
    EXPECT_EQ(m.Err, KXERR_FILEREQUIREMENTS);
}

TEST(Cutpal, ImageAndGraphicsMagickReadTheSameFiles) {
    const uint32_t w = 61, h = 23;
    const std::vector<uint8_t> px = pixelsOf(w, h, 40);
    Pair files("im.cut", "im.PAL");
    WriteAll(files.Cut, cutOf(w, h, px));
    // Their readers scale whole 16-bit words by the highest values (255).
    WriteAll(files.Pal, pal(10, colours(40), 0, "AH", 0));
    Loaded l;
    LoadFile<kxoCUTPAL>(files.Cut, l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    const Rgb ours = ToRgb(l.Buffer);
    const std::string q = TempPath("im.ppm");
    int ran = 0;
    for (const char* tool : {"convert-im6.q16", "gm"}) {
        if (!KXT_HaveTool(tool)) continue;
        SCOPED_TRACE(tool);
        const std::string cmd = std::string(tool) == "gm" ? "gm convert " : "convert-im6.q16 ";
        ASSERT_TRUE(Shell(cmd + files.Cut + " -depth 8 ppm:" + q));
        Rgb got;
        ASSERT_TRUE(ReadNetpbm(q, got));
        EXPECT_EQ(Compare(ours, got), "");
        ++ran;
    }
    unlink(q.c_str());
    if (!ran) GTEST_SKIP() << "neither ImageMagick nor GraphicsMagick is installed (tools/deps.sh installs them)";
}

TEST(Cutpal, ReaderSurvivesDamagedFiles) {
    const std::string p = TempPath("robust.cut");
    WriteAll(p, cutOf(37, 11, pixelsOf(37, 11, 256)));
    KXT_CheckReaderRobustness("kxoCUTPAL", p);
    unlink(p.c_str());
    kxoCUTPAL m;
    EXPECT_EQ(m.Save(), KXERR_NOTSUPPORTED);
}

}  // namespace
