// The metadata dialogs on a JPEG whose EXIF (with GPS and
// Interoperability), IPTC and XMP exiftool wrote: the overview, its GPS
// position, map link and GPX file; EXIF and IPTC edits through the detail
// dialogs that survive a save and read back alike in exiftool and in ours,
// and reach every writer that stores metadata once, with the texts that
// came from the blocks; the rational form; the XMP view of hostile packets;
// an orientation repaired or stripped leaves the EXIF block saying so.
#include <QCheckBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTextBrowser>

#include <libexif/exif-loader.h>
#include <libexif/exif-utils.h>

#include "DialogMetaDetail.h"
#include "DialogMetaInfo.h"
#include "DialogMetaXmp.h"
#include "core/exifiptc.h"
#include "core/kxbridge.h"
#include "support/JpegFile.h"
#include "support/QtTestEnv.h"

class MetadataTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void overviewOfTheFixture();
    void editsSurviveSaveInExiftoolAndOurs();
    void addedTagsSurviveSave();
    void editedValuesOnceInEveryWriter_data();
    void editedValuesOnceInEveryWriter();
    void exifRational_data();
    void exifRational();
    void gpsNeedsAllFourValues_data();
    void gpsNeedsAllFourValues();
    void xmpView_data();
    void xmpView();
    void commandWithoutMetadata();
    void makerNoteAndLatin1Texts();
    void colourSpaceFromTheOverview();
    void orientationLeavesWithTheBlock_data();
    void orientationLeavesWithTheBlock();
};

namespace {

const QString kStyleSheet = QStringLiteral(KX_SOURCE_DIR "/Resources/XML/defaultss.xsl");

bool writePlainJpeg(const QString& path) {
    KX_GfxBuffer* b = MakeGfx(48, 32, 24, ONEPLANE);
    if (!b) return false;
    for (uint32_t i = 0; i < 48u * 32u * 3u; ++i) b->Data[i] = uint8_t(i * 7);
    const bool ok = WriteJpeg(path, b);
    KXSUP_FreeGfxBuffer(b);
    return ok;
}

QString exiftool(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("exiftool"), args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0) return QStringLiteral("<exiftool failed: %1>").arg(QString::fromUtf8(p.readAllStandardError()));
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// The fixture: exiftool writes every block into a JPEG of ours.
bool writeFixture(const QString& path, const QStringList& tags) {
    if (!writePlainJpeg(path)) return false;
    QStringList args = {"-q", "-m", "-overwrite_original"};
    args << tags << path;
    return !exiftool(args).startsWith(QLatin1String("<exiftool failed"));
}

const QStringList kFullTags = {
    "-EXIF:Artist=John Doe",          "-EXIF:ImageDescription=A test picture",
    "-EXIF:XResolution=72",           "-EXIF:Orientation#=6",
    "-EXIF:UserComment=Undefined bytes", "-EXIF:InteropIndex=R98",
    "-GPSLatitude=48 8 54.37",        "-GPSLatitudeRef=N",
    "-GPSLongitude=11 34 31.2",       "-GPSLongitudeRef=W",
    "-IPTC:City=Munich",              "-IPTC:Keywords=alpha",
    "-IPTC:Keywords=beta",            "-IPTC:Keywords=gamma",
    "-XMP-dc:Title=Hallo Welt",
};

// The EXIF block of a file, as the record holds it ("Exif" 00 00 ...).
QByteArray exifBlock(const QString& path) {
    ExifLoader* l = exif_loader_new();
    exif_loader_write_file(l, QFile::encodeName(path).constData());
    const unsigned char* data = nullptr;
    unsigned int size = 0;
    exif_loader_get_buf(l, &data, &size);
    QByteArray block;
    if (data && size) block = QByteArray(reinterpret_cast<const char*>(data), size);
    if (!block.isEmpty() && !block.startsWith(QByteArray("Exif\0\0", 6))) block.prepend(QByteArray("Exif\0\0", 6));
    exif_loader_unref(l);
    return block;
}

template <class Row>
int rowOf(const QVector<Row>& rows, const QString& name) {
    for (int i = 0; i < rows.size(); ++i)
        if (rows[i].name == name) return i;
    return -1;
}

// The writer of a format by its name, in the bridge's table; -1 when none.
int writerNumber(const char* format) {
    for (int i = 0; kxoWrite && kxoWrite[i]; ++i)
        if (strcmp(kxoWrite[i]->FormatName, format) == 0) return i;
    return -1;
}

void shoot(QWidget* w, const char* name) {
    w->adjustSize();
    w->grab().save(ArtefactDir() + "/" + name + ".png");
}

}  // namespace

void MetadataTest::initTestCase() {
    if (!ReaderReady("kxoJFIF")) QSKIP("needs the JPEG module (kxoJFIF)");
    if (QStandardPaths::findExecutable("exiftool").isEmpty()) QSKIP("needs exiftool");
}

