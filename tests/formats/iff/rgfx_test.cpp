// RGFX: every kind of buffer the program holds survives writer then reader
// (the undo files depend on it), stored and deflated; the deflate stream is
// checked by an independent inflater; damaged files fail with their codes.
#include <zlib.h>

#include "formats/iff/kxoRGFX.h"
#include "iff_test_util.h"

using namespace ifftest;

namespace {

// Offset of the first data byte of the chunk with this id, or 0.
size_t findChunk(const std::vector<uint8_t>& f, const char* id) {
    size_t pos = 12;
    while (pos + 8 <= f.size()) {
        uint32_t size = uint32_t(f[pos + 4]) << 24 | f[pos + 5] << 16 | f[pos + 6] << 8 | f[pos + 7];
        if (memcmp(&f[pos], id, 4) == 0) return pos + 8;
        pos += 8 + size + (size & 1);
    }
    return 0;
}

uint32_t be32(const std::vector<uint8_t>& f, size_t at) { return uint32_t(f[at]) << 24 | f[at + 1] << 16 | f[at + 2] << 8 | f[at + 3]; }
void put32(std::vector<uint8_t>& f, size_t at, uint32_t v) {
    f[at] = uint8_t(v >> 24);
    f[at + 1] = uint8_t(v >> 16);
    f[at + 2] = uint8_t(v >> 8);
    f[at + 3] = uint8_t(v);
}

struct Kind {
    const char* name;
    std::function<BufferPtr()> make;
};

BufferPtr planes(uint32_t w, uint32_t h, uint32_t depth, uint32_t mode) {
    BufferPtr c = makeChunky(w, h, depth, depth * 31 + w);
    BufferPtr p = toPlanes(c.get());
    p->ViewMode = mode;
    KXSUP_SetGfxBufferModeFlags(p.get());
    return p;
}

BufferPtr withFlags(BufferPtr b, uint32_t flags) {
    KXSUP_AddGfxBufferFlags(b.get(), flags, 1);
    return b;
}

std::vector<Kind> kinds() {
    std::vector<Kind> k;
    for (uint32_t d = 1; d <= 8; ++d) {
        k.push_back({"planes", [d] { return planes(13, 5, d, 0); }});
        k.push_back({"chunky8", [d] { return makeChunky(11, 4, d, d); }});
    }
    k.push_back({"HAM6 planes", [] { return planes(17, 3, 6, KXVIEWMODE_HAM); }});
    k.push_back({"HAM8 planes", [] { return planes(17, 3, 8, KXVIEWMODE_HAM | 0x21000); }});
    k.push_back({"EHB planes", [] { return planes(9, 4, 6, KXVIEWMODE_EHB); }});
    k.push_back({"transparent index planes", [] {
                     BufferPtr b = planes(10, 3, 4, 0);
                     addTransparentIndex(b.get(), 5);
                     return b;
                 }});
    k.push_back({"alpha table chunky", [] {
                     BufferPtr b = makeChunky(10, 3, 8, 3);
                     addAlphaTable(b.get());
                     return b;
                 }});
    k.push_back({"transparent index chunky", [] {
                     BufferPtr b = makeChunky(10, 3, 8, 4);
                     addTransparentIndex(b.get(), 200);
                     return b;
                 }});
    k.push_back({"24", [] { return makeChunky(7, 5, 24, 1); }});
    k.push_back({"24 alpha8", [] {
                     BufferPtr b = makeChunky(7, 5, 24, 2);
                     addAlpha8(b.get(), 7);
                     return b;
                 }});
    k.push_back({"48", [] { return makeChunky(6, 5, 48, 3); }});
    k.push_back({"48 alpha16", [] {
                     BufferPtr b = makeChunky(6, 5, 48, 4);
                     addAlpha16(b.get(), 8);
                     return b;
                 }});
    k.push_back({"48 alpha16 marked big-endian", [] {
                     BufferPtr b = makeChunky(6, 5, 48, 5);
                     addAlpha16(b.get(), 9);
                     KXSUP_SetGfxBufferEndianess(b.get(), KXGFXF_MM);
                     return b;
                 }});
    k.push_back({"1x1 24", [] { return makeChunky(1, 1, 24, 6); }});
    k.push_back({"1x1 planes", [] { return planes(1, 1, 1, 0); }});
    k.push_back({"gray flags", [] { return withFlags(makeChunky(5, 5, 8, 7), KXGFXF_GRAY | KXGFXF_SRCLOWDEPTH); }});
    k.push_back({"src8bit flags 48", [] { return withFlags(makeChunky(5, 5, 48, 8), KXGFXF_SRC8BIT); }});
    k.push_back({"alphasrc8bit flags", [] {
                     BufferPtr b = makeChunky(4, 4, 48, 9);
                     addAlpha16(b.get(), 10);
                     return withFlags(std::move(b), KXGFXF_ALPHASRC8BIT);
                 }});
    return k;
}

}  // namespace

