// The chunk layer: ByteRun1, the scanner's bounds, and the shared
// metadata chunks read through a module.
#include "formats/iff/iff.h"
#include "formats/iff/kxoILBM.h"
#include "formats/iff/kxoRGFX.h"
#include "iff_test_util.h"

using namespace ifftest;

TEST(ByteRun1, PacksTheDocumentedRecords) {
    struct Case {
        std::vector<uint8_t> in, out;
    } cases[] = {
        {{7, 7}, {0xFF, 7}},
        {{1, 1, 1, 2}, {0xFE, 1, 0x00, 2}},
        {{1, 2, 3}, {2, 1, 2, 3}},
        {{5}, {0, 5}},
        {std::vector<uint8_t>(130, 9), {0x81, 9, 0xFF, 9}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> out(byteRun1Bound(c.in.size()));
        out.resize(byteRun1PackRow(c.in.data(), uint32_t(c.in.size()), out.data()));
        EXPECT_EQ(out, c.out);
    }
}

TEST(ByteRun1, RandomRowsRoundTripWithinTheBound) {
    std::mt19937 rng(1);
    for (int t = 0; t < 500; ++t) {
        uint32_t n = 1 + rng() % 600;
        std::vector<uint8_t> row(n);
        for (auto& v : row) v = uint8_t(rng() % (t % 3 == 0 ? 2 : 256));
        std::vector<uint8_t> packed(byteRun1Bound(n));
        uint32_t size = byteRun1PackRow(row.data(), n, packed.data());
        ASSERT_LE(size, byteRun1Bound(n));
        std::vector<uint8_t> back(n);
        const uint8_t* s = packed.data();
        ASSERT_TRUE(byteRun1UnpackRow(&s, packed.data() + size, back.data(), n));
        EXPECT_EQ(s, packed.data() + size);
        EXPECT_EQ(back, row);
    }
}

TEST(ByteRun1, DecoderStopsAtTheEndOfItsData) {
    std::vector<uint8_t> noops(64, 0x80), out(100, 0xEE);
    const uint8_t* s = noops.data();
    EXPECT_FALSE(byteRun1UnpackRow(&s, noops.data() + noops.size(), out.data(), 100));
    EXPECT_EQ(s, noops.data() + noops.size());
    std::vector<uint8_t> cut = {10, 1, 2};  // a literal of 11 with 2 bytes left
    s = cut.data();
    EXPECT_FALSE(byteRun1UnpackRow(&s, cut.data() + 3, out.data(), 100));
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 2);
    std::vector<uint8_t> longRun = {0x81, 4};  // 128 copies into a row of 5
    s = longRun.data();
    EXPECT_TRUE(byteRun1UnpackRow(&s, longRun.data() + 2, out.data(), 5));
}

namespace {
std::vector<uint8_t> chunk(const char* id, const std::vector<uint8_t>& data, uint32_t sizeField = 0xFFFFFFFF) {
    uint32_t size = sizeField == 0xFFFFFFFF ? uint32_t(data.size()) : sizeField;
    std::vector<uint8_t> c(id, id + 4);
    for (int i = 0; i < 4; ++i) c.push_back(uint8_t(size >> (24 - 8 * i)));
    c.insert(c.end(), data.begin(), data.end());
    if (data.size() & 1) c.push_back(0);
    return c;
}

std::vector<uint8_t> text(const char* s, bool nul) {
    std::vector<uint8_t> v(s, s + strlen(s));
    if (nul) v.push_back(0);
    return v;
}

// A minimal RGFX around the given chunks (header, colours and body of a 1x1 8-bit image).
std::vector<uint8_t> rgfxWith(const std::vector<std::vector<uint8_t>>& extra) {
    std::vector<uint8_t> rghd(52, 0);
    rghd[11] = 1;
    rghd[15] = 1;
    rghd[27] = 8;
    rghd[31] = 8;
    rghd[35] = 1;
    rghd[51] = 1;
    std::vector<uint8_t> f = {'F', 'O', 'R', 'M', 0, 0, 0, 0, 'R', 'G', 'F', 'X'};
    auto add = [&](const std::vector<uint8_t>& c) { f.insert(f.end(), c.begin(), c.end()); };
    add(chunk("RGHD", rghd));
    add(chunk("RCOL", std::vector<uint8_t>(776, 0)));
    for (const auto& c : extra) add(c);
    add(chunk("RBOD", {3}));
    return f;
}
}  // namespace

TEST(IffMeta, ReaderRules) {
    std::vector<uint8_t> iptcRaw = {0x1C, 2, 5, 0, 1, 'x'};
    std::vector<uint8_t> f = rgfxWith({
        chunk("ANNO", text("first", true)),
        chunk("ANNO", text("second", false)),  // later wins; no NUL: whole chunk
        chunk("NAME", text("ab\0cd", true)),
        chunk("ICCP", {1, 2, 3}),              // no ICCN before: default name
        chunk("IPTC", iptcRaw),                // gets the 26-byte header
        chunk("EXIF", {1, 2, 3, 4}, 400),      // larger than the file: dropped
    });
    std::string path = tempPath("meta_rules.rgx");
    KXT_WriteBytes(path, f);
    kxoRGFX r(nullptr);
    r.SetLoadMeta(1);
    r.SetReadName(path.c_str());
    // The oversized EXIF swallows the body, so the load ends without one.
    EXPECT_EQ(r.Load(), KXERR_NOVIEWABLEDATA);
    KXOSpecialInfo* info = r.GetSpecialInfo();
    EXPECT_STREQ(info->Anno, "second");
    EXPECT_STREQ(info->Name, "ab");
    EXPECT_STREQ(info->IccName, "IFF ICC Profile");
    EXPECT_EQ(info->IccSize, 3u);
    EXPECT_EQ(info->Exif, nullptr);
    ASSERT_EQ(info->IptcSize, 26u + iptcRaw.size());
    EXPECT_EQ(0, memcmp(info->Iptc, "Photoshop 3.0\0008BIM\004\004\0\0\0\0\0\006", 26));
    EXPECT_EQ(0, memcmp(info->Iptc + 26, iptcRaw.data(), iptcRaw.size()));
}

