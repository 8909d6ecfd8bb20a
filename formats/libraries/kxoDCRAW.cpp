// kxoDCRAW: camera RAW files through dcraw (see kxoDCRAW.h).
#include "formats/libraries/kxoDCRAW.h"

#include <strings.h>

#include <cstdlib>

namespace {
const char* const TAG = "dcraw";
}  // namespace

kxoDCRAW::kxoDCRAW(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoDCRAW");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoDCRAW::Reset() {
    FrameReset();
    Output.Release();
}

std::vector<std::string> kxoDCRAW::Options() {
    auto is = [this](const char* key, const char* word) {
        return strcasecmp(KXCONV_Key(this, key, "").c_str(), word) == 0;
    };
    std::vector<std::string> options = {"-c"};
    if (is("EXTRACTMODE", "PREVIEW")) options.push_back("-e");
    if (is("FORMAT", "16BIT")) options.push_back("-4");
    if (is("METAFORMAT", "TIFF")) options.push_back("-T");
    char value[64];
    if (GetKey("PICNUMBER", value, sizeof(value)) == 1) {
        long n = strtol(value, nullptr, 10);
        if (n < 0 || n > 99) n = 99;
        options.push_back("-s");
        options.push_back(std::to_string(n));
    }
    static const char* const kSpaces[6] = {"RAW", "SRGB", "ADOB", "WIDE", "PRO", "XYZ"};
    for (int i = 0; i < 6; ++i)
        if (is("COLORSPACE", kSpaces[i])) {
            options.push_back("-o");
            options.push_back(std::to_string(i));
        }
    return options;
}

uint32_t kxoDCRAW::Load() {
    if (IOMode != KXIO_DEVICE) return KXERR_NOTSUPPORTED;
    KXSUP_FreeGfxBuffer(LoadedBuffer);
    LoadedBuffer = nullptr;
    KXF_Log(this, 2, TAG, "DCRAW->TIFF/PPM conversion started.\n");
    std::string camera;
    uint32_t err = KXCONV_LoadName(this, &camera);
    if (err != KXERR_NONE) return err;
    if ((err = KXCONV_MakeName(Lib, "dcraw", "ppm", KXCONV_NextCall(), &Output)) != KXERR_NONE) return err;

    const std::string program = KXCONV_Program(this, "DCRAW_PATH", "dcraw", false);
    std::vector<std::string> args = Options();
    // No shell: the converter's standard output is the output file itself.
    args.push_back(KXCONV_FileArg(camera.c_str()));
    uint32_t run = KXCONV_Run(this, TAG, program, args, Output.Name);
    Output.Registered = true;
    if ((err = KXCONV_CheckOutput(run, Output.Name)) != KXERR_NONE) return err;

    const bool tiff = strcasecmp(KXCONV_Key(this, "METAFORMAT", "").c_str(), "TIFF") == 0;
    KXF_Log(this, 2, TAG, tiff ? "Successfully converted to TIFF.\n" : "Successfully converted to PPM.\n");
    return KXCONV_LoadChained(Lib, tiff ? "kxoTIFF" : "kxoPNM", Output.Name, KXChainSettings::OwnPad, &LoadedBuffer);
}
