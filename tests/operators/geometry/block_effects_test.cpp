// Mosaic, Scatter, Slicing and Tiling: block sizes and factors with their
// limits, which lines move, the random draws and where they take pixels
// from, the alpha each keeps, and no result pixel left unwritten.
#include <cstdlib>
#include <set>

#include "kinds_support.h"
#include "operators/geometry/kxpMosaic.h"
#include "operators/geometry/kxpScatter.h"
#include "operators/geometry/kxpSlicing.h"
#include "operators/geometry/kxpTiling.h"

using namespace geo;
using V = std::vector<uint8_t>;

namespace {

constexpr uint32_t II = KXGFXF_II, MM = KXGFXF_MM, CARRIED = KXGFXF_GRAY | KXGFXF_SRC8BIT | KXGFXF_SRCLOWDEPTH;

TEST(BlockEffects, InputKindsAlphaAndFlags)
{
    using namespace kinds;
    const uint32_t none = KXALPHA_NONE, key = KXALPHA_SINGLECOLOR, table = KXALPHA_MULTICOLOR, map = KXALPHA_CHANNEL8;
    auto rows = [&](uint32_t mm, uint32_t mapKind) {
        return std::vector<Row>{
            {PAL8, 0, none, 0},          {PAL4, 0, none, 0},      {PLANES4, 0, none, 0},  {HAM6, KXERR_NOHAM, 0, 0},
            {RGB24, 0, none, 0},         {RGB48, 0, none, 0},     {RGB48MM, 0, none, mm}, {KEY8, 0, key, 0},
            {TABLE8, 0, table, 0},       {MAP24, 0, mapKind, 0},  {MAP16_48, 0, mapKind, 0},
            {TYPE3, KXERR_NOTSUPPORTED, 0, 0}, {DEPTH12, KXERR_FILEREQUIREMENTS, 0, 0},
        };
    };
    // Mosaic moves samples as stored; the others make 48-bit input host-ordered.
    CheckRows<kxpMosaic>("Mosaic", rows(MM | CARRIED, map), {{"BLOCKS", "4"}});
    CheckRows<kxpScatter>("Scatter", rows(II | CARRIED, map), {{"SCATTERFACTOR", "2"}});
    CheckRows<kxpSlicing>("Slicing", rows(II | CARRIED, none));
    CheckRows<kxpTiling>("Tiling", rows(II | CARRIED, none), {{"TILESIZE", "2"}});
}

// Pixel (x, y) of a picture whose every pixel differs: 24-bit x, y, 1.
Buffer Coordinates(uint32_t w, uint32_t h, uint32_t depth = 24)
{
    const uint32_t bpp = Bpp(depth);
    V px(size_t(w) * h * bpp);
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++) {
            uint8_t* p = &px[(size_t(y) * w + x) * bpp];
            const uint8_t v[3] = {static_cast<uint8_t>(x), static_cast<uint8_t>(y), 1};
            for (uint32_t c = 0; c < bpp; c++) p[c] = depth == 48 ? v[c / 2] : depth <= 8 ? static_cast<uint8_t>((x + y) & 15) : v[c];
        }
    return Make(w, h, depth, px);
}

// (x, y) of a result pixel of a Coordinates picture.
std::pair<uint32_t, uint32_t> At(const KX_GfxBuffer* b, uint32_t x, uint32_t y)
{
    const uint32_t bpp = Bpp(b->ColorDepth);
    const uint8_t* p = b->Data + (size_t(y) * b->Width + x) * bpp;
    return {p[0], bpp == 6 ? p[2] : p[1]};
}

