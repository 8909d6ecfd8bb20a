// Dialogs that fit and can be left: the area selection keeps its fields
// clear of the picture whatever the texts say, the forms without Cancel
// leave with Esc and the close button and are as wide as their titles, the
// Extract Gray depth box shows its value, and the operator browser draws a
// transparent result on a checker board in a frame.
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <QSpinBox>

#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QTimer>

#include "DialogAreaSelect.h"
#include "DialogInfoList.h"
#include "DialogKXList.h"
#include "DialogMetaDetail.h"
#include "DialogMetaInfo.h"
#include "DialogConvolve.h"
#include "DialogFrame.h"
#include "DialogToneColour.h"
#include "PictureBox.h"
#include "support/DialogDesk.h"

using kxtest::Desk;

namespace {
void mouse(QWidget* w, QEvent::Type type, QPoint p) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, p, w->mapToGlobal(p), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// Where a child lies in its dialog.
QRect inDialog(QWidget* child, QWidget* dialog) { return QRect(child->mapTo(dialog, QPoint(0, 0)), child->size()); }
}  // namespace

class DialogFitTest : public QObject {
    Q_OBJECT
private slots:
    void areaFieldsStayClearOfThePicture();
    void formsWithoutCancelLeaveWithEscOrClose();
    void extractGrayDepthShowsItsValue();
    void transparentPreviewOnAChecker();
    void screenshots();
};

// A wide picture gives long texts; after a drag across the preview
// no label or field overlaps the picture box and every text fits its label.
void DialogFitTest::areaFieldsStayClearOfThePicture() {
    if (!OperatorReady(21) || !OperatorReady(14)) QSKIP("needs Crop and Resize");
    // Five-digit sides without a big buffer.
    KX_GfxBuffer* img = MakeGfx(20000, 20, 8);
    QVERIFY(img);
    KXClass lib;
    {
        DialogAreaSelect d(&lib);
        d.Prepare(img);
        d.show();
        const QSize before = d.size();
        QWidget* box = d.pictureBoxPreview;
        mouse(box, QEvent::MouseButtonPress, QPoint(20, 30));
        mouse(box, QEvent::MouseMove, QPoint(200, 200));
        mouse(box, QEvent::MouseMove, QPoint(300, 250));
        mouse(box, QEvent::MouseButtonRelease, QPoint(300, 250));
        QApplication::processEvents();
        QVERIFY(d.numericUpDownL->value() > 0 && d.numericUpDownH->value() > 0);
        QCOMPARE(d.size(), before);
        const QRect picture = inDialog(box, &d);
        for (QLabel* l : d.findChildren<QLabel*>()) {
            if (!l->isVisible()) continue;
            QVERIFY2(!inDialog(l, &d).intersects(picture), qPrintable(l->text()));
            QVERIFY2(l->width() >= l->fontMetrics().horizontalAdvance(l->text()), qPrintable(l->text()));
        }
        for (QWidget* w : {static_cast<QWidget*>(d.numericUpDownL), static_cast<QWidget*>(d.numericUpDownH),
                           static_cast<QWidget*>(d.buttonOK)})
            QVERIFY(!inDialog(w, &d).intersects(picture));
        QVERIFY(inDialog(d.buttonCancel, &d).right() < d.width());
    }
    KXSUP_FreeGfxBuffer(img);
}

// The convolution forms and Sharpen have OK alone: Esc and closing the
// window cancel, run nothing and change nothing. Each is at least as wide
// as its title needs beside the title bar's buttons.
void DialogFitTest::formsWithoutCancelLeaveWithEscOrClose() {
    if (!ReaderReady("kxoPNM")) QSKIP("needs the PNM reader");
    Desk desk;
    QVERIFY(desk.open(TestPicture(30, 20)));
    const std::vector<uint8_t> before(KX_GetGfxBuffer()->Data, KX_GetGfxBuffer()->Data + KX_GetGfxBuffer()->BufferSize);
    const char* const ids[] = {"proc.convolution.3", "proc.convolution.3f", "proc.convolution.5",
                               "proc.convolution.7", "proc.convolution.9", "proc.sharpen"};
    for (const char* id : ids) {
        for (bool viaEsc : {true, false}) {
            bool shown = false, cancelled = false, wide = false;
            desk.w->dialogScript = [&](QDialog* d) {
                auto* f = static_cast<DialogKXOFrame*>(d);
                f->show();
                f->WaitPreview();
                shown = f->isVisible() && !f->buttonCancel;
                wide = f->width() >= f->fontMetrics().horizontalAdvance(f->windowTitle()) + 160;
                if (viaEsc) QTest::keyClick(f, Qt::Key_Escape);
                else f->close();
                cancelled = !f->isVisible() && f->_exit == 1 && f->result() == QDialog::Rejected;
                return 0;
            };
            QVERIFY2(desk.w->Trigger(QString::fromLatin1(id)), id);
            QVERIFY2(shown, id);
            QVERIFY2(wide, id);
            QVERIFY2(cancelled, id);
        }
    }
    QVERIFY(desk.runs.isEmpty());
    QVERIFY(!desk.w->app.Modified);
    const KX_GfxBuffer* b = KX_GetGfxBuffer();
    QCOMPARE(std::vector<uint8_t>(b->Data, b->Data + b->BufferSize), before);
}

