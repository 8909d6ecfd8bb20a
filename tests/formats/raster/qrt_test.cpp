// kxoQRT: hand-made files (no program here writes QRT) for the row layout,
// the exact length that recognition and loading demand, and the progress;
// the writer's exact bytes, through our reader and qrttoppm; refusals
// before the file is touched, the safe save, damaged input.
#include <gtest/gtest.h>

#include "formats/raster/kxoQRT.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"
#include "write_failure.h"

using namespace kxt;

namespace {

// A w x h file whose row y holds the red bytes 10y + x, green + 100, blue + 200.
std::vector<uint8_t> qrtFile(uint32_t w, uint32_t h) {
    std::vector<uint8_t> v;
    Put16(v, w);
    Put16(v, h);
    for (uint32_t y = 0; y < h; ++y) {
        Put16(v, 0xBEEF);  // the prefix is skipped
        for (uint32_t c = 0; c < 3; ++c)
            for (uint32_t x = 0; x < w; ++x) v.push_back((uint8_t)(10 * y + x + 100 * c));
    }
    return v;
}

TEST(Qrt, RowsOfPlaneLinesBecomePixels) {
    Loaded l;
    LoadBytes<kxoQRT>(qrtFile(2, 20), l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.SubFormat, 0u);
    EXPECT_EQ(l.Buffer->Type, (uint32_t)ONEPLANE);
    EXPECT_EQ(l.Buffer->ColorDepth, 24u);
    EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 12),
              (std::vector<uint8_t>{0, 100, 200, 1, 101, 201, 10, 110, 210, 11, 111, 211}));
    // Counted by the rows left after the current one: the last reports 100.
    EXPECT_EQ(l.Progress, (std::vector<uint32_t>{20, 60, 100}));
}

TEST(Qrt, TheLengthMustBeExact) {
    std::vector<uint8_t> longer = qrtFile(3, 2), shorter = qrtFile(3, 2);
    longer.push_back(0);
    shorter.pop_back();
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        uint32_t Recognised, Err;
    } cases[] = {
        {"exact", qrtFile(3, 2), 1, KXERR_NONE},
        {"one byte longer", longer, 0, KXERR_FILEREQUIREMENTS},
        {"one byte shorter", shorter, 0, KXERR_FILEREQUIREMENTS},
        {"no rows", qrtFile(3, 0), 0, KXERR_FILEREQUIREMENTS},
        {"header cut", {3, 0, 2}, 0, KXERR_EOF},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(Recognises<kxoQRT>(c.File), c.Recognised);
        Loaded l;
        LoadBytes<kxoQRT>(c.File, l);
        EXPECT_EQ(l.Err, c.Err);
        EXPECT_EQ(l.Buffer != nullptr, c.Err == KXERR_NONE);
    }
}

TEST(Qrt, ReaderSurvivesDamagedFiles) {
    const std::string p = TempPath("robust.qrt");
    WriteAll(p, qrtFile(13, 9));
    KXT_CheckReaderRobustness("kxoQRT", p);
    unlink(p.c_str());
}

// ---- writer ------------------------------------------------------------------------

TEST(Qrt, WriterBytesAndRoundTripThroughOurReaderAndQrttoppm) {
    const std::string p = TempPath("rt.qrt"), q = TempPath("rt.ppm");
    {
        // 3 x 2: 4 + 2 x (2 + 9) = 26 bytes; each row's prefix is its number.
        KX_GfxBuffer* img = MakeImage(3, 2, 24);
        Saved s = SaveTo<kxoQRT>(img, p);
        ASSERT_EQ(s.Err, KXERR_NONE);
        std::vector<uint8_t> want = {3, 0, 2, 0};
        for (uint32_t y = 0; y < 2; ++y) {
            Put16(want, y);
            for (uint32_t c = 0; c < 3; ++c)
                for (uint32_t x = 0; x < 3; ++x) want.push_back(img->Data[9 * y + 3 * x + c]);
        }
        EXPECT_EQ(s.File, want);
        KXSUP_FreeGfxBuffer(img);
    }
    const bool netpbm = KXT_HaveTool("qrttoppm");
    for (uint32_t w : {1u, 2u, 7u, 17u, 31u}) {
        SCOPED_TRACE("width " + std::to_string(w));
        KX_GfxBuffer* img = MakeImage(w, 3, 24);
        const Rgb want = ToRgb(img);
        ASSERT_EQ(SaveTo<kxoQRT>(img, p).Err, KXERR_NONE);
        Loaded l;
        LoadFile<kxoQRT>(p, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "") << "our reader";
        if (netpbm) {
            EXPECT_EQ(ReadBack(Shell("qrttoppm " + p + " > " + q), q, want), "") << "qrttoppm";
        }
        KXSUP_FreeGfxBuffer(img);
    }
    unlink(p.c_str());
    unlink(q.c_str());
    if (!netpbm) GTEST_SKIP() << "qrttoppm is missing: the cross-check did not run";
}

TEST(Qrt, SaveRefusesBeforeTouchingTheFile) {
    const std::string p = TempPath("refuse.qrt");
    struct {
        const char* Name;
        uint32_t W, H, Depth, Err;
    } cases[] = {
        {"palette", 2, 2, 8, KXERR_NEED24BIT},
        {"48 bits", 2, 2, 48, KXERR_NEED24BIT},
        {"wider than the 16-bit field", 65536, 1, 24, KXERR_FILEREQUIREMENTS},
        {"taller than the 16-bit field", 1, 65536, 24, KXERR_FILEREQUIREMENTS},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        KX_GfxBuffer* img = MakeImage(c.W, c.H, c.Depth);
        EXPECT_EQ(SaveOverOld<kxoQRT>(img, p), c.Err);
        KXSUP_FreeGfxBuffer(img);
    }
    unlink(p.c_str());
}

TEST(Qrt, FailedWriteGivesIoAndKeepsTheOldFile) {
    KX_GfxBuffer* img = MakeImage(300, 300, 24);
    kxoQRT qrt;
    EXPECT_EQ(SaveUnderFileSizeLimit(&qrt, img, "full.qrt"), KXERR_IO);
    KXSUP_FreeGfxBuffer(img);
}

}  // namespace
