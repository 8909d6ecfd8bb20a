// kxoPNG: PNG on libpng 1.6 (see kxoPNG.h for the subset).
//
// libpng reports errors by longjmp. Each Load and Save sets one jump point
// in a function that holds no object with a destructor; every resource
// the session owns lives in a session record outside that frame, so the
// landing code can release it. A libpng error while saving is 7. While
// loading the session tells why libpng gave up, so that the code says what
// the other readers say: a file that ends early 29, memory that really ran
// out 3, anything else libpng finds wrong with the data 14.
#include "formats/libraries/kxoPNG.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/catalogue.h"
#include "core/colour.h"
#include "core/controlpad.h"
#include "core/exifiptc.h"
#include "core/files.h"
#include "core/gfxbuffer.h"
#include "core/log.h"
#include "core/memory.h"

namespace {

const char* const kTag = "png";

// Raw profiles of other image tools: "\n<name>\n<%8lu length>\n<hex>".
const char* const kExifKey = "Raw profile type exif";
const char* const kIptcKey = "Raw profile type iptc";
const char* const kXmpKey = "XML:com.adobe.xmp";
const uint32_t kIptcHeaderSize = sizeof(Ps3IptcHeader);
const uint32_t kExifHeaderSize = 6;  // "Exif\0\0"

void logText(uint32_t level, const char* text) {
    if (__kxlib_log_global) __kxlib_log_global->Log(level, "%-16s: %s\n", kTag, text);
}

void readError(png_structp png, png_const_charp message) {
    logText(2, message ? message : "");
    png_longjmp(png, 1);
}

void readWarning(png_structp, png_const_charp message) { logText(2, message ? message : ""); }

// Writing is silent; an error still ends at the writer's jump point.
void writeError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void writeWarning(png_structp, png_const_charp) {}

// Text and private chunks are held whole in memory by libpng, which only
// warns about one that claims more than its chunk-memory limit and then
// allocates it all. Ancillary chunks above this limit are passed over
// unread (below); libpng's own limit is kept at the same size, so that a
// compressed text or profile does not inflate beyond it either. ICC
// profiles and XMP packets of real files stay far below 32 MiB; the
// profile chunk, which libpng reads in pieces, is never passed over.
constexpr uint32_t kChunkMemoryLimit = 32u << 20;

// What the read callbacks saw, for the landing code of a libpng error.
struct ReadState {
    FILE* file = nullptr;
    bool endOfFile = false;        // a read came back short
    bool allocationFailed = false;  // the latest allocation failed and nothing was read since
};

png_voidp readAlloc(png_structp png, png_alloc_size_t size) {
    png_voidp block = AllocVecNamed(size, MEMF_ANY, 0, kTag);
    if (auto* st = static_cast<ReadState*>(png_get_mem_ptr(png))) st->allocationFailed = block == nullptr;
    return block;
}
void readFree(png_structp, png_voidp block) { FreeVecNamed(block, kTag); }

uint32_t be32At(const uint8_t* p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]; }

// The data source of a load. libpng asks for each chunk header in one read
// of 8 bytes; an ancillary chunk other than iCCP that claims more than the
// chunk-memory limit is skipped here (data and CRC) and the next header
// handed over instead, so libpng never sees it. A short read ends the load
// as a file cut short.
void readData(png_structp png, png_bytep data, size_t length) {
    auto* st = static_cast<ReadState*>(png_get_io_ptr(png));
    const bool header = length == 8 && (png_get_io_state(png) & PNG_IO_CHUNK_HDR) != 0;
    for (;;) {
        if (fread(data, 1, length, st->file) != length) {
            st->endOfFile = true;
            png_error(png, "Read Error");
        }
        st->allocationFailed = false;
        if (!header) return;
        const uint32_t size = be32At(data);
        const bool ancillary = (data[4] & 0x20) != 0;
        if (!ancillary || size <= kChunkMemoryLimit || memcmp(data + 4, "iCCP", 4) == 0) return;
        logText(2, "oversized ancillary chunk passed over");
        if (fseeko(st->file, (off_t)size + 4, SEEK_CUR) != 0) {
            st->endOfFile = true;
            png_error(png, "Read Error");
        }
    }
}

char* copyText(const char* text, size_t length) {
    auto* copy = static_cast<char*>(AllocVec(length + 1, MEMF_ANY));
    if (!copy) return nullptr;
    memcpy(copy, text, length);
    copy[length] = 0;
    return copy;
}

