// kxpExtractAlpha: the alpha map of a 24- or 48-bit picture as an 8-bit
// grey picture (a 16-bit map narrowed by 257): 0 black, 255 white.
// Refuses other depths (20) and pictures without a map (26).
#pragma once

#include "operators/kxpFrame.h"

class kxpExtractAlpha : public kxpFrame {
public:
    explicit kxpExtractAlpha(KXClass* lib = nullptr) : kxpFrame(lib, "kxpExtractAlpha") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
