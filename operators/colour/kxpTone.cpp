// kxpTone: the shared run of the point operators (see the header). Rows
// are done whole by one of four row functions picked once per run: a XOR
// pattern over the bytes, one byte table, a table per channel (with the
// channel order), or a 16-bit table per channel. Relies on the operator
// frame.
#include "kxpTone.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace {

// Where the result is larger than the caches, its fresh pages are written
// past the cache (streaming stores): a normal store first reads each line
// of the result from memory, which cost more than the table lookups. Small
// results stay in the cache for whoever reads them next.
constexpr size_t kStreamFrom = size_t(4) << 20;

struct Sink {
    bool Stream = false;

    void Put8(uint8_t* out, uint64_t v) const
    {
#if defined(__SSE2__)
        if (Stream) {
            _mm_stream_si64(reinterpret_cast<long long*>(out), static_cast<long long>(v));
            return;
        }
#endif
        std::memcpy(out, &v, 8);
    }
    void Done() const
    {
#if defined(__SSE2__)
        if (Stream) _mm_sfence();
#endif
    }
};

// Bytes to write one at a time before out reaches an 8-byte boundary
// (at most n).
inline size_t Lead(const uint8_t* out, size_t n)
{
    return std::min<size_t>(n, (8 - (reinterpret_cast<uintptr_t>(out) & 7)) & 7);
}

inline uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline void PutWord(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// XOR with a pattern of 8 bytes that repeats every 2 bytes; n bytes from
// an even offset of the picture.
void XorBytes(uint8_t* out, const uint8_t* in, size_t n, const uint8_t pattern[8], const Sink& sink)
{
    size_t i = 0;
    for (const size_t lead = Lead(out, n); i < lead; ++i) out[i] = in[i] ^ pattern[i & 7];
    // The pattern as it lines up with byte i (it repeats every 2 bytes).
    uint8_t lined[8];
    for (size_t k = 0; k < 8; ++k) lined[k] = pattern[(i + k) & 7];
    uint64_t p;
    std::memcpy(&p, lined, 8);
    for (; i + 8 <= n; i += 8) {
        uint64_t v;
        std::memcpy(&v, in + i, 8);
        sink.Put8(out + i, v ^ p);
    }
    for (; i < n; ++i) out[i] = in[i] ^ pattern[i & 7];
}

void ByteTable(uint8_t* out, const uint8_t* in, size_t n, const uint8_t* lut)
{
    for (size_t i = 0; i < n; ++i) out[i] = lut[in[i]];
}

// The byte table applied two bytes at a time: half the lookups, in a
// table of 128 KB that stays in the second-level cache.
void PairTable(uint8_t* out, const uint8_t* in, size_t n, const uint16_t* pairs, const uint8_t* lut, const Sink& sink)
{
    size_t i = 0;
    for (const size_t lead = Lead(out, n); i < lead; ++i) out[i] = lut[in[i]];
    for (; i + 8 <= n; i += 8) {
        uint64_t v;
        std::memcpy(&v, in + i, 8);
        const uint64_t r = uint64_t(pairs[v & 0xFFFF]) | uint64_t(pairs[(v >> 16) & 0xFFFF]) << 16 |
                           uint64_t(pairs[(v >> 32) & 0xFFFF]) << 32 | uint64_t(pairs[v >> 48]) << 48;
        sink.Put8(out + i, r);
    }
    for (; i < n; ++i) out[i] = lut[in[i]];
}

// One 16-bit table for every sample, four samples a store.
void WordTable(uint8_t* out, const uint8_t* in, size_t samples, const uint16_t* lut, const Sink& sink)
{
    size_t i = 0;
    // An odd address cannot reach an 8-byte boundary by whole samples.
    const size_t lead = (reinterpret_cast<uintptr_t>(out) & 1) ? samples : Lead(out, 2 * samples) / 2;
    for (; i < lead; ++i) PutWord(out + 2 * i, lut[Word(in + 2 * i)]);
    // Four samples in one word: their order in it is the memory's.
    for (; std::endian::native == std::endian::little && i + 4 <= samples; i += 4) {
        uint64_t v;
        std::memcpy(&v, in + 2 * i, 8);
        const uint64_t r = uint64_t(lut[v & 0xFFFF]) | uint64_t(lut[(v >> 16) & 0xFFFF]) << 16 |
                           uint64_t(lut[(v >> 32) & 0xFFFF]) << 32 | uint64_t(lut[v >> 48]) << 48;
        sink.Put8(out + 2 * i, r);
    }
    for (; i < samples; ++i) PutWord(out + 2 * i, lut[Word(in + 2 * i)]);
}

void ChannelTables24(uint8_t* out, const uint8_t* in, uint32_t w, const uint8_t (*lut)[256], const uint8_t* order)
{
    const uint32_t o0 = order[0], o1 = order[1], o2 = order[2];
    for (uint32_t x = 0; x < w; ++x, in += 3, out += 3) {
        const uint8_t a = lut[0][in[o0]], b = lut[1][in[o1]], c = lut[2][in[o2]];
        out[0] = a;
        out[1] = b;
        out[2] = c;
    }
}

void ChannelTables48(uint8_t* out, const uint8_t* in, uint32_t w, const uint16_t* const* lut, const uint8_t* order)
{
    const uint32_t o0 = 2 * order[0], o1 = 2 * order[1], o2 = 2 * order[2];
    const uint16_t *l0 = lut[0], *l1 = lut[1], *l2 = lut[2];
    for (uint32_t x = 0; x < w; ++x, in += 6, out += 6) {
        const uint16_t a = l0[Word(in + o0)], b = l1[Word(in + o1)], c = l2[Word(in + o2)];
        PutWord(out, a);
        PutWord(out + 2, b);
        PutWord(out + 4, c);
    }
}

// Channels reordered, samples unchanged.
template <uint32_t B>
void Permute(uint8_t* out, const uint8_t* in, uint32_t w, const uint8_t* order)
{
    const uint32_t o0 = B * order[0], o1 = B * order[1], o2 = B * order[2];
    for (uint32_t x = 0; x < w; ++x, in += 3 * B, out += 3 * B) {
        uint8_t p[3 * B];
        std::memcpy(p, in + o0, B);
        std::memcpy(p + B, in + o1, B);
        std::memcpy(p + 2 * B, in + o2, B);
        std::memcpy(out, p, 3 * B);
    }
}

// The table of a channel whose samples stay as they are.
const uint16_t* Identity16()
{
    static const std::vector<uint16_t> table = [] {
        std::vector<uint16_t> t(65536);
        for (uint32_t i = 0; i < 65536; ++i) t[i] = static_cast<uint16_t>(i);
        return t;
    }();
    return table.data();
}

}  // namespace

