// What ships beside the program and where files go: the help documents the
// build copies beside the program open from the Help menu, the About box
// shows the program's own version, the shipped settings keep the update
// check off, the file dialogs start where the picture is, and Save As
// offers a format's usual endings and appends the first.
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QLabel>

#include "About.h"
#include "AppVersion.h"
#include "support/QtTestEnv.h"

namespace {
const QString kProgramDir = QStringLiteral(KX_PROGRAM_DIR);

// Points HOME at a folder of the test while it lives; Qt finds the
// pictures folder below it.
class HomeFolder {
public:
    explicit HomeFolder(const QString& path) : oldHome(qgetenv("HOME")), oldConfig(qgetenv("XDG_CONFIG_HOME")) {
        QDir().mkpath(path);
        qputenv("HOME", QFile::encodeName(path));
        qunsetenv("XDG_CONFIG_HOME");
    }
    ~HomeFolder() {
        qputenv("HOME", oldHome);
        if (oldConfig.isEmpty()) qunsetenv("XDG_CONFIG_HOME");
        else qputenv("XDG_CONFIG_HOME", oldConfig);
    }

private:
    QByteArray oldHome, oldConfig;
};
}  // namespace

class HelpFilesTest : public QObject {
    Q_OBJECT
private slots:
    void localDocumentationOpensTheShippedFiles();
    void aboutShowsTheProgramsOwnVersion();
    void shippedSettingsKeepTheUpdateCheckOff();
    void fileDialogsStartWhereThePictureIs();
    void saveOffersTheUsualEndings_data();
    void saveOffersTheUsualEndings();
};

// Each entry of Help > Local Documentation opens its document of the
// program folder as a local file; the build put all five there.
void HelpFilesTest::localDocumentationOpensTheShippedFiles() {
    Sandbox box;
    const struct {
        const char* id;
        const char* file;
        const char* says;  // a line only that document has
    } rows[] = {
        {"help.local.usage", "Usage.txt", "Kaxon5 - Usage"},
        {"help.local.features", "Features.txt", "Kaxon5 - Features"},
        {"help.local.credits", "Credits.txt", "Kaxon5 - Credits"},
        {"help.local.history", "Changes.txt", "Kaxon5 - Changes"},
        {"help.local.legal", "Kaxon5.txt", "Permission is hereby granted"},
    };
    for (const auto& r : rows)
        QVERIFY2(QFile::copy(kProgramDir + "/" + r.file, box.progDir() + "/" + r.file), r.file);
    ScriptedUi ui;
    Main w(box.options(&ui));
    for (const auto& r : rows) {
        ui.opened.clear();
        QVERIFY2(w.Trigger(r.id), r.id);
        QCOMPARE(int(ui.opened.size()), 1);
        const QUrl url = ui.opened[0];
        QVERIFY2(url.isLocalFile(), qPrintable(url.toString()));
        QCOMPARE(QFileInfo(url.toLocalFile()).canonicalFilePath(),
                 QFileInfo(box.progDir() + "/" + r.file).canonicalFilePath());
        const QByteArray text = ReadBytes(url.toLocalFile());
        QVERIFY2(text.contains(r.says), r.file);
        QVERIFY2(!text.contains("example.invalid"), r.file);
    }
    QVERIFY(ui.messages.empty());
    // The Usage document names the places the program keeps its files.
    const QByteArray usage = ReadBytes(box.progDir() + "/Usage.txt");
    for (const char* place : {"Kaxon5/ENV/Kaxon5-Library/", "TMPDIR", "kxlib_", "X11 or Wayland"})
        QVERIFY2(usage.contains(place), place);
}

// Help > About names the program's version and release day from the one
// place that keeps them.
void HelpFilesTest::aboutShowsTheProgramsOwnVersion() {
    QVERIFY(QDate(kxversion::kReleaseYear, kxversion::kReleaseMonth, kxversion::kReleaseDay).isValid());
    Sandbox box;
    ScriptedUi ui;
    Main w(box.options(&ui));
    QString name, description, released;
    w.dialogScript = [&](QDialog* d) {
        if (auto* a = qobject_cast<About*>(d)) {
            name = a->labelName->text();
            description = a->labelDescription->text();
            released = a->labelA[5]->text();
        }
        return 0;
    };
    QVERIFY(w.Trigger("help.about"));
    QCOMPARE(name, QStringLiteral("Kaxon5 v") + QLatin1String(kxversion::kText));
    const QString day =
        QStringLiteral("%1.%2.%3").arg(kxversion::kReleaseDay).arg(kxversion::kReleaseMonth).arg(kxversion::kReleaseYear);
    QVERIFY2(description.contains(day), qPrintable(description));
    QCOMPARE(released, day);
}

