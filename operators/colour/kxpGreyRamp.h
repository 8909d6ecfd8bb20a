// kxpGreyRamp: the shared run of the two operators that turn any picture
// into a palette picture of 1 to 8 bits on a grey ramp (kxpExtractGrayScales
// and kxpAntique): the wanted depth (never above a palette source's own),
// the grey level of each pixel, the ramp, and the optional re-sorting by
// brightness. Pixels go through one table from source index or grey level
// to result index, so every row is a table look-up.
#pragma once

#include <cstdint>

#include "operators/kxpFrame.h"

class kxpGreyRamp : public kxpFrame {
protected:
    kxpGreyRamp(KXClass* lib, const char* className) : kxpFrame(lib, className) {}

    enum class Sort { None, Ascending, Descending };
    struct Options {
        bool extract;  // kxpExtractGrayScales (else kxpAntique)
        bool quick;    // R/4 + G/2 + B/8 in place of the luminance
        Sort sort;
    };

    // Checks the input, builds the result (depth from COLORDEPTH) and its
    // pixels and palette; *depth receives the result's depth. The result
    // is left in Result; the caller finishes it and sets *result.
    uint32_t RunGreyRamp(KX_GfxBuffer* source, KX_GfxBuffer** result, const Options& options, KX_GfxBuffer** work, uint32_t* depth);
};
