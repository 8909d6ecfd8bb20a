// The raw pixel dump writer: every layout read back by the raw importer
// over widths 1 to 17 and a prime (48-bit pictures in both byte orders),
// the side-file lines, byte tables of the converted layouts (Bayer, RGB16,
// YCbCr16 with widths that are not whole groups), netpbm reading our dumps,
// progress, refusals before the file is opened and failed writes that
// leave the old file.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <functional>

#include "formats/libraries/kxoRAW.h"
#include "formats/raster/write_failure.h"
#include "raw_helpers.h"

namespace {

using namespace rawtest;
using kxt::Loaded;
using Bytes = std::vector<uint8_t>;

enum Fill { PATTERN, RGB565, FLAT };

struct Source {
    uint32_t depth;
    bool bitPlanes = false;   // palette pictures stored as bit planes
    int alpha = 0;            // 8 or 16: the alpha map's width
    bool bigEndian = false;   // 48 bits: samples marked MM
    Fill fill = PATTERN;
};

inline uint8_t to5(uint8_t v) { return (uint8_t)((v >> 3) << 3 | v >> 5); }
inline uint8_t to6(uint8_t v) { return (uint8_t)((v >> 2) << 2 | v >> 6); }

Buffer Make(const Source& s, uint32_t w, uint32_t h) {
    Buffer b = Picture(s.depth, w, h, s.alpha == 8);
    if (s.depth == 24 && s.fill != PATTERN) {
        for (uint32_t i = 0; i < w * h; ++i) {
            uint8_t* p = b->Data + 3 * i;
            if (s.fill == FLAT) {
                p[0] = 10, p[1] = 20, p[2] = 30;
            } else {
                p[0] = to5(p[0]), p[1] = to6(p[1]), p[2] = to5(p[2]);
            }
        }
    }
    if (s.depth == 48 && s.fill == RGB565) {
        // Samples whose narrowing to 8 bits is exact and representable in 5:6:5.
        for (uint32_t i = 0; i < w * h * 3; ++i) {
            const uint8_t v = (uint8_t)(i * 13 + 1);
            const uint16_t x = (uint16_t)(((i % 3) == 1 ? to6(v) : to5(v)) * 257);
            memcpy(b->Data + 2 * i, &x, 2);
        }
    }
    if (s.alpha == 16) KXT_AttachAlpha(b.get(), KXALPHA_CHANNEL16, 0, 9001);
    if (s.depth == 48) {
        EXPECT_EQ(KXSUP_ConvertGfxBufferEndianess(b.get(), s.bigEndian ? KXENDIAN_BIG : KXENDIAN_LITTLE), KXERR_NONE);
    }
    if (s.bitPlanes) {
        KX_GfxBuffer* planes = nullptr;
        EXPECT_EQ(KXSUP_OnePlaneToBitPlane8(b.get(), &planes), KXERR_NONE);
        b.reset(planes);
    }
    return b;
}

// Palette indices of a chunky or bit-plane picture.
Bytes Indices(const KX_GfxBuffer* b) {
    if (b->Type == ONEPLANE) return Bytes(b->Data, b->Data + (size_t)b->Width * b->Height);
    KX_GfxBuffer* chunky = nullptr;
    EXPECT_EQ(KXSUP_BitPlaneToOnePlane8(b, &chunky), KXERR_NONE);
    Buffer owned(chunky);
    return chunky ? Bytes(chunky->Data, chunky->Data + (size_t)b->Width * b->Height) : Bytes();
}

// The expected alpha after the importer: 8-bit maps as they are; 16-bit
// ones by their high byte from a 16-bit dump, divided by 257 into a 24-bit one.
Bytes AlphaBytes(const KX_GfxBuffer* b) {
    const uint32_t n = b->Width * b->Height;
    if (KXSUP_AlphaHolds(b) == KXALPHA_CHANNEL8) return Alpha8(b);
    if (KXSUP_AlphaHolds(b) != KXALPHA_CHANNEL16) return {};
    const bool big = KXSUP_GetGfxBufferEndianess(b) == KXENDIAN_BIG;
    Bytes a(n);
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* p = KXSUP_AlphaBytes(b) + 2 * i;
        const uint32_t v = big ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]);
        a[i] = (uint8_t)(b->ColorDepth == 24 ? v / 257 : v >> 8);
    }
    return a;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string Printf(const char* f, ...) {
    char line[256];
    va_list args;
    va_start(args, f);
    vsnprintf(line, sizeof(line), f, args);
    va_end(args);
    return line;
}

