// kxoPICT: files made by ppmtopict and ImageMagick (indexed PackBitsRect
// and direct pixel maps) load pixel for pixel; recognition; the
// interpreter's header, skipping and error paths; pixel maps and drawing
// opcodes from byte tables checked against hand-computed pixels; a wrapped
// JPEG through the JPEG module; the writer through our reader and
// ImageMagick; safe save and damaged input.
#include <gtest/gtest.h>

#include <array>

#include "formats/raster/kxoPICT.h"
#include "raster_pixels.h"
#include "support/robustness.h"
#include "tiny_load.h"
#include "write_failure.h"

using namespace kxt;

namespace {

// ---- a picture built byte by byte --------------------------------------------------------

struct Pict {
    std::vector<uint8_t> B;
    int Version;
    Pict(int top, int left, int bottom, int right, int version = 2) : B(512, 0), Version(version) {
        w16(0);
        rect(top, left, bottom, right);
        if (version == 2) {
            w16(0x0011);
            w16(0x02FF);
        } else {
            u8(0x11);
            u8(0x01);
        }
    }
    Pict& u8(uint32_t v) {
        B.push_back((uint8_t)v);
        return *this;
    }
    Pict& w16(uint32_t v) { return u8(v >> 8).u8(v); }
    Pict& w32(uint32_t v) { return w16(v >> 16).w16(v); }
    Pict& rect(int t, int l, int b, int r) { return w16(t).w16(l).w16(b).w16(r); }
    Pict& point(int x, int y) { return w16(y).w16(x); }
    Pict& bytes(const std::vector<uint8_t>& v) {
        B.insert(B.end(), v.begin(), v.end());
        return *this;
    }
    Pict& op(uint32_t o) {
        if (Version == 1) return u8(o);
        if (B.size() & 1) B.push_back(0);
        return w16(o);
    }
    std::vector<uint8_t> end() {
        op(0xFF);
        return B;
    }
};

struct Loaded {
    uint32_t Err = 0;
    KX_GfxBuffer* Buffer = nullptr;
    ~Loaded() { KXSUP_FreeGfxBuffer(Buffer); }
    // The picture as one character per pixel: '#' black, '.' white, '?' other.
    std::string Art() const {
        std::string s;
        for (uint32_t y = 0; y < Buffer->Height; ++y) {
            for (uint32_t x = 0; x < Buffer->Width; ++x) {
                const uint8_t* p = Buffer->Data + 3 * ((size_t)y * Buffer->Width + x);
                s += p[0] == 0 && p[1] == 0 && p[2] == 0 ? '#' : p[0] == 255 && p[1] == 255 && p[2] == 255 ? '.' : '?';
            }
            s += '\n';
        }
        return s;
    }
    std::vector<uint8_t> Pixel(uint32_t x, uint32_t y) const {
        const uint8_t* p = Buffer->Data + 3 * ((size_t)y * Buffer->Width + x);
        return {p[0], p[1], p[2]};
    }
};

void loadFile(const std::string& path, Loaded& out, List* settings = nullptr) {
    kxoPICT pict;
    if (settings) pict.SetLocalConfig(settings);
    pict.SetReadName(path.c_str());
    out.Err = pict.Load();
    pict.DetachGfxBuffer(&out.Buffer);
}

void loadBytes(const std::vector<uint8_t>& bytes, Loaded& out) {
    std::string p = TempPath("bytes.pct");
    WriteAll(p, bytes);
    loadFile(p, out);
    unlink(p.c_str());
}

std::string art(std::initializer_list<const char*> rows) {
    std::string s;
    for (const char* r : rows) s += std::string(r) + "\n";
    return s;
}

// A 1-bit bitmap record (BitsRect / PackBitsRect) of plain rows.
Pict bitmap(Pict p, uint32_t op, uint32_t rowBytes, int w, int h, const std::vector<uint8_t>& rows, uint32_t mode = 0) {
    p.op(op).w16(rowBytes).rect(0, 0, h, w).rect(0, 0, h, w).rect(0, 0, h, w).w16(mode);
    p.bytes(rows);
    return p;
}

// ---- files made by ppmtopict and ImageMagick ------------------------------------------------

TEST(Pict, FilesLoadLikeTheirSource) {
    struct {
        const char* File;
        const char* Expected;
    } cases[] = {{"nb_pal.pct", "pal.ppm"}, {"im_pal.pct", "pal.ppm"}, {"im_rgb.pct", "src.ppm"}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.File);
        Loaded l;
        loadFile(Fixture(std::string("pict/") + c.File), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Buffer->PixelBits, 24u);
        Rgb want;
        ASSERT_TRUE(ReadNetpbm(Fixture(std::string("pict/") + c.Expected), want));
        EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "");
    }
}

TEST(Pict, FuzzingFindsEndQuickly) {
    // Slow units and a timeout: frames that wrap or pictures far larger
    // than their file; each must end in a moment.
    const std::string dir = Fixture("pict/crashers");
    for (const char* f : {"timeout-5f0e52eb12717ce7fa3c12268afeab7e1814f7c3.pct", "slow-unit-4ce05a008ea31d14ecc9084b60b1163f947b3440.pct",
                          "slow-unit-56a05181cd8747d725cc198e8910efe210a845bb.pct"}) {
        SCOPED_TRACE(f);
        Loaded l;
        loadFile(dir + "/" + f, l);
        if (l.Buffer) {
            EXPECT_TRUE(KXT_ImageIsValid(l.Buffer));
        }
    }
}

TEST(Pict, ReadersSurviveDamagedFiles) {
    for (const char* f : {"nb_pal.pct", "im_rgb.pct"}) KXT_CheckReaderRobustness("kxoPICT", Fixture(std::string("pict/") + f));
    // The drawing opcodes, damaged the same way.
    Pict p(0, 0, 12, 16);
    p.op(0x07).w16(2).w16(2).op(0x20).point(0, 0).point(15, 11).op(0x31).rect(2, 2, 6, 9).op(0x38);
    p.op(0x71).w16(10 + 4 * 3).rect(0, 0, 10, 10).point(1, 1).point(9, 2).point(4, 9);
    p.op(0x28).point(2, 10).u8(3).u8('A').u8('g').u8(0xFF);
    p.op(0xA1).w16(150).w16(6).u8(0).u8(0).w16(90).u8(0).u8(0).op(0x29).u8(3).u8(2).u8('a').u8('b');
    std::string path = TempPath("drawing.pct");
    WriteAll(path, p.end());
    KXT_CheckReaderRobustness("kxoPICT", path);
    unlink(path.c_str());
}

