// kxoDDS: DirectDraw Surface (see kxoDDS.h).
#include "formats/raster/kxoDDS.h"
#include "formats/raster/kxplanes.h"

#include <cstring>
#include <memory>

namespace {

const char* const TAG = "dds";

// Pixel-format flags and the header flag that says the format is valid.
const uint32_t DDPF_ALPHAPIXELS = 0x1, DDPF_FOURCC = 0x4, DDPF_RGB = 0x40;
const uint32_t DDSD_PIXELFORMAT = 0x1000;

enum Layout { NONE, BGRA, ARGB, RGB565, ARGB1555, ARGB4444 };

inline uint16_t le16(const uint8_t* p) { return (uint16_t)(p[0] | p[1] << 8); }

inline uint8_t expand5(uint32_t v) { return (uint8_t)(8 * v + v / 4); }
inline uint8_t expand6(uint32_t v) { return (uint8_t)(4 * v + v / 16); }

void rgb565(uint32_t c, uint8_t* out) {
    out[0] = expand5(c >> 11 & 31);
    out[1] = expand6(c >> 5 & 63);
    out[2] = expand5(c & 31);
}

// The four RGBA entries of a colour block. Four colours: two thirds
// between the ends; three: the middle and transparent black.
void colourTable(bool four, uint32_t c0, uint32_t c1, uint8_t t[4][4]) {
    rgb565(c0, t[0]);
    rgb565(c1, t[1]);
    t[0][3] = t[1][3] = 255;
    for (int c = 0; c < 3; ++c) {
        if (four) {
            t[2][c] = (uint8_t)((2 * t[0][c] + t[1][c] + 1) / 3);
            t[3][c] = (uint8_t)((t[0][c] + 2 * t[1][c] + 2) / 3);
        } else {
            t[2][c] = (uint8_t)((t[0][c] + t[1][c]) / 2);
            t[3][c] = 0;
        }
    }
    t[2][3] = 255;
    t[3][3] = four ? 255 : 0;
}

// One block into a 4 x 4 RGBA tile (16 pixels, row by row).
void decodeBlock(const uint8_t* b, int kind, uint8_t tile[16][4]) {
    // Set for every kind: kind 1 never reads it, but g++ cannot see that.
    uint8_t alpha[16] = {};
    const uint8_t* colour = b;
    if (kind == 2 || kind == 3) {
        for (int k = 0; k < 16; ++k) {
            const uint32_t v = b[k / 2] >> (4 * (k & 1)) & 15;
            alpha[k] = (uint8_t)(v | v << 4);
        }
        colour = b + 8;
    } else if (kind == 4 || kind == 5) {
        const uint32_t a0 = b[0], a1 = b[1];
        uint8_t t[8] = {(uint8_t)a0, (uint8_t)a1};
        if (a0 > a1) {
            for (uint32_t i = 1; i <= 6; ++i) t[i + 1] = (uint8_t)(((7 - i) * a0 + i * a1 + 3) / 7);
        } else {
            for (uint32_t i = 1; i <= 4; ++i) t[i + 1] = (uint8_t)(((5 - i) * a0 + i * a1 + 2) / 5);
            t[6] = 0;
            t[7] = 255;
        }
        uint64_t bits = 0;
        for (int i = 0; i < 6; ++i) bits |= (uint64_t)b[2 + i] << (8 * i);
        for (int k = 0; k < 16; ++k) alpha[k] = t[bits >> (3 * k) & 7];
        colour = b + 8;
    }
    const uint32_t c0 = le16(colour), c1 = le16(colour + 2);
    uint8_t table[4][4];
    colourTable(kind != 1 || c0 > c1, c0, c1, table);
    const uint32_t idx = (uint32_t)colour[4] | (uint32_t)colour[5] << 8 | (uint32_t)colour[6] << 16 | (uint32_t)colour[7] << 24;
    for (int k = 0; k < 16; ++k) {
        memcpy(tile[k], table[idx >> (2 * k) & 3], 4);
        if (kind != 1) tile[k][3] = alpha[k];
    }
}

}  // namespace

