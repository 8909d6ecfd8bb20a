// The library object: its defaults, paths, module tables, the global log's
// reference counting and the temporary file names. Every test runs in its
// own process, since the library's state belongs to the process.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <vector>
#include <cstring>
#include <string>

#include "core/kxlib.h"
#include "core/libstate.h"
#include "support/testfiles.h"

namespace {
const std::string kSub = "ENV/Kaxon5-Library/";

// True when name is prefix, lower-case hex digits, then suffix.
bool matchesWithHex(const std::string& name, const std::string& prefix, const std::string& suffix) {
    if (name.size() <= prefix.size() + suffix.size()) return false;
    if (name.compare(0, prefix.size(), prefix) != 0) return false;
    if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
    std::string mid = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    return mid.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// Puts TMPDIR back as it was when a test that points it at folders of its
// own (and removes them) ends.
struct KeepTmpdir {
    bool had;
    std::string old;
    KeepTmpdir() : had(getenv("TMPDIR") != nullptr), old(had ? getenv("TMPDIR") : "") {}
    ~KeepTmpdir() {
        if (had) setenv("TMPDIR", old.c_str(), 1);
        else unsetenv("TMPDIR");
        KX_RefreshProcessTempDir();
    }
};

int tableSize(void** table) {
    int n = 0;
    while (n < 256 && table[n]) n++;
    return n;
}
}  // namespace

TEST(KXClassTest, NewObjectTakesTheProgramDirectoryAndTemp) {
    KeepTmpdir keep;
    const std::string base = KXT_NewTempDir("/tmp/kx a-XXXXXX");
    const std::string own = "/kaxon5-" + std::to_string(getuid()) + "/";
    setenv("TMPDIR", base.c_str(), 1);
    KXClass lib;
    EXPECT_EQ(std::string(lib.TempDir), base + own);
    EXPECT_STREQ(lib.Separator, "/");
    // The defaults are the directory of the running program, never the
    // current directory.
    std::string exe = KX_GetExecutableDir();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(exe.back(), '/');
    EXPECT_NE(exe, "./");
    EXPECT_EQ(std::string(lib.ProgDir), exe);
    EXPECT_EQ(std::string(lib.UserDir), exe);
    EXPECT_EQ(std::string(lib.SettingsDir), exe + kSub);
    EXPECT_EQ(std::string(lib.ArchiveSettingsDir), exe + kSub);
    EXPECT_EQ(lib.InstanceId, KX_GetProcessInstanceId());

    // A TMPDIR ending in "/" names the same folder.
    setenv("TMPDIR", (base + "/").c_str(), 1);
    KXClass second;
    EXPECT_EQ(std::string(second.TempDir), base + own);
    EXPECT_EQ(std::string(KX_GetProcessTempDir()), base + own);
    EXPECT_EQ(second.InstanceId, lib.InstanceId);
    EXPECT_EQ(KX_LibState().InstanceCount, 2u);
    rmdir((base + own).c_str());
    rmdir(base.c_str());
}

TEST(KXClassTest, SetPathsTable) {
    struct Case {
        const char* prog;
        const char* user;
        const char* wantProg;
        const char* wantUser;
    } cases[] = {
        {"/opt/kx", nullptr, "/opt/kx/", "/opt/kx/"},
        {"/opt/kx/", "/home/u", "/opt/kx/", "/home/u/"},
        {"/opt/kx", "/home/u/", "/opt/kx/", "/home/u/"},
        {"rel/dir", "rel/dir", "rel/dir/", "rel/dir/"},
    };
    KXClass lib;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prog);
        lib.SetPaths(c.prog, c.user);
        EXPECT_STREQ(lib.ProgDir, c.wantProg);
        EXPECT_STREQ(lib.UserDir, c.wantUser);
        EXPECT_EQ(std::string(lib.SettingsDir), std::string(c.wantUser) + kSub);
        EXPECT_EQ(std::string(lib.ArchiveSettingsDir), std::string(c.wantProg) + kSub);
        EXPECT_STREQ(KX_GetProcessProgDir(), c.wantProg);
        EXPECT_EQ(std::string(KX_GetProcessSettingsDir()), std::string(c.wantUser) + kSub);
        EXPECT_EQ(std::string(KX_GetProcessArchiveSettingsDir()), std::string(c.wantProg) + kSub);
    }
    // SetPath gives both directories the same value.
    lib.SetPath("/srv/one");
    EXPECT_STREQ(lib.ProgDir, "/srv/one/");
    EXPECT_STREQ(lib.UserDir, "/srv/one/");
}

