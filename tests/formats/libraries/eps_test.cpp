// EPS: the writer's page geometry, header and both data encodings; our
// files rendered by Ghostscript against the picture; failures that leave
// no file; DOS EPS files read by either section in either order, with the
// fall-back to the other section and the section bounds; damaged files.
#include "converter_helpers.h"
#include "formats/libraries/kxoEPS.h"
#include "formats/libraries/kxoGS.h"
#include "formats/libraries/kxoTIFF.h"
#include "formats/raster/write_failure.h"
#include "support/robustness.h"
#include "tiff_helpers.h"

using namespace convtest;

namespace {
struct Saved {
    uint32_t err;
    std::string text;  // the whole file
};

Saved SaveEps(const Scratch& dir, KX_GfxBuffer* img, const Settings& settings, const std::string& name = "out.eps") {
    Module<kxoEPS> eps(settings);
    const std::string path = dir / name;
    eps.obj.SetSaveName(path.c_str());
    eps.obj.SetGfxBuffer(img);
    Saved s{eps.obj.Save(), KXT_ReadFile(path)};
    return s;
}

// The samples between "colorimage" and the trailer, without line feeds.
std::string DataDigits(const std::string& eps) {
    size_t start = eps.find("colorimage\n") + 11, end = eps.find("\ngrestore");
    std::string digits;
    for (size_t i = start; i < end; ++i)
        if (eps[i] != '\n') digits += eps[i];
    return digits;
}

// One row per channel: red, green and blue samples of a w x 1 picture.
Buffer Rows(const std::vector<uint8_t>& r, const std::vector<uint8_t>& g, const std::vector<uint8_t>& b) {
    Buffer img = pngtest::MakeImage(24, (uint32_t)r.size(), 1);
    for (size_t x = 0; x < r.size(); ++x) {
        img->Data[3 * x] = r[x];
        img->Data[3 * x + 1] = g[x];
        img->Data[3 * x + 2] = b[x];
    }
    return img;
}

uint32_t le32(const std::string& s, size_t at) {
    return (uint8_t)s[at] | (uint8_t)s[at + 1] << 8 | (uint8_t)s[at + 2] << 16 | (uint32_t)(uint8_t)s[at + 3] << 24;
}
}  // namespace

TEST(EpsWriter, PageGeometryRotationAndResolution) {
    Scratch dir;
    struct Row {
        uint32_t w, h;
        Settings settings;
        const char* bbox;
        bool rotated;
        const char* placement;
    } rows[] = {
        {640, 480, {}, "75 73 536 688", true, "75.6 73.8 translate\n460.8 614.4 scale\n"},
        {100, 50, {}, "282 333 330 429", true, nullptr},
        {50, 100, {}, "282 333 330 429", false, nullptr},
        {50, 100, {{"SAVE_ROTATE", "on"}}, nullptr, true, nullptr},
        {100, 50, {{"SAVE_CENTER", "OFF"}, {"SAVE_DPI", "72"}}, "0 0 50 100", true, "0 0 translate\n50 100 scale\n"},
        // No resolution of 0 or less: the default, not a division by zero.
        {640, 480, {{"SAVE_DPI", "0"}}, "75 73 536 688", true, nullptr},
        {640, 480, {{"SAVE_DPI", "-72"}}, "75 73 536 688", true, nullptr},
        // Larger than 95 % of the page: shrunk to its width, then its height.
        {100, 2000, {{"SAVE_DPI", "72"}}, nullptr, false, nullptr},
        {600, 700, {{"SAVE_DPI", "72"}, {"SAVE_WIDTH", "-1"}, {"SAVE_HEIGHT", "0"}}, nullptr, false, nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.w) + "x" + std::to_string(r.h));
        Buffer img = pngtest::MakeImage(24, r.w, r.h);
        const Saved s = SaveEps(dir, img.get(), r.settings);
        ASSERT_EQ(s.err, 0u);
        if (r.bbox) {
            EXPECT_NE(s.text.find(std::string("\n%%BoundingBox: ") + r.bbox + "\n"), std::string::npos);
        }
        EXPECT_EQ(s.text.find("\n0.5 0.5 translate  90 rotate  -0.5 -0.5 translate\n") != std::string::npos, r.rotated);
        if (r.placement) {
            EXPECT_NE(s.text.find(r.placement), std::string::npos);
        }
        // Whatever the picture, the box lies on the page.
        int box[4] = {-1, -1, -1, -1};
        const size_t at = s.text.find("%%BoundingBox: ");
        ASSERT_NE(at, std::string::npos);
        ASSERT_EQ(sscanf(s.text.c_str() + at, "%%%%BoundingBox: %d %d %d %d", &box[0], &box[1], &box[2], &box[3]), 4);
        EXPECT_TRUE(box[0] >= 0 && box[1] >= 0 && box[2] <= 612 && box[3] <= 762 && box[2] > box[0] && box[3] > box[1])
            << box[0] << " " << box[1] << " " << box[2] << " " << box[3];
        const std::string matrix = std::to_string(r.w) + " " + std::to_string(r.h) + " 8\n[ " + std::to_string(r.w) +
                                   " 0 0 -" + std::to_string(r.h) + " 0 " + std::to_string(r.h) + " ]\n";
        EXPECT_NE(s.text.find(matrix), std::string::npos);
    }
}

