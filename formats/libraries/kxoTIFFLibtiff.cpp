// kxoTIFF's decoding through libtiff: the metadata tags of the selected
// page, then the pixels. Rows are read with TIFFReadScanline for the
// layouts the module knows (8-bit grey and palette, RGB with and without
// alpha, 16-bit grey, 4-bit RGB, 12-bit grey, 32- and 64-bit integers,
// 16-, 24-, 32- and 64-bit floating point, CMYK); every other layout, and
// a known one whose decoding failed on a compressed, tiled or exotic file,
// goes to libtiff's RGBA reader, which gives 24-bit RGB.
//
// libtiff's messages go to the library log through handlers given to this
// one open call (TIFFOpenExt), so nothing process-wide is changed; its
// single allocations are held to the library's size limit.
#include <sys/stat.h>
#include <tiffio.h>

#include <cmath>
#include <cstdarg>
#include <cstring>
#include <utility>

#include "core/colour.h"
#include "core/exifiptc.h"
#include "core/gfxbuffer.h"
#include "core/log.h"
#include "core/memory.h"
#include "formats/libraries/kxlog_helpers.h"
#include "formats/libraries/kxoTIFF.h"
#include "formats/libraries/kxoTIFFInternal.h"

namespace {

const char* const kTag = "tiff";
const KXModuleLog kLog{kTag};

// libtiff's errors and warnings, one log line each at level 5.
int messageHandler(TIFF*, void*, const char* module, const char* format, va_list args) {
    if (!__kxlib_log_global) return 1;
    char text[256];
    vsnprintf(text, sizeof(text), format, args);
    kLog.text(5, module ? module : "");
    kLog.text(5, text);
    return 1;
}

// IEEE 754 half precision, with zero, subnormals, infinity and NaN.
double halfToDouble(uint16_t h) {
    const int sign = h >> 15, exponent = (h >> 10) & 31, mantissa = h & 1023;
    double v;
    if (exponent == 0)
        v = std::ldexp((double)mantissa, -24);
    else if (exponent == 31)
        v = mantissa ? NAN : INFINITY;
    else
        v = std::ldexp((double)(mantissa | 1024), exponent - 25);
    return sign ? -v : v;
}

// A scaled floating-point sample on the 16-bit scale; values outside the
// range are clamped and a NaN counts as 0.
uint16_t floatSample(double v, double smin, double smax) {
    const double range = smax - smin;
    double s = range != 0 ? (v - smin) / range * 65535.0 : 0.0;
    if (!(s >= 0)) return 0;  // negative or NaN
    if (s > 65535.0) return 65535;
    return (uint16_t)s;
}

char* newText(const char* text) {
    char utf8[4096];
    KXSUP_MetaTextToUtf8(text, strlen(text), utf8, sizeof(utf8));
    const size_t n = strlen(utf8);
    auto* copy = static_cast<char*>(AllocVec(n + 1, MEMF_ANY));
    if (copy) memcpy(copy, utf8, n + 1);
    return copy;
}

void setText(char*& field, const char* text) {
    if (char* copy = newText(text)) {
        FreeVec(field);
        field = copy;
    }
}

// The most bytes one byte of a scheme's data can give: 2 PackBits bytes
// give at most 128, a code of 9 or more LZW bits at most the 4096 bytes of
// its longest string, Deflate at most 1032 (a 258-byte match in two bits),
// PixarLog is Deflate of 16-bit values that may widen to floats, and a
// JPEG block of 64 samples takes at least one bit of its DC difference.
// 0: a scheme without such a bound.
uint64_t mostBytesPerByte(uint16_t compression) {
    switch (compression) {
        case COMPRESSION_NONE: return 1;
        case COMPRESSION_PACKBITS: return 64;
        case COMPRESSION_LZW: return 4096;
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE: return 1032;
        case COMPRESSION_PIXARLOG: return 4128;
        case COMPRESSION_OJPEG:
        case COMPRESSION_JPEG: return 2048;
        default: return 0;
    }
}

}  // namespace

TIFF* KXTIFF_Open(const char* path, const char* mode, TIFFErrorHandlerExtR handler) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, handler, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, handler, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, (tmsize_t)KXSUP_GetSizeLimit());
    TIFF* tif = TIFFOpenExt(path, mode, options);
    TIFFOpenOptionsFree(options);
    return tif;
}

// Whether the data the file holds for the current page can give the
// picture its directory declares: the strips' or tiles' bytes that lie in
// the file, times the most a byte of the scheme can give, against the
// decoded size. A bilevel fax row takes at least one bit. Checked before a
// page is allocated, so that a few hundred bytes never cost gigabytes.
bool KXTIFF_DataCanFit(TIFF* tif) {
    struct stat st;
    if (fstat(TIFFFileno(tif), &st) != 0 || st.st_size < 0) return true;
    const uint64_t fileSize = (uint64_t)st.st_size;
    uint16_t compression = COMPRESSION_NONE, planar = PLANARCONFIG_CONTIG, samples = 1;
    uint32_t height = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    if (!TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height)) return true;
    const bool fax = compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTFAX3 ||
                     compression == COMPRESSION_CCITTFAX4 || compression == COMPRESSION_CCITTRLEW;
    const uint64_t ratio = mostBytesPerByte(compression);
    if (!ratio && !fax) return true;
    const uint64_t planes = planar == PLANARCONFIG_SEPARATE ? samples : 1;
    const bool tiled = TIFFIsTiled(tif) != 0;
    // A size libtiff cannot form (0) is too large for any file.
    const uint64_t unit = tiled ? TIFFTileSize64(tif) : TIFFVStripSize64(tif, height);
    const uint64_t units = tiled ? TIFFNumberOfTiles(tif) : planes;
    uint64_t decoded = UINT64_MAX;
    if (unit && __builtin_mul_overflow(unit, units, &decoded)) decoded = UINT64_MAX;
    const uint32_t count = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    uint64_t held = 0;
    for (uint32_t s = 0; s < count; ++s) {
        int error = 0;
        const uint64_t at = TIFFGetStrileOffsetWithErr(tif, s, &error);
        const uint64_t bytes = error ? 0 : TIFFGetStrileByteCountWithErr(tif, s, &error);
        if (error || at >= fileSize) continue;
        held += bytes < fileSize - at ? bytes : fileSize - at;
    }
    if (fax) {
        // At least a bit a row (an all-white row of a 2-D code).
        const uint64_t rows = (uint64_t)height * planes;
        return held * 8 + 8 >= rows;
    }
    // Headers and tables (a JPEG stream's, a Deflate stream's) give nothing.
    return held * ratio + 65536 >= decoded;
}

