// Shared helpers of the IFF-family tests: buffer builders, an "equal
// picture" comparison, temporary files, module settings, an independent
// inflater (python3's zlib) and truncation / byte-flip runs.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/kxlib.h"
#include "support/robustness.h"
#include "support/testfiles.h"

namespace ifftest {

struct BufferDeleter {
    void operator()(KX_GfxBuffer* b) const { KXSUP_FreeGfxBuffer(b); }
};
using BufferPtr = std::unique_ptr<KX_GfxBuffer, BufferDeleter>;

inline std::string tempDir() {
    static const std::string dir = KXT_NewTempDir(::testing::TempDir() + "kxiffXXXXXX") + "/";
    return dir;
}

inline std::string tempPath(const std::string& name) { return tempDir() + name; }

// A palette whose entries all differ.
inline void fillPalette(KX_GfxBuffer* b) {
    for (int i = 0; i < 256; ++i) {
        b->Palette[3 * i] = uint8_t(i * 3 + 1);
        b->Palette[3 * i + 1] = uint8_t(255 - i);
        b->Palette[3 * i + 2] = uint8_t(i * 7 + 5);
    }
}

// A chunky buffer with random pixels (values below 1 << depth for palettes).
inline BufferPtr makeChunky(uint32_t width, uint32_t height, uint32_t depth, uint32_t seed) {
    std::mt19937 rng(seed);
    KX_GfxBuffer* b = nullptr;
    uint32_t bytes = depth == 48 ? 6 : depth == 24 ? 3 : 1;
    EXPECT_EQ(KXSUP_AllocGfxBuffer(&b, 1, width * height * bytes, MEMF_CLEAR), KXERR_NONE);
    b->Type = ONEPLANE;
    b->Width = width;
    b->Height = height;
    b->ColorDepth = depth;
    b->PixelBits = depth == 48 ? 48 : depth == 24 ? 24 : 8;
    b->ViewMode = 0;
    fillPalette(b);
    for (uint32_t i = 0; i < b->BufferSize; ++i) b->Data[i] = uint8_t(rng() & (depth <= 8 ? (1u << depth) - 1 : 0xFF));
    return BufferPtr(b);
}

inline BufferPtr toPlanes(const KX_GfxBuffer* chunky) {
    KX_GfxBuffer* out = nullptr;
    EXPECT_EQ(KXSUP_OnePlaneToBitPlane8(chunky, &out), KXERR_NONE);
    return BufferPtr(out);
}

inline void addAlpha8(KX_GfxBuffer* b, uint32_t seed) {
    std::mt19937 rng(seed);
    auto* m = static_cast<uint8_t*>(AllocVec(b->Width * b->Height, MEMF_ANY));
    for (uint32_t i = 0; i < b->Width * b->Height; ++i) m[i] = uint8_t(rng());
    if (b->Version < 3) KXSUP_SetGfxBufferVersion(b, 3);
    b->AlphaType = KXALPHA_CHANNEL8;
    b->AlphaData = m;
}

inline void addAlpha16(KX_GfxBuffer* b, uint32_t seed) {
    std::mt19937 rng(seed);
    auto* m = static_cast<uint16_t*>(AllocVec(b->Width * b->Height * 2, MEMF_ANY));
    for (uint32_t i = 0; i < b->Width * b->Height; ++i) m[i] = uint16_t(rng());
    if (b->Version < 3) KXSUP_SetGfxBufferVersion(b, 3);
    b->AlphaType = KXALPHA_CHANNEL16;
    b->AlphaData = m;
}

inline void addAlphaTable(KX_GfxBuffer* b) {
    auto* t = static_cast<uint8_t*>(AllocVec(256, MEMF_ANY));
    for (int i = 0; i < 256; ++i) t[i] = uint8_t(255 - i * 3);
    if (b->Version < 3) KXSUP_SetGfxBufferVersion(b, 3);
    b->AlphaType = KXALPHA_MULTICOLOR;
    b->AlphaData = t;
}

inline void addTransparentIndex(KX_GfxBuffer* b, uint32_t index) {
    if (b->Version < 3) KXSUP_SetGfxBufferVersion(b, 3);
    b->AlphaType = KXALPHA_SINGLECOLOR;
    KXSUP_SetAlphaIndex(b, index);
}

// 16-bit sample i of a 48-bit buffer, read in the buffer's marked order.
inline uint16_t sample16(const KX_GfxBuffer* b, const uint8_t* base, uint64_t i) {
    const uint8_t* p = base + 2 * i;
    return KXSUP_GetGfxBufferEndianess(b) == KXENDIAN_BIG ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[0] | p[1] << 8);
}