struct RoundTrip {
    const char* name;
    Source source;
    uint32_t sub;
    Keys dumpKeys;
    Keys importKeys;
    const char* line;  // with %u x %u for width and height
};

const RoundTrip kRoundTrips[] = {
    {"planes, 1 bit", {1}, 0, {}, {{"FORMAT", "LUT8"}, {"LUT8_FORMAT", "PLANAR"}},
     "8 bit (planes), colordepth 1, %u x %u (width x height)"},
    {"planes from bit planes, 5 bits", {5, true}, 0, {{"LUT8_FORMAT", "PLANAR"}}, {{"FORMAT", "LUT8"}, {"LUT8_FORMAT", "PLANAR"}},
     "8 bit (planes), colordepth 5, %u x %u (width x height)"},
    {"planes, 8 bits", {8}, 0, {{"LUT8_FORMAT", "other"}}, {{"FORMAT", "GRAY8"}, {"LUT8_FORMAT", "PLANAR"}},
     "8 bit (planes), colordepth 8, %u x %u (width x height)"},
    {"chunky, 8 bits", {8}, 0, {{"LUT8_FORMAT", "chunky"}}, {{"FORMAT", "LUT8"}},
     "8 bit (chunky), colordepth 8, %u x %u (width x height)"},
    {"chunky from bit planes, 3 bits", {3, true}, 0, {{"LUT8_FORMAT", "CHUNKY"}}, {{"FORMAT", "GRAY8"}},
     "8 bit (chunky), colordepth 3, %u x %u (width x height)"},
    {"24 bits", {24}, 0, {}, {{"FORMAT", "RGB24"}, {"ENDIAN", "LITTLE"}}, "24 bit (RGB), colordepth 24, %u x %u (width x height)"},
    {"24 bits with alpha", {24, false, 8}, 0, {}, {{"FORMAT", "RGB+A32"}, {"ENDIAN", "LITTLE"}},
     "32 bit (RGB+A), colordepth 24, %u x %u (width x height)"},
    {"24 bits with a 16-bit map", {24, false, 16}, 0, {}, {{"FORMAT", "RGB+A32"}, {"ENDIAN", "LITTLE"}},
     "32 bit (RGB+A), colordepth 24, %u x %u (width x height)"},
    {"48 bits, II", {48}, 0, {}, {{"FORMAT", "RGB48"}, {"ENDIAN", "BIG"}}, "48 bit (RGB), colordepth 48, %u x %u (width x height), MM"},
    {"48 bits, MM", {48, false, 0, true}, 0, {}, {{"FORMAT", "RGB48"}}, "48 bit (RGB), colordepth 48, %u x %u (width x height), MM"},
    {"48 bits, II, 8-bit map", {48, false, 8}, 0, {}, {{"FORMAT", "RGB+A64"}},
     "64 bit (RGB+A), colordepth 48, %u x %u (width x height), MM"},
    {"48 bits, MM, 8-bit map", {48, false, 8, true}, 0, {}, {{"FORMAT", "RGB+A64"}},
     "64 bit (RGB+A), colordepth 48, %u x %u (width x height), MM"},
    {"48 bits, II, 16-bit map", {48, false, 16}, 0, {}, {{"FORMAT", "RGB+A64"}},
     "64 bit (RGB+A), colordepth 48, %u x %u (width x height), MM"},
    {"48 bits, MM, 16-bit map", {48, false, 16, true}, 0, {}, {{"FORMAT", "RGB+A64"}},
     "64 bit (RGB+A), colordepth 48, %u x %u (width x height), MM"},
    {"RGB16", {24, false, 0, false, RGB565}, 3, {}, {{"FORMAT", "RGB16"}, {"ENDIAN", "LITTLE"}},
     "16 bit (RGB16 5:6:5), %u x %u (width x height)"},
    {"RGB16 from 48 bits, MM", {48, false, 0, true, RGB565}, 3, {}, {{"FORMAT", "RGB16"}, {"ENDIAN", "LITTLE"}},
     "16 bit (RGB16 5:6:5), %u x %u (width x height)"},
    {"Bayer, one colour", {24, false, 0, false, FLAT}, 1, {}, {{"FORMAT", "BAYER8"}}, "8 bit (Bayer Matrix), %u x %u (width x height)"},
};