// One run of the decoder over one file.
struct KXTiffDecoder {
    kxoTIFF& M;
    const char* Path;
    TIFF* Tif = nullptr;
    KX_GfxBuffer* B = nullptr;
    uint8_t* Row = nullptr;
    uint32_t Width = 0, Height = 0;
    uint16_t Bits = 1, Samples = 1, Format = 1, Planar = 1, Compression = 0, Photometric = 0;
    bool Jpeg = false, Cmyk = false, Ycc = false, Grey = false, Tiled = false;

    KXTiffDecoder(kxoTIFF& m, const char* path) : M(m), Path(path) {}
    ~KXTiffDecoder() {
        FreeVec(Row);
        if (B) KXSUP_FreeGfxBuffer(B);
        if (Tif) TIFFClose(Tif);
    }

    void progress(uint32_t y) {
        if (M.ProgressHook) M.ReportProgress((uint32_t)((uint64_t)y * 100 / Height));
    }

    // A row buffer of at least `bytes` (and of libtiff's scanline size).
    uint32_t rowBuffer(uint64_t bytes) {
        const tmsize_t line = TIFFScanlineSize(Tif);
        if (line <= 0) return KXERR_DECODE;
        if ((uint64_t)line > bytes) bytes = (uint64_t)line;
        uint32_t size = 0;
        if (uint32_t err = KXSUP_CheckSize(&size, bytes)) return err;
        FreeVec(Row);
        Row = static_cast<uint8_t*>(AllocVec(size, MEMF_CLEAR));
        return Row ? KXERR_NONE : KXERR_NOMEMORY;
    }

    uint32_t readRow(uint8_t* dst, uint32_t y, uint16_t sample = 0) {
        if (TIFFReadScanline(Tif, dst, y, sample) < 0) {
            kLog.line(2, "libtiff decode error %ld line %ld (turn %ld) - %lx %lx", -1L, (long)y, (long)sample,
                      (unsigned long)0, (unsigned long)0);
            return KXERR_DECODE;
        }
        return KXERR_NONE;
    }

    // The steps of a load (kxoTIFF::loadTiffLibtiff).
    uint16_t* Map[3] = {nullptr, nullptr, nullptr};  // libtiff's colour map
    bool HaveMap = false;
    uint8_t Palette[768] = {};  // of grey and palette images
    bool HavePalette = false;
    bool open();
    void selectPage(long page);
    uint32_t readBaseTags();
    uint32_t readPalette();
    uint32_t readPhotometric();
    bool chooseOwn(uint32_t* err);
    uint32_t decode(uint32_t err, long page);
    bool reopen(long page);
    KX_GfxBuffer* finish();

    uint32_t newBuffer(uint32_t depth, uint32_t pixelBits, uint64_t dataBytes);
    void readMetadata();
    void colorimetry();
    uint32_t decodeOwn();
    uint32_t decodeWide();
    uint32_t decodeCmyk();
    uint32_t decodeRgba();
};

uint32_t KXTiffDecoder::newBuffer(uint32_t depth, uint32_t pixelBits, uint64_t dataBytes) {
    if (B) KXSUP_FreeGfxBuffer(B);
    B = nullptr;
    uint32_t size = 0, picture = 0;
    if (uint32_t err = KXSUP_CheckSize(&picture, Width, Height, pixelBits / 8)) return err;
    if (uint32_t err = KXSUP_CheckSize(&size, dataBytes < picture ? picture : dataBytes)) return err;
    uint32_t err = KXSUP_AllocGfxBuffer(&B, 1, size, MEMF_CLEAR);
    if (err) return err;
    B->Type = ONEPLANE;
    B->Width = Width;
    B->Height = Height;
    B->ColorDepth = depth;
    B->PixelBits = pixelBits;
    B->BufferSize = picture;
    B->ViewMode = 0;
    return KXERR_NONE;
}

