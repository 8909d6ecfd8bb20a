// Lossless JPEG: our files round-trip exactly at every width; the encoder
// picks the predictor that codes shortest (ties to the earlier) and stuffs
// every coded 0xFF; streams made here by hand, with a bit writer and a
// fixed table of our own, decode as T.81 says (restart intervals, point
// transform, 1, 2 and 4 components, 12 and 16 bits, predictor 0, category
// 16); broken tables and markers give 15; refused saves leave no file.
// Streams made by an independent encoder (dcmtk) are in ljpg_dcmtk_test.cpp.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/kxlib.h"
#include "formats/libraries/kxoLJPG.h"
#include "formats/raster/write_failure.h"
#include "support/robustness.h"
#include "support/testfiles.h"

namespace {

std::string TempPath(const std::string& name) {
    return std::string(KX_GetProcessTempDir()) + "ljpg_test_" + std::to_string(getpid()) + "_" + name;
}

using Buffer = KXT_Buffer;

struct Ljpg {
    kxoLJPG obj{nullptr};
    ~Ljpg() { obj.Reset(); }
    uint32_t Load(const std::string& path) {
        obj.SetReadName(path.c_str());
        return obj.Load();
    }
    uint32_t Save(KX_GfxBuffer* b, const std::string& path) {
        obj.SetSaveName(path.c_str());
        obj.SetGfxBuffer(b);
        return obj.Save();
    }
    KX_GfxBuffer* Image() {
        KX_GfxBuffer* b = nullptr;
        obj.GetGfxBuffer(&b);
        return b;
    }
};

// A 24-bit picture whose samples come from f(x, y, c).
Buffer MakeImage(uint32_t w, uint32_t h, const std::function<uint8_t(uint32_t, uint32_t, uint32_t)>& f) {
    Buffer b(KXT_NewChunkyBuffer(1, w, h, 24));
    if (!b) return b;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (uint32_t c = 0; c < 3; ++c) b->Data[((size_t)y * w + x) * 3 + c] = f(x, y, c);
    return b;
}

uint8_t Noise(uint32_t x, uint32_t y, uint32_t c) {
    uint32_t v = x * 2654435761u ^ (y + 17) * 40503u ^ (c + 3) * 2246822519u;
    v ^= v >> 13;
    v *= 0x5bd1e995u;
    return (uint8_t)(v >> 24);
}

// The offset of the scan header's fields after its length and count: the
// component selectors, then PSV.
size_t ScanStart(const std::vector<uint8_t>& f) {
    for (size_t i = 2; i + 1 < f.size(); ++i)
        if (f[i] == 0xFF && f[i + 1] == 0xDA) return i;
    return f.size();
}

uint32_t PsvOf(const std::vector<uint8_t>& f) {
    const size_t sos = ScanStart(f);
    if (sos + 5 >= f.size()) return 0;
    const uint32_t n = f[sos + 4];
    return f[sos + 5 + 2 * n];
}

TEST(LjpgWrite, RoundTripsExactlyAtEveryWidth) {
    std::vector<std::pair<uint32_t, uint32_t>> sizes;
    for (uint32_t w = 1; w <= 17; ++w) sizes.push_back({w, (w * 7) % 5 + 1});
    sizes.push_back({101, 13});
    sizes.push_back({1, 1});
    sizes.push_back({2, 40});
    const std::string path = TempPath("round.jls");
    const std::pair<const char*, std::function<uint8_t(uint32_t, uint32_t, uint32_t)>> pictures[] = {
        {"noise", Noise},
        {"gradient", [](uint32_t x, uint32_t y, uint32_t c) { return (uint8_t)(x * 3 + y * 5 + c * 40); }},
        {"extremes", [](uint32_t x, uint32_t y, uint32_t c) { return (uint8_t)(((x + y + c) & 1) ? 255 : 0); }},
    };
    for (const auto& [name, f] : pictures) {
        for (const auto& [w, h] : sizes) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(w) + "x" + std::to_string(h));
            Buffer img = MakeImage(w, h, f);
            Ljpg wr;
            ASSERT_EQ(wr.Save(img.get(), path), KXERR_NONE);
            const std::vector<uint8_t> file = KXT_ReadBytes(path);
            ASSERT_GE(file.size(), 4u);
            EXPECT_EQ(file[3], 0xC3);
            EXPECT_EQ(file[file.size() - 2], 0xFF);
            EXPECT_EQ(file[file.size() - 1], 0xD9);
            Ljpg rd;
            ASSERT_EQ(rd.Load(path), KXERR_NONE);
            const KX_GfxBuffer* b = rd.Image();
            ASSERT_NE(b, nullptr);
            ASSERT_EQ(b->Width, w);
            ASSERT_EQ(b->Height, h);
            ASSERT_EQ(b->ColorDepth, 24u);
            ASSERT_EQ(b->PixelBits, 24u);
            ASSERT_EQ(b->BufferSize, w * h * 3);
            ASSERT_EQ(memcmp(b->Data, img->Data, (size_t)w * h * 3), 0);
            EXPECT_EQ(rd.obj.SubFormatId, 0u);
        }
    }
    remove(path.c_str());
}

