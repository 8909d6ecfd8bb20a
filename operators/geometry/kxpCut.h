// kxpCut: fills the area (KX_AREA or the CUT_ keys) with BACKPEN or BACKCOLOR.
#pragma once

#include "operators/kxpFrame.h"

class kxpCut : public kxpFrame {
public:
    explicit kxpCut(KXClass* lib = nullptr) : kxpFrame(lib, "kxpCut") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
