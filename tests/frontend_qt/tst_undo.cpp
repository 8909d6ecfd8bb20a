// Undo in the window: a JPEG whose EXIF (with GPS and an orientation)
// exiftool wrote, turned and undone, shows its whole record again in the
// metadata overview; the undo step and its restore run while the window
// waits for the worker.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QSpinBox>
#include <QStandardPaths>

#include "DialogMetaInfo.h"
#include "core/kxbridge.h"
#include "support/JpegFile.h"
#include "support/QtTestEnv.h"

class UndoTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void overviewAfterUndo();
};

namespace {

bool writeFixture(const QString& path) {
    KX_GfxBuffer* b = MakeGfx(40, 24, 24, ONEPLANE);
    if (!b) return false;
    for (uint32_t i = 0; i < 40u * 24u * 3u; ++i) b->Data[i] = uint8_t(i * 5);
    const bool ok = WriteJpeg(path, b);
    KXSUP_FreeGfxBuffer(b);
    if (!ok) return false;
    QProcess p;
    p.start(QStringLiteral("exiftool"), {"-q", "-m", "-overwrite_original", "-EXIF:Orientation#=6", "-GPSLatitude=48 8 54.37",
                                          "-GPSLatitudeRef=N", "-GPSLongitude=11 34 31.2", "-GPSLongitudeRef=W", path});
    return p.waitForFinished(60000) && p.exitCode() == 0;
}

struct Overview {
    bool seen = false, gps = false;
    int orientation = -1;
    QString more2, link;
};

}  // namespace

void UndoTest::initTestCase() {
    if (!ReaderReady("kxoJFIF") || !ReaderReady("kxoRGFX") || !OperatorReady(4))
        QSKIP("needs the JPEG module (kxoJFIF), RGFX undo files (kxoRGFX) and Rotate (kxpRotate)");
    if (QStandardPaths::findExecutable("exiftool").isEmpty()) QSKIP("needs exiftool");
}

// The GPS position and the orientation are there before the turn and
// again after one undo.
void UndoTest::overviewAfterUndo() {
    Sandbox box({"META_LOAD=YES", "UNDO=YES", "THREADED_PROGRESS=YES"});
    const QString pic = box.pictures() + "/gps.jpg";
    QVERIFY(writeFixture(pic));
    ScriptedUi ui;
    Main w(box.options(&ui));
    QCOMPARE(w.LoadFile(pic), 0u);

    auto overview = [&w] {
        Overview o;
        w.dialogScript = [&o](QDialog* d) {
            if (auto* m = qobject_cast<DialogShowEXIF*>(d)) {
                o.seen = true;
                o.gps = m->checkBoxGPS->isChecked();
                o.orientation = m->numericOrientation->value();
                o.more2 = m->textBoxMore2->text();
                o.link = m->gpsText(0);
            }
            return 0;
        };
        w.Trigger("meta.show");
        w.dialogScript = nullptr;
        return o;
    };
    const Overview before = overview();
    QVERIFY(before.seen);
    QVERIFY(before.gps);
    QCOMPARE(before.orientation, 6);

    QVERIFY(w.Trigger("rot.180"));
    QCOMPARE(w.app.UndoCount, 1u);
    QVERIFY(w.Trigger("edit.undo"));
    QCOMPARE(w.app.UndoCount, 0u);
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_DONE_UNDO"));

    const Overview after = overview();
    QVERIFY(after.seen);
    QVERIFY(after.gps);
    QCOMPARE(after.orientation, 6);
    QCOMPARE(after.more2, before.more2);
    QCOMPARE(after.link, QStringLiteral("mlat=48.1484361111111&mlon=-11.5753333333333&zoom=8"));
}

KX_QTEST_MAIN(UndoTest)
#include "tst_undo.moc"