TEST(LjpgWrite, ChoosesTheShortestPredictorAndStuffsFF) {
    struct Case {
        const char* name;
        std::function<uint8_t(uint32_t, uint32_t, uint32_t)> f;
        uint32_t psv;
    };
    const Case cases[] = {
        // Every candidate codes a flat picture alike: the first keeps it.
        {"flat", [](uint32_t, uint32_t, uint32_t) { return (uint8_t)77; }, 1},
        // Columns of one value each: 2, 4 and 6 code alike, 2 comes first.
        {"columns", [](uint32_t x, uint32_t, uint32_t c) { return (uint8_t)(x * 37 + c * 11); }, 2},
        {"rows", [](uint32_t, uint32_t y, uint32_t c) { return (uint8_t)(y * 53 + c * 7); }, 1},
    };
    const std::string path = TempPath("psv.jls");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Buffer img = MakeImage(40, 30, c.f);
        Ljpg wr;
        ASSERT_EQ(wr.Save(img.get(), path), KXERR_NONE);
        EXPECT_EQ(PsvOf(KXT_ReadBytes(path)), c.psv);
    }
    // Noise codes into many 0xFF bytes: each is followed by a stuffed 0x00
    // up to the end-of-image marker.
    Buffer img = MakeImage(64, 64, Noise);
    Ljpg wr;
    ASSERT_EQ(wr.Save(img.get(), path), KXERR_NONE);
    const std::vector<uint8_t> f = KXT_ReadBytes(path);
    const size_t sos = ScanStart(f);
    ASSERT_LT(sos + 4, f.size());
    const size_t data = sos + 2 + (f[sos + 2] << 8 | f[sos + 3]);
    uint32_t stuffed = 0;
    for (size_t i = data; i + 2 < f.size(); ++i) {
        if (f[i] != 0xFF) continue;
        ASSERT_EQ(f[i + 1], 0x00) << "at " << i;
        ++stuffed;
        ++i;
    }
    EXPECT_GT(stuffed, 10u);
    Ljpg rd;
    ASSERT_EQ(rd.Load(path), KXERR_NONE);
    EXPECT_EQ(memcmp(rd.Image()->Data, img->Data, 64 * 64 * 3), 0);
    remove(path.c_str());
}

// ---- streams made by hand ------------------------------------------------------

// A lossless JPEG written the long way: every category 0..16 coded by its
// own number in 5 bits, differences modulo 2^16 (T.81 H.1.2.2).
struct HandStream {
    uint32_t width = 4, height = 3, precision = 8, components = 1, psv = 1, pt = 0;
    uint32_t restartRows = 0;   // RST before rows R, 2R, ...
    uint32_t restartValue = 0;  // DRI value; 0: restartRows x width
    uint8_t sofType = 0xC3;
    uint8_t tableClass = 0x00;      // 0x10 writes the table as an AC table
    std::vector<uint8_t> before;    // segments between SOI and SOF
    std::vector<int> wrongRestart;  // restart numbers written instead, by index
    std::vector<uint16_t> samples;  // width x height x components
    std::vector<uint8_t> bytes;

