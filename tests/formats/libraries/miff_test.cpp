// MIFF: ImageMagick reads our files back pixel for pixel after its
// conversion to sRGB (24 and 48 bits,
// palettes of 1 to 8 bits, alpha maps of 8 and 16 bits and alpha tables)
// at widths 1 to 17 and a prime; the header lines; 48-bit samples go out
// big-endian and the picture stays marked so; refusals and failed writes
// leave the old file.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "dump_helpers.h"
#include "formats/libraries/kxoMIFF.h"

using namespace dumptest;

namespace {

// A P7 file as ImageMagick writes it: samples of one or two bytes.
struct Pam {
    uint32_t width = 0, height = 0, depth = 0, maxval = 0;
    std::string tupltype;
    std::vector<uint32_t> samples;
};

bool ReadPam(const std::string& path, Pam* pam) {
    const std::string s = KXT_ReadFile(path);
    size_t pos = 0;
    auto line = [&]() {
        const size_t end = s.find('\n', pos);
        if (end == std::string::npos) return std::string();
        std::string l = s.substr(pos, end - pos);
        pos = end + 1;
        return l;
    };
    if (line() != "P7") return false;
    for (std::string l = line(); l != "ENDHDR"; l = line()) {
        if (l.empty() && pos >= s.size()) return false;
        const size_t blank = l.find(' ');
        const std::string key = l.substr(0, blank), value = blank == std::string::npos ? "" : l.substr(blank + 1);
        if (key == "WIDTH") pam->width = (uint32_t)std::stoul(value);
        if (key == "HEIGHT") pam->height = (uint32_t)std::stoul(value);
        if (key == "DEPTH") pam->depth = (uint32_t)std::stoul(value);
        if (key == "MAXVAL") pam->maxval = (uint32_t)std::stoul(value);
        if (key == "TUPLTYPE") pam->tupltype = value;
    }
    const size_t bytes = pam->maxval > 255 ? 2 : 1;
    const size_t count = (size_t)pam->width * pam->height * pam->depth;
    if (s.size() - pos < count * bytes) return false;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(s.data()) + pos + i * bytes;
        pam->samples.push_back(bytes == 2 ? (uint32_t)(p[0] << 8 | p[1]) : p[0]);
    }
    return true;
}

struct Kind {
    const char* name;
    uint32_t depth;
    Alpha alpha;
};
const Kind kKinds[] = {{"rgb", 24, NO_ALPHA},      {"rgba", 24, MAP8},          {"rgba16", 24, MAP16},
                       {"deep", 48, NO_ALPHA},     {"deepa", 48, MAP8},         {"deepa16", 48, MAP16},
                       {"bits1", 1, NO_ALPHA},     {"bits4", 4, NO_ALPHA},      {"bits8", 8, NO_ALPHA},
                       {"bits8map", 8, MAP8},      {"bits5map16", 5, MAP16},    {"bits8table", 8, TABLE},
                       {"bits2key", 2, KEY}};

// The samples ImageMagick must give for the picture: R, G, B (and A), of 8
// bits, or of 16 bits for 48-bit pictures.
std::vector<uint32_t> Expected(const KX_GfxBuffer* b, bool alpha) {
    std::vector<uint32_t> out;
    const size_t pixels = (size_t)b->Width * b->Height;
    for (size_t i = 0; i < pixels; ++i) {
        if (b->ColorDepth <= 8) {
            for (int c = 0; c < 3; ++c) out.push_back(b->Palette[3 * b->Data[i] + c]);
        } else if (b->ColorDepth == 24) {
            for (int c = 0; c < 3; ++c) out.push_back(b->Data[3 * i + c]);
        } else {
            for (int c = 0; c < 3; ++c) {
                uint16_t v;
                memcpy(&v, b->Data + 6 * i + 2 * c, 2);
                out.push_back(v);
            }
        }
        if (alpha) out.push_back(b->ColorDepth == 48 ? AlphaOf(b, i) * 257u : AlphaOf(b, i));
    }
    return out;
}

}  // namespace

