// ACBM (FORM "ACBM"): round trips over plane counts and widths, the ABIT
// layout, the default palette and grey flag, transparent colour and HAM,
// refusals on saving, damaged files and robustness.
#include "formats/iff/kxoACBM.h"
#include "iff_bytes.h"
#include "iff_test_util.h"

using namespace ifftest;
using namespace iffbytes;

namespace {

uint32_t saveAcbm(KX_GfxBuffer* b, const std::string& path) {
    kxoACBM w(nullptr);
    return saveWith(&w, b, path, 0);
}

}  // namespace

// Every plane count, bit-plane and chunky sources, widths 1 to 17 and 23.
TEST(ACBM, RoundTripsOverPlanesAndWidths) {
    std::vector<uint32_t> widths;
    for (uint32_t w = 1; w <= 17; ++w) widths.push_back(w);
    widths.push_back(23);
    for (uint32_t depth = 1; depth <= 8; ++depth) {
        for (uint32_t w : widths) {
            for (bool chunky : {false, true}) {
                BufferPtr src = makeChunky(w, 3, depth, depth * 31 + w);
                BufferPtr planes = toPlanes(src.get());
                const std::string path = tempPath("rt.abm");
                ASSERT_EQ(saveAcbm(chunky ? src.get() : planes.get(), path), KXERR_NONE);
                kxoACBM r(nullptr);
                r.SetReadName(path.c_str());
                ASSERT_EQ(r.Load(), KXERR_NONE);
                KX_GfxBuffer* back = nullptr;
                r.GetGfxBuffer(&back);
                planes->ViewMode = 0x21000;  // the PAL monitor bits come in on reading
                KXSUP_SetGfxBufferModeFlags(planes.get());
                expectSamePicture(planes.get(), back, "depth " + std::to_string(depth) + " w" + std::to_string(w) + (chunky ? " chunky" : ""), 1u << depth);
                EXPECT_EQ(back->BufferSize, back->BytesPerLine * 3 * depth);
                EXPECT_EQ(r.SubFormatId, 3u);
            }
        }
    }
}

TEST(ACBM, WrittenLayout) {
    // 17 pixels: 4 bytes a plane row in ABIT (3 pixel bytes and a pad), 3 in memory.
    BufferPtr planes = toPlanes(makeChunky(17, 2, 3, 5).get());
    ASSERT_EQ(planes->BytesPerLine, 3u);
    const Bytes f = savedBytes<kxoACBM>(planes.get(), "layout.abm", 0);
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(get32(f, 4), f.size() - 8);
    ASSERT_EQ(findChunk(f, "BMHD"), 12u);
    EXPECT_EQ(f[20 + 8], 3);   // planes
    EXPECT_EQ(f[20 + 9], 0);   // masking
    EXPECT_EQ(f[20 + 10], 0);  // compression
    EXPECT_EQ(get32(f, findChunk(f, "CMAP") + 4), 24u);
    const size_t abit = findChunk(f, "ABIT");
    ASSERT_LT(abit, f.size());
    ASSERT_EQ(get32(f, abit + 4), 3u * 2 * 4);
    for (uint32_t r = 0; r < 3 * 2; ++r) {
        EXPECT_EQ(0, memcmp(&f[abit + 8 + r * 4], planes->Data + r * 3, 3)) << "plane row " << r;
        EXPECT_EQ(f[abit + 8 + r * 4 + 3], 0);
    }
}

TEST(ACBM, TransparentColourAndHam) {
    BufferPtr planes = toPlanes(makeChunky(9, 2, 4, 1).get());
    addTransparentIndex(planes.get(), 5);
    Bytes f = savedBytes<kxoACBM>(planes.get(), "mask.abm", 0);
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(f[20 + 9], 2);
    EXPECT_EQ(get16(f, 20 + 12), 5u);
    BufferPtr b;
    ASSERT_EQ(loadBytes<kxoACBM>(f, "mask.abm", &b), KXERR_NONE);
    EXPECT_EQ(b->Version, 3u);
    EXPECT_EQ(b->AlphaType, (uint32_t)KXALPHA_SINGLECOLOR);
    EXPECT_EQ(KXSUP_AlphaIndex(b.get()), 5u);

    // CAMG 0x800 loads as 0x21800 and is written back as 0x21800.
    const Bytes ham = form("ACBM", {{"BMHD", bmhd(16, 1, 6)}, {"CAMG", {0, 0, 8, 0}}, {"ABIT", Bytes(12, 0x5A)}});
    ASSERT_EQ(loadBytes<kxoACBM>(ham, "ham.abm", &b), KXERR_NONE);
    EXPECT_EQ(b->ViewMode, 0x21800u);
    EXPECT_TRUE(IsHamBuffer(b.get()));
    f = savedBytes<kxoACBM>(b.get(), "ham2.abm", 0);
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(get32(f, findChunk(f, "CAMG") + 8), 0x21800u);
}

