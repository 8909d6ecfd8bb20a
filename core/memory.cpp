// memory: AllocVec and friends. Every call is traced at level 9 in the
// global log; the level test comes first so that tracing costs nothing
// at lower levels.
#include "memory.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log.h"

namespace {
inline bool tracing() { return __kxlib_log_global && __kxlib_log_global->Level >= 9; }
}  // namespace

void* AllocVec(size_t size, uint32_t flags) {
    void* block = nullptr;
    if (size > 0) block = (flags & MEMF_CLEAR) ? calloc(1, size) : malloc(size);
    if (tracing())
        __kxlib_log_global->Log(9, "%-16s: $%016llx (S: %08ld, F: $%08lx)\n", "AllocVec",
                                (unsigned long long)(uintptr_t)block, (long)size, (unsigned long)flags);
    return block;
}

void* ReAllocVec(void* block, size_t size, uint32_t flags) {
    if (!block) return AllocVec(size, flags);
    if (size == 0) {
        if (tracing())
            __kxlib_log_global->Log(9, "%-16s: $%016llx (S: %08ld)\n", "ReAllocVec", (unsigned long long)(uintptr_t)block, (long)size);
        free(block);
        return nullptr;
    }
    // The old address is only printed; format it before the block can move.
    char oldText[24];
    snprintf(oldText, sizeof(oldText), "%016llx", (unsigned long long)(uintptr_t)block);
    void* grown = realloc(block, size);
    if (tracing())
        __kxlib_log_global->Log(9, "%-16s: $%s (S: ????????, F: $%08lx) => $%016llx (S: %08ld)\n", "ReAllocVec", oldText,
                                (unsigned long)flags, (unsigned long long)(uintptr_t)grown, (long)size);
    return grown;
}

void FreeVec(void* block) {
    if (tracing()) {
        if (block)
            __kxlib_log_global->Log(9, "%-16s: $%016llx\n", "FreeVec", (unsigned long long)(uintptr_t)block);
        else
            __kxlib_log_global->Log(9, "%-16s: NULL\n", "FreeVec");
    }
    free(block);
}

void* AllocVecNamed(size_t size, uint32_t flags, size_t extra, const char* tag) {
    if (tracing()) __kxlib_log_global->Log(9, "%-16s: %04ld + %04ld\n", tag ? tag : "", (long)size, (long)extra);
    // Sizes come from codec libraries reading files: a sum that wraps
    // would hand back a tiny block for a huge request.
    if (size > SIZE_MAX - extra) return AllocVec(0, flags);
    return AllocVec(size ? size + extra : 0, flags);
}

void* ReAllocVecNamed(void* block, size_t size, uint32_t flags, size_t extra, const char* tag) {
    if (tracing()) __kxlib_log_global->Log(9, "%-16s: %04ld + %04ld\n", tag ? tag : "", (long)size, (long)extra);
    if (size > SIZE_MAX - extra) return nullptr;  // the old block stays, as after a failed resize
    return ReAllocVec(block, size ? size + extra : 0, flags);
}

void FreeVecNamed(void* block, const char* tag) {
    if (tracing()) __kxlib_log_global->Log(9, "%-16s:\n", tag ? tag : "");
    FreeVec(block);
}

void CopyMem(const void* source, void* destination, size_t length) {
    if (length) memmove(destination, source, length);
}

void CopyMemQuick(const void* source, void* destination, size_t length) { CopyMem(source, destination, length); }

namespace {
uint32_t g_sizeLimit = 0xFFFFFFFFu;
}

void KXSUP_SetSizeLimit(uint32_t limit) { g_sizeLimit = limit; }

bool KXSUP_CheckedSize(uint32_t* out, uint64_t a, uint64_t b, uint64_t c, uint64_t d) {
    if (out) *out = 0;
    unsigned __int128 p = (unsigned __int128)a * b;
    if (p > g_sizeLimit) return false;
    p *= c;
    if (p > g_sizeLimit) return false;
    p *= d;
    if (p > g_sizeLimit) return false;
    if (out) *out = (uint32_t)p;
    return true;
}