void KXTiffDecoder::readMetadata() {
    kLog.text(2, "Parsing meta information...");
    auto found = [](const char* name, const char* text) {
        kLog.line(2, "%s - '%s'", name, text ? text : "");
    };
    auto v6 = [&] {
        if (M.SubFormatId == 0) M.SubFormatId = 1;
    };
    uint32_t count = 0;
    void* data = nullptr;
    char* text = nullptr;
    if (!M.Xmp0 && !M.Xmp1 && TIFFGetField(Tif, TIFFTAG_XMLPACKET, &count, &data) && data && count) {
        found("XMP found", "");
        uint32_t size = 0;
        if (!KXSUP_CheckSize(&size, (uint64_t)count + 1)) {
            auto* packet = static_cast<uint8_t*>(AllocVec(size, MEMF_ANY));
            if (packet) {
                memcpy(packet, data, count);
                packet[count] = 0;
                const uint32_t stored = static_cast<uint8_t*>(data)[count - 1] == 0 ? count - 1 : count;
                if (count < 65503) {
                    M.Xmp0 = packet;
                    M.Xmp0Size = stored;
                } else {
                    M.Xmp1 = packet;
                    M.Xmp1Size = stored;
                }
                v6();
            }
        }
    }
    if (TIFFGetField(Tif, TIFFTAG_COPYRIGHT, &text) && text) {
        found("Copyright found", text);
        setText(M.Copy, text);
    }
    if (TIFFGetField(Tif, TIFFTAG_MAKE, &text) && text) {
        found("Make found", text);
        strncpy(M.MakeText, text, sizeof(M.MakeText) - 1);
    }
    if (TIFFGetField(Tif, TIFFTAG_MODEL, &text) && text) {
        found("Model found", text);
        strncpy(M.ModelText, text, sizeof(M.ModelText) - 1);
    }
    uint16_t orientation = 0;
    if (TIFFGetField(Tif, TIFFTAG_ORIENTATION, &orientation) && orientation >= 1 && orientation <= 8) {
        found("Orientation found", KXTIFF_OrientationNames[orientation - 1]);
        M.Orientation = orientation;
        strncpy(M.OrientationText, KXTIFF_OrientationNames[orientation - 1], sizeof(M.OrientationText) - 1);
    }
    bool artist = false;
    if (TIFFGetField(Tif, TIFFTAG_ARTIST, &text) && text) {
        found("Artist found", text);
        setText(M.Auth, text);
        artist = true;
    }
    if (!artist && TIFFGetField(Tif, TIFFTAG_SOFTWARE, &text) && text) {
        found("Software found", text);
        setText(M.Auth, text);
    }
    if (TIFFGetField(Tif, TIFFTAG_IMAGEDESCRIPTION, &text) && text) {
        found("ImageDescription found", text);
        setText(M.Anno, text);
    }
    if (TIFFGetField(Tif, TIFFTAG_DOCUMENTNAME, &text) && text) {
        found("DocumentName found", text);
        setText(M.Name, text);
    }
    uint16_t subCount = 0;
    uint64_t* subOffsets = nullptr;
    if (TIFFGetField(Tif, TIFFTAG_SUBIFD, &subCount, &subOffsets)) {
        found("SubIFD found", "");
        M.SubFormatId = 2;
    }
    // IPTC: libtiff hands the bytes, with the values of a LONG entry of a
    // byte-swapped file turned to host order: turned back, they are the
    // records as the file holds them.
    if (!M.Iptc && !M.keyIs("READ_IPTC", "OFF") && TIFFGetField(Tif, TIFFTAG_RICHTIFFIPTC, &count, &data) && data && count) {
        found("IPTC found", "");
        const uint32_t header = (uint32_t)sizeof(Ps3IptcHeader);
        uint32_t size = 0;
        if (!KXSUP_CheckSize(&size, (uint64_t)count + header)) {
            auto* block = static_cast<uint8_t*>(AllocVec(size, MEMF_ANY));
            if (block) {
                memcpy(block + header, data, count);
                if (TIFFIsByteSwapped(Tif) && (M.L.IptcType == TIFF_LONG || M.L.IptcType == TIFF_SLONG))
                    for (uint32_t i = 0; i + 4 <= count; i += 4) {
                        uint8_t* q = block + header + i;
                        std::swap(q[0], q[3]);
                        std::swap(q[1], q[2]);
                    }
                KX_WritePs3IptcHeader(block, count);
                M.Iptc = block;
                M.IptcSize = size;
                v6();
            }
        }
    }
    if (!M.IccData && TIFFGetField(Tif, TIFFTAG_ICCPROFILE, &count, &data) && data && count) {
        found("ICC Profile found", "");
        auto* profile = static_cast<uint8_t*>(AllocVec(count, MEMF_ANY));
        if (profile) {
            memcpy(profile, data, count);
            M.IccData = profile;
            M.IccSize = count;
            M.IccType = 0;
            setText(M.IccName, "TIFF ICC Profile");
            v6();
        }
    }
    colorimetry();
}

// A profile from white point, primaries and transfer function, for files
// without an embedded one.
void KXTiffDecoder::colorimetry() {
    uint32_t count = 0;
    void* data = nullptr;
    if (M.IccData || TIFFGetField(Tif, TIFFTAG_ICCPROFILE, &count, &data)) return;
    float* primaries = nullptr;
    float* white = nullptr;
    if (!TIFFGetField(Tif, TIFFTAG_PRIMARYCHROMATICITIES, &primaries) || !primaries) return;
    kLog.line(2, "%s - '%s'", "Primary Chromaticities found", "");
    if (!TIFFGetField(Tif, TIFFTAG_WHITEPOINT, &white) || !white) return;
    kLog.line(2, "%s - '%s'", "Whitepoint found", "");
    uint16_t bits = 1;
    TIFFGetFieldDefaulted(Tif, TIFFTAG_BITSPERSAMPLE, &bits);
    // libtiff's default curve has 2^BitsPerSample entries; beyond 16 bits
    // the profile's curve is sampled at 256 points instead.
    const uint16_t* curves[3] = {nullptr, nullptr, nullptr};
    uint16_t* own = nullptr;
    uint32_t entries = 0;
    if (bits >= 1 && bits <= 16) {
        uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
        const bool present = TIFFGetField(Tif, TIFFTAG_TRANSFERFUNCTION, &r, &g, &b) != 0;
        if (!present) {
            r = g = b = nullptr;
            TIFFGetFieldDefaulted(Tif, TIFFTAG_TRANSFERFUNCTION, &r, &g, &b);
        }
        kLog.line(2, "%s - '%s'", present ? "Transfer function found" : "Using default Transfer function", "");
        curves[0] = r;
        curves[1] = g ? g : r;
        curves[2] = b ? b : r;
        entries = 1u << bits;
    } else {
        entries = 256;
        own = KXTIFF_NewGamma22Curve(entries);
        curves[0] = curves[1] = curves[2] = own;
    }
    kLog.line(2, "%s - '%s'", "is Colorimetric TIFF", "");
    if (!curves[0]) {
        kLog.text(2, "First primary chromacity is NULL!");
    } else {
        kLog.text(2, "Creating ICC profile (libtiff)...");
        uint8_t* profile = nullptr;
        uint32_t size = 0;
        if (KXSUP_CreateCMSProfileCurves(256, curves[0], curves[1], curves[2], white, primaries, &profile, &size,
                                         entries) == KXERR_NONE) {
            FreeVec(M.IccData);
            M.IccData = profile;
            M.IccSize = size;
            M.IccType = 3;
            setText(M.IccName, "ICC Profile / TIFF colorimetric tag based");
            if (M.SubFormatId == 0) M.SubFormatId = 1;
        }
    }
    FreeVec(own);
}

