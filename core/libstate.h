// libstate: the library-wide state that belongs to the process, not to a
// library object: instance count and id, the process-wide directories, the
// global log and its reference count. Only the core touches it directly.
#pragma once

#include "kxtypes.h"

struct KXLibState {
    uint32_t InstanceCount = 0;
    uint32_t InstanceId = 0;
    char* TempDir = nullptr;
    char* ProgDir = nullptr;  // most recent program directory
    char* UserDir = nullptr;
    char* SettingsDir = nullptr;
    char* ArchiveSettingsDir = nullptr;
    int32_t LogRefCount = 0;
    uint32_t LogLevel = 0;
};

KXLibState& KX_LibState();

// Reads $TMPDIR again (every library object's Init does) and returns the
// process-wide temporary directory.
const char* KX_RefreshProcessTempDir();

// Replaces one of the process-wide directory texts (copied; null keeps a
// fallback).
void KX_SetProcessDir(char** slot, const char* value, const char* fallback);
