// The operator frame, seen through the geometry operators: input families,
// result records, alpha and flag carry-over, progress, key parsing,
// result ownership.
#include <clocale>
#include <cmath>

#include "geo_support.h"
#include "operators/geometry/kxpCrop.h"
#include "operators/geometry/kxpCut.h"
#include "operators/geometry/kxpCutInverse.h"
#include "operators/geometry/kxpLeftToRight.h"
#include "operators/geometry/kxpMirror.h"
#include "operators/geometry/kxpMirrorCopy.h"
#include "operators/geometry/kxpPaste.h"
#include "operators/geometry/kxpResize.h"
#include "operators/geometry/kxpResizeDDA.h"
#include "operators/geometry/kxpRotate.h"
#include "operators/geometry/kxpRotateFree.h"
#include "operators/geometry/kxpScale50.h"
#include "operators/geometry/kxpTopToBottom.h"

using namespace geo;

namespace {

struct Parsed {
    const char* text;
    int32_t value;
};

TEST(KeyParsing, LongIsAtolOnA32BitLong)
{
    const Parsed cases[] = {{"42", 42}, {"  -7xyz", -7}, {"+5", 5}, {"abc", 0}, {"", 0}, {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN}, {"12.9", 12}};
    for (const auto& c : cases) EXPECT_EQ(KXP_ParseLong(c.text), c.value) << c.text;
    // Unsigned keys take the same number through a 32-bit cast.
    EXPECT_EQ(static_cast<uint32_t>(KXP_ParseLong("-3")), 0xFFFFFFFDu);
}

TEST(KeyParsing, RealsIgnoreTheLocaleAndReportNonFinite)
{
    const char* old = setlocale(LC_NUMERIC, nullptr);
    std::string saved = old ? old : "C";
    setlocale(LC_NUMERIC, "de_DE.UTF-8");  // a comma locale when installed
    double v = 0;
    EXPECT_TRUE(KXP_ParseReal("1.5", &v));
    EXPECT_EQ(v, 1.5);
    EXPECT_TRUE(KXP_ParseReal(" -2e1", &v));
    EXPECT_EQ(v, -20.0);
    EXPECT_TRUE(KXP_ParseReal("nan", &v));
    EXPECT_TRUE(std::isnan(v));
    EXPECT_FALSE(KXP_ParseReal("x1", &v));
    setlocale(LC_NUMERIC, saved.c_str());
}

// ---- input families: one row per input kind, one column per operator ----

enum Kind { PAL8, PAL4, PLANES4, HAM6, EHB6, RGB24, RGB48, A1, A2, A4, A8_24, A8_48, A1_2, A1_8_24, A1_4, TYPE3, DEPTH12 };

Buffer MakeKind(Kind k)
{
    Buffer b;
    switch (k) {
    case PAL8: return Make(4, 4, 8);
    case PAL4: return Make(4, 4, 4);
    case PLANES4: {
        KX_GfxBuffer* p = nullptr;
        KXSUP_AllocGfxBuffer(&p, 2, 4 * 2 * 4, MEMF_CLEAR);  // 4 planes of 4 rows of 2 bytes
        p->Type = BITPLANE;
        p->Width = 16;
        p->Height = 4;
        p->ColorDepth = 4;
        p->BytesPerLine = 2;
        p->ViewMode = KXVIEWMODE_NONE;
        for (uint32_t i = 0; i < p->BufferSize; i++) p->Data[i] = static_cast<uint8_t>(i * 29);
        return Buffer(p);
    }
    case HAM6: b = Make(4, 4, 6); b->ViewMode = KXVIEWMODE_HAM; return b;
    case EHB6: b = Make(4, 4, 6); b->ViewMode = KXVIEWMODE_EHB; return b;
    case RGB24: return Make(4, 4, 24);
    case RGB48: return Make(4, 4, 48);
    case A1: b = Make(4, 4, 8); KXSUP_SetGfxBufferVersion(b.get(), 3); b->AlphaType = KXALPHA_SINGLECOLOR; KXSUP_SetAlphaIndex(b.get(), 7); return b;
    case A4: {
        b = Make(4, 4, 8);
        KXSUP_SetGfxBufferVersion(b.get(), 3);
        auto* t = static_cast<uint8_t*>(AllocVec(256, MEMF_ANY));
        for (int i = 0; i < 256; i++) t[i] = static_cast<uint8_t>(255 - i);
        b->AlphaType = KXALPHA_MULTICOLOR;
        b->AlphaData = t;
        return b;
    }
    case A2: b = Make(4, 4, 24); AddAlpha8(b.get()); return b;
    case A8_24:
    case A8_48: {
        b = Make(4, 4, k == A8_24 ? 24 : 48);
        KXSUP_SetGfxBufferVersion(b.get(), 3);
        auto* m = static_cast<uint16_t*>(AllocVec(16 * 2, MEMF_ANY));
        for (int i = 0; i < 16; i++) m[i] = static_cast<uint16_t>(i * 4000);
        b->AlphaType = KXALPHA_CHANNEL16;
        b->AlphaData = m;
        return b;
    }
    // The index bit with a map or table bit: AlphaData is the index.
    case A1_2:
    case A1_8_24:
    case A1_4:
        b = Make(4, 4, k == A1_8_24 ? 24 : 8);
        KXSUP_SetGfxBufferVersion(b.get(), 3);
        b->AlphaType = KXALPHA_SINGLECOLOR | (k == A1_2 ? KXALPHA_CHANNEL8 : k == A1_4 ? KXALPHA_MULTICOLOR : KXALPHA_CHANNEL16);
        KXSUP_SetAlphaIndex(b.get(), 7);
        return b;
    case TYPE3: b = Make(4, 4, 8); b->Type = 3; return b;
    case DEPTH12: b = Make(4, 4, 8); b->ColorDepth = 12; return b;
    }
    return b;
}

struct KindRow {
    Kind kind;
    const char* name;
    uint32_t code;       // every operator of the table
    uint32_t alphaType;  // of the result
};

template <class Op>
void CheckKinds(const char* opName, std::vector<std::pair<const char*, const char*>> keys)
{
    const KindRow rows[] = {
        {PAL8, "palette 8", 0, 0},       {PAL4, "palette 4", 0, 0},        {PLANES4, "bit planes", 0, 0},
        {HAM6, "HAM", KXERR_NOHAM, 0},    {EHB6, "EHB", 0, 0},               {RGB24, "24 bit", 0, 0},
        {RGB48, "48 bit", 0, 0},          {A1, "alpha 1", 0, KXALPHA_SINGLECOLOR}, {A2, "alpha 2", 0, KXALPHA_CHANNEL8},
        {A4, "alpha 4", 0, KXALPHA_MULTICOLOR}, {A8_24, "alpha 8 on 24", 0, KXALPHA_CHANNEL8}, {A8_48, "alpha 8 on 48", 0, KXALPHA_CHANNEL8},
        {A1_2, "alpha 1|2", 0, KXALPHA_SINGLECOLOR}, {A1_8_24, "alpha 1|8 on 24", 0, KXALPHA_SINGLECOLOR},
        {A1_4, "alpha 1|4", 0, KXALPHA_SINGLECOLOR},
        {TYPE3, "type 3", KXERR_NOTSUPPORTED, 0}, {DEPTH12, "depth 12", KXERR_FILEREQUIREMENTS, 0},
    };
    for (const auto& row : rows) {
        Buffer src = MakeKind(row.kind);
        Op op(Lib());
        KX_GfxBuffer* res = nullptr;
        uint32_t code = RunOp(op, src.get(), &res, keys);
        EXPECT_EQ(code, row.code) << opName << " on " << row.name;
        if (code) {
            EXPECT_EQ(res, nullptr) << opName << " on " << row.name;
            continue;
        }
        ASSERT_NE(res, nullptr);
        EXPECT_EQ(res->Type, static_cast<uint32_t>(ONEPLANE)) << opName << " on " << row.name;
        EXPECT_EQ(res->Version >= 3 ? res->AlphaType : 0u, row.alphaType) << opName << " on " << row.name;
        if (row.alphaType == KXALPHA_SINGLECOLOR) {
            EXPECT_EQ(KXSUP_AlphaIndex(res), 7u);
        }
        if (row.alphaType == KXALPHA_MULTICOLOR) {
            EXPECT_NE(res->AlphaData, src->AlphaData) << "own copy of the table";
            EXPECT_EQ(KXSUP_AlphaBytes(res)[3], 252);
        }
        EXPECT_EQ(res->ColorDepth == 48, src->ColorDepth == 48) << opName << " on " << row.name;
        // The result's bytes fit its record.
        EXPECT_GE(res->BufferSize, res->Width * res->Height * Bpp(res->ColorDepth));
    }
}

TEST(InputKinds, EveryOperatorTakesTheSameFamily)
{
    CheckKinds<kxpResize>("Resize", {{"NEW_WIDTH", "3"}, {"NEW_HEIGHT", "5"}});
    CheckKinds<kxpResizeDDA>("ResizeDDA", {{"ZOOM_FACTOR", "1.5"}});
    CheckKinds<kxpScale50>("Scale50", {{"METHOD", "DOUBLE"}});
    CheckKinds<kxpRotate>("Rotate", {{"DEGREES", "270"}});
    CheckKinds<kxpRotateFree>("RotateFree", {{"ROTATE_ANGLE", "30"}});
    CheckKinds<kxpMirror>("Mirror", {});
    CheckKinds<kxpMirrorCopy>("MirrorCopy", {{"MIRRORMODE", "VERTLOWER"}});
    CheckKinds<kxpTopToBottom>("TopToBottom", {});
    CheckKinds<kxpLeftToRight>("LeftToRight", {});
    CheckKinds<kxpCrop>("Crop", {{"KX_AREA", "1,1,2,2"}});
    CheckKinds<kxpCut>("Cut", {{"KX_AREA", "1,1,2,2"}});
    CheckKinds<kxpCutInverse>("CutInverse", {{"KX_AREA", "1,1,2,2"}});
}

TEST(Frame, NullArgumentsLeaveTheResultPointer)
{
    kxpMirror op(Lib());
    Buffer src = Make(2, 2, 24);
    KX_GfxBuffer* marker = reinterpret_cast<KX_GfxBuffer*>(0x1234);
    KX_GfxBuffer* res = marker;
    EXPECT_EQ(op.OperateTagList(nullptr, &res, nullptr), KXERR_INTERNALACCESS);
    EXPECT_EQ(res, marker);
    EXPECT_EQ(op.OperateTagList(src.get(), nullptr, nullptr), KXERR_INTERNALACCESS);
    EXPECT_EQ(op.DetachResult(nullptr), KXERR_INTERNALACCESS);
}

TEST(Frame, DetachHandsOverOnceAndUndetachedResultsAreFreed)
{
    kxpMirror op(Lib());
    Buffer src = Make(3, 2, 24);
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(op, src.get(), &res), 0u);
    // A second run without detaching must not lose the first result (the
    // leak checker of the sanitizer build watches this).
    ASSERT_EQ(RunOp(op, src.get(), &res), 0u);
    // The pending result fed back as the next source stays valid for the run.
    KX_GfxBuffer* again = nullptr;
    ASSERT_EQ(RunOp(op, res, &again), 0u);
    EXPECT_EQ(Bytes(again), Bytes(src.get()));
    KX_GfxBuffer* out = nullptr;
    EXPECT_EQ(op.DetachResult(&out), 0u);
    EXPECT_EQ(out, again);
    Buffer owned(out);
    EXPECT_EQ(op.DetachResult(&out), 0u);
    EXPECT_EQ(out, nullptr);
    op.Reset();
}

