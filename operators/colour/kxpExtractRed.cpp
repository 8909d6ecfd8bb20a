// kxpExtractRed: the red channel of a picture (see the header).
#include "kxpExtractRed.h"

uint32_t kxpExtractRed::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*) { return Extract(source, result); }
