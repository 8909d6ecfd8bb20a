// kxoGIF and memory: files of a few dozen bytes that declare a huge screen
// or a huge image load without touching memory for what they do not hold
// (each load runs in a child process whose resident memory is measured),
// and the canvas that takes its background row by row draws exactly what
// a canvas filled first would show, also where an image's data ends early.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/kxlib.h"
#include "formats/raster/gif_lzw.h"
#include "formats/raster/kxoGIF.h"
#include "support/testfiles.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

void le16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

// GIF89a header of a screen with a 4-colour global table.
Bytes screen(uint32_t w, uint32_t h, uint8_t background) {
    Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
    le16(b, w);
    le16(b, h);
    b.insert(b.end(), {0x81, background, 0});
    b.insert(b.end(), {0, 0, 0, 200, 10, 20, 30, 210, 40, 50, 60, 220});
    return b;
}

// An image descriptor at (x, y) with two bytes of LZW data: a clear code
// and one pixel of index 1 at 3 bits, then the end of the data.
void tinyImage(Bytes& b, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    b.push_back(',');
    le16(b, x);
    le16(b, y);
    le16(b, w);
    le16(b, h);
    b.insert(b.end(), {0, 2, 2, 0x0C, 0x01, 0});
}

void transparency(Bytes& b, uint8_t index) { b.insert(b.end(), {0x21, 0xF9, 4, 1, 0, 0, index, 0}); }

uint64_t statusKb(const char* field) {
    FILE* f = fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    uint64_t kb = 0;
    const size_t n = strlen(field);
    while (fgets(line, sizeof(line), f))
        if (strncmp(line, field, n) == 0) kb = strtoull(line + n + 1, nullptr, 10);
    fclose(f);
    return kb;
}

struct ChildLoad {
    int code = -1;
    uint64_t growthKb = 0;
};

// Loads the file in a child process: the load's code and how far the
// child's peak resident memory rose above what it had before the load.
ChildLoad LoadInChild(const std::string& path) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        KXClass* lib = new KXClass();
        kxoGIF* gif = new kxoGIF(lib);
        gif->SetReadName(path.c_str());
        const uint64_t before = statusKb("VmRSS");
        const uint32_t code = gif->Load();
        const uint64_t growth = statusKb("VmHWM") - before;
        if (write(fds[1], &growth, sizeof(growth)) != sizeof(growth)) _exit(255);
        _exit(static_cast<int>(code));
    }
    close(fds[1]);
    ChildLoad r;
    if (read(fds[0], &r.growthKb, sizeof(r.growthKb)) != sizeof(r.growthKb)) r.growthKb = ~0ull;
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string TempPath(const std::string& name) {
    return std::string(KX_GetProcessTempDir()) + "gif_memory_" + std::to_string(getpid()) + "_" + name;
}

TEST(GifMemory, TinyFilesDeclaringHugePicturesTouchLittleMemory) {
    // The bound is a quarter of the memory the file declares: far below the
    // declared picture that a filled canvas touches, and above what the
    // address sanitizer's own bookkeeping (an eighth) adds to an allocation.
    struct Case {
        const char* name;
        Bytes bytes;
        uint32_t code;
        uint64_t declared;  // bytes of canvas and images
    };
    Bytes twoFrames = screen(65535, 30827, 0);
    tinyImage(twoFrames, 0, 0, 1, 1);
    tinyImage(twoFrames, 9, 9, 1, 1);
    twoFrames.push_back(';');
    Bytes transparentFrames = screen(65535, 30827, 0);
    transparency(transparentFrames, 3);
    tinyImage(transparentFrames, 0, 0, 1, 1);
    tinyImage(transparentFrames, 65534, 30826, 1, 1);
    transparentFrames.push_back(';');
    Bytes oneImage = screen(46340, 46340, 0);
    tinyImage(oneImage, 0, 0, 46340, 46340);
    oneImage.push_back(';');
    // A huge second image whose data ends after one pixel, drawn on a huge
    // screen: neither its rows nor the canvas rows beneath are touched.
    Bytes hugeFrame = screen(30000, 30000, 0);
    tinyImage(hugeFrame, 5, 5, 1, 1);
    tinyImage(hugeFrame, 0, 0, 30000, 30000);
    hugeFrame.push_back(';');
    const Case cases[] = {
        {"two 1x1 frames on a 65535 x 30827 screen", twoFrames, KXERR_NONE, 65535ull * 30827},
        {"the same with a transparent index", transparentFrames, KXERR_NONE, 65535ull * 30827},
        {"one 46340 x 46340 image", oneImage, KXERR_NONE, 46340ull * 46340},
        {"a 30000 x 30000 frame on a screen as large", hugeFrame, KXERR_NONE, 2 * 30000ull * 30000},
    };
    const std::string path = TempPath("tiny.gif");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_LE(c.bytes.size(), 64u);
        ASSERT_TRUE(KXT_WriteBytes(path, c.bytes));
        const ChildLoad r = LoadInChild(path);
        EXPECT_EQ(r.code, static_cast<int>(c.code));
        EXPECT_LT(r.growthKb, c.declared / 4 / 1024) << "kilobytes touched by the load";
    }
    remove(path.c_str());
}

