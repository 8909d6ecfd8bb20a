// PostScript, PDF and FIG through their converters: recognition, the exact
// argument vectors (fake converter), each kind of failed conversion, the
// temporary files, and real Ghostscript and fig2dev runs checked by pixels.
#include "converter_helpers.h"
#include "formats/libraries/kxoFIG.h"
#include "formats/libraries/kxoGS.h"

using namespace convtest;

TEST(GsRecognition, ByContentOrByNameBehindAPercentSign) {
    Scratch dir;
    struct Row {
        const char* name;
        const char* bytes;
        uint32_t gs, fig;
    } rows[] = {
        {"picture.txt", "%!PS-Adobe-3.0\n", 1, 0},
        {"doc.bin", "%PDF-1.4\n", 1, 0},
        {"a.ps", "%%Creator: someone\n", 1, 0},
        {"b.PDF", "%anything", 1, 0},
        {"a.ps", "PS but no percent", 0, 0},
        {"x.txt", "%% just a comment", 0, 0},
        {"drawing.fig", "#FIG 3.2\n", 0, 1},
        {"DRAWING.FIG", "#FIG 3.2\n", 0, 1},
        {"drawing.txt", "#FIG 3.2\n", 0, 0},
        {"drawing.fig", "not a drawing\n", 0, 0},
        {"%", "%", 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.name) + ": " + r.bytes);
        EXPECT_EQ(Recognises<kxoGS>(dir, r.name, Text(r.bytes)), r.gs);
        EXPECT_EQ(Recognises<kxoFIG>(dir, r.name, Text(r.bytes)), r.fig);
    }
    EXPECT_EQ(Recognises<kxoGS>(dir, "a.ps", Text("%!PS-Adobe-3.0\n"), KXIO_CLIPBOARD), 0u);
}

TEST(GsModule, OperationsTheModuleDoesNotOffer) {
    for (KXObject* m : std::initializer_list<KXObject*>{new kxoGS(nullptr), new kxoFIG(nullptr)}) {
        EXPECT_EQ(m->Save(), static_cast<uint32_t>(KXERR_NOTSUPPORTED));
        EXPECT_EQ(m->SetIOMode(3), static_cast<uint32_t>(KXERR_NOTSUPPORTED));
        EXPECT_EQ(m->SetIOMode(2), 0u);
        char ext[16];
        EXPECT_EQ(m->GetExtension(ext), 0u);
        EXPECT_EQ(m->GetExtension(nullptr), static_cast<uint32_t>(KXERR_INTERNALACCESS));
        delete m;
    }
    char ext[16];
    kxoGS gs(nullptr);
    gs.GetExtension(ext);
    EXPECT_STREQ(ext, ".GS");
    kxoFIG fig(nullptr);
    fig.GetExtension(ext);
    EXPECT_STREQ(ext, ".fig");
}

TEST(GsConverter, ArgumentsTemporaryNameAndDeletionAtReset) {
    UseRunner();
    Scratch dir;
    const std::string fixture = dir / "page.png";
    Buffer expected = SavePng(fixture, 7, 5);
    Fake fake(dir, "gs", "fixture", fixture);
    struct Row {
        Settings settings;
        std::string input, inputArg, resolution;
    } rows[] = {
        {{}, dir / "in.ps", dir / "in.ps", "-r72"},
        {{{"DPI", "150"}}, dir / "in.ps", dir / "in.ps", "-r150"},
        // A relative name that begins with "-" cannot pass for an option.
        {{{"DPI", "300"}}, "-in.ps", "./-in.ps", "-r300"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.inputArg);
        unlink(fake.Log.c_str());
        Settings s = r.settings;
        s["GS_PATH"] = FakeTool();
        Module<kxoGS> gs(s);
        ASSERT_EQ(gs.Load(r.input), 0u);
        const std::vector<Args> calls = fake.Calls();
        ASSERT_EQ(calls.size(), 1u);
        const Args& a = calls[0];
        ASSERT_EQ(a.size(), 10u);
        const std::string out = gs.obj.Output.Name;
        EXPECT_TRUE(IsTempName(out, "gs", "png")) << out;
        EXPECT_EQ(a, (Args{"-dPrinted=false", "-sDEVICE=png16m", "-dGraphicsAlphaBits=4", "-sOutputFile=" + out, "-q",
                           "-dNOPAUSE", r.resolution, r.inputArg, "-c", "quit"}));
        KX_GfxBuffer* b = gs.Image();
        ASSERT_NE(b, nullptr);
        EXPECT_TRUE(SamePixels(b, expected.get()));
        EXPECT_TRUE(Exists(out));
        gs.obj.Reset();
        EXPECT_FALSE(Exists(out)) << "Reset deletes the rendered page";
    }
}

