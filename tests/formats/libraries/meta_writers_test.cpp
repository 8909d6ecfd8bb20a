// What the writers make of a JPEG's metadata: a JPEG made by cjpeg and
// tagged by exiftool in either EXIF byte order, read by ours and saved as
// TIFF and PNG. The orientation, the GPS position and the camera leave
// with the picture, and each text is in the file once, where our reader
// finds it again.
#include <tiffio.h>

#include "jfif_helpers.h"
#include "tiff_helpers.h"

namespace {

using tifftest::Bytes;

// A 16 x 8 JPEG made by cjpeg from a PPM of ours, then tagged by exiftool
// with its EXIF in the given byte order ("MM" or "II"). Empty when a tool
// fails.
std::string TaggedJpeg(const std::string& name, const std::string& order) {
    const std::string ppm = tifftest::TempPath(name + ".ppm"), jpg = tifftest::TempPath(name + ".jpg");
    if (!KXT_WriteBytes(ppm, pngtest::MakePnm(true, 16, 8, 255, [](uint32_t i) { return i * 37; }))) return "";
    const bool ok = tifftest::RunTool("cjpeg " + ppm + " > " + jpg) == 0 &&
                    tifftest::RunTool("exiftool -q -overwrite_original -ExifByteOrder=" + order +
                                      " -Orientation#=6 -Make=Kaxon5Cam -GPSLatitude=48.5 -GPSLatitudeRef=N"
                                      " -GPSLongitude=11.25 -GPSLongitudeRef=E -Artist='Ann Artist'"
                                      " -IPTC:Caption-Abstract='A caption' " + jpg) == 0;
    remove(ppm.c_str());
    return ok ? jpg : "";
}

bool HaveTools() { return KXT_HaveTool("cjpeg") && KXT_HaveTool("exiftool"); }

struct Writer {
    const char* name;
    const char* ext;
    uint32_t subtype;  // TIFF only
};
const Writer kWriters[] = {{"TIFF V6.0", "tif", 1}, {"TIFF EP", "tif", 2}, {"PNG", "png", 0}};

uint32_t SaveAs(const Writer& w, KX_GfxBuffer* b, const std::string& path, KXOSpecialInfo* info) {
    if (strcmp(w.ext, "png") == 0) {
        pngtest::Png p;
        return p.Save(b, path, info);
    }
    tifftest::Tiff t;
    return t.Save(b, path, info, w.subtype);
}

// Orientation, position and camera of both byte orders reach TIFF and PNG,
// each once: in a TIFF the orientation is the main directory's own tag,
// which our reader takes back too.
TEST(MetaWriters, OrientationGpsAndMakeLeaveWithThePicture) {
    if (!HaveTools()) GTEST_SKIP() << "cjpeg or exiftool missing";
    for (const char* order : {"MM", "II"}) {
        const std::string jpg = TaggedJpeg(std::string("orient") + order, order);
        ASSERT_FALSE(jpg.empty());
        jfiftest::Jfif j;
        ASSERT_EQ(j.Load(jpg, true), KXERR_NONE);
        KXOSpecialInfo* info = j.obj.GetSpecialInfo();
        ASSERT_NE(info, nullptr);
        ASSERT_EQ(info->Orientation, 6u);
        ASSERT_EQ(info->Exif[6], order[0]);
        for (const Writer& w : kWriters) {
            SCOPED_TRACE(std::string(order) + " to " + w.name);
            const std::string path = tifftest::TempPath(std::string("orient.") + w.ext);
            ASSERT_EQ(SaveAs(w, j.Image(), path, info), KXERR_NONE);
            EXPECT_EQ(tifftest::Capture("exiftool -a -n -s3 -EXIF:Orientation -EXIF:Make -EXIF:GPSLatitude "
                                        "-EXIF:GPSLatitudeRef -EXIF:GPSLongitude -EXIF:GPSLongitudeRef " + path),
                      "6\nKaxon5Cam\n48.5\nN\n11.25\nE\n");
            if (strcmp(w.ext, "tif") == 0) {
                tifftest::Tiff r;
                ASSERT_EQ(r.Load(path, true), KXERR_NONE);
                EXPECT_EQ(r.obj.GetSpecialInfo()->Orientation, 6u);
            }
            remove(path.c_str());
        }
        remove(jpg.c_str());
    }
}

// The texts the JPEG's blocks gave (author, caption) are left to the
// blocks the writer stores, a text of the record's own (the copyright)
// is written as one; our reader gives all three back, and the file holds
// each of them once.
TEST(MetaWriters, TextsOnceAndBackThroughOurReader) {
    if (!HaveTools()) GTEST_SKIP() << "cjpeg or exiftool missing";
    const std::string jpg = TaggedJpeg("texts", "MM");
    ASSERT_FALSE(jpg.empty());
    jfiftest::Jfif j;
    ASSERT_EQ(j.Load(jpg, true), KXERR_NONE);
    KXOSpecialInfo info = *j.obj.GetSpecialInfo();
    ASSERT_STREQ(info.Auth, "Ann Artist");
    ASSERT_STREQ(info.Anno, "A caption");
    info.Copy = const_cast<char*>("Own copyright");
    for (const Writer& w : kWriters) {
        SCOPED_TRACE(w.name);
        const std::string path = tifftest::TempPath(std::string("texts.") + w.ext);
        ASSERT_EQ(SaveAs(w, j.Image(), path, &info), KXERR_NONE);
        const std::string all = tifftest::Capture("exiftool -a -G1 -s " + path);
        for (const char* value : {": Ann Artist\n", ": A caption\n", ": Own copyright\n"}) {
            size_t n = 0;
            for (size_t at = all.find(value); at != std::string::npos; at = all.find(value, at + 1)) ++n;
            EXPECT_EQ(n, 1u) << value << all;
        }
        KXOSpecialInfo* back = nullptr;
        pngtest::Png p;
        tifftest::Tiff t;
        KXObject& reader = strcmp(w.ext, "png") == 0 ? static_cast<KXObject&>(p.obj) : t.obj;
        reader.SetLoadMeta(1);
        reader.SetReadName(path.c_str());
        ASSERT_EQ(reader.Load(), KXERR_NONE);
        back = reader.GetSpecialInfo();
        ASSERT_NE(back, nullptr);
        EXPECT_STREQ(back->Auth, "Ann Artist");
        EXPECT_STREQ(back->Anno, "A caption");
        EXPECT_STREQ(back->Copy, "Own copyright");
        remove(path.c_str());
    }
    remove(jpg.c_str());
}

}  // namespace

