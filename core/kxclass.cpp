// kxclass: the library object. Directories, the instance id, the global log
// and the five module tables built on first request from the catalogue.
// The global log object, once made, lives as long as the process: modules
// of any library object may still hold its pointer, so the last StopLog
// closes it (a closed log writes nothing) and a later StartLog reopens it.
#include "kxclass.h"

#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <new>
#include <string>

#include "catalogue.h"
#include "libstate.h"
#include "log.h"
#include "memory.h"
#include "object.h"
#include "operator.h"

KXClass* _KXClass = nullptr;

namespace {
const char kSettingsSub[] = "ENV/Kaxon5-Library/";

// The process's one log object (see above); never deleted.
KXLog* gLogObject = nullptr;

// A copy of a + b, with "/" appended when addSlash is set and the result
// does not end in one. Null when memory runs out.
char* joinDir(const char* a, const char* b, bool addSlash) {
    size_t na = strlen(a), nb = strlen(b);
    char* s = static_cast<char*>(AllocVec(na + nb + 2, MEMF_ANY));
    if (!s) return nullptr;
    memcpy(s, a, na);
    memcpy(s + na, b, nb);
    size_t n = na + nb;
    if (addSlash && (n == 0 || s[n - 1] != '/')) s[n++] = '/';
    s[n] = 0;
    return s;
}

void releaseDir(char*& text, bool& owned) {
    if (owned) FreeVec(text);
    text = nullptr;
    owned = false;
}

// Stores a new directory text; an allocation failure leaves the field empty.
void storeDir(char*& field, bool& owned, char* copy) {
    releaseDir(field, owned);
    if (copy) {
        field = copy;
        owned = true;
    } else {
        field = const_cast<char*>("");
    }
}

template <class T>
void destroyTable(T** table) {
    for (int i = 0; i < 256 && table[i]; i++) {
        delete table[i];
        table[i] = nullptr;
    }
}
}  // namespace

uint32_t KX_NewInstanceId() {
    // The process id in the low bits (below 2^22 on Linux) keeps running
    // processes apart; random high bits keep a later process with a reused
    // id off the names an earlier one left behind.
    uint32_t random = 0;
    if (getrandom(&random, sizeof(random), GRND_NONBLOCK) != static_cast<ssize_t>(sizeof(random))) {
        timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        random = static_cast<uint32_t>(ts.tv_nsec) ^ static_cast<uint32_t>(ts.tv_sec) * 2654435761u;
    }
    return (static_cast<uint32_t>(getpid()) & 0x3FFFFFu) | (random << 22);
}

KXClass::KXClass() { Init(); }

KXClass::~KXClass() {
    Cleanup();
    // Module default constructors build on _KXClass: never leave it dangling.
    if (_KXClass == this) _KXClass = nullptr;
}

void KXClass::Init() {
    KXLibState& s = KX_LibState();
    if (s.InstanceCount != 0xFFFFFFFFu) {
        s.InstanceCount++;
        if (s.InstanceCount == 1) s.InstanceId = KX_NewInstanceId();
    }
    Separator = "/";
    const char* temp = KX_RefreshProcessTempDir();
    // The defaults are the program's own directory, not the current one.
    SetPath(KX_GetExecutableDir());
    releaseDir(TempDir, TempDirOwned);
    char* copy = joinDir(temp, "", false);
    if (copy) {
        TempDir = copy;
        TempDirOwned = true;
    } else {
        TempDir = const_cast<char*>(temp);
    }
    InstanceId = s.InstanceId;
}

void KXClass::Cleanup() {
    destroyTable(Operators);
    destroyTable(Readers);
    destroyTable(Writers);
    destroyTable(DeviceReaders);
    destroyTable(DeviceWriters);
    OperatorsBuilt = ReadersBuilt = WritersBuilt = DeviceReadersBuilt = DeviceWritersBuilt = false;
    releaseDir(TempDir, TempDirOwned);
    releaseDir(ProgDir, ProgDirOwned);
    releaseDir(SettingsDir, SettingsDirOwned);
    releaseDir(ArchiveSettingsDir, ArchiveDirOwned);
    releaseDir(UserDir, UserDirOwned);
    InstanceId = 0;
}

void KXClass::SetInstanceId(uint32_t id) {
    InstanceId = id;
    KX_LibState().InstanceId = id;
}

void KXClass::SetPaths(const char* programDir, const char* userDir) {
    if (!programDir) programDir = KX_GetProcessProgDir();
    if (!userDir) userDir = programDir;
    // Copies first: either argument may be one of the texts replaced below.
    char* prog = joinDir(programDir, "", true);
    char* user = joinDir(userDir, "", true);
    char* settings = user ? joinDir(user, kSettingsSub, false) : nullptr;
    char* archive = prog ? joinDir(prog, kSettingsSub, false) : nullptr;
    storeDir(ProgDir, ProgDirOwned, prog);
    storeDir(UserDir, UserDirOwned, user);
    storeDir(SettingsDir, SettingsDirOwned, settings);
    storeDir(ArchiveSettingsDir, ArchiveDirOwned, archive);

    KXLibState& s = KX_LibState();
    std::string fallbackSettings = std::string(KX_GetExecutableDir()) + kSettingsSub;
    KX_SetProcessDir(&s.ProgDir, prog, KX_GetExecutableDir());
    KX_SetProcessDir(&s.UserDir, user, KX_GetExecutableDir());
    KX_SetProcessDir(&s.SettingsDir, settings, fallbackSettings.c_str());
    KX_SetProcessDir(&s.ArchiveSettingsDir, archive, fallbackSettings.c_str());
}

