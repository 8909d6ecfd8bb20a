// YUVN: the conversion cases both ways, grey round trips over widths with
// alpha through DATO, every sampling mode from byte tables against the
// conversion formulas, the alpha keys and chunks, damaged files (the luma
// plane must hold width x height samples) and robustness.
#include "formats/iff/kxoYUVN.h"
#include "iff_bytes.h"
#include "iff_test_util.h"

using namespace ifftest;
using namespace iffbytes;

namespace {

Bytes ychd(uint32_t w, uint32_t h, uint32_t mode) {
    Bytes b;
    put16(b, w);
    put16(b, h);
    put16(b, w);
    put16(b, h);
    put32(b, 0);
    b.insert(b.end(), {1, 1, 0, 0, uint8_t(mode), 0, 0, 0, 0, 0});
    return b;
}

Bytes chunkData(const Bytes& f, const char* id) {
    const size_t at = findChunk(f, id);
    if (at >= f.size()) return {};
    return Bytes(f.begin() + (long)at + 8, f.begin() + (long)at + 8 + get32(f, at + 4));
}

// The conversion as the format defines it, written out once more.
uint8_t clampTo8(int64_t x) { return x >= 0x1000000 ? 255 : x <= 0xFFFF ? 0 : uint8_t(x >> 16); }
Bytes toRgb(int y, int u, int v) {
    return {clampTo8(65536LL * y + 91880LL * (v - 128)), clampTo8(65536LL * y - 22580LL * (u - 128) - 46799LL * (v - 128)), clampTo8(65536LL * y + 116128LL * (u - 128))};
}

uint32_t loadWith(const std::string& path, BufferPtr* out, const char* key = nullptr, const char* value = nullptr) {
    std::function<void(kxoYUVN&)> prep;
    std::shared_ptr<Settings> s;
    if (key) {
        kxoYUVN owner(nullptr);
        s = std::make_shared<Settings>(&owner);
        s->set(key, value);
        prep = [s](kxoYUVN& r) { r.SetLocalConfig(s->cfg.GetPadList()); };
    }
    return loadFile<kxoYUVN>(path, out, prep);
}

}  // namespace

// Four equal pixels: the planes written and the colour read back.
TEST(YUVN, ConversionCases) {
    struct Case {
        Bytes rgb;
        Bytes yuv;   // Y, U, V written
        Bytes back;  // colour read back
    } cases[] = {
        {{255, 255, 255}, {254, 128, 128}, {254, 254, 254}}, {{0, 0, 0}, {0, 128, 128}, {0, 0, 0}},   {{128, 128, 128}, {127, 128, 128}, {127, 127, 127}},
        {{255, 0, 0}, {76, 84, 255}, {254, 0, 0}},           {{0, 255, 0}, {149, 43, 21}, {0, 254, 0}}, {{0, 0, 255}, {29, 255, 107}, {0, 0, 254}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rgb[0]) + "," + std::to_string(c.rgb[1]) + "," + std::to_string(c.rgb[2]));
        BufferPtr src = makeChunky(4, 1, 24, 1);
        for (int i = 0; i < 4; ++i) memcpy(src->Data + 3 * i, c.rgb.data(), 3);
        const Bytes f = savedBytes<kxoYUVN>(src.get(), "case.yuv", 0);
        ASSERT_FALSE(f.empty());
        EXPECT_EQ(chunkData(f, "DATY"), Bytes(4, c.yuv[0]));
        EXPECT_EQ(chunkData(f, "DATU"), Bytes(1, c.yuv[1]));
        EXPECT_EQ(chunkData(f, "DATV"), Bytes(1, c.yuv[2]));
        BufferPtr b;
        ASSERT_EQ(loadBytes<kxoYUVN>(f, "case.yuv", &b), KXERR_NONE);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(Bytes(b->Data + 3 * i, b->Data + 3 * i + 3), c.back);
        EXPECT_EQ(b->Version, 1u);  // no alpha map, no DATO
    }
}

