// The working core end to end: start-up and shut-down, the load chain,
// operators through the dispatcher with progress, undo, the automatic
// conversions, the area road, saving and colour profiles.
#include <sys/wait.h>

#include <chrono>
#include <thread>
#include <typeinfo>

#include "core/colour.h"
#include "frontend_support.h"
#include "operators/kxpFrame.h"

using namespace kxt;

namespace {
// Stands in for an operator that takes only one depth: any other source
// gives the scripted code; a fitting one gives a copy with inverted bytes.
class DepthOp : public KXOperator {
public:
    uint32_t Want, Code;
    int Runs = 0;
    DepthOp(uint32_t want, uint32_t code) : KXOperator(static_cast<KXClass*>(nullptr)), Want(want), Code(code) {}
    ~DepthOp() override { DepthOp::Reset(); }
    void Reset() override {
        KXSUP_FreeGfxBuffer(Result);
        Result = nullptr;
    }
    uint32_t OperateTagList(KX_GfxBuffer* s, KX_GfxBuffer** r, const TagItem*) override {
        Runs++;
        bool fits = Want <= 8 ? s->ColorDepth <= 8 : s->ColorDepth == Want;
        if (!fits) return Code;
        KXProgress p{0, 50};
        if (ProgressHook) ProgressHook(&p, ProgressUser);
        uint32_t e = KXSUP_CopyGfxBuffer(s, &Result, 1, MEMF_ANY);
        if (e) return e;
        for (uint32_t i = 0; i < Result->BufferSize; i++) Result->Data[i] = static_cast<uint8_t>(~Result->Data[i]);
        *r = Result;
        return 0;
    }
    uint32_t DetachResult(KX_GfxBuffer** b) override {
        *b = Result;
        Result = nullptr;
        return *b ? 0u : static_cast<uint32_t>(KXERR_INTERNALACCESS);
    }
    uint32_t SetProgress(KXProgressHook h, uintptr_t u) override {
        ProgressHook = h;
        ProgressUser = u;
        return 0;
    }
};

// Puts a stand-in into the operator table for one test.
struct TableSlot {
    uint32_t Number;
    KXOperator* Saved;
    TableSlot(uint32_t n, KXOperator* op) : Number(n), Saved(kxpAction[n]) { kxpAction[n] = op; }
    ~TableSlot() {
        if (Saved) kxpAction[Number] = Saved;
    }
};

constexpr uint32_t kSpare = 60;  // a table slot the tests borrow
}  // namespace

// ---- start-up and shut-down --------------------------------------------------------------

TEST_F(AppFixture, StartupTakesFreeInstanceNumbersAndShutdownReleasesThem) {
    StartApp();
    EXPECT_EQ(App->InstanceNumber, 0u);
    EXPECT_EQ(App->AtomName, "Kaxon5-0");
    EXPECT_TRUE(fs::is_directory(App->EnvDir));
    EXPECT_EQ(App->EnvDir, (Dir / "home") + "/ENV/Kaxon5-Library/");
    EXPECT_EQ(App->EnvArcDir, (Dir / "prog") + "/ENV/Kaxon5-Library/");
    EXPECT_EQ(KX_TableLength(kxpAction), 62);
    EXPECT_EQ(KX_TableLength(kxoRead), 54);
    EXPECT_EQ(KX_TableLength(kxoWrite), 39);

    // Another process takes the next number while this one holds 0; once
    // this one has ended, 0 is free again (no stale numbers).
    auto childNumber = [&]() {
        pid_t pid = fork();
        if (pid == 0) {
            FakeUI ui;
            KXApp other(&ui);
            KXStartOptions o;
            std::string prog = Dir / "prog", home = Dir / "home", locks = Dir / "locks";
            o.ProgramDir = prog.c_str();
            o.UserHome = home.c_str();
            o.LockDir = locks.c_str();
            other.Startup(o);
            _exit(static_cast<int>(other.InstanceNumber));
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WEXITSTATUS(status);
    };
    EXPECT_EQ(childNumber(), 1);
    std::string clip = App->ClipFileName(0);
    WriteFile(clip, "x");
    App->Shutdown();
    EXPECT_FALSE(fs::exists(clip));
    EXPECT_EQ(childNumber(), 0);
}

TEST_F(AppFixture, SettingsPadAndLogAtStartup) {
    WriteFile(Dir / "home/ENV/Kaxon5-Library/Kaxon5.controlpad", "UNDO=NO\nLOGFILE=YES\nLOGLEVEL=42\nSAVE_FORMAT=BMP\n");
    StartApp();
    EXPECT_FALSE(App->Settings.Undo);
    EXPECT_EQ(App->Settings.SaveFormat, 0);
    ASSERT_NE(__kxlib_log_global, nullptr);
    EXPECT_EQ(__kxlib_log_global->Level, 9u);
    std::string logPath = __kxlib_log_global->GetPath() ? __kxlib_log_global->GetPath() : "";
    App->Status("hello");
    __kxlib_log_global->Flush();
    std::ifstream f(logPath);
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("rootpath " + (Dir / "prog")), std::string::npos);
    EXPECT_NE(text.find("Atom: 'Kaxon5-0'"), std::string::npos);
    EXPECT_NE(text.find("status changed: 'hello'"), std::string::npos);
    App->Shutdown();
    EXPECT_EQ(__kxlib_log_global, nullptr);
}

// The program's setting raises the library's size limit at start-up.
TEST_F(AppFixture, BufferSizeSettingRaisesTheLibraryLimit) {
    KXSUP_ResetSizeLimit();
    WriteFile(Dir / "home/ENV/Kaxon5-Library/Kaxon5.controlpad", "MAX_BUFFER_MB=3072\n");
    StartApp();
    EXPECT_EQ(App->Settings.MaxBufferMB, 3072);
    EXPECT_EQ(KXSUP_GetSizeLimit(), 3072u << 20);
    App->Shutdown();
    KXSUP_ResetSizeLimit();
}

// A lower setting lowers the limit, unless the environment variable sets one.
TEST_F(AppFixture, BufferSizeSettingLowersTheLibraryLimitUnlessTheEnvironmentSetsIt) {
    struct Case {
        const char* env;  // null: unset
        uint32_t limit;
    } cases[] = {{nullptr, 64u << 20}, {"32M", 32u << 20}};
    for (const Case& c : cases) {
        if (c.env)
            setenv(KAXON5_MAX_BUFFER_ENV, c.env, 1);
        else
            unsetenv(KAXON5_MAX_BUFFER_ENV);
        KXSUP_ResetSizeLimit();
        WriteFile(Dir / "home/ENV/Kaxon5-Library/Kaxon5.controlpad", "MAX_BUFFER_MB=64\n");
        StartApp();
        EXPECT_EQ(App->Settings.MaxBufferMB, 64);
        EXPECT_EQ(KXSUP_GetSizeLimit(), c.limit) << (c.env ? c.env : "unset");
        App->Shutdown();
        delete App;
        App = nullptr;
    }
    unsetenv(KAXON5_MAX_BUFFER_ENV);
    KXSUP_ResetSizeLimit();
}

TEST_F(AppFixture, UnusableLockDirectoryGivesWayAndCommandLineFileSetsAutoView) {
    fs::create_directories(Dir.Path / "tmp");
    setenv("TMPDIR", (Dir / "tmp").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (Dir / "no-such-run").c_str(), 1);
    std::string prog = Dir / "prog", home = Dir / "home", locks = Dir / "no-such-locks";
    fs::create_directories(prog);
    KXStartOptions o;
    o.ProgramDir = prog.c_str();
    o.UserHome = home.c_str();
    o.LockDir = locks.c_str();
    // A file on the command line switches AutoView on whatever the pad says.
    o.FileOnCommandLine = true;
    WriteFile(home + "/ENV/Kaxon5-Library/Kaxon5.controlpad", "AUTOVIEW=NO\n");
    App = new KXApp(&UI);
    ASSERT_EQ(App->Startup(o), 0u);
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_TRUE(App->Settings.AutoView);
    EXPECT_EQ(App->InstanceNumber, 0u);
    EXPECT_EQ(App->AtomName, "Kaxon5-0");
    // The library's private folder under TMPDIR holds them.
    const std::string temp = (Dir / "tmp/kaxon5-") + std::to_string(getuid()) + "/";
    EXPECT_TRUE(fs::exists(temp + "Kaxon5-0"));
    EXPECT_EQ(App->UndoFileName(3), temp + "undoKaxon5-0_3.tmp");
    EXPECT_EQ(App->ClipFileName(0), temp + "clipKaxon5-0-0.tmp");
}

