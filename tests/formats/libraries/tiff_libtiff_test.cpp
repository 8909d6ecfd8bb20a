// The TIFF reader's libtiff road on files written in the test through
// libtiff itself: wide integer and floating-point samples, 4-bit RGB,
// 12-bit grey, CMYK with and without a profile, the metadata tags, the
// colorimetry profile, pages, and IPTC written by exiftool.
#include <tiffio.h>

#include <cmath>
#include <functional>

#include "core/colour.h"
#include "formats/libraries/kxoTIFFInternal.h"
#include "tiff_helpers.h"

namespace {

using namespace tifftest;

struct Layout {
    uint32_t w = 3, h = 2;
    uint16_t bits = 8, samples = 3, format = SAMPLEFORMAT_UINT, photometric = PHOTOMETRIC_RGB;
    uint16_t planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_LZW;
    bool big = false;
};

// Writes rows (or plane rows) of raw sample bytes; `tags` sets more fields.
bool WriteTiff(const std::string& path, const Layout& l, const std::vector<Bytes>& rows,
               const std::function<void(TIFF*)>& tags = nullptr) {
    TIFF* t = TIFFOpen(path.c_str(), l.big ? "wb" : "wl");
    if (!t) return false;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, l.w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, l.h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, l.bits);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, l.samples);
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, l.format);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, l.photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, l.planar);
    TIFFSetField(t, TIFFTAG_COMPRESSION, l.compression);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 1);
    if (tags) tags(t);
    bool ok = true;
    const uint32_t planes = l.planar == PLANARCONFIG_SEPARATE ? l.samples : 1;
    for (uint32_t p = 0; p < planes; ++p)
        for (uint32_t y = 0; y < l.h; ++y) {
            Bytes row = rows[p * l.h + y];
            ok = ok && TIFFWriteScanline(t, row.data(), y, (uint16_t)p) >= 0;
        }
    TIFFClose(t);
    return ok;
}

template <class T>
Bytes Raw(std::initializer_list<T> v) {
    Bytes b(v.size() * sizeof(T));
    memcpy(b.data(), std::data(v), b.size());
    return b;
}

uint16_t S16(const KX_GfxBuffer* b, uint32_t i) { return (uint16_t)Sample(b, i / 3, (int)(i % 3)); }

