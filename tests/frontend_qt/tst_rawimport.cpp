// The import commands through the window: the raw data wizard on dumps
// written byte by byte here (chunky and planar 8-bit, 24-bit and 48-bit in
// both byte orders, each with its side-file line), camera RAW through dcraw
// (a DNG written with libtiff, and a stand-in converter that records its
// options), and an XMP file as the picture's packet. A cancelled or failed
// import keeps the picture that was shown.

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>

#include "DialogRawImport.h"
#include "PictureBox.h"
#include "core/catalogue.h"
#include "formats/libraries/kxoRAW.h"
#include "support/QtTestEnv.h"
#include "tests/support/dng.h"

class RawImportTest : public QObject {
    Q_OBJECT
private slots:
    void wizardOpensDumps_data();
    void wizardOpensDumps();
    void readsOurWritersDumps_data();
    void readsOurWritersDumps();
    void badSizesKeepThePicture_data();
    void badSizesKeepThePicture();
    void cancelKeepsThePicture();
    void dcrawNeedsItsPath();
    void dcrawFindsTheShippedPad();
    void dcrawPassesTheChoices();
    void dcrawReadsADng();
    void xmpReplacesBothPackets();
    void screenshots();
};

namespace {

// The window with a 24 x 16 picture open (the one a failed import must keep).
struct Desk {
    Sandbox box;
    ScriptedUi ui;
    std::unique_ptr<Main> w;
    KX_GfxBuffer* shown = nullptr;
    explicit Desk(const QStringList& settings = {}) : box(settings) {
        w = std::make_unique<Main>(box.options(&ui));
        const QString path = box.pictures() + "/shown.ppm";
        if (WritePPM(path, TestPicture(24, 16)) && w->LoadFile(path) == 0) shown = KX_GetGfxBuffer();
    }
    QString status() const { return w->labelStatus->text(); }
    QString importError(uint32_t code) const {
        return w->Msg("TXT_ERROR_IMPORTING") + ": " + QString::fromUtf8(KXL_GetErrorString(code));
    }
};

// One dump: its bytes, the wizard's choices and what the picture must hold.
struct Dump {
    QByteArray bytes;
    QString format;
    int layout = 0, endian = 0, width = 0, height = 0;
    QString comment;
    uint32_t depth = 0, type = ONEPLANE;
    QByteArray data;  // the buffer's pixel bytes
};

// A w x h picture whose pixel (x, y) has the samples v(x, y, c).
int sampleOf(int x, int y, int c) { return (x * 37 + y * 101 + c * 53) & 0xff; }
int sample16Of(int x, int y, int c) { return (x * 4099 + y * 257 * 11 + c * 7919) & 0xffff; }

Dump chunky8(int w, int h) {
    Dump d{QByteArray(), "LUT8", 0, 0, w, h,
           QStringLiteral("8 bit (chunky), colordepth 8, %1 x %2 (width x height)").arg(w).arg(h), 8, ONEPLANE, QByteArray()};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) d.bytes.append(char(sampleOf(x, y, 0)));
    d.data = d.bytes;
    return d;
}

// Four bit planes of (w + 7) / 8 bytes a row, leftmost pixel in the top bit.
Dump planar8(int w, int h) {
    Dump d{QByteArray(), "LUT8", 1, 0, w, h,
           QStringLiteral("8 bit (planes), colordepth 4, %1 x %2 (width x height)").arg(w).arg(h), 4, BITPLANE, QByteArray()};
    const int row = (w + 7) / 8;
    for (int p = 0; p < 4; ++p)
        for (int y = 0; y < h; ++y)
            for (int b = 0; b < row; ++b) d.bytes.append(char(sampleOf(b + p * 3, y, p) | 0x81));
    d.data = d.bytes;
    return d;
}

// big: B, G, R triples (the wizard's "Big Endian / BGR").
Dump rgb24(int w, int h, bool big) {
    Dump d{QByteArray(), "RGB24", 0, big ? 1 : 0, w, h,
           QStringLiteral("24 bit (RGB), colordepth 24, %1 x %2 (width x height)").arg(w).arg(h), 24, ONEPLANE, QByteArray()};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                d.data.append(char(sampleOf(x, y, c)));
                d.bytes.append(char(sampleOf(x, y, big ? 2 - c : c)));
            }
    return d;
}

