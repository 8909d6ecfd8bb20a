// Tiny files that declare gigantic pictures: a reader whose data size
// follows from its header checks what the file can hold before it
// allocates, and gives its short-file code at once; one that loads short
// files in part (a BMP without an image size) or decodes compressed rows
// touches no more than the rows it writes. Each load runs in a child, which
// reports its code and how much its resident peak and its address space
// grew during the load.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/kxlib.h"
#include "support/testfiles.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr long kMiB = 1024;  // in the kilobytes of /proc/self/status

KXClass* Lib() {
    static KXClass* lib = new KXClass();
    return lib;
}

std::string TempPath(const std::string& name) {
    return std::string(KX_GetProcessTempDir()) + "tiny_" + std::to_string(getpid()) + "_" + name;
}

Bytes TextFile(const char* s) {
    Bytes b;
    KXT_PutText(b, s);
    return b;
}
// Pads (or leaves) the file to exactly n bytes with fill.
Bytes PadTo(Bytes b, size_t n, uint8_t fill) {
    if (b.size() < n) b.resize(n, fill);
    return b;
}

// The 40-byte Windows bitmap header.
void BmpInfo(Bytes& b, int32_t w, int32_t h, uint32_t bits, uint32_t compression, uint32_t imageSize, uint32_t colours) {
    KXT_PutLe32(b, 40);
    KXT_PutLe32(b, (uint32_t)w);
    KXT_PutLe32(b, (uint32_t)h);
    KXT_PutLe16(b, 1);
    KXT_PutLe16(b, bits);
    KXT_PutLe32(b, compression);
    KXT_PutLe32(b, imageSize);
    KXT_PutLe32(b, 2835);
    KXT_PutLe32(b, 2835);
    KXT_PutLe32(b, colours);
    KXT_PutLe32(b, 0);
}

