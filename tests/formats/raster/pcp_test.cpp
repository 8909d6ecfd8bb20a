// kxoPCP: no program here writes Pictor files, so the fixtures are byte
// tables built in the test: every depth, uncompressed and in packed blocks
// (short and 16-bit counts, literals), VGA, EGA and no palette; refusals;
// the writer's blocks and its uncompressed fall-back, round trips, the safe
// save and damaged input.
#include <gtest/gtest.h>

#include "formats/raster/kxoPCP.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"
#include "tiny_load.h"
#include "write_failure.h"

using namespace kxt;

namespace {

// A picture as palette indices, row by row from the top.
struct Picture {
    uint32_t W, H, Depth;
    std::vector<uint8_t> Index;
};

Picture pattern(uint32_t w, uint32_t h, uint32_t depth) {
    Picture p{w, h, depth, {}};
    for (uint32_t i = 0; i < w * h; ++i) p.Index.push_back((uint8_t)((i * 7 + i / w * 3 + (i % 5 == 0 ? 0 : i / 3)) % (1u << depth)));
    return p;
}

// The unpacked data: bit planes one after another (or bytes), each from the
// bottom row up.
std::vector<uint8_t> unpacked(const Picture& p) {
    std::vector<uint8_t> v;
    if (p.Depth == 8) {
        for (uint32_t y = p.H; y-- > 0;) v.insert(v.end(), p.Index.begin() + y * p.W, p.Index.begin() + (y + 1) * p.W);
        return v;
    }
    const uint32_t bpr = (p.W + 7) / 8;
    for (uint32_t plane = 0; plane < p.Depth; ++plane)
        for (uint32_t y = p.H; y-- > 0;) {
            std::vector<uint8_t> row(bpr, 0);
            for (uint32_t x = 0; x < p.W; ++x)
                if (p.Index[y * p.W + x] >> plane & 1) row[x / 8] |= (uint8_t)(0x80 >> (x % 8));
            PutBytes(v, row);
        }
    return v;
}

// Packed blocks of at most 40 source bytes each: runs of 3 or more with the
// marker (counts above 255 in the 16-bit form), the rest as literals; a
// byte equal to the marker goes as a run of one.
std::vector<uint8_t> pack(const std::vector<uint8_t>& data, uint32_t* blocks) {
    std::vector<uint8_t> out;
    *blocks = 0;
    for (size_t at = 0; at < data.size();) {
        const size_t end = std::min(data.size(), at + (data.size() > 600 ? 400 : 40));
        const uint8_t marker = 0xA5;
        std::vector<uint8_t> body;
        for (size_t i = at; i < end;) {
            size_t k = 1;
            while (i + k < end && data[i + k] == data[i]) ++k;
            if (k >= 3 || data[i] == marker) {
                body.push_back(marker);
                if (k > 255) {
                    body.push_back(0);
                    Put16(body, (uint32_t)k);
                } else {
                    body.push_back((uint8_t)k);
                }
                body.push_back(data[i]);
                i += k;
            } else {
                body.push_back(data[i++]);
            }
        }
        Put16(out, (uint32_t)body.size() + 5);
        Put16(out, (uint32_t)(end - at));
        out.push_back(marker);
        PutBytes(out, body);
        ++*blocks;
        at = end;
    }
    return out;
}

enum PaletteKind { VGA, EGA, NONE };

std::vector<uint8_t> pictor(const Picture& p, PaletteKind pal, bool packed, uint8_t planeInfo = 0) {
    std::vector<uint8_t> v;
    Put16(v, 0x1234);
    Put16(v, p.W);
    Put16(v, p.H);
    Put16(v, 0);
    Put16(v, 0);
    v.push_back(planeInfo ? planeInfo : p.Depth == 8 ? 0x08 : (uint8_t)((p.Depth - 1) << 4 | 1));
    v.push_back(0xFF);
    v.push_back('O');
    Put16(v, pal == VGA ? 4 : 0);
    const uint32_t n = 1u << p.Depth;
    Put16(v, pal == VGA ? 3 * n : pal == EGA ? n : 0);
    for (uint32_t i = 0; i < n && pal != NONE; ++i) {
        if (pal == VGA) {
            v.push_back((uint8_t)(i * 5 % 64));
            v.push_back((uint8_t)(63 - i % 64));
            v.push_back((uint8_t)(i * 11 % 64));
        } else {
            v.push_back((uint8_t)(i % 64));
        }
    }
    std::vector<uint8_t> data = unpacked(p);
    uint32_t blocks = 0;
    if (packed) data = pack(data, &blocks);
    Put16(v, blocks);
    PutBytes(v, data);
    return v;
}

// The colour the file gives index i.
void expectedColour(PaletteKind pal, uint32_t depth, uint32_t i, uint8_t* rgb) {
    if (pal == VGA) {
        rgb[0] = (uint8_t)(i * 5 % 64 * 4), rgb[1] = (uint8_t)((63 - i % 64) * 4), rgb[2] = (uint8_t)(i * 11 % 64 * 4);
    } else if (pal == EGA) {
        const uint32_t c = i % 64;
        rgb[0] = (uint8_t)((c & 4 ? 0x80 : 0) | (c & 32 ? 0x40 : 0));
        rgb[1] = (uint8_t)((c & 2 ? 0x80 : 0) | (c & 16 ? 0x40 : 0));
        rgb[2] = (uint8_t)((c & 1 ? 0x80 : 0) | (c & 8 ? 0x40 : 0));
    } else {
        const uint32_t n = 1u << depth;
        const uint8_t g = i == n - 1 ? 255 : (uint8_t)(i * (256 / n));
        rgb[0] = rgb[1] = rgb[2] = g;
    }
}

TEST(Pcp, EveryDepthPackedOrNotWithEveryPaletteKind) {
    for (uint32_t depth : {1u, 2u, 4u, 8u})
        for (PaletteKind pal : {VGA, EGA, NONE})
            for (bool packed : {false, true})
                for (uint32_t w : {1u, 8u, 13u, 40u}) {
                    SCOPED_TRACE("depth " + std::to_string(depth) + " palette " + std::to_string(pal) + (packed ? " packed" : "") +
                                 " width " + std::to_string(w));
                    const Picture p = pattern(w, 6, depth);
                    Loaded l;
                    LoadBytes<kxoPCP>(pictor(p, pal, packed), l);
                    ASSERT_EQ(l.Err, KXERR_NONE);
                    EXPECT_EQ(l.SubFormat, packed ? 1u : 0u);
                    EXPECT_EQ(l.Buffer->ColorDepth, depth);
                    EXPECT_EQ(l.Buffer->Type, depth == 8 ? (uint32_t)ONEPLANE : (uint32_t)BITPLANE);
                    Rgb want;
                    want.W = w, want.H = 6;
                    want.Pix.resize(w * 6 * 3);
                    for (uint32_t i = 0; i < w * 6; ++i) expectedColour(pal, depth, p.Index[i], &want.Pix[3 * i]);
                    EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "");
                }
}

