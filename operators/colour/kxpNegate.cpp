// kxpNegate: inverts the usable palette or every sample (see the header).
// Relies on the point-operator run.
#include "kxpNegate.h"

uint32_t kxpNegate::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KXPToneRules rules;
    rules.MarkOrder = false;
    KX_GfxBuffer* work = nullptr;
    uint32_t err = ToneBegin(source, result, &work, rules);
    if (err) return err;

    KXPToneTables t;
    t.PaletteEntries = work->ColorDepth <= 8 ? 1u << work->ColorDepth : 0;
    t.Table8([](uint32_t v) { return 255 - v; });
    // max - v is the bitwise complement of v.
    t.XorRows = true;
    t.Xor8 = 0xFF;
    t.Xor16 = 0xFFFF;
    return ToneFinish(source, work, result, rules, t);
}
