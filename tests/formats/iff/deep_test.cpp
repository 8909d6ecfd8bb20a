// DEEP: round trips of 24 and 48 bits with and without alpha over widths,
// the written chunks, RLE and TVDC bodies from byte tables with the
// numeric cases, element lists, damaged files, the save that leaves no
// partial file, the chunk-walk log and robustness.
#include "formats/iff/kxoDEEP.h"
#include "iff_bytes.h"
#include "iff_test_util.h"

using namespace ifftest;
using namespace iffbytes;

namespace {

uint32_t saveDeep(KX_GfxBuffer* b, const std::string& path, uint32_t sub = 0) {
    kxoDEEP w(nullptr);
    return saveWith(&w, b, path, sub);
}

Bytes dgbl(uint32_t w, uint32_t h, uint32_t compression) {
    Bytes b;
    put16(b, w);
    put16(b, h);
    put16(b, compression);
    b.push_back(1);
    b.push_back(1);
    return b;
}

// DPEL from (type, depth) pairs.
Bytes dpel(std::initializer_list<std::pair<uint32_t, uint32_t>> elements) {
    Bytes b;
    put32(b, (uint32_t)elements.size());
    for (auto [t, d] : elements) {
        put16(b, t);
        put16(b, d);
    }
    return b;
}

Bytes rgb8() { return dpel({{1, 8}, {2, 8}, {3, 8}}); }
Bytes rgba8(uint32_t alphaDepth = 8) { return dpel({{1, 8}, {2, 8}, {3, 8}, {4, alphaDepth}}); }

Bytes tvdcTable(std::initializer_list<int> entries) {
    Bytes b;
    int n = 0;
    for (int v : entries) {
        put16(b, (uint32_t)(v & 0xFFFF));
        ++n;
    }
    for (; n < 16; ++n) put16(b, 0);
    return b;
}

}  // namespace

// 24 and 48 bits, with and without alpha, widths 1 to 17 and 23, both
// sub-formats the writer takes.
TEST(DEEP, RoundTripsOverKindsAndWidths) {
    std::vector<uint32_t> widths;
    for (uint32_t w = 1; w <= 17; ++w) widths.push_back(w);
    widths.push_back(23);
    for (uint32_t depth : {24u, 48u}) {
        for (bool alpha : {false, true}) {
            for (uint32_t w : widths) {
                for (uint32_t sub : {0u, 1u}) {
                    SCOPED_TRACE(std::to_string(depth) + (alpha ? " alpha" : "") + " w" + std::to_string(w) + " sub " + std::to_string(sub));
                    BufferPtr src = makeChunky(w, 3, depth, w + depth);
                    BufferPtr expect = makeChunky(w, 3, depth, w + depth);
                    if (alpha) {
                        addAlpha8(src.get(), w);
                        addAlpha8(expect.get(), w);
                    }
                    const std::string path = tempPath("rt.dep");
                    ASSERT_EQ(saveDeep(src.get(), path, sub), KXERR_NONE);
                    BufferPtr back;
                    ASSERT_EQ(loadFile<kxoDEEP>(path, &back), KXERR_NONE);
                    expectSamePicture(expect.get(), back.get(), "");
                    if (depth == 48) {
                        EXPECT_EQ(KXSUP_GetGfxBufferEndianess(src.get()), (uint32_t)KXENDIAN_BIG);  // left as written
                        EXPECT_TRUE(KXSUP_GetGfxBufferFlags(back.get()) & KXGFXF_II);
                    }
                }
            }
        }
    }
}

TEST(DEEP, WrittenChunks) {
    // 48 bits with alpha 0x80: DPEL of four 16-bit elements, alpha 0x8080.
    BufferPtr src = makeChunky(3, 1, 48, 1);
    addAlpha8(src.get(), 1);
    memset(src->AlphaData, 0x80, 3);
    Bytes f = savedBytes<kxoDEEP>(src.get(), "alpha48.dep", 0);
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(get32(f, 4), f.size() - 8);
    const size_t g = findChunk(f, "DGBL");
    ASSERT_EQ(g, 12u);
    EXPECT_EQ(Bytes(f.begin() + 20, f.begin() + 28), dgbl(3, 1, 0));
    const size_t p = findChunk(f, "DPEL");
    ASSERT_LT(p, f.size());
    EXPECT_EQ(Bytes(f.begin() + (long)p + 8, f.begin() + (long)p + 28), dpel({{1, 16}, {2, 16}, {3, 16}, {4, 16}}));
    const size_t body = findChunk(f, "DBOD");
    ASSERT_EQ(get32(f, body + 4), 3u * 8);
    for (uint32_t x = 0; x < 3; ++x) EXPECT_EQ(get16(f, body + 8 + 8 * x + 6), 0x8080u);
    BufferPtr back;
    ASSERT_EQ(loadBytes<kxoDEEP>(f, "alpha48.dep", &back), KXERR_NONE);
    EXPECT_EQ(KXSUP_AlphaBytes(back.get())[2], 0x80);

    // "RLE" writes compression 0; "DELTA" is refused; 8-bit gives 20, bit planes 16.
    BufferPtr rgb = makeChunky(5, 1, 24, 2);
    f = savedBytes<kxoDEEP>(rgb.get(), "rle.dep", 1);
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(get16(f, 20 + 4), 0u);
    EXPECT_EQ(get32(f, findChunk(f, "DBOD") + 4), 15u);
    EXPECT_EQ(f.size() % 2, 0u);  // odd body, pad byte
    EXPECT_EQ(saveDeep(rgb.get(), tempPath("delta.dep"), 2), (uint32_t)KXERR_NOTSUPPORTED);
    BufferPtr pal = makeChunky(5, 1, 8, 2);
    EXPECT_EQ(saveDeep(pal.get(), tempPath("pal.dep")), (uint32_t)KXERR_NEED24BIT);
    BufferPtr planes = toPlanes(pal.get());
    EXPECT_EQ(saveDeep(planes.get(), tempPath("pal.dep")), (uint32_t)KXERR_NOTSUPPORTED);
}

