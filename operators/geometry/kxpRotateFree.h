// kxpRotateFree: turns by ROTATE_ANGLE degrees about the image centre or a given point, without interpolation.
#pragma once

#include "operators/kxpFrame.h"

class kxpRotateFree : public kxpFrame {
public:
    explicit kxpRotateFree(KXClass* lib = nullptr) : kxpFrame(lib, "kxpRotateFree") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
