// Small pictures for the colour operator tests, built in memory.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "core/kxlib.h"

namespace colour_test {

struct BufferFree {
    void operator()(KX_GfxBuffer* b) const { KXSUP_FreeGfxBuffer(b); }
};
using Buffer = std::unique_ptr<KX_GfxBuffer, BufferFree>;

inline uint32_t BytesPerPixel(uint32_t depth) { return depth <= 8 ? 1 : depth == 24 ? 3 : 6; }

// A chunky picture with cleared pixels and a palette entry i = (i, 255-i, 7i).
inline Buffer Chunky(uint32_t depth, uint32_t w, uint32_t h, uint32_t version = 4)
{
    KX_GfxBuffer* b = nullptr;
    EXPECT_EQ(KXSUP_AllocGfxBuffer(&b, version, w * h * BytesPerPixel(depth), MEMF_CLEAR), 0u);
    b->Type = ONEPLANE;
    b->Width = w;
    b->Height = h;
    b->ColorDepth = depth;
    b->PixelBits = depth <= 8 ? 8 : depth;
    b->ViewMode = KXVIEWMODE_NONE;
    for (int i = 0; i < 256; ++i) {
        b->Palette[3 * i] = uint8_t(i);
        b->Palette[3 * i + 1] = uint8_t(255 - i);
        b->Palette[3 * i + 2] = uint8_t(7 * i);
    }
    return Buffer(b);
}

// Gives a picture an alpha of the kind: key index 5, a table of 255-i, an
// 8-bit map of 200 or a 16-bit map of 0x1234 (in the picture's order).
inline void AddAlpha(KX_GfxBuffer* b, uint32_t kind)
{
    if (b->Version < 3) b->Version = 3;
    b->AlphaType = kind;
    const size_t pixels = size_t(b->Width) * b->Height;
    if (kind == KXALPHA_SINGLECOLOR) {
        KXSUP_SetAlphaIndex(b, 5);
    } else if (kind == KXALPHA_MULTICOLOR) {
        auto* t = static_cast<uint8_t*>(AllocVec(256, MEMF_ANY));
        for (int i = 0; i < 256; ++i) t[i] = uint8_t(255 - i);
        b->AlphaData = t;
    } else if (kind == KXALPHA_CHANNEL8) {
        auto* m = static_cast<uint8_t*>(AllocVec(pixels, MEMF_ANY));
        memset(m, 200, pixels);
        b->AlphaData = m;
    } else if (kind == KXALPHA_CHANNEL16) {
        auto* m = static_cast<uint8_t*>(AllocVec(pixels * 2, MEMF_ANY));
        const bool big = KXSUP_GetGfxBufferEndianess(b) == KXENDIAN_BIG;
        for (size_t i = 0; i < pixels; ++i) {
            m[2 * i] = big ? 0x12 : 0x34;
            m[2 * i + 1] = big ? 0x34 : 0x12;
        }
        b->AlphaData = m;
    }
}

// A 16-bit sample i of a 48-bit picture, stored in the given order.
inline void Put16(KX_GfxBuffer* b, size_t i, uint16_t v, bool big)
{
    b->Data[2 * i] = uint8_t(big ? v >> 8 : v);
    b->Data[2 * i + 1] = uint8_t(big ? v : v >> 8);
}
inline uint16_t Get16(const uint8_t* p, size_t i, bool big)
{
    return big ? uint16_t(p[2 * i] << 8 | p[2 * i + 1]) : uint16_t(p[2 * i + 1] << 8 | p[2 * i]);
}

inline Buffer ToPlanes(const Buffer& chunky)
{
    KX_GfxBuffer* p = nullptr;
    EXPECT_EQ(KXSUP_OnePlaneToBitPlane8(chunky.get(), &p), 0u);
    return Buffer(p);
}

// Runs an operator once with the given keys; the result is detached.
template <class Op>
uint32_t RunOp(KX_GfxBuffer* source, Buffer* out, std::vector<std::pair<const char*, const char*>> keys = {})
{
    KXClass lib;
    Op op(&lib);
    uint32_t err = 0;
    KXConfig cfg(op.PadPath, &err);
    EXPECT_EQ(err, 0u);
    for (auto& [k, v] : keys) cfg.SetValue(k, v);
    op.SetLocalConfig(cfg.GetPadList());
    KX_GfxBuffer* r = nullptr;
    uint32_t code = op.OperateTagList(source, &r, nullptr);
    if (code == 0) {
        KX_GfxBuffer* d = nullptr;
        EXPECT_EQ(op.DetachResult(&d), 0u);
        EXPECT_EQ(d, r);
        if (out) out->reset(d);
        else KXSUP_FreeGfxBuffer(d);
    }
    return code;
}

}  // namespace colour_test
