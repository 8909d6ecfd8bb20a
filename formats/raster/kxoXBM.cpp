// kxoXBM: X bitmaps (see kxoXBM.h).
#include "formats/raster/kxoXBM.h"

#include <strings.h>

#include <cstring>
#include <vector>

namespace {

const uint32_t HEADER_LINE = 256;
// The first value of a data line must begin within this many characters.
const uint32_t FIRST_VALUE_LIMIT = 256;

// Bit order reversed: the file's first pixel is bit 0, the buffer's bit 7.
struct Reversed {
    uint8_t Table[256];
    Reversed() {
        for (uint32_t b = 0; b < 256; ++b) {
            uint32_t r = 0;
            for (uint32_t k = 0; k < 8; ++k) r |= (b >> k & 1) << (7 - k);
            Table[b] = (uint8_t)r;
        }
    }
};
const Reversed kReversed;

enum LineKind { HEADER = 1, DATA = 2 };

// The next header line (one that begins with "#") or data line (one that
// holds "0x" and does not begin with "#"); empty lines and lines that begin
// a comment are passed over. A line longer than the buffer arrives in parts.
uint32_t readLine(FILE* f, char* buffer, uint32_t size, LineKind kind) {
    for (;;) {
        if (!fgets(buffer, (int)size, f)) return KXERR_EOF;
        const char c = buffer[0];
        if (c == 0 || c == '\r' || c == '\n' || strncmp(buffer, "/*", 2) == 0 || strncmp(buffer, "//", 2) == 0) continue;
        if (kind == HEADER) {
            if (c == '#') return KXERR_NONE;
        } else if (c != '#' && strstr(buffer, "0x")) {
            return KXERR_NONE;
        }
    }
}

// The number after a #define's name: "width" or "height" is searched from
// the ninth character on, the one character after it passed over, blanks
// skipped. 14 without the word or a number, 15 for 0 or a size beyond 32
// bits.
uint32_t defineValue(const char* line, const char* word, uint32_t* value) {
    const size_t n = strlen(line), w = strlen(word);
    size_t at = 8;
    while (at + w <= n && strncasecmp(line + at, word, w) != 0) ++at;
    if (at + w > n) return KXERR_DECODE;
    const char* p = line + (at + w + 1 <= n ? at + w + 1 : n);
    while (*p == ' ' || *p == '\t') ++p;
    if (*p < '0' || *p > '9') return KXERR_DECODE;
    uint64_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        if ((v = v * 10 + (uint64_t)(*p - '0')) > 0xFFFFFFFFu) return KXERR_FILEREQUIREMENTS;
    if (v == 0) return KXERR_FILEREQUIREMENTS;
    *value = (uint32_t)v;
    return KXERR_NONE;
}

inline bool endsValue(char c) { return c == 0 || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == '}'; }

inline int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Grey of a palette entry, (30 R + 59 G + 11 B) / 100.
inline uint32_t grey(const uint8_t* rgb) { return (rgb[0] * 30u + rgb[1] * 59u + rgb[2] * 11u) / 100u; }

}  // namespace

kxoXBM::kxoXBM(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoXBM");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoXBM::Reset() {
    FrameReset();
    FreeVec(LineBuffer);
    LineBuffer = nullptr;
    KXSUP_FreeGfxBuffer(Dithered);
    Dithered = nullptr;
}

uint32_t kxoXBM::CheckFile(FILE* file, const char* name, int32_t mode) {
    if (mode != KXIO_FILE || !file) return 0;
    char s[16] = {};
    KXF_PeekHead(file, s, 15);
    if (strncmp(s, "/* XBM", 6) == 0) return 1;
    const bool xbmName = KXF_NameEndsWith(name, ".xbm");
    return xbmName && (strncmp(s, "#define ", 8) == 0 || strncmp(s, "/*", 2) == 0) ? 1 : 0;
}

uint32_t kxoXBM::Load() { return KXF_Load(this, &kxoXBM::LoadBody); }

