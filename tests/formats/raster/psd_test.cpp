// kxoPSD: documents of ImageMagick (raw and PackBits; grey, indexed, RGB,
// RGBA, CMYK) load like ImageMagick decodes them; hand-built documents for
// bitmap mode, five channels, skipped sections, packets past a channel and
// the refusals; the writer read back here and by ImageMagick, its
// refusals, the safe save and damaged input.
#include <gtest/gtest.h>

#include "formats/raster/kxoPSD.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"
#include "tiny_load.h"
#include "write_failure.h"

using namespace kxt;

namespace {

void be16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back((uint8_t)(x >> 8));
    v.push_back((uint8_t)x);
}
void be32(std::vector<uint8_t>& v, uint32_t x) {
    be16(v, x >> 16);
    be16(v, x & 0xFFFF);
}

struct Doc {
    uint32_t Channels = 3, W = 2, H = 2, Depth = 8, Mode = 3, Compression = 0;
    std::vector<uint8_t> ColourData, Resources, Layers, Data;
    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> v = {'8', 'B', 'P', 'S'};
        be16(v, 1);
        v.resize(v.size() + 6, 0);
        be16(v, Channels);
        be32(v, H);
        be32(v, W);
        be16(v, Depth);
        be16(v, Mode);
        be32(v, (uint32_t)ColourData.size());
        PutBytes(v, ColourData);
        be32(v, (uint32_t)Resources.size());
        PutBytes(v, Resources);
        be32(v, (uint32_t)Layers.size());
        PutBytes(v, Layers);
        be16(v, Compression);
        PutBytes(v, Data);
        return v;
    }
};

TEST(Psd, DocumentsOfImageMagickLoadLikeItDecodesThem) {
    struct {
        const char* Name;
        const char* Expected;
        uint32_t Depth;
        bool Grey;
        int Tolerance;
    } cases[] = {
        {"im_rgb_raw", "im_rgb_raw.ppm", 24, false, 0},       {"im_rgb_rle", "im_rgb_rle.ppm", 24, false, 0},
        {"im_rgba_raw", "im_rgba_raw.pam", 24, false, 0},     {"im_rgba_rle", "im_rgba_rle.pam", 24, false, 0},
        {"im_grey_rle", "im_grey_rle.ppm", 8, true, 0},       {"im_indexed_raw", "im_indexed_raw.ppm", 8, false, 0},
        {"im_indexed_rle", "im_indexed_rle.ppm", 8, false, 0}, {"im_cmyk_raw", "im_cmyk_raw.ppm", 24, false, 1},
        {"im_cmyk_rle", "im_cmyk_rle.ppm", 24, false, 1},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadFile<kxoPSD>(Fixture(std::string("psd/") + c.Name + ".psd"), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Buffer->ColorDepth, c.Depth);
        EXPECT_EQ((KXSUP_GetGfxBufferFlags(l.Buffer) & KXGFXF_GRAY) != 0, c.Grey);
        Rgb want;
        ASSERT_TRUE(ReadNetpbm(Fixture(std::string("psd/") + c.Expected), want));
        EXPECT_EQ(Compare(ToRgb(l.Buffer), want, c.Tolerance), "");
        EXPECT_EQ(l.Progress.front(), 0u);
        EXPECT_EQ(l.Progress.back(), 100u);
    }
}

