// kxoTIFF's writer: one big-endian directory, the whole image in one strip.
//
// The directory sits at offset 8 and the data area follows it in a fixed
// order: colour map, strip, XMP, IPTC, ICC profile, EXIF directories, then
// the four texts. The strip's length is only known once it has been
// compressed, so the directory is written last, over room kept for it:
// the strip goes straight into the file, uncompressed or deflated (through
// libdeflate at once, or row by row through zlib for pictures with alpha
// and the other zlib strategies), and a save needs no more memory than the
// picture and its compressed strip.
//
// The record's orientation and texts are main-directory tags; the EXIF
// block (a big-endian one turned little-endian through libexif first)
// follows without the tags the main directory holds, and a text the
// written IPTC records carry is left to them: each value is written once.
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <vector>

#include "core/catalogue.h"
#include "core/exifiptc.h"
#include "core/files.h"
#include "core/gfxbuffer.h"
#include "core/log.h"
#include "core/memory.h"
#include "formats/libraries/kxoTIFF.h"

namespace {

const char* const kTag = "tiff";

void logLine(uint32_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void logLine(uint32_t level, const char* format, ...) {
    if (!__kxlib_log_global) return;
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    __kxlib_log_global->Log(level, "%-16s: %s\n", kTag, text);
}

enum : uint16_t { T_BYTE = 1, T_ASCII = 2, T_SHORT = 3, T_LONG = 4, T_UNDEFINED = 7 };

// Bytes of one value of a TIFF type; 0 for a type TIFF does not define.
uint32_t typeWidth(uint32_t type) {
    static const uint8_t widths[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < sizeof(widths) ? widths[type] : 0;
}

// The unit a value of the type is byte-swapped in (1: not at all).
uint32_t swapUnit(uint32_t type) {
    switch (type) {
        case 3: case 8: return 2;                   // SHORT, SSHORT
        case 4: case 5: case 9: case 10: case 11: case 13: return 4;  // LONG, RATIONAL, SLONG, SRATIONAL, FLOAT, IFD
        case 12: return 8;                          // DOUBLE
        default: return 1;
    }
}

uint16_t le16(const uint8_t* p) { return (uint16_t)(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24; }
void putLe32(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}
void reverse(uint8_t* p, uint32_t n) {
    for (uint32_t i = 0; i < n / 2; ++i) {
        const uint8_t t = p[i];
        p[i] = p[n - 1 - i];
        p[n - 1 - i] = t;
    }
}

// The EXIF block arrives little-endian ("Exif", two zeros, an "II" TIFF
// header, then the directories) and goes into a big-endian file behind
// the main directory. Its offsets count from its TIFF header, so every
// offset grows by the distance between that header and the place the
// directories land in (delta); and every number the directories hold is
// turned to big-endian. The walk collects the changes first and checks
// every directory, entry and data range against the block, so that
// nothing outside it is ever read or written; a directory that does not
// fit is cut off (the link to it becomes 0), and a block whose first
// directory does not fit is not written at all.
//
// Besides the chain from the first directory, the EXIF, GPS and
// interoperability directories are followed wherever their pointers sit
// (the interoperability pointer lives in the EXIF directory), and the
// offsets of a thumbnail (JPEGInterchangeFormat, strip offsets) move with
// the data they point at.
class ExifRelocation {
public:
    ExifRelocation(uint8_t* block, uint32_t size) : B(block), N(size) {}

    // False when the first directory does not fit: write no EXIF then.
    bool collect() {
        if (N < 14 + 2) return false;
        return walk(8, true, 0);
    }

    // Applies the changes for the directories landing at file offset D.
    void apply(uint32_t D) {
        const uint32_t delta = D - 8;
        for (uint32_t at : Relocate) putLe32(B + at, le32(B + at) + delta);
        for (uint32_t at : Zero) putLe32(B + at, 0);
        for (const Swap& s : Swaps) reverse(B + s.At, s.Unit);
    }

private:
    struct Swap {
        uint32_t At;
        uint32_t Unit;
    };

    // Byte position in the block of TIFF offset x, when n bytes fit there.
    bool inside(uint64_t x, uint64_t n, uint32_t* at) const {
        const uint64_t pos = x + 6;
        if (x < 8 || pos + n > N) return false;
        *at = (uint32_t)pos;
        return true;
    }

    void swapRange(uint32_t at, uint64_t bytes, uint32_t unit) {
        if (unit < 2) return;
        for (uint64_t i = 0; i + unit <= bytes; i += unit) Swaps.push_back({at + (uint32_t)i, unit});
    }

    static bool isPointer(uint32_t tag) { return tag == 34665 || tag == 34853 || tag == 40965; }
    static bool isOffset(uint32_t tag) { return tag == 513 || tag == 273 || tag == 324; }

    bool walk(uint32_t x, bool chain, int depth) {
        uint32_t at = 0;
        if (depth > 16 || Seen.size() > 256 || !inside(x, 2, &at)) return false;
        for (uint32_t s : Seen)
            if (s == x) return false;
        Seen.push_back(x);
        const uint32_t count = le16(B + at);
        uint32_t entries = 0;
        if (!inside(x, 2 + 12ull * count + 4, &entries)) return false;
        Swaps.push_back({at, 2});
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t e = at + 2 + 12 * i;
            const uint32_t tag = le16(B + e), type = le16(B + e + 2), n = le32(B + e + 4);
            Swaps.push_back({e, 2});
            Swaps.push_back({e + 2, 2});
            Swaps.push_back({e + 4, 4});
            const uint64_t bytes = (uint64_t)typeWidth(type) * n;
            const uint32_t unit = swapUnit(type);
            if (bytes <= 4) {
                if (isPointer(tag) && n == 1 && (type == T_LONG || type == 13)) {
                    if (walk(le32(B + e + 8), false, depth + 1))
                        Relocate.push_back(e + 8);
                    else
                        Zero.push_back(e + 8);
                } else if (isOffset(tag) && type == T_LONG && n == 1) {
                    Relocate.push_back(e + 8);
                }
                swapRange(e + 8, unit == 2 ? 4 : bytes, unit);
                continue;
            }
            Relocate.push_back(e + 8);
            Swaps.push_back({e + 8, 4});
            uint32_t data = 0;
            if (!inside(le32(B + e + 8), bytes, &data)) continue;  // points elsewhere: left as it is
            if (isOffset(tag) && type == T_LONG)
                for (uint32_t k = 0; k < n; ++k) Relocate.push_back(data + 4 * k);
            swapRange(data, bytes, unit);
        }
        const uint32_t link = at + 2 + 12 * count;
        Swaps.push_back({link, 4});
        const uint32_t next = le32(B + link);
        if (chain && next != 0) {
            if (walk(next, true, depth + 1))
                Relocate.push_back(link);
            else
                Zero.push_back(link);
        }
        return true;
    }

    uint8_t* B;
    uint32_t N;
    std::vector<uint32_t> Seen;
    std::vector<uint32_t> Relocate;
    std::vector<uint32_t> Zero;
    std::vector<Swap> Swaps;
};

// Takes out of the EXIF block's first directory (at TIFF offset 8, where
// the relocation takes it too) the entries whose tags the main directory
// holds itself, so that a reader finds each of them once, in the main
// directory where TIFF keeps them. The entries behind them and the link
// move up; the bytes left behind and the dropped entries' data stay in the
// block unused. A directory that does not fit is left to the relocation,
// which refuses it.
void dropEntries(uint8_t* B, uint32_t N, const std::vector<uint16_t>& tags) {
    const uint32_t at = 14;
    if (tags.empty() || N < at + 2) return;
    const uint32_t count = le16(B + at);
    if ((uint64_t)at + 2 + 12ull * count + 4 > N) return;
    uint32_t kept = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = B + at + 2 + 12 * i;
        if (std::find(tags.begin(), tags.end(), le16(e)) != tags.end()) continue;
        if (kept != i) memmove(B + at + 2 + 12 * kept, e, 12);
        ++kept;
    }
    if (kept == count) return;
    memmove(B + at + 2 + 12 * kept, B + at + 2 + 12 * count, 4);
    B[at] = (uint8_t)kept;
    B[at + 1] = (uint8_t)(kept >> 8);
}

struct Entry {
    uint16_t Tag;
    uint16_t Type;
    uint32_t Count;
    uint32_t Value;
    uint8_t Inline[4];  // a value of up to four bytes, held in the entry
    bool IsInline;
};

// One item of the data area.
struct Item {
    const uint8_t* Data = nullptr;
    uint32_t Length = 0;   // bytes of data
    uint32_t Padding = 0;  // zero bytes after it
    uint32_t Offset = 0;
    bool present() const { return Data != nullptr; }
    // Values of up to four bytes live in the entry itself, as TIFF asks;
    // only longer ones take room in the data area.
    bool inEntry() const { return Length + Padding <= 4; }
    uint32_t room() const { return present() && !inEntry() ? Length + Padding : 0; }
};


struct Plan {
    bool palette = false;
    bool alpha = false;
    bool deflate = false;
    bool newSubfile = false;
    uint16_t exifTag = 0;  // 34665, 330 or none
    uint32_t bits = 8;     // per sample
    uint32_t orientation = 0;  // 1..8, or none
    uint32_t width = 0, height = 0;
    uint32_t stripLength = 0, stripOffset = 0, colourMapOffset = 0, exifOffset = 0;
    Item xmp, iptc, icc, exif;
    Item texts[4];  // Copyright, Artist, ImageDescription, DocumentName
};

void itemEntry(std::vector<Entry>& list, uint16_t tag, uint16_t type, uint32_t count, const Item& item) {
    Entry e = {tag, type, count, item.Offset, {0, 0, 0, 0}, false};
    if (item.inEntry()) {
        e.IsInline = true;
        memcpy(e.Inline, item.Data, item.Length);
    }
    list.push_back(e);
}

// The directory's entries. TIFF asks for them in ascending tag order
// (libtiff warns about any other, strict readers refuse it), so they are
// sorted before they are written; the data area keeps its own order. A
// SHORT value sits in the first two bytes of the value field.
std::vector<Entry> buildEntries(const Plan& p) {
    std::vector<Entry> e;
    auto shortEntry = [&](uint16_t tag, uint32_t v) { e.push_back({tag, T_SHORT, 1, v << 16, {}, false}); };
    auto longEntry = [&](uint16_t tag, uint32_t v) { e.push_back({tag, T_LONG, 1, v, {}, false}); };
    // A side beyond 65535 does not fit a SHORT: LONG keeps it whole.
    auto sizeEntry = [&](uint16_t tag, uint32_t v) { v > 0xFFFF ? longEntry(tag, v) : shortEntry(tag, v); };
    const uint32_t compression = p.deflate ? 8 : 1;
    if (p.newSubfile) shortEntry(254, 0);
    sizeEntry(256, p.width);
    sizeEntry(257, p.height);
    if (p.palette) {
        shortEntry(258, 8);
        shortEntry(259, compression);
        shortEntry(262, 3);
        e.push_back({320, T_SHORT, 768, p.colourMapOffset, {}, false});
        longEntry(273, p.stripOffset);
        longEntry(279, p.stripLength);
        shortEntry(277, 1);
    } else {
        shortEntry(258, p.bits);  // one value for all samples
        shortEntry(259, compression);
        shortEntry(262, 2);
        longEntry(273, p.stripOffset);
        longEntry(279, p.stripLength);
        shortEntry(277, p.alpha ? 4 : 3);
        shortEntry(284, 1);
        if (p.alpha) shortEntry(338, 2);
    }
    if (p.orientation) shortEntry(274, p.orientation);
    if (p.xmp.present()) itemEntry(e, 700, T_ASCII, p.xmp.Length, p.xmp);
    if (p.iptc.present()) itemEntry(e, 33723, T_LONG, (p.iptc.Length + p.iptc.Padding) / 4, p.iptc);
    if (p.icc.present()) itemEntry(e, 34675, T_UNDEFINED, p.icc.Length, p.icc);
    if (p.exif.present()) longEntry(p.exifTag, p.exifOffset);
    static const uint16_t textTags[4] = {33432, 315, 270, 269};
    for (int i = 0; i < 4; ++i)
        if (p.texts[i].present()) itemEntry(e, textTags[i], T_ASCII, p.texts[i].Length, p.texts[i]);
    std::stable_sort(e.begin(), e.end(), [](const Entry& a, const Entry& b) { return a.Tag < b.Tag; });
    return e;
}

void writeEntry(KXByteWriter& w, const Entry& e) {
    w.be16(e.Tag);
    w.be16(e.Type);
    w.be32(e.Count);
    if (e.IsInline)
        w.bytes(e.Inline, 4);
    else
        w.be32(e.Value);
}

// The strip, fed one row at a time, either as it is or through one zlib
// stream; counts what reaches the file.
class StripSink {
public:
    StripSink(FILE* file, bool deflate) : W(file), Deflate(deflate) {}
    ~StripSink() {
        if (Started) deflateEnd(&Z);
        FreeVec(Out);
    }

    uint32_t start(int level, int strategy) {
        if (!Deflate) return KXERR_NONE;
        Out = static_cast<uint8_t*>(AllocVec(kOut, MEMF_ANY));
        if (!Out) return KXERR_NOMEMORY;
        memset(&Z, 0, sizeof(Z));
        const int rc = deflateInit2(&Z, level, Z_DEFLATED, 15, 9, strategy);
        if (rc == Z_MEM_ERROR) return KXERR_NOMEMORY;
        if (rc != Z_OK) return KXERR_ENCODE;
        Started = true;
        Z.next_out = Out;
        Z.avail_out = kOut;
        return KXERR_NONE;
    }

    uint32_t put(const uint8_t* data, size_t length) {
        if (!Deflate) {
            W.bytes(data, length);
            Length += length;
            return W.ok() ? KXERR_NONE : KXERR_IO;
        }
        // zlib takes at most 4 GiB a call.
        while (length) {
            const uInt piece = length > 0x40000000u ? 0x40000000u : (uInt)length;
            Z.next_in = const_cast<Bytef*>(data);
            Z.avail_in = piece;
            if (uint32_t err = pump(Z_NO_FLUSH)) return err;
            data += piece;
            length -= piece;
        }
        return KXERR_NONE;
    }

    // The whole strip at once through libdeflate (the zlib format, as
    // zlib writes it, at two to three times zlib's speed): one compressed
    // block as large as the strip's bound. For the default strategy only,
    // which is the one libdeflate has.
    uint32_t whole(const uint8_t* data, size_t length, int level) {
        libdeflate_compressor* c = libdeflate_alloc_compressor(level);
        if (!c) return KXERR_NOMEMORY;
        const size_t bound = libdeflate_zlib_compress_bound(c, length);
        uint32_t size = 0;
        uint32_t err = KXSUP_CheckSize(&size, bound);
        uint8_t* out = err ? nullptr : static_cast<uint8_t*>(AllocVec(size, MEMF_ANY));
        if (!err && !out) err = KXERR_NOMEMORY;
        size_t n = 0;
        if (!err && (n = libdeflate_zlib_compress(c, data, length, out, size)) == 0) err = KXERR_ENCODE;
        libdeflate_free_compressor(c);
        if (!err) {
            W.bytes(out, n);
            Length += n;
            if (!W.ok()) err = KXERR_IO;
        }
        FreeVec(out);
        return err;
    }

    uint32_t finish() {
        if (!Deflate) return KXERR_NONE;
        Z.next_in = nullptr;
        Z.avail_in = 0;
        return pump(Z_FINISH);
    }

    uint64_t length() const { return Length; }

private:
    static constexpr uInt kOut = 256 * 1024;

    uint32_t pump(int flush) {
        for (;;) {
            const int rc = deflate(&Z, flush);
            if (rc == Z_STREAM_ERROR) return KXERR_ENCODE;
            if (Z.avail_out == 0 || (flush == Z_FINISH && rc == Z_STREAM_END)) {
                const size_t n = kOut - Z.avail_out;
                W.bytes(Out, n);
                Length += n;
                if (!W.ok()) return KXERR_IO;
                Z.next_out = Out;
                Z.avail_out = kOut;
            }
            if (flush == Z_FINISH) {
                if (rc == Z_STREAM_END) return KXERR_NONE;
                if (rc != Z_OK && rc != Z_BUF_ERROR) return KXERR_ENCODE;
                continue;
            }
            if (Z.avail_in == 0) return KXERR_NONE;
            if (rc != Z_OK && rc != Z_BUF_ERROR) return KXERR_ENCODE;
        }
    }

    KXByteWriter W;
    bool Deflate;
    bool Started = false;
    z_stream Z;
    uint8_t* Out = nullptr;
    uint64_t Length = 0;
};

Item textItem(const char* text) {
    Item it;
    if (!text) return it;
    it.Data = reinterpret_cast<const uint8_t*>(text);
    it.Length = (uint32_t)strlen(text) + 1;
    return it;
}

}  // namespace

uint32_t kxoTIFF::Save() {
    uint32_t err = KXF_SaveChecks(this);
    if (err != KXERR_NONE) return err;
    KX_GfxBuffer* b = SaveBuffer;
    const uint32_t depth = b->ColorDepth;
    if (!(depth >= 1 && depth <= 8) && depth != 24 && depth != 48) return KXERR_FILEREQUIREMENTS;
    if (depth == 48 && (err = KXSUP_ConvertGfxBufferEndianess(b, KXENDIAN_BIG)) != KXERR_NONE) return err;

    Plan p;
    p.palette = depth <= 8;
    p.width = b->Width;
    p.height = b->Height;
    p.bits = depth == 48 ? 16 : 8;

    // A map kept from an earlier save belongs to another buffer: fetch afresh.
    if (AlphaMap8Owned) FreeVec(AlphaMap8);
    if (AlphaMap16Owned) FreeVec(AlphaMap16);
    AlphaMap8 = nullptr;
    AlphaMap16 = nullptr;
    AlphaMap8Owned = AlphaMap16Owned = 0;
    bool alpha16Big = false;  // a lent 16-bit map follows the buffer's (now big-endian) order
    if (!p.palette) {
        int allocated = 0;
        if (depth == 24) {
            err = KXSUP_GetAlphaMap8(b, &AlphaMap8, &allocated, 1, 1);
            AlphaMap8Owned = allocated ? 1 : 0;
        } else {
            err = KXSUP_GetAlphaMap16(b, &AlphaMap16, &allocated, 1);
            AlphaMap16Owned = allocated ? 1 : 0;
            alpha16Big = !allocated;
        }
        if (err == KXERR_NOMEMORY) return KXERR_NOMEMORY;
        p.alpha = AlphaMap8 != nullptr || AlphaMap16 != nullptr;
    }

    const uint32_t subtype = SelectedSubFormat;
    if (subtype <= 2) logLine(1, "%s", "Filetype");
    p.newSubfile = subtype == 1 || subtype == 2;
    p.exifTag = subtype == 1 ? 34665 : subtype == 2 ? 330 : 0;
    p.deflate = keyIs("WRITE_DEFLATE", "ON");

    const KXOSpecialInfo* info = SpecialInfo;
    const bool blocks = info && subtype != 0 && info->Version != 0;
    FreeVec(ExifCopy);
    ExifCopy = nullptr;
    ExifCopySize = 0;
    ExifRelocation* relocation = nullptr;
    ExifRelocation relocationStore(nullptr, 0);
    if (blocks) {
        logLine(2, "%s - '%s'", "Checking Metadata", "for EXIF, IPTC, ICCP");
        const uint32_t headerSize = (uint32_t)sizeof(Ps3IptcHeader);
        if (info->Iptc && info->IptcSize > headerSize) {
            p.iptc.Data = info->Iptc + headerSize;
            p.iptc.Length = info->IptcSize - headerSize;
            p.iptc.Padding = (4 - p.iptc.Length % 4) % 4;
        }
        // Each packet with its own size; one without a size is not there.
        if (info->Xmp0 && info->Xmp0Size) {
            p.xmp.Data = info->Xmp0;
            p.xmp.Length = info->Xmp0Size;
        } else if (info->Xmp1 && info->Xmp1Size) {
            p.xmp.Data = info->Xmp1;
            p.xmp.Length = info->Xmp1Size;
        }
        if (info->IccData && info->IccSize) {
            p.icc.Data = info->IccData;
            p.icc.Length = info->IccSize;
        }
    }
    if (info) {
        // A text the written IPTC records carry is left to them: the reader
        // takes it from there, and the file holds each value once.
        bool carried[KXMETATEXT_COUNT];
        KX_MetaTextsCarried(info, false, p.iptc.present(), carried);
        const char* texts[4] = {info->Copy, info->Auth, info->Anno, info->Name};
        const uint32_t fields[4] = {KXMETATEXT_COPY, KXMETATEXT_AUTH, KXMETATEXT_ANNO, KXMETATEXT_NAME};
        for (int i = 0; i < 4; ++i)
            if (!carried[fields[i]]) p.texts[i] = textItem(texts[i]);
        if (info->Orientation >= 1 && info->Orientation <= 8) p.orientation = info->Orientation;
    }
    // The EXIF directories go in little-endian, as the relocation takes
    // them: a big-endian block is turned through libexif first. Without the
    // tags the main directory holds itself.
    if (blocks && !keyIs("WRITE_EXIF", "OFF") && p.exifTag && info->Exif && info->ExifSize > 14) {
        const uint8_t* order = info->Exif + 6;
        if (order[0] == 'I' && order[1] == 'I') {
            ExifCopy = static_cast<uint8_t*>(AllocVec(info->ExifSize, MEMF_ANY));
            if (!ExifCopy) return KXERR_NOMEMORY;
            memcpy(ExifCopy, info->Exif, info->ExifSize);
            ExifCopySize = info->ExifSize;
        } else if (order[0] == 'M' && order[1] == 'M') {
            const uint32_t turned = KX_ExifWithByteOrder(info->Exif, info->ExifSize, true, &ExifCopy, &ExifCopySize);
            if (turned == KXERR_NOMEMORY) return turned;
            if (turned) logLine(2, "%s", "EXIF block could not be turned little-endian: not written");
        }
        if (ExifCopy) {
            static const uint16_t textTags[4] = {33432, 315, 270, 269};
            std::vector<uint16_t> own;
            for (int i = 0; i < 4; ++i)
                if (p.texts[i].present()) own.push_back(textTags[i]);
            if (p.orientation) own.push_back(274);
            dropEntries(ExifCopy, ExifCopySize, own);
            relocationStore = ExifRelocation(ExifCopy, ExifCopySize);
            if (relocationStore.collect()) {
                relocation = &relocationStore;
                p.exif.Data = ExifCopy + 14;
                p.exif.Length = ExifCopySize - 14;
            } else {
                logLine(2, "%s", "EXIF directories do not fit their block: not written");
            }
        }
    }

    // The strip before compression, and the row it is made of.
    const uint32_t sampleBytes = p.bits / 8;
    const uint32_t samples = p.palette ? 1 : (p.alpha ? 4 : 3);
    uint32_t rowBytes = 0;
    if ((err = KXSUP_CheckSize(&rowBytes, p.width, samples, sampleBytes)) != KXERR_NONE) return err;
    uint8_t* row = nullptr;
    if (p.alpha) {
        row = static_cast<uint8_t*>(AllocVec(rowBytes, MEMF_ANY));
        if (!row) return KXERR_NOMEMORY;
    }

    // Offsets: the directory first, then the data area in its order.
    const uint32_t entries = (uint32_t)buildEntries(p).size();
    const uint64_t dataStart = 14 + 12ull * entries;
    uint64_t at = dataStart;
    if (p.palette) {
        p.colourMapOffset = (uint32_t)at;
        at += 1536;
    }
    p.stripOffset = (uint32_t)at;

    // Every offset is 32 bits: an uncompressed strip that cannot end below
    // 4 GiB is refused before anything is written.
    if (!p.deflate && at + (uint64_t)rowBytes * p.height > 0xFFFFFFFFull) {
        FreeVec(row);
        return KXERR_FILEREQUIREMENTS;
    }

    KXSafeFile sf;
    if ((err = KXF_OpenSave(this, &sf)) != KXERR_NONE) {
        FreeVec(row);
        return err;
    }
    KXByteWriter w(WriteFile);
    w.bytes("MM", 2);
    w.be16(42);
    w.be32(8);
    w.zeros(dataStart - 8);
    if (p.palette) {
        // 8-bit palette values in the high byte; entries past 2^depth are 0.
        const uint32_t colours = 1u << depth;
        for (int c = 0; c < 3; ++c)
            for (uint32_t i = 0; i < 256; ++i) w.be16(i < colours ? (uint16_t)(b->Palette[i * 3 + c] << 8) : 0);
    }
    err = w.ok() ? KXERR_NONE : KXERR_IO;

    StripSink strip(WriteFile, p.deflate);
    long level = keyNumber("Z_COMPRESSION", 6);
    if (level < 0 || level > 9) level = 6;
    long strategy = keyNumber("Z_STRATEGY", 0);
    if (strategy < 0 || strategy > 3) strategy = 0;
    static const int strategies[4] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE};
    const bool whole = p.deflate && !p.alpha && strategy == 0;
    if (!err && whole) {
        err = strip.whole(b->Data, (size_t)rowBytes * p.height, (int)level);
    } else if (!err) {
        err = strip.start((int)level, strategies[strategy]);
    }
    if (!err && !whole && !p.alpha) {
        // The pixels are the strip: rows packed, as the buffer holds them.
        const uint32_t rowsPerPut = p.deflate ? 1 : p.height;
        for (uint32_t y = 0; y < p.height && !err; y += rowsPerPut) {
            const uint32_t rows = p.height - y < rowsPerPut ? p.height - y : rowsPerPut;
            err = strip.put(b->Data + (size_t)y * rowBytes, (size_t)rows * rowBytes);
        }
    } else if (!err && !whole) {
        const uint32_t colourBytes = 3 * sampleBytes;
        for (uint32_t y = 0; y < p.height && !err; ++y) {
            const uint8_t* src = b->Data + (size_t)y * p.width * colourBytes;
            uint8_t* d = row;
            if (sampleBytes == 1) {
                const uint8_t* a = AlphaMap8 + (size_t)y * p.width;
                for (uint32_t x = 0; x < p.width; ++x, src += 3, d += 4) {
                    d[0] = src[0];
                    d[1] = src[1];
                    d[2] = src[2];
                    d[3] = a[x];
                }
            } else {
                const uint16_t* a = AlphaMap16 + (size_t)y * p.width;
                for (uint32_t x = 0; x < p.width; ++x, src += 6, d += 8) {
                    memcpy(d, src, 6);
                    uint16_t v = a[x];
                    if (alpha16Big) {
                        memcpy(d + 6, &v, 2);
                    } else {
                        d[6] = (uint8_t)(v >> 8);
                        d[7] = (uint8_t)v;
                    }
                }
            }
            err = strip.put(row, rowBytes);
        }
    }
    if (!err && !whole) err = strip.finish();
    FreeVec(row);
    if (!err && at + strip.length() > 0xFFFFFFFFull) err = KXERR_FILEREQUIREMENTS;