// The overview of the fixture: every group found, the texts, the
// orientation, the GPS position in the map links and the GPX file; the
// XMP view; a refused strip keeps the block; clearing the "More" text that
// holds the GPS summary hides the position, and the edit marks the picture;
// stripping the EXIF block takes the texts that came from it along.
void MetadataTest::overviewOfTheFixture() {
    Sandbox box({"META_LOAD=YES", "META_SAVE=YES"});
    QDir().mkpath(box.progDir() + "/Resources/XML");
    QVERIFY(QFile::copy(kStyleSheet, box.progDir() + "/Resources/XML/defaultss.xsl"));
    const QString pic = box.pictures() + "/full.jpg";
    QVERIFY(writeFixture(pic, kFullTags));
    ScriptedUi ui;
    Main w(box.options(&ui));
    QCOMPARE(w.LoadFile(pic), 0u);
    QVERIFY(!w.buttonMeta->isHidden());
    QVERIFY(w.buttonMeta->isEnabled());

    const QString gpx = box.root() + "/pos.gpx";
    QString xmpHtml;
    bool seen = false;
    // QVERIFY returns nothing: the checks run in a function of their own.
    std::function<void(QDialog*)> check = [&](QDialog* d) {
        if (auto* x = qobject_cast<DialogShowMetaDetailsXmp*>(d)) {
            xmpHtml = x->XmpBrowser->toPlainText();
            shoot(x, "meta-xmp");
            return;
        }
        auto* o = qobject_cast<DialogShowEXIF*>(d);
        if (!o) return;
        seen = true;
        shoot(o, "meta-overview");
        for (QCheckBox* b : {o->checkBoxExif, o->checkBoxIptc, o->checkBoxXmp, o->checkBoxGPS, o->checkBoxMeta, o->checkBoxOrient})
            QVERIFY2(b->isChecked(), qPrintable(b->objectName()));
        QVERIFY(!o->checkBoxCMS->isChecked());
        QCOMPARE(o->textBoxAuth->text(), QStringLiteral("John Doe"));
        QCOMPARE(o->textBoxAnno->text(), QStringLiteral("Undefined bytes"));  // the user comment comes first
        QVERIFY(o->textBoxMore2->text().startsWith("GPS "));
        QCOMPARE(o->numericOrientation->value(), 6);
        QCOMPARE(o->labelOrient->text(), QStringLiteral("right side top => rotated by 270 deg"));
        QCOMPARE(o->gpsText(0), QStringLiteral("mlat=48.1484361111111&mlon=-11.5753333333333&zoom=8"));
        QCOMPARE(o->gpsText(2), QStringLiteral("cp=48.1484361111111~-11.5753333333333&lvl=8"));
        // Showing the record is no edit: no copy was made.
        QVERIFY(!KX_IsUnlinkedMetaData());

        o->ShowGPS->click();
        ui.saveNames.push_back(gpx);
        o->buttonSaveGPX->click();
        o->ShowXMP->click();

        // "No" to "Really delete?" keeps the block.
        ui.answers = {false};
        o->checkBoxExif->click();
        QVERIFY(o->checkBoxExif->isChecked());
        QVERIFY(o->info()->Exif);
        QVERIFY(!o->changed);

        o->textBoxMore2->clear();
        o->buttonSetMore2->click();
        QVERIFY(KX_IsUnlinkedMetaData());
        QVERIFY(o->info()->More2 == nullptr);  // an empty text removes the field
        QVERIFY(!o->checkBoxGPS->isChecked());
        QVERIFY(!o->buttonSaveGPX->isEnabled());

        // "Yes" strips the block, and the author, the comment and the
        // orientation taken from it go with it.
        ui.answers = {true};
        o->checkBoxExif->click();
        QVERIFY(!o->info()->Exif);
        QVERIFY(!o->info()->Auth);
        QVERIFY(!o->info()->Anno);
        QCOMPARE(o->info()->Orientation, 0u);
        QVERIFY(o->textBoxAuth->text().isEmpty());
    };
    w.dialogScript = [&](QDialog* d) {
        check(d);
        return 0;
    };
    QVERIFY(w.Trigger("meta.show"));
    QVERIFY(seen);
    QVERIFY(w.app.Modified);
    QVERIFY(!KX_GetMetaData()->More2);

    QCOMPARE(ui.opened.size(), size_t(1));
    QVERIFY(ui.opened[0].toString().endsWith("index.html?mlat=48.1484361111111&mlon=-11.5753333333333&zoom=8"));
    QVERIFY(xmpHtml.contains("Hallo Welt"));

    QFile f(gpx);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    QCOMPARE(lines.size(), 12);  // eleven lines, each ended by a line feed
    QCOMPARE(lines[0], QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>"));
    QCOMPARE(lines[1], QByteArray("<gpx xmlns=\"http://www.topografix.com/GPX/1/1\" creator=\"Kaxon5\" version=\"1.1\""));
    QCOMPARE(lines[4], QByteArray());
    QCOMPARE(lines[5], QByteArray("<wpt lat=\"48.148436\" lon=\"-11.575333\">"));
    QCOMPARE(lines[10], QByteArray("</gpx>"));
}

// Through the detail dialogs: an ASCII entry grows, a Rational takes 2.5,
// the GPS latitude reference is replaced where it was, the description is
// removed, an Undefined entry
// and a value that is no number are refused with the old block kept; IPTC
// City is replaced and the first keyword goes to the end. Saved with
// metadata, exiftool reads the new values in their directories, and so does
// our reader.
void MetadataTest::editsSurviveSaveInExiftoolAndOurs() {
    Sandbox box({"META_LOAD=YES", "META_SAVE=YES", "SAVE_FORMAT=JPEG"});
    const QString pic = box.pictures() + "/full.jpg";
    QVERIFY(writeFixture(pic, kFullTags));
    ScriptedUi ui;
    Main w(box.options(&ui));
    QCOMPARE(w.LoadFile(pic), 0u);

    auto exifEdit = [&](DialogShowMetaDetailsExif* e, const QString& name, const QString& value) {
        const int r = rowOf(e->rows(), name);
        QVERIFY2(r >= 0, qPrintable(name));
        e->listBoxTags->setCurrentRow(r);
        QCOMPARE(e->textBoxName->text(), name);
        e->textBoxContent->setText(value);
        e->buttonEdit->click();
    };
    std::function<void(QDialog*)> script = [&](QDialog* d) {
        if (auto* e = qobject_cast<DialogShowMetaDetailsExif*>(d)) {
            shoot(e, "meta-exif");
            int r = rowOf(e->rows(), "Artist");
            QCOMPARE(e->rows()[r].components, 9ul);
            exifEdit(e, "Artist", "Jane Q. Roe");
            r = rowOf(e->rows(), "Artist");
            QCOMPARE(e->rows()[r].components, 12ul);
            exifEdit(e, "XResolution", "2.5");
            exifEdit(e, "GPSLatitudeRef", "S");
            r = rowOf(e->rows(), "GPSLatitudeRef");
            QCOMPARE(e->rows()[r].ifd, int(KXEXIF_GPS));
            QVERIFY(e->rows()[r].line.endsWith('S'));
            QCOMPARE(e->rows()[rowOf(e->rows(), "InteroperabilityIndex")].ifd, int(KXEXIF_INTEROP));
            QVERIFY(rowOf(e->rows(), "ImageDescription") >= 0);
            e->listBoxTags->setCurrentRow(rowOf(e->rows(), "ImageDescription"));
            e->buttonRemove->click();
            QCOMPARE(rowOf(e->rows(), "ImageDescription"), -1);

            const QByteArray before(reinterpret_cast<const char*>(KX_GetMetaData()->Exif), KX_GetMetaData()->ExifSize);
            ui.messages.clear();
            exifEdit(e, "UserComment", "text");
            exifEdit(e, "Orientation", "six");
            QCOMPARE(ui.messages.size(), size_t(2));
            QCOMPARE(ui.messages[0].text, QStringLiteral("Editing tags of this type currently is not supported!"));
            QCOMPARE(ui.messages[1].text, QStringLiteral("Tag Addition failed!"));
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(KX_GetMetaData()->Exif), KX_GetMetaData()->ExifSize), before);
            return;
        }
        if (auto* i = qobject_cast<DialogShowMetaDetailsIptc*>(d)) {
            shoot(i, "meta-iptc");
            for (const auto& [name, value] : {std::pair{"City", "Berlin"}, std::pair{"Keywords", "delta"}}) {
                const int r = rowOf(i->rows(), name);
                QVERIFY2(r >= 0, name);
                i->listBoxTags->setCurrentRow(r);
                i->textBoxContent->setText(value);
                i->buttonEdit->click();
            }
            QVERIFY(i->listBoxTags->item(rowOf(i->rows(), "City"))->text().endsWith("Berlin"));
            return;
        }
        if (auto* o = qobject_cast<DialogShowEXIF*>(d)) {
            o->ShowEXIF->click();
            o->ShowIPTC->click();
            // The author came from the Artist entry and follows it.
            QCOMPARE(o->textBoxAuth->text(), QStringLiteral("Jane Q. Roe"));
            QVERIFY(o->changed);
        }
    };
    w.dialogScript = [&](QDialog* d) {
        script(d);
        return 0;
    };
    QVERIFY(w.Trigger("meta.show"));
    QVERIFY(w.app.Modified);

    const QString out = box.root() + "/edited.jpg";
    ui.saveNames.push_back(out);
    QVERIFY(w.Trigger("file.saveas"));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_DONE"));

    const QString read = exiftool({"-j", "-G1", "-n", "-Artist", "-XResolution", "-GPSLatitudeRef", "-InteropIndex",
                                   "-Orientation", "-IPTC:City", "-IPTC:Keywords", "-GPSLongitude", "-ImageDescription", out});
    const QJsonObject tags = QJsonDocument::fromJson(read.toUtf8()).array().at(0).toObject();
    QCOMPARE(tags.value("IFD0:Artist").toString(), QStringLiteral("Jane Q. Roe"));
    QVERIFY(!tags.contains("IFD0:ImageDescription"));
    QCOMPARE(tags.value("IFD0:XResolution").toDouble(), 2.5);
    QCOMPARE(tags.value("GPS:GPSLatitudeRef").toString(), QStringLiteral("S"));
    QCOMPARE(tags.value("InteropIFD:InteropIndex").toString(), QStringLiteral("R98"));
    QCOMPARE(tags.value("IFD0:Orientation").toInt(), 6);
    QCOMPARE(tags.value("IPTC:City").toString(), QStringLiteral("Berlin"));
    QCOMPARE(tags.value("IPTC:Keywords").toArray(), (QJsonArray{"beta", "gamma", "delta"}));
    QVERIFY2(qAbs(tags.value("GPS:GPSLongitude").toDouble() - 11.5753333) < 1e-6, qPrintable(read));

    // The rational as stored: 2.5 * 2^27 over 2^27.
    const QByteArray block = exifBlock(out);
    uint32_t err = 0;
    ExifHandle* h = EXIF_OpenBuf(reinterpret_cast<const uint8_t*>(block.constData()), uint32_t(block.size()), &err);
    QVERIFY(h);
    ExifEntry* xres = exif_content_get_entry(h->Data->ifd[EXIF_IFD_0], EXIF_TAG_X_RESOLUTION);
    QVERIFY(xres);
    const ExifRational q = exif_get_rational(xres->data, exif_data_get_byte_order(h->Data));
    EXIF_Close(h);
    QCOMPARE(q.numerator, 335544320u);
    QCOMPARE(q.denominator, 134217728u);

    // Ours: the saved file opens with the new values.
    QCOMPARE(w.LoadFile(out), 0u);
    KXOSpecialInfo* m = KX_GetMetaData();
    QVERIFY(m);
    QCOMPARE(QByteArray(m->Auth), QByteArray("Jane Q. Roe"));
    const QVector<KXIptcRow> iptc = KX_IptcRows(m->Iptc, m->IptcSize);
    QVERIFY(iptc[rowOf(iptc, "City")].line.endsWith("Berlin"));
}

