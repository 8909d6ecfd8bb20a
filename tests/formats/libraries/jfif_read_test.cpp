// JPEG reading: the pixels of files made by cjpeg and libjpeg equal djpeg's
// decoding under every decoder setting; CMYK and YCCK, grey, the
// thumbnail mode, recognition, Macintosh wrappers, damaged files and a
// large progressive picture.
#include <dirent.h>

#include "jfif_helpers.h"
#include "support/robustness.h"

namespace {

using namespace jfiftest;

struct DjpegCase {
    const char* name;
    const char* cjpeg;     // options making the file from the PPM
    Settings settings;     // ours
    const char* djpeg;     // the same decoding for djpeg
    uint32_t pixelBits;
    bool greyFlag;
};

const DjpegCase kDjpegCases[] = {
    {"colour", "-quality 90", {}, "-dct fast", 24, false},
    {"colour444", "-quality 90 -sample 1x1", {}, "-dct fast", 24, false},
    {"slow", "-quality 90", {{"DECODE_METHOD", "SLOW_INTEGER"}}, "-dct int", 24, false},
    {"float", "-quality 90", {{"DECODE_METHOD", "floating_point"}}, "-dct float", 24, false},
    {"nosmooth", "-quality 90", {{"UPSAMPLING", "OFF"}}, "-dct fast -nosmooth", 24, false},
    {"grey", "-grayscale", {}, "-dct fast", 8, true},
    {"greyDecode", "-quality 90", {{"GRAY_DECODE", "ON"}}, "-dct fast -grayscale", 8, false},
    // Only "ON" in capitals switches grey decoding on.
    {"greyDecodeLower", "-quality 90", {{"GRAY_DECODE", "on"}}, "-dct fast", 24, false},
    {"progressive", "-progressive -optimize", {}, "-dct fast", 24, false},
    {"restart", "-restart 1", {}, "-dct fast", 24, false},
    {"half", "", {{"SCALING", "HALF"}}, "-dct fast -scale 1/2", 24, false},
    {"quarter", "", {{"SCALING", "QUARTER"}}, "-dct fast -scale 1/4", 24, false},
    {"eighth", "", {{"SCALING", "HALF_QUARTER"}}, "-dct fast -scale 1/8", 24, false},
    // 61 x 45: from 8 down until 61/d >= 20 and 45/d >= 15, so d = 3: libjpeg's 3/8.
    {"thresh", "", {{"SCALING", "HALF_QUARTER"}, {"THRESH_WIDTH", "20"}, {"THRESH_HEIGHT", "15"}}, "-dct fast -scale 3/8", 24, false},
    // 61/2 is below 31: the denominator drops to 1.
    {"threshUnscaled", "", {{"SCALING", "HALF"}, {"THRESH_WIDTH", "31"}, {"THRESH_HEIGHT", "1"}}, "-dct fast", 24, false},
    // Either threshold 0: the denominator as given.
    {"threshZero", "", {{"SCALING", "HALF"}, {"THRESH_WIDTH", "500"}, {"THRESH_HEIGHT", "0"}}, "-dct fast -scale 1/2", 24, false},
    {"palette", "-quality 90", {{"COLORDEPTH", "8"}}, "-dct fast -colors 256", 8, false},
    {"paletteOrdered", "-quality 90", {{"COLORDEPTH", "8"}, {"DITHERMODE", "DITHER_ORDERED"}, {"COLOR_QUANTIZING", "SLOW"}}, "-dct fast -colors 256 -dither ordered -onepass", 8, false},
    {"paletteFast", "-quality 90", {{"COLORDEPTH", "8"}, {"COLOR_QUANTIZING", "FAST"}, {"DITHERMODE", "NO_DITHERING"}}, "-dct fast -colors 256 -onepass -dither none", 8, false},
    {"greyPalette", "-grayscale", {{"COLORDEPTH", "8"}}, "-dct fast", 8, true},
};

class JfifMatchesDjpeg : public ::testing::TestWithParam<DjpegCase> {};

TEST_P(JfifMatchesDjpeg, SamePixels) {
    if (!KXT_HaveTool("djpeg") || !KXT_HaveTool("cjpeg")) GTEST_SKIP() << "libjpeg-turbo-progs missing";
    const DjpegCase& c = GetParam();
    const std::string ppm = TempPath(std::string(c.name) + ".ppm"), jpg = TempPath(std::string(c.name) + ".jpg");
    ASSERT_TRUE(KXT_WriteBytes(ppm, Ppm(61, 45)));
    ASSERT_EQ(RunTool(std::string("cjpeg ") + c.cjpeg + " " + ppm + " > " + jpg), 0);
    const pngtest::Pnm expected = Djpeg(jpg, c.djpeg);
    ASSERT_GT(expected.width, 0u);
    Jfif r(c.settings);
    ASSERT_EQ(r.Load(jpg), KXERR_NONE);
    const KX_GfxBuffer* b = r.Image();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->PixelBits, c.pixelBits);
    EXPECT_EQ(b->ColorDepth, c.pixelBits);
    EXPECT_EQ(b->BufferSize, b->Width * b->Height * c.pixelBits / 8);
    EXPECT_EQ(KXSUP_IsGrayBuffer(b) != 0, c.greyFlag);
    if (c.greyFlag) {
        EXPECT_EQ(b->Version, 4u);
    }
    EXPECT_EQ(MaxDifference(b, expected), 0) << b->Width << "x" << b->Height;
    remove(ppm.c_str());
    remove(jpg.c_str());
}

