#include "DialogAreaSelect.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRubberBand>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <functional>

#include "OwnOperator.h"
#include "PictureBox.h"
#include "View.h"
#include "core/kxopnumbers.h"

namespace {
constexpr int kPreviewW = 348, kPreviewH = 343, kFullW = 154, kFullH = 137;

// The crop preview reports the mouse in its own pixels.
class CropBox : public PictureBox {
public:
    using PictureBox::PictureBox;
    std::function<void(const QPoint&)> down, move, up;

protected:
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton && down) down(e->position().toPoint());
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (move) move(e->position().toPoint());
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton && up) up(e->position().toPoint());
    }
};

QString joined(long a, long b, long c, long d) { return QStringLiteral("%1, %2, %3, %4").arg(a).arg(b).arg(c).arg(d); }
QString sizeText(long w, long h) { return QStringLiteral("%1 x %2").arg(w).arg(h); }
}  // namespace

DialogAreaSelect::DialogAreaSelect(KXClass* l, QWidget* parent) : QDialog(parent), lib(l) {
    setWindowTitle(QStringLiteral("Area Selection - Use Mouse / Use Buttons"));
    auto* crop = new CropBox(this);
    crop->down = [this](const QPoint& p) { mouseDown(p); };
    crop->move = [this](const QPoint& p) { mouseMove(p); };
    crop->up = [this](const QPoint& p) { mouseUp(p); };
    crop->setMouseTracking(true);
    pictureBoxPreview = crop;
    pictureBoxPreview->setFixedSize(kPreviewW, kPreviewH);
    pictureBoxPreview->setMode(PictureBox::Stretch);
    band = new QRubberBand(QRubberBand::Rectangle, pictureBoxPreview);
    pictureBoxFull = new PictureBox(this);
    pictureBoxFull->setFixedSize(kFullW, kFullH);
    pictureBoxFull->setMode(PictureBox::Stretch);
    pictureBoxFull->setSunken(true);

    auto* margins = new QGridLayout;
    auto row = [&](int r, const char* text, QSpinBox*& field, QPushButton*& reset) {
        field = new QSpinBox(this);
        field->setRange(0, 0);
        reset = new QPushButton(QStringLiteral("Reset"), this);
        margins->addWidget(new QLabel(QString::fromLatin1(text), this), r, 0);
        margins->addWidget(field, r, 1);
        margins->addWidget(reset, r, 2);
        connect(field, &QSpinBox::valueChanged, this, [this] {
            if (chkval) marginChanged();
        });
        connect(reset, &QPushButton::clicked, field, [field] { field->setValue(0); });
    };
    row(0, "Left", numericUpDownL, buttonL);
    row(1, "Top", numericUpDownT, buttonT);
    row(2, "Right", numericUpDownW, buttonW);
    row(3, "Bottom", numericUpDownH, buttonH);
    buttonAll = new QPushButton(QStringLiteral("R"), this);
    buttonToggle = new QPushButton(QStringLiteral("T"), this);
    for (QPushButton* b : {buttonAll, buttonToggle}) b->setFixedWidth(32);
    connect(buttonAll, &QPushButton::clicked, this, [this] {
        for (QSpinBox* f : {numericUpDownL, numericUpDownT, numericUpDownW, numericUpDownH}) f->setValue(0);
    });
    connect(buttonToggle, &QPushButton::clicked, this, [this] { overviewFrame(); });

    labelArea = new QLabel(QStringLiteral("0, 0, 0, 0"), this);
    labelSize = new QLabel(QStringLiteral("000 x 000"), this);
    labelCropSize = new QLabel(QStringLiteral("000 x 000"), this);
    labelMousePos = new QLabel(QStringLiteral("rel: 0, 0"), this);
    labelAreaPos = new QLabel(QStringLiteral("abs: 0, 0, max, max"), this);
    // Room for the longest texts a picture of five-digit sides gives: the
    // form keeps its size while they change under the mouse.
    const QFontMetrics fm(labelAreaPos->font());
    labelArea->setMinimumWidth(fm.horizontalAdvance(QStringLiteral("99999, 99999, 99999, 99999")));
    labelSize->setMinimumWidth(fm.horizontalAdvance(QStringLiteral("99999 x 99999")));
    labelCropSize->setMinimumWidth(fm.horizontalAdvance(QStringLiteral("99999 x 99999")));
    labelMousePos->setMinimumWidth(fm.horizontalAdvance(QStringLiteral("rel: 9999, 9999")));
    labelAreaPos->setMinimumWidth(fm.horizontalAdvance(QStringLiteral("abs: 99999, 99999, 99999, 99999")));
    auto* facts = new QGridLayout;
    facts->addWidget(new QLabel(QStringLiteral("Current Area: "), this), 0, 0);
    facts->addWidget(labelArea, 0, 1);
    facts->addWidget(new QLabel(QStringLiteral("Image Size:"), this), 1, 0);
    facts->addWidget(labelSize, 1, 1);
    facts->addWidget(new QLabel(QStringLiteral("Crop Size:"), this), 2, 0);
    facts->addWidget(labelCropSize, 2, 1);
    facts->addWidget(labelMousePos, 3, 0, 1, 2);
    facts->addWidget(labelAreaPos, 4, 0, 1, 2);

    buttonOK = new QPushButton(QStringLiteral("OK"), this);
    buttonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    buttonOK->setDefault(true);
    connect(buttonOK, &QPushButton::clicked, this, [this] { accepted(); });
    connect(buttonCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* right = new QVBoxLayout;
    auto* top = new QHBoxLayout;
    top->addWidget(pictureBoxFull);
    auto* toggles = new QVBoxLayout;
    toggles->addWidget(buttonAll);
    toggles->addWidget(buttonToggle);
    toggles->addStretch(1);
    top->addLayout(toggles);
    right->addLayout(top);
    right->addLayout(margins);
    right->addLayout(facts);
    right->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(buttonOK);
    buttons->addWidget(buttonCancel);
    right->addLayout(buttons);
    auto* outer = new QHBoxLayout(this);
    outer->addWidget(pictureBoxPreview, 0, Qt::AlignTop);
    outer->addLayout(right);
    setFixedSize(sizeHint().expandedTo(QSize(572, 435)));
}

DialogAreaSelect::~DialogAreaSelect() { KXSUP_FreeGfxBuffer(resgfxb); }

long DialogAreaSelect::W() const { return gfxb ? long(gfxb->Width) : 0; }
long DialogAreaSelect::H() const { return gfxb ? long(gfxb->Height) : 0; }

int DialogAreaSelect::ShowDialogP(KX_GfxBuffer* image) {
    Prepare(image);
    return exec();
}

void DialogAreaSelect::Prepare(KX_GfxBuffer* image) {
    gfxb = image;
    KXSUP_FreeGfxBuffer(resgfxb);
    resgfxb = nullptr;
    _exit = true;
    initimg = finalcrop = start = drag = false;
    chkval = false;
    numericUpDownL->setRange(0, std::max(0L, W() - 1));
    numericUpDownW->setRange(0, std::max(0L, W() - 1));
    numericUpDownT->setRange(0, std::max(0L, H() - 1));
    numericUpDownH->setRange(0, std::max(0L, H() - 1));
    for (QSpinBox* f : {numericUpDownL, numericUpDownT, numericUpDownW, numericUpDownH}) f->setValue(0);
    chkval = true;
    labelSize->setText(sizeText(W(), H()));
    labelCropSize->setText(sizeText(W(), H()));
    labelAreaPos->setText(QStringLiteral("abs: ") + joined(0, 0, W(), H()));
    show_ = false;
    initimg = true;
    cropPreview();
    overview();
}

KX_GfxBuffer* DialogAreaSelect::TakeResult() {
    KX_GfxBuffer* r = resgfxb;
    resgfxb = nullptr;
    return r;
}

QImage DialogAreaSelect::bitmapOf(KX_GfxBuffer* buffer) const {
    View converter(lib, buffer, nullptr, true, false);
    return converter.image();
}

void DialogAreaSelect::marginChanged() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const long l = numericUpDownL->value(), t = numericUpDownT->value(), r = numericUpDownW->value(),
               b = numericUpDownH->value();
    // The area keeps at least one pixel each way.
    chkval = false;
    numericUpDownL->setMaximum(int(std::max(0L, W() - r - 1)));
    numericUpDownT->setMaximum(int(std::max(0L, H() - b - 1)));
    numericUpDownW->setMaximum(int(std::max(0L, W() - l - 1)));
    numericUpDownH->setMaximum(int(std::max(0L, H() - t - 1)));
    chkval = true;
    labelArea->setText(joined(l, t, W() - r, H() - b));
    labelCropSize->setText(sizeText(W() - r - l, H() - b - t));
    labelAreaPos->setText(QStringLiteral("abs: ") + joined(l, t, W() - r, H() - b));
    cropPreview();
    show_ = false;
    overviewFrame();
    QApplication::restoreOverrideCursor();
}

