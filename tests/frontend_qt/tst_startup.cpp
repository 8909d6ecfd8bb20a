// Start-up with and without a picture, the menu tree and the window's keys
// against the tables of the commands, and the English catalog's keys.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QRegularExpression>
#include <QTimer>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSpinBox>
#include <QToolBar>

#include "ActionTable.h"
#include "CatalogHandler.h"
#include "View.h"
#include "support/QtTestEnv.h"

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void startsWithoutPicture();
    void startsWithPicture();
    void menuTree();
    void disabledEntriesAndNoMenuShortcuts();
    void keysRunCommands();
    void singleLettersWaitWhileTyping();
    void englishCatalogCarriesEveryKey();
    void catalogRules_data();
    void catalogRules();
};

void StartupTest::startsWithoutPicture() {
    Sandbox box({"AUTOCONV8=yes", "VIEW_MODE=normal", "LOGLEVEL=15", "DIASHOW_TIMER_SEC=0"});
    ScriptedUi ui;
    Main w(box.options(&ui));
    QVERIFY(w.StartOk());
    QCOMPARE(w.app.InstanceNumber, 0u);
    QCOMPARE(QString::fromStdString(w.app.AtomName), QStringLiteral("Kaxon5-0"));
    // Settings read from the user's pad, clamps applied.
    QVERIFY(!w.app.Settings.OnlineUpdate);
    QVERIFY(w.checkBoxAutoConv8->isChecked());
    QCOMPARE(w.comboBoxViewMode->currentIndex(), 0);
    QCOMPARE(w.app.Settings.LogLevel, 9);
    QCOMPARE(w.numericDiaTimer->value(), 1);
    QVERIFY(!w.checkBoxAutoView->isChecked());
    // The catalog is applied before the constructor returns.
    QVERIFY(w.catalogApplied);
    QCOMPARE(w.catalogRead, 0);
    QCOMPARE(w.Msg("TXT_NO_FILE_LOADED"), QStringLiteral("No file loaded."));
    QCOMPARE(w.labelFileName->text(), QStringLiteral("No file loaded."));
    QCOMPARE(w.toolStripButtonLanguage->text(), QStringLiteral("ENG"));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_READY"));
    QVERIFY(!w.Msg("TXT_READY").isEmpty());
    QVERIFY(ui.opened.empty());  // nothing is fetched or opened
    // The dialogs start in a folder that exists.
    QVERIFY(QDir(w.loadRememberPath).exists());
    QCOMPARE(w.diaRememberPath, w.loadRememberPath);
    // The save list holds every writer and starts at PNG.
    QCOMPARE(w.comboBoxFormat->currentText(), QStringLiteral("PNG"));
    w.grab().save(ArtefactDir() + "/main_window_empty.png");
}

void StartupTest::startsWithPicture() {
    if (!ReaderReady("kxoPNM")) QSKIP("needs the PNM reader (kxoPNM)");
    Sandbox box;
    const QString pic = box.pictures() + "/photo.ppm";
    QVERIFY(WritePPM(pic, TestPicture(320, 200)));
    ScriptedUi ui;
    int viewerShown = 0;
    MainOptions o = box.options(&ui, pic);
    o.arguments << box.pictures() + "/second-is-ignored.ppm";
    // The viewer opens on its own (AutoView with a file on the command
    // line); Q closes it. The window handles events while the file loads,
    // so the watch goes on until the viewer is there.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (auto* v = qobject_cast<View*>(QApplication::activeModalWidget())) {
            ++viewerShown;
            watch.stop();
            QTest::keyClick(v, Qt::Key_Q);
        }
    });
    watch.start(10);
    Main w(o);
    QVERIFY(w.StartOk());
    QVERIFY(w.checkBoxAutoView->isChecked());
    QVERIFY(KX_GetGfxBuffer() != nullptr);
    QCOMPARE(QString::fromStdString(w.app.LastFile), QStringLiteral("photo.ppm"));
    QCOMPARE(w.labelFileInfo->text(), QStringLiteral("PNM 320 x 200 x 24"));
    QCOMPARE(w.labelFileName->text(), QStringLiteral("photo.ppm"));
    QCOMPARE(w.labelFileFlags->text(), w.Msg("TXT_NO_SPECIAL_FLAGS"));
    QCOMPARE(viewerShown, 1);
    QVERIFY(w.isVisible());
    w.grab().save(ArtefactDir() + "/main_window.png");
}

