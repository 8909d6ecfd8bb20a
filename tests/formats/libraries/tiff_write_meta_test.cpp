// The TIFF writer's metadata: EXIF directories moved behind the main
// directory and turned big-endian (read back by exiftool, thumbnail
// included), IPTC with its padding, XMP, ICC and the texts, each offset
// pointing at its data; which subtype writes what.
#include <tiffio.h>

#include <algorithm>
#include <functional>

#include "core/colour.h"
#include "core/exifiptc.h"
#include "formats/libraries/kxoTIFFInternal.h"
#include "tiff_helpers.h"

namespace {

using namespace tifftest;

// A little-endian EXIF block ("Exif", two zeros, an "II" TIFF header)
// laid out by hand: IFD0 with EXIF and GPS pointers and a link to IFD1,
// which points at a small JPEG thumbnail; the EXIF directory points at an
// interoperability directory.
struct ExifBlock {
    Bytes b;
    size_t ifd(size_t count) {
        const size_t at = b.size();
        b.resize(at + 2 + 12 * count + 4, 0);
        b[at] = (uint8_t)count;
        return at;
    }
    static void le16(Bytes& v, size_t at, uint32_t x) {
        v[at] = (uint8_t)x;
        v[at + 1] = (uint8_t)(x >> 8);
    }
    static void le32(Bytes& v, size_t at, uint32_t x) {
        le16(v, at, x & 0xFFFF);
        le16(v, at + 2, x >> 16);
    }
    uint32_t tiffOffset(size_t at) const { return (uint32_t)(at - 6); }
    size_t data(const Bytes& d) {
        const size_t at = b.size();
        b.insert(b.end(), d.begin(), d.end());
        if (b.size() & 1) b.push_back(0);
        return at;
    }
    void entry(size_t dir, int i, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        const size_t e = dir + 2 + 12 * i;
        le16(b, e, tag);
        le16(b, e + 2, type);
        le32(b, e + 4, count);
        le32(b, e + 8, value);
    }
    void link(size_t dir, size_t count, uint32_t next) { le32(b, dir + 2 + 12 * count, next); }
};

const Bytes kThumb = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x04, 0x00, 0x00, 0xFF, 0xD9};

Bytes MakeExif() {
    ExifBlock e;
    e.b = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0};
    const size_t ifd0 = e.ifd(6);
    const size_t exif = e.ifd(4);
    const size_t interop = e.ifd(1);
    const size_t gps = e.ifd(2);
    const size_t ifd1 = e.ifd(3);
    auto text = [](const char* s) { return Bytes(s, s + strlen(s) + 1); };
    const size_t make = e.data(text("Kaxon5 Test Camera"));
    Bytes res(8);
    ExifBlock::le32(res, 0, 72);
    ExifBlock::le32(res, 4, 1);
    const size_t xres = e.data(res);
    Bytes exposure(8);
    ExifBlock::le32(exposure, 0, 1);
    ExifBlock::le32(exposure, 4, 250);
    const size_t expo = e.data(exposure);
    const size_t date = e.data(text("2021:03:04 05:06:07"));
    Bytes lat(24);
    for (int i = 0; i < 3; ++i) {
        ExifBlock::le32(lat, i * 8, (uint32_t)(48 + i * 10));
        ExifBlock::le32(lat, i * 8 + 4, 1);
    }
    const size_t latAt = e.data(lat);
    const size_t thumb = e.data(kThumb);

    e.entry(ifd0, 0, 271, 2, 19, e.tiffOffset(make));
    e.entry(ifd0, 1, 272, 2, 3, 'M' | '1' << 8);
    e.entry(ifd0, 2, 274, 3, 1, 6);
    e.entry(ifd0, 3, 282, 5, 1, e.tiffOffset(xres));
    e.entry(ifd0, 4, 34665, 4, 1, e.tiffOffset(exif));
    e.entry(ifd0, 5, 34853, 4, 1, e.tiffOffset(gps));
    e.link(ifd0, 6, e.tiffOffset(ifd1));
    e.entry(exif, 0, 33434, 5, 1, e.tiffOffset(expo));
    e.entry(exif, 1, 34855, 3, 1, 200);
    e.entry(exif, 2, 36867, 2, 20, e.tiffOffset(date));
    e.entry(exif, 3, 40965, 4, 1, e.tiffOffset(interop));
    e.entry(interop, 0, 1, 2, 4, 'R' | '9' << 8 | '8' << 16);
    e.entry(gps, 0, 1, 2, 2, 'N');
    e.entry(gps, 1, 2, 5, 3, e.tiffOffset(latAt));
    e.entry(ifd1, 0, 259, 3, 1, 6);
    e.entry(ifd1, 1, 513, 4, 1, e.tiffOffset(thumb));
    e.entry(ifd1, 2, 514, 4, 1, (uint32_t)kThumb.size());
    return e.b;
}

