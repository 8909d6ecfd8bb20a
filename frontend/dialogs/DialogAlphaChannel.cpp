#include "DialogAlphaChannel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "PictureBox.h"
#include "UiServices.h"
#include "core/kxopnumbers.h"

namespace {

bool hasMap8(const KX_GfxBuffer* b) { return b && KXSUP_AlphaHolds(b) == KXALPHA_CHANNEL8; }
}  // namespace

// ---- Add alpha ------------------------------------------------------------------

DialogKXOAddAlpha::DialogKXOAddAlpha(KXClass* l, UiServices* u, QWidget* parent) : DialogKXOFrame(l, parent), ui(u) {
    setWindowTitle(QStringLiteral("Add Alpha"));
    auto* form = new QFormLayout;
    comboAddMode = Combo("comboAddMode", {QStringLiteral("All Pixels"), QStringLiteral("Certain Pixels")});
    form->addRow(Label("label1", QStringLiteral("Add Mode")), comboAddMode);
    buttonPixel = Button("buttonPixel", QStringLiteral("Select Pixel Value..."));
    form->addRow(buttonPixel);
    labelPixelValue = Label("labelPixelValue", QStringLiteral("0, 0, 0 (#00, #00, #00)"));
    form->addRow(labelPixelValue);
    numericTransparency = Spin("numericTransparency", 0, 255, 255);
    form->addRow(Label("label2", QStringLiteral("Opacity Level")), numericTransparency);
    checkBoxTransShow = Check("checkBoxTransShow", QStringLiteral("Render Transparency"));
    checkBoxTransShow->setChecked(true);
    form->addRow(checkBoxTransShow);
    ArrangeWithPreview(form);
    Follow(comboAddMode, _addmode);
    connect(buttonPixel, &QPushButton::clicked, this, [this] {
        QColor c = QColor::fromRgb(QRgb(_color));
        if (!ui || !ui->PickColour(this, c)) return;
        _color = uint32_t(c.rgb()) & 0xFFFFFFu;
        labelPixelValue->setText(ColourText(_color));
        UpdatePreview();
    });
    Follow(numericTransparency, _value);
    connect(checkBoxTransShow, &QCheckBox::toggled, this, [this] { UpdatePreview(); });
}

QString DialogKXOAddAlpha::ColourText(uint32_t rgb) {
    const unsigned r = (rgb >> 16) & 255, g = (rgb >> 8) & 255, b = rgb & 255;
    return QString::asprintf("%03u, %03u, %03u (#%02x, #%02x, #%02x)", r, g, b, r, g, b);
}

void DialogKXOAddAlpha::Prepare(KX_GfxBuffer* source, const QString& pdir) {
    OpenFrame(source, pdir);
    _addmode = 1;
    _color = 0;
    _value = 255;
    comboAddMode->setCurrentIndex(1);
    numericTransparency->setValue(255);
    labelPixelValue->setText(ColourText(_color));
    Ready();
}

// Index 0 "All Pixels" is ALL, 1 "Certain Pixels" is VALUE with the colour
// in the hexadecimal form the operator reads; the command hands the same.
kxdlg::Plan DialogKXOAddAlpha::Steps() const {
    kxdlg::Step s{KXOP_ADDALPHA, {{"ALPHA_MODE", _addmode == 0 ? "ALL" : "VALUE"}}};
    if (_addmode != 0) s.keys.emplace_back("ALPHA_PIXEL24", QByteArray("0x") + QByteArray::number(_color, 16).rightJustified(6, '0'));
    s.keys.emplace_back("ALPHA_VALUE8", kxown::Int(_value));
    return {s};
}

kxdlg::Plan DialogKXOAddAlpha::PreviewSteps() const { return kxdlg::InTrueColour(Steps()); }

bool DialogKXOAddAlpha::PreviewAlpha() const { return checkBoxTransShow->isChecked(); }

// ---- Reset channel ---------------------------------------------------------------

DialogKXOResetChannel::DialogKXOResetChannel(KXClass* l, QWidget* parent) : DialogKXOFrame(l, parent) {
    setWindowTitle(QStringLiteral("Set/Reset Channel"));
    auto* form = new QFormLayout;
    numericMode = Spin("numericMode", 1, 3, 1);
    numericValue = Spin("numericValue", 0, 255, 0);
    form->addRow(Label("label3", QStringLiteral("Channel 1,2,3 (R,G,B)")), numericMode);
    form->addRow(Label("label2", QStringLiteral("Value")), numericValue);
    ArrangeWithPreview(form);
    for (QSpinBox* s : {numericMode, numericValue})
        connect(s, &QSpinBox::valueChanged, this, [this] {
            _resetmode = numericMode->value();
            _resetval = numericValue->value();
            UpdatePreview();
        });
}

void DialogKXOResetChannel::Prepare(KX_GfxBuffer* source, const QString& pdir) {
    OpenFrame(source, pdir);
    numericMode->setValue(1);
    numericValue->setValue(0);
    _resetmode = 1;
    _resetval = 0;
    Ready();
}

