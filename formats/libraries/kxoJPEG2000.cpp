// kxoJPEG2000: JPEG 2000 through OpenJPEG, PGX of its own (see kxoJPEG2000.h).
//
// OpenJPEG reads and writes through streams whose callbacks work on the
// module's own files, so that a save goes to the frame's sibling temporary
// file and every write is checked. OpenJPEG holds a decoded picture as one
// 32-bit sample per component and pixel: that block is sized through the
// checked-size helper before anything is decoded, and handed back to the
// system page by page as its samples are copied, so that a load costs no
// more than OpenJPEG's own decoding. A save hands OpenJPEG one tile at a
// time, so that it never holds a 32-bit copy of the whole picture. Both run
// on OpenJPEG's own threads, which change neither pixels nor bytes.
#include "formats/libraries/kxoJPEG2000.h"

#include <openjpeg.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "core/catalogue.h"
#include "core/files.h"
#include "core/gfxbuffer.h"
#include "core/log.h"
#include "core/memory.h"

namespace {

const char* const kTag = "jpeg2000";

// The JP2 signature box, the start of a raw code stream (SOC, SIZ and the
// high byte of its length) and the two PGX byte orders.
const uint8_t kJp2Box[4] = {'j', 'P', ' ', ' '};
const uint8_t kCodeStream[5] = {0xFF, 0x4F, 0xFF, 0x51, 0x00};
const char* const kPgxBig = "PG ML";
const char* const kPgxLittle = "PG LM";

// The most resolution levels written; fewer for pictures too small for
// them (each level halves the picture, and the smallest must keep a pixel).
constexpr uint32_t kMaxResolutions = 6;

// The side of the tiles of a saved picture larger than one tile.
constexpr uint32_t kTile = 1024;

enum class Kind { None, Jp2, CodeStream, Pgx };

Kind kindOf(const uint8_t* head, size_t length) {
    if (length >= 8 && memcmp(head + 4, kJp2Box, 4) == 0) return Kind::Jp2;
    if (length >= 5 && memcmp(head, kCodeStream, 5) == 0) return Kind::CodeStream;
    if (length >= 5 && (memcmp(head, kPgxBig, 5) == 0 || memcmp(head, kPgxLittle, 5) == 0)) return Kind::Pgx;
    return Kind::None;
}

// OpenJPEG's messages end in a line feed of their own.
void logMessage(uint32_t level, const char* kind, const char* message) {
    if (!__kxlib_log_global || !message) return;
    size_t n = strlen(message);
    while (n > 0 && (message[n - 1] == '\n' || message[n - 1] == '\r')) --n;
    __kxlib_log_global->Log(level, "%-16s: %s%.*s\n", kTag, kind, (int)n, message);
}
void onError(const char* message, void*) { logMessage(2, "error: ", message); }
void onWarning(const char* message, void*) { logMessage(4, "warning: ", message); }
void onInfo(const char* message, void*) { logMessage(9, "", message); }

void routeMessages(opj_codec_t* codec) {
    opj_set_error_handler(codec, onError, nullptr);
    opj_set_warning_handler(codec, onWarning, nullptr);
    opj_set_info_handler(codec, onInfo, nullptr);
}

// ---- threads and memory -------------------------------------------------------

// OpenJPEG codes its code blocks on as many threads as the process may run
// on (its affinity mask); each block is coded alone, so the pixels decoded
// and the bytes written are those of one thread. Small pictures stay on
// one: starting the threads would cost more than they save.
constexpr uint64_t kThreadsFromFileBytes = 64 * 1024;
constexpr uint64_t kThreadsFromPixels = 256 * 1024;

void useThreads(opj_codec_t* codec, bool worthIt) {
    if (!worthIt || !opj_has_thread_support()) return;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) != 0) return;
    const int n = CPU_COUNT(&set);
    if (n > 1) opj_codec_set_threads(codec, n);
}