TEST(EpsWriter, DosHeaderTitleAndThePlainVariant) {
    Scratch dir;
    Buffer img = pngtest::MakeImage(24, 9, 11);
    const Saved dos = SaveEps(dir, img.get(), {}, "pic.eps");
    ASSERT_EQ(dos.err, 0u);
    ASSERT_GT(dos.text.size(), 32u);
    EXPECT_EQ(dos.text.substr(0, 4), "\xC5\xD0\xD3\xC6");
    EXPECT_EQ(le32(dos.text, 4), 32u);
    EXPECT_EQ(le32(dos.text, 8), dos.text.size() - 32);
    for (size_t at : {12, 16, 20, 24}) EXPECT_EQ(le32(dos.text, at), 0u);
    EXPECT_EQ(dos.text.substr(28, 4), std::string("\xFF\xFF\0\0", 4));
    const std::string head = "%!PS-Adobe-2.0 EPSF-2.0\n%%Creator: Kaxon5\n%%Title: pic.eps.ps\n%%Pages: 1\n%%BoundingBox: ";
    EXPECT_EQ(dos.text.compare(32, head.size(), head), 0);
    const std::string tail = "\ngrestore\nshowpage\n%%Trailer\n";
    EXPECT_EQ(dos.text.compare(dos.text.size() - tail.size(), tail.size(), tail), 0);
    EXPECT_EQ(Recognises<kxoEPS>(dir, "a.eps", Text(dos.text)), 1u);

    const Saved plain = SaveEps(dir, img.get(), {{"NO_EPS_HEADER", ""}});
    ASSERT_EQ(plain.err, 0u);
    EXPECT_EQ(plain.text.rfind("%!PS-Adobe-2.0 EPSF-2.0\n", 0), 0u);
    std::string same = dos.text.substr(32);
    same.replace(same.find("pic.eps.ps"), 7, "out.eps");
    EXPECT_EQ(plain.text, same);
    // Plain EPS is the PostScript module's.
    EXPECT_EQ(Recognises<kxoEPS>(dir, "b.eps", Text(plain.text)), 0u);
    EXPECT_EQ(Recognises<kxoGS>(dir, "b.eps", Text(plain.text)), 1u);
}

