// object: KXObject, the base of every format, dump and import module: pad
// paths and settings lookup, the metadata fields and record, the log, and
// the shared part of a format class's Reset. Operations a module does not
// offer answer KXERR_NOTSUPPORTED.
#include "object.h"

#include <cstring>

#include "catalogue.h"
#include "files.h"
#include "gfxbuffer.h"
#include "kxclass.h"
#include "libstate.h"
#include "log.h"
#include "memory.h"

// ---- shared with KXOperator ----
namespace kxbase {

void MakePadPaths(KXClass* lib, const char* padName, char** settings, char** archive, const char** inUse) {
    *settings = *archive = nullptr;
    if (!padName) {
        *inUse = "";
        return;
    }
    const char* sdir = lib && lib->SettingsDir ? lib->SettingsDir : KX_GetProcessSettingsDir();
    const char* adir = lib && lib->ArchiveSettingsDir ? lib->ArchiveSettingsDir : KX_GetProcessArchiveSettingsDir();
    size_t np = strlen(padName);
    size_t ns = strlen(sdir), na = strlen(adir);
    if (char* s = static_cast<char*>(AllocVec(ns + np + 1, MEMF_ANY))) {
        memcpy(s, sdir, ns);
        memcpy(s + ns, padName, np + 1);
        *settings = s;
    }
    if (char* a = static_cast<char*>(AllocVec(na + np + 1, MEMF_ANY))) {
        memcpy(a, adir, na);
        memcpy(a + na, padName, np + 1);
        *archive = a;
    }
    *inUse = *settings ? *settings : padName;
}

void FreePadPaths(char** settings, char** archive, const char** inUse) {
    FreeVec(*settings);
    FreeVec(*archive);
    *settings = *archive = nullptr;
    *inUse = nullptr;
}

void InitPadList(List* list, KXPadNode* node) {
    NewList(list);
    node->node = {};
    node->Pad = nullptr;
    node->NameBuf[0] = 0;
    node->node.Name = node->NameBuf;
}

List* LoadOwnPad(KXLog* log, const char* padName, const char* padPath, const char* settingsPath,
                 const char* archivePath, List* list, KXPadNode* node) {
    NewList(list);
    strncpy(node->NameBuf, padPath ? padPath : "", sizeof(node->NameBuf) - 1);
    node->NameBuf[sizeof(node->NameBuf) - 1] = 0;
    node->node.Name = node->NameBuf;
    const char* first = settingsPath ? settingsPath : (padPath ? padPath : "");
    if (log) log->Log(5, "%-16s: Loading from '%s'\n", padName, first);
    KX_ControlPad* pad = nullptr;
    if (!KXSUP_LoadControlPad(first, &pad)) {
        pad = nullptr;
        if (log) {
            log->Log(5, "%-16s: Failed.\n", padName);
            log->Log(5, "%-16s: Now loading from '%s'\n", padName, archivePath ? archivePath : "");
        }
        if (!archivePath || !KXSUP_LoadControlPad(archivePath, &pad)) return nullptr;
    }
    if (log) log->Log(5, "%-16s: Loaded.\n", padName);
    node->Pad = pad;
    AddTail(list, &node->node);
    return list;
}

void FreeOwnPad(List** inUse, List* list, KXPadNode* node) {
    if (node->Pad) KXSUP_FreeControlPad(node->Pad);
    node->Pad = nullptr;
    *inUse = nullptr;
    NewList(list);
}

void ReadConfigTags(KXLog* log, const char* padName, const TagItem* tags, List** padList, KXOSpecialInfo** specialInfo) {
    if (log) log->Log(5, "%-16s: Configure...\n", padName);
    if (!tags) return;
    if (TagItem* t = FindTagItem(KXTAG_LocalConfig, tags)) {
        *padList = reinterpret_cast<List*>(t->Data);
        if (log) log->Log(9, "%-16s: LocalConfig SET\n", padName);
    }
    if (!specialInfo) return;
    if (TagItem* t = FindTagItem(KXTAG_SpecialInfo, tags)) {
        *specialInfo = reinterpret_cast<KXOSpecialInfo*>(t->Data);
        if (log) log->Log(9, "%-16s: SpecialInfo SET\n", padName);
    }
}

KX_ControlPad* KeyPad(List* padList, const char* padPath, const char* settingsPath, const char* archivePath,
                      KX_ControlPad** loaded) {
    *loaded = nullptr;
    KXPadNode* node = padList && padPath ? KXCP_FindName(padList, padPath) : nullptr;
    if (node) return node->Pad;
    // The order Configure reads in: the settings pad, else the archive pad.
    if ((settingsPath && KXSUP_LoadControlPad(settingsPath, loaded)) ||
        (archivePath && KXSUP_LoadControlPad(archivePath, loaded)))
        return *loaded;
    *loaded = nullptr;
    return nullptr;
}

int GetKey(List* padList, const char* padPath, const char* settingsPath, const char* archivePath,
           const char* key, char* value, size_t size) {
    if (value && size) value[0] = 0;
    if (!key) return 0;
    KX_ControlPad* loaded = nullptr;
    KX_ControlPad* pad = KeyPad(padList, padPath, settingsPath, archivePath, &loaded);
    char* v = nullptr;
    int found = pad && KXSUP_FindControlPad(pad, key, &v) ? 1 : 0;
    if (found && value && size) {
        size_t n = v ? strlen(v) : 0;
        if (n > size - 1) n = size - 1;
        if (n) memcpy(value, v, n);
        value[n] = 0;
    }
    if (loaded) KXSUP_FreeControlPad(loaded);
    return found;
}

}  // namespace kxbase

