// gfxbuffer: KX_GfxBuffer, the one image record of the system, and the core
// functions that create, free, version, flag, byte-swap and convert it.
#pragma once

#include "kxtypes.h"

enum : uint32_t {
    BITPLANE = 1,
    ONEPLANE = 2,
    NOPLANE = 3,
};

enum : uint32_t {
    KXALPHA_NONE = 0,
    KXALPHA_SINGLECOLOR = 1,
    KXALPHA_CHANNEL8 = 2,
    KXALPHA_MULTICOLOR = 4,
    KXALPHA_CHANNEL16 = 8,
};

enum : uint32_t {
    KXGFXF_MM = 1,
    KXGFXF_II = 2,
    KXGFXF_LOCKED = 4,
    KXGFXF_GRAY = 8,
    KXGFXF_SRC8BIT = 16,
    KXGFXF_SRCLOWDEPTH = 32,
    KXGFXF_ALPHASRC8BIT = 64,
};

enum : uint32_t {
    KXVIEWMODE_NONE = 0xFFFFFFFFu,
    KXVIEWMODE_HAM = 0x800,
    KXVIEWMODE_EHB = 0x80,
    KXDIPF_HAM = 8,
    KXDIPF_EHB = 0x1000,
};

struct KX_GfxBuffer {
    uint32_t Version;     // 1..4
    uint32_t Type;        // BITPLANE or ONEPLANE
    uint32_t Width;
    uint32_t Height;
    uint32_t ColorDepth;  // 1..8 (palette), 24, 48
    uint32_t ViewMode;    // 0x800 HAM, 0x80 EHB, 0xFFFFFFFF none
    uint8_t Palette[256 * 3];
    uint32_t BytesPerLine;  // BITPLANE only
    uint32_t PixelBits;     // ONEPLANE only: 8, 24, 48
    uint8_t* Data;
    uint32_t BufferSize;
    uint32_t NativeDIPF;  // v2+
    uint32_t AlphaType;   // v3+
    // v3+: the transparent index itself (kind 1) or the owned alpha block.
    void* AlphaData;
    uint32_t Flags;  // v4+
};

// Alpha kinds are bits, and AlphaData holds one thing. When several bits
// are set, one rule says what, for every reader of AlphaData: the index
// bit wins (AlphaData is then the transparent index itself), then a map
// (a block of 16-bit values when bit 8 is set, of bytes for bit 2), then
// the table of bit 4. The result is one of the five kinds; KXALPHA_NONE
// below version 3. The lending functions below keep their own rule for a
// record with both map bits (each lends the map of its own width).
uint32_t KXSUP_AlphaHolds(const KX_GfxBuffer* b);

inline uint8_t* KXSUP_AlphaBytes(const KX_GfxBuffer* b) { return static_cast<uint8_t*>(b->AlphaData); }
inline uint32_t KXSUP_AlphaIndex(const KX_GfxBuffer* b) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(b->AlphaData)); }
inline void KXSUP_SetAlphaIndex(KX_GfxBuffer* b, uint32_t index) { b->AlphaData = reinterpret_cast<void*>(static_cast<uintptr_t>(index)); }

// The fifth argument is ignored; it defaults for the callers that never pass it.
uint32_t KXSUP_AllocGfxBuffer(KX_GfxBuffer** buffer, uint32_t version, uint32_t dataSize, uint32_t memFlags, uint32_t unused = 0);
void KXSUP_FreeGfxBuffer(KX_GfxBuffer* buffer);
uint32_t KXSUP_CopyGfxBuffer(const KX_GfxBuffer* source, KX_GfxBuffer** copy, int copyData, uint32_t memFlags);
uint32_t KXSUP_SetGfxBufferVersion(KX_GfxBuffer* buffer, uint32_t version);
uint32_t KXSUP_GetGfxBufferFlags(const KX_GfxBuffer* buffer);
uint32_t KXSUP_SetGfxBufferFlags(KX_GfxBuffer* buffer, uint32_t value, int upgrade);
uint32_t KXSUP_AddGfxBufferFlags(KX_GfxBuffer* buffer, uint32_t bits, int upgrade);
int KXSUP_IsGrayBuffer(const KX_GfxBuffer* buffer);
int KXSUP_IsSrc8BitBuffer(const KX_GfxBuffer* buffer);
uint32_t KXSUP_SetGfxBufferEndianess(KX_GfxBuffer* buffer, uint32_t flagValue);
uint32_t KXSUP_GetGfxBufferEndianess(const KX_GfxBuffer* buffer);
uint32_t KXSUP_ConvertGfxBufferEndianess(KX_GfxBuffer* buffer, uint32_t wantedOrder);
// The order code is accepted for the callers that pass one; values are written in host order.
uint32_t KXSUP_Convert8To16Bit(const uint8_t* source, uint16_t* destination, uint32_t width, uint32_t height, uint32_t order = KXENDIAN_LITTLE);
// Source and destination may be the same block.
uint32_t KXSUP_Convert16To8Bit(const uint16_t* source, uint8_t* destination, uint32_t width, uint32_t height, uint32_t sourceOrder, int rounding);
uint32_t KXSUP_CopyAlphaMap8(const KX_GfxBuffer* buffer, uint8_t** copy, int rounding);
uint32_t KXSUP_GetAlphaMap8(const KX_GfxBuffer* buffer, uint8_t** map, int* allocated, int convert, int rounding);
uint32_t KXSUP_CopyAlphaMap16(const KX_GfxBuffer* buffer, uint16_t** copy);
uint32_t KXSUP_GetAlphaMap16(const KX_GfxBuffer* buffer, uint16_t** map, int* allocated, int convert);
uint32_t KXSUP_ColorsToDepth(uint32_t colors);
uint32_t KXSUP_BestModeID(uint32_t width, uint32_t height, uint32_t depth);
int IsHamBuffer(const KX_GfxBuffer* buffer);
int IsEhbBuffer(const KX_GfxBuffer* buffer);
int KXSUP_SetGfxBufferModeFlags(KX_GfxBuffer* buffer);

uint16_t EqEndianWORD(uint16_t value, uint32_t from, uint32_t to);
uint32_t EqEndianLONG(uint32_t value, uint32_t from, uint32_t to);
uint64_t EqEndianQUAD(uint64_t value, uint32_t from, uint32_t to);
void EndianWORD(void* value, uint32_t from, uint32_t to);
void EndianLONG(void* value, uint32_t from, uint32_t to);
void EndianQUAD(void* value, uint32_t from, uint32_t to);

// ---- conversions ----
uint32_t KXSUP_BitPlaneToOnePlane8(const KX_GfxBuffer* buffer, KX_GfxBuffer** result);
uint32_t KXSUP_OnePlaneToBitPlane8(const KX_GfxBuffer* buffer, KX_GfxBuffer** result);
uint32_t KXSUP_GfxBufferTo24Bit(const KX_GfxBuffer* buffer, KX_GfxBuffer** result);

// ---- hex text ----
uint32_t KXSUP_BinToHex(const uint8_t* data, char** text, uint32_t count, uint32_t* size);
uint32_t KXSUP_HexToBin(const char* text, uint8_t** data, uint32_t count, uint32_t* size);
