// kxpGamma: gamma correction per channel through tables (see the header).
// Relies on the point-operator run.
#include "kxpGamma.h"

#include <cmath>

namespace {

// max * (v / max)^e rounded, limited to max; an infinite or undefined
// power gives max.
uint32_t Corrected(uint32_t v, double max, double e)
{
    const double c = max * std::pow(v / max, e) + 0.5;
    return c < max ? static_cast<uint32_t>(c) : static_cast<uint32_t>(max);
}

}  // namespace

uint32_t kxpGamma::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KXPToneRules rules;
    rules.Carried = 0;
    rules.ExactSize = true;
    KX_GfxBuffer* work = nullptr;
    uint32_t err = ToneBegin(source, result, &work, rules);
    if (err) return err;

    KXPKeyReader keys(this, false);
    static const char* const names[3] = {"RED_GAMMA", "GREEN_GAMMA", "BLUE_GAMMA"};
    KXPToneTables t;
    t.PaletteEntries = work->ColorDepth <= 8 ? 1u << work->ColorDepth : 0;
    double g[3];
    for (uint32_t c = 0; c < 3; ++c) {
        g[c] = keys.Real(names[c], 0.5);
        if (!std::isfinite(g[c])) g[c] = 0.5;
        const double e = 1.0 / g[c];
        for (uint32_t v = 0; v < 256; ++v) t.Lut8[c][v] = static_cast<uint8_t>(Corrected(v, 255.0, e));
    }
    // Channels of one gamma share one table.
    if (work->ColorDepth == 48)
        for (uint32_t c = 0; c < 3; ++c) {
            uint32_t mask = 0;
            for (uint32_t k = c; k < 3; ++k)
                if (g[k] == g[c] && !t.Lut16[k]) mask |= 1u << k;
            const double e = 1.0 / g[c];
            if (mask) t.Table16(mask, [e](uint32_t w) { return Corrected(w, 65535.0, e); });
        }
    return ToneFinish(source, work, result, rules, t);
}
