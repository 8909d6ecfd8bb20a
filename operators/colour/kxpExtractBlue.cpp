// kxpExtractBlue: the blue channel of a picture (see the header).
#include "kxpExtractBlue.h"

uint32_t kxpExtractBlue::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*) { return Extract(source, result); }
