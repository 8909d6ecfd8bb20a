// kxoQL: no program here knows QL screens, so the screens are byte tables
// built in the test: both colour modes decoded against the word layout,
// the mode from QL_MODE or the name, the larger screens behind
// EXOTIC_FORMATS, recognition by size and name, and damaged input.
#include <gtest/gtest.h>

#include "formats/raster/kxoQL.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"

using namespace kxt;

namespace {

struct Keys {
    const char* Mode;  // QL_MODE or null
    bool Exotic;
};

void loadQL(const std::vector<uint8_t>& bytes, const std::string& name, Keys keys, Loaded& out) {
    const std::string p = TempPath(name);
    WriteAll(p, bytes);
    kxoQL m;
    uint32_t err = 0;
    KXConfig settings(m.PadPath, &err);
    ASSERT_EQ(err, KXERR_NONE);
    if (keys.Mode) settings.SetValue("QL_MODE", keys.Mode);
    if (keys.Exotic) settings.SetValue("EXOTIC_FORMATS", "1");
    m.SetLocalConfig(settings.GetPadList());
    m.SetReadName(p.c_str());
    out.Err = m.Load();
    m.DetachGfxBuffer(&out.Buffer);
    out.SubFormat = m.SubFormatId;
    unlink(p.c_str());
}

std::vector<uint8_t> screen(size_t size) {
    std::vector<uint8_t> v(size);
    for (size_t i = 0; i < size; ++i) v[i] = (uint8_t)(i * 131 + (i >> 7) * 17 + (i >> 11));
    return v;
}

// The colour index of pixel x of a row, straight from the word layout.
uint32_t expectedIndex(const uint8_t* row, uint32_t x, bool four) {
    const uint8_t* word = row + x / 8 * 2;
    if (four) {
        const uint32_t k = x % 8;
        return (word[0] >> (7 - k) & 1) * 2 + (word[1] >> (7 - k) & 1);
    }
    const uint32_t k = x % 8 / 2;  // every pixel twice
    return (word[0] >> (7 - 2 * k) & 1) * 4 + (word[1] >> (7 - 2 * k) & 1) * 2 + (word[1] >> (6 - 2 * k) & 1);
}

TEST(Ql, ModesGeometriesAndKeys) {
    struct {
        const char* Name;
        size_t Size;
        Keys Settings;
        uint32_t Err, W, H;
        bool Four;
    } cases[] = {
        {"a.ql4", 32768, {nullptr, false}, KXERR_NONE, 512, 256, true},
        {"a.QL8", 32768, {nullptr, false}, KXERR_NONE, 512, 256, false},
        {"a.ql", 32768, {nullptr, false}, KXERR_NONE, 512, 256, false},
        {"a.ql8", 32768, {"ql4", false}, KXERR_NONE, 512, 256, true},
        {"a.ql4", 32768, {"QL8", false}, KXERR_NONE, 512, 256, false},
        {"a.ql4", 32768, {"QL5", false}, KXERR_NONE, 512, 256, true},  // not a mode: the name decides
        {"a.ql4", 49152, {nullptr, false}, KXERR_FILEREQUIREMENTS, 0, 0, true},
        {"a.ql4", 49152, {nullptr, true}, KXERR_NONE, 512, 384, true},
        {"a.ql4", 53760, {nullptr, true}, KXERR_NONE, 768, 280, true},
        {"a.ql8", 56000, {nullptr, true}, KXERR_NONE, 640, 350, false},
        {"a.ql8", 120000, {nullptr, true}, KXERR_NONE, 800, 600, false},
        {"a.ql4", 196608, {nullptr, true}, KXERR_NONE, 1024, 768, true},
        {"a.ql4", 32767, {nullptr, true}, KXERR_FILEREQUIREMENTS, 0, 0, true},
        {"a.ql4", 0, {nullptr, false}, KXERR_FILEREQUIREMENTS, 0, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Name) + " " + std::to_string(c.Size) + (c.Settings.Mode ? std::string(" QL_MODE=") + c.Settings.Mode : "") +
                     (c.Settings.Exotic ? " EXOTIC_FORMATS" : ""));
        const std::vector<uint8_t> bytes = screen(c.Size);
        Loaded l;
        loadQL(bytes, c.Name, c.Settings, l);
        ASSERT_EQ(l.Err, c.Err);
        if (c.Err != KXERR_NONE) {
            EXPECT_EQ(l.Buffer, nullptr);
            continue;
        }
        const KX_GfxBuffer* b = l.Buffer;
        ASSERT_EQ(b->Width, c.W);
        ASSERT_EQ(b->Height, c.H);
        EXPECT_EQ(b->Type, (uint32_t)ONEPLANE);
        EXPECT_EQ(b->PixelBits, 8u);
        EXPECT_EQ(b->ColorDepth, c.Four ? 2u : 3u);
        // The 8-colour mode reports its own sub-format.
        EXPECT_EQ(l.SubFormat, c.Four ? 0u : 1u);
        const uint32_t rowBytes = c.W / 4;
        uint32_t bad = 0;
        for (uint32_t y = 0; y < c.H && bad < 5; ++y)
            for (uint32_t x = 0; x < c.W; ++x)
                if (b->Data[(size_t)y * c.W + x] != expectedIndex(&bytes[(size_t)y * rowBytes], x, c.Four) && ++bad < 5)
                    ADD_FAILURE() << "pixel " << x << "," << y;
    }
}

