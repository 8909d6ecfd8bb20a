#include "DialogColorimetric.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "OwnOperator.h"
#include "PictureBox.h"
#include "UiServices.h"
#include "View.h"
#include "core/colour.h"
#include "core/kxopnumbers.h"

namespace {
constexpr int kPreviewW = 240, kPreviewH = 180;

QDoubleSpinBox* number(QWidget* parent, const char* name, double min, double max, int decimals, double value) {
    auto* s = new QDoubleSpinBox(parent);
    s->setObjectName(QLatin1String(name));
    s->setRange(min, max);
    s->setSingleStep(0.1);
    s->setDecimals(decimals);
    s->setValue(value);
    return s;
}
}  // namespace

const char* const DialogColorimetric::kStockProfiles[4] = {
    "sRGB_IEC61966-2-1_black_scaled.icc", "sRGB_IEC61966-2-1_no_black_scaling.icc", "sRGB_v4_ICC_preference.icc",
    "ECI-RGB.V1.0.icc"};

DialogColorimetric::DialogColorimetric(KXClass* l, UiServices* u, QWidget* parent) : QDialog(parent), lib(l), ui(u) {
    setWindowTitle(QStringLiteral("Colorimetry Dialog"));
    numInvGam = number(this, "numInvGam", 0.1, 10.0, 2, 2.2);
    numWPx = number(this, "numWPx", 0.05, 10.0, 4, 0.3127);
    numWPy = number(this, "numWPy", 0.05, 10.0, 4, 0.329);
    numWPy_ = number(this, "numWPy_", 0.05, 10.0, 4, 1.0);
    numRPx = number(this, "numRPx", 0.05, 10.0, 4, 0.64);
    numRPy = number(this, "numRPy", 0.05, 10.0, 4, 0.33);
    numRPy_ = number(this, "numRPy_", 0.05, 10.0, 4, 1.0);
    numGPx = number(this, "numGPx", 0.05, 10.0, 4, 0.3);
    numGPy = number(this, "numGPy", 0.05, 10.0, 4, 0.6);
    numGPy_ = number(this, "numGPy_", 0.05, 10.0, 4, 1.0);
    numBPx = number(this, "numBPx", 0.05, 10.0, 4, 0.15);
    numBPy = number(this, "numBPy", 0.05, 10.0, 4, 0.06);
    numBPy_ = number(this, "numBPy_", 0.05, 10.0, 4, 1.0);
    checkBoxICCP = new QCheckBox(QStringLiteral("Apply original ICC Profile"), this);
    checkBoxICCP->setChecked(true);
    comboBoxMode = new QComboBox(this);
    comboBoxMode->addItems({QStringLiteral("custom gamma"), QStringLiteral("sRGB v2 black-scaled (g=2.2)"),
                            QStringLiteral("sRGB v2 no black-scaling (g=2.2)"), QStringLiteral("sRGB v4 (g=2.2)"),
                            QStringLiteral("ECI RGB (g=1.8)")});
    pictureBoxPreview = new PictureBox(this);
    pictureBoxPreview->setFixedSize(kPreviewW, kPreviewH);
    pictureBoxPreview->setSunken(true);
    pictureBoxPreview->setMode(PictureBox::Stretch);
    buttonApply = new QPushButton(QStringLiteral("Apply"), this);
    buttonAddICC = new QPushButton(QStringLiteral("Add ICC Profile"), this);
    buttonCancel = new QPushButton(QStringLiteral("Cancel"), this);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("File Gamma"), this), 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("1.0 /"), this), 0, 1, Qt::AlignRight);
    grid->addWidget(numInvGam, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("x"), this), 1, 1, Qt::AlignCenter);
    grid->addWidget(new QLabel(QStringLiteral("y"), this), 1, 2, Qt::AlignCenter);
    grid->addWidget(new QLabel(QStringLiteral("Y"), this), 1, 3, Qt::AlignCenter);
    const struct {
        const char* label;
        QDoubleSpinBox *x, *y, *Y;
    } rows[] = {{"Referenced White Point", numWPx, numWPy, numWPy_},
                {"Red Primary", numRPx, numRPy, numRPy_},
                {"Green Primary", numGPx, numGPy, numGPy_},
                {"Blue Primary", numBPx, numBPy, numBPy_}};
    int r = 2;
    for (const auto& row : rows) {
        grid->addWidget(new QLabel(QLatin1String(row.label), this), r, 0);
        grid->addWidget(row.x, r, 1);
        grid->addWidget(row.y, r, 2);
        grid->addWidget(row.Y, r, 3);
        ++r;
    }
    auto* mode = new QHBoxLayout;
    mode->addWidget(new QLabel(QStringLiteral("Mode"), this));
    mode->addWidget(comboBoxMode, 1);
    auto* left = new QVBoxLayout;
    left->addLayout(grid);
    left->addWidget(checkBoxICCP);
    left->addLayout(mode);
    left->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addLayout(left);
    top->addWidget(pictureBoxPreview, 0, Qt::AlignTop);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(buttonApply);
    buttons->addWidget(buttonAddICC);
    buttons->addWidget(buttonCancel);
    auto* v = new QVBoxLayout(this);
    v->addLayout(top);
    v->addLayout(buttons);

    for (QDoubleSpinBox* s : {numInvGam, numWPx, numWPy, numWPy_, numRPx, numRPy, numRPy_, numGPx, numGPy, numGPy_,
                              numBPx, numBPy, numBPy_})
        connect(s, &QDoubleSpinBox::valueChanged, this, [this] { ReadFields(); });
    connect(checkBoxICCP, &QCheckBox::toggled, this, [this] { ReadFields(); });
    connect(comboBoxMode, &QComboBox::currentIndexChanged, this, [this] { modeChanged(); });
    connect(buttonApply, &QPushButton::clicked, this, [this] { finish(false); });
    connect(buttonAddICC, &QPushButton::clicked, this, [this] { finish(true); });
    connect(buttonCancel, &QPushButton::clicked, this, [this] {
        _exit = true;
        reject();
    });
}

