// ILBM: round trips over every kind the writer takes, cross-checks with
// netpbm's ppmtoilbm/ilbmtoppm in both directions, layout details of the
// written file, damaged files and the deep plane transposes.
#include <sys/wait.h>

#include "formats/iff/kxoILBM.h"
#include "iff_test_util.h"

using namespace ifftest;

namespace {

struct Ppm {
    uint32_t w = 0, h = 0, maxval = 0;
    std::vector<uint16_t> v;  // 3 per pixel
};

bool readPpm(const std::string& path, Ppm* p) {
    std::vector<uint8_t> f = KXT_ReadBytes(path);
    size_t i = 0;
    auto num = [&]() {
        while (i < f.size() && (isspace(f[i]) || f[i] == '#')) {
            if (f[i] == '#')
                while (i < f.size() && f[i] != '\n') ++i;
            else
                ++i;
        }
        uint32_t n = 0;
        while (i < f.size() && isdigit(f[i])) n = n * 10 + (f[i++] - '0');
        return n;
    };
    if (f.size() < 2 || f[0] != 'P' || f[1] != '6') return false;
    i = 2;
    p->w = num();
    p->h = num();
    p->maxval = num();
    ++i;
    size_t n = (size_t)p->w * p->h * 3;
    p->v.resize(n);
    const bool wide = p->maxval > 255;
    if (f.size() < i + n * (wide ? 2 : 1)) return false;
    for (size_t k = 0; k < n; ++k) p->v[k] = wide ? uint16_t(f[i + 2 * k] << 8 | f[i + 2 * k + 1]) : f[i + k];
    return true;
}

void writePpm(const std::string& path, uint32_t w, uint32_t h, const std::vector<uint8_t>& rgb) {
    std::string head = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    std::vector<uint8_t> f(head.begin(), head.end());
    f.insert(f.end(), rgb.begin(), rgb.end());
    KXT_WriteBytes(path, f);
}

bool run(const std::string& cmd) {
    int r = system((cmd + " 2>/dev/null").c_str());
    return r != -1 && WIFEXITED(r) && WEXITSTATUS(r) == 0;
}

BufferPtr to24(const KX_GfxBuffer* b) {
    KX_GfxBuffer* out = nullptr;
    EXPECT_EQ(KXSUP_GfxBufferTo24Bit(b, &out), KXERR_NONE);
    return BufferPtr(out);
}

BufferPtr chunkyCodes(const KX_GfxBuffer* planes) {
    KX_GfxBuffer* out = nullptr;
    EXPECT_EQ(KXSUP_BitPlaneToOnePlane8(planes, &out), KXERR_NONE);
    return BufferPtr(out);
}

// A palette image whose rows begin with a palette code, so that the held
// colour of HAM never depends on the row before.
BufferPtr hamImage(uint32_t w, uint32_t h, uint32_t depth, uint32_t seed) {
    BufferPtr b = makeChunky(w, h, depth, seed);
    for (uint32_t y = 0; y < h; ++y) b->Data[y * w] &= (depth == 6 ? 0x0F : 0x3F);
    b->ViewMode = KXVIEWMODE_HAM;
    KXSUP_SetGfxBufferModeFlags(b.get());
    return b;
}

BufferPtr ehbImage(uint32_t w, uint32_t h, uint32_t seed) {
    BufferPtr b = makeChunky(w, h, 6, seed);
    for (int i = 32; i < 64; ++i)
        for (int c = 0; c < 3; ++c) b->Palette[3 * i + c] = b->Palette[3 * (i - 32) + c] >> 1;
    b->ViewMode = KXVIEWMODE_EHB;
    KXSUP_SetGfxBufferModeFlags(b.get());
    return b;
}

uint32_t saveIlbm(KX_GfxBuffer* b, const std::string& path, uint32_t sub, const char* key = nullptr) {
    kxoILBM w(nullptr);
    Settings s(&w);
    if (key) {
        s.set(key, "NO");
        w.SetLocalConfig(s.cfg.GetPadList());
    }
    return saveWith(&w, b, path, sub);
}

}  // namespace

