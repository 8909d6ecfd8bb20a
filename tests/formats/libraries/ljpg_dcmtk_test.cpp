// Lossless JPEG against dcmtk, which codes SOF3 for DICOM: its streams
// (predictors 1 to 7, point transforms, 8-, 12- and 16-bit grey, RGB; made
// by tests/fixtures/ljpg/make.py) load to the samples dcmdjpeg decodes,
// reduced to their top 8 bits; and dcmtk decodes our files, wrapped in a
// DICOM file here, to the pictures we saved.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/kxlib.h"
#include "formats/libraries/kxoLJPG.h"
#include "support/testfiles.h"

namespace {

std::string Fixture(const std::string& name) { return std::string(KX_SOURCE_DIR) + "/tests/fixtures/ljpg/" + name; }

std::string TempPath(const std::string& name) {
    return std::string(KX_GetProcessTempDir()) + "ljpg_dcmtk_" + std::to_string(getpid()) + "_" + name;
}

// A binary PGM or PPM of 8 or 16 bits.
struct Pnm {
    uint32_t width = 0, height = 0, channels = 0, maxval = 0;
    std::vector<uint32_t> samples;
};

bool ParsePnm(const std::vector<uint8_t>& f, Pnm* p) {
    if (f.size() < 3 || f[0] != 'P' || (f[1] != '5' && f[1] != '6')) return false;
    p->channels = f[1] == '6' ? 3 : 1;
    size_t at = 2;
    uint32_t values[3];
    for (uint32_t& v : values) {
        while (at < f.size() && isspace(f[at])) ++at;
        if (at >= f.size() || !isdigit(f[at])) return false;
        v = 0;
        while (at < f.size() && isdigit(f[at])) v = v * 10 + (f[at++] - '0');
    }
    ++at;
    p->width = values[0];
    p->height = values[1];
    p->maxval = values[2];
    const size_t n = (size_t)p->width * p->height * p->channels, bytes = p->maxval > 255 ? 2 : 1;
    if (f.size() < at + n * bytes) return false;
    p->samples.resize(n);
    for (size_t i = 0; i < n; ++i)
        p->samples[i] = bytes == 2 ? (uint32_t)f[at + 2 * i] << 8 | f[at + 2 * i + 1] : f[at + i];
    return true;
}

struct Ljpg {
    kxoLJPG obj{nullptr};
    ~Ljpg() { obj.Reset(); }
    KX_GfxBuffer* Image() {
        KX_GfxBuffer* b = nullptr;
        obj.GetGfxBuffer(&b);
        return b;
    }
};

struct DcmtkCase {
    const char* name;
    uint32_t bits;
    bool rgb;
};

const DcmtkCase kDcmtkCases[] = {
    {"grey8_psv1", 8, false},   {"grey8_psv2", 8, false},   {"grey8_psv3", 8, false},  {"grey8_psv4", 8, false},
    {"grey8_psv5", 8, false},   {"grey8_psv6", 8, false},   {"grey8_psv7", 8, false},  {"grey8_pt2", 8, false},
    {"grey12_psv6", 12, false}, {"grey12in16_psv6", 12, false}, {"grey16_psv7", 16, false}, {"grey16_pt3", 16, false}, {"rgb8_sv1", 8, true},
    {"rgb8_psv5", 8, true},
};

class LjpgDcmtkFiles : public ::testing::TestWithParam<DcmtkCase> {};

TEST_P(LjpgDcmtkFiles, LoadToDcmtksSamples) {
    const DcmtkCase& c = GetParam();
    Pnm expected;
    ASSERT_TRUE(ParsePnm(KXT_ReadBytes(Fixture(std::string(c.name) + (c.rgb ? ".ppm" : ".pgm"))), &expected));
    ASSERT_EQ(expected.maxval, (1u << c.bits) - 1);
    // A reader keeps the top 8 bits of the frame's precision, which may be
    // more than the picture's bits (dcmtk's default codec declares 16).
    const std::vector<uint8_t> stream = KXT_ReadBytes(Fixture(std::string(c.name) + ".jls"));
    uint32_t precision = 0;
    for (size_t i = 0; i + 4 < stream.size() && !precision; ++i)
        if (stream[i] == 0xFF && stream[i + 1] == 0xC3) precision = stream[i + 4];
    ASSERT_GE(precision, c.bits);
    Ljpg r;
    const std::string path = Fixture(std::string(c.name) + ".jls");  // the name is kept, not copied
    r.obj.SetReadName(path.c_str());
    ASSERT_EQ(r.obj.Load(), KXERR_NONE);
    const KX_GfxBuffer* b = r.Image();
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->Width, expected.width);
    ASSERT_EQ(b->Height, expected.height);
    ASSERT_EQ(b->PixelBits, c.rgb ? 24u : 8u);
    const size_t n = expected.samples.size();
    size_t wrong = 0, first = n;
    for (size_t i = 0; i < n; ++i)
        if (b->Data[i] != expected.samples[i] >> (precision - 8) && wrong++ == 0) first = i;
    EXPECT_EQ(wrong, 0u) << "first at " << first << ": " << (first < n ? (int)b->Data[first] : -1) << " for "
                         << (first < n ? expected.samples[first] : 0);
    // The fixtures are worth their name: not flat.
    EXPECT_NE(expected.samples[0], expected.samples[n / 2]);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, LjpgDcmtkFiles, ::testing::ValuesIn(kDcmtkCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A DICOM file (explicit VR little endian) holding one lossless JPEG stream
// as encapsulated pixel data: the smallest wrapper dcmtk's decoders accept.
std::vector<uint8_t> WrapInDicom(const std::vector<uint8_t>& jpeg, uint32_t w, uint32_t h) {
    std::vector<uint8_t> out(128, 0);
    auto u16 = [&](uint32_t v) {
        out.push_back(v & 0xFF);
        out.push_back(v >> 8 & 0xFF);
    };
    auto u32 = [&](uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    auto element = [&](uint16_t group, uint16_t tag, const char* vr, std::vector<uint8_t> value) {
        if (value.size() & 1) value.push_back(vr[0] == 'U' && vr[1] == 'I' ? 0 : ' ');
        u16(group);
        u16(tag);
        out.push_back(vr[0]);
        out.push_back(vr[1]);
        if (!strcmp(vr, "OB")) {
            u16(0);
            u32((uint32_t)value.size());
        } else {
            u16((uint32_t)value.size());
        }
        out.insert(out.end(), value.begin(), value.end());
    };
    auto text = [](const char* s) { return std::vector<uint8_t>(s, s + strlen(s)); };
    auto us = [](uint32_t v) { return std::vector<uint8_t>{(uint8_t)(v & 0xFF), (uint8_t)(v >> 8)}; };
    const char* sopClass = "1.2.840.10008.5.1.4.1.1.7";
    const char* instance = "1.2.826.0.1.3680043.2.1143.7.7";
    // Process 14: any predictor.
    const char* syntax = "1.2.840.10008.1.2.4.57";
    out.insert(out.end(), {'D', 'I', 'C', 'M'});
    std::vector<uint8_t> meta;
    std::swap(out, meta);
    element(0x0002, 0x0001, "OB", {0, 1});
    element(0x0002, 0x0002, "UI", text(sopClass));
    element(0x0002, 0x0003, "UI", text(instance));
    element(0x0002, 0x0010, "UI", text(syntax));
    std::vector<uint8_t> group;
    std::swap(out, group);
    out = meta;
    element(0x0002, 0x0000, "UL", {(uint8_t)(group.size() & 0xFF), (uint8_t)(group.size() >> 8), 0, 0});
    out.insert(out.end(), group.begin(), group.end());
    element(0x0008, 0x0016, "UI", text(sopClass));
    element(0x0008, 0x0018, "UI", text(instance));
    element(0x0028, 0x0002, "US", us(3));
    element(0x0028, 0x0004, "CS", text("RGB"));
    element(0x0028, 0x0006, "US", us(0));
    element(0x0028, 0x0010, "US", us(h));
    element(0x0028, 0x0011, "US", us(w));
    element(0x0028, 0x0100, "US", us(8));
    element(0x0028, 0x0101, "US", us(8));
    element(0x0028, 0x0102, "US", us(7));
    element(0x0028, 0x0103, "US", us(0));
    // Pixel data of undefined length: an empty offset table, one fragment
    // (of even length), the sequence delimiter.
    u16(0x7FE0);
    u16(0x0010);
    out.insert(out.end(), {'O', 'B', 0, 0});
    u32(0xFFFFFFFF);
    u16(0xFFFE);
    u16(0xE000);
    u32(0);
    u16(0xFFFE);
    u16(0xE000);
    u32((uint32_t)(jpeg.size() + (jpeg.size() & 1)));
    out.insert(out.end(), jpeg.begin(), jpeg.end());
    if (jpeg.size() & 1) out.push_back(0);
    u16(0xFFFE);
    u16(0xE0DD);
    u32(0);
    return out;
}

uint8_t Noise(uint32_t x, uint32_t y, uint32_t c) {
    uint32_t v = x * 2654435761u ^ (y + 17) * 40503u ^ (c + 3) * 2246822519u;
    v ^= v >> 13;
    v *= 0x5bd1e995u;
    return (uint8_t)(v >> 24);
}

// Pictures for which our encoder picks different predictors.
TEST(LjpgDcmtk, DcmtkDecodesOurFiles) {
    if (!KXT_HaveTool("dcmj2pnm")) GTEST_SKIP() << "dcmtk missing";
    struct Picture {
        const char* name;
        uint8_t (*f)(uint32_t, uint32_t, uint32_t);
    };
    const Picture pictures[] = {
        {"noise", Noise},
        {"columns", [](uint32_t x, uint32_t, uint32_t c) { return (uint8_t)(x * 29 + c * 70); }},
        {"rows", [](uint32_t, uint32_t y, uint32_t c) { return (uint8_t)(y * 31 + c * 50); }},
        {"gradient", [](uint32_t x, uint32_t y, uint32_t c) { return (uint8_t)(x * 3 + y * 5 + c * 40 + ((x ^ y) & 3)); }},
        {"extremes", [](uint32_t x, uint32_t y, uint32_t c) { return (uint8_t)(((x + y + c) & 1) ? 255 : 0); }},
    };
    const uint32_t w = 37, h = 29;
    const std::string jls = TempPath("ours.jls"), dcm = TempPath("ours.dcm"), ppm = TempPath("ours.ppm");
    for (const Picture& p : pictures) {
        SCOPED_TRACE(p.name);
        KXT_Buffer img(KXT_NewChunkyBuffer(1, w, h, 24));
        ASSERT_NE(img, nullptr);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                for (uint32_t c = 0; c < 3; ++c) img->Data[((size_t)y * w + x) * 3 + c] = p.f(x, y, c);
        Ljpg wr;
        wr.obj.SetSaveName(jls.c_str());
        wr.obj.SetGfxBuffer(img.get());
        ASSERT_EQ(wr.obj.Save(), KXERR_NONE);
        ASSERT_TRUE(KXT_WriteBytes(dcm, WrapInDicom(KXT_ReadBytes(jls), w, h)));
        remove(ppm.c_str());
        ASSERT_EQ(system(("dcmj2pnm +op " + dcm + " " + ppm + " 2>/dev/null").c_str()), 0);
        Pnm decoded;
        ASSERT_TRUE(ParsePnm(KXT_ReadBytes(ppm), &decoded));
        ASSERT_EQ(decoded.width, w);
        ASSERT_EQ(decoded.height, h);
        ASSERT_EQ(decoded.channels, 3u);
        size_t wrong = 0;
        for (size_t i = 0; i < decoded.samples.size(); ++i) wrong += decoded.samples[i] != img->Data[i];
        EXPECT_EQ(wrong, 0u);
    }
    remove(jls.c_str());
    remove(dcm.c_str());
    remove(ppm.c_str());
}

}  // namespace
