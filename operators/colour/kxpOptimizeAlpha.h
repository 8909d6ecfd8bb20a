// kxpOptimizeAlpha: drops alpha that hides nothing: an alpha map of only
// fully opaque values (a 16-bit map counts only at 65535; a kept map comes
// out as 8 bits) and a palette alpha table of only 255. A transparent
// index is always kept. Any depth (bit planes come back chunky); refuses
// HAM.
#pragma once

#include "operators/kxpFrame.h"

class kxpOptimizeAlpha : public kxpFrame {
public:
    explicit kxpOptimizeAlpha(KXClass* lib = nullptr) : kxpFrame(lib, "kxpOptimizeAlpha") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
