// operator: KXOperator, the base class of every image operator.
//
// Every operator class that overrides Reset must also declare a destructor
// that runs its own Reset and then FreeConfig (a base destructor cannot
// reach the override):   ~kxpXYZ() override { kxpXYZ::Reset(); FreeConfig(); }
#pragma once

#include <cstdarg>

#include "controlpad.h"
#include "kxtypes.h"

class KXOperator {
public:
    explicit KXOperator(KXClass* lib);  // null: _KXClass
    KXOperator();                       // modules initialise everything themselves
    virtual ~KXOperator();

    virtual void Reset();
    virtual void SetLocalConfig(List* settings);
    virtual void Configure(const TagItem* tags);
    virtual void FreeConfig();
    virtual void SetLog(KXLog* log);
    virtual uint32_t OperateTagList(KX_GfxBuffer* source, KX_GfxBuffer** result, const TagItem* tags);
    // Variadic form: tag, value pairs ending with TAG_DONE. Values are
    // pointer-sized (pass uintptr_t or pointers).
    virtual uint32_t OperateTags(KX_GfxBuffer* source, KX_GfxBuffer** result, ...);
    virtual uint32_t DetachResult(KX_GfxBuffer** buffer);
    virtual uint32_t SetProgress(KXProgressHook hook, uintptr_t user);

    // Copies the registration of the catalogue entry with this class name
    // (pad name, version 1, description, capability word).
    void ApplyRegistration(const char* className);

    // As KXObject::GetKey: the settings list's pad named PadPath, else the
    // settings pad file read for this look-up.
    int GetKey(const char* key, char* value, size_t size);
    // The pad GetKey reads from, for readers with their own rules (any-case
    // keys, presence switches). A pad read from a file is also put in
    // *loaded; the caller frees it with KXSUP_FreeControlPad.
    KX_ControlPad* KeyPad(KX_ControlPad** loaded);

    TagItem Tags[64] = {};
    const char* PadName = "Missing.controlpad";
    List* PadList = nullptr;
    char* PadPathSettings = nullptr;  // owned
    char* PadPathArchive = nullptr;   // owned
    List OwnPadList = {};
    KXPadNode OwnPadNode = {};
    KXLog* Log = nullptr;
    KXClass* Lib = nullptr;
    uint8_t* AlphaMap8 = nullptr;  // work buffer 1
    uint32_t AlphaMap8Owned = 0;
    void* WorkBuffer2 = nullptr;
    uint32_t WorkBuffer2Owned = 0;
    const char* PadPath = nullptr;
    uint32_t Version = 1;
    char Description[80] = {};
    uint32_t Capabilities = 0;

    // ---- working fields every operator class has ----
    KX_GfxBuffer* Result = nullptr;  // owned until DetachResult
    KX_GfxBuffer* Scratch1 = nullptr;
    KX_GfxBuffer* Scratch2 = nullptr;
    KXProgress Progress = {};
    KXProgressHook ProgressHook = nullptr;
    uintptr_t ProgressUser = 0;

protected:
    void BaseInit();
    void BaseRelease();
    // The shared part of an operator class's Reset: base Reset, then free
    // Scratch2, Scratch1 and the result, and clear the working fields.
    void FrameReset();
    void InitWorkingFields();
    // Copies at most 63 tag/value pairs from the argument list into Tags.
    void CollectTags(va_list args);
    void ReportProgress(uint32_t percent);
};
