// kxoRAW: headerless pixel dumps (see kxoRAW.h). Save prepares everything
// a layout needs (converted copies, alpha maps, row buffers, the side-file
// line) into a Job, then opens the sibling temporary file and writes whole
// rows through the checked writer.
#include "formats/libraries/kxoRAW.h"

#include <strings.h>

#include <cstdarg>
#include <cstring>
#include <memory>

#include "core/files.h"

namespace {

const char* const TAG = "raw";

enum SubFormat : uint32_t { DUMP = 0, BAYER = 1, YCBCR16 = 2, RGB16 = 3 };
enum Output { PLANES, CHUNKY, RGB24, RGB48, BAYER8, YCBCR, WORDS565 };

struct VecDeleter {
    void operator()(void* p) const { FreeVec(p); }
};
using VecPtr = std::unique_ptr<uint8_t, VecDeleter>;

// Storage kinds and depths any layout starts from.
bool storageSupported(const KX_GfxBuffer* b) {
    if (b->Type == BITPLANE) return b->ColorDepth >= 1 && b->ColorDepth <= 8;
    if (b->Type != ONEPLANE) return false;
    if (b->ColorDepth >= 1 && b->ColorDepth <= 8) return b->PixelBits == 8;
    return (b->ColorDepth == 24 || b->ColorDepth == 48) && b->PixelBits == b->ColorDepth;
}

std::string format(const char* f, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* f, ...) {
    char line[256];
    va_list args;
    va_start(args, f);
    vsnprintf(line, sizeof(line), f, args);
    va_end(args);
    return line;
}

// Rounded down, also for negative sums.
inline int64_t floorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

inline uint8_t luma(const uint8_t* p) { return (uint8_t)((19595u * p[0] + 38469u * p[1] + 7471u * p[2]) >> 16); }

}  // namespace

struct kxoRAW::Job {
    const KX_GfxBuffer* Image = nullptr;
    Output Kind = PLANES;
    uint64_t Bytes = 0;               // colour data written in one block
    const uint8_t* Alpha8 = nullptr;  // 24-bit dumps
    const uint16_t* Alpha16 = nullptr;  // big-endian samples
    VecPtr Row;                         // one output row
    VecPtr Chroma;                      // YCbCr16: Cb, Cr of each group of four
    std::string Line;
};

kxoRAW::kxoRAW(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoRAW");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoRAW::releaseWork() {
    KXSUP_FreeGfxBuffer(LoadedBuffer);
    LoadedBuffer = nullptr;
    if (AlphaMap8Owned) FreeVec(AlphaMap8);
    if (AlphaMap16Owned) FreeVec(AlphaMap16);
    AlphaMap8 = nullptr;
    AlphaMap16 = nullptr;
    AlphaMap8Owned = AlphaMap16Owned = 0;
}

// The frame's reset frees the converted buffer; the base's the alpha maps.
void kxoRAW::Reset() { FrameReset(); }

uint32_t kxoRAW::Save() {
    if (IOMode != KXIO_FILE || !SaveBuffer) return KXERR_NOTSUPPORTED;
    if (!storageSupported(SaveBuffer)) {
        KXF_Log(this, 2, TAG, "storage kind %u, depth %u: not dumped\n", (unsigned)SaveBuffer->Type, (unsigned)SaveBuffer->ColorDepth);
        return KXERR_NOTSUPPORTED;
    }
    if (!KXF_BufferIsConsistent(SaveBuffer)) return KXERR_INTERNALACCESS;
    releaseWork();

    Job j;
    uint32_t err;
    switch (SelectedSubFormat) {
    case BAYER: err = prepareBayer(j); break;
    case YCBCR16:
    case RGB16: err = prepare24(j); break;
    default: err = prepareDump(j); break;
    }
    if (err != KXERR_NONE) return err;

    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;
    KXByteWriter w(WriteFile);
    err = write(j, w);
    if (err == KXERR_NONE && !w.ok()) err = KXERR_IO;
    if ((err = KXF_EndSave(this, &sf, err)) != KXERR_NONE) {
        KXF_Log(this, 2, TAG, "'%s' not saved (%u)\n", SaveName, (unsigned)err);
        return err;
    }
    KXF_Log(this, 5, TAG, "%s\n", j.Line.c_str());
    // The import wizard shows this line; a dump without it is incomplete.
    if (!amSetComment(SaveName, j.Line.c_str())) {
        KXF_Log(this, 2, TAG, "side file of '%s' not written\n", SaveName);
        return KXERR_IO;
    }
    return KXERR_NONE;
}

