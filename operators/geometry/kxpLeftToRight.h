// kxpLeftToRight: flips the image left to right.
#pragma once

#include "operators/kxpFrame.h"

class kxpLeftToRight : public kxpFrame {
public:
    explicit kxpLeftToRight(KXClass* lib = nullptr) : kxpFrame(lib, "kxpLeftToRight") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
