// kxpResize: resamples to NEW_WIDTH by NEW_HEIGHT by area averaging (palette indices and alpha maps by picking).
#pragma once

#include "operators/kxpFrame.h"

class kxpResize : public kxpFrame {
public:
    explicit kxpResize(KXClass* lib = nullptr) : kxpFrame(lib, "kxpResize") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
