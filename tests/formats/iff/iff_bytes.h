// Byte tables for the IFF-family tests: a FORM built from chunks, big-endian
// numbers, a chunk found in a file, netpbm's PPM/PBM files and running
// another program.
#pragma once

#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/testfiles.h"

namespace iffbytes {

using Bytes = std::vector<uint8_t>;

struct Chunk {
    std::string id;  // four characters
    Bytes data;
    uint32_t claimed = 0xFFFFFFFFu;  // a size other than the data's
};

inline void put16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}

inline void put32(Bytes& b, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
}

inline uint32_t get32(const Bytes& b, size_t at) { return uint32_t(b[at] << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3]); }
inline uint32_t get16(const Bytes& b, size_t at) { return uint32_t(b[at] << 8 | b[at + 1]); }

// "FORM", its true size, the form type and the chunks, each padded to even.
inline Bytes form(const char* type, const std::vector<Chunk>& chunks) {
    Bytes body(type, type + 4);
    for (const Chunk& c : chunks) {
        body.insert(body.end(), c.id.begin(), c.id.begin() + 4);
        put32(body, c.claimed != 0xFFFFFFFFu ? c.claimed : (uint32_t)c.data.size());
        body.insert(body.end(), c.data.begin(), c.data.end());
        if (c.data.size() & 1) body.push_back(0);
    }
    Bytes f = {'F', 'O', 'R', 'M'};
    put32(f, (uint32_t)body.size());
    f.insert(f.end(), body.begin(), body.end());
    return f;
}

// BMHD data: width, height, planes, masking, compression, transparent colour.
inline Bytes bmhd(uint32_t w, uint32_t h, uint32_t planes, uint32_t masking = 0, uint32_t compression = 0, uint32_t transparent = 0) {
    Bytes b;
    put16(b, w);
    put16(b, h);
    put32(b, 0);
    b.push_back(uint8_t(planes));
    b.push_back(uint8_t(masking));
    b.push_back(uint8_t(compression));
    b.push_back(0x80);
    put16(b, transparent);
    b.push_back(1);
    b.push_back(1);
    put16(b, w);
    put16(b, h);
    return b;
}

// Offset of a chunk's id in a file (the file's size when it is not there).
inline size_t findChunk(const Bytes& f, const char* id, size_t from = 12) {
    for (size_t at = from; at + 8 <= f.size();) {
        if (std::equal(id, id + 4, f.begin() + (long)at)) return at;
        at += 8 + get32(f, at + 4) + (get32(f, at + 4) & 1);
    }
    return f.size();
}

inline bool run(const std::string& cmd) {
    int r = system((cmd + " 2>/dev/null").c_str());
    return r != -1 && WIFEXITED(r) && WEXITSTATUS(r) == 0;
}

// A binary netpbm file (P4, P5 or P6): its kind, size, maxval and the
// raster bytes behind the header.
struct Netpbm {
    char kind = 0;
    uint32_t w = 0, h = 0, maxval = 1;
    Bytes raster;
};

inline bool readNetpbm(const std::string& path, Netpbm* p) {
    Bytes f = KXT_ReadBytes(path);
    size_t i = 2;
    auto num = [&]() {
        while (i < f.size() && (isspace(f[i]) || f[i] == '#')) {
            if (f[i] == '#')
                while (i < f.size() && f[i] != '\n') ++i;
            else
                ++i;
        }
        uint32_t n = 0;
        while (i < f.size() && isdigit(f[i])) n = n * 10 + (f[i++] - '0');
        return n;
    };
    if (f.size() < 3 || f[0] != 'P' || (f[1] != '4' && f[1] != '5' && f[1] != '6')) return false;
    p->kind = char(f[1]);
    p->w = num();
    p->h = num();
    p->maxval = p->kind == '4' ? 1 : num();
    ++i;
    if (i > f.size()) return false;
    p->raster.assign(f.begin() + (long)i, f.end());
    return true;
}

inline void writePpm(const std::string& path, uint32_t w, uint32_t h, const Bytes& rgb) {
    std::string head = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    Bytes f(head.begin(), head.end());
    f.insert(f.end(), rgb.begin(), rgb.end());
    KXT_WriteBytes(path, f);
}

}  // namespace iffbytes
