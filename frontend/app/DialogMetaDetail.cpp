#include "DialogMetaDetail.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <strings.h>

#include <libexif/exif-mem.h>
#include <libexif/exif-mnote-data.h>
#include <libexif/exif-tag.h>
#include <libexif/exif-utils.h>
#include <libiptcdata/iptc-data.h>
#include <libiptcdata/iptc-dataset.h>
#include <libiptcdata/iptc-jpeg.h>
#include <libiptcdata/iptc-tag.h>

#include "DialogMetaInfo.h"
#include "UiServices.h"
#include "core/exifiptc.h"
#include "core/kxbridge.h"
#include "core/memory.h"

namespace {

bool startsWithNoCase(const char* text, const char* prefix, size_t n) { return strncasecmp(text, prefix, n) == 0; }

// A table name as listed: at most 63 characters, no trailing blanks or tabs.
QByteArray listName(const char* name) {
    QByteArray n = QByteArray(name).left(63);
    while (!n.isEmpty() && (n.endsWith(' ') || n.endsWith('\t'))) n.chop(1);
    return n;
}

// libexif names the values of some tags from a list and answers
// "Internal error (unknown value 1)" for one it lacks: such a value is
// shown as its number, with the meaning where the standard gives one.
QString knownValue(ExifTag tag, const QString& text) {
    static const QRegularExpression unknown(QStringLiteral("^Internal error \\(unknown value (.*)\\)$"));
    const QRegularExpressionMatch m = unknown.match(text);
    if (!m.hasMatch()) return text;
    const QString number = m.captured(1);
    const bool unit = tag == EXIF_TAG_RESOLUTION_UNIT || tag == EXIF_TAG_FOCAL_PLANE_RESOLUTION_UNIT;
    if (unit && number == QLatin1String("1")) return QStringLiteral("No absolute unit (1)");
    if (tag == EXIF_TAG_COLOR_SPACE && number == QLatin1String("0")) return QStringLiteral("Not given (0)");
    return number;
}

QString row(const QByteArray& name, const QString& format, const QString& text) {
    return QString::asprintf("%-32s%-16s", name.constData(), format.toLatin1().constData()) + text;
}

// The library's serialised bytes become the record's block, in our memory,
// and the texts and the orientation that came from the old block follow
// the new one.
uint32_t replaceBlock(KXOSpecialInfo* info, uint32_t which, const unsigned char* bytes, uint64_t length) {
    uint32_t n = 0;
    if (!bytes || !length) return KXMETA_FAILED;
    if (KXSUP_CheckSize(&n, length)) return KXMETA_NO_MEMORY;
    const uint32_t err = KX_MetaReplaceBlock(info, which, bytes, n);
    return err == KXERR_NONE ? uint32_t(KXMETA_OK) : err == KXERR_NOMEMORY ? uint32_t(KXMETA_NO_MEMORY) : uint32_t(KXMETA_FAILED);
}

// Serialises the parsed EXIF data into the record. exif_data_save_data
// allocates with the data's memory manager, the library's default one:
// its buffer goes back through a default manager, never FreeVec.
uint32_t saveExif(ExifData* d, KXOSpecialInfo* info) {
    unsigned char* bytes = nullptr;
    unsigned int length = 0;
    exif_data_save_data(d, &bytes, &length);
    const uint32_t r = replaceBlock(info, KXMETABLOCK_EXIF, bytes, length);
    if (bytes) {
        ExifMem* mem = exif_mem_new_default();
        if (mem) {
            exif_mem_free(mem, bytes);
            exif_mem_unref(mem);
        }
    }
    return r;
}

// The record's EXIF block opened and its entry tag found in directory ifd;
// null (nothing left open) when the block does not parse or lacks the entry.
ExifHandle* openEntry(const KXOSpecialInfo* info, int ifd, int tag, ExifEntry** entry) {
    *entry = nullptr;
    if (!info || !info->Exif || ifd < 0 || ifd >= EXIF_IFD_COUNT) return nullptr;
    uint32_t error = 0;
    ExifHandle* h = EXIF_OpenBuf(info->Exif, info->ExifSize, &error);
    ExifContent* c = h ? h->Data->ifd[ifd] : nullptr;
    if (c) *entry = exif_content_get_entry(c, ExifTag(tag));
    if (*entry) return h;
    EXIF_Close(h);
    return nullptr;
}

// Serialises the records and wraps them in a new Photoshop resource block.
uint32_t saveIptc(IptcData* d, KXOSpecialInfo* info) {
    unsigned char* records = nullptr;
    unsigned int length = 0;
    if (iptc_data_save(d, &records, &length) < 0 || !records) return KXMETA_FAILED;
    uint32_t room = 0;
    uint32_t r = KXSUP_CheckSize(&room, uint64_t(length) + 256) ? uint32_t(KXMETA_NO_MEMORY) : uint32_t(KXMETA_OK);
    auto* out = r ? nullptr : static_cast<unsigned char*>(AllocVec(room, MEMF_CLEAR));
    if (!r && !out) r = KXMETA_NO_MEMORY;
    if (!r) {
        const int written = iptc_jpeg_ps3_save_iptc(nullptr, 0, records, length, out, room);
        r = written > 0 ? replaceBlock(info, KXMETABLOCK_IPTC, out, uint64_t(written)) : uint32_t(KXMETA_FAILED);
    }
    FreeVec(out);
    iptc_data_free_buf(d, records);
    return r;
}

bool parseLong(const QByteArray& text, qlonglong lo, qlonglong hi, qlonglong* v) {
    bool ok = false;
    *v = QLocale::c().toLongLong(text.trimmed(), &ok);
    return ok && *v >= lo && *v <= hi;
}

bool parseDouble(const QByteArray& text, double* v) {
    bool ok = false;
    *v = QLocale::c().toDouble(text.trimmed(), &ok);
    return ok && std::isfinite(*v);
}

// The value text as the bytes of one component of format, in the block's
// byte order; false when it does not parse as such a number.
bool encodeValue(int format, const QByteArray& text, ExifByteOrder order, unsigned char* out) {
    qlonglong n = 0;
    double v = 0;
    switch (format) {
    case EXIF_FORMAT_BYTE:
        if (!parseLong(text, 0, 255, &n)) return false;
        out[0] = (unsigned char)n;
        return true;
    case EXIF_FORMAT_SBYTE:
        if (!parseLong(text, -128, 127, &n)) return false;
        out[0] = (unsigned char)(signed char)n;
        return true;
    case EXIF_FORMAT_SHORT:
        if (!parseLong(text, 0, 65535, &n)) return false;
        exif_set_short(out, order, ExifShort(n));
        return true;
    case EXIF_FORMAT_SSHORT:
        if (!parseLong(text, -32768, 32767, &n)) return false;
        exif_set_sshort(out, order, ExifSShort(n));
        return true;
    case EXIF_FORMAT_SLONG:
        if (!parseLong(text, INT32_MIN, INT32_MAX, &n)) return false;
        exif_set_slong(out, order, ExifSLong(n));
        return true;
    case EXIF_FORMAT_LONG:
        if (!parseLong(text, 0, UINT32_MAX, &n)) return false;
        exif_set_long(out, order, ExifLong(n));
        return true;
    case EXIF_FORMAT_FLOAT: {
        if (!parseDouble(text, &v)) return false;
        const float f = float(v);
        uint32_t bits;
        memcpy(&bits, &f, 4);
        exif_set_long(out, order, bits);
        return true;
    }
    case EXIF_FORMAT_DOUBLE: {
        if (!parseDouble(text, &v)) return false;
        uint64_t bits;
        memcpy(&bits, &v, 8);
        const bool motorola = order == EXIF_BYTE_ORDER_MOTOROLA;
        exif_set_long(out, order, ExifLong(motorola ? bits >> 32 : bits));
        exif_set_long(out + 4, order, ExifLong(motorola ? bits : bits >> 32));
        return true;
    }
    case EXIF_FORMAT_RATIONAL:
    case EXIF_FORMAT_SRATIONAL: {
        if (!parseDouble(text, &v)) return false;
        const bool sign = format == EXIF_FORMAT_SRATIONAL;
        int64_t num = 0;
        uint32_t den = 1;
        KX_ExifRational(float(v), sign, &num, &den);
        if (sign) exif_set_srational(out, order, ExifSRational{ExifSLong(num), ExifSLong(den)});
        else exif_set_rational(out, order, ExifRational{ExifLong(num), ExifLong(den)});
        return true;
    }
    default: return false;
    }
}

}  // namespace

