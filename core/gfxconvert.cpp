// gfxconvert: bit planes <-> chunky bytes for images of 1 to 8 bits, and any
// buffer to a new 24-bit buffer (palette lookup, HAM6, HAM8, EHB, 24 and 48
// bits), turning colour keys and alpha tables into an 8-bit map.
// Relies on the record functions of gfxbuffer and the checked-size helper.
// Refuses buffers whose BufferSize is smaller than their size and depth need.
#include <bit>
#include <cstring>

#include "gfxbuffer.h"
#include "memory.h"

namespace {

uint64_t load64le(const uint8_t* p) {
    uint64_t v;
    memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

void store64le(uint8_t* p, uint64_t v) {
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    memcpy(p, &v, 8);
}

// Byte j (in memory order, little-endian value) is bit 7 - j of the index:
// one plane byte spread over the eight pixel bytes it covers.
struct ExpandTable {
    uint64_t v[256];
    constexpr ExpandTable() : v() {
        for (unsigned b = 0; b < 256; ++b)
            for (unsigned j = 0; j < 8; ++j)
                if (b & (0x80u >> j)) v[b] |= uint64_t(1) << (8 * j);
    }
};
constexpr ExpandTable kExpand;

// Gathers bit 0 of eight pixel bytes (little-endian value, pixel j in byte j)
// into one plane byte, pixel 0 in bit 7. The partial products never overlap,
// so no carry disturbs the top byte.
inline uint8_t gatherPlane(uint64_t bits) { return static_cast<uint8_t>((bits * 0x8040201008040201ull) >> 56); }

constexpr uint64_t kLowBits = 0x0101010101010101ull;

// 15 for an empty picture or one beyond 32 bits, 3 beyond the size limit.
uint32_t checkedBytes(uint32_t* out, uint64_t a, uint64_t b, uint64_t c = 1, uint64_t d = 1) {
    if (uint32_t err = KXSUP_CheckSize(out, a, b, c, d)) return err;
    return *out == 0 ? KXERR_FILEREQUIREMENTS : KXERR_NONE;
}

// A new record with every field of the source, owning nothing yet.
KX_GfxBuffer* newRecordFrom(const KX_GfxBuffer* source) {
    auto* b = static_cast<KX_GfxBuffer*>(AllocVec(sizeof(KX_GfxBuffer), MEMF_CLEAR));
    if (!b) return nullptr;
    memcpy(b, source, sizeof(KX_GfxBuffer));
    if (b->Version > 4) b->Version = 4;
    b->Data = nullptr;
    b->BufferSize = 0;
    if (b->Version < 3) b->AlphaType = 0;
    if (KXSUP_AlphaHolds(b) != KXALPHA_SINGLECOLOR) b->AlphaData = nullptr;
    return b;
}

void dropAlpha(KX_GfxBuffer* b) {
    b->AlphaType = 0;
    b->AlphaData = nullptr;
}

// Carries the source's alpha into a fresh record. A map that cannot be
// carried leaves the result without alpha and its code in *mapError; only a
// lost table is fatal (*mapError untouched, 3 returned).
uint32_t carryAlpha(const KX_GfxBuffer* source, KX_GfxBuffer* result, uint32_t* mapError) {
    const uint32_t kind = KXSUP_AlphaHolds(source);
    if (kind == KXALPHA_NONE) {
        dropAlpha(result);
        return KXERR_NONE;
    }
    if (kind == KXALPHA_SINGLECOLOR) {
        result->AlphaType = KXALPHA_SINGLECOLOR;
        return KXERR_NONE;
    }
    if (kind == KXALPHA_MULTICOLOR) {
        if (!source->AlphaData) {
            dropAlpha(result);
            return KXERR_NONE;
        }
        result->AlphaData = AllocVec(256, MEMF_ANY);
        if (!result->AlphaData) return KXERR_NOMEMORY;
        memcpy(result->AlphaData, source->AlphaData, 256);
        result->AlphaType = KXALPHA_MULTICOLOR;
        return KXERR_NONE;
    }
    // The maps are copied as they are: the lending functions only hand out
    // maps of 24/48-bit buffers and would drop a palette image's map.
    const uint32_t newKind = kind;
    dropAlpha(result);
    uint32_t bytes = 0;
    if (!source->AlphaData || checkedBytes(&bytes, source->Width, source->Height, newKind == KXALPHA_CHANNEL16 ? 2 : 1)) {
        *mapError = KXERR_NEEDALPHA;
        return KXERR_NONE;
    }
    void* map = AllocVec(bytes, MEMF_ANY);
    if (!map) {
        *mapError = KXERR_NOMEMORY;
        return KXERR_NONE;
    }
    memcpy(map, source->AlphaData, bytes);
    result->AlphaType = newKind;
    result->AlphaData = map;
    return KXERR_NONE;
}

// The common frame of both plane conversions: record, alpha and cleared data.
uint32_t startPlaneResult(const KX_GfxBuffer* source, uint32_t dataBytes, KX_GfxBuffer** out, uint32_t* mapError) {
    KX_GfxBuffer* b = newRecordFrom(source);
    if (!b) return KXERR_NOMEMORY;
    if (carryAlpha(source, b, mapError) != KXERR_NONE) {
        KXSUP_FreeGfxBuffer(b);
        return KXERR_NOMEMORY;
    }
    b->Data = static_cast<uint8_t*>(AllocVec(dataBytes, MEMF_CLEAR));
    if (!b->Data) {
        KXSUP_FreeGfxBuffer(b);
        return KXERR_NOMEMORY;
    }
    b->BufferSize = dataBytes;
    *out = b;
    return KXERR_NONE;
}

// ---- rows of the 24-bit conversion ----

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};

void paletteRow(const uint8_t* in, uint8_t* out, uint32_t width, const uint8_t* palette) {
    for (uint32_t x = 0; x < width; ++x, out += 3) {
        const uint8_t* c = palette + 3 * in[x];
        out[0] = c[0];
        out[1] = c[1];
        out[2] = c[2];
    }
}

// HAM6 keeps its control bits in bits 4-5 and a 4-bit level, HAM8 in bits
// 6-7 and a 6-bit level. The held colour runs on from row to row: it is
// reset only per image.
template <unsigned Depth>
void hamRow(const uint8_t* in, uint8_t* out, uint32_t width, const uint8_t* palette, Rgb& held) {
    constexpr unsigned shift = Depth - 2;
    constexpr uint8_t levelMask = (1u << shift) - 1;
    for (uint32_t x = 0; x < width; ++x, out += 3) {
        uint8_t b = in[x];
        uint8_t v = b & levelMask;
        uint8_t level = static_cast<uint8_t>(Depth == 6 ? v * 17 : v << 2);
        switch ((b >> shift) & 3) {
        case 1: held.b = level; break;
        case 2: held.r = level; break;
        case 3: held.g = level; break;
        default: held = {palette[3 * b], palette[3 * b + 1], palette[3 * b + 2]}; break;
        }
        out[0] = held.r;
        out[1] = held.g;
        out[2] = held.b;
    }
}

// hi is 0 for big-endian samples, 1 for little-endian ones.
void rgb48Row(const uint8_t* in, uint8_t* out, uint32_t width, unsigned hi) {
    for (uint32_t i = 0; i < 3 * width; ++i) out[i] = in[2 * i + hi];
}

void keyAlphaRow(const uint8_t* in, uint8_t* out, uint32_t width, uint32_t key) {
    for (uint32_t x = 0; x < width; ++x) out[x] = in[x] == key ? 0 : 255;
}

void tableAlphaRow(const uint8_t* in, uint8_t* out, uint32_t width, const uint8_t* table) {
    for (uint32_t x = 0; x < width; ++x) out[x] = table[in[x]];
}

}  // namespace

