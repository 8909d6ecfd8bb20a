// operator: KXOperator, the base of every image operator: pad paths and
// settings lookup, the log, the tag buffer of the variadic call and the
// shared part of an operator class's Reset. Operations a class does not
// offer answer KXERR_NOTSUPPORTED.
#include "operator.h"

#include <cstring>

#include "catalogue.h"
#include "gfxbuffer.h"
#include "kxclass.h"
#include "libstate.h"
#include "log.h"
#include "memory.h"

KXOperator::KXOperator(KXClass* lib) {
    Lib = lib ? lib : _KXClass;
    PadName = "Missing.controlpad";
    BaseInit();
}

KXOperator::KXOperator() {}

KXOperator::~KXOperator() {
    BaseRelease();
    // A class's own Reset has normally freed these already.
    KXSUP_FreeGfxBuffer(Scratch2);
    KXSUP_FreeGfxBuffer(Scratch1);
    KXSUP_FreeGfxBuffer(Result);
    Scratch2 = Scratch1 = Result = nullptr;
}

void KXOperator::BaseInit() {
    kxbase::MakePadPaths(Lib, PadName, &PadPathSettings, &PadPathArchive, &PadPath);
    AlphaMap8 = nullptr;
    AlphaMap8Owned = 0;
    WorkBuffer2 = nullptr;
    WorkBuffer2Owned = 0;
    kxbase::InitPadList(&OwnPadList, &OwnPadNode);
    PadList = nullptr;
    Log = Lib ? Lib->GetLog() : __kxlib_log_global;
}

void KXOperator::BaseRelease() {
    kxbase::FreePadPaths(&PadPathSettings, &PadPathArchive, &PadPath);
    if (AlphaMap8Owned) FreeVec(AlphaMap8);
    if (WorkBuffer2Owned) FreeVec(WorkBuffer2);
    AlphaMap8 = nullptr;
    WorkBuffer2 = nullptr;
    AlphaMap8Owned = WorkBuffer2Owned = 0;
    KXOperator::FreeConfig();
}

void KXOperator::Reset() {
    BaseRelease();
    BaseInit();
}

void KXOperator::InitWorkingFields() {
    Result = Scratch1 = Scratch2 = nullptr;
    ProgressHook = nullptr;
    ProgressUser = 0;
}

void KXOperator::FrameReset() {
    KXOperator::Reset();
    KXSUP_FreeGfxBuffer(Scratch2);
    KXSUP_FreeGfxBuffer(Scratch1);
    KXSUP_FreeGfxBuffer(Result);
    InitWorkingFields();
}

void KXOperator::CollectTags(va_list args) {
    size_t n = 0;
    while (n < 63) {
        uint32_t tag = va_arg(args, uint32_t);
        if (tag == TAG_DONE) break;
        Tags[n].Tag = tag;
        Tags[n].Data = va_arg(args, uintptr_t);
        n++;
    }
    Tags[n].Tag = TAG_DONE;
    Tags[n].Data = 0;
}

void KXOperator::ReportProgress(uint32_t percent) {
    Progress.Percent = percent;
    if (ProgressHook) ProgressHook(&Progress, ProgressUser);
}

void KXOperator::SetLocalConfig(List* settings) {
    if (!settings) return;
    TagItem tags[2] = {{KXTAG_LocalConfig, reinterpret_cast<uintptr_t>(settings)}, {TAG_DONE, 0}};
    Configure(tags);
}

void KXOperator::Configure(const TagItem* tags) {
    FreeConfig();
    kxbase::ReadConfigTags(Log, PadName, tags, &PadList, nullptr);
    if (!PadList) PadList = kxbase::LoadOwnPad(Log, PadName, PadPath, PadPathSettings, PadPathArchive, &OwnPadList, &OwnPadNode);
}

void KXOperator::FreeConfig() { kxbase::FreeOwnPad(&PadList, &OwnPadList, &OwnPadNode); }

int KXOperator::GetKey(const char* key, char* value, size_t size) {
    return kxbase::GetKey(PadList, PadPath, PadPathSettings, PadPathArchive, key, value, size);
}

KX_ControlPad* KXOperator::KeyPad(KX_ControlPad** loaded) {
    return kxbase::KeyPad(PadList, PadPath, PadPathSettings, PadPathArchive, loaded);
}

void KXOperator::ApplyRegistration(const char* className) {
    const KXOperatorReg* reg = KX_FindOperatorReg(className);
    if (!reg) return;
    PadName = reg->PadName;
    Version = 1;
    memset(Description, 0, sizeof(Description));
    strncpy(Description, reg->Description, sizeof(Description) - 1);
    Capabilities = reg->Capabilities;
}

void KXOperator::SetLog(KXLog* log) { Log = log ? log : __kxlib_log_global; }

uint32_t KXOperator::OperateTagList(KX_GfxBuffer*, KX_GfxBuffer**, const TagItem*) { return KXERR_NOTSUPPORTED; }
uint32_t KXOperator::OperateTags(KX_GfxBuffer*, KX_GfxBuffer**, ...) { return KXERR_NOTSUPPORTED; }
uint32_t KXOperator::DetachResult(KX_GfxBuffer**) { return KXERR_NOTSUPPORTED; }
uint32_t KXOperator::SetProgress(KXProgressHook, uintptr_t) { return KXERR_NOTSUPPORTED; }
