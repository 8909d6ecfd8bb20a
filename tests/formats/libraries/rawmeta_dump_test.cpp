// The metadata block dump writer: each block with its settings and
// fall-backs, the side-file lines, missing blocks refused before the file
// is opened, a failed write leaving the old file; the raw metadata
// importer putting back the wrapper a RAW dump dropped, so that a dump read
// back and saved as JPEG or PNG gives EXIF and IPTC that exiftool reads.
#include <unistd.h>

#include "formats/libraries/kxoJFIF.h"
#include "formats/libraries/kxoPNG.h"
#include "formats/libraries/kxoRAWMeta.h"
#include "formats/libraries/kxoRAWMeta_Import.h"
#include "formats/raster/write_failure.h"
#include "raw_helpers.h"

namespace {

using namespace rawtest;
using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes Of(const std::string& s) { return Bytes(s.begin(), s.end()); }

const Bytes kExifPrefix = {'E', 'x', 'i', 'f', 0, 0};
// Little-endian TIFF data, IFD0 with one entry: Make (271), ASCII "Kaxon5".
const Bytes kTiff = {'I', 'I', 0x2A, 0, 8, 0, 0, 0, 1, 0, 0x0F, 0x01, 2, 0, 7, 0, 0, 0, 26, 0, 0, 0, 0, 0, 0, 0,
                     'K', 'a', 'x', 'o', 'n', '5', 0};
// Records 2:00 (version 4) and 2:120 (caption).
const Bytes kRecords = Bytes{0x1C, 2, 0, 0, 2, 0, 4, 0x1C, 2, 120, 0, 9} + Of("A caption");

Bytes PsHeader(uint32_t length) {
    Bytes h = Of(std::string("Photoshop 3.0\0" "8BIM\x04\x04\0\0", 22));
    for (int s = 24; s >= 0; s -= 8) h.push_back((uint8_t)(length >> s));
    return h;
}

// A record with every block; each test leaves out what it needs to.
struct Record {
    Bytes exif = kExifPrefix + kTiff, iptc = PsHeader((uint32_t)kRecords.size()) + kRecords;
    std::string xmp0 = "<x:xmpmeta>0</x:xmpmeta>", xmp1 = "<x:xmpmeta>one</x:xmpmeta>";
    std::string auth = "An Author", anno = "A note", more3 = "Third", icc = "profile bytes", iccName = "Test RGB";
    KXOSpecialInfo info = {};
    KXOSpecialInfo* get() {
        info.Version = 1;
        info.Exif = exif.empty() ? nullptr : exif.data();
        info.ExifSize = (uint32_t)exif.size();
        info.Iptc = iptc.empty() ? nullptr : iptc.data();
        info.IptcSize = (uint32_t)iptc.size();
        info.Xmp0 = reinterpret_cast<uint8_t*>(xmp0.data());
        info.Xmp0Size = (uint32_t)xmp0.size();
        info.Xmp1 = reinterpret_cast<uint8_t*>(xmp1.data());
        info.Xmp1Size = (uint32_t)xmp1.size();
        info.Auth = auth.data();
        info.Anno = anno.data();
        info.More3 = more3.data();
        info.IccData = reinterpret_cast<uint8_t*>(icc.data());
        info.IccSize = (uint32_t)icc.size();
        info.IccName = iccName.data();
        return &info;
    }
};

enum Sub : uint32_t { EXIF, IPTC, XMP0, XMP1, TEXT, ICCP };

struct BlockCase {
    const char* name;
    uint32_t sub;
    Keys keys;
    std::function<void(Record&)> change;
    uint32_t err;
    Bytes file;
    std::string line;
};

const std::function<void(Record&)> kAsIs = [](Record&) {};

const BlockCase kBlockCases[] = {
    {"EXIF without its prefix", EXIF, {}, kAsIs, 0, kTiff, "EXIF 33 bytes"},
    {"EXIF as APP1", EXIF, {{"EXIF_TYPE", "app1"}}, kAsIs, 0, kExifPrefix + kTiff, "EXIF 39 bytes"},
    {"EXIF that is only its prefix", EXIF, {}, [](Record& r) { r.exif = kExifPrefix; }, KXERR_NOINFO, {}, ""},
    {"no EXIF", EXIF, {}, [](Record& r) { r.exif.clear(); }, KXERR_NOINFO, {}, ""},
    {"IPTC records", IPTC, {}, kAsIs, 0, kRecords, "IPTC 21 bytes"},
    {"IPTC as APP13", IPTC, {{"IPTC_TYPE", "APP13"}}, kAsIs, 0, PsHeader(21) + kRecords, "IPTC 47 bytes"},
    {"no IPTC", IPTC, {{"IPTC_TYPE", "APP13"}}, [](Record& r) { r.iptc.clear(); }, KXERR_NOINFO, {}, ""},
    {"XMP0", XMP0, {}, kAsIs, 0, Of("<x:xmpmeta>0</x:xmpmeta>"), "XMP0 24 bytes"},
    {"XMP0 falls back to XMP1", XMP0, {}, [](Record& r) { r.xmp0.clear(); }, 0, Of("<x:xmpmeta>one</x:xmpmeta>"), "XMP1 26 bytes"},
    {"XMP1", XMP1, {}, kAsIs, 0, Of("<x:xmpmeta>one</x:xmpmeta>"), "XMP1 26 bytes"},
    {"XMP1 falls back to XMP0", XMP1, {}, [](Record& r) { r.xmp1.clear(); }, 0, Of("<x:xmpmeta>0</x:xmpmeta>"), "XMP0 24 bytes"},
    {"no XMP", XMP1, {}, [](Record& r) { r.xmp0.clear(), r.xmp1.clear(); }, KXERR_NOINFO, {}, ""},
    {"author", TEXT, {{"TEXT_FIELD", "Auth"}}, kAsIs, 0, Of("An Author"), "Auth 9 bytes"},
    {"annotation, any case", TEXT, {{"TEXT_FIELD", "ANNO"}}, kAsIs, 0, Of("A note"), "Anno 6 bytes"},
    {"More3", TEXT, {{"TEXT_FIELD", "more3"}}, kAsIs, 0, Of("Third"), "More3 5 bytes"},
    {"empty author", TEXT, {{"TEXT_FIELD", "Auth"}}, [](Record& r) { r.auth.clear(); }, KXERR_NOINFO, {}, ""},
    {"a text not in the record", TEXT, {{"TEXT_FIELD", "Copy"}}, kAsIs, KXERR_NOINFO, {}, ""},
    {"no TEXT_FIELD", TEXT, {}, kAsIs, KXERR_NOINFO, {}, ""},
    {"unknown TEXT_FIELD", TEXT, {{"TEXT_FIELD", "Title"}}, kAsIs, KXERR_NOINFO, {}, ""},
    {"ICC profile", ICCP, {}, kAsIs, 0, Of("profile bytes"), "ICCP profile name Test RGB (13 bytes)"},
    {"ICC profile without data", ICCP, {}, [](Record& r) { r.icc.clear(); }, KXERR_NOINFO, {}, ""},
};

TEST(RawMetaDump, EachBlockWithItsSideFileLine) {
    Buffer img = Picture(8, 1, 1);
    for (const BlockCase& c : kBlockCases) {
        SCOPED_TRACE(c.name);
        Record r;
        c.change(r);
        KXOSpecialInfo* info = r.get();
        // An emptied text is an empty string, an emptied block a null pointer or size 0.
        if (r.icc.empty()) info->IccData = nullptr;
        Dumped d = Dump<kxoRAWMeta>(img.get(), c.sub, c.keys, info, "block.rawmeta");
        EXPECT_EQ(d.Err, c.err);
        EXPECT_EQ(d.Exists, c.err == 0);
        EXPECT_EQ(d.File, c.file);
        EXPECT_EQ(d.Line, c.line);
    }
}

TEST(RawMetaDump, RefusalsLeaveTheOldFiles) {
    Buffer img = Picture(8, 1, 1);
    Record r;
    const std::string path = kxt::TempPath("old.rawmeta"), comment = CommentPath(path);
    struct Case {
        const char* name;
        KX_GfxBuffer* image;
        KXOSpecialInfo* info;
        uint32_t sub;
        uint32_t err;
    } cases[] = {
        {"no record", img.get(), nullptr, EXIF, KXERR_NOINFO},
        {"no picture", nullptr, r.get(), EXIF, KXERR_NOTSUPPORTED},
        {"unknown sub-format", img.get(), r.get(), 6, KXERR_NOTSUPPORTED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(KXT_WriteFile(path, "old data"));
        ASSERT_TRUE(KXT_WriteFile(comment, "old line"));
        EXPECT_EQ(SaveWith<kxoRAWMeta>(c.image, path, c.sub, {}, c.info), c.err);
        EXPECT_EQ(KXT_ReadFile(path), "old data");
        EXPECT_EQ(KXT_ReadFile(comment), "old line");
    }
    unlink(path.c_str());
    unlink(comment.c_str());

    kxoRAWMeta m;
    char ext[16] = {};
    EXPECT_EQ(m.GetExtension(ext), KXERR_NONE);
    EXPECT_STREQ(ext, ".rawmeta");
    EXPECT_EQ(m.CheckFile(nullptr, "x.rawmeta", KXIO_FILE), 0u);
    EXPECT_EQ(m.Load(), KXERR_NOTSUPPORTED);
    EXPECT_EQ(m.SetIOMode(KXIO_DEVICE), KXERR_NOTSUPPORTED);
    EXPECT_EQ(m.SetIOMode(KXIO_CLIPBOARD), KXERR_NONE);
    m.SetGfxBuffer(img.get());
    m.SetSaveMeta(1);
    m.SetSpecialInfo(r.get());
    m.SetSaveName(path.c_str());
    EXPECT_EQ(m.Save(), KXERR_NOTSUPPORTED) << "clipboard mode";
    EXPECT_NE(access(path.c_str(), F_OK), 0);

    const std::string nowhere = kxt::TempPath("no_such_dir/x.rawmeta");
    EXPECT_EQ(SaveWith<kxoRAWMeta>(img.get(), nowhere, EXIF, {}, r.get()), KXERR_NODESTFILE);
}

TEST(RawMetaDump, FailedWriteLeavesTheOldFile) {
    Buffer img = Picture(8, 1, 1);
    Record r;
    r.xmp0.assign(40000, 'x');
    kxoRAWMeta m;
    m.SetSubFormat(XMP0);
    m.SetSaveMeta(1);
    m.SetSpecialInfo(r.get());
    EXPECT_EQ(kxt::SaveUnderFileSizeLimit(&m, img.get(), "limited.rawmeta"), KXERR_IO);
    EXPECT_NE(access(CommentPath(kxt::TempPath("limited.rawmeta")).c_str(), F_OK), 0);
}

// The block the importer puts into its slot for a file of these bytes.
Bytes Imported(const Bytes& file, const char* format) {
    const std::string path = kxt::TempPath("import.rawmeta");
    kxt::WriteAll(path, file);
    Bytes block;
    WithKeys<kxoRAWMeta_Import>({{"FORMAT", format}, {"LOADNAME", path}}, [&](kxoRAWMeta_Import& m) {
        m.SetLoadMeta(1);
        EXPECT_EQ(m.SetIOMode(KXIO_DEVICE), KXERR_NONE);
        EXPECT_EQ(m.Load(), KXERR_NONE);
        KXOSpecialInfo* info = m.GetSpecialInfo();
        const bool exif = std::string(format) == "EXIF";
        const uint8_t* p = info ? (exif ? info->Exif : info->Iptc) : nullptr;
        if (p) block.assign(p, p + (exif ? info->ExifSize : info->IptcSize));
        return 0;
    });
    unlink(path.c_str());
    return block;
}

TEST(RawMetaImport, PutsBackTheWrapperARawDumpDropped) {
    const Bytes bigEndianTiff = {'M', 'M', 0, 0x2A, 0, 0, 0, 8, 0, 0};
    const Bytes oddRecords = Bytes{0x1C, 2, 120, 0, 2, 'h', 'i'};
    struct Case {
        const char* name;
        const char* format;
        Bytes file, block;
    } cases[] = {
        {"little-endian TIFF data", "EXIF", kTiff, kExifPrefix + kTiff},
        {"big-endian TIFF data", "EXIF", bigEndianTiff, kExifPrefix + bigEndianTiff},
        {"an APP1 dump stays", "EXIF", kExifPrefix + kTiff, kExifPrefix + kTiff},
        {"IPTC records", "IPTC", kRecords, PsHeader(21) + kRecords},
        {"odd-length records", "IPTC", oddRecords, PsHeader(7) + oddRecords},
        {"an APP13 dump stays", "IPTC", PsHeader(21) + kRecords, PsHeader(21) + kRecords},
        {"short EXIF stays", "EXIF", {'I', 'I'}, {'I', 'I'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Imported(c.file, c.format), c.block);
    }
}

// RAW dumps read back by the importer and saved by the JPEG and PNG writers:
// exiftool finds the EXIF and the IPTC data.
TEST(RawMetaDump, DumpsReadBackMakeValidBlocksInJpegAndPng) {
    if (!KXT_HaveTool("exiftool")) GTEST_SKIP() << "exiftool missing";
    Record r;
    Buffer img = Picture(24, 8, 8);
    Dumped exif = Dump<kxoRAWMeta>(img.get(), EXIF, {}, r.get(), "chain_exif.rawmeta");
    Dumped iptc = Dump<kxoRAWMeta>(img.get(), IPTC, {}, r.get(), "chain_iptc.rawmeta");
    ASSERT_EQ(exif.Err, KXERR_NONE);
    ASSERT_EQ(iptc.Err, KXERR_NONE);
    Bytes exifBlock = Imported(exif.File, "EXIF"), iptcBlock = Imported(iptc.File, "IPTC");
    KXOSpecialInfo info = {};
    info.Version = 1;
    info.Exif = exifBlock.data();
    info.ExifSize = (uint32_t)exifBlock.size();
    info.Iptc = iptcBlock.data();
    info.IptcSize = (uint32_t)iptcBlock.size();
    for (const char* name : {"chain.jpg", "chain.png"}) {
        SCOPED_TRACE(name);
        const std::string path = kxt::TempPath(name), out = kxt::TempPath("exiftool.txt");
        const bool jpeg = std::string(name) == "chain.jpg";
        ASSERT_EQ(jpeg ? SaveWith<kxoJFIF>(img.get(), path, 0, {}, &info) : SaveWith<kxoPNG>(img.get(), path, 0, {}, &info), KXERR_NONE);
        ASSERT_EQ(system(("LC_ALL=C exiftool -s -s -s -Make -Caption-Abstract " + path + " > " + out + " 2>/dev/null").c_str()), 0);
        EXPECT_EQ(KXT_ReadFile(out), "Kaxon5\nA caption\n");
        unlink(path.c_str());
        unlink(out.c_str());
    }
}

}  // namespace
