// The viewer: buffer to bitmap for every kind of buffer, zoom steps and
// turns with their limits, and the orientation table (a portrait photo
// must come out upright).
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTimer>
#include <QLabel>
#include <QScreen>

#include "OwnOperator.h"
#include "View.h"
#include "support/QtTestEnv.h"

namespace {
struct Buf {
    KX_GfxBuffer* b = nullptr;
    ~Buf() { KXSUP_FreeGfxBuffer(b); }
};

KX_GfxBuffer* make(uint32_t w, uint32_t h, uint32_t depth, uint32_t type = ONEPLANE) { return MakeGfx(w, h, depth, type); }

QPoint uprightPos(int o, int x, int y, int w, int h) { return UprightPos(o, x, y, w, h); }
}  // namespace

class ViewerTest : public QObject {
    Q_OBJECT
private slots:
    void bitmapKinds();
    void deepBuffersAgreeAcrossByteOrder();
    void preparedCopies();
    void zoomAndTurn();
    void zoomNeverBelowOnePixel();
    void windowFitsTheScreen();
    void fullScreenFitsTheWorkingArea();
    void keyVStepsThroughTheSizeModes();
    void orientationTable_data();
    void orientationTable();
    void viewerScreenshot();
};

void ViewerTest::bitmapKinds() {
    Buf pal;
    pal.b = make(3, 2, 4);
    pal.b->Palette[3 * 5 + 0] = 10;
    pal.b->Palette[3 * 5 + 1] = 20;
    pal.b->Palette[3 * 5 + 2] = 30;
    pal.b->Data[4] = 5;
    QImage img = View::SetImage(pal.b, true);
    QCOMPARE(img.format(), QImage::Format_Indexed8);
    QCOMPARE(img.pixel(1, 1), qRgb(10, 20, 30));

    Buf rgb;
    rgb.b = make(2, 1, 24);
    const uint8_t px[] = {1, 2, 3, 4, 5, 6};
    memcpy(rgb.b->Data, px, 6);
    img = View::SetImage(rgb.b, true);
    QCOMPARE(img.format(), QImage::Format_RGB888);
    QCOMPARE(img.pixel(1, 0), qRgb(4, 5, 6));

    // An 8-bit map gives transparency only while Alpha is on.
    rgb.b->Version = 4;
    rgb.b->AlphaType = KXALPHA_CHANNEL8;
    rgb.b->AlphaData = AllocVec(2, MEMF_CLEAR);
    KXSUP_AlphaBytes(rgb.b)[1] = 77;
    img = View::SetImage(rgb.b, true);
    QCOMPARE(img.format(), QImage::Format_RGBA8888);
    QCOMPARE(qAlpha(img.pixel(1, 0)), 77);
    QCOMPARE(View::SetImage(rgb.b, false).format(), QImage::Format_RGB888);
    // A buffer too small for its size shows nothing instead of reading past it.
    rgb.b->BufferSize = 5;
    QVERIFY(View::SetImage(rgb.b, false).isNull());
}

void ViewerTest::deepBuffersAgreeAcrossByteOrder() {
    Buf le, be;
    le.b = make(1, 1, 48);
    be.b = make(1, 1, 48);
    const uint16_t samples[3] = {0x1234, 0xABCD, 0x00FF};
    for (int i = 0; i < 3; ++i) {
        le.b->Data[2 * i] = uint8_t(samples[i] & 0xFF);
        le.b->Data[2 * i + 1] = uint8_t(samples[i] >> 8);
        be.b->Data[2 * i] = uint8_t(samples[i] >> 8);
        be.b->Data[2 * i + 1] = uint8_t(samples[i] & 0xFF);
    }
    KXSUP_SetGfxBufferEndianess(le.b, KXGFXF_II);
    KXSUP_SetGfxBufferEndianess(be.b, KXGFXF_MM);
    // A 16-bit map is shown by its high byte (0xFF00 would round to 254).
    for (Buf* d : {&le, &be}) {
        d->b->AlphaType = KXALPHA_CHANNEL16;
        d->b->AlphaData = AllocVec(2, MEMF_CLEAR);
    }
    KXSUP_AlphaBytes(le.b)[1] = 0xFF;
    KXSUP_AlphaBytes(be.b)[0] = 0xFF;
    QImage a = View::SetImage(le.b, true), b = View::SetImage(be.b, true);
    QCOMPARE(a.pixel(0, 0), qRgba(0x12, 0xAB, 0x00, 0xFF));
    QCOMPARE(b.pixel(0, 0), a.pixel(0, 0));
    QCOMPARE(View::SetImage(le.b, false).pixel(0, 0), qRgb(0x12, 0xAB, 0x00));
}

