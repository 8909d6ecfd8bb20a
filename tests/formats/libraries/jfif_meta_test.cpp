// JPEG metadata markers: EXIF, IPTC, XMP and ICC written by us read back
// the same in ours and in exiftool; files tagged by exiftool and
// ImageMagick fill the record's texts, orientation and GPS summary; ICC
// chunks in any order, the XMP and marker size limits, APP13 without IPTC.
#include <libexif/exif-data.h>
#include <libexif/exif-utils.h>

#include "core/colour.h"
#include "jfif_helpers.h"

namespace {

using namespace jfiftest;

std::vector<uint8_t> Profile(double gamma = 0.45455) {
    uint8_t* p = nullptr;
    uint32_t n = 0;
    EXPECT_EQ(KXSUP_CreateCMSProfileGamma(256, gamma, &p, &n), KXERR_NONE);
    std::vector<uint8_t> v(p, p + n);
    FreeVec(p);
    return v;
}

// Bytes that look like a profile of any size (the reader does not parse them).
std::vector<uint8_t> Blob(uint32_t size, uint32_t seed) {
    std::vector<uint8_t> v(size);
    for (uint32_t i = 0; i < size; ++i) v[i] = (uint8_t)((i * 2654435761u + seed) >> 13);
    return v;
}

// An EXIF block made by libexif: entries of IFD0 as (tag, format, bytes).
struct Entry {
    ExifIfd ifd;
    uint16_t tag;
    ExifFormat format;
    std::vector<uint8_t> bytes;
};
std::vector<uint8_t> MakeExif(const std::vector<Entry>& entries) {
    ExifData* d = exif_data_new();
    exif_data_unset_option(d, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_set_byte_order(d, EXIF_BYTE_ORDER_INTEL);
    for (const Entry& e : entries) {
        ExifEntry* entry = exif_entry_new();
        entry->tag = (ExifTag)e.tag;
        entry->format = e.format;
        entry->components = e.bytes.size() / exif_format_get_size(e.format);
        entry->size = (unsigned)e.bytes.size();
        entry->data = static_cast<unsigned char*>(malloc(e.bytes.size()));
        memcpy(entry->data, e.bytes.data(), e.bytes.size());
        exif_content_add_entry(d->ifd[e.ifd], entry);
        exif_entry_unref(entry);
    }
    unsigned char* out = nullptr;
    unsigned int size = 0;
    exif_data_save_data(d, &out, &size);
    std::vector<uint8_t> v(out, out + size);
    free(out);
    exif_data_unref(d);
    return v;
}
std::vector<uint8_t> Text(const char* s) { return std::vector<uint8_t>(s, s + strlen(s) + 1); }
std::vector<uint8_t> IptcBlock(const std::vector<std::pair<uint8_t, std::string>>& datasets) {
    std::vector<uint8_t> records;
    for (const auto& [ds, text] : datasets) {
        records.insert(records.end(), {0x1C, 2, ds, (uint8_t)(text.size() >> 8), (uint8_t)text.size()});
        records.insert(records.end(), text.begin(), text.end());
    }
    std::vector<uint8_t> b(26, 0);
    memcpy(b.data(), "Photoshop 3.0\0008BIM\004\004", 20);
    b[24] = (uint8_t)(records.size() >> 8);
    b[25] = (uint8_t)records.size();
    b.insert(b.end(), records.begin(), records.end());
    return b;
}

std::string Exiftool(const std::string& args) {
    const std::string out = TempPath("exiftool.out");
    if (RunTool("LC_ALL=C exiftool " + args + " > " + out) != 0) return "";
    std::string s = KXT_ReadFile(out);
    remove(out.c_str());
    return s;
}

std::string Str(const char* s) { return s ? s : ""; }

TEST(JfifMeta, EverythingWrittenComesBackInOursAndExiftool) {
    const auto exif = MakeExif({{EXIF_IFD_0, 315, EXIF_FORMAT_ASCII, Text("An Artist")},
                                {EXIF_IFD_0, 274, EXIF_FORMAT_SHORT, {6, 0}},
                                {EXIF_IFD_0, 33432, EXIF_FORMAT_ASCII, Text("(c) Someone")}});
    const auto iptc = IptcBlock({{25, "keyword"}, {120, "A caption"}, {5, "Object"}});
    const std::string xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
                            "<rdf:Description xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:format>image/jpeg</dc:format>"
                            "</rdf:Description></rdf:RDF></x:xmpmeta>";
    const auto icc = Profile();
    KXOSpecialInfo info = {};
    info.Version = 1;
    info.Exif = const_cast<uint8_t*>(exif.data());
    info.ExifSize = (uint32_t)exif.size();
    info.Iptc = const_cast<uint8_t*>(iptc.data());
    info.IptcSize = (uint32_t)iptc.size();
    info.Xmp0 = reinterpret_cast<uint8_t*>(const_cast<char*>(xmp.c_str()));
    info.Xmp0Size = (uint32_t)xmp.size() + 1;  // kept with its zero, written without
    info.IccData = const_cast<uint8_t*>(icc.data());
    info.IccSize = (uint32_t)icc.size();

    const std::string path = TempPath("meta.jpg");
    Buffer img = MakeRgb(20, 10);
    Jfif s;
    ASSERT_EQ(s.Save(img.get(), path, &info), KXERR_NONE);
    // Order: EXIF, IPTC, XMP, ICC after the JFIF marker.
    std::vector<int> order;
    for (const auto& [marker, payload] : Markers(KXT_ReadBytes(path))) order.push_back(marker);
    EXPECT_EQ(order[0], 0xE0);
    EXPECT_EQ(order[1], 0xE1);
    EXPECT_EQ(order[2], 0xED);
    EXPECT_EQ(order[3], 0xE1);
    EXPECT_EQ(order[4], 0xE2);

    Jfif r;
    ASSERT_EQ(r.Load(path, true), KXERR_NONE);
    const KXOSpecialInfo* m = r.obj.GetSpecialInfo();
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->ExifSize, exif.size());
    EXPECT_EQ(memcmp(m->Exif, exif.data(), exif.size()), 0);
    ASSERT_EQ(m->IptcSize, iptc.size());
    EXPECT_EQ(memcmp(m->Iptc, iptc.data(), iptc.size()), 0);
    ASSERT_EQ(m->Xmp0Size, xmp.size());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(m->Xmp0)), xmp);
    ASSERT_EQ(m->IccSize, icc.size());
    EXPECT_EQ(memcmp(m->IccData, icc.data(), icc.size()), 0);
    EXPECT_EQ(Str(m->IccName), "JPEG ICCP Profile");
    EXPECT_EQ(m->IccType, 0u);
    // IPTC texts first, then EXIF for what is still empty.
    EXPECT_EQ(Str(m->Auth), "An Artist");
    // libexif's rendering names the photographer's and the editor's parts.
    EXPECT_EQ(Str(m->Copy).rfind("(c) Someone", 0), 0u) << Str(m->Copy);
    EXPECT_EQ(Str(m->Anno), "A caption");
    EXPECT_EQ(Str(m->Name), "Object");
    EXPECT_EQ(m->Orientation, 6u);

    // Saved again from the loaded record: the same blocks.
    const std::string again = TempPath("meta_again.jpg");
    Jfif s2;
    ASSERT_EQ(s2.Save(r.Image(), again, const_cast<KXOSpecialInfo*>(m)), KXERR_NONE);
    Jfif r2;
    ASSERT_EQ(r2.Load(again, true), KXERR_NONE);
    const KXOSpecialInfo* m2 = r2.obj.GetSpecialInfo();
    EXPECT_EQ(m2->ExifSize, m->ExifSize);
    EXPECT_EQ(m2->IptcSize, m->IptcSize);
    EXPECT_EQ(m2->Xmp0Size, m->Xmp0Size);
    EXPECT_EQ(m2->IccSize, m->IccSize);

    if (KXT_HaveTool("exiftool")) {
        const std::string j = Exiftool("-j -Artist -Copyright -Orientation -n -Keywords -Caption-Abstract -Format " + again);
        EXPECT_NE(j.find("\"Artist\": \"An Artist\""), std::string::npos) << j;
        EXPECT_NE(j.find("\"Copyright\": \"(c) Someone\""), std::string::npos) << j;
        EXPECT_NE(j.find("\"Orientation\": 6"), std::string::npos) << j;
        EXPECT_NE(j.find("\"Keywords\": \"keyword\""), std::string::npos) << j;
        EXPECT_NE(j.find("\"Caption-Abstract\": \"A caption\""), std::string::npos) << j;
        EXPECT_NE(j.find("\"Format\": \"image/jpeg\""), std::string::npos) << j;
        const std::string profile = TempPath("icc.out");
        ASSERT_EQ(RunTool("exiftool -b -icc_profile " + again + " > " + profile), 0);
        EXPECT_EQ(KXT_ReadBytes(profile), icc);
        remove(profile.c_str());
    }
    remove(path.c_str());
    remove(again.c_str());
}

