// kxoKGX: reads and writes KGX files (see kxoKGX.h): bit planes of 1-8
// bits, chunky 8-bit, 24-bit and 48-bit pixels, with an 8- or 16-bit alpha
// value per pixel. Relies on zlib (compress2/uncompress), the
// graphics-buffer helpers and the safe save. Refuses "PP20" and "XPK" data,
// storage kinds that do not match the depth, and data whose length differs
// from what the header promises.
#include "formats/iff/kxoKGX.h"

#include <strings.h>
#include <zlib.h>

#include <cstring>

namespace {
const uint32_t kHeaderSize = 822;
const char kMagicNew[] = "KGX Graphics File";
const char kMagicOld[] = "KXG Graphics File";

// Packs `pixels` pixels of four SB-byte samples in place to three samples,
// the fourth to map (when not null).
template <uint32_t SB>
void splitFourth(uint8_t* data, uint64_t pixels, uint8_t* map) {
    uint8_t* d = data;
    const uint8_t* s = data;
    for (uint64_t i = 0; i < pixels; ++i, s += 4 * SB, d += 3 * SB) {
        uint8_t a[SB];
        memcpy(a, s + 3 * SB, SB);
        memmove(d, s, 3 * SB);
        if (map) memcpy(map + i * SB, a, SB);
    }
}
}  // namespace

uint32_t writeKgxLz77(const uint8_t* data, uint32_t n, int level, uint8_t** block, uint32_t* size) {
    *block = nullptr;
    *size = 0;
    // compressBound: enough room for any input, a single pixel included.
    uLong bound = compressBound(n);
    uint32_t room;
    if (!KXSUP_CheckedSize(&room, (uint64_t)bound + 8)) return KXERR_NOMEMORY;
    uint8_t* out = static_cast<uint8_t*>(AllocVec(room, MEMF_ANY));
    if (!out) return KXERR_NOMEMORY;
    memcpy(out, "LZ77", 4);
    iffPut32(out + 4, n);
    uLongf packed = bound;
    if (compress2(out + 8, &packed, data, n, level) != Z_OK) {
        FreeVec(out);
        return KXERR_ENCODE;
    }
    *block = out;
    *size = (uint32_t)(packed + 8);
    return KXERR_NONE;
}

uint32_t readKgxLz77(const uint8_t* block, uint32_t blockSize, uint32_t expected, uint8_t** data, uint32_t* size) {
    *data = nullptr;
    *size = 0;
    if (blockSize < 8) return KXERR_DECODE;
    const uint32_t n = iffGet32(block + 4);
    // Checked before anything is allocated.
    if (n != expected || !iffPlausibleUnpackedLength(n, blockSize - 8)) return KXERR_DECODE;
    uint8_t* out = static_cast<uint8_t*>(AllocVec(n ? n : 1, MEMF_ANY));
    if (!out) return KXERR_NOMEMORY;
    uLongf got = n;
    if (uncompress(out, &got, block + 8, blockSize - 8) != Z_OK) {
        FreeVec(out);
        return KXERR_DECODE;
    }
    *data = out;
    *size = (uint32_t)got;
    return KXERR_NONE;
}

kxoKGX::kxoKGX(KXClass* lib) : KXIffModule(lib, "kxoKGX", ".KGX", "") {
    InitOwn();
    Configure(nullptr);
}

void kxoKGX::InitOwn() {
    Header = nullptr;
    Interleaved = nullptr;
}

void kxoKGX::Reset() {
    ReleaseFrame();
    FrameReset();
    if (Header) FreeVec(Header);
    if (Interleaved) FreeVec(Interleaved);
    InitOwn();
}

uint32_t kxoKGX::CheckFile(FILE* file, const char* /*name*/, int32_t mode) {
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t head[18];
    if (!iffReadHead(file, head, 18)) return 0;
    return memcmp(head, kMagicOld, 17) == 0 || memcmp(head, kMagicNew, 17) == 0 ? 1 : 0;
}

