// kxoRGB8: reads FORM "RGB8" and "RGBN", writes FORM "RGB8" (see
// kxoRGB8.h). Relies on the chunk layer, BMHD and the metadata chunk set of
// iff.h, the core's alpha-map helper and the safe save. Refuses compression
// other than 4, plane counts other than 13 and 25, pictures wider or taller
// than the 16-bit BMHD fields hold and bodies that end before the last
// pixel (29); a run past the last pixel is cut there.
#include "formats/iff/kxoRGB8.h"

#include <cstdint>
#include <cstring>

namespace {
const char kStopsRGB8[] =
    "RGB8BMHD"
    "RGB8NAME"
    "RGB8AUTH"
    "RGB8ANNO"
    "RGB8(c) "
    "RGB8EXIF"
    "RGB8IPTC"
    "RGB8XMP0"
    "RGB8XMP1"
    "RGB8ICCP"
    "RGB8ICCN"
    "RGB8BODY";
const char kStopsRGBN[] =
    "RGBNBMHD"
    "RGBNNAME"
    "RGBNAUTH"
    "RGBNANNO"
    "RGBN(c) "
    "RGBNEXIF"
    "RGBNIPTC"
    "RGBNXMP0"
    "RGBNXMP1"
    "RGBNICCP"
    "RGBNICCN"
    "RGBNBODY";
const uint32_t kStopCount = 12;

const char kTag[] = "rgb8";

// Body blocks read at a time, and the longest record (an RGBN record with a
// 16-bit count).
const uint32_t kBlock = 1u << 18;
const uint32_t kRecordMax = 5;

// RGB8 records for the pixels from *at on, at most maxRecords of them,
// into out (only counted when out is null); *at moves past them. A record
// starts with count 1; the next pixel joins while the count is below 127 and
// it has the same colour, unless either is transparent (alpha 0): such
// pixels stand alone with the genlock bit. progress(done) is called before
// every record whose remaining pixel count is a multiple of 256.
template <class Progress>
uint64_t rgb8Records(const uint8_t* rgb, const uint8_t* alpha, uint64_t pixels, uint64_t* at, uint8_t* out, uint64_t maxRecords, Progress progress) {
    uint64_t i = *at, n = 0;
    for (; i < pixels && n < maxRecords; ++n) {
        if (((pixels - i) & 255) == 0) progress(i);
        const uint8_t* px = rgb + i * 3;
        const bool clear = alpha && alpha[i] == 0;
        uint32_t count = 1;
        if (!clear) {
            const uint64_t limit = pixels - i < 127 ? pixels - i : 127;
            const uint8_t* next = px + 3;
            while (count < limit && next[0] == px[0] && next[1] == px[1] && next[2] == px[2] && (!alpha || alpha[i + count] != 0)) {
                ++count;
                next += 3;
            }
        }
        if (out) {
            out[0] = px[0];
            out[1] = px[1];
            out[2] = px[2];
            out[3] = (uint8_t)(count | (clear ? 0x80 : 0));
            out += 4;
        }
        i += count;
    }
    *at = i;
    return n;
}

// n copies of one 3-byte pixel: the first written, then doubled with memcpy.
inline void fillPixels(uint8_t* d, uint8_t r, uint8_t g, uint8_t b, uint64_t n) {
    d[0] = r;
    d[1] = g;
    d[2] = b;
    const uint64_t want = n * 3;
    uint64_t filled = 3;
    while (filled < want) {
        const uint64_t k = filled < want - filled ? filled : want - filled;
        memcpy(d + filled, d, (size_t)k);
        filled += k;
    }
}
}  // namespace

kxoRGB8::kxoRGB8(KXClass* lib) : KXIffModule(lib, "kxoRGB8", ".RG8", "RGB8RGBN") {
    InitOwn();
    Configure(nullptr);
}

void kxoRGB8::InitOwn() {
    Body = nullptr;
    RecordBits = 8;
}

void kxoRGB8::FreeWork() {
    if (Body) FreeVec(Body);
    Body = nullptr;
}

void kxoRGB8::LogLine(const char* text) {
    if (Log) Log->Log(5, "%-16s: %s\n", kTag, text);
}

