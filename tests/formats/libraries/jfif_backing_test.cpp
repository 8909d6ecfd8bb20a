// The memory limit of our libjpeg coders and the temporary files that hold
// whole-image arrays beyond it: the same bytes and pixels as without a
// limit, memory held near the limit, no file left, libjpeg's errors when the
// folder or the disk fails.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <csetjmp>

#include <jerror.h>

#include "core/kxclass.h"
#include "core/memory.h"
#include "formats/libraries/jpeg_backing.h"
#include "jfif_helpers.h"
#include "support/testfiles.h"

using namespace jfiftest;

namespace {

constexpr uint32_t kWidth = 1500, kHeight = 1000;
constexpr long kSmallLimit = 500000;
// What libjpeg allocates after the arrays are placed (row buffers of the
// colour conversion and sampling): the limit is advisory for those.
constexpr uint64_t kOvershoot = 64000;

// A library object whose temporary folder is a directory of the test's own.
struct PrivateTemp {
    KXClass lib;
    std::string dir;
    std::string slashed;
    PrivateTemp() {
        lib.Init();
        dir = KXT_NewTempDir(TempPath("backingXXXXXX"));
        use(dir + "/");
    }
    void use(const std::string& folder) {
        if (lib.TempDirOwned) FreeVec(lib.TempDir);
        lib.TempDirOwned = false;
        slashed = folder;
        lib.TempDir = slashed.data();
    }
    ~PrivateTemp() {
        use("");
        rmdir(dir.c_str());
    }
};

Settings With(Settings s, long limit) {
    s["MAX_MEMORY"] = std::to_string(limit);
    return s;
}

}  // namespace

// Saving with whole-image arrays (progressive scans, optimised tables) and
// loading them back (progressive decoding, two-pass quantising to 8 bits)
// give the same file and the same picture under a 500 KB limit as without
// one, hold far less memory, and leave nothing in the temporary folder.
struct BackingCase {
    const char* name;
    Settings save;
    Settings load;
};

const BackingCase kBackingCases[] = {
    {"progressive", {{"PROGRESSIVE", "ON"}, {"QUANTIZATION", "90"}}, {}},
    {"optimised", {{"OPTIMIZE", "ON"}}, {{"COLORDEPTH", "8"}}},
    {"progressive_grey", {{"PROGRESSIVE", "ON"}, {"OPTIMIZE", "ON"}, {"GRAY_ENCODE", "ON"}}, {{"SCALING", "HALF"}}},
};

class JfifBacking : public ::testing::TestWithParam<BackingCase> {};

TEST_P(JfifBacking, SameBytesAndPixelsUnderALimit) {
    const BackingCase& c = GetParam();
    PrivateTemp temp;
    Buffer img = MakeRgb(kWidth, kHeight);
    const std::string free = TempPath(std::string("free_") + c.name + ".jpg");
    const std::string small = TempPath(std::string("small_") + c.name + ".jpg");

    Jfif saveFree(With(c.save, 0), &temp.lib), saveSmall(With(c.save, kSmallLimit), &temp.lib);
    ASSERT_EQ(saveFree.Save(img.get(), free), KXERR_NONE);
    ASSERT_EQ(saveSmall.Save(img.get(), small), KXERR_NONE);
    EXPECT_EQ(KXT_ReadBytes(free), KXT_ReadBytes(small));
    EXPECT_EQ(saveFree.obj.MemoryStats.files, 0u);
    EXPECT_GE(saveSmall.obj.MemoryStats.files, 1u);
    EXPECT_GT(saveSmall.obj.MemoryStats.fileBytes, 1000000u);
    // The coefficients of the whole picture alone are megabytes.
    EXPECT_GT(saveFree.obj.MemoryStats.peak, 2000000u);
    EXPECT_LT(saveSmall.obj.MemoryStats.peak, (uint64_t)kSmallLimit + kOvershoot);
    EXPECT_EQ(KXT_CountEntries(temp.dir), 0);

    Jfif loadFree(With(c.load, 0), &temp.lib), loadSmall(With(c.load, kSmallLimit), &temp.lib);
    ASSERT_EQ(loadFree.Load(free), KXERR_NONE);
    ASSERT_EQ(loadSmall.Load(free), KXERR_NONE);
    const KX_GfxBuffer *a = loadFree.Image(), *b = loadSmall.Image();
    ASSERT_EQ(a->BufferSize, b->BufferSize);
    EXPECT_EQ(memcmp(a->Data, b->Data, a->BufferSize), 0);
    if (a->PixelBits == 8) {
        EXPECT_EQ(memcmp(a->Palette, b->Palette, 768), 0);
    }
    EXPECT_GE(loadSmall.obj.MemoryStats.files, 1u);
    EXPECT_GT(loadFree.obj.MemoryStats.peak, 1000000u);
    EXPECT_LT(loadSmall.obj.MemoryStats.peak, (uint64_t)kSmallLimit + kOvershoot);
    EXPECT_EQ(KXT_CountEntries(temp.dir), 0);
    remove(free.c_str());
    remove(small.c_str());
}