TEST(ILBMPlanes, TransposeMatchesBitByBit) {
    std::mt19937 rng(3);
    for (uint32_t bits : {8u, 16u}) {
        for (uint32_t width : {1u, 7u, 8u, 9u, 21u, 64u}) {
            const uint32_t bpr = (width + 7) / 8 + 1;
            std::vector<uint8_t> values(width * 2);
            for (auto& v : values) v = uint8_t(rng());
            std::vector<uint8_t> planes(bits * bpr, 0);
            ilbmChannelToPlanes(values.data(), bits / 8, width, bits, true, planes.data(), bpr);
            for (uint32_t x = 0; x < width; ++x) {
                uint32_t v = bits == 8 ? values[x] : uint32_t(values[2 * x] << 8 | values[2 * x + 1]);
                for (uint32_t k = 0; k < bits; ++k)
                    ASSERT_EQ((planes[k * bpr + x / 8] >> (7 - x % 8)) & 1, (v >> k) & 1) << "x " << x << " plane " << k;
            }
            std::vector<uint8_t> back(values.size(), 0);
            ilbmPlanesToChannel(planes.data(), bpr, width, bits, back.data(), bits / 8, true);
            EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.begin() + width * bits / 8),
                      std::vector<uint8_t>(values.begin(), values.begin() + width * bits / 8));
        }
    }
}

// Every kind the writer takes, widths 1 to 17 and 21, both compressions.
TEST(ILBM, RoundTripsOverKindsAndWidths) {
    struct Kind {
        const char* name;
        std::function<BufferPtr(uint32_t)> make;
        const char* key;
    };
    std::vector<Kind> kinds;
    for (uint32_t d = 1; d <= 8; ++d) kinds.push_back({"palette planes", [d](uint32_t w) { return toPlanes(makeChunky(w, 3, d, d + w).get()); }, nullptr});
    kinds.push_back({"HAM6", [](uint32_t w) { return toPlanes(hamImage(w, 3, 6, w).get()); }, nullptr});
    kinds.push_back({"EHB", [](uint32_t w) { return toPlanes(ehbImage(w, 3, w).get()); }, nullptr});
    kinds.push_back({"transparent colour 5", [](uint32_t w) {
                         BufferPtr b = toPlanes(makeChunky(w, 3, 4, w).get());
                         addTransparentIndex(b.get(), 5);
                         return b;
                     }, nullptr});
    kinds.push_back({"24", [](uint32_t w) { return makeChunky(w, 3, 24, w); }, nullptr});
    kinds.push_back({"24 alpha as 32 planes", [](uint32_t w) {
                         BufferPtr b = makeChunky(w, 3, 24, w);
                         addAlpha8(b.get(), w);
                         return b;
                     }, nullptr});
    kinds.push_back({"24 alpha as ALPH", [](uint32_t w) {
                         BufferPtr b = makeChunky(w, 3, 24, w);
                         addAlpha8(b.get(), w);
                         return b;
                     }, "WRITE_ALPH"});
    kinds.push_back({"48", [](uint32_t w) { return makeChunky(w, 3, 48, w); }, nullptr});
    kinds.push_back({"48 alpha as 64 planes", [](uint32_t w) {
                         BufferPtr b = makeChunky(w, 3, 48, w);
                         addAlpha16(b.get(), w);
                         return b;
                     }, nullptr});
    std::vector<uint32_t> widths;
    for (uint32_t w = 1; w <= 17; ++w) widths.push_back(w);
    widths.push_back(21);
    for (const Kind& k : kinds) {
        for (uint32_t w : widths) {
            for (uint32_t sub : {0u, 1u}) {
                BufferPtr src = k.make(w), expect = k.make(w);
                std::string path = tempPath("rt.lbm");
                ASSERT_EQ(saveIlbm(src.get(), path, sub, k.key), KXERR_NONE) << k.name;
                BufferPtr back;
                ASSERT_EQ(loadFile<kxoILBM>(path, &back), KXERR_NONE) << k.name;
                // Palette images come back with the PAL monitor bits; deep ones as chunky.
                expectSamePicture(expect.get(), back.get(), std::string(k.name) + " w" + std::to_string(w) + (sub ? " rle" : ""),
                                  expect->ColorDepth <= 8 ? 1u << expect->ColorDepth : 256);
            }
        }
    }
}

