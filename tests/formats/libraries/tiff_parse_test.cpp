// The TIFF reader's pre-parser and the metadata it reads without libtiff,
// on files made byte by byte: refusals, pages, blocks that point past the
// end of the file, XMP sizes, IPTC byte order, ICC and colorimetry.
#include <functional>

#include "formats/libraries/kxoTIFFInternal.h"
#include "tiff_helpers.h"

namespace {

using namespace tifftest;

// A 2 x 2 8-bit grey picture (own reader road) with extra tags.
TiffBuilder Grey(bool big = false) {
    TiffBuilder t;
    t.big = big;
    t.pixels = {10, 20, 30, 40};
    t.addShort(256, 2);
    t.addShort(257, 2);
    t.addShort(258, 8);
    t.addShort(259, 1);
    t.addShort(262, 1);
    t.addLong(273, TiffBuilder::kPixels);
    t.addShort(277, 1);
    t.addLong(279, 4);
    return t;
}

// Two pages: the second directory follows the first one's data.
Bytes TwoPages() {
    Bytes f = Grey().build();
    // Link the first directory (at 12) to a copy of it with other pixels.
    const uint32_t second = (uint32_t)f.size();
    TiffBuilder g = Grey();
    g.tags[5].data = g.longs({second + 2 + 12 * 8 + 4});
    Bytes dir;
    g.put16(dir, 8);
    for (const Tag& t : g.tags) {
        g.put16(dir, t.tag);
        g.put16(dir, t.type);
        g.put32(dir, t.count);
        Bytes v = t.data;
        v.resize(4, 0);
        dir.insert(dir.end(), v.begin(), v.end());
    }
    g.put32(dir, 0);
    for (uint8_t v : {50, 60, 70, 80}) dir.push_back(v);
    f.insert(f.end(), dir.begin(), dir.end());
    const size_t link = 12 + 2 + 12 * 8;
    f[link] = (uint8_t)second;
    f[link + 1] = (uint8_t)(second >> 8);
    return f;
}

struct Case {
    const char* name;
    std::function<Bytes()> make;
    Settings settings;
    uint32_t code;
};

TEST(TiffParse, RefusalsAndPages) {
    const Case cases[] = {
        {"header of 7 bytes", [] { return Bytes{'I', 'I', 42, 0, 8, 0, 0}; }, {}, KXERR_DECODE},
        {"BigTIFF", [] { return Bytes{'I', 'I', 43, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}; }, {}, KXERR_FILEREQUIREMENTS},
        {"directory past the end", [] { return Bytes{'M', 'M', 0, 42, 0, 0, 1, 0}; }, {}, KXERR_EOF},
        {"two of the required tags", [] {
             TiffBuilder t;
             t.pixels = {1};
             t.addShort(256, 1);
             t.addShort(257, 1);
             return t.build();
         }, {}, KXERR_DECODE},
        {"entries cut short", [] {
             Bytes f = Grey().build();
             f.resize(12 + 2 + 12 * 3 + 5);
             return f;
         }, {}, KXERR_EOF},
        {"page 1 of two", TwoPages, {{"PAGENUMBER", "1"}}, KXERR_NONE},
        {"page 2 of two", TwoPages, {{"PAGENUMBER", "2"}}, KXERR_EOF},
        {"page 5 of one whose link points at itself", [] {
             Bytes f = Grey().build();
             f[12 + 2 + 12 * 8] = 12;
             return f;
         }, {{"PAGENUMBER", "5"}}, KXERR_EOF},
        {"page 1000000 of two that link to each other", [] {
             Bytes f = TwoPages();
             const size_t secondLink = f.size() - 4 - 4;  // before the second page's four pixels
             f[secondLink] = 12;
             return f;
         }, {{"PAGENUMBER", "1000000"}}, KXERR_EOF},
        {"strip table past the end", [] {
             TiffBuilder t = Grey();
             t.tags[5] = {273, 4, 1000, t.longs({40})};
             return t.build();
         }, {}, KXERR_EOF},
        {"XMP past the end", [] {
             TiffBuilder t = Grey();
             t.add(700, 1, 100000, t.longs({20}));
             return t.build();
         }, {}, KXERR_EOF},
        {"IPTC past the end", [] {
             TiffBuilder t = Grey();
             t.add(33723, 4, 50000, t.longs({20}));
             return t.build();
         }, {}, KXERR_EOF},
        {"ICC profile past the end", [] {
             TiffBuilder t = Grey();
             t.add(34675, 7, 70000, t.longs({20}));
             return t.build();
         }, {}, KXERR_EOF},
        {"transfer function past the end", [] {
             TiffBuilder t = Grey();
             t.add(301, 3, 256, t.longs({20}));
             return t.build();
         }, {}, KXERR_EOF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = TempPath("parse.tif");
        ASSERT_TRUE(KXT_WriteBytes(path, c.make()));
        Tiff t(c.settings);
        EXPECT_EQ(t.Load(path, true), c.code);
        if (c.code == KXERR_NONE) {
            ASSERT_NE(t.Image(), nullptr);
            EXPECT_EQ(t.Image()->Data[0], 50);  // the second page's pixels
        } else {
            EXPECT_EQ(t.Image(), nullptr);
        }
        remove(path.c_str());
    }
}

// A packet of up to 65502 bytes is the first packet, a longer one the second.
TEST(TiffParse, XmpSizes) {
    for (uint32_t length : {65502u, 65503u}) {
        TiffBuilder t = Grey();
        std::string xmp(length, 'x');
        t.add(700, 1, length, Bytes(xmp.begin(), xmp.end()));
        const std::string path = TempPath("xmp.tif");
        ASSERT_TRUE(KXT_WriteBytes(path, t.build()));
        Tiff r;
        ASSERT_EQ(r.Load(path, true), KXERR_NONE);
        const KXObject& o = r.obj;
        if (length == 65502) {
            ASSERT_NE(o.Xmp0, nullptr);
            EXPECT_EQ(o.Xmp1, nullptr);
            EXPECT_EQ(o.Xmp0Size, length);
            EXPECT_EQ(o.Xmp0[length], 0);
        } else {
            EXPECT_EQ(o.Xmp0, nullptr);
            ASSERT_NE(o.Xmp1, nullptr);
            EXPECT_EQ(o.Xmp1Size, length);
        }
        remove(path.c_str());
    }
}

// IPTC stored as LONG values holds the records' bytes as they are, in both
// byte orders (as image editors write it); the texts fill the record.
TEST(TiffParse, LongIptcInBothByteOrders) {
    Bytes records = {0x1C, 2, 116, 0, 5, 'M', 'i', 'n', 'e', '!', 0x1C, 2, 80, 0, 3, 'B', 'o', 'b'};
    while (records.size() % 4) records.push_back(0);
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "MM" : "II");
        TiffBuilder t = Grey(big);
        t.add(33723, 4, (uint32_t)records.size() / 4, records);
        const std::string path = TempPath("iptc.tif");
        ASSERT_TRUE(KXT_WriteBytes(path, t.build()));
        Tiff r;
        ASSERT_EQ(r.Load(path, true), KXERR_NONE);
        const KXObject& o = r.obj;
        ASSERT_EQ(o.IptcSize, 26 + records.size());
        EXPECT_EQ(memcmp(o.Iptc, "Photoshop 3.0\0008BIM\004\004\0\0", 22), 0);
        EXPECT_EQ(o.Iptc[25], records.size());
        EXPECT_EQ(memcmp(o.Iptc + 26, records.data(), records.size()), 0);
        EXPECT_STREQ(o.Copy, "Mine!");
        EXPECT_STREQ(o.Auth, "Bob");
        KXOSpecialInfo* info = r.obj.GetSpecialInfo();
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->SubFormat, 1u);  // "V6.0"
        EXPECT_STREQ(info->Compression, "TIFF:None");
        remove(path.c_str());

