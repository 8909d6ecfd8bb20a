// kxoTIFF's pre-parser: the header and the selected directory, read field
// by field without libtiff, into the layout the reader chooses its
// decoder by and the own strip reader decodes from.
//
// Every block a directory points at (strip tables, XMP, IPTC, ICC profile,
// transfer function, colorimetry) must lie inside the file: one that does
// not is refused with 29 before anything is allocated for it.
#include <cstring>
#include <unordered_set>

#include "core/exifiptc.h"
#include "core/files.h"
#include "core/log.h"
#include "core/memory.h"
#include "formats/libraries/kxlog_helpers.h"
#include "formats/libraries/kxoTIFF.h"
#include "formats/libraries/kxoTIFFInternal.h"

namespace {

const char* const kTag = "tiff";
const KXModuleLog kLog{kTag};

// Bytes of one element of the types the pre-parser reads; signed types
// count as their unsigned kin. 0: a type it does not read.
uint32_t elementWidth(uint32_t type) {
    switch (type) {
        case 1: case 6: case 7: return 1;  // BYTE, SBYTE, UNDEFINED
        case 3: case 8: return 2;          // SHORT, SSHORT
        case 4: case 9: return 4;          // LONG, SLONG
        case 5: case 10: return 8;         // RATIONAL, SRATIONAL
        default: return 0;
    }
}

uint32_t get16(const uint8_t* p, bool big) { return big ? (uint32_t)(p[0] << 8 | p[1]) : (uint32_t)(p[1] << 8 | p[0]); }
uint32_t get32(const uint8_t* p, bool big) {
    return big ? (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]
               : (uint32_t)p[3] << 24 | (uint32_t)p[2] << 16 | (uint32_t)p[1] << 8 | p[0];
}

}  // namespace

// One directory entry as read: where its data lies in the file.
struct KXTiffEntry {
    uint32_t Tag, Type, Count;
    uint8_t Field[4];
    uint64_t FieldAt;  // file position of the value field
    uint32_t Width;    // bytes of an element, 0 for a type not read
    uint64_t Bytes;    // Count x Width
    // The data: in the entry when it fits four bytes, else at the offset.
    uint64_t DataAt(bool big) const { return Bytes <= 4 ? FieldAt : get32(Field, big); }
};

// Reads `count` elements of a SHORT or LONG table into out (AllocVec).
static uint32_t readTable(KXByteReader& r, const KXTiffEntry& e, bool big, uint64_t fileSize, uint32_t** out) {
    *out = nullptr;
    if (e.Width != 2 && e.Width != 4) return KXERR_DECODE;
    const uint64_t at = e.DataAt(big);
    if (at + e.Bytes > fileSize) return KXERR_EOF;
    uint32_t size = 0;
    if (uint32_t err = KXSUP_CheckSize(&size, e.Count, 4)) return err;
    auto* table = static_cast<uint32_t*>(AllocVec(size ? size : 4, MEMF_CLEAR));
    if (!table) return KXERR_NOMEMORY;
    if (e.Bytes <= 4) {
        for (uint32_t i = 0; i < e.Count; ++i) table[i] = e.Width == 2 ? get16(e.Field + 2 * i, big) : get32(e.Field, big);
    } else {
        if (!r.seek(at)) {
            FreeVec(table);
            return KXERR_EOF;
        }
        for (uint32_t i = 0; i < e.Count; ++i) table[i] = e.Width == 2 ? (big ? r.be16() : r.le16()) : (big ? r.be32() : r.le32());
        if (!r.ok()) {
            FreeVec(table);
            return KXERR_EOF;
        }
    }
    *out = table;
    return KXERR_NONE;
}

bool kxoTIFF::isTextTag(uint32_t tag) {
    return tag == 33432 || tag == 315 || tag == 305 || tag == 270 || tag == 269 || tag == 271 || tag == 272;
}