uint32_t kxoRAW::prepareDump(Job& j) {
    const KX_GfxBuffer* b = SaveBuffer;
    const uint32_t w = b->Width, h = b->Height;
    uint32_t bytes = 0, err;
    if (b->ColorDepth <= 8) {
        const bool chunky = KXF_KeyIs(this, "LUT8_FORMAT", "CHUNKY");
        // The other storage kind goes through a converted copy.
        if (chunky != (b->Type == ONEPLANE)) {
            KX_GfxBuffer* copy = nullptr;
            err = chunky ? KXSUP_BitPlaneToOnePlane8(b, &copy) : KXSUP_OnePlaneToBitPlane8(b, &copy);
            if (!copy) return err != KXERR_NONE ? err : KXERR_NOMEMORY;
            // The pixels are complete; only an alpha map, which a dump does not carry, may be missing.
            if (err != KXERR_NONE) KXF_Log(this, 4, TAG, "conversion without alpha map (%u)\n", (unsigned)err);
            LoadedBuffer = copy;
            b = copy;
        }
        if (chunky) {
            if ((err = KXSUP_CheckSize(&bytes, w, h)) != KXERR_NONE) return err;
            j.Kind = CHUNKY;
        } else {
            // Planes of (width + 7) / 8 bytes a row, one after the other.
            if ((err = KXSUP_CheckSize(&bytes, ((uint64_t)w + 7) / 8, h, b->ColorDepth)) != KXERR_NONE) return err;
            j.Kind = PLANES;
        }
        // A record may keep longer plane rows (BytesPerLine); checked by the frame.
        if (!KXF_BufferIsConsistent(b) || (chunky && b->BufferSize < bytes)) return KXERR_INTERNALACCESS;
        j.Line = format("8 bit (%s), colordepth %ld, %ld x %ld (width x height)", chunky ? "chunky" : "planes", (long)b->ColorDepth,
                        (long)w, (long)h);
    } else if (b->ColorDepth == 24) {
        int owned = 0;
        err = KXSUP_GetAlphaMap8(b, &AlphaMap8, &owned, 1, 1);
        AlphaMap8Owned = owned;
        if (err != KXERR_NONE && err != KXERR_NEEDALPHA) return err;
        if ((err = KXSUP_CheckSize(&bytes, w, h, 3)) != KXERR_NONE) return err;
        j.Kind = RGB24;
        j.Alpha8 = AlphaMap8;
        j.Line = format("%s, colordepth %ld, %ld x %ld (width x height)", j.Alpha8 ? "32 bit (RGB+A)" : "24 bit (RGB)", (long)b->ColorDepth,
                        (long)w, (long)h);
    } else {
        int owned = 0;
        err = KXSUP_GetAlphaMap16(b, &AlphaMap16, &owned, 1);
        AlphaMap16Owned = owned;
        if (err != KXERR_NONE && err != KXERR_NEEDALPHA) return err;
        if ((err = KXSUP_CheckSize(&bytes, w, h, 6)) != KXERR_NONE) return err;
        // The samples (and a 16-bit map of the record's own) go big-endian in place.
        if ((err = KXSUP_ConvertGfxBufferEndianess(SaveBuffer, KXENDIAN_BIG)) != KXERR_NONE) return err;
        // A widened copy of our own is in host order: it goes big-endian here, once.
        if (owned && AlphaMap16) {
            auto* bytes8 = reinterpret_cast<uint8_t*>(AlphaMap16);
            for (uint64_t i = 0, n = (uint64_t)w * h; i < n; ++i) {
                const uint16_t v = AlphaMap16[i];
                bytes8[2 * i] = (uint8_t)(v >> 8);
                bytes8[2 * i + 1] = (uint8_t)v;
            }
        }
        j.Kind = RGB48;
        j.Alpha16 = AlphaMap16;
        j.Line = format("%s, colordepth %ld, %ld x %ld (width x height), %s", j.Alpha16 ? "64 bit (RGB+A)" : "48 bit (RGB)",
                        (long)b->ColorDepth, (long)w, (long)h, "MM");
    }
    j.Image = b;
    j.Bytes = bytes;
    return KXERR_NONE;
}

