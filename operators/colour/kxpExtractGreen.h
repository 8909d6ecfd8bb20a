// kxpExtractGreen: keeps the green channel: a palette picture's entries lose
// the other two components; a true-colour picture becomes an 8-bit
// picture of its green samples over a green ramp (see kxpExtractChannel).
#pragma once

#include "kxpExtractChannel.h"

class kxpExtractGreen : public kxpExtractChannel {
public:
    explicit kxpExtractGreen(KXClass* lib = nullptr) : kxpExtractChannel(lib, "kxpExtractGreen", 1) {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