// Every value of the depth box is readable in it.
void DialogFitTest::extractGrayDepthShowsItsValue() {
    KX_GfxBuffer* img = MakeGfx(16, 12, 24);
    QVERIFY(img);
    KXClass lib;
    {
        DialogKXOExtractGray d(&lib);
        d.Prepare(img, QString());
        d.show();
        QSpinBox* depth = d.numericDepth;
        const int text = depth->fontMetrics().horizontalAdvance(QStringLiteral("8"));
        QStyleOptionSpinBox opt;
        opt.initFrom(depth);
        opt.subControls = QStyle::SC_SpinBoxEditField;
        const QRect field = depth->style()->subControlRect(QStyle::CC_SpinBox, &opt, QStyle::SC_SpinBoxEditField, depth);
        QVERIFY2(field.width() >= 3 * text, qPrintable(QString::number(field.width())));
        QVERIFY(depth->width() >= depth->sizeHint().width());
    }
    KXSUP_FreeGfxBuffer(img);
}

// A fully transparent picture shows the checker's two greys inside a frame.
void DialogFitTest::transparentPreviewOnAChecker() {
    QImage clear(40, 30, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    PictureBox box;
    box.setFixedSize(80, 60);
    box.setMode(PictureBox::Zoom);
    box.setSunken(true);
    box.setChecker(true);
    box.setImage(clear);
    const QImage shot = box.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QSet<QRgb> colours;
    for (int y = 4; y < shot.height() - 4; ++y)
        for (int x = 4; x < shot.width() - 4; ++x) colours.insert(shot.pixel(x, y));
    QVERIFY(colours.contains(qRgb(204, 204, 204)));
    QVERIFY(colours.contains(qRgb(153, 153, 153)));
    QCOMPARE(QColor(shot.pixel(0, shot.height() / 2)).rgb(), box.palette().color(QPalette::Dark).rgb());
    // An opaque picture covers the board.
    QImage solid(40, 30, QImage::Format_RGB32);
    solid.fill(Qt::red);
    box.setImage(solid);
    const QImage covered = box.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(QColor(covered.pixel(40, 30)).rgb(), QColor(Qt::red).rgb());
}

// With KX_SHOTS_DIR set (under a virtual X server with a window manager),
// the whole screen with each mended dialog open, as `import` grabs it.
void DialogFitTest::screenshots() {
    const QString dir = qEnvironmentVariable("KX_SHOTS_DIR");
    if (dir.isEmpty()) QSKIP("KX_SHOTS_DIR names no folder for the screenshots");
    if (!ReaderReady("kxoPNG")) QSKIP("needs the PNG reader");
    Desk desk;
    desk.w->move(0, 0);
    const QString pic = desk.box.pictures() + "/shot.png";
    QImage img = TestPicture(320, 240).convertToFormat(QImage::Format_ARGB32);
    QVERIFY(img.save(pic));
    auto shoot = [&](QWidget* d, const QString& name) {
        d->show();
        d->move(d->x() < 40 ? 380 : d->x(), d->y() < 40 ? 60 : d->y());
        QTest::qWait(600);
        QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), dir + "/" + name + ".png"});
    };
    // The menus without a picture.
    desk.w->show();
    QTest::qWait(300);
    desk.w->menus.value("image")->popup(desk.w->mapToGlobal(QPoint(120, 20)));
    QTest::qWait(400);
    QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), dir + "/menu-image-no-picture.png"});
    desk.w->menus.value("image")->hide();
    QCOMPARE(desk.w->LoadFile(pic), 0u);
    desk.w->menus.value("image")->popup(desk.w->mapToGlobal(QPoint(120, 20)));
    QTest::qWait(400);
    QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), dir + "/menu-image-picture.png"});
    desk.w->menus.value("image")->hide();

    desk.w->areaScript = [&](DialogAreaSelect* d) {
        d->show();
        QWidget* box = d->pictureBoxPreview;
        mouse(box, QEvent::MouseButtonPress, QPoint(40, 40));
        mouse(box, QEvent::MouseMove, QPoint(200, 200));
        mouse(box, QEvent::MouseMove, QPoint(280, 260));
        mouse(box, QEvent::MouseButtonRelease, QPoint(280, 260));
        shoot(d, "area-selection-after-drag");
        d->buttonCancel->click();
        return 0;
    };
    QVERIFY(desk.w->Trigger("edit.mark"));
    desk.w->areaScript = nullptr;
    desk.w->dialogScript = [&](QDialog* d) {
        if (auto* f = qobject_cast<DialogKXOFrame*>(d)) {
            f->WaitPreview();
            shoot(f, f->objectName());
            QTest::keyClick(f, Qt::Key_Escape);
        } else if (auto* l = qobject_cast<DialogKXPList*>(d)) {
            for (int i = 0; i < l->listBoxOps->count(); ++i)
                if (l->listBoxOps->item(i)->text().contains(QLatin1String("InvertAlpha"))) l->listBoxOps->setCurrentRow(i);
            QTest::qWait(300);
            shoot(l, "operator-browser-transparent-preview");
            l->close();
        } else if (auto* i = qobject_cast<DialogInfoList*>(d)) {
            shoot(i, "instance-info");
            i->close();
        }
        return 0;
    };
    for (const auto& [id, name] : {std::pair{"proc.sharpen", "sharpen"}, std::pair{"proc.convolution.3", "convolve-3x3"},
                                   std::pair{"proc.convolution.7", "convolve-7x7"}, std::pair{"manip.grey", "extract-gray"}}) {
        QPointer<QDialog> seen;
        auto inner = desk.w->dialogScript;
        desk.w->dialogScript = [&, inner, name = QString::fromLatin1(name)](QDialog* d) {
            d->setObjectName(name);
            return inner(d);
        };
        QVERIFY(desk.w->Trigger(QString::fromLatin1(id)));
        desk.w->dialogScript = inner;
    }
    QVERIFY(desk.w->Trigger("proc.fulllist"));
    QVERIFY(desk.w->Trigger("help.instance"));
}

KX_QTEST_MAIN(DialogFitTest)
#include "tst_dialogfit.moc"
