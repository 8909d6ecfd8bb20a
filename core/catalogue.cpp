// catalogue: the one table of every operator and format class, in table
// order, with its registration and the factory that builds its object.
// A module that is not built yet has a placeholder factory: the object
// carries the real registration and loads its pad, recognises nothing and
// answers every other operation with KXERR_NOTSUPPORTED. A module's own
// source replaces only its line's factory with KX_MakeOperator<kxpXYZ> or
// KX_MakeObject<kxoXYZ>; numbers and table positions never move.
#include "catalogue.h"

#include <cstring>

#include "formats/iff/kxoILBM.h"
#include "formats/iff/kxoKGX.h"
#include "formats/iff/kxoRGFX.h"
#include "formats/libraries/kxoPNG.h"
#include "formats/raster/kxoBMP.h"
#include "formats/raster/kxoGIF.h"
#include "formats/raster/kxoPNM.h"
#include "operators/geometry/kxpCrop.h"
#include "operators/geometry/kxpCut.h"
#include "operators/geometry/kxpCutInverse.h"
#include "operators/geometry/kxpLeftToRight.h"
#include "operators/geometry/kxpMirror.h"
#include "operators/geometry/kxpMirrorCopy.h"
#include "operators/geometry/kxpPaste.h"
#include "operators/geometry/kxpResize.h"
#include "operators/geometry/kxpResizeDDA.h"
#include "operators/geometry/kxpRotate.h"
#include "operators/geometry/kxpRotateFree.h"
#include "operators/geometry/kxpScale50.h"
#include "operators/geometry/kxpTopToBottom.h"
#include "operators/colour/kxpAnyTo24Bit.h"
#include "operators/colour/kxpAnyTo48Bit.h"
#include "operators/colour/kxpDither24Bit.h"

