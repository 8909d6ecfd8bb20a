// kxoTIM: PlayStation TIM textures (see kxoTIM.h).
#include "formats/raster/kxoTIM.h"

#include <cstring>
#include <memory>

namespace {

const uint32_t TIM_ID = 0x10;
const uint32_t MODE_4 = 0x08, MODE_8 = 0x09, MODE_15 = 0x02, MODE_24 = 0x03;
const uint32_t BLOCK_HEADER = 12;

bool knownMode(uint32_t flags) { return flags == MODE_4 || flags == MODE_8 || flags == MODE_15 || flags == MODE_24; }

// Five bits each of red, green and blue from the low bits up.
inline void colour15(uint32_t c, uint8_t* rgb) {
    rgb[0] = (uint8_t)((c & 31) << 3);
    rgb[1] = (uint8_t)((c >> 5 & 31) << 3);
    rgb[2] = (uint8_t)((c >> 10 & 31) << 3);
}

struct VecDeleter {
    void operator()(void* p) const { FreeVec(p); }
};
using VecPtr = std::unique_ptr<uint8_t, VecDeleter>;

}  // namespace

kxoTIM::kxoTIM(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoTIM");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoTIM::Reset() { FrameReset(); }

uint32_t kxoTIM::CheckFile(FILE* file, const char* name, int32_t mode) {
    if (mode != KXIO_FILE || !file || !KXF_NameEndsWith(name, ".TIM")) return 0;
    uint8_t h[12] = {};
    const size_t n = KXF_PeekHead(file, h, sizeof(h));
    if (n != sizeof(h)) return 0;
    auto le32 = [&](int at) { return (uint32_t)h[at] | (uint32_t)h[at + 1] << 8 | (uint32_t)h[at + 2] << 16 | (uint32_t)h[at + 3] << 24; };
    return le32(0) == TIM_ID && knownMode(le32(4)) && le32(8) != 0 ? 1 : 0;
}

uint32_t kxoTIM::Load() { return KXF_Load(this, &kxoTIM::LoadBody); }

uint32_t kxoTIM::LoadBody() {
    KXByteReader r(ReadFile);
    const uint32_t id = r.le32(), flags = r.le32(), first = r.le32();
    if (!r.ok()) return KXERR_EOF;
    if (id != TIM_ID || !knownMode(flags)) return KXERR_FILEREQUIREMENTS;
    SubFormatId = SubFormatIds[0];

    // With a colour lookup table: its block first (only the first 16 or
    // 256 entries are read), then the image block.
    const bool clut = flags == MODE_4 || flags == MODE_8;
    const uint32_t colours = flags == MODE_4 ? 16 : 256;
    uint8_t table[512] = {};
    uint64_t length = first;
    if (clut) {
        if (!r.seek(20) || !r.bytes(table, 2 * colours)) return KXERR_EOF;
        if (!r.seek(8ull + first)) return KXERR_EOF;
        length = r.le32();
    }
    r.le16();
    r.le16();  // frame-buffer position
    const uint32_t units = r.le16(), ht = r.le16();
    if (!r.ok()) return KXERR_EOF;

    // Rows of W 16-bit units: 4 W, 2 W, W or 2 W / 3 pixels.
    const uint64_t rowBytes = 2ull * units;
    const uint32_t w = flags == MODE_4 ? 4 * units : flags == MODE_8 ? 2 * units : flags == MODE_15 ? units : (2 * units) / 3;
    // The block must hold the picture and lie within the file.
    if (length < BLOCK_HEADER || length - BLOCK_HEADER > r.remaining() || length - BLOCK_HEADER < rowBytes * ht) return KXERR_EOF;

    KX_GfxBuffer* img = nullptr;
    uint32_t err = clut ? KXF_NewImage(&img, ONEPLANE, w, ht, flags == MODE_4 ? 4 : 8, 8, false)
                        : KXF_NewImage(&img, ONEPLANE, w, ht, 24, 24, false);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;
    uint32_t n = 0;
    if ((err = KXSUP_CheckSize(&n, rowBytes)) != KXERR_NONE) return err;
    VecPtr row(static_cast<uint8_t*>(AllocVec(n, MEMF_ANY)));
    if (!row) return KXERR_NOMEMORY;

    const uint64_t outRow = clut ? w : 3ull * w;
    for (uint32_t y = 0; y < ht; ++y) {
        KXF_RowProgress(this, y, ht);
        if (!r.bytes(row.get(), n)) return KXERR_EOF;
        const uint8_t* s = row.get();
        uint8_t* d = img->Data + y * outRow;
        switch (flags) {
        case MODE_4:  // the left pixel in the low four bits
            for (uint32_t i = 0; i < n; ++i) {
                d[2 * i] = s[i] & 15;
                d[2 * i + 1] = s[i] >> 4;
            }
            break;
        case MODE_8:
            memcpy(d, s, w);
            break;
        case MODE_15:
            for (uint32_t x = 0; x < w; ++x) colour15((uint32_t)(s[2 * x] | s[2 * x + 1] << 8), d + 3 * x);
            break;
        default:  // red, green, blue
            memcpy(d, s, (size_t)outRow);
            break;
        }
    }
    if (clut) {
        memset(img->Palette, 0, sizeof(img->Palette));
        for (uint32_t i = 0; i < colours; ++i) colour15((uint32_t)(table[2 * i] | table[2 * i + 1] << 8), img->Palette + 3 * i);
    }
    return KXERR_NONE;
}