// A Windows bitmap of the given bit count (up to 8: with its full grey
// map) and pixel bytes after it.
Bytes Bmp(int32_t w, int32_t h, uint32_t bits, uint32_t compression, uint32_t imageSize, const Bytes& pixels) {
    const uint32_t colours = bits <= 8 ? 1u << bits : 0, offset = 14 + 40 + 4 * colours;
    Bytes b;
    KXT_PutText(b, "BM");
    KXT_PutLe32(b, offset + (uint32_t)pixels.size());
    KXT_PutLe32(b, 0);
    KXT_PutLe32(b, offset);
    BmpInfo(b, w, h, bits, compression, imageSize, colours);
    for (uint32_t i = 0; i < colours; ++i) b.insert(b.end(), {(uint8_t)i, (uint8_t)i, (uint8_t)i, 0});
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

// OS/2 core header: no image size, so a short file loads in part.
Bytes Os2Bmp24(uint32_t w, uint32_t h, size_t total) {
    Bytes b;
    KXT_PutText(b, "BM");
    KXT_PutLe32(b, 0);
    KXT_PutLe32(b, 0);
    KXT_PutLe32(b, 14 + 12);
    KXT_PutLe32(b, 12);
    KXT_PutLe16(b, w);
    KXT_PutLe16(b, h);
    KXT_PutLe16(b, 1);
    KXT_PutLe16(b, 24);
    return PadTo(b, total, 0x7F);
}

// RLE4 of 46340 x 46340: deltas far apart, each followed by a run, so that
// the writes land in distant pages.
Bytes ScatteredRle4(size_t total) {
    Bytes codes;
    while (codes.size() + 6 + 2 <= total - (14 + 40 + 64)) codes.insert(codes.end(), {0, 2, 255, 255, 255, 0x12});
    codes.insert(codes.end(), {0, 1});
    return Bmp(46340, 46340, 4, 2, 0, codes);
}

// A CorelDRAW file whose DISP chunk holds a 24-bit preview header of
// w x h with only a few bytes of rows.
Bytes CdrPreview(int32_t w, int32_t h, size_t total) {
    Bytes disp(4, 0);
    BmpInfo(disp, w, h, 24, 0, 0, 0);
    disp.resize(total - (12 + 10 + 8), 0x55);
    Bytes body;
    KXT_PutText(body, "CDR9");
    KXT_PutText(body, "vrsn");
    KXT_PutLe32(body, 2);
    body.insert(body.end(), {0, 2});
    KXT_PutText(body, "DISP");
    KXT_PutLe32(body, (uint32_t)disp.size());
    body.insert(body.end(), disp.begin(), disp.end());
    Bytes b;
    KXT_PutText(b, "RIFF");
    KXT_PutLe32(b, (uint32_t)body.size());
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

// GEM IMG, 8-word header, solid-run bytes after it.
Bytes GemImg(uint32_t w, uint32_t h, uint32_t planes, size_t total) {
    Bytes b;
    for (uint32_t v : {1u, 8u, planes, 2u, 85u, 85u, w, h}) KXT_PutBe16(b, v);
    return PadTo(b, total, 0x7F);
}

struct Cost {
    int code = -1;
    long rssGrowthKb = -1;   // resident peak during the load over the resident size before it
    long vmGrowthKb = -1;    // address-space peak during the load over the size before it
    uint32_t width = 0, height = 0;
    uint64_t bufferBytes = 0;  // of the loaded picture
};

long StatusKb(const char* field) {
    FILE* f = fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kb = -1;
    const size_t n = strlen(field);
    while (fgets(line, sizeof(line), f))
        if (strncmp(line, field, n) == 0 && line[n] == ':') kb = strtol(line + n + 1, nullptr, 10);
    fclose(f);
    return kb;
}

// Loads the file with the class's reader in a child process.
Cost LoadInChild(const char* className, const std::string& path) {
    KXObject* obj = KX_NewObject(Lib(), *KX_FindFormatReg(className));
    int fds[2];
    if (pipe(fds) != 0) return {};
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        // The peaks start from here: the resident one is set back to the
        // present size where the kernel allows it.
        const int clear = open("/proc/self/clear_refs", O_WRONLY);
        if (clear >= 0) {
            (void)!write(clear, "5", 1);
            close(clear);
        }
        const long rss = StatusKb("VmRSS"), vm = StatusKb("VmSize");
        const long hwm0 = StatusKb("VmHWM"), peak0 = StatusKb("VmPeak");
        obj->SetReadName(path.c_str());
        Cost c;
        c.code = (int)obj->Load();
        c.rssGrowthKb = StatusKb("VmHWM") - (hwm0 > rss ? hwm0 : rss);
        c.vmGrowthKb = StatusKb("VmPeak") - (peak0 > vm ? peak0 : vm);
        KX_GfxBuffer* b = nullptr;
        if (obj->GetGfxBuffer(&b) == KXERR_NONE && b) {
            c.width = b->Width;
            c.height = b->Height;
            c.bufferBytes = b->BufferSize;
        }
        (void)!write(fds[1], &c, sizeof(c));
        _exit(0);
    }
    close(fds[1]);
    Cost c;
    if (read(fds[0], &c, sizeof(c)) != (ssize_t)sizeof(c)) c = Cost();
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    delete obj;
    return c;
}

// AddressSanitizer writes the shadow of every block it hands out, an eighth
// of the block's size: that much is touched whatever the reader does.
long ShadowKb(uint64_t bytes) {
#if defined(__SANITIZE_ADDRESS__)
    return (long)(bytes / 8 / 1024);
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return (long)(bytes / 8 / 1024);
#endif
#endif
    (void)bytes;
    return 0;
}

struct Case {
    const char* name;
    const char* className;
    const char* ext;
    Bytes bytes;
    uint32_t code;
    // Only for loads that fail: nothing of the declared size was
    // allocated either.
    bool nothingAllocated;
    uint32_t width, height;  // of a load that succeeds
};

void RunCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = TempPath(std::string("file") + c.ext);
        ASSERT_TRUE(KXT_WriteBytes(path, c.bytes));
        const Cost cost = LoadInChild(c.className, path);
        remove(path.c_str());
        EXPECT_EQ(cost.code, (int)c.code);
        ASSERT_GE(cost.rssGrowthKb, 0) << "no measure";
        EXPECT_LT(cost.rssGrowthKb, 64 * kMiB + ShadowKb(cost.bufferBytes)) << "kilobytes touched by the load";
        if (c.nothingAllocated) {
            EXPECT_LT(cost.vmGrowthKb, 64 * kMiB) << "kilobytes allocated by the load";
        }
        if (c.code == KXERR_NONE) {
            EXPECT_EQ(cost.width, c.width);
            EXPECT_EQ(cost.height, c.height);
        }
    }
}