namespace {

#define KXP(n, cls, pad, desc, caps) {n, cls, pad, desc, caps, KX_MakePlaceholderOperator}
// A built operator: the same row with its class as the factory.
#define KXPM(n, cls, pad, desc, caps, T) {n, cls, pad, desc, caps, KX_MakeOperator<T>}

const KXOperatorReg kOperators[] = {
    KXPM(0, "kxpAnyTo24Bit", "AnyTo24Bit.controlpad", "Converts input to 24 Bit.", 0x974, kxpAnyTo24Bit),
    KXPM(1, "kxpAnyTo48Bit", "AnyTo48Bit.controlpad", "Converts input to 48 Bit.", 0x974, kxpAnyTo48Bit),
    KXP(2, "kxpAutoBorder", "AutoBorder.controlpad", "Removes single-color borders.", 0x1CFC),
    KXP(3, "kxpBlur", "Blur.controlpad", "Apply Blur effect to a graphics.", 0x1830),
    KXPM(4, "kxpRotate", "Rotate.controlpad", "Apply Rotate effect to a graphics.", 0x1830, kxpRotate),
    KXP(5, "kxpExtractGrayScales", "ExtractGrayScales.controlpad", "Extracts GrayScale values from graphics.", 0x81C),
    KXP(6, "kxpAntique", "Antique.controlpad", "Antique color effect.", 0x81C),
    KXP(7, "kxpDitherFix24", "DitherFix24.controlpad", "Dithers 24 Bit to fixed palette.", 0x18),
    KXPM(8, "kxpDither24Bit", "Dither24Bit.controlpad", "Dithers 24 Bit to 256 colors or less.", 0x18, kxpDither24Bit),
    KXPM(9, "kxpScale50", "Scale50.controlpad", "Doubles/halves graphics size.", 0x1CFC, kxpScale50),
    KXP(10, "kxpOptimizePalette", "OptimizePalette.controlpad", "Palette optimization (redundancy reduction).", 0xC),
    KXP(11, "kxpExtractRed", "ExtractRed.controlpad", "Extracts RED channel values from graphics.", 0x81C),
    KXP(12, "kxpExtractGreen", "ExtractGreen.controlpad", "Extracts GREEN channel values from graphics.", 0x81C),
    KXP(13, "kxpExtractBlue", "ExtractBlue.controlpad", "Extracts BLUE channel values from graphics.", 0x81C),
    KXPM(14, "kxpResize", "Resize.controlpad", "Resizes a graphics by interpolation.", 0x1CFC, kxpResize),
    KXP(15, "kxpConvolve", "Convolve.controlpad", "An integer 3x3 convolution matrix operator.", 0x1830),
    KXP(16, "kxpConvolveFloat", "ConvolveFloat.controlpad", "A floating point 3x3 convolution matrix operator.", 0x1830),
    KXP(17, "kxpConvolveNxN", "ConvolveNxN.controlpad", "An integer NxN convolution matrix operator.", 0x1830),
    KXP(18, "kxpExtractAlpha", "ExtractAlpha.controlpad", "Extracts Alpha Channel as 8 bit grayscales.", 0x858),
    KXP(19, "kxpInvertAlpha", "InvertAlpha.controlpad", "Invert Alpha Channel/Map of 8/24/48 bit graphics.", 0x18FC),
    KXP(20, "kxpStripAlpha", "StripAlpha.controlpad", "Strips AlphaChannel/Map/TransparentColor from graphics.", 0x187C),
    KXPM(21, "kxpCrop", "Crop.controlpad", "Crops graphics.", 0x1CFC, kxpCrop),
    KXPM(22, "kxpPaste", "Paste.controlpad", "Pastes graphics.", 0x1CFC, kxpPaste),
    KXPM(23, "kxpCut", "Cut.controlpad", "Cuts part out of graphics.", 0x18FC, kxpCut),
    KXP(24, "kxpSharpen", "Sharpen.controlpad", "Apply Sharpen operator to a graphics.", 0x1830),
    KXPM(25, "kxpLeftToRight", "LeftToRight.controlpad", "Also known as FlipX", 0x18FC, kxpLeftToRight),
    KXPM(26, "kxpTopToBottom", "TopToBottom.controlpad", "Also known as FlipY.", 0x18FC, kxpTopToBottom),
    KXPM(27, "kxpRotateFree", "RotateFree.controlpad", "Rotates graphics freely.", 0x1CFC, kxpRotateFree),
    KXP(28, "kxpRedEyeFix", "RedEyeFix.controlpad", "Attempts to fix redeye defects locally.", 0x1830),
    KXPM(29, "kxpMirror", "Mirror.controlpad", "Mirrors an image in 3 different ways.", 0x18FC, kxpMirror),
    KXPM(30, "kxpMirrorCopy", "MirrorCopy.controlpad", "Mirrors an image in 4 different ways.", 0x18FC, kxpMirrorCopy),
    KXP(31, "kxpBrightness", "Brightness.controlpad", "Adjusts brightness.", 0x18FC),
    KXP(32, "kxpContrast", "Contrast.controlpad", "Adjusts contrast.", 0x18FC),
    KXP(33, "kxpMosaic", "Mosaic.controlpad", "Mosaic effect.", 0x183C),
    KXPM(34, "kxpCutInverse", "CutInverse.controlpad", "CutInverses inverse part of graphics.", 0x18FC, kxpCutInverse),
    KXP(35, "kxpColorCycle", "ColorCycle.controlpad", "Cycle R,G,B values in color map or pixels.", 0x18FC),
    KXP(36, "kxpGhost", "Ghost.controlpad", "Apply Ghost effect to a graphics.", 0x1830),
    KXP(37, "kxpGamma", "Gamma.controlpad", "Applies Gamma correction.", 0x18FC),
    KXP(38, "kxpHilbertDither256", "HilbertDither256.controlpad", "Dithers upto 256 Colors to Black & White.", 0xC),
    KXP(39, "kxpScatter", "Scatter.controlpad", "Scatters graphics by given factor.", 0x18FC),
    KXP(40, "kxpComplement", "Complement.controlpad", "Build complement of graphics (almost similar to negating).", 0x18FC),
    KXP(41, "kxpNegate", "Negate.controlpad", "Negate color/pixel values of graphics.", 0x18FC),
    KXP(42, "kxpOilPaint", "OilPaint.controlpad", "Apply OilPaint effect to a graphics.", 0x1830),
    KXP(43, "kxpDigiPaint", "DigiPaint.controlpad", "Apply DigiPaint effect to a graphics.", 0x1830),
    KXP(44, "kxpResetChannel", "ResetChannel.controlpad", "Reset color channel of graphics (to given value).", 0x18FC),
    KXP(45, "kxpAddBorder", "AddBorder.controlpad", "Adds single-color borders.", 0x1CFC),
    KXP(46, "kxpReplaceBorder", "ReplaceBorder.controlpad", "Replaces single-colored borders (frames).", 0x18FC),
    KXP(47, "kxpHistogram", "Histogram.controlpad", "Counts colors in 24/48 bit.", 0x18F0),
    KXP(48, "kxpPaletteDither", "PaletteDither.controlpad", "Dithers 24 Bit to given palette.", 0x18),
    KXP(49, "kxpAddAlpha", "AddAlpha.controlpad", "Add Alpha Channel to 24/48 bit graphics.", 0x18B0),
    KXP(50, "kxpFlipNibbles", "FlipNibbles.controlpad", "Flips Nibbles of pixel/component bytes/words.", 0x18FC),
    KXP(51, "kxpXOr", "XOr.controlpad", "XOr color effect.", 0x81C),
    KXP(52, "kxpAlphaBlend", "AlphaBlend.controlpad", "Alpha-blend two graphics using either alpha.", 0x18F0),
    KXP(53, "kxpInvertColors256", "InvertColors256.controlpad", "InvertColors256 color effect.", 0x81C),
    KXPM(54, "kxpResizeDDA", "ResizeDDA.controlpad", "ResizeDDAs a graphics by interpolation.", 0x1CFC, kxpResizeDDA),
    KXP(55, "kxpMedian", "Median.controlpad", "Apply Median effect to a graphics.", 0x1830),
    KXP(56, "kxpTiling", "Tiling.controlpad", "Apply Tile-breaking effect to image.", 0x183C),
    KXP(57, "kxpSlicing", "Slicing.controlpad", "Apply slicing effect to image.", 0x183C),
    KXP(58, "kxpOptimizeAlpha", "OptimizeAlpha.controlpad", "Remove alpha information if full opaque.", 0x18FC),
    KXP(59, "kxpAlphaTo8Bit", "AlphaTo8Bit.controlpad", "Convert alpha channel from 16 bit to 8 bit.", 0x18FC),
    KXP(60, "kxpAlphaTo16Bit", "AlphaTo16Bit.controlpad", "Convert alpha channel from 8 bit to 16 bit.", 0x18FC),
    KXP(61, "kxpSelectGrayScales", "SelectGrayScales.controlpad", "Turns graphics to gray except selected color range.", 0x81C),
};

#undef KXP
#undef KXPM

// Columns: class, pad, format name, subtypes offered, subtypes registered,
// names, ids, capability word, reader / writer / device-reader position
// (-1: not in that table), factory. Where fewer subtypes are offered than
// registered, the writer still knows the extra id.
#define S(...) {__VA_ARGS__}
#define PH KX_MakePlaceholderObject

const KXFormatReg kFormats[] = {
    {"kxoBMP", "BMP.controlpad", "BMP", 2, 2, S("v1-v4", "v5"), S(0, 1), 0x23F805, 0, 0, -1, KX_MakeObject<kxoBMP>},
    {"kxoC64", "C64.controlpad", "C64", 4, 4, S("Koala", "Doodle", "GEOS", "GODOT/4BT"), S(0, 1, 2, 3), 0x20801, 1, -1, -1, PH},
    {"kxoDEG", "Degas.controlpad", "Degas", 6, 6, S("(PI1)", "(PI2)", "(PI3)", "(PC1)", "(PC2)", "(PC3)"), S(0, 1, 2, 3, 4, 5), 0x20801, 2, -1, -1, PH},
    {"kxoFBM", "FBM.controlpad", "FBM", 1, 1, S("(Fuzzy BM)"), S(0), 0xE7805, 3, 1, -1, PH},
    {"kxoGIF", "GIF.controlpad", "GIF", 2, 2, S("87a", "89a"), S(0, 1), 0x21805, 4, 2, -1, KX_MakeObject<kxoGIF>},
    {"kxoILBM", "ILBM.controlpad", "ILBM", 2, 2, S("uncompressed", "CmpByteRun1"), S(0, 1), 0x2FF805, 5, 3, -1, KX_MakeObject<kxoILBM>},
    {"kxoIMG", "IMG.controlpad", "IMG", 3, 4, S("(HS 16)", "(HS 18)", "(XIMG v1)", "(XIMG v2)"), S(0, 1, 2, 3), 0x27805, 6, 34, -1, PH},
    {"kxoJFIF", "JFIF.controlpad", "JPEG", 2, 2, S("(IJG-JFIF)", "(SPIFF)"), S(0, 1), 0x227805, 7, 4, -1, PH},
    {"kxoMAC", "MAC.controlpad", "MAC", 1, 1, S("(MacP''nt)"), S(0), 0x21805, 8, 33, -1, PH},
    {"kxoPCD", "PCD.controlpad", "PCD", 1, 1, S(""), S(0), 0x22801, 9, -1, -1, PH},
    {"kxoPCP", "Pictor.controlpad", "PCP v2.0", 2, 2, S("uncompressed", "packed"), S(0, 1), 0x21805, 10, 35, -1, PH},
    {"kxoPCX", "PCX.controlpad", "PCX", 1, 1, S("V2.5-3.0"), S(0), 0x27805, 11, 5, -1, PH},
    {"kxoPICT", "PICT2.controlpad", "PICT2", 1, 1, S("(PCT)"), S(0), 0x27805, 12, 36, -1, PH},
    {"kxoPNG", "PNG.controlpad", "PNG", 1, 1, S("(PiNG)"), S(0), 0x2FF805, 13, 6, -1, KX_MakeObject<kxoPNG>},
    {"kxoPNM", "PNM.controlpad", "PNM", 2, 2, S("PPM (P6)", "PGM (P5)"), S(0, 1), 0xE7805, 14, 7, -1, KX_MakeObject<kxoPNM>},
    {"kxoQRT", "QRT.controlpad", "QRT", 1, 1, S("POV Raytracer"), S(0), 0x27805, 15, 8, -1, PH},
    {"kxoRAS", "RAS.controlpad", "RAS", 1, 1, S("(S'nRaster)"), S(0), 0x27805, 16, 9, -1, PH},
    {"kxoSCR", "Spectrum.controlpad", "Spectrum", 2, 2, S("(SCR)", "(TAP)"), S(0, 1), 0x20801, 17, -1, -1, PH},
    {"kxoSGI", "SGI.controlpad", "SGI", 1, 1, S("(RGB)"), S(0), 0x27805, 18, 10, -1, PH},
    {"kxoTGA", "TGA.controlpad", "TGA", 1, 1, S("(T'rga)"), S(0), 0x3F805, 19, 11, -1, PH},
    {"kxoTIFF", "TIFF.controlpad", "TIFF", 2, 3, S("V5.0", "V6.0", "EP (ISO)"), S(0, 1, 2), 0x2FF805, 20, 12, -1, PH},
    {"kxoTIM", "TIM.controlpad", "TIM", 1, 1, S("(PSX)"), S(0), 0x22801, 21, -1, -1, PH},
    {"kxoJPEG2000", "JPEG2000.controlpad", "JPEG2000", 2, 2, S("(JP2)", "(PGX)"), S(0, 1), 0x27805, 22, 13, -1, PH},
    {"kxoRGFX", "RGFX.controlpad", "RGFX", 2, 2, S("uncompressed", "ZIP-compressed"), S(0, 1), 0x2FF805, 23, 14, -1, KX_MakeObject<kxoRGFX>},
    {"kxoKGX", "KGX.controlpad", "KGX", 3, 3, S("old-style", "compressed", "uncompressed"), S(0, 1, 2), 0xFF805, 24, 15, -1, KX_MakeObject<kxoKGX>},
    {"kxoXPM", "XPM.controlpad", "XPM", 3, 3, S("v1", "v2", "v3"), S(0, 1, 2), 0x21805, 25, 16, -1, PH},
    {"kxoPSD", "PSD.controlpad", "PSD", 1, 1, S("(Ph'toSh'p)"), S(0), 0x3F805, 26, 17, -1, PH},
    {"kxoDDS", "DDS.controlpad", "DDS", 1, 1, S("(MS DX10)"), S(0), 0xFF805, 27, 18, -1, PH},
    {"kxoLJPG", "LJPG.controlpad", "LJPG", 1, 1, S("(JPEG-LS)"), S(0), 0x27805, 28, 19, -1, PH},
    {"kxoXWD", "XWD.controlpad", "XWD", 1, 1, S("V11"), S(0), 0x26801, 29, -1, -1, PH},
    {"kxoXBM", "XBM.controlpad", "XBM", 1, 1, S("v11"), S(0), 0x21805, 30, 20, -1, PH},
    {"kxoHDR", "HDR.controlpad", "HDR", 1, 1, S("(RGBE)"), S(0), 0xE7805, 31, 21, -1, PH},
    {"kxoPAM", "PAM.controlpad", "PAM", 2, 2, S("RGB (P7)", "GRAY (P7)"), S(0, 1), 0xFF805, 32, 23, -1, PH},
    {"kxoPFM", "PFM.controlpad", "PFM", 2, 2, S("(PF)", "(Pf)"), S(0, 1), 0xE7805, 33, 24, -1, PH},
    {"kxoEPS", "EPS.controlpad", "EPS", 1, 1, S("(Header/PS)"), S(0), 0x3F805, 34, 25, -1, PH},
    {"kxoGS", "GS.controlpad", "GS", 1, 1, S("(Ghostscript)"), S(0), 0x43E801, 35, -1, -1, PH},
    {"kxoFIG", "FIG.controlpad", "FIG", 1, 1, S("(fig2dev)"), S(0), 0x43E801, 36, -1, -1, PH},
    {"kxoPXR", "PXR.controlpad", "PXR", 1, 1, S("(P'xar)"), S(0), 0x3E801, 37, -1, -1, PH},
    {"kxoPSP", "PSP.controlpad", "PSP", 3, 3, S("(P'intSh'p UC)", "(P'intSh'p RLE)", "(P'intSh'p LZ77)"), S(0, 1, 2), 0x3E801, 38, -1, -1, PH},
    {"kxoCDR", "CDR.controlpad", "CDR", 1, 1, S("(C'relDr'w)"), S(0), 0x26801, 39, -1, -1, PH},
    {"kxoRGB8", "RGB8.controlpad", "RGB8", 1, 1, S("RunLength4"), S(0), 0x23F805, 40, 26, -1, PH},
    {"kxoDEEP", "DEEP.controlpad", "DEEP", 3, 3, S("uncompressed", "RLE", "DELTA"), S(0, 1, 2), 0x2FF805, 41, 27, -1, PH},
    {"kxoYUVN", "YUVN.controlpad", "YUVN", 7, 7, S("(400)", "(411)", "(422)", "(444)", "(200)", "(211)", "(222)"), S(0, 1, 2, 3, 4, 5, 6), 0x23F805, 42, 28, -1, PH},
    {"kxoPBM", "PBM.controlpad", "PBM", 2, 2, S("uncompressed", "CmpByteRun1"), S(0, 1), 0x221805, 43, 29, -1, PH},
    {"kxoACBM", "ACBM.controlpad", "ACBM", 1, 1, S("uncompressed"), S(0), 0x221805, 44, 30, -1, PH},
    {"kxoCT", "CT.controlpad", "CT", 1, 1, S("(Sc't'x)"), S(0), 0x26801, 45, -1, -1, PH},
    {"kxoCVP", "CVP.controlpad", "CVP", 1, 1, S("uncompressed"), S(0), 0x26801, 46, -1, -1, PH},
    {"kxoCUTPAL", "CUTPAL.controlpad", "CUTPAL", 1, 1, S("(Dr. H'l')"), S(0), 0x20801, 47, -1, -1, PH},
    {"kxoMSP", "MSP.controlpad", "MSP", 1, 1, S("(MSP''nt"), S(0), 0x20801, 48, -1, -1, PH},
    {"kxoMTV", "MTV.controlpad", "MTV", 1, 1, S("uncompressed"), S(0), 0x27805, 49, 32, -1, PH},
    {"kxoNEO", "NEO.controlpad", "NEO", 1, 1, S("(chrome)"), S(0), 0x20801, 50, -1, -1, PH},
    {"kxoQL", "QL.controlpad", "QL", 2, 2, S("QL4", "QL8"), S(0, 1), 0x20801, 51, -1, -1, PH},
    {"kxoEXR", "EXR.controlpad", "EXR", 1, 1, S("(Op'nEXR)"), S(0), 0x426801, 52, -1, -1, PH},
    {"kxoFAXX", "FAXX.controlpad", "FAXX", 1, 1, S("(IFF)"), S(0), 0x220801, 53, -1, -1, PH},
    {"kxoRAW", "RAW.controlpad", "RAW", 4, 4, S("(Dump)", "(Bayer Matrix)", "(YCbCr16)", "(RGB16)"), S(0, 1, 2, 3), 0xB5004, -1, 22, -1, PH},
    {"kxoMIFF", "MIFF.controlpad", "MIFF", 1, 1, S("(IM)"), S(0), 0xFF004, -1, 31, -1, PH},
    {"kxoCSRC", "CSRC.controlpad", "SourceCode", 4, 4, S("C", "Asm 68k", "Asm PPC", "Asm x86"), S(0, 1, 2, 3), 0x35000, -1, 37, -1, PH},
    {"kxoRAWMeta", "RAWMeta.controlpad", "RAWMeta", 6, 6, S("(Meta/EXIF)", "(Meta/IPTC)", "(Meta/XMP0)", "(Meta/XMP1)", "(Meta/Text)", "(Meta/ICCP)"), S(0, 1, 2, 3, 4, 5), 0x221004, -1, 38, -1, PH},
    {"kxoRAW_Import", "RAW-Import.controlpad", "RAW-Import", 1, 1, S("(Import)"), S(0), 0x46A201, -1, -1, 0, PH},
    {"kxoDCRAW", "DCRAW.controlpad", "DCRAW", 1, 1, S("(Import)"), S(0), 0x4E6201, -1, -1, 1, PH},
    {"kxoExifTool", "ExifTool.controlpad", "ExifTool", 1, 1, S("(XMP MetaData)"), S(0), 0x420201, -1, -1, 2, PH},
    {"kxoRAWMeta_Import", "RAWMeta-Import.controlpad", "RAWMeta-Import", 1, 1, S("(Import)"), S(0), 0x420201, -1, -1, 3, PH},
};

#undef S
#undef PH

struct CapsWord {
    uint32_t Mask;
    const char* Word;
};

const CapsWord kOperatorWords[] = {
    {KXPCAP_8BIT, "8BIT "},           {KXPCAP_24BIT, "24BIT "}, {KXPCAP_48BIT, "48BIT "}, {KXPCAP_ALPHA, "ALPHA "},
    {KXPCAP_HAM, "HAM "},             {KXPCAP_SIZECHANGE, "SIZECHANGE "},
    {KXPCAP_NOSRC, "NOSRC "},         {KXPCAP_BRK, "BRK "},
};

const CapsWord kFormatWords[] = {
    {KXOCAP_READ, "READ "},   {KXOCAP_WRITE, "WRITE "}, {KXOCAP_24BIT, "24BIT "}, {KXOCAP_48BIT, "48BIT "},
    {KXOCAP_ALPHA, "ALPHA "}, {KXOCAP_META, "META "},   {KXOCAP_INFO, "INFO "},   {KXOCAP_BRK, "BRK "},
};

// Appends the word of every mask with a bit set; stops short of the end of
// the buffer rather than cutting a word.
void capsText(const CapsWord* words, size_t count, uint32_t caps, char* out, size_t size) {
    if (!out || size == 0) return;
    out[0] = 0;
    size_t used = 0;
    for (size_t i = 0; i < count; i++) {
        if (!(caps & words[i].Mask)) continue;
        size_t n = strlen(words[i].Word);
        if (used + n >= size) break;
        memcpy(out + used, words[i].Word, n + 1);
        used += n;
    }
}

}  // namespace

const KXOperatorReg* KX_OperatorRegs(uint32_t* count) {
    if (count) *count = sizeof(kOperators) / sizeof(kOperators[0]);
    return kOperators;
}

const KXFormatReg* KX_FormatRegs(uint32_t* count) {
    if (count) *count = sizeof(kFormats) / sizeof(kFormats[0]);
    return kFormats;
}

const KXOperatorReg* KX_FindOperatorReg(const char* className) {
    if (!className) return nullptr;
    for (const KXOperatorReg& r : kOperators)
        if (strcmp(r.ClassName, className) == 0) return &r;
    return nullptr;
}

const KXFormatReg* KX_FindFormatReg(const char* className) {
    if (!className) return nullptr;
    for (const KXFormatReg& r : kFormats)
        if (strcmp(r.ClassName, className) == 0) return &r;
    return nullptr;
}

void KX_OperatorCapsText(uint32_t caps, char* out, size_t size) {
    capsText(kOperatorWords, sizeof(kOperatorWords) / sizeof(kOperatorWords[0]), caps, out, size);
}

void KX_FormatCapsText(uint32_t caps, char* out, size_t size) {
    capsText(kFormatWords, sizeof(kFormatWords) / sizeof(kFormatWords[0]), caps, out, size);
}
