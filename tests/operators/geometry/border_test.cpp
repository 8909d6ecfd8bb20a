// AddBorder, AutoBorder and ReplaceBorder: the frame scan, the colours and
// pens, the alpha each keeps, sizes that cannot be made, and AutoBorder
// against ImageMagick's -trim.
#include "kinds_support.h"
#include "operators/geometry/kxpAddBorder.h"
#include "operators/geometry/kxpAutoBorder.h"
#include "operators/geometry/kxpReplaceBorder.h"

using namespace geo;
using V = std::vector<uint8_t>;

namespace {

constexpr uint32_t II = KXGFXF_II, MM = KXGFXF_MM, CARRIED = KXGFXF_GRAY | KXGFXF_SRC8BIT | KXGFXF_SRCLOWDEPTH;

TEST(Borders, InputKindsAlphaAndFlags)
{
    using namespace kinds;
    const uint32_t none = KXALPHA_NONE, key = KXALPHA_SINGLECOLOR, table = KXALPHA_MULTICOLOR, map = KXALPHA_CHANNEL8;
    // AddBorder and ReplaceBorder convert 48-bit input and carry no flags.
    const std::vector<Row> converting = {
        {PAL8, 0, none, 0},     {PAL4, 0, none, 0},      {PLANES4, 0, none, 0},          {HAM6, KXERR_NOHAM, 0, 0},
        {RGB24, 0, none, 0},    {RGB48, 0, none, 0},     {RGB48MM, 0, none, II},         {KEY8, 0, key, 0},
        {TABLE8, 0, table, 0},  {MAP24, 0, map, 0},      {MAP16_48, 0, map, 0},          {TYPE3, KXERR_NOTSUPPORTED, 0, 0},
        {DEPTH12, KXERR_FILEREQUIREMENTS, 0, 0},
    };
    CheckRows<kxpAddBorder>("AddBorder", converting, {{"LEFT_WIDTH", "2"}, {"BOTTOM_WIDTH", "1"}});
    CheckRows<kxpReplaceBorder>("ReplaceBorder", converting);
    // AutoBorder keeps the byte order and carries the flags.
    const std::vector<Row> autoRows = {
        {PAL8, 0, none, 0},    {PLANES4, 0, none, 0},     {HAM6, KXERR_NOHAM, 0, 0},  {RGB48, 0, none, 0},
        {RGB48MM, 0, none, MM | CARRIED}, {KEY8, 0, key, 0}, {TABLE8, 0, table, 0}, {MAP24, 0, map, 0},
        {MAP16_48, 0, map, 0}, {TYPE3, KXERR_NOTSUPPORTED, 0, 0},
    };
    CheckRows<kxpAutoBorder>("AutoBorder", autoRows);
}

// A 24-bit picture of colour 9 with a frame of colour 1: per row the frame's
// left and right widths, plus whole frame rows above and below.
Buffer Framed(uint32_t w, const std::vector<std::pair<uint32_t, uint32_t>>& rows, uint32_t top, uint32_t bottom, uint32_t depth = 24)
{
    const uint32_t h = top + static_cast<uint32_t>(rows.size()) + bottom, bpp = Bpp(depth);
    V px(size_t(w) * h * bpp, 1);
    for (size_t i = 0; i < rows.size(); i++)
        for (uint32_t x = rows[i].first; x < w - rows[i].second; x++)
            for (uint32_t c = 0; c < bpp; c++) px[((top + i) * w + x) * bpp + c] = 9;
    return Make(w, h, depth, px);
}

struct ScanCase {
    const char* name;
    Buffer src;
    uint32_t left, top, w, h;  // of the AutoBorder result
};

TEST(AutoBorder, CutsTheSmallestFrame)
{
    std::vector<ScanCase> cases;
    cases.push_back({"1x1", Make(1, 1, 24, {5, 6, 7}), 0, 0, 1, 1});
    cases.push_back({"uniform", Make(3, 2, 8, V(6, 4)), 0, 0, 3, 2});
    cases.push_back({"no frame", Make(3, 2, 8, {0, 1, 1, 1, 1, 1}), 0, 0, 3, 2});
    cases.push_back({"5 left in most rows, 3 in one", Framed(12, {{5, 1}, {3, 2}, {5, 1}}, 1, 1), 3, 1, 8, 3});
    cases.push_back({"top row only", Framed(4, {{0, 0}, {0, 0}}, 1, 0), 0, 1, 4, 2});
    cases.push_back({"48 bit", Framed(6, {{2, 1}}, 2, 3, 48), 2, 2, 3, 1});
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        kxpAutoBorder op(Lib());
        KX_GfxBuffer* res = nullptr;
        ASSERT_EQ(RunOp(op, c.src.get(), &res), 0u);
        ASSERT_EQ(res->Width, c.w);
        ASSERT_EQ(res->Height, c.h);
        const uint32_t bpp = Bpp(c.src->ColorDepth);
        EXPECT_EQ(res->BufferSize, c.w * c.h * bpp);
        for (uint32_t y = 0; y < c.h; y++)
            EXPECT_EQ(memcmp(res->Data + size_t(y) * c.w * bpp, c.src->Data + (size_t(c.top + y) * c.src->Width + c.left) * bpp, size_t(c.w) * bpp), 0)
                << "row " << y;
    }

