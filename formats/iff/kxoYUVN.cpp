// kxoYUVN: reads and writes FORM "YUVN" (see kxoYUVN.h). Relies on the
// chunk layer and the metadata chunk set of iff.h, the core's alpha-map
// helper and the safe save. Refuses 16-bit samples and unknown modes,
// files without YCHD, a chroma mode without its chroma planes, widths that
// are not a whole number of chroma groups, and planes shorter than the
// picture needs (29): the luma plane holds width x height samples in every
// mode.
#include "formats/iff/kxoYUVN.h"

#include <strings.h>

#include <cstring>

namespace {
const char kStops[] =
    "YUVNYCHD"
    "YUVNNAME"
    "YUVNAUTH"
    "YUVNANNO"
    "YUVN(c) "
    "YUVNEXIF"
    "YUVNIPTC"
    "YUVNXMP0"
    "YUVNXMP1"
    "YUVNICCP"
    "YUVNICCN"
    "YUVNDATO"
    "YUVNDATY"
    "YUVNDATU"
    "YUVNDATA"
    "YUVNDATV";
const uint32_t kStopCount = 16;

enum { kY = 0, kU = 1, kV = 2, kData = 3, kDato = 4, kAlphaOut = 5 };

struct Mode {
    uint8_t Byte;       // YCHD mode byte
    uint32_t Number;    // 400, 411, ...
    uint32_t PerChroma; // pixels one (U, V) pair serves; 0: grey
    uint32_t Group;     // the width must be a multiple of this
};
// In sub-format order.
const Mode kModes[7] = {{0, 400, 0, 1}, {1, 411, 4, 4}, {2, 422, 2, 4}, {3, 444, 1, 1}, {8, 200, 0, 1}, {9, 211, 2, 2}, {10, 222, 1, 1}};

inline uint8_t clampShift(int32_t x) { return x >= 0x1000000 ? 255 : x <= 0xFFFF ? 0 : (uint8_t)(x >> 16); }

// Fixed-point BT.601 terms of one chroma byte, computed once.
struct ChromaTables {
    int32_t Rv[256], Gu[256], Gv[256], Bu[256];
    ChromaTables() {
        for (int c = 0; c < 256; ++c) {
            Rv[c] = 91880 * (c - 128);
            Gu[c] = -22580 * (c - 128);
            Gv[c] = -46799 * (c - 128);
            Bu[c] = 116128 * (c - 128);
        }
    }
};
const ChromaTables& tables() {
    static const ChromaTables t;
    return t;
}

// One row of P pixels a chroma pair.
template <uint32_t P>
void colourRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t width, uint8_t* out) {
    const ChromaTables& t = tables();
    for (uint32_t x = 0; x < width; x += P, ++u, ++v) {
        const int32_t r = t.Rv[*v], g = t.Gu[*u] + t.Gv[*v], b = t.Bu[*u];
        for (uint32_t k = 0; k < P; ++k, out += 3) {
            const int32_t l = (int32_t)y[x + k] << 16;
            out[0] = clampShift(l + r);
            out[1] = clampShift(l + g);
            out[2] = clampShift(l + b);
        }
    }
}

void greyRow(const uint8_t* y, uint32_t width, uint8_t* out) {
    for (uint32_t x = 0; x < width; ++x, out += 3) out[0] = out[1] = out[2] = y[x];
}

// Video-range opacity: 16 and below transparent, 253 and above opaque, in
// between through whole percent.
uint8_t fromVideoRange(uint32_t m) {
    if (m <= 16) return 0;
    if (m >= 253) return 255;
    return (uint8_t)(((m - 16) * 100 / 237) * 255 / 100);
}
}  // namespace

kxoYUVN::kxoYUVN(KXClass* lib) : KXIffModule(lib, "kxoYUVN", ".YUV", "YUVN") {
    InitOwn();
    Configure(nullptr);
}

void kxoYUVN::InitOwn() {
    memset(Ychd, 0, sizeof(Ychd));
    for (int i = 0; i < 6; ++i) {
        Plane[i] = nullptr;
        PlaneSize[i] = 0;
    }
    ModeNumber = 0;
}

