// kxoNEO: pictures of ppmtoneo (netpbm) load as neotoppm reads them; byte
// tables for the three resolutions, the palette words, the header
// refusals and the short 17104-byte form; recognition and damaged input.
#include <gtest/gtest.h>

#include "formats/raster/kxoNEO.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"

using namespace kxt;

namespace {

inline void PutBe16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    v[at] = (uint8_t)(x >> 8);
    v[at + 1] = (uint8_t)x;
}

std::vector<uint8_t> neo(uint32_t resolution, size_t size = 32128) {
    std::vector<uint8_t> v(size, 0);
    PutBe16(v, 2, resolution);
    for (uint32_t i = 0; i < 16; ++i) PutBe16(v, 4 + 2 * i, (i * 0x123 + 0x0421) & 0x0FFF);
    for (size_t i = 128; i < size; ++i) v[i] = (uint8_t)(i * 29 + (i >> 9) * 7);
    return v;
}

// The index of pixel (x, y) straight from the interleaved words.
uint32_t expectedIndex(const std::vector<uint8_t>& file, uint32_t width, uint32_t planes, uint32_t x, uint32_t y) {
    const size_t group = 128 + (size_t)y * (width / 8 * planes) + (x / 16) * planes * 2;
    uint32_t index = 0;
    for (uint32_t k = 0; k < planes; ++k) {
        const uint32_t word = (uint32_t)file[group + 2 * k] << 8 | file[group + 2 * k + 1];
        index |= (word >> (15 - x % 16) & 1) << k;
    }
    return index;
}

TEST(Neo, ResolutionsLoadTheirPlanes) {
    struct {
        uint32_t Resolution, W, H, Planes;
    } cases[] = {{0, 320, 200, 4}, {1, 640, 200, 2}, {2, 640, 400, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE("resolution " + std::to_string(c.Resolution));
        const std::vector<uint8_t> file = neo(c.Resolution);
        Loaded l;
        LoadBytes<kxoNEO>(file, l, "p.neo");
        ASSERT_EQ(l.Err, KXERR_NONE);
        const KX_GfxBuffer* b = l.Buffer;
        ASSERT_EQ(b->Width, c.W);
        ASSERT_EQ(b->Height, c.H);
        EXPECT_EQ(b->ColorDepth, c.Planes);
        EXPECT_EQ(b->Type, (uint32_t)BITPLANE);
        EXPECT_EQ(b->BufferSize, 32000u);
        EXPECT_EQ(l.SubFormat, 0u);
        EXPECT_EQ(l.Progress.size(), (size_t)(c.H + 7) / 8);
        const Rgb got = ToRgb(b);
        uint32_t bad = 0;
        for (uint32_t y = 0; y < c.H; ++y)
            for (uint32_t x = 0; x < c.W; ++x) {
                const uint8_t* want = b->Palette + 3 * expectedIndex(file, c.W, c.Planes, x, y);
                if (memcmp(&got.Pix[((size_t)y * c.W + x) * 3], want, 3) != 0 && ++bad < 5) ADD_FAILURE() << x << "," << y;
            }
    }
}

TEST(Neo, PaletteWordsAndShortFile) {
    std::vector<uint8_t> v = neo(0);
    PutBe16(v, 4, 0x0777);
    PutBe16(v, 6, 0x0F00);
    PutBe16(v, 8, 0x0700);
    PutBe16(v, 10, 0xF888);  // bits 3, 7 and 11-15 ignored
    Loaded l;
    LoadBytes<kxoNEO>(v, l, "p.neo");
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Palette, l.Buffer->Palette + 12),
              (std::vector<uint8_t>{238, 238, 238, 238, 0, 0, 238, 0, 0, 0, 0, 0}));

    // 17104 bytes: 16976 picture bytes, the rows after them stay 0.
    std::vector<uint8_t> s = neo(2, 17104);
    Loaded m;
    LoadBytes<kxoNEO>(s, m, "short.neo");
    ASSERT_EQ(m.Err, KXERR_NONE);
    EXPECT_EQ(memcmp(m.Buffer->Data, &s[128], 16976), 0);
    for (uint32_t i = 16976; i < 32000; ++i) ASSERT_EQ(m.Buffer->Data[i], 0) << i;
}

TEST(Neo, HeaderRefusals) {
    auto with = [](size_t at, uint32_t word) {
        std::vector<uint8_t> v = neo(0);
        PutBe16(v, at, word);
        return v;
    };
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        uint32_t Err;
    } cases[] = {
        {"flag 1", with(0, 1), KXERR_FILEREQUIREMENTS},
        {"resolution 3", with(2, 3), KXERR_FILEREQUIREMENTS},
        {"width 640", with(58, 640), KXERR_FILEREQUIREMENTS},
        {"height 400", with(60, 400), KXERR_FILEREQUIREMENTS},
        {"width 320 and height 200", [&] { auto v = with(58, 320); PutBe16(v, 60, 200); return v; }(), KXERR_NONE},
        {"header cut", std::vector<uint8_t>(100, 0), KXERR_EOF},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoNEO>(c.File, l, "p.neo");
        EXPECT_EQ(l.Err, c.Err);
        EXPECT_EQ(l.Buffer != nullptr, c.Err == KXERR_NONE);
    }
}

TEST(Neo, RecognisedBySizeAndName) {
    EXPECT_EQ(Recognises<kxoNEO>(neo(0), "a.neo"), 1u);
    EXPECT_EQ(Recognises<kxoNEO>(neo(0), "a.NEO"), 1u);
    EXPECT_EQ(Recognises<kxoNEO>(neo(0, 17104), "a.Neo"), 1u);
    EXPECT_EQ(Recognises<kxoNEO>(neo(0), "a.pi1"), 0u);
    EXPECT_EQ(Recognises<kxoNEO>(neo(0, 32127), "a.neo"), 0u);
    kxoNEO m;
    EXPECT_EQ(m.Save(), KXERR_NOTSUPPORTED);
}

TEST(Neo, PicturesOfPpmtoneoLoadAsNeotoppmReadsThem) {
    KXT_NEED_TOOL("ppmtoneo");
    KXT_NEED_TOOL("neotoppm");
    KXT_NEED_TOOL("convert-im6.q16");
    const std::string src = TempPath("neo_src.ppm"), file = TempPath("np.neo"), back = TempPath("neo_back.ppm");
    ASSERT_TRUE(Shell("convert-im6.q16 -size 320x200 plasma:fractal -colors 16 -depth 8 ppm:" + src));
    ASSERT_TRUE(Shell("ppmtoneo " + src + " > " + file));
    ASSERT_TRUE(Shell("neotoppm " + file + " | pamdepth 255 > " + back));
    Loaded l;
    LoadFile<kxoNEO>(file, l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    Rgb want;
    ASSERT_TRUE(ReadNetpbm(back, want));
    // Our components are v x 34 (238 at full), netpbm's v x 255 / 7.
    Rgb got = ToRgb(l.Buffer);
    for (uint8_t& c : got.Pix) c = (uint8_t)((c / 34 * 255 + 3) / 7);
    EXPECT_EQ(Compare(got, want), "");
    unlink(src.c_str());
    unlink(file.c_str());
    unlink(back.c_str());
}

TEST(Neo, ReaderSurvivesDamagedFiles) {
    const std::string p = TempPath("robust.neo");
    for (uint32_t res : {0u, 2u}) {
        WriteAll(p, neo(res));
        KXT_CheckReaderRobustness("kxoNEO", p);
    }
    unlink(p.c_str());
}

}  // namespace
