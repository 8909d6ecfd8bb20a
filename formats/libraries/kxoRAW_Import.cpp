// kxoRAW_Import: raw pixel import (see kxoRAW_Import.h).
#include "formats/libraries/kxoRAW_Import.h"

#include <strings.h>

#include <cstring>
#include <memory>

namespace {

const char* const TAG = "rawimport";

enum Format : uint32_t { GRAY8, LUT8, RGB24, RGBA32, ARGB32, RGB_A32, RGB48, RGBA64, ARGB64, RGB_A64, BAYER8, RGB16, RGB15, ARGB16 };

struct FormatInfo {
    const char* Name;
    uint32_t FileBytes;   // what one pixel occupies in the file
    uint32_t BufferBits;  // 8, 24 or 48
};

// In the order of Format.
const FormatInfo kFormats[] = {
    {"GRAY8", 1, 8},   {"LUT8", 1, 8},    {"RGB24", 3, 24},   {"RGBA32", 4, 24}, {"ARGB32", 4, 24},
    {"RGB+A32", 4, 24}, {"RGB48", 6, 48},  {"RGBA64", 8, 48},  {"ARGB64", 8, 48}, {"RGB+A64", 8, 48},
    {"BAYER8", 1, 24}, {"RGB16", 2, 24},  {"RGB15", 2, 24},   {"ARGB16", 2, 24},
};

struct VecDeleter {
    void operator()(void* p) const { FreeVec(p); }
};
using VecPtr = std::unique_ptr<uint8_t, VecDeleter>;

// A whole decimal number of the settings: blanks, an optional "+", digits
// (none reads as 0, text after them is ignored). A minus sign or more than
// 18 digits does not parse.
bool parseCount(const char* text, uint64_t* value) {
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '+') ++p;
    if (*p == '-') return false;
    uint64_t v = 0;
    for (int digits = 0; *p >= '0' && *p <= '9'; ++p) {
        if (++digits > 18) return false;
        v = v * 10 + (uint64_t)(*p - '0');
    }
    *value = v;
    return true;
}

inline void store16(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

// 16-bit sample i of a row in the chosen byte order.
inline uint32_t sample(const uint8_t* row, uint64_t i, bool little) {
    const uint8_t* p = row + 2 * i;
    return little ? (uint32_t)(p[0] | p[1] << 8) : (uint32_t)(p[0] << 8 | p[1]);
}

inline uint8_t expand5(uint32_t x) { return (uint8_t)(x << 3 | x >> 2); }
inline uint8_t expand6(uint32_t x) { return (uint8_t)(x << 2 | x >> 4); }

// B, G, R triples become R, G, B.
void swapTriples(uint8_t* p, uint64_t pixels) {
    for (uint64_t i = 0; i < pixels; ++i, p += 3) {
        uint8_t t = p[0];
        p[0] = p[2];
        p[2] = t;
    }
}

void swapSamples(uint8_t* p, uint64_t samples) {
    for (uint64_t i = 0; i < samples; ++i, p += 2) {
        uint8_t t = p[0];
        p[0] = p[1];
        p[1] = t;
    }
}

// One row of a converted format into 24- or 48-bit pixels (host-order
// samples) and, when alpha is not null, the row of the alpha map.
void convertRow(uint32_t format, bool little, const uint8_t* in, uint8_t* out, uint8_t* alpha, uint32_t width) {
    switch (format) {
    case RGBA32:
    case ARGB32: {
        const uint32_t c = format == RGBA32 ? 0 : 1, a = format == RGBA32 ? 3 : 0;
        for (uint32_t x = 0; x < width; ++x, in += 4, out += 3) {
            out[0] = in[c];
            out[1] = in[c + 1];
            out[2] = in[c + 2];
            if (alpha) alpha[x] = in[a];
        }
        if (!little) swapTriples(out - 3 * (uint64_t)width, width);
        break;
    }
    case RGBA64:
    case ARGB64: {
        const uint32_t c = format == RGBA64 ? 0 : 1, a = format == RGBA64 ? 3 : 0;
        for (uint32_t x = 0; x < width; ++x, in += 8, out += 6) {
            store16(out, sample(in, c, little));
            store16(out + 2, sample(in, c + 1, little));
            store16(out + 4, sample(in, c + 2, little));
            // The most significant byte of the alpha sample.
            if (alpha) alpha[x] = (uint8_t)(sample(in, a, little) >> 8);
        }
        break;
    }
    case RGB16:
        for (uint32_t x = 0; x < width; ++x, out += 3) {
            const uint32_t v = sample(in, x, little);
            out[0] = expand5(v >> 11);
            out[1] = expand6((v >> 5) & 63);
            out[2] = expand5(v & 31);
        }
        break;
    case RGB15:
    case ARGB16:
        for (uint32_t x = 0; x < width; ++x, out += 3) {
            const uint32_t v = sample(in, x, little);
            out[0] = expand5((v >> 10) & 31);
            out[1] = expand5((v >> 5) & 31);
            out[2] = expand5(v & 31);
            if (alpha) alpha[x] = (v & 0x8000) ? 255 : 0;
        }
        break;
    default:
        break;
    }
}

}  // namespace

