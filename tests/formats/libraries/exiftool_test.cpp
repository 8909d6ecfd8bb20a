// The metadata tool and the raw metadata importer: the importer's slots,
// placeholder pictures and refusals; exiftool's arguments (fake), its
// standard output straight into the temporary file, the packet landing in
// the module's own slot; real exiftool on the XMP our JPEG writer wrote.
#include "converter_helpers.h"
#include "formats/libraries/kxoExifTool.h"
#include "formats/libraries/kxoJFIF.h"
#include "formats/libraries/kxoRAWMeta_Import.h"

using namespace convtest;

namespace {
template <class T>
struct Device : Module<T> {
    explicit Device(const Settings& s) : Module<T>(s, KXIO_DEVICE) { this->obj.SetLoadMeta(1); }
};
}  // namespace

TEST(RawMetaImport, EachSlotAndThePlaceholder) {
    Scratch dir;
    Bytes block(100);
    for (size_t i = 0; i < block.size(); ++i) block[i] = (uint8_t)(i * 7 + 1);
    ASSERT_TRUE(KXT_WriteBytes(dir / "block.rawmeta", block));
    struct Row {
        const char* format;
        Settings more;
        uint32_t width, height, depth;
    } rows[] = {
        {"IPTC", {}, 1, 1, 8},
        {"exif", {{"DEPTH", "24"}, {"WIDTH", "4"}, {"HEIGHT", "2"}}, 4, 2, 24},
        {"XMP0", {{"DEPTH", "48"}}, 1, 1, 48},
        {"Xmp1", {{"DEPTH", "16"}}, 1, 1, 8},
        {"nonsense", {}, 1, 1, 8},  // counts as EXIF
        {"anno", {}, 1, 1, 8},
        {"AUTH", {}, 1, 1, 8},
        {"COPY", {}, 1, 1, 8},
        {"NAME", {}, 1, 1, 8},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.format);
        Settings s = r.more;
        s["FORMAT"] = r.format;
        s["LOADNAME"] = dir / "block.rawmeta";
        Device<kxoRAWMeta_Import> m(s);
        ASSERT_EQ(m.Load(), 0u);
        KX_GfxBuffer* b = m.Image();
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->Width, r.width);
        EXPECT_EQ(b->Height, r.height);
        EXPECT_EQ(b->ColorDepth, r.depth);
        EXPECT_EQ(b->PixelBits, r.depth);
        ASSERT_EQ(b->BufferSize, r.width * r.height * r.depth / 8);
        for (uint32_t i = 0; i < b->BufferSize; ++i) ASSERT_EQ(b->Data[i], 0);
        for (int i = 0; i < 768; ++i) ASSERT_EQ(b->Palette[i], 0);
        KXOSpecialInfo* info = m.obj.GetSpecialInfo();
        ASSERT_NE(info, nullptr);
        const std::string f = r.format;
        auto bytes = [&](const uint8_t* p, uint32_t n) { return p ? Bytes(p, p + n) : Bytes(); };
        EXPECT_EQ(bytes(info->Iptc, info->IptcSize), f == "IPTC" ? block : Bytes());
        EXPECT_EQ(bytes(info->Exif, info->ExifSize), f == "exif" || f == "nonsense" ? block : Bytes());
        EXPECT_EQ(bytes(info->Xmp0, info->Xmp0Size), f == "XMP0" ? block : Bytes());
        EXPECT_EQ(bytes(info->Xmp1, info->Xmp1Size), f == "Xmp1" ? block : Bytes());

        for (auto [word, field] : {std::pair{"anno", info->Anno}, std::pair{"AUTH", info->Auth}, std::pair{"COPY", info->Copy},
                                   std::pair{"NAME", info->Name}}) {
            if (f == word) {
                ASSERT_NE(field, nullptr);
                // The bytes as they are, then the zero the importer adds.
                EXPECT_EQ(memcmp(field, block.data(), block.size()), 0);
                EXPECT_EQ(field[block.size()], 0);
            } else {
                EXPECT_EQ(field, nullptr) << word;
            }
        }
    }
}

