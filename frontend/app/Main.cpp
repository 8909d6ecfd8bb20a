#include "Main.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <cstring>
#include <future>

#include "ActionTable.h"
#include "AppLinks.h"
#include "CatalogHandler.h"
#include "DialogOptions.h"
#include "OwnOperator.h"
#include "PictureBox.h"
#include "UiServices.h"
#include "VidView.h"
#include "View.h"

using kxactions::ActionDef;
using kxactions::Cmd;

namespace {

// The message texts of the catalog (each a field of the window).
const char* const kMessageKeys[] = {
    "TXT_NO_PICTUREINFO", "TXT_NO_SUBTYPE", "TXT_NO_SPECIAL_FLAGS", "TXT_NO_FILE_LOADED", "TXT_NO_FILE_ATTACHED",
    "TXT_NO_SUBTYPE2", "TXT_BUFFER", "TXT_DONE", "TXT_READY", "TXT_KAXON5_ERROR", "TXT_KAXON5_INFO",
    "TXT_KAXON5_REQUEST", "TXT_ERROR", "TXT_ERROR_LOADING", "TXT_ERROR_SAVING", "TXT_ERROR_IMPORTING",
    "TXT_ERROR_PASTING", "TXT_ERROR_LOAD_TMPFILE", "TXT_ERROR_SAVE_TMPFILE", "TXT_ERROR_CREATE_METADATA",
    "TXT_ERROR_ICCP_RESOLVE", "TXT_ERROR_METADATA_HANDLING_MEM", "TXT_ERROR_WIA_NO_DLL", "TXT_ERROR_WIA_NO_ACCESS",
    "TXT_ERROR_NO_WIA_SCANNER", "TXT_ERROR_NO_WIA_CAMERA", "TXT_ERROR_UNDO_FAILED", "TXT_ERROR_UNDO",
    "TXT_ERROR_PALETTE_TRUECOLOR_EDIT", "TXT_ERROR_PALETTE_TRUECOLOR_DEPTH", "TXT_ERROR_PALETTE_MAX_DEPTH",
    "TXT_ERROR_PALETTE_COLORMAP_DITHER", "TXT_ERROR_WATERMARK_COLORMAP", "TXT_ERROR_ALPHABLEND_COLORMAP",
    "TXT_ERROR_NOT_HDR", "TXT_ERROR_NO_CONFIG_LOGGING", "TXT_ERROR_NO_CONFIG_GS", "TXT_ERROR_NO_CONFIG_DCRAW",
    "TXT_ERROR_NO_CONFIG_JPEGTRAN", "TXT_NO_UNDO", "TXT_NO_METADATA_LOADED", "TXT_NO_ALPHA", "TXT_NO_ICC_PROFILE",
    "TXT_LOADING", "TXT_SAVING", "TXT_TRANSPARENCY_OK", "TXT_DONE_UNDO", "TXT_KAXON5_UPDATECHECK",
    "TXT_KAXON5_UPDATEAGENT", "TXT_REQUEST_CONVERT_HAM", "TXT_REQUEST_CONVERT_TRUECOLOR", "TXT_INFO_SAVE_RAWMETA",
    "TXT_INFO_SAVE_RAW", "TXT_INFO_LOAD_XMP", "TXT_INFO_UPDATE_NEW_VERSION", "TXT_INFO_UPDATE_DOWNLOAD_NOW",
    "TXT_INFO_UPDATE_CHECK_HISTORY", "TXT_INFO_UPDATE_NO_NEW_VERSION", "TXT_INFO_UPDATE_CHECK_FAIL",
    "TXT_INFO_UPDATE_CHECK_AGAIN", "TXT_LOADING_FROM_CLIP", "TXT_DIASHOW_RUNNING", "TXT_TIMER",
    "TXT_DIASHOW_FINISHED", "TXT_UNDO_LIMIT_REACHED", "TXT_UNDO_PREPARE_BUFFER", "TXT_UNDO_PREPARE_BUFFER_DONE",
    "TXT_UNDO_PREPARE_BUFFER_FAIL", "TXT_OPERATION_SUCCESS", "TXT_AREA_SECTION", "TXT_AREA_SELECT_CANCEL",
    "TXT_AREA_DESELECT", "TXT_AREA_AUTOCONV_ACTIVE_NEED", "TXT_CUT_SECTION", "TXT_CUT_SELECT_CANCEL",
    "TXT_CUTINV_SECTION", "TXT_CUTINV_SELECT_CANCEL", "TXT_CROP_SECTION", "TXT_CROP_SELECT_CANCEL",
    "TXT_IMPORT_SCANNER", "TXT_UNDO_RESTORING", "TXT_AUTOROTATE_NO_NEED", "TXT_AUTOROTATE_NO_METADATA",
    "TXT_ADDALPHA_NO_SOURCE", "TXT_SAVING_ALPHA", "TXT_IMPORT_RAW", "TXT_IMPORT_RAW_DCRAW", "TXT_LOADING_ICC_PROFILE",
    "TXT_SAVING_ICC_PROFILE", "TXT_ADDING_ICC_PROFILE", "TXT_CLIP_COPY_AREA", "TXT_CLIP_COPY_IMAGE", "TXT_CLIP_PASTE",
    "TXT_CLIP_COPY_AREA_ALPHA", "TXT_CLIP_COPY_IMAGE_ALPHA", "TXT_REQUEST_REALLY_EXIT",
};

constexpr int kThumbW = 263, kThumbH = 224;

QString controlText(QObject* o) {
    if (auto* a = qobject_cast<QAction*>(o)) return a->text();
    if (auto* b = qobject_cast<QAbstractButton*>(o)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(o)) return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(o)) return g->title();
    return QString();
}

void setControlText(QObject* o, const QString& t) {
    if (auto* a = qobject_cast<QAction*>(o)) a->setText(t);
    else if (auto* b = qobject_cast<QAbstractButton*>(o)) b->setText(t);
    else if (auto* l = qobject_cast<QLabel*>(o)) l->setText(t);
    else if (auto* g = qobject_cast<QGroupBox*>(o)) g->setTitle(t);
}

QString fileNameOf(const QString& path) { return path.mid(path.lastIndexOf('/') + 1); }

// A file-dialog filter of one extension, both cases.
QString filterFor(const QString& name, const QString& ext) {
    QString e = ext.startsWith('.') ? ext.mid(1) : ext;
    return QStringLiteral("%1 (*.%2 *.%3)").arg(name, e.toLower(), e.toUpper());
}

struct ParsedCatalog {
    CatalogHandler catalog;
    bool languageFailed = false;
};

// Reads the catalog of a language, or English when that fails. Runs on the
// catalog thread: plain data only, nothing of the window.
ParsedCatalog parseCatalog(const QString& progdir, const QString& language) {
    ParsedCatalog p;
    p.catalog = CatalogHandler(progdir, CatalogHandler::CatalogPath(language));
    if (p.catalog.retval != 0) {
        p.languageFailed = true;
        p.catalog = CatalogHandler(progdir, CatalogHandler::CatalogPath(QStringLiteral("english")));
    }
    return p;
}

}  // namespace

// ---------------------------------------------------------------------------
// Start-up

Main::Main(const MainOptions& o) : app(this) {
    ui = o.ui;
    if (!ui) {
        ownUi = std::make_unique<DesktopUiServices>();
        ui = ownUi.get();
    }
    setWindowTitle(QStringLiteral("Kaxon5"));
    buildWindow();
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

    // Save-format list: every writer in table order, the settings' choice.
    formatGuard = true;
    for (int i = 0; kxoWrite && kxoWrite[i]; ++i) comboBoxFormat->addItem(QString::fromUtf8(kxoWrite[i]->FormatName));
    formatGuard = false;
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
    loadRememberPath = saveRememberPath = diaRememberPath = pictures;
    labelBackFwd->setText(QString());
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
}

