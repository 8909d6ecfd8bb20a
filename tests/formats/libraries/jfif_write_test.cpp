// JPEG writing: what we write decodes in djpeg to what we read back,
// across widths, palette and grey sources and the encoder keys; the SPIFF
// header; refusals and the safe save.
#include "jfif_helpers.h"

namespace {

using namespace jfiftest;

// Our reading of a file we wrote equals djpeg's reading of it.
void ExpectReadsLikeDjpeg(const std::string& path, const char* options = "-dct fast") {
    Jfif r;
    ASSERT_EQ(r.Load(path), KXERR_NONE);
    if (!KXT_HaveTool("djpeg")) return;
    EXPECT_EQ(MaxDifference(r.Image(), Djpeg(path, options)), 0) << path;
}

TEST(JfifWrite, WidthsRoundTrip) {
    const std::string path = TempPath("widths.jpg");
    std::vector<uint32_t> widths;
    for (uint32_t w = 1; w <= 17; ++w) widths.push_back(w);
    widths.push_back(211);
    for (uint32_t w : widths) {
        Buffer img = MakeRgb(w, 5);
        Jfif s({{"QUANTIZATION", "100"}, {"ENCODE_METHOD", "SLOW_INTEGER"}});
        ASSERT_EQ(s.Save(img.get(), path), KXERR_NONE) << w;
        Jfif r({{"DECODE_METHOD", "SLOW_INTEGER"}});
        ASSERT_EQ(r.Load(path), KXERR_NONE);
        const KX_GfxBuffer* b = r.Image();
        ASSERT_EQ(b->Width, w);
        ASSERT_EQ(b->Height, 5u);
        // cjpeg with the same settings makes a file that decodes to the same pixels.
        if (KXT_HaveTool("cjpeg") && KXT_HaveTool("djpeg")) {
            const std::string ppm = TempPath("widths.ppm"), ref = TempPath("widths_ref.jpg");
            ASSERT_TRUE(KXT_WriteBytes(ppm, Ppm(w, 5)));
            ASSERT_EQ(RunTool("cjpeg -quality 100 -dct int " + ppm + " > " + ref), 0);
            EXPECT_EQ(MaxDifference(b, Djpeg(ref, "-dct int")), 0) << w;
            remove(ppm.c_str());
            remove(ref.c_str());
        }
        ExpectReadsLikeDjpeg(path);
    }
    remove(path.c_str());
}

struct KeyCase {
    const char* name;
    Settings settings;
    uint32_t depth;  // the source
    uint32_t components;  // in the file
    bool progressive;
};

const KeyCase kKeyCases[] = {
    {"default", {}, 24, 3, false},
    {"palette", {}, 8, 3, false},
    {"palette4", {}, 4, 3, false},
    {"grey", {{"GRAY_ENCODE", "ON"}}, 24, 1, false},
    {"greyLower", {{"GRAY_ENCODE", "on"}}, 24, 3, false},
    {"progressive", {{"PROGRESSIVE", "ON"}, {"OPTIMIZE", "ON"}}, 24, 3, true},
    {"float", {{"ENCODE_METHOD", "FLOATING_POINT"}}, 24, 3, false},
    {"fastest", {{"ENCODE_METHOD", "FASTEST_INTEGER"}, {"QUANTIZATION", "10"}}, 8, 3, false},
};

class JfifKeys : public ::testing::TestWithParam<KeyCase> {};

TEST_P(JfifKeys, FileIsWhatTheKeysAsk) {
    const KeyCase& c = GetParam();
    const std::string path = TempPath(std::string(c.name) + ".jpg");
    Buffer img = c.depth == 24 ? MakeRgb(29, 17) : pngtest::MakeImage(c.depth, 29, 17);
    Jfif s(c.settings);
    ASSERT_EQ(s.Save(img.get(), path), KXERR_NONE);
    const auto bytes = KXT_ReadBytes(path);
    bool progressive = false;
    int components = 0;
    for (const auto& [marker, payload] : Markers(bytes)) {
        if (marker == 0xC2) progressive = true;
        if ((marker == 0xC0 || marker == 0xC2) && payload.size() > 5) components = payload[5];
    }
    EXPECT_EQ(components, (int)c.components);
    EXPECT_EQ(progressive, c.progressive);
    ExpectReadsLikeDjpeg(path);
    if (c.depth <= 8 && c.components == 3) {
        // The palette was expanded: a quality-100 save of the same picture
        // as 24 bits gives the same file.
        Buffer rgb = MakeRgb(29, 17);
        for (uint32_t i = 0; i < 29 * 17; ++i) memcpy(rgb->Data + i * 3, img->Palette + img->Data[i] * 3, 3);
        const std::string other = TempPath(std::string(c.name) + "_rgb.jpg");
        Jfif s2(c.settings);
        ASSERT_EQ(s2.Save(rgb.get(), other), KXERR_NONE);
        EXPECT_EQ(KXT_ReadBytes(other), bytes);
        remove(other.c_str());
    }
    remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Cases, JfifKeys, ::testing::ValuesIn(kKeyCases),
                         [](const auto& info) { return std::string(info.param.name); });

// QUANTIZATION above 100, negative numbers included, is 100; 0 is passed on.
TEST(JfifWrite, QualityIsClamped) {
    Buffer img = MakeRgb(16, 16);
    auto save = [&](const char* q) {
        const std::string path = TempPath(std::string("q") + q + ".jpg");
        Jfif s({{"QUANTIZATION", q}});
        EXPECT_EQ(s.Save(img.get(), path), KXERR_NONE);
        auto bytes = KXT_ReadBytes(path);
        remove(path.c_str());
        return bytes;
    };
    const auto q100 = save("100");
    EXPECT_EQ(save("150"), q100);
    EXPECT_EQ(save("-5"), q100);
    EXPECT_NE(save("99"), q100);
    EXPECT_EQ(save("0"), save("1"));  // libjpeg takes 0 as its lowest quality
}

TEST(JfifWrite, SpiffHeaderBeforeAJfifStream) {
    const std::string path = TempPath("spiff.jpg");
    Buffer img = MakeRgb(300, 70);
    Jfif s({{"PROGRESSIVE", "ON"}});
    ASSERT_EQ(s.Save(img.get(), path, nullptr, kxoJFIF::kSpiff), KXERR_NONE);
    const auto f = KXT_ReadBytes(path);
    const uint8_t header[44] = {0xFF, 0xD8, 0xFF, 0xE8, 0, 32, 'S', 'P', 'I', 'F', 'F', 0, 1, 0, 2, 1, 0, 0, 0, 70, 0, 0, 1, 44,
                                10, 24, 5, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0xFF, 0xE8, 0, 8, 0, 0, 0, 1};
    ASSERT_GT(f.size(), 60u);
    EXPECT_EQ(memcmp(f.data(), header, sizeof(header)), 0);
    // The end-of-directory entry's length covers the JFIF stream's start of image.
    EXPECT_EQ(f[44], 0xFF);
    EXPECT_EQ(f[45], 0xD8);
    EXPECT_EQ(memcmp(f.data() + 50, "JFIF", 4), 0);
    Jfif r;
    ASSERT_EQ(r.Load(path, true), KXERR_NONE);
    EXPECT_EQ(r.obj.GetSpecialInfo()->SubFormat, kxoJFIF::kSpiff);
    ExpectReadsLikeDjpeg(path);
    Jfif plain;
    const std::string other = TempPath("plain.jpg");
    ASSERT_EQ(plain.Save(img.get(), other), KXERR_NONE);
    Jfif r2;
    ASSERT_EQ(r2.Load(other, true), KXERR_NONE);
    EXPECT_EQ(r2.obj.GetSpecialInfo()->SubFormat, kxoJFIF::kJfif);
    remove(path.c_str());
    remove(other.c_str());
}

TEST(JfifWrite, Refusals) {
    const std::string path = TempPath("refused.jpg");
    ASSERT_TRUE(KXT_WriteFile(path, "old contents"));
    Buffer deep = pngtest::MakeImage(48, 4, 4);
    Buffer ham = pngtest::MakeImage(6, 4, 4);
    ham->ViewMode = KXVIEWMODE_HAM;
    Buffer ok = MakeRgb(4, 4);
    struct Row {
        const char* name;
        KX_GfxBuffer* buffer;
        int32_t mode;
        uint32_t code;
    } rows[] = {
        {"48-bit", deep.get(), KXIO_FILE, KXERR_FILEREQUIREMENTS},
        {"HAM", ham.get(), KXIO_FILE, KXERR_NOHAM},
        {"clipboard", ok.get(), KXIO_CLIPBOARD, KXERR_NOTSUPPORTED},
        {"no buffer", nullptr, KXIO_FILE, KXERR_NOTSUPPORTED},
    };
    for (const Row& r : rows) {
        Jfif s;
        s.obj.SetIOMode(r.mode);
        s.obj.SetSaveName(path.c_str());
        if (r.buffer) s.obj.SetGfxBuffer(r.buffer);
        EXPECT_EQ(s.obj.Save(), r.code) << r.name;
    }
    EXPECT_EQ(KXT_ReadFile(path), "old contents");
    Jfif s;
    EXPECT_EQ(s.Save(ok.get(), TempPath("no_such_dir/x.jpg")), KXERR_NODESTFILE);
    // JPEG cannot hold more than 65500 rows: libjpeg's refusal is 31, and the old file stays.
    KX_GfxBuffer* tall = KXT_NewChunkyBuffer(1, 1, 70000, 24);
    Buffer tallOwner(tall);
    EXPECT_EQ(s.Save(tall, path), KXERR_ENCODE);
    EXPECT_EQ(KXT_ReadFile(path), "old contents");
    remove(path.c_str());
}

}  // namespace