void MetadataTest::editedValuesOnceInEveryWriter_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("subtype");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("textField");  // the raw text dump's field
    QTest::addColumn<bool>("exiftoolReads");
    QTest::addColumn<int>("captions");  // 0: the file holds no IPTC
    QTest::newRow("JPEG") << "JPEG" << 0 << "out.jpg" << "" << true << 1;
    QTest::newRow("TIFF V5.0") << "TIFF" << 0 << "out.tif" << "" << true << 1;
    QTest::newRow("TIFF V6.0") << "TIFF" << 1 << "out.tif" << "" << true << 1;
    QTest::newRow("TIFF EP") << "TIFF" << 2 << "out.tif" << "" << true << 1;
    QTest::newRow("PNG") << "PNG" << 0 << "out.png" << "" << true << 1;
    QTest::newRow("raw EXIF dump") << "RAWMeta" << 0 << "out.exif" << "" << true << 0;
    QTest::newRow("raw text dump") << "RAWMeta" << 4 << "out.txt" << "Auth" << false << 0;
    QTest::newRow("ILBM") << "ILBM" << 0 << "out.iff" << "" << false << 1;
}

// The Artist and the caption edited, the copyright removed, through the
// editors' functions on the editable copy; each writer that stores
// metadata then holds the new values once and the old ones nowhere:
// exiftool's view of the file where it reads the format, else the file's
// bytes and our reader's record.
void MetadataTest::editedValuesOnceInEveryWriter() {
    QFETCH(QString, format);
    QFETCH(int, subtype);
    QFETCH(QString, name);
    QFETCH(QString, textField);
    QFETCH(bool, exiftoolReads);
    QFETCH(int, captions);
    Sandbox box({"META_LOAD=YES", "META_SAVE=YES"});
    const QString pic = box.pictures() + "/texts.jpg";
    QVERIFY(writeFixture(pic, {"-EXIF:Artist=Old Artist", "-EXIF:Copyright=Old Copyright",
                               "-IPTC:Caption-Abstract=Old caption"}));
    ScriptedUi ui;
    Main w(box.options(&ui));
    QCOMPARE(w.LoadFile(pic), 0u);
    QCOMPARE(QByteArray(KX_GetMetaData()->Auth), QByteArray("Old Artist"));
    QCOMPARE(QByteArray(KX_GetMetaData()->Anno), QByteArray("Old caption"));

    bool cloned = false;
    KXOSpecialInfo* info = nullptr;
    QVERIFY(KX_EditableMetaData(&cloned, &info));
    const QVector<KXExifRow> exif = KX_ExifRows(info->Exif, info->ExifSize);
    QVERIFY(rowOf(exif, "Artist") >= 0 && rowOf(exif, "Copyright") >= 0);
    const KXExifRow& artist = exif[rowOf(exif, "Artist")];
    QCOMPARE(KX_ExifUpdate(info, artist.ifd, artist.tag, artist.format, artist.components, "New Artist"), uint32_t(KXMETA_OK));
    const KXExifRow& copyright = exif[rowOf(exif, "Copyright")];
    QCOMPARE(KX_ExifRemove(info, copyright.ifd, copyright.tag), uint32_t(KXMETA_OK));
    const QVector<KXIptcRow> iptc = KX_IptcRows(info->Iptc, info->IptcSize);
    QVERIFY(rowOf(iptc, "Caption") >= 0);
    const KXIptcRow& caption = iptc[rowOf(iptc, "Caption")];
    QCOMPARE(KX_IptcUpdate(info, caption.record, caption.dataset, caption.format, "New caption"), uint32_t(KXMETA_OK));
    QCOMPARE(QByteArray(info->Auth), QByteArray("New Artist"));
    QCOMPARE(QByteArray(info->Anno), QByteArray("New caption"));
    QVERIFY(!info->Copy);

    const int number = writerNumber(format.toLatin1().constData());
    if (number < 0) QSKIP("writer not built");
    KX_SetSaveFormat(uint32_t(number), uint32_t(subtype));
    uint32_t err = 0;
    KXConfig settings(kxoWrite[number]->PadPath, &err);
    if (!textField.isEmpty()) settings.SetValue("TEXT_FIELD", textField.toLatin1().constData());
    const QString out = box.root() + "/" + name;
    QCOMPARE(KX_Save(QFile::encodeName(out).constData(), 1, info, textField.isEmpty() ? nullptr : &settings), 0u);

    QFile f(out);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    for (const char* old : {"Old Artist", "Old caption", "Old Copyright"}) QVERIFY2(!bytes.contains(old), old);
    if (exiftoolReads) {
        const QStringList lines = exiftool({"-a", "-G1", "-s", out}).split('\n');
        auto count = [&](const QString& value) {
            int n = 0;
            for (const QString& l : lines) n += l.endsWith(": " + value) ? 1 : 0;
            return n;
        };
        const QString all = lines.join('\n');
        QVERIFY2(count("New Artist") == 1, qPrintable(all));
        QVERIFY2(count("New caption") == captions, qPrintable(all));
        for (const char* old : {"Old Artist", "Old caption", "Old Copyright"}) QVERIFY2(!all.contains(old), qPrintable(all));
    } else if (!textField.isEmpty()) {
        QCOMPARE(bytes, QByteArray("New Artist"));
    } else {
        // Ours: the record comes back with the new texts and blocks.
        QCOMPARE(w.LoadFile(out), 0u);
        KXOSpecialInfo* back = KX_GetMetaData();
        QVERIFY(back);
        QCOMPARE(QByteArray(back->Auth), QByteArray("New Artist"));
        QCOMPARE(QByteArray(back->Anno), QByteArray("New caption"));
        QVERIFY(!back->Copy);
        const QVector<KXExifRow> rows = KX_ExifRows(back->Exif, back->ExifSize);
        QVERIFY(rowOf(rows, "Artist") >= 0);
        QVERIFY(rows[rowOf(rows, "Artist")].line.endsWith("New Artist"));
        QCOMPARE(rowOf(rows, "Copyright"), -1);
    }
}