// Gives back to the system the pages of a block from the one holding
// `from` up to the last whole page before `to`, never one that reaches
// outside the block. Only for samples that have been copied and are never
// read again (everything in the block before `to`): the pages read as zeros
// afterwards, and the block is still freed by its owner.
void releasePages(const void* block, const void* from, const void* to) {
    static const uintptr_t page = (uintptr_t)sysconf(_SC_PAGESIZE);
    const uintptr_t first = ((uintptr_t)block + page - 1) & ~(page - 1);
    uintptr_t a = (uintptr_t)from & ~(page - 1);
    if (a < first) a = first;
    const uintptr_t b = (uintptr_t)to & ~(page - 1);
    if (b > a) madvise((void*)a, b - a, MADV_DONTNEED);
}

// The ICC profile's colour space (header bytes 16 to 19).
bool profileSpaceIs(const opj_image_t* img, const char* space) {
    return img->icc_profile_buf && img->icc_profile_len >= 20 && memcmp(img->icc_profile_buf + 16, space, 4) == 0;
}

// ---- streams on the module's files ------------------------------------------

struct StreamFile {
    FILE* file;
    bool writeFailed;
};

OPJ_SIZE_T streamRead(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* s = static_cast<StreamFile*>(user);
    const size_t got = fread(buffer, 1, count, s->file);
    return got > 0 ? got : (OPJ_SIZE_T)-1;
}

OPJ_SIZE_T streamWrite(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* s = static_cast<StreamFile*>(user);
    if (fwrite(buffer, 1, count, s->file) != count) {
        s->writeFailed = true;
        return (OPJ_SIZE_T)-1;
    }
    return count;
}

OPJ_OFF_T streamSkip(OPJ_OFF_T count, void* user) {
    auto* s = static_cast<StreamFile*>(user);
    return fseeko(s->file, (off_t)count, SEEK_CUR) == 0 ? count : -1;
}

OPJ_BOOL streamSeek(OPJ_OFF_T position, void* user) {
    auto* s = static_cast<StreamFile*>(user);
    return fseeko(s->file, (off_t)position, SEEK_SET) == 0 ? OPJ_TRUE : OPJ_FALSE;
}

opj_stream_t* newStream(StreamFile* s, bool reading) {
    opj_stream_t* stream = opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, reading ? OPJ_TRUE : OPJ_FALSE);
    if (!stream) return nullptr;
    opj_stream_set_user_data(stream, s, nullptr);
    if (reading) {
        struct stat st;
        if (fstat(fileno(s->file), &st) == 0 && st.st_size > 0) opj_stream_set_user_data_length(stream, (OPJ_UINT64)st.st_size);
        opj_stream_set_read_function(stream, streamRead);
    } else {
        opj_stream_set_write_function(stream, streamWrite);
    }
    opj_stream_set_skip_function(stream, streamSkip);
    opj_stream_set_seek_function(stream, streamSeek);
    return stream;
}

// What one load or save holds of OpenJPEG's, released in one place.
struct Session {
    opj_codec_t* codec = nullptr;
    opj_stream_t* stream = nullptr;
    opj_image_t* image = nullptr;
    ~Session() {
        endCoding();
        if (image) opj_image_destroy(image);
    }
    // The codec's state and the compressed data it holds, once a decode is done.
    void endCoding() {
        if (stream) opj_stream_destroy(stream);
        if (codec) opj_destroy_codec(codec);
        stream = nullptr;
        codec = nullptr;
    }
};

uint32_t greyOf(uint32_t r, uint32_t g, uint32_t b) { return (30 * r + 59 * g + 11 * b) / 100; }

// ---- PGX --------------------------------------------------------------------
// "PG", the byte order ("ML" big-endian, "LM" little-endian), an optional
// sign, the precision, the width and the height, separated by blanks, one
// line end, then the samples row after row in 1, 2 or 4 bytes each.

bool isBlank(int c) { return c == ' ' || c == '\t'; }

