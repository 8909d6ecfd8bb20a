// Shared pieces of the front-end core tests: a scripted user interface, a
// scratch directory, module checks and small images.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "frontend/core/kxapp.h"
#include "support/testfiles.h"

namespace kxt {

namespace fs = std::filesystem;

// Records what the core shows and answers questions from a script.
class FakeUI : public KXUserInterface {
public:
    std::vector<std::string> Statuses;
    std::vector<KXStatusLight> Lights;
    std::vector<int> Bars;
    std::vector<std::string> Questions, Messages;
    std::deque<bool> Answers;  // empty: No
    int Previews = 0, Clears = 0, AreaDrops = 0;
    std::function<uint32_t(const char*, KXDecodedImage*)> Decoder;

    std::string Text(const char* key) override { return key; }
    void SetStatus(const std::string& text) override { Statuses.push_back(text); }
    void SetStatusLight(KXStatusLight light) override { Lights.push_back(light); }
    bool AskYesNo(KXMessageKind, const std::string& text) override {
        Questions.push_back(text);
        if (Answers.empty()) return false;
        bool a = Answers.front();
        Answers.pop_front();
        return a;
    }
    void ShowMessage(KXMessageKind, const std::string& text) override { Messages.push_back(text); }
    void SetProgressBar(int value) override { Bars.push_back(value); }
    void UpdatePreview(bool clear) override {
        if (clear) Clears++;
        else Previews++;
        KX_GetGfxBuffer();  // as the window's thumbnail does
    }
    void SetBusyCursor(bool) override {}
    // Each wait for a worker: the status line it began under and the bar
    // it ended with.
    struct Wait {
        std::string Status;
        int Bar = -1;
    };
    std::vector<Wait> Waits;
    void WaitForWorker(const std::function<bool(int)>& poll) override {
        Waits.push_back({Statuses.empty() ? std::string() : Statuses.back()});
        while (!poll(100)) {
        }
        Waits.back().Bar = Bars.empty() ? -1 : Bars.back();
    }
    void AreaDropped() override { AreaDrops++; }
    uint32_t DecodeImage(const char* path, KXDecodedImage* image) override {
        return Decoder ? Decoder(path, image) : 1;
    }
    bool Saw(const std::string& status) const {
        for (auto& s : Statuses)
            if (s == status) return true;
        return false;
    }
};

// A fresh directory under the temporary directory, removed afterwards.
struct ScratchDir {
    fs::path Path;
    ScratchDir() : Path(KXT_NewTempDir((fs::temp_directory_path() / "kxfront-XXXXXX").string())) {}
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(Path, ec);
    }
    std::string operator/(const std::string& name) const { return (Path / name).string(); }
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

inline bool RealFormat(const char* cls) {
    const KXFormatReg* r = KX_FindFormatReg(cls);
    return r && KX_IsBuilt(r->ClassName);
}
inline bool RealOperator(const char* cls) {
    const KXOperatorReg* r = KX_FindOperatorReg(cls);
    return r && KX_IsBuilt(r->ClassName);
}
#define KXT_NEED_FORMAT(cls) \
    if (!kxt::RealFormat(cls)) GTEST_SKIP() << "needs the " cls " module (still a placeholder)"
#define KXT_NEED_OPERATOR(cls) \
    if (!kxt::RealOperator(cls)) GTEST_SKIP() << "needs the " cls " operator (still a placeholder)"

// A binary PPM with pixels from f(x, y, channel).
inline std::string Ppm(uint32_t w, uint32_t h, const std::function<uint8_t(uint32_t, uint32_t, int)>& f) {
    std::string s = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++)
            for (int c = 0; c < 3; c++) s += static_cast<char>(f(x, y, c));
    return s;
}
inline uint8_t Pattern(uint32_t x, uint32_t y, int c) { return static_cast<uint8_t>(x * 7 + y * 13 + c * 50); }

// A chunky buffer of the given depth (8: grey palette) with the pattern.
inline KX_GfxBuffer* MakeBuffer(uint32_t w, uint32_t h, uint32_t depth) {
    uint32_t bpp = depth <= 8 ? 1 : depth / 8;
    KX_GfxBuffer* b = KXT_NewChunkyBuffer(3, w, h, depth);
    if (!b) return nullptr;
    b->ViewMode = KXVIEWMODE_NONE;
    for (int i = 0; i < 256; i++) b->Palette[i * 3] = b->Palette[i * 3 + 1] = b->Palette[i * 3 + 2] = static_cast<uint8_t>(i);
    for (uint32_t i = 0; i < w * h * bpp; i++) b->Data[i] = static_cast<uint8_t>((i * 37) >> (depth <= 8 ? 8 - (depth ? depth : 1) : 0));
    if (depth <= 8)
        for (uint32_t i = 0; i < w * h; i++) b->Data[i] &= static_cast<uint8_t>((1u << depth) - 1);
    return b;
}

inline std::vector<uint8_t> Pixels(const KX_GfxBuffer* b) {
    if (!b || !b->Data) return {};
    return std::vector<uint8_t>(b->Data, b->Data + b->BufferSize);
}

// A started application on scratch directories: its own program directory
// (no pads unless a test writes them), user home and lock directory.
struct AppFixture : ::testing::Test {
    ScratchDir Dir;
    FakeUI UI;
    KXApp* App = nullptr;

    void StartApp(bool threaded = true) {
        fs::create_directories(Dir.Path / "prog");
        KXStartOptions o;
        std::string prog = Dir / "prog", home = Dir / "home", locks = Dir / "locks";
        fs::create_directories(locks);
        // A temporary directory of its own: undo and clipboard files of
        // tests running side by side must not meet.
        fs::create_directories(Dir.Path / "tmp");
        setenv("TMPDIR", (Dir / "tmp").c_str(), 1);
        o.ProgramDir = prog.c_str();
        o.UserHome = home.c_str();
        o.LockDir = locks.c_str();
        App = new KXApp(&UI);
        ASSERT_EQ(App->Startup(o), 0u);
        App->Settings.ThreadedProgress = threaded;
        App->Settings.AutoCM = false;
    }
    void TearDown() override {
        delete App;
        App = nullptr;
    }
    // Writes a PPM and loads it as the current image.
    uint32_t LoadPpm(const std::string& name, uint32_t w, uint32_t h) {
        std::string path = Dir / name;
        WriteFile(path, Ppm(w, h, Pattern));
        return App->LoadFile(path.c_str());
    }
};

}  // namespace kxt