        // Not read without metadata loading, nor with READ_IPTC off.
        ASSERT_TRUE(KXT_WriteBytes(path, t.build()));
        Tiff off(Settings{{"READ_IPTC", "OFF"}});
        ASSERT_EQ(off.Load(path, true), KXERR_NONE);
        EXPECT_EQ(off.obj.Iptc, nullptr);
        Tiff none;
        ASSERT_EQ(none.Load(path, false), KXERR_NONE);
        EXPECT_EQ(none.obj.Iptc, nullptr);
        remove(path.c_str());
    }
}

// An embedded profile is read whole; without one, white point and
// primaries make a profile, with the file's transfer function of any
// length or the default curve.
TEST(TiffParse, ProfilesWithoutLibtiff) {
    auto rationals = [](TiffBuilder& t, uint16_t tag, std::initializer_list<double> v) {
        Bytes b;
        for (double x : v) {
            t.put32(b, (uint32_t)(x * 100000 + 0.5));
            t.put32(b, 100000);
        }
        t.add(tag, 5, (uint32_t)v.size(), b);
    };
    struct Row {
        const char* name;
        uint32_t transferLength;  // 0: none
        bool embedded;
        const char* profileName;
        uint32_t type;
    };
    const Row rows[] = {
        {"embedded", 0, true, "TICC ICC Profile", 0},
        {"default curve", 0, false, "ICC Profile / TIFF colorimetric tag based", 3},
        {"transfer function of 256", 256, false, "ICC Profile / TIFF colorimetric tag based", 3},
        {"transfer function of 17", 17, false, "ICC Profile / TIFF colorimetric tag based", 3},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TiffBuilder t = Grey(true);
        rationals(t, 318, {0.3127, 0.329});
        rationals(t, 319, {0.64, 0.33, 0.3, 0.6, 0.15, 0.06});
        if (r.transferLength) {
            std::vector<uint32_t> curve;
            for (uint32_t i = 0; i < r.transferLength; ++i) curve.push_back(i * 65535 / (r.transferLength - 1));
            t.addShorts(301, curve);
        }
        Bytes profile(200);
        for (size_t i = 0; i < profile.size(); ++i) profile[i] = (uint8_t)i;
        if (r.embedded) t.add(34675, 7, (uint32_t)profile.size(), profile);
        const std::string path = TempPath("icc.tif");
        ASSERT_TRUE(KXT_WriteBytes(path, t.build()));
        Tiff in;
        ASSERT_EQ(in.Load(path, true), KXERR_NONE);
        const KXObject& o = in.obj;
        ASSERT_NE(o.IccData, nullptr);
        EXPECT_STREQ(o.IccName, r.profileName);
        EXPECT_EQ(o.IccType, r.type);
        if (r.embedded) {
            ASSERT_EQ(o.IccSize, profile.size());
            EXPECT_EQ(memcmp(o.IccData, profile.data(), profile.size()), 0);
        } else {
            EXPECT_EQ(memcmp(o.IccData + 36, "acsp", 4), 0);
        }
        remove(path.c_str());
    }
}

}  // namespace