TEST(GsConverter, NoOutputEmptyOutputStaleOutputAndMissingProgramGive32) {
    UseRunner();
    Scratch dir;
    const std::string fixture = dir / "page.png";
    SavePng(fixture, 4, 4);
    Fake fake(dir, "gs", "fixture", fixture);
    std::string last;
    {
        Module<kxoGS> gs({{"GS_PATH", FakeTool()}});
        ASSERT_EQ(gs.Load(dir / "in.ps"), 0u);
        last = gs.obj.Output.Name;
    }
    // A picture left under the next name by an earlier run is not taken
    // for this run's result.
    const std::string next = NextTempName(last);
    ASSERT_TRUE(KXT_WriteBytes(next, KXT_ReadBytes(fixture)));
    struct Row {
        const char* mode;
        std::string program;
        uint32_t expected;
    } rows[] = {
        {"none", FakeTool(), KXERR_EXTERNALTOOL},
        {"empty", FakeTool(), KXERR_EXTERNALTOOL},
        {"fixture", dir / "no-such-interpreter", KXERR_EXTERNALTOOL},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.mode);
        fake.Mode(r.mode);
        Module<kxoGS> gs({{"GS_PATH", r.program}});
        EXPECT_EQ(gs.Load(dir / "in.ps"), r.expected);
        EXPECT_EQ(gs.Image(), nullptr);
        if (&r == &rows[0]) {
            EXPECT_EQ(gs.obj.Output.Name, next);
        }
        const std::string out = gs.obj.Output.Name;
        gs.obj.Reset();
        EXPECT_FALSE(Exists(out));
    }
    // Garbage is the PNG reader's to refuse; its code comes back unchanged.
    fake.Mode("garbage");
    Module<kxoGS> gs({{"GS_PATH", FakeTool()}});
    const uint32_t err = gs.Load(dir / "in.ps");
    EXPECT_NE(err, 0u);
    EXPECT_NE(err, static_cast<uint32_t>(KXERR_EXTERNALTOOL));
    EXPECT_EQ(gs.Image(), nullptr);
}

TEST(FigConverter, ArgumentsAndTheChainToThePostScriptModule) {
    UseRunner();
    Scratch dir;
    // fig2dev's PostScript goes on to the PostScript module with its own pad.
    const std::string ps = dir / "drawing.ps";
    ASSERT_TRUE(KXT_WriteFile(ps, "%!PS-Adobe-3.0\n<< /PageSize [20 10] >> setpagedevice\n0 0 1 setrgbcolor 0 0 20 10 rectfill showpage\n"));
    Fake fake(dir, "fig2dev", "fixture", ps);
    Module<kxoFIG> fig({{"FIG2DEV_PATH", FakeTool()}});
    const uint32_t err = fig.Load(dir / "drawing.fig");
    const std::vector<Args> calls = fake.Calls();
    ASSERT_EQ(calls.size(), 1u);
    const std::string out = fig.obj.Output.Name;
    EXPECT_TRUE(IsTempName(out, "fig", "ps")) << out;
    EXPECT_EQ(calls[0], (Args{"-L", "ps", dir / "drawing.fig", out}));
    if (KXT_HaveTool("gs")) {
        ASSERT_EQ(err, 0u);
        KX_GfxBuffer* b = fig.Image();
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->Width, 20u);
        EXPECT_EQ(Pixel(b, 10, 5), (std::vector<int>{0, 0, 255}));
    }
    fig.obj.Reset();
    EXPECT_FALSE(Exists(out));

    for (const char* mode : {"none", "empty"}) {
        fake.Mode(mode);
        Module<kxoFIG> failing({{"FIG2DEV_PATH", FakeTool()}});
        EXPECT_EQ(failing.Load(dir / "drawing.fig"), static_cast<uint32_t>(KXERR_EXTERNALTOOL)) << mode;
        EXPECT_EQ(failing.Image(), nullptr);
    }
}

