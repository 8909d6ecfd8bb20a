// kxoGIF: recognition, the single-image and composite load paths with their
// settings, the writer's kinds and refusals, safe save, and damaged files.
// Test files are put together here block by block, so that each case shows
// exactly the structure it is about.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/kxlib.h"
#include "formats/raster/kxoGIF.h"
#include "raster_pixels.h"
#include "support/robustness.h"
#include "support/testfiles.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

struct Frame {
    uint16_t left = 0, top = 0, w = 1, h = 1;
    Bytes local;  // colour table, 3 x 2^n bytes; empty: none
    bool interlaced = false;
    bool gce = false;
    int disposal = 0, transparent = -1, delay = 0;
    Bytes pixels;
    uint32_t depth = 8;
};

struct Spec {
    const char* signature = "GIF89a";
    uint16_t sw = 1, sh = 1;
    Bytes global;
    uint8_t background = 0;
    std::vector<std::string> comments;
    std::vector<Frame> frames;
    Bytes tail = {';'};
};

uint8_t sizeField(const Bytes& table) {
    uint8_t s = 0;
    while ((size_t(3) << (s + 1)) < table.size()) ++s;
    return s;
}

void le16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

Bytes build(const Spec& s) {
    Bytes b(s.signature, s.signature + 6);
    le16(b, s.sw);
    le16(b, s.sh);
    b.push_back(s.global.empty() ? 0 : static_cast<uint8_t>(0x80 | sizeField(s.global)));
    b.push_back(s.background);
    b.push_back(0);
    b.insert(b.end(), s.global.begin(), s.global.end());
    for (const std::string& c : s.comments) {
        b.insert(b.end(), {0x21, 0xFE, static_cast<uint8_t>(c.size())});
        b.insert(b.end(), c.begin(), c.end());
        b.insert(b.end(), {3, 'x', 'y', 'z', 0});
    }
    for (const Frame& f : s.frames) {
        if (f.gce) {
            const uint8_t flags = static_cast<uint8_t>(f.disposal << 2 | (f.transparent >= 0 ? 1 : 0));
            b.insert(b.end(), {0x21, 0xF9, 4, flags, static_cast<uint8_t>(f.delay), static_cast<uint8_t>(f.delay >> 8),
                               static_cast<uint8_t>(f.transparent >= 0 ? f.transparent : 0), 0});
        }
        b.push_back(',');
        le16(b, f.left);
        le16(b, f.top);
        le16(b, f.w);
        le16(b, f.h);
        b.push_back(static_cast<uint8_t>((f.local.empty() ? 0 : 0x80 | sizeField(f.local)) | (f.interlaced ? 0x40 : 0)));
        b.insert(b.end(), f.local.begin(), f.local.end());
        if (uint64_t(f.w) * f.h == 0) {
            b.insert(b.end(), {2, 0});
            continue;
        }
        Bytes area(GifLzwBound(uint64_t(f.w) * f.h));
        uint8_t* out = area.data();
        GifLzwEncoder enc;
        EXPECT_EQ(enc.EncodeImage(&out, area.data() + area.size(), f.pixels.data(), f.w, f.h, f.depth,
                                  f.interlaced ? kGifInterlaced : 0),
                  KXERR_NONE);
        b.insert(b.end(), area.data(), out);
    }
    b.insert(b.end(), s.tail.begin(), s.tail.end());
    return b;
}

// A table of n colours, entry i = (base + i, 2i, 255 - i).
Bytes table(uint32_t n, uint8_t base = 0) {
    Bytes t;
    for (uint32_t i = 0; i < n; ++i) t.insert(t.end(), {static_cast<uint8_t>(base + i), static_cast<uint8_t>(2 * i), static_cast<uint8_t>(255 - i)});
    return t;
}

Bytes rgbOf(const KX_GfxBuffer* b) { return kxt::ToRgb(b).Pix; }