// ---- EXIF --------------------------------------------------------------------------

QString KX_ExifFormatName(int format) {
    static const char* const names[] = {"(N/A)",    "(Byte)",  "(Ascii)",  "(Short)",    "(Long)",  "(Rational)", "(SByte)",
                                        "(Undefined)", "(SShort)", "(SLong)", "(SRational)", "(Float)", "(Double)"};
    return QString::fromLatin1(format >= 0 && format <= 12 ? names[format] : names[0]);
}

bool KX_ExifEditable(int format, unsigned long components) {
    const bool kind = format >= 1 && format <= 12 && format != EXIF_FORMAT_UNDEFINED;
    return kind && (components <= 1 || format == EXIF_FORMAT_ASCII);
}

void KX_ExifRational(float value, bool sign, int64_t* numerator, uint32_t* denominator) {
    float v = value;
    int s = 1;
    if (v < 0) {
        if (sign) {
            v = -v;
            s = -1;
        } else {
            v = 0;
        }
    }
    uint32_t d = 1;
    constexpr float kLimit = 268435456.0f;  // 2^28
    while (v > 0 && v < kLimit && d < 268435456u) {
        v *= 8;
        d *= 8;
    }
    // Beyond the component's range the nearest value it holds is stored.
    const double hi = sign ? 2147483647.0 : 4294967295.0;
    double n = std::floor(double(v) + 0.5);
    if (n > hi) n = hi;
    *numerator = int64_t(n) * s;
    *denominator = d;
}