void MetadataTest::exifRational_data() {
    QTest::addColumn<float>("value");
    QTest::addColumn<bool>("sign");
    QTest::addColumn<qlonglong>("numerator");
    QTest::addColumn<uint>("denominator");
    QTest::newRow("2.5") << 2.5f << false << 335544320ll << 134217728u;
    QTest::newRow("-1 unsigned") << -1.0f << false << 0ll << 1u;
    QTest::newRow("-1 signed") << -1.0f << true << -1073741824ll << 1073741824u;
    QTest::newRow("0") << 0.0f << true << 0ll << 1u;
    QTest::newRow("beyond 32 bits") << 1e10f << false << 4294967295ll << 1u;
    QTest::newRow("beyond signed") << -1e10f << true << -2147483647ll << 1u;
}

void MetadataTest::exifRational() {
    QFETCH(float, value);
    QFETCH(bool, sign);
    QFETCH(qlonglong, numerator);
    QFETCH(uint, denominator);
    int64_t n = 0;
    uint32_t d = 0;
    KX_ExifRational(value, sign, &n, &d);
    QCOMPARE(qlonglong(n), numerator);
    QCOMPARE(uint(d), denominator);
}

void MetadataTest::gpsNeedsAllFourValues_data() {
    QTest::addColumn<QStringList>("tags");
    QTest::addColumn<bool>("found");
    QTest::newRow("all four") << QStringList{"-GPSLatitude=48 8 54.37", "-GPSLatitudeRef=S", "-GPSLongitude=11 34 31.2",
                                             "-GPSLongitudeRef=E"}
                              << true;
    QTest::newRow("no longitude reference") << QStringList{"-GPSLatitude=48 8 54.37", "-GPSLatitudeRef=N",
                                                           "-GPSLongitude=11 34 31.2"}
                                            << false;
    QTest::newRow("no latitude") << QStringList{"-GPSLatitudeRef=N", "-GPSLongitude=11 34 31.2", "-GPSLongitudeRef=E"} << false;
}

