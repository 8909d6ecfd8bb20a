#include "ProgramSettings.h"

#include <QFile>
#include <climits>

#include "core/kxlib.h"

namespace kxsettings {

const char* const kPadName = "Kaxon5";
const char* const kPadExt = ".controlpad";
const char* const kViewModes[5] = {"Normal", "StretchImage", "AutoSize", "CenterImage", "Zoom"};

namespace {

enum class Kind { Switch, Number, Word, Text };

struct Def {
    const char* key;
    Kind kind;
    // Switch: the word that changes the field, and the value it gives.
    const char* trigger;
    bool ProgramSettings::* flag;
    bool triggered;
    // Number: field and clamp (applied whether or not the key is present).
    int ProgramSettings::* number;
    int lo, hi;
    QString ProgramSettings::* text;
};

constexpr int kNoLo = 0, kNoHi = 0;

#define SW(k, word, field, value) {k, Kind::Switch, word, &ProgramSettings::field, value, nullptr, kNoLo, kNoHi, nullptr}
#define NUM(k, field, lo, hi) {k, Kind::Number, nullptr, nullptr, false, &ProgramSettings::field, lo, hi, nullptr}
#define TXT(k, field) {k, Kind::Text, nullptr, nullptr, false, nullptr, kNoLo, kNoHi, &ProgramSettings::field}

const Def kTable[] = {
    SW("THREADED_PROGRESS", "NO", threadedProgress, false),
    SW("LOGFILE", "YES", logStart, true),
    NUM("LOGLEVEL", logLevel, 1, 9),
    SW("UNDO_UNLIMITED", "NO", undoLimit, true),
    NUM("UNDO_LIMIT", undoMax, 1, 999),
    SW("UNDO_COMPRESS", "YES", undoComp, true),
    NUM("UNDO_COMPRESS_FACTOR", undoCompLevel, 0, 9),
    SW("UNDO", "NO", undo, false),
    SW("AUTOCONV", "NO", autoConv, false),
    SW("AUTOCONV8", "YES", autoConv8, true),
    SW("AUTOROTATE", "NO", autoRotate, false),
    SW("AUTOVIEW", "YES", autoView, true),
    SW("AUTOCM", "NO", autoCM, false),
    SW("HIDDENVIEW", "YES", hiddenView, true),
    SW("ONLINE_UPDATE", "NO", onlineUpdate, false),
    {"VIEW_MODE", Kind::Word, nullptr, nullptr, false, &ProgramSettings::viewMode, 0, 4, nullptr},
    SW("VIEW_ALPHA", "NO", viewAlpha, false),
    SW("VIEW_FIXEDSIZE", "YES", viewFixedSize, true),
    // Outside their fields' ranges these are brought to the nearest end.
    NUM("VIEW_WIDTH", viewWidth, 0, 65535),
    NUM("VIEW_HEIGHT", viewHeight, 0, 65535),
    SW("VIEW_FULLSCREEN", "YES", viewFullScreen, true),
    SW("VIEW_BORDERLESS", "YES", viewBorderless, true),
    SW("VIEW_BACK_FWD", "NO", viewBackFwd, false),
    SW("DIASHOW_MEDIAVIEW", "NO", mediaView, false),
    SW("DIASHOW_TIMER", "YES", diaTimer, true),
    NUM("DIASHOW_TIMER_SEC", diaTimerSec, 1, 65535),
    SW("DIASHOW_LOOP", "YES", diaLoop, true),
    SW("META_LOAD", "NO", metaLoad, false),
    SW("META_SAVE", "YES", metaSave, true),
    TXT("SAVE_FORMAT", saveFormat),
    TXT("JPEGTRAN_PATH", jpegtranPath),
    TXT("STD_CMFILE", stdCmFile),
    TXT("LANGUAGE", language),
};

#undef SW
#undef NUM
#undef TXT

bool sameNoCase(const char* a, const char* b) { return QByteArray(a).compare(QByteArray(b), Qt::CaseInsensitive) == 0; }

}  // namespace

int KeyCount() { return int(sizeof(kTable) / sizeof(kTable[0])); }
const char* KeyName(int index) { return index >= 0 && index < KeyCount() ? kTable[index].key : nullptr; }

long ParseNumber(const char* text) {
    if (!text) return 0;
    while (*text == ' ' || *text == '\t') ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    long long v = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        v = v * 10 + (*text - '0');
        if (v > INT_MAX) v = INT_MAX;  // saturate; every clamp lies inside
    }
    return static_cast<long>(negative ? -v : v);
}

int ViewModeIndex(const QString& word) {
    for (int i = 0; i < 5; ++i)
        if (word.compare(QLatin1String(kViewModes[i]), Qt::CaseInsensitive) == 0) return i;
    return -1;
}

void Apply(KX_ControlPad* pad, ProgramSettings& s) {
    for (const Def& d : kTable) {
        char* value = nullptr;
        bool present = pad && KXSUP_FindControlPad(pad, d.key, &value) && value;
        switch (d.kind) {
        case Kind::Switch:
            // VIEW_FIXEDSIZE is read first and a fixed size wins over full screen.
            if (d.flag == &ProgramSettings::viewFullScreen && s.viewFixedSize) break;
            if (present && sameNoCase(value, d.trigger)) s.*d.flag = d.triggered;
            break;
        case Kind::Number: {
            long v = present ? ParseNumber(value) : s.*d.number;
            if (v < d.lo) v = d.lo;
            if (v > d.hi) v = d.hi;
            s.*d.number = static_cast<int>(v);
            break;
        }
        case Kind::Word:
            if (present) {
                int i = ViewModeIndex(QString::fromUtf8(value));
                if (i >= 0) s.*d.number = i;
            }
            break;
        case Kind::Text:
            if (present && *value) s.*d.text = QString::fromUtf8(value);
            break;
        }
    }
}

KX_ControlPad* ReadPad(const QString& envdir, const QString& envarcdir) {
    for (const QString& dir : {envdir, envarcdir}) {
        if (dir.isEmpty()) continue;
        QByteArray path = QFile::encodeName(dir + kPadName + kPadExt);
        KX_ControlPad* pad = nullptr;
        if (KXSUP_LoadControlPad(path.constData(), &pad) && pad) return pad;
        if (pad) KXSUP_FreeControlPad(pad);
    }
    return nullptr;
}

ProgramSettings Read(const QString& envdir, const QString& envarcdir, bool* found) {
    ProgramSettings s;
    KX_ControlPad* pad = ReadPad(envdir, envarcdir);
    if (found) *found = pad != nullptr;
    // Without a pad every default stays, clamps included.
    Apply(pad, s);
    if (pad) KXSUP_FreeControlPad(pad);
    return s;
}

}  // namespace kxsettings
