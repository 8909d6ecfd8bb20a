// kxoTIFF's copy-and-convert routine: rewrites TIFF files as libtiff's
// "tiffcp" command does, from an argument vector of that form, so that the
// reader can hand libtiff a simpler layout of a file it failed on. Every
// page of each input is copied with its image structure, colour map,
// profile and the descriptive tags; the pixels are read into memory in the
// input's layout (strips or tiles, contiguous or separate planes) and
// written in the layout the options ask for.
//
// The settings of one call live in that call only, so two calls (or two
// threads) never see each other's options. Messages go to the library log
// through the handlers of each file's own open call.
#include <tiffio.h>

#include <cctype>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/memory.h"
#include "formats/libraries/kxlog_helpers.h"
#include "formats/libraries/kxoTIFF.h"
#include "formats/libraries/kxoTIFFInternal.h"

namespace {

const char* const kTag = "tiffcp";
const KXModuleLog kLog{kTag};

int messageHandler(TIFF*, void*, const char* module, const char* format, va_list args) {
    if (!__kxlib_log_global) return 1;
    char text[256];
    vsnprintf(text, sizeof(text), format, args);
    kLog.line(5, "%s%s%s", module ? module : "", module ? ": " : "", text);
    return 1;
}

void say(TIFF* tif, const char* format, ...) __attribute__((format(printf, 2, 3)));
void say(TIFF* tif, const char* format, ...) {
    if (!__kxlib_log_global) return;
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    kLog.line(5, "%s%s", tif ? TIFFFileName(tif) : "", text);
}

constexpr uint16_t kAsInput = 0xFFFF;

struct Options {
    uint16_t compression = kAsInput;
    uint16_t predictor = kAsInput;
    uint16_t fillOrder = 0;
    uint16_t planar = kAsInput;
    int tiled = -1;  // -1 as the input, 0 strips, 1 tiles
    uint32_t tileWidth = 0, tileLength = 0, rowsPerStrip = 0;
    uint32_t g3Options = 0;
    bool g3Set = false;
    int quality = 75;
    int jpegColourMode = JPEGCOLORMODE_RGB;
    bool ignore = false, append = false, renumber = false;
    uint64_t directoryOffset = 0;
    bool haveOffset = false;
    char comma = ',';
    std::string mode = "w";
    const char* bias = nullptr;
    long page = -1;
};

// "-c" values: a scheme and its colon-separated parts.
bool parseCompression(const char* text, Options& o) {
    std::string s(text);
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = s.find(':', start)) != std::string::npos; start = at + 1) parts.push_back(s.substr(start, at - start));
    parts.push_back(s.substr(start));
    const std::string& scheme = parts[0];
    if (scheme == "none") {
        o.compression = COMPRESSION_NONE;
    } else if (scheme == "packbits") {
        o.compression = COMPRESSION_PACKBITS;
    } else if (scheme == "jpeg") {
        o.compression = COMPRESSION_JPEG;
        for (size_t i = 1; i < parts.size(); ++i) {
            if (parts[i] == "r")
                o.jpegColourMode = JPEGCOLORMODE_RAW;
            else if (!parts[i].empty() && isdigit((unsigned char)parts[i][0]))
                o.quality = atoi(parts[i].c_str());
            else
                return false;
        }
    } else if (scheme == "g3") {
        o.compression = COMPRESSION_CCITTFAX3;
        o.g3Set = true;
        for (size_t i = 1; i < parts.size(); ++i) {
            if (parts[i] == "1d")
                o.g3Options &= ~(uint32_t)GROUP3OPT_2DENCODING;
            else if (parts[i] == "2d")
                o.g3Options |= GROUP3OPT_2DENCODING;
            else if (parts[i] == "fill")
                o.g3Options |= GROUP3OPT_FILLBITS;
            else
                return false;
        }
    } else if (scheme == "g4") {
        o.compression = COMPRESSION_CCITTFAX4;
    } else if (scheme == "lzw" || scheme == "zip") {
        o.compression = scheme == "lzw" ? COMPRESSION_LZW : COMPRESSION_ADOBE_DEFLATE;
        if (parts.size() > 1 && !parts[1].empty()) o.predictor = (uint16_t)atoi(parts[1].c_str());
    } else if (scheme == "jbig") {
        o.compression = COMPRESSION_JBIG;
    } else {
        return false;
    }
    return true;
}

