// kxoQRT: QRT ray-tracer pictures (see kxoQRT.h).
#include "formats/raster/kxoQRT.h"

#include <cstring>

#include "formats/raster/kxplanes.h"

namespace {

// The length a file of these sizes has.
uint64_t fileLength(uint64_t w, uint64_t h) { return h * (3 * w + 2) + 4; }

}  // namespace

kxoQRT::kxoQRT(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoQRT");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoQRT::Reset() { FrameReset(); }

uint32_t kxoQRT::CheckFile(FILE* file, const char* name, int32_t mode) {
    (void)name;
    if (mode != KXIO_FILE || !file) return 0;
    const int64_t size = KXF_FileSize(file);
    uint8_t b[4] = {};
    const bool read = KXF_PeekHead(file, b, 4) == 4;
    if (!read || size <= 4) return 0;
    return (uint64_t)size == fileLength(b[0] | b[1] << 8, b[2] | b[3] << 8) ? 1 : 0;
}

uint32_t kxoQRT::Load() { return KXF_Load(this, &kxoQRT::LoadBody); }

void kxoQRT::RowProgress(uint32_t left, uint32_t height) {
    if (left % 8 == 0) KXF_Progress(this, (uint32_t)((uint64_t)(height - left) * 100 / height));
}

uint32_t kxoQRT::LoadBody() {
    KXByteReader r(ReadFile);
    const uint32_t w = r.le16(), h = r.le16();
    if (!r.ok()) return KXERR_EOF;
    if (r.size() != fileLength(w, h)) return KXERR_FILEREQUIREMENTS;
    SubFormatId = 0;
    KX_GfxBuffer* img = nullptr;
    uint32_t err = KXF_NewImage(&img, ONEPLANE, w, h, 24, 24, false);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    const uint32_t rowBytes = 3 * w + 2;
    KXVecBlock line = KXF_AllocBlock(rowBytes);
    if (!line) return KXERR_NOMEMORY;
    for (uint32_t y = 0; y < h; ++y) {
        RowProgress(h - 1 - y, h);
        if (!r.bytes(line.get(), rowBytes)) return KXERR_EOF;
        uint8_t* d = img->Data + (uint64_t)y * w * 3;
        for (uint32_t c = 0; c < 3; ++c) KXF_PlaneToPixels(line.get() + 2 + (uint64_t)c * w, d + c, w, 1, 3);
    }
    return KXERR_NONE;
}

uint32_t kxoQRT::Save() {
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    const KX_GfxBuffer* src = SaveBuffer;
    if (src->ColorDepth != 24 || src->PixelBits != 24) return KXERR_NEED24BIT;
    // The sizes are 16-bit fields.
    const uint32_t w = src->Width, h = src->Height;
    if (w > 65535 || h > 65535) return KXERR_FILEREQUIREMENTS;
    const uint32_t rowBytes = 3 * w + 2;
    KXVecBlock line = KXF_AllocBlock(rowBytes);
    if (!line) return KXERR_NOMEMORY;

    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;
    KXByteWriter out(WriteFile);
    out.le16((uint16_t)w);
    out.le16((uint16_t)h);
    uint8_t* l = line.get();
    for (uint32_t y = 0; y < h && out.ok(); ++y) {
        RowProgress(h - 1 - y, h);
        l[0] = (uint8_t)y;
        l[1] = (uint8_t)(y >> 8);
        const uint8_t* s = src->Data + (uint64_t)y * w * 3;
        for (uint32_t c = 0; c < 3; ++c) KXF_PixelsToPlane(s + c, l + 2 + (uint64_t)c * w, w, 1, 3);
        out.bytes(l, rowBytes);
    }
    return KXF_EndSave(this, &sf, out.ok() ? KXERR_NONE : KXERR_IO);
}
