// RGB8 / RGBN: round trips with and without alpha over widths, the records
// the writer makes, RGB8 and RGBN records from byte tables, netpbm's
// ppmtoilbm -rgb8/-rgbn files read by us and our files read by ilbmtoppm,
// damaged files, the chunk-walk log and robustness.
#include "formats/iff/kxoRGB8.h"
#include "iff_bytes.h"
#include "iff_test_util.h"

using namespace ifftest;
using namespace iffbytes;

namespace {

uint32_t saveRgb8(KX_GfxBuffer* b, const std::string& path) {
    kxoRGB8 w(nullptr);
    return saveWith(&w, b, path, 0);
}

Bytes bodyOf(const Bytes& f) {
    const size_t at = findChunk(f, "BODY");
    if (at >= f.size()) return {};
    return Bytes(f.begin() + (long)at + 8, f.begin() + (long)at + 8 + get32(f, at + 4));
}

// A 24-bit picture with runs: each row holds stretches of one colour.
BufferPtr runsPicture(uint32_t w, uint32_t h, uint32_t seed) {
    BufferPtr b = makeChunky(w, h, 24, seed);
    std::mt19937 rng(seed);
    for (uint32_t i = 1; i < w * h; ++i)
        if (rng() % 3) memcpy(b->Data + 3 * i, b->Data + 3 * (i - 1), 3);
    return b;
}

}  // namespace

// Widths 1 to 17 and 23: without alpha, with an alpha map of 0 and other
// values (0 comes back as 0, everything else as 255), with alpha never 0.
TEST(RGB8, RoundTripsOverWidths) {
    std::vector<uint32_t> widths;
    for (uint32_t w = 1; w <= 17; ++w) widths.push_back(w);
    widths.push_back(23);
    for (uint32_t w : widths) {
        for (int kind = 0; kind < 3; ++kind) {
            SCOPED_TRACE("w" + std::to_string(w) + " kind " + std::to_string(kind));
            BufferPtr src = runsPicture(w, 4, w);
            if (kind > 0) {
                addAlpha8(src.get(), w);
                uint8_t* a = KXSUP_AlphaBytes(src.get());
                for (uint32_t i = 0; i < w * 4; ++i) a[i] = kind == 2 ? uint8_t(a[i] | 1) : (a[i] & 1 ? 0 : a[i]);
            }
            const std::string path = tempPath("rt.rg8");
            ASSERT_EQ(saveRgb8(src.get(), path), KXERR_NONE);
            BufferPtr back;
            ASSERT_EQ(loadFile<kxoRGB8>(path, &back), KXERR_NONE);
            ASSERT_EQ(back->Width, w);
            ASSERT_EQ(back->ColorDepth, 24u);
            ASSERT_EQ(back->BufferSize, w * 4 * 3);
            ASSERT_EQ(0, memcmp(back->Data, src->Data, w * 4 * 3));
            if (kind == 1) {
                ASSERT_EQ(back->AlphaType, (uint32_t)KXALPHA_CHANNEL8);
                const uint8_t* a = KXSUP_AlphaBytes(src.get());
                const uint8_t* b = KXSUP_AlphaBytes(back.get());
                for (uint32_t i = 0; i < w * 4; ++i) ASSERT_EQ(b[i], a[i] ? 255 : 0) << i;
            } else {
                EXPECT_EQ(back->Version, 1u);  // no transparent pixel: no alpha
            }
        }
    }
}

