// kxoPFM: portable float maps (see kxoPFM.h).
#include "formats/raster/kxoPFM.h"

#include <strings.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

const uint32_t SUBFORMAT_PF = 0;  // "(PF)"
const uint32_t SUBFORMAT_Pf = 1;  // "(Pf)"

struct VecDeleter {
    void operator()(void* p) const { FreeVec(p); }
};
using VecPtr = std::unique_ptr<uint8_t, VecDeleter>;

// The three header tokens. "#" starts a comment to the line end; a number
// starts at its first digit, the scale at its first printable character
// (so a sign or a point may begin it, and a space there ends it at once);
// a token ends at a space, LF or CR, which is consumed, so the raster
// starts right after the separator that follows the scale. This differs
// from the any-map tokens in the scale's start, hence a reader of its own.
class HeaderTokens {
public:
    explicit HeaderTokens(KXByteReader& r) : R(r) {}
    // KXERR_NONE, KXERR_EOF, or 15 for a token of more than 15 characters.
    uint32_t next(char* out, bool scale) {
        int c;
        for (;;) {
            if ((c = R.next()) < 0) return KXERR_EOF;
            if (c == '#') {
                if (!skipComment()) return KXERR_EOF;
                continue;
            }
            if (scale ? c >= 0x20 && c < 0x7F : c >= '0' && c <= '9') break;
        }
        size_t n = 0;
        while (c != ' ' && c != '\n' && c != '\r') {
            if (c == '#') {  // a comment right after the token ends it
                if (!skipComment()) return KXERR_EOF;
                break;
            }
            if (n == 15) return KXERR_FILEREQUIREMENTS;
            out[n++] = (char)c;
            if ((c = R.next()) < 0) return KXERR_EOF;
        }
        out[n] = 0;
        return KXERR_NONE;
    }

private:
    bool skipComment() {
        int c;
        while ((c = R.next()) >= 0)
            if (c == '\n' || c == '\r') return true;
        return false;
    }
    KXByteReader& R;
};

// Leading digits; false beyond 32 bits.
bool parseNumber(const char* s, uint32_t* out) {
    uint64_t v = 0;
    for (; *s >= '0' && *s <= '9'; ++s)
        if ((v = v * 10 + (uint64_t)(*s - '0')) > UINT32_MAX) return false;
    *out = (uint32_t)v;
    return true;
}

// A float scaled to 0..top, rounded; NaN and negatives give 0.
inline uint32_t toSample(float v, float top) {
    if (!(v > 0.0f)) return 0;
    if (v >= top) return (uint32_t)top;
    return (uint32_t)(v + 0.5f);
}