Main::~Main() {
    qApp->removeEventFilter(this);
    if (!disposed) app.Shutdown();
}

void Main::buildWindow() {
    menuStripMain = menuBar();
    kxactions::BuildMenus(menuStripMain, actions, menus);
    for (auto it = actions.constBegin(); it != actions.constEnd(); ++it) {
        const ActionDef* d = kxactions::Find(it.key());
        if (!d || d->kind != kxactions::Kind::Item || d->cmd == Cmd::None) continue;
        connect(it.value(), &QAction::triggered, this, [this, d] { runAction(*d); });
    }
    buildToolBar();

    auto* central = new QWidget(this);
    setCentralWidget(central);
    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(6, 4, 6, 4);
    auto* columns = new QHBoxLayout;
    outer->addLayout(columns, 1);
    auto* left = new QVBoxLayout;
    columns->addLayout(left);

    // View + DiaShow options
    groupBoxViewDia = new QGroupBox(QStringLiteral("View + DiaShow Options"), central);
    auto* g1 = new QGridLayout(groupBoxViewDia);
    checkBoxAutoView = new QCheckBox(QStringLiteral("AutoView"));
    checkBoxRotate = new QCheckBox(QStringLiteral("Auto Rotate"));
    checkBoxRotate->setChecked(true);
    checkBoxAlpha = new QCheckBox(QStringLiteral("Alpha"));
    checkBoxAlpha->setChecked(true);
    QFont bold = checkBoxAlpha->font();
    bold.setBold(true);
    checkBoxAlpha->setFont(bold);
    labelOR = new QLabel(QStringLiteral("or"));
    labelViewMode = new QLabel(QStringLiteral("View Mode:"));
    comboBoxViewMode = new QComboBox;
    comboBoxViewMode->addItems({"Normal", "StretchImage", "AutoSize", "CenterImage", "Zoom"});
    comboBoxViewMode->setCurrentIndex(4);
    checkBoxFixedSize = new QCheckBox(QStringLiteral("Size"));
    numericFixWidth = new QSpinBox;
    numericFixWidth->setRange(0, 65535);
    numericFixWidth->setValue(640);
    numericFixHeight = new QSpinBox;
    numericFixHeight->setRange(0, 65535);
    numericFixHeight->setValue(480);
    checkBoxFullScreen = new QCheckBox(QStringLiteral("Full Screen"));
    checkBoxBorderLess = new QCheckBox(QStringLiteral("Borderless"));
    checkBoxDiaTimer = new QCheckBox(QStringLiteral("Dia Timer [s]"));
    numericDiaTimer = new QSpinBox;
    numericDiaTimer->setRange(1, 65535);
    numericDiaTimer->setValue(5);
    checkBoxLoop = new QCheckBox(QStringLiteral("Loop"));
    g1->addWidget(checkBoxAutoView, 0, 0);
    g1->addWidget(checkBoxRotate, 0, 1);
    g1->addWidget(checkBoxAlpha, 0, 2);
    g1->addWidget(labelViewMode, 1, 0);
    g1->addWidget(comboBoxViewMode, 1, 1, 1, 2);
    g1->addWidget(checkBoxFixedSize, 2, 0);
    g1->addWidget(numericFixWidth, 2, 1);
    g1->addWidget(numericFixHeight, 2, 2);
    g1->addWidget(labelOR, 3, 0);
    g1->addWidget(checkBoxFullScreen, 3, 1);
    g1->addWidget(checkBoxBorderLess, 3, 2);
    g1->addWidget(checkBoxDiaTimer, 4, 0);
    g1->addWidget(numericDiaTimer, 4, 1);
    g1->addWidget(checkBoxLoop, 4, 2);
    left->addWidget(groupBoxViewDia);

    // Load/Save
    groupBoxLoadSave = new QGroupBox(QStringLiteral("Load/Save Settings"), central);
    auto* g2 = new QGridLayout(groupBoxLoadSave);
    labelSaveFormat = new QLabel(QStringLiteral("Save Format:"));
    comboBoxFormat = new QComboBox;
    comboBoxFormat->setMaxVisibleItems(20);
    comboBoxSubFormat = new QComboBox;
    buttonConfig = new QPushButton(QStringLiteral("C"));
    buttonConfig->setFixedWidth(28);
    buttonConfig->setEnabled(false);  // the settings editor comes later
    labelMetaData = new QLabel(QStringLiteral("Metadata:"));
    checkBoxMetaLoad = new QCheckBox(QStringLiteral("Load"));
    checkBoxMetaLoad->setChecked(true);
    checkBoxMetaSave = new QCheckBox(QStringLiteral("Save"));
    g2->addWidget(labelSaveFormat, 0, 0);
    g2->addWidget(comboBoxFormat, 0, 1);
    g2->addWidget(comboBoxSubFormat, 0, 2);
    g2->addWidget(buttonConfig, 0, 3);
    g2->addWidget(labelMetaData, 1, 0);
    g2->addWidget(checkBoxMetaLoad, 1, 1);
    g2->addWidget(checkBoxMetaSave, 1, 2);
    left->addWidget(groupBoxLoadSave);

    // Processing
    groupBoxProcessing = new QGroupBox(QStringLiteral("Image Processing / AutoConv Options"), central);
    auto* g3 = new QGridLayout(groupBoxProcessing);
    checkBoxArea = new QCheckBox(QStringLiteral("Area active"));
    checkBoxArea->setEnabled(false);  // the area selection comes later
    checkBoxUndo = new QCheckBox(QStringLiteral("UnDo active"));
    checkBoxUndo->setChecked(true);
    checkBoxAutoConv = new QCheckBox(QStringLiteral("Auto 24/48"));
    checkBoxAutoConv->setChecked(true);
    checkBoxAutoConv8 = new QCheckBox(QStringLiteral("Auto 8"));
    labelLossLess = new QLabel(QStringLiteral("LL:"));
    buttonCrop = new QPushButton(QStringLiteral("Crop"));
    buttonTransform = new QPushButton(QStringLiteral("Transform"));
    buttonCrop->setEnabled(false);
    buttonTransform->setEnabled(false);
    g3->addWidget(checkBoxArea, 0, 0);
    g3->addWidget(checkBoxUndo, 0, 1);
    g3->addWidget(checkBoxAutoConv, 1, 0);
    g3->addWidget(checkBoxAutoConv8, 1, 1);
    auto* ll = new QHBoxLayout;
    ll->addWidget(labelLossLess);
    ll->addWidget(buttonCrop);
    ll->addWidget(buttonTransform);
    g3->addLayout(ll, 2, 0, 1, 2);
    left->addWidget(groupBoxProcessing);

    // Colour management
    groupBox1 = new QGroupBox(QStringLiteral("Color Management"), central);
    auto* g4 = new QHBoxLayout(groupBox1);
    checkBoxAutoCM = new QCheckBox(QStringLiteral("CMS active"));
    checkBoxAutoCM->setChecked(true);
    buttonCM = new QPushButton(QStringLiteral("Profile?"));
    buttonCMApply = new QPushButton(QStringLiteral("Apply+Strip"));
    buttonCMStrip = new QPushButton(QStringLiteral("Strip"));
    buttonCM->setEnabled(false);
    buttonCMApply->setEnabled(false);
    buttonCMStrip->setEnabled(false);
    g4->addWidget(checkBoxAutoCM);
    g4->addWidget(buttonCM);
    g4->addWidget(buttonCMApply);
    g4->addWidget(buttonCMStrip);
    left->addWidget(groupBox1);
    left->addStretch(1);

    // Right: thumbnail, small buttons, the four information lines.
    auto* right = new QVBoxLayout;
    columns->addLayout(right);
    pictureBoxPreview = new PictureBox(central);
    pictureBoxPreview->setFixedSize(kThumbW, kThumbH);
    pictureBoxPreview->setSunken(true);
    pictureBoxPreview->setMode(PictureBox::Stretch);
    QImage dot(1, 1, QImage::Format_RGB888);
    dot.fill(palette().color(QPalette::Window));
    pictureBoxPreview->setImage(dot);
    right->addWidget(pictureBoxPreview);
    auto* small = new QHBoxLayout;
    small->setSpacing(2);
    auto mk = [&](QPushButton*& b, const char* text) {
        b = new QPushButton(QString::fromLatin1(text));
        b->setFixedSize(24, 22);
        b->setVisible(false);
        small->addWidget(b);
    };
    mk(buttonView, "#");
    mk(buttonBackward, "<");
    mk(buttonForward, ">");
    mk(buttonFullBackward, "|<");
    mk(buttonFullForward, ">|");
    mk(buttonMeta, "M");
    mk(buttonGfxInfo, "G");
    mk(buttonICCInfo, "C");
    mk(buttonToggle, "T");
    buttonGfxInfo->setEnabled(false);
    buttonICCInfo->setEnabled(false);
    mk(buttonArea, "S");
    small->addStretch(1);
    checkBoxBackFwd = new QCheckBox;
    checkBoxBackFwd->setChecked(true);
    checkBoxBackFwd->setVisible(false);
    labelBackFwd = new QLabel;
    small->addWidget(labelBackFwd);
    small->addWidget(checkBoxBackFwd);
    right->addLayout(small);
    QFont info = font();
    info.setPointSize(9);
    auto line = [&](QLabel*& l, const char* text) {
        l = new QLabel(QString::fromLatin1(text));
        l->setFont(info);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        l->setMinimumWidth(kThumbW);
        l->setMaximumWidth(kThumbW + 40);
        right->addWidget(l);
    };
    line(labelFileInfo, "No picture information.");
    line(labelSubType, "Subtype: N/A");
    line(labelFileFlags, "No special flags.");
    line(labelFileName, "No file loaded.");
    right->addStretch(1);

    // Status row
    auto* status = new QHBoxLayout;
    buttonStatus = new QPushButton;
    buttonStatus->setFixedSize(14, 14);
    buttonStatus->setFocusPolicy(Qt::StrongFocus);
    labelStatus = new QLabel(QStringLiteral("Fertig."));
    progressBar1 = new QProgressBar;
    progressBar1->setRange(0, 100);
    progressBar1->setTextVisible(false);
    progressBar1->setFixedWidth(160);
    status->addWidget(buttonStatus);
    status->addWidget(labelStatus, 1);
    status->addWidget(progressBar1);
    outer->addLayout(status);
    SetStatusLight(KXStatusLight::Green);

    connect(buttonView, &QPushButton::clicked, this, [this] { cmdView(); });
    connect(buttonBackward, &QPushButton::clicked, this, [this] { navigate(0); });
    connect(buttonForward, &QPushButton::clicked, this, [this] { navigate(1); });
    connect(buttonFullBackward, &QPushButton::clicked, this, [this] { navigate(2); });
    connect(buttonFullForward, &QPushButton::clicked, this, [this] { navigate(3); });
    connect(buttonCMStrip, &QPushButton::clicked, this, [this] {
        if (!KX_GetGfxBuffer()) return;
        app.RemoveCMS();
        UpdateImageInfo(KX_GetGfxBuffer());
        UpdatePreview(false);
    });
    connect(buttonCMApply, &QPushButton::clicked, this, [this] { cmdApplyStripIcc(); });

    qApp->installEventFilter(this);
    setFixedSize(sizeHint().expandedTo(QSize(583, 427)));
}