kxdlg::Plan DialogKXOResetChannel::Steps() const {
    const char* mode = _resetmode == 2 ? "GREEN" : _resetmode == 3 ? "BLUE" : "RED";
    return {{KXOP_RESETCHANNEL, {{"MODE", mode}, {"CHANNEL_VALUE", kxown::Int(_resetval)}}}};
}

// ---- Alpha blend and watermark ------------------------------------------------------

DialogKXOAlphaBlend::DialogKXOAlphaBlend(KXClass* l, UiServices* u, QWidget* parent) : DialogKXOFrame(l, parent), ui(u) {
    setWindowTitle(QStringLiteral("Alpha Blending (Source + Blend => Result)"));
    auto* pictures = new QGridLayout;
    pictureBoxSource = Picture("pictureBoxSource", 191, 166);
    pictureBoxReference = Picture("pictureBoxReference", 191, 166);
    MakePreviewBox(191, 166);
    pictures->addWidget(Label("label2", QStringLiteral("Source Image")), 0, 0);
    pictures->addWidget(Label("label3", QStringLiteral("Blend Image")), 0, 1);
    pictures->addWidget(Label("label4", QStringLiteral("Result Image")), 0, 2);
    pictures->addWidget(pictureBoxSource, 1, 0);
    pictures->addWidget(pictureBoxReference, 1, 1);
    pictures->addWidget(pictureBoxPreview, 1, 2);

    auto* file = new QHBoxLayout;
    labelRef = Label("labelRef", QStringLiteral("Reference:"));
    labelFileName = Label("labelFileName", QStringLiteral("No filename selected."));
    labelFileName->setTextInteractionFlags(Qt::TextSelectableByMouse);
    button1 = Button("button1", QStringLiteral("Load Image..."));
    file->addWidget(labelRef);
    file->addWidget(labelFileName, 1);
    file->addWidget(button1);
    labelReference = Label("labelReference", QStringLiteral("You have to select a reference file first."));

    auto* alpha = new QHBoxLayout;
    checkBoxSourceAlpha = Check("checkBoxSourceAlpha", QStringLiteral("Alpha from Source"));
    checkBoxBlendAlpha = Check("checkBoxBlendAlpha", QStringLiteral("Alpha from Blend"));
    checkBoxUserAlpha = Check("checkBoxUserAlpha", QStringLiteral("User Alpha: "));
    numericTransparency = Spin("numericTransparency", 0, 255, 127);
    labelOpacity = Label("labelOpacity", QStringLiteral("[Opacity]"));
    alpha->addWidget(checkBoxSourceAlpha);
    alpha->addWidget(checkBoxBlendAlpha);
    alpha->addWidget(checkBoxUserAlpha);
    alpha->addWidget(numericTransparency);
    alpha->addWidget(labelOpacity);
    alpha->addStretch(1);

    auto* status = new QHBoxLayout;
    labelStatus = Label("labelStatus", QStringLiteral("No error."));
    status->addWidget(Label("label8", QStringLiteral("Status:")));
    status->addWidget(labelStatus, 1);

    auto* form = new QVBoxLayout;
    form->addLayout(pictures);
    form->addLayout(file);
    form->addWidget(labelReference);
    form->addLayout(alpha);
    form->addLayout(status);
    auto* all = new QVBoxLayout(this);
    all->addLayout(form);
    all->addLayout(MakeButtons(true));
    all->setSizeConstraint(QLayout::SetFixedSize);

    connect(button1, &QPushButton::clicked, this, [this] {
        const QString path = ui ? ui->OpenFileName(this, loaddir, QString(), QStringLiteral("All Files (*)")) : QString();
        if (!path.isEmpty()) LoadBlend(path);
    });
    connect(checkBoxSourceAlpha, &QCheckBox::toggled, this, [this](bool on) { pairChanged(checkBoxSourceAlpha, on); });
    connect(checkBoxBlendAlpha, &QCheckBox::toggled, this, [this](bool on) { pairChanged(checkBoxBlendAlpha, on); });
    connect(checkBoxUserAlpha, &QCheckBox::toggled, this, [this](bool on) {
        _userblend = on ? 1 : 0;
        checkBoxSourceAlpha->setEnabled(!on);
        checkBoxBlendAlpha->setEnabled(!on);
    });
    connect(numericTransparency, &QSpinBox::valueChanged, this, [this](int v) {
        _useralpha = v;
        if (checkBoxUserAlpha->isChecked()) UpdatePreview();
    });
}

DialogKXOAlphaBlend::~DialogKXOAlphaBlend() { Quiesce(); }

// The two alpha sources exclude each other while no uniform alpha is chosen.
void DialogKXOAlphaBlend::pairChanged(QCheckBox* changed, bool on) {
    if (pairing || checkBoxUserAlpha->isChecked()) return;
    pairing = true;
    (changed == checkBoxSourceAlpha ? checkBoxBlendAlpha : checkBoxSourceAlpha)->setChecked(!on);
    pairing = false;
    _sourcealpha = checkBoxSourceAlpha->isChecked() ? 1 : 0;
    UpdatePreview();
}

