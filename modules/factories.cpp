// factories: the one table that binds a catalogue class name to the module
// class that implements it. It sits above formats/ and operators/ so that the
// core never includes a module: the core asks KX_FindOperatorFactory /
// KX_FindFormatFactory by class name and builds a placeholder where a class
// has no line here yet. Adding a module adds its include and one line.
#include <cstring>

#include "core/catalogue.h"
#include "formats/iff/kxoACBM.h"
#include "formats/iff/kxoDEEP.h"
#include "formats/iff/kxoFAXX.h"
#include "formats/iff/kxoILBM.h"
#include "formats/iff/kxoKGX.h"
#include "formats/iff/kxoPBM.h"
#include "formats/iff/kxoRGB8.h"
#include "formats/iff/kxoRGFX.h"
#include "formats/iff/kxoYUVN.h"
#include "formats/libraries/kxoCDR.h"
#include "formats/libraries/kxoCSRC.h"
#include "formats/libraries/kxoDCRAW.h"
#include "formats/libraries/kxoEPS.h"
#include "formats/libraries/kxoEXR.h"
#include "formats/libraries/kxoExifTool.h"
#include "formats/libraries/kxoFIG.h"
#include "formats/libraries/kxoGS.h"
#include "formats/libraries/kxoJFIF.h"
#include "formats/libraries/kxoJPEG2000.h"
#include "formats/libraries/kxoLJPG.h"
#include "formats/libraries/kxoMIFF.h"
#include "formats/libraries/kxoPCD.h"
#include "formats/libraries/kxoPNG.h"
#include "formats/libraries/kxoRAW.h"
#include "formats/libraries/kxoRAWMeta_Import.h"
#include "formats/libraries/kxoRAW_Import.h"
#include "formats/libraries/kxoTIFF.h"
#include "formats/raster/kxoBMP.h"
#include "formats/raster/kxoC64.h"
#include "formats/raster/kxoCT.h"
#include "formats/raster/kxoCUTPAL.h"
#include "formats/raster/kxoCVP.h"
#include "formats/raster/kxoDDS.h"
#include "formats/raster/kxoDEG.h"
#include "formats/raster/kxoFBM.h"
#include "formats/raster/kxoGIF.h"
#include "formats/raster/kxoHDR.h"
#include "formats/raster/kxoIMG.h"
#include "formats/raster/kxoMAC.h"
#include "formats/raster/kxoMSP.h"
#include "formats/raster/kxoMTV.h"
#include "formats/raster/kxoNEO.h"
#include "formats/raster/kxoPAM.h"
#include "formats/raster/kxoPCP.h"
#include "formats/raster/kxoPCX.h"
#include "formats/raster/kxoPFM.h"
#include "formats/raster/kxoPICT.h"
#include "formats/raster/kxoPNM.h"
#include "formats/raster/kxoPSD.h"
#include "formats/raster/kxoPSP.h"
#include "formats/raster/kxoPXR.h"
#include "formats/raster/kxoQL.h"
#include "formats/raster/kxoQRT.h"
#include "formats/raster/kxoRAS.h"
#include "formats/raster/kxoSCR.h"
#include "formats/raster/kxoSGI.h"
#include "formats/raster/kxoTGA.h"
#include "formats/raster/kxoTIM.h"
#include "formats/raster/kxoXBM.h"
#include "formats/raster/kxoXPM.h"
#include "formats/raster/kxoXWD.h"
#include "operators/colour/kxpAddAlpha.h"
#include "operators/colour/kxpAlphaBlend.h"
#include "operators/colour/kxpAlphaTo16Bit.h"
#include "operators/colour/kxpAlphaTo8Bit.h"
#include "operators/colour/kxpAntique.h"
#include "operators/colour/kxpAnyTo24Bit.h"
#include "operators/colour/kxpAnyTo48Bit.h"
#include "operators/colour/kxpBrightness.h"
#include "operators/colour/kxpColorCycle.h"
#include "operators/colour/kxpComplement.h"
#include "operators/colour/kxpContrast.h"
#include "operators/colour/kxpDither24Bit.h"
#include "operators/colour/kxpDitherFix24.h"
#include "operators/colour/kxpExtractAlpha.h"
#include "operators/colour/kxpExtractBlue.h"
#include "operators/colour/kxpExtractGrayScales.h"
#include "operators/colour/kxpExtractGreen.h"
#include "operators/colour/kxpExtractRed.h"
#include "operators/colour/kxpFlipNibbles.h"
#include "operators/colour/kxpGamma.h"
#include "operators/colour/kxpGhost.h"
#include "operators/colour/kxpHilbertDither256.h"
#include "operators/colour/kxpHistogram.h"
#include "operators/colour/kxpInvertAlpha.h"
#include "operators/colour/kxpInvertColors256.h"
#include "operators/colour/kxpNegate.h"
#include "operators/colour/kxpOptimizeAlpha.h"
#include "operators/colour/kxpOptimizePalette.h"
#include "operators/colour/kxpPaletteDither.h"
#include "operators/colour/kxpRedEyeFix.h"
#include "operators/colour/kxpResetChannel.h"
#include "operators/colour/kxpSelectGrayScales.h"
#include "operators/colour/kxpStripAlpha.h"
#include "operators/colour/kxpXOr.h"
#include "operators/geometry/kxpAddBorder.h"
#include "operators/geometry/kxpAutoBorder.h"
#include "operators/geometry/kxpBlur.h"
#include "operators/geometry/kxpConvolve.h"
#include "operators/geometry/kxpConvolveFloat.h"
#include "operators/geometry/kxpConvolveNxN.h"
#include "operators/geometry/kxpCrop.h"
#include "operators/geometry/kxpCut.h"
#include "operators/geometry/kxpCutInverse.h"
#include "operators/geometry/kxpDigiPaint.h"
#include "operators/geometry/kxpLeftToRight.h"
#include "operators/geometry/kxpMedian.h"
#include "operators/geometry/kxpMirror.h"
#include "operators/geometry/kxpMirrorCopy.h"
#include "operators/geometry/kxpMosaic.h"
#include "operators/geometry/kxpOilPaint.h"
#include "operators/geometry/kxpPaste.h"
#include "operators/geometry/kxpReplaceBorder.h"
#include "operators/geometry/kxpResize.h"
#include "operators/geometry/kxpResizeDDA.h"
#include "operators/geometry/kxpRotate.h"
#include "operators/geometry/kxpRotateFree.h"
#include "operators/geometry/kxpScale50.h"
#include "operators/geometry/kxpScatter.h"
#include "operators/geometry/kxpSharpen.h"
#include "operators/geometry/kxpSlicing.h"
#include "operators/geometry/kxpTiling.h"
#include "operators/geometry/kxpTopToBottom.h"

