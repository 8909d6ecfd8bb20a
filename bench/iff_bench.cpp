// Deep ILBM at picture size: save and load a 4000 x 3000 image of 24 and of
// 48 planes (the plane <-> chunky transposes dominate), uncompressed and
// ByteRun1.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <random>
#include <string>

#include "core/kxlib.h"
#include "formats/iff/kxoILBM.h"

namespace {
KX_GfxBuffer* makeImage(uint32_t depth) {
    const uint32_t w = 4000, h = 3000, bytes = depth == 48 ? 6 : 3;
    KX_GfxBuffer* b = nullptr;
    KXSUP_AllocGfxBuffer(&b, 1, w * h * bytes, MEMF_ANY);
    b->Type = ONEPLANE;
    b->Width = w;
    b->Height = h;
    b->ColorDepth = b->PixelBits = depth;
    std::mt19937 rng(1);
    for (uint32_t i = 0; i < b->BufferSize; ++i) b->Data[i] = uint8_t((i / 7) ^ (rng() & 3));
    return b;
}

std::string path() { return std::string(KX_GetProcessTempDir()) + "iff_bench_" + std::to_string(getpid()) + ".lbm"; }

void BM_SaveIlbm(benchmark::State& state) {
    KX_GfxBuffer* b = makeImage((uint32_t)state.range(0));
    const std::string p = path();
    for (auto _ : state) {
        kxoILBM w(nullptr);
        w.SetSubFormat((uint32_t)state.range(1));
        w.SetSaveName(p.c_str());
        w.SetGfxBuffer(b);
        if (w.Save() != KXERR_NONE) state.SkipWithError("save failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * b->BufferSize);
    KXSUP_FreeGfxBuffer(b);
    unlink(p.c_str());
}

void BM_LoadIlbm(benchmark::State& state) {
    KX_GfxBuffer* b = makeImage((uint32_t)state.range(0));
    const std::string p = path();
    {
        kxoILBM w(nullptr);
        w.SetSubFormat((uint32_t)state.range(1));
        w.SetSaveName(p.c_str());
        w.SetGfxBuffer(b);
        w.Save();
    }
    for (auto _ : state) {
        kxoILBM r(nullptr);
        r.SetReadName(p.c_str());
        if (r.Load() != KXERR_NONE) state.SkipWithError("load failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * b->BufferSize);
    KXSUP_FreeGfxBuffer(b);
    unlink(p.c_str());
}
}  // namespace

BENCHMARK(BM_SaveIlbm)->Args({24, 0})->Args({24, 1})->Args({48, 0})->Args({48, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadIlbm)->Args({24, 0})->Args({24, 1})->Args({48, 0})->Args({48, 1})->Unit(benchmark::kMillisecond);