INSTANTIATE_TEST_SUITE_P(Cases, JfifMatchesDjpeg, ::testing::ValuesIn(kDjpegCases),
                         [](const auto& info) { return std::string(info.param.name); });

// CMYK and YCCK files load as RGB through C·K/255, with COLORDEPTH 8 too,
// and their buffer holds exactly the RGB bytes (W·3·H).
TEST(JfifRead, CmykAndYcckNarrowToRgb) {
    for (J_COLOR_SPACE stored : {JCS_CMYK, JCS_YCCK}) {
        for (const char* depth : {"24", "8"}) {
            const std::string jpg = TempPath("cmyk.jpg");
            // 1033 wide: a row of four bytes a pixel is longer than the old slack.
            const uint32_t w = 1033, h = 5;
            ASSERT_TRUE(WriteLibjpeg(jpg, w, h, 4, stored));
            uint32_t rw = 0, rh = 0;
            const std::vector<uint8_t> cmyk = DecodeCmyk(jpg, &rw, &rh);
            Jfif r(Settings{{"COLORDEPTH", depth}});
            ASSERT_EQ(r.Load(jpg), KXERR_NONE);
            const KX_GfxBuffer* b = r.Image();
            ASSERT_EQ(b->PixelBits, 24u);
            ASSERT_EQ(b->Width, rw);
            EXPECT_EQ(b->BufferSize, w * 3 * h);
            int worst = 0;
            for (size_t i = 0; i < (size_t)w * h; ++i)
                for (int c = 0; c < 3; ++c)
                    worst = std::max(worst, std::abs(b->Data[i * 3 + c] - cmyk[i * 4 + c] * cmyk[i * 4 + 3] / 255));
            EXPECT_EQ(worst, 0) << stored << " " << depth;
            // djpeg rounds where we truncate.
            if (KXT_HaveTool("djpeg")) {
                EXPECT_LE(MaxDifference(b, Djpeg(jpg, "-dct fast")), 1);
            }
            remove(jpg.c_str());
        }
    }
}