TEST(KXClassTest, SetPathsWithItsOwnTextsAndANullProgramDirectory) {
    KXClass a;
    a.SetPaths("/opt/a", "/home/a");
    // Passing the object's own texts back must not read freed memory.
    a.SetPaths(a.ProgDir, a.UserDir);
    EXPECT_STREQ(a.ProgDir, "/opt/a/");
    EXPECT_STREQ(a.UserDir, "/home/a/");

    // A null program directory is the one most recently set by any object.
    KXClass b;
    a.SetPaths("/opt/latest", "/home/a");
    b.SetPaths(nullptr, "/home/b");
    EXPECT_STREQ(b.ProgDir, "/opt/latest/");
    EXPECT_STREQ(b.UserDir, "/home/b/");
    EXPECT_EQ(std::string(b.ArchiveSettingsDir), "/opt/latest/" + kSub);
    EXPECT_EQ(std::string(b.SettingsDir), "/home/b/" + kSub);
}

TEST(KXClassTest, TablesHoldTheCatalogueOnce) {
    KXClass lib;
    KXOperator** ops = lib.GetOperators();
    ASSERT_NE(ops, nullptr);
    EXPECT_EQ(tableSize(reinterpret_cast<void**>(ops)), 62);
    EXPECT_EQ(lib.GetOperators(), ops);
    KXOperator* first = ops[0];
    EXPECT_EQ(lib.GetOperators()[0], first);
    EXPECT_STREQ(ops[14]->PadName, "Resize.controlpad");
    EXPECT_STREQ(ops[61]->Description, "Turns graphics to gray except selected color range.");

    const int sizes[4] = {54, 39, 4, 0};
    KXObject** tables[4];
    for (uint32_t kind = 0; kind < 4; kind++) {
        tables[kind] = lib.GetObjects(kind);
        ASSERT_NE(tables[kind], nullptr) << kind;
        EXPECT_EQ(tableSize(reinterpret_cast<void**>(tables[kind])), sizes[kind]) << kind;
        EXPECT_EQ(lib.GetObjects(kind, 12345), tables[kind]) << kind;
    }
    EXPECT_EQ(lib.GetObjects(4), nullptr);
    EXPECT_EQ(lib.GetObjects(0xFFFFFFFFu), nullptr);

    // Each entry is the class its position names.
    uint32_t count = 0;
    const KXFormatReg* regs = KX_FormatRegs(&count);
    for (uint32_t i = 0; i < count; i++) {
        const KXFormatReg& r = regs[i];
        int pos[3] = {r.Reader, r.Writer, r.Device};
        for (int kind = 0; kind < 3; kind++) {
            if (pos[kind] < 0) continue;
            KXObject* obj = tables[kind][pos[kind]];
            EXPECT_STREQ(obj->FormatName, r.FormatName) << r.ClassName;
            EXPECT_STREQ(obj->PadName, r.PadName) << r.ClassName;
        }
    }
    // The save-format list in writer order.
    const char* firstWriters[] = {"BMP", "FBM", "GIF", "ILBM", "JPEG"};
    for (int i = 0; i < 5; i++) EXPECT_STREQ(tables[1][i]->FormatName, firstWriters[i]);
    EXPECT_STREQ(tables[1][15]->FormatName, "KGX");
    // A format that reads and writes has two separate objects.
    EXPECT_STREQ(tables[0][0]->FormatName, "BMP");
    EXPECT_NE(tables[0][0], tables[1][0]);
}

