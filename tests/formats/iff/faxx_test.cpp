// FAXX: pages that netpbm's pbmtog3 codes (MSB first, EOL first) inside
// our IFF wrapper decoded against g3topbm, hand-made bit streams for the
// decoder's edge cases, page sizes, damaged files, the chunk-walk log and
// robustness.
#include <random>

#include "formats/iff/kxoFAXX.h"
#include "iff_bytes.h"
#include "iff_test_util.h"

using namespace ifftest;
using namespace iffbytes;

namespace {

Bytes fxhd(uint32_t w, uint32_t h, uint32_t resolution = 385, uint32_t compression = 0) {
    Bytes b;
    put16(b, w);
    put16(b, h);
    put16(b, 0);
    put16(b, resolution);
    b.push_back(uint8_t(compression));
    b.resize(20, 0);
    return b;
}

Bytes faxFile(const Bytes& header, const Bytes& page) { return form("FAXX", {{"FXHD", header}, {"PAGE", page}}); }

// T.4 codes written out as bit strings, most significant bit first.
struct Bits {
    Bytes bytes;
    uint32_t n = 0;
    Bits& operator<<(const char* code) {
        for (const char* c = code; *c; ++c) {
            if (*c == ' ') continue;
            if (n % 8 == 0) bytes.push_back(0);
            if (*c == '1') bytes.back() |= uint8_t(0x80 >> (n % 8));
            ++n;
        }
        return *this;
    }
};
const char* const kEol = "000000000001";
const char* const kWhite1728 = "010011011";  // make-up
const char* const kWhite0 = "00110101";
const char* const kBlack0 = "0000110111";
const char* const kBlack1728 = "0000001100101";  // make-up
const char* const kWhite4 = "1011";
const char* const kBlack2 = "11";
const char* const kWhite1664 = "011000";  // make-up
const char* const kWhite58 = "01011011";
const char* const kExtended1792 = "00000001000";

bool bitAt(const KX_GfxBuffer* b, uint32_t x, uint32_t y) { return (b->Data[(size_t)y * b->BytesPerLine + x / 8] >> (7 - x % 8)) & 1; }

// Netpbm's P4 file: rows padded to whole bytes, 1 black, as our planes.
Bytes pbmFile(uint32_t w, uint32_t h, const Bytes& raster) {
    std::string head = "P4\n" + std::to_string(w) + " " + std::to_string(h) + "\n";
    Bytes f(head.begin(), head.end());
    f.insert(f.end(), raster.begin(), raster.end());
    return f;
}

}  // namespace

// pbmtog3's page inside our wrapper, against g3topbm reading the same page.
TEST(FAXX, DecodesWhatPbmtog3Writes) {
    if (!KXT_HaveTool("pbmtog3") || !KXT_HaveTool("g3topbm")) GTEST_SKIP() << "netpbm (pbmtog3, g3topbm) not installed";
    struct Case {
        const char* name;
        uint32_t w, h;
        uint32_t runScale;  // longer runs for larger values
    } cases[] = {{"short runs", 1728, 60, 3}, {"long runs", 1728, 40, 900}, {"over 16 KB of code", 1728, 400, 2}, {"narrow page", 1000, 20, 40}};
    std::mt19937 rng(7);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t rowBytes = (c.w + 7) / 8;
        Bytes raster(rowBytes * c.h, 0);
        for (uint32_t y = 0; y < c.h; ++y) {
            bool black = false;
            for (uint32_t x = 0; x < c.w;) {
                const uint32_t run = 1 + rng() % c.runScale;
                for (uint32_t k = 0; k < run && x < c.w; ++k, ++x)
                    if (black) raster[y * rowBytes + x / 8] |= uint8_t(0x80 >> (x % 8));
                black = !black;
            }
        }
        const std::string pbm = tempPath("page.pbm"), g3 = tempPath("page.g3"), ref = tempPath("ref.pbm");
        KXT_WriteBytes(pbm, pbmFile(c.w, c.h, raster));
        ASSERT_TRUE(run("pbmtog3 " + pbm + " > " + g3));
        ASSERT_TRUE(run("g3topbm " + g3 + " > " + ref));
        Netpbm p;
        ASSERT_TRUE(readNetpbm(ref, &p));
        ASSERT_EQ(p.w, 1728u);  // pbmtog3 codes whole fax lines
        ASSERT_EQ(p.h, c.h);
        const Bytes page = KXT_ReadBytes(g3);
        if (c.h == 400) {
            ASSERT_GT(page.size(), 16384u);
        }
        BufferPtr b;
        ASSERT_EQ(loadBytes<kxoFAXX>(faxFile(fxhd(c.w, c.h), page), "page.faxx", &b), KXERR_NONE);
        const uint32_t width = c.w >= 1728 ? c.w : 640;
        ASSERT_EQ(b->Width, width);
        ASSERT_EQ(b->Height, c.h);
        ASSERT_EQ(b->BytesPerLine, (width + 7) / 8);
        for (uint32_t y = 0; y < c.h; ++y)
            ASSERT_EQ(0, memcmp(b->Data + (size_t)y * b->BytesPerLine, p.raster.data() + (size_t)y * 216, b->BytesPerLine)) << "row " << y;
    }
}

