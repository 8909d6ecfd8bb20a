// kxoTIFF: the module's frame (construction, reset, settings, recognition)
// and the reader's road: pre-parse, choose a decoder, fall back, then the
// metadata that libtiff did not read. See kxoTIFF.h for the subset.
#include "formats/libraries/kxlog_helpers.h"
#include "formats/libraries/kxoTIFF.h"
#include "formats/libraries/kxoTIFFInternal.h"

#include <strings.h>

#include <cstdlib>
#include <cmath>
#include <cstring>
#include <atomic>
#include <initializer_list>

#include "core/catalogue.h"
#include "core/colour.h"
#include "core/exifiptc.h"
#include "core/files.h"
#include "core/gfxbuffer.h"
#include "core/kxclass.h"
#include "core/log.h"
#include "core/memory.h"

namespace {

const char* const kTag = "tiff";
const KXModuleLog kLog{kTag};

const char* compressionName(uint32_t code) {
    switch (code) {
        case 1: return "TIFF:None";
        case 2: return "TIFF:CCITTRLE";
        case 3: return "TIFF:CCITTFAX3";
        case 4: return "TIFF:CCITTFAX4";
        case 5: return "TIFF:LZW";
        case 6: return "TIFF:OJPEG";
        case 7: return "TIFF:JPEG";
        case 8: return "TIFF:Deflate";
        case 34676: return "TIFF:Log";
        case 34677: return "TIFF:Log24";
        case 32766: return "TIFF:Next";
        case 32771: return "TIFF:CCITTRLEW";
        case 32773: return "TIFF:PackBits";
        case 32809: return "TIFF:ThunderScan";
        case 32909: return "TIFF:PixarLog";
        default: return "TIFF:Unknown";
    }
}

char* copyText(const char* text) {
    const size_t n = strlen(text);
    auto* copy = static_cast<char*>(AllocVec(n + 1, MEMF_ANY));
    if (copy) memcpy(copy, text, n + 1);
    return copy;
}

void replaceText(char*& field, const char* text) {
    char* copy = copyText(text);
    if (!copy) return;
    FreeVec(field);
    field = copy;
}

std::atomic<KXTiffTestSeam*> testSeam{nullptr};

// Tells the tests' seam, when one is set, which road the load took.
void noteRoad(uint32_t road) {
    if (KXTiffTestSeam* seam = testSeam.load(std::memory_order_relaxed)) seam->LastRoad = road;
}

}  // namespace

KXTiffTestSeam::KXTiffTestSeam() : Previous(testSeam.exchange(this)) {}
KXTiffTestSeam::~KXTiffTestSeam() { testSeam.store(Previous); }
KXTiffTestSeam* KXTIFF_TestSeam() { return testSeam.load(std::memory_order_relaxed); }

const char* const KXTIFF_OrientationNames[8] = {"top - left",  "top - right", "bottom - right", "bottom - left",
                                                "left - top",  "right - top", "right - bottom", "left - bottom"};

uint16_t* KXTIFF_NewGamma22Curve(uint32_t entries) {
    auto* curve = static_cast<uint16_t*>(AllocVec(entries * 2, MEMF_ANY));
    if (!curve) return nullptr;
    curve[0] = 0;
    for (uint32_t i = 1; i < entries; ++i) curve[i] = (uint16_t)floor(pow((double)i / (entries - 1), 2.2) * 65535.0 + 0.5);
    return curve;
}