TEST(TiffLibtiff, WideAndOddSamples) {
    const float nan = std::nanf("");
    struct Case {
        const char* name;
        Layout layout;
        std::vector<Bytes> rows;
        std::function<void(TIFF*)> tags;
        uint32_t depth;
        std::vector<uint32_t> want;  // the first samples (RGB) or grey values
    };
    Layout f32;
    f32.bits = 32;
    f32.format = SAMPLEFORMAT_IEEEFP;
    f32.w = 2;
    f32.h = 1;
    Layout f32grey = f32;
    f32grey.samples = 1;
    f32grey.photometric = PHOTOMETRIC_MINISBLACK;
    Layout f16 = f32;
    f16.bits = 16;
    Layout f16sep = f16;
    f16sep.planar = PLANARCONFIG_SEPARATE;
    f16sep.big = true;
    Layout f64 = f32;
    f64.bits = 64;
    f64.big = true;
    Layout f24 = f32;
    f24.bits = 24;
    f24.compression = COMPRESSION_NONE;
    Layout u32 = f32;
    u32.format = SAMPLEFORMAT_UINT;
    Layout u64grey = f32grey;
    u64grey.bits = 64;
    u64grey.format = SAMPLEFORMAT_UINT;
    Layout rgb4;
    rgb4.bits = 4;
    rgb4.w = 2;
    rgb4.h = 1;
    Layout rgb4sep = rgb4;
    rgb4sep.planar = PLANARCONFIG_SEPARATE;
    Layout grey12;
    grey12.bits = 12;
    grey12.samples = 1;
    grey12.photometric = PHOTOMETRIC_MINISBLACK;
    grey12.w = 3;
    grey12.h = 1;
    auto range = [](TIFF* t) {
        TIFFSetField(t, TIFFTAG_SMINSAMPLEVALUE, -1.0);
        TIFFSetField(t, TIFFTAG_SMAXSAMPLEVALUE, 1.0);
    };
    // Half precision: 0, 0.5, 1, infinity, a subnormal, -2.
    const uint16_t h0 = 0x0000, hHalf = 0x3800, hOne = 0x3C00, hInf = 0x7C00, hSub = 0x0001, hNeg = 0xC000;
    // 24-bit floats: the high three bytes of a single, low byte first.
    auto f24v = [](float f) {
        uint32_t u;
        memcpy(&u, &f, 4);
        return Bytes{(uint8_t)(u >> 8), (uint8_t)(u >> 16), (uint8_t)(u >> 24)};
    };
    Bytes f24row;
    for (float f : {0.0f, 0.5f, 1.0f, 0.25f, 2.0f, -1.0f}) {
        Bytes v = f24v(f);
        f24row.insert(f24row.end(), v.begin(), v.end());
    }
    const Case cases[] = {
        {"float32 RGB, range -1..1, NaN and beyond", f32, {Raw<float>({-1.0f, 0.0f, 1.0f, nan, 2.0f, -3.0f})}, range, 48,
         {0, 32767, 65535, 0, 65535, 0}},
        {"float32 grey", f32grey, {Raw<float>({0.5f, 1.0f})}, nullptr, 8, {32767 / 257, 255}},
        {"float16 RGB", f16, {Raw<uint16_t>({h0, hHalf, hOne, hInf, hSub, hNeg})}, nullptr, 48, {0, 32767, 65535, 65535, 0, 0}},
        {"float16 RGB, separate planes, big-endian", f16sep,
         {Raw<uint16_t>({h0, hOne}), Raw<uint16_t>({hHalf, hHalf}), Raw<uint16_t>({hOne, h0})}, nullptr, 48,
         {0, 32767, 65535, 65535, 32767, 0}},
        {"float64 RGB, big-endian", f64, {Raw<double>({0.0, 0.25, 1.0, 0.75, 0.5, 1.5})}, nullptr, 48,
         {0, 16383, 65535, 49151, 32767, 65535}},
        {"float24 RGB", f24, {f24row}, nullptr, 48, {0, 32767, 65535, 16383, 65535, 0}},
        {"uint32 RGB", u32, {Raw<uint32_t>({0, 0xFFFFFFFFu, 0x12345678u, 1, 0x80000000u, 0x0000FFFFu})}, nullptr, 48,
         {0, 65535, 0x1234, 0, 0x8000, 0}},
        {"uint64 grey", u64grey, {Raw<uint64_t>({~0ull, 0x8000000000000000ull})}, nullptr, 8, {255, 0x8000 / 257}},
        {"4-bit RGB", rgb4, {Bytes{0x0F, 0x84, 0x21}}, nullptr, 24, {0, 255, 136, 68, 34, 17}},
        {"4-bit RGB, separate planes", rgb4sep, {Bytes{0x0F}, Bytes{0x84}, Bytes{0x21}}, nullptr, 24, {0, 136, 34, 255, 68, 17}},
        {"12-bit grey", grey12, {Bytes{0xAB, 0xCD, 0xEF, 0x12, 0x30}}, nullptr, 8, {0xAB, 0xDE, 0x12}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = TempPath("wide.tif");
        ASSERT_TRUE(WriteTiff(path, c.layout, c.rows, c.tags));
        KXTiffTestSeam seam;
        Tiff t;
        ASSERT_EQ(t.Load(path), KXERR_NONE);
        EXPECT_EQ(seam.LastRoad, (uint32_t)KXTiffTestSeam::ROAD_LIBTIFF);
        KX_GfxBuffer* b = t.Image();
        ASSERT_NE(b, nullptr);
        ASSERT_EQ(b->ColorDepth, c.depth);
        for (size_t i = 0; i < c.want.size(); ++i) {
            const uint32_t got = c.depth == 8 ? Sample(b, (uint32_t)i, 0) : S16(b, (uint32_t)i);
            EXPECT_EQ(got, c.want[i]) << "sample " << i;
        }
        if (c.layout.bits == 4) EXPECT_NE(KXSUP_GetGfxBufferFlags(b) & KXGFXF_SRCLOWDEPTH, 0u);
        if (c.depth == 48) EXPECT_EQ(KXSUP_GetGfxBufferEndianess(b), (uint32_t)KXENDIAN_LITTLE);
        remove(path.c_str());
    }
}

// CMYK: without a profile each colour is the inverted ink times the
// inverted black, as libtiff's RGBA reader gives it; with one, the picture goes through it to sRGB and the profile is not
// kept in the metadata.
TEST(TiffLibtiff, Cmyk) {
    Layout l;
    l.photometric = PHOTOMETRIC_SEPARATED;
    l.samples = 4;
    l.w = 2;
    l.h = 1;
    const Bytes row = {10, 20, 30, 40, 250, 128, 0, 255};
    const std::string path = TempPath("cmyk.tif");
    {
        ASSERT_TRUE(WriteTiff(path, l, {row}));
        Tiff t;
        ASSERT_EQ(t.Load(path, true), KXERR_NONE);
        const KX_GfxBuffer* b = t.Image();
        ASSERT_EQ(b->ColorDepth, 24u);
        const uint8_t want[6] = {206, 198, 189, 0, 0, 0};
        EXPECT_EQ(memcmp(b->Data, want, 6), 0);
    }
    Layout l16 = l;
    l16.bits = 16;
    l16.planar = PLANARCONFIG_SEPARATE;
    {
        ASSERT_TRUE(WriteTiff(path, l16, {Raw<uint16_t>({1000, 65535}), Raw<uint16_t>({2000, 0}), Raw<uint16_t>({3000, 5}),
                                          Raw<uint16_t>({0, 0})}));
        Tiff t;
        ASSERT_EQ(t.Load(path), KXERR_NONE);
        const KX_GfxBuffer* b = t.Image();
        ASSERT_EQ(b->ColorDepth, 48u);
        const uint32_t want[6] = {64535, 63535, 62535, 0, 65535, 65530};
        for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(S16(b, i), want[i]) << i;
    }
    const std::string icc = "/usr/share/color/icc/ghostscript/default_cmyk.icc";
    const Bytes profile = KXT_ReadBytes(icc);
    if (profile.empty()) GTEST_SKIP() << icc << " missing";
    ASSERT_TRUE(WriteTiff(path, l, {row}, [&](TIFF* t) { TIFFSetField(t, TIFFTAG_ICCPROFILE, (uint32_t)profile.size(), profile.data()); }));
    Tiff t;
    ASSERT_EQ(t.Load(path, true), KXERR_NONE);
    const KX_GfxBuffer* b = t.Image();
    uint8_t want[6];
    ASSERT_EQ(KXSUP_ApplyCMSProfileRaw(row.data(), want, 2, 1, profile.data(), (uint32_t)profile.size(), nullptr, 0,
                                       KXCMS_CMYK_8, KXCMS_RGB_8),
              KXERR_NONE);
    EXPECT_EQ(memcmp(b->Data, want, 6), 0);
    EXPECT_EQ(t.obj.IccData, nullptr);
    EXPECT_EQ(t.obj.IccName, nullptr);
    remove(path.c_str());
}

// Layouts the reader refuses, and one only the RGBA reader reads.
TEST(TiffLibtiff, RefusedAndRgbaOnly) {
    const std::string path = TempPath("refused.tif");
    Layout greyAlpha;
    greyAlpha.samples = 2;
    greyAlpha.photometric = PHOTOMETRIC_MINISBLACK;
    ASSERT_TRUE(WriteTiff(path, greyAlpha, {Bytes(6, 1), Bytes(6, 2)},
                          [](TIFF* t) {
                              uint16_t kind = EXTRASAMPLE_UNASSALPHA;
                              TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &kind);
                          }));
    Tiff a;
    EXPECT_EQ(a.Load(path), KXERR_FILEREQUIREMENTS);
    EXPECT_EQ(a.Image(), nullptr);

    // An RGBA picture in tiles reaches the RGBA reader, which puts the
    // colour over black and drops the alpha.
    TIFF* t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 20);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 20);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    uint16_t kind = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &kind);
    TIFFSetField(t, TIFFTAG_TILEWIDTH, 16);
    TIFFSetField(t, TIFFTAG_TILELENGTH, 16);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    Bytes tile(16 * 16 * 4, 200);
    for (uint32_t y = 0; y < 20; y += 16)
        for (uint32_t x = 0; x < 20; x += 16) TIFFWriteTile(t, tile.data(), x, y, 0, 0);
    TIFFClose(t);
    Tiff r;
    ASSERT_EQ(r.Load(path), KXERR_NONE);
    EXPECT_EQ(r.Image()->ColorDepth, 24u);
    EXPECT_EQ(KXSUP_AlphaHolds(r.Image()), (uint32_t)KXALPHA_NONE);
    EXPECT_EQ(r.Image()->Data[0], 157);  // 200 at alpha 200
    remove(path.c_str());
}

