// kxoPFM: files made by netpbm and ImageMagick in both byte orders load
// pixel for pixel, float-to-sample scaling (1.0 is white), header refusals
// (a scale of 0 or not finite), the writer through our reader, netpbm and
// ImageMagick, safe save and damaged input.
#include <gtest/gtest.h>

#include <cmath>

#include "formats/raster/kxoPFM.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"
#include "write_failure.h"

using namespace kxt;

namespace {

void loadBytes(const std::string& bytes, Loaded& out, List* settings = nullptr) {
    std::string p = TempPath("bytes.pfm");
    WriteAll(p, std::vector<uint8_t>(bytes.begin(), bytes.end()));
    LoadFile<kxoPFM>(p, out, settings);
    unlink(p.c_str());
}

std::string floats(std::initializer_list<float> v, bool little) {
    std::string s;
    for (float f : v) {
        uint32_t u;
        memcpy(&u, &f, 4);
        for (int i = 0; i < 4; ++i) s += (char)(little ? u >> (8 * i) : u >> (24 - 8 * i));
    }
    return s;
}

KXConfig* pad(std::initializer_list<std::pair<const char*, const char*>> keys) {
    uint32_t err = 0;
    kxoPFM probe;
    auto* cfg = new KXConfig(probe.PadPath, &err);
    for (auto& k : keys) cfg->SetValue(k.first, k.second);
    return cfg;
}

uint16_t sample16(const KX_GfxBuffer* b, size_t i) {
    uint16_t v;
    memcpy(&v, b->Data + 2 * i, 2);
    return v;
}

// ---- files made by netpbm and ImageMagick -------------------------------------------

TEST(Pfm, FilesOfBothByteOrdersLoadLikeTheirSource) {
    struct {
        const char* File;
        const char* Expected;
        uint32_t SubFormat, PixelBits;
        bool Depth24;
    } cases[] = {
        {"nb_rgb_be.pfm", "rgb.ppm", 0, 48, false}, {"nb_rgb_le.pfm", "rgb.ppm", 0, 48, false},
        {"im_rgb.pfm", "rgb.ppm", 0, 48, false},    {"nb_rgb_le.pfm", "rgb.ppm", 0, 24, true},
        {"nb_grey.pfm", "grey.pgm", 1, 8, false},   {"im_grey.pfm", "grey.pgm", 1, 8, false},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.File);
        std::unique_ptr<KXConfig> settings(pad({{"COLORDEPTH", c.Depth24 ? "24" : "48"}}));
        Loaded l;
        LoadFile<kxoPFM>(Fixture(std::string("pfm/") + c.File), l, settings->GetPadList());
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.SubFormat, c.SubFormat);
        EXPECT_EQ(l.Buffer->PixelBits, c.PixelBits);
        EXPECT_EQ((KXSUP_GetGfxBufferFlags(l.Buffer) & KXGFXF_GRAY) != 0, c.SubFormat == 1);
        if (c.PixelBits == 48) {
            EXPECT_EQ(KXSUP_GetGfxBufferFlags(l.Buffer) & (KXGFXF_II | KXGFXF_MM), (uint32_t)KXGFXF_II);
            // 16-bit samples are whole multiples of 257: sample / 255 x 65535.
            for (size_t i = 0; i < l.Buffer->BufferSize / 2; ++i) ASSERT_EQ(sample16(l.Buffer, i) % 257, 0) << i;
        }
        Rgb want;
        ASSERT_TRUE(ReadNetpbm(Fixture(std::string("pfm/") + c.Expected), want));
        EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "");
        ASSERT_FALSE(l.Progress.empty());
        EXPECT_EQ(l.Progress.back(), 100u);
    }
}

TEST(Pfm, ReadersSurviveDamagedFiles) {
    for (const char* f : {"nb_rgb_be.pfm", "nb_rgb_le.pfm", "nb_grey.pfm"}) KXT_CheckReaderRobustness("kxoPFM", Fixture(std::string("pfm/") + f));
}

// ---- samples and headers -------------------------------------------------------------------

