// The commands through the window: the window while the worker runs; what a
// failed open, Save As and the Help entries show; the image commands that
// work on the picture in place (Fix Orientation, Endian Swap, Strip
// HAM/EHB), the alpha import and export, the neighbour buttons and the
// thumbnail's reduction.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QToolBar>
#include <chrono>
#include <thread>

#include "ActionTable.h"
#include "AppLinks.h"
#include "DialogOptions.h"
#include "PictureBox.h"
#include "View.h"
#include "support/QtTestEnv.h"

namespace {
// Stands in for an operator of the table for one test: records the keys of
// its settings list, optionally waits, and gives a copy of its source with
// an 8-bit alpha map of 200.
class StandIn : public KXOperator {
public:
    int Runs = 0;
    int WaitMs = 0;
    QHash<QString, QString> Keys;
    StandIn() : KXOperator(static_cast<KXClass*>(nullptr)) {}
    ~StandIn() override { StandIn::Reset(); }
    void Reset() override {
        KXSUP_FreeGfxBuffer(Result);
        Result = nullptr;
    }
    uint32_t OperateTagList(KX_GfxBuffer* s, KX_GfxBuffer** r, const TagItem*) override {
        Runs++;
        for (const char* k : {"ALPHA_MODE", "SCALE_SOURCEGFX", "ALPHA_SOURCE"}) {
            char v[512] = {};
            if (GetKey(k, v, sizeof(v))) Keys.insert(k, QString::fromUtf8(v));
        }
        KXProgress p{0, 40};
        if (ProgressHook) ProgressHook(&p, ProgressUser);
        if (WaitMs) std::this_thread::sleep_for(std::chrono::milliseconds(WaitMs));
        if (uint32_t e = KXSUP_CopyGfxBuffer(s, &Result, 1, MEMF_ANY)) return e;
        Result->Version = 3;
        Result->AlphaType = KXALPHA_CHANNEL8;
        Result->AlphaData = AllocVec(Result->Width * Result->Height, MEMF_ANY);
        memset(Result->AlphaData, 200, Result->Width * Result->Height);
        *r = Result;
        return 0;
    }
    uint32_t DetachResult(KX_GfxBuffer** b) override {
        *b = Result;
        Result = nullptr;
        return *b ? 0u : uint32_t(KXERR_INTERNALACCESS);
    }
    uint32_t SetProgress(KXProgressHook h, uintptr_t u) override {
        ProgressHook = h;
        ProgressUser = u;
        return 0;
    }
};

// Puts a stand-in into the operator table while it lives.
struct TableSlot {
    uint32_t Number;
    KXOperator* Saved;
    TableSlot(uint32_t n, KXOperator* op) : Number(n), Saved(kxpAction[n]) { kxpAction[n] = op; }
    ~TableSlot() { kxpAction[Number] = Saved; }
};

std::vector<uint8_t> pixels(const KX_GfxBuffer* b) { return std::vector<uint8_t>(b->Data, b->Data + b->BufferSize); }
}  // namespace

class CommandsTest : public QObject {
    Q_OBJECT
private slots:
    void saveAsNamesAndWithoutPicture();
    void windowRepaintsWhileTheWorkerRuns();
    void failedOpenKeepsThePicture();
    void decodedPictureNamesItsFormat();
    void colourButtonsNeedAPicture();
    void settingsDialogAndLanguageChooser();
    void helpNamesWhatCouldNotBeOpened();
    void fixOrientation_data();
    void fixOrientation();
    void endianSwap();
    void stripHamEhb();
    void importAlpha();
    void exportAlpha();
    void neighbourButtonsSkipWhatDoesNotOpen();
    void thumbnailReduction();
};