TEST(Ql, WordsAndPalettes) {
    std::vector<uint8_t> v(32768, 0);
    v[0] = 0x80, v[1] = 0x80;
    Loaded four, eight;
    loadQL(v, "w.ql4", {nullptr, false}, four);
    ASSERT_EQ(four.Err, KXERR_NONE);
    EXPECT_EQ(std::vector<uint8_t>(four.Buffer->Data, four.Buffer->Data + 8), (std::vector<uint8_t>{3, 0, 0, 0, 0, 0, 0, 0}));
    v[0] = 0x80, v[1] = 0x40;
    loadQL(v, "w.ql8", {nullptr, false}, eight);
    ASSERT_EQ(eight.Err, KXERR_NONE);
    EXPECT_EQ(std::vector<uint8_t>(eight.Buffer->Data, eight.Buffer->Data + 8), (std::vector<uint8_t>{5, 5, 0, 0, 0, 0, 0, 0}));
    // Flash bits (odd bits of the green byte) change nothing.
    v[0] = 0x55, v[1] = 0;
    Loaded flash;
    loadQL(v, "f.ql8", {nullptr, false}, flash);
    ASSERT_EQ(flash.Err, KXERR_NONE);
    EXPECT_EQ(std::vector<uint8_t>(flash.Buffer->Data, flash.Buffer->Data + 8), std::vector<uint8_t>(8, 0));

    const uint8_t pal4[] = {0, 0, 0, 255, 0, 0, 0, 255, 0, 255, 255, 255};
    const uint8_t pal8[] = {0, 0, 0, 0, 0, 191, 255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 0, 255, 255, 255};
    EXPECT_EQ(memcmp(four.Buffer->Palette, pal4, sizeof(pal4)), 0);
    EXPECT_EQ(memcmp(eight.Buffer->Palette, pal8, sizeof(pal8)), 0);
}

TEST(Ql, RecognisedBySizeAndName) {
    struct {
        size_t Size;
        const char* Name;
        uint32_t Known;
    } cases[] = {
        {32768, "a.ql4", 1}, {32768, "a.QL8", 1}, {32768, "x.Ql", 1},  {49152, "a.QL4", 1}, {196608, "a.ql", 1},
        {32767, "a.ql4", 0}, {32768, "a.scr", 0}, {32768, "a.ql5", 0}, {32769, "a.ql", 0},  {50000, "a.ql8", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Name) + " " + std::to_string(c.Size));
        EXPECT_EQ(Recognises<kxoQL>(std::vector<uint8_t>(c.Size, 0), c.Name), c.Known);
    }
    kxoQL m;
    char ext[8] = {};
    m.GetExtension(ext);
    EXPECT_STREQ(ext, ".scr");
    EXPECT_EQ(m.Save(), KXERR_NOTSUPPORTED);
}

TEST(Ql, ReaderSurvivesDamagedFiles) {
    const std::string p = TempPath("robust.ql4");
    WriteAll(p, screen(32768));
    KXRobustnessOptions o;
    o.Extension = ".ql4";
    KXT_CheckReaderRobustness("kxoQL", p, o);
    unlink(p.c_str());
}

}  // namespace