void Main::buildToolBar() {
    toolStripMain = addToolBar(QStringLiteral("toolStripMain"));
    toolStripMain->setMovable(false);
    toolStripMain->setToolButtonStyle(Qt::ToolButtonTextOnly);
    auto add = [this](const char* text, const char* id) {
        QAction* a = toolStripMain->addAction(QString::fromLatin1(text));
        const ActionDef* d = id ? kxactions::Find(QString::fromLatin1(id)) : nullptr;
        if (d && d->cmd != Cmd::None) connect(a, &QAction::triggered, this, [this, d] { runAction(*d); });
        else a->setEnabled(false);  // clipboard and screen grab come later
        return a;
    };
    toolStripLoad = add("&Load", "file.open");
    toolStripFromClip = add("&FromClip", nullptr);
    toolStripSave = add("&SaveAs", "file.saveas");
    toolStripToClip = add("&ToClip", nullptr);
    toolStripView = add("&View", "image.view");
    toolStripDiaShow = add("&DiaShow", "file.diashow");
    toolStripButtonScreenshot = add("&Grab", nullptr);
    toolStripButtonScreenshot->setToolTip(QStringLiteral("Screenshot [ALT+ESC]"));
    toolStripButtonLanguage = add("ENG", "options.program");
}

void Main::applySettingsToControls() {
    const KXProgramSettings& s = app.Settings;
    checkBoxUndo->setChecked(s.Undo);
    // As the box's own change handler would: no undo command while undo is off.
    if (QAction* undo = actions.value(QStringLiteral("edit.undo"))) undo->setEnabled(s.Undo);
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
    if (s.SaveFormat >= 0 && s.SaveFormat < comboBoxFormat->count()) comboBoxFormat->setCurrentIndex(s.SaveFormat);
    else if (comboBoxFormat->count() > int(KXWRITER_PNG)) comboBoxFormat->setCurrentIndex(KXWRITER_PNG);
    app.Tasks.Threaded = s.ThreadedProgress;
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
    s.SaveFormat = comboBoxFormat->currentIndex();
}

void Main::wireControls() {
    for (QCheckBox* b : {checkBoxAutoConv8, checkBoxRotate, checkBoxAutoView, checkBoxFixedSize, checkBoxBorderLess,
                         checkBoxDiaTimer, checkBoxLoop, checkBoxMetaSave})
        connect(b, &QCheckBox::toggled, this, [this] { mirrorSettings(); });
    for (QSpinBox* n : {numericFixWidth, numericFixHeight, numericDiaTimer})
        connect(n, &QSpinBox::valueChanged, this, [this] { mirrorSettings(); });
    connect(comboBoxViewMode, &QComboBox::currentIndexChanged, this, [this] { mirrorSettings(); });
    connect(checkBoxUndo, &QCheckBox::toggled, this, [this](bool on) {
        app.SetUndoActive(on);
        if (QAction* undo = actions.value(QStringLiteral("edit.undo"))) undo->setEnabled(on);
    });
    connect(checkBoxAutoConv, &QCheckBox::toggled, this, [this](bool on) {
        app.SetAutoConv(on);
        if (app.Settings.AutoConv != on) {
            QSignalBlocker block(checkBoxAutoConv);
            checkBoxAutoConv->setChecked(app.Settings.AutoConv);
        }
    });
    connect(checkBoxAlpha, &QCheckBox::toggled, this, [this] {
        mirrorSettings();
        UpdatePreview(false);
    });
    connect(checkBoxAutoCM, &QCheckBox::toggled, this, [this] {
        mirrorSettings();
        UpdatePreview(false);
    });
    connect(checkBoxMetaLoad, &QCheckBox::toggled, this, [this](bool on) {
        mirrorSettings();
        checkBoxRotate->setEnabled(on);
    });
    connect(checkBoxFullScreen, &QCheckBox::clicked, this, [this] {
        const bool enable = !checkBoxFixedSize->isEnabled();
        checkBoxFixedSize->setEnabled(enable);
        numericFixWidth->setEnabled(enable);
        numericFixHeight->setEnabled(enable);
        mirrorSettings();
    });
    connect(checkBoxBackFwd, &QCheckBox::toggled, this, [this](bool on) {
        labelBackFwd->setText(on ? QString() : QStringLiteral("  #       <       >        |<      >|"));
        mirrorSettings();
        UpdateImageInfo(KX_GetGfxBuffer());
    });
    connect(checkBoxArea, &QCheckBox::toggled, this, [this](bool on) {
        if (!on && app.AreaBuffer) app.DropArea();
    });
    connect(comboBoxFormat, &QComboBox::currentIndexChanged, this, [this] {
        if (formatGuard) return;
        mirrorSettings();
        fillSubFormats();
    });
}

