// The area selection: the dialog's margins and their ranges, a drag in the
// crop preview by scripted mouse events, and through the window: an area
// chosen with the mouse, an operator that changes the area only, Edit >
// Crop and Cut on it, a paste scaled into it; Cancel, confirming without a
// cut-out, and the whole picture all leave no area.
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>

#include "Clipboard.h"
#include "DialogAreaSelect.h"
#include "PictureBox.h"
#include "View.h"
#include "support/QtTestEnv.h"

namespace {
QImage shown(KX_GfxBuffer* b) { return View::SetImage(b, false).convertToFormat(QImage::Format_RGB32); }

void mouse(QWidget* w, QEvent::Type type, QPoint p) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, p, w->mapToGlobal(p), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// Drags in the crop preview from one point to another, as the mouse would.
void drag(DialogAreaSelect* d, QPoint from, QPoint to) {
    mouse(d->pictureBoxPreview, QEvent::MouseButtonPress, from);
    mouse(d->pictureBoxPreview, QEvent::MouseMove, (from + to) / 2);
    mouse(d->pictureBoxPreview, QEvent::MouseMove, to);
    mouse(d->pictureBoxPreview, QEvent::MouseButtonRelease, to);
}

struct FreeGfx {
    void operator()(KX_GfxBuffer* b) const { KXSUP_FreeGfxBuffer(b); }
};
using Gfx = std::unique_ptr<KX_GfxBuffer, FreeGfx>;

QPoint middle(DialogAreaSelect* d) { return QPoint(d->pictureBoxPreview->width() / 2, d->pictureBoxPreview->height() / 2); }

struct Margins {
    int l, t, r, b;
};
Margins margins(DialogAreaSelect* d) {
    return {d->numericUpDownL->value(), d->numericUpDownT->value(), d->numericUpDownW->value(), d->numericUpDownH->value()};
}
}  // namespace

class AreaTest : public QObject {
    Q_OBJECT
private slots:
    void marginsKeepOnePixel();
    void dragNarrowsTheArea();
    void areaOperatorCropAndCut();
    void pasteIntoTheArea();
    void noAreaLeftBehind();
    void shapingCommands();
};

// With W = 640 and a left margin of 600 the right margin goes up to 39
// only; the crop size then reads 1 x H. R resets all four.
void AreaTest::marginsKeepOnePixel() {
    if (!OperatorReady(21) || !OperatorReady(14)) QSKIP("needs Crop and Resize");
    Gfx img(MakeGfx(640, 20, 24));
    QVERIFY(img);
    KXClass lib;
    DialogAreaSelect d(&lib);
    d.Prepare(img.get());
    QCOMPARE(d.windowTitle(), QStringLiteral("Area Selection - Use Mouse / Use Buttons"));
    QCOMPARE(d.numericUpDownW->maximum(), 639);
    QCOMPARE(d.numericUpDownH->maximum(), 19);
    QCOMPARE(d.labelSize->text(), QStringLiteral("640 x 20"));
    QCOMPARE(d.labelAreaPos->text(), QStringLiteral("abs: 0, 0, 640, 20"));
    d.numericUpDownL->setValue(600);
    QCOMPARE(d.numericUpDownW->maximum(), 39);
    d.numericUpDownW->setValue(100);
    QCOMPARE(d.numericUpDownW->value(), 39);
    QCOMPARE(d.labelCropSize->text(), QStringLiteral("1 x 20"));
    QCOMPARE(d.labelArea->text(), QStringLiteral("600, 0, 601, 20"));
    QCOMPARE(d.pictureBoxPreview->image().size(), QSize(1, 20));
    d.buttonAll->click();
    QCOMPARE(d.labelCropSize->text(), QStringLiteral("640 x 20"));
    QCOMPARE(d.numericUpDownL->maximum(), 639);
}

