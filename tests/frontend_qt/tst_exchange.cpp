// The exchange commands through the window: copy and open from the
// clipboard give back the same picture (true colour, palette, alpha), the
// alpha copy, the list dialogs' text copies, the screen grab of a window
// made here, printing into a PDF file read back with pdftoppm, and
// acquisition from SANE's test device and from stand-in programs (missing,
// failing, slow, a camera).
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTimer>
#include <QToolBar>

#include "Clipboard.h"
#include "DialogAreaSelect.h"
#include "HotKey.h"
#include "Printing.h"
#include "View.h"
#include "support/QtTestEnv.h"

namespace {
QString errorText(uint32_t code) { return QString::fromUtf8(KXL_GetErrorString(code)); }

// The picture as the viewer shows it, alpha included.
QImage shown(KX_GfxBuffer* b) { return View::SetImage(b, true).convertToFormat(QImage::Format_ARGB32); }

bool writeImage(const QString& path, const QImage& img, const char* format) { return img.save(path, format); }

QImage palettePicture(int w, int h) {
    QImage img(w, h, QImage::Format_Indexed8);
    QList<QRgb> table;
    for (int i = 0; i < 16; ++i) table << qRgb(i * 16, 255 - i * 16, (i * 40) & 255);
    img.setColorTable(table);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.setPixel(x, y, uint((x + 2 * y) % 16));
    return img;
}

QImage alphaPicture(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.setPixel(x, y, qRgba(x * 20, y * 30, 90, (x * 37 + y * 11) % 256));
    return img;
}

// The bounding box of the page's inked pixels.
QRect inked(const QImage& page) {
    QRect box;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x)
            if (qGray(page.pixel(x, y)) < 200) box |= QRect(x, y, 1, 1);
    return box;
}

bool near(int a, int b, int slack = 1) { return std::abs(a - b) <= slack; }

// A stand-in for scanimage: a shell script answering "-f" with the
// device line and a scan by running the given commands.
QString fakeScanner(const QString& dir, const QString& deviceLine, const QString& scan) {
    QDir().mkpath(dir);
    const QString path = dir + "/fake-scanimage";
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(QStringLiteral("#!/bin/sh\nif [ \"$1\" = -f ]; then printf '%s\\n' '%1'; exit 0; fi\n%2\n").arg(deviceLine, scan).toUtf8());
    f.close();
    f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
    return path;
}
}  // namespace

class ExchangeTest : public QObject {
    Q_OBJECT
private slots:
    void copyOpenRoundTrip_data();
    void copyOpenRoundTrip();
    void emptyClipboardKeepsThePicture();
    void copyAlpha();
    void textRows();
    void grabOfAWindow();
    void fit_data();
    void fit();
    void printToPdf_data();
    void printToPdf();
    void printerSetupPreviewAndFailures();
    void acquireFromSaneTestDevice();
    void acquireFailuresAndCamera();
};

void ExchangeTest::copyOpenRoundTrip_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("reader");
    QTest::newRow("24-bit") << "true.ppm" << TestPicture(21, 13) << "PPM" << "kxoPNM";
    QTest::newRow("palette") << "palette.bmp" << palettePicture(19, 7) << "BMP" << "kxoBMP";
    QTest::newRow("alpha") << "alpha.png" << alphaPicture(9, 8) << "PNG" << "kxoPNG";
}

