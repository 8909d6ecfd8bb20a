// kxpPaste: copies a registered paste buffer (PASTEBUFFER) into the area (KX_AREA or the PASTE_ keys).
#pragma once

#include "operators/kxpFrame.h"

class kxpPaste : public kxpFrame {
public:
    explicit kxpPaste(KXClass* lib = nullptr) : kxpFrame(lib, "kxpPaste") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
