// Resize, ResizeDDA and Scale50: the numeric cases, the errors, and the
// comparison with external scalers.
#include "geo_support.h"
#include "operators/geometry/kxpResize.h"
#include "operators/geometry/kxpResizeDDA.h"
#include "operators/geometry/kxpScale50.h"

using namespace geo;

namespace {

TEST(Resize, HalvingAveragesTwiceWithHalvesUp)
{
    // 4 x 4 grey-ish picture: each result sample is ((a+b+1)/2 + (c+d+1)/2 + 1)/2.
    std::vector<uint8_t> px = Noise(4 * 4 * 3, 5);
    Buffer src = Make(4, 4, 24, px);
    kxpResize op(Lib());
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(op, src.get(), &res, {{"NEW_WIDTH", "2"}, {"NEW_HEIGHT", "2"}}), 0u);
    EXPECT_EQ(res->Version, 1u);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 2; x++)
            for (int c = 0; c < 3; c++) {
                auto at = [&](int sx, int sy) { return px[(sy * 4 + sx) * 3 + c]; };
                int left = (at(2 * x, 2 * y) + at(2 * x, 2 * y + 1) + 1) / 2, right = (at(2 * x + 1, 2 * y) + at(2 * x + 1, 2 * y + 1) + 1) / 2;
                EXPECT_EQ(res->Data[(y * 2 + x) * 3 + c], (left + right + 1) / 2);
            }
}

TEST(Resize, EnlargingRepeatsAndSameSizeCopies)
{
    Buffer src = Make(2, 2, 24, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    kxpResize op(Lib());
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(op, src.get(), &res, {{"NEW_WIDTH", "4"}, {"NEW_HEIGHT", "4"}}), 0u);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++) EXPECT_EQ(res->Data[(y * 4 + x) * 3], src->Data[((y / 2) * 2 + x / 2) * 3]);
    op.Reset();
    ASSERT_EQ(RunOp(op, src.get(), &res), 0u);
    EXPECT_EQ(Bytes(res), Bytes(src.get()));
    EXPECT_EQ(res->Version, 1u);
}

TEST(Resize, PaletteIndicesArePickedAndComeBackAsEightBit)
{
    Buffer src = Make(4, 1, 4, {1, 2, 3, 15});
    src->Height = 1;
    kxpResize op(Lib());
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(op, src.get(), &res, {{"NEW_WIDTH", "2"}, {"NEW_HEIGHT", "2"}}), 0u);
    EXPECT_EQ(res->ColorDepth, 8u);
    EXPECT_EQ(res->Palette[3], src->Palette[3]);
    EXPECT_EQ(Bytes(res), (std::vector<uint8_t>{2, 15, 2, 15}));
}

TEST(Resize, AlphaMapIsPicked)
{
    Buffer src = Make(4, 2, 24);
    AddAlpha8(src.get(), 10);  // 10..17
    kxpResize op(Lib());
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(op, src.get(), &res, {{"NEW_WIDTH", "2"}, {"NEW_HEIGHT", "2"}}), 0u);
    ASSERT_EQ(res->AlphaType, static_cast<uint32_t>(KXALPHA_CHANNEL8));
    const uint8_t* a = KXSUP_AlphaBytes(res);
    EXPECT_EQ(std::vector<uint8_t>(a, a + 4), (std::vector<uint8_t>{11, 13, 15, 17}));
}

struct SizeCase {
    const char *w, *h;
    uint32_t code;
};

TEST(Resize, SizeErrors)
{
    const SizeCase cases[] = {
        {"1", "4", KXERR_SIZEMISMATCH}, {"-5", "4", KXERR_SIZEMISMATCH}, {"4", "0", KXERR_SIZEMISMATCH},
        {"100000", "100000", KXERR_NOMEMORY},  // beyond a 32-bit buffer size
        {"3.9", "2", 0},                        // whole numbers only
    };
    Buffer src = Make(4, 4, 24);
    for (const auto& c : cases) {
        kxpResize op(Lib());
        KX_GfxBuffer* res = nullptr;
        EXPECT_EQ(RunOp(op, src.get(), &res, {{"NEW_WIDTH", c.w}, {"NEW_HEIGHT", c.h}}), c.code) << c.w << " x " << c.h;
    }
}

TEST(Resize, TallToTwoRowsEnds)
{
    // More than 4096 source rows per output row: the step would be 0.
    Buffer src = Make(2, 9000, 8);
    kxpResize op(Lib());
    KX_GfxBuffer* res = nullptr;
    EXPECT_EQ(RunOp(op, src.get(), &res, {{"NEW_WIDTH", "2"}, {"NEW_HEIGHT", "2"}}), 0u);
}

