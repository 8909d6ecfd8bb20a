// kxoMSP: a version-1 fixture written by Pillow with its picture as PNG;
// version-2 files built here, which Pillow decodes too; the row decoder's
// edge cases as byte tables; recognition, refusals and damaged input.
#include <gtest/gtest.h>

#include "formats/libraries/kxoPNG.h"
#include "formats/raster/kxoMSP.h"
#include "module_io.h"
#include "pillow.h"
#include "raster_pixels.h"
#include "support/robustness.h"

using namespace kxt;

namespace {

// The header: magic, size, aspect ratios and the checksum that makes the
// sixteen words XOR to 0 (Pillow checks it).
std::vector<uint8_t> header(const char* magic, uint32_t w, uint32_t h) {
    std::vector<uint8_t> v(magic, magic + 4);
    for (uint32_t word : {w, h, 1u, 1u, 1u, 1u, w, h, 0u, 0u}) Put16(v, word);
    v.resize(32, 0);
    uint32_t x = 0;
    for (int i = 0; i < 16; ++i) x ^= (uint32_t)(v[2 * i] | v[2 * i + 1] << 8);
    v[24] = (uint8_t)x, v[25] = (uint8_t)(x >> 8);
    return v;
}

// Version 2: rows coded as runs of three or more (0, count, value) and
// literals, with the row map in front.
std::vector<uint8_t> version2(uint32_t w, uint32_t h, const std::vector<uint8_t>& bits) {
    const uint32_t bpr = (w + 7) / 8;
    std::vector<uint8_t> map, rows;
    for (uint32_t y = 0; y < h; ++y) {
        std::vector<uint8_t> r;
        const uint8_t* row = &bits[y * bpr];
        for (uint32_t i = 0; i < bpr;) {
            uint32_t k = 1;
            while (i + k < bpr && k < 255 && row[i + k] == row[i]) ++k;
            if (k >= 3) {
                PutBytes(r, {0, (uint8_t)k, row[i]});
                i += k;
                continue;
            }
            uint32_t j = i;
            while (j < bpr && j - i < 255 && !(j + 2 < bpr && row[j] == row[j + 1] && row[j] == row[j + 2])) ++j;
            r.push_back((uint8_t)(j - i));
            r.insert(r.end(), row + i, row + j);
            i = j;
        }
        Put16(map, (uint32_t)r.size());
        PutBytes(rows, r);
    }
    std::vector<uint8_t> v = header("LinS", w, h);
    PutBytes(v, map);
    PutBytes(v, rows);
    return v;
}

std::vector<uint8_t> bitsOf(uint32_t w, uint32_t h) {
    const uint32_t bpr = (w + 7) / 8;
    std::vector<uint8_t> b(bpr * h);
    for (uint32_t i = 0; i < b.size(); ++i) b[i] = (i / bpr) % 5 == 0 ? 0xFF : (i % 7 < 3 ? 0x00 : (uint8_t)(i * 37));
    return b;
}

// Set bits are white.
Rgb picture(uint32_t w, uint32_t h, const std::vector<uint8_t>& bits) {
    Rgb r;
    r.W = w, r.H = h;
    const uint32_t bpr = (w + 7) / 8;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t v = bits[y * bpr + x / 8] & (0x80 >> (x % 8)) ? 255 : 0;
            r.Pix.insert(r.Pix.end(), {v, v, v});
        }
    return r;
}

TEST(Msp, Recognition) {
    const std::vector<uint8_t> v2 = version2(16, 2, bitsOf(16, 2));
    std::vector<uint8_t> v1 = header("DanM", 16, 2);
    PutBytes(v1, bitsOf(16, 2));
    std::vector<uint8_t> other = v1;
    other[0] = 'd';
    struct {
        const char* Name;
        std::vector<uint8_t> Bytes;
        const char* File;
        uint32_t Want;
    } cases[] = {
        {"LinS, .MSP", v2, "x.MSP", 1},     {"LinS, .msp", v2, "x.msp", 1}, {"LinS, another name", v2, "x.bmp", 0},
        {"DanM, .msp", v1, "x.msp", 1},     {"other magic", other, "x.msp", 0}, {"three bytes", {'L', 'i', 'n'}, "x.msp", 0},
    };
    for (auto& c : cases) EXPECT_EQ(Recognises<kxoMSP>(c.Bytes, c.File), c.Want) << c.Name;
}

TEST(Msp, LoadsPillowsVersion1) {
    Loaded png;
    LoadFile<kxoPNG>(Fixture("msp/pillow.png"), png);
    ASSERT_EQ(png.Err, KXERR_NONE);
    Loaded l;
    LoadFile<kxoMSP>(Fixture("msp/pillow.msp"), l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.Buffer->Type, (uint32_t)BITPLANE);
    EXPECT_EQ(l.Buffer->Width, 97u);
    EXPECT_EQ(l.Buffer->Version, 4u);
    EXPECT_TRUE(l.Buffer->Flags & KXGFXF_GRAY);
    EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Palette, l.Buffer->Palette + 6), (std::vector<uint8_t>{0, 0, 0, 255, 255, 255}));
    EXPECT_EQ(Compare(ToRgb(l.Buffer), ToRgb(png.Buffer)), "");
}

