// Tiny TIFF files that declare huge pictures: each is refused before its
// picture is allocated, or loads only what it holds, and neither costs
// more than a few megabytes of touched memory. The files are rebuilt byte
// by byte after inputs found by fuzzing the reader.
#include "tiff_helpers.h"

namespace {

using namespace tifftest;

// A TIFF of the given layout whose strips are `data` cut into `strips`
// equal parts.
Bytes Declaring(uint32_t w, uint32_t h, uint32_t bits, uint32_t samples, uint32_t compression, uint32_t photometric,
                const Bytes& data, uint32_t strips = 1) {
    TiffBuilder t;
    t.pixels = data;
    t.addLong(256, w);
    t.addLong(257, h);
    t.addShort(258, bits);
    t.addShort(259, compression);
    t.addShort(262, photometric);
    std::vector<uint32_t> offsets, counts;
    const uint32_t part = (uint32_t)data.size() / strips;
    for (uint32_t s = 0; s < strips; ++s) {
        offsets.push_back(TiffBuilder::kPixels + s * part);
        counts.push_back(part);
    }
    t.addLongs(273, offsets);
    t.addShort(277, samples);
    t.addLong(278, (h + strips - 1) / strips);
    t.addLongs(279, counts);
    return t.build();
}

// The stream head of a baseline grey JPEG of w x h whose scan is cut off:
// quantisation table, frame, two one-code Huffman tables, scan header.
Bytes JpegHead(uint32_t w, uint32_t h) {
    Bytes j = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00};
    j.insert(j.end(), 64, 1);
    const Bytes frame = {0xFF, 0xC0, 0x00, 0x0B, 0x08, (uint8_t)(h >> 8), (uint8_t)h, (uint8_t)(w >> 8), (uint8_t)w, 0x01, 0x01, 0x11, 0x00};
    j.insert(j.end(), frame.begin(), frame.end());
    for (uint8_t table : {0x00, 0x10}) {
        const Bytes dht = {0xFF, 0xC4, 0x00, 0x14, table, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        j.insert(j.end(), dht.begin(), dht.end());
    }
    const Bytes scan = {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00};
    j.insert(j.end(), scan.begin(), scan.end());
    return j;
}

struct TinyCase {
    const char* name;
    Bytes file;
    uint32_t code;
};

TEST(TiffTiny, FilesThatCannotHoldTheirPictures) {
    const uint32_t side = 46340;  // 46340 x 46340 bytes is just below 2 GiB
    Bytes packbits;
    for (int i = 0; i < 89; ++i) packbits.insert(packbits.end(), {0x81, 0x00});
    const std::vector<TinyCase> cases = {
        // Uncompressed: the own strip reader, which finds not one row.
        {"grey 8-bit, one strip", Declaring(side, side, 8, 1, 1, 1, Bytes(16, 0x80)), KXERR_EOF},
        {"grey 8-bit, four strips", Declaring(side, side, 8, 1, 1, 1, Bytes(64, 0x5A), 4), KXERR_EOF},
        {"RGB 8-bit, four strips", Declaring(26754, 26754, 8, 3, 1, 2, Bytes(96, 0x5A), 4), KXERR_EOF},
        {"bilevel 2^31-1 x 2", Declaring(0x7FFFFFFF, 2, 1, 1, 1, 1, Bytes(14, 0xFF)), KXERR_EOF},
        {"PackBits grey 8-bit", Declaring(20000, 20000, 8, 1, 32773, 1, packbits), KXERR_EOF},
        // Compressed: libtiff, stopped before the page is allocated, and no
        // fall-back rewrites the file.
        {"LZW RGB 8-bit", Declaring(12000, 12000, 8, 3, 5, 2, Bytes(178, 0)), KXERR_DECODE},
        {"Deflate grey 16-bit", Declaring(8000, 8000, 16, 1, 8, 1, Bytes(178, 0)), KXERR_DECODE},
        {"LZW grey 4-bit", Declaring(20000, 10000, 4, 1, 5, 1, Bytes(178, 0)), KXERR_DECODE},
        {"JPEG mask", Declaring(35640, 35640, 8, 1, 7, 4, JpegHead(35640, 35640)), KXERR_DECODE},
    };
    const std::string path = TempPath("tiny.tif");
    for (const TinyCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_LT(c.file.size(), 400u);
        ASSERT_TRUE(KXT_WriteBytes(path, c.file));
        Tiff r;
        uint32_t code = 0;
        const long grown = PeakGrowthKb([&] { code = r.Load(path); });
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(r.Image(), nullptr);
        if (grown >= 0) {
            EXPECT_LT(grown, 64L * 1024) << "kilobytes touched";
        }
    }
    remove(path.c_str());
}

// A cut file loads what it holds: its rows come back (then the bytes of
// the directory that follows them) and the rest of the picture is zero
// without having been touched.
TEST(TiffTiny, CutFileLoadsWhatItHolds) {
    const uint32_t w = 8192, h = 8192;  // 64 MB declared, two rows held
    Bytes rows(2 * w);
    for (uint32_t i = 0; i < rows.size(); ++i) rows[i] = (uint8_t)(i * 7 + 1);
    const std::string path = TempPath("cut.tif");
    ASSERT_TRUE(KXT_WriteBytes(path, Declaring(w, h, 8, 1, 1, 1, rows)));
    Tiff r;
    uint32_t code = 0;
    const long grown = PeakGrowthKb([&] { code = r.Load(path); });
    ASSERT_EQ(code, KXERR_NONE);
    if (grown >= 0) {
        EXPECT_LT(grown, 16L * 1024) << "kilobytes touched";
    }
    const KX_GfxBuffer* b = r.Image();
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->Width, w);
    ASSERT_EQ(b->Height, h);
    EXPECT_EQ(memcmp(b->Data, rows.data(), rows.size()), 0);
    EXPECT_EQ(b->Data[(size_t)3 * w], 0);
    EXPECT_EQ(b->Data[(size_t)w * h - 1], 0);
    remove(path.c_str());
}

// The copy-and-convert routine refuses a page whose data the file cannot
// hold before it allocates or writes it.
TEST(TiffTiny, CopyWritesNothingForDataTheFileLacks) {
    const std::string in = TempPath("copy_in.tif"), out = TempPath("copy_out.tif");
    for (const Bytes& file : {Declaring(35640, 35640, 8, 1, 7, 4, JpegHead(35640, 35640)),
                              Declaring(12000, 12000, 8, 3, 5, 2, Bytes(178, 0))}) {
        ASSERT_TRUE(KXT_WriteBytes(in, file));
        const char* argv[] = {"tiffcp", "-c", "none", "-p", "contig", "-s", "-r", "35640", in.c_str(), out.c_str()};
        int result = 0;
        const long grown = PeakGrowthKb([&] { result = KXTIFF_CopyConvert(10, argv); });
        EXPECT_EQ(result, 1);
        if (grown >= 0) {
            EXPECT_LT(grown, 64L * 1024) << "kilobytes touched";
        }
        EXPECT_LT(KXT_ReadBytes(out).size(), 4096u);
        remove(out.c_str());
    }
    remove(in.c_str());
}

}  // namespace