TEST(RawMetaImport, Refusals) {
    Scratch dir;
    ASSERT_TRUE(KXT_WriteFile(dir / "empty.rawmeta", ""));
    ASSERT_TRUE(KXT_WriteFile(dir / "one.rawmeta", "x"));
    mkdir((dir / "folder.rawmeta").c_str(), 0700);
    struct Row {
        const char* what;
        Settings settings;
        uint32_t expected;
    } rows[] = {
        {"no LOADNAME", {}, KXERR_FILENOTFOUND},
        {"missing file", {{"LOADNAME", dir / "missing"}}, KXERR_FILENOTFOUND},
        {"name longer than 255", {{"LOADNAME", "/" + std::string(300, 'n')}}, KXERR_FILENOTFOUND},
        {"empty file for a byte block", {{"LOADNAME", dir / "empty.rawmeta"}, {"FORMAT", "IPTC"}}, KXERR_NOMEMORY},
        // A stream that cannot be read (a folder) is an error, not an empty slot.
        {"unreadable", {{"LOADNAME", dir / "folder.rawmeta"}, {"FORMAT", "ANNO"}}, KXERR_EOF},
        {"no size", {{"LOADNAME", dir / "one.rawmeta"}, {"WIDTH", "0"}}, KXERR_FILEREQUIREMENTS},
        {"huge", {{"LOADNAME", dir / "one.rawmeta"}, {"WIDTH", "100000"}, {"HEIGHT", "100000"}, {"DEPTH", "48"}},
         KXERR_FILEREQUIREMENTS},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        Device<kxoRAWMeta_Import> m(r.settings);
        EXPECT_EQ(m.Load(), r.expected);
        EXPECT_EQ(m.Image(), nullptr);
    }
    // An empty text file gives an empty text.
    Device<kxoRAWMeta_Import> text({{"LOADNAME", dir / "empty.rawmeta"}, {"FORMAT", "ANNO"}});
    ASSERT_EQ(text.Load(), 0u);
    ASSERT_NE(text.obj.GetSpecialInfo()->Anno, nullptr);
    EXPECT_STREQ(text.obj.GetSpecialInfo()->Anno, "");

    kxoRAWMeta_Import m(nullptr);
    EXPECT_EQ(m.SetIOMode(KXIO_FILE), static_cast<uint32_t>(KXERR_NOTSUPPORTED));
    EXPECT_EQ(m.CheckFile(nullptr, "x", KXIO_FILE), 0u);
    EXPECT_EQ(m.CheckFile(nullptr, "x", KXIO_DEVICE), 1u);
    EXPECT_EQ(m.Load(), static_cast<uint32_t>(KXERR_NOTSUPPORTED));
}

TEST(ExifToolDevice, ArgumentsStandardOutputAndThePacketInTheModulesSlot) {
    UseRunner();
    Scratch dir;
    const std::string packet = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF/></x:xmpmeta>";
    ASSERT_TRUE(KXT_WriteFile(dir / "packet.xmp", packet));
    Fake fake(dir, "exiftool", "fixture", dir / "packet.xmp");
    const std::string input = dir / "photo $(touch pwned).jpg";
    Device<kxoExifTool> m({{"EXIFTOOL_PATH", FakeTool()}, {"LOADNAME", input}});
    ASSERT_EQ(m.Load(), 0u);
    const std::string out = m.obj.Output.Name;
    EXPECT_TRUE(IsTempName(out, "exiftool", "raw")) << out;
    // Without -L: the text stays UTF-8.
    EXPECT_EQ(fake.Calls(), (std::vector<Args>{{"-xmp", "-b", input}}));
    EXPECT_FALSE(Exists(dir / "pwned"));
    // The output is the run's only file: no record of the command beside it.
    const std::string stem = out.substr(0, out.size() - 3);
    EXPECT_FALSE(Exists(stem + "bat"));
    EXPECT_EQ(TempFilesLike(stem), 1);
    KXOSpecialInfo* info = m.obj.GetSpecialInfo();
    ASSERT_NE(info, nullptr);
    ASSERT_NE(info->Xmp1, nullptr);
    EXPECT_EQ(std::string((const char*)info->Xmp1, info->Xmp1Size), packet);
    KX_GfxBuffer* b = m.Image();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Width, 1u);
    m.obj.Reset();
    EXPECT_FALSE(Exists(out));
    EXPECT_EQ(TempFilesLike(stem), 0);
}

