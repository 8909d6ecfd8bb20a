// Fuzzes the control-pad reader and writer: load, look up, change, save,
// load again.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/kxlib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = std::string(KX_GetProcessTempDir()) + "fuzz_pad_" + std::to_string(getpid()) + ".controlpad";
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (size) fwrite(data, 1, size, f);
    fclose(f);
    KX_ControlPad* pad = nullptr;
    if (KXSUP_LoadControlPad(path.c_str(), &pad)) {
        char* value = nullptr;
        KXSUP_FindControlPad(pad, "NEW_WIDTH", &value);
        KXSUP_FindControlPadNoCase(pad, "new_width", &value);
        KXSUP_AddControlPad(pad, "FUZZ", "1", 0);
        KXSUP_SaveControlPad(path.c_str(), pad);
        KXSUP_FreeControlPad(pad);
        pad = nullptr;
        if (KXSUP_LoadControlPad(path.c_str(), &pad)) KXSUP_FreeControlPad(pad);
    }
    unlink(path.c_str());
    return 0;
}