Bytes MakeIptc(const std::string& keyword) {
    Bytes r = {0x1C, 2, 0, 0, 2, 0, 4};
    r.insert(r.end(), {0x1C, 2, 25, 0, (uint8_t)keyword.size()});
    r.insert(r.end(), keyword.begin(), keyword.end());
    Bytes b(26);
    memcpy(b.data(), "Photoshop 3.0\0008BIM\004\004\0\0", 22);
    b[24] = (uint8_t)(r.size() >> 8);
    b[25] = (uint8_t)r.size();
    b.insert(b.end(), r.begin(), r.end());
    return b;
}

Bytes MakeProfile() {
    uint8_t* p = nullptr;
    uint32_t n = 0;
    EXPECT_EQ(KXSUP_CreateCMSProfileGamma(256, 0.45455, &p, &n), KXERR_NONE);
    Bytes v(p, p + n);
    FreeVec(p);
    return v;
}

struct Meta {
    Bytes exif = MakeExif(), iptc = MakeIptc("kaxon"), icc = MakeProfile();
    std::string xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
                      "<rdf:Description xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:format>image/tiff</dc:format>"
                      "</rdf:Description></rdf:RDF></x:xmpmeta>";
    KXOSpecialInfo info = {};
    Meta() {
        info.Version = 1;
        info.Copy = const_cast<char*>("(c) Kaxon5 tests");
        info.Auth = const_cast<char*>("Bob");  // four bytes with its zero: held in the entry
        info.Anno = const_cast<char*>("a description");
        info.Name = const_cast<char*>("a document");
        info.Exif = exif.data();
        info.ExifSize = (uint32_t)exif.size();
        info.Iptc = iptc.data();
        info.IptcSize = (uint32_t)iptc.size();
        info.Xmp0 = reinterpret_cast<uint8_t*>(xmp.data());
        info.Xmp0Size = (uint32_t)xmp.size();
        info.IccData = icc.data();
        info.IccSize = (uint32_t)icc.size();
    }
};

std::string Tag(const std::string& tags, const std::string& path) {
    std::string v = Capture("exiftool -s3 " + tags + " " + path);
    while (!v.empty() && (v.back() == '\n' || v.back() == '\r')) v.pop_back();
    return v;
}

// The same block in big-endian order, as libexif writes it.
void MakeBigEndian(Meta& m) {
    uint8_t* big = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(KX_ExifWithByteOrder(m.exif.data(), (uint32_t)m.exif.size(), false, &big, &size), 0u);
    ASSERT_EQ(big[6], 'M');
    m.exif.assign(big, big + size);
    FreeVec(big);
    m.info.Exif = m.exif.data();
    m.info.ExifSize = size;
}