void kxoYUVN::FreeWork() {
    for (int i = 0; i < 6; ++i) {
        if (Plane[i]) FreeVec(Plane[i]);
        Plane[i] = nullptr;
        PlaneSize[i] = 0;
    }
}

bool kxoYUVN::SwitchOn(const char* key) {
    char value[64];
    if (!GetKey(key, value, sizeof(value))) return true;
    return strcasecmp(value, "OFF") != 0;
}

uint32_t kxoYUVN::Save() {
    if (!SaveBuffer) return KXERR_NOTSUPPORTED;
    const KX_GfxBuffer* src = SaveBuffer;
    if (src->Type != ONEPLANE || src->ColorDepth != 24 || src->PixelBits != 24) return KXERR_NEED24BIT;
    // Index 0 is the only one taken; whatever its name, the file is written in mode (411).
    if (SelectedSubFormat != 0) return KXERR_NOTSUPPORTED;
    FreeWork();
    const uint32_t width = src->Width, height = src->Height;
    if (width == 0 || height == 0 || !src->Data) return KXERR_NOTSUPPORTED;
    // The rounded width must fit YCHD's 16 bits.
    if (width > 0xFFFC || height > 0xFFFF) return KXERR_FILEREQUIREMENTS;
    uint32_t rgbBytes;
    if (!KXSUP_CheckedSize(&rgbBytes, width, height, 3) || src->BufferSize < rgbBytes) return KXERR_NOTSUPPORTED;
    const uint32_t pw = (width + 3) & ~3u, cw = pw / 4;
    uint32_t ySize, cSize;
    if (uint32_t e = KXSUP_CheckSize(&ySize, pw, height)) return e;
    if (uint32_t e = KXSUP_CheckSize(&cSize, cw, height)) return e;
    const uint8_t* alpha = nullptr;
    if (SwitchOn("WRITE_ALPHA")) {
        if (uint32_t e = TakeAlphaMap8(src, &alpha)) return e;
    }
    // Everything is converted before the file is opened.
    Plane[kY] = static_cast<uint8_t*>(AllocVec(ySize, MEMF_ANY));
    Plane[kU] = static_cast<uint8_t*>(AllocVec(cSize, MEMF_ANY));
    Plane[kV] = static_cast<uint8_t*>(AllocVec(cSize, MEMF_ANY));
    if (alpha) Plane[kAlphaOut] = static_cast<uint8_t*>(AllocVec(ySize, MEMF_ANY));
    if (!Plane[kY] || !Plane[kU] || !Plane[kV] || (alpha && !Plane[kAlphaOut])) {
        FreeWork();
        return KXERR_NOMEMORY;
    }
    for (uint32_t y = 0; y < height; ++y) {
        if ((y & 7) == 0) ReportProgress((uint32_t)((uint64_t)y * 100 / height));
        const uint8_t* row = src->Data + (uint64_t)y * width * 3;
        uint8_t* yo = Plane[kY] + (uint64_t)y * pw;
        uint8_t* uo = Plane[kU] + (uint64_t)y * cw;
        uint8_t* vo = Plane[kV] + (uint64_t)y * cw;
        for (uint32_t g = 0; g < cw; ++g) {
            int32_t su = 0, sv = 0;
            for (uint32_t k = 0; k < 4; ++k) {
                const uint32_t x = g * 4 + k;
                // Pad pixels have luma 0; their chroma share is the row's last pixel.
                const uint8_t* p = row + (uint64_t)(x < width ? x : width - 1) * 3;
                const int32_t r = p[0], gr = p[1], b = p[2];
                yo[x] = x < width ? (uint8_t)((19595 * r + 38469 * gr + 7471 * b) >> 16) : 0;
                su += -11056 * r - 21712 * gr + 32768 * b;
                sv += 32768 * r - 27440 * gr - 5328 * b;
            }
            // Arithmetic shifts: the sums are floored.
            uo[g] = (uint8_t)(((su >> 2) >> 16) + 128);
            vo[g] = (uint8_t)(((sv >> 2) >> 16) + 128);
        }
        if (alpha) {
            uint8_t* ao = Plane[kAlphaOut] + (uint64_t)y * pw;
            memcpy(ao, alpha + (uint64_t)y * width, width);
            memset(ao + width, 0xFF, pw - width);
        }
    }

    const KXOSpecialInfo* info = SaveMetaFlag ? SpecialInfo : nullptr;
    uint64_t formSize = (uint64_t)ySize + 2ull * cSize + 58 + 2 * (cSize & 1) + iffMetaChunksSize(info);
    if (alpha) formSize += (uint64_t)ySize + 8;
    if (formSize > 0xFFFFFFFFu) {
        FreeWork();
        return KXERR_FILEREQUIREMENTS;
    }
    uint8_t ychd[22] = {};
    iffPut16(ychd, pw);
    iffPut16(ychd + 2, height);
    iffPut16(ychd + 4, width);
    iffPut16(ychd + 6, height);
    ychd[12] = ychd[13] = 1;
    ychd[16] = kModes[1].Byte;

    uint32_t e = OpenWrite();
    if (e != KXERR_NONE) {
        FreeWork();
        return FinishWrite(e);
    }
    iffPushChunk(Iff, "YUVN", "FORM", (uint32_t)formSize);
    iffWriteDataChunk(Iff, "YUVN", "YCHD", ychd, 22);
    iffWriteMetaChunks(Iff, "YUVN", info);
    if (alpha) iffWriteDataChunk(Iff, "YUVN", "DATO", Plane[kAlphaOut], ySize);
    iffWriteDataChunk(Iff, "YUVN", "DATY", Plane[kY], ySize);
    iffWriteDataChunk(Iff, "YUVN", "DATU", Plane[kU], cSize);
    iffWriteDataChunk(Iff, "YUVN", "DATV", Plane[kV], cSize);
    iffPopChunk(Iff);
    FreeWork();
    return FinishWrite(KXERR_NONE);
}

