// object: KXObject, the base class of every format, dump and import module,
// the metadata record KXOSpecialInfo and its Photoshop IPTC header.
//
// Every module class that overrides Reset must also declare a destructor
// that runs its own Reset and then FreeConfig (a base destructor cannot
// reach the override):   ~kxoXYZ() override { kxoXYZ::Reset(); FreeConfig(); }
#pragma once

#include <cstdio>
#include <cstring>

#include "controlpad.h"
#include "kxtypes.h"

struct KXOSpecialInfo {
    uint32_t Version;
    uint32_t Unlinked;
    uint32_t SubFormat;
    char* Anno;
    char* Auth;
    char* Copy;
    char* Name;
    char* More1;
    char* More2;
    char* More3;
    char* More4;
    uint8_t* Exif;
    uint8_t* Iptc;
    uint8_t* Xmp0;
    uint8_t* Xmp1;
    uint32_t ExifSize;
    uint32_t IptcSize;
    uint32_t Xmp0Size;
    uint32_t Xmp1Size;
    char* IccName;
    uint8_t* IccData;
    uint32_t IccSize;
    uint32_t IccType;  // 0 embedded or none, 1 sRGB declared, 3 generated
    uint32_t SRGBIntent;
    char* Compression;
    uint32_t Orientation;
};

// The 6 bytes in front of the TIFF header of an EXIF block.
inline constexpr uint8_t KX_ExifPrefix[6] = {'E', 'x', 'i', 'f', 0, 0};

// The 26 bytes in front of the IPTC records.
struct Ps3IptcHeader {
    char Photoshop[14];     // "Photoshop 3.0\0"
    char Bim[4];            // "8BIM"
    uint8_t ResourceId[2];  // 0x04 0x04
    uint8_t Name[2];        // 0 0
    uint8_t Length[4];      // big-endian
};
static_assert(sizeof(Ps3IptcHeader) == 26, "IPTC header is 26 bytes");

// Writes the header for length bytes of IPTC records to out (26 bytes).
inline void KX_WritePs3IptcHeader(void* out, uint32_t length) {
    Ps3IptcHeader h = {};
    memcpy(h.Photoshop, "Photoshop 3.0", 14);
    memcpy(h.Bim, "8BIM", 4);
    h.ResourceId[0] = h.ResourceId[1] = 0x04;
    for (int i = 0; i < 4; ++i) h.Length[i] = static_cast<uint8_t>(length >> (24 - 8 * i));
    memcpy(out, &h, sizeof(h));
}

class KXObject {
public:
    explicit KXObject(KXClass* lib);  // null: _KXClass
    KXObject();                       // modules initialise everything themselves
    virtual ~KXObject();

    virtual void Reset();
    virtual void SetLocalConfig(List* settings);
    virtual void Configure(const TagItem* tags);
    virtual void FreeConfig();
    virtual KXOSpecialInfo* GetSpecialInfo();
    virtual void SetSpecialInfo(KXOSpecialInfo* info);
    virtual void SetLoadMeta(uint32_t flag);
    virtual void SetSaveMeta(uint32_t flag);
    virtual void SetLog(KXLog* log);
    virtual uint32_t Save();
    virtual uint32_t SetIOMode(int32_t mode);
    virtual uint32_t SetSubFormat(uint32_t index);
    virtual uint32_t SetSaveName(const char* path);
    virtual uint32_t SetReadName(const char* path);
    virtual uint32_t CheckFile(FILE* file, const char* name, int32_t mode);
    virtual uint32_t Load();
    virtual uint32_t GetGfxBuffer(KX_GfxBuffer** buffer);
    virtual uint32_t SetGfxBuffer(KX_GfxBuffer* buffer);
    virtual uint32_t DetachGfxBuffer(KX_GfxBuffer** buffer);
    virtual uint32_t GetExtension(char* buffer);
    virtual uint32_t SetProgress(KXProgressHook hook, uintptr_t user);

    // Copies the registration of the catalogue entry with this class name
    // (pad name, version 1, format name, subtypes, capability word).
    void ApplyRegistration(const char* className);

