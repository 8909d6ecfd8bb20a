// Crop, Cut, CutInverse and Paste: the area text, its limits, the
// background, and the paste buffer (registered addresses only).
#include <cinttypes>

#include "geo_support.h"
#include "operators/geometry/kxpCrop.h"
#include "operators/geometry/kxpCut.h"
#include "operators/geometry/kxpCutInverse.h"
#include "operators/geometry/kxpPaste.h"

using namespace geo;
using V = std::vector<uint8_t>;

namespace {

struct AreaCase {
    const char* area;
    uint32_t w, h;  // of the crop result
    uint32_t firstPixel;
};

TEST(Crop, AreaTextAndLimits)
{
    // 100 x 100 picture whose pixel value is its column (mod 256).
    std::vector<uint8_t> px(100 * 100);
    for (int i = 0; i < 10000; i++) px[i] = static_cast<uint8_t>(i % 100);
    Buffer src = Make(100, 100, 8, px);
    const AreaCase cases[] = {
        {"10,20,30,40", 30, 40, 10}, {"90,0,50,10", 10, 10, 90},  {"200,0,5,5", 1, 5, 99},      {"-1,0,5,5", 1, 5, 99},
        {"1,2,3,4,5", 3, 4, 1},      {"10,20", 90, 100, 10},       {"0,0,1,1", 1, 1, 0},
        {"000000000000000000000000000001,0,5,5", 100, 100, 0},  // over 32 characters: ignored
    };
    for (const auto& c : cases) {
        kxpCrop op(Lib());
        KX_GfxBuffer* res = nullptr;
        ASSERT_EQ(RunOp(op, src.get(), &res, {{"kx_area", c.area}}), 0u) << c.area;
        EXPECT_EQ(res->Width, c.w) << c.area;
        EXPECT_EQ(res->Height, c.h) << c.area;
        EXPECT_EQ(res->Data[0], c.firstPixel) << c.area;
    }
    kxpCrop op(Lib());
    KX_GfxBuffer* res = nullptr;
    EXPECT_EQ(RunOp(op, src.get(), &res, {{"KX_AREA", "0,0,0,5"}}), KXERR_SIZEMISMATCH);
    kxpCrop keyed(Lib());
    ASSERT_EQ(RunOp(keyed, src.get(), &res, {{"CROP_LEFTEDGE", "5"}, {"CROP_WIDTH", "2"}}), 0u);
    EXPECT_EQ(res->Width, 2u);
    EXPECT_EQ(res->Data[0], 5);
    kxpCrop both(Lib());
    ASSERT_EQ(RunOp(both, src.get(), &res, {{"KX_AREA", nullptr}, {"CROP_WIDTH", "2"}}), 0u);
    EXPECT_EQ(res->Width, 100u) << "KX_AREA present: the prefixed keys are not read";
}

TEST(Cut, Backgrounds)
{
    Buffer rgb = Make(4, 2, 24);
    AddAlpha8(rgb.get(), 100);
    kxpCut red(Lib());
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(red, rgb.get(), &res, {{"KX_AREA", "1,0,2,1"}, {"BACKCOLOR", "0xFF0080"}}), 0u);
    EXPECT_EQ(V(res->Data + 3, res->Data + 9), (V{255, 0, 128, 255, 0, 128}));
    EXPECT_EQ(V(res->Data, res->Data + 3), V(rgb->Data, rgb->Data + 3));
    EXPECT_EQ(KXSUP_AlphaBytes(res)[1], 128) << "alpha takes the blue byte";
    EXPECT_EQ(KXSUP_AlphaBytes(res)[0], 100);
    kxpCut plain(Lib());
    ASSERT_EQ(RunOp(plain, rgb.get(), &res, {{"KX_AREA", "0,0,1,1"}, {"BACKCOLOR", "FF0000"}}), 0u);
    EXPECT_EQ(V(res->Data, res->Data + 3), (V{0, 0, 0})) << "without 0x: black";

