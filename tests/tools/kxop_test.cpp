// kxop, the whole-program runner of the comparison script: it loads with
// the readers (recognised by content), runs an operator by number or class
// name with its keys, and saves with the writer named or the one of the
// output's extension (or subtype), with the writer's keys. Its output is
// read back by netpbm where netpbm reads the format.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kxlib.h"
#include "support/testfiles.h"

extern char** environ;

namespace {

// Runs kxop from beside the test binary with args; the exit status, and
// its messages in *err.
int RunKxop(const std::vector<std::string>& args, const std::string& dir, std::string* err = nullptr)
{
    const std::string tool = std::string(KX_GetExecutableDir()) + "kxop";
    const std::string errFile = dir + "/stderr.txt";
    std::vector<char*> argv = {const_cast<char*>(tool.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    int status = -1;
    if (posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ) == 0) waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    if (err) *err = KXT_ReadFile(errFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Output of a shell command (netpbm reading a file back).
std::string Capture(const std::string& command)
{
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

// A 5 x 3 picture of distinct colours as raw PPM, and its rows mirrored.
std::string Ppm(bool mirrored)
{
    std::string s = "P6\n5 3\n255\n";
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 5; x++) {
            const int sx = mirrored ? 4 - x : x;
            s += static_cast<char>(sx * 50);
            s += static_cast<char>(y * 100 + 7);
            s += static_cast<char>(255 - sx * 13 - y);
        }
    return s;
}

class Kxop : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (access((std::string(KX_GetExecutableDir()) + "kxop").c_str(), X_OK) != 0) GTEST_SKIP() << "kxop is not built";
        dir = KXT_NewTempDir(std::string(KX_GetProcessTempDir()) + "kxopXXXXXX");
        in = dir + "/in.ppm";
        ASSERT_TRUE(KXT_WriteFile(in, Ppm(false)));
    }
    std::string dir, in;
};

}  // namespace

TEST_F(Kxop, ConvertsToTheWriterOfTheNameOrExtension)
{
    struct Case {
        std::vector<std::string> options;  // before "-"
        const char* out;
        const char* reader;  // netpbm command reading OUT back as PPM, or none
        const char* magic;   // first bytes of the file, or none
    };
    const Case cases[] = {
        {{}, "a.bmp", "bmptoppm", "BM"},
        {{}, "a.PNG", "pngtopnm", "\x89PNG"},
        {{"-f", "kxoBMP"}, "b.dat", "bmptoppm", "BM"},
        {{"-f", "png"}, "b.img", "pngtopnm", "\x89PNG"},
        {{}, "a.ppm", "ppmtoppm <", "P6"},
        {{"-s", "PPM (P6)"}, "b.pgm", "ppmtoppm <", "P6"},
        // The usual endings of a format name its writer too.
        {{}, "a.jpg", nullptr, "\xFF\xD8\xFF"},
        {{}, "a.JPEG", nullptr, "\xFF\xD8\xFF"},
        {{}, "a.jpe", nullptr, "\xFF\xD8\xFF"},
        {{}, "a.jfif", nullptr, "\xFF\xD8\xFF"},
        {{}, "a.tif", "tifftopnm", nullptr},
        {{}, "a.tiff", "tifftopnm", nullptr},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.options;
        const std::string out = dir + "/" + c.out;
        args.insert(args.end(), {"-", in, out});
        std::string err;
        ASSERT_EQ(RunKxop(args, dir, &err), 0) << c.out << ": " << err;
        if (c.magic) {
            EXPECT_EQ(KXT_ReadFile(out).rfind(c.magic, 0), 0u) << c.out;
        }
        // JPEG is lossy: its start is all a byte comparison can check.
        if (!c.reader) continue;
        const std::string tool = std::string(c.reader).substr(0, std::string(c.reader).find(' '));
        if (!KXT_HaveTool(tool.c_str())) {
            std::printf("%s is missing: %s not read back\n", tool.c_str(), c.out);
            continue;
        }
        EXPECT_EQ(Capture(std::string(c.reader) + " " + out + " 2>/dev/null"), Ppm(false)) << c.out;
    }

    // An extension that starts a subtype's name picks that subtype; the grey
    // map of the picture has one byte a pixel.
    ASSERT_EQ(RunKxop({"-", in, dir + "/g.pgm"}, dir), 0);
    const std::string grey = KXT_ReadFile(dir + "/g.pgm");
    EXPECT_EQ(grey.rfind("P5", 0), 0u);
    EXPECT_EQ(grey.size(), std::string("P5\n5 3\n255\n").size() + 15);

    // The writer's keys reach it: zlib level 0 stores a flat picture, level
    // 9 packs it.
    const std::string flat = dir + "/flat.ppm";
    ASSERT_TRUE(KXT_WriteFile(flat, "P6\n64 64\n255\n" + std::string(64 * 64 * 3, '\x55')));
    ASSERT_EQ(RunKxop({"-w", "Z_COMPRESSION=0", "-", flat, dir + "/c.png"}, dir), 0);
    ASSERT_EQ(RunKxop({"-w", "Z_COMPRESSION=9", "-", flat, dir + "/d.png"}, dir), 0);
    EXPECT_GT(KXT_ReadFile(dir + "/c.png").size(), 64u * 64 * 3);
    EXPECT_LT(KXT_ReadFile(dir + "/d.png").size(), 1000u);
}

TEST_F(Kxop, RunsAnOperatorByNumberOrClassWithItsKeys)
{
    // The input is recognised by its content, not by its name.
    const std::string disguised = dir + "/in.bmp";
    ASSERT_TRUE(KXT_WriteFile(disguised, Ppm(false)));
    uint32_t count = 0;
    const KXOperatorReg* regs = KX_OperatorRegs(&count);
    std::string number;
    for (uint32_t i = 0; i < count; i++)
        if (!strcmp(regs[i].ClassName, "kxpLeftToRight")) number = std::to_string(i);
    ASSERT_FALSE(number.empty());
    for (const std::string& op : {std::string("kxpLeftToRight"), number}) {
        const std::string out = dir + "/m" + op + ".ppm";
        std::string err;
        ASSERT_EQ(RunKxop({op, disguised, out}, dir, &err), 0) << op << ": " << err;
        EXPECT_EQ(KXT_ReadFile(out), Ppm(true)) << op;
    }
    // A key changes the run: half a turn keeps the size, a quarter turn
    // (the default) swaps it.
    ASSERT_EQ(RunKxop({"kxpRotate", in, dir + "/r180.ppm", "DEGREES=180"}, dir), 0);
    ASSERT_EQ(RunKxop({"kxpRotate", in, dir + "/r90.ppm"}, dir), 0);
    EXPECT_EQ(KXT_ReadFile(dir + "/r180.ppm").rfind("P6\n5 3\n", 0), 0u);
    EXPECT_EQ(KXT_ReadFile(dir + "/r90.ppm").rfind("P6\n3 5\n", 0), 0u);
}

TEST_F(Kxop, RefusesWhatItCannotDo)
{
    ASSERT_TRUE(KXT_WriteFile(dir + "/noise.dat", std::string("\x01\x02 not a picture at all", 24)));
    uint32_t count = 0;
    KX_OperatorRegs(&count);
    std::string placeholder;
    for (uint32_t i = 0; i < count && placeholder.empty(); i++)
        if (!KX_OperatorIsBuilt(i)) placeholder = std::to_string(i);
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    const std::string out = dir + "/out.ppm";
    std::vector<Case> cases = {
        {{"-", in}, 2, "usage"},
        {{"-x", "-", in, out}, 2, "usage"},
        {{"kxpNoSuchOperator", in, out}, 2, "no operator"},
        {{"99999", in, out}, 2, "no operator"},
        {{"-", in, out, "KEY=1"}, 2, "without an operator"},
        {{"-", in, dir + "/out.xyz"}, 2, "no writer"},
        {{"-f", "kxoNoSuchWriter", "-", in, out}, 2, "no writer"},
        {{"-s", "nope", "-", in, out}, 2, "no subtype"},
        {{"-", dir + "/noise.dat", out}, 1, "noise.dat"},
        {{"-", dir + "/missing.ppm", out}, 1, "cannot open"},
        {{"kxpResize", in, out, "NEW_WIDTH=1"}, 1, "operator"},
        {{"-", in, dir + "/no/such/folder/out.ppm"}, 1, "cannot save"},
    };
    // An operator without a module of its own is no operator to run; once
    // every operator has one, there is nothing left to refuse here.
    if (!placeholder.empty()) cases.push_back({{placeholder, in, out}, 2, "no operator"});
    for (const Case& c : cases) {
        std::string err;
        EXPECT_EQ(RunKxop(c.args, dir, &err), c.status) << c.args.back();
        EXPECT_NE(err.find(c.says), std::string::npos) << c.args.back() << ": " << err;
        EXPECT_NE(access(out.c_str(), F_OK), 0) << "no output after a failure: " << c.args.back();
    }
}
