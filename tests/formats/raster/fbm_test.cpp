// kxoFBM: no program here reads or writes FBM, so the files are byte tables
// built from the format's header: palette, grey, 24- and 48-bit pictures,
// colour maps short, long and in three-plane files, the refusals; the
// writer's header and map bytes, its round trips and its big-endian 48-bit
// samples; nothing a load took stays after Reset; safe save, damaged input.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <sstream>

#include "formats/raster/kxoFBM.h"
#include "module_io.h"
#include "raster_pixels.h"
#include "support/robustness.h"
#include "write_failure.h"

using namespace kxt;

namespace {

void field(std::vector<uint8_t>& h, size_t at, const std::string& text) { memcpy(h.data() + at, text.data(), text.size()); }

std::vector<uint8_t> header(const std::string& cols, const std::string& rows, const std::string& planes, const std::string& bits,
                            const std::string& phys, const std::string& mapLength, const std::string& magic = "%bitmap") {
    std::vector<uint8_t> h(256, 0);
    field(h, 0, magic);
    field(h, 8, cols);
    field(h, 16, rows);
    field(h, 24, planes);
    field(h, 32, bits);
    field(h, 40, phys);
    field(h, 48, cols);
    field(h, 72, mapLength);
    field(h, 84, "1.0");
    return h;
}

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<uint8_t> ramp(size_t n, uint8_t from) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = (uint8_t)(from + i);
    return v;
}

std::string text(const std::vector<uint8_t>& file, size_t at) { return std::string((const char*)file.data() + at); }

TEST(Fbm, FilesLoad) {
    std::vector<uint8_t> map48 = ramp(16, 0) + ramp(16, 100) + ramp(16, 200);
    std::vector<uint8_t> map301 = ramp(300, 0) + ramp(300, 50) + ramp(300, 150) + std::vector<uint8_t>{9};
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        uint32_t Depth, PixelBits;
        std::vector<uint8_t> Pixels, Palette;
    } cases[] = {
        {"a 48-byte map: 16 colours", header("2", "1", "1", "8", "8", "48") + map48 + std::vector<uint8_t>{3, 15},
         4, 8, {3, 15}, {0, 100, 200, 1, 101, 201}},
        {"no map: grey", header("2", "1", "1", "8", "8", "0") + std::vector<uint8_t>{3, 15}, 8, 8, {3, 15}, {0, 0, 0, 1, 1, 1}},
        {"a map of 300 colours and a byte: 256 kept",
         header("2", "1", "1", "8", "8", "901") + map301 + std::vector<uint8_t>{7, 255}, 8, 8, {7, 255},
         {0, 50, 150, 1, 51, 151}},
        {"three planes of 8 bits", header("2", "1", "3", "8", "8", "0") + std::vector<uint8_t>{1, 2, 3, 4, 5, 6},
         24, 24, {1, 3, 5, 2, 4, 6}, {}},
        // The map of a three-plane file stands before its pixels all the same.
        {"three planes after a map",
         header("2", "1", "3", "8", "8", "6") + std::vector<uint8_t>{9, 9, 9, 9, 9, 9, 1, 2, 3, 4, 5, 6},
         24, 24, {1, 3, 5, 2, 4, 6}, {}},
        {"three planes of 16 bits, kept big-endian",
         header("2", "1", "3", "16", "16", "0") + std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
         48, 48, {1, 2, 5, 6, 9, 10, 3, 4, 7, 8, 11, 12}, {}},
        // A number ends with its field, though no zero byte closes it.
        {"a width filling its field", header("00000002", "1", "1", "8", "8", "0") + std::vector<uint8_t>{3, 15},
         8, 8, {3, 15}, {}},
        {"magic in capitals, numbers with blanks",
         header(" 2", "1 ", "1", "8", "8", "0", "%BITMAP") + std::vector<uint8_t>{3, 15}, 8, 8, {3, 15}, {}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(Recognises<kxoFBM>(c.File), 1u);
        Loaded l;
        LoadBytes<kxoFBM>(c.File, l);
        ASSERT_EQ(l.Err, KXERR_NONE);
        EXPECT_EQ(l.SubFormat, 0u);
        EXPECT_EQ(l.Buffer->ColorDepth, c.Depth);
        EXPECT_EQ(l.Buffer->PixelBits, c.PixelBits);
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + l.Buffer->BufferSize), c.Pixels);
        EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Palette, l.Buffer->Palette + c.Palette.size()), c.Palette);
        EXPECT_FALSE(KXSUP_IsGrayBuffer(l.Buffer));
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(l.Buffer) & (KXGFXF_MM | KXGFXF_II), c.Depth == 48 ? (uint32_t)KXGFXF_MM : 0u);
    }
}

