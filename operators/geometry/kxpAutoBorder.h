// kxpAutoBorder: cuts away the widest frame of the top-left pixel's colour.
#pragma once

#include "operators/kxpFrame.h"

class kxpAutoBorder : public kxpFrame {
public:
    explicit kxpAutoBorder(KXClass* lib = nullptr) : kxpFrame(lib, "kxpAutoBorder") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