void Main::fillSubFormats() {
    comboBoxSubFormat->clear();
    KXObject* w = KX_GetSaveFormat(uint32_t(std::max(0, comboBoxFormat->currentIndex())));
    if (!w || !w->SubFormatCount) {
        comboBoxSubFormat->addItem(QString());
        return;
    }
    for (uint32_t i = 0; i < w->SubFormatCount && i < 16; ++i) comboBoxSubFormat->addItem(QString::fromUtf8(w->SubFormatNames[i]));
    comboBoxSubFormat->setCurrentIndex(0);
}

// ---------------------------------------------------------------------------
// Language catalog

void Main::applyCatalog(const CatalogHandler& cat, bool languageFailed) {
    if (languageFailed) {
        language = QStringLiteral("english");
        toolStripButtonLanguage->setText(QStringLiteral("ENG"));
    }
    QList<QPair<const char*, QObject*>> controls;
    for (const ActionDef& d : kxactions::Table())
        if (d.key && d.kind != kxactions::Kind::Separator) controls.append({d.key, actions.value(QString::fromLatin1(d.id))});
    controls += {
        {"BAR_LOAD", toolStripLoad}, {"BAR_FROMCLIP", toolStripFromClip}, {"BAR_SAVEAS", toolStripSave},
        {"BAR_TOCLIP", toolStripToClip}, {"BAR_VIEW", toolStripView}, {"BAR_DIASHOW", toolStripDiaShow},
        {"BAR_GRAB", toolStripButtonScreenshot}, {"LBL_VIEWDIA_OPT", groupBoxViewDia}, {"LBL_VIEWMODE", labelViewMode},
        {"LBL_SIZE", checkBoxFixedSize}, {"LBL_DIATIMER", checkBoxDiaTimer}, {"LBL_BORDERLESS", checkBoxBorderLess},
        {"LBL_FULLSCREEN", checkBoxFullScreen}, {"LBL_OR", labelOR}, {"LBL_LOOP", checkBoxLoop},
        {"LBL_LOADSAVE_OPT", groupBoxLoadSave}, {"LBL_SAVEFORMAT", labelSaveFormat}, {"LBL_METADATA", labelMetaData},
        {"LBL_METALOAD", checkBoxMetaLoad}, {"LBL_METASAVE", checkBoxMetaSave},
        {"LBL_IMAGEPROCCONV_OPT", groupBoxProcessing}, {"LBL_AREAACTIVE", checkBoxArea},
        {"LBL_UNDOACTIVE", checkBoxUndo}, {"LBL_AUTO2448", checkBoxAutoConv}, {"LBL_AUTO8", checkBoxAutoConv8},
        {"LBL_CM_CHECK", checkBoxAutoCM}, {"LBL_CM", buttonCM}, {"LBL_CM_APPLY_STRIP", buttonCMApply},
        {"LBL_CM_STRIP", buttonCMStrip}, {"LBL_LOSSLESS", labelLossLess}, {"BTN_AUTOVIEW", checkBoxAutoView},
        {"BTN_AUTOROTATE", checkBoxRotate}, {"BTN_ALPHA", checkBoxAlpha}, {"BTN_SAVECONFIG", buttonConfig},
        {"BTN_CROP", buttonCrop}, {"BTN_TRANSFORM", buttonTransform}, {"BTN_TOGGLE_AREA", buttonToggle},
        {"BTN_SELECT_AREA", buttonArea}, {"BTN_META", buttonMeta},
    };
    for (const auto& [key, control] : controls)
        if (control) setControlText(control, cat.GetString(controlText(control), QString::fromLatin1(key)));
    toolStripButtonLanguage->setText(cat.GetString(toolStripButtonLanguage->text(), QStringLiteral("_catalog-iso-639-2")).toUpper());
    for (const char* key : kMessageKeys) txt.insert(QString::fromLatin1(key), cat.GetString(txt.value(QString::fromLatin1(key)), QString::fromLatin1(key)));
    labelFileInfo->setText(Msg("TXT_NO_PICTUREINFO"));
    labelSubType->setText(Msg("TXT_NO_SUBTYPE"));
    labelFileFlags->setText(Msg("TXT_NO_SPECIAL_FLAGS"));
    labelFileName->setText(Msg("TXT_NO_FILE_LOADED"));
    catalogApplied = true;
}

void Main::Localize() {
    ParsedCatalog parsed = parseCatalog(progdir, language);
    applyCatalog(parsed.catalog, parsed.languageFailed);
}

// ---------------------------------------------------------------------------
// KXUserInterface

std::string Main::Text(const char* key) { return txt.value(QString::fromLatin1(key)).toStdString(); }

void Main::SetStatus(const std::string& text) {
    labelStatus->setText(QString::fromStdString(text));
    labelStatus->repaint();
}

void Main::SetStatusLight(KXStatusLight light) {
    const char* colour = light == KXStatusLight::Red ? "#d02020" : light == KXStatusLight::Yellow ? "#e0c000" : "#20b020";
    buttonStatus->setStyleSheet(QStringLiteral("background-color: %1; border: 1px solid #404040;").arg(QLatin1String(colour)));
    buttonStatus->setProperty("light", int(light));
    buttonStatus->repaint();
}

static QString captionKey(KXMessageKind k) {
    return k == KXMessageKind::Error ? QStringLiteral("TXT_KAXON5_ERROR")
           : k == KXMessageKind::Info ? QStringLiteral("TXT_KAXON5_INFO")
                                      : QStringLiteral("TXT_KAXON5_REQUEST");
}

bool Main::AskYesNo(KXMessageKind caption, const std::string& text) {
    return ui->Ask(this, Msg(captionKey(caption)), QString::fromStdString(text), UiServices::Icon::Question);
}

void Main::ShowMessage(KXMessageKind caption, const std::string& text) {
    ui->Message(this, Msg(captionKey(caption)), QString::fromStdString(text),
                caption == KXMessageKind::Error ? UiServices::Icon::Critical : UiServices::Icon::Information);
}

void Main::SetProgressBar(int value) {
    progressBar1->setValue(std::clamp(value, 0, 100));
    progressBar1->repaint();
}

void Main::SetBusyCursor(bool busy) {
    if (busy) QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
}

void Main::AreaDropped() {
    QSignalBlocker block(checkBoxArea);
    checkBoxArea->setChecked(false);
}

uint32_t Main::DecodeImage(const char* path, KXDecodedImage* image) {
    QImageReader reader(QFile::decodeName(path));
    reader.setAutoTransform(false);
    QImage img = reader.read();
    if (img.isNull()) return 1;
    img = img.convertToFormat(QImage::Format_ARGB32);
    if (img.isNull()) return 3;
    image->Width = uint32_t(img.width());
    image->Height = uint32_t(img.height());
    image->Stride = size_t(img.bytesPerLine());
    // ARGB32 is one 32-bit word per pixel: blue, green, red, alpha in memory
    // on this little-endian machine.
    const uchar* bits = img.constBits();
    image->Pixels.assign(bits, bits + img.sizeInBytes());
    return 0;
}

// ---------------------------------------------------------------------------
// Thumbnail and information area