TEST(Fbm, Refusals) {
    std::vector<uint8_t> cut = header("2", "1", "1", "8", "8", "0");
    cut.resize(200);
    struct {
        const char* Name;
        std::vector<uint8_t> File;
        uint32_t Err;
    } cases[] = {
        {"16 bits in one plane", header("2", "1", "1", "16", "16", "0") + std::vector<uint8_t>(4, 1), KXERR_FILEREQUIREMENTS},
        {"8 bits stored in 16", header("2", "1", "3", "8", "16", "0") + std::vector<uint8_t>(12, 1), KXERR_FILEREQUIREMENTS},
        {"two planes", header("2", "1", "2", "8", "8", "0") + std::vector<uint8_t>(4, 1), KXERR_FILEREQUIREMENTS},
        {"1 bit", header("8", "1", "1", "1", "1", "0") + std::vector<uint8_t>(8, 1), KXERR_FILEREQUIREMENTS},
        {"no width", header("", "1", "1", "8", "8", "0") + std::vector<uint8_t>(4, 1), KXERR_FILEREQUIREMENTS},
        {"negative height", header("2", "-1", "1", "8", "8", "0") + std::vector<uint8_t>(4, 1), KXERR_FILEREQUIREMENTS},
        {"header cut", cut, KXERR_EOF},
        {"map past the file", header("2", "1", "1", "8", "8", "768") + std::vector<uint8_t>(100, 1), KXERR_EOF},
        {"raster short", header("2", "2", "3", "8", "8", "0") + std::vector<uint8_t>(11, 1), KXERR_EOF},
        {"large picture, short file", header("60000", "60000", "3", "16", "16", "0") + std::vector<uint8_t>(64, 1), KXERR_EOF},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Loaded l;
        LoadBytes<kxoFBM>(c.File, l);
        EXPECT_EQ(l.Err, c.Err);
        EXPECT_EQ(l.Buffer, nullptr);
    }
    EXPECT_EQ(Recognises<kxoFBM>(header("2", "1", "1", "8", "8", "0", "%bitmaq")), 0u);
    EXPECT_EQ(Recognises<kxoFBM>({'%', 'b', 'i', 't'}), 0u);
}

// The addresses of the blocks the trace shows taken (AllocVec) or given
// back (FreeVec).
std::multiset<std::string> traced(const std::string& lines, const char* who) {
    std::multiset<std::string> out;
    std::istringstream in(lines);
    for (std::string line; std::getline(in, line);) {
        const size_t at = line.find(": $");
        if (line.rfind(who, 0) == 0 && at != std::string::npos && line.compare(at + 2, 17, "$0000000000000000") != 0)
            out.insert(line.substr(at + 2, 17));
    }
    return out;
}

