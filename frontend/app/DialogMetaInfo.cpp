#include "DialogMetaInfo.h"

#include <QCheckBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>
#include <cstring>
#include <tuple>

#include "AppLinks.h"
#include "DialogMetaDetail.h"
#include "DialogMetaXmp.h"
#include "UiServices.h"
#include "core/exifiptc.h"
#include "core/kxbridge.h"
#include "core/memory.h"

QString KX_MetaText(const char* bytes, qsizetype length) {
    if (!bytes || length <= 0) return QString();
    // Latin-1 at most doubles in UTF-8: room for all of it and the zero.
    QByteArray utf8(length * 2 + 1, Qt::Uninitialized);
    const size_t n = KXSUP_MetaTextToUtf8(bytes, size_t(length), utf8.data(), size_t(utf8.size()));
    return QString::fromUtf8(utf8.constData(), qsizetype(n));
}

QString KX_MetaText(const char* bytes) { return bytes ? KX_MetaText(bytes, qsizetype(strlen(bytes))) : QString(); }

namespace {

// "48.00° 8.00' 54.37''" as the core prints a GPS position: degrees,
// minutes and seconds in the C locale's number form.
bool parsePosition(const char* text, double* value) {
    QString t = QString::fromUtf8(text);
    t.remove(QChar(0xB0)).remove(QLatin1Char('\''));
    const QStringList parts = t.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() < 3) return false;
    double v[3];
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        v[i] = QLocale::c().toDouble(parts[i], &ok);
        if (!ok || !std::isfinite(v[i])) return false;
    }
    *value = v[0] + v[1] / 60.0 + v[2] / 3600.0;
    return true;
}

const char* const kOrientation[] = {
    "unknown",
    "top left side => rotated by 0 deg (normal)",
    "top right side => rotated by 0 deg, but x-mirrored",
    "bottom right side => rotated by 180 deg",
    "bottom left side\t=> rotated by 180 deg, but x-mirrored",
    "left side top => rotated by 90 deg, but x-mirrored",
    "right side top => rotated by 270 deg",
    "right side bottom => rotated by 270 deg, but x-mirrored",
    "left side bottom\t=> rotated by 90 deg",
};

QString firstLine(const char* field) {
    const QString t = KX_MetaText(field);
    const qsizetype lf = t.indexOf(QLatin1Char('\n'));
    return lf < 0 ? t : t.left(lf);
}

// Record fields by the number the setters use.
char** textField(KXOSpecialInfo* r, int field) {
    switch (field) {
    case 0: return &r->Anno;
    case 1: return &r->Auth;
    case 2: return &r->Copy;
    case 3: return &r->Name;
    case 4: return &r->More1;
    case 5: return &r->More2;
    case 6: return &r->More3;
    default: return &r->More4;
    }
}

void freeText(char** t) {
    FreeVec(*t);
    *t = nullptr;
}

void freeBlock(uint8_t** b, uint32_t* size) {
    FreeVec(*b);
    *b = nullptr;
    *size = 0;
}

}  // namespace

bool KX_GpsFromExif(const uint8_t* exif, uint32_t size, KXGpsPosition* pos) {
    uint32_t error = 0;
    ExifHandle* h = EXIF_OpenBuf(exif, size, &error);
    if (!h) return false;
    // Every value is read into a cleared buffer and all four must be there:
    // a failed read leaves nothing of an earlier one to parse.
    char lat[64] = {}, latRef[64] = {}, lon[64] = {}, lonRef[64] = {};
    const bool all = EXIF_FindTagIFD(h, KXEXIF_EXIF, KXEXIF_INTEROP, 2, lat, 63) == 0 &&
                     EXIF_FindTagIFD(h, KXEXIF_EXIF, KXEXIF_INTEROP, 1, latRef, 63) == 0 &&
                     EXIF_FindTagIFD(h, KXEXIF_EXIF, KXEXIF_INTEROP, 4, lon, 63) == 0 &&
                     EXIF_FindTagIFD(h, KXEXIF_EXIF, KXEXIF_INTEROP, 3, lonRef, 63) == 0;
    EXIF_Close(h);
    double la = 0, lo = 0;
    if (!all || !parsePosition(lat, &la) || !parsePosition(lon, &lo)) return false;
    // QString::number is locale-free: the point is always ".".
    QString laText = QString::number(la, 'g', 15);
    QString loText = QString::number(lo, 'g', 15);
    if (latRef[0] == 'S') {
        laText.prepend(QLatin1Char('-'));
        la = -la;
    }
    if (lonRef[0] == 'W') {
        loText.prepend(QLatin1Char('-'));
        lo = -lo;
    }
    pos->latitude = la;
    pos->longitude = lo;
    pos->latText = laText;
    pos->lonText = loText;
    return true;
}