// Copies one tag of the listed kinds when the input has it.
enum class Kind { U16, U32, F32, F64, Text, U16Pair, Floats, Extra };

struct TagCopy {
    uint32_t tag;
    Kind kind;
};

const TagCopy kTags[] = {
    {TIFFTAG_SUBFILETYPE, Kind::U32},     {TIFFTAG_THRESHHOLDING, Kind::U16},  {TIFFTAG_DOCUMENTNAME, Kind::Text},
    {TIFFTAG_IMAGEDESCRIPTION, Kind::Text}, {TIFFTAG_MAKE, Kind::Text},        {TIFFTAG_MODEL, Kind::Text},
    {TIFFTAG_MINSAMPLEVALUE, Kind::U16},  {TIFFTAG_MAXSAMPLEVALUE, Kind::U16}, {TIFFTAG_XRESOLUTION, Kind::F32},
    {TIFFTAG_YRESOLUTION, Kind::F32},     {TIFFTAG_PAGENAME, Kind::Text},      {TIFFTAG_XPOSITION, Kind::F32},
    {TIFFTAG_YPOSITION, Kind::F32},       {TIFFTAG_RESOLUTIONUNIT, Kind::U16}, {TIFFTAG_SOFTWARE, Kind::Text},
    {TIFFTAG_DATETIME, Kind::Text},       {TIFFTAG_ARTIST, Kind::Text},        {TIFFTAG_HOSTCOMPUTER, Kind::Text},
    {TIFFTAG_WHITEPOINT, Kind::Floats},   {TIFFTAG_PRIMARYCHROMATICITIES, Kind::Floats},
    {TIFFTAG_HALFTONEHINTS, Kind::U16Pair}, {TIFFTAG_INKSET, Kind::U16},       {TIFFTAG_DOTRANGE, Kind::U16Pair},
    {TIFFTAG_TARGETPRINTER, Kind::Text},  {TIFFTAG_SAMPLEFORMAT, Kind::U16},   {TIFFTAG_YCBCRCOEFFICIENTS, Kind::Floats},
    {TIFFTAG_YCBCRSUBSAMPLING, Kind::U16Pair}, {TIFFTAG_YCBCRPOSITIONING, Kind::U16},
    {TIFFTAG_REFERENCEBLACKWHITE, Kind::Floats}, {TIFFTAG_EXTRASAMPLES, Kind::Extra},
    {TIFFTAG_SMINSAMPLEVALUE, Kind::F64}, {TIFFTAG_SMAXSAMPLEVALUE, Kind::F64}, {TIFFTAG_STONITS, Kind::F64},
};

void copyTag(TIFF* in, TIFF* out, const TagCopy& t) {
    switch (t.kind) {
        case Kind::U16: {
            uint16_t v;
            if (TIFFGetField(in, t.tag, &v)) TIFFSetField(out, t.tag, v);
            break;
        }
        case Kind::U32: {
            uint32_t v;
            if (TIFFGetField(in, t.tag, &v)) TIFFSetField(out, t.tag, v);
            break;
        }
        case Kind::F32: {
            float v;
            if (TIFFGetField(in, t.tag, &v)) TIFFSetField(out, t.tag, v);
            break;
        }
        case Kind::F64: {
            double v;
            if (TIFFGetField(in, t.tag, &v)) TIFFSetField(out, t.tag, v);
            break;
        }
        case Kind::Text: {
            char* v = nullptr;
            if (TIFFGetField(in, t.tag, &v) && v) TIFFSetField(out, t.tag, v);
            break;
        }
        case Kind::U16Pair: {
            uint16_t a, b;
            if (TIFFGetField(in, t.tag, &a, &b)) TIFFSetField(out, t.tag, a, b);
            break;
        }
        case Kind::Floats: {
            float* v = nullptr;
            if (TIFFGetField(in, t.tag, &v) && v) TIFFSetField(out, t.tag, v);
            break;
        }
        case Kind::Extra: {
            uint16_t n = 0;
            uint16_t* v = nullptr;
            if (TIFFGetField(in, t.tag, &n, &v) && v) TIFFSetField(out, t.tag, n, v);
            break;
        }
    }
}

