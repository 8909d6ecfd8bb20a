// Pillow as a cross-check: the first Python on hand that imports PIL
// (python3 on PATH, else the system's own, where Debian's python3-pil
// lives), or "" when there is none.
#pragma once

#include <string>

#include "raster_pixels.h"

namespace kxt {

inline const std::string& PillowPython() {
    static const std::string found = [] {
        for (const char* py : {"python3", "/usr/bin/python3"})
            if (Shell(std::string(py) + " -c 'import PIL'")) return std::string(py);
        return std::string();
    }();
    return found;
}

// Runs a Python snippet with Pillow imported as Image; true when it exits with 0.
inline bool RunPillow(const std::string& code) {
    return !PillowPython().empty() && Shell(PillowPython() + " -c \"from PIL import Image\n" + code + "\"");
}

#define KXT_NEED_PILLOW() \
    if (kxt::PillowPython().empty()) GTEST_SKIP() << "Pillow is not installed (tools/deps.sh installs python3-pil)"

}  // namespace kxt
