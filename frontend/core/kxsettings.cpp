// kxsettings: reading the program's settings pad (see kxsettings.h).
#include "kxsettings.h"

#include <strings.h>

#include <climits>
#include <cstring>
#include <string>

namespace {
const char kPadName[] = "Kaxon5";
const char kPadExt[] = ".controlpad";

enum class Kind { Switch, Number, Word, Text };

// One row per key, in the order they are read. A switch names the word
// that differs from its default; a number its range.
struct Row {
    const char* Key;
    Kind K;
    bool KXProgramSettings::* Flag;
    int32_t KXProgramSettings::* Num;
    const char* Word;  // switch: the word that changes the default
    int32_t Min, Max;
    bool To;  // switch: the value that word sets
};

// A switch: YES turns it on, NO turns it off (or sets `to` when given).
constexpr Row sw(const char* k, bool KXProgramSettings::* f, const char* w) {
    return {k, Kind::Switch, f, nullptr, w, 0, 0, w[0] == 'Y'};
}
constexpr Row swTo(const char* k, bool KXProgramSettings::* f, const char* w, bool to) {
    return {k, Kind::Switch, f, nullptr, w, 0, 0, to};
}
constexpr Row num(const char* k, int32_t KXProgramSettings::* n, int32_t lo, int32_t hi) {
    return {k, Kind::Number, nullptr, n, nullptr, lo, hi, false};
}

// VIEW_FIXEDSIZE, VIEW_FULLSCREEN, VIEW_MODE, SAVE_FORMAT and the texts
// have rules of their own and are read in between (see apply()).
const Row kHead[] = {
    sw("THREADED_PROGRESS", &KXProgramSettings::ThreadedProgress, "NO"),
    sw("LOGFILE", &KXProgramSettings::LogStart, "YES"),
    num("LOGLEVEL", &KXProgramSettings::LogLevel, 1, 9),
    // "NO" to unlimited undo enforces the limit.
    swTo("UNDO_UNLIMITED", &KXProgramSettings::UndoLimit, "NO", true),
    num("UNDO_LIMIT", &KXProgramSettings::UndoMax, 1, 999),
    sw("UNDO_COMPRESS", &KXProgramSettings::UndoCompress, "YES"),
    num("UNDO_COMPRESS_FACTOR", &KXProgramSettings::UndoCompressLevel, 0, 9),
    sw("UNDO", &KXProgramSettings::Undo, "NO"),
    sw("AUTOCONV", &KXProgramSettings::AutoConv, "NO"),
    sw("AUTOCONV8", &KXProgramSettings::AutoConv8, "YES"),
    sw("AUTOROTATE", &KXProgramSettings::AutoRotate, "NO"),
    sw("AUTOVIEW", &KXProgramSettings::AutoView, "YES"),
    sw("AUTOCM", &KXProgramSettings::AutoCM, "NO"),
    sw("HIDDENVIEW", &KXProgramSettings::HiddenView, "YES"),
    sw("ONLINE_UPDATE", &KXProgramSettings::OnlineUpdate, "NO"),
};
const Row kView[] = {
    sw("VIEW_ALPHA", &KXProgramSettings::ViewAlpha, "NO"),
};
const Row kTail[] = {
    num("VIEW_WIDTH", &KXProgramSettings::ViewWidth, 0, 65535),
    num("VIEW_HEIGHT", &KXProgramSettings::ViewHeight, 0, 65535),
};
const Row kRest[] = {
    sw("VIEW_BORDERLESS", &KXProgramSettings::ViewBorderless, "YES"),
    sw("VIEW_BACK_FWD", &KXProgramSettings::ViewBackFwd, "NO"),
    sw("DIASHOW_MEDIAVIEW", &KXProgramSettings::DiaMediaView, "NO"),
    sw("DIASHOW_TIMER", &KXProgramSettings::DiaTimer, "YES"),
    num("DIASHOW_TIMER_SEC", &KXProgramSettings::DiaTimerSec, 1, 65535),
    sw("DIASHOW_LOOP", &KXProgramSettings::DiaLoop, "YES"),
    sw("META_LOAD", &KXProgramSettings::MetaLoad, "NO"),
    sw("META_SAVE", &KXProgramSettings::MetaSave, "YES"),
    // Mebibytes a picture's buffer may take: lowers or raises the library's
    // default of 2 GiB, up to the whole 32-bit buffer size.
    num("MAX_BUFFER_MB", &KXProgramSettings::MaxBufferMB, 1, 4096),
};

// The value of a key, or null when it is missing or has no value.
const char* find(KX_ControlPad* pad, const char* key) {
    char* value = nullptr;
    if (!pad || !KXSUP_FindControlPad(pad, key, &value)) return nullptr;
    return value && *value ? value : nullptr;
}

int32_t clampTo(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

void applyRow(KX_ControlPad* pad, const Row& r, KXProgramSettings* s) {
    const char* v = find(pad, r.Key);
    if (r.K == Kind::Switch) {
        if (v && strcasecmp(v, r.Word) == 0) s->*r.Flag = r.To;
        return;
    }
    if (v) s->*r.Num = KXSettingsNumber(v);
    // The clamp holds whether or not the key is present.
    s->*r.Num = clampTo(s->*r.Num, r.Min, r.Max);
}

template <size_t N>
void applyRows(KX_ControlPad* pad, const Row (&rows)[N], KXProgramSettings* s) {
    for (const Row& r : rows) applyRow(pad, r, s);
}

std::string padFile(const char* dir, const char* name, const char* ext) {
    return std::string(dir ? dir : "") + name + ext;
}
}  // namespace

int32_t KXSettingsNumber(const char* text) {
    if (!text) return 0;
    while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r' || *text == '\f' || *text == '\v') text++;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    int64_t v = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        v = v * 10 + (*text - '0');
        if (v > static_cast<int64_t>(INT32_MAX) + 1) v = static_cast<int64_t>(INT32_MAX) + 1;
    }
    if (negative) v = -v;
    if (v > INT32_MAX) v = INT32_MAX;
    return static_cast<int32_t>(v);
}