uint32_t kxoRAW::prepareBayer(Job& j) {
    const KX_GfxBuffer* b = SaveBuffer;
    if (IsHamBuffer(b)) return KXERR_NOHAM;
    if (b->Type == BITPLANE) {
        KX_GfxBuffer* copy = nullptr;
        uint32_t err = KXSUP_BitPlaneToOnePlane8(b, &copy);
        if (!copy) return err != KXERR_NONE ? err : KXERR_NOMEMORY;
        LoadedBuffer = copy;
        b = copy;
    }
    uint32_t rowBytes = 0, err;
    if ((err = KXSUP_CheckSize(&rowBytes, b->Width)) != KXERR_NONE) return err;
    j.Row.reset(static_cast<uint8_t*>(AllocVec(rowBytes, MEMF_ANY)));
    if (!j.Row) return KXERR_NOMEMORY;
    j.Image = b;
    j.Kind = BAYER8;
    j.Line = format("8 bit (Bayer Matrix), %ld x %ld (width x height)", (long)b->Width, (long)b->Height);
    return KXERR_NONE;
}

uint32_t kxoRAW::prepare24(Job& j) {
    const KX_GfxBuffer* b = SaveBuffer;
    uint32_t err;
    if (b->Type != ONEPLANE || b->ColorDepth != 24) {
        // A 24-bit copy with the operator's own defaults (never the user's pad).
        if ((err = KXF_RunOperator(Lib, "kxpAnyTo24Bit", SaveBuffer, &LoadedBuffer)) != KXERR_NONE) return err;
        b = LoadedBuffer;
        if (b->Type != ONEPLANE || b->PixelBits != 24 || !KXF_BufferIsConsistent(b)) return KXERR_INTERNALACCESS;
    }
    const uint32_t w = b->Width, h = b->Height;
    const uint64_t groups = ((uint64_t)w + 3) / 4;
    uint32_t rowBytes = 0;
    if (SelectedSubFormat == YCBCR16) {
        // Rows are whole groups of four pixels; pixels past the row's end repeat its last one.
        uint32_t chromaBytes = 0;
        if ((err = KXSUP_CheckSize(&rowBytes, groups, 8)) != KXERR_NONE) return err;
        if ((err = KXSUP_CheckSize(&chromaBytes, groups, 2)) != KXERR_NONE) return err;
        j.Chroma.reset(static_cast<uint8_t*>(AllocVec(chromaBytes, MEMF_ANY)));
        if (!j.Chroma) return KXERR_NOMEMORY;
        j.Kind = YCBCR;
        j.Line = format("16 bit (YCbCr16), %ld x %ld (width x height)", (long)w, (long)h);
    } else {
        if ((err = KXSUP_CheckSize(&rowBytes, w, 2)) != KXERR_NONE) return err;
        j.Kind = WORDS565;
        j.Line = format("16 bit (RGB16 5:6:5), %ld x %ld (width x height)", (long)w, (long)h);
    }
    j.Row.reset(static_cast<uint8_t*>(AllocVec(rowBytes, MEMF_ANY)));
    if (!j.Row) return KXERR_NOMEMORY;
    j.Image = b;
    return KXERR_NONE;
}