// A file tagged by exiftool: texts, orientation, the GPS summary.
TEST(JfifMeta, ExiftoolTagsFillTheRecord) {
    if (!KXT_HaveTool("exiftool")) GTEST_SKIP() << "exiftool missing";
    const std::string path = TempPath("tagged.jpg");
    ASSERT_TRUE(WriteLibjpeg(path, 24, 16, 3, JCS_YCbCr));
    ASSERT_EQ(RunTool("exiftool -q -overwrite_original -Model=CameraModel -Orientation#=6 -UserComment=Comment "
                      "-GPSLatitude=48.1234 -GPSLatitudeRef=N -GPSLongitude=11.5 -GPSLongitudeRef=E "
                      "-IPTC:By-line=Photographer -IPTC:Country-PrimaryLocationName=Land -IPTC:Source=Src "
                      "-XMP:Title=XmpTitle " + path),
              0);
    Jfif r;
    ASSERT_EQ(r.Load(path, true), KXERR_NONE);
    const KXOSpecialInfo* m = r.obj.GetSpecialInfo();
    EXPECT_EQ(Str(m->Auth), "Photographer");  // IPTC wins over the camera model
    EXPECT_EQ(Str(m->Anno), "Comment");
    EXPECT_EQ(Str(m->More3), "Land");
    EXPECT_EQ(Str(m->More4), "Src");
    EXPECT_EQ(m->Orientation, 6u);
    EXPECT_EQ(Str(m->More2), "GPS Lat 48.00\xC2\xB0 7.00' 24.24'' N Long 11.00\xC2\xB0 30.00' 0.00'' E ");
    ASSERT_NE(m->Xmp0, nullptr);
    EXPECT_NE(std::string(reinterpret_cast<char*>(m->Xmp0)).find("XmpTitle"), std::string::npos);
    // Only the camera model: it becomes the author.
    ASSERT_EQ(RunTool("exiftool -q -overwrite_original -IPTC:all= -UserComment= " + path), 0);
    Jfif r2;
    ASSERT_EQ(r2.Load(path, true), KXERR_NONE);
    EXPECT_EQ(Str(r2.obj.GetSpecialInfo()->Auth), "CameraModel");
    EXPECT_EQ(r2.obj.GetSpecialInfo()->Iptc, nullptr);
    remove(path.c_str());
}

