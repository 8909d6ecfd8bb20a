// kxlog_helpers: the log lines of the library-backed modules (TIFF, JPEG):
// "<tag padded to 16>: <text>" and a line feed in the process-wide log;
// nothing while logging is off. Each file keeps one for its tag:
//     constexpr KXModuleLog kLog{"tiff"};
//     kLog.text(2, "Reading buffer...");
//     kLog.line(1, "Directory - %ld selected", page);
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "core/log.h"

struct KXModuleLog {
    const char* tag;

    // One line of plain text.
    void text(uint32_t level, const char* message) const {
        if (__kxlib_log_global) __kxlib_log_global->Log(level, "%-16s: %s\n", tag, message);
    }

    // One formatted line; the format carries neither the tag nor the line
    // feed. The tag goes into the format (tags hold no '%'), so a line of
    // any length is written whole.
    void line(uint32_t level, const char* format, ...) const __attribute__((format(printf, 3, 4))) {
        if (!__kxlib_log_global) return;
        char lineFormat[512];
        const int n = snprintf(lineFormat, sizeof(lineFormat), "%-16s: %s\n", tag, format);
        if (n < 0 || (size_t)n >= sizeof(lineFormat)) return;
        va_list args;
        va_start(args, format);
        __kxlib_log_global->VLog(level, lineFormat, args);
        va_end(args);
    }
};