class GifTest : public testing::Test {
protected:
    void SetUp() override {
        dir = KXT_NewTempDir((fs::temp_directory_path() / "kxgifXXXXXX").string()) + "/";
        fs::create_directories(dir + "prog/ENV/Kaxon5-Library");
        fs::create_directories(dir + "user/ENV/Kaxon5-Library");
        lib.SetPaths((dir + "prog/").c_str(), (dir + "user/").c_str());
        gif = new kxoGIF(&lib);
    }
    void TearDown() override {
        delete gif;
        delete cfg;
        fs::remove_all(dir);
    }
    std::string write(const Bytes& data, const char* name = "in.gif") {
        std::string path = dir + name;
        EXPECT_TRUE(KXT_WriteBytes(path, data)) << path;
        return path;
    }
    void set(const char* key, const char* value) {
        uint32_t err = 0;
        if (!cfg) cfg = new KXConfig(gif->PadPath, &err);
        cfg->SetValue(key, value);
        gif->SetLocalConfig(cfg->GetPadList());
    }
    // Reset drops the settings list; it is handed over again.
    void reset() {
        gif->Reset();
        if (cfg) gif->SetLocalConfig(cfg->GetPadList());
    }
    // Loads the bytes; the buffer stays the module's.
    uint32_t load(const Bytes& data, KX_GfxBuffer** out) {
        readPath = write(data);
        reset();
        gif->SetReadName(readPath.c_str());
        uint32_t err = gif->Load();
        *out = nullptr;
        gif->GetGfxBuffer(out);
        return err;
    }
    uint32_t save(KX_GfxBuffer* b, uint32_t subFormat = 1, const char* name = "out.gif") {
        savePath = dir + name;
        reset();
        gif->SetSaveName(savePath.c_str());
        gif->SetSubFormat(subFormat);
        gif->SetGfxBuffer(b);
        return gif->Save();
    }

    std::string dir, readPath, savePath;
    KXClass lib;
    kxoGIF* gif = nullptr;
    KXConfig* cfg = nullptr;
};

// An owned palette or 24-bit buffer.
struct Picture {
    KX_GfxBuffer* b = nullptr;
    Picture(uint32_t w, uint32_t h, uint32_t depth, uint32_t seed = 1) {
        const uint32_t bits = depth == 24 ? 24 : 8;
        EXPECT_EQ(KXF_NewImage(&b, ONEPLANE, w, h, depth, bits, true), KXERR_NONE);
        std::mt19937 rng(seed);
        for (uint32_t i = 0; i < b->BufferSize; ++i)
            b->Data[i] = static_cast<uint8_t>(depth == 24 ? rng() : rng() % (1u << depth));
        for (int i = 0; i < 768; ++i) b->Palette[i] = static_cast<uint8_t>(rng());
    }
    ~Picture() { KXSUP_FreeGfxBuffer(b); }
};

}  // namespace

TEST_F(GifTest, RecognisesBothSignaturesOnly) {
    struct Case {
        const char* bytes;
        size_t size;
        int32_t mode;
        uint32_t known;
    } cases[] = {
        {"GIF87a....", 10, KXIO_FILE, 1}, {"GIF89a", 6, KXIO_FILE, 1},   {"GIF88a....", 10, KXIO_FILE, 0},
        {"gif89a....", 10, KXIO_FILE, 0}, {"GIF89", 5, KXIO_FILE, 0},    {"GIF89a....", 10, KXIO_CLIPBOARD, 0},
    };
    for (const Case& c : cases) {
        const std::string path = write(Bytes(c.bytes, c.bytes + c.size));
        FILE* f = fopen(path.c_str(), "rb");
        fseek(f, 3, SEEK_SET);
        EXPECT_EQ(gif->CheckFile(f, path.c_str(), c.mode), c.known) << c.bytes;
        if (c.mode == KXIO_FILE) {
            EXPECT_EQ(ftell(f), 0);
        }
        fclose(f);
    }
    EXPECT_EQ(gif->CheckFile(nullptr, "x", KXIO_FILE), 0u);
}

