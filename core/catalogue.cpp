// catalogue: the registration of every operator and format class, in table
// order. Which classes have a module of their own is not known here: the
// factory table above the modules (modules/factories.cpp) answers that, and
// a class without one gets a placeholder object that carries the real
// registration, loads its pad, recognises nothing and answers every other
// operation with KXERR_NOTSUPPORTED. Numbers and table positions never move.
#include "catalogue.h"

#include <cstring>

namespace {

#define KXP(n, cls, pad, desc, caps) {n, cls, pad, desc, caps}

const KXOperatorReg kOperators[] = {
    KXP(0, "kxpAnyTo24Bit", "AnyTo24Bit.controlpad", "Converts input to 24 Bit.", 0x974),
    KXP(1, "kxpAnyTo48Bit", "AnyTo48Bit.controlpad", "Converts input to 48 Bit.", 0x974),
    KXP(2, "kxpAutoBorder", "AutoBorder.controlpad", "Removes single-color borders.", 0x1CFC),
    KXP(3, "kxpBlur", "Blur.controlpad", "Apply Blur effect to a graphics.", 0x1830),
    KXP(4, "kxpRotate", "Rotate.controlpad", "Apply Rotate effect to a graphics.", 0x1830),
    KXP(5, "kxpExtractGrayScales", "ExtractGrayScales.controlpad", "Extracts GrayScale values from graphics.", 0x81C),
    KXP(6, "kxpAntique", "Antique.controlpad", "Antique color effect.", 0x81C),
    KXP(7, "kxpDitherFix24", "DitherFix24.controlpad", "Dithers 24 Bit to fixed palette.", 0x18),
    KXP(8, "kxpDither24Bit", "Dither24Bit.controlpad", "Dithers 24 Bit to 256 colors or less.", 0x18),
    KXP(9, "kxpScale50", "Scale50.controlpad", "Doubles/halves graphics size.", 0x1CFC),
    KXP(10, "kxpOptimizePalette", "OptimizePalette.controlpad", "Palette optimization (redundancy reduction).", 0xC),
    KXP(11, "kxpExtractRed", "ExtractRed.controlpad", "Extracts RED channel values from graphics.", 0x81C),
    KXP(12, "kxpExtractGreen", "ExtractGreen.controlpad", "Extracts GREEN channel values from graphics.", 0x81C),
    KXP(13, "kxpExtractBlue", "ExtractBlue.controlpad", "Extracts BLUE channel values from graphics.", 0x81C),
    KXP(14, "kxpResize", "Resize.controlpad", "Resizes a graphics by interpolation.", 0x1CFC),
    KXP(15, "kxpConvolve", "Convolve.controlpad", "An integer 3x3 convolution matrix operator.", 0x1830),
    KXP(16, "kxpConvolveFloat", "ConvolveFloat.controlpad", "A floating point 3x3 convolution matrix operator.", 0x1830),
    KXP(17, "kxpConvolveNxN", "ConvolveNxN.controlpad", "An integer NxN convolution matrix operator.", 0x1830),
    KXP(18, "kxpExtractAlpha", "ExtractAlpha.controlpad", "Extracts Alpha Channel as 8 bit grayscales.", 0x858),
    KXP(19, "kxpInvertAlpha", "InvertAlpha.controlpad", "Invert Alpha Channel/Map of 8/24/48 bit graphics.", 0x18FC),
    KXP(20, "kxpStripAlpha", "StripAlpha.controlpad", "Strips AlphaChannel/Map/TransparentColor from graphics.", 0x187C),
    KXP(21, "kxpCrop", "Crop.controlpad", "Crops graphics.", 0x1CFC),
    KXP(22, "kxpPaste", "Paste.controlpad", "Pastes graphics.", 0x1CFC),
    KXP(23, "kxpCut", "Cut.controlpad", "Cuts part out of graphics.", 0x18FC),
    KXP(24, "kxpSharpen", "Sharpen.controlpad", "Apply Sharpen operator to a graphics.", 0x1830),
    KXP(25, "kxpLeftToRight", "LeftToRight.controlpad", "Also known as FlipX", 0x18FC),
    KXP(26, "kxpTopToBottom", "TopToBottom.controlpad", "Also known as FlipY.", 0x18FC),
    KXP(27, "kxpRotateFree", "RotateFree.controlpad", "Rotates graphics freely.", 0x1CFC),
    KXP(28, "kxpRedEyeFix", "RedEyeFix.controlpad", "Attempts to fix redeye defects locally.", 0x1830),
    KXP(29, "kxpMirror", "Mirror.controlpad", "Mirrors an image in 3 different ways.", 0x18FC),
    KXP(30, "kxpMirrorCopy", "MirrorCopy.controlpad", "Mirrors an image in 4 different ways.", 0x18FC),
    KXP(31, "kxpBrightness", "Brightness.controlpad", "Adjusts brightness.", 0x18FC),
    KXP(32, "kxpContrast", "Contrast.controlpad", "Adjusts contrast.", 0x18FC),
    KXP(33, "kxpMosaic", "Mosaic.controlpad", "Mosaic effect.", 0x183C),
    KXP(34, "kxpCutInverse", "CutInverse.controlpad", "CutInverses inverse part of graphics.", 0x18FC),
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
    KXP(54, "kxpResizeDDA", "ResizeDDA.controlpad", "ResizeDDAs a graphics by interpolation.", 0x1CFC),
    KXP(55, "kxpMedian", "Median.controlpad", "Apply Median effect to a graphics.", 0x1830),
    KXP(56, "kxpTiling", "Tiling.controlpad", "Apply Tile-breaking effect to image.", 0x183C),
    KXP(57, "kxpSlicing", "Slicing.controlpad", "Apply slicing effect to image.", 0x183C),
    KXP(58, "kxpOptimizeAlpha", "OptimizeAlpha.controlpad", "Remove alpha information if full opaque.", 0x18FC),
    KXP(59, "kxpAlphaTo8Bit", "AlphaTo8Bit.controlpad", "Convert alpha channel from 16 bit to 8 bit.", 0x18FC),
    KXP(60, "kxpAlphaTo16Bit", "AlphaTo16Bit.controlpad", "Convert alpha channel from 8 bit to 16 bit.", 0x18FC),
    KXP(61, "kxpSelectGrayScales", "SelectGrayScales.controlpad", "Turns graphics to gray except selected color range.", 0x81C),
};

#undef KXP

// Columns: class, pad, format name, subtypes offered, subtypes registered,
// names, ids, capability word, reader / writer / device-reader position
// (-1: not in that table). Where fewer subtypes are offered than
// registered, the writer still knows the extra id.
#define S(...) {__VA_ARGS__}

const KXFormatReg kFormats[] = {
    {"kxoBMP", "BMP.controlpad", "BMP", 2, 2, S("v1-v4", "v5"), S(0, 1), 0x23F805, 0, 0, -1},
    {"kxoC64", "C64.controlpad", "C64", 4, 4, S("Koala", "Doodle", "GEOS", "GODOT/4BT"), S(0, 1, 2, 3), 0x20801, 1, -1, -1},
    {"kxoDEG", "Degas.controlpad", "Degas", 6, 6, S("(PI1)", "(PI2)", "(PI3)", "(PC1)", "(PC2)", "(PC3)"), S(0, 1, 2, 3, 4, 5), 0x20801, 2, -1, -1},
    {"kxoFBM", "FBM.controlpad", "FBM", 1, 1, S("(Fuzzy BM)"), S(0), 0xE7805, 3, 1, -1},
    {"kxoGIF", "GIF.controlpad", "GIF", 2, 2, S("87a", "89a"), S(0, 1), 0x21805, 4, 2, -1},
    {"kxoILBM", "ILBM.controlpad", "ILBM", 2, 2, S("uncompressed", "CmpByteRun1"), S(0, 1), 0x2FF805, 5, 3, -1},
    {"kxoIMG", "IMG.controlpad", "IMG", 3, 4, S("(HS 16)", "(HS 18)", "(XIMG v1)", "(XIMG v2)"), S(0, 1, 2, 3), 0x27805, 6, 34, -1},
    {"kxoJFIF", "JFIF.controlpad", "JPEG", 2, 2, S("(IJG-JFIF)", "(SPIFF)"), S(0, 1), 0x227805, 7, 4, -1},
    {"kxoMAC", "MAC.controlpad", "MAC", 1, 1, S("(MacP''nt)"), S(0), 0x21805, 8, 33, -1},
    {"kxoPCD", "PCD.controlpad", "PCD", 1, 1, S(""), S(0), 0x22801, 9, -1, -1},
    {"kxoPCP", "Pictor.controlpad", "PCP v2.0", 2, 2, S("uncompressed", "packed"), S(0, 1), 0x21805, 10, 35, -1},
    {"kxoPCX", "PCX.controlpad", "PCX", 1, 1, S("V2.5-3.0"), S(0), 0x27805, 11, 5, -1},
    {"kxoPICT", "PICT2.controlpad", "PICT2", 1, 1, S("(PCT)"), S(0), 0x27805, 12, 36, -1},
    {"kxoPNG", "PNG.controlpad", "PNG", 1, 1, S("(PiNG)"), S(0), 0x2FF805, 13, 6, -1},
    {"kxoPNM", "PNM.controlpad", "PNM", 2, 2, S("PPM (P6)", "PGM (P5)"), S(0, 1), 0xE7805, 14, 7, -1},
    {"kxoQRT", "QRT.controlpad", "QRT", 1, 1, S("POV Raytracer"), S(0), 0x27805, 15, 8, -1},
    {"kxoRAS", "RAS.controlpad", "RAS", 1, 1, S("(S'nRaster)"), S(0), 0x27805, 16, 9, -1},
    {"kxoSCR", "Spectrum.controlpad", "Spectrum", 2, 2, S("(SCR)", "(TAP)"), S(0, 1), 0x20801, 17, -1, -1},
    {"kxoSGI", "SGI.controlpad", "SGI", 1, 1, S("(RGB)"), S(0), 0x27805, 18, 10, -1},
    {"kxoTGA", "TGA.controlpad", "TGA", 1, 1, S("(T'rga)"), S(0), 0x3F805, 19, 11, -1},
    {"kxoTIFF", "TIFF.controlpad", "TIFF", 2, 3, S("V5.0", "V6.0", "EP (ISO)"), S(0, 1, 2), 0x2FF805, 20, 12, -1},
    {"kxoTIM", "TIM.controlpad", "TIM", 1, 1, S("(PSX)"), S(0), 0x22801, 21, -1, -1},
    {"kxoJPEG2000", "JPEG2000.controlpad", "JPEG2000", 2, 2, S("(JP2)", "(PGX)"), S(0, 1), 0x27805, 22, 13, -1},
    {"kxoRGFX", "RGFX.controlpad", "RGFX", 2, 2, S("uncompressed", "ZIP-compressed"), S(0, 1), 0x2FF805, 23, 14, -1},
    {"kxoKGX", "KGX.controlpad", "KGX", 3, 3, S("old-style", "compressed", "uncompressed"), S(0, 1, 2), 0xFF805, 24, 15, -1},
    {"kxoXPM", "XPM.controlpad", "XPM", 3, 3, S("v1", "v2", "v3"), S(0, 1, 2), 0x21805, 25, 16, -1},
    {"kxoPSD", "PSD.controlpad", "PSD", 1, 1, S("(Ph'toSh'p)"), S(0), 0x3F805, 26, 17, -1},
    {"kxoDDS", "DDS.controlpad", "DDS", 1, 1, S("(MS DX10)"), S(0), 0xFF805, 27, 18, -1},
    {"kxoLJPG", "LJPG.controlpad", "LJPG", 1, 1, S("(JPEG-LS)"), S(0), 0x27805, 28, 19, -1},
    {"kxoXWD", "XWD.controlpad", "XWD", 1, 1, S("V11"), S(0), 0x26801, 29, -1, -1},
    {"kxoXBM", "XBM.controlpad", "XBM", 1, 1, S("v11"), S(0), 0x21805, 30, 20, -1},
    {"kxoHDR", "HDR.controlpad", "HDR", 1, 1, S("(RGBE)"), S(0), 0xE7805, 31, 21, -1},
    {"kxoPAM", "PAM.controlpad", "PAM", 2, 2, S("RGB (P7)", "GRAY (P7)"), S(0, 1), 0xFF805, 32, 23, -1},
    {"kxoPFM", "PFM.controlpad", "PFM", 2, 2, S("(PF)", "(Pf)"), S(0, 1), 0xE7805, 33, 24, -1},
    {"kxoEPS", "EPS.controlpad", "EPS", 1, 1, S("(Header/PS)"), S(0), 0x3F805, 34, 25, -1},
    {"kxoGS", "GS.controlpad", "GS", 1, 1, S("(Ghostscript)"), S(0), 0x43E801, 35, -1, -1},
    {"kxoFIG", "FIG.controlpad", "FIG", 1, 1, S("(fig2dev)"), S(0), 0x43E801, 36, -1, -1},
    {"kxoPXR", "PXR.controlpad", "PXR", 1, 1, S("(P'xar)"), S(0), 0x3E801, 37, -1, -1},
    {"kxoPSP", "PSP.controlpad", "PSP", 3, 3, S("(P'intSh'p UC)", "(P'intSh'p RLE)", "(P'intSh'p LZ77)"), S(0, 1, 2), 0x3E801, 38, -1, -1},
    {"kxoCDR", "CDR.controlpad", "CDR", 1, 1, S("(C'relDr'w)"), S(0), 0x26801, 39, -1, -1},
    {"kxoRGB8", "RGB8.controlpad", "RGB8", 1, 1, S("RunLength4"), S(0), 0x23F805, 40, 26, -1},
    {"kxoDEEP", "DEEP.controlpad", "DEEP", 3, 3, S("uncompressed", "RLE", "DELTA"), S(0, 1, 2), 0x2FF805, 41, 27, -1},
    {"kxoYUVN", "YUVN.controlpad", "YUVN", 7, 7, S("(400)", "(411)", "(422)", "(444)", "(200)", "(211)", "(222)"), S(0, 1, 2, 3, 4, 5, 6), 0x23F805, 42, 28, -1},
    {"kxoPBM", "PBM.controlpad", "PBM", 2, 2, S("uncompressed", "CmpByteRun1"), S(0, 1), 0x221805, 43, 29, -1},
    {"kxoACBM", "ACBM.controlpad", "ACBM", 1, 1, S("uncompressed"), S(0), 0x221805, 44, 30, -1},
    {"kxoCT", "CT.controlpad", "CT", 1, 1, S("(Sc't'x)"), S(0), 0x26801, 45, -1, -1},
    {"kxoCVP", "CVP.controlpad", "CVP", 1, 1, S("uncompressed"), S(0), 0x26801, 46, -1, -1},
    {"kxoCUTPAL", "CUTPAL.controlpad", "CUTPAL", 1, 1, S("(Dr. H'l')"), S(0), 0x20801, 47, -1, -1},
    {"kxoMSP", "MSP.controlpad", "MSP", 1, 1, S("(MSP''nt"), S(0), 0x20801, 48, -1, -1},
    {"kxoMTV", "MTV.controlpad", "MTV", 1, 1, S("uncompressed"), S(0), 0x27805, 49, 32, -1},
    {"kxoNEO", "NEO.controlpad", "NEO", 1, 1, S("(chrome)"), S(0), 0x20801, 50, -1, -1},
    {"kxoQL", "QL.controlpad", "QL", 2, 2, S("QL4", "QL8"), S(0, 1), 0x20801, 51, -1, -1},
    {"kxoEXR", "EXR.controlpad", "EXR", 1, 1, S("(Op'nEXR)"), S(0), 0x426801, 52, -1, -1},
    {"kxoFAXX", "FAXX.controlpad", "FAXX", 1, 1, S("(IFF)"), S(0), 0x220801, 53, -1, -1},
    {"kxoRAW", "RAW.controlpad", "RAW", 4, 4, S("(Dump)", "(Bayer Matrix)", "(YCbCr16)", "(RGB16)"), S(0, 1, 2, 3), 0xB5004, -1, 22, -1},
    {"kxoMIFF", "MIFF.controlpad", "MIFF", 1, 1, S("(IM)"), S(0), 0xFF004, -1, 31, -1},
    {"kxoCSRC", "CSRC.controlpad", "SourceCode", 4, 4, S("C", "Asm 68k", "Asm PPC", "Asm x86"), S(0, 1, 2, 3), 0x35000, -1, 37, -1},
    {"kxoRAWMeta", "RAWMeta.controlpad", "RAWMeta", 6, 6, S("(Meta/EXIF)", "(Meta/IPTC)", "(Meta/XMP0)", "(Meta/XMP1)", "(Meta/Text)", "(Meta/ICCP)"), S(0, 1, 2, 3, 4, 5), 0x221004, -1, 38, -1},
    {"kxoRAW_Import", "RAW-Import.controlpad", "RAW-Import", 1, 1, S("(Import)"), S(0), 0x46A201, -1, -1, 0},
    {"kxoDCRAW", "DCRAW.controlpad", "DCRAW", 1, 1, S("(Import)"), S(0), 0x4E6201, -1, -1, 1},
    {"kxoExifTool", "ExifTool.controlpad", "ExifTool", 1, 1, S("(XMP MetaData)"), S(0), 0x420201, -1, -1, 2},
    {"kxoRAWMeta_Import", "RAWMeta-Import.controlpad", "RAWMeta-Import", 1, 1, S("(Import)"), S(0), 0x420201, -1, -1, 3},
};

#undef S

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

KXOperator* KX_NewOperator(KXClass* lib, const KXOperatorReg& reg) {
    KXOperatorFactory make = KX_FindOperatorFactory(reg.ClassName);
    return make ? make(lib, reg) : KX_MakePlaceholderOperator(lib, reg);
}

KXObject* KX_NewObject(KXClass* lib, const KXFormatReg& reg) {
    KXFormatFactory make = KX_FindFormatFactory(reg.ClassName);
    return make ? make(lib, reg) : KX_MakePlaceholderObject(lib, reg);
}

bool KX_IsBuilt(const char* className) {
    return KX_FindOperatorFactory(className) != nullptr || KX_FindFormatFactory(className) != nullptr;
}

bool KX_OperatorIsBuilt(uint32_t number) {
    uint32_t count = 0;
    const KXOperatorReg* regs = KX_OperatorRegs(&count);
    for (uint32_t i = 0; i < count; i++)
        if (regs[i].Number == number) return KX_FindOperatorFactory(regs[i].ClassName) != nullptr;
    return false;
}