// Everything exiftool shows of a V6.0 file with every block, for both
// palette and RGB pictures and both byte orders of the EXIF block: each
// offset points at its data.
TEST(TiffWriteMeta, ExiftoolReadsEveryBlock) {
    if (!KXT_HaveTool("exiftool")) GTEST_SKIP() << "exiftool missing";
    for (int run = 0; run < 4; ++run) {
        const uint32_t depth = run & 1 ? 24 : 8;
        const bool big = run >= 2;
        SCOPED_TRACE("depth " + std::to_string(depth) + (big ? ", big-endian EXIF" : ""));
        Meta m;
        if (big) MakeBigEndian(m);
        Buffer img = MakeImage(depth, 7, 5);
        const std::string path = TempPath("meta.tif");
        Tiff t;
        ASSERT_EQ(t.Save(img.get(), path, &m.info, 1), KXERR_NONE);
        EXPECT_EQ(Tag("-IFD0:Copyright", path), "(c) Kaxon5 tests");
        EXPECT_EQ(Tag("-IFD0:Artist", path), "Bob");
        EXPECT_EQ(Tag("-IFD0:ImageDescription", path), "a description");
        EXPECT_EQ(Tag("-IFD0:DocumentName", path), "a document");
        EXPECT_EQ(Tag("-Keywords", path), "kaxon");
        EXPECT_EQ(Tag("-XMP:Format", path), "image/tiff");
        EXPECT_EQ(Tag("-ICC_Profile:ProfileClass", path), "Display Device Profile");
        EXPECT_EQ(Tag("-Make", path), "Kaxon5 Test Camera");
        EXPECT_EQ(Tag("-Model", path), "M1");
        EXPECT_EQ(Tag("-ExposureTime", path), "1/250");
        EXPECT_EQ(Tag("-ISO", path), "200");
        EXPECT_EQ(Tag("-DateTimeOriginal", path), "2021:03:04 05:06:07");
        EXPECT_EQ(Tag("-InteropIndex", path), "R98 - DCF basic file (sRGB)");
        EXPECT_EQ(Tag("-GPSLatitude", path), "48 deg 59' 8.00\" N");
        // The second EXIF directory (the thumbnail's) follows the first one's
        // link, and its offset points at the thumbnail.
        const Bytes f = KXT_ReadBytes(path);
        auto be16 = [&](size_t at) { return at + 2 <= f.size() ? (uint32_t)(f[at] << 8 | f[at + 1]) : 0u; };
        auto be32 = [&](size_t at) { return be16(at) << 16 | be16(at + 2); };
        auto entry = [&](uint32_t dir, uint32_t tag) -> uint32_t {
            for (uint32_t i = 0, n = be16(dir); i < n; ++i)
                if (be16(dir + 2 + 12 * i) == tag) return be32(dir + 2 + 12 * i + 8);
            return 0;
        };
        const uint32_t exifDir = entry(8, 34665);
        const uint32_t ifd1 = be32(exifDir + 2 + 12 * be16(exifDir));
        ASSERT_NE(ifd1, 0u);
        const uint32_t thumbAt = entry(ifd1, 513), thumbLength = entry(ifd1, 514);
        ASSERT_EQ(thumbLength, kThumb.size());
        ASSERT_LE(thumbAt + thumbLength, f.size());
        EXPECT_EQ(Bytes(f.begin() + thumbAt, f.begin() + thumbAt + thumbLength), kThumb);
        // No error, and nothing that points where it should not.
        const std::string validate = Capture("exiftool -validate -warning -error -a " + path);
        for (const char* word : {"Error", "Bad", "nvalid", "outside", "overlap", "Suspicious"})
            EXPECT_EQ(validate.find(word), std::string::npos) << word << "\n" << validate;
        EXPECT_EQ(Capture("tiffinfo " + path).find("rror"), std::string::npos);
        remove(path.c_str());
    }
}

// The IPTC records as LONG values: zero bytes up to the next multiple of
// four, none when the records already end there.
TEST(TiffWriteMeta, IptcPadding) {
    for (size_t extra = 0; extra < 8; ++extra) {
        Meta m;
        m.iptc = MakeIptc(std::string(4 + extra, 'k'));
        m.info.Iptc = m.iptc.data();
        m.info.IptcSize = (uint32_t)m.iptc.size();
        const uint32_t records = (uint32_t)m.iptc.size() - 26;
        Buffer img = MakeImage(24, 2, 2);
        const std::string path = TempPath("iptc.tif");
        Tiff t;
        ASSERT_EQ(t.Save(img.get(), path, &m.info, 1), KXERR_NONE);
        TIFF* tif = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(tif, nullptr);
        uint32_t count = 0;
        uint8_t* data = nullptr;
        ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_RICHTIFFIPTC, &count, &data));
        // libtiff 4.5 hands the count of 4-byte values.
        const uint32_t padded = (records + 3) / 4 * 4;
        // libtiff hands the bytes with each LONG in host order: turned back
        // here, they are the records as written.
        ASSERT_EQ(count, padded) << records;
        Bytes back(data, data + count);
        for (uint32_t i = 0; i + 4 <= count; i += 4) std::reverse(back.begin() + i, back.begin() + i + 4);
        EXPECT_EQ(memcmp(back.data(), m.iptc.data() + 26, records), 0);
        for (uint32_t i = records; i < padded; ++i) EXPECT_EQ(back[i], 0) << i;
        TIFFClose(tif);
        remove(path.c_str());
    }
}

