// kxoILBM: reads and writes FORM "ILBM" (see kxoILBM.h). Relies on the chunk
// layer, BMHD/CMAP/CAMG and ByteRun1 of iff.h, the graphics-buffer helpers
// (bit planes <-> chunky for palette images, alpha maps, byte order) and the
// safe save. Refuses 9 and 25 planes (recognised but not loaded), BMHDs
// longer than 20 bytes, compression methods above ByteRun1, pictures
// wider or taller than the 16-bit BMHD fields hold and bodies that end
// before the last row (29, as a file cut short). FORM ANIM is not read.
#include "formats/iff/kxoILBM.h"

#include <cstring>

namespace {
const char kStops[] =
    "ILBMBMHD"
    "ILBMCAMG"
    "ILBMCMAP"
    "ILBMNAME"
    "ILBMAUTH"
    "ILBMANNO"
    "ILBM(c) "
    "ILBMEXIF"
    "ILBMIPTC"
    "ILBMXMP0"
    "ILBMXMP1"
    "ILBMICCP"
    "ILBMICCN"
    "ILBMALPH"
    "ILBMBODY";
const uint32_t kStopCount = 15;

const char kBodyStops[] = "ILBMBODYANIMBODY";
const char kBmhdStops[] = "ILBMBMHDANIMANHD";

bool loadablePlanes(uint32_t p) { return (p >= 1 && p <= 8) || p == 24 || p == 32 || p == 48 || p == 64; }

// 8x8 bit matrix transpose, bit 8*r+c <-> bit 8*c+r.
inline uint64_t transpose8(uint64_t x) {
    uint64_t t;
    t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
    x ^= t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
    x ^= t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
    x ^= t ^ (t << 28);
    return x;
}

inline uint16_t load16(const uint8_t* p, bool bigEndian) {
    if (bigEndian) return (uint16_t)((p[0] << 8) | p[1]);
    uint16_t v;
    memcpy(&v, p, 2);
    return v;
}

inline void store16(uint8_t* p, uint16_t v, bool bigEndian) {
    if (bigEndian) {
        p[0] = (uint8_t)(v >> 8);
        p[1] = (uint8_t)v;
    } else {
        memcpy(p, &v, 2);
    }
}
}  // namespace

// Byte k of a 64-bit word holds plane k's byte of one 8-pixel group; after
// the transpose and a byte swap, byte j holds the value of pixel j (the
// leftmost pixel sits in bit 7 of every plane byte). The way back is the
// same two steps in the other order.
void ilbmPlanesToChannel(const uint8_t* planes, uint32_t bpr, uint32_t width, uint32_t bits, uint8_t* values, uint32_t stride, bool bigEndian) {
    const uint32_t groups = (width + 7) / 8;
    for (uint32_t g = 0; g < groups; ++g) {
        uint64_t lo = 0, hi = 0;
        for (uint32_t k = 0; k < 8; ++k) lo |= (uint64_t)planes[(size_t)k * bpr + g] << (8 * k);
        lo = __builtin_bswap64(transpose8(lo));
        if (bits == 16) {
            for (uint32_t k = 0; k < 8; ++k) hi |= (uint64_t)planes[(size_t)(k + 8) * bpr + g] << (8 * k);
            hi = __builtin_bswap64(transpose8(hi));
        }
        const uint32_t n = width - g * 8 < 8 ? width - g * 8 : 8;
        uint8_t* d = values + (size_t)g * 8 * stride;
        if (bits == 8) {
            for (uint32_t j = 0; j < n; ++j, d += stride) *d = (uint8_t)(lo >> (8 * j));
        } else {
            for (uint32_t j = 0; j < n; ++j, d += stride) store16(d, (uint16_t)(((lo >> (8 * j)) & 0xFF) | (((hi >> (8 * j)) & 0xFF) << 8)), bigEndian);
        }
    }
}