    // The pen is the remainder by 2^depth taken as non-negative: the fill
    // is always a colour of the picture, also for a negative BACKPEN.
    struct {
        uint32_t depth;
        const char* pen;
        uint8_t index;
    } pens[] = {{8, "300", 44}, {4, "17", 1},  {4, "-3", 13},   {4, "-35", 13}, {1, "-1", 1},
                {7, "-129", 127}, {8, "-1", 255}, {8, "-300", 212}, {3, "-8", 0},  {5, "-2147483648", 0}};
    for (const auto& p : pens) {
        Buffer pal = Make(2, 1, p.depth, {0, 0});
        kxpCut cut(Lib());
        ASSERT_EQ(RunOp(cut, pal.get(), &res, {{"KX_AREA", "0,0,1,1"}, {"BACKPEN", p.pen}}), 0u);
        EXPECT_EQ(res->Data[0], p.index) << p.depth << " bits, " << p.pen;
        kxpCutInverse inverse(Lib());
        ASSERT_EQ(RunOp(inverse, pal.get(), &res, {{"KX_AREA", "0,0,1,1"}, {"BACKPEN", p.pen}}), 0u);
        EXPECT_EQ(res->Data[1], p.index) << p.depth << " bits, " << p.pen << " outside the area";
    }
}

TEST(CutInverse, FillsOutsideInSixteenBits)
{
    Buffer wide = Make(3, 1, 48, Noise(18, 4));
    kxpCutInverse op(Lib());
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(op, wide.get(), &res, {{"KX_AREA", "1,0,1,1"}, {"BACKCOLOR", "0x00FF00"}}), 0u);
    const auto* s = reinterpret_cast<const uint16_t*>(res->Data);
    EXPECT_EQ(std::vector<uint16_t>(s, s + 3), (std::vector<uint16_t>{0, 65535, 0}));
    EXPECT_EQ(std::vector<uint16_t>(s + 6, s + 9), (std::vector<uint16_t>{0, 65535, 0}));
    EXPECT_EQ(memcmp(res->Data + 6, wide->Data + 6, 6), 0) << "the area is kept";
}

std::string Address(const void* p)
{
    char text[32];
    snprintf(text, sizeof text, "%" PRIxPTR, reinterpret_cast<uintptr_t>(p));
    return text;
}

