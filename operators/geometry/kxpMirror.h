// kxpMirror: mirrors at the horizontal axis, the vertical axis or both (MIRRORMODE).
#pragma once

#include "operators/kxpFrame.h"

class kxpMirror : public kxpFrame {
public:
    explicit kxpMirror(KXClass* lib = nullptr) : kxpFrame(lib, "kxpMirror") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
