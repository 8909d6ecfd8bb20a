// kxoPXR: Pixar picture files (see kxoPXR.h).
#include "formats/raster/kxoPXR.h"

#include <cstring>

#include "formats/raster/kxplanes.h"

namespace {

const uint32_t HEADER_SIZE = 1024;
const uint32_t HEIGHT = 416, WIDTH = 418, CHANNELS = 424, SAMPLES = 426;
enum : uint32_t { LAYOUT_RGB = 14, LAYOUT_RGBA = 15, SAMPLES_8BIT = 2 };

uint32_t le16(const uint8_t* p) { return (uint32_t)(p[0] | p[1] << 8); }

// 0 for a layout this reader does not know, else the bytes a pixel.
uint32_t pixelBytes(const uint8_t* h) {
    if (le16(h + SAMPLES) != SAMPLES_8BIT) return 0;
    const uint32_t channels = le16(h + CHANNELS);
    return channels == LAYOUT_RGB ? 3 : channels == LAYOUT_RGBA ? 4 : 0;
}

const uint8_t MAGIC[4] = {0x80, 0xE8, 0x00, 0x00};

}  // namespace

kxoPXR::kxoPXR(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoPXR");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoPXR::Reset() { FrameReset(); }

uint32_t kxoPXR::CheckFile(FILE* file, const char* name, int32_t mode) {
    (void)name;
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t h[SAMPLES + 2] = {};
    const bool read = KXF_PeekHead(file, h, sizeof(h)) == sizeof(h);
    return read && memcmp(h, MAGIC, 4) == 0 && pixelBytes(h) != 0 ? 1 : 0;
}

uint32_t kxoPXR::Load() { return KXF_Load(this, &kxoPXR::LoadBody); }

uint32_t kxoPXR::LoadBody() {
    KXByteReader r(ReadFile);
    uint8_t h[HEADER_SIZE];
    const uint32_t bytes = r.bytes(h, sizeof(h)) ? pixelBytes(h) : 0;
    if (bytes == 0) return KXERR_FILEREQUIREMENTS;
    SubFormatId = 0;
    const uint32_t w = le16(h + WIDTH), ht = le16(h + HEIGHT);
    if (w == 0 || ht == 0) return KXERR_FILEREQUIREMENTS;
    if (r.remaining() < (uint64_t)w * ht * bytes) return KXERR_EOF;

    KX_GfxBuffer* img = nullptr;
    uint32_t err = KXF_NewImage(&img, ONEPLANE, w, ht, 24, 24, false);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    if (bytes == 3) return r.bytes(img->Data, img->BufferSize) ? KXERR_NONE : KXERR_EOF;

    if ((err = KXF_AttachAlpha8(img)) != KXERR_NONE) return err;
    uint8_t* alpha = KXSUP_AlphaBytes(img);
    KXVecBlock line = KXF_AllocBlock((uint64_t)w * 4);
    if (!line) return KXERR_NOMEMORY;
    for (uint32_t y = 0; y < ht; ++y) {
        if (!r.bytes(line.get(), (size_t)w * 4)) return KXERR_EOF;
        const uint8_t* s = line.get();
        uint8_t* d = img->Data + (uint64_t)y * w * 3;
        uint8_t* a = alpha + (uint64_t)y * w;
        for (uint32_t x = 0; x < w; ++x, s += 4, d += 3) {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
            a[x] = s[3];
        }
    }
    return KXERR_NONE;
}
