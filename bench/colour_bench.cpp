// Depth conversions and dithering on 4000 x 3000 pictures of 24 bits, 48
// bits and 8-bit palette: to 24 and 48 bits, and 24 bits to a computed
// 256-colour palette with each mapping method.
#include "bench_support.h"
#include "operators/colour/kxpAnyTo24Bit.h"
#include "operators/colour/kxpAnyTo48Bit.h"
#include "operators/colour/kxpDither24Bit.h"
#include "operators/colour/kxpBrightness.h"
#include "operators/colour/kxpGamma.h"
#include "operators/colour/kxpNegate.h"

#include <cstring>

namespace {

// A smooth picture with noise, so that the quantiser sees many buckets
// but also runs of similar colours, as in a photograph.
KX_GfxBuffer* Picture(uint32_t depth)
{
    static KX_GfxBuffer* cache[3] = {};
    const int slot = depth == 8 ? 0 : depth == 24 ? 1 : 2;
    if (cache[slot]) return cache[slot];
    const uint32_t w = 4000, h = 3000, bpp = depth / 8;
    KX_GfxBuffer* b = kxbench::newPicture(2, w, h, depth);
    b->ViewMode = KXVIEWMODE_NONE;
    for (int i = 0; i < 768; i++) b->Palette[i] = static_cast<uint8_t>(i * 37);
    uint32_t seed = 1;
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++) {
            seed = seed * 1103515245u + 12345u;
            const uint32_t noise = (seed >> 16) & 15;
            const uint32_t c[3] = {(x * 255 / w + noise) & 255, (y * 255 / h + noise) & 255, ((x + y) * 255 / (w + h) + noise) & 255};
            const size_t i = (size_t(y) * w + x) * bpp;
            if (depth == 8) {
                b->Data[i] = static_cast<uint8_t>(c[0] ^ c[1]);
            } else {
                for (int k = 0; k < 3; k++) {
                    if (depth == 24) b->Data[i + k] = static_cast<uint8_t>(c[k]);
                    else b->Data[i + 2 * k] = static_cast<uint8_t>(noise), b->Data[i + 2 * k + 1] = static_cast<uint8_t>(c[k]);
                }
            }
        }
    return cache[slot] = b;
}

template <class Op>
void RunOp(benchmark::State& state, std::vector<std::pair<const char*, const char*>> keys)
{
    kxbench::runOperator<Op>(state, Picture(static_cast<uint32_t>(state.range(0))), keys);
    state.SetItemsProcessed(int64_t(state.iterations()) * 4000 * 3000);
}

// The yardstick of the point operators: the picture copied into a buffer
// that is already faulted in.
void CopyWarm(benchmark::State& state)
{
    const KX_GfxBuffer* src = Picture(static_cast<uint32_t>(state.range(0)));
    std::vector<uint8_t> to(src->BufferSize, 1);
    for (auto _ : state) {
        std::memcpy(to.data(), src->Data, src->BufferSize);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 4000 * 3000);
}
void Gamma(benchmark::State& s) { RunOp<kxpGamma>(s, {}); }
void Brightness(benchmark::State& s) { RunOp<kxpBrightness>(s, {{"ADJUST_RGB", "20"}}); }
void Negate(benchmark::State& s) { RunOp<kxpNegate>(s, {}); }

void AnyTo24(benchmark::State& s) { RunOp<kxpAnyTo24Bit>(s, {}); }
void AnyTo24HighByte(benchmark::State& s) { RunOp<kxpAnyTo24Bit>(s, {{"PRECISE", "OFF"}}); }
void AnyTo48(benchmark::State& s) { RunOp<kxpAnyTo48Bit>(s, {}); }
void DitherFloyd(benchmark::State& s) { RunOp<kxpDither24Bit>(s, {}); }
void DitherBurkes(benchmark::State& s) { RunOp<kxpDither24Bit>(s, {{"DITHERMODE", "BURKES"}}); }
void DitherBestPen(benchmark::State& s) { RunOp<kxpDither24Bit>(s, {{"DITHERMODE", "BESTPEN"}}); }
void DitherOrdered(benchmark::State& s) { RunOp<kxpDither24Bit>(s, {{"DITHERMODE", "ORDERED"}}); }

}  // namespace

// 48-bit sources are byte-swapped in place on the first run only; later
// runs find them big-endian already.
BENCHMARK(CopyWarm)->Arg(24)->Arg(48)->Unit(benchmark::kMillisecond);
BENCHMARK(Gamma)->Arg(24)->Arg(48)->Unit(benchmark::kMillisecond);
BENCHMARK(Brightness)->Arg(24)->Arg(48)->Unit(benchmark::kMillisecond);
BENCHMARK(Negate)->Arg(24)->Arg(48)->Unit(benchmark::kMillisecond);
BENCHMARK(AnyTo24)->Arg(8)->Arg(24)->Arg(48)->Unit(benchmark::kMillisecond);
BENCHMARK(AnyTo24HighByte)->Arg(48)->Unit(benchmark::kMillisecond);
BENCHMARK(AnyTo48)->Arg(8)->Arg(24)->Arg(48)->Unit(benchmark::kMillisecond);
BENCHMARK(DitherFloyd)->Arg(24)->Unit(benchmark::kMillisecond);
BENCHMARK(DitherBurkes)->Arg(24)->Unit(benchmark::kMillisecond);
BENCHMARK(DitherBestPen)->Arg(24)->Unit(benchmark::kMillisecond);
BENCHMARK(DitherOrdered)->Arg(24)->Unit(benchmark::kMillisecond);
