// kxpScale50: halves (METHOD "HALF", the default) or doubles ("DOUBLE") both dimensions without averaging.
#pragma once

#include "operators/kxpFrame.h"

class kxpScale50 : public kxpFrame {
public:
    explicit kxpScale50(KXClass* lib = nullptr) : kxpFrame(lib, "kxpScale50") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