// The metadata tags as libtiff hands them.
TEST(TiffLibtiff, MetadataTags) {
    Layout l;
    const std::string path = TempPath("tags.tif");
    const std::string xmp = "<x:xmpmeta>tiff</x:xmpmeta>";
    Bytes iptc = {0x1C, 2, 116, 0, 4, 'M', 'i', 'n', 'e', 0x1C, 2, 25, 0, 3, 'k', 'e', 'y'};
    while (iptc.size() % 4) iptc.push_back(0);
    Bytes profile(300);
    for (size_t i = 0; i < profile.size(); ++i) profile[i] = (uint8_t)(i * 3);
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "MM" : "II");
        l.big = big;
        ASSERT_TRUE(WriteTiff(path, l, {Bytes(9, 5), Bytes(9, 6)}, [&](TIFF* t) {
            TIFFSetField(t, TIFFTAG_ARTIST, "Ann");
            TIFFSetField(t, TIFFTAG_SOFTWARE, "not the author");
            TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, "desc");
            TIFFSetField(t, TIFFTAG_DOCUMENTNAME, "doc");
            TIFFSetField(t, TIFFTAG_MAKE, "Maker");
            TIFFSetField(t, TIFFTAG_MODEL, "Model 1");
            TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_RIGHTTOP);
            TIFFSetField(t, TIFFTAG_XMLPACKET, (uint32_t)xmp.size(), xmp.data());
            TIFFSetField(t, TIFFTAG_ICCPROFILE, (uint32_t)profile.size(), profile.data());
            // libtiff writes the bytes as they are (LONG-typed IPTC in both
            // byte orders is checked with exiftool's files below).
            TIFFSetField(t, TIFFTAG_RICHTIFFIPTC, (uint32_t)iptc.size(), iptc.data());
            uint64_t sub[1] = {0};
            TIFFSetField(t, TIFFTAG_SUBIFD, 1, sub);
        }));
        KXTiffTestSeam seam;
        Tiff r;
        ASSERT_EQ(r.Load(path, true), KXERR_NONE);
        const kxoTIFF& o = r.obj;
        EXPECT_EQ(seam.LastRoad, (uint32_t)KXTiffTestSeam::ROAD_LIBTIFF);
        EXPECT_STREQ(o.Auth, "Ann");
        EXPECT_STREQ(o.Anno, "desc");
        EXPECT_STREQ(o.Name, "doc");
        EXPECT_STREQ(o.Copy, "Mine");  // from the IPTC record
        EXPECT_EQ(o.Orientation, 6u);
        ASSERT_NE(o.Xmp0, nullptr);
        EXPECT_STREQ(reinterpret_cast<char*>(o.Xmp0), xmp.c_str());
        ASSERT_EQ(o.IccSize, profile.size());
        EXPECT_EQ(memcmp(o.IccData, profile.data(), profile.size()), 0);
        EXPECT_STREQ(o.IccName, "TIFF ICC Profile");
        ASSERT_EQ(o.IptcSize, 26 + iptc.size());
        EXPECT_EQ(memcmp(o.Iptc + 26, iptc.data(), iptc.size()), 0);
        EXPECT_EQ(r.obj.GetSpecialInfo()->SubFormat, 2u);  // "EP (ISO)" for the SubIFDs
        EXPECT_STREQ(r.obj.GetSpecialInfo()->Compression, "TIFF:LZW");
    }
    // Software stands for the author when there is no Artist.
    ASSERT_TRUE(WriteTiff(path, l, {Bytes(9, 5), Bytes(9, 6)}, [](TIFF* t) { TIFFSetField(t, TIFFTAG_SOFTWARE, "Kaxon5"); }));
    Tiff r;
    ASSERT_EQ(r.Load(path, true), KXERR_NONE);
    EXPECT_STREQ(r.obj.Auth, "Kaxon5");
    EXPECT_EQ(r.obj.GetSpecialInfo()->SubFormat, 0u);
    remove(path.c_str());
}

