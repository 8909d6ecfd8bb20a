// kxoPAM: portable arbitrary maps (see kxoPAM.h).
#include "formats/raster/kxoPAM.h"

#include <strings.h>

#include <cstring>
#include <memory>

namespace {

const char* const TAG = "pam";
const uint32_t SUBFORMAT_RGB = 0;   // "RGB (P7)"
const uint32_t SUBFORMAT_GRAY = 1;  // "GRAY (P7)"

const uint32_t KIND_BW = 1, KIND_GRAY = 8, KIND_RGB = 24;

struct VecDeleter {
    void operator()(void* p) const { FreeVec(p); }
};
using VecPtr = std::unique_ptr<uint8_t, VecDeleter>;

struct Header {
    uint32_t width = 0, height = 0, depth = 0, maxval = 255;
    uint32_t kind = 0;  // 0 without a TUPLTYPE line
    bool alpha = false;
};

// One header line of at most 255 characters with one trailing LF (or CR)
// removed, so a CR LF line keeps its CR. false at the end of the file.
bool readLine(KXByteReader& r, char* line) {
    size_t n = 0;
    int c;
    while (n < 255 && (c = r.next()) >= 0) {
        line[n++] = (char)c;
        if (c == '\n') break;
    }
    if (n == 0) return false;
    line[n] = 0;
    if (line[n - 1] == '\n' || line[n - 1] == '\r') line[--n] = 0;
    return true;
}

// A decimal value after its keyword; leading blanks are passed over and the
// number ends at the first non-digit. false beyond 32 bits; text without
// digits is 0.
bool parseNumber(const char* s, uint32_t* out) {
    while (*s == ' ' || *s == '\t') ++s;
    uint64_t v = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
        v = v * 10 + (uint64_t)(*s - '0');
        if (v > UINT32_MAX) return false;
    }
    *out = (uint32_t)v;
    return true;
}

// Keyword lines up to ENDHDR; comments and unknown keywords are passed
// over, a later line overrides an earlier one.
uint32_t readHeader(KXByteReader& r, Header& h) {
    char line[256];
    for (;;) {
        if (!readLine(r, line)) return KXERR_EOF;
        if (line[0] == '#') continue;
        char* value = strchr(line, ' ');
        if (value) *value++ = 0;
        else value = line + strlen(line);
        if (strcmp(line, "ENDHDR") == 0) return KXERR_NONE;
        uint32_t* number = strcmp(line, "WIDTH") == 0    ? &h.width
                           : strcmp(line, "HEIGHT") == 0 ? &h.height
                           : strcmp(line, "DEPTH") == 0  ? &h.depth
                           : strcmp(line, "MAXVAL") == 0 ? &h.maxval
                                                         : nullptr;
        if (number) {
            if (!parseNumber(value, number)) return KXERR_FILEREQUIREMENTS;
        } else if (strcmp(line, "TUPLTYPE") == 0) {
            if (strncmp(value, "BLACKANDWHITE", 13) == 0) h.kind = KIND_BW;
            else if (strncmp(value, "GRAY", 4) == 0) h.kind = KIND_GRAY;
            else if (strncmp(value, "RGB", 3) == 0) h.kind = KIND_RGB;
            else return KXERR_FILEREQUIREMENTS;
            const size_t n = strlen(value);
            h.alpha = n > 6 && strcmp(value + n - 6, "_ALPHA") == 0;
        }
    }
}

inline uint16_t be16(const uint8_t* p) { return (uint16_t)(p[0] << 8 | p[1]); }
inline void store16(uint8_t* p, uint16_t v) { memcpy(p, &v, 2); }  // host order

// 0..maxval to 0..255, rounded; values above maxval count as maxval.
void rescaleTable(uint8_t* lut, uint32_t maxval) {
    for (uint32_t v = 0; v < 256; ++v) lut[v] = (uint8_t)(((v > maxval ? maxval : v) * 255 + maxval / 2) / maxval);
}

