// Loading and saving through one module object, as the tests of the
// raster modules do it again and again: the result code, the buffer
// (detached, freed with the record), the sub-format and the progress seen.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "raster_pixels.h"

namespace kxt {

struct Loaded {
    uint32_t Err = 0;
    KX_GfxBuffer* Buffer = nullptr;
    uint32_t SubFormat = 0;
    std::vector<uint32_t> Progress;
    Loaded() = default;
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;
    ~Loaded() { KXSUP_FreeGfxBuffer(Buffer); }
};

inline void OnProgress(KXProgress* p, uintptr_t user) { reinterpret_cast<std::vector<uint32_t>*>(user)->push_back(p->Percent); }

template <class Module>
void LoadFile(const std::string& path, Loaded& out, List* settings = nullptr) {
    Module m;
    if (settings) m.SetLocalConfig(settings);
    m.SetProgress(OnProgress, reinterpret_cast<uintptr_t>(&out.Progress));
    m.SetReadName(path.c_str());
    out.Err = m.Load();
    m.DetachGfxBuffer(&out.Buffer);
    out.SubFormat = m.SubFormatId;
}

template <class Module>
void LoadBytes(const std::vector<uint8_t>& bytes, Loaded& out, const char* name = "bytes.bin") {
    const std::string p = TempPath(name);
    WriteAll(p, bytes);
    LoadFile<Module>(p, out);
    unlink(p.c_str());
}

// CheckFile on a file of these bytes (named so for readers that look at
// the name's ending).
template <class Module>
uint32_t Recognises(const std::vector<uint8_t>& bytes, const std::string& name = "check.bin", int32_t mode = KXIO_FILE) {
    const std::string p = TempPath(name);
    WriteAll(p, bytes);
    FILE* f = fopen(p.c_str(), "rb");
    Module m;
    uint32_t r = f ? m.CheckFile(f, p.c_str(), mode) : 0;
    if (f) fclose(f);
    unlink(p.c_str());
    return r;
}

struct Saved {
    uint32_t Err;
    std::vector<uint8_t> File;
};

template <class Module>
Saved SaveTo(KX_GfxBuffer* img, const std::string& path, uint32_t subFormat = 0) {
    Module m;
    m.SetSaveName(path.c_str());
    m.SetSubFormat(subFormat);
    m.SetGfxBuffer(img);
    Saved s{m.Save(), {}};
    s.File = KXT_ReadBytes(path);
    return s;
}

// SaveTo over an old file, for saves refused before the file is opened:
// the old bytes must stay. Returns the Save result.
template <class Module>
uint32_t SaveOverOld(KX_GfxBuffer* img, const std::string& path, uint32_t subFormat = 0) {
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    WriteAll(path, old);
    const uint32_t err = SaveTo<Module>(img, path, subFormat).Err;
    EXPECT_EQ(KXT_ReadBytes(path), old) << "the old file changed";
    return err;
}

// Little-endian numbers into a byte table.
inline void Put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back((uint8_t)x);
    v.push_back((uint8_t)(x >> 8));
}
inline void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}
inline void PutBytes(std::vector<uint8_t>& v, const std::vector<uint8_t>& b) { v.insert(v.end(), b.begin(), b.end()); }

}  // namespace kxt
