// kxpExtractGreen: the green channel of a picture (see the header).
#include "kxpExtractGreen.h"

uint32_t kxpExtractGreen::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*) { return Extract(source, result); }
