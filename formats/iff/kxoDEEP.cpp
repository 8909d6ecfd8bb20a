// kxoDEEP: reads and writes FORM "DEEP" (see kxoDEEP.h). Relies on the chunk
// layer and the metadata chunk set of iff.h, the core's alpha-map and
// byte-order helpers and the safe save. Refuses compression other than
// none, RLE and TVDC, element lists other than R, G, B (and A), files
// without DGBL or DLOC, DGBL/DLOC shorter than 8 bytes and TVDC tables
// shorter than 16 entries (14), and bodies that end before the last row
// (29). A picture whose pixel data cannot be held is short of memory (3),
// however far beyond the size limit it lies.
#include "formats/iff/kxoDEEP.h"

#include <cstdio>
#include <cstring>

namespace {
const char kStops[] =
    "DEEPDGBL"
    "DEEPDPEL"
    "DEEPDLOC"
    "DEEPDCHG"
    "DEEPTVDC"
    "DEEPNAME"
    "DEEPAUTH"
    "DEEPANNO"
    "DEEP(c) "
    "DEEPEXIF"
    "DEEPIPTC"
    "DEEPXMP0"
    "DEEPXMP1"
    "DEEPICCP"
    "DEEPICCN"
    "DEEPDBOD";
const uint32_t kStopCount = 16;

const char kTag[] = "deep";

enum : uint32_t { kNone = 0, kRle = 1, kTvdc = 5 };

// Sizes of picture data: the core's check, with every refusal counted as
// memory that is not there.
uint32_t pictureSize(uint32_t* out, uint64_t a, uint64_t b, uint64_t c = 1, uint64_t d = 1) {
    return KXSUP_CheckSize(out, a, b, c, d) == KXERR_NONE ? KXERR_NONE : KXERR_NOMEMORY;
}

// RLE stream (compression 1): bytes 0xC0-0xFF repeat the next byte (low six
// bits) times, any other byte stands for itself. The stream runs on over
// row ends, so a run left over continues in the next row.
struct RleStream {
    const uint8_t* s;
    const uint8_t* end;
    uint32_t pending = 0;  // copies of value still to come
    uint8_t value = 0;

    // Fills n bytes; false when the data ends first.
    bool fill(uint8_t* out, size_t n) {
        size_t done = 0;
        while (done < n) {
            if (pending) {
                const size_t k = pending < n - done ? pending : n - done;
                memset(out + done, value, k);
                done += k;
                pending -= (uint32_t)k;
                continue;
            }
            // A stretch of literal bytes in one copy.
            const uint8_t* lit = s;
            const uint8_t* stop = s + (n - done < (size_t)(end - s) ? n - done : (size_t)(end - s));
            while (lit < stop && *lit < 0xC0) ++lit;
            if (lit > s) {
                memcpy(out + done, s, (size_t)(lit - s));
                done += (size_t)(lit - s);
                s = lit;
                continue;
            }
            if (end - s < 2) return false;
            pending = s[0] & 0x3F;
            value = s[1];
            s += 2;
        }
        return true;
    }
};

// One TVDC line: width samples from the nibble stream at *src (starting on
// a byte boundary), each the running sum of table entries in its low 8 or
// 16 bits (big-endian), written every `stride` bytes. After a zero entry
// the next nibble repeats the value that many more times, cut at the line
// end. False when the data ends before the line is whole.
bool tvdcLine(const uint8_t** src, const uint8_t* end, const int16_t table[16], uint32_t width, bool wide, uint8_t* dst, uint32_t stride) {
    const uint8_t* p = *src;
    bool high = true;
    auto nibble = [&](uint32_t* d) {
        if (p >= end) return false;
        if (high) {
            *d = *p >> 4;
        } else {
            *d = *p & 15;
            ++p;
        }
        high = !high;
        return true;
    };
    auto put = [&](uint32_t x, uint32_t v) {
        uint8_t* o = dst + (size_t)x * stride;
        if (wide) {
            o[0] = (uint8_t)(v >> 8);
            o[1] = (uint8_t)v;
        } else {
            o[0] = (uint8_t)v;
        }
    };
    uint32_t value = 0;  // wraps: only the low bits are kept
    uint32_t x = 0;
    while (x < width) {
        uint32_t d;
        if (!nibble(&d)) return false;
        value += (uint32_t)(int32_t)table[d];
        put(x++, value);
        if (table[d] != 0) continue;
        uint32_t r;
        if (!nibble(&r)) {
            if (x < width) return false;
            break;
        }
        for (; r && x < width; --r) put(x++, value);
    }
    // The next line starts on a byte boundary.
    if (!high) ++p;
    *src = p;
    return true;
}
}  // namespace

