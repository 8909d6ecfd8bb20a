// What the writers make of a JPEG's metadata: a JPEG made by cjpeg and
// tagged by exiftool in either EXIF byte order, read by ours and saved as
// TIFF and PNG. The orientation, the GPS position and the camera leave
// with the picture, and each text is in the file once, where our reader
// finds it again.
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
