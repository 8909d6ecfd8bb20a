// kxpOilPaint: the most frequent value of each channel in a square window.
#pragma once

#include "operators/kxpFrame.h"

class kxpOilPaint : public kxpFrame {
public:
    explicit kxpOilPaint(KXClass* lib = nullptr) : kxpFrame(lib, "kxpOilPaint") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
