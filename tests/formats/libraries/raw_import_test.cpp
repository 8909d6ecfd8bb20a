// The raw pixel importer on byte tables: every pixel format in both byte
// orders, the size checks (64-bit products, offsets, planes), the ".cm"
// palette files, the device-mode rules, progress, and damaged data.
#include <unistd.h>

#include "raw_helpers.h"
#include "support/robustness.h"

namespace {

using namespace rawtest;
using kxt::Loaded;

struct PixelCase {
    const char* name;
    const char* format;
    const char* endian;  // nullptr: key not set
    uint32_t w, h;
    std::vector<uint8_t> bytes;
    uint32_t pixelBits;
    std::vector<uint8_t> rgb;    // 8 and 24 bits: R, G, B a pixel (palette looked up)
    std::vector<uint16_t> rgb16; // 48 bits: host samples
    std::vector<uint8_t> alpha;  // empty: no alpha map
};

const PixelCase kPixelCases[] = {
    {"rgb24 little", "RGB24", "LITTLE", 1, 1, {10, 20, 30}, 24, {10, 20, 30}, {}, {}},
    {"rgb24 big", "RGB24", "BIG", 1, 1, {10, 20, 30}, 24, {30, 20, 10}, {}, {}},
    {"rgb24 no endian key", "RGB24", nullptr, 1, 1, {10, 20, 30}, 24, {30, 20, 10}, {}, {}},
    {"rgba32 little", "RGBA32", "LITTLE", 1, 1, {1, 2, 3, 4}, 24, {1, 2, 3}, {}, {4}},
    {"rgba32 big", "RGBA32", "BIG", 1, 1, {1, 2, 3, 4}, 24, {3, 2, 1}, {}, {4}},
    {"argb32 little", "ARGB32", "LITTLE", 1, 1, {4, 1, 2, 3}, 24, {1, 2, 3}, {}, {4}},
    {"argb32 big", "ARGB32", "BIG", 1, 1, {4, 1, 2, 3}, 24, {3, 2, 1}, {}, {4}},
    {"rgb+a32 little", "RGB+A32", "LITTLE", 2, 1, {1, 2, 3, 4, 5, 6, 7, 8}, 24, {1, 2, 3, 4, 5, 6}, {}, {7, 8}},
    {"rgb+a32 big", "RGB+A32", "BIG", 2, 1, {1, 2, 3, 4, 5, 6, 7, 8}, 24, {3, 2, 1, 6, 5, 4}, {}, {7, 8}},
    {"rgb48 little", "RGB48", "LITTLE", 1, 1, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, 48, {}, {0x0201, 0x0403, 0x0605}, {}},
    {"rgb48 big", "RGB48", "BIG", 1, 1, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, 48, {}, {0x0102, 0x0304, 0x0506}, {}},
    // 16-bit alpha samples give their most significant byte.
    {"rgba64 little", "RGBA64", "LITTLE", 1, 1, {1, 2, 3, 4, 5, 6, 0x34, 0x12}, 48, {}, {0x0201, 0x0403, 0x0605}, {0x12}},
    {"rgba64 big", "RGBA64", "BIG", 1, 1, {1, 2, 3, 4, 5, 6, 0x12, 0x34}, 48, {}, {0x0102, 0x0304, 0x0506}, {0x12}},
    {"argb64 little", "ARGB64", "LITTLE", 1, 1, {0x34, 0x12, 1, 2, 3, 4, 5, 6}, 48, {}, {0x0201, 0x0403, 0x0605}, {0x12}},
    {"argb64 big", "ARGB64", "BIG", 1, 1, {0x12, 0x34, 1, 2, 3, 4, 5, 6}, 48, {}, {0x0102, 0x0304, 0x0506}, {0x12}},
    // The alpha plane of RGB+A64 holds 16-bit samples too, not bytes.
    {"rgb+a64 little", "RGB+A64", "LITTLE", 2, 1, {1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 0x34, 0x12, 0x78, 0x56}, 48, {},
     {1, 2, 3, 4, 5, 6}, {0x12, 0x56}},
    {"rgb+a64 big", "RGB+A64", "BIG", 2, 1, {0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0x12, 0x34, 0x56, 0x78}, 48, {},
     {1, 2, 3, 4, 5, 6}, {0x12, 0x56}},
    {"rgb16 words", "RGB16", "LITTLE", 3, 1, {0xFF, 0xFF, 0x00, 0xF8, 0xE0, 0x07}, 24, {255, 255, 255, 255, 0, 0, 0, 255, 0}, {}, {}},
    {"rgb16 big", "RGB16", "BIG", 2, 1, {0xF8, 0x00, 0x00, 0x1F}, 24, {255, 0, 0, 0, 0, 255}, {}, {}},
    {"rgb15 top bit ignored", "RGB15", "LITTLE", 2, 1, {0x00, 0xFC, 0x1F, 0x00}, 24, {255, 0, 0, 0, 0, 255}, {}, {}},
    {"argb16", "ARGB16", "LITTLE", 2, 1, {0x00, 0x80, 0xFF, 0x7F}, 24, {0, 0, 0, 255, 255, 255}, {}, {255, 0}},
    {"argb16 big", "ARGB16", "BIG", 1, 1, {0x80, 0x00}, 24, {0, 0, 0}, {}, {255}},
    {"gray8 grey ramp", "GRAY8", nullptr, 2, 1, {0, 200}, 8, {0, 0, 0, 200, 200, 200}, {}, {}},
    {"lut8", "LUT8", nullptr, 1, 1, {77}, 8, {77, 77, 77}, {}, {}},
    {"unknown format is grey", "NOSUCH", nullptr, 1, 1, {5}, 8, {5, 5, 5}, {}, {}},
    {"format in lower case", "rgb24", "little", 1, 1, {10, 20, 30}, 24, {10, 20, 30}, {}, {}},
    // Sensor rows G B / R G: both pixels of a pair get one colour.
    {"bayer 2x2", "BAYER8", nullptr, 2, 2, {20, 30, 10, 20}, 24, {10, 20, 30, 10, 20, 30, 10, 20, 30, 10, 20, 30}, {}, {}},
    // Neighbours outside the picture come from the nearest row or column
    // of the same colour: one row, an odd width.
    {"bayer 3x1", "BAYER8", nullptr, 3, 1, {20, 30, 40}, 24, {20, 20, 30, 20, 20, 30, 40, 40, 30}, {}, {}},
    {"bayer 1x3", "BAYER8", nullptr, 1, 3, {20, 10, 22}, 24, {10, 15, 20, 10, 15, 22, 10, 16, 22}, {}, {}},
};

TEST(RawImport, EveryPixelFormatAndByteOrder) {
    for (const PixelCase& c : kPixelCases) {
        SCOPED_TRACE(c.name);
        Keys keys = {{"FORMAT", c.format}, {"WIDTH", std::to_string(c.w)}, {"HEIGHT", std::to_string(c.h)}};
        if (c.endian) keys.emplace_back("ENDIAN", c.endian);
        Loaded l;
        ImportBytes(c.bytes, keys, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        ASSERT_NE(l.Buffer, nullptr);
        EXPECT_EQ(l.Buffer->Type, (uint32_t)ONEPLANE);
        EXPECT_EQ(l.Buffer->PixelBits, c.pixelBits);
        EXPECT_EQ(l.Buffer->ColorDepth, c.pixelBits);
        EXPECT_EQ(l.Buffer->ViewMode, 0u);
        if (c.pixelBits == 48) {
            EXPECT_EQ(KXSUP_GetGfxBufferFlags(l.Buffer) & (KXGFXF_II | KXGFXF_MM), (uint32_t)KXGFXF_II);
            EXPECT_EQ(Samples48(l.Buffer), c.rgb16);
        } else {
            EXPECT_EQ(kxt::ToRgb(l.Buffer).Pix, c.rgb);
        }
        EXPECT_EQ(Alpha8(l.Buffer), c.alpha);
        std::string why;
        EXPECT_TRUE(KXT_ImageIsValid(l.Buffer, &why)) << why;
    }
}

struct SizeCase {
    const char* name;
    Keys keys;
    size_t fileSize;
    uint32_t expected;
};

const SizeCase kSizeCases[] = {
    {"4x2 rgb24 whole", {{"FORMAT", "RGB24"}, {"WIDTH", "4"}, {"HEIGHT", "2"}}, 24, KXERR_NONE},
    {"4x2 rgb24 short", {{"FORMAT", "RGB24"}, {"WIDTH", "4"}, {"HEIGHT", "2"}}, 23, KXERR_EOF},
    {"4x2 rgb24 long", {{"FORMAT", "RGB24"}, {"WIDTH", "4"}, {"HEIGHT", "2"}}, 25, KXERR_SIZEMISMATCH},
    {"3x1 rgb24 in 23 bytes", {{"FORMAT", "RGB24"}, {"WIDTH", "3"}, {"HEIGHT", "1"}}, 23, KXERR_SIZEMISMATCH},
    {"3x1 rgb24 in 8 bytes", {{"FORMAT", "RGB24"}, {"WIDTH", "3"}, {"HEIGHT", "1"}}, 8, KXERR_EOF},
    {"3x1 rgb+a64 in 23 bytes", {{"FORMAT", "RGB+A64"}, {"WIDTH", "3"}, {"HEIGHT", "1"}}, 23, KXERR_EOF},
    {"3x1 rgb+a64 in 24 bytes", {{"FORMAT", "RGB+A64"}, {"WIDTH", "3"}, {"HEIGHT", "1"}}, 24, KXERR_NONE},
    {"3x1 rgb+a64 in 25 bytes", {{"FORMAT", "RGB+A64"}, {"WIDTH", "3"}, {"HEIGHT", "1"}}, 25, KXERR_SIZEMISMATCH},
    {"offsets cover the rest", {{"FORMAT", "RGB24"}, {"WIDTH", "4"}, {"HEIGHT", "2"}, {"OFFSET_START", "100"}}, 124, KXERR_NONE},
    {"end offset", {{"FORMAT", "RGB24"}, {"WIDTH", "4"}, {"HEIGHT", "2"}, {"OFFSET_END", "100"}}, 124, KXERR_NONE},
    {"offsets past the file", {{"FORMAT", "GRAY8"}, {"OFFSET_START", "30"}, {"OFFSET_END", "4294967290"}}, 24, KXERR_EOF},
    {"width 0", {{"FORMAT", "GRAY8"}, {"WIDTH", "0"}}, 0, KXERR_SIZEMISMATCH},
    {"height 0", {{"FORMAT", "GRAY8"}, {"HEIGHT", "0"}}, 0, KXERR_SIZEMISMATCH},
    {"negative width", {{"FORMAT", "GRAY8"}, {"WIDTH", "-5"}}, 5, KXERR_SIZEMISMATCH},
    {"width not a number", {{"FORMAT", "GRAY8"}, {"WIDTH", "abc"}}, 1, KXERR_SIZEMISMATCH},
    // 32-bit products would wrap to small sizes here; nothing is allocated.
    {"product past 32 bits", {{"FORMAT", "RGB48"}, {"WIDTH", "65536"}, {"HEIGHT", "65536"}}, 0, KXERR_SIZEMISMATCH},
    {"wrapping to 6 bytes", {{"FORMAT", "RGB48"}, {"WIDTH", "4294967297"}, {"HEIGHT", "1"}}, 6, KXERR_SIZEMISMATCH},
    {"buffer past 32 bits", {{"FORMAT", "GRAY8"}, {"WIDTH", "65536"}, {"HEIGHT", "65536"}}, 1, KXERR_SIZEMISMATCH},
    {"large picture, short file", {{"FORMAT", "GRAY8"}, {"WIDTH", "40000"}, {"HEIGHT", "40000"}}, 100, KXERR_EOF},
    {"planar 8x2 in 8 bytes", {{"FORMAT", "LUT8"}, {"LUT8_FORMAT", "PLANAR"}, {"WIDTH", "8"}, {"HEIGHT", "2"}}, 8, KXERR_NONE},
    {"planar 8x2 in 7 bytes", {{"FORMAT", "LUT8"}, {"LUT8_FORMAT", "PLANAR"}, {"WIDTH", "8"}, {"HEIGHT", "2"}}, 7, KXERR_SIZEMISMATCH},
    {"planar: nine planes", {{"FORMAT", "GRAY8"}, {"LUT8_FORMAT", "planar"}, {"WIDTH", "8"}, {"HEIGHT", "2"}}, 18, KXERR_SIZEMISMATCH},
    {"planar: no plane", {{"FORMAT", "GRAY8"}, {"LUT8_FORMAT", "PLANAR"}, {"WIDTH", "8"}, {"HEIGHT", "2"}}, 0, KXERR_EOF},
    {"planar: width 0", {{"FORMAT", "GRAY8"}, {"LUT8_FORMAT", "PLANAR"}, {"WIDTH", "0"}, {"HEIGHT", "2"}}, 8, KXERR_SIZEMISMATCH},
    {"planar only for palette data", {{"FORMAT", "RGB24"}, {"LUT8_FORMAT", "PLANAR"}, {"WIDTH", "8"}, {"HEIGHT", "2"}}, 48, KXERR_NONE},
};

TEST(RawImport, SizeChecksIn64Bits) {
    for (const SizeCase& c : kSizeCases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes(c.fileSize);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = (uint8_t)i;
        Loaded l;
        ImportBytes(bytes, c.keys, l);
        EXPECT_EQ(l.Err, c.expected);
        if (c.expected != KXERR_NONE) {
            EXPECT_EQ(l.Buffer, nullptr);
        }
    }
}

TEST(RawImport, OffsetsSelectTheData) {
    std::vector<uint8_t> bytes(124);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = (uint8_t)i;
    for (const char* key : {"OFFSET_START", "OFFSET_END"}) {
        SCOPED_TRACE(key);
        Loaded l;
        ImportBytes(bytes, {{"FORMAT", "RGB24"}, {"ENDIAN", "LITTLE"}, {"WIDTH", "4"}, {"HEIGHT", "2"}, {key, "100"}}, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        const uint8_t first = std::string(key) == "OFFSET_START" ? 100 : 0;
        for (uint32_t i = 0; i < 24; ++i) EXPECT_EQ(l.Buffer->Data[i], (uint8_t)(first + i));
    }
}

TEST(RawImport, PlanarDataMakesBitPlanes) {
    // 8 x 2, four planes: plane k has the bits of pixel values' bit k.
    std::vector<uint8_t> bytes = {0x80, 0x01, 0x00, 0xFF, 0x80, 0x00, 0x00, 0xFF};
    Loaded l;
    ImportBytes(bytes, {{"FORMAT", "LUT8"}, {"LUT8_FORMAT", "PLANAR"}, {"WIDTH", "8"}, {"HEIGHT", "2"}}, l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.Buffer->Type, (uint32_t)BITPLANE);
    EXPECT_EQ(l.Buffer->ColorDepth, 4u);
    EXPECT_EQ(l.Buffer->BytesPerLine, 1u);
    EXPECT_EQ(l.Buffer->BufferSize, 8u);
    kxt::Rgb rgb = kxt::ToRgb(l.Buffer);
    // Pixel 0 of row 0: bits 0 and 2 set; the grey ramp shows the index.
    EXPECT_EQ(rgb.Pix[0], 5);
    EXPECT_EQ(rgb.Pix[3 * 7], 0);
    EXPECT_EQ(rgb.Pix[3 * 15], 11);  // row 1, last pixel: bits 0, 1 and 3
}

// pic.raw beside a pic.cm of the given size (entry i is (i, 2i, 3i)).
void ImportWithPalette(const char* rawName, size_t cmBytes, const Keys& extra, Loaded& l, const char* cmName = nullptr) {
    const std::string dir = KXT_NewTempDir(std::string(KX_GetProcessTempDir()) + "rawcm_XXXXXX");
    std::vector<uint8_t> cm(cmBytes);
    for (size_t i = 0; i < cm.size(); ++i) cm[i] = (uint8_t)((i / 3) * (i % 3 + 1));
    kxt::WriteAll(dir + "/" + rawName, {0, 1, 2, 3, 15, 255});
    std::string cmPath = dir + "/" + (cmName ? cmName : "pic.cm");
    kxt::WriteAll(cmPath, cm);
    Keys keys = {{"WIDTH", "3"}, {"HEIGHT", "2"}};
    keys.insert(keys.end(), extra.begin(), extra.end());
    Import(dir + "/" + rawName, keys, l);
    unlink((dir + "/" + rawName).c_str());
    unlink(cmPath.c_str());
    rmdir(dir.c_str());
}

TEST(RawImport, PaletteFilesBesideTheData) {
    struct Case {
        const char* name;
        const char* raw;
        size_t cmBytes;
        Keys keys;
        uint32_t depth;
        bool palette;  // entry 1 from the file, else the grey ramp
    } cases[] = {
        {"16 entries lower the depth", "pic.raw", 48, {}, 4, true},
        {"LOAD_CM off keeps the ramp", "pic.raw", 48, {{"LOAD_CM", "off"}}, 8, false},
        {"any case of .RAW", "pic.RAW", 48, {}, 4, true},
        {"2 entries give 1 bit", "pic.raw", 6, {}, 1, true},
        {"more than 256 entries give the first 256", "pic.raw", 300 * 3, {}, 8, true},
        {"not whole entries", "pic.raw", 49, {}, 8, false},
        {"empty file", "pic.raw", 0, {}, 8, false},
        {"not a .raw name", "pic.dat", 48, {}, 8, false},
        {"LUT8 too", "pic.raw", 48, {{"FORMAT", "LUT8"}}, 4, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Loaded l;
        ImportWithPalette(c.raw, c.cmBytes, c.keys, l, std::string(c.raw) == "pic.dat" ? "pic.cm" : nullptr);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Buffer->ColorDepth, c.depth);
        EXPECT_EQ(l.Buffer->PixelBits, 8u);
        EXPECT_EQ(l.Buffer->Data[5], 255) << "the pixel data keeps one byte a pixel";
        const uint8_t* e1 = l.Buffer->Palette + 3;
        const std::vector<uint8_t> entry1 = c.palette ? std::vector<uint8_t>{1, 2, 3} : std::vector<uint8_t>{1, 1, 1};
        EXPECT_EQ(std::vector<uint8_t>(e1, e1 + 3), entry1);
        // Entry 255 of a long file is its 256th entry (green 2 x 255), else the ramp's.
        EXPECT_EQ(l.Buffer->Palette[3 * 255 + 1], c.cmBytes > 768 ? 254 : 255);
    }
}

TEST(RawImport, DeviceModeOnly) {
    kxoRAW_Import m;
    char ext[16] = {};
    EXPECT_EQ(m.GetExtension(ext), KXERR_NONE);
    EXPECT_STREQ(ext, ".raw");
    EXPECT_EQ(m.SetIOMode(KXIO_FILE), KXERR_NOTSUPPORTED);
    EXPECT_EQ(m.SetIOMode(KXIO_CLIPBOARD), KXERR_NOTSUPPORTED);
    EXPECT_EQ(m.CheckFile(nullptr, "x.raw", KXIO_FILE), 0u);
    EXPECT_EQ(m.CheckFile(nullptr, "x.raw", KXIO_DEVICE), 1u);
    EXPECT_EQ(m.Save(), KXERR_NOTSUPPORTED);
    EXPECT_EQ(m.Load(), KXERR_NOTSUPPORTED) << "not in the device mode";
    EXPECT_EQ(m.GetGfxBuffer(nullptr), KXERR_INTERNALACCESS);
    EXPECT_EQ(m.DetachGfxBuffer(nullptr), KXERR_INTERNALACCESS);

    Loaded missingKey;
    WithKeys<kxoRAW_Import>({{"FORMAT", "GRAY8"}}, [&](kxoRAW_Import& r) {
        r.SetIOMode(KXIO_DEVICE);
        return missingKey.Err = r.Load();
    });
    EXPECT_EQ(missingKey.Err, KXERR_FILENOTFOUND);
    Loaded noFile;
    Import(kxt::TempPath("no_such_file.raw"), {}, noFile);
    EXPECT_EQ(noFile.Err, KXERR_FILENOTFOUND);
    // A name longer than the field is refused, not cut to another file's name.
    Loaded longName;
    Import("/tmp/" + std::string(5000, 'a'), {}, longName);
    EXPECT_EQ(longName.Err, KXERR_FILENOTFOUND);
}

TEST(RawImport, ProgressOnlyForConvertedFormats) {
    std::vector<uint8_t> bytes(4 * 20 * 2);
    Loaded words;
    ImportBytes(bytes, {{"FORMAT", "RGB16"}, {"WIDTH", "4"}, {"HEIGHT", "20"}}, words);
    ASSERT_EQ(words.Err, KXERR_NONE);
    EXPECT_EQ(words.Progress, (std::vector<uint32_t>{0, 40, 80}));
    Loaded straight;
    ImportBytes(bytes, {{"FORMAT", "GRAY8"}, {"WIDTH", "8"}, {"HEIGHT", "20"}}, straight);
    ASSERT_EQ(straight.Err, KXERR_NONE);
    EXPECT_TRUE(straight.Progress.empty());
}

// Every format cut short at every length and with bytes flipped: a short
// file fails with 29 and leaves no buffer; flipped data loads as a valid
// picture (headerless data has no header to break).
TEST(RawImport, TruncatedAndFlippedData) {
    const char* formats[] = {"GRAY8", "LUT8",   "RGB24",  "RGBA32", "ARGB32", "RGB+A32", "RGB48",
                             "RGBA64", "ARGB64", "RGB+A64", "BAYER8", "RGB16",  "RGB15",   "ARGB16"};
    const uint32_t bytesPerPixel[] = {1, 1, 3, 4, 4, 4, 6, 8, 8, 8, 1, 2, 2, 2};
    for (size_t f = 0; f < 15; ++f) {
        const bool planar = f == 14;
        const char* format = planar ? "GRAY8" : formats[f];
        SCOPED_TRACE(std::string(format) + (planar ? " planar" : ""));
        const uint32_t w = 5, h = 3;
        const size_t size = planar ? 3 * h : (size_t)w * h * bytesPerPixel[f];
        Keys keys = {{"FORMAT", format}, {"WIDTH", "5"}, {"HEIGHT", "3"}};
        if (planar) keys.emplace_back("LUT8_FORMAT", "PLANAR");
        std::vector<uint8_t> bytes(size);
        for (size_t i = 0; i < size; ++i) bytes[i] = (uint8_t)(i * 97 + 13);
        for (size_t len = 0; len < size; ++len) {
            Loaded l;
            ImportBytes(std::vector<uint8_t>(bytes.begin(), bytes.begin() + len), keys, l);
            // Planar data is any whole number of planes; less than one is short.
            const uint32_t want = planar && len >= 3 ? (len % 3 ? KXERR_SIZEMISMATCH : KXERR_NONE) : KXERR_EOF;
            EXPECT_EQ(l.Err, want) << "length " << len;
            if (want != KXERR_NONE) {
                EXPECT_EQ(l.Buffer, nullptr);
            }
        }
        for (uint32_t i = 0; i < 20; ++i) {
            std::vector<uint8_t> copy = bytes;
            copy[(i * 7) % size] ^= (uint8_t)(1 + i * 37);
            Loaded l;
            ImportBytes(copy, keys, l);
            ASSERT_EQ(l.Err, KXERR_NONE);
            std::string why;
            EXPECT_TRUE(KXT_ImageIsValid(l.Buffer, &why)) << why;
        }
    }
}

}  // namespace
