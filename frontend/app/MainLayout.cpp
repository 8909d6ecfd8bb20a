// Main: the window's controls (menus from the action table, tool bar, the
// four option groups, thumbnail, information lines, status row) and the
// check boxes' change handlers.
#include "Main.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QToolBar>
#include <QVBoxLayout>

#include "ActionTable.h"
#include "MainShared.h"
#include "PictureBox.h"
#include "core/catalogue.h"

using kxmain::kThumbH;
using kxmain::kThumbW;

using kxactions::ActionDef;
using kxactions::Cmd;

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
    // Wide enough for the longest names (subtypes have up to 16 characters).
    comboBoxFormat->setMinimumContentsLength(10);
    comboBoxFormat->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    comboBoxSubFormat = new QComboBox;
    comboBoxSubFormat->setMinimumContentsLength(16);
    comboBoxSubFormat->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    buttonConfig = new QPushButton(QStringLiteral("C"));
    buttonConfig->setFixedWidth(28);
    buttonConfig->setEnabled(false);  // live while the chosen writer has a schema (wireSettingsEditor)
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

    // Status row: light and status line over the window's whole width, the
    // progress bar as a thin row of its own below, so no message is hidden
    // behind it.
    auto* status = new QHBoxLayout;
    buttonStatus = new QPushButton;
    buttonStatus->setFixedSize(14, 14);
    buttonStatus->setFocusPolicy(Qt::StrongFocus);
    labelStatus = new QLabel(QStringLiteral("Fertig."));
    // A long message never widens the fixed window (its tool tip has it whole).
    labelStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    progressBar1 = new QProgressBar;
    progressBar1->setRange(0, 100);
    progressBar1->setTextVisible(false);
    progressBar1->setFixedHeight(8);
    status->addWidget(buttonStatus);
    status->addWidget(labelStatus, 1);
    outer->addLayout(status);
    outer->addWidget(progressBar1);
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
    wireLossless();
    wireColour();
    wireMetadata();

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
        // As their menu entries.
        a->setEnabled(d && kxactions::Ready(*d));
        return a;
    };
    toolStripLoad = add("&Load", "file.open");
    toolStripFromClip = add("&FromClip", "file.openclip");
    toolStripSave = add("&SaveAs", "file.saveas");
    toolStripToClip = add("&ToClip", "file.saveclip");
    toolStripView = add("&View", "image.view");
    toolStripDiaShow = add("&DiaShow", "file.diashow");
    toolStripButtonScreenshot = add("&Grab", nullptr);
    // The grab opens its picture through the PNG reader, as a paste does.
    toolStripButtonScreenshot->setEnabled(KX_IsBuilt("kxoPNG"));
    connect(toolStripButtonScreenshot, &QAction::triggered, this, [this] { cmdGrab(); });
    toolStripButtonScreenshot->setToolTip(QStringLiteral("Screenshot [ALT+ESC]"));
    toolStripButtonLanguage = add("ENG", "options.program");
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
        enableUndoCommand(on);
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
    wireArea();
    connect(comboBoxFormat, &QComboBox::currentIndexChanged, this, [this] {
        if (formatGuard) return;
        mirrorSettings();
        fillSubFormats();
    });
}
