// kxpExtractBlue: keeps the blue channel: a palette picture's entries lose
// the other two components; a true-colour picture becomes an 8-bit
// picture of its blue samples over a blue ramp (see kxpExtractChannel).
#pragma once

#include "kxpExtractChannel.h"

class kxpExtractBlue : public kxpExtractChannel {
public:
    explicit kxpExtractBlue(KXClass* lib = nullptr) : kxpExtractChannel(lib, "kxpExtractBlue", 2) {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
