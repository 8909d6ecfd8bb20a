// kxpBlur: the 3 x 3 mean of every channel.
#pragma once

#include "operators/kxpFrame.h"

class kxpBlur : public kxpFrame {
public:
    explicit kxpBlur(KXClass* lib = nullptr) : kxpFrame(lib, "kxpBlur") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
