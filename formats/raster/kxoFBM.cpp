// kxoFBM: Fuzzy Bitmap files (see kxoFBM.h).
#include "formats/raster/kxoFBM.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "formats/raster/kxplanes.h"

namespace {

const uint32_t HEADER_SIZE = 256;

// Header fields: offset and width. Each is text ended by a zero byte.
struct Field {
    uint32_t At, Width;
};
const Field MAGIC = {0, 8}, COLS = {8, 8}, ROWS = {16, 8}, PLANES = {24, 8}, BITS = {32, 8}, PHYSBITS = {40, 8},
            ROWLEN = {48, 12}, PLNLEN = {60, 12}, CLRLEN = {72, 12}, ASPECT = {84, 12}, TITLE = {96, 80},
            CREDITS = {176, 80};

// The decimal value of a field, read within the field only; -1 for a
// field that holds no number or one beyond 32 bits.
int64_t number(const uint8_t* h, Field f) {
    char text[16] = {};
    memcpy(text, h + f.At, f.Width);
    char* end = nullptr;
    const long long v = strtoll(text, &end, 10);
    if (end == text || v < 0 || v > 0xFFFFFFFFll) return -1;
    return v;
}

// Writes text into a field, cut to leave its zero byte; false when it
// had to be cut.
bool put(uint8_t* h, Field f, const char* text) {
    const size_t n = strlen(text);
    memcpy(h + f.At, text, n < f.Width - 1 ? n : f.Width - 1);
    return n < f.Width;
}

}  // namespace