uint32_t KXSUP_BitPlaneToOnePlane8(const KX_GfxBuffer* buffer, KX_GfxBuffer** result) {
    if (!result) return KXERR_INTERNALACCESS;
    *result = nullptr;
    if (!buffer) return KXERR_INTERNALACCESS;
    const uint32_t depth = buffer->ColorDepth;
    if (buffer->Type != BITPLANE || depth < 1 || depth > 8) return KXERR_FILEREQUIREMENTS;
    const uint32_t width = buffer->Width, height = buffer->Height;
    const uint32_t bpl = static_cast<uint32_t>((uint64_t(width) + 7) >> 3);
    uint32_t planeBytes = 0, needed = 0, pixels = 0;
    if (uint32_t err = checkedBytes(&planeBytes, bpl, height)) return err;
    if (uint32_t err = checkedBytes(&needed, planeBytes, depth)) return err;
    if (uint32_t err = checkedBytes(&pixels, width, height)) return err;
    if (buffer->BufferSize < needed) return KXERR_FILEREQUIREMENTS;
    if (!buffer->Data) return KXERR_INTERNALACCESS;

    KX_GfxBuffer* b = nullptr;
    uint32_t mapError = KXERR_NONE;
    if (uint32_t err = startPlaneResult(buffer, pixels, &b, &mapError)) return err;
    b->Type = ONEPLANE;
    b->BytesPerLine = 0;
    b->PixelBits = 8;

    const uint8_t* plane[8];
    for (uint32_t k = 0; k < depth; ++k) plane[k] = buffer->Data + size_t(planeBytes) * k;
    const uint32_t whole = width / 8, rest = width % 8;
    uint8_t* out = b->Data;
    for (uint32_t y = 0; y < height; ++y, out += width) {
        for (uint32_t k = 0; k < depth; ++k) {
            const uint8_t* p = plane[k];
            for (uint32_t i = 0; i < whole; ++i) store64le(out + 8 * i, load64le(out + 8 * i) | (kExpand.v[p[i]] << k));
            for (uint32_t j = 0; j < rest; ++j) out[8 * whole + j] |= static_cast<uint8_t>(((p[whole] >> (7 - j)) & 1) << k);
            plane[k] += bpl;
        }
    }
    *result = b;
    return mapError;
}

