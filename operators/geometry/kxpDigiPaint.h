// kxpDigiPaint: the largest value of each channel in a square window.
#pragma once

#include "operators/kxpFrame.h"

class kxpDigiPaint : public kxpFrame {
public:
    explicit kxpDigiPaint(KXClass* lib = nullptr) : kxpFrame(lib, "kxpDigiPaint") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