// Hand-made streams: whole-line runs, a bad code, the end of a page.
TEST(FAXX, DecoderEdgeCases) {
    struct Case {
        const char* name;
        std::function<Bits()> page;
        uint32_t height;
        std::vector<int> rows;  // per row: 0 white, 1 black, 2 the short black-pixels row below; -1 any
    } cases[] = {
        {"white make-up 1728 and 0", [] { Bits b; b << kEol << kWhite1728 << kWhite0 << kEol << kWhite1728 << kWhite0 << kEol; return b; }, 2, {0, 0}},
        {"black 1728", [] { Bits b; b << kEol << kWhite0 << kBlack1728 << kBlack0 << kEol << kWhite0 << kBlack1728 << kBlack0 << kEol; return b; }, 2, {1, 1}},
        // A line of 4 white, 2 black and then an extended make-up code ends
        // there; the next line is read after the following EOL.
        {"extended make-up ends the line", [] { Bits b; b << kEol << kWhite4 << kBlack2 << kExtended1792 << "1010" << kEol << kWhite0 << kBlack1728 << kBlack0 << kEol; return b; }, 2, {2, 1}},
        // Six EOLs end the page although more lines were promised.
        {"return to control", [] { Bits b; b << kEol << kWhite0 << kBlack1728 << kBlack0; for (int i = 0; i < 6; ++i) b << kEol; b << kWhite0 << kBlack1728 << kBlack0 << kEol; return b; }, 4, {1, 0, 0, 0}},
        // A run past the line end drops the rest of the line; fill zeros before an EOL are fine.
        {"run past the line end", [] { Bits b; b << kEol << kWhite1664 << kWhite58 << kBlack1728 << kBlack0 << "0000" << kEol << kWhite0 << kBlack1728 << kBlack0 << kEol; return b; }, 3, {0, 1, 0}},
        {"data ends mid-line", [] { Bits b; b << kEol << kWhite4 << kBlack2; return b; }, 2, {2, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BufferPtr b;
        ASSERT_EQ(loadBytes<kxoFAXX>(faxFile(fxhd(1728, c.height), c.page().bytes), "edge.faxx", &b), KXERR_NONE);
        ASSERT_EQ(b->Height, c.height);
        for (uint32_t y = 0; y < c.height; ++y) {
            const int want = c.rows[y];
            if (want == 2) {
                for (uint32_t x = 0; x < 1728; ++x) ASSERT_EQ(bitAt(b.get(), x, y), x == 4 || x == 5) << "row " << y << " x " << x;
                continue;
            }
            for (uint32_t x = 0; x < 1728; ++x) ASSERT_EQ(bitAt(b.get(), x, y), want == 1) << "row " << y << " x " << x;
        }
    }
}

TEST(FAXX, PageSizes) {
    Bits black;
    black << kEol << kWhite0 << kBlack1728 << kBlack0 << kEol;
    struct Case {
        uint32_t w, h, resolution;
        uint32_t width, height;
    } cases[] = {{2048, 3, 385, 2048, 3}, {1000, 3, 385, 640, 3}, {1728, 0xFFFF, 385, 1728, 1160}, {1728, 0xFFFF, 770, 1728, 2320}};
    for (const Case& c : cases) {
        BufferPtr b;
        ASSERT_EQ(loadBytes<kxoFAXX>(faxFile(fxhd(c.w, c.h, c.resolution), black.bytes), "size.faxx", &b), KXERR_NONE);
        EXPECT_EQ(b->Width, c.width);
        EXPECT_EQ(b->Height, c.height);
        EXPECT_EQ(b->Type, (uint32_t)BITPLANE);
        EXPECT_EQ(b->ColorDepth, 1u);
        EXPECT_EQ(b->BufferSize, b->BytesPerLine * c.height);
        EXPECT_TRUE(KXSUP_GetGfxBufferFlags(b.get()) & KXGFXF_GRAY);
        EXPECT_EQ(Bytes(b->Palette, b->Palette + 6), (Bytes{255, 255, 255, 0, 0, 0}));
        // Row 0 black over the fax line, white beyond it.
        for (uint32_t x = 0; x < c.width; ++x) ASSERT_EQ(bitAt(b.get(), x, 0), x < 1728) << x;
        for (uint32_t x = 0; x < c.width; ++x) ASSERT_FALSE(bitAt(b.get(), x, 1));
    }
}

TEST(FAXX, DamagedFilesAndSave) {
    Bits one;
    one << kEol << kWhite0 << kBlack1728 << kBlack0 << kEol;
    const Bytes page = one.bytes;
    Bytes longFxhd = fxhd(1728, 2);
    longFxhd.push_back(0);
    struct Case {
        const char* name;
        Bytes file;
        uint32_t code;
    } cases[] = {
        {"good", faxFile(fxhd(1728, 2), page), KXERR_NONE},
        {"with GPHD", form("FAXX", {{"FXHD", fxhd(1728, 2)}, {"GPHD", Bytes(60, 1)}, {"PAGE", page}}), KXERR_NONE},
        {"PAGE cut by the end of the file", faxFile(fxhd(1728, 2), Bytes(page.begin(), page.begin() + 3)), KXERR_NONE},
        {"no PAGE", form("FAXX", {{"FXHD", fxhd(1728, 2)}}), KXERR_NOVIEWABLEDATA},
        {"FXHD longer than 20", faxFile(longFxhd, page), KXERR_DECODE},
        {"GPHD longer than 60", form("FAXX", {{"FXHD", fxhd(1728, 2)}, {"GPHD", Bytes(61, 1)}, {"PAGE", page}}), KXERR_DECODE},
        {"FXHD cut by the end of the file", form("FAXX", {{"FXHD", Bytes(6, 0), 20}}), KXERR_EOF},
        {"compression 2", faxFile(fxhd(1728, 2, 385, 2), page), KXERR_FILEREQUIREMENTS},
        {"compression 1", faxFile(fxhd(1728, 2, 385, 1), page), KXERR_NONE},
        {"height 0", faxFile(fxhd(1728, 0), page), KXERR_FILEREQUIREMENTS},
        {"no FORM", [&] { Bytes f = faxFile(fxhd(1728, 2), page); f[1] = 'X'; return f; }(), KXERR_IFFPARSE},
    };
    for (const Case& c : cases) {
        BufferPtr b;
        EXPECT_EQ(loadBytes<kxoFAXX>(c.file, "damaged.faxx", &b), c.code) << c.name;
    }
    kxoFAXX w(nullptr);
    BufferPtr pic = makeChunky(4, 4, 1, 1);
    EXPECT_EQ(saveWith(&w, pic.get(), tempPath("no.faxx"), 0), (uint32_t)KXERR_NOTSUPPORTED);
    char ext[16] = {};
    w.GetExtension(ext);
    EXPECT_STREQ(ext, ".ABM");
}

TEST(FAXX, ChunkWalkLog) {
    Bits one;
    one << kEol << kWhite1728 << kWhite0 << kEol;
    const std::string path = tempPath("log.faxx");
    KXT_WriteBytes(path, form("FAXX", {{"FXHD", fxhd(1728, 1)}, {"GPHD", Bytes(60, 0)}, {"PAGE", one.bytes}}));
    CaptureLog log;
    kxoFAXX r(nullptr);
    r.SetLog(&log);
    r.SetReadName(path.c_str());
    ASSERT_EQ(r.Load(), KXERR_NONE);
    const std::string t = "5 faxx            : ";
    const std::vector<std::string> want = {t + "Parsing...\n", t + "FXHD...\n", t + "...OK\n", t + "GPHD...\n", t + "...OK\n", t + "Parsing finished.\n"};
    EXPECT_EQ(log.lines, want);
}

TEST(FAXX, RecognitionAndRobustness) {
    Bits b;
    b << kEol << kWhite4 << kBlack2 << kWhite1664 << kWhite58 << kEol << kWhite0 << kBlack1728 << kBlack0 << kEol << kWhite1728 << kWhite0;
    for (int i = 0; i < 6; ++i) b << kEol;
    const Bytes f = form("FAXX", {{"FXHD", fxhd(1728, 5)}, {"NAME", {'f', 'a', 'x', 0}}, {"PAGE", b.bytes}});
    const std::string path = tempPath("robust_src.faxx");
    KXT_WriteBytes(path, f);
    kxoFAXX r(nullptr);
    FILE* fp = fopen(path.c_str(), "rb");
    EXPECT_EQ(r.CheckFile(fp, "x", KXIO_FILE), 1u);
    EXPECT_EQ(ftell(fp), 0);
    fclose(fp);
    robustnessRun(f, "robust.faxx", "kxoFAXX");
}