// Which blocks each subtype and key writes.
TEST(TiffWriteMeta, SubtypesAndKeys) {
    if (!KXT_HaveTool("tiffdump")) GTEST_SKIP() << "tiffdump missing";
    struct Row {
        const char* name;
        uint32_t subtype;
        Settings settings;
        bool bigExif;  // the EXIF block is big-endian
        std::vector<std::string> present, absent;
    };
    const Row rows[] = {
        {"V5.0", 0, {}, false, {"33432", "315", "270", "269"}, {"700", "33723", "34675", "34665", "330", "254"}},
        {"V6.0", 1, {}, false, {"254", "700", "33723", "34675", "34665", "33432"}, {"330"}},
        {"EP", 2, {}, false, {"254", "700", "33723", "34675", "330"}, {"34665"}},
        {"no EXIF key", 1, {{"WRITE_EXIF", "off"}}, false, {"700", "34675"}, {"34665"}},
        {"big-endian EXIF", 1, {}, true, {"700", "34665"}, {"330"}},
        {"other subtype", 7, {}, false, {"700", "33723"}, {"254", "34665", "330"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Meta m;
        if (r.bigExif) MakeBigEndian(m);
        Buffer img = MakeImage(24, 3, 3);
        const std::string path = TempPath("sub.tif");
        Tiff t(r.settings);
        ASSERT_EQ(t.Save(img.get(), path, &m.info, r.subtype), KXERR_NONE);
        const std::string dump = Capture("tiffdump " + path);
        // tiffdump names a tag it knows "Name (n)", any other "n (0x...)".
        auto has = [&](const std::string& n) {
            return dump.find("(" + n + ")") != std::string::npos || dump.find("\n" + n + " (0x") != std::string::npos;
        };
        for (const std::string& s : r.present) EXPECT_TRUE(has(s)) << s << "\n" << dump;
        for (const std::string& s : r.absent) EXPECT_FALSE(has(s)) << s << "\n" << dump;
        remove(path.c_str());
    }
}

// Blocks shorter than their headers are passed over; a packet is written
// with its own size only: the second one when the first has no size, the
// first one when both are there.
TEST(TiffWriteMeta, ShortBlocksAndXmpChoice) {
    for (bool firstHasSize : {false, true}) {
        SCOPED_TRACE(firstHasSize ? "both packets" : "first packet without a size");
        Meta m;
        Bytes shortExif = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0};
        Bytes shortIptc(20, 0);
        m.info.Exif = shortExif.data();
        m.info.ExifSize = (uint32_t)shortExif.size();
        m.info.Iptc = shortIptc.data();
        m.info.IptcSize = (uint32_t)shortIptc.size();
        std::string second = "<second/>";
        if (!firstHasSize) m.info.Xmp0Size = 0;
        m.info.Xmp1 = reinterpret_cast<uint8_t*>(second.data());
        m.info.Xmp1Size = (uint32_t)second.size();
        Buffer img = MakeImage(24, 3, 3);
        const std::string path = TempPath("short.tif");
        Tiff t;
        ASSERT_EQ(t.Save(img.get(), path, &m.info, 1), KXERR_NONE);
        TIFF* tif = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(tif, nullptr);
        uint32_t count = 0;
        uint8_t* data = nullptr;
        EXPECT_FALSE(TIFFGetField(tif, TIFFTAG_RICHTIFFIPTC, &count, &data));
        uint64_t exifOffset = 0;
        EXPECT_FALSE(TIFFGetField(tif, TIFFTAG_EXIFIFD, &exifOffset));
        ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_XMLPACKET, &count, &data));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(data), count), firstHasSize ? m.xmp : second);
        TIFFClose(tif);
        remove(path.c_str());
    }
}

