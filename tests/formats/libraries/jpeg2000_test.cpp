// JPEG 2000: JP2 files, raw code streams and PGX files written by
// opj_compress, opj_decompress and ImageMagick load pixel for pixel (grey,
// RGB, RGBA, grey with alpha, 12-bit, a single pixel); our JP2 and PGX
// files round-trip at every width and are read back the same by
// opj_decompress and ImageMagick; pictures too small for the usual number
// of resolution levels save; refused inputs give their codes; a failed
// save leaves no file; damaged files fail cleanly. JP2 files whose colour
// is an ICC profile (embedded by exiftool) load with their profile;
// OpenJPEG's threads change neither pixels nor bytes; loads and saves of
// large pictures stay near OpenJPEG's own memory.
#include <gtest/gtest.h>
#include <openjpeg.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "core/colour.h"
#include "core/kxlib.h"
#include "formats/libraries/kxoJPEG2000.h"
#include "formats/raster/write_failure.h"
#include "support/robustness.h"
#include "support/testfiles.h"

namespace {

std::string Fixture(const std::string& name) { return std::string(KX_SOURCE_DIR) + "/tests/fixtures/jpeg2000/" + name; }

std::string TempPath(const std::string& name) {
    return std::string(KX_GetProcessTempDir()) + "jp2_test_" + std::to_string(getpid()) + "_" + name;
}

int RunTool(const std::string& command) { return system((command + " >/dev/null 2>&1").c_str()); }

using Buffer = KXT_Buffer;

// A netpbm picture (P5, P6 or P7) as samples, depth per pixel.
struct Pam {
    uint32_t width = 0, height = 0, depth = 0, maxval = 0;
    std::vector<uint32_t> samples;
};

bool ReadPam(const std::vector<uint8_t>& d, Pam* out) {
    size_t p = 2;
    auto token = [&]() -> std::string {
        while (p < d.size() && (isspace(d[p]) || d[p] == '#')) {
            if (d[p] == '#')
                while (p < d.size() && d[p] != '\n') ++p;
            else
                ++p;
        }
        std::string t;
        while (p < d.size() && !isspace(d[p])) t += (char)d[p++];
        return t;
    };
    if (d.size() < 3 || d[0] != 'P') return false;
    if (d[1] == '7') {
        for (std::string t = token(); t != "ENDHDR" && !t.empty(); t = token()) {
            if (t == "WIDTH") out->width = (uint32_t)std::stoul(token());
            if (t == "HEIGHT") out->height = (uint32_t)std::stoul(token());
            if (t == "DEPTH") out->depth = (uint32_t)std::stoul(token());
            if (t == "MAXVAL") out->maxval = (uint32_t)std::stoul(token());
            if (t == "TUPLTYPE") token();
        }
    } else if (d[1] == '5' || d[1] == '6') {
        out->depth = d[1] == '6' ? 3 : 1;
        out->width = (uint32_t)std::stoul(token());
        out->height = (uint32_t)std::stoul(token());
        out->maxval = (uint32_t)std::stoul(token());
    } else {
        return false;
    }
    ++p;
    const size_t n = (size_t)out->width * out->height * out->depth;
    const size_t bytes = out->maxval > 255 ? 2 : 1;
    if (n == 0 || d.size() < p + n * bytes) return false;
    out->samples.resize(n);
    for (size_t i = 0; i < n; ++i)
        out->samples[i] = bytes == 2 ? (uint32_t)(d[p + 2 * i] << 8 | d[p + 2 * i + 1]) : d[p + i];
    return true;
}

bool ReadPamFile(const std::string& path, Pam* out) { return ReadPam(KXT_ReadBytes(path), out); }

struct Jp2 {
    kxoJPEG2000 obj{nullptr};
    ~Jp2() { obj.Reset(); }
    uint32_t Load(const std::string& path) {
        obj.SetReadName(path.c_str());
        return obj.Load();
    }
    uint32_t Save(KX_GfxBuffer* b, const std::string& path, uint32_t subFormat) {
        obj.SetSaveName(path.c_str());
        obj.SetSubFormat(subFormat);
        obj.SetGfxBuffer(b);
        return obj.Save();
    }
    KX_GfxBuffer* Image() {
        KX_GfxBuffer* b = nullptr;
        obj.GetGfxBuffer(&b);
        return b;
    }
};

uint32_t Grey(uint32_t r, uint32_t g, uint32_t b) { return (30 * r + 59 * g + 11 * b) / 100; }

// A 24-bit picture, or a palette picture of the given depth with distinct colours.
Buffer MakeImage(uint32_t depth, uint32_t w, uint32_t h) {
    Buffer b(KXT_NewChunkyBuffer(1, w, h, depth));
    if (!b) return b;
    for (uint32_t i = 0; i < 256; ++i) {
        b->Palette[i * 3] = (uint8_t)(i * 7 + 3);
        b->Palette[i * 3 + 1] = (uint8_t)(255 - i);
        b->Palette[i * 3 + 2] = (uint8_t)(i * 31);
    }
    const uint32_t n = w * h;
    for (uint32_t i = 0; i < n; ++i) {
        if (depth <= 8) {
            b->Data[i] = (uint8_t)((i * 5 + i / w) % (1u << depth));
        } else {
            for (uint32_t c = 0; c < 3; ++c) b->Data[i * 3 + c] = (uint8_t)(i * 13 + c * 70 + (i / w) * 3);
        }
    }
    return b;
}

// The colour of pixel i of a 24-bit or palette picture.
void Rgb(const KX_GfxBuffer* b, uint32_t i, uint32_t rgb[3]) {
    const uint8_t* p = b->ColorDepth <= 8 ? b->Palette + b->Data[i] * 3 : b->Data + i * 3;
    for (int c = 0; c < 3; ++c) rgb[c] = p[c];
}

// What a saved picture must load as: its colours (JP2) or their grey (PGX).
void ExpectSavedPixels(const KX_GfxBuffer* saved, const KX_GfxBuffer* loaded, bool pgx) {
    ASSERT_NE(loaded, nullptr);
    ASSERT_EQ(loaded->Width, saved->Width);
    ASSERT_EQ(loaded->Height, saved->Height);
    ASSERT_EQ(loaded->ColorDepth, pgx ? 8u : 24u);
    const uint32_t n = saved->Width * saved->Height;
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t rgb[3];
        Rgb(saved, i, rgb);
        if (pgx) {
            ASSERT_EQ(loaded->Data[i], Grey(rgb[0], rgb[1], rgb[2])) << "pixel " << i;
        } else {
            for (int c = 0; c < 3; ++c) ASSERT_EQ(loaded->Data[i * 3 + c], rgb[c]) << "pixel " << i << " sample " << c;
        }
    }
}

