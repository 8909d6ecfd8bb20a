// kxbridge: the bridge functions and their shared state (see kxbridge.h).
#include "kxbridge.h"

#include <cstdlib>
#include <cstring>

#include "core/extrun.h"

KXOperator** kxpAction = nullptr;
KXObject** kxoRead = nullptr;
KXObject** kxoWrite = nullptr;
KXObject** kxoDevRead = nullptr;
KXObject** kxoDevWrite = nullptr;

KXObject* objr = nullptr;
// A reader object of the bridge's own (KX_AdoptReader), deleted at the next
// read reset instead of being reset.
static KXObject* ownReader = nullptr;
KXObject* objw = nullptr;
KXOperator* oper = nullptr;
KX_GfxBuffer* kx_handle = nullptr;
KX_GfxBuffer* kx_handle2 = nullptr;
KXOSpecialInfo* kxi_copy = nullptr;
bool no_meta = false;
uint32_t save_subformat = 0;

std::atomic<int32_t> kx_value_progress{0};
std::atomic<int32_t> kx_update_progress{0};

void KX_SetTables(KXClass* lib) {
    kxpAction = lib ? lib->GetOperators() : nullptr;
    kxoRead = lib ? lib->GetObjects(0) : nullptr;
    kxoWrite = lib ? lib->GetObjects(1) : nullptr;
    kxoDevRead = lib ? lib->GetObjects(2) : nullptr;
    kxoDevWrite = lib ? lib->GetObjects(3) : nullptr;
}

int KX_TableLength(KXObject** table) {
    int n = 0;
    while (table && n < 256 && table[n]) n++;
    return n;
}

int KX_TableLength(KXOperator** table) {
    int n = 0;
    while (table && n < 256 && table[n]) n++;
    return n;
}

// ---- image functions -------------------------------------------------------------

KXObject* KX_CheckFileType(const char* name) {
    if (!name || !kxoRead) return nullptr;
    FILE* f = amOpen(name, "rb");
    if (!f) return nullptr;
    KXObject* found = nullptr;
    // Each reader positions the file itself.
    for (int i = 0; i < 256 && kxoRead[i] && !found; i++)
        if (kxoRead[i]->CheckFile(f, name, 1) == 1) found = kxoRead[i];
    amClose(f);
    return found;
}

int KX_CheckPS(const char* name, char** padPath) {
    if (padPath) *padPath = nullptr;
    const KXFormatReg* reg = KX_FindFormatReg("kxoGS");
    if (!reg) return 0;
    KXObject* ps = KX_NewObject(_KXClass, *reg);
    if (!ps) return 0;
    if (padPath && ps->PadPath) *padPath = strdup(ps->PadPath);
    int answer = 0;
    if (name) {
        if (FILE* f = amOpen(name, "rb")) {
            answer = ps->CheckFile(f, name, 1) == 1 ? 1 : 0;
            amClose(f);
        }
    }
    delete ps;
    return answer;
}

namespace {
uint32_t loadWith(uint32_t loadMeta, const char* name) {
    no_meta = false;
    objr->SetLoadMeta(loadMeta);
    objr->SetProgress(MyProgress, 0);
    if (name) {
        if (uint32_t e = objr->SetReadName(name)) return e;
    }
    if (uint32_t e = objr->Load()) return e;
    KX_GfxBuffer* image = nullptr;
    if (uint32_t e = objr->GetGfxBuffer(&image)) return e;
    kx_handle = image;
    return KXERR_NONE;
}
}  // namespace

uint32_t KX_Load(const char* name, uint32_t loadMeta) {
    KX_ResetHandle(1, 1, 1);
    objr = KX_CheckFileType(name);
    if (!objr) return KXERR_UNKNOWNFORMAT;
    return loadWith(loadMeta, name);
}

