// kxoGIF against independent programs: the fixtures they made load with the
// pixels they decode; every kind of file the writer makes reads back in
// netpbm's giftopnm and ImageMagick 6 pixel for pixel; files those programs
// write load here the same. A missing program skips with a message.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/kxlib.h"
#include "formats/raster/kxoGIF.h"
#include "raster_pixels.h"
#include "support/testfiles.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

struct Rgb {
    uint32_t w = 0, h = 0;
    Bytes px;
    bool operator==(const Rgb& o) const { return w == o.w && h == o.h && px == o.px; }
};

std::ostream& operator<<(std::ostream& os, const Rgb& r) { return os << r.w << "x" << r.h << " (" << r.px.size() << " bytes)"; }

// P6 with maxval 255, or P7 with DEPTH 3 and MAXVAL 255.
Rgb readNetpbm(const std::string& path) {
    Rgb r;
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    in >> magic;
    if (magic == "P6") {
        int maxval;
        in >> r.w >> r.h >> maxval;
        in.get();
        if (maxval != 255) return {};
    } else if (magic == "P7") {
        std::string key;
        uint32_t depth = 0, maxval = 0;
        while (in >> key && key != "ENDHDR") {
            if (key == "WIDTH") in >> r.w;
            else if (key == "HEIGHT") in >> r.h;
            else if (key == "DEPTH") in >> depth;
            else if (key == "MAXVAL") in >> maxval;
            else in.ignore(1 << 20, '\n');
        }
        in.get();
        if (depth != 3 || maxval != 255) return {};
    } else {
        return {};
    }
    r.px.resize(size_t(r.w) * r.h * 3);
    in.read(reinterpret_cast<char*>(r.px.data()), r.px.size());
    if (!in) return {};
    return r;
}

Rgb rgbOf(const KX_GfxBuffer* b) { return {b->Width, b->Height, kxt::ToRgb(b).Pix}; }

class GifToolsTest : public testing::Test {
protected:
    void SetUp() override {
        dir = KXT_NewTempDir((fs::temp_directory_path() / "kxgiftoolsXXXXXX").string()) + "/";
        fs::create_directories(dir + "prog/ENV/Kaxon5-Library");
        lib.SetPaths((dir + "prog/").c_str(), (dir + "prog/").c_str());
        gif = new kxoGIF(&lib);
    }
    void TearDown() override {
        delete gif;
        delete cfg;
        fs::remove_all(dir);
    }
    void requireTools(std::initializer_list<const char*> tools) {
        for (const char* t : tools)
            if (!KXT_HaveTool(t)) GTEST_SKIP() << t << " is not installed (tools/deps.sh installs netpbm and imagemagick)";
    }
    void settings(std::initializer_list<std::pair<const char*, const char*>> kv) {
        delete cfg;
        uint32_t err = 0;
        cfg = new KXConfig(gif->PadPath, &err);
        for (auto& [k, v] : kv) cfg->SetValue(k, v);
    }
    void reset() {
        gif->Reset();
        if (cfg) gif->SetLocalConfig(cfg->GetPadList());
    }
    uint32_t load(const std::string& path, Rgb* out) {
        reset();
        gif->SetReadName(path.c_str());
        uint32_t err = gif->Load();
        KX_GfxBuffer* b = nullptr;
        gif->GetGfxBuffer(&b);
        if (err == KXERR_NONE && b) *out = rgbOf(b);
        return err;
    }
    uint32_t save(KX_GfxBuffer* b, uint32_t subFormat, const std::string& path) {
        reset();
        gif->SetSaveName(path.c_str());
        gif->SetSubFormat(subFormat);
        gif->SetGfxBuffer(b);
        return gif->Save();
    }
    // The picture as giftopnm and ImageMagick see it.
    Rgb viaGiftopnm(const std::string& gifPath) {
        const std::string out = gifPath + ".netpbm.ppm";
        if (!kxt::Shell("giftopnm '" + gifPath + "' | ppmtoppm > '" + out + "'")) return {};
        return readNetpbm(out);
    }
    Rgb viaImageMagick(const std::string& gifPath, const char* options = "-flatten") {
        const std::string out = gifPath + ".im.ppm";
        if (!kxt::Shell(std::string("convert-im6.q16 '") + gifPath + "' -alpha off " + options + " ppm:'" + out + "'")) return {};
        return readNetpbm(out);
    }
    void writePpm(const Rgb& r, const std::string& path) {
        std::ofstream o(path, std::ios::binary);
        o << "P6\n" << r.w << " " << r.h << "\n255\n";
        o.write(reinterpret_cast<const char*>(r.px.data()), r.px.size());
    }
    // w x h pixels drawn from a random palette of `colours` entries.
    static Rgb paletteRgb(uint32_t w, uint32_t h, uint32_t colours, uint32_t seed) {
        std::mt19937 rng(seed);
        Bytes pal(colours * 3);
        for (auto& v : pal) v = static_cast<uint8_t>(rng());
        Rgb r{w, h, {}};
        for (uint32_t i = 0; i < w * h; ++i) {
            const uint32_t k = rng() % colours;
            r.px.insert(r.px.end(), pal.begin() + k * 3, pal.begin() + k * 3 + 3);
        }
        return r;
    }

