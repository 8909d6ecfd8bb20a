// kxpSlicing: displaces columns and rows by random runs of offsets.
#pragma once

#include "operators/kxpFrame.h"

class kxpSlicing : public kxpFrame {
public:
    explicit kxpSlicing(KXClass* lib = nullptr) : kxpFrame(lib, "kxpSlicing") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