TEST(Fbm, NothingALoadTookOutlivesReset) {
    const std::string p = TempPath("trace.fbm");
    WriteAll(p, header("2", "1", "1", "8", "8", "48") + std::vector<uint8_t>(50, 1));
    kxoFBM fbm;
    std::string loading, resetting;
    {
        KXT_TraceLog trace(9);
        fbm.SetReadName(p.c_str());
        ASSERT_EQ(fbm.Load(), KXERR_NONE);
        loading = trace.lines();
    }
    {
        KXT_TraceLog trace(9);
        fbm.Reset();
        resetting = trace.lines();
    }
    const std::multiset<std::string> taken = traced(loading, "AllocVec"), given = traced(resetting, "FreeVec");
    EXPECT_FALSE(taken.empty());
    for (const std::string& block : taken) EXPECT_EQ(given.count(block), 1u) << block << " taken by Load, kept after Reset";
    unlink(p.c_str());
}

TEST(Fbm, ReaderSurvivesDamagedFiles) {
    const std::string p = TempPath("robust.fbm");
    for (auto& file : {header("13", "7", "1", "8", "8", "48") + ramp(48, 0) + ramp(91, 3),
                       header("13", "7", "3", "16", "16", "0") + ramp(546, 9)}) {
        WriteAll(p, file);
        KXT_CheckReaderRobustness("kxoFBM", p);
    }
    unlink(p.c_str());
}

// ---- writer ------------------------------------------------------------------------

TEST(Fbm, WriterHeaderAndColourMap) {
    const std::string dir = KXT_NewTempDir(TempPath("fbmXXXXXX"));
    const std::string p = dir + "/picture.fbm";
    KX_GfxBuffer* img = MakeImage(5, 3, 4);
    Saved s = SaveTo<kxoFBM>(img, p);
    ASSERT_EQ(s.Err, KXERR_NONE);
    ASSERT_EQ(s.File.size(), 256 + 48 + 15u);
    const std::pair<size_t, const char*> fields[] = {{0, "%bitmap"}, {8, "5"},   {16, "3"},   {24, "1"},           {32, "8"},
                                                     {40, "8"},      {48, "5"},  {60, "15"},  {72, "48"},          {84, "1.0"},
                                                     {96, "picture.fbm"},        {176, "Kaxon5"}};
    for (auto& f : fields) EXPECT_EQ(text(s.File, f.first), f.second) << "field at " << f.first;
    for (uint32_t i = 0; i < 16; ++i) {
        EXPECT_EQ(s.File[256 + i], img->Palette[3 * i]) << i;
        EXPECT_EQ(s.File[256 + 16 + i], img->Palette[3 * i + 1]) << i;
        EXPECT_EQ(s.File[256 + 32 + i], img->Palette[3 * i + 2]) << i;
    }
    EXPECT_EQ(std::vector<uint8_t>(s.File.begin() + 304, s.File.end()), std::vector<uint8_t>(img->Data, img->Data + 15));
    // Titles are cut to 79 characters.
    const std::string longName = dir + "/" + std::string(90, 'n') + ".fbm";
    Saved t = SaveTo<kxoFBM>(img, longName);
    ASSERT_EQ(t.Err, KXERR_NONE);
    EXPECT_EQ(text(t.File, 96), std::string(79, 'n'));
    KXSUP_FreeGfxBuffer(img);
    unlink(p.c_str());
    unlink(longName.c_str());
    rmdir(dir.c_str());
}

TEST(Fbm, WriterRoundTrips) {
    const std::string p = TempPath("rt.fbm");
    for (uint32_t depth : {1u, 4u, 8u, 24u}) {
        for (uint32_t w : {1u, 2u, 3u, 7u, 16u, 17u, 31u}) {
            SCOPED_TRACE("depth " + std::to_string(depth) + " width " + std::to_string(w));
            KX_GfxBuffer* img = MakeImage(w, 3, depth);
            ASSERT_EQ(SaveTo<kxoFBM>(img, p).Err, KXERR_NONE);
            Loaded l;
            LoadFile<kxoFBM>(p, l);
            ASSERT_EQ(l.Err, KXERR_NONE);
            EXPECT_EQ(l.Buffer->ColorDepth, depth);
            EXPECT_EQ(Compare(ToRgb(l.Buffer), ToRgb(img)), "");
            KXSUP_FreeGfxBuffer(img);
        }
    }
    unlink(p.c_str());
}