TEST(Pcp, GreyRampOfOneBitAndLongRuns) {
    const Picture p = pattern(8, 2, 1);
    Loaded l;
    LoadBytes<kxoPCP>(pictor(p, NONE, false), l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(l.Buffer->Palette[3 * i], i == 1 ? 255 : (i & 1) * 128) << i;

    // 16-bit run counts in blocks of 400 source bytes.
    Picture flat{700, 2, 8, std::vector<uint8_t>(1400, 9)};
    flat.Index[1000] = 3;
    Loaded m;
    LoadBytes<kxoPCP>(pictor(flat, VGA, true), m);
    ASSERT_EQ(m.Err, KXERR_NONE);
    EXPECT_EQ(m.Buffer->Data[1000], 3);
    EXPECT_EQ(m.Buffer->Data[999], 9);
    EXPECT_EQ(m.Buffer->Data[1399], 9);
}

TEST(Pcp, DamagedBlocksStayInsideTheData) {
    const Picture p = pattern(16, 4, 8);
    std::vector<uint8_t> f = pictor(p, NONE, true);
    const size_t data = 17 + 2;
    struct {
        const char* Name;
        std::vector<uint8_t> File;
    } cases[] = {
        {"block size past the end", [&] { auto v = f; v[data] = 0xFF, v[data + 1] = 0xFF; return v; }()},
        {"block size 0", [&] { auto v = f; v[data] = 0, v[data + 1] = 0; return v; }()},
        {"run count past the picture", [&] { auto v = f; v.resize(data); PutBytes(v, {9, 0, 64, 0, 0xA5, 0xA5, 0, 0xFF, 0xFF, 7}); return v; }()},
        {"data cut", [&] { auto v = f; v.resize(v.size() - 10); return v; }()},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoPCP>(c.File, l);
        EXPECT_EQ(l.Err, KXERR_NONE);  // what the data do not reach stays 0
        ASSERT_NE(l.Buffer, nullptr);
    }
}

TEST(Pcp, Refusals) {
    const Picture p = pattern(4, 2, 8);
    auto with = [&](int at, std::vector<uint8_t> bytes) {
        std::vector<uint8_t> v = pictor(p, NONE, false);
        for (size_t i = 0; i < bytes.size(); ++i) v[at + i] = bytes[i];
        return v;
    };
    std::vector<uint8_t> tiny = pictor(p, NONE, false);
    tiny.resize(17);
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        uint32_t Err;
    } cases[] = {
        {"palette type 1", with(13, {1, 0}), KXERR_FILEREQUIREMENTS},
        {"palette type 2", with(13, {2, 0}), KXERR_FILEREQUIREMENTS},
        {"palette flag", with(11, {0}), KXERR_FILEREQUIREMENTS},
        {"depth 3", with(10, {0x03}), KXERR_FILEREQUIREMENTS},
        {"depth 16 (two planes of 8)", with(10, {0x18}), KXERR_FILEREQUIREMENTS},
        {"depth 15 (no undefined shift)", with(10, {0x0F}), KXERR_FILEREQUIREMENTS},
        {"palette above 768", with(15, {0x01, 0x03}), KXERR_DECODE},
        {"17 bytes", tiny, KXERR_FILEREQUIREMENTS},
        {"zero width", with(2, {0, 0}), KXERR_FILEREQUIREMENTS},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoPCP>(c.File, l);
        EXPECT_EQ(l.Err, c.Err);
        EXPECT_EQ(l.Buffer, nullptr);
    }
    EXPECT_EQ(Recognises<kxoPCP>({0x34, 0x12}), 1u);
    EXPECT_EQ(Recognises<kxoPCP>({0x34}), 0u);
}