TEST(RawDump, ReadBackByTheImporterWithItsSideFileLine) {
    for (const RoundTrip& c : kRoundTrips) {
        for (uint32_t w : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 15u, 16u, 17u, 31u}) {
            const uint32_t h = 3;
            // One column holds no blue sample at all: nothing to read back.
            if (c.sub == 1 && w == 1) continue;
            SCOPED_TRACE(std::string(c.name) + ", width " + std::to_string(w));
            Buffer src = Make(c.source, w, h);
            ASSERT_TRUE(src);
            const Bytes indices = c.source.depth <= 8 ? Indices(src.get()) : Bytes();
            const std::vector<uint16_t> samples = c.source.depth == 48 ? Samples48(src.get()) : std::vector<uint16_t>();
            Bytes rgb = c.source.depth == 24 ? Bytes(src->Data, src->Data + w * h * 3) : Bytes();
            for (uint16_t v : samples) rgb.push_back((uint8_t)(v >> 8));
            const Bytes alpha = AlphaBytes(src.get());

            Dumped d = Dump<kxoRAW>(src.get(), c.sub, c.dumpKeys);
            ASSERT_EQ(d.Err, KXERR_NONE);
            EXPECT_EQ(d.Line, Printf(c.line, w, h));
            Keys keys = c.importKeys;
            keys.emplace_back("WIDTH", std::to_string(w));
            keys.emplace_back("HEIGHT", std::to_string(h));
            Loaded l;
            ImportBytes(d.File, keys, l);
            ASSERT_EQ(l.Err, KXERR_NONE);
            if (c.source.depth <= 8) {
                EXPECT_EQ(Indices(l.Buffer), indices);
                EXPECT_EQ(l.Buffer->Type == BITPLANE ? l.Buffer->ColorDepth : c.source.depth, c.source.depth);
            } else if (c.sub == 0 && c.source.depth == 48) {
                EXPECT_EQ(Samples48(l.Buffer), samples);
                EXPECT_EQ(Alpha8(l.Buffer), alpha);
            } else {
                EXPECT_EQ(Bytes(l.Buffer->Data, l.Buffer->Data + w * h * 3), rgb);
                if (c.sub == 0) {
                    EXPECT_EQ(Alpha8(l.Buffer), alpha);
                }
            }
        }
    }
}

// The source stays a valid picture; a 48-bit Dump leaves it big-endian, marked so.
TEST(RawDump, FortyEightBitDumpLeavesThePictureBigEndian) {
    Buffer src = Make({48, false, 16}, 3, 2);
    const std::vector<uint16_t> samples = Samples48(src.get());
    const Bytes alpha = AlphaBytes(src.get());
    ASSERT_EQ(Dump<kxoRAW>(src.get(), 0).Err, KXERR_NONE);
    EXPECT_EQ(KXSUP_GetGfxBufferEndianess(src.get()), (uint32_t)KXENDIAN_BIG);
    EXPECT_EQ(Samples48(src.get()), samples);
    EXPECT_EQ(AlphaBytes(src.get()), alpha);
}

struct ByteCase {
    const char* name;
    std::function<Buffer()> make;
    uint32_t sub;
    Bytes bytes;
    const char* line;
};

Buffer Rgb24(uint32_t w, uint32_t h, const Bytes& pixels) {
    Buffer b = Picture(24, w, h);
    memcpy(b->Data, pixels.data(), pixels.size());
    return b;
}

