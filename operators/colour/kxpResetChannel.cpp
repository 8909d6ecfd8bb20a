// kxpResetChannel: one channel set to a value (see the header). Relies on
// the point-operator run: the chosen channel's table is constant, the
// others leave their samples.
#include "kxpResetChannel.h"

uint32_t kxpResetChannel::OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem*)
{
    KXPToneRules rules;
    rules.Carried = 0;
    rules.MarkOrder = false;
    rules.PixelProgress = true;
    KX_GfxBuffer* work = nullptr;
    uint32_t err = ToneBegin(source, result, &work, rules);
    if (err) return err;

    KXPKeyReader keys(this, true);
    static const char* const modes[] = {"RED", "GREEN", "BLUE"};
    const int channel = keys.Word("MODE", modes, 3, 0);
    uint32_t v8 = 0, v16 = 0;
    if (keys.Text("CHANNEL_VALUE")) {
        v8 = keys.ULong("CHANNEL_VALUE", 0);
        v16 = v8 << 8 | v8;
    }
    if (keys.Text("CHANNEL_VALUE16")) {
        v16 = keys.ULong("CHANNEL_VALUE16", 0);
        v8 = (v16 & 0xFF00) >> 8;
    }
    if (v8 > 255) v8 = 255;
    if (v16 > 65535) v16 = 65535;

    KXPToneTables t;
    t.PaletteEntries = work->ColorDepth <= 8 ? 1u << work->ColorDepth : 0;
    t.Table8([](uint32_t v) { return v; });
    for (uint32_t v = 0; v < 256; ++v) t.Lut8[channel][v] = static_cast<uint8_t>(v8);
    if (work->ColorDepth == 48) t.Table16(1u << channel, [v16](uint32_t) { return v16; });
    return ToneFinish(source, work, result, rules, t);
}
