// A few hundred bytes that claim a picture of a gigabyte: a baseline JPEG
// and a lossless JPEG whose data ends at once load (the JPEG with its
// warning) without touching the picture beyond the rows they hold.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "formats/libraries/kxoLJPG.h"
#include "jfif_helpers.h"
#include "support/testfiles.h"

using namespace jfiftest;

namespace {

// Resident set now and at its peak since the last reset, in bytes.
uint64_t StatusField(const char* name) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(name, 0) == 0) return std::stoull(line.substr(strlen(name))) * 1024;
    return 0;
}

bool ResetPeak() {
    FILE* f = fopen("/proc/self/clear_refs", "w");
    if (!f) return false;
    const bool ok = fputs("5", f) >= 0;
    return fclose(f) == 0 && ok;
}

// What a load may add to the resident set, pictures of a gigabyte or more
// included: the sanitizers' own bookkeeping of such a block is counted in.
constexpr uint64_t kBound = 200u << 20;

// A 16 x 16 baseline JPEG whose frame header is made to claim
// 18758 x 19014 pixels, cut 40 bytes into its coded data.
std::vector<uint8_t> TinyBaseline() {
    const std::string path = TempPath("tiny_src.jpg");
    std::vector<uint8_t> f;
    if (!WriteLibjpeg(path, 16, 16, 3, JCS_YCbCr, nullptr, false)) return f;
    f = KXT_ReadBytes(path);
    remove(path.c_str());
    for (size_t i = 2; i + 9 < f.size(); ++i)
        if (f[i] == 0xFF && f[i + 1] == 0xC0) {
            f[i + 5] = 19014 >> 8;
            f[i + 6] = 19014 & 0xFF;
            f[i + 7] = 18758 >> 8;
            f[i + 8] = 18758 & 0xFF;
        }
    for (size_t i = 2; i + 3 < f.size(); ++i)
        if (f[i] == 0xFF && f[i + 1] == 0xDA) {
            const size_t data = i + 2 + ((size_t)f[i + 2] << 8 | f[i + 3]);
            f.resize(data + 40);
            break;
        }
    return f;
}

// A lossless JPEG of 30000 x 30000 grey samples: one Huffman code (category
// 0, one bit), eight bytes of data, the end marker.
const uint8_t kTinyLossless[] = {
    0xFF, 0xD8,                                                        // SOI
    0xFF, 0xC3, 0x00, 0x0B, 0x08, 0x75, 0x30, 0x75, 0x30, 0x01, 0x01, 0x11, 0x00,  // SOF3
    0xFF, 0xC4, 0x00, 0x14, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00,  // DHT
    0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x01, 0x00, 0x00,  // SOS, predictor 1
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // data
    0xFF, 0xD9,                                                  // EOI
};

}  // namespace

// What a load in a child process came to: 0, or the first check that failed.
enum ChildResult { kOk, kLoadFailed, kNoWarning, kWrongSize, kWrongPixels, kTooMuchMemory, kNoPeak };

int LoadTiny(const std::string& path, uint32_t depth, uint32_t width, uint32_t height) {
    if (!ResetPeak()) return kNoPeak;
    const uint64_t before = StatusField("VmRSS:");
    KX_GfxBuffer* b = nullptr;
    Jfif jpeg;
    kxoLJPG lossless(nullptr);
    if (depth == 24) {
        if (jpeg.Load(path) != KXERR_NONE) return kLoadFailed;
        if (jpeg.obj.LoadWarning != KXERR_EOF) return kNoWarning;
        b = jpeg.Image();
    } else {
        lossless.SetReadName(path.c_str());
        if (lossless.Load() != KXERR_NONE) return kLoadFailed;
        lossless.GetGfxBuffer(&b);
    }
    if (!b || b->Width != width || b->Height != height) return kWrongSize;
    if (StatusField("VmHWM:") >= before + kBound) return kTooMuchMemory;
    // The first row holds what the data gave; the untouched rest reads black.
    if (b->Data[0] == 0 || b->Data[b->BufferSize / 2] != 0) return kWrongPixels;
    lossless.Reset();
    return kOk;
}

// Each load runs in a child process, so that the gigabyte blocks leave no
// trace in this one (the sanitizers' bookkeeping of them stays resident).
TEST(JpegTinyFiles, CostOnlyTheRowsTheyHold) {
    if (!ResetPeak()) GTEST_SKIP() << "the peak resident set cannot be reset here";
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        uint32_t width, height, depth;
    };
    const Case cases[] = {
        {"baseline", TinyBaseline(), 18758, 19014, 24},
        {"lossless", std::vector<uint8_t>(std::begin(kTinyLossless), std::end(kTinyLossless)), 30000, 30000, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_LT(c.bytes.size(), 1024u);
        const std::string path = TempPath(std::string("tiny_") + c.name);
        ASSERT_TRUE(KXT_WriteBytes(path, c.bytes));
        fflush(nullptr);
        const pid_t pid = fork();
        if (pid == 0) _exit(LoadTiny(path, c.depth, c.width, c.height));
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), kOk) << "1 load failed, 2 no warning, 3 wrong size, 4 wrong pixels, 5 too much memory";
        remove(path.c_str());
    }
}

// A progressive file cut short that claims 2000 x 2000 pixels: every scan
// is read before the first row comes out, so the picture is made, but the
// coefficients its bytes never reached stay off the disk under the default
// memory limit.
TEST(JpegTinyFiles, ProgressiveZerosStayOffTheDisk) {
    const std::string src = TempPath("tiny_prog_src.jpg"), path = TempPath("tiny_prog.jpg");
    Buffer img = MakeRgb(64, 64);
    {
        Jfif s({{"PROGRESSIVE", "ON"}});
        ASSERT_EQ(s.Save(img.get(), src), KXERR_NONE);
    }
    std::vector<uint8_t> f = KXT_ReadBytes(src);
    for (size_t i = 2; i + 9 < f.size(); ++i)
        if (f[i] == 0xFF && f[i + 1] == 0xC2) {
            f[i + 5] = f[i + 7] = 2000 >> 8;
            f[i + 6] = f[i + 8] = 2000 & 0xFF;
        }
    for (size_t i = 2; i + 3 < f.size(); ++i)
        if (f[i] == 0xFF && f[i + 1] == 0xDA) {
            f.resize(i + 2 + ((size_t)f[i + 2] << 8 | f[i + 3]) + 30);
            break;
        }
    ASSERT_TRUE(KXT_WriteBytes(path, f));
    Jfif r;
    ASSERT_EQ(r.Load(path), KXERR_NONE);
    EXPECT_EQ(r.obj.LoadWarning, KXERR_EOF);
    ASSERT_NE(r.Image(), nullptr);
    EXPECT_EQ(r.Image()->Width, 2000u);
    EXPECT_GE(r.obj.MemoryStats.files, 1u);
    // Only the first windows, where the data was, reach the disk (of 12 MB).
    EXPECT_LT(r.obj.MemoryStats.fileBytes, 1000000u);
    remove(src.c_str());
    remove(path.c_str());
}
