// kxpGhost: shifts a 24- or 48-bit picture two pixels to the left and one
// channel (GHOSTMODE "RED", "GREEN" or "BLUE") four, taking the picture as
// one run of pixels, so a row's last pixels come from the next row's
// first; GHOSTFACTOR passes (3; 0 gives 1, at most 16). Past the last
// pixel the last pixel is repeated. No alpha or flags are carried.
#pragma once

#include "operators/kxpFrame.h"

class kxpGhost : public kxpFrame {
public:
    explicit kxpGhost(KXClass* lib = nullptr) : kxpFrame(lib, "kxpGhost") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
