#include "DialogSettingsColour.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <functional>

#include "OwnOperator.h"
#include "View.h"
#include "core/gfxbuffer.h"
#include "core/kxapp.h"
#include "core/kxclass.h"

namespace {

// The preview: the reduced picture stretched over the box; a click hands
// its position on.
class PreviewBox : public QWidget {
public:
    explicit PreviewBox(QWidget* parent) : QWidget(parent) {
        setFixedSize(DialogCPColor::kBoxWidth, DialogCPColor::kBoxHeight);
        setCursor(Qt::CrossCursor);
    }
    std::function<void(const QPoint&)> onClick;
    QImage img;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), palette().window());
        if (!img.isNull()) p.drawImage(rect(), img);
    }
    void mousePressEvent(QMouseEvent* e) override {
        if (onClick) onClick(e->position().toPoint());
    }
};

QLabel* captioned(QGridLayout* g, int row, const char* caption, QWidget* parent) {
    g->addWidget(new QLabel(QString::fromLatin1(caption), parent), row, 0);
    auto* l = new QLabel(parent);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    g->addWidget(l, row, 1);
    return l;
}

QString hex2(long v) { return QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')); }
QString dec3(long v) { return QStringLiteral("%1").arg(v, 3, 10, QLatin1Char('0')); }

}  // namespace

DialogCPColor::DialogCPColor(const KXBrowserDirs& d, QWidget* parent) : QDialog(parent), dirs(d) {
    setWindowTitle(QStringLiteral("Pick a Color"));
    auto* box = new PreviewBox(this);
    box->onClick = [this](const QPoint& p) { ClickAt(p); };
    pictureBoxPreview = box;
    auto* g = new QGridLayout;
    labelPixel = captioned(g, 0, "Pixel:", this);
    labelRGB = captioned(g, 1, "RGB:", this);
    labelIndex = captioned(g, 2, "Color Index:", this);
    labelOpacity = captioned(g, 3, "Opacity:", this);
    buttonOK = new QPushButton(QStringLiteral("OK"), this);
    buttonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    auto* v = new QVBoxLayout(this);
    v->addWidget(pictureBoxPreview, 0, Qt::AlignHCenter);
    v->addLayout(g);
    auto* h = new QHBoxLayout;
    h->addStretch();
    h->addWidget(buttonOK);
    h->addWidget(buttonCancel);
    v->addLayout(h);
    connect(buttonOK, &QPushButton::clicked, this, [this] {
        _exit = 0;
        accept();
    });
    connect(buttonCancel, &QPushButton::clicked, this, [this] {
        _exit = 1;
        reject();
    });
}

DialogCPColor::~DialogCPColor() { release(); }

void DialogCPColor::release() {
    if (chunky) KXSUP_FreeGfxBuffer(chunky);
    chunky = nullptr;
    picture = nullptr;
}

void DialogCPColor::Prepare(KX_GfxBuffer* image, bool browse) {
    release();
    _exit = 1;
    if (browse) {
        buttonOK->hide();
        buttonCancel->setText(QStringLiteral("Done"));
    }
    if (!image) return;
    if (!lib) lib = KX_MakeLibrary(dirs);
    // Pixels are read one byte per pixel, so bit planes are made chunky first.
    picture = image->Type == BITPLANE ? nullptr : image;
    if (image->Type == BITPLANE && image->ColorDepth <= 8) {
        if (KXSUP_BitPlaneToOnePlane8(image, &chunky)) chunky = nullptr;
        picture = chunky;
    }

    // The preview: the picture reduced to the box by a Resize of our own.
    auto* box = static_cast<PreviewBox*>(pictureBoxPreview);
    box->img = QImage();
    KX_GfxBuffer* small = nullptr;
    if (kxown::Run(lib.get(), KXOP_RESIZE, image, &small,
                   {{"NEW_WIDTH", kxown::Int(kBoxWidth)}, {"NEW_HEIGHT", kxown::Int(kBoxHeight)}}) == KXERR_NONE) {
        box->img = View::SetImage(small, true);
        KXSUP_FreeGfxBuffer(small);
    }
    if (box->img.isNull() && picture) box->img = View::SetImage(picture, true);
    box->update();
    SelectPixel(0, 0);
}

void DialogCPColor::ClickAt(const QPoint& p) {
    if (!picture) return;
    const double x = double(p.x()) / kBoxWidth * picture->Width;
    const double y = double(p.y()) / kBoxHeight * picture->Height;
    SelectPixel(long(x), long(y));
}

void DialogCPColor::SelectPixel(long x, long y) {
    const KX_GfxBuffer* b = picture;
    if (!b || !b->Data || !b->Width || !b->Height) {
        labelPixel->setText(QStringLiteral("[NONE]"));
        return;
    }
    // A click on the box's last pixel lands on Width itself: the picture's
    // last column (and row) is as far as it goes.
    x = qBound(0L, x, long(b->Width) - 1);
    y = qBound(0L, y, long(b->Height) - 1);
    pixelX = x;
    pixelY = y;
    const uint64_t pos = uint64_t(y) * b->Width + uint64_t(x);
    const uint32_t holds = b->Version >= 3 ? KXSUP_AlphaHolds(b) : KXALPHA_NONE;
    if (b->ColorDepth <= 8) {
        if (pos >= b->BufferSize) return;
        const uint8_t i = b->Data[pos];
        _I = i;
        _R = b->Palette[i * 3];
        _G = b->Palette[i * 3 + 1];
        _B = b->Palette[i * 3 + 2];
        _A = 255;
        if (holds == KXALPHA_SINGLECOLOR && i == KXSUP_AlphaIndex(b)) _A = 0;
        if (holds == KXALPHA_MULTICOLOR && KXSUP_AlphaBytes(b)) _A = KXSUP_AlphaBytes(b)[i];
    } else if (b->ColorDepth == 24) {
        if (pos * 3 + 2 >= b->BufferSize) return;
        const uint8_t* px = b->Data + pos * 3;
        _R = px[0];
        _G = px[1];
        _B = px[2];
        _I = -1;
        if (holds == KXALPHA_CHANNEL8 && KXSUP_AlphaBytes(b)) _A = KXSUP_AlphaBytes(b)[pos];
    } else if (b->ColorDepth == 48) {
        if (pos * 6 + 5 >= b->BufferSize) return;
        const uint8_t* px = b->Data + pos * 6;
        const bool big = b->Version >= 4 && (b->Flags & KXGFXF_MM);
        const int high = big ? 0 : 1;
        _R = px[high];
        _G = px[2 + high];
        _B = px[4 + high];
        _I = -1;
    } else {
        return;
    }
    labelPixel->setText(QStringLiteral("%1, %2 (%3, %4)").arg(x).arg(y).arg(b->Width).arg(b->Height));
    labelRGB->setText(QStringLiteral("%1, %2, %3 (#%4, #%5, #%6)")
                          .arg(dec3(_R), dec3(_G), dec3(_B), hex2(_R), hex2(_G), hex2(_B)));
    labelIndex->setText(b->ColorDepth <= 8 ? QString::number(_I) + QStringLiteral(" (0..255)") : QStringLiteral("[NONE]"));
    labelOpacity->setText(QString::number(_A) + QStringLiteral(" (0..255)") +
                          (_A == 255 ? QStringLiteral(" - fully") : QStringLiteral(" - partially")));
}
