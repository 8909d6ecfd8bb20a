#include "DialogCommands.h"

#include "DialogAlphaChannel.h"
#include "DialogConvolve.h"
#include "DialogDither.h"
#include "DialogPalette.h"
#include "DialogResizeRotateTiling.h"
#include "DialogToneColour.h"
#include "core/kxopnumbers.h"

namespace kxdlg {

namespace {

template <class D>
DialogKXOFrame* simple(const Context& c) {
    auto* d = new D(c.lib, c.parent);
    d->Prepare(c.target, c.progdir);
    return d;
}

DialogKXOFrame* resize(const Context& c) {
    auto* d = new DialogKXOResize(c.lib, c.parent);
    d->Prepare(int(c.image->Width), int(c.image->Height));
    return d;
}

DialogKXOFrame* rotate(const Context& c) {
    auto* d = new DialogKXORotateFree(c.lib, c.parent);
    d->Prepare(c.target, c.progdir, c.area);
    return d;
}

template <class D>
DialogKXOFrame* withUi(const Context& c) {
    auto* d = new D(c.lib, c.ui, c.parent);
    d->Prepare(c.target, c.progdir);
    return d;
}

DialogKXOFrame* reference(const Context& c) {
    auto* d = new DialogKXOPaletteDither(c.lib, c.ui, c.parent);
    d->Prepare(c.target, c.progdir, c.loaddir, c.appdir);
    return d;
}

DialogKXOFrame* blend(const Context& c) {
    auto* d = new DialogKXOAlphaBlend(c.lib, c.ui, c.parent);
    d->Prepare(c.target, c.progdir, c.loaddir, c.appdir);
    return d;
}

DialogKXOFrame* watermark(const Context& c) {
    auto* d = new DialogKXOAlphaBlend(c.lib, c.ui, c.parent);
    d->PrepareA(c.target, c.progdir, c.loaddir, c.appdir);
    return d;
}

// The convolution dialogs start from the mean: all ones, divisor n x n.
template <class D, int N, bool Real = false>
DialogKXOFrame* convolve(const Context& c) {
    D* d;
    if constexpr (N == 3) d = new D(c.lib, c.ui, Real, c.parent);
    else d = new D(c.lib, c.ui, c.parent);
    d->Prepare(c.target, c.progdir, c.envdir, c.envarcdir, c.area, std::vector<double>(N * N, 1.0), N * N, 0);
    return d;
}

DialogKXOFrame* sharpen(const Context& c) { return new DialogKXOSharpen(c.lib, c.parent); }

const char* const kConvolveKeys =
    "MATRIX_SIZE;MATRIX_LINE1;MATRIX_LINE2;MATRIX_LINE3;MATRIX_LINE4;MATRIX_LINE5;MATRIX_LINE6;MATRIX_LINE7;"
    "MATRIX_LINE8;MATRIX_LINE9;DIVIDE_EQUAL;ADD_EQUAL;LEFT_WIDTH;RIGHT_WIDTH;TOP_WIDTH;BOTTOM_WIDTH";

DialogKXOFrame* palette(const Context& c) {
    auto* d = new DialogPalette(c.lib, c.ui, c.parent);
    d->Prepare(c.image);
    return d;
}

const char* const kBlendKeys = "ALPHA_MODE;ALPHA_VALUE8;SCALE_BLENDGFX;BLEND_GRAPHICS";

const std::vector<Command> kCommands = {
    {"rot.free", "DialogKXORotateFree", KXOP_ROTATEFREE, "ROTATE_ANGLE;KEEPSIZE", 0, nullptr, rotate},
    {"size.free", "DialogKXOResize", KXOP_RESIZE, "NEW_WIDTH;NEW_HEIGHT;ZOOM_FACTOR", WholeImage, nullptr, resize},
    {"depth.8bit.reference", "DialogKXOPaletteDither", KXOP_PALETTEDITHER, "PALETTEFILE;PALETTEDEPTH;COLORDEPTH;DITHERMODE",
     TrueColourOnly, "TXT_ERROR_PALETTE_COLORMAP_DITHER", reference},
    {"depth.8bit.alloptions", "DialogKXODither", KXOP_DITHER24BIT, "COLORDEPTH;DITHERMODE", 0, nullptr, simple<DialogKXODither>},
    {"palette.editor", "DialogPalette", 0 /* none: edits in place */, "", InPlace, "TXT_ERROR_PALETTE_TRUECOLOR_EDIT", palette},
    {"adjust.brightness", "DialogKXOBrightness", KXOP_BRIGHTNESS, "ADJUST_RGB", 0, nullptr, simple<DialogKXOBrightness>},
    {"adjust.contrast", "DialogKXOContrast", KXOP_CONTRAST, "PERCENT", 0, nullptr, simple<DialogKXOContrast>},
    {"adjust.gamma", "DialogKXOGamma", KXOP_GAMMA, "RED_GAMMA;GREEN_GAMMA;BLUE_GAMMA", 0, nullptr, simple<DialogKXOGamma>},
    {"manip.grey", "DialogKXOExtractGray", KXOP_EXTRACTGRAYSCALES, "COLORDEPTH;QUICK;SORTED8BIT", 0, nullptr, simple<DialogKXOExtractGray>},
    {"manip.graytablet", "DialogKXOGrayTablet", KXOP_SELECTGRAYSCALES,
     "RED_LEVEL1;GREEN_LEVEL1;BLUE_LEVEL1;RED_LEVEL2;GREEN_LEVEL2;BLUE_LEVEL2;"
     "RED_LEVEL3;GREEN_LEVEL3;BLUE_LEVEL3;RED_LEVEL4;GREEN_LEVEL4;BLUE_LEVEL4",
     0, nullptr, simple<DialogKXOGrayTablet>},
    {"manip.antique", "DialogKXOAntique", KXOP_ANTIQUE, "COLORDEPTH;MODE", 0, nullptr, simple<DialogKXOAntique>},
    {"manip.redeye", nullptr, KXOP_REDEYEFIX, "", FreshArea | DropAreaAfter, nullptr, nullptr},
    {"manip.xor", "DialogKXOXor", KXOP_XOR, "XORVALUE;XORVALUE16", 0, nullptr, simple<DialogKXOXor>},
    {"comp.resetchannel", "DialogKXOResetChannel", KXOP_RESETCHANNEL, "MODE;CHANNEL_VALUE", 0, nullptr, simple<DialogKXOResetChannel>},
    {"alpha.tablet", "DialogKXOAlphaBlend", KXOP_ALPHABLEND, kBlendKeys, TrueColourOnly, "TXT_ERROR_ALPHABLEND_COLORMAP", blend},
    {"alpha.add", "DialogKXOAddAlpha", KXOP_ADDALPHA, "ALPHA_MODE;ALPHA_PIXEL24;ALPHA_VALUE8", 0, nullptr, withUi<DialogKXOAddAlpha>},
    {"proc.convolution.3", "DialogKXOConvolve", KXOP_CONVOLVE, kConvolveKeys, 0, nullptr, convolve<DialogKXOConvolve, 3>},
    {"proc.convolution.3f", "DialogKXOConvolve", KXOP_CONVOLVEFLOAT, kConvolveKeys, 0, nullptr, convolve<DialogKXOConvolve, 3, true>},
    {"proc.convolution.5", "DialogKXOConvolve5x5", KXOP_CONVOLVENXN, kConvolveKeys, 0, nullptr, convolve<DialogKXOConvolve5x5, 5>},
    {"proc.convolution.7", "DialogKXOConvolve7x7", KXOP_CONVOLVENXN, kConvolveKeys, 0, nullptr, convolve<DialogKXOConvolve7x7, 7>},
    {"proc.convolution.9", "DialogKXOConvolve9x9", KXOP_CONVOLVENXN, kConvolveKeys, 0, nullptr, convolve<DialogKXOConvolve9x9, 9>},
    {"proc.sharpen", "DialogKXOSharpen", KXOP_SHARPEN, "SHARPNESS", 0, nullptr, sharpen},
    {"effects.watermark", "DialogKXOAlphaBlend", KXOP_ALPHABLEND, kBlendKeys,
     TrueColourOnly | AreaFirst | DropAreaAfter | StripAlphaAfter, "TXT_ERROR_WATERMARK_COLORMAP", watermark},
    {"effects.tiling", "DialogKXOTiling", KXOP_TILING, "TILESIZE", 0, nullptr, simple<DialogKXOTiling>},
};

}  // namespace

const std::vector<Command>& Commands() { return kCommands; }

const Command* FindCommand(const QString& id) {
    for (const Command& c : kCommands)
        if (id == QLatin1String(c.id)) return &c;
    return nullptr;
}

}  // namespace kxdlg