void MetadataTest::gpsNeedsAllFourValues() {
    QFETCH(QStringList, tags);
    QFETCH(bool, found);
    QTemporaryDir dir;
    const QString pic = dir.path() + "/gps.jpg";
    QVERIFY(writeFixture(pic, tags << "-EXIF:Artist=x"));
    const QByteArray block = exifBlock(pic);
    QVERIFY(!block.isEmpty());
    KXGpsPosition pos;
    QCOMPARE(KX_GpsFromExif(reinterpret_cast<const uint8_t*>(block.constData()), uint32_t(block.size()), &pos), found);
    if (found) {
        QCOMPARE(pos.latText, QStringLiteral("-48.1484361111111"));
        QCOMPARE(pos.lonText, QStringLiteral("11.5753333333333"));
        QVERIFY(qAbs(pos.latitude + 48.148436111) < 1e-6);
    }
}

void MetadataTest::xmpView_data() {
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<int>("code");     // -1: shown
    QTest::addColumn<QString>("shows");
    const QByteArray meta = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
                            "<rdf:Description xmlns:dc=\"http://purl.org/dc/elements/1.1/\" dc:format=\"image/jpeg\">"
                            "<dc:title>%1</dc:title></rdf:Description></rdf:RDF></x:xmpmeta>";
    QTest::newRow("plain") << QByteArray(meta).replace("%1", "Hallo Welt") << kStyleSheet << -1 << "Hallo Welt";
    QTest::newRow("Latin-1 bytes") << QByteArray(meta).replace("%1", "Gr\xfc\xdf" "e") << kStyleSheet << -1
                                   << QString::fromUtf8("Grüße");
    QTest::newRow("external entity") << QByteArray("<!DOCTYPE x [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>") +
                                            QByteArray(meta).replace("%1", "&e;")
                                     << kStyleSheet << -1 << "dc:title";
    QTest::newRow("external DTD") << QByteArray("<!DOCTYPE x SYSTEM \"file:///etc/passwd\">") +
                                         QByteArray(meta).replace("%1", "safe")
                                  << kStyleSheet << -1 << "safe";
    QTest::newRow("parameter entity") << QByteArray("<!DOCTYPE x [<!ENTITY % p SYSTEM \"file:///etc/passwd\"> %p;]>") +
                                             QByteArray(meta).replace("%1", "safe")
                                      << kStyleSheet << -1 << "safe";
    QTest::newRow("not XML") << QByteArray("<x:xmpmeta><broken") << kStyleSheet << 0 << "";
    QTest::newRow("no style sheet") << QByteArray(meta).replace("%1", "x") << QStringLiteral("/nonexistent/defaultss.xsl") << 1 << "";
}

// The packet never brings a local file into the page: an external entity,
// an external DTD or a parameter entity is never fetched; the rest of the
// packet is shown.
void MetadataTest::xmpView() {
    QFETCH(QByteArray, packet);
    QFETCH(QString, sheet);
    QFETCH(int, code);
    QFETCH(QString, shows);
    QString html;
    int got = -2;
    const bool ok = KX_XmpToHtml(packet, sheet, &html, &got);
    QVERIFY(!html.contains("root:"));
    QCOMPARE(ok, code < 0);
    if (ok) {
        QTextBrowser b;
        b.setHtml(html);
        QVERIFY2(b.toPlainText().contains(shows), qPrintable(b.toPlainText()));
        QVERIFY(!b.toPlainText().contains("root:"));
    } else {
        QCOMPARE(got, code);
    }
}

