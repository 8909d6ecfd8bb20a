// KGX: round trips of every storage kind and subtype, the header layout,
// the zlib block checked by an independent inflater, and damaged headers.
#include <zlib.h>

#include "formats/iff/kxoKGX.h"
#include "iff_test_util.h"

using namespace ifftest;

namespace {
uint32_t be32(const std::vector<uint8_t>& f, size_t at) { return uint32_t(f[at]) << 24 | f[at + 1] << 16 | f[at + 2] << 8 | f[at + 3]; }
void put32(std::vector<uint8_t>& f, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = uint8_t(v >> (24 - 8 * i));
}
}  // namespace

TEST(KGX, RoundTripsEveryStorageAndSubtype) {
    struct Kind {
        const char* name;
        std::function<BufferPtr()> make;
    } kinds[] = {
        {"planes 5", [] { return toPlanes(makeChunky(100, 3, 5, 1).get()); }},
        {"HAM planes", [] {
             BufferPtr b = toPlanes(makeChunky(9, 3, 6, 2).get());
             b->ViewMode = KXVIEWMODE_HAM;
             KXSUP_SetGfxBufferModeFlags(b.get());
             return b;
         }},
        {"chunky 8", [] { return makeChunky(7, 4, 8, 3); }},
        {"24", [] { return makeChunky(7, 4, 24, 4); }},
        {"24 alpha", [] {
             BufferPtr b = makeChunky(7, 4, 24, 5);
             addAlpha8(b.get(), 1);
             return b;
         }},
        {"48", [] { return makeChunky(5, 4, 48, 6); }},
        {"48 alpha", [] {
             BufferPtr b = makeChunky(5, 4, 48, 7);
             addAlpha16(b.get(), 2);
             return b;
         }},
        {"1x1 24", [] { return makeChunky(1, 1, 24, 8); }},
    };
    for (const Kind& k : kinds) {
        for (uint32_t sub : {0u, 1u, 2u}) {
            BufferPtr src = k.make(), expect = k.make();
            std::string path = tempPath("rt.kgx");
            kxoKGX w(nullptr);
            ASSERT_EQ(saveWith(&w, src.get(), path, sub), KXERR_NONE) << k.name << " sub " << sub;
            kxoKGX r(nullptr);
            r.SetReadName(path.c_str());
            ASSERT_EQ(r.Load(), KXERR_NONE) << k.name;
            r.SetLoadMeta(1);
            EXPECT_EQ(r.GetSpecialInfo()->SubFormat, sub);
            KX_GfxBuffer* b = nullptr;
            r.DetachGfxBuffer(&b);
            BufferPtr back(b);
            expectSamePicture(expect.get(), back.get(), std::string(k.name) + " sub " + std::to_string(sub));
            EXPECT_EQ(back->ViewMode, expect->ViewMode);
        }
    }
}

TEST(KGX, HeaderLayoutAndIndependentInflate) {
    BufferPtr src = toPlanes(makeChunky(100, 2, 5, 1).get());
    std::string path = tempPath("layout.kgx");
    kxoKGX w(nullptr);
    ASSERT_EQ(saveWith(&w, src.get(), path, 1), KXERR_NONE);
    std::vector<uint8_t> f = KXT_ReadBytes(path);
    EXPECT_EQ(std::string(f.begin(), f.begin() + 17), "KGX Graphics File");
    EXPECT_EQ(be32(f, 20), 822u);
    EXPECT_EQ(f[48], 1);
    EXPECT_EQ(f[49], 5);
    EXPECT_EQ(be32(f, 50), 13u);
    EXPECT_EQ(0, memcmp(&f[54], src->Palette, 768));
    EXPECT_EQ(std::string(f.begin() + 822, f.begin() + 826), "LZ77");
    std::vector<uint8_t> inflated;
    if (!pythonInflate(std::vector<uint8_t>(f.begin() + 830, f.end()), &inflated)) GTEST_SKIP() << "python3 with zlib not available";
    EXPECT_EQ(inflated.size(), be32(f, 826));
    EXPECT_EQ(inflated, std::vector<uint8_t>(src->Data, src->Data + 13 * 2 * 5));

    // Old style: its own magic and the data unpacked.
    BufferPtr rgb = makeChunky(3, 3, 24, 2);
    addAlpha8(rgb.get(), 3);
    kxoKGX w2(nullptr);
    ASSERT_EQ(saveWith(&w2, rgb.get(), path, 0), KXERR_NONE);
    f = KXT_ReadBytes(path);
    EXPECT_EQ(std::string(f.begin(), f.begin() + 17), "KXG Graphics File");
    EXPECT_EQ(be32(f, 40), 32u);
    EXPECT_EQ(f[48], 32);
    EXPECT_EQ(f.size(), 822u + 3 * 3 * 4);
}