TEST_F(GifTest, SingleImageKeepsItsOwnSizeAndMergesAShorterLocalTable) {
    Spec s;
    s.signature = "GIF87a";
    s.sw = 10;
    s.sh = 8;
    s.global = table(16);
    Frame f;
    f.left = 2;
    f.top = 1;
    f.w = 5;
    f.h = 3;
    f.local = table(4, 100);
    f.interlaced = true;
    f.depth = 2;
    f.pixels = {0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 3, 3, 3};
    s.frames = {f};
    s.comments = {"first", "second comment"};
    KX_GfxBuffer* b;
    ASSERT_EQ(load(build(s), &b), KXERR_NONE);
    EXPECT_EQ(b->Width, 5u);
    EXPECT_EQ(b->Height, 3u);
    EXPECT_EQ(b->ColorDepth, 2u);
    EXPECT_EQ(b->PixelBits, 8u);
    EXPECT_EQ(b->Version, 1u);
    EXPECT_EQ(Bytes(b->Data, b->Data + 15), f.pixels);
    Bytes pal(b->Palette, b->Palette + 48), want = table(4, 100), rest = table(16);
    want.insert(want.end(), rest.begin() + 12, rest.end());
    EXPECT_EQ(pal, want);
    EXPECT_EQ(gif->SubFormatId, 0u);
    ASSERT_NE(gif->Anno, nullptr);
    EXPECT_STREQ(gif->Anno, "second comment");
}

TEST_F(GifTest, SingleImageWithTransparentIndex) {
    Spec s;
    s.sw = s.sh = 2;
    s.global = table(4);
    Frame f;
    f.w = f.h = 2;
    f.gce = true;
    f.transparent = 3;
    f.pixels = {0, 1, 2, 3};
    s.frames = {f};
    KX_GfxBuffer* b;
    ASSERT_EQ(load(build(s), &b), KXERR_NONE);
    EXPECT_EQ(gif->SubFormatId, 1u);
    EXPECT_EQ(b->Version, 3u);
    EXPECT_EQ(b->AlphaType, uint32_t(KXALPHA_SINGLECOLOR));
    EXPECT_EQ(KXSUP_AlphaIndex(b), 3u);
}

// A second Load on the same object without Reset replaces the first
// picture (the sanitizer's leak check sees one that stays behind).
TEST_F(GifTest, SecondLoadReplacesThePicture) {
    Spec s;
    s.sw = s.sh = 2;
    s.global = table(4);
    Frame f;
    f.w = f.h = 2;
    f.pixels = {0, 1, 2, 3};
    s.frames = {f};
    KX_GfxBuffer* first;
    ASSERT_EQ(load(build(s), &first), KXERR_NONE);
    ASSERT_EQ(gif->Load(), KXERR_NONE);
    KX_GfxBuffer* second = nullptr;
    gif->GetGfxBuffer(&second);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(Bytes(second->Data, second->Data + 4), f.pixels);
}

// Frames of a 4 x 2 screen; the canvas background index is 7.
struct CompositeCase {
    const char* name;
    std::vector<Frame> frames;
    std::vector<std::pair<const char*, const char*>> settings;
    uint32_t pixelBits;
    Bytes indices;  // palette canvas: expected indices; 24-bit: expected RGB
};

