// gfxbuffer: creating, freeing, copying and versioning KX_GfxBuffer records,
// their flag word, the byte order of 48-bit samples and 16-bit alpha, the
// 8/16-bit alpha-map lenders and copiers, HAM/EHB detection and the
// byte-order helpers every format module uses.
// Relies on AllocVec/FreeVec and the checked-size helper; every record is a
// cleared AllocVec block of sizeof(KX_GfxBuffer), so records a module built
// itself are released here too.
#include "gfxbuffer.h"


#include <bit>
#include <cstddef>
#include <cstring>

#include "memory.h"

namespace {

// Bytes of the record that each version has; versions 0 and 4 mean all of it.
size_t recordBytesOfVersion(uint32_t version) {
    switch (version) {
    case 1: return offsetof(KX_GfxBuffer, NativeDIPF);
    case 2: return offsetof(KX_GfxBuffer, AlphaType);
    case 3: return offsetof(KX_GfxBuffer, Flags);
    default: return sizeof(KX_GfxBuffer);
    }
}

// Kind 1 keeps the transparent index itself in AlphaData, so a record that
// has bit 1 never owns a block there, whatever other bits it carries.
bool ownsAlphaBlock(const KX_GfxBuffer* b) {
    const uint32_t kind = KXSUP_AlphaHolds(b);
    return b->AlphaData && kind != KXALPHA_NONE && kind != KXALPHA_SINGLECOLOR;
}

uint16_t swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
uint32_t swap32(uint32_t v) { return __builtin_bswap32(v); }
uint64_t swap64(uint64_t v) { return __builtin_bswap64(v); }

// Reverses the bytes of one value in place; the block need not be aligned.
template <typename T, T (*Swap)(T)>
void swapInPlace(void* value, uint32_t from, uint32_t to) {
    if (!value || from == to) return;
    T v;
    memcpy(&v, value, sizeof(T));
    v = Swap(v);
    memcpy(value, &v, sizeof(T));
}

// The order code of this machine's own byte order.
constexpr uint32_t kHostOrder = std::endian::native == std::endian::big ? KXENDIAN_BIG : KXENDIAN_LITTLE;

void swapSamples(uint8_t* data, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) {
        uint8_t t = data[2 * i];
        data[2 * i] = data[2 * i + 1];
        data[2 * i + 1] = t;
    }
}

// Common start of the alpha-map functions: the map counts only in a
// version-3 record of 24 or 48 bits whose AlphaData holds a map.
uint32_t alphaMapPrologue(const KX_GfxBuffer* b, uint32_t* pixels) {
    const uint32_t kind = KXSUP_AlphaHolds(b);
    if (kind != KXALPHA_CHANNEL8 && kind != KXALPHA_CHANNEL16) return KXERR_NEEDALPHA;
    if (b->PixelBits != 24 && b->PixelBits != 48) return KXERR_NEEDALPHA;
    if (!b->AlphaData) return KXERR_NEEDALPHA;
    if (uint32_t err = KXSUP_CheckSize(pixels, b->Width, b->Height, 2)) return err;
    if (*pixels == 0) return KXERR_FILEREQUIREMENTS;
    *pixels /= 2;
    return KXERR_NONE;
}

uint8_t* narrowMap(const KX_GfxBuffer* b, uint32_t pixels, int rounding) {
    auto* map = static_cast<uint8_t*>(AllocVec(pixels, MEMF_ANY));
    if (map)
        KXSUP_Convert16To8Bit(static_cast<const uint16_t*>(b->AlphaData), map, pixels, 1, KXSUP_GetGfxBufferEndianess(b), rounding);
    return map;
}

uint16_t* widenMap(const KX_GfxBuffer* b, uint32_t pixels) {
    auto* map = static_cast<uint16_t*>(AllocVec(size_t(pixels) * 2, MEMF_ANY));
    if (map) KXSUP_Convert8To16Bit(KXSUP_AlphaBytes(b), map, pixels, 1);
    return map;
}

}  // namespace

uint32_t KXSUP_AlphaHolds(const KX_GfxBuffer* b) {
    if (!b || b->Version < 3) return KXALPHA_NONE;
    const uint32_t kind = b->AlphaType;
    if (kind & KXALPHA_SINGLECOLOR) return KXALPHA_SINGLECOLOR;
    if (kind & KXALPHA_CHANNEL16) return KXALPHA_CHANNEL16;
    if (kind & KXALPHA_CHANNEL8) return KXALPHA_CHANNEL8;
    if (kind & KXALPHA_MULTICOLOR) return KXALPHA_MULTICOLOR;
    return KXALPHA_NONE;
}

