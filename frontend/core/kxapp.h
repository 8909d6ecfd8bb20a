// kxapp: the application's working core without a window: start-up (the
// instance number, the library object, the directories, the module tables,
// the program settings, the log), opening a file through the whole
// fall-back chain, saving, the operator dispatcher with undo, area
// selection and colour-profile handling, and the shut-down order. The
// desktop program's main window owns one KXApp and implements
// KXUserInterface for it; all calls come from the user-interface thread.
//
// Window-only steps stay with the window: hiding it while loading, the
// viewer after a load (AutoView), the file dialogs, the thumbnail itself.
#pragma once

#include <cstdint>
#include <string>

#include "kxbridge.h"
#include "kxopnumbers.h"
#include "kxsettings.h"
#include "kxtasks.h"
#include "kxui.h"

// Writer-table positions the core uses itself.
enum : uint32_t {
    KXWRITER_RGFX = 14,  // undo files: subtype 0 uncompressed, 1 ZIP-compressed
    KXWRITER_PNG = 6,
};

struct KXStartOptions {
    const char* ProgramDir = nullptr;  // null: the executable's directory
    const char* UserHome = nullptr;    // null: $XDG_CONFIG_HOME/Kaxon5, else ~/.config/Kaxon5
    const char* LockDir = nullptr;     // instance locks; null or unusable: $XDG_RUNTIME_DIR, else the temp directory
    bool FileOnCommandLine = false;    // switches AutoView on before the settings are read
};

class KXApp {
public:
    explicit KXApp(KXUserInterface* ui);
    ~KXApp();  // runs Shutdown when it has not run
    KXApp(const KXApp&) = delete;
    KXApp& operator=(const KXApp&) = delete;

    // ---- start-up and shut-down ----
    // Takes the instance number, creates and publishes the library object,
    // derives the directories (creating the settings directory), fetches the
    // five tables, registers the external-program runner, reads the program
    // settings and, with LOGFILE YES, starts the log. 0, or 3 when the
    // library object cannot be made.
    uint32_t Startup(const KXStartOptions& options);
    // Resets the bridge, frees the area, deletes the undo files, stops the
    // log and destroys the library object, releases the instance number and
    // deletes the clipboard files 0..ClipCounter. Runs once.
    void Shutdown();
    // The five start lines of the log (when it runs).
    void LogStart();

    // ---- instance and directories ----
    uint32_t InstanceNumber = 65535;  // 0..65535
    std::string AtomName;             // "Kaxon5-<n>"; empty when every number is taken
    KXClass* Library = nullptr;
    std::string ProgDir;              // without a trailing "/"
    std::string UserHome;             // without a trailing "/"
    std::string EnvDir, EnvArcDir;    // settings and archive settings directories, ending in "/"
    std::string ClipRoot;             // temp dir + "clip" + AtomName
    int32_t ClipCounter = 0;
    std::string ClipFileName(int32_t index) const;  // ClipRoot + "-" + index + ".tmp"

    // ---- settings and check boxes (the window mirrors its boxes here) ----
    KXProgramSettings Settings;
    // "UnDo active": off deletes every undo file.
    void SetUndoActive(bool on);
    // "Auto 24/48": cannot be switched off while an area is selected.
    void SetAutoConv(bool on);

    // ---- image state ----
    bool Modified = false;   // changed since the load or the last save (a failed operator run changes nothing)
    bool Undone = false;     // restored from an undo file
    bool IsVirtual = false;  // no file behind the image
    // Changes went into a saved file: the image is no longer what its
    // reader read, though nothing of it would be lost.
    bool SavedChanges = false;
    std::string LastFile;    // file name of the current image, without folder
    // The platform decoder's name of the current image's format when the
    // image came from that decoder (its recorded reader is only a stand-in);
    // empty otherwise.
    std::string DecoderFormat;
    // Counts every change an operator run made to the current image, so a
    // command can tell whether its runs changed anything.
    uint64_t ChangeCount = 0;
    // A new image became current (a load, the clipboard, an import): no
    // changes, not undone, no decoder format.
    void ImageReplaced(bool isVirtual);

    // ---- status line ----
    // Shows text and logs "status changed" at level 1.
    void Status(const std::string& text);
    // Text of a catalog key.
    std::string T(const char* key);

    // ---- a command's result ----
    // Where every command shows how it ended, by one rule: done turns the
    // status light green (the command has shown its own text); a failure
    // puts its text in the status line and leaves the light red; a result
    // kept with a flaw (a picture whose data ended early) puts its text
    // there under the warning light. Text and light stay until the next
    // command.
    enum class Outcome { Done, Flawed, Failed };
    void ShowResult(Outcome outcome, const std::string& text = std::string());
    // Done for code 0, else Failed with failure as the text.
    void ShowResult(uint32_t code, const std::string& failure) {
        ShowResult(code ? Outcome::Failed : Outcome::Done, code ? failure : std::string());
    }

