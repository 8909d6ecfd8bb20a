// kxoMTV: MTV ray-tracer pictures (see kxoMTV.h).
#include "formats/raster/kxoMTV.h"

#include <cctype>

namespace {

// Reads one header number: bytes before it that are not digits are passed
// over, a '#' skips the rest of its line and starts the number anew, and a
// blank, line feed or carriage return ends it; its value is that of its
// leading digits. At most 15 characters, as the format's fields hold.
uint32_t readNumber(KXByteReader& r, uint64_t* value) {
    char field[16];
    size_t n = 0;
    for (;;) {
        int c = r.next();
        if (c < 0) return KXERR_EOF;
        if (c == '#') {
            do {
                c = r.next();
                if (c < 0) return KXERR_EOF;
            } while (c != '\n' && c != '\r');
            n = 0;
            continue;
        }
        if (n == 0 && !isdigit(c)) continue;
        if (c == ' ' || c == '\n' || c == '\r') break;
        if (n == sizeof(field) - 1) return KXERR_FILEREQUIREMENTS;
        field[n++] = (char)c;
    }
    uint64_t v = 0;
    for (size_t i = 0; i < n && isdigit((unsigned char)field[i]); ++i) v = v * 10 + (uint64_t)(field[i] - '0');
    *value = v;
    return KXERR_NONE;
}

}  // namespace

kxoMTV::kxoMTV(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoMTV");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoMTV::Reset() { FrameReset(); }

// The extension, and a first line (within the first 31 bytes) that holds
// only digits and white space.
uint32_t kxoMTV::CheckFile(FILE* file, const char* name, int32_t mode) {
    if (mode != KXIO_FILE || !file || !KXF_NameEndsWith(name, ".mtv")) return 0;
    uint8_t b[31];
    const size_t got = KXF_PeekHead(file, b, sizeof(b));
    size_t i = 0;
    for (; i < got && b[i] != '\n' && b[i] != '\r'; ++i)
        if (!isspace(b[i]) && !isdigit(b[i])) return 0;
    return i > 0 ? 1 : 0;
}

uint32_t kxoMTV::Load() { return KXF_Load(this, &kxoMTV::LoadBody); }

uint32_t kxoMTV::LoadBody() {
    KXByteReader r(ReadFile);
    uint64_t w = 0, h = 0;
    uint32_t err = readNumber(r, &w);
    if (err == KXERR_NONE) err = readNumber(r, &h);
    if (err != KXERR_NONE) return err;
    SubFormatId = 0;
    if (w > 0xFFFFFFFFull || h > 0xFFFFFFFFull) return KXERR_FILEREQUIREMENTS;
    // The pixels follow the byte that ended the height.
    if (r.remaining() < w * h * 3) return KXERR_EOF;
    KX_GfxBuffer* img = nullptr;
    if ((err = KXF_NewImage(&img, ONEPLANE, (uint32_t)w, (uint32_t)h, 24, 24, false)) != KXERR_NONE) return err;
    LoadedBuffer = img;
    KXF_Progress(this, 50);
    if (!r.bytes(img->Data, img->BufferSize)) return KXERR_EOF;
    KXF_Progress(this, 100);
    return KXERR_NONE;
}

uint32_t kxoMTV::Save() {
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    const KX_GfxBuffer* src = SaveBuffer;
    if (src->ColorDepth != 24 || src->PixelBits != 24) return KXERR_NEED24BIT;

    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;
    KXByteWriter out(WriteFile);
    out.printf("%lu %lu\n", (unsigned long)src->Width, (unsigned long)src->Height);
    KXF_Progress(this, 50);
    out.bytes(src->Data, (size_t)src->Width * src->Height * 3);
    return KXF_EndSave(this, &sf, out.ok() ? KXERR_NONE : KXERR_IO);
}
