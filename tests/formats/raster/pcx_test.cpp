// kxoPCX: files of netpbm, ImageMagick and GraphicsMagick load pixel for
// pixel; hand-built headers for the refusals, the grey ramp, padded lines
// and runs across lines; the writer through our reader, pcxtoppm and
// ImageMagick, its exact bytes, its refusals, the safe save and damaged input.
#include <gtest/gtest.h>

#include "formats/raster/kxoPCX.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"
#include "tiny_load.h"
#include "write_failure.h"

using namespace kxt;

namespace {

std::vector<uint8_t> header(uint32_t version, uint32_t encoding, uint32_t bits, uint32_t planes, uint32_t w, uint32_t h,
                            uint32_t lineBytes) {
    std::vector<uint8_t> v(128, 0);
    v[0] = 10;
    v[1] = (uint8_t)version;
    v[2] = (uint8_t)encoding;
    v[3] = (uint8_t)bits;
    v[8] = (uint8_t)(w - 1), v[9] = (uint8_t)((w - 1) >> 8);
    v[10] = (uint8_t)(h - 1), v[11] = (uint8_t)((h - 1) >> 8);
    for (int i = 0; i < 48; ++i) v[16 + i] = (uint8_t)(i * 5);
    v[65] = (uint8_t)planes;
    v[66] = (uint8_t)lineBytes, v[67] = (uint8_t)(lineBytes >> 8);
    return v;
}

struct FixtureCase {
    const char* Name;
    uint32_t Depth;
    uint32_t Type;
};

TEST(Pcx, FilesOfOtherProgramsLoadLikePcxtoppm) {
    const FixtureCase cases[] = {
        {"netpbm_1plane", 1, BITPLANE}, {"netpbm_2planes", 2, BITPLANE}, {"netpbm_3planes", 3, BITPLANE},
        {"netpbm_4planes", 4, BITPLANE}, {"netpbm_8bit", 8, ONEPLANE},    {"netpbm_24bit", 24, ONEPLANE},
        {"im_8bit", 8, ONEPLANE},        {"im_24bit", 24, ONEPLANE},      {"im_bilevel", 24, ONEPLANE},
        {"gm_8bit", 8, ONEPLANE},        {"gm_24bit", 24, ONEPLANE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadFile<kxoPCX>(Fixture(std::string("pcx/") + c.Name + ".pcx"), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Buffer->ColorDepth, c.Depth);
        EXPECT_EQ(l.Buffer->Type, c.Type);
        EXPECT_EQ(l.SubFormat, 0u);
        Rgb want;
        ASSERT_TRUE(ReadNetpbm(Fixture(std::string("pcx/") + c.Name + ".ppm"), want));
        EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "");
    }
}

TEST(Pcx, HeaderRefusals) {
    std::vector<uint8_t> cut = header(5, 1, 8, 1, 4, 4, 4);
    cut.resize(100);
    std::vector<uint8_t> notPcx = header(5, 1, 8, 1, 4, 4, 4);
    notPcx[0] = 11;
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        uint32_t Err;
    } cases[] = {
        {"version 1", header(1, 1, 8, 1, 4, 4, 4), KXERR_FILEREQUIREMENTS},
        {"version 4", header(4, 1, 8, 1, 4, 4, 4), KXERR_FILEREQUIREMENTS},
        {"version 6", header(6, 1, 8, 1, 4, 4, 4), KXERR_FILEREQUIREMENTS},
        {"encoding 2", header(5, 2, 8, 1, 4, 4, 4), KXERR_FILEREQUIREMENTS},
        {"4 bits in one plane", header(5, 1, 4, 1, 4, 4, 2), KXERR_FILEREQUIREMENTS},
        {"five bit planes", header(5, 1, 1, 5, 8, 4, 1), KXERR_FILEREQUIREMENTS},
        {"two 8-bit planes", header(5, 1, 8, 2, 4, 4, 4), KXERR_FILEREQUIREMENTS},
        // Lines shorter than the row: (w + 7) / 8 for planes, w for bytes.
        {"plane line too short", header(5, 1, 1, 4, 17, 4, 2), KXERR_FILEREQUIREMENTS},
        {"8-bit line too short", header(5, 1, 8, 1, 40, 4, 39), KXERR_FILEREQUIREMENTS},
        {"24-bit line too short", header(5, 0, 8, 3, 40, 4, 20), KXERR_FILEREQUIREMENTS},
        {"header cut", cut, KXERR_EOF},
        {"not a PCX", notPcx, KXERR_FILEREQUIREMENTS},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoPCX>(c.File, l);
        EXPECT_EQ(l.Err, c.Err);
        EXPECT_EQ(l.Buffer, nullptr);
    }
    // Versions 1 and 4 are still recognised as PCX; the manufacturer byte is not.
    EXPECT_EQ(Recognises<kxoPCX>(header(1, 1, 8, 1, 4, 4, 4)), 1u);
    EXPECT_EQ(Recognises<kxoPCX>(header(4, 1, 8, 1, 4, 4, 4)), 1u);
    EXPECT_EQ(Recognises<kxoPCX>(notPcx), 0u);
    EXPECT_EQ(Recognises<kxoPCX>({10}), 1u);  // missing bytes count as 0
}