TEST(RGFX, EveryBufferKindRoundTripsStoredAndDeflated) {
    int n = 0;
    for (const Kind& kind : kinds()) {
        for (uint32_t sub : {0u, 1u}) {
            BufferPtr src = kind.make();
            BufferPtr expect = kind.make();
            std::string path = tempPath("kind" + std::to_string(n++) + ".rgx");
            kxoRGFX w(nullptr);
            ASSERT_EQ(saveWith(&w, src.get(), path, sub), KXERR_NONE) << kind.name;
            BufferPtr back;
            kxoRGFX r(nullptr);
            r.SetReadName(path.c_str());
            ASSERT_EQ(r.Load(), KXERR_NONE) << kind.name;
            r.SetLoadMeta(1);
            EXPECT_EQ(r.GetSpecialInfo()->SubFormat, sub);
            KX_GfxBuffer* b = nullptr;
            r.DetachGfxBuffer(&b);
            back.reset(b);
            expectSamePicture(expect.get(), back.get(), std::string(kind.name) + (sub ? " deflated" : " stored"));
        }
    }
}

namespace {
// A record with every field set (an empty author text among them).
struct FullRecord {
    std::vector<uint8_t> iptc = std::vector<uint8_t>(26 + 5, 0);
    uint8_t exif[7] = {'E', 'x', 'i', 'f', 0, 0, 1};
    uint8_t icc[5] = {1, 2, 3, 4, 5};
    char anno[7] = "a note", auth[1] = "", copy[3] = "me", name[4] = "pic", iccName[10] = "Profile X";
    char more[4][24] = {"first", "GPS 48.1484N 11.5753W", "third", "fourth"};
    char compression[9] = "TIFF:LZW";
    char xmp0[5] = "<x/>", xmp1[8] = "<x:y/>";
    KXOSpecialInfo info = {};
    FullRecord() {
        memcpy(iptc.data(), "Photoshop 3.0", 14);
        memcpy(iptc.data() + 14, "8BIM", 4);
        iptc[18] = iptc[19] = 4;
        iptc[25] = 5;
        memcpy(iptc.data() + 26, "\x1c\x02\x05\x00\x00", 5);
        info.Version = 1;
        info.Anno = anno;
        info.Auth = auth;
        info.Copy = copy;
        info.Name = name;
        info.More1 = more[0];
        info.More2 = more[1];
        info.More3 = more[2];
        info.More4 = more[3];
        info.Exif = exif;
        info.ExifSize = sizeof(exif);
        info.Iptc = iptc.data();
        info.IptcSize = uint32_t(iptc.size());
        info.Xmp0 = reinterpret_cast<uint8_t*>(xmp0);
        info.Xmp0Size = 4;
        info.Xmp1 = reinterpret_cast<uint8_t*>(xmp1);
        info.Xmp1Size = 6;
        info.IccName = iccName;
        info.IccData = icc;
        info.IccSize = sizeof(icc);
        info.IccType = 3;
        info.SRGBIntent = 2;
        info.Compression = compression;
        info.Orientation = 8;
    }
};
}  // namespace

