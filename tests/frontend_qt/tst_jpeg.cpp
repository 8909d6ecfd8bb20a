// A camera JPEG through the window: it opens through our reader (named
// JPEG in the information line), keeps its EXIF, and with Auto Rotate and
// metadata loading on a portrait shot (orientation 6) shows upright.
#include <QLabel>

#include "View.h"
#include "formats/libraries/kxoJFIF.h"
#include "support/QtTestEnv.h"

class JpegTest : public QObject {
    Q_OBJECT
private slots:
    void cameraJpegOpensUpright();
};

namespace {

// A little-endian EXIF block holding only Orientation = 6.
const uint8_t kExif[] = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0,  // header
                         1, 0, 0x12, 1, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0};

bool writeCameraJpeg(const QString& path, int w, int h) {
    KX_GfxBuffer* b = MakeGfx(w, h, 24, ONEPLANE);
    if (!b) return false;
    // Dark picture with a white 8 x 8 block at the top left, as the camera saw it.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) memset(b->Data + (y * w + x) * 3, x < 8 && y < 8 ? 255 : 20, 3);
    KXOSpecialInfo info = {};
    info.Version = 1;
    info.Exif = const_cast<uint8_t*>(kExif);
    info.ExifSize = sizeof(kExif);
    kxoJFIF writer(nullptr);
    const QByteArray name = QFile::encodeName(path);
    writer.SetSaveName(name.constData());
    writer.SetGfxBuffer(b);
    writer.SetSaveMeta(1);
    writer.SetSpecialInfo(&info);
    const uint32_t err = writer.Save();
    writer.Reset();
    KXSUP_FreeGfxBuffer(b);
    return err == 0;
}

}  // namespace

void JpegTest::cameraJpegOpensUpright() {
    if (!ReaderReady("kxoJFIF")) QSKIP("needs the JPEG reader (kxoJFIF)");
    Sandbox box({QStringLiteral("AUTOROTATE=YES"), QStringLiteral("META_LOAD=YES")});
    const QString in = box.pictures() + "/camera.jpg";
    QVERIFY(writeCameraJpeg(in, 40, 24));
    ScriptedUi ui;
    ui.openNames.push_back(in);
    Main w(box.options(&ui));
    QVERIFY(w.Trigger("file.open"));
    QCOMPARE(w.labelFileInfo->text(), QStringLiteral("JPEG 40 x 24 x 24"));
    KXOSpecialInfo* meta = KX_GetMetaData();
    QVERIFY(meta);
    QCOMPARE(meta->Orientation, 6u);
    QCOMPARE(meta->ExifSize, uint32_t(sizeof(kExif)));
    QImage shown;
    w.viewerScript = [&](View* v) {
        shown = v->image();
        return 0;
    };
    QVERIFY(w.Trigger("image.view"));
    // Turned a quarter clockwise: 24 x 40, the white block now top right.
    QCOMPARE(shown.size(), QSize(24, 40));
    const QPoint corner = UprightPos(6, 3, 3, 40, 24);
    QVERIFY(qGray(shown.pixel(corner)) > 200);
    QVERIFY(qGray(shown.pixel(3, 3)) < 60);
}

KX_QTEST_MAIN(JpegTest)
#include "tst_jpeg.moc"
