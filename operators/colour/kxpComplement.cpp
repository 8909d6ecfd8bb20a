// kxpComplement: inverts the whole palette or every sample (see the
// header). Relies on the point-operator run.
#include "kxpComplement.h"

uint32_t kxpComplement::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KXPToneRules rules;
    KX_GfxBuffer* work = nullptr;
    uint32_t err = ToneBegin(source, result, &work, rules);
    if (err) return err;

    KXPToneTables t;
    t.PaletteEntries = 256;
    t.Table8([](uint32_t v) { return 255 - v; });
    t.XorRows = true;
    t.Xor8 = 0xFF;
    t.Xor16 = 0xFFFF;
    return ToneFinish(source, work, result, rules, t);
}
