// kxoCDR: CorelDRAW drawings by their preview bitmap (see kxoCDR.h).
#include "formats/libraries/kxoCDR.h"

#include <climits>
#include <cstring>
#include <memory>

namespace {
const char* const TAG = "cdr";

// The DISP data: 4 unused bytes, then the bitmap with its 40-byte header.
constexpr uint32_t kDispMinimum = 4 + 40;

struct RiffHead {
    uint8_t riff[4], size[4], form[4], vrsn[4];
    uint32_t vrsnSize;
};

bool headIsCdr(const RiffHead& h) {
    return memcmp(h.riff, "RIFF", 4) == 0 && memcmp(h.form, "CDR", 3) == 0 && memcmp(h.vrsn, "vrsn", 4) == 0;
}

bool readHead(KXByteReader& r, RiffHead* h) {
    r.bytes(h->riff, 4);
    r.bytes(h->size, 4);
    r.bytes(h->form, 4);
    r.bytes(h->vrsn, 4);
    h->vrsnSize = r.le32();
    return r.ok();
}

// True unless the DISP data end before the rows of an uncompressed
// preview: its header declares them, and a preview cut short would
// otherwise load as a picture of the declared size with nothing in it.
// Run-length previews and headers the bitmap reader refuses anyway pass.
struct VecFree {
    void operator()(void* p) const { FreeVec(p); }
};

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }

// The preview must hold what its header declares before a file is made of
// it: a picture within the size limit and, for rows stored uncompressed
// (BI_RGB, BI_BITFIELDS), its colour map and every row inside the chunk.
// disp holds size bytes, at least kDispMinimum.
uint32_t checkPreview(const uint8_t* disp, uint32_t size) {
    const uint8_t* h = disp + 4;
    const int32_t width = (int32_t)le32(h + 4), height = (int32_t)le32(h + 8);
    const uint32_t bits = h[14] | h[15] << 8, compression = le32(h + 16);
    const uint64_t w = width < 0 ? -(int64_t)width : width, rows = height < 0 ? -(int64_t)height : height;
    if (w == 0 || rows == 0 || bits == 0) return KXERR_NONE;  // the BMP reader's refusal
    uint32_t bytes = 0;
    uint32_t err = KXSUP_CheckSize(&bytes, w, rows, bits > 8 ? 3 : 1);
    if (err != KXERR_NONE) return err;
    if (compression != 0 && compression != 3) return KXERR_NONE;
    const uint64_t rowBytes = (w * bits + 31) / 32 * 4;
    // The colour map as the preview stores it: the colours used, when it
    // names fewer than the bit count allows.
    const uint32_t used = le32(h + 32);
    uint64_t colourMap = bits <= 8 ? 4ull << bits : 0;
    if (used && 4ull * used < colourMap) colourMap = 4ull * used;
    return colourMap + rowBytes * rows > size - kDispMinimum ? (uint32_t)KXERR_EOF : (uint32_t)KXERR_NONE;
}
}  // namespace

kxoCDR::kxoCDR(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoCDR");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoCDR::Reset() {
    FrameReset();
    Output.Release();
}

uint32_t kxoCDR::CheckFile(FILE* file, const char* name, int32_t mode) {
    (void)name;
    if (mode != KXIO_FILE || !file || fseek(file, 0, SEEK_SET) != 0) return 0;
    KXByteReader r(file);
    RiffHead h;
    uint8_t next[8];
    const bool known = readHead(r, &h) && headIsCdr(h) && r.skip(h.vrsnSize) && r.bytes(next, 8) && memcmp(next, "DISP", 4) == 0;
    clearerr(file);
    fseek(file, 0, SEEK_SET);
    return known ? 1 : 0;
}

uint32_t kxoCDR::Load() {
    KXSUP_FreeGfxBuffer(LoadedBuffer);
    LoadedBuffer = nullptr;
    KXF_Log(this, 2, TAG, "CDR->BMP conversion started.\n");
    uint32_t err = KXF_OpenRead(this);
    if (err != KXERR_NONE) return err;
    setvbuf(ReadFile, nullptr, _IOFBF, 2048);
    err = extract();
    KXF_EndLoad(this, KXERR_NONE);
    if (err != KXERR_NONE) return err;
    KXF_Log(this, 2, TAG, "Successfully converted.\n");
    return KXCONV_LoadChained(Lib, "kxoBMP", Output.Name, KXChainSettings::OwnPad, &LoadedBuffer);
}

uint32_t kxoCDR::extract() {
    KXByteReader r(ReadFile);
    RiffHead h;
    uint32_t err;
    if (!readHead(r, &h)) return KXERR_EOF;
    if (!headIsCdr(h)) return KXERR_NOVIEWABLEDATA;
    KXF_Log(this, 5, TAG, "SubOff: %ld\n", (long)h.vrsnSize);
    uint8_t id[4];
    if (h.vrsnSize == 0 || !r.skip(h.vrsnSize) || !r.bytes(id, 4)) return KXERR_EOF;
    const uint32_t size = r.le32();
    if (!r.ok()) return KXERR_EOF;
    if (memcmp(id, "DISP", 4) != 0) return KXERR_NOVIEWABLEDATA;
    KXF_Log(this, 5, TAG, "Riffsize: %ld (DEF)\n", (long)size);
    // Sizes are bounded before anything is allocated: room for the unused
    // bytes and the bitmap header, and no more than the file still holds.
    if (size < kDispMinimum) return KXERR_DECODE;
    if (size > r.remaining()) return KXERR_EOF;
    uint32_t bytes = 0;
    if (size > 0xFFFFFFFFu - 10) return KXERR_FILEREQUIREMENTS;  // the BMP size field must hold it
    if ((err = KXSUP_CheckSize(&bytes, size)) != KXERR_NONE) return err;
    std::unique_ptr<uint8_t, VecFree> disp(static_cast<uint8_t*>(AllocVec(bytes, MEMF_ANY)));
    if (!disp) return KXERR_NOMEMORY;
    if (!r.bytes(disp.get(), bytes)) return KXERR_EOF;
    if ((err = checkPreview(disp.get(), size)) != KXERR_NONE) {
        if (err == KXERR_EOF) KXF_Log(this, 5, TAG, "%s\n", "Preview bitmap cut short.");
        return err;
    }

    if ((err = KXCONV_MakeName(Lib, "cdr", "bmp", KXCONV_NextCall(), &Output)) != KXERR_NONE) return err;
    FILE* out = amOpen(Output.Name, "wb");
    if (!out) return KXERR_NODESTFILE;
    Output.Registered = true;
    setvbuf(out, nullptr, _IOFBF, 2048);
    // A BMP file header in front of the bitmap, whose own header-size field
    // is written here: the copy starts after it, at the DISP data's 9th byte.
    const uint32_t fileSize = size + 10;
    KXF_Log(this, 5, TAG, "BM-Riffsize/Off: $%lx (DEF)\n", (unsigned long)fileSize);
    KXF_Log(this, 6, TAG, "BM-Riffsize/Off (II): $%lx\n", (unsigned long)fileSize);
    KXF_Log(this, 5, TAG, "BM-Size: %ld ($%lx)\n", (long)(size - 8), (unsigned long)(size - 8));
    KXByteWriter w(out);
    w.bytes("BM", 2);
    w.le32(fileSize);
    w.le32(0);
    w.le32(54);
    w.le32(40);
    w.bytes(disp.get() + 8, size - 8);
    const bool ok = w.ok();
    if (amClose(out) != 0 || !ok) return KXERR_IO;
    return KXERR_NONE;
}
