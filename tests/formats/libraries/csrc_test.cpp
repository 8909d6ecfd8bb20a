// Source-code dumps: the C text compiles with g++ (and parses as C) and its
// arrays hold the picture; the GNU assembler text assembles for x86-64 (and
// PowerPC when its cross assembler is installed) and its .rodata is the
// picture's bytes; the 68k text, for which no packaged assembler takes
// Motorola syntax, is checked against byte tables. Widths 1 to 17 and a
// prime over palette, 24-bit and alpha pictures; refusals leave no file.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dump_helpers.h"
#include "formats/libraries/kxoCSRC.h"

using namespace dumptest;

namespace {

enum SubFormat : uint32_t { SF_C = 0, SF_68K = 1, SF_PPC = 2, SF_X86 = 3 };

std::string SaveText(KX_GfxBuffer* b, uint32_t subFormat, const std::string& name) {
    const kxt::Saved saved = kxt::SaveTo<kxoCSRC>(b, Path(name), subFormat);
    EXPECT_EQ(saved.Err, KXERR_NONE);
    return std::string(saved.File.begin(), saved.File.end());
}

struct Kind {
    const char* name;
    uint32_t depth;
    Alpha alpha;
};
const Kind kKinds[] = {{"bits1", 1, NO_ALPHA}, {"bits8", 8, NO_ALPHA}, {"rgb", 24, NO_ALPHA}, {"argb", 24, MAP8}, {"argb16", 24, MAP16}};

uint32_t Argb(const KX_GfxBuffer* b, size_t i) {
    const uint8_t* p = b->Data + 3 * i;
    return (uint32_t)AlphaOf(b, i) | (uint32_t)p[0] << 8 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 24;
}

void Put32(std::vector<uint8_t>& out, uint32_t v, bool big) {
    for (int k = 0; k < 4; ++k) out.push_back((uint8_t)(v >> (big ? 24 - 8 * k : 8 * k)));
}

// What the GNU text's .rodata must hold for the picture.
std::vector<uint8_t> Rodata(const KX_GfxBuffer* b, bool big) {
    std::vector<uint8_t> out;
    Put32(out, b->Width, big);
    Put32(out, b->Height, big);
    Put32(out, b->ColorDepth, big);
    const size_t pixels = (size_t)b->Width * b->Height;
    if (b->ColorDepth <= 8) {
        Put32(out, 0, big);
        out.insert(out.end(), b->Palette, b->Palette + 3 * (1u << b->ColorDepth));
        out.push_back(0);
        out.insert(out.end(), b->Data, b->Data + pixels);
        out.push_back(0);
    } else if (b->AlphaType) {
        for (size_t i = 0; i < pixels; ++i) Put32(out, Argb(b, i), big);
        Put32(out, 0, big);
    } else {
        out.insert(out.end(), b->Data, b->Data + pixels * 3);
        out.push_back(0);
    }
    return out;
}

std::string Hex(const uint8_t* p, size_t n) {
    std::string s;
    char t[4];
    for (size_t i = 0; i < n; ++i) {
        snprintf(t, sizeof(t), "%02x", p[i]);
        s += t;
    }
    return s;
}

// What the compiled program prints for the picture: size, depth, HAM flag,
// colour map, data, each array with its end mark.
std::string Printed(const KX_GfxBuffer* b) {
    std::string s = std::to_string(b->Width) + " " + std::to_string(b->Height) + " " + std::to_string(b->ColorDepth);
    const size_t pixels = (size_t)b->Width * b->Height;
    if (b->ColorDepth <= 8) {
        s += " 0 " + Hex(b->Palette, 3 * (1u << b->ColorDepth)) + "000000 " + Hex(b->Data, pixels) + "00";
    } else if (b->AlphaType) {
        s += " ";
        char t[12];
        for (size_t i = 0; i < pixels; ++i) {
            snprintf(t, sizeof(t), "%08x", Argb(b, i));
            s += t;
        }
        s += "00000000";
    } else {
        s += " " + Hex(b->Data, pixels * 3) + "00";
    }
    return s + "\n";
}

}  // namespace

