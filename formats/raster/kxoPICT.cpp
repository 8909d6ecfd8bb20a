// kxoPICT: Macintosh PICT files (see kxoPICT.h).
#include "formats/raster/kxoPICT.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <new>

#include "core/catalogue.h"
#include "formats/raster/kxoPICT_player.h"

namespace {

const char* const TAG = "pict";

struct VecDeleter {
    void operator()(void* p) const { FreeVec(p); }
};
using VecPtr = std::unique_ptr<uint8_t, VecDeleter>;

bool readAt(FILE* f, long offset, void* out, size_t n) {
    return fseek(f, offset, SEEK_SET) == 0 && fread(out, 1, n, f) == n;
}

void rect(KXByteWriter& w, uint32_t height, uint32_t width) {
    w.be16(0);
    w.be16(0);
    w.be16((uint16_t)height);
    w.be16((uint16_t)width);
}

}  // namespace

kxoPICT::kxoPICT(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoPICT");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoPICT::Reset() {
    FrameReset();
    if (JpegTempFile) amDeleteFile(JpegTempFile);
    JpegTempFile = nullptr;
    FreeVec(JpegTempName);
    JpegTempName = nullptr;
}

// By the name's extension first, then by the picture header (version 1
// or 2 behind a frame that is not empty) or a JPEG stream at 859.
uint32_t kxoPICT::CheckFile(FILE* file, const char* name, int32_t mode) {
    if (mode != KXIO_FILE || !file) return 0;
    if (!KXF_NameEndsWith(name, ".PCT") && !KXF_NameEndsWith(name, ".PIC") && !KXF_NameEndsWith(name, ".PICT")) return 0;
    uint32_t answer = 0;
    const int64_t size = KXF_FileSize(file);
    if (size >= 0) {
        uint8_t b[12];
        if (readAt(file, 512, b, 12) && (long)(b[0] << 8 | b[1]) <= size) {
            const uint32_t bottom = b[6] << 8 | b[7], right = b[8] << 8 | b[9];
            if (bottom && right && ((b[10] == 0x11 && b[11] == 0x01))) answer = 1;
            uint8_t v[4];
            if (bottom && right && readAt(file, 522, v, 4) && v[0] == 0x00 && v[1] == 0x11 && v[2] == 0x02 && v[3] == 0xFF) answer = 1;
        }
        uint8_t j[4], f[4];
        if (!answer && readAt(file, 859, j, 4) && readAt(file, 865, f, 4) && j[0] == 0xFF && j[1] == 0xD8 && j[2] == 0xFF &&
            memcmp(f, "JFIF", 4) == 0)
            answer = 1;
    }
    clearerr(file);
    fseek(file, 0, SEEK_SET);
    return answer;
}

uint32_t kxoPICT::Load() { return KXF_Load(this, &kxoPICT::LoadBody); }

uint32_t kxoPICT::LoadBody() {
    SubFormatId = 0;
    uint32_t err;
    if (IsEmbeddedJPEG()) {
        err = LoadEmbeddedJPEG();
    } else {
        KXF_Log(this, 2, TAG, "%s\n", "is a plain PICT");
        err = DecodePicture();
    }
    if (err == KXERR_NONE && !LoadedBuffer) err = KXERR_DECODE;
    return err;
}

bool kxoPICT::IsEmbeddedJPEG() {
    uint8_t j[4] = {}, f[4] = {};
    const bool read = readAt(ReadFile, 859, j, 4) && readAt(ReadFile, 865, f, 4);
    clearerr(ReadFile);
    fseek(ReadFile, 0, SEEK_SET);
    if (!read || j[0] != 0xFF || j[1] != 0xD8 || j[2] != 0xFF) {
        KXF_Log(this, 2, TAG, "%s\n", "is not JFIF inside PICT");
        return false;
    }
    KXF_Log(this, 2, TAG, "%s\n", "could be JFIF inside PICT");
    if (memcmp(f, "JFIF", 4) != 0) {
        KXF_Log(this, 2, TAG, "%s\n", "is not JFIF inside PICT");
        return false;
    }
    KXF_Log(this, 2, TAG, "%s\n", "is JFIF inside PICT");
    return true;
}

