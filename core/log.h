// log: the library's log file, one per instance in the temporary directory.
// Callers put the tag, ": " and the line feed into their own formats.
#pragma once

#include <cstdarg>
#include <cstdio>

#include "kxtypes.h"

class KXLog {
public:
    KXLog();
    virtual ~KXLog();

    virtual void Open(const char* name, int overwrite);
    virtual void OpenDefault();
    virtual void Close();
    virtual void Stop();
    virtual void Restart();
    virtual void SetLevel(uint32_t level);
    virtual void Flush();
    virtual void Log(uint32_t level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    virtual void Print(const char* format, ...) __attribute__((format(printf, 2, 3)));
    virtual void VLog(uint32_t level, const char* format, va_list args);
    virtual const char* GetPath();

    uint32_t Level = 0;
    FILE* File = nullptr;
    char* Path = nullptr;
    char FileName[256] = {};

private:
    char StreamBuffer[80] = {};
};

// The process-wide log (none while logging is off); the memory functions write here.
extern KXLog* __kxlib_log_global;