void ilbmChannelToPlanes(const uint8_t* values, uint32_t stride, uint32_t width, uint32_t bits, bool bigEndian, uint8_t* planes, uint32_t bpr) {
    const uint32_t groups = (width + 7) / 8;
    for (uint32_t g = 0; g < groups; ++g) {
        const uint32_t n = width - g * 8 < 8 ? width - g * 8 : 8;
        const uint8_t* s = values + (size_t)g * 8 * stride;
        uint64_t lo = 0, hi = 0;
        if (bits == 8) {
            for (uint32_t j = 0; j < n; ++j, s += stride) lo |= (uint64_t)*s << (8 * j);
        } else {
            for (uint32_t j = 0; j < n; ++j, s += stride) {
                uint16_t v = load16(s, bigEndian);
                lo |= (uint64_t)(v & 0xFF) << (8 * j);
                hi |= (uint64_t)(v >> 8) << (8 * j);
            }
        }
        lo = transpose8(__builtin_bswap64(lo));
        for (uint32_t k = 0; k < 8; ++k) planes[(size_t)k * bpr + g] = (uint8_t)(lo >> (8 * k));
        if (bits == 16) {
            hi = transpose8(__builtin_bswap64(hi));
            for (uint32_t k = 0; k < 8; ++k) planes[(size_t)(k + 8) * bpr + g] = (uint8_t)(hi >> (8 * k));
        }
    }
}

kxoILBM::kxoILBM(KXClass* lib) : KXIffBitmapModule(lib, "kxoILBM", ".LBM", "") {
    InitOwn();
    Configure(nullptr);
}

void kxoILBM::InitOwn() {
    Alph = nullptr;
    AlphSize = 0;
    Packed = nullptr;
    PlaneCopy = nullptr;
}

void kxoILBM::FreeWork() {
    FreeBitmapWork();
    if (Alph) FreeVec(Alph);
    if (Packed) FreeVec(Packed);
    if (PlaneCopy) KXSUP_FreeGfxBuffer(PlaneCopy);
    Alph = Packed = nullptr;
    PlaneCopy = nullptr;
    AlphSize = 0;
}

uint32_t kxoILBM::CheckFile(FILE* file, const char* /*name*/, int32_t mode) {
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t head[12];
    if (!iffReadHead(file, head, 12) || memcmp(head, "FORM", 4) != 0) return 0;
    if (memcmp(head + 8, "ILBM", 4) != 0 && !(memcmp(head + 8, "ANIM", 4) == 0 && KeyPresent("ANIM_BODIES"))) return 0;

    // The first stop must be the one asked for.
    auto firstStopIs = [&](const char* stops, const char* id, IffBmhd* bmhd) {
        IffHandle* h = iffAlloc();
        if (!h) return false;
        h->Stream = file;
        iffInitAsFile(h);
        bool ok = false;
        if (iffOpen(h, IFFF_READ) == 0) {
            iffSetStopChunks(h, stops, 2);
            IffChunk* c = iffParse(h);
            if (c && iffIdIs(c->Id, id)) {
                ok = true;
                if (bmhd) {
                    uint8_t raw[20] = {};
                    uint32_t n = iffChunkAvailable(h);
                    if (n > 20) n = 20;
                    if (n) iffReadChunkBytes(h, raw, n);
                    iffParseBmhd(raw, 20, bmhd);
                }
            }
        }
        iffClose(h);
        iffFree(h);
        amSeek(file, 0, SEEK_SET);
        return ok;
    };
    if (!firstStopIs(kBodyStops, "BODY", nullptr)) return 0;
    IffBmhd bmhd = {};
    if (!firstStopIs(kBmhdStops, "BMHD", &bmhd)) return 0;
    if (bmhd.Width == 0 || bmhd.Height == 0) return 0;
    const uint32_t p = bmhd.Planes;
    return p <= 9 || p == 24 || p == 25 || p == 32 || p == 48 || p == 64 ? 1 : 0;
}