// A GPS directory with only a date stamp still makes a summary; IPTC and
// XMP kept inside EXIF (tags 33723 and 700) become the record's blocks.
TEST(JfifMeta, GpsDateOnlyAndBlocksInsideExif) {
    const auto records = IptcBlock({{80, "Inner author"}});
    const std::vector<uint8_t> iptc(records.begin() + 26, records.end());
    const std::string packet = "<x:xmpmeta>inner</x:xmpmeta>";
    const auto exif = MakeExif({{EXIF_IFD_GPS, 29, EXIF_FORMAT_ASCII, Text("2020:01:02")},
                                {EXIF_IFD_0, 33723, EXIF_FORMAT_UNDEFINED, iptc},
                                {EXIF_IFD_0, 700, EXIF_FORMAT_BYTE, std::vector<uint8_t>(packet.begin(), packet.end())}});
    const std::string path = TempPath("inner.jpg");
    ASSERT_TRUE(WriteLibjpeg(path, 8, 8, 3, JCS_YCbCr, [&](j_compress_ptr c) {
        jpeg_write_marker(c, JPEG_APP0 + 1, exif.data(), (unsigned)exif.size());
    }));
    Jfif r;
    ASSERT_EQ(r.Load(path, true), KXERR_NONE);
    const KXOSpecialInfo* m = r.obj.GetSpecialInfo();
    EXPECT_EQ(Str(m->More2), "GPS  - 2020:01:02");
    ASSERT_EQ(m->IptcSize, records.size());
    EXPECT_EQ(memcmp(m->Iptc, records.data(), records.size()), 0);
    ASSERT_EQ(m->Xmp0Size, packet.size());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(m->Xmp0)), packet);
    remove(path.c_str());
}