// big: big-endian samples, as the raw dump writer makes them ("MM").
Dump rgb48(int w, int h, bool big) {
    Dump d{QByteArray(), "RGB48", 0, big ? 1 : 0, w, h,
           QStringLiteral("48 bit (RGB), colordepth 48, %1 x %2 (width x height), %3").arg(w).arg(h).arg(big ? "MM" : "II"),
           48, ONEPLANE, QByteArray()};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                const int v = sample16Of(x, y, c);
                // The picture holds host-order (little-endian) samples.
                d.data.append(char(v & 0xff)).append(char(v >> 8));
                if (big) d.bytes.append(char(v >> 8)).append(char(v & 0xff));
                else d.bytes.append(char(v & 0xff)).append(char(v >> 8));
            }
    return d;
}

// The bytes of the current picture's pixels.
QByteArray pixels(const KX_GfxBuffer* b) {
    return b ? QByteArray(reinterpret_cast<const char*>(b->Data), int(b->BufferSize)) : QByteArray();
}

// Writes name.RAW and its side file in the pictures folder.
QString writeDump(const Desk& desk, const Dump& d, const QString& name = QStringLiteral("dump")) {
    const QString path = desk.box.pictures() + "/" + name + ".RAW";
    if (!WriteBytes(path, d.bytes)) return QString();
    if (!d.comment.isEmpty() && !WriteBytes(desk.box.pictures() + "/" + name + "_COMMENT.txt", d.comment.toLatin1() + "\n"))
        return QString();
    return path;
}

// The wizard's choices for a dump (width and height may differ from it).
void choose(DialogKXORAWImport* d, const Dump& dump, int width, int height) {
    d->comboBoxFormat->setCurrentText(dump.format);
    d->comboBoxLayout->setCurrentIndex(dump.layout);
    d->comboBoxEndian->setCurrentIndex(dump.endian);
    d->numericWidth->setValue(width);
    d->numericHeight->setValue(height);
}

const char* const kFine = "Data seems to be fine. Press OK to import.";

void writePad(const Desk& desk, const QString& text) { WriteBytes(desk.box.envDir() + "DCRAW.controlpad", text.toUtf8()); }

}  // namespace

void RawImportTest::wizardOpensDumps_data() {
    QTest::addColumn<int>("kind");
    QTest::newRow("8-bit chunky") << 0;
    QTest::newRow("8-bit planar") << 1;
    QTest::newRow("24-bit RGB") << 2;
    QTest::newRow("24-bit BGR") << 3;
    QTest::newRow("48-bit little-endian") << 4;
    QTest::newRow("48-bit big-endian") << 5;
}

