// kxpBrightness: adds a value to every sample (see the header). Relies on
// the point-operator run.
#include "kxpBrightness.h"

#include <algorithm>

uint32_t kxpBrightness::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KXPToneRules rules;
    rules.Carried = CarryAll;
    KX_GfxBuffer* work = nullptr;
    uint32_t err = ToneBegin(source, result, &work, rules);
    if (err) return err;

    const int64_t a = KXPKeyReader(this, false).Long("ADJUST_RGB", 0);
    KXPToneTables t;
    t.PaletteEntries = 256;
    t.Table8([a](uint32_t v) { return std::clamp<int64_t>(v + a, 0, 255); });
    if (work->ColorDepth == 48) t.Table16(7, [a](uint32_t w) { return std::clamp<int64_t>(w + a, 0, 65535); });
    return ToneFinish(source, work, result, rules, t);
}