uint32_t CheckBytes(const std::vector<uint8_t>& bytes) {
    const std::string path = TempPath("check.bin");
    EXPECT_TRUE(KXT_WriteBytes(path, bytes));
    FILE* f = fopen(path.c_str(), "rb");
    Jp2 r;
    const uint32_t known = r.obj.CheckFile(f, path.c_str(), KXIO_FILE);
    EXPECT_EQ(ftell(f), 0L);
    fclose(f);
    remove(path.c_str());
    return known;
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST(Jpeg2000Read, OtherProgramsFilesLoadPixelForPixel) {
    struct Case {
        const char* file;
        const char* source;
        uint32_t recognised;  // CheckFile: raw code streams of 2 and 4 components are not
        uint32_t channels;    // grey, or the first three components as RGB
    };
    const Case cases[] = {
        {"grey.jp2", "grey.pam", 1, 1},         {"grey.j2k", "grey.pam", 1, 1},
        {"grey.pgx", "grey.pam", 1, 1},         {"rgb.jp2", "rgb.pam", 1, 3},
        {"rgb.j2k", "rgb.pam", 1, 3},           {"rgba.jp2", "rgba.pam", 1, 3},
        {"rgba.j2k", "rgba.pam", 0, 3},         {"im_rgba.jp2", "rgba.pam", 1, 3},
        {"greya.jp2", "greya.pam", 1, 1},       {"greya.j2k", "greya.pam", 0, 1},
        {"im_greya.jp2", "greya.pam", 1, 1},    {"grey12.jp2", "grey12.pam", 1, 1},
        {"grey12.j2k", "grey12.pam", 1, 1},     {"grey12.pgx", "grey12.pam", 1, 1},
        {"tiny.jp2", "tiny.ppm", 1, 3},         {"tiny.j2k", "tiny.ppm", 1, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = Fixture(c.file);
        Pam source;
        ASSERT_TRUE(ReadPamFile(Fixture(c.source), &source));
        EXPECT_EQ(CheckBytes(KXT_ReadBytes(path)), c.recognised);
        Jp2 r;
        ASSERT_EQ(r.Load(path), KXERR_NONE);
        const KX_GfxBuffer* b = r.Image();
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(r.obj.SubFormatId, strstr(c.file, ".pgx") ? 1u : 0u);
        ASSERT_EQ(b->Width, source.width);
        ASSERT_EQ(b->Height, source.height);
        ASSERT_EQ(b->Type, (uint32_t)ONEPLANE);
        ASSERT_EQ(b->ColorDepth, c.channels * 8);
        ASSERT_EQ(b->PixelBits, c.channels * 8);
        ASSERT_EQ(b->BufferSize, source.width * source.height * c.channels);
        if (c.channels == 1) {
            for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(b->Palette[i * 3 + 1], i);
        }
        // Samples of more than 8 bits keep their low 8 bits.
        const uint32_t n = source.width * source.height;
        for (uint32_t i = 0; i < n; ++i) {
            for (uint32_t k = 0; k < c.channels; ++k) {
                ASSERT_EQ(b->Data[i * c.channels + k], source.samples[i * source.depth + k] & 0xFF)
                    << "pixel " << i << " sample " << k;
            }
        }
    }
}

TEST(Jpeg2000Read, Recognition) {
    struct Case {
        const char* name;
        std::vector<uint8_t> head;
        uint32_t known;
    };
    const std::vector<uint8_t> box = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    const Case cases[] = {
        {"JP2 box", box, 1},
        {"JP2 box of another case", {0, 0, 0, 0x0C, 'j', 'p', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A}, 0},
        {"code stream, 3 components", {0xFF, 0x4F, 0xFF, 0x51, 0x00, 0x2F, 0, 0, 0, 0, 0, 9}, 1},
        {"code stream, 1 component", {0xFF, 0x4F, 0xFF, 0x51, 0x00, 0x29, 0, 0, 0, 0, 0, 9}, 1},
        {"code stream, SIZ length 0x30", {0xFF, 0x4F, 0xFF, 0x51, 0x00, 0x30, 0, 0, 0, 0, 0, 9}, 0},
        {"code stream with capabilities", {0xFF, 0x4F, 0xFF, 0x51, 0x00, 0x2F, 0, 1, 0, 0, 0, 9}, 0},
        {"code stream cut short", {0xFF, 0x4F, 0xFF, 0x51, 0x00, 0x2F, 0, 0}, 0},
        {"PGX big-endian", Bytes("PG ML + 8 1 1\nA"), 1},
        {"PGX little-endian", Bytes("PG LM 8 1 1\nA"), 1},
        {"PGX, two blanks", Bytes("PG  ML + 8 1 1\nA"), 0},
        {"JPEG", {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F', 0}, 0},
        {"empty", {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CheckBytes(c.head), c.known);
    }
    Jp2 r;
    FILE* f = fopen(Fixture("rgb.jp2").c_str(), "rb");
    EXPECT_EQ(r.obj.CheckFile(f, "rgb.jp2", KXIO_CLIPBOARD), 0u);
    fclose(f);

    // A code stream that CheckFile passes over still loads when opened directly.
    std::vector<uint8_t> stream = KXT_ReadBytes(Fixture("rgba.j2k"));
    ASSERT_EQ(stream[5], 0x32);
    EXPECT_EQ(r.Load(Fixture("rgba.j2k")), KXERR_NONE);

    const std::string path = TempPath("unknown.jp2");
    ASSERT_TRUE(KXT_WriteBytes(path, Bytes("not a picture at all")));
    EXPECT_EQ(r.Load(path), KXERR_UNKNOWNFORMAT);
    EXPECT_EQ(r.Image(), nullptr);
    remove(path.c_str());
    EXPECT_EQ(r.Load(TempPath("missing.jp2")), KXERR_FILENOTFOUND);
}

// The fixture with one byte changed.
std::vector<uint8_t> Patched(const char* fixture, size_t at, uint8_t value) {
    std::vector<uint8_t> d = KXT_ReadBytes(Fixture(fixture));
    EXPECT_LT(at, d.size());
    if (at < d.size()) d[at] = value;
    return d;
}

size_t Find(const std::vector<uint8_t>& d, const char* text) {
    const size_t n = strlen(text);
    for (size_t i = 0; i + n <= d.size(); ++i)
        if (memcmp(d.data() + i, text, n) == 0) return i;
    return d.size();
}

// SIZ of a raw code stream: Ssiz of component c at 42 + 3c (bit 7 signed,
// the rest precision - 1); Xsiz, Ysiz at 8 and 12, the tile size at 24 and 28.
std::vector<uint8_t> WithSize(const char* fixture, uint32_t w, uint32_t h) {
    std::vector<uint8_t> d = KXT_ReadBytes(Fixture(fixture));
    for (size_t at : {8, 24})
        for (int k = 0; k < 4; ++k) d[at + k] = (uint8_t)(w >> (24 - 8 * k));
    for (size_t at : {12, 28})
        for (int k = 0; k < 4; ++k) d[at + k] = (uint8_t)(h >> (24 - 8 * k));
    return d;
}

TEST(Jpeg2000Read, RefusedInputs) {
    const std::vector<uint8_t> rgbJp2 = KXT_ReadBytes(Fixture("rgb.jp2"));
    // colr: method 1, precedence, approximation, then the enumerated colour space (16 sRGB).
    const size_t colr = Find(rgbJp2, "colr");
    ASSERT_LT(colr + 10, rgbJp2.size());
    ASSERT_EQ(rgbJp2[colr + 10], 16);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        uint32_t code;
    };
    std::vector<uint8_t> pgx16le = Bytes("PG LM + 16 3 1\n");
    for (uint8_t v : {0x34, 0x12, 0xFF, 0x00, 0x01, 0x80}) pgx16le.push_back(v);
    const Case cases[] = {
        {"sYCC colour space", Patched("rgb.jp2", colr + 10, 18), KXERR_FILEREQUIREMENTS},
        {"signed grey", Patched("grey.j2k", 42, 0x87), KXERR_FILEREQUIREMENTS},
        {"green of another precision", Patched("rgb.j2k", 45, 0x08), KXERR_FILEREQUIREMENTS},
        {"signed PGX", Bytes("PG ML - 8 2 1\nAB"), KXERR_FILEREQUIREMENTS},
        {"PGX of precision 0", Bytes("PG ML + 0 2 1\nAB"), KXERR_FILEREQUIREMENTS},
        {"PGX of precision 33", Bytes("PG ML + 33 1 1\nABCD"), KXERR_FILEREQUIREMENTS},
        {"PGX without a width", Bytes("PG ML + 8 0 1\n"), KXERR_FILEREQUIREMENTS},
        {"PGX header cut short", Bytes("PG ML + 8 2"), KXERR_NOMEMORY},
        {"PGX header of letters", Bytes("PG ML + x 2 1\nAB"), KXERR_NOMEMORY},
        {"PGX samples cut short", Bytes("PG ML + 8 2 2\nABC"), KXERR_DECODE},
        // A header that claims 60000 x 60000 samples in a file of a few bytes
        // is refused before anything is allocated for it.
        {"PGX claiming 4.9 G samples", Bytes("PG ML + 8 70000 70000\nAB"), KXERR_FILEREQUIREMENTS},
        {"PGX claiming 3.6 G samples", Bytes("PG ML + 8 60000 60000\nAB"), KXERR_NOMEMORY},
        {"PGX claiming 100 M samples", Bytes("PG ML + 8 10000 10000\nAB"), KXERR_DECODE},
        // OpenJPEG would decode these into 32-bit samples: refused before it
        // starts, beyond 32 bits (15) or beyond the size limit (3).
        {"code stream claiming 50000 x 50000", WithSize("grey.j2k", 50000, 50000), KXERR_FILEREQUIREMENTS},
        {"code stream claiming 30000 x 30000", WithSize("grey.j2k", 30000, 30000), KXERR_NOMEMORY},
        {"code stream cut after SIZ", std::vector<uint8_t>(rgbJp2.begin(), rgbJp2.begin() + 60), KXERR_NOMEMORY},
    };
    const std::string path = TempPath("refused.jp2");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(KXT_WriteBytes(path, c.bytes));
        Jp2 r;
        EXPECT_EQ(r.Load(path), c.code);
        EXPECT_EQ(r.Image(), nullptr);
    }

    // 16-bit little-endian PGX samples keep their low bytes.
    ASSERT_TRUE(KXT_WriteBytes(path, pgx16le));
    Jp2 r;
    ASSERT_EQ(r.Load(path), KXERR_NONE);
    ASSERT_EQ(r.Image()->Width, 3u);
    EXPECT_EQ(r.Image()->Data[0], 0x34);
    EXPECT_EQ(r.Image()->Data[1], 0xFF);
    EXPECT_EQ(r.Image()->Data[2], 0x01);
    remove(path.c_str());
}

TEST(Jpeg2000Write, RoundTripsAtEveryWidth) {
    std::vector<std::pair<uint32_t, uint32_t>> sizes;
    for (uint32_t w = 1; w <= 17; ++w) sizes.push_back({w, w % 3 + 1});
    sizes.push_back({97, 5});
    sizes.push_back({1, 1});
    sizes.push_back({7, 3});
    sizes.push_back({3, 40});
    sizes.push_back({70, 66});
    // Several tiles, the last of a single column or row.
    sizes.push_back({1025, 2});
    sizes.push_back({3, 2049});
    const std::string path = TempPath("round.jp2");
    for (uint32_t depth : {24u, 8u, 1u}) {
        for (uint32_t sub : {0u, 1u}) {
            for (const auto& [w, h] : sizes) {
                SCOPED_TRACE(std::to_string(depth) + " bit, sub-format " + std::to_string(sub) + ", " +
                             std::to_string(w) + "x" + std::to_string(h));
                Buffer img = MakeImage(depth, w, h);
                Jp2 wr;
                ASSERT_EQ(wr.Save(img.get(), path, sub), KXERR_NONE);
                const std::vector<uint8_t> head = KXT_ReadBytes(path);
                ASSERT_GE(head.size(), 8u);
                EXPECT_EQ(memcmp(head.data() + (sub ? 0 : 4), sub ? "PG ML" : "jP  ", sub ? 5 : 4), 0);
                Jp2 rd;
                ASSERT_EQ(rd.Load(path), KXERR_NONE);
                ExpectSavedPixels(img.get(), rd.Image(), sub != 0);
            }
        }
    }
    remove(path.c_str());
}

// Our files as other programs read them: opj_decompress and ImageMagick.
TEST(Jpeg2000Write, OtherProgramsReadOurFiles) {
    const bool opj = KXT_HaveTool("opj_decompress");
    const bool im = KXT_HaveTool("convert-im6.q16");
    if (!opj && !im) GTEST_SKIP() << "neither opj_decompress nor ImageMagick is installed";
    const std::string path = TempPath("ours.jp2");
    const std::string pgx = TempPath("ours.pgx");
    const std::string out = TempPath("theirs.pnm");
    for (uint32_t depth : {24u, 8u}) {
        // 1030 x 1025: tiles, the last ones of 6 columns and of 1 row.
        for (const auto& [w, h] : std::vector<std::pair<uint32_t, uint32_t>>{{1, 1}, {7, 3}, {61, 37}, {1030, 1025}}) {
            SCOPED_TRACE(std::to_string(depth) + " bit " + std::to_string(w) + "x" + std::to_string(h));
            Buffer img = MakeImage(depth, w, h);
            Jp2 wr;
            ASSERT_EQ(wr.Save(img.get(), path, 0), KXERR_NONE);
            ASSERT_EQ(wr.Save(img.get(), pgx, 1), KXERR_NONE);
            std::vector<std::pair<std::string, bool>> commands;
            if (opj) commands.push_back({"opj_decompress -i " + path + " -o " + out, false});
            if (im) {
                commands.push_back({"convert-im6.q16 " + path + " -depth 8 PAM:" + out, false});
                commands.push_back({"convert-im6.q16 " + pgx + " -depth 8 PAM:" + out, true});
            }
            for (const auto& [command, grey] : commands) {
                SCOPED_TRACE(command);
                remove(out.c_str());
                ASSERT_EQ(RunTool(command), 0);
                Pam theirs;
                ASSERT_TRUE(ReadPamFile(out, &theirs));
                ASSERT_EQ(theirs.width, w);
                ASSERT_EQ(theirs.height, h);
                for (uint32_t i = 0; i < w * h; ++i) {
                    uint32_t rgb[3];
                    Rgb(img.get(), i, rgb);
                    if (grey) {
                        ASSERT_EQ(theirs.samples[i * theirs.depth], Grey(rgb[0], rgb[1], rgb[2])) << "pixel " << i;
                    } else {
                        ASSERT_GE(theirs.depth, 3u);
                        for (int c = 0; c < 3; ++c) ASSERT_EQ(theirs.samples[i * theirs.depth + c], rgb[c]) << "pixel " << i;
                    }
                }
            }
        }
    }
    remove(path.c_str());
    remove(pgx.c_str());
    remove(out.c_str());
}

TEST(Jpeg2000Write, ChecksComeBeforeTheFile) {
    struct Case {
        const char* name;
        uint32_t depth;
        std::function<void(KX_GfxBuffer*)> change;
        int32_t mode;
        bool noBuffer;
        uint32_t code;
    };
    const Case cases[] = {
        {"clipboard mode", 24, nullptr, KXIO_CLIPBOARD, false, KXERR_NOTSUPPORTED},
        {"no buffer", 24, nullptr, KXIO_FILE, true, KXERR_NOTSUPPORTED},
        {"48 bit", 48, nullptr, KXIO_FILE, false, KXERR_FILEREQUIREMENTS},
        {"depth 16", 24, [](KX_GfxBuffer* b) { b->ColorDepth = 16; }, KXIO_FILE, false, KXERR_FILEREQUIREMENTS},
        {"HAM", 8, [](KX_GfxBuffer* b) { b->ColorDepth = 6; b->ViewMode = KXVIEWMODE_HAM; }, KXIO_FILE, false,
         KXERR_NOHAM},
        {"data too short", 24, [](KX_GfxBuffer* b) { b->BufferSize -= 1; }, KXIO_FILE, false, KXERR_INTERNALACCESS},
    };
    for (uint32_t sub : {0u, 1u}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (sub ? " PGX" : " JP2"));
            Buffer img(KXT_NewChunkyBuffer(1, 4, 4, c.depth));
            if (c.change) c.change(img.get());
            const std::string path = TempPath("checks.jp2");
            remove(path.c_str());
            Jp2 w;
            ASSERT_EQ(w.obj.SetIOMode(c.mode), KXERR_NONE);
            w.obj.SetSaveName(path.c_str());
            w.obj.SetSubFormat(sub);
            if (!c.noBuffer) w.obj.SetGfxBuffer(img.get());
            EXPECT_EQ(w.obj.Save(), c.code);
            EXPECT_FALSE(KXT_Exists(path));
            EXPECT_EQ(KXT_CountLeftovers(path), 0);
        }
    }
    Jp2 w;
    EXPECT_EQ(w.obj.SetIOMode(KXIO_DEVICE), KXERR_NOTSUPPORTED);
    char ext[16] = {};
    EXPECT_EQ(w.obj.GetExtension(ext), KXERR_NONE);
    EXPECT_STREQ(ext, ".JP2");
}

// A write that fails part way (the file size limit) ends the save with 30;
// the old file stays and no temporary file is left.
TEST(Jpeg2000Write, FailedWriteKeepsTheOldFile) {
    for (uint32_t sub : {0u, 1u}) {
        SCOPED_TRACE(sub ? "PGX" : "JP2");
        Buffer img = MakeImage(24, 300, 200);
        Jp2 w;
        w.obj.SetSubFormat(sub);
        EXPECT_EQ(kxt::SaveUnderFileSizeLimit(&w.obj, img.get(), "full.jp2"), KXERR_IO);
    }
}

// A JP2 file of opj_compress's with an ICC profile put in by exiftool (a
// colr box of method 2): OpenJPEG knows no colour space then, so the
// components are taken by their number, unless the profile is neither RGB
// nor grey; the profile goes to the record when metadata is loaded.
TEST(Jpeg2000Read, IccProfileFilesLoadWithTheirProfile) {
    if (!KXT_HaveTool("exiftool")) GTEST_SKIP() << "exiftool is missing";
    uint8_t* made = nullptr;
    uint32_t madeSize = 0;
    ASSERT_EQ(KXSUP_CreateCMSProfileGamma(256, 0.45455, &made, &madeSize), KXERR_NONE);
    const std::vector<uint8_t> rgbProfile(made, made + madeSize);
    FreeVec(made);
    struct Case {
        const char* file;
        const char* source;
        const char* space;  // the profile's colour space field
        uint32_t code;
        uint32_t channels;
    };
    const Case cases[] = {
        {"rgb.jp2", "rgb.pam", "RGB ", KXERR_NONE, 3},
        {"rgba.jp2", "rgba.pam", "RGB ", KXERR_NONE, 3},
        {"grey.jp2", "grey.pam", "GRAY", KXERR_NONE, 1},
        {"greya.jp2", "greya.pam", "GRAY", KXERR_NONE, 1},
        {"grey12.jp2", "grey12.pam", "GRAY", KXERR_NONE, 1},
        {"rgb.jp2", "rgb.pam", "GRAY", KXERR_NONE, 1},
        {"rgb.jp2", "rgb.pam", "CMYK", KXERR_FILEREQUIREMENTS, 0},
        {"rgb.jp2", "rgb.pam", "Lab ", KXERR_FILEREQUIREMENTS, 0},
    };
    const std::string icc = TempPath("profile.icc"), path = TempPath("icc.jp2");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " with a profile of " + c.space);
        std::vector<uint8_t> profile = rgbProfile;
        memcpy(profile.data() + 16, c.space, 4);
        ASSERT_TRUE(KXT_WriteBytes(icc, profile));
        ASSERT_TRUE(KXT_WriteBytes(path, KXT_ReadBytes(Fixture(c.file))));
        ASSERT_EQ(RunTool("exiftool -q -overwrite_original '-ICC_Profile<=" + icc + "' " + path), 0);
        // The colour is now the profile (method 2), not an enumerated space.
        const std::vector<uint8_t> made = KXT_ReadBytes(path);
        const size_t colr = Find(made, "colr");
        ASSERT_LT(colr + 4, made.size());
        ASSERT_EQ(made[colr + 4], 2);

        Jp2 r;
        r.obj.SetLoadMeta(1);
        ASSERT_EQ(r.Load(path), c.code);
        if (c.code != KXERR_NONE) {
            EXPECT_EQ(r.Image(), nullptr);
            continue;
        }
        const KX_GfxBuffer* b = r.Image();
        ASSERT_NE(b, nullptr);
        Pam source;
        ASSERT_TRUE(ReadPamFile(Fixture(c.source), &source));
        ASSERT_EQ(b->Width, source.width);
        ASSERT_EQ(b->Height, source.height);
        ASSERT_EQ(b->ColorDepth, c.channels * 8);
        const uint32_t n = source.width * source.height;
        for (uint32_t i = 0; i < n; ++i)
            for (uint32_t k = 0; k < c.channels; ++k)
                ASSERT_EQ(b->Data[i * c.channels + k], source.samples[i * source.depth + k] & 0xFF)
                    << "pixel " << i << " sample " << k;
        const KXOSpecialInfo* info = r.obj.GetSpecialInfo();
        ASSERT_NE(info, nullptr);
        ASSERT_EQ(info->IccSize, profile.size());
        EXPECT_EQ(memcmp(info->IccData, profile.data(), profile.size()), 0);
        EXPECT_EQ(info->IccType, 0u);

        // Without metadata loading the picture is the same and no profile is kept.
        Jp2 plain;
        ASSERT_EQ(plain.Load(path), KXERR_NONE);
        EXPECT_EQ(plain.obj.IccData, nullptr);
        ASSERT_EQ(plain.Image()->BufferSize, b->BufferSize);
        EXPECT_EQ(memcmp(plain.Image()->Data, b->Data, b->BufferSize), 0);
    }
    remove(icc.c_str());
    remove(path.c_str());
}