// The layouts read row by row into the picture.
uint32_t KXTiffDecoder::decodeOwn() {
    kLog.text(2, "Reading graphics data...");
    const uint64_t W = Width;
    uint32_t err = KXERR_NONE;
    if (Photometric == PHOTOMETRIC_RGB && Samples == 4 && (Bits == 8 || Bits == 16)) {
        kLog.text(2, "is RGB+A");
        kLog.text(2, Bits == 8 ? "is 24 Bit" : "is 16 Bit (imported as 48 Bit)");
        const uint32_t sb = Bits / 8;
        if ((err = newBuffer(sb == 1 ? 24 : 48, sb == 1 ? 24 : 48, 0))) return err;
        uint32_t alphaSize = 0;
        if ((err = KXSUP_CheckSize(&alphaSize, W, Height, sb))) return err;
        auto* alpha = static_cast<uint8_t*>(AllocVec(alphaSize, MEMF_ANY));
        if (!alpha) return KXERR_NOMEMORY;
        KXSUP_SetGfxBufferVersion(B, 3);
        B->AlphaType = sb == 1 ? KXALPHA_CHANNEL8 : KXALPHA_CHANNEL16;
        B->AlphaData = alpha;
        if ((err = rowBuffer(W * 4 * sb))) return err;
        for (uint32_t y = 0; y < Height; ++y) {
            if ((err = readRow(Row, y))) return err;
            uint8_t* dst = B->Data + (size_t)y * W * 3 * sb;
            uint8_t* a = alpha + (size_t)y * W * sb;
            for (uint64_t x = 0; x < W; ++x) {
                memcpy(dst + x * 3 * sb, Row + x * 4 * sb, 3 * sb);
                memcpy(a + x * sb, Row + x * 4 * sb + 3 * sb, sb);
            }
            progress(y);
        }
        return KXERR_NONE;
    }
    if (Format <= 1 && Planar == 1 && (Bits == 8 || Bits == 16) && (Samples == 1 || Samples == 3)) {
        const bool grey16 = Bits == 16 && Samples == 1;
        const bool to8 = grey16 && M.keyIs("GRAYDEPTH16", "8");
        const uint32_t depth = Bits == 8 ? (Samples == 1 ? 8 : 24) : (to8 ? 8 : 48);
        kLog.line(2, "is %ld bps %ld spp (set depth: %ld)", (long)Bits, (long)Samples, (long)depth);
        const uint64_t rowBytes = W * Samples * (Bits / 8);
        // 16-bit grey is read into room for its samples first.
        if ((err = newBuffer(depth, depth <= 8 ? 8 : depth, grey16 ? W * Height * (to8 ? 2 : 6) : 0))) return err;
        const tmsize_t line = TIFFScanlineSize(Tif);
        const bool direct = line > 0 && (uint64_t)line == rowBytes;
        if (!direct && (err = rowBuffer(rowBytes))) return err;
        for (uint32_t y = 0; y < Height; ++y) {
            uint8_t* dst = B->Data + (size_t)y * rowBytes;
            if (direct) {
                if ((err = readRow(dst, y))) break;
            } else {
                if ((err = readRow(Row, y))) break;
                memcpy(dst, Row, rowBytes);
            }
            progress(y);
        }
        kLog.text(2, err ? "Error while decoding." : "Decoding finished.");
        if (err) return err;
        if (grey16) {
            auto* s = reinterpret_cast<uint16_t*>(B->Data);
            const uint64_t n = W * Height;
            if (to8) {
                kLog.text(2, "Converting 16 bit grayscale to 8 bit...");
                for (uint64_t i = 0; i < n; ++i) B->Data[i] = (uint8_t)(s[i] / 257);
                for (int i = 0; i < 256; ++i) memset(B->Palette + i * 3, i, 3);
            } else {
                kLog.text(2, "Converting 16 bit grayscale to 48 bit...");
                for (uint64_t i = n; i-- > 0;) {
                    const uint16_t v = s[i];
                    s[i * 3] = s[i * 3 + 1] = s[i * 3 + 2] = v;
                }
            }
        }
        return KXERR_NONE;
    }
    if (Bits == 4 && Samples == 3) {
        kLog.text(2, "4/3");
        if ((err = newBuffer(24, 24, 0))) return err;
        KXSUP_AddGfxBufferFlags(B, KXGFXF_SRCLOWDEPTH, 1);
        const uint64_t planeRow = (W * 4 + 7) / 8, rowBytes = (W * 12 + 7) / 8;
        if ((err = rowBuffer(Planar == 2 ? planeRow : rowBytes))) return err;
        if (Planar == 2) {
            // Each plane top to bottom: a compressed strip is read forward only.
            for (uint16_t c = 0; c < 3; ++c)
                for (uint32_t y = 0; y < Height; ++y) {
                    if ((err = readRow(Row, y, c))) return err;
                    uint8_t* dst = B->Data + (size_t)y * W * 3 + c;
                    for (uint64_t x = 0; x < W; ++x) {
                        const uint8_t byte = Row[x / 2];
                        dst[x * 3] = (uint8_t)((x & 1 ? byte & 15 : byte >> 4) * 17);
                    }
                    progress((uint32_t)(((uint64_t)c * Height + y) / 3));
                }
            return KXERR_NONE;
        }
        for (uint32_t y = 0; y < Height; ++y) {
            uint8_t* dst = B->Data + (size_t)y * W * 3;
            if ((err = readRow(Row, y))) return err;
            for (uint64_t k = 0; k < W * 3; ++k) {
                const uint8_t byte = Row[k / 2];
                dst[k] = (uint8_t)((k & 1 ? byte & 15 : byte >> 4) * 17);
            }
            progress(y);
        }
        return KXERR_NONE;
    }
    if (Bits == 12 && Samples == 1) {
        kLog.text(2, "12/1");
        if ((err = newBuffer(8, 8, 0))) return err;
        for (int i = 0; i < 256; ++i) memset(B->Palette + i * 3, i, 3);
        if ((err = rowBuffer((W * 12 + 7) / 8))) return err;
        for (uint32_t y = 0; y < Height; ++y) {
            if ((err = readRow(Row, y))) return err;
            uint8_t* dst = B->Data + (size_t)y * W;
            for (uint64_t x = 0; x < W; ++x) {
                const uint64_t bit = x * 12;
                dst[x] = bit % 8 == 0 ? Row[bit / 8] : (uint8_t)(Row[bit / 8] << 4 | Row[bit / 8 + 1] >> 4);
            }
            progress(y);
        }
        return KXERR_NONE;
    }
    return decodeWide();
}

