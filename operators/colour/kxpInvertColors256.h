// kxpInvertColors256: reverses the palette entries a picture of 1 to 8 bits
// can use (entry i swaps with 2^depth - 1 - i), so each pixel shows the
// colour of its mirrored index. Pixels are copied unchanged; bit planes
// come back chunky; transparency is not carried. Refuses 24 and 48 bits
// and HAM.
#pragma once

#include "operators/kxpFrame.h"

class kxpInvertColors256 : public kxpFrame {
public:
    explicit kxpInvertColors256(KXClass* lib = nullptr) : kxpFrame(lib, "kxpInvertColors256") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