TEST(ILBM, WrittenLayout) {
    // Width 21: 3 bytes a plane row, padded to 4; ALPH rows of 21 + 1 bytes.
    BufferPtr src = makeChunky(21, 2, 24, 1);
    addAlpha8(src.get(), 2);
    std::string path = tempPath("layout.lbm");
    ASSERT_EQ(saveIlbm(src.get(), path, 0, "WRITE_ALPH"), KXERR_NONE);
    std::vector<uint8_t> f = KXT_ReadBytes(path);
    EXPECT_EQ(uint32_t(f[4] << 24 | f[5] << 16 | f[6] << 8 | f[7]), f.size() - 8);
    EXPECT_EQ(f[12 + 8 + 8], 24);  // planes
    auto body = std::search(f.begin(), f.end(), std::begin("BODY"), std::end("BODY") - 1);
    ASSERT_NE(body, f.end());
    EXPECT_EQ(uint32_t(body[4] << 24 | body[5] << 16 | body[6] << 8 | body[7]), 2u * 24 * 4);
    auto alph = std::search(f.begin(), f.end(), std::begin("ALPH"), std::end("ALPH") - 1);
    ASSERT_NE(alph, f.end());
    EXPECT_EQ(alph[9], 8);

    // A palette image without a display mode must not come back as HAM.
    BufferPtr pal = toPlanes(makeChunky(8, 2, 6, 1).get());
    pal->ViewMode = KXVIEWMODE_NONE;
    ASSERT_EQ(saveIlbm(pal.get(), path, 1), KXERR_NONE);
    BufferPtr back;
    ASSERT_EQ(loadFile<kxoILBM>(path, &back), KXERR_NONE);
    EXPECT_FALSE(IsHamBuffer(back.get()));
    EXPECT_FALSE(IsEhbBuffer(back.get()));
    EXPECT_EQ(back->ViewMode, 0x21000u);

    // Mode 0x804 is written as 00 02 18 04 after the PAL bits come in on reading.
    BufferPtr ham = toPlanes(hamImage(8, 2, 6, 1).get());
    ham->ViewMode = 0x21804;
    ASSERT_EQ(saveIlbm(ham.get(), path, 0), KXERR_NONE);
    f = KXT_ReadBytes(path);
    auto camg = std::search(f.begin(), f.end(), std::begin("CAMG"), std::end("CAMG") - 1);
    ASSERT_NE(camg, f.end());
    EXPECT_EQ(std::vector<uint8_t>(camg + 8, camg + 12), (std::vector<uint8_t>{0x00, 0x02, 0x18, 0x04}));
}

// Our writer, netpbm's reader.
TEST(ILBM, NetpbmReadsWhatWeWrite) {
    if (!KXT_HaveTool("ilbmtoppm")) GTEST_SKIP() << "netpbm (ilbmtoppm) not installed";
    struct Case {
        const char* name;
        std::function<BufferPtr()> make;
        uint32_t cmpMask;  // bits of each 8-bit sample compared
    } cases[] = {
        {"palette 4", [] { return makeChunky(21, 5, 4, 1); }, 0xFF},
        {"palette 8", [] { return makeChunky(33, 4, 8, 2); }, 0xFF},
        {"palette 1", [] { return makeChunky(9, 4, 1, 3); }, 0xFF},
        {"HAM6", [] { return hamImage(19, 4, 6, 4); }, 0xF0},
        {"HAM8", [] { return hamImage(19, 4, 8, 5); }, 0xFC},
        {"EHB", [] { return ehbImage(19, 4, 6); }, 0xFF},
        {"24", [] { return makeChunky(23, 5, 24, 7); }, 0xFF},
    };
    for (const Case& c : cases) {
        for (uint32_t sub : {0u, 1u}) {
            BufferPtr src = c.make();
            BufferPtr rgb = to24(src.get());
            std::string path = tempPath("ours.lbm"), ppm = tempPath("ours.ppm");
            ASSERT_EQ(saveIlbm(src.get(), path, sub), KXERR_NONE);
            ASSERT_TRUE(run("ilbmtoppm " + path + " > " + ppm)) << c.name;
            Ppm p;
            ASSERT_TRUE(readPpm(ppm, &p)) << c.name;
            ASSERT_EQ(p.w, src->Width);
            for (size_t i = 0; i < p.v.size(); ++i)
                ASSERT_EQ(p.v[i] & c.cmpMask, rgb->Data[i] & c.cmpMask) << c.name << " sample " << i;
        }
    }
    // 48 bits: 16-bit values as they are.
    BufferPtr src = makeChunky(13, 3, 48, 9);
    BufferPtr expect = makeChunky(13, 3, 48, 9);
    std::string path = tempPath("ours48.lbm"), ppm = tempPath("ours48.ppm");
    ASSERT_EQ(saveIlbm(src.get(), path, 1), KXERR_NONE);
    ASSERT_TRUE(run("ilbmtoppm " + path + " > " + ppm));
    Ppm p;
    ASSERT_TRUE(readPpm(ppm, &p));
    ASSERT_EQ(p.maxval, 65535u);
    for (size_t i = 0; i < p.v.size(); ++i) ASSERT_EQ(p.v[i], sample16(expect.get(), expect->Data, i)) << i;
}