// Chunks of 65519 bytes: 65519 is one marker, 65520 two; any order joins
// by sequence number; a missing, repeated or disagreeing chunk gives none.
TEST(JfifMeta, IccChunks) {
    const std::string path = TempPath("icc.jpg");
    Buffer img = MakeRgb(8, 8);
    for (uint32_t size : {65519u, 65520u}) {
        const auto profile = Blob(size, size);
        KXOSpecialInfo info = {};
        info.Version = 1;
        info.IccData = const_cast<uint8_t*>(profile.data());
        info.IccSize = size;
        Jfif s;
        ASSERT_EQ(s.Save(img.get(), path, &info), KXERR_NONE);
        std::vector<size_t> chunks;
        for (const auto& [marker, payload] : Markers(KXT_ReadBytes(path)))
            if (marker == 0xE2) chunks.push_back(payload.size() - 14);
        const std::vector<size_t> expected = size == 65519 ? std::vector<size_t>{65519} : std::vector<size_t>{65519, 1};
        EXPECT_EQ(chunks, expected);
        Jfif r;
        ASSERT_EQ(r.Load(path, true), KXERR_NONE);
        ASSERT_EQ(r.obj.GetSpecialInfo()->IccSize, size);
        EXPECT_EQ(memcmp(r.obj.GetSpecialInfo()->IccData, profile.data(), size), 0);
        if (KXT_HaveTool("exiftool")) {
            const std::string out = TempPath("icc_tool.out");
            ASSERT_EQ(RunTool("exiftool -b -icc_profile " + path + " > " + out), 0);
            EXPECT_EQ(KXT_ReadBytes(out), profile);
            remove(out.c_str());
        }
    }

    const auto profile = Blob(300, 7);
    auto chunk = [&](int seq, int count, size_t from, size_t length) {
        std::vector<uint8_t> p = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, (uint8_t)seq, (uint8_t)count};
        p.insert(p.end(), profile.begin() + from, profile.begin() + from + length);
        return p;
    };
    struct Case {
        const char* name;
        std::vector<std::vector<uint8_t>> markers;
        bool complete;
    } cases[] = {
        {"reversed", {chunk(3, 3, 200, 100), chunk(1, 3, 0, 120), chunk(2, 3, 120, 80)}, true},
        {"missing", {chunk(1, 3, 0, 120), chunk(3, 3, 200, 100)}, false},
        {"repeated", {chunk(1, 2, 0, 120), chunk(1, 2, 0, 120), chunk(2, 2, 120, 180)}, false},
        {"counts", {chunk(1, 2, 0, 120), chunk(2, 3, 120, 180)}, false},
        {"zero", {chunk(0, 1, 0, 300)}, false},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteLibjpeg(path, 8, 8, 3, JCS_YCbCr, [&](j_compress_ptr cinfo) {
            for (const auto& m : c.markers) jpeg_write_marker(cinfo, JPEG_APP0 + 2, m.data(), (unsigned)m.size());
        }));
        Jfif r;
        ASSERT_EQ(r.Load(path, true), KXERR_NONE) << c.name;
        const KXOSpecialInfo* m = r.obj.GetSpecialInfo();
        if (c.complete) {
            ASSERT_EQ(m->IccSize, profile.size()) << c.name;
            EXPECT_EQ(memcmp(m->IccData, profile.data(), profile.size()), 0);
        } else {
            EXPECT_EQ(m->IccData, nullptr) << c.name;
        }
    }
    remove(path.c_str());
}

