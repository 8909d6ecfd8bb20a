// EXIF and IPTC access: blocks built byte by byte, looked up through the
// wrappers; libexif's own option defaults, the raw mode's sizes, the GPS
// and orientation texts, IPTC occurrences and Latin-1 text.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "core/exifiptc.h"
#include "core/log.h"
#include "support/testfiles.h"

namespace {

// A TIFF-structured EXIF block "Exif\0\0" + header + IFD0 (+ GPS IFD).
struct ExifEntrySpec {
    uint16_t tag, type;
    uint32_t count;
    std::vector<uint8_t> data;
};

class ExifBuilder {
public:
    explicit ExifBuilder(bool bigEndian) : Big(bigEndian) {}
    std::vector<ExifEntrySpec> ifd0, gps;

    std::vector<uint8_t> build() const {
        std::vector<uint8_t> t;  // TIFF part, offsets count from its start
        t.insert(t.end(), Big ? std::initializer_list<uint8_t>{'M', 'M', 0, 42} : std::initializer_list<uint8_t>{'I', 'I', 42, 0});
        put32(t, 8);
        std::vector<ExifEntrySpec> first = ifd0;
        if (!gps.empty()) first.push_back({34853, 4, 1, {0, 0, 0, 0}});
        const size_t gpsPointer = writeIfd(t, first, 34853);
        if (!gps.empty()) {
            const uint32_t at = (uint32_t)t.size();
            set32(t, gpsPointer, at);
            writeIfd(t, gps, 0);
        }
        std::vector<uint8_t> out = {'E', 'x', 'i', 'f', 0, 0};
        out.insert(out.end(), t.begin(), t.end());
        return out;
    }

