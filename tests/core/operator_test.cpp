// The operator base class: placeholders, the variadic tag buffer, the shared
// Reset (results and owned work buffers), the log after SetLog and Reset,
// and the pad look-up of an operator class.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/kxlib.h"
#include "support/testfiles.h"

namespace fs = std::filesystem;

namespace {

KXOperator* makeOperator(KXClass* lib, const char* cls) {
    const KXOperatorReg* reg = KX_FindOperatorReg(cls);
    return reg ? KX_NewOperator(lib, *reg) : nullptr;
}

KX_GfxBuffer* smallBuffer() {
    auto* b = static_cast<KX_GfxBuffer*>(AllocVec(sizeof(KX_GfxBuffer), MEMF_CLEAR));
    b->Version = 1;
    b->Data = static_cast<uint8_t*>(AllocVec(16, MEMF_CLEAR));
    b->BufferSize = 16;
    return b;
}

// An operator class as the modules write them.
class SampleOperator : public KXOperator {
public:
    explicit SampleOperator(KXClass* lib) {
        Lib = lib;
        ApplyRegistration("kxpMirror");
        BaseInit();
        InitWorkingFields();
        Configure(nullptr);
    }
    ~SampleOperator() override {
        SampleOperator::Reset();
        FreeConfig();
    }
    void Reset() override { FrameReset(); }
    uint32_t OperateTags(KX_GfxBuffer* source, KX_GfxBuffer** result, ...) override {
        va_list args;
        va_start(args, result);
        CollectTags(args);
        va_end(args);
        (void)source;
        return KXERR_NONE;
    }
};

}  // namespace

TEST(KXOperatorTest, PlaceholderCarriesTheRegistrationAndRefusesWork) {
    KXClass lib;
    // A built class's row no longer makes a placeholder: make one directly.
    const KXOperatorReg* reg = KX_FindOperatorReg("kxpResize");
    ASSERT_NE(reg, nullptr);
    KXOperator* op = KX_MakePlaceholderOperator(&lib, *reg);
    ASSERT_NE(op, nullptr);
    EXPECT_STREQ(op->PadName, "Resize.controlpad");
    EXPECT_STREQ(op->Description, "Resizes a graphics by interpolation.");
    EXPECT_EQ(op->Capabilities, 0x1CFCu);
    EXPECT_EQ(op->Version, 1u);
    EXPECT_EQ(std::string(op->PadPath), std::string(lib.SettingsDir) + "Resize.controlpad");
    KX_GfxBuffer* r = nullptr;
    EXPECT_EQ(op->OperateTagList(nullptr, &r, nullptr), KXERR_NOTSUPPORTED);
    EXPECT_EQ(op->OperateTags(nullptr, &r, TAG_DONE), KXERR_NOTSUPPORTED);
    EXPECT_EQ(op->DetachResult(&r), KXERR_NOTSUPPORTED);
    EXPECT_EQ(op->SetProgress(nullptr, 0), KXERR_NOTSUPPORTED);
    EXPECT_EQ(r, nullptr);
    delete op;
}

TEST(KXOperatorTest, VariadicTagsAreCollectedUpToSixtyThree) {
    KXClass lib;
    SampleOperator op(&lib);
    const uintptr_t big = static_cast<uintptr_t>(0x123456789ABCDEF0ull);
    op.OperateTags(nullptr, nullptr, TAG_USER + 1, big, TAG_USER + 2, static_cast<uintptr_t>(7), TAG_DONE);
    EXPECT_EQ(op.Tags[0].Tag, TAG_USER + 1);
    EXPECT_EQ(op.Tags[0].Data, big);  // pointer-sized values survive
    EXPECT_EQ(op.Tags[1].Data, 7u);
    EXPECT_EQ(op.Tags[2].Tag, TAG_DONE);

    // 70 pairs: the buffer keeps 63 and its end marker.
#define P(n) TAG_USER + n, static_cast<uintptr_t>(n)
#define P10(n) P(n), P(n + 1), P(n + 2), P(n + 3), P(n + 4), P(n + 5), P(n + 6), P(n + 7), P(n + 8), P(n + 9)
    op.OperateTags(nullptr, nullptr, P10(0), P10(10), P10(20), P10(30), P10(40), P10(50), P10(60), TAG_DONE);
#undef P10
#undef P
    for (uint32_t i = 0; i < 63; i++) EXPECT_EQ(op.Tags[i].Tag, TAG_USER + i);
    EXPECT_EQ(op.Tags[62].Data, 62u);
    EXPECT_EQ(op.Tags[63].Tag, TAG_DONE);
}