// Add... offers the tags a block lacks: a chosen one is filled in, takes
// the typed content with Update and goes to its directory (Copyright to the
// first, ISOSpeedRatings to the EXIF directory, an IPTC dataset appended);
// exiftool reads all three from the saved file. A value libexif names no
// meaning for shows as its number, never as an error text.
void MetadataTest::addedTagsSurviveSave() {
    Sandbox box({"META_LOAD=YES", "META_SAVE=YES", "SAVE_FORMAT=JPEG"});
    const QString pic = box.pictures() + "/few.jpg";
    QVERIFY(writeFixture(pic, {"-EXIF:Artist=John Doe", "-EXIF:ResolutionUnit#=1", "-IPTC:City=Munich"}));
    ScriptedUi ui;
    Main w(box.options(&ui));
    QCOMPARE(w.LoadFile(pic), 0u);
    auto choose = [&](const QStringList& offered, const QString& start) {
        for (int i = 0; i < offered.size(); ++i)
            if (offered[i].startsWith(start)) return ui.choices.push_back(i), true;
        return false;
    };
    std::function<void(QDialog*)> script = [&](QDialog* d) {
        if (auto* e = qobject_cast<DialogShowMetaDetailsExif*>(d)) {
            for (const KXExifRow& r : e->rows()) QVERIFY2(!r.line.contains("Internal error"), qPrintable(r.line));
            const int unit = rowOf(e->rows(), "ResolutionUnit");
            QVERIFY(unit >= 0);
            QVERIFY2(e->rows()[unit].line.endsWith("No absolute unit (1)"), qPrintable(e->rows()[unit].line));
            QVERIFY(e->buttonAdd->isEnabled());
            const struct {
                const char* name;
                int tag, ifd;
                const char* value;
            } adds[] = {{"Copyright", 33432, int(KXEXIF_IFD0), "(c) 2026 Jane Q. Roe"},
                        {"ISOSpeedRatings", 34855, int(KXEXIF_EXIF), "200"}};
            for (const auto& a : adds) {
                QStringList offered;
                for (const KXExifRow& r : KX_ExifAddable(KX_GetMetaData()->Exif, KX_GetMetaData()->ExifSize)) offered << r.line;
                QVERIFY2(!offered.filter(QStringLiteral("Artist (")).size(), "a tag the block holds is not offered");
                QVERIFY2(choose(offered, QStringLiteral("%1 (").arg(a.name)), a.name);
                e->buttonAdd->click();
                QCOMPARE(ui.offered, offered);
                QCOMPARE(e->textBoxName->text(), QString::fromLatin1(a.name));
                QCOMPARE(e->textBoxTiffTag->text(), QString::number(a.tag));
                QCOMPARE(e->textBoxIFD->text(), QString::number(a.ifd));
                e->textBoxContent->setText(QString::fromLatin1(a.value));
                e->buttonEdit->click();
                const int r = rowOf(e->rows(), QString::fromLatin1(a.name));
                QVERIFY2(r >= 0, a.name);
                QCOMPARE(e->rows()[r].ifd, a.ifd);
                QCOMPARE(e->listBoxTags->currentRow(), r);
                // libexif shows a copyright as "(photographer) - [None] (Editor)".
                QVERIFY2(e->rows()[r].line.contains(QString::fromLatin1(a.value)), qPrintable(e->rows()[r].line));
            }
            shoot(e, "meta-exif-added");
            return;
        }
        if (auto* i = qobject_cast<DialogShowMetaDetailsIptc*>(d)) {
            QVERIFY(i->buttonAdd->isEnabled());
            QStringList offered;
            for (const KXIptcRow& r : KX_IptcAddable(KX_GetMetaData()->Iptc, KX_GetMetaData()->IptcSize)) offered << r.line;
            QVERIFY(choose(offered, QStringLiteral("CopyrightNotice (2:116)")));
            i->buttonAdd->click();
            QCOMPARE(i->textBoxName->text(), QStringLiteral("CopyrightNotice"));
            i->textBoxContent->setText(QStringLiteral("Jane Q. Roe"));
            i->buttonEdit->click();
            const int r = rowOf(i->rows(), "CopyrightNotice");
            QVERIFY(r >= 0);
            QVERIFY(i->rows()[r].line.endsWith("Jane Q. Roe"));
            QVERIFY(rowOf(i->rows(), "City") >= 0);
            return;
        }
        if (auto* o = qobject_cast<DialogShowEXIF*>(d)) {
            o->ShowEXIF->click();
            o->ShowIPTC->click();
        }
    };
    w.dialogScript = [&](QDialog* d) {
        script(d);
        return 0;
    };
    QVERIFY(w.Trigger("meta.show"));
    QVERIFY(ui.messages.empty());
    QVERIFY(w.app.Modified);
    const QString out = box.root() + "/added.jpg";
    ui.saveNames.push_back(out);
    QVERIFY(w.Trigger("file.saveas"));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_DONE"));
    const QString read = exiftool({"-j", "-G1", "-Copyright", "-ISO", "-IPTC:CopyrightNotice", "-IPTC:City", out});
    const QJsonObject tags = QJsonDocument::fromJson(read.toUtf8()).array().at(0).toObject();
    QCOMPARE(tags.value("IFD0:Copyright").toString(), QStringLiteral("(c) 2026 Jane Q. Roe"));
    QCOMPARE(tags.value("ExifIFD:ISO").toInt(), 200);
    QCOMPARE(tags.value("IPTC:CopyrightNotice").toString(), QStringLiteral("Jane Q. Roe"));
    QCOMPARE(tags.value("IPTC:City").toString(), QStringLiteral("Munich"));
}

// Without metadata the command says so on the status line and opens nothing.
void MetadataTest::commandWithoutMetadata() {
    Sandbox box({"META_LOAD=YES"});
    const QString pic = box.pictures() + "/p.ppm";
    QVERIFY(WritePPM(pic, TestPicture(8, 6)));
    ScriptedUi ui;
    Main w(box.options(&ui));
    int opened = 0;
    w.dialogScript = [&](QDialog*) { return ++opened, 0; };
    // Without a picture the entry waits for one.
    QVERIFY(!w.Trigger("meta.show"));
    QCOMPARE(w.LoadFile(pic), 0u);
    QVERIFY(w.Trigger("meta.show"));
    QCOMPARE(opened, 0);
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_ERROR") + " " + w.Msg("TXT_NO_METADATA_LOADED"));
}

