// Main: the main window. Owns the application core (KXApp) and implements
// its user-interface interface; builds the menus from the action table,
// shows the current image's thumbnail and facts, runs the commands, the
// viewer, the neighbour buttons and the slide show, applies the language
// catalog and the program settings dialog's result.
//
// One class, one source file per role: Main.cpp (start-up, shut-down,
// the question before a changed picture goes, settings on the check
// boxes), MainLayout.cpp (the controls), MainLanguage.cpp (the catalog),
// MainStatus.cpp (status line, light, progress, message boxes),
// MainInfoArea.cpp (thumbnail and information lines),
// MainFileCommands.cpp (open, save, alpha import and export),
// MainViewer.cpp (viewer, slide show, neighbour buttons),
// MainImageCommands.cpp (menu entries through the dispatcher and the image
// commands), MainOptionsHelp.cpp (program settings, Help), MainKeys.cpp,
// MainExchange.cpp (clipboard, screen grab, printing, acquisition),
// MainArea.cpp (the area selection and the Edit commands on it),
// MainLossless.cpp (the lossless JPEG Transform and Crop), MainMetadata.cpp
// (the metadata dialog), MainColour.cpp (colorimetry, colour-space
// information, ICC import and export), MainRawImport.cpp (the raw pixel,
// camera RAW and XMP imports).
#pragma once

#include <QByteArray>
#include <QHash>
#include <QMainWindow>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "FolderWalk.h"
#include "OwnOperator.h"
#include "core/kxapp.h"

class QAction;
class QCheckBox;
class QDialog;
class QComboBox;
class QDialog;
class QGroupBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPrinter;
class QPushButton;
class QSpinBox;
class QTimer;
class QToolBar;
class QToolButton;
class CatalogHandler;
class DialogAreaSelect;
class DialogColorimetric;
class DialogOptions;
class HotKey;
class PictureBox;
class UiServices;
class UpdateCheck;
class View;

namespace kxactions {
struct ActionDef;
}
namespace kxraw {
using Keys = std::vector<std::pair<QByteArray, QByteArray>>;
}

struct MainOptions {
    QStringList arguments;     // as main() got them: program, then the file
    QString programDir;        // empty: the executable's directory
    QString userHome;          // empty: the core's default
    QString lockDir;           // empty: the core's default
    UiServices* ui = nullptr;  // null: the desktop's own dialogs
    bool splash = true;        // the About splash at a start without a file
    QUrl updateAddress;        // empty: the maker's program description
};

class Main : public QMainWindow, public KXUserInterface {
    Q_OBJECT
public:
    explicit Main(const MainOptions& options);
    ~Main() override;

    // False when the window must not enter the event loop (quit during
    // start-up, or the library could not be made).
    bool StartOk() const { return start; }

    // ---- KXUserInterface ----
    std::string Text(const char* key) override;
    void SetStatus(const std::string& text) override;
    void SetStatusLight(KXStatusLight light) override;
    bool AskYesNo(KXMessageKind caption, const std::string& text) override;
    void ShowMessage(KXMessageKind caption, const std::string& text) override;
    void SetProgressBar(int value) override;
    void UpdatePreview(bool clear) override;
    void SetBusyCursor(bool busy) override;
    void WaitForWorker(const std::function<bool(int)>& poll) override;
    void WakeFromWorker() override;
    void AreaDropped() override;
    uint32_t DecodeImage(const char* path, KXDecodedImage* image) override;

    // ---- operations other parts and the tests call ----
    uint32_t LoadFile(const QString& path);
    void UpdateImageInfo(KX_GfxBuffer* image);
    void enablePictureCommands(bool havePicture);
    void UpdateMetaStatus();
    void Localize();
    // The lossless JPEG commands: the transformer tool turns input into
    // output (written only when the tool succeeds), which then opens as the
    // current picture. 32 when the tool fails or writes nothing.
    uint32_t TransLoadJPG(const QString& input, const QString& output, const QString& tool, bool rotate,
                          const QString& deg, bool flip, const QString& flipxy, bool transp, const QString& transpxy,
                          bool optimize, bool progressive, bool trim);
    uint32_t CropLoadJPG(const QString& input, const QString& output, const QString& tool, long left, long top,
                         long width, long height);
    // Runs the command behind an action id (as its menu entry would).
    bool Trigger(const QString& id);
    // The writer-table index of the chosen save format (-1: none offered).
    int selectedWriter() const;
    // The message text of a key (TXT_*).
    QString Msg(const QString& key) const { return txt.value(key); }