// Save As: a name without an extension gets the writer's, one with an
// extension keeps it; without a picture the entry is disabled and no
// dialog opens.
void CommandsTest::saveAsNamesAndWithoutPicture() {
    if (!ReaderReady("kxoPNM") || !ReaderReady("kxoPNG")) QSKIP("needs the PNM reader and the PNG writer");
    Sandbox box({"SAVE_FORMAT=PNG"});
    ScriptedUi ui;
    Main w(box.options(&ui));
    QVERIFY(!w.Trigger("file.saveas"));
    QVERIFY(!w.toolStripSave->isEnabled());
    QVERIFY(ui.saveFilters.isEmpty());
    const QString pic = box.pictures() + "/p.ppm";
    QVERIFY(WritePPM(pic, TestPicture(8, 6)));
    QCOMPARE(w.LoadFile(pic), 0u);
    QCOMPARE(w.comboBoxFormat->currentText(), QStringLiteral("PNG"));
    ui.saveNames = {box.root() + "/plain", box.root() + "/named.bin"};
    QVERIFY(w.Trigger("file.saveas"));
    QVERIFY(w.Trigger("file.saveas"));
    QCOMPARE(QImage(box.root() + "/plain.png").size(), QSize(8, 6));
    QCOMPARE(QImage(box.root() + "/named.bin", "PNG").size(), QSize(8, 6));
    QVERIFY(!QFile::exists(box.root() + "/named.bin.png"));
    QCOMPARE(w.saveRememberFile, QStringLiteral("named.bin"));
    // SAVE_FORMAT names a writer by its table position, not its place in
    // the shorter list.
    w.comboBoxFormat->setCurrentText(QStringLiteral("PNM"));
    QCOMPARE(w.app.Settings.SaveFormat, int(KXWRITER_PNG) + 1);
}

// While the worker runs, the window goes on handling its events: timers
// fire, the progress bar moves, menus and tool bar go off once the task
// takes a moment; a close asked for meanwhile waits until it is done.
void CommandsTest::windowRepaintsWhileTheWorkerRuns() {
    if (!ReaderReady("kxoPNM")) QSKIP("needs the PNM reader");
    Sandbox box;
    const QString pic = box.pictures() + "/p.ppm";
    QVERIFY(WritePPM(pic, TestPicture(16, 8)));
    ScriptedUi ui;
    Main w(box.options(&ui));
    QCOMPARE(w.LoadFile(pic), 0u);
    StandIn slow;
    slow.WaitMs = 400;
    auto slot = std::make_unique<TableSlot>(60, &slow);
    int ticks = 0, barSeen = 0;
    bool menusOff = false, closedMeanwhile = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
        if (!slow.Runs) return;
        ++ticks;
        // Off once the task has taken a moment.
        menusOff = menusOff || (!w.menuStripMain->isEnabled() && !w.toolStripMain->isEnabled());
        barSeen = std::max(barSeen, w.progressBar1->value());
        if (ticks == 2) {
            w.close();
            closedMeanwhile = !w.isVisible();
        }
    });
    watch.start(20);
    // The changed picture's exit question: Discard.
    w.dialogScript = [](QDialog* d) {
        if (auto* box = qobject_cast<QMessageBox*>(d)) box->button(QMessageBox::Discard)->click();
        return 0;
    };
    QCOMPARE(w.app.DoOperation(nullptr, 60), 0u);
    watch.stop();
    QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
    QVERIFY(menusOff);
    QCOMPARE(barSeen, 40);
    QVERIFY(!closedMeanwhile);
    QVERIFY(w.menuStripMain->isEnabled());
    QCOMPARE(KX_GetGfxBuffer()->AlphaType, uint32_t(KXALPHA_CHANNEL8));
    // The close comes now that the task is over.
    slot.reset();
    QTRY_VERIFY(!w.isVisible());
}

