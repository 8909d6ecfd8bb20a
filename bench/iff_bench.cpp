// The IFF family at picture size: load and save of a 4000 x 3000 image of 24
// and of 48 bits as ILBM (deep planes: the plane <-> chunky transposes
// dominate), RGFX, KGX and DEEP, each stored and packed, of 24 bits as RGB8
// and YUVN, and of an 8-bit palette picture as ACBM and PBM. One row of
// kFormats per format and packing; each gets Load/<name>/<depth> and
// Save/<name>/<depth> for the depths it holds.
//
// With KX_BENCH_DIR set, the picture is the one in that folder:
// "picture24.lbm" and "picture48.lbm", ByteRun1 ILBMs written by another
// program (as bench/compare.sh makes them). ILBM.ByteRun1 loads those very files; every picture
// to save is loaded from them, and every other input file is written there
// once from it. Without it, a generated picture is used and the files go to
// the temporary folder.
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <random>
#include <string>

#include "bench_support.h"

namespace {

enum : uint32_t { kDepth8 = 1, kDepth24 = 2, kDepth48 = 4 };

struct FormatRow {
    const char* Name;       // benchmark name
    const char* ClassName;  // catalogue class
    const char* Extension;
    uint32_t SubFormat;     // index into the class's sub-formats
    uint32_t Depths = kDepth24 | kDepth48;  // the pictures the format holds
};

const FormatRow kFormats[] = {
    {"ILBM.None", "kxoILBM", ".none.lbm", 0},
    {"ILBM.ByteRun1", "kxoILBM", ".lbm", 1},
    {"RGFX.None", "kxoRGFX", ".none.rgx", 0},
    {"RGFX.Zip", "kxoRGFX", ".zip.rgx", 1},
    {"KGX.None", "kxoKGX", ".none.kgx", 2},
    {"KGX.Zlib", "kxoKGX", ".zlib.kgx", 1},
    {"ACBM", "kxoACBM", ".abm", 0, kDepth8},
    {"PBM.None", "kxoPBM", ".none.pbm", 0, kDepth8},
    {"PBM.ByteRun1", "kxoPBM", ".pbm", 1, kDepth8},
    {"RGB8", "kxoRGB8", ".rg8", 0, kDepth24},
    {"DEEP", "kxoDEEP", ".dep", 0},
    {"YUVN", "kxoYUVN", ".yuv", 0, kDepth24},
};
const uint32_t kDepths[] = {8, 24, 48};
const uint32_t kWidth = 4000, kHeight = 3000;

bool givenDir() {
    const char* dir = getenv("KX_BENCH_DIR");
    return dir && *dir;
}

std::string folder() {
    return givenDir() ? std::string(getenv("KX_BENCH_DIR")) + "/" : std::string(KX_GetProcessTempDir()) + "iff_bench_" + std::to_string(getpid()) + "_";
}

std::string fileName(const FormatRow& row, uint32_t depth, const char* stem) { return folder() + stem + std::to_string(depth) + row.Extension; }

uint32_t load(const FormatRow& row, const std::string& path, KX_GfxBuffer** out) { return kxbench::load(row.ClassName, path, out); }

uint32_t save(const FormatRow& row, KX_GfxBuffer* image, const std::string& path) { return kxbench::save(row.ClassName, row.SubFormat, image, path); }

KX_GfxBuffer* generated(uint32_t depth) {
    KX_GfxBuffer* b = kxbench::newPicture(1, kWidth, kHeight, depth);
    if (!b) return nullptr;
    std::mt19937 rng(1);
    for (uint32_t i = 0; i < b->BufferSize; ++i) b->Data[i] = uint8_t((i / 7) ^ (rng() & 3));
    // The 8-bit picture is a palette picture over a colour ramp.
    if (depth == 8)
        for (uint32_t c = 0; c < 256; ++c) b->Palette[3 * c] = b->Palette[3 * c + 1] = b->Palette[3 * c + 2] = uint8_t(c);
    return b;
}

// The picture of one depth, made or loaded when first asked for, so that a
// single benchmark run (for its peak memory) holds only what it needs.
KX_GfxBuffer* picture(uint32_t depth) {
    static std::map<uint32_t, KX_GfxBuffer*> pictures;
    auto it = pictures.find(depth);
    if (it != pictures.end()) return it->second;
    KX_GfxBuffer* b = nullptr;
    if (givenDir() && depth != 8) {
        if (load(kFormats[1], fileName(kFormats[1], depth, "picture"), &b) != KXERR_NONE) b = nullptr;
    } else {
        b = generated(depth);
    }
    pictures[depth] = b;
    return b;
}

// 48-bit samples are swapped to big-endian in place by some savers; every
// timed save starts from the order a load hands over.
void hostOrder(KX_GfxBuffer* b) {
    if (b->ColorDepth == 48) KXSUP_ConvertGfxBufferEndianess(b, KXENDIAN_LITTLE);
}

// Files made in the temporary folder go when the run ends; those in the
// given folder are the script's.
void removeAtExit(const std::string& path) {
    static struct Files {
        std::map<std::string, bool> Paths;
        ~Files() {
            for (auto& p : Paths) unlink(p.first.c_str());
        }
    } files;
    if (!givenDir()) files.Paths[path] = true;
}

// The file a load benchmark reads: the given ByteRun1 ILBM, or one written
// once from the picture.
std::string input(const FormatRow& row, uint32_t depth) {
    static std::map<std::string, bool> written;
    const bool given = givenDir() && &row == &kFormats[1];
    const std::string path = fileName(row, depth, given ? "picture" : "input");
    if (!given && !written[path]) {
        KX_GfxBuffer* b = picture(depth);
        written[path] = b && save(row, b, path) == KXERR_NONE;
        if (b) hostOrder(b);
        removeAtExit(path);
    }
    return path;
}

void benchLoad(benchmark::State& state, const FormatRow* row, uint32_t depth) {
    kxbench::loadEachIteration(state, row->ClassName, input(*row, depth));
    state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * depth / 8);
}

void benchSave(benchmark::State& state, const FormatRow* row, uint32_t depth) {
    KX_GfxBuffer* image = picture(depth);
    if (!image) {
        state.SkipWithError("no picture");
        return;
    }
    const std::string path = fileName(*row, depth, "saved");
    for (auto _ : state) {
        state.PauseTiming();
        hostOrder(image);
        state.ResumeTiming();
        if (save(*row, image, path) != KXERR_NONE) {
            state.SkipWithError("save failed");
            break;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * depth / 8);
    hostOrder(image);
    removeAtExit(path);
}

[[maybe_unused]] const bool kRegistered = [] {
    for (const FormatRow& row : kFormats)
        for (uint32_t depth : kDepths) {
            if (!(row.Depths & (depth == 8 ? kDepth8 : depth == 24 ? kDepth24 : kDepth48))) continue;
            const std::string tail = std::string(row.Name) + "/" + std::to_string(depth);
            benchmark::RegisterBenchmark(("Load/" + tail).c_str(), benchLoad, &row, depth)->Unit(benchmark::kMillisecond)->UseRealTime();
            benchmark::RegisterBenchmark(("Save/" + tail).c_str(), benchSave, &row, depth)->Unit(benchmark::kMillisecond)->UseRealTime();
        }
    return true;
}();

}  // namespace
