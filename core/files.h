// files: the am* helpers around the C runtime's buffered files, path
// splitting and the "_COMMENT.txt" side file. Paths use "/" only.
#pragma once

#include <cstdio>

#include "kxtypes.h"

FILE* amOpen(const char* path, const char* mode);
int amClose(FILE* file);
// One block: length when whole, 0 when short, -1 on a stream error.
long amRead(FILE* file, void* buffer, size_t length);
long amWrite(FILE* file, const void* data, size_t length);
long amFRead(FILE* file, void* buffer, size_t size, size_t count);
long amFWrite(FILE* file, const void* data, size_t size, size_t count);
int amFGetC(FILE* file);
int amFPutC(FILE* file, int c);
char* amFGets(FILE* file, char* buffer, int size);
int amFPuts(FILE* file, const char* text);
// Returns the position before the move, or -1.
long amSeek(FILE* file, long offset, int origin);
int amSetVBuf(FILE* file, char* buffer, int mode, size_t size);
int amSetComment(const char* imagePath, const char* text);
int amGetComment(const char* imagePath, char* buffer, size_t size);
int amDeleteFile(const char* path);
int amRename(const char* oldPath, const char* newPath);
int amFileExists(const char* path);
const char* amFilePart(const char* path);
const char* amPathPart(const char* path);

// Side-file name of an image path: cut at a "." after the last "/", then
// "_COMMENT.txt". Returns false when it does not fit.
bool KXSUP_CommentFileName(const char* imagePath, char* out, size_t size);

// Safe save: opens a sibling temporary file for writing; KXSUP_SafeCommit
// closes it and renames it over the target only when ok is true, else
// deletes it. A failed save therefore leaves the old file as it was.
struct KXSafeFile {
    FILE* File;
    char TempPath[4096];
    char Target[4096];
};
FILE* KXSUP_SafeOpen(KXSafeFile* sf, const char* target);
// Returns KXERR_NONE, or KXERR_IO when closing or renaming failed.
uint32_t KXSUP_SafeCommit(KXSafeFile* sf, bool ok);