QVector<KXExifRow> KX_ExifRows(const uint8_t* exif, uint32_t size, bool* makerNote) {
    QVector<KXExifRow> rows;
    if (makerNote) *makerNote = false;
    uint32_t error = 0;
    ExifHandle* h = exif ? EXIF_OpenBuf(exif, size, &error) : nullptr;
    if (!h) return rows;
    ExifData* d = h->Data;
    if (makerNote && d->ifd[EXIF_IFD_EXIF] && exif_content_get_entry(d->ifd[EXIF_IFD_EXIF], ExifTag(37500)))
        *makerNote = true;
    const unsigned count = exif_tag_table_count();
    for (unsigned i = 0; i < count; ++i) {
        const ExifTag tag = exif_tag_table_get_tag(i);
        const char* name = exif_tag_table_get_name(i);
        if (!tag || !name) continue;
        // Tags 1 and 2 are numbered alike in the GPS and the
        // Interoperability directory: each table row looks in its own.
        int first = 0, last = 4;
        if (tag == 1 || tag == 2) first = last = startsWithNoCase(name, "GPS", 3) ? EXIF_IFD_GPS : EXIF_IFD_INTEROPERABILITY;
        ExifEntry* e = nullptr;
        int ifd = first;
        for (; ifd <= last && !e; ++ifd)
            if (d->ifd[ifd]) e = exif_content_get_entry(d->ifd[ifd], tag);
        if (!e) continue;
        --ifd;
        char value[256] = {};
        exif_entry_get_value(e, value, sizeof(value));
        value[sizeof(value) - 1] = 0;
        QString text = KX_MetaText(value);
        if (text.isEmpty()) continue;
        const ExifByteOrder order = exif_data_get_byte_order(d);
        text = knownValue(tag, text);
        if (startsWithNoCase(name, "SubsecTime", 10)) {
            for (QChar c : text)
                if (c.isLetter()) {
                    text = QStringLiteral("0");
                    break;
                }
        } else if (startsWithNoCase(name, "ShutterSpeedValue", 17) && e->data && e->size >= 8) {
            const ExifSRational r = exif_get_srational(e->data, order);
            const double v = double(r.numerator) / double(r.denominator ? r.denominator : 1);
            if (text.startsWith(QLatin1String(" (")) && text.endsWith(QLatin1Char(',')) && text.size() >= 3)
                text = text.mid(2, text.size() - 3);
            text = (QString::asprintf("%.02lf - ", v) + text).left(255);
        } else if (startsWithNoCase(name, "ComponentsConfiguration", 17) && e->data && e->size >= 4) {
            text = QString::asprintf("%ld %ld %ld %ld / ", long(e->data[0]), long(e->data[1]), long(e->data[2]),
                                     long(e->data[3]));
            static const char* const letters[] = {"x ", "Y ", "Cb ", "Cr ", "R ", "G ", "B "};
            for (int k = 0; k < 4; ++k) text += QLatin1String(e->data[k] <= 6 ? letters[e->data[k]] : letters[0]);
        }
        KXExifRow r;
        r.name = QString::fromLatin1(listName(name));
        r.tag = int(tag);
        r.ifd = ifd;
        r.format = int(e->format);
        r.components = e->components;
        r.line = row(listName(name), KX_ExifFormatName(r.format), text);
        rows.push_back(r);
    }
    EXIF_Close(h);
    return rows;
}

namespace {
// Puts a new entry tag with the value into directory ifd of the parsed
// block, in place of old when given, and serialises the block into the
// record. The new entry is complete before the old one goes.
uint32_t putEntry(KXOSpecialInfo* info, ExifData* data, int ifd, int tag, int format, ExifEntry* old,
                  const QByteArray& value) {
    ExifContent* c = data->ifd[ifd];
    if (!c) return KXMETA_NOT_FOUND;
    const ExifByteOrder order = exif_data_get_byte_order(data);
    QByteArray bytes;
    unsigned long count = 1;
    if (format == EXIF_FORMAT_ASCII) {
        bytes = value;
        bytes.append('\0');
        count = (unsigned long)bytes.size();
    } else {
        bytes = QByteArray(exif_format_get_size(ExifFormat(format)), '\0');
        if (bytes.isEmpty() || !encodeValue(format, value, order, reinterpret_cast<unsigned char*>(bytes.data())))
            return KXMETA_BAD_VALUE;
    }
    uint32_t r = KXMETA_OK;
    ExifMem* mem = exif_mem_new_default();
    ExifEntry* e = mem ? exif_entry_new_mem(mem) : nullptr;
    if (!e) r = KXMETA_FAILED;
    if (!r) {
        e->data = static_cast<unsigned char*>(exif_mem_alloc(mem, ExifLong(bytes.size())));
        if (!e->data) r = KXMETA_NO_MEMORY;
    }
    if (!r) {
        memcpy(e->data, bytes.constData(), size_t(bytes.size()));
        e->size = (unsigned int)bytes.size();
        e->tag = ExifTag(tag);
        e->format = ExifFormat(format);
        e->components = count;
        if (old) exif_content_remove_entry(c, old);
        exif_content_add_entry(c, e);
        r = exif_content_get_entry(c, ExifTag(tag)) == e ? saveExif(data, info) : uint32_t(KXMETA_FAILED);
    }
    if (e) exif_entry_unref(e);
    if (mem) exif_mem_unref(mem);
    return r;
}

// The directory a new entry goes to: the EXIF directory for the tags of
// its range, else the first one.
int addDirectory(int tag) { return tag >= 33434 && tag <= 42016 ? EXIF_IFD_EXIF : EXIF_IFD_0; }
}  // namespace

uint32_t KX_ExifUpdate(KXOSpecialInfo* info, int ifd, int tag, int format, unsigned long components,
                       const QByteArray& value) {
    if (!KX_ExifEditable(format, components)) return KXMETA_NOT_EDITABLE;
    ExifEntry* old = nullptr;
    ExifHandle* h = openEntry(info, ifd, tag, &old);
    if (!h) return KXMETA_NOT_FOUND;
    // Same directory as before: a GPS or Interoperability entry stays there.
    const uint32_t r = putEntry(info, h->Data, ifd, tag, format, old, value);
    EXIF_Close(h);
    return r;
}

