// A changed picture is not dropped without a question: every way another
// picture replaces it (open, the neighbour buttons, the slide show, open
// from the clipboard, the screen grab, a scan, the raw data wizard, camera
// RAW) and both ways out (Exit, the close box) ask Save / Discard / Cancel.
// Cancel keeps the picture, its changed mark, its undo steps and its area;
// Discard lets it go; Save saves it first, and a save that is cancelled or
// fails keeps it. A save that works clears the changed mark.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <functional>

#include "Clipboard.h"
#include "DialogAreaSelect.h"
#include "DialogRawImport.h"
#include "View.h"
#include "core/catalogue.h"
#include "support/QtTestEnv.h"

namespace {

enum class Answer { Cancel, Discard, Save, SaveCancelled, SaveFails };

// The window with m.ppm (30 x 10) open, turned to 10 x 30 and an area
// selected: a changed picture with something to lose. Its neighbour in the
// folder is n.ppm (12 x 8).
struct Window {
    Sandbox box;
    ScriptedUi ui;
    std::unique_ptr<Main> w;
    Answer answer = Answer::Cancel;
    int asked = 0;   // questions the window put
    int shows = 0;   // pictures the viewer was handed
    std::function<void(QDialog*)> roadDialog;  // the road's own dialog (an import)
    KX_GfxBuffer* changed = nullptr;
    KX_GfxBuffer* area = nullptr;
    uint32_t undoSteps = 0;