// Every field of the record comes back, stored and deflated: the shared
// metadata chunks and RGFX's own for the rest (further texts, compression
// text, orientation, profile type, sRGB intent).
TEST(RGFX, MetadataChunksRoundTrip) {
    BufferPtr src = makeChunky(3, 3, 24, 1);
    FullRecord full;
    const KXOSpecialInfo& info = full.info;
    for (uint32_t sub : {0u, 1u}) {
        SCOPED_TRACE(sub);
        std::string path = tempPath("meta.rgx");
        kxoRGFX w(nullptr);
        ASSERT_EQ(saveWith(&w, src.get(), path, sub, &full.info), KXERR_NONE);

        kxoRGFX r(nullptr);
        r.SetLoadMeta(1);
        r.SetReadName(path.c_str());
        ASSERT_EQ(r.Load(), KXERR_NONE);
        KXOSpecialInfo* got = r.GetSpecialInfo();
        ASSERT_NE(got, nullptr);
        const std::pair<const char*, const char*> texts[] = {
            {got->Anno, info.Anno},   {got->Auth, info.Auth},   {got->Copy, info.Copy},       {got->Name, info.Name},
            {got->More1, info.More1}, {got->More2, info.More2}, {got->More3, info.More3},     {got->More4, info.More4},
            {got->IccName, info.IccName}, {got->Compression, info.Compression}};
        for (auto [back, want] : texts) {
            ASSERT_NE(back, nullptr) << want;  // an empty text chunk gives an empty text
            EXPECT_STREQ(back, want);
        }
        const std::tuple<const uint8_t*, uint32_t, const uint8_t*, uint32_t> blocks[] = {
            {got->Exif, got->ExifSize, info.Exif, info.ExifSize},     {got->Iptc, got->IptcSize, info.Iptc, info.IptcSize},
            {got->Xmp0, got->Xmp0Size, info.Xmp0, info.Xmp0Size},     {got->Xmp1, got->Xmp1Size, info.Xmp1, info.Xmp1Size},
            {got->IccData, got->IccSize, info.IccData, info.IccSize}};
        for (auto [back, size, want, wantSize] : blocks) {
            ASSERT_EQ(size, wantSize);
            ASSERT_NE(back, nullptr);
            EXPECT_EQ(0, memcmp(back, want, size));
        }
        EXPECT_EQ(got->Orientation, 8u);
        EXPECT_EQ(got->IccType, 3u);
        EXPECT_EQ(got->SRGBIntent, 2u);
        EXPECT_EQ(got->SubFormat, sub);  // the file's own subtype
    }
}

