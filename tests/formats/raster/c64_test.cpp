// kxoC64: no program here knows Commodore 64 pictures, so the files are
// byte tables built in the test: Koala pixel pairs and Doodle bits against
// the cell layout, the GODOT run-length stream, GEOS records with every
// item kind, block skips, short data and items cut by the end of the
// data; recognition and damaged input.
#include <gtest/gtest.h>

#include "formats/raster/kxoC64.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"

using namespace kxt;

namespace {

const uint8_t kC64[16][3] = {{0, 0, 0},     {255, 255, 255}, {104, 55, 43},   {112, 164, 178}, {111, 61, 134},  {88, 141, 67},
                             {53, 40, 121},  {184, 199, 111}, {111, 79, 37},   {67, 57, 0},     {154, 103, 89},  {68, 68, 68},
                             {108, 108, 108}, {154, 210, 132}, {108, 94, 181}, {149, 149, 149}};

std::vector<uint8_t> noise(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = (uint8_t)((i * 2654435761u + seed) >> 13);
    return v;
}

// The byte of cell c, line l in a bitmap of 8 bytes a cell; (x, y) -> c, l.
inline uint32_t cellOf(uint32_t x, uint32_t y) { return (y / 8) * 40 + x / 8; }

TEST(C64, KoalaPairsPickTheirColours) {
    std::vector<uint8_t> f = noise(10003, 7);
    f[0] = 0x00, f[1] = 0x60;
    f[10002] = 0xF6;  // background 6
    Loaded l;
    LoadBytes<kxoC64>(f, l, "pic.koa");
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.SubFormat, 0u);
    const KX_GfxBuffer* b = l.Buffer;
    ASSERT_EQ(b->Width, 320u);
    ASSERT_EQ(b->Height, 200u);
    EXPECT_EQ(b->ColorDepth, 4u);
    EXPECT_EQ(b->PixelBits, 8u);
    EXPECT_EQ(memcmp(b->Palette, kC64, sizeof(kC64)), 0);
    uint32_t bad = 0;
    for (uint32_t y = 0; y < 200; ++y)
        for (uint32_t x = 0; x < 320; ++x) {
            const uint32_t c = cellOf(x, y), pair = f[2 + c * 8 + y % 8] >> (6 - (x % 8) / 2 * 2) & 3;
            const uint32_t want = pair == 0 ? 6 : pair == 1 ? f[8002 + c] >> 4 : pair == 2 ? f[8002 + c] & 15 : f[9002 + c] & 15;
            if (b->Data[y * 320 + x] != want && ++bad < 5) ADD_FAILURE() << x << "," << y;
        }
    // 0xE4: pairs 3, 2, 1, 0 from the left.
    f[2] = 0xE4, f[8002] = 0x9A, f[9002] = 0x7B;
    Loaded m;
    LoadBytes<kxoC64>(f, m, "pic.koa");
    ASSERT_EQ(m.Err, KXERR_NONE);
    EXPECT_EQ(std::vector<uint8_t>(m.Buffer->Data, m.Buffer->Data + 8), (std::vector<uint8_t>{11, 11, 10, 10, 9, 9, 6, 6}));
}

TEST(C64, DoodleBitsPickTheScreenNibbles) {
    std::vector<uint8_t> f = noise(9218, 3);
    f[0] = 0x00, f[1] = 0x5C;
    Loaded l;
    LoadBytes<kxoC64>(f, l, "pic.dd");
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.SubFormat, 1u);
    EXPECT_TRUE(l.Progress.empty());  // only GODOT reports progress
    uint32_t bad = 0;
    for (uint32_t y = 0; y < 200; ++y)
        for (uint32_t x = 0; x < 320; ++x) {
            const uint32_t c = cellOf(x, y);
            const bool set = f[1026 + c * 8 + y % 8] >> (7 - x % 8) & 1;
            const uint32_t want = set ? f[2 + c] >> 4 : f[2 + c] & 15;
            if (l.Buffer->Data[y * 320 + x] != want && ++bad < 5) ADD_FAILURE() << x << "," << y;
        }
    // A short file: the parts it lacks stay 0 (colour 0 for set and clear bits).
    f.resize(600);
    Loaded s;
    LoadBytes<kxoC64>(f, s, "short.dd");
    ASSERT_EQ(s.Err, KXERR_NONE);
    EXPECT_EQ(s.Buffer->Data[199 * 320 + 319], 0);
}

// ---- GODOT --------------------------------------------------------------------