void replaceText(char*& field, const char* text) {
    char* copy = copyText(text, strlen(text));
    if (!copy) return;
    FreeVec(field);
    field = copy;
}

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Decodes a raw profile in place into the start of text (length bytes of
// it, terminated). The declared length must be covered by the hex digits
// that follow it; a short or empty profile is dropped.
bool decodeRawProfile(char* text, size_t length, uint32_t* decoded) {
    const char* p = text;
    const char* end = text + length;
    if (p < end && *p == '\n') ++p;
    while (p < end && *p != '\n') ++p;
    while (p < end && (*p == ' ' || *p == '\n')) ++p;
    uint64_t count = 0;
    const char* digits = p;
    while (p < end && *p >= '0' && *p <= '9') {
        count = count * 10 + (uint64_t)(*p - '0');
        if (count > 0xFFFFFFFFu) return false;
        ++p;
    }
    if (p == digits || count == 0) return false;
    while (p < end && *p != ' ' && *p != '\n') ++p;
    uint64_t hexDigits = 0;
    for (const char* q = p; q < end; ++q)
        if (isHexDigit(*q)) ++hexDigits;
    if (count > hexDigits / 2) return false;
    auto* out = reinterpret_cast<uint8_t*>(text);
    uint32_t size = (uint32_t)length;
    if (KXSUP_HexToBin(p, &out, (uint32_t)count, &size) != KXERR_NONE || size != count) return false;
    *decoded = (uint32_t)count;
    return true;
}

// The raw-profile text of a block; null when it cannot be made.
char* encodeRawProfile(const char* name, const uint8_t* data, uint32_t count, size_t* hexLength) {
    char* hex = nullptr;
    uint32_t hexSize = 0;
    if (KXSUP_BinToHex(data, &hex, count, &hexSize) != KXERR_NONE) {
        FreeVec(hex);
        return nullptr;
    }
    char head[48];
    const int headLength = snprintf(head, sizeof(head), "\n%s\n%8lu\n", name, (unsigned long)count);
    const size_t hexLen = strlen(hex);
    char* text = nullptr;
    if (headLength > 0 && (size_t)headLength < sizeof(head))
        text = static_cast<char*>(AllocVec((size_t)headLength + hexLen + 1, MEMF_ANY));
    if (text) {
        memcpy(text, head, (size_t)headLength);
        memcpy(text + headLength, hex, hexLen + 1);
        *hexLength = hexLen;
    }
    FreeVec(hex);
    return text;
}

int textCompression(size_t hexLength) { return hexLength >= 128 ? PNG_TEXT_COMPRESSION_zTXt : PNG_TEXT_COMPRESSION_NONE; }

// Splits interleaved rows of colour+alpha samples; alpha may be dropped.
void splitRow(const uint8_t* row, uint8_t* colour, uint8_t* alpha, uint32_t width, uint32_t colourBytes,
              uint32_t alphaBytes) {
    const uint32_t step = colourBytes + alphaBytes;
    for (uint32_t x = 0; x < width; ++x, row += step) {
        memcpy(colour + (size_t)x * colourBytes, row, colourBytes);
        if (alpha) memcpy(alpha + (size_t)x * alphaBytes, row + colourBytes, alphaBytes);
    }
}

void joinRow(uint8_t* row, const uint8_t* colour, const uint8_t* alpha, uint32_t width, uint32_t colourBytes,
             uint32_t alphaBytes) {
    const uint32_t step = colourBytes + alphaBytes;
    for (uint32_t x = 0; x < width; ++x, row += step) {
        memcpy(row, colour + (size_t)x * colourBytes, colourBytes);
        if (alpha)
            memcpy(row + colourBytes, alpha + (size_t)x * alphaBytes, alphaBytes);
        else
            memset(row + colourBytes, 0xFF, alphaBytes);
    }
}

// Grey samples at the start of a row become R=G=B triples, back to front.
void expandGreyRow(uint8_t* row, uint32_t width, uint32_t sampleBytes) {
    for (uint32_t x = width; x-- > 0;) {
        uint8_t s[2];
        memcpy(s, row + (size_t)x * sampleBytes, sampleBytes);
        uint8_t* d = row + (size_t)x * sampleBytes * 3;
        for (int c = 0; c < 3; ++c) memcpy(d + c * sampleBytes, s, sampleBytes);
    }
}

uint32_t paletteDepthFor(int entries) {
    uint32_t d = 1;
    while (d < 8 && (1 << d) < entries) ++d;
    return d;
}

}  // namespace

// ---- sessions ----------------------------------------------------------------

struct kxoPNG::ReadSession {
    ReadState state;
    png_structp png = nullptr;
    png_infop info = nullptr;
    uint8_t* row = nullptr;
    KX_GfxBuffer* buffer = nullptr;
    uint8_t* alpha = nullptr;  // until it is attached to the buffer
    uint32_t result = KXERR_NONE;
};

struct kxoPNG::WriteSession {
    png_structp png = nullptr;
    png_infop info = nullptr;
    KX_GfxBuffer* buffer = nullptr;
    uint8_t* row = nullptr;
    char* exif = nullptr;  // the raw profiles, made before libpng starts
    char* iptc = nullptr;
    size_t exifHex = 0, iptcHex = 0;
    // A text the written profiles carry is not written again (the reader
    // takes it from them): Description, Author, Copyright, Title.
    bool carried[4] = {false, false, false, false};
    char* xmp = nullptr;
    const uint8_t* alpha8 = nullptr;
    const uint16_t* alpha16 = nullptr;
    bool swap16 = false;  // 48-bit samples in host order
};

