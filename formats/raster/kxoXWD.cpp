// kxoXWD: X window dumps (see kxoXWD.h). Layout from X11's XWDFile.h: a
// header of 25 big-endian 32-bit words and the window name, the colour map
// (12 bytes an entry), then the pixels.
#include "formats/raster/kxoXWD.h"

#include <cstring>
#include <vector>

namespace {

const uint32_t HEADER_WORDS = 25, HEADER_BYTES = 100, MAP_ENTRY = 12;

enum Field {
    HEADER_SIZE, FILE_VERSION, PIXMAP_FORMAT, PIXMAP_DEPTH, PIXMAP_WIDTH, PIXMAP_HEIGHT, XOFFSET, BYTE_ORDER,
    BITMAP_UNIT, BITMAP_BIT_ORDER, BITMAP_PAD, BITS_PER_PIXEL, BYTES_PER_LINE, VISUAL_CLASS, RED_MASK, GREEN_MASK,
    BLUE_MASK, BITS_PER_RGB, COLORMAP_ENTRIES, NCOLORS, WINDOW_WIDTH,
};

const uint32_t ZPIXMAP = 2;

}  // namespace

int32_t kxoXWD::RedByMask(uint32_t pixel, uint32_t mask) {
    if (mask == 0xFF0000) return (int32_t)(pixel >> 16 & 0xFF);
    if (mask == 0xFF) return (int32_t)(pixel & 0xFF);
    return -1;
}

int32_t kxoXWD::BlueByMask(uint32_t pixel, uint32_t mask) { return RedByMask(pixel, mask); }

int32_t kxoXWD::GreenByMask(uint32_t pixel, uint32_t mask) { return mask == 0xFF00 ? (int32_t)(pixel >> 8 & 0xFF) : -1; }

