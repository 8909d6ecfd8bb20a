// What the source-code and MIFF writer tests share: pictures of every kind
// they write, a scratch folder and the refusals that must keep the old
// file. Saves go through kxt::SaveTo, a write that fails part way through
// kxt::SaveUnderFileSizeLimit.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/kxlib.h"
#include "formats/raster/module_io.h"
#include "formats/raster/write_failure.h"
#include "support/testfiles.h"

namespace dumptest {

using Buffer = KXT_Buffer;

// The alpha a picture carries.
enum Alpha { NO_ALPHA, MAP8, MAP16, TABLE, KEY };

inline uint8_t Mix(uint32_t x, uint32_t y, uint32_t c) { return (uint8_t)(x * 37 + y * 101 + c * 59 + ((x * y) ^ (c << 3)) * 13); }

// A chunky picture of depth 1..8 (indices within the palette, no entry
// grey), 24 or 48 (host-order samples) with the given alpha. MAP16 values
// are whole multiples of 257, so any narrowing gives the same bytes.
inline Buffer MakePicture(uint32_t w, uint32_t h, uint32_t depth, Alpha alpha = NO_ALPHA) {
    Buffer b(KXT_NewChunkyBuffer(3, w, h, depth));
    if (!b) return b;
    const uint32_t bpp = depth <= 8 ? 1 : depth / 8;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* p = b->Data + ((size_t)y * w + x) * bpp;
            if (depth <= 8) {
                p[0] = (uint8_t)(Mix(x, y, 0) & ((1u << depth) - 1));
            } else if (depth == 24) {
                for (uint32_t c = 0; c < 3; ++c) p[c] = Mix(x, y, c);
            } else {
                for (uint32_t c = 0; c < 3; ++c) {
                    const uint16_t v = (uint16_t)(Mix(x, y, c) << 8 | Mix(y, x, c + 3));
                    memcpy(p + 2 * c, &v, 2);
                }
            }
        }
    for (uint32_t i = 0; i < 256; ++i) {
        b->Palette[3 * i] = (uint8_t)(i * 7);
        b->Palette[3 * i + 1] = (uint8_t)(i * 7 + 1);
        b->Palette[3 * i + 2] = (uint8_t)(255 - i * 3);
    }
    const size_t pixels = (size_t)w * h;
    switch (alpha) {
    case NO_ALPHA: break;
    case KEY: KXT_AttachAlpha(b.get(), KXALPHA_SINGLECOLOR, 1, 0); break;
    case MAP8: KXT_AttachAlpha(b.get(), KXALPHA_CHANNEL8, 0, 53); break;
    case TABLE: KXT_AttachAlpha(b.get(), KXALPHA_MULTICOLOR, 0, 11); break;
    case MAP16: {
        auto* a = static_cast<uint16_t*>(AllocVec(pixels * 2, MEMF_ANY));
        for (size_t i = 0; i < pixels; ++i) a[i] = (uint16_t)((uint8_t)(i * 53 + 11) * 257u);
        b->AlphaType = KXALPHA_CHANNEL16;
        b->AlphaData = a;
        break;
    }
    }
    return b;
}

// The 8-bit alpha of pixel i (maps) or of its index (table); 255 without.
inline uint8_t AlphaOf(const KX_GfxBuffer* b, size_t i) {
    switch (b->AlphaType) {
    case KXALPHA_CHANNEL8: return static_cast<const uint8_t*>(b->AlphaData)[i];
    case KXALPHA_CHANNEL16: return (uint8_t)(static_cast<const uint16_t*>(b->AlphaData)[i] / 257);
    case KXALPHA_MULTICOLOR: return static_cast<const uint8_t*>(b->AlphaData)[b->Data[i]];
    }
    return 255;
}

inline std::string ScratchDir() {
    static const std::string dir = KXT_NewTempDir(std::string(KX_GetProcessTempDir()) + "dumptest-XXXXXX");
    return dir;
}

inline std::string Path(const std::string& name) { return ScratchDir() + "/" + name; }

// Widths 1 to 17 and a prime.
inline std::vector<uint32_t> Widths() {
    std::vector<uint32_t> w;
    for (uint32_t i = 1; i <= 17; ++i) w.push_back(i);
    w.push_back(31);
    return w;
}

// One save the writer must refuse, and the code it must give.
struct Refusal {
    const char* name;
    KX_GfxBuffer* picture;
    int32_t mode;
    std::string target;
    uint32_t expected;
};

// Each refusal comes before the file is opened: the old file at path stays
// and nothing is left beside it.
template <class T>
void ExpectRefusalsKeepOldFile(const std::string& path, std::initializer_list<Refusal> cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(KXT_WriteFile(path, "old"));
        T w(nullptr);
        w.SetSaveName(c.target.c_str());
        w.SetIOMode(c.mode);
        if (c.picture) w.SetGfxBuffer(c.picture);
        EXPECT_EQ(w.Save(), c.expected);
        EXPECT_EQ(KXT_ReadFile(path), "old");
        EXPECT_EQ(KXT_CountLeftovers(path), 0);
    }
}

inline int RunTool(const std::string& command) { return system((command + " >/dev/null 2>&1").c_str()); }

}  // namespace dumptest
