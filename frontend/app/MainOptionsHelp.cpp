// Main: the program settings command and the Help menu's documents, web
// pages and log.
#include "Main.h"

#include <QCheckBox>
#include <QFile>

#include "DialogOptions.h"
#include "UiServices.h"

void Main::cmdProgramSettings() {
    DialogOptions dlg(ui, this);
    const KXProgramSettings& s = app.Settings;
    int ret;
    QString env = QFile::decodeName(app.EnvDir.c_str()), arc = QFile::decodeName(app.EnvArcDir.c_str());
    if (optionsScript) {
        // Scripted runs (tests) drive the dialog themselves.
        dlg.Prepare(progdir, env, arc, s.UndoLimit, s.UndoMax, s.LogStart, s.LogLevel, s.UndoCompress, s.UndoCompressLevel);
        ret = optionsScript(&dlg);
    } else {
        ret = dlg.ShowDialogP(progdir, env, arc, s.UndoLimit, s.UndoMax, s.LogStart, s.LogLevel, s.UndoCompress, s.UndoCompressLevel);
    }
    (void)ret;
    if (!dlg._exit) {
        KXProgramSettings& w = app.Settings;
        app.UndoSkip = false;
        w.UndoLimit = dlg._undo;
        w.UndoMax = dlg._undolimit;
        checkBoxUndo->setText(w.UndoLimit ? QStringLiteral("Undo (%1) active").arg(w.UndoMax) : QStringLiteral("Undo active"));
        const bool running = w.LogStart && app.Library && app.Library->GetLog();
        if (running && !dlg._logstart) {
            app.Library->StopLog();
        } else if (!running && dlg._logstart && app.Library) {
            app.Library->StartLog();
            app.Library->SetLogLevel(uint32_t(dlg._loglevel));
            app.LogStart();
        }
        w.LogStart = dlg._logstart;
        w.LogLevel = dlg._loglevel;
        w.UndoCompress = dlg._undocomp;
        w.UndoCompressLevel = dlg._undocomplevel;
    }
    if (dlg._locale_changed) {
        language = dlg.language;
        app.Settings.Language = language.toStdString();
        Localize();
    }
}

void Main::cmdViewLog() {
    KXLog* log = app.Library ? app.Library->GetLog() : nullptr;
    if (app.Settings.LogStart && log) {
        log->Flush();
        openDocument(QUrl::fromLocalFile(QFile::decodeName(log->GetPath())));
    } else {
        ShowMessage(KXMessageKind::Error, Text("TXT_ERROR_NO_CONFIG_LOGGING"));
    }
}

// A document or address the desktop cannot open is named in a box, so the
// user can open it another way.
void Main::openDocument(const QUrl& url) {
    if (ui->OpenUrl(url)) return;
    const QString where = url.isLocalFile() ? url.toLocalFile() : url.toString();
    ShowMessage(KXMessageKind::Error,
                QStringLiteral("Could not open\n%1\n(no program to show it was found).").arg(where).toStdString());
}
