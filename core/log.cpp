// log: one text file per instance in the temporary directory, written when
// the log's level is at least the line's level.
#include "log.h"

#include <cstdlib>
#include <cstring>

#include "kxclass.h"

KXLog* __kxlib_log_global = nullptr;

KXLog::KXLog() { OpenDefault(); }

KXLog::~KXLog() {
    Close();
    free(Path);
}

void KXLog::Open(const char* name, int overwrite) {
    if (!name) return;
    const char* temp = KX_GetProcessTempDir();
    unsigned long id = KX_GetProcessInstanceId();
    snprintf(FileName, sizeof(FileName), "%s_%ld.log", name, (long)id);
    size_t n = strlen(temp) + strlen(FileName) + 1;
    char* path = static_cast<char*>(malloc(n));
    if (!path) return;
    snprintf(path, n, "%s%s", temp, FileName);
    free(Path);
    Path = path;
    // Opening again closes the file in use first: two streams must not
    // share the one stream buffer, and the old one would never be closed.
    Stop();
    File = fopen(Path, overwrite ? "w" : "a");
    if (!File) return;
    setvbuf(File, StreamBuffer, _IOLBF, 79);
    fprintf(File, "Logfile: %s%s_%ld.log\n***\n", temp, name, (long)id);
}

void KXLog::OpenDefault() { Open("kxlib", 1); }

void KXLog::Close() {
    Stop();
    Level = 0;
}

void KXLog::Stop() {
    if (!File) return;
    fputs("*** Logging stopped ***\n", File);
    fclose(File);
    File = nullptr;
}

void KXLog::Restart() {
    if (!Path || File) return;
    File = fopen(Path, "a");
    if (!File) return;
    setvbuf(File, StreamBuffer, _IOLBF, 79);
    fputs("*** Logging restarted ***\n", File);
}

void KXLog::SetLevel(uint32_t level) {
    Level = level;
    if (File) fprintf(File, "*** Loglevel changed to %ld ***\n", (long)level);
}

void KXLog::Flush() {
    if (File) fflush(File);
}

void KXLog::Log(uint32_t level, const char* format, ...) {
    if (!File || Level < level || !format) return;
    va_list args;
    va_start(args, format);
    vfprintf(File, format, args);
    va_end(args);
}

void KXLog::Print(const char* format, ...) {
    if (!File || !format) return;
    va_list args;
    va_start(args, format);
    vfprintf(File, format, args);
    va_end(args);
}

void KXLog::VLog(uint32_t level, const char* format, va_list args) {
    if (!File || Level < level || !format) return;
    vfprintf(File, format, args);
}

const char* KXLog::GetPath() { return Path; }
