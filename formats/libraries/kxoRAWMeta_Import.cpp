// kxoRAWMeta_Import: a raw metadata block into a metadata slot (see
// kxoRAWMeta_Import.h).
#include "formats/libraries/kxoRAWMeta_Import.h"

#include <strings.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

namespace {
const char* const TAG = "rawmeta-import";

// A dump written without its wrapper (kxoRAWMeta's RAW types) holds bare
// TIFF-structured EXIF data or bare IPTC-NAA records. The record's blocks
// carry the wrapper, which writers emit as it stands, so it is put back.

uint32_t wrapperFor(const char* slot, const uint8_t* head, uint64_t length) {
    if (strcmp(slot, "EXIF") == 0 && length >= 4 &&
        (memcmp(head, "II*\0", 4) == 0 || memcmp(head, "MM\0*", 4) == 0))
        return sizeof(KX_ExifPrefix);
    // IPTC-NAA records begin with their tag marker 0x1C.
    if (strcmp(slot, "IPTC") == 0 && length >= 1 && head[0] == 0x1C) return sizeof(Ps3IptcHeader);
    return 0;
}

void writeWrapper(uint8_t* block, uint32_t wrapper, uint64_t length) {
    if (wrapper == sizeof(KX_ExifPrefix)) {
        memcpy(block, KX_ExifPrefix, sizeof(KX_ExifPrefix));
        return;
    }
    KX_WritePs3IptcHeader(block, static_cast<uint32_t>(length));
}
}  // namespace

kxoRAWMeta_Import::kxoRAWMeta_Import(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    ApplyRegistration("kxoRAWMeta_Import");
    BaseInit();
    InitWorkingFields();
    Configure(nullptr);
}

void kxoRAWMeta_Import::Reset() { FrameReset(); }

uint32_t kxoRAWMeta_Import::Load() {
    if (IOMode != KXIO_DEVICE) return KXERR_NOTSUPPORTED;
    KXSUP_FreeGfxBuffer(LoadedBuffer);
    LoadedBuffer = nullptr;
    std::string name;
    uint32_t err = KXCONV_LoadName(this, &name);
    if (err != KXERR_NONE) return err;
    ReadFile = amOpen(name.c_str(), "rb");
    if (!ReadFile) return KXERR_FILENOTFOUND;
    err = readBlock();
    amClose(ReadFile);
    ReadFile = nullptr;
    if (err == KXERR_NONE) err = makePlaceholder();
    return err;
}

uint32_t kxoRAWMeta_Import::readBlock() {
    struct Slot {
        const char* word;
        uint8_t** block;
        uint32_t* size;
        char** text;
    };
    const Slot slots[8] = {{"EXIF", &Exif, &ExifSize, nullptr}, {"IPTC", &Iptc, &IptcSize, nullptr},
                           {"XMP0", &Xmp0, &Xmp0Size, nullptr}, {"XMP1", &Xmp1, &Xmp1Size, nullptr},
                           {"AUTH", nullptr, nullptr, &Auth},   {"ANNO", nullptr, nullptr, &Anno},
                           {"COPY", nullptr, nullptr, &Copy},   {"NAME", nullptr, nullptr, &Name}};
    const std::string format = KXCONV_Key(this, "FORMAT", "EXIF");
    const Slot* slot = &slots[0];
    for (const Slot& s : slots)
        if (strcasecmp(format.c_str(), s.word) == 0) slot = &s;

    // Only a regular file has a size to read whole; anything else (a
    // folder, say, which opens but cannot be read) is a stream error.
    struct stat st;
    if (fstat(fileno(ReadFile), &st) != 0 || !S_ISREG(st.st_mode)) return KXERR_EOF;
    KXByteReader r(ReadFile);
    if (!r.ok()) return KXERR_EOF;
    const uint64_t length = r.size();
    uint32_t bytes = 0, err;
    // A byte block holds the file; a text one more byte for its zero.
    if (slot->block && length == 0) return KXERR_NOMEMORY;
    uint8_t head[4] = {};
    if (slot->block && r.some(head, sizeof(head)) != (length < 4 ? (size_t)length : 4)) return KXERR_EOF;
    if (slot->block && !r.seek(0)) return KXERR_EOF;
    const uint32_t wrapper = slot->block ? wrapperFor(slot->word, head, length) : 0;
    if ((err = KXSUP_CheckSize(&bytes, length + wrapper + (slot->text ? 1 : 0))) != KXERR_NONE) return err;
    auto* data = static_cast<uint8_t*>(AllocVec(bytes, MEMF_CLEAR));
    if (!data) return KXERR_NOMEMORY;
    // A file that cannot be read whole is an error, not an empty slot.
    if (!r.bytes(data + wrapper, (size_t)length)) {
        FreeVec(data);
        return KXERR_EOF;
    }
    if (wrapper) writeWrapper(data, wrapper, length);
    KXF_Log(this, 5, TAG, "%s: %lu bytes%s\n", slot->word, (unsigned long)length, wrapper ? ", wrapper restored" : "");
    if (slot->block) {
        FreeVec(*slot->block);
        *slot->block = data;
        *slot->size = (uint32_t)(length + wrapper);
    } else {
        FreeVec(*slot->text);
        *slot->text = reinterpret_cast<char*>(data);
    }
    return KXERR_NONE;
}

uint32_t kxoRAWMeta_Import::makePlaceholder() {
    const long width = strtol(KXCONV_Key(this, "WIDTH", "1").c_str(), nullptr, 10);
    const long height = strtol(KXCONV_Key(this, "HEIGHT", "1").c_str(), nullptr, 10);
    const std::string depthText = KXCONV_Key(this, "DEPTH", "8");
    const uint32_t depth = depthText == "24" ? 24 : depthText == "48" ? 48 : 8;
    if (width <= 0 || height <= 0 || width > 0xFFFFFFFFL || height > 0xFFFFFFFFL) return KXERR_FILEREQUIREMENTS;
    KX_GfxBuffer* img = nullptr;
    uint32_t err = KXF_NewImage(&img, ONEPLANE, (uint32_t)width, (uint32_t)height, depth, depth, true);
    if (err != KXERR_NONE) return err;
    img->ViewMode = 0;
    LoadedBuffer = img;
    return KXERR_NONE;
}