QVector<KXExifRow> KX_ExifAddable(const uint8_t* exif, uint32_t size) {
    QVector<KXExifRow> out;
    uint32_t error = 0;
    ExifHandle* h = exif ? EXIF_OpenBuf(exif, size, &error) : nullptr;
    if (!h) return out;
    ExifData* d = h->Data;
    const unsigned count = exif_tag_table_count();
    for (unsigned i = 0; i < count; ++i) {
        const ExifTag tag = exif_tag_table_get_tag(i);
        const char* name = exif_tag_table_get_name(i);
        if (!tag || !name) continue;
        const int ifd = addDirectory(int(tag));
        const ExifSupportLevel level = exif_tag_get_support_level_in_ifd(tag, ExifIfd(ifd), EXIF_DATA_TYPE_COMPRESSED);
        if (level == EXIF_SUPPORT_LEVEL_NOT_RECORDED || level == EXIF_SUPPORT_LEVEL_UNKNOWN) continue;
        if (!d->ifd[ifd] || exif_content_get_entry(d->ifd[ifd], tag)) continue;
        bool listed = false;
        for (const KXExifRow& r : out) listed = listed || r.tag == int(tag);
        if (listed) continue;
        // The tag's usual format and count, as libexif makes a new entry.
        ExifEntry* e = exif_entry_new();
        if (!e) break;
        exif_content_add_entry(d->ifd[ifd], e);
        exif_entry_initialize(e, tag);
        const int format = int(e->format);
        const unsigned long components = format == EXIF_FORMAT_ASCII ? 1 : e->components;
        exif_content_remove_entry(d->ifd[ifd], e);
        exif_entry_unref(e);
        if (!KX_ExifEditable(format, components)) continue;
        KXExifRow r;
        r.name = QString::fromLatin1(listName(name));
        r.tag = int(tag);
        r.ifd = ifd;
        r.format = format;
        r.components = components;
        r.line = QStringLiteral("%1 (%2)").arg(r.name).arg(r.tag);
        out.push_back(r);
    }
    EXIF_Close(h);
    std::sort(out.begin(), out.end(), [](const KXExifRow& a, const KXExifRow& b) { return a.name < b.name; });
    return out;
}

uint32_t KX_ExifAdd(KXOSpecialInfo* info, int tag, int format, const QByteArray& value) {
    if (!KX_ExifEditable(format, 1)) return KXMETA_NOT_EDITABLE;
    if (!info || !info->Exif) return KXMETA_NOT_FOUND;
    uint32_t error = 0;
    ExifHandle* h = EXIF_OpenBuf(info->Exif, info->ExifSize, &error);
    if (!h) return KXMETA_NOT_FOUND;
    const int ifd = addDirectory(tag);
    uint32_t r = KXMETA_OK;
    // A tag the block holds already is changed with Update, not added twice.
    if (!h->Data->ifd[ifd] || exif_content_get_entry(h->Data->ifd[ifd], ExifTag(tag))) r = KXMETA_FAILED;
    if (!r) r = putEntry(info, h->Data, ifd, tag, format, nullptr, value);
    EXIF_Close(h);
    return r;
}

uint32_t KX_ExifRemove(KXOSpecialInfo* info, int ifd, int tag) {
    ExifEntry* old = nullptr;
    ExifHandle* h = openEntry(info, ifd, tag, &old);
    if (!h) return KXMETA_NOT_FOUND;
    exif_content_remove_entry(h->Data->ifd[ifd], old);
    const uint32_t r = saveExif(h->Data, info);
    EXIF_Close(h);
    return r;
}

uint32_t KX_ExifSetOrientation(KXOSpecialInfo* info, uint32_t value) {
    if (!info) return KXMETA_OK;
    for (const KXExifRow& r : KX_ExifRows(info->Exif, info->ExifSize)) {
        if (r.tag != 274) continue;
        if (value && KX_ExifUpdate(info, r.ifd, r.tag, r.format, r.components, QByteArray::number(value)) == KXMETA_OK)
            return KXMETA_OK;
        return KX_ExifRemove(info, r.ifd, r.tag);
    }
    return KXMETA_OK;
}

// ---- IPTC --------------------------------------------------------------------------

QString KX_IptcFormatName(int format) {
    static const char* const names[] = {"(Unknown)", "(Binary)", "(Byte)", "(Short)", "(Long)",
                                        "(String)",  "(NumericString)", "(Date)", "(Time)"};
    return QString::fromLatin1(format >= 0 && format <= 8 ? names[format] : "(N/A)");
}

bool KX_IptcEditable(int format) { return format >= 2 && format <= 6; }

QVector<KXIptcRow> KX_IptcRows(const uint8_t* iptc, uint32_t size) {
    QVector<KXIptcRow> rows;
    uint32_t error = 0;
    IptcHandle* h = iptc ? IPTC_OpenBuf(iptc, size, &error) : nullptr;
    if (!h) return rows;
    constexpr uint32_t kSize = 65535;
    auto* text = static_cast<char*>(AllocVec(kSize, MEMF_CLEAR));
    if (text) {
        for (int rec = 0; rec <= 9; ++rec)
            for (int ds = 0; ds <= 255; ++ds) {
                const IptcTagInfo* ti = iptc_tag_get_info(IptcRecord(rec), IptcTag(ds));
                if (!ti || !ti->name) continue;
                if (IPTC_FindTag(h, uint32_t(rec), uint32_t(ds), 0, text, kSize) != 0 || !text[0]) continue;
                KXIptcRow r;
                r.name = QString::fromLatin1(listName(ti->name));
                r.record = rec;
                r.dataset = ds;
                r.format = int(ti->format);
                r.maxLength = ti->maxbytes;
                r.line = row(listName(ti->name), KX_IptcFormatName(r.format), QString::fromUtf8(text));
                rows.push_back(r);
            }
        FreeVec(text);
    }
    IPTC_Close(h);
    return rows;
}

