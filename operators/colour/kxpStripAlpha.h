// kxpStripAlpha: removes every kind of alpha (index, table, 8- or 16-bit
// map) from any picture; bit planes come back chunky, one byte a pixel.
// Pixels are copied; a 48-bit picture comes out in host order.
#pragma once

#include "operators/kxpFrame.h"

class kxpStripAlpha : public kxpFrame {
public:
    explicit kxpStripAlpha(KXClass* lib = nullptr) : kxpFrame(lib, "kxpStripAlpha") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