// Without settings of the user's own, the pad shipped beside the program
// switches the start-up check off; the Help menu's command stays.
void HelpFilesTest::shippedSettingsKeepTheUpdateCheckOff() {
    Sandbox box;
    QVERIFY(QFile::remove(box.envDir() + "Kaxon5.controlpad"));
    const QString shipped = "/ENV/Kaxon5-Library/Kaxon5.controlpad";
    QVERIFY(QFile::exists(kProgramDir + shipped));
    QFile::remove(box.progDir() + shipped);
    QVERIFY(QFile::copy(kProgramDir + shipped, box.progDir() + shipped));
    ScriptedUi ui;
    Main w(box.options(&ui));
    QVERIFY(!w.app.Settings.OnlineUpdate);
    QVERIFY(w.actions.value("help.update")->isEnabled());
}

// Open, Save As and the slide show start in the current picture's folder;
// before any picture in the pictures folder, or the home folder without
// one.
void HelpFilesTest::fileDialogsStartWhereThePictureIs() {
    if (!ReaderReady("kxoPNM")) QSKIP("needs the PNM reader");
    Sandbox box;
    const QString home = box.root() + "/user";
    HomeFolder homeFolder(home);
    QVERIFY(QDir().mkpath(home + "/Pictures"));
    {
        ScriptedUi ui;
        Main w(box.options(&ui));
        QVERIFY(w.Trigger("file.open"));
        QVERIFY(w.Trigger("file.diashow"));
        QCOMPARE(ui.openStarts, QStringList{home + "/Pictures"});
        QCOMPARE(ui.folderStarts, QStringList{home + "/Pictures"});
        // Save As waits for a picture.
        QVERIFY(!w.Trigger("file.saveas"));

        const QString folder = box.pictures() + "/holiday";
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(WritePPM(folder + "/a.ppm", TestPicture(6, 4)));
        QCOMPARE(w.LoadFile(folder + "/a.ppm"), 0u);
        ui.openStarts.clear();
        ui.folderStarts.clear();
        QVERIFY(w.Trigger("file.open"));
        QVERIFY(w.Trigger("file.saveas"));
        QVERIFY(w.Trigger("file.diashow"));
        QCOMPARE(ui.openStarts, QStringList{folder});
        QCOMPARE(ui.saveStarts, QStringList{folder});
        QCOMPARE(ui.folderStarts, QStringList{folder});
    }
    QVERIFY(QDir(home + "/Pictures").removeRecursively());
    {
        ScriptedUi ui;
        Main w(box.options(&ui));
        QVERIFY(w.Trigger("file.open"));
        QCOMPARE(ui.openStarts, QStringList{home});
    }
}

void HelpFilesTest::saveOffersTheUsualEndings_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("written");
    QTest::newRow("JPEG") << "JPEG" << "kxoJFIF" << "JPEG (*.jpg *.jpeg *.jpe *.jfif *.JPG *.JPEG *.JPE *.JFIF)" << "a"
                          << "a.jpg";
    QTest::newRow("TIFF") << "TIFF" << "kxoTIFF" << "TIFF (*.tif *.tiff *.TIF *.TIFF)" << "b" << "b.tif";
    QTest::newRow("PNG") << "PNG" << "kxoPNG" << "PNG (*.png *.PNG)" << "c" << "c.png";
    QTest::newRow("a typed ending stays") << "JPEG" << "kxoJFIF" << "JPEG (*.jpg *.jpeg *.jpe *.jfif *.JPG *.JPEG *.JPE *.JFIF)"
                                          << "d.jpeg" << "d.jpeg";
}

// The filter lists every usual ending of the format; a name typed without
// one gets the first, a name with one keeps it. The file opens again.
void HelpFilesTest::saveOffersTheUsualEndings() {
    QFETCH(QString, format);
    QFETCH(QString, reader);
    QFETCH(QString, filter);
    QFETCH(QString, typed);
    QFETCH(QString, written);
    if (!ReaderReady("kxoPNM") || !ReaderReady(reader.toLatin1().constData()))
        QSKIP("needs the PNM reader and the format's module");
    Sandbox box;
    const QString in = box.pictures() + "/in.ppm";
    QVERIFY(WritePPM(in, TestPicture(8, 6)));
    ScriptedUi ui;
    Main w(box.options(&ui));
    QCOMPARE(w.LoadFile(in), 0u);
    w.comboBoxFormat->setCurrentText(format);
    QCOMPARE(w.comboBoxFormat->currentText(), format);
    ui.saveNames.push_back(box.pictures() + "/" + typed);
    QVERIFY(w.Trigger("file.saveas"));
    QCOMPARE(ui.saveFilters.value(0), filter);
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_DONE"));
    QCOMPARE(QDir(box.pictures()).entryList({typed + "*"}, QDir::Files), QStringList{written});
    QCOMPARE(w.LoadFile(box.pictures() + "/" + written), 0u);
    QCOMPARE(KX_GetGfxBuffer()->Width, 8u);
}

KX_QTEST_MAIN(HelpFilesTest)
#include "tst_helpfiles.moc"