// Each dump opens with its side-file line shown and a preview, and OK makes
// it the picture, pixel for pixel.
void RawImportTest::wizardOpensDumps() {
    QFETCH(int, kind);
    if (!ReaderReady("kxoPNM") || !KX_IsBuilt("kxoRAW_Import")) QSKIP("needs the PNM reader and the raw importer");
    const int w = 13, h = 5;  // an odd width: planar rows are padded
    const Dump dump = kind == 0   ? chunky8(w, h)
                      : kind == 1 ? planar8(w, h)
                      : kind < 4  ? rgb24(w, h, kind == 3)
                                  : rgb48(w, h, kind == 5);
    Desk desk;
    QVERIFY(desk.shown);
    const QString path = writeDump(desk, dump);
    QVERIFY(!path.isEmpty());
    desk.ui.openNames.push_back(path);
    QString comment, status, fileLabel;
    bool previewShown = false, layoutOn = false;
    desk.w->dialogScript = [&](QDialog* dlg) {
        auto* d = qobject_cast<DialogKXORAWImport*>(dlg);
        if (!d) return 1;
        choose(d, dump, w, h);
        d->buttonSelectFile->click();
        comment = d->labelComment->text();
        fileLabel = d->labelFileName->text();
        status = d->labelStatus->text();
        previewShown = !d->pictureBoxPreview->image().isNull();
        layoutOn = d->comboBoxLayout->isEnabled();
        d->buttonOK->click();
        return 0;
    };
    QVERIFY(desk.w->Trigger("file.import.image.raw"));
    QCOMPARE(comment, dump.comment);
    QCOMPARE(fileLabel, path);
    QCOMPARE(status, QString::fromLatin1(kFine));
    QVERIFY(previewShown);
    QCOMPARE(layoutOn, kind < 2);

    KX_GfxBuffer* now = KX_GetGfxBuffer();
    QVERIFY(now && now != desk.shown);
    QCOMPARE(desk.status(), desk.w->Msg("TXT_DONE"));
    QCOMPARE(int(now->Width), w);
    QCOMPARE(int(now->Height), h);
    QCOMPARE(now->ColorDepth, dump.depth);
    QCOMPARE(now->Type, dump.type);
    QCOMPARE(pixels(now), dump.data);
    QCOMPARE(QString::fromStdString(desk.w->app.LastFile), QStringLiteral("dump.RAW"));
    QVERIFY(!desk.w->app.Modified);
}

void RawImportTest::readsOurWritersDumps_data() {
    QTest::addColumn<int>("depth");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("endian");
    QTest::newRow("24 bits") << 24 << "RGB24" << 0;
    QTest::newRow("48 bits, big-endian") << 48 << "RGB48" << 1;
}

// What the raw dump writer makes opens again with the side-file line it
// wrote, pixel for pixel.
void RawImportTest::readsOurWritersDumps() {
    QFETCH(int, depth);
    QFETCH(QString, format);
    QFETCH(int, endian);
    if (!ReaderReady("kxoPNM") || !KX_IsBuilt("kxoRAW_Import") || !KX_IsBuilt("kxoRAW"))
        QSKIP("needs the PNM reader, the raw importer and the raw dump writer");
    Desk desk;
    QVERIFY(desk.shown);
    const int w = 11, h = 7;
    KX_GfxBuffer* source = MakeGfx(w, h, uint32_t(depth));
    QVERIFY(source);
    for (uint32_t i = 0; i < source->BufferSize; ++i) source->Data[i] = uint8_t(i * 29 + 3);
    if (depth == 48) KXSUP_SetGfxBufferEndianess(source, KXGFXF_II);
    const QByteArray expected(reinterpret_cast<const char*>(source->Data), int(source->BufferSize));
    const QString path = desk.box.pictures() + "/ours.RAW";
    {
        kxoRAW writer(nullptr);
        const QByteArray name = QFile::encodeName(path);
        writer.SetSaveName(name.constData());
        writer.SetGfxBuffer(source);
        QCOMPARE(writer.Save(), 0u);
        writer.Reset();
    }
    KXSUP_FreeGfxBuffer(source);
    const QString line = QString::fromLatin1(ReadBytes(desk.box.pictures() + "/ours_COMMENT.txt")).trimmed();
    QVERIFY(!line.isEmpty());
    desk.ui.openNames.push_back(path);
    QString comment, status;
    desk.w->dialogScript = [&](QDialog* dlg) {
        auto* d = qobject_cast<DialogKXORAWImport*>(dlg);
        if (!d) return 1;
        d->buttonSelectFile->click();
        comment = d->labelComment->text();
        d->comboBoxFormat->setCurrentText(format);
        d->comboBoxEndian->setCurrentIndex(endian);
        d->numericWidth->setValue(w);
        d->numericHeight->setValue(h);
        status = d->labelStatus->text();
        d->buttonOK->click();
        return 0;
    };
    QVERIFY(desk.w->Trigger("file.import.image.raw"));
    QCOMPARE(comment, line);
    QCOMPARE(status, QString::fromLatin1(kFine));
    KX_GfxBuffer* now = KX_GetGfxBuffer();
    QVERIFY(now && now != desk.shown);
    QCOMPARE(QSize(int(now->Width), int(now->Height)), QSize(w, h));
    QCOMPARE(pixels(now), expected);
}