kxoXWD::kxoXWD(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoXWD");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoXWD::Reset() { FrameReset(); }

uint32_t kxoXWD::CheckFile(FILE* file, const char* name, int32_t mode) {
    (void)name;
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t b[8];
    if (KXF_PeekHead(file, b, sizeof(b)) != sizeof(b)) return 0;
    const uint32_t headerSize = (uint32_t)b[0] << 24 | b[1] << 16 | b[2] << 8 | b[3];
    const uint32_t version = (uint32_t)b[4] << 24 | b[5] << 16 | b[6] << 8 | b[7];
    // Version 6 is claimed too, and refused by Load.
    return headerSize >= HEADER_BYTES && (version == 6 || version == 7) ? 1 : 0;
}

uint32_t kxoXWD::Load() { return KXF_Load(this, &kxoXWD::LoadBody); }

uint32_t kxoXWD::LoadBody() {
    KXByteReader r(ReadFile);
    uint32_t h[HEADER_WORDS];
    for (uint32_t& w : h) w = r.be32();
    if (!r.ok()) return KXERR_EOF;
    if (h[FILE_VERSION] != 7 || h[HEADER_SIZE] < HEADER_BYTES) return KXERR_FILEREQUIREMENTS;
    SubFormatId = 0;
    if (h[PIXMAP_FORMAT] != ZPIXMAP) return KXERR_FILEREQUIREMENTS;
    const uint32_t bpl = h[BYTES_PER_LINE];
    if (bpl == 0) return KXERR_FILEREQUIREMENTS;  // rows are addressed by it

    // Some writers leave bits per pixel at the depth (24) and store 32-bit
    // pixels: the row length tells. It is taken down to a pixel size the
    // rows hold whole, so that rows padded to 32 bits (3 x 23 bytes in 72)
    // stay 24-bit. A window width of 0 tells nothing.
    uint32_t bpp = h[BITS_PER_PIXEL];
    if (h[WINDOW_WIDTH] != 0) {
        const uint64_t implied = (uint64_t)bpl * 8 / h[WINDOW_WIDTH];
        const uint32_t whole = implied >= 32 ? 32 : implied >= 24 ? 24 : implied >= 8 ? 8 : 0;
        if (whole > bpp) bpp = whole;
    }
    const uint32_t bitsPerRgb = h[BITS_PER_RGB];
    if (bpp != 8 && bpp != 24 && bpp != 32) return KXERR_FILEREQUIREMENTS;
    if (bitsPerRgb >= 1 && bitsPerRgb <= 7) return KXERR_FILEREQUIREMENTS;
    if (h[BITMAP_UNIT] != 8 && h[BITMAP_UNIT] != 32) return KXERR_FILEREQUIREMENTS;
    if (bitsPerRgb > 24 && (RedByMask(0, h[RED_MASK]) < 0 || GreenByMask(0, h[GREEN_MASK]) < 0 || BlueByMask(0, h[BLUE_MASK]) < 0))
        return KXERR_FILEREQUIREMENTS;
    if (h[BITMAP_BIT_ORDER] == 0) return KXERR_FILEREQUIREMENTS;

    // The colour map follows the header; the pixels follow all of its entries.
    const uint32_t ncolors = h[NCOLORS], used = ncolors < 256 ? ncolors : 256;
    uint8_t map[256 * MAP_ENTRY] = {};
    if (bpp == 8 && used && (!r.seek(h[HEADER_SIZE]) || !r.bytes(map, used * MAP_ENTRY))) return KXERR_EOF;
    const uint64_t pixelStart = (uint64_t)h[HEADER_SIZE] + (uint64_t)ncolors * MAP_ENTRY;

    // Every row must lie inside the file, before anything is allocated.
    const uint32_t width = h[PIXMAP_WIDTH], height = h[PIXMAP_HEIGHT], bytesPerPixel = bpp / 8;
    if (width == 0 || height == 0) return KXERR_FILEREQUIREMENTS;
    const uint64_t rowNeed = ((uint64_t)h[XOFFSET] + width) * bytesPerPixel;
    if (pixelStart > r.size()) return KXERR_EOF;
    const uint64_t available = r.size() - pixelStart, lastRow = (uint64_t)(height - 1) * bpl;
    if (lastRow > available || rowNeed > available - lastRow) return KXERR_EOF;

    KX_GfxBuffer* img = nullptr;
    const uint32_t pixelBits = bpp == 8 ? 8 : 24;
    uint32_t err = KXF_NewImage(&img, ONEPLANE, width, height, pixelBits, pixelBits, false);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    uint32_t rowBytes = 0;
    if ((err = KXSUP_CheckSize(&rowBytes, rowNeed))) return err;
    std::vector<uint8_t> row(rowBytes);

    const uint32_t skip = h[XOFFSET] * bytesPerPixel;
    const bool lsbFirst = h[BYTE_ORDER] == 0;
    const uint32_t rm = h[RED_MASK], gm = h[GREEN_MASK], bm = h[BLUE_MASK];
    for (uint32_t y = 0; y < height; ++y) {
        if (!r.seek(pixelStart + (uint64_t)y * bpl) || !r.bytes(row.data(), rowBytes)) return KXERR_EOF;
        const uint8_t* s = row.data() + skip;
        uint8_t* d = img->Data + (uint64_t)y * width * (pixelBits / 8);
        if (bpp == 8) {
            memcpy(d, s, width);
        } else if (bpp == 24) {
            memcpy(d, s, (size_t)width * 3);
        } else {
            for (uint32_t x = 0; x < width; ++x, s += 4, d += 3) {
                const uint32_t v = lsbFirst ? (uint32_t)s[0] | s[1] << 8 | s[2] << 16 | (uint32_t)s[3] << 24
                                            : (uint32_t)s[0] << 24 | s[1] << 16 | s[2] << 8 | s[3];
                const int32_t red = RedByMask(v, rm), green = GreenByMask(v, gm), blue = BlueByMask(v, bm);
                d[0] = (uint8_t)(red < 0 ? 255 : red);
                d[1] = (uint8_t)(green < 0 ? 255 : green);
                d[2] = (uint8_t)(blue < 0 ? 255 : blue);
            }
        }
    }

    if (bpp != 8) return KXERR_NONE;
    if (used) {
        // Entry: pixel value, red, green, blue (16 bits each), flags, pad.
        for (uint32_t i = 0; i < used; ++i) {
            const uint8_t* e = map + i * MAP_ENTRY;
            img->Palette[3 * i] = e[4];
            img->Palette[3 * i + 1] = e[6];
            img->Palette[3 * i + 2] = e[8];
        }
        return KXERR_NONE;
    }
    // No colour map: a grey ramp of 2^depth levels (at most 256), the
    // last white.
    const uint32_t n = 1u << (h[PIXMAP_DEPTH] < 8 ? h[PIXMAP_DEPTH] : 8);
    for (uint32_t i = 0; i < 256; ++i) memset(img->Palette + 3 * i, (uint8_t)(i * (256 / n)), 3);
    memset(img->Palette + 3 * (n - 1), 255, 3);
    return KXSUP_AddGfxBufferFlags(img, KXGFXF_GRAY, 1);
}
