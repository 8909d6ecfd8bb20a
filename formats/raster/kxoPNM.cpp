// kxoPNM: portable any-maps P1 to P6 (see kxoPNM.h).
#include "formats/raster/kxoPNM.h"

#include <strings.h>

#include <cstring>
#include <memory>

namespace {

const char* const TAG = "pnm";
const uint32_t SUBFORMAT_PPM = 0;  // "PPM (P6)"
const uint32_t SUBFORMAT_PGM = 1;  // "PGM (P5)"
const char* const SUBFORMAT_NAMES[2] = {"PPM (P6)", "PGM (P5)"};

struct VecDeleter {
    void operator()(void* p) const { FreeVec(p); }
};
using VecPtr = std::unique_ptr<uint8_t, VecDeleter>;

bool isDigit(int c) { return c >= '0' && c <= '9'; }
bool isSpace(int c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\v' || c == '\f'; }

// Decimal numbers of the header and of the ASCII rasters. Characters before
// the first digit are skipped, "#" starts a comment to the line end, and the
// character that ends a number is consumed (so the raw raster starts right
// after the single separator that follows maxval).
class TokenReader {
public:
    explicit TokenReader(KXByteReader& r) : R(r) {}
    int get() {
        if (Pending >= 0) {
            int c = Pending;
            Pending = -1;
            return c;
        }
        return R.next();
    }
    void unget(int c) { Pending = c; }
    // false at the end of the file (or inside a comment running to it).
    bool skipComment() {
        int c;
        while ((c = get()) >= 0)
            if (c == '\n' || c == '\r') return true;
        return false;
    }
    // KXERR_NONE, KXERR_EOF, or 15 for a number of more than 15 digits (header)
    // or above 32 bits; samples saturate instead (they are clamped to maxval).
    uint32_t number(uint32_t* value, bool header) {
        int c;
        for (;;) {
            c = get();
            if (c < 0) return KXERR_EOF;
            if (c == '#') {
                if (!skipComment()) return KXERR_EOF;
                continue;
            }
            if (isDigit(c)) break;
        }
        uint64_t v = 0;
        int digits = 0;
        while (isDigit(c)) {
            if (++digits > 15) {
                if (header) return KXERR_FILEREQUIREMENTS;
                v = UINT32_MAX;
            } else {
                v = v * 10 + (uint32_t)(c - '0');
            }
            c = get();
        }
        if (v > UINT32_MAX) {
            if (header) return KXERR_FILEREQUIREMENTS;
            v = UINT32_MAX;
        }
        if (c == '#') skipComment();  // a comment right after the number ends it
        *value = (uint32_t)v;
        return KXERR_NONE;
    }

private:
    KXByteReader& R;
    int Pending = -1;
};

// 0..maxval to 0..255, rounded; values above maxval count as maxval.
void rescaleTable(uint8_t* lut, uint32_t maxval) {
    for (uint32_t v = 0; v < 256; ++v) lut[v] = (uint8_t)(((v > maxval ? maxval : v) * 255 + maxval / 2) / maxval);
}

inline void store16(uint8_t* p, uint16_t v) { memcpy(p, &v, 2); }  // host order

}  // namespace

// The registration comes first so that the pad paths follow its pad name.
kxoPNM::kxoPNM(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoPNM");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoPNM::Reset() { FrameReset(); }

bool kxoPNM::IsHeaderSuppressed() {
    char value[64];
    return GetKey("SUPPRESS_HEADER", value, sizeof(value)) == 1;
}

uint32_t kxoPNM::ReadColorDepth() {
    char value[64];
    // The key may be spelt in any case; its value is compared as a word.
    if (KXF_GetKeyNoCase(this, "COLORDEPTH", value, sizeof(value)) == 1 && strcasecmp(value, "24") == 0) return 24;
    return 48;
}

uint32_t kxoPNM::CheckFile(FILE* file, const char* name, int32_t mode) {
    (void)name;
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t m[2] = {0, 0};
    const size_t n = KXF_PeekHead(file, m, 2);
    return n == 2 && m[0] == 'P' && m[1] >= '1' && m[1] <= '6' ? 1 : 0;
}

uint32_t kxoPNM::Load() {
    const uint32_t err = KXF_Load(this, &kxoPNM::LoadBody);
    if (err != KXERR_FILENOTFOUND) KXF_Progress(this, 100);
    return err;
}

uint32_t kxoPNM::LoadBody() {
    KXByteReader r(ReadFile);
    TokenReader t(r);
    uint8_t m[2] = {0, 0};
    if (!r.bytes(m, 2) || m[0] != 'P' || m[1] < '1' || m[1] > '6') return KXERR_UNKNOWNFORMAT;
    const int kind = m[1] - '0';
    int sep = t.get();
    if (sep == '#') {
        if (!t.skipComment()) return KXERR_EOF;
    } else if (!isSpace(sep)) {
        t.unget(sep);
    }
    SubFormatId = SUBFORMAT_PGM;
    KXF_Log(this, 2, TAG, "Recognized valid PNM sub-type\n");

    uint32_t width = 0, height = 0, maxval = 255, err;
    KXF_Log(this, 2, TAG, "Searching for width tag...\n");
    if ((err = t.number(&width, true)) != KXERR_NONE) return err;
    KXF_Log(this, 2, TAG, "width %lu\n", (unsigned long)width);
    KXF_Log(this, 2, TAG, "Searching for height tag...\n");
    if ((err = t.number(&height, true)) != KXERR_NONE) return err;
    KXF_Log(this, 2, TAG, "height %lu\n", (unsigned long)height);
    if (kind != 1 && kind != 4) {
        KXF_Log(this, 2, TAG, "Searching for maxval tag...\n");
        if ((err = t.number(&maxval, true)) != KXERR_NONE) return err;
    }
    KXF_Log(this, 2, TAG, "maxval %lu\n", (unsigned long)maxval);
    if (maxval == 0 || (maxval > 255 && maxval != 65535)) return KXERR_FILEREQUIREMENTS;
    if (width == 0 || height == 0) return KXERR_FILEREQUIREMENTS;

    const bool colour = kind == 3 || kind == 6;
    if (colour) SubFormatId = SUBFORMAT_PPM;
    KXF_Log(this, 2, TAG, "sub-type set to %s\n", SUBFORMAT_NAMES[SubFormatId]);
    const bool wide = maxval == 65535;

    // Grey maps keep their samples; the palette spreads 0..maxval over
    // black to white (the high byte of 16-bit samples uses all 256).
    uint32_t depth = colour ? 24 : kind == 4 ? 1 : 8;
    if ((kind == 2 || kind == 5) && maxval < 255) depth = KXSUP_ColorsToDepth(maxval + 1);
    uint32_t pixelBits = colour ? 24 : 8;
    if (colour && wide && ReadColorDepth() == 48) depth = pixelBits = 48;

    // The least the raster can take: raw rasters their exact size, ASCII
    // ones a character a pixel (P1) or a digit and a separator a sample.
    // A file too short for it ends here, before the picture is allocated
    // (after the size checks, whose codes come first).
    const uint64_t samples = (uint64_t)width * height * (colour ? 3 : 1);
    uint64_t least;
    if (kind == 4)
        least = ((uint64_t)width + 7) / 8 * height;
    else if (kind == 1)
        least = samples;
    else if (kind == 2 || kind == 3)
        least = samples * 2 - 1;
    else
        least = samples * (wide ? 2 : 1);
    if (kind == 4)
        err = KXSUP_CheckSize(nullptr, ((uint64_t)width + 7) / 8, height);
    else
        err = KXSUP_CheckSize(nullptr, width, height, pixelBits / 8);
    if (err != KXERR_NONE) return err;
    if (!KXF_FileCanHold(r, least)) return KXERR_EOF;

    KX_GfxBuffer* img = nullptr;
    err = KXF_NewImage(&img, kind == 4 ? BITPLANE : ONEPLANE, width, height, depth, pixelBits, false);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    KXF_Progress(this, 50);
    KXF_Log(this, 2, TAG, "allocating & reading buffers\n");
    if (kind == 1 || kind == 4) {
        memset(img->Palette, 255, 3);
        memset(img->Palette + 3, 0, 3);
    } else if (!colour) {
        KXF_GreyRamp(img->Palette, wide ? 256 : maxval + 1);
    }

    auto rowReport = [&](uint32_t y) { KXF_Progress(this, (uint32_t)((uint64_t)y * 50 / height + 50)); };
    uint8_t* data = img->Data;
    const uint64_t pixels = (uint64_t)width * height;
    switch (kind) {
    case 4:
        KXF_Log(this, 5, TAG, "reading depth 1\n");
        if (!r.bytes(data, img->BufferSize)) return KXERR_EOF;
        break;
    case 1:
        KXF_Log(this, 5, TAG, "reading depth 8\n");
        KXF_Log(this, 5, TAG, "reading P1\n");
        for (uint32_t y = 0; y < height; ++y) {
            rowReport(y);
            uint8_t* row = data + (uint64_t)y * width;
            for (uint32_t x = 0; x < width; ++x) {
                int c;
                while ((c = t.get()) >= 0 && !isDigit(c))
                    if (c == '#' && !t.skipComment()) return KXERR_EOF;
                if (c < 0) return KXERR_EOF;
                row[x] = c != '0';
            }
        }
        break;
    case 2:
        KXF_Log(this, 5, TAG, "reading depth 8\n");
        KXF_Log(this, 5, TAG, "reading P2\n");
        for (uint32_t y = 0; y < height; ++y) {
            rowReport(y);
            uint8_t* row = data + (uint64_t)y * width;
            for (uint32_t x = 0; x < width; ++x) {
                uint32_t v;
                if (t.number(&v, false) != KXERR_NONE) return KXERR_EOF;
                if (v > maxval) v = maxval;
                row[x] = (uint8_t)(wide ? v >> 8 : v);
            }
        }
        break;
    case 5:
        KXF_Log(this, 5, TAG, "reading depth 8\n");
        if (wide) {
            KXF_Log(this, 5, TAG, "reading other (#8.1)\n");
            VecPtr line(static_cast<uint8_t*>(AllocVec((size_t)width * 2, MEMF_ANY)));
            if (!line) return KXERR_NOMEMORY;
            for (uint32_t y = 0; y < height; ++y) {
                rowReport(y);
                if (!r.bytes(line.get(), (size_t)width * 2)) return KXERR_EOF;
                uint8_t* row = data + (uint64_t)y * width;
                for (uint32_t x = 0; x < width; ++x) row[x] = line.get()[2 * x];
            }
        } else {
            KXF_Log(this, 5, TAG, "reading other (#8.2)\n");
            if (!r.bytes(data, (size_t)pixels)) return KXERR_EOF;
        }
        break;
    case 3:
    case 6: {
        KXF_Log(this, 5, TAG, "reading depth %lu\n", (unsigned long)pixelBits);
        KXF_Log(this, 5, TAG, "buffer size %ld bytes\n", (long)img->BufferSize);
        const uint32_t samples = width * 3;  // fits: the image fits 32 bits
        const uint64_t rowBytes = (uint64_t)samples * (pixelBits / 24);  // bytes per sample: 1 or 2
        uint8_t lut[256];
        if (!wide) rescaleTable(lut, maxval);
        if (kind == 3) {
            KXF_Log(this, 5, TAG, "reading P3\n");
            for (uint32_t y = 0; y < height; ++y) {
                rowReport(y);
                uint8_t* row = data + (uint64_t)y * rowBytes;
                for (uint32_t i = 0; i < samples; ++i) {
                    uint32_t v;
                    if (t.number(&v, false) != KXERR_NONE) return KXERR_EOF;
                    if (v > maxval) v = maxval;
                    if (pixelBits == 48)
                        store16(row + 2 * i, (uint16_t)v);
                    else
                        row[i] = wide ? (uint8_t)(v >> 8) : lut[v];
                }
            }
        } else if (wide) {
            KXF_Log(this, 5, TAG, "reading other (#T.1)\n");
            VecPtr line(static_cast<uint8_t*>(AllocVec((size_t)samples * 2, MEMF_ANY)));
            if (!line) return KXERR_NOMEMORY;
            for (uint32_t y = 0; y < height; ++y) {
                rowReport(y);
                if (!r.bytes(line.get(), (size_t)samples * 2)) return KXERR_EOF;
                const uint8_t* s = line.get();
                uint8_t* row = data + (uint64_t)y * rowBytes;
                if (pixelBits == 48)
                    for (uint32_t i = 0; i < samples; ++i) store16(row + 2 * i, (uint16_t)(s[2 * i] << 8 | s[2 * i + 1]));
                else
                    for (uint32_t i = 0; i < samples; ++i) row[i] = s[2 * i];
            }
        } else {
            KXF_Log(this, 5, TAG, "reading other (#T.2)\n");
            if (!r.bytes(data, (size_t)(pixels * 3))) return KXERR_EOF;
            if (maxval != 255) {
                for (uint32_t y = 0; y < height; ++y) {
                    rowReport(y);
                    uint8_t* row = data + (uint64_t)y * rowBytes;
                    for (uint32_t i = 0; i < samples; ++i) row[i] = lut[row[i]];
                }
            }
        }
        break;
    }
    }

    if (pixelBits == 48) KXSUP_SetGfxBufferEndianess(img, 2);  // samples in host (little-endian) order
    if (!colour) KXSUP_AddGfxBufferFlags(img, KXGFXF_GRAY, 1);
    return KXERR_NONE;
}

uint32_t kxoPNM::Save() {
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    KX_GfxBuffer* src = SaveBuffer;
    const uint32_t depth = src->ColorDepth;
    const bool okDepth = (depth <= 8 && src->PixelBits == 8) || (depth == 24 && src->PixelBits == 24) ||
                         (depth == 48 && src->PixelBits == 48);
    if (!okDepth) return KXERR_NOTSUPPORTED;
    const bool pgm = SelectedSubFormat == SUBFORMAT_PGM;
    const uint32_t w = src->Width, h = src->Height;

    // 16-bit samples go out most significant byte first. They are turned
    // row by row in a line buffer: the caller's image stays as it was (a
    // record below version 4 could not even carry the changed order mark).
    const bool bigEndian = depth == 48 && KXSUP_GetGfxBufferEndianess(src) == KXENDIAN_BIG;
    const uint32_t hi = bigEndian ? 0 : 1;  // offset of the high byte of a sample

    const uint64_t srcRow = (uint64_t)w * (src->PixelBits / 8);
    const uint64_t outRow = pgm ? w : depth <= 8 ? (uint64_t)w * 3 : srcRow;
    VecPtr line;
    if (pgm || depth <= 8 || (depth == 48 && !bigEndian)) {
        line.reset(static_cast<uint8_t*>(AllocVec((size_t)outRow, MEMF_ANY)));
        if (!line) return KXERR_NOMEMORY;
    }
    const bool header = !IsHeaderSuppressed();

    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;
    KXByteWriter out(WriteFile);
    if (header) {
        if (pgm)
            out.printf("P5\n%lu %lu\n255\n", (unsigned long)w, (unsigned long)h);
        else
            out.printf("P6\n%lu %lu\n%lu\n", (unsigned long)w, (unsigned long)h, (unsigned long)(depth == 48 ? 65535 : 255));
    }
    KXF_Progress(this, 50);
    const uint8_t* pal = src->Palette;
    for (uint32_t y = 0; y < h && out.ok(); ++y) {
        KXF_RowProgress(this, y, h);
        const uint8_t* s = src->Data + y * srcRow;
        const uint8_t* row = s;
        if (pgm) {
            uint8_t* d = line.get();
            if (depth <= 8) {
                for (uint32_t x = 0; x < w; ++x) {
                    const uint8_t* p = pal + 3 * s[x];
                    d[x] = (uint8_t)((p[0] * 30 + p[1] * 59 + p[2] * 11) / 100);
                }
            } else if (depth == 24) {
                for (uint32_t x = 0; x < w; ++x, s += 3) d[x] = (uint8_t)((s[0] * 30 + s[1] * 59 + s[2] * 11) / 100);
            } else {
                for (uint32_t x = 0; x < w; ++x, s += 6) d[x] = (uint8_t)((s[hi] * 30 + s[2 + hi] * 59 + s[4 + hi] * 11) / 100);
            }
            row = d;
        } else if (depth == 48 && !bigEndian) {
            uint8_t* d = line.get();
            for (uint64_t i = 0; i < srcRow; i += 2) {
                d[i] = s[i + 1];
                d[i + 1] = s[i];
            }
            row = d;
        } else if (depth <= 8) {
            uint8_t* d = line.get();
            for (uint32_t x = 0; x < w; ++x) memcpy(d + 3 * x, pal + 3 * s[x], 3);
            row = d;
        }
        out.bytes(row, (size_t)outRow);
    }
    return KXF_EndSave(this, &sf, out.ok() ? KXERR_NONE : KXERR_IO);
}
