// kxoBMP: loads files made by netpbm and ImageMagick pixel for pixel,
// hand-built variants (RIFF, top-down, RLE, broken offsets, refused kinds),
// writer round trips through our reader and through the external programs,
// safe save and the damaged-input check.
#include <gtest/gtest.h>

#include <functional>

#include "formats/raster/kxoBMP.h"
#include "raster_pixels.h"
#include "support/robustness.h"
#include "write_failure.h"

using namespace kxt;

namespace {

void put16(std::vector<uint8_t>& d, size_t at, uint16_t v) {
    d[at] = (uint8_t)v;
    d[at + 1] = (uint8_t)(v >> 8);
}
void put32(std::vector<uint8_t>& d, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) d[at + i] = (uint8_t)(v >> (8 * i));
}
uint32_t get32(const std::vector<uint8_t>& d, size_t at) {
    return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | (uint32_t)d[at + 3] << 24;
}

// A plain 40-byte-header BMP with a palette of `entries` colours and the
// given pixel bytes (already packed and padded).
std::vector<uint8_t> makeBmp(uint32_t w, int32_t h, uint16_t bits, uint32_t compression, uint32_t entries,
                             const std::vector<uint8_t>& pixels, uint32_t imageSize) {
    std::vector<uint8_t> d(54 + entries * 4);
    d[0] = 'B';
    d[1] = 'M';
    put32(d, 10, 54 + entries * 4);
    put32(d, 14, 40);
    put32(d, 18, w);
    put32(d, 22, (uint32_t)h);
    put16(d, 26, 1);
    put16(d, 28, bits);
    put32(d, 30, compression);
    put32(d, 34, imageSize);
    for (uint32_t i = 0; i < entries; ++i) {
        d[54 + 4 * i] = (uint8_t)(i * 10);       // blue
        d[54 + 4 * i + 1] = (uint8_t)(i * 20);   // green
        d[54 + 4 * i + 2] = (uint8_t)(i * 30);   // red
    }
    d.insert(d.end(), pixels.begin(), pixels.end());
    put32(d, 2, (uint32_t)d.size());
    return d;
}

struct Loaded {
    uint32_t Err = 0;
    KX_GfxBuffer* Buffer = nullptr;  // owned by the test after the load
    std::string Compression;
    uint32_t SubFormat = 0;
    ~Loaded() { KXSUP_FreeGfxBuffer(Buffer); }
};

void loadFile(const std::string& path, Loaded& out) {
    kxoBMP bmp;
    bmp.SetReadName(path.c_str());
    out.Err = bmp.Load();
    bmp.DetachGfxBuffer(&out.Buffer);
    if (bmp.Compression) out.Compression = bmp.Compression;
    out.SubFormat = bmp.SubFormatId;
}

void loadBytes(const std::vector<uint8_t>& d, Loaded& out) {
    std::string p = TempPath("bytes.bmp");
    WriteAll(p, d);
    loadFile(p, out);
    unlink(p.c_str());
}

// ---- files of other programs ----------------------------------------------

struct FixtureCase {
    const char* File;
    const char* Expected;  // netpbm file with the pixels
    uint32_t Depth;
    const char* Compression;
    int Tolerance;
};

std::string fixtureName(const ::testing::TestParamInfo<FixtureCase>& info) {
    std::string n = info.param.File;
    for (char& ch : n)
        if (!isalnum((unsigned char)ch)) ch = '_';
    return n;
}