uint32_t kxoILBM::Save() {
    if (!SaveBuffer) return KXERR_NOTSUPPORTED;
    FreeWork();
    KX_GfxBuffer* src = SaveBuffer;
    const bool writeAlph = KeyPresent("WRITE_ALPH");
    const uint32_t width = src->Width, height = src->Height;

    const KX_GfxBuffer* planeSource = nullptr;  // palette images
    const uint8_t* map8 = nullptr;
    const uint8_t* map16 = nullptr;  // big-endian bytes
    uint32_t sampleBits = 0, planes = 0;
    if (src->Type == ONEPLANE) {
        if (src->ColorDepth == 24 && src->PixelBits == 24) {
            uint32_t e = TakeAlphaMap8(src, &map8);
            if (e != KXERR_NONE) return e;
            sampleBits = 8;
            planes = map8 && !writeAlph ? 32 : 24;
        } else if (src->ColorDepth == 48 && src->PixelBits == 48) {
            uint32_t e = KXSUP_ConvertGfxBufferEndianess(src, KXENDIAN_BIG);
            if (e != KXERR_NONE) return e;
            const uint16_t* map = nullptr;
            e = TakeAlphaMap16(src, &map);
            if (e != KXERR_NONE) return e;
            map16 = reinterpret_cast<const uint8_t*>(map);
            sampleBits = 16;
            // WRITE_ALPH has no 16-bit form: the alpha is then left out.
            planes = map16 && !writeAlph ? 64 : 48;
        } else if (src->ColorDepth > 8) {
            return KXERR_NOTSUPPORTED;
        } else {
            uint32_t e = KXSUP_OnePlaneToBitPlane8(src, &PlaneCopy);
            if (e != KXERR_NONE) return e;
            if (!PlaneCopy) return KXERR_NOMEMORY;
            planeSource = PlaneCopy;
        }
    } else if (src->Type == BITPLANE) {
        planeSource = src;
    } else {
        return KXERR_NOTSUPPORTED;
    }
    if (width == 0 || height == 0 || !src->Data) return KXERR_NOTSUPPORTED;
    if (width > 0xFFFF || height > 0xFFFF) return KXERR_FILEREQUIREMENTS;

    const uint32_t bpl = (width + 7) >> 3;
    const uint32_t padded = bpl + (bpl & 1);
    uint32_t needed;
    if (planeSource) {
        if (planeSource->Type != BITPLANE || planeSource->ColorDepth < 1 || planeSource->ColorDepth > 8) return KXERR_NOTSUPPORTED;
        planes = planeSource->ColorDepth;
        if (planeSource->BytesPerLine < bpl || !planeSource->Data) return KXERR_NOTSUPPORTED;
        if (!KXSUP_CheckedSize(&needed, planeSource->BytesPerLine, height, planes) || planeSource->BufferSize < needed) return KXERR_NOTSUPPORTED;
    } else {
        if (!KXSUP_CheckedSize(&needed, width, height, sampleBits == 8 ? 3 : 6) || src->BufferSize < needed) return KXERR_NOTSUPPORTED;
    }
    uint32_t rowBytes;
    if (!KXSUP_CheckedSize(&rowBytes, planes, padded)) return KXERR_NOTSUPPORTED;
    uint8_t* row = static_cast<uint8_t*>(AllocVec(rowBytes, MEMF_CLEAR));
    if (!row) return KXERR_NOMEMORY;

    // One image row as padded plane rows, plane 0 first.
    auto makeRow = [&](uint32_t y) {
        memset(row, 0, rowBytes);
        if (planeSource) {
            const uint64_t planeSize = (uint64_t)planeSource->BytesPerLine * height;
            for (uint32_t p = 0; p < planes; ++p)
                memcpy(row + (size_t)p * padded, planeSource->Data + p * planeSize + (uint64_t)y * planeSource->BytesPerLine, bpl);
            return;
        }
        const uint32_t sampleBytes = sampleBits / 8;
        const uint8_t* px = src->Data + (uint64_t)y * width * 3 * sampleBytes;
        for (uint32_t c = 0; c < 3; ++c)
            ilbmChannelToPlanes(px + c * sampleBytes, 3 * sampleBytes, width, sampleBits, true, row + (size_t)c * sampleBits * padded, padded);
        if (planes == 32) ilbmChannelToPlanes(map8 + (uint64_t)y * width, 1, width, 8, true, row + (size_t)24 * padded, padded);
        if (planes == 64) ilbmChannelToPlanes(map16 + (uint64_t)y * width * 2, 2, width, 16, true, row + (size_t)48 * padded, padded);
    };

    const bool compress = SelectedSubFormat != SubFormatIds[0];
    uint64_t bodySize64;
    if (compress) {
        uint32_t room;
        if (!KXSUP_CheckedSize(&room, height, planes, byteRun1Bound(padded))) {
            FreeVec(row);
            return KXERR_NOMEMORY;
        }
        Packed = static_cast<uint8_t*>(AllocVec(room, MEMF_ANY));
        if (!Packed) {
            FreeVec(row);
            return KXERR_NOMEMORY;
        }
        uint64_t pos = 0;
        for (uint32_t y = 0; y < height; ++y) {
            makeRow(y);
            for (uint32_t p = 0; p < planes; ++p) pos += byteRun1PackRow(row + (size_t)p * padded, padded, Packed + pos);
        }
        bodySize64 = pos;
    } else {
        bodySize64 = (uint64_t)height * rowBytes;
    }
    ReportProgress(50);

    // ALPH: the 8-bit alpha of a 24-plane image, one packed row per image row.
    uint8_t* alph = nullptr;
    uint64_t alphSize = 0;
    if (map8 && writeAlph) {
        const uint32_t arow = width + (width & 1);
        uint32_t room;
        if (!KXSUP_CheckedSize(&room, height, byteRun1Bound(arow), 1, 1) || room > 0xFFFFFFF0u) {
            FreeVec(row);
            return KXERR_NOMEMORY;
        }
        alph = static_cast<uint8_t*>(AllocVec(room + 8, MEMF_ANY));
        uint8_t* work = static_cast<uint8_t*>(AllocVec(arow, MEMF_CLEAR));
        if (!alph || !work) {
            if (alph) FreeVec(alph);
            if (work) FreeVec(work);
            FreeVec(row);
            return KXERR_NOMEMORY;
        }
        iffPut16(alph, 8);
        iffPut16(alph + 2, 1);
        iffPut16(alph + 4, 1);
        iffPut16(alph + 6, 0);
        uint64_t pos = 8;
        for (uint32_t y = 0; y < height; ++y) {
            memcpy(work, map8 + (uint64_t)y * width, width);
            pos += byteRun1PackRow(work, arow, alph + pos);
        }
        FreeVec(work);
        alphSize = pos;
    }

    const KXOSpecialInfo* info = SaveMetaFlag ? SpecialInfo : nullptr;
    uint64_t formSize = 4 + 8 + 20 + iffMetaChunksSize(info) + 8 + bodySize64 + (bodySize64 & 1);
    if (planes <= 8) formSize += 8 + 3ull * (1u << planes) + 8 + 4;
    if (alph) formSize += 8 + alphSize + (alphSize & 1);
    if (formSize > 0xFFFFFFFFu) {
        if (alph) FreeVec(alph);
        FreeVec(row);
        return KXERR_NOTSUPPORTED;
    }

    IffBmhd bmhd = iffNewBmhd(width, height, planes, compress ? 1 : 0);
    // A transparent colour travels with palette images only.
    if (planeSource) TakeTransparentColour(&bmhd, src);

    uint32_t e = OpenWrite();
    if (e != KXERR_NONE) {
        if (alph) FreeVec(alph);
        FreeVec(row);
        return FinishWrite(e);
    }
    iffPushChunk(Iff, "ILBM", "FORM", (uint32_t)formSize);
    // Deep pictures have no map and no display mode.
    WriteBitmapHead("ILBM", bmhd, src->Palette, planes <= 8 ? 3u << planes : 0, src->ViewMode);
    iffWriteMetaChunks(Iff, "ILBM", info);
    if (alph) iffWriteDataChunk(Iff, "ILBM", "ALPH", alph, (uint32_t)alphSize);
    iffPushChunk(Iff, "ILBM", "BODY", (uint32_t)bodySize64);
    if (compress) {
        iffWriteChunkBytes(Iff, Packed, (size_t)bodySize64);
    } else {
        for (uint32_t y = 0; y < height; ++y) {
            if ((y & 7) == 0) ReportProgress(50 + (uint32_t)((uint64_t)y * 100 / (2ull * height)));
            makeRow(y);
            iffWriteChunkBytes(Iff, row, rowBytes);
        }
    }
    if (bodySize64 & 1) {
        uint8_t pad = 0;
        iffWriteChunkBytes(Iff, &pad, 1);
    }
    iffPopChunk(Iff);
    if (alph) FreeVec(alph);
    FreeVec(row);
    if (Packed) {
        FreeVec(Packed);
        Packed = nullptr;
    }
    return FinishWrite(KXERR_NONE);
}