// RGFX's own chunks are plain chunks between the shared set and RBOD, which
// stays last: a reader that does not know them skips them. A file without
// them (an earlier build's) reads with those fields empty, and a short
// RINF gives the words it holds.
TEST(RGFX, OwnMetadataChunksSitBeforeTheBody) {
    BufferPtr src = makeChunky(2, 2, 8, 3);
    FullRecord full;
    kxoRGFX w(nullptr);
    ASSERT_EQ(saveWith(&w, src.get(), tempPath("own.rgx"), 0, &full.info), KXERR_NONE);
    std::vector<uint8_t> f = KXT_ReadBytes(tempPath("own.rgx"));
    const size_t body = findChunk(f, "RBOD"), rinf = findChunk(f, "RINF");
    ASSERT_NE(rinf, 0u);
    for (const char* id : {"MOR1", "MOR2", "MOR3", "MOR4", "CMPR"}) {
        EXPECT_GT(findChunk(f, id), findChunk(f, "ICCP")) << id;
        EXPECT_LT(findChunk(f, id), body) << id;
    }
    EXPECT_LT(rinf, body);
    EXPECT_EQ(body + be32(f, body - 4) + (be32(f, body - 4) & 1), f.size());
    EXPECT_EQ(be32(f, 4), f.size() - 8);  // the FORM size counts them

    // RINF cut to one word: the orientation alone.
    std::vector<uint8_t> shortRinf = f;
    put32(shortRinf, rinf - 4, 4);
    memcpy(&shortRinf[rinf + 4], "JUNK", 4);  // RINF's rest becomes a chunk of its own
    put32(shortRinf, rinf + 8, 0);
    {
        kxoRGFX r(nullptr);
        r.SetLoadMeta(1);
        std::string path = tempPath("short_rinf.rgx");
        KXT_WriteBytes(path, shortRinf);
        r.SetReadName(path.c_str());
        ASSERT_EQ(r.Load(), KXERR_NONE);
        EXPECT_EQ(r.GetSpecialInfo()->Orientation, 8u);
        EXPECT_EQ(r.GetSpecialInfo()->IccType, 0u);
        EXPECT_EQ(r.GetSpecialInfo()->SRGBIntent, 0u);
    }
    // Without RGFX's own chunks (renamed to ones nobody reads).
    std::vector<uint8_t> plain = f;
    for (const char* id : {"MOR1", "MOR2", "MOR3", "MOR4", "CMPR", "RINF"}) plain[findChunk(f, id) - 8] = 'x';
    kxoRGFX r(nullptr);
    r.SetLoadMeta(1);
    std::string path = tempPath("plain.rgx");
    KXT_WriteBytes(path, plain);
    r.SetReadName(path.c_str());
    ASSERT_EQ(r.Load(), KXERR_NONE);
    KXOSpecialInfo* got = r.GetSpecialInfo();
    EXPECT_STREQ(got->Anno, "a note");
    EXPECT_EQ(got->More2, nullptr);
    EXPECT_EQ(got->Compression, nullptr);
    EXPECT_EQ(got->Orientation, 0u);
}

// A body of several slices reports its progress as it is packed, written,
// read and unpacked: rising, ending at 100.
TEST(RGFX, BigBodiesReportProgress) {
    BufferPtr src = makeChunky(1500, 1000, 24, 5);  // 4.5 MB, beyond one slice
    for (uint32_t sub : {0u, 1u}) {
        SCOPED_TRACE(sub);
        static std::vector<uint32_t> reports;
        auto hook = [](KXProgress* p, uintptr_t) { reports.push_back(p->Percent); };
        auto check = [](const char* what) {
            ASSERT_GE(reports.size(), 2u) << what;
            for (size_t i = 1; i < reports.size(); ++i) EXPECT_LE(reports[i - 1], reports[i]) << what;
            EXPECT_EQ(reports.back(), 100u) << what;
            EXPECT_LT(reports.front(), 100u) << what;
        };
        std::string path = tempPath("big.rgx");
        reports.clear();
        kxoRGFX w(nullptr);
        w.SetProgress(hook, 0);
        ASSERT_EQ(saveWith(&w, src.get(), path, sub), KXERR_NONE);
        check("save");
        reports.clear();
        kxoRGFX r(nullptr);
        r.SetProgress(hook, 0);
        r.SetReadName(path.c_str());
        ASSERT_EQ(r.Load(), KXERR_NONE);
        check("load");
        KX_GfxBuffer* b = nullptr;
        r.DetachGfxBuffer(&b);
        BufferPtr back(b);
        expectSamePicture(src.get(), back.get(), "big");
    }
}

