// What the benchmarks share: one library instance, a blank chunky picture
// to fill, an operator run with its keys, and the catalogue's load and save
// of one file. Header-only, because every .cpp in this folder becomes its
// own executable.
#pragma once

#include <benchmark/benchmark.h>

#include <string>
#include <utility>
#include <vector>

#include "core/kxlib.h"

namespace kxbench {

inline KXClass* library()
{
    static KXClass* lib = new KXClass();
    return lib;
}

// A chunky picture of 8, 24 or 48 bits with its header set and its pixels
// left to the caller; null when memory runs out.
inline KX_GfxBuffer* newPicture(uint32_t version, uint32_t width, uint32_t height, uint32_t depth)
{
    KX_GfxBuffer* b = nullptr;
    KXSUP_AllocGfxBuffer(&b, version, width * height * (depth / 8), MEMF_ANY);
    if (!b) return nullptr;
    b->Type = ONEPLANE;
    b->Width = width;
    b->Height = height;
    b->ColorDepth = b->PixelBits = depth;
    return b;
}

// Runs Op on src once per iteration, with keys set in a local pad. Each
// result is detached and freed inside its iteration, as the program takes
// results over, and the settings list is taken back before it goes.
template <class Op>
void runOperator(benchmark::State& state, KX_GfxBuffer* src, const std::vector<std::pair<const char*, const char*>>& keys)
{
    for (auto _ : state) {
        Op op(library());
        uint32_t err = 0;
        KXConfig cfg(op.PadPath, &err);
        for (auto& [k, v] : keys) cfg.SetValue(k, v);
        op.SetLocalConfig(cfg.GetPadList());
        KX_GfxBuffer* r = nullptr;
        if (op.OperateTagList(src, &r, nullptr)) {
            state.SkipWithError("operator failed");
            break;
        }
        benchmark::DoNotOptimize(r);
        op.DetachResult(&r);
        KXSUP_FreeGfxBuffer(r);
        op.FreeConfig();
    }
}

inline KXObject* make(const char* className)
{
    const KXFormatReg* reg = KX_FindFormatReg(className);
    return reg ? KX_NewObject(library(), *reg) : nullptr;
}

// Loads path with the class's reader; *out receives the picture when out
// is given.
inline uint32_t load(const char* className, const std::string& path, KX_GfxBuffer** out)
{
    KXObject* r = make(className);
    if (!r) return KXERR_NOTSUPPORTED;
    r->SetReadName(path.c_str());
    uint32_t err = r->Load();
    if (err == KXERR_NONE && out) r->DetachGfxBuffer(out);
    r->Reset();
    delete r;
    return err;
}

// Loads path once per iteration; a failed load ends the run.
inline void loadEachIteration(benchmark::State& state, const char* className, const std::string& path)
{
    for (auto _ : state) {
        KX_GfxBuffer* b = nullptr;
        if (load(className, path, &b) != KXERR_NONE) {
            state.SkipWithError("load failed");
            break;
        }
        KXSUP_FreeGfxBuffer(b);
    }
}

inline uint32_t save(const char* className, uint32_t subFormat, KX_GfxBuffer* image, const std::string& path)
{
    KXObject* w = make(className);
    if (!w) return KXERR_NOTSUPPORTED;
    w->Reset();
    w->SetSaveName(path.c_str());
    w->SetSubFormat(subFormat);
    w->SetGfxBuffer(image);
    uint32_t err = w->Save();
    w->Reset();
    delete w;
    return err;
}

}  // namespace kxbench
