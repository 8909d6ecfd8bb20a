// kxpTiling: breaks the picture into tiles moved at random.
#pragma once

#include "operators/kxpFrame.h"

class kxpTiling : public kxpFrame {
public:
    explicit kxpTiling(KXClass* lib = nullptr) : kxpFrame(lib, "kxpTiling") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