KXObject::KXObject(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    PadName = "Missing.controlpad";
    BaseInit();
}

KXObject::KXObject() {}

KXObject::~KXObject() {
    BaseRelease();
    // A class's own Reset has normally emptied these already.
    if (ReadFile) amClose(ReadFile);
    if (WriteFile) amClose(WriteFile);
    KXSUP_FreeGfxBuffer(LoadedBuffer);
    ReadFile = WriteFile = nullptr;
    LoadedBuffer = nullptr;
}

void KXObject::BaseInit() {
    kxbase::MakePadPaths(Lib, PadName, &PadPathSettings, &PadPathArchive, &PadPath);
    SpecialInfo = nullptr;
    OwnSpecialInfo = {};
    LoadMetaFlag = SaveMetaFlag = 0;
    SubFormatId = 0;
    Anno = Auth = Copy = Name = More1 = More2 = More3 = More4 = nullptr;
    Exif = Iptc = Xmp0 = Xmp1 = nullptr;
    ExifSize = IptcSize = Xmp0Size = Xmp1Size = 0;
    Compression = nullptr;
    Orientation = 0;
    IccName = nullptr;
    IccData = nullptr;
    IccSize = IccType = SRGBIntent = 0;
    AlphaMap8 = nullptr;
    AlphaMap8Owned = 0;
    AlphaMap16 = nullptr;
    AlphaMap16Owned = 0;
    kxbase::InitPadList(&OwnPadList, &OwnPadNode);
    PadList = nullptr;
    Log = Lib ? Lib->GetLog() : __kxlib_log_global;
}

void KXObject::BaseRelease() {
    kxbase::FreePadPaths(&PadPathSettings, &PadPathArchive, &PadPath);
    char** texts[] = {&Anno, &Auth, &Copy, &Name, &More1, &More2, &More3, &More4, &Compression, &IccName};
    for (char** t : texts) {
        FreeVec(*t);
        *t = nullptr;
    }
    uint8_t** blocks[] = {&Exif, &Iptc, &Xmp0, &Xmp1, &IccData};
    for (uint8_t** b : blocks) {
        FreeVec(*b);
        *b = nullptr;
    }
    if (AlphaMap8Owned) FreeVec(AlphaMap8);
    if (AlphaMap16Owned) FreeVec(AlphaMap16);
    AlphaMap8 = nullptr;
    AlphaMap16 = nullptr;
    AlphaMap8Owned = AlphaMap16Owned = 0;
    // The record borrowed the blocks just freed.
    SpecialInfo = nullptr;
    OwnSpecialInfo = {};
    KXObject::FreeConfig();
}

void KXObject::Reset() {
    BaseRelease();
    BaseInit();
}

void KXObject::InitWorkingFields() {
    ReadFile = WriteFile = nullptr;
    ReadName = SaveName = "";
    SubFormatId = 0;
    SelectedSubFormat = 0;
    IOMode = KXIO_FILE;
    LoadedBuffer = SaveBuffer = nullptr;
    LoadWarning = 0;
    ProgressHook = nullptr;
    ProgressUser = 0;
}

void KXObject::FrameReset() {
    KXObject::Reset();
    if (ReadFile) amClose(ReadFile);
    if (WriteFile) amClose(WriteFile);
    KXSUP_FreeGfxBuffer(LoadedBuffer);
    InitWorkingFields();
}

void KXObject::ReportProgress(uint32_t percent) {
    Progress.Percent = percent;
    if (ProgressHook) ProgressHook(&Progress, ProgressUser);
}

void KXObject::SetLocalConfig(List* settings) {
    if (!settings) return;
    TagItem tags[2] = {{KXTAG_LocalConfig, reinterpret_cast<uintptr_t>(settings)}, {TAG_DONE, 0}};
    Configure(tags);
}

