// kxoMSP: Microsoft Paint pictures (see kxoMSP.h).
#include "formats/raster/kxoMSP.h"

#include <cstring>
#include <memory>

namespace {

const uint32_t HEADER = 32;

struct VecDeleter {
    void operator()(void* p) const { FreeVec(p); }
};
using VecPtr = std::unique_ptr<uint8_t, VecDeleter>;

bool magicIs(const uint8_t* h, const char* magic) { return memcmp(h, magic, 4) == 0; }

}  // namespace

kxoMSP::kxoMSP(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoMSP");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoMSP::Reset() { FrameReset(); }

uint32_t kxoMSP::CheckFile(FILE* file, const char* name, int32_t mode) {
    if (mode != KXIO_FILE || !file || !KXF_NameEndsWith(name, ".MSP")) return 0;
    uint8_t h[4] = {};
    const size_t n = KXF_PeekHead(file, h, 4);
    return n == 4 && (magicIs(h, "DanM") || magicIs(h, "LinS")) ? 1 : 0;
}

uint32_t kxoMSP::Load() { return KXF_Load(this, &kxoMSP::LoadBody); }

uint32_t kxoMSP::LoadBody() {
    KXByteReader r(ReadFile);
    uint8_t h[HEADER];
    if (!r.bytes(h, HEADER)) return KXERR_EOF;
    SubFormatId = SubFormatIds[0];
    const bool packed = magicIs(h, "LinS");
    if (!packed && !magicIs(h, "DanM")) return KXERR_FILEREQUIREMENTS;
    const uint32_t w = (uint32_t)(h[4] | h[5] << 8), ht = (uint32_t)(h[6] | h[7] << 8);

    KX_GfxBuffer* img = nullptr;
    uint32_t err = KXF_NewImage(&img, BITPLANE, w, ht, 1, 0, false);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    memset(img->Palette, 0, sizeof(img->Palette));
    memset(img->Palette + 3, 255, 3);  // 0 black, 1 white

    if (!packed) {
        if (!r.bytes(img->Data, img->BufferSize)) return KXERR_EOF;
    } else {
        // The row map is not needed: rows follow one another. A file that
        // ends within it leaves nothing to decode.
        const uint64_t start = HEADER + 2ull * ht;
        if (r.size() <= start) return KXERR_NOMEMORY;
        uint32_t n = 0;
        if ((err = KXSUP_CheckSize(&n, r.size() - start)) != KXERR_NONE) return err;
        VecPtr block(static_cast<uint8_t*>(AllocVec(n, MEMF_ANY)));
        if (!block) return KXERR_NOMEMORY;
        if (!r.seek(start) || !r.bytes(block.get(), n)) return KXERR_EOF;
        if ((err = UnpackRows(block.get(), n, img->Data, w, ht, 1)) != KXERR_NONE) return err;
    }
    return KXSUP_AddGfxBufferFlags(img, KXGFXF_GRAY, 1);
}

uint32_t kxoMSP::UnpackRows(const uint8_t* input, uint64_t size, uint8_t* data, uint32_t width, uint32_t height,
                            uint32_t planes) {
    const uint64_t rowBytes = ((uint64_t)width + 7) / 8, planeBytes = rowBytes * height, total = planeBytes * planes;
    uint64_t at = 0;
    for (uint32_t i = 0; i < height; ++i) {
        KXF_RowProgress(this, i, height);
        for (uint32_t p = 0; p < planes; ++p) {
            const uint64_t start = i * rowBytes + p * planeBytes;
            uint64_t done = 0;
            while (done < rowBytes) {
                if (at >= size) return KXERR_EOF;
                const uint64_t c = input[at++];
                // Bytes that would pass the picture's end are dropped.
                const uint64_t room = total - (start + done);
                if (c != 0) {
                    if (size - at < c) return KXERR_EOF;
                    memcpy(data + start + done, input + at, (size_t)(c < room ? c : room));
                    at += c;
                    done += c;
                } else {
                    if (size - at < 2) return KXERR_EOF;
                    const uint64_t n = input[at];
                    memset(data + start + done, input[at + 1], (size_t)(n < room ? n : room));
                    at += 2;
                    done += n;
                }
            }
        }
    }
    return KXERR_NONE;
}
