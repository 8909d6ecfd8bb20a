// Transparency on screen: pictures with an alpha channel, opened through
// the program, keep it in the viewer, the main window's thumbnail and the
// reduced thumbnail of a large picture, whatever their depth, format and
// the byte order of a 16-bit alpha map. The pictures are ImageMagick's.
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include "PictureBox.h"
#include "View.h"
#include "support/QtTestEnv.h"

namespace {

QString convertPath() { return QStandardPaths::findExecutable(QStringLiteral("convert")); }

// ImageMagick's convert: args, then the output (with its format prefix).
bool runConvert(const QStringList& args, const QString& prefix, const QString& file) {
    QDir().mkpath(QFileInfo(file).absolutePath());
    QProcess p;
    p.start(convertPath(), args + QStringList{prefix + file});
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 && QFileInfo(file).size() > 0;
}

// A strip of three pixels, red, green and blue, with these alphas (0 to 1).
QStringList strip(const QString& a0, const QString& a1, const QString& a2) {
    return {"-size", "1x1", "xc:rgba(255,0,0," + a0 + ")", "xc:rgba(0,255,0," + a1 + ")", "xc:rgba(0,0,255," + a2 + ")", "+append",
            "+repage"};
}

QList<int> alphasAt(const QImage& img, const QList<QPoint>& at) {
    QList<int> a;
    for (const QPoint& p : at) a << (img.isNull() || !img.rect().contains(p) ? -1 : qAlpha(img.pixel(p)));
    return a;
}

const QList<QPoint> kStripPixels{{0, 0}, {1, 0}, {2, 0}};

struct Buf {
    KX_GfxBuffer* b = nullptr;
    ~Buf() { KXSUP_FreeGfxBuffer(b); }
};

}  // namespace

class Alpha16Test : public QObject {
    Q_OBJECT
private slots:
    void openedPictures_data();
    void openedPictures();
    void bothByteOrders_data();
    void bothByteOrders();
    void reducedThumbnail();
};

void Alpha16Test::openedPictures_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QList<int>>("alphas");
    const QStringList quarter = strip("0.25", "1", "0");
    const QList<int> quarterAlphas{64, 255, 0};
    QTest::newRow("PNG 8-bit RGBA") << quarter + QStringList{"-depth", "8"} << "PNG32:" << "a.png" << "kxoPNG" << quarterAlphas;
    QTest::newRow("PNG 16-bit RGBA") << quarter + QStringList{"-depth", "16"} << "PNG64:" << "a.png" << "kxoPNG" << quarterAlphas;
    QTest::newRow("PNG 16-bit grey and alpha")
        << quarter + QStringList{"-colorspace", "Gray", "-type", "GrayscaleAlpha", "-depth", "16"} << "PNG:" << "a.png" << "kxoPNG"
        << quarterAlphas;
    // A palette keeps only fully transparent entries.
    QTest::newRow("PNG palette with a transparent colour")
        << strip("1", "1", "0") << "PNG8:" << "a.png" << "kxoPNG" << QList<int>{255, 255, 0};
    QTest::newRow("TIFF 16-bit RGBA, little-endian")
        << quarter + QStringList{"-depth", "16", "-compress", "none", "-endian", "LSB"} << "TIFF:" << "a.tif" << "kxoTIFF" << quarterAlphas;
    QTest::newRow("TIFF 16-bit RGBA, big-endian")
        << quarter + QStringList{"-depth", "16", "-compress", "none", "-endian", "MSB"} << "TIFF:" << "a.tif" << "kxoTIFF" << quarterAlphas;
    QTest::newRow("PAM 16-bit RGBA") << quarter + QStringList{"-depth", "16"} << "PAM:" << "a.pam" << "kxoPAM" << quarterAlphas;
    QTest::newRow("PSD 8-bit RGBA") << quarter + QStringList{"-depth", "8"} << "PSD:" << "a.psd" << "kxoPSD" << quarterAlphas;
}

// The viewer's bitmap and the thumbnail, with colour management on (the
// writer adds gamma and chromaticities or a profile) and off.
void Alpha16Test::openedPictures() {
    QFETCH(QStringList, args);
    QFETCH(QString, prefix);
    QFETCH(QString, name);
    QFETCH(QString, reader);
    QFETCH(QList<int>, alphas);
    if (convertPath().isEmpty()) QSKIP("needs ImageMagick's convert");
    if (!ReaderReady(reader.toLatin1().constData())) QSKIP("needs the reader of the format");
    Sandbox box;
    const QString file = box.pictures() + "/" + name;
    QVERIFY(runConvert(args, prefix, file));
    ScriptedUi ui;
    Main w(box.options(&ui));
    QImage viewed;
    w.viewerScript = [&](View* v) {
        viewed = v->image();
        return 0;
    };
    QVERIFY(w.checkBoxAlpha->isChecked());
    for (bool cms : {true, false}) {
        w.checkBoxAutoCM->setChecked(cms);
        QCOMPARE(w.LoadFile(file), 0u);
        QVERIFY(w.Trigger("image.view"));
        QCOMPARE(alphasAt(viewed, kStripPixels), alphas);
        QCOMPARE(alphasAt(w.pictureBoxPreview->image(), kStripPixels), alphas);
    }
}

