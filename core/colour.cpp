// colour: ICC transforms and in-memory profile builders on Little CMS 2.
// Relies on the byte-order conversion of the graphics buffer, AllocVec and
// the global log. Refuses depths other than 1 to 8, 24 and 48, buffers
// whose data is shorter than their size says, and gammas that are not
// positive finite numbers.
#include "colour.h"

#include <lcms2.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "files.h"
#include "gfxbuffer.h"
#include "log.h"
#include "memory.h"
#include "object.h"

namespace {

const char* const kTag = "lcms2";

void logLine(uint32_t level, const char* text) {
    if (__kxlib_log_global) __kxlib_log_global->Log(level, "%-16s: %s\n", kTag, text);
}

void logProfile(const uint8_t* profile, uint32_t size) {
    if (__kxlib_log_global)
        __kxlib_log_global->Log(4, "%-16s: $%lx - %ld bytes\n", kTag, (unsigned long)(uintptr_t)profile,
                                (long)size);
}

void installLogHandler() { cmsSetLogErrorHandler(&CMSLogHandler); }

struct RawFormat {
    cmsUInt32Number type;
    uint32_t bytesPerPixel;
};

RawFormat rawFormat(uint32_t code) {
    switch (code) {
        case KXCMS_RGB_16: return {TYPE_RGB_16, 6};
        case KXCMS_CMY_8: return {TYPE_CMY_8, 3};
        case KXCMS_CMY_16: return {TYPE_CMY_16, 6};
        case KXCMS_CMYK_8: return {TYPE_CMYK_8, 4};
        case KXCMS_CMYK_16: return {TYPE_CMYK_16, 8};
        case KXCMS_YCbCr_8: return {TYPE_YCbCr_8, 3};
        case KXCMS_YCbCr_16: return {TYPE_YCbCr_16, 6};
        default: return {TYPE_RGB_8, 3};
    }
}

// The two profiles of a transform, closed on every way out.
struct ProfilePair {
    cmsHPROFILE in = nullptr;
    cmsHPROFILE out = nullptr;
    ~ProfilePair() {
        if (in) cmsCloseProfile(in);
        if (out) cmsCloseProfile(out);
    }
    uint32_t open(const uint8_t* inProfile, uint32_t inSize, const uint8_t* outProfile, uint32_t outSize) {
        logLine(2, "Parsing input color profile...");
        logProfile(inProfile, inSize);
        in = inProfile ? cmsOpenProfileFromMem(inProfile, inSize) : nullptr;
        if (!in) {
            logLine(2, "Error: Could not parse input color profile");
            return KXERR_NODESTFILE;
        }
        if (outProfile) {
            logLine(2, "Parsing output color profile...");
            logProfile(outProfile, outSize);
            out = cmsOpenProfileFromMem(outProfile, outSize);
        } else {
            out = cmsCreate_sRGBProfile();
        }
        if (!out) {
            logLine(2, "Error: Could not parse output color profile");
            return KXERR_NOMEMORY;
        }
        return KXERR_NONE;
    }
};

// Saves a built profile into an AllocVec block; the out pointers are
// written only on success.
uint32_t saveProfile(cmsHPROFILE profile, uint8_t** out, uint32_t* outSize) {
    cmsUInt32Number size = 0;
    if (!cmsSaveProfileToMem(profile, nullptr, &size)) {
        logLine(2, "Error: Could not save ICC profile to memory");
        return KXERR_FILEREQUIREMENTS;
    }
    if (size == 0) {
        logLine(2, "Error: ICC profile has zero length");
        return KXERR_FILEREQUIREMENTS;
    }
    auto* block = static_cast<uint8_t*>(AllocVec(size, MEMF_ANY));
    if (!block) {
        logLine(2, "Error: Could allocate ICC profile memory");
        return KXERR_NOMEMORY;
    }
    cmsUInt32Number written = size;
    if (!cmsSaveProfileToMem(profile, block, &written)) {
        FreeVec(block);
        logLine(2, "Error: Could not save ICC profile to memory");
        return KXERR_FILEREQUIREMENTS;
    }
    *out = block;
    *outSize = size;
    return KXERR_NONE;
}

uint32_t buildRGBProfile(const cmsCIExyY& white, const cmsCIExyYTRIPLE& primaries, cmsToneCurve* const curves[3],
                         uint8_t** out, uint32_t* outSize) {
    cmsToneCurve* tc[3] = {curves[0], curves[1], curves[2]};
    cmsHPROFILE profile = cmsCreateRGBProfileTHR(nullptr, &white, &primaries, tc);
    if (!profile) {
        logLine(2, "Error: Could not create ICC profile");
        return KXERR_FILEREQUIREMENTS;
    }
    uint32_t err = saveProfile(profile, out, outSize);
    cmsCloseProfile(profile);
    return err;
}

uint32_t gammaProfile(double gamma, const cmsCIExyY& white, const cmsCIExyYTRIPLE& primaries, uint8_t** out,
                      uint32_t* outSize) {
    if (!out || !outSize) return KXERR_INTERNALACCESS;
    // A file gamma of 0 or less (or not a number) has no curve; lcms2
    // would otherwise be handed an infinite exponent.
    cmsToneCurve* curve = nullptr;
    if (std::isfinite(gamma) && gamma > 0.0 && std::isfinite(1.0 / gamma)) curve = cmsBuildGamma(nullptr, 1.0 / gamma);
    if (!curve) {
        logLine(2, "Error: Could not allocate tone curves");
        return KXERR_FILEREQUIREMENTS;
    }
    cmsToneCurve* const curves[3] = {curve, curve, curve};
    uint32_t err = buildRGBProfile(white, primaries, curves, out, outSize);
    cmsFreeToneCurve(curve);
    return err;
}

}  // namespace

