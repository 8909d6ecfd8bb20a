// Input kinds of the border, block-effect and filter tests: one small
// picture per kind, and a table runner that checks the result code, the
// alpha kind and the flag bits each operator gives for each kind.
#pragma once

#include "geo_support.h"

namespace kinds {

using geo::Buffer;

enum Kind { PAL8, PAL4, PLANES4, HAM6, RGB24, RGB48, RGB48MM, KEY8, TABLE8, MAP24, MAP16_48, TYPE3, DEPTH12 };

inline const char* Name(Kind k)
{
    static const char* const names[] = {"palette 8", "palette 4", "bit planes 4", "HAM6", "24 bit", "48 bit", "48 bit MM",
                                        "8 bit keyed", "8 bit alpha table", "24 bit 8-bit map", "48 bit 16-bit map", "type 3", "depth 12"};
    return names[k];
}

// 6 x 5 pictures, so that the 3 x 3 filters have an interior.
inline Buffer MakeKind(Kind k)
{
    const uint32_t w = 6, h = 5;
    Buffer b;
    switch (k) {
    case PAL8: return geo::Make(w, h, 8);
    case PAL4: return geo::Make(w, h, 4);
    case PLANES4: {
        KX_GfxBuffer* p = nullptr;
        KXSUP_AllocGfxBuffer(&p, 2, 2 * h * 4, MEMF_CLEAR);
        p->Type = BITPLANE;
        p->Width = 16;
        p->Height = h;
        p->ColorDepth = 4;
        p->BytesPerLine = 2;
        p->ViewMode = KXVIEWMODE_NONE;
        for (uint32_t i = 0; i < p->BufferSize; i++) p->Data[i] = static_cast<uint8_t>(i * 29);
        return Buffer(p);
    }
    case HAM6: b = geo::Make(w, h, 6); b->ViewMode = KXVIEWMODE_HAM; return b;
    case RGB24: return geo::Make(w, h, 24);
    case RGB48: return geo::Make(w, h, 48);
    case RGB48MM:
        b = geo::Make(w, h, 48);
        KXSUP_SetGfxBufferEndianess(b.get(), KXGFXF_MM);
        KXSUP_AddGfxBufferFlags(b.get(), KXGFXF_GRAY | KXGFXF_SRC8BIT | KXGFXF_SRCLOWDEPTH, 1);
        return b;
    case KEY8:
        b = geo::Make(w, h, 8);
        KXSUP_SetGfxBufferVersion(b.get(), 3);
        b->AlphaType = KXALPHA_SINGLECOLOR;
        KXSUP_SetAlphaIndex(b.get(), 7);
        return b;
    case TABLE8: {
        b = geo::Make(w, h, 8);
        KXSUP_SetGfxBufferVersion(b.get(), 3);
        auto* t = static_cast<uint8_t*>(AllocVec(256, MEMF_ANY));
        for (int i = 0; i < 256; i++) t[i] = static_cast<uint8_t>(255 - i);
        b->AlphaType = KXALPHA_MULTICOLOR;
        b->AlphaData = t;
        return b;
    }
    case MAP24: b = geo::Make(w, h, 24); geo::AddAlpha8(b.get()); return b;
    case MAP16_48: {
        b = geo::Make(w, h, 48);
        KXSUP_SetGfxBufferVersion(b.get(), 3);
        auto* m = static_cast<uint16_t*>(AllocVec(w * h * 2, MEMF_ANY));
        for (uint32_t i = 0; i < w * h; i++) m[i] = static_cast<uint16_t>(i * 2000);
        b->AlphaType = KXALPHA_CHANNEL16;
        b->AlphaData = m;
        return b;
    }
    case TYPE3: b = geo::Make(w, h, 8); b->Type = 3; return b;
    case DEPTH12: b = geo::Make(w, h, 8); b->ColorDepth = 12; return b;
    }
    return b;
}

struct Row {
    Kind kind;
    uint32_t code;
    uint32_t alpha;  // KXSUP_AlphaHolds of the result
    uint32_t flags;  // KXSUP_GetGfxBufferFlags of the result
};

template <class Op>
void CheckRows(const char* opName, const std::vector<Row>& rows, std::vector<std::pair<const char*, const char*>> keys = {})
{
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(opName) + " on " + Name(row.kind));
        Buffer src = MakeKind(row.kind);
        Op op(geo::Lib());
        KX_GfxBuffer* res = nullptr;
        const uint32_t code = geo::RunOp(op, src.get(), &res, keys);
        EXPECT_EQ(code, row.code);
        if (code) {
            EXPECT_EQ(res, nullptr);
            continue;
        }
        ASSERT_NE(res, nullptr);
        EXPECT_EQ(res->Type, uint32_t(ONEPLANE));
        EXPECT_EQ(KXSUP_AlphaHolds(res), row.alpha);
        if (row.alpha == KXALPHA_SINGLECOLOR) {
            EXPECT_EQ(KXSUP_AlphaIndex(res), 7u);
        }
        if (row.alpha == KXALPHA_MULTICOLOR) {
            EXPECT_NE(res->AlphaData, src->AlphaData) << "own copy of the table";
            EXPECT_EQ(KXSUP_AlphaBytes(res)[3], 252);
        }
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(res), row.flags);
        EXPECT_EQ(res->ColorDepth == 48, src->ColorDepth == 48);
        EXPECT_GE(res->BufferSize, uint64_t(res->Width) * res->Height * geo::Bpp(res->ColorDepth));
    }
}

}  // namespace kinds
