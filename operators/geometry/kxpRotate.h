// kxpRotate: turns by DEGREES "90" (counter-clockwise, the default), "180" or "270" (clockwise).
#pragma once

#include "operators/kxpFrame.h"

class kxpRotate : public kxpFrame {
public:
    explicit kxpRotate(KXClass* lib = nullptr) : kxpFrame(lib, "kxpRotate") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
