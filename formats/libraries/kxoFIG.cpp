// kxoFIG: FIG drawings through fig2dev (see kxoFIG.h).
#include "formats/libraries/kxoFIG.h"

#include <cstring>

namespace {
const char* const TAG = "fig";
}  // namespace

kxoFIG::kxoFIG(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoFIG");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoFIG::Reset() {
    FrameReset();
    Output.Release();
}

uint32_t kxoFIG::CheckFile(FILE* file, const char* name, int32_t mode) {
    if (mode != KXIO_FILE || !file) return 0;
    char head[32] = {};
    size_t n = KXF_PeekHead(file, head, sizeof(head));
    return n >= 4 && memcmp(head, "#FIG", 4) == 0 && KXF_NameEndsWith(name, ".FIG") ? 1 : 0;
}

uint32_t kxoFIG::Load() {
    KXSUP_FreeGfxBuffer(LoadedBuffer);
    LoadedBuffer = nullptr;
    KXF_Log(this, 2, TAG, "FIG->PS conversion started.\n");
    uint32_t err = KXCONV_MakeName(Lib, "fig", "ps", KXCONV_NextCall(), &Output);
    if (err != KXERR_NONE) return err;

    const std::string program = KXCONV_Program(this, "FIG2DEV_PATH", "fig2dev", false);
    const std::vector<std::string> args = {"-L", "ps", KXCONV_FileArg(ReadName), KXCONV_FileArg(Output.Name)};
    uint32_t run = KXCONV_Run(this, TAG, program, args);
    Output.Registered = true;
    if ((err = KXCONV_CheckOutput(run, Output.Name)) != KXERR_NONE) return err;
    KXF_Log(this, 2, TAG, "Successfully converted.\n");
    // The PostScript module reads its own control pad; destroying it
    // deletes its PNG file.
    return KXCONV_LoadChained(Lib, "kxoGS", Output.Name, KXChainSettings::OwnPad, &LoadedBuffer);
}