TEST(Fbm, WriterTurnsFortyEightBitSamplesBigEndian) {
    const std::string p = TempPath("deep.fbm");
    // Host-order samples 0x0102, 0x0304, ... in a 2 x 1 picture.
    KX_GfxBuffer* img = MakeImage(2, 1, 48);
    const uint16_t samples[6] = {0x0102, 0x0304, 0x0506, 0x0708, 0x090A, 0x0B0C};
    memcpy(img->Data, samples, sizeof(samples));
    Saved s = SaveTo<kxoFBM>(img, p);
    ASSERT_EQ(s.Err, KXERR_NONE);
    EXPECT_EQ(text(s.File, 176), "Kaxon5 (big endian)");
    EXPECT_EQ(text(s.File, 32), "16");
    EXPECT_EQ(std::vector<uint8_t>(s.File.begin() + 256, s.File.end()),
              (std::vector<uint8_t>{1, 2, 7, 8, 3, 4, 9, 10, 5, 6, 11, 12}));
    // The caller's picture now holds big-endian samples, marked so; loading
    // the file gives the same.
    EXPECT_EQ(KXSUP_GetGfxBufferEndianess(img), (uint32_t)KXENDIAN_BIG);
    Loaded l;
    LoadFile<kxoFBM>(p, l);
    ASSERT_EQ(l.Err, KXERR_NONE);
    EXPECT_EQ(std::vector<uint8_t>(l.Buffer->Data, l.Buffer->Data + 12), std::vector<uint8_t>(img->Data, img->Data + 12));
    EXPECT_EQ(KXSUP_GetGfxBufferEndianess(l.Buffer), (uint32_t)KXENDIAN_BIG);
    // Saving the loaded picture writes its samples unchanged.
    Saved again = SaveTo<kxoFBM>(l.Buffer, p);
    ASSERT_EQ(again.Err, KXERR_NONE);
    EXPECT_EQ(again.File, s.File);
    KXSUP_FreeGfxBuffer(img);
    unlink(p.c_str());
}

TEST(Fbm, SaveRefusesBeforeTouchingTheFile) {
    const std::string p = TempPath("refuse.fbm");
    struct {
        const char* Name;
        uint32_t W, Depth, Err;
    } cases[] = {
        {"16 bits", 2, 24, KXERR_FILEREQUIREMENTS},  // depth field set to 16 below
        {"HAM", 2, 6, KXERR_NOHAM},
        {"a width of eight digits", 10000000, 8, KXERR_FILEREQUIREMENTS},
        {"locked little-endian 48 bits", 2, 48, KXERR_ENDIANLOCKED},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        KX_GfxBuffer* img = MakeImage(c.W, 1, c.Depth);
        if (std::string(c.Name) == "16 bits") img->ColorDepth = 16;
        if (c.Depth == 6) img->ViewMode = 0x800;
        if (c.Depth == 48) {
            KXSUP_SetGfxBufferVersion(img, 4);
            img->Flags = KXGFXF_II | KXGFXF_LOCKED;
        }
        EXPECT_EQ(SaveOverOld<kxoFBM>(img, p), c.Err);
        KXSUP_FreeGfxBuffer(img);
    }
    unlink(p.c_str());
}

TEST(Fbm, FailedWriteGivesIoAndKeepsTheOldFile) {
    for (uint32_t depth : {8u, 24u, 48u}) {
        KX_GfxBuffer* img = MakeImage(300, 300, depth);
        kxoFBM fbm;
        EXPECT_EQ(SaveUnderFileSizeLimit(&fbm, img, "full.fbm"), KXERR_IO) << depth;
        KXSUP_FreeGfxBuffer(img);
    }
}

}  // namespace
