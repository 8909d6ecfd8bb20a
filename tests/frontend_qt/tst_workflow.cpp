// Through the menus with scripted pickers: open -> operate -> undo -> save;
// the information area for palette, HAM, alpha and profiled pictures; the
// slide show's order and stepping; the settings dialog and the language
// switch.
#include <QAction>
#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QToolBar>

#include "DialogOptions.h"
#include "FolderWalk.h"
#include "View.h"
#include "core/kxsettings.h"
#include "support/QtTestEnv.h"

class WorkflowTest : public QObject {
    Q_OBJECT
private slots:
    void openOperateUndoSave();
    void statusLightTellsHowACommandEnded();
    void informationArea_data();
    void informationArea();
    void increasePaletteDepthRefusesPlanes();
    void diaShowOrder();
    void diaShowStepping();
    void diaShowThroughWindow();
    void diaShowPicturesInVideoNamedFolder();
    void undoSwitchGovernsTheCommand();
    void profileButtonFollowsTheProfile();
    void settingsClamps();
    void languageSwitch();
};

void WorkflowTest::openOperateUndoSave() {
    if (!ReaderReady("kxoPNM") || !OperatorReady(4) || !ReaderReady("kxoRGFX"))
        QSKIP("needs the PNM reader and writer, Rotate (kxpRotate) and RGFX undo files (kxoRGFX)");
    Sandbox box;
    const QString in = box.pictures() + "/in.ppm", out = box.pictures() + "/out.ppm";
    QVERIFY(WritePPM(in, TestPicture(30, 10)));
    ScriptedUi ui;
    ui.openNames.push_back(in);
    ui.saveNames.push_back(out);
    Main w(box.options(&ui));
    QVERIFY(w.Trigger("file.open"));
    QCOMPARE(w.labelFileInfo->text(), QStringLiteral("PNM 30 x 10 x 24"));
    QVERIFY(w.Trigger("rot.90"));
    QCOMPARE(KX_GetGfxBuffer()->Width, 10u);
    QVERIFY(w.app.Modified);
    QCOMPARE(w.labelFileName->text(), QStringLiteral("in.ppm*"));
    QCOMPARE(w.labelFileInfo->text(), w.Msg("TXT_BUFFER") + " 10 x 30 x 24");
    QCOMPARE(w.labelSubType->text(), w.Msg("TXT_NO_SUBTYPE2"));
    QVERIFY(w.Trigger("edit.undo"));
    QCOMPARE(KX_GetGfxBuffer()->Width, 30u);
    QVERIFY(w.Trigger("rot.180"));
    w.comboBoxFormat->setCurrentText(QStringLiteral("PNM"));
    QVERIFY(w.Trigger("file.saveas"));
    QCOMPARE(ui.saveFilters.value(0), QStringLiteral("PNM (*.pnm *.ppm *.pgm *.PNM *.PPM *.PGM)"));
    QImage saved(out);
    QCOMPARE(saved.size(), QSize(30, 10));
    // Turned half way round: the marked corner is now bottom right.
    QCOMPARE(saved.pixelColor(29, 9), QColor(Qt::white));
    QVERIFY(!w.app.Modified);  // saved: nothing would be lost
    QCOMPARE(w.labelFileName->text(), QStringLiteral("out.ppm"));
    // Exit of a changed picture asks once; Cancel keeps the window.
    QVERIFY(w.Trigger("rot.180"));
    int asked = 0;
    w.dialogScript = [&asked](QDialog* d) {
        if (auto* box = qobject_cast<QMessageBox*>(d)) {
            ++asked;
            box->button(QMessageBox::Cancel)->click();
        }
        return 0;
    };
    QVERIFY(w.Trigger("file.exit"));
    QCOMPARE(asked, 1);
    QVERIFY(w.isVisible());
}

