// Helpers of the geometry operator tests: small pictures, settings, one
// run, and the exchange with external programs through PNM files written
// and read here (no dependency on the library's own PNM module).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kxlib.h"
#include "support/testfiles.h"

namespace geo {

struct BufferDeleter {
    void operator()(KX_GfxBuffer* b) const { KXSUP_FreeGfxBuffer(b); }
};
using Buffer = std::unique_ptr<KX_GfxBuffer, BufferDeleter>;

// The library object the operators are built on (reachable for the whole run).
inline KXClass* Lib()
{
    static KXClass* lib = new KXClass();
    return lib;
}

inline uint32_t Bpp(uint32_t depth) { return depth <= 8 ? 1 : depth == 24 ? 3 : 6; }

// A chunky picture whose bytes are given (or a pattern when empty).
inline Buffer Make(uint32_t w, uint32_t h, uint32_t depth, std::vector<uint8_t> bytes = {}, uint32_t version = 2)
{
    const uint32_t size = w * h * Bpp(depth);
    KX_GfxBuffer* b = nullptr;
    EXPECT_EQ(KXSUP_AllocGfxBuffer(&b, version, size, MEMF_CLEAR), 0u);
    b->Type = ONEPLANE;
    b->Width = w;
    b->Height = h;
    b->ColorDepth = depth;
    b->PixelBits = Bpp(depth) * 8;
    b->ViewMode = KXVIEWMODE_NONE;
    for (int i = 0; i < 256; i++) b->Palette[i * 3] = static_cast<uint8_t>(i);
    if (bytes.empty()) {
        for (uint32_t i = 0; i < size; i++) b->Data[i] = static_cast<uint8_t>((i * 37 + i / 7) & (depth < 8 ? (1u << depth) - 1 : 0xFF));
    } else {
        EXPECT_EQ(bytes.size(), size);
        memcpy(b->Data, bytes.data(), size);
    }
    return Buffer(b);
}

// Pseudo-random bytes, the same on every run.
inline std::vector<uint8_t> Noise(size_t n, uint32_t seed)
{
    std::vector<uint8_t> v(n);
    for (auto& x : v) {
        seed = seed * 1103515245u + 12345u;
        x = static_cast<uint8_t>(seed >> 16);
    }
    return v;
}

inline void AddAlpha8(KX_GfxBuffer* b, uint8_t start = 1)
{
    KXSUP_SetGfxBufferVersion(b, 3);
    auto* map = static_cast<uint8_t*>(AllocVec(b->Width * b->Height, MEMF_ANY));
    for (uint32_t i = 0; i < b->Width * b->Height; i++) map[i] = static_cast<uint8_t>(start + i);
    b->AlphaType = KXALPHA_CHANNEL8;
    b->AlphaData = map;
}

// Runs op on src with the given keys; the result stays with the operator.
template <class Op>
uint32_t RunOp(Op& op, KX_GfxBuffer* src, KX_GfxBuffer** res, std::vector<std::pair<const char*, const char*>> keys = {})
{
    uint32_t err = 0;
    KXConfig cfg(op.PadPath, &err);
    EXPECT_EQ(err, 0u);
    for (auto& [k, v] : keys) {
        if (v)
            cfg.SetValue(k, v);
        else
            cfg.SetValue(k);
    }
    op.SetLocalConfig(cfg.GetPadList());
    uint32_t code = op.OperateTagList(src, res, nullptr);
    // The list dies here: the operator must not keep reading it.
    op.FreeConfig();
    return code;
}

inline std::vector<uint8_t> Bytes(const KX_GfxBuffer* b) { return {b->Data, b->Data + static_cast<size_t>(b->Width) * b->Height * Bpp(b->ColorDepth)}; }

// ---- external programs ----
inline std::string TempPath(const std::string& name)
{
    const char* dir = getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/kxgeo_" + std::to_string(getpid()) + "_" + name;
}

// P6 with 8- or 16-bit (big-endian) samples, or P5 for one channel.
inline bool WritePNM(const std::string& path, const KX_GfxBuffer* b, bool grey = false)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool wide = b->ColorDepth == 48;
    fprintf(f, "%s\n%u %u\n%u\n", grey ? "P5" : "P6", b->Width, b->Height, wide ? 65535u : 255u);
    const size_t n = static_cast<size_t>(b->Width) * b->Height * (grey ? 1 : 3);
    if (wide) {
        const auto* s = reinterpret_cast<const uint16_t*>(b->Data);
        for (size_t i = 0; i < n; i++) {
            fputc(s[i] >> 8, f);
            fputc(s[i] & 0xFF, f);
        }
    } else {
        fwrite(b->Data, 1, n, f);
    }
    return fclose(f) == 0;
}

struct Pnm {
    uint32_t w = 0, h = 0, maxval = 0, channels = 0;
    std::vector<uint16_t> samples;
};

// Header numbers, skipping blanks and "#" comment lines.
inline bool PnmNumber(FILE* f, uint32_t* v)
{
    int c = fgetc(f);
    for (;;) {
        if (c == '#')
            while (c != '\n' && c != EOF) c = fgetc(f);
        else if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
            c = fgetc(f);
        else
            break;
    }
    if (c < '0' || c > '9') return false;
    *v = 0;
    while (c >= '0' && c <= '9') {
        *v = *v * 10 + static_cast<uint32_t>(c - '0');
        c = fgetc(f);
    }
    return true;  // the one blank after the number is consumed
}

inline bool ReadPNM(const std::string& path, Pnm& out)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    char magic[2] = {};
    bool ok = fread(magic, 1, 2, f) == 2 && magic[0] == 'P' && (magic[1] == '5' || magic[1] == '6');
    ok = ok && PnmNumber(f, &out.w) && PnmNumber(f, &out.h) && PnmNumber(f, &out.maxval);
    if (ok) {
        out.channels = magic[1] == '6' ? 3 : 1;
        size_t n = static_cast<size_t>(out.w) * out.h * out.channels;
        out.samples.resize(n);
        for (size_t i = 0; i < n && ok; i++) {
            int hi = fgetc(f);
            if (out.maxval > 255) {
                int lo = fgetc(f);
                ok = lo != EOF;
                out.samples[i] = static_cast<uint16_t>((hi << 8) | lo);
            } else {
                out.samples[i] = static_cast<uint16_t>(hi);
            }
            ok = ok && hi != EOF;
        }
    }
    fclose(f);
    return ok;
}

// Samples of a result as 16-bit values, for comparison with a PNM.
inline std::vector<uint16_t> Samples(const KX_GfxBuffer* b)
{
    const size_t n = static_cast<size_t>(b->Width) * b->Height * (b->ColorDepth <= 8 ? 1 : 3);
    std::vector<uint16_t> v(n);
    for (size_t i = 0; i < n; i++) v[i] = b->ColorDepth == 48 ? reinterpret_cast<const uint16_t*>(b->Data)[i] : b->Data[i];
    return v;
}

}  // namespace geo