uint32_t kxoYUVN::Load() {
    FreeWork();
    InitOwn();
    uint32_t e = StartLoad();
    if (e != KXERR_NONE) return e;
    auto fail = [&](uint32_t code) {
        FreeWork();
        return FailLoad(code);
    };
    const bool readAlpha = SwitchOn("READ_ALPHA");
    // A whole chunk into its plane slot: 29 when the file does not hold it.
    auto takeChunk = [&](int slot, const IffChunk* c) -> uint32_t {
        if (!iffChunkComplete(Iff)) return KXERR_EOF;
        uint32_t n;
        if (uint32_t r = KXSUP_CheckSize(&n, c->Size)) return r;
        uint8_t* block = static_cast<uint8_t*>(AllocVec(n, MEMF_ANY));
        if (!block) return KXERR_NOMEMORY;
        if (iffReadChunkBytes(Iff, block, n) != (long)n) {
            FreeVec(block);
            return KXERR_EOF;
        }
        if (Plane[slot]) FreeVec(Plane[slot]);
        Plane[slot] = block;
        PlaneSize[slot] = n;
        return KXERR_NONE;
    };
    iffSetStopChunks(Iff, kStops, kStopCount);
    // The first error is remembered and parsing goes on.
    uint32_t err = KXERR_NONE;
    auto note = [&](uint32_t code) {
        if (err == KXERR_NONE) err = code;
    };
    const Mode* mode = nullptr;
    uint32_t width = 0, height = 0;
    bool haveV = false;
    while (IffChunk* c = iffParse(Iff)) {
        if (c->Size == 0) continue;
        const char* id = c->Id;
        if (iffIdIs(id, "YCHD")) {
            if (c->Size < 22) {
                note(KXERR_DECODE);
                continue;
            }
            if (!iffReadRecord(Iff, Ychd, 22)) {
                note(KXERR_EOF);
                continue;
            }
            width = iffGet16(Ychd);
            height = iffGet16(Ychd + 2);
            mode = nullptr;
            for (const Mode& m : kModes)
                if (Ychd[16] == m.Byte) mode = &m;
            if (!mode) {
                note(KXERR_FILEREQUIREMENTS);
                continue;
            }
            ModeNumber = mode->Number;
            SubFormatId = SubFormatIds[mode - kModes];
        } else if (iffIdIs(id, "DATY")) {
            note(takeChunk(kY, c));
        } else if (iffIdIs(id, "DATU")) {
            note(takeChunk(kU, c));
        } else if (iffIdIs(id, "DATA") || iffIdIs(id, "DATO")) {
            if (readAlpha) note(takeChunk(iffIdIs(id, "DATA") ? kData : kDato, c));
        } else if (iffIdIs(id, "DATV")) {
            haveV = true;
            note(takeChunk(kV, c));
            break;
        } else if (iffIsMetaChunk(id)) {
            iffReadMetaChunk(this, Iff, c, true);
        }
    }
    if (err != KXERR_NONE) return fail(err);
    if (!mode) return fail(KXERR_FILEREQUIREMENTS);
    if (!haveV) return fail(KXERR_NOVIEWABLEDATA);
    const bool chroma = mode->PerChroma != 0;
    if (!Plane[kY] || (chroma && !Plane[kU])) return fail(KXERR_NOVIEWABLEDATA);
    if (width == 0 || height == 0 || width % mode->Group != 0) return fail(KXERR_FILEREQUIREMENTS);

    // Every plane must hold what the picture reads of it.
    uint32_t dataSize, pixels;
    if ((e = KXSUP_CheckSize(&dataSize, width, height, 3))) return fail(e);
    pixels = width * height;
    if (PlaneSize[kY] < pixels) return fail(KXERR_EOF);
    const uint32_t cw = chroma ? width / mode->PerChroma : 0;
    if (chroma && (PlaneSize[kU] < (uint64_t)cw * height || PlaneSize[kV] < (uint64_t)cw * height)) return fail(KXERR_EOF);
    const int alphaSlot = Plane[kData] ? kData : Plane[kDato] ? kDato : -1;
    if (alphaSlot >= 0 && PlaneSize[alphaSlot] < pixels) return fail(KXERR_EOF);

    if ((e = NewLoadedBuffer(1, dataSize, MEMF_ANY, ONEPLANE, width, height, 24))) return fail(e);
    KX_GfxBuffer* b = LoadedBuffer;
    b->PixelBits = b->ColorDepth;
    b->ViewMode = KXSUP_BestModeID(width, height, 24);
    if (alphaSlot >= 0) {
        // DATA is the map as it is; DATO (only without DATA) is converted in place.
        uint8_t* map = Plane[alphaSlot];
        Plane[alphaSlot] = nullptr;
        if (alphaSlot == kDato) {
            uint8_t lut[256];
            for (uint32_t m = 0; m < 256; ++m) lut[m] = fromVideoRange(m);
            for (uint32_t i = 0; i < pixels; ++i) map[i] = lut[map[i]];
        }
        b->Version = 3;
        b->NativeDIPF = 0;
        b->AlphaType = KXALPHA_CHANNEL8;
        b->AlphaData = map;
    }
    for (uint32_t y = 0; y < height; ++y) {
        if ((y & 7) == 0) ReportProgress((uint32_t)((uint64_t)y * 100 / height));
        const uint8_t* yr = Plane[kY] + (uint64_t)y * width;
        uint8_t* out = b->Data + (uint64_t)y * width * 3;
        if (!chroma) {
            greyRow(yr, width, out);
            continue;
        }
        const uint8_t* ur = Plane[kU] + (uint64_t)y * cw;
        const uint8_t* vr = Plane[kV] + (uint64_t)y * cw;
        switch (mode->PerChroma) {
            case 1: colourRow<1>(yr, ur, vr, width, out); break;
            case 2: colourRow<2>(yr, ur, vr, width, out); break;
            default: colourRow<4>(yr, ur, vr, width, out); break;
        }
    }
    FreeWork();
    FinishRead();
    return KXERR_NONE;
}
