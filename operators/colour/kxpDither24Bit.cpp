// kxpDither24Bit: 24-bit RGB to a palette picture of 1 to 8 bits (see the
// header). The computed palette comes from the colour quantiser (median
// cut over 15-bit colour keys; black and white for 1 bit), the mapping
// from its palette mapper. Relies on the operator frame and kxquant.
#include "kxpDither24Bit.h"

#include <array>
#include <cstring>

#include "kxquant.h"

namespace {

// Levels per channel of the ordered colour cube, by depth.
struct Cube {
    uint32_t r, g, b;
};
constexpr Cube kCubes[9] = {{1, 1, 1}, {1, 2, 1}, {2, 2, 1}, {2, 2, 2}, {2, 4, 2}, {4, 4, 2}, {4, 4, 4}, {5, 5, 5}, {5, 9, 5}};

constexpr uint32_t MatrixEntry(uint32_t i, uint32_t j)
{
    uint32_t v = 0;
    for (uint32_t k = 0; k < 4; ++k) {
        const uint32_t bi = (i >> k) & 1, bj = (j >> k) & 1;
        v += (2 * (bi ^ bj) + bi) << (2 * (3 - k));
    }
    return v;
}

constexpr std::array<uint16_t, 256> MakeMatrix()
{
    std::array<uint16_t, 256> m{};
    for (uint32_t i = 0; i < 16; ++i)
        for (uint32_t j = 0; j < 16; ++j) m[i * 16 + j] = static_cast<uint16_t>(MatrixEntry(i, j) * 256);
    return m;
}

// The threshold matrix, held multiplied by 256.
constexpr std::array<uint16_t, 256> kMatrix = MakeMatrix();

inline uint32_t Level(uint32_t levels, uint32_t v, uint32_t t) { return (((levels - 1) * 256 + 1) * v + t) / 65536; }

}  // namespace

uint32_t kxpDither24Bit::ThresholdEntry(uint32_t i, uint32_t j) { return MatrixEntry(i & 15, j & 15); }

uint32_t kxpDither24Bit::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KX_GfxBuffer* work = nullptr;
    uint32_t err = InputTrueColour(source, result, &work, true);
    if (err) return err;
    if ((err = NewResult(work))) return err;

    KXPKeyReader keys(this, false);
    const uint32_t depth = keys.Depth("COLORDEPTH");
    static const char* const modes[] = {"BESTPEN", "ORDERED", "BURKES"};
    static const uint32_t methods[] = {KXQ_METHOD_BESTPEN, KXQ_METHOD_ORDERED, KXQ_METHOD_BURKES};
    const int mode = keys.Word("DITHERMODE", modes, 3, -1);
    const uint32_t method = mode < 0 ? uint32_t(KXQ_METHOD_FLOYD) : methods[mode];

    const uint32_t w = work->Width, h = work->Height;
    uint32_t bytes = 0;
    if (!KXSUP_CheckedSize(&bytes, w, h)) return KXERR_NOMEMORY;
    KX_GfxBuffer* r = Result;
    r->ColorDepth = depth;
    r->PixelBits = 8;
    r->BufferSize = bytes;
    r->ViewMode = KXSUP_BestModeID(w, h, depth);
    r->NativeDIPF = 0;
    r->AlphaType = KXALPHA_NONE;
    r->Data = static_cast<uint8_t*>(AllocVec(bytes, MEMF_ANY));
    if (!r->Data) return KXERR_NOMEMORY;

    err = method == KXQ_METHOD_ORDERED ? Ordered(work, r, depth) : Quantised(work, r, depth, method);
    if (err) return err;
    *result = r;
    return KXERR_NONE;
}

uint32_t kxpDither24Bit::Ordered(const KX_GfxBuffer* work, KX_GfxBuffer* r, uint32_t depth)
{
    if (depth < 1 || depth > 8) return KXERR_FILEREQUIREMENTS;
    const Cube c = kCubes[depth];
    for (uint32_t rl = 0; rl < c.r; ++rl)
        for (uint32_t gl = 0; gl < c.g; ++gl)
            for (uint32_t bl = 0; bl < c.b; ++bl) {
                uint8_t* e = r->Palette + 3 * ((rl * c.g + gl) * c.b + bl);
                e[0] = static_cast<uint8_t>(c.r > 1 ? rl * 255 / (c.r - 1) : 0);
                e[1] = static_cast<uint8_t>(c.g > 1 ? gl * 255 / (c.g - 1) : 0);
                e[2] = static_cast<uint8_t>(c.b > 1 ? bl * 255 / (c.b - 1) : 0);
            }

    const uint32_t w = work->Width, h = work->Height;
    // The pattern runs from the right edge: column (Width - x) mod 16.
    uint32_t firstColumn = w & 15;
    for (uint32_t y = 0; y < h; ++y) {
        RowProgress(y, h);
        const uint16_t* m = kMatrix.data() + (y & 15) * 16;
        const uint8_t* in = work->Data + size_t(y) * w * 3;
        uint8_t* out = r->Data + size_t(y) * w;
        uint32_t col = firstColumn;
        for (uint32_t x = 0; x < w; ++x, in += 3) {
            const uint32_t t = m[col];
            col = (col - 1) & 15;
            const uint32_t rl = Level(c.r, in[0], t), gl = Level(c.g, in[1], t), bl = Level(c.b, in[2], t);
            out[x] = static_cast<uint8_t>((rl * c.g + gl) * c.b + bl);
        }
    }
    return KXERR_NONE;
}

uint32_t kxpDither24Bit::Quantised(const KX_GfxBuffer* work, KX_GfxBuffer* r, uint32_t depth, uint32_t method)
{
    const uint32_t n = 1u << depth;
    auto* entries = static_cast<KXQEntry*>(AllocVec(256 * sizeof(KXQEntry), MEMF_CLEAR));
    if (!entries) return KXERR_NOMEMORY;
    uint32_t err = KXERR_NONE;
    if (n == 2) {
        entries[0] = {0, 0, 0, 0};
        entries[1] = {255, 255, 255, 0};
    } else {
        auto* histogram = static_cast<uint16_t*>(AllocVec(KXQ_HISTOGRAM_SIZE * sizeof(uint16_t), MEMF_CLEAR));
        if (!histogram) {
            FreeVec(entries);
            return KXERR_NOMEMORY;
        }
        BuildColorHistogram(work->Data, work->Width, work->Height, histogram);
        err = MedianCutPalette(histogram, entries, n);
        FreeVec(histogram);
    }
    if (!err) {
        KXQProgress progress = {[](void* op, uint32_t percent) { static_cast<kxpDither24Bit*>(op)->ReportProgress(percent); }, this};
        err = MapToPalette(work->Data, r->Data, work->Width, work->Height, entries, n, method, ProgressHook ? &progress : nullptr);
    }
    if (!err) {
        // Sorted by the mapper: each index names the entry it was chosen from.
        for (uint32_t i = 0; i < n; ++i) {
            r->Palette[3 * i] = entries[i].R;
            r->Palette[3 * i + 1] = entries[i].G;
            r->Palette[3 * i + 2] = entries[i].B;
        }
    }
    FreeVec(entries);
    return err;
}
