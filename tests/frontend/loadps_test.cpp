// The window's direct Ghostscript road (a PostScript pad naming GS_PATH):
// a relative name reaches Ghostscript as a file, never as "@" options, and
// an interpreter past the pad's TIME_LIMIT is ended with what it started.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/extrun.h"
#include "frontend_support.h"

using namespace kxt;

namespace {
bool Gone(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (stat.empty()) return true;
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && (stat[close + 2] == 'Z' || stat[close + 2] == 'X');
}
}  // namespace

TEST_F(AppFixture, GhostscriptRoadTakesAnAtNameAsTheFile) {
    KXT_NEED_FORMAT("kxoPNG");
    StartApp();
    if (_system("gs", nullptr, std::vector<const char*>{"-v", nullptr}.data()) != 0)
        GTEST_SKIP() << "needs Ghostscript (package ghostscript)";
    WriteFile(Dir / "@x.ps", "%!PS\n<< /PageSize [20 10] >> setpagedevice\n0 0 10 10 rectfill showpage\n");
    // What Ghostscript would run, with file access, if it read "@x.ps" as options.
    WriteFile(Dir / "x.ps", "-dNOSAFER -c (pwned) (w) file closefile\n");
    const int old = open(".", O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(chdir(Dir.Path.c_str()), 0);
    const uint32_t err = App->LoadPS("@x.ps", "gs", 72);
    EXPECT_EQ(fchdir(old), 0);
    close(old);
    ASSERT_EQ(err, 0u);
    ASSERT_NE(KX_GetGfxBuffer(), nullptr);
    EXPECT_EQ(KX_GetGfxBuffer()->Width, 20u);
    EXPECT_FALSE(fs::exists(Dir.Path / "pwned"));
}

TEST_F(AppFixture, GhostscriptRoadEndsAnInterpreterPastItsTimeLimit) {
    StartApp();
    // An "interpreter" that starts a helper and never finishes.
    const std::string gs = Dir / "hanging-gs", helper = Dir / "helper.pid";
    WriteFile(gs, "#!/bin/sh\nsleep 60 &\necho $! > '" + helper + "'\nwait\n");
    ASSERT_EQ(chmod(gs.c_str(), 0755), 0);
    const fs::path pads = Dir.Path / "home/ENV/Kaxon5-Library";
    fs::create_directories(pads);
    WriteFile((pads / "GS.controlpad").string(), "GS_PATH=" + gs + "\nTIME_LIMIT=1\n");
    const std::string ps = Dir / "loop.ps";
    WriteFile(ps, "%!PS-Adobe-3.0\n{} loop\n");
    EXPECT_EQ(App->LoadFile(ps.c_str()), static_cast<uint32_t>(KXERR_EXTERNALTOOL));
    EXPECT_EQ(KX_GetExternalTimeLimit(), KX_EXTERNAL_TIME_LIMIT) << "the pad's limit held for that run only";
    const std::string text = KXT_ReadFile(helper);
    ASSERT_FALSE(text.empty());
    const pid_t pid = static_cast<pid_t>(std::stol(text));
    for (int i = 0; i < 250 && !Gone(pid); ++i) usleep(20000);
    EXPECT_TRUE(Gone(pid));
}