void Main::UpdatePreview(bool clear) {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (!clear && objr && img) {
        pictureBoxPreview->setMode(PictureBox::Zoom);
        KX_GfxBuffer* reduced = nullptr;
        if (img->Width > 3u * kThumbW && img->Height > 3u * kThumbH) {
            const float f = std::min(float(img->Width) / kThumbW, float(img->Height) / kThumbH);
            const uint32_t d = uint32_t(f) - 1;
            if (kxown::Run(app.Library, KXOP_RESIZE, img, &reduced,
                           {{"NEW_WIDTH", kxown::Int(long(img->Width / d))}, {"NEW_HEIGHT", kxown::Int(long(img->Height / d))}}))
                reduced = nullptr;
        }
        QImage bitmap;
        {
            View converter(app.Library, reduced ? reduced : img, KX_GetMetaData(), checkBoxAlpha->isChecked(),
                           checkBoxAutoCM->isChecked(), checkBoxArea->isChecked(), ui, nullptr);
            bitmap = converter.image();
        }
        KXSUP_FreeGfxBuffer(reduced);
        pictureBoxPreview->setImage(bitmap);
        UpdateImageInfo(img);
    } else {
        checkBoxArea->setChecked(false);
        pictureBoxPreview->setMode(PictureBox::Stretch);
        QImage dot(1, 1, QImage::Format_RGB888);
        dot.fill(palette().color(QPalette::Window));
        pictureBoxPreview->setImage(dot);
        UpdateImageInfo(nullptr);
    }
    QApplication::restoreOverrideCursor();
    buttonStatus->setFocus();
}

void Main::UpdateImageInfo(KX_GfxBuffer* image) {
    buttonCrop->setEnabled(false);
    buttonTransform->setEnabled(false);
    checkBoxBackFwd->setVisible(false);
    for (QPushButton* b : {buttonBackward, buttonForward, buttonFullBackward, buttonFullForward}) {
        b->setEnabled(false);
        b->setVisible(false);
    }
    buttonView->setVisible(false);
    const bool fresh = !app.Undone && !app.Modified;
    if (image) {
        checkBoxBackFwd->setVisible(true);
        buttonGfxInfo->setVisible(true);
        UpdateMetaStatus();
        buttonView->setVisible(checkBoxBackFwd->isChecked());
        QFont f = labelFileName->font();
        const QString last = QString::fromStdString(app.LastFile);
        if (!app.IsVirtual) {
            if (checkBoxBackFwd->isChecked()) updateNavButtons();
            if (app.Modified) {
                f.setItalic(true);
                labelFileName->setText(last.size() >= 40 ? last.left(36) + QStringLiteral("...*") : last + QStringLiteral("*"));
            } else {
                f.setItalic(false);
                labelFileName->setText(last.size() >= 40 ? last.left(37) + QStringLiteral("...") : last);
            }
        } else {
            f.setItalic(false);
            const QString t = Msg("TXT_NO_FILE_ATTACHED");
            labelFileName->setText(t.size() >= 40 ? t.left(37) + QStringLiteral("...") : t);
        }
        labelFileName->setFont(f);
        const QString format = fresh && objr ? QString::fromUtf8(objr->FormatName) : Msg("TXT_BUFFER");
        labelFileInfo->setText(QStringLiteral("%1 %2 x %3 x %4").arg(format).arg(image->Width).arg(image->Height).arg(image->ColorDepth));
        if (fresh && objr) {
            const uint32_t id = objr->SubFormatId;
            const QString sub = id < 16 ? QString::fromUtf8(objr->SubFormatNames[id]) : QString();
            labelSubType->setText(sub.isEmpty() ? QStringLiteral("Subtype: none") : sub);
        } else {
            labelSubType->setText(Msg("TXT_NO_SUBTYPE2"));
        }
        QString flags;
        if (fresh && objr && std::strcmp(objr->FormatName, "JPEG") == 0) {
            buttonCrop->setEnabled(true);
            buttonTransform->setEnabled(true);
        }
        if (IsHamBuffer(image)) {
            if (image->ColorDepth == 6) flags += QStringLiteral(" HAM6");
            else if (image->ColorDepth == 8) flags += QStringLiteral(" HAM8");
        }
        if (IsEhbBuffer(image)) flags += QStringLiteral(" EHB");
        if (image->Version >= 3) {
            if (image->AlphaType & KXALPHA_CHANNEL16) flags += QStringLiteral(" 16 Bit Alpha");
            if (image->AlphaType & KXALPHA_CHANNEL8) flags += QStringLiteral(" 8 Bit Alpha");
            if (image->AlphaType & KXALPHA_MULTICOLOR) flags += QStringLiteral(" 8 Bit AlphaMap");
            if (image->AlphaType & KXALPHA_SINGLECOLOR)
                flags += QStringLiteral(" Transparent Color (%1)").arg(KXSUP_AlphaIndex(image));
        }
        if (KXOSpecialInfo* meta = KX_GetMetaData()) {
            if (meta->IccData) flags += QStringLiteral(" ICC");
            else if (meta->IccName) flags += QStringLiteral(" sRGB");
        }
        labelFileFlags->setText(flags.isEmpty() ? Msg("TXT_NO_SPECIAL_FLAGS") : flags.mid(1));
    } else {
        buttonMeta->setVisible(false);
        buttonGfxInfo->setVisible(false);
        buttonICCInfo->setVisible(false);
        labelFileInfo->setText(Msg("TXT_NO_PICTUREINFO"));
        labelSubType->setText(Msg("TXT_NO_SUBTYPE"));
        labelFileFlags->setText(Msg("TXT_NO_SPECIAL_FLAGS"));
        labelFileName->setText(Msg("TXT_NO_FILE_LOADED"));
        QFont f = labelFileName->font();
        f.setItalic(false);
        labelFileName->setFont(f);
        UpdateMetaStatus();
    }
    if (__kxlib_log_global) {
        for (QLabel* l : {labelFileInfo, labelSubType, labelFileFlags, labelFileName})
            __kxlib_log_global->Log(1, "%-16s: '%s'\n", "kaxon5", l->text().toUtf8().constData());
    }
    buttonStatus->setFocus();
}

void Main::UpdateMetaStatus() {
    buttonMeta->setVisible(false);
    // A stripped or converted profile takes its button with it.
    buttonICCInfo->setVisible(false);
    buttonCM->setEnabled(false);
    buttonCMApply->setEnabled(false);
    buttonCMStrip->setEnabled(false);
    KXOSpecialInfo* m = checkBoxMetaLoad->isChecked() ? KX_GetMetaData() : nullptr;
    if (m) {
        if (m->Anno || m->Auth || m->Compression || m->Copy || m->Exif || m->Iptc || m->More1 || m->More2 || m->More3 ||
            m->More4 || m->Name || m->Orientation || m->Xmp0 || m->Xmp1 || m->IccData || m->IccName)
            buttonMeta->setVisible(true);
        if (m->IccData) {
            buttonCM->setEnabled(true);
            buttonCMApply->setEnabled(true);
            buttonCMStrip->setEnabled(true);
            buttonICCInfo->setVisible(true);
        }
    }
    // The metadata, image-information and colour-space dialogs come later;
    // their buttons show the facts only and run nothing yet.
    buttonMeta->setEnabled(false);
    buttonCM->setEnabled(false);
    buttonStatus->setFocus();
}

void Main::updateNavButtons() {
    neighbours.Compute(loadRememberPath, QString::fromStdString(app.LastFile));
    const struct {
        QPushButton* b;
        const QString& target;
    } rows[] = {{buttonBackward, neighbours.previous}, {buttonForward, neighbours.next},
                {buttonFullBackward, neighbours.first}, {buttonFullForward, neighbours.last}};
    for (const auto& r : rows) {
        r.b->setVisible(true);
        r.b->setEnabled(!r.target.isEmpty());
    }
}

// ---------------------------------------------------------------------------
// Loading and the viewer

