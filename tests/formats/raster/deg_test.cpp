// kxoDEG: a PI1 fixture from netpbm's ppmtopi1 with pi1toppm's picture of
// it as PNG; PI3 files from pbmtopi3; the packed PC files and the medium
// resolution as byte tables built from the same screens; recognition by
// size and name, palette words, refusals and damaged input.
#include <gtest/gtest.h>

#include "formats/libraries/kxoPNG.h"
#include "formats/raster/kxoDEG.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"

using namespace kxt;

namespace {

struct Res {
    uint32_t W, H, Planes;
};
const Res RES[3] = {{320, 200, 4}, {640, 200, 2}, {640, 400, 1}};

// A screen of any resolution: plane words interleaved in groups of 16
// pixels; index(x, y) gives the pixels.
template <class F>
std::vector<uint8_t> screen(uint32_t res, F index) {
    const Res& r = RES[res];
    std::vector<uint8_t> s;
    for (uint32_t y = 0; y < r.H; ++y)
        for (uint32_t g = 0; g < r.W / 16; ++g)
            for (uint32_t p = 0; p < r.Planes; ++p) {
                uint32_t word = 0;
                for (uint32_t i = 0; i < 16; ++i)
                    if (index(g * 16 + i, y) >> p & 1) word |= 0x8000u >> i;
                s.push_back((uint8_t)(word >> 8));
                s.push_back((uint8_t)word);
            }
    return s;
}

// The plane rows of a screen, each packed by itself: runs of three or more,
// the rest as literals of at most 128 bytes.
std::vector<uint8_t> packScreen(uint32_t res, const std::vector<uint8_t>& scr) {
    const Res& r = RES[res];
    const uint32_t bpl = r.W / 8;
    std::vector<uint8_t> out;
    for (uint32_t y = 0; y < r.H; ++y)
        for (uint32_t p = 0; p < r.Planes; ++p) {
            std::vector<uint8_t> row;
            for (uint32_t g = 0; g < bpl / 2; ++g) {
                const size_t at = (size_t)y * bpl * r.Planes + (g * r.Planes + p) * 2;
                row.push_back(scr[at]);
                row.push_back(scr[at + 1]);
            }
            for (size_t i = 0; i < row.size();) {
                size_t k = 1;
                while (i + k < row.size() && k < 128 && row[i + k] == row[i]) ++k;
                if (k >= 3) {
                    out.push_back((uint8_t)(257 - k));
                    out.push_back(row[i]);
                    i += k;
                    continue;
                }
                size_t j = i;
                while (j < row.size() && j - i < 128 && !(j + 2 < row.size() && row[j] == row[j + 1] && row[j] == row[j + 2])) ++j;
                out.push_back((uint8_t)(j - i - 1));
                out.insert(out.end(), row.begin() + i, row.begin() + j);
                i = j;
            }
        }
    return out;
}

std::vector<uint8_t> degas(uint32_t res, bool packed, const std::vector<uint8_t>& data, const std::vector<uint16_t>& palette) {
    std::vector<uint8_t> v = {(uint8_t)(packed ? 0x80 : 0x00), (uint8_t)res};
    for (uint32_t i = 0; i < 16; ++i) {
        const uint16_t w = i < palette.size() ? palette[i] : 0;
        v.push_back((uint8_t)(w >> 8));
        v.push_back((uint8_t)w);
    }
    PutBytes(v, data);
    return v;
}

const std::vector<uint16_t> PALETTE = {0x777, 0x700, 0x070, 0x007, 0x123, 0xF00, 0x456, 0x765,
                                       0x000, 0x111, 0x222, 0x333, 0x444, 0x555, 0x666, 0x321};

uint32_t pattern(uint32_t x, uint32_t y) { return (x / 5 + y / 3 + (x * y) % 7) & 15; }

TEST(Degas, Recognition) {
    const std::vector<uint8_t> plain = degas(0, false, std::vector<uint8_t>(32000), PALETTE);
    std::vector<uint8_t> cycling = plain;
    cycling.resize(32066);
    std::vector<uint8_t> packed = degas(1, true, std::vector<uint8_t>(19966, 0), PALETTE);
    std::vector<uint8_t> res3 = plain;
    res3[1] = 3;
    std::vector<uint8_t> res4 = plain;
    res4[1] = 4;
    std::vector<uint8_t> packedFlagPlainSize = plain;
    packedFlagPlainSize[0] = 0x80;
    struct {
        const char* Name;
        std::vector<uint8_t> Bytes;
        const char* File;
        uint32_t Want;
    } cases[] = {
        {"32034 bytes, any name", plain, "x.bin", 1},
        {"32066 bytes", cycling, "x.bin", 1},
        {"one byte short", std::vector<uint8_t>(plain.begin(), plain.end() - 1), "x.pi1", 0},
        {"resolution 3 passes", res3, "x.pi1", 1},
        {"resolution 4", res4, "x.pi1", 0},
        {"packed, .pc2 in lower case", packed, "x.pc2", 1},
        {"packed, .PC1", packed, "x.PC1", 1},
        {"packed, another name", packed, "x.pi2", 0},
        {"packed flag at the plain size", packedFlagPlainSize, "x.PC1", 0},
    };
    for (auto& c : cases) EXPECT_EQ(Recognises<kxoDEG>(c.Bytes, c.File), c.Want) << c.Name;
}

TEST(Degas, LoadsNetpbmFixture) {
    Loaded png;
    LoadFile<kxoPNG>(Fixture("degas/camo.png"), png);
    ASSERT_EQ(png.Err, KXERR_NONE);
    // pi1toppm scales 3-bit components to 0..255; ours are 34 x v.
    Rgb want = ToRgb(png.Buffer);
    for (uint8_t& c : want.Pix) c = (uint8_t)(34 * ((c * 7 + 127) / 255));
    Loaded l;
    LoadFile<kxoDEG>(Fixture("degas/camo.pi1"), l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.SubFormat, 0u);
    EXPECT_EQ(l.Buffer->Type, (uint32_t)BITPLANE);
    EXPECT_EQ(l.Buffer->ColorDepth, 4u);
    EXPECT_EQ(l.Buffer->BufferSize, 32000u);
    EXPECT_TRUE(l.Buffer->Flags & KXGFXF_SRCLOWDEPTH);
    EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "");
    EXPECT_EQ(l.Progress.size(), 25u);

