// kxoNEO: NEOchrome pictures (see kxoNEO.h).
#include "formats/raster/kxoNEO.h"

#include <cstring>

namespace {

const uint32_t HEADER_SIZE = 128, PICTURE_SIZE = 32000, FULL_SIZE = HEADER_SIZE + PICTURE_SIZE;

struct Resolution {
    uint32_t Width, Height, Planes;
};
const Resolution kResolutions[3] = {{320, 200, 4}, {640, 200, 2}, {640, 400, 1}};

inline uint32_t be16(const uint8_t* p) { return (uint32_t)(p[0] << 8 | p[1]); }

}  // namespace

kxoNEO::kxoNEO(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoNEO");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoNEO::Reset() { FrameReset(); }

uint32_t kxoNEO::CheckFile(FILE* file, const char* name, int32_t mode) {
    if (mode != KXIO_FILE || !file) return 0;
    const int64_t size = KXF_FileSize(file);
    return (size == FULL_SIZE || size == 17104) && KXF_NameEndsWith(name, ".NEO") ? 1 : 0;
}

uint32_t kxoNEO::Load() { return KXF_Load(this, &kxoNEO::LoadBody); }

uint32_t kxoNEO::LoadBody() {
    KXByteReader r(ReadFile);
    SubFormatId = 0;
    uint8_t h[HEADER_SIZE];
    if (!r.bytes(h, sizeof(h))) return KXERR_EOF;
    const uint32_t flag = be16(h), resolution = be16(h + 2), width = be16(h + 58), height = be16(h + 60);
    if (flag != 0 || (width != 0 && width != 320) || (height != 0 && height != 200) || resolution > 2)
        return KXERR_FILEREQUIREMENTS;
    const Resolution& res = kResolutions[resolution];

    KX_GfxBuffer* img = nullptr;
    uint32_t err = KXF_NewImage(&img, BITPLANE, res.Width, res.Height, res.Planes, 0, true);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    // Three bits a component; full intensity is 7 x 34 = 238.
    for (uint32_t i = 0; i < 16; ++i) {
        const uint32_t c = be16(h + 4 + 2 * i);
        img->Palette[3 * i] = (uint8_t)((c >> 8 & 7) * 34);
        img->Palette[3 * i + 1] = (uint8_t)((c >> 4 & 7) * 34);
        img->Palette[3 * i + 2] = (uint8_t)((c & 7) * 34);
    }

    // A short file brings what it holds; the rest of the picture stays 0.
    uint8_t screen[PICTURE_SIZE] = {};
    const uint64_t want = r.size() < FULL_SIZE ? r.remaining() : PICTURE_SIZE;
    if (!r.bytes(screen, (size_t)want)) return KXERR_EOF;

    // Each group of 16 pixels is one word per plane, plane 0 first.
    const uint32_t bpl = img->BytesPerLine, planeBytes = bpl * res.Height;
    const uint8_t* s = screen;
    for (uint32_t y = 0; y < res.Height; ++y) {
        KXF_RowProgress(this, y, res.Height);
        uint8_t* row = img->Data + (uint64_t)y * bpl;
        for (uint32_t j = 0; j < bpl; j += 2)
            for (uint32_t k = 0; k < res.Planes; ++k, s += 2) memcpy(row + k * planeBytes + j, s, 2);
    }
    return KXERR_NONE;
}
