// kxoCUTPAL: Dr. Halo CUT pictures (see kxoCUTPAL.h).
#include "formats/raster/kxoCUTPAL.h"

#include <cstring>
#include <memory>

namespace {

const uint32_t HEADER = 6, PALETTE_HEADER = 40, BLOCK = 512;

struct VecDeleter {
    void operator()(void* p) const { FreeVec(p); }
};
using VecPtr = std::unique_ptr<uint8_t, VecDeleter>;

struct FileCloser {
    void operator()(FILE* f) const { amClose(f); }
};

}  // namespace

kxoCUTPAL::kxoCUTPAL(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoCUTPAL");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoCUTPAL::Reset() { FrameReset(); }

uint32_t kxoCUTPAL::CheckFile(FILE* file, const char* name, int32_t mode) {
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t h[HEADER] = {};
    const size_t n = KXF_PeekHead(file, h, HEADER);
    // The reserved word is 0.
    if (n != HEADER || h[4] != 0 || h[5] != 0) return 0;
    return KXF_NameEndsWith(name, ".CUT") ? 1 : 0;
}

uint32_t kxoCUTPAL::Load() { return KXF_Load(this, &kxoCUTPAL::LoadBody); }

uint32_t kxoCUTPAL::LoadBody() {
    KXByteReader r(ReadFile);
    uint8_t h[HEADER];
    if (!r.bytes(h, HEADER)) return KXERR_EOF;
    SubFormatId = SubFormatIds[0];
    const uint32_t w = (uint32_t)(h[0] | h[1] << 8), ht = (uint32_t)(h[2] | h[3] << 8);
    KX_GfxBuffer* img = nullptr;
    uint32_t err = KXF_NewImage(&img, ONEPLANE, w, ht, 8, 8, true);
    if (err != KXERR_NONE) return err;
    LoadedBuffer = img;

    // The rows, read whole. A file that ends with its header has none.
    uint32_t rowsErr = KXERR_NONE, n = 0;
    if (r.remaining() == 0) {
        rowsErr = KXERR_NOMEMORY;
    } else if ((rowsErr = KXSUP_CheckSize(&n, r.remaining())) == KXERR_NONE) {
        VecPtr rows(static_cast<uint8_t*>(AllocVec(n, MEMF_ANY)));
        if (!rows) rowsErr = KXERR_NOMEMORY;
        else if (!r.bytes(rows.get(), n)) rowsErr = KXERR_EOF;
        else rowsErr = DecodeRows(rows.get(), n, img);
    }
    // The palette counts whatever became of the rows; its error wins.
    bool found = false;
    err = ReadPalette(img, &found);
    if (err != KXERR_NONE) return err;
    if (!found) {
        for (uint32_t i = 0; i < 256; ++i) memset(img->Palette + 3 * i, (int)i, 3);
        if ((err = KXSUP_AddGfxBufferFlags(img, KXGFXF_GRAY, 1)) != KXERR_NONE) return err;
    }
    return rowsErr;
}

// Each row: a 16-bit byte count, then items until 0x00 or 0x80 (or until
// as many items as half the count were read): c & 0x7F copies of the next
// byte for c with bit 7 set, else c literal bytes. Pixels past the width
// are dropped; those no item reaches stay 0.
uint32_t kxoCUTPAL::DecodeRows(const uint8_t* in, uint64_t size, KX_GfxBuffer* img) {
    const uint32_t w = img->Width, ht = img->Height;
    uint64_t at = 0;
    for (uint32_t y = 0; y < ht; ++y) {
        if (size - at < 2) return KXERR_EOF;
        const uint32_t count = (uint32_t)(in[at] | in[at + 1] << 8);
        at += 2;
        if (count > 2ull * w) {
            KXF_Log(this, 2, "cutpal", "line %ld (len %lx)\n", (long)y, (unsigned long)count);
            return KXERR_DECODE;
        }
        KXF_RowProgress(this, y, ht);
        uint8_t* row = img->Data + (uint64_t)y * w;
        uint64_t x = 0;
        for (uint32_t items = 0; 2ull * items < count; ++items) {
            if (at >= size) return KXERR_EOF;
            const uint8_t c = in[at++];
            if (c == 0x00 || c == 0x80) break;
            const uint64_t k = c & 0x7F, room = x < w ? w - x : 0;
            if (c & 0x80) {
                if (at >= size) return KXERR_EOF;
                memset(row + x, in[at++], (size_t)(k < room ? k : room));
            } else {
                if (size - at < k) return KXERR_EOF;
                memcpy(row + x, in + at, (size_t)(k < room ? k : room));
                at += k;
            }
            x += k;
        }
    }
    return KXERR_NONE;
}

uint32_t kxoCUTPAL::ReadPalette(KX_GfxBuffer* img, bool* found) {
    *found = false;
    // The picture's name with its last four characters (".CUT") replaced;
    // on a file system that tells case, ".pal" is looked for too.
    const std::string name = ReadName ? ReadName : "";
    if (name.size() <= 4) return KXERR_NONE;
    const std::string stem = name.substr(0, name.size() - 4);
    std::unique_ptr<FILE, FileCloser> side(amOpen((stem + ".PAL").c_str(), "rb"));
    if (!side) side.reset(amOpen((stem + ".pal").c_str(), "rb"));
    if (!side) return KXERR_NONE;
    *found = true;

    KXByteReader r(side.get());
    uint8_t h[PALETTE_HEADER];
    if (!r.bytes(h, PALETTE_HEADER)) return KXERR_EOF;
    if (h[0] != 'A' || h[1] != 'H') return KXERR_FILEREQUIREMENTS;
    const uint32_t entry = h[6] == 10 ? 6 : 3;
    const uint32_t count = (uint32_t)(h[12] | h[13] << 8) + 1;
    uint32_t size = (uint32_t)(h[4] | h[5] << 8);
    if (size == 0) size = count * entry;
    if (count > 256 || size < count * entry) return KXERR_FILEREQUIREMENTS;

    // Entries never straddle a 512-byte block: with fewer than 6 bytes
    // left in one, reading goes on at the next.
    memset(img->Palette, 0, sizeof(img->Palette));
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t left = BLOCK - r.tell() % BLOCK;
        if (left < 6 && !r.skip(left)) return KXERR_EOF;
        uint8_t e[6];
        if (!r.bytes(e, entry)) return KXERR_EOF;
        for (uint32_t c = 0; c < 3; ++c) img->Palette[3 * i + c] = entry == 6 ? e[2 * c] : e[c];
    }
    img->ColorDepth = KXSUP_ColorsToDepth(count);
    return KXERR_NONE;
}