QByteArray KX_GpxDocument(double latitude, double longitude) {
    QByteArray d;
    d += "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\n";
    d += "<gpx xmlns=\"http://www.topografix.com/GPX/1/1\" creator=\"Kaxon5\" version=\"1.1\"\n";
    d += "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"\n";
    d += "xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 http://www.topografix.com/GPX/1/1/gpx.xsd\">\n";
    d += "\n";
    d += QString::asprintf("<wpt lat=\"%lf\" lon=\"%lf\">\n", latitude, longitude).toLatin1();
    d += "<time>1970-01-01T00:00:00Z</time>\n";
    d += "<name>Unknown</name>\n";
    d += "<sym>Dot</sym>\n";
    d += "</wpt>\n";
    d += "</gpx>\n";
    return d;
}

bool KX_EditableMetaData(bool* cloned, KXOSpecialInfo** info) {
    if (!*cloned) {
        KX_UnLinkMetaData();
        *cloned = KX_IsUnlinkedMetaData() != 0;
    }
    // An emptied record is still the record: no content check here.
    KXOSpecialInfo* r = *cloned ? KX_GetMetaDataCheck(0) : nullptr;
    if (r) *info = r;
    return r != nullptr;
}

// ---- the dialog ------------------------------------------------------------------

DialogShowEXIF::DialogShowEXIF(UiServices* u, QWidget* parent) : QDialog(parent), ui(u) {
    setWindowTitle(QStringLiteral("Set/Modify"));
    auto* outer = new QVBoxLayout(this);

    auto* texts = new QGroupBox(this);
    auto* grid = new QGridLayout(texts);
    QLineEdit** boxes[] = {&textBoxAnno, &textBoxAuth, &textBoxCopy, &textBoxName,
                           &textBoxMore1, &textBoxMore2, &textBoxMore3, &textBoxMore4};
    QPushButton** sets[] = {&buttonSetAnno, &buttonSetAuth, &buttonSetCopy, &buttonSetName,
                            &buttonSetMore1, &buttonSetMore2, &buttonSetMore3, &buttonSetMore4};
    const char* labels[] = {"Annotation", "Author", "Copyright", "Name", "More 1 (*)", "More 2 (*)", "More 3 (*)", "More 4 (*)"};
    const char* names[] = {"Anno", "Auth", "Copy", "Name", "More1", "More2", "More3", "More4"};
    for (int i = 0; i < 8; ++i) {
        *boxes[i] = new QLineEdit(texts);
        (*boxes[i])->setObjectName(QStringLiteral("textBox") + QLatin1String(names[i]));
        (*boxes[i])->setMinimumWidth(380);
        *sets[i] = new QPushButton(QStringLiteral("Set/Modify"), texts);
        (*sets[i])->setObjectName(QStringLiteral("buttonSet") + QLatin1String(names[i]));
        grid->addWidget(new QLabel(QString::fromLatin1(labels[i]), texts), i, 0);
        grid->addWidget(*boxes[i], i, 1);
        grid->addWidget(*sets[i], i, 2);
        QLineEdit* box = *boxes[i];
        connect(*sets[i], &QPushButton::clicked, this, [this, i, box] { setText(i, box); });
    }
    outer->addWidget(texts);

    auto* groups = new QGridLayout;
    int row = 0;
    auto check = [&](QCheckBox*& b, const char* name, const char* text) {
        b = new QCheckBox(QString::fromLatin1(text), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setEnabled(false);
        groups->addWidget(b, row, 0);
    };
    auto button = [&](QPushButton*& b, const char* name, const char* text, int column) {
        b = new QPushButton(QString::fromLatin1(text), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setEnabled(false);
        groups->addWidget(b, row, column);
    };
    check(checkBoxMeta, "checkBoxMeta", "General Meta Data");
    ++row;
    check(checkBoxCompDetails, "checkBoxCompDetails", "Compression Info (*)");
    labelCompDetails = new QLabel(QStringLiteral("no information"), this);
    groups->addWidget(labelCompDetails, row, 1, 1, 3);
    ++row;
    check(checkBoxOrient, "checkBoxOrient", "Orientation");
    numericOrientation = new QSpinBox(this);
    numericOrientation->setObjectName(QStringLiteral("numericOrientation"));
    numericOrientation->setRange(0, 8);
    groups->addWidget(numericOrientation, row, 1);
    labelOrient = new QLabel(QStringLiteral("unknown"), this);
    groups->addWidget(labelOrient, row, 2, 1, 2);
    ++row;
    check(checkBoxExif, "checkBoxExif", "EXIF");
    button(ShowEXIF, "ShowEXIF", "Show/Edit EXIF Details...", 1);
    button(buttonSaveEXIFData, "buttonSaveEXIFData", "Save EXIF Data", 2);
    button(buttonLoadEXIFData, "buttonLoadEXIFData", "Load EXIF Data", 3);
    ++row;
    check(checkBoxIptc, "checkBoxIptc", "IPTC");
    button(ShowIPTC, "ShowIPTC", "Show/Edit IPTC Details...", 1);
    button(buttonSaveIPTCData, "buttonSaveIPTCData", "Save IPTC Data", 2);
    button(buttonLoadIPTCData, "buttonLoadIPTCData", "Load IPTC Data", 3);
    ++row;
    check(checkBoxXmp, "checkBoxXmp", "XMP");
    button(ShowXMP, "ShowXMP", "Show/Edit XMP Content...", 1);
    button(buttonSaveXMP, "buttonSaveXMP", "Save XML File (XMP)", 2);
    button(buttonLoadXMP, "buttonLoadXMP", "Load XML File (XMP)", 3);
    ++row;
    check(checkBoxCMS, "checkBoxCMS", "CMS");
    button(ShowCMS, "ShowCMS", "Show/Edit ICC Info...", 1);
    button(buttonSaveICCProfile, "buttonSaveICCProfile", "Save ICC Profile", 2);
    button(buttonLoadICCProfile, "buttonLoadICCProfile", "Load ICC Profile", 3);
    ++row;
    check(checkBoxGPS, "checkBoxGPS", "GPS");
    button(ShowGPS, "ShowGPS", "Go to OpenStreetMap", 1);
    button(ShowGPS2, "ShowGPS2", "... or Google(TM)", 2);
    button(showGPS3, "showGPS3", "... or LiveSearch(TM)", 3);
    ++row;
    button(buttonSaveGPX, "buttonSaveGPX", "Save GPX File (GPS-XML)", 1);
    outer->addLayout(groups);

    // These explain where their function lives and are always there.
    for (QPushButton* b : {buttonLoadEXIFData, buttonLoadIPTCData, buttonLoadXMP, buttonLoadICCProfile})
        b->setEnabled(true);

    auto* note1 = new QLabel(
        QStringLiteral("(*) usually auto-generated from other metadata and not written back to files on save"), this);
    auto* note2 =
        new QLabel(QStringLiteral("ICC profile can only be replaced or fully stripped together with all other metadata."), this);
    outer->addWidget(note1);
    outer->addWidget(note2);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    buttonCancel = new QPushButton(QStringLiteral("Done"), this);
    buttonCancel->setObjectName(QStringLiteral("buttonCancel"));
    buttonCancel->setDefault(true);
    bottom->addWidget(buttonCancel);
    outer->addLayout(bottom);
    connect(buttonCancel, &QPushButton::clicked, this, &QDialog::accept);

    for (QCheckBox* b : {checkBoxMeta, checkBoxCompDetails, checkBoxOrient, checkBoxExif, checkBoxIptc, checkBoxXmp})
        connect(b, &QCheckBox::clicked, this, [this, b](bool on) {
            if (!on) strip(b);
        });
    connect(numericOrientation, &QSpinBox::valueChanged, this, [this](int v) {
        if (filling) return;
        if (!copyStep()) return;
        // The block's entry follows the record, so a save writes one value.
        if (KX_ExifSetOrientation(_info, uint32_t(v))) error(QStringLiteral("Not enough memory!"));
        _info->Orientation = uint32_t(v);
        changed = true;
        UpdateContent();
    });
    connect(ShowEXIF, &QPushButton::clicked, this, [this] { openDetail(0); });
    connect(ShowIPTC, &QPushButton::clicked, this, [this] { openDetail(1); });
    connect(ShowXMP, &QPushButton::clicked, this, [this] { openDetail(2); });
    connect(ShowCMS, &QPushButton::clicked, this, [this] {
        if (!showColourSpace) return;
        showColourSpace(_info);
        // Its "Edit..." may attach a profile to the record: reloaded.
        if (KXOSpecialInfo* r = KX_GetMetaDataCheck(0)) _info = r;
        _cloned = KX_IsUnlinkedMetaData() != 0;
        UpdateContent();
    });
    connect(buttonSaveXMP, &QPushButton::clicked, this, [this] { saveXmp(); });
    connect(buttonLoadXMP, &QPushButton::clicked, this, [this] { loadXmp(); });
    connect(buttonSaveGPX, &QPushButton::clicked, this, [this] { saveGpx(); });
    connect(ShowGPS, &QPushButton::clicked, this, [this] { openMap(0); });
    connect(ShowGPS2, &QPushButton::clicked, this, [this] { openMap(1); });
    connect(showGPS3, &QPushButton::clicked, this, [this] { openMap(2); });
    const struct {
        QPushButton* b;
        const char* text;
    } notes[] = {
        {buttonLoadICCProfile, "In order to do this, please close this dialog and go to\n\n\tFile -> Import -> Meta Data -> ICCP CMS "
                               "Data\n\nmenu and import a new ICC profile from there."},
        {buttonSaveICCProfile, "In order to do this, please close this dialog and go to\n\n\tFile -> Export -> Meta Data -> ICCP CMS "
                               "Data\n\nmenu and export the ICC profile from there."},
        {buttonSaveEXIFData, "In order to do this, please close this dialog and select in main window\n\n\tMetadata: Save\n\nwith "
                             "file type 'RawMeta' and subtype 'EXIF', then save a file."},
        {buttonLoadEXIFData, "In order to do this, please close this dialog and go to\n\n\tFile -> Import -> Meta Data -> Raw Meta "
                             "-> EXIF\n\nmenu and import new EXIF data from there."},
        {buttonSaveIPTCData, "In order to do this, please close this dialog and select in main window\n\n\tMetadata: Save\n\nwith "
                             "file type 'RawMeta' and subtype 'IPTC', then save a file."},
        {buttonLoadIPTCData, "In order to do this, please close this dialog and go to\n\n\tFile -> Import -> Meta Data -> Raw Meta "
                             "-> IPTC\n\nmenu and import new IPTC data from there."},
    };
    for (const auto& n : notes) {
        const QString text = QString::fromLatin1(n.text);
        connect(n.b, &QPushButton::clicked, this, [this, text] { info(text); });
    }
}

DialogShowEXIF::~DialogShowEXIF() { FreeVec(ownInfo); }

void DialogShowEXIF::PrepareP(KXOSpecialInfo* record, KXClass* kxclass, const QString& atomstr, bool cmsactive,
                              const QString& progdir) {
    if (!record) {
        if (!ownInfo) ownInfo = static_cast<KXOSpecialInfo*>(AllocVec(sizeof(KXOSpecialInfo), MEMF_CLEAR));
        record = ownInfo;
    }
    _info = record;
    _kxclass = kxclass;
    _atomstr = atomstr;
    _cmsactive = cmsactive;
    _progdir = progdir;
    _cloned = KX_IsUnlinkedMetaData() != 0;
    UpdateContent();
}

int DialogShowEXIF::ShowDialogP(KXOSpecialInfo* record, KXClass* kxclass, const QString& atomstr, bool cmsactive,
                                const QString& progdir) {
    PrepareP(record, kxclass, atomstr, cmsactive, progdir);
    return exec();
}

int DialogShowEXIF::modal(QDialog* d) { return showModal ? showModal(d) : d->exec(); }

void DialogShowEXIF::info(const QString& text) {
    ui->Message(this, QStringLiteral("Kaxon5 Info"), text, UiServices::Icon::Information);
}

void DialogShowEXIF::error(const QString& text) {
    ui->Message(this, QStringLiteral("Kaxon5 Error"), text, UiServices::Icon::Critical);
}

void DialogShowEXIF::UpdateContent() {
    filling = true;
    KXOSpecialInfo* r = _info;
    const bool comp = r && r->Compression;
    labelCompDetails->setText(comp ? KX_MetaText(r->Compression) : QStringLiteral("no information"));
    checkBoxCompDetails->setChecked(comp);
    checkBoxCompDetails->setEnabled(comp);

    // Showing the record's orientation is no edit: the box is filled quietly.
    const uint32_t o = r ? r->Orientation : 0;
    numericOrientation->setValue(o <= 8 ? int(o) : 0);
    checkBoxOrient->setChecked(o != 0);
    checkBoxOrient->setEnabled(o != 0);
    labelOrient->setText(QString::fromLatin1(o <= 8 ? kOrientation[o] : kOrientation[0]));

    QLineEdit* boxes[] = {textBoxAnno, textBoxAuth, textBoxCopy, textBoxName,
                          textBoxMore1, textBoxMore2, textBoxMore3, textBoxMore4};
    bool anyText = false;
    for (int i = 0; i < 8; ++i) {
        const char* t = r ? *textField(r, i) : nullptr;
        anyText = anyText || t;
        boxes[i]->setText(firstLine(t));
    }
    checkBoxMeta->setChecked(anyText);
    checkBoxMeta->setEnabled(anyText);

    const bool exif = r && r->Exif && r->ExifSize;
    const bool iptc = r && r->Iptc && r->IptcSize;
    const bool xmp = !KX_XmpPacket(r).isEmpty();
    for (auto [box, show, save, on] : {std::tuple{checkBoxExif, ShowEXIF, buttonSaveEXIFData, exif},
                                       std::tuple{checkBoxIptc, ShowIPTC, buttonSaveIPTCData, iptc},
                                       std::tuple{checkBoxXmp, ShowXMP, buttonSaveXMP, xmp}}) {
        box->setChecked(on);
        box->setEnabled(on);
        show->setEnabled(on);
        save->setEnabled(on);
    }

    const bool icc = r && r->IccName;
    checkBoxCMS->setChecked(icc);
    checkBoxCMS->setEnabled(false);  // the profile is not stripped here
    buttonSaveICCProfile->setEnabled(icc);
    ShowCMS->setEnabled(icc && showColourSpace);

    checkBoxGPS->setChecked(false);
    for (QPushButton* b : {ShowGPS, ShowGPS2, showGPS3, buttonSaveGPX}) b->setEnabled(false);
    GPSText.clear();
    GPSText2.clear();
    GPSText3.clear();
    // The JPEG reader writes its GPS summary into a "More" text: only then
    // is the position looked for.
    bool gpsNote = false;
    for (QLineEdit* b : {textBoxMore1, textBoxMore2, textBoxMore3, textBoxMore4})
        gpsNote = gpsNote || b->text().contains(QLatin1String("GPS"));
    KXGpsPosition pos;
    if (gpsNote && exif && KX_GpsFromExif(r->Exif, r->ExifSize, &pos)) {
        GPSText = QStringLiteral("mlat=%1&mlon=%2&zoom=8").arg(pos.latText, pos.lonText);
        GPSText2 = QStringLiteral("f=q&q=%1,%2&sll=%1,%2&z=12").arg(pos.latText, pos.lonText);
        GPSText3 = QStringLiteral("cp=%1~%2&lvl=8").arg(pos.latText, pos.lonText);
        Latitude = pos.latitude;
        Longitude = pos.longitude;
        checkBoxGPS->setChecked(true);
        for (QPushButton* b : {ShowGPS, ShowGPS2, showGPS3, buttonSaveGPX}) b->setEnabled(true);
    }
    filling = false;
}

void DialogShowEXIF::setText(int field, QLineEdit* box) {
    if (!copyStep()) return;
    const QByteArray text = box->text().toUtf8();
    char* copy = nullptr;
    if (!text.isEmpty()) {
        copy = static_cast<char*>(AllocVec(size_t(text.size()) + 1, MEMF_CLEAR));
        if (!copy) {
            error(QStringLiteral("Not enough memory!"));
            return;
        }
        memcpy(copy, text.constData(), size_t(text.size()));
    }
    char** f = textField(_info, field);
    FreeVec(*f);
    *f = copy;  // an empty text removes the field
    changed = true;
    UpdateContent();
}

void DialogShowEXIF::strip(QCheckBox* box) {
    if (!ui->Ask(this, QStringLiteral("Kaxon5 Request"), QStringLiteral("Really delete?"), UiServices::Icon::Question) ||
        !copyStep()) {
        box->setChecked(true);
        return;
    }
    KXOSpecialInfo* r = _info;
    if (box == checkBoxExif || box == checkBoxIptc) {
        // The texts and the orientation taken from the block go with it.
        if (KX_MetaReplaceBlock(r, box == checkBoxExif ? KXMETABLOCK_EXIF : KXMETABLOCK_IPTC, nullptr, 0)) {
            error(QStringLiteral("Not enough memory!"));
            box->setChecked(true);
            return;
        }
    } else if (box == checkBoxXmp) {
        freeBlock(&r->Xmp0, &r->Xmp0Size);
        freeBlock(&r->Xmp1, &r->Xmp1Size);
    } else if (box == checkBoxCompDetails) {
        freeText(&r->Compression);
    } else if (box == checkBoxMeta) {
        for (int i = 0; i < 8; ++i) freeText(textField(r, i));
    } else if (box == checkBoxOrient) {
        // The EXIF block's entry goes too, or a save writes it again.
        if (KX_ExifSetOrientation(r, 0)) {
            error(QStringLiteral("Not enough memory!"));
            box->setChecked(true);
            return;
        }
        r->Orientation = 0;
    }
    changed = true;
    UpdateContent();
}

void DialogShowEXIF::openDetail(int which) {
    auto edit = [this](auto&& d) {
        d.showModal = showModal;
        if (d.PrepareP(_info)) modal(&d);
        changed = changed || d.changed;
    };
    if (which == 0) {
        edit(DialogShowMetaDetailsExif(ui, this));
    } else if (which == 1) {
        edit(DialogShowMetaDetailsIptc(ui, this));
    } else {
        DialogShowMetaDetailsXmp d(ui, this);
        if (d.PrepareP(_info, _kxclass, _atomstr, _progdir)) modal(&d);
        return;
    }
    // The detail dialogs may have made the copy: the record is reloaded.
    KXOSpecialInfo* r = KX_GetMetaDataCheck(0);
    if (!r) {
        error(QStringLiteral("Out of memory. Exiting..."));
        reject();
        return;
    }
    _info = r;
    _cloned = KX_IsUnlinkedMetaData() != 0;
    UpdateContent();
}

void DialogShowEXIF::saveXmp() {
    const QByteArray packet = KX_XmpPacket(_info);
    if (packet.isEmpty()) return;
    const QString name =
        ui->SaveFileName(this, QString(), QStringLiteral("kx5.xmp"), QStringLiteral("XMP Files (*.xmp);;XML Files (*.xml)"));
    if (name.isEmpty()) return;
    QFile f(name);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(packet) != packet.size())
        error(QStringLiteral("Could not write file!"));
}

void DialogShowEXIF::loadXmp() {
    if (!copyStep()) {
        error(QStringLiteral("Not enough memory!"));
        return;
    }
    if (!_info) {
        error(QStringLiteral("Not enough memory (2)!"));
        return;
    }
    const QString name =
        ui->OpenFileName(this, QString(), QStringLiteral("kx5.xmp"), QStringLiteral("XMP Files (*.xmp);;XML Files (*.xml)"));
    if (name.isEmpty()) return;
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly)) {
        error(QStringLiteral("Could not open file!"));
        return;
    }
    uint32_t bytes = 0;
    uint8_t* data = nullptr;
    if (KXSUP_CheckSize(&bytes, uint64_t(f.size())) == 0 && bytes)
        data = static_cast<uint8_t*>(AllocVec(bytes, MEMF_CLEAR));
    if (!data) {
        error(QStringLiteral("Not enough memory!"));
        return;
    }
    if (f.read(reinterpret_cast<char*>(data), bytes) != qint64(bytes)) {
        FreeVec(data);
        error(QStringLiteral("Could not open file!"));
        return;
    }
    freeBlock(&_info->Xmp0, &_info->Xmp0Size);
    freeBlock(&_info->Xmp1, &_info->Xmp1Size);
    _info->Xmp1 = data;
    _info->Xmp1Size = bytes;
    changed = true;
    UpdateContent();
}

void DialogShowEXIF::saveGpx() {
    const QString name =
        ui->SaveFileName(this, QString(), QStringLiteral("kx5.gpx"), QStringLiteral("GPX Files (*.gpx);;XML Files (*.xml)"));
    if (name.isEmpty()) return;
    QFile f(name);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;  // silently skipped, as a cancel
    const QByteArray doc = KX_GpxDocument(Latitude, Longitude);
    if (f.write(doc) != doc.size()) error(QStringLiteral("Could not write file!"));
}

void DialogShowEXIF::openMap(int which) {
    if (GPSText.isEmpty()) return;
    QString address;
    if (which == 0) address = QLatin1String(kxlinks::kMapOpenStreetMap) + QStringLiteral("index.html?") + GPSText;
    else if (which == 1) address = QLatin1String(kxlinks::kMapGoogle) + QStringLiteral("maps?") + GPSText2;
    else address = QLatin1String(kxlinks::kMapLiveSearch) + QStringLiteral("LiveSearch.LocalLive?") + GPSText3;
    ui->OpenUrl(QUrl(address));
}
