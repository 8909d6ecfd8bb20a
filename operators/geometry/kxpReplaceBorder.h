// kxpReplaceBorder: paints the widest frame of the top-left pixel's colour
// in another colour.
#pragma once

#include "operators/kxpFrame.h"

class kxpReplaceBorder : public kxpFrame {
public:
    explicit kxpReplaceBorder(KXClass* lib = nullptr) : kxpFrame(lib, "kxpReplaceBorder") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