// Copy, then Open from Clipboard (and Paste without an area): the same
// pixels, palette pictures stay palette pictures, the alpha map comes
// back; the picture has no file now and its clipboard file is gone.
void ExchangeTest::copyOpenRoundTrip() {
    QFETCH(QString, name);
    QFETCH(QImage, picture);
    QFETCH(QString, format);
    QFETCH(QString, reader);
    if (!ReaderReady(reader.toLatin1().constData()) || !ReaderReady("kxoPNG")) QSKIP("needs the picture's reader and PNG");
    Sandbox box;
    ScriptedUi ui;
    Main w(box.options(&ui));
    const QString file = box.pictures() + "/" + name;
    QVERIFY(format == "PPM" ? WritePPM(file, picture) : writeImage(file, picture, format.toLatin1().constData()));
    QCOMPARE(w.LoadFile(file), 0u);
    KX_GfxBuffer* before = KX_GetGfxBuffer();
    const QImage expected = shown(before);
    const uint32_t depth = before->ColorDepth;
    const uint32_t alpha = KXSUP_AlphaHolds(before);
    for (const char* paste : {"file.openclip", "edit.paste"}) {
        QVERIFY(w.Trigger("edit.copy"));
        QCOMPARE(w.labelStatus->text(), w.Msg("TXT_CLIP_COPY_IMAGE"));
        QVERIFY(w.Trigger(paste));
        QCOMPARE(w.labelStatus->text(), w.Msg("TXT_DONE"));
        KX_GfxBuffer* after = KX_GetGfxBuffer();
        QVERIFY(after);
        QCOMPARE(shown(after), expected);
        QCOMPARE(after->ColorDepth <= 8, depth <= 8);
        QCOMPARE(KXSUP_AlphaHolds(after), alpha);
        QVERIFY(w.app.IsVirtual);
        QCOMPARE(w.labelFileName->text(), w.Msg("TXT_NO_FILE_ATTACHED"));
        QVERIFY(w.labelFileInfo->text().startsWith("PNG "));
        QVERIFY(!QFile::exists(QFile::decodeName(w.app.ClipFileName(0).c_str())));
    }
}

// An empty clipboard opens nothing and the picture shown stays.
void ExchangeTest::emptyClipboardKeepsThePicture() {
    if (!ReaderReady("kxoPNM") || !ReaderReady("kxoPNG")) QSKIP("needs the PNM and PNG readers");
    Sandbox box;
    ScriptedUi ui;
    Main w(box.options(&ui));
    const QString file = box.pictures() + "/p.ppm";
    QVERIFY(WritePPM(file, TestPicture(6, 5)));
    QCOMPARE(w.LoadFile(file), 0u);
    KX_GfxBuffer* before = KX_GetGfxBuffer();
    QGuiApplication::clipboard()->setText(QStringLiteral("only text"));
    QVERIFY(w.Trigger("file.openclip"));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_ERROR_LOADING") + ".");
    QCOMPARE(KX_GetGfxBuffer(), before);
    QCOMPARE(w.labelFileName->text(), QStringLiteral("p.ppm"));
    // Copy without a picture says so.
    KX_ResetHandle(1, 1, 1);
    QVERIFY(w.Trigger("edit.copy"));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_ERROR") + " " + w.Msg("TXT_NO_FILE_LOADED"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("only text"));
}

// Copy Alpha puts the alpha map as a grey picture on the clipboard; a
// picture without an 8-bit map is refused.
void ExchangeTest::copyAlpha() {
    if (!ReaderReady("kxoPNG") || !ReaderReady("kxoPNM") || !OperatorReady(18)) QSKIP("needs PNG, PNM and ExtractAlpha");
    Sandbox box;
    ScriptedUi ui;
    Main w(box.options(&ui));
    // Without a picture the entry is off; the command itself refuses too.
    QVERIFY(!w.Trigger("edit.copyalpha"));
    w.actions.value("edit.copyalpha")->setEnabled(true);
    QVERIFY(w.Trigger("edit.copyalpha"));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_ERROR") + " " + w.Msg("TXT_NO_FILE_LOADED"));
    const QString opaque = box.pictures() + "/o.ppm", translucent = box.pictures() + "/a.png";
    QVERIFY(WritePPM(opaque, TestPicture(5, 4)));
    const QImage source = alphaPicture(9, 8);
    QVERIFY(source.save(translucent, "PNG"));
    QCOMPARE(w.LoadFile(opaque), 0u);
    QVERIFY(w.Trigger("edit.copyalpha"));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_ERROR") + " " + w.Msg("TXT_NO_ALPHA"));
    QCOMPARE(w.LoadFile(translucent), 0u);
    QVERIFY(w.Trigger("edit.copyalpha"));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_CLIP_COPY_IMAGE_ALPHA"));
    const QImage clip = kxclip::Image();
    QCOMPARE(clip.size(), source.size());
    for (int y = 0; y < clip.height(); ++y)
        for (int x = 0; x < clip.width(); ++x) QCOMPARE(qGray(clip.pixel(x, y)), qAlpha(source.pixel(x, y)));
}

