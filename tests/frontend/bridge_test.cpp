// The bridge's own rules: progress hook, poller, external-program runner,
// image ownership, metadata copies, saving an image without a reader.
#include <chrono>

#include "core/extrun.h"
#include "frontend_support.h"

using namespace kxt;

TEST(Progress, HookPublishesOnlyValuesUpTo100) {
    struct Row {
        uint32_t percent;
        int32_t value, state;
    } rows[] = {{0, 0, 1}, {50, 50, 1}, {99, 99, 1}, {100, 100, 2}, {101, 99, 1}, {120, 99, 1}, {0xFFFFFFFFu, 99, 1}};
    for (const Row& r : rows) {
        KXProgress p{0, r.percent};
        MyProgress(&p, 0);
        EXPECT_EQ(kx_value_progress.load(), r.value) << r.percent;
        EXPECT_EQ(kx_update_progress.load(), r.state) << r.percent;
    }
}

TEST(Progress, PollerMovesTheBarAndFillsItAfterTheTask) {
    FakeUI ui;
    KXTaskRunner t(&ui);
    t.Begin();
    EXPECT_EQ(kx_update_progress.load(), 3);
    t.PollProgress();  // 3: bar to 0, state 1
    EXPECT_EQ(kx_update_progress.load(), 1);
    KXProgress p{0, 40};
    MyProgress(&p, 0);
    t.PollProgress();
    EXPECT_EQ(t.BarValue(), 40);
    t.End();
    EXPECT_EQ(kx_update_progress.load(), 2);
    t.PollProgress();  // 2 becomes 0, the repaint fills the bar
    EXPECT_EQ(kx_update_progress.load(), 0);
    EXPECT_EQ(t.BarValue(), 100);
    size_t n = ui.Bars.size();
    t.PollProgress();  // idle: nothing repainted
    EXPECT_EQ(ui.Bars.size(), n);
    for (int v : ui.Bars) EXPECT_TRUE(v >= 0 && v <= 100);
}

TEST(Progress, WorkerResultComesBackThreadedOrNot) {
    for (bool threaded : {true, false}) {
        FakeUI ui;
        KXTaskRunner t(&ui);
        t.Threaded = threaded;
        t.Begin();
        uint32_t r = t.Run([threaded] {
            KXProgress p{0, 60};
            MyProgress(&p, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(threaded ? 250 : 0));
            return 7u;
        });
        t.End();
        EXPECT_EQ(r, 7u);
        // Threaded, the waiting loop itself moves the bar.
        if (threaded) {
            EXPECT_EQ(t.BarValue(), 60);
        }
        EXPECT_EQ(ui.Lights.front(), KXStatusLight::Red);
        EXPECT_EQ(ui.Lights.back(), KXStatusLight::Yellow);
    }
}

TEST(Runner, MissingProgramGives32) {
    const char* none[] = {nullptr};
    EXPECT_EQ(_system("/nonexistent/kaxon5-no-such-tool", nullptr, none), 32u);
    EXPECT_EQ(_system("kaxon5-no-such-tool-in-path", nullptr, nullptr), 32u);
    EXPECT_EQ(_system("", nullptr, nullptr), 32u);
    KX_InstallRunner();
    EXPECT_EQ(KX_RunExternal("kaxon5-no-such-tool-in-path", nullptr, nullptr, nullptr), 32u);
    EXPECT_EQ(KX_RunExternal("true", nullptr, nullptr, nullptr), 0u);
}