// One page's pixels in memory: contiguous rows, or planes of rows.
struct Image {
    uint8_t* data = nullptr;
    uint64_t rowBytes = 0;  // one row (of one plane when separate)
    uint32_t planes = 1;
    uint32_t height = 0;
    ~Image() { FreeVec(data); }
    uint8_t* row(uint32_t plane, uint32_t y) const { return data + ((uint64_t)plane * height + y) * rowBytes; }
};

bool allocate(Image& im, uint64_t rowBytes, uint32_t planes, uint32_t height) {
    uint32_t size = 0;
    if (KXSUP_CheckSize(&size, rowBytes, planes, height) != KXERR_NONE) return false;
    im.data = static_cast<uint8_t*>(AllocVec(size ? size : 1, MEMF_CLEAR));
    im.rowBytes = rowBytes;
    im.planes = planes;
    im.height = height;
    return im.data != nullptr;
}

bool readStrips(TIFF* in, Image& im, bool ignore) {
    uint32_t rps = 0;
    TIFFGetFieldDefaulted(in, TIFFTAG_ROWSPERSTRIP, &rps);
    if (rps == 0 || rps > im.height) rps = im.height;
    const uint32_t perPlane = (im.height + rps - 1) / rps;
    for (uint32_t p = 0; p < im.planes; ++p)
        for (uint32_t s = 0; s < perPlane; ++s) {
            const uint32_t rows = im.height - s * rps < rps ? im.height - s * rps : rps;
            const tmsize_t want = (tmsize_t)(rows * im.rowBytes);
            const tmsize_t got = TIFFReadEncodedStrip(in, p * perPlane + s, im.row(p, s * rps), want);
            if (got < 0) {
                say(in, ": Error, can't read strip %lu", (unsigned long)(p * perPlane + s));
                if (!ignore) return false;
            }
        }
    return true;
}