// Wide samples, integer (32, 64 bits) or floating point (16, 24, 32, 64
// bits), one or three of them, contiguous or in separate planes: 48-bit
// RGB, or 8-bit grey for one sample.
uint32_t KXTiffDecoder::decodeWide() {
    const bool real = Format == SAMPLEFORMAT_IEEEFP;
    kLog.text(2, Samples == 3 ? "is 16/3, 24/3, 32/3, 64/3" : "is 16/1, 24/1, 32/1, 64/1");
    if (Samples != 1 && Samples != 3) return KXERR_FILEREQUIREMENTS;
    if (real ? !(Bits == 16 || Bits == 24 || Bits == 32 || Bits == 64) : !(Bits == 32 || Bits == 64))
        return KXERR_FILEREQUIREMENTS;
    double smin = 0.0, smax = 1.0;
    if (real) {
        kLog.text(2, "is Floating Point");
        double a = 0, b = 0;
        const bool haveMin = TIFFGetField(Tif, TIFFTAG_SMINSAMPLEVALUE, &a) != 0;
        const bool haveMax = TIFFGetField(Tif, TIFFTAG_SMAXSAMPLEVALUE, &b) != 0;
        if (haveMin && haveMax) {
            smin = a;
            smax = b;
        }
        kLog.line(2, "smin %lf smax %lf (%s)", smin, smax, haveMin && haveMax ? "found" : "computed");
    }
    const uint32_t depth = Samples == 3 ? 48 : 8;
    uint32_t err = newBuffer(depth, depth, 0);
    if (err) return err;
    if (depth == 8)
        for (int i = 0; i < 256; ++i) memset(B->Palette + i * 3, i, 3);
    const uint64_t W = Width;
    const uint32_t sb = Bits / 8;
    const bool separate = Planar == 2 && Samples > 1;
    if (separate) kLog.text(2, "is Separated");
    const uint64_t planeRow = W * sb;
    if ((err = rowBuffer(separate ? planeRow : planeRow * Samples))) return err;
    // Separate planes are read each top to bottom (a compressed strip is
    // read forward only) and each fills its own sample of every pixel.
    const uint32_t passes = separate ? Samples : 1, perPass = separate ? 1 : Samples;
    for (uint64_t row = 0; row < (uint64_t)passes * Height; ++row) {
        const uint32_t pass = (uint32_t)(row / Height), y = (uint32_t)(row % Height);
        if ((err = readRow(Row, y, (uint16_t)pass))) return err;
        for (uint64_t x = 0; x < W; ++x) {
            for (uint32_t k = 0; k < perPass; ++k) {
                const uint32_t c = separate ? pass : k;
                const uint8_t* s = Row + (x * perPass + k) * sb;
                uint16_t v;
                if (!real) {
                    if (sb == 4) {
                        uint32_t i;
                        memcpy(&i, s, 4);
                        v = (uint16_t)(i >> 16);
                    } else {
                        uint64_t i;
                        memcpy(&i, s, 8);
                        v = (uint16_t)(i >> 48);
                    }
                } else {
                    double d;
                    if (sb == 2) {
                        uint16_t h;
                        memcpy(&h, s, 2);
                        d = halfToDouble(h);
                    } else if (sb == 3) {
                        // The high 24 bits of a single-precision value, low byte first.
                        const uint32_t bits = (uint32_t)s[0] << 8 | (uint32_t)s[1] << 16 | (uint32_t)s[2] << 24;
                        float f;
                        memcpy(&f, &bits, 4);
                        d = f;
                    } else if (sb == 4) {
                        float f;
                        memcpy(&f, s, 4);
                        d = f;
                    } else {
                        memcpy(&d, s, 8);
                    }
                    v = floatSample(d, smin, smax);
                }
                if (depth == 48)
                    reinterpret_cast<uint16_t*>(B->Data)[(size_t)(y * W + x) * 3 + c] = v;
                else
                    B->Data[(size_t)y * W + x] = (uint8_t)(v / 257);
            }
        }
        progress((uint32_t)(row / passes));
    }
    if (separate) kLog.text(2, "undoing separation...");
    return KXERR_NONE;
}