// Z_COMPRESSION is the zlib level; a value outside 0-9 (negative or past
// 32 bits included) gives 6. The block holds exactly what compress2 makes.
TEST(KGX, CompressionLevelKey) {
    BufferPtr src = makeChunky(16, 16, 24, 1);
    for (uint32_t i = 0; i < src->BufferSize; i += 3) src->Data[i] = 0;  // some redundancy
    struct Case {
        const char* value;
        int level;
    } cases[] = {{"0", 0}, {"3", 3}, {"10", 6}, {"-1", 6}, {"4294967301", 6}, {nullptr, 6}};
    for (const Case& c : cases) {
        const char* what = c.value ? c.value : "absent";
        std::string path = tempPath("lvl.kgx");
        kxoKGX w(nullptr);
        Settings s(&w);
        if (c.value) s.set("Z_COMPRESSION", c.value);
        w.SetLocalConfig(s.cfg.GetPadList());
        ASSERT_EQ(saveWith(&w, src.get(), path, 1), KXERR_NONE) << what;
        std::vector<uint8_t> f = KXT_ReadBytes(path);
        std::vector<uint8_t> ref(compressBound(src->BufferSize));
        uLongf n = ref.size();
        ASSERT_EQ(compress2(ref.data(), &n, src->Data, src->BufferSize, c.level), Z_OK);
        ref.resize(n);
        EXPECT_EQ(std::vector<uint8_t>(f.begin() + 830, f.end()), ref) << what;
        BufferPtr b;
        ASSERT_EQ(loadFile<kxoKGX>(path, &b), KXERR_NONE) << what;
    }
}

// The sub-format lines at level 1, tag "kgx".
TEST(KGX, LoadLogLines) {
    BufferPtr src = makeChunky(4, 3, 24, 1);
    const std::string tag = "1 kgx             : ";
    struct Case {
        uint32_t sub;
        const char* tagBytes;  // written over the first data bytes, or null
        uint32_t code;
        std::vector<std::string> lines;
    } cases[] = {
        {2, nullptr, KXERR_NONE, {tag + "Subtype: uncompressed\n", tag + "Decoding...\n"}},
        {0, nullptr, KXERR_NONE, {tag + "Subtype: uncompressed\n", tag + "Decoding...\n"}},
        {1, nullptr, KXERR_NONE, {tag + "Subtype: compressed (LZ77)\n", tag + "Decoding...\n"}},
        {2, "PP20", KXERR_FILEREQUIREMENTS, {tag + "Subtype: old-style (XPK)\n"}},
        {0, "XPKF", KXERR_FILEREQUIREMENTS, {tag + "Subtype: old-style (XPK)\n"}},
        {2, "XPKF", KXERR_NONE, {tag + "Subtype: uncompressed\n", tag + "Decoding...\n"}},  // new style: plain data
    };
    for (const Case& c : cases) {
        std::string path = tempPath("log.kgx");
        kxoKGX w(nullptr);
        ASSERT_EQ(saveWith(&w, src.get(), path, c.sub), KXERR_NONE);
        if (c.tagBytes) {
            std::vector<uint8_t> f = KXT_ReadBytes(path);
            memcpy(&f[822], c.tagBytes, 4);
            KXT_WriteBytes(path, f);
        }
        CaptureLog log;
        BufferPtr b;
        std::function<void(kxoKGX&)> prep = [&log](kxoKGX& r) { r.SetLog(&log); };
        EXPECT_EQ(loadFile<kxoKGX>(path, &b, prep), c.code) << c.sub << (c.tagBytes ? c.tagBytes : "");
        EXPECT_EQ(log.lines, c.lines) << c.sub << (c.tagBytes ? c.tagBytes : "");
    }
}

TEST(KGX, DamagedFilesFailWithTheirCodes) {
    BufferPtr src = makeChunky(6, 4, 24, 1);
    const std::vector<uint8_t> plain = savedBytes<kxoKGX>(src.get(), "good.kgx", 2), packed = savedBytes<kxoKGX>(src.get(), "goodz.kgx", 1);
    ASSERT_FALSE(plain.empty() || packed.empty());
    struct Case {
        const char* name;
        std::function<std::vector<uint8_t>()> make;
        uint32_t code;
    } cases[] = {
        {"unknown magic", [&] { auto f = plain; f[0] = 'Q'; return f; }, KXERR_UNKNOWNFORMAT},
        {"short header", [&] { return std::vector<uint8_t>(plain.begin(), plain.begin() + 400); }, KXERR_DECODE},
        {"short file of another kind", [&] { return std::vector<uint8_t>{'G', 'I', 'F', '8', '9', 'a'}; }, KXERR_UNKNOWNFORMAT},
        {"one byte more", [&] { auto f = plain; f.push_back(0); return f; }, KXERR_DECODE},
        {"depth 16", [&] { auto f = plain; put32(f, 40, 16); return f; }, KXERR_FILEREQUIREMENTS},
        {"unknown storage", [&] { auto f = plain; f[48] = 16; return f; }, KXERR_FILEREQUIREMENTS},
        {"storage 8 with depth 24", [&] { auto f = plain; f[48] = 8; return f; }, KXERR_FILEREQUIREMENTS},
        {"storage 1 with rows too short", [&] {
             auto f = plain;
             put32(f, 40, 4);
             f[48] = 1;
             put32(f, 50, 0);
             return f;
         }, KXERR_FILEREQUIREMENTS},
        {"data offset past the end", [&] { auto f = plain; put32(f, 20, 0x7FFFFFFF); return f; }, KXERR_DECODE},
        {"huge size, tiny file", [&] { auto f = plain; put32(f, 32, 0xFFFFF); put32(f, 36, 0xFFF); return f; }, KXERR_FILEREQUIREMENTS},
        {"PP20 data", [&] { auto f = plain; memcpy(&f[822], "PP20", 4); return f; }, KXERR_FILEREQUIREMENTS},
        {"LZ77 length differs", [&] { auto f = packed; put32(f, 826, 6 * 4 * 3 + 1); return f; }, KXERR_DECODE},
        {"LZ77 stream broken", [&] { auto f = packed; f[831] ^= 0xFF; f[832] ^= 0x55; return f; }, KXERR_DECODE},
    };
    for (const Case& c : cases) {
        BufferPtr b;
        EXPECT_EQ(loadBytes<kxoKGX>(c.make(), "damaged.kgx", &b), c.code) << c.name;
    }
}