TEST(RGB8, RecordsTheWriterMakes) {
    // 300 pixels of one colour: counts 127, 127, 46.
    BufferPtr one = makeChunky(300, 1, 24, 1);
    for (uint32_t i = 0; i < 300; ++i) memcpy(one->Data + 3 * i, "\x10\x20\x30", 3);
    Bytes f = savedBytes<kxoRGB8>(one.get(), "one.rg8", 0);
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(bodyOf(f), (Bytes{0x10, 0x20, 0x30, 127, 0x10, 0x20, 0x30, 127, 0x10, 0x20, 0x30, 46}));
    EXPECT_EQ(memcmp(&f[8], "RGB8", 4), 0);
    EXPECT_EQ(get32(f, 4), f.size() - 8);
    const size_t bm = findChunk(f, "BMHD");
    EXPECT_EQ(f[bm + 8 + 8], 25);
    EXPECT_EQ(f[bm + 8 + 10], 4);
    EXPECT_EQ(f[bm + 8 + 11], 0);

    // Two equal transparent pixels stay two records of 0x81; opaque pixels
    // of one colour join whatever their alpha.
    BufferPtr four = makeChunky(4, 1, 24, 1);
    memset(four->Data, 9, 12);
    addAlpha8(four.get(), 1);
    const uint8_t alpha[4] = {0, 0, 128, 255};
    memcpy(four->AlphaData, alpha, 4);
    f = savedBytes<kxoRGB8>(four.get(), "four.rg8", 0);
    EXPECT_EQ(bodyOf(f), (Bytes{9, 9, 9, 0x81, 9, 9, 9, 0x81, 9, 9, 9, 2}));

    // The file is always FORM "RGB8"; 48-bit and palette chunky give 20, bit planes 16.
    BufferPtr deep = makeChunky(4, 1, 48, 1), pal = makeChunky(8, 1, 8, 1);
    EXPECT_EQ(saveRgb8(deep.get(), tempPath("x.rg8")), (uint32_t)KXERR_NEED24BIT);
    EXPECT_EQ(saveRgb8(pal.get(), tempPath("x.rg8")), (uint32_t)KXERR_NEED24BIT);
    BufferPtr planes = toPlanes(pal.get());
    EXPECT_EQ(saveRgb8(planes.get(), tempPath("x.rg8")), (uint32_t)KXERR_NOTSUPPORTED);
}

