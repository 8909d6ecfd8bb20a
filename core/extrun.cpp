// extrun: the registered external-program runner and the library's own
// (see extrun.h).
#include "extrun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <vector>

extern char** environ;

namespace {
std::atomic<KXExternalRunner> gRunner{KX_SpawnExternal};
thread_local uint32_t tLimit = KX_EXTERNAL_TIME_LIMIT;
thread_local bool tTimedOut = false;

// How long a program may take to go after SIGTERM before it is killed.
constexpr int kTermGraceMs = 1000;

int64_t nowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Waits up to ms milliseconds (negative: without end) for pid to exit,
// leaving it unreaped, so that its process group cannot be taken by
// another process meanwhile. True once it has exited.
bool waitExit(pid_t pid, int pidfd, int64_t ms) {
    const int64_t end = ms < 0 ? 0 : nowMs() + ms;
    int sleepMs = 1;
    for (;;) {
        siginfo_t info = {};
        int r = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
        if (r == 0 && info.si_pid == pid) return true;
        if (r < 0 && errno != EINTR) return true;  // nothing to wait for
        int left = -1;
        if (ms >= 0) {
            const int64_t rest = end - nowMs();
            if (rest <= 0) return false;
            left = rest > 1000 ? 1000 : static_cast<int>(rest);
        }
        if (pidfd >= 0) {
            pollfd p = {pidfd, POLLIN, 0};
            poll(&p, 1, left);
        } else {
            // No process descriptor (an old kernel): look again soon.
            const int step = left >= 0 && left < sleepMs ? left : sleepMs;
            usleep(static_cast<useconds_t>(step) * 1000);
            if (sleepMs < 50) sleepMs *= 2;
        }
    }
}

int openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}
}  // namespace

uint32_t KX_SetExternalTimeLimit(uint32_t seconds) {
    const uint32_t old = tLimit;
    tLimit = seconds;
    return old;
}

uint32_t KX_GetExternalTimeLimit() { return tLimit; }

bool KX_ExternalTimedOut() { return tTimedOut; }

uint32_t KX_SpawnExternalStatus(const char* program, const char* workDir, const char* const* args,
                                const char* outputFile, int* exitCode) {
    tTimedOut = false;
    if (exitCode) *exitCode = -1;
    if (!program || !*program) return KXERR_EXTERNALTOOL;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program));
    for (int i = 0; args && args[i]; i++) argv.push_back(const_cast<char*>(args[i]));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return KXERR_EXTERNALTOOL;
    // Output nobody wants goes to /dev/null, so that a talkative program
    // never blocks on a full pipe.
    bool ok = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
              posix_spawn_file_actions_addopen(&actions, 1, outputFile && *outputFile ? outputFile : "/dev/null",
                                               O_WRONLY | O_CREAT | O_TRUNC, 0644) == 0 &&
              posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0) == 0;
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 29))
    if (ok && workDir && *workDir) ok = posix_spawn_file_actions_addchdir_np(&actions, workDir) == 0;
#else
    if (workDir && *workDir) ok = false;
#endif
    // A group of its own, so that the time limit ends the program's helpers
    // too (Ghostscript and the camera converter start none, a script may);
    // the signals the limit sends take their default action in it.
    posix_spawnattr_t attr;
    bool attrOk = ok && posix_spawnattr_init(&attr) == 0;
    if (attrOk) {
        sigset_t none, defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGTERM);
        sigaddset(&defaults, SIGPIPE);
        ok = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0 &&
             posix_spawnattr_setpgroup(&attr, 0) == 0 && posix_spawnattr_setsigmask(&attr, &none) == 0 &&
             posix_spawnattr_setsigdefault(&attr, &defaults) == 0;
    }
    pid_t pid = 0;
    int rc = ok && attrOk ? posix_spawnp(&pid, program, &actions, &attr, argv.data(), environ) : -1;
    if (attrOk) posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return KXERR_EXTERNALTOOL;

    const uint32_t limit = tLimit;
    const int pidfd = limit ? openPidfd(pid) : -1;
    if (limit && !waitExit(pid, pidfd, int64_t(limit) * 1000)) {
        tTimedOut = true;
        kill(-pid, SIGTERM);
        waitExit(pid, pidfd, kTermGraceMs);
        // The leader is not reaped yet, so the group id still names its group.
        kill(-pid, SIGKILL);
    }
    if (pidfd >= 0) close(pidfd);
    int status = 0;
    pid_t w;
    do {
        w = waitpid(pid, &status, 0);
    } while (w < 0 && errno == EINTR);
    if (tTimedOut) return KXERR_EXTERNALTOOL;
    if (exitCode && w == pid && WIFEXITED(status)) *exitCode = WEXITSTATUS(status);
    return w == pid ? KXERR_NONE : KXERR_EXTERNALTOOL;
}

uint32_t KX_SpawnExternal(const char* program, const char* workDir, const char* const* args, const char* outputFile) {
    return KX_SpawnExternalStatus(program, workDir, args, outputFile, nullptr);
}

KXExternalRunner KX_SetExternalRunner(KXExternalRunner runner) { return gRunner.exchange(runner); }

uint32_t KX_RunExternal(const char* program, const char* workDir, const char* const* args, const char* outputFile) {
    tTimedOut = false;
    KXExternalRunner runner = gRunner.load();
    if (!runner || !program || !*program) return KXERR_EXTERNALTOOL;
    return runner(program, workDir, args, outputFile);
}