// netpbm's writer, our reader, compared with netpbm's reader.
TEST(ILBM, WeReadWhatNetpbmWrites) {
    if (!KXT_HaveTool("ppmtoilbm") || !KXT_HaveTool("ilbmtoppm")) GTEST_SKIP() << "netpbm (ppmtoilbm, ilbmtoppm) not installed";
    std::mt19937 rng(11);
    const uint32_t w = 29, h = 6;
    std::vector<uint8_t> rgb(w * h * 3), few(w * h * 3);
    for (auto& v : rgb) v = uint8_t(rng());
    for (uint32_t i = 0; i < w * h; ++i) {
        uint32_t c = rng() % 12;  // twelve colours: a 4-plane palette image
        few[3 * i] = uint8_t(c * 20);
        few[3 * i + 1] = uint8_t(255 - c * 9);
        few[3 * i + 2] = uint8_t(c * c);
    }
    const std::string ppmMany = tempPath("many.ppm"), ppmFew = tempPath("few.ppm");
    writePpm(ppmMany, w, h, rgb);
    writePpm(ppmFew, w, h, few);
    struct Case {
        const char* name;
        const std::string* input;
        const char* options;
        uint32_t cmpMask;
        bool ham;
    } cases[] = {
        {"palette", &ppmFew, "", 0xFF, false},
        {"palette uncompressed", &ppmFew, "-nocompress", 0xFF, false},
        {"HAM6", &ppmMany, "-ham6", 0xF0, true},
        {"HAM8", &ppmMany, "-ham8", 0xFC, true},
        {"24", &ppmMany, "-24force", 0xFF, false},
        {"24 uncompressed", &ppmMany, "-24force -nocompress", 0xFF, false},
        {"48", &ppmMany, "-deepforce -deepbits 16", 0xFFFF, false},
    };
    for (const Case& c : cases) {
        const std::string ilbm = tempPath("theirs.lbm"), ref = tempPath("theirs.ppm");
        ASSERT_TRUE(run(std::string("ppmtoilbm ") + c.options + " " + *c.input + " > " + ilbm)) << c.name;
        ASSERT_TRUE(run("ilbmtoppm " + ilbm + " > " + ref)) << c.name;
        Ppm p;
        ASSERT_TRUE(readPpm(ref, &p));
        BufferPtr b;
        ASSERT_EQ(loadFile<kxoILBM>(ilbm, &b), KXERR_NONE) << c.name;
        ASSERT_EQ(b->Width, w);
        if (c.cmpMask == 0xFFFF) {
            ASSERT_EQ(b->ColorDepth, 48u);
            for (size_t i = 0; i < p.v.size(); ++i) {
                uint32_t ours = sample16(b.get(), b->Data, i);
                if (p.maxval != 65535) ours = ours * p.maxval / 65535;
                ASSERT_EQ(p.v[i], ours) << c.name << " sample " << i;
            }
            continue;
        }
        BufferPtr ours = to24(b.get());
        BufferPtr codes = c.ham ? chunkyCodes(b.get()) : nullptr;
        const uint32_t mod = b->ColorDepth == 6 ? 0x30 : 0xC0;
        for (uint32_t y = 0; y < h; ++y) {
            // netpbm resets the held colour on each row; compare from the
            // first palette code of the row on.
            uint32_t x0 = 0;
            if (c.ham)
                while (x0 < w && (codes->Data[y * w + x0] & mod)) ++x0;
            for (uint32_t i = (y * w + x0) * 3; i < (y + 1) * w * 3; ++i)
                ASSERT_EQ(p.v[i] & c.cmpMask, ours->Data[i] & c.cmpMask) << c.name << " sample " << i;
        }
    }
}

