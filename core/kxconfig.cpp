// kxconfig: settings lists built in memory and handed to a module in place
// of its own pad file. Values are stored as text; reals are written as
// "%f" and integers as signed 32-bit decimals, both independent of the
// process locale so a pad reads back the same everywhere.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "controlpad.h"
#include "kxclass.h"
#include "log.h"
#include "memory.h"

namespace {

const char kFirstLine[] = "; created by KXConfig class";

// Appends " " (when not first) and the value; "%f" rounding, "." always.
void appendReal(char*& p, char* end, float v, bool first) {
    if (!first && p < end) *p++ = ' ';
    auto r = std::to_chars(p, end, static_cast<double>(v), std::chars_format::fixed, 6);
    p = r.ec == std::errc() ? r.ptr : p;
}

void appendInt(char*& p, char* end, int32_t v, bool first) {
    if (!first && p < end) *p++ = ' ';
    auto r = std::to_chars(p, end, static_cast<long>(v));
    p = r.ec == std::errc() ? r.ptr : p;
}

// Big enough for nine integers or three reals of any magnitude.
struct Text {
    char buf[512];
    char* p = buf;
    char* end() { return buf + sizeof(buf) - 1; }
    const char* c_str() {
        *p = 0;
        return buf;
    }
};

const char* reals(Text& t, std::initializer_list<float> values) {
    bool first = true;
    for (float v : values) {
        appendReal(t.p, t.end(), v, first);
        first = false;
    }
    return t.c_str();
}

const char* ints(Text& t, const int32_t* values, size_t count) {
    for (size_t i = 0; i < count; ++i) appendInt(t.p, t.end(), values[i], i == 0);
    return t.c_str();
}

void freeNode(KXPadNode* node) {
    KXSUP_FreeControlPad(node->Pad);
    FreeVec(node);
}

}  // namespace

KXConfig::KXConfig(const char* padName, uint32_t* error) {
    DefaultPadName = padName;
    uint32_t result = InitPads(padName);
    if (error) *error = result;
}

KXConfig::~KXConfig() {
    if (!PadList.TailPred) return;  // never initialised
    while (Node* node = RemHead(&PadList)) freeNode(reinterpret_cast<KXPadNode*>(node));
}

uint32_t KXConfig::InitPads(const char* padName) {
    // A second call starts over instead of leaking the old nodes.
    if (PadList.TailPred)
        while (Node* node = RemHead(&PadList)) freeNode(reinterpret_cast<KXPadNode*>(node));
    DefaultPad = nullptr;
    NewList(&PadList);
    auto* node = static_cast<KXPadNode*>(AllocVec(sizeof(KXPadNode), MEMF_CLEAR));
    if (!node) return KXERR_NOMEMORY;
    if (padName) {
        strncpy(node->NameBuf, padName, sizeof(node->NameBuf) - 1);
        node->NameBuf[sizeof(node->NameBuf) - 1] = 0;
    }
    node->node.Name = node->NameBuf;
    node->Pad = AddControlPadLine(nullptr, kFirstLine, nullptr);
    if (!node->Pad) {
        FreeVec(node);
        return KXERR_NOMEMORY;
    }
    AddTail(&PadList, &node->node);
    DefaultPad = node;
    return KXERR_NONE;
}

List* KXConfig::GetPadList() { return (DefaultPad && DefaultPad->Pad) ? &PadList : nullptr; }

uint32_t KXConfig::SetPadValue(const char* pad, const char* key, const char* text) {
    KXPadNode* node = KXCP_FindName(&PadList, pad);
    if (!node) return KXERR_INTERNALACCESS;
    return static_cast<uint32_t>(KXSUP_AddControlPad(node->Pad, key, text, 0));
}