// White point and primaries without a profile: a profile built from the
// transfer function, or libtiff's default curve (65536 entries at 16 bits).
TEST(TiffLibtiff, ColorimetryProfile) {
    for (uint16_t bits : {8, 16}) {
        for (bool transfer : {false, true}) {
            SCOPED_TRACE(std::to_string(bits) + (transfer ? " with transfer function" : ""));
            Layout l;
            l.bits = bits;
            const std::string path = TempPath("colorimetry.tif");
            std::vector<uint16_t> curve(1u << bits);
            for (size_t i = 0; i < curve.size(); ++i) curve[i] = (uint16_t)(65535.0 * pow((double)i / (curve.size() - 1), 1.8));
            ASSERT_TRUE(WriteTiff(path, l, {Bytes(9 * bits / 8, 5), Bytes(9 * bits / 8, 6)}, [&](TIFF* t) {
                float white[2] = {0.3127f, 0.329f};
                float primaries[6] = {0.64f, 0.33f, 0.3f, 0.6f, 0.15f, 0.06f};
                TIFFSetField(t, TIFFTAG_WHITEPOINT, white);
                TIFFSetField(t, TIFFTAG_PRIMARYCHROMATICITIES, primaries);
                if (transfer) TIFFSetField(t, TIFFTAG_TRANSFERFUNCTION, curve.data(), curve.data(), curve.data());
            }));
            Tiff r;
            ASSERT_EQ(r.Load(path, true), KXERR_NONE);
            ASSERT_NE(r.obj.IccData, nullptr);
            EXPECT_EQ(r.obj.IccType, 3u);
            EXPECT_STREQ(r.obj.IccName, "ICC Profile / TIFF colorimetric tag based");
            EXPECT_EQ(r.obj.GetSpecialInfo()->SubFormat, 1u);
            remove(path.c_str());
        }
    }
}

