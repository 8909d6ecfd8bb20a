// What every converter module shares about the programs it starts: a
// relative file name never reaches a program as an option ("-x") or as
// Ghostscript's file of further options ("@x"), and a program that runs
// past its module's TIME_LIMIT is ended with everything it started.
#include <fcntl.h>
#include <signal.h>

#include <thread>

#include "converter_helpers.h"
#include "formats/libraries/kxoGS.h"

using namespace convtest;

namespace {
// One converter module: its class, the key naming its program, the role
// the fake plays, further settings, and whether it reads LOADNAME (a
// device reader) rather than its read name.
struct Converter {
    const char* cls;
    const char* programKey;
    const char* role;
    Settings extra;
    bool device;
};

const Converter kConverters[] = {
    {"kxoGS", "GS_PATH", "gs", {}, false},
    {"kxoFIG", "FIG2DEV_PATH", "fig2dev", {}, false},
    {"kxoEXR", "EXRTOPPM_PATH", "exrtoppm", {}, false},
    {"kxoPCD", "P2J_PATH", "pcdtojpeg", {{"EXTERNAL_DECODER", "ALWAYS"}}, false},
    {"kxoDCRAW", "DCRAW_PATH", "dcraw", {}, true},
    {"kxoExifTool", "EXIFTOOL_PATH", "exiftool", {}, true},
};

// Loads input with a new object of the class, made on lib, on the given settings.
uint32_t LoadWith(KXClass* lib, const Converter& c, const std::string& program, const std::string& input, Settings s) {
    const KXFormatReg* reg = KX_FindFormatReg(c.cls);
    EXPECT_NE(reg, nullptr) << c.cls;
    if (!reg) return 99;
    std::unique_ptr<KXObject> m(KX_NewObject(lib, *reg));
    if (!m) return 98;
    for (const auto& [k, v] : c.extra) s[k] = v;
    s[c.programKey] = program;
    if (c.device) s["LOADNAME"] = input;
    uint32_t err = 0;
    KXConfig cfg(m->PadPath, &err);
    for (const auto& [k, v] : s) cfg.SetValue(k.c_str(), v.c_str());
    m->SetLocalConfig(cfg.GetPadList());
    if (c.device) m->SetIOMode(KXIO_DEVICE);
    m->SetReadName(input.c_str());
    err = m->Load();
    m->Reset();
    m->FreeConfig();
    return err;
}

// Runs the test body in dir as the current directory.
struct InDirectory {
    int old;
    explicit InDirectory(const std::string& dir) : old(open(".", O_RDONLY | O_DIRECTORY)) {
        EXPECT_EQ(chdir(dir.c_str()), 0);
    }
    ~InDirectory() {
        if (old >= 0) {
            EXPECT_EQ(fchdir(old), 0);
            close(old);
        }
    }
};

// The helper processes the fake started ("@@helper <pid>" lines of its log).
std::vector<pid_t> Helpers(const std::string& log) {
    std::vector<pid_t> pids;
    const std::string text = KXT_ReadFile(log);
    for (size_t at = text.find("@@helper "); at != std::string::npos; at = text.find("@@helper ", at + 1))
        pids.push_back((pid_t)std::stol(text.substr(at + 9)));
    return pids;
}

// A process is gone once it no longer exists or only waits to be reaped.
bool Gone(pid_t pid) {
    std::string stat = KXT_ReadFile("/proc/" + std::to_string(pid) + "/stat");
    if (stat.empty()) return true;
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && (stat[close + 2] == 'Z' || stat[close + 2] == 'X');
}

// Waits (a few seconds at most) for the process to go.
bool GoesAway(pid_t pid) {
    for (int i = 0; i < 250 && !Gone(pid); ++i) usleep(20000);
    return Gone(pid);
}
}  // namespace