// The status light tells how a command ended: a failure leaves its message
// under the red light, a picture whose data ended early says so under the
// warning light, a success turns it green.
void WorkflowTest::statusLightTellsHowACommandEnded() {
    if (!ReaderReady("kxoPNM") || !ReaderReady("kxoJFIF") || !OperatorReady(4))
        QSKIP("needs the PNM and JPEG readers and Rotate (kxpRotate)");
    Sandbox box;
    ScriptedUi ui;
    Main w(box.options(&ui));
    auto light = [&w] { return KXStatusLight(w.buttonStatus->property("light").toInt()); };
    auto message = [](uint32_t code) { return QString::fromUtf8(KXL_GetErrorString(code)); };
    const QString good = box.pictures() + "/good.ppm", cut = box.pictures() + "/cut.jpg";
    QVERIFY(WritePPM(good, TestPicture(40, 30)));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    if (!TestPicture(400, 300).save(&buffer, "JPEG", 90)) QSKIP("needs Qt's JPEG writer");
    QVERIFY(WriteBytes(cut, jpeg.left(jpeg.size() * 2 / 3)));

    // Nothing to turn: the entry is off; the command itself refuses too.
    QVERIFY(!w.Trigger("rot.90"));
    w.actions.value("rot.90")->setEnabled(true);
    QVERIFY(w.Trigger("rot.90"));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_ERROR") + " " + message(KXERR_NOVIEWABLEDATA));
    QCOMPARE(light(), KXStatusLight::Failed);

    ui.openNames = {cut};
    QVERIFY(w.Trigger("file.open"));
    QVERIFY2(KX_GetGfxBuffer(), qPrintable(w.labelStatus->text()));
    QVERIFY(!w.Msg("TXT_LOADED_INCOMPLETE").isEmpty());
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_LOADED_INCOMPLETE") + ": " + message(KXERR_EOF));
    QCOMPARE(light(), KXStatusLight::Flawed);

    ui.saveNames = {box.root() + "/no/such/folder/out.ppm"};
    w.comboBoxFormat->setCurrentText(QStringLiteral("PNM"));
    QVERIFY(w.Trigger("file.saveas"));
    QVERIFY(w.labelStatus->text().startsWith(w.Msg("TXT_ERROR_SAVING") + ": "));
    QCOMPARE(light(), KXStatusLight::Failed);

    ui.openNames = {good};
    QVERIFY(w.Trigger("file.open"));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_DONE"));
    QCOMPARE(light(), KXStatusLight::Green);
}

void WorkflowTest::informationArea_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("flags");
    QTest::newRow("palette, transparent index 5") << 0 << "Transparent Color (5)";
    QTest::newRow("HAM6") << 1 << "HAM6";
    QTest::newRow("24 bit, 8-bit alpha") << 2 << "8 Bit Alpha";
    QTest::newRow("palette, alpha table") << 3 << "8 Bit AlphaMap";
    QTest::newRow("plain") << 4 << "";
}

void WorkflowTest::informationArea() {
    QFETCH(int, kind);
    QFETCH(QString, flags);
    Sandbox box;
    ScriptedUi ui;
    Main w(box.options(&ui));
    KX_GfxBuffer* b = nullptr;
    const uint32_t depth = kind == 2 || kind == 4 ? 24 : kind == 1 ? 6 : 8;
    QCOMPARE(KXSUP_AllocGfxBuffer(&b, 4, 4 * 4 * (depth == 24 ? 3 : 1), MEMF_CLEAR), 0u);
    b->Type = ONEPLANE;
    b->Width = b->Height = 4;
    b->ColorDepth = depth;
    b->PixelBits = depth == 24 ? 24 : 8;
    b->ViewMode = kind == 1 ? KXVIEWMODE_HAM : KXVIEWMODE_NONE;
    if (kind == 0) {
        b->AlphaType = KXALPHA_SINGLECOLOR;
        KXSUP_SetAlphaIndex(b, 5);
    } else if (kind == 2) {
        b->AlphaType = KXALPHA_CHANNEL8;
        b->AlphaData = AllocVec(16, MEMF_CLEAR);
    } else if (kind == 3) {
        b->AlphaType = KXALPHA_MULTICOLOR;
        b->AlphaData = AllocVec(256, MEMF_CLEAR);
    }
    KX_SetGfxBuffer(b);
    w.enablePictureCommands(true);  // planted behind the window's back
    w.app.IsVirtual = true;
    w.UpdateImageInfo(b);
    QCOMPARE(w.labelFileFlags->text(), flags.isEmpty() ? w.Msg("TXT_NO_SPECIAL_FLAGS") : flags);
    QCOMPARE(w.labelFileInfo->text().section(' ', 1), QStringLiteral("4 x 4 x %1").arg(depth));
    QCOMPARE(w.labelFileName->text(), w.Msg("TXT_NO_FILE_ATTACHED"));
    KX_SetGfxBuffer(nullptr);
}