namespace {

// A JPEG of cjpeg's tagged by exiftool with the given arguments; empty
// when a tool fails.
std::string JpegWith(const std::string& name, const std::string& arguments) {
    const std::string ppm = tifftest::TempPath(name + ".ppm"), jpg = tifftest::TempPath(name + ".jpg");
    if (!KXT_WriteBytes(ppm, pngtest::MakePnm(true, 16, 8, 255, [](uint32_t i) { return i * 37; }))) return "";
    const bool ok = tifftest::RunTool("cjpeg " + ppm + " > " + jpg) == 0 &&
                    tifftest::RunTool("exiftool -q -overwrite_original " + arguments + " " + jpg) == 0;
    remove(ppm.c_str());
    return ok ? jpg : "";
}

// Loads path through the writer's own reader with metadata on; the record
// (null when the load failed) lives as long as the reader.
struct Reader {
    pngtest::Png png;
    tifftest::Tiff tiff;
    KXOSpecialInfo* load(const Writer& w, const std::string& path) {
        KXObject& o = strcmp(w.ext, "png") == 0 ? static_cast<KXObject&>(png.obj) : tiff.obj;
        o.SetLoadMeta(1);
        o.SetReadName(path.c_str());
        return o.Load() == KXERR_NONE ? o.GetSpecialInfo() : nullptr;
    }
};

// The EXIF copyright is the notice as the tag holds it, not the display
// text libexif makes of it ("... (Photographer) - [None] (Editor)"): the
// photographer's part, or the editor's when the first is blank (exiftool
// writes a line break as the zero between them). That text reaches TIFF
// and PNG, other readers find it there, and ours gives it back.
TEST(MetaWriters, ExifCopyrightIsTheNoticeNotItsDisplayText) {
    if (!HaveTools()) GTEST_SKIP() << "cjpeg or exiftool missing";
    struct Row {
        const char* value;  // as given to exiftool
        const char* notice;
    };
    const Row rows[] = {
        {"(c) Ann", "(c) Ann"},
        {"\xC2\xA9 Ann 2026", "\xC2\xA9 Ann 2026"},
        {"Photo Ann\nEd Bob", "Photo Ann"},
        {" \nEd Bob", "Ed Bob"},
    };
    for (const Row& r : rows) {
        for (const char* order : {"MM", "II"}) {
            SCOPED_TRACE(std::string(r.value) + " " + order);
            const std::string jpg =
                JpegWith("copyright", std::string("-ExifByteOrder=") + order + " '-Copyright=" + r.value + "'");
            ASSERT_FALSE(jpg.empty());
            jfiftest::Jfif j;
            ASSERT_EQ(j.Load(jpg, true), KXERR_NONE);
            KXOSpecialInfo* info = j.obj.GetSpecialInfo();
            ASSERT_NE(info, nullptr);
            ASSERT_STREQ(info->Copy, r.notice);
            for (const Writer& w : kWriters) {
                SCOPED_TRACE(w.name);
                const std::string path = tifftest::TempPath(std::string("copyright.") + w.ext);
                ASSERT_EQ(SaveAs(w, j.Image(), path, info), KXERR_NONE);
                const std::string all = tifftest::Capture("exiftool -a -s " + path);
                EXPECT_EQ(all.find("Photographer"), std::string::npos) << all;
                EXPECT_EQ(all.find("[None]"), std::string::npos) << all;
                // A PNG keeps the copyright in its EXIF block, with the editor's part.
                const size_t line = all.find("\nCopyright ");
                ASSERT_NE(line, std::string::npos) << all;
                EXPECT_NE(all.substr(line, all.find('\n', line + 1) - line).find(r.notice), std::string::npos) << all;
                Reader reader;
                KXOSpecialInfo* back = reader.load(w, path);
                ASSERT_NE(back, nullptr);
                EXPECT_STREQ(back->Copy, r.notice);
                remove(path.c_str());
            }
            remove(jpg.c_str());
        }
    }
}

// One convention for the record's XMP size: the packet's bytes, without a
// terminating zero (the block may keep one after them). A packet read
// from a JPEG goes into TIFF and PNG as those bytes, and each reader gives
// back the same bytes and the same size, however often it goes round.
TEST(MetaWriters, XmpSizeIsThePacketAlone) {
    if (!HaveTools()) GTEST_SKIP() << "cjpeg or exiftool missing";
    const std::string jpg = JpegWith("xmp", "-XMP-dc:Title=Sky -XMP-dc:Creator=Ann");
    ASSERT_FALSE(jpg.empty());
    jfiftest::Jfif j;
    ASSERT_EQ(j.Load(jpg, true), KXERR_NONE);
    KXOSpecialInfo* info = j.obj.GetSpecialInfo();
    ASSERT_NE(info, nullptr);
    ASSERT_NE(info->Xmp0, nullptr);
    const std::string packet(reinterpret_cast<const char*>(info->Xmp0), info->Xmp0Size);
    ASSERT_NE(packet.find("Sky"), std::string::npos);
    ASSERT_EQ(packet.find('\0'), std::string::npos);
    for (const Writer& w : kWriters) {
        SCOPED_TRACE(w.name);
        const std::string first = tifftest::TempPath(std::string("xmp1.") + w.ext);
        const std::string second = tifftest::TempPath(std::string("xmp2.") + w.ext);
        ASSERT_EQ(SaveAs(w, j.Image(), first, info), KXERR_NONE);
        if (strcmp(w.ext, "tif") == 0) {
            // The file's packet, as libtiff finds it: the bytes alone.
            TIFFSetWarningHandler(nullptr);
            TIFF* t = TIFFOpen(first.c_str(), "r");
            ASSERT_NE(t, nullptr);
            uint32_t count = 0;
            void* data = nullptr;
            ASSERT_TRUE(TIFFGetField(t, TIFFTAG_XMLPACKET, &count, &data));
            EXPECT_EQ(std::string(static_cast<const char*>(data), count), packet);
            TIFFClose(t);
        }
        Reader once;
        KXOSpecialInfo* back = once.load(w, first);
        ASSERT_NE(back, nullptr);
        ASSERT_NE(back->Xmp0, nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(back->Xmp0), back->Xmp0Size), packet);
        EXPECT_EQ(back->Xmp0[back->Xmp0Size], 0);  // kept with a zero after it, for text readers
        ASSERT_EQ(SaveAs(w, j.Image(), second, back), KXERR_NONE);
        Reader twice;
        KXOSpecialInfo* again = twice.load(w, second);
        ASSERT_NE(again, nullptr);
        ASSERT_NE(again->Xmp0, nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(again->Xmp0), again->Xmp0Size), packet);
        remove(first.c_str());
        remove(second.c_str());
    }
    remove(jpg.c_str());
}

}  // namespace