    std::string dir;
    KXClass lib;
    kxoGIF* gif = nullptr;
    KXConfig* cfg = nullptr;
};

struct Picture {
    KX_GfxBuffer* b = nullptr;
    Picture(uint32_t w, uint32_t h, uint32_t depth, uint32_t seed) {
        EXPECT_EQ(KXF_NewImage(&b, ONEPLANE, w, h, depth, depth == 24 ? 24 : 8, true), KXERR_NONE);
        std::mt19937 rng(seed);
        for (uint32_t i = 0; i < b->BufferSize; ++i)
            b->Data[i] = static_cast<uint8_t>(depth == 24 ? rng() : rng() % (1u << depth));
        for (int i = 0; i < 768; ++i) b->Palette[i] = static_cast<uint8_t>(rng());
    }
    ~Picture() { KXSUP_FreeGfxBuffer(b); }
};

}  // namespace

TEST_F(GifToolsTest, FixturesLoadWithTheirProgramsPixels) {
    struct Case {
        const char* name;
        uint32_t subFormat;
        const char* anno;
    } cases[] = {
        {"netpbm_interlaced", 0, nullptr},
        {"netpbm_bilevel_transparent", 1, nullptr},
        {"im_comment", 1, "made by ImageMagick"},
        {"im_anim", 1, nullptr},
    };
    const std::string base = std::string(KX_SOURCE_DIR) + "/tests/fixtures/gif/";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rgb got;
        ASSERT_EQ(load(base + c.name + ".gif", &got), KXERR_NONE);
        const Rgb want = readNetpbm(base + c.name + ".pam");
        ASSERT_GT(want.w, 0u);
        EXPECT_EQ(got, want);
        EXPECT_EQ(gif->SubFormatId, c.subFormat);
        if (c.anno) {
            ASSERT_NE(gif->Anno, nullptr);
            EXPECT_STREQ(gif->Anno, c.anno);
        }
    }
}

