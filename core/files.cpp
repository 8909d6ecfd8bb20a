// files: thin helpers over the C runtime's buffered files, the side file
// and the safe save (sibling temporary file renamed over the target).
#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

FILE* amOpen(const char* path, const char* mode) {
    if (!path || !mode) return nullptr;
    return fopen(path, mode);
}

int amClose(FILE* file) { return file ? fclose(file) : -1; }

long amRead(FILE* file, void* buffer, size_t length) {
    if (!file || !buffer || length == 0) return 0;
    if (fread(buffer, length, 1, file) == 1) return (long)length;
    return ferror(file) ? -1 : 0;
}

long amWrite(FILE* file, const void* data, size_t length) {
    if (!file || !data || length == 0) return 0;
    if (fwrite(data, length, 1, file) == 1) return (long)length;
    return ferror(file) ? -1 : 0;
}

long amFRead(FILE* file, void* buffer, size_t size, size_t count) {
    if (!file || !buffer) return -1;
    size_t n = fread(buffer, size, count, file);
    if (n < count && ferror(file)) return -1;
    return (long)n;
}

long amFWrite(FILE* file, const void* data, size_t size, size_t count) {
    if (!file || !data) return -1;
    size_t n = fwrite(data, size, count, file);
    if (n < count && ferror(file)) return -1;
    return (long)n;
}

int amFGetC(FILE* file) { return file ? fgetc(file) : -1; }
int amFPutC(FILE* file, int c) { return file ? fputc(c & 0xFF, file) : -1; }
char* amFGets(FILE* file, char* buffer, int size) { return (file && buffer && size > 0) ? fgets(buffer, size, file) : nullptr; }
int amFPuts(FILE* file, const char* text) { return (file && text) ? fputs(text, file) : -1; }

long amSeek(FILE* file, long offset, int origin) {
    if (!file) return -1;
    long before = ftell(file);
    if (before < 0) return -1;
    if (offset == 0 && origin == SEEK_CUR) return before;
    if (fseek(file, offset, origin) != 0) return -1;
    return before;
}

int amSetVBuf(FILE* file, char* buffer, int mode, size_t size) {
    if (!file) return -1;
    long pos = ftell(file);
    fseek(file, 0, SEEK_SET);
    int r = setvbuf(file, buffer, mode, size);
    if (pos >= 0) fseek(file, pos, SEEK_SET);
    return r;
}

bool KXSUP_CommentFileName(const char* imagePath, char* out, size_t size) {
    if (!imagePath || !out || size == 0) return false;
    const char* slash = strrchr(imagePath, '/');
    const char* dot = strrchr(imagePath, '.');
    size_t keep = strlen(imagePath);
    // Only a "." in the file name itself starts the extension.
    if (dot && (!slash || dot > slash)) keep = (size_t)(dot - imagePath);
    static const char kSuffix[] = "_COMMENT.txt";
    if (keep + sizeof(kSuffix) > size) return false;
    memcpy(out, imagePath, keep);
    memcpy(out + keep, kSuffix, sizeof(kSuffix));
    return true;
}

int amSetComment(const char* imagePath, const char* text) {
    if (!imagePath || !text) return 0;
    char name[4096];
    if (!KXSUP_CommentFileName(imagePath, name, sizeof(name))) return 0;
    FILE* f = fopen(name, "wb");
    if (!f) return 0;
    size_t n = strlen(text);
    bool ok = (n == 0 || fwrite(text, n, 1, f) == 1);
    if (fclose(f) != 0) ok = false;
    return ok ? 1 : 0;
}

int amGetComment(const char* imagePath, char* buffer, size_t size) {
    if (!buffer || size == 0) return 0;
    buffer[0] = 0;
    if (!imagePath) return 0;
    char name[4096];
    if (!KXSUP_CommentFileName(imagePath, name, sizeof(name))) return 0;
    FILE* f = fopen(name, "rb");
    if (!f) return 0;
    // A one-byte buffer holds no character: nothing was read.
    int ok = fgets(buffer, (int)(size > 0x7FFFFFFF ? 0x7FFFFFFF : size), f) != nullptr && buffer[0] != 0;
    if (!ok) buffer[0] = 0;
    fclose(f);
    return ok;
}

int amDeleteFile(const char* path) { return (path && unlink(path) == 0) ? 1 : 0; }
int amRename(const char* oldPath, const char* newPath) { return (oldPath && newPath && rename(oldPath, newPath) == 0) ? 1 : 0; }

int amFileExists(const char* path) {
    FILE* f = amOpen(path, "rb");
    if (!f) return 0;
    fclose(f);
    return 1;
}

const char* amFilePart(const char* path) {
    if (!path) return nullptr;
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

const char* amPathPart(const char* path) {
    if (!path) return nullptr;
    const char* slash = strrchr(path, '/');
    if (!slash) return path;
    // Leading separators belong to the folder part ("/x" ends after the "/").
    const char* p = path;
    while (*p == '/') ++p;
    if (slash < p) return p;
    return slash;
}

FILE* KXSUP_SafeOpen(KXSafeFile* sf, const char* target) {
    if (!sf || !target) return nullptr;
    sf->File = nullptr;
    sf->TempPath[0] = 0;
    size_t n = strlen(target);
    if (n + 1 > sizeof(sf->Target)) return nullptr;
    memcpy(sf->Target, target, n + 1);
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        int len = snprintf(sf->TempPath, sizeof(sf->TempPath), "%s.kx5tmp-%ld-%u", target, (long)getpid(), counter++);
        if (len < 0 || (size_t)len >= sizeof(sf->TempPath)) return nullptr;
        // O_EXCL: never follow or reuse a name someone else placed there.
        int fd = open(sf->TempPath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            sf->TempPath[0] = 0;
            return nullptr;
        }
        // The replacement keeps the permissions of the file it replaces.
        struct stat st;
        if (stat(target, &st) == 0 && S_ISREG(st.st_mode)) fchmod(fd, st.st_mode & 07777);
        sf->File = fdopen(fd, "wb");
        if (!sf->File) {
            close(fd);
            unlink(sf->TempPath);
            sf->TempPath[0] = 0;
        }
        return sf->File;
    }
    sf->TempPath[0] = 0;
    return nullptr;
}

uint32_t KXSUP_SafeCommit(KXSafeFile* sf, bool ok) {
    if (!sf || !sf->File) return KXERR_IO;
    if (fflush(sf->File) != 0 || ferror(sf->File)) ok = false;
    if (fclose(sf->File) != 0) ok = false;
    sf->File = nullptr;
    if (ok && rename(sf->TempPath, sf->Target) == 0) {
        sf->TempPath[0] = 0;
        return KXERR_NONE;
    }
    unlink(sf->TempPath);
    sf->TempPath[0] = 0;
    return KXERR_IO;
}