TEST(Paste, RegisteredBuffersOnly)
{
    Buffer image = Make(4, 4, 24);
    Buffer patch = Make(2, 2, 24, V(12, 200));
    AddAlpha8(patch.get(), 50);
    kxpPaste op(Lib());
    KX_GfxBuffer* res = nullptr;
    const std::string addr = Address(patch.get());
    EXPECT_EQ(RunOp(op, image.get(), &res, {{"KX_AREA", "1,1,2,2"}, {"PASTEBUFFER", addr.c_str()}}), KXERR_NOMEMORY) << "not registered";
    EXPECT_EQ(RunOp(op, image.get(), &res, {{"KX_AREA", "1,1,2,2"}}), KXERR_NOMEMORY) << "no buffer";
    EXPECT_EQ(RunOp(op, image.get(), &res, {{"PASTEBUFFER", "deadbeef"}}), KXERR_NOMEMORY) << "an arbitrary address";

    KX_RegisterPasteBuffer(patch.get());
    ASSERT_EQ(RunOp(op, image.get(), &res, {{"KX_AREA", "1,1,2,2"}, {"PASTEBUFFER", addr.c_str()}}), 0u);
    EXPECT_EQ(res->Data[(1 * 4 + 1) * 3], 200);
    EXPECT_EQ(res->Data[0], image->Data[0]);
    ASSERT_EQ(res->AlphaType, static_cast<uint32_t>(KXALPHA_CHANNEL8));
    EXPECT_EQ(KXSUP_AlphaBytes(res)[0], 255) << "opaque outside";
    EXPECT_EQ(KXSUP_AlphaBytes(res)[1 * 4 + 1], 50) << "pasted map inside";

    // Without KX_AREA the prefixed keys place it (any case).
    kxpPaste keyed(Lib());
    ASSERT_EQ(RunOp(keyed, image.get(), &res, {{"paste_leftedge", "2"}, {"PASTE_TOPEDGE", "2"}, {"Paste_Width", "2"}, {"PASTE_HEIGHT", "2"}, {"PASTEBUFFER", addr.c_str()}}), 0u);
    EXPECT_EQ(res->Data[(2 * 4 + 2) * 3], 200);
    EXPECT_EQ(res->Data[(1 * 4 + 1) * 3], image->Data[(1 * 4 + 1) * 3]);

    kxpPaste narrow(Lib());
    EXPECT_EQ(RunOp(narrow, image.get(), &res, {{"KX_AREA", "1,1,3,2"}, {"PASTEBUFFER", addr.c_str()}}), KXERR_SIZEMISMATCH);
    Buffer pal = Make(4, 4, 8);
    kxpPaste depth(Lib());
    EXPECT_EQ(RunOp(depth, pal.get(), &res, {{"KX_AREA", "1,1,2,2"}, {"PASTEBUFFER", addr.c_str()}}), KXERR_FILEREQUIREMENTS);
    // A paste buffer whose AlphaData is a transparent index (bit 1 with a
    // map bit) has no map to paste: the index is never read as one.
    for (uint32_t mapBit : {uint32_t(KXALPHA_CHANNEL8), uint32_t(KXALPHA_CHANNEL16)}) {
        Buffer keyed = Make(2, 2, 24, V(12, 201));
        KXSUP_SetGfxBufferVersion(keyed.get(), 3);
        keyed->AlphaType = KXALPHA_SINGLECOLOR | mapBit;
        KXSUP_SetAlphaIndex(keyed.get(), 1);
        KX_RegisterPasteBuffer(keyed.get());
        const std::string keyedAddr = Address(keyed.get());
        kxpPaste key(Lib());
        ASSERT_EQ(RunOp(key, image.get(), &res, {{"KX_AREA", "1,1,2,2"}, {"PASTEBUFFER", keyedAddr.c_str()}}), 0u);
        EXPECT_EQ(res->Data[(1 * 4 + 1) * 3], 201);
        EXPECT_EQ(KXSUP_AlphaHolds(res), uint32_t(KXALPHA_NONE));
        EXPECT_EQ(keyed->AlphaType, KXALPHA_SINGLECOLOR | mapBit) << "the paste buffer is left as it was";
        EXPECT_EQ(KXSUP_AlphaIndex(keyed.get()), 1u);
        KX_UnregisterPasteBuffer(keyed.get());
    }

    KX_UnregisterPasteBuffer(patch.get());
    kxpPaste gone(Lib());
    EXPECT_EQ(RunOp(gone, image.get(), &res, {{"KX_AREA", "1,1,2,2"}, {"PASTEBUFFER", addr.c_str()}}), KXERR_NOMEMORY);
}

TEST(Paste, SixteenBitAlphaAndByteOrderOfThePasteBuffer)
{
    Buffer image = Make(2, 1, 48);
    Buffer patch = Make(1, 1, 48, {0x12, 0x34, 0, 0, 0, 0});
    KXSUP_SetGfxBufferEndianess(patch.get(), KXGFXF_MM);
    auto* m = static_cast<uint16_t*>(AllocVec(2, MEMF_ANY));
    m[0] = 0x00FF;  // big-endian 0xFF00 = 65280 -> 254
    patch->AlphaType = KXALPHA_CHANNEL16;
    patch->AlphaData = m;
    KX_RegisterPasteBuffer(patch.get());
    kxpPaste op(Lib());
    KX_GfxBuffer* res = nullptr;
    const std::string addr = Address(patch.get());
    ASSERT_EQ(RunOp(op, image.get(), &res, {{"KX_AREA", "1,0,1,1"}, {"PASTEBUFFER", addr.c_str()}}), 0u);
    KX_UnregisterPasteBuffer(patch.get());
    EXPECT_EQ(KXSUP_GetGfxBufferEndianess(patch.get()), static_cast<uint32_t>(KXENDIAN_LITTLE)) << "brought to the image's order";
    EXPECT_EQ(reinterpret_cast<uint16_t*>(res->Data)[3], 0x1234);
    EXPECT_EQ(patch->AlphaType, static_cast<uint32_t>(KXALPHA_CHANNEL8));
    EXPECT_EQ(KXSUP_AlphaBytes(res)[1], 254);
}

}  // namespace