// The registration comes first so that the pad paths follow its pad name.
kxoTIFF::kxoTIFF(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoTIFF");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

kxoTIFF::~kxoTIFF() {
    kxoTIFF::Reset();
    FreeConfig();
}

void kxoTIFF::Reset() {
    FrameReset();
    FreeVec(ExifCopy);
    ExifCopy = nullptr;
    ExifCopySize = 0;
    FreeVec(StripOffsets);
    FreeVec(StripLengths);
    FreeVec(Transfer);
    FreeVec(Thumbnail);
    StripOffsets = StripLengths = nullptr;
    Transfer = nullptr;
    Thumbnail = nullptr;
    TransferCurves = TransferLength = 0;
    L = KXTiffLayout();
    FileSize = 0;
    WasCmykOrYcc = false;
    DataShort = false;
    MakeText[0] = ModelText[0] = OrientationText[0] = 0;
    deleteTempFiles();
}

void kxoTIFF::deleteTempFiles() {
    for (char* name : TempNames) {
        if (name[0] && amFileExists(name)) amDeleteFile(name);
        name[0] = 0;
    }
}

// ---- settings ------------------------------------------------------------------

bool kxoTIFF::keyIs(const char* key, const char* word) {
    char value[64];
    // GRAYDEPTH16 is the one key read in any spelling.
    const int found = strcmp(key, "GRAYDEPTH16") == 0 ? KXF_GetKeyNoCase(this, key, value, sizeof(value))
                                                      : GetKey(key, value, sizeof(value));
    return found && strcasecmp(value, word) == 0;
}

long kxoTIFF::keyNumber(const char* key, long fallback) {
    char value[64];
    if (!GetKey(key, value, sizeof(value)) || !value[0]) return fallback;
    char* end = nullptr;
    const long v = strtol(value, &end, 10);
    return end == value ? fallback : v;
}

// ---- recognition ---------------------------------------------------------------

uint32_t kxoTIFF::CheckFile(FILE* file, const char*, int32_t mode) {
    if (mode != KXIO_FILE || !file) return 0;
    if (fseek(file, 0, SEEK_SET) != 0) return 0;
    uint8_t head[4];
    const bool whole = fread(head, 1, 4, file) == 4;
    clearerr(file);
    fseek(file, 0, SEEK_SET);
    if (!whole) return 0;
    uint32_t version;
    if (head[0] == 'I' && head[1] == 'I')
        version = head[2] | head[3] << 8;
    else if (head[0] == 'M' && head[1] == 'M')
        version = head[2] << 8 | head[3];
    else
        return 0;
    return version == 42 || version == 43 ? 1 : 0;
}

// ---- load ------------------------------------------------------------------------

uint32_t kxoTIFF::Load() {
    // What an earlier load on this object left behind.
    if (LoadedBuffer) KXSUP_FreeGfxBuffer(LoadedBuffer);
    LoadedBuffer = nullptr;
    char** texts[] = {&Anno, &Auth, &Copy, &Name, &More1, &More2, &More3, &More4, &Compression, &IccName};
    for (char** t : texts) {
        FreeVec(*t);
        *t = nullptr;
    }
    uint8_t** blocks[] = {&Exif, &Iptc, &Xmp0, &Xmp1, &IccData, &Thumbnail};
    for (uint8_t** b : blocks) {
        FreeVec(*b);
        *b = nullptr;
    }
    ExifSize = IptcSize = Xmp0Size = Xmp1Size = IccSize = IccType = 0;
    Orientation = 0;
    SpecialInfo = nullptr;
    FreeVec(StripOffsets);
    FreeVec(StripLengths);
    FreeVec(Transfer);
    StripOffsets = StripLengths = nullptr;
    Transfer = nullptr;
    TransferCurves = TransferLength = 0;
    WasCmykOrYcc = false;
    DataShort = false;
    MakeText[0] = ModelText[0] = OrientationText[0] = 0;
    noteRoad(KXTiffTestSeam::ROAD_NONE);

    bool readMeta = false;
    uint32_t err = loadBody(readMeta);
    if (Thumbnail) {
        FreeVec(Thumbnail);
        Thumbnail = nullptr;
    }
    return KXF_EndLoad(this, err);
}

uint32_t kxoTIFF::loadBody(bool& readMeta) {
    const bool isExif = keyIs("IS_EXIF", "TRUE");
    readMeta = !isExif && LoadMetaFlag;
    if (readMeta) kLog.text(2, "Parsing internal EXIF/IPTC config.");
    uint32_t err = KXF_OpenRead(this);
    if (err) return err;
    SubFormatId = 0;

    err = parseTiffDirectory(readMeta, isExif);
    if (err && err != KXERR_EOF && err != KXERR_FILEREQUIREMENTS && err != KXERR_NOMEMORY) err = KXERR_DECODE;
    if (err) return err;
    Compression = static_cast<char*>(AllocVec(64, MEMF_CLEAR));
    if (Compression) strncpy(Compression, compressionName(L.Compression), 63);

    if (isExif) {
        kLog.text(2, "is EXIF");
        if (!L.ThumbOffset || !L.ThumbLength) return KXERR_FILEREQUIREMENTS;
        if ((uint64_t)L.ThumbOffset + L.ThumbLength > FileSize) return KXERR_EOF;
        Thumbnail = static_cast<uint8_t*>(AllocVec(L.ThumbLength, MEMF_ANY));
        if (!Thumbnail) return KXERR_NOMEMORY;
        if (fseeko(ReadFile, L.ThumbOffset, SEEK_SET) != 0 || amRead(ReadFile, Thumbnail, L.ThumbLength) != (long)L.ThumbLength)
            return KXERR_EOF;
        noteRoad(KXTiffTestSeam::ROAD_THUMBNAIL);
        return loadTiffExifThumbnail();
    }

    if (L.Photometric == 5 && L.BitsPerSample == 8 && L.SamplesPerPixel == 1) {
        kLog.line(1, "Plane count adjusted from 1 to 3 for photo %ld", (long)L.Photometric);
        L.SamplesPerPixel = 3;
    }
    kLog.line(1, "Compression type %ld (%ldx%ld, %ld bit x %ld planes (%ld planar) - photo %ld - exts(v) %ld sampf %ld)",
              (long)L.Compression, (long)L.Width, (long)L.Height, (long)L.BitsPerSample, (long)L.SamplesPerPixel,
              (long)L.Planar, (long)L.Photometric, (long)L.ExtraSamples, (long)L.SampleFormat);
    kLog.line(1, "Layout - strip count: %ld, strip rows: %ld", (long)L.StripCount, (long)L.RowsPerStrip);

    err = chooseAndDecode(readMeta);
    if (err) return err;
    if (readMeta) readMetaWithoutLibtiff();
    if (WasCmykOrYcc && (IccData || IccName)) {
        kLog.text(2, "Dropping CMYK/YCbCr ICC profile...");
        FreeVec(IccData);
        FreeVec(IccName);
        IccData = nullptr;
        IccName = nullptr;
        IccSize = IccType = 0;
    }
    return KXERR_NONE;
}

// The own strip reader's simple layouts: uncompressed or PackBits,
// contiguous (or a single strip), unsigned integers, not tiled.
static bool ownReaderFirst(const KXTiffLayout& l) {
    const uint32_t bps = l.BitsPerSample, spp = l.SamplesPerPixel;
    if (l.Compression == 1 && bps == 1 && spp == 1 && l.Photometric <= 3) return true;
    const bool packbits = l.Compression == 32773 && (bps == 1 || bps == 4 || bps == 8);
    const bool plain = l.Compression == 1 && ((bps >= 1 && bps <= 6 && spp == 1) || (bps == 8 && spp >= 1 && spp <= 4) ||
                                             (bps == 16 && spp >= 1 && spp <= 4));
    return (packbits || plain) && l.ExtraSamples != -2 && l.SampleFormat == 1 && !l.Tiled && l.Photometric <= 3 &&
           (l.Planar == 1 || l.StripCount == 1) && l.Tag366 != 2;
}

uint32_t kxoTIFF::runOwnReader() {
    if (L.Photometric > 3) return KXERR_FILEREQUIREMENTS;
    kLog.text(2, "LoadTIFF (internal)");
    if (L.Tiled) return KXERR_DECODE;
    KX_GfxBuffer* b = nullptr;
    const uint32_t err = LoadTIFFInternal(&b);
    if (err) return err;
    LoadedBuffer = b;
    return KXERR_NONE;
}

uint32_t kxoTIFF::chooseAndDecode(bool) {
    if (ownReaderFirst(L)) {
        const uint32_t err = runOwnReader();
        noteRoad(KXTiffTestSeam::ROAD_OWN);
        // A layout the own reader turns out not to know goes to libtiff.
        if (err != KXERR_FILEREQUIREMENTS) return err;
        kLog.text(2, "LoadTIFF (internal): layout not handled, trying libtiff");
    }
    KX_GfxBuffer* b = nullptr;
    uint32_t err = loadTiffLibtiff(ReadName, &b);
    if (!err) {
        LoadedBuffer = b;
        noteRoad(KXTiffTestSeam::ROAD_LIBTIFF);
        return KXERR_NONE;
    }
    return runFallbacks(err);
}

// libtiff failed on the read name: rewrite the file in simpler layouts and
// try again, then, for uncompressed and PackBits files, the own reader.
uint32_t kxoTIFF::runFallbacks(uint32_t err) {
    char height[16];
    snprintf(height, sizeof(height), "%lu", (unsigned long)L.Height);
    auto attempt = [&](int n, const char* input, std::initializer_list<const char*> options) -> uint32_t {
        char* name = TempNames[n];
        if (name[0] && amFileExists(name)) amDeleteFile(name);
        name[0] = 0;
        if (!KXSUP_MakeTempFileName(Lib, name, sizeof(TempNames[n]), n + 1, "tiff", "tif")) return err;
        const char* argv[16];
        int argc = 0;
        argv[argc++] = "tiffcp";
        for (const char* o : options) argv[argc++] = o;
        argv[argc++] = "-r";
        argv[argc++] = height;
        argv[argc++] = input;
        argv[argc++] = name;
        KXTIFF_CopyConvert(argc, argv);
        kLog.text(2, "...done");
        KX_GfxBuffer* b = nullptr;
        const uint32_t result = loadTiffLibtiff(name, &b);
        if (!result) {
            LoadedBuffer = b;
            amDeleteFile(name);
            name[0] = 0;
        }
        return result;
    };
    auto exists = [&](int n) { return TempNames[n][0] && amFileExists(TempNames[n]); };
    // Data the file does not hold is not made by rewriting it: only the own
    // reader, which loads what a cut file holds, is left.
    if (DataShort) {
        if ((L.Compression == 1 || L.Compression == 32773) && L.SampleFormat == 1) {
            noteRoad(KXTiffTestSeam::ROAD_OWN_LAST);
            return runOwnReader();
        }
        return err;
    }

    kLog.text(2, "LibTiff error (fallback...#1)");
    if (L.Tiled && (L.SamplesPerPixel < 2 || L.BitsPerSample == 0 || L.BitsPerSample > 7)) {
        kLog.text(2, "tile to strip conversion...");
        err = attempt(0, ReadName, {"-s"});
        if (!err) {
            noteRoad(KXTiffTestSeam::ROAD_FALLBACK1);
            return KXERR_NONE;
        }
    } else {
        kLog.text(2, "...skipped: not tiled or unsupported bit/planes combination.");
    }

    kLog.text(2, "LibTiff error (fallback...#2)");
    kLog.text(2, "planar to contig conversion...");
    err = attempt(1, exists(0) ? TempNames[0] : ReadName, {"-p", "contig", "-s"});
    if (!err) {
        noteRoad(KXTiffTestSeam::ROAD_FALLBACK2);
        return KXERR_NONE;
    }

    if (L.Compression != 1 && L.Compression != 32773) {
        kLog.text(2, "LibTiff error (fallback...#3)");
        kLog.text(2, "comp to uncomp conversion...");
        const char* input = exists(1) ? TempNames[1] : exists(0) ? TempNames[0] : ReadName;
        err = attempt(2, input, {"-c", "none", "-p", "contig", "-s"});
        if (!err) {
            noteRoad(KXTiffTestSeam::ROAD_FALLBACK3);
            return KXERR_NONE;
        }
    } else if (L.SampleFormat == 1) {
        noteRoad(KXTiffTestSeam::ROAD_OWN_LAST);
        return runOwnReader();
    }
    return err;
}

// ---- metadata without libtiff -------------------------------------------------

void kxoTIFF::readMetaWithoutLibtiff() {
    if (L.HasIptc && !Iptc && !keyIs("READ_IPTC", "OFF")) {
        kLog.text(2, "IPTC found");
        const uint64_t length = (uint64_t)L.IptcCount * (L.IptcType == 4 || L.IptcType == 9 ? 4 : 1);
        const uint32_t header = (uint32_t)sizeof(Ps3IptcHeader);
        uint32_t size = 0;
        kLog.text(2, "Allocating buffer...");
        if (length && length + header <= 0xFFFFFFFFull && !KXSUP_CheckSize(&size, length + header) &&
            (uint64_t)L.IptcOffset + length <= FileSize) {
            auto* block = static_cast<uint8_t*>(AllocVec(size, MEMF_ANY));
            kLog.text(2, "Reading buffer...");
            if (block && fseeko(ReadFile, L.IptcOffset, SEEK_SET) == 0 &&
                amRead(ReadFile, block + header, length) == (long)length) {
                // LONG-typed IPTC holds the records' bytes as they are, in
                // either byte order (as image editors write it): nothing is
                // swapped, or a little-endian file's records would be scrambled.
                kLog.text(2, "Storing buffer...");
                KX_WritePs3IptcHeader(block, (uint32_t)length);
                Iptc = block;
                IptcSize = size;
                if (SubFormatId == 0) SubFormatId = 1;
            } else {
                FreeVec(block);
            }
        }
    }
    if (Iptc) takeIptcTexts();

    if (L.HasIcc && !IccData && L.IccLength) {
        uint32_t size = 0;
        if (!KXSUP_CheckSize(&size, L.IccLength) && (uint64_t)L.IccOffset + size <= FileSize) {
            auto* profile = static_cast<uint8_t*>(AllocVec(size, MEMF_ANY));
            if (profile && fseeko(ReadFile, L.IccOffset, SEEK_SET) == 0 && amRead(ReadFile, profile, size) == (long)size) {
                IccData = profile;
                IccSize = size;
                IccType = 0;
                replaceText(IccName, "TICC ICC Profile");
            } else {
                FreeVec(profile);
            }
        }
    }

    if (!IccData && L.HasWhitePoint && L.HasPrimaries) {
        kLog.text(2, "Creating ICC profile (no libtiff)...");
        uint16_t* own = nullptr;
        const uint16_t* curves[3] = {nullptr, nullptr, nullptr};
        uint32_t entries = 0;
        if (Transfer && TransferLength >= 2) {
            kLog.text(2, "Using available TransferFunc table...");
            entries = TransferLength;
            for (uint32_t c = 0; c < 3; ++c) curves[c] = Transfer + (TransferCurves == 3 ? c * TransferLength : 0);
        } else {
            // The default curve, gamma 2.2: 2^BitsPerSample entries up to 8
            // bits; wider samples sample the same curve at 256 points, all
            // the profile builder takes.
            kLog.text(2, "Allocating TransferFunc table...");
            entries = L.BitsPerSample >= 1 && L.BitsPerSample <= 8 ? 1u << L.BitsPerSample : 256;
            kLog.line(2, "Generating TransferFunc... (%ld curves, size %ld)", 1L, (long)entries);
            own = KXTIFF_NewGamma22Curve(entries);
            if (own) curves[0] = curves[1] = curves[2] = own;
        }
        if (curves[0]) {
            kLog.text(2, "Creating ICC profile from data...");
            uint8_t* profile = nullptr;
            uint32_t size = 0;
            if (KXSUP_CreateCMSProfileCurves(256, curves[0], curves[1], curves[2], L.WhitePoint, L.Primaries, &profile,
                                             &size, entries) == KXERR_NONE) {
                IccData = profile;
                IccSize = size;
                IccType = 3;
                replaceText(IccName, "ICC Profile / TIFF colorimetric tag based");
            }
        }
        FreeVec(own);
    }
}

// The IPTC texts fill the text fields that are still empty.
void kxoTIFF::takeIptcTexts() {
    uint32_t error = 0;
    IptcHandle* h = Iptc ? IPTC_OpenBuf(Iptc, IptcSize, &error) : IPTC_Open(ReadName, &error);
    if (!h) return;
    kLog.text(2, "Parsing IPTC data...");
    KXMetaTexts t;
    KX_MetaTextsFromHandles(nullptr, h, &t);
    char** const fields[KXMETATEXT_COUNT] = {&Anno, &Auth, &Copy, &Name, &More1, &More2, &More3, &More4};
    KX_MetaFillTexts(fields, t);
    IPTC_Close(h);
    kLog.text(2, "...IPTC parsing finished");
}

// An EXIF block stored as TIFF: its JPEG thumbnail, through the JFIF module.
uint32_t kxoTIFF::loadTiffExifThumbnail() {
    char* name = TempNames[0];
    if (name[0] && amFileExists(name)) amDeleteFile(name);
    name[0] = 0;
    if (!KXSUP_MakeTempFileName(Lib, name, sizeof(TempNames[0]), 0, "tiff", "jpg")) return KXERR_IO;
    FILE* f = amOpen(name, "wb");
    if (!f) return KXERR_IO;
    const bool written = amWrite(f, Thumbnail, L.ThumbLength) == (long)L.ThumbLength;
    if (amClose(f) != 0 || !written) {
        amDeleteFile(name);
        name[0] = 0;
        return KXERR_IO;
    }
    uint32_t err = KXERR_NOMEMORY;
    const KXFormatReg* reg = KX_FindFormatReg("kxoJFIF");
    KXObject* jfif = reg ? KX_NewObject(Lib, *reg) : nullptr;
    if (jfif) {
        uint32_t cfgErr = 0;
        KXConfig cfg(jfif->PadPath, &cfgErr);
        cfg.SetValue("READ_EXIF", "OFF");
        cfg.SetValue("READ_IPTC", "OFF");
        jfif->SetLocalConfig(cfg.GetPadList());
        jfif->SetReadName(name);
        err = jfif->Load();
        if (!err) {
            KX_GfxBuffer* b = nullptr;
            err = jfif->DetachGfxBuffer(&b);
            if (!err) LoadedBuffer = b;
        }
        jfif->Reset();
        delete jfif;
    }
    amDeleteFile(name);
    name[0] = 0;
    return err;
}
