// The front end's operator numbers against the catalogue: each name runs
// the class the catalogue registers at that number, and the names cover the
// whole catalogue, so neither can move without the other.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>

#include "core/catalogue.h"
#include "core/kxopnumbers.h"

namespace {

struct NamedOp {
    uint32_t number;
    const char* cls;
};

// clang-format off
const NamedOp kNamed[] = {
    {KXOP_ANYTO24BIT, "kxpAnyTo24Bit"},
    {KXOP_ANYTO48BIT, "kxpAnyTo48Bit"},
    {KXOP_AUTOBORDER, "kxpAutoBorder"},
    {KXOP_BLUR, "kxpBlur"},
    {KXOP_ROTATE, "kxpRotate"},
    {KXOP_EXTRACTGRAYSCALES, "kxpExtractGrayScales"},
    {KXOP_ANTIQUE, "kxpAntique"},
    {KXOP_DITHERFIX24, "kxpDitherFix24"},
    {KXOP_DITHER24BIT, "kxpDither24Bit"},
    {KXOP_SCALE50, "kxpScale50"},
    {KXOP_OPTIMIZEPALETTE, "kxpOptimizePalette"},
    {KXOP_EXTRACTRED, "kxpExtractRed"},
    {KXOP_EXTRACTGREEN, "kxpExtractGreen"},
    {KXOP_EXTRACTBLUE, "kxpExtractBlue"},
    {KXOP_RESIZE, "kxpResize"},
    {KXOP_CONVOLVE, "kxpConvolve"},
    {KXOP_CONVOLVEFLOAT, "kxpConvolveFloat"},
    {KXOP_CONVOLVENXN, "kxpConvolveNxN"},
    {KXOP_EXTRACTALPHA, "kxpExtractAlpha"},
    {KXOP_INVERTALPHA, "kxpInvertAlpha"},
    {KXOP_STRIPALPHA, "kxpStripAlpha"},
    {KXOP_CROP, "kxpCrop"},
    {KXOP_PASTE, "kxpPaste"},
    {KXOP_CUT, "kxpCut"},
    {KXOP_SHARPEN, "kxpSharpen"},
    {KXOP_LEFTTORIGHT, "kxpLeftToRight"},
    {KXOP_TOPTOBOTTOM, "kxpTopToBottom"},
    {KXOP_ROTATEFREE, "kxpRotateFree"},
    {KXOP_REDEYEFIX, "kxpRedEyeFix"},
    {KXOP_MIRROR, "kxpMirror"},
    {KXOP_MIRRORCOPY, "kxpMirrorCopy"},
    {KXOP_BRIGHTNESS, "kxpBrightness"},
    {KXOP_CONTRAST, "kxpContrast"},
    {KXOP_MOSAIC, "kxpMosaic"},
    {KXOP_CUTINVERSE, "kxpCutInverse"},
    {KXOP_COLORCYCLE, "kxpColorCycle"},
    {KXOP_GHOST, "kxpGhost"},
    {KXOP_GAMMA, "kxpGamma"},
    {KXOP_HILBERTDITHER256, "kxpHilbertDither256"},
    {KXOP_SCATTER, "kxpScatter"},
    {KXOP_COMPLEMENT, "kxpComplement"},
    {KXOP_NEGATE, "kxpNegate"},
    {KXOP_OILPAINT, "kxpOilPaint"},
    {KXOP_DIGIPAINT, "kxpDigiPaint"},
    {KXOP_RESETCHANNEL, "kxpResetChannel"},
    {KXOP_ADDBORDER, "kxpAddBorder"},
    {KXOP_REPLACEBORDER, "kxpReplaceBorder"},
    {KXOP_HISTOGRAM, "kxpHistogram"},
    {KXOP_PALETTEDITHER, "kxpPaletteDither"},
    {KXOP_ADDALPHA, "kxpAddAlpha"},
    {KXOP_FLIPNIBBLES, "kxpFlipNibbles"},
    {KXOP_XOR, "kxpXOr"},
    {KXOP_ALPHABLEND, "kxpAlphaBlend"},
    {KXOP_INVERTCOLORS256, "kxpInvertColors256"},
    {KXOP_RESIZEDDA, "kxpResizeDDA"},
    {KXOP_MEDIAN, "kxpMedian"},
    {KXOP_TILING, "kxpTiling"},
    {KXOP_SLICING, "kxpSlicing"},
    {KXOP_OPTIMIZEALPHA, "kxpOptimizeAlpha"},
    {KXOP_ALPHATO8BIT, "kxpAlphaTo8Bit"},
    {KXOP_ALPHATO16BIT, "kxpAlphaTo16Bit"},
    {KXOP_SELECTGRAYSCALES, "kxpSelectGrayScales"},
};
// clang-format on

static_assert(std::size(kNamed) == KXOP_COUNT, "every operator number is checked");

TEST(OperatorNumbers, NameTheCatalogueClassAtTheirNumber) {
    uint32_t count = 0;
    const KXOperatorReg* regs = KX_OperatorRegs(&count);
    ASSERT_NE(regs, nullptr);
    ASSERT_EQ(count, uint32_t(KXOP_COUNT)) << "the catalogue and kxopnumbers.h list different operator counts";
    for (const NamedOp& n : kNamed) {
        SCOPED_TRACE(n.cls);
        const KXOperatorReg* reg = KX_FindOperatorReg(n.cls);
        ASSERT_NE(reg, nullptr);
        EXPECT_EQ(reg->Number, n.number);
        ASSERT_LT(n.number, count);
        EXPECT_EQ(regs[n.number].Number, n.number);
        EXPECT_STREQ(regs[n.number].ClassName, n.cls);
    }
}

}  // namespace
