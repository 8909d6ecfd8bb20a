// PBM (FORM "PBM "): round trips over depths, widths and both packings,
// the written layout, netpbm's ilbmtoppm reading our files, the default
// palette, packed rows cut at their end, damaged files and robustness.
#include "formats/iff/kxoPBM.h"
#include "iff_bytes.h"
#include "iff_test_util.h"

using namespace ifftest;
using namespace iffbytes;

namespace {

uint32_t savePbm(KX_GfxBuffer* b, const std::string& path, uint32_t sub) {
    kxoPBM w(nullptr);
    return saveWith(&w, b, path, sub);
}

// Chunky pixels and the first 2^depth palette entries must come back.
void expectSamePixels(const KX_GfxBuffer* src, const KX_GfxBuffer* back, const std::string& what) {
    SCOPED_TRACE(what);
    ASSERT_EQ(back->Type, (uint32_t)ONEPLANE);
    ASSERT_EQ(back->PixelBits, 8u);
    ASSERT_EQ(back->Width, src->Width);
    ASSERT_EQ(back->Height, src->Height);
    EXPECT_EQ(back->ColorDepth, 8u);  // always written with 8 planes
    ASSERT_EQ(back->BufferSize, src->Width * src->Height);
    EXPECT_EQ(0, memcmp(back->Data, src->Data, src->Width * src->Height));
    EXPECT_EQ(0, memcmp(back->Palette, src->Palette, 3u << src->ColorDepth));
    EXPECT_FALSE(KXSUP_GetGfxBufferFlags(back) & KXGFXF_GRAY);
}

}  // namespace

// Every depth, chunky and bit-plane sources, widths 1 to 17 and 23, both packings.
TEST(PBM, RoundTripsOverDepthsAndWidths) {
    std::vector<uint32_t> widths;
    for (uint32_t w = 1; w <= 17; ++w) widths.push_back(w);
    widths.push_back(23);
    for (uint32_t depth = 1; depth <= 8; ++depth) {
        for (uint32_t w : widths) {
            for (uint32_t sub : {0u, 1u}) {
                for (bool planes : {false, true}) {
                    BufferPtr src = makeChunky(w, 3, depth, depth * 100 + w);
                    BufferPtr given = planes ? toPlanes(src.get()) : nullptr;
                    const std::string path = tempPath("rt.pbm");
                    ASSERT_EQ(savePbm(given ? given.get() : src.get(), path, sub), KXERR_NONE);
                    kxoPBM r(nullptr);
                    r.SetReadName(path.c_str());
                    ASSERT_EQ(r.Load(), KXERR_NONE);
                    KX_GfxBuffer* back = nullptr;
                    r.GetGfxBuffer(&back);
                    expectSamePixels(src.get(), back, "depth " + std::to_string(depth) + " w" + std::to_string(w) + (sub ? " packed" : "") + (planes ? " planes" : ""));
                    EXPECT_EQ(r.SubFormatId, sub);
                }
            }
        }
    }
}

TEST(PBM, WrittenLayout) {
    // Odd width: rows of width + 1 bytes in both packings; a 4-bit buffer
    // writes 8 planes and a CMAP of 16 entries.
    for (uint32_t sub : {0u, 1u}) {
        BufferPtr src = makeChunky(5, 3, 4, 7);
        const Bytes f = savedBytes<kxoPBM>(src.get(), "layout.pbm", sub);
        ASSERT_FALSE(f.empty());
        EXPECT_EQ(get32(f, 4), f.size() - 8);
        const size_t bm = findChunk(f, "BMHD");
        ASSERT_EQ(bm, 12u);
        EXPECT_EQ(f[bm + 8 + 8], 8);  // planes
        EXPECT_EQ(f[bm + 8 + 10], sub);  // compression
        const size_t cmap = findChunk(f, "CMAP");
        ASSERT_LT(cmap, f.size());
        EXPECT_EQ(get32(f, cmap + 4), 48u);
        const size_t body = findChunk(f, "BODY");
        ASSERT_LT(body, f.size());
        if (sub == 0) {
            ASSERT_EQ(get32(f, body + 4), 3u * 6);
            for (uint32_t y = 0; y < 3; ++y) {
                EXPECT_EQ(0, memcmp(&f[body + 8 + y * 6], src->Data + y * 5, 5));
                EXPECT_EQ(f[body + 8 + y * 6 + 5], 0);
            }
        } else {
            // Each padded row unpacks to 6 bytes on its own.
            const uint8_t* s = &f[body + 8];
            const uint8_t* end = s + get32(f, body + 4);
            for (uint32_t y = 0; y < 3; ++y) {
                uint8_t row[6];
                ASSERT_TRUE(byteRun1UnpackRow(&s, end, row, 6));
                EXPECT_EQ(0, memcmp(row, src->Data + y * 5, 5));
            }
            EXPECT_EQ(s, end);
        }
    }
}

