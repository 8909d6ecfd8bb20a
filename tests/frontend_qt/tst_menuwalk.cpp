// Every menu entry and every offered save format through the window, on a
// true-colour and a palette picture: none that is enabled or offered answers
// "not supported", and the disabled entries are exactly those whose modules
// are still placeholders in the catalogue, and, before a picture loads,
// those that need one.
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>

#include "ActionTable.h"
#include "DialogAreaSelect.h"
#include "DialogFrame.h"
#include "DialogOptions.h"
#include "View.h"
#include "support/QtTestEnv.h"

namespace {
QString notSupported() { return QString::fromUtf8(KXL_GetErrorString(KXERR_NOTSUPPORTED)); }

// An 8-bit palette picture the BMP reader opens.
bool WritePaletteBmp(const QString& path, int w, int h) {
    QImage img(w, h, QImage::Format_Indexed8);
    QList<QRgb> table;
    for (int i = 0; i < 16; ++i) table << qRgb(i * 16, 255 - i * 16, (i * 40) & 255);
    img.setColorTable(table);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.setPixel(x, y, uint((x + y) % 16));
    return img.save(path, "BMP");
}

}  // namespace

class MenuWalkTest : public QObject {
    Q_OBJECT
private slots:
    void everyEnabledEntryAndOfferedWriterIsReal();
};

