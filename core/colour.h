// colour: the library's colour management on Little CMS 2. Applies an ICC
// profile to a graphics buffer (palette entries of palette images, the
// pixels of 24- and 48-bit images) or to plain pixel arrays, and builds
// small RGB profiles in memory from gamma, white point and primaries or
// from three transfer curves. Every function installs the lcms2 log bridge
// first and keeps no state between calls.
#pragma once

#include <cstdint>

#include "kxtypes.h"

struct _cmsContext_struct;

// Pixel formats of KXSUP_ApplyCMSProfileRaw; any other code is taken as 0.
enum : uint32_t {
    KXCMS_RGB_8 = 0,
    KXCMS_RGB_16 = 1,
    KXCMS_CMY_8 = 2,
    KXCMS_CMY_16 = 3,
    KXCMS_CMYK_8 = 4,
    KXCMS_CMYK_16 = 5,
    KXCMS_YCbCr_8 = 6,
    KXCMS_YCbCr_16 = 7,
};

// Transforms the buffer's colours in place from the input profile to the
// output profile (null: the built-in sRGB). Palette images (depth 1 to 8)
// change only their first 2^depth palette entries; 24- and 48-bit images
// change their pixels; a 48-bit buffer is left in host (little-endian)
// sample order. Other depths give KXERR_FILEREQUIREMENTS.
uint32_t KXSUP_ApplyCMSProfile(KX_GfxBuffer* buffer, const uint8_t* inProfile, uint32_t inSize,
                               const uint8_t* outProfile, uint32_t outSize);
uint32_t KXSUP_ApplyCMSProfileSRGB(KX_GfxBuffer* buffer, const uint8_t* profile, uint32_t size);

// Transforms width x height pixels from input to output (may be the same
// array) between the two formats (KXCMS_ codes).
uint32_t KXSUP_ApplyCMSProfileRaw(const void* input, void* output, uint32_t width, uint32_t height,
                                  const uint8_t* inProfile, uint32_t inSize, const uint8_t* outProfile,
                                  uint32_t outSize, uint32_t inFormat, uint32_t outFormat);

// Reads an ICC file and applies it to the buffer towards sRGB.
uint32_t KXSUP_ApplyCMSProfileFromFile(KX_GfxBuffer* buffer, const char* path);

// Reads an ICC profile file whole into an AllocVec block the caller frees
// with FreeVec. The file must hold at least the 128-byte header, the size
// its header declares must not pass the file's end, and Little CMS must be
// able to parse it: a truncated file gives KXERR_EOF, one that is no
// profile KXERR_FILEREQUIREMENTS, a file that cannot be opened
// KXERR_FILENOTFOUND. With name, *name gets an AllocVec copy of the file's
// name (the part after the last '/'). The outputs are written only on success.
uint32_t KXSUP_ReadCMSProfileFile(const char* path, uint8_t** profile, uint32_t* size, char** name = nullptr);
// Makes profile (an AllocVec block, or null for none) and name (an AllocVec
// text, or null) the record's profile, which takes both over and frees the
// profile and name it had; IccType and SRGBIntent stay.
void KXSUP_ReplaceCMSProfile(KXOSpecialInfo* record, uint8_t* profile, uint32_t size, char* name);
// Writes size bytes of profile to path through the safe save, so a failed
// write leaves an older file of that name as it was: KXERR_NODESTFILE when
// the file cannot be made, KXERR_IO when it is not written whole.
uint32_t KXSUP_WriteCMSProfileFile(const char* path, const uint8_t* profile, uint32_t size);

// Profile builders. The profile is an AllocVec block the caller frees with
// FreeVec; on failure *profile and *size are not written. The first
// argument is ignored (callers pass 256). Points are x, y, Y triples.
uint32_t KXSUP_CreateCMSProfileGamma(uint32_t unused, double gamma, uint8_t** profile, uint32_t* size);
uint32_t KXSUP_CreateCMSProfileGammaWhitePrim(uint32_t unused, double gamma, const double white[3],
                                              const double red[3], const double green[3], const double blue[3],
                                              uint8_t** profile, uint32_t* size);
// Three tabulated transfer curves of `entries` values each (a table of
// another length than 256 is resampled to 256 first), white point x, y and
// primaries red x, y, green x, y, blue x, y; every Y is 1.0.
uint32_t KXSUP_CreateCMSProfileCurves(uint32_t unused, const uint16_t* red, const uint16_t* green,
                                      const uint16_t* blue, const float white[2], const float primaries[6],
                                      uint8_t** profile, uint32_t* size, uint32_t entries = 256);

// Resamples a transfer curve of `count` entries (TIFF gives 2^bits) to 256
// entries by linear interpolation. False when there is nothing to resample.
bool KXSUP_ResampleToneCurve(const uint16_t* table, uint32_t count, uint16_t out[256]);

// lcms2's error handler: writes the text to the library log.
void CMSLogHandler(_cmsContext_struct* context, uint32_t code, const char* text);