    // Test seam: when set, every viewer is handed to this function instead
    // of being shown; its result is the viewer's code.
    std::function<int(View*)> viewerScript;
    // Test seam: the program settings dialog is prepared and handed here.
    std::function<int(DialogOptions*)> optionsScript;
    // Test seam: sees every operator run a menu command hands the
    // dispatcher, with its key=value list (null: no settings list).
    std::function<void(uint32_t op, const kxown::KeyList* keys)> dispatchSpy;
    // Test seam: the area selection dialog is prepared and handed here
    // instead of being shown; its result is the dialog's code.
    std::function<int(DialogAreaSelect*)> areaScript;
    // Test seam: the About window, the information dialogs, the module
    // browsers and the operator dialogs of the image commands are prepared
    // and handed here instead of being shown.
    std::function<int(QDialog*)> dialogScript;

    // ---- exchange (clipboard, screen grab, printing, acquisition) ----
    // The program that lists and runs scanners and cameras (SANE's).
    QString scanProgram = QStringLiteral("scanimage");
    // The printer whose settings the print dialog keeps and Print uses.
    QPrinter* printer();
    // The screen grab (tool bar "&Grab", hot key Alt+Esc).
    void cmdGrab();
    HotKey* HK1 = nullptr;
    // The area's rectangle on the thumbnail bitmap, and whether its frame
    // is drawn there.
    int x0 = 0, y0 = 0, w0 = 0, h0 = 0;
    bool areaFrameShown = false;

    // The online update check (Help menu, and once a day at start).
    UpdateCheck* updater = nullptr;

    KXApp app;
    QString language = QStringLiteral("english");
    QString progdir;
    QString iccdir;
    QString std_cmfile;
    bool iniload = false;
    bool quitRequest = false;
    QString loadRememberPath, loadRememberFile, saveRememberPath, saveRememberFile, diaRememberPath;
    // Full path of the file the current picture was opened from (empty:
    // none, e.g. from the clipboard); the lossless commands' input.
    QString shownFile;
    // The user's pictures folder, or the home folder without one: where
    // the file dialogs start before anything was opened or saved.
    QString picturesDir;
    bool catalogApplied = false;
    int catalogRead = -1;  // LoadLocale's code of the language read at start-up

    // ---- controls (names as the window's designer gave them) ----
    QMenuBar* menuStripMain;
    QToolBar* toolStripMain;
    QHash<QString, QAction*> actions;
    QHash<QString, QMenu*> menus;
    QAction *toolStripLoad, *toolStripFromClip, *toolStripSave, *toolStripToClip, *toolStripView, *toolStripDiaShow,
        *toolStripButtonScreenshot, *toolStripButtonLanguage;
    QGroupBox *groupBoxViewDia, *groupBoxLoadSave, *groupBoxProcessing, *groupBox1;
    QCheckBox *checkBoxAutoView, *checkBoxRotate, *checkBoxAlpha, *checkBoxFixedSize, *checkBoxFullScreen,
        *checkBoxBorderLess, *checkBoxDiaTimer, *checkBoxLoop, *checkBoxMetaLoad, *checkBoxMetaSave, *checkBoxArea,
        *checkBoxUndo, *checkBoxAutoConv, *checkBoxAutoConv8, *checkBoxAutoCM, *checkBoxBackFwd;
    QLabel *labelOR, *labelViewMode, *labelSaveFormat, *labelMetaData, *labelLossLess, *labelBackFwd;
    QComboBox *comboBoxViewMode, *comboBoxFormat, *comboBoxSubFormat;
    QSpinBox *numericFixWidth, *numericFixHeight, *numericDiaTimer;
    QPushButton *buttonConfig, *buttonCrop, *buttonTransform, *buttonCM, *buttonCMApply, *buttonCMStrip;
    PictureBox* pictureBoxPreview;
    QPushButton *buttonView, *buttonBackward, *buttonForward, *buttonFullBackward, *buttonFullForward, *buttonMeta,
        *buttonGfxInfo, *buttonICCInfo, *buttonToggle, *buttonArea;
    QLabel *labelFileInfo, *labelSubType, *labelFileFlags, *labelFileName, *labelStatus;
    QPushButton* buttonStatus;
    QProgressBar* progressBar1;

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWindow();
    void buildToolBar();
    void wireControls();
    void applySettingsToControls();
    void fillSaveFormats();
    void selectWriter(int index);
    QString chooseWriter();
    QString withExtension(const QString& path, const QString& ext) const;
    // Where a file dialog starts: the current picture's folder, else the
    // dialog's own last folder, else the other last folder, else the
    // pictures folder.
    QString startFolder(const QString& own, const QString& other) const;
    void fillSubFormats();
    void applyCatalog(const CatalogHandler& catalog, bool languageFailed);
    void runAction(const kxactions::ActionDef& d);
    uint32_t runOperatorDef(const kxactions::ActionDef& d);
    // One operator run of a command: a settings list on the operator's pad
    // with the keys (none: the operator reads its own pad), the dispatcher on
    // the current image (it takes the area itself).
    uint32_t dispatch(uint32_t op, const kxown::KeyList* keys);
    void statusError(uint32_t code);
    void mirrorSettings();
    void enableUndoCommand(bool on);