TEST(KXClassTest, CleanupDisposesAndAllowsARebuild) {
    KXClass lib;
    lib.SetInstanceId(0x77);
    lib.GetOperators();
    for (uint32_t kind = 0; kind < 4; kind++) lib.GetObjects(kind);
    lib.Cleanup();
    EXPECT_EQ(lib.Operators[0], nullptr);
    EXPECT_EQ(lib.Readers[0], nullptr);
    EXPECT_EQ(lib.DeviceReaders[0], nullptr);
    EXPECT_FALSE(lib.OperatorsBuilt || lib.ReadersBuilt || lib.WritersBuilt || lib.DeviceReadersBuilt);
    EXPECT_EQ(lib.ProgDir, nullptr);
    EXPECT_EQ(lib.TempDir, nullptr);
    EXPECT_EQ(lib.InstanceId, 0u);
    // The process keeps its id.
    EXPECT_EQ(KX_GetProcessInstanceId(), 0x77u);
    // Modules built after a Cleanup fall back to the process-wide directories.
    KXOperator** ops = lib.GetOperators();
    ASSERT_NE(ops[0], nullptr);
    EXPECT_NE(ops[0]->PadPath, nullptr);
}

TEST(KXClassTest, InstanceIdIsSharedWithNewObjects) {
    KXClass a;
    a.SetInstanceId(0xBEEF);
    EXPECT_EQ(a.InstanceId, 0xBEEFu);
    EXPECT_EQ(KX_GetProcessInstanceId(), 0xBEEFu);
    KXClass b;
    EXPECT_EQ(b.InstanceId, 0xBEEFu);
}

TEST(KXClassTest, LogIsCountedAndTheLastStopClosesIt) {
    setenv("TMPDIR", ::testing::TempDir().c_str(), 1);
    KXClass lib;
    lib.SetLogLevel(7);
    EXPECT_EQ(lib.GetLog(), nullptr);
    lib.StartLog();
    KXLog* log = lib.GetLog();
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log, __kxlib_log_global);
    EXPECT_EQ(log->Level, 7u);
    ASSERT_NE(log->File, nullptr);
    // StartLog handed the log to operators, readers and writers.
    EXPECT_EQ(lib.Operators[0]->Log, log);
    EXPECT_EQ(lib.Readers[0]->Log, log);
    EXPECT_EQ(lib.Writers[38]->Log, log);
    lib.SetLogLevel(3);
    EXPECT_EQ(log->Level, 3u);

    // A module built outside the tables keeps the pointer.
    const KXOperatorReg* reg = KX_FindOperatorReg("kxpResize");
    KXOperator* own = KX_NewOperator(&lib, *reg);
    EXPECT_EQ(own->Log, log);

    lib.StartLog();
    lib.StopLog();
    EXPECT_EQ(lib.GetLog(), log);
    EXPECT_NE(log->File, nullptr);
    lib.StopLog();
    EXPECT_EQ(lib.GetLog(), nullptr);
    EXPECT_EQ(lib.Operators[0]->Log, nullptr);
    EXPECT_EQ(lib.Writers[0]->Log, nullptr);
    // The closed log stays a valid object that writes nothing.
    EXPECT_EQ(log->File, nullptr);
    own->Log->Log(1, "%s\n", "after stop");
    own->Reset();
    EXPECT_EQ(own->Log, nullptr);
    lib.StopLog();  // one too many: nothing happens
    EXPECT_EQ(lib.GetLog(), nullptr);
    EXPECT_EQ(KX_LibState().LogRefCount, -1);

    // Starting again reuses the same object, reopened.
    KX_LibState().LogRefCount = 0;
    lib.StartLog();
    EXPECT_EQ(lib.GetLog(), log);
    EXPECT_NE(log->File, nullptr);
    EXPECT_EQ(log->Level, 3u);
    EXPECT_EQ(lib.Operators[5]->Log, log);
    own->Reset();
    EXPECT_EQ(own->Log, log);
    delete own;
    lib.StopLog();
}