inline uint64_t imageBytes(const KX_GfxBuffer* b) {
    if (b->Type == BITPLANE) return (uint64_t)b->BytesPerLine * b->Height * b->ColorDepth;
    return (uint64_t)b->Width * b->Height * (b->PixelBits / 8);
}

// The same picture: geometry, pixels (16-bit samples by value), palette of
// palette images, HAM/EHB, alpha kind and values, and the source flags.
// paletteEntries: how many palette entries the format keeps.
inline void expectSamePicture(const KX_GfxBuffer* a, const KX_GfxBuffer* b, const std::string& what, uint32_t paletteEntries = 256) {
    SCOPED_TRACE(what);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(a->Type, b->Type);
    ASSERT_EQ(a->Width, b->Width);
    ASSERT_EQ(a->Height, b->Height);
    ASSERT_EQ(a->ColorDepth, b->ColorDepth);
    if (a->Type == BITPLANE) {
        ASSERT_EQ(a->BytesPerLine, b->BytesPerLine);
    } else {
        ASSERT_EQ(a->PixelBits, b->PixelBits);
    }
    const uint64_t n = imageBytes(a);
    ASSERT_GE(b->BufferSize, n);
    if (a->ColorDepth == 48) {
        for (uint64_t i = 0; i < n / 2; ++i)
            if (sample16(a, a->Data, i) != sample16(b, b->Data, i)) FAIL() << "sample " << i;
    } else {
        ASSERT_EQ(0, memcmp(a->Data, b->Data, n));
    }
    if (a->ColorDepth <= 8) {
        EXPECT_EQ(0, memcmp(a->Palette, b->Palette, 3 * paletteEntries));
        EXPECT_EQ(IsHamBuffer(a), IsHamBuffer(b));
        EXPECT_EQ(IsEhbBuffer(a), IsEhbBuffer(b));
    }
    const uint32_t ka = a->Version >= 3 ? a->AlphaType : 0, kb = b->Version >= 3 ? b->AlphaType : 0;
    EXPECT_EQ(ka, kb);
    if (ka == kb && ka) {
        const uint64_t px = (uint64_t)a->Width * a->Height;
        switch (ka) {
            case KXALPHA_SINGLECOLOR: EXPECT_EQ(KXSUP_AlphaIndex(a), KXSUP_AlphaIndex(b)); break;
            case KXALPHA_MULTICOLOR: EXPECT_EQ(0, memcmp(a->AlphaData, b->AlphaData, 256)); break;
            case KXALPHA_CHANNEL8: EXPECT_EQ(0, memcmp(a->AlphaData, b->AlphaData, px)); break;
            case KXALPHA_CHANNEL16:
                for (uint64_t i = 0; i < px; ++i)
                    if (sample16(a, KXSUP_AlphaBytes(a), i) != sample16(b, KXSUP_AlphaBytes(b), i)) FAIL() << "alpha " << i;
                break;
        }
    }
    const uint32_t bits = KXGFXF_GRAY | KXGFXF_SRC8BIT | KXGFXF_SRCLOWDEPTH | KXGFXF_ALPHASRC8BIT;
    EXPECT_EQ(KXSUP_GetGfxBufferFlags(a) & bits, KXSUP_GetGfxBufferFlags(b) & bits);
}