namespace {
// A one-page PDF of w x h points with a red left half and a blue right one.
std::string TwoColourPdf(int w, int h) {
    const std::string content = "1 0 0 rg 0 0 " + std::to_string(w / 2) + " " + std::to_string(h) + " re f 0 0 1 rg " +
                                std::to_string(w / 2) + " 0 " + std::to_string(w - w / 2) + " " + std::to_string(h) +
                                " re f\n";
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(w) + " " + std::to_string(h) +
            "] /Contents 4 0 R >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
    };
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t o : offsets) {
        char line[32];
        snprintf(line, sizeof(line), "%010zu 00000 n \n", o);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}
}  // namespace

TEST(GsReal, PostScriptAndPdfAtTwoResolutions) {
    CONV_NEED_TOOL("gs");
    UseRunner();
    Scratch dir;
    const std::string ps = dir / "page.ps", pdf = dir / "page.pdf";
    ASSERT_TRUE(KXT_WriteFile(ps, "%!PS-Adobe-3.0\n<< /PageSize [72 36] >> setpagedevice\n"
                                  "1 0 0 setrgbcolor 0 0 36 36 rectfill 0 0 1 setrgbcolor 36 0 36 36 rectfill showpage\n"));
    ASSERT_TRUE(KXT_WriteFile(pdf, TwoColourPdf(72, 36)));
    // 150 dpi proves that the resolution reaches the interpreter.
    for (const std::string& file : {ps, pdf})
        for (int dpi : {72, 150}) {
            SCOPED_TRACE(file + " at " + std::to_string(dpi));
            Module<kxoGS> gs({{"DPI", std::to_string(dpi)}});
            ASSERT_EQ(gs.Load(file), 0u);
            KX_GfxBuffer* b = gs.Image();
            ASSERT_NE(b, nullptr);
            EXPECT_EQ(b->Width, (uint32_t)dpi);
            EXPECT_EQ(b->Height, (uint32_t)dpi / 2);
            EXPECT_EQ(b->ColorDepth, 24u);
            EXPECT_EQ(Pixel(b, dpi / 4, dpi / 4), (std::vector<int>{255, 0, 0}));
            EXPECT_EQ(Pixel(b, dpi * 3 / 4, dpi / 4), (std::vector<int>{0, 0, 255}));
        }
}

TEST(FigReal, PolygonThroughFig2devAndGhostscript) {
    CONV_NEED_TOOL("fig2dev");
    CONV_NEED_TOOL("gs");
    UseRunner();
    Scratch dir;
    // A filled red square (1200 units to the inch: 1 inch = 72 points).
    const std::string fig = dir / "square.fig";
    ASSERT_TRUE(KXT_WriteFile(fig, "#FIG 3.2\nLandscape\nCenter\nInches\nLetter\n100.00\nSingle\n-2\n1200 2\n"
                                   "2 3 0 1 4 4 50 -1 20 0.000 0 0 -1 0 0 5\n"
                                   "\t 1200 1200 2400 1200 2400 2400 1200 2400 1200 1200\n"));
    Module<kxoFIG> m;
    ASSERT_EQ(m.Load(fig), 0u);
    KX_GfxBuffer* b = m.Image();
    ASSERT_NE(b, nullptr);
    // Somewhere on the page the square is red, and the page is white.
    uint32_t red = 0, white = 0;
    for (uint32_t y = 0; y < b->Height; ++y)
        for (uint32_t x = 0; x < b->Width; ++x) {
            const std::vector<int> p = Pixel(b, x, y);
            red += p == std::vector<int>{255, 0, 0};
            white += p == std::vector<int>{255, 255, 255};
        }
    // One square inch at 72 dpi, give or take its anti-aliased border.
    EXPECT_GT(red, 60u * 60u);
    EXPECT_LT(red, 76u * 76u);
    EXPECT_GT(white, red);
}