uint32_t kxoRGB8::Save() {
    if (!SaveBuffer || SaveBuffer->Type != ONEPLANE) return KXERR_NOTSUPPORTED;
    const KX_GfxBuffer* src = SaveBuffer;
    if (src->ColorDepth != 24 || src->PixelBits != 24) return KXERR_NEED24BIT;
    FreeWork();
    const uint32_t width = src->Width, height = src->Height;
    if (width == 0 || height == 0 || !src->Data) return KXERR_NOTSUPPORTED;
    if (width > 0xFFFF || height > 0xFFFF) return KXERR_FILEREQUIREMENTS;
    const uint64_t pixels = (uint64_t)width * height;
    uint32_t rgbBytes;
    if (!KXSUP_CheckedSize(&rgbBytes, pixels, 3) || src->BufferSize < rgbBytes) return KXERR_NOTSUPPORTED;

    const uint8_t* alpha = nullptr;
    if (uint32_t e = TakeAlphaMap8(src, &alpha)) return e;

    // The records are counted first, so that every size is known and every
    // block allocated before the file is opened; they are then made a block
    // at a time while the file is written.
    uint64_t at = 0;
    const uint64_t records = rgb8Records(src->Data, alpha, pixels, &at, nullptr, UINT64_MAX, [](uint64_t) {});
    if (records > 0xFFFFFFFFu / 4) return KXERR_FILEREQUIREMENTS;
    const uint32_t bodySize = (uint32_t)records * 4;
    Body = static_cast<uint8_t*>(AllocVec(kBlock, MEMF_ANY));
    if (!Body) return KXERR_NOMEMORY;

    const KXOSpecialInfo* info = SaveMetaFlag ? SpecialInfo : nullptr;
    const uint64_t formSize = (uint64_t)bodySize + 40 + iffMetaChunksSize(info);
    if (formSize > 0xFFFFFFFFu) return KXERR_FILEREQUIREMENTS;
    IffBmhd bmhd = {};
    bmhd.Width = (uint16_t)width;
    bmhd.Height = (uint16_t)height;
    bmhd.Planes = 25;
    bmhd.Compression = 4;
    bmhd.XAspect = bmhd.YAspect = 1;
    bmhd.PageWidth = (int16_t)width;
    bmhd.PageHeight = (int16_t)height;
    uint8_t bmhdRaw[20];
    iffBuildBmhd(bmhd, bmhdRaw);

    uint32_t e = OpenWrite();
    if (e != KXERR_NONE) return FinishWrite(e);
    iffPushChunk(Iff, "RGB8", "FORM", (uint32_t)formSize);
    iffWriteDataChunk(Iff, "RGB8", "BMHD", bmhdRaw, 20);
    iffWriteMetaChunks(Iff, "RGB8", info);
    iffPushChunk(Iff, "RGB8", "BODY", bodySize);
    at = 0;
    while (at < pixels) {
        const uint64_t n = rgb8Records(src->Data, alpha, pixels, &at, Body, kBlock / 4, [&](uint64_t done) { ReportProgress((uint32_t)(done * 100 / pixels)); });
        iffWriteChunkBytes(Iff, Body, (size_t)n * 4);
    }
    iffPopChunk(Iff);
    iffPopChunk(Iff);
    FreeWork();
    return FinishWrite(KXERR_NONE);
}