uint32_t KX_ReadWithOwnReader(const char* name, uint32_t loadMeta, KXObject** reader) {
    if (!reader) return KXERR_INTERNALACCESS;
    *reader = nullptr;
    KXObject* found = KX_CheckFileType(name);
    if (!found) return KXERR_UNKNOWNFORMAT;
    int index = 0;
    while (kxoRead[index] != found) index++;
    uint32_t count = 0;
    const KXFormatReg* regs = KX_FormatRegs(&count);
    KXObject* own = nullptr;
    for (uint32_t i = 0; regs && i < count && !own; i++)
        if (regs[i].Reader == index) own = KX_NewObject(found->Lib, regs[i]);
    if (!own) return KXERR_NOMEMORY;
    own->SetLoadMeta(loadMeta);
    own->SetProgress(MyProgress, 0);
    KX_GfxBuffer* image = nullptr;
    uint32_t e = own->SetReadName(name);
    if (!e) e = own->Load();
    if (!e) e = own->GetGfxBuffer(&image);
    if (!e && !image) e = KXERR_NOVIEWABLEDATA;
    if (e) {
        delete own;
        return e;
    }
    *reader = own;
    return KXERR_NONE;
}

void KX_AdoptReader(KXObject* reader) {
    KX_ResetHandle(1, 1, 1);
    if (!reader) return;
    KX_GfxBuffer* image = nullptr;
    reader->GetGfxBuffer(&image);
    objr = ownReader = reader;
    kx_handle = image;
    no_meta = false;
}

uint32_t KX_LoadDevice(KXObject* device, KXConfig* settings, uint32_t loadMeta) {
    KX_ResetHandle(1, 1, 1);
    objr = device;
    if (!objr) return KXERR_UNKNOWNFORMAT;
    if (settings) objr->SetLocalConfig(settings->GetPadList());
    no_meta = false;
    objr->SetLoadMeta(loadMeta);
    objr->SetProgress(MyProgress, 0);
    if (uint32_t e = objr->SetIOMode(KXIO_DEVICE)) return e;
    return loadWith(loadMeta, nullptr);
}

KXObject* KX_GetSaveFormat(uint32_t number) {
    if (number >= static_cast<uint32_t>(KX_TableLength(kxoWrite))) return nullptr;
    return kxoWrite[number];
}

void KX_SetSaveFormat(uint32_t number, uint32_t subFormat) {
    objw = KX_GetSaveFormat(number);
    if (objw) objw->SetSubFormat(subFormat);
    save_subformat = subFormat;
}

uint32_t KX_Save(const char* name, uint32_t saveMeta, KXOSpecialInfo* record, KXConfig* writerSettings) {
    KX_ResetHandle(0, 1, 0);
    // Any current image can be saved: one that came from outside (the
    // platform decoder, the clipboard) has no reader of its own.
    KX_GfxBuffer* image = KX_GetGfxBuffer();
    if (!image || !objw) return KXERR_NOVIEWABLEDATA;
    if (writerSettings) objw->SetLocalConfig(writerSettings->GetPadList());
    objw->SetSaveMeta(saveMeta);
    if (saveMeta) objw->SetSpecialInfo(record);
    objw->SetProgress(MyProgress, 0);
    uint32_t result = objw->SetSaveName(name);
    if (!result) {
        objw->SetSubFormat(save_subformat);
        result = objw->SetGfxBuffer(image);
        if (!result) result = objw->Save();
    }
    // The list belongs to the caller: take it back before the writer's reset.
    if (writerSettings) objw->FreeConfig();
    KX_ResetHandle(0, 1, 0);
    return result;
}

uint32_t KX_SaveAlpha(const char* name) {
    KX_ResetHandle(0, 1, 0);
    KX_GfxBuffer* image = KX_GetGfxBuffer();
    if (!image || !objw) return KXERR_NOVIEWABLEDATA;
    objw->SetProgress(MyProgress, 0);
    uint32_t result = objw->SetSaveName(name);
    if (!result) {
        if (KXSUP_AlphaHolds(image) != KXALPHA_CHANNEL8 || !image->AlphaData) {
            result = 0xFFFFFFFFu;
        } else {
            auto* grey = static_cast<KX_GfxBuffer*>(AllocVec(sizeof(KX_GfxBuffer), MEMF_CLEAR));
            if (!grey) {
                result = KXERR_NOMEMORY;
            } else {
                grey->Version = 1;
                grey->Type = ONEPLANE;
                grey->PixelBits = 8;
                grey->ViewMode = 0;
                grey->Width = image->Width;
                grey->Height = image->Height;
                grey->ColorDepth = 8;
                for (int i = 0; i < 256; i++) grey->Palette[i * 3] = grey->Palette[i * 3 + 1] = grey->Palette[i * 3 + 2] = static_cast<uint8_t>(i);
                grey->Data = KXSUP_AlphaBytes(image);  // lent, not copied
                grey->BufferSize = image->Width * image->Height;
                objw->SetSubFormat(save_subformat);
                result = objw->SetGfxBuffer(grey);
                if (!result) result = objw->Save();
                // The writer forgets the record at its reset below; free only the record.
                KX_ResetHandle(0, 1, 0);
                FreeVec(grey);
                return result;
            }
        }
    }
    KX_ResetHandle(0, 1, 0);
    return result;
}

