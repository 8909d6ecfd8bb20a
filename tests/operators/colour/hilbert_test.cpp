// kxpHilbertDither256: which inputs it takes, the Hilbert path, the walk
// through each 16 x 16 block (uniform greys give the counts of the error
// carried along the path), independent blocks, padding to whole blocks,
// the background key and progress once per strip.
#include <algorithm>

#include "dither_kinds.h"
#include "operators/colour/kxpHilbertDither256.h"

using namespace colour_test;

namespace {

struct XY {
    int x, y;
};

// The block's cells in path order, walked independently of the operator.
std::vector<XY> PathCells()
{
    const int dx[4] = {1, 0, -1, 0}, dy[4] = {0, 1, 0, -1};
    std::vector<XY> cells = {{0, 0}};
    int h = 0;
    for (char c : kxpHilbertDither256::HilbertPath()) {
        if (c == '+') h = (h + 3) % 4;
        if (c == '-') h = (h + 1) % 4;
        if (c == 'F') cells.push_back({cells.back().x + dx[h], cells.back().y + dy[h]});
    }
    return cells;
}

// A palette picture whose entry i is grey i, every pixel index v.
Buffer GreyPicture(uint32_t w, uint32_t h, uint8_t v)
{
    Buffer b = Chunky(8, w, h);
    for (int i = 0; i < 256; ++i) memset(b->Palette + 3 * i, i, 3);
    memset(b->Data, v, b->BufferSize);
    return b;
}

std::vector<int> AlongPath(const Buffer& r, uint32_t left = 0)
{
    std::vector<int> out;
    for (const XY& c : PathCells()) out.push_back(r->Data[c.y * r->Width + left + c.x]);
    return out;
}

}  // namespace

TEST(HilbertDither, TakesPalettePicturesOnly)
{
    ExpectCodes<kxpHilbertDither256>([](const InputKind& k, uint32_t) -> uint32_t {
        if (k.family == k48) return KXERR_NO48BIT;
        if (k.family == k24) return KXERR_NO24BIT;
        if (k.family == kHam) return KXERR_NOHAM;
        return 0;
    });
    // The storage type is tested last.
    struct Case {
        uint32_t type, depth, code;
    } cases[] = {{3, 24, KXERR_NO24BIT}, {3, 48, KXERR_NO48BIT}, {3, 12, KXERR_FILEREQUIREMENTS}, {3, 8, KXERR_NOTSUPPORTED}, {0, 8, KXERR_FILEREQUIREMENTS}};
    for (const auto& c : cases) {
        Buffer b = Chunky(c.depth == 12 ? 8 : c.depth, 2, 2);
        b->Type = c.type;
        b->ColorDepth = c.depth;
        EXPECT_EQ(RunOp<kxpHilbertDither256>(b.get(), nullptr), c.code) << c.type << " " << c.depth;
    }
    Buffer ham = Chunky(8, 2, 2);
    ham->Type = 3;
    ham->ViewMode = KXVIEWMODE_HAM;
    EXPECT_EQ(RunOp<kxpHilbertDither256>(ham.get(), nullptr), uint32_t(KXERR_NOHAM));
}

TEST(HilbertDither, PathVisitsEveryCellOnce)
{
    const std::string path = kxpHilbertDither256::HilbertPath();
    EXPECT_EQ(path.size(), 595u);
    EXPECT_EQ(std::count(path.begin(), path.end(), 'F'), 255);
    const std::vector<XY> cells = PathCells();
    std::vector<int> seen(256, 0);
    for (const XY& c : cells) {
        ASSERT_TRUE(c.x >= 0 && c.x < 16 && c.y >= 0 && c.y < 16);
        seen[c.y * 16 + c.x]++;
    }
    EXPECT_EQ(seen, std::vector<int>(256, 1));
    EXPECT_EQ(cells.back().x, 15);
    EXPECT_EQ(cells.back().y, 0);
}

TEST(HilbertDither, UniformBlocks)
{
    struct Case {
        uint8_t grey;
        std::vector<int> start;
        int ones;
    } cases[] = {{255, {1, 1, 1, 1}, 256}, {0, {0, 0, 0, 0}, 0}, {128, {1, 1, 0, 1, 0, 1}, 129}, {100, {0, 0, 1, 0, 0, 1, 0, 1}, 100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.grey));
        Buffer s = GreyPicture(16, 16, c.grey), r;
        ASSERT_EQ(RunOp<kxpHilbertDither256>(s.get(), &r), 0u);
        const std::vector<int> walk = AlongPath(r);
        EXPECT_EQ(std::vector<int>(walk.begin(), walk.begin() + c.start.size()), c.start);
        EXPECT_EQ(std::count(walk.begin(), walk.end(), 1), c.ones);
    }
}