    // Frame-coloured pixels inside the picture stay; the alpha map is cut with it.
    Buffer inner = Framed(7, {{2, 2}, {2, 2}, {2, 2}}, 1, 1);
    memset(inner->Data + (2 * 7 + 3) * 3, 1, 3);
    AddAlpha8(inner.get(), 10);
    kxpAutoBorder op(Lib());
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(op, inner.get(), &res), 0u);
    ASSERT_EQ(res->Width, 3u);
    EXPECT_EQ(res->Data[(1 * 3 + 1) * 3], 1);
    ASSERT_EQ(KXSUP_AlphaHolds(res), uint32_t(KXALPHA_CHANNEL8));
    EXPECT_EQ(KXSUP_AlphaBytes(res)[0], 10 + 1 * 7 + 2);
    EXPECT_EQ(KXSUP_AlphaBytes(res)[8], 10 + 3 * 7 + 4);
}

TEST(AutoBorder, AgreesWithImageMagickTrim)
{
    if (!KXT_HaveTool("convert-im6.q16")) GTEST_SKIP() << "ImageMagick is not installed";
    struct Case {
        uint32_t w, h, depth, left, right, top, bottom;
    } cases[] = {{40, 30, 24, 3, 5, 2, 7}, {33, 17, 24, 0, 4, 6, 0}, {25, 25, 48, 7, 1, 1, 9}};
    for (const auto& c : cases) {
        // Noise inside a uniform frame; the noise's first and last columns
        // and rows differ from the frame colour everywhere.
        const uint32_t bpp = Bpp(c.depth);
        V px(size_t(c.w) * c.h * bpp, 0);
        V noise = Noise(px.size(), c.w * 7 + c.h);
        for (uint32_t y = c.top; y < c.h - c.bottom; y++)
            for (uint32_t x = c.left; x < c.w - c.right; x++)
                for (uint32_t k = 0; k < bpp; k++) {
                    const size_t i = (size_t(y) * c.w + x) * bpp + k;
                    px[i] = noise[i] | 1;
                }
        Buffer src = Make(c.w, c.h, c.depth, px);
        kxpAutoBorder op(Lib());
        KX_GfxBuffer* res = nullptr;
        ASSERT_EQ(RunOp(op, src.get(), &res), 0u);
        const std::string in = TempPath("trim_in.ppm"), out = TempPath("trim_out.ppm");
        ASSERT_TRUE(WritePNM(in, src.get()));
        ASSERT_EQ(system(("convert-im6.q16 " + in + " -trim +repage " + out).c_str()), 0);
        Pnm p;
        ASSERT_TRUE(ReadPNM(out, p));
        EXPECT_EQ(p.w, res->Width);
        EXPECT_EQ(p.h, res->Height);
        EXPECT_EQ(p.samples, Samples(res)) << c.w << "x" << c.h;
        remove(in.c_str());
        remove(out.c_str());
    }
}