void DialogAreaSelect::cropPreview() {
    if (!initimg || !gfxb) return;
    const long l = numericUpDownL->value(), t = numericUpDownT->value();
    const long w = W() - numericUpDownW->value() - l, h = H() - numericUpDownH->value() - t;
    char area[96];
    std::snprintf(area, sizeof area, "%ld,%ld,%ld,%ld", l, t, w, h);
    KX_GfxBuffer* cut = nullptr;
    // A crop that fails leaves the box as it was (and, on OK, no area).
    if (kxown::Run(lib, KXOP_CROP, gfxb, &cut, {{"KX_AREA", QByteArray(area)}}) != KXERR_NONE) return;
    if (finalcrop) {
        KXSUP_FreeGfxBuffer(resgfxb);
        resgfxb = cut;
        return;
    }
    pictureBoxPreview->setImage(bitmapOf(cut));
    KXSUP_FreeGfxBuffer(cut);
}

void DialogAreaSelect::overview() {
    if (!initimg) return;
    KX_GfxBuffer* source = resgfxb ? resgfxb : gfxb;
    if (!source) return;
    KX_GfxBuffer* deep = nullptr;
    if (source->ColorDepth < 24) {
        if (kxown::Run(lib, KXOP_ANYTO24BIT, source, &deep, {}, false) != KXERR_NONE) return;
        source = deep;
    }
    KX_GfxBuffer* small = nullptr;
    const uint32_t err =
        kxown::Run(lib, KXOP_RESIZE, source, &small, {{"NEW_WIDTH", kxown::Int(kPreviewW)}, {"NEW_HEIGHT", kxown::Int(kPreviewH)}});
    KXSUP_FreeGfxBuffer(deep);
    if (err != KXERR_NONE) return;
    overviewImage = bitmapOf(small);
    KXSUP_FreeGfxBuffer(small);
    pictureBoxFull->setImage(overviewImage);
}