// A single pixel once failed to pack ("no room"); now it packs, and the
// stream is whole for an inflater that is not ours.
TEST(RGFX, TinyPicturesDeflateAndInflateIndependently) {
    for (uint32_t depth : {24u, 8u, 48u}) {
        BufferPtr src = makeChunky(1, 1, depth, depth);
        BufferPtr expect = makeChunky(1, 1, depth, depth);
        std::string path = tempPath("tiny" + std::to_string(depth) + ".rgx");
        kxoRGFX w(nullptr);
        ASSERT_EQ(saveWith(&w, src.get(), path, 1), KXERR_NONE);
        std::vector<uint8_t> f = KXT_ReadBytes(path);
        size_t body = findChunk(f, "RBOD");
        ASSERT_NE(body, 0u);
        uint32_t size = be32(f, body - 4);
        std::vector<uint8_t> stream(f.begin() + (long)body + 4, f.begin() + (long)body + size);
        std::vector<uint8_t> inflated;
        if (!pythonInflate(stream, &inflated)) GTEST_SKIP() << "python3 with zlib not available";
        EXPECT_EQ(inflated.size(), be32(f, body));
        EXPECT_EQ(inflated.size(), imageBytes(expect.get()));
        BufferPtr back;
        ASSERT_EQ(loadFile<kxoRGFX>(path, &back), KXERR_NONE);
        expectSamePicture(expect.get(), back.get(), "tiny");
    }
}

// The deflate keys: level and strategy clamped as documented (a level
// outside 0-9, negative or past 32 bits included, gives 6). The output room grew from 2n to
// deflate's bound; streams that fitted before must come out byte for byte
// as they did.
TEST(RGFX, DeflatedBodiesFollowTheKeys) {
    struct Case {
        const char* level;     // Z_COMPRESSION, or null
        const char* strategy;  // Z_STRATEGY, or null
        int wantLevel, wantStrategy;
    } cases[] = {
        {"0", nullptr, 0, 0},         {"6", nullptr, 6, 0},        {"9", nullptr, 9, 0},         {"12", nullptr, 6, 0},
        {"-1", nullptr, 6, 0},        {"4294967301", nullptr, 6, 0}, {nullptr, "4", 6, 0},       {nullptr, "2", 6, Z_HUFFMAN_ONLY},
        {nullptr, "3", 6, Z_RLE},     {"1", "1", 1, Z_FILTERED},   {"abc", "-2", 0, 0},
    };
    BufferPtr src = makeChunky(40, 30, 24, 1);
    for (uint32_t i = 0; i < src->BufferSize; i += 5) src->Data[i] = 0;  // some redundancy
    std::vector<uint8_t> raw(src->Data, src->Data + src->BufferSize);
    auto reference = [&](int level, int strategy) {
        z_stream zs = {};
        EXPECT_EQ(deflateInit2(&zs, level, Z_DEFLATED, 15, 9, strategy), Z_OK);
        std::vector<uint8_t> ref(raw.size() * 2);
        zs.next_in = raw.data();
        zs.avail_in = uInt(raw.size());
        zs.next_out = ref.data();
        zs.avail_out = uInt(ref.size());
        EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
        ref.resize(zs.total_out);
        deflateEnd(&zs);
        return ref;
    };
    const std::vector<uint8_t> plain6 = reference(6, 0);
    EXPECT_NE(reference(6, Z_HUFFMAN_ONLY), plain6);  // the strategy shows in the stream
    int n = 0;
    for (const Case& c : cases) {
        std::string what = std::string("level ") + (c.level ? c.level : "-") + " strategy " + (c.strategy ? c.strategy : "-");
        std::string path = tempPath("keys" + std::to_string(n++) + ".rgx");
        kxoRGFX w(nullptr);
        Settings s(&w);
        if (c.level) s.set("Z_COMPRESSION", c.level);
        if (c.strategy) s.set("Z_STRATEGY", c.strategy);
        w.SetLocalConfig(s.cfg.GetPadList());
        ASSERT_EQ(saveWith(&w, src.get(), path, 1), KXERR_NONE) << what;
        std::vector<uint8_t> f = KXT_ReadBytes(path);
        size_t body = findChunk(f, "RBOD");
        std::vector<uint8_t> got(f.begin() + (long)body + 4, f.begin() + (long)body + be32(f, body - 4));
        EXPECT_EQ(got, reference(c.wantLevel, c.wantStrategy)) << what;
    }
}