Buffer Rgb48(uint32_t w, uint32_t h, const std::vector<uint16_t>& samples, bool big) {
    Buffer b = Picture(48, w, h);
    memcpy(b->Data, samples.data(), samples.size() * 2);
    KXSUP_SetGfxBufferEndianess(b.get(), KXGFXF_II);
    if (big) KXSUP_ConvertGfxBufferEndianess(b.get(), KXENDIAN_BIG);
    return b;
}

Bytes Repeat(const Bytes& part, size_t times) {
    Bytes out;
    for (size_t i = 0; i < times; ++i) out.insert(out.end(), part.begin(), part.end());
    return out;
}

const Bytes kRed = {255, 0, 0}, kWhite = {255, 255, 255};
// One YCbCr16 pixel pair as it stands in the file: Cr, Y1, Cb, Y0. Red
// has Y 76 and a Cb sum of -43.02 rounded down to -44; white Y 254.
const Bytes kRedPair = {255, 76, 84, 76}, kWhitePair = {128, 254, 128, 254};

const ByteCase kByteCases[] = {
    {"Bayer of one colour", [] { return Rgb24(2, 2, Repeat({10, 20, 30}, 4)); }, 1, {20, 30, 10, 20}, "8 bit (Bayer Matrix), 2 x 2 (width x height)"},
    {"Bayer picks G B / R G", [] { return Rgb24(2, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}); }, 1, {2, 6, 7, 11},
     "8 bit (Bayer Matrix), 2 x 2 (width x height)"},
    {"Bayer of a palette picture",
     [] {
         Buffer b = Picture(8, 3, 1);
         b->Data[0] = 1, b->Data[1] = 2, b->Data[2] = 3;
         return b;
     },
     1, {254, 62, 252}, "8 bit (Bayer Matrix), 3 x 1 (width x height)"},
    {"Bayer of bit planes",
     [] {
         Buffer b = Picture(2, 2, 1);
         b->Data[0] = 1, b->Data[1] = 2;
         KX_GfxBuffer* planes = nullptr;
         KXSUP_OnePlaneToBitPlane8(b.get(), &planes);
         return Buffer(planes);
     },
     1, {254, 62}, "8 bit (Bayer Matrix), 2 x 1 (width x height)"},
    {"Bayer of 48 bits, II", [] { return Rgb48(2, 1, {0x1111, 0x2233, 0x4455, 0x6677, 0x8899, 0xAABB}, false); }, 1, {0x22, 0xAA},
     "8 bit (Bayer Matrix), 2 x 1 (width x height)"},
    {"Bayer of 48 bits, MM", [] { return Rgb48(2, 1, {0x1111, 0x2233, 0x4455, 0x6677, 0x8899, 0xAABB}, true); }, 1, {0x22, 0xAA},
     "8 bit (Bayer Matrix), 2 x 1 (width x height)"},
    {"RGB16 words", [] { return Rgb24(3, 1, {255, 255, 255, 255, 0, 0, 0, 255, 0}); }, 3, {0xFF, 0xFF, 0x00, 0xF8, 0xE0, 0x07},
     "16 bit (RGB16 5:6:5), 3 x 1 (width x height)"},
    {"YCbCr16, row pair shares row 0's chroma", [] { return Rgb24(4, 2, Repeat(kRed, 4) + Repeat(kWhite, 4)); }, 2,
     Repeat(kRedPair, 2) + Repeat({255, 254, 84, 254}, 2), "16 bit (YCbCr16), 4 x 2 (width x height)"},
    // Past the row's end the last pixel repeats: the second group is red four times.
    {"YCbCr16, width 5", [] { return Rgb24(5, 1, Repeat(kWhite, 4) + kRed); }, 2, Repeat(kWhitePair, 2) + Repeat(kRedPair, 2),
     "16 bit (YCbCr16), 5 x 1 (width x height)"},
    {"YCbCr16, width 1, height 3", [] { return Rgb24(1, 3, kRed + kWhite + kRed); }, 2,
     Repeat(kRedPair, 2) + Repeat({255, 254, 84, 254}, 2) + Repeat(kRedPair, 2), "16 bit (YCbCr16), 1 x 3 (width x height)"},
    {"Dump of bit planes, 8 x 1", [] {
         Buffer b = Picture(2, 8, 1);
         for (int i = 0; i < 8; ++i) b->Data[i] = (uint8_t)(i % 4);
         return b;
     },
     0, {0x55, 0x33}, "8 bit (planes), colordepth 2, 8 x 1 (width x height)"},
    // Plane rows kept two bytes long: only (width + 7) / 8 of them are written.
    {"Dump of padded plane rows", [] {
         KX_GfxBuffer* b = nullptr;
         KXSUP_AllocGfxBuffer(&b, 1, 4, MEMF_CLEAR);
         b->Type = BITPLANE, b->Width = 8, b->Height = 1, b->ColorDepth = 2, b->BytesPerLine = 2, b->ViewMode = 0;
         memcpy(b->Data, Bytes{0x55, 0xEE, 0x33, 0xEE}.data(), 4);
         return Buffer(b);
     },
     0, {0x55, 0x33}, "8 bit (planes), colordepth 2, 8 x 1 (width x height)"},
    {"Dump of 24 bits with alpha", [] {
         Buffer b = Picture(24, 2, 1, true);
         memcpy(b->Data, Bytes{1, 2, 3, 4, 5, 6}.data(), 6);
         KXSUP_AlphaBytes(b.get())[0] = 7, KXSUP_AlphaBytes(b.get())[1] = 8;
         return b;
     },
     0, {1, 2, 3, 4, 5, 6, 7, 8}, "32 bit (RGB+A), colordepth 24, 2 x 1 (width x height)"},
    {"Dump of 48 bits with an 8-bit map", [] {
         Buffer b = Picture(48, 1, 1, true);
         const uint16_t s[3] = {0x0102, 0x0304, 0x0506};
         memcpy(b->Data, s, 6);
         KXSUP_AlphaBytes(b.get())[0] = 0x80;
         return b;
     },
     0, {1, 2, 3, 4, 5, 6, 0x80, 0x80}, "64 bit (RGB+A), colordepth 48, 1 x 1 (width x height), MM"},
};

