// Independent programs as oracles for the colour operators: a true-colour
// picture written as a binary PPM (8 or 16 bits a sample), a command run on
// it, and the samples of the PPM or PGM it writes read back.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "colour_fixtures.h"
#include "support/testfiles.h"

namespace colour_oracle {

// Samples of a P5 or P6 file in file order (one per channel), widened to
// 16 bits only when maxval is above 255.
struct Pnm {
    uint32_t width = 0, height = 0, channels = 0, maxval = 0;
    std::vector<uint16_t> samples;
};

// A 24- or 48-bit picture as a PPM; its 16-bit samples in the picture's order.
inline bool WritePpm(const std::string& path, const KX_GfxBuffer* b)
{
    const bool wide = b->ColorDepth == 48, big = KXSUP_GetGfxBufferEndianess(b) == KXENDIAN_BIG;
    std::string bytes = "P6\n" + std::to_string(b->Width) + " " + std::to_string(b->Height) + "\n" + (wide ? "65535" : "255") + "\n";
    const size_t n = size_t(b->Width) * b->Height * 3;
    for (size_t i = 0; i < n; ++i) {
        if (!wide) {
            bytes += char(b->Data[i]);
        } else {
            const uint16_t v = colour_test::Get16(b->Data, i, big);
            bytes += char(v >> 8);
            bytes += char(v & 255);
        }
    }
    return KXT_WriteFile(path, bytes);
}

inline bool ReadPnm(const std::string& path, Pnm* out)
{
    const std::string s = KXT_ReadFile(path);
    size_t p = 0;
    auto number = [&]() -> uint32_t {
        while (p < s.size() && (isspace(uint8_t(s[p])) || s[p] == '#')) {
            if (s[p] == '#') while (p < s.size() && s[p] != '\n') ++p;
            else ++p;
        }
        uint32_t v = 0;
        while (p < s.size() && isdigit(uint8_t(s[p]))) v = v * 10 + uint32_t(s[p++] - '0');
        return v;
    };
    if (s.size() < 2 || s[0] != 'P' || (s[1] != '5' && s[1] != '6')) return false;
    out->channels = s[1] == '6' ? 3 : 1;
    p = 2;
    out->width = number();
    out->height = number();
    out->maxval = number();
    ++p;
    const size_t count = size_t(out->width) * out->height * out->channels, bps = out->maxval > 255 ? 2 : 1;
    if (s.size() < p + count * bps) return false;
    out->samples.resize(count);
    for (size_t i = 0; i < count; ++i)
        out->samples[i] = bps == 1 ? uint8_t(s[p + i]) : uint16_t(uint8_t(s[p + 2 * i]) << 8 | uint8_t(s[p + 2 * i + 1]));
    return true;
}

// Runs a shell command with "IN" and "OUT" replaced by the paths; true on success.
inline bool RunTool(std::string cmd, const std::string& in, const std::string& out)
{
    for (size_t at; (at = cmd.find("IN")) != std::string::npos;) cmd.replace(at, 2, in);
    for (size_t at; (at = cmd.find("OUT")) != std::string::npos;) cmd.replace(at, 3, out);
    return system((cmd + " 2>/dev/null").c_str()) == 0;
}

// A 24- or 48-bit picture of noise-like samples over the whole range (host order).
inline colour_test::Buffer Noise(uint32_t depth, uint32_t w, uint32_t h, uint32_t seed = 1)
{
    colour_test::Buffer b = colour_test::Chunky(depth, w, h, depth == 48 ? 4 : 2);
    if (depth == 48) KXSUP_SetGfxBufferEndianess(b.get(), KXGFXF_II);
    const size_t n = size_t(w) * h * (depth == 48 ? 6 : 3);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        b->Data[i] = uint8_t(seed >> 16);
    }
    // The extremes are always there.
    b->Data[0] = 0;
    b->Data[1] = 255;
    if (depth == 48) b->Data[2] = 0, b->Data[3] = 0, b->Data[4] = 255, b->Data[5] = 255;
    return b;
}

// The picture's samples in PPM order (host-order 16-bit values for 48 bits).
inline std::vector<uint16_t> Samples(const KX_GfxBuffer* b)
{
    const size_t n = size_t(b->Width) * b->Height * (b->ColorDepth == 8 ? 1 : 3);
    const bool big = KXSUP_GetGfxBufferEndianess(b) == KXENDIAN_BIG;
    std::vector<uint16_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = b->ColorDepth == 48 ? colour_test::Get16(b->Data, i, big) : b->Data[i];
    return v;
}

// Largest difference of two sample lists (65536 when their sizes differ).
inline uint32_t MaxDiff(const std::vector<uint16_t>& a, const std::vector<uint16_t>& b)
{
    if (a.size() != b.size()) return 65536;
    uint32_t d = 0;
    for (size_t i = 0; i < a.size(); ++i) d = std::max<uint32_t>(d, a[i] > b[i] ? a[i] - b[i] : b[i] - a[i]);
    return d;
}

}  // namespace colour_oracle
