// Files for the operators that load a second picture: written in a scratch
// directory by the library's own writers (GIF, PNG, ILBM, PNM).
#pragma once

#include <string>

#include "colour_fixtures.h"
#include "support/testfiles.h"

namespace colour_test {

// A scratch directory for the test's files, made once per process.
inline const std::string& ScratchDir()
{
    static const std::string dir = KXT_NewTempDir(std::string(KX_GetProcessTempDir()) + "kxsecond-XXXXXX");
    return dir;
}

inline std::string ScratchPath(const std::string& name) { return ScratchDir() + "/" + name; }

// Saves the picture with the writer of the class; the path, or "" on failure.
inline std::string SaveWith(const char* className, const KX_GfxBuffer* picture, const std::string& name, uint32_t subFormat = 0)
{
    const KXFormatReg* reg = KX_FindFormatReg(className);
    EXPECT_NE(reg, nullptr) << className;
    if (!reg) return "";
    KXClass lib;
    KXObject* writer = KX_NewObject(&lib, *reg);
    const std::string path = ScratchPath(name);
    writer->SetSaveName(path.c_str());
    writer->SetSubFormat(subFormat);
    writer->SetGfxBuffer(const_cast<KX_GfxBuffer*>(picture));
    const uint32_t err = writer->Save();
    delete writer;
    EXPECT_EQ(err, 0u) << className << " " << name;
    return err ? "" : path;
}

}  // namespace colour_test
