// Shared by the tests of the modules that read through another program or
// module: the fake converter (tests/faketool) and what it saw, module
// objects with settings, scratch folders, the temporary names the modules
// make, and the real programs as cross-checks.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/extrun.h"
#include "core/kxbridge.h"
#include "core/kxlib.h"
#include "png_helpers.h"
#include "support/testfiles.h"

namespace convtest {

using pngtest::Buffer;
using Settings = std::map<std::string, std::string>;
using Args = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

// Converters start through the application's runner (posix_spawnp).
inline void UseRunner() {
    KX_InstallRunner();
    // Test processes run side by side in one temporary directory: each takes
    // its own instance number, as each running program does, so that their
    // converters' files never meet.
    static const bool own = [] {
        KXClass lib;
        lib.SetInstanceId(static_cast<uint32_t>(getpid()));
        return true;
    }();
    (void)own;
}

inline std::string BinDir() { return KX_GetExecutableDir(); }
inline std::string FakeTool() { return BinDir() + "kxfaketool"; }

inline bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// A scratch folder, removed with everything in it.
struct Scratch {
    std::string Path;
    Scratch() : Path(KXT_NewTempDir(std::string(KX_GetProcessTempDir()) + "conv_XXXXXX")) {}
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(Path, ec);
    }
    std::string operator/(const std::string& name) const { return Path + "/" + name; }
};

// The fake converter for one test: the role it plays and what it writes;
// Calls() returns the argument vectors it was started with.
struct Fake {
    std::string Log;
    Fake(const Scratch& dir, const char* role, const char* mode, const std::string& fixture = "")
        : Log(dir / "fake.log") {
        unlink(Log.c_str());
        setenv("KX_FAKE_ROLE", role, 1);
        setenv("KX_FAKE_LOG", Log.c_str(), 1);
        setenv("KX_FAKE_MODE", mode, 1);
        setenv("KX_FAKE_FIXTURE", fixture.c_str(), 1);
    }
    ~Fake() {
        for (const char* v : {"KX_FAKE_ROLE", "KX_FAKE_LOG", "KX_FAKE_MODE", "KX_FAKE_FIXTURE"}) unsetenv(v);
    }
    void Mode(const char* mode) const { setenv("KX_FAKE_MODE", mode, 1); }
    std::vector<Args> Calls() const {
        std::vector<Args> calls(1);
        std::string text = KXT_ReadFile(Log);
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(start, end - start);
            if (line == "@@end") calls.emplace_back();
            else calls.back().push_back(line);
            start = end + 1;
        }
        calls.pop_back();
        return calls;
    }
};

// A module object with a settings list (none when settings is empty).
template <class T>
struct Module {
    T obj{nullptr};
    std::unique_ptr<KXConfig> cfg;
    Module() = default;
    Module(const Module&) = delete;
    // Preferred for braced lists, so that one {key, value} pair is not
    // taken for a copy.
    Module(std::initializer_list<Settings::value_type> settings, int32_t mode = KXIO_FILE)
        : Module(Settings(settings), mode) {}
    explicit Module(const Settings& settings, int32_t mode = KXIO_FILE) {
        if (!settings.empty()) {
            uint32_t err = 0;
            cfg = std::make_unique<KXConfig>(obj.PadPath, &err);
            for (const auto& [k, v] : settings) cfg->SetValue(k.c_str(), v.c_str());
            obj.SetLocalConfig(cfg->GetPadList());
        }
        if (mode != KXIO_FILE) obj.SetIOMode(mode);
    }
    ~Module() {
        obj.Reset();
        obj.FreeConfig();
    }
    uint32_t Load(const std::string& path = "") {
        obj.SetReadName(path.c_str());
        return obj.Load();
    }
    KX_GfxBuffer* Image() {
        KX_GfxBuffer* b = nullptr;
        obj.GetGfxBuffer(&b);
        return b;
    }
};

