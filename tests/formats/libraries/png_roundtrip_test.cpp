// Every kind of image the PNG writer makes: written, checked by pngcheck,
// read back by netpbm's pngtopnm and by our reader, pixel for pixel, over
// widths 1 to 17 and a prime, plain and interlaced.
#include "png_helpers.h"

namespace {

using namespace pngtest;

enum Kind { Palette, Grey, Rgb24, Rgb48, Rgba24, Rgba48, Rgb48Marked, TrnsIndex, TrnsTable };

struct Case {
    const char* name;
    Kind kind;
    uint32_t depth;
    uint32_t fileBitDepth;  // what the IHDR must say
};

const Case kCases[] = {
    {"pal1", Palette, 1, 1},    {"pal2", Palette, 2, 2},     {"pal3", Palette, 3, 4},   {"pal4", Palette, 4, 4},
    {"pal5", Palette, 5, 8},    {"pal7", Palette, 7, 8},     {"pal8", Palette, 8, 8},   {"grey", Grey, 8, 8},
    {"rgb24", Rgb24, 24, 8},    {"rgb48", Rgb48, 48, 16},    {"rgba24", Rgba24, 24, 8}, {"rgba48", Rgba48, 48, 16},
    {"rgb48v4", Rgb48Marked, 48, 16}, {"trns1", TrnsIndex, 4, 4}, {"trnsT", TrnsTable, 2, 2},
};

Buffer Build(const Case& c, uint32_t w, uint32_t h) {
    Buffer b = MakeImage(c.depth, w, h, c.kind == Rgb48Marked ? 4 : 1);
    if (c.kind == Grey) {
        for (int i = 0; i < 256; ++i) memset(b->Palette + i * 3, i, 3);
        KXSUP_AddGfxBufferFlags(b.get(), KXGFXF_GRAY, 1);
    }
    if (c.kind == Rgba24 || c.kind == Rgba48) AddAlpha(b.get());
    if (c.kind == Rgb48Marked) KXSUP_SetGfxBufferEndianess(b.get(), 2);  // little-endian, marked
    if (c.kind == TrnsIndex) {
        KXSUP_SetGfxBufferVersion(b.get(), 3);
        b->AlphaType = KXALPHA_SINGLECOLOR;
        KXSUP_SetAlphaIndex(b.get(), 3);
    }
    if (c.kind == TrnsTable) {
        KXSUP_SetGfxBufferVersion(b.get(), 3);
        auto* t = static_cast<uint8_t*>(AllocVec(256, MEMF_ANY));
        memset(t, 255, 256);
        t[0] = 0;
        t[2] = 0;
        t[3] = 128;
        b->AlphaType = KXALPHA_MULTICOLOR;
        b->AlphaData = t;
    }
    return b;
}

uint32_t Sample(const KX_GfxBuffer* b, uint32_t i, int c) {
    if (b->ColorDepth <= 8) return b->Palette[b->Data[i] * 3 + c];
    if (b->ColorDepth == 24) return b->Data[i * 3 + c];
    return reinterpret_cast<const uint16_t*>(b->Data)[i * 3 + c];  // host order
}

uint32_t Alpha(const KX_GfxBuffer* b, uint32_t i) {
    if (b->Version < 3) return 0xFFFF;
    switch (b->AlphaType) {
        case KXALPHA_CHANNEL8: return KXSUP_AlphaBytes(b)[i];
        case KXALPHA_CHANNEL16: return static_cast<const uint16_t*>(b->AlphaData)[i];
        case KXALPHA_SINGLECOLOR: return b->Data[i] == KXSUP_AlphaIndex(b) ? 0 : 255;
        case KXALPHA_MULTICOLOR: return KXSUP_AlphaBytes(b)[b->Data[i]];
        default: return 0xFFFF;
    }
}

bool HasAlpha(const Case& c) { return c.kind == Rgba24 || c.kind == Rgba48 || c.kind == TrnsIndex || c.kind == TrnsTable; }

void CheckWithNetpbm(const Case& c, const KX_GfxBuffer* b, const std::string& path) {
    Pnm colour;
    ASSERT_EQ(RunTool("pngtopnm " + path + " > " + path + ".pnm"), 0);
    ASSERT_TRUE(ParsePnm(KXT_ReadBytes(path + ".pnm"), &colour));
    ASSERT_EQ(colour.width, b->Width);
    ASSERT_EQ(colour.height, b->Height);
    const uint32_t n = b->Width * b->Height;
    for (uint32_t i = 0; i < n; ++i) {
        for (int ch = 0; ch < 3; ++ch) ASSERT_EQ(colour.rgb[i * 3 + ch], Sample(b, i, ch)) << c.name << " px " << i;
    }
    if (HasAlpha(c)) {
        Pnm alpha;
        ASSERT_EQ(RunTool("pngtopnm -alpha " + path + " > " + path + ".pgm"), 0);
        ASSERT_TRUE(ParsePnm(KXT_ReadBytes(path + ".pgm"), &alpha));
        for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(alpha.rgb[i * 3], Alpha(b, i)) << c.name << " alpha " << i;
    }
    remove((path + ".pnm").c_str());
    remove((path + ".pgm").c_str());
}

void CheckWithOurReader(const Case& c, const KX_GfxBuffer* b, const std::string& path) {
    Png reader;
    ASSERT_EQ(reader.Load(path), KXERR_NONE) << c.name;
    KX_GfxBuffer* got = reader.Image();
    ASSERT_NE(got, nullptr);
    ASSERT_EQ(got->Width, b->Width);
    ASSERT_EQ(got->Height, b->Height);
    ASSERT_EQ(got->ColorDepth, b->ColorDepth) << c.name;
    if (b->ColorDepth == 48) {
        // Loaded big-endian as the file stores it, and marked so.
        EXPECT_EQ(KXSUP_GetGfxBufferEndianess(got), (uint32_t)KXENDIAN_BIG);
        ASSERT_EQ(KXSUP_ConvertGfxBufferEndianess(got, KXENDIAN_LITTLE), KXERR_NONE);
    }
    const uint32_t n = b->Width * b->Height;
    for (uint32_t i = 0; i < n; ++i) {
        for (int ch = 0; ch < 3; ++ch) ASSERT_EQ(Sample(got, i, ch), Sample(b, i, ch)) << c.name << " px " << i;
        ASSERT_EQ(Alpha(got, i), Alpha(b, i)) << c.name << " alpha " << i;
    }
    if (b->ColorDepth <= 8) {
        EXPECT_EQ(memcmp(got->Data, b->Data, n), 0);
    }
}

class PngRoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(PngRoundTrip, WidthsOneToSeventeenAndAPrime) {
    const Case& c = GetParam();
    const bool tools = KXT_HaveTool("pngcheck") && KXT_HaveTool("pngtopnm");
    for (const char* interlaced : {"OFF", "ON"}) {
        for (uint32_t w : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 15u, 16u, 17u, 31u}) {
            SCOPED_TRACE(std::string(c.name) + " width " + std::to_string(w) + " interlaced " + interlaced);
            Buffer b = Build(c, w, 5);
            const std::string path = TempPath(std::string(c.name) + ".png");
            Png writer(Settings{{"SAVE_INTERLACED", interlaced}});
            ASSERT_EQ(writer.Save(b.get(), path), KXERR_NONE);
            // A buffer that can carry its byte order leaves big-endian.
            if (c.kind == Rgb48Marked) {
                EXPECT_EQ(KXSUP_GetGfxBufferEndianess(b.get()), (uint32_t)KXENDIAN_BIG);
                ASSERT_EQ(KXSUP_ConvertGfxBufferEndianess(b.get(), KXENDIAN_LITTLE), KXERR_NONE);
            }
            const auto bytes = KXT_ReadBytes(path);
            ASSERT_GT(bytes.size(), 33u);
            EXPECT_EQ(bytes[24], c.fileBitDepth);  // IHDR bit depth
            if (tools) {
                EXPECT_EQ(RunTool("pngcheck -q " + path + " >/dev/null"), 0);
                CheckWithNetpbm(c, b.get(), path);
            }
            CheckWithOurReader(c, b.get(), path);
            remove(path.c_str());
        }
    }
    if (!tools) GTEST_SKIP() << "pngcheck or pngtopnm missing: checked with our reader only";
}