// From the box's corner to its middle narrows a 100 x 100 area to about
// its upper-left quarter; a second drag starts inside the area shown, and
// its release far right of and below the box leaves margins of 1.
void AreaTest::dragNarrowsTheArea() {
    if (!OperatorReady(21) || !OperatorReady(14)) QSKIP("needs Crop and Resize");
    Gfx img(MakeGfx(100, 100, 24));
    KXClass lib;
    DialogAreaSelect d(&lib);
    d.Prepare(img.get());
    drag(&d, QPoint(0, 0), middle(&d));
    Margins m = margins(&d);
    QCOMPARE(m.l, 0);
    QCOMPARE(m.t, 0);
    QCOMPARE(m.r, 49);
    QCOMPARE(m.b, 49);
    QCOMPARE(d.labelCropSize->text(), QStringLiteral("51 x 51"));
    // The preview shows the 51 x 51 area: its middle is about (25, 25).
    drag(&d, middle(&d), QPoint(d.pictureBoxPreview->width() * 3, d.pictureBoxPreview->height() * 3));
    m = margins(&d);
    QCOMPARE(m.l, 25);
    QCOMPARE(m.t, 25);
    QCOMPARE(m.r, 1);
    QCOMPARE(m.b, 1);
    QCOMPARE(d.labelArea->text(), QStringLiteral("25, 25, 99, 99"));
    // OK hands over the rectangle and the cut-out.
    d.buttonOK->click();
    QVERIFY(!d._exit);
    QCOMPARE(d.numL, 25L);
    QCOMPARE(d.numW, 74L);
    Gfx cut(d.TakeResult());
    QVERIFY(cut);
    QCOMPARE(cut->Width, 74u);
    QCOMPARE(cut->Height, 74u);
}

// Through the window: an area chosen with the mouse, Negate on the area
// only (the rest of the picture unchanged), then Edit > Crop makes the
// picture the area and the clipboard holds it; Edit > Cut without an area
// asks for one first.
void AreaTest::areaOperatorCropAndCut() {
    if (!ReaderReady("kxoPNM") || !OperatorReady(21) || !OperatorReady(23) || !OperatorReady(41) || !OperatorReady(22))
        QSKIP("needs the PNM reader, Crop, Cut, Negate and Paste");
    Sandbox box({"UNDO=NO"});
    ScriptedUi ui;
    Main w(box.options(&ui));
    const QString file = box.pictures() + "/p.ppm";
    const QImage picture = TestPicture(100, 80);
    QVERIFY(WritePPM(file, picture));
    QCOMPARE(w.LoadFile(file), 0u);
    w.checkBoxAutoConv->setChecked(false);
    w.areaScript = [](DialogAreaSelect* d) {
        drag(d, QPoint(0, 0), middle(d));
        d->buttonOK->click();
        return 0;
    };
    w.checkBoxArea->setChecked(true);
    QVERIFY(w.checkBoxArea->isChecked());
    QVERIFY(w.checkBoxAutoConv->isChecked());  // the area road needs it
    QVERIFY(w.app.AreaBuffer);
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_AREA_SECTION") + " 0, 0, 51, 41");
    QVERIFY(w.buttonArea->isVisibleTo(&w) && w.buttonToggle->isVisibleTo(&w));
    // The red frame on the thumbnail, and off again with T.
    const QImage framed = w.pictureBoxPreview->image();
    QCOMPARE(framed.pixelColor(w.x0 + 1, w.y0 + 5), QColor(Qt::red));
    w.buttonToggle->click();
    QVERIFY(w.pictureBoxPreview->image().pixelColor(w.x0 + 1, w.y0 + 5) != QColor(Qt::red));

    QVERIFY(w.Trigger("manip.negative.negate"));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_OPERATION_SUCCESS"));
    const QImage after = shown(KX_GetGfxBuffer());
    QCOMPARE(after.size(), picture.size());
    for (QPoint p : {QPoint(0, 0), QPoint(50, 40), QPoint(20, 30)}) {
        const QColor was = picture.pixelColor(p);
        QCOMPARE(after.pixelColor(p), QColor(255 - was.red(), 255 - was.green(), 255 - was.blue()));
    }
    for (QPoint p : {QPoint(51, 0), QPoint(0, 41), QPoint(99, 79)}) QCOMPARE(after.pixelColor(p), picture.pixelColor(p));
    // The area holds the processed part for the next command.
    QCOMPARE(w.app.AreaBuffer->Width, 51u);

    QVERIFY(w.Trigger("edit.crop"));
    QVERIFY(!w.checkBoxArea->isChecked());
    QVERIFY(!w.app.AreaBuffer);
    KX_GfxBuffer* cropped = KX_GetGfxBuffer();
    QCOMPARE(QSize(int(cropped->Width), int(cropped->Height)), QSize(51, 41));
    QCOMPARE(shown(cropped), after.copy(0, 0, 51, 41));
    QCOMPARE(kxclip::Image().convertToFormat(QImage::Format_RGB32), after.copy(0, 0, 51, 41));

    // Cut without an area: the selection first (here 1 pixel narrower on
    // the right), then the area is erased.
    w.areaScript = [](DialogAreaSelect* d) {
        d->numericUpDownW->setValue(1);
        d->buttonOK->click();
        return 0;
    };
    QVERIFY(w.Trigger("edit.cut"));
    const QImage cut = shown(KX_GetGfxBuffer());
    QCOMPARE(cut.size(), QSize(51, 41));
    QVERIFY(cut.pixelColor(10, 10) != after.pixelColor(10, 10));
    QCOMPARE(cut.pixelColor(50, 10), after.pixelColor(50, 10));
}