// ---- loading ------------------------------------------------------------------------------

TEST_F(AppFixture, FileIsLoadedByTheFirstReaderThatKnowsIt) {
    KXT_NEED_FORMAT("kxoPNM");
    StartApp();
    ASSERT_EQ(LoadPpm("a.ppm", 6, 5), 0u);
    // The first reader of the table that answers 1 is the one used.
    std::string path = Dir / "a.ppm";
    int first = -1;
    for (int i = 0; kxoRead[i] && first < 0; i++) {
        FILE* f = fopen(path.c_str(), "rb");
        if (kxoRead[i]->CheckFile(f, path.c_str(), 1) == 1) first = i;
        fclose(f);
    }
    // Read by an object of that reader's class (the table's own object
    // keeps no picture, so a failed open cannot cost the current one).
    ASSERT_GE(first, 0);
    ASSERT_NE(objr, nullptr);
    EXPECT_STREQ(objr->FormatName, kxoRead[first]->FormatName);
    EXPECT_EQ(typeid(*objr), typeid(*kxoRead[first]));
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->Width, 6u);
    EXPECT_EQ(img->ColorDepth, 24u);
    EXPECT_EQ(img->Data[3 * 7 + 1], Pattern(1, 1, 1));
    EXPECT_EQ(App->LastFile, "a.ppm");
    EXPECT_TRUE(UI.Saw("TXT_LOADING"));
    EXPECT_EQ(UI.Statuses.back(), "TXT_DONE");
    EXPECT_EQ(UI.Lights.back(), KXStatusLight::Green);
}

TEST_F(AppFixture, PlatformDecoderTakesOverUnknownFiles) {
    StartApp();
    uint8_t alpha = 255;
    UI.Decoder = [&](const char*, KXDecodedImage* img) {
        img->Format = "TEST";
        img->Width = 3;
        img->Height = 2;
        img->Stride = 16;  // padded rows
        img->Pixels.assign(32, 0);
        for (uint32_t y = 0; y < 2; y++)
            for (uint32_t x = 0; x < 3; x++) {
                uint8_t* p = &img->Pixels[y * 16 + x * 4];
                p[0] = 10 + x;  // blue
                p[1] = 20 + y;  // green
                p[2] = 30;      // red
                p[3] = (x == 2 && y == 1) ? alpha : 255;
            }
        return 0u;
    };
    std::string path = Dir / "picture.unknown";
    WriteFile(path, "not an image any reader knows");
    for (uint8_t a : {255, 254}) {
        alpha = a;
        ASSERT_EQ(App->LoadFile(path.c_str()), 0u);
        KX_GfxBuffer* img = KX_GetGfxBuffer();
        ASSERT_NE(img, nullptr);
        EXPECT_EQ(img->Version, 3u);
        EXPECT_EQ(img->ColorDepth, 24u);
        EXPECT_EQ(objr, kxoRead[0]);
        EXPECT_EQ(App->DecoderFormat, "TEST");  // the information line's format name
        const uint8_t want[] = {30, 20, 10, 30, 20, 11, 30, 20, 12, 30, 21, 10, 30, 21, 11, 30, 21, 12};
        EXPECT_EQ(Pixels(img), std::vector<uint8_t>(want, want + 18));
        if (a == 255) {
            EXPECT_EQ(img->AlphaType, 0u);
            EXPECT_EQ(img->AlphaData, nullptr);
        } else {
            ASSERT_EQ(img->AlphaType, static_cast<uint32_t>(KXALPHA_CHANNEL8));
            EXPECT_EQ(KXSUP_AlphaBytes(img)[5], 254);
            EXPECT_EQ(KXSUP_AlphaBytes(img)[0], 255);
        }
    }
    EXPECT_TRUE(UI.Saw("TXT_ERROR_LOADING: " + std::string(KXL_GetErrorString(1))));
    EXPECT_EQ(UI.Statuses.back(), "TXT_DONE");

    // Such an image saves and gets undo steps like any other.
    if (RealFormat("kxoPNM")) {
        std::string out = Dir / "decoded.ppm";
        EXPECT_EQ(App->SaveFile(out.c_str(), KXWRITER_PNG + 1, 0), 0u);
        EXPECT_TRUE(fs::exists(out));
    }
    if (RealFormat("kxoRGFX")) {
        DepthOp op(24, KXERR_NEED24BIT);
        TableSlot slot(kSpare, &op);
        EXPECT_EQ(App->DoOperation(nullptr, kSpare), 0u);
        EXPECT_EQ(App->UndoCount, 1u);
        EXPECT_EQ(App->Undo(), 0u);
        EXPECT_EQ(KX_GetGfxBuffer()->Data[0], 30);
    }
    UI.Decoder = nullptr;
    EXPECT_EQ(App->LoadFile(path.c_str()), 1u);
}

TEST_F(AppFixture, GhostscriptRendersAPostScriptPage) {
    KXT_NEED_FORMAT("kxoPNG");
    StartApp();
    std::string ps = Dir / "page.ps";
    WriteFile(ps,
              "%!PS-Adobe-3.0\n%%BoundingBox: 0 0 612 792\n<< /PageSize [144 72] >> setpagedevice\n"
              "1 0 0 setrgbcolor 0 0 72 72 rectfill showpage\n");
    if (_system("gs", nullptr, std::vector<const char*>{"-v", nullptr}.data()) != 0)
        GTEST_SKIP() << "needs Ghostscript (package ghostscript)";
    ASSERT_EQ(App->LoadPS(ps.c_str(), "gs", 36), 0u);
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->Width, 72u);  // 2 x 1 inch at 36 dpi
    EXPECT_EQ(img->Height, 36u);
    EXPECT_EQ(img->ColorDepth, 24u);
    // Left half red, right half white (rows are top-down).
    const uint8_t* row = img->Data + 18 * 72 * 3;
    EXPECT_EQ(row[10 * 3], 255);
    EXPECT_EQ(row[10 * 3 + 1], 0);
    EXPECT_EQ(row[60 * 3 + 1], 255);
    EXPECT_EQ(App->LastFile, "page.ps");
    EXPECT_EQ(App->LoadPS(ps.c_str(), "kaxon5-no-such-interpreter", 72), 1u);
}

// ---- operators, progress and undo --------------------------------------------------------

TEST_F(AppFixture, OperatorRunsWithProgressThreadedOrNot) {
    KXT_NEED_FORMAT("kxoPNM");
    for (bool threaded : {true, false}) {
        StartApp(threaded);
        App->Settings.Undo = false;
        ASSERT_EQ(LoadPpm("p.ppm", 8, 4), 0u);
        std::vector<uint8_t> before = Pixels(KX_GetGfxBuffer());
        DepthOp op(24, KXERR_NEED24BIT);
        TableSlot slot(kSpare, &op);
        UI.Bars.clear();
        EXPECT_EQ(App->DoOperation(nullptr, kSpare), 0u);
        KX_GfxBuffer* img = KX_GetGfxBuffer();
        EXPECT_EQ(img->Data[0], static_cast<uint8_t>(~before[0]));
        EXPECT_TRUE(App->Modified);
        EXPECT_EQ(oper, nullptr);
        EXPECT_EQ(kx_update_progress.load(), 2);
        EXPECT_EQ(kx_value_progress.load(), 100);
        EXPECT_EQ(UI.Statuses.back(), "TXT_OPERATION_SUCCESS");
        if (threaded) {
            EXPECT_NE(std::find(UI.Bars.begin(), UI.Bars.end(), 50), UI.Bars.end());
        }
        App->Tasks.PollProgress();
        EXPECT_EQ(App->Tasks.BarValue(), 100);
        kxpAction[kSpare] = slot.Saved;  // before the table goes
        slot.Saved = nullptr;
        delete App;
        App = nullptr;
    }
}

