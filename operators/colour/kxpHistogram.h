// kxpHistogram: counts the pixels of a 24- or 48-bit picture. MODE
// "BRIGHTNESS" (default): 256 counts of (R + G + B) / 3 (high bytes of
// 16-bit samples) drawn as a two-colour bar chart of WIDTH (100) x 256
// pixels, one row per level, scaled so that a few high peaks do not
// flatten the rest; BACKCOLOR_VALUE and FORECOLOR_VALUE ("0x" and six hex
// digits) colour it. MODE "COLOR": every distinct colour counted; the
// result is the picture's pixels regrouped into runs, darkest colour
// first. HISTOGRAM_PATH names a text report of the counts (written safely:
// a failed run leaves an older report as it was). No alpha and no flags
// are carried.
#pragma once

#include "operators/kxpFrame.h"

class kxpHistogram : public kxpFrame {
public:
    explicit kxpHistogram(KXClass* lib = nullptr) : kxpFrame(lib, "kxpHistogram") {}
    uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags) override;

private:
    uint32_t Brightness(const KX_GfxBuffer* work, const char* report, int32_t width, uint32_t back, uint32_t fore);
    uint32_t Colours(const KX_GfxBuffer* work, const char* report);
    void Note(uint32_t level, const char* format, ...) __attribute__((format(printf, 3, 4)));
};
