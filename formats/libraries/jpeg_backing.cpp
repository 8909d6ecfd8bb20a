// jpeg_backing: memory limit and temporary-file backing store for libjpeg
// (see jpeg_backing.h). The access rules are libjpeg's own (structure.txt,
// "Memory manager services"): an array is written top to bottom on its
// first pass, only rows already written may be read, and a pre-zeroed array
// reads zeros where nothing was written yet.
#include "formats/libraries/jpeg_backing.h"

// clang-format off
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

constexpr long kDefaultLimit = 1000000;

// One whole-image array of samples or of coefficient blocks: rows of
// rowBytes bytes, a window of windowRows of them in memory.
struct VirtArray {
    VirtArray* next;
    bool blocks;  // JBLOCK rows, else JSAMPLE rows
    void** window;  // row pointers of the in-memory window, null until realized
    JDIMENSION units;  // samples or blocks per row
    size_t rowBytes;
    JDIMENSION rows, maxAccess, windowRows;
    JDIMENSION windowStart;  // first array row held in the window
    JDIMENSION firstUndefined;  // rows from here on were never written
    bool preZero, dirty;
    int fd;  // the backing file, or -1
    uint64_t fileEnd;  // bytes written to it so far; all beyond reads as zeros
};

struct State {
    jpeg_memory_mgr original;
    const char* tempDir;
    KXJpegMemoryStats* stats;
    VirtArray* arrays;
    uint64_t pool[JPOOL_NUMPOOLS];
};

State* stateOf(j_common_ptr c) { return static_cast<State*>(c->client_data); }

void count(j_common_ptr c, int pool, uint64_t bytes) {
    State* s = stateOf(c);
    if (pool < 0 || pool >= JPOOL_NUMPOOLS) return;  // libjpeg refuses it itself
    s->pool[pool] += bytes;
    const uint64_t now = s->pool[0] + s->pool[1];
    if (s->stats && now > s->stats->peak) s->stats->peak = now;
}

uint64_t held(j_common_ptr c) {
    State* s = stateOf(c);
    return s->pool[0] + s->pool[1];
}

// ---- counted allocation -------------------------------------------------------

void* allocSmall(j_common_ptr c, int pool, size_t size) {
    void* p = stateOf(c)->original.alloc_small(c, pool, size);
    count(c, pool, size);
    return p;
}

void* allocLarge(j_common_ptr c, int pool, size_t size) {
    void* p = stateOf(c)->original.alloc_large(c, pool, size);
    count(c, pool, size);
    return p;
}

JSAMPARRAY allocSarray(j_common_ptr c, int pool, JDIMENSION units, JDIMENSION rows) {
    JSAMPARRAY p = stateOf(c)->original.alloc_sarray(c, pool, units, rows);
    count(c, pool, (uint64_t)rows * (sizeof(JSAMPROW) + (uint64_t)units * sizeof(JSAMPLE)));
    return p;
}

JBLOCKARRAY allocBarray(j_common_ptr c, int pool, JDIMENSION units, JDIMENSION rows) {
    JBLOCKARRAY p = stateOf(c)->original.alloc_barray(c, pool, units, rows);
    count(c, pool, (uint64_t)rows * (sizeof(JBLOCKROW) + (uint64_t)units * sizeof(JBLOCK)));
    return p;
}

// ---- backing files ------------------------------------------------------------

void openFile(j_common_ptr c, VirtArray* a) {
    State* s = stateOf(c);
    char name[4096];
    const int n = snprintf(name, sizeof(name), "%sJPG%lxXXXXXX", s->tempDir, (unsigned long)(uintptr_t)a);
    // mkstemp creates the file exclusively with mode 0600.
    a->fd = n > 0 && (size_t)n < sizeof(name) ? mkstemp(name) : -1;
    if (a->fd < 0) ERREXITS(c, JERR_TFILE_CREATE, name);
    // Out of the folder at once: nothing is left behind however the coding ends.
    unlink(name);
    if (s->stats) s->stats->files++;
}

void closeFiles(j_common_ptr c) {
    State* s = stateOf(c);
    for (VirtArray* a = s->arrays; a; a = a->next)
        if (a->fd >= 0) {
            close(a->fd);
            a->fd = -1;
        }
}

void seekTo(j_common_ptr c, int fd, uint64_t offset) {
    if (offset > (uint64_t)LLONG_MAX || lseek(fd, (off_t)offset, SEEK_SET) < 0) ERREXIT(c, JERR_TFILE_SEEK);
}

void writeAll(j_common_ptr c, int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ERREXIT(c, JERR_TFILE_WRITE);
        data += n;
        size -= (size_t)n;
    }
}

void readAll(j_common_ptr c, int fd, uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = read(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ERREXIT(c, JERR_TFILE_READ);
        data += n;
        size -= (size_t)n;
    }
}