// Every kind at every width, read back by ImageMagick in one run.
TEST(Miff, ImageMagickReadsEveryKind) {
    if (!KXT_HaveTool("mogrify")) GTEST_SKIP() << "ImageMagick is not installed";
    const std::string dir = KXT_NewTempDir(ScratchDir() + "/im-XXXXXX");
    struct Case {
        std::string name;
        uint32_t width, height;
        bool alpha, deep;
        std::vector<uint32_t> samples;
    };
    std::vector<Case> cases;
    for (uint32_t w : Widths())
        for (const Kind& k : kKinds) {
            Buffer b = MakePicture(w, 3, k.depth, k.alpha);
            ASSERT_TRUE(b);
            const bool alpha = k.alpha != NO_ALPHA && k.alpha != KEY;
            Case c{std::string(k.name) + "_" + std::to_string(w), w, 3, alpha, k.depth == 48, Expected(b.get(), alpha)};
            ASSERT_EQ(kxt::SaveTo<kxoMIFF>(b.get(), dir + "/" + c.name + ".miff").Err, KXERR_NONE) << c.name;
            cases.push_back(std::move(c));
        }
    // Brought to sRGB on the way, as every writer of ImageMagick's that needs
    // sRGB does: a file that declares another colour space comes back shifted.
    ASSERT_EQ(RunTool("mogrify -colorspace sRGB -format pam " + dir + "/*.miff"), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pam pam;
        ASSERT_TRUE(ReadPam(dir + "/" + c.name + ".pam", &pam));
        EXPECT_EQ(pam.width, c.width);
        EXPECT_EQ(pam.height, c.height);
        EXPECT_EQ(pam.maxval, c.deep ? 65535u : 255u);
        EXPECT_EQ(pam.tupltype, c.alpha ? "RGB_ALPHA" : "RGB");
        EXPECT_EQ(pam.samples, c.samples);
    }
}