TEST(HilbertDither, BlocksAreIndependentAndPadded)
{
    // Left block grey 100, right block grey 128: the right one is walked
    // afresh, as if it stood alone.
    Buffer s = GreyPicture(32, 16, 100), r;
    for (uint32_t y = 0; y < 16; ++y) memset(s->Data + y * 32 + 16, 128, 16);
    ASSERT_EQ(RunOp<kxpHilbertDither256>(s.get(), &r), 0u);
    const std::vector<int> right = AlongPath(r, 16);
    EXPECT_EQ(std::count(right.begin(), right.end(), 1), 129);
    EXPECT_EQ(std::vector<int>(right.begin(), right.begin() + 3), (std::vector<int>{1, 1, 0}));

    struct Size {
        uint32_t w, h, pw, ph;
    } sizes[] = {{10, 10, 16, 16}, {17, 16, 32, 16}, {1, 1, 16, 16}, {16, 33, 16, 48}};
    for (const auto& z : sizes) {
        SCOPED_TRACE(std::to_string(z.w) + "x" + std::to_string(z.h));
        // Index 1 is black; the padding counts as index 0, white here.
        Buffer p = GreyPicture(z.w, z.h, 1);
        memset(p->Palette, 255, 3);
        memset(p->Palette + 3, 0, 3);
        ASSERT_EQ(RunOp<kxpHilbertDither256>(p.get(), &r), 0u);
        EXPECT_EQ(r->Width, z.pw);
        EXPECT_EQ(r->Height, z.ph);
        EXPECT_EQ(r->BufferSize, z.pw * z.ph);
        EXPECT_EQ(r->ColorDepth, 1u);
        EXPECT_EQ(r->PixelBits, 8u);
        EXPECT_EQ(r->Type, uint32_t(ONEPLANE));
        EXPECT_EQ(r->Version, 4u);
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(r.get()), uint32_t(KXGFXF_GRAY));
        EXPECT_EQ(KXSUP_AlphaHolds(r.get()), 0u);
        uint32_t inside = 0;
        for (uint32_t y = 0; y < z.ph; ++y)
            for (uint32_t x = 0; x < z.pw; ++x)
                if (x < z.w && y < z.h) inside += r->Data[y * z.pw + x];
                else ASSERT_EQ(r->Data[y * z.pw + x], 1) << x << "," << y;
        // Each white cell uses up its own brightness: no error reaches the
        // black ones.
        EXPECT_EQ(inside, 0u);
    }
}

TEST(HilbertDither, BackgroundKeyAndBitPlanes)
{
    Buffer s = Chunky(4, 20, 18);
    for (uint32_t i = 0; i < s->BufferSize; ++i) s->Data[i] = uint8_t((i * 7) & 15);
    Buffer black, white, lower, planes;
    ASSERT_EQ(RunOp<kxpHilbertDither256>(s.get(), &black), 0u);
    ASSERT_EQ(RunOp<kxpHilbertDither256>(s.get(), &lower, {{"BACKGROUND", "black"}}), 0u);
    ASSERT_EQ(RunOp<kxpHilbertDither256>(s.get(), &white, {{"BACKGROUND", "WHITE"}}), 0u);
    Buffer p = ToPlanes(s);
    ASSERT_EQ(RunOp<kxpHilbertDither256>(p.get(), &planes), 0u);
    for (const Buffer* b : {&black, &lower, &planes}) {
        EXPECT_EQ(std::vector<int>((*b)->Palette, (*b)->Palette + 6), (std::vector<int>{0, 0, 0, 255, 255, 255}));
    }
    EXPECT_EQ(std::vector<int>(white->Palette, white->Palette + 6), (std::vector<int>{255, 255, 255, 0, 0, 0}));
    for (const Buffer* b : {&lower, &white, &planes}) EXPECT_EQ(0, memcmp(black->Data, (*b)->Data, black->BufferSize));
}

TEST(HilbertDither, ProgressOncePerStrip)
{
    KXClass lib;
    kxpHilbertDither256 op(&lib);
    std::vector<uint32_t> seen;
    op.SetProgress([](KXProgress* p, uintptr_t user) { reinterpret_cast<std::vector<uint32_t>*>(user)->push_back(p->Percent); },
                   reinterpret_cast<uintptr_t>(&seen));
    Buffer s = GreyPicture(17, 40, 9);
    KX_GfxBuffer* r = nullptr;
    ASSERT_EQ(op.OperateTagList(s.get(), &r, nullptr), 0u);
    EXPECT_EQ(seen, (std::vector<uint32_t>{0, 33, 66}));
}
