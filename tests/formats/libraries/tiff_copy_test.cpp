// The copy-and-convert routine against tiffcp itself: the same argument
// vectors give files of the same layout and pixels, call after call; the
// reader's fall-back order through injected libtiff failures.
#include <dirent.h>
#include <tiffio.h>

#include <functional>

#include "core/libstate.h"
#include "formats/libraries/kxoTIFFInternal.h"
#include "tiff_helpers.h"

namespace {

using namespace tifftest;

struct Page {
    uint32_t w = 0, h = 0, rps = 0;
    uint16_t compression = 0, planar = 0, photometric = 0, bits = 0, samples = 0, fill = 0;
    bool tiled = false;
    std::vector<uint32_t> rgba;
    bool operator==(const Page& o) const {
        return w == o.w && h == o.h && rps == o.rps && compression == o.compression && planar == o.planar &&
               photometric == o.photometric && bits == o.bits && samples == o.samples && tiled == o.tiled &&
               fill == o.fill && rgba == o.rgba;
    }
};

// The rows of every page, uncompressed, contiguous and in strips as tiffcp
// lays them out (libtiff's RGBA reader is not used: on the edge tiles of
// 16-bit pictures it reads past the picture). Empty when tiffcp cannot.
std::vector<std::vector<uint8_t>> PlainRows(const std::string& path) {
    std::vector<std::vector<uint8_t>> pages;
    // Two steps: tiffcp cannot read separate planes of a compression without
    // random access row by row.
    const std::string canon = path + ".plain", step = path + ".step";
    const int rc = RunTool("tiffcp -c none " + path + " " + step + " && tiffcp -p contig -s " + step + " " + canon);
    remove(step.c_str());
    if (rc != 0) return pages;
    TIFF* t = TIFFOpen(canon.c_str(), "r");
    if (t) {
        do {
            uint32_t h = 0;
            TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
            const tmsize_t line = TIFFScanlineSize(t);
            std::vector<uint8_t> rows((size_t)line * h);
            for (uint32_t y = 0; y < h; ++y) TIFFReadScanline(t, rows.data() + (size_t)y * line, y, 0);
            pages.push_back(rows);
        } while (TIFFReadDirectory(t));
        TIFFClose(t);
    }
    remove(canon.c_str());
    return pages;
}

// Every page's layout and its pixels as libtiff's RGBA reader gives them.
std::vector<Page> Pages(const std::string& path) {
    std::vector<Page> pages;
    TIFFSetWarningHandler(nullptr);
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) return pages;
    do {
        Page p;
        TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &p.w);
        TIFFGetField(t, TIFFTAG_IMAGELENGTH, &p.h);
        TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &p.rps);
        TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &p.compression);
        TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &p.planar);
        TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &p.photometric);
        TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &p.bits);
        TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &p.samples);
        TIFFGetFieldDefaulted(t, TIFFTAG_FILLORDER, &p.fill);
        p.tiled = TIFFIsTiled(t) != 0;
        if (p.tiled) p.rps = 0;
        p.rgba.resize((size_t)p.w * p.h);
        if (!TIFFReadRGBAImageOriented(t, p.w, p.h, p.rgba.data(), ORIENTATION_TOPLEFT, 1)) p.rgba.clear();
        pages.push_back(p);
    } while (TIFFReadDirectory(t));
    TIFFClose(t);
    return pages;
}

int Copy(const std::vector<std::string>& args) {
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    return KXTIFF_CopyConvert((int)argv.size(), argv.data());
}

std::string Join(const std::vector<std::string>& args) {
    std::string s;
    for (const std::string& a : args) s += a + " ";
    return s;
}

// Inputs in several layouts, made by netpbm and tiffcp.
struct Input {
    const char* name;
    bool colour;
    uint32_t maxval;
    const char* make;  // IN, T, OUT as in the read matrix
};

const Input kInputs[] = {
    {"tiled_lzw", true, 200, "pnmtotiff -truecolor -none IN > T && tiffcp -c lzw -t -w 16 -l 16 T OUT"},
    {"separate_zip", true, 200, "pnmtotiff -truecolor -none IN > T && tiffcp -c zip -p separate -r 3 T OUT"},
    {"separate_tiled", true, 200, "pnmtotiff -truecolor -none IN > T && tiffcp -p separate -t -w 16 -l 16 T OUT"},
    {"jpeg_ycc", true, 200, "pnmtotiff -truecolor -none IN > T && tiffcp -c jpeg T OUT"},
    {"palette_lzw_mm", true, 255, "pnmtotiff -lzw IN > T && tiffcp -B T OUT"},
    {"bw_g4_tiled", false, 1, "pnmtotiff -g4 IN > T && tiffcp -t -w 16 -l 16 T OUT"},
    {"grey16_packbits", false, 65535, "pnmtotiff -packbits -rowsperstrip=2 IN > OUT"},
    {"three_pages", true, 200, "pnmtotiff -truecolor -lzw IN > T && tiffcp -c zip -t T T T OUT"},
};

