// The TIFF writer: pixels as tifftopnm reads them for every depth, with
// and without alpha and Deflate, widths 1 to 17 and a prime; the file's
// directory as tiffdump shows it; the refusals; a failed write.
#include <tiffio.h>

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
                       "SamplesPerPixel (277) SHORT (3) 1<1>", "StripByteCounts (279) LONG (4) 1<", "Colormap (320) SHORT (3) 768"}},
        {1, 24, false, {"SubFileType (254) SHORT (3) 1<0>", "ImageWidth (256)", "ImageLength (257)", "BitsPerSample (258) SHORT (3) 1<8>",
                        "Compression (259)", "Photometric (262) SHORT (3) 1<2>", "StripOffsets (273)", "SamplesPerPixel (277) SHORT (3) 1<3>",
                        "StripByteCounts (279)", "PlanarConfig (284) SHORT (3) 1<1>"}},
        {2, 48, true, {"SubFileType (254) SHORT (3) 1<0>", "ImageWidth (256)", "ImageLength (257)", "BitsPerSample (258) SHORT (3) 1<16>",
                       "Compression (259)", "Photometric (262)", "StripOffsets (273)", "SamplesPerPixel (277) SHORT (3) 1<4>",
                       "StripByteCounts (279)", "PlanarConfig (284)", "ExtraSamples (338) SHORT (3) 1<2>"}},
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