// ---- recognition ------------------------------------------------------------------------------

TEST(Pict, RecognitionByNameAndContent) {
    const std::vector<uint8_t> v2 = Pict(0, 0, 2, 2).end(), v1 = Pict(0, 0, 2, 2, 1).end();
    std::vector<uint8_t> emptyFrame = Pict(0, 0, 0, 2).end(), bigSize = v2, jpeg(900, 0);
    bigSize[512] = 0xFF;  // picture size beyond the file
    jpeg[859] = 0xFF, jpeg[860] = 0xD8, jpeg[861] = 0xFF, jpeg[862] = 0xE0;
    memcpy(&jpeg[865], "JFIF", 4);
    std::vector<uint8_t> bigSizeJpeg = jpeg;
    bigSizeJpeg[512] = 0xFF;
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        const char* FileName;
        uint32_t Want;
    } cases[] = {
        {"version 2", v2, "a.pct", 1},
        {"version 1", v1, "a.PIC", 1},
        {"long extension", v2, "picture.PiCt", 1},
        {"five characters", v2, "x.pct", 1},
        {"only .pict", v2, ".pict", 0},
        {"other extension", v2, "a.png", 0},
        {"empty frame", emptyFrame, "a.pct", 0},
        {"size beyond the file", bigSize, "a.pct", 0},
        {"wrapped JPEG", jpeg, "a.pct", 1},
        {"size beyond the file, wrapped JPEG", bigSizeJpeg, "a.pct", 1},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::string path = TempPath(c.FileName);
        WriteAll(path, c.File);
        FILE* f = fopen(path.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        kxoPICT pict;
        EXPECT_EQ(pict.CheckFile(f, c.FileName, KXIO_FILE), c.Want);
        EXPECT_EQ(ftell(f), 0L);
        fclose(f);
        unlink(path.c_str());
    }
}

// ---- the interpreter ----------------------------------------------------------------------

TEST(Pict, HeadersSkippingAndErrors) {
    auto only = [](Pict p) { return p.end(); };
    std::vector<uint8_t> zeros = Pict(0, 0, 2, 3, 1).end();
    zeros.insert(zeros.begin() + 522, 3, 0);  // zero bytes before the version opcode
    std::vector<uint8_t> notVersion = zeros, version3 = zeros, cut = Pict(0, 0, 2, 3).op(0x1A).w16(0).end();
    notVersion[525] = 0x12;
    version3[526] = 0x03;
    cut.resize(cut.size() - 5);
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        uint32_t Err;
    } cases[] = {
        {"frame only", Pict(0, 0, 2, 3).end(), KXERR_NONE},
        {"version 1", Pict(0, 0, 2, 3, 1).op(0x1E).end(), KXERR_NONE},
        {"header opcode", only(Pict(0, 0, 2, 3).op(0x0C00).bytes(std::vector<uint8_t>(24, 0x77))), KXERR_NONE},
        {"odd datum then pad", only(Pict(0, 0, 2, 3).op(0x11).u8(2).op(0x1E)), KXERR_NONE},
        {"zeros before 0x11", zeros, KXERR_NONE},
        {"reserved groups", only(Pict(0, 0, 2, 3).op(0xB5).op(0x0200).w32(0x77777777).op(0x0280).bytes({1, 2, 3, 4, 5})
                                     .op(0x8005).op(0xA3).w16(3).bytes({1, 2, 3}).op(0xD0).w32(2).w16(0).op(0x8100).w32(4).w32(0)),
         KXERR_NONE},
        {"shapes passed over", only(Pict(0, 0, 2, 3).op(0x50).rect(0, 0, 2, 3).op(0x58).op(0x60).rect(0, 0, 2, 3).w32(0).op(0x80)
                                        .w16(12).bytes(std::vector<uint8_t>(10, 0)).op(0x70).w16(1).u8(0)),
         KXERR_NONE},
        {"not a version opcode", notVersion, KXERR_DECODE},
        {"version 3", version3, KXERR_FILEREQUIREMENTS},
        {"zero-wide frame", Pict(0, 0, 2, 0).end(), KXERR_DECODE},
        {"zero-high frame", Pict(0, 0, 0, 2).end(), KXERR_DECODE},
        {"cut inside an opcode", cut, KXERR_DECODE},
        {"no end opcode", Pict(0, 0, 2, 3).B, KXERR_DECODE},
        {"huge frame", Pict(-32768, -32768, 32767, 32767).end(), KXERR_NOMEMORY},
        // Right left of left would wrap to a canvas 64778 wide (a fuzzing find).
        {"frame turned inside out", Pict(8192, 798, 16396, 40).end(), KXERR_NOMEMORY},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        loadBytes(c.File, l);
        EXPECT_EQ(l.Err, c.Err);
        EXPECT_EQ(l.Buffer != nullptr, c.Err == KXERR_NONE);
    }
    Loaded white;
    loadBytes(Pict(0, 0, 2, 3).end(), white);
    ASSERT_EQ(white.Err, KXERR_NONE);
    EXPECT_EQ(white.Art(), art({"...", "..."}));
    EXPECT_EQ(white.Buffer->Version, 1u);
}

TEST(Pict, ClipRegions) {
    // A rectangle region sets the clip; any other region is passed over whole.
    Loaded l;
    loadBytes(Pict(0, 0, 3, 4).op(0x01).w16(10).rect(1, 1, 3, 3).op(0x01).w16(30).bytes(std::vector<uint8_t>(28, 9))
                  .op(0x31).rect(0, 0, 3, 4).end(),
              l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.Art(), art({"....", ".##.", ".##."}));
}

// ---- pixel maps ----------------------------------------------------------------------------