void RawImportTest::badSizesKeepThePicture_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("code");
    QTest::newRow("too wide: data ends early") << 9 << 6 << 29;
    QTest::newRow("too narrow: data left over") << 7 << 6 << 28;
    QTest::newRow("no height") << 8 << 0 << 28;
}

// Settings that do not fit the file show the importer's message in the
// wizard with an empty preview; fixing them shows the picture. OK with
// them anyway reports the message and keeps the picture that was shown.
void RawImportTest::badSizesKeepThePicture() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, code);
    if (!ReaderReady("kxoPNM") || !KX_IsBuilt("kxoRAW_Import")) QSKIP("needs the PNM reader and the raw importer");
    Desk desk;
    QVERIFY(desk.shown);
    const Dump dump = rgb24(8, 6, false);
    desk.ui.openNames.push_back(writeDump(desk, dump));
    QString wrong, fixed;
    bool emptied = false, shownAgain = false;
    desk.w->dialogScript = [&](QDialog* dlg) {
        auto* d = qobject_cast<DialogKXORAWImport*>(dlg);
        if (!d) return 1;
        choose(d, dump, 8, 6);
        d->buttonSelectFile->click();
        choose(d, dump, width, height);
        wrong = d->labelStatus->text();
        emptied = d->pictureBoxPreview->image().isNull();
        choose(d, dump, 8, 6);
        fixed = d->labelStatus->text();
        shownAgain = !d->pictureBoxPreview->image().isNull();
        choose(d, dump, width, height);
        d->buttonOK->click();
        return 0;
    };
    QVERIFY(desk.w->Trigger("file.import.image.raw"));
    QCOMPARE(wrong, QStringLiteral("Error: ") + QString::fromUtf8(KXL_GetErrorString(uint32_t(code))));
    QVERIFY(emptied);
    QCOMPARE(fixed, QString::fromLatin1(kFine));
    QVERIFY(shownAgain);
    QCOMPARE(desk.status(), desk.importError(uint32_t(code)));
    QCOMPARE(KX_GetGfxBuffer(), desk.shown);
    QCOMPARE(QString::fromStdString(desk.w->app.LastFile), QStringLiteral("shown.ppm"));
    QVERIFY(!desk.w->pictureBoxPreview->image().isNull());
}

// Cancelling either dialog says so, clears the thumbnail and keeps the
// picture; a file that is not there gives the importer's message.
void RawImportTest::cancelKeepsThePicture() {
    if (!ReaderReady("kxoPNM") || !KX_IsBuilt("kxoRAW_Import") || !KX_IsBuilt("kxoDCRAW"))
        QSKIP("needs the PNM reader, the raw importer and dcraw's reader");
    Desk desk;
    QVERIFY(desk.shown);
    writePad(desk, QStringLiteral("DCRAW_PATH=dcraw\n"));
    desk.w->dialogScript = [](QDialog* dlg) {
        if (auto* d = qobject_cast<DialogKXORAWImport*>(dlg)) d->buttonCancel->click();
        if (auto* d = qobject_cast<DialogKXODCRAW*>(dlg)) d->buttonCancel->click();
        return 0;
    };
    for (const char* id : {"file.import.image.raw", "file.import.image.dcraw"}) {
        desk.w->UpdatePreview(false);
        QVERIFY2(desk.w->Trigger(QString::fromLatin1(id)), id);
        QCOMPARE(desk.status(), desk.w->Msg("TXT_ERROR_IMPORTING") + ".");
        QCOMPARE(KX_GetGfxBuffer(), desk.shown);
        QCOMPARE(desk.w->pictureBoxPreview->image().size(), QSize(1, 1));
    }
    // OK without a file.
    desk.w->dialogScript = [](QDialog* dlg) {
        static_cast<DialogKXORAWImport*>(dlg)->buttonOK->click();
        return 0;
    };
    QVERIFY(desk.w->Trigger("file.import.image.raw"));
    QCOMPARE(desk.status(), desk.importError(KXERR_FILENOTFOUND));
    QCOMPARE(KX_GetGfxBuffer(), desk.shown);
}