TEST_F(AppFixture, EveryRunLeavesAnUndoFileAndUndoRestoresPixelsAndMetadata) {
    KXT_NEED_FORMAT("kxoPNM");
    KXT_NEED_FORMAT("kxoRGFX");
    StartApp();
    ASSERT_EQ(LoadPpm("u.ppm", 7, 5), 0u);
    ASSERT_EQ(KX_CreateMetaData(), 0u);
    KXOSpecialInfo* meta = KX_GetMetaDataCheck(0);
    ASSERT_NE(meta, nullptr);
    meta->Anno = static_cast<char*>(AllocVec(8, MEMF_CLEAR));
    strcpy(meta->Anno, "first");
    DepthOp op(24, KXERR_NEED24BIT);
    TableSlot slot(kSpare, &op);
    std::vector<std::vector<uint8_t>> states{Pixels(KX_GetGfxBuffer())};
    const int n = 3;
    for (int i = 0; i < n; i++) {
        ASSERT_EQ(App->DoOperation(nullptr, kSpare), 0u);
        states.push_back(Pixels(KX_GetGfxBuffer()));
    }
    EXPECT_EQ(App->UndoCount, static_cast<uint32_t>(n));
    for (int i = 0; i < n; i++) EXPECT_TRUE(fs::exists(App->UndoFileName(i))) << i;
    for (int i = n - 1; i >= 0; i--) {
        ASSERT_EQ(App->Undo(), 0u);
        EXPECT_EQ(Pixels(KX_GetGfxBuffer()), states[i]) << i;
        KXOSpecialInfo* r = KX_GetMetaData();
        ASSERT_NE(r, nullptr);
        EXPECT_STREQ(r->Anno, "first");
        EXPECT_FALSE(fs::exists(App->UndoFileName(i)));
    }
    EXPECT_TRUE(App->Undone);
    EXPECT_NE(App->Undo(), 0u);
    EXPECT_EQ(UI.Statuses.back(), "TXT_ERROR TXT_NO_UNDO");
}

TEST_F(AppFixture, UndoLimitStartsTheStackAgain) {
    KXT_NEED_FORMAT("kxoPNM");
    KXT_NEED_FORMAT("kxoRGFX");
    StartApp();
    App->Settings.UndoLimit = true;
    App->Settings.UndoMax = 3;
    ASSERT_EQ(LoadPpm("l.ppm", 4, 4), 0u);
    DepthOp op(24, KXERR_NEED24BIT);
    TableSlot slot(kSpare, &op);
    std::vector<uint8_t> beforeFourth;
    for (int i = 0; i < 4; i++) {
        if (i == 3) beforeFourth = Pixels(KX_GetGfxBuffer());
        ASSERT_EQ(App->DoOperation(nullptr, kSpare), 0u);
    }
    EXPECT_TRUE(UI.Saw("TXT_UNDO_LIMIT_REACHED"));
    EXPECT_EQ(App->UndoCount, 1u);
    EXPECT_FALSE(fs::exists(App->UndoFileName(1)));
    EXPECT_FALSE(fs::exists(App->UndoFileName(2)));
    ASSERT_EQ(App->Undo(), 0u);
    EXPECT_EQ(Pixels(KX_GetGfxBuffer()), beforeFourth);
    App->SetUndoActive(false);
    EXPECT_EQ(App->UndoCount, 0u);
}

TEST_F(AppFixture, UndoCompressionFactorReachesTheWriter) {
    KXT_NEED_FORMAT("kxoPNM");
    KXT_NEED_FORMAT("kxoRGFX");
    StartApp();
    // A plain image compresses well: level 0 (stored) is much larger than 9.
    std::string path = Dir / "flat.ppm";
    WriteFile(path, Ppm(64, 64, [](uint32_t x, uint32_t, int) { return static_cast<uint8_t>(x / 8); }));
    ASSERT_EQ(App->LoadFile(path.c_str()), 0u);
    DepthOp op(24, KXERR_NEED24BIT);
    TableSlot slot(kSpare, &op);
    auto sizeAt = [&](bool compress, int level) {
        App->Settings.UndoCompress = compress;
        App->Settings.UndoCompressLevel = level;
        uint32_t step = App->UndoCount;
        EXPECT_EQ(App->DoOperation(nullptr, kSpare), 0u);
        return fs::file_size(App->UndoFileName(step));
    };
    uintmax_t plain = sizeAt(false, 9), stored = sizeAt(true, 0), best = sizeAt(true, 9);
    EXPECT_GT(plain, 64u * 64 * 3);
    EXPECT_LT(best * 4, stored);
    for (int i = 2; i >= 0; i--) EXPECT_EQ(App->Undo(), 0u);  // each reads back
}