TEST(ReplaceBorder, PaintsTheFrameOrItsPaletteEntry)
{
    // 24 bit, a frame of 2 on every side of a 6 x 6 picture.
    Buffer rgb = Framed(6, {{2, 2}, {2, 2}}, 2, 2);
    rgb->Data[(2 * 6 + 2) * 3] = 1;  // frame colour inside: stays
    kxpReplaceBorder op(Lib());
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(op, rgb.get(), &res, {{"backcolor", "0x00ff80"}}), 0u);
    for (uint32_t y = 0; y < 6; y++)
        for (uint32_t x = 0; x < 6; x++) {
            const uint8_t* p = res->Data + (y * 6 + x) * 3;
            const bool frame = x < 2 || x >= 4 || y < 2 || y >= 4;
            EXPECT_EQ(V(p, p + 3), frame ? V({0, 255, 128}) : V(rgb->Data + (y * 6 + x) * 3, rgb->Data + (y * 6 + x) * 3 + 3)) << x << "," << y;
        }

    // 48 bit: the bytes times 257.
    Buffer wide = Framed(3, {{1, 1}}, 1, 1, 48);
    ASSERT_EQ(RunOp(op, wide.get(), &res, {{"BACKCOLOR", "0x12ab00"}}), 0u);
    const auto* s = reinterpret_cast<const uint16_t*>(res->Data);
    EXPECT_EQ(std::vector<uint16_t>(s, s + 3), (std::vector<uint16_t>{0x1212, 0xabab, 0}));
    EXPECT_EQ(s[4 * 3], reinterpret_cast<const uint16_t*>(wide->Data)[4 * 3]) << "centre kept";

    struct PaletteCase {
        const char* name;
        uint32_t depth;
        V pixels;  // 3 x 3
        std::vector<std::pair<const char*, const char*>> keys;
        uint32_t resultDepth;
        V expected;
        uint32_t entry;  // the palette entry that takes the colour
        V colour;
    } cases[] = {
        {"8 bit frame", 8, {4, 4, 4, 4, 9, 4, 4, 4, 4}, {{"BACKCOLOR", "0x010203"}}, 8, {4, 4, 4, 4, 9, 4, 4, 4, 4}, 4, {1, 2, 3}},
        {"8 bit without frame", 8, {3, 4, 4, 4, 9, 4, 4, 4, 4}, {{"BACKPEN", "300"}}, 8, {3, 4, 4, 4, 9, 4, 4, 4, 4}, 3, {0, 0, 44}},
        {"4 bit frame", 4, {4, 4, 4, 4, 9, 4, 4, 4, 4}, {{"BACKCOLOR", "0xff0000"}}, 5, {16, 16, 16, 16, 9, 16, 16, 16, 16}, 16, {255, 0, 0}},
        {"4 bit without frame", 4, {3, 4, 4, 4, 9, 4, 4, 4, 4}, {}, 5, {3, 4, 4, 4, 9, 4, 4, 4, 4}, 16, {0, 0, 0}},
        {"1 bit frame", 1, {1, 1, 1, 1, 0, 1, 1, 1, 1}, {{"backpen", "7"}}, 2, {2, 2, 2, 2, 0, 2, 2, 2, 2}, 2, {0, 0, 7}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Buffer pal = Make(3, 3, c.depth, c.pixels);
        memset(pal->Palette, 0x77, sizeof pal->Palette);
        kxpReplaceBorder rep(Lib());
        ASSERT_EQ(RunOp(rep, pal.get(), &res, c.keys), 0u);
        EXPECT_EQ(res->ColorDepth, c.resultDepth);
        EXPECT_EQ(Bytes(res), c.expected);
        EXPECT_EQ(V(res->Palette + 3 * c.entry, res->Palette + 3 * c.entry + 3), c.colour);
        if (c.resultDepth > c.depth) {
            const uint32_t half = 1u << c.depth;
            EXPECT_EQ(V(res->Palette, res->Palette + 3 * half), V(3 * half, 0x77)) << "the old entries stay";
            EXPECT_EQ(V(res->Palette + 3 * half + 3, res->Palette + 6 * half), V(3 * half - 3, 0)) << "the new half is black";
        }
    }

    // A uniform picture is an unchanged copy: depth and palette included.
    Buffer flat = Make(4, 3, 4, V(12, 5));
    ASSERT_EQ(RunOp(op, flat.get(), &res, {{"BACKCOLOR", "0xffffff"}}), 0u);
    EXPECT_EQ(res->ColorDepth, 4u);
    EXPECT_EQ(Bytes(res), Bytes(flat.get()));
    EXPECT_EQ(memcmp(res->Palette, flat->Palette, sizeof flat->Palette), 0);
}