TEST(RawDump, BytesOfSmallPictures) {
    for (const ByteCase& c : kByteCases) {
        SCOPED_TRACE(c.name);
        Buffer b = c.make();
        ASSERT_TRUE(b);
        Dumped d = Dump<kxoRAW>(b.get(), c.sub);
        ASSERT_EQ(d.Err, KXERR_NONE);
        EXPECT_EQ(d.File, c.bytes);
        EXPECT_EQ(d.Line, c.line);
    }
}

TEST(RawDump, DefaultDumpOfSixtyFourSquareIsEightPlanes) {
    Buffer b = Picture(8, 64, 64);
    Dumped d = Dump<kxoRAW>(b.get(), 0);
    ASSERT_EQ(d.Err, KXERR_NONE);
    EXPECT_EQ(d.File.size(), 4096u);
    EXPECT_EQ(d.Line, "8 bit (planes), colordepth 8, 64 x 64 (width x height)");
}

// YCbCr16 of every small width and height: rows of whole groups, nothing read
// outside the picture (the sanitizer watches), the last pixel repeated.
TEST(RawDump, YCbCr16OfEveryWidthStaysInsideThePicture) {
    for (uint32_t w = 1; w <= 9; ++w)
        for (uint32_t h = 1; h <= 3; ++h) {
            SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
            Buffer b = Picture(24, w, h);
            Dumped d = Dump<kxoRAW>(b.get(), 2);
            ASSERT_EQ(d.Err, KXERR_NONE);
            const uint32_t groups = (w + 3) / 4;
            ASSERT_EQ(d.File.size(), (size_t)groups * 8 * h);
            for (uint32_t y = 0; y < h; ++y) {
                const uint8_t* last = b->Data + 3 * ((size_t)y * w + w - 1);
                const uint8_t y0 = (uint8_t)((19595u * last[0] + 38469u * last[1] + 7471u * last[2]) >> 16);
                const uint8_t* row = d.File.data() + (size_t)y * groups * 8;
                for (uint32_t x = w; x < groups * 4; ++x) EXPECT_EQ(row[4 * (x / 2) + (x % 2 ? 1 : 3)], y0) << "pixel " << x;
            }
        }
}