DialogColorimetric::~DialogColorimetric() { KXSUP_FreeGfxBuffer(scaled); }

void DialogColorimetric::Prepare(KX_GfxBuffer* buffer, const KXOSpecialInfo* record, const QString& dir,
                                 bool allowApply) {
    _exit = true;
    _icc = false;
    _applyiccp = true;
    initimg = 0;
    gfxb = buffer;
    kxi = record;
    progdir = dir;
    buttonApply->setEnabled(allowApply);
    checkBoxICCP->setEnabled(kxi && kxi->IccData && kxi->IccSize);

    // The preview works on one scaled 24- or 48-bit copy.
    KXSUP_FreeGfxBuffer(scaled);
    scaled = nullptr;
    if (gfxb) {
        KX_GfxBuffer* small = nullptr;
        if (kxown::Run(lib, KXOP_RESIZE, gfxb, &small,
                       {{"NEW_WIDTH", kxown::Int(kPreviewW)}, {"NEW_HEIGHT", kxown::Int(kPreviewH)}}) == KXERR_NONE &&
            small && small->ColorDepth < 24) {
            KX_GfxBuffer* wide = nullptr;
            if (kxown::Run(lib, KXOP_ANYTO24BIT, small, &wide, kxown::KeyList{}, false) != KXERR_NONE) wide = nullptr;
            KXSUP_FreeGfxBuffer(small);
            small = wide;
        }
        scaled = small;
    }
    ReadFields();
    initimg = 1;
    DrawPreview();
}

void DialogColorimetric::ReadFields() {
    _ig = numInvGam->value();
    _wpx = numWPx->value(), _wpy = numWPy->value(), _wpy2 = numWPy_->value();
    _rpx = numRPx->value(), _rpy = numRPy->value(), _rpy2 = numRPy_->value();
    _gpx = numGPx->value(), _gpy = numGPy->value(), _gpy2 = numGPy_->value();
    _bpx = numBPx->value(), _bpy = numBPy->value(), _bpy2 = numBPy_->value();
    _applyiccp = checkBoxICCP->isChecked();
    DrawPreview();
}

uint32_t DialogColorimetric::BuildProfile(uint8_t** profile, uint32_t* size) const {
    const double white[3] = {_wpx, _wpy, _wpy2}, red[3] = {_rpx, _rpy, _rpy2}, green[3] = {_gpx, _gpy, _gpy2},
                 blue[3] = {_bpx, _bpy, _bpy2};
    return KXSUP_CreateCMSProfileGammaWhitePrim(256, 1.0 / _ig, white, red, green, blue, profile, size);
}

uint8_t* DialogColorimetric::LoadStockProfile(const QString& path, uint32_t* size) {
    uint8_t* profile = nullptr;
    const QByteArray name = QFile::encodeName(path);
    if (KXSUP_ReadCMSProfileFile(name.constData(), &profile, size) != KXERR_NONE) {
        ui->Message(this, QStringLiteral("Kaxon5 Error"), QStringLiteral("Error loading ICC profile!"),
                    UiServices::Icon::Critical);
        return nullptr;
    }
    return profile;
}

void DialogColorimetric::DrawPreview() {
    if (initimg != 1 || !scaled) return;
    KX_GfxBuffer* b = nullptr;
    if (KXSUP_CopyGfxBuffer(scaled, &b, 1, MEMF_ANY) != KXERR_NONE || !b) return;
    if (_applyiccp && kxi && kxi->IccData && kxi->IccSize) KXSUP_ApplyCMSProfileSRGB(b, kxi->IccData, kxi->IccSize);
    uint8_t* profile = nullptr;
    uint32_t size = 0;
    const int mode = comboBoxMode->currentIndex();
    if (mode <= 0) {
        if (BuildProfile(&profile, &size) != KXERR_NONE) profile = nullptr;
    } else {
        profile = LoadStockProfile(progdir + QStringLiteral("/Resources/ICCP/") + QLatin1String(kStockProfiles[mode - 1]),
                                   &size);
    }
    // A failed conversion keeps the preview as it was.
    if (profile && KXSUP_ApplyCMSProfileSRGB(b, profile, size) == KXERR_NONE)
        pictureBoxPreview->setImage(View::SetImage(b, false));
    FreeVec(profile);
    KXSUP_FreeGfxBuffer(b);
}

void DialogColorimetric::modeChanged() {
    const bool custom = comboBoxMode->currentIndex() <= 0;
    for (QDoubleSpinBox* s : {numInvGam, numWPx, numWPy, numWPy_, numRPx, numRPy, numRPy_, numGPx, numGPy, numGPy_,
                              numBPx, numBPy, numBPy_})
        s->setEnabled(custom);
    DrawPreview();
}

void DialogColorimetric::finish(bool icc) {
    ReadFields();
    _exit = false;
    _icc = icc;
    accept();
}
