// kxpMirrorCopy: mirrors one half of the image onto the other (MIRRORMODE).
#pragma once

#include "operators/kxpFrame.h"

class kxpMirrorCopy : public kxpFrame {
public:
    explicit kxpMirrorCopy(KXClass* lib = nullptr) : kxpFrame(lib, "kxpMirrorCopy") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