// Rows end in a line feed each.
void ExchangeTest::textRows() {
    kxclip::PutRows({"Width                           640", "Height                          480"});
    QCOMPARE(QGuiApplication::clipboard()->text(),
             QStringLiteral("Width                           640\nHeight                          480\n"));
    kxclip::PutRows({});
    QCOMPARE(QGuiApplication::clipboard()->text(), QString());
}

// The grab copies the whole primary screen, with a window made here on it,
// to the clipboard and opens it as the new picture; its hot key waits
// while a dialog is open.
void ExchangeTest::grabOfAWindow() {
    if (!ReaderReady("kxoPNG") || !ReaderReady("kxoPNM")) QSKIP("needs the PNG and PNM readers");
    Sandbox box;
    ScriptedUi ui;
    Main w(box.options(&ui));
    QWidget red;
    red.setWindowFlag(Qt::FramelessWindowHint);
    red.setAutoFillBackground(true);
    QPalette p = red.palette();
    p.setColor(QPalette::Window, QColor(250, 0, 0));
    red.setPalette(p);
    red.setGeometry(0, 0, 48, 32);
    red.show();
    QVERIFY(QTest::qWaitForWindowExposed(&red));
    QVERIFY(w.toolStripButtonScreenshot->isEnabled());
    w.toolStripButtonScreenshot->trigger();
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_DONE"));
    KX_GfxBuffer* shot = KX_GetGfxBuffer();
    QVERIFY(shot);
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    QCOMPARE(QSize(int(shot->Width), int(shot->Height)), screen);
    const QImage grabbed = shown(shot);
    QCOMPARE(grabbed.pixelColor(10, 10), QColor(250, 0, 0));
    QCOMPARE(grabbed.pixelColor(47, 31), QColor(250, 0, 0));
    QVERIFY(w.app.IsVirtual);
    QCOMPARE(kxclip::Image().size(), screen);

    // The hot key waits while a dialog of the window is open (the dialog
    // holds the picture), and grabs once it is closed.
    const QString file = box.pictures() + "/p.ppm";
    QVERIFY(WritePPM(file, TestPicture(8, 6)));
    QCOMPARE(w.LoadFile(file), 0u);
    KX_GfxBuffer* before = KX_GetGfxBuffer();
    KX_GfxBuffer* during = nullptr;
    w.areaScript = [&](DialogAreaSelect* d) {
        QTimer::singleShot(0, d, [&, d] {
            emit w.HK1->HotKeyPressed(1);
            during = KX_GetGfxBuffer();
            d->buttonCancel->click();
        });
        return d->exec();
    };
    w.checkBoxArea->setChecked(true);
    QCOMPARE(during, before);
    QCOMPARE(w.labelFileName->text(), QStringLiteral("p.ppm"));
    emit w.HK1->HotKeyPressed(1);
    QCOMPARE(KX_GetGfxBuffer()->Width, uint32_t(screen.width()));
}

void ExchangeTest::fit_data() {
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("margins");
    QTest::addColumn<QSize>("drawn");
    QTest::newRow("fits: own size") << QSize(40, 30) << QSize(600, 900) << QSize(40, 30);
    QTest::newRow("exactly the margins") << QSize(600, 900) << QSize(600, 900) << QSize(600, 900);
    QTest::newRow("twice as wide: half") << QSize(1200, 100) << QSize(600, 900) << QSize(600, 50);
    QTest::newRow("too high") << QSize(300, 1800) << QSize(600, 900) << QSize(150, 900);
    QTest::newRow("thin: never below one pixel") << QSize(1, 5000) << QSize(600, 900) << QSize(1, 900);
    QTest::newRow("no margins left") << QSize(20, 20) << QSize(0, 0) << QSize(1, 1);
}

