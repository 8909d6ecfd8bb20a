// kxpPaletteDither: which inputs it takes, how the reference picture is
// found and refused, which of its colours are kept, how the rest of the
// palette is completed from the picture, the mapping methods, and that the
// reference is read without disturbing a picture held by the library
// object's own readers.
#include <algorithm>
#include <array>
#include <set>

#include "dither_kinds.h"
#include "operators/colour/kxpPaletteDither.h"
#include "operators/colour/kxquant.h"
#include "second_files.h"

using namespace colour_test;

namespace {

using Keys = std::vector<std::pair<const char*, const char*>>;
using Colour = std::array<int, 3>;

Colour EntryOf(const KX_GfxBuffer* b, int i) { return {b->Palette[3 * i], b->Palette[3 * i + 1], b->Palette[3 * i + 2]}; }

// A palette picture of the depth whose entries are the given colours.
Buffer Reference(uint32_t depth, const std::vector<Colour>& colours)
{
    Buffer b = Chunky(depth, 4, 4);
    memset(b->Palette, 0, sizeof b->Palette);
    for (size_t i = 0; i < colours.size(); ++i)
        for (int c = 0; c < 3; ++c) b->Palette[3 * i + c] = uint8_t(colours[i][c]);
    for (uint32_t i = 0; i < 16; ++i) b->Data[i] = uint8_t(i % colours.size());
    return b;
}

std::vector<Colour> Sixteen()
{
    std::vector<Colour> c;
    for (int i = 0; i < 16; ++i) c.push_back({i * 16 + 3, 255 - i * 9, (i * 77) & 255});
    return c;
}

Buffer Picture(const std::vector<Colour>& colours, uint32_t h = 3)
{
    const uint32_t w = uint32_t(colours.size());
    Buffer s = Chunky(24, w, h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) s->Data[3 * (y * w + x) + c] = uint8_t(colours[x][c]);
    return s;
}

Keys With(const std::string& path, Keys more = {})
{
    static std::vector<std::string> keep;
    keep.push_back(path);
    more.push_back({"PALETTEFILE", keep.back().c_str()});
    return more;
}

}  // namespace

TEST(PaletteDither, TakesChunky24BitOnly)
{
    Buffer ref = Reference(4, Sixteen());
    const std::string gif = SaveWith("kxoGIF", ref.get(), "kinds.gif");
    ExpectCodes<kxpPaletteDither>([](const InputKind& k, uint32_t) { return k.family == k24 ? 0u : uint32_t(KXERR_NEED24BIT); }, With(gif));
}

TEST(PaletteDither, ReferenceFiles)
{
    Buffer s = Picture({{1, 2, 3}, {200, 100, 0}});
    Buffer deep = Chunky(24, 3, 3);
    const std::string png24 = SaveWith("kxoPNG", deep.get(), "deep.png");
    const std::string text = ScratchPath("notes.txt");
    ASSERT_TRUE(KXT_WriteFile(text, "nothing any reader knows\n"));
    struct Case {
        std::string path;
        uint32_t code;
    } cases[] = {
        {png24, KXERR_FILEREQUIREMENTS},
        {text, KXERR_NOMEMORY},
        {ScratchPath("missing.gif"), KXERR_IO},
        {"", KXERR_IO},
        {std::string(300, 'a'), KXERR_IO},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(RunOp<kxpPaletteDither>(s.get(), nullptr, With(c.path)), c.code);
    }
    EXPECT_EQ(RunOp<kxpPaletteDither>(s.get(), nullptr), uint32_t(KXERR_IO)) << "no PALETTEFILE";
}