TEST(ACBM, DefaultPaletteAndGreyFlag) {
    struct Case {
        uint32_t planes;
        bool grey;
    } cases[] = {{1, true}, {4, true}, {7, true}, {8, false}};
    for (const Case& c : cases) {
        const Bytes f = form("ACBM", {{"BMHD", bmhd(8, 1, c.planes)}, {"ABIT", Bytes(2 * c.planes, 0)}});
        BufferPtr b;
        ASSERT_EQ(loadBytes<kxoACBM>(f, "nocmap.abm", &b), KXERR_NONE);
        EXPECT_EQ(bool(KXSUP_GetGfxBufferFlags(b.get()) & KXGFXF_GRAY), c.grey) << c.planes;
        const uint32_t last = (1u << c.planes) - 1;
        EXPECT_EQ(b->Palette[3 * last], 255);
        if (c.planes == 4) {
            EXPECT_EQ(b->Palette[3 * 1], 16);
            EXPECT_EQ(b->Palette[3 * 14 + 1], 224);
        }
    }
    // With a CMAP no grey flag, and more than 256 entries are dropped.
    Bytes cmap(900, 0);
    for (size_t i = 0; i < cmap.size(); ++i) cmap[i] = uint8_t(i);
    const Bytes f = form("ACBM", {{"BMHD", bmhd(8, 1, 2)}, {"CMAP", cmap}, {"ABIT", Bytes(4, 0)}});
    BufferPtr b;
    ASSERT_EQ(loadBytes<kxoACBM>(f, "bigcmap.abm", &b), KXERR_NONE);
    EXPECT_FALSE(KXSUP_GetGfxBufferFlags(b.get()) & KXGFXF_GRAY);
    EXPECT_EQ(b->Palette[767], uint8_t(767));
}

TEST(ACBM, SaveRefusals) {
    BufferPtr deep = makeChunky(4, 2, 24, 1);
    EXPECT_EQ(saveAcbm(deep.get(), tempPath("deep.abm")), (uint32_t)KXERR_FILEREQUIREMENTS);  // the conversion's own code
    BufferPtr deepPlanes = toPlanes(makeChunky(4, 2, 8, 1).get());
    deepPlanes->ColorDepth = 24;
    EXPECT_EQ(saveAcbm(deepPlanes.get(), tempPath("deep.abm")), (uint32_t)KXERR_NO24BIT);
    deepPlanes->ColorDepth = 12;
    EXPECT_EQ(saveAcbm(deepPlanes.get(), tempPath("deep.abm")), (uint32_t)KXERR_NOTSUPPORTED);
    kxoACBM w(nullptr);
    EXPECT_EQ(w.Save(), (uint32_t)KXERR_NOTSUPPORTED);
    BufferPtr pal = makeChunky(4, 2, 4, 1);
    EXPECT_EQ(saveAcbm(pal.get(), "/nonexistent-dir/x.abm"), (uint32_t)KXERR_NODESTFILE);
}

TEST(ACBM, DamagedFilesFailWithTheirCodes) {
    // 16 x 2, 2 planes: 4 plane rows of 2 bytes.
    const Bytes abit(8, 0xA5);
    auto good = [&](Bytes bm, const char* body = "ABIT") { return form("ACBM", {{"BMHD", bm}, {body, abit}}); };
    struct Case {
        const char* name;
        Bytes file;
        uint32_t code;
    } cases[] = {
        {"good", good(bmhd(16, 2, 2)), KXERR_NONE},
        {"last pad missing", form("ACBM", {{"BMHD", bmhd(8, 2, 2)}, {"ABIT", Bytes(7, 1)}}), KXERR_NONE},
        {"no FORM", [&] { Bytes f = good(bmhd(16, 2, 2)); f[3] = 'N'; return f; }(), KXERR_IFFPARSE},
        {"compressed", good(bmhd(16, 2, 2, 0, 1)), KXERR_FILEREQUIREMENTS},
        {"9 planes", good(bmhd(16, 2, 9)), KXERR_FILEREQUIREMENTS},
        {"no BMHD", form("ACBM", {{"ABIT", abit}}), KXERR_FILEREQUIREMENTS},
        {"BMHD longer than 20", [&] { Bytes bm = bmhd(16, 2, 2); bm.push_back(0); return good(bm); }(), KXERR_DECODE},
        {"BMHD cut short", form("ACBM", {{"BMHD", Bytes(10, 0), 20}}), KXERR_EOF},
        {"no ABIT", good(bmhd(16, 2, 2), "BODY"), KXERR_NOVIEWABLEDATA},
        {"ABIT beyond the file", form("ACBM", {{"BMHD", bmhd(16, 2, 2)}, {"ABIT", abit, 100}}), KXERR_EOF},
        {"ABIT short of a plane row", good(bmhd(16, 3, 2)), KXERR_EOF},
        {"huge picture, tiny ABIT", good(bmhd(65535, 65535, 8)), KXERR_NOMEMORY},
    };
    for (const Case& c : cases) {
        BufferPtr b;
        EXPECT_EQ(loadBytes<kxoACBM>(c.file, "damaged.abm", &b), c.code) << c.name;
    }
}

TEST(ACBM, RecognitionAndRobustness) {
    BufferPtr planes = toPlanes(makeChunky(19, 5, 5, 3).get());
    addTransparentIndex(planes.get(), 3);
    KXOSpecialInfo info = {};
    char name[] = "picture";
    info.Name = name;
    const std::string path = tempPath("robust_src.abm");
    kxoACBM w(nullptr);
    ASSERT_EQ(saveWith(&w, planes.get(), path, 0, &info), KXERR_NONE);
    kxoACBM r(nullptr);
    FILE* fp = fopen(path.c_str(), "rb");
    EXPECT_EQ(r.CheckFile(fp, "x", KXIO_FILE), 1u);
    EXPECT_EQ(ftell(fp), 0);
    fclose(fp);
    robustnessRun(KXT_ReadBytes(path), "robust.abm", "kxoACBM");
}
