// kxpAddAlpha: gives a chunky 24- or 48-bit picture a new 8-bit alpha map
// (any alpha it had is replaced). ALPHA_MODE "ALL" sets every pixel to one
// value, "VALUE" sets the pixels of one colour (ALPHA_PIXEL24) to it and
// every other pixel opaque, "SOURCE" takes the map from the indices of a
// palette picture (ALPHA_SOURCE, scaled to size unless SCALE_SOURCEGFX is
// "OFF"), through its palette's grey levels unless that palette is the
// grey ramp. The value: ALPHA_VALUE8, or the low byte of ALPHA_VALUE
// (0xRRGGBBAA) when neither ALPHA_PIXEL24 nor ALPHA_VALUE8 is given. 48-bit
// samples keep their byte order.
#pragma once

#include "operators/kxpFrame.h"

class kxpAddAlpha : public kxpFrame {
public:
    explicit kxpAddAlpha(KXClass* lib = nullptr) : kxpFrame(lib, "kxpAddAlpha") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;

private:
    uint32_t MapFromSource(const char* path, bool scale, const KX_GfxBuffer* work, uint8_t* map);
};