struct kxoRAW_Import::Layout {
    char Name[4097] = {};
    uint32_t Format = GRAY8;
    uint64_t Width = 1, Height = 1, Start = 0, End = 0;
    bool Numbers = true;  // every number parsed
    bool Little = false, Planar = false, LoadCm = true;
};

kxoRAW_Import::kxoRAW_Import(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoRAW_Import");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoRAW_Import::Reset() { FrameReset(); }

uint32_t kxoRAW_Import::SetIOMode(int32_t mode) {
    if (mode != KXIO_DEVICE) return KXERR_NOTSUPPORTED;
    IOMode = mode;
    return KXERR_NONE;
}

uint32_t kxoRAW_Import::CheckFile(FILE*, const char*, int32_t mode) { return mode == KXIO_DEVICE ? 1 : 0; }

uint32_t kxoRAW_Import::readLayout(Layout& l) {
    // A name longer than the field is refused, never cut: a cut name opens another file.
    if (GetKey("LOADNAME", l.Name, sizeof(l.Name)) != 1 || !l.Name[0] || strlen(l.Name) >= sizeof(l.Name) - 1)
        return KXERR_FILENOTFOUND;
    char v[64];
    if (GetKey("ENDIAN", v, sizeof(v)) == 1) l.Little = strcasecmp(v, "LITTLE") == 0;
    if (GetKey("FORMAT", v, sizeof(v)) == 1)
        for (uint32_t i = 0; i < sizeof(kFormats) / sizeof(kFormats[0]); ++i)
            if (strcasecmp(v, kFormats[i].Name) == 0) l.Format = i;
    struct {
        const char* Key;
        uint64_t* Value;
    } numbers[] = {{"WIDTH", &l.Width}, {"HEIGHT", &l.Height}, {"OFFSET_START", &l.Start}, {"OFFSET_END", &l.End}};
    for (auto& n : numbers)
        if (GetKey(n.Key, v, sizeof(v)) == 1 && !parseCount(v, n.Value)) l.Numbers = false;
    if (GetKey("LUT8_FORMAT", v, sizeof(v)) == 1) l.Planar = strcasecmp(v, "PLANAR") == 0;
    if (GetKey("LOAD_CM", v, sizeof(v)) == 1) l.LoadCm = strcasecmp(v, "OFF") != 0;
    return KXERR_NONE;
}

uint32_t kxoRAW_Import::Load() {
    if (IOMode != KXIO_DEVICE) return KXERR_NOTSUPPORTED;
    Layout l;
    uint32_t err = readLayout(l);
    if (err != KXERR_NONE) {
        KXF_Log(this, 2, TAG, "no usable LOADNAME\n");
        return err;
    }
    KXSUP_FreeGfxBuffer(LoadedBuffer);
    LoadedBuffer = nullptr;
    if (ReadFile) amClose(ReadFile);
    ReadFile = amOpen(l.Name, "rb");
    if (!ReadFile) {
        KXF_Log(this, 2, TAG, "cannot open '%s'\n", l.Name);
        return KXERR_FILENOTFOUND;
    }
    return KXF_EndLoad(this, loadBody(l));
}

uint32_t kxoRAW_Import::loadBody(const Layout& l) {
    const FormatInfo& f = kFormats[l.Format];
    const bool planar = l.Planar && (l.Format == GRAY8 || l.Format == LUT8);
    KXF_Log(this, 5, TAG, "'%s' as %s%s, %llu x %llu, %s\n", l.Name, f.Name, planar ? " (planar)" : "",
            (unsigned long long)l.Width, (unsigned long long)l.Height, l.Little ? "little-endian" : "big-endian");
    if (!l.Numbers || l.Width == 0 || l.Height == 0 || l.Width > UINT32_MAX || l.Height > UINT32_MAX) {
        KXF_Log(this, 2, TAG, "width, height or offsets do not make a picture\n");
        return KXERR_SIZEMISMATCH;
    }
    KXByteReader r(ReadFile);
    if (!r.ok()) return KXERR_EOF;
    const uint64_t fileSize = r.size();
    // Offsets that reach past the file leave no data at all.
    const uint64_t data = (l.Start <= fileSize && l.End <= fileSize - l.Start) ? fileSize - l.Start - l.End : 0;
    const uint32_t w = (uint32_t)l.Width, h = (uint32_t)l.Height;

    KX_GfxBuffer* img = nullptr;
    uint32_t err;
    if (planar) {
        const uint64_t plane = ((uint64_t)w + 7) / 8 * h;
        if (data < plane) return KXERR_EOF;
        if (data % plane != 0 || data / plane > 8) {
            KXF_Log(this, 2, TAG, "%llu bytes are not 1 to 8 planes of %llu\n", (unsigned long long)data, (unsigned long long)plane);
            return KXERR_SIZEMISMATCH;
        }
        err = KXF_NewImage(&img, BITPLANE, w, h, (uint32_t)(data / plane), 0, false);
    } else {
        // A picture whose buffer cannot be held by any record is refused as a layout error.
        uint32_t bytes = 0;
        err = KXSUP_CheckSize(&bytes, w, h, f.BufferBits / 8);
        if (err == KXERR_NONE) {
            const uint64_t expected = (uint64_t)w * h * f.FileBytes;
            if (data != expected) {
                KXF_Log(this, 2, TAG, "%llu bytes of data, the layout needs %llu\n", (unsigned long long)data, (unsigned long long)expected);
                return data < expected ? KXERR_EOF : KXERR_SIZEMISMATCH;
            }
            err = KXF_NewImage(&img, ONEPLANE, w, h, f.BufferBits, f.BufferBits, false);
        }
    }
    if (err == KXERR_FILEREQUIREMENTS) err = KXERR_SIZEMISMATCH;
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    img->ViewMode = 0;
    if (!r.seek(l.Start)) return KXERR_EOF;

    const uint64_t pixels = (uint64_t)w * h;
    switch (l.Format) {
    case GRAY8:
    case LUT8:
    case RGB24:
    case RGB48:
        if (!r.bytes(img->Data, img->BufferSize)) return KXERR_EOF;
        break;
    case RGB_A32:
        if (!r.bytes(img->Data, img->BufferSize)) return KXERR_EOF;
        // Without memory for the map the picture loads without alpha.
        if (KXF_AttachAlpha8(img) == KXERR_NONE && !r.bytes(img->AlphaData, (size_t)pixels)) return KXERR_EOF;
        break;
    case RGB_A64:
        if (!r.bytes(img->Data, img->BufferSize)) return KXERR_EOF;
        // The alpha plane holds 16-bit samples; the map keeps their most
        // significant bytes, in the byte order the settings choose.
        if (KXF_AttachAlpha8(img) == KXERR_NONE) {
            VecPtr row(static_cast<uint8_t*>(AllocVec((size_t)w * 2, MEMF_ANY)));
            if (!row) return KXERR_NOMEMORY;
            uint8_t* a = KXSUP_AlphaBytes(img);
            const uint32_t hi = l.Little ? 1 : 0;
            for (uint32_t y = 0; y < h; ++y, a += w) {
                if (!r.bytes(row.get(), (size_t)w * 2)) return KXERR_EOF;
                for (uint32_t x = 0; x < w; ++x) a[x] = row.get()[2 * x + hi];
            }
        }
        break;
    default:
        if ((err = readConverted(l, r, img)) != KXERR_NONE) return err;
        break;
    }

    // Straight data in the big-endian order: B, G, R triples and big-endian samples.
    if (!l.Little) {
        if (l.Format == RGB24 || l.Format == RGB_A32) swapTriples(img->Data, pixels);
        if (l.Format == RGB48 || l.Format == RGB_A64) swapSamples(img->Data, pixels * 3);
    }
    if (l.Format == GRAY8 || l.Format == LUT8) loadPalette(l, img);
    if (f.BufferBits == 48) KXSUP_SetGfxBufferEndianess(img, KXGFXF_II);
    return KXERR_NONE;
}

uint32_t kxoRAW_Import::readConverted(const Layout& l, KXByteReader& r, KX_GfxBuffer* img) {
    const uint32_t w = img->Width, h = img->Height;
    const uint32_t outRow = w * (img->PixelBits / 8);
    if (l.Format == BAYER8) {
        VecPtr work(static_cast<uint8_t*>(AllocVec((size_t)w * h, MEMF_ANY)));
        if (!work) return KXERR_NOMEMORY;
        if (!r.bytes(work.get(), (size_t)w * h)) return KXERR_EOF;
        // Sensor rows: G B G B ... on even rows, R G R G ... on odd rows.
        // Both pixels of a column pair get one colour. A neighbour outside
        // the picture is taken from the nearest row or column of the same
        // colour inside it.
        const uint8_t* s = work.get();
        for (uint32_t y = 0; y < h; ++y) {
            KXF_RowProgress(this, y, h);
            const uint32_t up = y > 0 ? y - 1 : (h > 1 ? 1 : 0);
            const uint32_t down = y + 1 < h ? y + 1 : (y > 0 ? y - 1 : 0);
            const uint8_t* row = s + (uint64_t)y * w;
            const uint8_t* above = s + (uint64_t)up * w;
            const uint8_t* below = s + (uint64_t)down * w;
            uint8_t* out = img->Data + (uint64_t)y * outRow;
            for (uint32_t x = 0; x < w; x += 2) {
                const uint32_t xr = x + 1 < w ? x + 1 : (x > 0 ? x - 1 : x);
                uint8_t rgb[3];
                if ((y & 1) == 0) {
                    rgb[0] = above[x];
                    rgb[1] = (uint8_t)((row[x] + (h > 1 ? below[xr] : row[x])) / 2);
                    rgb[2] = row[xr];
                } else {
                    rgb[0] = row[x];
                    rgb[1] = (uint8_t)((row[xr] + above[x]) / 2);
                    rgb[2] = below[xr];
                }
                memcpy(out + 3 * (uint64_t)x, rgb, 3);
                if (x + 1 < w) memcpy(out + 3 * (uint64_t)x + 3, rgb, 3);
            }
        }
        return KXERR_NONE;
    }

    const bool hasAlpha = l.Format == RGBA32 || l.Format == ARGB32 || l.Format == RGBA64 || l.Format == ARGB64 || l.Format == ARGB16;
    // Without memory for the map the picture loads without alpha.
    uint8_t* alpha = hasAlpha && KXF_AttachAlpha8(img) == KXERR_NONE ? KXSUP_AlphaBytes(img) : nullptr;
    const size_t inRow = (size_t)w * kFormats[l.Format].FileBytes;
    VecPtr row(static_cast<uint8_t*>(AllocVec(inRow, MEMF_ANY)));
    if (!row) return KXERR_NOMEMORY;
    for (uint32_t y = 0; y < h; ++y) {
        KXF_RowProgress(this, y, h);
        if (!r.bytes(row.get(), inRow)) return KXERR_EOF;
        convertRow(l.Format, l.Little, row.get(), img->Data + (uint64_t)y * outRow, alpha ? alpha + (uint64_t)y * w : nullptr, w);
    }
    return KXERR_NONE;
}

void kxoRAW_Import::loadPalette(const Layout& l, KX_GfxBuffer* img) {
    KXF_GreyRamp(img->Palette, 256);
    if (!l.LoadCm) return;
    // pic.RAW (any case) takes its palette from pic.cm.
    const size_t n = strlen(l.Name);
    if (n <= 4 || strcasecmp(l.Name + n - 4, ".RAW") != 0) return;
    char cm[sizeof(l.Name)];
    memcpy(cm, l.Name, n - 4);
    memcpy(cm + n - 4, ".cm", 4);
    FILE* file = amOpen(cm, "rb");
    if (!file) return;
    KXByteReader r(file);
    const uint64_t size = r.size();
    // A file of more than 256 entries gives its first 256.
    const size_t take = size > 768 ? 768 : (size_t)size;
    uint8_t palette[768];
    if (r.ok() && size > 0 && size % 3 == 0 && r.bytes(palette, take)) {
        memcpy(img->Palette, palette, take);
        const uint32_t depth = KXSUP_ColorsToDepth((uint32_t)(take / 3));
        if (depth < img->ColorDepth) img->ColorDepth = depth;
        KXF_Log(this, 5, TAG, "palette of %u entries from '%s'\n", (unsigned)(take / 3), cm);
    }
    amClose(file);
}