// ---- frame -------------------------------------------------------------------

// The registration comes first so that the pad paths follow its pad name
// (built on the base's default name, the first use would read no pad).
kxoPNG::kxoPNG(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoPNG");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

kxoPNG::~kxoPNG() {
    kxoPNG::Reset();
    FreeConfig();
}

void kxoPNG::Reset() { FrameReset(); }

// ---- settings ------------------------------------------------------------------

int kxoPNG::keyValue(const char* key, bool anyCase, char* value, size_t size) {
    return anyCase ? KXF_GetKeyNoCase(this, key, value, size) : GetKey(key, value, size);
}

bool kxoPNG::keyIsOn(const char* key, bool fallback) {
    char value[64];
    if (!keyValue(key, false, value, sizeof(value))) return fallback;
    if (strcasecmp(value, "ON") == 0) return true;
    if (strcasecmp(value, "OFF") == 0) return false;
    return fallback;
}

// The depth switches name one word each ("24", "8"); any other value,
// "24bit" included, keeps the default.
bool kxoPNG::keyIsWord(const char* key, const char* word) {
    char value[64];
    return keyValue(key, true, value, sizeof(value)) && strcasecmp(value, word) == 0;
}

long kxoPNG::keyNumber(const char* key, long fallback, bool anyCase) {
    char value[64];
    if (!keyValue(key, anyCase, value, sizeof(value))) return fallback;
    return atol(value);
}

// ---- recognition ---------------------------------------------------------------

uint32_t kxoPNG::CheckFile(FILE* file, const char*, int32_t mode) {
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t head[4];
    if (fseek(file, 0, SEEK_SET) != 0) return 0;
    const bool whole = fread(head, 1, 4, file) == 4;
    fseek(file, 0, SEEK_SET);
    return whole && strncasecmp(reinterpret_cast<const char*>(head + 1), "PNG", 3) == 0 ? 1 : 0;
}

// ---- load ----------------------------------------------------------------------

void kxoPNG::readTexts(ReadSession& s) {
    png_textp texts = nullptr;
    int count = 0;
    png_get_text(s.png, s.info, &texts, &count);
    const bool readExif = keyIsOn("READ_EXIF", true);
    const bool readIptc = keyIsOn("READ_IPTC", true);
    for (int i = count - 1; i >= 0; --i) {
        const png_text& t = texts[i];
        if (!t.key || !t.text) continue;
        const size_t length = strlen(t.text);
        if (strcmp(t.key, "Author") == 0) {
            replaceText(Auth, t.text);
        } else if (strcmp(t.key, "Title") == 0) {
            replaceText(Name, t.text);
        } else if (strcmp(t.key, "Description") == 0) {
            replaceText(Anno, t.text);
        } else if (strcmp(t.key, "Copyright") == 0) {
            replaceText(Copy, t.text);
        } else if (strcmp(t.key, "Comment") == 0) {
            if (!Anno || !Anno[0]) replaceText(Anno, t.text);
        } else if (strcmp(t.key, kXmpKey) == 0) {
            char* xmp = copyText(t.text, length);
            if (!xmp) continue;
            const uint32_t size = (uint32_t)length;  // the packet's bytes; the copy keeps a zero after them
            if (size <= 65502) {
                FreeVec(Xmp0);
                Xmp0 = reinterpret_cast<uint8_t*>(xmp);
                Xmp0Size = size;
            } else {
                FreeVec(Xmp1);
                Xmp1 = reinterpret_cast<uint8_t*>(xmp);
                Xmp1Size = size;
            }
        } else if (strcmp(t.key, kExifKey) == 0 && readExif) {
            char* block = copyText(t.text, length);
            uint32_t decoded = 0;
            // A block shorter than its "Exif" header is of no use to anyone.
            if (!block || !decodeRawProfile(block, length, &decoded) || decoded < kExifHeaderSize) {
                FreeVec(block);
                continue;
            }
            FreeVec(Exif);
            Exif = reinterpret_cast<uint8_t*>(block);
            ExifSize = decoded;
        } else if (strcmp(t.key, kIptcKey) == 0 && readIptc && length + 1 <= 65505) {
            char* work = copyText(t.text, length);
            uint32_t decoded = 0;
            uint8_t* block = nullptr;
            if (work && decodeRawProfile(work, length, &decoded))
                block = static_cast<uint8_t*>(AllocVec(decoded + kIptcHeaderSize, MEMF_CLEAR));
            if (block) {
                KX_WritePs3IptcHeader(block, decoded);
                memcpy(block + kIptcHeaderSize, work, decoded);
                FreeVec(Iptc);
                Iptc = block;
                IptcSize = decoded + kIptcHeaderSize;
            }
            FreeVec(work);
        }
    }
}

void kxoPNG::readColour(ReadSession& s) {
    int intent = 0;
    if (png_get_sRGB(s.png, s.info, &intent)) {
        SRGBIntent = (uint32_t)intent;
        IccType = 1;
        replaceText(IccName, "sRGB");
    }
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    if (png_get_iCCP(s.png, s.info, &name, &compression, &profile, &length) && profile && length) {
        logText(2, "iCCP chunk found");
        if (__kxlib_log_global)
            __kxlib_log_global->Log(4, "%-16s: \"%s\" - %ld bytes\n", kTag, name ? name : "", (long)length);
        logText(2, name ? name : "");
        replaceText(IccName, name ? name : "");
        auto* copy = static_cast<uint8_t*>(AllocVec(length, MEMF_ANY));
        if (copy) {
            memcpy(copy, profile, length);
            FreeVec(IccData);
            IccData = copy;
            IccSize = length;
        } else {
            logText(2, "iCCP chunk decoding error");
            FreeVec(IccName);
            IccName = nullptr;
        }
    }
    if (IccData || IccType == 1) return;
    double gamma = 0;
    const bool hasGamma = png_get_gAMA(s.png, s.info, &gamma) != 0;
    double wx, wy, rx, ry, gx, gy, bx, by;
    uint8_t* built = nullptr;
    uint32_t builtSize = 0;
    if (hasGamma && png_get_cHRM(s.png, s.info, &wx, &wy, &rx, &ry, &gx, &gy, &bx, &by)) {
        const double white[3] = {wx, wy, 1.0}, red[3] = {rx, ry, 1.0}, green[3] = {gx, gy, 1.0},
                     blue[3] = {bx, by, 1.0};
        if (KXSUP_CreateCMSProfileGammaWhitePrim(256, gamma, white, red, green, blue, &built, &builtSize) ==
            KXERR_NONE) {
            FreeVec(IccData);
            IccData = built;
            IccSize = builtSize;
            IccType = 3;
            replaceText(IccName, "ICC Profile / PNG cHRM & gAMA based");
        }
    }
    if (!IccData && hasGamma && KXSUP_CreateCMSProfileGamma(256, gamma, &built, &builtSize) == KXERR_NONE) {
        FreeVec(IccData);
        IccData = built;
        IccSize = builtSize;
        IccType = 3;
        replaceText(IccName, "ICC Profile / PNG gAMA based");
    }
}

uint32_t kxoPNG::readImage(ReadSession& s) {
    if (setjmp(png_jmpbuf(s.png))) {
        if (s.state.endOfFile) return KXERR_EOF;
        return s.state.allocationFailed ? KXERR_NOMEMORY : KXERR_DECODE;
    }

    s.state.file = ReadFile;
    png_set_read_fn(s.png, &s.state, readData);
    // Every size the writer writes is read; the library's size limit,
    // checked below, decides what fits in memory.
    png_set_user_limits(s.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_set_chunk_malloc_max(s.png, kChunkMemoryLimit);
    png_read_info(s.png, s.info);
    readTexts(s);

    const uint32_t width = png_get_image_width(s.png, s.info);
    const uint32_t height = png_get_image_height(s.png, s.info);
    const int bitDepth = png_get_bit_depth(s.png, s.info);
    const int colourType = png_get_color_type(s.png, s.info);
    const bool greyFile = colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA;

    // libpng sizes its row buffers when the transformations are set up:
    // before that the picture (at least a byte a pixel) and a row of the
    // widest pixels libpng may make from this file (a grey key adds an
    // alpha channel) must be within the library's limits.
    uint32_t bound = 0;
    uint32_t err = KXSUP_CheckSize(&bound, width, height);
    if (!err) err = KXSUP_CheckSize(&bound, width, png_get_channels(s.png, s.info) + 1u, bitDepth == 16 ? 2 : 1);
    if (err) return err;

    bool grey = false;
    uint32_t depth = 24;
    const uint32_t grey8Depth = keyIsWord("GRAYDEPTH8", "24") ? 24 : 8;
    if (bitDepth < 16) {
        if (greyFile) {
            png_set_expand(s.png);
            grey = true;
            depth = grey8Depth;
        } else if (colourType == PNG_COLOR_TYPE_PALETTE) {
            depth = (uint32_t)bitDepth;
        }
        png_set_packing(s.png);
    } else if (keyIsWord("COLORDEPTH", "24")) {
        png_set_strip_16(s.png);
        grey = greyFile;
        depth = greyFile ? grey8Depth : 24;
    } else if (greyFile) {
        grey = true;
        depth = 48;
        if (keyIsWord("GRAYDEPTH16", "8")) {
            depth = 8;
            png_set_strip_16(s.png);
        }
    } else {
        depth = 48;
    }
    png_colorp palette = nullptr;
    int paletteEntries = 0;
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        png_get_PLTE(s.png, s.info, &palette, &paletteEntries);
        if (depth <= 8 && paletteEntries < (1 << depth)) depth = paletteDepthFor(paletteEntries);
    }

    readColour(s);

    const int passes = png_set_interlace_handling(s.png);
    png_read_update_info(s.png, s.info);
    const uint32_t channels = png_get_channels(s.png, s.info);
    const uint32_t sampleBytes = png_get_bit_depth(s.png, s.info) == 16 ? 2 : 1;
    const uint32_t shownChannels = channels > 3 ? 3 : channels;

    uint32_t pixelBits = shownChannels < 3 ? 8 : 24;
    if (depth > 24)
        pixelBits = 48;
    else if (grey && depth == 24)
        pixelBits = 24;
    const bool greyRGB = grey && depth > 8;
    if (greyRGB && channels != 1 && channels != 2) return KXERR_FILEREQUIREMENTS;
    if (__kxlib_log_global)
        __kxlib_log_global->Log(2, greyRGB ? "%-16s: grayscale %ld channel(s) %ld bit\n"
                                           : "%-16s: color/grayscale %ld channel(s) %ld bit\n",
                                kTag, (long)channels, (long)(sampleBytes * 8));

    // Byte counts in 64 bits before anything is allocated: 15 beyond 32
    // bits, 3 beyond the library's size limit.
    uint32_t dataSize = 0, stride = 0, rowBytes = 0;
    err = KXSUP_CheckSize(&dataSize, width, height, pixelBits / 8);
    if (!err) err = KXSUP_CheckSize(&stride, width, pixelBits / 8);
    if (!err) err = KXSUP_CheckSize(&rowBytes, width, channels, sampleBytes);
    if (err) return err;
    if (rowBytes < png_get_rowbytes(s.png, s.info)) return KXERR_DECODE;
    if (channels != 1 && channels != 2 && channels != 3 && channels != 4) return KXERR_FILEREQUIREMENTS;

    // Channels beyond the colour ones are split off through a row buffer.
    const uint32_t colourChannels = greyRGB ? 1 : (channels >= 3 ? 3 : 1);
    const uint32_t colourBytes = colourChannels * sampleBytes;
    const uint32_t alphaBytes = channels > colourChannels ? sampleBytes : 0;
    const bool keepAlpha = alphaBytes && (greyRGB || channels == 4);
    const bool interlaced = passes > 1;

    // Interlaced passes fill the picture in pieces: start from cleared pixels.
    if ((err = KXF_NewImage(&s.buffer, ONEPLANE, width, height, depth, pixelBits, interlaced)) != KXERR_NONE) return err;
    KX_GfxBuffer* b = s.buffer;
    if (alphaBytes) {
        s.row = static_cast<uint8_t*>(AllocVec(rowBytes, MEMF_CLEAR));
        if (!s.row) return KXERR_NOMEMORY;
    }
    uint32_t alphaSize = 0;
    if (keepAlpha) {
        if ((err = KXSUP_CheckSize(&alphaSize, width, height, alphaBytes)) != KXERR_NONE) return err;
        s.alpha = static_cast<uint8_t*>(AllocVec(alphaSize, interlaced ? MEMF_CLEAR : MEMF_ANY));
        if (!s.alpha) return KXERR_NOMEMORY;
    }

    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t y = 0; y < height; ++y) {
            if ((y & 7) == 0 && ProgressHook) {
                KXF_Progress(this, (uint32_t)(pass * 100 / passes + (uint64_t)y * 100 / height / passes));
            }
            uint8_t* dst = b->Data + (size_t)y * stride;
            uint8_t* alpha = keepAlpha ? s.alpha + (size_t)y * width * alphaBytes : nullptr;
            if (!alphaBytes) {
                png_read_row(s.png, dst, nullptr);
                continue;
            }
            // Interlaced rows are combined with the earlier passes' pixels.
            if (interlaced && pass > 0) joinRow(s.row, dst, alpha, width, colourBytes, alphaBytes);
            png_read_row(s.png, s.row, nullptr);
            splitRow(s.row, dst, alpha, width, colourBytes, alphaBytes);
        }
    }
    png_read_end(s.png, nullptr);

    if (greyRGB) {
        for (uint32_t y = 0; y < height; ++y) expandGreyRow(b->Data + (size_t)y * stride, width, sampleBytes);
    }
    if (keepAlpha) {
        KXSUP_SetGfxBufferVersion(b, 3);
        b->AlphaType = alphaBytes == 2 ? KXALPHA_CHANNEL16 : KXALPHA_CHANNEL8;
        b->AlphaData = s.alpha;
        s.alpha = nullptr;
    }
    if (grey && depth <= 8) {
        for (int i = 0; i < 256; ++i) memset(b->Palette + i * 3, i, 3);
    } else if (colourType == PNG_COLOR_TYPE_PALETTE && palette) {
        const int n = paletteEntries < (1 << depth) ? paletteEntries : (1 << depth);
        for (int i = 0; i < n; ++i) {
            b->Palette[i * 3] = palette[i].red;
            b->Palette[i * 3 + 1] = palette[i].green;
            b->Palette[i * 3 + 2] = palette[i].blue;
        }
        png_bytep trans = nullptr;
        int transCount = 0;
        if (png_get_tRNS(s.png, s.info, &trans, &transCount, nullptr) && trans && transCount > 0) {
            if (transCount > 256) transCount = 256;
            int clear = 0, index = 0;
            for (int i = 0; i < transCount; ++i)
                if (trans[i] == 0) {
                    ++clear;
                    index = i;
                }
            if (clear >= 2) {
                auto* table = static_cast<uint8_t*>(AllocVec(256, MEMF_ANY));
                if (!table) return KXERR_NOMEMORY;
                memset(table, 0xFF, 256);
                memcpy(table, trans, (size_t)transCount);
                KXSUP_SetGfxBufferVersion(b, 3);
                b->NativeDIPF = 0;
                b->AlphaType = KXALPHA_MULTICOLOR;
                b->AlphaData = table;
            } else if (clear == 1) {
                KXSUP_SetGfxBufferVersion(b, 3);
                b->NativeDIPF = 0;
                b->AlphaType = KXALPHA_SINGLECOLOR;
                KXSUP_SetAlphaIndex(b, (uint32_t)index);
            }
        }
    }
    // The samples stay as the file stores them; the record must say so,
    // which only a version-4 record can.
    if (depth == 48) {
        KXSUP_SetGfxBufferVersion(b, 4);
        KXSUP_SetGfxBufferEndianess(b, 1);
    }
    if (grey) KXSUP_AddGfxBufferFlags(b, KXGFXF_GRAY, 1);
    return KXERR_NONE;
}