TEST(Pcx, PalettesOfTheVersions) {
    // Version 3 carries no colours: the fixed-step grey ramp, white last.
    std::vector<uint8_t> v3 = header(3, 0, 1, 4, 8, 1, 1);
    PutBytes(v3, {0x80, 0x80, 0x80, 0x80});
    Loaded l;
    LoadBytes<kxoPCX>(v3, l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(l.Buffer->Palette[3 * i], i * 16) << i;
    EXPECT_EQ(l.Buffer->Palette[45], 255);
    // Pixel 0 has all four planes set: index 15.
    EXPECT_EQ(ToRgb(l.Buffer).Pix[0], 255);

    // Version 5, 4 planes: the header's colour table.
    std::vector<uint8_t> v5 = header(5, 0, 1, 4, 8, 1, 1);
    PutBytes(v5, {0, 0, 0, 0});
    Loaded m;
    LoadBytes<kxoPCX>(v5, m);
    ASSERT_EQ(m.Err, KXERR_NONE);
    EXPECT_EQ(std::vector<uint8_t>(m.Buffer->Palette, m.Buffer->Palette + 48), std::vector<uint8_t>(v5.begin() + 16, v5.begin() + 64));

    // 8 bits: the last 768 bytes; a file too short for them gets the ramp.
    std::vector<uint8_t> v8 = header(5, 0, 8, 1, 2, 1, 2);
    PutBytes(v8, {1, 2, 12});
    for (int i = 0; i < 768; ++i) v8.push_back((uint8_t)(255 - i % 256));
    Loaded n;
    LoadBytes<kxoPCX>(v8, n);
    ASSERT_EQ(n.Err, KXERR_NONE);
    EXPECT_EQ(n.Buffer->Palette[3], 252);
    EXPECT_EQ(n.Buffer->Data[1], 2);
    std::vector<uint8_t> bare = header(5, 0, 8, 1, 2, 1, 2);
    PutBytes(bare, {1, 2});
    Loaded o;
    LoadBytes<kxoPCX>(bare, o);
    ASSERT_EQ(o.Err, KXERR_NONE);
    EXPECT_EQ(o.Buffer->Palette[3 * 7], 7);
}

TEST(Pcx, LinePaddingRunsAcrossLinesAndShortData) {
    // Width 3, lines of 4: the padding byte of each line is dropped. The
    // second row's run of 5 passes the line end and goes on in the third.
    std::vector<uint8_t> f = header(5, 1, 8, 1, 3, 3, 4);
    PutBytes(f, {1, 2, 3, 99, 0xC5, 7, 4, 5, 6});
    Loaded l;
    LoadBytes<kxoPCX>(f, l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 9), (std::vector<uint8_t>{1, 2, 3, 7, 7, 7, 7, 4, 5}));

    // Data that end early leave zeros; a raw 24-bit row is three plane lines.
    std::vector<uint8_t> g = header(5, 0, 8, 3, 2, 2, 2);
    PutBytes(g, {10, 11, 20, 21, 30, 31, 40});
    Loaded m;
    LoadBytes<kxoPCX>(g, m);
    ASSERT_EQ(m.Err, KXERR_NONE);
    EXPECT_EQ(std::vector<uint8_t>(m.Buffer->Data, m.Buffer->Data + 12),
              (std::vector<uint8_t>{10, 20, 30, 11, 21, 31, 40, 0, 0, 0, 0, 0}));
}

