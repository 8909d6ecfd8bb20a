// The catalogue against the published registration tables: every row's
// names, pad, capability word and its printed words, subtypes and table
// positions, in table order.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/kxlib.h"

namespace {

struct OpRow {
    uint32_t number;
    const char* cls;
    const char* pad;
    const char* desc;
    uint32_t caps;
    const char* printed;  // words without their trailing blanks
};

// clang-format off
const OpRow kOps[] = {
    {0, "kxpAnyTo24Bit", "AnyTo24Bit.controlpad", "Converts input to 24 Bit.", 0x974, "8BIT 24BIT 48BIT ALPHA HAM"},
    {1, "kxpAnyTo48Bit", "AnyTo48Bit.controlpad", "Converts input to 48 Bit.", 0x974, "8BIT 24BIT 48BIT ALPHA HAM"},
    {2, "kxpAutoBorder", "AutoBorder.controlpad", "Removes single-color borders.", 0x1CFC, "8BIT 24BIT 48BIT ALPHA SIZECHANGE"},
    {3, "kxpBlur", "Blur.controlpad", "Apply Blur effect to a graphics.", 0x1830, "24BIT 48BIT"},
    {4, "kxpRotate", "Rotate.controlpad", "Apply Rotate effect to a graphics.", 0x1830, "24BIT 48BIT"},
    {5, "kxpExtractGrayScales", "ExtractGrayScales.controlpad", "Extracts GrayScale values from graphics.", 0x81C, "8BIT 24BIT 48BIT"},
    {6, "kxpAntique", "Antique.controlpad", "Antique color effect.", 0x81C, "8BIT 24BIT 48BIT"},
    {7, "kxpDitherFix24", "DitherFix24.controlpad", "Dithers 24 Bit to fixed palette.", 0x18, "8BIT 24BIT"},
    {8, "kxpDither24Bit", "Dither24Bit.controlpad", "Dithers 24 Bit to 256 colors or less.", 0x18, "8BIT 24BIT"},
    {9, "kxpScale50", "Scale50.controlpad", "Doubles/halves graphics size.", 0x1CFC, "8BIT 24BIT 48BIT ALPHA SIZECHANGE"},
    {10, "kxpOptimizePalette", "OptimizePalette.controlpad", "Palette optimization (redundancy reduction).", 0xC, "8BIT"},
    {11, "kxpExtractRed", "ExtractRed.controlpad", "Extracts RED channel values from graphics.", 0x81C, "8BIT 24BIT 48BIT"},
    {12, "kxpExtractGreen", "ExtractGreen.controlpad", "Extracts GREEN channel values from graphics.", 0x81C, "8BIT 24BIT 48BIT"},
    {13, "kxpExtractBlue", "ExtractBlue.controlpad", "Extracts BLUE channel values from graphics.", 0x81C, "8BIT 24BIT 48BIT"},
    {14, "kxpResize", "Resize.controlpad", "Resizes a graphics by interpolation.", 0x1CFC, "8BIT 24BIT 48BIT ALPHA SIZECHANGE"},
    {15, "kxpConvolve", "Convolve.controlpad", "An integer 3x3 convolution matrix operator.", 0x1830, "24BIT 48BIT"},
    {16, "kxpConvolveFloat", "ConvolveFloat.controlpad", "A floating point 3x3 convolution matrix operator.", 0x1830, "24BIT 48BIT"},
    {17, "kxpConvolveNxN", "ConvolveNxN.controlpad", "An integer NxN convolution matrix operator.", 0x1830, "24BIT 48BIT"},
    {18, "kxpExtractAlpha", "ExtractAlpha.controlpad", "Extracts Alpha Channel as 8 bit grayscales.", 0x858, "8BIT 24BIT 48BIT ALPHA"},
    {19, "kxpInvertAlpha", "InvertAlpha.controlpad", "Invert Alpha Channel/Map of 8/24/48 bit graphics.", 0x18FC, "8BIT 24BIT 48BIT ALPHA"},
    {20, "kxpStripAlpha", "StripAlpha.controlpad", "Strips AlphaChannel/Map/TransparentColor from graphics.", 0x187C, "8BIT 24BIT 48BIT ALPHA"},
    {21, "kxpCrop", "Crop.controlpad", "Crops graphics.", 0x1CFC, "8BIT 24BIT 48BIT ALPHA SIZECHANGE"},
    {22, "kxpPaste", "Paste.controlpad", "Pastes graphics.", 0x1CFC, "8BIT 24BIT 48BIT ALPHA SIZECHANGE"},
    {23, "kxpCut", "Cut.controlpad", "Cuts part out of graphics.", 0x18FC, "8BIT 24BIT 48BIT ALPHA"},
    {24, "kxpSharpen", "Sharpen.controlpad", "Apply Sharpen operator to a graphics.", 0x1830, "24BIT 48BIT"},
    {25, "kxpLeftToRight", "LeftToRight.controlpad", "Also known as FlipX", 0x18FC, "8BIT 24BIT 48BIT ALPHA"},
    {26, "kxpTopToBottom", "TopToBottom.controlpad", "Also known as FlipY.", 0x18FC, "8BIT 24BIT 48BIT ALPHA"},
    {27, "kxpRotateFree", "RotateFree.controlpad", "Rotates graphics freely.", 0x1CFC, "8BIT 24BIT 48BIT ALPHA SIZECHANGE"},
    {28, "kxpRedEyeFix", "RedEyeFix.controlpad", "Attempts to fix redeye defects locally.", 0x1830, "24BIT 48BIT"},
    {29, "kxpMirror", "Mirror.controlpad", "Mirrors an image in 3 different ways.", 0x18FC, "8BIT 24BIT 48BIT ALPHA"},
    {30, "kxpMirrorCopy", "MirrorCopy.controlpad", "Mirrors an image in 4 different ways.", 0x18FC, "8BIT 24BIT 48BIT ALPHA"},
    {31, "kxpBrightness", "Brightness.controlpad", "Adjusts brightness.", 0x18FC, "8BIT 24BIT 48BIT ALPHA"},
    {32, "kxpContrast", "Contrast.controlpad", "Adjusts contrast.", 0x18FC, "8BIT 24BIT 48BIT ALPHA"},
    {33, "kxpMosaic", "Mosaic.controlpad", "Mosaic effect.", 0x183C, "8BIT 24BIT 48BIT"},
    {34, "kxpCutInverse", "CutInverse.controlpad", "CutInverses inverse part of graphics.", 0x18FC, "8BIT 24BIT 48BIT ALPHA"},
    {35, "kxpColorCycle", "ColorCycle.controlpad", "Cycle R,G,B values in color map or pixels.", 0x18FC, "8BIT 24BIT 48BIT ALPHA"},
    {36, "kxpGhost", "Ghost.controlpad", "Apply Ghost effect to a graphics.", 0x1830, "24BIT 48BIT"},
    {37, "kxpGamma", "Gamma.controlpad", "Applies Gamma correction.", 0x18FC, "8BIT 24BIT 48BIT ALPHA"},
    {38, "kxpHilbertDither256", "HilbertDither256.controlpad", "Dithers upto 256 Colors to Black & White.", 0xC, "8BIT"},
    {39, "kxpScatter", "Scatter.controlpad", "Scatters graphics by given factor.", 0x18FC, "8BIT 24BIT 48BIT ALPHA"},
    {40, "kxpComplement", "Complement.controlpad", "Build complement of graphics (almost similar to negating).", 0x18FC, "8BIT 24BIT 48BIT ALPHA"},
    {41, "kxpNegate", "Negate.controlpad", "Negate color/pixel values of graphics.", 0x18FC, "8BIT 24BIT 48BIT ALPHA"},
    {42, "kxpOilPaint", "OilPaint.controlpad", "Apply OilPaint effect to a graphics.", 0x1830, "24BIT 48BIT"},
    {43, "kxpDigiPaint", "DigiPaint.controlpad", "Apply DigiPaint effect to a graphics.", 0x1830, "24BIT 48BIT"},
    {44, "kxpResetChannel", "ResetChannel.controlpad", "Reset color channel of graphics (to given value).", 0x18FC, "8BIT 24BIT 48BIT ALPHA"},
    {45, "kxpAddBorder", "AddBorder.controlpad", "Adds single-color borders.", 0x1CFC, "8BIT 24BIT 48BIT ALPHA SIZECHANGE"},
    {46, "kxpReplaceBorder", "ReplaceBorder.controlpad", "Replaces single-colored borders (frames).", 0x18FC, "8BIT 24BIT 48BIT ALPHA"},
    {47, "kxpHistogram", "Histogram.controlpad", "Counts colors in 24/48 bit.", 0x18F0, "24BIT 48BIT ALPHA"},
    {48, "kxpPaletteDither", "PaletteDither.controlpad", "Dithers 24 Bit to given palette.", 0x18, "8BIT 24BIT"},
    {49, "kxpAddAlpha", "AddAlpha.controlpad", "Add Alpha Channel to 24/48 bit graphics.", 0x18B0, "24BIT 48BIT ALPHA"},
    {50, "kxpFlipNibbles", "FlipNibbles.controlpad", "Flips Nibbles of pixel/component bytes/words.", 0x18FC, "8BIT 24BIT 48BIT ALPHA"},
    {51, "kxpXOr", "XOr.controlpad", "XOr color effect.", 0x81C, "8BIT 24BIT 48BIT"},
    {52, "kxpAlphaBlend", "AlphaBlend.controlpad", "Alpha-blend two graphics using either alpha.", 0x18F0, "24BIT 48BIT ALPHA"},
    {53, "kxpInvertColors256", "InvertColors256.controlpad", "InvertColors256 color effect.", 0x81C, "8BIT 24BIT 48BIT"},
    {54, "kxpResizeDDA", "ResizeDDA.controlpad", "ResizeDDAs a graphics by interpolation.", 0x1CFC, "8BIT 24BIT 48BIT ALPHA SIZECHANGE"},
    {55, "kxpMedian", "Median.controlpad", "Apply Median effect to a graphics.", 0x1830, "24BIT 48BIT"},
    {56, "kxpTiling", "Tiling.controlpad", "Apply Tile-breaking effect to image.", 0x183C, "8BIT 24BIT 48BIT"},
    {57, "kxpSlicing", "Slicing.controlpad", "Apply slicing effect to image.", 0x183C, "8BIT 24BIT 48BIT"},
    {58, "kxpOptimizeAlpha", "OptimizeAlpha.controlpad", "Remove alpha information if full opaque.", 0x18FC, "8BIT 24BIT 48BIT ALPHA"},
    {59, "kxpAlphaTo8Bit", "AlphaTo8Bit.controlpad", "Convert alpha channel from 16 bit to 8 bit.", 0x18FC, "8BIT 24BIT 48BIT ALPHA"},
    {60, "kxpAlphaTo16Bit", "AlphaTo16Bit.controlpad", "Convert alpha channel from 8 bit to 16 bit.", 0x18FC, "8BIT 24BIT 48BIT ALPHA"},
    {61, "kxpSelectGrayScales", "SelectGrayScales.controlpad", "Turns graphics to gray except selected color range.", 0x81C, "8BIT 24BIT 48BIT"},
};
// clang-format on

struct Sub {
    const char* name;
    uint32_t id;
};

struct FmtRow {
    const char* cls;
    const char* tables;  // "R0 W0": reader 0 and writer 0; "D1": device reader 1
    const char* pad;
    const char* name;
    uint32_t count;
    std::vector<Sub> subs;
    uint32_t caps;
    const char* printed;  // without the unprinted bits
};

// clang-format off
const FmtRow kFmts[] = {
    {"kxoBMP", "R0 W0", "BMP.controlpad", "BMP", 2, {{"v1-v4", 0}, {"v5", 1}}, 0x23F805, "READ WRITE 24BIT ALPHA META INFO"},
    {"kxoC64", "R1", "C64.controlpad", "C64", 4, {{"Koala", 0}, {"Doodle", 1}, {"GEOS", 2}, {"GODOT/4BT", 3}}, 0x20801, "READ INFO"},
    {"kxoDEG", "R2", "Degas.controlpad", "Degas", 6, {{"(PI1)", 0}, {"(PI2)", 1}, {"(PI3)", 2}, {"(PC1)", 3}, {"(PC2)", 4}, {"(PC3)", 5}}, 0x20801, "READ INFO"},
    {"kxoFBM", "R3 W1", "FBM.controlpad", "FBM", 1, {{"(Fuzzy BM)", 0}}, 0xE7805, "READ WRITE 24BIT 48BIT INFO"},
    {"kxoGIF", "R4 W2", "GIF.controlpad", "GIF", 2, {{"87a", 0}, {"89a", 1}}, 0x21805, "READ WRITE INFO"},
    {"kxoILBM", "R5 W3", "ILBM.controlpad", "ILBM", 2, {{"uncompressed", 0}, {"CmpByteRun1", 1}}, 0x2FF805, "READ WRITE 24BIT 48BIT ALPHA META INFO"},
    {"kxoIMG", "R6 W34", "IMG.controlpad", "IMG", 3, {{"(HS 16)", 0}, {"(HS 18)", 1}, {"(XIMG v1)", 2}, {"(XIMG v2)", 3}}, 0x27805, "READ WRITE 24BIT INFO"},
    {"kxoJFIF", "R7 W4", "JFIF.controlpad", "JPEG", 2, {{"(IJG-JFIF)", 0}, {"(SPIFF)", 1}}, 0x227805, "READ WRITE 24BIT META INFO"},
    {"kxoMAC", "R8 W33", "MAC.controlpad", "MAC", 1, {{"(MacP''nt)", 0}}, 0x21805, "READ WRITE INFO"},
    {"kxoPCD", "R9", "PCD.controlpad", "PCD", 1, {{"", 0}}, 0x22801, "READ 24BIT INFO"},
    {"kxoPCP", "R10 W35", "Pictor.controlpad", "PCP v2.0", 2, {{"uncompressed", 0}, {"packed", 1}}, 0x21805, "READ WRITE INFO"},
    {"kxoPCX", "R11 W5", "PCX.controlpad", "PCX", 1, {{"V2.5-3.0", 0}}, 0x27805, "READ WRITE 24BIT INFO"},
    {"kxoPICT", "R12 W36", "PICT2.controlpad", "PICT2", 1, {{"(PCT)", 0}}, 0x27805, "READ WRITE 24BIT INFO"},
    {"kxoPNG", "R13 W6", "PNG.controlpad", "PNG", 1, {{"(PiNG)", 0}}, 0x2FF805, "READ WRITE 24BIT 48BIT ALPHA META INFO"},
    {"kxoPNM", "R14 W7", "PNM.controlpad", "PNM", 2, {{"PPM (P6)", 0}, {"PGM (P5)", 1}}, 0xE7805, "READ WRITE 24BIT 48BIT INFO"},
    {"kxoQRT", "R15 W8", "QRT.controlpad", "QRT", 1, {{"POV Raytracer", 0}}, 0x27805, "READ WRITE 24BIT INFO"},
    {"kxoRAS", "R16 W9", "RAS.controlpad", "RAS", 1, {{"(S'nRaster)", 0}}, 0x27805, "READ WRITE 24BIT INFO"},
    {"kxoSCR", "R17", "Spectrum.controlpad", "Spectrum", 2, {{"(SCR)", 0}, {"(TAP)", 1}}, 0x20801, "READ INFO"},
    {"kxoSGI", "R18 W10", "SGI.controlpad", "SGI", 1, {{"(RGB)", 0}}, 0x27805, "READ WRITE 24BIT INFO"},
    {"kxoTGA", "R19 W11", "TGA.controlpad", "TGA", 1, {{"(T'rga)", 0}}, 0x3F805, "READ WRITE 24BIT ALPHA INFO"},
    {"kxoTIFF", "R20 W12", "TIFF.controlpad", "TIFF", 2, {{"V5.0", 0}, {"V6.0", 1}, {"EP (ISO)", 2}}, 0x2FF805, "READ WRITE 24BIT 48BIT ALPHA META INFO"},
    {"kxoTIM", "R21", "TIM.controlpad", "TIM", 1, {{"(PSX)", 0}}, 0x22801, "READ 24BIT INFO"},
    {"kxoJPEG2000", "R22 W13", "JPEG2000.controlpad", "JPEG2000", 2, {{"(JP2)", 0}, {"(PGX)", 1}}, 0x27805, "READ WRITE 24BIT INFO"},
    {"kxoRGFX", "R23 W14", "RGFX.controlpad", "RGFX", 2, {{"uncompressed", 0}, {"ZIP-compressed", 1}}, 0x2FF805, "READ WRITE 24BIT 48BIT ALPHA META INFO"},
    {"kxoKGX", "R24 W15", "KGX.controlpad", "KGX", 3, {{"old-style", 0}, {"compressed", 1}, {"uncompressed", 2}}, 0xFF805, "READ WRITE 24BIT 48BIT ALPHA INFO"},
    {"kxoXPM", "R25 W16", "XPM.controlpad", "XPM", 3, {{"v1", 0}, {"v2", 1}, {"v3", 2}}, 0x21805, "READ WRITE INFO"},
    {"kxoPSD", "R26 W17", "PSD.controlpad", "PSD", 1, {{"(Ph'toSh'p)", 0}}, 0x3F805, "READ WRITE 24BIT ALPHA INFO"},
    {"kxoDDS", "R27 W18", "DDS.controlpad", "DDS", 1, {{"(MS DX10)", 0}}, 0xFF805, "READ WRITE 24BIT 48BIT ALPHA INFO"},
    {"kxoLJPG", "R28 W19", "LJPG.controlpad", "LJPG", 1, {{"(JPEG-LS)", 0}}, 0x27805, "READ WRITE 24BIT INFO"},
    {"kxoXWD", "R29", "XWD.controlpad", "XWD", 1, {{"V11", 0}}, 0x26801, "READ 24BIT INFO"},
    {"kxoXBM", "R30 W20", "XBM.controlpad", "XBM", 1, {{"v11", 0}}, 0x21805, "READ WRITE INFO"},
    {"kxoHDR", "R31 W21", "HDR.controlpad", "HDR", 1, {{"(RGBE)", 0}}, 0xE7805, "READ WRITE 24BIT 48BIT INFO"},
    {"kxoPAM", "R32 W23", "PAM.controlpad", "PAM", 2, {{"RGB (P7)", 0}, {"GRAY (P7)", 1}}, 0xFF805, "READ WRITE 24BIT 48BIT ALPHA INFO"},
    {"kxoPFM", "R33 W24", "PFM.controlpad", "PFM", 2, {{"(PF)", 0}, {"(Pf)", 1}}, 0xE7805, "READ WRITE 24BIT 48BIT INFO"},
    {"kxoEPS", "R34 W25", "EPS.controlpad", "EPS", 1, {{"(Header/PS)", 0}}, 0x3F805, "READ WRITE 24BIT ALPHA INFO"},
    {"kxoGS", "R35", "GS.controlpad", "GS", 1, {{"(Ghostscript)", 0}}, 0x43E801, "READ 24BIT ALPHA INFO"},
    {"kxoFIG", "R36", "FIG.controlpad", "FIG", 1, {{"(fig2dev)", 0}}, 0x43E801, "READ 24BIT ALPHA INFO"},
    {"kxoPXR", "R37", "PXR.controlpad", "PXR", 1, {{"(P'xar)", 0}}, 0x3E801, "READ 24BIT ALPHA INFO"},
    {"kxoPSP", "R38", "PSP.controlpad", "PSP", 3, {{"(P'intSh'p UC)", 0}, {"(P'intSh'p RLE)", 1}, {"(P'intSh'p LZ77)", 2}}, 0x3E801, "READ 24BIT ALPHA INFO"},
    {"kxoCDR", "R39", "CDR.controlpad", "CDR", 1, {{"(C'relDr'w)", 0}}, 0x26801, "READ 24BIT INFO"},
    {"kxoRGB8", "R40 W26", "RGB8.controlpad", "RGB8", 1, {{"RunLength4", 0}}, 0x23F805, "READ WRITE 24BIT ALPHA META INFO"},
    {"kxoDEEP", "R41 W27", "DEEP.controlpad", "DEEP", 3, {{"uncompressed", 0}, {"RLE", 1}, {"DELTA", 2}}, 0x2FF805, "READ WRITE 24BIT 48BIT ALPHA META INFO"},
    {"kxoYUVN", "R42 W28", "YUVN.controlpad", "YUVN", 7, {{"(400)", 0}, {"(411)", 1}, {"(422)", 2}, {"(444)", 3}, {"(200)", 4}, {"(211)", 5}, {"(222)", 6}}, 0x23F805, "READ WRITE 24BIT ALPHA META INFO"},
    {"kxoPBM", "R43 W29", "PBM.controlpad", "PBM", 2, {{"uncompressed", 0}, {"CmpByteRun1", 1}}, 0x221805, "READ WRITE META INFO"},
    {"kxoACBM", "R44 W30", "ACBM.controlpad", "ACBM", 1, {{"uncompressed", 0}}, 0x221805, "READ WRITE META INFO"},
    {"kxoCT", "R45", "CT.controlpad", "CT", 1, {{"(Sc't'x)", 0}}, 0x26801, "READ 24BIT INFO"},
    {"kxoCVP", "R46", "CVP.controlpad", "CVP", 1, {{"uncompressed", 0}}, 0x26801, "READ 24BIT INFO"},
    {"kxoCUTPAL", "R47", "CUTPAL.controlpad", "CUTPAL", 1, {{"(Dr. H'l')", 0}}, 0x20801, "READ INFO"},
    {"kxoMSP", "R48", "MSP.controlpad", "MSP", 1, {{"(MSP''nt", 0}}, 0x20801, "READ INFO"},
    {"kxoMTV", "R49 W32", "MTV.controlpad", "MTV", 1, {{"uncompressed", 0}}, 0x27805, "READ WRITE 24BIT INFO"},
    {"kxoNEO", "R50", "NEO.controlpad", "NEO", 1, {{"(chrome)", 0}}, 0x20801, "READ INFO"},
    {"kxoQL", "R51", "QL.controlpad", "QL", 2, {{"QL4", 0}, {"QL8", 1}}, 0x20801, "READ INFO"},
    {"kxoEXR", "R52", "EXR.controlpad", "EXR", 1, {{"(Op'nEXR)", 0}}, 0x426801, "READ 24BIT INFO"},
    {"kxoFAXX", "R53", "FAXX.controlpad", "FAXX", 1, {{"(IFF)", 0}}, 0x220801, "READ META INFO"},
    {"kxoRAW", "W22", "RAW.controlpad", "RAW", 4, {{"(Dump)", 0}, {"(Bayer Matrix)", 1}, {"(YCbCr16)", 2}, {"(RGB16)", 3}}, 0xB5004, "WRITE 24BIT 48BIT ALPHA INFO"},
    {"kxoMIFF", "W31", "MIFF.controlpad", "MIFF", 1, {{"(IM)", 0}}, 0xFF004, "WRITE 24BIT 48BIT ALPHA INFO"},
    {"kxoCSRC", "W37", "CSRC.controlpad", "SourceCode", 4, {{"C", 0}, {"Asm 68k", 1}, {"Asm PPC", 2}, {"Asm x86", 3}}, 0x35000, "WRITE 24BIT ALPHA INFO"},
    {"kxoRAWMeta", "W38", "RAWMeta.controlpad", "RAWMeta", 6, {{"(Meta/EXIF)", 0}, {"(Meta/IPTC)", 1}, {"(Meta/XMP0)", 2}, {"(Meta/XMP1)", 3}, {"(Meta/Text)", 4}, {"(Meta/ICCP)", 5}}, 0x221004, "WRITE META INFO"},
    {"kxoRAW_Import", "D0", "RAW-Import.controlpad", "RAW-Import", 1, {{"(Import)", 0}}, 0x46A201, "READ 24BIT 48BIT ALPHA INFO"},
    {"kxoDCRAW", "D1", "DCRAW.controlpad", "DCRAW", 1, {{"(Import)", 0}}, 0x4E6201, "READ 24BIT 48BIT INFO"},
    {"kxoExifTool", "D2", "ExifTool.controlpad", "ExifTool", 1, {{"(XMP MetaData)", 0}}, 0x420201, "READ INFO"},
    {"kxoRAWMeta_Import", "D3", "RAWMeta-Import.controlpad", "RAWMeta-Import", 1, {{"(Import)", 0}}, 0x420201, "READ INFO"},
};
// clang-format on

// "8BIT 24BIT" -> "8BIT 24BIT ": every printed word is followed by a blank.
std::string withBlanks(const char* words) {
    std::string out;
    std::string w;
    for (const char* p = words;; p++) {
        if (*p == ' ' || *p == 0) {
            if (!w.empty()) out += w + " ";
            w.clear();
            if (!*p) break;
        } else {
            w += *p;
        }
    }
    return out;
}

int position(const char* tables, char kind) {
    for (const char* p = tables; *p; p++)
        if (*p == kind && (p == tables || p[-1] == ' ')) return atoi(p + 1);
    return -1;
}

}  // namespace