uint32_t KXSUP_AllocGfxBuffer(KX_GfxBuffer** buffer, uint32_t version, uint32_t dataSize, uint32_t memFlags, uint32_t) {
    if (!buffer) return KXERR_INTERNALACCESS;
    *buffer = nullptr;
    if (version > 4) return KXERR_NEWERVERSION;
    // A block beyond the library's size limit is refused as memory that is not there.
    if (uint32_t err = KXSUP_CheckSize(nullptr, dataSize)) return err;
    auto* b = static_cast<KX_GfxBuffer*>(AllocVec(sizeof(KX_GfxBuffer), MEMF_CLEAR));
    if (!b) return KXERR_NOMEMORY;
    b->Version = version ? version : 1;
    if (dataSize > 0) {
        b->Data = static_cast<uint8_t*>(AllocVec(dataSize, memFlags));
        if (!b->Data) {
            FreeVec(b);
            return KXERR_NOMEMORY;
        }
        b->BufferSize = dataSize;
    }
    *buffer = b;
    return KXERR_NONE;
}

void KXSUP_FreeGfxBuffer(KX_GfxBuffer* buffer) {
    if (!buffer) return;
    FreeVec(buffer->Data);
    if (ownsAlphaBlock(buffer)) FreeVec(buffer->AlphaData);
    FreeVec(buffer);
}

uint32_t KXSUP_CopyGfxBuffer(const KX_GfxBuffer* source, KX_GfxBuffer** copy, int copyData, uint32_t memFlags) {
    if (!copy) return KXERR_INTERNALACCESS;
    *copy = nullptr;
    if (!source) return KXERR_INTERNALACCESS;

    // Size the alpha block before anything is allocated.
    uint32_t alphaSize = 0;
    bool hasAlpha = ownsAlphaBlock(source);
    if (hasAlpha) {
        const uint32_t kind = KXSUP_AlphaHolds(source);
        uint32_t err;
        if (kind == KXALPHA_CHANNEL16) err = KXSUP_CheckSize(&alphaSize, source->Width, source->Height, 2);
        else if (kind == KXALPHA_CHANNEL8) err = KXSUP_CheckSize(&alphaSize, source->Width, source->Height);
        else err = KXSUP_CheckSize(&alphaSize, 256);
        if (err) return err;
    }
    if (uint32_t err = KXSUP_CheckSize(nullptr, source->BufferSize)) return err;
    if (copyData && source->BufferSize > 0 && !source->Data) return KXERR_INTERNALACCESS;

    auto* b = static_cast<KX_GfxBuffer*>(AllocVec(sizeof(KX_GfxBuffer), MEMF_CLEAR));
    if (!b) return KXERR_NOMEMORY;
    memcpy(b, source, recordBytesOfVersion(source->Version));
    b->Data = nullptr;
    if (KXSUP_AlphaHolds(source) != KXALPHA_SINGLECOLOR) b->AlphaData = nullptr;

    if (source->BufferSize > 0) {
        b->Data = static_cast<uint8_t*>(AllocVec(source->BufferSize, memFlags));
        if (!b->Data) {
            FreeVec(b);
            return KXERR_NOMEMORY;
        }
        if (copyData) memcpy(b->Data, source->Data, source->BufferSize);
    }
    if (hasAlpha && alphaSize > 0) {
        b->AlphaData = AllocVec(alphaSize, memFlags);
        if (!b->AlphaData) {
            FreeVec(b->Data);
            FreeVec(b);
            return KXERR_NOMEMORY;
        }
        if (copyData) memcpy(b->AlphaData, source->AlphaData, alphaSize);
    }
    *copy = b;
    return KXERR_NONE;
}

uint32_t KXSUP_SetGfxBufferVersion(KX_GfxBuffer* buffer, uint32_t version) {
    if (!buffer) return KXERR_INTERNALACCESS;
    uint32_t result = KXERR_NONE;
    uint32_t wanted = version;
    if (wanted == 0) {
        wanted = 1;
        result = KXERR_NEWERVERSION;
    } else if (wanted > 4) {
        wanted = 4;
        result = KXERR_NEWERVERSION;
    }
    uint32_t old = buffer->Version;
    if (old == 0) {
        memset(buffer, 0, sizeof(KX_GfxBuffer));
    } else {
        if (wanted >= 4 && old < 4) buffer->Flags = 0;
        if (wanted >= 3 && old < 3) {
            buffer->AlphaType = 0;
            buffer->AlphaData = nullptr;
        }
        if (wanted >= 2 && old < 2) buffer->NativeDIPF = 0;
        // Below version 3 the alpha fields do not exist: an owned block would
        // be lost to KXSUP_FreeGfxBuffer, so it goes now.
        if (wanted < 3 && old >= 3) {
            if (ownsAlphaBlock(buffer)) FreeVec(buffer->AlphaData);
            buffer->AlphaType = 0;
            buffer->AlphaData = nullptr;
        }
    }
    buffer->Version = wanted;
    return result;
}

