// kxoPBM: reads and writes FORM "PBM " (see kxoPBM.h). Relies on the chunk
// layer, BMHD/CMAP/CAMG and ByteRun1 of iff.h, the bit-plane to chunky
// conversion and the safe save. Refuses more than 8 planes, compression
// methods above ByteRun1, BMHDs longer than 20 bytes, pictures wider or
// taller than the 16-bit BMHD fields hold and bodies that end before the
// last row (29, as a file cut short).
#include "formats/iff/kxoPBM.h"

#include <cstring>

namespace {
const char kStops[] =
    "PBM BMHD"
    "PBM CAMG"
    "PBM CMAP"
    "PBM NAME"
    "PBM AUTH"
    "PBM ANNO"
    "PBM (c) "
    "PBM EXIF"
    "PBM IPTC"
    "PBM XMP0"
    "PBM XMP1"
    "PBM ICCP"
    "PBM ICCN"
    "PBM BODY";
const uint32_t kStopCount = 14;

// Body bytes read at a time.
const uint32_t kBlock = 1u << 18;
}  // namespace

kxoPBM::kxoPBM(KXClass* lib) : KXIffBitmapModule(lib, "kxoPBM", ".PBM", "PBM ") {
    InitOwn();
    Configure(nullptr);
}

void kxoPBM::InitOwn() { ChunkyCopy = nullptr; }

void kxoPBM::FreeWork() {
    FreeBitmapWork();
    if (ChunkyCopy) KXSUP_FreeGfxBuffer(ChunkyCopy);
    ChunkyCopy = nullptr;
}

uint32_t kxoPBM::Save() {
    if (!SaveBuffer) return KXERR_NOTSUPPORTED;
    FreeWork();
    const KX_GfxBuffer* src = SaveBuffer;
    // True colour is told apart from other depths, as the ACBM writer does:
    // the caller can dither it to a palette and try again.
    if (src->ColorDepth == 24 || src->ColorDepth == 48) return KXERR_NO24BIT;
    if (src->ColorDepth > 8) return KXERR_NOTSUPPORTED;
    if (src->Type == BITPLANE) {
        uint32_t e = KXSUP_BitPlaneToOnePlane8(src, &ChunkyCopy);
        if (e != KXERR_NONE) return e;
        if (!ChunkyCopy) return KXERR_NOMEMORY;
        src = ChunkyCopy;
    }
    if (src->Type != ONEPLANE || src->PixelBits != 8) return KXERR_NOTSUPPORTED;
    const uint32_t width = src->Width, height = src->Height, depth = src->ColorDepth;
    if (depth < 1 || width == 0 || height == 0 || !src->Data) return KXERR_NOTSUPPORTED;
    if (width > 0xFFFF || height > 0xFFFF) return KXERR_FILEREQUIREMENTS;
    uint32_t pixels;
    if (!KXSUP_CheckedSize(&pixels, width, height) || src->BufferSize < pixels) return KXERR_NOTSUPPORTED;

    const uint32_t padded = width + (width & 1);
    const bool compress = SelectedSubFormat != SubFormatIds[0];
    // Everything is packed before the file is opened: a failure leaves no file.
    uint64_t bodySize = (uint64_t)height * padded;
    if (compress) {
        uint32_t room;
        if (uint32_t e = KXSUP_CheckSize(&room, height, byteRun1Bound(padded))) return e;
        Body = static_cast<uint8_t*>(AllocVec(room, MEMF_ANY));
        uint8_t* row = static_cast<uint8_t*>(AllocVec(padded, MEMF_CLEAR));
        if (!Body || !row) {
            if (row) FreeVec(row);
            return KXERR_NOMEMORY;
        }
        uint64_t pos = 0;
        for (uint32_t y = 0; y < height; ++y) {
            memcpy(row, src->Data + (uint64_t)y * width, width);
            pos += byteRun1PackRow(row, padded, Body + pos);
        }
        FreeVec(row);
        bodySize = pos;
    }
    ReportProgress(50);

    const KXOSpecialInfo* info = SaveMetaFlag ? SpecialInfo : nullptr;
    const uint32_t cmapSize = 3u << depth;
    const uint64_t formSize = cmapSize + bodySize + 60 + (bodySize & 1) + iffMetaChunksSize(info);
    if (formSize > 0xFFFFFFFFu) return KXERR_FILEREQUIREMENTS;

    const IffBmhd bmhd = iffNewBmhd(width, height, 8, compress ? 1 : 0);

    uint32_t e = OpenWrite();
    if (e != KXERR_NONE) return FinishWrite(e);
    iffPushChunk(Iff, "PBM ", "FORM", (uint32_t)formSize);
    WriteBitmapHead("PBM ", bmhd, SaveBuffer->Palette, cmapSize, SaveBuffer->ViewMode);
    iffWriteMetaChunks(Iff, "PBM ", info);
    iffPushChunk(Iff, "PBM ", "BODY", (uint32_t)bodySize);
    const uint8_t zero = 0;
    if (compress) {
        iffWriteChunkBytes(Iff, Body, (size_t)bodySize);
    } else {
        for (uint32_t y = 0; y < height; ++y) {
            if ((y & 7) == 0) ReportProgress(50 + (uint32_t)((uint64_t)y * 100 / (2ull * height)));
            iffWriteChunkBytes(Iff, src->Data + (uint64_t)y * width, width);
            if (width & 1) iffWriteChunkBytes(Iff, &zero, 1);
        }
    }
    if (bodySize & 1) iffWriteChunkBytes(Iff, &zero, 1);
    iffPopChunk(Iff);
    iffPopChunk(Iff);
    if (Body) {
        FreeVec(Body);
        Body = nullptr;
    }
    return FinishWrite(KXERR_NONE);
}