void KXClass::SetPath(const char* dir) { SetPaths(dir, dir); }

void KXClass::SetLogLevel(uint32_t level) {
    KX_LibState().LogLevel = level;
    if (__kxlib_log_global) __kxlib_log_global->SetLevel(level);
}

void KXClass::StartLog() {
    KXLibState& s = KX_LibState();
    if (!__kxlib_log_global) {
        if (gLogObject) {
            gLogObject->OpenDefault();
        } else {
            gLogObject = new (std::nothrow) KXLog();
        }
        if (gLogObject) {
            __kxlib_log_global = gLogObject;
            gLogObject->SetLevel(s.LogLevel);
            KXOperator** ops = GetOperators();
            for (int i = 0; ops && ops[i]; i++) ops[i]->SetLog(gLogObject);
            for (uint32_t kind = 0; kind < 2; kind++) {
                KXObject** objs = GetObjects(kind);
                for (int i = 0; objs && objs[i]; i++) objs[i]->SetLog(gLogObject);
            }
        }
    }
    s.LogRefCount++;
}

void KXClass::StopLog() {
    KXLibState& s = KX_LibState();
    int32_t before = s.LogRefCount--;
    if (before != 1 || !__kxlib_log_global) return;
    __kxlib_log_global->Close();
    __kxlib_log_global = nullptr;
    // Tables not built yet take the (now absent) log when they are built.
    for (int i = 0; OperatorsBuilt && Operators[i]; i++) Operators[i]->SetLog(nullptr);
    for (int i = 0; ReadersBuilt && Readers[i]; i++) Readers[i]->SetLog(nullptr);
    for (int i = 0; WritersBuilt && Writers[i]; i++) Writers[i]->SetLog(nullptr);
}

KXLog* KXClass::GetLog() { return __kxlib_log_global; }

KXOperator** KXClass::GetOperators() {
    if (OperatorsBuilt) return Operators;
    uint32_t count = 0;
    const KXOperatorReg* regs = KX_OperatorRegs(&count);
    // The index is the operator number: a failed construction ends the
    // table there rather than shifting the numbers that follow.
    uint32_t n = 0;
    for (; n < count && n < 255; n++) {
        KXOperator* op = KX_NewOperator(this, regs[n]);
        if (!op) break;
        Operators[n] = op;
    }
    Operators[n] = nullptr;
    OperatorsBuilt = true;
    return Operators;
}

KXObject** KXClass::GetObjects(uint32_t kind, uintptr_t) {
    KXObject** table;
    bool* built;
    switch (kind) {
        case 0: table = Readers; built = &ReadersBuilt; break;
        case 1: table = Writers; built = &WritersBuilt; break;
        case 2: table = DeviceReaders; built = &DeviceReadersBuilt; break;
        case 3: table = DeviceWriters; built = &DeviceWritersBuilt; break;
        default: return nullptr;
    }
    if (*built) return table;
    uint32_t count = 0;
    const KXFormatReg* regs = KX_FormatRegs(&count);
    // Positions are taken in order so that the table is filled front to
    // back; a failed construction ends the table there.
    for (int pos = 0; pos < 255; pos++) {
        const KXFormatReg* reg = nullptr;
        for (uint32_t i = 0; i < count && !reg; i++) {
            int p = kind == 0 ? regs[i].Reader : kind == 1 ? regs[i].Writer : kind == 2 ? regs[i].Device : -1;
            if (p == pos) reg = &regs[i];
        }
        KXObject* obj = reg ? KX_NewObject(this, *reg) : nullptr;
        table[pos] = obj;
        if (!obj) break;
    }
    *built = true;
    return table;
}

char* KXSUP_MakeTempFileName(KXClass* lib, char* buffer, size_t size, long counter, const char* name, const char* ext) {
    if (!buffer || !name || !ext || size == 0) return nullptr;
    const char* temp = lib && lib->TempDir ? lib->TempDir : KX_GetProcessTempDir();
    uint32_t id = lib ? lib->InstanceId : KX_GetProcessInstanceId();
    // The address of a local tells concurrent callers (threads) apart.
    int local = 0;
    int n = snprintf(buffer, size, "%s%s_%lx_%lx-%ld.%s", temp, name, (unsigned long)id,
                     (unsigned long)(uintptr_t)&local, counter, ext);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        buffer[0] = 0;
        return nullptr;
    }
    return buffer;
}