uint32_t kxoKGX::Save() {
    if (IOMode != KXIO_FILE) return KXERR_NOTSUPPORTED;
    KX_GfxBuffer* buf = SaveBuffer;
    if (!buf || (buf->Type != BITPLANE && buf->Type != ONEPLANE)) return KXERR_NOTSUPPORTED;
    const uint32_t depth = buf->ColorDepth, width = buf->Width, height = buf->Height;
    if (!((depth >= 1 && depth <= 8) || depth == 24 || depth == 48)) return KXERR_FILEREQUIREMENTS;
    if (width == 0 || height == 0 || !buf->Data) return KXERR_FILEREQUIREMENTS;
    if (Interleaved) {
        FreeVec(Interleaved);
        Interleaved = nullptr;
    }

    uint32_t storage, planes, imageSize;
    uint64_t bytesPerRow;
    if (buf->Type == BITPLANE) {
        if (depth > 8 || buf->BytesPerLine < (width + 7ull) / 8) return KXERR_FILEREQUIREMENTS;
        storage = 1;
        planes = depth;
        bytesPerRow = buf->BytesPerLine;
        if (!KXSUP_CheckedSize(&imageSize, bytesPerRow, height, depth)) return KXERR_FILEREQUIREMENTS;
    } else {
        if (!((depth <= 8 && buf->PixelBits == 8) || (depth == 24 && buf->PixelBits == 24) || (depth == 48 && buf->PixelBits == 48)))
            return KXERR_FILEREQUIREMENTS;
        storage = buf->PixelBits;
        planes = 1;
        bytesPerRow = (uint64_t)storage / 8 * width;
        if (!KXSUP_CheckedSize(&imageSize, bytesPerRow, height)) return KXERR_FILEREQUIREMENTS;
    }
    if (buf->BufferSize < imageSize) return KXERR_FILEREQUIREMENTS;

    if (depth == 48) {
        uint32_t e = KXSUP_ConvertGfxBufferEndianess(buf, KXENDIAN_BIG);
        if (e != KXERR_NONE) return e;
    }

    uint32_t fileDepth = depth;
    const uint8_t* body = buf->Data;
    uint32_t bodySize = imageSize;
    if (buf->Type == ONEPLANE && depth > 8) {
        // R,G,B(,A) with the alpha behind the samples, 48-bit big-endian by now.
        uint32_t e = WeaveAlpha(buf, false, KXERR_FILEREQUIREMENTS, &Interleaved, &bodySize);
        if (e != KXERR_NONE) return e;
        if (Interleaved) {
            storage = fileDepth = depth == 24 ? 32 : 64;
            bytesPerRow = (uint64_t)storage / 8 * width;
            body = Interleaved;
        }
    }
    if (bytesPerRow > 0xFFFFFFFFu) return KXERR_FILEREQUIREMENTS;

    if (!Header) Header = static_cast<uint8_t*>(AllocVec(kHeaderSize, MEMF_CLEAR));
    if (!Header) return KXERR_NOMEMORY;
    memset(Header, 0, kHeaderSize);
    const bool oldStyle = SelectedSubFormat == SubFormatIds[0];
    memcpy(Header, oldStyle ? kMagicOld : kMagicNew, 18);
    iffPut16(Header + 18, 1);
    iffPut32(Header + 20, kHeaderSize);
    iffPut32(Header + 32, width);
    iffPut32(Header + 36, height);
    iffPut32(Header + 40, fileDepth);
    iffPut32(Header + 44, buf->ViewMode);
    Header[48] = (uint8_t)storage;
    Header[49] = (uint8_t)planes;
    iffPut32(Header + 50, (uint32_t)bytesPerRow);
    memcpy(Header + 54, buf->Palette, 768);

    // Packing comes before the file is opened: a failed save leaves the
    // old file and no half-written one.
    uint8_t* packed = nullptr;
    uint32_t packedSize = 0;
    if (!oldStyle && SelectedSubFormat != SubFormatIds[2]) {
        long level = KeyNumber("Z_COMPRESSION", 6);
        if ((unsigned long)level > 9) level = 6;
        uint32_t e = writeKgxLz77(body, bodySize, (int)level, &packed, &packedSize);
        if (e != KXERR_NONE) return e;
        body = packed;
        bodySize = packedSize;
    }

    if (!SaveName || !*SaveName || !KXSUP_SafeOpen(&Safe, SaveName)) {
        if (packed) FreeVec(packed);
        return KXERR_NODESTFILE;
    }
    SafeOpenNow = true;
    bool ok = amWrite(Safe.File, Header, kHeaderSize) == (long)kHeaderSize;
    ReportProgress(30);
    if (packed) ReportProgress(70);
    if (ok && bodySize) ok = amWrite(Safe.File, body, bodySize) == (long)bodySize;
    if (packed) FreeVec(packed);
    ReportProgress(100);
    SafeOpenNow = false;
    uint32_t r = KXSUP_SafeCommit(&Safe, ok);
    return ok && r == KXERR_NONE ? KXERR_NONE : KXERR_IO;
}

