// Saves through a writer in a child process whose file-size limit is too
// small for the image, so that a write fails part way. Returns the Save
// result (or 255 when the child did not end normally) and checks that the
// old file stayed as it was.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "raster_pixels.h"

namespace kxt {

inline uint32_t SaveUnderFileSizeLimit(KXObject* writer, KX_GfxBuffer* img, const std::string& name) {
    const std::string path = TempPath(name);
    const std::vector<uint8_t> old = {'o', 'l', 'd', ' ', 'f', 'i', 'l', 'e'};
    WriteAll(path, old);
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {16384, 16384};
        setrlimit(RLIMIT_FSIZE, &lim);
        writer->SetSaveName(path.c_str());
        writer->SetGfxBuffer(img);
        _exit((int)writer->Save());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(KXT_ReadBytes(path), old) << "the old file changed";
    // Nor may the temporary sibling of the failed save stay behind.
    EXPECT_EQ(KXT_CountLeftovers(path), 0) << "a temporary file was left behind";
    unlink(path.c_str());
    return WIFEXITED(status) ? (uint32_t)WEXITSTATUS(status) : 255u;
}

}  // namespace kxt