// Records from byte tables, RGB8 and RGBN, chosen by the plane count.
TEST(RGB8, RecordsFromByteTables) {
    struct Case {
        const char* name;
        const char* type;
        uint32_t planes, w, h;
        Bytes body;
        Bytes rgb;    // the first pixel's colour
        Bytes alpha;  // expected map (empty: no alpha)
    } cases[] = {
        {"RGBN one pixel", "RGBN", 13, 1, 1, {0xF0, 0xF1}, {240, 0, 240}, {}},
        {"RGBN byte count", "RGBN", 13, 5, 1, {0x12, 0x30, 5}, {16, 32, 48}, {}},
        {"RGBN 256 transparent", "RGBN", 13, 16, 16, {0xF0, 0xF8, 0, 0x01, 0x00}, {240, 0, 240}, Bytes(256, 0)},
        {"RGBN count 0 is one", "RGBN", 13, 2, 1, {0x11, 0x18, 0, 0, 0, 0x22, 0x21}, {16, 16, 16}, {0, 255}},
        {"RGB8 0x00 one opaque", "RGB8", 25, 2, 1, {1, 2, 3, 0x00, 4, 5, 6, 0x80}, {1, 2, 3}, {255, 0}},
        {"RGB8 run across rows", "RGB8", 25, 2, 2, {7, 8, 9, 4}, {7, 8, 9}, {}},
        {"RGBN form, 25 planes", "RGBN", 25, 1, 1, {1, 2, 3, 1}, {1, 2, 3}, {}},
        {"RGB8 form, 13 planes", "RGB8", 13, 1, 1, {0xF0, 0xF1}, {240, 0, 240}, {}},
        {"run past the last pixel", "RGB8", 25, 2, 1, {5, 5, 5, 100}, {5, 5, 5}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes f = form(c.type, {{"BMHD", bmhd(c.w, c.h, c.planes, 0, 4)}, {"BODY", c.body}});
        BufferPtr b;
        ASSERT_EQ(loadBytes<kxoRGB8>(f, "table.rg8", &b), KXERR_NONE);
        EXPECT_EQ(Bytes(b->Data, b->Data + 3), c.rgb);
        if (c.alpha.empty()) {
            EXPECT_EQ(b->Version, 1u);
        } else {
            ASSERT_EQ(b->AlphaType, (uint32_t)KXALPHA_CHANNEL8);
            EXPECT_EQ(Bytes(KXSUP_AlphaBytes(b.get()), KXSUP_AlphaBytes(b.get()) + c.alpha.size()), c.alpha);
        }
    }
    // A run fills every pixel with its colour.
    const Bytes f = form("RGBN", {{"BMHD", bmhd(300, 2, 13, 0, 4)}, {"BODY", {0x12, 0x30, 0, 0x02, 0x58}}});
    BufferPtr b;
    ASSERT_EQ(loadBytes<kxoRGB8>(f, "run.rg8", &b), KXERR_NONE);
    for (uint32_t i = 0; i < 600; ++i) ASSERT_EQ(Bytes(b->Data + 3 * i, b->Data + 3 * i + 3), (Bytes{16, 32, 48})) << i;
}

// netpbm's ppmtoilbm -rgb8 / -rgbn write files that we read as their input
// (RGBN at 4 bits, as ilbmtoppm reads it); ilbmtoppm reads ours back.
TEST(RGB8, NetpbmBothWays) {
    if (!KXT_HaveTool("ppmtoilbm") || !KXT_HaveTool("ilbmtoppm")) GTEST_SKIP() << "netpbm (ppmtoilbm, ilbmtoppm) not installed";
    const uint32_t w = 37, h = 9;
    BufferPtr src = runsPicture(w, h, 4);
    const Bytes rgb(src->Data, src->Data + w * h * 3);
    const std::string ppm = tempPath("in.ppm");
    writePpm(ppm, w, h, rgb);
    for (const char* option : {"-rgb8", "-rgbn"}) {
        SCOPED_TRACE(option);
        const std::string theirs = tempPath("theirs.rg8");
        ASSERT_TRUE(run(std::string("ppmtoilbm ") + option + " " + ppm + " > " + theirs));
        BufferPtr b;
        ASSERT_EQ(loadFile<kxoRGB8>(theirs, &b), KXERR_NONE);
        ASSERT_EQ(b->Width, w);
        ASSERT_EQ(b->Height, h);
        if (option[4] == '8') {
            EXPECT_EQ(Bytes(b->Data, b->Data + w * h * 3), rgb);
            continue;
        }
        // ppmtoilbm scales to 4 bits (not a plain shift); we read v x 16,
        // ilbmtoppm the 4-bit value itself.
        const std::string ref = tempPath("theirs.ppm");
        ASSERT_TRUE(run("ilbmtoppm " + theirs + " > " + ref));
        Netpbm p;
        ASSERT_TRUE(readNetpbm(ref, &p));
        ASSERT_EQ(p.raster.size(), w * h * 3);
        const uint32_t shift = p.maxval == 15 ? 0 : 4;  // ilbmtoppm may keep the 4-bit maxval
        for (uint32_t i = 0; i < w * h * 3; ++i) ASSERT_EQ(b->Data[i] >> 4, p.raster[i] >> shift) << i;
    }
    const std::string ours = tempPath("ours.rg8"), back = tempPath("back.ppm");
    ASSERT_EQ(saveRgb8(src.get(), ours), KXERR_NONE);
    ASSERT_TRUE(run("ilbmtoppm " + ours + " > " + back));
    Netpbm p;
    ASSERT_TRUE(readNetpbm(back, &p));
    ASSERT_EQ(p.w, w);
    EXPECT_EQ(p.raster, rgb);
}

TEST(RGB8, DamagedFilesFailWithTheirCodes) {
    const Bytes body = {1, 2, 3, 2};
    auto file = [&](Bytes bm, Bytes b = {1, 2, 3, 2}) { return form("RGB8", {{"BMHD", bm}, {"BODY", b}}); };
    Bytes longBmhd = bmhd(2, 1, 25, 0, 4);
    longBmhd.resize(22);
    struct Case {
        const char* name;
        Bytes file;
        uint32_t code;
    } cases[] = {
        {"good", file(bmhd(2, 1, 25, 0, 4)), KXERR_NONE},
        {"no FORM", [&] { Bytes f = file(bmhd(2, 1, 25, 0, 4)); f[0] = 'f'; return f; }(), KXERR_IFFPARSE},
        {"compression 1", file(bmhd(2, 1, 25, 0, 1)), KXERR_FILEREQUIREMENTS},
        {"24 planes", file(bmhd(2, 1, 24, 0, 4)), KXERR_FILEREQUIREMENTS},
        {"no BODY", form("RGB8", {{"BMHD", bmhd(2, 1, 25, 0, 4)}}), KXERR_NOVIEWABLEDATA},
        {"BMHD longer than 20", form("RGB8", {{"BMHD", longBmhd}, {"BODY", body}}), KXERR_FILEREQUIREMENTS},
        {"long BMHD, then a good one", form("RGB8", {{"BMHD", longBmhd}, {"BMHD", bmhd(2, 1, 25, 0, 4)}, {"BODY", body}}), KXERR_DECODE},
        {"body ends early", file(bmhd(3, 1, 25, 0, 4)), KXERR_EOF},
        {"record cut", file(bmhd(3, 1, 25, 0, 4), {1, 2, 3, 2, 9, 9}), KXERR_EOF},
        {"RGBN count cut", file(bmhd(3, 1, 13, 0, 4), {0x11, 0x10}), KXERR_EOF},
        {"BODY beyond the file", form("RGB8", {{"BMHD", bmhd(2, 1, 25, 0, 4)}, {"BODY", body, 64}}), KXERR_EOF},
        {"huge picture, tiny body", file(bmhd(65535, 65535, 25, 0, 4)), KXERR_FILEREQUIREMENTS},  // beyond 32 bits
        {"empty picture", file(bmhd(0, 1, 25, 0, 4)), KXERR_FILEREQUIREMENTS},
    };
    for (const Case& c : cases) {
        BufferPtr b;
        EXPECT_EQ(loadBytes<kxoRGB8>(c.file, "damaged.rg8", &b), c.code) << c.name;
    }
}

TEST(RGB8, ChunkWalkLog) {
    const Bytes f = form("RGB8", {{"BMHD", bmhd(1, 1, 25, 0, 4)}, {"BODY", {1, 2, 3, 1}}});
    const std::string path = tempPath("log.rg8");
    KXT_WriteBytes(path, f);
    CaptureLog log;
    kxoRGB8 r(nullptr);
    r.SetLog(&log);
    r.SetReadName(path.c_str());
    ASSERT_EQ(r.Load(), KXERR_NONE);
    const std::string t = "5 rgb8            : ";
    const std::vector<std::string> want = {t + "Parsing RGB8 chunks...\n", t + "Loop...\n", t + "BMHD found\n", t + "BMHD ok\n", t + "Loop...\n",
                                           t + "BMHD compression supported\n", t + "BMHD planes supported\n"};
    EXPECT_EQ(log.lines, want);
}

TEST(RGB8, RecognitionAndRobustness) {
    BufferPtr src = runsPicture(19, 7, 2);
    addAlpha8(src.get(), 3);
    uint8_t* a = KXSUP_AlphaBytes(src.get());
    for (uint32_t i = 0; i < 19 * 7; ++i) a[i] = a[i] & 1 ? 0 : 200;
    KXOSpecialInfo info = {};
    char auth[] = "someone";
    info.Auth = auth;
    const std::string path = tempPath("robust_src.rg8");
    kxoRGB8 w(nullptr);
    ASSERT_EQ(saveWith(&w, src.get(), path, 0, &info), KXERR_NONE);
    kxoRGB8 r(nullptr);
    FILE* fp = fopen(path.c_str(), "rb");
    EXPECT_EQ(r.CheckFile(fp, "x", KXIO_FILE), 1u);
    EXPECT_EQ(ftell(fp), 0);
    fclose(fp);
    robustnessRun(KXT_ReadBytes(path), "robust.rg8", "kxoRGB8");
    // RGBN records with every count form.
    const Bytes rgbn = form("RGBN", {{"BMHD", bmhd(20, 20, 13, 0, 4)}, {"BODY", {0x12, 0x31, 0x45, 0x60, 9, 0x78, 0x98, 0, 0x01, 0x84, 0xAB, 0xC2}}});
    robustnessRun(rgbn, "robust.rgn", "kxoRGB8");
}