TEST(ILBM, PaletteWithoutCmapAndMasking) {
    // A hand-made 4-plane file without CMAP, masking 2 with colour 5.
    std::vector<uint8_t> f = {'F', 'O', 'R', 'M', 0, 0, 0, 0, 'I', 'L', 'B', 'M', 'B', 'M', 'H', 'D', 0, 0, 0, 20,
                              0, 8, 0, 1, 0, 0, 0, 0, 4, 2, 0, 0x80, 0, 5, 1, 1, 0, 8, 0, 1,
                              'B', 'O', 'D', 'Y', 0, 0, 0, 8, 0xF0, 0, 0x0F, 0, 0xFF, 0, 0, 0};
    std::string path = tempPath("nocmap.lbm");
    KXT_WriteBytes(path, f);
    BufferPtr b;
    ASSERT_EQ(loadFile<kxoILBM>(path, &b), KXERR_NONE);
    EXPECT_EQ(b->Palette[3 * 1], 16);
    EXPECT_EQ(b->Palette[3 * 14], 224);
    EXPECT_EQ(b->Palette[3 * 15], 255);
    EXPECT_TRUE(KXSUP_GetGfxBufferFlags(b.get()) & KXGFXF_GRAY);
    EXPECT_EQ(b->AlphaType, (uint32_t)KXALPHA_SINGLECOLOR);
    EXPECT_EQ(KXSUP_AlphaIndex(b.get()), 5u);
    EXPECT_EQ(b->ViewMode, 0x21000u);
    BufferPtr codes = chunkyCodes(b.get());
    EXPECT_EQ(codes->Data[0], 0x1 | 0x4);  // plane 0 and plane 2 set in the first four pixels
    EXPECT_EQ(codes->Data[4], 0x2 | 0x4);
}

TEST(ILBM, DamagedFilesFailWithTheirCodes) {
    BufferPtr src = toPlanes(makeChunky(16, 4, 3, 1).get());
    std::string good = tempPath("good.lbm");
    ASSERT_EQ(saveIlbm(src.get(), good, 1), KXERR_NONE);
    const std::vector<uint8_t> plain = KXT_ReadBytes(good);
    const size_t bmhd = 20;  // data of the first chunk
    auto bodyAt = size_t(std::search(plain.begin(), plain.end(), std::begin("BODY"), std::end("BODY") - 1) - plain.begin());
    struct Case {
        const char* name;
        std::function<std::vector<uint8_t>()> make;
        uint32_t code;
    } cases[] = {
        {"no FORM", [&] { auto f = plain; f[1] = 'X'; return f; }, KXERR_IFFPARSE},
        {"compression 2", [&] { auto f = plain; f[bmhd + 10] = 2; return f; }, KXERR_FILEREQUIREMENTS},
        {"9 planes", [&] { auto f = plain; f[bmhd + 8] = 9; return f; }, KXERR_FILEREQUIREMENTS},
        {"25 planes", [&] { auto f = plain; f[bmhd + 8] = 25; return f; }, KXERR_FILEREQUIREMENTS},
        {"BMHD longer than 20", [&] { auto f = plain; f[bmhd - 1] = 22; return f; }, KXERR_DECODE},
        {"no BODY", [&] { auto f = plain; f[bodyAt] = 'X'; return f; }, KXERR_NOVIEWABLEDATA},
        {"BODY beyond the file", [&] { auto f = plain; f[bodyAt + 4] = 0x7F; return f; }, KXERR_EOF},
    };
    for (const Case& c : cases) {
        BufferPtr b;
        EXPECT_EQ(loadBytes<kxoILBM>(c.make(), "damaged.lbm", &b), c.code) << c.name;
    }
    // A body of 0x80 bytes (no-ops) ends at its chunk before any row is
    // whole: the file is cut short, as one whose body runs out is.
    auto f = plain;
    uint32_t size = uint32_t(f[bodyAt + 4] << 24 | f[bodyAt + 5] << 16 | f[bodyAt + 6] << 8 | f[bodyAt + 7]);
    std::fill(f.begin() + (long)bodyAt + 8, f.begin() + (long)bodyAt + 8 + size, 0x80);
    BufferPtr b;
    EXPECT_EQ(loadBytes<kxoILBM>(f, "noops.lbm", &b), KXERR_EOF);
    EXPECT_EQ(b.get(), nullptr);
}