TEST(Runner, ChattyChildDoesNotBlockAndOutputCanBeKept) {
    ScratchDir dir;
    const char* args[] = {"-c", "head -c 1048576 /dev/zero; head -c 1048576 /dev/zero >&2", nullptr};
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(_system("sh", nullptr, args), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    std::string out = dir / "out.bin";
    EXPECT_EQ(_system_stdout("sh", nullptr, args, out.c_str()), 0u);
    EXPECT_EQ(fs::file_size(out), 1048576u);
}

TEST(Runner, ArgumentsReachTheProgramLiterally) {
    ScratchDir dir;
    std::string out = dir / "args.txt";
    // No shell: blanks, quotes, ";" and "$" arrive unchanged, one argument each.
    const char* args[] = {"%s|", "a b", "\"q\"", "x;y", "$HOME", "*", nullptr};
    ASSERT_EQ(_system_stdout("printf", nullptr, args, out.c_str()), 0u);
    std::ifstream f(out);
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "a b|\"q\"|x;y|$HOME|*|");
    // The working folder is the one given.
    const char* pwd[] = {nullptr};
    ASSERT_EQ(_system_stdout("pwd", dir.Path.c_str(), pwd, out.c_str()), 0u);
    std::ifstream g(out);
    std::string where;
    std::getline(g, where);
    EXPECT_EQ(fs::canonical(where), fs::canonical(dir.Path));
}

namespace {
// An operator whose result is a fresh copy of its source.
class CopyOp : public KXOperator {
public:
    CopyOp() : KXOperator(static_cast<KXClass*>(nullptr)) {}
    ~CopyOp() override { CopyOp::Reset(); }
    void Reset() override {
        KXSUP_FreeGfxBuffer(Result);
        Result = nullptr;
    }
    uint32_t OperateTagList(KX_GfxBuffer* s, KX_GfxBuffer** r, const TagItem*) override {
        uint32_t e = KXSUP_CopyGfxBuffer(s, &Result, 1, MEMF_ANY);
        if (!e) *r = Result;
        return e;
    }
    uint32_t DetachResult(KX_GfxBuffer** b) override {
        *b = Result;
        Result = nullptr;
        return *b ? 0u : static_cast<uint32_t>(KXERR_INTERNALACCESS);
    }
};

// A reader stand-in that only hands out a metadata record.
class MetaReader : public KXObject {
public:
    KXOSpecialInfo Record{};
    MetaReader() : KXObject(static_cast<KXClass*>(nullptr)) {}
    KXOSpecialInfo* GetSpecialInfo() override { return &Record; }
    void Reset() override {}
};
}  // namespace

TEST(Bridge, OperatorResultReplacesTheImageOnce) {
    KX_ResetHandle(1, 1, 1);
    KX_GfxBuffer* first = MakeBuffer(4, 3, 24);
    KX_SetGfxBuffer(first);
    CopyOp op;
    KX_GfxBuffer* result = nullptr;
    ASSERT_EQ(op.OperateTagList(first, &result, nullptr), 0u);
    oper = &op;
    EXPECT_EQ(KX_GetGfxBuffer(), result);  // the first image is freed (ASan watches)
    EXPECT_EQ(oper, nullptr);
    EXPECT_EQ(KX_GetGfxBuffer(), result);
    KX_SetGfxBuffer(nullptr);
    EXPECT_EQ(KX_GetGfxBuffer(), nullptr);
}

TEST(Bridge, MetadataRecordRulesAndCopies) {
    KX_ResetHandle(1, 1, 1);
    MetaReader reader;
    objr = &reader;
    EXPECT_EQ(KX_GetMetaData(), nullptr);  // no content field set
    EXPECT_EQ(KX_GetMetaDataCheck(0), &reader.Record);
    EXPECT_EQ(KX_UnLinkMetaData(), 29u);

    static char anno[] = "note";
    static uint8_t icc[] = {1, 2, 3, 4};
    reader.Record.Anno = anno;
    reader.Record.IccData = icc;
    reader.Record.IccSize = 4;
    reader.Record.IccType = 1;
    reader.Record.ExifSize = 10;  // a size without its block
    ASSERT_EQ(KX_GetMetaData(), &reader.Record);
    ASSERT_EQ(KX_UnLinkMetaData(), 0u);
    KXOSpecialInfo* copy = KX_GetMetaData();
    ASSERT_NE(copy, &reader.Record);
    EXPECT_EQ(KX_IsUnlinkedMetaData(), 1u);
    EXPECT_EQ(copy->Unlinked, 1u);
    EXPECT_EQ(copy->IccType, 1u);
    EXPECT_STREQ(copy->Anno, "note");
    EXPECT_NE(copy->Anno, anno);
    ASSERT_EQ(copy->IccSize, 4u);
    EXPECT_EQ(memcmp(copy->IccData, icc, 4), 0);
    EXPECT_EQ(copy->Exif, nullptr);
    EXPECT_EQ(copy->ExifSize, 0u);

    KX_StripMetaData();
    EXPECT_EQ(KX_GetMetaData(), nullptr);
    KX_ResetHandle(1, 0, 0);  // frees the copy
    objr = nullptr;
    no_meta = false;
}