    uint64_t acc = 0;
    uint32_t bits = 0;
    void put(uint32_t value, uint32_t count) {
        acc = (acc << count) | (value & ((1ull << count) - 1));
        bits += count;
        while (bits >= 8) {
            bits -= 8;
            const uint8_t b = (uint8_t)(acc >> bits);
            bytes.push_back(b);
            if (b == 0xFF) bytes.push_back(0);
        }
    }
    void pad() {
        if (bits) put(0xFF, 8 - bits);
    }
    void be16(uint32_t v) {
        bytes.push_back((uint8_t)(v >> 8));
        bytes.push_back((uint8_t)v);
    }
    uint16_t at(uint32_t x, uint32_t y, uint32_t c) const { return samples[((size_t)y * width + x) * components + c]; }
    void code(int32_t prediction, uint16_t sample) {
        const int16_t d = (int16_t)(uint16_t)(sample - (uint32_t)prediction);
        if (d == -32768) {
            put(16, 5);
            return;
        }
        const uint32_t a = (uint32_t)(d < 0 ? -d : d);
        uint32_t k = 0;
        while ((1u << k) <= a) ++k;
        put(k, 5);
        if (k) put((uint32_t)(d < 0 ? d - 1 : d), k);
    }
    std::vector<uint8_t> build() {
        bytes = {0xFF, 0xD8};
        bytes.insert(bytes.end(), before.begin(), before.end());
        bytes.push_back(0xFF);
        bytes.push_back(sofType);
        be16(8 + 3 * components);
        bytes.push_back((uint8_t)precision);
        be16(height);
        be16(width);
        bytes.push_back((uint8_t)components);
        for (uint32_t c = 0; c < components; ++c) {
            bytes.push_back((uint8_t)(c + 1));
            bytes.push_back(0x11);
            bytes.push_back(0);
        }
        bytes.insert(bytes.end(), {0xFF, 0xC4});
        be16(2 + 17 + 17);
        bytes.push_back(tableClass);
        for (int i = 1; i <= 16; ++i) bytes.push_back(i == 5 ? 17 : 0);
        for (int s = 0; s <= 16; ++s) bytes.push_back((uint8_t)s);
        if (restartRows || restartValue) {
            bytes.insert(bytes.end(), {0xFF, 0xDD, 0x00, 0x04});
            be16(restartValue ? restartValue : restartRows * width);
        }
        bytes.insert(bytes.end(), {0xFF, 0xDA});
        be16(6 + 2 * components);
        bytes.push_back((uint8_t)components);
        for (uint32_t c = 0; c < components; ++c) {
            bytes.push_back((uint8_t)(c + 1));
            bytes.push_back(0x00);
        }
        bytes.push_back((uint8_t)psv);
        bytes.push_back(0);
        bytes.push_back((uint8_t)pt);
        uint32_t restart = 0;
        const int32_t initial = 1 << (precision - pt - 1);
        for (uint32_t y = 0; y < height; ++y) {
            bool first = y == 0;
            if (restartRows && y > 0 && y % restartRows == 0) {
                pad();
                const size_t index = y / restartRows - 1;
                const int number = index < wrongRestart.size() && wrongRestart[index] >= 0 ? wrongRestart[index] : (int)restart;
                bytes.push_back(0xFF);
                bytes.push_back((uint8_t)(0xD0 + number));
                restart = (restart + 1) & 7;
                first = true;
            }
            for (uint32_t x = 0; x < width; ++x) {
                for (uint32_t c = 0; c < components; ++c) {
                    int32_t p;
                    if (first)
                        p = x == 0 ? initial : at(x - 1, y, c);
                    else if (x == 0)
                        p = at(0, y - 1, c);
                    else {
                        const int32_t a = at(x - 1, y, c), b = at(x, y - 1, c), cc = at(x - 1, y - 1, c);
                        const int32_t preds[8] = {0, a, b, cc, a + b - cc, a + ((b - cc) >> 1), b + ((a - cc) >> 1), (a + b) >> 1};
                        p = psv <= 7 ? preds[psv] : 0;
                    }
                    code(p, at(x, y, c));
                }
            }
        }
        pad();
        bytes.insert(bytes.end(), {0xFF, 0xD9});
        return bytes;
    }
    // What the module must make of a sample: the low 8 bits after the point
    // transform, or the top 8 of a wider one.
    uint8_t expected(uint16_t v) const {
        const uint32_t shifted = (uint32_t)v << pt;
        return precision <= 8 ? (uint8_t)shifted : (uint8_t)((shifted & ((1u << precision) - 1)) >> (precision - 8));
    }
};

