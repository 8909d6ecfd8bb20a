// exifiptc: EXIF and IPTC access on libexif and libiptcdata (see exifiptc.h).
#include "core/exifiptc.h"

#include <libexif/exif-loader.h>
#include <libexif/exif-mem.h>
#include <libexif/exif-utils.h>
#include <libiptcdata/iptc-jpeg.h>
#include <libiptcdata/iptc-mem.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/log.h"
#include "core/memory.h"
#include "core/object.h"

const char KXEXIF_RAW_MARKER[12] = {6, 6, 'k', 'I', 'N', 'A', 'R', 'Y', 6, 6, 6, 0};

namespace {

const char* const kIptcTag = "iptcdata";
const char* const kExifTag = "exifdata";
constexpr uint32_t kPs3HeaderSize = 26;  // "Photoshop 3.0\0" 8BIM 04 04 00 00 length
constexpr uint32_t kExifHeaderSize = 14;  // "Exif\0\0" and the 8-byte TIFF header

void log5(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log5(const char* format, ...) {
    if (!__kxlib_log_global) return;
    va_list args;
    va_start(args, format);
    __kxlib_log_global->VLog(5, format, args);
    va_end(args);
}

unsigned long long addressOf(const void* p) { return (unsigned long long)(uintptr_t)p; }

// Length of the UTF-8 sequence starting at p (within end), 0 when invalid.
size_t utf8Sequence(const unsigned char* p, const unsigned char* end) {
    const unsigned char c = p[0];
    if (c < 0x80) return 1;
    size_t n;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if ((size_t)(end - p) < n) return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (p[i] & 0x3F);
    }
    if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
        return 0;
    return n;
}

bool isUtf8(const char* text, size_t length) {
    auto* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + length;
    while (p < end) {
        const size_t n = utf8Sequence(p, end);
        if (!n) return false;
        p += n;
    }
    return true;
}

// The caller's buffer holds a rendered text: make it UTF-8 in place.
void bufferToUtf8(char* buffer, uint32_t length) {
    const size_t used = strnlen(buffer, length);
    if (isUtf8(buffer, used)) return;
    std::string copy(buffer, used);
    KXSUP_MetaTextToUtf8(copy.data(), copy.size(), buffer, length);
}

}  // namespace

size_t KXSUP_MetaTextToUtf8(const char* text, size_t length, char* out, size_t size) {
    if (!out || !size) return 0;
    size_t o = 0;
    if (text && isUtf8(text, length)) {
        o = length < size - 1 ? length : size - 1;
        // Never end inside a character.
        while (o > 0 && o < length && (static_cast<unsigned char>(text[o]) & 0xC0) == 0x80) --o;
        memmove(out, text, o);
    } else if (text) {
        for (size_t i = 0; i < length; ++i) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            if (c < 0x80) {
                if (o + 1 > size - 1) break;
                out[o++] = (char)c;
            } else {
                if (o + 2 > size - 1) break;
                out[o++] = (char)(0xC0 | c >> 6);
                out[o++] = (char)(0x80 | (c & 0x3F));
            }
        }
    }
    out[o] = 0;
    return o;
}

// ---- log bridges ---------------------------------------------------------------

void IPTC_LogFunc(IptcLog*, IptcLogCode, const char* domain, const char* format, va_list args, void* data) {
    if (!__kxlib_log_global) return;
    char text[1024];
    vsnprintf(text, sizeof(text), format ? format : "", args);
    __kxlib_log_global->Log(5, "%-16s: %s (ctx: $%08lx)\n", domain ? domain : "", text, (unsigned long)(uintptr_t)data);
}

void EXIF_LogFunc(ExifLog*, ExifLogCode, const char* domain, const char* format, va_list args, void* data) {
    if (!__kxlib_log_global) return;
    char text[1024];
    vsnprintf(text, sizeof(text), format ? format : "", args);
    __kxlib_log_global->Log(5, "%-16s: %s (ctx: $%08lx)\n", domain ? domain : "", text, (unsigned long)(uintptr_t)data);
}

// ---- IPTC ----------------------------------------------------------------------