uint32_t Main::LoadFile(const QString& path) {
    bool hidden = false;
    if (iniload || (app.Settings.HiddenView && checkBoxAutoView->isChecked())) {
        hide();
        hidden = true;
    }
    checkBoxArea->setChecked(false);
    QByteArray name = QFile::encodeName(path);
    uint32_t r = app.LoadFile(name.constData());
    if (r == 0) {
        loadRememberPath = QFileInfo(path).absolutePath();
        UpdateImageInfo(KX_GetGfxBuffer());
        if (checkBoxAutoView->isChecked()) cmdView();
    }
    if (hidden && !quitRequest) show();
    return r;
}

int Main::showViewer(View* v, int* result, const QString& path, bool dia) {
    if (viewerScript) {
        int code = viewerScript(v);
        if (result) *result = code;
        return code;
    }
    if (dia) return v->ShowDialogDia(result, path, checkBoxDiaTimer->isChecked(), numericDiaTimer->value());
    return v->exec();
}

void Main::cmdView() {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) {
        ShowMessage(KXMessageKind::Info, Text("TXT_NO_FILE_LOADED"));
        return;
    }
    KXOSpecialInfo* meta = KX_GetMetaData();
    KX_GfxBuffer* turned = nullptr;
    if (checkBoxRotate->isChecked() && checkBoxMetaLoad->isChecked() && meta && meta->Orientation > 1) {
        if (kxown::Orient(app.Library, img, meta->Orientation, &turned)) turned = nullptr;
    }
    bool quit = false;
    {
        View v(app.Library, turned ? turned : img, meta, checkBoxAlpha->isChecked(), checkBoxAutoCM->isChecked(), false, ui, this);
        v.ChangeSizeMode(comboBoxViewMode->currentIndex());
        v.ChangeSizeLimits(checkBoxFixedSize->isChecked(), checkBoxFullScreen->isChecked(), checkBoxBorderLess->isChecked(),
                           numericFixWidth->value(), numericFixHeight->value());
        showViewer(&v, nullptr, QString(), false);
        quit = v.quitRequested();
    }
    KXSUP_FreeGfxBuffer(turned);
    if (quit) {
        if (iniload) quitRequest = true;
        else cmdExit();
    }
}

void Main::cmdDiaShow() {
    const QString folder = ui->FolderName(this, QStringLiteral("DiaShow"), diaRememberPath);
    if (folder.isEmpty()) return;
    diaRememberPath = folder;
    const QStringList files = kxwalk::ListFolder(folder, false);
    app.Status(Text("TXT_DIASHOW_RUNNING"));
    bool opened = false;
    auto load = [this, &opened](const QString& path) {
        app.Tasks.Begin();
        QByteArray name = QFile::encodeName(path);
        uint32_t r = KX_Load(name.constData(), checkBoxMetaLoad->isChecked());
        app.Tasks.End();
        SetStatusLight(KXStatusLight::Green);
        app.IsVirtual = false;
        if (r == 0) {
            app.Modified = false;
            app.Undone = false;
        }
        opened = r == 0;
        return opened;
    };
    auto show = [this, &opened](const QString& path, int position, int shown) {
        app.LastFile = fileNameOf(path).toStdString();
        QString status = Msg("TXT_DIASHOW_RUNNING") + QStringLiteral(" (%1#%2)").arg(position).arg(shown);
        if (checkBoxDiaTimer->isChecked())
            status += QStringLiteral(" %1 %2 [s]").arg(Msg("TXT_TIMER")).arg(numericDiaTimer->value());
        app.Status(status.toStdString());
        int code = View::Forward;
        KX_GfxBuffer* img = KX_GetGfxBuffer();
        // Only a file that did not open is a video (a picture whose folder
        // or name merely contains ".mov" is shown as a picture).
        if (!opened || !img) {
            if (!app.Settings.DiaMediaView || viewerScript) return code;
            VidView vid(this);
            vid.ChangeSizeLimits(384, 304, checkBoxFixedSize->isChecked(), checkBoxFullScreen->isChecked(),
                                 checkBoxBorderLess->isChecked(), numericFixWidth->value(), numericFixHeight->value());
            vid.ShowDialogDia(&code, path, checkBoxDiaTimer->isChecked(), numericDiaTimer->value());
            return code;
        }
        View v(app.Library, img, KX_GetMetaData(), checkBoxAlpha->isChecked(), checkBoxAutoCM->isChecked(), false, ui, this);
        UpdateImageInfo(img);
        v.ChangeSizeMode(comboBoxViewMode->currentIndex());
        v.ChangeSizeLimits(checkBoxFixedSize->isChecked(), checkBoxFullScreen->isChecked(), checkBoxBorderLess->isChecked(),
                           numericFixWidth->value(), numericFixHeight->value());
        showViewer(&v, &code, path, true);
        return code;
    };
    kxwalk::RunDiaShow(files, checkBoxLoop->isChecked(), load, show);
    app.Status(Text("TXT_DIASHOW_FINISHED"));
    UpdatePreview(true);
    KX_ResetHandle(1, 1, 1);
}

void Main::navigate(int direction) {
    const QString folder = loadRememberPath;
    neighbours.Compute(folder, QString::fromStdString(app.LastFile));
    const bool back = direction == 0 || direction == 3;
    QString target = direction == 0 ? neighbours.previous : direction == 1 ? neighbours.next
                     : direction == 2                      ? neighbours.first
                                                            : neighbours.last;
    static const char* const okText[] = {"%-16s: backward: '%s'\n", "%-16s: forward: '%s'\n", "%-16s: firstfile: '%s'\n",
                                         "%-16s: lastfile: '%s'\n"};
    static const char* const failText[] = {"%-16s: backward failed - try next\n", "%-16s: forward failed - try next\n",
                                           "%-16s: firstfile failed - try next\n", "%-16s: lastfile failed - try next\n"};
    int kind = direction;
    while (!target.isEmpty()) {
        if (__kxlib_log_global) __kxlib_log_global->Log(1, okText[kind], "kaxon5", target.toUtf8().constData());
        for (QLabel* l : {labelFileInfo, labelSubType, labelFileFlags, labelFileName}) l->setText(QStringLiteral("...").leftJustified(50));
        if (LoadFile(target) == 0) {
            loadRememberFile = QString::fromStdString(app.LastFile);
            return;
        }
        if (__kxlib_log_global) __kxlib_log_global->Log(1, "%s", QByteArray(failText[kind]).replace("%-16s", "kaxon5          ").constData());
        neighbours.Compute(folder, fileNameOf(target));
        target = back ? neighbours.previous : neighbours.next;
        kind = back ? 0 : 1;
    }
}

// ---------------------------------------------------------------------------
// Commands

bool Main::Trigger(const QString& id) {
    const ActionDef* d = kxactions::Find(id);
    QAction* a = actions.value(id);
    if (!d || !a || !a->isEnabled()) return false;
    a->trigger();
    return true;
}

void Main::statusError(uint32_t code) {
    app.Status((Msg("TXT_ERROR") + QLatin1Char(' ') + QString::fromUtf8(KXL_GetErrorString(code))).toStdString());
}

uint32_t Main::runOperatorDef(const ActionDef& d) {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) {
        statusError(KXERR_NOVIEWABLEDATA);
        return KXERR_NOVIEWABLEDATA;
    }
    if (d.flags & kxactions::DropAreaFirst) checkBoxArea->setChecked(false);
    std::unique_ptr<KXConfig> cfg;
    if (d.settings) {
        cfg.reset(app.MakeOperatorSettings(uint32_t(d.op)));
        if (!cfg) {
            statusError(KXERR_NOMEMORY);
            return KXERR_NOMEMORY;
        }
        for (const QString& pair : QString::fromLatin1(d.settings).split(';', Qt::SkipEmptyParts)) {
            const int eq = pair.indexOf('=');
            QByteArray key = pair.left(eq).toLatin1();
            QString value = pair.mid(eq + 1);
            if (value.startsWith('@')) value = QFile::decodeName(app.EnvArcDir.c_str()) + value.mid(1);
            QByteArray v = value.toUtf8();
            // SetValue's result is not an error code (1 means stored).
            cfg->SetValue(key.constData(), v.constData());
        }
    }
    uint32_t err = app.DoOperation(img, nullptr, uint32_t(d.op), cfg.get());
    if (err && !(d.flags & kxactions::QuietError)) statusError(err);
    return err;
}