TEST(KXClassTest, ShortLivedObjectLeavesTheProcessStateAlone) {
    setenv("TMPDIR", ::testing::TempDir().c_str(), 1);
    KXClass* app = new KXClass();
    _KXClass = app;
    app->SetInstanceId(0x1234);
    app->StartLog();
    KXLog* log = app->GetLog();
    {
        KXClass temp;
        temp.GetOperators();
        temp.GetObjects(0);
        EXPECT_EQ(temp.InstanceId, 0x1234u);
    }
    EXPECT_EQ(app->GetLog(), log);
    EXPECT_NE(log->File, nullptr);
    EXPECT_EQ(KX_GetProcessInstanceId(), 0x1234u);
    EXPECT_EQ(KX_LibState().LogRefCount, 1);
    EXPECT_EQ(_KXClass, app);
    app->StopLog();
    // The published object does not dangle after it is destroyed.
    delete app;
    EXPECT_EQ(_KXClass, nullptr);
}

// Every new library object replaces the process-wide texts; what a module
// (possibly on the other thread) read before must stay readable.
TEST(KXClassTest, ProcessWideTextsReadEarlierStayValid) {
    KeepTmpdir keep;
    const std::string one = KXT_NewTempDir("/tmp/kx-one-XXXXXX"), two = KXT_NewTempDir("/tmp/kx-two-XXXXXX");
    const std::string own = "/kaxon5-" + std::to_string(getuid()) + "/";
    setenv("TMPDIR", one.c_str(), 1);
    KXClass first;
    first.SetPaths("/opt/one", "/home/one");
    const char* temp = KX_GetProcessTempDir();
    const char* prog = KX_GetProcessProgDir();
    const char* settings = KX_GetProcessSettingsDir();
    const char* archive = KX_GetProcessArchiveSettingsDir();

    setenv("TMPDIR", two.c_str(), 1);
    KXClass second;
    second.SetPaths("/opt/two", "/home/two");
    EXPECT_EQ(std::string(KX_GetProcessTempDir()), two + own);
    EXPECT_STREQ(KX_GetProcessSettingsDir(), "/home/two/ENV/Kaxon5-Library/");
    EXPECT_EQ(std::string(temp), one + own);
    EXPECT_STREQ(prog, "/opt/one/");
    EXPECT_STREQ(settings, "/home/one/ENV/Kaxon5-Library/");
    EXPECT_STREQ(archive, "/opt/one/ENV/Kaxon5-Library/");
    std::filesystem::remove_all(one);
    std::filesystem::remove_all(two);
}

