// Rotate, RotateFree, Mirror, MirrorCopy and the flips: the pixel
// mappings, the sizes of free turns, and the comparison with netpbm and
// libvips for right angles and flips.
#include <algorithm>

#include "geo_support.h"
#include "operators/geometry/kxpLeftToRight.h"
#include "operators/geometry/kxpMirror.h"
#include "operators/geometry/kxpMirrorCopy.h"
#include "operators/geometry/kxpRotate.h"
#include "operators/geometry/kxpRotateFree.h"
#include "operators/geometry/kxpTopToBottom.h"

using namespace geo;

namespace {

template <class Op>
std::vector<uint8_t> Apply(Buffer& src, std::vector<std::pair<const char*, const char*>> keys, uint32_t* w = nullptr, uint32_t* h = nullptr)
{
    Op op(Lib());
    KX_GfxBuffer* res = nullptr;
    EXPECT_EQ(RunOp(op, src.get(), &res, keys), 0u);
    if (!res) return {};
    if (w) *w = res->Width;
    if (h) *h = res->Height;
    return Bytes(res);
}

using V = std::vector<uint8_t>;

TEST(Rotate, QuarterTurnsAndHalfTurn)
{
    // a b c / d e f
    Buffer src = Make(3, 2, 8, {'a', 'b', 'c', 'd', 'e', 'f'});
    uint32_t w = 0, h = 0;
    EXPECT_EQ(Apply<kxpRotate>(src, {{"DEGREES", "90"}}, &w, &h), (V{'c', 'f', 'b', 'e', 'a', 'd'}));
    EXPECT_EQ(w, 2u);
    EXPECT_EQ(h, 3u);
    EXPECT_EQ(Apply<kxpRotate>(src, {{"DEGREES", "270"}}), (V{'d', 'a', 'e', 'b', 'f', 'c'}));
    EXPECT_EQ(Apply<kxpRotate>(src, {{"DEGREES", "180"}}), (V{'f', 'e', 'd', 'c', 'b', 'a'}));
    EXPECT_EQ(Apply<kxpRotate>(src, {{"DEGREES", "45"}}), (V{'c', 'f', 'b', 'e', 'a', 'd'})) << "unknown texts turn by 90";
    EXPECT_EQ(Apply<kxpRotate>(src, {}), (V{'c', 'f', 'b', 'e', 'a', 'd'}));
}

TEST(Rotate, LargeQuarterTurnMatchesThePixelRule)
{
    // Crosses the band edges: width not a multiple of the band.
    const uint32_t W = 19, H = 13;
    Buffer src = Make(W, H, 24, Noise(W * H * 3, 9));
    AddAlpha8(src.get());
    kxpRotate op(Lib());
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(op, src.get(), &res, {{"DEGREES", "90"}}), 0u);
    ASSERT_EQ(res->AlphaType, static_cast<uint32_t>(KXALPHA_CHANNEL8));
    for (uint32_t y = 0; y < W; y++)
        for (uint32_t x = 0; x < H; x++) {
            const uint32_t s = (x * W + (W - 1 - y));
            ASSERT_EQ(memcmp(res->Data + (y * H + x) * 3, src->Data + s * 3, 3), 0) << x << "," << y;
            ASSERT_EQ(KXSUP_AlphaBytes(res)[y * H + x], KXSUP_AlphaBytes(src.get())[s]);
        }
}