    std::vector<uint8_t> u16(uint16_t v) const {
        return Big ? std::vector<uint8_t>{(uint8_t)(v >> 8), (uint8_t)v} : std::vector<uint8_t>{(uint8_t)v, (uint8_t)(v >> 8)};
    }
    std::vector<uint8_t> rationals(std::initializer_list<std::pair<uint32_t, uint32_t>> values) const {
        std::vector<uint8_t> d;
        for (auto [n, q] : values) {
            put32(d, n);
            put32(d, q);
        }
        return d;
    }

private:
    bool Big;
    void put32(std::vector<uint8_t>& v, uint32_t x) const {
        size_t at = v.size();
        v.resize(at + 4);
        set32(v, at, x);
    }
    void set32(std::vector<uint8_t>& v, size_t at, uint32_t x) const {
        for (int i = 0; i < 4; ++i) v[at + i] = (uint8_t)(Big ? x >> (24 - 8 * i) : x >> (8 * i));
    }
    // Returns the position of the value field of the entry with pointerTag.
    size_t writeIfd(std::vector<uint8_t>& t, const std::vector<ExifEntrySpec>& entries, uint16_t pointerTag) const {
        const size_t start = t.size();
        const size_t dataStart = start + 2 + 12 * entries.size() + 4;
        std::vector<uint8_t> data;
        std::vector<uint8_t> dir;
        auto u16v = u16((uint16_t)entries.size());
        dir.insert(dir.end(), u16v.begin(), u16v.end());
        size_t pointerAt = 0;
        for (const auto& e : entries) {
            auto a = u16(e.tag), b = u16(e.type);
            dir.insert(dir.end(), a.begin(), a.end());
            dir.insert(dir.end(), b.begin(), b.end());
            put32(dir, e.count);
            if (e.tag == pointerTag && pointerTag) pointerAt = start + dir.size();
            if (e.data.size() <= 4) {
                std::vector<uint8_t> v = e.data;
                v.resize(4, 0);
                dir.insert(dir.end(), v.begin(), v.end());
            } else {
                put32(dir, (uint32_t)(dataStart + data.size()));
                data.insert(data.end(), e.data.begin(), e.data.end());
                if (data.size() & 1) data.push_back(0);
            }
        }
        put32(dir, 0);
        t.insert(t.end(), dir.begin(), dir.end());
        t.insert(t.end(), data.begin(), data.end());
        return pointerAt;
    }
};

std::vector<uint8_t> ascii(const char* s) { return std::vector<uint8_t>(s, s + strlen(s) + 1); }

// Ps3IptcHeader + records 1C rr dd len16 data.
std::vector<uint8_t> iptcBlock(const std::vector<std::pair<uint8_t, std::string>>& datasets) {
    std::vector<uint8_t> records;
    for (const auto& [ds, text] : datasets) {
        records.insert(records.end(), {0x1C, 2, ds, (uint8_t)(text.size() >> 8), (uint8_t)text.size()});
        records.insert(records.end(), text.begin(), text.end());
    }
    std::vector<uint8_t> b(26, 0);
    memcpy(b.data(), "Photoshop 3.0", 14);
    memcpy(b.data() + 14, "8BIM\x04\x04", 6);
    b[24] = (uint8_t)(records.size() >> 8);
    b[25] = (uint8_t)records.size();
    b.insert(b.end(), records.begin(), records.end());
    return b;
}

struct Exif {
    ExifHandle* h = nullptr;
    explicit Exif(const std::vector<uint8_t>& block) {
        uint32_t err = 99;
        h = EXIF_OpenBuf(block.data(), (uint32_t)block.size(), &err);
        EXPECT_EQ(err, 0u);
    }
    ~Exif() { EXIF_Close(h); }
    uint32_t find(uint32_t tag, std::string* text, uint32_t length = 256) {
        std::vector<char> buf(length ? length : 1, 0);
        const uint32_t r = EXIF_FindTag(h, tag, buf.data(), length);
        *text = std::string(buf.data(), strnlen(buf.data(), buf.size()));
        return r;
    }
};

class ExifIptcTest : public ::testing::Test {
protected:
    void SetUp() override { setlocale(LC_ALL, "C"); }
};

TEST_F(ExifIptcTest, GpsPositionsAndOrientationRenderAsText) {
    for (bool big : {false, true}) {
        ExifBuilder b(big);
        b.ifd0.push_back({274, 3, 1, b.u16(6)});
        b.gps.push_back({1, 2, 2, ascii("N")});
        b.gps.push_back({2, 5, 3, b.rationals({{48, 1}, {8, 1}, {5437, 100}})});
        b.gps.push_back({6, 5, 1, b.rationals({{247, 2}})});
        Exif e(b.build());
        ASSERT_NE(e.h, nullptr);
        std::string t;
        EXPECT_EQ(e.find(2, &t), 0u);
        EXPECT_EQ(t, "48.00\xC2\xB0 8.00' 54.37''") << big;
        EXPECT_EQ(e.find(1, &t), 0u);
        EXPECT_EQ(t, "N");
        // One rational: the other two are 0/0, printed as the runtime prints NaN.
        EXPECT_EQ(e.find(6, &t), 0u);
        EXPECT_EQ(t.rfind("123.50\xC2\xB0 ", 0), 0u) << t;
        EXPECT_NE(t.find("nan"), std::string::npos) << t;
        EXPECT_EQ(e.find(274, &t), 0u);
        EXPECT_EQ(t, "6");
        // The text must fit with its zero; a buffer of one byte holds none.
        EXPECT_EQ(e.find(2, &t, 10), 7u);
        EXPECT_EQ(e.find(274, &t, 1), 7u);
        EXPECT_EQ(e.find(305, &t), 5u);
    }
}

TEST_F(ExifIptcTest, WrongFormatForSpecialTagsGivesNoValue) {
    ExifBuilder b(false);
    b.ifd0.push_back({274, 2, 2, ascii("6")});
    b.gps.push_back({2, 2, 4, ascii("abc")});
    Exif e(b.build());
    std::string t;
    EXPECT_EQ(e.find(274, &t), 6u);
    EXPECT_EQ(e.find(2, &t), 6u);
    EXPECT_EQ(t, "");
}

TEST_F(ExifIptcTest, RawModeSizes) {
    ExifBuilder b(false);
    std::vector<uint8_t> bytes(256);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = (uint8_t)(i * 7 + 1);
    b.ifd0.push_back({33723, 7, 256, bytes});  // IPTC-NAA as UNDEFINED bytes
    Exif e(b.build());
    for (uint32_t length : {268u, 269u, 4096u}) {
        std::vector<char> buf(length, 0x55);
        memcpy(buf.data(), KXEXIF_RAW_MARKER, sizeof(KXEXIF_RAW_MARKER));
        const uint32_t r = EXIF_FindTag(e.h, 33723, buf.data(), length);
        uint32_t words[3];
        memcpy(words, buf.data(), sizeof(words));
        if (length == 268) {
            // 12 header bytes + 256 + the zero need 269.
            EXPECT_EQ(r, 6u);
            EXPECT_EQ(words[0], 0u);
            EXPECT_EQ(words[1], 0u);
            continue;
        }
        ASSERT_EQ(r, 0u) << length;
        EXPECT_EQ(words[0], 256u);
        EXPECT_EQ(words[1], 0u);
        EXPECT_EQ(words[2], 0u);
        EXPECT_EQ(memcmp(buf.data() + 12, bytes.data(), 256), 0);
        EXPECT_EQ(buf[12 + 256], 0);
    }
}

TEST_F(ExifIptcTest, UnknownTagsAreKeptAndNoEntriesAdded) {
    ExifBuilder b(true);
    const char* xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>";
    b.ifd0.push_back({700, 1, (uint32_t)strlen(xmp), std::vector<uint8_t>(xmp, xmp + strlen(xmp))});
    b.ifd0.push_back({33723, 4, 2, {1, 2, 3, 4, 5, 6, 7, 8}});
    b.ifd0.push_back({272, 2, 6, ascii("Model")});
    Exif e(b.build());
    std::string t;
    EXPECT_EQ(e.find(272, &t), 0u);
    EXPECT_EQ(t, "Model");
    EXPECT_NE(exif_content_get_entry(e.h->Data->ifd[0], (ExifTag)700), nullptr);
    EXPECT_NE(exif_content_get_entry(e.h->Data->ifd[0], (ExifTag)33723), nullptr);
    // Nothing mandatory was made up (X resolution and friends).
    EXPECT_EQ(e.h->Data->ifd[0]->count, 3u);
}

TEST_F(ExifIptcTest, BlocksThatDoNotParseGiveError4) {
    const std::vector<std::vector<uint8_t>> bad = {
        {}, {'E', 'x', 'i', 'f', 0, 0}, {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0},
        {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0},
    };
    for (const auto& block : bad) {
        uint32_t err = 0;
        EXPECT_EQ(EXIF_OpenBuf(block.empty() ? nullptr : block.data(), (uint32_t)block.size(), &err), nullptr);
        EXPECT_EQ(err, 4u) << block.size();
    }
    std::string t;
    char buf[8];
    EXPECT_EQ(EXIF_FindTag(nullptr, 274, buf, sizeof(buf)), 3u);
    uint32_t err = 0;
    std::string dir = KXT_NewTempDir("/tmp/kxexifXXXXXX");
    KXT_WriteFile(dir + "/none.bin", "nothing here");
    EXPECT_EQ(EXIF_Open((dir + "/none.bin").c_str(), &err), nullptr);
    EXPECT_EQ(err, 1u);
}

TEST_F(ExifIptcTest, IptcOccurrencesAndText) {
    // 0xE9 alone is not UTF-8: read as Latin-1.
    auto block = iptcBlock({{25, "first"}, {25, "second"}, {116, "(c) Ren\xE9"}, {80, "Ann\xC3\xA9"}, {5, ""}});
    uint32_t err = 99;
    IptcHandle* h = IPTC_OpenBuf(block.data(), (uint32_t)block.size(), &err);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(h->Valid, 1u);
    EXPECT_EQ(h->Offset, 26);
    char buf[256];
    struct Row {
        uint32_t dataset, index, code;
        const char* text;
    } rows[] = {
        {25, 0, 0, "first"}, {25, 1, 0, "second"}, {25, 2, 5, ""}, {116, 0, 0, "(c) Ren\xC3\xA9"},
        {80, 0, 0, "Ann\xC3\xA9"}, {5, 0, 6, ""}, {120, 0, 5, ""},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(IPTC_FindTag(h, 2, r.dataset, r.index, buf, sizeof(buf)), r.code) << r.dataset << "/" << r.index;
        EXPECT_STREQ(buf, r.text);
    }
    EXPECT_EQ(IPTC_FindTag(h, 2, 25, 0, buf, 0), 7u);
    EXPECT_EQ(IPTC_FindTag(nullptr, 2, 25, 0, buf, sizeof(buf)), 3u);
    IPTC_Close(h);
}

// From files: the IPTC records of a JPEG's APP13, the EXIF of its APP1.
TEST_F(ExifIptcTest, OpenFromFiles) {
    const std::string dir = KXT_NewTempDir("/tmp/kxiptcXXXXXX");
    auto ps3 = iptcBlock({{80, "By line"}});
    ExifBuilder b(false);
    b.ifd0.push_back({315, 2, 7, ascii("Artist")});
    auto exif = b.build();
    std::string jpeg = "\xFF\xD8";
    auto segment = [&](uint8_t marker, const std::vector<uint8_t>& payload) {
        const size_t n = payload.size() + 2;
        jpeg += std::string{'\xFF', (char)marker, (char)(n >> 8), (char)n};
        jpeg.append(payload.begin(), payload.end());
    };
    segment(0xE1, exif);
    segment(0xED, ps3);
    jpeg += "\xFF\xD9";
    const std::string path = dir + "/tagged.jpg";
    ASSERT_TRUE(KXT_WriteFile(path, jpeg));
    uint32_t err = 99;
    IptcHandle* h = IPTC_Open(path.c_str(), &err);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(err, 0u);
    char buf[64];
    EXPECT_EQ(IPTC_FindTag(h, 2, 80, 0, buf, sizeof(buf)), 0u);
    EXPECT_STREQ(buf, "By line");
    IPTC_Close(h);
    ExifHandle* e = EXIF_Open(path.c_str(), &err);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(EXIF_FindTag(e, 315, buf, sizeof(buf)), 0u);
    EXPECT_STREQ(buf, "Artist");
    EXIF_Close(e);
    const std::string plain = dir + "/plain.jpg";
    ASSERT_TRUE(KXT_WriteFile(plain, "\xFF\xD8\xFF\xD9"));
    EXPECT_EQ(IPTC_Open(plain.c_str(), &err), nullptr);
    EXPECT_EQ(err, 1u);
    EXPECT_EQ(EXIF_Open(plain.c_str(), &err), nullptr);
    EXPECT_EQ(err, 1u);
    remove(path.c_str());
    remove(plain.c_str());
    rmdir(dir.c_str());
}

TEST_F(ExifIptcTest, IptcBlocksWithoutRecordsGiveError4) {
    auto good = iptcBlock({{25, "word"}});
    auto other = good;
    other[19] = 0x0C;  // resource 0x040C (a thumbnail), not IPTC
    const std::vector<std::vector<uint8_t>> bad = {
        std::vector<uint8_t>(good.begin(), good.begin() + 25), other, std::vector<uint8_t>(30, 0)};
    for (const auto& block : bad) {
        uint32_t err = 0;
        EXPECT_EQ(IPTC_OpenBuf(block.data(), (uint32_t)block.size(), &err), nullptr);
        EXPECT_EQ(err, 4u);
    }
}

// With the library log open the handles carry a log object; closing them
// releases everything (the leak checker watches).
TEST_F(ExifIptcTest, HandlesOpenedWithTheLogOpenCloseCleanly) {
    KXT_TraceLog trace(5);
    auto block = iptcBlock({{25, "word"}});
    uint32_t err = 0;
    IptcHandle* h = IPTC_OpenBuf(block.data(), (uint32_t)block.size(), &err);
    ASSERT_NE(h, nullptr);
    EXPECT_NE(h->Log, nullptr);
    IPTC_Close(h);
    ExifBuilder b(false);
    b.ifd0.push_back({274, 3, 1, b.u16(1)});
    auto exif = b.build();
    ExifHandle* e = EXIF_OpenBuf(exif.data(), (uint32_t)exif.size(), &err);
    ASSERT_NE(e, nullptr);
    EXPECT_NE(e->Log, nullptr);
    EXIF_Close(e);
    const std::string lines = trace.lines();
    EXPECT_NE(lines.find("IPTC_OpenBuf    : Reading data from buffer"), std::string::npos);
    EXPECT_NE(lines.find("EXIF_OpenBuf    : Logging enabled"), std::string::npos);
}

TEST_F(ExifIptcTest, MetaTextToUtf8NeverCutsACharacter) {
    char out[6];
    EXPECT_EQ(KXSUP_MetaTextToUtf8("abc\xC3\xA9", 5, out, sizeof(out)), 5u);
    EXPECT_STREQ(out, "abc\xC3\xA9");
    EXPECT_EQ(KXSUP_MetaTextToUtf8("abcd\xC3\xA9", 6, out, sizeof(out)), 4u);
    EXPECT_STREQ(out, "abcd");
    EXPECT_EQ(KXSUP_MetaTextToUtf8("ab\xE9", 3, out, sizeof(out)), 4u);
    EXPECT_STREQ(out, "ab\xC3\xA9");
}

}  // namespace