uint32_t KXSUP_GetGfxBufferFlags(const KX_GfxBuffer* buffer) {
    if (!buffer || buffer->Version < 4) return 0;
    return buffer->Flags;
}

static uint32_t raiseForFlags(KX_GfxBuffer* buffer, int upgrade) {
    if (!buffer) return KXERR_INTERNALACCESS;
    if (buffer->Version >= 4) return KXERR_NONE;
    if (!upgrade) return KXERR_NEWERVERSION;
    KXSUP_SetGfxBufferVersion(buffer, 4);
    return KXERR_NONE;
}

uint32_t KXSUP_SetGfxBufferFlags(KX_GfxBuffer* buffer, uint32_t value, int upgrade) {
    uint32_t err = raiseForFlags(buffer, upgrade);
    if (err) return err;
    buffer->Flags = value;
    return KXERR_NONE;
}

uint32_t KXSUP_AddGfxBufferFlags(KX_GfxBuffer* buffer, uint32_t bits, int upgrade) {
    uint32_t err = raiseForFlags(buffer, upgrade);
    if (err) return err;
    buffer->Flags |= bits;
    return KXERR_NONE;
}

int KXSUP_IsGrayBuffer(const KX_GfxBuffer* buffer) { return (KXSUP_GetGfxBufferFlags(buffer) & KXGFXF_GRAY) ? 1 : 0; }

int KXSUP_IsSrc8BitBuffer(const KX_GfxBuffer* buffer) { return (KXSUP_GetGfxBufferFlags(buffer) & KXGFXF_SRC8BIT) ? 1 : 0; }

// Marks a version-4 record; both marks go first so that a record never ends
// up carrying the two contradicting ones.
static void markOrder(KX_GfxBuffer* buffer, uint32_t flagValue) {
    if (buffer->Version < 4) return;
    buffer->Flags &= ~(KXGFXF_MM | KXGFXF_II);
    if (flagValue & KXGFXF_MM) buffer->Flags |= KXGFXF_MM;
    else if (flagValue & KXGFXF_II) buffer->Flags |= KXGFXF_II;
}

uint32_t KXSUP_SetGfxBufferEndianess(KX_GfxBuffer* buffer, uint32_t flagValue) {
    if (!buffer) return KXERR_INTERNALACCESS;
    if (buffer->Version < 4) KXSUP_SetGfxBufferVersion(buffer, 4);
    markOrder(buffer, flagValue);
    return KXERR_NONE;
}

uint32_t KXSUP_GetGfxBufferEndianess(const KX_GfxBuffer* buffer) {
    return (KXSUP_GetGfxBufferFlags(buffer) & KXGFXF_MM) ? KXENDIAN_BIG : KXENDIAN_LITTLE;
}

uint32_t KXSUP_ConvertGfxBufferEndianess(KX_GfxBuffer* buffer, uint32_t wantedOrder) {
    if (!buffer) return KXERR_INTERNALACCESS;
    if (buffer->ColorDepth != 48) return KXERR_NEED48BIT;
    if (buffer->Type != ONEPLANE) return KXERR_FILEREQUIREMENTS;
    // Any code other than big asks for little-endian samples.
    uint32_t wanted = wantedOrder == KXENDIAN_BIG ? KXENDIAN_BIG : KXENDIAN_LITTLE;
    uint32_t flags = KXSUP_GetGfxBufferFlags(buffer);
    if (buffer->Version >= 4) {
        // A buffer already marked with the wanted order needs nothing, locked or not.
        if (wanted == KXENDIAN_BIG && (flags & KXGFXF_MM) && !(flags & KXGFXF_II)) return KXERR_NONE;
        if (wanted == KXENDIAN_LITTLE && (flags & KXGFXF_II) && !(flags & KXGFXF_MM)) return KXERR_NONE;
        if (flags & KXGFXF_LOCKED) return KXERR_ENDIANLOCKED;
        if ((flags & KXGFXF_MM) && (flags & KXGFXF_II)) return KXERR_ENDIANCONFLICT;
    }
    uint32_t current = (flags & KXGFXF_MM) ? KXENDIAN_BIG : KXENDIAN_LITTLE;
    if (current != wanted) {
        uint32_t sampleBytes = 0;
        if (!KXSUP_CheckedSize(&sampleBytes, buffer->Width, buffer->Height, 6) || buffer->BufferSize < sampleBytes)
            return KXERR_FILEREQUIREMENTS;
        if (sampleBytes && !buffer->Data) return KXERR_INTERNALACCESS;
        bool alpha16 = KXSUP_AlphaHolds(buffer) == KXALPHA_CHANNEL16;
        if (alpha16 && sampleBytes && !buffer->AlphaData) return KXERR_INTERNALACCESS;
        swapSamples(buffer->Data, uint64_t(sampleBytes) / 2);
        if (alpha16) swapSamples(KXSUP_AlphaBytes(buffer), uint64_t(sampleBytes) / 6);
        // Swapped samples must carry their mark, or the next reader takes
        // them for little-endian: an older record is raised to version 4.
        if (buffer->Version < 4) KXSUP_SetGfxBufferVersion(buffer, 4);
    }
    markOrder(buffer, wanted == KXENDIAN_BIG ? KXGFXF_MM : KXGFXF_II);
    return KXERR_NONE;
}