// Our PBM files through netpbm's ilbmtoppm. Even widths only: ilbmtoppm
// reads PBM rows without the pad byte that odd rows carry.
TEST(PBM, NetpbmReadsWhatWeWrite) {
    if (!KXT_HaveTool("ilbmtoppm")) GTEST_SKIP() << "netpbm (ilbmtoppm) not installed";
    for (uint32_t depth : {1u, 4u, 8u}) {
        for (uint32_t sub : {0u, 1u}) {
            BufferPtr src = makeChunky(22, 5, depth, depth + sub);
            const std::string path = tempPath("ours.pbm"), ppm = tempPath("ours.ppm");
            ASSERT_EQ(savePbm(src.get(), path, sub), KXERR_NONE);
            ASSERT_TRUE(run("ilbmtoppm " + path + " > " + ppm)) << depth;
            Netpbm p;
            ASSERT_TRUE(readNetpbm(ppm, &p));
            ASSERT_EQ(p.w, 22u);
            ASSERT_EQ(p.h, 5u);
            ASSERT_EQ(p.raster.size(), 22u * 5 * 3);
            for (uint32_t i = 0; i < 22 * 5; ++i)
                for (uint32_t c = 0; c < 3; ++c) ASSERT_EQ(p.raster[3 * i + c], src->Palette[3 * src->Data[i] + c]) << "pixel " << i;
        }
    }
}

TEST(PBM, DefaultPaletteIsGrey) {
    struct Case {
        uint32_t planes;
        uint32_t entry;
        uint8_t value;
    } cases[] = {{1, 0, 0}, {1, 1, 255}, {4, 1, 16}, {4, 14, 224}, {4, 15, 255}, {8, 200, 200}, {8, 255, 255}};
    for (const Case& c : cases) {
        const Bytes f = form("PBM ", {{"BMHD", bmhd(2, 1, c.planes)}, {"BODY", {0, 1}}});
        BufferPtr b;
        ASSERT_EQ(loadBytes<kxoPBM>(f, "nocmap.pbm", &b), KXERR_NONE);
        EXPECT_EQ(b->Palette[3 * c.entry], c.value) << c.planes << " planes, entry " << c.entry;
        EXPECT_EQ(b->Palette[3 * c.entry + 2], c.value);
        EXPECT_TRUE(KXSUP_GetGfxBufferFlags(b.get()) & KXGFXF_GRAY);  // whatever the depth
        EXPECT_EQ(b->ViewMode, 0x21000u);
    }
}

TEST(PBM, PackedRowsAreCutAtTheirEnd) {
    // Width 3 (padded 4): a run of 6 bytes 7 fills row 0 only; row 1 is a
    // literal 1 2 3 and its pad.
    const Bytes f = form("PBM ", {{"BMHD", bmhd(3, 2, 8, 0, 1)}, {"BODY", {0xFB, 7, 3, 1, 2, 3, 0}}});
    BufferPtr b;
    ASSERT_EQ(loadBytes<kxoPBM>(f, "cut.pbm", &b), KXERR_NONE);
    EXPECT_EQ(Bytes(b->Data, b->Data + 6), (Bytes{7, 7, 7, 1, 2, 3}));

    // A HAM mode from CAMG is kept, with the PAL monitor bits.
    const Bytes ham = form("PBM ", {{"BMHD", bmhd(1, 1, 6)}, {"CAMG", {0, 0, 8, 0}}, {"BODY", {1, 0}}});
    ASSERT_EQ(loadBytes<kxoPBM>(ham, "ham.pbm", &b), KXERR_NONE);
    EXPECT_EQ(b->ViewMode, 0x21800u);
    EXPECT_TRUE(IsHamBuffer(b.get()));
}

// Bodies larger than the reader's block: rows cut by a block end, and a
// packed row longer than a block (no-op bytes in front of it).
TEST(PBM, LargeBodiesReadInBlocks) {
    for (uint32_t sub : {0u, 1u}) {
        BufferPtr src = makeChunky(2001, 300, 8, 17 + sub);
        const std::string path = tempPath("large.pbm");
        ASSERT_EQ(savePbm(src.get(), path, sub), KXERR_NONE);
        BufferPtr back;
        ASSERT_EQ(loadFile<kxoPBM>(path, &back), KXERR_NONE);
        expectSamePixels(src.get(), back.get(), sub ? "packed" : "stored");
    }
    Bytes body(300000, 0x80);
    body.insert(body.end(), {0xFD, 7, 0x01, 1, 2});  // row 0: four 7s; row 1: 1 2 (padded to 2, width 2)
    body.insert(body.end(), {0xFF, 9});
    const Bytes f = form("PBM ", {{"BMHD", bmhd(2, 3, 8, 0, 1)}, {"BODY", body}});
    BufferPtr b;
    ASSERT_EQ(loadBytes<kxoPBM>(f, "noops.pbm", &b), KXERR_NONE);
    EXPECT_EQ(Bytes(b->Data, b->Data + 6), (Bytes{7, 7, 1, 2, 9, 9}));
}

