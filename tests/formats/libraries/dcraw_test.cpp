// Camera RAW through dcraw: the device reader's mode rules, the option
// vector from the settings (fake converter), the converter's standard
// output straight into the temporary file as the run's only file and
// what Reset deletes, and real dcraw on a small DNG written here.

#include "converter_helpers.h"
#include "formats/libraries/kxoDCRAW.h"
#include "tiff_helpers.h"
#include "support/dng.h"

using namespace convtest;

namespace {
// A settings list for the device reader, which the bridge switches to
// mode 3 before loading.
struct Device : Module<kxoDCRAW> {
    explicit Device(const Settings& s) : Module<kxoDCRAW>(s, KXIO_DEVICE) {}
};

// This process's files of the temporary directory with this prefix.
int TempFiles(const std::string& prefix) {
    char own[32];
    snprintf(own, sizeof(own), "_%lx_", (unsigned long)KX_GetProcessInstanceId());
    const std::string head = prefix + own;
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(KX_GetProcessTempDir()))
        n += e.path().filename().string().rfind(head, 0) == 0;
    return n;
}
}  // namespace

TEST(DcrawDevice, OnlyModeThreeAndNoFileRecognition) {
    kxoDCRAW m(nullptr);
    EXPECT_EQ(m.CheckFile(nullptr, "x.dng", KXIO_FILE), 0u);
    EXPECT_EQ(m.CheckFile(nullptr, "x.dng", KXIO_DEVICE), 1u);
    EXPECT_EQ(m.Load(), static_cast<uint32_t>(KXERR_NOTSUPPORTED));  // mode 1 after construction
    EXPECT_EQ(m.SetIOMode(KXIO_FILE), static_cast<uint32_t>(KXERR_NOTSUPPORTED));
    EXPECT_EQ(m.SetIOMode(KXIO_CLIPBOARD), static_cast<uint32_t>(KXERR_NOTSUPPORTED));
    EXPECT_EQ(m.SetIOMode(KXIO_DEVICE), 0u);
    EXPECT_EQ(m.Save(), static_cast<uint32_t>(KXERR_NOTSUPPORTED));
    char ext[16];
    EXPECT_EQ(m.GetExtension(ext), 0u);
    EXPECT_STREQ(ext, ".dng");
}