TEST_F(GifTest, CompositeCanvasAndSelection) {
    const Bytes g = table(8);
    auto frame = [](uint16_t left, uint16_t w, uint8_t v, int disposal = 0, int delay = 0, Bytes local = {}) {
        Frame f;
        f.left = left;
        f.w = w;
        f.h = 2;
        f.gce = disposal || delay;
        f.disposal = disposal;
        f.delay = delay;
        f.local = local;
        f.depth = 3;
        f.pixels.assign(size_t(w) * 2, v);
        return f;
    };
    auto rgb = [](std::initializer_list<std::pair<Bytes, int>> runs) {
        Bytes out;
        for (auto& [c, n] : runs)
            for (int i = 0; i < n; ++i) out.insert(out.end(), c.begin(), c.end());
        return out;
    };
    const Bytes bg = {7, 14, 248}, c1 = {1, 2, 254}, c2 = {2, 4, 253}, l5 = {55, 10, 250};
    const CompositeCase cases[] = {
        {"mosaic", {frame(0, 2, 1), frame(2, 2, 2)}, {}, 8, {1, 1, 2, 2, 1, 1, 2, 2}},
        {"partial cover keeps background", {frame(0, 1, 1), frame(1, 1, 2)}, {}, 8, {1, 2, 7, 7, 1, 2, 7, 7}},
        {"later image replaces earlier", {frame(0, 3, 1), frame(1, 3, 2)}, {}, 8, {1, 2, 2, 2, 1, 2, 2, 2}},
        {"equal local table stays palette", {frame(0, 2, 1), frame(2, 2, 2, 0, 0, table(8))}, {}, 8,
         {1, 1, 2, 2, 1, 1, 2, 2}},
        {"differing local table gives 24 bits", {frame(0, 2, 1), frame(2, 1, 5, 0, 0, table(8, 50))}, {}, 24,
         rgb({{c1, 2}, {l5, 1}, {bg, 1}, {c1, 2}, {l5, 1}, {bg, 1}})},
        {"differing first local table gives 24 bits", {frame(0, 2, 5, 0, 0, table(8, 50)), frame(2, 2, 2)}, {}, 24,
         rgb({{l5, 2}, {c2, 2}, {l5, 2}, {c2, 2}})},
        {"disposal 2 shows background", {frame(0, 3, 1, 2), frame(2, 2, 2)}, {}, 8, {7, 7, 2, 2, 7, 7, 2, 2}},
        {"disposal 3 leaves no trace", {frame(0, 3, 1, 3), frame(3, 1, 2)}, {}, 8, {7, 7, 7, 2, 7, 7, 7, 2}},
        {"tiled loading off draws the last", {frame(0, 2, 1), frame(2, 2, 2)}, {{"TILED_LOADING", "OFF"}}, 8,
         {7, 7, 2, 2, 7, 7, 2, 2}},
        {"tile number = count draws the first",
         {frame(0, 2, 1), frame(2, 2, 2)},
         {{"TILED_LOADING", "off"}, {"TILE_NUMBER", "2"}},
         8,
         {1, 1, 7, 7, 1, 1, 7, 7}},
        {"tile number 0 draws the last",
         {frame(0, 2, 1), frame(2, 2, 2)},
         {{"TILED_LOADING", "OFF"}, {"TILE_NUMBER", "0"}},
         8,
         {7, 7, 2, 2, 7, 7, 2, 2}},
        {"negative tile number draws the last",
         {frame(0, 2, 1), frame(2, 2, 2)},
         {{"TILED_LOADING", "OFF"}, {"TILE_NUMBER", "-3"}},
         8,
         {7, 7, 2, 2, 7, 7, 2, 2}},
        {"anim LAST draws the last picture",
         {frame(0, 2, 1, 1, 10), frame(1, 2, 2, 1, 10), frame(2, 2, 3, 1, 10)},
         {{"ANIM_LOADING", "LAST"}},
         8,
         {7, 7, 3, 3, 7, 7, 3, 3}},
        {"anim FIRST draws the first picture",
         {frame(0, 2, 1, 1, 10), frame(1, 2, 2, 1, 10), frame(2, 2, 3, 1, 10)},
         {{"ANIM_LOADING", "first"}},
         8,
         {1, 1, 7, 7, 1, 1, 7, 7}},
        {"anim other word: all drawn",
         {frame(0, 2, 1, 1, 10), frame(1, 2, 2, 1, 10), frame(2, 2, 3, 1, 10)},
         {{"ANIM_LOADING", "MIDDLE"}},
         8,
         {1, 2, 3, 3, 1, 2, 3, 3}},
        {"anim word on a still mosaic is ignored",
         {frame(0, 2, 1), frame(2, 2, 2)},
         {{"ANIM_LOADING", "LAST"}},
         8,
         {1, 1, 2, 2, 1, 1, 2, 2}},
    };
    for (const CompositeCase& c : cases) {
        SCOPED_TRACE(c.name);
        delete cfg;
        cfg = nullptr;
        gif->SetLocalConfig(nullptr);
        for (auto& [k, v] : c.settings) set(k, v);
        Spec s;
        s.sw = 4;
        s.sh = 2;
        s.global = g;
        s.background = 7;
        s.frames = c.frames;
        KX_GfxBuffer* b;
        ASSERT_EQ(load(build(s), &b), KXERR_NONE);
        EXPECT_EQ(b->Width, 4u);
        EXPECT_EQ(b->Height, 2u);
        ASSERT_EQ(b->PixelBits, c.pixelBits);
        if (c.pixelBits == 8) {
            EXPECT_EQ(b->ColorDepth, 3u);
            EXPECT_EQ(Bytes(b->Data, b->Data + 8), c.indices);
        } else {
            EXPECT_EQ(b->ColorDepth, 24u);
            EXPECT_EQ(Bytes(b->Data, b->Data + 24), c.indices);
        }
    }
}

