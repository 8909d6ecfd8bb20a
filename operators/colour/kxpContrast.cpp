// kxpContrast: scaling about 0 plus an offset (see the header). Relies on
// the point-operator run.
#include "kxpContrast.h"

#include <algorithm>

uint32_t kxpContrast::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KXPToneRules rules;
    KX_GfxBuffer* work = nullptr;
    uint32_t err = ToneBegin(source, result, &work, rules);
    if (err) return err;

    KXPKeyReader keys(this, false);
    const int64_t percent = keys.Long("PERCENT", 100), summand = keys.Long("SUMMAND", 0);
    // 64 bits: no key value can overflow; the same results wherever 32 bits did not.
    auto rule = [percent, summand](int64_t v, int64_t max) { return std::clamp<int64_t>(percent * v / 100 + summand, 0, max); };
    KXPToneTables t;
    t.PaletteEntries = 256;
    t.Table8([&](uint32_t v) { return rule(v, 255); });
    if (work->ColorDepth == 48) t.Table16(7, [&](uint32_t w) { return rule(w, 65535); });
    return ToneFinish(source, work, result, rules, t);
}