inline float floatAt(const uint8_t* p, bool little) {
    uint32_t u = little ? (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24
                        : (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
    float f;
    memcpy(&f, &u, 4);
    return f;
}

inline void putFloat(uint8_t* p, float f) {  // little-endian
    uint32_t u;
    memcpy(&u, &f, 4);
    p[0] = (uint8_t)u, p[1] = (uint8_t)(u >> 8), p[2] = (uint8_t)(u >> 16), p[3] = (uint8_t)(u >> 24);
}

}  // namespace

kxoPFM::kxoPFM(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoPFM");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoPFM::Reset() { FrameReset(); }

void kxoPFM::ReadSettings(float* factor, uint32_t* depth) {
    char value[64];
    *factor = 255.0f;
    float f;
    if (GetKey("SCALE_FACTOR", value, sizeof(value)) == 1 && sscanf(value, "%f", &f) == 1) *factor = f;
    *depth = KXF_GetKeyNoCase(this, "COLORDEPTH", value, sizeof(value)) == 1 && strcasecmp(value, "24") == 0 ? 24 : 48;
}

uint32_t kxoPFM::CheckFile(FILE* file, const char* name, int32_t mode) {
    (void)name;
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t m[2] = {0, 0};
    const size_t n = KXF_PeekHead(file, m, 2);
    return n == 2 && m[0] == 'P' && (m[1] == 'F' || m[1] == 'f') ? 1 : 0;
}

uint32_t kxoPFM::Load() {
    const uint32_t err = KXF_Load(this, &kxoPFM::LoadBody);
    if (err != KXERR_FILENOTFOUND) KXF_Progress(this, 100);
    return err;
}

uint32_t kxoPFM::LoadBody() {
    KXByteReader r(ReadFile);
    uint8_t m[2] = {0, 0};
    if (!r.bytes(m, 2) || m[0] != 'P' || (m[1] != 'F' && m[1] != 'f')) return KXERR_UNKNOWNFORMAT;
    r.next();  // the separator after the magic, whatever it is
    HeaderTokens t(r);
    char widthText[16], heightText[16], scaleText[16];
    uint32_t err;
    if ((err = t.next(widthText, false)) != KXERR_NONE || (err = t.next(heightText, false)) != KXERR_NONE ||
        (err = t.next(scaleText, true)) != KXERR_NONE)
        return err;
    uint32_t w = 0, h = 0;
    if (!parseNumber(widthText, &w) || !parseNumber(heightText, &h)) return KXERR_FILEREQUIREMENTS;
    // Every sample is divided by the scale: 0 or a scale that is not a
    // finite number would make every sample meaningless.
    const float scale = strtof(scaleText, nullptr);
    if (!(scale != 0.0f) || !std::isfinite(scale)) return KXERR_FILEREQUIREMENTS;
    const bool little = scale < 0.0f;
    const bool colour = m[1] == 'F';
    SubFormatId = colour ? SUBFORMAT_PF : SUBFORMAT_Pf;

    float factor;
    uint32_t colorDepth;
    ReadSettings(&factor, &colorDepth);
    const uint32_t pixelBits = colour ? colorDepth : 8;
    if (!colour) colorDepth = 8;

    // The float raster must be in the file before the image is allocated.
    const uint32_t channels = colour ? 3 : 1;
    uint32_t rowBytes = 0;
    if (w == 0 || h == 0) return KXERR_FILEREQUIREMENTS;
    if ((err = KXSUP_CheckSize(&rowBytes, w, channels, 4)) != KXERR_NONE) return err;
    if (r.remaining() < (uint64_t)rowBytes * h) return KXERR_EOF;

    KX_GfxBuffer* img = nullptr;
    if ((err = KXF_NewImage(&img, ONEPLANE, w, h, colorDepth, pixelBits, false)) != KXERR_NONE) return err;
    LoadedBuffer = img;
    if (!colour) KXF_GreyRamp(img->Palette, 256);
    VecPtr line(static_cast<uint8_t*>(AllocVec(rowBytes, MEMF_ANY)));
    if (!line) return KXERR_NOMEMORY;
    KXF_Progress(this, 0);
    KXF_Progress(this, 10);

    // 1.0 (after the scale) gives the top sample: 255, or 65535 for 16 bits.
    const float k = factor / std::fabs(scale);
    const float top = pixelBits == 48 ? 65535.0f : 255.0f;
    const float mul = pixelBits == 48 ? k * 257.0f : k;
    const uint32_t samples = w * channels;
    const uint32_t outRow = w * (pixelBits / 8);
    for (uint32_t y = 0; y < h; ++y) {  // file rows run bottom up
        if (ProgressHook && (y & 7) == 0) KXF_Progress(this, (uint32_t)((uint64_t)y * 80 / h + 10));
        if (!r.bytes(line.get(), rowBytes)) return KXERR_EOF;
        const uint8_t* s = line.get();
        uint8_t* d = img->Data + (uint64_t)(h - 1 - y) * outRow;
        if (pixelBits == 48) {
            for (uint32_t i = 0; i < samples; ++i) {
                const uint16_t v = (uint16_t)toSample(floatAt(s + 4 * i, little) * mul, top);
                memcpy(d + 2 * i, &v, 2);
            }
        } else {
            for (uint32_t i = 0; i < samples; ++i) d[i] = (uint8_t)toSample(floatAt(s + 4 * i, little) * mul, top);
        }
    }
    if (pixelBits == 48) KXSUP_SetGfxBufferEndianess(img, 2);  // samples in host (little-endian) order
    if (!colour) KXSUP_AddGfxBufferFlags(img, KXGFXF_GRAY, 1);
    return KXERR_NONE;
}

uint32_t kxoPFM::Save() {
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    KX_GfxBuffer* src = SaveBuffer;
    const uint32_t depth = src->ColorDepth;
    const bool okDepth = (depth <= 8 && src->PixelBits == 8) || (depth == 24 && src->PixelBits == 24) ||
                         (depth == 48 && src->PixelBits == 48);
    if (!okDepth) return KXERR_NOTSUPPORTED;
    return WriteBody();
}

uint32_t kxoPFM::WriteBody() {
    KX_GfxBuffer* src = SaveBuffer;
    const uint32_t depth = src->ColorDepth, w = src->Width, h = src->Height;
    const bool colour = SelectedSubFormat == SUBFORMAT_PF;
    const uint32_t channels = colour ? 3 : 1;
    uint32_t rowBytes = 0;
    uint32_t err = KXSUP_CheckSize(&rowBytes, w, channels, 4);
    if (err != KXERR_NONE) return err;
    VecPtr line(static_cast<uint8_t*>(AllocVec(rowBytes, MEMF_ANY)));
    if (!line) return KXERR_NOMEMORY;
    // 16-bit samples follow the buffer's byte order mark.
    const bool bigEndian = depth == 48 && KXSUP_GetGfxBufferEndianess(src) == KXENDIAN_BIG;

    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;
    KXByteWriter out(WriteFile);
    out.printf("%s\n%lu %lu\n-1.000000\n", colour ? "PF" : "Pf", (unsigned long)w, (unsigned long)h);
    KXF_Progress(this, 50);

    // Samples over their top value, so that white is 1.0 and the file
    // reads back (and in other programs) as the same picture.
    const uint8_t* pal = src->Palette;
    const float top = depth == 48 ? 65535.0f : 255.0f;
    const uint64_t srcRow = (uint64_t)w * (src->PixelBits / 8);
    for (uint32_t i = 0; i < h && out.ok(); ++i) {
        KXF_RowProgress(this, i, h);
        const uint8_t* s = src->Data + (uint64_t)(h - 1 - i) * srcRow;  // bottom row first
        uint8_t* d = line.get();
        for (uint32_t x = 0; x < w; ++x) {
            uint32_t c[3];
            if (depth <= 8) {
                for (int k = 0; k < 3; ++k) c[k] = pal[3 * s[x] + k];
            } else if (depth == 24) {
                for (int k = 0; k < 3; ++k) c[k] = s[3 * x + k];
            } else {
                const uint8_t* p = s + 6 * x;
                for (int k = 0; k < 3; ++k) c[k] = bigEndian ? p[2 * k] << 8 | p[2 * k + 1] : p[2 * k + 1] << 8 | p[2 * k];
            }
            if (colour) {
                for (int k = 0; k < 3; ++k) putFloat(d + 12 * x + 4 * k, (float)c[k] / top);
            } else {
                // The grey every writer of ours computes, over the same top.
                putFloat(d + 4 * x, (float)((c[0] * 30 + c[1] * 59 + c[2] * 11) / 100) / top);
            }
        }
        out.bytes(line.get(), rowBytes);
    }
    return KXF_EndSave(this, &sf, out.ok() ? KXERR_NONE : KXERR_IO);
}