// Blanks, then a decimal number below 2^32 (at least one digit).
bool readNumber(KXByteReader& r, uint32_t* value) {
    int c = r.next();
    while (isBlank(c)) c = r.next();
    if (c < '0' || c > '9') return false;
    uint64_t v = 0;
    while (c >= '0' && c <= '9') {
        v = v * 10 + (uint64_t)(c - '0');
        if (v > 0xFFFFFFFFull) return false;
        c = r.next();
    }
    // The character after the digits belongs to the caller: step back.
    if (c >= 0 && !r.seek(r.tell() - 1)) return false;
    *value = (uint32_t)v;
    return true;
}

struct PgxHeader {
    bool bigEndian = true;
    bool isSigned = false;
    uint32_t precision = 0, width = 0, height = 0;
};

bool readPgxHeader(KXByteReader& r, PgxHeader* h) {
    uint8_t magic[5];
    if (!r.bytes(magic, 5)) return false;
    if (memcmp(magic, kPgxBig, 5) != 0 && memcmp(magic, kPgxLittle, 5) != 0) return false;
    h->bigEndian = magic[3] == 'M';
    int c = r.next();
    while (isBlank(c)) c = r.next();
    if (c == '+' || c == '-') {
        h->isSigned = c == '-';
    } else if (c < 0 || !r.seek(r.tell() - 1)) {
        return false;
    }
    if (!readNumber(r, &h->precision) || !readNumber(r, &h->width) || !readNumber(r, &h->height)) return false;
    c = r.next();
    while (isBlank(c)) c = r.next();
    if (c == '\r') c = r.next();
    return c == '\n';
}

}  // namespace

// ---- frame -------------------------------------------------------------------

