// Main: start-up and shut-down of the main window, the question before a
// changed picture goes (replaced or at exit), and the program settings
// spread over its check boxes (and mirrored back into the core's fields).
#include "Main.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPrinter>
#include <QScreen>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTimer>
#include <future>

#include "ActionTable.h"
#include "HotKey.h"
#include "MainShared.h"
#include "UiServices.h"
#include "UpdateCheck.h"

using kxmain::ParsedCatalog;
using kxmain::parseCatalog;

Main::Main(const MainOptions& o) : app(this) {
    ui = o.ui;
    if (!ui) {
        ownUi = std::make_unique<DesktopUiServices>();
        ui = ownUi.get();
    }
    setWindowTitle(QStringLiteral("Kaxon5"));
    buildWindow();
    // Nothing to work on until a picture loads.
    enablePictureCommands(false);
    const QString file = o.arguments.size() >= 2 ? o.arguments.at(1) : QString();

    QByteArray progArg = QFile::encodeName(o.programDir), homeArg = QFile::encodeName(o.userHome),
               lockArg = QFile::encodeName(o.lockDir);
    KXStartOptions so;
    so.ProgramDir = o.programDir.isEmpty() ? nullptr : progArg.constData();
    so.UserHome = o.userHome.isEmpty() ? nullptr : homeArg.constData();
    so.LockDir = o.lockDir.isEmpty() ? nullptr : lockArg.constData();
    so.FileOnCommandLine = !file.isEmpty();
    if (app.Startup(so) != 0) {
        start = false;
        ui->Message(this, QStringLiteral("Kaxon5 Error"), QStringLiteral("The image library could not be started."),
                    UiServices::Icon::Critical);
        return;
    }
    progdir = QFile::decodeName(app.ProgDir.c_str());
    iccdir = progdir + QStringLiteral("/Resources/ICCP/");
    std_cmfile = app.Settings.StdCmFile.empty() ? iccdir + QStringLiteral("sRGB_IEC61966-2-1_black_scaled.icc")
                                                : QFile::decodeName(app.Settings.StdCmFile.c_str());
    language = QString::fromStdString(app.Settings.Language);

    // The catalog is read on its own thread while the window is set up, and
    // applied here, on the interface thread, before the start-up load.
    auto catalog = std::async(std::launch::async, parseCatalog, progdir, language);

    // Save-format list: the real writers in table order, the settings' choice.
    fillSaveFormats();
    applySettingsToControls();
    wireControls();
    fillSubFormats();

    poller = new QTimer(this);
    connect(poller, &QTimer::timeout, this, [this] { app.Tasks.PollProgress(); });
    poller->start(250);

    QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    // A pictures folder that does not exist would leave the dialogs
    // proposing its name inside the home folder.
    if (pictures.isEmpty() || !QDir(pictures).exists()) pictures = QDir::homePath();
    picturesDir = pictures;
    loadRememberPath = saveRememberPath = diaRememberPath = pictures;
    labelBackFwd->setText(QString());
    // Alt+Esc grabs the screen whichever program is in front; not while a
    // task or a dialog of the window is under way.
    HK1 = new HotKey(this);
    connect(HK1, &HotKey::HotKeyPressed, this, [this](int) {
        if (!workerWaits && !QApplication::activeModalWidget() && !disposed) cmdGrab();
    });
    HK1->AddHotKey(Qt::Key_Escape, HotKey::MOD_ALT, 1);
    // Centred on the screen, not where the window manager happens to put it.
    if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
    show();

    ParsedCatalog parsed = catalog.get();
    catalogRead = parsed.languageFailed ? 1 : parsed.catalog.retval;
    applyCatalog(parsed.catalog, parsed.languageFailed);
    labelStatus->setText(Msg(QStringLiteral("TXT_READY")));

    quitRequest = false;
    if (!file.isEmpty()) {
        iniload = true;
        LoadFile(QFileInfo(file).absoluteFilePath());
        iniload = false;
        if (quitRequest) {
            start = false;
            closeConfirmed = true;
            close();
            return;
        }
    }
    if (!isVisible()) show();
    startChecks(o.splash && file.isEmpty(), o.updateAddress);
}

Main::~Main() {
    delete updater;
    qApp->removeEventFilter(this);
    if (!disposed) app.Shutdown();
}

void Main::closeEvent(QCloseEvent* e) {
    // The library is busy on the worker: close once it is done.
    if (workerWaits) {
        closePending = true;
        e->ignore();
        return;
    }
    if (!closeConfirmed && !mayDropChanges(Msg("TXT_REQUEST_REALLY_EXIT"))) {
        e->ignore();
        return;
    }
    closeConfirmed = true;
    if (!disposed) {
        disposed = true;
        if (poller) poller->stop();
        app.Shutdown();
    }
    e->accept();
}

void Main::cmdExit() {
    if (!mayDropChanges(QStringLiteral("Do you really want to exit?"))) return;
    closeConfirmed = true;
    close();
}

