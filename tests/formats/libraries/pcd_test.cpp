// Photo CD: recognition, the image pack layout and the PhotoYCC constants
// of the own decoder on packs made here, short files, the converter's
// arguments (fake and our own pcdtojpeg), ImageMagick's packs for layout,
// and damaged files.
#include "converter_helpers.h"
#include "formats/libraries/kxoPCD.h"
#include "pcd_bytes.h"
#include "support/robustness.h"

using namespace convtest;
using pcdtest::Ycc;

TEST(PcdRecognition, NameAndSignatureInTheFirst4096Bytes) {
    Scratch dir;
    const Bytes pack = pcdtest::MakePack(pcdtest::Busy, 5000);
    Bytes zeroEnded = pack, moved(4096, 0), late(8192, 0), none(8192, 0);
    zeroEnded[2055] = 0;
    memcpy(&moved[4088], "PCD_IPI", 7);
    memcpy(&late[4089], "PCD_IPI", 7);
    struct Row {
        const char* name;
        Bytes bytes;
        uint32_t expected;
    } rows[] = {
        {"image.pcd", pack, 1},
        {"IMAGE.PCD", zeroEnded, 1},
        {"image.bin", pack, 0},
        {"image.pcd", Bytes(pack.begin(), pack.begin() + 4095), 0},  // shorter than 4096 bytes
        {"image.pcd", moved, 1},
        {"image.pcd", late, 0},  // the signature must start by 4088
        {"image.pcd", none, 0},
    };
    for (const Row& r : rows) EXPECT_EQ(Recognises<kxoPCD>(dir, r.name, r.bytes), r.expected) << r.name << " " << r.bytes.size();
    EXPECT_EQ(Recognises<kxoPCD>(dir, "image.pcd", pack, KXIO_CLIPBOARD), 0u);
}

TEST(PcdDecoder, PlaneLayoutAndYccConstantsAtEachResolution) {
    Scratch dir;
    const std::string path = dir / "busy.pcd";
    ASSERT_TRUE(KXT_WriteBytes(path, pcdtest::MakePack(pcdtest::Busy)));
    const char* names[3] = {"BASE/16", "base/4", "Base"};
    for (uint32_t r = 0; r < 3; ++r) {
        SCOPED_TRACE(names[r]);
        Module<kxoPCD> pcd(r == 2 ? Settings{} : Settings{{"OUTPUTFORMAT", names[r]}});
        ASSERT_EQ(pcd.Load(path), 0u);
        KX_GfxBuffer* b = pcd.Image();
        ASSERT_NE(b, nullptr);
        const pcdtest::Resolution& l = pcdtest::kResolutions[r];
        ASSERT_EQ(b->Width, l.width);
        ASSERT_EQ(b->Height, l.height);
        EXPECT_EQ(b->ColorDepth, 24u);
        EXPECT_EQ(b->PixelBits, 24u);
        EXPECT_EQ(b->Version, 2u);
        EXPECT_EQ(b->ViewMode, 0u);
        EXPECT_EQ(b->BufferSize, l.width * l.height * 3);
        int worst = 0;
        for (uint32_t y = 0; y < l.height; ++y)
            for (uint32_t x = 0; x < l.width; ++x) {
                Ycc v = pcdtest::Busy(r, x, y);
                Ycc block = pcdtest::Busy(r, x & ~1u, y & ~1u);
                v.c1 = block.c1;
                v.c2 = block.c2;
                int want[3];
                pcdtest::ToRgb(v, want);
                const std::vector<int> got = Pixel(b, x, y);
                for (int c = 0; c < 3; ++c) worst = std::max(worst, abs(got[c] - want[c]));
            }
        // Fixed point against floating point: at most one step apart.
        EXPECT_LE(worst, 1);
    }
}