// HAM through a 24-bit copy, bit planes through a chunky copy, an alpha
// table through 32 bits only with Alpha on; the caller's buffer unchanged.
void ViewerTest::preparedCopies() {
    Buf planar;
    planar.b = make(8, 1, 4, BITPLANE);
    planar.b->Data[0] = 0x80;  // pixel 0 has index 1
    planar.b->Palette[3] = 200;
    View v1(nullptr, planar.b, nullptr, true, false, false, nullptr);
    QCOMPARE(v1.image().format(), QImage::Format_Indexed8);
    QCOMPARE(v1.image().pixel(0, 0), qRgb(200, 0, 0));
    QCOMPARE(planar.b->Type, uint32_t(BITPLANE));

    Buf ham;
    ham.b = make(2, 1, 6);
    ham.b->ViewMode = KXVIEWMODE_HAM;
    ham.b->Data[0] = 0x20 | 0x0F;  // modify red to 15
    View v2(nullptr, ham.b, nullptr, true, false, false, nullptr);
    QCOMPARE(v2.image().format(), QImage::Format_RGB888);
    QCOMPARE(qRed(v2.image().pixel(0, 0)), 255);

    Buf table;
    table.b = make(2, 1, 8);
    table.b->AlphaType = KXALPHA_MULTICOLOR;
    table.b->AlphaData = AllocVec(256, MEMF_CLEAR);
    KXSUP_AlphaBytes(table.b)[1] = 128;
    table.b->Data[1] = 1;
    View on(nullptr, table.b, nullptr, true, false, false, nullptr);
    QCOMPARE(on.image().format(), QImage::Format_RGBA8888);
    QCOMPARE(qAlpha(on.image().pixel(1, 0)), 128);
    View off(nullptr, table.b, nullptr, false, false, false, nullptr);
    QCOMPARE(off.image().format(), QImage::Format_Indexed8);
}

void ViewerTest::zoomAndTurn() {
    if (!OperatorReady(14) || !OperatorReady(4)) QSKIP("needs Resize (kxpResize) and Rotate (kxpRotate)");
    Buf src;
    src.b = make(40, 20, 24);
    View v(nullptr, src.b, nullptr, true, false, false, nullptr);
    const struct {
        char key;
        int step;
        QSize size;
    } steps[] = {{'+', 2, {80, 40}}, {'+', 3, {120, 60}}, {'-', 2, {80, 40}}, {'-', 0, {40, 20}}, {'-', -2, {20, 10}},
                 {'-', -3, {13, 6}}, {'+', -2, {20, 10}}, {'+', 0, {40, 20}}};
    for (const auto& s : steps) {
        s.key == '+' ? v.ZoomIn() : v.ZoomOut();
        QCOMPARE(v.zoomStep(), s.step);
        QCOMPARE(v.lastOperationError(), 0u);
        QCOMPARE(v.shownSize(), s.size);
    }
    // The main keyboard's "+" key unshifted ("=") zooms too.
    QTest::keyClick(&v, Qt::Key_Equal);
    QCOMPARE(v.zoomStep(), 2);
    QTest::keyClick(&v, Qt::Key_Minus);
    QCOMPARE(v.zoomStep(), 0);
    // Turn left, then enlarge: the enlarged picture is still turned.
    v.TurnLeft();
    QCOMPARE(v.rotation(), 90);
    QCOMPARE(v.shownSize(), QSize(20, 40));
    v.ZoomIn();
    QCOMPARE(v.shownSize(), QSize(40, 80));
    QCOMPARE(v.image().size(), QSize(40, 80));
    v.TurnRight();
    QCOMPARE(v.rotation(), 360);
    QCOMPARE(v.shownSize(), QSize(80, 40));
}

void ViewerTest::zoomNeverBelowOnePixel() {
    if (!OperatorReady(14)) QSKIP("needs Resize (kxpResize)");
    Buf thin;
    thin.b = make(64, 1, 24);
    View v(nullptr, thin.b, nullptr, true, false, false, nullptr);
    v.ZoomOut();  // half a pixel high: the step is not taken
    QCOMPARE(v.zoomStep(), 0);
    QCOMPARE(v.lastOperationError(), 0u);
    QCOMPARE(v.shownSize(), QSize(64, 1));
    Buf low;
    low.b = make(64, 6, 24);
    View w(nullptr, low.b, nullptr, true, false, false, nullptr);
    w.ZoomOut();
    QCOMPARE(w.shownSize(), QSize(32, 3));
    w.ZoomOut();  // 3 pixels high: no smaller step
    QCOMPARE(w.zoomStep(), -2);
    QCOMPARE(w.shownSize(), QSize(32, 3));
}

// A picture larger than the screen opens a window that fits the working
// area; a small one opens at its own size.
void ViewerTest::windowFitsTheScreen() {
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    Buf big, small;
    big.b = make(uint32_t(work.width()) * 2, uint32_t(work.height()) + 50, 8);
    small.b = make(50, 30, 8);
    View v(nullptr, big.b, nullptr, true, false, false, nullptr);
    v.ChangeSizeLimits(false, false, false, 0, 0);
    QVERIFY(v.width() <= work.width() && v.height() <= work.height());
    View s(nullptr, small.b, nullptr, true, false, false, nullptr);
    s.ChangeSizeLimits(false, false, false, 0, 0);
    QCOMPARE(s.size(), QSize(50, 30));
}