void KXObject::Configure(const TagItem* tags) {
    FreeConfig();
    kxbase::ReadConfigTags(Log, PadName, tags, &PadList, &SpecialInfo);
    if (!PadList) PadList = kxbase::LoadOwnPad(Log, PadName, PadPath, PadPathSettings, PadPathArchive, &OwnPadList, &OwnPadNode);
}

void KXObject::FreeConfig() { kxbase::FreeOwnPad(&PadList, &OwnPadList, &OwnPadNode); }

int KXObject::GetKey(const char* key, char* value, size_t size) {
    return kxbase::GetKey(PadList, PadPath, PadPathSettings, PadPathArchive, key, value, size);
}

KX_ControlPad* KXObject::KeyPad(KX_ControlPad** loaded) {
    return kxbase::KeyPad(PadList, PadPath, PadPathSettings, PadPathArchive, loaded);
}

void KXObject::ApplyRegistration(const char* className) {
    const KXFormatReg* reg = KX_FindFormatReg(className);
    if (!reg) return;
    PadName = reg->PadName;
    Version = 1;
    memset(FormatName, 0, sizeof(FormatName));
    strncpy(FormatName, reg->FormatName, sizeof(FormatName) - 1);
    SubFormatCount = reg->SubFormatCount;
    memset(SubFormatNames, 0, sizeof(SubFormatNames));
    memset(SubFormatIds, 0, sizeof(SubFormatIds));
    for (uint32_t i = 0; i < reg->SubFormatRegistered && i < 16; i++) {
        if (reg->SubFormatNames[i]) strncpy(SubFormatNames[i], reg->SubFormatNames[i], sizeof(SubFormatNames[i]) - 1);
        SubFormatIds[i] = reg->SubFormatIds[i];
    }
    Capabilities = reg->Capabilities;
}

KXOSpecialInfo* KXObject::GetSpecialInfo() {
    if (!LoadMetaFlag) return nullptr;
    if (SpecialInfo) return SpecialInfo;
    KXOSpecialInfo& r = OwnSpecialInfo;
    r = {};
    r.Version = 1;
    r.SubFormat = SubFormatId;
    r.Anno = Anno;
    r.Auth = Auth;
    r.Copy = Copy;
    r.Name = Name;
    r.More1 = More1;
    r.More2 = More2;
    r.More3 = More3;
    r.More4 = More4;
    r.Exif = Exif;
    r.ExifSize = ExifSize;
    r.Iptc = Iptc;
    r.IptcSize = IptcSize;
    r.Xmp0 = Xmp0;
    r.Xmp0Size = Xmp0Size;
    r.Xmp1 = Xmp1;
    r.Xmp1Size = Xmp1Size;
    r.IccName = IccName;
    r.IccData = IccData;
    r.IccSize = IccSize;
    r.IccType = IccType;
    r.SRGBIntent = SRGBIntent;
    r.Compression = Compression;
    r.Orientation = Orientation;
    SpecialInfo = &r;
    return SpecialInfo;
}

void KXObject::SetSpecialInfo(KXOSpecialInfo* info) {
    if (SaveMetaFlag) SpecialInfo = info;
}

void KXObject::SetLoadMeta(uint32_t flag) { LoadMetaFlag = flag; }
void KXObject::SetSaveMeta(uint32_t flag) { SaveMetaFlag = flag; }
void KXObject::SetLog(KXLog* log) { Log = log ? log : __kxlib_log_global; }

uint32_t KXObject::Save() { return KXERR_NOTSUPPORTED; }
uint32_t KXObject::SetIOMode(int32_t) { return KXERR_NOTSUPPORTED; }
uint32_t KXObject::SetSubFormat(uint32_t) { return KXERR_NOTSUPPORTED; }
uint32_t KXObject::SetSaveName(const char*) { return KXERR_NOTSUPPORTED; }
uint32_t KXObject::SetReadName(const char*) { return KXERR_NOTSUPPORTED; }
uint32_t KXObject::CheckFile(FILE*, const char*, int32_t) { return KXERR_NOTSUPPORTED; }
uint32_t KXObject::Load() { return KXERR_NOTSUPPORTED; }
uint32_t KXObject::GetGfxBuffer(KX_GfxBuffer**) { return KXERR_NOTSUPPORTED; }
uint32_t KXObject::SetGfxBuffer(KX_GfxBuffer*) { return KXERR_NOTSUPPORTED; }
uint32_t KXObject::DetachGfxBuffer(KX_GfxBuffer**) { return KXERR_NOTSUPPORTED; }
uint32_t KXObject::GetExtension(char*) { return KXERR_NOTSUPPORTED; }
uint32_t KXObject::SetProgress(KXProgressHook, uintptr_t) { return KXERR_NOTSUPPORTED; }