// Pages through libtiff: PAGENUMBER 2 of five is the third.
TEST(TiffLibtiff, Pages) {
    const std::string path = TempPath("pages.tif");
    TIFF* t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    for (int page = 0; page < 5; ++page) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 2);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, 1);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        Bytes row(6, (uint8_t)(page * 10));
        TIFFWriteScanline(t, row.data(), 0, 0);
        TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    for (long page : {0L, 2L, 4L, 5L}) {
        Tiff r(Settings{{"PAGENUMBER", std::to_string(page)}});
        if (page == 5) {
            EXPECT_EQ(r.Load(path), KXERR_EOF);
            continue;
        }
        ASSERT_EQ(r.Load(path), KXERR_NONE);
        EXPECT_EQ(r.Image()->Data[0], page * 10);
    }
    remove(path.c_str());
}

// IPTC that exiftool writes (LONG values holding the records' bytes) in
// both byte orders, on both roads.
TEST(TiffLibtiff, ExiftoolIptc) {
    if (!KXT_HaveTool("exiftool") || !KXT_HaveTool("pnmtotiff")) GTEST_SKIP() << "exiftool or netpbm missing";
    const std::string pgm = TempPath("ex.pgm");
    ASSERT_TRUE(KXT_WriteBytes(pgm, pngtest::MakePnm(false, 5, 3, 255, [](uint32_t i) { return i * 9; })));
    for (const char* variant : {"-none", "-lzw"}) {
        for (const char* order : {"-L", "-B"}) {
            SCOPED_TRACE(std::string(variant) + " " + order);
            const std::string t0 = TempPath("ex0.tif"), tif = TempPath("ex.tif");
            ASSERT_EQ(RunTool(std::string("pnmtotiff ") + variant + " " + pgm + " > " + t0 + " && tiffcp " + order + " " + t0 +
                              " " + tif),
                      0);
            ASSERT_EQ(RunTool("exiftool -q -overwrite_original -IPTC:Keywords=kaxon -IPTC:CopyrightNotice=Mine " + tif), 0);
            Tiff r;
            ASSERT_EQ(r.Load(tif, true), KXERR_NONE);
            EXPECT_STREQ(r.obj.Copy, "Mine");
            ASSERT_NE(r.obj.Iptc, nullptr);
            EXPECT_TRUE(pngtest::Contains(Bytes(r.obj.Iptc, r.obj.Iptc + r.obj.IptcSize), "kaxon"));
            remove(t0.c_str());
            remove(tif.c_str());
        }
    }
    remove(pgm.c_str());
}