TEST(EpsWriter, HexLinesAndRunLengthBlocks) {
    Scratch dir;
    struct Row {
        std::vector<uint8_t> r, g, b;
        std::string digits;
    } rows[] = {
        // 200 equal samples: a run of 128 and a run of 72.
        {std::vector<uint8_t>(200, 7), std::vector<uint8_t>(200, 7), std::vector<uint8_t>(200, 0xab),
         "8007b807" "8007b807" "80abb8ab"},
        // A literal, and a fourth equal byte taking three out of a literal.
        {{1, 2, 3, 3, 3, 3}, {5, 5, 5, 5, 5, 5}, {1, 1, 2, 2, 2, 2}, "010102fc03" "fa05" "010101fc02"},
        // A run of 3 ends before a different byte; runs of 1 and 2 are literals.
        {{9, 9, 9, 4, 4, 8}, {0, 1, 0, 1, 0, 1}, {6, 6, 6, 6, 6, 1}, "fd09" "02040408" "05000100010001" "fb06ff01"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.digits);
        Buffer img = Rows(r.r, r.g, r.b);
        const Saved s = SaveEps(dir, img.get(), {{"SAVE_RLE", "on"}});
        ASSERT_EQ(s.err, 0u);
        EXPECT_NE(s.text.find("/readrlestring {\n"), std::string::npos);
        EXPECT_EQ(DataDigits(s.text), r.digits);
    }
    // Without RLE: the samples themselves, 60 digits a line across rows.
    Buffer img = Rows(std::vector<uint8_t>(200, 0x1f), std::vector<uint8_t>(200, 0x20), std::vector<uint8_t>(200, 0xff));
    const Saved s = SaveEps(dir, img.get(), {});
    ASSERT_EQ(s.err, 0u);
    EXPECT_EQ(s.text.find("/readrlestring"), std::string::npos);
    const std::string digits = DataDigits(s.text);
    std::string expected;
    for (const char* v : {"1f", "20", "ff"})
        for (int i = 0; i < 200; ++i) expected += v;
    EXPECT_EQ(digits, expected);
    const size_t start = s.text.find("colorimage\n") + 11;
    const std::string body = s.text.substr(start, s.text.find("\ngrestore") - start);
    size_t lines = 0;
    for (size_t at = 0; at < body.size(); at = body.find('\n', at) + 1) {
        const size_t end = body.find('\n', at);
        EXPECT_EQ((end == std::string::npos ? body.size() : end) - at, 60u);
        ++lines;
        if (end == std::string::npos) break;
    }
    EXPECT_EQ(lines, 20u);
}

TEST(EpsWriter, RefusalsLeaveNoFileAndAFailedWriteKeepsTheOldOne) {
    Scratch dir;
    Buffer palette = pngtest::MakeImage(8, 4, 4), deep = pngtest::MakeImage(48, 4, 4), rgb = pngtest::MakeImage(24, 4, 4);
    EXPECT_EQ(SaveEps(dir, palette.get(), {}, "p.eps").err, static_cast<uint32_t>(KXERR_NEED24BIT));
    EXPECT_EQ(SaveEps(dir, deep.get(), {}, "d.eps").err, static_cast<uint32_t>(KXERR_NEED24BIT));
    EXPECT_FALSE(Exists(dir / "p.eps"));
    EXPECT_FALSE(Exists(dir / "d.eps"));
    {
        kxoEPS eps(nullptr);
        const std::string name = dir / "n.eps", nowhere = dir / "no/such/folder/x.eps";
        eps.SetSaveName(name.c_str());
        EXPECT_EQ(eps.Save(), static_cast<uint32_t>(KXERR_NOTSUPPORTED));
        eps.SetGfxBuffer(rgb.get());
        eps.SetIOMode(KXIO_CLIPBOARD);
        EXPECT_EQ(eps.Save(), static_cast<uint32_t>(KXERR_NOTSUPPORTED));
        eps.SetIOMode(KXIO_FILE);
        eps.SetSaveName(nowhere.c_str());
        EXPECT_EQ(eps.Save(), static_cast<uint32_t>(KXERR_NODESTFILE));
    }
    EXPECT_FALSE(Exists(dir / "n.eps"));
    Buffer big = pngtest::MakeImage(24, 200, 200);
    for (const char* rle : {"OFF", "ON"}) {
        Module<kxoEPS> eps(Settings{{"SAVE_RLE", rle}});
        EXPECT_EQ(kxt::SaveUnderFileSizeLimit(&eps.obj, big.get(), std::string("limit_") + rle + ".eps"),
                  static_cast<uint32_t>(KXERR_IO))
            << rle;
    }
}