kxoDEEP::kxoDEEP(KXClass* lib) : KXIffModule(lib, "kxoDEEP", ".DEP", "DEEP") {
    InitOwn();
    Configure(nullptr);
}

void kxoDEEP::InitOwn() {
    memset(Dgbl, 0, sizeof(Dgbl));
    memset(Dpel, 0, sizeof(Dpel));
    memset(Dloc, 0, sizeof(Dloc));
    memset(Dchg, 0, sizeof(Dchg));
    memset(Tvdc, 0, sizeof(Tvdc));
    TvdcSize = 0;
    Body = nullptr;
    Row = nullptr;
}

void kxoDEEP::FreeWork() {
    if (Body) FreeVec(Body);
    if (Row) FreeVec(Row);
    Body = Row = nullptr;
}

void kxoDEEP::LogLine(const char* text) {
    if (Log) Log->Log(5, "%-16s: %s\n", kTag, text);
}

uint32_t kxoDEEP::Save() {
    if (!SaveBuffer || SaveBuffer->Type != ONEPLANE) return KXERR_NOTSUPPORTED;
    KX_GfxBuffer* src = SaveBuffer;
    if (src->ColorDepth != 24 && src->ColorDepth != 48) return KXERR_NEED24BIT;
    // "RLE" writes the same uncompressed file; "DELTA" is not written.
    if (SelectedSubFormat > 1) return KXERR_NOTSUPPORTED;
    FreeWork();
    const uint32_t width = src->Width, height = src->Height;
    if (width == 0 || height == 0 || !src->Data) return KXERR_NOTSUPPORTED;
    if (width > 0xFFFF || height > 0xFFFF) return KXERR_FILEREQUIREMENTS;

    const uint8_t* alpha = nullptr;
    if (uint32_t e = TakeAlphaMap8(src, &alpha)) return e;
    if (src->PixelBits != src->ColorDepth) return alpha ? KXERR_FILEREQUIREMENTS : KXERR_NOTSUPPORTED;
    const uint32_t s = src->PixelBits / 24;
    uint32_t pixelBytes;
    if (!KXSUP_CheckedSize(&pixelBytes, width, height, 3 * s) || src->BufferSize < pixelBytes) return KXERR_NOTSUPPORTED;
    if (s == 2) {
        // Samples are stored big-endian; the buffer keeps that order (marked).
        if (uint32_t e = KXSUP_ConvertGfxBufferEndianess(src, KXENDIAN_BIG)) return e;
    }
    const uint32_t elements = alpha ? 4 : 3;
    const uint64_t d = (uint64_t)width * height * elements * s;
    const KXOSpecialInfo* info = SaveMetaFlag ? SpecialInfo : nullptr;
    const uint64_t formSize = d + (alpha ? 56 : 52) + (d & 1) + iffMetaChunksSize(info);
    if (formSize > 0xFFFFFFFFu) return KXERR_FILEREQUIREMENTS;
    // The row buffer is there before the first byte is written.
    if (alpha) {
        Row = static_cast<uint8_t*>(AllocVec((size_t)width * elements * s, MEMF_ANY));
        if (!Row) return KXERR_NOMEMORY;
    }

    uint8_t dgbl[8];
    iffPut16(dgbl, width);
    iffPut16(dgbl + 2, height);
    iffPut16(dgbl + 4, kNone);
    dgbl[6] = dgbl[7] = 1;
    uint8_t dpel[20];
    iffPut32(dpel, elements);
    for (uint32_t i = 0; i < elements; ++i) {
        iffPut16(dpel + 4 + 4 * i, i + 1);
        iffPut16(dpel + 6 + 4 * i, 8 * s);
    }

    uint32_t e = OpenWrite();
    if (e != KXERR_NONE) return FinishWrite(e);
    iffPushChunk(Iff, "DEEP", "FORM", (uint32_t)formSize);
    iffWriteDataChunk(Iff, "DEEP", "DGBL", dgbl, 8);
    iffWriteDataChunk(Iff, "DEEP", "DPEL", dpel, 4 + 4 * elements);
    iffWriteMetaChunks(Iff, "DEEP", info);
    iffPushChunk(Iff, "DEEP", "DBOD", (uint32_t)d);
    if (!alpha) {
        iffWriteChunkBytes(Iff, src->Data, (size_t)d);
    } else {
        for (uint32_t y = 0; y < height; ++y) {
            if ((y & 7) == 0) ReportProgress((uint32_t)((uint64_t)y * 100 / height));
            const uint8_t* px = src->Data + (uint64_t)y * width * 3 * s;
            const uint8_t* a = alpha + (uint64_t)y * width;
            uint8_t* o = Row;
            if (s == 1) {
                for (uint32_t x = 0; x < width; ++x, px += 3, o += 4) {
                    memcpy(o, px, 3);
                    o[3] = a[x];
                }
            } else {
                // One alpha byte a pixel, widened to 16 bits (a x 257).
                for (uint32_t x = 0; x < width; ++x, px += 6, o += 8) {
                    memcpy(o, px, 6);
                    o[6] = o[7] = a[x];
                }
            }
            iffWriteChunkBytes(Iff, Row, (size_t)width * 4 * s);
        }
    }
    if (d & 1) {
        const uint8_t zero = 0;
        iffWriteChunkBytes(Iff, &zero, 1);
    }
    iffPopChunk(Iff);
    iffPopChunk(Iff);
    FreeWork();
    return FinishWrite(KXERR_NONE);
}

