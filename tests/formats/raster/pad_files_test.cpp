// The catalogue's reader and writer objects take their keys from their own
// pad files (the settings pad, else the archive pad), before and after a
// Reset, each key spelt as its module allows; BMP, which reads none, loads
// and saves through them as well.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "raster_pixels.h"

using namespace kxt;
namespace fs = std::filesystem;

namespace {

// A program and a user directory under one temporary root.
struct Dirs {
    std::string root, prog, user;
    Dirs() {
        root = TempPath("pads/");
        prog = root + "prog/";
        user = root + "user/";
        fs::create_directories(prog + "ENV/Kaxon5-Library");
        fs::create_directories(user + "ENV/Kaxon5-Library");
    }
    ~Dirs() { fs::remove_all(root); }
    void pad(bool settings, const char* name, const char* text) const {
        const std::string path = (settings ? user : prog) + "ENV/Kaxon5-Library/" + name;
        WriteAll(path, std::vector<uint8_t>(text, text + strlen(text)));
    }
};

KXObject* tableObject(KXClass& lib, uint32_t table, const char* format) {
    KXObject** objects = lib.GetObjects(table);
    for (int i = 0; objects && objects[i]; ++i)
        if (strcmp(objects[i]->FormatName, format) == 0) return objects[i];
    return nullptr;
}

// The depth a 16-bit P6 file loads with.
uint32_t pnmDepth(KXObject* o, const std::string&) {
    const std::string file = Fixture("pnm/p6_16.ppm");
    o->SetReadName(file.c_str());
    if (o->Load() != KXERR_NONE) return 0;
    KX_GfxBuffer* b = nullptr;
    o->GetGfxBuffer(&b);
    return b ? b->ColorDepth : 0;
}

// The file size of a 1 x 1 P6 picture: 3 without its header.
uint32_t pnmFileSize(KXObject* o, const std::string& out) {
    KX_GfxBuffer* b = MakeImage(1, 1, 24);
    o->SetSaveName(out.c_str());
    o->SetSubFormat(0);
    o->SetGfxBuffer(b);
    const uint32_t err = o->Save();
    KXSUP_FreeGfxBuffer(b);
    return err ? 0 : (uint32_t)KXT_ReadBytes(out).size();
}

// The result of saving a 24-bit picture as GIF.
uint32_t gifTrueColour(KXObject* o, const std::string& out) {
    KX_GfxBuffer* b = MakeImage(2, 2, 24);
    o->SetSaveName(out.c_str());
    o->SetGfxBuffer(b);
    const uint32_t err = o->Save();
    KXSUP_FreeGfxBuffer(b);
    return err;
}

// BMP reads no keys: a load and a save through the catalogue's objects.
uint32_t bmpLoad(KXObject* o, const std::string&) {
    const std::string file = Fixture("bmp/rgb24.bmp");
    o->SetReadName(file.c_str());
    return o->Load();
}

uint32_t bmpSave(KXObject* o, const std::string& out) {
    KX_GfxBuffer* b = MakeImage(3, 2, 8);
    o->SetSaveName(out.c_str());
    o->SetGfxBuffer(b);
    const uint32_t err = o->Save();
    KXSUP_FreeGfxBuffer(b);
    return err;
}

}  // namespace

TEST(PadFiles, CatalogueObjectsReadTheirKeysFromTheirPads) {
    struct Case {
        const char* Name;
        const char* Format;
        uint32_t Table;  // 0 readers, 1 writers
        const char* Pad;
        const char* Settings;  // null: no settings pad file
        const char* Archive;   // null: no archive pad file
        std::function<uint32_t(KXObject*, const std::string&)> Run;
        uint32_t Want;
    } cases[] = {
        {"PNM no pad: 48 bits", "PNM", 0, "PNM.controlpad", nullptr, nullptr, pnmDepth, 48},
        {"PNM COLORDEPTH=24", "PNM", 0, "PNM.controlpad", "COLORDEPTH=24\n", nullptr, pnmDepth, 24},
        {"PNM key in lower case", "PNM", 0, "PNM.controlpad", "colordepth=24\n", nullptr, pnmDepth, 24},
        {"PNM archive pad, mixed case", "PNM", 0, "PNM.controlpad", nullptr, "ColorDepth=24\n", pnmDepth, 24},
        {"PNM settings pad wins", "PNM", 0, "PNM.controlpad", "COLORDEPTH=48\n", "COLORDEPTH=24\n", pnmDepth, 48},
        {"PNM value 24bit", "PNM", 0, "PNM.controlpad", "COLORDEPTH=24bit\n", nullptr, pnmDepth, 48},
        {"PNM header written", "PNM", 1, "PNM.controlpad", nullptr, nullptr, pnmFileSize, 14},
        {"PNM SUPPRESS_HEADER", "PNM", 1, "PNM.controlpad", "SUPPRESS_HEADER\n", nullptr, pnmFileSize, 3},
        {"PNM SUPPRESS_HEADER archive", "PNM", 1, "PNM.controlpad", nullptr, "SUPPRESS_HEADER=OFF\n", pnmFileSize, 3},
        {"PNM suppress_header", "PNM", 1, "PNM.controlpad", "suppress_header=ON\n", nullptr, pnmFileSize, 14},
        {"BMP reader", "BMP", 0, "BMP.controlpad", nullptr, nullptr, bmpLoad, KXERR_NONE},
        {"BMP writer", "BMP", 1, "BMP.controlpad", nullptr, nullptr, bmpSave, KXERR_NONE},
        {"GIF tiles by default", "GIF", 1, "GIF.controlpad", nullptr, nullptr, gifTrueColour, KXERR_NONE},
        {"GIF TILED_SAVING=off", "GIF", 1, "GIF.controlpad", "TILED_SAVING=off\n", nullptr, gifTrueColour, KXERR_NO24BIT},
        {"GIF archive pad", "GIF", 1, "GIF.controlpad", nullptr, "TILED_SAVING=OFF\n", gifTrueColour, KXERR_NO24BIT},
        {"GIF tiled_saving", "GIF", 1, "GIF.controlpad", "tiled_saving=OFF\n", nullptr, gifTrueColour, KXERR_NONE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Dirs d;
        if (c.Settings) d.pad(true, c.Pad, c.Settings);
        if (c.Archive) d.pad(false, c.Pad, c.Archive);
        KXClass lib;
        lib.SetPaths(d.prog.c_str(), d.user.c_str());
        KXObject* o = tableObject(lib, c.Table, c.Format);
        ASSERT_NE(o, nullptr);
        // With the pad loaded at construction, then read for each look-up
        // after the Reset the front end makes before every use.
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(round);
            EXPECT_EQ(c.Run(o, d.root + "out"), c.Want);
            o->Reset();
        }
    }
}