// A file that cannot be opened leaves the shown picture, its changed mark
// and its thumbnail.
void CommandsTest::failedOpenKeepsThePicture() {
    if (!ReaderReady("kxoPNM") || !OperatorReady(4)) QSKIP("needs the PNM reader and Rotate (kxpRotate)");
    Sandbox box;
    const QString pic = box.pictures() + "/in.ppm", bad = box.pictures() + "/bad.ppm";
    QVERIFY(WritePPM(pic, TestPicture(30, 10)));
    QFile f(bad);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("P6\n30 10\n255\n\x01\x02\x03");
    f.close();
    ScriptedUi ui;
    ui.openNames = {pic, bad};
    Main w(box.options(&ui));
    QVERIFY(w.Trigger("file.open"));
    QVERIFY(w.Trigger("rot.90"));
    const QString info = w.labelFileInfo->text(), name = w.labelFileName->text();
    const QImage thumb = w.pictureBoxPreview->image();
    // The changes are let go, but the file does not open.
    w.dialogScript = [](QDialog* d) {
        if (auto* box = qobject_cast<QMessageBox*>(d)) box->button(QMessageBox::Discard)->click();
        return 0;
    };
    QVERIFY(w.Trigger("file.open"));
    QVERIFY(w.labelStatus->text().startsWith(w.Msg("TXT_ERROR_LOADING")));
    QCOMPARE(w.labelFileInfo->text(), info);
    QCOMPARE(w.labelFileName->text(), QStringLiteral("in.ppm*"));
    QCOMPARE(name, QStringLiteral("in.ppm*"));
    QCOMPARE(w.pictureBoxPreview->image(), thumb);
    QCOMPARE(KX_GetGfxBuffer()->Width, 10u);
    QVERIFY(w.app.Modified);
}

// A picture only the platform's decoder reads is named by the decoder's
// format, not by the stand-in reader's.
void CommandsTest::decodedPictureNamesItsFormat() {
    if (!QImageWriter::supportedImageFormats().contains("webp")) QSKIP("needs Qt's WebP plugin");
    if (ReaderReady("kxoWEBP")) QSKIP("the library reads WebP itself");
    Sandbox box;
    const QString pic = box.pictures() + "/p.webp";
    QVERIFY(TestPicture(12, 7).save(pic, "WEBP"));
    ScriptedUi ui;
    Main w(box.options(&ui));
    QCOMPARE(w.LoadFile(pic), 0u);
    QCOMPARE(w.labelFileInfo->text(), QStringLiteral("WEBP 12 x 7 x 24"));
    QCOMPARE(w.labelSubType->text(), QStringLiteral("Subtype: none"));
    QCOMPARE(w.labelFileName->text(), QStringLiteral("p.webp"));
}

// The profile buttons follow the picture's profile, and are off while
// there is no picture even when a reader still holds a record.
void CommandsTest::colourButtonsNeedAPicture() {
    if (!ReaderReady("kxoPNM")) QSKIP("needs the PNM reader");
    Sandbox box;
    const QString pic = box.pictures() + "/p.ppm";
    QVERIFY(WritePPM(pic, TestPicture(8, 8)));
    ScriptedUi ui;
    Main w(box.options(&ui));
    QVERIFY(!w.buttonCMApply->isEnabled() && !w.buttonCMStrip->isEnabled());
    QCOMPARE(w.LoadFile(pic), 0u);
    QCOMPARE(KX_CreateMetaData(), 0u);
    KXOSpecialInfo* meta = KX_GetMetaDataCheck(0);
    meta->IccData = static_cast<uint8_t*>(AllocVec(16, MEMF_CLEAR));
    meta->IccSize = 16;
    w.UpdateImageInfo(KX_GetGfxBuffer());
    QVERIFY(w.buttonCMApply->isEnabled() && w.buttonCMStrip->isEnabled());
    KX_GfxBuffer* image = kx_handle;
    kx_handle = nullptr;  // the reader and the record stay, the picture is gone
    w.UpdatePreview(true);
    QVERIFY(!w.buttonCMApply->isEnabled() && !w.buttonCMStrip->isEnabled() && !w.buttonCM->isEnabled());
    QVERIFY(w.buttonICCInfo->isHidden());
    kx_handle = image;
}