void ExchangeTest::fit() {
    QFETCH(QSize, picture);
    QFETCH(QSize, margins);
    QFETCH(QSize, drawn);
    QCOMPARE(kxprint::Fit(picture, margins), drawn);
}

void ExchangeTest::printToPdf_data() {
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<bool>("own");  // printed in its own size
    QTest::newRow("small: own size at the margins' corner") << QSize(40, 30) << true;
    QTest::newRow("twice as wide as the margins: half size") << QSize(0, 60) << false;
    QTest::newRow("one pixel wide, far too high") << QSize(1, 3000) << false;
}

// Print writes one PDF page: pdftoppm at 96 pixels per inch shows the
// picture at the margins' top-left corner, in the size Fit gives.
void ExchangeTest::printToPdf() {
    QFETCH(QSize, picture);
    QFETCH(bool, own);
    if (!ReaderReady("kxoPNM") || !OperatorReady(14)) QSKIP("needs the PNM reader and Resize");
    const QString pdftoppm = QStandardPaths::findExecutable("pdftoppm");
    if (pdftoppm.isEmpty()) QSKIP("pdftoppm (poppler-utils) is not installed");
    Sandbox box;
    ScriptedUi ui;
    ui.printFile = box.root() + "/page.pdf";
    Main w(box.options(&ui));
    QPrinter* printer = w.printer();
    printer->setPageSize(QPageSize(QPageSize::A4));
    printer->setPageMargins(QMarginsF(20, 30, 20, 20), QPageLayout::Millimeter);
    const QSize margins = kxprint::MarginsOf(printer);
    if (picture.width() == 0) picture.setWidth(margins.width() * 2);
    QImage dark(picture, QImage::Format_RGB888);
    dark.fill(QColor(20, 40, 160));
    const QString file = box.pictures() + "/p.ppm";
    QVERIFY(WritePPM(file, dark));
    QCOMPARE(w.LoadFile(file), 0u);
    QVERIFY(w.Trigger("file.print"));
    QVERIFY(QFile::exists(ui.printFile));
    QProcess render;
    render.start(pdftoppm, {"-r", "96", "-png", "-singlefile", ui.printFile, box.root() + "/page"});
    QVERIFY(render.waitForFinished(60000));
    QCOMPARE(render.exitCode(), 0);
    const QImage page(box.root() + "/page.png");
    QVERIFY(!page.isNull());
    const QSize expected = kxprint::Fit(picture, margins);
    QCOMPARE(expected == picture, own);
    const QRect ink = inked(page);
    QVERIFY2(near(ink.left(), qRound(20 / 25.4 * 96)) && near(ink.top(), qRound(30 / 25.4 * 96)),
             qPrintable(QStringLiteral("at %1, %2").arg(ink.left()).arg(ink.top())));
    QVERIFY2(near(ink.width(), expected.width()) && near(ink.height(), expected.height()),
             qPrintable(QStringLiteral("%1 x %2, expected %3 x %4").arg(ink.width()).arg(ink.height()).arg(expected.width()).arg(expected.height())));
}