// The stream from 859 to the end is copied into a temporary file and
// loaded by the catalogue's JPEG module with its built-in settings.
uint32_t kxoPICT::LoadEmbeddedJPEG() {
    KXClass* lib = Lib;
    std::unique_ptr<KXClass> own;
    if (!lib) {
        own.reset(new (std::nothrow) KXClass());
        if (!own) return KXERR_IO;
        lib = own.get();
    }
    if (JpegTempFile) amDeleteFile(JpegTempFile);
    JpegTempFile = nullptr;
    FreeVec(JpegTempName);
    const char* dir = lib->TempDir ? lib->TempDir : KX_GetProcessTempDir();
    const size_t size = strlen(dir) + 64;
    JpegTempName = static_cast<char*>(AllocVec(size, MEMF_CLEAR));
    if (!JpegTempName) return KXERR_NOMEMORY;
    static std::atomic<unsigned long> serial{0};
    snprintf(JpegTempName, size, "%sgs_%lx_%lx.jpg", dir, (unsigned long)lib->InstanceId, ++serial);
    amDeleteFile(JpegTempName);

    FILE* out = amOpen(JpegTempName, "wb");
    if (!out) return KXERR_NONE;  // no image: 14
    bool ok = fseek(ReadFile, 859, SEEK_SET) == 0;
    uint8_t block[65536];
    size_t n;
    while (ok && (n = fread(block, 1, sizeof(block), ReadFile)) > 0) ok = fwrite(block, 1, n, out) == n;
    ok = !ferror(ReadFile) && ok;
    ok = fclose(out) == 0 && ok;
    JpegTempFile = JpegTempName;
    if (!ok) return KXERR_IO;

    const KXFormatReg* reg = KX_FindFormatReg("kxoJFIF");
    std::unique_ptr<KXObject> jpeg(reg ? KX_NewObject(lib, *reg) : nullptr);
    if (!jpeg) return KXERR_NOMEMORY;
    uint32_t err = KXERR_NONE;
    // A pad without keys: the JPEG module's built-in defaults, not its pad file.
    KXConfig settings(jpeg->PadPath, &err);
    if (err != KXERR_NONE) return err;
    jpeg->SetLocalConfig(settings.GetPadList());
    jpeg->SetReadName(JpegTempName);
    err = jpeg->Load();
    if (err == KXERR_NONE) err = jpeg->DetachGfxBuffer(&LoadedBuffer);
    return err;
}

uint32_t kxoPICT::DecodePicture() {
    std::unique_ptr<kxpict::Player> player(new (std::nothrow) kxpict::Player(this, ReadFile));
    if (!player) return KXERR_NOMEMORY;
    return player->Play();
}

bool kxoPICT::GetWriteARGB() {
    char value[64];
    return GetKey("WRITE_ARGB", value, sizeof(value)) == 1;
}

// Runs of three or more equal bytes (two when nothing waits as a literal)
// become repeats, the rest literals, each at most 128 bytes.
size_t kxoPICT::PackRow(const uint8_t* row, size_t length, uint8_t* out) {
    size_t o = 0, i = 0, literal = 0, start = 0;
    auto flush = [&]() {
        if (!literal) return;
        out[o++] = (uint8_t)(literal - 1);
        memcpy(out + o, row + start, literal);
        o += literal;
        literal = 0;
    };
    while (i < length) {
        size_t run = 1;
        while (i + run < length && run < 128 && row[i + run] == row[i]) ++run;
        if (run >= 3 || (run == 2 && literal == 0)) {
            flush();
            out[o++] = (uint8_t)(1 - (int)run);
            out[o++] = row[i];
            i += run;
        } else {
            if (!literal) start = i;
            if (++literal == 128) flush();
            ++i;
        }
    }
    flush();
    return o;
}

uint32_t kxoPICT::Save() {
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    KX_GfxBuffer* src = SaveBuffer;
    const uint32_t depth = src->ColorDepth;
    if (depth > 8 && depth != 24) return KXERR_FILEREQUIREMENTS;
    if ((depth <= 8) != (src->PixelBits == 8)) return KXERR_NOTSUPPORTED;
    // Frame coordinates are signed words; the row bytes of an indexed map
    // keep 14 bits for the width, those of a direct map 14 bits for 4 x width.
    const uint32_t w = src->Width, h = src->Height;
    if (w > 32767 || h > 32767) return KXERR_FILEREQUIREMENTS;
    if (depth <= 8 ? w > 0x3FFF : w > 4095) return KXERR_FILEREQUIREMENTS;
    const bool argb = GetWriteARGB();
    const uint8_t* alpha = argb && depth == 24 && KXSUP_AlphaHolds(src) == KXALPHA_CHANNEL8 ? KXSUP_AlphaBytes(src) : nullptr;
    return WriteBody(argb && depth == 24, alpha);
}