// The level boxes follow their switches; the language picker opens in the
// catalogs folder, where the languages are.
void CommandsTest::settingsDialogAndLanguageChooser() {
    Sandbox box;
    ScriptedUi ui;
    DialogOptions d(&ui);
    d.Prepare(box.progDir(), box.envDir(), box.progDir() + "/ENV/Kaxon5-Library/", false, 1, false, 3, false, 6);
    QVERIFY(!d.numericLogLevel->isEnabled());
    QVERIFY(!d.numericUnDoComp->isEnabled());
    d.checkBoxLogStart->setChecked(true);
    d.checkBoxCompressUnDo->setChecked(true);
    QVERIFY(d.numericLogLevel->isEnabled());
    QVERIFY(d.numericUnDoComp->isEnabled());
    d.checkBoxLogStart->setChecked(false);
    QVERIFY(!d.numericLogLevel->isEnabled());
    d.Prepare(box.progDir(), box.envDir(), box.progDir() + "/ENV/Kaxon5-Library/", false, 1, true, 3, true, 6);
    QVERIFY(d.numericLogLevel->isEnabled() && d.numericUnDoComp->isEnabled());
    d.buttonLanguage->click();
    QCOMPARE(ui.folderStarts.value(0), box.progDir() + "/Resources/Locale/Catalogs");
    QVERIFY(QDir(ui.folderStarts.value(0)).entryList(QDir::Dirs | QDir::NoDotAndDotDot).contains("english"));
}

// A document or page that cannot be opened is named in a box.
void CommandsTest::helpNamesWhatCouldNotBeOpened() {
    Sandbox box({"LOGFILE=YES"});
    ScriptedUi ui;
    ui.openWorks = false;
    Main w(box.options(&ui));
    const struct {
        const char* id;
        QString where;
    } rows[] = {
        {"help.manual", QString::fromLatin1(kxlinks::kOnlineManual)},
        {"help.local.usage", box.progDir() + "/Usage.txt"},
        {"help.viewlog", QFile::decodeName(w.app.Library->GetLog()->GetPath())},
    };
    for (const auto& r : rows) {
        ui.messages.clear();
        QVERIFY(w.Trigger(r.id));
        QCOMPARE(int(ui.messages.size()), 1);
        QCOMPARE(ui.messages[0].caption, w.Msg("TXT_KAXON5_ERROR"));
        QVERIFY2(ui.messages[0].text.contains(r.where), qPrintable(ui.messages[0].text));
    }
    ui.openWorks = true;
    ui.messages.clear();
    QVERIFY(w.Trigger("help.manual"));
    QVERIFY(ui.messages.empty());
}

void CommandsTest::fixOrientation_data() {
    QTest::addColumn<int>("orientation");
    for (int o = 1; o <= 8; ++o) QTest::newRow(qPrintable(QString::number(o))) << o;
}

