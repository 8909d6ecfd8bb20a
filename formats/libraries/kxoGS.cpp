// kxoGS: PostScript and PDF through Ghostscript (see kxoGS.h).
#include "formats/libraries/kxoGS.h"

#include <cstdlib>
#include <cstring>

namespace {
const char* const TAG = "gs";

// Ghostscript reads "%" in an output name as a page-number format.
std::string outputArgument(const char* name) {
    std::string arg = "-sOutputFile=";
    for (const char* p = name; *p; ++p) {
        arg += *p;
        if (*p == '%') arg += '%';
    }
    return arg;
}
}  // namespace

kxoGS::kxoGS(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoGS");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoGS::Reset() {
    FrameReset();
    Output.Release();
}

uint32_t kxoGS::CheckFile(FILE* file, const char* name, int32_t mode) {
    if (mode != KXIO_FILE || !file) return 0;
    char head[32] = {};
    size_t n = KXF_PeekHead(file, head, sizeof(head));
    if (n < 1 || head[0] != '%') return 0;
    if ((n >= 10 && memcmp(head, "%!PS-Adobe", 10) == 0) || (n >= 5 && memcmp(head, "%PDF-", 5) == 0)) return 1;
    return KXF_NameEndsWith(name, ".PS") || KXF_NameEndsWith(name, ".PDF") ? 1 : 0;
}

uint32_t kxoGS::Load() {
    KXSUP_FreeGfxBuffer(LoadedBuffer);
    LoadedBuffer = nullptr;
    KXF_Log(this, 2, TAG, "PS->PNG conversion started.\n");
    uint32_t err = KXCONV_MakeName(Lib, "gs", "png", KXCONV_NextCall(), &Output);
    if (err != KXERR_NONE) return err;

    const std::string program = KXCONV_Program(this, "GS_PATH", "gs", false);
    const long dpi = strtol(KXCONV_Key(this, "DPI", "72").c_str(), nullptr, 10);
    // The resolution must stand before the input file: Ghostscript applies
    // options only to the files that follow them.
    const std::vector<std::string> args = {"-dPrinted=false", "-sDEVICE=png16m", "-dGraphicsAlphaBits=4",
                                           outputArgument(Output.Name), "-q", "-dNOPAUSE",
                                           "-r" + std::to_string(dpi), KXCONV_FileArg(ReadName), "-c", "quit"};
    uint32_t run = KXCONV_Run(this, TAG, program, args);
    Output.Registered = true;
    if ((err = KXCONV_CheckOutput(run, Output.Name)) != KXERR_NONE) return err;
    KXF_Log(this, 2, TAG, "Successfully converted.\n");
    return KXCONV_LoadChained(Lib, "kxoPNG", Output.Name, KXChainSettings::Defaults, &LoadedBuffer);
}