// Runs f with the process allowed on one processor only, then restores
// the mask: OpenJPEG then codes on one thread.
template <class F>
void OnOneProcessor(F f) {
    cpu_set_t all, one;
    ASSERT_EQ(sched_getaffinity(0, sizeof(all), &all), 0);
    CPU_ZERO(&one);
    for (int c = 0; c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &all)) {
            CPU_SET(c, &one);
            break;
        }
    ASSERT_EQ(sched_setaffinity(0, sizeof(one), &one), 0);
    f();
    ASSERT_EQ(sched_setaffinity(0, sizeof(all), &all), 0);
}

// Pictures of several tiles and one, saved and loaded on every processor
// and on one: the same bytes and the same pixels, the saved ones.
TEST(Jpeg2000Write, ThreadsChangeNeitherBytesNorPixels) {
    cpu_set_t all;
    ASSERT_EQ(sched_getaffinity(0, sizeof(all), &all), 0);
    if (CPU_COUNT(&all) < 2) GTEST_SKIP() << "one processor only";
    const std::string many = TempPath("threads_many.jp2"), one = TempPath("threads_one.jp2");
    for (const auto& [w, h, depth] : std::vector<std::tuple<uint32_t, uint32_t, uint32_t>>{
             {1100, 1030, 24}, {1500, 300, 8}, {300, 200, 24}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " " + std::to_string(depth) + " bit");
        Buffer img = MakeImage(depth, w, h);
        Jp2 a;
        ASSERT_EQ(a.Save(img.get(), many, 0), KXERR_NONE);
        OnOneProcessor([&] {
            Jp2 b;
            ASSERT_EQ(b.Save(img.get(), one, 0), KXERR_NONE);
        });
        const std::vector<uint8_t> bytesMany = KXT_ReadBytes(many), bytesOne = KXT_ReadBytes(one);
        ASSERT_FALSE(bytesMany.empty());
        EXPECT_TRUE(bytesMany == bytesOne) << bytesMany.size() << " and " << bytesOne.size() << " bytes";

        Jp2 ra;
        ASSERT_EQ(ra.Load(many), KXERR_NONE);
        ExpectSavedPixels(img.get(), ra.Image(), false);
        OnOneProcessor([&] {
            Jp2 rb;
            ASSERT_EQ(rb.Load(many), KXERR_NONE);
            ASSERT_EQ(rb.Image()->BufferSize, ra.Image()->BufferSize);
            EXPECT_EQ(memcmp(rb.Image()->Data, ra.Image()->Data, ra.Image()->BufferSize), 0);
        });
    }
    remove(many.c_str());
    remove(one.c_str());
}