kxoFBM::kxoFBM(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoFBM");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoFBM::Reset() { FrameReset(); }

uint32_t kxoFBM::CheckFile(FILE* file, const char* name, int32_t mode) {
    (void)name;
    if (mode != KXIO_FILE || !file) return 0;
    char b[8] = {};
    const bool read = KXF_PeekHead(file, b, 7) == 7;
    return read && strncasecmp(b, "%bitmap", 7) == 0 ? 1 : 0;
}

uint32_t kxoFBM::Load() { return KXF_Load(this, &kxoFBM::LoadBody); }

uint32_t kxoFBM::LoadBody() {
    KXByteReader r(ReadFile);
    uint8_t h[HEADER_SIZE];
    if (!r.bytes(h, sizeof(h))) return KXERR_EOF;
    SubFormatId = 0;
    const int64_t w = number(h, COLS), ht = number(h, ROWS), planes = number(h, PLANES), bits = number(h, BITS),
                  phys = number(h, PHYSBITS), mapLength = number(h, CLRLEN);
    const bool wide = bits == 16 && phys == 16 && planes == 3;
    if (!wide && !(bits == 8 && phys == 8 && (planes == 1 || planes == 3))) return KXERR_FILEREQUIREMENTS;
    if (w <= 0 || ht <= 0 || mapLength < 0) return KXERR_FILEREQUIREMENTS;

    // The colour map comes first; it serves one-plane files only and is
    // passed over in three-plane ones, whose pixels follow it all the same.
    uint8_t map[3][256] = {};
    const uint64_t n = (uint64_t)mapLength / 3, kept = n < 256 ? n : 256;
    if (planes == 1 && n) {
        for (auto& colour : map)
            if (!r.bytes(colour, (size_t)kept) || !r.skip(n - kept)) return KXERR_EOF;
        if (!r.skip((uint64_t)mapLength - 3 * n)) return KXERR_EOF;
    } else if (!r.skip((uint64_t)mapLength)) {
        return KXERR_EOF;
    }

    const uint32_t sampleBytes = wide ? 2 : 1;
    if (r.remaining() < (uint64_t)w * ht * planes * sampleBytes) return KXERR_EOF;
    const uint32_t depth = planes == 1 ? (n ? KXSUP_ColorsToDepth((uint32_t)kept) : 8) : wide ? 48 : 24;
    KX_GfxBuffer* img = nullptr;
    uint32_t err = KXF_NewImage(&img, ONEPLANE, (uint32_t)w, (uint32_t)ht, depth, planes == 1 ? 8 : depth, false);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;

    if (planes == 1) {
        if (n) {
            for (uint32_t i = 0; i < kept; ++i)
                for (uint32_t c = 0; c < 3; ++c) img->Palette[3 * i + c] = map[c][i];
        } else {
            KXF_GreyRamp(img->Palette, 256);
        }
        return r.bytes(img->Data, img->BufferSize) ? KXERR_NONE : KXERR_EOF;
    }

    const uint32_t pixelBytes = 3 * sampleBytes, lineBytes = (uint32_t)w * sampleBytes;
    KXVecBlock line = KXF_AllocBlock(lineBytes);
    if (!line) return KXERR_NOMEMORY;
    for (uint32_t p = 0; p < 3; ++p) {
        KXF_Progress(this, p * 100 / 3);
        for (uint32_t y = 0; y < (uint32_t)ht; ++y) {
            if (!r.bytes(line.get(), lineBytes)) return KXERR_EOF;
            KXF_PlaneToPixels(line.get(), img->Data + (uint64_t)y * w * pixelBytes + p * sampleBytes, (uint32_t)w, sampleBytes,
                              pixelBytes);
        }
    }
    if (wide) KXSUP_SetGfxBufferEndianess(img, KXGFXF_MM);
    return KXERR_NONE;
}

void kxoFBM::WriteColorMap(KXByteWriter& out, const KX_GfxBuffer* image) {
    const uint32_t n = 1u << image->ColorDepth;
    uint8_t map[768];
    for (uint32_t i = 0; i < n; ++i)
        for (uint32_t c = 0; c < 3; ++c) map[c * n + i] = image->Palette[3 * i + c];
    out.bytes(map, 3 * n);
}

void kxoFBM::GetAspect(uint32_t mode, long* whole, long* hundredths) {
    (void)mode;
    *whole = 1;
    *hundredths = 0;
}

uint32_t kxoFBM::Save() {
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    KX_GfxBuffer* src = SaveBuffer;
    const uint32_t depth = src->ColorDepth;
    const bool palette = depth <= 8;
    if (palette ? depth < 1 || src->PixelBits != 8 : (depth != 24 && depth != 48) || src->PixelBits != depth)
        return KXERR_FILEREQUIREMENTS;
    const uint32_t w = src->Width, h = src->Height;

    // The header, whose numbers must fit their fields.
    uint8_t hd[HEADER_SIZE] = {};
    char text[32];
    bool fits = put(hd, MAGIC, "%bitmap");
    auto putNumber = [&](Field f, uint64_t v) {
        snprintf(text, sizeof(text), "%llu", (unsigned long long)v);
        fits = put(hd, f, text) && fits;
    };
    putNumber(COLS, w);
    putNumber(ROWS, h);
    putNumber(PLANES, palette ? 1 : 3);
    putNumber(BITS, depth == 48 ? 16 : 8);
    putNumber(PHYSBITS, depth == 48 ? 16 : 8);
    putNumber(ROWLEN, w);
    putNumber(PLNLEN, (uint64_t)w * h);
    putNumber(CLRLEN, palette ? 3u << depth : 0);
    if (!fits) return KXERR_FILEREQUIREMENTS;
    long whole = 0, hundredths = 0;
    GetAspect(src->ViewMode, &whole, &hundredths);
    snprintf(text, sizeof(text), "%ld.%ld", whole, hundredths);
    put(hd, ASPECT, text);
    const char* name = SaveName ? SaveName : "";
    const char* slash = strrchr(name, '/');
    put(hd, TITLE, slash ? slash + 1 : name);  // cut to 79 characters
    put(hd, CREDITS, depth == 48 ? "Kaxon5 (big endian)" : "Kaxon5");

    const uint32_t sampleBytes = depth == 48 ? 2 : 1, pixelBytes = 3 * sampleBytes;
    KXVecBlock line;
    if (!palette) {
        // The samples are written as they stand: the caller's picture
        // becomes big-endian and stays so.
        if (depth == 48 && (err = KXSUP_ConvertGfxBufferEndianess(src, KXENDIAN_BIG)) != KXERR_NONE) return err;
        line = KXF_AllocBlock((uint64_t)w * sampleBytes);
        if (!line) return KXERR_NOMEMORY;
    }

    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;
    KXByteWriter out(WriteFile);
    out.bytes(hd, sizeof(hd));
    if (palette) {
        WriteColorMap(out, src);
        out.bytes(src->Data, (size_t)w * h);
    } else {
        for (uint32_t p = 0; p < 3 && out.ok(); ++p) {
            KXF_Progress(this, p * 100 / 3);
            for (uint32_t y = 0; y < h && out.ok(); ++y) {
                const uint8_t* s = src->Data + (uint64_t)y * w * pixelBytes + p * sampleBytes;
                KXF_PixelsToPlane(s, line.get(), w, sampleBytes, pixelBytes);
                out.bytes(line.get(), (size_t)w * sampleBytes);
            }
        }
    }
    return KXF_EndSave(this, &sf, out.ok() ? KXERR_NONE : KXERR_IO);
}
