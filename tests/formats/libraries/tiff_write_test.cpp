// The TIFF writer: pixels as tifftopnm reads them for every depth, with
// and without alpha and Deflate, widths 1 to 17 and a prime; the file's
// directory as tiffdump shows it; the strips; the refusals; a failed write.
#include <sched.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <zlib.h>

#include <algorithm>

#include "formats/raster/write_failure.h"
#include "tiff_helpers.h"

namespace {

using namespace tifftest;

// Pixels and alpha as libtiff itself reads the file.
struct Decoded {
    uint32_t width = 0, height = 0;
    uint16_t spp = 0, bps = 0, photometric = 0, compression = 0, extra = 0;
    std::vector<uint8_t> rows;
    std::vector<uint16_t> map;  // colour map, 3 x 256
};

bool DecodeWithLibtiff(const std::string& path, Decoded* d) {
    TIFFSetWarningHandler(nullptr);
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) return false;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &d->width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &d->height);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &d->spp);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &d->bps);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &d->photometric);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &d->compression);
    uint16_t n = 0;
    uint16_t* kinds = nullptr;
    if (TIFFGetField(t, TIFFTAG_EXTRASAMPLES, &n, &kinds) && n == 1) d->extra = kinds[0];
    uint16_t *r, *g, *b;
    if (TIFFGetField(t, TIFFTAG_COLORMAP, &r, &g, &b)) {
        d->map.assign(r, r + 256);
        d->map.insert(d->map.end(), g, g + 256);
        d->map.insert(d->map.end(), b, b + 256);
    }
    const tmsize_t line = TIFFScanlineSize(t);
    d->rows.resize((size_t)line * d->height);
    bool ok = true;
    for (uint32_t y = 0; y < d->height && ok; ++y) ok = TIFFReadScanline(t, d->rows.data() + (size_t)y * line, y) >= 0;
    TIFFClose(t);
    return ok;
}

struct Case {
    const char* name;
    uint32_t depth;
    bool alpha;
    bool deflate;
};

const Case kCases[] = {
    {"pal1", 1, false, false},   {"pal4", 4, false, false},   {"pal8", 8, false, false},
    {"pal8z", 8, false, true},   {"rgb24", 24, false, false}, {"rgb24z", 24, false, true},
    {"rgb48", 48, false, false}, {"rgb48z", 48, false, true}, {"rgba24", 24, true, false},
    {"rgba24z", 24, true, true}, {"rgba48", 48, true, false}, {"rgba48z", 48, true, true},
};

class TiffWriteDepths : public ::testing::TestWithParam<Case> {};

