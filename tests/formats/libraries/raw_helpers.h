// Shared by the raw import and dump tests: a module driven through a
// settings list, the importer run on a file, a writer's save with its
// side file, pictures made in memory and their pixels read back in one form.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "formats/libraries/kxoRAW_Import.h"
#include "formats/raster/module_io.h"

namespace rawtest {

using Keys = std::vector<std::pair<std::string, std::string>>;

// f(module) on a fresh module that reads these settings.
template <class Module, class F>
auto WithKeys(const Keys& keys, F f) {
    Module m;
    uint32_t err = 0;
    KXConfig cfg(m.PadPath, &err);
    for (const auto& [k, v] : keys) cfg.SetValue(k.c_str(), v.c_str());
    if (!keys.empty()) m.SetLocalConfig(cfg.GetPadList());
    return f(m);
}

// The importer in the device mode on path with these settings (LOADNAME added).
inline void Import(const std::string& path, Keys keys, kxt::Loaded& out) {
    keys.emplace_back("LOADNAME", path);
    WithKeys<kxoRAW_Import>(keys, [&](kxoRAW_Import& m) {
        m.SetProgress(kxt::OnProgress, reinterpret_cast<uintptr_t>(&out.Progress));
        EXPECT_EQ(m.SetIOMode(KXIO_DEVICE), KXERR_NONE);
        out.Err = m.Load();
        m.DetachGfxBuffer(&out.Buffer);
        return 0;
    });
}

inline void ImportBytes(const std::vector<uint8_t>& bytes, const Keys& keys, kxt::Loaded& out, const char* name = "import.raw") {
    const std::string p = kxt::TempPath(name);
    kxt::WriteAll(p, bytes);
    Import(p, keys, out);
    unlink(p.c_str());
}

// A writer saving img to path with these settings, sub-format and (when
// given) metadata record; progress percentages into *progress.
template <class Module>
uint32_t SaveWith(KX_GfxBuffer* img, const std::string& path, uint32_t sub, const Keys& keys = {}, KXOSpecialInfo* info = nullptr,
                  std::vector<uint32_t>* progress = nullptr) {
    return WithKeys<Module>(keys, [&](Module& m) {
        if (progress) m.SetProgress(kxt::OnProgress, reinterpret_cast<uintptr_t>(progress));
        m.SetSaveName(path.c_str());
        m.SetSubFormat(sub);
        if (img) m.SetGfxBuffer(img);
        if (info) {
            m.SetSaveMeta(1);
            m.SetSpecialInfo(info);
        }
        return m.Save();
    });
}

inline std::string CommentPath(const std::string& path) {
    char name[4096] = {};
    EXPECT_TRUE(KXSUP_CommentFileName(path.c_str(), name, sizeof(name)));
    return name;
}

struct Dumped {
    uint32_t Err = 0;
    bool Exists = false;  // the file is there
    std::vector<uint8_t> File;
    std::string Line;  // the side file
    std::vector<uint32_t> Progress;
};

// SaveWith into a fresh temporary name; the file and its side file are read and removed.
template <class Module>
Dumped Dump(KX_GfxBuffer* img, uint32_t sub, const Keys& keys = {}, KXOSpecialInfo* info = nullptr, const char* name = "dump.RAW") {
    const std::string path = kxt::TempPath(name), comment = CommentPath(path);
    unlink(path.c_str());
    unlink(comment.c_str());
    Dumped d;
    d.Err = SaveWith<Module>(img, path, sub, keys, info, &d.Progress);
    d.Exists = KXT_Exists(path);
    d.File = KXT_ReadBytes(path);
    d.Line = KXT_ReadFile(comment);
    unlink(path.c_str());
    unlink(comment.c_str());
    return d;
}

using Buffer = KXT_Buffer;

// A chunky picture with a pattern: palette depths with a palette of
// distinct colours, 48-bit samples in host order (version 4 when marked).
inline Buffer Picture(uint32_t depth, uint32_t w, uint32_t h, bool alpha = false) {
    Buffer b(KXT_NewChunkyBuffer(alpha ? 3 : 1, w, h, depth));
    if (!b) return b;
    for (int i = 0; i < 256; ++i) {
        b->Palette[i * 3] = (uint8_t)(i * 7 + 3);
        b->Palette[i * 3 + 1] = (uint8_t)(255 - i);
        b->Palette[i * 3 + 2] = (uint8_t)(i * 31);
    }
    const uint32_t n = w * h;
    for (uint32_t i = 0; i < n; ++i) {
        if (depth <= 8) {
            b->Data[i] = (uint8_t)((i * 5 + i / w) % (1u << depth));
        } else if (depth == 24) {
            for (int c = 0; c < 3; ++c) b->Data[i * 3 + c] = (uint8_t)(i * 13 + c * 70 + 1);
        } else {
            for (int c = 0; c < 3; ++c) {
                const uint16_t v = (uint16_t)(i * 4099 + c * 21000 + 1);
                memcpy(b->Data + i * 6 + c * 2, &v, 2);
            }
        }
    }
    if (alpha) {
        b->AlphaType = KXALPHA_CHANNEL8;
        b->AlphaData = AllocVec(n, MEMF_CLEAR);
        for (uint32_t i = 0; i < n; ++i) KXSUP_AlphaBytes(b.get())[i] = (uint8_t)(i * 29 + 7);
    }
    return b;
}

// 48-bit samples as host values, whatever order the record is marked with.
inline std::vector<uint16_t> Samples48(const KX_GfxBuffer* b) {
    const bool big = KXSUP_GetGfxBufferEndianess(b) == KXENDIAN_BIG;
    std::vector<uint16_t> s((size_t)b->Width * b->Height * 3);
    for (size_t i = 0; i < s.size(); ++i) {
        const uint8_t* p = b->Data + 2 * i;
        s[i] = big ? (uint16_t)(p[0] << 8 | p[1]) : (uint16_t)(p[0] | p[1] << 8);
    }
    return s;
}

inline std::vector<uint8_t> Alpha8(const KX_GfxBuffer* b) {
    if (KXSUP_AlphaHolds(b) != KXALPHA_CHANNEL8) return {};
    return std::vector<uint8_t>(KXSUP_AlphaBytes(b), KXSUP_AlphaBytes(b) + (size_t)b->Width * b->Height);
}

}  // namespace rawtest