TEST(RawDump, NetpbmReadsOurDumps) {
    if (!KXT_HaveTool("rawtoppm") || !KXT_HaveTool("rawtopgm")) GTEST_SKIP() << "netpbm missing";
    struct Case {
        uint32_t depth;
        const char* tool;
    } cases[] = {{24, "rawtoppm"}, {8, "rawtopgm"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tool);
        const uint32_t w = 13, h = 5;
        Buffer b = Picture(c.depth, w, h);
        const std::string path = kxt::TempPath("netpbm.RAW"), out = kxt::TempPath("netpbm.pnm");
        ASSERT_EQ(SaveWith<kxoRAW>(b.get(), path, 0, {{"LUT8_FORMAT", "CHUNKY"}}), KXERR_NONE);
        ASSERT_EQ(system((std::string(c.tool) + " 13 5 " + path + " > " + out + " 2>/dev/null").c_str()), 0);
        kxt::Rgb rgb;
        ASSERT_TRUE(kxt::ReadNetpbm(out, rgb));
        EXPECT_EQ(rgb.W, w);
        EXPECT_EQ(rgb.H, h);
        for (uint32_t i = 0; i < w * h; ++i)
            for (int k = 0; k < 3; ++k) ASSERT_EQ(rgb.Pix[3 * i + k], c.depth == 24 ? b->Data[3 * i + k] : b->Data[i]) << i;
        unlink(path.c_str());
        unlink(CommentPath(path).c_str());
        unlink(out.c_str());
    }
}