void WorkflowTest::increasePaletteDepthRefusesPlanes() {
    Sandbox box;
    ScriptedUi ui;
    Main w(box.options(&ui));
    const struct {
        uint32_t type, depth, expectDepth;
        int messages;
    } rows[] = {{ONEPLANE, 1, 2, 0}, {BITPLANE, 1, 1, 0}, {ONEPLANE, 8, 8, 1}, {ONEPLANE, 24, 24, 1}};
    for (const auto& r : rows) {
        KX_GfxBuffer* b = nullptr;
        QCOMPARE(KXSUP_AllocGfxBuffer(&b, 4, 64, MEMF_CLEAR), 0u);
        b->Type = r.type;
        b->Width = b->Height = 4;
        b->ColorDepth = r.depth;
        b->ViewMode = KXVIEWMODE_NONE;
        b->BytesPerLine = r.type == BITPLANE ? 1 : 0;
        b->PixelBits = r.type == ONEPLANE ? (r.depth > 8 ? r.depth : 8) : 0;
        KX_SetGfxBuffer(b);
        w.enablePictureCommands(true);  // planted behind the window's back
        ui.messages.clear();
        QVERIFY(w.Trigger("palette.increase"));
        QCOMPARE(KX_GetGfxBuffer()->ColorDepth, r.expectDepth);
        QCOMPARE(int(ui.messages.size()), r.messages);
        // A raised depth shows in the information line at once.
        if (r.expectDepth != r.depth) QVERIFY(w.labelFileInfo->text().endsWith(QStringLiteral(" x %1").arg(r.expectDepth)));
    }
    KX_SetGfxBuffer(nullptr);
}

void WorkflowTest::diaShowOrder() {
    Sandbox box;
    for (const char* n : {"b.ppm", "A.ppm", ".hidden.ppm", "c.PPM", "a2.ppm"}) QFile(box.pictures() + "/" + n).open(QIODevice::WriteOnly);
    QDir().mkpath(box.pictures() + "/Folder");
    QStringList names;
    for (const QString& p : kxwalk::ListFolder(box.pictures(), false)) names << p.mid(p.lastIndexOf('/') + 1);
    QCOMPARE(names, (QStringList{"A.ppm", "a2.ppm", "b.ppm", "c.PPM"}));
    kxwalk::Neighbours n;
    n.Compute(box.pictures(), "a2.ppm");
    QVERIFY(n.previous.endsWith("/A.ppm"));
    QVERIFY(n.next.endsWith("/b.ppm"));
    QVERIFY(n.first.endsWith("/A.ppm"));
    QVERIFY(n.last.endsWith("/c.PPM"));
    QVERIFY(kxwalk::IsVideo("/x/clip.mp4"));
    QVERIFY(!kxwalk::IsVideo(".mp4"));
}

