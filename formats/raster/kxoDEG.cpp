// kxoDEG: Atari ST Degas pictures (see kxoDEG.h).
#include "formats/raster/kxoDEG.h"

#include <cstring>
#include <memory>

#include "formats/iff/iff.h"

namespace {

const uint32_t SCREEN = 32000, HEADER = 34;
const uint32_t PLAIN_SIZE = HEADER + SCREEN, CYCLING_SIZE = PLAIN_SIZE + 32;

struct Resolution {
    uint32_t Width, Height, Planes;
};
// Low, medium and high resolution: every one fills 32000 bytes.
const Resolution RESOLUTIONS[3] = {{320, 200, 4}, {640, 200, 2}, {640, 400, 1}};

}  // namespace

kxoDEG::kxoDEG(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoDEG");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoDEG::Reset() { FrameReset(); }

// Uncompressed files by their size alone; packed ones, whose size varies,
// by their name too.
uint32_t kxoDEG::CheckFile(FILE* file, const char* name, int32_t mode) {
    if (mode != KXIO_FILE || !file) return 0;
    const int64_t size = KXF_FileSize(file);
    uint8_t h[2] = {};
    const size_t n = KXF_PeekHead(file, h, 2);
    if (n != 2 || h[1] > 3) return 0;
    if ((size == PLAIN_SIZE || size == CYCLING_SIZE) && h[0] == 0x00) return 1;
    const bool packedName = KXF_NameEndsWith(name, ".PC1") || KXF_NameEndsWith(name, ".PC2") || KXF_NameEndsWith(name, ".PC3");
    return size >= 0 && size < (long)PLAIN_SIZE && h[0] == 0x80 && packedName ? 1 : 0;
}

uint32_t kxoDEG::Load() { return KXF_Load(this, &kxoDEG::ReadPicture); }

uint32_t kxoDEG::ReadPicture() {
    KXByteReader r(ReadFile);
    uint8_t h[2];
    if (!r.bytes(h, 2)) return KXERR_EOF;
    const bool packed = h[0] == 0x80;
    if (h[1] > 2) return KXERR_FILEREQUIREMENTS;
    const Resolution& res = RESOLUTIONS[h[1]];
    SubFormatId = SubFormatIds[h[1] + (packed ? 3 : 0)];

    KX_GfxBuffer* img = nullptr;
    uint32_t err = KXF_NewImage(&img, BITPLANE, res.Width, res.Height, res.Planes, 0, false);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    // Three bits of red, green and blue in bits 8-10, 4-6 and 0-2.
    memset(img->Palette, 0, sizeof(img->Palette));
    for (uint32_t i = 0; i < 16; ++i) {
        const uint32_t word = r.be16();
        img->Palette[3 * i] = (uint8_t)(34 * (word >> 8 & 7));
        img->Palette[3 * i + 1] = (uint8_t)(34 * (word >> 4 & 7));
        img->Palette[3 * i + 2] = (uint8_t)(34 * (word & 7));
    }
    if (!r.ok()) return KXERR_EOF;
    if ((err = KXSUP_AddGfxBufferFlags(img, KXGFXF_SRCLOWDEPTH, 1)) != KXERR_NONE) return err;

    const uint32_t bpl = img->BytesPerLine, planes = res.Planes;
    const uint64_t planeBytes = (uint64_t)bpl * res.Height;
    if (!packed) {
        // 32000 bytes; the colour-cycling data after them are not read.
        // Each row: groups of 16 pixels, one word of every plane in turn.
        uint8_t screen[SCREEN];
        const size_t got = r.some(screen, SCREEN);
        const size_t rowBytes = (size_t)bpl * planes;
        for (uint32_t y = 0; y < res.Height; ++y) {
            KXF_RowProgress(this, y, res.Height);
            if (got < (y + 1) * rowBytes) return KXERR_EOF;
            const uint8_t* s = screen + y * rowBytes;
            for (uint32_t g = 0; g < bpl / 2; ++g)
                for (uint32_t p = 0; p < planes; ++p, s += 2) memcpy(img->Data + p * planeBytes + (uint64_t)y * bpl + 2 * g, s, 2);
        }
        return KXERR_NONE;
    }
    // Each plane row packed by itself; a run that overshoots it is dropped.
    // Packing can make the screen longer than 32000 bytes, so the rest of
    // the file is read (cycling data after it are never reached).
    uint32_t n = 0;
    if ((err = KXSUP_CheckSize(&n, r.remaining() ? r.remaining() : 1)) != KXERR_NONE) return err;
    std::unique_ptr<uint8_t, void (*)(void*)> block(static_cast<uint8_t*>(AllocVec(n, MEMF_ANY)), FreeVec);
    if (!block) return KXERR_NOMEMORY;
    const size_t got = r.some(block.get(), n);
    const uint8_t* s = block.get();
    const uint8_t* end = s + got;
    for (uint32_t y = 0; y < res.Height; ++y) {
        KXF_RowProgress(this, y, res.Height);
        for (uint32_t p = 0; p < planes; ++p)
            if (!byteRun1UnpackRow(&s, end, img->Data + p * planeBytes + (uint64_t)y * bpl, bpl)) return KXERR_EOF;
    }
    return KXERR_NONE;
}