    // Commands
    void cmdOpen();
    // True when the picture was saved (not when the dialog was cancelled or
    // the save failed).
    bool cmdSave();
    void cmdExit();
    // Before a changed picture goes (replaced, or the window closes): Save,
    // Discard or Cancel, with text as the question. True when it may go:
    // it was not changed, its changes were discarded, or they were saved.
    bool mayDropChanges(const QString& text);
    // The same question before another picture replaces the current one
    // (open, neighbour buttons, slide show, clipboard, grab, acquisition,
    // raw and camera RAW imports).
    bool mayReplacePicture();
    void cmdUndo();
    void cmdView();
    int showViewer(View* v, int* result, const QString& path, bool dia);
    void cmdDiaShow();
    void cmdFixOrientation();
    void cmdIncreasePaletteDepth();
    void cmdEndianSwap();
    void cmdStripHamEhb();
    void cmdStripMeta();
    void cmdApplyStripIcc();
    void cmdDither(int depth, int mode);
    void cmdDialog(const kxactions::ActionDef& d);
    // "Area active" on (after off when fresh), as the user's selection
    // opens; true when an area is selected afterwards.
    bool chooseArea(bool fresh);
    uint32_t convertToTrueColour();
    void cmdImportAlpha();
    void cmdExportAlpha();
    void cmdProgramSettings();
    void cmdViewLog();
    void cmdAbout();
    void cmdCheckUpdate();
    void cmdGfxInfo();
    void cmdInstanceInfo();
    void cmdOperatorList();
    void cmdModuleDefaults(bool formats);
    // The settings editor (DialogSettings) on a module's pad or "Kaxon5";
    // 0 after a save.
    int openSettings(const QString& name, KX_GfxBuffer* img, bool area, long l, long t, long w, long h);
    void wireSettingsEditor();
    void cmdColourBrowser();
    void startChecks(bool splash, const QUrl& address);
    int showModal(QDialog* d);
    // Clipboard, screen grab, printing, acquisition (MainExchange.cpp)
    void cmdCopy();
    void cmdCopyAlpha();
    uint32_t cmdOpenFromClipboard();
    uint32_t openClipboardImage(const QImage& bitmap);
    void cmdPaste();
    void cmdPrinterSetup();
    void cmdPrint(bool preview);
    void cmdAcquire(bool camera);
    uint32_t openVirtual(const QString& path, const char* statusKey);
    QString clipFile(int index) const;
    // The area selection (MainArea.cpp)
    void wireArea();
    void areaChanged(bool on);
    void areaFrameToggle();
    void cmdMark();
    void cmdAreaCommand(bool crop);
    void cmdShapeArea(int kind);  // 0 Crop (Select), 1 Cut (Erase), 2 Cut Inverse (Erase)
    KX_GfxBuffer* selectArea(KX_GfxBuffer* img, QRect* rect);
    // The lossless JPEG commands (MainLossless.cpp)
    void wireLossless();
    QString losslessTool();
    void cmdLossless(bool crop);
    uint32_t runLossless(const QStringList& args, const QString& input, const QString& output, const QString& tool);
    // The imports (MainRawImport.cpp): kind "raw", "dcraw" or "xmp".
    void cmdImport(const QString& kind);
    uint32_t importDevice(const char* className, const kxraw::Keys& keys, const char* statusKey, const QString& file);
    void importXmp();
    // The colour commands (MainColour.cpp); which: "import", "export",
    // "colorimetry" or "colorspace".
    void wireColour();
    void cmdColour(const char* which);
    void cmdColorimetry();
    void cmdColourSpaceInfo();
    void cmdExportIcc();
    // The metadata record as the bridge's editable copy, an empty one made
    // when the picture has none. Null after the failure's message box, with
    // *code 9 when there is no record at all (the caller reports it), else 0.
    KXOSpecialInfo* editableMetaData(uint32_t* code);
    // Attaches an ICC file (empty: chosen in the open dialog) to the picture.
    uint32_t LoadICCProfile(const QString& path = QString());
    // Converts or attaches as the colorimetry dialog chose; command: run
    // from the menu (the copy error names the profile).
    uint32_t applyColorimetry(const DialogColorimetric& d, bool command);
    // The metadata dialog (MainMetadata.cpp)
    void wireMetadata();
    void cmdShowMeta();
    void openDocument(const QUrl& url);
    void navigate(int direction);  // 0 back, 1 forward, 2 first, 3 last
    void updateNavButtons();
    bool singleLetterBlocked(QWidget* target) const;

    UiServices* ui;
    std::unique_ptr<UiServices> ownUi;
    QHash<QString, QString> txt;
    QTimer* poller = nullptr;
    bool start = true;
    bool disposed = false;
    bool closeConfirmed = false;
    bool formatGuard = false;
    int workerWaits = 0;        // a library task runs on the worker
    bool closePending = false;  // a close came while it ran
    QString saveFilter = QStringLiteral("All Files (*)");
    kxwalk::Neighbours neighbours;
    std::unique_ptr<QPrinter> printDocumentFile;
};