// Grey pictures come back one step darker (luma 65535/65536 of the value)
// over widths 1 to 17 and 23, rounded up to a multiple of 4 with luma 0 and
// alpha 255; alpha goes through the video-range reading of DATO.
TEST(YUVN, GreyRoundTripsOverWidths) {
    std::vector<uint32_t> widths;
    for (uint32_t w = 1; w <= 17; ++w) widths.push_back(w);
    widths.push_back(23);
    for (uint32_t w : widths) {
        SCOPED_TRACE("w" + std::to_string(w));
        const uint32_t h = 3, pw = (w + 3) & ~3u;
        BufferPtr src = makeChunky(w, h, 24, w);
        for (uint32_t i = 0; i < w * h; ++i) src->Data[3 * i + 1] = src->Data[3 * i + 2] = src->Data[3 * i];
        addAlpha8(src.get(), w);
        const std::string path = tempPath("grey.yuv");
        kxoYUVN wr(nullptr);
        ASSERT_EQ(saveWith(&wr, src.get(), path, 0), KXERR_NONE);
        const Bytes f = KXT_ReadBytes(path);
        EXPECT_EQ(get32(f, 4), f.size() - 8);
        const Bytes head = chunkData(f, "YCHD");
        ASSERT_EQ(head.size(), 22u);
        EXPECT_EQ(get16(head, 0), pw);
        EXPECT_EQ(get16(head, 4), w);
        EXPECT_EQ(head[16], 1);
        BufferPtr b;
        ASSERT_EQ(loadFile<kxoYUVN>(path, &b), KXERR_NONE);
        ASSERT_EQ(b->Width, pw);
        ASSERT_EQ(b->AlphaType, (uint32_t)KXALPHA_CHANNEL8);
        const uint8_t* a = KXSUP_AlphaBytes(src.get());
        const uint8_t* ba = KXSUP_AlphaBytes(b.get());
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < pw; ++x) {
                const uint8_t* p = b->Data + 3 * (y * pw + x);
                if (x < w) {
                    const uint8_t v = src->Data[3 * (y * w + x)];
                    const uint8_t want = v ? v - 1 : 0;
                    ASSERT_EQ(Bytes(p, p + 3), Bytes(3, want)) << x << "," << y;
                    const uint32_t m = a[y * w + x];
                    const uint8_t wantA = m <= 16 ? 0 : m >= 253 ? 255 : uint8_t(((m - 16) * 100 / 237) * 255 / 100);
                    ASSERT_EQ(ba[y * pw + x], wantA);
                } else {
                    ASSERT_EQ(Bytes(p, p + 3), Bytes(3, 0)) << "pad column " << x;
                    ASSERT_EQ(ba[y * pw + x], 255);
                }
            }
        }
    }
}

// Every mode from byte tables, against the conversion written out above.
TEST(YUVN, EveryModeFromByteTables) {
    const uint32_t w = 4, h = 2;
    Bytes yp(w * h);
    for (uint32_t i = 0; i < yp.size(); ++i) yp[i] = uint8_t(30 + i * 25);
    struct Case {
        uint32_t mode, sub, perChroma;  // 0: grey
    } cases[] = {{0, 0, 0}, {1, 1, 4}, {2, 2, 2}, {3, 3, 1}, {8, 4, 0}, {9, 5, 2}, {10, 6, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode));
        const uint32_t cw = c.perChroma ? w / c.perChroma : 1;
        Bytes up(cw * h), vp(cw * h);
        for (uint32_t i = 0; i < up.size(); ++i) {
            up[i] = uint8_t(40 + i * 29);
            vp[i] = uint8_t(220 - i * 23);
        }
        const Bytes f = form("YUVN", {{"YCHD", ychd(w, h, c.mode)}, {"DATY", yp}, {"DATU", up}, {"DATV", vp}});
        const std::string path = tempPath("mode.yuv");
        KXT_WriteBytes(path, f);
        kxoYUVN r(nullptr);
        r.SetReadName(path.c_str());
        ASSERT_EQ(r.Load(), KXERR_NONE);
        EXPECT_EQ(r.SubFormatId, c.sub);
        KX_GfxBuffer* b = nullptr;
        r.GetGfxBuffer(&b);
        ASSERT_EQ(b->BufferSize, w * h * 3);
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t l = yp[y * w + x];
                const Bytes want = c.perChroma ? toRgb(l, up[y * cw + x / c.perChroma], vp[y * cw + x / c.perChroma]) : Bytes(3, l);
                const uint8_t* p = b->Data + 3 * (y * w + x);
                EXPECT_EQ(Bytes(p, p + 3), want) << x << "," << y;
            }
        }
    }
}