// Under TMPDIR too the library keeps its files in a folder of its own that
// only this user can enter. A name planted there beforehand (a link, a
// folder others may use, a file) is never used: a fresh private folder is
// made beside it. Where none can be made there is no temporary folder, with
// a clear error, rather than a shared one.
TEST(KXClassTest, PrivateFolderUnderTmpdirOrAClearError) {
    KeepTmpdir keep;
    const std::string uid = std::to_string(getuid());
    const std::string fixedName = "kaxon5-" + uid;
    struct Case {
        const char* what;
        std::function<void(const std::string& fixed)> plant;
        bool fixedUsed;
    } cases[] = {
        {"nothing there yet", [](const std::string&) {}, true},
        {"our own private folder", [](const std::string& f) { ASSERT_EQ(mkdir(f.c_str(), 0700), 0); }, true},
        {"a folder others may enter", [](const std::string& f) {
             ASSERT_EQ(mkdir(f.c_str(), 0700), 0);
             ASSERT_EQ(chmod(f.c_str(), 0777), 0);
         }, false},
        {"a link to a folder", [](const std::string& f) {
             ASSERT_EQ(mkdir((f + "-target").c_str(), 0700), 0);
             ASSERT_EQ(symlink((f + "-target").c_str(), f.c_str()), 0);
         }, false},
        {"a file", [](const std::string& f) { ASSERT_TRUE(KXT_WriteFile(f, "x")); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string base = KXT_NewTempDir("/tmp/kx-priv-XXXXXX");
        const std::string fixed = base + "/" + fixedName;
        c.plant(fixed);
        setenv("TMPDIR", base.c_str(), 1);
        KXClass lib;
        const std::string dir = lib.TempDir;
        EXPECT_STREQ(KX_TempDirError(), "");
        if (c.fixedUsed) {
            EXPECT_EQ(dir, fixed + "/");
        } else {
            EXPECT_EQ(dir.rfind(fixed + "-", 0), 0u) << dir;
            EXPECT_NE(dir, fixed + "-target/");
        }
        struct stat st;
        ASSERT_EQ(lstat(dir.substr(0, dir.size() - 1).c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_EQ(st.st_uid, getuid());
        // Nothing of ours went through the planted link.
        if (KXT_Exists(fixed + "-target")) EXPECT_EQ(KXT_CountEntries(fixed + "-target"), 0);
        std::filesystem::remove_all(base);
    }

    // No private folder possible: a TMPDIR that does not exist, or that is a file.
    const std::string root = KXT_NewTempDir("/tmp/kx-nopriv-XXXXXX");
    ASSERT_TRUE(KXT_WriteFile(root + "/file", "x"));
    for (const std::string& tmp : {root + "/missing", root + "/file"}) {
        SCOPED_TRACE(tmp);
        setenv("TMPDIR", tmp.c_str(), 1);
        KXClass lib;
        const std::string error = KX_TempDirError();
        EXPECT_NE(error.find(tmp + "/" + fixedName), std::string::npos) << error;
        // Files meant for the temporary folder cannot be made anywhere.
        const std::string probe = std::string(lib.TempDir) + "probe.tmp";
        FILE* f = fopen(probe.c_str(), "wb");
        EXPECT_EQ(f, nullptr) << probe;
        if (f) fclose(f);
        EXPECT_EQ(std::string(lib.TempDir).rfind("/tmp/", 0), std::string::npos) << lib.TempDir;
        char name[512];
        ASSERT_NE(KXSUP_MakeTempFileName(&lib, name, sizeof(name), 1, "t", "tmp"), nullptr);
        EXPECT_EQ(fopen(name, "wb"), nullptr);
    }
    // A usable TMPDIR again: the error is gone.
    setenv("TMPDIR", root.c_str(), 1);
    KXClass lib;
    EXPECT_STREQ(KX_TempDirError(), "");
    EXPECT_EQ(std::string(lib.TempDir), root + "/" + fixedName + "/");
    std::filesystem::remove_all(root);
}

// Instance numbers: the process id below random bits, so that two
// processes, even started at the same moment, never name files alike.
TEST(KXClassTest, InstanceNumbersOfTwoProcessesDiffer) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < 4; ++i) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const uint32_t ids[2] = {KX_NewInstanceId(), (uint32_t)getpid()};
            _exit(write(fds[1], ids, sizeof(ids)) == (ssize_t)sizeof(ids) ? 0 : 1);
        }
        children.push_back(pid);
    }
    close(fds[1]);
    std::set<uint32_t> seen = {KX_NewInstanceId()};
    EXPECT_EQ(*seen.begin() & 0x3FFFFFu, (uint32_t)getpid() & 0x3FFFFFu);
    uint32_t ids[2];
    int got = 0;
    while (read(fds[0], ids, sizeof(ids)) == (ssize_t)sizeof(ids)) {
        ++got;
        EXPECT_EQ(ids[0] & 0x3FFFFFu, ids[1] & 0x3FFFFFu);
        EXPECT_TRUE(seen.insert(ids[0]).second);
    }
    close(fds[0]);
    for (pid_t c : children) waitpid(c, nullptr, 0);
    EXPECT_EQ(got, 4);
    // The high bits come from a random source: a few draws in one process
    // do not all agree (the chance that eight do is 2^-70).
    std::set<uint32_t> draws;
    for (int i = 0; i < 8; ++i) draws.insert(KX_NewInstanceId() >> 22);
    EXPECT_GT(draws.size(), 1u);
}

