// kxclass: KXClass, the library's root object: instance number, directories,
// the global log and the five module tables, each built on first request.
#pragma once

#include "kxtypes.h"

class KXClass {
public:
    KXClass();
    virtual ~KXClass();

    virtual void Init();
    virtual void Cleanup();
    virtual void SetInstanceId(uint32_t id);
    virtual void SetPaths(const char* programDir, const char* userDir);
    virtual void SetPath(const char* dir);
    virtual void SetLogLevel(uint32_t level);
    virtual void StartLog();
    virtual void StopLog();
    virtual KXLog* GetLog();
    virtual KXOperator** GetOperators();
    virtual KXObject** GetObjects(uint32_t kind, uintptr_t unused = 0);

    char* TempDir = nullptr;
    char* ProgDir = nullptr;
    char* SettingsDir = nullptr;
    char* ArchiveSettingsDir = nullptr;
    char* UserDir = nullptr;
    const char* Separator = "/";
    uint32_t InstanceId = 0;
    KXOperator* Operators[256] = {};
    KXObject* Readers[256] = {};
    KXObject* Writers[256] = {};
    KXObject* DeviceReaders[256] = {};
    KXObject* DeviceWriters[256] = {};
    bool TempDirOwned = false, ProgDirOwned = false, SettingsDirOwned = false, ArchiveDirOwned = false, UserDirOwned = false;
    bool OperatorsBuilt = false, ReadersBuilt = false, WritersBuilt = false, DeviceReadersBuilt = false, DeviceWritersBuilt = false;
};

// The application's library object; module default constructors build on it.
extern KXClass* _KXClass;

// Library-wide state, shared by every library object of the process.
uint32_t KX_GetProcessInstanceId();
// A new instance id: the process id in the low 22 bits, random bits above,
// so that two processes never draw the same one.
uint32_t KX_NewInstanceId();
// The process-wide temporary directory: a private kaxon5-<uid>/ (0700, this
// user's) under $TMPDIR, else under /tmp; never null. When none can be made
// it names no usable folder and KX_TempDirError says why.
const char* KX_GetProcessTempDir();
// Why the last attempt found no private temporary folder; "" when it did.
const char* KX_TempDirError();
// The directory of the running executable, ending in "/".
const char* KX_GetExecutableDir();
// The most recent program and settings directories set by any library object.
const char* KX_GetProcessProgDir();
const char* KX_GetProcessSettingsDir();
const char* KX_GetProcessArchiveSettingsDir();

// Writes "<temp><name>_<id hex>_<caller hex>-<counter>.<ext>" into buffer.
// Null when buffer, name or extension is null or the name does not fit.
char* KXSUP_MakeTempFileName(KXClass* lib, char* buffer, size_t size, long counter, const char* name, const char* ext);