// Two components: libjpeg leaves the colour space unknown and gives two
// bytes a pixel, which no buffer here is laid out for.
TEST(JfifRead, UnknownTwoComponentFileIsRefused) {
    const std::string jpg = TempPath("two.jpg");
    FILE* f = fopen(jpg.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    jpeg_compress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = 9;
    c.image_height = 4;
    c.input_components = 2;
    c.in_color_space = JCS_UNKNOWN;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    uint8_t row[18] = {};
    while (c.next_scanline < 4) {
        JSAMPROW r = row;
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    fclose(f);
    Jfif r;
    EXPECT_EQ(r.Load(jpg), KXERR_FILEREQUIREMENTS);
    EXPECT_EQ(r.Image(), nullptr);
    remove(jpg.c_str());
}

TEST(JfifRead, ThumbnailModeReadsOnlyTheMetadataOfAnExifFile) {
    const std::string plain = TempPath("plain.jpg"), exif = TempPath("exif.jpg");
    ASSERT_TRUE(WriteLibjpeg(plain, 40, 24, 3, JCS_YCbCr));
    std::vector<uint8_t> block = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(WriteLibjpeg(exif, 40, 24, 3, JCS_YCbCr, [&](j_compress_ptr c) {
        jpeg_write_marker(c, JPEG_APP0 + 1, block.data(), (unsigned)block.size());
    }));
    Jfif a({{"READ_MODE", "THUMBNAIL"}, {"SCALING", "HALF"}});
    EXPECT_EQ(a.Load(exif, true), KXERR_NONE);
    EXPECT_EQ(a.Image(), nullptr);
    ASSERT_NE(a.obj.GetSpecialInfo(), nullptr);
    EXPECT_EQ(a.obj.GetSpecialInfo()->ExifSize, block.size());
    // Without EXIF: decoded, unscaled.
    Jfif b({{"READ_MODE", "THUMBNAIL"}, {"SCALING", "HALF"}});
    ASSERT_EQ(b.Load(plain, true), KXERR_NONE);
    ASSERT_NE(b.Image(), nullptr);
    EXPECT_EQ(b.Image()->Width, 40u);
    remove(plain.c_str());
    remove(exif.c_str());
}

TEST(JfifRead, Recognition) {
    const std::string dir = KXT_NewTempDir(TempPath("recogXXXXXX"));
    const std::string jfif = dir + "/a.bin", exifOnly = dir + "/b.bin", text = dir + "/c.jpg";
    ASSERT_TRUE(WriteLibjpeg(jfif, 8, 8, 3, JCS_YCbCr));
    // No JFIF marker: only libjpeg's header check takes it.
    ASSERT_TRUE(WriteLibjpeg(exifOnly, 8, 8, 3, JCS_YCbCr, [](j_compress_ptr c) {
        const uint8_t exif[] = {'E', 'x', 'i', 'f', 0, 0};
        jpeg_write_marker(c, JPEG_APP0 + 1, exif, sizeof(exif));
    }, false));
    ASSERT_TRUE(KXT_WriteFile(text, std::string(300, 'x')));
    struct Row {
        std::string path;
        bool withName;
        uint32_t expected;
    } rows[] = {{jfif, false, 1}, {exifOnly, false, 0}, {exifOnly, true, 1}, {text, true, 0}};
    kxoJFIF r(nullptr);
    for (const Row& row : rows) {
        FILE* f = fopen(row.path.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(r.CheckFile(f, row.withName ? row.path.c_str() : nullptr, KXIO_FILE), row.expected) << row.path;
        EXPECT_EQ(ftell(f), 0L);
        EXPECT_EQ(r.CheckFile(f, row.path.c_str(), KXIO_CLIPBOARD), 0u);
        fclose(f);
    }
    remove(jfif.c_str());
    remove(exifOnly.c_str());
    remove(text.c_str());
    rmdir(dir.c_str());
}

// A MacBinary file (type and creator "JPEG8BIM", the JPEG from offset 128)
// named *.jpg is recognised and loads through a temporary copy, which is
// gone afterwards.
TEST(JfifRead, MacBinaryWrappedFileLoads) {
    const std::string temp = KX_GetProcessTempDir();
    // This process's copies only: other programs of the library may share the folder.
    char prefix[32];
    snprintf(prefix, sizeof(prefix), "jpeg_%lx_", (unsigned long)KX_GetProcessInstanceId());
    auto macCopies = [&] {
        int n = 0;
        if (DIR* d = opendir(temp.c_str())) {
            while (dirent* e = readdir(d)) {
                const std::string name = e->d_name;
                if (name.rfind(prefix, 0) == 0 && name.size() > 4 && name.compare(name.size() - 4, 4, ".mac") == 0) ++n;
            }
            closedir(d);
        }
        return n;
    };
    const int before = macCopies();
    const std::string plain = TempPath("plain.bin"), mac = TempPath("wrapped.jpg");
    ASSERT_TRUE(WriteLibjpeg(plain, 23, 11, 3, JCS_YCbCr));
    std::vector<uint8_t> bytes(128, 0);
    bytes[1] = 8;
    memcpy(bytes.data() + 2, "wrapped", 7);
    memcpy(bytes.data() + 65, "JPEG8BIM", 8);
    const auto jpeg = KXT_ReadBytes(plain);
    bytes.insert(bytes.end(), jpeg.begin(), jpeg.end());
    bytes.resize(bytes.size() + 100, 0);  // the resource fork's padding
    ASSERT_TRUE(KXT_WriteBytes(mac, bytes));
    remove(plain.c_str());

    Jfif r;
    FILE* f = fopen(mac.c_str(), "rb");
    EXPECT_EQ(r.obj.CheckFile(f, mac.c_str(), KXIO_FILE), 1u);
    fclose(f);
    ASSERT_EQ(r.Load(mac), KXERR_NONE);
    ASSERT_NE(r.Image(), nullptr);
    EXPECT_EQ(r.Image()->Width, 23u);
    EXPECT_EQ(macCopies(), before);
    remove(mac.c_str());
}

TEST(JfifRead, DamagedFilesFailCleanly) {
    for (const char* kind : {"baseline", "progressive"}) {
        const std::string jpg = TempPath(std::string("robust_") + kind + ".jpg");
        ASSERT_TRUE(WriteLibjpeg(jpg, 19, 13, 3, JCS_YCbCr, [&](j_compress_ptr c) {
            const uint8_t exif[] = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 1, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0};
            jpeg_write_marker(c, JPEG_APP0 + 1, exif, sizeof(exif));
            const uint8_t icc[] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, 1, 1, 1, 2, 3};
            jpeg_write_marker(c, JPEG_APP0 + 2, icc, sizeof(icc));
        }));
        if (strcmp(kind, "progressive") == 0 && KXT_HaveTool("jpegtran")) {
            ASSERT_EQ(RunTool("jpegtran -copy all -progressive -outfile " + jpg + ".p " + jpg + " && mv " + jpg + ".p " + jpg), 0);
        }
        KXT_CheckReaderRobustness("kxoJFIF", jpg);
        remove(jpg.c_str());
    }
}

// Under the default memory limit a large progressive picture loads, and
// saves again with two-pass optimised Huffman tables and progressive scans.
TEST(JfifRead, LargeProgressiveLoadsAndSaves) {
    const std::string jpg = TempPath("large.jpg"), out = TempPath("large_out.jpg");
    const uint32_t w = 3000, h = 2000;
    Buffer img = MakeRgb(w, h);
    {
        Jfif s({{"PROGRESSIVE", "ON"}, {"OPTIMIZE", "ON"}, {"QUANTIZATION", "90"}});
        ASSERT_EQ(s.Save(img.get(), jpg), KXERR_NONE);
    }
    Jfif r;
    ASSERT_EQ(r.Load(jpg), KXERR_NONE);
    ASSERT_EQ(r.Image()->Width, w);
    Jfif s({{"PROGRESSIVE", "ON"}, {"OPTIMIZE", "ON"}});
    EXPECT_EQ(s.Save(r.Image(), out), KXERR_NONE);
    if (KXT_HaveTool("djpeg")) {
        EXPECT_EQ(MaxDifference(r.Image(), Djpeg(jpg, "-dct fast")), 0);
    }
    remove(jpg.c_str());
    remove(out.c_str());
}

// A file asking for more than the library's size limit is refused before
// libjpeg allocates its whole-image arrays.
TEST(JfifRead, SizeLimitComesFirst) {
    const std::string jpg = TempPath("limit.jpg");
    ASSERT_TRUE(WriteLibjpeg(jpg, 300, 200, 3, JCS_YCbCr));
    KXSUP_SetSizeLimit(100000);
    Jfif r;
    EXPECT_EQ(r.Load(jpg), KXERR_NOMEMORY);
    EXPECT_EQ(r.Image(), nullptr);
    // Scaled to an eighth the output would fit, but libjpeg still decodes
    // every block of the full-size picture.
    Jfif scaled({{"SCALING", "HALF_QUARTER"}});
    EXPECT_EQ(scaled.Load(jpg), KXERR_NOMEMORY);
    KXSUP_SetSizeLimit(200000);
    Jfif fits({{"SCALING", "HALF_QUARTER"}});
    EXPECT_EQ(fits.Load(jpg), KXERR_NONE);
    KXSUP_ResetSizeLimit();
    remove(jpg.c_str());
}

// A progressive file that repeats its last scan over and over is stopped
// after a thousand scans instead of keeping the decoder busy.
TEST(JfifRead, EndlessScansAreStopped) {
    const std::string jpg = TempPath("scans.jpg");
    Buffer img = MakeRgb(64, 64);
    {
        Jfif s({{"PROGRESSIVE", "ON"}});
        ASSERT_EQ(s.Save(img.get(), jpg), KXERR_NONE);
    }
    auto bytes = KXT_ReadBytes(jpg);
    size_t last = 0;
    for (size_t i = 0; i + 1 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) last = i;
    ASSERT_GT(last, 0u);
    const std::vector<uint8_t> scan(bytes.begin() + last, bytes.end() - 2);
    bytes.resize(bytes.size() - 2);
    for (int i = 0; i < 1100; ++i) bytes.insert(bytes.end(), scan.begin(), scan.end());
    bytes.push_back(0xFF);
    bytes.push_back(0xD9);
    ASSERT_TRUE(KXT_WriteBytes(jpg, bytes));
    Jfif r;
    EXPECT_EQ(r.Load(jpg), KXERR_DECODE);
    EXPECT_EQ(r.Image(), nullptr);
    // Repeated a few times it still loads.
    bytes.resize(last + scan.size() * 5);
    bytes.push_back(0xFF);
    bytes.push_back(0xD9);
    ASSERT_TRUE(KXT_WriteBytes(jpg, bytes));
    Jfif r2;
    EXPECT_EQ(r2.Load(jpg), KXERR_NONE);
    remove(jpg.c_str());
}

TEST(JfifRead, ThumbnailBytesDecodeForOtherModules) {
    const std::string jpg = TempPath("thumb.jpg");
    ASSERT_TRUE(WriteLibjpeg(jpg, 16, 12, 3, JCS_YCbCr));
    const auto bytes = KXT_ReadBytes(jpg);
    KX_GfxBuffer* b = nullptr;
    ASSERT_EQ(KXJFIF_DecodeThumbnail(nullptr, bytes.data(), (uint32_t)bytes.size(), &b), KXERR_NONE);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Width, 16u);
    EXPECT_EQ(b->PixelBits, 24u);
    KXSUP_FreeGfxBuffer(b);
    EXPECT_EQ(KXJFIF_DecodeThumbnail(nullptr, bytes.data(), 10, &b), KXERR_DECODE);
    EXPECT_EQ(b, nullptr);
    EXPECT_EQ(KXJFIF_DecodeThumbnail(nullptr, nullptr, 10, &b), KXERR_INTERNALACCESS);
    remove(jpg.c_str());
}