// A few bytes that declare a huge picture are refused as short before the
// picture is made (a run gives at most 63 bytes for 2); runs that really
// describe a large picture still load.
TEST(Pcx, TinyFilesNeverCostTheirDeclaredPicture) {
    std::vector<uint8_t> rle = header(5, 1, 8, 1, 65535, 7540, 65535);  // 494 MB
    for (int i = 0; i < 27; ++i) PutBytes(rle, {0xFF, 1});
    ASSERT_EQ(rle.size(), 182u);
    std::vector<uint8_t> raw = header(5, 0, 8, 3, 65535, 1000, 65535);
    raw.resize(182, 3);
    std::vector<uint8_t> planes = header(2, 1, 1, 4, 65535, 60000, 8192);
    for (int i = 0; i < 27; ++i) PutBytes(planes, {0xFF, 0x55});
    // 1000 x 1000 of runs of 63 (and a last one of the rest), the palette after them.
    std::vector<uint8_t> runs = header(5, 1, 8, 1, 1000, 1000, 1000);
    for (uint32_t y = 0; y < 1000; ++y) {
        for (uint32_t x = 0; x + 63 <= 1000; x += 63) PutBytes(runs, {0xFF, (uint8_t)(y & 0x3F)});
        PutBytes(runs, {0xC0 | 1000 % 63, (uint8_t)(y & 0x3F)});
    }
    runs.push_back(12);
    runs.resize(runs.size() + 768, 0);
    const std::vector<TinyCase> cases = {
        {"182 bytes of runs for 494 MB", rle, KXERR_EOF},
        {"182 bytes raw for 196 MB", raw, KXERR_EOF},
        {"bit planes for 1.9 GB", planes, KXERR_EOF},
        {"runs that fill 1 MB", runs, KXERR_NONE},
    };
    ExpectTinyLoads<kxoPCX>(cases, "tiny.pcx");
    Loaded l;
    LoadBytes<kxoPCX>(runs, l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.Buffer->Data[999 * 1000 + 999], 999 & 0x3F);
}

TEST(Pcx, ReadersSurviveDamagedFiles) {
    for (const char* f : {"netpbm_1plane", "netpbm_4planes", "netpbm_8bit", "netpbm_24bit", "im_24bit"})
        KXT_CheckReaderRobustness("kxoPCX", Fixture(std::string("pcx/") + f + ".pcx"));
}

// ---- writer ------------------------------------------------------------------------

TEST(Pcx, WriterRoundTripsThroughOurReaderPcxtoppmAndImageMagick) {
    const bool netpbm = KXT_HaveTool("pcxtoppm"), im = KXT_HaveTool("convert-im6.q16");
    const std::string p = TempPath("rt.pcx"), q = TempPath("rt.ppm");
    for (uint32_t depth : {1u, 2u, 4u, 6u, 8u, 24u}) {
        for (uint32_t w : {1u, 2u, 3u, 5u, 7u, 8u, 9u, 13u, 16u, 17u, 31u, 64u}) {
            SCOPED_TRACE("depth " + std::to_string(depth) + " width " + std::to_string(w));
            KX_GfxBuffer* img = MakeImage(w, 5, depth);
            if (w == 64) memset(img->Data, 1, img->BufferSize);  // packs
            const Rgb want = ToRgb(img);
            ASSERT_EQ(SaveTo<kxoPCX>(img, p).Err, KXERR_NONE);
            Loaded l;
            LoadFile<kxoPCX>(p, l);
            ASSERT_EQ(l.Err, KXERR_NONE);
            EXPECT_EQ(l.Buffer->ColorDepth, depth <= 4 ? 4u : depth <= 8 ? 8u : 24u);
            EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "") << "our reader";
            // pcxtoppm reads run-length files only.
            if (netpbm && KXT_ReadBytes(p)[2] == 1) {
                EXPECT_EQ(ReadBack(Shell("pcxtoppm " + p + " > " + q), q, want), "") << "pcxtoppm";
            }
            if (im) {
                EXPECT_EQ(ReadBack(Shell("convert-im6.q16 " + p + " -depth 8 ppm:" + q), q, want), "") << "ImageMagick";
            }
            KXSUP_FreeGfxBuffer(img);
        }
    }
    unlink(p.c_str());
    unlink(q.c_str());
    if (!netpbm || !im) GTEST_SKIP() << "pcxtoppm or ImageMagick is missing: a cross-check did not run";
}