// CheckFile of a module on a file of these bytes under this name.
template <class T>
uint32_t Recognises(const Scratch& dir, const std::string& name, const Bytes& bytes, int32_t mode = KXIO_FILE) {
    const std::string path = dir / name;
    if (!KXT_WriteBytes(path, bytes)) return 99;
    FILE* f = fopen(path.c_str(), "rb");
    T m(nullptr);
    uint32_t r = f ? m.CheckFile(f, path.c_str(), mode) : 99;
    if (f) fclose(f);
    unlink(path.c_str());
    return r;
}

inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A module's temporary name: <temp><prefix>_<instance>_<call>.<ext>, both
// numbers in lower-case hexadecimal.
inline bool IsTempName(const std::string& name, const std::string& prefix, const std::string& ext) {
    const std::string temp = KX_GetProcessTempDir();
    const std::string head = temp + prefix + "_", tail = "." + ext;
    if (name.size() <= head.size() + tail.size() || name.compare(0, head.size(), head) != 0 ||
        name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    const std::string numbers = name.substr(head.size(), name.size() - head.size() - tail.size());
    const size_t us = numbers.find('_');
    auto hex = [](const std::string& t) { return !t.empty() && t.find_first_not_of("0123456789abcdef") == std::string::npos; };
    return us != std::string::npos && hex(numbers.substr(0, us)) && hex(numbers.substr(us + 1));
}

// The files of the temporary directory whose names begin with stem.
inline int TempFilesLike(const std::string& stem) {
    const std::string dir = KX_GetProcessTempDir();
    const std::string head = stem.rfind(dir, 0) == 0 ? stem.substr(dir.size()) : stem;
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) n += e.path().filename().string().rfind(head, 0) == 0;
    return n;
}

// The name the next conversion will use: the call number plus one.
inline std::string NextTempName(const std::string& name) {
    const size_t dot = name.rfind('.'), us = name.rfind('_');
    unsigned long call = std::stoul(name.substr(us + 1, dot - us - 1), nullptr, 16);
    char hex[32];
    snprintf(hex, sizeof(hex), "%lx", call + 1);
    return name.substr(0, us + 1) + hex + name.substr(dot);
}

// A small PNG (our writer) and its pixels.
inline Buffer SavePng(const std::string& path, uint32_t w, uint32_t h) {
    Buffer img = pngtest::MakeImage(24, w, h);
    pngtest::Png png;
    EXPECT_EQ(png.Save(img.get(), path), 0u);
    return img;
}

// The RGB triple of pixel (x, y) of a 24-bit or 48-bit (high byte) image.
inline std::vector<int> Pixel(const KX_GfxBuffer* b, uint32_t x, uint32_t y) {
    const size_t i = (size_t)y * b->Width + x;
    if (b->PixelBits == 24) return {b->Data[3 * i], b->Data[3 * i + 1], b->Data[3 * i + 2]};
    if (b->PixelBits == 48) {
        const auto* s = reinterpret_cast<const uint16_t*>(b->Data) + 3 * i;
        return {s[0] >> 8, s[1] >> 8, s[2] >> 8};
    }
    const uint8_t* p = b->Palette + 3 * b->Data[i];
    return {p[0], p[1], p[2]};
}

// Same size, depth and pixel bytes.
inline bool SamePixels(const KX_GfxBuffer* a, const KX_GfxBuffer* b) {
    return a && b && a->Width == b->Width && a->Height == b->Height && a->PixelBits == b->PixelBits &&
           a->BufferSize == b->BufferSize && memcmp(a->Data, b->Data, a->BufferSize) == 0;
}

// Runs a shell command of the test (never the module's way); true on exit 0.
inline bool Shell(const std::string& command) { return system((command + " >/dev/null 2>&1").c_str()) == 0; }

#define CONV_NEED_TOOL(name) \
    if (!KXT_HaveTool(name)) GTEST_SKIP() << name << " is not installed (tools/deps.sh installs it)"

}  // namespace convtest
