// kxoBMP: Windows and OS/2 bitmaps (see kxoBMP.h).
#include "formats/raster/kxoBMP.h"

#include <cstring>
#include <memory>

namespace {

const char* const TAG = "bmp";
const uint32_t SUBFORMAT_V5 = 1;  // id of "v5"

struct VecDeleter {
    void operator()(void* p) const { FreeVec(p); }
};
using VecPtr = std::unique_ptr<uint8_t, VecDeleter>;

// Swaps the first and third byte of each 3-byte pixel (BGR <-> RGB) of a
// whole row. Distinct buffers and plain indexing, so that the compiler
// turns it into vector shuffles; the byte shuffle needs SSSE3, which the
// x86-64 baseline lacks, so x86-64 builds also get clones for SSSE3 and
// AVX2, picked once at start-up.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
__attribute__((target_clones("avx2", "ssse3", "default")))
#endif
void swapRgbRow(const uint8_t* __restrict src, uint8_t* __restrict dst, size_t width) {
    for (size_t x = 0; x < width; ++x) {
        dst[3 * x] = src[3 * x + 2];
        dst[3 * x + 1] = src[3 * x + 1];
        dst[3 * x + 2] = src[3 * x];
    }
}

bool startsWithNoCase(const uint8_t* p, const char* s) {
    for (; *s; ++s, ++p) {
        int a = *p, b = (uint8_t)*s;
        if (a >= 'a' && a <= 'z') a -= 32;
        if (a != b) return false;
    }
    return true;
}

// The offset of the bitmap inside the first 32 bytes: 0 plain, 20 in a
// RIFF "RDIB" wrapper, -1 when neither.
int bitmapBase(const uint8_t* head, size_t n) {
    if (n >= 2 && startsWithNoCase(head, "BM")) return 0;
    if (n >= 22 && startsWithNoCase(head, "RIFF") && startsWithNoCase(head + 8, "RDIBDATA") && startsWithNoCase(head + 20, "BM"))
        return 20;
    return -1;
}

struct Header {
    uint32_t headerSize = 0;
    uint32_t bitmapOffset = 0;
    uint32_t width = 0, height = 0;
    bool topDown = false;
    uint32_t planes = 0, bitCount = 0, compression = 0, imageSize = 0;
    bool os2 = false;
    uint32_t masks[4] = {};  // red, green, blue, alpha
    bool haveMasks = false, haveAlphaMask = false;
    uint32_t csType = 0, profileOffset = 0, profileSize = 0;
};

// Reads and checks the file and information headers; the reader then
// stands at the end of what was read (header, masks).
uint32_t readHeader(KXByteReader& r, Header& h, KXObject* o) {
    uint8_t magic[2];
    r.bytes(magic, 2);
    uint32_t fileSize = r.le32();
    r.skip(4);
    h.bitmapOffset = r.le32();
    h.headerSize = r.le32();
    if (!r.ok()) return KXERR_EOF;
    if (!startsWithNoCase(magic, "BM")) return KXERR_UNKNOWNFORMAT;
    if (h.headerSize > 12) {
        KXF_Log(o, 5, TAG, "%s\n", "Non-OS/2 Header");
        int32_t w = (int32_t)r.le32();
        int32_t ht = (int32_t)r.le32();
        h.planes = r.le16();
        h.bitCount = r.le16();
        h.compression = r.le32();
        h.imageSize = r.le32();
        r.skip(16);  // resolutions, colours used, important colours
        if (!r.ok()) return KXERR_EOF;
        if (w <= 0 || ht == 0 || ht == INT32_MIN) return KXERR_FILEREQUIREMENTS;
        h.width = (uint32_t)w;
        h.topDown = ht < 0;
        h.height = (uint32_t)(ht < 0 ? -ht : ht);
        KXF_Log(o, 5, TAG,
                "\n\t\t\tPlanes  : %ld\n\t\t\tBPP     : %ld\n\t\t\tWidth   : %ld\n\t\t\tHeight  : %ld\n\t\t\tSize    : %ld\n\t\t\t"
                "Delta   : %ld\n\t\t\tOffset  : %ld\n\t\t\tBytes   : %ld\n",
                (long)h.planes, (long)h.bitCount, (long)h.width, (long)h.height, (long)fileSize, (long)h.headerSize,
                (long)h.bitmapOffset, (long)h.imageSize);
        if (h.headerSize == 40 && h.compression == 3) {
            KXF_Log(o, 5, TAG, "%s\n", "NT-style v3 Header");
            for (int i = 0; i < 3; ++i) h.masks[i] = r.le32();
            h.haveMasks = true;
        } else if (h.headerSize == 108 || h.headerSize >= 124) {
            bool v5 = h.headerSize >= 124;
            KXF_Log(o, 5, TAG, "%s\n", v5 ? "v5 Header" : "v4 Header");
            if (v5) o->SubFormatId = 1;
            for (int i = 0; i < 4; ++i) h.masks[i] = r.le32();
            h.haveMasks = h.haveAlphaMask = true;
            h.csType = r.le32();
            r.skip(48);  // end points and gammas
            if (v5) {
                uint32_t intent = r.le32();
                h.profileOffset = r.le32();
                h.profileSize = r.le32();
                uint32_t reserved = r.le32();
                KXF_Log(o, 5, TAG, "\n\t\t\tv5 Intent:      %ld\n\t\t\tv5 ProfileData: %ld\n\t\t\tv5 ProfileSize: %ld\n\t\t\tv5 Reserved:    %ld\n",
                        (long)intent, (long)h.profileOffset, (long)h.profileSize, (long)reserved);
            }
            KXF_Log(o, 5, TAG, "\n\t\t\tv4 Alpha Mask: $%08lx\n", (unsigned long)h.masks[3]);
        }
        if (!r.ok()) return KXERR_EOF;
        if (h.haveMasks)
            KXF_Log(o, 5, TAG, "\n\t\t\tv3 Red Mask:   $%08lx\n\t\t\tv3 Green Mask: $%08lx\n\t\t\tv3 Blue Mask:  $%08lx\n",
                    (unsigned long)h.masks[0], (unsigned long)h.masks[1], (unsigned long)h.masks[2]);
    } else {
        KXF_Log(o, 5, TAG, "%s\n", "OS/2 Header");
        if (h.headerSize != 12) return KXERR_FILEREQUIREMENTS;
        h.os2 = true;
        h.width = r.le16();
        h.height = r.le16();
        h.planes = r.le16();
        h.bitCount = r.le16();
        if (!r.ok()) return KXERR_EOF;
        if (h.bitCount > 24 || h.width == 0 || h.height == 0) return KXERR_FILEREQUIREMENTS;
    }
    if (h.bitCount == 0) h.bitCount = 8;
    if (h.compression > 3) return KXERR_FILEREQUIREMENTS;
    if (h.compression <= 2) {
        if (h.planes != 1) return KXERR_FILEREQUIREMENTS;
        if (h.bitCount > 8 && h.bitCount != 16 && h.bitCount != 24 && h.bitCount != 32) return KXERR_FILEREQUIREMENTS;
        if (h.compression == 2 && h.bitCount != 4) return KXERR_FILEREQUIREMENTS;
        if (h.compression == 1 && h.bitCount != 8) return KXERR_FILEREQUIREMENTS;
    } else {
        if (h.bitCount != 16 && h.bitCount != 24 && h.bitCount != 32) return KXERR_FILEREQUIREMENTS;
        if (!h.haveMasks) return KXERR_FILEREQUIREMENTS;
    }
    if (h.bitCount < 8 && h.bitCount != 1 && h.bitCount != 4) return KXERR_DECODE;
    return KXERR_NONE;
}

enum class Pixel16 { RGB555, RGB565 };

// Turns one file row into one image row (file bit count to 8-bit indexes
// or 24-bit RGB); the alpha row gets the fourth byte of 32-bit pixels.
void unpackRow(const uint8_t* src, uint8_t* dst, uint8_t* alpha, uint32_t width, uint32_t bitCount, Pixel16 p16) {
    switch (bitCount) {
    case 1:
        for (uint32_t x = 0; x < width; ++x) dst[x] = (src[x >> 3] >> (7 - (x & 7))) & 1;
        break;
    case 4:
        for (uint32_t x = 0; x < width; ++x) dst[x] = (x & 1) ? (src[x >> 1] & 15) : (src[x >> 1] >> 4);
        break;
    case 8:
        memcpy(dst, src, width);
        break;
    case 16:
        for (uint32_t x = 0; x < width; ++x, dst += 3) {
            uint32_t v = src[2 * x] | src[2 * x + 1] << 8;
            uint32_t r, g, b = v & 31;
            if (p16 == Pixel16::RGB565) {
                r = v >> 11 & 31;
                g = v >> 5 & 63;
                dst[1] = (uint8_t)(g << 2 | g >> 4);
            } else {
                r = v >> 10 & 31;
                g = v >> 5 & 31;
                dst[1] = (uint8_t)(g << 3 | g >> 2);
            }
            dst[0] = (uint8_t)(r << 3 | r >> 2);
            dst[2] = (uint8_t)(b << 3 | b >> 2);
        }
        break;
    case 24:
        swapRgbRow(src, dst, width);
        break;
    case 32:
        for (uint32_t x = 0; x < width; ++x, src += 4, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
            if (alpha) alpha[x] = src[3];
        }
        break;
    }
}

// Run-length decoding of RLE8 (bitCount 8) and RLE4 (bitCount 4) into one
// index per pixel, rows in file order. Bounded by the data (no more than
// `available` bytes), by the row and by the image: pixels past a row's end
// are dropped until the end-of-line code, as other readers do (encoders pad
// runs to the padded row length). Every code consumes input, so the loop ends.
void decodeRle(KXByteReader& r, uint64_t available, uint8_t* image, uint32_t width, uint32_t height, bool topDown,
               uint32_t bitCount, KXObject* o) {
    const uint64_t end = r.tell() + available;
    uint32_t x = 0, y = 0;
    auto next = [&]() -> int { return r.tell() < end ? r.next() : -1; };
    auto row = [&]() { return image + (uint64_t)(topDown ? y : height - 1 - y) * width; };
    uint32_t reported = UINT32_MAX;
    while (y < height) {
        if (y != reported) {
            KXF_RowProgress(o, y, height);
            reported = y;
        }
        int n = next(), c = next();
        if (n < 0 || c < 0) break;
        if (n > 0) {  // a run of n pixels
            uint8_t* line = row();
            for (int k = 0; k < n; ++k, ++x)
                if (x < width) line[x] = bitCount == 8 ? (uint8_t)c : (uint8_t)((k & 1) ? c & 15 : c >> 4);
        } else if (c == 0) {  // end of line
            x = 0;
            ++y;
        } else if (c == 1) {  // end of bitmap
            break;
        } else if (c == 2) {  // delta: right and up
            int dx = next(), dy = next();
            if (dx < 0 || dy < 0) break;
            x += (uint32_t)dx;
            y += (uint32_t)dy;
        } else {  // c literal pixels, padded to an even byte count
            uint8_t* line = row();
            int v = 0;
            for (int k = 0; k < c; ++k, ++x) {
                if (bitCount == 8 || (k & 1) == 0) {
                    v = next();
                    if (v < 0) return;
                }
                if (x < width) line[x] = bitCount == 8 ? (uint8_t)v : (uint8_t)((k & 1) ? v & 15 : v >> 4);
            }
            uint32_t bytes = bitCount == 8 ? (uint32_t)c : ((uint32_t)c + 1) / 2;
            if (bytes & 1) next();
        }
    }
}

}  // namespace