// A JPEG-compressed YCbCr picture arrives as RGB without its profile.
TEST(TiffLibtiff, YccJpegDropsItsProfile) {
    if (!KXT_HaveTool("tiffcp")) GTEST_SKIP() << "tiffcp missing";
    Buffer img = MakeImage(24, 16, 16);
    Bytes profile(400, 7);
    KXOSpecialInfo info = {};
    info.Version = 1;
    info.IccData = profile.data();
    info.IccSize = (uint32_t)profile.size();
    const std::string ours = TempPath("ycc0.tif"), jpeg = TempPath("ycc.tif");
    Tiff w;
    ASSERT_EQ(w.Save(img.get(), ours, &info), KXERR_NONE);
    ASSERT_EQ(RunTool("tiffcp -c jpeg " + ours + " " + jpeg), 0);
    ASSERT_NE(Capture("tiffinfo " + jpeg).find("YCbCr"), std::string::npos);
    Tiff r;
    ASSERT_EQ(r.Load(jpeg, true), KXERR_NONE);
    EXPECT_EQ(r.Image()->ColorDepth, 24u);
    EXPECT_EQ(r.obj.IccData, nullptr);
    remove(ours.c_str());
    remove(jpeg.c_str());
}

}  // namespace

namespace {

// The samples of a netpbm file that ImageMagick made of `tif`, 16-bit.
bool MagickPixels(const std::string& tif, Pnm* out) {
    const std::string ppm = tif + ".ppm";
    const bool ok = RunTool("convert " + tif + " -depth 16 " + ppm) == 0 && ReadPnm(ppm, out);
    remove(ppm.c_str());
    return ok;
}

// Separate planes in strips of many compressed rows, written by
// ImageMagick (16-bit CMYK by libtiff): each plane is read top to bottom,
// and the picture agrees with ImageMagick's reading of the file.
TEST(TiffLibtiff, SeparatePlanesInCompressedStrips) {
    if (!KXT_HaveTool("convert") || !KXT_HaveTool("tiffcp")) GTEST_SKIP() << "ImageMagick or tiffcp missing";
    struct Case {
        const char* name;
        std::string make;  // writes the file named %s
        uint32_t tolerance;  // on the 16-bit scale
    };
    const std::string src = "-size 37x29 gradient:red-blue -fx 'u*(0.3+0.7*i/w)' ";
    const std::vector<Case> cases = {
        {"float 32, Deflate", "convert " + src + "-depth 32 -define quantum:format=floating-point -interlace plane -compress zip %s", 2},
        {"float 16, LZW", "convert " + src + "-depth 16 -define quantum:format=floating-point -interlace plane -compress lzw %s", 40},
        {"RGB 4-bit, Deflate", "convert " + src + "-depth 4 -interlace plane -compress zip %s", 0},
        {"RGB 4-bit, LZW", "convert " + src + "-depth 4 -interlace plane -compress lzw %s", 0},
    };
    const std::string path = TempPath("planes.tif");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string cmd = c.make;
        for (size_t at; (at = cmd.find("%s")) != std::string::npos;) cmd.replace(at, 2, path);
        ASSERT_EQ(RunTool(cmd), 0) << cmd;
        const std::string info = Capture("tiffinfo " + path);
        ASSERT_NE(info.find("separate image planes"), std::string::npos) << info;
        ASSERT_EQ(info.find("Rows/Strip: 1\n"), std::string::npos) << info;
        Tiff t;
        ASSERT_EQ(t.Load(path), KXERR_NONE);
        const KX_GfxBuffer* b = t.Image();
        ASSERT_NE(b, nullptr);
        ASSERT_EQ(b->Width, 37u);
        ASSERT_EQ(b->Height, 29u);
        Pnm want;
        ASSERT_TRUE(MagickPixels(path, &want));
        for (uint32_t i = 0; i < 37 * 29; ++i)
            for (int c2 = 0; c2 < 3; ++c2) {
                const uint32_t got = b->ColorDepth == 24 ? Sample(b, i, c2) * 257 : Sample(b, i, c2);
                ASSERT_NEAR(got, want.rgb[i * 3 + c2], c.tolerance) << i << " " << c2;
            }
    }
    // 16-bit CMYK (which ImageMagick writes contiguous only), by libtiff.
    Layout l;
    l.w = 37;
    l.h = 29;
    l.bits = 16;
    l.samples = 4;
    l.photometric = PHOTOMETRIC_SEPARATED;
    l.planar = PLANARCONFIG_SEPARATE;
    std::vector<Bytes> rows;
    for (uint32_t p = 0; p < 4; ++p)
        for (uint32_t y = 0; y < l.h; ++y) {
            std::vector<uint16_t> v(l.w);
            for (uint32_t x = 0; x < l.w; ++x) v[x] = (uint16_t)((x * 1777 + y * 2039 + p * 9001) * (p == 3 ? 3 : 31));
            rows.emplace_back((const uint8_t*)v.data(), (const uint8_t*)(v.data() + l.w));
        }
    ASSERT_TRUE(WriteTiff(path, l, rows, [](TIFF* t) { TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 8); }));
    Tiff t;
    ASSERT_EQ(t.Load(path), KXERR_NONE);
    const KX_GfxBuffer* b = t.Image();
    Pnm want;
    ASSERT_TRUE(MagickPixels(path, &want));
    ASSERT_EQ(b->ColorDepth, 48u);
    for (uint32_t i = 0; i < l.w * l.h; ++i)
        for (int c = 0; c < 3; ++c) ASSERT_NEAR(Sample(b, i, c), want.rgb[i * 3 + c], 2) << i << " " << c;
    remove(path.c_str());
}