void FillSamples(HandStream& s, uint32_t seed) {
    s.samples.resize((size_t)s.width * s.height * s.components);
    const uint32_t range = 1u << (s.precision - s.pt);
    for (size_t i = 0; i < s.samples.size(); ++i) s.samples[i] = (uint16_t)((Noise((uint32_t)i, seed, 1) * 257u + i * 31) % range);
}

// Loads a hand stream and checks its pixels.
void ExpectDecodes(HandStream& s, const std::string& path) {
    ASSERT_TRUE(KXT_WriteBytes(path, s.build()));
    Ljpg r;
    ASSERT_EQ(r.Load(path), KXERR_NONE);
    const KX_GfxBuffer* b = r.Image();
    ASSERT_NE(b, nullptr);
    const uint32_t channels = s.components >= 3 ? 3 : 1;
    ASSERT_EQ(b->Width, s.width);
    ASSERT_EQ(b->Height, s.height);
    ASSERT_EQ(b->ColorDepth, 8 * channels);
    ASSERT_EQ(b->PixelBits, 8 * channels);
    if (channels == 1) {
        for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(b->Palette[i * 3], i);
    }
    for (uint32_t y = 0; y < s.height; ++y)
        for (uint32_t x = 0; x < s.width; ++x)
            for (uint32_t c = 0; c < channels; ++c)
                ASSERT_EQ(b->Data[((size_t)y * s.width + x) * channels + c], s.expected(s.at(x, y, c)))
                    << "x " << x << " y " << y << " c " << c;
}

TEST(LjpgRead, HandMadeStreamsDecode) {
    struct Case {
        const char* name;
        std::function<void(HandStream&)> setup;
    };
    const Case cases[] = {
        {"grey, PSV 1", [](HandStream&) {}},
        {"RGB, every predictor", [](HandStream& s) { s.components = 3; s.width = 9; s.height = 7; }},
        {"two components: the first as grey", [](HandStream& s) { s.components = 2; s.psv = 4; }},
        {"four components: the first three", [](HandStream& s) { s.components = 4; s.psv = 7; s.width = 5; }},
        {"PSV 0: the difference alone", [](HandStream& s) { s.psv = 0; s.width = 6; }},
        {"point transform 3", [](HandStream& s) { s.pt = 3; s.psv = 5; }},
        {"12 bits", [](HandStream& s) { s.precision = 12; s.psv = 6; s.components = 3; }},
        {"16 bits with category 16", [](HandStream& s) {
             s.precision = 16;
             s.width = 4;
             s.height = 2;
             s.samples = {0, 32768, 0, 65535, 32768, 1, 40000, 7};
         }},
        {"2 bits", [](HandStream& s) { s.precision = 2; s.psv = 3; }},
        {"SOF0 read as lossless", [](HandStream& s) { s.sofType = 0xC0; }},
        {"restarts every 2 rows", [](HandStream& s) { s.restartRows = 2; s.height = 11; s.components = 3; s.psv = 4; }},
        {"restarts every row", [](HandStream& s) { s.restartRows = 1; s.height = 10; s.psv = 2; }},
        {"restart interval not a multiple of the width",
         [](HandStream& s) { s.restartRows = 3; s.restartValue = 3 * 4 + 2; s.height = 12; s.psv = 7; }},
        {"APP0 and a comment before the frame", [](HandStream& s) {
             s.before = {0xFF, 0xE0, 0x00, 0x05, 'J', 'F', 'I', 0xFF, 0xFE, 0x00, 0x04, 'h', 'i'};
         }},
        {"a quantisation table is only a message", [](HandStream& s) {
             s.before = {0xFF, 0xDB, 0x00, 0x04, 0x00, 0x01};
         }},
        {"a restart marker between segments is only a message", [](HandStream& s) { s.before = {0xFF, 0xD3}; }},
    };
    const std::string path = TempPath("hand.jls");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HandStream s;
        c.setup(s);
        if (s.samples.empty()) FillSamples(s, 7);
        ExpectDecodes(s, path);
        if (strcmp(c.name, "RGB, every predictor") == 0) {
            for (uint32_t psv = 2; psv <= 7; ++psv) {
                SCOPED_TRACE("PSV " + std::to_string(psv));
                s.psv = psv;
                ExpectDecodes(s, path);
            }
        }
    }
    remove(path.c_str());
}