void Main::runAction(const ActionDef& d) {
    switch (d.cmd) {
    case Cmd::None: break;
    case Cmd::Operator: runOperatorDef(d); break;
    case Cmd::Chain:
        if (runOperatorDef(d) == 0) {
            app.UndoSkip = true;
            for (const QString& id : QString::fromLatin1(d.arg).split(';', Qt::SkipEmptyParts))
                if (const ActionDef* next = kxactions::Find(id)) runAction(*next);
            app.UndoSkip = false;
        }
        break;
    case Cmd::Dither: {
        const QStringList parts = QString::fromLatin1(d.arg).split(',');
        cmdDither(parts.value(0).toInt(), parts.value(1).toInt());
        break;
    }
    case Cmd::DiaShow: cmdDiaShow(); break;
    case Cmd::Open: cmdOpen(); break;
    case Cmd::SaveAs: cmdSave(); break;
    case Cmd::Exit: cmdExit(); break;
    case Cmd::ImportAlpha: cmdImportAlpha(); break;
    case Cmd::ExportAlpha: cmdExportAlpha(); break;
    case Cmd::InfoNote: ShowMessage(KXMessageKind::Info, Text(d.arg)); break;
    case Cmd::Undo: cmdUndo(); break;
    case Cmd::View: cmdView(); break;
    case Cmd::FixOrientation: cmdFixOrientation(); break;
    case Cmd::IncreasePaletteDepth: cmdIncreasePaletteDepth(); break;
    case Cmd::EndianSwap: cmdEndianSwap(); break;
    case Cmd::StripHamEhb: cmdStripHamEhb(); break;
    case Cmd::StripMeta: cmdStripMeta(); break;
    case Cmd::ApplyStripIcc: cmdApplyStripIcc(); break;
    case Cmd::ProgramSettings: cmdProgramSettings(); break;
    case Cmd::HelpFile: ui->OpenUrl(QUrl::fromLocalFile(progdir + QLatin1Char('/') + QLatin1String(d.arg))); break;
    case Cmd::HelpUrl: {
        static const char* const links[] = {kxlinks::kOnlineManual, kxlinks::kAddOns, kxlinks::kSupport, kxlinks::kAuthor};
        const int i = QString::fromLatin1(d.arg).toInt();
        if (i >= 0 && i < 4) ui->OpenUrl(QUrl(QString::fromLatin1(links[i])));
        break;
    }
    case Cmd::ViewLog: cmdViewLog(); break;
    }
}

void Main::cmdOpen() {
    const QString path = ui->OpenFileName(this, loadRememberPath, loadRememberFile, QStringLiteral("All Files (*)"));
    if (path.isEmpty()) return;
    loadRememberPath = QFileInfo(path).absolutePath();
    loadRememberFile = fileNameOf(path);
    LoadFile(path);
}

void Main::cmdSave() {
    const uint32_t format = uint32_t(std::max(0, comboBoxFormat->currentIndex()));
    const uint32_t sub = uint32_t(std::max(0, comboBoxSubFormat->currentIndex()));
    KX_SetSaveFormat(format, sub);
    if (KXObject* w = KX_GetSaveFormat(format)) {
        char ext[64] = {};
        if (w->GetExtension(ext) == 0 && ext[0]) saveFilter = filterFor(comboBoxFormat->currentText(), QString::fromUtf8(ext));
    }
    const QString path = ui->SaveFileName(this, saveRememberPath, saveRememberFile, saveFilter);
    if (path.isEmpty()) {
        SetStatusLight(KXStatusLight::Green);
        return;
    }
    QByteArray name = QFile::encodeName(path);
    if (app.SaveFile(name.constData(), format, sub) == 0) {
        saveRememberPath = QFileInfo(path).absolutePath();
        saveRememberFile = fileNameOf(path);
    }
}

void Main::cmdExit() {
    if (app.Modified &&
        !ui->Ask(this, Msg("TXT_KAXON5_REQUEST"), QStringLiteral("Do you really want to exit?"), UiServices::Icon::Warning))
        return;
    closeConfirmed = true;
    close();
}

void Main::closeEvent(QCloseEvent* e) {
    if (!closeConfirmed && app.Modified &&
        !ui->Ask(this, Msg("TXT_KAXON5_REQUEST"), Msg("TXT_REQUEST_REALLY_EXIT"), UiServices::Icon::Warning)) {
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

void Main::cmdUndo() {
    app.Undo();
}

void Main::cmdDither(int depth, int mode) {
    if (!KX_GetGfxBuffer()) {
        statusError(KXERR_NOVIEWABLEDATA);
        return;
    }
    if (uint32_t err = app.Dither24Bit(depth, mode)) statusError(err);
}

void Main::cmdFixOrientation() {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) {
        ShowMessage(KXMessageKind::Info, Text("TXT_NO_FILE_LOADED"));
        return;
    }
    KXOSpecialInfo* meta = KX_GetMetaData();
    if (!checkBoxRotate->isChecked() || !checkBoxMetaLoad->isChecked() || !meta || meta->Orientation <= 1) {
        app.Status(Text(meta ? "TXT_AUTOROTATE_NO_NEED" : "TXT_AUTOROTATE_NO_METADATA"));
        return;
    }
    const kxown::OrientationStep step = kxown::ForOrientation(meta->Orientation);
    // One undo step for the whole repair, whatever "UnDo active" says.
    app.AddUndoStep(img);
    app.UndoSkip = true;
    uint32_t err = 0;
    if (step.degrees) {
        std::unique_ptr<KXConfig> cfg(app.MakeOperatorSettings(4));
        err = cfg ? 0u : uint32_t(KXERR_NOMEMORY);
        if (cfg) cfg->SetValue("DEGREES", kxown::Int(step.degrees).constData());
        if (!err) err = app.DoOperation(KX_GetGfxBuffer(), nullptr, 4, cfg.get());
    }
    if (!err && step.flip) err = app.DoOperation(KX_GetGfxBuffer(), nullptr, 25, nullptr);
    app.UndoSkip = false;
    if (err) {
        statusError(err);
        return;
    }
    if (!KX_IsUnlinkedMetaData()) KX_UnLinkMetaData();
    if (KXOSpecialInfo* m = KX_GetMetaData()) m->Orientation = 1;
}

void Main::cmdIncreasePaletteDepth() {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) return;
    if (img->ColorDepth > 8) {
        ShowMessage(KXMessageKind::Error, Text("TXT_ERROR_PALETTE_TRUECOLOR_DEPTH"));
        return;
    }
    if (img->ColorDepth == 8) {
        ShowMessage(KXMessageKind::Error, Text("TXT_ERROR_PALETTE_MAX_DEPTH"));
        return;
    }
    // Bit planes hold exactly ColorDepth planes, and HAM/EHB pixels mean
    // something else at another depth: raising the depth would misread them.
    if (img->Type != ONEPLANE || IsHamBuffer(img) || IsEhbBuffer(img)) {
        statusError(KXERR_NOTSUPPORTED);
        return;
    }
    ++img->ColorDepth;
}

