// DialogCommands: the image commands that open a dialog, in one table:
// menu entry -> dialog -> operator number -> keys. The dialog's Steps() give
// the operator runs (numbers and key=value lists) that the main window hands
// its dispatcher; the table says what the main window does around them.
#pragma once

#include <QString>
#include <vector>

#include "DialogFrame.h"

class UiServices;

namespace kxdlg {

// What a command hands its dialog.
struct Context {
    KX_GfxBuffer* target = nullptr;  // the area's buffer while an area is selected, else the current image
    KX_GfxBuffer* image = nullptr;   // the current image
    bool area = false;
    QString progdir, envdir, envarcdir;
    QString loaddir;  // the last load folder
    QString appdir;   // the user's program folder (settings directory's parent)
    KXClass* lib = nullptr;
    UiServices* ui = nullptr;
    QWidget* parent = nullptr;
};

enum Flags : unsigned {
    TrueColourOnly = 1,  // a palette picture is converted first ("Auto 24/48") or refused with the box
    WholeImage = 2,      // "Area active" goes off before the runs
    AreaFirst = 4,       // without an area the area selection opens first; none chosen ends the command
    FreshArea = 8,       // a new area selection always opens first; cancelled ends the command
    DropAreaAfter = 16,  // "Area active" goes off after the runs
    StripAlphaAfter = 32,  // then Strip Alpha runs on the image
    InPlace = 64,        // the dialog edits the picture itself (undo step first, no operator)
};

struct Command {
    const char* id;       // the entry of the action table
    const char* dialog;   // the dialog's class, or nullptr
    uint32_t op;          // the operator it runs (the first one when the dialog chooses)
    const char* keys;     // the keys its runs may set, ';'-separated
    unsigned flags;
    const char* refusal;  // catalog key of the box for a palette picture
    // Makes and prepares the dialog for the context (not shown yet).
    DialogKXOFrame* (*make)(const Context&);
};

const std::vector<Command>& Commands();
const Command* FindCommand(const QString& id);

}  // namespace kxdlg