// First level of every menu, in order, as the commands' tables give them.
void StartupTest::menuTree() {
    Sandbox box;
    ScriptedUi ui;
    Main w(box.options(&ui));
    QStringList titles;
    for (QAction* a : w.menuStripMain->actions()) titles << a->text();
    QCOMPARE(titles, (QStringList{"F&ile", "&Edit", "Image", "Scripting", "Options", "Help"}));
    auto items = [&](const char* id) {
        QStringList out;
        for (QAction* a : w.menus.value(id)->actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return out;
    };
    QCOMPARE(items("file"), (QStringList{"DiaShow...", "Open...", "Open from Clipboard", "Save As...", "Save to Clipboard",
                                         "Import...", "Export...", "Printer Setup...", "Print Preview", "Print",
                                         "Image Acquisition", "Exit"}));
    QCOMPARE(items("edit"), (QStringList{"Undo", "-", "Mark", "Cut", "Copy", "Paste", "-", "Crop", "-", "Cut Alpha",
                                         "Copy Alpha", "Paste Alpha"}));
    QCOMPARE(items("image"), (QStringList{"View", "Rotate/Flip/Mirror", "Size Changing", "Shaping", "Color Depth",
                                          "Color Palette", "Color Adjustment", "Color Manipulation", "Color Components",
                                          "Alpha Channel", "Image Processing...", "Image Effects...", "Repair",
                                          "Image Information", "Meta Information"}));
    QCOMPARE(items("scripting"), (QStringList{"Script Editor..."}));
    QCOMPARE(items("options"), (QStringList{"Program Settings...", "Image Filter Defaults...", "Loader/Saver Defaults..."}));
    QCOMPARE(items("help"), (QStringList{"Local Documentation", "Online Manual", "Check for Update", "Check for Add-Ons",
                                         "Online Support", "Visit Author Website", "About", "-", "Program/Instance Info",
                                         "View Log..."}));
    QCOMPARE(items("rot").last(), QStringLiteral("Fix Orientation (using Meta)"));
    QCOMPARE(items("palette").mid(0, 3), (QStringList{"Palette Editor...", "Palette Browser...", "Increase Palette Depth"}));
    QCOMPARE(items("proc").last(), QStringLiteral("Operator Full List..."));
    QCOMPARE(items("effects").last(), QStringLiteral("Operator Full List..."));
    QVERIFY(items("repair").indexOf("Endian Swap") == items("repair").indexOf("Flip Nibbles...") + 1);
    // Operator items carry their number and settings.
    const auto* r90 = kxactions::Find("rot.90");
    QCOMPARE(r90->op, 4);
    QCOMPARE(QString::fromLatin1(r90->settings), QStringLiteral("DEGREES=270"));
    QVERIFY(kxactions::Find("rot.270")->settings == nullptr);
    QCOMPARE(QString::fromLatin1(kxactions::Find("effects.mosaic.2")->settings), QStringLiteral("BLOCKS=32"));
    QCOMPARE(QString::fromLatin1(kxactions::Find("repair.nibbles.doublehigh")->settings), QStringLiteral("FLIPMODE=DOUBLE_HIGH"));
    QCOMPARE(QString::fromLatin1(kxactions::Find("effects.ghost.green")->settings), QStringLiteral("GHOSTMODE=GREEN;GHOSTFACTOR=8"));
}

void StartupTest::disabledEntriesAndNoMenuShortcuts() {
    Sandbox box;
    ScriptedUi ui;
    Main w(box.options(&ui));
    for (const char* off : {"edit.cutalpha", "edit.pastealpha", "scripting.editor", "file.import.meta.iff"})
        QVERIFY2(!w.actions.value(off)->isEnabled(), off);
    for (const char* on : {"file.open", "file.diashow", "edit.undo", "options.program"})
        QVERIFY2(w.actions.value(on)->isEnabled(), on);
    // What works on the picture waits for one.
    const char* const picture[] = {"file.saveas", "rot.90", "rot.free", "image.view"};
    for (const char* on : picture) QVERIFY2(!w.actions.value(on)->isEnabled(), on);
    if (ReaderReady("kxoPNM")) {
        const QString pic = box.pictures() + "/p.ppm";
        QVERIFY(WritePPM(pic, TestPicture(8, 6)));
        QCOMPARE(w.LoadFile(pic), 0u);
        for (const char* on : picture) QVERIFY2(w.actions.value(on)->isEnabled(), on);
    }
    for (QAction* a : w.actions) QVERIFY2(a->shortcut().isEmpty(), qPrintable(a->objectName()));
    // The window keys live in the one table.
    QStringList keyed;
    for (const auto& d : kxactions::Table())
        if (d.shortcut) keyed << QStringLiteral("%1=%2").arg(d.shortcut, d.id);
    keyed.sort();
    QCOMPARE(keyed, (QStringList{"+=size.double", "-=size.halve", "Ctrl+Z=edit.undo", "L=rot.270", "R=rot.90"}));
}

void StartupTest::keysRunCommands() {
    if (!ReaderReady("kxoPNM") || !OperatorReady(4) || !OperatorReady(9))
        QSKIP("needs the PNM reader, Rotate (kxpRotate) and Scale50 (kxpScale50)");
    Sandbox box;
    const QString pic = box.pictures() + "/wide.ppm";
    QVERIFY(WritePPM(pic, TestPicture(40, 20)));
    ScriptedUi ui;
    ui.openNames.push_back(pic);
    Main w(box.options(&ui));
    QVERIFY(w.Trigger("file.open"));
    QVERIFY(KX_GetGfxBuffer());
    auto size = [] { return QSize(int(KX_GetGfxBuffer()->Width), int(KX_GetGfxBuffer()->Height)); };
    QTest::keyClick(&w, Qt::Key_R);
    QVERIFY2(size() == QSize(20, 40), qPrintable(w.labelStatus->text()));
    QTest::keyClick(&w, Qt::Key_L);
    QCOMPARE(size(), QSize(40, 20));
    QTest::keyClick(&w, Qt::Key_Plus);
    QCOMPARE(size(), QSize(80, 40));
    QTest::keyClick(&w, Qt::Key_Minus);
    QCOMPARE(size(), QSize(40, 20));
    QTest::keyClick(&w, Qt::Key_R);
    QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(size(), QSize(40, 20));
    QVERIFY(w.labelFileInfo->text().startsWith(w.Msg("TXT_BUFFER")));
}

void StartupTest::singleLettersWaitWhileTyping() {
    if (!ReaderReady("kxoPNM") || !OperatorReady(4)) QSKIP("needs the PNM reader and Rotate (kxpRotate)");
    Sandbox box;
    const QString pic = box.pictures() + "/wide.ppm";
    QVERIFY(WritePPM(pic, TestPicture(40, 20)));
    ScriptedUi ui;
    ui.openNames.push_back(pic);
    Main w(box.options(&ui));
    QVERIFY(w.Trigger("file.open"));
    w.activateWindow();
    w.numericFixWidth->setFocus();
    QTest::keyClick(w.numericFixWidth, Qt::Key_R);
    QTest::keyClick(w.numericFixWidth, Qt::Key_Minus);
    QCOMPARE(KX_GetGfxBuffer()->Width, 40u);
    QVERIFY(!w.app.Modified);
}

// Every key the window's tables name is in the English catalog.
void StartupTest::englishCatalogCarriesEveryKey() {
    CatalogHandler cat(QStringLiteral(KX_SOURCE_DIR), CatalogHandler::CatalogPath("english"));
    QCOMPARE(cat.retval, 0);
    QStringList keys{"_catalog-iso-639-2"};
    for (const auto& d : kxactions::Table())
        if (d.key) keys << QString::fromLatin1(d.key);
    for (const char* k : {"BAR_LOAD", "BAR_FROMCLIP", "BAR_SAVEAS", "BAR_TOCLIP", "BAR_VIEW", "BAR_DIASHOW", "BAR_GRAB",
                          "LBL_VIEWDIA_OPT", "LBL_VIEWMODE", "LBL_SIZE", "LBL_DIATIMER", "LBL_BORDERLESS", "LBL_FULLSCREEN",
                          "LBL_OR", "LBL_LOOP", "LBL_LOADSAVE_OPT", "LBL_SAVEFORMAT", "LBL_METADATA", "LBL_METALOAD",
                          "LBL_METASAVE", "LBL_IMAGEPROCCONV_OPT", "LBL_AREAACTIVE", "LBL_UNDOACTIVE", "LBL_AUTO2448",
                          "LBL_AUTO8", "LBL_CM_CHECK", "LBL_CM", "LBL_CM_APPLY_STRIP", "LBL_CM_STRIP", "LBL_LOSSLESS",
                          "BTN_AUTOVIEW", "BTN_AUTOROTATE", "BTN_ALPHA", "BTN_SAVECONFIG", "BTN_CROP", "BTN_TRANSFORM",
                          "BTN_TOGGLE_AREA", "BTN_SELECT_AREA", "BTN_META"})
        keys << QString::fromLatin1(k);
    QCOMPARE(keys.filter(QRegularExpression("^MEN_")).size(), 6);
    QCOMPARE(keys.filter(QRegularExpression("^MN[1-6]_")).size(), 12 + 9 + 15 + 1 + 3 + 9);
    for (const QString& k : keys) QVERIFY2(cat.Contains(k), qPrintable(k));
    // The message texts: the window reads all 97, each present.
    Sandbox box;
    ScriptedUi ui;
    Main w(box.options(&ui));
    QFile f(QStringLiteral(KX_SOURCE_DIR "/Resources/Locale/Catalogs/english/KX5_Main.catalog"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    int txtKeys = 0;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (!line.startsWith("TXT_")) continue;
        ++txtKeys;
        const QString key = QString::fromLatin1(line.left(line.indexOf('=')));
        QVERIFY2(!w.Msg(key).isEmpty(), qPrintable(key));
    }
    QCOMPARE(txtKeys, 97);
}

void StartupTest::catalogRules_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    QTest::newRow("line feed at the end") << QStringList{"TXT_DONE=Done\\n"} << "TXT_DONE" << "Done\n";
    QTest::newRow("other escape stays") << QStringList{"K=a\\qb"} << "K" << "a\\qb";
    QTest::newRow("two backslashes and t") << QStringList{"K=a\\\\tb"} << "K" << "a\\\tb";
    QTest::newRow("first value counts") << QStringList{"MEN_FILE=One", "MEN_FILE=Two"} << "MEN_FILE" << "One";
    QTest::newRow("comment line") << QStringList{";MEN_FILE=Hidden", "X=1"} << "MEN_FILE" << QString();
    QTest::newRow("key without value") << QStringList{"EMPTY", "X=1"} << "EMPTY" << "";
    QTest::newRow("tab and return") << QStringList{"K=a\\tb\\rc"} << "K" << "a\tb\rc";
}

void StartupTest::catalogRules() {
    QFETCH(QStringList, lines);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    Sandbox box;
    box.writeCatalog("probe", lines);
    CatalogHandler cat(box.progDir(), CatalogHandler::CatalogPath("probe"));
    QCOMPARE(cat.retval, 0);
    const QString got = cat.GetString(key);
    if (expected.isNull()) QVERIFY(got.isNull());
    else QCOMPARE(got, expected);
}

KX_QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