TEST(EpsGhostscript, OurFilesRenderAsThePicture) {
    CONV_NEED_TOOL("gs");
    Scratch dir;
    // A busy picture (literals) and a blocky one (runs), tall and wide.
    Buffer busy = pngtest::MakeImage(24, 23, 37), blocky = pngtest::MakeImage(24, 41, 29);
    for (uint32_t i = 0; i < 41 * 29; ++i)
        for (int c = 0; c < 3; ++c) blocky->Data[3 * i + c] = (uint8_t)((i % 41 / 8 * 50 + i / 41 / 5 * 30) * (c + 1));
    for (KX_GfxBuffer* img : {busy.get(), blocky.get()})
        for (const char* rle : {"OFF", "ON"})
            for (const char* header : {"yes", "no"}) {
                SCOPED_TRACE(std::to_string(img->Width) + " RLE " + rle + " header " + header);
                Settings s = {{"SAVE_DPI", "72"}, {"SAVE_CENTER", "OFF"}, {"SAVE_RLE", rle}};
                if (std::string(header) == "no") s["NO_EPS_HEADER"] = "";
                ASSERT_EQ(SaveEps(dir, img, s, "r.eps").err, 0u);
                ASSERT_TRUE(Shell("gs -q -dSAFER -dBATCH -dNOPAUSE -dEPSCrop -sDEVICE=ppmraw -r72 -sOutputFile=" +
                                  dir / "r.ppm " + dir / "r.eps"));
                pngtest::Pnm p;
                ASSERT_TRUE(pngtest::ParsePnm(KXT_ReadBytes(dir / "r.ppm"), &p));
                // A wide picture lies on its side: its top row runs up the left edge.
                const bool turned = img->Width > img->Height;
                ASSERT_EQ(p.width, turned ? img->Height : img->Width);
                ASSERT_EQ(p.height, turned ? img->Width : img->Height);
                uint32_t wrong = 0;
                for (uint32_t y = 0; y < p.height; ++y)
                    for (uint32_t x = 0; x < p.width; ++x) {
                        const uint32_t sx = turned ? img->Width - 1 - y : x, sy = turned ? x : y;
                        const std::vector<int> want = Pixel(img, sx, sy);
                        for (int c = 0; c < 3; ++c) wrong += (int)p.rgb[(y * p.width + x) * 3 + c] != want[c];
                    }
                EXPECT_EQ(wrong, 0u);
            }
}

namespace {
// A DOS EPS file: the header, then the PostScript section and the TIFF
// preview in the given order.
std::string DosEps(const std::string& ps, const std::string& tiff, bool tiffFirst) {
    std::string h(32, '\0');
    auto put = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) h[at + i] = (char)(v >> (8 * i));
    };
    h.replace(0, 4, "\xC5\xD0\xD3\xC6");
    const uint32_t first = 32, second = 32 + (uint32_t)(tiffFirst ? tiff.size() : ps.size());
    put(4, tiffFirst ? second : first);
    put(8, (uint32_t)ps.size());
    put(20, tiff.empty() ? 0 : tiffFirst ? first : second);
    put(24, (uint32_t)tiff.size());
    h[28] = h[29] = '\xFF';
    return h + (tiffFirst ? tiff + ps : ps + tiff);
}

void Put32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = (char)(v >> (8 * i));
}

const char kGreenPage[] = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 30 20\n<< /PageSize [30 20] >> setpagedevice\n"
                          "0 1 0 setrgbcolor 0 0 30 20 rectfill\n";
}  // namespace