std::string Replace(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
    return s;
}

bool MakeInput(const Input& in, const std::string& out) {
    const std::string src = TempPath(std::string(in.name) + (in.colour ? ".ppm" : ".pgm")), tmp = TempPath("input_t.tif");
    if (!KXT_WriteBytes(src, pngtest::MakePnm(in.colour, 37, 29, in.maxval, [](uint32_t i) { return (i * 37 % 11) * 23 + i / 97; })))
        return false;
    const std::string make = Replace(Replace(Replace(in.make, "IN", src), "OUT", out), " T", " " + tmp);
    const bool ok = RunTool(make) == 0;
    remove(src.c_str());
    remove(tmp.c_str());
    return ok;
}

// The reader's three vectors and a few more, on every input, each run
// right after the one before: the same layout and pixels as tiffcp gives.
TEST(TiffCopy, SameAsTiffcp) {
    if (!KXT_HaveTool("tiffcp") || !KXT_HaveTool("pnmtotiff")) GTEST_SKIP() << "tiffcp or netpbm missing";
    const std::vector<std::vector<std::string>> vectors = {
        {"-s", "-r", "29"},
        {"-p", "contig", "-s", "-r", "29"},
        {"-c", "none", "-p", "contig", "-s", "-r", "29"},
        {"-c", "lzw:2", "-t", "-w", "32", "-l", "16"},
        {"-c", "packbits", "-p", "separate", "-r", "7"},
        {"-f", "lsb2msb", "-c", "zip", "-B"},
    };
    for (const Input& in : kInputs) {
        const std::string input = TempPath(std::string(in.name) + ".tif");
        ASSERT_TRUE(MakeInput(in, input)) << in.name;
        for (const auto& v : vectors) {
            const std::string ours = TempPath("ours.tif"), theirs = TempPath("theirs.tif");
            std::vector<std::string> args = {"tiffcp"};
            args.insert(args.end(), v.begin(), v.end());
            args.push_back(input);
            SCOPED_TRACE(std::string(in.name) + ": " + Join(args));
            std::vector<std::string> ourArgs = args;
            ourArgs.push_back(ours);
            const int tool = RunTool(Join(args) + theirs);
            const int rc = Copy(ourArgs);
            std::vector<Page> a = Pages(ours);
            if (tool != 0) {
                // Where tiffcp gives up (it reads separate planes of a
                // compression without random access row by row), the routine
                // may still copy: then the pixels are the input's.
                if (rc == 0) EXPECT_EQ(PlainRows(ours), PlainRows(input));
                continue;
            }
            ASSERT_EQ(rc, 0);
            std::vector<Page> b = Pages(theirs);
            ASSERT_EQ(a.size(), b.size());
            EXPECT_EQ(PlainRows(ours), PlainRows(theirs));
            for (size_t p = 0; p < a.size(); ++p) {
                if (a[p].bits > 8) a[p].rgba.clear(), b[p].rgba.clear();
                EXPECT_TRUE(a[p] == b[p]) << "page " << p << ": compression " << a[p].compression << "/" << b[p].compression
                                          << " planar " << a[p].planar << "/" << b[p].planar << " rows " << a[p].rps << "/"
                                          << b[p].rps << " tiled " << a[p].tiled << "/" << b[p].tiled << " photometric "
                                          << a[p].photometric << "/" << b[p].photometric;
            }
            remove(ours.c_str());
            remove(theirs.c_str());
        }
        remove(input.c_str());
    }
}