// A block made with libexif: a Canon maker note of one entry, an Artist in
// Latin-1 bytes. The editor lists the Artist as text, its maker-note button
// opens the maker-note list with the entry.
void MetadataTest::makerNoteAndLatin1Texts() {
    ExifData* d = exif_data_new();
    exif_data_set_byte_order(d, EXIF_BYTE_ORDER_INTEL);
    auto add = [&](ExifIfd ifd, ExifTag tag, ExifFormat format, const QByteArray& bytes) {
        ExifEntry* e = exif_entry_new();
        e->tag = tag;
        e->format = format;
        e->components = (unsigned long)bytes.size();
        e->size = (unsigned int)bytes.size();
        e->data = static_cast<unsigned char*>(malloc(size_t(bytes.size())));  // libexif's default allocator frees it
        memcpy(e->data, bytes.constData(), size_t(bytes.size()));
        exif_content_add_entry(d->ifd[ifd], e);
        exif_entry_unref(e);
    };
    add(EXIF_IFD_0, EXIF_TAG_MAKE, EXIF_FORMAT_ASCII, QByteArray("Canon", 6));
    add(EXIF_IFD_0, EXIF_TAG_ARTIST, EXIF_FORMAT_ASCII, QByteArray("M\xfcller", 7));
    // One directory entry: ImageType (6), ASCII, four bytes held in place.
    const char note[] = {1, 0, 6, 0, 2, 0, 4, 0, 0, 0, 'E', 'O', 'S', 0, 0, 0, 0, 0};
    add(EXIF_IFD_EXIF, EXIF_TAG_MAKER_NOTE, EXIF_FORMAT_UNDEFINED, QByteArray(note, sizeof(note)));
    unsigned char* bytes = nullptr;
    unsigned int size = 0;
    exif_data_save_data(d, &bytes, &size);
    exif_data_unref(d);
    QVERIFY(bytes && size);
    KXOSpecialInfo rec = {};
    rec.Exif = bytes;
    rec.ExifSize = size;

    ScriptedUi ui;
    DialogShowMetaDetailsExif e(&ui);
    QStringList noteRows;
    bool editable = true;
    e.showModal = [&](QDialog* nested) {
        if (auto* n = qobject_cast<DialogShowExifMakerNote*>(nested)) {
            for (int i = 0; i < n->listBoxTags->count(); ++i) noteRows << n->listBoxTags->item(i)->text();
            editable = n->buttonEdit->isEnabled();
            shoot(n, "meta-makernote");
        }
        return 0;
    };
    QVERIFY(e.PrepareP(&rec));
    const int artist = rowOf(e.rows(), "Artist");
    QVERIFY(artist >= 0);
    QVERIFY2(e.rows()[artist].line.endsWith(QString::fromUtf8("Müller")), qPrintable(e.rows()[artist].line));
    QVERIFY(e.buttonViewMakerNote->isEnabled());
    e.buttonViewMakerNote->click();
    free(bytes);
    QVERIFY(ui.messages.empty());
    QCOMPARE(noteRows.size(), 1);
    QVERIFY(!editable);
    QVERIFY2(noteRows[0].startsWith("6   : ") && noteRows[0].endsWith("EOS"), qPrintable(noteRows[0]));
}

// A JPEG with an ICC profile: "CMS" is checked but cannot be unchecked, and
// "Show/Edit ICC Info..." opens the colour-space list.
void MetadataTest::colourSpaceFromTheOverview() {
    Sandbox box({"META_LOAD=YES"});
    const QString pic = box.pictures() + "/icc.jpg";
    const QString profile = QStringLiteral(KX_BINARY_DIR "/bin/Resources/ICCP/sRGB_IEC61966-2-1_black_scaled.icc");
    QVERIFY(QFile::exists(profile));
    QVERIFY(writeFixture(pic, {"-EXIF:Artist=x", "-ICC_Profile<=" + profile}));
    ScriptedUi ui;
    Main w(box.options(&ui));
    QCOMPARE(w.LoadFile(pic), 0u);
    QStringList shown;
    std::function<void(QDialog*)> script = [&](QDialog* d) {
        shown << QString::fromLatin1(d->metaObject()->className());
        if (auto* o = qobject_cast<DialogShowEXIF*>(d)) {
            QVERIFY(o->checkBoxCMS->isChecked());
            QVERIFY(!o->checkBoxCMS->isEnabled());
            QVERIFY(o->buttonSaveICCProfile->isEnabled());
            QVERIFY(o->ShowCMS->isEnabled());
            o->ShowCMS->click();
            QVERIFY(o->checkBoxCMS->isChecked());
        }
    };
    w.dialogScript = [&](QDialog* d) {
        script(d);
        return 0;
    };
    QVERIFY(w.Trigger("meta.show"));
    QCOMPARE(shown, (QStringList{"DialogShowEXIF", "DialogKXColorSpace"}));
}

void MetadataTest::orientationLeavesWithTheBlock_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("edit");  // "fix": Fix Orientation; "strip", "typed": in the overview
    // What our reader gives back: the record's orientation (PNG's takes
    // none from the block) and whether the EXIF block (TIFF's does not).
    QTest::addColumn<uint>("record");
    QTest::addColumn<bool>("block");
    QTest::newRow("fixed, JPEG") << "JPEG" << "out.jpg" << "fix" << 1u << true;
    QTest::newRow("fixed, TIFF") << "TIFF" << "out.tif" << "fix" << 1u << false;
    QTest::newRow("fixed, PNG") << "PNG" << "out.png" << "fix" << 0u << true;
    QTest::newRow("stripped, JPEG") << "JPEG" << "out.jpg" << "strip" << 0u << true;
    QTest::newRow("typed 1, JPEG") << "JPEG" << "out.jpg" << "typed" << 1u << true;
}

