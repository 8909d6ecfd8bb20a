// Test helpers of the raster format tests: an independent reader of raw
// netpbm files (P5, P6, P7 with maxval 255), images as plain RGB(A) for
// comparison, and the external programs used as cross-checks.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/kxlib.h"
#include "support/testfiles.h"

namespace kxt {

struct Rgb {
    uint32_t W = 0, H = 0;
    std::vector<uint8_t> Pix;    // R, G, B per pixel
    std::vector<uint8_t> Alpha;  // empty without alpha
};

inline std::string Fixture(const std::string& rel) { return std::string(KX_SOURCE_DIR) + "/tests/fixtures/" + rel; }

inline std::string TempPath(const std::string& name) {
    return std::string(KX_GetProcessTempDir()) + "kxt_" + std::to_string(getpid()) + "_" + name;
}

inline void WriteAll(const std::string& path, const std::vector<uint8_t>& d) { ASSERT_TRUE(KXT_WriteBytes(path, d)) << path; }

// Raw P5, P6 or P7 (GRAYSCALE, RGB, RGB_ALPHA) with maxval 255.
inline bool ReadNetpbm(const std::string& path, Rgb& out) {
    std::vector<uint8_t> d = KXT_ReadBytes(path);
    size_t p = 0;
    auto word = [&]() {
        std::string w;
        while (p < d.size()) {
            if (d[p] == '#') {
                while (p < d.size() && d[p] != '\n') ++p;
            } else if (isspace(d[p])) {
                ++p;
            } else {
                break;
            }
        }
        while (p < d.size() && !isspace(d[p])) w += (char)d[p++];
        return w;
    };
    std::string magic = word();
    uint32_t channels = 0;
    bool alpha = false;
    if (magic == "P7") {
        for (std::string k = word(); k != "ENDHDR" && !k.empty(); k = word()) {
            if (k == "WIDTH") out.W = std::stoul(word());
            else if (k == "HEIGHT") out.H = std::stoul(word());
            else if (k == "DEPTH") channels = std::stoul(word());
            else if (k == "MAXVAL") { if (word() != "255") return false; }
            else if (k == "TUPLTYPE") alpha = word().find("ALPHA") != std::string::npos;
        }
    } else if (magic == "P5" || magic == "P6") {
        out.W = std::stoul(word());
        out.H = std::stoul(word());
        if (word() != "255") return false;
        channels = magic == "P5" ? 1 : 3;
    } else {
        return false;
    }
    ++p;  // the single separator
    size_t n = (size_t)out.W * out.H;
    if (d.size() < p + n * channels) return false;
    out.Pix.resize(n * 3);
    out.Alpha.clear();
    if (alpha) out.Alpha.resize(n);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* s = &d[p + i * channels];
        bool grey = channels <= 2;
        for (int c = 0; c < 3; ++c) out.Pix[i * 3 + c] = grey ? s[0] : s[c];
        if (alpha) out.Alpha[i] = s[channels - 1];
    }
    return true;
}

// Any chunky or 1-plane image as RGB (48-bit: the high byte, host order).
inline Rgb ToRgb(const KX_GfxBuffer* b) {
    Rgb r;
    r.W = b->Width;
    r.H = b->Height;
    size_t n = (size_t)r.W * r.H;
    r.Pix.resize(n * 3);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* s;
        uint8_t tmp[3];
        if (b->Type == BITPLANE) {
            size_t x = i % r.W, y = i / r.W;
            uint32_t idx = 0;
            for (uint32_t pl = 0; pl < b->ColorDepth; ++pl)
                if (b->Data[(pl * r.H + y) * b->BytesPerLine + x / 8] & (0x80 >> (x % 8))) idx |= 1u << pl;
            s = b->Palette + 3 * idx;
        } else if (b->PixelBits == 8) {
            s = b->Palette + 3 * b->Data[i];
        } else if (b->PixelBits == 24) {
            s = b->Data + 3 * i;
        } else {
            for (int c = 0; c < 3; ++c) {
                uint16_t v;
                memcpy(&v, b->Data + 6 * i + 2 * c, 2);
                tmp[c] = (uint8_t)(v >> 8);
            }
            s = tmp;
        }
        memcpy(&r.Pix[i * 3], s, 3);
    }
    if (b->Version >= 3 && b->AlphaType == KXALPHA_CHANNEL8 && b->AlphaData)
        r.Alpha.assign(KXSUP_AlphaBytes(b), KXSUP_AlphaBytes(b) + n);
    return r;
}

