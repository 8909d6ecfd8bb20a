// libstate: process-wide directories and ids. The temporary directory is
// $TMPDIR with "/" appended; without TMPDIR a private /tmp/kaxon5-<uid>/
// (mode 0700, refused unless it is a real directory owned by this user,
// since fixed names in a shared /tmp would let another user plant links).
#include "libstate.h"

#include <sys/stat.h>
#include <unistd.h>

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
bool privateDirOk(const std::string& dir) {
    struct stat st;
    if (lstat(dir.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0;
}

std::string computeTempDir() {
    const char* env = getenv("TMPDIR");
    if (env && *env) return std::string(env) + "/";
    // Every library object asks again: the private directory picked once is
    // kept while it stays private, so the process does not scatter fresh
    // directories (and its log and temporary files) over /tmp.
    static std::mutex lock;
    static std::string picked;
    std::lock_guard<std::mutex> guard(lock);
    if (!picked.empty() && privateDirOk(picked)) return picked + "/";
    std::string dir = "/tmp/kaxon5-" + std::to_string(getuid());
    mkdir(dir.c_str(), 0700);
    if (privateDirOk(dir)) {
        picked = dir;
        return dir + "/";
    }
    // The fixed name is taken by someone else: make a fresh private one.
    std::string buf = dir + "-XXXXXX";
    if (mkdtemp(buf.data())) {
        picked = buf;
        return buf + "/";
    }
    return dir + "/";
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
