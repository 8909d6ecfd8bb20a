// The colour operators' own keys at random, over every input kind: odd
// numbers (negative, huge, empty, not numbers), unknown words, reals that
// are not finite, colours with and without their prefix. A run ends with
// a code and no result, or with a valid picture whose palette indices lie
// within its depth; the sanitizers watch the rest.
#include <random>

#include "input_kinds.h"
#include "support/robustness.h"
#include "support/testfiles.h"

using namespace colour_test;
using namespace colour_kinds;

namespace {

struct OpKeys {
    const char* className;
    std::vector<const char*> numbers, reals;
    std::vector<std::pair<const char*, std::vector<const char*>>> words;
};

const std::vector<OpKeys>& Operators()
{
    static const std::vector<OpKeys> ops = {
        {"kxpInvertColors256", {}, {}, {}},
        {"kxpOptimizePalette", {}, {}, {}},
        {"kxpXOr", {"XORVALUE", "XORVALUE16"}, {}, {}},
        {"kxpFlipNibbles", {}, {}, {{"FLIPMODE", {"SWAP", "MINUS_LOW", "MINUS_HIGH", "SHIFT_LOW", "SHIFT_HIGH", "DOUBLE_LOW", "double_high", "x"}}}},
        {"kxpNegate", {}, {}, {}},
        {"kxpComplement", {}, {}, {}},
        {"kxpGamma", {}, {"RED_GAMMA", "GREEN_GAMMA", "BLUE_GAMMA"}, {}},
        {"kxpContrast", {"PERCENT", "SUMMAND"}, {}, {}},
        {"kxpBrightness", {"ADJUST_RGB"}, {}, {}},
        {"kxpSelectGrayScales",
         {"RED_LEVEL1", "GREEN_LEVEL1", "BLUE_LEVEL1", "RED_LEVEL2", "GREEN_LEVEL2", "BLUE_LEVEL2", "RED_LEVEL3", "GREEN_LEVEL3",
          "BLUE_LEVEL3", "RED_LEVEL4", "GREEN_LEVEL4", "BLUE_LEVEL4"},
         {},
         {}},
        {"kxpGhost", {"GHOSTFACTOR"}, {}, {{"GHOSTMODE", {"RED", "green", "BLUE", "ALPHA"}}}},
        {"kxpColorCycle", {"INDEX"}, {}, {}},
        {"kxpRedEyeFix", {}, {}, {}},
        {"kxpResetChannel", {"CHANNEL_VALUE", "CHANNEL_VALUE16"}, {}, {{"MODE", {"RED", "GREEN", "blue", "ALPHA"}}}},
        {"kxpExtractRed", {}, {}, {}},
        {"kxpExtractGreen", {}, {}, {}},
        {"kxpExtractBlue", {}, {}, {}},
        {"kxpAlphaTo16Bit", {}, {}, {}},
        {"kxpAlphaTo8Bit", {}, {}, {}},
        {"kxpOptimizeAlpha", {}, {}, {}},
        {"kxpStripAlpha", {}, {}, {}},
        {"kxpInvertAlpha", {}, {}, {{"NO_ALPHA", {"IGNORE", "ERROR", "opaque", "TRANSPARENT", "x"}}}},
        {"kxpExtractAlpha", {}, {}, {}},
        {"kxpHistogram", {"WIDTH"}, {}, {{"MODE", {"BRIGHTNESS", "color", "x"}}}},
    };
    return ops;
}

bool WithinDepth(const KX_GfxBuffer* b)
{
    if (b->Type != ONEPLANE || b->ColorDepth >= 8) return true;
    for (uint64_t i = 0; i < uint64_t(b->Width) * b->Height; ++i)
        if (b->Data[i] >> b->ColorDepth) return false;
    return true;
}

}  // namespace

TEST(ColourKeys, RandomKeysOverEveryKind)
{
    KXSUP_SetSizeLimit(1u << 22);
    std::mt19937 rng(0x14A);
    auto pick = [&](size_t n) { return size_t(rng() % n); };
    static const char* const numbers[] = {"-2147483648", "-65536", "-1", "0", "1", "2", "3", "5", "7", "15", "16", "17", "255",
                                          "256", "300", "4660", "65535", "65536", "70000", "2147483647", "", "abc", " 12x"};
    static const char* const reals[] = {"0", "-0", "0.5", "1", "2.2", "-1", "1e-300", "1e300", "nan", "inf", "-inf", "x", ""};
    const std::string dir = KXT_NewTempDir("/tmp/kxcolourkeys-XXXXXX");
    KXClass lib;
    uint32_t count = 0;
    const KXOperatorReg* regs = KX_OperatorRegs(&count);
    int runs = 0, successes = 0;
    for (const OpKeys& o : Operators()) {
        const KXOperatorReg* reg = nullptr;
        for (uint32_t i = 0; i < count; ++i)
            if (!strcmp(regs[i].ClassName, o.className)) reg = &regs[i];
        ASSERT_NE(reg, nullptr) << o.className;
        ASSERT_TRUE(KX_IsBuilt(o.className)) << o.className;
        KXOperator* op = KX_NewOperator(&lib, *reg);
        for (const Kind& k : Kinds())
            for (int trial = 0; trial < 4; ++trial) {
                SCOPED_TRACE(std::string(o.className) + " on " + k.name + " trial " + std::to_string(trial));
                op->Reset();
                KXConfig cfg(op->PadPath, nullptr);
                for (const char* key : o.numbers)
                    if (pick(3)) cfg.SetValue(key, numbers[pick(std::size(numbers))]);
                for (const char* key : o.reals)
                    if (pick(3)) cfg.SetValue(key, reals[pick(std::size(reals))]);
                for (const auto& [key, words] : o.words)
                    if (pick(3)) cfg.SetValue(key, words[pick(words.size())]);
                if (!strcmp(o.className, "kxpHistogram") && pick(2)) cfg.SetValue("HISTOGRAM_PATH", (dir + "/report.txt").c_str());
                if (!strcmp(o.className, "kxpHistogram") && pick(2)) cfg.SetValue("FORECOLOR_VALUE", pick(2) ? "0xffffffffff" : "0x-1");
                op->SetLocalConfig(cfg.GetPadList());
                Buffer s = k.make();
                const bool validSource = KXT_ImageIsValid(s.get());
                KX_GfxBuffer* r = nullptr;
                const uint32_t code = op->OperateTagList(s.get(), &r, nullptr);
                ++runs;
                if (code) {
                    EXPECT_EQ(r, nullptr);
                } else {
                    ++successes;
                    ASSERT_NE(r, nullptr);
                    std::string why;
                    if (validSource) {
                        EXPECT_TRUE(KXT_ImageIsValid(r, &why)) << why;
                    }
                    EXPECT_TRUE(WithinDepth(r)) << "a palette index above the depth";
                }
                op->Reset();
                if (HasFatalFailure()) {
                    delete op;
                    KXSUP_ResetSizeLimit();
                    return;
                }
            }
        delete op;
    }
    KXSUP_ResetSizeLimit();
    EXPECT_GT(successes, runs / 3) << successes << " of " << runs;
}
