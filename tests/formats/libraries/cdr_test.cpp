// CorelDRAW previews: recognition, the BMP file made from the DISP chunk,
// the chunk bounds checked before anything is allocated, the temporary
// file, and damaged files.
#include "converter_helpers.h"
#include "formats/libraries/kxoCDR.h"
#include "formats/raster/kxoBMP.h"
#include "support/robustness.h"

using namespace convtest;

namespace {
void Put32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back((uint8_t)(v >> (8 * i)));
}

// RIFF "CDRx" with a vrsn chunk and, as second chunk, id with data.
Bytes Riff(const char* form, const Bytes& vrsn, const char* id, const Bytes& data, int64_t declared = -1) {
    Bytes body(form, form + 4);
    body.insert(body.end(), {'v', 'r', 's', 'n'});
    Put32(body, (uint32_t)vrsn.size());
    body.insert(body.end(), vrsn.begin(), vrsn.end());
    body.insert(body.end(), id, id + 4);
    Put32(body, declared >= 0 ? (uint32_t)declared : (uint32_t)data.size());
    body.insert(body.end(), data.begin(), data.end());
    Bytes riff = {'R', 'I', 'F', 'F'};
    Put32(riff, (uint32_t)body.size());
    riff.insert(riff.end(), body.begin(), body.end());
    return riff;
}

// The preview as CorelDRAW keeps it: 4 unused bytes, then a bitmap
// without its file header (here one of our own BMP files).
Bytes Disp(KX_GfxBuffer* img, const Scratch& dir) {
    kxoBMP bmp(nullptr);
    const std::string path = dir / "preview.bmp";
    bmp.SetSaveName(path.c_str());
    bmp.SetGfxBuffer(img);
    EXPECT_EQ(bmp.Save(), 0u);
    const Bytes file = KXT_ReadBytes(path);
    Bytes disp(4, 0);
    disp.insert(disp.end(), file.begin() + 14, file.end());
    return disp;
}

const Bytes kVrsn = {0x84, 0x03, 0, 0};

// The vrsn chunk declares more bytes than the file holds.
Bytes LongVrsn(const Bytes& disp) {
    Bytes b = Riff("CDR9", kVrsn, "DISP", disp);
    b[16] = 0xE8;
    b[17] = 0x03;
    return b;
}
}  // namespace

TEST(CdrRecognition, RiffCdrWithVrsnThenDisp) {
    Scratch dir;
    const Bytes disp(60, 0);
    struct Row {
        const char* what;
        Bytes bytes;
        uint32_t expected;
    } rows[] = {
        {"CDR4", Riff("CDR4", kVrsn, "DISP", disp), 1},
        {"CDR9", Riff("CDR9", kVrsn, "DISP", disp), 1},
        {"cdrX", Riff("cdrX", kVrsn, "DISP", disp), 0},
        {"second chunk not DISP", Riff("CDR9", kVrsn, "LIST", disp), 0},
        {"vrsn runs past the end", LongVrsn(disp), 0},
        {"short", Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'C', 'D', 'R'}, 0},
    };
    for (const Row& r : rows) EXPECT_EQ(Recognises<kxoCDR>(dir, "a.cdr", r.bytes), r.expected) << r.what;
    EXPECT_EQ(Recognises<kxoCDR>(dir, "a.cdr", rows[0].bytes, KXIO_CLIPBOARD), 0u);
}

TEST(CdrPreview, TrueColourAndPalettePreviewsLoadThroughTheBmpFile) {
    Scratch dir;
    for (uint32_t depth : {24u, 8u, 4u}) {
        SCOPED_TRACE(depth);
        Buffer img = pngtest::MakeImage(depth, 13, 7);
        const Bytes disp = Disp(img.get(), dir);
        ASSERT_TRUE(KXT_WriteBytes(dir / "d.cdr", Riff("CDR9", kVrsn, "DISP", disp)));
        Module<kxoCDR> cdr;
        ASSERT_EQ(cdr.Load(dir / "d.cdr"), 0u);
        const std::string bmp = cdr.obj.Output.Name;
        EXPECT_TRUE(IsTempName(bmp, "cdr", "bmp")) << bmp;
        // "BM", the size (the DISP size + 10), 4 zero bytes, 54, 40, then the
        // bitmap after its own header-size field.
        const Bytes file = KXT_ReadBytes(bmp);
        ASSERT_EQ(file.size(), disp.size() + 10);
        Bytes head = {'B', 'M'};
        Put32(head, (uint32_t)file.size());
        Put32(head, 0);
        Put32(head, 54);
        Put32(head, 40);
        EXPECT_EQ(Bytes(file.begin(), file.begin() + 18), head);
        EXPECT_EQ(Bytes(file.begin() + 18, file.end()), Bytes(disp.begin() + 8, disp.end()));
        KX_GfxBuffer* b = cdr.Image();
        ASSERT_NE(b, nullptr);
        for (uint32_t y = 0; y < 7; ++y)
            for (uint32_t x = 0; x < 13; ++x) ASSERT_EQ(Pixel(b, x, y), Pixel(img.get(), x, y)) << x << "," << y;
        cdr.obj.Reset();
        EXPECT_FALSE(Exists(bmp)) << "Reset deletes the BMP file";
    }
}

