// kxoCVP: CVP pictures (see kxoCVP.h).
#include "formats/raster/kxoCVP.h"

#include "formats/raster/kxplanes.h"

namespace {
const uint32_t SIDE = 512;
const long FILE_SIZE = 3 * SIDE * SIDE;
}  // namespace

kxoCVP::kxoCVP(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoCVP");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoCVP::Reset() { FrameReset(); }

uint32_t kxoCVP::CheckFile(FILE* file, const char* name, int32_t mode) {
    if (mode != KXIO_FILE || !file || !KXF_NameEndsWith(name, ".cvp")) return 0;
    return KXF_FileSize(file) == FILE_SIZE ? 1 : 0;
}

uint32_t kxoCVP::Load() { return KXF_Load(this, &kxoCVP::LoadBody); }

uint32_t kxoCVP::LoadBody() {
    KXByteReader r(ReadFile);
    SubFormatId = 0;
    if (r.remaining() < (uint64_t)FILE_SIZE) return KXERR_EOF;
    KX_GfxBuffer* img = nullptr;
    uint32_t err = KXF_NewImage(&img, ONEPLANE, SIDE, SIDE, 24, 24, false);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    uint8_t line[SIDE];
    for (uint32_t p = 0; p < 3; ++p) {
        KXF_Progress(this, p * 33 + 33);
        for (uint32_t y = 0; y < SIDE; ++y) {
            if (!r.bytes(line, SIDE)) return KXERR_EOF;
            KXF_PlaneToPixels(line, img->Data + (uint64_t)y * SIDE * 3 + p, SIDE, 1, 3);
        }
    }
    return KXERR_NONE;
}