TEST(Pict, BitmapsPlainAndPacked) {
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        std::string Want;
    } cases[] = {
        // Row bytes below 8: the rows as they are.
        {"plain rows", bitmap(Pict(0, 0, 2, 8), 0x90, 1, 8, 2, {0xA5, 0x0F}).end(), art({"#.#..#.#", "....####"})},
        // 8 or more: a count byte and PackBits, for 0x90 as for 0x98.
        {"packed rows, BitsRect", bitmap(Pict(0, 0, 2, 10), 0x90, 8, 10, 2, {2, 0xFF, 0x80, 2, 0x00, 0x40}).end(),
         art({"#.......#.", ".#........"})},
        {"packed rows, PackBitsRect", bitmap(Pict(0, 0, 1, 10), 0x98, 8, 10, 1, {3, 0x01, 0xDB, 0x6D}).end(), art({"##.##.##.#"})},
        // srcOr: only the 1 bits change the canvas, to the foreground colour.
        {"srcOr", bitmap(Pict(0, 0, 1, 8).op(0x31).rect(0, 4, 1, 8), 0x90, 1, 8, 1, {0xCC}, 1).end(), art({"##..####"})},
        {"srcCopy", bitmap(Pict(0, 0, 1, 8).op(0x31).rect(0, 4, 1, 8), 0x90, 1, 8, 1, {0xCC}, 0).end(), art({"##..##.."})},
        // A region record is read and passed over.
        {"region", Pict(0, 0, 1, 8).op(0x91).w16(1).rect(0, 0, 1, 8).rect(0, 0, 1, 8).rect(0, 0, 1, 8).w16(0).w16(10)
                       .rect(0, 0, 1, 8).u8(0x81).end(),
         art({"#......#"})},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        loadBytes(c.File, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Art(), c.Want);
    }
}

// An indexed pixel map: 0x98 with the pixel-map flag, a table of n + 1 entries.
Pict indexedMap(Pict p, uint32_t rowBytes, int w, int h, uint32_t pixelSize, const std::vector<std::array<uint16_t, 4>>& table,
                uint32_t flags, const std::vector<uint8_t>& rows, uint32_t pixelType = 0) {
    p.op(0x98).w16(0x8000 | rowBytes).rect(0, 0, h, w).w16(0).w16(0).w32(0).w32(0x480000).w32(0x480000);
    p.w16(pixelType).w16(pixelSize).w16(1).w16(pixelSize).w32(0).w32(0).w32(0);
    p.w32(0).w16(flags).w16((uint32_t)table.size() - 1);
    for (auto& e : table) p.w16(e[0]).w16(e[1]).w16(e[2]).w16(e[3]);
    p.rect(0, 0, h, w).rect(0, 0, h, w).w16(0);
    p.bytes(rows);
    return p;
}

TEST(Pict, IndexedPixelMaps) {
    const std::vector<std::array<uint16_t, 4>> table = {{0, 0xFFFF, 0xFFFF, 0xFFFF}, {1, 0, 0, 0}, {2, 0xFFFF, 0, 0}, {3, 0, 0xFFFF, 0}};
    {
        // 2-bit pixels, plain rows.
        Loaded l;
        loadBytes(indexedMap(Pict(0, 0, 1, 4), 1, 4, 1, 2, table, 0, {0x1B}).end(), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Pixel(0, 0), (std::vector<uint8_t>{255, 255, 255}));
        EXPECT_EQ(l.Pixel(1, 0), (std::vector<uint8_t>{0, 0, 0}));
        EXPECT_EQ(l.Pixel(2, 0), (std::vector<uint8_t>{255, 0, 0}));
        EXPECT_EQ(l.Pixel(3, 0), (std::vector<uint8_t>{0, 255, 0}));
    }
    {
        // Flag bit 15 numbers the entries in order, whatever their value words say.
        std::vector<std::array<uint16_t, 4>> numbered = table;
        for (auto& e : numbered) e[0] = 77;
        Loaded l;
        loadBytes(indexedMap(Pict(0, 0, 1, 4), 1, 4, 1, 2, numbered, 0x8000, {0x1B}).end(), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Pixel(3, 0), (std::vector<uint8_t>{0, 255, 0}));
    }
    {
        // 8-bit rows of 250 bytes take a count byte, of 251 a count word; the
        // flag byte 0x80 repeats its byte 129 times.
        for (uint32_t w : {250u, 251u}) {
            SCOPED_TRACE(w);
            std::vector<uint8_t> packed = {0x80, 2};
            size_t left = w - 129;
            while (left) {
                size_t n = left < 128 ? left : 128;
                packed.push_back((uint8_t)(257 - n));
                packed.push_back(3);
                left -= n;
            }
            std::vector<uint8_t> rows;
            if (w > 250) rows.push_back(0);
            rows.push_back((uint8_t)packed.size());
            rows.insert(rows.end(), packed.begin(), packed.end());
            Loaded l;
            loadBytes(indexedMap(Pict(0, 0, 1, (int)w), w, (int)w, 1, 8, table, 0, rows).end(), l);
            ASSERT_EQ(l.Err, KXERR_NONE);
            EXPECT_EQ(l.Pixel(128, 0), (std::vector<uint8_t>{255, 0, 0}));
            EXPECT_EQ(l.Pixel(129, 0), (std::vector<uint8_t>{0, 255, 0}));
        }
    }
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        uint32_t Err;
    } refusals[] = {
        {"pixel type not indexed", indexedMap(Pict(0, 0, 1, 4), 1, 4, 1, 2, table, 0, {0x1B}, 16).end(), KXERR_FILEREQUIREMENTS},
        {"entry number beyond the table", indexedMap(Pict(0, 0, 1, 4), 1, 4, 1, 2, {{0, 0, 0, 0}, {5, 0, 0, 0}}, 0, {0x1B}).end(),
         KXERR_DECODE},
        {"bounds wider than the row", indexedMap(Pict(0, 0, 1, 9), 1, 9, 1, 2, table, 0, {0x1B}).end(), KXERR_FILEREQUIREMENTS},
        {"packed row longer than twice its row bytes", indexedMap(Pict(0, 0, 1, 8), 8, 8, 1, 8, table, 0, {17}).end(), KXERR_DECODE},
        {"zero-wide bounds", indexedMap(Pict(0, 0, 1, 8), 8, 0, 1, 8, table, 0, {}).end(), KXERR_NOMEMORY},
    };
    for (auto& c : refusals) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        loadBytes(c.File, l);
        EXPECT_EQ(l.Err, c.Err);
        EXPECT_EQ(l.Buffer, nullptr);
    }
}

