// kxoDDS: files of ImageMagick and nvcompress load like their makers decode
// them (block formats cut to the file's size); hand-built blocks and
// pixels for every layout's values; refusals; the writer's header and
// bytes, read back by us, ImageMagick and nvdecompress; the safe save and
// damaged input.
#include <gtest/gtest.h>

#include "formats/raster/kxoDDS.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"
#include "write_failure.h"

using namespace kxt;

namespace {

struct Pf {
    uint32_t Flags = 0x40, FourCC = 0, Bits = 32, R = 0xFF0000, G = 0xFF00, B = 0xFF, A = 0;
};

std::vector<uint8_t> dds(uint32_t w, uint32_t h, const Pf& pf, const std::vector<uint8_t>& data, uint32_t flags = 0x1007,
                         uint32_t linear = 0) {
    std::vector<uint8_t> v = {'D', 'D', 'S', ' '};
    Put32(v, 124);
    Put32(v, flags);
    Put32(v, h);
    Put32(v, w);
    Put32(v, linear);
    for (int i = 0; i < 13; ++i) Put32(v, 0);
    Put32(v, 32);
    Put32(v, pf.Flags);
    Put32(v, pf.FourCC);
    Put32(v, pf.Bits);
    Put32(v, pf.R);
    Put32(v, pf.G);
    Put32(v, pf.B);
    Put32(v, pf.A);
    for (int i = 0; i < 5; ++i) Put32(v, 0);
    PutBytes(v, data);
    return v;
}

uint32_t fourcc(const char* s) { return (uint32_t)s[0] | (uint32_t)s[1] << 8 | (uint32_t)s[2] << 16 | (uint32_t)s[3] << 24; }

Pf block(const char* code) {
    Pf pf;
    pf.Flags = 0x4;
    pf.FourCC = fourcc(code);
    pf.Bits = 0;
    return pf;
}

// A colour block: c0, c1, then the 16 two-bit indices.
std::vector<uint8_t> colourBlock(uint32_t c0, uint32_t c1, const std::vector<uint32_t>& idx) {
    std::vector<uint8_t> v;
    Put16(v, c0);
    Put16(v, c1);
    uint32_t bits = 0;
    for (size_t k = 0; k < idx.size(); ++k) bits |= idx[k] << (2 * k);
    Put32(v, bits);
    return v;
}

// An alpha channel that is opaque everywhere counts as none: ImageMagick
// gives every DDS one, and block files always carry one here.
Rgb opaqueAsNone(Rgb r) {
    bool opaque = true;
    for (uint8_t a : r.Alpha) opaque = opaque && a == 255;
    if (opaque) r.Alpha.clear();
    return r;
}

const uint8_t* px(const KX_GfxBuffer* b, uint32_t i) { return b->Data + 3 * i; }
uint8_t alphaAt(const KX_GfxBuffer* b, uint32_t i) { return KXSUP_AlphaBytes(b)[i]; }

TEST(Dds, FilesOfImageMagickAndNvcompressLoadLikeTheirMakersDecode) {
    struct {
        const char* Name;
        int Tolerance;
    } cases[] = {{"im_rgb", 0},  {"im_rgba", 0}, {"im_dxt1", 1}, {"im_dxt5", 1},
                 {"nv_bc1", 1},  {"nv_bc2", 1},  {"nv_bc3", 1}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadFile<kxoDDS>(Fixture(std::string("dds/") + c.Name + ".dds"), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.SubFormat, 0u);
        EXPECT_EQ(l.Buffer->ColorDepth, 24u);
        Rgb want;
        ASSERT_TRUE(ReadNetpbm(Fixture(std::string("dds/") + c.Name + ".pam"), want));
        EXPECT_EQ(Compare(opaqueAsNone(ToRgb(l.Buffer)), opaqueAsNone(want), c.Tolerance), "");
    }
}

TEST(Dds, BlockValues) {
    {
        // DXT1, three colours (c0 <= c1): index 2 the middle, 3 transparent black.
        Loaded l;
        LoadBytes<kxoDDS>(dds(4, 4, block("DXT1"), colourBlock(0x0000, 0xF800, {2, 3, 0, 1})), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(px(l.Buffer, 0)[0], 127);
        EXPECT_EQ(alphaAt(l.Buffer, 0), 255);
        EXPECT_EQ(px(l.Buffer, 1)[0], 0);
        EXPECT_EQ(alphaAt(l.Buffer, 1), 0);
        EXPECT_EQ(px(l.Buffer, 3)[0], 255);
    }
    {
        // DXT1, four colours: red 16 and 0 give 11 and 6 between; all opaque.
        Loaded l;
        LoadBytes<kxoDDS>(dds(4, 4, block("DXT1"), colourBlock(0x1000, 0x0000, {2, 3})), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(px(l.Buffer, 0)[0], 11);
        EXPECT_EQ(px(l.Buffer, 1)[0], 6);
        for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(alphaAt(l.Buffer, i), 255);
    }
    {
        // DXT3: explicit nibbles, 0xF -> 255 and 0x8 -> 136.
        std::vector<uint8_t> b = {0x8F, 0, 0, 0, 0, 0, 0, 0};
        PutBytes(b, colourBlock(0xFFFF, 0, {}));
        Loaded l;
        LoadBytes<kxoDDS>(dds(4, 4, block("DXT3"), b), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(alphaAt(l.Buffer, 0), 255);
        EXPECT_EQ(alphaAt(l.Buffer, 1), 136);
        EXPECT_EQ(alphaAt(l.Buffer, 2), 0);
    }
    {
        // DXT5: a0 > a1 gives eight values, a0 <= a1 six with 0 and 255.
        auto dxt5 = [](uint8_t a0, uint8_t a1, const std::vector<uint32_t>& idx) {
            std::vector<uint8_t> b = {a0, a1};
            uint64_t bits = 0;
            for (size_t k = 0; k < idx.size(); ++k) bits |= (uint64_t)idx[k] << (3 * k);
            for (int i = 0; i < 6; ++i) b.push_back((uint8_t)(bits >> (8 * i)));
            PutBytes(b, colourBlock(0xFFFF, 0, {}));
            return b;
        };
        Loaded l;
        LoadBytes<kxoDDS>(dds(4, 4, block("DXT5"), dxt5(255, 0, {2, 1})), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(alphaAt(l.Buffer, 0), 219);
        EXPECT_EQ(alphaAt(l.Buffer, 1), 0);
        Loaded m;
        LoadBytes<kxoDDS>(dds(4, 4, block("DXT5"), dxt5(0, 255, {2, 3, 4, 5, 6, 7})), m);
        ASSERT_EQ(m.Err, KXERR_NONE);
        const uint8_t want[] = {51, 102, 153, 204, 0, 255};
        for (int i = 0; i < 6; ++i) EXPECT_EQ(alphaAt(m.Buffer, i), want[i]) << i;
    }
}

TEST(Dds, PremultipliedBlocksAreDividedOut) {
    // One colour, premultiplied: divided by each pixel's alpha, capped at
    // 255; alpha 0 leaves black rather than dividing by zero.
    const uint32_t c = 0x630C;  // 5-6-5: r 12 -> 99, g 24 -> 97, b 12 -> 99
    uint8_t rgb[3] = {99, 97, 99};
    for (const char* code : {"DXT2", "DXT4"}) {
        SCOPED_TRACE(code);
        std::vector<uint8_t> b;
        std::vector<uint8_t> alpha;
        if (std::string(code) == "DXT2") {
            b = {0xCF, 0x06, 0, 0, 0, 0, 0, 0};  // nibbles 15, 12, 6, 0
            alpha = {255, 204, 102, 0};
        } else {
            // a0 204 > a1 102: indices 0, 1, 2 give 204, 102, (6 x 204 + 102 + 3) / 7
            b = {204, 102, 0 | 1 << 3 | 2 << 6, 0, 0, 0, 0, 0};
            alpha = {204, 102, 189};
        }
        PutBytes(b, colourBlock(c, c, {}));
        Loaded l;
        LoadBytes<kxoDDS>(dds(4, 4, block(code), b), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        for (size_t i = 0; i < alpha.size(); ++i) {
            EXPECT_EQ(alphaAt(l.Buffer, i), alpha[i]) << i;
            for (int ch = 0; ch < 3; ++ch) {
                const uint32_t a = alpha[i], v = a ? rgb[ch] * 255u / a : 0;
                EXPECT_EQ(px(l.Buffer, i)[ch], v > 255 ? 255 : v) << i;
            }
        }
        EXPECT_EQ(l.Progress.back(), 100u);
    }
}

TEST(Dds, BlockPicturesKeepTheirOwnSize) {
    // 5 x 5: four blocks, cut to the file's size.
    std::vector<uint8_t> blocks;
    for (int i = 0; i < 4; ++i) PutBytes(blocks, colourBlock(0xF800, 0x001F, {0, 1, 0, 1, 1, 0, 1, 0}));
    Loaded l;
    LoadBytes<kxoDDS>(dds(5, 5, block("DXT1"), blocks), l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.Buffer->Width, 5u);
    EXPECT_EQ(l.Buffer->Height, 5u);
    EXPECT_EQ(px(l.Buffer, 4)[0], 255);  // pixel 0 of the second block
    EXPECT_EQ(px(l.Buffer, 5 + 4)[2], 255);
}

TEST(Dds, UncompressedLayouts) {
    auto words = [](std::initializer_list<uint32_t> ws) {
        std::vector<uint8_t> v;
        for (uint32_t w : ws) Put16(v, w);
        return v;
    };
    Pf p565{0x40, 0, 16, 0xF800, 0x07E0, 0x001F, 0};
    Pf p1555{0x41, 0, 16, 0x7C00, 0x03E0, 0x001F, 0x8000};
    Pf p4444{0x41, 0, 16, 0x0F00, 0x00F0, 0x000F, 0xF000};
    Pf p24{0x40, 0, 24, 0xFF0000, 0xFF00, 0xFF, 0};
    Pf pArgb{0x41, 0, 32, 0xFF00, 0xFF0000, 0xFF000000, 0xFF};
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        std::vector<uint8_t> Rgb;    // first pixels
        std::vector<uint8_t> Alpha;  // empty: no alpha map
    } cases[] = {
        {"5-6-5", dds(2, 1, p565, words({0xF800, 0xFFFF})), {255, 0, 0, 255, 255, 255}, {}},
        // Odd widths carry two filler bytes a row.
        {"5-6-5 odd", dds(1, 2, p565, words({0x001F, 0, 0x07E0, 0})), {0, 0, 255, 0, 255, 0}, {}},
        {"1-5-5-5", dds(2, 1, p1555, words({0x8000, 0x7FFF})), {0, 0, 0, 255, 255, 255}, {255, 0}},
        {"4-4-4-4", dds(2, 1, p4444, words({0xF00F, 0x0F00})), {0, 0, 255, 255, 0, 0}, {255, 0}},
        // 24 bits: rows padded to 4 bytes, 3 wide 12 bytes, 4 wide 12.
        {"24-bit 3 wide", dds(3, 2, p24, {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 10, 11, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0}), {3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}, {}},
        {"24-bit 4 wide", dds(4, 1, p24, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}), {3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}, {}},
        // A pitch in the header is the row length.
        {"24-bit with pitch", dds(3, 2, p24, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0, 0, 0, 0, 0, 0}, 0x100F, 9), {3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}, {}},
        {"32-bit blue first", dds(1, 1, Pf{0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000}, {1, 2, 3, 4}), {3, 2, 1}, {4}},
        {"32-bit alpha first", dds(1, 1, pArgb, {9, 1, 2, 3}), {1, 2, 3}, {9}},
        {"32-bit alpha first, no alpha", dds(1, 1, Pf{0x40, 0, 32, 0xFF00, 0xFF0000, 0xFF000000, 0}, {9, 1, 2, 3}), {1, 2, 3}, {}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoDDS>(c.File, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + c.Rgb.size()), c.Rgb);
        if (c.Alpha.empty()) {
            EXPECT_EQ(KXSUP_AlphaHolds(l.Buffer), (uint32_t)KXALPHA_NONE);
        } else {
            ASSERT_EQ(KXSUP_AlphaHolds(l.Buffer), (uint32_t)KXALPHA_CHANNEL8);
            EXPECT_EQ(std::vector<uint8_t>(KXSUP_AlphaBytes(l.Buffer), KXSUP_AlphaBytes(l.Buffer) + c.Alpha.size()), c.Alpha);
        }
    }
}

TEST(Dds, Refusals) {
    Pf p555{0x40, 0, 16, 0x7C00, 0x03E0, 0x001F, 0};
    Pf p8{0x40, 0, 8, 0xE0, 0x1C, 0x03, 0};
    Pf lum{0x20000, 0, 8, 0xFF, 0, 0, 0};
    std::vector<uint8_t> big = dds(4, 4, block("DXT1"), {});
    big[4] = 128;
    std::vector<uint8_t> cut = dds(4, 4, block("DXT1"), {});
    cut.resize(100);
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        uint32_t Err;
    } cases[] = {
        {"5-5-5 without alpha", dds(2, 2, p555, std::vector<uint8_t>(8)), KXERR_FILEREQUIREMENTS},
        {"8-bit RGB", dds(2, 2, p8, std::vector<uint8_t>(4)), KXERR_FILEREQUIREMENTS},
        {"no pixel format flag", dds(4, 4, block("DXT1"), std::vector<uint8_t>(8), 0x7), KXERR_FILEREQUIREMENTS},
        {"header size 128", big, KXERR_FILEREQUIREMENTS},
        {"zero width", dds(0, 4, block("DXT1"), std::vector<uint8_t>(8)), KXERR_FILEREQUIREMENTS},
        {"unknown code", dds(4, 4, block("ATI2"), std::vector<uint8_t>(16)), KXERR_DECODE},
        {"luminance", dds(4, 4, lum, std::vector<uint8_t>(16)), KXERR_DECODE},
        {"blocks cut", dds(8, 8, block("DXT5"), std::vector<uint8_t>(40)), KXERR_EOF},
        {"rows cut", dds(2, 2, Pf{}, std::vector<uint8_t>(12)), KXERR_EOF},
        {"header cut", cut, KXERR_EOF},
        {"beyond 32 bits", dds(100000, 100000, Pf{}, {}), KXERR_FILEREQUIREMENTS},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoDDS>(c.File, l);
        EXPECT_EQ(l.Err, c.Err);
        EXPECT_EQ(l.Buffer, nullptr);
    }
    EXPECT_EQ(Recognises<kxoDDS>(dds(4, 4, block("DXT1"), {})), 1u);
    EXPECT_EQ(Recognises<kxoDDS>(big), 0u);
}

TEST(Dds, WriterHeaderAndBytes) {
    const std::string p = TempPath("w.dds");
    KX_GfxBuffer* img = MakeImage(3, 2, 24);
    Saved s = SaveTo<kxoDDS>(img, p);
    ASSERT_EQ(s.Err, KXERR_NONE);
    ASSERT_EQ(s.File.size(), 128u + 24);
    auto at32 = [&](size_t o) { return (uint32_t)s.File[o] | s.File[o + 1] << 8 | s.File[o + 2] << 16 | (uint32_t)s.File[o + 3] << 24; };
    EXPECT_EQ(at32(8), 0x100Fu);
    EXPECT_EQ(at32(20), 12u);
    EXPECT_EQ(at32(80), 0x40u);
    EXPECT_EQ(at32(104), 0u);
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(s.File[128 + 4 * i], img->Data[3 * i + 2]);
        EXPECT_EQ(s.File[128 + 4 * i + 3], 0);
    }
    KX_GfxBuffer* withAlpha = MakeImage(3, 2, 24, true);
    s = SaveTo<kxoDDS>(withAlpha, p);
    ASSERT_EQ(s.Err, KXERR_NONE);
    EXPECT_EQ(at32(80), 0x41u);
    EXPECT_EQ(at32(104), 0xFF000000u);
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(s.File[128 + 4 * i + 3], KXSUP_AlphaBytes(withAlpha)[i]);
    KXSUP_FreeGfxBuffer(img);
    KXSUP_FreeGfxBuffer(withAlpha);

    // Only 24-bit pictures are saved; the old file stays.
    for (uint32_t depth : {8u, 48u}) {
        KX_GfxBuffer* other = MakeImage(3, 2, depth);
        EXPECT_EQ(SaveOverOld<kxoDDS>(other, p), KXERR_NEED24BIT);
        KXSUP_FreeGfxBuffer(other);
    }
    unlink(p.c_str());
    KX_GfxBuffer* large = MakeImage(300, 300, 24);
    kxoDDS w;
    EXPECT_EQ(SaveUnderFileSizeLimit(&w, large, "full.dds"), KXERR_IO);
    KXSUP_FreeGfxBuffer(large);
}

TEST(Dds, OurFilesReadBackHereInImageMagickAndNvdecompress) {
    const std::string p = TempPath("rt.dds"), q = TempPath("rt.pam");
    const std::string tga = p.substr(0, p.size() - 4) + ".tga";
    for (bool alpha : {false, true}) {
        for (uint32_t w : {1u, 2u, 3u, 5u, 8u, 13u, 17u}) {
            SCOPED_TRACE(std::string(alpha ? "alpha " : "") + "width " + std::to_string(w));
            KX_GfxBuffer* img = MakeImage(w, 3, 24, alpha);
            const Rgb want = ToRgb(img);
            ASSERT_EQ(SaveTo<kxoDDS>(img, p).Err, KXERR_NONE);
            Loaded l;
            LoadFile<kxoDDS>(p, l);
            ASSERT_EQ(l.Err, KXERR_NONE);
            EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "") << "ours";
            Rgb got;
            if (KXT_HaveTool("convert-im6.q16")) {
                ASSERT_TRUE(Shell("convert-im6.q16 " + p + " -depth 8 pam:" + q));
                ASSERT_TRUE(ReadNetpbm(q, got));
                EXPECT_EQ(Compare(opaqueAsNone(got), want), "") << "ImageMagick";
            }
            if (KXT_HaveTool("nvdecompress") && alpha) {
                ASSERT_TRUE(Shell("nvdecompress " + p + " > /dev/null"));
                ASSERT_TRUE(Shell("convert-im6.q16 " + tga + " -depth 8 pam:" + q));
                ASSERT_TRUE(ReadNetpbm(q, got));
                EXPECT_EQ(Compare(opaqueAsNone(got), want), "") << "nvdecompress";
                unlink(tga.c_str());
            }
            KXSUP_FreeGfxBuffer(img);
        }
    }
    unlink(p.c_str());
    unlink(q.c_str());
}

TEST(Dds, ReadersSurviveDamagedFiles) {
    for (const char* f : {"im_rgb", "im_rgba", "im_dxt1", "nv_bc2", "nv_bc3"})
        KXT_CheckReaderRobustness("kxoDDS", Fixture(std::string("dds/") + f + ".dds"));
}

}  // namespace