KX_GfxBuffer* KX_GetGfxBuffer() {
    if (oper) {
        KX_GfxBuffer* result = nullptr;
        if (oper->DetachResult(&result) == KXERR_NONE && result) {
            KXSUP_FreeGfxBuffer(kx_handle2);
            kx_handle2 = result;
            oper = nullptr;
        }
    }
    return kx_handle2 ? kx_handle2 : kx_handle;
}

void KX_SetGfxBuffer(KX_GfxBuffer* image) {
    if (kx_handle2 != image) KXSUP_FreeGfxBuffer(kx_handle2);
    kx_handle2 = image;
    oper = nullptr;
}

void KX_ResetHandle(uint32_t read, uint32_t write, uint32_t op) {
    if (read) {
        if (objr && objr == ownReader) delete objr;
        else if (objr) objr->Reset();
        objr = ownReader = nullptr;
        KXSUP_FreeGfxBuffer(kx_handle2);
        kx_handle = kx_handle2 = nullptr;
        KX_FreeMetaData(kxi_copy);
        kxi_copy = nullptr;
    }
    if (write && objw) objw->Reset();
    if (op && oper) {
        oper->Reset();
        oper = nullptr;
    }
}

// ---- metadata ---------------------------------------------------------------------

KXOSpecialInfo* KX_GetMetaData() { return KX_GetMetaDataCheck(1); }

KXOSpecialInfo* KX_GetMetaDataCheck(uint32_t check) {
    if (!objr || no_meta) return nullptr;
    KXOSpecialInfo* r = kxi_copy ? kxi_copy : objr->GetSpecialInfo();
    if (!r || !check) return r;
    bool any = r->Anno || r->Auth || r->Copy || r->Name || r->More1 || r->More2 || r->More3 || r->More4 || r->Exif ||
               r->Iptc || r->Xmp0 || r->Xmp1 || r->ExifSize || r->IptcSize || r->Xmp0Size || r->Xmp1Size || r->IccName ||
               r->IccData || r->IccSize || r->IccType || r->SRGBIntent || r->Compression || r->Orientation;
    return any ? r : nullptr;
}

uint32_t KX_IsUnlinkedMetaData() { return kxi_copy ? 1 : 0; }

uint32_t KX_UnLinkMetaData() {
    KXOSpecialInfo* r = KX_GetMetaData();
    if (!r) return KXERR_EOF;
    if (kxi_copy) return KXERR_NONE;
    return KX_CloneMetaData(r, &kxi_copy);
}

uint32_t KX_CreateMetaData() {
    if (kxi_copy) return KXERR_NONE;
    auto* r = static_cast<KXOSpecialInfo*>(AllocVec(sizeof(KXOSpecialInfo), MEMF_CLEAR));
    if (!r) return KXERR_NOMEMORY;
    r->Version = 1;
    r->Unlinked = 1;
    kxi_copy = r;
    return KXERR_NONE;
}

namespace {
bool copyText(const char* from, char** to) {
    if (!from) return true;
    size_t n = strlen(from) + 1;
    *to = static_cast<char*>(AllocVec(n, MEMF_ANY));
    if (!*to) return false;
    memcpy(*to, from, n);
    return true;
}

bool copyBlock(const uint8_t* from, uint32_t size, uint8_t** to) {
    if (!from || !size) return true;
    *to = static_cast<uint8_t*>(AllocVec(size, MEMF_ANY));
    if (!*to) return false;
    memcpy(*to, from, size);
    return true;
}
}  // namespace

