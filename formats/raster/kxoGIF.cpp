// kxoGIF: GIF reader and writer (see kxoGIF.h). The file layout follows the
// GIF89a specification (CompuServe, 1990): screen descriptor, optional
// global colour table, then blocks introduced by "," (image), "!"
// (extension) and ";" (trailer), all numbers little-endian.
#include "formats/raster/kxoGIF.h"

#include <strings.h>

#include <cstring>

namespace {

constexpr uint32_t kSubFormat87a = 0;
constexpr uint32_t kTile = 16;
constexpr size_t kTileArea = 8192;
constexpr size_t kReadWindow = 65536;   // compressed bytes held while decoding
constexpr size_t kWriteArea = 65536;    // compressed bytes held while encoding

size_t readSource(void* reader, uint8_t* buffer, size_t size) {
    return static_cast<KXByteReader*>(reader)->bytes(buffer, size) ? size : 0;
}

bool writeSink(void* writer, const uint8_t* data, size_t size) {
    auto* w = static_cast<KXByteWriter*>(writer);
    w->bytes(data, size);
    return w->ok();
}

uint16_t le16At(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

void putLe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// Decimal integer with optional sign and leading blanks, independent of the
// locale; false when no digit follows.
bool parseNumber(const char* s, int64_t* value) {
    while (*s == ' ' || *s == '\t') ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') negative = *s++ == '-';
    if (*s < '0' || *s > '9') return false;
    int64_t v = 0;
    while (*s >= '0' && *s <= '9') {
        if (v < (int64_t(1) << 40)) v = v * 10 + (*s - '0');
        ++s;
    }
    *value = negative ? -v : v;
    return true;
}

// Passes over data sub-blocks up to their terminator, or to the end of the
// file when it comes first; never fails the reader.
void skipSubBlocks(KXByteReader& r) {
    for (;;) {
        const int n = r.next();
        if (n <= 0) return;
        if (static_cast<uint64_t>(n) > r.remaining()) {
            r.skip(r.remaining());
            return;
        }
        r.skip(static_cast<uint64_t>(n));
    }
}

}  // namespace

struct kxoGIF::Scan {
    uint32_t screenWidth = 0;
    uint32_t screenHeight = 0;
    uint8_t background = 0;
    uint32_t headerDepth = 1;
    uint32_t depth = 1;  // the deepest colour table met
    bool hasGlobal = false;
    bool hasReference = false;
    uint8_t global[768] = {};
    uint8_t reference[768] = {};
    uint64_t dataStart = 0;   // after the global colour table
    uint64_t firstImage = 0;  // after the first image's ","
    uint32_t count = 0;
    bool animated = false;
    bool differing = false;
    bool anyTransparent = false;
    ExtState ext;
};

// The pad paths are derived from the registered pad name, so the base is
// initialised only once the registration is in place.
kxoGIF::kxoGIF(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoGIF");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoGIF::Reset() {
    FrameReset();
    FreeVec(Offsets);
    Offsets = nullptr;
    FreeVec(DataEnds);
    DataEnds = nullptr;
    Lzw = GifLzwEncoder();
    memset(Header, 0, sizeof(Header));
    memset(Descriptor, 0, sizeof(Descriptor));
    ImageIndex = 0;
    OffsetCount = 0;
    OffsetCapacity = 4096;
}

void kxoGIF::RelayProgress(void* self, uint32_t percent) { KXF_Progress(static_cast<kxoGIF*>(self), percent); }

// ---- settings ----------------------------------------------------------------

int kxoGIF::GetTransparentColor(uint32_t* index) {
    if (!KXF_KeyIs(this, "GIF89A_TRANSPARENCY", "ON")) return 0;
    char value[64];
    int64_t n = 0;
    if (GetKey("GIF89A_TRANSPARENT_COLOR", value, sizeof(value)) != 1 || !parseNumber(value, &n)) return 0;
    if (n < 0 || n > 255) return 0;
    *index = static_cast<uint32_t>(n);
    return 1;
}

int kxoGIF::UseLocalColorMap() { return KXF_KeyIs(this, "LOCALCOLORMAP", "ON") ? 1 : 0; }
int kxoGIF::SaveInterlaced() { return KXF_KeyIs(this, "SAVE_INTERLACED", "ON") ? 1 : 0; }
int kxoGIF::TiledSaving() { return KXF_KeyIs(this, "TILED_SAVING", "OFF") ? 0 : 1; }

int kxoGIF::TiledLoading(int64_t* selection) {
    *selection = -1;
    if (!KXF_KeyIs(this, "TILED_LOADING", "OFF")) return 1;
    char value[64];
    int64_t n = 0;
    *selection = GetKey("TILE_NUMBER", value, sizeof(value)) == 1 && parseNumber(value, &n) ? n : 1;
    return 0;
}

int kxoGIF::AnimLoading() {
    char value[64];
    if (GetKey("ANIM_LOADING", value, sizeof(value)) != 1) return -1;
    if (strcasecmp(value, "FIRST") == 0) return 0;
    if (strcasecmp(value, "LAST") == 0) return -2;
    return -1;
}

// ---- reading -----------------------------------------------------------------

uint32_t kxoGIF::CheckFile(FILE* file, const char* /*name*/, int32_t mode) {
    if (mode != KXIO_FILE || !file) return 0;
    char sig[6];
    if (KXF_PeekHead(file, sig, sizeof(sig)) != sizeof(sig)) return 0;
    return memcmp(sig, "GIF87a", 6) == 0 || memcmp(sig, "GIF89a", 6) == 0 ? 1 : 0;
}

// Any introducer but "!" passes unread (the trailer and stray bytes too).
// Graphic control values are only ever set: they stay in force for later
// images until another extension replaces them. Only the first sub-block
// of a comment becomes the annotation; the last comment of the file wins.
void kxoGIF::ReadExtension(KXByteReader& r, int introducer, ExtState* st) {
    if (introducer != '!') return;
    const int label = r.next();
    if (label < 0) return;
    if (label == 0xF9) {
        uint8_t b[5];  // block size (ignored), flags, delay, transparent index
        if (r.bytes(b, sizeof(b))) {
            if (b[1] & 1) {
                st->transparentIndex = b[4];
                st->transparent = 1;
            }
            st->disposal = (b[1] >> 2) & 7;
            st->delay = le16At(b + 2);
        }
    } else if (label == 0xFE) {
        const uint64_t here = r.tell();
        const int n = r.next();
        if (n > 0) {
            FreeVec(Anno);
            Anno = static_cast<char*>(AllocVec(static_cast<size_t>(n) + 1, MEMF_CLEAR));
            if (Anno && r.some(Anno, static_cast<size_t>(n)) != static_cast<size_t>(n)) {
                FreeVec(Anno);
                Anno = nullptr;
            }
        }
        r.seek(here);
    }
    skipSubBlocks(r);
}

// First pass: records where the images are, whether their colour tables
// differ from the reference, whether the file is animated and transparent.
uint32_t kxoGIF::ScanFile(KXByteReader& r, Scan* scan) {
    uint8_t table[768];
    for (;;) {
        const int c = r.next();
        if (c < 0) break;
        if (c != ',') {
            ReadExtension(r, c, &scan->ext);
            if (scan->ext.transparent) scan->anyTransparent = true;
            continue;
        }
        if (scan->count == 0) scan->firstImage = r.tell();
        if (OffsetCount < OffsetCapacity) Offsets[OffsetCount++] = static_cast<uint32_t>(r.tell());
        ++scan->count;
        if (!r.bytes(Descriptor, sizeof(Descriptor))) return KXERR_EOF;
        const uint32_t left = le16At(Descriptor), top = le16At(Descriptor + 2);
        const uint32_t width = le16At(Descriptor + 4), height = le16At(Descriptor + 6);
        if (left + width > scan->screenWidth || top + height > scan->screenHeight) return KXERR_DECODE;
        if (scan->ext.delay != 0) scan->animated = true;
        if (Descriptor[8] & 0x80) {
            const uint32_t localDepth = (Descriptor[8] & 7) + 1;
            const size_t n = size_t(3) << localDepth;
            if (!scan->hasReference) {
                if (!r.bytes(scan->reference, n)) return KXERR_EOF;
                scan->hasReference = true;
            } else {
                // The first image's table takes part too: drawn on a palette
                // canvas of the global colours it would show the wrong ones.
                if (!r.bytes(table, n)) return KXERR_EOF;
                if (memcmp(table, scan->reference, n) != 0) scan->differing = true;
            }
            // The canvas must hold every index any table offers.
            if (localDepth > scan->depth) scan->depth = localDepth;
        }
        if (r.next() < 0) return KXERR_EOF;  // LZW minimum code size
        for (;;) {
            const int n = r.next();
            if (n < 0) return KXERR_EOF;
            if (n == 0) break;
            if (!r.skip(static_cast<uint64_t>(n))) return KXERR_EOF;
        }
        // Where the data ends, so that decoding need not walk it twice.
        if (scan->count <= OffsetCapacity) DataEnds[scan->count - 1] = r.tell();
    }
    return scan->count ? KXERR_NONE : KXERR_NOVIEWABLEDATA;
}

// Decodes the image whose descriptor is in Descriptor from the LZW minimum
// code size byte at the reader's position into pixels (width x height of
// the descriptor). Only the image's own sub-blocks are read, up to their
// terminator or the end of the file; the reader is left after them.
// rowsReached: the pixels are cleared, see GifLzwDecode.
uint32_t kxoGIF::ReadImage(KXByteReader& r, uint8_t** pixels, uint32_t* size, bool single, uint8_t* rowsReached) {
    const uint32_t width = le16At(Descriptor + 4), height = le16At(Descriptor + 6);
    const uint64_t start = r.tell();
    uint64_t end = 0;
    if (ImageIndex < OffsetCount && ImageIndex < OffsetCapacity) {
        end = DataEnds[ImageIndex];  // found by the scan
        if (end <= start) return KXERR_EOF;
    } else {
        if (r.next() < 0) return KXERR_EOF;
        skipSubBlocks(r);
        end = r.tell();
        if (!r.seek(start)) return KXERR_EOF;
    }
    // The block is decoded as it is read, so that only a window of it is
    // ever held beside the picture.
    const uint64_t length = end - start;
    const size_t windowSize = static_cast<size_t>(length < kReadWindow ? (length ? length : 1) : kReadWindow);
    auto* window = static_cast<uint8_t*>(AllocVec(windowSize, MEMF_ANY));
    if (!window) return KXERR_NOMEMORY;
    uint32_t err = GifLzwDecode(readSource, &r, length, window, windowSize, width, height, *pixels, *pixels + *size,
                                (Descriptor[8] & 0x40) != 0, single ? RelayProgress : nullptr, this, rowsReached);
    FreeVec(window);
    // Data after the end code is passed over; seeking costs the stream its buffer.
    if (r.tell() != end && !r.seek(end)) err = KXERR_EOF;
    return err;
}

uint32_t kxoGIF::LoadSingle(KXByteReader& r, const Scan& scan) {
    if (!r.seek(scan.firstImage) || !r.bytes(Descriptor, sizeof(Descriptor))) return KXERR_EOF;
    uint8_t palette[768];
    memcpy(palette, scan.global, sizeof(palette));
    uint32_t depth = scan.headerDepth;
    if (Descriptor[8] & 0x80) {
        // Entries beyond a shorter local table keep the global colours.
        depth = (Descriptor[8] & 7) + 1;
        if (!r.bytes(palette, size_t(3) << depth)) return KXERR_EOF;
    }
    const uint32_t width = le16At(Descriptor + 4), height = le16At(Descriptor + 6);
    uint32_t err = KXF_NewImage(&LoadedBuffer, ONEPLANE, width, height, depth, 8, true);
    if (err) return err;
    KX_GfxBuffer* img = LoadedBuffer;
    memcpy(img->Palette, palette, sizeof(palette));
    // The picture comes cleared: rows the data never reaches stay untouched.
    auto* reached = static_cast<uint8_t*>(AllocVec(height, MEMF_CLEAR));
    if (!reached) return KXERR_NOMEMORY;
    err = ReadImage(r, &img->Data, &img->BufferSize, true, reached);
    FreeVec(reached);
    if (err) return err;
    if (scan.anyTransparent) {
        img->Version = 3;
        img->NativeDIPF = 0;
        img->AlphaType = KXALPHA_SINGLECOLOR;
        KXSUP_SetAlphaIndex(img, scan.ext.transparentIndex);
    }
    return KXERR_NONE;
}

// Several images drawn on one canvas of the logical screen. selection -1
// draws all of them in file order; otherwise only the image for which the
// number of images not yet drawn, itself included, equals selection.
//
// The canvas comes cleared from the allocator and a row takes its
// background (and its opaque alpha) only when an image is first drawn on
// it, or at the end: a huge screen with a few small images and a
// background of 0 costs no memory beyond the rows drawn on, and nothing is
// written twice.
uint32_t kxoGIF::LoadComposite(KXByteReader& r, Scan& scan, int64_t selection) {
    const bool rgb = scan.differing;
    uint32_t err = KXF_NewImage(&LoadedBuffer, ONEPLANE, scan.screenWidth, scan.screenHeight, rgb ? 24 : scan.depth,
                                rgb ? 24 : 8, true);
    if (err) return err;
    KX_GfxBuffer* img = LoadedBuffer;
    const uint32_t canvasWidth = img->Width, canvasHeight = img->Height;
    if (!rgb) memcpy(img->Palette, scan.reference, sizeof(scan.reference));

    // Alpha: a 24-bit canvas carries a map that starts opaque, a palette
    // canvas of all images a table of 256 values. A failed allocation leaves
    // the canvas without alpha.
    uint8_t* alphaMap = nullptr;
    uint8_t* alphaTable = nullptr;
    if (scan.anyTransparent && rgb) {
        if (KXF_AttachAlpha8(img) == KXERR_NONE) {
            alphaMap = KXSUP_AlphaBytes(img);
            img->NativeDIPF = 0;
        }
    } else if (scan.anyTransparent && selection == -1) {
        alphaTable = static_cast<uint8_t*>(AllocVec(256, MEMF_ANY));
        if (alphaTable) {
            memset(alphaTable, 255, 256);
            img->Version = 3;
            img->NativeDIPF = 0;
            img->AlphaType = KXALPHA_MULTICOLOR;
            img->AlphaData = alphaTable;
        }
    }

    // The background: a 24-bit canvas takes the reference colour of a
    // background index other than 0, else every byte is the index.
    uint8_t fill[3] = {scan.background, scan.background, scan.background};
    if (rgb && scan.background != 0) memcpy(fill, scan.reference + scan.background * 3, 3);
    const bool fillIsZero = fill[0] == 0 && fill[1] == 0 && fill[2] == 0;
    // Canvas rows that still hold the allocator's zeros rather than their
    // background and alpha.
    auto* pristine = static_cast<uint8_t*>(AllocVec(canvasHeight, MEMF_ANY));
    if (!pristine) return KXERR_NOMEMORY;
    memset(pristine, 1, canvasHeight);
    auto layRow = [&](uint32_t y) {
        if (!pristine[y]) return;
        pristine[y] = 0;
        uint8_t* p = img->Data + uint64_t(y) * canvasWidth * (rgb ? 3 : 1);
        if (!fillIsZero) {
            if (!rgb) {
                memset(p, fill[0], canvasWidth);
            } else {
                for (uint32_t x = 0; x < canvasWidth; ++x, p += 3) memcpy(p, fill, 3);
            }
        }
        if (alphaMap) memset(alphaMap + uint64_t(y) * canvasWidth, 255, canvasWidth);
    };

    // Second pass, with the graphic control values read afresh, so that the
    // last extension of the file does not apply to the first images.
    if (!r.seek(scan.dataStart)) {
        FreeVec(pristine);
        return KXERR_EOF;
    }
    ExtState st;
    uint8_t table[768];
    uint8_t* pixels = nullptr;
    uint8_t* reached = nullptr;
    ImageIndex = 0;
    while (ImageIndex < scan.count) {
        const int c = r.next();
        if (c < 0) {
            err = KXERR_EOF;
            break;
        }
        if (c != ',') {
            ReadExtension(r, c, &st);
            continue;
        }
        const uint32_t remaining = scan.count - ImageIndex;
        bool draw = true;
        bool dispose = false;
        if (selection != -1) {
            draw = static_cast<uint64_t>(selection) == remaining;
        } else if (remaining > 1) {
            if (st.disposal == 3) draw = false;
            if (st.disposal == 2) dispose = true;
        }
        if (!r.bytes(Descriptor, sizeof(Descriptor))) {
            err = KXERR_EOF;
            break;
        }
        const uint32_t left = le16At(Descriptor), top = le16At(Descriptor + 2);
        const uint32_t width = le16At(Descriptor + 4), height = le16At(Descriptor + 6);
        if (left + width > scan.screenWidth || top + height > scan.screenHeight) {
            err = KXERR_DECODE;
            break;
        }
        memcpy(table, scan.reference, sizeof(table));
        if ((Descriptor[8] & 0x80) && !r.bytes(table, size_t(3) << ((Descriptor[8] & 7) + 1))) {
            err = KXERR_EOF;
            break;
        }

        const uint32_t size = width * height;
        if (!draw || size == 0) {
            if (r.next() < 0) {
                err = KXERR_EOF;
                break;
            }
            skipSubBlocks(r);
            ++ImageIndex;
            continue;
        }
        if (selection != -1 && st.transparent && !rgb) {
            img->Version = 3;
            img->NativeDIPF = 0;
            img->AlphaType = KXALPHA_SINGLECOLOR;
            KXSUP_SetAlphaIndex(img, st.transparentIndex);
        }
        pixels = static_cast<uint8_t*>(AllocVec(size, MEMF_CLEAR));
        reached = static_cast<uint8_t*>(AllocVec(height, MEMF_CLEAR));
        if (!pixels || !reached) {
            err = KXERR_NOMEMORY;
            break;
        }
        uint32_t pixelCount = size;
        err = ReadImage(r, &pixels, &pixelCount, false, reached);
        if (err) break;
        const uint32_t leftAfter = remaining - 1;
        if (ProgressHook && leftAfter % 4 == 0)
            KXF_Progress(this, static_cast<uint32_t>(uint64_t(scan.count - leftAfter) * 100 / scan.count));

        for (uint32_t y = 0; y < height; ++y) {
            const uint64_t canvasRow = uint64_t(top) + y;
            // A disposed image draws its background index everywhere; rows
            // the data never reached hold index 0 (still the allocator's
            // zeros, never read).
            const bool uniform = dispose || !reached[y];
            const uint8_t index = dispose ? scan.background : 0;
            const uint8_t* colour = table + index * 3;
            // Drawing a row of zeros on a row that is still zeros and needs
            // no background changes nothing and touches nothing.
            if (uniform && pristine[canvasRow] && fillIsZero && !alphaMap &&
                (rgb ? colour[0] == 0 && colour[1] == 0 && colour[2] == 0 : index == 0))
                continue;
            layRow(static_cast<uint32_t>(canvasRow));
            const uint8_t* src = pixels + uint64_t(y) * width;
            if (!rgb) {
                uint8_t* dst = img->Data + canvasRow * canvasWidth + left;
                if (uniform) {
                    memset(dst, index, width);
                } else {
                    memcpy(dst, src, width);
                }
                continue;
            }
            uint8_t* dst = img->Data + (canvasRow * canvasWidth + left) * 3;
            if (uniform) {
                for (uint32_t x = 0; x < width; ++x, dst += 3) memcpy(dst, colour, 3);
            } else {
                for (uint32_t x = 0; x < width; ++x, dst += 3) {
                    const uint8_t* rgbEntry = table + src[x] * 3;
                    dst[0] = rgbEntry[0];
                    dst[1] = rgbEntry[1];
                    dst[2] = rgbEntry[2];
                }
            }
            if (alphaMap) {
                uint8_t* a = alphaMap + canvasRow * canvasWidth + left;
                if (uniform) {
                    memset(a, st.transparent && index == st.transparentIndex ? 0 : 255, width);
                } else {
                    for (uint32_t x = 0; x < width; ++x)
                        a[x] = st.transparent && src[x] == st.transparentIndex ? 0 : 255;
                }
            }
        }
        if (!rgb && alphaTable && st.transparent) alphaTable[st.transparentIndex] = 0;
        FreeVec(pixels);
        FreeVec(reached);
        pixels = reached = nullptr;
        ++ImageIndex;
    }
    FreeVec(pixels);
    FreeVec(reached);
    if (err == KXERR_NONE) {
        // The rows no image was drawn on take the background now.
        if (!fillIsZero || alphaMap)
            for (uint32_t y = 0; y < canvasHeight; ++y) layRow(y);
    }
    FreeVec(pristine);
    return err;
}

uint32_t kxoGIF::LoadBody() {
    FreeVec(Offsets);
    FreeVec(DataEnds);
    Offsets = static_cast<uint32_t*>(AllocVec(sizeof(uint32_t) * OffsetCapacity, MEMF_ANY));
    DataEnds = static_cast<uint64_t*>(AllocVec(sizeof(uint64_t) * OffsetCapacity, MEMF_ANY));
    if (!Offsets || !DataEnds) return KXERR_NOMEMORY;
    ImageIndex = 0;
    OffsetCount = 0;
    if (ReadFile) amSetVBuf(ReadFile, nullptr, _IOFBF, 4096);

    KXByteReader r(ReadFile);
    if (!r.bytes(Header, sizeof(Header))) return KXERR_EOF;
    SubFormatId = Header[4] == '7' ? 0 : 1;

    Scan scan;
    scan.screenWidth = le16At(Header + 6);
    scan.screenHeight = le16At(Header + 8);
    scan.headerDepth = scan.depth = (Header[10] & 7) + 1;
    if (Header[10] & 0x80) {
        if (!r.bytes(scan.global, size_t(3) << scan.headerDepth)) return KXERR_EOF;
        memcpy(scan.reference, scan.global, sizeof(scan.global));
        scan.hasGlobal = scan.hasReference = true;
    } else {
        Header[11] = 0;
    }
    scan.background = Header[11];
    scan.dataStart = r.tell();

    uint32_t err = ScanFile(r, &scan);
    if (err) return err;

    // Which images to draw: -1 all; otherwise the one for which the number
    // of images not yet drawn, itself included, equals the selection (the
    // image count is the first image, 1 the last).
    int64_t selection = -1;
    bool chosen = false;
    if (scan.animated) {
        const int anim = AnimLoading();
        if (anim == -2 || anim == 0) {
            selection = anim == -2 ? 1 : scan.count;
            chosen = true;
        }
    }
    if (!chosen && scan.count > 1 && !TiledLoading(&selection)) {
        // A number that selects no image (0, negative, too large) draws the last.
        if (selection < 1 || static_cast<uint64_t>(selection) > scan.count) selection = 1;
    }
    if (scan.count == 1) return LoadSingle(r, scan);
    return LoadComposite(r, scan, selection);
}

uint32_t kxoGIF::Load() { return KXF_Load(this, &kxoGIF::LoadBody); }

// ---- writing -----------------------------------------------------------------

bool kxoGIF::Is87a() const { return SelectedSubFormat == SubFormatIds[kSubFormat87a]; }

void kxoGIF::WriteHeader(KXByteWriter& w, uint8_t flags) {
    memcpy(Header, Is87a() ? "GIF87a" : "GIF89a", 6);
    putLe16(Header + 6, SaveBuffer->Width);
    putLe16(Header + 8, SaveBuffer->Height);
    Header[10] = flags;
    Header[11] = 0;  // background index
    Header[12] = 0;  // aspect ratio
    w.bytes(Header, sizeof(Header));
}

void kxoGIF::WriteColorMap(KXByteWriter& w) { w.bytes(SaveBuffer->Palette, size_t(3) << SaveBuffer->ColorDepth); }

uint32_t kxoGIF::SavePalette(KXByteWriter& w, uint8_t* area, size_t areaSize) {
    const KX_GfxBuffer* b = SaveBuffer;
    const uint32_t depth = b->ColorDepth;
    WriteHeader(w, static_cast<uint8_t>(0x80 | (depth - 1)));
    WriteColorMap(w);
    if (!Is87a()) {
        uint32_t index = 0;
        bool transparent = GetTransparentColor(&index) == 1;
        if (!transparent && KXSUP_AlphaHolds(b) == KXALPHA_SINGLECOLOR) {
            index = KXSUP_AlphaIndex(b) & 0xFF;
            transparent = true;
        }
        if (transparent) {
            const uint8_t gce[8] = {0x21, 0xF9, 0x04, 0x01, 0, 0, static_cast<uint8_t>(index), 0};
            w.bytes(gce, sizeof(gce));
        }
    }
    const bool local = UseLocalColorMap() == 1;
    memset(Descriptor, 0, sizeof(Descriptor));
    putLe16(Descriptor + 4, b->Width);
    putLe16(Descriptor + 6, b->Height);
    Descriptor[8] = static_cast<uint8_t>((local ? 0x80 : 0) | (depth - 1) | (SaveInterlaced() ? 0x40 : 0));
    w.u8(',');
    w.bytes(Descriptor, sizeof(Descriptor));
    if (local) WriteColorMap(w);
    // The block goes out as it is compressed.
    const uint32_t err = Lzw.EncodeImage(writeSink, &w, area, areaSize, b->Data, b->Width, b->Height, depth,
                                         SaveInterlaced() ? kGifInterlaced : 0, RelayProgress, this);
    if (!w.ok()) return KXERR_IO;
    if (err) return err;
    w.u8(';');
    return w.ok() ? KXERR_NONE : KXERR_IO;
}

// A tile never has more than 256 pixels, so each pixel owns an entry of
// the tile's colour table and the picture is kept without loss.
uint32_t kxoGIF::SaveTiled(KXByteWriter& w, uint8_t* area, size_t areaSize) {
    const KX_GfxBuffer* b = SaveBuffer;
    const uint32_t tilesAcross = (b->Width + kTile - 1) / kTile;
    const uint32_t tilesDown = (b->Height + kTile - 1) / kTile;
    WriteHeader(w, 0x87);
    uint8_t palette[768];
    uint8_t indices[kTile * kTile];
    for (uint32_t i = 0; i < kTile * kTile; ++i) indices[i] = static_cast<uint8_t>(i);
    for (uint32_t ty = 0; ty < tilesDown; ++ty) {
        KXF_Progress(this, ty * 100 / tilesDown);
        for (uint32_t tx = 0; tx < tilesAcross; ++tx) {
            const uint32_t left = tx * kTile, top = ty * kTile;
            const uint32_t tw = b->Width - left < kTile ? b->Width - left : kTile;
            const uint32_t th = b->Height - top < kTile ? b->Height - top : kTile;
            memset(palette, 0, sizeof(palette));
            uint8_t* entry = palette;
            for (uint32_t y = 0; y < th; ++y) {
                const uint8_t* src = b->Data + ((uint64_t(top) + y) * b->Width + left) * 3;
                memcpy(entry, src, size_t(tw) * 3);
                entry += size_t(tw) * 3;
            }
            if (tx == 0 && ty == 0) w.bytes(palette, sizeof(palette));
            if (!Is87a()) {
                static const uint8_t gce[8] = {0x21, 0xF9, 0x04, 0x04, 0, 0, 0, 0};
                w.bytes(gce, sizeof(gce));
            }
            memset(Descriptor, 0, sizeof(Descriptor));
            putLe16(Descriptor, left);
            putLe16(Descriptor + 2, top);
            putLe16(Descriptor + 4, tw);
            putLe16(Descriptor + 6, th);
            Descriptor[8] = 0x87;
            w.u8(',');
            w.bytes(Descriptor, sizeof(Descriptor));
            w.bytes(palette, sizeof(palette));
            uint8_t* out = area;
            const uint32_t err = Lzw.EncodeImage(&out, area + areaSize, indices, tw, th, 8, 0);
            if (err) return err;
            w.bytes(area, static_cast<size_t>(out - area));
            if (!w.ok()) return KXERR_IO;
        }
    }
    w.u8(';');
    return w.ok() ? KXERR_NONE : KXERR_IO;
}

uint32_t kxoGIF::Save() {
    uint32_t err = KXF_SaveChecks(this);
    if (err) return err;
    const KX_GfxBuffer* b = SaveBuffer;
    const bool tiled = b->ColorDepth == 24;
    if (tiled) {
        if (!TiledSaving()) return KXERR_NO24BIT;
        if (b->PixelBits != 24) return KXERR_NOTSUPPORTED;
    } else if (b->ColorDepth < 1 || b->ColorDepth > 8 || b->PixelBits != 8) {
        return KXERR_NOTSUPPORTED;
    }
    // Screen and image sizes are 16-bit fields.
    if (b->Width > 0xFFFF || b->Height > 0xFFFF) return KXERR_FILEREQUIREMENTS;

    // A tile's area comes from a true bound of its compressed size; a
    // palette picture streams through an area of fixed size.
    const uint64_t bound = GifLzwBound(kTile * kTile);
    const size_t areaSize = tiled ? static_cast<size_t>(bound < kTileArea ? kTileArea : bound) : kWriteArea;
    auto* area = static_cast<uint8_t*>(AllocVec(areaSize, MEMF_ANY));
    if (!area) return KXERR_NOMEMORY;

    KXSafeFile sf;
    err = KXF_OpenSave(this, &sf);
    if (err) {
        FreeVec(area);
        return err;
    }
    KXByteWriter w(WriteFile);
    err = tiled ? SaveTiled(w, area, areaSize) : SavePalette(w, area, areaSize);
    FreeVec(area);
    return KXF_EndSave(this, &sf, err);
}
