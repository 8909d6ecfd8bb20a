// kxoSCR: no program here knows Spectrum screens, so the screens are byte
// tables built in the test: every accepted size and name (bare, behind a
// header, in a tape image), the line order of the bitmap, ink, paper and
// bright from the attributes, recognition and damaged input.
#include <gtest/gtest.h>

#include "formats/raster/kxoSCR.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"

using namespace kxt;

namespace {

std::vector<uint8_t> screen() {
    std::vector<uint8_t> v(6912);
    for (size_t i = 0; i < v.size(); ++i) v[i] = (uint8_t)(i * 97 + (i >> 8) * 13 + 1);
    return v;
}

// The colour index of pixel (x, y) of a screen.
uint32_t expectedIndex(const uint8_t* s, uint32_t x, uint32_t y) {
    const uint8_t b = s[(y / 64) * 2048 + (y % 8) * 256 + ((y / 8) % 8) * 32 + x / 8];
    const uint8_t a = s[6144 + (y / 8) * 32 + x / 8];
    const uint32_t bright = a & 0x40 ? 8 : 0;
    return (b >> (7 - x % 8) & 1 ? (a & 7) : (a >> 3 & 7)) + bright;
}

TEST(Scr, EveryFormLoadsItsScreen) {
    struct {
        const char* Name;
        size_t Before;  // bytes ahead of the screen
        size_t After;   // bytes behind it
        uint32_t SubFormat;
    } cases[] = {
        {"a.scr", 0, 0, 0}, {"a.zx", 0, 0, 0}, {"a.ZX", 9, 0, 0}, {"a.zx", 12, 0, 0}, {"a.$c", 17, 0, 0}, {"a.tap", 24, 1, 1},
        {"a.bin", 0, 0, 0},  // Load goes by the size alone
    };
    const std::vector<uint8_t> s = screen();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Name) + " +" + std::to_string(c.Before));
        std::vector<uint8_t> file(c.Before, 0xEE);
        PutBytes(file, s);
        file.insert(file.end(), c.After, 0x5A);
        Loaded l;
        LoadBytes<kxoSCR>(file, l, c.Name);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.SubFormat, c.SubFormat);
        const KX_GfxBuffer* b = l.Buffer;
        EXPECT_EQ(b->Type, (uint32_t)BITPLANE);
        EXPECT_EQ(b->Width, 256u);
        EXPECT_EQ(b->Height, 192u);
        EXPECT_EQ(b->ColorDepth, 4u);
        EXPECT_EQ(b->BytesPerLine, 32u);
        EXPECT_EQ(b->BufferSize, 24576u);
        EXPECT_EQ(b->Version, 4u);
        EXPECT_TRUE(b->Flags & KXGFXF_SRCLOWDEPTH);
        EXPECT_TRUE(l.Progress.empty());
        const Rgb got = ToRgb(b);
        uint32_t bad = 0;
        for (uint32_t y = 0; y < 192; ++y)
            for (uint32_t x = 0; x < 256; ++x)
                if (memcmp(&got.Pix[(y * 256 + x) * 3], b->Palette + 3 * expectedIndex(s.data(), x, y), 3) != 0 && ++bad < 5)
                    ADD_FAILURE() << x << "," << y;
    }
}

TEST(Scr, LineOrderAttributesAndPalette) {
    // One set pixel at the start of lines 1, 8 and 64; the attributes of
    // the first cells: bright white ink on black paper, black on white,
    // and flash on top of the second.
    std::vector<uint8_t> s(6912, 0);
    s[256] = 0x80, s[32] = 0x80, s[2048] = 0x80;
    s[6144] = 0x47;
    s[6144 + 32] = 0x38;
    s[6144 + 256] = 0x38 | 0x80;
    Loaded l;
    LoadBytes<kxoSCR>(s, l, "t.scr");
    ASSERT_EQ(l.Err, KXERR_NONE);
    const Rgb got = ToRgb(l.Buffer);
    auto at = [&](uint32_t x, uint32_t y) { return std::vector<uint8_t>(&got.Pix[(y * 256 + x) * 3], &got.Pix[(y * 256 + x) * 3] + 3); };
    const std::vector<uint8_t> white{255, 255, 255}, black{0, 0, 0}, grey{204, 204, 204};
    EXPECT_EQ(at(0, 1), white);   // line 1 at 256, bright ink 7 = index 15
    EXPECT_EQ(at(0, 0), black);   // paper 0, bright: index 8
    EXPECT_EQ(at(0, 8), black);   // line 8 at 32, ink 0
    EXPECT_EQ(at(1, 8), grey);    // paper 7, not bright: index 7
    EXPECT_EQ(at(0, 64), black);  // line 64 at 2048; flash changes nothing
    EXPECT_EQ(at(1, 64), grey);
    const uint8_t want[48] = {0, 0, 0,   0,   0,   204, 204, 0,   0,   204, 0,   204, 0,   204, 0,   0,
                              204, 204, 204, 204, 0, 204, 204, 204, 0, 0,   0,   0,   0,   255, 255, 0,
                              0,   255, 0,   255, 0, 255, 0,   0,   255, 255, 255, 255, 0,   255, 255, 255};
    EXPECT_EQ(memcmp(l.Buffer->Palette, want, 48), 0);
}

TEST(Scr, RecognisedBySizeAndName) {
    struct {
        size_t Size;
        const char* Name;
        uint32_t Known;
    } cases[] = {
        {6912, "a.scr", 1}, {6912, "a.SCR", 1}, {6912, "a.zx", 1},  {6921, "a.zx", 1},  {6924, "a.Zx", 1},
        {6929, "a.$C", 1},  {6937, "a.tap", 1}, {6912, "a.bin", 0}, {6921, "a.scr", 0}, {6937, "a.scr", 0},
        {6929, "a.zx", 0},  {6913, "a.scr", 0},  {6912, "a.tap", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Name) + " " + std::to_string(c.Size));
        EXPECT_EQ(Recognises<kxoSCR>(std::vector<uint8_t>(c.Size, 0), c.Name), c.Known);
    }
    Loaded l;
    LoadBytes<kxoSCR>(std::vector<uint8_t>(6913, 0), l, "a.scr");
    EXPECT_EQ(l.Err, KXERR_FILEREQUIREMENTS);
    EXPECT_EQ(l.Buffer, nullptr);
    kxoSCR m;
    EXPECT_EQ(m.Save(), KXERR_NOTSUPPORTED);
}

TEST(Scr, ReaderSurvivesDamagedFiles) {
    const std::string p = TempPath("robust.scr");
    WriteAll(p, screen());
    KXT_CheckReaderRobustness("kxoSCR", p);
    unlink(p.c_str());
}

}  // namespace
