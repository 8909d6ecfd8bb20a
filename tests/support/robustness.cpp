// robustness: damaged copies of a fixture through a catalogue reader.
#include "support/robustness.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "core/kxlib.h"

namespace {

// Aborts the process when one load runs too long: a hang must not pass.
class Watchdog {
public:
    Watchdog() : Thread([this] { run(); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(M);
            Stop = true;
        }
        C.notify_all();
        Thread.join();
    }
    void arm(const std::string& what) {
        std::lock_guard<std::mutex> lock(M);
        What = what;
        Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        Armed = true;
        C.notify_all();
    }
    void disarm() {
        std::lock_guard<std::mutex> lock(M);
        Armed = false;
    }

private:
    void run() {
        std::unique_lock<std::mutex> lock(M);
        while (!Stop) {
            if (Armed && std::chrono::steady_clock::now() >= Deadline) {
                fprintf(stderr, "robustness: load hangs on %s\n", What.c_str());
                abort();
            }
            C.wait_for(lock, std::chrono::milliseconds(200));
        }
    }
    std::mutex M;
    std::condition_variable C;
    bool Stop = false, Armed = false;
    std::string What;
    std::chrono::steady_clock::time_point Deadline;
    std::thread Thread;
};

bool writeFile(const std::string& path, const std::vector<uint8_t>& data, size_t length) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = length == 0 || fwrite(data.data(), 1, length, f) == length;
    return fclose(f) == 0 && ok;
}

}  // namespace

bool KXT_ImageIsValid(const KX_GfxBuffer* b, std::string* why) {
    auto no = [&](const char* text) {
        if (why) *why = text;
        return false;
    };
    if (!b) return no("no buffer");
    if (!b->Data) return no("no pixel data");
    if (b->Width == 0 || b->Height == 0) return no("zero width or height");
    uint64_t need = 0;
    if (b->Type == ONEPLANE) {
        if (b->PixelBits != 8 && b->PixelBits != 24 && b->PixelBits != 48) return no("PixelBits not 8, 24 or 48");
        if (b->PixelBits == 8 && (b->ColorDepth < 1 || b->ColorDepth > 8)) return no("8-bit pixels with a depth above 8");
        if (b->PixelBits != 8 && b->ColorDepth != b->PixelBits) return no("ColorDepth does not match PixelBits");
        need = (uint64_t)b->Width * b->Height * (b->PixelBits / 8);
    } else if (b->Type == BITPLANE) {
        if (b->ColorDepth < 1 || b->ColorDepth > 8) return no("bit planes deeper than 8");
        if (b->BytesPerLine < (b->Width + 7ull) / 8) return no("BytesPerLine too small");
        need = (uint64_t)b->BytesPerLine * b->Height * b->ColorDepth;
    } else {
        return no("unknown Type");
    }
    if (b->BufferSize < need) return no("BufferSize smaller than the image");
    volatile uint32_t sum = 0;
    for (uint32_t i = 0; i < b->BufferSize; ++i) sum = sum + b->Data[i];
    // What AlphaData holds follows the core's one rule for several kinds.
    const uint32_t kind = KXSUP_AlphaHolds(b);
    if (kind == KXALPHA_CHANNEL8 || kind == KXALPHA_CHANNEL16 || kind == KXALPHA_MULTICOLOR) {
        if (!b->AlphaData) return no("alpha kind without alpha data");
        uint64_t n = kind == KXALPHA_MULTICOLOR ? 256 : (uint64_t)b->Width * b->Height * (kind == KXALPHA_CHANNEL16 ? 2 : 1);
        const uint8_t* a = static_cast<const uint8_t*>(b->AlphaData);
        for (uint64_t i = 0; i < n; ++i) sum = sum + a[i];
    }
    return true;
}

void KXT_CheckReaderRobustness(const char* className, const std::string& fixture, const KXRobustnessOptions& options) {
    SCOPED_TRACE(std::string(className) + " on " + fixture);
    std::ifstream in(fixture, std::ios::binary);
    ASSERT_TRUE(in.good()) << "fixture missing";
    const std::vector<uint8_t> original((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const KXFormatReg* reg = KX_FindFormatReg(className);
    ASSERT_NE(reg, nullptr) << "no catalogue entry";
    static KXClass* lib = new KXClass();
    KXObject* obj = KX_NewObject(lib, *reg);
    ASSERT_NE(obj, nullptr);
    // A lying header must not make the process allocate gigabytes.
    KXSUP_SetSizeLimit(64u << 20);
    const std::string path = std::string(KX_GetProcessTempDir()) + "robust_" + className + "_" + std::to_string(getpid()) + options.Extension;
    Watchdog dog;

    auto loadOne = [&](const std::vector<uint8_t>& data, size_t length, const std::string& what) -> uint32_t {
        if (!writeFile(path, data, length)) {
            ADD_FAILURE() << "cannot write " << path;
            return KXERR_IO;
        }
        obj->Reset();
        dog.arm(what);
        FILE* f = fopen(path.c_str(), "rb");
        if (f) {
            obj->CheckFile(f, path.c_str(), KXIO_FILE);
            fclose(f);
        }
        obj->SetReadName(path.c_str());
        uint32_t err = obj->Load();
        dog.disarm();
        KX_GfxBuffer* b = nullptr;
        obj->GetGfxBuffer(&b);
        std::string why;
        if (err == KXERR_NONE) {
            if (!KXT_ImageIsValid(b, &why)) ADD_FAILURE() << what << ": loaded an invalid image: " << why;
        } else if (b) {
            ADD_FAILURE() << what << ": error " << err << " but a buffer stayed";
        }
        obj->Reset();
        return err;
    };

    EXPECT_EQ(loadOne(original, original.size(), "the whole fixture"), KXERR_NONE) << "the fixture itself must load";

    const size_t size = original.size();
    size_t step = 1;
    if (size > options.MaxTruncations) step = (size - 512) / (options.MaxTruncations - 512) + 1;
    for (size_t len = 0; len < size; len += (len < 512 ? 1 : step)) loadOne(original, len, "truncated to " + std::to_string(len));

    std::mt19937 rng(options.Seed);
    std::vector<uint8_t> copy;
    for (uint32_t i = 0; i < options.Flips && size > 0; ++i) {
        copy = original;
        uint32_t count = 1 + rng() % 4;
        std::string what = "flip " + std::to_string(i) + ":";
        for (uint32_t k = 0; k < count; ++k) {
            // Most damage where the header is: the first 160 bytes.
            size_t at = (rng() % 3 != 0) ? rng() % (size < 160 ? size : 160) : rng() % size;
            uint8_t x = (uint8_t)(1 + rng() % 255);
            copy[at] ^= x;
            what += " @" + std::to_string(at) + "^" + std::to_string(x);
        }
        loadOne(copy, size, what);
    }
    delete obj;
    unlink(path.c_str());
    KXSUP_ResetSizeLimit();
}