    // The same screen packed, as a PC1 file, and with colour cycling data.
    const std::vector<uint8_t> pi1 = KXT_ReadBytes(Fixture("degas/camo.pi1"));
    std::vector<uint8_t> pc1(pi1.begin(), pi1.begin() + 34);
    pc1[0] = 0x80;
    PutBytes(pc1, packScreen(0, std::vector<uint8_t>(pi1.begin() + 34, pi1.end())));
    Loaded p;
    LoadBytes<kxoDEG>(pc1, p, "camo.pc1");
    ASSERT_EQ(p.Err, KXERR_NONE);
    EXPECT_EQ(p.SubFormat, 3u);
    EXPECT_EQ(Compare(ToRgb(p.Buffer), want), "");
    pc1.resize(pc1.size() + 32, 0x5A);
    Loaded q;
    LoadBytes<kxoDEG>(pc1, q, "camo.pc1");
    ASSERT_EQ(q.Err, KXERR_NONE);
    EXPECT_EQ(Compare(ToRgb(q.Buffer), want), "");
}

TEST(Degas, EveryResolutionPlainAndPacked) {
    for (uint32_t res = 0; res < 3; ++res)
        for (bool packed : {false, true}) {
            SCOPED_TRACE("resolution " + std::to_string(res) + (packed ? " packed" : ""));
            const Res& r = RES[res];
            const uint32_t mask = (1u << r.Planes) - 1;
            const std::vector<uint8_t> scr = screen(res, [&](uint32_t x, uint32_t y) { return pattern(x, y) & mask; });
            const std::vector<uint8_t> data = packed ? packScreen(res, scr) : scr;
            // This noise packs to more than the screen's 32000 bytes, as a
            // packed file may: the reader takes the whole rest of the file.
            if (packed && res == 0) EXPECT_GT(data.size(), 32000u);
            Loaded l;
            LoadBytes<kxoDEG>(degas(res, packed, data, PALETTE), l, "every.pc1");
            ASSERT_EQ(l.Err, KXERR_NONE);
            EXPECT_EQ(l.SubFormat, res + (packed ? 3 : 0));
            ASSERT_EQ(l.Buffer->Width, r.W);
            ASSERT_EQ(l.Buffer->Height, r.H);
            EXPECT_EQ(l.Buffer->ColorDepth, r.Planes);
            EXPECT_EQ(l.Buffer->BytesPerLine, r.W / 8);
            const Rgb got = ToRgb(l.Buffer);
            std::string diff;
            for (uint32_t y = 0; y < r.H && diff.empty(); ++y)
                for (uint32_t x = 0; x < r.W && diff.empty(); ++x) {
                    const uint16_t word = PALETTE[pattern(x, y) & mask];
                    const uint8_t want[3] = {(uint8_t)(34 * (word >> 8 & 7)), (uint8_t)(34 * (word >> 4 & 7)), (uint8_t)(34 * (word & 7))};
                    if (memcmp(&got.Pix[3 * (y * r.W + x)], want, 3) != 0) diff = std::to_string(x) + "," + std::to_string(y);
                }
            EXPECT_EQ(diff, "");
        }
}