TEST(TiffCopy, OptionsAndRefusals) {
    const Input in = {"opts", true, 200, "pnmtotiff -truecolor -lzw IN > T && tiffcp T T OUT"};
    const std::string input = TempPath("opts.tif"), out = TempPath("opts_out.tif");
    ASSERT_TRUE(MakeInput(in, input));
    EXPECT_EQ(Copy({"tiffcp", input}), 1);                                    // no output
    EXPECT_EQ(Copy({"tiffcp", "-c", "nonsense", input, out}), 1);              // unknown scheme
    EXPECT_EQ(Copy({"tiffcp", "-q", input, out}), 1);                          // unknown letter
    EXPECT_EQ(Copy({"tiffcp", "-r"}), 1);                                      // value missing
    EXPECT_EQ(Copy({"tiffcp", TempPath("missing.tif"), out}), -3);
    EXPECT_EQ(Copy({"tiffcp", input, "/nonexistent-dir/out.tif"}), -2);
    EXPECT_EQ(Copy({"tiffcp", "-o", "12345678", input, out}), 1);

    // An image list picks pages; "-,=" changes its separator.
    ASSERT_EQ(Copy({"tiffcp", input + ",1", out}), 0);
    EXPECT_EQ(Pages(out).size(), 1u);
    ASSERT_EQ(Copy({"tiffcp", "-,=;", input + ";0;1", out}), 0);
    EXPECT_EQ(Pages(out).size(), 2u);
    // Appending adds pages; renumbering numbers them in sequence.
    ASSERT_EQ(Copy({"tiffcp", "-a", "-x", input, out}), 0);
    EXPECT_EQ(Pages(out).size(), 4u);
    TIFF* t = TIFFOpen(out.c_str(), "r");
    ASSERT_NE(t, nullptr);
    TIFFSetDirectory(t, 3);
    uint16_t page = 9, pages = 9;
    EXPECT_TRUE(TIFFGetField(t, TIFFTAG_PAGENUMBER, &page, &pages));
    EXPECT_EQ(page, 1);
    TIFFClose(t);
    // Options stand anywhere among the names.
    ASSERT_EQ(Copy({"tiffcp", input, "-c", "none", out}), 0);
    EXPECT_EQ(Pages(out)[0].compression, COMPRESSION_NONE);
    remove(input.c_str());
    remove(out.c_str());
}

// A bias image is subtracted from an 8-bit grey picture.
TEST(TiffCopy, BiasImage) {
    const std::string a = TempPath("bias_a.pgm"), b = TempPath("bias_b.pgm");
    const std::string ta = TempPath("bias_a.tif"), tb = TempPath("bias_b.tif"), out = TempPath("bias_out.tif");
    ASSERT_TRUE(KXT_WriteBytes(a, pngtest::MakePnm(false, 4, 2, 255, [](uint32_t i) { return 100 + i; })));
    ASSERT_TRUE(KXT_WriteBytes(b, pngtest::MakePnm(false, 4, 2, 255, [](uint32_t i) { return i * 30; })));
    ASSERT_EQ(RunTool("pnmtotiff -none " + a + " > " + ta + " && pnmtotiff -none " + b + " > " + tb), 0);
    ASSERT_EQ(Copy({"tiffcp", "-b", tb, ta, out}), 0);
    TIFF* t = TIFFOpen(out.c_str(), "r");
    ASSERT_NE(t, nullptr);
    uint8_t row[4];
    for (uint32_t y = 0; y < 2; ++y) {
        ASSERT_GE(TIFFReadScanline(t, row, y, 0), 0);
        for (uint32_t x = 0; x < 4; ++x) {
            const int i = (int)(y * 4 + x), want = 100 + i - i * 30;
            EXPECT_EQ(row[x], want > 0 ? want : 0) << i;
        }
    }
    TIFFClose(t);
    for (const std::string& f : {a, b, ta, tb, out}) remove(f.c_str());
}

int TempFilesLeft(const std::string& dir) {
    int n = 0;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) n += std::string(e->d_name).rfind("tiff_", 0) == 0 && strstr(e->d_name, ".tif") ? 1 : 0;
        closedir(d);
    }
    return n;
}