    // Finds a key in the module's settings: the pad of the settings list in
    // use named by PadPath, else the settings pad file read for this one
    // look-up. Case-sensitive key. Returns 1 and copies the value (at most
    // size-1 characters, empty for a key without "=") when found.
    int GetKey(const char* key, char* value, size_t size);
    // The pad GetKey reads from, for readers with their own rules (any-case
    // keys, presence switches). A pad read from a file is also put in
    // *loaded; the caller frees it with KXSUP_FreeControlPad.
    KX_ControlPad* KeyPad(KX_ControlPad** loaded);

    // ---- registration and configuration ----
    const char* PadName = "Missing.controlpad";
    List* PadList = nullptr;
    char* PadPathSettings = nullptr;  // owned
    char* PadPathArchive = nullptr;   // owned
    List OwnPadList = {};
    KXPadNode OwnPadNode = {};
    uint32_t LoadMetaFlag = 0;
    uint32_t SaveMetaFlag = 0;
    const char* PadPath = nullptr;  // settings pad path, or the bare pad name
    uint32_t Version = 1;
    char FormatName[32] = {};
    uint32_t SubFormatCount = 0;
    // 16 characters and the terminating zero per slot.
    char SubFormatNames[16][17] = {};
    uint32_t SubFormatIds[16] = {};
    uint32_t Capabilities = 0;
    KXLog* Log = nullptr;
    KXClass* Lib = nullptr;
    KXOSpecialInfo* SpecialInfo = nullptr;  // record in use
    KXOSpecialInfo OwnSpecialInfo = {};

    // ---- metadata fields filled by Load (owned; AllocVec blocks) ----
    uint32_t SubFormatId = 0;
    char* Anno = nullptr;
    char* Auth = nullptr;
    char* Copy = nullptr;
    char* Name = nullptr;
    char* More1 = nullptr;
    char* More2 = nullptr;
    char* More3 = nullptr;
    char* More4 = nullptr;
    uint8_t* Exif = nullptr;
    uint32_t ExifSize = 0;
    uint8_t* Iptc = nullptr;
    uint32_t IptcSize = 0;
    uint8_t* Xmp0 = nullptr;
    uint32_t Xmp0Size = 0;
    uint8_t* Xmp1 = nullptr;
    uint32_t Xmp1Size = 0;
    char* Compression = nullptr;
    uint32_t Orientation = 0;
    char* IccName = nullptr;
    uint8_t* IccData = nullptr;
    uint32_t IccSize = 0;
    uint32_t IccType = 0;
    uint32_t SRGBIntent = 0;
    uint8_t* AlphaMap8 = nullptr;
    uint32_t AlphaMap8Owned = 0;
    uint16_t* AlphaMap16 = nullptr;
    uint32_t AlphaMap16Owned = 0;

    // ---- working fields every format class has ----
    FILE* ReadFile = nullptr;
    FILE* WriteFile = nullptr;
    const char* ReadName = "";
    const char* SaveName = "";
    uint32_t SelectedSubFormat = 0;
    int32_t IOMode = KXIO_FILE;
    KX_GfxBuffer* LoadedBuffer = nullptr;
    KX_GfxBuffer* SaveBuffer = nullptr;
    // A defect the last Load got past, keeping the picture (the error code
    // it would have given, such as KXERR_EOF for data that ended early);
    // 0 for none.
    uint32_t LoadWarning = 0;
    KXProgress Progress = {};
    KXProgressHook ProgressHook = nullptr;
    uintptr_t ProgressUser = 0;

protected:
    // Pad paths, metadata clearing, log (base initialisation).
    void BaseInit();
    // Releases what the base owns without initialising again.
    void BaseRelease();
    // The shared part of a format class's Reset: base Reset, close the
    // files, free the loaded buffer, forget the buffer to save, clear the
    // working fields. A class's Reset calls it, then frees its own blocks.
    void FrameReset();
    void InitWorkingFields();
    // Reports Percent to the hook, when one is set.
    void ReportProgress(uint32_t percent);
};