TEST(CatalogueTest, OperatorRowsMatchTheRegistrationTable) {
    uint32_t count = 0;
    const KXOperatorReg* regs = KX_OperatorRegs(&count);
    ASSERT_EQ(count, sizeof(kOps) / sizeof(kOps[0]));
    for (uint32_t i = 0; i < count; i++) {
        SCOPED_TRACE(kOps[i].cls);
        const KXOperatorReg& r = regs[i];
        EXPECT_EQ(r.Number, kOps[i].number);
        EXPECT_EQ(r.Number, i);
        EXPECT_STREQ(r.ClassName, kOps[i].cls);
        EXPECT_STREQ(r.PadName, kOps[i].pad);
        EXPECT_STREQ(r.Description, kOps[i].desc);
        EXPECT_LT(strlen(r.Description), 80u);
        EXPECT_EQ(r.Capabilities, kOps[i].caps);
        char text[128];
        KX_OperatorCapsText(r.Capabilities, text, sizeof(text));
        EXPECT_EQ(std::string(text), withBlanks(kOps[i].printed));
        EXPECT_EQ(KX_FindOperatorReg(kOps[i].cls), &r);
    }
}

TEST(CatalogueTest, FormatRowsMatchTheRegistrationTable) {
    uint32_t count = 0;
    const KXFormatReg* regs = KX_FormatRegs(&count);
    ASSERT_EQ(count, sizeof(kFmts) / sizeof(kFmts[0]));
    for (uint32_t i = 0; i < count; i++) {
        const FmtRow& e = kFmts[i];
        SCOPED_TRACE(e.cls);
        const KXFormatReg& r = regs[i];
        EXPECT_STREQ(r.ClassName, e.cls);
        EXPECT_STREQ(r.PadName, e.pad);
        EXPECT_STREQ(r.FormatName, e.name);
        EXPECT_LT(strlen(r.FormatName), 32u);
        EXPECT_EQ(r.SubFormatCount, e.count);
        ASSERT_EQ(r.SubFormatRegistered, e.subs.size());
        for (size_t s = 0; s < e.subs.size(); s++) {
            EXPECT_STREQ(r.SubFormatNames[s], e.subs[s].name);
            EXPECT_LE(strlen(r.SubFormatNames[s]), 16u);
            EXPECT_EQ(r.SubFormatIds[s], e.subs[s].id);
        }
        EXPECT_EQ(r.Capabilities, e.caps);
        char text[128];
        KX_FormatCapsText(r.Capabilities, text, sizeof(text));
        EXPECT_EQ(std::string(text), withBlanks(e.printed));
        EXPECT_EQ(r.Reader, position(e.tables, 'R'));
        EXPECT_EQ(r.Writer, position(e.tables, 'W'));
        EXPECT_EQ(r.Device, position(e.tables, 'D'));
        EXPECT_EQ(KX_FindFormatReg(e.cls), &r);
    }
}