uint64_t StatusKb(const char* field) {
    FILE* f = fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    uint64_t kb = 0;
    const size_t n = strlen(field);
    while (fgets(line, sizeof(line), f))
        if (strncmp(line, field, n) == 0) kb = strtoull(line + n + 1, nullptr, 10);
    fclose(f);
    return kb;
}

// Runs work in a child process on one processor (so that no thread's own
// caches blur the figure): its code and how far the child's peak resident
// memory rose above what it had before, in kilobytes.
std::pair<int, uint64_t> InChild(const std::function<uint32_t()>& work) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        cpu_set_t all, one;
        CPU_ZERO(&one);
        if (sched_getaffinity(0, sizeof(all), &all) == 0) {
            for (int c = 0; c < CPU_SETSIZE; ++c)
                if (CPU_ISSET(c, &all)) {
                    CPU_SET(c, &one);
                    break;
                }
            sched_setaffinity(0, sizeof(one), &one);
        }
        const uint64_t before = StatusKb("VmRSS");
        const uint32_t code = work();
        const uint64_t growth = StatusKb("VmHWM") - before;
        if (write(fds[1], &growth, sizeof(growth)) != sizeof(growth)) _exit(255);
        _exit((int)code);
    }
    close(fds[1]);
    uint64_t growth = ~0ull;
    if (read(fds[0], &growth, sizeof(growth)) != sizeof(growth)) growth = ~0ull;
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, growth};
}

