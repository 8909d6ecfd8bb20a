// Test support for the desktop program: a scripted UiServices, a sandbox of
// directories (program folder with the catalogs, user home, locks, temp)
// whose settings pad always says ONLINE_UPDATE=NO, and small picture files.
#pragma once

#include <QColor>
#include <QDir>
#include <QImage>
#include <QPoint>
#include <QPrinter>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <memory>

#include "Main.h"
#include "UiServices.h"

class ScriptedUi : public UiServices {
public:
    struct Shown {
        QString caption, text;
    };
    std::vector<Shown> messages;
    std::deque<bool> answers;         // for Ask; empty: No
    std::deque<QString> openNames;    // for OpenFileName; empty: cancel
    std::deque<QString> saveNames;    // for SaveFileName; empty: cancel
    std::deque<QString> folders;      // for FolderName; empty: cancel
    std::deque<QColor> colours;       // for PickColour; empty: cancel
    QStringList folderStarts;         // where each folder picker started
    QStringList openStarts, saveStarts;  // where each open and save dialog started
    std::vector<QUrl> opened;
    bool openWorks = true;            // OpenUrl's answer
    QStringList saveFilters;
    int asked = 0;
    // Printing: every printer prints into printFile as PDF (empty: a file
    // in the temporary folder), never on a real printer.
    QString printFile;
    std::deque<bool> printAnswers;    // for PrintDialog; empty: cancel
    int previews = 0;                 // preview pages are painted too
    std::deque<int> choices;          // for ChooseItem; empty: cancel
    QStringList offered;              // the items of the last ChooseItem

    void Message(QWidget*, const QString& caption, const QString& text, Icon) override { messages.push_back({caption, text}); }
    bool Ask(QWidget*, const QString& caption, const QString& text, Icon) override {
        ++asked;
        messages.push_back({caption, text});
        if (answers.empty()) return false;
        bool a = answers.front();
        answers.pop_front();
        return a;
    }
    QString OpenFileName(QWidget*, const QString& dir, const QString&, const QString&) override {
        openStarts << dir;
        return pop(openNames);
    }
    QString SaveFileName(QWidget*, const QString& dir, const QString&, const QString& filter) override {
        saveStarts << dir;
        saveFilters << filter;
        return pop(saveNames);
    }
    QString FolderName(QWidget*, const QString&, const QString& start) override {
        folderStarts << start;
        return pop(folders);
    }
    bool PickColour(QWidget*, QColor& colour) override {
        if (colours.empty()) return false;
        colour = colours.front();
        colours.pop_front();
        return true;
    }
    bool OpenUrl(const QUrl& url) override {
        opened.push_back(url);
        return openWorks;
    }
    void SetUpPrinter(QPrinter* printer) override {
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(printFile.isEmpty() ? QDir::tempPath() + "/scripted-print.pdf" : printFile);
    }
    bool PrintDialog(QWidget*, QPrinter* printer) override {
        SetUpPrinter(printer);
        if (printAnswers.empty()) return false;
        bool a = printAnswers.front();
        printAnswers.pop_front();
        return a;
    }
    void PrintPreview(QWidget*, QPrinter* printer, const std::function<void(QPrinter*)>& paint) override {
        ++previews;
        paint(printer);
    }
    int ChooseItem(QWidget*, const QString&, const QString&, const QStringList& items) override {
        offered = items;
        if (choices.empty()) return -1;
        int c = choices.front();
        choices.pop_front();
        return c;
    }

private:
    static QString pop(std::deque<QString>& q) {
        if (q.empty()) return QString();
        QString s = q.front();
        q.pop_front();
        return s;
    }
};

class Sandbox {
public:
    // extraSettings: more "KEY=VALUE" lines for the user's settings pad.
    explicit Sandbox(const QStringList& extraSettings = {});
    QString root() const { return dir.path(); }
    QString progDir() const { return dir.path() + "/prog"; }
    QString userHome() const { return dir.path() + "/home"; }
    QString lockDir() const { return dir.path() + "/locks"; }
    QString envDir() const { return userHome() + "/ENV/Kaxon5-Library/"; }
    QString pictures() const { return dir.path() + "/pictures"; }
    void writeSettings(const QStringList& lines) const;
    // A catalog folder under the program's catalogs.
    void writeCatalog(const QString& language, const QStringList& lines) const;
    MainOptions options(ScriptedUi* ui, const QString& file = QString()) const;

private:
    QTemporaryDir dir;
};

// Whole files: ReadBytes gives an empty array for a file that is not
// there; WriteBytes makes the folder first.
QByteArray ReadBytes(const QString& path);
bool WriteBytes(const QString& path, const QByteArray& bytes);

// Pictures the library's own readers open: binary PPM (P6) and BMP.
bool WritePPM(const QString& path, const QImage& image);
QImage TestPicture(int w, int h);  // colour bands with a marked corner
// Where screenshots of the tests go.
QString ArtefactDir();

// A cleared buffer record of the given depth (chunky or planar).
KX_GfxBuffer* MakeGfx(uint32_t w, uint32_t h, uint32_t depth, uint32_t type = ONEPLANE);
// The EXIF meaning of orientation o: where stored pixel (x, y) of a w x h
// picture lands when the picture is shown upright.
QPoint UprightPos(int o, int x, int y, int w, int h);

// The build's module catalogue: true when the class is a real module.
bool OperatorReady(uint32_t number);
bool ReaderReady(const char* className);

#include <QApplication>
#include <QTest>
#include <clocale>

// A QApplication as the program makes it (LC_NUMERIC back to "C"), with
// the library's temporary directory inside a private folder.
#define KX_QTEST_MAIN(TestClass)                                                  \
    int main(int argc, char** argv) {                                             \
        QTemporaryDir kxTemp;                                                     \
        qputenv("TMPDIR", kxTemp.path().toLocal8Bit());                           \
        qputenv("XDG_RUNTIME_DIR", kxTemp.path().toLocal8Bit());                  \
        /* No scanner search: SANE reads its (empty) settings from here. */      \
        qputenv("SANE_CONFIG_DIR", kxTemp.path().toLocal8Bit());                  \
        QApplication app(argc, argv);                                             \
        std::setlocale(LC_NUMERIC, "C");                                          \
        TestClass tc;                                                             \
        return QTest::qExec(&tc, argc, argv);                                     \
    }
