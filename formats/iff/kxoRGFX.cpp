// kxoRGFX: reads and writes FORM "RGFX" (see kxoRGFX.h). Relies on the chunk
// layer, zlib (deflate to write, inflate to read), the graphics-buffer
// helpers and the safe save. Reports progress as the body is packed,
// written, read and unpacked. Refuses bodies shorter than the image, unpacked
// lengths other than the header's, pixel formats outside the table and
// "XPK"-packed bodies.
#include "formats/iff/kxoRGFX.h"

#include <zlib.h>

#include <cstring>

namespace {
const char kStops[] =
    "RGFXRGHD"
    "RGFXRSCM"
    "RGFXRCOL"
    "RGFXRTRN"
    "RGFXRFLG"
    "RGFXRDIP"
    "RGFXNAME"
    "RGFXAUTH"
    "RGFXANNO"
    "RGFX(c) "
    "RGFXEXIF"
    "RGFXIPTC"
    "RGFXXMP0"
    "RGFXXMP1"
    "RGFXICCP"
    "RGFXICCN"
    "RGFXMOR1"
    "RGFXMOR2"
    "RGFXMOR3"
    "RGFXMOR4"
    "RGFXCMPR"
    "RGFXRINF"
    "RGFXRBOD";
const uint32_t kStopCount = 23;

enum : uint32_t {
    kFmtPlanes = 0,
    kFmtChunky8 = 1,
    kFmtRGB = 2,
    kFmtARGB = 4,
    kFmtRGB16 = 0x40,
    kFmtARGB16 = 0x80,
    kFmtAlpha = 0x40000000u,
    kFmtInverted = 0x80000000u,
    kFlagBits = KXGFXF_GRAY | KXGFXF_SRC8BIT | KXGFXF_SRCLOWDEPTH | KXGFXF_ALPHASRC8BIT,
};

// The body is written, read and unpacked in slices of this size, each
// followed by a progress report: a big picture keeps the bar moving.
const uint32_t kSlice = 4u << 20;
// The share of a save's progress that packing takes, and of a load's that
// reading a packed body takes (unpacking is the rest).
const uint32_t kPackShare = 90;
const uint32_t kReadPackedShare = 20;

// The fields of the record that the shared metadata chunk set has no chunk
// for, in chunks of RGFX's own, so an undo step carries the whole record
// back (a reader that does not know them skips them): the four further
// texts and the compression text (text and its NUL, as ANNO), and "RINF",
// u32 orientation, profile type and sRGB intent.
const char* const kOwnTextIds[5] = {"MOR1", "MOR2", "MOR3", "MOR4", "CMPR"};
const uint32_t kRinfSize = 12;

void ownTexts(const KXOSpecialInfo* info, const char* texts[5]) {
    texts[0] = info->More1;
    texts[1] = info->More2;
    texts[2] = info->More3;
    texts[3] = info->More4;
    texts[4] = info->Compression;
}

uint64_t ownMetaChunksSize(const KXOSpecialInfo* info) {
    if (!info) return 0;
    const char* texts[5];
    ownTexts(info, texts);
    uint64_t total = 8 + kRinfSize;
    for (const char* t : texts)
        if (t) total += (strlen(t) + 9 + 1) & ~(uint64_t)1;
    return total;
}

void writeOwnMetaChunks(IffHandle* h, const KXOSpecialInfo* info) {
    if (!info) return;
    const char* texts[5];
    ownTexts(info, texts);
    for (int i = 0; i < 5; ++i)
        if (texts[i]) iffWriteDataChunk(h, "RGFX", kOwnTextIds[i], texts[i], (uint32_t)strlen(texts[i]) + 1);
    uint8_t rinf[kRinfSize];
    iffPut32(rinf, info->Orientation);
    iffPut32(rinf + 4, info->IccType);
    iffPut32(rinf + 8, info->SRGBIntent);
    iffWriteDataChunk(h, "RGFX", "RINF", rinf, kRinfSize);
}

// A text chunk read as the shared set reads one: the text ends at its
// first NUL or at the chunk's end; an empty chunk gives an empty text.
// Null when the file does not hold the chunk or memory is short.
char* readTextChunk(IffHandle* h) {
    if (!iffChunkComplete(h)) return nullptr;
    const uint32_t size = h->Current->Size;
    uint32_t total;
    if (!KXSUP_CheckedSize(&total, (uint64_t)size + 1)) return nullptr;
    char* text = static_cast<char*>(AllocVec(total, MEMF_CLEAR));
    if (!text) return nullptr;
    if (size && iffReadChunkBytes(h, text, size) != (long)size) {
        FreeVec(text);
        return nullptr;
    }
    return text;
}

// One of RGFX's own metadata chunks into the module's fields. A later chunk
// replaces an earlier one; a short RINF gives the words it holds.
void readOwnMetaChunk(KXObject* m, IffHandle* h, const char* id) {
    char** slots[5] = {&m->More1, &m->More2, &m->More3, &m->More4, &m->Compression};
    for (int i = 0; i < 5; ++i) {
        if (!iffIdIs(id, kOwnTextIds[i])) continue;
        if (char* text = readTextChunk(h)) {
            FreeVec(*slots[i]);
            *slots[i] = text;
        }
        return;
    }
    if (!iffIdIs(id, "RINF")) return;
    uint8_t rinf[kRinfSize] = {};
    uint32_t n = iffChunkAvailable(h);
    n = (n > kRinfSize ? kRinfSize : n) & ~3u;
    if (n && iffReadChunkBytes(h, rinf, n) != (long)n) return;
    m->Orientation = iffGet32(rinf);
    m->IccType = iffGet32(rinf + 4);
    m->SRGBIntent = iffGet32(rinf + 8);
}

// Bytes of the stored image for a layout, in 64 bits through the checked
// helper: 15 beyond 32 bits, 3 beyond the library's size limit.
uint32_t bodySizeFor(uint32_t format, uint32_t width, uint32_t height, uint32_t depth, uint32_t bytesPerRow, uint32_t* out) {
    switch (format) {
        case kFmtPlanes: return KXSUP_CheckSize(out, bytesPerRow, height, depth);
        case kFmtChunky8: return KXSUP_CheckSize(out, width, height);
        case kFmtRGB: return KXSUP_CheckSize(out, width, height, 3);
        case kFmtARGB: return KXSUP_CheckSize(out, width, height, 4);
        case kFmtRGB16: return KXSUP_CheckSize(out, width, height, 6);
        case kFmtARGB16: return KXSUP_CheckSize(out, width, height, 8);
        default: return KXERR_FILEREQUIREMENTS;
    }
}
}  // namespace