uint32_t KXSUP_Convert8To16Bit(const uint8_t* source, uint16_t* destination, uint32_t width, uint32_t height, uint32_t) {
    if (!source || !destination) return KXERR_INTERNALACCESS;
    uint64_t count = uint64_t(width) * height;
    for (uint64_t i = 0; i < count; ++i) destination[i] = static_cast<uint16_t>(source[i] * 257u);
    return KXERR_NONE;
}

uint32_t KXSUP_Convert16To8Bit(const uint16_t* source, uint8_t* destination, uint32_t width, uint32_t height, uint32_t sourceOrder,
                               int rounding) {
    if (!source || !destination) return KXERR_INTERNALACCESS;
    uint64_t count = uint64_t(width) * height;
    // Codes other than big count as little-endian.
    bool swap = (sourceOrder == KXENDIAN_BIG) != (kHostOrder == KXENDIAN_BIG);
    // Value i is read before byte i is written and byte i never lies past
    // value i, so the forward loop is safe when both are one block.
    const auto* in = reinterpret_cast<const uint8_t*>(source);
    for (uint64_t i = 0; i < count; ++i) {
        uint16_t v;
        memcpy(&v, in + 2 * i, 2);
        if (swap) v = swap16(v);
        destination[i] = static_cast<uint8_t>(rounding ? v / 257u : v >> 8);
    }
    return KXERR_NONE;
}

uint32_t KXSUP_CopyAlphaMap8(const KX_GfxBuffer* buffer, uint8_t** copy, int rounding) {
    if (!copy) return KXERR_INTERNALACCESS;
    *copy = nullptr;
    if (!buffer) return KXERR_INTERNALACCESS;
    uint32_t pixels = 0;
    if (uint32_t err = alphaMapPrologue(buffer, &pixels)) return err;
    uint8_t* map;
    if (buffer->AlphaType & KXALPHA_CHANNEL16) {
        map = narrowMap(buffer, pixels, rounding);
    } else if (buffer->AlphaType & KXALPHA_CHANNEL8) {
        map = static_cast<uint8_t*>(AllocVec(pixels, MEMF_ANY));
        if (map) memcpy(map, buffer->AlphaData, pixels);
    } else {
        return KXERR_NEEDALPHA;
    }
    if (!map) return KXERR_NOMEMORY;
    *copy = map;
    return KXERR_NONE;
}

uint32_t KXSUP_GetAlphaMap8(const KX_GfxBuffer* buffer, uint8_t** map, int* allocated, int convert, int rounding) {
    if (!map) return KXERR_INTERNALACCESS;
    *map = nullptr;
    if (allocated) *allocated = 0;
    if (!buffer) return KXERR_INTERNALACCESS;
    uint32_t pixels = 0;
    if (uint32_t err = alphaMapPrologue(buffer, &pixels)) return err;
    if (buffer->AlphaType & KXALPHA_CHANNEL8) {
        *map = KXSUP_AlphaBytes(buffer);
        return KXERR_NONE;
    }
    if (!convert || !(buffer->AlphaType & KXALPHA_CHANNEL16)) return KXERR_NEEDALPHA;
    // The caller frees the copy, so it must be told it has one.
    if (!allocated) return KXERR_INTERNALACCESS;
    uint8_t* copy = narrowMap(buffer, pixels, rounding);
    if (!copy) return KXERR_NOMEMORY;
    *map = copy;
    *allocated = 1;
    return KXERR_NONE;
}