// Each orientation turns the stored picture upright with one undo step
// (even with undo off) and sets the orientation to 1; 1 needs nothing.
void CommandsTest::fixOrientation() {
    if (!ReaderReady("kxoPNM") || !OperatorReady(4) || !OperatorReady(25) || !ReaderReady("kxoRGFX"))
        QSKIP("needs the PNM reader, Rotate, LeftToRight and RGFX undo files");
    QFETCH(int, orientation);
    Sandbox box({"UNDO=NO"});
    const int w0 = 3, h0 = 2;
    QImage src(w0, h0, QImage::Format_RGB888);
    for (int y = 0; y < h0; ++y)
        for (int x = 0; x < w0; ++x) src.setPixelColor(x, y, QColor(10 + y * w0 + x, 0, 0));
    const QString pic = box.pictures() + "/o.ppm";
    QVERIFY(WritePPM(pic, src));
    ScriptedUi ui;
    Main w(box.options(&ui));
    QCOMPARE(w.LoadFile(pic), 0u);
    const std::vector<uint8_t> stored = pixels(KX_GetGfxBuffer());
    // Without metadata it says so and changes nothing.
    QVERIFY(w.Trigger("rot.fixorientation"));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_AUTOROTATE_NO_METADATA"));
    QCOMPARE(KX_CreateMetaData(), 0u);
    KX_GetMetaDataCheck(0)->Orientation = uint32_t(orientation);
    QVERIFY(w.Trigger("rot.fixorientation"));
    const KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (orientation == 1) {
        QCOMPARE(w.labelStatus->text(), w.Msg("TXT_AUTOROTATE_NO_NEED"));
        QCOMPARE(pixels(img), stored);
        QCOMPARE(w.app.UndoCount, 0u);
        return;
    }
    const bool swapped = orientation >= 5;
    QCOMPARE(int(img->Width), swapped ? h0 : w0);
    for (int y = 0; y < h0; ++y)
        for (int x = 0; x < w0; ++x) {
            const QPoint p = UprightPos(orientation, x, y, w0, h0);
            QCOMPARE(int(img->Data[3 * (p.y() * int(img->Width) + p.x())]), 10 + y * w0 + x);
        }
    QCOMPARE(w.app.UndoCount, 1u);
    QCOMPARE(KX_GetMetaDataCheck(0)->Orientation, 1u);
    QVERIFY(w.app.Modified);
    // A second run finds nothing to do; the one step brings back the stored picture.
    QVERIFY(w.Trigger("rot.fixorientation"));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_AUTOROTATE_NO_NEED"));
    w.checkBoxUndo->setChecked(true);
    QVERIFY(w.Trigger("edit.undo"));
    QCOMPARE(pixels(KX_GetGfxBuffer()), stored);
    QCOMPARE(w.app.UndoCount, 0u);
}

// Every 16-bit sample and alpha value is byte-swapped in place, the byte
// order flags stay; twice gives the start back; other depths are refused.
void CommandsTest::endianSwap() {
    Sandbox box;
    ScriptedUi ui;
    Main w(box.options(&ui));
    // Without a picture the entry is off; the command itself refuses too.
    QVERIFY(!w.Trigger("repair.endianswap"));
    w.actions.value("repair.endianswap")->setEnabled(true);
    QVERIFY(w.Trigger("repair.endianswap"));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_ERROR") + " " + QString::fromUtf8(KXL_GetErrorString(KXERR_NOVIEWABLEDATA)));
    KX_GfxBuffer* b = MakeGfx(3, 2, 48);
    b->Flags = KXGFXF_MM;
    for (uint32_t i = 0; i < b->BufferSize; ++i) b->Data[i] = uint8_t(i * 7 + 1);
    b->AlphaType = KXALPHA_CHANNEL16;
    b->AlphaData = AllocVec(3 * 2 * 2, MEMF_ANY);
    for (int i = 0; i < 12; ++i) static_cast<uint8_t*>(b->AlphaData)[i] = uint8_t(200 + i);
    KX_SetGfxBuffer(b);
    w.enablePictureCommands(true);  // planted behind the window's back
    const std::vector<uint8_t> start = pixels(b);
    QVERIFY(w.Trigger("repair.endianswap"));
    for (uint32_t i = 0; i < b->BufferSize; ++i) QCOMPARE(b->Data[i], start[i ^ 1]);
    for (int i = 0; i < 12; ++i) QCOMPARE(int(static_cast<uint8_t*>(b->AlphaData)[i]), 200 + (i ^ 1));
    QCOMPARE(b->Flags, uint32_t(KXGFXF_MM));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_DONE"));
    QVERIFY(w.Trigger("repair.endianswap"));
    QCOMPARE(pixels(b), start);
    QCOMPARE(w.app.UndoCount, 0u);
    // The index bit wins over the map bit: AlphaData holds an index, not a map to swap.
    KX_GfxBuffer* keyed = MakeGfx(3, 2, 48);
    keyed->Flags = KXGFXF_MM;
    keyed->AlphaType = KXALPHA_SINGLECOLOR | KXALPHA_CHANNEL16;
    KXSUP_SetAlphaIndex(keyed, 5);
    KX_SetGfxBuffer(keyed);
    w.enablePictureCommands(true);  // planted behind the window's back
    QVERIFY(w.Trigger("repair.endianswap"));
    QCOMPARE(KXSUP_AlphaIndex(keyed), 5u);
    KX_GfxBuffer* t = MakeGfx(3, 2, 24);
    for (uint32_t i = 0; i < t->BufferSize; ++i) t->Data[i] = uint8_t(i);
    KX_SetGfxBuffer(t);
    w.enablePictureCommands(true);  // planted behind the window's back
    ui.messages.clear();
    QVERIFY(w.Trigger("repair.endianswap"));
    QCOMPARE(int(ui.messages.size()), 1);
    QCOMPARE(ui.messages[0].text, w.Msg("TXT_ERROR_NOT_HDR"));
    QCOMPARE(t->Data[1], uint8_t(1));
    KX_SetGfxBuffer(nullptr);
}