uint32_t kxoDEEP::Load() {
    FreeWork();
    InitOwn();
    uint32_t e = StartLoad();
    if (e != KXERR_NONE) return e;
    auto fail = [&](uint32_t code) {
        FreeWork();
        return FailLoad(code);
    };
    iffSetStopChunks(Iff, kStops, kStopCount);
    uint32_t width = 0, height = 0;
    bool sized = false;
    IffChunk* bodyChunk = nullptr;
    while (IffChunk* c = iffParse(Iff)) {
        if (c->Size == 0) continue;
        const char* id = c->Id;
        const uint32_t avail = iffChunkAvailable(Iff);
        if (iffIdIs(id, "DGBL")) {
            LogLine("DGBL found.");
            if (c->Size < 8 || !iffReadRecord(Iff, Dgbl, 8)) return fail(KXERR_DECODE);
            width = iffGet16(Dgbl);
            height = iffGet16(Dgbl + 2);
            sized = true;
        } else if (iffIdIs(id, "DPEL")) {
            LogLine("DPEL found.");
            memset(Dpel, 0, sizeof(Dpel));
            const uint32_t n = avail < sizeof(Dpel) ? avail : (uint32_t)sizeof(Dpel);
            if (n && iffReadChunkBytes(Iff, Dpel, n) != (long)n) memset(Dpel, 0, sizeof(Dpel));
        } else if (iffIdIs(id, "DLOC")) {
            LogLine("DLOC found.");
            if (c->Size < 8 || !iffReadRecord(Iff, Dloc, 8)) return fail(KXERR_DECODE);
            width = iffGet16(Dloc);
            height = iffGet16(Dloc + 2);
            sized = true;
        } else if (iffIdIs(id, "DCHG")) {
            LogLine("DCHG found.");
            const uint32_t n = avail < 4 ? avail : 4;
            if (n) iffReadChunkBytes(Iff, Dchg, n);
        } else if (iffIdIs(id, "TVDC")) {
            LogLine("TVDC found.");
            // Sixteen entries are used; a shorter table cannot decode a line.
            memset(Tvdc, 0, sizeof(Tvdc));
            TvdcSize = 0;
            uint8_t raw[32];
            if (c->Size >= 32 && iffReadRecord(Iff, raw, 32)) {
                for (int i = 0; i < 16; ++i) Tvdc[i] = (int16_t)iffGet16(raw + 2 * i);
                TvdcSize = c->Size;
            }
        } else if (iffIdIs(id, "DBOD")) {
            bodyChunk = c;
            break;
        } else if (iffIsMetaChunk(id)) {
            iffReadMetaChunk(this, Iff, c, true);
        }
    }

    const uint32_t compression = iffGet16(Dgbl + 4);
    if (compression == kNone || compression == kRle)
        SubFormatId = SubFormatIds[compression];
    else if (compression == kTvdc)
        SubFormatId = SubFormatIds[2];
    else
        return fail(KXERR_FILEREQUIREMENTS);
    const uint32_t count = iffGet32(Dpel);
    if (count != 3 && count != 4) return fail(KXERR_FILEREQUIREMENTS);
    uint32_t type[4], depth[4];
    for (int i = 0; i < 4; ++i) {
        type[i] = iffGet16(Dpel + 4 + 4 * i);
        depth[i] = iffGet16(Dpel + 6 + 4 * i);
    }
    if (Log) {
        char line[160];
        snprintf(line, sizeof(line), "%ld -- %ld -- %ld %ld %ld %ld : %ld %ld %ld %ld", (long)compression, (long)count, (long)type[0], (long)type[1], (long)type[2],
                 (long)type[3], (long)depth[0], (long)depth[1], (long)depth[2], (long)depth[3]);
        LogLine(line);
    }
    for (uint32_t i = 0; i < 3; ++i)
        if (type[i] != i + 1 || (depth[i] != 8 && depth[i] != 16)) return fail(KXERR_FILEREQUIREMENTS);
    const bool withAlpha = count == 4;
    if (withAlpha && (type[3] != 4 || (depth[3] != 4 && depth[3] != 8 && depth[3] != 16))) return fail(KXERR_FILEREQUIREMENTS);
    // Every element is read with the green element's depth.
    const uint32_t bits = depth[1], bs = bits / 8;
    if (withAlpha && bits == 16 && depth[3] != 16) return fail(KXERR_FILEREQUIREMENTS);
    if (!sized || width == 0 || height == 0) return fail(KXERR_FILEREQUIREMENTS);
    if (!bodyChunk) return fail(KXERR_NOVIEWABLEDATA);
    if (compression == kTvdc && (TvdcSize == 0 || (withAlpha && depth[3] != 8 && depth[3] != 16))) return fail(KXERR_DECODE);

    // Picture sizes in 64 bits before anything is allocated; the body must
    // lie inside the file and be able to cover the picture: an uncompressed
    // one byte for byte, RLE at most 63 bytes for two, a TVDC line at most
    // 16 samples a byte.
    uint32_t dataSize, rowBytes, alphaSize = 0;
    if ((e = pictureSize(&dataSize, width, height, 3, bs)) || (e = pictureSize(&rowBytes, width, count, bs))) return fail(e);
    if (withAlpha && (e = pictureSize(&alphaSize, width, height))) return fail(e);
    if (!iffChunkComplete(Iff)) return fail(KXERR_EOF);
    const uint32_t bodySize = bodyChunk->Size;
    const uint64_t stream = (uint64_t)rowBytes * height;
    const uint64_t leastBody = compression == kNone ? stream : compression == kRle ? (stream + 62) / 63 * 2 : (uint64_t)height * count * ((width + 15) / 16);
    if (bodySize < leastBody) return fail(KXERR_EOF);
    Body = static_cast<uint8_t*>(AllocVec(bodySize, MEMF_ANY));
    if (!Body) return fail(KXERR_NOMEMORY);
    if (iffReadChunkBytes(Iff, Body, bodySize) != (long)bodySize) return fail(KXERR_EOF);

    if ((e = NewLoadedBuffer(1, 0, MEMF_CLEAR, ONEPLANE, width, height, 3 * bits))) return fail(e);
    KX_GfxBuffer* b = LoadedBuffer;
    b->PixelBits = b->ColorDepth;
    b->ViewMode = KXSUP_BestModeID(width, height, 8);
    const bool takeOver = !withAlpha && compression == kNone;
    if (takeOver) {
        // The stored pixels are the picture: the body block becomes its data.
        b->Data = Body;
        Body = nullptr;
    } else {
        b->Data = static_cast<uint8_t*>(AllocVec(dataSize, MEMF_ANY));
        if (!b->Data) return fail(KXERR_NOMEMORY);
    }
    b->BufferSize = dataSize;

    const uint8_t* src = Body;
    const uint8_t* end = Body ? Body + bodySize : nullptr;
    const char* depthLine = bits == 16 ? "Decompressing 48 bit..." : "Decompressing 24 bit...";
    const uint32_t pixelRow = width * 3 * bs;  // bytes of one pixel-data row
    bool cutShort = false;
    if (!withAlpha) {
        LogLine("Decompressing without Alpha...");
        if (compression == kNone) {
            LogLine("Uncompressed.");
        } else if (compression == kTvdc) {
            LogLine("Decompressing DELTA...");
            LogLine(depthLine);
            for (uint32_t y = 0; y < height && !cutShort; ++y) {
                uint8_t* px = b->Data + (uint64_t)y * pixelRow;
                for (uint32_t c = 0; c < 3 && !cutShort; ++c)
                    if (!tvdcLine(&src, end, Tvdc, width, bs == 2, px + c * bs, 3 * bs)) cutShort = true;
            }
        } else {
            LogLine("Decompressing RLE...");
            LogLine("Decompressing 24 bit...");
            RleStream rle{src, end};
            for (uint32_t y = 0; y < height && !cutShort; ++y) {
                if ((y & 7) == 0) ReportProgress((uint32_t)((uint64_t)y * 100 / height));
                if (!rle.fill(b->Data + (uint64_t)y * pixelRow, pixelRow)) cutShort = true;
            }
        }
    } else {
        LogLine("Decompressing with Alpha...");
        uint8_t* alpha = static_cast<uint8_t*>(AllocVec(alphaSize, MEMF_ANY));
        if (alpha) {
            b->Version = 3;
            b->NativeDIPF = 0;
            b->AlphaType = KXALPHA_CHANNEL8;
            b->AlphaData = alpha;
        }
        // Rows are taken as R, G, B, A samples into the work row, then split.
        Row = static_cast<uint8_t*>(AllocVec(rowBytes, MEMF_ANY));
        if (!Row) return fail(KXERR_NOMEMORY);
        RleStream rle{src, end};
        if (compression == kNone) {
            LogLine("Uncompressed.");
            LogLine(bits == 16 ? "48 bit..." : "24 bit...");
        } else if (compression == kTvdc) {
            LogLine("Decompressing DELTA...");
            LogLine(depthLine);
        } else {
            LogLine("Decompressing RLE...");
            LogLine("Decompressing 24 bit...");
        }
        if (compression != kNone) {
            LogLine("Done.");
            LogLine("Reordering...");
        }
        // After RLE a 4-bit alpha sample (one byte) is widened to 8 bits.
        const bool widenNibble = compression == kRle && depth[3] == 4;
        for (uint32_t y = 0; y < height && !cutShort; ++y) {
            if ((y & 7) == 0) ReportProgress((uint32_t)((uint64_t)y * 100 / height));
            const uint8_t* row;
            if (compression == kNone) {
                row = src + (uint64_t)y * rowBytes;
            } else if (compression == kRle) {
                if (!rle.fill(Row, rowBytes)) cutShort = true;
                row = Row;
            } else {
                for (uint32_t c = 0; c < 4 && !cutShort; ++c)
                    if (!tvdcLine(&src, end, Tvdc, width, bs == 2, Row + c * bs, 4 * bs)) cutShort = true;
                row = Row;
            }
            if (cutShort) break;
            uint8_t* px = b->Data + (uint64_t)y * pixelRow;
            uint8_t* a = alpha ? alpha + (uint64_t)y * width : nullptr;
            if (bs == 1) {
                for (uint32_t x = 0; x < width; ++x, row += 4, px += 3) {
                    memcpy(px, row, 3);
                    if (a) a[x] = widenNibble ? (uint8_t)(row[3] | (row[3] >> 4)) : row[3];
                }
            } else {
                // A 16-bit alpha sample gives its high byte.
                for (uint32_t x = 0; x < width; ++x, row += 8, px += 6) {
                    memcpy(px, row, 6);
                    if (a) a[x] = row[6];
                }
            }
        }
    }
    if (Body) {
        FreeVec(Body);
        Body = nullptr;
    }
    if (Row) {
        FreeVec(Row);
        Row = nullptr;
    }
    if (cutShort) return fail(KXERR_EOF);
    LogLine("Done.");
    if (bits == 16) {
        // The samples are big-endian as stored; the buffer is handed over little-endian.
        KXSUP_SetGfxBufferEndianess(b, KXGFXF_MM);
        if ((e = KXSUP_ConvertGfxBufferEndianess(b, KXENDIAN_LITTLE))) return fail(e);
    }
    FinishRead();
    return KXERR_NONE;
}