// The modules run side by side (each under its role's name, all logging
// into one file), each with its own names.
TEST(ConverterArguments, RelativeNamesGetADirectoryInFront) {
    UseRunner();
    Scratch dir;
    KXClass lib;
    InDirectory here(dir.Path);
    unsetenv("KX_FAKE_ROLE");
    setenv("KX_FAKE_MODE", "none", 1);
    const std::string log = dir / "all.log";
    setenv("KX_FAKE_LOG", log.c_str(), 1);
    struct Name {
        std::string given, passed;
    };
    auto namesOf = [&dir](const std::string& role) {
        return std::vector<Name>{
            {"@" + role + ".x", "./@" + role + ".x"},
            {"-" + role + ".x", "./-" + role + ".x"},
            {"sub/" + role + ".x", "./sub/" + role + ".x"},
            {dir / ("@" + role + ".x"), dir / ("@" + role + ".x")},  // absolute names stay as they are
        };
    };
    std::vector<std::string> failures(std::size(kConverters));
    std::vector<std::thread> runs;
    for (size_t i = 0; i < std::size(kConverters); ++i) {
        const std::string program = dir / kConverters[i].role;
        ASSERT_EQ(symlink(FakeTool().c_str(), program.c_str()), 0);
        runs.emplace_back([&, i, program] {
            for (const Name& n : namesOf(kConverters[i].role))
                if (LoadWith(&lib, kConverters[i], program, n.given, {}) != KXERR_EXTERNALTOOL) failures[i] += n.given + " ";
        });
    }
    for (std::thread& t : runs) t.join();
    for (const char* v : {"KX_FAKE_MODE", "KX_FAKE_LOG"}) unsetenv(v);

    Fake reader(dir, "gs", "none");
    reader.Log = log;
    const std::vector<Args> calls = reader.Calls();
    EXPECT_EQ(calls.size(), 4 * std::size(kConverters));
    for (size_t i = 0; i < std::size(kConverters); ++i) {
        SCOPED_TRACE(kConverters[i].cls);
        EXPECT_EQ(failures[i], "");
        for (const Name& n : namesOf(kConverters[i].role)) {
            SCOPED_TRACE(n.given);
            int given = 0, passed = 0;
            for (const Args& call : calls)
                for (const std::string& a : call) {
                    given += a == n.given;
                    passed += a == n.passed;
                }
            EXPECT_EQ(passed, 1);
            if (n.given != n.passed) EXPECT_EQ(given, 0);
        }
    }
}

