// kxoLJPG: lossless JPEG through the module's own codec (see kxoLJPG.h).
// The module connects ljpg_codec to graphics buffers and files: the
// codec reads and writes through the routines below, its messages go to
// the log, and every check it makes of a picture to save (sides, memory)
// runs before the file is opened.
#include "formats/libraries/kxoLJPG.h"

#include <cstdio>
#include <cstring>

#include "core/catalogue.h"
#include "core/files.h"
#include "core/gfxbuffer.h"
#include "core/log.h"
#include "core/memory.h"
#include "formats/libraries/ljpg_codec.h"

namespace {

const char* const kTag = "ljpg";
const uint8_t kStart[4] = {0xFF, 0xD8, 0xFF, 0xC3};

void logLine(uint32_t level, const char* text) {
    if (!__kxlib_log_global || !text) return;
    size_t n = strlen(text);
    while (n > 0 && text[n - 1] == '\n') --n;
    __kxlib_log_global->Log(level, "%-16s: %.*s\n", kTag, (int)n, text);
}

void codecMessage(void*, const char* text) { logLine(4, text); }

// ---- the codec's file routines -----------------------------------------------

struct ReadRecord {
    FILE* file;
};

size_t readBlock(void* user, uint8_t* buffer, size_t count) {
    auto* r = static_cast<ReadRecord*>(user);
    const size_t got = fread(buffer, 1, count, r->file);
    if (__kxlib_log_global)
        __kxlib_log_global->Log(9, "%-16s: dc-read ($%lx) %ld bytes ($%lx)\n", kTag, (unsigned long)(uintptr_t)r,
                                (long)got, (unsigned long)(uintptr_t)buffer);
    return got;
}

struct WriteRecord {
    FILE* file;
};

bool writeBlock(void* user, const uint8_t* data, size_t count) {
    auto* w = static_cast<WriteRecord*>(user);
    if (__kxlib_log_global)
        __kxlib_log_global->Log(9, "%-16s: c-write ($%lx) %ld bytes ($%lx, mode: %ld)\n", kTag,
                                (unsigned long)(uintptr_t)w, (long)count, (unsigned long)(uintptr_t)data, 0L);
    return fwrite(data, 1, count, w->file) == count;
}

// Rows of the scan into the picture: one byte per sample after the point
// transform, the first three components of each pixel (or the first
// alone). Samples of up to 8 bits keep their low 8 bits; wider ones their
// top 8, so that a 12- or 16-bit picture shows as it is.
struct RowSink {
    KXObject* object;
    uint8_t* data;
    uint32_t width, height, components, channels, pt, precision;
};

void putRow(void* user, uint32_t y, const uint16_t* samples) {
    auto* s = static_cast<RowSink*>(user);
    if ((y & 7) == 0) KXF_Progress(s->object, 20 + (uint32_t)((uint64_t)y * 60 / s->height));
    uint8_t* out = s->data + (size_t)y * s->width * s->channels;
    const uint32_t n = s->components;
    if (s->precision <= 8) {
        for (uint32_t x = 0; x < s->width; ++x, samples += n, out += s->channels)
            for (uint32_t c = 0; c < s->channels; ++c) out[c] = (uint8_t)((uint32_t)samples[c] << s->pt);
        return;
    }
    const uint32_t mask = (1u << s->precision) - 1;
    const uint32_t down = s->precision - 8;
    for (uint32_t x = 0; x < s->width; ++x, samples += n, out += s->channels)
        for (uint32_t c = 0; c < s->channels; ++c) out[c] = (uint8_t)((((uint32_t)samples[c] << s->pt) & mask) >> down);
}

}  // namespace

// ---- frame -------------------------------------------------------------------

