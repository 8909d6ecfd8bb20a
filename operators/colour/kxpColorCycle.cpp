// kxpColorCycle: channel permutation (see the header). Relies on the
// point-operator run with its channel order.
#include "kxpColorCycle.h"

#include <cstring>

uint32_t kxpColorCycle::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KXPToneRules rules;
    rules.Carried = CarryAll;
    KX_GfxBuffer* work = nullptr;
    uint32_t err = ToneBegin(source, result, &work, rules);
    if (err) return err;

    uint32_t index = KXPKeyReader(this, false).ULong("INDEX", 1);
    if (index == 0) index = 1;
    if (index > 5) index = 5;
    // The source channel of each result channel.
    static const uint8_t orders[5][3] = {{1, 2, 0}, {2, 0, 1}, {2, 1, 0}, {1, 0, 2}, {0, 2, 1}};
    KXPToneTables t;
    t.PaletteEntries = work->ColorDepth <= 8 ? 1u << work->ColorDepth : 0;
    t.Table8([](uint32_t v) { return v; });
    std::memcpy(t.Order, orders[index - 1], 3);
    return ToneFinish(source, work, result, rules, t);
}