uint32_t kxoPICT::WriteBody(bool argb, const uint8_t* alpha) {
    KX_GfxBuffer* src = SaveBuffer;
    const uint32_t w = src->Width, h = src->Height;
    const bool direct = src->PixelBits > 8;
    const uint32_t comps = direct ? (argb ? 4 : 3) : 1;
    const size_t rowLength = (size_t)comps * w;  // at most 4 x 4095 or 0x3FFF
    VecPtr line(static_cast<uint8_t*>(AllocVec(rowLength, MEMF_ANY)));
    VecPtr packed(static_cast<uint8_t*>(AllocVec(rowLength + rowLength / 128 + 16, MEMF_ANY)));
    if (!line || !packed) return KXERR_NOMEMORY;

    KXSafeFile sf;
    uint32_t err = KXF_OpenSave(this, &sf);
    if (err != KXERR_NONE) return err;
    KXByteWriter out(WriteFile);
    out.zeros(512);
    out.be16(0);  // picture size, written last
    rect(out, h, w);
    out.be16(0x0011);  // version 2
    out.be16(0x02FF);
    out.be16(0x0C00);  // header
    out.be16(direct ? 0xFFFE : 0xFFFF);
    out.be16(0);
    out.be32(0x00480000);
    out.be32(0x00480000);
    rect(out, h, w);
    out.be32(0);
    out.be16(0x001E);  // DefHilite
    out.be16(0x0001);  // Clip
    out.be16(10);
    rect(out, h, w);
    if (direct) {
        out.be16(0x009A);  // DirectBitsRect
        out.be32(0x000000FF);
        out.be16((uint16_t)(0x8000 | 4 * w));  // row bytes of 32-bit pixels
        rect(out, h, w);
        out.be16(0);  // version
        out.be16(4);  // pack type: components packed apart
        out.be32(0);
        out.be32(0x00480000);
        out.be32(0x00480000);
        out.be16(16);  // direct
        out.be16(32);
        out.be16((uint16_t)comps);
        out.be16(8);
        out.zeros(12);
        rect(out, h, w);
        rect(out, h, w);
        out.be16(0x0040);  // ditherCopy
    } else {
        out.be16(0x0098);  // PackBitsRect
        out.be16((uint16_t)(0x8000 | w));
        rect(out, h, w);
        out.be16(0);
        out.be16(0);
        out.be32(0);
        out.be32(0x00480000);
        out.be32(0x00480000);
        out.be16(0);  // indexed
        out.be16(8);
        out.be16(1);
        out.be16(8);
        out.zeros(12);
        out.be32(0);  // colour-table seed, flags, size - 1
        out.be16(0);
        out.be16(255);
        for (uint32_t i = 0; i < 256; ++i) {
            out.be16((uint16_t)i);
            for (int c = 0; c < 3; ++c) out.be16((uint16_t)(src->Palette[3 * i + c] * 257));
        }
        rect(out, h, w);
        rect(out, h, w);
        out.be16(0);  // srcCopy
    }

    // Indexed rows under 8 bytes are stored as they are, longer ones packed
    // behind a byte count (a word above 250 row bytes); direct rows are all
    // packed, their count a word when the record's row bytes (4 x width)
    // exceed 250. That is QuickDraw's rule. ImageMagick and GraphicsMagick
    // switch already above 200 unpacked bytes (components x width for
    // direct maps); our reader takes their files, but where the two rules
    // disagree (indexed rows of 201 to 250 bytes, three-component direct
    // maps 63 to 66 pixels wide, four-component ones 51 to 62) their
    // readers refuse ours.
    uint64_t count = 0;
    for (uint32_t y = 0; y < h && out.ok(); ++y) {
        KXF_Progress(this, (uint32_t)((uint64_t)y * 100 / h));
        const uint8_t* row = src->Data + (uint64_t)y * w * (direct ? 3 : 1);
        uint8_t* d = line.get();
        if (direct) {
            uint8_t* r = d + (argb ? w : 0);
            uint8_t *g = r + w, *b = g + w;
            if (argb) {
                if (alpha) memcpy(d, alpha + (uint64_t)y * w, w);
                else memset(d, 255, w);
            }
            for (uint32_t x = 0; x < w; ++x) {
                r[x] = row[3 * x];
                g[x] = row[3 * x + 1];
                b[x] = row[3 * x + 2];
            }
        } else {
            memcpy(d, row, w);
        }
        if (!direct && rowLength < 8) {
            out.bytes(d, rowLength);
            count += rowLength;
            continue;
        }
        const size_t n = PackRow(d, rowLength, packed.get());
        if ((direct ? 4 * (size_t)w : rowLength) > 250) {
            if (n > 65535) err = KXERR_NOTSUPPORTED;
            out.be16((uint16_t)n);
            count += 2;
        } else {
            if (n > 255) err = KXERR_NOTSUPPORTED;
            out.u8((uint8_t)n);
            count += 1;
        }
        if (err != KXERR_NONE) break;
        out.bytes(packed.get(), n);
        count += n;
    }
    if (count & 1) out.u8(0);
    out.be16(0x00FF);
    // The picture size: the low 16 bits of the file's length.
    const uint64_t length = out.written();
    if (out.ok() && err == KXERR_NONE) {
        const uint8_t size[2] = {(uint8_t)(length >> 8), (uint8_t)length};
        if (fflush(WriteFile) != 0 || fseeko(WriteFile, 512, SEEK_SET) != 0 || fwrite(size, 1, 2, WriteFile) != 2) err = KXERR_IO;
    }
    if (err == KXERR_NONE && !out.ok()) err = KXERR_IO;
    return KXF_EndSave(this, &sf, err);
}
