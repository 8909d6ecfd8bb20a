// memory: AllocVec and friends. Every call is traced at level 9 in the
// global log; the level test comes first so that tracing costs nothing
// at lower levels.
#include "memory.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

#include "log.h"

namespace {
constexpr size_t kHugeAdviceFrom = size_t(4) << 20;
// Asks the kernel to back a fresh block with transparent huge pages: a
// picture is then faulted in 2 MB at a time instead of 4 KB. Only advice;
// call before the block is first touched.
void adviseHugePages(void* block, size_t size) {
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t huge = uintptr_t(2) << 20;
    if (!block || size < 2 * huge) return;
    // Only whole huge pages inside the block: the advice covers no neighbour.
    const uintptr_t from = (reinterpret_cast<uintptr_t>(block) + huge - 1) & ~(huge - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(block) + size) & ~(huge - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    (void)block;
    (void)size;
#endif
}

inline bool tracing() { return __kxlib_log_global && __kxlib_log_global->Level >= 9; }
}  // namespace

void* AllocVec(size_t size, uint32_t flags) {
    void* block = nullptr;
    if (size > 0) block = (flags & MEMF_CLEAR) ? calloc(1, size) : malloc(size);
    // Picture-sized blocks: a first touch per 4 KiB page costs more than the
    // work on it, so every large block asks for huge pages, whoever allocates it.
    if (block && size >= kHugeAdviceFrom) adviseHugePages(block, size);
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

constexpr uint64_t kLeastSetLimit = uint64_t(1) << 20;  // 1 MiB

// The environment's limit, or 0 when the variable is unset or unusable.
uint32_t environmentLimit() {
    uint64_t bytes = 0;
    const char* text = getenv(KAXON5_MAX_BUFFER_ENV);
    if (!text || !KXSUP_ParseByteCount(text, &bytes) || bytes < kLeastSetLimit) return 0;
    return bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(bytes);
}

uint32_t limitFromEnvironment() {
    const uint32_t limit = environmentLimit();
    return limit ? limit : KXSUP_DEFAULT_SIZE_LIMIT;
}

// Read once, at first use, on whichever thread gets there first.
std::atomic<uint32_t>& sizeLimit() {
    static std::atomic<uint32_t> limit{limitFromEnvironment()};
    return limit;
}

}  // namespace

void KXSUP_SetSizeLimit(uint32_t limit) { sizeLimit().store(limit ? limit : 1); }

void KXSUP_RaiseSizeLimit(uint64_t bytes) {
    const uint32_t wanted = bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(bytes);
    uint32_t now = sizeLimit().load();
    while (wanted > now && !sizeLimit().compare_exchange_weak(now, wanted)) {
    }
}

void KXSUP_SetSizeLimitSetting(uint64_t bytes) {
    if (bytes < kLeastSetLimit || environmentLimit()) return;
    sizeLimit().store(bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(bytes));
}

uint32_t KXSUP_GetSizeLimit() { return sizeLimit().load(); }

void KXSUP_ResetSizeLimit() { sizeLimit().store(limitFromEnvironment()); }

bool KXSUP_ParseByteCount(const char* text, uint64_t* bytes) {
    if (!text || !bytes) return false;
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p < '0' || *p > '9') return false;
    uint64_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + uint64_t(*p - '0');
        if (v > (uint64_t(1) << 40)) return false;  // far beyond any 32-bit size
    }
    unsigned shift = 0;
    switch (*p) {
    case 'k': case 'K': shift = 10; ++p; break;
    case 'm': case 'M': shift = 20; ++p; break;
    case 'g': case 'G': shift = 30; ++p; break;
    default: break;
    }
    while (*p == ' ' || *p == '\t') ++p;
    if (*p || v == 0) return false;
    *bytes = v << shift;
    return true;
}

uint32_t KXSUP_CheckSize(uint32_t* out, uint64_t a, uint64_t b, uint64_t c, uint64_t d) {
    if (out) *out = 0;
    // Each partial product stays below 2^32 before the next factor, so the
    // 128-bit products never overflow.
    unsigned __int128 p = (unsigned __int128)a * b;
    if (p <= 0xFFFFFFFFu) p *= c;
    if (p <= 0xFFFFFFFFu) p *= d;
    if (p > 0xFFFFFFFFu) return KXERR_FILEREQUIREMENTS;
    if (p > KXSUP_GetSizeLimit()) return KXERR_NOMEMORY;
    if (out) *out = (uint32_t)p;
    return KXERR_NONE;
}

bool KXSUP_CheckedSize(uint32_t* out, uint64_t a, uint64_t b, uint64_t c, uint64_t d) {
    return KXSUP_CheckSize(out, a, b, c, d) == KXERR_NONE;
}
