// kxpExtractRed: keeps the red channel: a palette picture's entries lose
// the other two components; a true-colour picture becomes an 8-bit
// picture of its red samples over a red ramp (see kxpExtractChannel).
#pragma once

#include "kxpExtractChannel.h"

class kxpExtractRed : public kxpExtractChannel {
public:
    explicit kxpExtractRed(KXClass* lib = nullptr) : kxpExtractChannel(lib, "kxpExtractRed", 0) {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