TEST(EpsReader, EitherSectionInEitherOrderWithTheFallBack) {
    UseRunner();
    Scratch dir;
    const bool gs = KXT_HaveTool("gs");
    Buffer preview = pngtest::MakeImage(24, 9, 7);
    {
        tifftest::Tiff tiff;
        ASSERT_EQ(tiff.Save(preview.get(), dir / "preview.tif"), 0u);
    }
    const std::string tiff = KXT_ReadFile(dir / "preview.tif");
    struct Row {
        const char* what;
        std::string file;
        const char* mode;
        uint32_t expected;  // 0: a picture of width
        uint32_t width;
    } rows[] = {
        {"PS first, read PS", DosEps(kGreenPage, tiff, false), "", 0, 30},
        {"PS first, read TIFF", DosEps(kGreenPage, tiff, false), "header", 0, 9},
        {"TIFF first, read PS", DosEps(kGreenPage, tiff, true), "PS", 0, 30},
        {"TIFF first, read TIFF", DosEps(kGreenPage, tiff, true), "HEADER", 0, 9},
        // A broken preview: the PostScript section follows.
        {"bad TIFF", DosEps(kGreenPage, std::string(200, 'x'), true), "HEADER", 0, 30},
        // No preview at all: the header before the section is tried and refused.
        {"no TIFF", DosEps(kGreenPage, "", false), "HEADER", 0, 30},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        ASSERT_TRUE(KXT_WriteFile(dir / "in.eps", r.file));
        Module<kxoEPS> eps(Settings{{"EXTRACTMODE", r.mode}});
        const uint32_t err = eps.Load(dir / "in.eps");
        EXPECT_TRUE(eps.obj.Section.Name == nullptr) << "the section is deleted after its reader ran";
        if (r.width == 30 && !gs) {
            EXPECT_NE(err, 0u);
            continue;
        }
        ASSERT_EQ(err, r.expected);
        KX_GfxBuffer* b = eps.Image();
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->Width, r.width);
        if (r.width == 9) EXPECT_TRUE(SamePixels(b, preview.get()));
        else EXPECT_EQ(Pixel(b, 15, 10), (std::vector<int>{0, 255, 0}));
    }
}

TEST(EpsReader, SectionBoundsAndHeaderErrors) {
    UseRunner();
    Scratch dir;
    const std::string good = DosEps(kGreenPage, std::string(100, 't'), false);
    std::string beyond = good, tiffBeyond = good, bothZero = good, wrapped = good;
    Put32(beyond, 8, (uint32_t)good.size());  // PostScript runs past the end
    Put32(tiffBeyond, 24, 0x7FFFFFFF);
    Put32(bothZero, 8, 0);
    Put32(bothZero, 24, 0);
    Put32(bothZero, 20, 32);  // the preview offset is not after the PostScript one
    Put32(wrapped, 4, 0xFFFFFFF0);  // offset + length wraps around 32 bits
    struct Row {
        const char* what;
        std::string file;
        const char* mode;
        uint32_t expected;
    } rows[] = {
        {"PS section past the end", beyond, "", KXERR_EOF},
        {"TIFF section past the end", tiffBeyond, "HEADER", KXERR_EOF},
        {"both lengths 0", bothZero, "", KXERR_DECODE},
        {"offset wraps", wrapped, "", KXERR_EOF},
        {"no magic", std::string("%!PS-Adobe-3.0\n") + std::string(40, ' '), "", KXERR_UNKNOWNFORMAT},
        {"short header", good.substr(0, 20), "", KXERR_EOF},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        ASSERT_TRUE(KXT_WriteFile(dir / "bad.eps", r.file));
        Module<kxoEPS> eps(Settings{{"EXTRACTMODE", r.mode}});
        EXPECT_EQ(eps.Load(dir / "bad.eps"), r.expected);
        EXPECT_EQ(eps.Image(), nullptr);
        EXPECT_TRUE(eps.obj.Section.Name == nullptr);
    }
    Module<kxoEPS> missing;
    EXPECT_EQ(missing.Load(dir / "missing.eps"), static_cast<uint32_t>(KXERR_FILENOTFOUND));

    // A preview larger than the size limit allows is not copied out.
    KXSUP_SetSizeLimit(64);
    {
        ASSERT_TRUE(KXT_WriteFile(dir / "big.eps", good));
        Module<kxoEPS> eps(Settings{{"EXTRACTMODE", "HEADER"}});
        EXPECT_EQ(eps.Load(dir / "big.eps"), static_cast<uint32_t>(KXERR_NOMEMORY));
        EXPECT_TRUE(eps.obj.Section.Name == nullptr);
    }
    KXSUP_ResetSizeLimit();

    // Both ways refused: the code of the way tried last. Without an
    // interpreter (no runner here) the PostScript way gives 32.
    const std::string junk(200, 'x');
    ASSERT_TRUE(KXT_WriteFile(dir / "junk.tif", junk));
    tifftest::Tiff tiff;
    const uint32_t tiffCode = tiff.Load(dir / "junk.tif");
    ASSERT_NE(tiffCode, 0u);
    ASSERT_NE(tiffCode, static_cast<uint32_t>(KXERR_EXTERNALTOOL));
    KXExternalRunner old = KX_SetExternalRunner(nullptr);
    struct Last {
        const char* what;
        std::string file;
        const char* mode;
        uint32_t expected;
    } lasts[] = {
        {"preview first", DosEps("not PostScript at all\n", junk, false), "HEADER", KXERR_EXTERNALTOOL},
        {"PostScript first", DosEps("not PostScript at all\n", junk, false), "", tiffCode},
        // No preview: the header before the section is refused as TIFF, then
        // the PostScript way finds no interpreter.
        {"no preview, no interpreter", DosEps(kGreenPage, "", false), "HEADER", KXERR_EXTERNALTOOL},
    };
    for (const Last& l : lasts) {
        SCOPED_TRACE(l.what);
        ASSERT_TRUE(KXT_WriteFile(dir / "both.eps", l.file));
        Module<kxoEPS> both({{"EXTRACTMODE", l.mode}});
        EXPECT_EQ(both.Load(dir / "both.eps"), l.expected);
        EXPECT_EQ(both.Image(), nullptr);
    }
    KX_SetExternalRunner(old);
}