// Only the HAM and EHB bits of the display mode and the native flags go;
// no undo step, no change mark; without a picture nothing happens.
void CommandsTest::stripHamEhb() {
    Sandbox box;
    ScriptedUi ui;
    Main w(box.options(&ui));
    const QString before = w.labelStatus->text();
    // The entry is off without a picture; the command itself does nothing.
    QVERIFY(!w.Trigger("info.striphamehb"));
    w.actions.value("info.striphamehb")->setEnabled(true);
    QVERIFY(w.Trigger("info.striphamehb"));
    QCOMPARE(w.labelStatus->text(), before);
    const struct {
        uint32_t viewMode, dipf, viewAfter, dipfAfter;
    } rows[] = {
        {KXVIEWMODE_HAM | KXVIEWMODE_EHB | 0x4, KXDIPF_HAM | KXDIPF_EHB | 0x2, 0x4, 0x2},
        {KXVIEWMODE_HAM, KXDIPF_HAM, 0, 0},
        {0x8004, 0x20, 0x8004, 0x20},
    };
    for (const auto& r : rows) {
        KX_GfxBuffer* b = MakeGfx(4, 2, 6);
        b->ViewMode = r.viewMode;
        b->NativeDIPF = r.dipf;
        KX_SetGfxBuffer(b);
        w.enablePictureCommands(true);  // planted behind the window's back
        QVERIFY(w.Trigger("info.striphamehb"));
        QCOMPARE(b->ViewMode, r.viewAfter);
        QCOMPARE(b->NativeDIPF, r.dipfAfter);
        QCOMPARE(b->ColorDepth, 6u);
    }
    QCOMPARE(w.app.UndoCount, 0u);
    // Changed in place: closing asks before the change is lost.
    QVERIFY(w.app.Modified);
    KX_SetGfxBuffer(nullptr);
}

// The entry waits for AddAlpha; with an operator in its place it hands the
// chosen file as the alpha source, scaled; a cancelled choice says so.
void CommandsTest::importAlpha() {
    Sandbox box;
    const QString pic = box.pictures() + "/p.ppm", mask = box.pictures() + "/mask.pgm";
    QVERIFY(WritePPM(pic, TestPicture(6, 4)));
    QVERIFY(WritePPM(mask, TestPicture(3, 2)));
    ScriptedUi ui;
    Main w(box.options(&ui));
    // Off without a picture, whatever the operator.
    QVERIFY(!w.actions.value("file.import.alpha")->isEnabled());
    StandIn addAlpha;
    TableSlot slot(49, &addAlpha);
    w.actions.value("file.import.alpha")->setEnabled(true);
    QVERIFY(w.Trigger("file.import.alpha"));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_ERROR") + " " + QString::fromUtf8(KXL_GetErrorString(KXERR_NOVIEWABLEDATA)));
    if (!ReaderReady("kxoPNM")) QSKIP("needs the PNM reader");
    QCOMPARE(w.LoadFile(pic), 0u);
    QCOMPARE(w.actions.value("file.import.alpha")->isEnabled(), OperatorReady(49));
    w.actions.value("file.import.alpha")->setEnabled(true);
    QVERIFY(w.Trigger("file.import.alpha"));  // cancelled
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_ADDALPHA_NO_SOURCE"));
    QCOMPARE(addAlpha.Runs, 0);
    ui.openNames = {mask};
    QVERIFY(w.Trigger("file.import.alpha"));
    QCOMPARE(addAlpha.Runs, 1);
    QCOMPARE(addAlpha.Keys.value("ALPHA_MODE"), QStringLiteral("SOURCE"));
    QCOMPARE(addAlpha.Keys.value("SCALE_SOURCEGFX"), QStringLiteral("ON"));
    QCOMPARE(addAlpha.Keys.value("ALPHA_SOURCE"), mask);
    QCOMPARE(KX_GetGfxBuffer()->AlphaType, uint32_t(KXALPHA_CHANNEL8));
    QCOMPARE(w.labelFileFlags->text(), QStringLiteral("8 Bit Alpha"));
}