// XMP of 65502 bytes fits a marker with its identifier; 65503 does not,
// and the second packet is written instead.
TEST(JfifMeta, XmpSizeLimit) {
    const std::string path = TempPath("xmp.jpg");
    Buffer img = MakeRgb(8, 8);
    std::string big(65503, 'a'), fits(65502, 'b'), other = "<second/>";
    struct Case {
        std::string* xmp0;
        std::string* xmp1;
        std::string expected;
    } cases[] = {{&fits, &other, fits}, {&big, &other, other}, {&big, nullptr, ""}};
    for (const Case& c : cases) {
        KXOSpecialInfo info = {};
        info.Version = 1;
        info.Xmp0 = reinterpret_cast<uint8_t*>(c.xmp0->data());
        info.Xmp0Size = (uint32_t)c.xmp0->size();
        if (c.xmp1) {
            info.Xmp1 = reinterpret_cast<uint8_t*>(c.xmp1->data());
            info.Xmp1Size = (uint32_t)c.xmp1->size();
        }
        Jfif s;
        ASSERT_EQ(s.Save(img.get(), path, &info), KXERR_NONE);
        Jfif r;
        ASSERT_EQ(r.Load(path, true), KXERR_NONE);
        const KXOSpecialInfo* m = r.obj.GetSpecialInfo();
        if (c.expected.empty()) {
            EXPECT_EQ(m->Xmp0, nullptr);
        } else {
            ASSERT_EQ(m->Xmp0Size, c.expected.size());
            EXPECT_EQ(std::string(reinterpret_cast<char*>(m->Xmp0), m->Xmp0Size), c.expected);
        }
    }
    remove(path.c_str());
}

// EXIF or IPTC blocks longer than a marker holds, or shorter than their
// headers, are left out; the save itself succeeds with the rest.
TEST(JfifMeta, BlocksThatCannotBeMarkersAreLeftOut) {
    const std::string path = TempPath("oversized.jpg");
    Buffer img = MakeRgb(8, 8);
    auto exifBig = Blob(65534, 1);
    memcpy(exifBig.data(), "Exif\0\0", 6);
    auto iptcBig = IptcBlock({{25, std::string(65000, 'k')}, {25, std::string(600, 'k')}});
    const std::vector<uint8_t> exifShort = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0};
    const auto iptcShort = std::vector<uint8_t>(20, 0);
    const auto icc = Profile();
    struct Case {
        const std::vector<uint8_t>* exif;
        const std::vector<uint8_t>* iptc;
    } cases[] = {{&exifBig, &iptcBig}, {&exifShort, &iptcShort}};
    for (const Case& c : cases) {
        KXOSpecialInfo info = {};
        info.Version = 1;
        info.Exif = const_cast<uint8_t*>(c.exif->data());
        info.ExifSize = (uint32_t)c.exif->size();
        info.Iptc = const_cast<uint8_t*>(c.iptc->data());
        info.IptcSize = (uint32_t)c.iptc->size();
        info.IccData = const_cast<uint8_t*>(icc.data());
        info.IccSize = (uint32_t)icc.size();
        Jfif s;
        ASSERT_EQ(s.Save(img.get(), path, &info), KXERR_NONE);
        Jfif r;
        ASSERT_EQ(r.Load(path, true), KXERR_NONE);
        const KXOSpecialInfo* m = r.obj.GetSpecialInfo();
        EXPECT_EQ(m->Exif, nullptr);
        EXPECT_EQ(m->Iptc, nullptr);
        EXPECT_EQ(m->IccSize, icc.size());
    }
    // WRITE_EXIF OFF leaves a good block out.
    const auto exif = MakeExif({{EXIF_IFD_0, 315, EXIF_FORMAT_ASCII, Text("x")}});
    KXOSpecialInfo info = {};
    info.Version = 1;
    info.Exif = const_cast<uint8_t*>(exif.data());
    info.ExifSize = (uint32_t)exif.size();
    Jfif s({{"WRITE_EXIF", "OFF"}});
    ASSERT_EQ(s.Save(img.get(), path, &info), KXERR_NONE);
    Jfif r;
    ASSERT_EQ(r.Load(path, true), KXERR_NONE);
    EXPECT_EQ(r.obj.GetSpecialInfo()->Exif, nullptr);
    // A record of version 0 writes no markers at all.
    info.Version = 0;
    Jfif s0;
    ASSERT_EQ(s0.Save(img.get(), path, &info), KXERR_NONE);
    for (const auto& [marker, payload] : Markers(KXT_ReadBytes(path))) EXPECT_NE(marker, 0xE1);
    remove(path.c_str());
}