TEST_F(AppFixture, FailedUndoKeepsTheImageAndTheStep) {
    KXT_NEED_FORMAT("kxoPNM");
    KXT_NEED_FORMAT("kxoRGFX");
    StartApp();
    ASSERT_EQ(LoadPpm("f.ppm", 5, 5), 0u);
    DepthOp op(24, KXERR_NEED24BIT);
    TableSlot slot(kSpare, &op);
    ASSERT_EQ(App->DoOperation(nullptr, kSpare), 0u);
    std::string file = App->UndoFileName(0);
    std::string good;
    {
        std::ifstream f(file, std::ios::binary);
        good.assign((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    }
    KX_GfxBuffer* current = KX_GetGfxBuffer();
    std::vector<uint8_t> pixels = Pixels(current);
    for (size_t cut : {good.size() / 2, size_t(6)}) {
        WriteFile(file, good.substr(0, cut));
        EXPECT_NE(App->Undo(), 0u);
        EXPECT_EQ(KX_GetGfxBuffer(), current);
        EXPECT_EQ(Pixels(KX_GetGfxBuffer()), pixels);
        EXPECT_EQ(App->UndoCount, 1u);
        ASSERT_FALSE(UI.Messages.empty());
        EXPECT_EQ(UI.Messages.back(), "TXT_ERROR_UNDO_FAILED");
    }
    WriteFile(file, good);  // the retry reads the same file
    EXPECT_EQ(App->Undo(), 0u);
    EXPECT_EQ(App->UndoCount, 0u);
}

namespace {
// The record's fields, for setting every one and comparing them one by one
// (SubFormat and Unlinked describe the reader and the copy, not the picture).
struct TextField {
    const char* Name;
    char* KXOSpecialInfo::*Field;
};
const TextField kTextFields[] = {{"Anno", &KXOSpecialInfo::Anno},   {"Auth", &KXOSpecialInfo::Auth},
                                 {"Copy", &KXOSpecialInfo::Copy},   {"Name", &KXOSpecialInfo::Name},
                                 {"More1", &KXOSpecialInfo::More1}, {"More2", &KXOSpecialInfo::More2},
                                 {"More3", &KXOSpecialInfo::More3}, {"More4", &KXOSpecialInfo::More4},
                                 {"IccName", &KXOSpecialInfo::IccName}, {"Compression", &KXOSpecialInfo::Compression}};
struct BlockField {
    const char* Name;
    uint8_t* KXOSpecialInfo::*Data;
    uint32_t KXOSpecialInfo::*Size;
};
const BlockField kBlockFields[] = {{"Exif", &KXOSpecialInfo::Exif, &KXOSpecialInfo::ExifSize},
                                   {"Iptc", &KXOSpecialInfo::Iptc, &KXOSpecialInfo::IptcSize},
                                   {"Xmp0", &KXOSpecialInfo::Xmp0, &KXOSpecialInfo::Xmp0Size},
                                   {"Xmp1", &KXOSpecialInfo::Xmp1, &KXOSpecialInfo::Xmp1Size},
                                   {"IccData", &KXOSpecialInfo::IccData, &KXOSpecialInfo::IccSize}};
struct WordField {
    const char* Name;
    uint32_t KXOSpecialInfo::*Field;
};
const WordField kWordFields[] = {{"Version", &KXOSpecialInfo::Version},
                                 {"IccType", &KXOSpecialInfo::IccType},
                                 {"SRGBIntent", &KXOSpecialInfo::SRGBIntent},
                                 {"Orientation", &KXOSpecialInfo::Orientation}};

uint8_t* Block(const std::string& bytes) {
    auto* b = static_cast<uint8_t*>(AllocVec(bytes.size(), MEMF_ANY));
    memcpy(b, bytes.data(), bytes.size());
    return b;
}

// Every field set, each to a value of its own (the GPS summary in a "More"
// text, as the JPEG reader writes it).
void FillRecord(KXOSpecialInfo* r) {
    for (const TextField& t : kTextFields) {
        std::string text = std::string(t.Name) + " text";
        if (t.Field == &KXOSpecialInfo::More2) text = "GPS 48.1484N 11.5753W";
        r->*t.Field = reinterpret_cast<char*>(Block(text + '\0'));
    }
    const std::string iptc = std::string("Photoshop 3.0\0" "8BIM\x04\x04\0\0\0\0\0\x05", 26) + std::string("\x1c\x02\x05\0\0", 5);
    const std::string blocks[] = {std::string("Exif\0\0MM\0\x2a", 10), iptc, "<x:xmpmeta>0</x:xmpmeta>",
                                  "<x:xmpmeta>1</x:xmpmeta>", std::string("\0\0\x01\x02icc", 7)};
    for (size_t i = 0; i < std::size(kBlockFields); i++) {
        r->*kBlockFields[i].Data = Block(blocks[i]);
        r->*kBlockFields[i].Size = static_cast<uint32_t>(blocks[i].size());
    }
    r->Version = 1;
    r->IccType = 3;
    r->SRGBIntent = 2;
    r->Orientation = 6;
}

void ExpectSameRecord(const KXOSpecialInfo* want, const KXOSpecialInfo* got) {
    ASSERT_NE(got, nullptr);
    for (const TextField& t : kTextFields) {
        ASSERT_NE(got->*t.Field, nullptr) << t.Name;
        EXPECT_STREQ(got->*t.Field, want->*t.Field) << t.Name;
    }
    for (const BlockField& b : kBlockFields) {
        ASSERT_EQ(got->*b.Size, want->*b.Size) << b.Name;
        ASSERT_NE(got->*b.Data, nullptr) << b.Name;
        EXPECT_EQ(memcmp(got->*b.Data, want->*b.Data, want->*b.Size), 0) << b.Name;
    }
    for (const WordField& w : kWordFields) EXPECT_EQ(got->*w.Field, want->*w.Field) << w.Name;
}
}  // namespace

// An undo step carries the whole record back, field for field, whether or
// not files are opened with their metadata.
TEST_F(AppFixture, UndoBringsBackEveryFieldOfTheRecord) {
    KXT_NEED_FORMAT("kxoPNM");
    KXT_NEED_FORMAT("kxoRGFX");
    StartApp();
    DepthOp op(24, KXERR_NEED24BIT);
    TableSlot slot(kSpare, &op);
    for (bool metaLoad : {true, false}) {
        for (bool compress : {false, true}) {
            SCOPED_TRACE(std::string(metaLoad ? "META_LOAD " : "") + (compress ? "compressed" : "uncompressed"));
            App->Settings.MetaLoad = metaLoad;
            App->Settings.UndoCompress = compress;
            ASSERT_EQ(LoadPpm("r.ppm", 6, 4), 0u);
            ASSERT_EQ(KX_CreateMetaData(), 0u);
            FillRecord(KX_GetMetaDataCheck(0));
            KXOSpecialInfo* want = nullptr;
            ASSERT_EQ(KX_CloneMetaData(KX_GetMetaDataCheck(0), &want), 0u);
            ASSERT_EQ(App->DoOperation(nullptr, kSpare), 0u);
            ASSERT_EQ(App->Undo(), 0u);
            ExpectSameRecord(want, KX_GetMetaData());
            KX_FreeMetaData(want);
        }
    }
}

// The undo step is written, and read back, as a library task: on the worker
// while the window waits, with the writer's and reader's progress reaching
// the bar.
TEST_F(AppFixture, UndoStepsAreWrittenAndRestoredOnTheWorker) {
    KXT_NEED_FORMAT("kxoPNM");
    KXT_NEED_FORMAT("kxoRGFX");
    StartApp();
    ASSERT_EQ(LoadPpm("w.ppm", 9, 5), 0u);
    DepthOp op(24, KXERR_NEED24BIT);
    TableSlot slot(kSpare, &op);
    for (bool compress : {false, true}) {
        SCOPED_TRACE(compress ? "compressed" : "uncompressed");
        App->Settings.UndoCompress = compress;
        UI.Waits.clear();
        ASSERT_EQ(App->DoOperation(nullptr, kSpare), 0u);
        ASSERT_EQ(UI.Waits.size(), 2u);  // the undo step, then the operator
        EXPECT_EQ(UI.Waits[0].Status, "TXT_UNDO_PREPARE_BUFFER");
        EXPECT_EQ(UI.Waits[0].Bar, 100);
        EXPECT_EQ(UI.Waits[1].Status, "TXT_UNDO_PREPARE_BUFFER_DONE");
        UI.Waits.clear();
        ASSERT_EQ(App->Undo(), 0u);
        ASSERT_EQ(UI.Waits.size(), 1u);
        EXPECT_EQ(UI.Waits[0].Status, "TXT_UNDO_RESTORING");
        EXPECT_EQ(UI.Waits[0].Bar, 100);
        EXPECT_EQ(UI.Lights.back(), KXStatusLight::Green);
    }
}

TEST_F(AppFixture, NothingToOperateOnChangesNothing) {
    StartApp();
    DepthOp op(24, KXERR_NEED24BIT);
    TableSlot slot(kSpare, &op);
    EXPECT_EQ(App->DoOperation(nullptr, kSpare), 0u);
    EXPECT_EQ(op.Runs, 0);
    EXPECT_EQ(App->UndoCount, 0u);
    EXPECT_FALSE(App->Modified);
    EXPECT_EQ(App->Dither24Bit(8, 0), static_cast<uint32_t>(KXERR_NOVIEWABLEDATA));
}

// ---- automatic conversions ---------------------------------------------------------------

TEST_F(AppFixture, AutomaticDepthConversions) {
    KXT_NEED_OPERATOR("kxpAnyTo24Bit");
    KXT_NEED_OPERATOR("kxpAnyTo48Bit");
    KXT_NEED_OPERATOR("kxpDither24Bit");
    struct Row {
        uint32_t start, want, code;
        bool autoConv, autoConv8, answer;
        uint32_t result;        // the dispatcher's final code
        uint32_t finalDepth;    // depth of the current image afterwards
        int runs;               // runs of the stand-in operator
        const char* question;   // asked, or null
    } rows[] = {
        {8, 24, KXERR_NEED24BIT, true, false, false, 0, 24, 2, nullptr},
        {24, 48, KXERR_NEED48BIT, true, false, false, 0, 48, 2, nullptr},
        {8, 24, KXERR_NEED24BIT, false, true, false, KXERR_NEED24BIT, 8, 1, nullptr},
        {24, 8, KXERR_NO24BIT, true, true, true, 0, 8, 2, "TXT_REQUEST_CONVERT_TRUECOLOR"},
        {48, 8, KXERR_NO48BIT, true, true, true, 0, 8, 2, "TXT_REQUEST_CONVERT_TRUECOLOR"},
        {24, 8, KXERR_NO24BIT, true, true, false, KXERR_NO24BIT, 24, 1, "TXT_REQUEST_CONVERT_TRUECOLOR"},
        {24, 8, KXERR_NO24BIT, true, false, true, KXERR_NO24BIT, 24, 1, nullptr},
        {8, 24, KXERR_NOHAM, true, false, true, 0, 24, 2, "TXT_REQUEST_CONVERT_HAM"},
        {8, 24, KXERR_NOHAM, true, false, false, KXERR_NOHAM, 8, 1, "TXT_REQUEST_CONVERT_HAM"},
    };
    StartApp();
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.start << "->" << r.want << " code " << r.code);
        App->Settings.Undo = false;
        App->Settings.AutoConv = r.autoConv;
        App->Settings.AutoConv8 = r.autoConv8;
        KX_ResetHandle(1, 1, 1);
        KX_SetGfxBuffer(MakeBuffer(8, 6, r.start));
        UI.Questions.clear();
        UI.Answers = {r.answer};
        DepthOp op(r.want, r.code);
        TableSlot slot(kSpare, &op);
        EXPECT_EQ(App->DoOperation(nullptr, kSpare), r.result);
        EXPECT_EQ(op.Runs, r.runs);
        ASSERT_NE(KX_GetGfxBuffer(), nullptr);
        EXPECT_EQ(KX_GetGfxBuffer()->ColorDepth <= 8 ? 8u : KX_GetGfxBuffer()->ColorDepth, r.finalDepth);
        if (r.question) {
            ASSERT_EQ(UI.Questions.size(), 1u);
            EXPECT_EQ(UI.Questions[0], r.question);
        } else {
            EXPECT_TRUE(UI.Questions.empty());
        }
        if (r.result) {
            EXPECT_EQ(UI.Statuses.back(), "TXT_ERROR " + std::string(KXL_GetErrorString(r.result)));
        }
    }
}