// OpenJPEG's decoding of a file alone, as the module runs it (on the
// process's processors), up to the moment its picture is released.
uint32_t DecodeWithOpenJpegOnly(const std::string& path) {
    opj_stream_t* stream = opj_stream_create_default_file_stream(path.c_str(), OPJ_TRUE);
    opj_codec_t* codec = opj_create_decompress(OPJ_CODEC_JP2);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    opj_image_t* image = nullptr;
    cpu_set_t set;
    bool ok = stream && codec && opj_setup_decoder(codec, &parameters) && sched_getaffinity(0, sizeof(set), &set) == 0;
    if (ok && CPU_COUNT(&set) > 1) opj_codec_set_threads(codec, CPU_COUNT(&set));
    ok = ok && opj_read_header(stream, codec, &image) && opj_decode(codec, stream, image) &&
         opj_end_decompress(codec, stream);
    if (codec) opj_destroy_codec(codec);
    if (stream) opj_stream_destroy(stream);
    if (image) opj_image_destroy(image);
    return ok ? KXERR_NONE : KXERR_DECODE;
}

// A load peaks where OpenJPEG's own decoding peaks (the picture fills as
// OpenJPEG's samples are given back), not at that plus the picture; a save
// hands OpenJPEG one tile at a time and never needs the 32-bit copy of the
// whole picture that OpenJPEG's own tools hold.
TEST(Jpeg2000Write, LargePicturesStayWithinOpenJpegsOwnMemory) {
    const uint32_t w = 2400, h = 1800;
    const uint64_t pictureKb = (uint64_t)w * h * 3 / 1024, samplesKb = pictureKb * 4;
    // A smooth picture: its code stream is small beside the samples.
    Buffer img(KXT_NewChunkyBuffer(1, w, h, 24));
    ASSERT_TRUE(img);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* p = img->Data + ((size_t)y * w + x) * 3;
            p[0] = (uint8_t)(x / 10);
            p[1] = (uint8_t)(y / 8);
            p[2] = (uint8_t)((x + y) / 20);
        }
    const std::string path = TempPath("large.jp2");
    KX_GfxBuffer* picture = img.get();
    const auto [saved, saveKb] = InChild([&] {
        Jp2 wr;
        return wr.Save(picture, path, 0);
    });
    ASSERT_EQ(saved, 0);
    EXPECT_LT(saveKb, samplesKb * 3 / 4) << "kilobytes for a save of " << pictureKb << " KB of picture";
    const auto [decoded, openJpegKb] = InChild([&] { return DecodeWithOpenJpegOnly(path); });
    ASSERT_EQ(decoded, 0);
    const auto [loaded, loadKb] = InChild([&] {
        Jp2 rd;
        return rd.Load(path);
    });
    ASSERT_EQ(loaded, 0);
    EXPECT_LT(loadKb, openJpegKb + pictureKb / 4)
        << "kilobytes for a load of " << pictureKb << " KB of picture, " << openJpegKb << " for OpenJPEG alone";
    Jp2 rd;
    ASSERT_EQ(rd.Load(path), KXERR_NONE);
    ExpectSavedPixels(img.get(), rd.Image(), false);
    remove(path.c_str());
}

