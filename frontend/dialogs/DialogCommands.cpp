#include "DialogCommands.h"

#include "DialogToneColour.h"

namespace kxdlg {

namespace {

template <class D>
DialogKXOFrame* simple(const Context& c) {
    auto* d = new D(c.lib, c.parent);
    d->Prepare(c.target, c.progdir);
    return d;
}

const std::vector<Command> kCommands = {
    {"adjust.brightness", "DialogKXOBrightness", 31, "ADJUST_RGB", 0, nullptr, simple<DialogKXOBrightness>},
    {"adjust.contrast", "DialogKXOContrast", 32, "PERCENT", 0, nullptr, simple<DialogKXOContrast>},
    {"adjust.gamma", "DialogKXOGamma", 37, "RED_GAMMA;GREEN_GAMMA;BLUE_GAMMA", 0, nullptr, simple<DialogKXOGamma>},
    {"manip.grey", "DialogKXOExtractGray", 5, "COLORDEPTH;QUICK;SORTED8BIT", 0, nullptr, simple<DialogKXOExtractGray>},
    {"manip.graytablet", "DialogKXOGrayTablet", 61,
     "RED_LEVEL1;GREEN_LEVEL1;BLUE_LEVEL1;RED_LEVEL2;GREEN_LEVEL2;BLUE_LEVEL2;"
     "RED_LEVEL3;GREEN_LEVEL3;BLUE_LEVEL3;RED_LEVEL4;GREEN_LEVEL4;BLUE_LEVEL4",
     0, nullptr, simple<DialogKXOGrayTablet>},
    {"manip.antique", "DialogKXOAntique", 6, "COLORDEPTH;MODE", 0, nullptr, simple<DialogKXOAntique>},
    {"manip.xor", "DialogKXOXor", 51, "XORVALUE;XORVALUE16", 0, nullptr, simple<DialogKXOXor>},
};

}  // namespace

const std::vector<Command>& Commands() { return kCommands; }

const Command* FindCommand(const QString& id) {
    for (const Command& c : kCommands)
        if (id == QLatin1String(c.id)) return &c;
    return nullptr;
}

}  // namespace kxdlg