TEST_F(AppFixture, ConversionRetryWritesItsOwnUndoSteps) {
    KXT_NEED_OPERATOR("kxpAnyTo24Bit");
    KXT_NEED_FORMAT("kxoRGFX");
    KXT_NEED_FORMAT("kxoPNM");
    StartApp();
    ASSERT_EQ(LoadPpm("c.ppm", 4, 4), 0u);
    // A loaded image replaced by an 8-bit one.
    KX_SetGfxBuffer(MakeBuffer(4, 4, 8));
    DepthOp op(24, KXERR_NEED24BIT);
    TableSlot slot(kSpare, &op);
    ASSERT_EQ(App->DoOperation(nullptr, kSpare), 0u);
    EXPECT_EQ(App->UndoCount, 3u);  // the failed run, the conversion, the retry
    ASSERT_EQ(App->Undo(), 0u);
    EXPECT_EQ(KX_GetGfxBuffer()->ColorDepth, 24u);  // before the retry: converted
    ASSERT_EQ(App->Undo(), 0u);
    EXPECT_EQ(KX_GetGfxBuffer()->ColorDepth, 8u);
}

// ---- area road ------------------------------------------------------------------------------

TEST_F(AppFixture, AreaResultIsBroughtToTheMainDepthAndPasted) {
    KXT_NEED_OPERATOR("kxpAnyTo24Bit");
    KXT_NEED_OPERATOR("kxpAnyTo48Bit");
    KXT_NEED_OPERATOR("kxpPaste");
    for (uint32_t mainDepth : {24u, 48u}) {
        SCOPED_TRACE(mainDepth);
        StartApp();
        App->Settings.Undo = false;
        KX_SetGfxBuffer(MakeBuffer(10, 8, mainDepth));
        std::vector<uint8_t> before = Pixels(KX_GetGfxBuffer());
        App->SetArea(MakeBuffer(3, 2, 24), 4, 5, 3, 2);
        // The area operator gives an 8-bit grey result.
        class Grey : public DepthOp {
        public:
            Grey() : DepthOp(24, 0) {}
            uint32_t OperateTagList(KX_GfxBuffer* s, KX_GfxBuffer** r, const TagItem*) override {
                Runs++;
                Result = MakeBuffer(s->Width, s->Height, 8);
                for (uint32_t i = 0; i < Result->BufferSize; i++) Result->Data[i] = static_cast<uint8_t>(100 + i);
                *r = Result;
                return 0;
            }
        } grey;
        TableSlot slot(kSpare, &grey);
        ASSERT_EQ(App->DoOperation(nullptr, kSpare), 0u);
        KX_GfxBuffer* img = KX_GetGfxBuffer();
        ASSERT_EQ(img->ColorDepth, mainDepth);
        uint32_t bpp = mainDepth / 8;
        for (uint32_t y = 0; y < 8; y++)
            for (uint32_t x = 0; x < 10; x++) {
                const uint8_t* p = img->Data + (y * 10 + x) * bpp;
                bool inside = x >= 4 && x < 7 && y >= 5 && y < 7;
                if (!inside) {
                    EXPECT_EQ(memcmp(p, before.data() + (y * 10 + x) * bpp, bpp), 0) << x << "," << y;
                } else {
                    uint8_t g = static_cast<uint8_t>(100 + (y - 5) * 3 + (x - 4));
                    // 24 bit: g, g, g; 48 bit: g * 257 in each sample.
                    if (mainDepth == 24) {
                        EXPECT_EQ(p[0], g);
                        EXPECT_EQ(p[2], g);
                    } else {
                        uint16_t s;
                        memcpy(&s, p, 2);
                        EXPECT_TRUE(s == g * 257 || __builtin_bswap16(s) == g * 257) << s;
                    }
                }
            }
        // The processed area stays selected, at the main image's depth.
        ASSERT_NE(App->AreaBuffer, nullptr);
        EXPECT_EQ(App->AreaBuffer->ColorDepth, mainDepth);
        EXPECT_FALSE(KX_IsPasteBufferRegistered(App->AreaBuffer));
        kxpAction[kSpare] = slot.Saved;  // before the table goes
        slot.Saved = nullptr;
        delete App;
        App = nullptr;
    }
}

TEST_F(AppFixture, AreaOnAPaletteImageFailsAndDropsTheArea) {
    StartApp();
    App->Settings.Undo = false;
    KX_SetGfxBuffer(MakeBuffer(10, 8, 8));
    App->SetArea(MakeBuffer(3, 2, 24), 1, 1, 3, 2);
    DepthOp op(24, KXERR_NEED24BIT);
    TableSlot slot(kSpare, &op);
    KX_GfxBuffer* dest = reinterpret_cast<KX_GfxBuffer*>(1);
    EXPECT_EQ(App->DoOperation(nullptr, &dest, kSpare), static_cast<uint32_t>(KXERR_NEED24BIT));
    EXPECT_EQ(dest, nullptr);  // the refused result is gone; nothing points at it
    EXPECT_EQ(App->AreaBuffer, nullptr);
    EXPECT_GE(UI.AreaDrops, 1);
    EXPECT_EQ(KX_GetGfxBuffer()->ColorDepth, 8u);
    // The road had already let go of the area: the error stays in view.
    EXPECT_EQ(UI.Statuses.back(), "TXT_ERROR " + std::string(KXL_GetErrorString(KXERR_NEED24BIT)));
    // An area operator that fails while the area still exists: dropping it
    // replaces the error with the deselect text.
    App->SetArea(MakeBuffer(3, 2, 24), 1, 1, 3, 2);
    DepthOp needs48(48, KXERR_NEED48BIT);
    TableSlot slot48(kSpare + 1, &needs48);
    EXPECT_EQ(App->DoOperation(nullptr, kSpare + 1), static_cast<uint32_t>(KXERR_NEED48BIT));
    EXPECT_EQ(App->AreaBuffer, nullptr);
    EXPECT_EQ(UI.Statuses.back(), "TXT_AREA_DESELECT");
    EXPECT_EQ(needs48.Runs, 1);  // no automatic conversion on the area road
    // "Auto 24/48" stays on while an area exists.
    App->SetArea(MakeBuffer(2, 2, 24), 0, 0, 2, 2);
    App->SetAutoConv(false);
    EXPECT_TRUE(App->Settings.AutoConv);
    EXPECT_EQ(UI.Statuses.back(), "TXT_AREA_AUTOCONV_ACTIVE_NEED");
}

// ---- saving and colour profiles --------------------------------------------------------