TEST(PBM, SaveRefusals) {
    // True colour gives 21 (a palette is needed), other depths above 8 give 16.
    BufferPtr deep = makeChunky(4, 2, 24, 1), deep48 = makeChunky(4, 2, 48, 1), odd = makeChunky(4, 2, 8, 1);
    EXPECT_EQ(savePbm(deep.get(), tempPath("deep.pbm"), 0), (uint32_t)KXERR_NO24BIT);
    EXPECT_EQ(savePbm(deep48.get(), tempPath("deep.pbm"), 0), (uint32_t)KXERR_NO24BIT);
    odd->ColorDepth = 12;
    EXPECT_EQ(savePbm(odd.get(), tempPath("deep.pbm"), 0), (uint32_t)KXERR_NOTSUPPORTED);
    kxoPBM w(nullptr);
    EXPECT_EQ(w.Save(), (uint32_t)KXERR_NOTSUPPORTED);
    BufferPtr pal = makeChunky(4, 2, 4, 1);
    EXPECT_EQ(savePbm(pal.get(), "/nonexistent-dir/x.pbm", 0), (uint32_t)KXERR_NODESTFILE);
    w.SetIOMode(KXIO_CLIPBOARD);
    w.SetGfxBuffer(pal.get());
    EXPECT_EQ(w.Save(), (uint32_t)KXERR_NOCLIPBOARD);
}

TEST(PBM, DamagedFilesFailWithTheirCodes) {
    const Bytes row = {1, 2, 3, 0};
    auto good = [&](Bytes bm, const char* body = "BODY") { return form("PBM ", {{"BMHD", bm}, {body, row}}); };
    struct Case {
        const char* name;
        Bytes file;
        uint32_t code;
    } cases[] = {
        {"good", good(bmhd(3, 1, 8)), KXERR_NONE},
        {"no FORM", [&] { Bytes f = good(bmhd(3, 1, 8)); f[0] = 'X'; return f; }(), KXERR_IFFPARSE},
        {"compression 2", good(bmhd(3, 1, 8, 0, 2)), KXERR_FILEREQUIREMENTS},
        {"9 planes", good(bmhd(3, 1, 9)), KXERR_FILEREQUIREMENTS},
        {"no BMHD", form("PBM ", {{"BODY", row}}), KXERR_FILEREQUIREMENTS},
        {"BMHD longer than 20", [&] { Bytes bm = bmhd(3, 1, 8); bm.push_back(0); bm.push_back(0); return good(bm); }(), KXERR_DECODE},
        {"no BODY", good(bmhd(3, 1, 8), "BODX"), KXERR_NOVIEWABLEDATA},
        {"BODY beyond the file", form("PBM ", {{"BMHD", bmhd(3, 1, 8)}, {"BODY", row, 400}}), KXERR_EOF},
        {"stored rows short", good(bmhd(3, 2, 8)), KXERR_EOF},
        {"packed rows short", good(bmhd(3, 2, 8, 0, 1)), KXERR_EOF},
        {"no-op bytes only", form("PBM ", {{"BMHD", bmhd(3, 2, 8, 0, 1)}, {"BODY", Bytes(64, 0x80)}}), KXERR_EOF},
        {"huge picture, tiny body", good(bmhd(65535, 65535, 8)), KXERR_NOMEMORY},
    };
    for (const Case& c : cases) {
        BufferPtr b;
        EXPECT_EQ(loadBytes<kxoPBM>(c.file, "damaged.pbm", &b), c.code) << c.name;
    }
}

TEST(PBM, RecognitionAndRobustness) {
    BufferPtr src = makeChunky(13, 6, 5, 3);
    kxoPBM r(nullptr);
    for (uint32_t sub : {0u, 1u}) {
        KXOSpecialInfo info = {};
        char anno[] = "a note";
        info.Anno = anno;
        const std::string path = tempPath("robust_src.pbm");
        kxoPBM w(nullptr);
        ASSERT_EQ(saveWith(&w, src.get(), path, sub, &info), KXERR_NONE);
        FILE* fp = fopen(path.c_str(), "rb");
        EXPECT_EQ(r.CheckFile(fp, "x", KXIO_FILE), 1u);
        EXPECT_EQ(ftell(fp), 0);
        EXPECT_EQ(r.CheckFile(fp, "x", KXIO_CLIPBOARD), 0u);
        fclose(fp);
        robustnessRun(KXT_ReadBytes(path), "robust.pbm", "kxoPBM");
    }
    const Bytes ilbm = form("ILBM", {{"BMHD", bmhd(1, 1, 1)}, {"BODY", {0, 0}}});
    KXT_WriteBytes(tempPath("other.pbm"), ilbm);
    FILE* fp = fopen(tempPath("other.pbm").c_str(), "rb");
    EXPECT_EQ(r.CheckFile(fp, "x", KXIO_FILE), 0u);
    fclose(fp);
}