void CMSLogHandler(_cmsContext_struct*, uint32_t, const char* text) { logLine(2, text ? text : ""); }

uint32_t KXSUP_ApplyCMSProfile(KX_GfxBuffer* buffer, const uint8_t* inProfile, uint32_t inSize,
                               const uint8_t* outProfile, uint32_t outSize) {
    if (!buffer) return KXERR_INTERNALACCESS;
    installLogHandler();
    const uint32_t depth = buffer->ColorDepth;
    const bool palette = depth >= 1 && depth <= 8;
    // Other depths have no pixel layout a transform could follow.
    if (!palette && depth != 24 && depth != 48) return KXERR_FILEREQUIREMENTS;
    uint32_t bytes = 0;
    if (!palette) {
        if (!buffer->Data) return KXERR_INTERNALACCESS;
        if (!KXSUP_CheckedSize(&bytes, buffer->Width, buffer->Height, depth / 8) || bytes > buffer->BufferSize)
            return KXERR_FILEREQUIREMENTS;
    }

    ProfilePair profiles;
    uint32_t err = profiles.open(inProfile, inSize, outProfile, outSize);
    if (err) return err;

    if (palette) {
        uint8_t table[256 * 3];
        memcpy(table, buffer->Palette, sizeof(table));
        cmsHTRANSFORM t = cmsCreateTransform(profiles.in, TYPE_RGB_8, profiles.out, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
        if (!t) {
            logLine(2, "Could not create transformation (8 bit)");
            return KXERR_FILEREQUIREMENTS;
        }
        cmsDoTransform(t, table, table, 1u << depth);
        cmsDeleteTransform(t);
        memcpy(buffer->Palette, table, sizeof(table));
        return KXERR_NONE;
    }

    if (depth == 48) {
        err = KXSUP_ConvertGfxBufferEndianess(buffer, KXENDIAN_LITTLE);
        if (err) return err;
    }
    const cmsUInt32Number type = depth == 24 ? TYPE_RGB_8 : TYPE_RGB_16;
    cmsHTRANSFORM t = cmsCreateTransform(profiles.in, type, profiles.out, type, INTENT_PERCEPTUAL, 0);
    if (!t) {
        logLine(2, "Could not create transformation (24/48 bit)");
        return KXERR_FILEREQUIREMENTS;
    }
    cmsDoTransform(t, buffer->Data, buffer->Data, buffer->Width * buffer->Height);
    cmsDeleteTransform(t);
    return KXERR_NONE;
}

uint32_t KXSUP_ApplyCMSProfileSRGB(KX_GfxBuffer* buffer, const uint8_t* profile, uint32_t size) {
    return KXSUP_ApplyCMSProfile(buffer, profile, size, nullptr, 0);
}

uint32_t KXSUP_ApplyCMSProfileRaw(const void* input, void* output, uint32_t width, uint32_t height,
                                  const uint8_t* inProfile, uint32_t inSize, const uint8_t* outProfile,
                                  uint32_t outSize, uint32_t inFormat, uint32_t outFormat) {
    if (!input || !output) return KXERR_INTERNALACCESS;
    installLogHandler();
    uint32_t pixels = 0;
    if (!KXSUP_CheckedSize(&pixels, width, height)) return KXERR_FILEREQUIREMENTS;

    ProfilePair profiles;
    uint32_t err = profiles.open(inProfile, inSize, outProfile, outSize);
    if (err) return err;

    const RawFormat in = rawFormat(inFormat);
    const RawFormat out = rawFormat(outFormat);
    cmsHTRANSFORM t = cmsCreateTransform(profiles.in, in.type, profiles.out, out.type, INTENT_PERCEPTUAL, 0);
    if (!t) {
        logLine(2, "Could not create transformation (24/48 bit)");
        return KXERR_FILEREQUIREMENTS;
    }
    // In place with a wider output pixel, each written pixel would overrun
    // input not yet read: transform from a copy then.
    const void* source = input;
    void* copy = nullptr;
    if (input == output && out.bytesPerPixel > in.bytesPerPixel) {
        uint32_t bytes = 0;
        if (!KXSUP_CheckedSize(&bytes, pixels, in.bytesPerPixel) || !(copy = AllocVec(bytes ? bytes : 1, MEMF_ANY))) {
            cmsDeleteTransform(t);
            return KXERR_NOMEMORY;
        }
        memcpy(copy, input, bytes);
        source = copy;
    }
    cmsDoTransform(t, source, output, pixels);
    cmsDeleteTransform(t);
    FreeVec(copy);
    return KXERR_NONE;
}

uint32_t KXSUP_ApplyCMSProfileFromFile(KX_GfxBuffer* buffer, const char* path) {
    installLogHandler();
    logLine(2, "Reading profile from file...");
    FILE* f = path ? amOpen(path, "rb") : nullptr;
    if (!f) {
        logLine(2, "Error: file not found.");
        return KXERR_FILENOTFOUND;
    }
    uint8_t head[4];
    long length = -1;
    if (amRead(f, head, 4) == 4 && fseek(f, 0, SEEK_END) == 0) length = ftell(f);
    const uint32_t size = (uint32_t)head[0] << 24 | (uint32_t)head[1] << 16 | (uint32_t)head[2] << 8 | head[3];
    // A size beyond the file's end is a truncated profile: say so before
    // allocating what the header claims.
    if (length < 4 || (uint64_t)size > (uint64_t)length || size < 4 || fseek(f, 0, SEEK_SET) != 0) {
        amClose(f);
        logLine(2, "Error: File truncated.");
        return KXERR_EOF;
    }
    auto* profile = static_cast<uint8_t*>(AllocVec(size, MEMF_ANY));
    if (!profile) {
        amClose(f);
        logLine(2, "Error: out of memory.");
        return KXERR_NOMEMORY;
    }
    if (amRead(f, profile, size) != (long)size) {
        amClose(f);
        FreeVec(profile);
        logLine(2, "Error: File truncated.");
        return KXERR_EOF;
    }
    amClose(f);
    uint32_t err = KXSUP_ApplyCMSProfileSRGB(buffer, profile, size);
    FreeVec(profile);
    return err;
}

uint32_t KXSUP_ReadCMSProfileFile(const char* path, uint8_t** profile, uint32_t* size, char** name) {
    if (!profile || !size) return KXERR_INTERNALACCESS;
    installLogHandler();
    FILE* f = path ? amOpen(path, "rb") : nullptr;
    if (!f) {
        logLine(2, "Error: file not found.");
        return KXERR_FILENOTFOUND;
    }
    long length = -1;
    if (fseek(f, 0, SEEK_END) == 0) length = ftell(f);
    uint32_t bytes = 0;
    uint32_t err = KXERR_NONE;
    if (length < 0 || fseek(f, 0, SEEK_SET) != 0) err = KXERR_IO;
    // Anything shorter than the header cannot be a whole profile.
    else if (length < 128) err = KXERR_EOF;
    else err = KXSUP_CheckSize(&bytes, (uint64_t)length);
    uint8_t* data = nullptr;
    if (!err && !(data = static_cast<uint8_t*>(AllocVec(bytes, MEMF_ANY)))) err = KXERR_NOMEMORY;
    if (!err && amRead(f, data, bytes) != (long)bytes) err = KXERR_EOF;
    amClose(f);
    if (!err) {
        const uint32_t declared =
            (uint32_t)data[0] << 24 | (uint32_t)data[1] << 16 | (uint32_t)data[2] << 8 | data[3];
        if (declared > bytes) {
            err = KXERR_EOF;
        } else {
            cmsHPROFILE p = declared >= 128 ? cmsOpenProfileFromMem(data, bytes) : nullptr;
            if (p) cmsCloseProfile(p);
            else err = KXERR_FILEREQUIREMENTS;
        }
    }
    char* copy = nullptr;
    if (!err && name) {
        const char* base = amFilePart(path);
        const size_t n = strlen(base);
        if ((copy = static_cast<char*>(AllocVec(n + 1, MEMF_CLEAR)))) memcpy(copy, base, n);
        else err = KXERR_NOMEMORY;
    }
    if (err) {
        FreeVec(data);
        logLine(2, err == KXERR_EOF ? "Error: File truncated." : "Error: Could not read ICC profile file");
        return err;
    }
    *profile = data;
    *size = bytes;
    if (name) *name = copy;
    return KXERR_NONE;
}

void KXSUP_ReplaceCMSProfile(KXOSpecialInfo* record, uint8_t* profile, uint32_t size, char* name) {
    FreeVec(record->IccData);
    FreeVec(record->IccName);
    record->IccData = profile;
    record->IccSize = profile ? size : 0;
    record->IccName = name;
}

uint32_t KXSUP_WriteCMSProfileFile(const char* path, const uint8_t* profile, uint32_t size) {
    if (!path || !profile || !size) return KXERR_INTERNALACCESS;
    KXSafeFile sf;
    if (!KXSUP_SafeOpen(&sf, path)) return KXERR_NODESTFILE;
    const bool whole = amWrite(sf.File, profile, size) == (long)size;
    const uint32_t err = KXSUP_SafeCommit(&sf, whole);
    return whole ? err : KXERR_IO;
}

uint32_t KXSUP_CreateCMSProfileGamma(uint32_t, double gamma, uint8_t** profile, uint32_t* size) {
    installLogHandler();
    const cmsCIExyY white = {0.3127, 0.329, 1.0};
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.3, 0.6, 1.0}, {0.15, 0.06, 1.0}};
    return gammaProfile(gamma, white, primaries, profile, size);
}