void KXApplyProgramSettings(KX_ControlPad* pad, KXObject** writers, KXProgramSettings* s) {
    applyRows(pad, kHead, s);
    if (const char* v = find(pad, "VIEW_MODE")) {
        static const char* const modes[] = {"Normal", "StretchImage", "AutoSize", "CenterImage", "Zoom"};
        for (int i = 0; i < 5; i++)
            if (strcasecmp(v, modes[i]) == 0) s->ViewMode = i;
    }
    applyRows(pad, kView, s);
    // A fixed size wins over full screen: each is read only while the
    // other is off.
    if (!s->ViewFullScreen) {
        const char* v = find(pad, "VIEW_FIXEDSIZE");
        if (v && strcasecmp(v, "YES") == 0) s->ViewFixedSize = true;
    }
    applyRows(pad, kTail, s);
    if (!s->ViewFixedSize) {
        const char* v = find(pad, "VIEW_FULLSCREEN");
        if (v && strcasecmp(v, "YES") == 0) s->ViewFullScreen = true;
    }
    applyRows(pad, kRest, s);
    if (const char* v = find(pad, "SAVE_FORMAT")) {
        for (int i = 0; writers && i < 256 && writers[i]; i++)
            if (strcmp(writers[i]->FormatName, v) == 0) {
                s->SaveFormat = i;
                break;
            }
    }
    if (const char* v = find(pad, "JPEGTRAN_PATH")) s->JpegtranPath = v;
    if (const char* v = find(pad, "STD_CMFILE")) s->StdCmFile = v;
    if (const char* v = find(pad, "LANGUAGE")) s->Language = v;
}

bool KXReadProgramSettings(const char* envdir, const char* envarcdir, KXObject** writers, KXProgramSettings* s) {
    KX_ControlPad* pad = KX_GetCPContent(envdir, envarcdir, kPadName, kPadExt);
    KXApplyProgramSettings(pad, writers, s);
    KXSUP_FreeControlPad(pad);
    return pad != nullptr;
}

KX_ControlPad* KX_GetCPContent(const char* envdir, const char* envarcdir, const char* name, const char* ext) {
    KX_ControlPad* pad = nullptr;
    // A pad that holds no line at all loads as none and counts as missing.
    KXSUP_LoadControlPad(padFile(envdir, name, ext).c_str(), &pad);
    if (pad) return pad;
    KXSUP_LoadControlPad(padFile(envarcdir, name, ext).c_str(), &pad);
    return pad;
}

bool KX_PutCPContent(const char* envdir, KX_ControlPad* pad, const char* name, const char* ext) {
    return KXSUP_SaveControlPad(padFile(envdir, name, ext).c_str(), pad) != 0;
}

bool KX_PutCP_KV(const char* envdir, const char* name, const char* ext, const char* key, const char* value) {
    if (!key || !value) return false;
    FILE* f = amOpen(padFile(envdir, name, ext).c_str(), "wb");
    if (!f) return false;
    bool ok = fprintf(f, "%s=%s", key, value) >= 0;
    return amClose(f) == 0 && ok;
}

KXLanguageStore KXStoreLanguage(const char* envdir, const char* envarcdir, const char* language) {
    KX_ControlPad* pad = KX_GetCPContent(envdir, envarcdir, kPadName, kPadExt);
    if (!pad) {
        if (!language || !KX_PutCP_KV(envdir, kPadName, kPadExt, "LANGUAGE", language)) return KXLanguageStore::CreateFailed;
        return KXLanguageStore::Stored;
    }
    bool present = KXSUP_ModifyControlPad(pad, "LANGUAGE", language ? language : "", 1) != 0;
    bool written = KX_PutCPContent(envdir, pad, kPadName, kPadExt);
    KXSUP_FreeControlPad(pad);
    if (!written) return KXLanguageStore::SaveFailed;
    return present ? KXLanguageStore::Stored : KXLanguageStore::NotInPad;
}