// Swaps every 16-bit sample of a block (big-endian file order to host order).
void swap16(uint8_t* p, size_t samples) {
    for (size_t i = 0; i < samples; ++i) {
        uint8_t t = p[2 * i];
        p[2 * i] = p[2 * i + 1];
        p[2 * i + 1] = t;
    }
}

uint8_t greyOf(const uint8_t* rgb) { return (uint8_t)((rgb[0] * 30 + rgb[1] * 59 + rgb[2] * 11) / 100); }

}  // namespace

kxoPAM::kxoPAM(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoPAM");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoPAM::Reset() { FrameReset(); }

bool kxoPAM::IsHeaderSuppressed() {
    char value[64];
    return GetKey("SUPPRESS_HEADER", value, sizeof(value)) == 1;
}

uint32_t kxoPAM::ReadColorDepth() {
    char value[64];
    if (KXF_GetKeyNoCase(this, "COLORDEPTH", value, sizeof(value)) == 1 && strcasecmp(value, "24") == 0) return 24;
    return 48;
}

uint32_t kxoPAM::CheckFile(FILE* file, const char* name, int32_t mode) {
    (void)name;
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t m[2] = {0, 0};
    const size_t n = KXF_PeekHead(file, m, 2);
    return n == 2 && m[0] == 'P' && m[1] == '7' ? 1 : 0;
}

uint32_t kxoPAM::Load() {
    const uint32_t err = KXF_Load(this, &kxoPAM::LoadBody);
    if (err != KXERR_FILENOTFOUND) KXF_Progress(this, 100);
    return err;
}

uint32_t kxoPAM::LoadBody() {
    KXByteReader r(ReadFile);
    uint8_t m[2] = {0, 0};
    if (!r.bytes(m, 2) || m[0] != 'P' || m[1] != '7') return KXERR_UNKNOWNFORMAT;
    r.next();  // the separator after the magic, whatever it is
    Header h;
    uint32_t err = readHeader(r, h);
    KXF_Log(this, 2, TAG, "width %ld height %ld depth %ld maxval %ld channels %ld alpha %ld\n", (long)h.width, (long)h.height,
            (long)h.kind, (long)h.maxval, (long)h.depth, (long)h.alpha);
    if (err != KXERR_NONE) return err;
    if (h.kind == 0) return KXERR_FILEREQUIREMENTS;
    const bool grey = h.kind != KIND_RGB;
    SubFormatId = grey ? SUBFORMAT_GRAY : SUBFORMAT_RGB;
    // Samples of 256..65534 would be two bytes wide with their own scale:
    // refused, as the PNM reader does.
    if (h.maxval == 0 || (h.maxval > 255 && h.maxval != 65535)) return KXERR_FILEREQUIREMENTS;
    const uint32_t need = (grey ? 1 : 3) + (h.alpha ? 1 : 0);
    if (h.depth < need) return KXERR_FILEREQUIREMENTS;
    if (h.width == 0 || h.height == 0) return KXERR_FILEREQUIREMENTS;
    const bool wide = h.maxval == 65535;
    const uint32_t bps = wide ? 2 : 1;

    // The raster must be in the file before anything is allocated for it.
    uint32_t rowBytes = 0;
    if ((err = KXSUP_CheckSize(&rowBytes, h.width, h.depth, bps)) != KXERR_NONE) return err;
    if (r.remaining() < (uint64_t)rowBytes * h.height) return KXERR_EOF;

    // The image: grey tuples without alpha keep their samples under a
    // palette; with alpha they become 24 (48) bits of equal R, G and B.
    uint32_t pixelBits, colorDepth;
    if (grey && !h.alpha) {
        pixelBits = 8;
        colorDepth = h.maxval >= 255 ? 8 : KXSUP_ColorsToDepth(h.maxval + 1);
    } else {
        pixelBits = wide && (grey || ReadColorDepth() == 48) ? 48 : 24;
        colorDepth = pixelBits;
    }
    KX_GfxBuffer* img = nullptr;
    if ((err = KXF_NewImage(&img, ONEPLANE, h.width, h.height, colorDepth, pixelBits, false)) != KXERR_NONE) return err;
    LoadedBuffer = img;
    if (grey && !h.alpha) KXF_GreyRamp(img->Palette, wide ? 256 : h.maxval + 1);

    // An alpha map that cannot be had leaves the picture without alpha.
    uint8_t* alpha8 = nullptr;
    uint16_t* alpha16 = nullptr;
    if (h.alpha && pixelBits == 24 && KXF_AttachAlpha8(img) == KXERR_NONE) alpha8 = KXSUP_AlphaBytes(img);
    if (h.alpha && pixelBits == 48) {
        uint32_t size = 0;
        if (KXSUP_CheckSize(&size, h.width, h.height, 2) == KXERR_NONE &&
            (alpha16 = static_cast<uint16_t*>(AllocVec(size, MEMF_CLEAR))) != nullptr) {
            img->Version = 3;
            img->AlphaType = KXALPHA_CHANNEL16;
            img->AlphaData = alpha16;
        }
    }
    KXF_Progress(this, 50);

    const uint32_t w = h.width, d = h.depth;
    uint8_t* data = img->Data;
    uint8_t lut[256];
    rescaleTable(lut, wide ? 255 : h.maxval);

    // Plain layouts go in one block.
    const uint64_t pixels = (uint64_t)w * h.height;
    if (!h.alpha && d == need && (h.maxval == 255 || pixelBits == 48)) {
        if (!r.bytes(data, img->BufferSize)) return KXERR_EOF;
        if (pixelBits == 48) swap16(data, (size_t)(pixels * 3));
    } else {
        VecPtr line(static_cast<uint8_t*>(AllocVec(rowBytes, MEMF_ANY)));
        if (!line) return KXERR_NOMEMORY;
        const uint8_t* in = line.get();
        const uint32_t outRow = w * (pixelBits / 8);
        for (uint32_t y = 0; y < h.height; ++y) {
            KXF_Progress(this, (uint32_t)((uint64_t)y * 50 / h.height + 50));
            if (!r.bytes(line.get(), rowBytes)) return KXERR_EOF;
            uint8_t* out = data + (uint64_t)y * outRow;
            uint8_t* a8 = alpha8 ? alpha8 + (uint64_t)y * w : nullptr;
            uint16_t* a16 = alpha16 ? alpha16 + (uint64_t)y * w : nullptr;
            const uint32_t c = grey ? 1 : 3;  // colour samples per pixel
            if (grey && !h.alpha) {
                if (wide)
                    for (uint32_t x = 0; x < w; ++x) out[x] = (uint8_t)(be16(in + 2 * x * d) / 257);
                else
                    for (uint32_t x = 0; x < w; ++x) out[x] = in[x * d] > h.maxval ? (uint8_t)h.maxval : in[x * d];
            } else if (pixelBits == 48) {
                for (uint32_t x = 0; x < w; ++x) {
                    const uint8_t* s = in + 2 * x * d;
                    for (uint32_t k = 0; k < 3; ++k) store16(out + 6 * x + 2 * k, be16(s + 2 * (grey ? 0 : k)));
                    if (a16) a16[x] = be16(s + 2 * c);
                }
            } else if (wide) {  // 16-bit RGB kept as its high bytes
                for (uint32_t x = 0; x < w; ++x) {
                    const uint8_t* s = in + 2 * x * d;
                    for (uint32_t k = 0; k < 3; ++k) out[3 * x + k] = s[2 * k];
                    if (a8) a8[x] = s[2 * c];
                }
            } else {
                for (uint32_t x = 0; x < w; ++x) {
                    const uint8_t* s = in + x * d;
                    for (uint32_t k = 0; k < 3; ++k) out[3 * x + k] = lut[s[grey ? 0 : k]];
                    if (a8) a8[x] = lut[s[c]];
                }
            }
        }
    }

    if (pixelBits == 48) KXSUP_SetGfxBufferEndianess(img, 2);  // samples in host (little-endian) order
    if (grey) KXSUP_AddGfxBufferFlags(img, KXGFXF_GRAY, 1);
    return KXERR_NONE;
}

uint32_t kxoPAM::Save() {
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    KX_GfxBuffer* src = SaveBuffer;
    const uint32_t depth = src->ColorDepth;
    const bool okDepth = (depth <= 8 && src->PixelBits == 8) || (depth == 24 && src->PixelBits == 24) ||
                         (depth == 48 && src->PixelBits == 48);
    if (!okDepth) return KXERR_NOTSUPPORTED;

    // A fresh alpha map for this image; one left from an earlier save
    // belongs to another picture.
    if (AlphaMap8 && AlphaMap8Owned) FreeVec(AlphaMap8);
    if (AlphaMap16 && AlphaMap16Owned) FreeVec(AlphaMap16);
    AlphaMap8 = nullptr;
    AlphaMap16 = nullptr;
    AlphaMap8Owned = AlphaMap16Owned = 0;
    if (depth == 24) {
        uint8_t* map = nullptr;
        int owned = 0;
        err = KXSUP_GetAlphaMap8(src, &map, &owned, 1, 1);
        if (err == KXERR_NOMEMORY) return err;
        if (err == KXERR_NONE && map) AlphaMap8 = map, AlphaMap8Owned = owned ? 1 : 0;
    } else if (depth == 48) {
        uint16_t* map = nullptr;
        int owned = 0;
        err = KXSUP_GetAlphaMap16(src, &map, &owned, 1);
        if (err == KXERR_NOMEMORY) return err;
        if (err == KXERR_NONE && map) AlphaMap16 = map, AlphaMap16Owned = owned ? 1 : 0;
    }
    return WriteBody();
}

uint32_t kxoPAM::WriteBody() {
    KX_GfxBuffer* src = SaveBuffer;
    const uint32_t depth = src->ColorDepth, w = src->Width, h = src->Height;
    const bool grey = SelectedSubFormat == SUBFORMAT_GRAY;

    // Alpha of a palette image: a transparent index or a table of 256.
    const uint32_t holds = depth <= 8 ? KXSUP_AlphaHolds(src) : KXALPHA_NONE;
    const int key = holds == KXALPHA_SINGLECOLOR ? (int)(KXSUP_AlphaIndex(src) & 0xFF) : -1;
    const uint8_t* table = holds == KXALPHA_MULTICOLOR ? KXSUP_AlphaBytes(src) : nullptr;
    uint8_t paletteAlpha[256];
    const bool alpha = depth <= 8 ? (key >= 0 || table) : depth == 24 ? AlphaMap8 != nullptr : AlphaMap16 != nullptr;
    for (uint32_t i = 0; i < 256; ++i) paletteAlpha[i] = table ? table[i] : key >= 0 && (int)i == key ? 0 : 255;

    // 16-bit samples and alpha follow the buffer's byte order mark; the
    // file wants them most significant byte first.
    const bool bigEndian = depth == 48 && KXSUP_GetGfxBufferEndianess(src) == KXENDIAN_BIG;
    const uint32_t hi = bigEndian ? 0 : 1;  // offset of the high byte of a sample

    const uint32_t channels = (grey ? 1 : 3) + (alpha ? 1 : 0);
    const uint32_t bps = !grey && depth == 48 ? 2 : 1;
    uint32_t outRow = 0;
    uint32_t err = KXSUP_CheckSize(&outRow, w, channels, bps);
    if (err != KXERR_NONE) return err;
    const bool direct = !grey && !alpha && (depth == 24 || bigEndian);  // rows go out as they stand
    VecPtr line;
    if (!direct) {
        line.reset(static_cast<uint8_t*>(AllocVec(outRow, MEMF_ANY)));
        if (!line) return KXERR_NOMEMORY;
    }
    const bool header = !IsHeaderSuppressed();

    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;
    KXByteWriter out(WriteFile);
    if (header) {
        if (grey)
            out.printf("P7\nWIDTH %lu\nHEIGHT %lu\nDEPTH %lu\nMAXVAL 255\nTUPLTYPE GRAYSCALE%s\nENDHDR\n", (unsigned long)w,
                       (unsigned long)h, (unsigned long)channels, alpha ? "_ALPHA" : "");
        else
            out.printf("P7\nWIDTH %lu\nHEIGHT %lu\nDEPTH %lu\nMAXVAL %lu\nTUPLTYPE RGB%s\nENDHDR\n", (unsigned long)w,
                       (unsigned long)h, (unsigned long)channels, (unsigned long)(depth == 48 ? 65535 : 255),
                       alpha ? "_ALPHA" : "");
    }
    KXF_Progress(this, 50);

    const uint8_t* pal = src->Palette;
    const uint64_t srcRow = (uint64_t)w * (src->PixelBits / 8);
    for (uint32_t y = 0; y < h && out.ok(); ++y) {
        KXF_RowProgress(this, y, h);
        const uint8_t* s = src->Data + y * srcRow;
        const uint8_t* a8 = AlphaMap8 ? AlphaMap8 + (uint64_t)y * w : nullptr;
        const uint8_t* a16 = AlphaMap16 ? reinterpret_cast<const uint8_t*>(AlphaMap16) + (uint64_t)y * w * 2 : nullptr;
        if (direct) {
            out.bytes(s, (size_t)srcRow);
            continue;
        }
        uint8_t* d = line.get();
        if (grey) {
            for (uint32_t x = 0; x < w; ++x) {
                uint8_t g, a = 255;
                if (depth <= 8) {
                    g = greyOf(pal + 3 * s[x]);
                    a = paletteAlpha[s[x]];
                } else if (depth == 24) {
                    g = greyOf(s + 3 * x);
                    if (a8) a = a8[x];
                } else {
                    const uint8_t* p = s + 6 * x;
                    uint32_t r16 = (uint32_t)(p[hi] << 8 | p[1 - hi]), g16 = (uint32_t)(p[2 + hi] << 8 | p[3 - hi]),
                             b16 = (uint32_t)(p[4 + hi] << 8 | p[5 - hi]);
                    g = (uint8_t)(((r16 / 257) * 30 + (g16 / 257) * 59 + (b16 / 257) * 11) / 100);
                    if (a16) a = (uint8_t)((uint32_t)(a16[2 * x + hi] << 8 | a16[2 * x + 1 - hi]) / 257);
                }
                *d++ = g;
                if (alpha) *d++ = a;
            }
        } else if (depth <= 8) {
            for (uint32_t x = 0; x < w; ++x) {
                memcpy(d, pal + 3 * s[x], 3);
                d += 3;
                if (alpha) *d++ = paletteAlpha[s[x]];
            }
        } else if (depth == 24) {  // with alpha
            for (uint32_t x = 0; x < w; ++x) {
                memcpy(d, s + 3 * x, 3);
                d[3] = a8[x];
                d += 4;
            }
        } else {
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t* p = s + 6 * x;
                for (uint32_t k = 0; k < 3; ++k) {
                    *d++ = p[2 * k + hi];
                    *d++ = p[2 * k + 1 - hi];
                }
                if (alpha) {
                    *d++ = a16[2 * x + hi];
                    *d++ = a16[2 * x + 1 - hi];
                }
            }
        }
        out.bytes(line.get(), outRow);
    }
    return KXF_EndSave(this, &sf, out.ok() ? KXERR_NONE : KXERR_IO);
}