TEST(PcdDecoder, BlackWhiteAndClampedWhite) {
    Scratch dir;
    const Ycc blocks[3] = {{0, 156, 137}, {188, 156, 137}, {200, 156, 137}};
    const std::string path = dir / "grey.pcd";
    ASSERT_TRUE(KXT_WriteBytes(path, pcdtest::MakePack([&](uint32_t, uint32_t x, uint32_t) { return blocks[x / 2 % 3]; })));
    Module<kxoPCD> pcd;
    ASSERT_EQ(pcd.Load(path), 0u);
    KX_GfxBuffer* b = pcd.Image();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(Pixel(b, 0, 0), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(Pixel(b, 3, 1), (std::vector<int>{255, 255, 255}));  // 188 x 1.3584 = 255.4
    EXPECT_EQ(Pixel(b, 4, 0), (std::vector<int>{255, 255, 255}));  // clamped
}

TEST(PcdDecoder, ShortFilesGive29AndProgressRuns) {
    Scratch dir;
    const std::string path = dir / "short.pcd";
    struct Row {
        const char* format;
        size_t size;
        uint32_t expected;
    } rows[] = {
        {"BASE/16", 8192 + 36864, 0},
        {"BASE/16", 8192 + 36863, KXERR_EOF},
        {"BASE/4", 47104 + 147456 - 1, KXERR_EOF},
        {"BASE", pcdtest::kPackSize - 1, KXERR_EOF},
        {"BASE", 100, KXERR_EOF},
        {"BASE", 0, KXERR_EOF},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.format) + " " + std::to_string(r.size));
        ASSERT_TRUE(KXT_WriteBytes(path, pcdtest::MakePack(pcdtest::Busy, r.size)));
        Module<kxoPCD> pcd({{"OUTPUTFORMAT", r.format}});
        EXPECT_EQ(pcd.Load(path), r.expected);
        EXPECT_EQ(pcd.Image() == nullptr, r.expected != 0);
    }
    Module<kxoPCD> missing;
    EXPECT_EQ(missing.Load(dir / "missing.pcd"), static_cast<uint32_t>(KXERR_FILENOTFOUND));

    ASSERT_TRUE(KXT_WriteBytes(path, pcdtest::MakePack(pcdtest::Busy)));
    std::vector<uint32_t> seen;
    Module<kxoPCD> pcd({{"OUTPUTFORMAT", "BASE/16"}});
    pcd.obj.SetProgress([](KXProgress* p, uintptr_t u) { reinterpret_cast<std::vector<uint32_t>*>(u)->push_back(p->Percent); },
                        reinterpret_cast<uintptr_t>(&seen));
    ASSERT_EQ(pcd.Load(path), 0u);
    // Every row pair that starts on a multiple of 8: 0, 8 ... 120 of 128.
    ASSERT_EQ(seen.size(), 16u);
    EXPECT_EQ(seen.front(), 0u);
    EXPECT_EQ(seen.back(), 120u * 100 / 128);
}

TEST(PcdConverter, ResolutionsAboveBaseAndAlwaysGoToTheConverter) {
    UseRunner();
    Scratch dir;
    const std::string path = dir / "in.pcd";
    ASSERT_TRUE(KXT_WriteBytes(path, pcdtest::MakePack(pcdtest::Busy)));
    // A JPEG for the fake to hand back: our own converter's Base/16.
    const std::string jpeg = dir / "fixture.jpg";
    ASSERT_TRUE(Shell(BinDir() + "pcdtojpeg -q 90 -r 0 " + path + " " + jpeg));
    Fake fake(dir, "pcdtojpeg", "fixture", jpeg);
    struct Row {
        Settings settings;
        const char* resolution;
    } rows[] = {
        {{{"OUTPUTFORMAT", "BASE*4"}}, "3"},
        {{{"OUTPUTFORMAT", "base*64"}}, "5"},
        {{{"OUTPUTFORMAT", "BASE/16"}, {"EXTERNAL_DECODER", "always"}}, "0"},
        {{{"EXTERNAL_DECODER", "ALWAYS"}}, "2"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.resolution);
        unlink(fake.Log.c_str());
        Settings s = r.settings;
        s["P2J_PATH"] = FakeTool();
        Module<kxoPCD> pcd(s);
        ASSERT_EQ(pcd.Load(path), 0u);
        const std::string out = pcd.obj.Output.Name;
        EXPECT_TRUE(IsTempName(out, "pcd", "jpg")) << out;
        EXPECT_EQ(fake.Calls(), (std::vector<Args>{{"-q", "100", "-r", r.resolution, path, out}}));
        ASSERT_NE(pcd.Image(), nullptr);
        EXPECT_EQ(pcd.Image()->Width, 192u);
        pcd.obj.Reset();
        EXPECT_FALSE(Exists(out));
    }
    // The own decoder needs no converter.
    unlink(fake.Log.c_str());
    Module<kxoPCD> own({{"P2J_PATH", FakeTool()}, {"OUTPUTFORMAT", "nonsense"}});
    ASSERT_EQ(own.Load(path), 0u);
    EXPECT_EQ(own.Image()->Width, 768u);
    EXPECT_TRUE(fake.Calls().empty());

    for (const char* mode : {"none", "empty"}) {
        fake.Mode(mode);
        Module<kxoPCD> pcd({{"P2J_PATH", FakeTool()}, {"OUTPUTFORMAT", "BASE*16"}});
        EXPECT_EQ(pcd.Load(path), static_cast<uint32_t>(KXERR_EXTERNALTOOL)) << mode;
        EXPECT_EQ(pcd.Image(), nullptr);
    }
}

