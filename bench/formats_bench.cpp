// Loads and saves a 6000 x 4000 24-bit picture in each format, through the
// catalogue's objects. One row of kFormats per format; a format added there
// gets Load/, Save/ and Convert/ (load, then save) benchmarks. GIF has two
// rows: a 24-bit picture (saved as a mosaic of tiles) and a 256-colour
// palette picture, which is what GIF is mostly used for.
//
// With KX_BENCH_DIR set, the picture files are taken from that folder
// (stem + extension, the names bench/compare.sh gives its pictures) and
// the saved files go there too; otherwise a generated picture is written
// to the temporary folder first.
#include <cstdlib>
#include <string>

#include "bench_support.h"

namespace {

struct FormatRow {
    const char* Name;       // benchmark name
    const char* ClassName;  // catalogue class
    const char* Stem;  // input file name without extension
    const char* Extension;
    uint32_t SubFormat;
    bool Palette;                  // an 8-bit palette picture instead of 24 bits
    mutable bool Written = false;  // the generated input file exists
};

const FormatRow kFormats[] = {
    {"BMP", "kxoBMP", "picture", ".bmp", 0, false},
    {"PNM", "kxoPNM", "picture", ".ppm", 0, false},
    {"GIF", "kxoGIF", "picture", ".gif", 0, false},
    {"GIF8", "kxoGIF", "picture8", ".gif", 0, true},
    {"PNG", "kxoPNG", "picture", ".png", 0, false},
};

const uint32_t kWidth = 6000, kHeight = 4000;

std::string folder() {
    const char* dir = getenv("KX_BENCH_DIR");
    return dir && *dir ? std::string(dir) + "/" : std::string(KX_GetProcessTempDir());
}

KX_GfxBuffer* picture() {
    static KX_GfxBuffer* b = [] {
        KX_GfxBuffer* p = kxbench::newPicture(1, kWidth, kHeight, 24);
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

// The same picture reduced to 256 colours (3-3-2 bits), ordered-dithered
// so that neighbouring pixels differ as in a real quantised picture.
KX_GfxBuffer* palettePicture() {
    static KX_GfxBuffer* b = [] {
        KX_GfxBuffer* p = kxbench::newPicture(1, kWidth, kHeight, 8);
        p->ViewMode = 0;
        for (uint32_t i = 0; i < 256; ++i) {
            p->Palette[i * 3] = (uint8_t)((i >> 5) * 255 / 7);
            p->Palette[i * 3 + 1] = (uint8_t)(((i >> 2) & 7) * 255 / 7);
            p->Palette[i * 3 + 2] = (uint8_t)((i & 3) * 255 / 3);
        }
        static const uint8_t bayer[4] = {0, 2, 3, 1};
        const uint8_t* s = picture()->Data;
        uint8_t* d = p->Data;
        for (uint32_t y = 0; y < kHeight; ++y)
            for (uint32_t x = 0; x < kWidth; ++x, s += 3) {
                const uint32_t t = bayer[(x & 1) | (y & 1) << 1] * 8;
                const uint32_t r = (s[0] + t) >> 5 > 7 ? 7 : (s[0] + t) >> 5;
                const uint32_t g = (s[1] + t) >> 5 > 7 ? 7 : (s[1] + t) >> 5;
                const uint32_t bl = (s[2] + 2 * t) >> 6 > 3 ? 3 : (s[2] + 2 * t) >> 6;
                *d++ = (uint8_t)(r << 5 | g << 2 | bl);
            }
        return p;
    }();
    return b;
}

KX_GfxBuffer* pictureFor(const FormatRow& row) { return row.Palette ? palettePicture() : picture(); }

uint32_t save(const FormatRow& row, KX_GfxBuffer* image, const std::string& path) { return kxbench::save(row.ClassName, row.SubFormat, image, path); }

// The file the load benchmarks read: given by the comparison script, or
// written once from the generated picture.
std::string input(const FormatRow& row) {
    std::string path = folder() + row.Stem + row.Extension;
    if (!getenv("KX_BENCH_DIR") && !row.Written) row.Written = save(row, pictureFor(row), path) == KXERR_NONE;
    return path;
}

uint32_t load(const FormatRow& row, const std::string& path, KX_GfxBuffer** out) { return kxbench::load(row.ClassName, path, out); }

void benchLoad(benchmark::State& state, const FormatRow* row) {
    kxbench::loadEachIteration(state, row->ClassName, input(*row));
}

void benchSave(benchmark::State& state, const FormatRow* row) {
    const std::string path = folder() + "saved" + row->Name + row->Extension;
    // The script's own picture when it gives one, so that the other
    // programs save the same pixels.
    KX_GfxBuffer* loaded = nullptr;
    if (getenv("KX_BENCH_DIR") && load(*row, input(*row), &loaded) != KXERR_NONE) {
        state.SkipWithError("load failed");
        return;
    }
    KX_GfxBuffer* image = loaded ? loaded : pictureFor(*row);
    for (auto _ : state)
        if (save(*row, image, path) != KXERR_NONE) {
            state.SkipWithError("save failed");
            break;
        }
    KXSUP_FreeGfxBuffer(loaded);
}

void benchConvert(benchmark::State& state, const FormatRow* row) {
    const std::string in = input(*row), out = folder() + "converted" + row->Name + row->Extension;
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