std::vector<uint8_t> godot(const std::vector<uint8_t>& stream) {
    std::vector<uint8_t> v = {'G', 'O', 'D', '0'};
    PutBytes(v, stream);
    return v;
}

// The 64000 pixels in cell order put into rows.
std::vector<uint8_t> cellOrderToRows(const std::vector<uint8_t>& cells) {
    std::vector<uint8_t> rows(64000, 0);
    for (uint32_t p = 0; p < 64000; ++p) {
        const uint32_t c = p / 64, l = p / 8 % 8, k = p % 8;
        rows[((c / 40) * 8 + l) * 320 + (c % 40) * 8 + k] = cells[p];
    }
    return rows;
}

TEST(C64, GodotStreams) {
    // Repeats of 256 pairs: 125 items fill the picture.
    std::vector<uint8_t> s;
    for (int i = 0; i < 125; ++i) PutBytes(s, {0xAD, 0x00, (uint8_t)(i % 2 ? 0x5A : 0x3C)});
    Loaded l;
    LoadBytes<kxoC64>(godot(s), l, "a.4bt");
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(l.SubFormat, 3u);
    EXPECT_EQ(l.Buffer->Version, 4u);
    EXPECT_TRUE(l.Buffer->Flags & KXGFXF_SRCLOWDEPTH);
    EXPECT_EQ(l.Buffer->Palette[3 * 12 + 1], 255);  // GODOT palette: 12 = (170, 255, 238)
    std::vector<uint8_t> cells(64000);
    for (uint32_t p = 0; p < 64000; p += 2) {
        const uint8_t v = p / 512 % 2 ? 0x5A : 0x3C;
        cells[p] = v >> 4, cells[p + 1] = v & 15;
    }
    EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 64000), cellOrderToRows(cells));
    EXPECT_FALSE(l.Progress.empty());

    // Literal bytes and short repeats; the stream ends early, and a repeat
    // that would overrun the picture ends it unwritten.
    struct {
        const char* Name;
        std::vector<uint8_t> Stream;
        uint32_t Filled;  // pixels the stream yields
    } cases[] = {
        {"literals then the end", {0x12, 0x34, 0xAD, 0x03, 0xF0, 0x56}, 12},
        {"repeat without its value", {0x12, 0xAD, 0x02}, 2},
        {"overrun", [] { std::vector<uint8_t> v; for (int i = 0; i < 124; ++i) PutBytes(v, {0xAD, 0x00, 0x11}); PutBytes(v, {0x99, 0xAD, 0x00, 0x22, 0x77}); return v; }(), 63488 + 2},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded m;
        LoadBytes<kxoC64>(godot(c.Stream), m, "b.4BT");
        ASSERT_EQ(m.Err, KXERR_NONE);
        std::vector<uint8_t> want(64000, 0);
        uint32_t n = 0;
        for (size_t p = 0; p < c.Stream.size() && n < c.Filled;) {
            uint32_t repeat = 1;
            uint8_t v = c.Stream[p];
            if (v == 0xAD) {
                repeat = c.Stream[p + 1] ? c.Stream[p + 1] : 256;
                v = c.Stream[p + 2];
                p += 3;
            } else {
                ++p;
            }
            for (uint32_t i = 0; i < repeat; ++i) want[n++] = v >> 4, want[n++] = v & 15;
        }
        EXPECT_EQ(n, c.Filled);
        EXPECT_EQ(std::vector<uint8_t>(m.Buffer->Data, m.Buffer->Data + 64000), cellOrderToRows(want));
    }
    Loaded tiny;
    LoadBytes<kxoC64>({'G', 'O'}, tiny, "c.4bt");
    EXPECT_EQ(tiny.Err, KXERR_EOF);
}

// ---- GEOS ---------------------------------------------------------------------

// A GEOS file: directory entry, info block, (record table), picture data.
std::vector<uint8_t> geos(const std::vector<uint8_t>& data, bool recordTable = false) {
    std::vector<uint8_t> v(recordTable ? 762 : 508, 0);
    v[0] = 0x83;
    v[21] = recordTable ? 1 : 0;
    v[22] = 7;
    v[254] = 3, v[255] = 21, v[256] = 0xBF;
    if (recordTable) v[508] = 0xEE;  // not read as data
    PutBytes(v, data);
    return v;
}

// Literal items of at most 63 bytes.
void literals(std::vector<uint8_t>& out, const uint8_t* d, size_t n) {
    while (n) {
        const size_t k = n < 63 ? n : 63;
        out.push_back((uint8_t)k);
        out.insert(out.end(), d, d + k);
        d += k, n -= k;
    }
}