// ---- the canvas against a canvas filled first ----------------------------

struct Image {
    uint16_t left, top, w, h;
    Bytes local;     // empty: none
    int disposal;    // graphic control extension when disposal or transparent is set
    int transparent; // -1: none
    uint32_t cut;    // data bytes kept before the terminator; 0: all
};

// A 4-colour table, entry i = (base + 40 i, 3 i, 250 - i).
Bytes colours(uint8_t base) {
    Bytes t;
    for (uint32_t i = 0; i < 4; ++i)
        t.insert(t.end(), {static_cast<uint8_t>(base + 40 * i), static_cast<uint8_t>(3 * i), static_cast<uint8_t>(250 - i)});
    return t;
}

Bytes pixelsOf(const Image& im) {
    Bytes p(size_t(im.w) * im.h);
    for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>((i * 7 + i / im.w + im.left) % 4);
    return p;
}

// The image's LZW block, cut to its first `cut` data bytes when asked.
Bytes block(const Image& im) {
    const Bytes px = pixelsOf(im);
    Bytes area(GifLzwBound(px.size()));
    uint8_t* out = area.data();
    GifLzwEncoder enc;
    EXPECT_EQ(enc.EncodeImage(&out, area.data() + area.size(), px.data(), im.w, im.h, 2, 0), KXERR_NONE);
    area.resize(static_cast<size_t>(out - area.data()));
    if (im.cut == 0) return area;
    // Minimum code size, one sub-block of the first bytes, the terminator.
    Bytes cut = {area[0], static_cast<uint8_t>(im.cut)};
    cut.insert(cut.end(), area.begin() + 2, area.begin() + 2 + im.cut);
    cut.push_back(0);
    return cut;
}

Bytes file(uint16_t sw, uint16_t sh, uint8_t background, const std::vector<Image>& images) {
    Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
    le16(b, sw);
    le16(b, sh);
    const Bytes global = colours(0);
    b.insert(b.end(), {0x81, background, 0});
    b.insert(b.end(), global.begin(), global.end());
    for (const Image& im : images) {
        if (im.disposal || im.transparent >= 0)
            b.insert(b.end(), {0x21, 0xF9, 4, static_cast<uint8_t>(im.disposal << 2 | (im.transparent >= 0 ? 1 : 0)),
                               0, 0, static_cast<uint8_t>(im.transparent >= 0 ? im.transparent : 0), 0});
        b.push_back(',');
        le16(b, im.left);
        le16(b, im.top);
        le16(b, im.w);
        le16(b, im.h);
        b.push_back(im.local.empty() ? 0 : 0x81);
        b.insert(b.end(), im.local.begin(), im.local.end());
        const Bytes data = block(im);
        b.insert(b.end(), data.begin(), data.end());
    }
    b.push_back(';');
    return b;
}

// What the canvas shows by the rules, with the background laid first and
// each image as the decoder gives it (cut data included).
struct Model {
    bool rgb = false, alpha = false;
    Bytes data, alphaMap;
};

