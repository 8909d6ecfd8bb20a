// Main: the image commands that open an operator dialog (the table of
// kxdlg::Commands): the checks before the dialog, the dialog on the area or
// the image, then its operator runs through the dispatcher as one undo step.
#include <QCheckBox>
#include <QFile>
#include <QSignalBlocker>
#include <memory>
#include <utility>

#include "ActionTable.h"
#include "DialogCommands.h"
#include "Main.h"
#include "OwnOperator.h"

using kxactions::ActionDef;

bool Main::chooseArea(bool fresh) {
    if (fresh) checkBoxArea->setChecked(false);
    checkBoxArea->setChecked(true);
    if (!app.AreaBuffer) {
        // Nothing chosen: the box goes back without dropping anything.
        QSignalBlocker block(checkBoxArea);
        checkBoxArea->setChecked(false);
    }
    return app.AreaBuffer != nullptr;
}

void Main::cmdDialog(const ActionDef& d) {
    const kxdlg::Command* c = kxdlg::FindCommand(QString::fromLatin1(d.id));
    if (!c) return;
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) {
        if (c->flags & kxdlg::FreshArea) app.Status(Text("TXT_NO_FILE_LOADED"));
        else if (!(c->flags & kxdlg::InPlace)) statusError(KXERR_NOVIEWABLEDATA);
        return;
    }
    if ((c->flags & kxdlg::InPlace) && img->ColorDepth > 8) {
        ShowMessage(KXMessageKind::Error, Text(c->refusal));
        return;
    }
    // A palette picture is converted only once the dialog is confirmed, so
    // Cancel leaves it as it was; the dialog previews a true-colour copy.
    bool toTrueColour = false;
    if ((c->flags & kxdlg::TrueColourOnly) && img->ColorDepth <= 8) {
        if (!checkBoxAutoConv->isChecked()) {
            ShowMessage(KXMessageKind::Error, Text(c->refusal));
            return;
        }
        toTrueColour = true;
    }
    if ((c->flags & kxdlg::FreshArea) && !chooseArea(true)) return;
    if ((c->flags & kxdlg::AreaFirst) && !app.AreaBuffer && !chooseArea(false)) return;

    kxdlg::Plan plan{{c->op, {}, false}};
    if (c->make) {
        kxdlg::Context ctx;
        ctx.target = app.AreaBuffer ? app.AreaBuffer : img;
        ctx.image = img;
        ctx.area = app.AreaBuffer != nullptr;
        ctx.progdir = progdir;
        ctx.envdir = QFile::decodeName(app.EnvDir.c_str());
        ctx.envarcdir = QFile::decodeName(app.EnvArcDir.c_str());
        ctx.loaddir = loadRememberPath;
        ctx.appdir = QFile::decodeName(app.UserHome.c_str());
        ctx.lib = app.Library;
        ctx.ui = ui;
        ctx.parent = this;
        KXApp::UndoMark mark;
        if ((c->flags & kxdlg::InPlace) && app.Settings.Undo) mark = app.AddUndoStep(img);
        std::unique_ptr<DialogKXOFrame> dialog(c->make(ctx));
        if (!dialog) return;
        showModal(dialog.get());
        if (c->flags & kxdlg::InPlace) {
            // The picture was edited in its own record: a change is kept
            // with its undo step and marks the picture changed.
            if (dialog->Changed()) {
                app.KeepUndoStep(mark);
                app.ChangeCount++;
                app.Modified = true;
            } else {
                app.DropUndoStep(mark);
            }
            UpdatePreview(false);
            return;
        }
        if (dialog->_exit != 0) return;
        plan = dialog->Steps();
    }
    if (plan.empty()) return;
    if (toTrueColour) {
        if (const uint32_t err = convertToTrueColour()) {
            statusError(err);
            return;
        }
    }
    if (c->flags & kxdlg::WholeImage) checkBoxArea->setChecked(false);

    // The runs of one command are one undo step.
    std::vector<bool> worked(plan.size(), false);
    uint32_t err = 0;
    bool first = true;
    for (size_t i = 0; i < plan.size() && !err; ++i) {
        const kxdlg::Step& s = plan[i];
        if (s.previewOnly || (s.after >= 0 && !worked[size_t(s.after)])) continue;
        if (!first) app.UndoSkip = true;
        first = false;
        const uint32_t e = dispatch(s.op, s.settings ? &s.keys : nullptr);
        if (e && !s.mayFail) err = e;
        worked[i] = e == 0;
    }
    if (c->flags & kxdlg::DropAreaAfter) checkBoxArea->setChecked(false);
    if (!err && (c->flags & kxdlg::StripAlphaAfter)) {
        app.UndoSkip = true;
        err = dispatch(KXOP_STRIPALPHA, nullptr);
    }
    app.UndoSkip = false;
    if (err) statusError(err);
}

// The "Convert to 24 Bit" command (which leaves its report to the
// dispatcher) on the whole picture, also while an area is selected: the
// area, cut from the palette picture, is converted the same way, so the
// runs that follow find both in true colour. A failure drops the area.
uint32_t Main::convertToTrueColour() {
    KX_GfxBuffer* area = std::exchange(app.AreaBuffer, nullptr);
    uint32_t err = dispatch(KXOP_ANYTO24BIT, nullptr);
    if (!area) return err;
    KX_GfxBuffer* converted = nullptr;
    if (!err) err = kxown::Run(app.Library, KXOP_ANYTO24BIT, area, &converted, {}, false);
    KXSUP_FreeGfxBuffer(area);
    if (err) {
        app.DropArea();
        return err;
    }
    app.AreaBuffer = converted;
    return KXERR_NONE;
}