kxoJPEG2000::kxoJPEG2000(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoJPEG2000");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

kxoJPEG2000::~kxoJPEG2000() {
    kxoJPEG2000::Reset();
    FreeConfig();
}

void kxoJPEG2000::Reset() { FrameReset(); }

// ---- recognition ---------------------------------------------------------------

// A raw code stream is recognised only with the SIZ length of one or three
// components (0x29, 0x2F) and the baseline capabilities (Rsiz 0) of a
// picture narrower than 65536; others still load when opened directly.
uint32_t kxoJPEG2000::CheckFile(FILE* file, const char*, int32_t mode) {
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t head[16] = {};
    if (fseek(file, 0, SEEK_SET) != 0) return 0;
    const size_t got = fread(head, 1, sizeof(head), file);
    fseek(file, 0, SEEK_SET);
    switch (kindOf(head, got)) {
    case Kind::Jp2:
    case Kind::Pgx:
        return 1;
    case Kind::CodeStream:
        return got >= 10 && (head[5] == 0x2F || head[5] == 0x29) && head[6] == 0 && head[7] == 0 && head[8] == 0 &&
                       head[9] == 0
                   ? 1
                   : 0;
    case Kind::None:
        break;
    }
    return 0;
}

// ---- load ----------------------------------------------------------------------

uint32_t kxoJPEG2000::Load() {
    if (LoadedBuffer) {
        KXSUP_FreeGfxBuffer(LoadedBuffer);
        LoadedBuffer = nullptr;
    }
    uint32_t err = KXF_OpenRead(this);
    if (err != KXERR_NONE) return err;
    uint8_t head[8] = {};
    const size_t got = fread(head, 1, sizeof(head), ReadFile);
    const Kind kind = kindOf(head, got);
    if (kind == Kind::None || fseek(ReadFile, 0, SEEK_SET) != 0) return KXF_EndLoad(this, KXERR_UNKNOWNFORMAT);
    SubFormatId = kind == Kind::Pgx ? 1 : 0;
    KXF_Log(this, 2, kTag, "loading %s (%s)\n", ReadName,
            kind == Kind::Pgx ? "PGX" : kind == Kind::Jp2 ? "JP2" : "code stream");
    err = kind == Kind::Pgx ? loadPgx() : loadOpenJpeg(kind == Kind::CodeStream);
    if (err == KXERR_NONE) KXF_Progress(this, 100);
    return KXF_EndLoad(this, err);
}

uint32_t kxoJPEG2000::loadOpenJpeg(bool rawCodeStream) {
    Session s;
    StreamFile file = {ReadFile, false};
    s.codec = opj_create_decompress(rawCodeStream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
    if (!s.codec) return KXERR_NOMEMORY;
    routeMessages(s.codec);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(s.codec, &parameters)) return KXERR_NOMEMORY;
    struct stat st;
    useThreads(s.codec, fstat(fileno(ReadFile), &st) == 0 && (uint64_t)st.st_size >= kThreadsFromFileBytes);
    s.stream = newStream(&file, true);
    if (!s.stream) return KXERR_NODESTFILE;
    KXF_Progress(this, 20);
    if (!opj_read_header(s.stream, s.codec, &s.image) || !s.image || s.image->numcomps == 0) return KXERR_NOMEMORY;

    // OpenJPEG decodes every component into 32-bit samples of at most the
    // picture's size: that much memory must be there before it starts.
    opj_image_t* img = s.image;
    uint32_t decodedSize = 0;
    if (img->x1 <= img->x0 || img->y1 <= img->y0) return KXERR_FILEREQUIREMENTS;
    if (uint32_t e = KXSUP_CheckSize(&decodedSize, img->x1 - img->x0, img->y1 - img->y0, img->numcomps, 4)) return e;
    // OpenJPEG's strict mode stays on: a code stream cut short fails here.
    if (!opj_decode(s.codec, s.stream, img)) return KXERR_NOMEMORY;
    // What follows the code stream in a JP2 file adds nothing to the picture.
    opj_end_decompress(s.codec, s.stream);
    s.endCoding();
    KXF_Progress(this, 50);

    // Which components make the picture: a code stream by their number, a
    // JP2 file by its colour space. A JP2 file that describes its colour by
    // an ICC profile (OpenJPEG knows no colour space then) goes by the
    // number too, unless the profile is neither grey nor RGB.
    uint32_t used = 0;
    const bool byCount = rawCodeStream || img->color_space == OPJ_CLRSPC_UNKNOWN ||
                         img->color_space == OPJ_CLRSPC_UNSPECIFIED;
    const bool otherProfile = img->icc_profile_buf && !profileSpaceIs(img, "RGB ") && !profileSpaceIs(img, "GRAY");
    if (byCount && !otherProfile) {
        used = img->numcomps >= 3 && !profileSpaceIs(img, "GRAY") ? 3 : 1;
    } else if (img->color_space == OPJ_CLRSPC_GRAY) {
        used = 1;
    } else if (img->color_space == OPJ_CLRSPC_SRGB && img->numcomps >= 3) {
        used = 3;
    } else {
        KXF_Log(this, 2, kTag, "colour space %d with %u components not taken\n", (int)img->color_space, img->numcomps);
        return KXERR_FILEREQUIREMENTS;
    }
    const opj_image_comp_t* c = img->comps;
    for (uint32_t i = 0; i < used; ++i) {
        if (c[i].w != c[0].w || c[i].h != c[0].h || c[i].prec != c[0].prec || c[i].sgnd || c[i].x0 != c[0].x0 ||
            c[i].y0 != c[0].y0 || c[i].dx != c[0].dx || c[i].dy != c[0].dy) {
            KXF_Log(this, 2, kTag, "component %u is signed or differs from the first\n", i);
            return KXERR_FILEREQUIREMENTS;
        }
        if (!c[i].data) return KXERR_DECODE;
    }
    // Components beyond the picture's are not needed from here on.
    for (uint32_t i = used; i < img->numcomps; ++i) {
        opj_image_data_free(img->comps[i].data);
        img->comps[i].data = nullptr;
    }
    const uint32_t width = c[0].w, height = c[0].h;
    KX_GfxBuffer* b = nullptr;
    if (uint32_t e = KXF_NewImage(&b, ONEPLANE, width, height, used == 3 ? 24 : 8, used == 3 ? 24 : 8, false)) return e;
    LoadedBuffer = b;
    if (used == 1) KXF_GreyRamp(b->Palette, 256);

    // The profile goes to the record, as the JPEG reader hands over its own.
    if (LoadMetaFlag && img->icc_profile_buf && img->icc_profile_len) {
        static const char kProfileName[] = "JPEG 2000 ICC Profile";
        auto* copy = static_cast<uint8_t*>(AllocVec(img->icc_profile_len, MEMF_ANY));
        auto* name = static_cast<char*>(AllocVec(sizeof(kProfileName), MEMF_ANY));
        if (copy && name) {
            memcpy(copy, img->icc_profile_buf, img->icc_profile_len);
            memcpy(name, kProfileName, sizeof(kProfileName));
            FreeVec(IccData);
            FreeVec(IccName);
            IccData = copy;
            IccSize = img->icc_profile_len;
            IccName = name;
            IccType = 0;
        } else {
            FreeVec(copy);
            FreeVec(name);
        }
    }

    // Samples of more than 8 bits keep their low 8 bits. OpenJPEG's pages
    // go back to the system every few rows, as the picture's are filled.
    const uint32_t releaseRows = width >= 65536 ? 1 : 65536 / width;
    uint32_t releasedUpTo = 0;
    for (uint32_t y = 0; y < height; ++y) {
        if ((y & 7) == 0) KXF_Progress(this, 50 + (uint32_t)((uint64_t)y * 50 / height));
        const size_t at = (size_t)y * width;
        uint8_t* out = b->Data + at * used;
        if (used == 1) {
            const OPJ_INT32* g = c[0].data + at;
            for (uint32_t x = 0; x < width; ++x) out[x] = (uint8_t)g[x];
        } else {
            const OPJ_INT32* r = c[0].data + at;
            const OPJ_INT32* g = c[1].data + at;
            const OPJ_INT32* bl = c[2].data + at;
            for (uint32_t x = 0; x < width; ++x, out += 3) {
                out[0] = (uint8_t)r[x];
                out[1] = (uint8_t)g[x];
                out[2] = (uint8_t)bl[x];
            }
        }
        if (y + 1 - releasedUpTo >= releaseRows) {
            for (uint32_t i = 0; i < used; ++i)
                releasePages(c[i].data, c[i].data + (size_t)releasedUpTo * width, c[i].data + (size_t)(y + 1) * width);
            releasedUpTo = y + 1;
        }
    }
    return KXERR_NONE;
}

uint32_t kxoJPEG2000::loadPgx() {
    KXByteReader r(ReadFile);
    PgxHeader h;
    if (!readPgxHeader(r, &h)) {
        KXF_Log(this, 2, kTag, "no PGX header\n");
        return KXERR_NOMEMORY;
    }
    if (h.isSigned || h.precision < 1 || h.precision > 32) {
        KXF_Log(this, 2, kTag, "PGX samples of %s%u bits not taken\n", h.isSigned ? "signed " : "", h.precision);
        return KXERR_FILEREQUIREMENTS;
    }
    const uint32_t sampleBytes = h.precision <= 8 ? 1 : h.precision <= 16 ? 2 : 4;
    uint32_t rowBytes = 0, pixels = 0;
    if (uint32_t e = KXSUP_CheckSize(&pixels, h.width, h.height)) return e;
    if (uint32_t e = KXSUP_CheckSize(&rowBytes, h.width, sampleBytes)) return e;
    if (pixels == 0) return KXERR_FILEREQUIREMENTS;
    // The file must hold every sample it declares: nothing is allocated for
    // rows that are not there.
    if ((uint64_t)rowBytes * h.height > r.remaining()) {
        KXF_Log(this, 2, kTag, "PGX file shorter than its %ux%u samples\n", h.width, h.height);
        return KXERR_DECODE;
    }
    KX_GfxBuffer* b = nullptr;
    if (uint32_t e = KXF_NewImage(&b, ONEPLANE, h.width, h.height, 8, 8, false)) return e;
    LoadedBuffer = b;
    KXF_GreyRamp(b->Palette, 256);
    uint8_t* row = b->Data;
    // Wider samples are read into the end of the row and narrowed in place;
    // the low byte is the last one in big-endian order.
    uint8_t* wide = nullptr;
    if (sampleBytes > 1) {
        wide = static_cast<uint8_t*>(AllocVec(rowBytes, MEMF_ANY));
        if (!wide) return KXERR_NOMEMORY;
    }
    const uint32_t low = h.bigEndian ? sampleBytes - 1 : 0;
    for (uint32_t y = 0; y < h.height; ++y, row += h.width) {
        if ((y & 7) == 0) KXF_Progress(this, 50 + (uint32_t)((uint64_t)y * 50 / h.height));
        if (sampleBytes == 1) {
            if (!r.bytes(row, h.width)) break;
            continue;
        }
        if (!r.bytes(wide, rowBytes)) break;
        for (uint32_t x = 0; x < h.width; ++x) row[x] = wide[(size_t)x * sampleBytes + low];
    }
    FreeVec(wide);
    return r.ok() ? KXERR_NONE : KXERR_DECODE;
}

// ---- save ----------------------------------------------------------------------

uint32_t kxoJPEG2000::Save() {
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    const KX_GfxBuffer* b = SaveBuffer;
    const bool palette = b->ColorDepth >= 1 && b->ColorDepth <= 8;
    if ((!palette && b->ColorDepth != 24) || b->PixelBits != (palette ? 8u : 24u)) return KXERR_FILEREQUIREMENTS;
    KXF_Progress(this, 20);
    err = SelectedSubFormat != 0 ? savePgx() : saveJp2();
    if (err == KXERR_NONE) KXF_Progress(this, 100);
    return err;
}

uint32_t kxoJPEG2000::savePgx() {
    const KX_GfxBuffer* b = SaveBuffer;
    const uint32_t width = b->Width, height = b->Height;
    const bool palette = b->ColorDepth <= 8;
    uint8_t greys[256];
    for (uint32_t i = 0; i < 256; ++i)
        greys[i] = (uint8_t)greyOf(b->Palette[i * 3], b->Palette[i * 3 + 1], b->Palette[i * 3 + 2]);
    auto* row = static_cast<uint8_t*>(AllocVec(width, MEMF_ANY));
    if (!row) return KXERR_NOMEMORY;
    KXSafeFile sf;
    uint32_t err = KXF_OpenSave(this, &sf);
    if (err != KXERR_NONE) {
        FreeVec(row);
        return err;
    }
    KXByteWriter w(WriteFile);
    w.printf("PG ML + 8 %u %u\n", width, height);
    for (uint32_t y = 0; y < height && w.ok(); ++y) {
        if ((y & 7) == 0) KXF_Progress(this, 20 + (uint32_t)((uint64_t)y * 30 / height));
        const uint8_t* in = b->Data + (size_t)y * width * (palette ? 1 : 3);
        if (palette) {
            for (uint32_t x = 0; x < width; ++x) row[x] = greys[in[x]];
        } else {
            for (uint32_t x = 0; x < width; ++x, in += 3) row[x] = (uint8_t)greyOf(in[0], in[1], in[2]);
        }
        w.bytes(row, width);
    }
    FreeVec(row);
    return KXF_EndSave(this, &sf, w.ok() ? KXERR_NONE : KXERR_IO);
}

uint32_t kxoJPEG2000::saveJp2() {
    const KX_GfxBuffer* b = SaveBuffer;
    const uint32_t width = b->Width, height = b->Height;
    const bool palette = b->ColorDepth <= 8;
    // A picture larger than one tile is written in tiles: OpenJPEG then
    // holds 32-bit samples of one tile, not of the whole picture.
    const bool tiled = width > kTile || height > kTile;
    const uint32_t tileWidth = tiled ? kTile : width, tileHeight = tiled ? kTile : height;
    const uint32_t tilesAcross = (width + tileWidth - 1) / tileWidth, tilesDown = (height + tileHeight - 1) / tileHeight;
    uint32_t tileBytes = 0;
    if (uint32_t e = KXSUP_CheckSize(&tileBytes, tileWidth, tileHeight, 3)) return e;

    Session s;
    opj_image_cmptparm_t parts[3];
    memset(parts, 0, sizeof(parts));
    for (opj_image_cmptparm_t& p : parts) {
        p.dx = p.dy = 1;
        p.w = width;
        p.h = height;
        p.prec = 8;
    }
    s.image = opj_image_tile_create(3, parts, OPJ_CLRSPC_SRGB);
    if (!s.image) return KXERR_NOMEMORY;
    s.image->x0 = s.image->y0 = 0;
    s.image->x1 = width;
    s.image->y1 = height;

    // Lossless: the reversible wavelet and colour transform, one layer
    // without a rate limit, as many resolution levels as the smaller side
    // allows (one for a single pixel).
    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    const uint32_t side = width < height ? width : height;
    uint32_t levels = 1;
    while (levels < kMaxResolutions && (side >> levels) > 0) ++levels;
    parameters.numresolution = (int)levels;
    parameters.tcp_numlayers = 1;
    parameters.tcp_rates[0] = 0;
    parameters.cp_disto_alloc = 1;
    parameters.irreversible = 0;
    parameters.tcp_mct = 1;
    if (tiled) {
        parameters.tile_size_on = OPJ_TRUE;
        parameters.cp_tx0 = parameters.cp_ty0 = 0;
        parameters.cp_tdx = (int)tileWidth;
        parameters.cp_tdy = (int)tileHeight;
    }
    s.codec = opj_create_compress(OPJ_CODEC_JP2);
    if (!s.codec) return KXERR_NOMEMORY;
    routeMessages(s.codec);
    if (!opj_setup_encoder(s.codec, &parameters, s.image)) return KXERR_NOMEMORY;
    useThreads(s.codec, (uint64_t)width * height >= kThreadsFromPixels);

    // One tile's samples, plane after plane, as OpenJPEG takes them.
    auto* tile = static_cast<uint8_t*>(AllocVec(tileBytes, MEMF_ANY));
    if (!tile) return KXERR_NOMEMORY;
    KXSafeFile sf;
    uint32_t err = KXF_OpenSave(this, &sf);
    if (err != KXERR_NONE) {
        FreeVec(tile);
        return err;
    }
    StreamFile file = {WriteFile, false};
    s.stream = newStream(&file, false);
    bool coded = s.stream && opj_start_compress(s.codec, s.image, s.stream);
    for (uint32_t ty = 0; coded && ty < tilesDown; ++ty) {
        KXF_Progress(this, 20 + (uint32_t)((uint64_t)ty * 80 / tilesDown));
        const uint32_t top = ty * tileHeight;
        const uint32_t th = height - top < tileHeight ? height - top : tileHeight;
        for (uint32_t tx = 0; coded && tx < tilesAcross; ++tx) {
            const uint32_t left = tx * tileWidth;
            const uint32_t tw = width - left < tileWidth ? width - left : tileWidth;
            const size_t plane = (size_t)tw * th;
            uint8_t* r = tile;
            uint8_t* g = tile + plane;
            uint8_t* bl = tile + 2 * plane;
            for (uint32_t y = 0; y < th; ++y, r += tw, g += tw, bl += tw) {
                const size_t at = (size_t)(top + y) * width + left;
                const uint8_t* in = b->Data + at * (palette ? 1 : 3);
                if (palette) {
                    for (uint32_t x = 0; x < tw; ++x) {
                        const uint8_t* rgb = b->Palette + in[x] * 3;
                        r[x] = rgb[0];
                        g[x] = rgb[1];
                        bl[x] = rgb[2];
                    }
                } else {
                    for (uint32_t x = 0; x < tw; ++x, in += 3) {
                        r[x] = in[0];
                        g[x] = in[1];
                        bl[x] = in[2];
                    }
                }
            }
            coded = opj_write_tile(s.codec, ty * tilesAcross + tx, tile, (OPJ_UINT32)(plane * 3), s.stream);
        }
    }
    coded = coded && opj_end_compress(s.codec, s.stream);
    FreeVec(tile);
    if (!s.stream) {
        err = KXERR_NOMEMORY;
    } else if (!coded || file.writeFailed) {
        err = file.writeFailed ? KXERR_IO : KXERR_NOMEMORY;
    }
    return KXF_EndSave(this, &sf, err);
}