// Without DCRAW_PATH in dcraw's settings pad the command says so and asks
// nothing.
void RawImportTest::dcrawNeedsItsPath() {
    if (!KX_IsBuilt("kxoDCRAW")) QSKIP("needs dcraw's reader");
    for (const char* pad : {"", "FORMAT=8BIT\n", "DCRAW_PATH\n", "DCRAW_PATH=\n"}) {
        Desk desk;
        if (*pad) writePad(desk, QString::fromLatin1(pad));
        bool asked = false;
        desk.w->dialogScript = [&](QDialog*) { return asked = true, 1; };
        const QString status = desk.status();
        QVERIFY(desk.w->Trigger("file.import.image.dcraw"));
        QVERIFY2(!asked, pad);
        QVERIFY(!desk.ui.messages.empty());
        QCOMPARE(desk.ui.messages.back().text, desk.w->Msg("TXT_ERROR_NO_CONFIG_DCRAW"));
        QCOMPARE(desk.ui.messages.back().caption, desk.w->Msg("TXT_KAXON5_ERROR"));
        QCOMPARE(desk.status(), status);
        QCOMPARE(KX_GetGfxBuffer(), desk.shown);
    }
}

// A fresh installation has no pad of the user's: the one shipped beside the
// program names dcraw, and the command asks for its file without a box.
void RawImportTest::dcrawFindsTheShippedPad() {
    if (!KX_IsBuilt("kxoDCRAW")) QSKIP("needs dcraw's reader");
    Desk desk;
    QVERIFY(QFile::copy(QStringLiteral(KX_SOURCE_DIR "/ENV/Kaxon5-Library/DCRAW.controlpad"),
                        desk.box.progDir() + "/ENV/Kaxon5-Library/DCRAW.controlpad"));
    QVERIFY(!QFile::exists(desk.box.envDir() + "DCRAW.controlpad"));
    bool asked = false;
    desk.w->dialogScript = [&](QDialog*) { return asked = true, 1; };
    QVERIFY(desk.w->Trigger("file.import.image.dcraw"));
    QVERIFY(asked);
    QVERIFY(desk.ui.messages.empty());
    QCOMPARE(KX_GetGfxBuffer(), desk.shown);
}

// The dialog's choices reach the converter (the picture number also when
// it is 0), with the path from the pad (any case of the key); what it
// writes becomes the picture. A converter that fails keeps the picture.
void RawImportTest::dcrawPassesTheChoices() {
    if (!ReaderReady("kxoPNM") || !KX_IsBuilt("kxoDCRAW")) QSKIP("needs the PNM reader and dcraw's reader");
    Desk desk;
    QVERIFY(desk.shown);
    const QString fixture = desk.box.root() + "/converted.ppm", log = desk.box.root() + "/args.txt";
    QVERIFY(WritePPM(fixture, TestPicture(20, 10)));
    const QString fake = desk.box.root() + "/fakedcraw";
    QVERIFY(WriteBytes(fake, QStringLiteral("#!/bin/sh\necho \"$@\" > '%1'\n[ -n \"$FAIL\" ] && exit 1\ncat '%2'\n")
                                .arg(log, fixture)
                                .toUtf8()));
    QFile(fake).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    writePad(desk, "dcraw_path=" + fake + "\n");
    const QString camera = desk.box.pictures() + "/shot.nef";
    QVERIFY(WriteBytes(camera, "raw"));

    struct Row {
        QString mode, layout, cspace;
        int picnum;
        QString args;
    };
    const Row rows[] = {
        {"IMAGE", "8BIT", "RAW", 0, "-c -s 0 -o 0 "},
        {"PREVIEW", "16BIT", "SRGB", 3, "-c -e -4 -s 3 -o 1 "},
        // Typed text is taken as it stands.
        {"IMAGE", "8BIT", "xyz", 99, "-c -s 99 -o 5 "},
    };
    for (const Row& r : rows) {
        desk.ui.openNames.push_back(camera);
        desk.w->dialogScript = [&](QDialog* dlg) {
            auto* d = qobject_cast<DialogKXODCRAW*>(dlg);
            if (!d) return 1;
            d->buttonSelectFile->click();
            d->comboBoxExtractMode->setCurrentText(r.mode);
            d->comboBoxLayout->setCurrentText(r.layout);
            d->comboBoxColorSpace->setCurrentText(r.cspace);
            d->numericPicNum->setValue(r.picnum);
            d->buttonOK->click();
            return 0;
        };
        QVERIFY(desk.w->Trigger("file.import.image.dcraw"));
        QCOMPARE(QString::fromUtf8(ReadBytes(log)).trimmed(), (r.args + camera));
        QCOMPARE(desk.status(), desk.w->Msg("TXT_DONE"));
        KX_GfxBuffer* now = KX_GetGfxBuffer();
        QVERIFY(now);
        QCOMPARE(QSize(int(now->Width), int(now->Height)), QSize(20, 10));
        QCOMPARE(QString::fromStdString(desk.w->app.LastFile), QStringLiteral("shot.nef"));
    }
    KX_GfxBuffer* before = KX_GetGfxBuffer();
    qputenv("FAIL", "1");
    desk.ui.openNames.push_back(camera);
    desk.w->Trigger("file.import.image.dcraw");
    qunsetenv("FAIL");
    QCOMPARE(desk.status(), desk.importError(KXERR_EXTERNALTOOL));
    QCOMPARE(KX_GetGfxBuffer(), before);
}