TEST_F(GifToolsTest, EveryKindWeWriteReadsBackInNetpbmAndImageMagick) {
    requireTools({"giftopnm", "ppmtoppm", "convert-im6.q16"});
    if (IsSkipped()) return;
    struct Kind {
        const char* name;
        uint32_t depth, w, h, subFormat;
        std::initializer_list<std::pair<const char*, const char*>> keys;
        bool netpbm;  // giftopnm shows one image only: not for tiles
    } kinds[] = {
        {"1 bit 87a", 1, 37, 23, 0, {}, true},
        {"2 bits", 2, 5, 3, 1, {}, true},
        {"4 bits interlaced", 4, 17, 29, 1, {{"SAVE_INTERLACED", "ON"}}, true},
        {"8 bits local table", 8, 61, 13, 1, {{"LOCALCOLORMAP", "ON"}}, true},
        {"8 bits transparent", 8, 16, 16, 1, {{"GIF89A_TRANSPARENCY", "ON"}, {"GIF89A_TRANSPARENT_COLOR", "7"}}, true},
        {"8 bits 1x1", 8, 1, 1, 0, {}, true},
        {"24 bits tiles 87a", 24, 37, 21, 0, {}, false},
        {"24 bits tiles 89a", 24, 17, 17, 1, {}, false},
    };
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.name);
        settings(k.keys);
        Picture p(k.w, k.h, k.depth, k.w * 7 + k.depth);
        const std::string path = dir + "ours.gif";
        ASSERT_EQ(save(p.b, k.subFormat, path), KXERR_NONE);
        const Rgb want = rgbOf(p.b);
        if (k.netpbm) {
            EXPECT_EQ(viaGiftopnm(path), want) << "giftopnm";
        }
        EXPECT_EQ(viaImageMagick(path), want) << "ImageMagick";
    }
}

TEST_F(GifToolsTest, FilesTheyWriteLoadTheSame) {
    requireTools({"ppmtogif", "giftopnm", "ppmtoppm", "convert-im6.q16"});
    if (IsSkipped()) return;
    const Rgb a = paletteRgb(29, 19, 200, 1), b = paletteRgb(29, 19, 2, 2), c = paletteRgb(29, 19, 16, 3);
    const std::string pa = dir + "a.ppm", pb = dir + "b.ppm", pc = dir + "c.ppm";
    writePpm(a, pa);
    writePpm(b, pb);
    writePpm(c, pc);
    struct Case {
        const char* name;
        std::string command;  // writes dir/theirs.gif
    } cases[] = {
        {"ppmtogif", "ppmtogif '" + pa + "' > '" + dir + "theirs.gif'"},
        {"ppmtogif interlaced", "ppmtogif -interlace '" + pa + "' > '" + dir + "theirs.gif'"},
        {"ppmtogif two colours", "ppmtogif '" + pb + "' > '" + dir + "theirs.gif'"},
        {"ImageMagick", "convert-im6.q16 '" + pc + "' '" + dir + "theirs.gif'"},
        {"ImageMagick interlaced", "convert-im6.q16 '" + pa + "' -interlace GIF '" + dir + "theirs.gif'"},
        {"ImageMagick 87a", "convert-im6.q16 '" + pb + "' 'GIF87:" + dir + "theirs.gif'"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ASSERT_TRUE(kxt::Shell(k.command));
        Rgb got;
        ASSERT_EQ(load(dir + "theirs.gif", &got), KXERR_NONE);
        EXPECT_EQ(got, viaGiftopnm(dir + "theirs.gif"));
    }

    // An animation: all frames are full size, so the flattened picture is
    // the last frame; ANIM_LOADING picks the first or the last.
    ASSERT_TRUE(kxt::Shell("convert-im6.q16 -delay 20 '" + pc + "' '" + pa + "' '" + pb + "' '" + dir + "anim.gif'"));
    struct Anim {
        const char* word;
        const char* frame;
    } anims[] = {{nullptr, "[2]"}, {"LAST", "[2]"}, {"FIRST", "[0]"}};
    for (const Anim& an : anims) {
        SCOPED_TRACE(an.word ? an.word : "all");
        if (an.word) settings({{"ANIM_LOADING", an.word}});
        Rgb got;
        ASSERT_EQ(load(dir + "anim.gif", &got), KXERR_NONE);
        const std::string frame = dir + "anim.gif" + an.frame;
        const std::string out = dir + "frame.ppm";
        ASSERT_TRUE(kxt::Shell("convert-im6.q16 '" + frame + "' -alpha off ppm:'" + out + "'"));
        EXPECT_EQ(got, readNetpbm(out));
    }
}