// Bodies from byte tables: the numeric cases of RLE and TVDC.
TEST(DEEP, RleAndTvdcBodies) {
    struct Case {
        const char* name;
        Bytes dgblData, dpelData, body;
        Bytes tvdc;
        Bytes pixels;  // expected pixel data
        Bytes alpha;   // expected alpha map (empty: none)
    } cases[] = {
        // 0xC5 0x07 is five 7s; 0xC0 0x09 nothing.
        {"RLE runs", dgbl(2, 1, 1), rgb8(), {0xC5, 7, 0xC0, 9, 1}, {}, {7, 7, 7, 7, 7, 1}, {}},
        // A run of 10 with 4 bytes left in the row: 4 there, 6 at the start of the next.
        {"RLE run over the row end", dgbl(2, 2, 1), rgb8(), {0xC2, 7, 0xCA, 3}, {}, {7, 7, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3}, {}},
        {"RLE literals 0x00-0xBF", dgbl(1, 1, 1), rgb8(), {0x00, 0x80, 0xBF}, {}, {0x00, 0x80, 0xBF}, {}},
        {"RLE 4-bit alpha widened", dgbl(1, 1, 1), rgba8(4), {1, 2, 3, 0xA0}, {}, {1, 2, 3}, {0xAA}},
        {"uncompressed 4-bit alpha kept", dgbl(1, 1, 0), rgba8(4), {1, 2, 3, 0xA0}, {}, {1, 2, 3}, {0xA0}},
        // Table [0, 1, ...], nibbles 1 1 0 3: 1 2 2 2 2 2 in every channel.
        {"TVDC repeat", dgbl(6, 1, 5), rgb8(), {0x11, 0x03, 0x11, 0x03, 0x11, 0x03}, tvdcTable({0, 1}),
         {1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2}, {}},
        // Odd widths leave the low nibble of a line's last byte unused;
        // negative entries count down and wrap in the low bits.
        {"TVDC odd width, negative", dgbl(1, 2, 5), rgba8(), {0x1F, 0x2F, 0x3F, 0x4F, 0x3A, 0x1B, 0x4C, 0x2D}, tvdcTable({0, 5, -1, 7, 9}),
         {5, 0xFF, 7, 7, 5, 9}, {9, 0xFF}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Chunk> chunks = {{"DGBL", c.dgblData}, {"DPEL", c.dpelData}};
        if (!c.tvdc.empty()) chunks.push_back({"TVDC", c.tvdc});
        chunks.push_back({"DBOD", c.body});
        BufferPtr b;
        ASSERT_EQ(loadBytes<kxoDEEP>(form("DEEP", chunks), "table.dep", &b), KXERR_NONE);
        ASSERT_EQ(b->BufferSize, c.pixels.size());
        EXPECT_EQ(Bytes(b->Data, b->Data + b->BufferSize), c.pixels);
        if (c.alpha.empty()) {
            EXPECT_EQ(b->Version, 1u);
        } else {
            ASSERT_EQ(b->AlphaType, (uint32_t)KXALPHA_CHANNEL8);
            EXPECT_EQ(Bytes(KXSUP_AlphaBytes(b.get()), KXSUP_AlphaBytes(b.get()) + c.alpha.size()), c.alpha);
        }
    }
    // 16-bit TVDC: the running value's low 16 bits, little-endian in the loaded buffer.
    const Bytes f = form("DEEP", {{"DGBL", dgbl(1, 1, 5)}, {"DPEL", dpel({{1, 16}, {2, 16}, {3, 16}})}, {"TVDC", tvdcTable({0, 0x1234, -2})}, {"DBOD", {0x10, 0x20, 0x11}}});
    BufferPtr b;
    ASSERT_EQ(loadBytes<kxoDEEP>(f, "tvdc16.dep", &b), KXERR_NONE);
    ASSERT_EQ(b->ColorDepth, 48u);
    EXPECT_EQ(sample16(b.get(), b->Data, 0), 0x1234);
    EXPECT_EQ(sample16(b.get(), b->Data, 1), 0xFFFE);
    EXPECT_EQ(sample16(b.get(), b->Data, 2), 0x1234);
}

TEST(DEEP, SizesElementsAndDamage) {
    const Bytes px = {1, 2, 3, 4, 5, 6};
    auto file = [&](Bytes g, Bytes p, Bytes body = {1, 2, 3, 4, 5, 6}) { return form("DEEP", {{"DGBL", g}, {"DPEL", p}, {"DBOD", body}}); };
    Bytes shortTvdc = tvdcTable({0, 1});
    shortTvdc.resize(30);
    struct Case {
        const char* name;
        Bytes file;
        uint32_t code;
    } cases[] = {
        {"good", file(dgbl(2, 1, 0), rgb8()), KXERR_NONE},
        {"DLOC after DGBL wins", form("DEEP", {{"DGBL", dgbl(9, 9, 0)}, {"DPEL", rgb8()}, {"DLOC", {0, 1, 0, 2, 0, 0, 0, 0}}, {"DBOD", px}}), KXERR_NONE},
        {"only DLOC", form("DEEP", {{"DPEL", rgb8()}, {"DLOC", {0, 2, 0, 1, 0, 0, 0, 0}}, {"DBOD", px}}), KXERR_NONE},
        {"three 16-bit elements", file(dgbl(1, 1, 0), dpel({{1, 16}, {2, 16}, {3, 16}})), KXERR_NONE},
        {"16-bit colour, 8-bit alpha", file(dgbl(1, 1, 0), dpel({{1, 16}, {2, 16}, {3, 16}, {4, 8}}), Bytes(8, 1)), KXERR_FILEREQUIREMENTS},
        {"no DGBL or DLOC", form("DEEP", {{"DPEL", rgb8()}, {"DBOD", px}}), KXERR_FILEREQUIREMENTS},
        {"no DPEL", form("DEEP", {{"DGBL", dgbl(2, 1, 0)}, {"DBOD", px}}), KXERR_FILEREQUIREMENTS},
        {"elements out of order", file(dgbl(2, 1, 0), dpel({{2, 8}, {1, 8}, {3, 8}})), KXERR_FILEREQUIREMENTS},
        {"12-bit element", file(dgbl(2, 1, 0), dpel({{1, 8}, {2, 12}, {3, 8}})), KXERR_FILEREQUIREMENTS},
        {"five elements", file(dgbl(2, 1, 0), dpel({{1, 8}, {2, 8}, {3, 8}, {4, 8}, {5, 8}})), KXERR_FILEREQUIREMENTS},
        {"compression 2", file(dgbl(2, 1, 2), rgb8()), KXERR_FILEREQUIREMENTS},
        {"DGBL short", form("DEEP", {{"DGBL", Bytes(6, 0)}, {"DPEL", rgb8()}, {"DBOD", px}}), KXERR_DECODE},
        {"DLOC short", form("DEEP", {{"DGBL", dgbl(2, 1, 0)}, {"DLOC", Bytes(4, 0)}, {"DPEL", rgb8()}, {"DBOD", px}}), KXERR_DECODE},
        {"TVDC missing", file(dgbl(2, 1, 5), rgb8()), KXERR_DECODE},
        {"TVDC shorter than 32 bytes", form("DEEP", {{"DGBL", dgbl(2, 1, 5)}, {"DPEL", rgb8()}, {"TVDC", shortTvdc}, {"DBOD", px}}), KXERR_DECODE},
        {"TVDC with 4-bit alpha", form("DEEP", {{"DGBL", dgbl(2, 1, 5)}, {"DPEL", rgba8(4)}, {"TVDC", tvdcTable({0, 1})}, {"DBOD", px}}), KXERR_DECODE},
        {"no DBOD", form("DEEP", {{"DGBL", dgbl(2, 1, 0)}, {"DPEL", rgb8()}}), KXERR_NOVIEWABLEDATA},
        {"no FORM", [&] { Bytes f = file(dgbl(2, 1, 0), rgb8()); f[2] = 'O'; return f; }(), KXERR_IFFPARSE},
        {"uncompressed body short", file(dgbl(3, 1, 0), rgb8()), KXERR_EOF},
        {"RLE body ends early", file(dgbl(2, 1, 1), rgb8(), {0xC3, 1, 2}), KXERR_EOF},
        {"RLE of no-op runs", file(dgbl(2, 2, 1), rgb8(), Bytes(40, 0xC0)), KXERR_EOF},
        {"TVDC body ends early", form("DEEP", {{"DGBL", dgbl(4, 1, 5)}, {"DPEL", rgb8()}, {"TVDC", tvdcTable({0, 1})}, {"DBOD", {0x11, 0x11, 0x11}}}), KXERR_EOF},
        {"DBOD beyond the file", form("DEEP", {{"DGBL", dgbl(2, 1, 0)}, {"DPEL", rgb8()}, {"DBOD", px, 600}}), KXERR_EOF},
        {"huge 48-bit with alpha, tiny body", file(dgbl(65535, 65535, 0), dpel({{1, 16}, {2, 16}, {3, 16}, {4, 16}})), KXERR_NOMEMORY},
    };
    for (const Case& c : cases) {
        BufferPtr b;
        EXPECT_EQ(loadBytes<kxoDEEP>(c.file, "damaged.dep", &b), c.code) << c.name;
        if (c.code == KXERR_NONE && std::string(c.name) == "DLOC after DGBL wins") {
            EXPECT_EQ(b->Width, 1u);
        }
    }
}

TEST(DEEP, FailedSaveLeavesTheOldFile) {
    const std::string path = tempPath("keep.dep");
    KXT_WriteBytes(path, Bytes{'o', 'l', 'd'});
    BufferPtr src = makeChunky(4, 2, 24, 1);
    kxoDEEP w(nullptr);
    w.SetIOMode(KXIO_CLIPBOARD);
    EXPECT_EQ(saveWith(&w, src.get(), path, 0), (uint32_t)KXERR_NOCLIPBOARD);
    EXPECT_EQ(KXT_ReadBytes(path), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(saveDeep(src.get(), path, 2), (uint32_t)KXERR_NOTSUPPORTED);
    EXPECT_EQ(KXT_ReadBytes(path), (Bytes{'o', 'l', 'd'}));
}

TEST(DEEP, ChunkWalkLog) {
    const Bytes f = form("DEEP", {{"DGBL", dgbl(1, 1, 1)}, {"DPEL", rgba8(4)}, {"DBOD", {1, 2, 3, 0xA0}}});
    const std::string path = tempPath("log.dep");
    KXT_WriteBytes(path, f);
    CaptureLog log;
    kxoDEEP r(nullptr);
    r.SetLog(&log);
    r.SetReadName(path.c_str());
    ASSERT_EQ(r.Load(), KXERR_NONE);
    const std::string t = "5 deep            : ";
    const std::vector<std::string> want = {t + "DGBL found.\n",      t + "DPEL found.\n",         t + "1 -- 4 -- 1 2 3 4 : 8 8 8 4\n",
                                           t + "Decompressing with Alpha...\n", t + "Decompressing RLE...\n", t + "Decompressing 24 bit...\n",
                                           t + "Done.\n",            t + "Reordering...\n",      t + "Done.\n"};
    EXPECT_EQ(log.lines, want);
}

TEST(DEEP, RecognitionAndRobustness) {
    kxoDEEP r(nullptr);
    for (uint32_t depth : {24u, 48u}) {
        BufferPtr src = makeChunky(7, 5, depth, 3);
        addAlpha8(src.get(), 4);
        KXOSpecialInfo info = {};
        char copy[] = "(c) nobody";
        info.Copy = copy;
        const std::string path = tempPath("robust_src.dep");
        kxoDEEP w(nullptr);
        ASSERT_EQ(saveWith(&w, src.get(), path, 0, &info), KXERR_NONE);
        FILE* fp = fopen(path.c_str(), "rb");
        EXPECT_EQ(r.CheckFile(fp, "x", KXIO_FILE), 1u);
        EXPECT_EQ(ftell(fp), 0);
        fclose(fp);
        robustnessRun(KXT_ReadBytes(path), "robust.dep", "kxoDEEP");
    }
    Bytes rle;
    for (int i = 0; i < 12; ++i) {
        rle.push_back(uint8_t(0xC0 + i * 5));
        rle.push_back(uint8_t(i * 20));
        rle.push_back(uint8_t(i * 9));
    }
    robustnessRun(form("DEEP", {{"DGBL", dgbl(5, 4, 1)}, {"DPEL", rgba8()}, {"DBOD", rle}}), "robust_rle.dep", "kxoDEEP");
    Bytes tvdc(60);
    for (size_t i = 0; i < tvdc.size(); ++i) tvdc[i] = uint8_t(i * 37);
    robustnessRun(form("DEEP", {{"DGBL", dgbl(5, 4, 5)}, {"DPEL", rgb8()}, {"TVDC", tvdcTable({0, 1, 2, 3, -1, -2, -3, 8})}, {"DBOD", tvdc}}), "robust_tvdc.dep", "kxoDEEP");
}
