// Every kind of input a colour operator meets, by name, for the tables of
// (input kind -> result code): palette pictures chunky and as bit planes,
// HAM and EHB, 24 bits, 48 bits in either marked order, unmarked, locked
// and contradicting, every alpha kind, and the layouts that are refused.
// Pixels hold a pattern within their depth, so results differ from zero.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "colour_fixtures.h"

namespace colour_kinds {

using colour_test::Buffer;

inline void Pattern(KX_GfxBuffer* b)
{
    const size_t bytes = size_t(b->Width) * b->Height * colour_test::BytesPerPixel(b->ColorDepth);
    const uint32_t mask = b->ColorDepth >= 1 && b->ColorDepth < 8 ? (1u << b->ColorDepth) - 1 : 255;
    for (size_t i = 0; i < bytes; ++i) b->Data[i] = uint8_t((i * 37 + 11) & mask);
}

inline Buffer Picture(uint32_t depth, uint32_t version = 4, uint32_t w = 5, uint32_t h = 3)
{
    Buffer b = colour_test::Chunky(depth, w, h, version);
    Pattern(b.get());
    return b;
}

inline Buffer With(Buffer b, uint32_t alpha)
{
    colour_test::AddAlpha(b.get(), alpha);
    return b;
}

inline Buffer Marked48(uint32_t flags)
{
    Buffer b = Picture(48);
    b->Flags = flags;
    return b;
}

struct Kind {
    const char* name;
    std::function<Buffer()> make;
};

inline const std::vector<Kind>& Kinds()
{
    using namespace colour_test;
    static const std::vector<Kind> kinds = {
        {"pal1", [] { return Picture(1); }},
        {"pal4", [] { return Picture(4); }},
        {"pal8", [] { return Picture(8); }},
        {"pal8 v1", [] { return Picture(8, 1); }},
        {"planes5", [] { return ToPlanes(Picture(5, 4, 9, 3)); }},
        {"planes key", [] { return ToPlanes(With(Picture(3, 4, 9, 3), KXALPHA_SINGLECOLOR)); }},
        {"HAM6", [] { Buffer b = Picture(6); b->ViewMode = KXVIEWMODE_HAM; return b; }},
        {"HAM8 planes", [] { Buffer b = Picture(8); b->ViewMode = KXVIEWMODE_HAM; return ToPlanes(b); }},
        {"EHB", [] { Buffer b = Picture(6, 2); b->NativeDIPF = KXDIPF_EHB; return b; }},
        {"pal8 key", [] { return With(Picture(8), KXALPHA_SINGLECOLOR); }},
        {"pal8 table", [] { return With(Picture(8), KXALPHA_MULTICOLOR); }},
        {"pal8 map8", [] { return With(Picture(8), KXALPHA_CHANNEL8); }},
        {"pal8 map16", [] { return With(Picture(8), KXALPHA_CHANNEL16); }},
        {"pal8 key+table", [] { return With(Picture(8), KXALPHA_SINGLECOLOR | KXALPHA_MULTICOLOR); }},
        {"24", [] { return Picture(24); }},
        {"24 v1", [] { return Picture(24, 1); }},
        {"24 key", [] { return With(Picture(24), KXALPHA_SINGLECOLOR); }},
        {"24 table", [] { return With(Picture(24), KXALPHA_MULTICOLOR); }},
        {"24 map8", [] { return With(Picture(24), KXALPHA_CHANNEL8); }},
        {"24 map16", [] { return With(Picture(24), KXALPHA_CHANNEL16); }},
        {"48 II", [] { return Marked48(KXGFXF_II); }},
        {"48 MM", [] { return Marked48(KXGFXF_MM); }},
        {"48 v2", [] { return Picture(48, 2); }},
        {"48 MM map8", [] { return With(Marked48(KXGFXF_MM), KXALPHA_CHANNEL8); }},
        {"48 MM map16", [] { return With(Marked48(KXGFXF_MM), KXALPHA_CHANNEL16); }},
        {"48 II map16", [] { return With(Marked48(KXGFXF_II), KXALPHA_CHANNEL16); }},
        {"48 MM locked", [] { return Marked48(KXGFXF_MM | KXGFXF_LOCKED); }},
        {"48 MM+II", [] { return Marked48(KXGFXF_MM | KXGFXF_II); }},
        {"type 3", [] { Buffer b = Picture(8); b->Type = 3; return b; }},
        {"type 0", [] { Buffer b = Picture(8); b->Type = 0; return b; }},
        {"24 planes", [] { Buffer b = Picture(24); b->Type = BITPLANE; return b; }},
        {"depth 12", [] { return Picture(12); }},
    };
    return kinds;
}

inline Buffer Make(const std::string& name)
{
    for (const Kind& k : Kinds())
        if (name == k.name) return k.make();
    ADD_FAILURE() << "no input kind " << name;
    return nullptr;
}

// A table row: an input kind and the code each operator of the table gives.
template <size_t N>
struct Row {
    const char* kind;
    uint32_t codes[N];
};

// Every input kind has a row: a table misses none.
template <size_t N>
void ExpectEveryKind(const Row<N>* rows, size_t count)
{
    for (const Kind& k : Kinds()) {
        bool found = false;
        for (size_t i = 0; i < count; ++i) found = found || std::string(rows[i].kind) == k.name;
        EXPECT_TRUE(found) << "the table has no row for " << k.name;
    }
}

}  // namespace colour_kinds