TEST(LjpgRead, BrokenStreamsGiveTheirCodes) {
    struct Case {
        const char* name;
        std::function<std::vector<uint8_t>()> make;
        uint32_t code;
    };
    auto hand = [](const std::function<void(HandStream&)>& setup) {
        return [setup]() {
            HandStream s;
            setup(s);
            FillSamples(s, 3);
            return s.build();
        };
    };
    auto edit = [](const std::function<void(HandStream&)>& setup, const std::function<void(std::vector<uint8_t>&)>& change) {
        return [setup, change]() {
            HandStream s;
            setup(s);
            FillSamples(s, 3);
            std::vector<uint8_t> f = s.build();
            change(f);
            return f;
        };
    };
    const auto none = [](HandStream&) {};
    // Offsets in a plain hand stream: SOF at 2 (precision 6, height 7, width
    // 9, count 11, component 12..14), DHT at 15 (class 19, counts 20..35).
    const Case cases[] = {
        {"an AC table", hand([](HandStream& s) { s.tableClass = 0x10; }), KXERR_FILEREQUIREMENTS},
        {"table index 4", edit(none, [](std::vector<uint8_t>& f) { f[19] = 4; }), KXERR_FILEREQUIREMENTS},
        {"more than 256 codes", edit(none, [](std::vector<uint8_t>& f) { f[20] = 200; f[21] = 100; }),
         KXERR_FILEREQUIREMENTS},
        // Three codes of one bit: no table can hold them.
        {"codes that overflow their lengths", edit(none, [](std::vector<uint8_t>& f) {
             f[20] = 3;
             f[24] = 14;
         }),
         KXERR_FILEREQUIREMENTS},
        {"not a JPEG", []() { return std::vector<uint8_t>{0x00, 0xD8, 0xFF, 0xC3, 0, 0}; }, KXERR_FILEREQUIREMENTS},
        {"precision 1", edit(none, [](std::vector<uint8_t>& f) { f[6] = 1; }), KXERR_FILEREQUIREMENTS},
        {"precision 17", edit(none, [](std::vector<uint8_t>& f) { f[6] = 17; }), KXERR_FILEREQUIREMENTS},
        {"height 0", edit(none, [](std::vector<uint8_t>& f) { f[7] = f[8] = 0; }), KXERR_FILEREQUIREMENTS},
        {"bad SOF length", edit(none, [](std::vector<uint8_t>& f) { f[5] = 12; }), KXERR_FILEREQUIREMENTS},
        {"subsampled component", edit(none, [](std::vector<uint8_t>& f) { f[13] = 0x21; }), KXERR_FILEREQUIREMENTS},
        {"scan names a missing component", edit(none, [](std::vector<uint8_t>& f) {
             const size_t sos = ScanStart(f);
             f[sos + 5] = 9;
         }),
         KXERR_FILEREQUIREMENTS},
        {"scan uses table 1", edit(none, [](std::vector<uint8_t>& f) { f[ScanStart(f) + 6] = 0x10; }),
         KXERR_FILEREQUIREMENTS},
        {"bad SOS length", edit(none, [](std::vector<uint8_t>& f) { f[ScanStart(f) + 3] = 9; }), KXERR_FILEREQUIREMENTS},
        {"point transform of the whole precision", edit(none, [](std::vector<uint8_t>& f) { f[ScanStart(f) + 9] = 8; }),
         KXERR_FILEREQUIREMENTS},
        {"DRI of length 5", edit([](HandStream& s) { s.restartRows = 1; }, [](std::vector<uint8_t>& f) {
             for (size_t i = 0; i + 3 < f.size(); ++i)
                 if (f[i] == 0xFF && f[i + 1] == 0xDD) {
                     f[i + 3] = 5;
                     break;
                 }
         }),
         KXERR_FILEREQUIREMENTS},
        {"wrong restart number", hand([](HandStream& s) { s.restartRows = 1; s.wrongRestart = {0, 5}; }),
         KXERR_FILEREQUIREMENTS},
        {"missing restart marker", hand([](HandStream& s) { s.restartValue = 4; }), KXERR_FILEREQUIREMENTS},
        {"no scan before the end", []() {
             return std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xC3, 0, 11, 8, 0, 1, 0, 1, 1, 1, 0x11, 0, 0xFF, 0xD9};
         },
         KXERR_UNKNOWNFORMAT},
        {"another frame type", []() {
             return std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xC2, 0, 11, 8, 0, 1, 0, 1, 1, 1, 0x11, 0, 0xFF, 0xD9};
         },
         KXERR_UNKNOWNFORMAT},
        {"header cut short", []() { return std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xC3, 0, 11, 8, 0}; },
         KXERR_FILEREQUIREMENTS},
    };
    const std::string path = TempPath("broken.jls");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(KXT_WriteBytes(path, c.make()));
        Ljpg r;
        EXPECT_EQ(r.Load(path), c.code);
        EXPECT_EQ(r.Image(), nullptr);
    }
    Ljpg r;
    EXPECT_EQ(r.Load(TempPath("missing.jls")), KXERR_FILENOTFOUND);
    remove(path.c_str());
}