TEST(Pcx, WriterBytes) {
    const std::string p = TempPath("bytes.pcx");
    {
        // A 1-bit picture: four planes, planes 1 to 3 zero, two colours in the header.
        KX_GfxBuffer* img = MakeImage(16, 2, 1);
        Saved s = SaveTo<kxoPCX>(img, p);
        ASSERT_EQ(s.Err, KXERR_NONE);
        ASSERT_GE(s.File.size(), 128u);
        EXPECT_EQ(s.File[1], 2);
        EXPECT_EQ(s.File[3], 1);
        EXPECT_EQ(s.File[65], 4);
        EXPECT_EQ(s.File[66], 2);
        EXPECT_EQ(std::vector<uint8_t>(s.File.begin() + 16, s.File.begin() + 22), std::vector<uint8_t>(img->Palette, img->Palette + 6));
        EXPECT_EQ(std::vector<uint8_t>(s.File.begin() + 22, s.File.begin() + 64), std::vector<uint8_t>(42, 0));
        Loaded l;
        LoadFile<kxoPCX>(p, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Buffer->Type, (uint32_t)BITPLANE);
        const uint32_t bpl = l.Buffer->BytesPerLine;
        for (uint32_t i = bpl * 2; i < bpl * 2 * 4; ++i) EXPECT_EQ(l.Buffer->Data[i], 0) << i;
        KXSUP_FreeGfxBuffer(img);
    }
    {
        // Line x x x y and a literal 0xC5, on a 40-row picture that packs.
        // Fifteen equal bytes follow: a run of 14 and the last one alone.
        KX_GfxBuffer* img = MakeImage(20, 40, 8);
        for (uint32_t y = 0; y < 40; ++y) {
            memcpy(img->Data + 20 * y, "\x10\x10\x10\x20\xC5", 5);
            memset(img->Data + 20 * y + 5, 0x33, 15);
        }
        Saved s = SaveTo<kxoPCX>(img, p);
        ASSERT_EQ(s.Err, KXERR_NONE);
        EXPECT_EQ(s.File[1], 5);
        EXPECT_EQ(s.File[2], 1);
        EXPECT_EQ(std::vector<uint8_t>(s.File.begin() + 128, s.File.begin() + 137),
                  (std::vector<uint8_t>{0xC2, 0x10, 0x10, 0x20, 0xC1, 0xC5, 0xCE, 0x33, 0x33}));
        ASSERT_EQ(s.File.size(), 128 + 40 * 9 + 769u);
        EXPECT_EQ(s.File[128 + 360], 12);
        KXSUP_FreeGfxBuffer(img);
    }
    {
        // Noise does not pack: written raw with encoding 0 and read back as such.
        KX_GfxBuffer* img = MakeImage(9, 4, 8);
        for (uint32_t i = 0; i < img->BufferSize; ++i) img->Data[i] = (uint8_t)(0xC0 + (i * 7) % 60);
        Saved s = SaveTo<kxoPCX>(img, p);
        ASSERT_EQ(s.Err, KXERR_NONE);
        EXPECT_EQ(s.File[2], 0);
        EXPECT_EQ(s.File.size(), 128 + 36 + 769u);
        Loaded l;
        LoadFile<kxoPCX>(p, l);
        EXPECT_EQ(Compare(ToRgb(l.Buffer), ToRgb(img)), "");
        KXSUP_FreeGfxBuffer(img);
    }
    {
        // 24 bits: always raw, three planes.
        KX_GfxBuffer* img = MakeImage(4, 4, 24);
        memset(img->Data, 0, img->BufferSize);
        Saved s = SaveTo<kxoPCX>(img, p);
        ASSERT_EQ(s.Err, KXERR_NONE);
        EXPECT_EQ(s.File[2], 0);
        EXPECT_EQ(s.File[65], 3);
        EXPECT_EQ(s.File.size(), 128 + 48u);
        KXSUP_FreeGfxBuffer(img);
    }
    unlink(p.c_str());
}

TEST(Pcx, SaveRefusesBeforeTouchingTheFile) {
    const std::string p = TempPath("refuse.pcx");
    struct {
        const char* Name;
        uint32_t W, H, Depth;
        uint32_t ViewMode;
        uint32_t Err;
    } cases[] = {
        {"48 bits", 2, 2, 48, 0, KXERR_NOTSUPPORTED},
        {"16 bits", 2, 2, 24, 0, KXERR_NOTSUPPORTED},  // depth field set to 16 below
        {"wider than the 16-bit field", 65536, 1, 8, 0, KXERR_FILEREQUIREMENTS},
        {"taller than the 16-bit field", 1, 65536, 24, 0, KXERR_FILEREQUIREMENTS},
        {"HAM", 2, 2, 6, 0x800, KXERR_NOHAM},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        KX_GfxBuffer* img = MakeImage(c.W, c.H, c.Depth);
        if (std::string(c.Name) == "16 bits") img->ColorDepth = 16;
        img->ViewMode = c.ViewMode;
        EXPECT_EQ(SaveOverOld<kxoPCX>(img, p), c.Err);
        KXSUP_FreeGfxBuffer(img);
    }
    unlink(p.c_str());
}

TEST(Pcx, FailedWriteGivesIoAndKeepsTheOldFile) {
    for (uint32_t depth : {4u, 8u, 24u}) {
        KX_GfxBuffer* img = MakeImage(300, 300, depth);
        kxoPCX pcx;
        EXPECT_EQ(SaveUnderFileSizeLimit(&pcx, img, "full.pcx"), KXERR_IO) << depth;
        KXSUP_FreeGfxBuffer(img);
    }
}

}  // namespace
