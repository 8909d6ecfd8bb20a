// kxoCVP: no program here knows CVP, so the file is a byte table of three
// 512 x 512 planes; recognition by length and extension, the planes in
// their components, progress, a short file, damaged input, no writer.
#include <gtest/gtest.h>

#include "formats/raster/kxoCVP.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"

using namespace kxt;

namespace {

const size_t PLANE = 512 * 512;

// Plane p holds at pixel i the byte (i * 7 + 85 p) mod 256.
std::vector<uint8_t> cvpFile() {
    std::vector<uint8_t> v(3 * PLANE);
    for (size_t p = 0; p < 3; ++p)
        for (size_t i = 0; i < PLANE; ++i) v[p * PLANE + i] = (uint8_t)(i * 7 + 85 * p);
    return v;
}

TEST(Cvp, ThreePlanesBecomeOnePicture) {
    Loaded l;
    LoadBytes<kxoCVP>(cvpFile(), l, "picture.cvp");
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.SubFormat, 0u);
    EXPECT_EQ(l.Buffer->Width, 512u);
    EXPECT_EQ(l.Buffer->Height, 512u);
    EXPECT_EQ(l.Buffer->ColorDepth, 24u);
    EXPECT_EQ(l.Buffer->PixelBits, 24u);
    for (size_t i : {(size_t)0, (size_t)1, (size_t)513, PLANE - 1}) {
        SCOPED_TRACE(i);
        for (size_t p = 0; p < 3; ++p) EXPECT_EQ(l.Buffer->Data[3 * i + p], (uint8_t)(i * 7 + 85 * p));
    }
    EXPECT_EQ(l.Progress, (std::vector<uint32_t>{33, 66, 99}));
}

TEST(Cvp, RecognisedByLengthAndExtension) {
    std::vector<uint8_t> file = cvpFile(), shorter(file.begin(), file.end() - 1), longer = file;
    longer.push_back(0);
    struct {
        const char* Name;
        const std::vector<uint8_t>* File;
        const char* FileName;
        uint32_t Want;
    } cases[] = {
        {"lower case", &file, "a.cvp", 1},          {"capitals", &file, "a.CVP", 1},
        {"other extension", &file, "a.raw", 0},     {"a byte short", &shorter, "a.cvp", 0},
        {"a byte long", &longer, "a.cvp", 0},
    };
    const std::string dir = KXT_NewTempDir(TempPath("cvpXXXXXX"));
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string p = dir + "/" + c.FileName;
        WriteAll(p, *c.File);
        FILE* f = fopen(p.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        kxoCVP cvp;
        EXPECT_EQ(cvp.CheckFile(f, p.c_str(), KXIO_FILE), c.Want);
        EXPECT_EQ(ftell(f), 0L);
        fclose(f);
        unlink(p.c_str());
    }
    rmdir(dir.c_str());
}

TEST(Cvp, ShortFileAndNoWriter) {
    Loaded l;
    LoadBytes<kxoCVP>(std::vector<uint8_t>(3 * PLANE - 1, 1), l, "short.cvp");
    EXPECT_EQ(l.Err, KXERR_EOF);
    EXPECT_EQ(l.Buffer, nullptr);
    KX_GfxBuffer* img = MakeImage(2, 2, 24);
    EXPECT_EQ(SaveTo<kxoCVP>(img, TempPath("no.cvp")).Err, KXERR_NOTSUPPORTED);
    KXSUP_FreeGfxBuffer(img);
}

TEST(Cvp, ReaderSurvivesDamagedFiles) {
    const std::string p = TempPath("robust.cvp");
    WriteAll(p, cvpFile());
    KXRobustnessOptions o;
    o.Flips = 100;
    o.MaxTruncations = 600;
    KXT_CheckReaderRobustness("kxoCVP", p, o);
    unlink(p.c_str());
}

}  // namespace