// Bad codes and categories above 16 count as a difference of 0 and never
// reach outside the tables; data cut short decode as zero bits.
TEST(LjpgRead, BadCodesDecodeAsZero) {
    HandStream s;
    s.width = 8;
    s.height = 4;
    s.samples.assign(32, 128);
    std::vector<uint8_t> f = s.build();
    // Symbols 17..255 in place of 1..16: every code but 0 is now a bad one.
    for (int i = 0; i < 16; ++i) f[15 + 4 + 1 + 16 + 1 + i] = (uint8_t)(17 + i * 15);
    const size_t sos = ScanStart(f);
    const size_t data = sos + 2 + (f[sos + 2] << 8 | f[sos + 3]);
    // Alternating bits: codes 10 and 21, a bad category and a code no
    // table holds.
    for (size_t i = data; i + 2 < f.size(); ++i) f[i] = 0x55;
    const std::string path = TempPath("bad.jls");
    ASSERT_TRUE(KXT_WriteBytes(path, f));
    Ljpg r;
    ASSERT_EQ(r.Load(path), KXERR_NONE);
    ASSERT_NE(r.Image(), nullptr);
    // Cut inside the data: the rest decodes as zero bits.
    f = s.build();
    f.resize(ScanStart(f) + 14 + 2);
    ASSERT_TRUE(KXT_WriteBytes(path, f));
    ASSERT_EQ(r.Load(path), KXERR_NONE);
    EXPECT_EQ(r.Image()->Data[0], 128);
    remove(path.c_str());
}

// A file of a few bytes that claims 30000 x 30000 pixels: the rows after
// its data are left cleared instead of being decoded from zero bits.
TEST(LjpgRead, RowsWithoutDataCostNothing) {
    HandStream s;
    s.width = 8;
    s.height = 4;
    s.samples.assign(32, 200);
    std::vector<uint8_t> f = s.build();
    for (size_t at : {7, 9}) {
        f[at] = 30000 >> 8;
        f[at + 1] = 30000 & 0xFF;
    }
    const std::string path = TempPath("claims.jls");
    ASSERT_TRUE(KXT_WriteBytes(path, f));
    // Every eighth decoded row reports progress: count the reports.
    uint32_t reports = 0;
    Ljpg r;
    r.obj.SetProgress([](KXProgress*, uintptr_t user) { ++*reinterpret_cast<uint32_t*>(user); },
                      reinterpret_cast<uintptr_t>(&reports));
    ASSERT_EQ(r.Load(path), KXERR_NONE);
    EXPECT_LT(reports, 12u);
    const KX_GfxBuffer* b = r.Image();
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->Width, 30000u);
    EXPECT_EQ(b->Data[0], 200);
    EXPECT_EQ(b->Data[(size_t)b->Width * 10 + 5], 0);
    EXPECT_EQ(b->Data[(size_t)b->BufferSize - 1], 0);
    remove(path.c_str());
}