// Every width from 1 to 17 and a prime: the samples libtiff reads are the
// picture's, in the layout the directory declares.
TEST_P(TiffWriteDepths, LibtiffReadsThePicture) {
    const Case& c = GetParam();
    for (uint32_t w : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 15u, 16u, 17u, 61u}) {
        SCOPED_TRACE(std::string(c.name) + " width " + std::to_string(w));
        const uint32_t h = 3;
        Buffer img = MakeImage(c.depth, w, h);
        if (c.alpha) AddAlpha(img.get());
        // Host-order copies of the samples: the save turns 48-bit buffers big-endian.
        std::vector<uint16_t> alpha16;
        if (c.alpha && c.depth == 48) {
            auto* a = static_cast<uint16_t*>(img->AlphaData);
            alpha16.assign(a, a + w * h);
        }
        Buffer ref = MakeImage(c.depth, w, h);
        const std::string path = TempPath(std::string(c.name) + ".tif");
        Tiff t(c.deflate ? Settings{{"WRITE_DEFLATE", "ON"}} : Settings{});
        ASSERT_EQ(t.Save(img.get(), path), KXERR_NONE);
        Decoded d;
        ASSERT_TRUE(DecodeWithLibtiff(path, &d));
        EXPECT_EQ(d.width, w);
        EXPECT_EQ(d.height, h);
        EXPECT_EQ(d.compression, c.deflate ? 8 : 1);
        if (c.depth <= 8) {
            EXPECT_EQ(d.photometric, PHOTOMETRIC_PALETTE);
            EXPECT_EQ(d.bps, 8);
            ASSERT_EQ(d.map.size(), 768u);
            for (uint32_t i = 0; i < 256; ++i)
                for (int ch = 0; ch < 3; ++ch)
                    ASSERT_EQ(d.map[ch * 256 + i], i < (1u << c.depth) ? ref->Palette[i * 3 + ch] << 8 : 0) << i;
            for (uint32_t i = 0; i < w * h; ++i) ASSERT_EQ(d.rows[i], ref->Data[i]) << "pixel " << i;
            remove(path.c_str());
            continue;
        }
        const uint32_t spp = c.alpha ? 4 : 3;
        EXPECT_EQ(d.photometric, PHOTOMETRIC_RGB);
        EXPECT_EQ(d.spp, spp);
        EXPECT_EQ(d.bps, c.depth / 3);
        EXPECT_EQ(d.extra, c.alpha ? EXTRASAMPLE_UNASSALPHA : 0);
        for (uint32_t i = 0; i < w * h; ++i) {
            for (uint32_t ch = 0; ch < spp; ++ch) {
                uint32_t want, got;
                if (c.depth == 24) {
                    want = ch < 3 ? ref->Data[i * 3 + ch] : static_cast<uint8_t*>(img->AlphaData)[i];
                    got = d.rows[i * spp + ch];
                } else {
                    want = ch < 3 ? reinterpret_cast<uint16_t*>(ref->Data)[i * 3 + ch] : alpha16[i];
                    got = reinterpret_cast<uint16_t*>(d.rows.data())[i * spp + ch];  // libtiff gives host order
                }
                ASSERT_EQ(got, want) << "pixel " << i << " sample " << ch;
            }
        }
        remove(path.c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, TiffWriteDepths, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

// netpbm's reader agrees (-byrow keeps 16-bit samples whole; palettes go the
// other way, which takes the high byte of a colour-map value), and tiffinfo
// finds nothing to complain about.
TEST(TiffWrite, NetpbmAndTiffinfoReadOurFiles) {
    if (!KXT_HaveTool("tifftopnm") || !KXT_HaveTool("tiffinfo")) GTEST_SKIP() << "libtiff tools or netpbm missing";
    for (uint32_t depth : {4u, 8u, 24u, 48u}) {
        for (bool deflate : {false, true}) {
            SCOPED_TRACE("depth " + std::to_string(depth) + (deflate ? " deflate" : ""));
            const uint32_t w = 23, h = 5;
            Buffer img = MakeImage(depth, w, h);
            Buffer ref = MakeImage(depth, w, h);
            const std::string path = TempPath("pnm.tif"), pnm = TempPath("pnm.pnm");
            Tiff t(deflate ? Settings{{"WRITE_DEFLATE", "ON"}} : Settings{});
            ASSERT_EQ(t.Save(img.get(), path), KXERR_NONE);
            EXPECT_EQ(Capture("tiffinfo " + path).find("rror"), std::string::npos) << Capture("tiffinfo " + path);
            ASSERT_EQ(RunTool(std::string("tifftopnm ") + (depth == 48 ? "-byrow " : "") + path + " > " + pnm), 0);
            Pnm p;
            ASSERT_TRUE(ReadPnm(pnm, &p));
            ASSERT_EQ(p.width, w);
            ASSERT_EQ(p.height, h);
            for (uint32_t i = 0; i < w * h; ++i)
                for (int ch = 0; ch < 3; ++ch) ASSERT_EQ(p.rgb[i * 3 + ch], Sample(ref.get(), i, ch)) << i;
            remove(path.c_str());
            remove(pnm.c_str());
        }
    }
}

// Deflate of the smallest strips (the compressed stream is longer than
// its input there), and a side beyond 65535, which a SHORT cannot hold.
TEST(TiffWrite, TinyStripsAndWideSides) {
    struct Size {
        uint32_t w, h, depth;
        bool deflate;
    };
    for (const Size s : {Size{1, 1, 8, true}, Size{2, 1, 8, true}, Size{3, 1, 8, true}, Size{1, 1, 24, true},
                         Size{1, 1, 48, true}, Size{70000, 1, 8, false}, Size{1, 66000, 8, true},
                         Size{65536, 2, 24, true}}) {
        SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
        Buffer img = MakeImage(s.depth, s.w, s.h);
        Buffer ref = MakeImage(s.depth, s.w, s.h);
        const std::string path = TempPath("size.tif");
        Tiff t(s.deflate ? Settings{{"WRITE_DEFLATE", "ON"}} : Settings{});
        ASSERT_EQ(t.Save(img.get(), path), KXERR_NONE);
        Decoded d;
        ASSERT_TRUE(DecodeWithLibtiff(path, &d));
        EXPECT_EQ(d.width, s.w);
        EXPECT_EQ(d.height, s.h);
        const size_t bytes = (size_t)s.w * s.h * (s.depth <= 8 ? 1 : s.depth / 8);
        ASSERT_EQ(d.rows.size(), bytes);
        if (s.depth == 48) {
            EXPECT_EQ(memcmp(d.rows.data(), ref->Data, bytes), 0);
        } else {
            EXPECT_EQ(memcmp(d.rows.data(), ref->Data, bytes), 0);
        }
        remove(path.c_str());
    }
}

// tiffdump's view of the directory: the entries in ascending tag order
// with their types, for each subtype, and nothing else.
TEST(TiffWrite, DirectoryEntriesPerSubtype) {
    if (!KXT_HaveTool("tiffdump")) GTEST_SKIP() << "tiffdump missing";
    struct Row {
        uint32_t subtype, depth;
        bool alpha;
        std::vector<std::string> tags;
    };
    const Row rows[] = {
        {0, 8, false, {"ImageWidth (256) SHORT", "ImageLength (257) SHORT", "BitsPerSample (258) SHORT (3) 1<8>",
                       "Compression (259) SHORT (3) 1<1>", "Photometric (262) SHORT (3) 1<3>", "StripOffsets (273) LONG (4) 1<",
                       "SamplesPerPixel (277) SHORT (3) 1<1>", "RowsPerStrip (278) SHORT (3) 1<2>", "StripByteCounts (279) LONG (4) 1<", "Colormap (320) SHORT (3) 768"}},
        {1, 24, false, {"SubFileType (254) SHORT (3) 1<0>", "ImageWidth (256)", "ImageLength (257)", "BitsPerSample (258) SHORT (3) 1<8>",
                        "Compression (259)", "Photometric (262) SHORT (3) 1<2>", "StripOffsets (273)", "SamplesPerPixel (277) SHORT (3) 1<3>",
                        "RowsPerStrip (278) SHORT (3) 1<2>", "StripByteCounts (279)", "PlanarConfig (284) SHORT (3) 1<1>"}},
        {2, 48, true, {"SubFileType (254) SHORT (3) 1<0>", "ImageWidth (256)", "ImageLength (257)", "BitsPerSample (258) SHORT (3) 1<16>",
                       "Compression (259)", "Photometric (262)", "StripOffsets (273)", "SamplesPerPixel (277) SHORT (3) 1<4>",
                       "RowsPerStrip (278) SHORT (3) 1<2>", "StripByteCounts (279)", "PlanarConfig (284)", "ExtraSamples (338) SHORT (3) 1<2>"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE("subtype " + std::to_string(r.subtype));
        Buffer img = MakeImage(r.depth, 4, 2);
        if (r.alpha) AddAlpha(img.get());
        const std::string path = TempPath("dump.tif");
        Tiff t;
        ASSERT_EQ(t.Save(img.get(), path, nullptr, r.subtype), KXERR_NONE);
        const std::string dump = Capture("tiffdump " + path);
        EXPECT_NE(dump.find("Magic: 0x4d4d <big-endian> Version: 0x2a"), std::string::npos) << dump;
        size_t at = 0, lines = 0;
        for (const std::string& tag : r.tags) {
            const size_t found = dump.find(tag, at);
            ASSERT_NE(found, std::string::npos) << tag << "\n" << dump;
            at = found + tag.size();
        }
        for (size_t p = dump.find("\n", dump.find("Directory 0")); p != std::string::npos && p + 1 < dump.size();
             p = dump.find("\n", p + 1))
            ++lines;
        EXPECT_EQ(lines, r.tags.size()) << dump;
        EXPECT_EQ(dump.find("Warning"), std::string::npos) << dump;
        remove(path.c_str());
    }
}

TEST(TiffWrite, Refusals) {
    Tiff t;
    const std::string path = TempPath("refused.tif");
    EXPECT_EQ(t.obj.Save(), KXERR_NOTSUPPORTED);  // no buffer
    Buffer img = MakeImage(24, 4, 4);
    EXPECT_EQ(t.obj.SetIOMode(KXIO_CLIPBOARD), KXERR_NONE);
    t.obj.SetGfxBuffer(img.get());
    t.obj.SetSaveName(path.c_str());
    EXPECT_EQ(t.obj.Save(), KXERR_NOTSUPPORTED);
    EXPECT_EQ(t.obj.SetIOMode(7), KXERR_NOTSUPPORTED);
    t.obj.SetIOMode(KXIO_FILE);

    Buffer odd = MakeImage(24, 4, 4);
    odd->ColorDepth = 16;
    EXPECT_EQ(t.Save(odd.get(), path), KXERR_FILEREQUIREMENTS);
    Buffer ham = MakeImage(6, 4, 4);
    ham->ViewMode = KXVIEWMODE_HAM;
    EXPECT_EQ(t.Save(ham.get(), path), KXERR_NOHAM);
    EXPECT_FALSE(amFileExists(path.c_str()));
    char ext[16];
    EXPECT_EQ(t.obj.GetExtension(ext), KXERR_NONE);
    EXPECT_STREQ(ext, ".TIFF");
}

// A bit-plane picture is saved through its chunky copy, which stays with
// the module.
TEST(TiffWrite, BitPlanePictureThroughItsChunkyCopy) {
    Buffer chunky = MakeImage(3, 9, 4);
    KX_GfxBuffer* planes = nullptr;
    ASSERT_EQ(KXSUP_OnePlaneToBitPlane8(chunky.get(), &planes), KXERR_NONE);
    Buffer owner(planes);
    const std::string path = TempPath("planes.tif");
    Tiff t;
    ASSERT_EQ(t.Save(planes, path), KXERR_NONE);
    KX_GfxBuffer* own = t.Image();
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->Type, (uint32_t)ONEPLANE);
    Decoded d;
    ASSERT_TRUE(DecodeWithLibtiff(path, &d));
    for (uint32_t i = 0; i < 36; ++i) ASSERT_EQ(d.rows[i], chunky->Data[i]) << i;
    remove(path.c_str());
}

// A write that fails part way: 30, and the old file stays as it was.
TEST(TiffWrite, FailedWriteKeepsTheOldFile) {
    Buffer img = MakeImage(24, 200, 100);
    for (const char* deflate : {"OFF", "ON"}) {
        Tiff t({{"WRITE_DEFLATE", deflate}, {"Z_COMPRESSION", "0"}});
        EXPECT_EQ(kxt::SaveUnderFileSizeLimit(&t.obj, img.get(), "tiff_fail.tif"), KXERR_IO) << deflate;
    }
}

// The 48-bit picture given to the writer is big-endian afterwards, with
// its 16-bit alpha map, and marked so.
TEST(TiffWrite, FortyEightBitBufferEndsBigEndian) {
    Buffer img = MakeImage(48, 3, 2);
    AddAlpha(img.get());
    const uint16_t first = reinterpret_cast<uint16_t*>(img->Data)[0];
    const uint16_t firstAlpha = static_cast<uint16_t*>(img->AlphaData)[0];
    Tiff t;
    ASSERT_EQ(t.Save(img.get(), TempPath("be.tif")), KXERR_NONE);
    EXPECT_EQ(KXSUP_GetGfxBufferEndianess(img.get()), (uint32_t)KXENDIAN_BIG);
    EXPECT_EQ(img->Data[0], first >> 8);
    EXPECT_EQ(static_cast<uint8_t*>(img->AlphaData)[0], firstAlpha >> 8);
    remove(TempPath("be.tif").c_str());
}

}  // namespace

namespace {

// Recognition: both byte orders, classic and BigTIFF versions; nothing else.
TEST(TiffCheckFile, HeaderTable) {
    struct Row {
        std::string head;
        uint32_t known;
    };
    const Row rows[] = {
        {std::string("II\x2a\0", 4), 1}, {std::string("MM\0\x2a", 4), 1}, {std::string("II\x2b\0", 4), 1},
        {std::string("MM\0\x2b", 4), 1}, {std::string("MM\x2a\0", 4), 0}, {std::string("IM\x2a\0", 4), 0},
        {std::string("II\x2a", 3), 0},   {"", 0},
    };
    const std::string path = tifftest::TempPath("check.tif");
    for (const Row& r : rows) {
        ASSERT_TRUE(KXT_WriteFile(path, r.head));
        FILE* f = fopen(path.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        kxoTIFF t(nullptr);
        EXPECT_EQ(t.CheckFile(f, path.c_str(), KXIO_FILE), r.known) << r.head.size();
        EXPECT_EQ(t.CheckFile(f, path.c_str(), KXIO_CLIPBOARD), 0u);
        EXPECT_EQ(ftell(f), 0);
        fclose(f);
    }
    remove(path.c_str());
}

}  // namespace

namespace {

using namespace tifftest;

// The Deflate keys: every level and strategy (zlib for the strategies,
// libdeflate for the default one) gives a strip libtiff inflates to the
// picture; values out of range fall back to 6 and the default strategy.
TEST(TiffWrite, DeflateKeys) {
    for (const char* level : {"0", "1", "9", "12", "x"}) {
        for (const char* strategy : {"0", "1", "2", "3", "7"}) {
            for (bool alpha : {false, true}) {
                SCOPED_TRACE(std::string("level ") + level + " strategy " + strategy + (alpha ? " alpha" : ""));
                Buffer img = MakeImage(24, 41, 9);
                Buffer ref = MakeImage(24, 41, 9);
                if (alpha) AddAlpha(img.get());
                const std::string path = TempPath("keys.tif");
                Tiff t({{"WRITE_DEFLATE", "on"}, {"Z_COMPRESSION", level}, {"Z_STRATEGY", strategy}});
                ASSERT_EQ(t.Save(img.get(), path), KXERR_NONE);
                TIFFSetWarningHandler(nullptr);
                TIFF* tif = TIFFOpen(path.c_str(), "r");
                ASSERT_NE(tif, nullptr);
                std::vector<uint8_t> row((size_t)TIFFScanlineSize(tif));
                const uint32_t spp = alpha ? 4 : 3;
                for (uint32_t y = 0; y < 9; ++y) {
                    ASSERT_GE(TIFFReadScanline(tif, row.data(), y, 0), 0);
                    for (uint32_t x = 0; x < 41; ++x)
                        for (uint32_t c = 0; c < 3; ++c) ASSERT_EQ(row[x * spp + c], ref->Data[(y * 41 + x) * 3 + c]);
                }
                TIFFClose(tif);
                remove(path.c_str());
            }
        }
    }
}

}  // namespace

namespace {

using namespace tifftest;

// ImageMagick and libvips read our files with our pixels, in every layout
// the writer makes, several strips each (the last one short); exiftool
// finds no error in the layouts it checks. ImageMagick takes rows per strip
// from RowsPerStrip alone: without it, Deflate strips of 48-bit pictures
// and pictures with alpha came back with wrong samples. Pictures with
// alpha are compared through ImageMagick's raw RGBA output, alpha
// included (the netpbm files put it over a background).
TEST(TiffWrite, OtherReadersReadOurFiles) {
    struct Row {
        uint32_t depth;
        bool alpha, deflate;
        uint32_t subtype;
    };
    const Row rows[] = {{1, false, false, 0},  {1, false, true, 1},  {4, false, false, 2},  {4, false, true, 1},
                        {8, false, false, 2},  {8, false, true, 0},  {24, false, false, 1}, {24, false, true, 1},
                        {48, false, false, 1}, {48, false, true, 2}, {24, true, false, 1},  {24, true, true, 1},
                        {48, true, false, 2},  {48, true, true, 0}};
    const bool magick = KXT_HaveTool("convert-im6.q16");
    for (const Row& r : rows) {
        SCOPED_TRACE("depth " + std::to_string(r.depth) + (r.alpha ? " alpha" : "") + (r.deflate ? " deflate" : "") +
                     " subtype " + std::to_string(r.subtype));
        const uint32_t w = 301, h = 240;
        Buffer img = MakeImage(r.depth, w, h);
        Buffer ref = MakeImage(r.depth, w, h);
        if (r.alpha) AddAlpha(img.get());
        std::vector<uint16_t> alpha;  // host order: the save turns a 16-bit map big-endian
        if (r.alpha && r.depth == 24) alpha.assign(static_cast<uint8_t*>(img->AlphaData), static_cast<uint8_t*>(img->AlphaData) + w * h);
        if (r.alpha && r.depth == 48) alpha.assign(static_cast<uint16_t*>(img->AlphaData), static_cast<uint16_t*>(img->AlphaData) + w * h);
        const std::string path = TempPath("others.tif"), out = TempPath("others.ppm"), raw = TempPath("others.rgba");
        Tiff t(r.deflate ? Settings{{"WRITE_DEFLATE", "ON"}} : Settings{});
        KXOSpecialInfo info = {};
        info.Version = 1;
        info.Auth = const_cast<char*>("Kaxon5 tests");
        ASSERT_EQ(t.Save(img.get(), path, &info, r.subtype), KXERR_NONE);
        if (KXT_HaveTool("exiftool")) {
            const std::string v = Capture("exiftool -validate -warning -error -a " + path);
            EXPECT_EQ(v.find("Error"), std::string::npos) << v;
        }
        if (r.alpha && magick) {
            const uint32_t bytes = r.depth == 48 ? 2 : 1;
            ASSERT_EQ(RunTool("convert-im6.q16 " + path + " -depth " + std::to_string(8 * bytes) + " -endian MSB rgba:" + raw), 0);
            const Bytes got = KXT_ReadBytes(raw);
            ASSERT_EQ(got.size(), (size_t)w * h * 4 * bytes);
            for (uint32_t i = 0; i < w * h; ++i)
                for (uint32_t c = 0; c < 4; ++c) {
                    const uint8_t* s = got.data() + (i * 4 + c) * bytes;
                    const uint32_t v = bytes == 2 ? (uint32_t)(s[0] << 8 | s[1]) : s[0];
                    ASSERT_EQ(v, c < 3 ? Sample(ref.get(), i, (int)c) : alpha[i]) << "pixel " << i << " sample " << c;
                }
        }
        std::vector<std::string> commands;
        if (magick) commands.push_back("convert-im6.q16 " + path + " -alpha off " + out);
        if (KXT_HaveTool("vips")) commands.push_back("vips copy " + path + " " + out);
        for (const std::string& command : commands) {
            SCOPED_TRACE(command);
            remove(out.c_str());
            ASSERT_EQ(RunTool(command), 0);
            Pnm p;
            ASSERT_TRUE(ReadPnm(out, &p));
            ASSERT_EQ(p.width, w);
            ASSERT_EQ(p.height, h);
            if (r.alpha) continue;  // compared above, alpha included
            for (uint32_t i = 0; i < w * h; ++i)
                for (int c = 0; c < 3; ++c) {
                    uint32_t want = Sample(ref.get(), i, c);
                    if (r.depth <= 8 && p.maxval > 255) want *= 257;  // a 16-bit colour map read at 16 bits
                    if (r.depth == 48 && p.maxval == 255) want >>= 8;
                    // Colour-map values are the 8-bit colour times 256: a
                    // reader that scales them reads 255 as 254.
                    const double slack = r.depth > 8 ? 0.0 : p.maxval > 255 ? 256.0 : 1.0;
                    ASSERT_NEAR((double)p.rgb[i * 3 + c], (double)want, slack) << i;
                }
        }
        remove(path.c_str());
        remove(out.c_str());
        remove(raw.c_str());
    }
}

}  // namespace

namespace {

using namespace tifftest;

// The strip bytes the file should hold for rows [y, y + n): samples in the
// file's order (big-endian), alpha interleaved. ref is in host order.
Bytes FileRows(const KX_GfxBuffer* ref, const std::vector<uint16_t>& alpha, uint32_t y, uint32_t n) {
    Bytes out;
    const uint32_t w = ref->Width;
    for (uint32_t i = y * w; i < (y + n) * w; ++i) {
        if (ref->ColorDepth <= 8) {
            out.push_back(ref->Data[i]);
            continue;
        }
        for (int c = 0; c < 3; ++c) {
            const uint32_t v = Sample(ref, i, c);
            if (ref->ColorDepth == 48) out.push_back((uint8_t)(v >> 8));
            out.push_back((uint8_t)v);
        }
        if (alpha.empty()) continue;
        if (ref->ColorDepth == 48) out.push_back((uint8_t)(alpha[i] >> 8));
        out.push_back((uint8_t)alpha[i]);
    }
    return out;
}

std::vector<uint16_t> AlphaCopy(const KX_GfxBuffer* b) {
    if (!b->AlphaData) return {};
    const size_t n = (size_t)b->Width * b->Height;
    if (b->ColorDepth == 24) return std::vector<uint16_t>(static_cast<uint8_t*>(b->AlphaData), static_cast<uint8_t*>(b->AlphaData) + n);
    return std::vector<uint16_t>(static_cast<uint16_t*>(b->AlphaData), static_cast<uint16_t*>(b->AlphaData) + n);
}

// Strips of about 8 KB of rows, at least one row each, the last one
// short, RowsPerStrip saying how many: each strip (as libtiff finds it)
// holds exactly its rows, a Deflate strip as a zlib stream of its own.
TEST(TiffWrite, StripsOfAboutEightKilobytes) {
    struct Row {
        uint32_t depth;
        bool alpha;
        uint32_t w, h, rowsPerStrip;
    };
    const Row rows[] = {
        {8, false, 1000, 300, 8},  // 1000-byte rows
        {24, false, 1000, 300, 2},
        {24, true, 333, 70, 6},
        {48, true, 1000, 100, 1},  // one row beyond 8 KB: a row a strip
        {24, false, 30000, 3, 1},
        {48, false, 6000, 4, 1},
        {8, false, 7, 5, 5},          // one strip of all rows
        {1, false, 3, 70000, 2730},   // a 1-bit palette written a byte a pixel
        {8, false, 1, 70000, 8192},
    };
    for (const Row& r : rows) {
        for (bool deflate : {false, true}) {
            SCOPED_TRACE(std::to_string(r.depth) + (r.alpha ? "+alpha " : " ") + std::to_string(r.w) + "x" +
                         std::to_string(r.h) + (deflate ? " deflate" : ""));
            Buffer img = MakeImage(r.depth, r.w, r.h);
            Buffer ref = MakeImage(r.depth, r.w, r.h);
            if (r.alpha) AddAlpha(img.get());
            const std::vector<uint16_t> alpha = AlphaCopy(img.get());
            const std::string path = TempPath("strips.tif");
            Tiff t(deflate ? Settings{{"WRITE_DEFLATE", "ON"}} : Settings{});
            ASSERT_EQ(t.Save(img.get(), path), KXERR_NONE);
            TIFFSetWarningHandler(nullptr);
            TIFF* tif = TIFFOpen(path.c_str(), "r");
            ASSERT_NE(tif, nullptr);
            uint32_t rps = 0;
            EXPECT_TRUE(TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &rps));
            EXPECT_EQ(rps, r.rowsPerStrip);
            const uint32_t strips = (r.h + r.rowsPerStrip - 1) / r.rowsPerStrip;
            ASSERT_EQ(TIFFNumberOfStrips(tif), strips);
            uint64_t* lengths = nullptr;
            ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &lengths));
            for (uint32_t s = 0; s < strips; ++s) {
                const uint32_t y = s * r.rowsPerStrip, n = std::min(r.rowsPerStrip, r.h - y);
                const Bytes want = FileRows(ref.get(), alpha, y, n);
                Bytes raw((size_t)lengths[s]);
                ASSERT_EQ(TIFFReadRawStrip(tif, s, raw.data(), (tmsize_t)raw.size()), (tmsize_t)raw.size()) << s;
                Bytes got = raw;
                if (deflate) {
                    got.assign(want.size() + 1, 0);
                    uLongf size = (uLongf)got.size();
                    ASSERT_EQ(uncompress(got.data(), &size, raw.data(), (uLong)raw.size()), Z_OK) << "strip " << s;
                    got.resize(size);
                }
                ASSERT_EQ(got, want) << "strip " << s;
            }
            TIFFClose(tif);
            remove(path.c_str());
        }
    }
}

// The same file on one processor as on all of them: Deflate strips are
// compressed on threads, each on its own, and written in order.
TEST(TiffWrite, DeflateBytesDoNotDependOnTheProcessors) {
    cpu_set_t all;
    CPU_ZERO(&all);
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    if (CPU_COUNT(&all) < 2) GTEST_SKIP() << "one processor only";
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int c = 0; c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &all)) {
            CPU_SET(c, &one);
            break;
        }
    struct Row {
        uint32_t depth;
        bool alpha;
        const char* strategy;
    };
    for (const Row r : {Row{24, false, "0"}, Row{48, true, "0"}, Row{24, true, "1"}, Row{8, false, "3"}}) {
        SCOPED_TRACE(std::to_string(r.depth) + (r.alpha ? "+alpha" : "") + " strategy " + r.strategy);
        Bytes files[2];
        for (int k = 0; k < 2; ++k) {
            Buffer img = MakeImage(r.depth, 1500, 1000);
            if (r.alpha) AddAlpha(img.get());
            ASSERT_EQ(sched_setaffinity(0, sizeof(cpu_set_t), k == 0 ? &one : &all), 0);
            const std::string path = TempPath("threads.tif");
            Tiff t({{"WRITE_DEFLATE", "ON"}, {"Z_STRATEGY", r.strategy}});
            const uint32_t err = t.Save(img.get(), path);
            sched_setaffinity(0, sizeof(cpu_set_t), &all);
            ASSERT_EQ(err, KXERR_NONE);
            files[k] = KXT_ReadBytes(path);
            remove(path.c_str());
        }
        ASSERT_GT(files[0].size(), 1000u);
        EXPECT_TRUE(files[0] == files[1]);
    }
}