void DialogAreaSelect::overviewFrame() {
    show_ = !show_;
    QImage img = overviewImage;
    const long l = numericUpDownL->value(), t = numericUpDownT->value(), r = numericUpDownW->value(),
               b = numericUpDownH->value();
    if (show_ && (l || t || r || b) && !img.isNull()) {
        const float sx = float(W()) / img.width(), sy = float(H()) / img.height();
        DrawFrame(img, QRect(int(l / sx), int(t / sy), int((W() - r - l) / sx), int((H() - b - t) / sy)));
    }
    pictureBoxFull->setImage(img);
}

void DialogAreaSelect::DrawFrame(QImage& image, const QRect& r) {
    if (image.isNull()) return;
    if (image.format() != QImage::Format_ARGB32 && image.format() != QImage::Format_RGB32)
        image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    QPainter p(&image);
    p.setPen(QPen(Qt::red, 1));
    p.drawRect(r);
    for (int i = 0; i < 3; ++i) {
        p.drawRect(QRect(r.x(), r.y() + i, r.width(), r.height() - 2 * i));
        p.drawRect(QRect(r.x() + i, r.y(), r.width() - 2 * i, r.height()));
    }
}

// Dragging in the crop preview: the box shows the current area stretched.
void DialogAreaSelect::mouseDown(const QPoint& p) {
    if (!gfxb) return;
    const long aw = W() - numericUpDownW->value() - numericUpDownL->value();
    const long ah = H() - numericUpDownH->value() - numericUpDownT->value();
    newx = long(float(p.x()) / pictureBoxPreview->width() * aw);
    newy = long(float(p.y()) / pictureBoxPreview->height() * ah);
    start = true;
    x0 = p.x();
    y0 = p.y();
}