TEST(Frame, ASecondSourceNeverGetsTheFirstSourcesAlpha)
{
    kxpTopToBottom op(Lib());
    Buffer big = Make(8, 8, 24);
    AddAlpha8(big.get());
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(op, big.get(), &res), 0u);
    big.reset();  // the borrowed map is gone with it
    Buffer small = Make(2, 2, 24);
    ASSERT_EQ(RunOp(op, small.get(), &res), 0u);
    EXPECT_EQ(res->Version >= 3 ? res->AlphaType : 0u, 0u);
}

std::vector<uint32_t> g_reports;
void Hook(KXProgress* p, uintptr_t user)
{
    EXPECT_EQ(user, 77u);
    g_reports.push_back(p->Percent);
}

TEST(Frame, ProgressBeforeEveryEighthRowWithoutAHundred)
{
    kxpTopToBottom op(Lib());
    Buffer src = Make(3, 20, 24);
    op.SetProgress(Hook, 77);
    g_reports.clear();
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(op, src.get(), &res), 0u);
    EXPECT_EQ(g_reports, (std::vector<uint32_t>{0, 40, 80}));
    op.Reset();
    g_reports.clear();
    ASSERT_EQ(RunOp(op, src.get(), &res), 0u);
    EXPECT_TRUE(g_reports.empty()) << "Reset forgets the hook";
}