uint32_t KXSUP_OnePlaneToBitPlane8(const KX_GfxBuffer* buffer, KX_GfxBuffer** result) {
    if (!result) return KXERR_INTERNALACCESS;
    *result = nullptr;
    if (!buffer) return KXERR_INTERNALACCESS;
    const uint32_t depth = buffer->ColorDepth;
    if (buffer->Type != ONEPLANE || depth < 1 || depth > 8) return KXERR_FILEREQUIREMENTS;
    const uint32_t width = buffer->Width, height = buffer->Height;
    const uint32_t bpl = static_cast<uint32_t>((uint64_t(width) + 7) >> 3);
    uint32_t planeBytes = 0, outBytes = 0, pixels = 0;
    if (uint32_t err = checkedBytes(&planeBytes, bpl, height)) return err;
    if (uint32_t err = checkedBytes(&outBytes, planeBytes, depth)) return err;
    if (uint32_t err = checkedBytes(&pixels, width, height)) return err;
    if (buffer->BufferSize < pixels) return KXERR_FILEREQUIREMENTS;
    if (!buffer->Data) return KXERR_INTERNALACCESS;

    KX_GfxBuffer* b = nullptr;
    uint32_t mapError = KXERR_NONE;
    if (uint32_t err = startPlaneResult(buffer, outBytes, &b, &mapError)) return err;
    b->Type = BITPLANE;
    b->BytesPerLine = bpl;
    b->PixelBits = 0;

    uint8_t* plane[8];
    for (uint32_t k = 0; k < depth; ++k) plane[k] = b->Data + size_t(planeBytes) * k;
    const uint32_t whole = width / 8, rest = width % 8;
    const uint8_t* in = buffer->Data;
    for (uint32_t y = 0; y < height; ++y, in += width) {
        for (uint32_t i = 0; i <= whole; ++i) {
            uint64_t v;
            if (i < whole) {
                v = load64le(in + 8 * i);
            } else {
                if (!rest) break;
                uint8_t tail[8] = {};
                memcpy(tail, in + 8 * i, rest);
                v = load64le(tail);
            }
            for (uint32_t k = 0; k < depth; ++k) plane[k][i] = gatherPlane((v >> k) & kLowBits);
        }
        for (uint32_t k = 0; k < depth; ++k) plane[k] += bpl;
    }
    *result = b;
    return mapError;
}

