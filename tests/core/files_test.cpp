// Files: the side-file rule and its read/write, path splitting, the block
// reads' short/error results, seeking, and the safe save.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/kxlib.h"
#include "support/testfiles.h"

namespace {

std::string scratchDir() {
    static const std::string dir = KXT_NewTempDir("/tmp/kxfiletest-XXXXXX") + "/";
    return dir;
}

}  // namespace

TEST(Files, CommentFileName) {
    struct Case {
        const char* image;
        const char* side;
    };
    const Case cases[] = {
        {"/pics/cat.tiff", "/pics/cat_COMMENT.txt"},
        {"/my.dir/cat", "/my.dir/cat_COMMENT.txt"},  // a "." in a folder is no extension
        {"/pics/cat.tar.gz", "/pics/cat.tar_COMMENT.txt"},
        {"cat.png", "cat_COMMENT.txt"},
        {"cat", "cat_COMMENT.txt"},
    };
    char out[64];
    for (const Case& c : cases) {
        ASSERT_TRUE(KXSUP_CommentFileName(c.image, out, sizeof(out))) << c.image;
        EXPECT_STREQ(out, c.side);
    }
    EXPECT_FALSE(KXSUP_CommentFileName("/pics/cat.tiff", out, 21));  // one short
    EXPECT_TRUE(KXSUP_CommentFileName("/pics/cat.tiff", out, 22));
    EXPECT_FALSE(KXSUP_CommentFileName(nullptr, out, sizeof(out)));
}

TEST(Files, CommentIsWrittenAsBytesAndReadAsFirstLine) {
    std::string image = scratchDir() + "cat.tiff";
    ASSERT_EQ(amSetComment(image.c_str(), "abc\nxyz"), 1);
    EXPECT_EQ(KXT_ReadFile(scratchDir() + "cat_COMMENT.txt"), "abc\nxyz");
    char buf[80] = "stale";
    EXPECT_EQ(amGetComment(image.c_str(), buf, sizeof(buf)), 1);
    EXPECT_STREQ(buf, "abc\n");
    char small[3];
    EXPECT_EQ(amGetComment(image.c_str(), small, sizeof(small)), 1);
    EXPECT_STREQ(small, "ab");
    char one[1] = {'x'};
    EXPECT_EQ(amGetComment(image.c_str(), one, 1), 0);  // no room for a character
    EXPECT_EQ(one[0], 0);

    strcpy(buf, "stale");
    EXPECT_EQ(amGetComment((scratchDir() + "none.png").c_str(), buf, sizeof(buf)), 0);
    EXPECT_STREQ(buf, "");
    strcpy(buf, "stale");
    EXPECT_EQ(amGetComment(nullptr, buf, sizeof(buf)), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(amGetComment(image.c_str(), buf, 0), 0);
    EXPECT_EQ(amSetComment(nullptr, "x"), 0);
    EXPECT_EQ(amSetComment(image.c_str(), nullptr), 0);
    EXPECT_EQ(amSetComment((scratchDir() + "no/dir/a.png").c_str(), "x"), 0);
}

TEST(Files, PathParts) {
    struct Case {
        const char* path;
        const char* file;   // amFilePart
        size_t folderEnd;   // offset returned by amPathPart
    };
    const Case cases[] = {
        {"/a/b.png", "b.png", 2}, {"b.png", "b.png", 0}, {"/a/", "", 2}, {"/x", "x", 1}, {"//x", "x", 2}, {"C:b.png", "C:b.png", 0}, {"", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_STREQ(amFilePart(c.path), c.file);
        EXPECT_EQ(amPathPart(c.path) - c.path, (ptrdiff_t)c.folderEnd);
    }
    EXPECT_EQ(amFilePart(nullptr), nullptr);
    EXPECT_EQ(amPathPart(nullptr), nullptr);
}

TEST(Files, BlockReadsSeekAndBuffer) {
    std::string path = scratchDir() + "ten.bin";
    KXT_WriteFile(path, "0123456789");
    FILE* f = amOpen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buf[16] = {};
    EXPECT_EQ(amRead(f, buf, 4), 4);
    EXPECT_EQ(amSeek(f, 0, 1), 4);  // reports without moving
    EXPECT_EQ(amSeek(f, 0, 1), 4);
    EXPECT_EQ(amSeek(f, 2, 0), 4);  // the position before the move
    EXPECT_EQ(amFGetC(f), '2');
    static char vbuf[64];
    EXPECT_EQ(amSetVBuf(f, vbuf, _IOFBF, sizeof(vbuf)), 0);
    EXPECT_EQ(amFGetC(f), '3');  // position kept
    EXPECT_EQ(amFRead(f, buf, 1, 16), 6);
    EXPECT_EQ(amSeek(f, -3, 2), 10);
    EXPECT_EQ(amRead(f, buf, 4), 0);  // short block
    EXPECT_EQ(amClose(f), 0);

    FILE* w = amOpen(path.c_str(), "wb");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(amRead(w, buf, 4), -1);  // stream error: not open for reading
    EXPECT_EQ(amFRead(w, buf, 1, 4), -1);
    EXPECT_EQ(amWrite(w, "ab", 2), 2);
    EXPECT_EQ(amFWrite(w, "cd", 1, 2), 2);
    EXPECT_GE(amFPuts(w, "e\n"), 0);
    EXPECT_EQ(amFPutC(w, 0x141), 0x41);  // a byte: the low eight bits
    amClose(w);
    EXPECT_EQ(KXT_ReadFile(path).substr(0, 4), "abcd");

    EXPECT_EQ(amOpen(nullptr, "rb"), nullptr);
    EXPECT_EQ(amOpen(path.c_str(), nullptr), nullptr);
    EXPECT_EQ(amFileExists(path.c_str()), 1);
    std::string moved = scratchDir() + "moved.bin";
    EXPECT_EQ(amRename(path.c_str(), moved.c_str()), 1);
    EXPECT_EQ(amFileExists(path.c_str()), 0);
    EXPECT_EQ(amDeleteFile(moved.c_str()), 1);
    EXPECT_EQ(amDeleteFile(moved.c_str()), 0);
    EXPECT_EQ(amFileExists(nullptr), 0);
}

TEST(Files, SafeSaveKeepsTheOldFileUntilCommitted) {
    std::string dir = scratchDir() + "safe/";
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    std::string target = dir + "out.bmp";
    KXT_WriteFile(target, "old");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);

    KXSafeFile sf;
    FILE* f = KXSUP_SafeOpen(&sf, target.c_str());
    ASSERT_NE(f, nullptr);
    fputs("half", f);
    EXPECT_EQ(KXT_ReadFile(target), "old");
    EXPECT_EQ(KXSUP_SafeCommit(&sf, false), KXERR_IO);  // a failed save
    EXPECT_EQ(KXT_ReadFile(target), "old");
    EXPECT_EQ(KXT_CountEntries(dir), 1) << "temporary file left behind";

    f = KXSUP_SafeOpen(&sf, target.c_str());
    ASSERT_NE(f, nullptr);
    fputs("new", f);
    EXPECT_EQ(KXSUP_SafeCommit(&sf, true), KXERR_NONE);
    EXPECT_EQ(KXT_ReadFile(target), "new");
    EXPECT_EQ(KXT_CountEntries(dir), 1);
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // the replacement keeps the permissions

    EXPECT_EQ(KXSUP_SafeOpen(&sf, (dir + "no/such").c_str()), nullptr);
    EXPECT_EQ(KXSUP_SafeCommit(&sf, true), KXERR_IO);
    EXPECT_EQ(KXSUP_SafeOpen(nullptr, target.c_str()), nullptr);
}
