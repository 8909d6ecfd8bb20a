// exrtoppm, our OpenEXR converter: files written here with the OpenEXR API
// (RGBA over an offset data window, luminance and luminance/chroma) and by
// ImageMagick come out as 16-bit PPM through the sRGB curve, NaN as 0 and
// out-of-range values clamped; usage and errors by exit status, no file
// left behind by a failure.
#include <ImfArray.h>
#include <ImfRgbaFile.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "support/testfiles.h"
#include "tool_run.h"

namespace {
struct Ppm {
    uint32_t w = 0, h = 0, maxval = 0;
    std::vector<uint32_t> s;  // samples
};

bool ReadPpm16(const std::string& path, Ppm* p) {
    const std::vector<uint8_t> d = KXT_ReadBytes(path);
    int used = 0;
    if (d.size() < 3 || sscanf((const char*)d.data(), "P6 %u %u %u%n", &p->w, &p->h, &p->maxval, &used) != 3) return false;
    const size_t start = (size_t)used + 1, n = (size_t)p->w * p->h * 3;
    if (p->maxval != 65535 || d.size() != start + 2 * n) return false;
    p->s.resize(n);
    for (size_t i = 0; i < n; ++i) p->s[i] = d[start + 2 * i] << 8 | d[start + 2 * i + 1];
    return true;
}

// The 16-bit sRGB code of a linear value, rounded.
uint32_t Srgb(double v) {
    v = std::isnan(v) ? 0 : std::min(1.0, std::max(0.0, v));
    const double s = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
    return (uint32_t)std::lround(s * 65535);
}

int Entries(const std::string& dir) { return KXT_CountEntries(dir); }
}  // namespace

TEST(Exrtoppm, RgbaOverAnOffsetDataWindow) {
    const std::string dir = KXT_NewTempDir(std::string(KX_GetProcessTempDir()) + "exr_XXXXXX");
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float values[] = {0.0f, 0.001f, 0.25f, 0.5f, 1.0f, 2.0f, -1.0f, nan, 65504.0f};
    const int n = sizeof(values) / sizeof(values[0]);
    // Data window (5, 7) - (5 + n - 1, 8): two rows, the second one reversed.
    const Imath::Box2i display(Imath::V2i(0, 0), Imath::V2i(31, 31)), data(Imath::V2i(5, 7), Imath::V2i(5 + n - 1, 8));
    std::vector<Imf::Rgba> pixels(2 * n);
    for (int x = 0; x < n; ++x) {
        pixels[x] = Imf::Rgba(values[x], values[n - 1 - x], 0.5f, 1.0f);
        pixels[n + x] = Imf::Rgba(values[n - 1 - x], values[x], 0.0f, 0.0f);
    }
    {
        Imf::RgbaOutputFile out((dir + "/in.exr").c_str(), display, data, Imf::WRITE_RGBA);
        out.setFrameBuffer(pixels.data() - 5 - 7 * n, 1, n);
        out.writePixels(2);
    }
    ASSERT_EQ(RunOwnTool("exrtoppm", {"-i", dir + "/in.exr", "-o", dir + "/out.ppm"}), 0);
    Ppm p;
    ASSERT_TRUE(ReadPpm16(dir + "/out.ppm", &p));
    ASSERT_EQ(p.w, (uint32_t)n);
    ASSERT_EQ(p.h, 2u);
    for (int i = 0; i < 2 * n; ++i) {
        const Imf::Rgba& px = pixels[i];
        SCOPED_TRACE(i);
        EXPECT_NEAR(p.s[3 * i], Srgb((float)px.r), 1);
        EXPECT_NEAR(p.s[3 * i + 1], Srgb((float)px.g), 1);
        EXPECT_NEAR(p.s[3 * i + 2], Srgb((float)px.b), 1);
    }
    EXPECT_EQ(p.s[0], 0u);
    EXPECT_EQ(p.s[3 * 4], 65535u);  // 1.0
    EXPECT_EQ(p.s[3 * 5], 65535u);  // 2.0, clamped
    EXPECT_EQ(p.s[3 * 7], 0u);      // NaN
    EXPECT_EQ(Entries(dir), 2) << "no temporary file stays";
    std::filesystem::remove_all(dir);
}

TEST(Exrtoppm, LuminanceAndLuminanceChromaFiles) {
    const std::string dir = KXT_NewTempDir(std::string(KX_GetProcessTempDir()) + "exr_XXXXXX");
    const int w = 8, h = 6;
    std::vector<Imf::Rgba> grey(w * h, Imf::Rgba(0.25f, 0.25f, 0.25f, 1.0f));
    for (Imf::RgbaChannels channels : {Imf::WRITE_Y, Imf::WRITE_YC}) {
        SCOPED_TRACE(channels);
        {
            Imf::RgbaOutputFile out((dir + "/in.exr").c_str(), w, h, channels);
            out.setFrameBuffer(grey.data(), 1, w);
            out.writePixels(h);
        }
        ASSERT_EQ(RunOwnTool("exrtoppm", {"-i", dir + "/in.exr", "-o", dir + "/out.ppm"}), 0);
        Ppm p;
        ASSERT_TRUE(ReadPpm16(dir + "/out.ppm", &p));
        ASSERT_EQ(p.w, (uint32_t)w);
        for (uint32_t v : p.s) ASSERT_NEAR(v, Srgb(0.25), 200);
    }
    std::filesystem::remove_all(dir);
}

TEST(Exrtoppm, ImageMagicksFile) {
    if (!KXT_HaveTool("convert")) GTEST_SKIP() << "convert is not installed (tools/deps.sh installs it)";
    const std::string dir = KXT_NewTempDir(std::string(KX_GetProcessTempDir()) + "exr_XXXXXX");
    ASSERT_EQ(system(("convert -size 5x3 xc:'rgb(255,0,0)' " + dir + "/red.exr 2>/dev/null").c_str()), 0);
    ASSERT_EQ(RunOwnTool("exrtoppm", {"-o", dir + "/red.ppm", "-i", dir + "/red.exr"}), 0);
    Ppm p;
    ASSERT_TRUE(ReadPpm16(dir + "/red.ppm", &p));
    EXPECT_EQ(p.w, 5u);
    EXPECT_EQ(p.h, 3u);
    for (size_t i = 0; i < p.s.size(); i += 3) {
        EXPECT_EQ(p.s[i], 65535u);
        EXPECT_EQ(p.s[i + 1], 0u);
        EXPECT_EQ(p.s[i + 2], 0u);
    }
    std::filesystem::remove_all(dir);
}

TEST(Exrtoppm, UsageAndErrorsLeaveNoFile) {
    const std::string dir = KXT_NewTempDir(std::string(KX_GetProcessTempDir()) + "exr_XXXXXX");
    ASSERT_TRUE(KXT_WriteFile(dir + "/not.exr", "v/1\x01 but nothing after"));
    struct Row {
        std::vector<std::string> args;
        int status;
    } rows[] = {
        {{}, 2},
        {{"-i", dir + "/a.exr"}, 2},
        {{"-i", dir + "/a.exr", "-o"}, 2},
        {{"-x", "a", "-o", "b"}, 2},
        {{"-i", dir + "/missing.exr", "-o", dir + "/out.ppm"}, 1},
        {{"-i", dir + "/not.exr", "-o", dir + "/out.ppm"}, 1},
    };
    for (const Row& r : rows) EXPECT_EQ(RunOwnTool("exrtoppm", r.args), r.status) << r.args.size();
    EXPECT_EQ(Entries(dir), 1) << "only the input stays";
    std::filesystem::remove_all(dir);
}
