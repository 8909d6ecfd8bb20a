// kxpHilbertDither256: dithers a palette picture of 1 to 8 bits to black
// and white. Each 16 x 16 block is walked along a Hilbert curve and the
// brightness error is carried along that path; blocks are independent. The
// result is padded to whole blocks (index 0 beyond the picture), one byte
// a pixel, 1 for bright; BACKGROUND "BLACK" (the default) gives entry 0
// black and entry 1 white, any other word the reverse. Marked grey; no
// alpha is carried.
#pragma once

#include <cstdint>
#include <string>

#include "operators/kxpFrame.h"

class kxpHilbertDither256 : public kxpFrame {
public:
    explicit kxpHilbertDither256(KXClass* lib = nullptr) : kxpFrame(lib, "kxpHilbertDither256") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;

    // The turtle string of the walk: the L-system from "X", three rounds of
    // X -> -YF+XFX+FY-, Y -> +XF-YFY-FX+, then X -> -F+F+F-, Y -> +F-F-F+.
    static std::string HilbertPath();
};
