// The geometry and depth operators as the front end reaches them: the
// library object's operator table, driven in the dispatcher's order
// (Reset, settings list, progress hook, run, detach), one key per row that
// changes the outcome; and where the keys come from when no list is given.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "geo_support.h"

using namespace geo;

namespace {

struct CatalogueRow {
    uint32_t number;
    const char* pad;
    const char* description;
    uint32_t caps;
    uint32_t depth;  // of the 4 x 3 source
    std::vector<std::pair<const char*, const char*>> keys;
    uint32_t code;
    uint32_t w, h, resultDepth;  // of the result on success
};

std::vector<uint32_t> g_percent;
void Hook(KXProgress* p, uintptr_t) { g_percent.push_back(p->Percent); }

TEST(CatalogueRun, EveryOperatorThroughTheTableInDispatchOrder)
{
    const CatalogueRow rows[] = {
        {0, "AnyTo24Bit.controlpad", "Converts input to 24 Bit.", 0x974, 8, {{"PRECISE", "off"}}, 0, 4, 3, 24},
        {1, "AnyTo48Bit.controlpad", "Converts input to 48 Bit.", 0x974, 24, {{"CONVERTALPHA", "ON"}}, 0, 4, 3, 48},
        {2, "AutoBorder.controlpad", "Removes single-color borders.", 0x1CFC, 24, {}, 0, 4, 3, 24},
        {3, "Blur.controlpad", "Apply Blur effect to a graphics.", 0x1830, 24, {}, 0, 4, 3, 24},
        {4, "Rotate.controlpad", "Apply Rotate effect to a graphics.", 0x1830, 24, {{"DEGREES", "270"}}, 0, 3, 4, 24},
        {8, "Dither24Bit.controlpad", "Dithers 24 Bit to 256 colors or less.", 0x18, 24, {{"COLORDEPTH", "3"}, {"DITHERMODE", "burkes"}}, 0, 4, 3, 3},
        {8, "Dither24Bit.controlpad", "Dithers 24 Bit to 256 colors or less.", 0x18, 8, {}, KXERR_NEED24BIT, 0, 0, 0},
        {9, "Scale50.controlpad", "Doubles/halves graphics size.", 0x1CFC, 48, {{"METHOD", "double"}}, 0, 8, 6, 48},
        {14, "Resize.controlpad", "Resizes a graphics by interpolation.", 0x1CFC, 4, {{"NEW_WIDTH", "7"}, {"NEW_HEIGHT", "5"}}, 0, 7, 5, 8},
        {14, "Resize.controlpad", "Resizes a graphics by interpolation.", 0x1CFC, 24, {{"new_width", "1"}}, 0, 4, 3, 24},
        {15, "Convolve.controlpad", "An integer 3x3 convolution matrix operator.", 0x1830, 48, {{"DIVIDE_EQUAL", "2"}}, 0, 4, 3, 48},
        {16, "ConvolveFloat.controlpad", "A floating point 3x3 convolution matrix operator.", 0x1830, 8, {}, KXERR_NEED24BIT, 0, 0, 0},
        {17, "ConvolveNxN.controlpad", "An integer NxN convolution matrix operator.", 0x1830, 24, {{"MATRIX_SIZE", "7x7"}}, 0, 4, 3, 24},
        {21, "Crop.controlpad", "Crops graphics.", 0x1CFC, 24, {{"crop_leftedge", "1"}, {"Crop_Height", "2"}}, 0, 3, 2, 24},
        {22, "Paste.controlpad", "Pastes graphics.", 0x1CFC, 24, {{"KX_AREA", "0,0,1,1"}}, KXERR_NOMEMORY, 0, 0, 0},
        {23, "Cut.controlpad", "Cuts part out of graphics.", 0x18FC, 8, {{"CUT_WIDTH", "0"}}, KXERR_SIZEMISMATCH, 0, 0, 0},
        {24, "Sharpen.controlpad", "Apply Sharpen operator to a graphics.", 0x1830, 24, {{"SHARPNESS", "7"}}, 0, 4, 3, 24},
        {25, "LeftToRight.controlpad", "Also known as FlipX", 0x18FC, 48, {}, 0, 4, 3, 48},
        {26, "TopToBottom.controlpad", "Also known as FlipY.", 0x18FC, 4, {}, 0, 4, 3, 4},
        {27, "RotateFree.controlpad", "Rotates graphics freely.", 0x1CFC, 24, {{"ROTATE_ANGLE", "10"}}, 0, 7, 7, 24},
        {29, "Mirror.controlpad", "Mirrors an image in 3 different ways.", 0x18FC, 8, {{"MIRRORMODE", "y_axis"}}, 0, 4, 3, 8},
        {30, "MirrorCopy.controlpad", "Mirrors an image in 4 different ways.", 0x18FC, 24, {{"MIRRORMODE", "VERTUPPER"}}, 0, 4, 3, 24},
        {33, "Mosaic.controlpad", "Mosaic effect.", 0x183C, 24, {{"BLOCKS", "3"}}, 0, 6, 3, 24},
        {34, "CutInverse.controlpad", "CutInverses inverse part of graphics.", 0x18FC, 48, {{"Cut_TopEdge", "5"}}, 0, 4, 3, 48},
        {39, "Scatter.controlpad", "Scatters graphics by given factor.", 0x18FC, 8, {{"SCATTERMODE", "Y_AXIS"}}, 0, 4, 3, 8},
        {42, "OilPaint.controlpad", "Apply OilPaint effect to a graphics.", 0x1830, 24, {{"GRANULARITY", "2"}}, 0, 4, 3, 24},
        {43, "DigiPaint.controlpad", "Apply DigiPaint effect to a graphics.", 0x1830, 48, {}, 0, 4, 3, 48},
        {45, "AddBorder.controlpad", "Adds single-color borders.", 0x1CFC, 8, {{"TOP_WIDTH", "2"}}, 0, 4, 5, 8},
        {46, "ReplaceBorder.controlpad", "Replaces single-colored borders (frames).", 0x18FC, 4, {}, 0, 4, 3, 5},
        {54, "ResizeDDA.controlpad", "ResizeDDAs a graphics by interpolation.", 0x1CFC, 24, {{"ZOOM_FACTOR", "2.5"}}, 0, 10, 7, 24},
        {55, "Median.controlpad", "Apply Median effect to a graphics.", 0x1830, 24, {{"METHOD", "UPPER"}}, 0, 4, 3, 24},
        {56, "Tiling.controlpad", "Apply Tile-breaking effect to image.", 0x183C, 48, {{"TILESIZE", "1"}}, 0, 4, 3, 48},
        {57, "Slicing.controlpad", "Apply slicing effect to image.", 0x183C, 4, {}, 0, 4, 3, 4},
    };
    KXClass lib;
    KXOperator** table = lib.GetOperators();
    ASSERT_NE(table, nullptr);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pad);
        KXOperator* op = table[row.number];
        ASSERT_NE(op, nullptr);
        EXPECT_STREQ(op->PadName, row.pad);
        EXPECT_STREQ(op->Description, row.description);
        EXPECT_EQ(op->Capabilities, row.caps);
        EXPECT_EQ(op->Version, 1u);