TEST(Mosaic, BlocksTakeTheirTopLeftPixel)
{
    struct Case {
        uint32_t w, h;
        const char* blocks;
        uint32_t b, rw, rh;
    } cases[] = {
        {100, 75, "8", 8, 104, 80}, {10, 7, "1", 2, 10, 8}, {10, 7, "0", 2, 10, 8}, {10, 7, "-4", 2, 10, 8},
        {9, 20, "300", 9, 9, 27},   {1, 3, "5", 1, 1, 3},   {12, 12, nullptr, 2, 12, 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " BLOCKS " + (c.blocks ? c.blocks : "missing"));
        Buffer src = Coordinates(c.w, c.h);
        kxpMosaic op(Lib());
        KX_GfxBuffer* res = nullptr;
        std::vector<std::pair<const char*, const char*>> keys;
        if (c.blocks) keys.push_back({"BLOCKS", c.blocks});
        ASSERT_EQ(RunOp(op, src.get(), &res, keys), 0u);
        ASSERT_EQ(res->Width, c.rw);
        ASSERT_EQ(res->Height, c.rh);
        EXPECT_EQ(res->BufferSize, c.rw * c.rh * 3);
        for (uint32_t y = 0; y < c.rh; y++)
            for (uint32_t x = 0; x < c.rw; x++) ASSERT_EQ(At(res, x, y), std::make_pair(x / c.b * c.b, y / c.b * c.b)) << x << "," << y;
    }

    // 48 bit: samples as stored, so a big-endian source stays big-endian.
    Buffer wide = Coordinates(5, 4, 48);
    KXSUP_SetGfxBufferEndianess(wide.get(), KXGFXF_MM);
    kxpMosaic op(Lib());
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(op, wide.get(), &res, {{"BLOCKS", "3"}}), 0u);
    EXPECT_EQ(KXSUP_GetGfxBufferEndianess(wide.get()), uint32_t(KXENDIAN_BIG));
    EXPECT_EQ(At(res, 5, 4), std::make_pair(3u, 3u));
    EXPECT_EQ(memcmp(res->Data + (4 * 6 + 5) * 6, wide->Data + (3 * 5 + 3) * 6, 6), 0);
    EXPECT_EQ(KXSUP_GetGfxBufferEndianess(res), uint32_t(KXENDIAN_BIG));
}

TEST(Mosaic, AGrownPictureGetsAnAlphaMapOfItsOwnSize)
{
    Buffer src = Coordinates(5, 3);
    AddAlpha8(src.get(), 100);  // alpha of (x, y) is 100 + 5y + x
    kxpMosaic op(Lib());
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(op, src.get(), &res, {{"BLOCKS", "4"}}), 0u);
    ASSERT_EQ(res->Width, 8u);
    ASSERT_EQ(res->Height, 4u);
    ASSERT_EQ(KXSUP_AlphaHolds(res), uint32_t(KXALPHA_CHANNEL8));
    const uint8_t* a = KXSUP_AlphaBytes(res);
    for (uint32_t y = 0; y < 4; y++)
        for (uint32_t x = 0; x < 8; x++) {
            // Inside the source the map is kept as it was, not made blocky;
            // the added pixels take their block's top-left alpha.
            const uint32_t want = x < 5 && y < 3 ? 100 + 5 * y + x : 100 + 5 * (y / 4 * 4) + x / 4 * 4;
            EXPECT_EQ(a[y * 8 + x], want) << x << "," << y;
        }
}

TEST(Scatter, EveryOtherLineMoves)
{
    struct Case {
        uint32_t w, h;
        std::vector<std::pair<const char*, const char*>> keys;
        bool columns;
        uint32_t factor;
    } cases[] = {
        {100, 4, {}, false, 16},
        {100, 4, {{"SCATTERFACTOR", "100"}}, false, 50},
        {100, 4, {{"SCATTERFACTOR", "-5"}}, false, 50},
        {9, 12, {{"SCATTERMODE", "y_axis"}, {"SCATTERFACTOR", "3"}}, true, 3},
        {10, 12, {{"SCATTERMODE", "Y_AXIS"}, {"SCATTERFACTOR", "3"}}, true, 3},
        {30, 12, {{"SCATTERMODE", "Y_AXIS"}, {"SCATTERFACTOR", "20"}}, true, 6},  // between height and width
        {7, 5, {{"SCATTERMODE", "Z_AXIS"}, {"SCATTERFACTOR", "0"}}, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + (c.columns ? " columns" : " rows"));
        Buffer src = Coordinates(c.w, c.h);
        AddAlpha8(src.get(), 0);
        kxpScatter op(Lib());
        KX_GfxBuffer* res = nullptr;
        ASSERT_EQ(RunOp(op, src.get(), &res, c.keys), 0u);
        const uint8_t* a = KXSUP_AlphaBytes(res);
        for (uint32_t y = 0; y < c.h; y++)
            for (uint32_t x = 0; x < c.w; x++) {
                uint32_t sx = x, sy = y;
                if (!c.columns && (y & 1) && x >= c.factor) sx = x - c.factor;
                if (c.columns && ((c.w - 1 - x) & 1) && y >= c.factor) sy = y - c.factor;
                ASSERT_EQ(At(res, x, y), std::make_pair(sx, sy)) << x << "," << y;
                ASSERT_EQ(a[y * c.w + x], static_cast<uint8_t>(sy * c.w + sx)) << "alpha at " << x << "," << y;
            }
    }

    // A 4-bit picture in column mode stays 4-bit, one byte per pixel.
    Buffer pal = Make(5, 6, 4);
    kxpScatter op(Lib());
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(op, pal.get(), &res, {{"SCATTERMODE", "Y_AXIS"}, {"SCATTERFACTOR", "2"}}), 0u);
    EXPECT_EQ(res->ColorDepth, 4u);
    EXPECT_EQ(memcmp(res->Palette, pal->Palette, sizeof pal->Palette), 0);
    EXPECT_EQ(res->Data[4 * 5 + 1], pal->Data[2 * 5 + 1]);
    EXPECT_EQ(res->Data[4 * 5 + 0], pal->Data[4 * 5 + 0]);
}

