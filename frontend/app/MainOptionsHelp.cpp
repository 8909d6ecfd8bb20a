// Main: the program settings command, the settings editor's openers (the
// browsers, "All Settings...", the save panel's button), the colour browser,
// and the Help menu's documents, web pages and log.
#include "Main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>

#include "About.h"
#include "DialogInfoList.h"
#include "DialogKXList.h"
#include "DialogOptions.h"
#include "DialogSettings.h"
#include "DialogSettingsColour.h"
#include "core/object.h"
#include "core/kxbridge.h"
#include "UpdateCheck.h"
#include "UiServices.h"

namespace {
KXBrowserDirs browserDirs(const KXApp& app) {
    return {QFile::decodeName(app.ProgDir.c_str()), QFile::decodeName(app.EnvDir.c_str()),
            QFile::decodeName(app.EnvArcDir.c_str()), QFile::decodeName(app.UserHome.c_str()), app.InstanceNumber};
}
}  // namespace

void Main::cmdProgramSettings() {
    DialogOptions dlg(ui, this);
    // "All Settings...": every key of the program's own pad.
    dlg.buttonAllSettings->setEnabled(true);
    connect(dlg.buttonAllSettings, &QPushButton::clicked, &dlg,
            [this] { openSettings(QStringLiteral("Kaxon5"), nullptr, false, 0, 0, 0, 0); });
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

// The splash (at a start without a file) and the day's update check, which
// is off when the program settings say ONLINE_UPDATE=NO.
void Main::startChecks(bool splash, const QUrl& address) {
    // "G" shows the same details as Image Information > GfxBuffer Info.
    buttonGfxInfo->setEnabled(true);
    connect(buttonGfxInfo, &QPushButton::clicked, this, [this] { cmdGfxInfo(); });
    wireSettingsEditor();
    updater = new UpdateCheck(this, ui, [this](const QString& key) { return Msg(key); });
    const QString temp = app.Library && app.Library->TempDir ? QFile::decodeName(app.Library->TempDir) : QString();
    if (!address.isEmpty()) updater->address = address;
    updater->markerPath = temp + QStringLiteral("kx5upd.tmp");
    if (splash)
        About::AboutStart(ui, this, progdir, QLatin1String(kxversion::kText), kxversion::kReleaseDay,
                           kxversion::kReleaseMonth, kxversion::kReleaseYear);
    if (app.Settings.OnlineUpdate) updater->Start(false, true);
}

void Main::cmdAbout() {
    About a(ui, this);
    a.Prepare(progdir, QLatin1String(kxversion::kText), kxversion::kReleaseDay, kxversion::kReleaseMonth,
              kxversion::kReleaseYear, false);
    showModal(&a);
}

int Main::showModal(QDialog* d) { return dialogScript ? dialogScript(d) : d->exec(); }

void Main::cmdGfxInfo() {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) {
        statusError(KXERR_NOVIEWABLEDATA);
        return;
    }
    DialogInfoList d(ui, this);
    if (d.Prepare(QString::fromLatin1(DialogKXGfxInfo::kTitle),
                  KX_GfxInfoRows(img, labelFileName->text(), labelFileInfo->text(), labelSubType->text())))
        showModal(&d);
}

void Main::cmdInstanceInfo() {
    KXInstanceFacts f;
    f.instanceId = QString::fromStdString(app.AtomName);
    f.programDir = progdir;
    f.loadDir = loadRememberPath;
    f.saveDir = saveRememberPath;
    f.diaDir = diaRememberPath;
    f.iccDir = iccdir;
    f.logging = app.Settings.LogStart;
    f.logLevel = app.Settings.LogLevel;
    DialogInfoList d(ui, this);
    if (d.Prepare(QString::fromLatin1(DialogInstanceInfo::kTitle), KX_InstanceInfoRows(app.Library, f))) showModal(&d);
}

// Operator Full List: the browser on the area (or the image); after Apply
// the chosen operator runs through the dispatcher with its own pad.
void Main::cmdOperatorList() {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) {
        statusError(KXERR_NOVIEWABLEDATA);
        return;
    }
    KX_GfxBuffer* on = app.AreaBuffer ? app.AreaBuffer : img;
    DialogKXPList dlg(browserDirs(app), this);
    dlg.openSettings = [this, on](const QString& name) {
        openSettings(name, on, app.AreaBuffer != nullptr, app.AreaLeft, app.AreaTop, app.AreaWidth, app.AreaHeight);
    };
    dlg.PrepareP(on, app.AreaBuffer != nullptr, app.AreaLeft, app.AreaTop, app.AreaWidth, app.AreaHeight,
                 KX_GetMetaData() != nullptr);
    showModal(&dlg);
    if (dlg._exit || dlg._kxpnum < 0) return;
    const uint32_t err = app.DoOperation(img, nullptr, uint32_t(dlg._kxpnum), nullptr);
    if (err) statusError(err);
}

void Main::cmdModuleDefaults(bool formats) {
    auto edit = [this](const QString& name) { openSettings(name, nullptr, false, 0, 0, 0, 0); };
    if (formats) {
        DialogKXOList dlg(browserDirs(app), this);
        dlg.openSettings = edit;
        showModal(&dlg);
    } else {
        DialogKXPList dlg(browserDirs(app), this);
        dlg.openSettings = edit;
        dlg.PrepareS();
        showModal(&dlg);
    }
}

int Main::openSettings(const QString& name, KX_GfxBuffer* img, bool area, long l, long t, long w, long h) {
    DialogKXPreferences d(browserDirs(app), ui, this);
    d.modal = [this](QDialog* x) { return showModal(x); };
    return d.ShowDialogP(name, img, area, l, t, w, h);
}

namespace {
// The module name of the chosen writer: its settings are in its own pad
// ("JFIF" for the format "JPEG").
QString writerPadName(int index) {
    if (index < 0 || !kxoWrite) return QString();
    for (int i = 0; kxoWrite[i]; ++i)
        if (i == index) return KX_ModuleName(kxoWrite[i]->PadPath);
    return QString();
}
}  // namespace

// The save panel's settings button: the chosen writer's pad, live while the
// archive holds its schema.
void Main::wireSettingsEditor() {
    auto update = [this] {
        const QString name = writerPadName(selectedWriter());
        buttonConfig->setEnabled(KX_HasSchema(QFile::decodeName(app.EnvArcDir.c_str()), name));
    };
    connect(comboBoxFormat, &QComboBox::currentIndexChanged, this, update);
    connect(buttonConfig, &QPushButton::clicked, this, [this] {
        const QString name = writerPadName(selectedWriter());
        if (!name.isEmpty()) openSettings(name, nullptr, false, 0, 0, 0, 0);
    });
    update();
}

// Palette Browser and Color Analyzer: the colour picker browsing the picture.
void Main::cmdColourBrowser() {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) {
        statusError(KXERR_NOVIEWABLEDATA);
        return;
    }
    DialogCPColor d(browserDirs(app), this);
    d.Prepare(img, true);
    showModal(&d);
}

// Help > Check for Update: reports every outcome; nothing while one runs.
void Main::cmdCheckUpdate() {
    if (updater && !updater->Running()) updater->Start(true, true);
}
