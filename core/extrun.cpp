// extrun: the registered external-program runner and the library's own
// (see extrun.h).
#include "extrun.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <vector>

extern char** environ;

namespace {
std::atomic<KXExternalRunner> gRunner{KX_SpawnExternal};
}

uint32_t KX_SpawnExternalStatus(const char* program, const char* workDir, const char* const* args,
                                const char* outputFile, int* exitCode) {
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
    pid_t pid = 0;
    int rc = ok ? posix_spawnp(&pid, program, &actions, nullptr, argv.data(), environ) : -1;
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return KXERR_EXTERNALTOOL;
    int status = 0;
    pid_t w;
    do {
        w = waitpid(pid, &status, 0);
    } while (w < 0 && errno == EINTR);
    if (exitCode && w == pid && WIFEXITED(status)) *exitCode = WEXITSTATUS(status);
    return w == pid ? KXERR_NONE : KXERR_EXTERNALTOOL;
}

uint32_t KX_SpawnExternal(const char* program, const char* workDir, const char* const* args, const char* outputFile) {
    return KX_SpawnExternalStatus(program, workDir, args, outputFile, nullptr);
}

KXExternalRunner KX_SetExternalRunner(KXExternalRunner runner) { return gRunner.exchange(runner); }

uint32_t KX_RunExternal(const char* program, const char* workDir, const char* const* args, const char* outputFile) {
    KXExternalRunner runner = gRunner.load();
    if (!runner || !program || !*program) return KXERR_EXTERNALTOOL;
    return runner(program, workDir, args, outputFile);
}