void DialogKXOAlphaBlend::open(KX_GfxBuffer* source, const QString& pdir, const QString& ld, const QString& ud, bool wm) {
    OpenFrame(source, pdir);
    watermark = wm;
    loaded = false;
    _loadname.clear();
    _sourcealpha = 1;
    _useralpha = wm ? 31 : 127;
    _userblend = wm ? 1 : 0;
    loaddir = ld;
    userdir = ud;
    pairing = true;
    checkBoxSourceAlpha->setChecked(true);
    checkBoxBlendAlpha->setChecked(false);
    pairing = false;
    checkBoxUserAlpha->setChecked(wm);
    numericTransparency->setValue(_useralpha);
    const KX_GfxBuffer* shown = source ? source : KX_GetGfxBuffer();
    if (wm) {
        labelRef->setText(QStringLiteral("Watermark:"));
        for (QWidget* w : {static_cast<QWidget*>(checkBoxSourceAlpha), static_cast<QWidget*>(checkBoxBlendAlpha),
                           static_cast<QWidget*>(checkBoxUserAlpha), static_cast<QWidget*>(numericTransparency),
                           static_cast<QWidget*>(labelOpacity)})
            w->hide();
    } else {
        checkBoxUserAlpha->setEnabled(false);
        checkBoxSourceAlpha->setEnabled(hasMap8(shown));
    }
    Ready();
}

void DialogKXOAlphaBlend::Prepare(KX_GfxBuffer* source, const QString& pdir, const QString& ld, const QString& ud) {
    open(source, pdir, ld, ud, false);
}

void DialogKXOAlphaBlend::PrepareA(KX_GfxBuffer* source, const QString& pdir, const QString& ld, const QString& ud) {
    open(source, pdir, ld, ud, true);
}

void DialogKXOAlphaBlend::LoadBlend(const QString& path) {
    _loadname = path;
    // A long path is shortened in its middle; the whole one is the tip.
    labelFileName->setText(labelFileName->fontMetrics().elidedText(path, Qt::ElideMiddle, 480));
    labelFileName->setToolTip(path);
    labelReference->hide();
    Quiesce();  // the readers run on this thread
    loaded = false;
    if (!_KXClass2) _KXClass2 = kxdlg::OwnLibrary(progdir, userdir);
    KX_GfxBuffer* image = nullptr;
    const uint32_t err = kxdlg::LoadPicture(_KXClass2.get(), path, &image);
    if (!err) {
        loaded = true;
        const KX_GfxBuffer* source = gfxb ? gfxb : KX_GetGfxBuffer();
        const bool sourceMap = hasMap8(source), blendMap = hasMap8(image);
        const bool ready = initimg;
        initimg = false;
        if (blendMap) {
            checkBoxUserAlpha->setChecked(false);
            checkBoxBlendAlpha->setChecked(true);
        } else if (sourceMap) {
            checkBoxUserAlpha->setChecked(false);
            checkBoxSourceAlpha->setChecked(true);
        } else {
            checkBoxUserAlpha->setChecked(true);
            pairing = true;
            checkBoxSourceAlpha->setChecked(false);
            checkBoxBlendAlpha->setChecked(false);
            pairing = false;
        }
        _sourcealpha = checkBoxSourceAlpha->isChecked() ? 1 : 0;
        if (!sourceMap) checkBoxSourceAlpha->setEnabled(false);
        if (!blendMap) checkBoxBlendAlpha->setEnabled(false);
        initimg = ready;
        pictureBoxReference->setImage(kxdlg::Bitmap(image, true));
        KXSUP_FreeGfxBuffer(image);
    } else {
        pictureBoxReference->setImage(QImage());
    }
    labelStatus->setText(kxdlg::StatusText(err));
    UpdatePreview();
}

kxdlg::Plan DialogKXOAlphaBlend::Steps() const {
    kxdlg::Plan plan;
    const bool uniform = watermark || _userblend;
    if (uniform) plan.push_back({KXOP_ADDALPHA, {{"ALPHA_MODE", "ALL"}, {"ALPHA_VALUE8", kxown::Int(_useralpha)}}});
    const bool fromSource = watermark || _sourcealpha || _userblend;
    plan.push_back({KXOP_ALPHABLEND,
                    {{"ALPHA_MODE", fromSource ? "SRCGFX_ALPHA" : "BLENDGFX_ALPHA"},
                     {"SCALE_BLENDGFX", "0"},
                     {"BLEND_GRAPHICS", QFile::encodeName(_loadname)}}});
    return plan;
}

// Without a blend picture the preview shows the source as it is.
kxdlg::Plan DialogKXOAlphaBlend::PreviewSteps() const { return _loadname.isEmpty() ? kxdlg::Plan() : kxdlg::InTrueColour(Steps()); }

void DialogKXOAlphaBlend::PreviewShown(uint32_t err) {
    if (pictureBoxSource->image().isNull() && Thumbnail()) pictureBoxSource->setImage(kxdlg::Bitmap(Thumbnail(), true));
    if (_loadname.isEmpty()) return;
    labelStatus->setText(kxdlg::StatusText(err));
    if (err) pictureBoxPreview->setImage(QImage());
}
