// kxpRedEyeFix: lowers the red of reddish pixels with a dark surround in a
// 24- or 48-bit picture (the front end gives it the selected area): where
// R >= 2G, R >= 2B, G < 80 and B < 80 (48 bits: on the samples' high
// bytes), red becomes (G + B) / 3. No alpha or flags are carried.
#pragma once

#include "operators/kxpFrame.h"

class kxpRedEyeFix : public kxpFrame {
public:
    explicit kxpRedEyeFix(KXClass* lib = nullptr) : kxpFrame(lib, "kxpRedEyeFix") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