void Main::cmdEndianSwap() {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) {
        statusError(KXERR_NOVIEWABLEDATA);
        return;
    }
    if (img->PixelBits != 48 || img->Type != ONEPLANE) {
        ShowMessage(KXMessageKind::Error, Text("TXT_ERROR_NOT_HDR"));
        return;
    }
    const uint64_t samples = uint64_t(img->Width) * img->Height * 3;
    if (img->Data && img->BufferSize >= samples * 2) {
        for (uint64_t i = 0; i < samples; ++i) EndianWORD(img->Data + 2 * i, KXENDIAN_LITTLE, KXENDIAN_BIG);
    }
    if (img->Version >= 3 && (img->AlphaType & KXALPHA_CHANNEL16) && img->AlphaData) {
        uint8_t* a = KXSUP_AlphaBytes(img);
        const uint64_t count = uint64_t(img->Width) * img->Height;
        for (uint64_t i = 0; i < count; ++i) EndianWORD(a + 2 * i, KXENDIAN_LITTLE, KXENDIAN_BIG);
    }
    app.Status(Text("TXT_DONE"));
    UpdatePreview(false);
}

void Main::cmdStripHamEhb() {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) return;
    if (img->ViewMode & KXVIEWMODE_EHB) img->ViewMode &= ~uint32_t(KXVIEWMODE_EHB);
    if (img->ViewMode & KXVIEWMODE_HAM) img->ViewMode &= ~uint32_t(KXVIEWMODE_HAM);
    if (img->NativeDIPF & KXDIPF_HAM) img->NativeDIPF &= ~uint32_t(KXDIPF_HAM);
    if (img->NativeDIPF & KXDIPF_EHB) img->NativeDIPF &= ~uint32_t(KXDIPF_EHB);
}

void Main::cmdStripMeta() {
    if (!KX_GetGfxBuffer()) return;
    KX_StripMetaData();
    UpdateImageInfo(KX_GetGfxBuffer());
    UpdatePreview(false);
}

void Main::cmdApplyStripIcc() {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img || !KX_GetMetaData()) return;
    if (uint32_t err = app.ApplyAndRemoveCMS(img, true)) statusError(err);
    UpdateImageInfo(KX_GetGfxBuffer());
    UpdatePreview(false);
}

void Main::cmdImportAlpha() {
    if (!KX_GetGfxBuffer()) {
        statusError(KXERR_NOVIEWABLEDATA);
        return;
    }
    const QString path = ui->OpenFileName(this, loadRememberPath, loadRememberFile, QStringLiteral("All Files (*)"));
    if (path.isEmpty()) {
        app.Status(Text("TXT_ADDALPHA_NO_SOURCE"));
        return;
    }
    std::unique_ptr<KXConfig> cfg(app.MakeOperatorSettings(49));
    QByteArray p = QFile::encodeName(path);
    uint32_t err = cfg ? 0u : uint32_t(KXERR_NOMEMORY);
    if (!err) {
        cfg->SetValue("ALPHA_MODE", "SOURCE");
        cfg->SetValue("SCALE_SOURCEGFX", "ON");
        cfg->SetValue("ALPHA_SOURCE", p.constData());
    }
    if (!err) err = app.DoOperation(KX_GetGfxBuffer(), nullptr, 49, cfg.get());
    if (err) statusError(err);
}

void Main::cmdExportAlpha() {
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) {
        statusError(KXERR_NOVIEWABLEDATA);
        return;
    }
    const uint32_t kind = img->Version >= 3 ? img->AlphaType : 0;
    if (!(kind & KXALPHA_CHANNEL8)) {
        if (kind & (KXALPHA_SINGLECOLOR | KXALPHA_MULTICOLOR)) {
            const QString q = Msg("TXT_NO_ALPHA") + "\n" + Msg("TXT_TRANSPARENCY_OK") + "\nConvert graphics to truecolor with Alpha?";
            if (!AskYesNo(KXMessageKind::Request, q.toStdString())) {
                statusError(KXERR_NOVIEWABLEDATA);
                return;
            }
            if (const ActionDef* to24 = kxactions::Find(QStringLiteral("depth.24"))) runAction(*to24);
            img = KX_GetGfxBuffer();
            if (!img || img->Version < 3 || !(img->AlphaType & KXALPHA_CHANNEL8)) return;
        } else {
            ShowMessage(KXMessageKind::Error, Text("TXT_NO_ALPHA"));
            statusError(KXERR_NOVIEWABLEDATA);
            return;
        }
    }
    const uint32_t format = uint32_t(std::max(0, comboBoxFormat->currentIndex()));
    KX_SetSaveFormat(format, uint32_t(std::max(0, comboBoxSubFormat->currentIndex())));
    if (KXObject* w = KX_GetSaveFormat(format)) {
        char ext[64] = {};
        if (w->GetExtension(ext) == 0 && ext[0]) saveFilter = filterFor(comboBoxFormat->currentText(), QString::fromUtf8(ext));
    }
    const QString path = ui->SaveFileName(this, saveRememberPath, saveRememberFile, saveFilter);
    if (path.isEmpty()) return;
    SetBusyCursor(true);
    app.Status(Text("TXT_SAVING_ALPHA"));
    app.Tasks.Begin();
    SetStatusLight(KXStatusLight::Yellow);
    QByteArray name = QFile::encodeName(path);
    uint32_t err = KX_SaveAlpha(name.constData());
    app.Tasks.End();
    SetStatusLight(KXStatusLight::Green);
    if (err) app.Status((Msg("TXT_ERROR_SAVING") + ": " + QString::fromUtf8(KXL_GetErrorString(err))).toStdString());
    else app.Status(Text("TXT_DONE"));
    SetBusyCursor(false);
}

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
        ui->OpenUrl(QUrl::fromLocalFile(QFile::decodeName(log->GetPath())));
    } else {
        ShowMessage(KXMessageKind::Error, Text("TXT_ERROR_NO_CONFIG_LOGGING"));
    }
}

// ---------------------------------------------------------------------------
// Keys: the window sees them before its controls.

// The key goes to the widget with the focus: a text field (or the line
// edit inside a spin box or an editable list) keeps its letters.
bool Main::singleLetterBlocked(QWidget* target) const {
    for (QWidget* f = target; f && f != this; f = f->parentWidget()) {
        if (qobject_cast<QLineEdit*>(f) || qobject_cast<QAbstractSpinBox*>(f) || qobject_cast<QTextEdit*>(f) ||
            qobject_cast<QPlainTextEdit*>(f))
            return true;
        if (auto* c = qobject_cast<QComboBox*>(f)) return c->isEditable();
        if (auto* v = qobject_cast<QAbstractItemView*>(f)) return v->editTriggers() != QAbstractItemView::NoEditTriggers;
    }
    return false;
}

bool Main::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QMainWindow::eventFilter(watched, event);
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || w->window() != this || disposed) return QMainWindow::eventFilter(watched, event);
    auto* k = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = k->modifiers() & ~Qt::KeypadModifier;
    const bool keypad = k->modifiers() & Qt::KeypadModifier;
    QString key;
    if (k->key() == Qt::Key_Z && mods == Qt::ControlModifier) key = QStringLiteral("Ctrl+Z");
    else if (!keypad && (mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) == 0) {
        switch (k->key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal: key = QStringLiteral("+"); break;
        case Qt::Key_Minus: key = QStringLiteral("-"); break;
        case Qt::Key_L: key = QStringLiteral("L"); break;
        case Qt::Key_R: key = QStringLiteral("R"); break;
        default: break;
        }
    }
    if (key.isEmpty()) return QMainWindow::eventFilter(watched, event);
    if (key != QLatin1String("Ctrl+Z") && singleLetterBlocked(w)) return QMainWindow::eventFilter(watched, event);
    for (const ActionDef& d : kxactions::Table()) {
        if (d.shortcut && key == QLatin1String(d.shortcut)) {
            // A disabled command (Undo while undo is off) ignores its key too.
            QAction* a = actions.value(QString::fromLatin1(d.id));
            if (!a || a->isEnabled()) runAction(d);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