TEST(RGFX, SaveChunkyKeyConvertsPlanesWhateverItsValue) {
    BufferPtr src = planes(12, 4, 5, 0);
    std::string path = tempPath("chunky.rgx");
    kxoRGFX w(nullptr);
    Settings s(&w);
    s.set("SAVE_CHUNKY", "NO");
    w.SetLocalConfig(s.cfg.GetPadList());
    ASSERT_EQ(saveWith(&w, src.get(), path, 0), KXERR_NONE);
    BufferPtr back;
    ASSERT_EQ(loadFile<kxoRGFX>(path, &back), KXERR_NONE);
    EXPECT_EQ(back->Type, (uint32_t)ONEPLANE);
    KX_GfxBuffer* expect = nullptr;
    ASSERT_EQ(KXSUP_BitPlaneToOnePlane8(src.get(), &expect), KXERR_NONE);
    EXPECT_EQ(0, memcmp(expect->Data, back->Data, 12 * 4));
    KXSUP_FreeGfxBuffer(expect);
}

TEST(RGFX, FileLayoutOf48BitWithAlpha) {
    BufferPtr src = makeChunky(3, 2, 48, 1);
    addAlpha16(src.get(), 2);
    std::string path = tempPath("layout48.rgx");
    kxoRGFX w(nullptr);
    ASSERT_EQ(saveWith(&w, src.get(), path, 0), KXERR_NONE);
    std::vector<uint8_t> f = KXT_ReadBytes(path);
    size_t h = findChunk(f, "RGHD");
    EXPECT_EQ(be32(f, h + 28), 64u);
    EXPECT_EQ(be32(f, h + 32), 24u);
    EXPECT_EQ(be32(f, h + 48), 0x40000080u);
    EXPECT_EQ(be32(f, 4), f.size() - 8);  // FORM size counts every chunk and pad
    BufferPtr back;
    ASSERT_EQ(loadFile<kxoRGFX>(path, &back), KXERR_NONE);
    EXPECT_EQ(KXSUP_GetGfxBufferEndianess(back.get()), (uint32_t)KXENDIAN_LITTLE);
    EXPECT_EQ(back->AlphaType, (uint32_t)KXALPHA_CHANNEL16);
}

// Damaged files, each made from a valid one.
TEST(RGFX, DamagedFilesFailWithTheirCodes) {
    BufferPtr src = makeChunky(8, 6, 24, 1);
    const std::vector<uint8_t> plain = savedBytes<kxoRGFX>(src.get(), "good.rgx", 0), packed = savedBytes<kxoRGFX>(src.get(), "goodz.rgx", 1);
    ASSERT_FALSE(plain.empty() || packed.empty());
    const size_t hd = findChunk(plain, "RGHD"), bd = findChunk(plain, "RBOD"), bdz = findChunk(packed, "RBOD");
    struct Case {
        const char* name;
        std::function<std::vector<uint8_t>()> make;
        uint32_t code;
    } cases[] = {
        {"not a FORM", [&] { auto f = plain; f[0] = 'X'; return f; }, KXERR_IFFPARSE},
        {"body shorter than the image", [&] {
             auto f = plain;
             put32(f, bd - 4, 8 * 6 * 3 - 3);
             f.resize(bd + 8 * 6 * 3 - 3);
             return f;
         }, KXERR_EOF},
        {"body chunk larger than the file", [&] { auto f = plain; put32(f, bd - 4, 0x7FFFFFF0); return f; }, KXERR_EOF},
        {"unpacked length differs from the image", [&] { auto f = packed; put32(f, bdz, 8 * 6 * 3 + 1); return f; }, KXERR_FILEREQUIREMENTS},
        {"unpacked length far beyond the stream", [&] {
             auto f = packed;
             put32(f, hd + 8, 0x7000);  // width: the image now needs far more than the stream holds
             put32(f, bdz, 0x7000 * 6 * 3);
             return f;
         }, KXERR_DECODE},
        {"broken deflate stream", [&] { auto f = packed; f[bdz + 4] ^= 0xFF; f[bdz + 5] ^= 0xFF; return f; }, KXERR_DECODE},
        {"pixel bits 40 for depth 24", [&] { auto f = plain; put32(f, hd + 28, 40); return f; }, KXERR_FILEREQUIREMENTS},
        {"compression 1", [&] { auto f = plain; put32(f, hd + 36, 1); return f; }, KXERR_FILEREQUIREMENTS},
        {"pixel format not in the table", [&] { auto f = plain; put32(f, hd + 48, 3); return f; }, KXERR_FILEREQUIREMENTS},
        {"layout of another depth", [&] { auto f = plain; put32(f, hd + 48, 0x40); return f; }, KXERR_FILEREQUIREMENTS},
        {"header chunk shorter than its record", [&] { auto f = plain; put32(f, hd - 4, 20); return f; }, KXERR_EOF},
        {"no body", [&] { auto f = plain; memcpy(&f[bd - 8], "XBOD", 4); return f; }, KXERR_NOVIEWABLEDATA},
        {"XPK body", [&] { auto f = plain; memcpy(&f[bd], "xPk", 3); return f; }, KXERR_NOTSUPPORTED},
        {"XPK body shorter than the image", [&] {
             auto f = plain;
             put32(f, bd - 4, 12);
             f.resize(bd + 12);
             memcpy(&f[bd], "XPKFNUKE", 8);
             return f;
         }, KXERR_NOTSUPPORTED},
    };
    for (const Case& c : cases) {
        BufferPtr b;
        EXPECT_EQ(loadBytes<kxoRGFX>(c.make(), "damaged.rgx", &b), c.code) << c.name;
    }
    // Pixel bits 32 are within range for depth 24.
    auto f = plain;
    put32(f, hd + 28, 32);
    BufferPtr b;
    EXPECT_EQ(loadBytes<kxoRGFX>(f, "bits32.rgx", &b), KXERR_NONE);
}