TEST_F(GifTest, CompositeTransparency) {
    auto frame = [](uint16_t left, Bytes local, int transparent) {
        Frame f;
        f.left = left;
        f.w = 2;
        f.h = 1;
        f.gce = transparent >= 0;
        f.transparent = transparent;
        f.local = local;
        f.depth = 2;
        f.pixels = {1, 2};
        return f;
    };
    Spec s;
    s.sw = 4;
    s.global = table(4);
    KX_GfxBuffer* b;

    // Palette canvas: an alpha table with the transparent entry cleared.
    s.frames = {frame(0, {}, -1), frame(2, {}, 2)};
    ASSERT_EQ(load(build(s), &b), KXERR_NONE);
    ASSERT_EQ(b->AlphaType, uint32_t(KXALPHA_MULTICOLOR));
    EXPECT_EQ(b->Version, 3u);
    const uint8_t* t = KXSUP_AlphaBytes(b);
    EXPECT_EQ(t[2], 0);
    EXPECT_EQ(t[1], 255);

    // 24-bit canvas: a map, clear only where the image's transparent index
    // is; the first image has no extension of its own and is not made
    // transparent by the file's later one.
    s.frames = {frame(0, {}, -1), frame(2, table(4, 90), 2)};
    ASSERT_EQ(load(build(s), &b), KXERR_NONE);
    ASSERT_EQ(b->PixelBits, 24u);
    ASSERT_EQ(b->AlphaType, uint32_t(KXALPHA_CHANNEL8));
    EXPECT_EQ(Bytes(KXSUP_AlphaBytes(b), KXSUP_AlphaBytes(b) + 4), (Bytes{255, 255, 255, 0}));
}