class BmpFixture : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(BmpFixture, LoadsLikeTheOtherPrograms) {
    const FixtureCase& c = GetParam();
    Loaded l;
    loadFile(Fixture(std::string("bmp/") + c.File), l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    ASSERT_NE(l.Buffer, nullptr);
    EXPECT_EQ(l.Buffer->ColorDepth, c.Depth);
    EXPECT_EQ(l.Buffer->Type, (uint32_t)ONEPLANE);
    EXPECT_EQ(l.Compression, c.Compression);
    Rgb want;
    ASSERT_TRUE(ReadNetpbm(Fixture(std::string("bmp/") + c.Expected), want));
    EXPECT_EQ(Compare(ToRgb(l.Buffer), want, c.Tolerance), "");
}

// 16-bit files: the programs scale 5-bit values, we repeat the top bits;
// the two differ by at most 4.
INSTANTIATE_TEST_SUITE_P(Files, BmpFixture,
                         ::testing::Values(FixtureCase{"rgb24.bmp", "rgb24.ppm", 24, "BMP:None", 0},
                                           FixtureCase{"os2_rgb24.bmp", "os2_rgb24.ppm", 24, "BMP:None", 0},
                                           FixtureCase{"pal8.bmp", "pal8.ppm", 8, "BMP:None", 0},
                                           FixtureCase{"os2_pal8.bmp", "os2_pal8.ppm", 8, "BMP:None", 0},
                                           FixtureCase{"pal4.bmp", "pal4.ppm", 4, "BMP:None", 0},
                                           FixtureCase{"os2_pal4.bmp", "os2_pal4.ppm", 4, "BMP:None", 0},
                                           FixtureCase{"pal1.bmp", "pal1.ppm", 1, "BMP:None", 0},
                                           FixtureCase{"rle8.bmp", "rle8.ppm", 8, "BMP:RLE8", 0},
                                           FixtureCase{"rgb555.bmp", "rgb555.ppm", 24, "BMP:Bitfield", 4},
                                           FixtureCase{"rgb565.bmp", "rgb565.ppm", 24, "BMP:Bitfield", 4},
                                           FixtureCase{"rgba32.bmp", "rgba32.pam", 24, "BMP:Bitfield", 0}),
                         fixtureName);

TEST(Bmp, ReadersSurviveDamagedFiles) {
    for (const char* f : {"rgb24.bmp", "pal4.bmp", "pal1.bmp", "rle8.bmp", "rgba32.bmp", "os2_pal8.bmp", "rgb565.bmp"})
        KXT_CheckReaderRobustness("kxoBMP", Fixture(std::string("bmp/") + f));
}

// ---- hand-built variants -----------------------------------------------------

TEST(Bmp, RecognisesPlainAndWrappedFilesOnly) {
    struct {
        std::vector<uint8_t> Head;
        uint32_t Known;
    } cases[] = {
        {{'B', 'M', 0, 0}, 1},
        {{'b', 'm', 0, 0}, 1},
        {{'B', 'A', 0, 0}, 0},
        {{'B'}, 0},
        {{}, 0},
    };
    std::vector<uint8_t> riff = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'R', 'D', 'I', 'B', 'd', 'a', 't', 'a', 0, 0, 0, 0, 'B', 'M'};
    kxoBMP bmp;
    std::string p = TempPath("check.bmp");
    for (auto& c : cases) {
        WriteAll(p, c.Head);
        FILE* f = fopen(p.c_str(), "rb");
        fseek(f, 1, SEEK_SET);  // the previous reader may leave it anywhere
        EXPECT_EQ(bmp.CheckFile(f, p.c_str(), KXIO_FILE), c.Known);
        EXPECT_EQ(ftell(f), 0);
        EXPECT_EQ(bmp.CheckFile(f, p.c_str(), KXIO_CLIPBOARD), 0u);
        fclose(f);
    }
    WriteAll(p, riff);
    FILE* f = fopen(p.c_str(), "rb");
    EXPECT_EQ(bmp.CheckFile(f, p.c_str(), KXIO_FILE), 1u);
    EXPECT_EQ(bmp.CheckFile(nullptr, p.c_str(), KXIO_FILE), 0u);
    fclose(f);
    unlink(p.c_str());
}