TEST(Frame, RecordVersionByteOrderAndCarriedFlags)
{
    // Version 1 source: NativeDIPF is not taken over.
    Buffer old = Make(2, 2, 24, {}, 1);
    old->NativeDIPF = 0x1234;
    kxpMirror mirror(Lib());
    KX_GfxBuffer* res = nullptr;
    ASSERT_EQ(RunOp(mirror, old.get(), &res), 0u);
    EXPECT_EQ(res->NativeDIPF, 0u);
    EXPECT_EQ(res->Version, 2u);

    // Big-endian 48-bit with gray and 8-bit-source marks, through Resize.
    Buffer wide = Make(2, 2, 48, {0x12, 0x34, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 8, 0, 9, 0, 10, 0, 11});
    KXSUP_SetGfxBufferEndianess(wide.get(), KXGFXF_MM);
    KXSUP_AddGfxBufferFlags(wide.get(), KXGFXF_GRAY | KXGFXF_SRC8BIT, 1);
    kxpResize resize(Lib());
    ASSERT_EQ(RunOp(resize, wide.get(), &res), 0u);
    EXPECT_EQ(KXSUP_GetGfxBufferEndianess(wide.get()), static_cast<uint32_t>(KXENDIAN_LITTLE)) << "source made host-ordered";
    EXPECT_EQ(reinterpret_cast<uint16_t*>(wide->Data)[0], 0x1234);
    EXPECT_EQ(reinterpret_cast<uint16_t*>(res->Data)[0], 0x1234);
    const uint32_t flags = KXSUP_GetGfxBufferFlags(res);
    EXPECT_TRUE(flags & KXGFXF_II);
    EXPECT_TRUE(flags & KXGFXF_GRAY);
    EXPECT_FALSE(flags & KXGFXF_SRC8BIT) << "Resize carries the gray bit only";

    // Mirror moves samples unchanged: the byte order stays the source's.
    Buffer be = Make(2, 1, 48);
    KXSUP_SetGfxBufferEndianess(be.get(), KXGFXF_MM);
    KXSUP_AddGfxBufferFlags(be.get(), KXGFXF_GRAY | KXGFXF_SRC8BIT | KXGFXF_SRCLOWDEPTH, 1);
    ASSERT_EQ(RunOp(mirror, be.get(), &res), 0u);
    EXPECT_EQ(KXSUP_GetGfxBufferEndianess(be.get()), static_cast<uint32_t>(KXENDIAN_BIG));
    EXPECT_EQ(KXSUP_GetGfxBufferFlags(res), static_cast<uint32_t>(KXGFXF_MM | KXGFXF_GRAY | KXGFXF_SRC8BIT | KXGFXF_SRCLOWDEPTH));
}

TEST(Frame, AShortPixelBlockIsRefused)
{
    Buffer src = Make(4, 4, 24);
    src->BufferSize = 20;  // claims 4 x 4 x 3 = 48 bytes of pixels
    kxpRotate op(Lib());
    KX_GfxBuffer* res = nullptr;
    EXPECT_EQ(RunOp(op, src.get(), &res), KXERR_FILEREQUIREMENTS);
}

}  // namespace
