// Every operator the catalogue builds, run over every kind of buffer (bit
// planes and chunky pixels of 1 to 8 bits, HAM and EHB, 24 bits, 48 bits
// in either marked byte order or none, record versions 1 to 4) with every
// alpha kind and the combined kinds (key with a map or table, two maps, a
// map with a table), under random settings from a fixed seed. A run ends
// with a code or with a result that is a valid image; the sanitizers catch
// the rest. A palette result holds only colours of its depth and keeps the
// transparent index of a palette source. The paste operator gets
// registered paste buffers of random kinds.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "core/kxlib.h"
#include "operators/kxpFrame.h"
#include "support/robustness.h"
#include "support/testfiles.h"

namespace {

using Rng = std::mt19937;

KXClass* Lib() {
    static KXClass* lib = new KXClass();
    return lib;
}

uint32_t Pick(Rng& rng, uint32_t n) { return static_cast<uint32_t>(rng() % n); }

template <class T, size_t N>
const T& PickOf(Rng& rng, const T (&items)[N]) {
    return items[Pick(rng, N)];
}

struct Kind {
    const char* name;
    uint32_t type, depth;
    uint32_t flags;  // version 4: KXGFXF_MM or KXGFXF_II
    uint32_t viewMode;
};

std::vector<Kind> Kinds() {
    std::vector<Kind> kinds;
    for (uint32_t d = 1; d <= 8; ++d) {
        kinds.push_back({"chunky", ONEPLANE, d, 0, 0});
        kinds.push_back({"planes", BITPLANE, d, 0, 0});
    }
    kinds.push_back({"HAM6 planes", BITPLANE, 6, 0, KXVIEWMODE_HAM});
    kinds.push_back({"HAM8 chunky", ONEPLANE, 8, 0, KXVIEWMODE_HAM});
    kinds.push_back({"EHB planes", BITPLANE, 6, 0, KXVIEWMODE_EHB});
    kinds.push_back({"24", ONEPLANE, 24, 0, 0});
    kinds.push_back({"48", ONEPLANE, 48, 0, 0});
    kinds.push_back({"48 MM", ONEPLANE, 48, KXGFXF_MM, 0});
    kinds.push_back({"48 II", ONEPLANE, 48, KXGFXF_II, 0});
    return kinds;
}

// A buffer of the kind with random pixels (palette indices within the
// depth) and the alpha kind, its AlphaData made by the core's rule.
KX_GfxBuffer* MakeSource(Rng& rng, const Kind& k, uint32_t w, uint32_t h, uint32_t alpha) {
    const uint32_t version = alpha ? 3 + Pick(rng, 2) : (k.flags ? 4 : 1 + Pick(rng, 4));
    uint32_t size;
    uint32_t bytesPerLine = 0, pixelBits = 0;
    if (k.type == BITPLANE) {
        bytesPerLine = (w + 7) / 8 + Pick(rng, 2);  // sometimes wider than needed
        size = bytesPerLine * h * k.depth;
    } else {
        pixelBits = k.depth <= 8 ? 8 : k.depth;
        size = w * h * (pixelBits / 8);
    }
    KX_GfxBuffer* b = nullptr;
    EXPECT_EQ(KXSUP_AllocGfxBuffer(&b, version, size, MEMF_ANY), KXERR_NONE);
    b->Type = k.type;
    b->Width = w;
    b->Height = h;
    b->ColorDepth = k.depth;
    b->BytesPerLine = bytesPerLine;
    b->PixelBits = pixelBits;
    b->ViewMode = k.viewMode ? k.viewMode : (Pick(rng, 2) ? 0 : KXVIEWMODE_NONE);
    for (auto& p : b->Palette) p = static_cast<uint8_t>(rng());
    for (uint32_t i = 0; i < size; ++i) b->Data[i] = static_cast<uint8_t>(rng());
    if (k.type == ONEPLANE && k.depth < 8)
        for (uint32_t i = 0; i < size; ++i) b->Data[i] &= (1u << k.depth) - 1;
    if (version >= 2) b->NativeDIPF = k.viewMode == KXVIEWMODE_HAM ? KXDIPF_HAM : k.viewMode == KXVIEWMODE_EHB ? KXDIPF_EHB : 0;
    if (version >= 4) b->Flags = k.flags | (Pick(rng, 4) == 0 ? KXGFXF_GRAY | KXGFXF_SRC8BIT : 0);
    KXT_AttachAlpha(b, alpha, Pick(rng, 1u << (k.depth <= 8 ? k.depth : 8)), static_cast<uint32_t>(rng()));
    return b;
}

std::string Number(Rng& rng) {
    static const char* const special[] = {"-35", "-1", "0", "1", "2", "3", "7", "8", "9", "17", "255", "256", "300",
                                          "65535", "2147483647", "-2147483648", "", "abc", "4x"};
    if (Pick(rng, 2)) return std::to_string(static_cast<int>(Pick(rng, 81)) - 40);
    return PickOf(rng, special);
}

std::string Real(Rng& rng) {
    static const char* const reals[] = {"0", "0.5", "1", "2.5", "-3", "45", "90", "17.3", "359.9", "-720.25",
                                        "1e9", "-1e9", "nan", "inf", "1e-9", "0.01", "x"};
    return PickOf(rng, reals);
}

std::string Area(Rng& rng) {
    char text[64];
    snprintf(text, sizeof text, "%s,%s,%s,%s", Number(rng).c_str(), Number(rng).c_str(), Number(rng).c_str(), Number(rng).c_str());
    return text;
}

// Random values for the keys of every built operator (a key an operator
// does not know is ignored by it). New operators add their keys here.
void RandomSettings(Rng& rng, KXConfig& cfg) {
    static const char* const numbers[] = {"NEW_WIDTH", "NEW_HEIGHT", "COLORDEPTH", "X_COORD", "Y_COORD", "BACKPEN",
                                          "CUT_LEFTEDGE", "CUT_TOPEDGE", "CUT_WIDTH", "CUT_HEIGHT", "CROP_LEFTEDGE",
                                          "CROP_TOPEDGE", "CROP_WIDTH", "CROP_HEIGHT", "PASTE_LEFTEDGE",
                                          "PASTE_TOPEDGE", "PASTE_WIDTH", "PASTE_HEIGHT", "DEGREES",
                                          "LEFT_WIDTH", "RIGHT_WIDTH", "TOP_WIDTH", "BOTTOM_WIDTH", "BLOCKS",
                                          "SCATTERFACTOR", "TILESIZE", "SHARPNESS", "DIVIDE_EQUAL", "ADD_EQUAL",
                                          "GRANULARITY"};
    static const char* const reals[] = {"ROTATE_ANGLE", "ZOOM_FACTOR"};
    // Matrix lines of up to nine numbers, sizes and real entries included.
    static const char* const lines[] = {"MATRIX_LINE1", "MATRIX_LINE2", "MATRIX_LINE3", "MATRIX_LINE5", "MATRIX_LINE9"};
    struct Words {
        const char* key;
        std::vector<const char*> words;
    };
    static const Words words[] = {
        {"DITHERMODE", {"BESTPEN", "ORDERED", "BURKES", "other"}},
        {"MIRRORMODE", {"X_AXIS", "Y_AXIS", "ZEROPOINT", "VERTUPPER", "VERTLOWER", "HORIZLEFT", "HORIZRIGHT"}},
        {"METHOD", {"HALF", "DOUBLE", "GIVENPOINT", "LOWER", "MEDIAN", "UPPER", "other"}},
        {"PRECISE", {"OFF", "ON"}},
        {"CONVERTALPHA", {"ON", "OFF"}},
        {"KEEPSIZE", {"ON", "OFF", "YES", "NO"}},
        {"DEGREES", {"90", "180", "270"}},
        {"SCATTERMODE", {"X_AXIS", "Y_AXIS", "other"}},
        {"MATRIX_SIZE", {"5x5", "7x7", "9x9", "3x3"}},
    };
    for (const char* key : numbers)
        if (Pick(rng, 3) == 0) cfg.SetValue(key, Number(rng).c_str());
    for (const char* key : reals)
        if (Pick(rng, 2) == 0) cfg.SetValue(key, Real(rng).c_str());
    for (const char* key : lines)
        if (Pick(rng, 3) == 0) {
            std::string line;
            for (uint32_t i = 0, n = Pick(rng, 10); i < n; i++) line += (Pick(rng, 4) ? Number(rng) : Real(rng)) + " ";
            cfg.SetValue(key, line.c_str());
        }
    for (const Words& w : words)
        if (Pick(rng, 2) == 0) cfg.SetValue(w.key, w.words[Pick(rng, (uint32_t)w.words.size())]);
    if (Pick(rng, 3) == 0) {
        char colour[16];
        snprintf(colour, sizeof colour, "0x%06x", static_cast<unsigned>(rng() & 0xFFFFFF));
        cfg.SetValue("BACKCOLOR", colour);
    }
    if (Pick(rng, 3) == 0) cfg.SetValue("KX_AREA", Area(rng).c_str());
}

bool IsPalette(const KX_GfxBuffer* b) { return b->ColorDepth <= 8; }

bool Named(const char* className, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (strcmp(className, n) == 0) return true;
    return false;
}

// Operators whose palette result carries no transparent index: a new
// picture on a palette of its own (a grey ramp, black and white), or an
// operation that drops transparency (mirrored or merged palettes, nibble
// flips, grey selection, one channel kept, alpha stripped) or turns the
// index into an alpha table (alpha inversion).
bool DropsKey(const char* className) {
    return Named(className, {"kxpExtractGrayScales", "kxpHilbertDither256"}) ||
           Named(className, {"kxpInvertColors256", "kxpOptimizePalette", "kxpFlipNibbles", "kxpSelectGrayScales", "kxpExtractRed",
                             "kxpExtractGreen", "kxpExtractBlue", "kxpStripAlpha", "kxpInvertAlpha"});
}

// The alpha inversion gives bit planes back as bit planes.
bool KeepsBitPlanes(const char* className) { return Named(className, {"kxpInvertAlpha"}); }

// Every pixel of a chunky palette result is a colour of its depth.
bool PixelsWithinDepth(const KX_GfxBuffer* b) {
    if (b->Type != ONEPLANE || b->ColorDepth >= 8) return true;
    const uint64_t n = uint64_t(b->Width) * b->Height;
    for (uint64_t i = 0; i < n; ++i)
        if (b->Data[i] >> b->ColorDepth) return false;
    return true;
}

TEST(OperatorFuzz, EveryOperatorOverEveryBufferAndAlphaKind) {
    // Settings may ask for any size: keep every run small.
    KXSUP_SetSizeLimit(1u << 22);
    const std::vector<Kind> kinds = Kinds();
    uint32_t count = 0;
    const KXOperatorReg* regs = KX_OperatorRegs(&count);
    Rng rng(0x4B58F022u);
    int operators = 0, runs = 0, successes = 0;
    for (uint32_t o = 0; o < count; ++o) {
        if (!KX_IsBuilt(regs[o].ClassName)) continue;
        ++operators;
        KXOperator* op = KX_NewOperator(Lib(), regs[o]);
        const bool paste = strcmp(regs[o].ClassName, "kxpPaste") == 0;
        const bool dropsKey = DropsKey(regs[o].ClassName);
        const bool keepsPlanes = KeepsBitPlanes(regs[o].ClassName);
        for (const Kind& k : kinds) {
            for (uint32_t alpha : KXT_AlphaKinds) {
                for (int trial = 0; trial < 3; ++trial) {
                    const uint32_t w = 1 + Pick(rng, trial == 0 ? 2 : 9), h = 1 + Pick(rng, trial == 0 ? 2 : 9);
                    KX_GfxBuffer* src = MakeSource(rng, k, w, h, alpha);
                    const uint32_t sourceIndex = KXSUP_AlphaHolds(src) == KXALPHA_SINGLECOLOR ? KXSUP_AlphaIndex(src) : 0;
                    const bool sourceKeyed = KXSUP_AlphaHolds(src) == KXALPHA_SINGLECOLOR && IsPalette(src);
                    char what[160];
                    snprintf(what, sizeof what, "%s on %s %" PRIu32 " (%" PRIu32 "x%" PRIu32 ") alpha %" PRIu32 " trial %d",
                             regs[o].ClassName, k.name, k.depth, w, h, alpha, trial);
                    SCOPED_TRACE(what);

                    op->Reset();
                    uint32_t err = 0;
                    KXConfig cfg(op->PadPath, &err);
                    RandomSettings(rng, cfg);
                    KX_GfxBuffer* pasted = nullptr;
                    bool pastedMap = false;
                    if (paste) {
                        // Mostly an area inside the picture with a buffer of its size and depth.
                        const uint32_t left = Pick(rng, w), top = Pick(rng, h);
                        const uint32_t pw = 1 + Pick(rng, w - left), ph = 1 + Pick(rng, h - top);
                        const Kind pk = Pick(rng, 5) ? k : PickOf(rng, {Kind{"24", ONEPLANE, 24, 0, 0}, Kind{"8", ONEPLANE, 8, 0, 0}});
                        Kind chunky = pk;
                        chunky.type = ONEPLANE;
                        pasted = MakeSource(rng, chunky, Pick(rng, 6) ? pw : pw + 1, ph, PickOf(rng, KXT_AlphaKinds));
                        const uint32_t pastedAlpha = KXSUP_AlphaHolds(pasted);
                        pastedMap = pastedAlpha == KXALPHA_CHANNEL8 || pastedAlpha == KXALPHA_CHANNEL16;
                        KX_RegisterPasteBuffer(pasted);
                        char text[40];
                        snprintf(text, sizeof text, "%lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(pasted)));
                        cfg.SetValue("PASTEBUFFER", text);
                        snprintf(text, sizeof text, "%u,%u,%u,%u", left, top, pw, ph);
                        cfg.SetValue("KX_AREA", text);
                    }
                    op->SetLocalConfig(cfg.GetPadList());
                    KX_GfxBuffer* res = nullptr;
                    const uint32_t code = op->OperateTagList(src, &res, nullptr);
                    ++runs;
                    if (code == KXERR_NONE) {
                        ++successes;
                        std::string why;
                        ASSERT_NE(res, nullptr);
                        EXPECT_TRUE(KXT_ImageIsValid(res, &why)) << why;
                        EXPECT_EQ(res->Type, keepsPlanes ? src->Type : uint32_t(ONEPLANE));
                        EXPECT_TRUE(PixelsWithinDepth(res)) << "a palette result holds an index above its depth";
                        // A pasted map replaces the picture's alpha, whatever it was.
                        if (sourceKeyed && IsPalette(res) && !pastedMap && !dropsKey) {
                            EXPECT_EQ(KXSUP_AlphaHolds(res), uint32_t(KXALPHA_SINGLECOLOR)) << "the transparent index is kept";
                            if (KXSUP_AlphaHolds(res) == KXALPHA_SINGLECOLOR) EXPECT_EQ(KXSUP_AlphaIndex(res), sourceIndex);
                        }
                    } else {
                        EXPECT_EQ(res, nullptr);
                    }
                    op->Reset();
                    if (pasted) {
                        KX_UnregisterPasteBuffer(pasted);
                        KXSUP_FreeGfxBuffer(pasted);
                    }
                    KXSUP_FreeGfxBuffer(src);
                    if (HasFatalFailure()) {
                        delete op;
                        KXSUP_ResetSizeLimit();
                        return;
                    }
                }
            }
        }
        delete op;
    }
    KXSUP_ResetSizeLimit();
    EXPECT_GE(operators, 16);
    // The random settings must not make nearly every run fail early.
    EXPECT_GT(successes, runs / 4) << successes << " of " << runs;
}

}  // namespace
