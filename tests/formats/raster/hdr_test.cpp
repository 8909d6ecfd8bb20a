// kxoHDR: files of ImageMagick and vips load like vips decodes them; header
// and resolution rules; the RGBE mapping at its fixed points; flat,
// run-length and repeat-coded scanlines, damaged ones refused; the writer's
// bytes, its refusals, the safe save; our files read by vips and ImageMagick.
#include <gtest/gtest.h>

#include <cmath>

#include "formats/raster/kxoHDR.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"
#include "write_failure.h"

using namespace kxt;

namespace {

std::vector<uint8_t> hdrFile(const std::string& header, const std::vector<uint8_t>& pixels) {
    std::vector<uint8_t> v(header.begin(), header.end());
    PutBytes(v, pixels);
    return v;
}

const std::string kHead = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n";

// Linear floats to display bytes as the gamma 2.0 mapping does.
uint8_t display(double v) {
    double d = 256.0 * std::sqrt(v > 0 ? v : 0);
    return (uint8_t)(d > 255 ? 255 : d);
}

// Decodes with vips (radiance to float, raw floats): the expected pixels.
bool decodeWithVips(const std::string& path, uint32_t w, uint32_t h, Rgb& out) {
    const std::string v = TempPath("ref.v"), raw = TempPath("ref.raw");
    bool ok = Shell("vips rad2float " + path + " " + v) && Shell("vips rawsave " + v + " " + raw);
    std::vector<uint8_t> d = KXT_ReadBytes(raw);
    unlink(v.c_str());
    unlink(raw.c_str());
    if (!ok || d.size() != (size_t)w * h * 12) return false;
    out.W = w, out.H = h;
    out.Pix.resize((size_t)w * h * 3);
    for (size_t i = 0; i < out.Pix.size(); ++i) {
        float f;
        memcpy(&f, &d[4 * i], 4);
        out.Pix[i] = display(f);
    }
    return true;
}

// ImageMagick's floats (it drops the half step of the mantissa).
bool decodeWithImageMagick(const std::string& path, Rgb& out) {
    const std::string raw = TempPath("ref_im.raw");
    if (!Shell("convert-im6.q16 " + path + " -set colorspace sRGB -define quantum:format=floating-point -depth 32 rgb:" + raw))
        return false;
    std::vector<uint8_t> d = KXT_ReadBytes(raw);
    unlink(raw.c_str());
    if (d.size() != (size_t)out.W * out.H * 12) return false;
    out.Pix.resize((size_t)out.W * out.H * 3);
    for (size_t i = 0; i < out.Pix.size(); ++i) {
        float f;
        memcpy(&f, &d[4 * i], 4);
        out.Pix[i] = display(f);
    }
    return true;
}

uint16_t sample(const KX_GfxBuffer* b, size_t pixel, int c) {
    uint16_t v;
    memcpy(&v, b->Data + 6 * pixel + 2 * c, 2);
    return v;
}

TEST(Hdr, FilesOfImageMagickAndVipsLoadLikeVipsDecodesThem) {
    KXT_NEED_TOOL("vips");
    for (const char* f : {"im_rle.hdr", "im_flat.hdr", "vips_rle.hdr", "vips_flat.hdr"}) {
        SCOPED_TRACE(f);
        Loaded l;
        LoadFile<kxoHDR>(Fixture(std::string("hdr/") + f), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Buffer->ColorDepth, 48u);
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(l.Buffer) & (KXGFXF_II | KXGFXF_MM), (uint32_t)KXGFXF_II);
        Rgb want;
        ASSERT_TRUE(decodeWithVips(Fixture(std::string("hdr/") + f), l.Buffer->Width, l.Buffer->Height, want));
        // Above exponent 128 the tables step by half a mantissa: 2 at most.
        EXPECT_EQ(Compare(ToRgb(l.Buffer), want, 2), "");
        ASSERT_EQ(l.Progress.size(), l.Buffer->Height);  // after every row
        EXPECT_EQ(l.Progress.back(), 100u);
    }
}