uint32_t kxoPNG::Load() {
    if (LoadedBuffer) {
        KXSUP_FreeGfxBuffer(LoadedBuffer);
        LoadedBuffer = nullptr;
    }
    uint32_t err = KXF_OpenRead(this);
    if (err != KXERR_NONE) return err;
    SubFormatId = 0;
    setvbuf(ReadFile, nullptr, _IOFBF, 8192);

    uint8_t head[4];
    if (amRead(ReadFile, head, 4) != 4 || strncasecmp(reinterpret_cast<const char*>(head + 1), "PNG", 3) != 0 ||
        fseek(ReadFile, 0, SEEK_SET) != 0)
        return KXF_EndLoad(this, KXERR_UNKNOWNFORMAT);

    ReadSession s;
    err = KXERR_NOMEMORY;
    s.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, this, readError, readWarning, &s.state, readAlloc, readFree);
    if (s.png) s.info = png_create_info_struct(s.png);
    if (s.png && s.info) err = readImage(s);
    png_destroy_read_struct(s.png ? &s.png : nullptr, s.info ? &s.info : nullptr, nullptr);
    FreeVec(s.row);
    FreeVec(s.alpha);
    // The texts no text chunk gave, from the profiles, where the writer
    // leaves them when a profile carries them.
    if (LoadMetaFlag && (Exif || Iptc)) {
        KXMetaTexts t;
        KX_MetaTextsFromBlocks(Exif, ExifSize, Iptc, IptcSize, &t);
        char** const fields[KXMETATEXT_COUNT] = {&Anno, &Auth, &Copy, &Name, nullptr, nullptr, nullptr, nullptr};
        KX_MetaFillTexts(fields, t);
    }
    if (err == KXERR_NONE)
        LoadedBuffer = s.buffer;
    else if (s.buffer)
        KXSUP_FreeGfxBuffer(s.buffer);
    return KXF_EndLoad(this, err);
}

