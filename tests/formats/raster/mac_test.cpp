// kxoMAC: a fixture from netpbm's pbmtomacp with its picture as PNG, read
// bare, behind a MacBinary header (as ImageMagick reads it too) and with
// a resource fork after it; the row decoder's edge cases as byte tables;
// the writer's literal rows and operator chain, read back by macptopbm and
// GraphicsMagick; refusals, the safe save and damaged input.
#include <gtest/gtest.h>

#include "formats/libraries/kxoPNG.h"
#include "formats/raster/kxoMAC.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"
#include "write_failure.h"

using namespace kxt;

namespace {

const uint32_t DOC_SIZE = 512 + 720 * 73;

std::vector<uint8_t> macBinary(const std::vector<uint8_t>& document, const char* type = "PNTG") {
    std::vector<uint8_t> v(128, 0);
    v[1] = 7;
    memcpy(&v[2], "picture", 7);
    memcpy(&v[65], type, 4);
    memcpy(&v[69], "MPNT", 4);
    PutBytes(v, document);
    return v;
}

Rgb fixturePicture() {
    Loaded png;
    LoadFile<kxoPNG>(Fixture("mac/ellipse.png"), png);
    EXPECT_EQ(png.Err, KXERR_NONE);
    return png.Buffer ? ToRgb(png.Buffer) : Rgb{};
}

// A black-and-white chunky picture (index 0 white) with some structure.
KX_GfxBuffer* blackAndWhite(uint32_t w, uint32_t h, bool whiteFirst = true) {
    KX_GfxBuffer* img = MakeImage(w, h, 1);
    memset(img->Palette, 0, sizeof(img->Palette));
    memset(img->Palette + (whiteFirst ? 0 : 3), 255, 3);
    for (uint32_t i = 0; i < w * h; ++i) img->Data[i] = (uint8_t)(((i % w) / 7 + (i / w) / 3 + (i % 13 == 0)) & 1);
    return img;
}

TEST(Mac, Recognition) {
    const std::vector<uint8_t> doc = KXT_ReadBytes(Fixture("mac/ellipse.mac"));
    ASSERT_EQ(doc.size(), 11175u);
    std::vector<uint8_t> badStart = doc;
    badStart[2] = 1;
    struct {
        const char* Name;
        std::vector<uint8_t> Bytes;
        const char* File;
        int32_t Mode;
        uint32_t Want;
    } cases[] = {
        {"MacBinary PNTG, any name", macBinary(doc), "picture.bin", KXIO_FILE, 1},
        {"MacBinary of another type", macBinary(doc, "TEXT"), "picture.mac", KXIO_FILE, 0},
        {"bare, .MAC", doc, "picture.MAC", KXIO_FILE, 1},
        {"bare, .mac", doc, "picture.mac", KXIO_FILE, 1},
        {"bare, other name", doc, "picture.pnt", KXIO_FILE, 0},
        {"bare, .MAC not at the end", doc, "picture.MAC.bak", KXIO_FILE, 0},
        {"third byte not 0", badStart, "picture.mac", KXIO_FILE, 0},
        {"clipboard mode", macBinary(doc), "picture.mac", KXIO_CLIPBOARD, 0},
        {"three bytes", {0, 0, 0}, "tiny.mac", KXIO_FILE, 0},
    };
    for (auto& c : cases) EXPECT_EQ(Recognises<kxoMAC>(c.Bytes, c.File, c.Mode), c.Want) << c.Name;
}

TEST(Mac, RowDecoder) {
    struct {
        const char* Name;
        uint32_t Width, Height;
        std::vector<uint8_t> Input;
        uint32_t Err;
        std::vector<uint8_t> Want;  // the rows, when Err is 0
    } cases[] = {
        {"no-op, then a run of two", 16, 1, {0x80, 0xFF, 0xAA}, KXERR_NONE, {0xAA, 0xAA}},
        {"one literal, then a run", 24, 1, {0x00, 0x12, 0xFF, 0x34}, KXERR_NONE, {0x12, 0x34, 0x34}},
        {"a run of 72 fills a row, the next byte starts the next", 576, 2, {0xB9, 0x00, 0xB9, 0xFF}, KXERR_NONE,
         [] { std::vector<uint8_t> v(72, 0); v.resize(144, 0xFF); return v; }()},
        {"71 and then 2 cross the row's end", 576, 1, {0xBA, 0x00, 0xFF, 0x00}, KXERR_DECODE, {}},
        {"a literal past the row's end", 16, 1, {0x02, 1, 2, 3}, KXERR_DECODE, {}},
        {"data end inside a literal", 24, 1, {0x02, 1, 2}, KXERR_EOF, {}},
        {"data end before the last row", 16, 2, {0xFF, 0x11}, KXERR_EOF, {}},
        {"a header byte without its run value", 16, 1, {0xFF}, KXERR_EOF, {}},
        {"only no-ops", 16, 1, {0x80, 0x80, 0x80}, KXERR_EOF, {}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        kxoMAC m;
        const size_t rowBytes = (c.Width + 7) / 8;
        std::vector<uint8_t> data(rowBytes * c.Height, 0x5A);
        EXPECT_EQ(m.UnpackRows(c.Input.data(), c.Input.size(), data.data(), c.Width, c.Height, 1), c.Err);
        if (c.Err == KXERR_NONE) {
            EXPECT_EQ(data, c.Want);
        }
    }
    // With planes, each row holds a row of every plane in turn.
    kxoMAC m;
    const std::vector<uint8_t> in = {0xFF, 0x01, 0xFF, 0x02, 0xFF, 0x03, 0xFF, 0x04};
    std::vector<uint8_t> data(8);
    ASSERT_EQ(m.UnpackRows(in.data(), in.size(), data.data(), 16, 2, 2), KXERR_NONE);
    EXPECT_EQ(data, (std::vector<uint8_t>{1, 1, 3, 3, 2, 2, 4, 4}));
}

TEST(Mac, LoadsNetpbmFixtureBareAndBehindMacBinary) {
    const Rgb want = fixturePicture();
    const std::vector<uint8_t> doc = KXT_ReadBytes(Fixture("mac/ellipse.mac"));
    std::vector<uint8_t> withFork = macBinary(doc);
    withFork.resize(withFork.size() + 1000, 0xC3);  // a resource fork is not decoded
    struct {
        const char* Name;
        std::vector<uint8_t> Bytes;
    } cases[] = {{"bare", doc}, {"MacBinary", macBinary(doc)}, {"MacBinary and resource fork", withFork}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoMAC>(c.Bytes, l, "load.mac");
        ASSERT_EQ(l.Err, KXERR_NONE);
        const KX_GfxBuffer* b = l.Buffer;
        EXPECT_EQ(b->Type, (uint32_t)BITPLANE);
        EXPECT_EQ(b->ColorDepth, 1u);
        EXPECT_EQ(b->BytesPerLine, 72u);
        EXPECT_EQ(b->BufferSize, 51840u);
        EXPECT_EQ(b->Version, 4u);
        EXPECT_TRUE(b->Flags & KXGFXF_GRAY);
        EXPECT_EQ(b->Palette[0], 255);
        EXPECT_EQ(b->Palette[3], 0);
        EXPECT_EQ(l.SubFormat, 0u);
        EXPECT_EQ(Compare(ToRgb(b), want), "");
        EXPECT_EQ(l.Progress.size(), 90u);
    }
}

TEST(Mac, ImageMagickReadsTheFixtureAsWeDo) {
    KXT_NEED_TOOL("convert-im6.q16");
    // ImageMagick takes every file to have a MacBinary header.
    const std::string p = TempPath("im.mac"), q = TempPath("im.ppm");
    WriteAll(p, macBinary(KXT_ReadBytes(Fixture("mac/ellipse.mac"))));
    ASSERT_TRUE(Shell("convert-im6.q16 " + p + " -depth 8 ppm:" + q));
    Rgb got;
    ASSERT_TRUE(ReadNetpbm(q, got));
    Loaded l;
    LoadFile<kxoMAC>(p, l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(Compare(ToRgb(l.Buffer), got), "");
    unlink(p.c_str());
    unlink(q.c_str());
}

TEST(Mac, DamagedFilesFailCleanly) {
    const std::vector<uint8_t> doc = KXT_ReadBytes(Fixture("mac/ellipse.mac"));
    auto cut = [&](size_t n) { return std::vector<uint8_t>(doc.begin(), doc.begin() + n); };
    std::vector<uint8_t> crossing = cut(512);
    PutBytes(crossing, {0xBA, 0x00, 0xFF, 0x00});
    struct {
        const char* Name;
        std::vector<uint8_t> Bytes;
        uint32_t Err;
    } cases[] = {
        {"cut in the rows", cut(6000), KXERR_EOF},
        {"a run across a row's end", crossing, KXERR_DECODE},
        {"the header alone", cut(512), KXERR_NOMEMORY},
        {"empty", {}, KXERR_NOMEMORY},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoMAC>(c.Bytes, l, "bad.mac");
        EXPECT_EQ(l.Err, c.Err);
        EXPECT_EQ(l.Buffer, nullptr);
    }
}

TEST(Mac, SavesLiteralRowsThatOthersReadBack) {
    const std::string p = TempPath("w.mac");
    for (bool whiteFirst : {true, false}) {
        SCOPED_TRACE(whiteFirst ? "index 0 white" : "index 0 black");
        KX_GfxBuffer* img = blackAndWhite(576, 720, whiteFirst);
        Saved s = SaveTo<kxoMAC>(img, p);
        ASSERT_EQ(s.Err, KXERR_NONE);
        ASSERT_EQ(s.File.size(), DOC_SIZE);
        EXPECT_EQ(std::vector<uint8_t>(s.File.begin(), s.File.begin() + 512), std::vector<uint8_t>(512, 0));
        for (uint32_t y = 0; y < 720; ++y) ASSERT_EQ(s.File[512 + 73 * y], 0x47) << "row " << y;
        // A set bit is black.
        const uint8_t first = s.File[513];
        EXPECT_EQ(first >> 7, img->Palette[3 * img->Data[0]] == 0 ? 1 : 0);
        const Rgb want = ToRgb(img);
        Loaded l;
        LoadFile<kxoMAC>(p, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "");
        if (KXT_HaveTool("macptopbm")) {
            const std::string q = TempPath("w.ppm");
            EXPECT_EQ(ReadBack(Shell("macptopbm " + p + " | ppmtoppm > " + q), q, want), "") << "macptopbm";
            unlink(q.c_str());
        }
        if (KXT_HaveTool("gm")) {
            const std::string q = TempPath("w.ppm");
            EXPECT_EQ(ReadBack(Shell("gm convert " + p + " -depth 8 ppm:" + q), q, want), "") << "GraphicsMagick";
            unlink(q.c_str());
        }
        KXSUP_FreeGfxBuffer(img);
    }
    {
        // A loaded document (bit planes) saves to the same bits.
        Loaded l;
        LoadFile<kxoMAC>(Fixture("mac/ellipse.mac"), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        ASSERT_EQ(SaveTo<kxoMAC>(l.Buffer, p).Err, KXERR_NONE);
        Loaded back;
        LoadFile<kxoMAC>(p, back);
        ASSERT_EQ(back.Err, KXERR_NONE);
        EXPECT_EQ(Compare(ToRgb(back.Buffer), ToRgb(l.Buffer)), "");
    }
    unlink(p.c_str());
}

TEST(Mac, SaveBringsOtherPicturesToTheFormat) {
    const std::string p = TempPath("chain.mac");
    // A grey ramp of 640 x 480 with many levels: stretched and dithered;
    // the dark left side comes out mostly black, the light right mostly white.
    KX_GfxBuffer* ramp = MakeImage(640, 480, 8);
    for (uint32_t i = 0; i < 256; ++i) memset(ramp->Palette + 3 * i, (int)i, 3);
    for (uint32_t i = 0; i < 640 * 480; ++i) ramp->Data[i] = (uint8_t)((i % 640) * 255 / 639);
    // Two colours of another size: no dither, the darker one black.
    KX_GfxBuffer* two = MakeImage(100, 50, 1);
    memset(two->Palette, 0, 6);
    two->Palette[0] = 200, two->Palette[1] = 200;  // yellow
    two->Palette[5] = 90;                           // dark blue
    for (uint32_t i = 0; i < 100 * 50; ++i) two->Data[i] = (i % 100) < 50 ? 1 : 0;
    struct {
        const char* Name;
        KX_GfxBuffer* Img;
        double MinBlackLeft, MaxBlackRight;
    } cases[] = {{"grey ramp", ramp, 0.8, 0.2}, {"two colours", two, 1.0, 0.0}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_EQ(SaveTo<kxoMAC>(c.Img, p).Err, KXERR_NONE);
        Loaded l;
        LoadFile<kxoMAC>(p, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        const Rgb got = ToRgb(l.Buffer);
        ASSERT_EQ(got.W, 576u);
        ASSERT_EQ(got.H, 720u);
        size_t left = 0, right = 0;
        for (uint32_t y = 0; y < 720; ++y)
            for (uint32_t x = 0; x < 100; ++x) {
                left += got.Pix[3 * (y * 576 + x)] == 0;
                right += got.Pix[3 * (y * 576 + 575 - x)] == 0;
            }
        EXPECT_GE(left, c.MinBlackLeft * 72000);
        EXPECT_LE(right, c.MaxBlackRight * 72000);
    }
    KXSUP_FreeGfxBuffer(ramp);
    KXSUP_FreeGfxBuffer(two);
    unlink(p.c_str());
}

TEST(Mac, SaveRefusalsLeaveTheOldFile) {
    const std::string p = TempPath("refuse.mac");
    struct {
        const char* Name;
        uint32_t W, H, Depth;
        uint32_t Err;
    } cases[] = {
        {"24 bits of the format's size", 576, 720, 24, KXERR_NO24BIT},
        {"24 bits of another size (palette step)", 64, 48, 24, KXERR_NO24BIT},
        {"48 bits of another size (palette step)", 64, 48, 48, KXERR_NO48BIT},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        KX_GfxBuffer* img = MakeImage(c.W, c.H, c.Depth);
        EXPECT_EQ(SaveOverOld<kxoMAC>(img, p), c.Err);
        KXSUP_FreeGfxBuffer(img);
    }
    kxoMAC m;
    m.SetSaveName(p.c_str());
    EXPECT_EQ(m.Save(), KXERR_NOTSUPPORTED);  // no picture
    KX_GfxBuffer* img = blackAndWhite(576, 720);
    m.SetGfxBuffer(img);
    m.SetIOMode(KXIO_CLIPBOARD);
    EXPECT_EQ(m.Save(), KXERR_NOTSUPPORTED);
    KXSUP_FreeGfxBuffer(img);
    unlink(p.c_str());
}

TEST(Mac, FailedWriteLeavesTheOldFile) {
    KX_GfxBuffer* img = blackAndWhite(576, 720);
    kxoMAC w;
    EXPECT_EQ(SaveUnderFileSizeLimit(&w, img, "full.mac"), KXERR_IO);
    KXSUP_FreeGfxBuffer(img);
}

TEST(Mac, ReaderSurvivesDamagedFiles) {
    const std::string p = TempPath("robust.mac");
    const std::vector<uint8_t> doc = KXT_ReadBytes(Fixture("mac/ellipse.mac"));
    KXT_CheckReaderRobustness("kxoMAC", Fixture("mac/ellipse.mac"));
    WriteAll(p, macBinary(doc));
    KXT_CheckReaderRobustness("kxoMAC", p);
    unlink(p.c_str());
}

}  // namespace
