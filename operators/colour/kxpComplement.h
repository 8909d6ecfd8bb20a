// kxpComplement: as kxpNegate, but all 256 palette entries are inverted and
// a 48-bit result is marked host order. Refuses HAM.
#pragma once

#include "kxpTone.h"

class kxpComplement : public kxpTone {
public:
    explicit kxpComplement(KXClass* lib = nullptr) : kxpTone(lib, "kxpComplement") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
