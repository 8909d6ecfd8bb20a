// Geometry operators on 4000 x 3000 pictures of 24 bits, 48 bits and 8-bit
// palette: resize to half, quarter turns both ways, flips, crop.
#include "bench_support.h"
#include "operators/geometry/kxpCrop.h"
#include "operators/geometry/kxpLeftToRight.h"
#include "operators/geometry/kxpResize.h"
#include "operators/geometry/kxpRotate.h"
#include "operators/geometry/kxpRotateFree.h"
#include "operators/geometry/kxpTopToBottom.h"

namespace {

KX_GfxBuffer* Picture(uint32_t depth)
{
    static KX_GfxBuffer* cache[3] = {};
    const int slot = depth == 8 ? 0 : depth == 24 ? 1 : 2;
    if (cache[slot]) return cache[slot];
    KX_GfxBuffer* b = kxbench::newPicture(2, 4000, 3000, depth);
    b->ViewMode = KXVIEWMODE_NONE;
    uint32_t seed = 1;
    for (uint32_t i = 0; i < b->BufferSize; i++) {
        seed = seed * 1103515245u + 12345u;
        b->Data[i] = static_cast<uint8_t>(seed >> 16);
    }
    return cache[slot] = b;
}

template <class Op>
void RunOp(benchmark::State& state, std::vector<std::pair<const char*, const char*>> keys)
{
    KX_GfxBuffer* src = Picture(static_cast<uint32_t>(state.range(0)));
    kxbench::runOperator<Op>(state, src, keys);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * src->BufferSize);
}

void BM_ResizeHalf(benchmark::State& s) { RunOp<kxpResize>(s, {{"NEW_WIDTH", "2000"}, {"NEW_HEIGHT", "1500"}}); }
void BM_ResizeUp(benchmark::State& s) { RunOp<kxpResize>(s, {{"NEW_WIDTH", "5000"}, {"NEW_HEIGHT", "3750"}}); }
void BM_Rotate90(benchmark::State& s) { RunOp<kxpRotate>(s, {{"DEGREES", "90"}}); }
void BM_Rotate180(benchmark::State& s) { RunOp<kxpRotate>(s, {{"DEGREES", "180"}}); }
void BM_Rotate270(benchmark::State& s) { RunOp<kxpRotate>(s, {{"DEGREES", "270"}}); }
void BM_RotateFree30(benchmark::State& s) { RunOp<kxpRotateFree>(s, {{"ROTATE_ANGLE", "30"}}); }
void BM_LeftToRight(benchmark::State& s) { RunOp<kxpLeftToRight>(s, {}); }
void BM_TopToBottom(benchmark::State& s) { RunOp<kxpTopToBottom>(s, {}); }
void BM_Crop(benchmark::State& s) { RunOp<kxpCrop>(s, {{"KX_AREA", "100,100,3000,2000"}}); }

#define KX_DEPTHS ->Arg(8)->Arg(24)->Arg(48)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_ResizeHalf) KX_DEPTHS;
BENCHMARK(BM_ResizeUp) KX_DEPTHS;
BENCHMARK(BM_Rotate90) KX_DEPTHS;
BENCHMARK(BM_Rotate180) KX_DEPTHS;
BENCHMARK(BM_Rotate270) KX_DEPTHS;
BENCHMARK(BM_RotateFree30) KX_DEPTHS;
BENCHMARK(BM_LeftToRight) KX_DEPTHS;
BENCHMARK(BM_TopToBottom) KX_DEPTHS;
BENCHMARK(BM_Crop) KX_DEPTHS;

}  // namespace