// A body that runs out before the last row is a file cut short (29), as a
// truncated file is; a stored body may leave out only the last row's pad.
TEST(ILBM, BodyThatRunsOutGivesEof) {
    BufferPtr src = toPlanes(makeChunky(13, 5, 3, 7).get());  // 2 bytes a plane row, padded to 2
    BufferPtr odd = toPlanes(makeChunky(5, 3, 2, 9).get());   // 1 byte a plane row, padded to 2
    struct Case {
        const char* name;
        KX_GfxBuffer* picture;
        uint32_t compression;
        uint32_t cut;  // bytes taken off the end of the body
        uint32_t code;
    } cases[] = {
        {"stored, whole", src.get(), 0, 0, KXERR_NONE},
        {"stored, one byte short", src.get(), 0, 1, KXERR_EOF},
        {"stored, last row missing", src.get(), 0, 2 * 3, KXERR_EOF},
        {"stored, only the last pad missing", odd.get(), 0, 1, KXERR_NONE},
        {"stored, a row byte missing", odd.get(), 0, 2, KXERR_EOF},
        {"packed, whole", src.get(), 1, 0, KXERR_NONE},
        {"packed, one byte short", src.get(), 1, 1, KXERR_EOF},
        {"packed, half the body", src.get(), 1, 9999, KXERR_EOF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = tempPath("short.lbm");
        ASSERT_EQ(saveIlbm(c.picture, path, c.compression), KXERR_NONE);
        std::vector<uint8_t> f = KXT_ReadBytes(path);
        const size_t at = size_t(std::search(f.begin(), f.end(), std::begin("BODY"), std::end("BODY") - 1) - f.begin());
        const uint32_t size = uint32_t(f[at + 4] << 24 | f[at + 5] << 16 | f[at + 6] << 8 | f[at + 7]);
        const uint32_t cut = c.cut == 9999 ? size / 2 : c.cut;
        const uint32_t left = size - cut;
        // The body is the last chunk: cut its data, keep the chunk and FORM sizes true.
        f.resize(at + 8 + left);
        if (left & 1) f.push_back(0);
        for (int i = 0; i < 4; ++i) f[at + 4 + i] = uint8_t(left >> (24 - 8 * i));
        const uint32_t form = uint32_t(f.size() - 8);
        for (int i = 0; i < 4; ++i) f[4 + i] = uint8_t(form >> (24 - 8 * i));
        BufferPtr b;
        EXPECT_EQ(loadBytes<kxoILBM>(f, "short.lbm", &b), c.code);
        EXPECT_EQ(b.get() != nullptr, c.code == KXERR_NONE);
    }
}

TEST(ILBM, RecognitionNeedsBodyAndBmhd) {
    BufferPtr src = toPlanes(makeChunky(4, 2, 2, 1).get());
    std::string path = tempPath("rec.lbm");
    ASSERT_EQ(saveIlbm(src.get(), path, 0), KXERR_NONE);
    std::vector<uint8_t> good = KXT_ReadBytes(path);
    kxoILBM r(nullptr);
    auto check = [&](const std::vector<uint8_t>& bytes) {
        KXT_WriteBytes(tempPath("rec_try.lbm"), bytes);
        FILE* fp = fopen(tempPath("rec_try.lbm").c_str(), "rb");
        uint32_t v = r.CheckFile(fp, "x", KXIO_FILE);
        EXPECT_EQ(ftell(fp), 0);
        fclose(fp);
        return v;
    };
    EXPECT_EQ(check(good), 1u);
    auto noBody = good;
    auto at = std::search(noBody.begin(), noBody.end(), std::begin("BODY"), std::end("BODY") - 1);
    *at = 'X';
    EXPECT_EQ(check(noBody), 0u);
    auto zeroWidth = good;
    zeroWidth[20] = zeroWidth[21] = 0;
    EXPECT_EQ(check(zeroWidth), 0u);
    auto anim = good;
    memcpy(&anim[8], "ANIM", 4);
    EXPECT_EQ(check(anim), 0u);
}

TEST(ILBM, IgnoreCamgDropsHam) {
    BufferPtr src = toPlanes(hamImage(8, 2, 6, 1).get());
    std::string path = tempPath("ham.lbm");
    ASSERT_EQ(saveIlbm(src.get(), path, 0), KXERR_NONE);
    BufferPtr b;
    ASSERT_EQ(loadFile<kxoILBM>(path, &b), KXERR_NONE);
    EXPECT_TRUE(IsHamBuffer(b.get()));
    kxoILBM padOwner(nullptr);  // every ILBM object names the same pad
    Settings s(&padOwner);
    s.set("IGNORE_CAMG", "OFF");
    std::function<void(kxoILBM&)> prep = [&s](kxoILBM& r) { r.SetLocalConfig(s.cfg.GetPadList()); };
    ASSERT_EQ(loadFile<kxoILBM>(path, &b, prep), KXERR_NONE);
    EXPECT_EQ(b->ViewMode, 0u);
    EXPECT_FALSE(IsHamBuffer(b.get()));
}

TEST(ILBM, FixturesAndTruncations) {
    for (const char* name : {"pal4.lbm", "ham6.lbm", "deep24.lbm", "deep48.lbm", "alph24.lbm"}) {
        std::string path = std::string(KX_SOURCE_DIR) + "/tests/fixtures/iff/ilbm/" + name;
        std::vector<uint8_t> f = KXT_ReadBytes(path);
        ASSERT_FALSE(f.empty()) << name;
        BufferPtr b;
        ASSERT_EQ(loadFile<kxoILBM>(path, &b), KXERR_NONE) << name;
        // Expected pixels beside each fixture, made by ilbmtoppm (HAM6 left
        // out: netpbm scales its 4-bit levels differently).
        Ppm p;
        std::string ppm = path.substr(0, path.size() - 4) + ".ppm";
        if (strcmp(name, "ham6.lbm") != 0 && readPpm(ppm, &p)) {
            if (p.maxval == 65535) {
                for (size_t i = 0; i < p.v.size(); ++i) ASSERT_EQ(p.v[i], sample16(b.get(), b->Data, i)) << name;
            } else {
                BufferPtr rgb = to24(b.get());
                for (size_t i = 0; i < p.v.size(); ++i) ASSERT_EQ(p.v[i], rgb->Data[i]) << name;
            }
        }
        robustnessRun(f, "robust.lbm", "kxoILBM");
    }
    BufferPtr src = makeChunky(9, 5, 24, 1);
    addAlpha8(src.get(), 1);
    std::string path = tempPath("alph.lbm");
    ASSERT_EQ(saveIlbm(src.get(), path, 1, "WRITE_ALPH"), KXERR_NONE);
    robustnessRun(KXT_ReadBytes(path), "robust.lbm", "kxoILBM");
}

// The ALPH chunk's log lines, for a good chunk and for each way it is dropped.
TEST(ILBM, AlphChunkLogLines) {
    BufferPtr src = makeChunky(3, 2, 24, 1);
    addAlpha8(src.get(), 2);
    std::string path = tempPath("alphlog.lbm");
    ASSERT_EQ(saveIlbm(src.get(), path, 0, "WRITE_ALPH"), KXERR_NONE);
    const std::vector<uint8_t> good = KXT_ReadBytes(path);
    const size_t at = size_t(std::search(good.begin(), good.end(), std::begin("ALPH"), std::end("ALPH") - 1) - good.begin());
    ASSERT_LT(at, good.size());
    const uint32_t size = uint32_t(good[at + 4] << 24 | good[at + 5] << 16 | good[at + 6] << 8 | good[at + 7]);
    const std::string tag = "5 ilbm            : ";
    const std::string found = tag + "ALPH chunk found (size " + std::to_string(size) + ")\n";
    struct Case {
        const char* name;
        std::function<std::vector<uint8_t>()> make;
        uint32_t code;
        std::vector<std::string> lines;  // in this order, nothing else
        bool alpha;
    } cases[] = {
        {"whole", [&] { return good; }, KXERR_NONE,
         {found, tag + "ALPH content:  8 1 1 0\n", tag + "ALPH net size: " + std::to_string(size - 8) + " [+8/8]\n", tag + "ALPH read OK\n",
          tag + "ALPH decomp size 8\n"},
         true},
        {"16 bits a value", [&] { auto f = good; f[at + 9] = 16; return f; }, KXERR_NONE,
         {found, tag + "ALPH content:  16 1 1 0\n", tag + "ALPH net size: " + std::to_string(size - 16) + " [+8/16]\n", tag + "ALPH read FAIL (2)\n"},
         false},
        {"data cut short", [&] { return std::vector<uint8_t>(good.begin(), good.begin() + (long)at + 8 + 10); }, KXERR_NOVIEWABLEDATA,
         {found, tag + "ALPH content:  8 1 1 0\n", tag + "ALPH net size: " + std::to_string(size - 8) + " [+8/8]\n", tag + "ALPH read FAIL (1)\n"},
         false},
        {"header cut short", [&] { return std::vector<uint8_t>(good.begin(), good.begin() + (long)at + 8 + 4); }, KXERR_NOVIEWABLEDATA,
         {found, tag + "ALPH read FAIL (3)\n"}, false},
    };
    for (const Case& c : cases) {
        std::string p = tempPath("alphlog_try.lbm");
        KXT_WriteBytes(p, c.make());
        CaptureLog log;
        BufferPtr b;
        std::function<void(kxoILBM&)> prep = [&log](kxoILBM& r) { r.SetLog(&log); };
        ASSERT_EQ(loadFile<kxoILBM>(p, &b, prep), c.code) << c.name;
        EXPECT_EQ(log.lines, c.lines) << c.name;
        if (c.code == KXERR_NONE) {
            EXPECT_EQ(b->Version >= 3 && b->AlphaType == KXALPHA_CHANNEL8, c.alpha) << c.name;
        }
    }
}

// WRITE_ALPH has no 16-bit form: a 48-bit image with alpha is then written
// with 48 planes and without its alpha.
TEST(ILBM, WriteAlphDrops16BitAlpha) {
    BufferPtr src = makeChunky(5, 3, 48, 1);
    addAlpha16(src.get(), 2);
    BufferPtr expect = makeChunky(5, 3, 48, 1);
    std::string path = tempPath("w48.lbm");
    ASSERT_EQ(saveIlbm(src.get(), path, 1, "WRITE_ALPH"), KXERR_NONE);
    std::vector<uint8_t> f = KXT_ReadBytes(path);
    EXPECT_EQ(f[12 + 8 + 8], 48);  // planes
    EXPECT_EQ(std::search(f.begin(), f.end(), std::begin("ALPH"), std::end("ALPH") - 1), f.end());
    BufferPtr back;
    ASSERT_EQ(loadFile<kxoILBM>(path, &back), KXERR_NONE);
    expectSamePicture(expect.get(), back.get(), "48 without its alpha");
}

// Hand-made files: the mask plane of masking 1, and files without BMHD.
TEST(ILBM, MaskPlaneAndMissingBmhd) {
    auto form = [](const std::vector<uint8_t>& chunks) {
        std::vector<uint8_t> f = {'F', 'O', 'R', 'M', 0, 0, 0, 0, 'I', 'L', 'B', 'M'};
        f.insert(f.end(), chunks.begin(), chunks.end());
        return f;
    };
    const std::vector<uint8_t> bmhd = {'B', 'M', 'H', 'D', 0, 0, 0, 20, 0, 8, 0, 1, 0, 0, 0, 0, 1, 1, 0, 0x80, 0, 0, 1, 1, 0, 8, 0, 1};
    const std::vector<uint8_t> body = {'B', 'O', 'D', 'Y', 0, 0, 0, 4, 0xA5, 0, 0xF0, 0};  // plane 0, then the mask
    const std::vector<uint8_t> anno = {'A', 'N', 'N', 'O', 0, 0, 0, 2, 'x', 0};
    std::vector<uint8_t> masked = bmhd;
    masked.insert(masked.end(), body.begin(), body.end());
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        uint32_t code;
    } cases[] = {
        {"mask plane", form(masked), KXERR_NONE},
        {"neither BMHD nor BODY", form(anno), KXERR_NOVIEWABLEDATA},
        {"BODY without BMHD", form(body), KXERR_FILEREQUIREMENTS},
    };
    for (const Case& c : cases) {
        std::string path = tempPath("mask.lbm");
        KXT_WriteBytes(path, c.file);
        BufferPtr b;
        ASSERT_EQ(loadFile<kxoILBM>(path, &b), c.code) << c.name;
        if (c.code != KXERR_NONE) continue;
        EXPECT_EQ(b->ColorDepth, 1u);
        EXPECT_EQ(b->BufferSize, 1u);  // the mask is not counted
        EXPECT_EQ(b->Data[0], 0xA5);
        EXPECT_EQ(b->Data[1], 0xF0);  // but kept after the image planes
    }
}