TEST(AddBorder, ColoursPensWidthsAndAlpha)
{
    struct ColourCase {
        const char* key;
        const char* value;
        V frame;
    } colours[] = {
        {"BACKCOLOR", "0xff0000", {255, 0, 0}}, {"backcolor", "0x00ff00", {0, 255, 0}},
        {"BACKCOLOR", "ff0000", {0, 0, 0}},     {"BACKCOLOR", "0Xff0000", {0, 0, 0}},
    };
    Buffer rgb = Make(2, 1, 24, {1, 2, 3, 4, 5, 6});
    for (const auto& c : colours) {
        SCOPED_TRACE(c.value);
        kxpAddBorder op(Lib());
        KX_GfxBuffer* res = nullptr;
        ASSERT_EQ(RunOp(op, rgb.get(), &res, {{"LEFT_WIDTH", "1"}, {"RIGHT_WIDTH", "2"}, {"TOP_WIDTH", "1"}, {c.key, c.value}}), 0u);
        ASSERT_EQ(res->Width, 5u);
        ASSERT_EQ(res->Height, 2u);
        EXPECT_EQ(res->BufferSize, 5u * 2 * 3) << "the result's own size";
        const V row1(res->Data + 15, res->Data + 30);
        V want = c.frame;
        want.insert(want.end(), rgb->Data, rgb->Data + 6);
        want.insert(want.end(), c.frame.begin(), c.frame.end());
        want.insert(want.end(), c.frame.begin(), c.frame.end());
        EXPECT_EQ(row1, want);
        for (uint32_t x = 0; x < 5; x++) EXPECT_EQ(V(res->Data + 3 * x, res->Data + 3 * x + 3), c.frame) << "top row " << x;
    }

    // Widths are matched with case; palette pens keep to the depth.
    struct PenCase {
        uint32_t depth;
        const char* pen;
        uint8_t index;
    } pens[] = {{8, "300", 44}, {8, "-1", 255}, {4, "300", 12}, {1, "3", 1}};
    for (const auto& p : pens) {
        Buffer pal = Make(1, 1, p.depth, {1});
        kxpAddBorder op(Lib());
        KX_GfxBuffer* res = nullptr;
        ASSERT_EQ(RunOp(op, pal.get(), &res, {{"TOP_WIDTH", "1"}, {"left_width", "5"}, {"BACKPEN", p.pen}}), 0u);
        ASSERT_EQ(res->Width, 1u) << "left_width is not LEFT_WIDTH";
        EXPECT_EQ(Bytes(res), (V{p.index, 1})) << p.depth << " bits, pen " << p.pen;
    }

    // 48 bit: bytes times 257; an 8-bit map grows with a transparent frame.
    Buffer wide = Make(1, 1, 48, {1, 2, 3, 4, 5, 6});
    AddAlpha8(wide.get(), 200);
    kxpAddBorder op(Lib());
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(op, wide.get(), &res, {{"RIGHT_WIDTH", "1"}, {"BOTTOM_WIDTH", "1"}, {"BACKCOLOR", "0x123456"}}), 0u);
    const auto* s = reinterpret_cast<const uint16_t*>(res->Data);
    EXPECT_EQ(std::vector<uint16_t>(s, s + 12), (std::vector<uint16_t>{0x0201, 0x0403, 0x0605, 0x1212, 0x3434, 0x5656, 0x1212, 0x3434, 0x5656, 0x1212, 0x3434, 0x5656}));
    ASSERT_EQ(KXSUP_AlphaHolds(res), uint32_t(KXALPHA_CHANNEL8));
    EXPECT_EQ(V(KXSUP_AlphaBytes(res), KXSUP_AlphaBytes(res) + 4), (V{200, 0, 0, 0}));
    kxpAddBorder halfOpaque(Lib());
    ASSERT_EQ(RunOp(halfOpaque, wide.get(), &res, {{"TOP_WIDTH", "1"}, {"BACKPEN", "128"}}), 0u);
    EXPECT_EQ(V(KXSUP_AlphaBytes(res), KXSUP_AlphaBytes(res) + 2), (V{128, 200}));

    // No widths: an equal copy.
    Buffer any = Make(5, 4, 24);
    kxpAddBorder copy(Lib());
    ASSERT_EQ(RunOp(copy, any.get(), &res), 0u);
    EXPECT_EQ(Bytes(res), Bytes(any.get()));
}

TEST(AddBorder, SizesThatCannotBeMadeGiveNoMemory)
{
    Buffer src = Make(4, 4, 24);
    const std::vector<std::pair<const char*, const char*>> cases[] = {
        {{"LEFT_WIDTH", "-1"}},                                   // 4294967295 pixels
        {{"LEFT_WIDTH", "2147483647"}, {"RIGHT_WIDTH", "2147483647"}},
        {{"TOP_WIDTH", "100000"}, {"LEFT_WIDTH", "100000"}},      // beyond the 32-bit buffer size
    };
    for (const auto& keys : cases) {
        kxpAddBorder op(Lib());
        KX_GfxBuffer* res = nullptr;
        EXPECT_EQ(RunOp(op, src.get(), &res, keys), KXERR_NOMEMORY) << keys[0].second;
        EXPECT_EQ(res, nullptr);
    }
}

}  // namespace
