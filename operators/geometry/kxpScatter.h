// kxpScatter: shifts every other row or column by a factor.
#pragma once

#include "operators/kxpFrame.h"

class kxpScatter : public kxpFrame {
public:
    explicit kxpScatter(KXClass* lib = nullptr) : kxpFrame(lib, "kxpScatter") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