Model expected(uint16_t sw, uint16_t sh, uint8_t background, const std::vector<Image>& images) {
    Model m;
    const Bytes global = colours(0);
    bool transparentMet = false;
    for (const Image& im : images) {
        if (!im.local.empty() && im.local != global) m.rgb = true;
        if (im.transparent >= 0) transparentMet = true;
    }
    m.alpha = m.rgb && transparentMet;
    const size_t n = size_t(sw) * sh;
    Bytes table(768, 0);
    std::copy(global.begin(), global.end(), table.begin());
    if (m.rgb) {
        m.data.resize(n * 3);
        for (size_t i = 0; i < n; ++i)
            for (int k = 0; k < 3; ++k) m.data[i * 3 + k] = background ? table[background * 3 + k] : 0;
    } else {
        m.data.assign(n, background);
    }
    if (m.alpha) m.alphaMap.assign(n, 255);
    int disposal = 0, transparent = -1;
    for (size_t k = 0; k < images.size(); ++k) {
        const Image& im = images[k];
        if (im.disposal || im.transparent >= 0) {
            disposal = im.disposal;
            if (im.transparent >= 0) transparent = im.transparent;
        }
        const bool last = k + 1 == images.size();
        if (!last && disposal == 3) continue;
        Bytes px(size_t(im.w) * im.h);
        const Bytes data = block(im);
        GifLzwDecode(data.data(), data.data() + data.size(), im.w, im.h, px.data(), px.data() + px.size(), false);
        if (!last && disposal == 2) std::fill(px.begin(), px.end(), background);
        Bytes own(768, 0);
        std::copy(global.begin(), global.end(), own.begin());
        if (!im.local.empty()) std::copy(im.local.begin(), im.local.end(), own.begin());
        for (uint32_t y = 0; y < im.h; ++y)
            for (uint32_t x = 0; x < im.w; ++x) {
                const size_t at = size_t(im.top + y) * sw + im.left + x;
                const uint8_t v = px[size_t(y) * im.w + x];
                if (!m.rgb) {
                    m.data[at] = v;
                    continue;
                }
                for (int c = 0; c < 3; ++c) m.data[at * 3 + c] = own[v * 3 + c];
                if (m.alpha) m.alphaMap[at] = transparent >= 0 && v == transparent ? 0 : 255;
            }
    }
    return m;
}

TEST(GifMemory, CanvasLaidRowByRowShowsWhatAFilledCanvasShows) {
    struct Case {
        const char* name;
        uint8_t background;
        std::vector<Image> images;
    };
    const Bytes other = colours(1);
    const Image full = {0, 0, 9, 5, {}, 0, -1, 0};
    const Case cases[] = {
        {"data cut short over an earlier image, background 0", 0, {full, {2, 1, 6, 6, {}, 0, -1, 3}}},
        {"data cut short over an earlier image, background 2", 2, {full, {2, 1, 6, 6, {}, 0, -1, 3}}},
        {"cut data on bare rows, background 0", 0, {{0, 0, 3, 2, {}, 0, -1, 0}, {1, 3, 10, 4, {}, 0, -1, 2}}},
        {"24 bits, background 0", 0, {full, {2, 1, 6, 6, other, 0, -1, 3}}},
        {"24 bits, background 3", 3, {full, {2, 1, 6, 6, other, 0, -1, 3}}},
        {"24 bits with alpha, cut data", 0, {full, {2, 1, 6, 6, other, 0, 0, 3}}},
        {"24 bits, disposal 2", 1, {{1, 1, 4, 4, other, 2, -1, 0}, {0, 5, 3, 2, {}, 0, -1, 0}}},
        {"palette, disposal 2 with background 0", 0, {{1, 1, 4, 4, {}, 2, -1, 0}, {6, 0, 3, 2, {}, 0, -1, 0}}},
    };
    const uint16_t sw = 12, sh = 8;
    const std::string dir = KXT_NewTempDir((fs::temp_directory_path() / "kxgifmemXXXXXX").string()) + "/";
    const std::string path = dir + "canvas.gif";
    KXClass lib;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(KXT_WriteBytes(path, file(sw, sh, c.background, c.images)));
        kxoGIF gif(&lib);
        gif.SetReadName(path.c_str());
        ASSERT_EQ(gif.Load(), KXERR_NONE);
        KX_GfxBuffer* b = nullptr;
        gif.GetGfxBuffer(&b);
        ASSERT_NE(b, nullptr);
        const Model m = expected(sw, sh, c.background, c.images);
        ASSERT_EQ(b->Width, sw);
        ASSERT_EQ(b->Height, sh);
        ASSERT_EQ(b->PixelBits, m.rgb ? 24u : 8u);
        EXPECT_EQ(Bytes(b->Data, b->Data + b->BufferSize), m.data);
        if (m.alpha) {
            ASSERT_EQ(b->AlphaType, uint32_t(KXALPHA_CHANNEL8));
            const uint8_t* a = KXSUP_AlphaBytes(b);
            EXPECT_EQ(Bytes(a, a + size_t(sw) * sh), m.alphaMap);
        }
    }
    fs::remove_all(dir);
}

}  // namespace