// Transparency of palette images as the reader rebuilds it from the RCOL
// flag and index and the RTRN table word.
TEST(RGFX, PaletteTransparencyFromRcolAndRtrn) {
    BufferPtr src = makeChunky(4, 2, 8, 1);
    addAlphaTable(src.get());
    const std::vector<uint8_t> table(KXSUP_AlphaBytes(src.get()), KXSUP_AlphaBytes(src.get()) + 256);
    std::string good = tempPath("table.rgx");
    kxoRGFX w(nullptr);
    ASSERT_EQ(saveWith(&w, src.get(), good, 0), KXERR_NONE);
    const std::vector<uint8_t> plain = KXT_ReadBytes(good);
    const size_t col = findChunk(plain, "RCOL"), trn = findChunk(plain, "RTRN");
    ASSERT_NE(trn, 0u);
    struct Case {
        const char* name;
        uint32_t flag, rtrnWord;
        uint32_t wantType;
        bool inverted;
    } cases[] = {
        {"table only", 0, 0x40000000, KXALPHA_MULTICOLOR, false},
        {"transparent colour and table: the table wins", 1, 0x40000000, KXALPHA_MULTICOLOR, false},
        {"inverted table", 0, 0x80000000, KXALPHA_MULTICOLOR, true},
        {"table word without its bits", 1, 0, KXALPHA_SINGLECOLOR, false},
        {"no table word, no flag", 0, 0, 0, false},
    };
    for (const Case& c : cases) {
        auto f = plain;
        put32(f, col, c.flag);
        put32(f, col + 4, 7);
        put32(f, trn, c.rtrnWord);
        std::string path = tempPath("trans.rgx");
        KXT_WriteBytes(path, f);
        BufferPtr b;
        ASSERT_EQ(loadFile<kxoRGFX>(path, &b), KXERR_NONE) << c.name;
        EXPECT_EQ(b->Version >= 3 ? b->AlphaType : 0u, c.wantType) << c.name;
        if (c.wantType == KXALPHA_SINGLECOLOR) {
            EXPECT_EQ(KXSUP_AlphaIndex(b.get()), 7u) << c.name;
        }
        if (c.wantType == KXALPHA_MULTICOLOR) {
            const uint8_t* got = KXSUP_AlphaBytes(b.get());
            for (int i = 0; i < 256; ++i) ASSERT_EQ(got[i], c.inverted ? 255 - table[i] : table[i]) << c.name << " entry " << i;
        }
    }
}