TEST(Bmp, WrappedTopDownAndBrokenOffsetFilesGiveTheSamePicture) {
    std::vector<uint8_t> plain = KXT_ReadBytes(Fixture("bmp/rgb24.bmp"));
    Loaded ref;
    loadBytes(plain, ref);
    ASSERT_EQ(ref.Err, KXERR_NONE);
    Rgb want = ToRgb(ref.Buffer);

    // RIFF "RDIB" wrapper: the bitmap from byte 20, its offsets from there.
    std::vector<uint8_t> riff = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'R', 'D', 'I', 'B', 'd', 'a', 't', 'a', 0, 0, 0, 0};
    riff.insert(riff.end(), plain.begin(), plain.end());

    // Top-down: negative height, rows in reading order.
    const uint32_t w = get32(plain, 18), h = get32(plain, 22), off = get32(plain, 10);
    const uint32_t row = (w * 3 + 3) & ~3u;
    std::vector<uint8_t> top = plain;
    put32(top, 22, (uint32_t)-(int32_t)h);
    for (uint32_t y = 0; y < h; ++y) memcpy(&top[off + y * row], &plain[off + (h - 1 - y) * row], row);

    for (auto* d : {&riff, &top}) {
        Loaded l;
        loadBytes(*d, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "");
    }

    // A 4-bit file whose bitmap offset points into its colour map: the
    // pixels are read from the end of the map.
    std::vector<uint8_t> px(4 * 2, 0x12);
    std::vector<uint8_t> broken = makeBmp(2, 2, 4, 0, 16, px, 0);
    put32(broken, 10, 54 + 64 - 40);
    Loaded l;
    loadBytes(broken, l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.Buffer->Data[0], 1);
    EXPECT_EQ(l.Buffer->Data[1], 2);
}

TEST(Bmp, RunLengthDecodingWrapsRowsAndStaysInsideTheImage) {
    struct {
        const char* Name;
        uint16_t Bits;
        uint32_t Compression;
        uint32_t W, H;
        std::vector<uint8_t> Data;
        std::vector<uint8_t> Want;  // top row first
    } cases[] = {
        // 3 pixels of 4, 5 of 6: what passes the row end is dropped.
        {"rle8 run past the row end", 8, 1, 4, 2, {3, 4, 5, 6, 0, 0, 0, 1}, {0, 0, 0, 0, 4, 4, 4, 6}},
        // Row padding written as a run (as ImageMagick does) stays in its row.
        {"rle8 padding run", 8, 1, 2, 2, {2, 1, 2, 0, 0, 0, 2, 3, 0, 1}, {3, 3, 1, 1}},
        {"rle8 literal odd", 8, 1, 3, 1, {0, 3, 7, 8, 9, 0, 0, 1}, {7, 8, 9}},
        {"rle8 delta", 8, 1, 3, 2, {0, 2, 1, 1, 1, 5, 0, 1}, {0, 5, 0, 0, 0, 0}},
        {"rle4 run and literal", 4, 2, 5, 1, {2, 0x12, 0, 3, 0x34, 0x50, 0, 1}, {1, 2, 3, 4, 5}},
        // Codes past the last row and a literal cut by the file end.
        {"rle8 overflow", 8, 1, 2, 1, {255, 9, 255, 9, 0, 200, 1}, {9, 9}},
        {"rle8 huge delta", 8, 1, 2, 2, {0, 2, 255, 255, 4, 4}, {0, 0, 0, 0}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        loadBytes(makeBmp(c.W, (int32_t)c.H, c.Bits, c.Compression, 1u << c.Bits, c.Data, (uint32_t)c.Data.size()), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        ASSERT_EQ(l.Buffer->BufferSize, c.W * c.H);
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + c.W * c.H), c.Want);
    }
}

