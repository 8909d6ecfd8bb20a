// The kinds of picture a dithering or grey-ramp operator may be given, for tables of (input kind
// x alpha kind -> result code): chunky and bit-plane palette pictures, HAM
// and EHB, 24 bits and 48 bits unmarked or marked in either byte order,
// each with every alpha kind (the combined ones included).
#pragma once

#include <string>
#include <vector>

#include "colour_fixtures.h"
#include "support/testfiles.h"

namespace colour_test {

enum Family : uint32_t { kPalette = 1, kPlanes = 2, kHam = 4, kEhb = 8, k24 = 16, k48 = 32 };

struct InputKind {
    const char* name;
    Family family;
    uint32_t type, depth, viewMode, flags;
};

inline const std::vector<InputKind>& InputKinds()
{
    static const std::vector<InputKind> kinds = {
        {"1-bit chunky", kPalette, ONEPLANE, 1, KXVIEWMODE_NONE, 0},
        {"4-bit chunky", kPalette, ONEPLANE, 4, KXVIEWMODE_NONE, 0},
        {"8-bit chunky", kPalette, ONEPLANE, 8, KXVIEWMODE_NONE, 0},
        {"3-bit planes", kPlanes, BITPLANE, 3, KXVIEWMODE_NONE, 0},
        {"8-bit planes", kPlanes, BITPLANE, 8, KXVIEWMODE_NONE, 0},
        {"HAM6 planes", kHam, BITPLANE, 6, KXVIEWMODE_HAM, 0},
        {"HAM8 chunky", kHam, ONEPLANE, 8, KXVIEWMODE_HAM, 0},
        {"EHB planes", kEhb, BITPLANE, 6, KXVIEWMODE_EHB, 0},
        {"24-bit", k24, ONEPLANE, 24, KXVIEWMODE_NONE, 0},
        {"48-bit unmarked", k48, ONEPLANE, 48, KXVIEWMODE_NONE, 0},
        {"48-bit MM", k48, ONEPLANE, 48, KXVIEWMODE_NONE, KXGFXF_MM},
        {"48-bit II", k48, ONEPLANE, 48, KXVIEWMODE_NONE, KXGFXF_II},
    };
    return kinds;
}

inline uint32_t NativeDipf(const InputKind& k)
{
    if (k.viewMode == KXVIEWMODE_HAM) return KXDIPF_HAM;
    return k.viewMode == KXVIEWMODE_EHB ? uint32_t(KXDIPF_EHB) : 0u;
}

// A 5 x 4 picture of the kind with patterned pixels and the alpha kind.
inline Buffer MakeInput(const InputKind& k, uint32_t alpha, uint32_t w = 5, uint32_t h = 4)
{
    Buffer c = Chunky(k.depth, w, h, 4);
    const uint32_t mask = k.depth < 8 ? (1u << k.depth) - 1 : 255;
    for (uint32_t i = 0; i < c->BufferSize; ++i) c->Data[i] = uint8_t((i * 37 + 11) & mask);
    c->ViewMode = k.viewMode;
    c->NativeDIPF = NativeDipf(k);
    if (k.flags) KXSUP_SetGfxBufferEndianess(c.get(), k.flags);
    Buffer b = k.type == BITPLANE ? ToPlanes(c) : std::move(c);
    if (k.type == BITPLANE) {
        b->ViewMode = k.viewMode;
        if (b->Version >= 2) b->NativeDIPF = NativeDipf(k);
    }
    KXT_AttachAlpha(b.get(), alpha, 3, 99);
    return b;
}

inline std::string KindName(const InputKind& k, uint32_t alpha) { return std::string(k.name) + " alpha " + std::to_string(alpha); }

// Runs the operator over every kind and alpha kind; want(kind, alpha) gives
// the expected code. A success must hand out a chunky result.
template <class Op, class Want>
void ExpectCodes(Want want, std::vector<std::pair<const char*, const char*>> keys = {})
{
    for (const InputKind& k : InputKinds())
        for (uint32_t alpha : KXT_AlphaKinds) {
            SCOPED_TRACE(KindName(k, alpha));
            Buffer in = MakeInput(k, alpha), out;
            EXPECT_EQ(RunOp<Op>(in.get(), &out, keys), want(k, alpha));
            if (out) {
                EXPECT_EQ(out->Type, uint32_t(ONEPLANE));
            }
        }
}

}  // namespace colour_test