uint32_t KX_CloneMetaData(const KXOSpecialInfo* r, KXOSpecialInfo** copy) {
    if (!copy) return KXERR_INTERNALACCESS;
    *copy = nullptr;
    if (!r) return KXERR_INTERNALACCESS;
    auto* c = static_cast<KXOSpecialInfo*>(AllocVec(sizeof(KXOSpecialInfo), MEMF_CLEAR));
    if (!c) return KXERR_NOMEMORY;
    c->Version = r->Version;
    c->SubFormat = r->SubFormat;
    c->Unlinked = 1;
    bool ok = copyText(r->Anno, &c->Anno) && copyText(r->Auth, &c->Auth) && copyText(r->Copy, &c->Copy) &&
              copyText(r->Name, &c->Name) && copyText(r->More1, &c->More1) && copyText(r->More2, &c->More2) &&
              copyText(r->More3, &c->More3) && copyText(r->More4, &c->More4) && copyText(r->IccName, &c->IccName) &&
              copyText(r->Compression, &c->Compression) && copyBlock(r->Exif, r->ExifSize, &c->Exif) &&
              copyBlock(r->Iptc, r->IptcSize, &c->Iptc) && copyBlock(r->Xmp0, r->Xmp0Size, &c->Xmp0) &&
              copyBlock(r->Xmp1, r->Xmp1Size, &c->Xmp1) && copyBlock(r->IccData, r->IccSize, &c->IccData);
    if (!ok) {
        KX_FreeMetaData(c);
        return KXERR_NOMEMORY;
    }
    // A size without its block is not carried over: the copy never claims
    // bytes it does not hold.
    c->ExifSize = c->Exif ? r->ExifSize : 0;
    c->IptcSize = c->Iptc ? r->IptcSize : 0;
    c->Xmp0Size = c->Xmp0 ? r->Xmp0Size : 0;
    c->Xmp1Size = c->Xmp1 ? r->Xmp1Size : 0;
    c->IccSize = c->IccData ? r->IccSize : 0;
    c->IccType = r->IccType;
    c->SRGBIntent = r->SRGBIntent;
    c->Orientation = r->Orientation;
    *copy = c;
    return KXERR_NONE;
}

void KX_FreeMetaData(KXOSpecialInfo* r) {
    if (!r) return;
    for (char* t : {r->Anno, r->Auth, r->Copy, r->Name, r->More1, r->More2, r->More3, r->More4, r->IccName, r->Compression})
        FreeVec(t);
    for (uint8_t* b : {r->Exif, r->Iptc, r->Xmp0, r->Xmp1, r->IccData}) FreeVec(b);
    *r = {};
    FreeVec(r);
}

void KX_StripMetaData() { no_meta = true; }

// ---- services -----------------------------------------------------------------------

void MyProgress(KXProgress* progress, uintptr_t) {
    if (!progress) return;
    uint32_t p = progress->Percent;
    // The poller may read at any moment: publish only values of 0..100.
    kx_value_progress.store(p > 100 ? 99 : static_cast<int32_t>(p));
    kx_update_progress.store(p == 100 ? 2 : 1);
}

namespace {
thread_local int lastExit = -1;

// The exit code is not examined here: callers check the files the program
// made, and those that trust its code ask KX_LastExitCode.
uint32_t runProgram(const char* program, const char* workDir, const char* const* args, const char* outputFile) {
    return KX_SpawnExternalStatus(program, workDir, args, outputFile, &lastExit);
}
}  // namespace

int KX_LastExitCode() { return lastExit; }

uint32_t _system(const char* program, const char* workDir, const char* const* args) {
    return runProgram(program, workDir, args, nullptr);
}

uint32_t _system_stdout(const char* program, const char* workDir, const char* const* args, const char* outputFile) {
    if (!outputFile || !*outputFile) return KXERR_EXTERNALTOOL;
    return runProgram(program, workDir, args, outputFile);
}

void KX_InstallRunner() { KX_SetExternalRunner(runProgram); }