TEST(EpsReader, OurOwnFileThroughTheCatalogue) {
    CONV_NEED_TOOL("gs");
    UseRunner();
    Scratch dir;
    Buffer img = pngtest::MakeImage(24, 40, 60);
    for (uint32_t i = 0; i < 40 * 60; ++i) {
        img->Data[3 * i] = 200;
        img->Data[3 * i + 1] = 30;
        img->Data[3 * i + 2] = 90;
    }
    ASSERT_EQ(SaveEps(dir, img.get(), {}, "own.eps").err, 0u);
    KXClass lib;
    KXObject* found = nullptr;
    const std::string own = dir / "own.eps";
    FILE* f = fopen(own.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    for (KXObject** r = lib.GetObjects(0); *r && !found; ++r)
        if ((*r)->CheckFile(f, own.c_str(), KXIO_FILE) == 1) found = *r;
    fclose(f);
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found->FormatName, "EPS");
    found->SetReadName(own.c_str());
    ASSERT_EQ(found->Load(), 0u);
    KX_GfxBuffer* b = nullptr;
    ASSERT_EQ(found->GetGfxBuffer(&b), 0u);
    // The page as Ghostscript sets it up (its default paper), with the
    // picture on it: 40 x 60 pixels at 300 dpi are 38.4 x 57.6 points.
    uint32_t picture = 0;
    for (uint32_t y = 0; y < b->Height; ++y)
        for (uint32_t x = 0; x < b->Width; ++x) picture += Pixel(b, x, y) == std::vector<int>{200, 30, 90};
    EXPECT_GE(picture, 37u * 56u);
    EXPECT_LE(picture, 39u * 58u);
    EXPECT_EQ(Pixel(b, 2, 2), (std::vector<int>{255, 255, 255}));
    found->Reset();
}

TEST(EpsRobustness, TruncatedAndByteFlippedDosFiles) {
    // Without a runner the PostScript way fails at once and the preview is read.
    KXExternalRunner old = KX_SetExternalRunner(nullptr);
    Scratch dir;
    Buffer preview = pngtest::MakeImage(24, 6, 5);
    {
        tifftest::Tiff tiff;
        ASSERT_EQ(tiff.Save(preview.get(), dir / "p.tif"), 0u);
    }
    ASSERT_TRUE(KXT_WriteFile(dir / "r.eps", DosEps(kGreenPage, KXT_ReadFile(dir / "p.tif"), false)));
    KXRobustnessOptions o;
    o.Flips = 200;
    KXT_CheckReaderRobustness("kxoEPS", dir / "r.eps", o);
    KX_SetExternalRunner(old);
}