TEST(Bmp, RefusedHeadersGiveTheirCodes) {
    std::vector<uint8_t> px(8, 0);
    struct {
        const char* Name;
        std::function<std::vector<uint8_t>()> Make;
        uint32_t Err;
    } cases[] = {
        {"compression 4", [&] { return makeBmp(2, 2, 24, 4, 0, px, 0); }, KXERR_FILEREQUIREMENTS},
        {"2-bit", [&] { return makeBmp(2, 2, 2, 0, 4, px, 0); }, KXERR_DECODE},
        {"planes 2", [&] { auto d = makeBmp(2, 2, 8, 0, 256, px, 0); put16(d, 26, 2); return d; }, KXERR_FILEREQUIREMENTS},
        {"RLE4 with 8 bits", [&] { return makeBmp(2, 2, 8, 2, 256, px, 0); }, KXERR_FILEREQUIREMENTS},
        {"bit fields with odd masks", [&] { auto d = makeBmp(1, 1, 16, 3, 3, px, 0); put32(d, 54, 0xF); return d; }, KXERR_FILEREQUIREMENTS},
        {"zero width", [&] { return makeBmp(0, 2, 24, 0, 0, px, 0); }, KXERR_FILEREQUIREMENTS},
        {"huge", [&] { return makeBmp(0x7FFFFFFF, 0x7FFFFFFF, 24, 0, 0, px, 0); }, KXERR_FILEREQUIREMENTS},
        {"short colour map", [&] { auto d = makeBmp(2, 2, 8, 0, 0, {}, 0); d.resize(60); return d; }, KXERR_EOF},
        {"short data with a size", [&] { return makeBmp(4, 4, 24, 0, 0, px, 48); }, KXERR_EOF},
        {"not a bitmap", [&] { std::vector<uint8_t> d(64, 'x'); return d; }, KXERR_UNKNOWNFORMAT},
        {"cut header", [&] { auto d = makeBmp(2, 2, 24, 0, 0, px, 0); d.resize(30); return d; }, KXERR_EOF},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        loadBytes(c.Make(), l);
        EXPECT_EQ(l.Err, c.Err);
        EXPECT_EQ(l.Buffer, nullptr);
    }
}

TEST(Bmp, SixteenBitVariantsReadAlike) {
    // 0x7FFF white, 0x001F blue; uncompressed 5-5-5 and bit-field 5-5-5 agree.
    std::vector<uint8_t> px = {0xFF, 0x7F, 0x1F, 0x00};
    Loaded a, b, c;
    loadBytes(makeBmp(2, 1, 16, 0, 0, px, 0), a);
    auto bf = makeBmp(2, 1, 16, 3, 3, px, 0);
    put32(bf, 54, 0x7C00), put32(bf, 58, 0x3E0), put32(bf, 62, 0x1F);
    loadBytes(bf, b);
    put32(bf, 54, 0xF800), put32(bf, 58, 0x7E0);
    loadBytes(bf, c);
    ASSERT_EQ(a.Err, KXERR_NONE);
    ASSERT_EQ(b.Err, KXERR_NONE);
    ASSERT_EQ(c.Err, KXERR_NONE);
    EXPECT_EQ(std::vector<uint8_t>(a.Buffer->Data, a.Buffer->Data + 6), (std::vector<uint8_t>{255, 255, 255, 0, 0, 255}));
    EXPECT_EQ(Compare(ToRgb(a.Buffer), ToRgb(b.Buffer)), "");
    // 5-6-5: 0x7FFF is red 15, green 63, blue 31.
    EXPECT_EQ(std::vector<uint8_t>(c.Buffer->Data, c.Buffer->Data + 3), (std::vector<uint8_t>{123, 255, 255}));
}

// ---- writer ---------------------------------------------------------------------

struct SaveResult {
    uint32_t Err;
    std::vector<uint8_t> File;
};

SaveResult saveImage(KX_GfxBuffer* img, uint32_t sub, const std::string& path, KXOSpecialInfo* meta = nullptr) {
    kxoBMP bmp;
    if (meta) {
        bmp.SetSaveMeta(1);
        bmp.SetSpecialInfo(meta);
    }
    bmp.SetSaveName(path.c_str());
    bmp.SetSubFormat(sub);
    bmp.SetGfxBuffer(img);
    SaveResult r{bmp.Save(), {}};
    bmp.Reset();
    r.File = KXT_ReadBytes(path);
    return r;
}

