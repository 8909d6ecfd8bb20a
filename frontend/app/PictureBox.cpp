#include "PictureBox.h"

#include <QMouseEvent>
#include <QPainter>

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent, false); }

void PictureBox::setImage(const QImage& image) {
    img = image;
    if (sizeMode == AutoSize && !img.isNull()) resize(img.size());
    updateGeometry();
    update();
}

void PictureBox::setMode(int m) {
    sizeMode = (m >= Normal && m <= Zoom) ? m : Normal;
    if (sizeMode == AutoSize && !img.isNull()) resize(img.size());
    update();
}

QSize PictureBox::sizeHint() const { return img.isNull() ? QSize(64, 64) : img.size(); }

void PictureBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (sunken) {
        p.setPen(palette().color(QPalette::Dark));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    if (img.isNull()) return;
    QRect area = sunken ? rect().adjusted(1, 1, -1, -1) : rect();
    QRect target;
    switch (sizeMode) {
    case Stretch: target = area; break;
    case Center: target = QRect(QPoint(area.x() + (area.width() - img.width()) / 2, area.y() + (area.height() - img.height()) / 2), img.size()); break;
    case Zoom: {
        QSize s = img.size().scaled(area.size(), Qt::KeepAspectRatio);
        target = QRect(QPoint(area.x() + (area.width() - s.width()) / 2, area.y() + (area.height() - s.height()) / 2), s);
        break;
    }
    default: target = QRect(area.topLeft(), img.size()); break;
    }
    p.setRenderHint(QPainter::SmoothPixmapTransform, sizeMode == Zoom || sizeMode == Stretch);
    p.setClipRect(area);
    if (checker && img.hasAlphaChannel()) {
        constexpr int kSquare = 8;
        const QRect under = target.intersected(area);
        p.fillRect(under, QColor(204, 204, 204));
        for (int y = under.top(); y <= under.bottom(); y += kSquare)
            for (int x = under.left() + (((y - under.top()) / kSquare) % 2) * kSquare; x <= under.right(); x += 2 * kSquare)
                p.fillRect(QRect(x, y, kSquare, kSquare).intersected(under), QColor(153, 153, 153));
    }
    p.drawImage(target, img);
}

void PictureBox::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) emit clicked();
    QWidget::mousePressEvent(e);
}
