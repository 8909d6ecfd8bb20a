// kxoJFIF: JPEG on libjpeg (see kxoJFIF.h for the subset).
//
// libjpeg reports errors by longjmp. Each load, save and header check sets
// one jump point in a function that holds no object with a destructor; what
// the session owns lives in a session record outside that frame, so the
// landing code can release it. Any libjpeg error is 14 on loading and 31 on
// saving.
//
// Each coder gets a memory limit right after it is made (MAX_MEMORY, else
// JPEGMEM, else 1000000 bytes): the whole-image arrays of progressive and
// optimised codings and of two-pass quantising that do not fit under it are
// kept in temporary files (jpeg_backing). Sizes a file asks for are checked
// against the library's size limit before libjpeg allocates its
// picture-sized arrays.
#include "formats/libraries/kxoJFIF.h"

// clang-format off
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <strings.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/catalogue.h"
#include "core/files.h"
#include "core/gfxbuffer.h"
#include "core/kxclass.h"
#include "core/log.h"
#include "core/memory.h"
#include "formats/libraries/jpeg_backing.h"
#include "formats/libraries/kxlog_helpers.h"

namespace {

const char* const kTag = "jfif";
const KXModuleLog kLog{kTag};
constexpr size_t kStreamBuffer = 65536;

// libjpeg's error manager with a jump back into the function that set it.
struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    void (*stdEmit)(j_common_ptr, int);
    bool cutShort;  // the coded data ended before the picture did
    bool dataEnded;  // ... because the file or its last scan ended (nothing comes after)
};

// The reader's and the header check's messages go to the library log; the
// writer's go nowhere.
void outputToLog(j_common_ptr c) {
    char text[JMSG_LENGTH_MAX];
    c->err->format_message(c, text);
    kLog.text(2, text);
}
void outputNothing(j_common_ptr) {}

[[noreturn]] void errorExit(j_common_ptr c) {
    c->err->output_message(c);
    longjmp(reinterpret_cast<ErrorManager*>(c->err)->jump, 1);
}

// A progressive file may split itself into any number of scans, each of
// which costs a pass over the whole coefficient array: a small file can
// then keep the decoder busy for hours. Files of real encoders have a few
// dozen scans at most.
constexpr int kMaxScans = 1000;

struct ScanLimit {
    jpeg_progress_mgr pub;
    ErrorManager* errors;
};

void checkScans(j_common_ptr c) {
    auto* d = reinterpret_cast<j_decompress_ptr>(c);
    if (d->input_scan_number > kMaxScans) {
        kLog.text(2, "too many scans, decoding stopped");
        longjmp(reinterpret_cast<ScanLimit*>(c->progress)->errors->jump, 1);
    }
}

// Data that ends early is only a warning to libjpeg: the end of the file
// (JWRN_JPEG_EOF) or a marker inside the coded data (JWRN_HIT_MARKER), after
// which it fills the rest of the picture with grey and goes on. Noted, so
// the reader can say the picture is incomplete.
void emitMessage(j_common_ptr c, int level) {
    auto* e = reinterpret_cast<ErrorManager*>(c->err);
    if (level < 0 && (e->pub.msg_code == JWRN_JPEG_EOF || e->pub.msg_code == JWRN_HIT_MARKER)) {
        e->cutShort = true;
        // A restart marker met early is resynchronised on; the end of the
        // file or an end-of-image marker leaves nothing more to decode.
        if (e->pub.msg_code == JWRN_JPEG_EOF ||
            (c->is_decompressor && reinterpret_cast<j_decompress_ptr>(c)->unread_marker == JPEG_EOI))
            e->dataEnded = true;
    }
    e->stdEmit(c, level);
}

void initErrors(ErrorManager* e, bool toLog) {
    jpeg_std_error(&e->pub);
    e->pub.error_exit = errorExit;
    e->pub.output_message = toLog ? outputToLog : outputNothing;
    e->stdEmit = e->pub.emit_message;
    e->pub.emit_message = emitMessage;
    e->cutShort = e->dataEnded = false;
}

}  // namespace