TEST(RawDump, ProgressOnTheRowLoops) {
    struct Case {
        const char* name;
        Source source;
        uint32_t sub;
        std::vector<uint32_t> progress;
    } cases[] = {
        {"48 bits with alpha", {48, false, 8}, 0, {0, 40, 80}}, {"Bayer", {24}, 1, {0, 40, 80}}, {"YCbCr16", {24}, 2, {0, 40, 80}},
        {"RGB16", {24}, 3, {0, 40, 80}},  {"24 bits with alpha: one block", {24, false, 8}, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Buffer b = Make(c.source, 4, 20);
        Dumped d = Dump<kxoRAW>(b.get(), c.sub);
        ASSERT_EQ(d.Err, KXERR_NONE);
        EXPECT_EQ(d.Progress, c.progress);
    }
}

TEST(RawDump, OperationsOfASaveOnlyModule) {
    kxoRAW m;
    char ext[16] = {};
    EXPECT_EQ(m.GetExtension(ext), KXERR_NONE);
    EXPECT_STREQ(ext, ".RAW");
    EXPECT_EQ(m.CheckFile(nullptr, "x.RAW", KXIO_FILE), 0u);
    EXPECT_EQ(m.Load(), KXERR_NOTSUPPORTED);
    EXPECT_EQ(m.SetIOMode(KXIO_DEVICE), KXERR_NOTSUPPORTED);
    EXPECT_EQ(m.SetGfxBuffer(nullptr), KXERR_INTERNALACCESS);
    EXPECT_EQ(m.GetGfxBuffer(nullptr), KXERR_INTERNALACCESS);
    EXPECT_EQ(m.Save(), KXERR_NOTSUPPORTED) << "no picture";
    Buffer b = Picture(24, 2, 2);
    const std::string path = kxt::TempPath("mode2.RAW");
    m.SetSaveName(path.c_str());
    m.SetGfxBuffer(b.get());
    EXPECT_EQ(m.SetIOMode(KXIO_CLIPBOARD), KXERR_NONE);
    EXPECT_EQ(m.Save(), KXERR_NOTSUPPORTED) << "clipboard mode";
    EXPECT_NE(access(path.c_str(), F_OK), 0);
}

// Refusals come before the file is opened: the old file and its side file stay.
TEST(RawDump, RefusalsLeaveTheOldFiles) {
    struct Case {
        const char* name;
        std::function<Buffer()> make;
        uint32_t sub;
        uint32_t err;
    } cases[] = {
        {"HAM as Bayer", [] {
             Buffer b = Picture(6, 4, 2);
             b->ViewMode = KXVIEWMODE_HAM;
             return b;
         },
         1, KXERR_NOHAM},
        {"16-bit depth", [] {
             Buffer b = Picture(24, 4, 2);
             b->ColorDepth = 16;
             return b;
         },
         0, KXERR_NOTSUPPORTED},
        {"no storage kind", [] {
             Buffer b = Picture(24, 4, 2);
             b->Type = NOPLANE;
             return b;
         },
         2, KXERR_NOTSUPPORTED},
        {"locked little-endian 48 bits", [] {
             Buffer b = Picture(48, 4, 2);
             KXSUP_SetGfxBufferFlags(b.get(), KXGFXF_II | KXGFXF_LOCKED, 1);
             return b;
         },
         0, KXERR_ENDIANLOCKED},
    };
    const std::string path = kxt::TempPath("old.RAW"), comment = CommentPath(path);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(KXT_WriteFile(path, "old data"));
        ASSERT_TRUE(KXT_WriteFile(comment, "old line"));
        Buffer b = c.make();
        EXPECT_EQ(SaveWith<kxoRAW>(b.get(), path, c.sub), c.err);
        EXPECT_EQ(KXT_ReadFile(path), "old data");
        EXPECT_EQ(KXT_ReadFile(comment), "old line");
    }
    // A HAM picture dumps as its planes.
    Buffer ham = Picture(6, 4, 2);
    ham->ViewMode = KXVIEWMODE_HAM;
    EXPECT_EQ(SaveWith<kxoRAW>(ham.get(), path, 0), KXERR_NONE);
    EXPECT_EQ(KXT_ReadBytes(path).size(), 6u * 2);
    unlink(path.c_str());
    unlink(comment.c_str());

    Buffer b = Picture(24, 2, 2);
    const std::string nowhere = kxt::TempPath("no_such_dir/x.RAW");
    EXPECT_EQ(SaveWith<kxoRAW>(b.get(), nowhere, 0), KXERR_NODESTFILE);
    EXPECT_NE(access(CommentPath(nowhere).c_str(), F_OK), 0);
}

// A write that fails part way (a file-size limit below the dump) gives 30
// and leaves the old file; no side file is written.
TEST(RawDump, FailedWritesLeaveTheOldFile) {
    struct Case {
        const char* name;
        Source source;
        uint32_t sub;
    } cases[] = {{"Dump 24", {24}, 0},        {"Dump 48 with alpha", {48, false, 16}, 0}, {"Dump planes", {8}, 0},
                 {"Bayer", {24}, 1},          {"YCbCr16", {24}, 2},                        {"RGB16", {24}, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Buffer b = Make(c.source, 400, 100);
        kxoRAW m;
        m.SetSubFormat(c.sub);
        EXPECT_EQ(kxt::SaveUnderFileSizeLimit(&m, b.get(), "limited.RAW"), KXERR_IO);
        EXPECT_NE(access(CommentPath(kxt::TempPath("limited.RAW")).c_str(), F_OK), 0);
    }
}

}  // namespace

namespace {

// The import wizard relies on the side file: one that cannot be written is an error.
TEST(RawDump, SideFileThatCannotBeWrittenIsAnError) {
    Buffer b = rawtest::Picture(24, 2, 2);
    const std::string path = kxt::TempPath("blocked.RAW"), comment = rawtest::CommentPath(path);
    ASSERT_EQ(mkdir(comment.c_str(), 0700), 0);
    EXPECT_EQ(rawtest::SaveWith<kxoRAW>(b.get(), path, 3), KXERR_IO);
    EXPECT_EQ(KXT_ReadBytes(path).size(), 8u) << "the dump itself is written";
    rmdir(comment.c_str());
    unlink(path.c_str());
}

}  // namespace
