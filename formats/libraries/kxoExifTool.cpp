// kxoExifTool: the XMP packet of any file through exiftool (see kxoExifTool.h).
#include "formats/libraries/kxoExifTool.h"

#include <memory>
#include <new>

namespace {
const char* const TAG = "exiftool";
}  // namespace

kxoExifTool::kxoExifTool(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoExifTool");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoExifTool::Reset() {
    FrameReset();
    Output.Release();
}

uint32_t kxoExifTool::Load() {
    if (IOMode != KXIO_DEVICE) return KXERR_NOTSUPPORTED;
    KXSUP_FreeGfxBuffer(LoadedBuffer);
    LoadedBuffer = nullptr;
    KXF_Log(this, 2, TAG, "EXIFTOOL->RAW-META conversion started.\n");
    std::string input;
    uint32_t err = KXCONV_LoadName(this, &input);
    if (err != KXERR_NONE) return err;
    if ((err = KXCONV_MakeName(Lib, "exiftool", "raw", KXCONV_NextCall(), &Output)) != KXERR_NONE) return err;

    const std::string program = KXCONV_Program(this, "EXIFTOOL_PATH", "exiftool", false);
    // Without -L: exiftool then writes UTF-8, the library's encoding.
    std::vector<std::string> args = {"-xmp", "-b"};
    args.push_back(KXCONV_FileArg(input.c_str()));
    uint32_t run = KXCONV_Run(this, TAG, program, args, Output.Name);
    Output.Registered = true;
    if ((err = KXCONV_CheckOutput(run, Output.Name)) != KXERR_NONE) return err;
    KXF_Log(this, 2, TAG, "Successfully converted to RAW-META.\n");
    return import();
}

// The importer reads the packet as an XMP block; its placeholder picture
// and the packet itself come over into this module.
uint32_t kxoExifTool::import() {
    const KXFormatReg* reg = KX_FindFormatReg("kxoRAWMeta_Import");
    std::unique_ptr<KXObject> importer(reg ? KX_NewObject(Lib, *reg) : nullptr);
    if (!importer) return KXERR_NOMEMORY;
    uint32_t err = KXERR_NONE;
    std::unique_ptr<KXConfig> list(new (std::nothrow) KXConfig(importer->PadPath, &err));
    if (!list || err != KXERR_NONE) return KXERR_NOMEMORY;
    // SetValue answers 1 when the key went in.
    if (list->SetValue("FORMAT", "XMP1") != 1 || list->SetValue("LOADNAME", Output.Name) != 1) return KXERR_NOMEMORY;
    importer->SetLocalConfig(list->GetPadList());
    err = importer->SetIOMode(KXIO_DEVICE);
    if (err == KXERR_NONE) err = importer->Load();
    if (err == KXERR_NONE) err = importer->DetachGfxBuffer(&LoadedBuffer);
    if (err == KXERR_NONE) {
        FreeVec(Xmp1);
        Xmp1 = importer->Xmp1;
        Xmp1Size = importer->Xmp1Size;
        importer->Xmp1 = nullptr;
        importer->Xmp1Size = 0;
    }
    importer->FreeConfig();
    return err;
}