TEST(Bridge, SavingNeedsACurrentImageAndAWriter) {
    ScratchDir dir;
    KXClass lib;
    _KXClass = &lib;
    KX_SetTables(&lib);
    KX_ResetHandle(1, 1, 1);
    objw = nullptr;
    std::string out = dir / "out.ppm";
    EXPECT_EQ(KX_Save(out.c_str(), 0, nullptr), 9u);  // nothing at all
    KX_SetSaveFormat(KXWRITER_PNG + 1, 0);            // PNM
    EXPECT_EQ(KX_Save(out.c_str(), 0, nullptr), 9u);  // a writer, no image
    EXPECT_EQ(KX_SaveAlpha(out.c_str()), 9u);
    if (RealFormat("kxoPNM")) {
        // An image set from outside has no reader; it saves all the same.
        KX_SetGfxBuffer(MakeBuffer(5, 4, 24));
        EXPECT_EQ(objr, nullptr);
        EXPECT_EQ(KX_Save(out.c_str(), 0, nullptr), 0u);
        EXPECT_TRUE(fs::exists(out));
        EXPECT_EQ(KX_SaveAlpha(out.c_str()), 0xFFFFFFFFu);  // no 8-bit alpha map
        EXPECT_STREQ(KXL_GetErrorString(0xFFFFFFFFu), "Unknown internal Error. Reboot suggested.");

        // The alpha map is written as a grey image and stays with the image.
        KX_GfxBuffer* img = MakeBuffer(3, 2, 24);
        img->AlphaData = AllocVec(6, MEMF_ANY);
        img->AlphaType = KXALPHA_CHANNEL8;
        const uint8_t alpha[] = {0, 50, 100, 150, 200, 255};
        memcpy(img->AlphaData, alpha, 6);
        KX_SetGfxBuffer(img);
        std::string grey = dir / "alpha.ppm";
        ASSERT_EQ(KX_SaveAlpha(grey.c_str()), 0u);
        EXPECT_EQ(memcmp(KXSUP_AlphaBytes(KX_GetGfxBuffer()), alpha, 6), 0);
        ASSERT_EQ(KX_Load(grey.c_str(), 0), 0u);
        KX_GfxBuffer* back = KX_GetGfxBuffer();
        ASSERT_NE(back, nullptr);
        ASSERT_EQ(back->Width * back->Height, 6u);
        for (uint32_t i = 0; i < 6; i++) {
            uint8_t v = back->ColorDepth <= 8 ? back->Palette[back->Data[i] * 3] : back->Data[i * (back->PixelBits / 8)];
            EXPECT_EQ(v, alpha[i]) << i;
        }
    }
    // A file that no reader knows: 1, and no reader or image is left.
    std::string junk = dir / "junk.bin";
    WriteFile(junk, std::string(64, '\x01'));
    EXPECT_EQ(KX_Load(junk.c_str(), 1), 1u);
    EXPECT_EQ(objr, nullptr);
    EXPECT_EQ(kx_handle, nullptr);
    EXPECT_EQ(kx_handle2, nullptr);
    EXPECT_EQ(KX_Load((dir / "missing.png").c_str(), 1), 1u);
    KX_ResetHandle(1, 1, 1);
    objw = nullptr;
    KX_SetTables(nullptr);
    _KXClass = nullptr;
}
