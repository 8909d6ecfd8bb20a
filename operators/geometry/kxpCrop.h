// kxpCrop: keeps only the area (KX_AREA or the CROP_ keys).
#pragma once

#include "operators/kxpFrame.h"

class kxpCrop : public kxpFrame {
public:
    explicit kxpCrop(KXClass* lib = nullptr) : kxpFrame(lib, "kxpCrop") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
