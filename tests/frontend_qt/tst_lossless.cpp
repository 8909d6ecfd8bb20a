// The lossless JPEG commands through the window: "Transform" and "Crop"
// run jpegtran on the file the picture came from and open its result.
// Each result must be byte for byte what jpegtran makes of that file
// when the test runs it itself; a tool that fails loads nothing.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>

#include "DialogAreaSelect.h"
#include "DialogLossless.h"
#include "support/JpegFile.h"
#include "support/QtTestEnv.h"

class LosslessTest : public QObject {
    Q_OBJECT
private slots:
    void matchesJpegtran_data();
    void matchesJpegtran();
    void failingToolLoadsNothing_data();
    void failingToolLoadsNothing();
    void commandsAskFirst();
};

namespace {

bool writeJpeg(const QString& path, int w, int h) {
    KX_GfxBuffer* b = MakeGfx(w, h, 24, ONEPLANE);
    if (!b) return false;
    // Bands and a bright top-left block, so every turn gives other bytes.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = b->Data + (y * w + x) * 3;
            const bool corner = x < 8 && y < 8;
            p[0] = corner ? 255 : uint8_t(x * 5);
            p[1] = corner ? 255 : uint8_t(y * 7);
            p[2] = corner ? 255 : 60;
        }
    const bool ok = WriteJpeg(path, b);
    KXSUP_FreeGfxBuffer(b);
    return ok;
}

// A 48 x 32 JPEG opened in a window whose settings name tool.
struct Opened {
    Sandbox box;
    ScriptedUi ui;
    std::unique_ptr<Main> w;
    QString in;
    explicit Opened(const QString& tool)
        : box(tool.isEmpty() ? QStringList() : QStringList{QStringLiteral("JPEGTRAN_PATH=") + tool}) {
        in = box.pictures() + "/in.jpg";
        if (!writeJpeg(in, 48, 32)) return;
        w = std::make_unique<Main>(box.options(&ui));
        ui.openNames.push_back(in);
        w->Trigger("file.open");
    }
};

}  // namespace

void LosslessTest::matchesJpegtran_data() {
    QTest::addColumn<int>("kind");  // 0 rotate, 1 flip, 2 transpose, 3 crop
    QTest::addColumn<QString>("choice");
    QTest::addColumn<bool>("optimize");
    QTest::addColumn<bool>("progressive");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QSize>("size");
    QTest::newRow("rotate 90") << 0 << "90" << false << false << QStringList{"-rotate", "90"} << QSize(32, 48);
    QTest::newRow("rotate 180 optimised progressive")
        << 0 << "180" << true << true << QStringList{"-rotate", "180", "-optimize", "-progressive"} << QSize(48, 32);
    QTest::newRow("rotate 270") << 0 << "270" << false << false << QStringList{"-rotate", "270"} << QSize(32, 48);
    QTest::newRow("flip horizontal") << 1 << "horizontal" << false << false << QStringList{"-flip", "horizontal"}
                                     << QSize(48, 32);
    QTest::newRow("flip vertical") << 1 << "vertical" << false << false << QStringList{"-flip", "vertical"} << QSize(48, 32);
    QTest::newRow("transpose") << 2 << "transpose" << false << false << QStringList{"-transpose"} << QSize(32, 48);
    QTest::newRow("transverse") << 2 << "transverse" << false << false << QStringList{"-transverse"} << QSize(32, 48);
    QTest::newRow("crop") << 3 << "" << false << false << QStringList{"-crop", "24x16+16+16"} << QSize(24, 16);
}