TEST(Pfm, FloatsBecomeSamplesWithOneAsWhite) {
    const float nan = std::nanf(""), inf = INFINITY;
    struct {
        const char* Name;
        const char* Scale;
        std::initializer_list<float> Floats;  // one pixel
        const char* Factor;                   // SCALE_FACTOR or null
        uint16_t Want16[3];
        uint8_t Want8[3];  // with COLORDEPTH=24
    } cases[] = {
        {"white, big-endian", "1.0", {1.0f, 1.0f, 1.0f}, nullptr, {65535, 65535, 65535}, {255, 255, 255}},
        {"white, little-endian", "-1.0", {1.0f, 1.0f, 1.0f}, nullptr, {65535, 65535, 65535}, {255, 255, 255}},
        {"halves and quarters", "-1.0", {0.5f, 0.25f, 0.0f}, nullptr, {32768, 16384, 0}, {128, 64, 0}},
        {"scale divides", "-4.0", {4.0f, 2.0f, 1.0f}, nullptr, {65535, 32768, 16384}, {255, 128, 64}},
        {"out of range", "-1.0", {-1.0f, 2.5f, inf}, nullptr, {0, 65535, 65535}, {0, 255, 255}},
        {"not a number", "-1.0", {nan, -nan, 0.0f}, nullptr, {0, 0, 0}, {0, 0, 0}},
        {"factor 257 clamps", "2.0", {2.0f, 1.0f, 0.0f}, "257", {65535, 33025, 0}, {255, 129, 0}},
        {"factor 127.5 halves", "-1.0", {1.0f, 0.5f, 0.0f}, "127.5", {32768, 16384, 0}, {128, 64, 0}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const bool little = c.Scale[0] == '-';
        const std::string file = std::string("PF\n1 1\n") + c.Scale + "\n" + floats(c.Floats, little);
        for (bool depth24 : {false, true}) {
            std::unique_ptr<KXConfig> settings(c.Factor ? pad({{"SCALE_FACTOR", c.Factor}, {"COLORDEPTH", depth24 ? "24" : "48"}})
                                                        : pad({{"COLORDEPTH", depth24 ? "24" : "48"}}));
            Loaded l;
            loadBytes(file, l, settings->GetPadList());
            ASSERT_EQ(l.Err, KXERR_NONE);
            for (int k = 0; k < 3; ++k) {
                if (depth24)
                    EXPECT_EQ(l.Buffer->Data[k], c.Want8[k]) << k;
                else
                    EXPECT_EQ(sample16(l.Buffer, k), c.Want16[k]) << k;
            }
        }
    }
}

TEST(Pfm, RowsRunBottomUp) {
    Loaded l;
    loadBytes("Pf\n1 3\n-1\n" + floats({0.0f, 0.5f, 1.0f}, true), l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 3), (std::vector<uint8_t>{255, 128, 0}));
}

TEST(Pfm, HeaderRefusals) {
    const std::string one = floats({1.0f}, false);
    struct {
        const char* Name;
        std::string Bytes;
        uint32_t Err;
    } cases[] = {
        {"comment in the header", "Pf\n# made by hand\n1 1\n1.0\n" + one, KXERR_NONE},
        {"scale with a plus and a point", "Pf 1 1 +.5\n" + one, KXERR_NONE},
        {"scale 0", "Pf\n1 1\n0.0\n" + one, KXERR_FILEREQUIREMENTS},
        {"empty scale (a space starts it)", "Pf\n1 1\n 1.0\n" + one, KXERR_FILEREQUIREMENTS},
        {"scale of no number", "Pf\n1 1\nabc\n" + one, KXERR_FILEREQUIREMENTS},
        {"infinite scale", "Pf\n1 1\ninf\n" + one, KXERR_FILEREQUIREMENTS},
        {"scale not a number", "Pf\n1 1\n-nan\n" + one, KXERR_FILEREQUIREMENTS},
        {"token of 16 characters", "Pf\n1 1\n1.00000000000000\n" + one, KXERR_FILEREQUIREMENTS},
        {"width above 32 bits", "Pf\n99999999999 1\n1.0\n" + one, KXERR_FILEREQUIREMENTS},
        {"zero height", "Pf\n1 0\n1.0\n", KXERR_FILEREQUIREMENTS},
        {"huge picture", "PF\n4000000000 4000000000\n1.0\n" + one, KXERR_FILEREQUIREMENTS},
        {"large picture, short file", "PF\n20000 20000\n1.0\n" + one, KXERR_EOF},
        {"raster cut", "PF\n1 1\n1.0\n" + one, KXERR_EOF},
        {"header cut", "PF\n1 1", KXERR_EOF},
        {"not a float map", "P6 1 1 255\n\x01\x02\x03", KXERR_UNKNOWNFORMAT},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        loadBytes(c.Bytes, l);
        EXPECT_EQ(l.Err, c.Err);
        EXPECT_EQ(l.Buffer != nullptr, c.Err == KXERR_NONE);
    }
}

// ---- writer ----------------------------------------------------------------------------------

struct SaveResult {
    uint32_t Err;
    std::vector<uint8_t> File;
};

SaveResult saveImage(KX_GfxBuffer* img, uint32_t sub, const std::string& path) {
    kxoPFM pfm;
    pfm.SetSaveName(path.c_str());
    pfm.SetSubFormat(sub);
    pfm.SetGfxBuffer(img);
    SaveResult r{pfm.Save(), {}};
    r.File = KXT_ReadBytes(path);
    return r;
}

