#include "formats/libraries/kxoCSRC.h"

#include <cstring>

namespace {

enum Dialect { C_SOURCE, ASM_68K, ASM_GNU };
enum Kind { PALETTE, RGB24, ARGB32 };

struct Syntax {
    const char* byteDirective;
    const char* longDirective;
    const char* labelPrefix;
    const char* hexPrefix;
};

const Syntax kM68k = {"dc.b", "dc.l", "", "$"};
const Syntax kGnu = {".byte", ".long", ".", "0x"};

const char kHexDigits[] = "0123456789abcdef";

char* Put(char* p, const char* text) {
    const size_t n = strlen(text);
    memcpy(p, text, n);
    return p + n;
}

// prefix, digits lower-case hexadecimal digits of v, ", "
char* PutValue(char* p, const char* prefix, uint32_t v, int digits) {
    p = Put(p, prefix);
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) *p++ = kHexDigits[(v >> shift) & 15];
    *p++ = ',';
    *p++ = ' ';
    return p;
}

// The text of one pixel: its index, its R, G, B bytes, or its 32-bit value
// alpha + R << 8 + G << 16 + B << 24 (alpha in the lowest byte).
char* PutPixel(char* p, const char* prefix, Kind kind, const uint8_t* pixel, const uint8_t* alpha) {
    switch (kind) {
    case PALETTE: return PutValue(p, prefix, pixel[0], 2);
    case RGB24:
        p = PutValue(p, prefix, pixel[0], 2);
        p = PutValue(p, prefix, pixel[1], 2);
        return PutValue(p, prefix, pixel[2], 2);
    case ARGB32:
        return PutValue(p, prefix, (uint32_t)*alpha | (uint32_t)pixel[0] << 8 | (uint32_t)pixel[1] << 16 | (uint32_t)pixel[2] << 24, 8);
    }
    return p;
}

}  // namespace

kxoCSRC::kxoCSRC(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoCSRC");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoCSRC::Reset() {
    FrameReset();
    FreeVec(RowText);
    RowText = nullptr;
}

uint32_t kxoCSRC::CheckFile(FILE*, const char*, int32_t) { return 0; }

uint32_t kxoCSRC::Load() { return KXERR_NOTSUPPORTED; }

// Everything that can fail before the file is opened: the frame's checks,
// the depth, the alpha map and the row text.
uint32_t kxoCSRC::Prepare() {
    uint32_t err = KXF_SaveChecks(this);
    // HAM pictures are dumped as they are, with their flag; the frame's
    // checks have converted and tested the storage before refusing them.
    if (err == KXERR_NOHAM) err = KXF_BufferIsConsistent(SaveBuffer) ? KXERR_NONE : KXERR_INTERNALACCESS;
    if (err != KXERR_NONE) return err;
    const KX_GfxBuffer* src = SaveBuffer;
    const bool palette = src->PixelBits == 8 && src->ColorDepth >= 1 && src->ColorDepth <= 8;
    const bool rgb = src->PixelBits == 24 && src->ColorDepth == 24;
    if (!palette && !rgb) return KXERR_NOTSUPPORTED;

    if (AlphaMap8Owned) FreeVec(AlphaMap8);
    AlphaMap8 = nullptr;
    AlphaMap8Owned = 0;
    if (rgb) {
        uint8_t* map = nullptr;
        int owned = 0;
        err = KXSUP_GetAlphaMap8(src, &map, &owned, 1, 1);
        if (err == KXERR_NOMEMORY) return err;
        if (err == KXERR_NONE && map) AlphaMap8 = map, AlphaMap8Owned = owned ? 1 : 0;
    }

    // At most 18 characters a pixel and a new directive line every 8 pixels.
    uint32_t bytes = 0;
    if ((err = KXSUP_CheckSize(&bytes, (uint64_t)src->Width * 20 + 32))) return err;
    FreeVec(RowText);
    RowText = static_cast<char*>(AllocVec(bytes, MEMF_ANY));
    return RowText ? KXERR_NONE : KXERR_NOMEMORY;
}

uint32_t kxoCSRC::Save() {
    uint32_t err = Prepare();
    if (err != KXERR_NONE) return err;
    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;
    setvbuf(WriteFile, nullptr, _IOFBF, 65535);
    KXByteWriter w(WriteFile);
    const bool written = WriteBody(w);
    return KXF_EndSave(this, &sf, written && w.ok() ? KXERR_NONE : KXERR_IO);
}