TEST(Bmp, WriterRoundTripsEveryKindAndWidth) {
    struct Kind {
        uint32_t Depth;
        bool Alpha;
        uint16_t Bits;
        uint32_t Info;  // header size with sub-format 0
    } kinds[] = {{1, false, 1, 40}, {3, false, 4, 40}, {4, false, 4, 40}, {8, false, 8, 40}, {24, false, 24, 40}, {24, true, 32, 108}};
    std::string p = TempPath("rt.bmp");
    for (const Kind& k : kinds) {
        for (uint32_t sub : {0u, 1u}) {
            for (uint32_t w : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 15u, 16u, 17u, 31u}) {
                SCOPED_TRACE("depth " + std::to_string(k.Depth) + (k.Alpha ? " alpha" : "") + " sub " + std::to_string(sub) +
                             " width " + std::to_string(w));
                KX_GfxBuffer* img = MakeImage(w, 5, k.Depth, k.Alpha);
                SaveResult s = saveImage(img, sub, p);
                ASSERT_EQ(s.Err, KXERR_NONE);
                ASSERT_GE(s.File.size(), 54u);
                EXPECT_EQ(get32(s.File, 14), sub == 1 ? 124u : k.Info);
                EXPECT_EQ(s.File[28], k.Bits);
                EXPECT_EQ(get32(s.File, 30), k.Bits == 32 ? 3u : 0u);
                EXPECT_EQ(get32(s.File, 2), s.File.size());
                if (k.Depth <= 8) {
                    EXPECT_EQ(get32(s.File, 46), 1u << k.Bits);
                    EXPECT_EQ(get32(s.File, 50), 1u << k.Depth);
                }
                Loaded l;
                loadFile(p, l);
                ASSERT_EQ(l.Err, KXERR_NONE);
                EXPECT_EQ(l.SubFormat, sub);
                // Our own 32-bit alpha comes back as an 8-bit alpha map.
                EXPECT_EQ(Compare(ToRgb(l.Buffer), ToRgb(img)), "");
                KXSUP_FreeGfxBuffer(img);
            }
        }
    }
    unlink(p.c_str());
}

TEST(Bmp, TwentyFourBitRowsArePaddedToFourBytes) {
    KX_GfxBuffer* img = MakeImage(2, 3, 24);
    std::string p = TempPath("pad.bmp");
    SaveResult s = saveImage(img, 0, p);
    ASSERT_EQ(s.Err, KXERR_NONE);
    EXPECT_EQ(get32(s.File, 34), 8u * 3);
    EXPECT_EQ(s.File.size(), 54u + 24);
    KXSUP_FreeGfxBuffer(img);
    unlink(p.c_str());
}

TEST(Bmp, V5HeaderCarriesTheIccProfile) {
    KX_GfxBuffer* img = MakeImage(3, 2, 24);
    std::vector<uint8_t> icc(560);
    for (size_t i = 0; i < icc.size(); ++i) icc[i] = (uint8_t)(i * 7);
    KXOSpecialInfo meta = {};
    meta.IccData = icc.data();
    meta.IccSize = (uint32_t)icc.size();
    std::string p = TempPath("icc.bmp");
    SaveResult s = saveImage(img, 1, p, &meta);
    ASSERT_EQ(s.Err, KXERR_NONE);
    EXPECT_EQ(get32(s.File, 10), 698u);
    EXPECT_EQ(get32(s.File, 126), 14u);
    EXPECT_EQ(get32(s.File, 130), 560u);
    EXPECT_EQ(0, memcmp(&s.File[138], icc.data(), icc.size()));
    kxoBMP bmp;
    bmp.SetReadName(p.c_str());
    ASSERT_EQ(bmp.Load(), KXERR_NONE);
    ASSERT_EQ(bmp.IccSize, 560u);
    EXPECT_EQ(0, memcmp(bmp.IccData, icc.data(), icc.size()));
    // Sub-format 0 writes no profile.
    s = saveImage(img, 0, p, &meta);
    EXPECT_EQ(get32(s.File, 14), 40u);
    KXSUP_FreeGfxBuffer(img);
    unlink(p.c_str());
}