namespace {

// Attaches the log bridge when the library log is open.
void attachIptcLog(IptcHandle* h, const char* who) {
    if (!__kxlib_log_global) return;
    // libiptcdata's log never releases the memory manager it was made with:
    // every log shares one, made once and kept for the life of the process.
    static IptcMem* const sharedMem = iptc_mem_new_default();
    h->Log = sharedMem ? iptc_log_new_mem(sharedMem) : nullptr;
    if (!h->Log) {
        log5("%-16s: Logging disabled\n", who);
        return;
    }
    iptc_log_set_func(h->Log, IPTC_LogFunc, nullptr);
    iptc_data_log(h->Data, h->Log);
    log5("%-16s: Logging enabled\n", who);
}

IptcHandle* finishIptc(IptcHandle* h, uint32_t err, uint32_t* error, const char* who) {
    if (err) {
        log5("%-16s: Error: %ld\n", who, (long)err);
        IPTC_Close(h);
        h = nullptr;
    }
    if (error) *error = err;
    log5("%-16s: %016llx => %ld\n", who, addressOf(h), (long)err);
    return h;
}

}  // namespace

IptcHandle* IPTC_Open(const char* path, uint32_t* error) {
    const char* who = "IPTC_Open";
    if (error) *error = 0;
    auto* h = static_cast<IptcHandle*>(AllocVecNamed(sizeof(IptcHandle), MEMF_CLEAR, 0, kIptcTag));
    if (!h) return finishIptc(nullptr, 2, error, who);
    log5("%-16s: Reading data from file\n", who);
    h->Data = path ? iptc_data_new_from_jpeg(path) : nullptr;
    if (!h->Data) return finishIptc(h, 1, error, who);
    log5("%-16s: Done. (P: %016llx)\n", who, addressOf(h->Data));
    attachIptcLog(h, who);
    h->Valid = 1;
    return finishIptc(h, 0, error, who);
}

IptcHandle* IPTC_OpenBuf(const uint8_t* buffer, uint32_t size, uint32_t* error) {
    const char* who = "IPTC_OpenBuf";
    if (error) *error = 0;
    log5("%-16s: %016llx (S: %08ld)\n", who, addressOf(buffer), (long)size);
    auto* h = static_cast<IptcHandle*>(AllocVecNamed(sizeof(IptcHandle), MEMF_CLEAR, 0, kIptcTag));
    if (!h) return finishIptc(nullptr, 2, error, who);
    log5("IPTC_OpenBuf    : Reading data from buffer\n");
    // A block shorter than its Photoshop header holds no resource at all.
    if (!buffer || size < kPs3HeaderSize) return finishIptc(h, 4, error, who);
    unsigned int length = 0;
    h->Offset = iptc_jpeg_ps3_find_iptc(buffer, size, &length);
    h->Length = length;
    if (h->Offset > 0 && h->Length >= 1 && (uint64_t)h->Offset + h->Length <= size)
        h->Data = iptc_data_new_from_data(buffer + h->Offset, h->Length);
    if (!h->Data) return finishIptc(h, 4, error, who);
    log5("%-16s: Done. (P: %016llx)\n", who, addressOf(h->Data));
    attachIptcLog(h, who);
    h->Valid = 1;
    return finishIptc(h, 0, error, who);
}

void IPTC_Close(IptcHandle* handle) {
    if (!handle) return;
    // libiptcdata's data does not release the log it was given when it is
    // freed itself: take the log back first, which drops the data's reference.
    if (handle->Data && handle->Log) iptc_data_log(handle->Data, nullptr);
    if (handle->Data) iptc_data_unref(handle->Data);
    if (handle->Log) iptc_log_unref(handle->Log);
    memset(handle, 0, sizeof(*handle));
    FreeVecNamed(handle, kIptcTag);
}