// A direct pixel map (0x9A) with rows given as they stand in the file.
Pict directMap(Pict p, int w, int h, uint32_t packType, uint32_t pixelSize, uint32_t cmpCount, const std::vector<uint8_t>& rows,
                uint32_t mode = 0x40) {
    p.op(0x9A).w32(0xFF).w16(0x8000 | 4 * w).rect(0, 0, h, w).w16(0).w16(packType).w32(0).w32(0x480000).w32(0x480000);
    p.w16(16).w16(pixelSize).w16(cmpCount).w16(8).w32(0).w32(0).w32(0).rect(0, 0, h, w).rect(0, 0, h, w).w16(mode);
    p.bytes(rows);
    return p;
}

TEST(Pict, DirectPixelMaps) {
    {
        // 16-bit: 0x7FFF is 0xF800 in each component, 248 once narrowed.
        Loaded l;
        loadBytes(directMap(Pict(0, 0, 1, 4), 4, 1, 0, 16, 3, {6, 0xFE, 0x7F, 0xFF, 0x00, 0x7C, 0x00}).end(), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Pixel(0, 0), (std::vector<uint8_t>{248, 248, 248}));
        EXPECT_EQ(l.Pixel(3, 0), (std::vector<uint8_t>{248, 0, 0}));
    }
    {
        // 32-bit, pack type 0 read like 4: component runs, red, green, blue.
        Loaded l;
        loadBytes(directMap(Pict(0, 0, 1, 3), 3, 1, 0, 32, 3, {10, 8, 1, 2, 3, 4, 5, 6, 7, 8, 9}).end(), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Pixel(0, 0), (std::vector<uint8_t>{1, 4, 7}));
        EXPECT_EQ(l.Pixel(2, 0), (std::vector<uint8_t>{3, 6, 9}));
        EXPECT_EQ(KXSUP_AlphaHolds(l.Buffer), (uint32_t)KXALPHA_NONE);
    }
    {
        // Four components bring an alpha map; pixels the map does not cover stay opaque.
        Loaded l;
        loadBytes(directMap(Pict(0, 0, 2, 3), 2, 1, 4, 32, 4, {9, 7, 10, 20, 1, 2, 3, 4, 5, 6}).end(), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Buffer->Version, 3u);
        ASSERT_EQ(KXSUP_AlphaHolds(l.Buffer), (uint32_t)KXALPHA_CHANNEL8);
        EXPECT_EQ(std::vector<uint8_t>(KXSUP_AlphaBytes(l.Buffer), KXSUP_AlphaBytes(l.Buffer) + 6),
                  (std::vector<uint8_t>{10, 20, 255, 255, 255, 255}));
        EXPECT_EQ(l.Pixel(1, 0), (std::vector<uint8_t>{2, 4, 6}));
    }
    {
        // Drawn while text is turned: read, not drawn.
        Loaded l;
        Pict p(0, 0, 1, 3);
        p.op(0xA1).w16(150).w16(6).u8(0).u8(0).w16(90).u8(0).u8(0);
        Pict q = directMap(p, 3, 1, 4, 32, 3, {10, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        loadBytes(q.op(0x31).rect(0, 0, 1, 1).end(), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Art(), art({"#.."}));
    }
    Loaded bad;
    loadBytes(directMap(Pict(0, 0, 1, 3), 3, 1, 5, 32, 3, {10, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0}).end(), bad);
    EXPECT_EQ(bad.Err, KXERR_FILEREQUIREMENTS);
}

// Rows whose count is a byte where QuickDraw's rule gives a word, and the
// other way round, as ImageMagick writes them: each row is read again with
// the other width when the expected one does not give exactly one row.
TEST(Pict, RowCountsOfEitherWidth) {
    {
        // Direct, 64 wide: row bytes 256 call for words; the counts are bytes.
        std::vector<uint8_t> rows;
        for (int y = 0; y < 2; ++y) rows.insert(rows.end(), {6, 0xC1, (uint8_t)(10 + y), 0xC1, 20, 0xC1, 30});
        Loaded l;
        loadBytes(directMap(Pict(0, 0, 2, 64), 64, 2, 4, 32, 3, rows).end(), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Pixel(0, 0), (std::vector<uint8_t>{10, 20, 30}));
        EXPECT_EQ(l.Pixel(63, 1), (std::vector<uint8_t>{11, 20, 30}));
    }
    {
        // Indexed, 220 wide: row bytes 220 call for bytes; the counts are words.
        const std::vector<std::array<uint16_t, 4>> table = {{0, 0xFFFF, 0xFFFF, 0xFFFF}, {1, 0, 0, 0}, {2, 0xFFFF, 0, 0}};
        std::vector<uint8_t> rows;
        for (int y = 0; y < 3; ++y) rows.insert(rows.end(), {0, 4, 0x81, 1, 0xA5, (uint8_t)(y == 2 ? 2 : 0)});
        Loaded l;
        loadBytes(indexedMap(Pict(0, 0, 3, 220), 220, 220, 3, 8, table, 0x8000, rows).end(), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Pixel(127, 0), (std::vector<uint8_t>{0, 0, 0}));
        EXPECT_EQ(l.Pixel(128, 1), (std::vector<uint8_t>{255, 255, 255}));
        EXPECT_EQ(l.Pixel(219, 2), (std::vector<uint8_t>{255, 0, 0}));
    }
    {
        // Rows that fit neither way still fail as before.
        Loaded l;
        loadBytes(directMap(Pict(0, 0, 1, 64), 64, 1, 4, 32, 3, {0xFF, 0xFF, 0, 0}).end(), l);
        EXPECT_EQ(l.Err, KXERR_DECODE);
    }
}

// A pixel map whose rows the file cannot hold fails before it paints
// thousands of empty rows into the canvas; a picture that paints nothing
// gives no picture of hundreds of megabytes (a small one stays white).
TEST(Pict, TinyFilesNeverPaintTheirDeclaredRows) {
    {
        Loaded small;
        loadBytes(Pict(0, 0, 300, 400).end(), small);
        ASSERT_EQ(small.Err, KXERR_NONE);
        EXPECT_EQ(small.Pixel(399, 299), (std::vector<uint8_t>{255, 255, 255}));
    }
    Pict direct = directMap(Pict(0, 0, 2000, 30000), 30000, 2000, 4, 32, 3, std::vector<uint8_t>(1400, 0));
    const std::vector<std::array<uint16_t, 4>> table = {{0, 0, 0, 0}};
    Pict indexed = indexedMap(Pict(0, 0, 3000, 20000), 20000 & 0x7FFF, 20000, 3000, 8, table, 0x8000, std::vector<uint8_t>(1400, 0));
    struct {
        const char* Name;
        std::vector<uint8_t> File;
    } cases[] = {{"direct rows of 30000 pixels", direct.end()},
                 {"indexed rows of 20000 pixels", indexed.end()},
                 {"a frame of 358 MB and nothing in it", Pict(0, 0, 10935, 10935).end()}};
    EXPECT_LT(cases[0].File.size(), 2100u);
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const TinyLoad t = LoadTiny<kxoPICT>(c.File, "tiny.pct");
        EXPECT_EQ(t.Err, KXERR_DECODE);
        EXPECT_FALSE(t.Picture);
        EXPECT_LT(t.GrowthKb, kTinyLoadKb);  // the canvas is the frame's, fresh and untouched
        EXPECT_GE(t.GrowthKb, 0);
    }
}

// ---- drawing --------------------------------------------------------------------------------

TEST(Pict, LinesAndRectangles) {
    struct {
        const char* Name;
        Pict P;
        std::string Want;
    } cases[] = {
        {"0 x 0 pen draws no line", Pict(0, 0, 3, 5).op(0x07).w16(0).w16(0).op(0x20).point(0, 0).point(3, 0), art({".....", ".....", "....."})},
        {"line along a row", Pict(0, 0, 3, 5).op(0x20).point(0, 0).point(3, 0), art({"####.", ".....", "....."})},
        {"one point", Pict(0, 0, 3, 5).op(0x20).point(2, 2).point(2, 2), art({".....", ".....", "..#.."})},
        {"diagonal, LineFrom, ShortLineFrom", Pict(0, 0, 3, 5).op(0x20).point(0, 0).point(2, 2).op(0x21).point(4, 0).op(0x23).u8(0).u8(2),
         art({"#...#", ".#.##", "..#.#"})},
        {"ShortLine with a 2 x 2 pen", Pict(0, 0, 3, 5).op(0x07).w16(2).w16(2).op(0x22).point(0, 0).u8(2).u8(0), art({"####.", "####.", "....."})},
        {"frameRect with a 0-wide pen", Pict(0, 0, 4, 4).op(0x07).w16(1).w16(0).op(0x30).rect(0, 0, 4, 4), art({"....", "....", "....", "...."})},
        {"frameRect 4 x 4", Pict(0, 0, 4, 4).op(0x30).rect(0, 0, 4, 4), art({"####", "#..#", "#..#", "####"})},
        {"paintRect", Pict(0, 0, 3, 5).op(0x31).rect(1, 1, 3, 4), art({".....", ".###.", ".###."})},
        {"pattern 0x55", Pict(0, 0, 2, 5).op(0x09).bytes(std::vector<uint8_t>(8, 0x55)).op(0x31).rect(0, 0, 2, 5), art({".#.#.", ".#.#."})},
        {"frameSameRect after paintRect",
         Pict(0, 0, 4, 5).op(0x1A).w16(0xFFFF).w16(0xFFFF).w16(0xFFFF).op(0x31).rect(0, 0, 4, 4).op(0x1A).w16(0).w16(0).w16(0).op(0x38),
         art({"####.", "#..#.", "#..#.", "####."})},
        {"paintSameRect in srcXor", Pict(0, 0, 1, 4).op(0x31).rect(0, 0, 1, 2).op(0x08).w16(2).op(0x39), art({"....", })},
        {"ovals, arcs and regions are passed over",
         Pict(0, 0, 2, 4).op(0x51).rect(0, 0, 2, 4).op(0x61).rect(0, 0, 2, 4).w32(0).op(0x81).w16(10).rect(0, 0, 2, 4).op(0x31).rect(0, 0, 1, 1),
         art({"#...", "...."})},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        loadBytes(c.P.end(), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Art(), c.Want);
    }
}

TEST(Pict, APenThatWouldPaintForeverIsRefused) {
    // A 1000 x 1000 pen traced over a 100 x 100 canvas again and again in
    // XOR: hundreds of millions of pixels from a few kilobytes.
    Pict p(0, 0, 100, 100);
    p.op(0x07).w16(1000).w16(1000).op(0x08).w16(2);
    for (int i = 0; i < 400; ++i) p.op(0x20).point(0, 0).point(99, 99);
    Loaded l;
    loadBytes(p.end(), l);
    EXPECT_EQ(l.Err, KXERR_DECODE);
    EXPECT_EQ(l.Buffer, nullptr);
    // Ten such lines are drawn.
    Pict q(0, 0, 100, 100);
    q.op(0x07).w16(1000).w16(1000).op(0x08).w16(2);
    for (int i = 0; i < 10; ++i) q.op(0x20).point(0, 0).point(99, 99);
    Loaded m;
    loadBytes(q.end(), m);
    EXPECT_EQ(m.Err, KXERR_NONE);
}

TEST(Pict, TransferModes) {
    // A white pen source (pattern all 0) over a grey canvas, OpColor 0x4000.
    struct {
        uint32_t Mode;
        uint8_t Want;  // each component, narrowed
    } cases[] = {{0, 0xFF},  {1, 0x80},  {2, 0x80},  {3, 0x80},  {4, 0x00},  {5, 0x00},  {6, 0x7F},
                 {7, 0xFF},  {10, 0x80}, {32, 0x9F}, {33, 0x40}, {34, 0x7F}, {35, 0x40}, {36, 0x80},
                 {37, 0xFF}, {38, 0x80}, {39, 0x80}, {0x42, 0xFF}, {99, 0xFF}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.Mode);
        Pict p(0, 0, 1, 1);
        p.op(0x1A).w16(0x8000).w16(0x8000).w16(0x8000).op(0x31).rect(0, 0, 1, 1);  // grey through srcCopy
        p.op(0x1A).w16(0).w16(0).w16(0).op(0x1F).w16(0x4000).w16(0x4000).w16(0x4000);
        p.op(0x09).bytes(std::vector<uint8_t>(8, 0)).op(0x08).w16(c.Mode).op(0x39);
        Loaded l;
        loadBytes(p.end(), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Pixel(0, 0), (std::vector<uint8_t>{c.Want, c.Want, c.Want}));
    }
}