TEST(Bmp, SaveRefusesBeforeTouchingTheFile) {
    std::string p = TempPath("refuse.bmp");
    WriteAll(p, {'o', 'l', 'd'});
    KX_GfxBuffer* deep = MakeImage(2, 2, 48);
    KX_GfxBuffer* ok = MakeImage(2, 2, 24);
    struct {
        const char* Name;
        KX_GfxBuffer* Img;
        int32_t Mode;
        uint32_t Err;
    } cases[] = {
        {"48-bit", deep, KXIO_FILE, KXERR_NOTSUPPORTED},
        {"clipboard mode", ok, KXIO_CLIPBOARD, KXERR_NOTSUPPORTED},
        {"no buffer", nullptr, KXIO_FILE, KXERR_NOTSUPPORTED},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        kxoBMP bmp;
        bmp.SetSaveName(p.c_str());
        bmp.SetIOMode(c.Mode);
        if (c.Img) bmp.SetGfxBuffer(c.Img);
        EXPECT_EQ(bmp.Save(), c.Err);
        EXPECT_EQ(KXT_ReadBytes(p), (std::vector<uint8_t>{'o', 'l', 'd'}));
    }
    kxoBMP bmp;
    bmp.SetGfxBuffer(ok);
    bmp.SetSaveName("/nonexistent-dir/x.bmp");
    EXPECT_EQ(bmp.Save(), KXERR_NODESTFILE);
    KXSUP_FreeGfxBuffer(deep);
    KXSUP_FreeGfxBuffer(ok);
    unlink(p.c_str());
}

TEST(Bmp, FailedWriteGivesIoAndKeepsTheOldFile) {
    KX_GfxBuffer* img = MakeImage(300, 300, 24);
    kxoBMP bmp;
    EXPECT_EQ(SaveUnderFileSizeLimit(&bmp, img, "full.bmp"), KXERR_IO);
    KXSUP_FreeGfxBuffer(img);
}

// ---- cross-checks with the other programs ------------------------------------------

TEST(Bmp, OurFilesReadTheSameInImageMagickAndNetpbm) {
    KXT_NEED_TOOL("convert-im6.q16");
    KXT_NEED_TOOL("bmptoppm");
    struct {
        uint32_t Depth;
        bool Alpha;
        uint32_t Sub;
    } kinds[] = {{1, false, 0}, {4, false, 0}, {8, false, 0}, {24, false, 0}, {24, true, 0}, {24, false, 1}, {8, false, 1}};
    std::string p = TempPath("x.bmp"), q = TempPath("x.pam");
    for (auto& k : kinds) {
        SCOPED_TRACE("depth " + std::to_string(k.Depth) + (k.Alpha ? " alpha" : "") + " sub " + std::to_string(k.Sub));
        KX_GfxBuffer* img = MakeImage(13, 7, k.Depth, k.Alpha);
        ASSERT_EQ(saveImage(img, k.Sub, p).Err, KXERR_NONE);
        Rgb want = ToRgb(img);
        const std::string im = "convert-im6.q16 " + p + (k.Alpha ? " -depth 8 pam:" : " -alpha off -depth 8 ppm:") + q;
        EXPECT_EQ(ReadBack(Shell(im), q, want), "") << "ImageMagick";
        if (!k.Alpha) {
            EXPECT_EQ(ReadBack(Shell("bmptoppm " + p + " > " + q), q, want), "") << "netpbm";
        }
        KXSUP_FreeGfxBuffer(img);
    }
    unlink(p.c_str());
    unlink(q.c_str());
}

TEST(Bmp, TheirFilesOfARandomPictureLoadTheSame) {
    KXT_NEED_TOOL("convert-im6.q16");
    KXT_NEED_TOOL("ppmtobmp");
    std::string src = TempPath("src.ppm"), out = TempPath("their.bmp");
    ASSERT_TRUE(Shell("convert-im6.q16 -size 23x9 xc: +noise Random -depth 8 ppm:" + src));
    Rgb want;
    ASSERT_TRUE(ReadNetpbm(src, want));
    for (std::string cmd : {"ppmtobmp -windows -bpp 24 " + src + " > " + out, "ppmtobmp -os2 -bpp 24 " + src + " > " + out,
                            "convert-im6.q16 " + src + " BMP3:" + out, "convert-im6.q16 " + src + " BMP:" + out}) {
        SCOPED_TRACE(cmd);
        ASSERT_TRUE(Shell(cmd));
        Loaded l;
        loadFile(out, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "");
    }
    unlink(src.c_str());
    unlink(out.c_str());
}

}  // namespace