// CMYK without a profile: the black ink darkens every colour as in
// libtiff's RGBA reader (tiff2rgba), on a file ImageMagick made.
TEST(TiffLibtiff, CmykWithoutProfileUsesBlack) {
    if (!KXT_HaveTool("convert") || !KXT_HaveTool("tiff2rgba")) GTEST_SKIP() << "ImageMagick or tiff2rgba missing";
    const std::string path = TempPath("cmyk_im.tif"), rgba = TempPath("cmyk_im_rgba.tif");
    ASSERT_EQ(RunTool("convert -size 41x23 gradient:'#ff9030-#100008' -fx 'u*(0.2+0.8*i/w)' -colorspace cmyk -depth 8 -compress lzw +profile '*' " + path), 0);
    ASSERT_NE(Capture("tiffinfo " + path).find("separated"), std::string::npos);
    ASSERT_EQ(RunTool("tiff2rgba -c none " + path + " " + rgba), 0);
    Pnm want;
    ASSERT_TRUE(MagickPixels(rgba, &want));
    Tiff t;
    ASSERT_EQ(t.Load(path), KXERR_NONE);
    const KX_GfxBuffer* b = t.Image();
    ASSERT_EQ(b->ColorDepth, 24u);
    ASSERT_EQ(want.width * want.height, 41u * 23u);
    uint32_t dark = 0;
    for (uint32_t i = 0; i < 41 * 23; ++i) {
        for (int c = 0; c < 3; ++c) ASSERT_EQ(Sample(b, i, c), want.rgb[i * 3 + c] / 257) << i;
        dark += Sample(b, i, 0) + Sample(b, i, 1) + Sample(b, i, 2) < 192;
    }
    EXPECT_GT(dark, 0u) << "the gradient has dark pixels";
    remove(path.c_str());
    remove(rgba.c_str());
}

