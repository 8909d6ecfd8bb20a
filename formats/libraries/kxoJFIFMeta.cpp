// kxoJFIFMeta: the metadata markers of kxoJFIF. EXIF in APP1 ("Exif" 00 00
// and the TIFF-structured block), XMP in APP1 (Adobe's namespace name and a
// zero before the packet), IPTC in APP13 as a Photoshop 3.0 resource 0x0404,
// ICC profiles in APP2 chunks of at most 65519 bytes ("ICC_PROFILE" 00,
// sequence number, count), both ways; and the metadata record's texts,
// orientation and GPS summary taken from the EXIF and IPTC blocks.
// Metadata never fails a load: a malformed marker is passed over. A block
// too large for one marker is left out of a save with a log line.
#include <cstdio>
#include <jpeglib.h>

#include <cstdlib>
#include <cstring>

#include "core/exifiptc.h"
#include "core/log.h"
#include "core/memory.h"
#include "formats/libraries/kxlog_helpers.h"
#include "formats/libraries/kxoJFIF.h"

namespace {

const char* const kTag = "jfif";
const KXModuleLog kLog{kTag};
// The XMP specification's identifier for JPEG, with its zero: 29 bytes.
const char kXmpId[] = "http://ns.adobe.com/xap/1.0/";
constexpr uint32_t kXmpIdSize = sizeof(kXmpId);
static_assert(kXmpIdSize == 29, "XMP identifier and zero are 29 bytes");
const char kIccSignature[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
constexpr uint32_t kIccHeader = 14;        // signature, sequence number, count
constexpr uint32_t kIccChunk = 65519;      // profile bytes per marker
constexpr uint32_t kMarkerPayload = 65533;  // the largest marker payload
constexpr uint32_t kXmpMax = kMarkerPayload - 2 - kXmpIdSize;  // 65502
constexpr uint32_t kExifHeader = 14;       // "Exif" 00 00 and the TIFF header
constexpr uint32_t kPs3Header = sizeof(Ps3IptcHeader);

uint32_t be32At(const uint8_t* p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]; }

uint8_t* copyBlock(const uint8_t* data, uint32_t size, uint32_t extra = 0) {
    auto* block = static_cast<uint8_t*>(AllocVecNamed(size, MEMF_CLEAR, extra, kTag));
    if (block && size) memcpy(block, data, size);
    return block;
}

// A Ps3IptcHeader with the length and the records after it.
uint8_t* iptcBlock(const uint8_t* records, uint32_t length) {
    auto* block = static_cast<uint8_t*>(AllocVecNamed(length + kPs3Header, MEMF_CLEAR, 0, kTag));
    if (!block) return nullptr;
    KX_WritePs3IptcHeader(block, length);
    if (length) memcpy(block + kPs3Header, records, length);
    return block;
}

}  // namespace

// ---- writing -------------------------------------------------------------------

void kxoJFIF::writeIccMarkers(jpeg_compress_struct* c, const uint8_t* profile, uint32_t size) {
    const uint32_t chunks = (uint32_t)(((uint64_t)size + kIccChunk - 1) / kIccChunk);
    if (chunks == 0 || chunks > 255) {
        kLog.text(2, "ICC profile too large for JPEG markers, left out");
        return;
    }
    uint32_t offset = 0;
    for (uint32_t seq = 1; seq <= chunks; ++seq) {
        const uint32_t length = size - offset < kIccChunk ? size - offset : kIccChunk;
        jpeg_write_m_header(c, JPEG_APP0 + 2, length + kIccHeader);
        for (uint32_t i = 0; i < sizeof(kIccSignature); ++i) jpeg_write_m_byte(c, kIccSignature[i]);
        jpeg_write_m_byte(c, (int)seq);
        jpeg_write_m_byte(c, (int)chunks);
        for (uint32_t i = 0; i < length; ++i) jpeg_write_m_byte(c, profile[offset + i]);
        offset += length;
    }
}

