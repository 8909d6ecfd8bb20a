#include "formats/libraries/kxoMIFF.h"

#include <cstring>

kxoMIFF::kxoMIFF(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoMIFF");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoMIFF::Reset() {
    FrameReset();
    FreeVec(RowBlock);
    RowBlock = nullptr;
    AlphaTable = nullptr;
}

uint32_t kxoMIFF::CheckFile(FILE*, const char*, int32_t) { return 0; }

uint32_t kxoMIFF::Load() { return KXERR_NOTSUPPORTED; }

// The alpha of a palette picture: its map (8-bit as it is, 16-bit rounded
// to a copy) or its table of 256 values. A transparent index stays out.
uint32_t kxoMIFF::PaletteAlpha() {
    const KX_GfxBuffer* src = SaveBuffer;
    switch (KXSUP_AlphaHolds(src)) {
    case KXALPHA_CHANNEL8: AlphaMap8 = KXSUP_AlphaBytes(src); break;
    case KXALPHA_CHANNEL16: {
        uint32_t pixels = 0;
        if (uint32_t err = KXSUP_CheckSize(&pixels, src->Width, src->Height)) return err;
        AlphaMap8 = static_cast<uint8_t*>(AllocVec(pixels, MEMF_ANY));
        if (!AlphaMap8) return KXERR_NOMEMORY;
        AlphaMap8Owned = 1;
        return KXSUP_Convert16To8Bit(static_cast<const uint16_t*>(src->AlphaData), AlphaMap8, src->Width, src->Height,
                                     KXSUP_GetGfxBufferEndianess(src), 1);
    }
    case KXALPHA_MULTICOLOR:
        AlphaTable = KXSUP_AlphaBytes(src);
        if (!AlphaTable) return KXERR_INTERNALACCESS;
        break;
    }
    return KXERR_NONE;
}

// Everything that can fail before the file is opened: the frame's checks,
// the depth, the byte order, the alpha and the row block.
uint32_t kxoMIFF::Prepare() {
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    KX_GfxBuffer* src = SaveBuffer;
    const uint32_t depth = src->ColorDepth;
    const bool okDepth = (depth >= 1 && depth <= 8 && src->PixelBits == 8) || (depth == 24 && src->PixelBits == 24) ||
                         (depth == 48 && src->PixelBits == 48);
    if (!okDepth) return KXERR_FILEREQUIREMENTS;
    if (depth == 48 && (err = KXSUP_ConvertGfxBufferEndianess(src, KXENDIAN_BIG))) return err;

    if (AlphaMap8Owned) FreeVec(AlphaMap8);
    AlphaMap8 = nullptr;
    AlphaMap8Owned = 0;
    AlphaTable = nullptr;
    if (depth <= 8) {
        if ((err = PaletteAlpha())) return err;
    } else {
        uint8_t* map = nullptr;
        int owned = 0;
        err = KXSUP_GetAlphaMap8(src, &map, &owned, 1, 1);
        if (err == KXERR_NOMEMORY) return err;
        if (err == KXERR_NONE && map) AlphaMap8 = map, AlphaMap8Owned = owned ? 1 : 0;
    }

    FreeVec(RowBlock);
    RowBlock = nullptr;
    if (AlphaMap8 || AlphaTable) {
        // index + alpha, R G B A, or four 16-bit samples a pixel
        const uint32_t sampleBytes = depth <= 8 ? 2 : depth == 24 ? 4 : 8;
        uint32_t bytes = 0;
        if ((err = KXSUP_CheckSize(&bytes, src->Width, sampleBytes))) return err;
        RowBlock = static_cast<uint8_t*>(AllocVec(bytes, MEMF_ANY));
        if (!RowBlock) return KXERR_NOMEMORY;
    }
    return KXERR_NONE;
}

uint32_t kxoMIFF::Save() {
    uint32_t err = Prepare();
    if (err != KXERR_NONE) return err;
    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;
    setvbuf(WriteFile, nullptr, _IOFBF, 8192);
    KXByteWriter w(WriteFile);
    const bool written = WriteBody(w);
    return KXF_EndSave(this, &sf, written && w.ok() ? KXERR_NONE : KXERR_IO);
}

bool kxoMIFF::WriteBody(KXByteWriter& w) {
    const KX_GfxBuffer* src = SaveBuffer;
    const uint32_t width = src->Width, height = src->Height, depth = src->ColorDepth;
    const bool matte = AlphaMap8 || AlphaTable;
    const char* matteText = matte ? "True" : "False";

    // The samples are the picture's own, gamma-encoded: "sRGB". ImageMagick
    // takes "RGB" for linear light and brightens every colour on conversion.
    const char* const tail = "compression=None  quality=0\ncolorspace=sRGB\n:\x1a";
    w.text("id=ImageMagick  version=1.0\n");
    if (depth <= 8) {
        // ImageMagick reads a colour map only for PseudoClass, and only
        // R, G, B per entry; the alpha goes beside each index.
        const uint32_t colors = 1u << depth;
        w.printf("class=PseudoClass  colors=%ld  matte=%s\n", (long)colors, matteText);
        w.printf("columns=%ld  rows=%ld  depth=8\n", (long)width, (long)height);
        w.text(tail);
        w.bytes(src->Palette, (size_t)colors * 3);
    } else {
        w.printf("class=DirectClass  colors=0  matte=%s\n", matteText);
        w.printf("columns=%ld  rows=%ld  depth=%ld\n", (long)width, (long)height, (long)(depth / 3));
        w.text(tail);
    }
    KXF_Progress(this, 50);

    const uint32_t pixelBytes = src->PixelBits / 8;
    const size_t rowBytes = (size_t)width * pixelBytes;
    if (!matte) {
        // The picture as it stands: indices, R G B bytes or big-endian samples.
        for (uint32_t y = 0; y < height && w.ok(); ++y) w.bytes(src->Data + rowBytes * y, rowBytes);
        return w.ok();
    }
    for (uint32_t y = 0; y < height && w.ok(); ++y) {
        const uint8_t* in = src->Data + rowBytes * y;
        const uint8_t* alpha = AlphaMap8 ? AlphaMap8 + (size_t)width * y : nullptr;
        uint8_t* out = RowBlock;
        size_t outBytes = 0;
        if (depth <= 8) {
            for (uint32_t x = 0; x < width; ++x) {
                out[2 * x] = in[x];
                out[2 * x + 1] = alpha ? alpha[x] : AlphaTable[in[x]];
            }
            outBytes = (size_t)width * 2;
        } else if (depth == 24) {
            for (uint32_t x = 0; x < width; ++x) {
                memcpy(out + 4 * x, in + 3 * x, 3);
                out[4 * x + 3] = alpha[x];
            }
            outBytes = (size_t)width * 4;
        } else {
            for (uint32_t x = 0; x < width; ++x) {
                memcpy(out + 8 * x, in + 6 * x, 6);
                const uint32_t a = alpha[x] * 257u;
                out[8 * x + 6] = (uint8_t)(a >> 8);
                out[8 * x + 7] = (uint8_t)a;
            }
            outBytes = (size_t)width * 8;
        }
        w.bytes(out, outBytes);
    }
    return w.ok();
}
