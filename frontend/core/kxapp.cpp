// kxapp: start-up and shut-down of the application's working core, the
// instance number, the status line and the result of a command, the
// check-box rules (see kxapp.h).
#include "kxapp.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>

#include "core/colour.h"

namespace {
const char kTag[] = "kaxon5";

std::string withoutSlash(std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

std::string withSlash(std::string s) {
    if (s.empty() || s.back() != '/') s += '/';
    return s;
}

// mkdir -p; true when the directory exists afterwards.
bool makeDirs(const std::string& dir) {
    std::string path;
    size_t pos = 0;
    while (pos != std::string::npos) {
        size_t next = dir.find('/', pos + 1);
        path = dir.substr(0, next);
        if (!path.empty() && path != "/") {
            if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
        }
        pos = next;
    }
    struct stat st;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string defaultUserHome() {
    const char* xdg = getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg) return withoutSlash(xdg) + "/Kaxon5";
    const char* home = getenv("HOME");
    return withoutSlash(home && *home ? home : ".") + "/.config/Kaxon5";
}

// A directory that cannot hold the lock files would leave every instance
// without a number (and their undo and clipboard files sharing names), so
// an unusable one gives way to the next.
std::string lockDirectory(const char* given) {
    for (const char* dir : {given, static_cast<const char*>(getenv("XDG_RUNTIME_DIR"))})
        if (dir && *dir && access(dir, W_OK | X_OK) == 0) return withSlash(dir);
    return withSlash(KX_GetProcessTempDir());
}
}  // namespace

KXApp::KXApp(KXUserInterface* ui) : ApplyProfile(KXSUP_ApplyCMSProfileSRGB), Tasks(ui), UI(ui) {}

KXApp::~KXApp() {
    if (Started) Shutdown();
    ReleaseInstance();
}

std::string KXApp::T(const char* key) { return UI ? UI->Text(key) : std::string(key); }

void KXApp::Status(const std::string& text) {
    if (__kxlib_log_global) __kxlib_log_global->Log(1, "%-16s: status changed: '%s'\n", kTag, text.c_str());
    if (UI) UI->SetStatus(text);
}

void KXApp::ShowResult(Outcome outcome, const std::string& text) {
    if (!text.empty()) Status(text);
    if (!UI) return;
    UI->SetStatusLight(outcome == Outcome::Done     ? KXStatusLight::Green
                       : outcome == Outcome::Flawed ? KXStatusLight::Flawed
                                                    : KXStatusLight::Failed);
}

std::string KXApp::ClipFileName(int32_t index) const { return ClipRoot + "-" + std::to_string(index) + ".tmp"; }

// The instance number is the first n whose lock file "Kaxon5-<n>" this
// process can lock. The kernel drops the lock with the process, so a
// crashed instance leaves no number taken.
uint32_t KXApp::Startup(const KXStartOptions& options) {
    if (Started) return KXERR_NONE;
    std::string dir = lockDirectory(options.LockDir);
    InstanceNumber = 65535;
    AtomName.clear();
    for (uint32_t n = 0; n <= 65535; n++) {
        std::string name = "Kaxon5-" + std::to_string(n);
        int fd = open((dir + name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) continue;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            LockFd = fd;
            InstanceNumber = n;
            AtomName = name;
            break;
        }
        close(fd);
    }

    ProgDir = withoutSlash(options.ProgramDir ? options.ProgramDir : KX_GetExecutableDir());
    UserHome = withoutSlash(options.UserHome ? options.UserHome : defaultUserHome());

    Library = new (std::nothrow) KXClass();
    if (!Library) {
        ClipRoot = "clip" + AtomName;
        EnvDir = EnvArcDir = ProgDir + "/ENV/Kaxon5-Library/";
        return KXERR_NOMEMORY;
    }
    _KXClass = Library;
    Library->SetInstanceId(InstanceNumber);
    Library->SetPaths(ProgDir.c_str(), UserHome.c_str());
    ClipRoot = std::string(Library->TempDir ? Library->TempDir : "") + "clip" + AtomName;
    ClipCounter = 0;
    EnvDir = Library->SettingsDir ? Library->SettingsDir : "";
    EnvArcDir = Library->ArchiveSettingsDir ? Library->ArchiveSettingsDir : "";
    if (!EnvDir.empty()) makeDirs(withoutSlash(EnvDir));

    Settings = KXProgramSettings();
    Settings.StdCmFile = ProgDir + "/Resources/ICCP/sRGB_IEC61966-2-1_black_scaled.icc";
    if (options.FileOnCommandLine) Settings.AutoView = true;

    KX_SetTables(Library);
    KX_InstallRunner();
    Started = true;
    ShutDown = false;

    KXReadProgramSettings(EnvDir.c_str(), EnvArcDir.c_str(), kxoWrite, &Settings);
    Tasks.Threaded = Settings.ThreadedProgress;
    KXSUP_SetSizeLimitSetting(uint64_t(Settings.MaxBufferMB) << 20);

    if (Settings.LogStart) {
        Library->StartLog();
        Library->SetLogLevel(static_cast<uint32_t>(Settings.LogLevel));
        LogStart();
    }
    return KXERR_NONE;
}

void KXApp::LogStart() {
    KXLog* log = __kxlib_log_global;
    if (!log || !Library) return;
    const char* env = Library->SettingsDir ? Library->SettingsDir : "";
    const char* temp = Library->TempDir ? Library->TempDir : "";
    log->Log(1, "%-16s: rootpath %s\n", kTag, ProgDir.c_str());
    log->Log(1, "%-16s: envpath  %s\n", kTag, env);
    log->Log(1, "%-16s: tempdir  %s\n", kTag, temp);
    log->Log(1, "%-16s: Atom: '%s' AtomID: '%ld' AtomInstanceNo: '%ld'\n***\n", "Instance", AtomName.c_str(),
             static_cast<long>(LockFd >= 0 ? LockFd : 0), static_cast<long>(InstanceNumber));
    log->Log(1, "%-16s:\n\tRoot: '%s'\n\tEnv : '%s'\n\tTemp: '%s'\n***\n", "Paths",
             Library->ProgDir ? Library->ProgDir : "", env, temp);
}

void KXApp::ReleaseInstance() {
    if (LockFd >= 0) {
        flock(LockFd, LOCK_UN);
        close(LockFd);
        LockFd = -1;
    }
}

// The fixed order: bridge, area, undo files, log and library object,
// instance number, clipboard files.
void KXApp::Shutdown() {
    if (ShutDown) return;
    ShutDown = true;
    if (!Started) {
        ReleaseInstance();
        return;
    }
    KX_ResetHandle(1, 1, 1);
    KXSUP_FreeGfxBuffer(AreaBuffer);
    AreaBuffer = nullptr;
    ClearUndo();
    if (Library) {
        if (__kxlib_log_global && Settings.LogStart) Library->StopLog();
        KX_SetTables(nullptr);
        objw = nullptr;
        delete Library;
        Library = nullptr;
    }
    ReleaseInstance();
    for (int32_t i = 0; i <= ClipCounter; i++) amDeleteFile(ClipFileName(i).c_str());
    Started = false;
}

void KXApp::ImageReplaced(bool isVirtual) {
    IsVirtual = isVirtual;
    Undone = Modified = SavedChanges = false;
    DecoderFormat.clear();
}

void KXApp::SetUndoActive(bool on) {
    Settings.Undo = on;
    if (!on) ClearUndo();
}

void KXApp::SetAutoConv(bool on) {
    if (!on && AreaBuffer) {
        // The area road converts results to the main image's depth.
        Settings.AutoConv = true;
        Status(T("TXT_AREA_AUTOCONV_ACTIVE_NEED"));
        return;
    }
    Settings.AutoConv = on;
}

void KXApp::SetArea(KX_GfxBuffer* buffer, int32_t left, int32_t top, int32_t width, int32_t height) {
    if (AreaBuffer != buffer) KXSUP_FreeGfxBuffer(AreaBuffer);
    AreaBuffer = buffer;
    AreaLeft = left;
    AreaTop = top;
    AreaWidth = width;
    AreaHeight = height;
}

void KXApp::DropArea() {
    // Only a selection that still held its buffer is reported as dropped;
    // otherwise the status line keeps the message that caused the drop.
    if (AreaBuffer) {
        KXSUP_FreeGfxBuffer(AreaBuffer);
        AreaBuffer = nullptr;
        Status(T("TXT_AREA_DESELECT"));
    }
    if (UI) UI->AreaDropped();
}