TEST(KGX, FailedSavesLeaveTheOldFile) {
    std::string path = tempPath("keep.kgx");
    KXT_WriteBytes(path, {'o', 'l', 'd'});
    BufferPtr bad = makeChunky(4, 4, 24, 1);
    bad->ColorDepth = 12;
    kxoKGX w(nullptr);
    EXPECT_EQ(saveWith(&w, bad.get(), path, 1), KXERR_FILEREQUIREMENTS);
    BufferPtr ok = makeChunky(4, 4, 24, 1);
    kxoKGX w2(nullptr);
    w2.SetIOMode(KXIO_CLIPBOARD);
    EXPECT_EQ(saveWith(&w2, ok.get(), path, 1), KXERR_NOTSUPPORTED);
    EXPECT_EQ(KXT_ReadBytes(path), (std::vector<uint8_t>{'o', 'l', 'd'}));
    kxoKGX w3(nullptr);
    EXPECT_EQ(w3.SetIOMode(KXIO_DEVICE), KXERR_NOTSUPPORTED);
}

TEST(KGX, RecognitionAndRobustness) {
    BufferPtr src = makeChunky(5, 3, 48, 1);
    addAlpha16(src.get(), 1);
    for (uint32_t sub : {0u, 1u}) {
        std::string path = tempPath("robust.kgx");
        kxoKGX w(nullptr);
        ASSERT_EQ(saveWith(&w, src.get(), path, sub), KXERR_NONE);
        kxoKGX r(nullptr);
        FILE* fp = fopen(path.c_str(), "rb");
        EXPECT_EQ(r.CheckFile(fp, "x", KXIO_FILE), 1u);
        EXPECT_EQ(r.CheckFile(fp, "x", KXIO_CLIPBOARD), 0u);
        fclose(fp);
        robustnessRun(KXT_ReadBytes(path), "robust_try.kgx", "kxoKGX");
    }
}

// The stored fixtures (written by an earlier build) still load.
TEST(KGX, FixturesOfEarlierBuildsLoad) {
    for (const char* name : {"planes5", "planes5_lz77", "rgb_alpha", "rgb_alpha_lz77", "rgb48_alpha", "rgb48_alpha_lz77", "table8", "table8_lz77"}) {
        BufferPtr b;
        EXPECT_EQ(loadFile<kxoKGX>(std::string(KX_SOURCE_DIR) + "/tests/fixtures/iff/kgx/" + name + ".kgx", &b), KXERR_NONE) << name;
    }
}

TEST(KGX, ProgressSteps) {
    BufferPtr src = makeChunky(4, 3, 24, 1);
    struct Case {
        uint32_t sub;
        std::vector<uint32_t> save;
    } cases[] = {{1, {30, 70, 100}}, {2, {30, 100}}, {0, {30, 100}}};
    for (const Case& c : cases) {
        std::string path = tempPath("progress.kgx");
        std::vector<uint32_t> seen;
        kxoKGX w(nullptr);
        w.SetProgress(collectProgress, reinterpret_cast<uintptr_t>(&seen));
        ASSERT_EQ(saveWith(&w, src.get(), path, c.sub), KXERR_NONE);
        EXPECT_EQ(seen, c.save) << c.sub;
        seen.clear();
        BufferPtr b;
        std::function<void(kxoKGX&)> prep = [&seen](kxoKGX& r) { r.SetProgress(collectProgress, reinterpret_cast<uintptr_t>(&seen)); };
        ASSERT_EQ(loadFile<kxoKGX>(path, &b, prep), KXERR_NONE);
        EXPECT_EQ(seen, std::vector<uint32_t>{80}) << c.sub;
    }
}
