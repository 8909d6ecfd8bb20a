// kxoRAS: Sun raster (see kxoRAS.h).
#include "formats/raster/kxoRAS.h"

#include <cstring>

#include "formats/raster/kxplanes.h"

namespace {

const uint32_t MAGIC = 0x59A66A95;
enum : uint32_t { TYPE_OLD = 0, TYPE_STANDARD = 1, TYPE_RGB = 3 };

// Every row is padded to a multiple of 16 bits (Sun's rasterfile(5)).
uint64_t fileRowBytes(uint64_t width, uint32_t depth) { return (width * depth + 15) / 16 * 2; }

}  // namespace

kxoRAS::kxoRAS(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoRAS");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoRAS::Reset() { FrameReset(); }

uint32_t kxoRAS::CheckFile(FILE* file, const char* name, int32_t mode) {
    (void)name;
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t b[4] = {};
    const bool read = KXF_PeekHead(file, b, 4) == 4;
    return read && b[0] == 0x59 && b[1] == 0xA6 && b[2] == 0x6A && b[3] == 0x95 ? 1 : 0;
}

uint32_t kxoRAS::Load() { return KXF_Load(this, &kxoRAS::LoadBody); }

uint32_t kxoRAS::LoadBody() {
    KXByteReader r(ReadFile);
    r.be32();  // magic: recognition only
    const uint32_t w = r.be32(), h = r.be32(), depth = r.be32();
    r.be32();  // length of the pixel data: computed instead
    const uint32_t type = r.be32(), mapType = r.be32(), mapLength = r.be32();
    if (!r.ok()) return KXERR_EOF;
    if ((type != TYPE_OLD && type != TYPE_STANDARD && type != TYPE_RGB) || mapType > 1) return KXERR_FILEREQUIREMENTS;
    if (depth != 1 && depth != 8 && depth != 24) return KXERR_NOTSUPPORTED;
    SubFormatId = 0;
    if (w == 0 || h == 0) return KXERR_FILEREQUIREMENTS;

    // The map: a third of its length in reds, then greens, then blues; only
    // 256 of each fit a palette, the rest is passed over. A 24-bit file
    // has no use for it.
    uint8_t map[3][256] = {};
    const uint32_t n = mapLength / 3, kept = n < 256 ? n : 256;
    if (depth <= 8 && mapLength) {
        for (auto& colour : map)
            if (!r.bytes(colour, kept) || !r.skip(n - kept)) return KXERR_EOF;
        if (!r.skip(mapLength - 3 * n)) return KXERR_EOF;
    } else if (!r.skip(mapLength)) {
        return KXERR_EOF;
    }

    const uint64_t rowBytes = fileRowBytes(w, depth);
    if (r.remaining() < rowBytes * h) return KXERR_EOF;
    KX_GfxBuffer* img = nullptr;
    uint32_t err = KXF_NewImage(&img, depth == 1 ? BITPLANE : ONEPLANE, w, h, depth, depth == 1 ? 0 : depth, false);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;

    const bool grey = depth <= 8 && mapLength == 0;
    if (depth <= 8 && mapLength) {
        for (uint32_t i = 0; i < kept; ++i) {
            img->Palette[3 * i] = map[0][i];
            img->Palette[3 * i + 1] = map[1][i];
            img->Palette[3 * i + 2] = map[2][i];
        }
    } else if (depth == 8) {
        KXF_GreyRamp(img->Palette, 256);
    } else if (depth == 1) {
        // A set bit is black, as Sun's monochrome frame buffers show it.
        img->Palette[0] = img->Palette[1] = img->Palette[2] = 255;
    }

    const uint64_t outRow = depth == 1 ? img->BytesPerLine : (uint64_t)w * (depth / 8);
    const bool swap = depth == 24 && type != TYPE_RGB;
    if (rowBytes == outRow && !swap) {
        if (!r.bytes(img->Data, (size_t)(outRow * h))) return KXERR_EOF;
    } else {
        KXVecBlock line = KXF_AllocBlock(rowBytes);
        if (!line) return KXERR_NOMEMORY;
        for (uint32_t y = 0; y < h; ++y) {
            const uint8_t* s = line.get();
            if (!r.bytes(line.get(), (size_t)rowBytes)) return KXERR_EOF;
            uint8_t* d = img->Data + outRow * y;
            if (!swap) {
                memcpy(d, s, (size_t)outRow);
                continue;
            }
            for (uint32_t x = 0; x < w; ++x, d += 3, s += 3) {
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
            }
        }
    }
    if (grey) KXSUP_AddGfxBufferFlags(img, KXGFXF_GRAY, 1);
    return KXERR_NONE;
}

void kxoRAS::WriteColorMap(KXByteWriter& out, const KX_GfxBuffer* image) {
    uint8_t map[768];
    for (uint32_t i = 0; i < 256; ++i) {
        map[i] = image->Palette[3 * i];
        map[256 + i] = image->Palette[3 * i + 1];
        map[512 + i] = image->Palette[3 * i + 2];
    }
    out.bytes(map, sizeof(map));
}

uint32_t kxoRAS::Save() {
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    const KX_GfxBuffer* src = SaveBuffer;
    const bool palette = src->ColorDepth <= 8;
    if (palette ? src->PixelBits != 8 : src->ColorDepth != 24 || src->PixelBits != 24) return KXERR_NOTSUPPORTED;
    const uint32_t w = src->Width, h = src->Height, depth = palette ? 8 : 24;
    const uint64_t rowBytes = fileRowBytes(w, depth), dataBytes = rowBytes * h;
    // The length of the pixel data is a 32-bit field.
    if (dataBytes > 0xFFFFFFFFull) return KXERR_FILEREQUIREMENTS;
    KXVecBlock line = KXF_AllocBlock(rowBytes, true);
    if (!line) return KXERR_NOMEMORY;

    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;
    KXByteWriter out(WriteFile);
    out.be32(MAGIC);
    out.be32(w);
    out.be32(h);
    out.be32(depth);
    out.be32((uint32_t)dataBytes);
    out.be32(palette ? TYPE_STANDARD : TYPE_RGB);
    out.be32(palette ? 1 : 0);
    out.be32(palette ? 768 : 0);
    if (palette) WriteColorMap(out, src);
    const uint64_t inRow = (uint64_t)w * (depth / 8);
    for (uint32_t y = 0; y < h && out.ok(); ++y) {
        // The padding byte of the line stays 0.
        memcpy(line.get(), src->Data + inRow * y, (size_t)inRow);
        out.bytes(line.get(), (size_t)rowBytes);
    }
    return KXF_EndSave(this, &sf, out.ok() ? KXERR_NONE : KXERR_IO);
}
