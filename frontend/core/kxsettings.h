// kxsettings: the program's own settings, the control pad
// "Kaxon5.controlpad". One table of keys with their defaults and clamps
// is read in order; the whole file comes from the settings directory, or,
// when that copy cannot be read or holds no line, from the archive
// settings directory (keys are never merged across the two).
//
// Keys are matched case-sensitively; a key without a value is ignored.
// A switch is compared without regard to case with the one word that
// differs from its default ("NO" turns an on-by-default switch off, "YES"
// turns an off-by-default switch on, anything else keeps the default).
// Numbers are read as decimal integers (leading blanks and a sign, up to
// the first other character; no digits give 0). The clamps of LOGLEVEL,
// UNDO_LIMIT, UNDO_COMPRESS_FACTOR and MAX_BUFFER_MB apply whether or not
// the key is there.
#pragma once

#include <cstdint>
#include <string>

#include "core/kxlib.h"

enum : int32_t {
    KXVIEW_NORMAL = 0,
    KXVIEW_STRETCH = 1,
    KXVIEW_AUTOSIZE = 2,
    KXVIEW_CENTER = 3,
    KXVIEW_ZOOM = 4,
};

// The program settings with their defaults. The desktop program mirrors
// the check boxes of its window into these fields (the core reads them
// when it loads, saves and dispatches).
struct KXProgramSettings {
    bool ThreadedProgress = true;   // THREADED_PROGRESS
    bool LogStart = false;          // LOGFILE
    int32_t LogLevel = 1;           // LOGLEVEL, 1..9
    bool UndoLimit = false;         // UNDO_UNLIMITED "NO": the limit is enforced
    int32_t UndoMax = 1;            // UNDO_LIMIT, 1..999
    bool UndoCompress = false;      // UNDO_COMPRESS
    int32_t UndoCompressLevel = 6;  // UNDO_COMPRESS_FACTOR, 0..9
    bool Undo = true;               // UNDO: "UnDo active"
    bool AutoConv = true;           // AUTOCONV: "Auto 24/48"
    bool AutoConv8 = false;         // AUTOCONV8: "Auto 8"
    bool AutoRotate = true;         // AUTOROTATE
    bool AutoView = false;          // AUTOVIEW (on when a file is named on the command line)
    bool AutoCM = true;             // AUTOCM: "CMS active"
    bool HiddenView = false;        // HIDDENVIEW
    bool OnlineUpdate = true;       // ONLINE_UPDATE
    int32_t ViewMode = KXVIEW_ZOOM; // VIEW_MODE
    bool ViewAlpha = true;          // VIEW_ALPHA
    bool ViewFixedSize = false;     // VIEW_FIXEDSIZE (wins over full screen)
    int32_t ViewWidth = 640;        // VIEW_WIDTH, 0..65535
    int32_t ViewHeight = 480;       // VIEW_HEIGHT, 0..65535
    bool ViewFullScreen = false;    // VIEW_FULLSCREEN
    bool ViewBorderless = false;    // VIEW_BORDERLESS
    bool ViewBackFwd = true;        // VIEW_BACK_FWD
    bool DiaMediaView = true;       // DIASHOW_MEDIAVIEW
    bool DiaTimer = false;          // DIASHOW_TIMER
    int32_t DiaTimerSec = 5;        // DIASHOW_TIMER_SEC, 1..65535
    bool DiaLoop = false;           // DIASHOW_LOOP
    bool MetaLoad = true;           // META_LOAD
    bool MetaSave = false;          // META_SAVE
    int32_t SaveFormat = 6;         // SAVE_FORMAT as a writer-table index (PNG)
    std::string JpegtranPath;       // JPEGTRAN_PATH (empty: none)
    std::string StdCmFile;          // STD_CMFILE (the caller presets the default)
    std::string Language = "english";  // LANGUAGE
    int32_t MaxBufferMB = 2048;     // MAX_BUFFER_MB, 1..4096: the library's size limit per buffer (KAXON5_MAX_BUFFER wins)
};

// Decimal number as the settings read it (saturating at 32 bits).
int32_t KXSettingsNumber(const char* text);

// Reads "Kaxon5.controlpad" (envdir first, then envarcdir; both end with
// "/") into settings. Fields not named in the pad keep their values;
// SAVE_FORMAT is looked up among the writers' format names (a name no
// writer has leaves SaveFormat unchanged). Returns false when neither
// directory holds a pad (nothing but the clamps is applied then).
bool KXReadProgramSettings(const char* envdir, const char* envarcdir, KXObject** writers, KXProgramSettings* settings);
// The same from a pad already in memory (the table reader itself).
void KXApplyProgramSettings(KX_ControlPad* pad, KXObject** writers, KXProgramSettings* settings);

// The pad helpers of the settings dialog: read dir + name + ext (envdir,
// then envarcdir); write a whole pad to envdir; create a pad holding one
// "key=value" (no line end). The loaded pad is freed with KXSUP_FreeControlPad.
KX_ControlPad* KX_GetCPContent(const char* envdir, const char* envarcdir, const char* name, const char* ext);
bool KX_PutCPContent(const char* envdir, KX_ControlPad* pad, const char* name, const char* ext);
bool KX_PutCP_KV(const char* envdir, const char* name, const char* ext, const char* key, const char* value);

// Stores a newly chosen language into "Kaxon5.controlpad" in envdir, as the
// settings dialog's OK does.
enum class KXLanguageStore {
    Stored,        // written (a pad from the archive is copied to envdir)
    NotInPad,      // the pad has no LANGUAGE key: the choice is dropped, the pad is written back unchanged
    SaveFailed,    // "Could not save language preferences."
    CreateFailed,  // "Could not create preferences file."
};
KXLanguageStore KXStoreLanguage(const char* envdir, const char* envarcdir, const char* language);
