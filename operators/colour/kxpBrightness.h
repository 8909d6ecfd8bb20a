// kxpBrightness: adds ADJUST_RGB (default 0) to all 256 palette entries or
// every 8- and 16-bit sample, limited to the sample's range, computed in
// 64 bits. Transparency, alpha maps and the grey and source-depth flags
// are kept. Refuses HAM.
#pragma once

#include "kxpTone.h"

class kxpBrightness : public kxpTone {
public:
    explicit kxpBrightness(KXClass* lib = nullptr) : kxpTone(lib, "kxpBrightness") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
