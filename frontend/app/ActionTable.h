// ActionTable: every menu entry of the main window in one table (id, parent
// menu, catalog key, English text, window key, theme icon, command, operator
// number and settings). The menu bar and every QAction are made from it
// once; operator items carry their number and settings and one dispatcher
// runs them. An entry is enabled only when its command exists and every
// module it runs is a real one in the catalogue (its operator, the items
// of a chain, the classes named in needs), so entries come alive by
// themselves as modules land.
#pragma once

#include <QHash>
#include <QString>
#include <vector>

class QAction;
class QMenu;
class QMenuBar;
class QObject;

namespace kxactions {

enum class Kind { Menu, Item, Separator };

enum class Cmd {
    None,
    Operator,        // op with settings
    Chain,           // op, then the items named in arg, as one undo step
    Dither,          // the window's dithering routine: arg "depth,mode"
    DiaShow,
    Open,
    SaveAs,
    Exit,
    ImportAlpha,
    ExportAlpha,
    InfoNote,        // arg: catalog key of the note
    Undo,
    View,
    FixOrientation,
    IncreasePaletteDepth,
    EndianSwap,
    StripHamEhb,
    StripMeta,
    ApplyStripIcc,
    ProgramSettings,
    HelpFile,        // arg: file of the program directory
    HelpUrl,         // arg: index into the link list
    ViewLog,
    // Clipboard, printing, acquisition and the area (MainExchange.cpp, MainArea.cpp)
    OpenClip,
    SaveClip,        // copy: the image, or the area when one is selected
    CopyAlpha,
    Paste,
    PrinterSetup,
    PrintPreview,
    Print,
    Acquire,         // arg: "scanner" or "camera"
    Mark,
    AreaCut,
    AreaCrop,
    ShapeArea,       // arg: "crop", "cut" or "cutinverse"
    // About box, update check, information dialogs, browsers (MainOptionsHelp.cpp)
    About,
    CheckUpdate,
    GfxInfo,
    InstanceInfo,
    OperatorList,
    OperatorDefaults,
    ObjectDefaults,
    ColourBrowser,   // the colour picker browsing the picture
    Dialog,          // the dialog command of the entry (kxdlg::Commands)
    Import,          // arg: "raw", "dcraw" or "xmp" (MainRawImport.cpp)
    Colour,          // MainColour.cpp; arg: "import", "export", "colorimetry", "colorspace"
    ShowMeta,        // the metadata dialog (MainMetadata.cpp)
};

enum Flags : unsigned {
    DropAreaFirst = 1,   // Halve/Double work on the whole image
    QuietError = 2,      // the dispatcher reports; the command adds nothing
};

struct ActionDef {
    const char* id;
    const char* parent;    // "" for the menu bar
    const char* key;       // catalog key, or nullptr (fixed text)
    const char* text;      // English text
    const char* shortcut;  // window key, or nullptr
    const char* icon;      // theme icon, or nullptr
    Kind kind;
    Cmd cmd;
    int op;                // operator number, -1 for none
    // nullptr: no settings list (the operator reads its own pad);
    // "": an empty list; "KEY=VALUE;KEY=VALUE": those keys. A value
    // starting with "@" is a file of the archive settings directory.
    const char* settings;
    const char* arg;
    unsigned flags;
    // Module classes the command runs besides its operator
    // ("kxpRotate;kxpLeftToRight"), or nullptr.
    const char* needs = nullptr;
};

const std::vector<ActionDef>& Table();
const ActionDef* Find(const QString& id);

// True when the entry has a command and every module it runs is built
// (KX_OperatorIsBuilt for its operator, KX_IsBuilt for the classes it
// needs, the same for each item of a chain).
bool Ready(const ActionDef& d);

// True when the entry works on the current picture: without one it is
// disabled (opening, importing a new picture, settings and help are not).
bool NeedsPicture(const ActionDef& d);

// Builds the menus under bar in table order; every item (and every menu,
// as its menuAction) is stored in actions by id. Items that are not
// Ready are disabled.
void BuildMenus(QMenuBar* bar, QHash<QString, QAction*>& actions, QHash<QString, QMenu*>& menus);

}  // namespace kxactions