// A portrait shot from cjpeg whose EXIF block exiftool gave orientation 6:
// Fix Orientation turns the pixels, and the saved file's block then says
// 1, so that no viewer turns them a second time; stripping the orientation
// in the overview takes the block's entry away, and a value typed there
// goes into the block too. The rest of the block stays, and our reader
// agrees.
void MetadataTest::orientationLeavesWithTheBlock() {
    QFETCH(QString, format);
    QFETCH(QString, name);
    QFETCH(QString, edit);
    QFETCH(uint, record);
    const bool strip = edit == "strip";
    QFETCH(bool, block);
    if (!OperatorReady(4) || !OperatorReady(25) || !ReaderReady("kxoRGFX"))
        QSKIP("needs Rotate, LeftToRight and RGFX undo files");
    if (QStandardPaths::findExecutable("cjpeg").isEmpty()) QSKIP("needs cjpeg");
    Sandbox box({"META_LOAD=YES", "META_SAVE=YES", "SAVE_FORMAT=" + format});
    // Four quadrants of their own colour, big enough for JPEG's blocks.
    const int w0 = 64, h0 = 32;
    const QColor colours[4] = {Qt::red, Qt::green, Qt::blue, Qt::white};
    QImage src(w0, h0, QImage::Format_RGB888);
    for (int y = 0; y < h0; ++y)
        for (int x = 0; x < w0; ++x) src.setPixelColor(x, y, colours[(y >= h0 / 2) * 2 + (x >= w0 / 2)]);
    const QString ppm = box.root() + "/q.ppm", pic = box.pictures() + "/portrait.jpg";
    QVERIFY(WritePPM(ppm, src));
    QCOMPARE(QProcess::execute("cjpeg", {"-quality", "95", "-outfile", pic, ppm}), 0);
    QVERIFY(!exiftool({"-q", "-overwrite_original", "-EXIF:Orientation#=6", "-EXIF:Artist=Kept", pic}).startsWith("<"));

    ScriptedUi ui;
    Main w(box.options(&ui));
    if (writerNumber(format.toLatin1().constData()) < 0) QSKIP("writer not built");
    QCOMPARE(w.LoadFile(pic), 0u);
    QCOMPARE(KX_GetMetaData()->Orientation, 6u);
    if (edit != "fix") {
        std::function<void(QDialog*)> script = [&](QDialog* d) {
            auto* o = qobject_cast<DialogShowEXIF*>(d);
            if (!o) return;
            ui.answers = {true};
            if (strip) o->checkBoxOrient->click();
            else o->numericOrientation->setValue(1);
            QCOMPARE(o->info()->Orientation, strip ? 0u : 1u);
        };
        w.dialogScript = [&](QDialog* d) {
            script(d);
            return 0;
        };
        QVERIFY(w.Trigger("meta.show"));
    } else {
        QVERIFY(w.Trigger("rot.fixorientation"));
        QCOMPARE(KX_GetMetaData()->Orientation, 1u);
    }
    const QString out = box.root() + "/" + name;
    ui.saveNames.push_back(out);
    QVERIFY(w.Trigger("file.saveas"));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_DONE"));

    const int o = edit == "fix" ? 6 : 1;  // how the saved pixels stand to the stored ones
    const bool swapped = o == 6;
    const QString read = exiftool({"-j", "-a", "-G1", "-n", "-Orientation", "-Artist", "-ImageWidth", "-ImageHeight", out});
    const QJsonObject tags = QJsonDocument::fromJson(read.toUtf8()).array().at(0).toObject();
    for (const QString& key : tags.keys())
        if (key.endsWith(":Orientation")) QVERIFY2(!strip && tags.value(key).toInt() == 1, qPrintable(read));
    if (!strip) QVERIFY2(tags.contains("IFD0:Orientation"), qPrintable(read));
    QVERIFY2(tags.value("IFD0:Artist").toString() == "Kept", qPrintable(read));
    bool ok = false;
    for (const QString& key : tags.keys())
        if (key.endsWith(":ImageWidth")) ok = tags.value(key).toInt() == (swapped ? h0 : w0);
    QVERIFY2(ok, qPrintable(read));

    // Ours: the orientation the record and the block give, and the turned pixels.
    QCOMPARE(w.LoadFile(out), 0u);
    const KXOSpecialInfo* back = KX_GetMetaData();
    QVERIFY(back);
    QCOMPARE(back->Orientation, record);
    QCOMPARE(back->Exif != nullptr, block);
    KXMetaTexts fromBlock;
    KX_MetaTextsFromBlocks(back->Exif, back->ExifSize, nullptr, 0, &fromBlock);
    QCOMPARE(fromBlock.Orientation, block && !strip ? 1u : 0u);
    const KX_GfxBuffer* img = KX_GetGfxBuffer();
    QCOMPARE(int(img->Width), swapped ? h0 : w0);
    QCOMPARE(int(img->Height), swapped ? w0 : h0);
    for (int q = 0; q < 4; ++q) {
        const QPoint p = UprightPos(o, (q % 2) * w0 / 2 + w0 / 4, (q / 2) * h0 / 2 + h0 / 4, w0, h0);
        const uint8_t* px = img->Data + 3 * (p.y() * int(img->Width) + p.x());
        const QColor c = colours[q];
        QVERIFY2(qAbs(px[0] - c.red()) < 40 && qAbs(px[1] - c.green()) < 40 && qAbs(px[2] - c.blue()) < 40,
                 qPrintable(QStringLiteral("quadrant %1: %2 %3 %4").arg(q).arg(px[0]).arg(px[1]).arg(px[2])));
    }
}

KX_QTEST_MAIN(MetadataTest)
#include "tst_metadata.moc"
