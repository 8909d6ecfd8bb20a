// kxconvert: the converter modules' shared helpers (see kxconvert.h).
#include "formats/libraries/kxconvert.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <new>

#include "core/extrun.h"

void KXConvFile::Release() {
    if (Name && Registered) amDeleteFile(Name);
    FreeVec(Name);
    Name = nullptr;
    Registered = false;
}

unsigned long KXCONV_NextCall() {
    // The process id in the high bits: library objects of two processes
    // can share an instance number, their conversions never a name.
    static std::atomic<unsigned long> calls{(unsigned long)getpid() << 20};
    return ++calls;
}

uint32_t KXCONV_MakeName(KXClass* lib, const char* prefix, const char* ext, unsigned long call, KXConvFile* file) {
    if (!prefix || !ext || !file) return KXERR_INTERNALACCESS;
    file->Release();
    std::unique_ptr<KXClass> own;
    if (!lib) {
        own.reset(new (std::nothrow) KXClass());
        if (!own) return KXERR_IO;
        lib = own.get();
    }
    const char* dir = lib->TempDir ? lib->TempDir : KX_GetProcessTempDir();
    const size_t size = strlen(dir) + 64;
    auto* name = static_cast<char*>(AllocVec(size, MEMF_CLEAR));
    if (!name) return KXERR_NOMEMORY;
    int n = snprintf(name, size, "%s%s_%lx_%lx.%s", dir, prefix, (unsigned long)lib->InstanceId, call, ext);
    if (n < 0 || (size_t)n >= size) {
        FreeVec(name);
        return KXERR_INTERNALACCESS;
    }
    file->Name = name;
    amDeleteFile(name);
    return KXERR_NONE;
}

uint32_t KXCONV_CheckOutput(uint32_t runResult, const char* name) {
    if (runResult != KXERR_NONE || !name) return KXERR_EXTERNALTOOL;
    FILE* f = amOpen(name, "rb");
    if (!f) return KXERR_EXTERNALTOOL;
    // An empty file is what a converter leaves when it failed after
    // creating its output (or what the runner made for its standard output).
    int c = fgetc(f);
    amClose(f);
    return c == EOF ? KXERR_EXTERNALTOOL : KXERR_NONE;
}

std::string KXCONV_Key(KXObject* o, const char* key, const char* fallback) {
    std::string value = fallback ? fallback : "";
    if (!o || !key) return value;
    KX_ControlPad* loaded = nullptr;
    KX_ControlPad* pad = o->KeyPad(&loaded);
    char* v = nullptr;
    if (pad && KXSUP_FindControlPad(pad, key, &v) && v && *v) value = v;
    if (loaded) KXSUP_FreeControlPad(loaded);
    return value;
}

std::string KXCONV_Program(KXObject* o, const char* key, const char* program, bool own) {
    std::string path = KXCONV_Key(o, key, nullptr);
    if (!path.empty() || !program) return path;
    if (own) {
        const char* dir = o && o->Lib && o->Lib->ProgDir ? o->Lib->ProgDir : KX_GetProcessProgDir();
        std::string beside = std::string(dir ? dir : "") + program;
        struct stat st;
        if (dir && *dir && stat(beside.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(beside.c_str(), X_OK) == 0)
            return beside;
    }
    return program;
}

std::string KXCONV_FileArg(const char* path) {
    if (!path) return std::string();
    if (path[0] && path[0] != '/') return std::string("./") + path;
    return path;
}

uint32_t KXCONV_Run(KXObject* o, const char* tag, const std::string& program, const std::vector<std::string>& args,
                    const char* stdoutFile) {
    std::vector<const char*> argv;
    argv.reserve(args.size() + 1);
    std::string line = program;
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
        line += ' ';
        line += a;
    }
    argv.push_back(nullptr);
    if (stdoutFile) line += std::string(" >") + stdoutFile;
    KXF_Log(o, 5, tag, "Running: %s\n", line.c_str());
    const uint32_t limit = KXCONV_TimeLimit(o);
    const uint32_t old = KX_SetExternalTimeLimit(limit);
    uint32_t r = KX_RunExternal(program.c_str(), nullptr, argv.data(), stdoutFile);
    KX_SetExternalTimeLimit(old);
    if (KX_ExternalTimedOut()) {
        KXF_Log(o, 1, tag, "%s stopped: still running after %lu s (TIME_LIMIT).\n", program.c_str(),
                (unsigned long)limit);
        r = KXERR_EXTERNALTOOL;
    }
    return r;
}

uint32_t KXCONV_TimeLimit(KXObject* o) {
    const std::string text = KXCONV_Key(o, "TIME_LIMIT", nullptr);
    char* end = nullptr;
    const long long v = text.empty() ? 0 : strtoll(text.c_str(), &end, 10);
    if (v <= 0) return KX_EXTERNAL_TIME_LIMIT;
    return v > 86400 ? 86400u : (uint32_t)v;
}

uint32_t KXCONV_LoadChained(KXClass* lib, const char* className, const char* file, KXChainSettings settings,
                            KX_GfxBuffer** out) {
    if (!out) return KXERR_INTERNALACCESS;
    const KXFormatReg* reg = KX_FindFormatReg(className);
    std::unique_ptr<KXObject> reader(reg ? KX_NewObject(lib, *reg) : nullptr);
    if (!reader) return KXERR_NOMEMORY;
    std::unique_ptr<KXConfig> list;
    if (settings == KXChainSettings::Defaults) {
        uint32_t err = KXERR_NONE;
        list.reset(new (std::nothrow) KXConfig(reader->PadPath, &err));
        if (!list) return KXERR_NOMEMORY;
        if (err != KXERR_NONE) return err;
        reader->SetLocalConfig(list->GetPadList());
    }
    reader->SetReadName(file);
    uint32_t err = reader->Load();
    if (err == KXERR_NONE) err = reader->DetachGfxBuffer(out);
    // The list is destroyed before the reader: let go of it first.
    reader->FreeConfig();
    return err;
}

uint32_t KXCONV_LoadName(KXObject* o, std::string* name) {
    *name = KXCONV_Key(o, "LOADNAME", nullptr);
    if (name->empty() || name->size() > KXCONV_LOADNAME_MAX) return KXERR_FILENOTFOUND;
    return KXERR_NONE;
}
