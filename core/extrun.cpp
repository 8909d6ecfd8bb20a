// extrun: the registered external-program runner (see extrun.h).
#include "extrun.h"

#include <atomic>

namespace {
std::atomic<KXExternalRunner> gRunner{nullptr};
}

KXExternalRunner KX_SetExternalRunner(KXExternalRunner runner) { return gRunner.exchange(runner); }

uint32_t KX_RunExternal(const char* program, const char* workDir, const char* const* args, const char* outputFile) {
    KXExternalRunner runner = gRunner.load();
    if (!runner || !program || !*program) return KXERR_EXTERNALTOOL;
    return runner(program, workDir, args, outputFile);
}