TEST(RGFX, SaveRefusalsLeaveTheOldFile) {
    std::string path = tempPath("keep.rgx");
    KXT_WriteBytes(path, {'o', 'l', 'd'});
    BufferPtr bad = makeChunky(4, 4, 24, 1);
    bad->ColorDepth = 16;
    kxoRGFX w(nullptr);
    EXPECT_EQ(saveWith(&w, bad.get(), path, 1), KXERR_NOTSUPPORTED);
    kxoRGFX w2(nullptr);
    EXPECT_EQ(w2.Save(), KXERR_NOTSUPPORTED);
    BufferPtr ok = makeChunky(4, 4, 24, 1);
    kxoRGFX w3(nullptr);
    EXPECT_EQ(saveWith(&w3, ok.get(), tempPath("nodir/x.rgx"), 0), KXERR_NODESTFILE);
    EXPECT_EQ(KXT_ReadBytes(path), (std::vector<uint8_t>{'o', 'l', 'd'}));
    kxoRGFX w4(nullptr);
    w4.SetIOMode(KXIO_CLIPBOARD);
    EXPECT_EQ(saveWith(&w4, ok.get(), path, 0), KXERR_NOCLIPBOARD);
    EXPECT_EQ(KXT_ReadBytes(path), (std::vector<uint8_t>{'o', 'l', 'd'}));
}

TEST(RGFX, RecognisesOnlyItsForm) {
    std::string path = tempPath("rec.rgx");
    BufferPtr src = makeChunky(2, 2, 8, 1);
    kxoRGFX w(nullptr);
    ASSERT_EQ(saveWith(&w, src.get(), path, 0), KXERR_NONE);
    kxoRGFX r(nullptr);
    FILE* f = fopen(path.c_str(), "rb");
    EXPECT_EQ(r.CheckFile(f, path.c_str(), KXIO_FILE), 1u);
    EXPECT_EQ(r.CheckFile(f, path.c_str(), KXIO_CLIPBOARD), 0u);
    EXPECT_EQ(ftell(f), 0);
    fclose(f);
    KXT_WriteBytes(tempPath("ilbm.iff"), {'F', 'O', 'R', 'M', 0, 0, 0, 4, 'I', 'L', 'B', 'M'});
    f = fopen(tempPath("ilbm.iff").c_str(), "rb");
    EXPECT_EQ(r.CheckFile(f, "x", KXIO_FILE), 0u);
    fclose(f);
}

TEST(RGFX, TruncatedAndFlippedFilesFailCleanly) {
    BufferPtr src = makeChunky(9, 7, 24, 1);
    addAlpha8(src.get(), 3);
    FullRecord full;
    for (uint32_t sub : {0u, 1u}) {
        std::string path = tempPath("robust.rgx");
        kxoRGFX w(nullptr);
        // The deflated file carries every metadata chunk too.
        ASSERT_EQ(saveWith(&w, src.get(), path, sub, sub ? &full.info : nullptr), KXERR_NONE);
        robustnessRun(KXT_ReadBytes(path), "robust_try.rgx", "kxoRGFX");
    }
}

// The stored fixtures (written by an earlier build) still load.
TEST(RGFX, FixturesOfEarlierBuildsLoad) {
    for (const char* name : {"planes5", "planes5_zip", "rgb_alpha", "rgb_alpha_zip", "rgb48_alpha", "rgb48_alpha_zip", "table8", "table8_zip"}) {
        BufferPtr b;
        EXPECT_EQ(loadFile<kxoRGFX>(std::string(KX_SOURCE_DIR) + "/tests/fixtures/iff/rgfx/" + name + ".rgx", &b), KXERR_NONE) << name;
    }
}