TEST(Msp, Version2RowsAsPillowReadsThem) {
    for (uint32_t w : {1u, 8u, 13u, 64u, 203u}) {
        SCOPED_TRACE("width " + std::to_string(w));
        const std::vector<uint8_t> bits = bitsOf(w, 9);
        const std::vector<uint8_t> file = version2(w, 9, bits);
        Loaded l;
        LoadBytes<kxoMSP>(file, l, "v2.msp");
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(Compare(ToRgb(l.Buffer), picture(w, 9, bits)), "");
        const std::string& py = PillowPython();
        if (py.empty()) continue;
        const std::string p = TempPath("v2.msp"), q = TempPath("v2.pgm");
        WriteAll(p, file);
        ASSERT_TRUE(Shell(py + " -c 'import sys; from PIL import Image; Image.open(sys.argv[1]).convert(\"L\").save(sys.argv[2], \"PPM\")' " +
                          p + " " + q));
        Rgb got;
        ASSERT_TRUE(ReadNetpbm(q, got));
        EXPECT_EQ(Compare(ToRgb(l.Buffer), got), "") << "Pillow";
        unlink(p.c_str());
        unlink(q.c_str());
    }
}

TEST(Msp, RowDecoder) {
    struct {
        const char* Name;
        uint32_t Width, Height;
        std::vector<uint8_t> Input;
        uint32_t Err;
        std::vector<uint8_t> Want;
    } cases[] = {
        {"a run, then literals", 64, 1, {0x00, 0x05, 0xFF, 0x03, 0x01, 0x02, 0x03}, KXERR_NONE, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3}},
        {"a run of none goes on", 16, 1, {0x00, 0x00, 0x55, 0x02, 0x0A, 0x0B}, KXERR_NONE, {0x0A, 0x0B}},
        {"a run past its row, overwritten by the next", 16, 2, {0x00, 0x03, 0x77, 0x00, 0x02, 0x11}, KXERR_NONE, {0x77, 0x77, 0x11, 0x11}},
        {"a literal past the picture's end", 16, 1, {0x04, 1, 2, 3, 4}, KXERR_NONE, {1, 2}},
        {"a run past the picture's end", 16, 2, {0x02, 9, 9, 0x00, 0xFF, 0x44}, KXERR_NONE, {9, 9, 0x44, 0x44}},
        {"input ends before the last row", 16, 2, {0x02, 1, 2}, KXERR_EOF, {}},
        {"input ends inside a literal", 16, 1, {0x02, 1}, KXERR_EOF, {}},
        {"input ends inside a run", 16, 1, {0x00, 0x02}, KXERR_EOF, {}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        kxoMSP m;
        std::vector<uint8_t> data((c.Width + 7) / 8 * c.Height, 0xEE);
        EXPECT_EQ(m.UnpackRows(c.Input.data(), c.Input.size(), data.data(), c.Width, c.Height, 1), c.Err);
        if (c.Err == KXERR_NONE) {
            EXPECT_EQ(data, c.Want);
        }
    }
}

TEST(Msp, Refusals) {
    std::vector<uint8_t> v1 = header("DanM", 16, 4);
    PutBytes(v1, bitsOf(16, 4));
    struct {
        const char* Name;
        std::vector<uint8_t> Bytes;
        uint32_t Err;
    } cases[] = {
        {"other magic", [&] { auto v = v1; v[3] = 'X'; return v; }(), KXERR_FILEREQUIREMENTS},
        {"header cut short", std::vector<uint8_t>(v1.begin(), v1.begin() + 20), KXERR_EOF},
        {"bitmap cut short", std::vector<uint8_t>(v1.begin(), v1.end() - 1), KXERR_EOF},
        {"version 2 ending in its row map", [] { auto v = version2(16, 4, bitsOf(16, 4)); v.resize(38); return v; }(), KXERR_NOMEMORY},
        {"version 2 rows cut short", [] { auto v = version2(16, 4, bitsOf(16, 4)); v.pop_back(); return v; }(), KXERR_EOF},
        {"width 0", [&] { auto v = v1; v[4] = v[5] = 0; return v; }(), KXERR_FILEREQUIREMENTS},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoMSP>(c.Bytes, l, "bad.msp");
        EXPECT_EQ(l.Err, c.Err);
        EXPECT_EQ(l.Buffer, nullptr);
    }
    kxoMSP m;
    EXPECT_EQ(m.Save(), KXERR_NOTSUPPORTED);
}

TEST(Msp, ReaderSurvivesDamagedFiles) {
    KXT_CheckReaderRobustness("kxoMSP", Fixture("msp/pillow.msp"));
    const std::string p = TempPath("robust.msp");
    WriteAll(p, version2(45, 13, bitsOf(45, 13)));
    KXT_CheckReaderRobustness("kxoMSP", p);
    unlink(p.c_str());
}

}  // namespace
