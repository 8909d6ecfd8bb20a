// kxpInvertAlpha: inverts alpha. A palette picture (bit planes too, kept
// as bit planes) gets an alpha table: 255 minus its table, or only its
// transparent index opaque. A 24- or 48-bit picture gets an 8-bit map of
// 255 minus its map (a 16-bit map narrowed first). Where there is nothing
// to invert, NO_ALPHA decides: "IGNORE" (no alpha), "ERROR" (26), "OPAQUE"
// or "TRANSPARENT". Other depths are refused (15).
#pragma once

#include "operators/kxpFrame.h"

class kxpInvertAlpha : public kxpFrame {
public:
    explicit kxpInvertAlpha(KXClass* lib = nullptr) : kxpFrame(lib, "kxpInvertAlpha") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