// The 8-bit alpha map is saved as a grey picture with the chosen writer; a
// picture with a transparent colour is first converted when the user
// agrees; one without alpha is refused.
void CommandsTest::exportAlpha() {
    if (!ReaderReady("kxoPNM") || !OperatorReady(0)) QSKIP("needs the PNM writer and AnyTo24Bit");
    Sandbox box({"SAVE_FORMAT=PNM"});
    ScriptedUi ui;
    Main w(box.options(&ui));
    QCOMPARE(w.comboBoxFormat->currentText(), QStringLiteral("PNM"));
    KX_GfxBuffer* b = MakeGfx(4, 3, 24);
    b->AlphaType = KXALPHA_CHANNEL8;
    b->AlphaData = AllocVec(12, MEMF_ANY);
    for (int i = 0; i < 12; ++i) static_cast<uint8_t*>(b->AlphaData)[i] = uint8_t(i * 20);
    KX_SetGfxBuffer(b);
    w.enablePictureCommands(true);  // planted behind the window's back
    ui.saveNames = {box.root() + "/alpha"};
    QVERIFY(w.Trigger("file.export.alpha"));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_DONE"));
    QImage grey(box.root() + "/alpha.pnm");
    QCOMPARE(grey.size(), QSize(4, 3));
    for (int i = 0; i < 12; ++i) QCOMPARE(qGray(grey.pixel(i % 4, i / 4)), i * 20);

    // A transparent palette colour: No leaves everything, Yes converts.
    KX_GfxBuffer* p = MakeGfx(4, 3, 8);
    for (int i = 0; i < 12; ++i) p->Data[i] = uint8_t(i % 3);
    for (int i = 0; i < 256 * 3; ++i) p->Palette[i] = uint8_t(i);
    p->AlphaType = KXALPHA_SINGLECOLOR;
    KXSUP_SetAlphaIndex(p, 2);
    KX_SetGfxBuffer(p);
    w.enablePictureCommands(true);  // planted behind the window's back
    ui.answers = {false};
    ui.saveNames = {box.root() + "/no"};
    QVERIFY(w.Trigger("file.export.alpha"));
    QCOMPARE(ui.asked, 1);
    QVERIFY(!QFile::exists(box.root() + "/no.pnm"));
    QCOMPARE(KX_GetGfxBuffer()->ColorDepth, 8u);
    ui.answers = {true};
    QVERIFY(w.Trigger("file.export.alpha"));
    QCOMPARE(KX_GetGfxBuffer()->ColorDepth, 24u);
    QImage keyed(box.root() + "/no.pnm");
    QCOMPARE(keyed.size(), QSize(4, 3));
    for (int i = 0; i < 12; ++i) QCOMPARE(qGray(keyed.pixel(i % 4, i / 4)) == 0, i % 3 == 2);

    // An index together with a map bit is an index: asked like the plain one.
    KX_GfxBuffer* both = MakeGfx(4, 3, 8);
    both->AlphaType = KXALPHA_SINGLECOLOR | KXALPHA_CHANNEL8;
    KXSUP_SetAlphaIndex(both, 2);
    KX_SetGfxBuffer(both);
    w.enablePictureCommands(true);  // planted behind the window's back
    ui.asked = 0;
    ui.answers = {false};
    ui.saveNames = {box.root() + "/both"};
    QVERIFY(w.Trigger("file.export.alpha"));
    QCOMPARE(ui.asked, 1);
    QVERIFY(!QFile::exists(box.root() + "/both.pnm"));

    // No alpha at all: the box, and nothing written.
    KX_SetGfxBuffer(MakeGfx(4, 3, 24));
    w.enablePictureCommands(true);  // planted behind the window's back
    ui.messages.clear();
    ui.saveNames = {box.root() + "/none"};
    QVERIFY(w.Trigger("file.export.alpha"));
    QCOMPARE(ui.messages.at(0).text, w.Msg("TXT_NO_ALPHA"));
    QVERIFY(!QFile::exists(box.root() + "/none.pnm"));
    KX_SetGfxBuffer(nullptr);
}