TEST_F(AppFixture, SavingWithAndWithoutMetadata) {
    KXT_NEED_FORMAT("kxoPNM");
    KXT_NEED_FORMAT("kxoPNG");
    StartApp();
    // A small profile that the PNG writer can embed.
    uint8_t* icc = nullptr;
    uint32_t iccSize = 0;
    ASSERT_EQ(KXSUP_CreateCMSProfileGamma(256, 2.2, &icc, &iccSize), 0u);
    std::string iccPath = Dir / "std.icc";
    WriteFile(iccPath, std::string(reinterpret_cast<char*>(icc), iccSize));
    FreeVec(icc);
    App->Settings.StdCmFile = iccPath;
    struct Row {
        bool metaSave, autoCM;
        bool anno, profile;
    } rows[] = {{false, false, false, false}, {true, false, true, false}, {true, true, true, true}, {false, true, false, false}};
    int i = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(i);
        ASSERT_EQ(LoadPpm("m.ppm", 4, 3), 0u);
        ASSERT_EQ(KX_CreateMetaData(), 0u);
        KXOSpecialInfo* meta = KX_GetMetaDataCheck(0);
        meta->Anno = static_cast<char*>(AllocVec(8, MEMF_CLEAR));
        strcpy(meta->Anno, "kept");
        App->Settings.MetaSave = r.metaSave;
        App->Settings.AutoCM = r.autoCM;
        std::string out = Dir / ("m" + std::to_string(i++) + ".png");
        ASSERT_EQ(App->SaveFile(out.c_str(), KXWRITER_PNG, 0), 0u);
        EXPECT_EQ(App->LastFile, fs::path(out).filename().string());
        if (r.profile) {
            // The standard profile goes in under its own file name.
            ASSERT_NE(KX_GetMetaData(), nullptr);
            EXPECT_STREQ(KX_GetMetaData()->IccName, "std.icc");
            EXPECT_EQ(KX_GetMetaData()->IccSize, iccSize);
        }
        App->Settings.MetaLoad = true;
        ASSERT_EQ(App->LoadFile(out.c_str()), 0u);
        KXOSpecialInfo* back = KX_GetMetaData();
        EXPECT_EQ(back && back->Anno && strcmp(back->Anno, "kept") == 0, r.anno);
        EXPECT_EQ(back && back->IccData != nullptr, r.profile);
    }
    // A standard profile that is cut short or is no profile is not attached:
    // the picture is saved without one.
    for (const std::string& bytes : {std::string("not a profile"), std::string(200, 'x')}) {
        WriteFile(iccPath, bytes);
        ASSERT_EQ(LoadPpm("m.ppm", 4, 3), 0u);
        App->Settings.MetaSave = App->Settings.AutoCM = true;
        std::string out = Dir / "broken.png";
        ASSERT_EQ(App->SaveFile(out.c_str(), KXWRITER_PNG, 0), 0u);
        EXPECT_TRUE(KX_GetMetaData() == nullptr || KX_GetMetaData()->IccData == nullptr);
        ASSERT_EQ(App->LoadFile(out.c_str()), 0u);
        EXPECT_TRUE(KX_GetMetaData() == nullptr || KX_GetMetaData()->IccData == nullptr);
    }
}

TEST_F(AppFixture, EmbeddedProfileIsRemovedOnlyAfterASuccessfulConversion) {
    KXT_NEED_FORMAT("kxoPNM");
    StartApp();
    App->Settings.Undo = false;
    App->Settings.AutoCM = true;
    static uint32_t answer;
    static int calls;
    App->ApplyProfile = [](KX_GfxBuffer*, const uint8_t*, uint32_t) {
        calls++;
        return answer;
    };
    DepthOp op(24, KXERR_NEED24BIT);
    TableSlot slot(kSpare, &op);
    for (uint32_t code : {0u, static_cast<uint32_t>(KXERR_FILEREQUIREMENTS)}) {
        answer = code;
        calls = 0;
        ASSERT_EQ(LoadPpm("icc.ppm", 4, 4), 0u);
        ASSERT_EQ(KX_CreateMetaData(), 0u);
        KXOSpecialInfo* meta = KX_GetMetaDataCheck(0);
        meta->IccData = static_cast<uint8_t*>(AllocVec(16, MEMF_CLEAR));
        meta->IccSize = 16;
        ASSERT_TRUE(App->CheckCMS());
        ASSERT_EQ(App->DoOperation(nullptr, kSpare), 0u);
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(App->CheckCMS(), code != 0) << code;
    }
    // With CMS off nothing is converted; forced it is, and Strip always removes.
    App->Settings.AutoCM = false;
    answer = 0;
    calls = 0;
    EXPECT_EQ(App->ApplyAndRemoveCMS(KX_GetGfxBuffer(), false), 0u);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(App->CheckCMS());
    EXPECT_EQ(App->RemoveCMS(), 0u);
    EXPECT_FALSE(App->CheckCMS());
}

TEST_F(AppFixture, PostScriptPadWithGsPathSkipsTheLibrary) {
    KXT_NEED_FORMAT("kxoGS");
    KXT_NEED_FORMAT("kxoPNG");
    if (_system("gs", nullptr, std::vector<const char*>{"-v", nullptr}.data()) != 0)
        GTEST_SKIP() << "needs Ghostscript (package ghostscript)";
    WriteFile(Dir / "home/ENV/Kaxon5-Library/GS.controlpad", "gs_path=gs\ndpi=36\n");
    StartApp();
    std::string ps = Dir / "chain.ps";
    WriteFile(ps, "%!PS-Adobe-3.0\n<< /PageSize [144 72] >> setpagedevice\n0 0 72 72 rectfill showpage\n");
    ASSERT_EQ(App->LoadFile(ps.c_str()), 0u);
    EXPECT_EQ(KX_GetGfxBuffer()->Width, 72u);
    EXPECT_EQ(App->LastFile, "chain.ps");
    // The readers never saw the PostScript file: no failed library load.
    EXPECT_FALSE(UI.Saw("TXT_ERROR_LOADING: " + std::string(KXL_GetErrorString(1))));
}

// ---- a failed run or open changes nothing ------------------------------------------------

namespace {
// The undo files of the application's temporary directory.
int UndoFiles(const ScratchDir& dir) {
    int n = 0;
    for (const auto& e : fs::directory_iterator(dir.Path / "tmp" / ("kaxon5-" + std::to_string(getuid()))))
        if (e.path().filename().string().rfind("undo", 0) == 0) n++;
    return n;
}
}  // namespace

TEST_F(AppFixture, FailedRunsLeaveImageModifiedMarkAndUndoStepsAsTheyWere) {
    KXT_NEED_FORMAT("kxoPNM");
    KXT_NEED_FORMAT("kxoRGFX");
    StartApp();
    ASSERT_EQ(LoadPpm("f.ppm", 6, 4), 0u);
    DepthOp fails(48, KXERR_NOMEMORY);  // refuses every 24-bit source
    DepthOp works(24, KXERR_NEED24BIT);
    TableSlot failSlot(kSpare, &fails);
    TableSlot workSlot(kSpare + 1, &works);
    KX_GfxBuffer* image = KX_GetGfxBuffer();
    const std::vector<uint8_t> loaded = Pixels(image);

    // Four failed runs on a fresh picture: nothing to show for them.
    for (int i = 0; i < 4; i++) EXPECT_EQ(App->DoOperation(nullptr, kSpare), static_cast<uint32_t>(KXERR_NOMEMORY));
    EXPECT_EQ(fails.Runs, 4);
    EXPECT_EQ(KX_GetGfxBuffer(), image);
    EXPECT_EQ(Pixels(KX_GetGfxBuffer()), loaded);
    EXPECT_FALSE(App->Modified);
    EXPECT_EQ(App->UndoCount, 0u);
    EXPECT_EQ(UndoFiles(Dir), 0);

    // After a change, a failed run keeps the change's step and the mark.
    ASSERT_EQ(App->DoOperation(nullptr, kSpare + 1), 0u);
    const std::vector<uint8_t> changed = Pixels(KX_GetGfxBuffer());
    EXPECT_EQ(App->DoOperation(nullptr, kSpare), static_cast<uint32_t>(KXERR_NOMEMORY));
    EXPECT_TRUE(App->Modified);
    EXPECT_EQ(App->UndoCount, 1u);
    EXPECT_EQ(UndoFiles(Dir), 1);
    EXPECT_EQ(Pixels(KX_GetGfxBuffer()), changed);
    ASSERT_EQ(App->Undo(), 0u);
    EXPECT_EQ(Pixels(KX_GetGfxBuffer()), loaded);

    // At the undo limit a failed run costs none of the earlier steps; the
    // next successful one starts the stack again.
    App->Settings.UndoLimit = true;
    App->Settings.UndoMax = 2;
    ASSERT_EQ(App->DoOperation(nullptr, kSpare + 1), 0u);
    ASSERT_EQ(App->DoOperation(nullptr, kSpare + 1), 0u);
    ASSERT_EQ(App->UndoCount, 2u);
    const std::vector<uint8_t> beforeLast = Pixels(KX_GetGfxBuffer());
    EXPECT_EQ(App->DoOperation(nullptr, kSpare), static_cast<uint32_t>(KXERR_NOMEMORY));
    EXPECT_EQ(App->UndoCount, 2u);
    EXPECT_EQ(UndoFiles(Dir), 2);
    EXPECT_FALSE(UI.Saw("TXT_UNDO_LIMIT_REACHED"));
    ASSERT_EQ(App->DoOperation(nullptr, kSpare + 1), 0u);
    EXPECT_TRUE(UI.Saw("TXT_UNDO_LIMIT_REACHED"));
    EXPECT_EQ(App->UndoCount, 1u);
    EXPECT_EQ(UndoFiles(Dir), 1);
    ASSERT_EQ(App->Undo(), 0u);
    EXPECT_EQ(Pixels(KX_GetGfxBuffer()), beforeLast);
}