TEST(CdrPreview, ChunkBoundsBeforeAllocation) {
    Scratch dir;
    Buffer img = pngtest::MakeImage(24, 5, 4);
    const Bytes disp = Disp(img.get(), dir);
    Bytes notRiff = Riff("CDR9", kVrsn, "DISP", disp);
    notRiff[0] = 'X';
    struct Row {
        const char* what;
        Bytes bytes;
        uint32_t expected;
    } rows[] = {
        {"DISP size 0", Riff("CDR9", kVrsn, "DISP", {}), KXERR_DECODE},
        {"DISP smaller than its bitmap header", Riff("CDR9", kVrsn, "DISP", Bytes(43, 0)), KXERR_DECODE},
        {"DISP past the end", Riff("CDR9", kVrsn, "DISP", disp, (int64_t)disp.size() + 1), KXERR_EOF},
        {"DISP of 4 GiB", Riff("CDR9", kVrsn, "DISP", disp, 0xFFFFFFFFll), KXERR_EOF},
        {"vrsn size 0", Riff("CDR9", {}, "DISP", disp), KXERR_EOF},
        {"vrsn past the end", LongVrsn(disp), KXERR_EOF},
        {"second chunk not DISP", Riff("CDR9", kVrsn, "LIST", disp), KXERR_NOVIEWABLEDATA},
        {"not RIFF", notRiff, KXERR_NOVIEWABLEDATA},
        {"cut in the header", Bytes(notRiff.begin(), notRiff.begin() + 19), KXERR_EOF},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        ASSERT_TRUE(KXT_WriteBytes(dir / "bad.cdr", r.bytes));
        Module<kxoCDR> cdr;
        EXPECT_EQ(cdr.Load(dir / "bad.cdr"), r.expected);
        EXPECT_EQ(cdr.Image(), nullptr);
        EXPECT_TRUE(cdr.obj.Output.Name == nullptr) << "no BMP file for a refused chunk";
    }
    Module<kxoCDR> missing;
    EXPECT_EQ(missing.Load(dir / "missing.cdr"), static_cast<uint32_t>(KXERR_FILENOTFOUND));
}

// A small file whose preview declares a huge picture: refused before the
// BMP file is written (and so before any reader allocates the picture)
// unless its bytes really hold the rows.
TEST(CdrPreview, DeclaredPictureMustFitTheChunkAndTheLimit) {
    Scratch dir;
    // DISP: 4 unused bytes, a 40-byte header, a colour table of 256 entries.
    auto header = [](int32_t w, int32_t h, uint16_t bits, uint32_t compression) {
        Bytes d(4, 0);
        Put32(d, 40);
        Put32(d, (uint32_t)w);
        Put32(d, (uint32_t)h);
        d.insert(d.end(), {1, 0, (uint8_t)bits, (uint8_t)(bits >> 8)});
        Put32(d, compression);
        while (d.size() < 44) d.push_back(0);
        d.resize(44 + 1024, 0x40);
        return d;
    };
    struct Row {
        const char* what;
        Bytes disp;
        uint32_t expected;
    } rows[] = {
        {"8-bit 46340 x 46340, rows not there", header(46340, 46340, 8, 0), KXERR_EOF},
        {"top-down 24-bit 30000 x 20000", header(30000, -20000, 24, 0), KXERR_EOF},
        {"bit fields 4000 x 4000", header(4000, 4000, 32, 3), KXERR_EOF},
        {"beyond 32 bits", header(65536, 65536, 24, 0), KXERR_FILEREQUIREMENTS},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        ASSERT_TRUE(KXT_WriteBytes(dir / "big.cdr", Riff("CDR9", kVrsn, "DISP", r.disp)));
        ASSERT_LT(KXT_ReadBytes(dir / "big.cdr").size(), 2000u);
        Module<kxoCDR> cdr;
        EXPECT_EQ(cdr.Load(dir / "big.cdr"), r.expected);
        EXPECT_EQ(cdr.Image(), nullptr);
        EXPECT_TRUE(cdr.obj.Output.Name == nullptr) << "no BMP file for a preview that is not there";
    }
    // Over the size limit: the limit's code, before the file.
    KXSUP_SetSizeLimit(1 << 20);
    {
        ASSERT_TRUE(KXT_WriteBytes(dir / "big.cdr", Riff("CDR9", kVrsn, "DISP", header(2000, 2000, 8, 1))));
        Module<kxoCDR> cdr;
        EXPECT_EQ(cdr.Load(dir / "big.cdr"), static_cast<uint32_t>(KXERR_NOMEMORY));
        EXPECT_TRUE(cdr.obj.Output.Name == nullptr);
    }
    KXSUP_ResetSizeLimit();
    // Rows that are all there still load: 8-bit 16 x 16 needs 256 bytes of rows.
    Bytes small = header(16, 16, 8, 0);
    small.resize(small.size() + 256, 3);
    ASSERT_TRUE(KXT_WriteBytes(dir / "small.cdr", Riff("CDR9", kVrsn, "DISP", small)));
    Module<kxoCDR> cdr;
    ASSERT_EQ(cdr.Load(dir / "small.cdr"), 0u);
    ASSERT_NE(cdr.Image(), nullptr);
    EXPECT_EQ(cdr.Image()->Width, 16u);
}

TEST(CdrRobustness, TruncatedAndByteFlippedFiles) {
    Scratch dir;
    Buffer img = pngtest::MakeImage(8, 9, 6);
    ASSERT_TRUE(KXT_WriteBytes(dir / "r.cdr", Riff("CDR4", kVrsn, "DISP", Disp(img.get(), dir))));
    KXT_CheckReaderRobustness("kxoCDR", dir / "r.cdr");
}