namespace {

// One dataset written into the record's IPTC block: in place of the one
// present (replace), or beside the others.
uint32_t putIptcDataset(KXOSpecialInfo* info, int record, int dataset, int format, const QByteArray& value, bool replace) {
    if (!KX_IptcEditable(format)) return KXMETA_NOT_EDITABLE;
    if (!info || !info->Iptc) return KXMETA_NOT_FOUND;
    qlonglong number = 0;
    const bool bytes = format == IPTC_FORMAT_BINARY || format == IPTC_FORMAT_STRING || format == IPTC_FORMAT_NUMERIC_STRING;
    if (!bytes && !parseLong(value, INT32_MIN, INT32_MAX, &number)) return KXMETA_BAD_VALUE;
    uint32_t error = 0;
    IptcHandle* h = IPTC_OpenBuf(info->Iptc, info->IptcSize, &error);
    if (!h) return KXMETA_NOT_FOUND;
    uint32_t r = KXMETA_OK;
    // The new dataset is complete before the old one goes.
    IptcDataSet* ds = iptc_dataset_new();
    if (!ds) r = KXMETA_NO_MEMORY;
    if (!r) {
        iptc_dataset_set_tag(ds, IptcRecord(record), IptcTag(dataset));
        const int set = bytes ? iptc_dataset_set_data(ds, reinterpret_cast<const unsigned char*>(value.constData()),
                                                      (unsigned int)value.size(), IPTC_DONT_VALIDATE)
                              : iptc_dataset_set_value(ds, (unsigned int)(int32_t)number, IPTC_DONT_VALIDATE);
        if (set < 0) r = KXMETA_FAILED;
    }
    IptcDataSet* old = r || !replace ? nullptr : iptc_data_get_next_dataset(h->Data, nullptr, IptcRecord(record), IptcTag(dataset));
    if (!r && replace && !old) r = KXMETA_NOT_FOUND;
    if (!r && old && iptc_data_remove_dataset(h->Data, old) < 0) r = KXMETA_FAILED;
    if (!r && iptc_data_add_dataset(h->Data, ds) < 0) r = KXMETA_FAILED;
    if (!r) r = saveIptc(h->Data, info);
    if (old) iptc_dataset_unref(old);
    if (ds) iptc_dataset_unref(ds);
    IPTC_Close(h);
    return r;
}

}  // namespace

uint32_t KX_IptcUpdate(KXOSpecialInfo* info, int record, int dataset, int format, const QByteArray& value) {
    return putIptcDataset(info, record, dataset, format, value, true);
}

QVector<KXIptcRow> KX_IptcAddable(const uint8_t* iptc, uint32_t size) {
    QVector<KXIptcRow> out;
    QSet<int> present;
    for (const KXIptcRow& r : KX_IptcRows(iptc, size)) present.insert(r.record * 256 + r.dataset);
    for (int rec = 1; rec <= 9; ++rec)
        for (int ds = 0; ds <= 255; ++ds) {
            const IptcTagInfo* ti = iptc_tag_get_info(IptcRecord(rec), IptcTag(ds));
            if (!ti || !ti->name || !KX_IptcEditable(int(ti->format)) || present.contains(rec * 256 + ds)) continue;
            KXIptcRow r;
            r.name = QString::fromLatin1(listName(ti->name));
            r.record = rec;
            r.dataset = ds;
            r.format = int(ti->format);
            r.maxLength = ti->maxbytes;
            r.line = QStringLiteral("%1 (%2:%3)").arg(r.name).arg(rec).arg(ds);
            out.push_back(r);
        }
    return out;
}

uint32_t KX_IptcAdd(KXOSpecialInfo* info, int record, int dataset, int format, const QByteArray& value) {
    return putIptcDataset(info, record, dataset, format, value, false);
}

uint32_t KX_IptcRemove(KXOSpecialInfo* info, int record, int dataset) {
    if (!info || !info->Iptc) return KXMETA_NOT_FOUND;
    uint32_t error = 0;
    IptcHandle* h = IPTC_OpenBuf(info->Iptc, info->IptcSize, &error);
    if (!h) return KXMETA_NOT_FOUND;
    uint32_t r = KXMETA_OK;
    IptcDataSet* old = iptc_data_get_next_dataset(h->Data, nullptr, IptcRecord(record), IptcTag(dataset));
    if (!old || iptc_data_remove_dataset(h->Data, old) < 0) r = KXMETA_NOT_FOUND;
    if (!r) r = saveIptc(h->Data, info);
    if (old) iptc_dataset_unref(old);
    IPTC_Close(h);
    return r;
}

// ---- the shared list dialog -----------------------------------------------------