// Ghostscript reads "@x.ps" as a file of options: a file named that way
// beside a file x.ps holding options would run them with file access.
TEST(ConverterArguments, GhostscriptOpensAnAtNameAsThePage) {
    CONV_NEED_TOOL("gs");
    UseRunner();
    Scratch dir;
    ASSERT_TRUE(KXT_WriteFile(dir / "@x.ps", "%!PS\n<< /PageSize [20 10] >> setpagedevice\n0 0 10 10 rectfill showpage\n"));
    ASSERT_TRUE(KXT_WriteFile(dir / "x.ps", "-dNOSAFER -c (pwned) (w) file closefile\n"));
    InDirectory here(dir.Path);
    Module<kxoGS> gs({{"GS_PATH", "gs"}, {"DPI", "72"}});
    ASSERT_EQ(gs.Load("@x.ps"), 0u);
    ASSERT_NE(gs.Image(), nullptr);
    EXPECT_EQ(gs.Image()->Width, 20u);
    EXPECT_EQ(gs.Image()->Height, 10u);
    EXPECT_EQ(Pixel(gs.Image(), 2, 5), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(Pixel(gs.Image(), 15, 5), (std::vector<int>{255, 255, 255}));
    EXPECT_FALSE(Exists(dir / "pwned"));
}

// Every module reads its own TIME_LIMIT. The programs run side by side (each
// limit belongs to its thread), each under its role's name, and write
// their output before they hang: output of an ended run is never loaded.
TEST(ConverterTimeLimit, ProgramsPastTheirLimitEndWithTheirHelpers) {
    UseRunner();
    Scratch dir;
    const std::string fixture = dir / "out.bin";
    ASSERT_TRUE(KXT_WriteFile(fixture, "P6\n1 1\n255\nabc"));
    unsetenv("KX_FAKE_ROLE");
    setenv("KX_FAKE_MODE", "hang", 1);
    setenv("KX_FAKE_FIXTURE", fixture.c_str(), 1);
    const std::string log = dir / "fake.log";
    setenv("KX_FAKE_LOG", log.c_str(), 1);
    KXClass lib;
    std::vector<uint32_t> results(std::size(kConverters), 0);
    std::vector<std::thread> runs;
    for (size_t i = 0; i < std::size(kConverters); ++i) {
        const Converter& c = kConverters[i];
        const std::string program = dir / c.role;
        ASSERT_EQ(symlink(FakeTool().c_str(), program.c_str()), 0);
        ASSERT_TRUE(KXT_WriteFile(dir / (std::string("in-") + c.role), "x"));
        runs.emplace_back([&, i, program] {
            const Converter& c = kConverters[i];
            results[i] = LoadWith(&lib, c, program, dir / (std::string("in-") + c.role), {{"TIME_LIMIT", "1"}});
        });
    }
    for (std::thread& t : runs) t.join();
    for (const char* v : {"KX_FAKE_MODE", "KX_FAKE_FIXTURE", "KX_FAKE_LOG"}) unsetenv(v);
    for (size_t i = 0; i < std::size(kConverters); ++i)
        EXPECT_EQ(results[i], static_cast<uint32_t>(KXERR_EXTERNALTOOL)) << kConverters[i].cls;
    const std::vector<pid_t> helpers = Helpers(log);
    EXPECT_EQ(helpers.size(), std::size(kConverters));
    for (pid_t h : helpers) EXPECT_TRUE(GoesAway(h)) << "helper " << h;
}

// A program that ignores SIGTERM is killed; the module logs why it failed.
TEST(ConverterTimeLimit, AStubbornProgramIsKilledAndTheStopLogged) {
    UseRunner();
    Scratch dir;
    Fake fake(dir, "dcraw", "stubborn", dir / "none");
    KXClass lib;
    KXT_TraceLog trace(1);
    const uint32_t err = LoadWith(&lib, kConverters[4], FakeTool(), dir / "shot.nef", {{"TIME_LIMIT", "1"}});
    const std::string lines = trace.lines();
    EXPECT_EQ(err, static_cast<uint32_t>(KXERR_EXTERNALTOOL));
    EXPECT_NE(lines.find("dcraw           : " + FakeTool() + " stopped: still running after 1 s (TIME_LIMIT).\n"),
              std::string::npos)
        << lines;
    const std::vector<pid_t> helpers = Helpers(fake.Log);
    ASSERT_EQ(helpers.size(), 1u);
    EXPECT_TRUE(GoesAway(helpers[0]));
}

// The limit and what counts as one: the key's value in seconds, else 120.
TEST(ConverterTimeLimit, KeyValues) {
    struct Row {
        const char* value;
        uint32_t seconds;
    } rows[] = {{nullptr, 120}, {"1", 1}, {"300", 300}, {"0", 120}, {"-5", 120}, {"soon", 120}, {"999999", 86400}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.value ? r.value : "(none)");
        Settings s;
        if (r.value) s["TIME_LIMIT"] = r.value;
        s["GS_PATH"] = "gs";
        Module<kxoGS> gs(s);
        EXPECT_EQ(KXCONV_TimeLimit(&gs.obj), r.seconds);
    }
    // The shipped pads and schemas name the key with its default.
    for (const char* pad : {"GS", "FIG", "DCRAW", "ExifTool"})
        EXPECT_NE(KXT_ReadFile(std::string(KX_SOURCE_DIR) + "/ENV/Kaxon5-Library/" + pad + ".controlpad").find("\nTIME_LIMIT=120\n"),
                  std::string::npos)
            << pad;
    for (const char* pad : {"GS", "FIG", "DCRAW", "ExifTool", "EXR", "PCD"})
        EXPECT_NE(KXT_ReadFile(std::string(KX_SOURCE_DIR) + "/ENV/Kaxon5-Library/" + pad + ".cpinfo")
                      .find("SECTION=TIME_LIMIT\nTYPE=INTEGER\nMASK=*\nDEFAULT=120\n"),
                  std::string::npos)
            << pad;
}