// The header lines of each class; 48-bit samples go out big-endian, and
// the picture handed in is marked big-endian afterwards.
TEST(Miff, HeadersAndByteOrder) {
    Buffer deep = MakePicture(2, 1, 48);
    Buffer pal = MakePicture(3, 1, 4, TABLE);
    Buffer rgba = MakePicture(1, 1, 24, MAP8);
    ASSERT_TRUE(deep && pal && rgba);
    const uint16_t samples[6] = {0x1234, 0x5678, 0x9abc, 0xdef0, 0x0102, 0x0304};
    memcpy(deep->Data, samples, 12);
    const uint8_t indices[3] = {0, 15, 2};
    memcpy(pal->Data, indices, 3);
    for (int i = 0; i < 16; ++i) KXSUP_AlphaBytes(pal.get())[i] = (uint8_t)(200 + i);
    rgba->Data[0] = 1, rgba->Data[1] = 2, rgba->Data[2] = 3;
    KXSUP_AlphaBytes(rgba.get())[0] = 4;

    std::string palette, palettePixels = std::string("\x00\xc8\x0f\xd7\x02\xca", 6);
    palette.assign(reinterpret_cast<const char*>(pal->Palette), 48);
    const struct {
        const char* name;
        KX_GfxBuffer* picture;
        std::string bytes;
    } cases[] = {
        {"deep", deep.get(),
         "id=ImageMagick  version=1.0\nclass=DirectClass  colors=0  matte=False\ncolumns=2  rows=1  depth=16\n"
         "compression=None  quality=0\ncolorspace=sRGB\n:\x1a" +
             std::string("\x12\x34\x56\x78\x9a\xbc\xde\xf0\x01\x02\x03\x04", 12)},
        {"palette", pal.get(),
         "id=ImageMagick  version=1.0\nclass=PseudoClass  colors=16  matte=True\ncolumns=3  rows=1  depth=8\n"
         "compression=None  quality=0\ncolorspace=sRGB\n:\x1a" +
             palette + palettePixels},
        {"rgba", rgba.get(),
         "id=ImageMagick  version=1.0\nclass=DirectClass  colors=0  matte=True\ncolumns=1  rows=1  depth=8\n"
         "compression=None  quality=0\ncolorspace=sRGB\n:\x1a\x01\x02\x03\x04"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Path(std::string(c.name) + ".mif");
        ASSERT_EQ(kxt::SaveTo<kxoMIFF>(c.picture, path).Err, KXERR_NONE);
        EXPECT_EQ(KXT_ReadFile(path), c.bytes);
    }
    EXPECT_EQ(KXSUP_GetGfxBufferEndianess(deep.get()), (uint32_t)KXENDIAN_BIG);
    // Saved again, the now big-endian picture gives the same file.
    ASSERT_EQ(kxt::SaveTo<kxoMIFF>(deep.get(), Path("deep2.mif")).Err, KXERR_NONE);
    EXPECT_EQ(KXT_ReadFile(Path("deep2.mif")), KXT_ReadFile(Path("deep.mif")));
}

// A bit-plane picture is written as its indices; progress is reported once.
TEST(Miff, BitPlanesAndProgress) {
    Buffer chunky = MakePicture(11, 5, 3);
    ASSERT_TRUE(chunky);
    KX_GfxBuffer* planes = nullptr;
    ASSERT_EQ(KXSUP_OnePlaneToBitPlane8(chunky.get(), &planes), KXERR_NONE);
    Buffer planar(planes);
    ASSERT_EQ(kxt::SaveTo<kxoMIFF>(planar.get(), Path("planes.mif")).Err, KXERR_NONE);
    ASSERT_EQ(kxt::SaveTo<kxoMIFF>(chunky.get(), Path("chunky.mif")).Err, KXERR_NONE);
    EXPECT_EQ(KXT_ReadFile(Path("planes.mif")), KXT_ReadFile(Path("chunky.mif")));

    std::vector<uint32_t> seen;
    kxoMIFF w(nullptr);
    const std::string path = Path("progress.mif");
    w.SetSaveName(path.c_str());
    w.SetGfxBuffer(chunky.get());
    w.SetProgress(kxt::OnProgress, reinterpret_cast<uintptr_t>(&seen));
    EXPECT_EQ(w.Save(), KXERR_NONE);
    EXPECT_EQ(seen, (std::vector<uint32_t>{50}));
}

TEST(Miff, Operations) {
    kxoMIFF w(nullptr);
    char ext[16] = {};
    EXPECT_EQ(w.GetExtension(ext), KXERR_NONE);
    EXPECT_STREQ(ext, ".mif");
    EXPECT_EQ(w.CheckFile(nullptr, "x.mif", KXIO_FILE), 0u);
    EXPECT_EQ(w.Load(), KXERR_NOTSUPPORTED);
    EXPECT_EQ(w.SetIOMode(2), KXERR_NONE);
    EXPECT_EQ(w.SetIOMode(0), KXERR_NOTSUPPORTED);
    EXPECT_STREQ(w.FormatName, "MIFF");
}

// Refusals come before the file is opened: the old file stays, nothing is
// left beside it, the picture is untouched; a write that fails gives 30
// and keeps the old file too.
TEST(Miff, FailuresKeepTheOldFile) {
    const std::string path = Path("old.mif");
    Buffer ham = MakePicture(4, 4, 6);
    ham->ViewMode = KXVIEWMODE_HAM;
    Buffer odd = MakePicture(4, 4, 24);
    odd->ColorDepth = 16;  // a depth the format has no class for
    Buffer ok = MakePicture(64, 64, 48, MAP16);
    ASSERT_TRUE(ham && odd && ok);
    ExpectRefusalsKeepOldFile<kxoMIFF>(path, {
        {"HAM", ham.get(), KXIO_FILE, path, KXERR_NOHAM},
        {"depth 16", odd.get(), KXIO_FILE, path, KXERR_FILEREQUIREMENTS},
        {"no picture", nullptr, KXIO_FILE, path, KXERR_NOTSUPPORTED},
        {"clipboard mode", ok.get(), 2, path, KXERR_NOTSUPPORTED},
        {"no folder", ok.get(), KXIO_FILE, ScratchDir() + "/missing/x.mif", KXERR_NODESTFILE},
    });
    for (auto kind : {MAP8, NO_ALPHA, TABLE}) {
        SCOPED_TRACE(kind);
        Buffer b = MakePicture(100, 100, kind == TABLE ? 8 : 24, kind);
        kxoMIFF w(nullptr);
        EXPECT_EQ(kxt::SaveUnderFileSizeLimit(&w, b.get(), "limited.mif"), KXERR_IO);
    }
}