uint32_t KXSUP_GfxBufferTo24Bit(const KX_GfxBuffer* buffer, KX_GfxBuffer** result) {
    if (!result) return KXERR_INTERNALACCESS;
    *result = nullptr;
    if (!buffer) return KXERR_INTERNALACCESS;
    if (buffer->Type > ONEPLANE) return KXERR_NOTSUPPORTED;
    if (buffer->Type == 0) return KXERR_FILEREQUIREMENTS;
    const uint32_t depth = buffer->ColorDepth;
    if (depth == 0 || (depth > 8 && depth != 24 && depth != 48)) return KXERR_FILEREQUIREMENTS;

    KX_GfxBuffer* chunky = nullptr;
    const KX_GfxBuffer* src = buffer;
    if (buffer->Type == BITPLANE) {
        uint32_t err = KXSUP_BitPlaneToOnePlane8(buffer, &chunky);
        if (err) {
            KXSUP_FreeGfxBuffer(chunky);
            return err;
        }
        src = chunky;
    }

    const uint32_t width = src->Width, height = src->Height;
    const uint32_t inBpp = depth == 48 ? 6 : depth == 24 ? 3 : 1;
    uint32_t inBytes = 0, outBytes = 0, pixels = 0;
    uint32_t err = checkedBytes(&inBytes, width, height, inBpp);
    if (!err) err = checkedBytes(&outBytes, width, height, 3);
    if (!err) err = checkedBytes(&pixels, width, height);
    if (!err && src->BufferSize < inBytes) err = KXERR_FILEREQUIREMENTS;
    if (!err && !src->Data) err = KXERR_INTERNALACCESS;
    if (err) {
        KXSUP_FreeGfxBuffer(chunky);
        return err;
    }

    const bool ham = IsHamBuffer(src), ehb = IsEhbBuffer(src);
    const uint32_t kind = KXSUP_AlphaHolds(src);
    const bool withMap = !ham && !ehb && (kind == KXALPHA_SINGLECOLOR || kind == KXALPHA_CHANNEL8 || kind == KXALPHA_MULTICOLOR);

    auto* b = static_cast<KX_GfxBuffer*>(AllocVec(sizeof(KX_GfxBuffer), MEMF_CLEAR));
    if (b) {
        memcpy(b, src, sizeof(KX_GfxBuffer));
        b->Version = withMap ? 3 : 2;
        b->Type = ONEPLANE;
        b->ColorDepth = 24;
        b->BytesPerLine = 0;
        b->PixelBits = 24;
        b->BufferSize = outBytes;
        b->NativeDIPF = 0;
        b->AlphaType = 0;
        b->AlphaData = nullptr;
        b->Flags = 0;
        // The pixels are plain RGB now: the HAM and EHB bits go.
        if (b->ViewMode != KXVIEWMODE_NONE) {
            if (ham) b->ViewMode &= ~KXVIEWMODE_HAM;
            if (ehb) b->ViewMode &= ~KXVIEWMODE_EHB;
        }
        b->Data = static_cast<uint8_t*>(AllocVec(outBytes, MEMF_CLEAR));
        if (b->Data && withMap) {
            b->AlphaType = KXALPHA_CHANNEL8;
            b->AlphaData = AllocVec(pixels, MEMF_ANY);
        }
    }
    if (!b || !b->Data || (withMap && !b->AlphaData)) {
        KXSUP_FreeGfxBuffer(b);
        KXSUP_FreeGfxBuffer(chunky);
        return KXERR_NOMEMORY;
    }

    const uint8_t* in = src->Data;
    uint8_t* out = b->Data;
    uint8_t* alpha = KXSUP_AlphaBytes(b);
    const bool keyed = kind == KXALPHA_SINGLECOLOR;
    const uint8_t* table = kind == KXALPHA_MULTICOLOR ? static_cast<const uint8_t*>(src->AlphaData) : nullptr;
    const uint8_t* map8 = kind == KXALPHA_CHANNEL8 ? static_cast<const uint8_t*>(src->AlphaData) : nullptr;

    if (depth == 24 || depth == 48) {
        if (depth == 24) {
            memcpy(out, in, outBytes);
        } else {
            const unsigned hi = KXSUP_GetGfxBufferEndianess(src) == KXENDIAN_BIG ? 0 : 1;
            for (uint32_t y = 0; y < height; ++y) rgb48Row(in + size_t(y) * width * 6, out + size_t(y) * width * 3, width, hi);
        }
        // Only an 8-bit map belongs to RGB pixels; a key or table cannot.
        if (alpha) {
            if (map8) memcpy(alpha, map8, pixels);
            else memset(alpha, 255, pixels);
        }
    } else if (ham) {
        Rgb held;
        for (uint32_t y = 0; y < height; ++y) {
            const uint8_t* row = in + size_t(y) * width;
            uint8_t* dst = out + size_t(y) * width * 3;
            if (depth == 6) hamRow<6>(row, dst, width, src->Palette, held);
            else if (depth == 8) hamRow<8>(row, dst, width, src->Palette, held);
        }
    } else {
        for (uint32_t y = 0; y < height; ++y) {
            const uint8_t* row = in + size_t(y) * width;
            paletteRow(row, out + size_t(y) * width * 3, width, src->Palette);
            if (!alpha) continue;
            uint8_t* a = alpha + size_t(y) * width;
            if (keyed) keyAlphaRow(row, a, width, KXSUP_AlphaIndex(src));
            else if (table) tableAlphaRow(row, a, width, table);
            else memset(a, 255, width);
        }
    }
    KXSUP_FreeGfxBuffer(chunky);
    *result = b;
    return KXERR_NONE;
}
