// kxpResetChannel: sets one channel (MODE "RED", "GREEN" or "BLUE"; red by
// default) to one value everywhere: in the palette entries a picture's
// depth can use, or in every 24- and 48-bit pixel. CHANNEL_VALUE v gives
// v for 8 bits and v << 8 | v for 16; CHANNEL_VALUE16 v (which wins) gives
// v and its high byte; each is limited to its maximum. Keys in any case.
// Alpha and transparency are kept; no flags, and a 48-bit result stays in
// host order without a mark. Refuses HAM.
#pragma once

#include "kxpTone.h"

class kxpResetChannel : public kxpTone {
public:
    explicit kxpResetChannel(KXClass* lib = nullptr) : kxpTone(lib, "kxpResetChannel") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;
};