TEST(PaletteDither, KeptColoursAndCompletion)
{
    // A 16-colour GIF kept whole (k = 4), the rest completed from the
    // picture's buckets that the kept colours do not stand for, then black.
    const std::vector<Colour> gifColours = Sixteen();
    Buffer ref = Reference(4, gifColours);
    const std::string gif = SaveWith("kxoGIF", ref.get(), "sixteen.gif");
    std::vector<Colour> own = {{250, 10, 10}, {10, 250, 10}, {9, 9, 200}, {gifColours[3][0], gifColours[3][1], gifColours[3][2]}, {128, 128, 128}};
    Buffer s = Picture(own), r;
    ASSERT_EQ(RunOp<kxpPaletteDither>(s.get(), &r, With(gif)), 0u);
    EXPECT_EQ(r->ColorDepth, 8u);
    std::vector<Colour> want = gifColours;
    for (int i = 0; i < 5; ++i)
        if (i != 3) want.push_back({own[i][0] & ~7, own[i][1] & ~7, own[i][2] & ~7});
    while (want.size() < 256) want.push_back({0, 0, 0});
    std::sort(want.begin(), want.end());
    for (int i = 0; i < 256; ++i) ASSERT_EQ(EntryOf(r.get(), i), want[i]) << i;
    // Each pixel names the entry it was mapped to: its own colour's corner
    // or the kept colour it equals.
    EXPECT_EQ(EntryOf(r.get(), r->Data[3]), gifColours[3]);
    EXPECT_EQ(EntryOf(r.get(), r->Data[0]), (Colour{248, 8, 8}));

    // PALETTEDEPTH limits what is kept.
    ASSERT_EQ(RunOp<kxpPaletteDither>(s.get(), &r, With(gif, {{"PALETTEDEPTH", "1"}})), 0u);
    std::set<Colour> entries;
    for (int i = 0; i < 256; ++i) entries.insert(EntryOf(r.get(), i));
    EXPECT_TRUE(entries.count(gifColours[0]) && entries.count(gifColours[1]));
    EXPECT_FALSE(entries.count(gifColours[2]));
}

TEST(PaletteDither, FewerEntriesThanTheReference)
{
    // 4 bits from an 8-bit PNG: its first 16 colours, sorted; no completion.
    std::vector<Colour> colours;
    for (int i = 0; i < 256; ++i) colours.push_back({255 - i, i, (i * 5) & 255});
    Buffer ref = Reference(8, colours);
    const std::string png = SaveWith("kxoPNG", ref.get(), "eight.png");
    Buffer s = Picture({{0, 0, 0}, {255, 255, 255}, {30, 200, 90}}), r;
    ASSERT_EQ(RunOp<kxpPaletteDither>(s.get(), &r, With(png, {{"COLORDEPTH", "4"}})), 0u);
    std::vector<Colour> want(colours.begin(), colours.begin() + 16);
    std::sort(want.begin(), want.end());
    for (int i = 0; i < 16; ++i) EXPECT_EQ(EntryOf(r.get(), i), want[i]) << i;
    for (uint32_t i = 0; i < r->BufferSize; ++i) ASSERT_LT(r->Data[i], 16);
}

TEST(PaletteDither, CompletionWithSixteenLevels)
{
    // Five bits from a two-colour ILBM: 30 entries completed, channels
    // masked to 16 levels.
    Buffer ref = Reference(1, {{0, 0, 0}, {255, 255, 255}});
    const std::string ilbm = SaveWith("kxoILBM", ref.get(), "two.iff");
    Buffer s = Chunky(24, 64, 64), r;
    for (uint32_t i = 0; i < 64 * 64; ++i) s->Data[3 * i] = uint8_t(i), s->Data[3 * i + 1] = uint8_t(i >> 4), s->Data[3 * i + 2] = uint8_t(i * 3);
    ASSERT_EQ(RunOp<kxpPaletteDither>(s.get(), &r, With(ilbm, {{"COLORDEPTH", "5"}})), 0u);
    int white = 0;
    for (int i = 0; i < 32; ++i) {
        const Colour e = EntryOf(r.get(), i);
        if (e == Colour{255, 255, 255}) {
            ++white;
            continue;
        }
        for (int c = 0; c < 3; ++c) EXPECT_EQ(e[c] % 16, 0) << i;
    }
    EXPECT_EQ(white, 1);
}