TEST_F(AppFixture, FailedRunKeepsTheProfileAndDeclinedConversionLeavesNoStep) {
    KXT_NEED_FORMAT("kxoPNM");
    KXT_NEED_FORMAT("kxoRGFX");
    StartApp();
    App->Settings.AutoCM = true;
    // The conversion darkens every byte, so a converted image would show.
    App->ApplyProfile = [](KX_GfxBuffer* b, const uint8_t*, uint32_t) {
        for (uint32_t i = 0; i < b->BufferSize; i++) b->Data[i] = static_cast<uint8_t>(b->Data[i] / 2);
        return 0u;
    };
    ASSERT_EQ(LoadPpm("p.ppm", 4, 4), 0u);
    ASSERT_EQ(KX_CreateMetaData(), 0u);
    KXOSpecialInfo* meta = KX_GetMetaDataCheck(0);
    meta->IccData = static_cast<uint8_t*>(AllocVec(16, MEMF_CLEAR));
    meta->IccSize = 16;
    const std::vector<uint8_t> loaded = Pixels(KX_GetGfxBuffer());
    DepthOp fails(48, KXERR_NOMEMORY);
    DepthOp works(24, KXERR_NEED24BIT);
    auto slot = std::make_unique<TableSlot>(kSpare, &fails);
    auto slot2 = std::make_unique<TableSlot>(kSpare + 1, &works);
    EXPECT_NE(App->DoOperation(nullptr, kSpare), 0u);
    EXPECT_EQ(Pixels(KX_GetGfxBuffer()), loaded);
    EXPECT_TRUE(App->CheckCMS());
    EXPECT_EQ(App->UndoCount, 0u);
    // The same operator on a 24-bit source works: it saw the converted
    // pixels, and the profile is gone with the change.
    ASSERT_EQ(App->DoOperation(nullptr, kSpare + 1), 0u);
    EXPECT_EQ(KX_GetGfxBuffer()->Data[5], static_cast<uint8_t>(~(loaded[5] / 2)));
    EXPECT_FALSE(App->CheckCMS());
    EXPECT_EQ(App->UndoCount, 1u);

    // A HAM picture whose conversion the user declines: nothing changes.
    App->ApplyProfile = KXSUP_ApplyCMSProfileSRGB;
    KX_SetGfxBuffer(MakeBuffer(4, 4, 8));
    App->Modified = false;
    DepthOp needsHam(24, KXERR_NOHAM);
    slot.reset();
    slot = std::make_unique<TableSlot>(kSpare, &needsHam);
    UI.Answers = {false};
    EXPECT_EQ(App->DoOperation(nullptr, kSpare), static_cast<uint32_t>(KXERR_NOHAM));
    EXPECT_EQ(App->UndoCount, 1u);
    EXPECT_FALSE(App->Modified);
}

TEST_F(AppFixture, FailedOpenKeepsTheCurrentPicture) {
    KXT_NEED_FORMAT("kxoPNM");
    StartApp();
    ASSERT_EQ(LoadPpm("kept.ppm", 5, 3), 0u);
    DepthOp works(24, KXERR_NEED24BIT);
    TableSlot slot(kSpare, &works);
    App->Settings.Undo = false;
    ASSERT_EQ(App->DoOperation(nullptr, kSpare), 0u);  // an unsaved change
    ASSERT_EQ(KX_CreateMetaData(), 0u);
    KXOSpecialInfo* meta = KX_GetMetaDataCheck(0);
    meta->Anno = static_cast<char*>(AllocVec(8, MEMF_CLEAR));
    strcpy(meta->Anno, "mine");
    KX_GfxBuffer* image = KX_GetGfxBuffer();
    const std::vector<uint8_t> pixels = Pixels(image);
    KXObject* reader = objr;
    const std::string cut = Ppm(5, 3, Pattern).substr(0, 20);  // a PNM header and a few bytes
    struct Case {
        const char* name;
        std::string bytes;  // empty: the file does not exist
    } cases[] = {{"cut.ppm", cut}, {"unknown.bin", "no reader knows this"}, {"missing.ppm", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.bytes.empty()) WriteFile(Dir / c.name, c.bytes);
        UI.Clears = 0;
        EXPECT_NE(App->LoadFile((Dir / c.name).c_str()), 0u);
        EXPECT_EQ(KX_GetGfxBuffer(), image);
        EXPECT_EQ(Pixels(KX_GetGfxBuffer()), pixels);
        EXPECT_EQ(objr, reader);
        ASSERT_NE(KX_GetMetaData(), nullptr);
        EXPECT_STREQ(KX_GetMetaData()->Anno, "mine");
        EXPECT_TRUE(App->Modified);
        EXPECT_EQ(App->LastFile, "kept.ppm");
        EXPECT_EQ(UI.Clears, 0);
        EXPECT_EQ(UI.Statuses.back().rfind("TXT_ERROR_LOADING: ", 0), 0u) << UI.Statuses.back();
    }
    // A file that opens replaces it all.
    ASSERT_EQ(LoadPpm("next.ppm", 2, 2), 0u);
    EXPECT_FALSE(App->Modified);
    EXPECT_EQ(App->LastFile, "next.ppm");
    EXPECT_EQ(KX_GetMetaData(), nullptr);
}

// The interface thread is not held by the worker: it keeps polling (and a
// window repainting) while the operator runs, and is woken as it ends.
TEST_F(AppFixture, InterfaceThreadKeepsPollingWhileTheWorkerRuns) {
    StartApp();
    App->Settings.Undo = false;
    KX_SetGfxBuffer(MakeBuffer(4, 4, 24));
    class Slow : public DepthOp {
    public:
        Slow() : DepthOp(24, 0) {}
        uint32_t OperateTagList(KX_GfxBuffer* s, KX_GfxBuffer** r, const TagItem* t) override {
            KXProgress p{0, 40};
            if (ProgressHook) ProgressHook(&p, ProgressUser);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            return DepthOp::OperateTagList(s, r, t);
        }
    } slow;
    TableSlot slot(kSpare, &slow);
    struct Waiting : FakeUI {
        int Waits = 0, Polls = 0, Wakes = 0;
        bool SawBarWhileRunning = false;
        void WaitForWorker(const std::function<bool(int)>& poll) override {
            Waits++;
            while (!poll(20)) {
                Polls++;
                // The operator's own 50 may also arrive before the last poll.
                if (!Bars.empty() && Bars.back() == 40) SawBarWhileRunning = true;
            }
        }
        void WakeFromWorker() override { Wakes++; }
    } ui;
    KXTaskRunner runner(&ui);
    runner.Begin();
    slow.SetProgress(MyProgress, 0);
    KX_GfxBuffer* out = nullptr;
    EXPECT_EQ(runner.Run([&] { return slow.OperateTagList(KX_GetGfxBuffer(), &out, nullptr); }), 0u);
    runner.End();
    EXPECT_EQ(ui.Waits, 1);
    EXPECT_GE(ui.Polls, 5);                // 300 ms in polls of 20 ms
    EXPECT_TRUE(ui.SawBarWhileRunning);    // the bar moved before the end
    EXPECT_EQ(ui.Wakes, 1);
    slow.Reset();
}