TEST(CatalogueTest, TablePositionsAreDenseAndUnique) {
    uint32_t count = 0;
    const KXFormatReg* regs = KX_FormatRegs(&count);
    const int sizes[3] = {54, 39, 4};
    for (int kind = 0; kind < 3; kind++) {
        std::vector<int> seen(sizes[kind], 0);
        for (uint32_t i = 0; i < count; i++) {
            int p = kind == 0 ? regs[i].Reader : kind == 1 ? regs[i].Writer : regs[i].Device;
            if (p < 0) continue;
            ASSERT_LT(p, sizes[kind]) << regs[i].ClassName;
            seen[p]++;
        }
        for (int p = 0; p < sizes[kind]; p++) EXPECT_EQ(seen[p], 1) << "kind " << kind << " position " << p;
    }
}

TEST(CatalogueTest, CapsTextEdgesAndSmallBuffers) {
    char text[64];
    // One bit of a two-bit mask is enough for its word.
    KX_OperatorCapsText(0x800, text, sizeof(text));
    EXPECT_STREQ(text, "48BIT ");
    KX_OperatorCapsText(0x4, text, sizeof(text));
    EXPECT_STREQ(text, "8BIT ");
    KX_OperatorCapsText(0x3, text, sizeof(text));
    EXPECT_STREQ(text, "NOSRC BRK ");
    KX_FormatCapsText(0x100, text, sizeof(text));
    EXPECT_STREQ(text, "BRK ");
    // Bits outside every mask print nothing.
    KX_FormatCapsText(0x400200, text, sizeof(text));
    EXPECT_STREQ(text, "");
    // A short buffer holds whole words only and stays terminated.
    char small[12];
    memset(small, 'x', sizeof(small));
    KX_FormatCapsText(0x2FF805, small, sizeof(small));
    EXPECT_STREQ(small, "READ WRITE ");
    char tiny[3] = {'x', 'x', 'x'};
    KX_OperatorCapsText(0x974, tiny, sizeof(tiny));
    EXPECT_STREQ(tiny, "");
    KX_OperatorCapsText(0x974, nullptr, 10);  // no crash
}

TEST(CatalogueTest, UnknownClassNamesFindNothing) {
    EXPECT_EQ(KX_FindOperatorReg("kxpNothing"), nullptr);
    EXPECT_EQ(KX_FindFormatReg("kxoNothing"), nullptr);
    EXPECT_EQ(KX_FindOperatorReg(nullptr), nullptr);
    EXPECT_EQ(KX_FindFormatReg(nullptr), nullptr);
    // Operators and formats are separate name spaces.
    EXPECT_EQ(KX_FindFormatReg("kxpResize"), nullptr);
}
