// libstate: process-wide directories and ids. The temporary directory is a
// private kaxon5-<uid>/ under $TMPDIR, else under /tmp (mode 0700, refused
// unless it is a real directory owned by this user, since fixed names in a
// shared folder would let another user plant links). When no private
// folder can be made there is no temporary directory: the error is kept
// (KX_TempDirError) and every file made in it fails.
#include "libstate.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <string>

#include "kxclass.h"

KXLibState& KX_LibState() {
    static KXLibState state;
    return state;
}

namespace {
// Each distinct directory text once; only a handful ever occur. Never
// destroyed, as readers may run during static destruction.
const char* keepText(const char* text) {
    static std::mutex lock;
    static auto* texts = new std::set<std::string>;
    std::lock_guard<std::mutex> guard(lock);
    return texts->insert(text).first->c_str();
}
}  // namespace

void KX_SetProcessDir(const char** slot, const char* value, const char* fallback) {
    const char* src = value ? value : fallback;
    if (!src) return;
    try {
        *slot = keepText(src);
    } catch (const std::bad_alloc&) {
        // The old text stays in use.
    }
}

namespace {
std::mutex gTempLock;
std::string gTempError;  // guarded by gTempLock

// No file can be made below a name that is not a directory.
const char* const kNoTempDir = "/dev/null/kaxon5-no-private-temp-folder/";

// Empty when dir is a private directory of this user, else why not.
std::string privateDirProblem(const std::string& dir) {
    struct stat st;
    if (lstat(dir.c_str(), &st) != 0) return strerror(errno);
    if (S_ISLNK(st.st_mode)) return "it is a symbolic link";
    if (!S_ISDIR(st.st_mode)) return "it is not a folder";
    if (st.st_uid != getuid()) return "it belongs to another user";
    if ((st.st_mode & 077) != 0) return "others may use it (mode not 0700)";
    return std::string();
}

std::string computeTempDir() {
    const char* env = getenv("TMPDIR");
    std::string base = env && *env ? env : "/tmp";
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    // Every library object asks again: the private directory picked under
    // a base is kept while it stays private, so the process does not
    // scatter fresh directories (and its log and temporary files).
    static std::string pickedBase, picked;
    std::lock_guard<std::mutex> guard(gTempLock);
    if (!picked.empty() && pickedBase == base && privateDirProblem(picked).empty()) {
        gTempError.clear();
        return picked + "/";
    }
    const std::string dir = base + "/kaxon5-" + std::to_string(getuid());
    mkdir(dir.c_str(), 0700);
    std::string problem = privateDirProblem(dir);
    std::string made = dir;
    if (!problem.empty()) {
        // The fixed name is taken by someone else: make a fresh private one.
        std::string buf = dir + "-XXXXXX";
        if (mkdtemp(buf.data()) && privateDirProblem(buf).empty()) {
            made = buf;
            problem.clear();
        }
    }
    if (!problem.empty()) {
        // Never a shared folder instead: files there could be read or
        // replaced by others.
        gTempError = "No private temporary folder: " + dir + ": " + problem;
        fprintf(stderr, "Kaxon5: %s\n", gTempError.c_str());
        picked.clear();
        return kNoTempDir;
    }
    gTempError.clear();
    pickedBase = base;
    picked = made;
    return made + "/";
}

std::string computeExeDir() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) return "./";
    buf[n] = 0;
    char* slash = strrchr(buf, '/');
    if (!slash) return "./";
    slash[1] = 0;
    return buf;
}
}  // namespace

const char* KX_RefreshProcessTempDir() {
    KX_SetProcessDir(&KX_LibState().TempDir, computeTempDir().c_str(), "./");
    return KX_LibState().TempDir;
}

const char* KX_TempDirError() {
    std::string text;
    {
        std::lock_guard<std::mutex> guard(gTempLock);
        text = gTempError;
    }
    try {
        return keepText(text.c_str());
    } catch (const std::bad_alloc&) {
        return text.empty() ? "" : "No private temporary folder.";
    }
}

const char* KX_GetProcessTempDir() {
    KXLibState& s = KX_LibState();
    return s.TempDir ? s.TempDir : KX_RefreshProcessTempDir();
}

const char* KX_GetExecutableDir() {
    static const std::string dir = computeExeDir();
    return dir.c_str();
}

uint32_t KX_GetProcessInstanceId() { return KX_LibState().InstanceId; }

const char* KX_GetProcessProgDir() {
    KXLibState& s = KX_LibState();
    return s.ProgDir ? s.ProgDir : KX_GetExecutableDir();
}

const char* KX_GetProcessSettingsDir() { return KX_LibState().SettingsDir ? KX_LibState().SettingsDir : ""; }

const char* KX_GetProcessArchiveSettingsDir() {
    return KX_LibState().ArchiveSettingsDir ? KX_LibState().ArchiveSettingsDir : "";
}
