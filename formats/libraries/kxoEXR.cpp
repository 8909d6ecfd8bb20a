// kxoEXR: OpenEXR images through a converter (see kxoEXR.h).
#include "formats/libraries/kxoEXR.h"

#include <cstring>

namespace {
const char* const TAG = "exr";
const uint8_t kMagic[4] = {0x76, 0x2F, 0x31, 0x01};
}  // namespace

kxoEXR::kxoEXR(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoEXR");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoEXR::Reset() {
    FrameReset();
    Output.Release();
}

uint32_t kxoEXR::CheckFile(FILE* file, const char* name, int32_t mode) {
    if (mode != KXIO_FILE || !file) return 0;
    uint8_t head[4] = {};
    return KXF_PeekHead(file, head, 4) == 4 && memcmp(head, kMagic, 4) == 0 && KXF_NameEndsWith(name, ".EXR") ? 1 : 0;
}

uint32_t kxoEXR::Load() {
    KXSUP_FreeGfxBuffer(LoadedBuffer);
    LoadedBuffer = nullptr;
    KXF_Log(this, 2, TAG, "EXR->PPM conversion started.\n");
    uint32_t err = KXCONV_MakeName(Lib, "exr", "pnm", KXCONV_NextCall(), &Output);
    if (err != KXERR_NONE) return err;
    const std::string program = KXCONV_Program(this, "EXRTOPPM_PATH", "exrtoppm", true);
    const std::vector<std::string> args = {"-i", KXCONV_FileArg(ReadName), "-o", KXCONV_FileArg(Output.Name)};
    uint32_t run = KXCONV_Run(this, TAG, program, args);
    Output.Registered = true;
    if ((err = KXCONV_CheckOutput(run, Output.Name)) != KXERR_NONE) return err;
    KXF_Log(this, 2, TAG, "Successfully converted.\n");
    return KXCONV_LoadChained(Lib, "kxoPNM", Output.Name, KXChainSettings::OwnPad, &LoadedBuffer);
}