TEST_F(GifTest, DamagedFilesFailCleanlyWithoutBuffer) {
    Spec good;
    good.sw = good.sh = 2;
    good.global = table(2);
    Frame f;
    f.w = f.h = 2;
    f.depth = 1;
    f.pixels = {0, 1, 1, 0};
    good.frames = {f};
    const Bytes ok = build(good);

    Spec outside = good;
    outside.frames[0].left = 1;
    Spec none = good;
    none.frames.clear();
    Spec zero = good;
    zero.frames[0].w = 0;
    zero.frames[0].pixels = {0};

    struct Case {
        const char* name;
        Bytes data;
        uint32_t result;
    } cases[] = {
        {"empty", {}, KXERR_EOF},
        {"header cut", Bytes(ok.begin(), ok.begin() + 10), KXERR_EOF},
        {"colour table cut", Bytes(ok.begin(), ok.begin() + 15), KXERR_EOF},
        {"descriptor cut", Bytes(ok.begin(), ok.begin() + 23), KXERR_EOF},
        {"sub-block cut", Bytes(ok.begin(), ok.end() - 4), KXERR_EOF},
        {"no image", build(none), KXERR_NOVIEWABLEDATA},
        {"image outside the screen", build(outside), KXERR_DECODE},
        {"image of no pixels", build(zero), KXERR_FILEREQUIREMENTS},
        {"trailer missing", Bytes(ok.begin(), ok.end() - 1), KXERR_NONE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KX_GfxBuffer* b;
        EXPECT_EQ(load(c.data, &b), c.result);
        EXPECT_EQ(b != nullptr, c.result == KXERR_NONE);
    }
    gif->Reset();
    const std::string missing = dir + "missing.gif";
    gif->SetReadName(missing.c_str());
    EXPECT_EQ(gif->Load(), KXERR_FILENOTFOUND);
}

TEST_F(GifTest, ReaderSurvivesDamagedFiles) {
    // The fixtures of independent programs, and a two-image file with a
    // differing local table, transparency, delay, interlace and a comment.
    for (const char* f : {"netpbm_interlaced.gif", "netpbm_bilevel_transparent.gif", "im_comment.gif", "im_anim.gif"})
        KXT_CheckReaderRobustness("kxoGIF", std::string(KX_SOURCE_DIR) + "/tests/fixtures/gif/" + f);
    Spec s;
    s.sw = 9;
    s.sh = 7;
    s.global = table(16);
    Frame a;
    a.w = 9;
    a.h = 7;
    a.depth = 4;
    a.interlaced = true;
    for (int i = 0; i < 63; ++i) a.pixels.push_back(static_cast<uint8_t>(i % 16));
    Frame b = a;
    b.local = table(16, 40);
    b.gce = true;
    b.transparent = 3;
    b.delay = 5;
    s.frames = {a, b};
    s.comments = {"note"};
    KXT_CheckReaderRobustness("kxoGIF", write(build(s), "composite.gif"));
}

TEST_F(GifTest, PalettePicturesRoundTrip) {
    const uint32_t widths[] = {1, 2, 3, 5, 7, 8, 9, 15, 16, 17, 61};
    struct Kind {
        uint32_t subFormat;
        const char* interlaced;
        const char* local;
    } kinds[] = {{0, "OFF", "OFF"}, {1, "ON", "OFF"}, {1, "OFF", "ON"}, {0, "ON", "ON"}};
    for (const Kind& k : kinds) {
        delete cfg;
        cfg = nullptr;
        set("SAVE_INTERLACED", k.interlaced);
        set("LOCALCOLORMAP", k.local);
        for (uint32_t depth = 1; depth <= 8; ++depth)
            for (uint32_t w : widths) {
                SCOPED_TRACE(testing::Message() << "depth " << depth << " width " << w << " sub " << k.subFormat
                                                << k.interlaced << k.local);
                Picture p(w, 1 + w % 5, depth, w * depth);
                ASSERT_EQ(save(p.b, k.subFormat), KXERR_NONE);
                const Bytes file = KXT_ReadBytes(savePath);
                EXPECT_EQ(std::string(file.begin(), file.begin() + 6), k.subFormat == 0 ? "GIF87a" : "GIF89a");
                KX_GfxBuffer* b;
                ASSERT_EQ(load(file, &b), KXERR_NONE);
                EXPECT_EQ(b->ColorDepth, depth);
                EXPECT_EQ(Bytes(b->Data, b->Data + b->BufferSize), Bytes(p.b->Data, p.b->Data + p.b->BufferSize));
                EXPECT_EQ(Bytes(b->Palette, b->Palette + (3 << depth)), Bytes(p.b->Palette, p.b->Palette + (3 << depth)));
            }
    }
}

TEST_F(GifTest, TinyAndIncompressiblePicturesSave) {
    for (uint32_t side : {1u, 2u, 256u}) {
        Picture p(side, side, 8, 3);
        ASSERT_EQ(save(p.b), KXERR_NONE) << side;
        KX_GfxBuffer* b;
        ASSERT_EQ(load(KXT_ReadBytes(savePath), &b), KXERR_NONE);
        EXPECT_EQ(Bytes(b->Data, b->Data + b->BufferSize), Bytes(p.b->Data, p.b->Data + p.b->BufferSize));
    }
    // A 1-bit picture is written with LZW minimum code size 2.
    Picture p(3, 1, 1);
    ASSERT_EQ(save(p.b), KXERR_NONE);
    const Bytes file = KXT_ReadBytes(savePath);
    EXPECT_EQ(file[13 + 6 + 10], 2);
}

TEST_F(GifTest, TrueColourPicturesSaveAsLosslessTiles) {
    for (uint32_t w : {1u, 5u, 16u, 17u, 33u, 61u}) {
        const uint32_t h = w == 17 ? 17 : 1 + w % 19;
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        Picture p(w, h, 24, w);
        ASSERT_EQ(save(p.b), KXERR_NONE);
        KX_GfxBuffer* b;
        ASSERT_EQ(load(KXT_ReadBytes(savePath), &b), KXERR_NONE);
        ASSERT_EQ(b->Width, w);
        ASSERT_EQ(b->Height, h);
        EXPECT_EQ(rgbOf(b), Bytes(p.b->Data, p.b->Data + p.b->BufferSize));
    }
    // 17 x 17: four tiles 16x16, 1x16, 16x1, 1x1; the global table is the first tile's.
    Picture p(17, 17, 24, 9);
    ASSERT_EQ(save(p.b, 0), KXERR_NONE);
    const Bytes f = KXT_ReadBytes(savePath);
    EXPECT_EQ(f[10], 0x87);
    EXPECT_EQ(Bytes(f.begin() + 13, f.begin() + 13 + 48), Bytes(p.b->Data, p.b->Data + 48));
    std::vector<std::array<uint32_t, 4>> tiles;
    size_t pos = 13 + 768;
    while (pos < f.size() && f[pos] == ',') {
        const uint8_t* d = &f[pos + 1];
        tiles.push_back({uint32_t(d[0] | d[1] << 8), uint32_t(d[2] | d[3] << 8), uint32_t(d[4] | d[5] << 8),
                         uint32_t(d[6] | d[7] << 8)});
        EXPECT_EQ(d[8], 0x87);
        pos += 1 + 9 + 768 + 1;
        while (f[pos] != 0) pos += f[pos] + 1;
        ++pos;
    }
    EXPECT_EQ(pos, f.size() - 1);
    EXPECT_EQ(f.back(), ';');
    const std::vector<std::array<uint32_t, 4>> want = {{0, 0, 16, 16}, {16, 0, 1, 16}, {0, 16, 16, 1}, {16, 16, 1, 1}};
    EXPECT_EQ(tiles, want);
}

TEST_F(GifTest, TransparencyOnlyIn89a) {
    struct Case {
        uint32_t subFormat;
        const char* on;
        const char* index;
        int bufferIndex;  // -1: no alpha in the buffer
        int written;      // -1: no extension
    } cases[] = {
        {1, "ON", "5", -1, 5},    {1, "on", "0", 9, 0},     {0, "ON", "5", 9, -1},    {1, "OFF", "5", -1, -1},
        {1, "ON", "256", -1, -1}, {1, "ON", "-1", 9, 9},    {1, "ON", nullptr, -1, -1}, {1, "ON", "", -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.subFormat << " " << c.on << " " << (c.index ? c.index : "-"));
        delete cfg;
        cfg = nullptr;
        set("GIF89A_TRANSPARENCY", c.on);
        if (c.index) set("GIF89A_TRANSPARENT_COLOR", c.index);
        Picture p(4, 4, 4);
        if (c.bufferIndex >= 0) {
            p.b->Version = 3;
            p.b->AlphaType = KXALPHA_SINGLECOLOR;
            KXSUP_SetAlphaIndex(p.b, c.bufferIndex);
        }
        ASSERT_EQ(save(p.b, c.subFormat), KXERR_NONE);
        const Bytes f = KXT_ReadBytes(savePath);
        const size_t at = 13 + 48;
        if (c.written < 0) {
            EXPECT_EQ(f[at], ',');
        } else {
            EXPECT_EQ(Bytes(f.begin() + at, f.begin() + at + 8), (Bytes{0x21, 0xF9, 4, 1, 0, 0, uint8_t(c.written), 0}));
        }
    }
}

TEST_F(GifTest, WriterRefusalsComeBeforeTheFileIsTouched) {
    Picture pal(4, 4, 8), rgb(4, 4, 24);
    Picture wide(1, 1, 8);
    KX_GfxBuffer* big = nullptr;
    ASSERT_EQ(KXF_NewImage(&big, ONEPLANE, 65536, 1, 8, 8, true), KXERR_NONE);
    Picture deep(2, 2, 8);
    deep.b->ColorDepth = 12;
    Picture ham(4, 4, 6);
    ham.b->ViewMode = KXVIEWMODE_HAM;
    Picture mixed(4, 4, 8);
    mixed.b->ColorDepth = 24;  // 24 bits promised, one byte per pixel held

    struct Case {
        const char* name;
        KX_GfxBuffer* b;
        int32_t mode;
        bool tiledOff;
        uint32_t result;
    } cases[] = {
        {"clipboard mode", pal.b, KXIO_CLIPBOARD, false, KXERR_NOTSUPPORTED},
        {"24 bits, tiles off", rgb.b, KXIO_FILE, true, KXERR_NO24BIT},
        {"depth 12", deep.b, KXIO_FILE, false, KXERR_NOTSUPPORTED},
        {"HAM", ham.b, KXIO_FILE, false, KXERR_NOHAM},
        {"wider than 65535", big, KXIO_FILE, false, KXERR_FILEREQUIREMENTS},
        {"depth and pixel size disagree", mixed.b, KXIO_FILE, false, KXERR_NOTSUPPORTED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        delete cfg;
        cfg = nullptr;
        set("TILED_SAVING", c.tiledOff ? "off" : "ON");
        const std::string out = write(Bytes{'o', 'l', 'd'}, "out.gif");
        reset();
        gif->SetSaveName(out.c_str());
        gif->SetGfxBuffer(c.b);
        gif->SetIOMode(c.mode);
        EXPECT_EQ(gif->Save(), c.result);
        EXPECT_EQ(KXT_ReadBytes(dir + "out.gif"), (Bytes{'o', 'l', 'd'}));
        gif->SetIOMode(KXIO_FILE);
    }
    KXSUP_FreeGfxBuffer(big);
    gif->Reset();
    EXPECT_EQ(gif->Save(), KXERR_NOTSUPPORTED);  // no buffer
    gif->SetGfxBuffer(pal.b);
    const std::string noDir = dir + "no/such/dir/x.gif";
    gif->SetSaveName(noDir.c_str());
    EXPECT_EQ(gif->Save(), KXERR_NODESTFILE);
}

TEST_F(GifTest, FailedWriteReportsIoAndKeepsTheOldFile) {
    Picture p(300, 300, 8, 5);
    Picture t(64, 64, 24, 5);
    for (KX_GfxBuffer* b : {p.b, t.b}) {
        write(Bytes{'o', 'l', 'd'}, "out.gif");
        struct rlimit old;
        getrlimit(RLIMIT_FSIZE, &old);
        struct rlimit small = old;
        small.rlim_cur = 1000;
        signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        const uint32_t r = save(b);
        setrlimit(RLIMIT_FSIZE, &old);
        EXPECT_EQ(r, KXERR_IO);
        EXPECT_EQ(KXT_ReadBytes(dir + "out.gif"), (Bytes{'o', 'l', 'd'}));
        for (auto& e : fs::directory_iterator(dir))
            if (e.is_regular_file()) {
                EXPECT_EQ(e.path().filename(), "out.gif");
            }
    }
}