kxoDDS::kxoDDS(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoDDS");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoDDS::Reset() { FrameReset(); }

uint32_t kxoDDS::CheckFile(FILE* file, const char* name, int32_t mode) {
    (void)name;
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t h[8] = {};
    const size_t n = KXF_PeekHead(file, h, sizeof(h));
    return n == 8 && memcmp(h, "DDS ", 4) == 0 && h[4] == 124 && h[5] == 0 && h[6] == 0 && h[7] == 0 ? 1 : 0;
}

uint32_t kxoDDS::Load() {
    SubFormatId = (uint32_t)-1;  // none until the header is known
    return KXF_Load(this, &kxoDDS::LoadBody);
}

uint32_t kxoDDS::LoadBody() {
    KXByteReader r(ReadFile);
    uint8_t magic[4];
    r.bytes(magic, 4);
    uint32_t hd[31];
    for (uint32_t& v : hd) v = r.le32();
    if (!r.ok()) return KXERR_EOF;
    if (memcmp(magic, "DDS ", 4) != 0 || hd[0] != 124) return KXERR_FILEREQUIREMENTS;
    SubFormatId = 0;
    const uint32_t flags = hd[1], height = hd[2], width = hd[3], linear = hd[4];
    const uint32_t pf = hd[19], fourcc = hd[20], bits = hd[21];
    const uint32_t rm = hd[22], gm = hd[23], bm = hd[24], am = hd[25];
    if (!(flags & DDSD_PIXELFORMAT)) return KXERR_FILEREQUIREMENTS;
    const bool rgb = (pf & DDPF_RGB) != 0;
    bool alpha = (pf & DDPF_ALPHAPIXELS) != 0;
    const bool is32 = bits == 32;
    if (rgb && bits < 16) return KXERR_FILEREQUIREMENTS;
    KXF_Log(this, 1, TAG, "w: %ld, h: %ld, RGBBitCount: %ld, AF: %ld, 32F: %ld, LS: %ld\n", (long)width, (long)height, (long)bits,
            (long)alpha, (long)is32, (long)linear);

    Layout layout = NONE;
    int kind = 0;  // DXT1 to DXT5
    uint32_t decodeBits = bits;
    if (rgb) {
        if (bits >= 24) {
            if ((rm & 0x00FF0000) && (gm & 0x0000FF00) && (bm & 0x000000FF)) layout = BGRA;
            else if ((rm & 0x0000FF00) && (gm & 0x00FF0000) && (bm & 0xFF000000)) layout = ARGB;
        } else if (bits <= 23) {
            if (am == 0 && rm == 0xF800 && gm == 0x07E0 && bm == 0x001F) layout = RGB565;
            else if (am != 0 && rm == 0x7C00 && gm == 0x03E0 && bm == 0x001F) layout = ARGB1555;
            else if (am != 0 && rm == 0x0F00 && gm == 0x00F0 && bm == 0x000F) layout = ARGB4444;
        }
        KXF_Log(this, 1, TAG, "amask32: %08lx, rmask32: %08lx, gmask32: %08lx bmask32: %08lx\n", (unsigned long)am, (unsigned long)rm,
                (unsigned long)gm, (unsigned long)bm);
        if (layout == NONE) return KXERR_FILEREQUIREMENTS;
        if (layout == ARGB1555) decodeBits = 15;
        if (layout == ARGB4444) decodeBits = 12;
    } else if (pf & DDPF_FOURCC) {
        for (int i = 1; i <= 5; ++i) {
            const uint8_t code[4] = {'D', 'X', 'T', (uint8_t)('0' + i)};
            if (memcmp(&fourcc, code, 4) == 0) kind = i;  // the four characters in file order
        }
        if (kind) alpha = true;
        KXF_Log(this, 1, TAG, "dwFourCC: %ld\n", (long)kind);
    } else {
        KXF_Log(this, 1, TAG, "other\n");
    }
    if (width == 0 || height == 0) return KXERR_FILEREQUIREMENTS;

    // What one row (or row of blocks) takes in the file.
    uint64_t rowBytes = 0;
    uint32_t pixelBytes = 0;
    if (kind) {
        rowBytes = ((uint64_t)width + 3) / 4 * (kind == 1 ? 8 : 16);
    } else if (!rgb) {
        return KXERR_DECODE;  // neither a known code nor RGB: no decoder serves it
    } else if (decodeBits == 12 || decodeBits == 15 || decodeBits == 16) {
        rowBytes = 2 * (uint64_t)width + (width & 1 ? 2 : 0);
    } else if (decodeBits == 24 || decodeBits == 32) {
        pixelBytes = alpha || is32 ? 4 : 3;
        rowBytes = (uint64_t)pixelBytes * width + (is32 ? 0 : (4 - 3 * (uint64_t)width % 4) % 4);
    } else {
        return KXERR_DECODE;
    }
    // Rows are padded to 4 bytes unless the header gives their pitch: the
    // common writers store 24-bit rows of 3 x width bytes and say so there.
    const uint32_t DDSD_PITCH = 0x8;
    if (!kind && (flags & DDSD_PITCH) && linear >= (pixelBytes ? (uint64_t)pixelBytes * width : 2 * (uint64_t)width))
        rowBytes = linear;
    KXF_Log(this, 1, TAG, "LS: %ld\n", (long)(rowBytes * (kind ? ((uint64_t)height + 3) / 4 : height)));

    KX_GfxBuffer* img = nullptr;
    uint32_t err = KXF_NewImage(&img, ONEPLANE, width, height, 24, 24, true);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    uint8_t* amap = nullptr;
    if (alpha) {
        if ((err = KXF_AttachAlpha8(img)) != KXERR_NONE) return err;
        amap = KXSUP_AlphaBytes(img);
    }
    KXVecBlock row = KXF_AllocBlock(rowBytes);
    if (!row) return KXERR_NOMEMORY;

    if (kind) {
        // Blocks cover the size rounded up to 4; the picture keeps the
        // file's own size, so the edge blocks are cut.
        const uint32_t blocks = (uint32_t)(((uint64_t)width + 3) / 4);
        const uint32_t blockBytes = kind == 1 ? 8 : 16;
        for (uint32_t y = 0; y < height; y += 4) {
            if ((y & 7) == 0) KXF_Progress(this, (uint32_t)((uint64_t)y * 100 / height));
            if (!r.bytes(row.get(), (size_t)rowBytes)) return KXERR_EOF;
            const uint32_t rows = height - y < 4 ? height - y : 4;
            for (uint32_t bx = 0; bx < blocks; ++bx) {
                uint8_t tile[16][4];
                decodeBlock(row.get() + (size_t)bx * blockBytes, kind, tile);
                const uint32_t x0 = 4 * bx, cols = width - x0 < 4 ? width - x0 : 4;
                for (uint32_t ty = 0; ty < rows; ++ty) {
                    const uint64_t at = (uint64_t)(y + ty) * width + x0;
                    uint8_t* d = img->Data + 3 * at;
                    for (uint32_t tx = 0; tx < cols; ++tx, d += 3) {
                        const uint8_t* p = tile[4 * ty + tx];
                        d[0] = p[0], d[1] = p[1], d[2] = p[2];
                        amap[at + tx] = p[3];
                    }
                }
            }
        }
        if (kind == 2 || kind == 4) {
            // Colours were stored multiplied by alpha; alpha 0 leaves black.
            KXF_Progress(this, 90);
            const uint64_t n = (uint64_t)width * height;
            uint8_t* d = img->Data;
            for (uint64_t i = 0; i < n; ++i, d += 3) {
                const uint32_t a = amap[i];
                for (int c = 0; c < 3; ++c) {
                    const uint32_t v = a ? d[c] * 255u / a : 0;
                    d[c] = (uint8_t)(v > 255 ? 255 : v);
                }
            }
        }
        KXF_Progress(this, 100);
        return KXERR_NONE;
    }

    for (uint32_t y = 0; y < height; ++y) {
        KXF_RowProgress(this, y, height);
        if (!r.bytes(row.get(), (size_t)rowBytes)) return KXERR_EOF;
        const uint8_t* s = row.get();
        uint8_t* d = img->Data + (uint64_t)y * width * 3;
        uint8_t* a = amap ? amap + (uint64_t)y * width : nullptr;
        if (a) memset(a, 255, width);  // layouts without alpha bits stay opaque
        switch (decodeBits) {
        case 12:
            for (uint32_t x = 0; x < width; ++x, s += 2, d += 3) {
                const uint32_t v = le16(s);
                d[0] = (uint8_t)((v >> 8 & 15) * 17), d[1] = (uint8_t)((v >> 4 & 15) * 17), d[2] = (uint8_t)((v & 15) * 17);
                if (a) a[x] = (uint8_t)((v >> 12) * 17);
            }
            break;
        case 15:
            for (uint32_t x = 0; x < width; ++x, s += 2, d += 3) {
                const uint32_t v = le16(s);
                d[0] = expand5(v >> 10 & 31), d[1] = expand5(v >> 5 & 31), d[2] = expand5(v & 31);
                if (a) a[x] = v & 0x8000 ? 255 : 0;
            }
            break;
        case 16:
            for (uint32_t x = 0; x < width; ++x, s += 2, d += 3) rgb565(le16(s), d);
            break;
        default:  // 24 and 32
            if (layout == BGRA) {
                for (uint32_t x = 0; x < width; ++x, s += pixelBytes, d += 3) {
                    d[0] = s[2], d[1] = s[1], d[2] = s[0];
                    if (a) a[x] = s[3];
                }
            } else {
                const uint32_t skip = !a && is32 ? 1 : 0;
                for (uint32_t x = 0; x < width; ++x, s += pixelBytes, d += 3) {
                    if (a) {
                        a[x] = s[0];
                        d[0] = s[1], d[1] = s[2], d[2] = s[3];
                    } else {
                        d[0] = s[skip], d[1] = s[skip + 1], d[2] = s[skip + 2];
                    }
                }
            }
            break;
        }
    }
    return KXERR_NONE;
}

uint32_t kxoDDS::Save() {
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    KX_GfxBuffer* src = SaveBuffer;
    if (src->ColorDepth != 24 || src->PixelBits != 24) return KXERR_NEED24BIT;
    const uint32_t w = src->Width, h = src->Height;
    // The pitch field holds a row of 4 bytes a pixel in 32 bits.
    if ((uint64_t)w * 4 > 0xFFFFFFFFull) return KXERR_FILEREQUIREMENTS;

    // A fresh alpha map for this picture; one from an earlier save is another's.
    if (AlphaMap8 && AlphaMap8Owned) FreeVec(AlphaMap8);
    AlphaMap8 = nullptr;
    AlphaMap8Owned = 0;
    uint8_t* map = nullptr;
    int owned = 0;
    err = KXSUP_GetAlphaMap8(src, &map, &owned, 1, 1);
    if (err == KXERR_NOMEMORY) return err;
    if (err == KXERR_NONE && map) {
        AlphaMap8 = map;
        AlphaMap8Owned = owned ? 1 : 0;
    }
    const uint8_t* alpha = AlphaMap8;
    KXVecBlock row = KXF_AllocBlock((uint64_t)w * 4);
    if (!row) return KXERR_NOMEMORY;

    uint32_t hd[32] = {};
    memcpy(hd, "DDS ", 4);
    hd[1] = 124;
    hd[2] = 0x100F;  // caps, height, width, pitch, pixel format
    hd[3] = h;
    hd[4] = w;
    hd[5] = w * 4;
    hd[19] = 32;
    hd[20] = alpha ? DDPF_RGB | DDPF_ALPHAPIXELS : DDPF_RGB;
    hd[22] = 32;
    hd[23] = 0x00FF0000;
    hd[24] = 0x0000FF00;
    hd[25] = 0x000000FF;
    hd[26] = alpha ? 0xFF000000 : 0;
    hd[27] = 0x1000;  // texture

    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;
    KXByteWriter wr(WriteFile);
    wr.bytes(hd, 4);
    for (int i = 1; i < 32; ++i) wr.le32(hd[i]);
    for (uint32_t y = 0; y < h && wr.ok(); ++y) {
        KXF_RowProgress(this, y, h);
        const uint8_t* s = src->Data + (uint64_t)y * w * 3;
        const uint8_t* a = alpha ? alpha + (uint64_t)y * w : nullptr;
        uint8_t* d = row.get();
        for (uint32_t x = 0; x < w; ++x, s += 3, d += 4) {
            d[0] = s[2], d[1] = s[1], d[2] = s[0];
            d[3] = a ? a[x] : 0;
        }
        wr.bytes(row.get(), (size_t)w * 4);
    }
    return KXF_EndSave(this, &sf, wr.ok() ? KXERR_NONE : KXERR_IO);
}