// One question for every way a changed picture can go. Save is the save
// command as the user runs it (the save dialog with the chosen format): a
// cancelled dialog or a failed save keeps the picture.
bool Main::mayDropChanges(const QString& text) {
    if (!app.Modified) return true;
    QMessageBox box(QMessageBox::Warning, Msg("TXT_KAXON5_REQUEST"), text,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    showModal(&box);
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Save: return cmdSave();
    case QMessageBox::Discard: return true;
    default: return false;  // Cancel, or the box closed without an answer
    }
}

bool Main::mayReplacePicture() { return mayDropChanges(QStringLiteral("The image was changed. Save the changes first?")); }

void Main::applySettingsToControls() {
    const KXProgramSettings& s = app.Settings;
    checkBoxUndo->setChecked(s.Undo);
    // As the box's own change handler would: no undo command while undo is off.
    enableUndoCommand(s.Undo);
    checkBoxAutoConv->setChecked(s.AutoConv);
    checkBoxAutoConv8->setChecked(s.AutoConv8);
    checkBoxRotate->setChecked(s.AutoRotate);
    checkBoxAutoView->setChecked(s.AutoView);
    checkBoxAutoCM->setChecked(s.AutoCM);
    comboBoxViewMode->setCurrentIndex(std::clamp<int>(s.ViewMode, 0, 4));
    checkBoxAlpha->setChecked(s.ViewAlpha);
    checkBoxFixedSize->setChecked(s.ViewFixedSize);
    numericFixWidth->setValue(s.ViewWidth);
    numericFixHeight->setValue(s.ViewHeight);
    checkBoxFullScreen->setChecked(s.ViewFullScreen && !s.ViewFixedSize);
    if (checkBoxFullScreen->isChecked()) {
        checkBoxFixedSize->setEnabled(false);
        numericFixWidth->setEnabled(false);
        numericFixHeight->setEnabled(false);
    }
    checkBoxBorderLess->setChecked(s.ViewBorderless);
    checkBoxBackFwd->setChecked(s.ViewBackFwd);
    checkBoxDiaTimer->setChecked(s.DiaTimer);
    numericDiaTimer->setValue(s.DiaTimerSec);
    checkBoxLoop->setChecked(s.DiaLoop);
    checkBoxMetaLoad->setChecked(s.MetaLoad);
    checkBoxRotate->setEnabled(s.MetaLoad);
    checkBoxMetaSave->setChecked(s.MetaSave);
    selectWriter(s.SaveFormat);
    app.Tasks.Threaded = s.ThreadedProgress;
}

// What works on the picture is live only while there is one; the tool
// bar's buttons follow their menu entries.
void Main::enablePictureCommands(bool havePicture) {
    for (const kxactions::ActionDef& d : kxactions::Table()) {
        if (!kxactions::NeedsPicture(d)) continue;
        if (QAction* a = actions.value(QString::fromLatin1(d.id))) a->setEnabled(havePicture && kxactions::Ready(d));
    }
    const std::pair<QAction*, const char*> tools[] = {
        {toolStripSave, "file.saveas"}, {toolStripToClip, "file.saveclip"}, {toolStripView, "image.view"}};
    for (const auto& [button, id] : tools)
        if (QAction* entry = actions.value(QLatin1String(id)); button && entry) button->setEnabled(entry->isEnabled());
}

// The undo command follows "UnDo active", while its module is there.
void Main::enableUndoCommand(bool on) {
    const kxactions::ActionDef* d = kxactions::Find(QStringLiteral("edit.undo"));
    if (QAction* undo = actions.value(QStringLiteral("edit.undo"))) undo->setEnabled(on && d && kxactions::Ready(*d));
}

// The core reads its settings fields; the boxes are mirrored into them.
void Main::mirrorSettings() {
    KXProgramSettings& s = app.Settings;
    s.AutoConv8 = checkBoxAutoConv8->isChecked();
    s.AutoRotate = checkBoxRotate->isChecked();
    s.AutoView = checkBoxAutoView->isChecked();
    s.AutoCM = checkBoxAutoCM->isChecked();
    s.ViewMode = comboBoxViewMode->currentIndex();
    s.ViewAlpha = checkBoxAlpha->isChecked();
    s.ViewFixedSize = checkBoxFixedSize->isChecked();
    s.ViewWidth = numericFixWidth->value();
    s.ViewHeight = numericFixHeight->value();
    s.ViewFullScreen = checkBoxFullScreen->isChecked();
    s.ViewBorderless = checkBoxBorderLess->isChecked();
    s.ViewBackFwd = checkBoxBackFwd->isChecked();
    s.DiaTimer = checkBoxDiaTimer->isChecked();
    s.DiaTimerSec = numericDiaTimer->value();
    s.DiaLoop = checkBoxLoop->isChecked();
    s.MetaLoad = checkBoxMetaLoad->isChecked();
    s.MetaSave = checkBoxMetaSave->isChecked();
    if (selectedWriter() >= 0) s.SaveFormat = selectedWriter();
}