// Photoshop resources: the IPTC resource after others with names; an APP13
// without 0x0404 removes what an earlier one gave; broken lengths give none.
TEST(JfifMeta, PhotoshopResources) {
    const auto records = IptcBlock({{120, "caption"}});
    const std::vector<uint8_t> iptc(records.begin() + 26, records.end());
    auto resource = [](uint16_t id, const std::string& name, const std::vector<uint8_t>& data) {
        std::vector<uint8_t> r = {'8', 'B', 'I', 'M', (uint8_t)(id >> 8), (uint8_t)id, (uint8_t)name.size()};
        r.insert(r.end(), name.begin(), name.end());
        if ((name.size() + 1) & 1) r.push_back(0);
        const uint32_t n = (uint32_t)data.size();
        r.insert(r.end(), {(uint8_t)(n >> 24), (uint8_t)(n >> 16), (uint8_t)(n >> 8), (uint8_t)n});
        r.insert(r.end(), data.begin(), data.end());
        if (n & 1) r.push_back(0);
        return r;
    };
    auto app13 = [](std::initializer_list<std::vector<uint8_t>> resources) {
        std::vector<uint8_t> p = {'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0', 0};
        for (const auto& r : resources) p.insert(p.end(), r.begin(), r.end());
        return p;
    };
    const auto withIptc = app13({resource(0x03ED, "abc", {1, 2, 3}), resource(0x0404, "", iptc)});
    const auto without = app13({resource(0x03ED, "", std::vector<uint8_t>(16, 1)), resource(0x040C, "x", {9})});
    auto lying = withIptc;
    lying[14 + 4 + 2 + 4 + 3] = 0x7F;  // the first resource claims far more than there is
    struct Case {
        const char* name;
        std::vector<std::vector<uint8_t>> markers;
        bool found;
    } cases[] = {
        {"found", {withIptc}, true},
        {"removed", {withIptc, without}, false},
        {"later", {without, withIptc}, true},
        {"lying", {lying}, false},
        {"short", {std::vector<uint8_t>(withIptc.begin(), withIptc.begin() + 30)}, false},
    };
    const std::string path = TempPath("ps.jpg");
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteLibjpeg(path, 8, 8, 3, JCS_YCbCr, [&](j_compress_ptr cinfo) {
            for (const auto& m : c.markers) jpeg_write_marker(cinfo, JPEG_APP0 + 13, m.data(), (unsigned)m.size());
        }));
        Jfif r;
        ASSERT_EQ(r.Load(path, true), KXERR_NONE) << c.name;
        const KXOSpecialInfo* m = r.obj.GetSpecialInfo();
        if (c.found) {
            ASSERT_EQ(m->IptcSize, records.size()) << c.name;
            EXPECT_EQ(memcmp(m->Iptc, records.data(), records.size()), 0);
            EXPECT_EQ(Str(m->Anno), "caption");
        } else {
            EXPECT_EQ(m->Iptc, nullptr) << c.name;
        }
    }
    // READ_IPTC OFF keeps none.
    ASSERT_TRUE(WriteLibjpeg(path, 8, 8, 3, JCS_YCbCr, [&](j_compress_ptr cinfo) {
        jpeg_write_marker(cinfo, JPEG_APP0 + 13, withIptc.data(), (unsigned)withIptc.size());
    }));
    Jfif r({{"READ_IPTC", "OFF"}});
    ASSERT_EQ(r.Load(path, true), KXERR_NONE);
    EXPECT_EQ(r.obj.GetSpecialInfo()->Iptc, nullptr);
    remove(path.c_str());
}

// ImageMagick embeds a profile; ours reads the same bytes.
TEST(JfifMeta, ImageMagickProfileReads) {
    if (!KXT_HaveTool("convert")) GTEST_SKIP() << "ImageMagick missing";
    const std::string icc = TempPath("im.icc"), ppm = TempPath("im.ppm"), jpg = TempPath("im.jpg");
    const auto profile = Profile(0.6);
    ASSERT_TRUE(KXT_WriteBytes(icc, profile));
    ASSERT_TRUE(KXT_WriteBytes(ppm, Ppm(12, 9)));
    ASSERT_EQ(RunTool("convert " + ppm + " -profile " + icc + " " + jpg), 0);
    Jfif r;
    ASSERT_EQ(r.Load(jpg, true), KXERR_NONE);
    ASSERT_EQ(r.obj.GetSpecialInfo()->IccSize, profile.size());
    EXPECT_EQ(memcmp(r.obj.GetSpecialInfo()->IccData, profile.data(), profile.size()), 0);
    // Without metadata loading nothing is kept.
    Jfif plain;
    ASSERT_EQ(plain.Load(jpg, false), KXERR_NONE);
    EXPECT_EQ(plain.obj.IccData, nullptr);
    remove(icc.c_str());
    remove(ppm.c_str());
    remove(jpg.c_str());
}

}  // namespace