uint32_t kxoRGB8::Load() {
    FreeWork();
    RecordBits = 8;
    uint32_t e = StartLoad();
    if (e != KXERR_NONE) return e;
    auto fail = [&](uint32_t code) {
        FreeWork();
        return FailLoad(code);
    };
    LogLine("Parsing RGB8 chunks...");
    iffSetStopChunks(Iff, iffIdIs(Iff->FormType, "RGB8") ? kStopsRGB8 : kStopsRGBN, kStopCount);
    IffBmhd bmhd = {};
    // A BMHD that could not be taken fails the load even when a later one is good.
    uint32_t bmhdErr = KXERR_NONE;
    IffChunk* bodyChunk = nullptr;
    for (;;) {
        IffChunk* c = iffParse(Iff);
        LogLine("Loop...");
        if (!c) break;
        if (c->Size == 0) continue;
        const char* id = c->Id;
        if (iffIdIs(id, "BMHD")) {
            LogLine("BMHD found");
            if (c->Size > 20) {
                bmhdErr = KXERR_DECODE;
                continue;
            }
            LogLine("BMHD ok");
            uint8_t raw[20] = {};
            if (!iffReadRecord(Iff, raw, c->Size)) {
                bmhdErr = KXERR_EOF;
                continue;
            }
            iffParseBmhd(raw, 20, &bmhd);
            RecordBits = bmhd.Planes == 13 ? 4 : 8;
        } else if (iffIdIs(id, "BODY")) {
            bodyChunk = c;
            break;
        } else if (iffIsMetaChunk(id)) {
            iffReadMetaChunk(this, Iff, c, true);
        }
    }

    if (bmhd.Compression != 4) return fail(KXERR_FILEREQUIREMENTS);
    LogLine("BMHD compression supported");
    if (bmhd.Planes != 13 && bmhd.Planes != 25) return fail(KXERR_FILEREQUIREMENTS);
    LogLine("BMHD planes supported");
    if (!bodyChunk) return fail(KXERR_NOVIEWABLEDATA);
    if (bmhdErr != KXERR_NONE) return fail(bmhdErr);
    const uint32_t width = bmhd.Width, height = bmhd.Height;
    if (width == 0 || height == 0) return fail(KXERR_FILEREQUIREMENTS);
    SubFormatId = SubFormatIds[0];

    // The picture is sized first (3 beyond the library's size limit); a body
    // shorter than the least that can cover it (4 bytes for 127 pixels of
    // RGB8, 2 for 65535 of RGBN) is a file cut short, found before anything
    // is allocated.
    const uint64_t pixels = (uint64_t)width * height;
    uint32_t dataSize;
    if ((e = KXSUP_CheckSize(&dataSize, pixels, 3))) return fail(e);
    if (!iffChunkComplete(Iff)) return fail(KXERR_EOF);
    const uint32_t bodySize = bodyChunk->Size;
    const uint64_t leastBody = RecordBits == 8 ? (pixels + 126) / 127 * 4 : (pixels + 65534) / 65535 * 2;
    if (bodySize < leastBody) return fail(KXERR_EOF);
    // The body is read in blocks: the records of one block are decoded
    // before the next is read, the few bytes of a record cut by the block
    // end carried over.
    const uint32_t blockSize = bodySize < kBlock ? bodySize : kBlock;
    Body = static_cast<uint8_t*>(AllocVec(blockSize, MEMF_ANY));
    if (!Body) return fail(KXERR_NOMEMORY);
    uint64_t unread = bodySize;
    uint32_t held = 0, at = 0;
    bool readFailed = false;
    // Keeps at least kRecordMax bytes ahead of `at` while the body has them.
    auto refill = [&]() {
        if (held - at >= kRecordMax || unread == 0) return;
        memmove(Body, Body + at, held - at);
        held -= at;
        at = 0;
        const uint32_t want = (uint32_t)(blockSize - held < unread ? blockSize - held : unread);
        if (iffReadChunkBytes(Iff, Body + held, want) != (long)want) {
            readFailed = true;
            unread = 0;
            return;
        }
        held += want;
        unread -= want;
    };

    if ((e = NewLoadedBuffer(1, dataSize, MEMF_ANY, ONEPLANE, width, height, 24))) return fail(e);
    KX_GfxBuffer* b = LoadedBuffer;
    b->PixelBits = 24;
    b->ViewMode = KXSUP_BestModeID(width, height, 8);

    uint8_t* alpha = nullptr;
    uint64_t done = 0;
    bool cutShort = false;
    while (done < pixels) {
        if (((pixels - done) & 255) == 0) ReportProgress((uint32_t)(done * 100 / pixels));
        refill();
        const uint8_t* s = Body + at;
        const uint8_t* end = Body + held;
        uint8_t r, g, bl;
        bool genlock;
        uint64_t count;
        if (RecordBits == 8) {
            if (end - s < 4) {
                cutShort = true;
                break;
            }
            r = s[0];
            g = s[1];
            bl = s[2];
            genlock = (s[3] & 0x80) != 0;
            count = s[3] & 0x7F;
            s += 4;
        } else {
            if (end - s < 2) {
                cutShort = true;
                break;
            }
            const uint32_t v = iffGet16(s);
            s += 2;
            r = (uint8_t)((v >> 8) & 0xF0);
            g = (uint8_t)((v >> 4) & 0xF0);
            bl = (uint8_t)(v & 0xF0);
            genlock = (v & 8) != 0;
            count = v & 7;
            // A count of 0 is continued in the next byte, and a 0 there in
            // the next two.
            if (count == 0) {
                if (s >= end) {
                    cutShort = true;
                    break;
                }
                count = *s++;
                if (count == 0) {
                    if (end - s < 2) {
                        cutShort = true;
                        break;
                    }
                    count = iffGet16(s);
                    s += 2;
                }
            }
        }
        at = (uint32_t)(s - Body);
        if (count == 0) count = 1;
        if (count > pixels - done) count = pixels - done;
        if (genlock && !alpha) {
            // The map comes with the first transparent pixel; what came before is opaque.
            uint32_t mapSize;
            if (KXSUP_CheckedSize(&mapSize, pixels)) alpha = static_cast<uint8_t*>(AllocVec(mapSize, MEMF_ANY));
            if (alpha) {
                memset(alpha, 255, mapSize);
                b->Version = 3;
                b->NativeDIPF = 0;
                b->AlphaType = KXALPHA_CHANNEL8;
                b->AlphaData = alpha;
            }
        }
        uint8_t* d = b->Data + done * 3;
        if (count == 1) {
            d[0] = r;
            d[1] = g;
            d[2] = bl;
            if (alpha) alpha[done] = genlock ? 0 : 255;
        } else {
            fillPixels(d, r, g, bl, count);
            if (alpha) memset(alpha + done, genlock ? 0 : 255, (size_t)count);
        }
        done += count;
    }
    FreeWork();
    if (cutShort || readFailed) return fail(KXERR_EOF);
    FinishRead();
    return KXERR_NONE;
}
