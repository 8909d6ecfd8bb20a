// kxpResizeDDA: scales both dimensions by ZOOM_FACTOR, repeating or dropping pixels and rows.
#pragma once

#include "operators/kxpFrame.h"

class kxpResizeDDA : public kxpFrame {
public:
    explicit kxpResizeDDA(KXClass* lib = nullptr) : kxpFrame(lib, "kxpResizeDDA") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