kxoRGFX::kxoRGFX(KXClass* lib) : KXIffModule(lib, "kxoRGFX", ".RGX", "RGFX") {
    InitOwn();
    Configure(nullptr);
}

void kxoRGFX::ClearRecords() {
    memset(Rghd, 0, sizeof(Rghd));
    memset(Rscm, 0, sizeof(Rscm));
    memset(Rcol, 0, sizeof(Rcol));
    memset(Rtrn, 0, sizeof(Rtrn));
    memset(Rflg, 0, sizeof(Rflg));
    memset(Rdip, 0, sizeof(Rdip));
    RtrnRead = false;
}

void kxoRGFX::InitOwn() {
    ClearRecords();
    Interleaved = nullptr;
    Body = nullptr;
    ChunkyCopy = nullptr;
}

void kxoRGFX::Reset() {
    ReleaseFrame();
    FrameReset();
    if (Interleaved) FreeVec(Interleaved);
    if (Body) FreeVec(Body);
    if (ChunkyCopy) KXSUP_FreeGfxBuffer(ChunkyCopy);
    InitOwn();
}

uint32_t kxoRGFX::Save() {
    if (!SaveBuffer) return KXERR_NOTSUPPORTED;
    KX_GfxBuffer* buf = SaveBuffer;
    if (Interleaved) {
        FreeVec(Interleaved);
        Interleaved = nullptr;
    }
    if (buf->Type == BITPLANE && KeyPresent("SAVE_CHUNKY")) {
        if (ChunkyCopy) KXSUP_FreeGfxBuffer(ChunkyCopy);
        ChunkyCopy = nullptr;
        uint32_t e = KXSUP_BitPlaneToOnePlane8(buf, &ChunkyCopy);
        if (e != KXERR_NONE) return e;
        if (!ChunkyCopy) return KXERR_NOMEMORY;
        buf = ChunkyCopy;
    }
    const uint32_t depth = buf->ColorDepth, width = buf->Width, height = buf->Height;
    if (!((depth >= 1 && depth <= 8) || depth == 24 || depth == 48)) return KXERR_NOTSUPPORTED;
    if (width == 0 || height == 0 || !buf->Data) return KXERR_NOTSUPPORTED;

    // Layout of the stored body.
    uint32_t format, pixelBits, bytesPerRow;
    if (buf->Type == BITPLANE) {
        if (depth > 8 || buf->BytesPerLine < (width + 7) / 8) return KXERR_NOTSUPPORTED;
        format = kFmtPlanes;
        pixelBits = depth;
        bytesPerRow = buf->BytesPerLine;
    } else if (buf->Type == ONEPLANE) {
        if (depth <= 8 && buf->PixelBits == 8)
            format = kFmtChunky8;
        else if (depth == 24 && buf->PixelBits == 24)
            format = kFmtRGB;
        else if (depth == 48 && buf->PixelBits == 48)
            format = kFmtRGB16;
        else
            return KXERR_NOTSUPPORTED;
        pixelBits = buf->PixelBits;
        bytesPerRow = 0;
    } else {
        return KXERR_NOTSUPPORTED;
    }
    uint32_t imageSize;
    if (bodySizeFor(format, width, height, depth, bytesPerRow, &imageSize)) return KXERR_NOTSUPPORTED;
    if (buf->BufferSize < imageSize) return KXERR_NOTSUPPORTED;

    if (depth == 48) {
        uint32_t e = KXSUP_ConvertGfxBufferEndianess(buf, KXENDIAN_BIG);
        if (e != KXERR_NONE) return e;
    }

    // Alpha of true-colour images: an 8-bit map for 24 bits, 16-bit for 48.
    const uint8_t* body = buf->Data;
    uint32_t bodySize = imageSize;
    if (format == kFmtRGB || format == kFmtRGB16) {
        uint32_t e = WeaveAlpha(buf, true, KXERR_NOTSUPPORTED, &Interleaved, &bodySize);
        if (e != KXERR_NONE) return e;
        if (Interleaved) {
            format = (format == kFmtRGB ? kFmtARGB : kFmtARGB16) | kFmtAlpha;
            pixelBits = depth == 24 ? 32 : 64;
            body = Interleaved;
        }
    }
    if (buf->Type == ONEPLANE) {
        uint64_t row = (uint64_t)(pixelBits / 8) * width;
        if (row > 0xFFFFFFFFu) return KXERR_NOTSUPPORTED;
        bytesPerRow = (uint32_t)row;
    }

    // Packing happens before the file is opened: a failure leaves no file.
    uint8_t* packed = nullptr;
    uint32_t packedSize = 0;
    const bool compress = SelectedSubFormat == SubFormatIds[1];
    if (compress) {
        long level = KeyNumber("Z_COMPRESSION", 6);
        if ((unsigned long)level > 9) level = 6;
        long strategy = KeyNumber("Z_STRATEGY", 0);
        if (strategy < 1 || strategy > 3) strategy = 0;
        z_stream zs;
        memset(&zs, 0, sizeof(zs));
        // The macro passes the real size of z_stream for this build.
        if (deflateInit2(&zs, (int)level, Z_DEFLATED, 15, 9, (int)strategy) != Z_OK) return KXERR_ENCODE;
        // deflateBound: room for any input, even a single pixel.
        uLong bound = deflateBound(&zs, bodySize);
        uint32_t room;
        if (!KXSUP_CheckedSize(&room, (uint64_t)bound + 4) || !(packed = static_cast<uint8_t*>(AllocVec(room, MEMF_ANY)))) {
            deflateEnd(&zs);
            return KXERR_NOMEMORY;
        }
        iffPut32(packed, bodySize);
        zs.next_in = const_cast<Bytef*>(body);
        zs.next_out = packed + 4;
        zs.avail_out = (uInt)(room - 4);
        // Fed in slices for the reports: deflate without flushing makes the
        // same stream as from one call, so the bound still holds.
        int r = Z_OK;
        for (uint32_t done = 0; r == Z_OK;) {
            const uint32_t n = bodySize - done < kSlice ? bodySize - done : kSlice;
            zs.avail_in = n;
            done += n;
            const bool last = done == bodySize;
            r = deflate(&zs, last ? Z_FINISH : Z_NO_FLUSH);
            if (r == Z_OK && (last || zs.avail_in)) r = Z_BUF_ERROR;  // no room left
            if (r == Z_OK || r == Z_STREAM_END) ReportProgress((uint32_t)((uint64_t)done * kPackShare / bodySize));
        }
        uLong total = zs.total_out;
        deflateEnd(&zs);
        if (r != Z_STREAM_END) {
            FreeVec(packed);
            return KXERR_ENCODE;
        }
        packedSize = (uint32_t)(total + 4);
        body = packed;
        bodySize = packedSize;
    }

    // Records.
    uint8_t rghd[52] = {};
    iffPut32(rghd + 8, width);
    iffPut32(rghd + 12, height);
    iffPut32(rghd + 16, width);
    iffPut32(rghd + 20, height);
    iffPut32(rghd + 24, depth);
    iffPut32(rghd + 28, pixelBits);
    iffPut32(rghd + 32, bytesPerRow);
    iffPut32(rghd + 36, compress ? 2 : 0);
    iffPut32(rghd + 40, 1);
    iffPut32(rghd + 44, 1);
    iffPut32(rghd + 48, format);

    uint32_t mode;
    if (depth > 8)
        mode = KXVIEWMODE_NONE;
    else if (IsHamBuffer(buf))
        mode = buf->ViewMode | KXVIEWMODE_HAM;
    else if (buf->ViewMode == KXVIEWMODE_NONE)
        mode = KXSUP_BestModeID(width, height, depth);
    else
        mode = buf->ViewMode;
    uint8_t rscm[12];
    iffPut32(rscm, mode);
    iffPut32(rscm + 4, 0xFFFFFFFFu);
    iffPut32(rscm + 8, 0xFFFFFFFFu);

    // What AlphaData holds follows the core's rule: the index bit wins.
    const uint32_t alphaHolds = KXSUP_AlphaHolds(buf);
    uint8_t rcol[776];
    const bool transparent = alphaHolds == KXALPHA_SINGLECOLOR;
    iffPut32(rcol, transparent ? 1 : 0);
    iffPut32(rcol + 4, transparent ? KXSUP_AlphaIndex(buf) : 0);
    memcpy(rcol + 8, buf->Palette, 768);

    const bool table = alphaHolds == KXALPHA_MULTICOLOR && buf->AlphaData;
    uint8_t rtrn[260];
    if (table) {
        iffPut32(rtrn, kFmtAlpha);
        memcpy(rtrn + 4, buf->AlphaData, 256);
    }
    uint8_t rflg[8] = {};
    iffPut32(rflg, KXSUP_GetGfxBufferFlags(buf) & kFlagBits);
    const bool dip = buf->Version > 1;
    uint8_t rdip[4];
    iffPut32(rdip, buf->NativeDIPF);

    const KXOSpecialInfo* info = SaveMetaFlag ? SpecialInfo : nullptr;
    uint64_t formSize = 4 + (8 + 52) + (8 + 12) + (8 + 776) + (table ? 8 + 260 : 0) + (8 + 8) + (dip ? 8 + 4 : 0) + iffMetaChunksSize(info) +
                        ownMetaChunksSize(info) + 8 + (uint64_t)bodySize + (bodySize & 1);
    if (formSize > 0xFFFFFFFFu) {
        if (packed) FreeVec(packed);
        return KXERR_NOTSUPPORTED;
    }

    uint32_t e = OpenWrite();
    if (e != KXERR_NONE) {
        if (packed) FreeVec(packed);
        return FinishWrite(e);
    }
    iffPushChunk(Iff, "RGFX", "FORM", (uint32_t)formSize);
    iffWriteDataChunk(Iff, "RGFX", "RGHD", rghd, 52);
    iffWriteDataChunk(Iff, "RGFX", "RSCM", rscm, 12);
    iffWriteDataChunk(Iff, "RGFX", "RCOL", rcol, 776);
    if (table) iffWriteDataChunk(Iff, "RGFX", "RTRN", rtrn, 260);
    iffWriteDataChunk(Iff, "RGFX", "RFLG", rflg, 8);
    if (dip) iffWriteDataChunk(Iff, "RGFX", "RDIP", rdip, 4);
    iffWriteMetaChunks(Iff, "RGFX", info);
    writeOwnMetaChunks(Iff, info);
    iffPushChunk(Iff, "RGFX", "RBOD", bodySize);
    const uint32_t base = compress ? kPackShare : 0;
    for (uint32_t done = 0; done < bodySize && !Iff->WriteFailed;) {
        const uint32_t n = bodySize - done < kSlice ? bodySize - done : kSlice;
        iffWriteChunkBytes(Iff, body + done, n);
        done += n;
        ReportProgress(base + (uint32_t)((uint64_t)done * (100 - base) / bodySize));
    }
    if (bodySize & 1) {
        uint8_t pad = 0;
        iffWriteChunkBytes(Iff, &pad, 1);
    }
    iffPopChunk(Iff);  // the RBOD
    iffPopChunk(Iff);
    if (packed) FreeVec(packed);
    return FinishWrite(KXERR_NONE);
}

