// kxoPNG's pad keys: the zlib level and strategy with their clamps, the
// depth switches (any spelling of the key, one word each), the exact
// spelling of the other keys, and the catalogue's objects reading them from
// their pad files.
#include <filesystem>

#include "png_helpers.h"

namespace {

using namespace pngtest;
namespace fs = std::filesystem;

// FLEVEL of the zlib stream in the first IDAT: 0 for levels 0-1 and for the
// Huffman-only and run-length strategies, 1 for 2-5, 2 for 6, 3 for 7-9.
int idatLevelFlags(const std::vector<uint8_t>& f) {
    size_t p = 8;
    while (p + 12 <= f.size()) {
        const uint32_t length = (uint32_t)f[p] << 24 | f[p + 1] << 16 | f[p + 2] << 8 | f[p + 3];
        if (memcmp(&f[p + 4], "IDAT", 4) == 0 && length >= 2) return f[p + 9] >> 6;
        p += 12 + (size_t)length;
    }
    return -1;
}

// Whether the header says Adam7.
bool interlaced(const std::vector<uint8_t>& f) { return f.size() > 28 && f[28] == 1; }

}  // namespace

TEST(PngKeys, WriterKeysWithTheirDefaultsAndClamps) {
    struct Case {
        const char* name;
        Settings settings;
        int levelFlags;
        bool adam7;
    } cases[] = {
        {"defaults", {}, 2, false},
        {"level 0", {{"Z_COMPRESSION", "0"}}, 0, false},
        {"level 3", {{"Z_COMPRESSION", "3"}}, 1, false},
        {"level 9", {{"Z_COMPRESSION", "9"}}, 3, false},
        {"negative level", {{"Z_COMPRESSION", "-1"}}, 2, false},
        {"level 10", {{"Z_COMPRESSION", "10"}}, 2, false},
        {"level key in lower case", {{"z_compression", "9"}}, 2, false},
        {"Huffman only", {{"Z_STRATEGY", "2"}}, 0, false},
        {"run length", {{"Z_STRATEGY", "3"}}, 0, false},
        {"filtered", {{"Z_STRATEGY", "1"}}, 2, false},
        {"strategy 4", {{"Z_STRATEGY", "4"}}, 2, false},
        {"negative strategy", {{"Z_STRATEGY", "-2"}}, 2, false},
        {"strategy key in lower case", {{"z_strategy", "2"}}, 2, false},
        {"interlaced", {{"SAVE_INTERLACED", "on"}}, 2, true},
        {"interlace key in lower case", {{"save_interlaced", "ON"}}, 2, false},
    };
    const std::string path = TempPath("keys.png");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Buffer b = MakeImage(24, 16, 16);
        Png w(c.settings);
        ASSERT_EQ(w.Save(b.get(), path), KXERR_NONE);
        const std::vector<uint8_t> f = KXT_ReadBytes(path);
        EXPECT_EQ(idatLevelFlags(f), c.levelFlags);
        EXPECT_EQ(interlaced(f), c.adam7);
        // Every setting gives the same picture back.
        Png r;
        ASSERT_EQ(r.Load(path), KXERR_NONE);
        EXPECT_EQ(0, memcmp(r.Image()->Data, b->Data, b->BufferSize));
    }
    remove(path.c_str());
}

TEST(PngKeys, DepthSwitchesTakeAnySpellingOfTheKeyAndOneWord) {
    const std::string rgb16 = TempPath("k_rgb16.png"), grey16 = TempPath("k_grey16.png"), grey8 = TempPath("k_grey8.png");
    const std::vector<uint8_t> rgbRows = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11, 0x22, 0x33, 0x44};
    const std::vector<uint8_t> greyRows16 = {0xAB, 0xCD, 0x01, 0x02};
    const std::vector<uint8_t> greyRows8 = {0x40, 0xC0};
    ASSERT_TRUE(WriteCrafted(rgb16, 2, 1, 16, PNG_COLOR_TYPE_RGB, rgbRows, nullptr));
    ASSERT_TRUE(WriteCrafted(grey16, 2, 1, 16, PNG_COLOR_TYPE_GRAY, greyRows16, nullptr));
    ASSERT_TRUE(WriteCrafted(grey8, 2, 1, 8, PNG_COLOR_TYPE_GRAY, greyRows8, nullptr));
    struct Case {
        const char* name;
        const std::string& file;
        Settings settings;
        uint32_t depth;
    } cases[] = {
        {"colour 16 default", rgb16, {}, 48},
        {"COLORDEPTH 24", rgb16, {{"COLORDEPTH", "24"}}, 24},
        {"ColorDepth 24", rgb16, {{"ColorDepth", "24"}}, 24},
        {"COLORDEPTH 24bit", rgb16, {{"COLORDEPTH", "24bit"}}, 48},
        {"COLORDEPTH 48", rgb16, {{"COLORDEPTH", "48"}}, 48},
        {"grey 16 default", grey16, {}, 48},
        {"graydepth16 8", grey16, {{"graydepth16", "8"}}, 8},
        {"GRAYDEPTH16 8bit", grey16, {{"GRAYDEPTH16", "8bit"}}, 48},
        {"grey 16 with COLORDEPTH 24", grey16, {{"COLORDEPTH", "24"}}, 8},
        {"grey 16 with COLORDEPTH and GRAYDEPTH8 24", grey16, {{"COLORDEPTH", "24"}, {"GRAYDEPTH8", "24"}}, 24},
        {"grey 8 default", grey8, {}, 8},
        {"GrayDepth8 24", grey8, {{"GrayDepth8", "24"}}, 24},
        {"GRAYDEPTH8 24.0", grey8, {{"GRAYDEPTH8", "24.0"}}, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Png r(c.settings);
        ASSERT_EQ(r.Load(c.file), KXERR_NONE);
        EXPECT_EQ(r.Image()->ColorDepth, c.depth);
    }

    // The catalogue's reader finds the key in its archive pad file too,
    // whatever its spelling, also after a Reset.
    const std::string root = TempPath("pads/");
    fs::create_directories(root + "prog/ENV/Kaxon5-Library");
    fs::create_directories(root + "user/ENV/Kaxon5-Library");
    ASSERT_TRUE(KXT_WriteFile(root + "prog/ENV/Kaxon5-Library/PNG.controlpad", "colordepth=24\n"));
    {
        KXClass lib;
        lib.SetPaths((root + "prog/").c_str(), (root + "user/").c_str());
        KXObject** readers = lib.GetObjects(0);
        KXObject* png = nullptr;
        for (int i = 0; readers && readers[i]; ++i)
            if (strcmp(readers[i]->FormatName, "PNG") == 0) png = readers[i];
        ASSERT_NE(png, nullptr);
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(round);
            png->SetReadName(rgb16.c_str());
            ASSERT_EQ(png->Load(), KXERR_NONE);
            KX_GfxBuffer* b = nullptr;
            png->GetGfxBuffer(&b);
            ASSERT_NE(b, nullptr);
            EXPECT_EQ(b->ColorDepth, 24u);
            png->Reset();
        }
    }
    fs::remove_all(root);
    remove(rgb16.c_str());
    remove(grey16.c_str());
    remove(grey8.c_str());
}