void kxoJFIF::writeJpegMetadata(jpeg_compress_struct* c, const KXOSpecialInfo* info) {
    if (!info) return;
    // A block shorter than its header carries nothing; one longer than a
    // marker holds cannot be written in one.
    if (info->Exif && keyIsOn("WRITE_EXIF", true)) {
        if (info->ExifSize < kExifHeader) kLog.text(2, "EXIF block shorter than its header, left out");
        else if (info->ExifSize > kMarkerPayload) kLog.text(2, "EXIF block too large for a JPEG marker, left out");
        else jpeg_write_marker(c, JPEG_APP0 + 1, info->Exif, info->ExifSize);
    }
    if (info->Iptc) {
        if (info->IptcSize < kPs3Header) kLog.text(2, "IPTC block shorter than its header, left out");
        else if (info->IptcSize > kMarkerPayload) kLog.text(2, "IPTC block too large for a JPEG marker, left out");
        else jpeg_write_marker(c, JPEG_APP0 + 13, info->Iptc, info->IptcSize);
    }
    const uint8_t* xmp = nullptr;
    uint32_t xmpSize = 0;
    if (info->Xmp0 && info->Xmp0Size && info->Xmp0Size <= kXmpMax) {
        xmp = info->Xmp0;
        xmpSize = info->Xmp0Size;
    } else if (info->Xmp1 && info->Xmp1Size && info->Xmp1Size <= kXmpMax) {
        xmp = info->Xmp1;
        xmpSize = info->Xmp1Size;
    }
    // A packet kept with its terminating zero is written without it.
    if (xmp)
        if (const void* zero = memchr(xmp, 0, xmpSize)) xmpSize = (uint32_t)(static_cast<const uint8_t*>(zero) - xmp);
    if (xmp && xmpSize) {
        auto* payload = static_cast<uint8_t*>(AllocVecNamed(xmpSize + kXmpIdSize, MEMF_ANY, 0, kTag));
        if (payload) {
            memcpy(payload, kXmpId, kXmpIdSize);
            memcpy(payload + kXmpIdSize, xmp, xmpSize);
            jpeg_write_marker(c, JPEG_APP0 + 1, payload, xmpSize + kXmpIdSize);
            FreeVecNamed(payload, kTag);
        }
    }
    if (info->IccData && info->IccSize) writeIccMarkers(c, info->IccData, info->IccSize);
}

// ---- reading -------------------------------------------------------------------

void kxoJFIF::saveIccMarkers(jpeg_decompress_struct* d) { jpeg_save_markers(d, JPEG_APP0 + 2, 0xFFFF); }

void kxoJFIF::saveMarkers(jpeg_decompress_struct* d, const MetaSwitches& on) {
    if (on.exif || on.xmp) jpeg_save_markers(d, JPEG_APP0 + 1, 0xFFFF);
    if (on.iptc) jpeg_save_markers(d, JPEG_APP0 + 13, 0xFFFF);
    jpeg_save_markers(d, JPEG_APP0 + 8, 0xFFFF);
    saveIccMarkers(d);
}

void kxoJFIF::readMarkers(jpeg_decompress_struct* d, const MetaSwitches& on) {
    for (jpeg_saved_marker_ptr m = d->marker_list; m; m = m->next) {
        const uint8_t* p = m->data;
        const uint32_t n = m->data_length;
        if (m->marker == JPEG_APP0 + 8) {
            SubFormatId = kSpiff;
            continue;
        }
        if (m->marker == JPEG_APP0 + 1 && on.exif && n >= 5 && memcmp(p, "Exif", 5) == 0) {
            kLog.text(5, "Metadata: Exif found.");
            if (n < kExifHeader) continue;
            if (uint8_t* block = copyBlock(p, n)) {
                FreeVec(Exif);
                Exif = block;
                ExifSize = n;
            }
            continue;
        }
        if (m->marker == JPEG_APP0 + 1 && on.xmp && n > kXmpIdSize && memcmp(p, kXmpId, kXmpIdSize) == 0) {
            kLog.text(5, "Metadata: XMP found.");
            // Kept with a zero after it, for readers that take it as text.
            if (uint8_t* block = copyBlock(p + kXmpIdSize, n - kXmpIdSize, 1)) {
                FreeVec(Xmp0);
                Xmp0 = block;
                Xmp0Size = n - kXmpIdSize;
            }
            continue;
        }
        if (m->marker == JPEG_APP0 + 13 && on.iptc && n > kPs3Header) {
            kLog.text(5, "Metadata: IPTC found.");
            const uint8_t* records = nullptr;
            uint32_t length = 0;
            bool found = false;
            if (memcmp(p, "Photoshop 3.0", 14) == 0) {
                uint32_t pos = 14;
                for (;;) {
                    if (n - pos < 7 || memcmp(p + pos, "8BIM", 4) != 0) break;
                    const uint32_t id = (uint32_t)p[pos + 4] << 8 | p[pos + 5];
                    // Name: a length byte and its text, padded to an even size.
                    const uint32_t nameSize = ((uint32_t)p[pos + 6] + 2) & ~1u;
                    const uint32_t at = pos + 6;
                    if (n - at < nameSize + 4) break;
                    const uint32_t dataAt = at + nameSize + 4;
                    const uint32_t dataLength = be32At(p + at + nameSize);
                    if (dataLength > n - dataAt) break;
                    if (id == 0x0404) {
                        records = p + dataAt;
                        length = dataLength;
                        found = true;
                        break;
                    }
                    const uint64_t next = (uint64_t)dataAt + dataLength + (dataLength & 1);
                    if (next >= n) break;
                    pos = (uint32_t)next;
                }
            }
            uint8_t* block = found ? iptcBlock(records, length) : nullptr;
            FreeVec(Iptc);
            Iptc = block;
            IptcSize = block ? length + kPs3Header : 0;
            continue;
        }
    }
}