TEST(Psd, HandBuiltDocuments) {
    {
        // Bitmap mode: one bit plane, 0 white and 1 black, grey.
        Doc d;
        d.Channels = 1, d.Depth = 1, d.Mode = 0, d.W = 10, d.H = 2;
        d.Data = {0x80, 0x40, 0xFF, 0xC0};
        Loaded l;
        LoadBytes<kxoPSD>(d.bytes(), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Buffer->Type, (uint32_t)BITPLANE);
        EXPECT_EQ(l.Buffer->BytesPerLine, 2u);
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(l.Buffer) & KXGFXF_GRAY, (uint32_t)KXGFXF_GRAY);
        const Rgb got = ToRgb(l.Buffer);
        EXPECT_EQ(got.Pix[0], 0);
        EXPECT_EQ(got.Pix[3], 255);
        EXPECT_EQ(got.Pix[3 * 9], 0);
    }
    {
        // Five channels, PackBits over whole channels (runs cross rows),
        // resources and a layer section before: alpha from the fourth, the
        // fifth's byte counts skipped with the others'.
        Doc d;
        d.Channels = 5, d.W = 3, d.H = 2, d.Compression = 1;
        d.Resources = std::vector<uint8_t>(37, 0x11);
        d.Layers = std::vector<uint8_t>(250, 0x22);
        d.Data = std::vector<uint8_t>(5 * 2 * 2, 0x33);
        PutBytes(d.Data, {0xFB, 10});                     // R: six 10s
        PutBytes(d.Data, {0x05, 1, 2, 3, 4, 5, 6});       // G: literal
        PutBytes(d.Data, {0xFE, 7, 0x02, 8, 9, 10});      // B: three 7s, then 8 9 10
        PutBytes(d.Data, {0x80, 0xFB, 200});              // alpha: no-op, six 200s
        PutBytes(d.Data, {0xFB, 99});                     // fifth: ignored
        Loaded l;
        LoadBytes<kxoPSD>(d.bytes(), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 18),
                  (std::vector<uint8_t>{10, 1, 7, 10, 2, 7, 10, 3, 7, 10, 4, 8, 10, 5, 9, 10, 6, 10}));
        ASSERT_EQ(KXSUP_AlphaHolds(l.Buffer), (uint32_t)KXALPHA_CHANNEL8);
        EXPECT_EQ(KXSUP_AlphaBytes(l.Buffer)[5], 200);
    }
    {
        // A packet past a channel's end is cut there; the next channel
        // starts after the packet.
        Doc d;
        d.Channels = 1, d.Mode = 1, d.W = 2, d.H = 1, d.Compression = 1;
        d.Data = {0, 4, 0x05, 1, 2, 3, 4, 5, 6};
        Loaded l;
        LoadBytes<kxoPSD>(d.bytes(), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 2), (std::vector<uint8_t>{1, 2}));
        EXPECT_EQ(l.Buffer->Palette[3 * 77], 77);
    }
    {
        // CMYK: R, G, B are the stored C, M, Y times K over 255.
        Doc d;
        d.Channels = 4, d.Mode = 4, d.W = 1, d.H = 1;
        d.Data = {200, 100, 255, 128};
        Loaded l;
        LoadBytes<kxoPSD>(d.bytes(), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 3), (std::vector<uint8_t>{100, 50, 128}));
        EXPECT_EQ(KXSUP_AlphaHolds(l.Buffer), (uint32_t)KXALPHA_NONE);
    }
}

TEST(Psd, Refusals) {
    auto doc = [](auto change) {
        Doc d;
        d.Data = std::vector<uint8_t>(12, 0);
        change(d);
        return d.bytes();
    };
    std::vector<uint8_t> badVersion = doc([](Doc&) {});
    badVersion[5] = 2;
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        uint32_t Err;
    } cases[] = {
        {"16-bit", doc([](Doc& d) { d.Depth = 16; }), KXERR_FILEREQUIREMENTS},
        {"Lab", doc([](Doc& d) { d.Mode = 9; }), KXERR_FILEREQUIREMENTS},
        {"multichannel", doc([](Doc& d) { d.Mode = 7; }), KXERR_FILEREQUIREMENTS},
        {"zip", doc([](Doc& d) { d.Compression = 2; }), KXERR_FILEREQUIREMENTS},
        {"17 channels", doc([](Doc& d) { d.Channels = 17; }), KXERR_FILEREQUIREMENTS},
        {"2 channels", doc([](Doc& d) { d.Channels = 2; }), KXERR_FILEREQUIREMENTS},
        {"bitmap of 3 channels", doc([](Doc& d) { d.Mode = 0; }), KXERR_FILEREQUIREMENTS},
        {"CMYK of 3 channels", doc([](Doc& d) { d.Mode = 4; }), KXERR_FILEREQUIREMENTS},
        {"version 2", badVersion, KXERR_FILEREQUIREMENTS},
        {"raw data cut", doc([](Doc& d) { d.Data.resize(7); }), KXERR_EOF},
        {"PackBits cut", doc([](Doc& d) { d.Compression = 1, d.Data = std::vector<uint8_t>(12, 0); PutBytes(d.Data, {0xFD}); }), KXERR_EOF},
        {"no pixel data after the sections", doc([](Doc& d) { d.Layers.resize(4); d.Data.clear(); }), KXERR_EOF},
        {"beyond 32 bits", doc([](Doc& d) { d.W = 100000, d.H = 100000; }), KXERR_FILEREQUIREMENTS},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoPSD>(c.File, l);
        EXPECT_EQ(l.Err, c.Err);
        EXPECT_EQ(l.Buffer, nullptr);
    }
}

