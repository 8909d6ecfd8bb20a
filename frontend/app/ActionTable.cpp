#include "ActionTable.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>
#include <QStringList>

#include "core/catalogue.h"
#include "core/kxopnumbers.h"

namespace kxactions {

namespace {

using K = Kind;
using C = Cmd;

#define MENU(id, parent, key, text) {id, parent, key, text, nullptr, nullptr, K::Menu, C::None, -1, nullptr, nullptr, 0}
#define SEP(parent) {"", parent, nullptr, "", nullptr, nullptr, K::Separator, C::None, -1, nullptr, nullptr, 0}
#define ITEM(id, parent, key, text, cmd) {id, parent, key, text, nullptr, nullptr, K::Item, cmd, -1, nullptr, nullptr, 0}
#define ITEMA(id, parent, key, text, cmd, arg) {id, parent, key, text, nullptr, nullptr, K::Item, cmd, -1, nullptr, arg, 0}
#define ICON(id, parent, key, text, cmd, icon) {id, parent, key, text, nullptr, icon, K::Item, cmd, -1, nullptr, nullptr, 0}
#define OFF(id, parent, key, text) {id, parent, key, text, nullptr, nullptr, K::Item, C::None, -1, nullptr, nullptr, 0}
#define OP(id, parent, text, op, settings) {id, parent, nullptr, text, nullptr, nullptr, K::Item, C::Operator, op, settings, nullptr, 0}
#define OPF(id, parent, text, op, settings, flags) {id, parent, nullptr, text, nullptr, nullptr, K::Item, C::Operator, op, settings, nullptr, flags}
#define NEEDS(id, parent, key, text, cmd, arg, needs) {id, parent, key, text, nullptr, nullptr, K::Item, cmd, -1, nullptr, arg, 0, needs}
// A command with a dialog (kxdlg::Commands): op is its operator, needs the
// others it or its preview runs.
#define DLG(id, parent, text, op, needs) {id, parent, nullptr, text, nullptr, nullptr, K::Item, C::Dialog, op, nullptr, nullptr, 0, needs}
#define DITHER(id, parent, text, arg) {id, parent, nullptr, text, nullptr, nullptr, K::Item, C::Dither, KXOP_DITHER24BIT, nullptr, arg, 0}

const std::vector<ActionDef> kTable = {
    // ---- File ----
    MENU("file", "", "MEN_FILE", "F&ile"),
    ICON("file.diashow", "file", "MN1_FILE_DIASHOW", "DiaShow...", C::DiaShow, "media-playback-start"),
    ICON("file.open", "file", "MN1_FILE_OPEN", "Open...", C::Open, "document-open"),
    NEEDS("file.openclip", "file", "MN1_FILE_OPENCLIP", "Open from Clipboard", C::OpenClip, nullptr, "kxoPNG"),
    ICON("file.saveas", "file", "MN1_FILE_SAVEAS", "Save As...", C::SaveAs, "document-save-as"),
    ICON("file.saveclip", "file", "MN1_FILE_SAVECLIP", "Save to Clipboard", C::SaveClip, "edit-copy"),
    MENU("file.import", "file", "MN1_FILE_IMPORT", "Import..."),
    MENU("file.import.image", "file.import", nullptr, "Image Data..."),
    NEEDS("file.import.image.raw", "file.import.image", nullptr, "RAW...", C::Import, "raw", "kxoRAW_Import"),
    // dcraw's output is read by the PNM or the TIFF reader.
    NEEDS("file.import.image.dcraw", "file.import.image", nullptr, "DCRAW (ext) ...", C::Import, "dcraw", "kxoDCRAW;kxoPNM"),
    NEEDS("file.import.alpha", "file.import", nullptr, "Alpha Channel...", C::ImportAlpha, nullptr, "kxpAddAlpha"),
    MENU("file.import.meta", "file.import", nullptr, "Meta Data..."),
    OFF("file.import.meta.iff", "file.import.meta", nullptr, "IFF-META"),
    MENU("file.import.meta.rawmeta", "file.import.meta", nullptr, "RAWMeta..."),
    OFF("file.import.meta.rawmeta.exif", "file.import.meta.rawmeta", nullptr, "EXIF"),
    OFF("file.import.meta.rawmeta.iptc", "file.import.meta.rawmeta", nullptr, "IPTC"),
    ITEMA("file.import.meta.rawmeta.xmp", "file.import.meta.rawmeta", nullptr, "XMP", C::Import, "xmp"),
    ITEMA("file.import.meta.icc", "file.import.meta", nullptr, "ICCP CMS Data", C::Colour, "import"),
    OFF("file.import.meta.exiftool", "file.import.meta", nullptr, "ExifTool (ext)..."),
    MENU("file.export", "file", "MN1_FILE_EXPORT", "Export..."),
    NEEDS("file.export.image", "file.export", nullptr, "Image Data...", C::InfoNote, "TXT_INFO_SAVE_RAW", "kxoRAW"),
    ITEM("file.export.alpha", "file.export", nullptr, "Alpha Channel...", C::ExportAlpha),
    MENU("file.export.meta", "file.export", nullptr, "Meta Data..."),
    OFF("file.export.meta.iff", "file.export.meta", nullptr, "IFF-META"),
    NEEDS("file.export.meta.rawmeta", "file.export.meta", nullptr, "RAWMeta", C::InfoNote, "TXT_INFO_SAVE_RAWMETA", "kxoRAWMeta"),
    ITEMA("file.export.meta.icc", "file.export.meta", nullptr, "ICCP CMS Data...", C::Colour, "export"),
    OFF("file.export.meta.exiftool", "file.export.meta", nullptr, "ExifTool (ext)"),
    ITEM("file.printersetup", "file", "MN1_FILE_PRINTERSETUP", "Printer Setup...", C::PrinterSetup),
    ICON("file.printpreview", "file", "MN1_FILE_PRINTPREVIEW", "Print Preview", C::PrintPreview, "document-print-preview"),
    ICON("file.print", "file", "MN1_FILE_PRINT", "Print", C::Print, "document-print"),
    MENU("file.imageacq", "file", "MN1_FILE_IMAGEACQ", "Image Acquisition"),
    // Scans arrive as PNG files.
    NEEDS("file.imageacq.scanner", "file.imageacq", nullptr, "Scanner", C::Acquire, "scanner", "kxoPNG"),
    NEEDS("file.imageacq.camera", "file.imageacq", nullptr, "Camera", C::Acquire, "camera", "kxoPNG"),
    ICON("file.exit", "file", "MN1_FILE_EXIT", "Exit", C::Exit, "application-exit"),

    // ---- Edit ----
    MENU("edit", "", "MEN_EDIT", "&Edit"),
    // Undo steps are RGFX files.
    {"edit.undo", "edit", "MN2_EDIT_UNDO", "Undo", "Ctrl+Z", "edit-undo", K::Item, C::Undo, -1, nullptr, nullptr, 0, "kxoRGFX"},
    SEP("edit"),
    // The area dialog cuts its area out with Crop; a pasted area goes back
    // through AnyTo24Bit and Paste.
    NEEDS("edit.mark", "edit", "MN2_EDIT_MARK", "Mark", C::Mark, nullptr, "kxpCrop"),
    NEEDS("edit.cut", "edit", "MN2_EDIT_CUT", "Cut", C::AreaCut, nullptr, "kxpCrop;kxpCut"),
    ICON("edit.copy", "edit", "MN2_EDIT_COPY", "Copy", C::SaveClip, "edit-copy"),
    NEEDS("edit.paste", "edit", "MN2_EDIT_PASTE", "Paste", C::Paste, nullptr, "kxoPNG;kxpAnyTo24Bit;kxpPaste"),
    SEP("edit"),
    NEEDS("edit.crop", "edit", "MN2_EDIT_CROP", "Crop", C::AreaCrop, nullptr, "kxpCrop"),
    SEP("edit"),
    OFF("edit.cutalpha", "edit", "MN2_EDIT_CUTALPHA", "Cut Alpha"),
    NEEDS("edit.copyalpha", "edit", "MN2_EDIT_COPYALPHA", "Copy Alpha", C::CopyAlpha, nullptr, "kxpExtractAlpha"),
    OFF("edit.pastealpha", "edit", "MN2_EDIT_PASTEALPHA", "Paste Alpha"),

    // ---- Image ----
    MENU("image", "", "MEN_IMAGE", "Image"),
    ICON("image.view", "image", "MN3_IMAGE_VIEW", "View", C::View, "zoom-fit-best"),
    MENU("rot", "image", "MN3_IMAGE_ROTATEFLIPMIRROR", "Rotate/Flip/Mirror"),
    {"rot.90", "rot", nullptr, "Rotate 90 deg", "R", "object-rotate-right", K::Item, C::Operator, KXOP_ROTATE, "DEGREES=270", nullptr, 0},
    OP("rot.180", "rot", "Rotate 180 deg", KXOP_ROTATE, "DEGREES=180"),
    {"rot.270", "rot", nullptr, "Rotate 270 deg", "L", "object-rotate-left", K::Item, C::Operator, KXOP_ROTATE, nullptr, nullptr, 0},
    DLG("rot.free", "rot", "Rotate freely", KXOP_ROTATEFREE, "kxpResize"),
    OPF("rot.flipx", "rot", "Flip X (LeftToRight)", KXOP_LEFTTORIGHT, nullptr, QuietError),
    OPF("rot.flipy", "rot", "FlipY (TopToBottom)", KXOP_TOPTOBOTTOM, nullptr, QuietError),
    MENU("rot.mirror", "rot", nullptr, "Mirror"),
    OP("rot.mirror.point", "rot.mirror", "Point", KXOP_MIRROR, "MIRRORMODE=ZEROPOINT"),
    OP("rot.mirror.x", "rot.mirror", "X-Axis", KXOP_MIRROR, "MIRRORMODE=X_AXIS"),
    OP("rot.mirror.y", "rot.mirror", "Y-Axis", KXOP_MIRROR, "MIRRORMODE=Y_AXIS"),
    MENU("rot.mirrorcopy", "rot", nullptr, "Mirror Copy"),
    OP("rot.mirrorcopy.vu", "rot.mirrorcopy", "Vert Upper Copy", KXOP_MIRRORCOPY, "MIRRORMODE=VERTUPPER"),
    OP("rot.mirrorcopy.vl", "rot.mirrorcopy", "Vert Lower Copy", KXOP_MIRRORCOPY, "MIRRORMODE=VERTLOWER"),
    OP("rot.mirrorcopy.hl", "rot.mirrorcopy", "Horiz Left Copy", KXOP_MIRRORCOPY, "MIRRORMODE=HORIZLEFT"),
    OP("rot.mirrorcopy.hr", "rot.mirrorcopy", "Horiz Right Copy", KXOP_MIRRORCOPY, "MIRRORMODE=HORIZRIGHT"),
    NEEDS("rot.fixorientation", "rot", nullptr, "Fix Orientation (using Meta)", C::FixOrientation, nullptr, "kxpRotate;kxpLeftToRight"),

    MENU("size", "image", "MN3_IMAGE_SIZECHANGING", "Size Changing"),
    {"size.halve", "size", nullptr, "Halve Size", "-", "zoom-out", K::Item, C::Operator, KXOP_SCALE50, "METHOD=HALF", nullptr, DropAreaFirst},
    {"size.double", "size", nullptr, "Double Size", "+", "zoom-in", K::Item, C::Operator, KXOP_SCALE50, "METHOD=DOUBLE", nullptr, DropAreaFirst},
    DLG("size.free", "size", "Free Scaling", KXOP_RESIZE, "kxpResizeDDA"),

    MENU("shape", "image", "MN3_IMAGE_SHAPING", "Shaping"),
    OP("shape.autoborder", "shape", "AutoBorder (Strip)", KXOP_AUTOBORDER, nullptr),
    MENU("shape.addborder", "shape", nullptr, "AddBorder (Frame)"),
    OP("shape.addborder.8", "shape.addborder", "8", KXOP_ADDBORDER, "LEFT_WIDTH=8;RIGHT_WIDTH=8;TOP_WIDTH=8;BOTTOM_WIDTH=8"),
    OP("shape.addborder.32", "shape.addborder", "32", KXOP_ADDBORDER, "LEFT_WIDTH=32;RIGHT_WIDTH=32;TOP_WIDTH=32;BOTTOM_WIDTH=32"),
    OP("shape.addborder.64", "shape.addborder", "64", KXOP_ADDBORDER, "LEFT_WIDTH=64;RIGHT_WIDTH=64;TOP_WIDTH=64;BOTTOM_WIDTH=64"),
    NEEDS("shape.cropselect", "shape", nullptr, "Crop (Select)", C::ShapeArea, "crop", "kxpCrop"),
    NEEDS("shape.cuterase", "shape", nullptr, "Cut (Erase)", C::ShapeArea, "cut", "kxpCrop;kxpCut"),
    NEEDS("shape.cutinverse", "shape", nullptr, "Cut Inverse (Erase)", C::ShapeArea, "cutinverse", "kxpCrop;kxpCutInverse"),

    MENU("depth", "image", "MN3_IMAGE_COLORDEPTH", "Color Depth"),
    MENU("depth.1bit", "depth", nullptr, "Convert to 1 Bit (b+w)"),
    OP("depth.1bit.black", "depth.1bit", "Background: black", KXOP_HILBERTDITHER256, "BACKGROUND=BLACK"),
    OP("depth.1bit.white", "depth.1bit", "Background: white", KXOP_HILBERTDITHER256, "BACKGROUND=WHITE"),
    MENU("depth.8bit", "depth", nullptr, "Convert to 8 Bit"),
    MENU("depth.8bit.bestpen", "depth.8bit", nullptr, "Best Pen"),
    DITHER("depth.8bit.bestpen.1", "depth.8bit.bestpen", "1 bit", "1,0"),
    DITHER("depth.8bit.bestpen.2", "depth.8bit.bestpen", "2 bit", "2,0"),
    DITHER("depth.8bit.bestpen.3", "depth.8bit.bestpen", "3 bit", "3,0"),
    DITHER("depth.8bit.bestpen.4", "depth.8bit.bestpen", "4 bit", "4,0"),
    DITHER("depth.8bit.bestpen.5", "depth.8bit.bestpen", "5 bit", "5,0"),
    DITHER("depth.8bit.bestpen.6", "depth.8bit.bestpen", "6 bit", "6,0"),
    DITHER("depth.8bit.bestpen.7", "depth.8bit.bestpen", "7 bit", "7,0"),
    DITHER("depth.8bit.bestpen.8", "depth.8bit.bestpen", "8 bit", "8,0"),
    MENU("depth.8bit.fs", "depth.8bit", nullptr, "Floyd-Steinberg"),
    DITHER("depth.8bit.fs.1", "depth.8bit.fs", "1 bit", "1,1"),
    DITHER("depth.8bit.fs.2", "depth.8bit.fs", "2 bit", "2,1"),
    DITHER("depth.8bit.fs.3", "depth.8bit.fs", "3 bit", "3,1"),
    DITHER("depth.8bit.fs.4", "depth.8bit.fs", "4 bit", "4,1"),
    DITHER("depth.8bit.fs.5", "depth.8bit.fs", "5 bit", "5,1"),
    DITHER("depth.8bit.fs.6", "depth.8bit.fs", "6 bit", "6,1"),
    DITHER("depth.8bit.fs.7", "depth.8bit.fs", "7 bit", "7,1"),
    DITHER("depth.8bit.fs.8", "depth.8bit.fs", "8 bit", "8,1"),
    DLG("depth.8bit.reference", "depth.8bit", "Reference Image (Palette) ...", KXOP_PALETTEDITHER, "kxpResize;kxpAnyTo24Bit"),
    DLG("depth.8bit.alloptions", "depth.8bit", "All Options...", KXOP_DITHER24BIT, "kxpResize;kxpDitherFix24"),
    OPF("depth.24", "depth", "Convert to 24 Bit", KXOP_ANYTO24BIT, nullptr, QuietError),
    OP("depth.48", "depth", "Convert to 48 Bit", KXOP_ANYTO48BIT, nullptr),

    MENU("palette", "image", "MN3_IMAGE_COLORPALETTE", "Color Palette"),
    DLG("palette.editor", "palette", "Palette Editor...", -1, "kxpResize"),
    ITEM("palette.browser", "palette", nullptr, "Palette Browser...", C::ColourBrowser),
    ITEM("palette.increase", "palette", nullptr, "Increase Palette Depth", C::IncreasePaletteDepth),
    OP("palette.optimize", "palette", "Optimize Palette", KXOP_OPTIMIZEPALETTE, nullptr),
    OP("palette.invert", "palette", "Invert Palette Order", KXOP_INVERTCOLORS256, ""),

    MENU("adjust", "image", "MN3_IMAGE_COLORADJUSTMENT", "Color Adjustment"),
    DLG("adjust.brightness", "adjust", "Brightness", KXOP_BRIGHTNESS, "kxpResize"),
    DLG("adjust.contrast", "adjust", "Contrast", KXOP_CONTRAST, "kxpResize"),
    DLG("adjust.gamma", "adjust", "Gamma (simple)", KXOP_GAMMA, "kxpResize"),
    // The dialog's preview scales with Resize and widens palettes with AnyTo24Bit.
    NEEDS("adjust.colorimetry", "adjust", nullptr, "Colorimetry / Gamma", C::Colour, "colorimetry", "kxpResize;kxpAnyTo24Bit"),

    MENU("manip", "image", "MN3_IMAGE_COLORMANIPULATION", "Color Manipulation"),
    DLG("manip.grey", "manip", "Convert to Greyscale...", KXOP_EXTRACTGRAYSCALES, "kxpResize"),
    DLG("manip.graytablet", "manip", "Gray Tablet...", KXOP_SELECTGRAYSCALES, "kxpResize"),
    DLG("manip.antique", "manip", "Convert to Antique", KXOP_ANTIQUE, "kxpResize"),
    DLG("manip.redeye", "manip", "Red Eye Fix", KXOP_REDEYEFIX, nullptr),
    MENU("manip.negative", "manip", nullptr, "Negative"),
    OP("manip.negative.complement", "manip.negative", "Complement", KXOP_COMPLEMENT, ""),
    OP("manip.negative.negate", "manip.negative", "Negate", KXOP_NEGATE, ""),
    DLG("manip.xor", "manip", "XOr Transformation...", KXOP_XOR, "kxpResize"),

    MENU("comp", "image", "MN3_IMAGE_COLORCOMPONENTS", "Color Components"),
    MENU("comp.extract", "comp", nullptr, "ExtractChannel..."),
    OP("comp.extract.red", "comp.extract", "ExtractRed", KXOP_EXTRACTRED, nullptr),
    OP("comp.extract.green", "comp.extract", "ExtractGreen", KXOP_EXTRACTGREEN, nullptr),
    OP("comp.extract.blue", "comp.extract", "ExtractBlue", KXOP_EXTRACTBLUE, nullptr),
    MENU("comp.cycle", "comp", nullptr, "Color Cycle"),
    OP("comp.cycle.gbr", "comp.cycle", "GBR", KXOP_COLORCYCLE, "INDEX=1"),
    OP("comp.cycle.brg", "comp.cycle", "BRG", KXOP_COLORCYCLE, "INDEX=2"),
    OP("comp.cycle.bgr", "comp.cycle", "BGR", KXOP_COLORCYCLE, "INDEX=3"),
    OP("comp.cycle.grb", "comp.cycle", "GRB", KXOP_COLORCYCLE, "INDEX=4"),
    OP("comp.cycle.rbg", "comp.cycle", "RBG", KXOP_COLORCYCLE, "INDEX=5"),
    DLG("comp.resetchannel", "comp", "Set/ResetChannel...", KXOP_RESETCHANNEL, "kxpResize"),

    MENU("alpha", "image", "MN3_IMAGE_ALPHACHANNEL", "Alpha Channel"),
    DLG("alpha.tablet", "alpha", "Alpha Tablet...", KXOP_ALPHABLEND, "kxpResize;kxpAddAlpha;kxpAnyTo24Bit"),
    DLG("alpha.add", "alpha", "Add Alpha...", KXOP_ADDALPHA, "kxpResize;kxpAnyTo24Bit"),
    OP("alpha.extract", "alpha", "Extract Alpha", KXOP_EXTRACTALPHA, nullptr),
    OP("alpha.invert", "alpha", "Invert Alpha", KXOP_INVERTALPHA, nullptr),
    OP("alpha.strip", "alpha", "Strip Alpha", KXOP_STRIPALPHA, nullptr),
    OP("alpha.optimize", "alpha", "OptimizeAlpha", KXOP_OPTIMIZEALPHA, nullptr),

    MENU("proc", "image", "MN3_IMAGE_IMAGEPROCESSING", "Image Processing..."),
    OP("proc.blur", "proc", "Blur", KXOP_BLUR, nullptr),
    MENU("proc.convolution", "proc", nullptr, "Convolution..."),
    DLG("proc.convolution.3", "proc.convolution", "Convolve 3x3", KXOP_CONVOLVE, "kxpResize;kxpAnyTo24Bit;kxpAddBorder;kxpAutoBorder"),
    DLG("proc.convolution.3f", "proc.convolution", "Convolve 3x3 Float", KXOP_CONVOLVEFLOAT, "kxpResize;kxpAnyTo24Bit;kxpAddBorder;kxpAutoBorder"),
    DLG("proc.convolution.5", "proc.convolution", "Convolve 5x5", KXOP_CONVOLVENXN, "kxpResize;kxpAnyTo24Bit;kxpAddBorder;kxpAutoBorder"),
    DLG("proc.convolution.7", "proc.convolution", "Convolve 7x7", KXOP_CONVOLVENXN, "kxpResize;kxpAnyTo24Bit;kxpAddBorder;kxpAutoBorder"),
    DLG("proc.convolution.9", "proc.convolution", "Convolve 9x9", KXOP_CONVOLVENXN, "kxpResize;kxpAnyTo24Bit;kxpAddBorder;kxpAutoBorder"),
    DLG("proc.sharpen", "proc", "Sharpen", KXOP_SHARPEN, nullptr),
    MENU("proc.median", "proc", nullptr, "Median..."),
    OP("proc.median.lower", "proc.median", "Lower", KXOP_MEDIAN, "METHOD=LOWER"),
    OP("proc.median.median", "proc.median", "Median", KXOP_MEDIAN, "METHOD=MEDIAN"),
    OP("proc.median.upper", "proc.median", "Upper", KXOP_MEDIAN, "METHOD=UPPER"),
    MENU("proc.edge", "proc", nullptr, "EdgeDetect..."),
    OP("proc.edge.bright", "proc.edge", "Bright", KXOP_CONVOLVE, "MATRIX_FILE=@Convolve/EdgeDetect_White.controlpad"),
    OP("proc.edge.normal", "proc.edge", "Normal", KXOP_CONVOLVE, "MATRIX_FILE=@Convolve/Edge_Strong.controlpad"),
    OP("proc.edge.dark", "proc.edge", "Dark", KXOP_CONVOLVE, "MATRIX_FILE=@Convolve/EdgeDetect_Inverse.controlpad"),
    MENU("proc.emboss", "proc", nullptr, "Emboss..."),
    OP("proc.emboss.low", "proc.emboss", "Low", KXOP_CONVOLVE, "MATRIX_FILE=@Convolve/Emboss_Low.controlpad"),
    OP("proc.emboss.medium", "proc.emboss", "Medium", KXOP_CONVOLVE, "MATRIX_FILE=@Convolve/Emboss_Medium.controlpad"),
    OP("proc.emboss.high", "proc.emboss", "High", KXOP_CONVOLVE, "MATRIX_FILE=@Convolve/Emboss_High.controlpad"),
    MENU("proc.prewitt", "proc", nullptr, "Prewitt..."),
    OP("proc.prewitt.horiz", "proc.prewitt", "Horiz", KXOP_CONVOLVE, "MATRIX_FILE=@Convolve/Prewitt.controlpad"),
    OP("proc.prewitt.vert", "proc.prewitt", "Vert", KXOP_CONVOLVE, "MATRIX_FILE=@Convolve/Prewitt_Vert.controlpad"),
    MENU("proc.sobel", "proc", nullptr, "Sobel..."),
    OP("proc.sobel.horiz", "proc.sobel", "Horiz", KXOP_CONVOLVE, "MATRIX_FILE=@Convolve/Sobel.controlpad"),
    OP("proc.sobel.vert", "proc.sobel", "Vert", KXOP_CONVOLVE, "MATRIX_FILE=@Convolve/Sobel_vert.controlpad"),
    ITEM("proc.fulllist", "proc", nullptr, "Operator Full List...", C::OperatorList),

    MENU("effects", "image", "MN3_IMAGE_IMAGEEFFECTS", "Image Effects..."),
    DLG("effects.watermark", "effects", "Watermark...", KXOP_ALPHABLEND, "kxpResize;kxpAddAlpha;kxpAnyTo24Bit;kxpStripAlpha"),
    MENU("effects.mosaic", "effects", nullptr, "Mosaic"),
    OP("effects.mosaic.2", "effects.mosaic", "2", KXOP_MOSAIC, "BLOCKS=32"),
    OP("effects.mosaic.4", "effects.mosaic", "4", KXOP_MOSAIC, "BLOCKS=16"),
    OP("effects.mosaic.8", "effects.mosaic", "8", KXOP_MOSAIC, "BLOCKS=8"),
    OP("effects.mosaic.16", "effects.mosaic", "16", KXOP_MOSAIC, "BLOCKS=4"),
    OP("effects.mosaic.32", "effects.mosaic", "32", KXOP_MOSAIC, "BLOCKS=2"),
    DLG("effects.tiling", "effects", "Tiling...", KXOP_TILING, "kxpResize"),
    OP("effects.oilpaint", "effects", "OilPaint", KXOP_OILPAINT, nullptr),
    OP("effects.digipaint", "effects", "DigiPaint", KXOP_DIGIPAINT, nullptr),
    {"effects.waxpaint", "effects", nullptr, "WaxPaint", nullptr, nullptr, K::Item, C::Chain, KXOP_CONVOLVE,
     "MATRIX_FILE=@Convolve/Mosaic_Stripes.controlpad", "proc.blur;proc.blur", 0},
    {"effects.waterpaint", "effects", nullptr, "WaterPaint", nullptr, nullptr, K::Item, C::Chain, KXOP_CONVOLVE,
     "MATRIX_FILE=@Convolve/Mosaic_Stripes.controlpad", "proc.blur;effects.oilpaint", 0},
    MENU("effects.ghost", "effects", nullptr, "Ghost"),
    OP("effects.ghost.red", "effects.ghost", "Red", KXOP_GHOST, "GHOSTMODE=RED;GHOSTFACTOR=8"),
    OP("effects.ghost.green", "effects.ghost", "Green", KXOP_GHOST, "GHOSTMODE=GREEN;GHOSTFACTOR=8"),
    OP("effects.ghost.blue", "effects.ghost", "Blue", KXOP_GHOST, "GHOSTMODE=BLUE;GHOSTFACTOR=8"),
    MENU("effects.scatter", "effects", nullptr, "Scatter"),
    MENU("effects.scatter.x", "effects.scatter", nullptr, "X axis"),
    OP("effects.scatter.x.8", "effects.scatter.x", "x/factor 8", KXOP_SCATTER, "SCATTERMODE=X_AXIS;SCATTERFACTOR=8"),
    OP("effects.scatter.x.16", "effects.scatter.x", "x/factor 16", KXOP_SCATTER, "SCATTERMODE=X_AXIS;SCATTERFACTOR=16"),
    MENU("effects.scatter.y", "effects.scatter", nullptr, "Y axis"),
    OP("effects.scatter.y.8", "effects.scatter.y", "y/factor 8", KXOP_SCATTER, "SCATTERMODE=Y_AXIS;SCATTERFACTOR=8"),
    OP("effects.scatter.y.16", "effects.scatter.y", "y/factor 16", KXOP_SCATTER, "SCATTERMODE=Y_AXIS;SCATTERFACTOR=16"),
    OP("effects.slicing", "effects", "Slicing", KXOP_SLICING, ""),
    ITEM("effects.fulllist", "effects", nullptr, "Operator Full List...", C::OperatorList),

    MENU("repair", "image", "MN3_IMAGE_REPAIR", "Repair"),
    MENU("repair.nibbles", "repair", nullptr, "Flip Nibbles..."),
    OP("repair.nibbles.swap", "repair.nibbles", "Swap", KXOP_FLIPNIBBLES, "FLIPMODE=SWAP"),
    OP("repair.nibbles.minuslow", "repair.nibbles", "Minus Low", KXOP_FLIPNIBBLES, "FLIPMODE=MINUS_LOW"),
    OP("repair.nibbles.minushigh", "repair.nibbles", "Minus High", KXOP_FLIPNIBBLES, "FLIPMODE=MINUS_HIGH"),
    OP("repair.nibbles.shiftlow", "repair.nibbles", "Shift Low", KXOP_FLIPNIBBLES, "FLIPMODE=SHIFT_LOW"),
    OP("repair.nibbles.shifthigh", "repair.nibbles", "Shift High", KXOP_FLIPNIBBLES, "FLIPMODE=SHIFT_HIGH"),
    OP("repair.nibbles.doublelow", "repair.nibbles", "Double Low", KXOP_FLIPNIBBLES, "FLIPMODE=DOUBLE_LOW"),
    OP("repair.nibbles.doublehigh", "repair.nibbles", "Double High", KXOP_FLIPNIBBLES, "FLIPMODE=DOUBLE_HIGH"),
    ITEM("repair.endianswap", "repair", nullptr, "Endian Swap", C::EndianSwap),
    OP("repair.rgbbgr", "repair", "RGB <-> BGR", KXOP_COLORCYCLE, "INDEX=3"),

    MENU("info", "image", "MN3_IMAGE_IMAGEINFORMATION", "Image Information"),
    ITEM("info.gfxbuffer", "info", nullptr, "GfxBuffer Info", C::GfxInfo),
    ITEMA("info.colorspace", "info", nullptr, "ColorSpace Info", C::Colour, "colorspace"),
    ITEM("info.analyzer", "info", nullptr, "Color Analyzer...", C::ColourBrowser),
    MENU("info.histogram", "info", nullptr, "Histogram"),
    {"info.histogram.brightness", "info.histogram", nullptr, "Brightness", nullptr, nullptr, K::Item, C::Chain, KXOP_HISTOGRAM,
     "MODE=BRIGHTNESS", "rot.270", 0},
    OP("info.histogram.colors", "info.histogram", "Colors", KXOP_HISTOGRAM, "MODE=COLOR"),
    ITEM("info.striphamehb", "info", nullptr, "Strip HAM/EHB Info", C::StripHamEhb),

    MENU("meta", "image", "MN3_IMAGE_METAINFORMATION", "Meta Information"),
    ITEM("meta.show", "meta", nullptr, "Show EXIF/IPTC/XMP/...", C::ShowMeta),
    ITEM("meta.strip", "meta", nullptr, "Strip Meta/ICC Profile", C::StripMeta),
    ITEM("meta.stripicc", "meta", nullptr, "Strip ICC Profile", C::StripMeta),
    ITEM("meta.applyicc", "meta", nullptr, "Strip + Apply ICC Profile (CMS)", C::ApplyStripIcc),

    // ---- Scripting ----
    MENU("scripting", "", "MEN_SCRIPTING", "Scripting"),
    OFF("scripting.editor", "scripting", "MN4_SCRIPTING_SCRIPTEDITOR", "Script Editor..."),

    // ---- Options ----
    MENU("options", "", "MEN_OPTIONS", "Options"),
    ICON("options.program", "options", "MN5_OPTIONS_PROGRAMSETTINGS", "Program Settings...", C::ProgramSettings, "preferences-system"),
    ITEM("options.filters", "options", "MN5_OPTIONS_IMAGEFILTERDEFAULTS", "Image Filter Defaults...", C::OperatorDefaults),
    ITEM("options.formats", "options", "MN5_OPTIONS_LOADERSAVERDEFAULTS", "Loader/Saver Defaults...", C::ObjectDefaults),

    // ---- Help ----
    MENU("help", "", "MEN_HELP", "Help"),
    MENU("help.local", "help", "MN6_HELP_LOCALDOCUMENTATION", "Local Documentation"),
    ITEMA("help.local.usage", "help.local", nullptr, "Usage", C::HelpFile, "Usage.txt"),
    ITEMA("help.local.features", "help.local", nullptr, "Features", C::HelpFile, "Features.txt"),
    ITEMA("help.local.credits", "help.local", nullptr, "Credits", C::HelpFile, "Credits.txt"),
    ITEMA("help.local.history", "help.local", nullptr, "History", C::HelpFile, "Changes.txt"),
    ITEMA("help.local.legal", "help.local", nullptr, "Legal", C::HelpFile, "Kaxon5.txt"),
    ITEMA("help.manual", "help", "MN6_HELP_ONLINEMANUAL", "Online Manual", C::HelpUrl, "0"),
    ITEM("help.update", "help", "MN6_HELP_CHECKFORUPDATE", "Check for Update", C::CheckUpdate),
    ITEMA("help.addons", "help", "MN6_HELP_CHECKFORADDONS", "Check for Add-Ons", C::HelpUrl, "1"),
    ITEMA("help.support", "help", "MN6_HELP_ONLINESUPPORT", "Online Support", C::HelpUrl, "2"),
    ITEMA("help.author", "help", "MN6_HELP_VISITAUTHORWEBSITE", "Visit Author Website", C::HelpUrl, "3"),
    ITEM("help.about", "help", "MN6_HELP_ABOUT", "About", C::About),
    SEP("help"),
    ITEM("help.instance", "help", "MN6_HELP_PROGRAMINSTANCEINFO", "Program/Instance Info", C::InstanceInfo),
    ITEM("help.viewlog", "help", "MN6_HELP_VIEWLOG", "View Log...", C::ViewLog),
};

#undef MENU
#undef SEP
#undef ITEM
#undef ITEMA
#undef ICON
#undef OFF
#undef OP
#undef OPF
#undef DITHER
#undef DLG
#undef NEEDS

}  // namespace

const std::vector<ActionDef>& Table() { return kTable; }

bool Ready(const ActionDef& d) {
    if (d.kind != Kind::Item || d.cmd == Cmd::None) return false;
    if (d.op >= 0 && !KX_OperatorIsBuilt(uint32_t(d.op))) return false;
    for (const QString& cls : QString::fromLatin1(d.needs).split(';', Qt::SkipEmptyParts))
        if (!KX_IsBuilt(cls.toLatin1().constData())) return false;
    if (d.cmd == Cmd::Chain)
        for (const QString& id : QString::fromLatin1(d.arg).split(';', Qt::SkipEmptyParts)) {
            const ActionDef* next = Find(id);
            if (!next || !Ready(*next)) return false;
        }
    return true;
}

bool NeedsPicture(const ActionDef& d) {
    if (d.kind != Kind::Item) return false;
    switch (d.cmd) {
    case Cmd::Operator:
    case Cmd::Chain:
    case Cmd::Dither:
    case Cmd::Dialog:
    case Cmd::SaveAs:
    case Cmd::SaveClip:
    case Cmd::ImportAlpha:
    case Cmd::ExportAlpha:
    case Cmd::View:
    case Cmd::FixOrientation:
    case Cmd::IncreasePaletteDepth:
    case Cmd::EndianSwap:
    case Cmd::StripHamEhb:
    case Cmd::StripMeta:
    case Cmd::ApplyStripIcc:
    case Cmd::CopyAlpha:
    case Cmd::PrintPreview:
    case Cmd::Print:
    case Cmd::Mark:
    case Cmd::AreaCut:
    case Cmd::AreaCrop:
    case Cmd::ShapeArea:
    case Cmd::GfxInfo:
    case Cmd::OperatorList:
    case Cmd::ColourBrowser:
    case Cmd::Colour:
    case Cmd::ShowMeta:
        return true;
    // The XMP import fills the current picture's record; RAW and dcraw
    // bring a new picture.
    case Cmd::Import:
        return d.arg && QLatin1String(d.arg) == QLatin1String("xmp");
    default:
        // Paste without an area opens the clipboard as a new picture.
        return false;
    }
}

const ActionDef* Find(const QString& id) {
    for (const ActionDef& d : kTable)
        if (d.kind != Kind::Separator && id == QLatin1String(d.id)) return &d;
    return nullptr;
}

void BuildMenus(QMenuBar* bar, QHash<QString, QAction*>& actions, QHash<QString, QMenu*>& menus) {
    for (const ActionDef& d : kTable) {
        const QString parent = QString::fromLatin1(d.parent);
        QMenu* into = parent.isEmpty() ? nullptr : menus.value(parent);
        if (!parent.isEmpty() && !into) continue;  // a parent must come first
        switch (d.kind) {
        case Kind::Separator:
            into->addSeparator();
            break;
        case Kind::Menu: {
            QMenu* m = into ? into->addMenu(QString::fromUtf8(d.text)) : bar->addMenu(QString::fromUtf8(d.text));
            m->setObjectName(QString::fromLatin1(d.id));
            menus.insert(QString::fromLatin1(d.id), m);
            actions.insert(QString::fromLatin1(d.id), m->menuAction());
            break;
        }
        case Kind::Item: {
            QAction* a = into->addAction(QString::fromUtf8(d.text));
            a->setObjectName(QString::fromLatin1(d.id));
            if (d.icon) a->setIcon(QIcon::fromTheme(QString::fromLatin1(d.icon)));
            // The keys are the window's own (see the key handler); menu
            // entries show none.
            a->setEnabled(Ready(d));
            actions.insert(QString::fromLatin1(d.id), a);
            break;
        }
        }
    }
}

}  // namespace kxactions