// A 100 x 50 clipboard picture pasted into a 10 x 10 area is scaled to it
// and placed at the area's corner; the rest of the picture stays.
void AreaTest::pasteIntoTheArea() {
    if (!ReaderReady("kxoPNM") || !ReaderReady("kxoPNG") || !OperatorReady(0) || !OperatorReady(22) || !OperatorReady(21))
        QSKIP("needs the PNM and PNG readers, AnyTo24Bit, Crop and Paste");
    Sandbox box({"UNDO=NO"});
    ScriptedUi ui;
    Main w(box.options(&ui));
    const QString file = box.pictures() + "/p.ppm";
    const QImage picture = TestPicture(40, 30);
    QVERIFY(WritePPM(file, picture));
    QCOMPARE(w.LoadFile(file), 0u);
    w.areaScript = [](DialogAreaSelect* d) {
        d->numericUpDownL->setValue(12);
        d->numericUpDownT->setValue(7);
        d->numericUpDownW->setValue(18);
        d->numericUpDownH->setValue(13);
        d->buttonOK->click();
        return 0;
    };
    QVERIFY(w.Trigger("edit.mark"));
    QCOMPARE(w.app.AreaWidth, 10);
    QCOMPARE(w.app.AreaHeight, 10);
    QImage blue(100, 50, QImage::Format_RGB32);
    blue.fill(QColor(0, 0, 255));
    kxclip::PutImage(blue);
    QVERIFY(w.Trigger("edit.paste"));
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_DONE"));
    const QImage after = shown(KX_GetGfxBuffer());
    QCOMPARE(after.size(), picture.size());
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const bool inside = x >= 12 && x < 22 && y >= 7 && y < 17;
            QCOMPARE(after.pixelColor(x, y), inside ? QColor(0, 0, 255) : picture.pixelColor(x, y));
        }
    QVERIFY(!QFile::exists(QFile::decodeName(w.app.ClipFileName(0).c_str())));
}

// Cancel, OK whose cut-out could not be made, and OK on the whole picture
// leave no area and the box off; a thumbnail click frees the old area
// before the new selection opens; without a picture the box stays off.
void AreaTest::noAreaLeftBehind() {
    if (!ReaderReady("kxoPNM") || !OperatorReady(21)) QSKIP("needs the PNM reader and Crop");
    Sandbox box;
    ScriptedUi ui;
    Main w(box.options(&ui));
    w.areaScript = [](DialogAreaSelect*) { return 0; };
    w.checkBoxArea->setChecked(true);
    QVERIFY(!w.checkBoxArea->isChecked());
    QCOMPARE(w.labelStatus->text(), w.Msg("TXT_NO_FILE_LOADED"));
    const QString file = box.pictures() + "/p.ppm";
    QVERIFY(WritePPM(file, TestPicture(30, 20)));
    QCOMPARE(w.LoadFile(file), 0u);

    struct Case {
        const char* name;
        std::function<int(DialogAreaSelect*)> script;
        const char* status;
    };
    const Case cases[] = {
        {"cancel",
         [](DialogAreaSelect* d) {
             d->numericUpDownL->setValue(3);
             d->buttonCancel->click();
             return 0;
         },
         "TXT_AREA_SELECT_CANCEL"},
        {"OK without a cut-out",
         [](DialogAreaSelect* d) {
             d->numericUpDownL->setValue(3);
             const uint32_t limit = KXSUP_GetSizeLimit();
             KXSUP_SetSizeLimit(16);  // the final crop cannot allocate
             d->buttonOK->click();
             KXSUP_SetSizeLimit(limit);
             return 0;
         },
         "TXT_AREA_SELECT_CANCEL"},
        {"whole picture",
         [](DialogAreaSelect* d) {
             d->buttonOK->click();
             return 0;
         },
         "TXT_AREA_DESELECT"},
    };
    for (const Case& c : cases) {
        w.areaScript = c.script;
        QVERIFY(w.Trigger("edit.mark"));
        QVERIFY2(!w.checkBoxArea->isChecked(), c.name);
        QVERIFY2(!w.app.AreaBuffer, c.name);
        QCOMPARE(w.labelStatus->text(), w.Msg(c.status));
        QVERIFY(!w.buttonArea->isVisibleTo(&w));
    }
    // A click on the thumbnail while an area is selected: the old area is
    // gone when the new dialog opens.
    w.areaScript = [](DialogAreaSelect* d) {
        d->numericUpDownT->setValue(4);
        d->buttonOK->click();
        return 0;
    };
    w.checkBoxArea->setChecked(true);
    QVERIFY(w.app.AreaBuffer);
    bool oldAreaGone = false;
    w.areaScript = [&](DialogAreaSelect* d) {
        oldAreaGone = !w.app.AreaBuffer;
        d->buttonCancel->click();
        return 0;
    };
    QTest::mouseClick(w.pictureBoxPreview, Qt::LeftButton);
    QVERIFY(oldAreaGone);
    QVERIFY(!w.checkBoxArea->isChecked());
    // Cut without an area, its selection cancelled: the picture is untouched.
    KX_GfxBuffer* before = KX_GetGfxBuffer();
    QVERIFY(w.Trigger("edit.cut"));
    QCOMPARE(KX_GetGfxBuffer(), before);
    QVERIFY(!w.app.Modified);
}