namespace {

using namespace tifftest;

// IS_EXIF: the file is an EXIF block in TIFF form; its JPEG thumbnail is
// the picture, decoded by the JFIF module. Without a thumbnail: 15.
TEST(TiffParse, ExifThumbnail) {
    if (!KXT_HaveTool("cjpeg") || !KXT_HaveTool("djpeg")) GTEST_SKIP() << "cjpeg or djpeg missing";
    const std::string ppm = TempPath("thumb.ppm"), jpg = TempPath("thumb.jpg"), back = TempPath("thumb_back.ppm");
    ASSERT_TRUE(KXT_WriteBytes(ppm, pngtest::MakePnm(true, 16, 8, 255, [](uint32_t i) { return i * 5; })));
    // The JFIF module decodes with the fast DCT.
    ASSERT_EQ(RunTool("cjpeg -quality 95 " + ppm + " > " + jpg + " && djpeg -dct fast " + jpg + " > " + back), 0);
    const Bytes jpeg = KXT_ReadBytes(jpg);
    for (bool withThumbnail : {true, false}) {
        TiffBuilder t;
        t.pixels = jpeg;
        t.addShort(256, 16);
        t.addShort(257, 8);
        t.addShort(259, 6);
        if (withThumbnail) {
            t.addLong(513, TiffBuilder::kPixels);
            t.addLong(514, (uint32_t)jpeg.size());
        }
        const std::string path = TempPath("exif.tif");
        ASSERT_TRUE(KXT_WriteBytes(path, t.build()));
        KXTiffTestSeam seam;
        Tiff r(Settings{{"IS_EXIF", "true"}});
        if (!withThumbnail) {
            EXPECT_EQ(r.Load(path, true), KXERR_FILEREQUIREMENTS);
            remove(path.c_str());
            continue;
        }
        ASSERT_EQ(r.Load(path, true), KXERR_NONE);
        EXPECT_EQ(seam.LastRoad, (uint32_t)KXTiffTestSeam::ROAD_THUMBNAIL);
        KX_GfxBuffer* b = r.Image();
        ASSERT_NE(b, nullptr);
        Pnm want;
        ASSERT_TRUE(ReadPnm(back, &want));
        ASSERT_EQ(b->Width, want.width);
        for (uint32_t i = 0; i < want.width * want.height; ++i)
            for (int c = 0; c < 3; ++c) ASSERT_EQ(Sample(b, i, c), want.rgb[i * 3 + c]) << i;
        EXPECT_STREQ(r.obj.Compression, "TIFF:OJPEG");
        remove(path.c_str());
    }
    for (const std::string& f : {ppm, jpg, back}) remove(f.c_str());
}

// IS_EXIF on real EXIF blocks: exiftool's copy of a camera-like JPEG's
// block (camera directory first, the thumbnail in the second directory),
// in both byte orders.
TEST(TiffParse, ExifBlocksFromExiftool) {
    for (const char* tool : {"cjpeg", "djpeg", "exiftool"})
        if (!KXT_HaveTool(tool)) GTEST_SKIP() << tool << " missing";
    const std::string big = TempPath("cam.ppm"), small = TempPath("cam_thumb.ppm"), photo = TempPath("cam.jpg");
    const std::string thumb = TempPath("cam_thumb.jpg"), back = TempPath("cam_thumb_back.ppm"), block = TempPath("cam.exif");
    ASSERT_TRUE(KXT_WriteBytes(big, pngtest::MakePnm(true, 64, 48, 255, [](uint32_t i) { return i * 3; })));
    ASSERT_TRUE(KXT_WriteBytes(small, pngtest::MakePnm(true, 16, 12, 255, [](uint32_t i) { return i * 11; })));
    ASSERT_EQ(RunTool("cjpeg -quality 95 " + small + " > " + thumb + " && djpeg -dct fast " + thumb + " > " + back), 0);
    Pnm want;
    ASSERT_TRUE(ReadPnm(back, &want));
    for (const char* order : {"MM", "II"}) {
        SCOPED_TRACE(order);
        ASSERT_EQ(RunTool("cjpeg " + big + " > " + photo), 0);
        ASSERT_EQ(RunTool(std::string("exiftool -q -overwrite_original -ExifByteOrder=") + order +
                          " -Make=Kamera -Model=K1 -Orientation#=6 -ExposureTime=0.01 -FNumber=4 "
                          "-DateTimeOriginal='2021:02:03 04:05:06' '-ThumbnailImage<=" + thumb + "' " + photo),
                  0);
        ASSERT_EQ(RunTool("exiftool -b -EXIF " + photo + " > " + block), 0);
        const Bytes head = KXT_ReadBytes(block);
        ASSERT_GT(head.size(), 8u);
        ASSERT_EQ(head[0], (uint8_t)order[0]);
        KXTiffTestSeam seam;
        Tiff r(Settings{{"IS_EXIF", "TRUE"}});
        ASSERT_EQ(r.Load(block, true), KXERR_NONE);
        EXPECT_EQ(seam.LastRoad, (uint32_t)KXTiffTestSeam::ROAD_THUMBNAIL);
        const KX_GfxBuffer* b = r.Image();
        ASSERT_NE(b, nullptr);
        ASSERT_EQ(b->Width, want.width);
        ASSERT_EQ(b->Height, want.height);
        for (uint32_t i = 0; i < want.width * want.height; ++i)
            for (int c = 0; c < 3; ++c) ASSERT_EQ(Sample(b, i, c), want.rgb[i * 3 + c]) << i;
        // Without IS_EXIF the block is no picture.
        Tiff plain;
        EXPECT_NE(plain.Load(block), KXERR_NONE);
    }
    for (const std::string& f : {big, small, photo, thumb, back, block}) remove(f.c_str());
}

}  // namespace
