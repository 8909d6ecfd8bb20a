// Fuzzes one reader class (KX_FUZZ_CLASS) through its catalogue object:
// CheckFile, Load with metadata, a walk over the buffer it lends, Reset.
// Picture sizes are left to the library's own size limit, so that nothing
// it would accept is hidden (fuzz/run.sh sets libFuzzer's memory limits to
// match); the last input byte picks a line of fuzz/options/<class>.txt as
// settings. Device readers run in the device mode with the input as LOADNAME.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "core/kxlib.h"

#define KX_STR2(x) #x
#define KX_STR(x) KX_STR2(x)

namespace {
std::vector<std::string> loadOptions() {
    std::vector<std::string> lines;
    std::ifstream in(std::string(KX_SOURCE_DIR) + "/fuzz/options/" KX_STR(KX_FUZZ_CLASS) ".txt");
    std::string line;
    while (std::getline(in, line))
        if (!line.empty() && line[0] != '#') lines.push_back(line);
    return lines;
}

void applyOptions(KXConfig& cfg, const std::string& line) {
    size_t start = 0;
    while (start < line.size()) {
        size_t end = line.find(';', start);
        if (end == std::string::npos) end = line.size();
        std::string item = line.substr(start, end - start);
        size_t eq = item.find('=');
        if (eq != std::string::npos) cfg.SetValue(item.substr(0, eq).c_str(), item.substr(eq + 1).c_str());
        start = end + 1;
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static KXClass* lib = new KXClass();
    static const std::vector<std::string> options = loadOptions();
    const KXFormatReg* reg = KX_FindFormatReg(KX_STR(KX_FUZZ_CLASS));
    if (!reg) return 0;
    KXObject* obj = KX_NewObject(lib, *reg);
    // The file carries the module's own extension: readers that also look
    // at the name (PICT) recognise it.
    static const std::string path = [obj] {
        char ext[16] = {};
        obj->GetExtension(ext);
        return std::string(KX_GetProcessTempDir()) + "fuzz_" KX_STR(KX_FUZZ_CLASS) "_" + std::to_string(getpid()) + ext;
    }();

    FILE* f = fopen(path.c_str(), "wb");
    if (!f) {
        delete obj;
        return 0;
    }
    if (size) fwrite(data, 1, size, f);
    fclose(f);
    // Device readers answer only in the device mode and take the file from LOADNAME.
    const bool device = reg->Device >= 0;
    KXConfig* cfg = nullptr;
    if ((!options.empty() && size > 0) || device) {
        uint32_t err = 0;
        cfg = new KXConfig(obj->PadPath, &err);
        if (!options.empty() && size > 0) applyOptions(*cfg, options[data[size - 1] % options.size()]);
        if (device) cfg->SetValue("LOADNAME", path.c_str());
        obj->SetLocalConfig(cfg->GetPadList());
    }
    if (device) obj->SetIOMode(KXIO_DEVICE);
    obj->SetLoadMeta(1);
    FILE* in = fopen(path.c_str(), "rb");
    uint32_t known = in ? obj->CheckFile(in, path.c_str(), device ? KXIO_DEVICE : KXIO_FILE) : 0;
    if (in) fclose(in);
    if (known == 1) {
        obj->SetReadName(path.c_str());
        if (obj->Load() == KXERR_NONE) {
            KX_GfxBuffer* buffer = nullptr;
            if (obj->GetGfxBuffer(&buffer) == KXERR_NONE && buffer && buffer->Data) {
                // Touch the whole block so that a short allocation shows up.
                uint32_t sum = 0;
                for (uint32_t i = 0; i < buffer->BufferSize; i += 61) sum += buffer->Data[i];
                __asm__ volatile("" : : "g"(sum) : "memory");
            }
            obj->GetSpecialInfo();
        }
    }
    obj->Reset();
    delete obj;
    delete cfg;
    unlink(path.c_str());
    return 0;
}