uint32_t kxoRAW::write(Job& j, KXByteWriter& w) {
    const KX_GfxBuffer* b = j.Image;
    const uint32_t width = b->Width, height = b->Height;
    uint8_t* row = j.Row.get();
    switch (j.Kind) {
    case PLANES: {
        const uint64_t bpl = ((uint64_t)width + 7) / 8;
        if (b->BytesPerLine == bpl) {
            w.bytes(b->Data, (size_t)j.Bytes);
            break;
        }
        const uint64_t rows = (uint64_t)height * b->ColorDepth;
        for (uint64_t r = 0; r < rows && w.ok(); ++r) w.bytes(b->Data + r * b->BytesPerLine, (size_t)bpl);
        break;
    }
    case CHUNKY:
        w.bytes(b->Data, (size_t)j.Bytes);
        break;
    case RGB24:
        w.bytes(b->Data, (size_t)j.Bytes);
        if (j.Alpha8) w.bytes(j.Alpha8, (size_t)width * height);
        break;
    case RGB48:
        w.bytes(b->Data, (size_t)j.Bytes);
        if (!j.Alpha16) break;
        for (uint32_t y = 0; y < height && w.ok(); ++y) {
            KXF_RowProgress(this, y, height);
            w.bytes(j.Alpha16 + (uint64_t)y * width, (size_t)width * 2);
        }
        break;
    case BAYER8: {
        // Sensor rows: G B G B ... on even rows, R G R G ... on odd rows.
        const uint32_t bytesPerPixel = b->PixelBits / 8;
        // The high byte of a 48-bit sample comes first in big-endian order.
        const uint32_t high = KXSUP_GetGfxBufferEndianess(b) == KXENDIAN_BIG ? 0 : 1;
        for (uint32_t y = 0; y < height && w.ok(); ++y) {
            KXF_RowProgress(this, y, height);
            const uint8_t* in = b->Data + (uint64_t)y * width * bytesPerPixel;
            const uint32_t even = (y & 1) ? 0 : 1, odd = (y & 1) ? 1 : 2;  // component at even and odd columns
            if (bytesPerPixel == 1) {
                for (uint32_t x = 0; x < width; ++x) row[x] = b->Palette[3 * in[x] + ((x & 1) ? odd : even)];
            } else if (bytesPerPixel == 3) {
                for (uint32_t x = 0; x < width; ++x) row[x] = in[3 * (uint64_t)x + ((x & 1) ? odd : even)];
            } else {
                for (uint32_t x = 0; x < width; ++x) row[x] = in[6 * (uint64_t)x + 2 * ((x & 1) ? odd : even) + high];
            }
            w.bytes(row, width);
        }
        break;
    }
    case YCBCR: {
        const uint64_t groups = ((uint64_t)width + 3) / 4;
        uint8_t* chroma = j.Chroma.get();
        const uint32_t last = width - 1;
        for (uint32_t y = 0; y < height && w.ok(); ++y) {
            KXF_RowProgress(this, y, height);
            const uint8_t* in = b->Data + (uint64_t)y * width * 3;
            auto pixel = [in, last](uint64_t x) { return in + 3 * (x < last ? x : last); };
            // Rows 2k and 2k + 1 share the chroma of row 2k.
            if ((y & 1) == 0) {
                for (uint64_t g = 0; g < groups; ++g) {
                    int64_t cb = 0, cr = 0;
                    for (uint64_t k = 0; k < 4; ++k) {
                        const uint8_t* p = pixel(4 * g + k);
                        cb += -11056 * (int64_t)p[0] - 21712 * (int64_t)p[1] + 32768 * (int64_t)p[2];
                        cr += 32768 * (int64_t)p[0] - 27440 * (int64_t)p[1] - 5328 * (int64_t)p[2];
                    }
                    chroma[2 * g] = (uint8_t)(floorDiv(cb, 262144) + 128);
                    chroma[2 * g + 1] = (uint8_t)(floorDiv(cr, 262144) + 128);
                }
            }
            // Each pixel pair is a little-endian word: Y0 in bits 24-31, Cb, Y1, Cr in bits 0-7.
            uint8_t* out = row;
            for (uint64_t g = 0; g < groups; ++g) {
                for (uint64_t pair = 0; pair < 2; ++pair, out += 4) {
                    out[0] = chroma[2 * g + 1];
                    out[1] = luma(pixel(4 * g + 2 * pair + 1));
                    out[2] = chroma[2 * g];
                    out[3] = luma(pixel(4 * g + 2 * pair));
                }
            }
            w.bytes(row, (size_t)groups * 8);
        }
        break;
    }
    case WORDS565:
        for (uint32_t y = 0; y < height && w.ok(); ++y) {
            KXF_RowProgress(this, y, height);
            const uint8_t* in = b->Data + (uint64_t)y * width * 3;
            for (uint32_t x = 0; x < width; ++x, in += 3) {
                const uint32_t v = ((in[0] * 256u) & 0xF800) | ((in[1] * 8u) & 0x07E0) | (in[2] / 8u);
                row[2 * (uint64_t)x] = (uint8_t)v;
                row[2 * (uint64_t)x + 1] = (uint8_t)(v >> 8);
            }
            w.bytes(row, (size_t)width * 2);
        }
        break;
    }
    return KXERR_NONE;
}
