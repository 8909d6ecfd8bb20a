// pcdtojpeg, our Photo CD converter: Base/16 to Base decoded by kxlib's
// decoder and written as JPEG at the quality asked; 4Base and above refused
// with status 2 and no file; usage and errors by exit status.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "formats/libraries/kxoJFIF.h"
#include "formats/libraries/pcd_bytes.h"
#include "support/testfiles.h"
#include "tool_run.h"

TEST(Pcdtojpeg, ResolutionsUpToBaseAndNoneAbove) {
    const std::string dir = KXT_NewTempDir(std::string(KX_GetProcessTempDir()) + "pcd_XXXXXX");
    const std::string in = dir + "/in.pcd", out = dir + "/out.jpg";
    ASSERT_TRUE(KXT_WriteBytes(in, pcdtest::MakePack(pcdtest::Smooth)));
    for (int r = 0; r < 3; ++r) {
        SCOPED_TRACE(r);
        ASSERT_EQ(RunOwnTool("pcdtojpeg", {"-q", "90", "-r", std::to_string(r), in, out}), 0);
        kxoJFIF jpeg(nullptr);
        jpeg.SetReadName(out.c_str());
        ASSERT_EQ(jpeg.Load(), 0u);
        KX_GfxBuffer* b = nullptr;
        jpeg.GetGfxBuffer(&b);
        EXPECT_EQ(b->Width, pcdtest::kResolutions[r].width);
        EXPECT_EQ(b->Height, pcdtest::kResolutions[r].height);
        jpeg.Reset();
    }
    // Quality reaches the encoder: 10 makes a much smaller file than 100.
    ASSERT_EQ(RunOwnTool("pcdtojpeg", {"-q", "100", "-r", "2", in, out}), 0);
    const size_t best = KXT_ReadBytes(out).size();
    ASSERT_EQ(RunOwnTool("pcdtojpeg", {"-q", "10", "-r", "2", in, out}), 0);
    EXPECT_LT(KXT_ReadBytes(out).size() * 3, best);
    unlink(out.c_str());
    for (const char* r : {"3", "4", "5"}) {
        EXPECT_EQ(RunOwnTool("pcdtojpeg", {"-q", "100", "-r", r, in, out}), 2) << r;
        EXPECT_EQ(KXT_CountEntries(dir), 1) << "no picture passed off as " << r;
    }
    std::filesystem::remove_all(dir);
}

TEST(Pcdtojpeg, UsageAndErrors) {
    const std::string dir = KXT_NewTempDir(std::string(KX_GetProcessTempDir()) + "pcd_XXXXXX");
    const std::string in = dir + "/in.pcd", shortFile = dir + "/short.pcd", out = dir + "/out.jpg";
    ASSERT_TRUE(KXT_WriteBytes(in, pcdtest::MakePack(pcdtest::Busy)));
    ASSERT_TRUE(KXT_WriteBytes(shortFile, pcdtest::MakePack(pcdtest::Busy, 100000)));
    struct Row {
        std::vector<std::string> args;
        int status;
    } rows[] = {
        {{}, 2},
        {{"-q", "100", "-r", "0", in}, 2},
        {{"-q", "101", "-r", "0", in, out}, 2},
        {{"-q", "x", "-r", "0", in, out}, 2},
        {{"-q", "50", "-r", "6", in, out}, 2},
        {{"-r", "0", "-q", "50", in, out}, 2},
        {{"-q", "50", "-r", "0", dir + "/missing.pcd", out}, 1},
        {{"-q", "50", "-r", "2", shortFile, out}, 1},
        {{"-q", "50", "-r", "0", in, dir + "/no/folder/out.jpg"}, 1},
    };
    for (const Row& r : rows) EXPECT_EQ(RunOwnTool("pcdtojpeg", r.args), r.status) << r.args.size();
    EXPECT_EQ(KXT_CountEntries(dir), 2) << "no output from a failed run";
    std::filesystem::remove_all(dir);
}
