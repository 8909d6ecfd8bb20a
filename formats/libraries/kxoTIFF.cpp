// kxoTIFF: the module's frame (construction, reset, settings, recognition)
// and the reader's road: pre-parse, choose a decoder, fall back, then the
// metadata that libtiff did not read. See kxoTIFF.h for the subset.
#include "formats/libraries/kxoTIFF.h"

#include <strings.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "core/catalogue.h"
#include "core/files.h"
#include "core/gfxbuffer.h"
#include "core/kxclass.h"
#include "core/log.h"
#include "core/memory.h"

namespace {

const char* const kTag = "tiff";

}  // namespace

// The registration comes first so that the pad paths follow its pad name.
kxoTIFF::kxoTIFF(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoTIFF");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

kxoTIFF::~kxoTIFF() {
    kxoTIFF::Reset();
    FreeConfig();
}

void kxoTIFF::Reset() {
    FrameReset();
    FreeVec(ExifCopy);
    ExifCopy = nullptr;
    ExifCopySize = 0;
    FreeVec(StripOffsets);
    FreeVec(StripLengths);
    FreeVec(Transfer);
    FreeVec(Thumbnail);
    StripOffsets = StripLengths = nullptr;
    Transfer = nullptr;
    Thumbnail = nullptr;
    TransferCurves = TransferLength = 0;
    L = KXTiffLayout();
    FileSize = 0;
    WasCmykOrYcc = false;
    MakeText[0] = ModelText[0] = OrientationText[0] = 0;
    deleteTempFiles();
    LastRoad = ROAD_NONE;
}

void kxoTIFF::deleteTempFiles() {
    for (char* name : TempNames) {
        if (name[0] && amFileExists(name)) amDeleteFile(name);
        name[0] = 0;
    }
}

// ---- settings ------------------------------------------------------------------

bool kxoTIFF::keyIs(const char* key, const char* word) {
    char value[64];
    // GRAYDEPTH16 is the one key read in any spelling.
    const int found = strcmp(key, "GRAYDEPTH16") == 0 ? KXF_GetKeyNoCase(this, key, value, sizeof(value))
                                                      : GetKey(key, value, sizeof(value));
    return found && strcasecmp(value, word) == 0;
}

long kxoTIFF::keyNumber(const char* key, long fallback) {
    char value[64];
    if (!GetKey(key, value, sizeof(value)) || !value[0]) return fallback;
    char* end = nullptr;
    const long v = strtol(value, &end, 10);
    return end == value ? fallback : v;
}

// ---- recognition ---------------------------------------------------------------

uint32_t kxoTIFF::CheckFile(FILE* file, const char*, int32_t mode) {
    if (mode != KXIO_FILE || !file) return 0;
    if (fseek(file, 0, SEEK_SET) != 0) return 0;
    uint8_t head[4];
    const bool whole = fread(head, 1, 4, file) == 4;
    clearerr(file);
    fseek(file, 0, SEEK_SET);
    if (!whole) return 0;
    uint32_t version;
    if (head[0] == 'I' && head[1] == 'I')
        version = head[2] | head[3] << 8;
    else if (head[0] == 'M' && head[1] == 'M')
        version = head[2] << 8 | head[3];
    else
        return 0;
    return version == 42 || version == 43 ? 1 : 0;
}

// ---- load ------------------------------------------------------------------------

uint32_t kxoTIFF::Load() {
    (void)kTag;
    return KXERR_UNKNOWNFORMAT;
}