TEST(ExifToolDevice, Failures) {
    UseRunner();
    Scratch dir;
    Fake fake(dir, "exiftool", "none");
    {
        Device<kxoExifTool> m({{"EXIFTOOL_PATH", FakeTool()}});
        EXPECT_EQ(m.Load(), static_cast<uint32_t>(KXERR_FILENOTFOUND));
        EXPECT_TRUE(m.obj.Output.Name == nullptr) << "no file before LOADNAME is known";
        Device<kxoExifTool> tooLong({{"EXIFTOOL_PATH", FakeTool()}, {"LOADNAME", "/" + std::string(256, 'l')}});
        EXPECT_EQ(tooLong.Load(), static_cast<uint32_t>(KXERR_FILENOTFOUND));
        EXPECT_TRUE(fake.Calls().empty());
    }
    // No XMP in the file: exiftool writes nothing, which is no packet.
    for (const char* mode : {"none", "empty"}) {
        fake.Mode(mode);
        Device<kxoExifTool> m({{"EXIFTOOL_PATH", FakeTool()}, {"LOADNAME", dir / "x.jpg"}});
        EXPECT_EQ(m.Load(), static_cast<uint32_t>(KXERR_EXTERNALTOOL)) << mode;
        EXPECT_EQ(m.Image(), nullptr);
    }
    Device<kxoExifTool> missing({{"EXIFTOOL_PATH", dir / "no-such-tool"}, {"LOADNAME", dir / "x.jpg"}});
    EXPECT_EQ(missing.Load(), static_cast<uint32_t>(KXERR_EXTERNALTOOL));
    kxoExifTool m(nullptr);
    EXPECT_EQ(m.Load(), static_cast<uint32_t>(KXERR_NOTSUPPORTED));
    EXPECT_EQ(m.SetIOMode(KXIO_FILE), static_cast<uint32_t>(KXERR_NOTSUPPORTED));
    EXPECT_EQ(m.CheckFile(nullptr, "x", KXIO_FILE), 0u);
}

TEST(ExifToolReal, ReadsTheXmpOurJpegWriterWrote) {
    CONV_NEED_TOOL("exiftool");
    UseRunner();
    Scratch dir;
    // UTF-8 beyond Latin-1 as well: exiftool must hand it over unchanged.
    const std::string packet =
        "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?>\n"
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
        "<rdf:Description rdf:about='' xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:title><rdf:Alt>"
        "<rdf:li xml:lang='x-default'>Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xE6\x97\xA5</rdf:li></rdf:Alt></dc:title>"
        "</rdf:Description></rdf:RDF></x:xmpmeta>\n<?xpacket end='w'?>";
    Buffer img = pngtest::MakeImage(24, 8, 8);
    KXOSpecialInfo info = {};
    info.Version = 1;
    info.Xmp0 = (uint8_t*)packet.data();
    info.Xmp0Size = (uint32_t)packet.size();
    const std::string jpeg = dir / "with xmp.jpg";
    {
        kxoJFIF w(nullptr);
        w.SetSaveName(jpeg.c_str());
        w.SetGfxBuffer(img.get());
        w.SetSaveMeta(1);
        w.SetSpecialInfo(&info);
        ASSERT_EQ(w.Save(), 0u);
        w.SetSpecialInfo(nullptr);
    }
    Device<kxoExifTool> m({{"LOADNAME", jpeg}});
    ASSERT_EQ(m.Load(), 0u);
    KXOSpecialInfo* got = m.obj.GetSpecialInfo();
    ASSERT_NE(got, nullptr);
    ASSERT_NE(got->Xmp1, nullptr);
    EXPECT_EQ(std::string((const char*)got->Xmp1, got->Xmp1Size), packet);

    // A JPEG without XMP: nothing to deliver, 32.
    const std::string plain = dir / "plain.jpg";
    {
        kxoJFIF w(nullptr);
        w.SetSaveName(plain.c_str());
        w.SetGfxBuffer(img.get());
        ASSERT_EQ(w.Save(), 0u);
    }
    Device<kxoExifTool> none({{"LOADNAME", plain}});
    EXPECT_EQ(none.Load(), static_cast<uint32_t>(KXERR_EXTERNALTOOL));
}