// The writer holds a few strips at a time, never a compressed copy of the
// whole picture: saving 36 MB of noise with Deflate raises the peak
// resident memory by far less than the picture (measured in a child, from
// a peak reset just before the save).
TEST(TiffWrite, DeflateSaveHoldsAFewStripsNotThePicture) {
    const uint32_t w = 6000, h = 2000;
    Buffer img = MakeImage(24, w, h);
    uint32_t x = 2463534242u;
    for (uint32_t i = 0; i < img->BufferSize; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        img->Data[i] = (uint8_t)x;
    }
    const std::string path = TempPath("memory.tif");
    auto status = [](const char* key) -> long {
        FILE* f = fopen("/proc/self/status", "r");
        if (!f) return -1;
        char line[256];
        long kb = -1;
        while (fgets(line, sizeof line, f))
            if (strncmp(line, key, strlen(key)) == 0) kb = atol(line + strlen(key));
        fclose(f);
        return kb;
    };
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        FILE* clear = fopen("/proc/self/clear_refs", "w");
        if (!clear || fputs("5", clear) < 0 || fclose(clear) != 0) _exit(254);
        const long before = status("VmRSS:");
        Tiff t(Settings{{"WRITE_DEFLATE", "ON"}});
        if (t.Save(img.get(), path) != KXERR_NONE) _exit(255);
        const long peak = status("VmHWM:");
        if (before < 0 || peak < 0) _exit(254);
        _exit((int)std::min(253L, std::max(0L, (peak - before) / 1024)));
    }
    int code = -1;
    ASSERT_EQ(waitpid(pid, &code, 0), pid);
    ASSERT_TRUE(WIFEXITED(code));
    const int grownMb = WEXITSTATUS(code);
    if (grownMb == 254) GTEST_SKIP() << "no peak memory reset here";
    ASSERT_NE(grownMb, 255) << "the save failed";
    EXPECT_LT(grownMb, 18) << "MB of peak growth for a 36 MB picture";
    // And the file holds the picture.
    Decoded d;
    ASSERT_TRUE(DecodeWithLibtiff(path, &d));
    EXPECT_EQ(memcmp(d.rows.data(), img->Data, img->BufferSize), 0);
    remove(path.c_str());
}

}  // namespace
