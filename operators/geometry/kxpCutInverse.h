// kxpCutInverse: fills everything but the area (KX_AREA or the CUT_ keys) with BACKPEN or BACKCOLOR.
#pragma once

#include "operators/kxpFrame.h"

class kxpCutInverse : public kxpFrame {
public:
    explicit kxpCutInverse(KXClass* lib = nullptr) : kxpFrame(lib, "kxpCutInverse") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