// ---- sessions ----------------------------------------------------------------

struct kxoJFIF::ReadSession {
    jpeg_decompress_struct d;
    ErrorManager err;
    FILE* file = nullptr;
    bool created = false;
    bool started = false;
    MetaSwitches meta;
    ScanLimit scans;
    KX_GfxBuffer* buffer = nullptr;
    uint8_t* row = nullptr;  // one CMYK row
    uint8_t* icc = nullptr;  // malloc'd by readIccMarkers
};

struct kxoJFIF::WriteSession {
    jpeg_compress_struct c;
    ErrorManager err;
    bool created = false;
    const KX_GfxBuffer* buffer = nullptr;
    uint8_t* row = nullptr;  // a palette row expanded to RGB
};

// ---- frame -------------------------------------------------------------------

kxoJFIF::kxoJFIF(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoJFIF");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

kxoJFIF::~kxoJFIF() {
    kxoJFIF::Reset();
    FreeConfig();
}

void kxoJFIF::Reset() { FrameReset(); }

// ---- settings ------------------------------------------------------------------

bool kxoJFIF::keyIsOn(const char* key, bool fallback) {
    char value[64];
    if (!GetKey(key, value, sizeof(value))) return fallback;
    if (strcasecmp(value, "ON") == 0) return true;
    if (strcasecmp(value, "OFF") == 0) return false;
    return fallback;
}

// GRAY_ENCODE and GRAY_DECODE take "ON" in capitals only.
bool kxoJFIF::keyIsExactOn(const char* key) {
    char value[64];
    return GetKey(key, value, sizeof(value)) && strcmp(value, "ON") == 0;
}

bool kxoJFIF::keyIs(const char* key, const char* word) {
    char value[64];
    return GetKey(key, value, sizeof(value)) && strcasecmp(value, word) == 0;
}

long kxoJFIF::keyNumber(const char* key, long fallback) {
    char value[64];
    if (!GetKey(key, value, sizeof(value))) return fallback;
    return atol(value);
}

// The memory limit and backing store for a coder made a moment ago.
void kxoJFIF::limitMemory(jpeg_common_struct* coder) {
    long limit = KXJPEG_DefaultMemoryLimit();
    char value[64];
    if (GetKey("MAX_MEMORY", value, sizeof(value))) {
        char* end = nullptr;
        const long bytes = strtol(value, &end, 10);
        if (end != value && bytes >= 0) limit = bytes;
    }
    const char* temp = Lib && Lib->TempDir ? Lib->TempDir : KX_GetProcessTempDir();
    KXJPEG_InstallBackingStore(coder, temp, limit, &MemoryStats);
}

// ---- recognition ---------------------------------------------------------------

namespace {

bool hasJpegName(const char* name) {
    const size_t n = strlen(name);
    return (n > 4 && strcasecmp(name + n - 4, ".jpg") == 0) || (n > 5 && strcasecmp(name + n - 5, ".jpeg") == 0);
}

// Position of needle in block[from..last] (start positions), or -1.
int findAt(const uint8_t* block, size_t blockSize, int from, int last, const char* needle, size_t length) {
    for (int p = from < 0 ? 0 : from; p <= last; ++p) {
        if ((size_t)p + length > blockSize) break;
        if (memcmp(block + p, needle, length) == 0) return p;
    }
    return -1;
}

const char kSoiApp0[4] = {'\xFF', '\xD8', '\xFF', '\xE0'};

}  // namespace

uint32_t kxoJFIF::CheckJPEG(const char* name) {
    kLog.line(5, "%s ('%s')", "CheckJPEG...", name ? name : "");
    if (!name) return 0;
    FILE* file = fopen(name, "rb");
    if (!file) return 0;
    setvbuf(file, nullptr, _IOFBF, 1024);
    auto* s = static_cast<ReadSession*>(AllocVecNamed(sizeof(ReadSession), MEMF_CLEAR, 0, kTag));
    uint32_t ok = 0;
    if (s) {
        initErrors(&s->err, true);
        s->d.err = &s->err.pub;
        if (!setjmp(s->err.jump)) {
            jpeg_create_decompress(&s->d);
            s->created = true;
            jpeg_stdio_src(&s->d, file);
            ok = jpeg_read_header(&s->d, TRUE) == JPEG_HEADER_OK ? 1 : 0;
        }
        if (s->created) jpeg_destroy_decompress(&s->d);
        FreeVecNamed(s, kTag);
    }
    fclose(file);
    kLog.text(5, "...OK");
    return ok;
}

uint32_t kxoJFIF::CheckFile(FILE* file, const char* name, int32_t mode) {
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t head[4];
    const bool jfif = fseek(file, 6, SEEK_SET) == 0 && fread(head, 1, 4, file) == 4 && memcmp(head, "JFIF", 4) == 0;
    fseek(file, 0, SEEK_SET);
    if (jfif) return 1;
    if (!name) return 0;
    if (CheckJPEG(name)) return 1;
    if (!hasJpegName(name)) return 0;

    // A Macintosh file: a MacBinary header or a Photoshop preamble before the JPEG data.
    uint8_t block[256];
    uint32_t answer = 0;
    if (fread(block, 1, sizeof(block), file) == sizeof(block)) {
        if (block[128] == 0xFF && block[129] == 0xD8) {
            answer = 1;
        } else if (memcmp(block + 134, "Photoshop", 9) == 0) {
            answer = 1;
        } else {
            const int at = findAt(block, sizeof(block), 0, 247, "JPEG8BIM", 8);
            if (at >= 0) {
                const uint8_t* search = block;
                int from = at;
                uint8_t more[512];
                if (memcmp(block + 32, "MAC_3", 5) == 0) {
                    search = fread(more, 1, sizeof(more), file) == sizeof(more) ? more + 256 : nullptr;
                    from = 0;
                }
                if (search && findAt(search, 256, from, 251, kSoiApp0, 4) >= 0) answer = 1;
            }
        }
    }
    fseek(file, 0, SEEK_SET);
    return answer;
}

// ---- load ----------------------------------------------------------------------

uint32_t kxoJFIF::decode(ReadSession& s) {
    jpeg_decompress_struct& d = s.d;
    if (setjmp(s.err.jump)) {
        kLog.text(5, "Decoder exception.");
        return KXERR_DECODE;
    }
    jpeg_create_decompress(&d);
    s.created = true;
    limitMemory(reinterpret_cast<j_common_ptr>(&d));
    s.scans.pub.progress_monitor = checkScans;
    s.scans.errors = &s.err;
    d.progress = &s.scans.pub;
    jpeg_stdio_src(&d, s.file);
    saveMarkers(&d, s.meta);
    jpeg_read_header(&d, TRUE);
    if (s.meta.any()) readMarkers(&d, s.meta);

    const bool thumbnail = keyIs("READ_MODE", "THUMBNAIL");
    if (thumbnail && s.meta.exif && Exif) {
        kLog.text(5, "Exif Preview handling triggered.");
        return KXERR_NONE;
    }
    if (s.meta.icc) {
        uint32_t size = 0;
        if (readIccMarkers(&d, &s.icc, &size)) {
            kLog.text(5, "ICCP Profile found.");
            auto* copy = static_cast<uint8_t*>(AllocVec(size, MEMF_ANY));
            char* name = static_cast<char*>(AllocVec(sizeof("JPEG ICCP Profile"), MEMF_ANY));
            if (copy && name) {
                memcpy(copy, s.icc, size);
                strcpy(name, "JPEG ICCP Profile");
                FreeVec(IccData);
                FreeVec(IccName);
                IccData = copy;
                IccSize = size;
                IccName = name;
                IccType = 0;
            } else {
                FreeVec(copy);
                FreeVec(name);
            }
        }
        free(s.icc);
        s.icc = nullptr;
    }

    // Decompression parameters.
    d.dct_method = keyIs("DECODE_METHOD", "SLOW_INTEGER")     ? JDCT_ISLOW
                   : keyIs("DECODE_METHOD", "FLOATING_POINT") ? JDCT_FLOAT
                                                              : JDCT_IFAST;
    d.dither_mode = keyIs("DITHERMODE", "NO_DITHERING")     ? JDITHER_NONE
                    : keyIs("DITHERMODE", "DITHER_ORDERED") ? JDITHER_ORDERED
                                                            : JDITHER_FS;
    d.do_fancy_upsampling = keyIsOn("UPSAMPLING", true) ? TRUE : FALSE;
    unsigned denom = 1;
    if (!thumbnail) {
        if (keyIs("SCALING", "HALF")) denom = 2;
        else if (keyIs("SCALING", "QUARTER")) denom = 4;
        else if (keyIs("SCALING", "HALF_QUARTER")) denom = 8;
    }
    const long threshWidth = keyNumber("THRESH_WIDTH", 0), threshHeight = keyNumber("THRESH_HEIGHT", 0);
    if (denom != 1 && threshWidth > 0 && threshHeight > 0) {
        while (denom > 1 && ((long)(d.image_width / denom) < threshWidth || (long)(d.image_height / denom) < threshHeight))
            --denom;
    }
    // libjpeg-turbo scales in steps of 1/8: 1/3 becomes 3/8, and so on.
    d.scale_num = 1;
    d.scale_denom = denom;
    d.two_pass_quantize = d.dither_mode == JDITHER_ORDERED ? FALSE : (keyIs("COLOR_QUANTIZING", "FAST") ? FALSE : TRUE);

    // Output colour space.
    bool cmyk = false, greyFile = false;
    switch (d.jpeg_color_space) {
    case JCS_GRAYSCALE:
        d.out_color_space = JCS_GRAYSCALE;
        greyFile = true;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        d.out_color_space = JCS_CMYK;
        cmyk = true;
        break;
    case JCS_UNKNOWN:
        break;
    default:
        d.out_color_space = JCS_RGB;
        break;
    }
    const bool grayDecode = keyIsExactOn("GRAY_DECODE");
    bool eightBit = false, quantised = false;
    if (!cmyk) {
        if (greyFile || grayDecode) {
            d.out_color_space = JCS_GRAYSCALE;
            eightBit = true;
        } else if (keyIs("COLORDEPTH", "8")) {
            d.quantize_colors = TRUE;
            d.desired_number_of_colors = 256;
            eightBit = quantised = true;
        }
    }

    // The picture and libjpeg's whole-image arrays must fit the library's limits.
    jpeg_calc_output_dimensions(&d);
    const uint32_t width = d.output_width, height = d.output_height;
    uint32_t size = 0;
    uint32_t err = KXSUP_CheckSize(&size, width, height, eightBit ? 1 : 3);
    // Scaling shrinks the output, not libjpeg's work: every block of the
    // full-size picture is still decoded. A few kilobytes claiming 65000 x
    // 65000 pixels would keep it busy for minutes, so the full-size picture
    // must fit the limits too.
    if (!err) err = KXSUP_CheckSize(nullptr, d.image_width, d.image_height, d.num_components);
    if (!err && jpeg_has_multiple_scans(&d)) err = KXSUP_CheckSize(nullptr, d.image_width, d.image_height, d.num_components, 2);
    if (!err && quantised && d.two_pass_quantize) err = KXSUP_CheckSize(nullptr, width, height, 3);
    if (err) return err;

    kLog.text(5, "Decoding started...");
    jpeg_start_decompress(&d);
    s.started = true;
    // An unknown colour space may bring any number of components: only
    // what the buffer is laid out for is read.
    const int expected = cmyk ? 4 : eightBit ? 1 : 3;
    if (d.output_components != expected || d.output_width != width || d.output_height != height)
        return KXERR_FILEREQUIREMENTS;

    // Cleared by fresh pages, never by a pass over the picture: rows are
    // written as they decode, and a single-scan file whose data ends early
    // leaves the rest untouched (black) instead of decoding it from nothing,
    // so a few bytes that claim a huge picture cost little.
    if ((err = KXSUP_AllocGfxBuffer(&s.buffer, 1, size, MEMF_CLEAR)) != KXERR_NONE) return err;
    KX_GfxBuffer* b = s.buffer;
    b->Type = ONEPLANE;
    b->Width = width;
    b->Height = height;
    b->ViewMode = KXSUP_BestModeID(width, height, 8);
    b->ColorDepth = b->PixelBits = eightBit ? 8 : 24;
    const size_t stride = (size_t)width * (eightBit ? 1 : 3);
    if (cmyk) {
        uint32_t rowSize = 0;
        if ((err = KXSUP_CheckSize(&rowSize, width, 4)) != KXERR_NONE) return err;
        s.row = static_cast<uint8_t*>(AllocVec(rowSize, MEMF_ANY));
        if (!s.row) return KXERR_NOMEMORY;
    }

    // A progressive file's scans are all read by jpeg_start_decompress: its
    // every row comes from what the file held.
    const bool oneScan = !jpeg_has_multiple_scans(&d);
    while (d.output_scanline < height && !(oneScan && s.err.dataEnded)) {
        const uint32_t y = d.output_scanline;
        if (cmyk) {
            JSAMPROW row = s.row;
            if (jpeg_read_scanlines(&d, &row, 1) != 1) return KXERR_DECODE;
            uint8_t* out = b->Data + (size_t)y * stride;
            const uint8_t* in = s.row;
            for (uint32_t x = 0; x < width; ++x, in += 4, out += 3) {
                const unsigned k = in[3];
                out[0] = (uint8_t)(in[0] * k / 255);
                out[1] = (uint8_t)(in[1] * k / 255);
                out[2] = (uint8_t)(in[2] * k / 255);
            }
        } else {
            JSAMPROW rows[16];
            const uint32_t n = height - y < 16 ? height - y : 16;
            for (uint32_t i = 0; i < n; ++i) rows[i] = b->Data + (size_t)(y + i) * stride;
            if (jpeg_read_scanlines(&d, rows, n) == 0) return KXERR_DECODE;
        }
        if (ProgressHook) KXF_Progress(this, (uint32_t)((uint64_t)d.output_scanline * 100 / height));
    }

    if (quantised) {
        const int colours = d.actual_number_of_colors > 256 ? 256 : d.actual_number_of_colors;
        for (int i = 0; i < colours; ++i)
            for (int c = 0; c < 3; ++c) b->Palette[i * 3 + c] = d.colormap[c][i];
    } else if (eightBit) {
        for (int i = 0; i < 256; ++i) memset(b->Palette + i * 3, i, 3);
    }
    kLog.text(5, "Decoding finished.");
    if (d.output_scanline < height) jpeg_abort_decompress(&d);
    else jpeg_finish_decompress(&d);
    s.started = false;
    if (greyFile) KXSUP_AddGfxBufferFlags(b, KXGFXF_GRAY, 1);
    return KXERR_NONE;
}

uint32_t kxoJFIF::readImage(FILE* file) {
    const bool meta = LoadMetaFlag != 0;
    kLog.text(5, meta ? "Metadata enabled." : "Metadata disabled.");
    auto* s = static_cast<ReadSession*>(AllocVecNamed(sizeof(ReadSession), MEMF_CLEAR, 0, kTag));
    if (!s) return KXERR_NOMEMORY;
    if (meta) {
        s->meta.exif = keyIsOn("READ_EXIF", true);
        s->meta.iptc = keyIsOn("READ_IPTC", true);
        s->meta.xmp = s->meta.icc = true;
    }
    initErrors(&s->err, true);
    s->d.err = &s->err.pub;
    s->file = file;
    setvbuf(file, nullptr, _IOFBF, kStreamBuffer);
    uint32_t err = decode(*s);
    if (s->created) jpeg_destroy_decompress(&s->d);
    free(s->icc);
    FreeVec(s->row);
    if (err == KXERR_NONE && s->buffer) {
        if (LoadedBuffer) KXSUP_FreeGfxBuffer(LoadedBuffer);
        LoadedBuffer = s->buffer;
        if (s->err.cutShort) {
            kLog.text(2, "the data ends early: the picture is incomplete");
            LoadWarning = KXERR_EOF;
        }
    } else if (s->buffer) {
        KXSUP_FreeGfxBuffer(s->buffer);
    }
    FreeVecNamed(s, kTag);
    return err;
}

// A JPEG that libjpeg refused may sit behind a MacBinary header or a
// Photoshop preamble: copy it without that preamble into a temporary file
// and decode that.
uint32_t kxoJFIF::unwrapMac() {
    if (ReadFile) {
        amClose(ReadFile);
        ReadFile = nullptr;
    }
    kLog.text(1, "Checking for MAC Header...");
    FILE* in = amOpen(ReadName, "rb");
    if (!in) return KXERR_FILENOTFOUND;
    setvbuf(in, nullptr, _IOFBF, kStreamBuffer);
    uint8_t block[256];
    if (fread(block, 1, sizeof(block), in) != sizeof(block)) {
        amClose(in);
        return KXERR_EOF;
    }
    long start = -1;
    const int at = findAt(block, sizeof(block), 0, 247, "JPEG8BIM", 8);
    if (at >= 0) {
        kLog.text(1, "Found. Checking for Type...");
        if (block[128] == 0xFF && block[129] == 0xD8) {
            start = 128;
        } else if (memcmp(block + 134, "Photoshop", 9) == 0) {
            kLog.text(1, "Found Photoshop. Checking for details...");
            // The JPEG stream starts six bytes before its "JFIF" (FF D8 FF E0
            // and the segment length); look on in overlapping pieces.
            static constexpr size_t kPiece = 4096;
            uint8_t piece[kPiece];
            long base = (long)sizeof(block);
            size_t kept = 0;
            for (;;) {
                const size_t got = fread(piece + kept, 1, kPiece - kept, in);
                const size_t have = kept + got;
                bool found = false;
                for (size_t p = 6; p + 4 <= have; ++p)
                    if (memcmp(piece + p, "JFIF", 4) == 0 && piece[p - 6] == 0xFF && piece[p - 5] == 0xD8) {
                        start = base + (long)p - 6;
                        found = true;
                        break;
                    }
                if (found || got == 0) break;
                kept = have < 9 ? have : 9;
                memmove(piece, piece + have - kept, kept);
                base += (long)(have - kept);
            }
        } else {
            const uint8_t* search = block;
            int from = at;
            long searchBase = 0;
            uint8_t more[512];
            if (memcmp(block + 32, "MAC_3", 5) == 0) {
                kLog.text(1, "Found MAC. Checking for details...");
                search = fread(more, 1, sizeof(more), in) == sizeof(more) ? more + 256 : nullptr;
                from = 0;
                searchBase = 768;
            }
            const int p = search ? findAt(search, 256, from, 251, kSoiApp0, 4) : -1;
            if (p >= 0) start = searchBase + p;
        }
    }
    if (start < 0) {
        kLog.text(1, "Not found.");
        amClose(in);
        return KXERR_DECODE;
    }

    char temp[4096];
    static long counter = 0;
    if (!KXSUP_MakeTempFileName(Lib, temp, sizeof(temp), ++counter, "jpeg", "mac")) {
        amClose(in);
        return KXERR_IO;
    }
    remove(temp);
    FILE* out = fopen(temp, "wb");
    bool written = out != nullptr && fseek(in, start, SEEK_SET) == 0;
    if (written) {
        setvbuf(out, nullptr, _IOFBF, kStreamBuffer);
        uint8_t copy[16384];
        size_t n;
        while ((n = fread(copy, 1, sizeof(copy), in)) > 0)
            if (fwrite(copy, 1, n, out) != n) {
                written = false;
                break;
            }
        if (ferror(in)) written = false;
    }
    if (out && fclose(out) != 0) written = false;
    amClose(in);
    uint32_t err = KXERR_IO;
    if (written) {
        FILE* again = fopen(temp, "rb");
        if (again) {
            err = readImage(again);
            fclose(again);
        }
    }
    remove(temp);
    return err;
}

uint32_t kxoJFIF::Load() {
    kLog.line(1, "Loading %s...", ReadName ? ReadName : "");
    if (LoadedBuffer) {
        KXSUP_FreeGfxBuffer(LoadedBuffer);
        LoadedBuffer = nullptr;
    }
    LoadWarning = 0;
    uint32_t err = KXF_OpenRead(this);
    if (err != KXERR_NONE) return err;
    SubFormatId = kJfif;
    err = readImage(ReadFile);
    if (err == KXERR_DECODE || err == KXERR_UNKNOWNFORMAT) err = unwrapMac();
    // The blocks the marker walk kept are read even when decoding failed.
    if (LoadMetaFlag) {
        importJfifIptc();
        importJfifExif();
    }
    err = KXF_EndLoad(this, err);
    kLog.line(1, "Loading %s finished", ReadName ? ReadName : "");
    return err;
}

// ---- save ----------------------------------------------------------------------

uint32_t kxoJFIF::encode(WriteSession& s) {
    jpeg_compress_struct& c = s.c;
    if (setjmp(s.err.jump)) return KXERR_ENCODE;
    jpeg_create_compress(&c);
    s.created = true;
    limitMemory(reinterpret_cast<j_common_ptr>(&c));
    jpeg_stdio_dest(&c, WriteFile);
    const KX_GfxBuffer* b = s.buffer;
    c.image_width = b->Width;
    c.image_height = b->Height;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    c.data_precision = 8;
    jpeg_set_defaults(&c);
    c.dct_method = keyIs("ENCODE_METHOD", "SLOW_INTEGER")     ? JDCT_ISLOW
                   : keyIs("ENCODE_METHOD", "FLOATING_POINT") ? JDCT_FLOAT
                                                              : JDCT_IFAST;
    unsigned long quality = (unsigned long)keyNumber("QUANTIZATION", 75);
    if (quality > 100) quality = 100;
    jpeg_set_quality(&c, (int)quality, TRUE);
    if (keyIsExactOn("GRAY_ENCODE")) jpeg_set_colorspace(&c, JCS_GRAYSCALE);
    if (keyIsOn("OPTIMIZE", false)) c.optimize_coding = TRUE;
    if (keyIsOn("PROGRESSIVE", false)) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    if (SpecialInfo && SpecialInfo->Version != 0) writeJpegMetadata(&c, SpecialInfo);

    const uint32_t height = b->Height, width = b->Width;
    const bool palette = b->PixelBits != 24;
    const size_t stride = palette ? width : (size_t)width * 3;
    while (c.next_scanline < height) {
        const uint32_t y = c.next_scanline;
        if (palette) {
            const uint8_t* in = b->Data + (size_t)y * stride;
            uint8_t* out = s.row;
            for (uint32_t x = 0; x < width; ++x, out += 3) memcpy(out, b->Palette + in[x] * 3, 3);
            JSAMPROW row = s.row;
            jpeg_write_scanlines(&c, &row, 1);
        } else {
            JSAMPROW rows[16];
            const uint32_t n = height - y < 16 ? height - y : 16;
            for (uint32_t i = 0; i < n; ++i) rows[i] = const_cast<uint8_t*>(b->Data + (size_t)(y + i) * stride);
            jpeg_write_scanlines(&c, rows, n);
        }
        if (ProgressHook) KXF_Progress(this, (uint32_t)((uint64_t)c.next_scanline * 100 / height));
    }
    jpeg_finish_compress(&c);
    return KXERR_NONE;
}

uint32_t kxoJFIF::Save() {
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    const KX_GfxBuffer* b = SaveBuffer;
    if (b->ColorDepth > 8 && b->ColorDepth != 24) return KXERR_FILEREQUIREMENTS;
    if (b->PixelBits != (b->ColorDepth <= 8 ? 8u : 24u)) return KXERR_FILEREQUIREMENTS;

    auto* s = static_cast<WriteSession*>(AllocVecNamed(sizeof(WriteSession), MEMF_CLEAR, 0, kTag));
    if (!s) return KXERR_NOMEMORY;
    s->buffer = b;
    if (b->PixelBits != 24) {
        uint32_t rowSize = 0;
        if ((err = KXSUP_CheckSize(&rowSize, b->Width, 3)) == KXERR_NONE) {
            s->row = static_cast<uint8_t*>(AllocVec(rowSize, MEMF_CLEAR));
            if (!s->row) err = KXERR_NOMEMORY;
        }
        if (err) {
            FreeVecNamed(s, kTag);
            return err;
        }
    }
    initErrors(&s->err, false);
    s->c.err = &s->err.pub;

    KXSafeFile sf;
    err = KXF_OpenSave(this, &sf);
    if (err == KXERR_NONE) {
        setvbuf(WriteFile, nullptr, _IOFBF, kStreamBuffer);
        if (SelectedSubFormat == kSpiff) {
            // SPIFF header (ITU-T T.84) and its end-of-directory entry, whose
            // length covers the start-of-image marker of the JFIF stream
            // that follows, so that libjpeg reads the file as it is.
            KXByteWriter w(WriteFile);
            w.be16(0xFFD8);
            w.be16(0xFFE8);
            w.be16(32);
            w.bytes("SPIFF", 6);
            w.u8(1);
            w.u8(0);
            w.u8(keyIsOn("PROGRESSIVE", false) ? 2 : 1);
            w.u8(b->PixelBits == 24 ? 1 : 3);
            w.be32(b->Height);
            w.be32(b->Width);
            w.u8(10);
            w.u8(24);
            w.u8(5);
            w.u8(0);
            w.be32(1);
            w.be32(1);
            w.be16(0xFFE8);
            w.be16(8);
            w.be32(1);
            if (!w.ok()) err = KXERR_IO;
        }
        if (err == KXERR_NONE) err = encode(*s);
        err = KXF_EndSave(this, &sf, err);
    }
    if (s->created) jpeg_destroy_compress(&s->c);
    FreeVec(s->row);
    FreeVecNamed(s, kTag);
    return err;
}

// ---- decoding for other modules ------------------------------------------------

uint32_t KXJFIF_DecodeThumbnail(KXClass* lib, const uint8_t* data, uint32_t size, KX_GfxBuffer** out) {
    if (!out) return KXERR_INTERNALACCESS;
    *out = nullptr;
    if (!data || !size) return KXERR_INTERNALACCESS;
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file) return KXERR_NOMEMORY;
    auto* reader = new (std::nothrow) kxoJFIF(lib);
    uint32_t err = KXERR_NOMEMORY;
    if (reader) {
        reader->SetLoadMeta(0);
        err = reader->readImage(file);
        if (err == KXERR_NONE) err = reader->DetachGfxBuffer(out);
        delete reader;
    }
    fclose(file);
    return err;
}