// A log that keeps every line a module writes, with its level.
struct CaptureLog : KXLog {
    void Log(uint32_t level, const char* format, ...) override {
        char line[512];
        va_list args;
        va_start(args, format);
        vsnprintf(line, sizeof(line), format, args);
        va_end(args);
        lines.push_back(std::to_string(level) + " " + line);
    }
    bool has(const std::string& line) const {
        for (const std::string& l : lines)
            if (l == line) return true;
        return false;
    }
    std::string all() const {
        std::string s;
        for (const std::string& l : lines) s += l;
        return s;
    }
    std::vector<std::string> lines;
};

// Collects the percentages a module reports.
inline void collectProgress(KXProgress* p, uintptr_t user) { reinterpret_cast<std::vector<uint32_t>*>(user)->push_back(p->Percent); }

// Settings handed to a module as its own pad.
struct Settings {
    explicit Settings(KXObject* obj) : cfg(obj->PadPath, &err) {}
    KXConfig& set(const char* key, const char* value) {
        cfg.SetValue(key, value);
        return cfg;
    }
    uint32_t err = 0;
    KXConfig cfg;
};

inline uint32_t saveWith(KXObject* w, KX_GfxBuffer* b, const std::string& path, uint32_t sub, KXOSpecialInfo* info = nullptr) {
    w->SetSubFormat(sub);
    w->SetSaveName(path.c_str());
    w->SetGfxBuffer(b);
    if (info) {
        w->SetSaveMeta(1);
        w->SetSpecialInfo(info);
    }
    return w->Save();
}

// Loads a file with a fresh reader; the buffer is detached to the caller.
template <class Reader>
uint32_t loadFile(const std::string& path, BufferPtr* out, std::function<void(Reader&)> prepare = nullptr) {
    Reader r(nullptr);
    if (prepare) prepare(r);
    r.SetLoadMeta(1);
    r.SetReadName(path.c_str());
    uint32_t e = r.Load();
    KX_GfxBuffer* b = nullptr;
    r.DetachGfxBuffer(&b);
    if (out) out->reset(b);
    if (e != KXERR_NONE) {
        EXPECT_EQ(b, nullptr) << "a failed load leaves no buffer";
    }
    return e;
}

// The bytes of a file that a fresh writer saves (a failed save is a
// failure of the test and gives no bytes).
template <class Writer>
std::vector<uint8_t> savedBytes(KX_GfxBuffer* b, const std::string& name, uint32_t sub) {
    const std::string path = tempPath(name);
    Writer w(nullptr);
    const uint32_t e = saveWith(&w, b, path, sub);
    EXPECT_EQ(e, KXERR_NONE) << name;
    return e == KXERR_NONE ? KXT_ReadBytes(path) : std::vector<uint8_t>();
}

// Loads the given bytes, written to a file of that name, with a fresh reader.
template <class Reader>
uint32_t loadBytes(const std::vector<uint8_t>& file, const std::string& name, BufferPtr* out) {
    const std::string path = tempPath(name);
    KXT_WriteBytes(path, file);
    return loadFile<Reader>(path, out);
}

// Inflates a zlib stream with python3's zlib; empty when that fails.
inline bool pythonInflate(const std::vector<uint8_t>& stream, std::vector<uint8_t>* out) {
    if (!KXT_HaveTool("python3")) return false;
    std::string in = tempPath("zin.bin"), res = tempPath("zout.bin");
    KXT_WriteBytes(in, stream);
    std::string cmd = "python3 -c \"import zlib,sys; d=open(sys.argv[1],'rb').read(); open(sys.argv[2],'wb').write(zlib.decompress(d))\" " + in + " " + res;
    if (system(cmd.c_str()) != 0) return false;
    *out = KXT_ReadBytes(res);
    return true;
}

// Every truncation and a spread of byte flips of a valid file must load
// or fail cleanly (the shared robustness check; sanitizers watch the rest).
inline void robustnessRun(const std::vector<uint8_t>& file, const std::string& name, const char* className) {
    const std::string path = tempPath(name);
    KXT_WriteBytes(path, file);
    KXT_CheckReaderRobustness(className, path);
}

}  // namespace ifftest