TEST(LjpgRead, Recognition) {
    HandStream s;
    FillSamples(s, 1);
    const std::string path = TempPath("check.jls");
    struct Case {
        const char* name;
        std::function<void(HandStream&)> setup;
        uint32_t known;
    };
    const Case cases[] = {
        {"frame right after SOI", [](HandStream&) {}, 1},
        {"APP0 before the frame", [](HandStream& h) { h.before = {0xFF, 0xE0, 0x00, 0x04, 'J', 'F'}; }, 0},
        {"SOF0", [](HandStream& h) { h.sofType = 0xC0; }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HandStream h = s;
        c.setup(h);
        ASSERT_TRUE(KXT_WriteBytes(path, h.build()));
        FILE* f = fopen(path.c_str(), "rb");
        Ljpg r;
        EXPECT_EQ(r.obj.CheckFile(f, path.c_str(), KXIO_FILE), c.known);
        EXPECT_EQ(ftell(f), 0L);
        EXPECT_EQ(r.obj.CheckFile(f, path.c_str(), KXIO_CLIPBOARD), 0u);
        fclose(f);
        // Every one still loads when opened directly.
        EXPECT_EQ(r.Load(path), KXERR_NONE);
    }
    remove(path.c_str());
}

TEST(LjpgWrite, RefusalsLeaveNoFile) {
    struct Case {
        const char* name;
        uint32_t w, h, depth;
        int32_t mode;
        bool noBuffer;
        uint32_t code;
    };
    const Case cases[] = {
        {"clipboard mode", 4, 4, 24, KXIO_CLIPBOARD, false, KXERR_NOTSUPPORTED},
        {"no buffer", 4, 4, 24, KXIO_FILE, true, KXERR_NOTSUPPORTED},
        {"palette", 4, 4, 8, KXIO_FILE, false, KXERR_NEED24BIT},
        {"48 bit", 4, 4, 48, KXIO_FILE, false, KXERR_NEED24BIT},
        {"width 70000", 70000, 1, 24, KXIO_FILE, false, KXERR_DECODE},
        {"height 70000", 1, 70000, 24, KXIO_FILE, false, KXERR_DECODE},
    };
    const std::string path = TempPath("refused.jls");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Buffer img(KXT_NewChunkyBuffer(1, c.w, c.h, c.depth));
        ASSERT_NE(img, nullptr);
        remove(path.c_str());
        Ljpg w;
        ASSERT_EQ(w.obj.SetIOMode(c.mode), KXERR_NONE);
        w.obj.SetSaveName(path.c_str());
        if (!c.noBuffer) w.obj.SetGfxBuffer(img.get());
        EXPECT_EQ(w.obj.Save(), c.code);
        EXPECT_FALSE(KXT_Exists(path));
        EXPECT_EQ(KXT_CountLeftovers(path), 0);
    }
    Ljpg w;
    char ext[16] = {};
    EXPECT_EQ(w.obj.GetExtension(ext), KXERR_NONE);
    EXPECT_STREQ(ext, ".JLS");
}

TEST(LjpgWrite, FailedWriteKeepsTheOldFile) {
    Buffer img = MakeImage(300, 200, Noise);
    Ljpg w;
    EXPECT_EQ(kxt::SaveUnderFileSizeLimit(&w.obj, img.get(), "full.jls"), KXERR_IO);
}

TEST(LjpgRead, DamagedFilesFailCleanly) {
    const std::string ours = TempPath("robust.jls");
    Buffer img = MakeImage(23, 9, Noise);
    Ljpg w;
    ASSERT_EQ(w.Save(img.get(), ours), KXERR_NONE);
    KXT_CheckReaderRobustness("kxoLJPG", ours);
    HandStream s;
    s.components = 3;
    s.width = 7;
    s.height = 9;
    s.restartRows = 2;
    s.precision = 12;
    FillSamples(s, 5);
    const std::string hand = TempPath("robust_hand.jls");
    ASSERT_TRUE(KXT_WriteBytes(hand, s.build()));
    KXT_CheckReaderRobustness("kxoLJPG", hand);
    remove(ours.c_str());
    remove(hand.c_str());
}

}  // namespace
