// Printing: one page per document. The current picture is drawn at the
// top-left corner of the page's margins in its own size, a picture pixel
// being a pixel of a 96-per-inch screen; a picture that does not fit is
// reduced, its proportions kept, by a Resize of its own (or, when that
// cannot be made, by drawing the picture smaller). No side is ever asked
// for below one pixel.
#pragma once

#include <QSize>

#include "core/kxlib.h"

class QPrinter;

namespace kxprint {

constexpr int kPixelsPerInch = 96;

// The drawn size of a picture within the margins (both in picture pixels):
// its own when it fits both ways, else scaled by the smaller of the two
// ratios, each side cut towards zero but at least one pixel.
QSize Fit(QSize picture, QSize margins);

// The margins of the printer's page in picture pixels.
QSize MarginsOf(QPrinter* printer);

// Prints image (the viewer's bitmap of it, alpha shown, no colour
// management) on one page. False when the printer cannot be opened or the
// picture cannot be shown.
bool PrintPage(QPrinter* printer, KXClass* lib, KX_GfxBuffer* image);

}  // namespace kxprint