TEST(Mirror, ModesAndFlips)
{
    Buffer row = Make(3, 1, 8, {1, 2, 3});
    EXPECT_EQ(Apply<kxpMirror>(row, {{"MIRRORMODE", "Y_AXIS"}}), (V{3, 2, 1}));
    Buffer sq = Make(2, 2, 8, {1, 2, 3, 4});
    EXPECT_EQ(Apply<kxpMirror>(sq, {{"MIRRORMODE", "ZEROPOINT"}}), (V{4, 3, 2, 1}));
    EXPECT_EQ(Apply<kxpMirror>(sq, {{"MIRRORMODE", "x_axis"}}), (V{3, 4, 1, 2}));
    EXPECT_EQ(Apply<kxpMirror>(sq, {{"MIRRORMODE", "other"}}), (V{4, 3, 2, 1}));
    EXPECT_EQ(Apply<kxpTopToBottom>(sq, {}), (V{3, 4, 1, 2}));
    EXPECT_EQ(Apply<kxpLeftToRight>(sq, {}), (V{2, 1, 4, 3}));

    Buffer five = Make(5, 1, 8, {1, 2, 3, 4, 5});
    EXPECT_EQ(Apply<kxpMirrorCopy>(five, {{"MIRRORMODE", "HORIZRIGHT"}}), (V{5, 4, 3, 4, 5}));
    EXPECT_EQ(Apply<kxpMirrorCopy>(five, {{"MIRRORMODE", "HORIZLEFT"}}), (V{1, 2, 3, 2, 1}));
    EXPECT_EQ(Apply<kxpMirrorCopy>(five, {}), (V{5, 4, 3, 4, 5}));
    Buffer column = Make(1, 5, 8, {1, 2, 3, 4, 5});
    EXPECT_EQ(Apply<kxpMirrorCopy>(column, {{"MIRRORMODE", "VERTLOWER"}}), (V{5, 4, 3, 4, 5}));
    EXPECT_EQ(Apply<kxpMirrorCopy>(column, {{"MIRRORMODE", "VERTUPPER"}}), (V{1, 2, 3, 2, 1}));

    // A 4-bit chunky image keeps its depth and palette.
    Buffer nib = Make(2, 1, 4, {3, 9});
    kxpLeftToRight op(Lib());
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(op, nib.get(), &res), 0u);
    EXPECT_EQ(res->ColorDepth, 4u);
    EXPECT_EQ(res->Palette[9 * 3], 9);
}

struct FreeCase {
    const char* angle;
    bool keep;
    uint32_t w, h;
};

TEST(RotateFree, ResultSizes)
{
    const FreeCase cases[] = {{"45", false, 7, 7}, {"90", false, 6, 5}, {"270.0", false, 6, 5}, {nullptr, false, 6, 5}, {"180", false, 3, 4},
                              {"90.5", false, 3, 4}, {"-90", false, 3, 4}, {"90", true, 3, 4}};
    Buffer src = Make(3, 4, 24);
    for (const auto& c : cases) {
        kxpRotateFree op(Lib());
        KX_GfxBuffer* res = nullptr;
        std::vector<std::pair<const char*, const char*>> keys;
        if (c.angle) keys.push_back({"ROTATE_ANGLE", c.angle});
        if (c.keep) keys.push_back({"KEEPSIZE", nullptr});
        ASSERT_EQ(RunOp(op, src.get(), &res, keys), 0u) << (c.angle ? c.angle : "none");
        EXPECT_EQ(res->Width, c.w) << (c.angle ? c.angle : "none");
        EXPECT_EQ(res->Height, c.h) << (c.angle ? c.angle : "none");
        if (c.keep) {
            EXPECT_EQ(res->Data[0] | res->Data[1] | res->Data[2], 0) << "black corner";
        }
    }
    for (const char* bad : {"nan", "inf", "-inf"}) {
        kxpRotateFree op(Lib());
        KX_GfxBuffer* res = nullptr;
        EXPECT_EQ(RunOp(op, src.get(), &res, {{"ROTATE_ANGLE", bad}}), KXERR_NOMEMORY) << bad;
    }
}