uint32_t KXConfig::SetPadValue(const char* pad, const char* key, float a, float b, float c) {
    Text t;
    return SetPadValue(pad, key, reals(t, {a, b, c}));
}
uint32_t KXConfig::SetPadValue(const char* pad, const char* key, float a, float b) {
    Text t;
    return SetPadValue(pad, key, reals(t, {a, b}));
}
uint32_t KXConfig::SetPadValue(const char* pad, const char* key, float a) {
    Text t;
    return SetPadValue(pad, key, reals(t, {a}));
}
uint32_t KXConfig::SetPadValue(const char* pad, const char* key, const int32_t (&v)[9]) {
    Text t;
    return SetPadValue(pad, key, ints(t, v, 9));
}
uint32_t KXConfig::SetPadValue(const char* pad, const char* key, const int32_t (&v)[7]) {
    Text t;
    return SetPadValue(pad, key, ints(t, v, 7));
}
uint32_t KXConfig::SetPadValue(const char* pad, const char* key, int32_t a, int32_t b, int32_t c, int32_t d, int32_t e) {
    const int32_t v[] = {a, b, c, d, e};
    Text t;
    return SetPadValue(pad, key, ints(t, v, 5));
}
uint32_t KXConfig::SetPadValue(const char* pad, const char* key, int32_t a, int32_t b, int32_t c, int32_t d) {
    const int32_t v[] = {a, b, c, d};
    Text t;
    return SetPadValue(pad, key, ints(t, v, 4));
}
uint32_t KXConfig::SetPadValue(const char* pad, const char* key, int32_t a, int32_t b, int32_t c) {
    const int32_t v[] = {a, b, c};
    Text t;
    return SetPadValue(pad, key, ints(t, v, 3));
}
uint32_t KXConfig::SetPadValue(const char* pad, const char* key, int32_t a, int32_t b) {
    const int32_t v[] = {a, b};
    Text t;
    return SetPadValue(pad, key, ints(t, v, 2));
}
uint32_t KXConfig::SetPadValue(const char* pad, const char* key, int32_t a) {
    Text t;
    return SetPadValue(pad, key, ints(t, &a, 1));
}

// The default pad is addressed by its stored name, so a name longer than
// the name buffer still finds it.
#define KX_DEFAULT_PAD (DefaultPad ? DefaultPad->NameBuf : nullptr)
uint32_t KXConfig::SetValue(const char* key, const char* text) { return SetPadValue(KX_DEFAULT_PAD, key, text); }
uint32_t KXConfig::SetValue(const char* key, float a, float b, float c) { return SetPadValue(KX_DEFAULT_PAD, key, a, b, c); }
uint32_t KXConfig::SetValue(const char* key, float a, float b) { return SetPadValue(KX_DEFAULT_PAD, key, a, b); }
uint32_t KXConfig::SetValue(const char* key, float a) { return SetPadValue(KX_DEFAULT_PAD, key, a); }
uint32_t KXConfig::SetValue(const char* key, const int32_t (&v)[9]) { return SetPadValue(KX_DEFAULT_PAD, key, v); }
uint32_t KXConfig::SetValue(const char* key, const int32_t (&v)[7]) { return SetPadValue(KX_DEFAULT_PAD, key, v); }
uint32_t KXConfig::SetValue(const char* key, int32_t a, int32_t b, int32_t c, int32_t d, int32_t e) {
    return SetPadValue(KX_DEFAULT_PAD, key, a, b, c, d, e);
}
uint32_t KXConfig::SetValue(const char* key, int32_t a, int32_t b, int32_t c, int32_t d) {
    return SetPadValue(KX_DEFAULT_PAD, key, a, b, c, d);
}
uint32_t KXConfig::SetValue(const char* key, int32_t a, int32_t b, int32_t c) { return SetPadValue(KX_DEFAULT_PAD, key, a, b, c); }
uint32_t KXConfig::SetValue(const char* key, int32_t a, int32_t b) { return SetPadValue(KX_DEFAULT_PAD, key, a, b); }
uint32_t KXConfig::SetValue(const char* key, int32_t a) { return SetPadValue(KX_DEFAULT_PAD, key, a); }
// A switch key: modules only test that it is present.
uint32_t KXConfig::SetValue(const char* key) { return SetPadValue(KX_DEFAULT_PAD, key, "0"); }
#undef KX_DEFAULT_PAD

uint32_t KXConfig::SavePadTo(const char* folder, const char* padName, const char* fileName) {
    KXPadNode* node = KXCP_FindName(&PadList, padName);
    if (!node) return KXERR_INTERNALACCESS;
    if (!folder || !fileName) return 0;
    size_t a = strlen(folder), b = strlen(fileName);
    char* path = static_cast<char*>(AllocVec(a + b + 1, MEMF_ANY));
    if (!path) return 0;
    memcpy(path, folder, a);
    memcpy(path + a, fileName, b + 1);
    if (__kxlib_log_global) __kxlib_log_global->Log(1, "%-16s: saving %s\n", "kxconfig", path);
    uint32_t result = static_cast<uint32_t>(KXSUP_SaveControlPad(path, node->Pad));
    FreeVec(path);
    return result;
}

uint32_t KXConfig::SavePadAs(KXClass* lib, const char* fileName) {
    if (!lib) return KXERR_INTERNALACCESS;
    return SavePadTo(lib->SettingsDir, DefaultPad ? DefaultPad->NameBuf : DefaultPadName, fileName);
}

uint32_t KXConfig::SavePad(KXClass* lib) {
    const char* name = DefaultPadName;
    if (!name) return KXERR_INTERNALACCESS;
    const char* slash = strrchr(name, '/');
    return SavePadAs(lib, slash ? slash + 1 : name);
}