TEST(ResizeDDA, FactorsAndErrors)
{
    Buffer row = Make(10, 2, 8, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    kxpResizeDDA op(Lib());
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(op, row.get(), &res, {{"ZOOM_FACTOR", "1.5"}}), 0u);
    ASSERT_EQ(res->Width, 15u);
    EXPECT_EQ(std::vector<uint8_t>(res->Data, res->Data + 15), (std::vector<uint8_t>{0, 0, 1, 1, 2, 3, 3, 4, 5, 5, 6, 7, 7, 8, 9}));
    EXPECT_EQ(res->Height, 3u);

    struct {
        const char* factor;
        uint32_t code, width;
    } cases[] = {{"-2", 0, 10}, {"0", KXERR_NOMEMORY, 0}, {"nan", KXERR_NOMEMORY, 0}, {"inf", KXERR_NOMEMORY, 0}, {"2", 0, 20}, {"0.5", 0, 5}, {"2000", 0, 20000}};
    for (const auto& c : cases) {
        kxpResizeDDA dda(Lib());
        EXPECT_EQ(RunOp(dda, row.get(), &res, {{"ZOOM_FACTOR", c.factor}}), c.code) << c.factor;
        if (!c.code) {
            EXPECT_EQ(res->Width, c.width) << c.factor;
        } else {
            EXPECT_EQ(dda.Result, nullptr) << "freed on error";
        }
    }
    // Factor above 1000: the first pixel everywhere.
    kxpResizeDDA big(Lib());
    ASSERT_EQ(RunOp(big, row.get(), &res, {{"ZOOM_FACTOR", "2000"}}), 0u);
    EXPECT_EQ(res->Data[res->BufferSize - 1], 0);

    Buffer thin = Make(1, 5, 24);
    kxpResizeDDA dda(Lib());
    EXPECT_EQ(RunOp(dda, thin.get(), &res), KXERR_FILEREQUIREMENTS);
}

TEST(Scale50, HalfAndDouble)
{
    std::vector<uint8_t> px(15);
    for (int i = 0; i < 15; i++) px[i] = static_cast<uint8_t>(i);
    Buffer src = Make(5, 3, 8, px);
    kxpScale50 op(Lib());
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(op, src.get(), &res, {{"METHOD", "half"}}), 0u);
    EXPECT_EQ(res->Width, 2u);
    EXPECT_EQ(res->Height, 1u);
    EXPECT_EQ(res->Data[0], 0);
    EXPECT_EQ(res->Data[1], 2);
    EXPECT_EQ(res->BufferSize, 15u >> 2);

    Buffer one = Make(1, 1, 24, {7, 8, 9});
    kxpScale50 dbl(Lib());
    ASSERT_EQ(RunOp(dbl, one.get(), &res, {{"METHOD", "DOUBLE"}}), 0u);
    EXPECT_EQ(Bytes(res), (std::vector<uint8_t>{7, 8, 9, 7, 8, 9, 7, 8, 9, 7, 8, 9}));
    kxpScale50 other(Lib());
    EXPECT_EQ(RunOp(other, one.get(), &res, {{"METHOD", "QUARTER"}}), KXERR_SIZEMISMATCH) << "any other word halves";
}

// ---- external scalers ----

// Runs a shell command on in.ppm -> out.ppm and compares with our result.
void CompareWithTool(const char* tool, const std::string& cmd, const KX_GfxBuffer* src, const KX_GfxBuffer* ours, int tolerance)
{
    if (!KXT_HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    std::string in = TempPath("in.ppm"), out = TempPath("out.ppm");
    ASSERT_TRUE(WritePNM(in, src));
    std::string full = cmd;
    for (auto [key, val] : {std::pair<std::string, std::string>{"IN", in}, {"OUT", out}}) full.replace(full.find(key), key.size(), val);
    ASSERT_EQ(system(full.c_str()), 0) << full;
    Pnm p;
    ASSERT_TRUE(ReadPNM(out, p));
    ASSERT_EQ(p.w, ours->Width);
    ASSERT_EQ(p.h, ours->Height);
    std::vector<uint16_t> mine = Samples(ours);
    int worst = 0;
    for (size_t i = 0; i < mine.size(); i++) worst = std::max(worst, std::abs(int(mine[i]) - int(p.samples[i])));
    EXPECT_LE(worst, tolerance) << full;
    remove(in.c_str());
    remove(out.c_str());
}

struct ScaleCase {
    uint32_t w, h, depth, nw, nh;
    const char* tool;
    const char* cmd;
    int tolerance;
};

TEST(ResizeOracles, AgreeWithVipsAndImageMagick)
{
    const ScaleCase cases[] = {
        {64, 48, 24, 32, 24, "vips", "vips shrink IN OUT 2 2", 0},
        {64, 48, 24, 16, 12, "vips", "vips shrink IN OUT 4 4", 0},
        {64, 48, 48, 32, 24, "vips", "vips shrink IN OUT 2 2", 0},
        // A third is 1365/4096 per column: the truncated weights leave up to 2 apart.
        {60, 45, 24, 20, 15, "convert-im6.q16", "convert-im6.q16 IN -scale 20x15! OUT", 2},
        {64, 48, 24, 32, 24, "convert-im6.q16", "convert-im6.q16 IN -scale 32x24! OUT", 1},
    };
    for (const auto& c : cases) {
        Buffer src = Make(c.w, c.h, c.depth, Noise(size_t(c.w) * c.h * Bpp(c.depth), c.w + c.nw));
        kxpResize op(Lib());
        KX_GfxBuffer* res = nullptr;
        std::string w = std::to_string(c.nw), h = std::to_string(c.nh);
        ASSERT_EQ(RunOp(op, src.get(), &res, {{"NEW_WIDTH", w.c_str()}, {"NEW_HEIGHT", h.c_str()}}), 0u);
        SCOPED_TRACE(c.cmd);
        CompareWithTool(c.tool, c.cmd, src.get(), res, c.tolerance);
    }
}

}  // namespace