TEST(YUVN, AlphaChunksAndKeys) {
    // DATO bytes through the video-range reading.
    const Bytes dato = {0, 16, 17, 20, 128, 200, 252, 253, 255, 255, 255, 255};
    const Bytes want = {0, 0, 0, 2, 119, 196, 252, 255, 255, 255, 255, 255};
    const Bytes grey = form("YUVN", {{"YCHD", ychd(4, 3, 0)}, {"DATO", dato}, {"DATY", Bytes(12, 9)}, {"DATV", {0}}});
    BufferPtr b;
    ASSERT_EQ(loadBytes<kxoYUVN>(grey, "dato.yuv", &b), KXERR_NONE);
    EXPECT_EQ(Bytes(KXSUP_AlphaBytes(b.get()), KXSUP_AlphaBytes(b.get()) + 12), want);
    // DATA is taken as it is, and wins over DATO.
    const Bytes both = form("YUVN", {{"YCHD", ychd(4, 3, 0)}, {"DATO", dato}, {"DATA", dato}, {"DATY", Bytes(12, 9)}, {"DATV", {0}}});
    const std::string path = tempPath("both.yuv");
    KXT_WriteBytes(path, both);
    ASSERT_EQ(loadWith(path, &b), KXERR_NONE);
    EXPECT_EQ(Bytes(KXSUP_AlphaBytes(b.get()), KXSUP_AlphaBytes(b.get()) + 12), dato);
    // READ_ALPHA "off" in any case leaves both out; other values keep them.
    struct Key {
        const char* value;
        bool alpha;
    } reads[] = {{"OFF", false}, {"oFf", false}, {"ON", true}, {"NO", true}, {"", true}};
    for (const Key& k : reads) {
        ASSERT_EQ(loadWith(path, &b, "READ_ALPHA", k.value), KXERR_NONE);
        EXPECT_EQ(b->Version >= 3, k.alpha) << k.value;
    }
    // WRITE_ALPHA "OFF" writes no DATO; any other value writes it.
    BufferPtr src = makeChunky(4, 1, 24, 2);
    addAlpha8(src.get(), 2);
    for (const Key& k : reads) {
        kxoYUVN w(nullptr);
        Settings s(&w);
        s.set("WRITE_ALPHA", k.value);
        w.SetLocalConfig(s.cfg.GetPadList());
        const std::string out = tempPath("wa.yuv");
        ASSERT_EQ(saveWith(&w, src.get(), out, 0), KXERR_NONE);
        const Bytes f = KXT_ReadBytes(out);
        EXPECT_EQ(findChunk(f, "DATO") < f.size(), k.alpha) << k.value;
    }
}

TEST(YUVN, SaveRefusals) {
    BufferPtr rgb = makeChunky(4, 1, 24, 1), pal = makeChunky(4, 1, 8, 1), deep = makeChunky(4, 1, 48, 1);
    kxoYUVN w(nullptr);
    EXPECT_EQ(w.Save(), (uint32_t)KXERR_NOTSUPPORTED);
    EXPECT_EQ(saveWith(&w, rgb.get(), tempPath("s.yuv"), 1), (uint32_t)KXERR_NOTSUPPORTED);  // "(411)" by index
    EXPECT_EQ(saveWith(&w, pal.get(), tempPath("s.yuv"), 0), (uint32_t)KXERR_NEED24BIT);
    EXPECT_EQ(saveWith(&w, deep.get(), tempPath("s.yuv"), 0), (uint32_t)KXERR_NEED24BIT);
    BufferPtr planes = toPlanes(pal.get());
    EXPECT_EQ(saveWith(&w, planes.get(), tempPath("s.yuv"), 0), (uint32_t)KXERR_NEED24BIT);
}