// Data that stops early (the file cut short, or cut and closed with an end
// marker) is only a warning to libjpeg: the picture loads, black where the
// data is missing (those rows are not decoded from nothing), and the reader
// reports it (LoadWarning); a whole file, also read next by the same
// object, reports nothing.
TEST(JfifRead, DataEndingEarlyIsReported) {
    const std::string whole = TempPath("whole.jpg");
    Buffer img = MakeRgb(96, 64);
    {
        Jfif s({{"QUANTIZATION", "90"}});
        ASSERT_EQ(s.Save(img.get(), whole), KXERR_NONE);
    }
    const std::vector<uint8_t> bytes = KXT_ReadBytes(whole);
    const std::vector<uint8_t> half(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() / 2));
    std::vector<uint8_t> closed = half;
    closed.push_back(0xFF);
    closed.push_back(0xD9);
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        uint32_t warning;
    } cases[] = {{"cut", half, KXERR_EOF}, {"cut, then an end marker", closed, KXERR_EOF}, {"whole", bytes, KXERR_NONE}};
    Jfif r;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = TempPath("early.jpg");
        ASSERT_TRUE(KXT_WriteBytes(path, c.bytes));
        ASSERT_EQ(r.Load(path), KXERR_NONE);
        EXPECT_EQ(r.obj.LoadWarning, c.warning);
        const KX_GfxBuffer* b = r.Image();
        ASSERT_NE(b, nullptr);
        ASSERT_EQ(b->Width, 96u);
        ASSERT_EQ(b->Height, 64u);
        // The last pixel: black where the data was missing.
        const uint8_t* last = b->Data + b->BufferSize - 3;
        const bool black = last[0] == 0 && last[1] == 0 && last[2] == 0;
        EXPECT_EQ(black, c.warning != 0);
        remove(path.c_str());
    }
    remove(whole.c_str());
}

TEST(JfifRead, MissingFileGives2) {
    Jfif r;
    EXPECT_EQ(r.Load(TempPath("does_not_exist.jpg")), KXERR_FILENOTFOUND);
}

}  // namespace