void LosslessTest::matchesJpegtran() {
    QFETCH(int, kind);
    QFETCH(QString, choice);
    QFETCH(bool, optimize);
    QFETCH(bool, progressive);
    QFETCH(QStringList, args);
    QFETCH(QSize, size);
    if (!ReaderReady("kxoJFIF")) QSKIP("needs the JPEG reader (kxoJFIF)");
    const QString jpegtran = QStandardPaths::findExecutable(QStringLiteral("jpegtran"));
    if (jpegtran.isEmpty()) QSKIP("jpegtran (libjpeg-turbo-progs) is not installed");
    Opened o(QStringLiteral("jpegtran"));
    QVERIFY(o.w);
    Main& w = *o.w;
    QVERIFY(w.buttonTransform->isEnabled() && w.buttonCrop->isEnabled());

    const QString out = o.box.pictures() + "/out.jpg";
    // An older file of that name is replaced, never loaded as the result.
    QVERIFY(writeJpeg(out, 8, 8));
    o.ui.saveNames.push_back(out);
    if (kind == 3) {
        w.areaScript = [](DialogAreaSelect* d) {
            d->numericUpDownL->setValue(16);
            d->numericUpDownT->setValue(16);
            d->numericUpDownW->setValue(8);
            d->numericUpDownH->setValue(0);
            d->buttonOK->click();
            return 0;
        };
        w.dialogScript = [](QDialog* dlg) {
            auto* d = qobject_cast<DialogLLCrop*>(dlg);
            if (!d) return 1;
            d->buttonFile->click();
            d->buttonArea->click();
            d->buttonOK->click();
            return 0;
        };
        w.buttonCrop->click();
    } else {
        w.dialogScript = [&](QDialog* dlg) {
            auto* d = qobject_cast<DialogLLTransform*>(dlg);
            if (!d) return 1;
            QCheckBox* box[] = {d->checkBoxRotate, d->checkBoxFlip, d->checkBoxTranspose};
            QComboBox* combo[] = {d->comboBoxDeg, d->comboBoxFlip, d->comboBoxTranspose};
            box[kind]->setChecked(true);
            combo[kind]->setCurrentText(choice);
            d->checkBoxOptimize->setChecked(optimize);
            d->checkBoxProgressive->setChecked(progressive);
            d->buttonFile->click();
            d->buttonOK->click();
            return 0;
        };
        w.buttonTransform->click();
    }

    const QString expected = o.box.root() + "/expected.jpg";
    QProcess p;
    p.start(jpegtran, args + QStringList{"-outfile", expected, o.in});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    const QByteArray want = ReadBytes(expected);
    QVERIFY(!want.isEmpty());
    QCOMPARE(ReadBytes(out), want);

    KX_GfxBuffer* now = KX_GetGfxBuffer();
    QVERIFY(now);
    QCOMPARE(QSize(int(now->Width), int(now->Height)), size);
    QCOMPARE(w.labelFileName->text(), QStringLiteral("out.jpg"));
    // The next command starts from the file just made.
    QCOMPARE(w.shownFile, out);
    QCOMPARE(QDir(o.box.pictures()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

void LosslessTest::failingToolLoadsNothing_data() {
    QTest::addColumn<QString>("script");
    QTest::newRow("exit 1 after writing") << "printf broken > \"$out\"\nexit 1\n";
    QTest::newRow("exit 0 writing nothing") << "exit 0\n";
    QTest::newRow("not a program") << "";
}

void LosslessTest::failingToolLoadsNothing() {
    QFETCH(QString, script);
    if (!ReaderReady("kxoJFIF")) QSKIP("needs the JPEG reader (kxoJFIF)");
    QTemporaryDir tools;
    const QString fake = tools.path() + "/jpegtran";
    {
        QFile f(fake);
        QVERIFY(f.open(QIODevice::WriteOnly));
        // The output follows -outfile.
        f.write(("#!/bin/sh\nout=\nwhile [ $# -gt 0 ]; do [ \"$1\" = -outfile ] && out=$2; shift; done\n" + script).toUtf8());
        f.close();
        if (!script.isEmpty()) f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    Opened o(fake);
    QVERIFY(o.w);
    Main& w = *o.w;
    KX_GfxBuffer* before = KX_GetGfxBuffer();
    QVERIFY(before);
    const QString out = o.box.pictures() + "/out.jpg";
    QVERIFY(writeJpeg(out, 8, 8));
    const QByteArray older = ReadBytes(out);

    o.ui.saveNames.push_back(out);
    w.dialogScript = [](QDialog* dlg) {
        auto* d = qobject_cast<DialogLLTransform*>(dlg);
        if (!d) return 1;
        d->buttonFile->click();
        d->buttonOK->click();
        return 0;
    };
    w.buttonTransform->click();
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_ERROR") + " " + QString::fromUtf8(KXL_GetErrorString(32)));
    QCOMPARE(KX_GetGfxBuffer(), before);
    QCOMPARE(w.labelFileName->text(), QStringLiteral("in.jpg"));
    QCOMPARE(w.shownFile, o.in);
    QCOMPARE(ReadBytes(out), older);
    // Nothing half-made is left beside it.
    QCOMPARE(QDir(o.box.pictures()).entryList(QDir::Files | QDir::Hidden).size(), 2);

    QCOMPARE(w.TransLoadJPG(o.in, out, fake, true, "90", false, "", false, "", false, false, false), 32u);
    QCOMPARE(w.CropLoadJPG(o.in, out, fake, 8, 8, 16, 16), 32u);
    QCOMPARE(KX_GetGfxBuffer(), before);
}

// Without a configured tool the commands say so and do nothing; a crop
// area equal to the whole picture counts as none, and OK asks for one.
void LosslessTest::commandsAskFirst() {
    if (!ReaderReady("kxoJFIF")) QSKIP("needs the JPEG reader (kxoJFIF)");
    {
        Opened o{QString()};
        QVERIFY(o.w);
        const QString status = o.w->labelStatus->text();
        bool opened = false;
        o.w->dialogScript = [&](QDialog*) { return opened = true, 1; };
        o.w->buttonTransform->click();
        QVERIFY(!opened);
        QCOMPARE(o.ui.messages.back().text, o.w->Msg("TXT_ERROR_NO_CONFIG_JPEGTRAN"));
        QCOMPARE(o.w->labelStatus->text(), status);
    }
    Opened o(QStringLiteral("jpegtran"));
    QVERIFY(o.w);
    Main& w = *o.w;
    KX_GfxBuffer* before = KX_GetGfxBuffer();
    const QString out = o.box.pictures() + "/out.jpg";
    o.ui.saveNames.push_back(out);
    w.areaScript = [](DialogAreaSelect* d) {
        d->buttonOK->click();  // the whole picture
        return 0;
    };
    QString area;
    w.dialogScript = [&](QDialog* dlg) {
        auto* d = qobject_cast<DialogLLCrop*>(dlg);
        if (!d) return 1;
        d->buttonFile->click();
        d->buttonArea->click();
        area = d->labelArea->text();
        d->buttonOK->click();
        if (!d->_exit) return 0;
        d->buttonCancel->click();
        return 1;
    };
    w.buttonCrop->click();
    QCOMPARE(area, QStringLiteral("No crop area selected."));
    QCOMPARE(o.ui.messages.back().text, QStringLiteral("You have to select an area first!\nOr Cancel?"));
    QVERIFY(!QFile::exists(out));
    QCOMPARE(KX_GetGfxBuffer(), before);
}

KX_QTEST_MAIN(LosslessTest)
#include "tst_lossless.moc"
