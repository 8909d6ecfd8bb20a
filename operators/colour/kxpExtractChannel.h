// kxpExtractChannel: the shared run of kxpExtractRed, kxpExtractGreen and
// kxpExtractBlue. A palette picture keeps its pixels and only that channel
// of the entries its depth can use (the other two become 0); a 24- or
// 48-bit picture becomes an 8-bit picture of the channel's samples (the
// high byte of 16-bit ones) over a ramp palette in that channel. No alpha
// and no flags are carried. Refuses HAM.
#pragma once

#include "operators/kxpFrame.h"

class kxpExtractChannel : public kxpFrame {
protected:
    // channel: 0 red, 1 green, 2 blue.
    kxpExtractChannel(KXClass* lib, const char* className, uint32_t channel) : kxpFrame(lib, className), Channel(channel) {}
    uint32_t Extract(KX_GfxBuffer* source, KX_GfxBuffer** result);

private:
    uint32_t Channel;
};