// dcraw itself on a DNG: red on the left, blue on the right.
void RawImportTest::dcrawReadsADng() {
    if (!ReaderReady("kxoPNM") || !KX_IsBuilt("kxoDCRAW")) QSKIP("needs the PNM reader and dcraw's reader");
    const QString dcraw = QStandardPaths::findExecutable(QStringLiteral("dcraw"));
    if (dcraw.isEmpty()) QSKIP("dcraw is not installed");
    Desk desk;
    QVERIFY(desk.shown);
    writePad(desk, "DCRAW_PATH=" + dcraw + "\n");
    const QString dng = desk.box.pictures() + "/small.dng";
    QVERIFY(KXT_WriteDng(QFile::encodeName(dng).toStdString()));
    desk.ui.openNames.push_back(dng);
    desk.w->dialogScript = [](QDialog* dlg) {
        auto* d = qobject_cast<DialogKXODCRAW*>(dlg);
        if (!d) return 1;
        d->buttonSelectFile->click();
        d->buttonOK->click();
        return 0;
    };
    QVERIFY(desk.w->Trigger("file.import.image.dcraw"));
    QCOMPARE(desk.status(), desk.w->Msg("TXT_DONE"));
    KX_GfxBuffer* b = KX_GetGfxBuffer();
    QVERIFY(b && b != desk.shown);
    QCOMPARE(QSize(int(b->Width), int(b->Height)), QSize(64, 48));
    QCOMPARE(b->ColorDepth, 24u);
    const uint8_t* left = b->Data + (20 * 64 + 10) * 3;
    const uint8_t* right = b->Data + (20 * 64 + 50) * 3;
    QVERIFY2(left[0] > 2 * left[2], "red on the left");
    QVERIFY2(right[2] > 2 * right[0], "blue on the right");
}

