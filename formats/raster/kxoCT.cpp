// kxoCT: Scitex CT pictures (see kxoCT.h).
#include "formats/raster/kxoCT.h"

#include <cstdlib>
#include <cstring>

#include "formats/raster/kxplanes.h"

namespace {

const uint32_t HEADER_SIZE = 1080, DATA_START = 2048;
const uint32_t SEPARATIONS = 1026, HEIGHT = 1057, WIDTH = 1069;
enum : uint32_t { RGB = 7, GREY = 8 };

// The decimal text from `from` up to `to` (the next field); 0 when it
// holds no number or none that fits.
uint32_t sizeField(const uint8_t* h, uint32_t from, uint32_t to) {
    char text[16] = {};
    memcpy(text, h + from, to - from);
    char* end = nullptr;
    const long long v = strtoll(text, &end, 10);
    return end == text || v <= 0 || v > 0xFFFFFFFFll ? 0 : (uint32_t)v;
}

}  // namespace

kxoCT::kxoCT(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoCT");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoCT::Reset() { FrameReset(); }

uint32_t kxoCT::CheckFile(FILE* file, const char* name, int32_t mode) {
    (void)name;
    if (mode != KXIO_FILE || !file) return 0;
    // The "CT" mark stands at offset 80.
    uint8_t h[82];
    return KXF_PeekHead(file, h, sizeof(h)) == sizeof(h) && h[80] == 'C' && h[81] == 'T' ? 1 : 0;
}

uint32_t kxoCT::Load() { return KXF_Load(this, &kxoCT::LoadBody); }

uint32_t kxoCT::LoadBody() {
    KXByteReader r(ReadFile);
    uint8_t h[HEADER_SIZE];
    const uint32_t separations = r.bytes(h, sizeof(h)) ? (uint32_t)(h[SEPARATIONS] << 8 | h[SEPARATIONS + 1]) : 0;
    if (separations != RGB && separations != GREY) return KXERR_FILEREQUIREMENTS;
    SubFormatId = 0;
    const uint32_t ht = sizeField(h, HEIGHT, WIDTH), w = sizeField(h, WIDTH, HEADER_SIZE);
    if (w == 0 || ht == 0) return KXERR_FILEREQUIREMENTS;
    const bool grey = separations == GREY;
    const uint32_t channels = grey ? 1 : 3;
    // Every separation's line is padded to an even length (HandShake keeps
    // words aligned).
    const uint64_t line = w + (w & 1);
    if (!r.seek(DATA_START) || r.remaining() < line * ht * channels) return KXERR_EOF;

    KX_GfxBuffer* img = nullptr;
    uint32_t err = KXF_NewImage(&img, ONEPLANE, w, ht, 8 * channels, 8 * channels, false);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    if (grey) {
        KXF_GreyRamp(img->Palette, 256);
        KXSUP_AddGfxBufferFlags(img, KXGFXF_GRAY, 1);
        if (line == w) return r.bytes(img->Data, img->BufferSize) ? KXERR_NONE : KXERR_EOF;
    }
    // Every row: its red line, its green line, its blue line.
    KXVecBlock row = KXF_AllocBlock(line * channels);
    if (!row) return KXERR_NOMEMORY;
    for (uint32_t y = 0; y < ht; ++y) {
        if (!r.bytes(row.get(), (size_t)(line * channels))) return KXERR_EOF;
        uint8_t* d = img->Data + (uint64_t)y * w * channels;
        for (uint32_t c = 0; c < channels; ++c) KXF_PlaneToPixels(row.get() + line * c, d + c, w, 1, channels);
    }
    return KXERR_NONE;
}