// Crop (Select) makes the chosen area the picture (a changed one); Cut
// (Erase) and Cut Inverse (Erase) erase inside or outside it; each names
// its own cancel.
void AreaTest::shapingCommands() {
    if (!ReaderReady("kxoPNM") || !OperatorReady(21) || !OperatorReady(23) || !OperatorReady(34))
        QSKIP("needs the PNM reader, Crop, Cut and CutInverse");
    Sandbox box({"UNDO=NO"});
    ScriptedUi ui;
    Main w(box.options(&ui));
    const QString file = box.pictures() + "/p.ppm";
    const QImage picture = TestPicture(30, 20);
    QVERIFY(WritePPM(file, picture));
    const struct {
        const char* entry;
        const char* cancelled;
    } rows[] = {{"shape.cropselect", "TXT_CROP_SELECT_CANCEL"},
                {"shape.cuterase", "TXT_CUT_SELECT_CANCEL"},
                {"shape.cutinverse", "TXT_CUTINV_SELECT_CANCEL"}};
    for (const auto& row : rows) {
        QCOMPARE(w.LoadFile(file), 0u);
        w.areaScript = [](DialogAreaSelect* d) {
            d->buttonCancel->click();
            return 0;
        };
        QVERIFY(w.Trigger(row.entry));
        QCOMPARE(w.labelStatus->text(), w.Msg(row.cancelled));
        QVERIFY(!w.app.Modified);
        w.areaScript = [](DialogAreaSelect* d) {
            d->numericUpDownL->setValue(5);
            d->numericUpDownT->setValue(4);
            d->numericUpDownW->setValue(15);
            d->numericUpDownH->setValue(10);
            d->buttonOK->click();
            return 0;
        };
        QVERIFY(w.Trigger(row.entry));
        QVERIFY(w.app.Modified);
        QVERIFY(!w.checkBoxArea->isChecked());
        const QImage after = shown(KX_GetGfxBuffer());
        const QRect area(5, 4, 10, 6);
        if (QLatin1String(row.entry) == QLatin1String("shape.cropselect")) {
            QCOMPARE(w.labelStatus->text(), w.Msg("TXT_CROP_SECTION") + " 5, 4, 10, 6");
            QCOMPARE(after, picture.copy(area).convertToFormat(QImage::Format_RGB32));
            continue;
        }
        QCOMPARE(after.size(), picture.size());
        const bool inverse = QLatin1String(row.entry) == QLatin1String("shape.cutinverse");
        // The side that is cut differs from the picture; the other stays.
        const QPoint inside(8, 6), outside(25, 15);
        QCOMPARE(after.pixelColor(inverse ? inside : outside), picture.pixelColor(inverse ? inside : outside));
        QVERIFY(after.pixelColor(inverse ? outside : inside) != picture.pixelColor(inverse ? outside : inside));
    }
}

KX_QTEST_MAIN(AreaTest)
#include "tst_area.moc"