// libtiff made to fail on chosen files: the fall-backs in their order.
// The temporary files go to a folder of the test's own, so that they can
// be counted.
TEST(TiffCopy, FallbackOrder) {
    if (!KXT_HaveTool("tiffcp") || !KXT_HaveTool("pnmtotiff")) GTEST_SKIP() << "tiffcp or netpbm missing";
    const std::string dir = KXT_NewTempDir(std::string(KX_GetProcessTempDir()) + "tiff_fallback_XXXXXX");
    const char* oldTmp = getenv("TMPDIR");
    const std::string saved = oldTmp ? oldTmp : "";
    setenv("TMPDIR", dir.c_str(), 1);
    auto lib = std::make_unique<KXClass>();
    const std::string temp = lib->TempDir ? lib->TempDir : "";
    struct Row {
        const char* name;
        const char* make;
        std::vector<const char*> fail;  // name parts libtiff fails on
        Settings settings;
        uint32_t code;
        uint32_t road;
        int left;  // temporary files left after the load
    };
    using R = KXTiffTestSeam::Road;
    const Row rows[] = {
        {"tiled LZW: tile to strip", "tiffcp -c lzw -t -w 16 -l 16 T OUT", {"input"}, {}, KXERR_NONE, R::ROAD_FALLBACK1, 0},
        {"tiled LZW, second page", "tiffcp -c lzw -t -w 16 -l 16 T T2 OUT", {"input"}, {{"PAGENUMBER", "1"}}, KXERR_NONE,
         R::ROAD_FALLBACK1, 0},
        {"tiled LZW: strips fail too", "tiffcp -c lzw -t -w 16 -l 16 T OUT", {"input", "-1."}, {}, KXERR_NONE, R::ROAD_FALLBACK2, 1},
        {"striped LZW: #1 skipped", "tiffcp -c lzw T OUT", {"input"}, {}, KXERR_NONE, R::ROAD_FALLBACK2, 0},
        {"striped LZW: uncompressed", "tiffcp -c lzw T OUT", {"input", "-2."}, {}, KXERR_NONE, R::ROAD_FALLBACK3, 1},
        {"every libtiff decode fails", "tiffcp -c lzw T OUT", {"input", "tiff_"}, {}, KXERR_DECODE, R::ROAD_NONE, 2},
        {"uncompressed tiled: own reader last", "tiffcp -t T OUT", {"input", "tiff_"}, {}, KXERR_DECODE, R::ROAD_OWN_LAST, 2},
        {"uncompressed separate: own reader last", "tiffcp -p separate T OUT", {"input", "tiff_"}, {}, KXERR_FILEREQUIREMENTS,
         R::ROAD_OWN_LAST, 1},
    };
    const std::string ppm = dir + "/src.ppm", ppm2 = dir + "/src2.ppm", plain = dir + "/plain.tif", second = dir + "/second.tif";
    const std::string input = dir + "/input.tif";
    ASSERT_TRUE(KXT_WriteBytes(ppm, pngtest::MakePnm(true, 21, 17, 255, [](uint32_t i) { return i * 7; })));
    ASSERT_TRUE(KXT_WriteBytes(ppm2, pngtest::MakePnm(true, 21, 17, 255, [](uint32_t i) { return i * 5; })));
    ASSERT_EQ(RunTool("pnmtotiff -truecolor -none " + ppm + " > " + plain), 0);
    ASSERT_EQ(RunTool("pnmtotiff -truecolor -none " + ppm2 + " > " + second), 0);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string make = Replace(Replace(Replace(r.make, "OUT", input), " T2", " " + second), " T", " " + plain);
        ASSERT_EQ(RunTool(make), 0) << make;
        KXTiffTestSeam seam;
        auto t = std::make_unique<kxoTIFF>(lib.get());
        uint32_t err = 0;
        auto cfg = std::make_unique<KXConfig>(t->PadPath, &err);
        for (const auto& [k, v] : r.settings) cfg->SetValue(k.c_str(), v.c_str());
        t->SetLocalConfig(cfg->GetPadList());
        for (size_t i = 0; i < r.fail.size(); ++i) seam.FailLibtiffOn[i] = r.fail[i];
        t->SetReadName(input.c_str());
        EXPECT_EQ(t->Load(), r.code);
        EXPECT_EQ(seam.LastRoad, r.road);
        EXPECT_EQ(TempFilesLeft(temp), r.left);
        if (r.code == KXERR_NONE) {
            KX_GfxBuffer* b = nullptr;
            t->GetGfxBuffer(&b);
            ASSERT_NE(b, nullptr);
            EXPECT_EQ(b->Width, 21u);
            EXPECT_EQ(b->Data[3], r.settings.empty() ? 21 : 15);  // the page asked for
        }
        t->Reset();
        EXPECT_EQ(TempFilesLeft(temp), 0) << "the reset deletes what the fall-backs left";
        t.reset();
    }
    lib.reset();
    if (oldTmp)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
    KX_RefreshProcessTempDir();
    for (const std::string& f : {ppm, ppm2, plain, second, input}) remove(f.c_str());
    rmdir(dir.c_str());
}

}  // namespace
