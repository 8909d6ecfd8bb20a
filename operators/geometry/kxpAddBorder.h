// kxpAddBorder: grows the picture by a frame of one colour.
#pragma once

#include "operators/kxpFrame.h"

class kxpAddBorder : public kxpFrame {
public:
    explicit kxpAddBorder(KXClass* lib = nullptr) : kxpFrame(lib, "kxpAddBorder") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