uint32_t KXSUP_CopyAlphaMap16(const KX_GfxBuffer* buffer, uint16_t** copy) {
    if (!copy) return KXERR_INTERNALACCESS;
    *copy = nullptr;
    if (!buffer) return KXERR_INTERNALACCESS;
    uint32_t pixels = 0;
    if (uint32_t err = alphaMapPrologue(buffer, &pixels)) return err;
    uint16_t* map;
    if (buffer->AlphaType & KXALPHA_CHANNEL8) {
        map = widenMap(buffer, pixels);
    } else if (buffer->AlphaType & KXALPHA_CHANNEL16) {
        map = static_cast<uint16_t*>(AllocVec(size_t(pixels) * 2, MEMF_ANY));
        if (map) memcpy(map, buffer->AlphaData, size_t(pixels) * 2);
    } else {
        return KXERR_NEEDALPHA;
    }
    if (!map) return KXERR_NOMEMORY;
    *copy = map;
    return KXERR_NONE;
}

uint32_t KXSUP_GetAlphaMap16(const KX_GfxBuffer* buffer, uint16_t** map, int* allocated, int convert) {
    if (!map) return KXERR_INTERNALACCESS;
    *map = nullptr;
    if (allocated) *allocated = 0;
    if (!buffer) return KXERR_INTERNALACCESS;
    uint32_t pixels = 0;
    if (uint32_t err = alphaMapPrologue(buffer, &pixels)) return err;
    if (buffer->AlphaType & KXALPHA_CHANNEL16) {
        *map = static_cast<uint16_t*>(buffer->AlphaData);
        return KXERR_NONE;
    }
    if (!convert || !(buffer->AlphaType & KXALPHA_CHANNEL8)) return KXERR_NEEDALPHA;
    if (!allocated) return KXERR_INTERNALACCESS;
    uint16_t* copy = widenMap(buffer, pixels);
    if (!copy) return KXERR_NOMEMORY;
    *map = copy;
    *allocated = 1;
    return KXERR_NONE;
}

uint32_t KXSUP_ColorsToDepth(uint32_t colors) {
    uint32_t depth = 1;
    while (depth < 8 && colors > (1u << depth)) ++depth;
    return depth;
}

uint32_t KXSUP_BestModeID(uint32_t, uint32_t, uint32_t) { return 0; }

int IsHamBuffer(const KX_GfxBuffer* buffer) {
    if (!buffer) return 0;
    if (buffer->Version >= 2 && (buffer->NativeDIPF & KXDIPF_HAM)) return 1;
    return buffer->ViewMode != KXVIEWMODE_NONE && (buffer->ViewMode & KXVIEWMODE_HAM) ? 1 : 0;
}

int IsEhbBuffer(const KX_GfxBuffer* buffer) {
    if (!buffer) return 0;
    if (buffer->Version >= 2 && (buffer->NativeDIPF & KXDIPF_EHB)) return 1;
    return buffer->ViewMode != KXVIEWMODE_NONE && (buffer->ViewMode & KXVIEWMODE_EHB) ? 1 : 0;
}

int KXSUP_SetGfxBufferModeFlags(KX_GfxBuffer* buffer) {
    if (!buffer) return 0;
    if (buffer->Version < 2) {
        buffer->Version = 2;
        buffer->NativeDIPF = 0;
    }
    buffer->NativeDIPF = IsHamBuffer(buffer) ? uint32_t(KXDIPF_HAM) : IsEhbBuffer(buffer) ? uint32_t(KXDIPF_EHB) : 0u;
    return 1;
}

// ---- byte order of single values ----

uint16_t EqEndianWORD(uint16_t value, uint32_t from, uint32_t to) { return from == to ? value : swap16(value); }

uint32_t EqEndianLONG(uint32_t value, uint32_t from, uint32_t to) { return from == to ? value : swap32(value); }

uint64_t EqEndianQUAD(uint64_t value, uint32_t from, uint32_t to) { return from == to ? value : swap64(value); }

void EndianWORD(void* value, uint32_t from, uint32_t to) { swapInPlace<uint16_t, swap16>(value, from, to); }

void EndianLONG(void* value, uint32_t from, uint32_t to) { swapInPlace<uint32_t, swap32>(value, from, to); }

void EndianQUAD(void* value, uint32_t from, uint32_t to) { swapInPlace<uint64_t, swap64>(value, from, to); }