TEST(Psd, WriterRoundTripsHereAndInImageMagick) {
    const bool im = KXT_HaveTool("convert-im6.q16");
    const std::string p = TempPath("w.psd"), q = TempPath("w.pam");
    struct {
        uint32_t Depth;
        bool Alpha;
    } kinds[] = {{8, false}, {4, false}, {24, false}, {24, true}};
    for (auto& k : kinds)
        for (uint32_t w : {1u, 2u, 3u, 8u, 13u, 17u}) {
            SCOPED_TRACE("depth " + std::to_string(k.Depth) + (k.Alpha ? " alpha" : "") + " width " + std::to_string(w));
            KX_GfxBuffer* img = MakeImage(w, 3, k.Depth, k.Alpha);
            const Rgb want = ToRgb(img);
            Saved s = SaveTo<kxoPSD>(img, p);
            ASSERT_EQ(s.Err, KXERR_NONE);
            EXPECT_EQ(s.File[13], (k.Depth == 24 ? 3 : 1) + (k.Alpha ? 1 : 0));
            EXPECT_EQ(s.File[25], k.Depth == 24 ? 3 : 2);
            Loaded l;
            LoadFile<kxoPSD>(p, l);
            ASSERT_EQ(l.Err, KXERR_NONE);
            EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "") << "ours";
            // This ImageMagick cannot read indexed documents, its own included.
            if (im && k.Depth == 24) {
                ASSERT_TRUE(Shell("convert-im6.q16 " + p + " -depth 8 pam:" + q));
                Rgb got;
                ASSERT_TRUE(ReadNetpbm(q, got));
                // A flat document's fourth channel is an extra channel there, not transparency.
                Rgb colours = want;
                colours.Alpha.clear();
                EXPECT_EQ(Compare(got, colours), "") << "ImageMagick";
            }
            KXSUP_FreeGfxBuffer(img);
        }
    unlink(p.c_str());
    unlink(q.c_str());
}

TEST(Psd, SaveRefusalsAndFailedWrites) {
    const std::string p = TempPath("refuse.psd");
    KX_GfxBuffer* deep = MakeImage(2, 2, 48);
    EXPECT_EQ(SaveOverOld<kxoPSD>(deep, p), KXERR_FILEREQUIREMENTS);
    KXSUP_FreeGfxBuffer(deep);
    unlink(p.c_str());
    for (uint32_t depth : {8u, 24u}) {
        KX_GfxBuffer* img = MakeImage(300, 300, depth, depth == 24);
        kxoPSD w;
        EXPECT_EQ(SaveUnderFileSizeLimit(&w, img, "full.psd"), KXERR_IO) << depth;
        KXSUP_FreeGfxBuffer(img);
    }
}

// A few bytes that declare a huge document are refused as short before
// the picture is made (raw: the channels read; PackBits: the byte-count
// table and two bytes for every 128 a channel yields); packets that
// really describe a large picture still load.
TEST(Psd, TinyFilesNeverCostTheirDeclaredPicture) {
    Doc packed;
    packed.W = packed.H = 25000, packed.Compression = 1;  // 1.9 GB
    packed.Data = std::vector<uint8_t>(907, 0xFD);
    Doc raw;
    raw.W = raw.H = 16000;  // 768 MB
    raw.Data = std::vector<uint8_t>(907, 7);
    Doc cmyk = packed;
    cmyk.Channels = 4, cmyk.Mode = 4, cmyk.W = cmyk.H = 15000;
    Doc runs;
    runs.Channels = 1, runs.Mode = 1, runs.W = runs.H = 1000, runs.Compression = 1;
    runs.Data = std::vector<uint8_t>(2000, 0);
    for (int i = 0; i < 1000 * 1000 / 128 + 1; ++i) PutBytes(runs.Data, {0x81, 9});
    const std::vector<TinyCase> cases = {
        {"947 bytes of PackBits for 1.9 GB", packed.bytes(), KXERR_EOF},
        {"947 bytes raw for 768 MB", raw.bytes(), KXERR_EOF},
        {"CMYK with its black channel", cmyk.bytes(), KXERR_EOF},
        {"packets that fill 1 MB", runs.bytes(), KXERR_NONE},
    };
    ASSERT_EQ(cases[0].File.size(), 947u);
    ExpectTinyLoads<kxoPSD>(cases, "tiny.psd");
}

TEST(Psd, ReadersSurviveDamagedFiles) {
    for (const char* f : {"im_rgba_rle", "im_rgb_raw", "im_indexed_rle", "im_cmyk_rle", "im_grey_rle"})
        KXT_CheckReaderRobustness("kxoPSD", Fixture(std::string("psd/") + f + ".psd"));
}

}  // namespace
