// kxpSharpen: a 3 x 3 sharpening matrix of adjustable strength.
#pragma once

#include "operators/kxpFrame.h"

class kxpSharpen : public kxpFrame {
public:
    explicit kxpSharpen(KXClass* lib = nullptr) : kxpFrame(lib, "kxpSharpen") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