// Ends a record: a zero, then filler to the next 254-byte boundary.
void endRecord(std::vector<uint8_t>& out) {
    out.push_back(0);
    while (out.size() % 254) out.push_back(0xFF);
}

// The picture the decompressed bytes make, line by line.
std::vector<uint8_t> geosPicture(std::vector<uint8_t> d, uint32_t lines) {
    const size_t count = d.size() < 65160 ? d.size() : 65160;
    d.resize(66000, 0);
    std::vector<uint8_t> pic((size_t)640 * lines);
    for (uint32_t y = 0; y < lines; ++y) {
        const size_t rec = y / 16 * 1448, start = rec + (y / 8 % 2) * 640;
        const bool present = count > start && count - start > (y % 8 + 1) * 80;
        for (uint32_t x = 0; x < 640; ++x) {
            const uint8_t colour = d[rec + 1288 + (y / 8 % 2) * 80 + x / 8];
            const bool set = present && (d[start + x / 8 * 8 + y % 8] >> (7 - x % 8) & 1);
            pic[(size_t)y * 640 + x] = set ? colour >> 4 : colour & 15;
        }
    }
    return pic;
}

TEST(C64, GeosRecordsAndItems) {
    // Two whole records and 100 bytes of a third: 40 lines (the third
    // ends after its first card row, of which one line has its bytes).
    const std::vector<uint8_t> d = noise(2 * 1448 + 100, 11);
    std::vector<uint8_t> data;
    literals(data, d.data(), 1448);
    endRecord(data);
    literals(data, d.data() + 1448, 1448);
    endRecord(data);
    literals(data, d.data() + 2896, 100);
    for (bool table : {false, true}) {
        SCOPED_TRACE(table ? "with a record table" : "sequential");
        Loaded l;
        LoadBytes<kxoC64>(geos(data, table), l, "paint.geo");
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.SubFormat, 2u);
        ASSERT_EQ(l.Buffer->Width, 640u);
        ASSERT_EQ(l.Buffer->Height, 40u);
        EXPECT_EQ(l.Buffer->ColorDepth, 4u);
        EXPECT_EQ(l.Buffer->Type, (uint32_t)ONEPLANE);
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 640 * 40), geosPicture(d, 40));
        EXPECT_TRUE(l.Progress.empty());
    }

    // Patterns, repeats and the two counts that produce nothing give the
    // same record as literals would.
    std::vector<uint8_t> rec(1448);
    for (size_t i = 0; i < 640; ++i) rec[i] = (uint8_t)(0xA5 ^ (i % 8) * 0x11);  // one card, 80 times
    for (size_t i = 640; i < 1280; ++i) rec[i] = 0x3C;
    for (size_t i = 1280; i < 1448; ++i) rec[i] = (uint8_t)(i * 7);
    std::vector<uint8_t> items = {64, 128};
    items.push_back(64 + 40);
    items.insert(items.end(), rec.begin(), rec.begin() + 8);  // 40 x the card
    items.push_back(64 + 40);
    items.insert(items.end(), rec.begin(), rec.begin() + 8);
    PutBytes(items, {128 + 127, 0x3C, 128 + 127, 0x3C, 128 + 127, 0x3C, 128 + 127, 0x3C, 128 + 127, 0x3C, 128 + 5, 0x3C});
    literals(items, rec.data() + 1280, 168);
    Loaded p;
    LoadBytes<kxoC64>(geos(items), p, "items.GEO");
    ASSERT_EQ(p.Err, KXERR_NONE);
    ASSERT_EQ(p.Buffer->Height, 16u);
    EXPECT_EQ(std::vector<uint8_t>(p.Buffer->Data, p.Buffer->Data + 640 * 16), geosPicture(rec, 16));
}