bool allZero(const uint8_t* p, size_t size) {
    return size == 0 || (p[0] == 0 && memcmp(p, p + 1, size - 1) == 0);
}

// Moves the window's defined rows to or from the file, one transfer per
// run of rows that lie next to each other in memory. Zeros past the end of
// what the file holds are not written (they read back as zeros): a file
// whose data ends early leaves its untouched coefficients off the disk.
void transfer(j_common_ptr c, VirtArray* a, bool writing) {
    JDIMENSION end = a->windowStart + a->windowRows;
    if (end > a->firstUndefined) end = a->firstUndefined;
    if (end > a->rows) end = a->rows;
    if (end <= a->windowStart) return;
    const JDIMENSION count = end - a->windowStart;
    for (JDIMENSION i = 0; i < count;) {
        uint8_t* start = static_cast<uint8_t*>(a->window[i]);
        JDIMENSION run = 1;
        while (i + run < count && static_cast<uint8_t*>(a->window[i + run]) == start + (size_t)run * a->rowBytes) ++run;
        const uint64_t offset = (uint64_t)(a->windowStart + i) * a->rowBytes;
        const size_t size = (size_t)run * a->rowBytes;
        if (writing) {
            if (offset < a->fileEnd || !allZero(start, size)) {
                seekTo(c, a->fd, offset);
                writeAll(c, a->fd, start, size);
                if (offset + size > a->fileEnd) a->fileEnd = offset + size;
                if (stateOf(c)->stats) stateOf(c)->stats->fileBytes += size;
            }
        } else {
            const size_t held = offset >= a->fileEnd ? 0 : (size_t)std::min<uint64_t>(size, a->fileEnd - offset);
            if (held) {
                seekTo(c, a->fd, offset);
                readAll(c, a->fd, start, held);
            }
            memset(start + held, 0, size - held);
        }
        i += run;
    }
}

// ---- virtual arrays -----------------------------------------------------------

VirtArray* request(j_common_ptr c, int pool, boolean preZero, JDIMENSION units, JDIMENSION rows, JDIMENSION maxAccess,
                   bool blocks) {
    if (pool != JPOOL_IMAGE) ERREXIT1(c, JERR_BAD_POOL_ID, pool);
    auto* a = static_cast<VirtArray*>(allocSmall(c, pool, sizeof(VirtArray)));
    memset(a, 0, sizeof(*a));
    a->blocks = blocks;
    a->units = units;
    a->rowBytes = (size_t)units * (blocks ? sizeof(JBLOCK) : sizeof(JSAMPLE));
    a->rows = rows;
    a->maxAccess = maxAccess;
    a->preZero = preZero != FALSE;
    a->fd = -1;
    State* s = stateOf(c);
    a->next = s->arrays;
    s->arrays = a;
    return a;
}

jvirt_sarray_ptr requestSarray(j_common_ptr c, int pool, boolean preZero, JDIMENSION units, JDIMENSION rows,
                               JDIMENSION maxAccess) {
    return reinterpret_cast<jvirt_sarray_ptr>(request(c, pool, preZero, units, rows, maxAccess, false));
}

jvirt_barray_ptr requestBarray(j_common_ptr c, int pool, boolean preZero, JDIMENSION units, JDIMENSION rows,
                               JDIMENSION maxAccess) {
    return reinterpret_cast<jvirt_barray_ptr>(request(c, pool, preZero, units, rows, maxAccess, true));
}

// Every array gets its whole height in memory when all of them fit under
// the limit; otherwise each gets as many times maxAccess rows as the space
// left allows for all, and a backing file when that is less than the whole.
void realize(j_common_ptr c) {
    State* s = stateOf(c);
    uint64_t perStep = 0, whole = 0;
    for (VirtArray* a = s->arrays; a; a = a->next) {
        if (a->window) continue;
        perStep += (uint64_t)a->maxAccess * a->rowBytes;
        whole += (uint64_t)a->rows * a->rowBytes;
    }
    if (whole == 0) return;
    const long limit = c->mem->max_memory_to_use;
    uint64_t steps = UINT64_MAX;
    if (limit > 0) {
        const uint64_t now = held(c), room = (uint64_t)limit > now ? (uint64_t)limit - now : 0;
        if (room < whole) steps = perStep ? room / perStep : 1;
        if (steps == 0) steps = 1;
    }
    for (VirtArray* a = s->arrays; a; a = a->next) {
        if (a->window) continue;
        const uint64_t minHeights = a->maxAccess ? ((uint64_t)a->rows - 1) / a->maxAccess + 1 : 1;
        if (a->rows == 0 || minHeights <= steps) {
            a->windowRows = a->rows;
        } else {
            a->windowRows = (JDIMENSION)(steps * a->maxAccess);
            openFile(c, a);
        }
        const JDIMENSION allocRows = a->windowRows ? a->windowRows : 1;
        a->window = a->blocks ? reinterpret_cast<void**>(allocBarray(c, JPOOL_IMAGE, a->units, allocRows))
                              : reinterpret_cast<void**>(allocSarray(c, JPOOL_IMAGE, a->units, allocRows));
        a->windowStart = 0;
        a->firstUndefined = 0;
        a->dirty = false;
    }
}