TEST(Pcp, WriterBlocksAndRoundTrips) {
    const std::string p = TempPath("w.pcp");
    {
        // A row of 300 equal bytes is one 10-byte block, of 5 one 8-byte block;
        // the bottom row comes first.
        KX_GfxBuffer* img = MakeImage(300, 2, 8);
        memset(img->Data, 0x42, 300);
        memset(img->Data + 300, 0x10, 295);
        memset(img->Data + 595, 0x11, 5);
        Saved s = SaveTo<kxoPCP>(img, p, 1);
        ASSERT_EQ(s.Err, KXERR_NONE);
        const size_t at = 17 + 768;
        ASSERT_EQ(s.File.size(), at + 2 + 10 + 8 + 10);
        EXPECT_EQ(s.File[at], 3);
        EXPECT_EQ(std::vector<uint8_t>(s.File.begin() + at + 2, s.File.end()),
                  (std::vector<uint8_t>{10, 0, 39, 1, 0x10 ^ 0x1F, 0x10 ^ 0x1F, 0, 39, 1, 0x10,  // 295
                                        8, 0, 5, 0, 0x11 ^ 0x0F, 0x11 ^ 0x0F, 5, 0x11,        // 5
                                        10, 0, 44, 1, 0x42 ^ 0x1F, 0x42 ^ 0x1F, 0, 44, 1, 0x42}));
        EXPECT_EQ(std::vector<uint8_t>(s.File.begin(), s.File.begin() + 17),
                  (std::vector<uint8_t>{0x34, 0x12, 44, 1, 2, 0, 0, 0, 0, 0, 8, 0xFF, 'O', 4, 0, 0, 3}));
        EXPECT_EQ(s.File[17 + 3], img->Palette[3] >> 2);
        KXSUP_FreeGfxBuffer(img);
    }
    {
        // Noise of more than 65535 runs saved packed goes uncompressed.
        KX_GfxBuffer* img = MakeImage(300, 300, 8);
        for (uint32_t i = 0; i < img->BufferSize; ++i) img->Data[i] = (uint8_t)(i & 1);
        Saved s = SaveTo<kxoPCP>(img, p, 1);
        ASSERT_EQ(s.Err, KXERR_NONE);
        EXPECT_EQ(s.File.size(), 17 + 768 + 2 + 90000u);
        EXPECT_EQ(s.File[17 + 768], 0);
        EXPECT_EQ(s.File[17 + 768 + 1], 0);
        KXSUP_FreeGfxBuffer(img);
    }
    for (uint32_t depth : {1u, 4u, 8u})
        for (uint32_t sub : {0u, 1u})
            for (uint32_t w : {1u, 2u, 3u, 7u, 8u, 9u, 16u, 17u, 31u}) {
                SCOPED_TRACE("depth " + std::to_string(depth) + " sub " + std::to_string(sub) + " width " + std::to_string(w));
                KX_GfxBuffer* img = MakeImage(w, 4, depth);
                ASSERT_EQ(SaveTo<kxoPCP>(img, p, sub).Err, KXERR_NONE);
                Loaded l;
                LoadFile<kxoPCP>(p, l);
                ASSERT_EQ(l.Err, KXERR_NONE);
                EXPECT_EQ(l.Buffer->ColorDepth, 8u);
                Rgb want = ToRgb(img);
                for (uint8_t& c : want.Pix) c &= 0xFC;  // 6-bit components
                EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "");
                KXSUP_FreeGfxBuffer(img);
            }
    unlink(p.c_str());
}

