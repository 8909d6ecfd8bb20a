#include "Printing.h"

#include <QPainter>
#include <QPrinter>
#include <algorithm>
#include <cmath>

#include "OwnOperator.h"
#include "View.h"
#include "core/kxopnumbers.h"

namespace kxprint {

namespace {

QImage bitmapOf(KXClass* lib, KX_GfxBuffer* buffer) {
    View view(lib, buffer, nullptr, true, false);
    return view.image();
}
}  // namespace

QSize Fit(QSize picture, QSize margins) {
    if (picture.width() < 1 || picture.height() < 1) return QSize();
    if (picture.width() <= margins.width() && picture.height() <= margins.height()) return picture;
    const double s = std::min(double(std::max(0, margins.width())) / picture.width(),
                              double(std::max(0, margins.height())) / picture.height());
    return QSize(std::max(1, int(picture.width() * s)), std::max(1, int(picture.height() * s)));
}

QSize MarginsOf(QPrinter* printer) {
    const int resolution = std::max(1, printer->resolution());
    const QRect paint = printer->pageLayout().paintRectPixels(resolution);
    return QSize(int(int64_t(paint.width()) * kPixelsPerInch / resolution),
                 int(int64_t(paint.height()) * kPixelsPerInch / resolution));
}

bool PrintPage(QPrinter* printer, KXClass* lib, KX_GfxBuffer* image) {
    if (!printer || !image) return false;
    const QImage whole = bitmapOf(lib, image);
    if (whole.isNull()) return false;
    const QSize size = Fit(whole.size(), MarginsOf(printer));
    QImage drawn = whole;
    if (size != whole.size()) {
        KX_GfxBuffer* reduced = nullptr;
        if (kxown::Run(lib, KXOP_RESIZE, image, &reduced,
                       {{"NEW_WIDTH", kxown::Int(size.width())}, {"NEW_HEIGHT", kxown::Int(size.height())}}) == KXERR_NONE) {
            const QImage small = bitmapOf(lib, reduced);
            if (!small.isNull()) drawn = small;
        }
        KXSUP_FreeGfxBuffer(reduced);
    }
    QPainter painter;
    if (!painter.begin(printer)) return false;
    // The painter starts at the margins' top-left corner, in printer pixels.
    const double f = double(printer->resolution()) / kPixelsPerInch;
    painter.drawImage(QRectF(0, 0, size.width() * f, size.height() * f), drawn);
    return painter.end();
}

}  // namespace kxprint