void kxoILBM::ReadOtherChunk(IffChunk* chunk) {
    if (!iffIdIs(chunk->Id, "ALPH")) return;
    if (Log) Log->Log(5, "%-16s: ALPH chunk found (size %ld)\n", "ilbm", (long)chunk->Size);
    // Eight header bytes and at least one byte of data.
    if (chunk->Size <= 8) return;
    uint8_t head[8];
    if (!iffReadRecord(Iff, head, 8)) {
        if (Log) Log->Log(5, "%-16s: ALPH read FAIL (3)\n", "ilbm");
        return;
    }
    const uint32_t bits = iffGet16(head);
    if (Log) {
        Log->Log(5, "%-16s: ALPH content:  %ld %ld %ld %ld\n", "ilbm", (long)bits, (long)iffGet16(head + 2), (long)iffGet16(head + 4), (long)iffGet16(head + 6));
        Log->Log(5, "%-16s: ALPH net size: %ld [+%ld/%ld]\n", "ilbm", (long)chunk->Size - (long)bits, 8L, (long)bits);
    }
    if (bits != 8) {
        if (Log) Log->Log(5, "%-16s: ALPH read FAIL (2)\n", "ilbm");
        return;
    }
    // Data that the file does not hold in full is a short read,
    // found before anything is allocated.
    const bool whole = iffChunkComplete(Iff);
    uint8_t* data = whole ? static_cast<uint8_t*>(AllocVec(chunk->Size - 8, MEMF_CLEAR)) : nullptr;
    if (whole && !data) return;
    if (!whole || iffReadChunkBytes(Iff, data, chunk->Size - 8) != (long)(chunk->Size - 8)) {
        if (Log) Log->Log(5, "%-16s: ALPH read FAIL (1)\n", "ilbm");
        if (data) FreeVec(data);
        return;
    }
    if (Log) Log->Log(5, "%-16s: ALPH read OK\n", "ilbm");
    if (Alph) FreeVec(Alph);
    Alph = data;
    AlphSize = chunk->Size - 8;
}