bool kxoCSRC::WriteBody(KXByteWriter& w) {
    const KX_GfxBuffer* src = SaveBuffer;
    const uint32_t width = src->Width, height = src->Height, depth = src->ColorDepth;
    const Dialect dialect = SelectedSubFormat == 0 ? C_SOURCE : SelectedSubFormat == 1 ? ASM_68K : ASM_GNU;
    const Syntax& syntax = dialect == ASM_68K ? kM68k : kGnu;
    const Kind kind = depth <= 8 ? PALETTE : AlphaMap8 ? ARGB32 : RGB24;
    const uint32_t pixelBytes = kind == PALETTE ? 1 : 3;

    if (dialect == C_SOURCE)
        w.printf("/* Chunky Graphics Dump                */\n/* created with Kaxon5                 */\n\n\n"
                 "const long gfx_width  = %ld;\nconst long gfx_height = %ld;\nconst long gfx_depth  = %ld;\n\n",
                 (long)width, (long)height, (long)depth);
    else if (dialect == ASM_68K)
        w.printf(";* Chunky Graphics Dump (ASM 68k)      *\n;* created with Kaxon5                 *\n\n"
                 "width  EQU %ld\nheight EQU %ld\ndepth  EQU %ld\n\n",
                 (long)width, (long)height, (long)depth);
    else
        w.printf("# Chunky Graphics Dump (GCC PPC/x86)  \n# created with Kaxon5                 \n\n"
                 "\t.section\t.rodata\n\n\t.align 1\n\n.width:\n\t.long %ld\n.height:\n\t.long %ld\n.depth:\n\t.long %ld\n\n",
                 (long)width, (long)height, (long)depth);

    const char* directive = kind == ARGB32 ? syntax.longDirective : syntax.byteDirective;
    const uint8_t* pal = src->Palette;
    if (kind == PALETTE) {
        const long ham = IsHamBuffer(src) ? 1 : 0;
        const uint32_t entries = 1u << depth;
        if (dialect == C_SOURCE) {
            w.printf("#define IS_HAM %ld\n\n", ham);
            w.text("const unsigned char RGB8_colormap [][3] = \n{\n");
            for (uint32_t i = 0; i < entries; ++i)
                w.printf(" { 0x%02lx, 0x%02lx, 0x%02lx },\n", (unsigned long)pal[3 * i], (unsigned long)pal[3 * i + 1],
                         (unsigned long)pal[3 * i + 2]);
            w.text("\n /* Endmark */\n 0x00\n};\n\n\n");
            w.text("const unsigned char chunky_8bit_data [] = \n{\n ");
        } else {
            if (dialect == ASM_68K)
                w.printf("IS_HAM EQU %ld\n\n", ham);
            else
                w.printf(".isHAM:\n\t.long %ld\n\n", ham);
            w.printf("%sRGB8_colormap:\n\n", syntax.labelPrefix);
            const char* entry = dialect == ASM_68K ? " %s $%02lx, $%02lx, $%02lx, \n" : "\t %s 0x%02lx, 0x%02lx, 0x%02lx\n";
            for (uint32_t i = 0; i < entries; ++i)
                w.printf(entry, syntax.byteDirective, (unsigned long)pal[3 * i], (unsigned long)pal[3 * i + 1],
                         (unsigned long)pal[3 * i + 2]);
            w.printf(dialect == ASM_68K ? "\n\t ;* Endmark *\n\t %s $00\n\n\n\n" : "\n\t %s 0x00\n # Endmark\n\n\n\n",
                     syntax.byteDirective);
            w.printf("%schunky_8bit_data:\n\n\t %s ", syntax.labelPrefix, directive);
        }
    } else if (dialect == C_SOURCE) {
        w.text(kind == ARGB32 ? "const unsigned long ARGB_32bit_data [] = \n{\n "
                              : "const unsigned char RGB_24bit_data [] = /* R1, G1, B1, R2, G2, B2, ... */ \n{\n ");
    } else {
        w.printf("%s%s:\n\n\t %s ", syntax.labelPrefix, kind == ARGB32 ? "ARGB_32bit_data" : "RGB_24bit_data", directive);
    }

    // A new directive line; at most 8 pixels a line, every row on new lines.
    char newLine[16];
    snprintf(newLine, sizeof(newLine), "\n\t %s ", directive);
    const char* hexPrefix = dialect == C_SOURCE ? "0x" : syntax.hexPrefix;
    const size_t rowBytes = (size_t)width * pixelBytes;
    for (uint32_t y = 0; y < height && w.ok(); ++y) {
        KXF_RowProgress(this, y, height);
        const uint8_t* row = src->Data + rowBytes * y;
        const uint8_t* alpha = AlphaMap8 ? AlphaMap8 + (size_t)width * y : nullptr;
        char* p = RowText;
        if (dialect == C_SOURCE) {
            for (uint32_t x = 0; x < width; ++x) p = PutPixel(p, hexPrefix, kind, row + (size_t)x * pixelBytes, alpha ? alpha + x : nullptr);
            p = Put(p, "\n ");
        } else {
            for (uint32_t x = 0; x < width; ++x) {
                p = PutPixel(p, hexPrefix, kind, row + (size_t)x * pixelBytes, alpha ? alpha + x : nullptr);
                if (x + 1 == width) {
                    p -= 2;
                } else if (x != 0 && (x + 1) % 8 == 0) {
                    p -= 2;
                    p = Put(p, newLine);
                }
            }
            p = Put(p, newLine);
        }
        w.bytes(RowText, (size_t)(p - RowText));
    }

    if (dialect == C_SOURCE) {
        w.text(kind == PALETTE ? "\n /* Endmark */\n 0x00\n};\n"
               : kind == ARGB32 ? "\n /* Endmark */\n 0x00000000 \n};"
                                : "\n /* Endmark */\n 0x00 \n};");
    } else if (dialect == ASM_68K) {
        w.text("$00\n\t ;* ^^^ Endmark *\n");
    } else if (kind == PALETTE) {
        w.printf("\n\t %s 0x00\n # Endmark\n\n\n\n", syntax.byteDirective);
    } else {
        w.text("0x00\n\t # ^^^ Endmark\n\n\n\n");
    }
    return w.ok();
}