// No enabled entry and no offered writer answers "not supported", on a
// true-colour and on a palette picture; the entries that stay disabled are
// exactly those whose modules are placeholders, and before the first
// picture also those that need one.
void MenuWalkTest::everyEnabledEntryAndOfferedWriterIsReal() {
    if (!ReaderReady("kxoPNM") || !ReaderReady("kxoBMP")) QSKIP("needs the PNM and BMP readers");
    Sandbox box({"UNDO=NO"});  // undo files would only slow the walk
    const QString ppm = box.pictures() + "/true.ppm", bmp = box.pictures() + "/palette.bmp";
    QVERIFY(WritePPM(ppm, TestPicture(20, 12)));
    QVERIFY(WritePaletteBmp(bmp, 20, 12));
    ScriptedUi ui;
    Main w(box.options(&ui));
    w.viewerScript = [](View*) { return int(View::Stop); };
    w.optionsScript = [](DialogOptions* d) {
        d->buttonCancel->click();
        return 0;
    };
    w.areaScript = [](DialogAreaSelect* d) {
        d->buttonCancel->click();
        return 0;
    };
    // The operator dialogs answer OK with what they start with; the others
    // close at once.
    w.dialogScript = [](QDialog* d) {
        if (auto* f = qobject_cast<DialogKXOFrame*>(d)) f->buttonOK->click();
        return 0;
    };
    // Without a picture only what needs none is live, and a disabled entry
    // cannot be triggered; once a picture loads, every entry whose modules
    // are built is. (Undo also follows "UnDo active", off here.)
    const QStringList withoutPicture = {"file.open", "file.diashow", "file.exit", "options.program", "help.about",
                                        "help.local.usage", "help.instance"};
    const QStringList needPicture = {"file.saveas", "rot.90", "proc.sharpen", "meta.show", "edit.mark", "file.print",
                                     "info.gfxbuffer", "proc.fulllist"};
    int enabledBefore = 0, enabled = 0, disabled = 0;
    for (const auto& d : kxactions::Table()) {
        if (d.kind != kxactions::Kind::Item) continue;
        QAction* a = w.actions.value(QString::fromLatin1(d.id));
        QVERIFY(a);
        const bool undo = QLatin1String(d.id) == QLatin1String("edit.undo");
        QCOMPARE(a->isEnabled(), kxactions::Ready(d) && !kxactions::NeedsPicture(d) && !undo);
        if (a->isEnabled()) ++enabledBefore;
        else QVERIFY(!w.Trigger(QString::fromLatin1(d.id)));
    }
    for (const QString& id : withoutPicture) QVERIFY2(w.actions.value(id)->isEnabled(), qPrintable(id));
    for (const QString& id : needPicture) {
        QVERIFY2(kxactions::NeedsPicture(*kxactions::Find(id)), qPrintable(id));
        QVERIFY2(!w.actions.value(id)->isEnabled(), qPrintable(id));
    }
    QVERIFY(!w.toolStripSave->isEnabled() && !w.toolStripView->isEnabled() && w.toolStripLoad->isEnabled());
    QVERIFY(ui.messages.empty());
    QCOMPARE(w.LoadFile(ppm), 0u);
    for (const auto& d : kxactions::Table()) {
        if (d.kind != kxactions::Kind::Item) continue;
        QAction* a = w.actions.value(QString::fromLatin1(d.id));
        QCOMPARE(a->isEnabled(), kxactions::Ready(d) && QLatin1String(d.id) != QLatin1String("edit.undo"));
        (a->isEnabled() ? enabled : disabled)++;
    }
    QVERIFY(w.toolStripSave->isEnabled() && w.toolStripView->isEnabled());
    QVERIFY(enabled > 50);
    QVERIFY(enabled > enabledBefore + 50);
    QVERIFY(disabled > 0);
    for (const QString& pic : {ppm, bmp}) {
        QCOMPARE(w.LoadFile(pic), 0u);
        for (const auto& d : kxactions::Table()) {
            const QString id = QString::fromLatin1(d.id);
            if (d.kind != kxactions::Kind::Item || id == "file.exit") continue;
            // Each entry meets the picture as loaded.
            if (w.app.Modified || !KX_GetGfxBuffer()) QCOMPARE(w.LoadFile(pic), 0u);
            if (!w.actions.value(id)->isEnabled()) continue;
            ui.messages.clear();
            ui.answers = {true, true};
            QVERIFY(w.Trigger(id));
            QVERIFY2(!w.labelStatus->text().contains(notSupported()), qPrintable(id + ": " + w.labelStatus->text()));
            for (const auto& m : ui.messages) QVERIFY2(!m.text.contains(notSupported()), qPrintable(id + ": " + m.text));
        }
    }
    // Each offered writer saves one of the two pictures; none is refused
    // as not supported. The name gets the writer's extension. A writer of
    // metadata blocks alone may answer that the pictures carry none.
    QVERIFY(w.comboBoxFormat->count() > 0);
    for (int i = 0; i < w.comboBoxFormat->count(); ++i) {
        w.comboBoxFormat->setCurrentIndex(i);
        const QString name = w.comboBoxFormat->currentText();
        int saved = 0, noInfo = 0;
        for (const QString& pic : {ppm, bmp}) {
            QCOMPARE(w.LoadFile(pic), 0u);
            const QString out = box.root() + QStringLiteral("/out%1%2").arg(i).arg(pic == ppm ? "t" : "p");
            ui.saveNames.push_back(out);
            QVERIFY(w.Trigger("file.saveas"));
            QVERIFY2(!w.labelStatus->text().contains(notSupported()), qPrintable(name + ": " + w.labelStatus->text()));
            if (w.labelStatus->text() == w.Msg("TXT_DONE")) {
                ++saved;
                QVERIFY2(QDir(box.root()).entryList({QFileInfo(out).fileName() + ".*"}).size() == 1, qPrintable(name));
            } else {
                const QString none = QString::fromUtf8(KXL_GetErrorString(KXERR_NOINFO));
                bool said = w.labelStatus->text().contains(none);
                for (const auto& m : ui.messages) said = said || m.text.contains(none);
                if (said) ++noInfo;
            }
            ui.messages.clear();
        }
        QVERIFY2(saved > 0 || (noInfo == 2 && name.startsWith(QLatin1String("RAWMeta"))), qPrintable(name));
    }
}

KX_QTEST_MAIN(MenuWalkTest)
#include "tst_menuwalk.moc"