    Window() {
        const QString shown = box.pictures() + "/m.ppm";
        WritePPM(shown, TestPicture(30, 10));
        WritePPM(box.pictures() + "/n.ppm", TestPicture(12, 8));
        w = std::make_unique<Main>(box.options(&ui));
        w->viewerScript = [this](View*) { return ++shows, int(View::Stop); };
        w->dialogScript = [this](QDialog* d) {
            if (auto* box = qobject_cast<QMessageBox*>(d)) {
                ++asked;
                const QMessageBox::StandardButton b = answer == Answer::Cancel    ? QMessageBox::Cancel
                                                      : answer == Answer::Discard ? QMessageBox::Discard
                                                                                  : QMessageBox::Save;
                if (answer == Answer::Save) ui.saveNames.push_back(saved());
                if (answer == Answer::SaveFails) ui.saveNames.push_back(this->box.root() + "/missing/saved.png");
                box->button(b)->click();
            } else if (roadDialog) {
                roadDialog(d);
            }
            return 0;
        };
        if (w->LoadFile(shown) != 0 || !w->Trigger("rot.90")) return;
        changed = KX_GetGfxBuffer();
        w->areaScript = [](DialogAreaSelect* d) {
            d->numericUpDownL->setValue(2);
            d->buttonOK->click();
            return 0;
        };
        w->checkBoxArea->setChecked(true);
        area = w->app.AreaBuffer;
        undoSteps = w->app.UndoCount;
    }
    QString saved() const { return box.root() + "/saved.png"; }
    QSize size() const {
        const KX_GfxBuffer* b = KX_GetGfxBuffer();
        return b ? QSize(int(b->Width), int(b->Height)) : QSize();
    }
};

// A stand-in for scanimage: "-f" lists one scanner, a scan copies a picture
// to the output file.
QString fakeScanner(const QString& dir, const QString& picture) {
    const QString path = dir + "/fake-scanimage";
    WriteBytes(path, QStringLiteral("#!/bin/sh\nif [ \"$1\" = -f ]; then echo 'fake:0|Acme|Flat|flatbed scanner'; exit 0; fi\n"
                                    "cp '%1' \"$5\"\n")
                         .arg(picture)
                         .toUtf8());
    QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

// One way of replacing the picture (or of leaving): what it needs, how it
// is set up and run, and how to tell that it went ahead.
struct Road {
    const char* name;
    std::function<bool()> ready;
    std::function<void(Window&)> run;
    std::function<bool(Window&)> wentAhead;
};

const std::vector<Road>& roads() {
    static const std::vector<Road> table = {
        {"open", [] { return true; },
         [](Window& x) {
             x.ui.openNames.push_back(x.box.pictures() + "/n.ppm");
             x.w->Trigger("file.open");
         },
         [](Window& x) { return x.size() == QSize(12, 8); }},
        {"next file", [] { return true; },
         [](Window& x) { x.w->buttonForward->click(); },
         [](Window& x) { return x.size() == QSize(12, 8); }},
        {"slide show", [] { return true; },
         [](Window& x) {
             x.ui.folders.push_back(x.box.pictures());
             x.w->Trigger("file.diashow");
         },
         [](Window& x) { return x.shows == 1 && !KX_GetGfxBuffer(); }},
        {"open from clipboard", [] { return ReaderReady("kxoPNG"); },
         [](Window& x) {
             kxclip::PutImage(TestPicture(7, 5));
             x.w->Trigger("file.openclip");
         },
         [](Window& x) { return x.size() == QSize(7, 5); }},
        {"screen grab", [] { return ReaderReady("kxoPNG"); },
         [](Window& x) { x.w->toolStripButtonScreenshot->trigger(); },
         [](Window& x) { return x.size() == QGuiApplication::primaryScreen()->geometry().size(); }},
        {"scan", [] { return ReaderReady("kxoPNG"); },
         [](Window& x) {
             const QString shot = x.box.root() + "/shot.png";
             TestPicture(9, 4).save(shot, "PNG");
             x.w->scanProgram = fakeScanner(x.box.root(), shot);
             x.ui.choices = {0};
             x.w->Trigger("file.imageacq.scanner");
         },
         [](Window& x) { return x.size() == QSize(9, 4); }},
        {"raw data wizard", [] { return KX_IsBuilt("kxoRAW_Import"); },
         [](Window& x) {
             const QString dump = x.box.pictures() + "/dump.RAW";
             WriteBytes(dump, QByteArray(13 * 5, char(0x5a)));
             x.ui.openNames.push_back(dump);
             x.roadDialog = [](QDialog* d) {
                 auto* raw = qobject_cast<DialogKXORAWImport*>(d);
                 if (!raw) return;
                 raw->comboBoxFormat->setCurrentText("LUT8");
                 raw->numericWidth->setValue(13);
                 raw->numericHeight->setValue(5);
                 raw->buttonSelectFile->click();
                 raw->buttonOK->click();
             };
             x.w->Trigger("file.import.image.raw");
         },
         [](Window& x) { return x.size() == QSize(13, 5); }},
        {"camera RAW", [] { return KX_IsBuilt("kxoDCRAW"); },
         [](Window& x) {
             const QString converted = x.box.root() + "/converted.ppm", fake = x.box.root() + "/fakedcraw";
             WritePPM(converted, TestPicture(20, 6));
             WriteBytes(fake, QStringLiteral("#!/bin/sh\ncat '%1'\n").arg(converted).toUtf8());
             QFile(fake).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
             WriteBytes(x.box.envDir() + "DCRAW.controlpad", ("DCRAW_PATH=" + fake + "\n").toUtf8());
             WriteBytes(x.box.pictures() + "/shot.nef", "raw");
             x.ui.openNames.push_back(x.box.pictures() + "/shot.nef");
             x.roadDialog = [](QDialog* d) {
                 auto* dc = qobject_cast<DialogKXODCRAW*>(d);
                 if (!dc) return;
                 dc->buttonSelectFile->click();
                 dc->buttonOK->click();
             };
             x.w->Trigger("file.import.image.dcraw");
         },
         [](Window& x) { return x.size() == QSize(20, 6); }},
        {"exit", [] { return true; }, [](Window& x) { x.w->Trigger("file.exit"); },
         [](Window& x) { return !x.w->isVisible(); }},
        {"close box", [] { return true; }, [](Window& x) { x.w->close(); },
         [](Window& x) { return !x.w->isVisible(); }},
    };
    return table;
}

}  // namespace

class ReplaceTest : public QObject {
    Q_OBJECT
private slots:
    void changedPictureIsAskedFor_data();
    void changedPictureIsAskedFor();
    void savingClearsTheChangedMark();
};

void ReplaceTest::changedPictureIsAskedFor_data() {
    QTest::addColumn<int>("road");
    QTest::addColumn<int>("answer");
    const std::pair<Answer, const char*> answers[] = {{Answer::Cancel, "cancel"},
                                                      {Answer::Discard, "discard"},
                                                      {Answer::Save, "save"},
                                                      {Answer::SaveCancelled, "save dialog cancelled"},
                                                      {Answer::SaveFails, "save fails"}};
    for (size_t r = 0; r < roads().size(); ++r)
        for (const auto& [a, name] : answers)
            QTest::addRow("%s, %s", roads()[r].name, name) << int(r) << int(a);
}

void ReplaceTest::changedPictureIsAskedFor() {
    QFETCH(int, road);
    QFETCH(int, answer);
    const Road& r = roads()[size_t(road)];
    if (!ReaderReady("kxoPNM") || !ReaderReady("kxoPNG") || !OperatorReady(4) || !r.ready())
        QSKIP("needs the PNM and PNG modules, Rotate and the road's own modules");
    Window x;
    QVERIFY(x.changed && x.area);
    QVERIFY(x.w->app.Modified);
    x.answer = Answer(answer);
    const QString remembered[] = {x.w->loadRememberPath, x.w->loadRememberFile, x.w->diaRememberPath};

    r.run(x);
    QCOMPARE(x.asked, 1);
    const bool saved = x.answer == Answer::Save;
    if (saved || x.answer == Answer::Discard) {
        QVERIFY(r.wentAhead(x));
        // Save wrote the changed picture before it went.
        QCOMPARE(QFile::exists(x.saved()), saved);
        if (saved) QCOMPARE(QImage(x.saved()).size(), QSize(10, 30));
        return;
    }
    // Everything stays as it was.
    QVERIFY(!r.wentAhead(x));
    QVERIFY(x.w->isVisible());
    QCOMPARE(KX_GetGfxBuffer(), x.changed);
    QCOMPARE(x.size(), QSize(10, 30));
    QVERIFY(x.w->app.Modified);
    QCOMPARE(x.w->labelFileName->text(), QStringLiteral("m.ppm*"));
    QCOMPARE(x.w->app.UndoCount, x.undoSteps);
    QCOMPARE(x.w->app.AreaBuffer, x.area);
    QVERIFY(x.w->checkBoxArea->isChecked());
    QCOMPARE(x.shows, 0);
    QCOMPARE(x.w->loadRememberPath, remembered[0]);
    QCOMPARE(x.w->loadRememberFile, remembered[1]);
    QCOMPARE(x.w->diaRememberPath, remembered[2]);
    QVERIFY(!QFile::exists(x.saved()));
}

// A save that works clears the changed mark (the file line loses its star,
// leaving asks nothing); one that fails keeps it. The picture stays a
// changed buffer, not the file its reader read.
void ReplaceTest::savingClearsTheChangedMark() {
    if (!ReaderReady("kxoPNM") || !ReaderReady("kxoPNG") || !OperatorReady(4)) QSKIP("needs the PNM and PNG modules and Rotate");
    Window x;
    QVERIFY(x.changed);
    Main& w = *x.w;
    QCOMPARE(w.labelFileName->text(), QStringLiteral("m.ppm*"));
    x.ui.saveNames.push_back(x.box.root() + "/missing/out.png");
    QVERIFY(w.Trigger("file.saveas"));
    QVERIFY(w.labelStatus->text().startsWith(w.Msg("TXT_ERROR_SAVING")));
    QVERIFY(w.app.Modified);
    QCOMPARE(w.labelFileName->text(), QStringLiteral("m.ppm*"));
    QVERIFY(w.labelFileName->font().italic());

    x.ui.saveNames.push_back(x.saved());
    QVERIFY(w.Trigger("file.saveas"));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_DONE"));
    QVERIFY(!w.app.Modified);
    QCOMPARE(w.labelFileName->text(), QStringLiteral("saved.png"));
    QVERIFY(!w.labelFileName->font().italic());
    QVERIFY(w.labelFileInfo->text().startsWith(w.Msg("TXT_BUFFER") + " 10 x 30"));
    // Nothing unsaved: another picture, and then leaving, ask nothing.
    x.ui.openNames.push_back(x.box.pictures() + "/n.ppm");
    QVERIFY(w.Trigger("file.open"));
    QCOMPARE(x.size(), QSize(12, 8));
    QCOMPARE(w.labelFileInfo->text(), QStringLiteral("PNM 12 x 8 x 24"));
    QVERIFY(w.Trigger("file.exit"));
    QCOMPARE(x.asked, 0);
    QVERIFY(!w.isVisible());
}

KX_QTEST_MAIN(ReplaceTest)
#include "tst_replace.moc"