uint32_t KXSUP_CreateCMSProfileGammaWhitePrim(uint32_t, double gamma, const double white[3], const double red[3],
                                              const double green[3], const double blue[3], uint8_t** profile,
                                              uint32_t* size) {
    installLogHandler();
    if (!white || !red || !green || !blue) return KXERR_INTERNALACCESS;
    const cmsCIExyY wp = {white[0], white[1], white[2]};
    const cmsCIExyYTRIPLE primaries = {
        {red[0], red[1], red[2]}, {green[0], green[1], green[2]}, {blue[0], blue[1], blue[2]}};
    return gammaProfile(gamma, wp, primaries, profile, size);
}

bool KXSUP_ResampleToneCurve(const uint16_t* table, uint32_t count, uint16_t out[256]) {
    if (!table || !out || count == 0) return false;
    if (count == 1) {
        for (int i = 0; i < 256; ++i) out[i] = table[0];
        return true;
    }
    for (uint32_t i = 0; i < 256; ++i) {
        // Position i/255 of the way along the table, in 1/255ths of a step.
        const uint64_t pos = (uint64_t)i * (count - 1);
        const uint32_t k = (uint32_t)(pos / 255);
        const uint32_t frac = (uint32_t)(pos % 255);
        if (k + 1 >= count || frac == 0) {
            out[i] = table[k < count ? k : count - 1];
            continue;
        }
        const int64_t a = table[k], b = table[k + 1];
        out[i] = (uint16_t)(a + ((b - a) * (int64_t)frac + (b >= a ? 127 : -127)) / 255);
    }
    return true;
}