uint32_t kxoILBM::Load() {
    FreeWork();
    uint32_t e = StartLoad();
    if (e != KXERR_NONE) return e;
    IffBmhd bmhd;
    IffChunk* bodyChunk;
    // A map that the file does not hold in full is ignored.
    const uint32_t bmhdErr = ReadBitmapChunks(kStops, kStopCount, "BODY", BadMap::KeepEarlier, &bmhd, &bodyChunk);
    const bool haveCmap = Cmap != nullptr;

    if (bmhd.Compression > 1) return FailLoad(KXERR_FILEREQUIREMENTS);
    SetCompressionText(bmhd.Compression == 1 ? "ILBM:CmpByteRun1" : "ILBM:None");
    // A BMHD that could not be taken leaves no plane count to judge.
    if (bmhdErr != KXERR_NONE) return FailLoad(bmhdErr);
    const uint32_t planes = bmhd.Planes;
    // 0 planes (no BMHD at all, for one) passes here: a file without BODY
    // is then "no data"; with a BODY it has no picture to give.
    if (planes != 0 && !loadablePlanes(planes)) return FailLoad(KXERR_FILEREQUIREMENTS);
    if (!bodyChunk) return FailLoad(KXERR_NOVIEWABLEDATA);
    const uint32_t width = bmhd.Width, height = bmhd.Height;
    if (planes == 0 || width == 0 || height == 0) return FailLoad(KXERR_FILEREQUIREMENTS);

    const uint32_t bpl = (width + 7) >> 3;
    const uint32_t padded = bpl + (bpl & 1);
    const bool mask = bmhd.Masking == 1;
    const uint32_t rowPlanes = planes + (mask ? 1 : 0);
    const bool deep = planes >= 24;
    uint32_t sampleBytes = planes >= 48 ? 2 : 1;

    // Every block the picture needs is sized first: 15 beyond 32 bits, 3
    // beyond the library's size limit, before anything is allocated.
    uint32_t rowBytes = 0, size = 0, dataSize = 0, alphaSize = 0;
    e = KXSUP_CheckSize(&rowBytes, rowPlanes, padded);
    if (!e && !deep) {
        e = KXSUP_CheckSize(&size, bpl, height, planes);
        // The mask plane is read into the block behind the picture's planes.
        if (!e) e = KXSUP_CheckSize(&dataSize, bpl, height, rowPlanes);
    } else if (!e) {
        e = KXSUP_CheckSize(&size, width, height, 3 * sampleBytes);
        dataSize = size;
        if (!e && (planes == 32 || planes == 64 || (planes == 24 && Alph))) e = KXSUP_CheckSize(&alphaSize, width, height, sampleBytes);
    }
    if (e) return FailLoad(e);

    // The body, refused before allocation when the file does not hold it,
    // or when it cannot hold every row: a stored row needs its bytes, a
    // packed one at least two bytes for each 128 it unpacks to.
    if (!iffChunkComplete(Iff)) return FailLoad(KXERR_EOF);
    const uint32_t bodySize = bodyChunk->Size;
    const uint64_t planeRows = (uint64_t)height * rowPlanes;
    const uint64_t leastBody = bmhd.Compression == 1 ? planeRows * 2 * ((padded + 127) / 128) : (planeRows - 1) * padded + bpl;
    if (bodySize < leastBody) return FailLoad(KXERR_EOF);
    Body = static_cast<uint8_t*>(AllocVec(bodySize ? bodySize : 1, MEMF_ANY));
    if (!Body) return FailLoad(KXERR_NOMEMORY);
    if (bodySize && iffReadChunkBytes(Iff, Body, bodySize) != (long)bodySize) return FailLoad(KXERR_EOF);

    if ((e = NewLoadedBuffer(1, 0, MEMF_CLEAR, BITPLANE, width, height, planes))) return FailLoad(e);
    KX_GfxBuffer* b = LoadedBuffer;
    b->Version = 1;
    b->BytesPerLine = bpl;
    if (!deep) {
        SetLoadedPalette(b, planes);
    }
    ApplyTransparentColour(b, bmhd);
    b->ViewMode = planes < 24 ? iffResolveModeId(this, Camg, CamgRead, width, height, planes) : KXSUP_BestModeID(width, height, planes);
    KXSUP_SetGfxBufferModeFlags(b);

    // One image row of plane rows (mask included), bpl bytes each.
    uint8_t* row = static_cast<uint8_t*>(AllocVec(rowBytes, MEMF_CLEAR));
    if (!row) return FailLoad(KXERR_NOMEMORY);
    uint8_t* alpha8 = nullptr;
    uint8_t* alpha16 = nullptr;
    b->Data = static_cast<uint8_t*>(AllocVec(dataSize, MEMF_CLEAR));
    b->BufferSize = size;
    if (deep) {
        b->Type = ONEPLANE;
        b->BytesPerLine = 0;
        b->PixelBits = planes >= 48 ? 48 : 24;
        b->ColorDepth = b->PixelBits;
        if (alphaSize) {
            // Without memory for the map the alpha is dropped.
            uint8_t* m = static_cast<uint8_t*>(AllocVec(alphaSize, MEMF_CLEAR));
            if (m) {
                b->Version = 3;
                b->AlphaType = sampleBytes == 2 ? KXALPHA_CHANNEL16 : KXALPHA_CHANNEL8;
                b->AlphaData = m;
                (sampleBytes == 2 ? alpha16 : alpha8) = m;
            }
        }
    }
    if (!b->Data) {
        FreeVec(row);
        return FailLoad(KXERR_NOMEMORY);
    }

    // A body that runs out before the last row is a file cut short.
    const uint8_t* s = Body;
    const uint8_t* end = Body + bodySize;
    uint8_t* work = nullptr;
    if (bmhd.Compression == 1) {
        work = static_cast<uint8_t*>(AllocVec((size_t)padded + 256, MEMF_CLEAR));
        if (!work) {
            FreeVec(row);
            return FailLoad(KXERR_NOMEMORY);
        }
    }
    SubFormatId = bmhd.Compression == 1 ? 1 : 0;
    const uint64_t planeSize = (uint64_t)bpl * height;
    bool cutShort = false;
    for (uint32_t y = 0; y < height; ++y) {
        if ((y & 7) == 0) ReportProgress((uint32_t)((uint64_t)y * 100 / height));
        for (uint32_t p = 0; p < rowPlanes; ++p) {
            uint8_t* dst = row + (size_t)p * padded;
            memset(dst, 0, padded);
            if (work) {
                memset(work, 0, padded);
                if (!byteRun1UnpackRow(&s, end, work, padded)) cutShort = true;
                memcpy(dst, work, bpl);
            } else {
                uint64_t left = (uint64_t)(end - s);
                if (left < bpl) cutShort = true;
                uint32_t take = left < bpl ? (uint32_t)left : bpl;
                memcpy(dst, s, take);
                s += left < padded ? left : padded;
            }
        }
        if (cutShort) break;
        if (!deep) {
            for (uint32_t p = 0; p < rowPlanes; ++p) memcpy(b->Data + p * planeSize + (uint64_t)y * bpl, row + (size_t)p * padded, bpl);
            continue;
        }
        const uint32_t bits = sampleBytes * 8;
        uint8_t* px = b->Data + (uint64_t)y * width * 3 * sampleBytes;
        for (uint32_t c = 0; c < 3; ++c)
            ilbmPlanesToChannel(row + (size_t)c * bits * padded, padded, width, bits, px + c * sampleBytes, 3 * sampleBytes, false);
        if (planes == 32 && alpha8) ilbmPlanesToChannel(row + (size_t)24 * padded, padded, width, 8, alpha8 + (uint64_t)y * width, 1, false);
        if (planes == 64 && alpha16) ilbmPlanesToChannel(row + (size_t)48 * padded, padded, width, 16, alpha16 + (uint64_t)y * width * 2, 2, false);
    }
    if (work) FreeVec(work);
    FreeVec(row);
    FreeVec(Body);
    Body = nullptr;
    if (cutShort) return FailLoad(KXERR_EOF);

    if (planes == 24 && Alph && alpha8) {
        const uint32_t arow = width + (width & 1);
        uint8_t* awork = static_cast<uint8_t*>(AllocVec((size_t)arow + 256, MEMF_CLEAR));
        if (!awork) return FailLoad(KXERR_NOMEMORY);
        const uint8_t* as = Alph;
        const uint8_t* aend = Alph + AlphSize;
        uint64_t total = 0;
        for (uint32_t y = 0; y < height; ++y) {
            memset(awork, 0, arow);
            const bool whole = byteRun1UnpackRow(&as, aend, awork, arow);
            memcpy(alpha8 + (uint64_t)y * width, awork, width);
            if (whole) total += arow;
        }
        FreeVec(awork);
        if (Log) Log->Log(5, "%-16s: ALPH decomp size %ld\n", "ilbm", (long)total);
    }

    uint32_t result = KXERR_NONE;
    if (deep && sampleBytes == 2) {
        // Samples were written in host order.
        KXSUP_SetGfxBufferEndianess(b, KXGFXF_II);
        result = KXSUP_ConvertGfxBufferEndianess(b, KXENDIAN_LITTLE);
    }
    if (result != KXERR_NONE) return FailLoad(result);
    if (planes < 8 && !haveCmap) KXSUP_AddGfxBufferFlags(b, KXGFXF_GRAY, 1);
    FinishRead();
    return KXERR_NONE;
}