TEST(Hdr, HeaderAndResolutionRules) {
    const std::vector<uint8_t> px = {128, 64, 32, 128, 10, 20, 30, 129};  // two flat pixels
    struct {
        const char* Name;
        std::string Header;
        uint32_t Err;
    } cases[] = {
        {"no FORMAT line", "#?RADIANCE\n# just a comment\n\n-Y 1 +X 2\n", KXERR_NONE},
        {"blanks around the format", "#?RADIANCE\nFORMAT=  32-bit_rle_rgbe \t\n\n-Y 1 +X 2\n", KXERR_NONE},
        {"other lines ignored", "#?RGBE\nEXPOSURE=4.0\nGAMMA=1\n\n-Y 1 +X 2\n", KXERR_NONE},
        {"a long line split in pieces", "#?RADIANCE\n#" + std::string(1500, 'x') + "\n\n-Y 1 +X 2\n", KXERR_NONE},
        {"CR before LF is not the end", "#?RADIANCE\r\n\r\n\n-Y 1 +X 2\n", KXERR_NONE},
        {"XYZE", "#?RADIANCE\nFORMAT=32-bit_rle_xyze\n\n-Y 1 +X 2\n", KXERR_DECODE},
        {"later FORMAT wins", "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nFORMAT=other\n\n-Y 1 +X 2\n", KXERR_DECODE},
        {"header to the end", "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n", KXERR_DECODE},
        {"+Y", kHead + "+Y 1 +X 2\n", KXERR_DECODE},
        {"-X", kHead + "-Y 1 -X 2\n", KXERR_DECODE},
        {"X first", kHead + "+X 2 -Y 1\n", KXERR_DECODE},
        {"no X", kHead + "-Y 1 +Z 2\n", KXERR_DECODE},
        {"zero height", kHead + "-Y 0 +X 2\n", KXERR_DECODE},
        {"negative width", kHead + "-Y 1 +X -2\n", KXERR_DECODE},
        {"width beyond 32 bits", kHead + "-Y 1 +X 99999999999\n", KXERR_DECODE},
        {"no resolution line", kHead, KXERR_DECODE},
        {"picture beyond 32 bits", kHead + "-Y 2000000000 +X 2000000000\n", KXERR_FILEREQUIREMENTS},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoHDR>(hdrFile(c.Header, px), l);
        EXPECT_EQ(l.Err, c.Err);
        if (c.Err == KXERR_NONE) {
            ASSERT_NE(l.Buffer, nullptr);
            EXPECT_EQ(l.Buffer->Width, 2u);
            EXPECT_EQ(l.Buffer->Height, 1u);
        } else {
            EXPECT_EQ(l.Buffer, nullptr);
        }
    }
    EXPECT_EQ(Recognises<kxoHDR>(hdrFile("#?RGBE\n", {})), 1u);
    EXPECT_EQ(Recognises<kxoHDR>(hdrFile("#?RADIANCE", {})), 1u);
    EXPECT_EQ(Recognises<kxoHDR>(hdrFile("#?radiance\n", {})), 0u);
    EXPECT_EQ(Recognises<kxoHDR>(hdrFile("#?RGB", {})), 0u);
}