void** access(j_common_ptr c, VirtArray* a, JDIMENSION start, JDIMENSION count, boolean writable) {
    const uint64_t end64 = (uint64_t)start + count;
    if (end64 > a->rows || count > a->maxAccess || !a->window) ERREXIT(c, JERR_BAD_VIRTUAL_ACCESS);
    JDIMENSION end = (JDIMENSION)end64;
    if (start < a->windowStart || end > a->windowStart + a->windowRows) {
        if (a->fd < 0) ERREXIT(c, JERR_VIRTUAL_BUG);
        if (a->dirty) {
            transfer(c, a, true);
            a->dirty = false;
        }
        // Forward: the window starts at the wanted row; backward: it ends
        // at the last wanted row.
        if (start > a->windowStart) {
            a->windowStart = start;
        } else {
            a->windowStart = end > a->windowRows ? end - a->windowRows : 0;
        }
        transfer(c, a, false);
    }
    if (a->firstUndefined < end) {
        JDIMENSION from;
        if (a->firstUndefined < start) {
            if (writable) ERREXIT(c, JERR_BAD_VIRTUAL_ACCESS);  // a writer skipped rows
            from = start;
        } else {
            from = a->firstUndefined;
        }
        if (writable) a->firstUndefined = end;
        if (a->preZero) {
            for (JDIMENSION r = from; r < end; ++r) memset(a->window[r - a->windowStart], 0, a->rowBytes);
        } else if (!writable) {
            ERREXIT(c, JERR_BAD_VIRTUAL_ACCESS);  // a reader looked at rows never written
        }
    }
    if (writable) a->dirty = true;
    return a->window + (start - a->windowStart);
}

JSAMPARRAY accessSarray(j_common_ptr c, jvirt_sarray_ptr p, JDIMENSION start, JDIMENSION count, boolean writable) {
    return reinterpret_cast<JSAMPARRAY>(access(c, reinterpret_cast<VirtArray*>(p), start, count, writable));
}

JBLOCKARRAY accessBarray(j_common_ptr c, jvirt_barray_ptr p, JDIMENSION start, JDIMENSION count, boolean writable) {
    return reinterpret_cast<JBLOCKARRAY>(access(c, reinterpret_cast<VirtArray*>(p), start, count, writable));
}

// ---- release ------------------------------------------------------------------

void freePool(j_common_ptr c, int pool) {
    State* s = stateOf(c);
    if (pool == JPOOL_IMAGE) {
        // The arrays live in the image pool: close their files first.
        closeFiles(c);
        s->arrays = nullptr;
    }
    if (pool >= 0 && pool < JPOOL_NUMPOOLS) s->pool[pool] = 0;
    s->original.free_pool(c, pool);
}

void selfDestruct(j_common_ptr c) {
    closeFiles(c);
    // The state lives in the permanent pool the original call frees.
    void (*destruct)(j_common_ptr) = stateOf(c)->original.self_destruct;
    c->client_data = nullptr;
    destruct(c);
}

}  // namespace

long KXJPEG_DefaultMemoryLimit() {
    const char* env = getenv("JPEGMEM");
    long value = 0;
    char unit = 'x';
    if (!env || sscanf(env, "%ld%c", &value, &unit) < 1 || value < 0) return kDefaultLimit;
    const long scale = unit == 'm' || unit == 'M' ? 1000000L : 1000L;
    return value > LONG_MAX / scale ? LONG_MAX : value * scale;
}

void KXJPEG_InstallBackingStore(jpeg_common_struct* coder, const char* tempDir, long limit, KXJpegMemoryStats* stats) {
    jpeg_memory_mgr* mem = coder->mem;
    auto* s = static_cast<State*>(mem->alloc_small(coder, JPOOL_PERMANENT, sizeof(State)));
    memset(s, 0, sizeof(*s));
    s->original = *mem;
    s->tempDir = tempDir ? tempDir : "";
    s->stats = stats;
    if (stats) *stats = KXJpegMemoryStats{};
    coder->client_data = s;
    mem->alloc_small = allocSmall;
    mem->alloc_large = allocLarge;
    mem->alloc_sarray = allocSarray;
    mem->alloc_barray = allocBarray;
    mem->request_virt_sarray = requestSarray;
    mem->request_virt_barray = requestBarray;
    mem->realize_virt_arrays = realize;
    mem->access_virt_sarray = accessSarray;
    mem->access_virt_barray = accessBarray;
    mem->free_pool = freePool;
    mem->self_destruct = selfDestruct;
    mem->max_memory_to_use = limit < 0 ? 0 : limit;
}