// Printer Setup asks to print right away (only with a picture); the
// preview paints the page; printing without a picture or into a file that
// cannot be made says so.
void ExchangeTest::printerSetupPreviewAndFailures() {
    if (!ReaderReady("kxoPNM")) QSKIP("needs the PNM reader");
    Sandbox box;
    ScriptedUi ui;
    ui.printFile = box.root() + "/setup.pdf";
    Main w(box.options(&ui));
    // Without a picture the entry is off; the command itself refuses too.
    QVERIFY(!w.Trigger("file.print"));
    w.actions.value("file.print")->setEnabled(true);
    QVERIFY(w.Trigger("file.print"));
    QCOMPARE(ui.messages.back().caption, w.Msg("TXT_KAXON5_INFO"));
    QCOMPARE(ui.messages.back().text, w.Msg("TXT_NO_FILE_LOADED"));
    ui.printAnswers = {true};
    QVERIFY(w.Trigger("file.printersetup"));
    QCOMPARE(ui.asked, 0);  // nothing to print
    const QString file = box.pictures() + "/p.ppm";
    QVERIFY(WritePPM(file, TestPicture(12, 9)));
    QCOMPARE(w.LoadFile(file), 0u);
    ui.printAnswers = {false};
    QVERIFY(w.Trigger("file.printersetup"));
    QCOMPARE(ui.asked, 0);
    ui.printAnswers = {true};
    ui.answers = {true};
    QVERIFY(w.Trigger("file.printersetup"));
    QCOMPARE(ui.asked, 1);
    QCOMPARE(ui.messages.back().text, QStringLiteral("Print right now?"));
    QVERIFY(QFileInfo(ui.printFile).size() > 0);
    QFile::remove(ui.printFile);
    QVERIFY(w.Trigger("file.printpreview"));
    QCOMPARE(ui.previews, 1);
    QVERIFY(QFileInfo(ui.printFile).size() > 0);
    w.printer()->setOutputFileName(box.root() + "/no-such-folder/x.pdf");
    QVERIFY(w.Trigger("file.print"));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_ERROR") + " " + errorText(KXERR_NODESTFILE));
}

// SANE's test backend: the device list offers its two scanners, the scan
// becomes the picture (no file behind it), and neither the acquisition
// file nor the scan's folder stays behind; the camera list is empty.
void ExchangeTest::acquireFromSaneTestDevice() {
    if (!ReaderReady("kxoPNG")) QSKIP("needs the PNG reader");
    if (QStandardPaths::findExecutable("scanimage").isEmpty()) QSKIP("SANE's scanimage (sane-utils) is not installed");
    Sandbox box;
    const QString sane = box.root() + "/sane";
    QDir().mkpath(sane);
    QFile dll(sane + "/dll.conf"), test(sane + "/test.conf");
    QVERIFY(dll.open(QIODevice::WriteOnly) && test.open(QIODevice::WriteOnly));
    dll.write("test\n");
    test.write("number_of_devices 2\nmode Color\nresolution 50.0\ntest-picture \"Color pattern\"\nbr_x 40.0\nbr_y 30.0\n");
    dll.close();
    test.close();
    const QByteArray saved = qgetenv("SANE_CONFIG_DIR");
    qputenv("SANE_CONFIG_DIR", sane.toLocal8Bit());
    ScriptedUi ui;
    Main w(box.options(&ui));
    const QString temp = QFile::decodeName(w.app.Library->TempDir);
    for (int round = 0; round < 2; ++round) {
        ui.choices = {0};
        QVERIFY(w.Trigger("file.imageacq.scanner"));
        QCOMPARE(ui.offered.size(), 2);
        QVERIFY(ui.offered.at(0).contains("(test:0)"));
        QCOMPARE(w.labelStatus->text(), w.Msg("TXT_DONE"));
        KX_GfxBuffer* scan = KX_GetGfxBuffer();
        QVERIFY(scan);
        // 40 x 30 mm at 50 dots per inch.
        QVERIFY(near(int(scan->Width), 79) && near(int(scan->Height), 59));
        QCOMPARE(scan->ColorDepth, 24u);
        QVERIFY(w.app.IsVirtual);
        QCOMPARE(w.labelFileName->text(), w.Msg("TXT_NO_FILE_ATTACHED"));
        QVERIFY(!QFile::exists(QFile::decodeName(w.app.ClipFileName(1).c_str())));
        QVERIFY(QDir(temp).entryList({"scan-*"}, QDir::AllEntries | QDir::Hidden).isEmpty());
    }
    // Cancelling the device choice keeps the picture.
    KX_GfxBuffer* kept = KX_GetGfxBuffer();
    QVERIFY(w.Trigger("file.imageacq.scanner"));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_ERROR") + " " + errorText(KXERR_NOVIEWABLEDATA));
    QCOMPARE(KX_GetGfxBuffer(), kept);
    ui.messages.clear();
    QVERIFY(w.Trigger("file.imageacq.camera"));
    QCOMPARE(ui.messages.size(), size_t(1));
    QCOMPARE(ui.messages.back().text, w.Msg("TXT_ERROR_NO_WIA_CAMERA"));
    qputenv("SANE_CONFIG_DIR", saved);
}