INSTANTIATE_TEST_SUITE_P(Cases, JfifBacking, ::testing::ValuesIn(kBackingCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The limit: 1000000 bytes, or JPEGMEM in thousands (millions with M);
// MAX_MEMORY in the pad comes before both.
TEST(JfifBackingLimit, DefaultEnvironmentAndKey) {
    struct Row {
        const char* env;
        long limit;
    };
    const Row rows[] = {{nullptr, 1000000}, {"500", 500000}, {"2M", 2000000}, {"3m", 3000000},
                        {"0", 0},           {"x", 1000000},  {"-4", 1000000}};
    const char* saved = getenv("JPEGMEM");
    const std::string keep = saved ? saved : "";
    for (const Row& r : rows) {
        if (r.env) setenv("JPEGMEM", r.env, 1);
        else unsetenv("JPEGMEM");
        EXPECT_EQ(KXJPEG_DefaultMemoryLimit(), r.limit) << (r.env ? r.env : "unset");
    }

    // JPEGMEM alone sends a progressive save to a temporary file; the
    // key set to 0 keeps it in memory.
    PrivateTemp temp;
    Buffer img = MakeRgb(600, 400);
    const std::string jpg = TempPath("env.jpg");
    setenv("JPEGMEM", "50", 1);
    {
        Jfif s({{"PROGRESSIVE", "ON"}}, &temp.lib);
        ASSERT_EQ(s.Save(img.get(), jpg), KXERR_NONE);
        EXPECT_GE(s.obj.MemoryStats.files, 1u);
        Jfif k({{"PROGRESSIVE", "ON"}, {"MAX_MEMORY", "0"}}, &temp.lib);
        ASSERT_EQ(k.Save(img.get(), jpg), KXERR_NONE);
        EXPECT_EQ(k.obj.MemoryStats.files, 0u);
    }
    if (saved) setenv("JPEGMEM", keep.c_str(), 1);
    else unsetenv("JPEGMEM");
    // Without either, the default limit holds the 600 x 400 coefficients
    // (about 700 KB) in memory.
    Jfif d({{"PROGRESSIVE", "ON"}}, &temp.lib);
    ASSERT_EQ(d.Save(img.get(), jpg), KXERR_NONE);
    EXPECT_EQ(d.obj.MemoryStats.files, 0u);
    remove(jpg.c_str());
}

// A temporary folder that cannot take the file ends the save with 31 and the
// load with 14, through libjpeg's "Failed to create temporary file".
TEST(JfifBackingLimit, FailingFolderEndsTheCoding) {
    PrivateTemp temp;
    Buffer img = MakeRgb(600, 400);
    const std::string jpg = TempPath("folder.jpg");
    {
        Jfif s({{"PROGRESSIVE", "ON"}}, &temp.lib);
        ASSERT_EQ(s.Save(img.get(), jpg), KXERR_NONE);
    }
    temp.use(temp.dir + "/missing/");
    Jfif s({{"PROGRESSIVE", "ON"}, {"MAX_MEMORY", "50000"}}, &temp.lib);
    const std::string out = TempPath("folder_out.jpg");
    EXPECT_EQ(s.Save(img.get(), out), KXERR_ENCODE);
    EXPECT_FALSE(KXT_Exists(out));
    Jfif r({{"MAX_MEMORY", "50000"}}, &temp.lib);
    EXPECT_EQ(r.Load(jpg), KXERR_DECODE);
    EXPECT_EQ(r.Image(), nullptr);
    remove(jpg.c_str());
}

namespace {

struct Jump {
    jpeg_error_mgr pub;
    jmp_buf jump;
};

[[noreturn]] void jumpBack(j_common_ptr c) { longjmp(reinterpret_cast<Jump*>(c->err)->jump, 1); }

// A progressive save into memory through a coder with our backing store;
// libjpeg's message code at the failure, or 0.
int CompressWithBacking(const std::string& folder, long limit, std::string* text) {
    jpeg_compress_struct c;
    Jump e;
    c.err = jpeg_std_error(&e.pub);
    e.pub.error_exit = jumpBack;
    unsigned char* out = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t> row(kWidth * 3);
    int code = 0;
    if (setjmp(e.jump)) {
        code = e.pub.msg_code;
        char message[JMSG_LENGTH_MAX];
        e.pub.format_message(reinterpret_cast<j_common_ptr>(&c), message);
        *text = message;
    } else {
        jpeg_create_compress(&c);
        KXJPEG_InstallBackingStore(reinterpret_cast<j_common_ptr>(&c), folder.c_str(), limit, nullptr);
        jpeg_mem_dest(&c, &out, &size);
        c.image_width = kWidth;
        c.image_height = kHeight;
        c.input_components = 3;
        c.in_color_space = JCS_RGB;
        jpeg_set_defaults(&c);
        jpeg_simple_progression(&c);
        jpeg_start_compress(&c, TRUE);
        while (c.next_scanline < kHeight) {
            for (uint32_t x = 0; x < kWidth * 3; ++x) row[x] = Sample(x / 3, c.next_scanline, x % 3);
            JSAMPROW r = row.data();
            jpeg_write_scanlines(&c, &r, 1);
        }
        jpeg_finish_compress(&c);
    }
    jpeg_destroy_compress(&c);
    free(out);
    return code;
}

}  // namespace

// libjpeg's own messages: a folder that cannot take the file, and a disk
// that fills up (a file-size limit) while the coefficients are written.
TEST(JfifBackingLimit, LibjpegErrorsForCreateAndWrite) {
    PrivateTemp temp;
    std::string text;
    EXPECT_EQ(CompressWithBacking(temp.dir + "/missing/", kSmallLimit, &text), JERR_TFILE_CREATE);
    EXPECT_EQ(text.rfind("Failed to create temporary file " + temp.dir + "/missing/JPG", 0), 0u) << text;

    struct sigaction ignore = {}, old = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old);
    rlimit before = {};
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit small = before;
    small.rlim_cur = 65536;
    setrlimit(RLIMIT_FSIZE, &small);
    const int code = CompressWithBacking(temp.slashed, kSmallLimit, &text);
    setrlimit(RLIMIT_FSIZE, &before);
    sigaction(SIGXFSZ, &old, nullptr);
    EXPECT_EQ(code, JERR_TFILE_WRITE);
    EXPECT_EQ(text, "Write failed on temporary file --- out of disk space?");
    EXPECT_EQ(KXT_CountEntries(temp.dir), 0);
    EXPECT_EQ(CompressWithBacking(temp.slashed, kSmallLimit, &text), 0);
}