// An XMP file becomes the second packet, byte for byte, and the first goes;
// the picture counts as changed. A picture without a record gets one;
// cancelling the file picker changes nothing.
void RawImportTest::xmpReplacesBothPackets() {
    if (!ReaderReady("kxoPNM")) QSKIP("needs the PNM reader");
    Desk desk;
    QVERIFY(desk.shown);
    QVERIFY(!KX_GetMetaData());
    const QByteArray first = "<x:xmpmeta xmlns:x='adobe:ns:meta/'>\xc3\xa4</x:xmpmeta>\n", second = "<?xpacket?>\xe4";
    const QString file1 = desk.box.pictures() + "/one.xmp", file2 = desk.box.pictures() + "/two.xmp";
    QVERIFY(WriteBytes(file1, first) && WriteBytes(file2, second));

    QVERIFY(desk.w->Trigger("file.import.meta.rawmeta.xmp"));  // cancelled
    QVERIFY(!KX_GetMetaData());
    QVERIFY(!desk.w->app.Modified);

    desk.ui.openNames.push_back(file1);
    QVERIFY(desk.w->Trigger("file.import.meta.rawmeta.xmp"));
    KXOSpecialInfo* r = KX_GetMetaDataCheck(0);
    QVERIFY(r && r->Xmp1);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(r->Xmp1), int(r->Xmp1Size)), first);
    QCOMPARE(desk.status(), desk.w->Msg("TXT_DONE"));
    QVERIFY(desk.w->app.Modified);
    QCOMPARE(KX_GetGfxBuffer(), desk.shown);
    if (desk.w->checkBoxMetaLoad->isChecked()) QVERIFY(desk.w->buttonMeta->isVisibleTo(desk.w.get()));

    // An old first packet goes too.
    r->Xmp0 = static_cast<uint8_t*>(AllocVec(4, MEMF_ANY));
    QVERIFY(r->Xmp0);
    memcpy(r->Xmp0, "old!", 4);
    r->Xmp0Size = 4;
    desk.ui.openNames.push_back(file2);
    QVERIFY(desk.w->Trigger("file.import.meta.rawmeta.xmp"));
    r = KX_GetMetaDataCheck(0);
    QVERIFY(r);
    QVERIFY(!r->Xmp0);
    QCOMPARE(r->Xmp0Size, 0u);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(r->Xmp1), int(r->Xmp1Size)), second);

    // A file that cannot be read changes nothing.
    desk.ui.openNames.push_back(desk.box.pictures() + "/missing.xmp");
    QVERIFY(desk.w->Trigger("file.import.meta.rawmeta.xmp"));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(r->Xmp1), int(r->Xmp1Size)), second);
}

// The wizard with a dump loaded, written as an artefact (the xvfb run
// writes it with the X server's fonts).
void RawImportTest::screenshots() {
    if (!ReaderReady("kxoPNM") || !KX_IsBuilt("kxoRAW_Import")) QSKIP("needs the PNM reader and the raw importer");
    Desk desk;
    const QString dir = ArtefactDir() + "/rawimport-" + QGuiApplication::platformName();
    QDir().mkpath(dir);
    Dump dump = rgb24(96, 64, false);
    dump.bytes.clear();
    const QImage picture = TestPicture(96, 64).convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < 64; ++y) dump.bytes.append(reinterpret_cast<const char*>(picture.constScanLine(y)), 96 * 3);
    desk.ui.openNames.push_back(writeDump(desk, dump));
    bool fits = false;
    desk.w->dialogScript = [&](QDialog* dlg) {
        auto* d = qobject_cast<DialogKXORAWImport*>(dlg);
        if (!d) return 1;
        d->show();
        choose(d, dump, 96, 64);
        d->buttonSelectFile->click();
        QTest::qWait(50);
        d->grab().save(dir + "/raw-wizard.png");
        fits = d->width() >= d->minimumSizeHint().width() && d->height() >= d->minimumSizeHint().height();
        d->buttonCancel->click();
        return 1;
    };
    QVERIFY(desk.w->Trigger("file.import.image.raw"));
    QVERIFY(fits);
    writePad(desk, QStringLiteral("DCRAW_PATH=dcraw\n"));
    desk.w->dialogScript = [&](QDialog* dlg) {
        auto* d = qobject_cast<DialogKXODCRAW*>(dlg);
        if (!d) return 1;
        d->show();
        QTest::qWait(50);
        d->grab().save(dir + "/dcraw.png");
        d->buttonCancel->click();
        return 1;
    };
    if (KX_IsBuilt("kxoDCRAW")) QVERIFY(desk.w->Trigger("file.import.image.dcraw"));
}

KX_QTEST_MAIN(RawImportTest)
#include "tst_rawimport.moc"