// A code stream of a few hundred bytes may declare a large picture and be
// right: a blank 7000 x 7000 picture takes 330 bytes from opj_compress. Such
// a file costs what OpenJPEG needs to decode it (100 MB for 5000 x 5000
// here, not a byte more for our picture), and loads where OpenJPEG decodes it.
TEST(Jpeg2000Read, TinyCodeStreamOfALargePictureCostsOnlyOpenJpegsMemory) {
    const std::string path = TempPath("tiny_large.j2k");
    const std::vector<uint8_t> bytes = WithSize("grey.j2k", 5000, 5000);
    ASSERT_LT(bytes.size(), 400u);
    ASSERT_TRUE(KXT_WriteBytes(path, bytes));
    const auto [decoded, openJpegKb] = InChild([&] {
        opj_stream_t* stream = opj_stream_create_default_file_stream(path.c_str(), OPJ_TRUE);
        opj_codec_t* codec = opj_create_decompress(OPJ_CODEC_J2K);
        opj_dparameters_t parameters;
        opj_set_default_decoder_parameters(&parameters);
        opj_image_t* image = nullptr;
        const bool ok = stream && codec && opj_setup_decoder(codec, &parameters) &&
                        opj_read_header(stream, codec, &image) && opj_decode(codec, stream, image);
        if (codec) opj_destroy_codec(codec);
        if (stream) opj_stream_destroy(stream);
        if (image) opj_image_destroy(image);
        return ok ? KXERR_NONE : KXERR_DECODE;
    });
    const auto [loaded, loadKb] = InChild([&] {
        Jp2 r;
        return r.Load(path);
    });
    // Decoding fails or succeeds in both (a failed decode is our 3).
    EXPECT_EQ(loaded == 0, decoded == 0) << loaded << " and " << decoded;
    EXPECT_LT(loadKb, openJpegKb + 5000ull * 5000 / 4 / 1024) << "kilobytes, " << openJpegKb << " for OpenJPEG alone";
    remove(path.c_str());
}

TEST(Jpeg2000Read, DamagedFilesFailCleanly) {
    for (const char* name : {"rgb.jp2", "greya.j2k", "grey12.pgx"}) {
        SCOPED_TRACE(name);
        KXT_CheckReaderRobustness("kxoJPEG2000", Fixture(name));
    }
}

}  // namespace