// The text of small pictures, line by line as the format lays it out.
TEST(SourceCode, TextOfSmallPictures) {
    Buffer bits = MakePicture(3, 2, 1);
    ASSERT_TRUE(bits);
    const uint8_t indices[] = {0, 1, 1, 1, 0, 0};
    memcpy(bits->Data, indices, 6);
    const uint8_t pal[] = {0x00, 0x11, 0x22, 0xff, 0xee, 0xdd};
    memcpy(bits->Palette, pal, 6);
    Buffer rgb = MakePicture(1, 1, 24);
    ASSERT_TRUE(rgb);
    rgb->Data[0] = 0x11, rgb->Data[1] = 0x22, rgb->Data[2] = 0x33;
    Buffer argb = MakePicture(1, 1, 24, MAP8);
    ASSERT_TRUE(argb);
    argb->Data[0] = 0x11, argb->Data[1] = 0x22, argb->Data[2] = 0x33;
    KXSUP_AlphaBytes(argb.get())[0] = 0xff;

    const std::string cHead = "/* Chunky Graphics Dump                */\n/* created with Kaxon5                 */\n\n\n";
    const std::string m68kHead = ";* Chunky Graphics Dump (ASM 68k)      *\n;* created with Kaxon5                 *\n\n";
    const std::string gnuHead =
        "# Chunky Graphics Dump (GCC PPC/x86)  \n# created with Kaxon5                 \n\n\t.section\t.rodata\n\n\t.align 1\n\n";
    const std::string gnuBits = gnuHead +
                                ".width:\n\t.long 3\n.height:\n\t.long 2\n.depth:\n\t.long 1\n\n"
                                ".isHAM:\n\t.long 0\n\n"
                                ".RGB8_colormap:\n\n\t .byte 0x00, 0x11, 0x22\n\t .byte 0xff, 0xee, 0xdd\n\n\t .byte 0x00\n # Endmark\n\n\n\n"
                                ".chunky_8bit_data:\n\n\t .byte 0x00, 0x01, 0x01\n\t .byte 0x01, 0x00, 0x00\n\t .byte \n"
                                "\t .byte 0x00\n # Endmark\n\n\n\n";
    const struct {
        const char* name;
        KX_GfxBuffer* picture;
        uint32_t subFormat;
        std::string text;
    } cases[] = {
        {"c_bits", bits.get(), SF_C,
         cHead +
             "const long gfx_width  = 3;\nconst long gfx_height = 2;\nconst long gfx_depth  = 1;\n\n#define IS_HAM 0\n\n"
             "const unsigned char RGB8_colormap [][3] = \n{\n { 0x00, 0x11, 0x22 },\n { 0xff, 0xee, 0xdd },\n\n /* Endmark */\n 0x00\n};\n\n\n"
             "const unsigned char chunky_8bit_data [] = \n{\n 0x00, 0x01, 0x01, \n 0x01, 0x00, 0x00, \n \n /* Endmark */\n 0x00\n};\n"},
        {"c_rgb", rgb.get(), SF_C,
         cHead +
             "const long gfx_width  = 1;\nconst long gfx_height = 1;\nconst long gfx_depth  = 24;\n\n"
             "const unsigned char RGB_24bit_data [] = /* R1, G1, B1, R2, G2, B2, ... */ \n{\n 0x11, 0x22, 0x33, \n \n /* Endmark */\n 0x00 \n};"},
        {"c_argb", argb.get(), SF_C,
         cHead +
             "const long gfx_width  = 1;\nconst long gfx_height = 1;\nconst long gfx_depth  = 24;\n\n"
             "const unsigned long ARGB_32bit_data [] = \n{\n 0x332211ff, \n \n /* Endmark */\n 0x00000000 \n};"},
        {"m68k_bits", bits.get(), SF_68K,
         m68kHead +
             "width  EQU 3\nheight EQU 2\ndepth  EQU 1\n\nIS_HAM EQU 0\n\n"
             "RGB8_colormap:\n\n dc.b $00, $11, $22, \n dc.b $ff, $ee, $dd, \n\n\t ;* Endmark *\n\t dc.b $00\n\n\n\n"
             "chunky_8bit_data:\n\n\t dc.b $00, $01, $01\n\t dc.b $01, $00, $00\n\t dc.b $00\n\t ;* ^^^ Endmark *\n"},
        {"m68k_rgb", rgb.get(), SF_68K,
         m68kHead + "width  EQU 1\nheight EQU 1\ndepth  EQU 24\n\nRGB_24bit_data:\n\n\t dc.b $11, $22, $33\n\t dc.b $00\n\t ;* ^^^ Endmark *\n"},
        {"m68k_argb", argb.get(), SF_68K,
         m68kHead + "width  EQU 1\nheight EQU 1\ndepth  EQU 24\n\nARGB_32bit_data:\n\n\t dc.l $332211ff\n\t dc.l $00\n\t ;* ^^^ Endmark *\n"},
        {"ppc_bits", bits.get(), SF_PPC, gnuBits},
        {"x86_bits", bits.get(), SF_X86, gnuBits},
        {"x86_rgb", rgb.get(), SF_X86,
         gnuHead +
             ".width:\n\t.long 1\n.height:\n\t.long 1\n.depth:\n\t.long 24\n\n"
             ".RGB_24bit_data:\n\n\t .byte 0x11, 0x22, 0x33\n\t .byte 0x00\n\t # ^^^ Endmark\n\n\n\n"},
        {"x86_argb", argb.get(), SF_X86,
         gnuHead +
             ".width:\n\t.long 1\n.height:\n\t.long 1\n.depth:\n\t.long 24\n\n"
             ".ARGB_32bit_data:\n\n\t .long 0x332211ff\n\t .long 0x00\n\t # ^^^ Endmark\n\n\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SaveText(c.picture, c.subFormat, std::string("text_") + c.name + ".c"), c.text);
    }
}

// Eight values a line: the eighth loses its comma, the row's closing
// directive line takes the 68k end mark and stays empty in GNU text.
TEST(SourceCode, EightValuesALine) {
    Buffer b = MakePicture(10, 1, 8);
    ASSERT_TRUE(b);
    for (uint32_t x = 0; x < 10; ++x) b->Data[x] = (uint8_t)(x + 1);
    const std::string m68k = SaveText(b.get(), SF_68K, "lines.s");
    const std::string m68kData = "chunky_8bit_data:\n\n\t dc.b $01, $02, $03, $04, $05, $06, $07, $08\n\t dc.b $09, $0a\n\t dc.b $00\n"
                                 "\t ;* ^^^ Endmark *\n";
    ASSERT_GE(m68k.size(), m68kData.size());
    EXPECT_EQ(m68k.substr(m68k.size() - m68kData.size()), m68kData);
    const std::string x86 = SaveText(b.get(), SF_X86, "lines.s");
    const std::string x86Data = ".chunky_8bit_data:\n\n\t .byte 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08\n"
                                "\t .byte 0x09, 0x0a\n\t .byte \n\t .byte 0x00\n # Endmark\n\n\n\n";
    ASSERT_GE(x86.size(), x86Data.size());
    EXPECT_EQ(x86.substr(x86.size() - x86Data.size()), x86Data);

    // 24-bit triples keep the same eight-pixel lines; a row of exactly 16
    // pixels ends its second line without a comma.
    Buffer wide = MakePicture(16, 2, 24, MAP8);
    ASSERT_TRUE(wide);
    const std::string text = SaveText(wide.get(), SF_68K, "wide.s");
    size_t lines = 0, pos = text.find("ARGB_32bit_data:\n\n");
    ASSERT_NE(pos, std::string::npos);
    for (size_t at = text.find("\t dc.l ", pos); at != std::string::npos; at = text.find("\t dc.l ", at + 1)) {
        const std::string line = text.substr(at, text.find('\n', at) - at);
        if (line == "\t dc.l $00") break;
        ++lines;
        EXPECT_EQ(std::count(line.begin(), line.end(), '$'), 8) << line;
        EXPECT_NE(line.back(), ' ') << line;
    }
    EXPECT_EQ(lines, 4u);
}

// The C text of every kind at every width compiles in one program that
// prints its arrays; the same files parse as C.
TEST(SourceCode, CCompilesToThePicture) {
    if (!KXT_HaveTool("g++")) GTEST_SKIP() << "g++ is not installed";
    std::string program = "#include <cstdio>\n", body, expected, cFiles;
    std::vector<Buffer> keep;
    int n = 0;
    auto add = [&](Buffer b) {
        const std::string name = "c" + std::to_string(n);
        const std::string path = Path(name + ".c");
        ASSERT_EQ(kxt::SaveTo<kxoCSRC>(b.get(), path, SF_C).Err, KXERR_NONE);
        cFiles += " " + path;
        program += "namespace " + name + " {\n#include \"" + path + "\"\n";
        body += "    std::printf(\"%ld %ld %ld \", " + name + "::gfx_width, " + name + "::gfx_height, " + name + "::gfx_depth);\n";
        if (b->ColorDepth <= 8) {
            program += "const long ham = IS_HAM;\n#undef IS_HAM\n";
            body += "    std::printf(\"%ld \", " + name + "::ham);\n";
            body += "    for (auto& e : " + name + "::RGB8_colormap) for (unsigned v : e) std::printf(\"%02x\", v);\n";
            body += "    std::printf(\" \");\n    for (unsigned v : " + name + "::chunky_8bit_data) std::printf(\"%02x\", v);\n";
        } else if (b->AlphaType) {
            body += "    for (unsigned long v : " + name + "::ARGB_32bit_data) std::printf(\"%08lx\", v);\n";
        } else {
            body += "    for (unsigned v : " + name + "::RGB_24bit_data) std::printf(\"%02x\", v);\n";
        }
        body += "    std::printf(\"\\n\");\n";
        program += "}\n";
        std::string line = Printed(b.get());
        if (b->ColorDepth <= 8 && IsHamBuffer(b.get())) line.replace(line.find(" 0 "), 3, " 1 ");
        expected += line;
        keep.push_back(std::move(b));
        ++n;
    };
    for (uint32_t w : Widths())
        for (const Kind& k : kKinds) add(MakePicture(w, 3, k.depth, k.alpha));
    Buffer ham = MakePicture(5, 2, 6);
    ham->ViewMode = KXVIEWMODE_HAM;
    add(std::move(ham));
    Buffer four = MakePicture(9, 9, 4, KEY);  // a transparent index stays out of the text
    add(std::move(four));
    program += "int main() {\n" + body + "    return 0;\n}\n";

    const std::string main = Path("main.cpp"), exe = Path("main"), out = Path("main.out");
    ASSERT_TRUE(KXT_WriteFile(main, program));
    ASSERT_EQ(RunTool("g++ -std=c++17 -o " + exe + " " + main), 0) << "g++ failed on " << main;
    ASSERT_EQ(system((exe + " > " + out).c_str()), 0);
    EXPECT_EQ(KXT_ReadFile(out), expected);
    if (KXT_HaveTool("gcc")) {
        EXPECT_EQ(RunTool("gcc -x c -std=c99 -fsyntax-only" + cFiles), 0);
    }
}

// The GNU text assembles, and .rodata holds width, height and depth as
// 32-bit values, then the HAM flag, the colour map and the indices (each
// with its zero end mark), the RGB bytes, or the 32-bit pixel values.
TEST(SourceCode, GnuAssemblerTextAssemblesToThePicture) {
    struct Target {
        const char* as;
        const char* objcopy;
        uint32_t subFormat;
        bool big;
    };
    const Target targets[] = {{"as", "objcopy", SF_X86, false}, {"powerpc-linux-gnu-as", "powerpc-linux-gnu-objcopy", SF_PPC, true}};
    int ran = 0;
    for (const Target& t : targets) {
        if (!KXT_HaveTool(t.as) || !KXT_HaveTool(t.objcopy)) continue;
        ++ran;
        for (uint32_t w : Widths())
            for (const Kind& k : kKinds) {
                // The line rule at every width for bytes and for longs; the
                // other kinds at a few (each case runs two programs).
                const bool everyWidth = (k.depth == 8) || (k.depth == 24 && k.alpha == MAP8);
                if (!everyWidth && w != 1 && w != 8 && w != 9 && w != 31) continue;
                SCOPED_TRACE(std::string(t.as) + " " + k.name + " width " + std::to_string(w));
                Buffer b = MakePicture(w, 3, k.depth, k.alpha);
                ASSERT_TRUE(b);
                const std::string s = Path("gnu.s"), o = Path("gnu.o"), bin = Path("gnu.bin");
                ASSERT_EQ(kxt::SaveTo<kxoCSRC>(b.get(), s, t.subFormat).Err, KXERR_NONE);
                ASSERT_EQ(RunTool(std::string(t.as) + " -o " + o + " " + s), 0);
                ASSERT_EQ(RunTool(std::string(t.objcopy) + " -O binary -j .rodata " + o + " " + bin), 0);
                EXPECT_EQ(KXT_ReadBytes(bin), Rodata(b.get(), t.big));
            }
    }
    if (!ran) GTEST_SKIP() << "no GNU assembler installed";
}

// The 68k text of every width: the numbers of the picture in order, eight
// a line at most, each row on lines of its own.
TEST(SourceCode, M68kTextHoldsThePictureEightALine) {
    for (uint32_t w : Widths())
        for (const Kind& k : kKinds) {
            SCOPED_TRACE(std::string(k.name) + " width " + std::to_string(w));
            Buffer b = MakePicture(w, 3, k.depth, k.alpha);
            ASSERT_TRUE(b);
            const std::string text = SaveText(b.get(), SF_68K, "m68k.s");
            const bool argb = k.depth == 24 && k.alpha != NO_ALPHA;
            const char* label = k.depth <= 8 ? "chunky_8bit_data:\n\n" : argb ? "ARGB_32bit_data:\n\n" : "RGB_24bit_data:\n\n";
            const std::string directive = argb ? "\t dc.l " : "\t dc.b ";
            size_t at = text.find(label);
            ASSERT_NE(at, std::string::npos);
            at += strlen(label);
            std::string expected;
            char t[16];
            const size_t perPixel = k.depth <= 8 ? 1 : 3;
            for (uint32_t y = 0; y < 3; ++y) {
                for (uint32_t x = 0; x < w; ++x) {
                    const size_t i = (size_t)y * w + x;
                    expected += x % 8 == 0 ? directive : ", ";
                    if (argb) {
                        snprintf(t, sizeof(t), "$%08x", Argb(b.get(), i));
                        expected += t;
                    } else {
                        for (size_t c = 0; c < perPixel; ++c) {
                            snprintf(t, sizeof(t), "%s$%02x", c ? ", " : "", b->Data[i * perPixel + c]);
                            expected += t;
                        }
                    }
                    if (x + 1 == w || x % 8 == 7) expected += "\n";
                }
            }
            expected += directive + "$00\n\t ;* ^^^ Endmark *\n";
            EXPECT_EQ(text.substr(at), expected);
        }
}

// A bit-plane picture is dumped as its indices; progress comes before
// every eighth row.
TEST(SourceCode, BitPlanesAndProgress) {
    Buffer chunky = MakePicture(13, 17, 3);
    ASSERT_TRUE(chunky);
    KX_GfxBuffer* planes = nullptr;
    ASSERT_EQ(KXSUP_OnePlaneToBitPlane8(chunky.get(), &planes), KXERR_NONE);
    Buffer planar(planes);
    EXPECT_EQ(SaveText(planar.get(), SF_C, "planes.c"), SaveText(chunky.get(), SF_C, "chunky.c"));

    std::vector<uint32_t> seen;
    kxoCSRC w(nullptr);
    const std::string path = Path("progress.s");
    w.SetSaveName(path.c_str());
    w.SetSubFormat(SF_X86);
    w.SetGfxBuffer(chunky.get());
    w.SetProgress(kxt::OnProgress, reinterpret_cast<uintptr_t>(&seen));
    EXPECT_EQ(w.Save(), KXERR_NONE);
    EXPECT_EQ(seen, (std::vector<uint32_t>{0, 47, 94}));
}

TEST(SourceCode, Operations) {
    kxoCSRC w(nullptr);
    char ext[16] = {};
    EXPECT_EQ(w.GetExtension(ext), KXERR_NONE);
    EXPECT_STREQ(ext, ".c");
    EXPECT_EQ(w.GetExtension(nullptr), KXERR_INTERNALACCESS);
    EXPECT_EQ(w.CheckFile(nullptr, "x.c", KXIO_FILE), 0u);
    EXPECT_EQ(w.Load(), KXERR_NOTSUPPORTED);
    EXPECT_EQ(w.SetIOMode(2), KXERR_NONE);
    EXPECT_EQ(w.SetIOMode(3), KXERR_NOTSUPPORTED);
    EXPECT_EQ(w.SetGfxBuffer(nullptr), KXERR_INTERNALACCESS);
    EXPECT_STREQ(w.FormatName, "SourceCode");
}

// Refusals come before the file is opened: the old file stays, nothing is
// left beside it; a write that fails gives 30 and keeps the old file too.
TEST(SourceCode, FailuresKeepTheOldFile) {
    const std::string path = Path("old.c");
    Buffer deep = MakePicture(4, 4, 48);
    Buffer ok = MakePicture(64, 64, 24, MAP8);
    ASSERT_TRUE(deep && ok);
    ExpectRefusalsKeepOldFile<kxoCSRC>(path, {
        {"48 bits", deep.get(), KXIO_FILE, path, KXERR_NOTSUPPORTED},
        {"no picture", nullptr, KXIO_FILE, path, KXERR_NOTSUPPORTED},
        {"clipboard mode", ok.get(), 2, path, KXERR_NOTSUPPORTED},
        {"no folder", ok.get(), KXIO_FILE, ScratchDir() + "/missing/x.c", KXERR_NODESTFILE},
    });
    for (uint32_t sub : {SF_C, SF_68K, SF_X86}) {
        SCOPED_TRACE(sub);
        kxoCSRC w(nullptr);
        w.SetSubFormat(sub);
        EXPECT_EQ(kxt::SaveUnderFileSizeLimit(&w, ok.get(), "limited.c"), KXERR_IO);
    }
}