TEST(IffMeta, IccnKeepsItsNameAndGetsAnEnd) {
    struct Case {
        std::vector<std::vector<uint8_t>> chunks;
        const char* name;
    } cases[] = {
        {{chunk("ICCN", text("Monitor", false)), chunk("ICCP", {9})}, "Monitor"},
        // An empty ICCN drops the name before it; the profile then gets the default.
        {{chunk("ICCN", text("Monitor", true)), chunk("ICCN", {}), chunk("ICCP", {9})}, "IFF ICC Profile"},
    };
    for (const Case& c : cases) {
        std::string path = tempPath("iccn.rgx");
        KXT_WriteBytes(path, rgfxWith(c.chunks));
        kxoRGFX r(nullptr);
        r.SetLoadMeta(1);
        r.SetReadName(path.c_str());
        ASSERT_EQ(r.Load(), KXERR_NONE);
        EXPECT_STREQ(r.GetSpecialInfo()->IccName, c.name);
    }
}

TEST(IffMeta, WriterRules) {
    char anno[] = "odd";  // 4 bytes with the NUL
    uint8_t shortIptc[20] = {};
    uint8_t exif[] = {1, 2, 3};
    KXOSpecialInfo info = {};
    info.Version = 0;  // texts only
    info.Anno = anno;
    info.Exif = exif;
    info.ExifSize = 3;
    EXPECT_EQ(iffMetaChunksSize(&info), 12u);
    info.Version = 1;
    info.Iptc = shortIptc;
    info.IptcSize = sizeof(shortIptc);  // shorter than its header: not written
    EXPECT_EQ(iffMetaChunksSize(&info), 12u + 12u);

    BufferPtr src = makeChunky(2, 2, 8, 1);
    std::string path = tempPath("wmeta.rgx");
    kxoRGFX w(nullptr);
    ASSERT_EQ(saveWith(&w, src.get(), path, 0, &info), KXERR_NONE);
    std::vector<uint8_t> f = KXT_ReadBytes(path);
    EXPECT_EQ(std::search(f.begin(), f.end(), std::begin("IPTC"), std::end("IPTC") - 1), f.end());
    auto e = std::search(f.begin(), f.end(), std::begin("EXIF"), std::end("EXIF") - 1);
    ASSERT_NE(e, f.end());
    EXPECT_EQ(e[7], 3);
    EXPECT_EQ(e[11], 0);  // pad byte after odd data
}

TEST(IffChunks, ScannerSkipsOddChunksAndNestedForms) {
    std::vector<uint8_t> f = {'F', 'O', 'R', 'M', 0, 0, 0, 4, 'T', 'E', 'S', 'T'};
    auto add = [&](const std::vector<uint8_t>& c) { f.insert(f.end(), c.begin(), c.end()); };
    add(chunk("ODD1", {1, 2, 3}));
    add(chunk("NONE", {}));  // an empty chunk is stepped over like any other
    add(chunk("FORM", text("ILBMBODY", false)));
    add(chunk("WANT", {7}));
    std::string path = tempPath("scan.iff");
    KXT_WriteBytes(path, f);
    FILE* fp = fopen(path.c_str(), "rb");
    IffHandle* h = iffAlloc();
    h->Stream = fp;
    iffInitAsFile(h);
    ASSERT_EQ(iffOpen(h, IFFF_READ), 0);
    iffSetStopChunks(h, "TESTWANTILBMBODY", 2);
    IffChunk* c = iffParse(h);
    ASSERT_NE(c, nullptr);  // found although the FORM size says 4
    EXPECT_TRUE(iffIdIs(c->Id, "WANT"));
    uint8_t v = 0;
    EXPECT_EQ(iffReadChunkBytes(h, &v, 1), 1);
    EXPECT_EQ(v, 7);
    EXPECT_EQ(iffParse(h), nullptr);
    iffClose(h);
    iffFree(h);
    fclose(fp);
}

TEST(IffChunks, OversizedCmapCopies256Entries) {
    // An ILBM with a CMAP of 300 entries.
    BufferPtr src = toPlanes(makeChunky(8, 1, 8, 1).get());
    std::string path = tempPath("bigcmap.lbm");
    kxoILBM w(nullptr);
    ASSERT_EQ(saveWith(&w, src.get(), path, 0), KXERR_NONE);
    std::vector<uint8_t> f = KXT_ReadBytes(path);
    auto at = std::search(f.begin(), f.end(), std::begin("CMAP"), std::end("CMAP") - 1) - f.begin();
    std::vector<uint8_t> map(900);
    for (size_t i = 0; i < map.size(); ++i) map[i] = uint8_t(i * 7);
    std::vector<uint8_t> g(f.begin(), f.begin() + at);
    auto c = chunk("CMAP", map);
    g.insert(g.end(), c.begin(), c.end());
    g.insert(g.end(), f.begin() + at + 8 + 768, f.end());
    KXT_WriteBytes(path, g);
    BufferPtr b;
    ASSERT_EQ(loadFile<kxoILBM>(path, &b), KXERR_NONE);
    EXPECT_EQ(0, memcmp(b->Palette, map.data(), 768));
}
