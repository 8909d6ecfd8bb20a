// The log file: its path and first lines, the level gate, the state lines,
// overwrite and append, and a log whose file cannot be opened.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "core/kxlib.h"
#include "core/libstate.h"
#include "support/testfiles.h"

namespace {

// TMPDIR must be set before the temporary directory is first used.
std::string useFreshTemp(uint32_t instanceId) {
    std::string dir = KXT_NewTempDir("/tmp/kxlogtest-XXXXXX");
    setenv("TMPDIR", dir.c_str(), 1);
    // The library's private folder inside it.
    std::string temp = KX_RefreshProcessTempDir();
    KX_LibState().InstanceId = instanceId;
    return temp;
}

}  // namespace

TEST(Log, WritesExactLinesAndMarkers) {
    std::string temp = useFreshTemp(7);
    std::string path = temp + "kxlib_7.log";
    {
        KXLog log;
        ASSERT_NE(log.GetPath(), nullptr);
        EXPECT_EQ(std::string(log.GetPath()), path);
        EXPECT_EQ(log.Level, 0u);
        log.Log(1, "%-16s: dropped at level 0\n", "tiff");
        log.SetLevel(5);
        log.Log(5, "%-16s: %s %ld\n", "Resize.controlpad", "width", 640L);
        log.Log(9, "%-16s: too fine\n", "AllocVec");
        log.Print("%s\n", "printed regardless");
        log.Stop();
        log.Log(1, "%-16s: dropped while stopped\n", "tiff");
        log.Restart();
        EXPECT_EQ(log.Level, 5u);  // the level survives Stop and Restart
        log.Log(2, "%-16s: after restart\n", "lcms2");
        log.Close();
        EXPECT_EQ(log.Level, 0u);
        EXPECT_EQ(std::string(log.GetPath()), path);  // kept after Close
    }
    EXPECT_EQ(KXT_ReadFile(path),
              "Logfile: " + path + "\n"
              "***\n"
              "*** Loglevel changed to 5 ***\n"
              "Resize.controlpad: width 640\n"
              "printed regardless\n"
              "*** Logging stopped ***\n"
              "*** Logging restarted ***\n"
              "lcms2           : after restart\n"
              "*** Logging stopped ***\n");
}

TEST(Log, OverwriteEmptiesAndAppendKeeps) {
    std::string temp = useFreshTemp(3);
    std::ofstream(temp + "front_3.log") << "old line\n";
    KXLog log;  // kxlib_3.log
    log.Open("front", 0);
    log.Print("appended\n");
    log.Close();
    EXPECT_EQ(KXT_ReadFile(temp + "front_3.log"), "old line\nLogfile: " + temp + "front_3.log\n***\nappended\n*** Logging stopped ***\n");
    log.Open("front", 1);
    log.Close();
    EXPECT_EQ(KXT_ReadFile(temp + "front_3.log"), "Logfile: " + temp + "front_3.log\n***\n*** Logging stopped ***\n");
    // Opening the default again closed the first file, which is complete.
    EXPECT_EQ(KXT_ReadFile(temp + "kxlib_3.log"), "Logfile: " + temp + "kxlib_3.log\n***\n*** Logging stopped ***\n");
    log.Open(nullptr, 1);  // nothing happens
    EXPECT_EQ(log.File, nullptr);
}

TEST(Log, UnopenableFileDropsLinesAndRestartsLater) {
    std::string temp = useFreshTemp(1);
    // A folder in the log file's place: no file can be opened there.
    std::string path = temp + "kxlib_1.log";
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    KXLog log;
    EXPECT_EQ(log.File, nullptr);
    EXPECT_EQ(std::string(log.GetPath()), path);
    log.SetLevel(9);
    log.Log(1, "x\n");
    log.Print("x\n");
    log.Flush();
    log.Stop();
    ASSERT_EQ(rmdir(path.c_str()), 0);
    log.Restart();
    log.Log(1, "%s\n", "now");
    log.Close();
    EXPECT_EQ(KXT_ReadFile(path), "*** Logging restarted ***\nnow\n*** Logging stopped ***\n");
}
