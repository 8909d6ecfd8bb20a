// OpenEXR through a converter: recognition, the converter's arguments
// (fake), failures, the temporary file, and our exrtoppm on a file made by
// ImageMagick.
#include "converter_helpers.h"
#include "formats/libraries/kxoEXR.h"

using namespace convtest;

TEST(ExrRecognition, MagicNumberAndName) {
    Scratch dir;
    const Bytes exr = {0x76, 0x2F, 0x31, 0x01, 2, 0, 0, 0};
    EXPECT_EQ(Recognises<kxoEXR>(dir, "image.exr", exr), 1u);
    EXPECT_EQ(Recognises<kxoEXR>(dir, "IMAGE.EXR", exr), 1u);
    EXPECT_EQ(Recognises<kxoEXR>(dir, "image.bin", exr), 0u);
    EXPECT_EQ(Recognises<kxoEXR>(dir, "image.exr", Text("v/1 not it")), 0u);
    EXPECT_EQ(Recognises<kxoEXR>(dir, "image.exr", Bytes(exr.begin(), exr.begin() + 3)), 0u);
    EXPECT_EQ(Recognises<kxoEXR>(dir, "image.exr", exr, KXIO_CLIPBOARD), 0u);
}

TEST(ExrConverter, ArgumentsFailuresAndDeletionAtReset) {
    UseRunner();
    Scratch dir;
    const std::string fixture = dir / "wide.ppm";
    ASSERT_TRUE(KXT_WriteBytes(fixture, pngtest::MakePnm(true, 4, 3, 65535, [](uint32_t i) { return i * 5000; })));
    Fake fake(dir, "exrtoppm", "fixture", fixture);
    Module<kxoEXR> exr({{"EXRTOPPM_PATH", FakeTool()}});
    ASSERT_EQ(exr.Load(dir / "in.exr"), 0u);
    const std::string out = exr.obj.Output.Name;
    EXPECT_TRUE(IsTempName(out, "exr", "pnm")) << out;
    EXPECT_EQ(fake.Calls(), (std::vector<Args>{{"-i", dir / "in.exr", "-o", out}}));
    KX_GfxBuffer* b = exr.Image();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->ColorDepth, 48u);  // the PNM module's own pad: 16-bit maps stay 48-bit
    exr.obj.Reset();
    EXPECT_FALSE(Exists(out));

    struct Row {
        const char* mode;
        std::string program;
    } rows[] = {{"none", FakeTool()}, {"empty", FakeTool()}, {"fixture", dir / "no-such-converter"}};
    for (const Row& r : rows) {
        fake.Mode(r.mode);
        Module<kxoEXR> failing({{"EXRTOPPM_PATH", r.program}});
        EXPECT_EQ(failing.Load(dir / "in.exr"), static_cast<uint32_t>(KXERR_EXTERNALTOOL)) << r.mode;
        EXPECT_EQ(failing.Image(), nullptr);
    }
}

TEST(ExrReal, OurConverterOnImageMagicksFile) {
    CONV_NEED_TOOL("convert");
    UseRunner();
    Scratch dir;
    ASSERT_TRUE(Shell("convert -size 6x4 xc:'rgb(0,0,255)' -fill 'rgb(255,255,0)' -draw 'point 1,2' " + dir / "in.exr"));
    Module<kxoEXR> exr;  // our exrtoppm from beside the program
    ASSERT_EQ(exr.Load(dir / "in.exr"), 0u);
    KX_GfxBuffer* b = exr.Image();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Width, 6u);
    EXPECT_EQ(b->Height, 4u);
    EXPECT_EQ(Pixel(b, 0, 0), (std::vector<int>{0, 0, 255}));
    EXPECT_EQ(Pixel(b, 1, 2), (std::vector<int>{255, 255, 0}));
    // A damaged file: the converter fails and writes nothing.
    ASSERT_TRUE(KXT_WriteFile(dir / "bad.exr", "v/1\x01 and then nothing"));
    Module<kxoEXR> bad;
    EXPECT_EQ(bad.Load(dir / "bad.exr"), static_cast<uint32_t>(KXERR_EXTERNALTOOL));
}