// The registration comes first so that the pad paths follow its pad name.
kxoBMP::kxoBMP(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoBMP");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoBMP::Reset() { FrameReset(); }

uint32_t kxoBMP::CheckFile(FILE* file, const char* name, int32_t mode) {
    (void)name;
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t head[32];
    const size_t n = KXF_PeekHead(file, head, sizeof(head));
    return bitmapBase(head, n) >= 0 ? 1 : 0;
}

uint32_t kxoBMP::Load() { return KXF_Load(this, &kxoBMP::LoadBody); }

uint32_t kxoBMP::LoadBody() {
    KXByteReader r(ReadFile);
    uint8_t head[32] = {};
    r.some(head, sizeof(head));
    int base = bitmapBase(head, (size_t)r.tell());
    if (!r.seek(base < 0 ? 0 : (uint64_t)base)) return KXERR_FILEREQUIREMENTS;
    SubFormatId = 0;

    Header h;
    uint32_t err = readHeader(r, h, this);
    if (err != KXERR_NONE) return err;
    uint64_t b0 = (uint64_t)(base < 0 ? 0 : base);

    if (Compression) FreeVec(Compression);
    Compression = static_cast<char*>(AllocVec(64, MEMF_CLEAR));
    if (Compression) {
        static const char* const names[] = {"BMP:None", "BMP:RLE8", "BMP:RLE4", "BMP:Bitfield"};
        strcpy(Compression, names[h.os2 ? 0 : h.compression]);
    }

    // Pixel layout and masks.
    Pixel16 p16 = Pixel16::RGB555;
    bool alpha = false;
    if (h.compression == 3) {
        const uint32_t* m = h.masks;
        if (h.bitCount == 16) {
            if (m[0] == 0x7C00 && m[1] == 0x3E0 && m[2] == 0x1F)
                p16 = Pixel16::RGB555;
            else if (m[0] == 0xF800 && m[1] == 0x7E0 && m[2] == 0x1F)
                p16 = Pixel16::RGB565;
            else
                return KXERR_FILEREQUIREMENTS;
        } else if (m[0] != 0xFF0000 || m[1] != 0xFF00 || m[2] != 0xFF) {
            return KXERR_FILEREQUIREMENTS;
        }
        // Our writer (and others) declare the fourth byte as alpha this way.
        alpha = h.bitCount == 32 && h.haveAlphaMask && m[3] == 0xFF000000u;
    }

    // The picture's size is checked first (its codes come before any
    // other), then what the file holds, and only then is it allocated.
    const bool palette = h.bitCount <= 8;
    if ((err = KXSUP_CheckSize(nullptr, h.width, h.height, palette ? 1 : 3)) != KXERR_NONE) return err;

    // Colour map: 2^bitCount entries from the end of the declared header.
    uint8_t map[256 * 4];
    const uint32_t entries = palette ? 1u << h.bitCount : 0, entrySize = h.os2 ? 3 : 4;
    if (palette) {
        if (!r.seek(b0 + 14 + (uint64_t)h.headerSize)) return KXERR_EOF;
        if (!r.bytes(map, (size_t)entries * entrySize)) return KXERR_EOF;
        uint64_t p = r.tell();
        if (b0 + h.bitmapOffset < p) {
            KXF_Log(this, 5, TAG, "\nBroken file. BitMapOffset %ld points into colormap ending at %ld. Fixing to %ld...\n",
                    (long)h.bitmapOffset, (long)p, (long)(p - b0));
            h.bitmapOffset = (uint32_t)(p - b0);
        }
    }

    // Pixel data size: rows padded to 4 bytes. The image itself fits 32
    // bits (checked above), so these products fit 64 bits.
    const bool rle = h.compression == 1 || h.compression == 2;
    const uint64_t rowBytes = ((uint64_t)h.width * h.bitCount + 31) / 32 * 4;
    const uint64_t whole = rowBytes * h.height;
    uint64_t dataSize;
    if (h.imageSize == 0) {
        KXF_Log(this, 5, TAG, "%s\n", "No bitmap size given.");
        dataSize = rle ? UINT64_MAX : whole;
    } else if (h.imageSize < whole && h.compression == 0) {
        KXF_Log(this, 5, TAG, "%s\n", "Wrong encoded bitmap size given (encoding: none).");
        dataSize = whole;
    } else if (h.imageSize < whole && h.compression == 3) {
        KXF_Log(this, 5, TAG, "%s\n", "Wrong encoded bitmap size given (encoding: given).");
        dataSize = whole;
    } else {
        // A size larger than the rows need is slack, not missing data.
        dataSize = rle ? h.imageSize : whole;
    }
    const uint64_t start = b0 + h.bitmapOffset;
    const uint64_t available = start < r.size() ? r.size() - start : 0;
    if (available < dataSize) {
        // Rows the file does not hold stay cleared, as fresh pages that
        // nothing touches: a file without a size loads what it holds. One
        // that cannot hold a single row holds no picture at all, and its
        // declared size would only cost memory.
        if (h.imageSize != 0 && h.compression == 0) return KXERR_EOF;
        if (!rle && available < rowBytes) return KXERR_EOF;
        dataSize = available;
    }

    err = KXF_NewImage(&LoadedBuffer, ONEPLANE, h.width, h.height, palette ? h.bitCount : 24, palette ? 8 : 24, true, 8);
    if (err != KXERR_NONE) return err;
    KX_GfxBuffer* img = LoadedBuffer;
    img->ViewMode = KXSUP_BestModeID(h.width, h.height, h.bitCount == 16 && p16 == Pixel16::RGB555 ? 15 : h.bitCount);
    for (uint32_t i = 0; i < entries; ++i) {
        img->Palette[i * 3] = map[i * entrySize + 2];
        img->Palette[i * 3 + 1] = map[i * entrySize + 1];
        img->Palette[i * 3 + 2] = map[i * entrySize];
    }
    if (!r.seek(start < r.size() ? start : r.size())) return KXERR_EOF;

    if (alpha && (err = KXF_AttachAlpha8(img)) != KXERR_NONE) return err;
    uint8_t* alphaMap = alpha ? KXSUP_AlphaBytes(img) : nullptr;

    if (rle) {
        decodeRle(r, dataSize, img->Data, h.width, h.height, h.topDown, h.bitCount, this);
    } else {
        // Uncompressed and bit-field rows; rows missing at the end of a
        // file without a size stay cleared.
        VecPtr row(static_cast<uint8_t*>(AllocVec((size_t)rowBytes, MEMF_CLEAR)));
        if (!row) return KXERR_NOMEMORY;
        const uint32_t outBytes = palette ? h.width : h.width * 3;
        uint64_t left = dataSize;
        for (uint32_t y = 0; y < h.height && left >= rowBytes; ++y, left -= rowBytes) {
            KXF_RowProgress(this, y, h.height);
            if (!r.bytes(row.get(), (size_t)rowBytes)) return KXERR_EOF;
            uint32_t line = h.topDown ? y : h.height - 1 - y;
            unpackRow(row.get(), img->Data + (uint64_t)line * outBytes, alphaMap ? alphaMap + (uint64_t)line * h.width : nullptr,
                      h.width, h.bitCount, p16);
        }
    }

    // Embedded profile: this module's own convention counts its offset
    // from the end of the 124-byte header.
    if (h.headerSize >= 124 && h.csType == 4 && h.profileOffset && h.profileSize) {
        uint64_t at = b0 + 124 + (uint64_t)h.profileOffset;
        KXF_Log(this, 5, TAG, "Reading ICC profile of size %ld from offset %ld\n", (long)h.profileSize, (long)h.profileOffset);
        if (at < r.size() && h.profileSize <= r.size() - at && r.seek(at)) {
            auto* icc = static_cast<uint8_t*>(AllocVec(h.profileSize, MEMF_ANY));
            if (!icc) {
                KXF_Log(this, 5, TAG, "%s\n", "ICC profile buffer allocation failed...");
            } else if (!r.bytes(icc, h.profileSize)) {
                FreeVec(icc);
                KXF_Log(this, 5, TAG, "%s\n", "ICC profile reading failed...");
            } else {
                if (IccData) FreeVec(IccData);
                IccData = icc;
                IccSize = h.profileSize;
            }
        } else {
            KXF_Log(this, 5, TAG, "%s\n", "ICC profile reading failed...");
        }
    }
    return KXERR_NONE;
}

uint32_t kxoBMP::Save() {
    KXOSpecialInfo* meta = SpecialInfo;
    KXF_Log(this, 5, TAG, "MetaData $%lx $%lx\n", (unsigned long)(uintptr_t)meta,
            (unsigned long)(uintptr_t)(meta ? meta->IccData : nullptr));
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    KX_GfxBuffer* src = SaveBuffer;
    if (src->ColorDepth > 8 && src->ColorDepth != 24) return KXERR_NOTSUPPORTED;
    if ((src->ColorDepth <= 8) != (src->PixelBits == 8)) return KXERR_NOTSUPPORTED;
    // Width and height are signed 32-bit fields.
    if (src->Width > 0x7FFFFFFFu || src->Height > 0x7FFFFFFFu) return KXERR_FILEREQUIREMENTS;

    // A fresh alpha map for this image; one left from an earlier save
    // belongs to another picture.
    if (AlphaMap8 && AlphaMap8Owned) FreeVec(AlphaMap8);
    AlphaMap8 = nullptr;
    AlphaMap8Owned = 0;
    if (src->ColorDepth == 24) {
        uint8_t* map = nullptr;
        int owned = 0;
        err = KXSUP_GetAlphaMap8(src, &map, &owned, 1, 1);
        if (err == KXERR_NOMEMORY) return err;
        if (err == KXERR_NONE && map) {
            AlphaMap8 = map;
            AlphaMap8Owned = owned ? 1 : 0;
        }
    }
    const uint8_t* icc = nullptr;
    uint32_t iccSize = 0;
    if (SelectedSubFormat == SUBFORMAT_V5 && meta && meta->IccData && meta->IccSize) {
        icc = meta->IccData;
        iccSize = meta->IccSize;
    }
    return WriteBody(AlphaMap8, icc, iccSize);
}

uint32_t kxoBMP::WriteBody(const uint8_t* alpha, const uint8_t* icc, uint32_t iccSize) {
    KX_GfxBuffer* src = SaveBuffer;
    const uint32_t w = src->Width, h = src->Height;
    const uint32_t depth = src->ColorDepth;
    const uint32_t bitCount = depth > 8 ? (alpha ? 32 : 24) : depth >= 5 ? 8 : depth >= 2 ? 4 : 1;
    const bool v5 = SelectedSubFormat == SUBFORMAT_V5;
    const uint32_t infoSize = v5 ? 124 : bitCount == 32 ? 108 : 40;
    const uint32_t compression = bitCount == 32 ? 3 : 0;
    const uint32_t mapEntries = bitCount <= 8 ? 1u << bitCount : 0;
    if (!v5) iccSize = 0, icc = nullptr;

    // Every count in 64 bits; the file must fit its 32-bit size fields.
    const uint64_t rowBytes = bitCount == 32 ? (uint64_t)w * 4 : ((uint64_t)w * bitCount + 31) / 32 * 4;
    const uint64_t pixelBytes = rowBytes * h;
    const uint64_t headerBytes = 14 + (uint64_t)infoSize + (uint64_t)mapEntries * 4 + iccSize;
    const uint64_t fileBytes = headerBytes + pixelBytes;
    if (fileBytes > 0xFFFFFFFFull) return KXERR_FILEREQUIREMENTS;
    KXF_Log(this, 5, TAG, "Offset in header %ld\n", (long)headerBytes);
    KXF_Log(this, 5, TAG, "Delta in header %ld\n", (long)infoSize);
    KXF_Log(this, 5, TAG, "BitMap bytes %ld\n", (long)pixelBytes);
    KXF_Log(this, 5, TAG, "File bytes %ld\n", (long)fileBytes);

    VecPtr row(static_cast<uint8_t*>(AllocVec((size_t)rowBytes, MEMF_CLEAR)));
    if (!row) return KXERR_NOMEMORY;

    KXSafeFile sf;
    uint32_t err = KXF_OpenSave(this, &sf);
    if (err != KXERR_NONE) return err;
    KXByteWriter out(WriteFile);

    out.bytes("BM", 2);
    out.le32((uint32_t)fileBytes);
    out.le32(0);
    out.le32((uint32_t)headerBytes);
    out.le32(infoSize);
    out.le32(w);
    out.le32(h);
    out.le16(1);
    out.le16((uint16_t)bitCount);
    out.le32(compression);
    out.le32((uint32_t)pixelBytes);
    out.le32(0);
    out.le32(0);
    out.le32(mapEntries);
    out.le32(bitCount <= 8 ? 1u << (depth ? depth : 1) : 0);
    KXF_Log(this, 5, TAG, "Written v3 header of size %ld (40+x)\n", (long)54);
    if (infoSize >= 108) {
        out.le32(0x00FF0000);
        out.le32(0x0000FF00);
        out.le32(0x000000FF);
        out.le32(0xFF000000u);
        if (icc) KXF_Log(this, 5, TAG, "%s\n", "Set ICC flag in v4 header");
        out.le32(icc ? 4 : 1);
        out.zeros(48);
        KXF_Log(this, 5, TAG, "Written v4 Header of size %ld\n", (long)68);
    }
    if (infoSize >= 124) {
        out.le32(4);
        out.le32(icc ? mapEntries * 4 + 14 : 0);
        out.le32(icc ? iccSize : 0);
        out.le32(0);
        KXF_Log(this, 5, TAG, "Written v5 Header of size %ld\n", (long)16);
    }
    for (uint32_t i = 0; i < mapEntries; ++i) {
        const uint8_t* p = src->Palette + 3 * i;
        uint8_t e[4] = {p[2], p[1], p[0], 0};
        out.bytes(e, 4);
    }
    if (mapEntries) KXF_Log(this, 5, TAG, "Written ColorMap of size %ld\n", (long)mapEntries * 4);
    if (icc) {
        KXF_Log(this, 5, TAG, "Written ICC profile of size %ld to offset %ld\n", (long)iccSize, (long)out.written());
        out.bytes(icc, iccSize);
    }

    // Rows bottom first.
    uint8_t* buf = row.get();
    const uint64_t srcRow = depth > 8 ? (uint64_t)w * 3 : w;
    for (uint32_t i = 0; i < h && out.ok(); ++i) {
        KXF_RowProgress(this, i, h);
        const uint32_t y = h - 1 - i;
        const uint8_t* s = src->Data + y * srcRow;
        switch (bitCount) {
        case 1:
            memset(buf, 0, (size_t)rowBytes);
            for (uint32_t x = 0; x < w; ++x)
                if (s[x] & 1) buf[x >> 3] |= (uint8_t)(0x80 >> (x & 7));
            break;
        case 4:
            memset(buf, 0, (size_t)rowBytes);
            for (uint32_t x = 0; x < w; ++x) buf[x >> 1] |= (uint8_t)((s[x] & 15) << ((x & 1) ? 0 : 4));
            break;
        case 8:
            memcpy(buf, s, w);
            break;
        case 24:
            swapRgbRow(s, buf, w);
            break;
        case 32: {
            const uint8_t* a = alpha + (uint64_t)y * w;
            for (uint32_t x = 0; x < w; ++x) {
                buf[4 * x] = s[3 * x + 2];
                buf[4 * x + 1] = s[3 * x + 1];
                buf[4 * x + 2] = s[3 * x];
                buf[4 * x + 3] = a[x];
            }
            break;
        }
        }
        out.bytes(buf, (size_t)rowBytes);
    }
    if (out.ok()) KXF_Log(this, 5, TAG, "Written BitMap of size %ld\n", (long)pixelBytes);
    return KXF_EndSave(this, &sf, out.ok() ? KXERR_NONE : KXERR_IO);
}