// ---- save ----------------------------------------------------------------------

uint32_t kxoPNG::writeImage(WriteSession& s) {
    if (setjmp(png_jmpbuf(s.png))) return KXERR_NODESTFILE;
    KX_GfxBuffer* b = s.buffer;

    png_init_io(s.png, WriteFile);
    // Any size a buffer can hold may be written.
    png_set_user_limits(s.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    // libpng 1.6 judges embedded profiles; one it dislikes is left out
    // (with a warning) rather than failing the whole save.
    png_set_benign_errors(s.png, 1);
    long level = keyNumber("Z_COMPRESSION", 6, false);
    if (level < 0 || level > 9) level = 6;
    long strategy = keyNumber("Z_STRATEGY", 0, false);
    if (strategy < 0 || strategy > 3) strategy = 0;
    png_set_compression_level(s.png, (int)level);
    png_set_compression_strategy(s.png, (int)strategy);
    const int interlace = keyIsOn("SAVE_INTERLACED", false) ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE;

    const bool palette = b->ColorDepth <= 8;
    const bool hasAlpha = !palette && (s.alpha8 || s.alpha16);
    const uint32_t depth = b->ColorDepth;
    if (palette) {
        const int bitDepth = depth == 1 ? 1 : depth == 2 ? 2 : depth <= 4 ? 4 : 8;
        png_set_IHDR(s.png, s.info, b->Width, b->Height, bitDepth, PNG_COLOR_TYPE_PALETTE, interlace,
                     PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
        const int entries = 1 << depth;
        png_color colours[256];
        for (int i = 0; i < entries; ++i) {
            colours[i].red = b->Palette[i * 3];
            colours[i].green = b->Palette[i * 3 + 1];
            colours[i].blue = b->Palette[i * 3 + 2];
        }
        png_set_PLTE(s.png, s.info, colours, entries);

        // The first rule that applies; an index outside the palette's
        // entries names no colour and is ignored.
        png_byte trans[256];
        bool haveTrans = false;
        long key = -1;
        if (keyIsOn("PNG8_TRANSPARENCY", false)) {
            key = keyNumber("PNG8_TRANSPARENT_COLOR", -1, false);
            if (key >= entries) key = -1;
        }
        if (key < 0 && KXSUP_AlphaHolds(b) == KXALPHA_SINGLECOLOR) {
            const uint32_t index = KXSUP_AlphaIndex(b);
            if (index < (uint32_t)entries) key = (long)index;
        }
        if (key >= 0) {
            memset(trans, 0xFF, sizeof(trans));
            trans[key] = 0;
            haveTrans = true;
        } else if (KXSUP_AlphaHolds(b) == KXALPHA_MULTICOLOR && b->AlphaData) {
            memcpy(trans, KXSUP_AlphaBytes(b), (size_t)entries);
            haveTrans = true;
        }
        if (haveTrans) png_set_tRNS(s.png, s.info, trans, entries, nullptr);
    } else {
        png_set_IHDR(s.png, s.info, b->Width, b->Height, depth == 24 ? 8 : 16,
                     hasAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, interlace, PNG_COMPRESSION_TYPE_BASE,
                     PNG_FILTER_TYPE_BASE);
    }

    const KXOSpecialInfo* info = SpecialInfo;
    if (info) {
        png_text texts[7];
        int n = 0;
        auto add = [&](const char* key, char* text, int compression) {
            png_text& t = texts[n++];
            memset(&t, 0, sizeof(t));
            t.key = const_cast<char*>(key);
            t.text = text;
            t.compression = compression;
            if (compression >= PNG_ITXT_COMPRESSION_NONE) {
                t.lang = const_cast<char*>("");
                t.lang_key = const_cast<char*>("");
            }
        };
        if (info->Anno && !s.carried[0]) add("Description", info->Anno, PNG_TEXT_COMPRESSION_NONE);
        if (info->Auth && !s.carried[1]) add("Author", info->Auth, PNG_TEXT_COMPRESSION_NONE);
        if (info->Copy && !s.carried[2]) add("Copyright", info->Copy, PNG_TEXT_COMPRESSION_NONE);
        if (info->Name && !s.carried[3]) add("Title", info->Name, PNG_TEXT_COMPRESSION_NONE);
        if (info->Version != 0) {
            if (s.exif) add(kExifKey, s.exif, textCompression(s.exifHex));
            if (s.iptc) add(kIptcKey, s.iptc, textCompression(s.iptcHex));
            // The packet need not end in a zero: copy it up to its size.
            const uint8_t* xmp = info->Xmp0 ? info->Xmp0 : info->Xmp1;
            const uint32_t xmpSize = info->Xmp0 ? info->Xmp0Size : info->Xmp1Size;
            if (xmp && xmpSize) {
                const void* zero = memchr(xmp, 0, xmpSize);
                const size_t length = zero ? (size_t)(static_cast<const uint8_t*>(zero) - xmp) : xmpSize;
                if ((s.xmp = copyText(reinterpret_cast<const char*>(xmp), length)))
                    add(kXmpKey, s.xmp, PNG_ITXT_COMPRESSION_NONE);
            }
        }
        if (n) png_set_text(s.png, s.info, texts, n);

        if (info->IccData && info->IccSize) {
            char name[79];
            const char* source = info->IccName && info->IccName[0] ? info->IccName : "ICC Profile";
            strncpy(name, source, 78);
            name[78] = 0;
            png_set_iCCP(s.png, s.info, name, PNG_COMPRESSION_TYPE_BASE, info->IccData, info->IccSize);
        } else if (info->IccType == 1) {
            png_set_sRGB(s.png, s.info, (int)info->SRGBIntent);
        }
    }

    png_write_info(s.png, s.info);
    if (palette) png_set_packing(s.png);
    if (s.swap16) png_set_swap(s.png);
    const int passes = interlace == PNG_INTERLACE_ADAM7 ? png_set_interlace_handling(s.png) : 1;

    const uint32_t height = b->Height, width = b->Width;
    const uint32_t pixelBytes = palette ? 1 : depth / 8;
    const size_t stride = (size_t)width * pixelBytes;
    for (int pass = 0; pass < passes; ++pass) {
        if (passes > 1 && pass > 0 && ProgressHook) {
            KXF_Progress(this, (uint32_t)(pass * 100 / passes));
        }
        for (uint32_t y = 0; y < height; ++y) {
            if (passes == 1) KXF_RowProgress(this, y, height);
            const uint8_t* src = b->Data + y * stride;
            if (!hasAlpha) {
                png_write_row(s.png, src);
                continue;
            }
            const uint8_t* alpha = s.alpha8 ? s.alpha8 + (size_t)y * width
                                            : reinterpret_cast<const uint8_t*>(s.alpha16 + (size_t)y * width);
            joinRow(s.row, src, alpha, width, pixelBytes, pixelBytes / 3);
            png_write_row(s.png, s.row);
        }
    }
    png_write_end(s.png, s.info);
    return KXERR_NONE;
}

// The raw profiles and which texts they carry. A profile whose text cannot
// be made is left out, and then carries nothing.
void kxoPNG::prepareMeta(WriteSession& s) {
    const KXOSpecialInfo* info = SpecialInfo;
    if (!info || info->Version == 0) return;
    // Blocks shorter than their headers carry nothing to write.
    if (info->Exif && info->ExifSize >= kExifHeaderSize && keyIsOn("WRITE_EXIF", true))
        s.exif = encodeRawProfile("exif", info->Exif, info->ExifSize, &s.exifHex);
    if (info->Iptc && info->IptcSize > kIptcHeaderSize)
        s.iptc = encodeRawProfile("iptc", info->Iptc + kIptcHeaderSize, info->IptcSize - kIptcHeaderSize, &s.iptcHex);
    bool carried[KXMETATEXT_COUNT];
    KX_MetaTextsCarried(info, s.exif != nullptr, s.iptc != nullptr, carried);
    const uint32_t fields[4] = {KXMETATEXT_ANNO, KXMETATEXT_AUTH, KXMETATEXT_COPY, KXMETATEXT_NAME};
    for (int i = 0; i < 4; ++i) s.carried[i] = carried[fields[i]];
}

uint32_t kxoPNG::Save() {
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    KX_GfxBuffer* b = SaveBuffer;
    const uint32_t depth = b->ColorDepth;
    if (!(depth >= 1 && depth <= 8) && depth != 24 && depth != 48) return KXERR_FILEREQUIREMENTS;
    if (b->PixelBits != (depth <= 8 ? 8u : depth) || b->Width > PNG_UINT_31_MAX || b->Height > PNG_UINT_31_MAX)
        return KXERR_FILEREQUIREMENTS;

    WriteSession s;
    s.buffer = b;
    if (depth == 48) {
        // A record that can carry the byte-order mark is brought to the
        // file's order (and marked); an older one is unmarked host order,
        // so libpng swaps while writing instead of changing it unseen.
        if (b->Version >= 4) {
            if ((err = KXSUP_ConvertGfxBufferEndianess(b, KXENDIAN_BIG)) != KXERR_NONE) return err;
        } else {
            s.swap16 = true;
        }
    }
    // A map kept from an earlier save belongs to another buffer: fetch afresh.
    if (AlphaMap8Owned) FreeVec(AlphaMap8);
    if (AlphaMap16Owned) FreeVec(AlphaMap16);
    AlphaMap8 = nullptr;
    AlphaMap16 = nullptr;
    AlphaMap8Owned = AlphaMap16Owned = 0;
    if (depth > 8) {
        int allocated = 0;
        if (depth == 24) {
            err = KXSUP_GetAlphaMap8(b, &AlphaMap8, &allocated, 1, 1);
            AlphaMap8Owned = allocated ? 1 : 0;
        } else {
            err = KXSUP_GetAlphaMap16(b, &AlphaMap16, &allocated, 1);
            AlphaMap16Owned = allocated ? 1 : 0;
        }
        if (err == KXERR_NOMEMORY) return KXERR_NOMEMORY;
        if (depth == 24) s.alpha8 = AlphaMap8;
        if (depth == 48) s.alpha16 = AlphaMap16;
        uint32_t rowSize = 0;
        if (s.alpha8 || s.alpha16) {
            if (!KXSUP_CheckedSize(&rowSize, b->Width, depth == 24 ? 4 : 8)) return KXERR_FILEREQUIREMENTS;
            s.row = static_cast<uint8_t*>(AllocVec(rowSize, MEMF_ANY));
            if (!s.row) return KXERR_NOMEMORY;
        }
    }

    prepareMeta(s);

    s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, this, writeError, writeWarning);
    if (!s.png) {
        FreeVec(s.row);
        FreeVec(s.exif);
        FreeVec(s.iptc);
        return KXERR_NOMEMORY;
    }
    KXSafeFile sf;
    err = KXF_OpenSave(this, &sf);
    if (err == KXERR_NONE) {
        s.info = png_create_info_struct(s.png);
        err = s.info ? writeImage(s) : KXERR_NODESTFILE;
        // The new file replaces the old one only when all of it went out;
        // a failed flush or close is a failed save like any other.
        if (KXF_EndSave(this, &sf, err) != KXERR_NONE) err = KXERR_NODESTFILE;
    }
    png_destroy_write_struct(&s.png, s.info ? &s.info : nullptr);
    FreeVec(s.row);
    FreeVec(s.exif);
    FreeVec(s.iptc);
    FreeVec(s.xmp);
    return err;
}