TEST(KXOperatorTest, ResetFreesResultsAndOwnedWorkBuffers) {
    KXClass lib;
    SampleOperator* op = new SampleOperator(&lib);
    op->Result = smallBuffer();
    op->Scratch1 = smallBuffer();
    op->Scratch2 = smallBuffer();
    op->AlphaMap8 = static_cast<uint8_t*>(AllocVec(8, MEMF_ANY));
    op->AlphaMap8Owned = 1;
    op->WorkBuffer2 = AllocVec(8, MEMF_ANY);
    op->WorkBuffer2Owned = 1;
    op->ProgressHook = [](KXProgress*, uintptr_t) {};
    op->ProgressUser = 9;
    op->Progress.Percent = 40;
    op->Reset();
    EXPECT_EQ(op->Result, nullptr);
    EXPECT_EQ(op->Scratch1, nullptr);
    EXPECT_EQ(op->Scratch2, nullptr);
    EXPECT_EQ(op->AlphaMap8, nullptr);
    EXPECT_EQ(op->WorkBuffer2, nullptr);
    EXPECT_EQ(op->ProgressHook, nullptr);
    EXPECT_EQ(op->ProgressUser, 0u);
    EXPECT_EQ(op->Progress.Percent, 40u);  // the record is not touched
    op->Reset();

    // Work buffers the operator does not own are only forgotten.
    uint8_t lent[8] = {};
    op->AlphaMap8 = lent;
    op->WorkBuffer2 = lent;
    op->Reset();
    EXPECT_EQ(op->AlphaMap8, nullptr);

    // An undetached result dies with the operator.
    op->Result = smallBuffer();
    KXOperator* base = op;
    delete base;

    // The base destructor releases what a careless class left.
    KXOperator* bare = new KXOperator(&lib);
    bare->Result = smallBuffer();
    bare->Scratch1 = smallBuffer();
    delete bare;
}

TEST(KXOperatorTest, ResetTakesTheLibraryLogAgain) {
    setenv("TMPDIR", ::testing::TempDir().c_str(), 1);
    KXClass lib;
    lib.StartLog();
    KXOperator* op = makeOperator(&lib, "kxpBlur");
    EXPECT_EQ(op->Log, lib.GetLog());
    KXLog other;
    op->SetLog(&other);
    EXPECT_EQ(op->Log, &other);
    op->SetLog(nullptr);
    EXPECT_EQ(op->Log, lib.GetLog());
    op->SetLog(&other);
    op->Reset();
    EXPECT_EQ(op->Log, lib.GetLog());
    delete op;
    lib.StopLog();
}

TEST(KXOperatorTest, PadsComeFromSettingsThenArchiveAndAreSeparatePerObject) {
    std::string root = KXT_NewTempDir(fs::temp_directory_path().string() + "/kxopXXXXXX") + "/";
    fs::create_directories(root + "prog/ENV/Kaxon5-Library");
    fs::create_directories(root + "user/ENV/Kaxon5-Library");
    std::ofstream(root + "prog/ENV/Kaxon5-Library/Resize.controlpad") << "NEW_WIDTH=10\n";
    KXClass lib;
    lib.SetPaths((root + "prog").c_str(), (root + "user").c_str());

    KXOperator* a = makeOperator(&lib, "kxpResize");
    KXOperator* b = makeOperator(&lib, "kxpResize");
    char v[16];
    ASSERT_NE(a->PadList, nullptr);
    EXPECT_EQ(a->GetKey("NEW_WIDTH", v, sizeof(v)), 1);
    EXPECT_STREQ(v, "10");
    EXPECT_NE(a->OwnPadNode.Pad, b->OwnPadNode.Pad);

    // The settings pad wins once it exists; the other object keeps its own.
    std::ofstream(root + "user/ENV/Kaxon5-Library/Resize.controlpad") << "NEW_WIDTH=20\n";
    a->Configure(nullptr);
    EXPECT_EQ(a->GetKey("NEW_WIDTH", v, sizeof(v)), 1);
    EXPECT_STREQ(v, "20");
    EXPECT_EQ(b->GetKey("NEW_WIDTH", v, sizeof(v)), 1);
    EXPECT_STREQ(v, "10");

    // A pad found nowhere leaves the operator on its defaults.
    KXOperator* c = makeOperator(&lib, "kxpCrop");
    EXPECT_EQ(c->PadList, nullptr);
    EXPECT_EQ(c->GetKey("NEW_WIDTH", v, sizeof(v)), 0);
    delete a;
    delete b;
    delete c;
    fs::remove_all(root);
}