uint32_t kxoKGX::Load() {
    if (LoadedBuffer) {
        KXSUP_FreeGfxBuffer(LoadedBuffer);
        LoadedBuffer = nullptr;
    }
    if (!Header) Header = static_cast<uint8_t*>(AllocVec(kHeaderSize, MEMF_CLEAR));
    if (!Header) return KXERR_NOMEMORY;
    memset(Header, 0, kHeaderSize);
    if (ReadFile) amClose(ReadFile);
    ReadFile = amOpen(ReadName, "rb");
    if (!ReadFile) return KXERR_FILENOTFOUND;
    amSetVBuf(ReadFile, nullptr, _IOFBF, 1024);
    uint8_t* data = nullptr;
    auto fail = [&](uint32_t code) {
        if (data) FreeVec(data);
        amClose(ReadFile);
        ReadFile = nullptr;
        return code;
    };
    // The magic decides first: a short file of another kind is unknown,
    // a short KGX file is damaged.
    const long got = amFRead(ReadFile, Header, 1, kHeaderSize);

    bool oldStyle;
    if (strncasecmp(reinterpret_cast<char*>(Header), kMagicOld, 17) == 0)
        oldStyle = true;
    else if (strncasecmp(reinterpret_cast<char*>(Header), kMagicNew, 17) == 0)
        oldStyle = false;
    else
        return fail(KXERR_UNKNOWNFORMAT);
    if (got != (long)kHeaderSize) return fail(KXERR_DECODE);

    const uint32_t offset = iffGet32(Header + 20), width = iffGet32(Header + 32), height = iffGet32(Header + 36);
    const uint32_t depth = iffGet32(Header + 40), viewMode = iffGet32(Header + 44);
    const uint32_t storage = Header[48], bytesPerRow = iffGet32(Header + 50);
    if (!((depth >= 1 && depth <= 8) || depth == 24 || depth == 32 || depth == 48 || depth == 64)) return fail(KXERR_FILEREQUIREMENTS);
    if (width == 0 || height == 0) return fail(KXERR_FILEREQUIREMENTS);
    // The storage kind must agree with the depth, and bit-plane rows must
    // hold the width, before any size is formed from them.
    bool storageOk;
    switch (storage) {
        case 1: storageOk = depth <= 8 && bytesPerRow >= (width + 7ull) / 8; break;
        case 8: storageOk = depth <= 8; break;
        case 24: storageOk = depth == 24; break;
        case 32: storageOk = depth == 24 || depth == 32; break;
        case 48: storageOk = depth == 48; break;
        case 64: storageOk = depth == 48 || depth == 64; break;
        default: storageOk = false;
    }
    if (!storageOk) return fail(KXERR_FILEREQUIREMENTS);
    uint32_t expected;
    // 15 beyond 32 bits, 3 beyond the library's size limit.
    const uint32_t sized = storage == 1 ? KXSUP_CheckSize(&expected, bytesPerRow, height, depth) : KXSUP_CheckSize(&expected, storage / 8, width, height);
    if (sized) return fail(sized);

    if (amSeek(ReadFile, 0, SEEK_END) < 0) return fail(KXERR_DECODE);
    const long fileSize = amSeek(ReadFile, 0, SEEK_CUR);
    if (fileSize < 0 || (int64_t)offset > (int64_t)fileSize) return fail(KXERR_DECODE);
    const uint64_t dataSize = (uint64_t)fileSize - offset;
    uint8_t tag[4] = {};
    if (amSeek(ReadFile, (long)offset, SEEK_SET) < 0) return fail(KXERR_DECODE);
    if (dataSize >= 4 && amRead(ReadFile, tag, 4) != 4) return fail(KXERR_DECODE);
    amSeek(ReadFile, (long)offset, SEEK_SET);

    uint32_t size = expected;
    if (memcmp(tag, "PP20", 4) == 0 || (oldStyle && memcmp(tag, "XPK", 3) == 0)) {
        if (Log) Log->Log(1, "%-16s: %s\n", "kgx", "Subtype: old-style (XPK)");
        return fail(KXERR_FILEREQUIREMENTS);
    } else if (!oldStyle && memcmp(tag, "LZ77", 4) == 0) {
        if (Log) Log->Log(1, "%-16s: %s\n", "kgx", "Subtype: compressed (LZ77)");
        SubFormatId = 1;
        if (dataSize > 0xFFFFFFFFu) return fail(KXERR_DECODE);
        data = static_cast<uint8_t*>(AllocVec((size_t)dataSize, MEMF_ANY));
        if (!data) return fail(KXERR_NOMEMORY);
        if (amRead(ReadFile, data, (size_t)dataSize) != (long)dataSize) return fail(KXERR_DECODE);
        uint8_t* unpacked = nullptr;
        uint32_t e = readKgxLz77(data, (uint32_t)dataSize, expected, &unpacked, &size);
        FreeVec(data);
        data = unpacked;
        if (e != KXERR_NONE) return fail(e);
        if (size != expected) return fail(KXERR_DECODE);
    } else {
        if (Log) Log->Log(1, "%-16s: %s\n", "kgx", "Subtype: uncompressed");
        SubFormatId = oldStyle ? 0 : 2;
        if (dataSize != expected) return fail(KXERR_DECODE);
        data = static_cast<uint8_t*>(AllocVec(expected, MEMF_ANY));
        if (!data) return fail(KXERR_NOMEMORY);
        if (amRead(ReadFile, data, expected) != (long)expected) return fail(KXERR_DECODE);
    }
    if (oldStyle) SubFormatId = 0;
    if (Log) Log->Log(1, "%-16s: %s\n", "kgx", "Decoding...");
    ReportProgress(80);

    KX_GfxBuffer* b = nullptr;
    uint32_t e = KXSUP_AllocGfxBuffer(&b, 1, 0, MEMF_CLEAR);
    if (e != KXERR_NONE || !b) return fail(e != KXERR_NONE ? e : KXERR_NOMEMORY);
    b->Version = 1;
    if (storage == 1) {
        b->Type = BITPLANE;
        b->BytesPerLine = bytesPerRow;
    } else {
        b->Type = ONEPLANE;
        b->PixelBits = storage;
    }
    b->Width = width;
    b->Height = height;
    b->ColorDepth = depth;
    b->ViewMode = viewMode;
    KXSUP_SetGfxBufferModeFlags(b);
    b->Data = data;
    b->BufferSize = size;
    data = nullptr;
    memcpy(b->Palette, Header + 54, 768);
    LoadedBuffer = b;

    const uint64_t pixels = (uint64_t)width * height;
    if (storage == 32 || storage == 64) {
        // Four samples a pixel, packed in place to three; the fourth goes to
        // the alpha map when the picture has one (else, or without memory
        // for the map, it is dropped).
        const uint32_t sb = storage / 32;
        uint8_t* map = depth == storage ? static_cast<uint8_t*>(AllocVec((size_t)(pixels * sb), MEMF_ANY)) : nullptr;
        if (sb == 2)
            splitFourth<2>(b->Data, pixels, map);
        else
            splitFourth<1>(b->Data, pixels, map);
        b->BufferSize = (uint32_t)(pixels * 3 * sb);
        b->ColorDepth = 24 * sb;
        b->PixelBits = 24 * sb;
        if (map) {
            b->Version = 3;
            b->AlphaType = sb == 2 ? KXALPHA_CHANNEL16 : KXALPHA_CHANNEL8;
            b->AlphaData = map;
        }
    }
    // Samples (and a 16-bit alpha map) stay big-endian as stored.
    if (b->ColorDepth == 48) KXSUP_SetGfxBufferEndianess(b, KXGFXF_MM);
    amClose(ReadFile);
    ReadFile = nullptr;
    return KXERR_NONE;
}