// Saving reports 50, then (uncompressed) 50 + row * 100 / (2 * height)
// before every eighth row; loading row * 100 / height.
TEST(ILBM, ProgressSteps) {
    BufferPtr src = toPlanes(makeChunky(5, 20, 3, 1).get());
    struct Case {
        uint32_t sub;
        std::vector<uint32_t> save;
    } cases[] = {{0, {50, 50, 70, 90}}, {1, {50}}};
    for (const Case& c : cases) {
        std::string path = tempPath("progress.lbm");
        std::vector<uint32_t> seen;
        kxoILBM w(nullptr);
        w.SetProgress(collectProgress, reinterpret_cast<uintptr_t>(&seen));
        ASSERT_EQ(saveWith(&w, src.get(), path, c.sub), KXERR_NONE);
        EXPECT_EQ(seen, c.save) << c.sub;
        seen.clear();
        BufferPtr b;
        std::function<void(kxoILBM&)> prep = [&seen](kxoILBM& r) { r.SetProgress(collectProgress, reinterpret_cast<uintptr_t>(&seen)); };
        ASSERT_EQ(loadFile<kxoILBM>(path, &b, prep), KXERR_NONE);
        EXPECT_EQ(seen, (std::vector<uint32_t>{0, 40, 80})) << c.sub;
    }
}