uint32_t IPTC_FindTag(IptcHandle* handle, uint32_t record, uint32_t dataset, uint32_t index, char* buffer,
                      uint32_t length) {
    if (!handle || !buffer) return 3;
    if (!length) return 7;
    buffer[0] = 0;
    if (!handle->Data) return 4;
    IptcDataSet* hit = nullptr;
    uint32_t found = 0;
    uint32_t result = 0;
    for (uint32_t i = 0; i <= index; ++i) {
        IptcDataSet* next = iptc_data_get_next_dataset(handle->Data, hit, (IptcRecord)record, (IptcTag)dataset);
        if (hit) iptc_dataset_unref(hit);
        hit = next;
        if (!hit) break;
        ++found;
        buffer[0] = 0;
        if (!iptc_dataset_get_as_str(hit, buffer, length)) {
            result = 7;
            break;
        }
    }
    if (hit) iptc_dataset_unref(hit);
    if (result) return result;
    if (found < index + 1) {
        buffer[0] = 0;
        return 5;
    }
    buffer[length - 1] = 0;
    bufferToUtf8(buffer, length);
    return buffer[0] ? 0 : 6;
}

// ---- EXIF ----------------------------------------------------------------------

namespace {

// A new ExifData that keeps every tag as the file has it: libexif's defaults
// would drop tags it does not know in a directory (IPTC-NAA, XMLPacket) and
// add entries the standard calls mandatory.
ExifData* newExifData(const unsigned char* data, unsigned int size) {
    ExifData* d = exif_data_new();
    if (!d) return nullptr;
    exif_data_unset_option(d, EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
    exif_data_unset_option(d, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(d, data, size);
    return d;
}

bool hasEntries(const ExifData* d) {
    for (int i = 0; i < EXIF_IFD_COUNT; ++i)
        if (d->ifd[i] && d->ifd[i]->count) return true;
    return false;
}

void attachExifLog(ExifHandle* h, const char* who) {
    if (!__kxlib_log_global) return;
    h->Log = exif_log_new();
    if (!h->Log) {
        log5("%-16s: Logging disabled\n", who);
        return;
    }
    exif_log_set_func(h->Log, EXIF_LogFunc, nullptr);
    exif_data_log(h->Data, h->Log);
    log5("%-16s: Logging enabled\n", who);
}

ExifHandle* finishExif(ExifHandle* h, uint32_t err, uint32_t* error, const char* who) {
    if (err) {
        log5("%-16s: Error: %ld\n", who, (long)err);
        EXIF_Close(h);
        h = nullptr;
    }
    if (error) *error = err;
    log5("%-16s: %016llx => %ld\n", who, addressOf(h), (long)err);
    return h;
}

}  // namespace

ExifHandle* EXIF_Open(const char* path, uint32_t* error) {
    const char* who = "EXIF_Open";
    if (error) *error = 0;
    log5("%-16s: %32s\n", who, path ? path : "");
    auto* h = static_cast<ExifHandle*>(AllocVecNamed(sizeof(ExifHandle), MEMF_CLEAR, 0, kExifTag));
    if (!h) return finishExif(nullptr, 2, error, who);
    log5("%-16s: Reading data from file\n", who);
    // The loader finds the block in a JPEG, TIFF or bare EXIF file.
    if (ExifLoader* loader = path ? exif_loader_new() : nullptr) {
        exif_loader_write_file(loader, path);
        const unsigned char* data = nullptr;
        unsigned int size = 0;
        exif_loader_get_buf(loader, &data, &size);
        if (data && size) h->Data = newExifData(data, size);
        exif_loader_unref(loader);
    }
    if (h->Data && !hasEntries(h->Data)) {
        exif_data_unref(h->Data);
        h->Data = nullptr;
    }
    if (!h->Data) return finishExif(h, 1, error, who);
    log5("%-16s: Done. (P: %016llx)\n", who, addressOf(h->Data));
    attachExifLog(h, who);
    return finishExif(h, 0, error, who);
}

ExifHandle* EXIF_OpenBuf(const uint8_t* buffer, uint32_t size, uint32_t* error) {
    const char* who = "EXIF_OpenBuf";
    if (error) *error = 0;
    log5("%-16s: %016llx (S: %08ld)\n", who, addressOf(buffer), (long)size);
    auto* h = static_cast<ExifHandle*>(AllocVecNamed(sizeof(ExifHandle), MEMF_CLEAR, 0, kExifTag));
    if (!h) return finishExif(nullptr, 2, error, who);
    log5("EXIF_OpenBuf    : Reading data from buffer\n");
    // Shorter than "Exif" 00 00 and a TIFF header: nothing to parse.
    if (buffer && size >= kExifHeaderSize) h->Data = newExifData(buffer, size);
    if (h->Data && !hasEntries(h->Data)) {
        exif_data_unref(h->Data);
        h->Data = nullptr;
    }
    if (!h->Data) return finishExif(h, 4, error, who);
    log5("%-16s: Done. (P: %016llx)\n", who, addressOf(h->Data));
    attachExifLog(h, who);
    return finishExif(h, 0, error, who);
}

void EXIF_Close(ExifHandle* handle) {
    if (!handle) return;
    if (handle->Data) exif_data_unref(handle->Data);
    if (handle->Log) exif_log_unref(handle->Log);
    memset(handle, 0, sizeof(*handle));
    FreeVecNamed(handle, kExifTag);
}

uint32_t EXIF_FindTag(ExifHandle* handle, uint32_t tag, char* buffer, uint32_t length) {
    return EXIF_FindTagIFD(handle, KXEXIF_IFD0, KXEXIF_INTEROP, tag, buffer, length);
}

uint32_t EXIF_FindTagIFD(ExifHandle* handle, uint32_t first, uint32_t last, uint32_t tag, char* buffer,
                         uint32_t length) {
    if (!handle || !buffer) return 3;
    if (!length) return 7;
    const bool raw = length > 13 && strcmp(buffer, KXEXIF_RAW_MARKER) == 0;
    buffer[0] = 0;
    if (!handle->Data) return 4;
    ExifEntry* entry = nullptr;
    for (uint32_t i = first; i <= last && i < EXIF_IFD_COUNT && !entry; ++i)
        if (ExifContent* c = handle->Data->ifd[i]) entry = exif_content_get_entry(c, (ExifTag)tag);
    if (!entry) return 5;
    if (entry->size > length - 1) return 7;

    if (raw) {
        uint32_t words[3] = {0, 0, 0};
        // The header, the bytes and the closing zero must all fit.
        if (!entry->data || entry->size > length - 13) {
            memcpy(buffer, words, 8);
            return 6;
        }
        words[0] = entry->size;
        memcpy(buffer, words, sizeof(words));
        memcpy(buffer + KXEXIF_RAW_HEADER, entry->data, entry->size);
        buffer[KXEXIF_RAW_HEADER + entry->size] = 0;
        return 0;
    }

    ExifData* parent = entry->parent ? entry->parent->parent : nullptr;
    if (tag == 2 || tag == 4 || tag == 6) {
        if (entry->format != EXIF_FORMAT_RATIONAL || !entry->data || !parent) return 6;
        const ExifByteOrder order = exif_data_get_byte_order(parent);
        ExifRational r[3] = {{0, 0}, {0, 0}, {0, 0}};
        for (unsigned i = 0; i < 3; ++i)
            if (entry->size >= 8 * (i + 1)) r[i] = exif_get_rational(entry->data + 8 * i, order);
        char text[128];
        const double volatile zero = 0.0;  // an unread rational is 0/0, whatever the runtime prints for it
        auto q = [&](const ExifRational& v) { return v.denominator ? (double)v.numerator / v.denominator
                                                                   : (double)v.numerator / zero; };
        const int n = snprintf(text, sizeof(text), "%2.2lf\xC2\xB0 %2.2lf' %2.2lf''", q(r[0]), q(r[1]), q(r[2]));
        if (n < 0 || (uint32_t)n + 1 > length) return 6;
        memcpy(buffer, text, (size_t)n + 1);
    } else if (tag == 274) {
        if ((entry->format != EXIF_FORMAT_SHORT && entry->format != EXIF_FORMAT_LONG) || !entry->data ||
            entry->size < 2 || !parent)
            return 6;
        snprintf(buffer, length, "%d", (int)exif_get_short(entry->data, exif_data_get_byte_order(parent)));
    } else {
        exif_entry_get_value(entry, buffer, length - 1);
        buffer[length - 1] = 0;
        bufferToUtf8(buffer, length);
    }
    return buffer[0] ? 0 : 6;
}

// ---- the record's texts that come from its blocks ------------------------------

namespace {

struct TextSource {
    uint32_t Field;
    uint32_t Tags[3];  // in the order asked; 0 ends
};

const TextSource kIptcSources[] = {
    {KXMETATEXT_ANNO, {120, 0, 0}},  {KXMETATEXT_AUTH, {122, 80, 0}},  {KXMETATEXT_COPY, {116, 0, 0}},
    {KXMETATEXT_NAME, {5, 0, 0}},    {KXMETATEXT_MORE1, {85, 0, 0}},   {KXMETATEXT_MORE3, {101, 0, 0}},
    {KXMETATEXT_MORE4, {115, 0, 0}},
};
const TextSource kExifSources[] = {
    {KXMETATEXT_ANNO, {37510, 40092, 270}},
    {KXMETATEXT_AUTH, {40093, 315, 272}},
    {KXMETATEXT_COPY, {33432, 0, 0}},
    {KXMETATEXT_NAME, {40091, 269, 0}},
};

// The GPS directory's position and date in one line; empty without any.
std::string gpsSummary(ExifHandle* h) {
    char lat[64], latRef[64], lon[64], lonRef[64], alt[64], altRef[64], date[64];
    auto ask = [&](uint32_t tag, char* out) { return EXIF_FindTagIFD(h, KXEXIF_EXIF, KXEXIF_INTEROP, tag, out, 63) == 0; };
    const bool haveLat = ask(2, lat), haveLon = ask(4, lon), haveAlt = ask(6, alt), haveDate = ask(29, date);
    if (!ask(1, latRef)) latRef[0] = 0;
    if (!ask(3, lonRef)) lonRef[0] = 0;
    if (!ask(5, altRef)) altRef[0] = 0;
    std::string gps = "GPS ";
    auto part = [&](const char* label, const char* value, const char* ref) {
        gps += label;
        gps += value;
        gps += ' ';
        gps += ref;
        gps += ' ';
    };
    if (haveLat) part("Lat ", lat, latRef);
    if (haveLon) part("Long ", lon, lonRef);
    if (haveAlt) part("Alt ", alt, altRef);
    if (haveDate) gps += std::string(" - ") + date;
    return gps.size() > 4 ? gps : std::string();
}

// The copyright notice as the tag holds it. libexif renders the tag for
// display ("<photographer> (Photographer) - <editor> (Editor)", "[None]" for
// a missing part, in the user's language), which is no value to keep or
// write back. The tag holds the photographer's notice, a zero, then the
// editor's: the photographer's is taken, the editor's when the first is
// blank (as the standard marks a notice of the editor alone).
std::string exifCopyright(ExifHandle* h, char* text, uint32_t size) {
    memcpy(text, KXEXIF_RAW_MARKER, sizeof(KXEXIF_RAW_MARKER));
    if (EXIF_FindTag(h, 33432, text, size) != 0) return std::string();
    uint32_t length = 0;
    memcpy(&length, text, 4);
    const char* value = text + KXEXIF_RAW_HEADER;
    auto blank = [](const std::string& s) { return s.find_first_not_of(' ') == std::string::npos; };
    const size_t first = strnlen(value, length);
    std::string notice(value, first);
    if (blank(notice) && first + 1 < length) notice.assign(value + first + 1, strnlen(value + first + 1, length - first - 1));
    if (blank(notice)) return std::string();
    std::string utf8(notice.size() * 2 + 1, '\0');
    utf8.resize(KXSUP_MetaTextToUtf8(notice.data(), notice.size(), utf8.data(), utf8.size()));
    return utf8;
}

bool sameText(const char* field, const std::string& text) { return text == (field ? field : ""); }

// libexif's serialised block copied into our memory (AllocVec); the
// library's buffer goes back through the default manager it came from.
uint32_t saveExifData(ExifData* d, uint8_t** out, uint32_t* outSize) {
    unsigned char* bytes = nullptr;
    unsigned int length = 0;
    exif_data_save_data(d, &bytes, &length);
    uint32_t err = bytes && length ? 0u : 5u;
    uint8_t* copy = err ? nullptr : static_cast<uint8_t*>(AllocVec(length, MEMF_ANY));
    if (!err && !copy) err = 3;
    if (copy) {
        memcpy(copy, bytes, length);
        *out = copy;
        *outSize = length;
    }
    if (bytes) {
        if (ExifMem* mem = exif_mem_new_default()) {
            exif_mem_free(mem, bytes);
            exif_mem_unref(mem);
        }
    }
    return err;
}

}  // namespace

void KX_MetaTextsFromHandles(ExifHandle* exif, IptcHandle* iptc, KXMetaTexts* out) {
    if (!out) return;
    *out = KXMetaTexts();
    constexpr uint32_t kSize = 65535;
    auto* text = static_cast<char*>(AllocVec(kSize, MEMF_CLEAR));
    if (!text) return;
    if (iptc)
        for (const TextSource& s : kIptcSources)
            for (uint32_t tag : s.Tags)
                if (tag && out->Text[s.Field].empty() && IPTC_FindTag(iptc, 2, tag, 0, text, kSize) == 0 && text[0])
                    out->Text[s.Field] = text;
    if (exif) {
        for (const TextSource& s : kExifSources)
            for (uint32_t tag : s.Tags) {
                if (!tag || !out->Text[s.Field].empty()) continue;
                if (tag == 33432)
                    out->Text[s.Field] = exifCopyright(exif, text, kSize);
                else if (EXIF_FindTag(exif, tag, text, kSize) == 0 && text[0])
                    out->Text[s.Field] = text;
            }
        if (EXIF_FindTag(exif, 274, text, kSize) == 0) out->Orientation = (uint32_t)strtoul(text, nullptr, 10);
        out->Text[KXMETATEXT_MORE2] = gpsSummary(exif);
    }
    FreeVec(text);
}

void KX_MetaTextsFromBlocks(const uint8_t* exif, uint32_t exifSize, const uint8_t* iptc, uint32_t iptcSize,
                            KXMetaTexts* out) {
    if (!out) return;
    uint32_t error = 0;
    ExifHandle* e = exif ? EXIF_OpenBuf(exif, exifSize, &error) : nullptr;
    IptcHandle* i = iptc ? IPTC_OpenBuf(iptc, iptcSize, &error) : nullptr;
    KX_MetaTextsFromHandles(e, i, out);
    EXIF_Close(e);
    IPTC_Close(i);
}

void KX_MetaFillTexts(char** const fields[KXMETATEXT_COUNT], const KXMetaTexts& texts) {
    for (uint32_t i = 0; i < KXMETATEXT_COUNT; ++i) {
        char** field = fields[i];
        const std::string& text = texts.Text[i];
        if (!field || (*field && (*field)[0]) || text.empty()) continue;
        auto* copy = static_cast<char*>(AllocVec(text.size() + 1, MEMF_ANY));
        if (!copy) continue;
        memcpy(copy, text.c_str(), text.size() + 1);
        FreeVec(*field);
        *field = copy;
    }
}

char** KX_MetaTextField(KXOSpecialInfo* info, uint32_t index) {
    if (!info) return nullptr;
    switch (index) {
    case KXMETATEXT_ANNO: return &info->Anno;
    case KXMETATEXT_AUTH: return &info->Auth;
    case KXMETATEXT_COPY: return &info->Copy;
    case KXMETATEXT_NAME: return &info->Name;
    case KXMETATEXT_MORE1: return &info->More1;
    case KXMETATEXT_MORE2: return &info->More2;
    case KXMETATEXT_MORE3: return &info->More3;
    case KXMETATEXT_MORE4: return &info->More4;
    default: return nullptr;
    }
}

uint32_t KX_MetaReplaceBlock(KXOSpecialInfo* info, uint32_t which, const uint8_t* bytes, uint32_t size) {
    if (!info || (which != KXMETABLOCK_EXIF && which != KXMETABLOCK_IPTC)) return 13;
    uint8_t* block = nullptr;
    if (bytes && size) {
        block = static_cast<uint8_t*>(AllocVec(size, MEMF_ANY));
        if (!block) return 3;
        memcpy(block, bytes, size);
    } else {
        size = 0;
    }
    const bool exif = which == KXMETABLOCK_EXIF;
    KXMetaTexts before, after;
    KX_MetaTextsFromBlocks(info->Exif, info->ExifSize, info->Iptc, info->IptcSize, &before);
    KX_MetaTextsFromBlocks(exif ? block : info->Exif, exif ? size : info->ExifSize, exif ? info->Iptc : block,
                           exif ? info->IptcSize : size, &after);
    // Every new text is made before anything changes.
    char* fresh[KXMETATEXT_COUNT] = {};
    bool follow[KXMETATEXT_COUNT] = {};
    bool ok = true;
    for (uint32_t i = 0; i < KXMETATEXT_COUNT; ++i) {
        follow[i] = sameText(*KX_MetaTextField(info, i), before.Text[i]) && before.Text[i] != after.Text[i];
        if (!follow[i] || after.Text[i].empty()) continue;
        fresh[i] = static_cast<char*>(AllocVec(after.Text[i].size() + 1, MEMF_ANY));
        if (!fresh[i]) {
            ok = false;
            break;
        }
        memcpy(fresh[i], after.Text[i].c_str(), after.Text[i].size() + 1);
    }
    if (!ok) {
        for (char* t : fresh) FreeVec(t);
        FreeVec(block);
        return 3;
    }
    uint8_t** slot = exif ? &info->Exif : &info->Iptc;
    uint32_t* sizeSlot = exif ? &info->ExifSize : &info->IptcSize;
    FreeVec(*slot);
    *slot = block;
    *sizeSlot = size;
    for (uint32_t i = 0; i < KXMETATEXT_COUNT; ++i) {
        if (!follow[i]) continue;
        char** field = KX_MetaTextField(info, i);
        FreeVec(*field);
        *field = fresh[i];
    }
    if (info->Orientation == before.Orientation) info->Orientation = after.Orientation;
    return 0;
}

void KX_MetaTextsCarried(const KXOSpecialInfo* info, bool exif, bool iptc, bool carried[KXMETATEXT_COUNT]) {
    for (uint32_t i = 0; i < KXMETATEXT_COUNT; ++i) carried[i] = false;
    if (!info || (!(exif && info->Exif) && !(iptc && info->Iptc))) return;
    KXMetaTexts t;
    KX_MetaTextsFromBlocks(exif ? info->Exif : nullptr, info->ExifSize, iptc ? info->Iptc : nullptr, info->IptcSize, &t);
    auto* record = const_cast<KXOSpecialInfo*>(info);
    for (uint32_t i = 0; i < KXMETATEXT_COUNT; ++i) {
        const char* text = *KX_MetaTextField(record, i);
        carried[i] = text && text[0] && t.Text[i] == text;
    }
}

uint32_t KX_ExifWithByteOrder(const uint8_t* exif, uint32_t size, bool intel, uint8_t** out, uint32_t* outSize) {
    if (out) *out = nullptr;
    if (outSize) *outSize = 0;
    if (!out || !outSize || !exif || size < kExifHeaderSize) return 4;
    const char mark = intel ? 'I' : 'M';
    if (exif[6] == mark && exif[7] == mark) {
        auto* copy = static_cast<uint8_t*>(AllocVec(size, MEMF_ANY));
        if (!copy) return 3;
        memcpy(copy, exif, size);
        *out = copy;
        *outSize = size;
        return 0;
    }
    ExifData* d = newExifData(exif, size);
    if (!d || !hasEntries(d)) {
        if (d) exif_data_unref(d);
        return 4;
    }
    exif_data_set_byte_order(d, intel ? EXIF_BYTE_ORDER_INTEL : EXIF_BYTE_ORDER_MOTOROLA);
    const uint32_t err = saveExifData(d, out, outSize);
    exif_data_unref(d);
    return err;
}