DialogMetaList::DialogMetaList(UiServices* u, const QString& title, const QString& allToClip, QWidget* parent)
    : QDialog(parent), ui(u) {
    setWindowTitle(title);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    listBoxTags = new QListWidget(this);
    listBoxTags->setObjectName(QStringLiteral("listBoxTags"));
    listBoxTags->setFont(fixed);
    listBoxTags->setMinimumSize(720, 300);
    textBoxTag = new QLineEdit(this);
    textBoxTag->setReadOnly(true);
    textBoxTag->setFont(fixed);

    auto* fields = new QGridLayout;
    auto field = [&](QLineEdit*& b, const char* name, const char* label, int r, int c) {
        b = new QLineEdit(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setReadOnly(true);
        fields->addWidget(new QLabel(QString::fromLatin1(label), this), r, c);
        fields->addWidget(b, r, c + 1);
    };
    field(textBoxNum, "textBoxNum", "No.", 0, 0);
    field(textBoxIFD, "textBoxIFD", "IFD/Record", 0, 2);
    field(textBoxTiffTag, "textBoxTiffTag", "Tag", 0, 4);
    field(textBoxName, "textBoxName", "Name", 1, 0);
    field(textBoxTypeInt, "textBoxTypeInt", "Format", 1, 2);
    field(textBoxType, "textBoxType", "Type", 1, 4);
    field(textBoxSize, "textBoxSize", "Size", 2, 0);
    labelContent = new QLabel(QStringLiteral("Enter new content here and press \"Update\" when done!"), this);
    textBoxContent = new QLineEdit(this);
    textBoxContent->setObjectName(QStringLiteral("textBoxContent"));

    buttonCopyLineToClip = new QPushButton(QStringLiteral("Line To Clip"), this);
    buttonCopyAllToClip = new QPushButton(allToClip, this);
    buttonEdit = new QPushButton(QStringLiteral("Update"), this);
    buttonEdit->setObjectName(QStringLiteral("buttonEdit"));
    buttonRemove = new QPushButton(QStringLiteral("Remove"), this);
    buttonRemove->setObjectName(QStringLiteral("buttonRemove"));
    buttonAdd = new QPushButton(QStringLiteral("Add..."), this);
    buttonAdd->setObjectName(QStringLiteral("buttonAdd"));
    buttonAdd->setEnabled(false);
    buttonOK = new QPushButton(QStringLiteral("Done"), this);
    buttonOK->setObjectName(QStringLiteral("buttonOK"));
    buttonOK->setDefault(true);

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {buttonCopyAllToClip, buttonCopyLineToClip, buttonEdit, buttonRemove, buttonAdd})
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(buttonOK);
    auto* v = new QVBoxLayout(this);
    v->addWidget(listBoxTags);
    v->addWidget(textBoxTag);
    v->addLayout(fields);
    v->addWidget(labelContent);
    v->addWidget(textBoxContent);
    v->addLayout(buttons);

    connect(listBoxTags, &QListWidget::currentRowChanged, this, [this](int r) {
        QListWidgetItem* it = listBoxTags->item(r);
        textBoxTag->setText(it ? it->text() : QString());
        if (!do_not_edit_tag && r >= 0) {
            adding = false;
            rowSelected(r);
        }
    });
    connect(buttonOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(buttonEdit, &QPushButton::clicked, this, [this] { updateSelected(); });
    connect(buttonRemove, &QPushButton::clicked, this, [this] { removeSelected(); });
    connect(buttonAdd, &QPushButton::clicked, this, [this] { addClicked(); });
    connect(buttonCopyLineToClip, &QPushButton::clicked, this, [this] {
        QApplication::clipboard()->setText(textBoxTag->text());
    });
    connect(buttonCopyAllToClip, &QPushButton::clicked, this, [this] {
        QString all;
        for (int i = 0; i < listBoxTags->count(); ++i) all += listBoxTags->item(i)->text() + QStringLiteral("\r\n");
        QApplication::clipboard()->setText(all);
    });
}

DialogMetaList::~DialogMetaList() { FreeVec(ownInfo); }

void DialogMetaList::error(const QString& text) {
    ui->Message(this, QStringLiteral("Kaxon5 Error"), text, UiServices::Icon::Critical);
}

void DialogMetaList::setRows(const QStringList& rows) {
    do_not_edit_tag = true;
    listBoxTags->clear();
    listBoxTags->addItems(rows);
    max_index = int(rows.size());
    do_not_edit_tag = false;
    if (!rows.isEmpty()) {
        listBoxTags->setCurrentRow(-1);
        listBoxTags->setCurrentRow(0);
    }
}

bool DialogMetaList::copyStep() { return KX_EditableMetaData(&_cloned, &_info); }

bool DialogMetaList::prepare(KXOSpecialInfo* info) {
    if (!info) {
        if (!ownInfo) ownInfo = static_cast<KXOSpecialInfo*>(AllocVec(sizeof(KXOSpecialInfo), MEMF_CLEAR));
        info = ownInfo;
    }
    _info = info;
    _cloned = KX_IsUnlinkedMetaData() != 0;
    _initial = true;
    const bool ok = UpdateContent();
    _initial = false;
    return ok;
}

void DialogMetaList::showEntry(int row, int group, const QString& name, int tag, int format, const QString& type,
                               unsigned long size) {
    textBoxNum->setText(QString::number(row));
    textBoxIFD->setText(QString::number(group));
    textBoxName->setText(name);
    textBoxTiffTag->setText(QString::number(tag));
    textBoxTypeInt->setText(QString::number(format));
    textBoxType->setText(type);
    textBoxSize->setText(QString::number(size));
    textBoxContent->setText(QStringLiteral("<enter new value>"));
}

int DialogMetaList::selectedEntry() const {
    const int r = listBoxTags->currentRow();
    return r >= 0 && r < entryCount() ? r : -1;
}

void DialogMetaList::enableAdd() { buttonAdd->setEnabled(_info && hasBlock()); }

void DialogMetaList::addClicked() {
    const QStringList items = addableEntries();
    if (items.isEmpty()) {
        error(QStringLiteral("No more tags can be added."));
        return;
    }
    const int choice = ui->ChooseItem(this, QStringLiteral("Add Tag"), QStringLiteral("Tag to add:"), items);
    if (choice < 0 || choice >= items.size()) return;
    showAddable(choice);
    adding = true;
    textBoxContent->setFocus();
    textBoxContent->selectAll();
}

void DialogMetaList::updateSelected() {
    if (adding) {
        if (!copyStep() || !hasBlock()) return;
        const uint32_t err = addEntry(textBoxContent->text().toUtf8());
        if (err == KXMETA_NO_MEMORY) error(QStringLiteral("Tag Addition failed: no memory!"));
        else if (err) error(QStringLiteral("Tag Addition failed!"));
        if (err) return;
        adding = false;
        changed = true;
        UpdateContent();
        const int r = addedRow();
        if (r >= 0) listBoxTags->setCurrentRow(r);
        return;
    }
    const int r = selectedEntry();
    if (r < 0) return;
    if (!editable(r)) {
        error(QStringLiteral("Editing tags of this type currently is not supported!"));
        return;
    }
    if (!copyStep() || !hasBlock()) return;
    const uint32_t err = updateEntry(r, textBoxContent->text().toUtf8());
    if (err == KXMETA_NO_MEMORY) error(QStringLiteral("Tag Addition failed: no memory!"));
    else if (err) error(QStringLiteral("Tag Addition failed!"));
    if (err) return;
    changed = true;
    UpdateContent();
}

void DialogMetaList::removeSelected() {
    const int r = selectedEntry();
    if (r < 0) return;
    if (!copyStep() || !hasBlock()) return;
    if (removeEntry(r)) {
        error(QStringLiteral("Tag Removal failed!"));
        return;
    }
    changed = true;
    UpdateContent();
}

// ---- EXIF editor ----------------------------------------------------------------

DialogShowMetaDetailsExif::DialogShowMetaDetailsExif(UiServices* u, QWidget* parent)
    : DialogMetaList(u, QStringLiteral("Show EXIF Details"), QStringLiteral("EXIF To Clip"), parent) {
    buttonViewMakerNote = new QPushButton(QStringLiteral("View MakerNote..."), this);
    buttonViewMakerNote->setObjectName(QStringLiteral("buttonViewMakerNote"));
    buttonViewMakerNote->setEnabled(false);
    layout()->addWidget(buttonViewMakerNote);
    connect(buttonViewMakerNote, &QPushButton::clicked, this, [this] { viewMakerNote(); });
}

bool DialogShowMetaDetailsExif::PrepareP(KXOSpecialInfo* info) {
    prepare(info);
    return true;
}

int DialogShowMetaDetailsExif::ShowDialogP(KXOSpecialInfo* info) { return PrepareP(info) ? exec() : QDialog::Rejected; }

bool DialogShowMetaDetailsExif::UpdateContent() {
    bool note = false;
    entries = _info ? KX_ExifRows(_info->Exif, _info->ExifSize, &note) : QVector<KXExifRow>();
    buttonViewMakerNote->setEnabled(note);
    enableAdd();
    QStringList lines;
    for (const KXExifRow& r : entries) lines << r.line;
    if (lines.isEmpty()) {
        setRows({QString()});
        if (!_initial) {
            error(QStringLiteral("Sorry, no EXIF tags found. Exiting..."));
            reject();
            return false;
        }
        return true;
    }
    setRows(lines);
    return true;
}

void DialogShowMetaDetailsExif::rowSelected(int r) {
    if (r < 0 || r >= entries.size()) return;
    const KXExifRow& e = entries[r];
    showEntry(r, e.ifd, e.name, e.tag, e.format, KX_ExifFormatName(e.format), e.components);
}

bool DialogShowMetaDetailsExif::editable(int r) const { return KX_ExifEditable(entries[r].format, entries[r].components); }

bool DialogShowMetaDetailsExif::hasBlock() const { return _info->Exif; }

uint32_t DialogShowMetaDetailsExif::updateEntry(int r, const QByteArray& value) {
    const KXExifRow& e = entries[r];
    return KX_ExifUpdate(_info, e.ifd, e.tag, e.format, e.components, value);
}

uint32_t DialogShowMetaDetailsExif::removeEntry(int r) { return KX_ExifRemove(_info, entries[r].ifd, entries[r].tag); }

QStringList DialogShowMetaDetailsExif::addableEntries() {
    addable = _info ? KX_ExifAddable(_info->Exif, _info->ExifSize) : QVector<KXExifRow>();
    QStringList items;
    for (const KXExifRow& r : addable) items << r.line;
    return items;
}

void DialogShowMetaDetailsExif::showAddable(int index) {
    pending = addable[index];
    showEntry(int(entries.size()), pending.ifd, pending.name, pending.tag, pending.format, KX_ExifFormatName(pending.format),
              pending.components);
}

uint32_t DialogShowMetaDetailsExif::addEntry(const QByteArray& value) {
    return KX_ExifAdd(_info, pending.tag, pending.format, value);
}

int DialogShowMetaDetailsExif::addedRow() const {
    for (int i = 0; i < entries.size(); ++i)
        if (entries[i].tag == pending.tag && entries[i].ifd == pending.ifd) return i;
    return -1;
}

void DialogShowMetaDetailsExif::viewMakerNote() {
    uint32_t err = 0;
    ExifHandle* h = _info ? EXIF_OpenBuf(_info->Exif, _info->ExifSize, &err) : nullptr;
    ExifContent* c = h ? h->Data->ifd[EXIF_IFD_EXIF] : nullptr;
    if (!c || !exif_content_get_entry(c, ExifTag(37500))) {
        error(QStringLiteral("MakerNote could not be found!"));
    } else if (ExifMnoteData* note = exif_data_get_mnote_data(h->Data)) {
        DialogShowExifMakerNote d(ui, this);
        if (d.PrepareP(_info, h->Data, note)) showModal ? showModal(&d) : d.exec();
    } else {
        error(QStringLiteral("MakerNote could not be parsed!"));
    }
    EXIF_Close(h);
}

// ---- IPTC editor ----------------------------------------------------------------

DialogShowMetaDetailsIptc::DialogShowMetaDetailsIptc(UiServices* u, QWidget* parent)
    : DialogMetaList(u, QStringLiteral("Show IPTC Details"), QStringLiteral("IPTC To Clip"), parent) {}

bool DialogShowMetaDetailsIptc::PrepareP(KXOSpecialInfo* info) {
    const bool ok = prepare(info);
    if (!ok) error(QStringLiteral("IPTC Parsing Failure!"));
    return ok;
}

int DialogShowMetaDetailsIptc::ShowDialogP(KXOSpecialInfo* info) { return PrepareP(info) ? exec() : QDialog::Rejected; }

bool DialogShowMetaDetailsIptc::UpdateContent() {
    entries = _info ? KX_IptcRows(_info->Iptc, _info->IptcSize) : QVector<KXIptcRow>();
    enableAdd();
    QStringList lines;
    for (const KXIptcRow& r : entries) lines << r.line;
    setRows(lines);
    if (lines.isEmpty() && !_initial) {
        error(QStringLiteral("IPTC Parsing Failure!"));
        reject();
    }
    return !lines.isEmpty();
}

void DialogShowMetaDetailsIptc::rowSelected(int r) {
    if (r < 0 || r >= entries.size()) return;
    const KXIptcRow& e = entries[r];
    showEntry(r, e.record, e.name, e.dataset, e.format, KX_IptcFormatName(e.format), e.maxLength);
}

bool DialogShowMetaDetailsIptc::editable(int r) const { return KX_IptcEditable(entries[r].format); }

bool DialogShowMetaDetailsIptc::hasBlock() const { return _info->Iptc; }

uint32_t DialogShowMetaDetailsIptc::updateEntry(int r, const QByteArray& value) {
    const KXIptcRow& e = entries[r];
    return KX_IptcUpdate(_info, e.record, e.dataset, e.format, value);
}

uint32_t DialogShowMetaDetailsIptc::removeEntry(int r) {
    return KX_IptcRemove(_info, entries[r].record, entries[r].dataset);
}

QStringList DialogShowMetaDetailsIptc::addableEntries() {
    addable = _info ? KX_IptcAddable(_info->Iptc, _info->IptcSize) : QVector<KXIptcRow>();
    QStringList items;
    for (const KXIptcRow& r : addable) items << r.line;
    return items;
}

void DialogShowMetaDetailsIptc::showAddable(int index) {
    pending = addable[index];
    showEntry(int(entries.size()), pending.record, pending.name, pending.dataset, pending.format,
              KX_IptcFormatName(pending.format), pending.maxLength);
}

uint32_t DialogShowMetaDetailsIptc::addEntry(const QByteArray& value) {
    return KX_IptcAdd(_info, pending.record, pending.dataset, pending.format, value);
}

int DialogShowMetaDetailsIptc::addedRow() const {
    for (int i = 0; i < entries.size(); ++i)
        if (entries[i].record == pending.record && entries[i].dataset == pending.dataset) return i;
    return -1;
}

// ---- maker note -----------------------------------------------------------------

DialogShowExifMakerNote::DialogShowExifMakerNote(UiServices* u, QWidget* parent)
    : DialogMetaList(u, QStringLiteral("Show EXIF MakerNote"), QStringLiteral("Note To Clip"), parent) {
    for (QPushButton* b : {buttonEdit, buttonRemove, buttonAdd}) b->setEnabled(false);
    textBoxContent->setReadOnly(true);
}

bool DialogShowExifMakerNote::PrepareP(KXOSpecialInfo* info, _ExifData*, _ExifMnoteData* note) {
    _info = info;
    QStringList lines;
    const unsigned count = note ? exif_mnote_data_count(note) : 0;
    for (unsigned i = 0; i < count; ++i) {
        const char* name = exif_mnote_data_get_name(note, i);
        const char* title = exif_mnote_data_get_title(note, i);
        const char* desc = exif_mnote_data_get_description(note, i);
        char value[1024] = {};
        const char* v = exif_mnote_data_get_value(note, i, value, sizeof(value));
        value[sizeof(value) - 1] = 0;
        const QByteArray n = name ? QByteArray(name).left(63) : QByteArray("<unknown name>");
        const QByteArray t = title ? QByteArray(title).left(63) : QByteArray();
        const QByteArray d = desc ? QByteArray(desc).left(63) : QByteArray();
        lines << QString::asprintf("%-4ld: %-32s%-16s%-16s", long(exif_mnote_data_get_id(note, i)), n.constData(),
                                   KX_MetaText(t.constData()).toUtf8().constData(),
                                   KX_MetaText(d.constData()).toUtf8().constData()) +
                     (v ? KX_MetaText(value) : QStringLiteral("<unknown value>"));
    }
    if (lines.isEmpty()) {
        error(QStringLiteral("Sorry, no known MakerNotes found. Exiting..."));
        return false;
    }
    setRows(lines);
    return true;
}
