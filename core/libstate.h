// libstate: the library-wide state that belongs to the process, not to a
// library object: instance count and id, the process-wide directories, the
// global log and its reference count; and what the two module base classes
// share. Only the core touches it directly.
#pragma once

#include "controlpad.h"
#include "kxtypes.h"

struct KXLibState {
    uint32_t InstanceCount = 0;
    uint32_t InstanceId = 0;
    // The directory texts are kept for the life of the process (see
    // KX_SetProcessDir), so a pointer read here never dangles.
    const char* TempDir = nullptr;
    const char* ProgDir = nullptr;  // most recent program directory
    const char* UserDir = nullptr;
    const char* SettingsDir = nullptr;
    const char* ArchiveSettingsDir = nullptr;
    int32_t LogRefCount = 0;
    uint32_t LogLevel = 0;
};

KXLibState& KX_LibState();

// Reads $TMPDIR again (every library object's Init does) and returns the
// process-wide temporary directory.
const char* KX_RefreshProcessTempDir();

// Replaces one of the process-wide directory texts with a copy of value (of
// fallback when value is null). Copies are never freed: a module on the
// other thread, or a library object, may still hold the text it read
// before another library object replaced it.
void KX_SetProcessDir(const char** slot, const char* value, const char* fallback);

// ---- what the two module base classes share ----
namespace kxbase {
// Settings and archive pad paths (AllocVec) from the library object's
// directories, or the process-wide ones without a library object; the pad
// path in use is the settings path, or the bare pad name.
void MakePadPaths(KXClass* lib, const char* padName, char** settings, char** archive, const char** inUse);
void FreePadPaths(char** settings, char** archive, const char** inUse);
void InitPadList(List* list, KXPadNode* node);
// Reads the settings pad, else the archive pad, into the own node (named by
// the pad path in use) and returns the own list; null when neither loads.
List* LoadOwnPad(KXLog* log, const char* padName, const char* padPath, const char* settingsPath,
                 const char* archivePath, List* list, KXPadNode* node);
void FreeOwnPad(List** inUse, List* list, KXPadNode* node);
// What Configure reads from its tags: the settings list to use and, where
// specialInfo is given, the metadata record; logged under padName.
void ReadConfigTags(KXLog* log, const char* padName, const TagItem* tags, List** padList, KXOSpecialInfo** specialInfo);
// The settings list's pad named by the pad path in use, else the settings
// pad file, else the archive pad file; case-sensitive key.
int GetKey(List* padList, const char* padPath, const char* settingsPath, const char* archivePath,
           const char* key, char* value, size_t size);
}  // namespace kxbase