TEST(RotateFree, PixelsAlphaAndCentre)
{
    // 180 degrees about the centre of a 4 x 4 image keeps the frame.
    Buffer src = Make(4, 4, 24, Noise(48, 3));
    AddAlpha8(src.get(), 100);
    kxpRotateFree op(Lib());
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(op, src.get(), &res, {{"ROTATE_ANGLE", "45"}}), 0u);
    ASSERT_EQ(res->AlphaType, static_cast<uint32_t>(KXALPHA_CHANNEL8));
    EXPECT_EQ(KXSUP_AlphaBytes(res)[0], 0) << "uncovered corner is transparent";
    EXPECT_NE(KXSUP_AlphaBytes(res)[res->Width * (res->Height / 2) + res->Width / 2], 0);

    // 90 in the (H+2) x (W+2) frame: every source pixel lands, the border stays 0.
    Buffer tall = Make(3, 2, 8, {1, 2, 3, 4, 5, 6});
    kxpRotateFree quarter(Lib());
    ASSERT_EQ(RunOp(quarter, tall.get(), &res, {{"ROTATE_ANGLE", "90"}}), 0u);
    ASSERT_EQ(res->Width, 4u);
    ASSERT_EQ(res->Height, 5u);
    V got = Bytes(res);
    for (uint8_t v = 1; v <= 6; v++) EXPECT_NE(std::find(got.begin(), got.end(), v), got.end()) << int(v);
    EXPECT_EQ(got[0], 0);

    // The given point is limited to the picture.
    for (const char* x : {"-10", "99"}) {
        kxpRotateFree a(Lib()), b(Lib());
        KX_GfxBuffer *ra = nullptr, *rb = nullptr;
        ASSERT_EQ(RunOp(a, src.get(), &ra, {{"ROTATE_ANGLE", "30"}, {"METHOD", "GIVENPOINT"}, {"X_COORD", x}, {"Y_COORD", "1"}}), 0u);
        ASSERT_EQ(RunOp(b, src.get(), &rb, {{"ROTATE_ANGLE", "30"}, {"METHOD", "GIVENPOINT"}, {"X_COORD", x[0] == '-' ? "0" : "4"}, {"Y_COORD", "1"}}), 0u);
        EXPECT_EQ(Bytes(ra), Bytes(rb)) << x;
    }
}

// ---- external programs ----

struct ToolCase {
    const char* tool;
    const char* cmd;
    int op;  // 0 rotate 90, 1 rotate 270, 2 rotate 180, 3 left-right, 4 top-bottom
    uint32_t depth;
};

TEST(RotateOracles, AgreeWithNetpbmAndVips)
{
    const ToolCase cases[] = {
        {"pamflip", "pamflip -r90 IN > OUT", 0, 24},       {"pamflip", "pamflip -r270 IN > OUT", 1, 48},
        {"pamflip", "pamflip -r180 IN > OUT", 2, 24},      {"pamflip", "pamflip -lr IN > OUT", 3, 24},
        {"pamflip", "pamflip -tb IN > OUT", 4, 48},        {"vips", "vips rot IN OUT d270", 0, 24},
        {"vips", "vips rot IN OUT d90", 1, 24},            {"vips", "vips flip IN OUT horizontal", 3, 48},
        {"vips", "vips flip IN OUT vertical", 4, 24},
    };
    for (const auto& c : cases) {
        if (!KXT_HaveTool(c.tool)) GTEST_SKIP() << c.tool << " is not installed";
        const uint32_t W = 37, H = 23;
        Buffer src = Make(W, H, c.depth, Noise(size_t(W) * H * Bpp(c.depth), 11));
        std::unique_ptr<KXOperator> op;
        std::vector<std::pair<const char*, const char*>> keys;
        switch (c.op) {
        case 0: op.reset(new kxpRotate(Lib())); keys = {{"DEGREES", "90"}}; break;
        case 1: op.reset(new kxpRotate(Lib())); keys = {{"DEGREES", "270"}}; break;
        case 2: op.reset(new kxpRotate(Lib())); keys = {{"DEGREES", "180"}}; break;
        case 3: op.reset(new kxpLeftToRight(Lib())); break;
        default: op.reset(new kxpTopToBottom(Lib())); break;
        }
        KX_GfxBuffer* res = nullptr;
        ASSERT_EQ(RunOp(*op, src.get(), &res, keys), 0u);
        std::string in = TempPath("rin.ppm"), out = TempPath("rout.ppm");
        ASSERT_TRUE(WritePNM(in, src.get()));
        std::string cmd = c.cmd;
        cmd.replace(cmd.find("IN"), 2, in);
        cmd.replace(cmd.find("OUT"), 3, out);
        ASSERT_EQ(system(cmd.c_str()), 0) << cmd;
        Pnm p;
        ASSERT_TRUE(ReadPNM(out, p)) << cmd;
        EXPECT_EQ(p.w, res->Width) << cmd;
        EXPECT_EQ(p.h, res->Height) << cmd;
        EXPECT_TRUE(p.samples == Samples(res)) << cmd;
        remove(in.c_str());
        remove(out.c_str());
    }
}

}  // namespace
