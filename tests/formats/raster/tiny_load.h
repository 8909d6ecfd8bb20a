// A load that must stay cheap: the reader runs in a child process whose
// peak resident memory is reset just before the load, so the growth it
// reports is what the load itself touched (a picture allocated but never
// written costs nothing; one filled or cleared in a pass does). The growth
// of the peak address space tells what it allocated, touched or not.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "raster_pixels.h"

namespace kxt {

struct TinyLoad {
    uint32_t Err = 0xFFFFFFFFu;  // the load's code; all ones when the child died
    long GrowthKb = -1;          // peak resident memory over the start, in kilobytes
    long AllocatedKb = -1;       // peak address space over the start, in kilobytes
    bool Picture = false;        // a buffer came out
};

namespace tinyload {
inline long StatusKb(const char* key) {
    FILE* f = fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kb = -1;
    const size_t n = strlen(key);
    while (fgets(line, sizeof(line), f))
        if (strncmp(line, key, n) == 0) kb = strtol(line + n, nullptr, 10);
    fclose(f);
    return kb;
}
}  // namespace tinyload

template <class Module>
TinyLoad LoadTiny(const std::vector<uint8_t>& bytes, const std::string& name) {
    TinyLoad out;
    const std::string path = TempPath(name);
    WriteAll(path, bytes);
    int fds[2];
    if (pipe(fds) != 0) return out;
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        Module m;
        m.SetReadName(path.c_str());
        // The high-water mark starts again from here.
        const int clear = open("/proc/self/clear_refs", O_WRONLY);
        if (clear >= 0) {
            (void)!write(clear, "5", 1);
            close(clear);
        }
        const long before = tinyload::StatusKb("VmRSS:"), space = tinyload::StatusKb("VmPeak:");
        long result[4];
        result[0] = (long)m.Load();
        KX_GfxBuffer* b = nullptr;
        m.GetGfxBuffer(&b);
        result[2] = b != nullptr;
        result[1] = tinyload::StatusKb("VmHWM:") - before;
        result[3] = tinyload::StatusKb("VmPeak:") - space;
        (void)!write(fds[1], result, sizeof(result));
        _exit(0);
    }
    close(fds[1]);
    long result[4] = {-1, -1, 0, -1};
    const bool got = read(fds[0], result, sizeof(result)) == (ssize_t)sizeof(result);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    unlink(path.c_str());
    if (got) {
        out.Err = (uint32_t)result[0];
        out.GrowthKb = result[1];
        out.Picture = result[2] != 0;
        out.AllocatedKb = result[3];
    }
    return out;
}

// What the load may touch, and allocate, at most.
constexpr long kTinyLoadKb = 64 * 1024;
constexpr long kTinyAllocKb = 256 * 1024;

// A file of a tiny-load table and the code its load gives.
struct TinyCase {
    const char* Name;
    std::vector<uint8_t> File;
    uint32_t Err;
};

// Each case loads with its code, gives a picture exactly when it loads,
// and stays within what a tiny load may touch and allocate.
template <class Module>
void ExpectTinyLoads(const std::vector<TinyCase>& cases, const std::string& name) {
    for (const TinyCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TinyLoad t = LoadTiny<Module>(c.File, name);
        EXPECT_EQ(t.Err, c.Err);
        EXPECT_EQ(t.Picture, c.Err == KXERR_NONE);
        EXPECT_LT(t.GrowthKb, kTinyLoadKb);
        EXPECT_LT(t.AllocatedKb, kTinyAllocKb);
        EXPECT_GE(t.GrowthKb, 0);
    }
}

}  // namespace kxt