// The runs of Slicing's tables, drawn as the operator draws them.
std::vector<int> Runs(uint32_t n)
{
    std::vector<int> t;
    while (t.size() < n) {
        const int offset = (rand() & 63) - 32;
        const unsigned more = (unsigned(rand()) + 8u) & 31u;
        for (unsigned k = 0; k <= more && t.size() < n; k++) t.push_back(offset);
    }
    return t;
}

TEST(Slicing, PixelsComeFromTheDisplacedPositionOrAreBlack)
{
    for (uint32_t depth : {8u, 24u, 48u}) {
        SCOPED_TRACE(depth);
        const uint32_t w = 70, h = 50, bpp = Bpp(depth);
        Buffer src = Coordinates(w, h, depth);
        if (depth == 8)
            for (uint32_t i = 0; i < w * h; i++) src->Data[i] = static_cast<uint8_t>(1 + i % 200);
        kxpSlicing op(Lib());  // the library's start-up draws from rand() too
        srand(depth);
        KX_GfxBuffer* res = nullptr;
        ASSERT_EQ(RunOp(op, src.get(), &res), 0u);
        srand(depth);
        const std::vector<int> columns = Runs(w), rows = Runs(h);
        int black = 0;
        for (uint32_t y = 0; y < h; y++)
            for (uint32_t x = 0; x < w; x++) {
                const int sx = int(x) + rows[y], sy = int(y) + columns[x];
                const uint8_t* p = res->Data + (size_t(y) * w + x) * bpp;
                if (sx < 0 || sx >= int(w) || sy < 0 || sy >= int(h)) {
                    black++;
                    ASSERT_EQ(V(p, p + bpp), V(bpp, 0)) << "black where the source lies outside: " << x << "," << y;
                } else {
                    ASSERT_EQ(memcmp(p, src->Data + (size_t(sy) * w + sx) * bpp, bpp), 0) << x << "," << y;
                }
            }
        EXPECT_GT(black, 0) << "offsets of up to 32 on a 70 x 50 picture reach outside";
    }
}

TEST(Tiling, TileCountsAndMovedTiles)
{
    // Two draws per tile: the draws taken tell the number of tiles.
    struct Case {
        uint32_t w, h;
        const char* size;
        int tiles;
    } cases[] = {{100, 100, "10", 81}, {4, 3, "0", 6}, {300, 260, "1000", 1}, {300, 260, "-1", 1}, {10, 30, "10", 0}, {11, 11, nullptr, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " TILESIZE " + (c.size ? c.size : "missing"));
        Buffer src = Make(c.w, c.h, 8);
        kxpTiling op(Lib());  // the library's start-up draws from rand() too
        srand(7);
        KX_GfxBuffer* res = nullptr;
        std::vector<std::pair<const char*, const char*>> keys;
        if (c.size) keys.push_back({"TILESIZE", c.size});
        ASSERT_EQ(RunOp(op, src.get(), &res, keys), 0u);
        const int next = rand();
        srand(7);
        for (int i = 0; i < 2 * c.tiles; i++) rand();
        EXPECT_EQ(rand(), next);
    }

    // A tile moved by (dx, dy) covers the copy of the source beneath it.
    const uint32_t w = 40, h = 30;
    Buffer src = Coordinates(w, h, 48);
    kxpTiling op(Lib());
    srand(11);
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(op, src.get(), &res, {{"TILESIZE", "10"}}), 0u);
    srand(11);
    std::vector<uint8_t> want(Bytes(src.get()));
    for (uint32_t top = 0; top + 10 < h; top += 10)
        for (uint32_t left = 0; left + 10 < w; left += 10) {
            const int dx = (rand() & 31) - 16, dy = (rand() & 31) - 16;
            for (uint32_t y = top; y < top + 10; y++)
                for (uint32_t x = left; x < left + 10; x++) {
                    const int tx = int(x) + dx, ty = int(y) + dy;
                    if (tx >= 0 && tx < int(w) && ty >= 0 && ty < int(h)) memcpy(&want[(size_t(ty) * w + tx) * 6], src->Data + (size_t(y) * w + x) * 6, 6);
                }
        }
    EXPECT_EQ(Bytes(res), want);
}

}  // namespace
