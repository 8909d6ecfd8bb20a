// kxpAlphaBlend: mixes a chunky 24- or 48-bit picture with a second picture
// (BLEND_GRAPHICS, converted to 24 bits for a 24-bit source; a 48-bit source
// needs a 48-bit one), weighted by the 8-bit alpha of the source
// (ALPHA_MODE "SRCGFX_ALPHA", the default) or of the second picture
// ("BLENDGFX_ALPHA"): result = (a x blend + (255 - a) x source) / 255. A
// second picture of another size is scaled when SCALE_BLENDGFX is present
// (whatever its value), else refused with 28. The result has no alpha.
#pragma once

#include "operators/kxpFrame.h"

class kxpAlphaBlend : public kxpFrame {
public:
    explicit kxpAlphaBlend(KXClass* lib = nullptr) : kxpFrame(lib, "kxpAlphaBlend") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;

private:
    uint32_t Blend(KX_GfxBuffer* source, KX_GfxBuffer** result, KX_GfxBuffer** blend);
    uint32_t FetchBlendMap(const KX_GfxBuffer* blend);
    void DropMap();
};
