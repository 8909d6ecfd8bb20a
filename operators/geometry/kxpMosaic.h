// kxpMosaic: fills blocks with the colour of their top-left pixel.
#pragma once

#include "operators/kxpFrame.h"

class kxpMosaic : public kxpFrame {
public:
    explicit kxpMosaic(KXClass* lib = nullptr) : kxpFrame(lib, "kxpMosaic") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