// Separated (CMYK) data of 8 or 16 bits: through the embedded profile to
// sRGB, else as libtiff's and libjpeg's readers do without one: each colour
// is the inverted ink times the inverted black.
uint32_t KXTiffDecoder::decodeCmyk() {
    kLog.line(2, "%s", Samples == 3 ? "is CMYK 3" : "is CMYK 4");
    if ((Bits != 8 && Bits != 16) || (Samples != 3 && Samples != 4)) return KXERR_FILEREQUIREMENTS;
    kLog.text(2, Bits == 8 ? "8 bit" : "16 bit");
    kLog.text(2, Samples == 3 ? "3 spp" : "4 spp");
    const uint32_t sb = Bits / 8, depth = sb == 1 ? 24 : 48;
    uint32_t err = newBuffer(depth, depth, 0);
    if (err) return err;
    uint32_t count = 0;
    void* profile = nullptr;
    const bool icc = TIFFGetField(Tif, TIFFTAG_ICCPROFILE, &count, &profile) && profile && count;
    if (icc) kLog.text(2, M.IccData ? "has ICC profile (parsed)" : "has ICC profile (unparsed)");
    const uint64_t W = Width, pixelBytes = (uint64_t)Samples * sb;
    const bool separate = Planar == 2;
    // Contiguous rows in chunks, each chunk one colour transform. Separate
    // planes are gathered whole first: each is read top to bottom, as a
    // compressed strip is read forward only.
    const uint32_t chunkRows = separate ? Height : icc ? 64 : 1;
    uint32_t chunkSize = 0;
    if ((err = KXSUP_CheckSize(&chunkSize, W, pixelBytes, chunkRows))) return err;
    auto* chunk = static_cast<uint8_t*>(AllocVec(chunkSize, MEMF_ANY));
    if (!chunk) return KXERR_NOMEMORY;
    if ((err = rowBuffer(separate ? W * sb : W * pixelBytes))) {
        FreeVec(chunk);
        return err;
    }
    const uint32_t max = sb == 1 ? 255 : 65535;
    for (uint32_t y0 = 0; y0 < Height && !err; y0 += chunkRows) {
        const uint32_t rows = Height - y0 < chunkRows ? Height - y0 : chunkRows;
        if (separate) {
            for (uint16_t p = 0; p < Samples && !err; ++p)
                for (uint32_t y = 0; y < rows && !err; ++y) {
                    err = readRow(Row, y, p);
                    uint8_t* dst = chunk + (size_t)y * W * pixelBytes + p * sb;
                    for (uint64_t x = 0; x < W && !err; ++x) memcpy(dst + x * pixelBytes, Row + x * sb, sb);
                    progress((uint32_t)(((uint64_t)p * Height + y) / Samples));
                }
        } else {
            for (uint32_t r = 0; r < rows && !err; ++r) {
                err = readRow(Row, y0 + r);
                if (!err) memcpy(chunk + (size_t)r * W * pixelBytes, Row, W * pixelBytes);
                progress(y0 + r);
            }
        }
        if (err) break;
        uint8_t* out = B->Data + (size_t)y0 * W * 3 * sb;
        if (icc) {
            const uint32_t in = Samples == 3 ? (sb == 1 ? KXCMS_CMY_8 : KXCMS_CMY_16) : (sb == 1 ? KXCMS_CMYK_8 : KXCMS_CMYK_16);
            err = KXSUP_ApplyCMSProfileRaw(chunk, out, Width, rows, static_cast<const uint8_t*>(profile), count, nullptr, 0, in,
                                           sb == 1 ? KXCMS_RGB_8 : KXCMS_RGB_16);
        } else if (sb == 1) {
            for (uint64_t x = 0; x < W * rows; ++x) {
                const uint8_t* px = chunk + x * Samples;
                const uint32_t k = Samples == 4 ? max - px[3] : max;
                for (int c = 0; c < 3; ++c) out[x * 3 + c] = (uint8_t)((max - px[c]) * k / max);
            }
        } else {
            for (uint64_t x = 0; x < W * rows; ++x) {
                uint16_t px[4] = {0, 0, 0, 0};
                memcpy(px, chunk + x * pixelBytes, pixelBytes);
                const uint64_t k = Samples == 4 ? max - px[3] : max;
                for (int c = 0; c < 3; ++c) {
                    const uint16_t v = (uint16_t)((max - px[c]) * k / max);
                    memcpy(out + (x * 3 + c) * 2, &v, 2);
                }
            }
        }
    }
    FreeVec(chunk);
    return err;
}

// libtiff's RGBA reader: any layout it knows, as 24-bit RGB; its alpha is
// not kept.
uint32_t KXTiffDecoder::decodeRgba() {
    kLog.text(2, "fallback to RGBA image handling");
    uint32_t rasterSize = 0;
    uint32_t err = KXSUP_CheckSize(&rasterSize, Width, Height, 4);
    if (err) return err;
    if ((err = newBuffer(24, 24, rasterSize))) return err;
    kLog.text(2, "reading RGBA data...");
    auto* raster = reinterpret_cast<uint32_t*>(B->Data);
    char message[1024] = "";
    // Asked for the file's own orientation, libtiff turns nothing: the
    // pixels come as stored, as from the other decoders, and the record's
    // Orientation still tells how to show them.
    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(Tif, TIFFTAG_ORIENTATION, &orientation);
    if (orientation < ORIENTATION_TOPLEFT || orientation > ORIENTATION_LEFTBOT) orientation = ORIENTATION_TOPLEFT;
    if (!TIFFRGBAImageOK(Tif, message) || !TIFFReadRGBAImageOriented(Tif, Width, Height, raster, orientation, 1)) {
        if (message[0]) kLog.text(2, message);
        kLog.text(2, "libtiff decode error");
        return KXERR_DECODE;
    }
    // Four bytes a pixel to three, front to back in place.
    const uint64_t n = (uint64_t)Width * Height;
    for (uint64_t i = 0; i < n; ++i) {
        const uint32_t p = raster[i];
        uint8_t* d = B->Data + i * 3;
        d[0] = (uint8_t)TIFFGetR(p);
        d[1] = (uint8_t)TIFFGetG(p);
        d[2] = (uint8_t)TIFFGetB(p);
        if (i % Width == 0) progress((uint32_t)(i / Width));
    }
    return KXERR_NONE;
}

// A libtiff handle on the path; false when libtiff cannot open it.
bool KXTiffDecoder::open() {
    kLog.line(2, "Opening '%s'", Path);
    Tif = KXTIFF_Open(Path, "r", messageHandler);
    if (!Tif) return false;
    kLog.line(5, "Flag: %s%s%s%s%s", TIFFIsTiled(Tif) ? "IsTiled " : "", TIFFIsByteSwapped(Tif) ? "IsByteSwapped " : "",
              TIFFIsUpSampled(Tif) ? "IsUpSampled " : "", TIFFIsMSB2LSB(Tif) ? "IsMSB2LSB " : "", TIFFIsBigEndian(Tif) ? "IsBigEndian" : "");
    return true;
}

// The page asked for (PAGENUMBER), or the first when there is no such page.
void KXTiffDecoder::selectPage(long page) {
    if (page <= 0) return;
    kLog.line(2, "Multiple pages assumed. Page %ld requested. Checking...", page);
    const long pages = (long)TIFFNumberOfDirectories(Tif);
    if (pages >= page + 1 && TIFFSetDirectory(Tif, (tdir_t)page)) {
        kLog.line(2, "Multiple pages found (%ld). Page %ld selected.", pages, page);
    } else {
        kLog.line(2, "Error: Multiple pages found (%ld). Page %ld out of range.", pages, page);
        TIFFSetDirectory(Tif, 0);
    }
}

