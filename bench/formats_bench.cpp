// Loads and saves a 6000 x 4000 24-bit picture in each format, through the
// catalogue's objects. One row of kFormats per format; a format added there
// gets Load/, Save/ and Convert/ (load, then save) benchmarks.
//
// With KX_BENCH_DIR set, the picture files are taken from that folder
// ("picture" + extension, as bench/compare_formats.sh makes them) and the
// saved files go there too; otherwise a generated picture is written to
// the temporary folder first.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "core/kxlib.h"

namespace {

struct FormatRow {
    const char* Name;       // benchmark name
    const char* ClassName;  // catalogue class
    const char* Extension;
    uint32_t SubFormat;
    mutable bool Written = false;  // the generated input file exists
};

const FormatRow kFormats[] = {
    {"BMP", "kxoBMP", ".bmp", 0},
    {"PNM", "kxoPNM", ".ppm", 0},
};

const uint32_t kWidth = 6000, kHeight = 4000;

KXClass* library() {
    static KXClass* lib = new KXClass();
    return lib;
}

KXObject* make(const FormatRow& row) {
    const KXFormatReg* reg = KX_FindFormatReg(row.ClassName);
    return reg ? reg->Make(library(), *reg) : nullptr;
}

std::string folder() {
    const char* dir = getenv("KX_BENCH_DIR");
    return dir && *dir ? std::string(dir) + "/" : std::string(KX_GetProcessTempDir());
}

KX_GfxBuffer* picture() {
    static KX_GfxBuffer* b = [] {
        KX_GfxBuffer* p = nullptr;
        KXSUP_AllocGfxBuffer(&p, 1, kWidth * kHeight * 3, MEMF_ANY);
        p->Type = ONEPLANE;
        p->Width = kWidth;
        p->Height = kHeight;
        p->ColorDepth = 24;
        p->PixelBits = 24;
        p->ViewMode = 0;
        uint8_t* d = p->Data;
        for (uint32_t y = 0; y < kHeight; ++y)
            for (uint32_t x = 0; x < kWidth; ++x, d += 3) {
                d[0] = (uint8_t)(x * 255 / kWidth);
                d[1] = (uint8_t)(y * 255 / kHeight);
                d[2] = (uint8_t)((x ^ y) * 7);
            }
        return p;
    }();
    return b;
}

uint32_t save(const FormatRow& row, KX_GfxBuffer* image, const std::string& path) {
    KXObject* w = make(row);
    if (!w) return KXERR_NOTSUPPORTED;
    w->Reset();
    w->SetSaveName(path.c_str());
    w->SetSubFormat(row.SubFormat);
    w->SetGfxBuffer(image);
    uint32_t err = w->Save();
    w->Reset();
    delete w;
    return err;
}

// The file the load benchmarks read: given by the comparison script, or
// written once from the generated picture.
std::string input(const FormatRow& row) {
    std::string path = folder() + "picture" + row.Extension;
    if (!getenv("KX_BENCH_DIR") && !row.Written) row.Written = save(row, picture(), path) == KXERR_NONE;
    return path;
}

uint32_t load(const FormatRow& row, const std::string& path, KX_GfxBuffer** out) {
    KXObject* r = make(row);
    if (!r) return KXERR_NOTSUPPORTED;
    r->SetReadName(path.c_str());
    uint32_t err = r->Load();
    if (err == KXERR_NONE) r->DetachGfxBuffer(out);
    r->Reset();
    delete r;
    return err;
}

void benchLoad(benchmark::State& state, const FormatRow* row) {
    const std::string path = input(*row);
    for (auto _ : state) {
        KX_GfxBuffer* b = nullptr;
        if (load(*row, path, &b) != KXERR_NONE) {
            state.SkipWithError("load failed");
            break;
        }
        KXSUP_FreeGfxBuffer(b);
    }
}

void benchSave(benchmark::State& state, const FormatRow* row) {
    const std::string path = folder() + "saved" + row->Extension;
    KX_GfxBuffer* image = picture();
    for (auto _ : state)
        if (save(*row, image, path) != KXERR_NONE) {
            state.SkipWithError("save failed");
            break;
        }
}

void benchConvert(benchmark::State& state, const FormatRow* row) {
    const std::string in = input(*row), out = folder() + "converted" + row->Extension;
    for (auto _ : state) {
        KX_GfxBuffer* b = nullptr;
        if (load(*row, in, &b) != KXERR_NONE || save(*row, b, out) != KXERR_NONE) {
            KXSUP_FreeGfxBuffer(b);
            state.SkipWithError("conversion failed");
            break;
        }
        KXSUP_FreeGfxBuffer(b);
    }
}

// The table's benchmarks, registered before benchmark_main runs them.
[[maybe_unused]] const bool kRegistered = [] {
    for (const FormatRow& row : kFormats) {
        benchmark::RegisterBenchmark((std::string("Load/") + row.Name).c_str(), benchLoad, &row)->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark((std::string("Save/") + row.Name).c_str(), benchSave, &row)->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark((std::string("Convert/") + row.Name).c_str(), benchConvert, &row)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    return true;
}();

}  // namespace
