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
bool previewIsWhole(const uint8_t* disp, uint32_t size) {
    auto le32 = [&](uint32_t at) {
        return (uint32_t)disp[at] | (uint32_t)disp[at + 1] << 8 | (uint32_t)disp[at + 2] << 16 | (uint32_t)disp[at + 3] << 24;
    };
    const int32_t width = (int32_t)le32(8), height = (int32_t)le32(12);
    const uint32_t bitCount = (uint32_t)(disp[18] | disp[19] << 8), compression = le32(20);
    if (width <= 0 || height == 0 || height == INT32_MIN) return true;
    if (compression != 0 && compression != 3) return true;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32) return true;
    const uint64_t rows = (uint64_t)(height < 0 ? -(int64_t)height : height);
    const uint64_t rowBytes = ((uint64_t)width * bitCount + 31) / 32 * 4;
    // The colour map as the preview stores it: the colours used, when it
    // names fewer than the bit count allows.
    const uint32_t used = le32(36);
    uint64_t colourMap = bitCount <= 8 ? 4ull << bitCount : 0;
    if (used && 4ull * used < colourMap) colourMap = 4ull * used;
    return 4 + 40 + colourMap + rowBytes * rows <= size;
}

struct VecFree {
    void operator()(void* p) const { FreeVec(p); }
};
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
    if (!previewIsWhole(disp.get(), size)) {
        KXF_Log(this, 5, TAG, "%s\n", "Preview bitmap cut short.");
        return KXERR_EOF;
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
