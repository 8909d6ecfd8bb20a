// kxpColorCycle: permutes the three channels of the palette entries a
// picture's depth can use, or of every 24- and 48-bit pixel, by INDEX (1 to
// 5; 0 gives 1, larger or negative numbers 5): 1 (G,B,R), 2 (B,R,G),
// 3 (B,G,R), 4 (G,R,B), 5 (R,B,G). Alpha, transparency and the grey and
// source-depth flags are kept. Refuses HAM.
#pragma once

#include "kxpTone.h"

class kxpColorCycle : public kxpTone {
public:
    explicit kxpColorCycle(KXClass* lib = nullptr) : kxpTone(lib, "kxpColorCycle") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
