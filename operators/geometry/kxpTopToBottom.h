// kxpTopToBottom: flips the image top to bottom.
#pragma once

#include "operators/kxpFrame.h"

class kxpTopToBottom : public kxpFrame {
public:
    explicit kxpTopToBottom(KXClass* lib = nullptr) : kxpFrame(lib, "kxpTopToBottom") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