TEST(Pfm, WriterOutputBytes) {
    std::string p = TempPath("bytes.pfm");
    KX_GfxBuffer* white = MakeImage(1, 3, 24);
    memset(white->Data, 255, 3);
    memset(white->Data + 3, 0, 6);
    white->Data[8] = 255;  // bottom pixel pure blue
    const std::vector<uint8_t> before(white->Data, white->Data + 9);
    SaveResult s = saveImage(white, 0, p);
    ASSERT_EQ(s.Err, KXERR_NONE);
    std::string want = "PF\n1 3\n-1.000000\n" + floats({0, 0, 1, 0, 0, 0, 1, 1, 1}, true);
    EXPECT_EQ(std::string(s.File.begin(), s.File.end()), want) << "bottom row first, white 1.0";
    EXPECT_EQ(std::vector<uint8_t>(white->Data, white->Data + 9), before) << "the caller's image is unchanged";
    s = saveImage(white, 1, p);
    ASSERT_EQ(s.Err, KXERR_NONE);
    EXPECT_EQ(std::string(s.File.begin(), s.File.end()), "Pf\n1 3\n-1.000000\n" + floats({28 / 255.0f, 0, 1}, true));

    KX_GfxBuffer* deep = MakeImage(1, 1, 48);
    uint16_t v[3] = {65535, 32768, 0};
    memcpy(deep->Data, v, 6);
    s = saveImage(deep, 0, p);
    ASSERT_EQ(s.Err, KXERR_NONE);
    EXPECT_EQ(std::string(s.File.begin(), s.File.end()), "PF\n1 1\n-1.000000\n" + floats({1.0f, 32768 / 65535.0f, 0}, true));
    KXSUP_FreeGfxBuffer(white);
    KXSUP_FreeGfxBuffer(deep);
    unlink(p.c_str());
}

TEST(Pfm, WriterRoundTripsThroughOurReaderNetpbmAndImageMagick) {
    const bool netpbm = KXT_HaveTool("pfmtopam"), magick = KXT_HaveTool("convert-im6.q16");
    std::string p = TempPath("rt.pfm"), q = TempPath("rt_check.pam");
    for (uint32_t depth : {1u, 4u, 8u, 24u, 48u}) {
        for (uint32_t sub : {0u, 1u}) {
            for (uint32_t w : {1u, 2u, 3u, 8u, 17u, 31u}) {
                SCOPED_TRACE("depth " + std::to_string(depth) + " sub " + std::to_string(sub) + " width " + std::to_string(w));
                KX_GfxBuffer* img = MakeImage(w, 3, depth);
                Rgb want = ToRgb(img);
                if (sub == 1) {
                    for (size_t i = 0; i < want.Pix.size(); i += 3) {
                        uint32_t g;
                        if (depth == 48) {
                            const uint16_t* s = reinterpret_cast<const uint16_t*>(img->Data) + i;
                            g = (uint32_t)((((s[0] * 30 + s[1] * 59 + s[2] * 11) / 100) * 255 + 32767) / 65535);
                        } else {
                            g = (want.Pix[i] * 30 + want.Pix[i + 1] * 59 + want.Pix[i + 2] * 11) / 100;
                        }
                        want.Pix[i] = want.Pix[i + 1] = want.Pix[i + 2] = (uint8_t)g;
                    }
                }
                ASSERT_EQ(saveImage(img, sub, p).Err, KXERR_NONE);
                Loaded l;
                LoadFile<kxoPFM>(p, l);
                ASSERT_EQ(l.Err, KXERR_NONE);
                EXPECT_EQ(l.SubFormat, sub);
                EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "") << "our reader";
                if (depth == 48 && sub == 0) {  // 16-bit samples come back whole
                    EXPECT_EQ(0, memcmp(l.Buffer->Data, img->Data, img->BufferSize));
                }
                // Peers round 0.5 either way: one step apart at most.
                if (netpbm && w == 17) {
                    Rgb theirs;
                    ASSERT_TRUE(Shell("pfmtopam -maxval 255 " + p + " > " + q));
                    ASSERT_TRUE(ReadNetpbm(q, theirs));
                    EXPECT_EQ(Compare(theirs, want, 1), "") << "netpbm";
                }
                if (magick && w == 8) {
                    Rgb theirs;
                    ASSERT_TRUE(Shell("convert-im6.q16 " + p + " -depth 8 pam:" + q));
                    ASSERT_TRUE(ReadNetpbm(q, theirs));
                    EXPECT_EQ(Compare(theirs, want, 1), "") << "ImageMagick";
                }
                KXSUP_FreeGfxBuffer(img);
            }
        }
    }
    unlink(p.c_str());
    unlink(q.c_str());
    if (!netpbm || !magick) GTEST_SKIP() << "netpbm or ImageMagick is not installed: a cross-check did not run";
}

TEST(Pfm, SaveRefusesBeforeTouchingTheFile) {
    std::string p = TempPath("refuse.pfm");
    KX_GfxBuffer* odd = MakeImage(2, 2, 24);
    odd->ColorDepth = 16;
    EXPECT_EQ(SaveOverOld<kxoPFM>(odd, p), KXERR_NOTSUPPORTED);
    KXSUP_FreeGfxBuffer(odd);
    unlink(p.c_str());
}

TEST(Pfm, FailedWriteGivesIoAndKeepsTheOldFile) {
    KX_GfxBuffer* img = MakeImage(200, 200, 24);
    kxoPFM pfm;
    EXPECT_EQ(SaveUnderFileSizeLimit(&pfm, img, "full.pfm"), KXERR_IO);
    KXSUP_FreeGfxBuffer(img);
}

}  // namespace