// ---- how a command ends ------------------------------------------------------------------

namespace {
int WriterIndex(const char* format) {
    for (int i = 0; kxoWrite && i < 256 && kxoWrite[i]; i++)
        if (strcmp(kxoWrite[i]->FormatName, format) == 0) return i;
    return -1;
}
}  // namespace

// A failure that ends a command leaves its message in the status line under
// the red light; the next success turns the light green again.
TEST_F(AppFixture, FailuresLeaveTheirMessageUnderTheRedLight) {
    KXT_NEED_FORMAT("kxoPNM");
    StartApp();
    App->Settings.Undo = false;
    App->Settings.AutoConv = App->Settings.AutoConv8 = false;
    DepthOp paletteOnly(8, KXERR_NO24BIT);
    TableSlot slot(kSpare, &paletteOnly);
    const int pnm = WriterIndex("PNM"), psd = WriterIndex("PSD");
    ASSERT_GE(pnm, 0);
    WriteFile(Dir / "deep.ppm", "P6\n2 2\n65535\n" + std::string(24, '\x40'));
    struct Case {
        const char* name;
        std::string failure;  // the status text before the message
        std::function<uint32_t()> run;
    } cases[] = {
        {"corrupt file", "TXT_ERROR_LOADING: ",
         [&] {
             WriteFile(Dir / "cut.ppm", Ppm(5, 3, Pattern).substr(0, 20));
             return App->LoadFile((Dir / "cut.ppm").c_str());
         }},
        {"folder that is not there", "TXT_ERROR_SAVING: ",
         [&] { return App->SaveFile((Dir / "no/such/folder/x.ppm").c_str(), static_cast<uint32_t>(pnm), 0); }},
        {"16-bit picture to PSD", "TXT_ERROR_SAVING: ",
         [&] {
             if (psd < 0 || !RealFormat("kxoPSD")) return static_cast<uint32_t>(KXERR_NOTSUPPORTED);
             EXPECT_EQ(App->LoadFile((Dir / "deep.ppm").c_str()), 0u);
             return App->SaveFile((Dir / "deep.psd").c_str(), static_cast<uint32_t>(psd), 0);
         }},
        {"operator", "TXT_ERROR ", [&] { return App->DoOperation(nullptr, kSpare); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(LoadPpm("good.ppm", 4, 3), 0u);
        ASSERT_EQ(UI.Lights.back(), KXStatusLight::Green);
        const uint32_t code = c.run();
        if (code == KXERR_NOTSUPPORTED) continue;  // no PSD writer in this build
        ASSERT_NE(code, 0u);
        EXPECT_EQ(UI.Statuses.back(), c.failure + KXL_GetErrorString(code));
        EXPECT_EQ(UI.Lights.back(), KXStatusLight::Failed);
        EXPECT_TRUE(UI.Messages.empty());
    }
    ASSERT_EQ(LoadPpm("good.ppm", 4, 3), 0u);
    EXPECT_EQ(UI.Lights.back(), KXStatusLight::Green);
}

// A JPEG whose data stops early keeps its picture (libjpeg's grey for the
// rest) and says it is incomplete, under the warning light.
TEST_F(AppFixture, IncompleteJpegIsKeptAndSaysSo) {
    KXT_NEED_FORMAT("kxoPNM");
    KXT_NEED_FORMAT("kxoJFIF");
    StartApp();
    const int jpeg = WriterIndex("JPEG");
    ASSERT_GE(jpeg, 0);
    ASSERT_EQ(LoadPpm("p.ppm", 64, 48), 0u);
    const std::string whole = Dir / "whole.jpg", cut = Dir / "cut.jpg";
    ASSERT_EQ(App->SaveFile(whole.c_str(), static_cast<uint32_t>(jpeg), 0), 0u);
    const std::vector<uint8_t> bytes = KXT_ReadBytes(whole);
    WriteFile(cut, std::string(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() * 2 / 3)));

    ASSERT_EQ(App->LoadFile(cut.c_str()), 0u);
    ASSERT_NE(KX_GetGfxBuffer(), nullptr);
    EXPECT_EQ(KX_GetGfxBuffer()->Width, 64u);
    EXPECT_EQ(App->LastFile, "cut.jpg");
    EXPECT_EQ(UI.Statuses.back(), "TXT_LOADED_INCOMPLETE: " + std::string(KXL_GetErrorString(KXERR_EOF)));
    EXPECT_EQ(UI.Lights.back(), KXStatusLight::Flawed);

    ASSERT_EQ(App->LoadFile(whole.c_str()), 0u);
    EXPECT_EQ(UI.Statuses.back(), "TXT_DONE");
    EXPECT_EQ(UI.Lights.back(), KXStatusLight::Green);
}

// The pads shipped beside the program name the external programs by their
// usual names, so a fresh installation (no settings of the user's) finds
// them and opens PostScript and PDF without asking for settings.
TEST_F(AppFixture, ShippedPadsNameTheExternalPrograms) {
    KXT_NEED_FORMAT("kxoGS");
    const fs::path shipped = fs::path(KX_SOURCE_DIR) / "ENV/Kaxon5-Library";
    const fs::path archive = Dir.Path / "prog/ENV/Kaxon5-Library";
    fs::create_directories(archive);
    for (const auto& e : fs::directory_iterator(shipped))
        if (e.path().extension() == ".controlpad") fs::copy_file(e.path(), archive / e.path().filename());
    StartApp();
    EXPECT_EQ(App->Settings.JpegtranPath, "jpegtran");
    const struct {
        const char *cls, *key, *program;
    } pads[] = {{"kxoGS", "GS_PATH", "gs"},
                {"kxoFIG", "FIG2DEV_PATH", "fig2dev"},
                {"kxoDCRAW", "DCRAW_PATH", "dcraw"},
                {"kxoExifTool", "EXIFTOOL_PATH", "exiftool"}};
    for (const auto& p : pads) {
        SCOPED_TRACE(p.cls);
        const KXFormatReg* reg = KX_FindFormatReg(p.cls);
        ASSERT_NE(reg, nullptr);
        std::unique_ptr<KXObject> module(KX_NewObject(App->Library, *reg));
        ASSERT_NE(module, nullptr);
        char value[256];
        ASSERT_EQ(module->GetKey(p.key, value, sizeof value), 1);
        EXPECT_STREQ(value, p.program);
    }

    KXT_NEED_FORMAT("kxoPNG");
    if (_system("gs", nullptr, std::vector<const char*>{"-v", nullptr}.data()) != 0)
        GTEST_SKIP() << "needs Ghostscript (package ghostscript)";
    const std::string ps = Dir / "page.ps", pdf = Dir / "page.pdf";
    WriteFile(ps, "%!PS-Adobe-3.0\n<< /PageSize [144 72] >> setpagedevice\n0 0 72 72 rectfill showpage\n");
    const std::string out = "-sOutputFile=" + pdf;
    ASSERT_EQ(_system("gs", nullptr,
                      std::vector<const char*>{"-q", "-dNOPAUSE", "-dBATCH", "-sDEVICE=pdfwrite", out.c_str(), ps.c_str(), nullptr}
                          .data()),
              0u);
    for (const std::string& file : {ps, pdf}) {
        SCOPED_TRACE(file);
        EXPECT_EQ(App->LoadFile(file.c_str()), 0u);
        EXPECT_TRUE(UI.Messages.empty());
        ASSERT_NE(KX_GetGfxBuffer(), nullptr);
        EXPECT_EQ(KX_GetGfxBuffer()->Width, 144u);
        EXPECT_EQ(App->LastFile, fs::path(file).filename().string());
        EXPECT_EQ(UI.Lights.back(), KXStatusLight::Green);
    }
}
