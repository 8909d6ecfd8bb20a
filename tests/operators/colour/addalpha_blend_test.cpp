// kxpAddAlpha and kxpAlphaBlend: which inputs they take, the alpha value
// and colour keys, maps made from a second picture (grey ramp, other
// palettes, scaling, refusals), the mix and its weights, the size of the
// result's pixel block, ImageMagick's "over" as an oracle, and that second
// pictures are read without disturbing the library's shared readers.
#include <array>

#include "dither_kinds.h"
#include "operators/colour/kxpAddAlpha.h"
#include "operators/colour/kxpAlphaBlend.h"
#include "oracle.h"
#include "second_files.h"

using namespace colour_test;

namespace {

using Keys = std::vector<std::pair<const char*, const char*>>;

Keys Path(const char* key, const std::string& path, Keys more = {})
{
    static std::vector<std::string> keep;
    keep.push_back(path);
    more.push_back({key, keep.back().c_str()});
    return more;
}

// 24-bit pixels of the given colours, one row.
Buffer Row24(std::vector<std::array<uint8_t, 3>> colours)
{
    Buffer s = Chunky(24, uint32_t(colours.size()), 1);
    for (size_t i = 0; i < colours.size(); ++i) memcpy(s->Data + 3 * i, colours[i].data(), 3);
    return s;
}

std::vector<int> Map(const Buffer& r) { return std::vector<int>(KXSUP_AlphaBytes(r.get()), KXSUP_AlphaBytes(r.get()) + r->Width * r->Height); }

// A palette picture w x h of the depth: index (x + y) mod colours.
Buffer Indexed(uint32_t depth, uint32_t w, uint32_t h)
{
    Buffer b = Chunky(depth, w, h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) b->Data[y * w + x] = uint8_t((x + y) % (1u << depth));
    return b;
}

void GreyRamp(KX_GfxBuffer* b)
{
    for (int i = 0; i < 256; ++i) memset(b->Palette + 3 * i, i, 3);
}

}  // namespace

TEST(AddAlpha, TakesChunkyTrueColourOnly)
{
    ExpectCodes<kxpAddAlpha>([](const InputKind& k, uint32_t) { return k.family & (k24 | k48) ? 0u : uint32_t(KXERR_NEED24BIT); });
}

TEST(AddAlpha, AllModeReplacesAnyAlpha)
{
    for (const InputKind& k : InputKinds()) {
        if (!(k.family & (k24 | k48))) continue;
        for (uint32_t alpha : KXT_AlphaKinds) {
            SCOPED_TRACE(KindName(k, alpha));
            Buffer s = MakeInput(k, alpha), r;
            KXSUP_AddGfxBufferFlags(s.get(), KXGFXF_GRAY | KXGFXF_SRC8BIT, 1);
            const uint32_t order = KXSUP_GetGfxBufferEndianess(s.get());
            std::vector<uint8_t> before(s->Data, s->Data + s->BufferSize);
            ASSERT_EQ(RunOp<kxpAddAlpha>(s.get(), &r), 0u);
            // No keys: alpha 0 everywhere; pixels, size and byte order kept.
            EXPECT_EQ(KXSUP_AlphaHolds(r.get()), uint32_t(KXALPHA_CHANNEL8));
            EXPECT_EQ(Map(r), std::vector<int>(20, 0));
            EXPECT_EQ(r->BufferSize, s->BufferSize);
            EXPECT_EQ(0, memcmp(r->Data, before.data(), before.size()));
            EXPECT_EQ(std::vector<uint8_t>(s->Data, s->Data + s->BufferSize), before) << "the source is not changed";
            EXPECT_EQ(KXSUP_GetGfxBufferEndianess(r.get()), order);
            EXPECT_TRUE(KXSUP_GetGfxBufferFlags(r.get()) & KXGFXF_GRAY);
            EXPECT_TRUE(KXSUP_GetGfxBufferFlags(r.get()) & KXGFXF_SRC8BIT);
        }
    }
    Buffer s = Row24({{1, 2, 3}}), r;
    ASSERT_EQ(RunOp<kxpAddAlpha>(s.get(), &r, {{"alpha_value8", "77"}}), 0u);
    EXPECT_EQ(Map(r), std::vector<int>{77}) << "keys in any case";
}