// An ASCII entry's text, as UTF-8, into its field: Copyright, Artist (or
// Software while there is no author), ImageDescription, DocumentName, Make,
// Model. A text that does not lie inside the file is refused with 29.
uint32_t kxoTIFF::readText(KXByteReader& r, const KXTiffEntry& e, bool big) {
    const uint64_t at = e.Count <= 4 ? e.FieldAt : get32(e.Field, big);
    if (at + e.Count > FileSize) return KXERR_EOF;
    uint32_t size = 0, outSize = 0;
    if (uint32_t err = KXSUP_CheckSize(&size, (uint64_t)e.Count + 1)) return err;
    if (uint32_t err = KXSUP_CheckSize(&outSize, (uint64_t)e.Count * 2 + 1)) return err;
    auto* raw = static_cast<char*>(AllocVec(size, MEMF_ANY));
    auto* text = static_cast<char*>(AllocVec(outSize, MEMF_ANY));
    uint32_t err = raw && text ? KXERR_NONE : KXERR_NOMEMORY;
    if (!err && (!r.seek(at) || !r.bytes(raw, e.Count))) err = KXERR_EOF;
    if (!err) {
        raw[e.Count] = 0;
        KXSUP_MetaTextToUtf8(raw, strlen(raw), text, outSize);
        char** field = nullptr;
        switch (e.Tag) {
            case 33432: field = &Copy; break;
            case 315: field = &Auth; break;
            case 305: field = Auth && Auth[0] ? nullptr : &Auth; break;
            case 270: field = &Anno; break;
            case 269: field = &Name; break;
            case 271: strncpy(MakeText, text, sizeof(MakeText) - 1); break;
            case 272: strncpy(ModelText, text, sizeof(ModelText) - 1); break;
            default: break;
        }
        if (field) {
            FreeVec(*field);
            *field = text;
            text = nullptr;
        }
    }
    FreeVec(raw);
    FreeVec(text);
    return err;
}

// The thumbnail of an EXIF block: tags 513 and 514 of the first directory
// that has them, following the chain of next-directory links (a chain that
// comes back on itself ends the search).
uint32_t kxoTIFF::findExifThumbnail(KXByteReader& r, KXTiffReader& in, uint32_t dir, uint32_t count) {
    std::unordered_set<uint32_t> seen = {dir};
    for (;;) {
        if (L.ThumbOffset && L.ThumbLength) return KXERR_NONE;
        if (!r.seek((uint64_t)dir + 2 + 12ull * count)) return KXERR_NONE;
        const uint32_t next = in.u32();
        if (!r.ok() || next == 0 || !seen.insert(next).second || !r.seek(next)) return KXERR_NONE;
        dir = next;
        count = in.u16();
        if (!r.ok()) return KXERR_NONE;
        L.ThumbOffset = L.ThumbLength = 0;
        for (uint32_t i = 0; i < count; ++i) {
            if (!r.seek((uint64_t)dir + 2 + 12ull * i)) return KXERR_NONE;
            const uint32_t tag = in.u16(), type = in.u16(), n = in.u32();
            const uint32_t value = type == 3 ? in.u16() : in.u32();
            if (!r.ok()) return KXERR_NONE;
            if (n != 1) continue;
            if (tag == 513) L.ThumbOffset = value;
            if (tag == 514) L.ThumbLength = value;
        }
    }
}