// Full screen is the working area less 5 pixels on each side, frame
// included (this platform draws none); borderless the working area itself.
void ViewerTest::fullScreenFitsTheWorkingArea() {
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    Buf pic;
    pic.b = make(uint32_t(work.width()) * 2, uint32_t(work.height()) * 2, 8);
    View v(nullptr, pic.b, nullptr, true, false, false, nullptr);
    v.ChangeSizeLimits(false, true, false, 0, 0);
    v.show();
    QVERIFY(QTest::qWaitForWindowExposed(&v));
    QTest::qWait(50);
    QCOMPARE(v.frameGeometry(), work.adjusted(5, 5, -5, -5));
    // The slide show's bar does not push it off the screen either.
    int code = 99;
    QTimer::singleShot(50, &v, [&] {
        QVERIFY(work.contains(v.frameGeometry()));
        QTest::keyClick(&v, Qt::Key_X);
    });
    v.ShowDialogDia(&code, QStringLiteral("/pics/a.ppm"), false, 0);
    QCOMPARE(code, int(View::Stop));
    View b(nullptr, pic.b, nullptr, true, false, false, nullptr);
    b.ChangeSizeLimits(false, true, true, 0, 0);
    QCOMPARE(b.geometry(), QRect(work.x() + 1, work.y() + 1, work.width(), work.height()));
}

// V walks normal, stretch, auto size, centre, zoom and back to normal; a
// slide show's timer starts anew with each key.
void ViewerTest::keyVStepsThroughTheSizeModes() {
    Buf pic;
    pic.b = make(40, 30, 24);
    View v(nullptr, pic.b, nullptr, true, false, false, nullptr);
    v.ChangeSizeMode(0);
    QList<int> modes;
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(&v, Qt::Key_V);
        modes << v.sizeMode();
    }
    QCOMPARE(modes, (QList<int>{1, 2, 3, 4, 0, 1}));
    v.ChangeSizeMode(4);
    QTest::keyClick(&v, Qt::Key_V);
    QCOMPARE(v.sizeMode(), 0);
    // In a slide show with a 1 s timer, V half way keeps the picture for
    // another full second.
    int code = 99;
    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(600, &v, [&] { QTest::keyClick(&v, Qt::Key_V); });
    v.ShowDialogDia(&code, QStringLiteral("/pics/a.ppm"), true, 1);
    QCOMPARE(code, int(View::Forward));
    QVERIFY2(clock.elapsed() >= 1500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(v.sizeMode(), 1);
}

void ViewerTest::orientationTable_data() {
    QTest::addColumn<int>("orientation");
    for (int o = 1; o <= 8; ++o) QTest::newRow(qPrintable(QString::number(o))) << o;
}

// Each stored pixel must land where the EXIF definition puts it.
void ViewerTest::orientationTable() {
    if (!OperatorReady(4) || !OperatorReady(25)) QSKIP("needs Rotate (kxpRotate) and LeftToRight (kxpLeftToRight)");
    QFETCH(int, orientation);
    const int w = 3, h = 2;
    Buf src;
    src.b = make(w, h, 24);
    for (int i = 0; i < w * h; ++i) src.b->Data[3 * i] = uint8_t(10 + i);
    KX_GfxBuffer* out = nullptr;
    QCOMPARE(kxown::Orient(nullptr, src.b, uint32_t(orientation), &out), 0u);
    Buf hold;
    hold.b = out;
    const KX_GfxBuffer* shown = out ? out : src.b;
    const bool swapped = orientation >= 5;
    QCOMPARE(int(shown->Width), swapped ? h : w);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            QPoint p = uprightPos(orientation, x, y, w, h);
            QCOMPARE(int(shown->Data[3 * (p.y() * int(shown->Width) + p.x())]), 10 + y * w + x);
        }
}

void ViewerTest::viewerScreenshot() {
    Buf pic;
    QImage t = TestPicture(320, 200);
    pic.b = make(320, 200, 24);
    for (int y = 0; y < 200; ++y) memcpy(pic.b->Data + y * 960, t.constScanLine(y), 960);
    View v(nullptr, pic.b, nullptr, true, false, false, nullptr);
    v.ChangeSizeMode(4);
    v.ChangeSizeLimits(false, false, false, 640, 480);
    v.show();
    QVERIFY(QTest::qWaitForWindowExposed(&v));
    QCOMPARE(v.size(), QSize(320, 200));
    v.grab().save(ArtefactDir() + "/viewer.png");
}

KX_QTEST_MAIN(ViewerTest)
#include "tst_viewer.moc"