TEST(AddAlpha, ValueKeys)
{
    Buffer s = Row24({{255, 0, 0}, {0, 255, 0}, {0, 0, 0}, {254, 0, 0}}), r;
    struct Case {
        Keys keys;
        std::vector<int> map;
    } cases[] = {
        {{{"ALPHA_MODE", "value"}, {"ALPHA_PIXEL24", "0xFF0000"}, {"ALPHA_VALUE8", "128"}}, {128, 255, 255, 255}},
        {{{"ALPHA_MODE", "VALUE"}, {"ALPHA_PIXEL24", "0xff0000"}}, {0, 255, 255, 255}},
        // Without "0x" the colour stays black, and ALPHA_VALUE is still ignored.
        {{{"ALPHA_MODE", "VALUE"}, {"ALPHA_PIXEL24", "16711680"}, {"ALPHA_VALUE", "0x00FF0080"}}, {255, 255, 0, 255}},
        {{{"ALPHA_MODE", "VALUE"}, {"ALPHA_VALUE", "0x00FF0080"}}, {255, 128, 255, 255}},
        {{{"ALPHA_MODE", "VALUE"}, {"ALPHA_VALUE8", "300"}}, {255, 255, 255, 255}},
        {{{"ALPHA_MODE", "VALUE"}, {"ALPHA_VALUE8", "-1"}, {"ALPHA_PIXEL24", "0x00ff00"}}, {255, 255, 255, 255}},
        {{{"ALPHA_MODE", "VALUE"}, {"ALPHA_VALUE8", "9"}}, {255, 255, 9, 255}},
        {{{"ALPHA_MODE", "other"}, {"ALPHA_VALUE8", "9"}}, {9, 9, 9, 9}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(RunOp<kxpAddAlpha>(s.get(), &r, c.keys), 0u);
        EXPECT_EQ(Map(r), c.map) << c.keys[1].second;
    }
    // 48 bits: each sample compared by its high byte, in either order.
    for (uint32_t order : {uint32_t(KXGFXF_MM), uint32_t(KXGFXF_II)}) {
        Buffer d = Chunky(48, 2, 1);
        const bool big = order == KXGFXF_MM;
        const uint16_t v[6] = {0xFF12, 0x0034, 0x00FF, 0xFE00, 0x0000, 0x0000};
        for (int i = 0; i < 6; ++i) Put16(d.get(), i, v[i], big);
        KXSUP_SetGfxBufferEndianess(d.get(), order);
        ASSERT_EQ(RunOp<kxpAddAlpha>(d.get(), &r, {{"ALPHA_MODE", "VALUE"}, {"ALPHA_PIXEL24", "0xFF0000"}, {"ALPHA_VALUE8", "5"}}), 0u);
        EXPECT_EQ(Map(r), (std::vector<int>{5, 255})) << order;
        EXPECT_EQ(KXSUP_GetGfxBufferFlags(d.get()) & (KXGFXF_MM | KXGFXF_II), order) << "48 bits are not converted";
    }
}

TEST(AddAlpha, MapFromAnotherPicture)
{
    Buffer s = Chunky(24, 6, 4), r;
    Buffer ramp = Indexed(8, 6, 4);
    GreyRamp(ramp.get());
    for (uint32_t i = 0; i < 24; ++i) ramp->Data[i] = uint8_t(i * 10);
    const std::string rampPng = SaveWith("kxoPNG", ramp.get(), "ramp.png");
    ASSERT_EQ(RunOp<kxpAddAlpha>(s.get(), &r, Path("ALPHA_SOURCE", rampPng, {{"ALPHA_MODE", "SOURCE"}})), 0u);
    EXPECT_EQ(Map(r), std::vector<int>(ramp->Data, ramp->Data + 24)) << "indices copied";

    // A 1-bit ILBM (bit planes) black and white: index 1 opaque, 0 clear;
    // a red entry gives its grey, 76.
    Buffer bw = Indexed(1, 6, 4);
    memset(bw->Palette, 0, 3), memset(bw->Palette + 3, 255, 3);
    const std::string bwIff = SaveWith("kxoILBM", bw.get(), "bw.iff");
    ASSERT_EQ(RunOp<kxpAddAlpha>(s.get(), &r, Path("ALPHA_SOURCE", bwIff, {{"ALPHA_MODE", "SOURCE"}})), 0u);
    for (uint32_t i = 0; i < 24; ++i) EXPECT_EQ(Map(r)[i], bw->Data[i] ? 255 : 0) << i;
    bw->Palette[3] = 255, bw->Palette[4] = 0, bw->Palette[5] = 0;
    const std::string redGif = SaveWith("kxoGIF", bw.get(), "red.gif");
    ASSERT_EQ(RunOp<kxpAddAlpha>(s.get(), &r, Path("ALPHA_SOURCE", redGif, {{"ALPHA_MODE", "SOURCE"}})), 0u);
    for (uint32_t i = 0; i < 24; ++i) EXPECT_EQ(Map(r)[i], bw->Data[i] ? 76 : 0) << i;

    // Another size: scaled unless SCALE_SOURCEGFX is "off".
    Buffer small = Indexed(8, 3, 2);
    GreyRamp(small.get());
    const std::string smallPng = SaveWith("kxoPNG", small.get(), "small.png");
    ASSERT_EQ(RunOp<kxpAddAlpha>(s.get(), &r, Path("ALPHA_SOURCE", smallPng, {{"ALPHA_MODE", "SOURCE"}})), 0u);
    EXPECT_EQ(r->Width, 6u);
    EXPECT_EQ(Map(r).size(), 24u);
    EXPECT_EQ(RunOp<kxpAddAlpha>(s.get(), nullptr, Path("ALPHA_SOURCE", smallPng, {{"ALPHA_MODE", "SOURCE"}, {"SCALE_SOURCEGFX", "off"}})),
              uint32_t(KXERR_SIZEMISMATCH));

    Buffer deep = Chunky(24, 6, 4);
    const std::string deepPng = SaveWith("kxoPNG", deep.get(), "deep.png");
    const std::string text = ScratchPath("alpha.txt");
    ASSERT_TRUE(KXT_WriteFile(text, "plain words\n"));
    struct Refusal {
        std::string path;
        uint32_t code;
    } refusals[] = {{deepPng, KXERR_NO24BIT}, {text, KXERR_NOMEMORY}, {ScratchPath("none.png"), KXERR_IO}, {"", KXERR_IO}, {std::string(260, 'x'), KXERR_IO}};
    for (const auto& c : refusals)
        EXPECT_EQ(RunOp<kxpAddAlpha>(s.get(), nullptr, Path("ALPHA_SOURCE", c.path, {{"ALPHA_MODE", "SOURCE"}})), c.code) << c.path;
}

namespace {

// A 24-bit blend picture w x h with an 8-bit map of the given value.
Buffer BlendPicture(uint32_t w, uint32_t h, int mapValue)
{
    Buffer b = colour_oracle::Noise(24, w, h, 7);
    if (mapValue >= 0) {
        AddAlpha(b.get(), KXALPHA_CHANNEL8);
        memset(b->AlphaData, mapValue, size_t(w) * h);
    }
    return b;
}

}  // namespace

TEST(AlphaBlend, InputKindsAgainstA24BitBlend)
{
    Buffer blend = BlendPicture(5, 4, -1);
    const std::string png = SaveWith("kxoPNG", blend.get(), "blend5x4.png");
    ExpectCodes<kxpAlphaBlend>(
        [](const InputKind& k, uint32_t alpha) -> uint32_t {
            if (!(k.family & (k24 | k48))) return KXERR_NEED24BIT;
            if (k.family == k48) return KXERR_NEED48BIT;
            const bool map = (alpha & (KXALPHA_CHANNEL8 | KXALPHA_CHANNEL16)) && !(alpha & KXALPHA_SINGLECOLOR);
            return map ? 0u : uint32_t(KXERR_NEEDALPHA);
        },
        Path("BLEND_GRAPHICS", png));
}

TEST(AlphaBlend, WeightsAndSizes)
{
    Buffer s = colour_oracle::Noise(24, 7, 5, 3), r;
    AddAlpha(s.get(), KXALPHA_CHANNEL8);
    Buffer blend = BlendPicture(7, 5, 40);
    const std::string png = SaveWith("kxoPNG", blend.get(), "blend7x5.png");
    for (int a : {128, 255, 0}) {
        SCOPED_TRACE(a);
        memset(s->AlphaData, a, 35);
        ASSERT_EQ(RunOp<kxpAlphaBlend>(s.get(), &r, Path("BLEND_GRAPHICS", png)), 0u);
        EXPECT_EQ(r->BufferSize, 7u * 5 * 3) << "one block of samples, no more";
        EXPECT_EQ(r->ColorDepth, 24u);
        EXPECT_EQ(KXSUP_AlphaHolds(r.get()), 0u);
        for (uint32_t i = 0; i < 105; ++i) ASSERT_EQ(r->Data[i], (a * blend->Data[i] + (255 - a) * s->Data[i]) / 255) << i;
    }
    // The blend picture's own map (40) as the weight.
    ASSERT_EQ(RunOp<kxpAlphaBlend>(s.get(), &r, Path("BLEND_GRAPHICS", png, {{"alpha_mode", "blendgfx_alpha"}})), 0u);
    for (uint32_t i = 0; i < 105; ++i) ASSERT_EQ(r->Data[i], (40 * blend->Data[i] + 215 * s->Data[i]) / 255) << i;

    // Another size: scaled with SCALE_BLENDGFX whatever its value, else 28.
    Buffer big = BlendPicture(14, 10, 90);
    const std::string bigPng = SaveWith("kxoPNG", big.get(), "blend14x10.png");
    EXPECT_EQ(RunOp<kxpAlphaBlend>(s.get(), nullptr, Path("BLEND_GRAPHICS", bigPng)), uint32_t(KXERR_SIZEMISMATCH));
    ASSERT_EQ(RunOp<kxpAlphaBlend>(s.get(), &r, Path("BLEND_GRAPHICS", bigPng, {{"SCALE_BLENDGFX", "NO"}})), 0u);
    EXPECT_EQ(r->Width, 7u);
    ASSERT_EQ(RunOp<kxpAlphaBlend>(s.get(), &r, Path("BLEND_GRAPHICS", bigPng, {{"SCALE_BLENDGFX", ""}, {"ALPHA_MODE", "BLENDGFX_ALPHA"}})), 0u);
    EXPECT_EQ(r->Height, 5u);

    // An 8-bit palette blend picture is converted for a 24-bit source.
    Buffer pal = Indexed(8, 7, 5);
    const std::string gif = SaveWith("kxoGIF", pal.get(), "blend.gif");
    memset(s->AlphaData, 255, 35);
    ASSERT_EQ(RunOp<kxpAlphaBlend>(s.get(), &r, Path("BLEND_GRAPHICS", gif)), 0u);
    for (uint32_t i = 0; i < 35; ++i) ASSERT_EQ(0, memcmp(r->Data + 3 * i, pal->Palette + 3 * pal->Data[i], 3)) << i;

    // Refusals: no weighting map, missing or unknown files.
    const std::string text = ScratchPath("blend.txt");
    ASSERT_TRUE(KXT_WriteFile(text, "not a picture\n"));
    Buffer plain = colour_oracle::Noise(24, 7, 5, 9);
    EXPECT_EQ(RunOp<kxpAlphaBlend>(plain.get(), nullptr, Path("BLEND_GRAPHICS", png)), uint32_t(KXERR_NEEDALPHA));
    EXPECT_EQ(RunOp<kxpAlphaBlend>(plain.get(), nullptr, Path("BLEND_GRAPHICS", gif, {{"ALPHA_MODE", "BLENDGFX_ALPHA"}})), uint32_t(KXERR_NEEDALPHA));
    EXPECT_EQ(RunOp<kxpAlphaBlend>(s.get(), nullptr, Path("BLEND_GRAPHICS", ScratchPath("gone.png"))), uint32_t(KXERR_IO));
    EXPECT_EQ(RunOp<kxpAlphaBlend>(s.get(), nullptr, Path("BLEND_GRAPHICS", text)), uint32_t(KXERR_NOMEMORY));
    EXPECT_EQ(RunOp<kxpAlphaBlend>(s.get(), nullptr), uint32_t(KXERR_IO));
}

TEST(AlphaBlend, SixteenBitSamples)
{
    // A big-endian source and blend: made host order, weighted by 8 bits.
    Buffer s = colour_oracle::Noise(48, 4, 3, 5), b = colour_oracle::Noise(48, 4, 3, 6), r;
    AddAlpha(s.get(), KXALPHA_CHANNEL8);
    for (uint32_t i = 0; i < 12; ++i) KXSUP_AlphaBytes(s.get())[i] = uint8_t(i * 20);
    const std::vector<uint16_t> src = colour_oracle::Samples(s.get()), blend = colour_oracle::Samples(b.get());
    const std::string png = SaveWith("kxoPNG", b.get(), "blend48.png");
    ASSERT_TRUE(KXSUP_ConvertGfxBufferEndianess(s.get(), KXENDIAN_BIG) == 0);
    ASSERT_EQ(RunOp<kxpAlphaBlend>(s.get(), &r, Path("BLEND_GRAPHICS", png)), 0u);
    EXPECT_EQ(r->BufferSize, 4u * 3 * 6);
    EXPECT_EQ(KXSUP_GetGfxBufferEndianess(r.get()), uint32_t(KXENDIAN_LITTLE));
    const std::vector<uint16_t> out = colour_oracle::Samples(r.get());
    for (uint32_t i = 0; i < 36; ++i) {
        const uint32_t a = (i / 3) * 20;
        ASSERT_EQ(out[i], (a * blend[i] + (255 - a) * src[i]) / 255) << i;
    }
    Buffer b24 = BlendPicture(4, 3, -1);
    const std::string png24 = SaveWith("kxoPNG", b24.get(), "blend24for48.png");
    EXPECT_EQ(RunOp<kxpAlphaBlend>(s.get(), nullptr, Path("BLEND_GRAPHICS", png24)), uint32_t(KXERR_NEED48BIT));
}

// ImageMagick's "over": the blend picture over an opaque source, weighted by
// the blend picture's alpha, rounded where we round down.
TEST(AlphaBlend, OracleImageMagickOver)
{
    if (!KXT_HaveTool("convert-im6.q16")) GTEST_SKIP() << "ImageMagick is missing";
    Buffer s = colour_oracle::Noise(24, 61, 7, 11), r;
    Buffer b = BlendPicture(61, 7, 0);
    for (uint32_t i = 0; i < 61 * 7; ++i) KXSUP_AlphaBytes(b.get())[i] = uint8_t(i * 37);
    const std::string png = SaveWith("kxoPNG", b.get(), "over.png");
    const std::string in = ScratchPath("over_src.ppm"), out = ScratchPath("over_out.ppm");
    ASSERT_TRUE(colour_oracle::WritePpm(in, s.get()));
    ASSERT_TRUE(colour_oracle::RunTool("convert-im6.q16 IN " + png + " -compose over -composite OUT", in, out));
    colour_oracle::Pnm p;
    ASSERT_TRUE(colour_oracle::ReadPnm(out, &p));
    ASSERT_EQ(RunOp<kxpAlphaBlend>(s.get(), &r, Path("BLEND_GRAPHICS", png, {{"ALPHA_MODE", "BLENDGFX_ALPHA"}})), 0u);
    EXPECT_LE(colour_oracle::MaxDiff(p.samples, colour_oracle::Samples(r.get())), 1u);
}

TEST(SecondPicture, SharedReadersKeepTheirPicture)
{
    // The library object's PNG reader holds the source; the alpha source
    // and the blend picture are PNGs too.
    Buffer pic = colour_oracle::Noise(24, 6, 4, 2);
    AddAlpha(pic.get(), KXALPHA_CHANNEL8);
    const std::string held = SaveWith("kxoPNG", pic.get(), "shared_src.png");
    Buffer grey = Indexed(8, 6, 4);
    GreyRamp(grey.get());
    const std::string second = SaveWith("kxoPNG", grey.get(), "shared_second.png");

    KXClass lib;
    KXObject** readers = lib.GetObjects(0);
    const KXFormatReg* reg = KX_FindFormatReg("kxoPNG");
    ASSERT_TRUE(readers && reg && reg->Reader >= 0);
    KXObject* shared = readers[reg->Reader];
    ASSERT_EQ(shared->SetReadName(held.c_str()), 0u);
    ASSERT_EQ(shared->Load(), 0u);
    KX_GfxBuffer* source = nullptr;
    ASSERT_EQ(shared->GetGfxBuffer(&source), 0u);
    const std::vector<uint8_t> before(source->Data, source->Data + source->BufferSize);

    kxpAddAlpha add(&lib);
    kxpAlphaBlend blend(&lib);
    for (KXOperator* op : {static_cast<KXOperator*>(&add), static_cast<KXOperator*>(&blend)}) {
        uint32_t err = 0;
        KXConfig cfg(op->PadPath, &err);
        cfg.SetValue("ALPHA_MODE", op == &add ? "SOURCE" : "SRCGFX_ALPHA");
        cfg.SetValue("ALPHA_SOURCE", second.c_str());
        cfg.SetValue("BLEND_GRAPHICS", second.c_str());
        op->SetLocalConfig(cfg.GetPadList());
        KX_GfxBuffer* r = nullptr;
        ASSERT_EQ(op->OperateTagList(source, &r, nullptr), 0u) << op->PadName;
        KX_GfxBuffer* still = nullptr;
        ASSERT_EQ(shared->GetGfxBuffer(&still), 0u);
        EXPECT_EQ(still, source);
        EXPECT_EQ(std::vector<uint8_t>(source->Data, source->Data + source->BufferSize), before);
    }
}