void DialogAreaSelect::mouseMove(const QPoint& p) {
    int X = p.x(), Y = p.y();
    labelMousePos->setText(QStringLiteral("rel: %1, %2").arg(X).arg(Y));
    if (!start) return;
    X = std::max(X, x0);
    Y = std::max(Y, y0);
    labelMousePos->setText(QStringLiteral("rel: %1, %2").arg(X).arg(Y));
    const int boxW = pictureBoxPreview->width(), boxH = pictureBoxPreview->height();
    int rW = X > 0 ? X - x0 : 0, rH = Y > 0 ? Y - y0 : 0;
    if (x0 + rW >= boxW) {
        rW = boxW - x0;
        X = x0 + rW - 1;
    }
    if (y0 + rH >= boxH) {
        rH = boxH - y0;
        Y = y0 + rH - 1;
    }
    band->setGeometry(x0, y0, rW, rH);
    band->show();
    drag = true;
    const long l = numericUpDownL->value(), t = numericUpDownT->value();
    const long aw = W() - numericUpDownW->value() - l, ah = H() - numericUpDownH->value() - t;
    labelAreaPos->setText(QStringLiteral("abs: ") + joined(l + newx, t + newy, l + long(float(X) / boxW * aw),
                                                           t + long(float(Y) / boxH * ah)));
}

void DialogAreaSelect::mouseUp(const QPoint& p) {
    if (!start || !gfxb) return;
    const int X = std::max(p.x(), x0), Y = std::max(p.y(), y0);
    const long oldL = numericUpDownL->value(), oldT = numericUpDownT->value();
    const long aw = W() - numericUpDownW->value() - oldL, ah = H() - numericUpDownH->value() - oldT;
    const float ex = float(X) / pictureBoxPreview->width() * aw, ey = float(Y) / pictureBoxPreview->height() * ah;
    start = drag = false;
    band->hide();
    long l = oldL + newx, t = oldT + newy;
    long r = long(float(W()) - (float(oldL) + ex) - 1), b = long(float(H()) - (float(oldT) + ey) - 1);
    if (r < 0) r = 1;
    if (r >= W()) r = W() - 1;
    if (b < 0) b = 1;
    if (b >= H()) b = H() - 1;
    // Within the fields' ranges: the area keeps one pixel each way.
    l = std::clamp(l, 0L, std::max(0L, W() - 1));
    t = std::clamp(t, 0L, std::max(0L, H() - 1));
    r = std::clamp(r, 0L, std::max(0L, W() - 1 - l));
    b = std::clamp(b, 0L, std::max(0L, H() - 1 - t));
    chkval = false;
    numericUpDownL->setMaximum(int(std::max(0L, W() - 1)));
    numericUpDownW->setMaximum(int(std::max(0L, W() - 1)));
    numericUpDownT->setMaximum(int(std::max(0L, H() - 1)));
    numericUpDownH->setMaximum(int(std::max(0L, H() - 1)));
    numericUpDownL->setValue(int(l));
    numericUpDownT->setValue(int(t));
    numericUpDownW->setValue(int(r));
    numericUpDownH->setValue(int(b));
    chkval = true;
    marginChanged();
}

void DialogAreaSelect::accepted() {
    const long l = numericUpDownL->value(), t = numericUpDownT->value();
    numL = l;
    numT = t;
    numW = W() - numericUpDownW->value() - l;
    numH = H() - numericUpDownH->value() - t;
    _exit = false;
    finalcrop = true;
    cropPreview();
    accept();
}