uint32_t kxpTone::ToneBegin(KX_GfxBuffer* source, KX_GfxBuffer** result, KX_GfxBuffer** work, const KXPToneRules& rules)
{
    *work = nullptr;
    uint32_t err = InputAnyDepth(source, result, work, 0, !rules.HamAfterPlanes);
    if (err) return err;
    if (rules.HamAfterPlanes && IsHamBuffer(source)) return KXERR_NOHAM;
    if (rules.HostOrder && (err = MakeHostOrder(*work))) return err;
    if ((err = FetchAlphaMap8(*work))) return err;
    if ((err = NewResult(*work))) return err;
    if (!rules.ExactSize) return AllocSameSizePixels(Result, *work);

    KX_GfxBuffer* r = Result;
    const uint32_t bpp = KXP_BytesPerPixel(*work);
    r->PixelBits = bpp * 8;
    if ((err = KXSUP_CheckSize(&r->BufferSize, r->Width, r->Height, bpp))) return err;
    r->Data = static_cast<uint8_t*>(AllocVec(r->BufferSize, MEMF_ANY));
    if (!r->Data) return KXERR_NOMEMORY;
    return KXERR_NONE;
}

uint32_t kxpTone::ToneFinish(KX_GfxBuffer* source, KX_GfxBuffer* work, KX_GfxBuffer** result, const KXPToneRules& rules,
                             const KXPToneTables& t)
{
    KX_GfxBuffer* r = Result;
    const uint32_t w = work->Width, h = work->Height, depth = work->ColorDepth;
    const uint32_t bpp = KXP_BytesPerPixel(work);
    const size_t rowBytes = size_t(w) * bpp;
    const uint8_t* order = t.Order;
    const bool plainOrder = order[0] == 0 && order[1] == 1 && order[2] == 2;

    if (depth <= 8) {
        const size_t n = size_t(w) * h;
        if (t.IndexLut) ByteTable(r->Data, work->Data, n, t.Lut8[0]);
        else std::memcpy(r->Data, work->Data, n);
        const uint32_t entries = std::min<uint32_t>(t.PaletteEntries, 256);
        for (uint32_t i = 0; i < entries; ++i) {
            const uint8_t* in = work->Palette + 3 * i;
            uint8_t* out = r->Palette + 3 * i;
            for (uint32_t c = 0; c < 3; ++c) out[c] = t.Lut8[c][in[order[c]]];
        }
    } else {
        uint8_t pattern[8];
        for (uint32_t i = 0; i < 8; ++i) pattern[i] = depth == 24 ? t.Xor8 : static_cast<uint8_t>(t.Xor16 >> (8 * (i & 1)));
        const bool oneTable = plainOrder && !std::memcmp(t.Lut8[0], t.Lut8[1], 256) && !std::memcmp(t.Lut8[0], t.Lut8[2], 256);
        const uint16_t* lut16[3];
        for (uint32_t c = 0; c < 3; ++c) lut16[c] = t.Lut16[c] ? t.Lut16[c] : Identity16();
        const bool oneTable16 = plainOrder && lut16[0] == lut16[1] && lut16[0] == lut16[2];
        bool identity = !t.Lut16[0] && !t.Lut16[1] && !t.Lut16[2];
        for (uint32_t c = 0; c < 3 && identity; ++c)
            for (uint32_t v = 0; v < 256 && identity; ++v) identity = t.Lut8[c][v] == v;
        std::vector<uint16_t> pairs;
        if (depth == 24 && oneTable && !t.XorRows) {
            pairs.resize(65536);
            for (uint32_t v = 0; v < 65536; ++v) pairs[v] = static_cast<uint16_t>(t.Lut8[0][v & 255] | t.Lut8[0][v >> 8] << 8);
        }
        const uint64_t pixels = uint64_t(w) * h;
        Sink sink;
        sink.Stream = rowBytes * h >= kStreamFrom;
        for (uint32_t y = 0; y < h; ++y) {
            if (!rules.Progress || !ProgressHook) {
            } else if (!rules.PixelProgress) {
                RowProgress(y, h);
            } else {
                // Before every 512th pixel, as one pixel loop would.
                for (uint64_t k = (uint64_t(y) * w + 511) & ~uint64_t(511); k < uint64_t(y + 1) * w; k += 512)
                    ReportProgress(static_cast<uint32_t>(k * 100 / pixels));
            }
            const uint8_t* in = work->Data + rowBytes * y;
            uint8_t* out = r->Data + rowBytes * y;
            if (t.XorRows) XorBytes(out, in, rowBytes, pattern, sink);
            else if (identity && depth == 24) Permute<1>(out, in, w, order);
            else if (identity) Permute<2>(out, in, w, order);
            else if (depth == 24 && oneTable) PairTable(out, in, rowBytes, pairs.data(), t.Lut8[0], sink);
            else if (depth == 24) ChannelTables24(out, in, w, t.Lut8, order);
            else if (oneTable16) WordTable(out, in, size_t(w) * 3, lut16[0], sink);
            else ChannelTables48(out, in, w, lut16, order);
        }
        sink.Done();
    }

    if (depth > 8 && AlphaMap8) {
        const size_t n = size_t(w) * h;
        auto* map = static_cast<uint8_t*>(AllocVec(n, MEMF_ANY));
        if (!map) return KXERR_NOMEMORY;
        std::memcpy(map, AlphaMap8, n);
        AttachAlphaMap(r, map);
    } else if (rules.CarryTransparency) {
        if (uint32_t err = CarryAlpha(r, work)) return err;
    }
    if (rules.MarkOrder) {
        MarkResult(r, work, source, rules.Carried);
    } else {
        const uint32_t flags = KXSUP_GetGfxBufferFlags(source) & rules.Carried;
        for (uint32_t bit = 1; bit; bit <<= 1)
            if (flags & bit) KXSUP_AddGfxBufferFlags(r, bit, 1);
    }
    *result = r;
    return KXERR_NONE;
}
