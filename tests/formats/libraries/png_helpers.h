// Shared by the PNG tests: images made in memory, save and load through
// kxoPNG with settings, the independent programs (netpbm, pngcheck,
// ImageMagick) and netpbm files read back for comparison.
#pragma once

#include <gtest/gtest.h>
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/kxlib.h"
#include "formats/libraries/kxoPNG.h"
#include "support/testfiles.h"

namespace pngtest {

using Settings = std::map<std::string, std::string>;

inline std::string TempPath(const std::string& name) {
    return std::string(KX_GetProcessTempDir()) + "png_test_" + std::to_string(getpid()) + "_" + name;
}

inline int RunTool(const std::string& command) { return system((command + " 2>/dev/null").c_str()); }

inline bool Contains(const std::vector<uint8_t>& data, const std::string& text) {
    return std::search(data.begin(), data.end(), text.begin(), text.end()) != data.end();
}

using Buffer = KXT_Buffer;

// A chunky image with a deterministic pattern; palette depths get a
// palette of distinct colours, 48-bit samples are in host order.
inline Buffer MakeImage(uint32_t depth, uint32_t w, uint32_t h, uint32_t version = 1) {
    KX_GfxBuffer* b = KXT_NewChunkyBuffer(version, w, h, depth);
    if (!b) return Buffer();
    for (int i = 0; i < 256; ++i) {
        b->Palette[i * 3] = (uint8_t)(i * 7 + 3);
        b->Palette[i * 3 + 1] = (uint8_t)(255 - i);
        b->Palette[i * 3 + 2] = (uint8_t)(i * 31);
    }
    for (uint32_t i = 0; i < w * h; ++i) {
        if (depth <= 8) {
            b->Data[i] = (uint8_t)((i * 5 + i / w) % (1u << depth));
        } else if (depth == 24) {
            for (int c = 0; c < 3; ++c) b->Data[i * 3 + c] = (uint8_t)(i * 13 + c * 70);
        } else {
            auto* s = reinterpret_cast<uint16_t*>(b->Data);
            for (int c = 0; c < 3; ++c) s[i * 3 + c] = (uint16_t)(i * 4099 + c * 21000 + 1);
        }
    }
    return Buffer(b);
}

inline void AddAlpha(KX_GfxBuffer* b) {
    const uint32_t n = b->Width * b->Height;
    KXSUP_SetGfxBufferVersion(b, b->Version < 3 ? 3 : b->Version);
    if (b->ColorDepth == 24) {
        auto* a = static_cast<uint8_t*>(AllocVec(n, MEMF_ANY));
        for (uint32_t i = 0; i < n; ++i) a[i] = (uint8_t)(i * 37 + 5);
        b->AlphaType = KXALPHA_CHANNEL8;
        b->AlphaData = a;
    } else {
        auto* a = static_cast<uint16_t*>(AllocVec(n * 2, MEMF_ANY));
        for (uint32_t i = 0; i < n; ++i) a[i] = (uint16_t)(i * 9001 + 3);
        b->AlphaType = KXALPHA_CHANNEL16;
        b->AlphaData = a;
    }
}

// One object with its settings list.
struct Png {
    kxoPNG obj{nullptr};
    std::unique_ptr<KXConfig> cfg;
    explicit Png(const Settings& settings = {}) {
        if (settings.empty()) return;
        uint32_t err = 0;
        cfg = std::make_unique<KXConfig>(obj.PadPath, &err);
        for (const auto& [k, v] : settings) cfg->SetValue(k.c_str(), v.c_str());
        obj.SetLocalConfig(cfg->GetPadList());
    }
    ~Png() { obj.Reset(); }
    uint32_t Save(KX_GfxBuffer* b, const std::string& path, KXOSpecialInfo* info = nullptr) {
        obj.SetSaveName(path.c_str());
        obj.SetGfxBuffer(b);
        if (info) {
            obj.SetSaveMeta(1);
            obj.SetSpecialInfo(info);
        }
        return obj.Save();
    }
    uint32_t Load(const std::string& path) {
        obj.SetReadName(path.c_str());
        return obj.Load();
    }
    KX_GfxBuffer* Image() {
        KX_GfxBuffer* b = nullptr;
        obj.GetGfxBuffer(&b);
        return b;
    }
};

// A netpbm image (P5/P6, maxval up to 65535) as RGB samples, 8 or 16 bits.
struct Pnm {
    uint32_t width = 0, height = 0, maxval = 0;
    std::vector<uint32_t> rgb;  // 3 samples per pixel
};

inline bool ParsePnm(const std::vector<uint8_t>& d, Pnm* out) {
    size_t p = 0;
    auto skip = [&] {
        while (p < d.size()) {
            if (d[p] == '#')
                while (p < d.size() && d[p] != '\n') ++p;
            else if (isspace(d[p]))
                ++p;
            else
                break;
        }
    };
    auto number = [&]() -> uint32_t {
        skip();
        uint32_t v = 0;
        while (p < d.size() && isdigit(d[p])) v = v * 10 + (d[p++] - '0');
        return v;
    };
    if (d.size() < 2 || d[0] != 'P' || (d[1] != '5' && d[1] != '6')) return false;
    const int channels = d[1] == '6' ? 3 : 1;
    p = 2;
    out->width = number();
    out->height = number();
    out->maxval = number();
    ++p;
    const int bytes = out->maxval > 255 ? 2 : 1;
    const size_t n = (size_t)out->width * out->height;
    if (d.size() < p + n * channels * bytes) return false;
    out->rgb.resize(n * 3);
    for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c) {
            const size_t s = p + (i * channels + (channels == 3 ? c : 0)) * bytes;
            out->rgb[i * 3 + c] = bytes == 2 ? (uint32_t)(d[s] << 8 | d[s + 1]) : d[s];
        }
    return true;
}

inline std::vector<uint8_t> MakePnm(bool colour, uint32_t w, uint32_t h, uint32_t maxval,
                                    const std::function<uint32_t(uint32_t i)>& sample) {
    std::string head = std::string(colour ? "P6\n" : "P5\n") + std::to_string(w) + " " + std::to_string(h) + "\n" +
                       std::to_string(maxval) + "\n";
    std::vector<uint8_t> d(head.begin(), head.end());
    const uint32_t n = w * h * (colour ? 3 : 1);
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t v = sample(i) % (maxval + 1);
        if (maxval > 255) d.push_back((uint8_t)(v >> 8));
        d.push_back((uint8_t)v);
    }
    return d;
}

// Writes a small PNG straight through libpng; `setup` adds chunks or
// changes the header before the rows go out. Rows: rowBytes per row.
inline bool WriteCrafted(const std::string& path, uint32_t w, uint32_t h, int bitDepth, int colourType,
                         const std::vector<uint8_t>& pixels, const std::function<void(png_structp, png_infop)>& setup) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, bitDepth, colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
                 PNG_FILTER_TYPE_BASE);
    if (setup) setup(png, info);
    png_write_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    for (uint32_t y = 0; y < h; ++y) png_write_row(png, pixels.data() + y * rowBytes);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    fclose(f);
    return true;
}

}  // namespace pngtest