bool kxoJFIF::readIccMarkers(jpeg_decompress_struct* d, uint8_t** profile, uint32_t* size) {
    *profile = nullptr;
    *size = 0;
    uint32_t lengths[256] = {};
    const uint8_t* starts[256] = {};
    bool seen[256] = {};
    uint32_t count = 0;
    for (jpeg_saved_marker_ptr m = d->marker_list; m; m = m->next) {
        if (m->marker != JPEG_APP0 + 2 || m->data_length < kIccHeader ||
            memcmp(m->data, kIccSignature, sizeof(kIccSignature)) != 0)
            continue;
        const uint32_t seq = m->data[12], total = m->data[13];
        if (count == 0) count = total;
        else if (total != count) return false;
        if (seq < 1 || seq > count || seen[seq]) return false;
        seen[seq] = true;
        lengths[seq] = m->data_length - kIccHeader;
        starts[seq] = m->data + kIccHeader;
    }
    if (count == 0) return false;
    uint64_t total = 0;
    for (uint32_t seq = 1; seq <= count; ++seq) {
        if (!seen[seq]) return false;
        total += lengths[seq];
    }
    if (total == 0) return false;
    auto* out = static_cast<uint8_t*>(malloc(total));
    if (!out) return false;
    uint64_t offset = 0;
    for (uint32_t seq = 1; seq <= count; ++seq) {
        memcpy(out + offset, starts[seq], lengths[seq]);
        offset += lengths[seq];
    }
    *profile = out;
    *size = (uint32_t)total;
    return true;
}

// ---- the record's texts ----------------------------------------------------------

namespace {

// The IPTC records and the XMP packet some writers keep in EXIF, into the
// object's blocks still empty.
void takeExifBlocks(KXObject& o) {
    uint32_t error = 0;
    ExifHandle* h = EXIF_OpenBuf(o.Exif, o.ExifSize, &error);
    if (!h) return;
    constexpr uint32_t kSize = 65535;
    auto* text = static_cast<char*>(AllocVec(kSize, MEMF_CLEAR));
    if (!text) {
        EXIF_Close(h);
        return;
    }
    auto raw = [&](uint32_t tag, uint32_t* length) -> const uint8_t* {
        memcpy(text, KXEXIF_RAW_MARKER, sizeof(KXEXIF_RAW_MARKER));
        if (EXIF_FindTag(h, tag, text, kSize) != 0) return nullptr;
        memcpy(length, text, 4);
        return reinterpret_cast<const uint8_t*>(text) + KXEXIF_RAW_HEADER;
    };
    uint32_t length = 0;
    if (!o.Iptc) {
        if (const uint8_t* records = raw(33723, &length)) {
            if (uint8_t* block = iptcBlock(records, length)) {
                o.Iptc = block;
                o.IptcSize = length + kPs3Header;
            }
        }
    }
    // XMLPacket is a byte array: libexif renders it as numbers, so its bytes
    // are taken as they are, up to a zero.
    if (!o.Xmp0) {
        if (const uint8_t* packet = raw(700, &length)) {
            if (const void* zero = memchr(packet, 0, length))
                length = (uint32_t)(static_cast<const uint8_t*>(zero) - packet);
            if (length) {
                if (uint8_t* block = copyBlock(packet, length, 1)) {
                    o.Xmp0 = block;
                    o.Xmp0Size = length;
                }
            }
        }
    }
    FreeVec(text);
    EXIF_Close(h);
}

}  // namespace

// The texts the IPTC records give, while no EXIF is looked at yet.
void kxoJFIF::importJfifIptc() {
    if (!Iptc) return;
    KXMetaTexts t;
    KX_MetaTextsFromBlocks(nullptr, 0, Iptc, IptcSize, &t);
    char** const fields[KXMETATEXT_COUNT] = {&Anno, &Auth, &Copy, &Name, &More1, &More2, &More3, &More4};
    KX_MetaFillTexts(fields, t);
}

// The IPTC records and the XMP packet some writers keep in EXIF, then the
// texts, the orientation and the GPS summary from both blocks, as an edit
// of a block takes them again (KX_MetaReplaceBlock).
void kxoJFIF::importJfifExif() {
    if (Exif) takeExifBlocks(*this);
    if (!Exif && !Iptc) return;
    KXMetaTexts t;
    KX_MetaTextsFromBlocks(Exif, ExifSize, Iptc, IptcSize, &t);
    char** const fields[KXMETATEXT_COUNT] = {&Anno, &Auth, &Copy, &Name, &More1, &More2, &More3, &More4};
    KX_MetaFillTexts(fields, t);
    if (t.Orientation) Orientation = t.Orientation;
}