    if (!err) {
        p.stripLength = (uint32_t)strip.length();
        at += strip.length();
        // Each item where the ones before it end.
        Item* order[] = {&p.xmp, &p.iptc, &p.icc, &p.exif, &p.texts[0], &p.texts[1], &p.texts[2], &p.texts[3]};
        for (Item* it : order) {
            it->Offset = (uint32_t)at;
            at += it->room();
        }
        if (at > 0xFFFFFFFFull) err = KXERR_FILEREQUIREMENTS;
        p.exifOffset = p.exif.Offset;
    }
    if (!err) {
        if (p.xmp.present()) logLine(2, "%s - '%s'", "Saving Metadata", "XMP");
        if (p.iptc.present()) logLine(2, "%s - '%s'", "Saving Metadata", "IPTC");
        if (p.icc.present()) logLine(2, "%s - '%s'", "Saving Metadata", "ICCP");
        if (p.exif.present() && !p.palette) logLine(2, "%s - '%s'", "Saving Metadata", "EXIF");
        if (relocation && p.exif.present()) relocation->apply(p.exifOffset);
        KXByteWriter d(WriteFile);
        const Item* order[] = {&p.xmp, &p.iptc, &p.icc, &p.exif, &p.texts[0], &p.texts[1], &p.texts[2], &p.texts[3]};
        for (const Item* it : order) {
            if (!it->room()) continue;
            d.bytes(it->Data, it->Length);
            d.zeros(it->Padding);
        }
        // The directory, now that every offset is known.
        const std::vector<Entry> list = buildEntries(p);
        if (fseeko(WriteFile, 8, SEEK_SET) != 0) err = KXERR_IO;
        KXByteWriter ifd(WriteFile);
        ifd.be16((uint16_t)list.size());
        for (const Entry& e : list) writeEntry(ifd, e);
        ifd.be32(0);
        if (!err && (!d.ok() || !ifd.ok() || list.size() != entries)) err = KXERR_IO;
    }
    return KXF_EndSave(this, &sf, err);
}