// Stepping over a folder of which "bad" cannot be opened; the script gives
// the viewer's answers in turn.
void WorkflowTest::diaShowStepping() {
    const QStringList files{"/f/one", "/f/bad", "/f/three", "/f/four"};
    struct Case {
        const char* name;
        QList<int> answers;
        bool loop;
        QStringList shown;
        QList<int> counts;
    } cases[] = {
        {"straight through", {0, 0, 0}, false, {"one", "three", "four"}, {1, 2, 3}},
        {"back to the previous", {0, 1, 0, 0, 0}, false, {"one", "three", "one", "three", "four"}, {1, 2, 1, 2, 3}},
        {"back on the first restarts", {1, 0, 0, 0}, false, {"one", "one", "three", "four"}, {1, 1, 2, 3}},
        {"first", {0, 2, -1}, false, {"one", "three", "one"}, {1, 2, 1}},
        {"stop", {0, -1}, false, {"one", "three"}, {1, 2}},
        {"loop", {0, 0, 0, 0, -1}, true, {"one", "three", "four", "one", "three"}, {1, 2, 3, 1, 2}},
    };
    for (const Case& c : cases) {
        QStringList shown;
        QList<int> counts;
        QList<int> answers = c.answers;
        kxwalk::RunDiaShow(
            files, c.loop, [](const QString& p) { return !p.endsWith("bad"); },
            [&](const QString& p, int, int count) {
                shown << p.mid(3);
                counts << count;
                return answers.isEmpty() ? -1 : answers.takeFirst();
            });
        QVERIFY2(shown == c.shown, c.name);
        QVERIFY2(counts == c.counts, c.name);
    }
    // A looping show over files that never open ends.
    int calls = 0;
    kxwalk::RunDiaShow(files, true, [&](const QString&) { ++calls; return false; }, [](const QString&, int, int) { return 0; });
    QCOMPARE(calls, 4);
}

void WorkflowTest::diaShowThroughWindow() {
    if (!ReaderReady("kxoPNM")) QSKIP("needs the PNM reader (kxoPNM)");
    Sandbox box;
    WritePPM(box.pictures() + "/1.ppm", TestPicture(8, 4));
    QFile(box.pictures() + "/2.txt").open(QIODevice::WriteOnly);
    WritePPM(box.pictures() + "/3.ppm", TestPicture(6, 6));
    ScriptedUi ui;
    ui.folders.push_back(box.pictures());
    Main w(box.options(&ui));
    QStringList statuses;
    w.viewerScript = [&](View* v) {
        statuses << w.labelStatus->text();
        return v->image().isNull() ? -1 : 0;
    };
    QVERIFY(w.Trigger("file.diashow"));
    const QString running = w.Msg("TXT_DIASHOW_RUNNING");
    QCOMPARE(statuses, (QStringList{running + " (1#1)", running + " (3#2)"}));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_DIASHOW_FINISHED"));
    QVERIFY(KX_GetGfxBuffer() == nullptr);
    QCOMPARE(w.labelFileName->text(), w.Msg("TXT_NO_FILE_LOADED"));
}

// Only a file that did not open is played as a video: pictures in a folder
// whose name holds a video extension are still pictures.
void WorkflowTest::diaShowPicturesInVideoNamedFolder() {
    if (!ReaderReady("kxoPNM")) QSKIP("needs the PNM reader (kxoPNM)");
    Sandbox box;
    const QString folder = box.pictures() + "/holiday.mov";
    QVERIFY(QDir().mkpath(folder));
    WritePPM(folder + "/1.ppm", TestPicture(8, 4));
    WritePPM(folder + "/2.ppm", TestPicture(6, 6));
    ScriptedUi ui;
    ui.folders.push_back(folder);
    Main w(box.options(&ui));
    QList<QSize> shown;
    w.viewerScript = [&](View* v) {
        shown << v->image().size();
        return 0;
    };
    QVERIFY(w.Trigger("file.diashow"));
    QCOMPARE(shown, (QList<QSize>{{8, 4}, {6, 6}}));
}