// The page's layout tags; a missing Photometric is guessed from the rest.
uint32_t KXTiffDecoder::readBaseTags() {
    kLog.text(2, "Reading base tags... (1)");
    TIFFGetFieldDefaulted(Tif, TIFFTAG_BITSPERSAMPLE, &Bits);
    TIFFGetFieldDefaulted(Tif, TIFFTAG_SAMPLESPERPIXEL, &Samples);
    TIFFGetFieldDefaulted(Tif, TIFFTAG_SAMPLEFORMAT, &Format);
    TIFFGetFieldDefaulted(Tif, TIFFTAG_PLANARCONFIG, &Planar);
    kLog.text(2, "Reading base tags... (2)");
    if (!TIFFGetField(Tif, TIFFTAG_COMPRESSION, &Compression)) Compression = 0;
    uint32_t tileW = 0, tileL = 0;
    TIFFGetField(Tif, TIFFTAG_TILEWIDTH, &tileW);
    TIFFGetField(Tif, TIFFTAG_TILELENGTH, &tileL);
    Tiled = TIFFIsTiled(Tif) != 0;
    Jpeg = Compression == COMPRESSION_OJPEG || Compression == COMPRESSION_JPEG;
    kLog.text(2, "Reading base tags... (3)");
    HaveMap = TIFFGetField(Tif, TIFFTAG_COLORMAP, &Map[0], &Map[1], &Map[2]) != 0;
    if (!TIFFGetField(Tif, TIFFTAG_PHOTOMETRIC, &Photometric)) {
        kLog.text(2, "Photometric Tag is missing...");
        if (Bits == 1 && Samples == 1)
            Photometric = PHOTOMETRIC_MINISWHITE;
        else if (Samples == 1 && Bits <= 8 && HaveMap)
            Photometric = PHOTOMETRIC_PALETTE;
        else if (Samples >= 3 && Bits >= 8)
            Photometric = PHOTOMETRIC_RGB;
        else {
            kLog.text(2, "Error reading base tags...");
            return KXERR_FILEREQUIREMENTS;
        }
    }
    if (Samples != 1 && Samples != 3 && Samples != 4) {
        kLog.line(2, "Unusual SPP found (%ld spp at %ld bps)", (long)Samples, (long)Bits);
        return KXERR_FILEREQUIREMENTS;
    }
    if (!TIFFGetField(Tif, TIFFTAG_IMAGEWIDTH, &Width) || !TIFFGetField(Tif, TIFFTAG_IMAGELENGTH, &Height) || !Width ||
        !Height)
        return KXERR_DECODE;
    float xres = 0, yres = 0;
    TIFFGetField(Tif, TIFFTAG_XRESOLUTION, &xres);
    TIFFGetField(Tif, TIFFTAG_YRESOLUTION, &yres);
    kLog.line(5, "x/y ResTags: %ld/%ld (%f/%f)", (long)xres, (long)yres, xres, yres);
    kLog.text(2, "Reading base tags... (4)");
    kLog.text(2, "Reading image data...");
    return KXERR_NONE;
}

// The colour map's high bytes as the palette.
uint32_t KXTiffDecoder::readPalette() {
    if (!HaveMap || Bits > 8) {
        kLog.text(2, "Reading palette failed.");
        return KXERR_FILEREQUIREMENTS;
    }
    const uint32_t n = 1u << Bits;
    for (uint32_t i = 0; i < n; ++i) {
        Palette[i * 3] = (uint8_t)(Map[0][i] >> 8);
        Palette[i * 3 + 1] = (uint8_t)(Map[1][i] >> 8);
        Palette[i * 3 + 2] = (uint8_t)(Map[2][i] >> 8);
    }
    HavePalette = true;
    return KXERR_NONE;
}