TEST(PcdConverter, OurPcdtojpegDecodesUpToBaseAndRefusesAbove) {
    UseRunner();
    Scratch dir;
    const std::string path = dir / "in.pcd";
    ASSERT_TRUE(KXT_WriteBytes(path, pcdtest::MakePack(pcdtest::Smooth)));
    Module<kxoPCD> own({{"OUTPUTFORMAT", "BASE/4"}});
    ASSERT_EQ(own.Load(path), 0u);
    Module<kxoPCD> converted({{"OUTPUTFORMAT", "BASE/4"}, {"EXTERNAL_DECODER", "ALWAYS"}});
    ASSERT_EQ(converted.Load(path), 0u);
    KX_GfxBuffer *a = own.Image(), *b = converted.Image();
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->Width, 384u);
    ASSERT_EQ(b->Height, 256u);
    // The same picture through JPEG at quality 100.
    double error = 0;
    for (uint32_t i = 0; i < a->BufferSize; ++i) error += abs(a->Data[i] - b->Data[i]);
    EXPECT_LT(error / a->BufferSize, 2.0);

    // 4Base and above need residual decoding: no picture, 32.
    Module<kxoPCD> above({{"OUTPUTFORMAT", "BASE*4"}});
    EXPECT_EQ(above.Load(path), static_cast<uint32_t>(KXERR_EXTERNALTOOL));
    EXPECT_EQ(above.Image(), nullptr);
}

TEST(PcdImageMagick, QuadrantsLandWhereTheyWereDrawn) {
    CONV_NEED_TOOL("convert");
    Scratch dir;
    const std::string path = dir / "im.pcd";
    ASSERT_TRUE(Shell("convert -size 768x512 xc:white -fill red -draw 'rectangle 0,0 383,255' -fill blue "
                      "-draw 'rectangle 384,256 767,511' " + path));
    EXPECT_EQ(Recognises<kxoPCD>(dir, "copy.pcd", KXT_ReadBytes(path)), 1u);
    for (const char* format : {"BASE/16", "BASE/4", "BASE"}) {
        SCOPED_TRACE(format);
        Module<kxoPCD> pcd({{"OUTPUTFORMAT", format}});
        ASSERT_EQ(pcd.Load(path), 0u);
        KX_GfxBuffer* b = pcd.Image();
        const uint32_t w = b->Width, h = b->Height;
        // ImageMagick's own PhotoYCC differs a little: colours, not values.
        auto near = [](const std::vector<int>& p, int r, int g, int bl) {
            return abs(p[0] - r) < 60 && abs(p[1] - g) < 60 && abs(p[2] - bl) < 60;
        };
        EXPECT_TRUE(near(Pixel(b, w / 4, h / 4), 255, 0, 0));
        EXPECT_TRUE(near(Pixel(b, w * 3 / 4, h * 3 / 4), 0, 0, 255));
        EXPECT_TRUE(near(Pixel(b, w * 3 / 4, h / 4), 255, 255, 255));
        EXPECT_TRUE(near(Pixel(b, w / 4, h * 3 / 4), 255, 255, 255));
    }
}

TEST(PcdRobustness, TruncatedAndByteFlippedPacks) {
    Scratch dir;
    const std::string path = dir / "small.pcd";
    ASSERT_TRUE(KXT_WriteBytes(path, pcdtest::MakePack(pcdtest::Busy)));
    // Damage inside the pixel data only changes colours: fewer flips do.
    KXRobustnessOptions o;
    o.MaxTruncations = 600;
    o.Flips = 100;
    KXT_CheckReaderRobustness("kxoPCD", path, o);
}