TEST(DcrawDevice, OptionsFromTheSettings) {
    UseRunner();
    Scratch dir;
    const std::string camera = dir / "shot.nef", fixture = dir / "image.ppm";
    ASSERT_TRUE(KXT_WriteFile(camera, "raw"));
    ASSERT_TRUE(KXT_WriteBytes(fixture, pngtest::MakePnm(true, 3, 2, 255, [](uint32_t i) { return i * 7; })));
    Fake fake(dir, "dcraw", "fixture", fixture);
    struct Row {
        Settings settings;
        Args options;
    } rows[] = {
        {{}, {"-c"}},
        // The front end's defaults.
        {{{"EXTRACTMODE", "IMAGE"}, {"FORMAT", "8BIT"}, {"METAFORMAT", "PPM"}, {"PICNUMBER", "0"}, {"COLORSPACE", "RAW"}},
         {"-c", "-s", "0", "-o", "0"}},
        {{{"PICNUMBER", "150"}}, {"-c", "-s", "99"}},
        {{{"PICNUMBER", "-1"}}, {"-c", "-s", "99"}},
        {{{"PICNUMBER", "7"}, {"EXTRACTMODE", "preview"}, {"FORMAT", "16bit"}}, {"-c", "-e", "-4", "-s", "7"}},
        {{{"COLORSPACE", "sRGB"}}, {"-c", "-o", "1"}},
        {{{"COLORSPACE", "adob"}}, {"-c", "-o", "2"}},
        {{{"COLORSPACE", "WIDE"}}, {"-c", "-o", "3"}},
        {{{"COLORSPACE", "Pro"}}, {"-c", "-o", "4"}},
        {{{"COLORSPACE", "XYZ"}}, {"-c", "-o", "5"}},
        {{{"COLORSPACE", "ProPhoto"}}, {"-c"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.options.size());
        unlink(fake.Log.c_str());
        Settings s = r.settings;
        s["DCRAW_PATH"] = FakeTool();
        s["LOADNAME"] = camera;
        Device d(s);
        ASSERT_EQ(d.Load(), 0u);
        Args expected = r.options;
        expected.push_back(camera);
        EXPECT_EQ(fake.Calls(), std::vector<Args>{expected});
        ASSERT_NE(d.Image(), nullptr);
        EXPECT_EQ(d.Image()->Width, 3u);
    }
}

TEST(DcrawDevice, StandardOutputOnlyOneFileAndDeletionAtReset) {
    UseRunner();
    Scratch dir;
    const std::string camera = dir / "-odd name $(touch pwned).nef", fixture = dir / "image.ppm";
    ASSERT_TRUE(KXT_WriteFile(camera, "raw"));
    ASSERT_TRUE(KXT_WriteBytes(fixture, pngtest::MakePnm(true, 5, 4, 255, [](uint32_t i) { return i * 3; })));
    Fake fake(dir, "dcraw", "fixture", fixture);
    const int before = TempFiles("dcraw");
    Device d({{"DCRAW_PATH", FakeTool()}, {"LOADNAME", camera}, {"PICNUMBER", "0"}});
    ASSERT_EQ(d.Load(), 0u);
    const std::string out = d.obj.Output.Name;
    EXPECT_TRUE(IsTempName(out, "dcraw", "ppm")) << out;
    // The name went over as one argument, unexpanded.
    EXPECT_EQ(fake.Calls(), (std::vector<Args>{{"-c", "-s", "0", camera}}));
    EXPECT_FALSE(Exists(dir / "pwned"));
    EXPECT_EQ(KXT_ReadBytes(out), KXT_ReadBytes(fixture));
    // The output is the run's only file: no record of the command beside it.
    EXPECT_EQ(TempFiles("dcraw"), before + 1);
    EXPECT_FALSE(Exists(out.substr(0, out.size() - 3) + "bat"));
    d.obj.Reset();
    EXPECT_FALSE(Exists(out));
    EXPECT_EQ(TempFiles("dcraw"), before);
}

TEST(DcrawDevice, TiffOutputGoesToTheTiffReader) {
    UseRunner();
    Scratch dir;
    Buffer img = pngtest::MakeImage(24, 6, 5);
    {
        tifftest::Tiff tiff;
        ASSERT_EQ(tiff.Save(img.get(), dir / "image.tif"), 0u);
    }
    Fake fake(dir, "dcraw", "fixture", dir / "image.tif");
    Device d({{"DCRAW_PATH", FakeTool()}, {"LOADNAME", dir / "shot.cr2"}, {"METAFORMAT", "tiff"}});
    ASSERT_EQ(d.Load(), 0u);
    EXPECT_EQ(fake.Calls(), (std::vector<Args>{{"-c", "-T", dir / "shot.cr2"}}));
    // The output keeps its .ppm name; the TIFF reader does not mind.
    EXPECT_TRUE(IsTempName(d.obj.Output.Name, "dcraw", "ppm"));
    EXPECT_TRUE(SamePixels(d.Image(), img.get()));
}

TEST(DcrawDevice, FailuresGiveTheirCodesAndWriteNothingUnneeded) {
    UseRunner();
    Scratch dir;
    Fake fake(dir, "dcraw", "none");
    const int before = TempFiles("dcraw");
    {
        Device none({{"DCRAW_PATH", FakeTool()}});
        EXPECT_EQ(none.Load(), static_cast<uint32_t>(KXERR_FILENOTFOUND));
        EXPECT_EQ(TempFiles("dcraw"), before) << "no file before LOADNAME is known";
        // A name longer than its field is refused, not cut to another file.
        Device tooLong({{"DCRAW_PATH", FakeTool()}, {"LOADNAME", "/" + std::string(255, 'a')}});
        EXPECT_EQ(tooLong.Load(), static_cast<uint32_t>(KXERR_FILENOTFOUND));
        EXPECT_TRUE(fake.Calls().empty());
    }
    struct Row {
        const char* mode;
        std::string program;
        uint32_t expected;
    } rows[] = {
        {"none", FakeTool(), KXERR_EXTERNALTOOL},  // the runner's empty standard output
        {"empty", FakeTool(), KXERR_EXTERNALTOOL},
        {"fixture", dir / "no-such-dcraw", KXERR_EXTERNALTOOL},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.mode);
        fake.Mode(r.mode);
        Device d({{"DCRAW_PATH", r.program}, {"LOADNAME", dir / "x.nef"}});
        EXPECT_EQ(d.Load(), r.expected);
        EXPECT_EQ(d.Image(), nullptr);
    }
    // What the converter wrote and no reader takes (a JPEG preview): the reader's code.
    fake.Mode("garbage");
    Device d({{"DCRAW_PATH", FakeTool()}, {"LOADNAME", dir / "x.nef"}});
    const uint32_t err = d.Load();
    EXPECT_NE(err, 0u);
    EXPECT_NE(err, static_cast<uint32_t>(KXERR_EXTERNALTOOL));
    d.obj.Reset();
    EXPECT_EQ(TempFiles("dcraw"), before);
}


TEST(DcrawReal, SmallDngWrittenWithLibtiff) {
    CONV_NEED_TOOL("dcraw");
    UseRunner();
    Scratch dir;
    const std::string dng = dir / "small.dng";
    if (!KXT_WriteDng(dng)) GTEST_SKIP() << "libtiff could not write the DNG test file";
    for (const char* format : {"8BIT", "16BIT"}) {
        SCOPED_TRACE(format);
        Device d({{"LOADNAME", dng}, {"FORMAT", format}, {"COLORSPACE", "RAW"}});
        const uint32_t err = d.Load();
        if (err == KXERR_EXTERNALTOOL && std::string(format) == "8BIT") GTEST_SKIP() << "dcraw does not read the test DNG";
        ASSERT_EQ(err, 0u);
        KX_GfxBuffer* b = d.Image();
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->Width, 64u);
        EXPECT_EQ(b->Height, 48u);
        EXPECT_EQ(b->ColorDepth, std::string(format) == "8BIT" ? 24u : 48u);
        const std::vector<int> left = Pixel(b, 10, 20), right = Pixel(b, 50, 20);
        EXPECT_GT(left[0], 2 * left[2]) << "red on the left";
        EXPECT_GT(right[2], 2 * right[0]) << "blue on the right";
    }
}