namespace {

struct OperatorBinding {
    const char* ClassName;
    KXOperatorFactory Make;
};

struct FormatBinding {
    const char* ClassName;
    KXFormatFactory Make;
};

#define OP(T) {#T, KX_MakeOperator<T>}
#define FMT(T) {#T, KX_MakeObject<T>}

// Sorted by class name; the order carries no meaning.
const OperatorBinding kOperatorBindings[] = {
    OP(kxpAddAlpha),
    OP(kxpAddBorder),
    OP(kxpAlphaBlend),
    OP(kxpAlphaTo16Bit),
    OP(kxpAlphaTo8Bit),
    OP(kxpAntique),
    OP(kxpAnyTo24Bit),
    OP(kxpAnyTo48Bit),
    OP(kxpAutoBorder),
    OP(kxpBlur),
    OP(kxpBrightness),
    OP(kxpColorCycle),
    OP(kxpComplement),
    OP(kxpContrast),
    OP(kxpConvolve),
    OP(kxpConvolveFloat),
    OP(kxpConvolveNxN),
    OP(kxpCrop),
    OP(kxpCut),
    OP(kxpCutInverse),
    OP(kxpDigiPaint),
    OP(kxpDither24Bit),
    OP(kxpDitherFix24),
    OP(kxpExtractAlpha),
    OP(kxpExtractBlue),
    OP(kxpExtractGrayScales),
    OP(kxpExtractGreen),
    OP(kxpExtractRed),
    OP(kxpFlipNibbles),
    OP(kxpGamma),
    OP(kxpGhost),
    OP(kxpHilbertDither256),
    OP(kxpHistogram),
    OP(kxpInvertAlpha),
    OP(kxpInvertColors256),
    OP(kxpLeftToRight),
    OP(kxpMedian),
    OP(kxpMirror),
    OP(kxpMirrorCopy),
    OP(kxpMosaic),
    OP(kxpNegate),
    OP(kxpOilPaint),
    OP(kxpOptimizeAlpha),
    OP(kxpOptimizePalette),
    OP(kxpPaletteDither),
    OP(kxpPaste),
    OP(kxpRedEyeFix),
    OP(kxpReplaceBorder),
    OP(kxpResetChannel),
    OP(kxpResize),
    OP(kxpResizeDDA),
    OP(kxpRotate),
    OP(kxpRotateFree),
    OP(kxpScale50),
    OP(kxpScatter),
    OP(kxpSelectGrayScales),
    OP(kxpSharpen),
    OP(kxpSlicing),
    OP(kxpStripAlpha),
    OP(kxpTiling),
    OP(kxpTopToBottom),
    OP(kxpXOr),
};

const FormatBinding kFormatBindings[] = {
    FMT(kxoACBM),
    FMT(kxoBMP),
    FMT(kxoC64),
    FMT(kxoCDR),
    FMT(kxoCSRC),
    FMT(kxoCT),
    FMT(kxoCUTPAL),
    FMT(kxoCVP),
    FMT(kxoDCRAW),
    FMT(kxoDDS),
    FMT(kxoDEEP),
    FMT(kxoDEG),
    FMT(kxoEPS),
    FMT(kxoEXR),
    FMT(kxoExifTool),
    FMT(kxoFAXX),
    FMT(kxoFBM),
    FMT(kxoFIG),
    FMT(kxoGIF),
    FMT(kxoGS),
    FMT(kxoHDR),
    FMT(kxoILBM),
    FMT(kxoIMG),
    FMT(kxoJFIF),
    FMT(kxoJPEG2000),
    FMT(kxoKGX),
    FMT(kxoLJPG),
    FMT(kxoMAC),
    FMT(kxoMIFF),
    FMT(kxoMSP),
    FMT(kxoMTV),
    FMT(kxoNEO),
    FMT(kxoPAM),
    FMT(kxoPBM),
    FMT(kxoPCD),
    FMT(kxoPCP),
    FMT(kxoPCX),
    FMT(kxoPFM),
    FMT(kxoPICT),
    FMT(kxoPNG),
    FMT(kxoPNM),
    FMT(kxoPSD),
    FMT(kxoPSP),
    FMT(kxoPXR),
    FMT(kxoQL),
    FMT(kxoQRT),
    FMT(kxoRAS),
    FMT(kxoRAW),
    FMT(kxoRAWMeta_Import),
    FMT(kxoRAW_Import),
    FMT(kxoRGB8),
    FMT(kxoRGFX),
    FMT(kxoSCR),
    FMT(kxoSGI),
    FMT(kxoTGA),
    FMT(kxoTIFF),
    FMT(kxoTIM),
    FMT(kxoXBM),
    FMT(kxoXPM),
    FMT(kxoXWD),
    FMT(kxoYUVN),
};

#undef OP
#undef FMT

}  // namespace

KXOperatorFactory KX_FindOperatorFactory(const char* className) {
    if (!className) return nullptr;
    for (const OperatorBinding& b : kOperatorBindings)
        if (strcmp(b.ClassName, className) == 0) return b.Make;
    return nullptr;
}

KXFormatFactory KX_FindFormatFactory(const char* className) {
    if (!className) return nullptr;
    for (const FormatBinding& b : kFormatBindings)
        if (strcmp(b.ClassName, className) == 0) return b.Make;
    return nullptr;
}