TEST(TinyFiles, ShortFilesFailBeforeAllocating) {
    const uint32_t n8 = 46340u * 46340u;  // rows of 46340 bytes need no padding
    std::vector<Case> cases = {
        {"BMP 8-bit with its image size, 4 bytes of rows", "kxoBMP", ".bmp", Bmp(46340, 46340, 8, 0, n8, Bytes(4, 1)), KXERR_EOF, true,
         0, 0},
        {"BMP 8-bit without an image size, 1082 bytes", "kxoBMP", ".bmp", Bmp(46340, 46340, 8, 0, 0, Bytes(4, 1)), KXERR_EOF, true,
         0, 0},
        {"OS/2 BMP 24-bit, 181 bytes", "kxoBMP", ".bmp", Os2Bmp24(25000, 25000, 181), KXERR_EOF, true, 0, 0},
        {"CorelDRAW 152 bytes, 24-bit preview of 25000 x 25000", "kxoCDR", ".cdr", CdrPreview(25000, 25000, 152), KXERR_EOF, true,
         0, 0},
        {"HDR 88 bytes of 18000 x 18000", "kxoHDR", ".hdr",
         PadTo(TextFile("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 18000 +X 18000\n"), 88, 1), KXERR_DECODE, true, 0, 0},
        {"PPM 42 bytes of 18000 x 18000", "kxoPNM", ".ppm", PadTo(TextFile("P6\n18000 18000\n255\n"), 42, 0x80), KXERR_EOF, true,
         0, 0},
        {"PPM 16-bit", "kxoPNM", ".ppm", PadTo(TextFile("P6\n9000 9000\n65535\n"), 42, 0x80), KXERR_EOF, true, 0, 0},
        {"PGM", "kxoPNM", ".pgm", PadTo(TextFile("P5 46340 46340 255\n"), 64, 0x80), KXERR_EOF, true, 0, 0},
        {"PBM", "kxoPNM", ".pbm", PadTo(TextFile("P4 65535 65535\n"), 64, 0x80), KXERR_EOF, true, 0, 0},
        {"ASCII PBM", "kxoPNM", ".pbm", PadTo(TextFile("P1 46340 46340\n"), 64, '1'), KXERR_EOF, true, 0, 0},
        {"ASCII PGM", "kxoPNM", ".pgm", PadTo(TextFile("P2 46340 46340 255\n"), 64, ' '), KXERR_EOF, true, 0, 0},
        {"ASCII PPM", "kxoPNM", ".ppm", PadTo(TextFile("P3 18000 18000 255\n"), 64, ' '), KXERR_EOF, true, 0, 0},
        {"XBM 72 bytes of 46340 x 46340", "kxoXBM", ".xbm",
         PadTo(TextFile("#define a_width 46340\n#define a_height 46340\n0x00,0x00,0xff,0x00\n"), 72, ' '), KXERR_EOF, true, 0, 0},
        {"GEM IMG 46 bytes of 65535 x 65535, 4 planes", "kxoIMG", ".img", GemImg(65535, 65535, 4, 46), KXERR_EOF, true, 0, 0},
    };
    ASSERT_EQ(cases[1].bytes.size(), 1082u);
    ASSERT_EQ(cases[2].bytes.size(), 181u);
    RunCases(cases);
}

// A BMP without an image size that holds some of its rows loads them; the
// rest of the declared picture stays untouched (fresh zero pages).
// Run-length rows write only what they decode.
TEST(TinyFiles, PartialAndRunLengthLoadsTouchOnlyWhatTheyWrite) {
    std::vector<Case> cases = {
        {"BMP 8-bit without an image size, 3 of 8000 rows", "kxoBMP", ".bmp", Bmp(8000, 8000, 8, 0, 0, Bytes(3 * 8000, 1)), KXERR_NONE,
         false, 8000, 8000},
        {"RLE4 BMP with scattered runs, 180 bytes", "kxoBMP", ".bmp", ScatteredRle4(180), KXERR_NONE, false, 46340, 46340},
    };
    ASSERT_EQ(cases[1].bytes.size(), 180u);
    RunCases(cases);
}

// The least a file can take for its declared rows still loads: the checks
// use lower bounds, never more than a real file needs.
TEST(TinyFiles, TheSmallestWholeFilesStillLoad) {
    Bytes hdr = TextFile("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 3 +X 1\n");
    for (int i = 0; i < 3; ++i) hdr.insert(hdr.end(), {128, 64, 32, 129});
    Bytes img;
    for (uint32_t v : {1u, 8u, 1u, 2u, 85u, 85u, 8u, 300u}) KXT_PutBe16(img, v);
    img.insert(img.end(), {0, 0, 0xFF, 255, 0x01, 0, 0, 0xFF, 45, 0x81});  // 255 rows from one, then 45 more
    std::vector<Case> cases = {
        {"P1 without separators", "kxoPNM", ".pbm", TextFile("P1 4 1\n0101"), KXERR_NONE, false, 4, 1},
        {"P2 with single separators", "kxoPNM", ".pgm", TextFile("P2 3 1 9\n1 2 3"), KXERR_NONE, false, 3, 1},
        {"P3 with single separators", "kxoPNM", ".ppm", TextFile("P3 1 1 9\n1 2 3"), KXERR_NONE, false, 1, 1},
        {"P6 exactly whole", "kxoPNM", ".ppm", TextFile("P6 1 1 255\nabc"), KXERR_NONE, false, 1, 1},
        {"XBM of shortest values", "kxoXBM", ".xbm", TextFile("#define a_width 16\n#define a_height 1\n0x1,0x2"), KXERR_NONE, false,
         16, 1},
        {"HDR of one flat pixel a row", "kxoHDR", ".hdr", hdr, KXERR_NONE, false, 1, 3},
        {"GEM IMG of scanline runs", "kxoIMG", ".img", img, KXERR_NONE, false, 8, 300},
    };
    RunCases(cases);
}

}  // namespace