// What the photometric interpretation makes of the page: grey, palette,
// RGB, CMYK or YCbCr (JPEG-compressed only, which libtiff turns to RGB).
// An error here still lets the RGBA reader try.
uint32_t KXTiffDecoder::readPhotometric() {
    uint32_t err = KXERR_NONE;
    switch (Photometric) {
        case PHOTOMETRIC_MINISBLACK:
        case PHOTOMETRIC_MINISWHITE:
            kLog.text(2, Photometric == PHOTOMETRIC_MINISBLACK ? "Photometric: MinIsBlack" : "Photometric: MinIsWhite");
            Grey = true;
            if (Bits >= 2 && Bits <= 8) {
                if (Photometric == PHOTOMETRIC_MINISWHITE) kLog.text(2, "Reading palette...");
                err = readPalette();
                if (!err) Grey = false;
            }
            break;
        case PHOTOMETRIC_PALETTE:
            kLog.text(2, "Photometric: Palette");
            if (Bits > 8)
                kLog.text(2, "Reading palette skipped (is > 8bit).");
            else
                err = readPalette();
            break;
        case PHOTOMETRIC_RGB: kLog.text(2, "Photometric: RGB"); break;
        case PHOTOMETRIC_SEPARATED:
            kLog.text(2, "Photometric: CMYK");
            Cmyk = true;
            break;
        case PHOTOMETRIC_YCBCR:
            kLog.text(2, "Photometric: YBRCR");
            Ycc = true;
            if (Jpeg && Planar == PLANARCONFIG_CONTIG) {
                kLog.text(2, "Photometric: RGB (changed)");
                TIFFSetField(Tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
                Photometric = PHOTOMETRIC_RGB;
            } else {
                err = KXERR_FILEREQUIREMENTS;
            }
            break;
        default: err = KXERR_FILEREQUIREMENTS; break;
    }
    // Samples of 17 to 31 bits have no layout here. (32 and 64 bits are
    // read as wide samples below; the width is compared, never shifted by.)
    if (Bits > 16 && Bits < 32) {
        kLog.text(2, "Unsupported maxval.");
        err = KXERR_FILEREQUIREMENTS;
    }
    return err;
}

// Whether the own decoding knows the layout (else the RGBA reader); a
// layout that is not one of the plain ones forgets the earlier error.
bool KXTiffDecoder::chooseOwn(uint32_t* err) {
    const uint32_t bits = Bits;
    bool own = Samples < 5 && (bits == 8 || bits == 16 || bits == 32 || bits == 64) && Format <= 1 &&
               Planar == PLANARCONFIG_CONTIG && !(Photometric == PHOTOMETRIC_PALETTE && bits > 8);
    if (!own) {
        if (*err) kLog.text(2, "Previous error popped up again...");
        *err = KXERR_NONE;
        const bool real = Format == SAMPLEFORMAT_IEEEFP && (bits == 16 || bits == 24 || bits == 32 || bits == 64) &&
                          (Samples == 1 || Samples == 3);
        own = real || (bits == 4 && Samples == 3) || (bits == 12 && Samples == 1 && Planar == PLANARCONFIG_CONTIG) ||
              (Planar == PLANARCONFIG_SEPARATE && Cmyk && bits == 16 && (Samples == 3 || Samples == 4));
        if (!own)
            kLog.line(2, "RGBA fallback check trigger (code: %ld,%ld,%ld,%ld)", (long)Samples, (long)bits, (long)Format,
                      (long)Planar);
    }
    return own;
}

// The pixels: the own decoding where it knows the layout, and the RGBA
// reader for the rest and for a compressed, tiled or exotic file the own
// decoding failed on (through a new handle). err: what came before.
uint32_t KXTiffDecoder::decode(uint32_t err, long page) {
    const uint32_t bits = Bits;
    const bool own = chooseOwn(&err);
    bool toRgba = !own;
    if (own) {
        kLog.line(2, "RGBA fallback check passed (rv: %ld)", (long)err);
        if (!err && Cmyk) {
            uint16_t inkset = INKSET_CMYK;
            if (TIFFGetField(Tif, TIFFTAG_INKSET, &inkset) && inkset != INKSET_CMYK) {
                kLog.text(2, "INKSET is not CMYK...");
                toRgba = true;
            } else {
                if (Planar != PLANARCONFIG_CONTIG) kLog.text(2, "CMYK with planar != 1 recognized.");
                if (Planar != PLANARCONFIG_CONTIG && bits == 16) kLog.text(2, "...but is 16 bit.");
                err = Planar == PLANARCONFIG_CONTIG || bits == 16 ? decodeCmyk() : KXERR_FILEREQUIREMENTS;
            }
        } else if (!err) {
            err = decodeOwn();
        }
        if (err && !toRgba) {
            // A compressed, tiled or exotic file may still suit the RGBA reader.
            const bool retry = (Compression != COMPRESSION_NONE && Compression != COMPRESSION_PACKBITS) ||
                               Photometric >= 4 || Tiled;
            if (retry && err != KXERR_NOMEMORY && reopen(page)) {
                if (Format == SAMPLEFORMAT_IEEEFP && bits == 16 && (Samples == 1 || Samples == 3)) {
                    kLog.text(2, "libtiff decode error");
                    err = KXERR_DECODE;
                } else if (Format <= 1 && bits == 16 && Photometric == PHOTOMETRIC_MINISBLACK && Samples == 1) {
                    kLog.text(2, "libtiff decode error");
                    err = KXERR_DECODE;
                } else {
                    toRgba = true;
                }
            }
        }
    }
    if (toRgba) {
        err = decodeRgba();
        HavePalette = false;
    }
    return err;
}

// A new handle on the same page after a failed decoding.
bool KXTiffDecoder::reopen(long page) {
    kLog.text(2, "getting new handle...");
    TIFFClose(Tif);
    Tif = KXTIFF_Open(Path, "r", messageHandler);
    if (Tif && page > 0) TIFFSetDirectory(Tif, (tdir_t)page);
    kLog.text(2, Tif ? "ok." : "failed.");
    return Tif != nullptr;
}

// The decoded picture with its palette and flags, handed over.
KX_GfxBuffer* KXTiffDecoder::finish() {
    KX_GfxBuffer* b = B;
    if (b->ColorDepth <= 8 && HavePalette) memcpy(b->Palette, Palette, sizeof(Palette));
    if (b->ColorDepth == 48) {
        kLog.line(7, "Endianess flag check (rv: %ld gb %lx %ld)", 0L, (unsigned long)0, (long)b->ColorDepth);
        kLog.line(7, "Adjusting endianess flag... %s", "to II");
        KXSUP_SetGfxBufferEndianess(b, KXGFXF_II);
    }
    if (Grey) KXSUP_AddGfxBufferFlags(b, KXGFXF_GRAY, 1);
    B = nullptr;
    return b;
}

uint32_t kxoTIFF::loadTiffLibtiff(const char* path, KX_GfxBuffer** out) {
    *out = nullptr;
    kLog.text(2, "Load TIFF (libtiff)");
    if (const KXTiffTestSeam* seam = KXTIFF_TestSeam())
        for (const char* fail : seam->FailLibtiffOn)
            if (fail && path && strstr(path, fail)) return KXERR_DECODE;
    const bool readMeta = LoadMetaFlag && !keyIs("IS_EXIF", "TRUE");
    KXTiffDecoder d(*this, path);
    if (!d.open()) return KXERR_FILEREQUIREMENTS;
    const long page = keyNumber("PAGENUMBER", 0);
    d.selectPage(page);
    if (!KXTIFF_DataCanFit(d.Tif)) {
        kLog.text(2, "The file holds less data than its picture needs.");
        DataShort = true;
        return KXERR_DECODE;
    }
    if (readMeta) d.readMetadata();
    if (uint32_t err = d.readBaseTags()) return err;
    const uint32_t err = d.decode(d.readPhotometric(), page);
    WasCmykOrYcc = d.Cmyk || d.Ycc;
    if (err) return err;
    *out = d.finish();
    return KXERR_NONE;
}