// "UnDo active" off disables the undo command, from the pad as from a
// click, and Ctrl+Z then does nothing; on enables both again.
void WorkflowTest::undoSwitchGovernsTheCommand() {
    if (!ReaderReady("kxoPNM") || !OperatorReady(4) || !ReaderReady("kxoRGFX"))
        QSKIP("needs the PNM reader, Rotate (kxpRotate) and RGFX undo files (kxoRGFX)");
    Sandbox box({"UNDO=no"});
    const QString pic = box.pictures() + "/wide.ppm";
    QVERIFY(WritePPM(pic, TestPicture(40, 20)));
    ScriptedUi ui;
    ui.openNames.push_back(pic);
    Main w(box.options(&ui));
    QVERIFY(!w.checkBoxUndo->isChecked());
    QVERIFY(!w.actions.value("edit.undo")->isEnabled());
    QVERIFY(w.Trigger("file.open"));
    QTest::keyClick(&w, Qt::Key_R);
    QCOMPARE(KX_GetGfxBuffer()->Width, 20u);
    QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(KX_GetGfxBuffer()->Width, 20u);
    w.checkBoxUndo->setChecked(true);
    QVERIFY(w.actions.value("edit.undo")->isEnabled());
    QTest::keyClick(&w, Qt::Key_L);
    QCOMPARE(KX_GetGfxBuffer()->Width, 40u);
    QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(KX_GetGfxBuffer()->Width, 20u);
    w.checkBoxUndo->setChecked(false);
    QVERIFY(!w.actions.value("edit.undo")->isEnabled());
}

// The colour-profile button shows while the image carries a profile and
// goes when the profile is stripped.
void WorkflowTest::profileButtonFollowsTheProfile() {
    if (!ReaderReady("kxoPNM")) QSKIP("needs the PNM reader (kxoPNM)");
    Sandbox box;
    const QString pic = box.pictures() + "/p.ppm";
    QVERIFY(WritePPM(pic, TestPicture(8, 8)));
    ScriptedUi ui;
    ui.openNames.push_back(pic);
    Main w(box.options(&ui));
    QVERIFY(w.Trigger("file.open"));
    // The bridge's own editable record, which it frees with the image.
    QCOMPARE(KX_CreateMetaData(), 0u);
    KXOSpecialInfo* meta = KX_GetMetaDataCheck(0);
    QVERIFY(meta);
    meta->IccData = static_cast<uint8_t*>(AllocVec(16, MEMF_CLEAR));
    meta->IccSize = 16;
    w.UpdateImageInfo(KX_GetGfxBuffer());
    QVERIFY(!w.buttonICCInfo->isHidden());
    QCOMPARE(w.labelFileFlags->text(), QStringLiteral("ICC"));
    QVERIFY(w.Trigger("meta.strip"));
    QVERIFY(w.buttonICCInfo->isHidden());
    QCOMPARE(w.labelFileFlags->text(), w.Msg("TXT_NO_SPECIAL_FLAGS"));
}