uint32_t KXSUP_CreateCMSProfileCurves(uint32_t, const uint16_t* red, const uint16_t* green, const uint16_t* blue,
                                      const float white[2], const float primaries[6], uint8_t** profile,
                                      uint32_t* size, uint32_t entries) {
    installLogHandler();
    if (!white || !primaries || !profile || !size) return KXERR_INTERNALACCESS;
    const uint16_t* tables[3] = {red, green, blue};
    cmsToneCurve* curves[3] = {nullptr, nullptr, nullptr};
    bool missingTable = false;
    for (int c = 0; c < 3; ++c) {
        if (!tables[c]) {
            missingTable = true;
            continue;
        }
        if (entries == 256) {
            curves[c] = cmsBuildTabulatedToneCurve16(nullptr, 256, tables[c]);
        } else {
            uint16_t resampled[256];
            if (KXSUP_ResampleToneCurve(tables[c], entries, resampled))
                curves[c] = cmsBuildTabulatedToneCurve16(nullptr, 256, resampled);
        }
    }
    if (missingTable) logLine(2, "Error: One of the 3 Curves is NULL (1)");
    uint32_t err = KXERR_NONE;
    if (!curves[0] || !curves[1] || !curves[2]) {
        logLine(2, "Error: One of the 3 Curves is NULL (2)");
        err = KXERR_FILEREQUIREMENTS;
    } else {
        const cmsCIExyY wp = {white[0], white[1], 1.0};
        const cmsCIExyYTRIPLE prim = {
            {primaries[0], primaries[1], 1.0}, {primaries[2], primaries[3], 1.0}, {primaries[4], primaries[5], 1.0}};
        err = buildRGBProfile(wp, prim, curves, profile, size);
    }
    for (cmsToneCurve* c : curves)
        if (c) cmsFreeToneCurve(c);
    return err;
}