TEST(Pcp, SaveRefusalsAndFailedWrites) {
    const std::string p = TempPath("refuse.pcp");
    struct {
        const char* Name;
        uint32_t W, H, Depth;
        uint32_t Err;
    } cases[] = {
        {"24 bits", 2, 2, 24, KXERR_NO24BIT},
        {"48 bits", 2, 2, 48, KXERR_NO48BIT},
        {"wider than the 16-bit field", 65536, 1, 8, KXERR_FILEREQUIREMENTS},
        {"taller than the 16-bit field", 1, 65536, 8, KXERR_FILEREQUIREMENTS},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        KX_GfxBuffer* img = MakeImage(c.W, c.H, c.Depth);
        EXPECT_EQ(SaveOverOld<kxoPCP>(img, p, 1), c.Err);
        KXSUP_FreeGfxBuffer(img);
    }
    unlink(p.c_str());
    for (uint32_t sub : {0u, 1u}) {
        KX_GfxBuffer* img = MakeImage(300, 300, 8);
        kxoPCP w;
        w.SetSubFormat(sub);
        EXPECT_EQ(SaveUnderFileSizeLimit(&w, img, "full.pcp"), KXERR_IO);
        KXSUP_FreeGfxBuffer(img);
    }
}

// A few bytes that declare a huge picture are refused as short before the
// picture is made; runs that really describe a large picture still load,
// and a file that fills half its picture or more still loads partially.
TEST(Pcp, TinyFilesNeverCostTheirDeclaredPicture) {
    auto head = [](uint32_t w, uint32_t h, uint32_t blocks) {
        std::vector<uint8_t> v;
        Put16(v, 0x1234);
        Put16(v, w);
        Put16(v, h);
        Put16(v, 0);
        Put16(v, 0);
        PutBytes(v, {0x08, 0xFF, 'O', 0, 0, 0, 0});  // 8 bits, no palette
        Put16(v, blocks);
        return v;
    };
    // 42 bytes for 46340 x 46340: one block of three runs of 65535.
    std::vector<uint8_t> packed = head(46340, 46340, 1);
    Put16(packed, 23);
    Put16(packed, 0xFFFF);
    packed.push_back(0xA5);
    for (int i = 0; i < 3; ++i) PutBytes(packed, {0xA5, 0, 0xFF, 0xFF, 7});
    PutBytes(packed, {1, 2, 3});
    ASSERT_EQ(packed.size(), 42u);
    std::vector<uint8_t> raw = head(46340, 46340, 0);
    raw.resize(42, 9);
    // 2000 x 2000 from 62 blocks of one run of 65535 and one of the rest:
    // 639 bytes.
    std::vector<uint8_t> runs = head(2000, 2000, 62);
    for (uint32_t left = 2000 * 2000; left;) {
        const uint32_t k = left < 65535 ? left : 65535;
        Put16(runs, 10);
        Put16(runs, k);
        PutBytes(runs, {0xA5, 0xA5, 0, (uint8_t)k, (uint8_t)(k >> 8), 7});
        left -= k;
    }
    // 600 x 600 raw with 60 % of its rows.
    std::vector<uint8_t> most = head(600, 600, 0);
    most.resize(most.size() + 600 * 360, 5);
    const std::vector<TinyCase> cases = {
        {"42 bytes packed for 2 GB", packed, KXERR_EOF},
        {"42 bytes raw for 2 GB", raw, KXERR_EOF},
        {"runs that fill 4 MB", runs, KXERR_NONE},
        {"raw rows for 60 percent", most, KXERR_NONE},
    };
    ExpectTinyLoads<kxoPCP>(cases, "tiny.pcp");
    Loaded l;
    LoadBytes<kxoPCP>(runs, l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.Buffer->Data[0], 7);
    EXPECT_EQ(l.Buffer->Data[2000 * 2000 - 1], 7);
}

TEST(Pcp, ReadersSurviveDamagedFiles) {
    const std::string p = TempPath("robust.pcp");
    struct {
        uint32_t Depth;
        PaletteKind Pal;
        bool Packed;
    } cases[] = {{8, VGA, true}, {4, EGA, false}, {1, NONE, true}, {2, VGA, true}};
    for (auto& c : cases) {
        WriteAll(p, pictor(pattern(13, 5, c.Depth), c.Pal, c.Packed));
        KXT_CheckReaderRobustness("kxoPCP", p);
    }
    unlink(p.c_str());
}

}  // namespace