uint32_t kxoXBM::LoadBody() {
    FILE* f = ReadFile;
    setvbuf(f, nullptr, _IOFBF, 8192);
    char header[HEADER_LINE];
    uint32_t width = 0, height = 0, err;
    if ((err = readLine(f, header, sizeof(header), HEADER))) return err;
    if ((err = defineValue(header, "width", &width))) return err;
    KXF_Log(this, 5, "xbm", "width: %ld\n", (long)width);
    if ((err = readLine(f, header, sizeof(header), HEADER))) return err;
    if ((err = defineValue(header, "height", &height))) return err;
    KXF_Log(this, 5, "xbm", "height: %ld\n", (long)height);

    // Every byte of the bitmap takes at least two characters of the file
    // ("0x0" and a separator for one byte, "0x000" for two): a file too
    // short for the bitmap ends here, before the picture is allocated
    // (after the size checks, whose codes come first).
    const uint64_t bitmapBytes = ((uint64_t)width + 7) / 8 * height;
    if ((err = KXSUP_CheckSize(nullptr, bitmapBytes))) return err;
    {
        KXByteReader rest(f);
        if (!rest.ok() || !KXF_FileCanHold(rest, bitmapBytes * 2)) return KXERR_EOF;
    }

    // The picture's size is checked before the line buffer is sized by it.
    KX_GfxBuffer* img = nullptr;
    if ((err = KXF_NewImage(&img, BITPLANE, width, height, 1, 0, false))) return err;
    LoadedBuffer = img;
    memcpy(img->Palette, "\xFF\xFF\xFF\x00\x00\x00", 6);  // 0 white, 1 black (set)
    SubFormatId = 0;

    // A line of a row: "0x00, " for every byte of it and room to spare.
    uint32_t lineSize = 0;
    if ((err = KXSUP_CheckSize(&lineSize, (uint64_t)width * 7 + 256))) return err;
    FreeVec(LineBuffer);
    LineBuffer = static_cast<char*>(AllocVec(lineSize, MEMF_CLEAR));
    if (!LineBuffer) return KXERR_NOMEMORY;

    // Values in file order, whatever the lines; the rest after a full
    // bitmap is not read. X10 files hold 16-bit words, each row padded to
    // whole words, the left pixels in the low byte: a word's low byte goes
    // first and the padding byte of an odd row length is dropped.
    uint8_t* data = img->Data;
    const uint32_t total = img->BufferSize, rowBytes = img->BytesPerLine, wordRow = (rowBytes + 1) & ~1u;
    uint32_t stored = 0, column = 0;
    auto storeWordByte = [&](uint8_t b) {
        if (column < rowBytes) data[stored++] = kReversed.Table[b];
        if (++column == wordRow) column = 0;
    };
    while (stored < total) {
        if (ProgressHook && stored % 8 == 0) KXF_Progress(this, (uint32_t)((uint64_t)stored * 100 / total));
        // A file that ends early leaves no half-filled picture.
        if (readLine(f, LineBuffer, lineSize, DATA)) return KXERR_EOF;
        const char* p = strstr(LineBuffer, "0x");
        if (p - LineBuffer >= (ptrdiff_t)FIRST_VALUE_LIMIT) return KXERR_DECODE;
        while (p && stored < total) {
            const char* digits = p + 2;
            int count = -1;
            for (int i = 0; i < 8; ++i)
                if (endsValue(digits[i])) {
                    count = i;
                    break;
                }
            if (count <= 0) return KXERR_DECODE;
            uint32_t v = 0;
            for (int i = 0; i < count; ++i) {
                const int d = hexDigit(digits[i]);
                if (d < 0) return KXERR_DECODE;
                v = v << 4 | (uint32_t)d;
            }
            if (count <= 2) {
                data[stored++] = kReversed.Table[v];
            } else {
                if (v > 0xFFFF) return KXERR_DECODE;
                storeWordByte((uint8_t)v);
                if (stored < total) storeWordByte((uint8_t)(v >> 8));
            }
            p = digits[count] ? strstr(digits + count + 1, "0x") : nullptr;
        }
    }
    return KXSUP_AddGfxBufferFlags(img, KXGFXF_GRAY, 1);
}

// Palette pictures to one bit through the Hilbert-curve dither, entry 0
// white and 1 black as in a loaded bitmap.
uint32_t kxoXBM::Dither(KX_GfxBuffer* source) {
    KXSUP_FreeGfxBuffer(Dithered);
    Dithered = nullptr;
    return KXF_RunOperator(Lib, "kxpHilbertDither256", source, &Dithered, {{"BACKGROUND", "WHITE"}});
}

uint32_t kxoXBM::Save() {
    if (IOMode != KXIO_FILE || !SaveBuffer) return KXERR_NOTSUPPORTED;
    if (SaveBuffer->ColorDepth > 8) return KXERR_NO24BIT;
    uint32_t err = KXF_SaveChecks(this);  // bit planes to one byte a pixel
    if (err != KXERR_NONE) return err;
    const KX_GfxBuffer* src = SaveBuffer;
    const uint32_t w = src->Width, h = src->Height;
    if (src->ColorDepth > 1) {
        if ((err = Dither(SaveBuffer))) return err;
        // The dither pads to whole blocks of 16; only the picture is written.
        src = Dithered;
    }
    // Set bits are black: a picture whose entry 1 is the brighter one is
    // written inverted, so that it looks as it did.
    const uint8_t flip = grey(src->Palette + 3) > grey(src->Palette) ? 0xFF : 0x00;
    const uint32_t stride = src->Width, rowBytes = (w + 7) / 8;
    const uint8_t lastMask = (uint8_t)(w % 8 ? (1u << (w % 8)) - 1 : 0xFF);
    uint32_t textSize = 0;
    if ((err = KXSUP_CheckSize(&textSize, rowBytes, 6, 1, 1))) return err;
    std::vector<char> text((size_t)textSize + 1);
    std::vector<uint8_t> packed(rowBytes);

    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;
    setvbuf(WriteFile, nullptr, _IOFBF, 8192);
    KXByteWriter out(WriteFile);
    out.printf("/* XBM */\n#define IMAGE_width %ld\n#define IMAGE_height %ld\n", (long)w, (long)h);
    // The array is named "_bits": X11's own reader, ImageMagick and
    // GraphicsMagick look for no other name.
    out.text("static char IMAGE_bits[] = {\n");
    static const char hex[] = "0123456789abcdef";
    for (uint32_t y = 0; y < h && out.ok(); ++y) {
        KXF_RowProgress(this, y, h);
        const uint8_t* px = src->Data + (uint64_t)y * stride;
        std::fill(packed.begin(), packed.end(), 0);
        for (uint32_t x = 0; x < w; ++x) packed[x >> 3] |= (uint8_t)((px[x] & 1) << (x & 7));
        char* t = text.data();
        for (uint32_t j = 0; j < rowBytes; ++j, t += 6) {
            const uint8_t b = (uint8_t)((packed[j] ^ flip) & (j + 1 == rowBytes ? lastMask : 0xFF));
            t[0] = '0', t[1] = 'x', t[2] = hex[b >> 4], t[3] = hex[b & 15], t[4] = ',', t[5] = ' ';
        }
        *t++ = '\n';
        out.bytes(text.data(), (size_t)(t - text.data()));
    }
    out.text("};\n");
    return KXF_EndSave(this, &sf, out.ok() ? KXERR_NONE : KXERR_IO);
}