uint32_t kxoTIFF::parseTiffDirectory(bool readMeta, bool isExif) {
    KXByteReader r(ReadFile);
    FileSize = r.size();
    uint8_t head[8];
    if (!r.bytes(head, 8)) return KXERR_DECODE;
    L = KXTiffLayout();
    L.BigEndian = !(head[0] == 'I' && head[1] == 'I');
    const bool big = L.BigEndian;
    kLog.line(2, "Endian: %s", big ? "MM" : "II");
    if (get16(head + 2, big) == 43) return KXERR_FILEREQUIREMENTS;
    KXTiffReader in{r, big};

    uint32_t dir = get32(head + 4, big);
    if (!r.seek(dir)) {
        kLog.line(1, "Directory: unexpected EOF for offset seek (at %ld)", (long)dir);
        return KXERR_EOF;
    }
    uint32_t count = in.u16();
    if (!r.ok()) return KXERR_EOF;
    const long page = keyNumber("PAGENUMBER", 0);
    if (page > 0) {
        kLog.line(1, "Directory - %ld selected", page);
        // A chain that comes back to a directory it has passed never ends.
        std::unordered_set<uint32_t> seen = {dir};
        for (long p = 0; p < page; ++p) {
            if (!r.seek((uint64_t)dir + 2 + 12ull * count)) return KXERR_EOF;
            const uint32_t next = in.u32();
            if (!r.ok()) return KXERR_EOF;
            if (next == 0) {
                kLog.line(1, "Directory - no more directory entries (at %ld)", (long)dir);
                return KXERR_EOF;
            }
            if (!seen.insert(next).second) return KXERR_EOF;
            kLog.line(1, "Directory - seeking to %ld", (long)next);
            dir = next;
            if (!r.seek(dir)) return KXERR_EOF;
            count = in.u16();
            if (!r.ok()) return KXERR_EOF;
        }
    }

    KXTiffEntry transfer = {};
    bool haveTransfer = false;
    uint32_t stripLengthCount = 0;
    for (uint32_t i = 0; i < count; ++i) {
        KXTiffEntry e = {};
        const uint64_t at = (uint64_t)dir + 2 + 12ull * i;
        if (!r.seek(at)) {
            kLog.line(1, "Unexpected EOF at %ld", (long)at);
            return KXERR_EOF;
        }
        e.Tag = in.u16();
        e.Type = in.u16();
        e.Count = in.u32();
        r.bytes(e.Field, 4);
        if (!r.ok()) {
            kLog.line(1, "Unexpected EOF at %ld", (long)at);
            return KXERR_EOF;
        }
        e.FieldAt = at + 8;
        kLog.line(1, "Tag - %ld %ld %ld %ld %ld", (long)i, (long)e.Tag, (long)e.Type, (long)e.Count,
             (long)get32(e.Field, big));
        // The texts, which the libtiff decoder reads as well: read here, they
        // also come back from files the own strip reader decodes.
        if (readMeta && e.Type == 2 && e.Count > 0 && isTextTag(e.Tag)) {
            if (uint32_t err = readText(r, e, big)) return err;
            continue;
        }
        // XMP and ICC are read as bytes whatever their type; an ASCII or
        // untyped entry of any other tag is passed over.
        uint32_t type = e.Type;
        if (e.Tag == 700 || e.Tag == 34675 || (e.Tag == 33723 && type == 7)) type = 1;
        e.Width = elementWidth(type);
        if (e.Width == 0) continue;
        e.Bytes = (uint64_t)e.Width * e.Count;
        const uint64_t dataAt = e.DataAt(big);
        if (e.Count == 0) continue;
        // The first element: from the entry when the data fits it (as
        // TIFF stores it), else from the data.
        uint32_t value = 0;
        if (e.Width <= 4) {
            uint8_t first[4] = {};
            if (e.Bytes <= 4) {
                memcpy(first, e.Field, 4);
            } else if (dataAt + e.Width <= FileSize) {
                if (!r.seek(dataAt) || !r.bytes(first, e.Width)) return KXERR_EOF;
            }
            value = e.Width == 1 ? first[0] : e.Width == 2 ? get16(first, big) : get32(first, big);
        }
        switch (e.Tag) {
            case 256: L.Width = value; ++L.Found; break;
            case 257: L.Height = value; ++L.Found; break;
            case 258: L.BitsPerSample = value; break;
            case 259: L.Compression = value; ++L.Found; break;
            case 262:
                L.Photometric = value;
                if (value == 2 && L.SamplesPerPixel == 1) L.SamplesPerPixel = 3;
                break;
            case 273: {
                if (e.Width > 4) break;
                FreeVec(StripOffsets);
                if (uint32_t err = readTable(r, e, big, FileSize, &StripOffsets)) return err;
                L.StripCount = e.Count;
                ++L.Found;
                break;
            }
            case 277: L.SamplesPerPixel = value; break;
            case 278: L.RowsPerStrip = value; L.HasRowsPerStrip = true; break;
            case 279: {
                if (e.Width > 4) break;
                FreeVec(StripLengths);
                if (uint32_t err = readTable(r, e, big, FileSize, &StripLengths)) return err;
                stripLengthCount = e.Count;
                break;
            }
            case 266: L.FillOrder = value; break;
            case 274:
                if (readMeta && value >= 1 && value <= 8) {
                    Orientation = value;
                    strncpy(OrientationText, KXTIFF_OrientationNames[value - 1], sizeof(OrientationText) - 1);
                }
                break;
            case 284: L.Planar = value; break;
            case 301:
                if (e.Width == 2) {
                    transfer = e;
                    haveTransfer = true;
                }
                break;
            case 318:
            case 319: {
                const uint32_t n = e.Tag == 318 ? 2 : 6;
                if (e.Width != 8 || e.Count != n) break;
                if (dataAt + e.Bytes > FileSize) return KXERR_EOF;
                float* out = e.Tag == 318 ? L.WhitePoint : L.Primaries;
                if (!r.seek(dataAt)) return KXERR_EOF;
                for (uint32_t k = 0; k < n; ++k) {
                    const uint32_t num = in.u32(), den = in.u32();
                    out[k] = den ? (float)((double)num / den) : 0.0f;
                }
                if (!r.ok()) return KXERR_EOF;
                (e.Tag == 318 ? L.HasWhitePoint : L.HasPrimaries) = true;
                break;
            }
            case 320: L.ColorMapOffset = (uint32_t)dataAt; L.HasColorMap = true; ++L.Found; break;
            case 322: L.TileWidth = value; L.Tiled = true; break;
            case 323: L.TileLength = value; L.Tiled = true; break;
            case 325: L.TileByteCounts = value; L.Tiled = true; break;
            case 338: L.ExtraSamples = e.Count == 1 ? (value >= 3 ? -2 : (int32_t)value) : -2; break;
            case 339: L.SampleFormat = value; break;
            case 366: L.Tag366 = value; break;
            case 513: L.ThumbOffset = value; break;
            case 514: L.ThumbLength = value; break;
            case 700: {
                if (!readMeta || Xmp0 || Xmp1) break;
                if (dataAt + e.Bytes > FileSize) return KXERR_EOF;
                // The packet with a terminating zero after it; the size
                // counts the packet's bytes alone.
                const uint32_t length = e.Count;
                uint32_t size = 0;
                if (uint32_t err = KXSUP_CheckSize(&size, (uint64_t)length + 1)) return err;
                auto* packet = static_cast<uint8_t*>(AllocVec(size, MEMF_ANY));
                if (!packet) return KXERR_NOMEMORY;
                if (!r.seek(dataAt) || !r.bytes(packet, length)) {
                    FreeVec(packet);
                    return KXERR_EOF;
                }
                packet[length] = 0;
                const uint32_t stored = length && packet[length - 1] == 0 ? length - 1 : length;
                if (length <= 65502) {
                    Xmp0 = packet;
                    Xmp0Size = stored;
                } else {
                    Xmp1 = packet;
                    Xmp1Size = stored;
                }
                break;
            }
            case 33723:
                if (dataAt + e.Bytes > FileSize) return KXERR_EOF;
                L.IptcOffset = (uint32_t)dataAt;
                L.IptcCount = e.Count;
                L.IptcType = e.Type;
                L.HasIptc = true;
                break;
            case 34675:
                if (dataAt + e.Bytes > FileSize) return KXERR_EOF;
                L.IccOffset = (uint32_t)dataAt;
                L.IccLength = e.Count;
                L.HasIcc = true;
                break;
            default: break;
        }
    }
    // An EXIF block carries no picture of its own: its first directory
    // describes the camera's one and the thumbnail's offset and length
    // stand in the next directory.
    if (isExif) return findExifThumbnail(r, in, dir, count);
    if (L.Found < 3) return KXERR_DECODE;
    // A table of lengths shorter than the offsets' is of no use.
    if (StripLengths && stripLengthCount < L.StripCount) {
        FreeVec(StripLengths);
        StripLengths = nullptr;
    }

    // The transfer function: one curve, or three of equal length.
    if (haveTransfer) {
        const uint64_t at = transfer.DataAt(big);
        if (at + transfer.Bytes > FileSize) return KXERR_EOF;
        const uint32_t samples = L.SamplesPerPixel;
        const int32_t extra = L.ExtraSamples;
        TransferCurves = ((extra > 0 && samples != (uint32_t)extra && samples != (uint32_t)extra + 1) || samples > 1) ? 3 : 1;
        TransferLength = transfer.Count / TransferCurves;
        if (TransferLength >= 2) {
            uint32_t size = 0;
            if (uint32_t err = KXSUP_CheckSize(&size, TransferLength, TransferCurves, 2)) return err;
            Transfer = static_cast<uint16_t*>(AllocVec(size, MEMF_ANY));
            if (!Transfer) return KXERR_NOMEMORY;
            if (transfer.Bytes <= 4) {
                for (uint32_t k = 0; k < TransferLength * TransferCurves; ++k) Transfer[k] = (uint16_t)get16(transfer.Field + 2 * k, big);
            } else {
                if (!r.seek(at)) return KXERR_EOF;
                for (uint32_t k = 0; k < TransferLength * TransferCurves; ++k) Transfer[k] = in.u16();
                if (!r.ok()) return KXERR_EOF;
            }
        } else {
            TransferCurves = TransferLength = 0;
        }
    }
    return KXERR_NONE;
}
