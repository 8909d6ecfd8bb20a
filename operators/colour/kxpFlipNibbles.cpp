// kxpFlipNibbles: nibble and byte rearrangement (see the header). Relies
// on the point-operator run.
#include "kxpFlipNibbles.h"

namespace {

enum Mode { Swap, MinusLow, MinusHigh, ShiftLow, ShiftHigh, DoubleLow, DoubleHigh };

// The rule on a value of two halves of the given width (4 or 8 bits).
uint32_t Flip(uint32_t v, uint32_t half, int mode)
{
    const uint32_t mask = (1u << half) - 1, hi = (v >> half) & mask, lo = v & mask;
    switch (mode) {
    case MinusLow: return hi << half;
    case MinusHigh: return lo;
    case ShiftLow: return lo << half;
    case ShiftHigh: return hi;
    case DoubleLow: return lo << half | lo;
    case DoubleHigh: return hi << half | hi;
    default: return lo << half | hi;
    }
}

}  // namespace

uint32_t kxpFlipNibbles::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KXPToneRules rules;
    rules.HostOrder = false;
    rules.CarryTransparency = false;
    KX_GfxBuffer* work = nullptr;
    uint32_t err = ToneBegin(source, result, &work, rules);
    if (err) return err;

    static const char* const words[] = {"SWAP", "MINUS_LOW", "MINUS_HIGH", "SHIFT_LOW", "SHIFT_HIGH", "DOUBLE_LOW", "DOUBLE_HIGH"};
    const int mode = KXPKeyReader(this, false).Word("FLIPMODE", words, 7, Swap);
    KXPToneTables t;
    t.PaletteEntries = work->ColorDepth <= 8 ? 1u << work->ColorDepth : 0;
    t.Table8([mode](uint32_t v) { return Flip(v, 4, mode); });
    if (work->ColorDepth == 48) t.Table16(7, [mode](uint32_t w) { return Flip(w, 8, mode); });
    return ToneFinish(source, work, result, rules, t);
}