// An EXIF block whose first directory runs past its end is not written;
// one whose EXIF pointer leads outside keeps its first directory, with the
// pointer cut to 0.
TEST(TiffWriteMeta, BrokenExifDirectories) {
    struct Case {
        const char* name;
        std::function<void(Bytes&)> damage;
        bool written;
    };
    const Case cases[] = {
        {"entry count past the end", [](Bytes& e) { e[14] = 0xFF; }, false},
        {"EXIF pointer outside", [](Bytes& e) { ExifBlock::le32(e, 14 + 2 + 12 * 4 + 8, 0x7FFFFFF0); }, true},
        {"next link to itself", [](Bytes& e) { ExifBlock::le32(e, 14 + 2 + 12 * 6, 8); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Meta m;
        c.damage(m.exif);
        Buffer img = MakeImage(24, 3, 3);
        const std::string path = TempPath("broken.tif");
        Tiff t;
        ASSERT_EQ(t.Save(img.get(), path, &m.info, 1), KXERR_NONE);
        TIFF* tif = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(tif, nullptr);
        uint64_t exifOffset = 0;
        EXPECT_EQ(TIFFGetField(tif, TIFFTAG_EXIFIFD, &exifOffset) != 0, c.written);
        TIFFClose(tif);
        if (c.written && KXT_HaveTool("exiftool")) {
            EXPECT_EQ(Tag("-Make", path), "Kaxon5 Test Camera");
        }
        remove(path.c_str());
    }
}

}  // namespace

namespace {

// Metadata written by us comes back through our reader on both roads
// (uncompressed: the own strip reader; Deflate: libtiff), and after
// exiftool has changed the file.
TEST(TiffWriteMeta, RoundTripThroughOursAndExiftool) {
    for (const char* deflate : {"OFF", "ON"}) {
        for (bool exiftool : {false, true}) {
            if (exiftool && !KXT_HaveTool("exiftool")) continue;
            SCOPED_TRACE(std::string("deflate ") + deflate + (exiftool ? ", changed by exiftool" : ""));
            Meta m;
            Buffer img = MakeImage(24, 6, 4);
            const std::string path = TempPath("roundtrip.tif");
            Tiff w(Settings{{"WRITE_DEFLATE", deflate}});
            ASSERT_EQ(w.Save(img.get(), path, &m.info, 1), KXERR_NONE);
            if (exiftool) {
                ASSERT_EQ(RunTool("exiftool -q -overwrite_original -IFD0:Artist=Carol -IPTC:Keywords+=second " + path), 0);
            }
            KXTiffTestSeam seam;
            Tiff r;
            ASSERT_EQ(r.Load(path, true), KXERR_NONE);
            EXPECT_EQ(seam.LastRoad, strcmp(deflate, "ON") == 0 ? (uint32_t)KXTiffTestSeam::ROAD_LIBTIFF
                                                                : (uint32_t)KXTiffTestSeam::ROAD_OWN);
            const KXOSpecialInfo* info = r.obj.GetSpecialInfo();
            ASSERT_NE(info, nullptr);
            EXPECT_STREQ(info->Copy, "(c) Kaxon5 tests");
            EXPECT_STREQ(info->Auth, exiftool ? "Carol" : "Bob");
            EXPECT_STREQ(info->Anno, "a description");
            EXPECT_STREQ(info->Name, "a document");
            ASSERT_NE(info->Xmp0, nullptr);
            EXPECT_NE(std::string(reinterpret_cast<char*>(info->Xmp0)).find("image/tiff"), std::string::npos);
            ASSERT_EQ(info->IccSize, m.icc.size());
            EXPECT_EQ(memcmp(info->IccData, m.icc.data(), m.icc.size()), 0);
            ASSERT_NE(info->Iptc, nullptr);
            const Bytes iptc(info->Iptc, info->Iptc + info->IptcSize);
            EXPECT_TRUE(pngtest::Contains(iptc, "kaxon"));
            if (exiftool) {
                EXPECT_TRUE(pngtest::Contains(iptc, "second"));
            }
            EXPECT_EQ(info->SubFormat, 1u);
            remove(path.c_str());
        }
    }
}

}  // namespace