// Without TMPDIR: a private directory, picked once. When the fixed name is
// not usable, the fresh directory made instead serves every later library
// object too, so the log and the temporary files stay together.
TEST(KXClassTest, PrivateTempDirectoryIsPickedOnce) {
    unsetenv("TMPDIR");
    const std::string fixed = "/tmp/kaxon5-" + std::to_string(getuid());
    {
        KXClass a, b;
        EXPECT_EQ(std::string(a.TempDir), fixed + "/");
        EXPECT_STREQ(b.TempDir, a.TempDir);
        struct stat st;
        ASSERT_EQ(lstat(fixed.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_EQ(st.st_uid, getuid());
    }
    // Make the fixed name unusable for a moment (group-readable).
    ASSERT_EQ(chmod(fixed.c_str(), 0750), 0);
    std::string firstDir, secondDir;
    {
        KXClass a;
        firstDir = a.TempDir;
        KXClass b;
        secondDir = b.TempDir;
    }
    chmod(fixed.c_str(), 0700);
    EXPECT_NE(firstDir, fixed + "/");
    EXPECT_EQ(firstDir.rfind(fixed + "-", 0), 0u) << firstDir;
    EXPECT_EQ(secondDir, firstDir);
    rmdir(firstDir.c_str());
    if (secondDir != firstDir) rmdir(secondDir.c_str());
}

TEST(KXClassTest, TempFileNames) {
    KXClass lib;
    lib.SetInstanceId(0x12);
    char buf[512];
    ASSERT_EQ(KXSUP_MakeTempFileName(&lib, buf, sizeof(buf), 2, "tiff", "tif"), buf);
    EXPECT_TRUE(matchesWithHex(buf, std::string(lib.TempDir) + "tiff_12_", "-2.tif")) << buf;

    // Without a library object: the process-wide directory and id.
    lib.SetInstanceId(0xabc);
    ASSERT_NE(KXSUP_MakeTempFileName(nullptr, buf, sizeof(buf), -1, "x", "bin"), nullptr);
    EXPECT_TRUE(matchesWithHex(buf, std::string(KX_GetProcessTempDir()) + "x_abc_", "--1.bin")) << buf;

    // Missing arguments and a buffer too small give null.
    EXPECT_EQ(KXSUP_MakeTempFileName(&lib, nullptr, 10, 1, "a", "b"), nullptr);
    EXPECT_EQ(KXSUP_MakeTempFileName(&lib, buf, sizeof(buf), 1, nullptr, "b"), nullptr);
    EXPECT_EQ(KXSUP_MakeTempFileName(&lib, buf, sizeof(buf), 1, "a", nullptr), nullptr);
    EXPECT_EQ(KXSUP_MakeTempFileName(&lib, buf, 0, 1, "a", "b"), nullptr);
    ASSERT_NE(KXSUP_MakeTempFileName(&lib, buf, sizeof(buf), 7, "n", "e"), nullptr);
    size_t need = strlen(buf) + 1;
    char exact[512];
    EXPECT_EQ(KXSUP_MakeTempFileName(&lib, exact, need, 7, "n", "e"), exact);
    char shortBuf[512];
    memset(shortBuf, 'x', sizeof(shortBuf));
    EXPECT_EQ(KXSUP_MakeTempFileName(&lib, shortBuf, need - 1, 7, "n", "e"), nullptr);
    EXPECT_EQ(shortBuf[0], 0);
}
