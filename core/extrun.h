// extrun: the hook through which library modules start external programs
// (converters such as Ghostscript or a camera RAW converter). The library
// has a runner of its own (posix_spawnp, no shell); the application may
// register another one at start-up. With the runner removed (null) every
// run fails with KXERR_EXTERNALTOOL.
#pragma once

#include "kxtypes.h"

// Starts program (searched in PATH when it has no "/") with the argument
// vector args (the arguments after the program name, ending with a null
// pointer; null for none) in the working folder workDir (null or empty:
// the current one), without a shell: no quoting, no expansion. The
// program's standard output goes to outputFile when it is given (created
// or emptied first), else it is discarded, as is its standard error; its
// standard input is empty. Waits until the program ends; its exit code is
// not examined. Returns 0, or KXERR_EXTERNALTOOL when it cannot be started
// or waited for, or passed the time limit (below).
typedef uint32_t (*KXExternalRunner)(const char* program, const char* workDir, const char* const* args,
                                     const char* outputFile);

// Registers the process's runner (null removes it); returns the previous one.
KXExternalRunner KX_SetExternalRunner(KXExternalRunner runner);

// The library's own runner, registered until another one is.
uint32_t KX_SpawnExternal(const char* program, const char* workDir, const char* const* args, const char* outputFile);
// The same, also giving the program's exit code (-1 when it did not exit
// normally or did not run) for callers that trust it.
uint32_t KX_SpawnExternalStatus(const char* program, const char* workDir, const char* const* args,
                                const char* outputFile, int* exitCode);

// Time limit of the programs the calling thread starts, in seconds; 0 for
// none. Every thread starts with KX_EXTERNAL_TIME_LIMIT. A program still
// running at its limit is ended with its whole process group (it is started
// as the leader of a group of its own): SIGTERM, then SIGKILL a moment
// later; the run then gives KXERR_EXTERNALTOOL.
constexpr uint32_t KX_EXTERNAL_TIME_LIMIT = 120;
// Sets the calling thread's limit; returns the previous one.
uint32_t KX_SetExternalTimeLimit(uint32_t seconds);
uint32_t KX_GetExternalTimeLimit();
// True when the calling thread's last run was ended at its time limit.
bool KX_ExternalTimedOut();

// Runs through the registered runner; KXERR_EXTERNALTOOL without one.
uint32_t KX_RunExternal(const char* program, const char* workDir, const char* const* args, const char* outputFile);