TEST(PaletteDither, CountsSaturate)
{
    // 65536 pixels of one colour: the bucket stays occupied.
    std::vector<uint8_t> pixels(65536 * 3);
    for (size_t i = 0; i < pixels.size(); i += 3) pixels[i] = 200, pixels[i + 1] = 100, pixels[i + 2] = 50;
    KXQEntry e[4] = {{10, 10, 10, 0}};
    ASSERT_EQ(kxpPaletteDither::CompletePalette(pixels.data(), 256, 256, e, 1, 4), 0u);
    EXPECT_EQ(e[1].R, 192);
    EXPECT_EQ(e[1].G, 96);
    EXPECT_EQ(e[1].B, 48);
    EXPECT_EQ(e[2].R + e[2].G + e[2].B + e[3].R + e[3].G + e[3].B, 0);
    // The kept entries' own buckets (keyed unmasked) are emptied first.
    KXQEntry k[4] = {{197, 98, 55, 0}};
    ASSERT_EQ(kxpPaletteDither::CompletePalette(pixels.data(), 256, 256, k, 1, 4), 0u);
    EXPECT_EQ(k[1].R + k[1].G + k[1].B, 0);
}

TEST(PaletteDither, MethodsAndOrderedAsBurkes)
{
    std::vector<Colour> colours;
    for (int i = 0; i < 256; ++i) colours.push_back({i, (i * 3) & 255, 255 - i});
    Buffer ref = Reference(8, colours);
    const std::string png = SaveWith("kxoPNG", ref.get(), "methods.png");
    Buffer s = Chunky(24, 33, 17);
    for (uint32_t i = 0; i < s->BufferSize; ++i) s->Data[i] = uint8_t(i * 7 + i / 5);
    Buffer ordered, burkes, floyd, best;
    ASSERT_EQ(RunOp<kxpPaletteDither>(s.get(), &ordered, With(png, {{"DITHERMODE", "ordered"}})), 0u);
    ASSERT_EQ(RunOp<kxpPaletteDither>(s.get(), &burkes, With(png, {{"DITHERMODE", "BURKES"}})), 0u);
    ASSERT_EQ(RunOp<kxpPaletteDither>(s.get(), &floyd, With(png)), 0u);
    ASSERT_EQ(RunOp<kxpPaletteDither>(s.get(), &best, With(png, {{"DITHERMODE", "BestPen"}})), 0u);
    EXPECT_EQ(0, memcmp(ordered->Data, burkes->Data, ordered->BufferSize));
    EXPECT_NE(0, memcmp(floyd->Data, burkes->Data, floyd->BufferSize));
    // No completion at 8 bits from an 8-bit reference: every pixel names
    // one of the reference's colours.
    for (uint32_t i = 0; i < best->BufferSize; ++i)
        ASSERT_NE(std::find(colours.begin(), colours.end(), EntryOf(best.get(), best->Data[i])), colours.end()) << i;
}

TEST(PaletteDither, SharedReaderKeepsItsPicture)
{
    // The library object's own PNG reader holds the picture being dithered;
    // the reference, a PNG too, must be read by another object.
    Buffer pic = Chunky(24, 6, 5);
    for (uint32_t i = 0; i < pic->BufferSize; ++i) pic->Data[i] = uint8_t(i * 11);
    const std::string source = SaveWith("kxoPNG", pic.get(), "held.png");
    Buffer ref = Reference(4, Sixteen());
    const std::string png = SaveWith("kxoPNG", ref.get(), "ref.png");

    KXClass lib;
    KXObject** readers = lib.GetObjects(0);
    const KXFormatReg* reg = KX_FindFormatReg("kxoPNG");
    ASSERT_TRUE(readers && reg && reg->Reader >= 0);
    KXObject* shared = readers[reg->Reader];
    ASSERT_EQ(shared->SetReadName(source.c_str()), 0u);
    ASSERT_EQ(shared->Load(), 0u);
    KX_GfxBuffer* held = nullptr;
    ASSERT_EQ(shared->GetGfxBuffer(&held), 0u);

    kxpPaletteDither op(&lib);
    uint32_t err = 0;
    KXConfig cfg(op.PadPath, &err);
    cfg.SetValue("PALETTEFILE", png.c_str());
    op.SetLocalConfig(cfg.GetPadList());
    KX_GfxBuffer* r = nullptr;
    ASSERT_EQ(op.OperateTagList(held, &r, nullptr), 0u);
    KX_GfxBuffer* still = nullptr;
    ASSERT_EQ(shared->GetGfxBuffer(&still), 0u);
    EXPECT_EQ(still, held);
    EXPECT_EQ(0, memcmp(held->Data, pic->Data, pic->BufferSize));
    EXPECT_EQ(r->Width, 6u);
}