void WorkflowTest::settingsClamps() {
    const struct {
        const char* line;
        int KXProgramSettings::* field;
        int expected;
    } rows[] = {
        {"LOGLEVEL=0", &KXProgramSettings::LogLevel, 1},           {"LOGLEVEL=15", &KXProgramSettings::LogLevel, 9},
        {"LOGLEVEL=abc", &KXProgramSettings::LogLevel, 1},         {"UNDO_LIMIT=0", &KXProgramSettings::UndoMax, 1},
        {"UNDO_LIMIT=5000", &KXProgramSettings::UndoMax, 999},     {"UNDO_COMPRESS_FACTOR=12", &KXProgramSettings::UndoCompressLevel, 9},
        {"UNDO_COMPRESS_FACTOR=-3", &KXProgramSettings::UndoCompressLevel, 0},
        {"DIASHOW_TIMER_SEC=0", &KXProgramSettings::DiaTimerSec, 1},
    };
    for (const auto& r : rows) {
        Sandbox box({r.line});
        KXProgramSettings s;
        QByteArray env = QFile::encodeName(box.envDir()), arc = QFile::encodeName(box.progDir() + "/ENV/Kaxon5-Library/");
        QVERIFY(KXReadProgramSettings(env.constData(), arc.constData(), nullptr, &s));
        QVERIFY2(s.*r.field == r.expected, r.line);
    }
    // The dialog's fields keep their ranges: a stored level 0 shows as 1.
    Sandbox box;
    ScriptedUi ui;
    DialogOptions d(&ui);
    d.Prepare(box.progDir(), box.envDir(), box.progDir() + "/ENV/Kaxon5-Library/", true, 5000, true, 15, true, 0);
    QCOMPARE(d.numericUnDoLimit->value(), 999);
    QCOMPARE(d.numericLogLevel->value(), 9);
    QCOMPARE(d.numericUnDoComp->value(), 1);
    QVERIFY(d.numericUnDoLimit->isEnabled());
    d.checkBoxUnDo->setChecked(true);
    QVERIFY(!d.numericUnDoLimit->isEnabled());
}

void WorkflowTest::languageSwitch() {
    Sandbox box({"LANGUAGE=english"});
    box.writeCatalog("deutsch", {"_catalog-iso-639-2=deu", "MEN_FILE=&Datei", "BAR_LOAD=&Laden", "TXT_NO_FILE_LOADED=Keine Datei."});
    box.writeCatalog("plain", {"_catalog-iso-639-2=pln", "MEN_FILE=Plain"});
    ScriptedUi ui;
    Main w(box.options(&ui));
    auto chooseLanguage = [&](const QString& folder) {
        ui.folders.push_back(folder);
        w.optionsScript = [&](DialogOptions* d) {
            d->buttonLanguage->click();
            d->buttonOK->click();
            return int(d->result());
        };
        QVERIFY(w.Trigger("options.program"));
    };
    chooseLanguage(box.progDir() + "/Resources/Locale/Catalogs/deutsch");
    QCOMPARE(w.language, QStringLiteral("deutsch"));
    QCOMPARE(w.menuStripMain->actions().first()->text(), QStringLiteral("&Datei"));
    QCOMPARE(w.toolStripLoad->text(), QStringLiteral("&Laden"));
    QCOMPARE(w.toolStripButtonLanguage->text(), QStringLiteral("DEU"));
    QCOMPARE(w.labelFileName->text(), QStringLiteral("Keine Datei."));
    QFile pad(box.envDir() + "Kaxon5.controlpad");
    QVERIFY(pad.open(QIODevice::ReadOnly));
    QVERIFY(pad.readAll().contains("LANGUAGE=deutsch"));
    pad.close();
    // A catalog without BAR_LOAD keeps the previous language's text there.
    chooseLanguage(box.progDir() + "/Resources/Locale/Catalogs/plain");
    QCOMPARE(w.menuStripMain->actions().first()->text(), QStringLiteral("Plain"));
    QCOMPARE(w.toolStripLoad->text(), QStringLiteral("&Laden"));
    // A folder outside the catalogs is refused with the dialog's message.
    ui.messages.clear();
    chooseLanguage(box.root());
    QCOMPARE(w.language, QStringLiteral("plain"));
    QCOMPARE(ui.messages.at(0).text, QStringLiteral("Please select only language directories\nfrom within the Catalogs subfolder."));
    // LANGUAGE naming a missing folder starts in English.
    Sandbox other({"LANGUAGE=klingon"});
    ScriptedUi ui2;
    Main w2(other.options(&ui2));
    QCOMPARE(w2.language, QStringLiteral("english"));
    QCOMPARE(w2.toolStripButtonLanguage->text(), QStringLiteral("ENG"));
    QCOMPARE(w2.menuStripMain->actions().first()->text(), QStringLiteral("F&ile"));
}

KX_QTEST_MAIN(WorkflowTest)
#include "tst_workflow.moc"
