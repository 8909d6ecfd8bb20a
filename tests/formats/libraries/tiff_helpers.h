// Shared by the TIFF tests: pictures made in memory, saves and loads
// through kxoTIFF with settings, the independent programs (libtiff's
// tools, netpbm, ImageMagick, exiftool) and small TIFF files built byte
// by byte.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/kxlib.h"
#include "formats/libraries/kxoTIFF.h"
#include "png_helpers.h"
#include "support/testfiles.h"

namespace tifftest {

using pngtest::Buffer;
using pngtest::Pnm;
using Settings = std::map<std::string, std::string>;
using Bytes = std::vector<uint8_t>;

inline std::string TempPath(const std::string& name) {
    return std::string(KX_GetProcessTempDir()) + "tiff_test_" + std::to_string(getpid()) + "_" + name;
}

// Runs a command through the shell; its error output is dropped.
inline int RunTool(const std::string& command) { return system((command + " 2>/dev/null").c_str()); }

// Standard output and error of a command, together.
inline std::string Capture(const std::string& command) {
    std::string out;
    if (FILE* p = popen((command + " 2>&1").c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

// A chunky picture with a deterministic pattern (see pngtest::MakeImage);
// 48-bit samples in host order.
inline Buffer MakeImage(uint32_t depth, uint32_t w, uint32_t h, uint32_t version = 1) {
    return pngtest::MakeImage(depth, w, h, version);
}
inline void AddAlpha(KX_GfxBuffer* b) { pngtest::AddAlpha(b); }

// One object with its settings list.
struct Tiff {
    kxoTIFF obj{nullptr};
    std::unique_ptr<KXConfig> cfg;
    explicit Tiff(const Settings& settings = {}) {
        if (settings.empty()) return;
        uint32_t err = 0;
        cfg = std::make_unique<KXConfig>(obj.PadPath, &err);
        for (const auto& [k, v] : settings) cfg->SetValue(k.c_str(), v.c_str());
        obj.SetLocalConfig(cfg->GetPadList());
    }
    ~Tiff() { obj.Reset(); }
    uint32_t Save(KX_GfxBuffer* b, const std::string& path, KXOSpecialInfo* info = nullptr, uint32_t subtype = 1) {
        obj.SetSaveName(path.c_str());
        obj.SetSubFormat(subtype);
        obj.SetGfxBuffer(b);
        if (info) {
            obj.SetSaveMeta(1);
            obj.SetSpecialInfo(info);
        }
        return obj.Save();
    }
    uint32_t Load(const std::string& path, bool meta = false) {
        obj.SetLoadMeta(meta ? 1 : 0);
        obj.SetReadName(path.c_str());
        return obj.Load();
    }
    KX_GfxBuffer* Image() {
        KX_GfxBuffer* b = nullptr;
        obj.GetGfxBuffer(&b);
        return b;
    }
};

// A netpbm file read back (P5/P6 of any maxval) as RGB samples.
inline bool ReadPnm(const std::string& path, Pnm* out) { return pngtest::ParsePnm(KXT_ReadBytes(path), out); }

// The sample c (0..2) of pixel i as the picture holds it, widened to the
// 16-bit scale when `wide` (8-bit values times 257).
inline uint32_t Sample(const KX_GfxBuffer* b, uint32_t i, int c) {
    if (b->Type == BITPLANE) {
        const uint32_t x = i % b->Width, y = i / b->Width;
        uint32_t index = 0;
        for (uint32_t k = 0; k < b->ColorDepth; ++k) {
            const uint8_t* plane = b->Data + (size_t)b->BytesPerLine * b->Height * k + (size_t)y * b->BytesPerLine;
            index |= ((plane[x / 8] >> (7 - x % 8)) & 1u) << k;
        }
        return b->Palette[index * 3 + c];
    }
    if (b->PixelBits == 8) return b->Palette[b->Data[i] * 3 + c];
    if (b->PixelBits == 24) return b->Data[i * 3 + c];
    const uint8_t* s = b->Data + (i * 3 + c) * 2;
    return KXSUP_GetGfxBufferEndianess(b) == KXENDIAN_BIG ? (uint32_t)(s[0] << 8 | s[1]) : (uint32_t)(s[1] << 8 | s[0]);
}

// The growth of this process's resident memory at its peak while `run`
// runs, in kilobytes (the kernel's high-water mark, reset first); -1 where
// the mark cannot be reset.
template <class F>
long PeakGrowthKb(F&& run) {
    auto field = [](const char* name) -> long {
        FILE* f = fopen("/proc/self/status", "r");
        if (!f) return -1;
        char line[256];
        long v = -1;
        while (fgets(line, sizeof(line), f))
            if (strncmp(line, name, strlen(name)) == 0) v = atol(line + strlen(name));
        fclose(f);
        return v;
    };
    bool ok = false;
    if (FILE* reset = fopen("/proc/self/clear_refs", "w")) {
        ok = fputs("5", reset) >= 0;
        ok = fclose(reset) == 0 && ok;
    }
    const long before = field("VmRSS:");
    run();
    const long peak = field("VmHWM:");
    return ok && before >= 0 && peak >= 0 ? peak - before : -1;
}

// ---- TIFF files byte by byte ----------------------------------------------------

// One directory entry; data longer than four bytes goes to the data area.
struct Tag {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    Bytes data;  // in the file's byte order already
};

struct TiffBuilder {
    bool big = false;
    std::vector<Tag> tags;
    Bytes pixels;  // placed first, after the header; offset kPixels

    static constexpr uint32_t kPixels = 8;

    void put16(Bytes& b, uint32_t v) const {
        if (big) {
            b.push_back((uint8_t)(v >> 8));
            b.push_back((uint8_t)v);
        } else {
            b.push_back((uint8_t)v);
            b.push_back((uint8_t)(v >> 8));
        }
    }
    void put32(Bytes& b, uint32_t v) const {
        if (big) {
            put16(b, v >> 16);
            put16(b, v & 0xFFFF);
        } else {
            put16(b, v & 0xFFFF);
            put16(b, v >> 16);
        }
    }
    Bytes shorts(std::initializer_list<uint32_t> v) const {
        Bytes b;
        for (uint32_t x : v) put16(b, x);
        return b;
    }
    Bytes longs(std::initializer_list<uint32_t> v) const {
        Bytes b;
        for (uint32_t x : v) put32(b, x);
        return b;
    }
    void add(uint16_t tag, uint16_t type, uint32_t count, const Bytes& data) { tags.push_back({tag, type, count, data}); }
    void addShort(uint16_t tag, uint32_t v) { add(tag, 3, 1, shorts({v})); }
    void addLong(uint16_t tag, uint32_t v) { add(tag, 4, 1, longs({v})); }
    void addShorts(uint16_t tag, const std::vector<uint32_t>& v) {
        Bytes b;
        for (uint32_t x : v) put16(b, x);
        add(tag, 3, (uint32_t)v.size(), b);
    }
    void addLongs(uint16_t tag, const std::vector<uint32_t>& v) {
        Bytes b;
        for (uint32_t x : v) put32(b, x);
        add(tag, 4, (uint32_t)v.size(), b);
    }

    // Header, pixels, directory (tags in the order added), data area.
    Bytes build() const {
        Bytes f;
        f.push_back(big ? 'M' : 'I');
        f.push_back(big ? 'M' : 'I');
        put16(f, 42);
        uint32_t ifd = kPixels + (uint32_t)pixels.size();
        ifd += ifd & 1;
        put32(f, ifd);
        f.insert(f.end(), pixels.begin(), pixels.end());
        while (f.size() < ifd) f.push_back(0);
        uint32_t data = ifd + 2 + 12 * (uint32_t)tags.size() + 4;
        Bytes area;
        put16(f, (uint32_t)tags.size());
        for (const Tag& t : tags) {
            put16(f, t.tag);
            put16(f, t.type);
            put32(f, t.count);
            if (t.data.size() <= 4) {
                Bytes v = t.data;
                v.resize(4, 0);
                f.insert(f.end(), v.begin(), v.end());
            } else {
                put32(f, data + (uint32_t)area.size());
                area.insert(area.end(), t.data.begin(), t.data.end());
                if (area.size() & 1) area.push_back(0);
            }
        }
        put32(f, 0);
        f.insert(f.end(), area.begin(), area.end());
        return f;
    }
};

}  // namespace tifftest
