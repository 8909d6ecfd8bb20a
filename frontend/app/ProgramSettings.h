// ProgramSettings: the program's own settings, read once at start-up from
// "Kaxon5.controlpad" (settings directory first; the archive settings
// directory only when that file cannot be read or holds no line; never
// merged). One table names every key, its default and its clamp.
// Keys match case-sensitively; a switch is tested, without regard to case,
// against the one word that differs from its default.
#pragma once

#include <QString>

struct ProgramSettings {
    bool threadedProgress = true;
    bool logStart = false;
    int logLevel = 1;
    bool undoLimit = false;  // UNDO_UNLIMITED=NO enforces the limit
    int undoMax = 1;
    bool undoComp = false;
    int undoCompLevel = 6;
    bool undo = true;
    bool autoConv = true;
    bool autoConv8 = false;
    bool autoRotate = true;
    bool autoView = false;
    bool autoCM = true;
    bool hiddenView = false;
    bool onlineUpdate = true;
    int viewMode = 4;  // Normal, StretchImage, AutoSize, CenterImage, Zoom
    bool viewAlpha = true;
    bool viewFixedSize = false;
    int viewWidth = 640;
    int viewHeight = 480;
    bool viewFullScreen = false;
    bool viewBorderless = false;
    bool viewBackFwd = true;
    bool mediaView = true;
    bool diaTimer = false;
    int diaTimerSec = 5;
    bool diaLoop = false;
    bool metaLoad = true;
    bool metaSave = false;
    QString saveFormat;  // empty: keep the PNG writer
    QString jpegtranPath;
    QString stdCmFile;  // empty: the program's own sRGB profile
    QString language = QStringLiteral("english");
};

struct KX_ControlPad;

namespace kxsettings {

extern const char* const kPadName;   // "Kaxon5"
extern const char* const kPadExt;    // ".controlpad"
extern const char* const kViewModes[5];

// The settings table in reading order (key names), for tests and the
// settings editor.
int KeyCount();
const char* KeyName(int index);

// Decimal integer as the pad holds it: leading blanks and a sign, stops at
// the first other character, no digits give 0; saturates instead of
// overflowing.
long ParseNumber(const char* text);

// Applies a pad to the settings in table order, with every clamp applied
// whether or not its key is present.
void Apply(KX_ControlPad* pad, ProgramSettings& s);

// Reads dir + "Kaxon5.controlpad" from the settings directory, else the
// archive settings directory. Null when neither gives a line. The caller
// frees it with KXSUP_FreeControlPad. Directories end with "/".
KX_ControlPad* ReadPad(const QString& envdir, const QString& envarcdir);

// ReadPad + Apply; *found tells whether a pad was read.
ProgramSettings Read(const QString& envdir, const QString& envarcdir, bool* found = nullptr);

int ViewModeIndex(const QString& word);  // -1 when none

}  // namespace kxsettings
