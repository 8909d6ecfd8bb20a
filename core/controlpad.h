// controlpad: key=value settings files in memory (comments kept), the
// settings lists (KXConfig) handed to modules in place of their pad files,
// and tag lists.
#pragma once

#include "kxtypes.h"

struct KX_ControlPad {
    char* Key;    // empty text for a comment or empty line
    char* Value;  // may be null
    KX_ControlPad* Next;
};

// A named pad in a settings list. Node.Name points at NameBuf.
struct KXPadNode {
    Node node;
    KX_ControlPad* Pad;
    char NameBuf[256];
};

int KXSUP_LoadControlPad(const char* path, KX_ControlPad** pad);
int KXSUP_SaveControlPad(const char* path, KX_ControlPad* pad);
int KXSUP_FreeControlPad(KX_ControlPad* pad);
int KXSUP_FindControlPad(KX_ControlPad* pad, const char* key, char** value);
int KXSUP_FindControlPadNoCase(KX_ControlPad* pad, const char* key, char** value);
int KXSUP_ModifyControlPad(KX_ControlPad* pad, const char* key, const char* value, int caseSensitive);
int KXSUP_AddControlPad(KX_ControlPad* pad, const char* key, const char* value, int caseSensitive);
KX_ControlPad* AddControlPadLine(KX_ControlPad* previous, const char* key, const char* value);

KXPadNode* KXCP_FindName(List* settings, const char* name);
int KXCP_FindPad(const char* name, KX_ControlPad** pad, List* settings);

TagItem* FindTagItem(uint32_t tag, const TagItem* list);
TagItem* NextTagItem(const TagItem* item);

// Settings list built in memory. Numbers are formatted independently of
// the process locale.
class KXConfig {
public:
    KXConfig(const char* padName, uint32_t* error);
    virtual ~KXConfig();

    virtual uint32_t SetPadValue(const char* pad, const char* key, const char* text);
    virtual uint32_t SetPadValue(const char* pad, const char* key, float a, float b, float c);
    virtual uint32_t SetPadValue(const char* pad, const char* key, float a, float b);
    virtual uint32_t SetPadValue(const char* pad, const char* key, float a);
    virtual uint32_t SetPadValue(const char* pad, const char* key, const int32_t (&v)[9]);
    virtual uint32_t SetPadValue(const char* pad, const char* key, const int32_t (&v)[7]);
    virtual uint32_t SetPadValue(const char* pad, const char* key, int32_t a, int32_t b, int32_t c, int32_t d, int32_t e);
    virtual uint32_t SetPadValue(const char* pad, const char* key, int32_t a, int32_t b, int32_t c, int32_t d);
    virtual uint32_t SetPadValue(const char* pad, const char* key, int32_t a, int32_t b, int32_t c);
    virtual uint32_t SetPadValue(const char* pad, const char* key, int32_t a, int32_t b);
    virtual uint32_t SetPadValue(const char* pad, const char* key, int32_t a);

    virtual uint32_t SetValue(const char* key, const char* text);
    virtual uint32_t SetValue(const char* key, float a, float b, float c);
    virtual uint32_t SetValue(const char* key, float a, float b);
    virtual uint32_t SetValue(const char* key, float a);
    virtual uint32_t SetValue(const char* key, const int32_t (&v)[9]);
    virtual uint32_t SetValue(const char* key, const int32_t (&v)[7]);
    virtual uint32_t SetValue(const char* key, int32_t a, int32_t b, int32_t c, int32_t d, int32_t e);
    virtual uint32_t SetValue(const char* key, int32_t a, int32_t b, int32_t c, int32_t d);
    virtual uint32_t SetValue(const char* key, int32_t a, int32_t b, int32_t c);
    virtual uint32_t SetValue(const char* key, int32_t a, int32_t b);
    virtual uint32_t SetValue(const char* key, int32_t a);
    virtual uint32_t SetValue(const char* key);
    // Plain C++ literals (long, double) pick the 32-bit forms above.
    uint32_t SetValue(const char* key, long a) { return SetValue(key, static_cast<int32_t>(a)); }
    uint32_t SetValue(const char* key, double a) { return SetValue(key, static_cast<float>(a)); }
    uint32_t SetValue(const char* key, double a, double b) { return SetValue(key, static_cast<float>(a), static_cast<float>(b)); }
    uint32_t SetValue(const char* key, double a, double b, double c) { return SetValue(key, static_cast<float>(a), static_cast<float>(b), static_cast<float>(c)); }

    virtual uint32_t SavePadTo(const char* folder, const char* padName, const char* fileName);
    virtual uint32_t SavePadAs(KXClass* lib, const char* fileName);
    virtual uint32_t SavePad(KXClass* lib);
    virtual uint32_t InitPads(const char* padName);
    virtual List* GetPadList();

    const char* DefaultPadName = nullptr;
    List PadList = {};
    KXPadNode* DefaultPad = nullptr;
};