TEST(Hdr, RgbeMappingAtItsFixedPoints) {
    // Reading: exponent and mantissa to 16-bit samples.
    struct {
        std::vector<uint8_t> Pixel;
        uint16_t R, G, B;
    } reads[] = {
        {{254, 254, 254, 128}, 0xFFFF, 0xFFFF, 0xFFFF},
        {{128, 128, 128, 127}, 128 * 257, 128 * 257, 128 * 257},
        {{254, 0, 0, 128}, 0xFFFF, 11 * 257, 11 * 257},  // a zero mantissa under an exponent is not black
        {{1, 2, 3, 137}, 0xFFFF, 0xFFFF, 0xFFFF},
        {{200, 200, 200, 104}, 0, 0, 0},
        {{9, 9, 9, 0}, 0, 0, 0},
    };
    for (auto& c : reads) {
        Loaded l;
        LoadBytes<kxoHDR>(hdrFile(kHead + "-Y 1 +X 1\n", c.Pixel), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(sample(l.Buffer, 0, 0), c.R);
        EXPECT_EQ(sample(l.Buffer, 0, 1), c.G);
        EXPECT_EQ(sample(l.Buffer, 0, 2), c.B);
    }
    // Writing: display bytes to RGBE (flat rows: width below 8).
    struct {
        uint8_t R, G, B;
        std::vector<uint8_t> Rgbe;
    } writes[] = {
        {255, 255, 255, {254, 254, 254, 128}}, {128, 128, 128, {128, 128, 128, 127}}, {1, 1, 1, {128, 128, 128, 113}},
        {0, 0, 0, {0, 0, 0, 0}},               {255, 0, 1, {254, 0, 0, 128}},
    };
    const std::string p = TempPath("map.hdr");
    for (auto& c : writes) {
        KX_GfxBuffer* img = MakeImage(1, 1, 24);
        img->Data[0] = c.R, img->Data[1] = c.G, img->Data[2] = c.B;
        Saved s = SaveTo<kxoHDR>(img, p);
        ASSERT_EQ(s.Err, KXERR_NONE);
        ASSERT_GE(s.File.size(), 4u);
        EXPECT_EQ(std::vector<uint8_t>(s.File.end() - 4, s.File.end()), c.Rgbe);
        KXSUP_FreeGfxBuffer(img);
    }
    unlink(p.c_str());
}

TEST(Hdr, ScanlineForms) {
    const std::vector<uint8_t> a = {10, 20, 30, 128}, b = {40, 50, 60, 128};
    auto row = [](std::initializer_list<std::vector<uint8_t>> pixels) {
        std::vector<uint8_t> v;
        for (auto& p : pixels) PutBytes(v, p);
        return v;
    };
    const std::vector<uint8_t> mark2 = {1, 1, 1, 2}, mark1 = {1, 1, 1, 1};
    struct {
        const char* Name;
        uint32_t W;
        std::vector<uint8_t> Data;
        uint32_t Err;
        std::vector<uint8_t> FirstR;  // mantissas of R expected, pixel by pixel
    } cases[] = {
        {"flat", 3, row({a, b, a}), KXERR_NONE, {10, 40, 10}},
        {"repeat marker", 4, row({a, mark2, b}), KXERR_NONE, {10, 10, 10, 40}},
        // Two markers in a row: 1 + 1 x 256 copies would pass the row's end.
        {"markers past the row", 6, row({a, mark1, mark1}), KXERR_DECODE, {}},
        {"marker first", 2, row({mark1, a}), KXERR_DECODE, {}},
        {"flat cut", 3, row({a, b}), KXERR_DECODE, {}},
        // Run-length: 2, 2, width; each component as packets.
        {"run-length", 8, {2, 2, 0, 8, 136, 7, 2, 1, 2, 134, 3, 136, 4, 136, 128}, KXERR_NONE, {7, 7, 7, 7, 7, 7, 7, 7}},
        {"run past the row", 8, {2, 2, 0, 8, 137, 7}, KXERR_DECODE, {}},
        {"literal past the row", 8, {2, 2, 0, 8, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9}, KXERR_DECODE, {}},
        {"width differs", 8, {2, 2, 0, 9, 136, 7, 136, 7, 136, 7, 136, 128}, KXERR_DECODE, {}},
        {"run-length cut", 8, {2, 2, 0, 8, 136, 7, 136}, KXERR_DECODE, {}},
        // A row starting 2 that is not run-length: flat from the first pixel on.
        {"flat starting with 2", 8, row({{2, 3, 4, 128}, a, a, a, a, a, a, a}), KXERR_NONE, {2, 10, 10, 10, 10, 10, 10, 10}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoHDR>(hdrFile(kHead + "-Y 1 +X " + std::to_string(c.W) + "\n", c.Data), l);
        EXPECT_EQ(l.Err, c.Err);
        if (c.Err != KXERR_NONE) {
            EXPECT_EQ(l.Buffer, nullptr);
            continue;
        }
        ASSERT_NE(l.Buffer, nullptr);
        for (size_t x = 0; x < c.FirstR.size(); ++x) {
            Loaded one;
            LoadBytes<kxoHDR>(hdrFile(kHead + "-Y 1 +X 1\n", {c.FirstR[x], 0, 0, 128}), one);
            EXPECT_EQ(sample(l.Buffer, x, 0), sample(one.Buffer, 0, 0)) << "pixel " << x;
        }
    }
}

TEST(Hdr, WriterBytes) {
    const std::string p = TempPath("bytes.hdr");
    const std::string head = "#?RADIANCE\n# Kaxon5 SDK\nFORMAT=32-bit_rle_rgbe\nEXPOSURE=          1.0000000000000\n\n";
    {
        // Below 8 pixels: flat rows of 28 bytes, for 24 and 48 bits alike.
        for (uint32_t depth : {24u, 48u}) {
            KX_GfxBuffer* img = MakeImage(7, 2, depth);
            Saved s = SaveTo<kxoHDR>(img, p);
            ASSERT_EQ(s.Err, KXERR_NONE);
            const std::string text = head + "-Y 2 +X 7\n";
            ASSERT_EQ(s.File.size(), text.size() + 56);
            EXPECT_EQ(std::string(s.File.begin(), s.File.begin() + text.size()), text);
            KXSUP_FreeGfxBuffer(img);
        }
    }
    {
        // 8 pixels: run-length rows beginning 2, 2, 0, 8.
        KX_GfxBuffer* img = MakeImage(8, 1, 24);
        Saved s = SaveTo<kxoHDR>(img, p);
        ASSERT_EQ(s.Err, KXERR_NONE);
        const size_t at = head.size() + std::string("-Y 1 +X 8\n").size();
        EXPECT_EQ(std::vector<uint8_t>(s.File.begin() + at, s.File.begin() + at + 4), (std::vector<uint8_t>{2, 2, 0, 8}));
        KXSUP_FreeGfxBuffer(img);
    }
    {
        // 200 equal pixels: each component as runs of 127 and 73.
        KX_GfxBuffer* img = MakeImage(200, 1, 24);
        memset(img->Data, 255, img->BufferSize);
        Saved s = SaveTo<kxoHDR>(img, p);
        ASSERT_EQ(s.Err, KXERR_NONE);
        const size_t at = head.size() + std::string("-Y 1 +X 200\n").size() + 4;
        EXPECT_EQ(std::vector<uint8_t>(s.File.begin() + at, s.File.end()),
                  (std::vector<uint8_t>{255, 254, 201, 254, 255, 254, 201, 254, 255, 254, 201, 254, 255, 128, 201, 128}));
        KXSUP_FreeGfxBuffer(img);
    }
    {
        // A, A, B x 10: A, A is a short run 130, A; then a run of 10.
        KX_GfxBuffer* img = MakeImage(12, 1, 24);
        memset(img->Data, 255, img->BufferSize);
        memset(img->Data, 128, 6);
        Saved s = SaveTo<kxoHDR>(img, p);
        ASSERT_EQ(s.Err, KXERR_NONE);
        const size_t at = head.size() + std::string("-Y 1 +X 12\n").size() + 4;
        EXPECT_EQ(std::vector<uint8_t>(s.File.begin() + at, s.File.begin() + at + 4), (std::vector<uint8_t>{130, 128, 138, 254}));
        KXSUP_FreeGfxBuffer(img);
    }
    unlink(p.c_str());
}

TEST(Hdr, GreyRoundTripAndDeepPictures) {
    const std::string p = TempPath("rt.hdr");
    // Grey values come back within one step (the tables' fixed points
    // exactly), widened to 16 bits.
    KX_GfxBuffer* img = MakeImage(256, 3, 24);
    for (uint32_t i = 0; i < img->BufferSize; ++i) img->Data[i] = (uint8_t)(i / 3);
    ASSERT_EQ(SaveTo<kxoHDR>(img, p).Err, KXERR_NONE);
    Loaded l;
    LoadFile<kxoHDR>(p, l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    for (uint32_t i = 0; i < 256; ++i) {
        const uint16_t got = sample(l.Buffer, i, 1);
        EXPECT_EQ(got % 257, 0) << i;
        EXPECT_LE(abs((int)(got / 257) - (int)i), 1) << i;
        if (i == 0 || i == 1 || i == 128 || i == 255) EXPECT_EQ(got, i * 257) << i;
    }

    // A 48-bit picture marked big-endian is turned little-endian in place
    // and saved; it loads back little-endian with the same high bytes.
    KX_GfxBuffer* deep = MakeImage(9, 2, 48);
    const Rgb want = ToRgb(deep);
    for (uint32_t i = 0; i < deep->BufferSize; i += 2) std::swap(deep->Data[i], deep->Data[i + 1]);
    KXSUP_SetGfxBufferEndianess(deep, 1);
    ASSERT_EQ(SaveTo<kxoHDR>(deep, p).Err, KXERR_NONE);
    EXPECT_EQ(KXSUP_GetGfxBufferEndianess(deep), (uint32_t)KXENDIAN_LITTLE);
    EXPECT_EQ(Compare(ToRgb(deep), want), "");
    KX_GfxBuffer* narrow = MakeImage(9, 2, 24);
    memcpy(narrow->Data, want.Pix.data(), narrow->BufferSize);
    const std::string q = TempPath("rt24.hdr");
    ASSERT_EQ(SaveTo<kxoHDR>(narrow, q).Err, KXERR_NONE);
    EXPECT_EQ(KXT_ReadBytes(p), KXT_ReadBytes(q));  // the high bytes are what is written
    KXSUP_FreeGfxBuffer(img);
    KXSUP_FreeGfxBuffer(deep);
    KXSUP_FreeGfxBuffer(narrow);
    unlink(p.c_str());
    unlink(q.c_str());
}

TEST(Hdr, SaveRefusals) {
    const std::string p = TempPath("refuse.hdr");
    struct {
        const char* Name;
        uint32_t W, Depth;
        uint32_t Err;
    } cases[] = {
        {"palette", 4, 8, KXERR_NEED24BIT},
        {"wider than a run-length row", 40000, 24, KXERR_DECODE},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        KX_GfxBuffer* img = MakeImage(c.W, 1, c.Depth);
        EXPECT_EQ(SaveOverOld<kxoHDR>(img, p), c.Err);
        KXSUP_FreeGfxBuffer(img);
    }
    unlink(p.c_str());
    KX_GfxBuffer* img = MakeImage(300, 300, 24);
    kxoHDR hdr;
    EXPECT_EQ(SaveUnderFileSizeLimit(&hdr, img, "full.hdr"), KXERR_IO);
    KXSUP_FreeGfxBuffer(img);
}

TEST(Hdr, OurFilesReadInVipsAndImageMagick) {
    KXT_NEED_TOOL("vips");
    const std::string p = TempPath("ours.hdr");
    for (uint32_t w : {5u, 17u, 64u}) {
        SCOPED_TRACE(w);
        KX_GfxBuffer* img = MakeImage(w, 4, 24);
        for (uint32_t x = 0; x < w / 2; ++x) memset(img->Data + 3 * x, 200, 3);  // runs too
        ASSERT_EQ(SaveTo<kxoHDR>(img, p).Err, KXERR_NONE);
        Loaded l;
        LoadFile<kxoHDR>(p, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        const Rgb ours = ToRgb(l.Buffer);
        Rgb theirs;
        ASSERT_TRUE(decodeWithVips(p, w, 4, theirs));
        EXPECT_EQ(Compare(theirs, ours, 2), "") << "vips";
        if (KXT_HaveTool("convert-im6.q16")) {
            Rgb im;
            im.W = w, im.H = 4;
            ASSERT_TRUE(decodeWithImageMagick(p, im));
            // ImageMagick drops the mantissa's half step: a zero mantissa
            // reads as black there, as at most 16 here.
            for (size_t i = 0; i < ours.Pix.size(); ++i) {
                if (im.Pix[i] == 0) EXPECT_LE(ours.Pix[i], 16) << "ImageMagick, sample " << i;
                else EXPECT_LE(abs(im.Pix[i] - ours.Pix[i]), 4) << "ImageMagick, sample " << i;
            }
        }
        KXSUP_FreeGfxBuffer(img);
    }
    unlink(p.c_str());
}

TEST(Hdr, ReadersSurviveDamagedFiles) {
    for (const char* f : {"im_rle.hdr", "im_flat.hdr", "vips_rle.hdr"})
        KXT_CheckReaderRobustness("kxoHDR", Fixture(std::string("hdr/") + f));
}

}  // namespace