// Whatever decoder reads a file, the pixels come as stored and the
// record keeps the file's Orientation: the RGBA reader (LZW grey without a
// colour map, 2-bit grey) agrees with the own decoding (8-bit RGB).
TEST(TiffLibtiff, PixelsAsStoredWithTheirOrientation) {
    const std::string path = TempPath("orient.tif");
    struct Road {
        const char* name;
        Layout l;
        std::vector<Bytes> rows;
        uint8_t first, last;  // grey of the first and last stored pixel
    };
    Layout grey;
    grey.samples = 1;
    grey.photometric = PHOTOMETRIC_MINISBLACK;
    Layout grey2 = grey;
    grey2.bits = 2;
    Layout rgb;
    const std::vector<Road> roads = {
        {"RGBA reader, 8-bit grey", grey, {{10, 20, 30}, {40, 50, 60}}, 10, 60},
        {"RGBA reader, 2-bit grey", grey2, {{0x1B}, {0xE4}}, 0, 85},
        {"own decoding, RGB", rgb, {{10, 10, 10, 20, 20, 20, 30, 30, 30}, {40, 40, 40, 50, 50, 50, 60, 60, 60}}, 10, 60},
    };
    for (const Road& road : roads)
        for (uint16_t o = 1; o <= 8; ++o) {
            SCOPED_TRACE(std::string(road.name) + " orientation " + std::to_string(o));
            ASSERT_TRUE(WriteTiff(path, road.l, road.rows, [&](TIFF* t) { TIFFSetField(t, TIFFTAG_ORIENTATION, o); }));
            Tiff t;
            ASSERT_EQ(t.Load(path, true), KXERR_NONE);
            EXPECT_EQ(t.obj.Orientation, o);
            const KX_GfxBuffer* b = t.Image();
            ASSERT_EQ(b->Width, 3u);
            ASSERT_EQ(b->Height, 2u);
            EXPECT_EQ(Sample(b, 0, 0), road.first);
            EXPECT_EQ(Sample(b, 5, 0), road.last);
        }
    remove(path.c_str());
}

}  // namespace