TEST(C64, GeosItemsStopAtTheEndOfTheData) {
    // Every item the data cut: a literal brings the bytes that are there,
    // a pattern or a repeat without its bytes ends the stream. The data
    // sit at the very end of the file, so an overread shows under ASan.
    const std::vector<uint8_t> d = noise(700, 5);
    struct {
        const char* Name;
        std::vector<uint8_t> Tail;
        size_t Extra;  // bytes the tail adds
    } cases[] = {
        {"literal of 63 with 5 bytes", {63, 1, 2, 3, 4, 5}, 5},
        {"pattern with 3 bytes", {64 + 10, 1, 2, 3}, 0},
        {"repeat without its byte", {128 + 100}, 0},
        {"a zero at the end", {0}, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<uint8_t> data;
        literals(data, d.data(), d.size());
        PutBytes(data, c.Tail);
        Loaded l;
        LoadBytes<kxoC64>(geos(data), l, "cut.geo");
        ASSERT_EQ(l.Err, KXERR_NONE);
        std::vector<uint8_t> want = d;
        if (c.Extra) want.insert(want.end(), c.Tail.begin() + 1, c.Tail.begin() + 1 + c.Extra);
        // 700 or 705 bytes end inside the first card row's 640 + 60 bytes.
        ASSERT_EQ(l.Buffer->Height, 16u);
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 640 * 16), geosPicture(want, 16));
    }
    struct {
        const char* Name;
        std::vector<uint8_t> File;
    } empty[] = {
        {"no picture data", geos({})},
        {"only counts that make nothing", geos({64, 128, 64, 0})},
        {"cut inside the info block", std::vector<uint8_t>(300, 0)},
    };
    for (auto& c : empty) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoC64>(c.File, l, "empty.geo");
        EXPECT_EQ(l.Err, KXERR_EOF);
        EXPECT_EQ(l.Buffer, nullptr);
    }
}

TEST(C64, Recognition) {
    std::vector<uint8_t> koala(10003, 0), doodle(9218, 0);
    koala[1] = 0x60, doodle[1] = 0x5C;
    std::vector<uint8_t> g = geos(std::vector<uint8_t>(300, 1));
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        const char* FileName;
        uint32_t Known;
    } cases[] = {
        {"Koala", koala, "a.koa", 1},
        {"Koala signature at Doodle's place", [&] { auto v = koala; v[1] = 0x5C; return v; }(), "a.koa", 0},
        {"Doodle 9201", [&] { auto v = doodle; v.resize(9201); return v; }(), "a.dd", 1},
        {"Doodle 9229", [&] { auto v = doodle; v.resize(9229); return v; }(), "a.dd", 1},
        {"Doodle 9230", [&] { auto v = doodle; v.resize(9230); return v; }(), "a.dd", 0},
        {"GEOS", g, "a.geo", 1},
        {"GEOS without its ending", g, "a.bin", 0},
        {"GEOS file type 6", [&] { auto v = g; v[22] = 6; return v; }(), "a.geo", 0},
        {"GEOS structure 2", [&] { auto v = g; v[21] = 2; return v; }(), "a.geo", 0},
        {"GEOS bit 0 clear", [&] { auto v = g; v[0] = 0x82; return v; }(), "a.geo", 0},
        {"GEOS icon size", [&] { auto v = g; v[255] = 20; return v; }(), "a.geo", 0},
        {"GODOT", godot(std::vector<uint8_t>(40, 0x11)), "a.4bt", 1},
        {"GODOT without its ending", godot(std::vector<uint8_t>(40, 0x11)), "a.god", 0},
        {"GODOT shorter than 32 bytes", godot({1, 2, 3}), "a.4bt", 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(Recognises<kxoC64>(c.File, c.FileName), c.Known);
    }
    kxoC64 m;
    EXPECT_EQ(m.Save(), KXERR_NOTSUPPORTED);
}

TEST(C64, ReaderSurvivesDamagedFiles) {
    const std::string p = TempPath("robust.c64");
    std::vector<uint8_t> koala = noise(10003, 1);
    koala[0] = 0, koala[1] = 0x60;
    WriteAll(p, koala);
    KXT_CheckReaderRobustness("kxoC64", p);

    std::vector<uint8_t> s;
    for (int i = 0; i < 60; ++i) PutBytes(s, {0x12, 0xAD, (uint8_t)i, 0x34});
    WriteAll(p, godot(s));
    KXRobustnessOptions o;
    o.Extension = ".4bt";
    KXT_CheckReaderRobustness("kxoC64", p, o);

    std::vector<uint8_t> data;
    const std::vector<uint8_t> d = noise(1448 + 900, 9);
    literals(data, d.data(), 1448);
    endRecord(data);
    PutBytes(data, {64 + 20, 1, 2, 3, 4, 5, 6, 7, 8, 128 + 90, 0x77});
    literals(data, d.data() + 1448, 900);
    WriteAll(p, geos(data));
    o.Extension = ".geo";
    KXT_CheckReaderRobustness("kxoC64", p, o);
    unlink(p.c_str());
}

}  // namespace