INSTANTIATE_TEST_SUITE_P(Kinds, PngRoundTrip, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

// A 24-bit image's 16-bit map is narrowed, a 48-bit image's 8-bit map
// widened; the same writer saving another image uses that image's map.
TEST(PngWrite, AlphaMapsOfTheOtherWidthAndASecondSave) {
    const std::string path = TempPath("alpha.png");
    Png w;
    for (int round = 0; round < 3; ++round) {
        const uint32_t depth = round == 1 ? 48 : 24;
        Buffer img = MakeImage(depth, 6, 5);
        AddAlpha(img.get());
        const uint32_t n = 30;
        std::vector<uint16_t> want(n);
        if (round == 0) {  // give it a 16-bit map instead
            auto* a16 = static_cast<uint16_t*>(AllocVec(n * 2, MEMF_ANY));
            for (uint32_t i = 0; i < n; ++i) a16[i] = (uint16_t)(KXSUP_AlphaBytes(img.get())[i] * 257);
            for (uint32_t i = 0; i < n; ++i) want[i] = KXSUP_AlphaBytes(img.get())[i];
            FreeVec(img->AlphaData);
            img->AlphaData = a16;
            img->AlphaType = KXALPHA_CHANNEL16;
        } else {  // and these an 8-bit map
            auto* a8 = static_cast<uint8_t*>(AllocVec(n, MEMF_ANY));
            for (uint32_t i = 0; i < n; ++i) a8[i] = (uint8_t)(i * 8);
            for (uint32_t i = 0; i < n; ++i) want[i] = (uint16_t)(depth == 48 ? i * 8 * 257 : i * 8);
            FreeVec(img->AlphaData);
            img->AlphaData = a8;
            img->AlphaType = KXALPHA_CHANNEL8;
        }
        ASSERT_EQ(w.Save(img.get(), path), KXERR_NONE);
        Png r;
        ASSERT_EQ(r.Load(path), KXERR_NONE);
        KX_GfxBuffer* got = r.Image();
        ASSERT_EQ(got->ColorDepth, depth);
        if (depth == 48) {
            ASSERT_EQ(KXSUP_ConvertGfxBufferEndianess(got, KXENDIAN_LITTLE), KXERR_NONE);
        }
        for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(Alpha(got, i), want[i]) << depth << " " << i;
    }
    remove(path.c_str());
}

// The reader takes every size the writer writes: a picture taller than
// libpng's default limit of a million rows comes back whole.
TEST(PngWrite, TallerThanAMillionRowsComesBack) {
    const uint32_t height = 2097163;
    Buffer b = MakeImage(8, 1, height);
    const std::string path = TempPath("tall.png");
    Png w;
    ASSERT_EQ(w.Save(b.get(), path), KXERR_NONE);
    if (KXT_HaveTool("pngcheck")) {
        EXPECT_EQ(RunTool("pngcheck -q " + path + " >/dev/null"), 0);
    }
    Png r;
    ASSERT_EQ(r.Load(path), KXERR_NONE);
    KX_GfxBuffer* got = r.Image();
    ASSERT_NE(got, nullptr);
    ASSERT_EQ(got->Width, 1u);
    ASSERT_EQ(got->Height, height);
    EXPECT_EQ(memcmp(got->Data, b->Data, height), 0);
    r.obj.Reset();
    // Within the library's size limit only.
    KXSUP_SetSizeLimit(height - 1);
    EXPECT_EQ(r.Load(path), KXERR_NOMEMORY);
    EXPECT_EQ(r.Image(), nullptr);
    KXSUP_ResetSizeLimit();
    remove(path.c_str());
}

TEST(PngWrite, ProgressCountsRowsOrPasses) {
    Buffer b = MakeImage(24, 3, 20);
    const std::string path = TempPath("progress.png");
    for (const char* interlaced : {"OFF", "ON"}) {
        Png writer(Settings{{"SAVE_INTERLACED", interlaced}});
        static std::vector<uint32_t> seen;
        seen.clear();
        writer.obj.SetProgress([](KXProgress* p, uintptr_t) { seen.push_back(p->Percent); }, 0);
        ASSERT_EQ(writer.Save(b.get(), path), KXERR_NONE);
        if (strcmp(interlaced, "OFF") == 0)
            EXPECT_EQ(seen, (std::vector<uint32_t>{0, 40, 80}));
        else
            EXPECT_EQ(seen, (std::vector<uint32_t>{14, 28, 42, 57, 71, 85}));
    }
    remove(path.c_str());
}

}  // namespace