uint32_t kxoPBM::Load() {
    FreeWork();
    uint32_t e = StartLoad();
    if (e != KXERR_NONE) return e;
    IffBmhd bmhd;
    IffChunk* bodyChunk;
    // A map that cannot be read whole counts as no map.
    const uint32_t bmhdErr = ReadBitmapChunks(kStops, kStopCount, "BODY", BadMap::Drop, &bmhd, &bodyChunk);

    if (bmhdErr != KXERR_NONE) return FailLoad(bmhdErr);
    const uint32_t planes = bmhd.Planes, width = bmhd.Width, height = bmhd.Height;
    if (bmhd.Compression > 1 || planes > 8) return FailLoad(KXERR_FILEREQUIREMENTS);
    if (!bodyChunk) return FailLoad(KXERR_NOVIEWABLEDATA);
    // No BMHD (or an empty picture) leaves nothing to decode.
    if (planes == 0 || width == 0 || height == 0) return FailLoad(KXERR_FILEREQUIREMENTS);
    const bool packed = bmhd.Compression == 1;
    const uint32_t padded = width + (width & 1);

    // The picture is sized first (3 beyond the library's size limit); the
    // body is then refused before anything is allocated when the file does
    // not hold it or when it cannot hold every row: a stored row needs its
    // bytes (the last row's pad may be missing), a packed one at least two
    // bytes for each 128 it unpacks to.
    uint32_t size;
    if ((e = KXSUP_CheckSize(&size, width, height))) return FailLoad(e);
    if (!iffChunkComplete(Iff)) return FailLoad(KXERR_EOF);
    const uint32_t bodySize = bodyChunk->Size;
    const uint64_t leastBody = packed ? (uint64_t)height * 2 * ((padded + 127) / 128) : (uint64_t)(height - 1) * padded + width;
    if (bodySize < leastBody) return FailLoad(KXERR_EOF);
    // The body is read a block at a time. A row cut by the block end is
    // taken again once the block is refilled behind it; the block grows for
    // a row longer than itself.
    uint64_t cap64 = 2ull * padded + 256 > kBlock ? 2ull * padded + 256 : kBlock;
    uint32_t cap = (uint32_t)(cap64 < bodySize ? cap64 : bodySize);
    Body = static_cast<uint8_t*>(AllocVec(cap, MEMF_ANY));
    if (!Body) return FailLoad(KXERR_NOMEMORY);
    uint32_t held = 0, at = 0;
    uint64_t unread = bodySize;
    bool readFailed = false;
    // Reads more of the body behind the bytes not yet taken; false when
    // there is no more.
    auto more = [&]() {
        if (unread == 0) return false;
        if (at == 0 && held == cap) {
            const uint32_t grown = (uint64_t)cap * 2 < bodySize ? cap * 2 : bodySize;
            uint8_t* bigger = static_cast<uint8_t*>(ReAllocVec(Body, grown, MEMF_ANY));
            if (!bigger) {
                readFailed = true;
                unread = 0;
                return false;
            }
            Body = bigger;
            cap = grown;
        }
        memmove(Body, Body + at, held - at);
        held -= at;
        at = 0;
        const uint32_t want = (uint32_t)(cap - held < unread ? cap - held : unread);
        if (iffReadChunkBytes(Iff, Body + held, want) != (long)want) {
            readFailed = true;
            unread = 0;
            return false;
        }
        held += want;
        unread -= want;
        return true;
    };

    if ((e = NewLoadedBuffer(1, size, MEMF_CLEAR, ONEPLANE, width, height, planes))) return FailLoad(e);
    KX_GfxBuffer* b = LoadedBuffer;
    b->PixelBits = 8;
    SetLoadedPalette(b, planes);
    b->ViewMode = iffResolveModeId(this, Camg, CamgRead, width, height, planes);
    KXSUP_SetGfxBufferModeFlags(b);
    SubFormatId = packed ? SubFormatIds[1] : SubFormatIds[0];

    uint8_t* work = nullptr;
    if (packed) {
        work = static_cast<uint8_t*>(AllocVec(padded, MEMF_CLEAR));
        if (!work) return FailLoad(KXERR_NOMEMORY);
    }
    bool cutShort = false;
    for (uint32_t y = 0; y < height && !cutShort; ++y) {
        if ((y & 7) == 0) ReportProgress((uint32_t)((uint64_t)y * 100 / height));
        uint8_t* dst = b->Data + (uint64_t)y * width;
        if (packed) {
            // A run past the padded row end is cut there; its surplus does
            // not spill into the next row.
            for (;;) {
                const uint8_t* p = Body + at;
                if (byteRun1UnpackRow(&p, Body + held, work, padded)) {
                    at = (uint32_t)(p - Body);
                    break;
                }
                if (!more()) {
                    cutShort = true;
                    break;
                }
            }
            memcpy(dst, work, width);
        } else {
            // The last row's pad may be missing.
            while (held - at < padded && more()) {
            }
            if (held - at < width) {
                cutShort = true;
                break;
            }
            memcpy(dst, Body + at, width);
            at += held - at < padded ? held - at : padded;
        }
    }
    if (work) FreeVec(work);
    FreeVec(Body);
    Body = nullptr;
    if (cutShort || readFailed) return FailLoad(KXERR_EOF);
    if (!Cmap) KXSUP_AddGfxBufferFlags(b, KXGFXF_GRAY, 1);
    FinishRead();
    return KXERR_NONE;
}