uint32_t kxoRGFX::Load() {
    if (Body) {
        FreeVec(Body);
        Body = nullptr;
    }
    ClearRecords();

    uint32_t e = StartLoad();
    if (e != KXERR_NONE) return e;
    iffSetStopChunks(Iff, kStops, kStopCount);
    uint32_t err = KXERR_NONE;
    IffChunk* bodyChunk = nullptr;
    while (IffChunk* c = iffParse(Iff)) {
        const char* id = c->Id;
        // Fixed-length records: a chunk shorter than its record is a short read.
        if (iffIdIs(id, "RGHD")) {
            if (!iffReadRecord(Iff, Rghd, 52)) err = KXERR_EOF;
            uint32_t depth = iffGet32(Rghd + 24), bits = iffGet32(Rghd + 28);
            if (depth > 8 && (bits < depth / 3 || bits > depth + depth / 3)) {
                FinishRead();
                return KXERR_FILEREQUIREMENTS;
            }
        } else if (iffIdIs(id, "RSCM")) {
            if (!iffReadRecord(Iff, Rscm, 12)) err = KXERR_EOF;
        } else if (iffIdIs(id, "RCOL")) {
            if (!iffReadRecord(Iff, Rcol, 776)) err = KXERR_EOF;
        } else if (iffIdIs(id, "RTRN")) {
            if (!iffReadRecord(Iff, Rtrn, 260))
                err = KXERR_EOF;
            else if (err == KXERR_NONE)
                RtrnRead = true;
        } else if (iffIdIs(id, "RFLG")) {
            if (!iffReadRecord(Iff, Rflg, 8)) err = KXERR_EOF;
        } else if (iffIdIs(id, "RDIP")) {
            if (!iffReadRecord(Iff, Rdip, 4)) err = KXERR_EOF;
        } else if (iffIdIs(id, "RBOD")) {
            bodyChunk = c;
            break;
        } else if (iffIsMetaChunk(id)) {
            iffReadMetaChunk(this, Iff, c, false);
        } else {
            readOwnMetaChunk(this, Iff, id);
        }
    }
    const uint32_t width = iffGet32(Rghd + 8), height = iffGet32(Rghd + 12), depth = iffGet32(Rghd + 24);
    const uint32_t bytesPerRow = iffGet32(Rghd + 32), compression = iffGet32(Rghd + 36);
    const uint32_t pixelFormat = iffGet32(Rghd + 48), layout = pixelFormat & 0x3FFFFFFFu;
    if (err == KXERR_NONE && compression != 0 && compression != 2) err = KXERR_FILEREQUIREMENTS;
    if (err == KXERR_NONE && !bodyChunk) err = KXERR_NOVIEWABLEDATA;
    // The layout must describe the depth it claims; bit-plane rows must hold the width.
    bool layoutOk;
    switch (layout) {
        case kFmtPlanes: layoutOk = depth >= 1 && depth <= 8 && bytesPerRow >= (uint64_t)(width + 7ull) / 8; break;
        case kFmtChunky8: layoutOk = depth >= 1 && depth <= 8; break;
        case kFmtRGB:
        case kFmtARGB: layoutOk = depth == 24; break;
        case kFmtRGB16:
        case kFmtARGB16: layoutOk = depth == 48; break;
        default: layoutOk = false;
    }
    uint32_t imageSize = 0;
    if (err == KXERR_NONE && (!layoutOk || width == 0 || height == 0)) err = KXERR_FILEREQUIREMENTS;
    if (err == KXERR_NONE) err = bodySizeFor(layout, width, height, depth, bytesPerRow, &imageSize);
    if (err != KXERR_NONE) {
        FinishRead();
        return err;
    }

    // The body: refused before allocation when the file does not hold it.
    if (!iffChunkComplete(Iff)) {
        FinishRead();
        return KXERR_EOF;
    }
    // The file holds the whole chunk, so its size is bounded by the file.
    const uint32_t bodySize = bodyChunk->Size;
    Body = static_cast<uint8_t*>(AllocVec(bodySize ? bodySize : 1, MEMF_ANY));
    if (!Body) {
        FinishRead();
        return KXERR_NOMEMORY;
    }
    const uint32_t readShare = compression == 2 ? kReadPackedShare : 100;
    for (uint32_t done = 0; done < bodySize;) {
        const uint32_t n = bodySize - done < kSlice ? bodySize - done : kSlice;
        if (iffReadChunkBytes(Iff, Body + done, n) != (long)n) {
            FinishRead();
            return KXERR_EOF;
        }
        done += n;
        ReportProgress((uint32_t)((uint64_t)done * readShare / bodySize));
    }
    // A packed "XPK" body is as a rule shorter than the image: it is
    // refused as such before the length is judged.
    if (bodySize >= 3 && (Body[0] | 0x20) == 'x' && (Body[1] | 0x20) == 'p' && (Body[2] | 0x20) == 'k') {
        FinishRead();
        return KXERR_NOTSUPPORTED;
    }
    if (bodySize < (compression == 2 ? 4u : imageSize)) {
        FinishRead();
        return KXERR_EOF;
    }
    SubFormatId = 0;
    if (compression == 2) {
        const uint32_t n = iffGet32(Body);
        // The stated length is checked before it is allocated.
        if (n != imageSize) {
            FinishRead();
            return KXERR_FILEREQUIREMENTS;
        }
        if (!iffPlausibleUnpackedLength(n, bodySize - 4)) {
            FinishRead();
            return KXERR_DECODE;
        }
        uint8_t* unpacked = static_cast<uint8_t*>(AllocVec(n, MEMF_ANY));
        if (!unpacked) {
            FinishRead();
            return KXERR_NOMEMORY;
        }
        // Unpacked in slices of output for the reports, as uncompress
        // would: a stream that ends short of the stated length is 15, any
        // other failure (damage, a stream longer than stated) 14.
        z_stream zs;
        memset(&zs, 0, sizeof(zs));
        zs.next_in = Body + 4;
        zs.avail_in = bodySize - 4;
        int r = inflateInit(&zs);
        zs.next_out = unpacked;
        while (r == Z_OK) {
            const uint32_t made = (uint32_t)zs.total_out;
            zs.avail_out = n - made < kSlice ? n - made : kSlice;
            r = inflate(&zs, Z_NO_FLUSH);
            ReportProgress(kReadPackedShare + (uint32_t)((uint64_t)zs.total_out * (100 - kReadPackedShare) / n));
        }
        const uLong got = zs.total_out;
        inflateEnd(&zs);
        if (r != Z_STREAM_END || got != n) {
            FreeVec(unpacked);
            FinishRead();
            return r == Z_STREAM_END ? KXERR_FILEREQUIREMENTS : KXERR_DECODE;
        }
        FreeVec(Body);
        Body = unpacked;
        SubFormatId = 1;
    }

    KX_GfxBuffer* b = nullptr;
    e = KXSUP_AllocGfxBuffer(&b, 2, 0, MEMF_CLEAR);
    if (e != KXERR_NONE || !b) {
        FinishRead();
        return e != KXERR_NONE ? e : KXERR_NOMEMORY;
    }
    b->Version = 2;
    b->Width = width;
    b->Height = height;
    b->ColorDepth = depth;
    b->ViewMode = KXSUP_BestModeID(width, height, depth > 8 ? 8 : depth);
    if (layout == kFmtPlanes) {
        b->Type = BITPLANE;
        b->BytesPerLine = bytesPerRow;
    } else {
        b->Type = ONEPLANE;
        b->PixelBits = layout == kFmtChunky8 ? 8 : (layout == kFmtRGB || layout == kFmtARGB) ? 24 : 48;
    }
    b->Data = Body;
    b->BufferSize = imageSize;
    Body = nullptr;
    memcpy(b->Palette, Rcol + 8, 768);
    LoadedBuffer = b;

    if (b->PixelBits == 0 || b->PixelBits == 8) {
        if (iffGet32(Rcol) != 0) {
            b->Version = 3;
            b->AlphaType = KXALPHA_SINGLECOLOR;
            KXSUP_SetAlphaIndex(b, iffGet32(Rcol + 4));
        }
        const uint32_t word = iffGet32(Rtrn);
        if (RtrnRead && (word & (kFmtAlpha | kFmtInverted))) {
            uint8_t* tableData = static_cast<uint8_t*>(AllocVec(256, MEMF_ANY));
            if (tableData) {
                for (int i = 0; i < 256; ++i) tableData[i] = (word & kFmtInverted) ? (uint8_t)(255 - Rtrn[4 + i]) : Rtrn[4 + i];
                b->Version = 3;
                b->AlphaType = KXALPHA_MULTICOLOR;
                b->AlphaData = tableData;
            }
        }
    }
    const uint32_t mode = iffGet32(Rscm);
    if (mode != KXVIEWMODE_NONE) b->ViewMode = mode;
    KXSUP_SetGfxBufferModeFlags(b);

    const uint64_t pixels = (uint64_t)width * height;
    const bool storedAlpha = pixelFormat & (kFmtAlpha | kFmtInverted);
    const bool inverted = pixelFormat & kFmtInverted;
    if (layout == kFmtARGB) {
        uint8_t* map = storedAlpha ? static_cast<uint8_t*>(AllocVec((size_t)pixels, MEMF_ANY)) : nullptr;
        uint8_t* d = b->Data;
        const uint8_t* s = b->Data;
        for (uint64_t i = 0; i < pixels; ++i, s += 4, d += 3) {
            if (map) map[i] = inverted ? (uint8_t)(255 - s[0]) : s[0];
            d[0] = s[1];
            d[1] = s[2];
            d[2] = s[3];
        }
        if (map) {
            b->Version = 3;
            b->AlphaType = KXALPHA_CHANNEL8;
            b->AlphaData = map;
        }
        b->BufferSize = (uint32_t)(pixels * 3);
    } else if (layout == kFmtARGB16) {
        uint16_t* map = storedAlpha ? static_cast<uint16_t*>(AllocVec((size_t)(pixels * 2), MEMF_ANY)) : nullptr;
        uint16_t* d = reinterpret_cast<uint16_t*>(b->Data);
        const uint8_t* s = b->Data;
        for (uint64_t i = 0; i < pixels; ++i, s += 8, d += 3) {
            uint16_t a = iffGet16(s), r = iffGet16(s + 2), g = iffGet16(s + 4), bl = iffGet16(s + 6);
            if (map) map[i] = inverted ? (uint16_t)(65535 - a) : a;
            d[0] = r;
            d[1] = g;
            d[2] = bl;
        }
        if (map) {
            b->Version = 3;
            b->AlphaType = KXALPHA_CHANNEL16;
            b->AlphaData = map;
        }
        b->BufferSize = (uint32_t)(pixels * 6);
        KXSUP_SetGfxBufferEndianess(b, KXGFXF_II);
    }
    const uint32_t flags = iffGet32(Rflg) & kFlagBits;
    if (flags) KXSUP_AddGfxBufferFlags(b, flags, 1);
    FinishRead();
    if (layout == kFmtRGB16) KXSUP_SetGfxBufferEndianess(b, KXGFXF_MM);
    return KXERR_NONE;
}
