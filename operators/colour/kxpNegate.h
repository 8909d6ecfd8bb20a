// kxpNegate: every sample v becomes its maximum minus v: the palette
// entries a picture's depth can use, or every 8- and 16-bit sample. Pixel
// indices, transparency and alpha maps are kept; a 48-bit source is
// brought to host order in place and the result carries no byte-order
// mark. Refuses HAM.
#pragma once

#include "kxpTone.h"

class kxpNegate : public kxpTone {
public:
    explicit kxpNegate(KXClass* lib = nullptr) : kxpTone(lib, "kxpNegate") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