// The program missing, its list failing, a scan failing, a scan cancelled
// while it runs, and a camera that delivers a picture.
void ExchangeTest::acquireFailuresAndCamera() {
    if (!ReaderReady("kxoPNG")) QSKIP("needs the PNG reader");
    Sandbox box;
    ScriptedUi ui;
    Main w(box.options(&ui));
    struct Case {
        QString program;
        const char* entry;
        const char* message;
    };
    const QString failingScan = fakeScanner(box.root() + "/f1", "fake:0|Acme|Flat|flatbed scanner", "exit 3");
    const Case cases[] = {
        {box.root() + "/no-such-scanimage", "file.imageacq.scanner", "TXT_ERROR_WIA_NO_DLL"},
        {QStandardPaths::findExecutable("false"), "file.imageacq.scanner", "TXT_ERROR_WIA_NO_ACCESS"},
        {failingScan, "file.imageacq.scanner", "TXT_ERROR_NO_WIA_SCANNER"},
        {failingScan, "file.imageacq.camera", "TXT_ERROR_NO_WIA_CAMERA"},
    };
    for (const Case& c : cases) {
        w.scanProgram = c.program;
        ui.messages.clear();
        ui.choices = {0};
        QVERIFY(w.Trigger(c.entry));
        QCOMPARE(ui.messages.size(), size_t(1));
        QCOMPARE(ui.messages.back().caption, w.Msg("TXT_KAXON5_ERROR"));
        QCOMPARE(ui.messages.back().text, w.Msg(c.message));
    }
    // Cancel ends a scan that takes long.
    w.scanProgram = fakeScanner(box.root() + "/f2", "fake:1|Acme|Slow|flatbed scanner", "exec sleep 30");
    ui.choices = {0};
    QTimer::singleShot(300, [] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* busy = qobject_cast<QProgressDialog*>(top); busy && busy->isVisible())
                if (auto* cancel = busy->findChild<QPushButton*>()) cancel->click();
    });
    QElapsedTimer clock;
    clock.start();
    QVERIFY(w.Trigger("file.imageacq.scanner"));
    QVERIFY(clock.elapsed() < 10000);
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_ERROR") + " " + errorText(KXERR_NOVIEWABLEDATA));
    // A camera's picture arrives like a scan.
    const QString shot = box.root() + "/shot.png";
    QVERIFY(TestPicture(7, 5).save(shot, "PNG"));
    w.scanProgram = fakeScanner(box.root() + "/f3", "cam:0|Acme|Snap|still camera", "cp '" + shot + "' \"$5\"");
    ui.choices = {0};
    QVERIFY(w.Trigger("file.imageacq.camera"));
    QCOMPARE(ui.offered, QStringList{"Acme Snap (cam:0)"});
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_DONE"));
    QCOMPARE(KX_GetGfxBuffer()->Width, 7u);
    // A new picture drops the area of the one before.
    w.areaScript = [](DialogAreaSelect* d) {
        d->numericUpDownL->setValue(2);
        d->buttonOK->click();
        return 0;
    };
    w.checkBoxArea->setChecked(true);
    QVERIFY(w.app.AreaBuffer);
    ui.choices = {0};
    QVERIFY(w.Trigger("file.imageacq.camera"));
    QVERIFY(!w.app.AreaBuffer);
    QVERIFY(!w.checkBoxArea->isChecked());
    // A scanner list without scanners.
    ui.messages.clear();
    QVERIFY(w.Trigger("file.imageacq.scanner"));
    QCOMPARE(ui.messages.back().text, w.Msg("TXT_ERROR_NO_WIA_SCANNER"));
}

KX_QTEST_MAIN(ExchangeTest)
#include "tst_exchange.moc"