TEST(Pict, Polygons) {
    {
        // A square from (2, 1) to (6, 5): its edges and its inside.
        Loaded l;
        loadBytes(Pict(0, 0, 7, 8).op(0x71).w16(10 + 4 * 4).rect(1, 2, 5, 6).point(2, 1).point(6, 1).point(6, 5).point(2, 5).end(), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Art(), art({"........", "..#####.", "..#####.", "..#####.", "..#####.", "..#####.", "........"}));
    }
    {
        // A triangle.
        Loaded l;
        loadBytes(Pict(0, 0, 6, 9).op(0x71).w16(10 + 4 * 3).rect(1, 1, 5, 7).point(1, 1).point(7, 1).point(4, 4).end(), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Art(), art({".........", ".#######.", "..#####..", "...###...", "....#....", "........."}));
    }
    Loaded bad;
    loadBytes(Pict(0, 0, 2, 2).op(0x71).w16(10).rect(0, 0, 1, 1).end(), bad);
    EXPECT_EQ(bad.Err, KXERR_NOMEMORY);
}

TEST(Pict, Text) {
    const std::string glyphA = art({"....#....", "...#.#...", "...#.#...", "..#...#..", "..#...#..", ".#######.", ".#.....#.", ".#.....#.", "#.......#"});
    {
        // "A" at base point (1, 10): rows 1 to 9, columns 1 to 9.
        Loaded l;
        loadBytes(Pict(0, 0, 11, 11).op(0x28).point(1, 10).u8(1).u8('A').end(), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        std::string want = "...........\n";
        for (size_t r = 0; r < 9; ++r) want += "." + glyphA.substr(r * 10, 9) + ".\n";
        want += "...........\n";
        EXPECT_EQ(l.Art(), want);
    }
    {
        // A code without a glyph does not advance; DHText goes on from the pen.
        Loaded one, two;
        loadBytes(Pict(0, 0, 11, 30).op(0x28).point(0, 10).u8(2).u8('A').u8('A').end(), one);
        loadBytes(Pict(0, 0, 11, 30).op(0x28).point(0, 10).u8(2).u8('A').u8(0x80).op(0x29).u8(0).u8(1).u8('A').end(), two);
        ASSERT_EQ(one.Err, KXERR_NONE);
        ASSERT_EQ(two.Err, KXERR_NONE);
        EXPECT_EQ(one.Art(), two.Art());
    }
    {
        // srcOr: only the ink changes the canvas.
        Loaded l;
        loadBytes(Pict(0, 0, 11, 11).op(0x31).rect(0, 0, 11, 11).op(0x05).w16(1).op(0x28).point(1, 10).u8(1).u8('A').end(), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Art(), art({"###########", "###########", "###########", "###########", "###########", "###########",
                                "###########", "###########", "###########", "###########", "###########"}));
    }
    {
        // Outside the clip nothing is drawn, but the pen moves on (9 for "A").
        Loaded l;
        loadBytes(Pict(0, 0, 11, 20).op(0x28).point(-20, 10).u8(1).u8('A').op(0x29).u8(21).u8(1).u8('A').end(), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.Pixel(10 + 4, 1), (std::vector<uint8_t>{0, 0, 0}));
        EXPECT_EQ(l.Pixel(10, 9), (std::vector<uint8_t>{0, 0, 0}));
    }
    {
        // Turned by 90 degrees about the text centre (10, 10): the glyph's
        // pixel (c, r), upright at (10 + c, 1 + r), lands at (1 + r, 10 + c).
        Loaded l;
        Pict q(0, 0, 20, 20);
        q.op(0xA1).w16(150).w16(6).u8(0).u8(0).w16(90).u8(0).u8(0).op(0xA1).w16(154).w16(8).w16(0).w16(0).w16(0).w16(0);
        q.op(0x28).point(10, 10).u8(1).u8('A');
        loadBytes(q.end(), l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        for (int r = 0; r < 9; ++r)
            for (int c = 0; c < 9; ++c) EXPECT_EQ(l.Pixel(1 + r, 10 + c)[0], glyphA[r * 10 + c] == '#' ? 0 : 255) << r << "," << c;
    }
}

// ---- wrapped JPEG ----------------------------------------------------------------------------

TEST(Pict, WrappedJpegLoadsThroughTheJpegModule) {
    if (!KX_IsBuilt("kxoJFIF")) GTEST_SKIP() << "the JPEG module is not built";
    Loaded l;
    {
        kxoPICT pict;
        const std::string path = Fixture("pict/wrapped.pct");
        pict.SetReadName(path.c_str());
        l.Err = pict.Load();
        pict.DetachGfxBuffer(&l.Buffer);
        ASSERT_NE(pict.JpegTempFile, nullptr);
        const std::string temp = pict.JpegTempFile;
        EXPECT_EQ(KXT_ReadBytes(temp), KXT_ReadBytes(Fixture("pict/inner.jpg")));
        pict.Reset();
        EXPECT_EQ(access(temp.c_str(), F_OK), -1) << "Reset deletes the temporary file";
    }
    ASSERT_EQ(l.Err, KXERR_NONE);
    Rgb want;
    ASSERT_TRUE(ReadNetpbm(Fixture("pict/inner.ppm"), want));
    EXPECT_EQ(Compare(ToRgb(l.Buffer), want, 8), "") << "JPEG decoders round differently";
}

// ---- writer ---------------------------------------------------------------------------------

struct SaveResult {
    uint32_t Err;
    std::vector<uint8_t> File;
};

SaveResult saveImage(KX_GfxBuffer* img, const std::string& path, List* settings = nullptr) {
    kxoPICT pict;
    if (settings) pict.SetLocalConfig(settings);
    pict.SetSaveName(path.c_str());
    pict.SetGfxBuffer(img);
    SaveResult r{pict.Save(), {}};
    r.File = KXT_ReadBytes(path);
    return r;
}

KXConfig* argbPad(const char* value) {
    uint32_t err = 0;
    kxoPICT probe;
    auto* cfg = new KXConfig(probe.PadPath, &err);
    cfg->SetValue("WRITE_ARGB", value);
    return cfg;
}

uint32_t be16(const std::vector<uint8_t>& f, size_t at) { return (uint32_t)f[at] << 8 | f[at + 1]; }

TEST(Pict, WriterRoundTripsThroughOurReaderAndImageMagick) {
    const bool magick = KXT_HaveTool("convert-im6.q16");
    std::string p = TempPath("rt.pct"), q = TempPath("rt_check.ppm");
    std::unique_ptr<KXConfig> argb(argbPad(""));
    struct {
        uint32_t Depth;
        bool Argb;
    } kinds[] = {{1, false}, {4, false}, {8, false}, {24, false}, {24, true}};
    for (auto& k : kinds) {
        for (uint32_t w : {1u, 2u, 3u, 7u, 8u, 9u, 17u, 31u, 84u, 250u, 251u}) {
            SCOPED_TRACE("depth " + std::to_string(k.Depth) + (k.Argb ? " argb" : "") + " width " + std::to_string(w));
            KX_GfxBuffer* img = MakeImage(w, 3, k.Depth, k.Argb);
            Rgb want = ToRgb(img);
            SaveResult s = saveImage(img, p, k.Argb ? argb->GetPadList() : nullptr);
            ASSERT_EQ(s.Err, KXERR_NONE);
            EXPECT_EQ(be16(s.File, 512), s.File.size() & 0xFFFF) << "picture size";
            Loaded l;
            loadFile(p, l);
            ASSERT_EQ(l.Err, KXERR_NONE);
            EXPECT_EQ(Compare(ToRgb(l.Buffer), want), "") << "our reader";
            if (magick && (w == 9 || w == 84 || w == 251)) {
                Rgb theirs;
                ASSERT_TRUE(Shell("convert-im6.q16 " + p + " -alpha off -depth 8 ppm:" + q));
                ASSERT_TRUE(ReadNetpbm(q, theirs));
                Rgb colours = want;
                colours.Alpha.clear();
                EXPECT_EQ(Compare(theirs, colours), "") << "ImageMagick";
            }
            KXSUP_FreeGfxBuffer(img);
        }
    }
    unlink(p.c_str());
    unlink(q.c_str());
    if (!magick) GTEST_SKIP() << "ImageMagick is not installed: the cross-check did not run";
}

// Row counts at the widths where writers disagree: ImageMagick and
// GraphicsMagick make the count a word above 200 unpacked bytes
// (components x width for direct maps), QuickDraw and our writer above 250
// row bytes (4 x width for direct maps). Their files load here at every
// width; ours load there wherever the two rules agree.
TEST(Pict, RowCountsOfOtherWritersAtEveryWidth) {
    struct Tool {
        const char* Name;
        const char* Command;
        const char* Probe;
    } tools[] = {{"ImageMagick", "convert-im6.q16", "convert-im6.q16"}, {"GraphicsMagick", "gm convert", "gm"}};
    struct Kind {
        const char* Name;
        const char* Options;  // for the other program's PICT writer
        uint32_t Components;  // 1: indexed
    } kinds[] = {{"indexed", "-type palette", 1}, {"direct", "-type truecolor", 3}, {"direct with alpha", "-alpha opaque", 4}};
    const std::string src = TempPath("rows_src.ppm"), theirs = TempPath("rows_theirs.pct"), ours = TempPath("rows_ours.pct"),
                      back = TempPath("rows_back.ppm");
    std::unique_ptr<KXConfig> argb(argbPad(""));
    bool ran = false;
    for (const Tool& t : tools) {
        if (!KXT_HaveTool(t.Probe)) continue;
        ran = true;
        for (const Kind& k : kinds) {
            if (k.Components == 4 && std::string(t.Probe) == "gm") continue;  // it writes no four-component maps
            for (uint32_t w : {63u, 64u, 66u, 201u, 220u, 250u}) {
                SCOPED_TRACE(std::string(t.Name) + " " + k.Name + " width " + std::to_string(w));
                const uint32_t h = 5;
                // Runs and single pixels in every row; 16 colours for the indexed kind.
                Rgb want;
                want.W = w, want.H = h;
                for (uint32_t y = 0; y < h; ++y)
                    for (uint32_t x = 0; x < w; ++x) {
                        const uint32_t v = x % 7 < 4 ? x / 7 : x * 5 + y;
                        const uint32_t i = k.Components == 1 ? v % 16 : v;
                        want.Pix.push_back((uint8_t)(i * 16 + 3));
                        want.Pix.push_back((uint8_t)(k.Components == 1 ? 200 - i * 9 : i * 7 + y * 40));
                        want.Pix.push_back((uint8_t)(k.Components == 1 ? i * 5 : 255 - i * 3));
                    }
                std::vector<uint8_t> ppm;
                const std::string head = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
                ppm.insert(ppm.end(), head.begin(), head.end());
                ppm.insert(ppm.end(), want.Pix.begin(), want.Pix.end());
                WriteAll(src, ppm);
                ASSERT_TRUE(Shell(std::string(t.Command) + " " + src + " " + k.Options + " " + theirs));
                {
                    const std::vector<uint8_t> f = KXT_ReadBytes(theirs);
                    const uint8_t op = k.Components == 1 ? 0x98 : 0x9A;
                    bool found = false;
                    for (size_t i = 522; i + 1 < f.size() && !found; ++i) found = f[i] == 0 && f[i + 1] == op;
                    ASSERT_TRUE(found) << "the other program wrote another kind of record";
                }
                Loaded l;
                loadFile(theirs, l);
                ASSERT_EQ(l.Err, KXERR_NONE) << "their file here";
                Rgb got = ToRgb(l.Buffer);
                EXPECT_EQ(got.Alpha, std::vector<uint8_t>(k.Components == 4 ? w * h : 0, 255)) << "opaque";
                got.Alpha.clear();
                EXPECT_EQ(Compare(got, want), "") << "their file here";

                // Ours there, where both rules give the same count width.
                const uint64_t theirBytes = (uint64_t)k.Components * w, ourBytes = k.Components == 1 ? w : 4ull * w;
                if ((theirBytes > 200) != (ourBytes > 250)) continue;
                KX_GfxBuffer* img = MakeImage(w, h, k.Components == 1 ? 8 : 24, k.Components == 4);
                Rgb mine = ToRgb(img);
                mine.Alpha.clear();
                ASSERT_EQ(saveImage(img, ours, k.Components == 4 ? argb->GetPadList() : nullptr).Err, KXERR_NONE);
                KXSUP_FreeGfxBuffer(img);
                EXPECT_EQ(ReadBack(Shell(std::string(t.Command) + " " + ours + " -depth 8 ppm:" + back), back, mine), "") << "our file there";
            }
        }
    }
    for (const std::string& f : {src, theirs, ours, back}) unlink(f.c_str());
    if (!ran) GTEST_SKIP() << "neither ImageMagick nor GraphicsMagick is installed";
}

TEST(Pict, WriterRecords) {
    std::string p = TempPath("records.pct");
    {
        // Row counts of direct maps: a byte up to 250 row bytes (62 pixels), a word beyond.
        for (uint32_t w : {62u, 63u}) {
            KX_GfxBuffer* img = MakeImage(w, 2, 24);
            SaveResult s = saveImage(img, p);
            ASSERT_EQ(s.Err, KXERR_NONE);
            EXPECT_EQ(be16(s.File, 572), 0x8000u | 4 * w);
            EXPECT_EQ(s.File[636] == 0, w == 63) << w;  // the high byte of a word count
            Loaded l;
            loadFile(p, l);
            ASSERT_EQ(l.Err, KXERR_NONE);
            EXPECT_EQ(Compare(ToRgb(l.Buffer), ToRgb(img)), "");
            KXSUP_FreeGfxBuffer(img);
        }
    }
    {
        // Direct: three components, ditherCopy, row bytes 0x8000 | 4 x width.
        KX_GfxBuffer* img = MakeImage(1000, 2, 24);
        SaveResult s = saveImage(img, p);
        ASSERT_EQ(s.Err, KXERR_NONE);
        EXPECT_EQ(be16(s.File, 566), 0x9Au);
        EXPECT_EQ(be16(s.File, 572), 0x8000u | 4000u);
        EXPECT_EQ(be16(s.File, 602), 3u);
        EXPECT_EQ(be16(s.File, 634), 0x40u);
        Loaded l;
        loadFile(p, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(Compare(ToRgb(l.Buffer), ToRgb(img)), "");
        KXSUP_FreeGfxBuffer(img);
    }
    {
        // WRITE_ARGB present with any value: four components, alpha 255 without a map.
        std::unique_ptr<KXConfig> pad(argbPad(""));
        KX_GfxBuffer* img = MakeImage(84, 2, 24);
        SaveResult s = saveImage(img, p, pad->GetPadList());
        ASSERT_EQ(s.Err, KXERR_NONE);
        EXPECT_EQ(be16(s.File, 602), 4u);
        Loaded l;
        loadFile(p, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        ASSERT_EQ(KXSUP_AlphaHolds(l.Buffer), (uint32_t)KXALPHA_CHANNEL8);
        for (uint32_t i = 0; i < 168; ++i) ASSERT_EQ(KXSUP_AlphaBytes(l.Buffer)[i], 255) << i;
        KXSUP_FreeGfxBuffer(img);
    }
    {
        // Indexed: a 4-bit image as 8 bits with all 256 table entries.
        KX_GfxBuffer* img = MakeImage(9, 2, 4);
        SaveResult s = saveImage(img, p);
        ASSERT_EQ(s.Err, KXERR_NONE);
        EXPECT_EQ(be16(s.File, 566), 0x98u);
        EXPECT_EQ(be16(s.File, 568), 0x8000u | 9u);
        EXPECT_EQ(be16(s.File, 620), 255u);
        EXPECT_EQ(be16(s.File, 622 + 8 * 200 + 2), img->Palette[600] * 257u);
        KXSUP_FreeGfxBuffer(img);
    }
    {
        // A bit-plane image is converted and written indexed.
        KX_GfxBuffer* chunky = MakeImage(10, 2, 1);
        KX_GfxBuffer* planes = nullptr;
        ASSERT_EQ(KXSUP_OnePlaneToBitPlane8(chunky, &planes), KXERR_NONE);
        SaveResult s = saveImage(planes, p);
        ASSERT_EQ(s.Err, KXERR_NONE);
        Loaded l;
        loadFile(p, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(Compare(ToRgb(l.Buffer), ToRgb(chunky)), "");
        KXSUP_FreeGfxBuffer(chunky);
        KXSUP_FreeGfxBuffer(planes);
    }
    unlink(p.c_str());
}

TEST(Pict, SaveRefusesBeforeTouchingTheFile) {
    std::string p = TempPath("refuse.pct");
    struct {
        const char* Name;
        uint32_t W, H, Depth, Err;
    } cases[] = {{"48-bit", 2, 2, 48, KXERR_FILEREQUIREMENTS},
                 {"direct row above 4095 pixels", 4096, 1, 24, KXERR_FILEREQUIREMENTS},
                 {"indexed row above 0x3FFF pixels", 0x4000, 1, 8, KXERR_FILEREQUIREMENTS},
                 {"taller than 32767", 1, 32768, 8, KXERR_FILEREQUIREMENTS}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteAll(p, {'o', 'l', 'd'});
        KX_GfxBuffer* img = MakeImage(c.W, c.H, c.Depth);
        EXPECT_EQ(saveImage(img, p).Err, c.Err);
        EXPECT_EQ(KXT_ReadBytes(p), (std::vector<uint8_t>{'o', 'l', 'd'}));
        KXSUP_FreeGfxBuffer(img);
    }
    unlink(p.c_str());
}

TEST(Pict, FailedWriteGivesIoAndKeepsTheOldFile) {
    KX_GfxBuffer* img = MakeImage(300, 300, 24);
    kxoPICT pict;
    EXPECT_EQ(SaveUnderFileSizeLimit(&pict, img, "full.pct"), KXERR_IO);
    KXSUP_FreeGfxBuffer(img);
}

}  // namespace
