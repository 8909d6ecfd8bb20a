// kxconvert: what the modules share that read a file through an external
// program or through another module (Photo CD, EPS, PostScript, FIG,
// OpenEXR, CorelDRAW, camera RAW, the metadata tool): the temporary file
// names in the library's temporary directory, the converter run through
// KX_RunExternal (an argument vector, no shell), the test of its output,
// the settings that name programs and files, and the chained reader whose
// buffer the module takes over.
#pragma once

#include <string>
#include <vector>

#include "formats/raster/kxframe.h"

// One temporary file of a converter module. The name block belongs to the
// module; a registered file is deleted when the module lets go of it.
struct KXConvFile {
    char* Name = nullptr;  // AllocVec block, temporary directory + 64 bytes
    bool Registered = false;
    // Deletes the file when it is registered and frees the name.
    void Release();
};

// A fresh number for one conversion: the temporary names of one run carry
// the same number, and runs of one process never share one.
unsigned long KXCONV_NextCall();

// Builds "<temp><prefix>_<instance>_<call>.<ext>" (both numbers in
// lower-case hexadecimal) into file, released first, from lib's temporary
// directory and instance number; without a library object a temporary one
// supplies them (30 when none can be made). 3 when the block cannot be
// allocated. A file of that name, left from an earlier run, is deleted.
uint32_t KXCONV_MakeName(KXClass* lib, const char* prefix, const char* ext, unsigned long call, KXConvFile* file);

// A converter succeeded when the runner returned 0 and its output file opens
// and holds at least one byte: 0, else 32.
uint32_t KXCONV_CheckOutput(uint32_t runResult, const char* name);

// The whole value of a settings key, never cut; fallback when the key is
// missing or has no value.
std::string KXCONV_Key(KXObject* o, const char* key, const char* fallback);

// A converter's program: the key's value, else the default program; our
// own converters (own) are looked for in the program's directory first,
// then on PATH.
std::string KXCONV_Program(KXObject* o, const char* key, const char* program, bool own);

// A file named on a command line: a relative name gets "./" in front, so
// that no program can take it for an option ("-x") or, as Ghostscript
// does with "@x", for a file of further options.
std::string KXCONV_FileArg(const char* path);

// Starts program with args through KX_RunExternal, its standard output
// into stdoutFile when one is given; logs the command at level 5 under tag.
// The program may run for the module's TIME_LIMIT seconds (KXCONV_TimeLimit);
// past that it is ended, which is logged. Returns the runner's result (0, or
// 32 when it could not be started or passed its limit).
// The seconds a module's converter may run: its TIME_LIMIT key, else (or
// for a value that is no positive number) 120; at most a day.
uint32_t KXCONV_TimeLimit(KXObject* o);
uint32_t KXCONV_Run(KXObject* o, const char* tag, const std::string& program, const std::vector<std::string>& args,
                    const char* stdoutFile = nullptr);

// How a chained reader is configured: with its own control pad, or with an
// empty settings list so that all its keys keep their built-in defaults.
enum class KXChainSettings { OwnPad, Defaults };

// Loads file with a new object of the catalogue class className made on
// lib and hands its buffer over into *out; the object is destroyed again.
// 3 when the object or settings list cannot be made, else the reader's code.
uint32_t KXCONV_LoadChained(KXClass* lib, const char* className, const char* file, KXChainSettings settings,
                            KX_GfxBuffer** out);

// ---- device readers ---------------------------------------------------------
// A device reader takes its input from the setting LOADNAME, at most 255
// characters: a longer name is refused (2) rather than cut, since a cut
// name would open another file.
constexpr size_t KXCONV_LOADNAME_MAX = 255;
// 0 and *name, or 2 when LOADNAME is missing, empty or too long.
uint32_t KXCONV_LoadName(KXObject* o, std::string* name);

// The frame operations of a device reader: it accepts only I/O mode 3 and
// answers CheckFile with 1 exactly in that mode, whatever the file.
#define KXCONV_DEVICE_OPERATIONS(extension)                                                                      \
    uint32_t SetIOMode(int32_t mode) override {                                                                  \
        if (mode != KXIO_DEVICE) return KXERR_NOTSUPPORTED;                                                      \
        IOMode = mode;                                                                                           \
        return KXERR_NONE;                                                                                       \
    }                                                                                                            \
    uint32_t CheckFile(FILE*, const char*, int32_t mode) override { return mode == KXIO_DEVICE ? 1 : 0; }        \
    KXF_COMMON_OPERATIONS(extension)