TEST(YUVN, DamagedFilesFailWithTheirCodes) {
    const uint32_t w = 8, h = 4;
    auto file = [&](uint32_t mode, Bytes y, Bytes u, Bytes v) { return form("YUVN", {{"YCHD", ychd(w, h, mode)}, {"DATY", y}, {"DATU", u}, {"DATV", v}}); };
    const Bytes full(w * h, 100), quarter(w * h / 4, 100), half(w * h / 2, 100);
    Bytes shortYchd = ychd(w, h, 1);
    shortYchd.resize(20);
    struct Case {
        const char* name;
        Bytes file;
        uint32_t code;
    } cases[] = {
        {"411 good", file(1, full, Bytes(8, 1), Bytes(8, 2)), KXERR_NONE},
        {"luma of a quarter the picture", file(1, quarter, Bytes(8, 1), Bytes(8, 2)), KXERR_EOF},
        {"luma of half the picture (211)", file(9, half, half, half), KXERR_EOF},
        {"444 chroma short", file(3, full, full, half), KXERR_EOF},
        {"422 chroma short", file(2, full, Bytes(15, 1), half), KXERR_EOF},
        {"chroma mode without DATU", form("YUVN", {{"YCHD", ychd(w, h, 3)}, {"DATY", full}, {"DATV", full}}), KXERR_NOVIEWABLEDATA},
        {"no DATY", form("YUVN", {{"YCHD", ychd(w, h, 0)}, {"DATV", full}}), KXERR_NOVIEWABLEDATA},
        {"no DATV", form("YUVN", {{"YCHD", ychd(w, h, 0)}, {"DATY", full}}), KXERR_NOVIEWABLEDATA},
        {"no YCHD", form("YUVN", {{"DATY", full}, {"DATV", full}}), KXERR_FILEREQUIREMENTS},
        {"YCHD shorter than 22", form("YUVN", {{"YCHD", shortYchd}, {"DATY", full}, {"DATV", full}}), KXERR_DECODE},
        {"16-bit samples (0x81)", file(0x81, full, full, full), KXERR_FILEREQUIREMENTS},
        {"mode 4", file(4, full, full, full), KXERR_FILEREQUIREMENTS},
        {"width not a multiple of 4 in 411", form("YUVN", {{"YCHD", ychd(6, 1, 1)}, {"DATY", Bytes(6, 1)}, {"DATU", {1, 2}}, {"DATV", {1, 2}}}), KXERR_FILEREQUIREMENTS},
        {"DATO short", form("YUVN", {{"YCHD", ychd(w, h, 0)}, {"DATO", half}, {"DATY", full}, {"DATV", {0}}}), KXERR_EOF},
        {"DATY beyond the file", form("YUVN", {{"YCHD", ychd(w, h, 0)}, {"DATY", full, 4000}}), KXERR_EOF},
        {"no FORM", [&] { Bytes f = file(0, full, full, full); f[0] = 0; return f; }(), KXERR_IFFPARSE},
    };
    for (const Case& c : cases) {
        BufferPtr b;
        EXPECT_EQ(loadBytes<kxoYUVN>(c.file, "damaged.yuv", &b), c.code) << c.name;
    }
}

TEST(YUVN, RecognitionAndRobustness) {
    BufferPtr src = makeChunky(13, 6, 24, 5);
    addAlpha8(src.get(), 5);
    KXOSpecialInfo info = {};
    char anno[] = "yuv";
    info.Anno = anno;
    const std::string path = tempPath("robust_src.yuv");
    kxoYUVN w(nullptr);
    ASSERT_EQ(saveWith(&w, src.get(), path, 0, &info), KXERR_NONE);
    kxoYUVN r(nullptr);
    FILE* fp = fopen(path.c_str(), "rb");
    EXPECT_EQ(r.CheckFile(fp, "x", KXIO_FILE), 1u);
    EXPECT_EQ(ftell(fp), 0);
    fclose(fp);
    robustnessRun(KXT_ReadBytes(path), "robust.yuv", "kxoYUVN");
    Bytes y(24), u(12);
    for (size_t i = 0; i < y.size(); ++i) y[i] = uint8_t(i * 11);
    for (size_t i = 0; i < u.size(); ++i) u[i] = uint8_t(i * 21);
    robustnessRun(form("YUVN", {{"YCHD", ychd(6, 4, 9)}, {"DATA", y}, {"DATY", y}, {"DATU", u}, {"DATV", u}}), "robust211.yuv", "kxoYUVN");
}