TEST(Degas, PaletteWordsAndLayout) {
    // 0x0777 -> 238 each, 0x0F00 -> red 238 (the fourth bit ignored),
    // 0x0123 -> 34, 68, 102.
    std::vector<uint8_t> scr(32000, 0);
    // Medium resolution: the first four bytes are 16 pixels of plane 0,
    // then of plane 1.
    scr[0] = 0xFF, scr[1] = 0x00, scr[2] = 0xF0, scr[3] = 0xF0;
    Loaded l;
    LoadBytes<kxoDEG>(degas(1, false, scr, {0x0777, 0x0F00, 0x0123, 0xF000}), l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    const uint8_t* pal = l.Buffer->Palette;
    EXPECT_EQ(std::vector<uint8_t>(pal, pal + 12), (std::vector<uint8_t>{238, 238, 238, 238, 0, 0, 34, 68, 102, 0, 0, 0}));
    EXPECT_EQ(pal[3 * 16], 0);
    const Rgb got = ToRgb(l.Buffer);
    // Pixels 0-3 index 3, 4-7 index 1, 8-11 index 2, 12-15 index 0.
    const uint8_t index[16] = {3, 3, 3, 3, 1, 1, 1, 1, 2, 2, 2, 2, 0, 0, 0, 0};
    for (int x = 0; x < 16; ++x) EXPECT_EQ(memcmp(&got.Pix[3 * x], pal + 3 * index[x], 3), 0) << x;
}

TEST(Degas, PackedRowsAndTheirEnds) {
    const uint32_t res = 2;  // one plane of 80 bytes a row
    std::vector<uint8_t> rows, overshoot;
    for (uint32_t y = 0; y < 400; ++y) {
        PutBytes(rows, {0x80, 0xB1, (uint8_t)y});         // a no-op, then 80 bytes
        PutBytes(overshoot, {0xB2, 0x11, 0xFD, 0x22});    // 79 bytes, then 4 of which 3 overshoot
    }
    struct {
        const char* Name;
        std::vector<uint8_t> Data;
        uint32_t Err;
        uint8_t First, Last, Second;  // bytes 0, 79 and 80
    } cases[] = {
        {"ends exactly with the last item", rows, KXERR_NONE, 0, 0, 1},
        {"a run past the row is dropped", overshoot, KXERR_NONE, 0x11, 0x22, 0x11},
        {"cut in the middle", std::vector<uint8_t>(rows.begin(), rows.begin() + rows.size() / 2), KXERR_EOF, 0, 0, 0},
        {"cut inside the last run", std::vector<uint8_t>(rows.begin(), rows.end() - 1), KXERR_EOF, 0, 0, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoDEG>(degas(res, true, c.Data, {0x777, 0}), l, "rows.pc3");
        ASSERT_EQ(l.Err, c.Err);
        if (c.Err != KXERR_NONE) {
            EXPECT_EQ(l.Buffer, nullptr);
            continue;
        }
        EXPECT_EQ(l.Buffer->Data[0], c.First);
        EXPECT_EQ(l.Buffer->Data[79], c.Last);
        EXPECT_EQ(l.Buffer->Data[80], c.Second);
    }
}

TEST(Degas, Refusals) {
    std::vector<uint8_t> plain = degas(0, false, std::vector<uint8_t>(32000), PALETTE);
    struct {
        const char* Name;
        std::vector<uint8_t> Bytes;
        uint32_t Err;
    } cases[] = {
        {"resolution 3", [&] { auto v = plain; v[1] = 3; return v; }(), KXERR_FILEREQUIREMENTS},
        {"one byte", {0}, KXERR_EOF},
        {"cut inside the palette", std::vector<uint8_t>(plain.begin(), plain.begin() + 20), KXERR_EOF},
        {"screen cut short", std::vector<uint8_t>(plain.begin(), plain.begin() + 20000), KXERR_EOF},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoDEG>(c.Bytes, l);
        EXPECT_EQ(l.Err, c.Err);
        EXPECT_EQ(l.Buffer, nullptr);
    }
    kxoDEG m;
    EXPECT_EQ(m.Save(), KXERR_NOTSUPPORTED);
}

TEST(Degas, ReadsNetpbmHighResolution) {
    KXT_NEED_TOOL("pbmtopi3");
    // A 640 x 400 PBM (a set bit black) made here, written by pbmtopi3.
    const std::string pbm = TempPath("hi.pbm"), pi3 = TempPath("hi.pi3");
    std::vector<uint8_t> v;
    const std::string head = "P4\n640 400\n";
    v.assign(head.begin(), head.end());
    for (uint32_t y = 0; y < 400; ++y)
        for (uint32_t b = 0; b < 80; ++b) v.push_back((uint8_t)(pattern(b, y) * 17 ^ y));
    WriteAll(pbm, v);
    ASSERT_TRUE(Shell("pbmtopi3 " + pbm + " > " + pi3));
    Loaded l;
    LoadFile<kxoDEG>(pi3, l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.SubFormat, 2u);
    const Rgb got = ToRgb(l.Buffer);
    std::string diff;
    for (uint32_t i = 0; i < 640 * 400 && diff.empty(); ++i) {
        const bool black = v[head.size() + i / 8] & (0x80 >> (i % 8));
        if (got.Pix[3 * i] != (black ? 0 : 238)) diff = std::to_string(i);
    }
    EXPECT_EQ(diff, "");
    unlink(pbm.c_str());
    unlink(pi3.c_str());
}

TEST(Degas, ReaderSurvivesDamagedFiles) {
    KXT_CheckReaderRobustness("kxoDEG", Fixture("degas/camo.pi1"));
    const std::string p = TempPath("robust.pc2");
    const std::vector<uint8_t> scr = screen(1, [](uint32_t x, uint32_t y) { return pattern(x, y) & 3; });
    WriteAll(p, degas(1, true, packScreen(1, scr), PALETTE));
    KXT_CheckReaderRobustness("kxoDEG", p);
    unlink(p.c_str());
}

}  // namespace
