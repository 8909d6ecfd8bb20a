// kxpXOr: XOR of palette indices and samples (see the header). Bit planes
// are converted before the HAM test. Relies on the point-operator run.
#include "kxpXOr.h"

uint32_t kxpXOr::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KXPToneRules rules;
    rules.HostOrder = false;
    rules.HamAfterPlanes = true;
    rules.Progress = false;
    KX_GfxBuffer* work = nullptr;
    uint32_t err = ToneBegin(source, result, &work, rules);
    if (err) return err;

    KXPKeyReader keys(this, false);
    const int32_t value = keys.Long("XORVALUE", 15);
    // The value for n-bit values: above the largest, or negative, gives the largest.
    auto x = [value](uint32_t n) {
        const uint32_t largest = (1u << n) - 1;
        return value < 0 || static_cast<uint32_t>(value) > largest ? largest : static_cast<uint32_t>(value);
    };
    KXPToneTables t;
    if (work->ColorDepth <= 8) {
        const uint32_t v = x(work->ColorDepth);
        t.IndexLut = true;
        for (uint32_t i = 0; i < 256; ++i) t.Lut8[0][i] = static_cast<uint8_t>(i ^ v);
    } else {
        t.XorRows = true;
        t.Xor8 = static_cast<uint8_t>(x(8));
        const int32_t v16 = keys.Long("XORVALUE16", -1);
        if (v16 == -1) t.Xor16 = static_cast<uint16_t>(t.Xor8 * 257u);
        else if (v16 >= 65536) t.Xor16 = 255;
        else t.Xor16 = static_cast<uint16_t>(v16);  // a negative number modulo 65536
    }
    return ToneFinish(source, work, result, rules, t);
}