kxoLJPG::kxoLJPG(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoLJPG");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

kxoLJPG::~kxoLJPG() {
    kxoLJPG::Reset();
    FreeConfig();
}

void kxoLJPG::Reset() { FrameReset(); }

// ---- recognition ---------------------------------------------------------------

// Only a file whose frame header follows the start of image at once: a
// lossless JPEG with other segments first still loads when opened directly.
uint32_t kxoLJPG::CheckFile(FILE* file, const char*, int32_t mode) {
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t head[4];
    if (fseek(file, 0, SEEK_SET) != 0) return 0;
    const bool whole = fread(head, 1, 4, file) == 4;
    fseek(file, 0, SEEK_SET);
    return whole && memcmp(head, kStart, 4) == 0 ? 1 : 0;
}

// ---- load ----------------------------------------------------------------------

uint32_t kxoLJPG::Load() {
    if (LoadedBuffer) {
        KXSUP_FreeGfxBuffer(LoadedBuffer);
        LoadedBuffer = nullptr;
    }
    SubFormatId = 0;
    KXF_Progress(this, 5);
    KXF_Progress(this, 10);
    logLine(2, "parsing start");
    uint32_t err = KXF_OpenRead(this);
    if (err != KXERR_NONE) return err;
    KXF_Log(this, 2, kTag, "%s\n", ReadName);
    err = decode();
    logLine(2, "parsing finish");
    if (err == KXERR_NONE) {
        KXF_Progress(this, 95);
        KXF_Progress(this, 100);
    }
    return KXF_EndLoad(this, err);
}

uint32_t kxoLJPG::decode() {
    ReadRecord record = {ReadFile};
    LjpgDecoder d;
    d.Read = readBlock;
    d.Message = codecMessage;
    d.User = &record;
    // Any codec error is 15; memory that runs out is 3.
    auto fail = [&](uint32_t result) {
        LjpgDecoderEnd(&d);
        return result == LJPG_NO_MEMORY ? KXERR_NOMEMORY : KXERR_FILEREQUIREMENTS;
    };
    logLine(2, "read file header");
    uint32_t r = LjpgReadFileHeader(&d);
    if (r != LJPG_OK) return fail(r);
    logLine(2, "read scan header");
    bool found = false;
    r = LjpgReadScanHeader(&d, &found);
    if (r != LJPG_OK) return fail(r);
    if (!found) {
        LjpgDecoderEnd(&d);
        return KXERR_UNKNOWNFORMAT;
    }
    const uint32_t channels = d.ScanComponents >= 3 ? 3 : 1;
    KXF_Log(this, 2, kTag, "w: %ld, h: %ld, d: %ld - size: %ld\n", (long)d.Width, (long)d.Height, (long)(8 * channels),
            (long)((uint64_t)d.Width * d.Height * channels));
    logLine(2, "alloc buffer");
    KX_GfxBuffer* b = nullptr;
    // Cleared: rows the file holds no data for stay black.
    uint32_t err = KXF_NewImage(&b, ONEPLANE, d.Width, d.Height, 8 * channels, 8 * channels, true);
    if (err != KXERR_NONE) {
        LjpgDecoderEnd(&d);
        return err;
    }
    LoadedBuffer = b;
    if (channels == 1) KXF_GreyRamp(b->Palette, 256);
    logLine(2, "decoder init");
    if ((r = LjpgDecodeInit(&d)) != LJPG_OK) return fail(r);
    KXF_Progress(this, 20);
    logLine(2, "decoder start");
    RowSink sink = {this, b->Data, d.Width, d.Height, d.ScanComponents, channels, d.Pt, d.Precision};
    if ((r = LjpgDecodeImage(&d, putRow, &sink)) != LJPG_OK) return fail(r);
    logLine(2, "decoder finish");
    KXF_Progress(this, 80);
    logLine(2, "release memory");
    LjpgDecoderEnd(&d);
    KXF_Progress(this, 85);
    return KXERR_NONE;
}

// ---- save ----------------------------------------------------------------------

uint32_t kxoLJPG::Save() {
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    const KX_GfxBuffer* b = SaveBuffer;
    if (b->ColorDepth != 24 || b->PixelBits != 24) return KXERR_NEED24BIT;
    KXF_Progress(this, 5);

    // The whole plan (sides, the predictor, the tables) is made before the
    // file exists, so that a picture the codec refuses leaves no file.
    LjpgEncoder e;
    e.Pixels = b->Data;
    e.Width = b->Width;
    e.Height = b->Height;
    e.Components = b->PixelBits / 8;
    e.Message = codecMessage;
    KXF_Progress(this, 10);
    uint32_t r = LjpgPlan(&e);
    if (r != LJPG_OK) return r == LJPG_NO_MEMORY ? KXERR_NOMEMORY : KXERR_DECODE;
    KXF_Log(this, 4, kTag, "predictor %u, %llu bits of data\n", e.Psv, (unsigned long long)e.CodedBits);
    KXF_Progress(this, 15);

    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) return err;
    WriteRecord record = {WriteFile};
    e.Write = writeBlock;
    e.User = &record;
    r = LjpgEncode(&e);
    err = r == LJPG_OK ? KXERR_NONE : r == LJPG_WRITE_FAILED ? KXERR_IO : r == LJPG_NO_MEMORY ? KXERR_NOMEMORY : KXERR_DECODE;
    err = KXF_EndSave(this, &sf, err);
    if (err == KXERR_NONE) KXF_Progress(this, 100);
    return err;
}