bool readTiles(TIFF* in, Image& im, uint32_t width, uint32_t bitsPerPixel, bool ignore) {
    uint32_t tw = 0, tl = 0;
    TIFFGetField(in, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(in, TIFFTAG_TILELENGTH, &tl);
    const tmsize_t tileSize = TIFFTileSize(in), tileRow = TIFFTileRowSize(in);
    if (tw == 0 || tl == 0 || tileSize <= 0 || tileRow <= 0) return false;
    auto* tile = static_cast<uint8_t*>(AllocVec((size_t)tileSize, MEMF_CLEAR));
    if (!tile) return false;
    bool ok = true;
    for (uint32_t p = 0; p < im.planes && ok; ++p)
        for (uint32_t y = 0; y < im.height && ok; y += tl)
            for (uint32_t x = 0; x < width && ok; x += tw) {
                if (TIFFReadTile(in, tile, x, y, 0, (uint16_t)p) < 0) {
                    say(in, ": Error, can't read tile at %lu %lu", (unsigned long)x, (unsigned long)y);
                    if (!ignore) ok = false;
                    continue;
                }
                const uint64_t from = (uint64_t)x * bitsPerPixel / 8;
                if (from >= im.rowBytes) continue;
                const uint64_t bytes = im.rowBytes - from < (uint64_t)tileRow ? im.rowBytes - from : (uint64_t)tileRow;
                for (uint32_t r = 0; r < tl && y + r < im.height; ++r) memcpy(im.row(p, y + r) + from, tile + r * tileRow, bytes);
            }
    FreeVec(tile);
    return ok;
}

bool writeStrips(TIFF* out, const Image& im) {
    uint32_t rps = 0;
    TIFFGetFieldDefaulted(out, TIFFTAG_ROWSPERSTRIP, &rps);
    if (rps == 0 || rps > im.height) rps = im.height;
    const uint32_t perPlane = (im.height + rps - 1) / rps;
    for (uint32_t p = 0; p < im.planes; ++p)
        for (uint32_t s = 0; s < perPlane; ++s) {
            const uint32_t rows = im.height - s * rps < rps ? im.height - s * rps : rps;
            if (TIFFWriteEncodedStrip(out, p * perPlane + s, im.row(p, s * rps), (tmsize_t)(rows * im.rowBytes)) < 0) {
                say(out, ": Error, can't write strip %lu", (unsigned long)(p * perPlane + s));
                return false;
            }
        }
    return true;
}

bool writeTiles(TIFF* out, const Image& im, uint32_t width, uint32_t bitsPerPixel) {
    uint32_t tw = 0, tl = 0;
    TIFFGetField(out, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(out, TIFFTAG_TILELENGTH, &tl);
    const tmsize_t tileSize = TIFFTileSize(out), tileRow = TIFFTileRowSize(out);
    if (tw == 0 || tl == 0 || tileSize <= 0 || tileRow <= 0) return false;
    auto* tile = static_cast<uint8_t*>(AllocVec((size_t)tileSize, MEMF_ANY));
    if (!tile) return false;
    bool ok = true;
    for (uint32_t p = 0; p < im.planes && ok; ++p)
        for (uint32_t y = 0; y < im.height && ok; y += tl)
            for (uint32_t x = 0; x < width && ok; x += tw) {
                memset(tile, 0, (size_t)tileSize);
                const uint64_t from = (uint64_t)x * bitsPerPixel / 8;
                const uint64_t bytes = im.rowBytes - from < (uint64_t)tileRow ? im.rowBytes - from : (uint64_t)tileRow;
                for (uint32_t r = 0; r < tl && y + r < im.height; ++r) memcpy(tile + r * tileRow, im.row(p, y + r) + from, bytes);
                if (TIFFWriteTile(out, tile, x, y, 0, (uint16_t)p) < 0) {
                    say(out, ": Error, can't write tile at %lu %lu", (unsigned long)x, (unsigned long)y);
                    ok = false;
                }
            }
    FreeVec(tile);
    return ok;
}

// Contiguous samples of 8 bits to separate planes, or back.
bool replan(const Image& from, Image& to, uint32_t width, uint32_t samples, bool toSeparate) {
    if (!allocate(to, toSeparate ? width : (uint64_t)width * samples, toSeparate ? samples : 1, from.height)) return false;
    for (uint32_t y = 0; y < from.height; ++y)
        for (uint32_t s = 0; s < samples; ++s) {
            if (toSeparate) {
                const uint8_t* src = from.row(0, y) + s;
                uint8_t* dst = to.row(s, y);
                for (uint32_t x = 0; x < width; ++x) dst[x] = src[(uint64_t)x * samples];
            } else {
                const uint8_t* src = from.row(s, y);
                uint8_t* dst = to.row(0, y) + s;
                for (uint32_t x = 0; x < width; ++x) dst[(uint64_t)x * samples] = src[x];
            }
        }
    return true;
}

// The bias image: one sample, stripped, read whole.
struct Bias {
    Image image;
    uint32_t width = 0;
    uint16_t bits = 0;
};

bool loadBias(const char* name, Bias& bias) {
    TIFF* b = KXTIFF_Open(name, "r", messageHandler);
    if (!b) return false;
    uint16_t spp = 1;
    TIFFGetFieldDefaulted(b, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(b, TIFFTAG_BITSPERSAMPLE, &bias.bits);
    uint32_t h = 0;
    TIFFGetField(b, TIFFTAG_IMAGEWIDTH, &bias.width);
    TIFFGetField(b, TIFFTAG_IMAGELENGTH, &h);
    bool ok = spp == 1 && (bias.bits == 8 || bias.bits == 16) && !TIFFIsTiled(b) && bias.width && h &&
              allocate(bias.image, (uint64_t)TIFFScanlineSize(b), 1, h) && readStrips(b, bias.image, false);
    if (!ok) say(b, ": Bias image is not a single-sample stripped image of 8 or 16 bits");
    TIFFClose(b);
    return ok;
}

void subtractBias(Image& im, const Bias& bias, uint32_t width, uint16_t bits) {
    const uint32_t w = width < bias.width ? width : bias.width;
    for (uint32_t y = 0; y < im.height && y < bias.image.height; ++y) {
        if (bits == 8) {
            uint8_t* d = im.row(0, y);
            const uint8_t* s = bias.image.row(0, y);
            for (uint32_t x = 0; x < w; ++x) d[x] = d[x] > s[x] ? (uint8_t)(d[x] - s[x]) : 0;
        } else {
            auto* d = reinterpret_cast<uint16_t*>(im.row(0, y));
            const auto* s = reinterpret_cast<const uint16_t*>(bias.image.row(0, y));
            for (uint32_t x = 0; x < w; ++x) d[x] = d[x] > s[x] ? (uint16_t)(d[x] - s[x]) : 0;
        }
    }
}

// Copies the current directory of in to out (not yet written).
bool copyPage(TIFF* in, TIFF* out, const Options& o, const Bias* bias, long* pageNumber) {
    uint32_t width = 0, length = 0;
    uint16_t bits = 1, samples = 1, compressionIn = COMPRESSION_NONE, photometric = 0, planarIn = PLANARCONFIG_CONTIG;
    TIFFGetField(in, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(in, TIFFTAG_IMAGELENGTH, &length);
    TIFFGetFieldDefaulted(in, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(in, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(in, TIFFTAG_COMPRESSION, &compressionIn);
    TIFFGetFieldDefaulted(in, TIFFTAG_PLANARCONFIG, &planarIn);
    if (!TIFFGetField(in, TIFFTAG_PHOTOMETRIC, &photometric)) photometric = samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    if (!width || !length) return false;
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, length);
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, samples);
    const uint16_t compression = o.compression != kAsInput ? o.compression : compressionIn;
    TIFFSetField(out, TIFFTAG_COMPRESSION, compression);

    // JPEG input is read as RGB; other YCbCr data must not be subsampled.
    const bool jpegIn = compressionIn == COMPRESSION_JPEG || compressionIn == COMPRESSION_OJPEG;
    bool readAsRgb = false;
    if (jpegIn) {
        if (photometric == PHOTOMETRIC_YCBCR) readAsRgb = true;
        TIFFSetField(in, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    } else if (photometric == PHOTOMETRIC_YCBCR) {
        uint16_t h = 1, v = 1;
        TIFFGetFieldDefaulted(in, TIFFTAG_YCBCRSUBSAMPLING, &h, &v);
        if (h != 1 || v != 1) {
            say(in, ": Can't copy/convert subsampled image.");
            return false;
        }
    }
    if (compression == COMPRESSION_JPEG) {
        if (photometric == PHOTOMETRIC_RGB || readAsRgb) {
            if (o.jpegColourMode == JPEGCOLORMODE_RGB) {
                TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
            } else {
                TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
            }
        } else {
            TIFFSetField(out, TIFFTAG_PHOTOMETRIC, photometric);
        }
    } else if (compression == COMPRESSION_SGILOG || compression == COMPRESSION_SGILOG24) {
        TIFFSetField(out, TIFFTAG_PHOTOMETRIC, samples == 1 ? PHOTOMETRIC_LOGL : PHOTOMETRIC_LOGLUV);
    } else {
        TIFFSetField(out, TIFFTAG_PHOTOMETRIC, readAsRgb ? (uint16_t)PHOTOMETRIC_RGB : photometric);
    }
    if (o.fillOrder)
        TIFFSetField(out, TIFFTAG_FILLORDER, o.fillOrder);
    else {
        uint16_t f = FILLORDER_MSB2LSB;
        TIFFGetFieldDefaulted(in, TIFFTAG_FILLORDER, &f);
        TIFFSetField(out, TIFFTAG_FILLORDER, f);
    }
    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(in, TIFFTAG_ORIENTATION, &orientation);
    switch (orientation) {
        case ORIENTATION_BOTRIGHT:
        case ORIENTATION_RIGHTBOT:
            say(in, ": using bottom-left orientation");
            orientation = ORIENTATION_BOTLEFT;
            break;
        case ORIENTATION_LEFTBOT:
        case ORIENTATION_BOTLEFT: break;
        case ORIENTATION_TOPRIGHT:
        case ORIENTATION_RIGHTTOP:
        default:
            if (orientation != ORIENTATION_TOPLEFT && orientation != ORIENTATION_LEFTTOP) say(in, ": using top-left orientation");
            if (orientation != ORIENTATION_LEFTTOP) orientation = ORIENTATION_TOPLEFT;
            break;
    }
    TIFFSetField(out, TIFFTAG_ORIENTATION, orientation);

    const bool tiledIn = TIFFIsTiled(in) != 0;
    const bool tiledOut = o.tiled == -1 ? tiledIn : o.tiled == 1;
    if (tiledOut) {
        uint32_t tw = o.tileWidth, tl = o.tileLength;
        if (tiledIn) {
            if (!tw) TIFFGetField(in, TIFFTAG_TILEWIDTH, &tw);
            if (!tl) TIFFGetField(in, TIFFTAG_TILELENGTH, &tl);
        }
        TIFFDefaultTileSize(out, &tw, &tl);
        TIFFSetField(out, TIFFTAG_TILEWIDTH, tw);
        TIFFSetField(out, TIFFTAG_TILELENGTH, tl);
    } else {
        uint32_t rps = o.rowsPerStrip;
        if (rps == 0) {
            if (!TIFFGetField(in, TIFFTAG_ROWSPERSTRIP, &rps) || tiledIn) rps = TIFFDefaultStripSize(out, 0);
        }
        if (rps == 0 || rps > length) rps = length;
        TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, rps);
    }
    const uint16_t planarOut = o.planar != kAsInput ? o.planar : planarIn;
    TIFFSetField(out, TIFFTAG_PLANARCONFIG, planarOut);

    uint16_t* curves[3] = {nullptr, nullptr, nullptr};
    if (samples <= 4 && TIFFGetField(in, TIFFTAG_TRANSFERFUNCTION, &curves[0], &curves[1], &curves[2]) && curves[0]) {
        if (curves[1] && curves[2])
            TIFFSetField(out, TIFFTAG_TRANSFERFUNCTION, curves[0], curves[1], curves[2]);
        else
            TIFFSetField(out, TIFFTAG_TRANSFERFUNCTION, curves[0], curves[0], curves[0]);
    }
    uint16_t *red, *green, *blue;
    if (photometric == PHOTOMETRIC_PALETTE && TIFFGetField(in, TIFFTAG_COLORMAP, &red, &green, &blue))
        TIFFSetField(out, TIFFTAG_COLORMAP, red, green, blue);

    // Compression parameters.
    switch (compression) {
        case COMPRESSION_JPEG:
            TIFFSetField(out, TIFFTAG_JPEGQUALITY, o.quality);
            TIFFSetField(out, TIFFTAG_JPEGCOLORMODE, o.jpegColourMode);
            break;
        case COMPRESSION_LZW:
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE: {
            uint16_t predictor = o.predictor;
            if (predictor == kAsInput && !TIFFGetField(in, TIFFTAG_PREDICTOR, &predictor)) predictor = kAsInput;
            if (predictor != kAsInput) TIFFSetField(out, TIFFTAG_PREDICTOR, predictor);
            break;
        }
        case COMPRESSION_CCITTFAX3: {
            uint32_t g3 = o.g3Options;
            if (!o.g3Set && compressionIn == COMPRESSION_CCITTFAX3) TIFFGetField(in, TIFFTAG_GROUP3OPTIONS, &g3);
            TIFFSetField(out, TIFFTAG_GROUP3OPTIONS, g3);
            break;
        }
        default: break;
    }
    uint32_t iccCount = 0;
    void* icc = nullptr;
    if (TIFFGetField(in, TIFFTAG_ICCPROFILE, &iccCount, &icc) && icc) TIFFSetField(out, TIFFTAG_ICCPROFILE, iccCount, icc);
    uint16_t inks = 0;
    char* inkNames = nullptr;
    if (TIFFGetField(in, TIFFTAG_NUMBEROFINKS, &inks)) {
        TIFFSetField(out, TIFFTAG_NUMBEROFINKS, inks);
        if (TIFFGetField(in, TIFFTAG_INKNAMES, &inkNames) && inkNames) {
            // The names are inks zero-terminated texts one after another.
            size_t total = 0;
            for (uint16_t i = 0; i < inks; ++i) total += strlen(inkNames + total) + 1;
            TIFFSetField(out, TIFFTAG_INKNAMES, (uint16_t)total, inkNames);
        }
    }
    uint16_t page = 0, pages = 0;
    if (o.renumber) {
        *pageNumber = *pageNumber < 0 ? 0 : *pageNumber + 1;
        TIFFSetField(out, TIFFTAG_PAGENUMBER, (uint16_t)*pageNumber, (uint16_t)0);
    } else if (TIFFGetField(in, TIFFTAG_PAGENUMBER, &page, &pages)) {
        TIFFSetField(out, TIFFTAG_PAGENUMBER, page, pages);
    }
    for (const TagCopy& t : kTags) copyTag(in, out, t);

    // The pixels.
    if (planarIn != planarOut && bits != 8) {
        say(in, ": Cannot handle different planar configuration w/ bits/sample != 8");
        return false;
    }
    if (bias && (tiledIn || tiledOut)) {
        say(in, ": Cannot handle tiled configuration w/bias image");
        return false;
    }
    if (bias && !(samples == 1 && bits == bias->bits)) {
        say(in, ": Don't know how to copy/convert image.");
        return false;
    }
    const uint32_t planes = planarIn == PLANARCONFIG_SEPARATE ? samples : 1;
    const uint32_t bitsPerPixel = planarIn == PLANARCONFIG_SEPARATE ? bits : (uint32_t)bits * samples;
    const tmsize_t scanline = TIFFScanlineSize(in);
    if (scanline <= 0) return false;
    // Nothing is allocated or written for a page whose data the file cannot hold.
    if (!KXTIFF_DataCanFit(in)) {
        say(in, ": Error, the file holds less data than the page needs");
        return false;
    }
    Image image;
    if (!allocate(image, (uint64_t)scanline, planes, length)) {
        say(in, ": Out of memory");
        return false;
    }
    if (!(tiledIn ? readTiles(in, image, width, bitsPerPixel, o.ignore) : readStrips(in, image, o.ignore))) return false;
    if (bias) subtractBias(image, *bias, width, bits);
    const Image* source = &image;
    Image other;
    if (planarIn != planarOut) {
        if (!replan(image, other, width, samples, planarOut == PLANARCONFIG_SEPARATE)) return false;
        source = &other;
    }
    const uint32_t bitsOut = planarOut == PLANARCONFIG_SEPARATE ? bits : (uint32_t)bits * samples;
    return tiledOut ? writeTiles(out, *source, width, bitsOut) : writeStrips(out, *source);
}

}  // namespace

int KXTIFF_CopyConvert(int argc, const char* const* argv) {
    Options o;
    std::vector<const char*> names;
    // Options may stand anywhere among the names; a value follows its
    // letter in the same argument or in the next one.
    static const char* const withValue = ",bcflozprw";
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!a) return 1;
        if (a[0] != '-' || a[1] == 0) {
            names.push_back(a);
            continue;
        }
        for (const char* p = a + 1; *p; ++p) {
            const char letter = *p;
            const char* value = nullptr;
            if (strchr(withValue, letter)) {
                if (p[1])
                    value = p + 1;
                else if (i + 1 < argc && argv[i + 1])
                    value = argv[++i];
                else
                    return 1;
            }
            switch (letter) {
                case ',':
                    if (value[0] != '=' || !value[1]) return 1;
                    o.comma = value[1];
                    break;
                case 'b': o.bias = value; break;
                case 'c':
                    if (!parseCompression(value, o)) return 1;
                    break;
                case 'f':
                    if (strcmp(value, "lsb2msb") == 0)
                        o.fillOrder = FILLORDER_LSB2MSB;
                    else if (strcmp(value, "msb2lsb") == 0)
                        o.fillOrder = FILLORDER_MSB2LSB;
                    else
                        return 1;
                    break;
                case 'l': o.tileLength = (uint32_t)atol(value); o.tiled = 1; break;
                case 'w': o.tileWidth = (uint32_t)atol(value); o.tiled = 1; break;
                case 'o':
                    o.directoryOffset = strtoull(value, nullptr, 0);
                    o.haveOffset = true;
                    break;
                case 'z': break;  // accepted and not used
                case 'p':
                    if (strcmp(value, "contig") == 0)
                        o.planar = PLANARCONFIG_CONTIG;
                    else if (strcmp(value, "separate") == 0)
                        o.planar = PLANARCONFIG_SEPARATE;
                    else
                        return 1;
                    break;
                case 'r': o.rowsPerStrip = (uint32_t)strtoul(value, nullptr, 0); break;
                case 'a': o.append = true; break;
                case 'i': o.ignore = true; break;
                case 's': o.tiled = 0; break;
                case 't': o.tiled = 1; break;
                case 'x': o.renumber = true; break;
                case 'B': o.mode += "b"; break;
                case 'L': o.mode += "l"; break;
                case 'M': o.mode += "m"; break;
                case 'C': o.mode += "c"; break;
                default: return 1;
            }
            if (value) break;  // the rest of the argument was the value
        }
    }
    if (names.size() < 2) return 1;
    if (o.append) o.mode[0] = 'a';
    const char* outName = names.back();
    names.pop_back();

    Bias bias;
    if (o.bias && !loadBias(o.bias, bias)) return 1;
    TIFF* out = KXTIFF_Open(outName, o.mode.c_str(), messageHandler);
    if (!out) return -2;
    long pageNumber = -1;
    for (const char* spec : names) {
        // "name,1,3": only those directories.
        std::string name(spec);
        std::vector<uint32_t> list;
        const size_t cut = name.find(o.comma);
        if (cut != std::string::npos) {
            const std::string rest = name.substr(cut + 1);
            bool numbers = !rest.empty();
            for (char c : rest) numbers = numbers && (isdigit((unsigned char)c) || c == o.comma);
            if (numbers) {
                for (size_t start = 0; start <= rest.size();) {
                    size_t end = rest.find(o.comma, start);
                    if (end == std::string::npos) end = rest.size();
                    if (end > start) list.push_back((uint32_t)strtoul(rest.substr(start, end - start).c_str(), nullptr, 10));
                    start = end + 1;
                }
                name.resize(cut);
            }
        }
        TIFF* in = KXTIFF_Open(name.c_str(), "r", messageHandler);
        if (!in) {
            TIFFClose(out);
            return -3;
        }
        if (o.haveOffset && !TIFFSetSubDirectory(in, o.directoryOffset)) {
            say(in, ": Error, setting subdirectory");
            kLog.line(5, "Error, setting subdirectory at %#llx", (unsigned long long)o.directoryOffset);
            TIFFClose(in);
            TIFFClose(out);
            return 1;
        }
        bool ok = true;
        if (!list.empty()) {
            for (uint32_t n : list) {
                ok = TIFFSetDirectory(in, (tdir_t)n) && copyPage(in, out, o, o.bias ? &bias : nullptr, &pageNumber) &&
                     TIFFWriteDirectory(out);
                if (!ok) break;
            }
        } else {
            do {
                ok = copyPage(in, out, o, o.bias ? &bias : nullptr, &pageNumber) && TIFFWriteDirectory(out);
            } while (ok && TIFFReadDirectory(in));
        }
        TIFFClose(in);
        if (!ok) {
            TIFFClose(out);
            return 1;
        }
    }
    TIFFClose(out);
    return 0;
}