// Where the two differ first, or "" when they are the same (tolerance per sample).
inline std::string Compare(const Rgb& a, const Rgb& b, int tolerance = 0) {
    if (a.W != b.W || a.H != b.H)
        return "size " + std::to_string(a.W) + "x" + std::to_string(a.H) + " vs " + std::to_string(b.W) + "x" + std::to_string(b.H);
    for (size_t i = 0; i < a.Pix.size(); ++i)
        if (abs(a.Pix[i] - b.Pix[i]) > tolerance)
            return "pixel " + std::to_string(i / 3) + " channel " + std::to_string(i % 3) + ": " + std::to_string(a.Pix[i]) +
                   " vs " + std::to_string(b.Pix[i]);
    if (a.Alpha.size() != b.Alpha.size()) return "alpha present in one only";
    for (size_t i = 0; i < a.Alpha.size(); ++i)
        if (abs(a.Alpha[i] - b.Alpha[i]) > tolerance) return "alpha " + std::to_string(i);
    return "";
}

// Runs a shell command; true when it exits with 0.
inline bool Shell(const std::string& cmd) { return system((cmd + " 2>/dev/null").c_str()) == 0; }

// A cross-check by another program: ran tells that it wrote our file out
// as the netpbm file q. "" when q holds want, else what went wrong.
inline std::string ReadBack(bool ran, const std::string& q, const Rgb& want, int tolerance = 0) {
    if (!ran) return "the program failed";
    Rgb got;
    if (!ReadNetpbm(q, got)) return "no netpbm file from it";
    return Compare(got, want, tolerance);
}

#define KXT_NEED_TOOL(name) \
    if (!KXT_HaveTool(name)) GTEST_SKIP() << name << " is not installed (tools/deps.sh installs it)"

// A chunky test picture with some structure: w x h, 24-bit or palette.
inline KX_GfxBuffer* MakeImage(uint32_t w, uint32_t h, uint32_t depth, bool alpha = false) {
    auto* b = static_cast<KX_GfxBuffer*>(AllocVec(sizeof(KX_GfxBuffer), MEMF_CLEAR));
    b->Version = alpha ? 3 : 1;
    b->Type = ONEPLANE;
    b->Width = w;
    b->Height = h;
    b->ColorDepth = depth;
    b->PixelBits = depth <= 8 ? 8 : depth;
    b->BufferSize = w * h * (b->PixelBits / 8);
    b->Data = static_cast<uint8_t*>(AllocVec(b->BufferSize, MEMF_CLEAR));
    for (uint32_t i = 0; i < b->BufferSize; ++i) b->Data[i] = (uint8_t)(i * 37 + (i / w) * 11 + 5);
    if (depth <= 8) {
        uint32_t colours = 1u << depth;
        for (uint32_t i = 0; i < b->BufferSize; ++i) b->Data[i] %= colours;
        for (uint32_t i = 0; i < 256; ++i) {
            b->Palette[3 * i] = (uint8_t)(i * 53 + 7);
            b->Palette[3 * i + 1] = (uint8_t)(i * 101 + 3);
            b->Palette[3 * i + 2] = (uint8_t)(255 - i * 29);
        }
    }
    if (alpha) {
        b->AlphaType = KXALPHA_CHANNEL8;
        b->AlphaData = AllocVec((size_t)w * h, MEMF_CLEAR);
        for (uint32_t i = 0; i < w * h; ++i) KXSUP_AlphaBytes(b)[i] = (uint8_t)(i * 13);
    }
    return b;
}

}  // namespace kxt