// The neighbour buttons step over files that do not open, in their
// direction, also from the first and last file.
void CommandsTest::neighbourButtonsSkipWhatDoesNotOpen() {
    if (!ReaderReady("kxoPNM")) QSKIP("needs the PNM reader");
    Sandbox box;
    const QString dir = box.pictures();
    for (const char* bad : {"0first.ppm", "b.ppm", "zlast.ppm"}) {
        QFile f(dir + "/" + bad);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not a picture");
    }
    QVERIFY(WritePPM(dir + "/a.ppm", TestPicture(4, 4)));
    QVERIFY(WritePPM(dir + "/c.ppm", TestPicture(6, 6)));
    ScriptedUi ui;
    ui.openNames = {dir + "/a.ppm"};
    Main w(box.options(&ui));
    QVERIFY(w.Trigger("file.open"));
    auto current = [&] { return QString::fromStdString(w.app.LastFile); };
    const struct {
        QPushButton* button;
        const char* expected;
    } steps[] = {
        {w.buttonForward, "c.ppm"},       // over b.ppm
        {w.buttonBackward, "a.ppm"},      // over b.ppm
        {w.buttonFullForward, "c.ppm"},   // zlast.ppm fails: back from the end
        {w.buttonFullBackward, "a.ppm"},  // 0first.ppm fails: forward from the start
    };
    for (const auto& s : steps) {
        QVERIFY(s.button->isVisible() && s.button->isEnabled());
        s.button->click();
        QCOMPARE(current(), QString::fromLatin1(s.expected));
        QCOMPARE(w.loadRememberFile, QString::fromLatin1(s.expected));
        QCOMPARE(w.labelFileName->text(), QString::fromLatin1(s.expected));
    }
}

// The thumbnail reduces a picture first only when both sides exceed three
// times the box; the reduction divides by the whole factor less one.
void CommandsTest::thumbnailReduction() {
    if (!ReaderReady("kxoPNM") || !OperatorReady(14)) QSKIP("needs the PNM reader and Resize (kxpResize)");
    Sandbox box;
    ScriptedUi ui;
    Main w(box.options(&ui));
    const struct {
        int width, height;
        QSize thumb;
    } rows[] = {{800, 700, {400, 350}}, {789, 672, {789, 672}}, {1600, 500, {1600, 500}}, {1400, 1200, {350, 300}}};
    for (const auto& r : rows) {
        const QString pic = box.pictures() + QStringLiteral("/%1x%2.ppm").arg(r.width).arg(r.height);
        QVERIFY(WritePPM(pic, TestPicture(r.width, r.height)));
        QCOMPARE(w.LoadFile(pic), 0u);
        QCOMPARE(w.pictureBoxPreview->image().size(), r.thumb);
        QCOMPARE(w.labelFileInfo->text(), QStringLiteral("PNM %1 x %2 x 24").arg(r.width).arg(r.height));
    }
}

KX_QTEST_MAIN(CommandsTest)
#include "tst_commands.moc"