        Buffer src = Make(4, 3, row.depth);
        op->Reset();
        uint32_t err = 0;
        KXConfig cfg(op->PadPath, &err);
        ASSERT_EQ(err, 0u);
        for (auto& [k, v] : row.keys) cfg.SetValue(k, v);
        op->SetLocalConfig(cfg.GetPadList());
        EXPECT_EQ(op->SetProgress(Hook, 5), 0u);
        g_percent.clear();
        KX_GfxBuffer* res = nullptr;
        ASSERT_EQ(op->OperateTagList(src.get(), &res, nullptr), row.code);
        if (row.code) {
            EXPECT_EQ(res, nullptr);
            op->Reset();
            continue;
        }
        // The flip left to right reports for palette pictures only; the
        // window filters report from their first inner row that is a
        // multiple of 8, so not on three rows.
        const bool filter = row.number == 3 || row.number == 15 || row.number == 16 || row.number == 17 || row.number == 24 || row.number == 55;
        EXPECT_EQ(g_percent.empty(), (row.number == 25 && row.depth > 8) || filter) << "the hook hears row 0";
        for (uint32_t p : g_percent) EXPECT_LT(p, 100u) << "no closing hundred";
        Buffer owned;
        {
            KX_GfxBuffer* out = nullptr;
            ASSERT_EQ(op->DetachResult(&out), 0u);
            ASSERT_EQ(out, res);
            owned.reset(out);
        }
        EXPECT_EQ(owned->Type, uint32_t(ONEPLANE));
        EXPECT_EQ(owned->Width, row.w);
        EXPECT_EQ(owned->Height, row.h);
        EXPECT_EQ(owned->ColorDepth, row.resultDepth);
        op->Reset();
    }
}

// Reading keys without a settings list: the settings directory's pad, else
// the archive's, whether the operator was configured or only reset.
TEST(CatalogueRun, PadFilesOfTheSettingsAndArchiveDirectories)
{
    const std::string root = TempPath("pads");
    const std::string prog = root + "/prog/", user = root + "/user/";
    for (const std::string& d : {root, root + "/prog", prog + "ENV", prog + "ENV/Kaxon5-Library", root + "/user", user + "ENV",
                                 user + "ENV/Kaxon5-Library"})
        mkdir(d.c_str(), 0755);
    auto writePad = [](const std::string& path, const char* text) {
        std::ofstream f(path);
        f << text;
    };
    const std::string settingsPad = user + "ENV/Kaxon5-Library/Resize.controlpad";
    const std::string archivePad = prog + "ENV/Kaxon5-Library/Resize.controlpad";
    writePad(archivePad, "NEW_WIDTH=3\nNEW_HEIGHT=2\n");

    KXClass lib;
    lib.SetPaths(prog.c_str(), user.c_str());
    KXOperator* op = lib.GetOperators()[14];
    Buffer src = Make(6, 4, 24);
    KX_GfxBuffer* res = nullptr;

    struct Step {
        const char* name;
        bool settingsFile, configure;
        uint32_t w, h;
    } steps[] = {
        {"archive pad loaded by Configure", false, true, 3, 2},
        {"archive pad still read after Reset", false, false, 3, 2},
        {"settings pad loaded by Configure", true, true, 5, 3},
        {"settings pad read after Reset", true, false, 5, 3},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        if (s.settingsFile) writePad(settingsPad, "NEW_WIDTH=5\nNEW_HEIGHT=3\n");
        op->Reset();
        if (s.configure) op->Configure(nullptr);
        ASSERT_EQ(op->OperateTagList(src.get(), &res, nullptr), 0u);
        EXPECT_EQ(res->Width, s.w);
        EXPECT_EQ(res->Height, s.h);
    }
    op->Reset();
    remove(settingsPad.c_str());
    remove(archivePad.c_str());
    for (const std::string& d : {user + "ENV/Kaxon5-Library", user + "ENV", root + "/user", prog + "ENV/Kaxon5-Library", prog + "ENV", root + "/prog", root})
        rmdir(d.c_str());
}

}  // namespace
