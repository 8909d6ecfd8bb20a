// kxpMedian: the smallest, middle or largest sample of each 3 x 3 window.
#pragma once

#include "operators/kxpFrame.h"

class kxpMedian : public kxpFrame {
public:
    explicit kxpMedian(KXClass* lib = nullptr) : kxpFrame(lib, "kxpMedian") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