void Alpha16Test::bothByteOrders_data() {
    QTest::addColumn<uint32_t>("order");
    QTest::addColumn<bool>("applycms");
    QTest::addColumn<bool>("force24");
    QTest::newRow("big-endian, profile") << uint32_t(KXENDIAN_BIG) << true << false;
    QTest::newRow("little-endian, profile") << uint32_t(KXENDIAN_LITTLE) << true << false;
    QTest::newRow("big-endian, 24-bit copy") << uint32_t(KXENDIAN_BIG) << false << true;
    QTest::newRow("little-endian, 24-bit copy") << uint32_t(KXENDIAN_LITTLE) << false << true;
}

// The 16-bit map in either byte order the buffer's flags tell, through the
// viewer's 24-bit copy: for a profile, and as the thumbnail asks for it
// while an area is active.
void Alpha16Test::bothByteOrders() {
    QFETCH(uint32_t, order);
    QFETCH(bool, applycms);
    QFETCH(bool, force24);
    if (convertPath().isEmpty()) QSKIP("needs ImageMagick's convert");
    if (!ReaderReady("kxoPNG")) QSKIP("needs the PNG reader (kxoPNG)");
    Sandbox box;
    const QString file = box.pictures() + "/a.png";
    QVERIFY(runConvert(strip("0.25", "1", "0") + QStringList{"-depth", "16"}, "PNG64:", file));
    ScriptedUi ui;
    Main w(box.options(&ui));
    QCOMPARE(w.LoadFile(file), 0u);
    const KXOSpecialInfo* meta = KX_GetMetaData();
    QVERIFY(meta && meta->IccData);  // from the file's gamma and chromaticities
    Buf copy;
    QCOMPARE(KXSUP_CopyGfxBuffer(KX_GetGfxBuffer(), &copy.b, 1, MEMF_ANY), 0u);
    QCOMPARE(copy.b->AlphaType, uint32_t(KXALPHA_CHANNEL16));
    QCOMPARE(KXSUP_ConvertGfxBufferEndianess(copy.b, order), 0u);
    QCOMPARE(KXSUP_GetGfxBufferFlags(copy.b) & (KXGFXF_MM | KXGFXF_II), order == KXENDIAN_BIG ? uint32_t(KXGFXF_MM) : uint32_t(KXGFXF_II));
    View v(w.app.Library, copy.b, meta, true, applycms, force24, &ui, nullptr);
    QCOMPARE(v.prepareError(), 0u);
    QCOMPARE(alphasAt(v.image(), kStripPixels), (QList<int>{64, 255, 0}));
    QCOMPARE(KXSUP_AlphaHolds(copy.b), uint32_t(KXALPHA_CHANNEL16));  // the caller's buffer as it was
}

// A picture more than three times the thumbnail box on both sides is
// reduced by the Resize operator first; the alpha comes with it.
void Alpha16Test::reducedThumbnail() {
    if (convertPath().isEmpty()) QSKIP("needs ImageMagick's convert");
    if (!ReaderReady("kxoPNG") || !OperatorReady(KXOP_RESIZE)) QSKIP("needs the PNG reader and Resize (kxpResize)");
    Sandbox box;
    const QString file = box.pictures() + "/big.png";
    QVERIFY(runConvert({"-size", "400x700", "xc:rgba(255,0,0,0.25)", "xc:rgba(0,255,0,1)", "+append", "+repage", "-depth", "16"},
                       "PNG64:", file));
    ScriptedUi ui;
    Main w(box.options(&ui));
    QCOMPARE(w.LoadFile(file), 0u);
    const QImage thumb = w.pictureBoxPreview->image();
    QCOMPARE(thumb.size(), QSize(400, 350));
    // The reduction narrows the map with rounding (16384 / 257).
    const QList<int> a = alphasAt(thumb, {{10, 10}, {190, 340}, {210, 10}, {390, 340}});
    QVERIFY2(qAbs(a[0] - 64) <= 1 && qAbs(a[1] - 64) <= 1 && a[2] == 255 && a[3] == 255, qPrintable(QDebug::toString(a)));
}

KX_QTEST_MAIN(Alpha16Test)
#include "tst_alpha16.moc"