    // ---- loading and saving ----
    // Opens a file as the current image: PostScript test (a "GS.controlpad",
    // the user's or else the shipped one, naming GS_PATH skips the library),
    // the reader table, the platform's decoder for results 1 and 15, and
    // Ghostscript for PostScript files nothing else read. Returns the final
    // code. A file that cannot be opened leaves the current image, its
    // state and its metadata as they were.
    uint32_t LoadFile(const char* path);
    // The platform decoder's road: the decoded picture becomes a version-3
    // 24-bit image (its 8-bit alpha map kept only when some pixel is not
    // fully opaque) with the first reader recorded as its reader.
    uint32_t LoadOther(const char* path);
    // Renders a PostScript file with Ghostscript into the first clipboard
    // file (PNG) and opens that. 1 when Ghostscript cannot be run.
    uint32_t LoadPS(const char* path, const char* gsPath, int32_t dpi);
    // The save command after the file dialog: selects writer and subtype,
    // attaches the standard profile when metadata saving and CMS are on and
    // the image has none, and saves as a library task. A save that worked
    // clears Modified; a failed one keeps it.
    uint32_t SaveFile(const char* path, uint32_t format, uint32_t subFormat);

    // ---- operator dispatch ----
    // Runs operator number on source (null: the current image), the result
    // going to *dest (null: a local one), with a settings list made on that
    // operator's pad path (null: the operator reads its own pad). Writes an
    // undo step, converts through an embedded profile (CMS on), retries after
    // automatic depth conversions, follows the area road when an area is
    // selected. No current image: 0 and nothing happens. A run that fails
    // leaves the image, its metadata, Modified and the undo steps as they
    // were (an automatic conversion that worked before a failing retry
    // stays, with its own step).
    uint32_t DoOperation(KX_GfxBuffer* source, KX_GfxBuffer** dest, uint32_t number, KXConfig* settings);
    uint32_t DoOperation(KX_GfxBuffer* source, uint32_t number) { return DoOperation(source, nullptr, number, nullptr); }
    uint32_t DoOperation(KX_GfxBuffer* source, uint32_t number, KXConfig* settings) { return DoOperation(source, nullptr, number, settings); }
    uint32_t DoOperation(KX_GfxBuffer* source, KX_GfxBuffer** dest, uint32_t number) { return DoOperation(source, dest, number, nullptr); }
    // A settings list on the pad path of operator number (null on failure).
    KXConfig* MakeOperatorSettings(uint32_t number);

    // ---- undo ----
    uint32_t UndoCount = 0;  // files written and not restored; the next file's number
    bool UndoSkip = false;   // while set no step is written (multi-operator commands)
    std::string UndoFileName(uint32_t step) const;  // temp + "undo" + AtomName + "_" + step + ".tmp"
    // A step written for a run that has not ended yet.
    struct UndoMark {
        bool Written = false;
        uint32_t Step = 0;
        bool OverLimit = false;  // written beyond the limit: the earlier steps go once it is kept
        uint32_t Epoch = 0;      // the stack's numbering it was written under
    };
    // Writes the current image with its whole metadata record as the next
    // undo file, as a library task (on the worker while the window waits).
    // The limit is applied when the step is kept (KeepUndoStep), so a run
    // that changes nothing (DropUndoStep) costs no earlier step.
    UndoMark AddUndoStep(KX_GfxBuffer* source);
    void KeepUndoStep(const UndoMark& mark);
    // Deletes the step again when it is still the top of the stack.
    void DropUndoStep(const UndoMark& mark);
    void ClearUndo();
    // The undo command: restores the last step, picture and record, read
    // as a library task. A file that cannot be read back leaves the current
    // image and every step as they were.
    uint32_t Undo();

    // ---- colour profiles ----
    bool CheckCMS();  // the current metadata carries profile data
    // Converts buffer through the metadata's profile to sRGB (only when forced
    // or CMS is on) and, when that succeeded, removes the profile.
    uint32_t ApplyAndRemoveCMS(KX_GfxBuffer* buffer, bool forced);
    uint32_t RemoveCMS();
    // The conversion used above (buffer, profile, size -> code); the library's
    // conversion to sRGB by default. Tests replace it.
    uint32_t (*ApplyProfile)(KX_GfxBuffer* buffer, const uint8_t* profile, uint32_t size);
    // Attaches an ICC file to the current metadata (the save command's
    // standard profile); 0, or an error code.
    uint32_t LoadICCProfile(const char* path);

    // Dithers the current image to a palette of depth bits (mode 0: best pen).
    uint32_t Dither24Bit(int32_t depth, int32_t mode);

    // ---- area selection ----
    // The area's own buffer (ownership passes to the app) and its rectangle
    // in image pixels.
    void SetArea(KX_GfxBuffer* buffer, int32_t left, int32_t top, int32_t width, int32_t height);
    // Frees the area buffer (showing TXT_AREA_DESELECT when there was one)
    // and tells the window (AreaDropped).
    void DropArea();
    KX_GfxBuffer* AreaBuffer = nullptr;
    int32_t AreaLeft = 0, AreaTop = 0, AreaWidth = 0, AreaHeight = 0;

    KXTaskRunner Tasks;

private:
    uint32_t RunOperator(KXOperator* op, KX_GfxBuffer* source, KX_GfxBuffer** dest, KXConfig* settings);
    // The image through its embedded profile, as a copy (null when CMS is
    // off, there is no profile or the conversion failed).
    KX_GfxBuffer* ProfiledCopy(KX_GfxBuffer* source);
    uint32_t AreaRoad(KXOperator* op, KX_GfxBuffer** dest, KXConfig* settings);
    void ReleaseInstance();
    uint32_t LoadFileChain(const char* path);
    // Makes the metadata the image's own copy; a failure other than "no
    // record" is shown (TXT_ERROR_ICCP_RESOLVE) and returned.
    uint32_t UnlinkMeta();

    KXUserInterface* UI;
    int LockFd = -1;
    uint32_t UndoEpoch = 0;  // grows whenever the steps are renumbered or cleared
    bool Started = false, ShutDown = false;
};
