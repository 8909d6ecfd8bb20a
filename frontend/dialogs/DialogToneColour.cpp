#include "DialogToneColour.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "core/kxopnumbers.h"

// ---- XOr ----------------------------------------------------------------------

DialogKXOXor::DialogKXOXor(KXClass* l, QWidget* parent) : DialogKXOFrame(l, parent) {
    setWindowTitle(QStringLiteral("XOr Transformation"));
    auto* form = new QVBoxLayout;
    form->addWidget(Label("label3", QStringLiteral("XOr Value (reversible)")));
    numericXOR = Spin("numericXOR", 0, 255, 0);
    form->addWidget(numericXOR);
    form->addStretch(1);
    ArrangeWithPreview(form);
    Follow(numericXOR, _p1);
}

void DialogKXOXor::Prepare(KX_GfxBuffer* source, const QString& pdir) {
    OpenFrame(source, pdir);
    const KX_GfxBuffer* shown = source ? source : KX_GetGfxBuffer();
    deep = shown && shown->ColorDepth == 48;
    numericXOR->setMaximum(deep ? 65535 : 255);
    numericXOR->setValue(0);
    _p1 = 0;
    Ready();
}

kxdlg::Plan DialogKXOXor::Steps() const {
    return {{KXOP_XOR, {{deep ? "XORVALUE16" : "XORVALUE", kxown::Int(_p1)}}}};
}

// ---- Brightness and contrast ----------------------------------------------------------

DialogKXOStepped::DialogKXOStepped(KXClass* l, QWidget* parent, const QString& title, int s)
    : DialogKXOFrame(l, parent), value(s), start(s) {
    setWindowTitle(title);
    auto* grid = new QGridLayout;
    int at = 0;
    const struct {
        QPushButton** button;
        const char* name;
        const char* text;
        int step;
    } buttons[] = {{&buttonMinusMinus, "buttonMinusMinus", "- -", -15},
                   {&buttonMinus, "buttonMinus", "-", -5},
                   {&buttonPlus, "buttonPlus", "+", 5},
                   {&buttonPlusPlus, "buttonPlusPlus", "++", 15}};
    for (const auto& b : buttons) {
        *b.button = Button(b.name, QString::fromLatin1(b.text));
        grid->addWidget(*b.button, at / 2, at % 2);
        ++at;
        const int step = b.step;
        connect(*b.button, &QPushButton::clicked, this, [this, step] {
            value += step;
            UpdatePreview();
        });
    }
    auto* form = new QVBoxLayout;
    form->addLayout(grid);
    form->addStretch(1);
    ArrangeWithPreview(form);
}

void DialogKXOStepped::Prepare(KX_GfxBuffer* source, const QString& pdir) {
    OpenFrame(source, pdir);
    value = start;
    Ready();
}

DialogKXOBrightness::DialogKXOBrightness(KXClass* l, QWidget* parent)
    : DialogKXOStepped(l, parent, QStringLiteral("Adjust Brightness"), 0) {}

kxdlg::Plan DialogKXOBrightness::Steps() const { return {{KXOP_BRIGHTNESS, {{"ADJUST_RGB", kxown::Int(_rgb)}}}}; }

DialogKXOContrast::DialogKXOContrast(KXClass* l, QWidget* parent)
    : DialogKXOStepped(l, parent, QStringLiteral("Adjust Contrast"), 100) {}

kxdlg::Plan DialogKXOContrast::Steps() const { return {{KXOP_CONTRAST, {{"PERCENT", kxown::Int(_percent)}}}}; }

// ---- Gamma --------------------------------------------------------------------

DialogKXOGamma::DialogKXOGamma(KXClass* l, QWidget* parent) : DialogKXOFrame(l, parent) {
    setWindowTitle(QStringLiteral("Gamma Correction"));
    auto* form = new QFormLayout;
    auto field = [this](const char* name) {
        auto* s = new QDoubleSpinBox(this);
        s->setObjectName(QLatin1String(name));
        s->setDecimals(2);
        s->setSingleStep(0.1);
        s->setRange(0.2, 5.0);
        s->setValue(0.5);
        connect(s, &QDoubleSpinBox::valueChanged, this, [this] {
            _pf1 = float(numericRed->value());
            _pf2 = float(numericGreen->value());
            _pf3 = float(numericBlue->value());
            UpdatePreview();
        });
        return s;
    };
    numericRed = field("numericRed");
    numericGreen = field("numericGreen");
    numericBlue = field("numericBlue");
    form->addRow(Label("label1", QStringLiteral("Red")), numericRed);
    form->addRow(Label("label2", QStringLiteral("Green")), numericGreen);
    form->addRow(Label("label3", QStringLiteral("Blue")), numericBlue);
    ArrangeWithPreview(form);
}

void DialogKXOGamma::Prepare(KX_GfxBuffer* source, const QString& pdir) {
    OpenFrame(source, pdir);
    for (QDoubleSpinBox* s : {numericRed, numericGreen, numericBlue}) s->setValue(0.5);
    _pf1 = _pf2 = _pf3 = 0.5f;
    Ready();
}

kxdlg::Plan DialogKXOGamma::Steps() const {
    return {{KXOP_GAMMA,
             {{"RED_GAMMA", kxdlg::Real(_pf1)}, {"GREEN_GAMMA", kxdlg::Real(_pf2)}, {"BLUE_GAMMA", kxdlg::Real(_pf3)}}}};
}

// ---- Antique ------------------------------------------------------------------

DialogKXOAntique::DialogKXOAntique(KXClass* l, QWidget* parent) : DialogKXOFrame(l, parent) {
    setWindowTitle(QStringLiteral("Antique"));
    auto* form = new QFormLayout;
    numericDepth = Spin("numericDepth", 1, 8, 8);
    numericMode = Spin("numericMode", 1, 5, 1);
    form->addRow(Label("label1", QStringLiteral("Depth")), numericDepth);
    form->addRow(Label("label2", QStringLiteral("Mode")), numericMode);
    for (QSpinBox* s : {numericDepth, numericMode})
        connect(s, &QSpinBox::valueChanged, this, [this] {
            Confirm();
            UpdatePreview();
        });
    ArrangeWithPreview(form);
}

void DialogKXOAntique::Prepare(KX_GfxBuffer* source, const QString& pdir) {
    OpenFrame(source, pdir);
    numericDepth->setValue(8);
    numericMode->setValue(1);
    _depth = 8;
    _mode = 1;
    Ready();
}

void DialogKXOAntique::Confirm() {
    _depth = numericDepth->value();
    _mode = numericMode->value();
}

kxdlg::Plan DialogKXOAntique::Steps() const {
    const int mode = _mode >= 1 && _mode <= 5 ? _mode : 1;
    return {{KXOP_ANTIQUE, {{"COLORDEPTH", kxown::Int(_depth)}, {"MODE", "MODE_" + QByteArray::number(mode)}}}};
}

// ---- Grey extraction ---------------------------------------------------------------

DialogKXOExtractGray::DialogKXOExtractGray(KXClass* l, QWidget* parent) : DialogKXOFrame(l, parent) {
    setWindowTitle(QStringLiteral("Extract Gray"));
    auto* form = new QFormLayout;
    numericDepth = Spin("numericDepth", 1, 8, 8);
    form->addRow(Label("label1", QStringLiteral("Depth")), numericDepth);
    checkBoxQuick = Check("checkBoxQuick", QStringLiteral("Quick"));
    checkBoxDesc = Check("checkBoxDesc", QStringLiteral("Desc"));
    checkBoxSorted = Check("checkBoxSorted", QStringLiteral("Sorted"));
    form->addRow(checkBoxQuick);
    form->addRow(checkBoxDesc);
    form->addRow(checkBoxSorted);
    // The boxes set their fields; only the depth redraws.
    Follow(numericDepth, _depth);
    connect(checkBoxQuick, &QCheckBox::toggled, this, [this](bool on) { _quick = on ? 1 : 0; });
    connect(checkBoxDesc, &QCheckBox::toggled, this, [this](bool on) { _sorted = on ? 2 : 1; });
    connect(checkBoxSorted, &QCheckBox::toggled, this, [this](bool on) { _sorted = on ? 2 : 0; });
    ArrangeWithPreview(form);
}

void DialogKXOExtractGray::Prepare(KX_GfxBuffer* source, const QString& pdir) {
    OpenFrame(source, pdir);
    numericDepth->setValue(8);
    checkBoxSorted->setEnabled(false);
    _depth = 8;
    _quick = 0;
    _sorted = 0;
    Ready();
}

kxdlg::Plan DialogKXOExtractGray::Steps() const {
    kxdlg::Step s{KXOP_EXTRACTGRAYSCALES, {{"COLORDEPTH", kxown::Int(_depth)}}};
    if (_quick) s.keys.emplace_back("QUICK", "0");
    if (_sorted == 2) s.keys.emplace_back("SORTED8BIT", "DESCENDING");
    return {s};
}

// ---- Grey tablet ---------------------------------------------------------------

DialogKXOGrayTablet::DialogKXOGrayTablet(KXClass* l, QWidget* parent) : DialogKXOFrame(l, parent) {
    setWindowTitle(QStringLiteral("Gray Tablet"));
    static const char* const names[4][3] = {{"numRed1", "numGreen1", "numBlue1"},
                                            {"numRed2", "numGreen2", "numBlue2"},
                                            {"numRed3", "numGreen3", "numBlue3"},
                                            {"numRed4", "numGreen4", "numBlue4"}};
    auto* form = new QVBoxLayout;
    for (int group = 0; group < 2; ++group) {
        auto* box = new QGroupBox(group ? QStringLiteral("Excl. Range: Color") : QStringLiteral("Incl. Range: Color"), this);
        auto* grid = new QGridLayout(box);
        grid->addWidget(new QLabel(QStringLiteral("Red, Green Blue"), box), 0, 1, 1, 3, Qt::AlignHCenter);
        for (int row = 0; row < 2; ++row) {
            const int k = group * 2 + row;
            grid->addWidget(new QLabel(row ? QStringLiteral("Lower Border") : QStringLiteral("Upper Border"), box), row + 1, 0);
            for (int c = 0; c < 3; ++c) {
                num[k][c] = Spin(names[k][c], 0, 255, levels[k][c]);
                grid->addWidget(num[k][c], row + 1, c + 1);
                connect(num[k][c], &QSpinBox::valueChanged, this, &DialogKXOGrayTablet::changed);
            }
        }
        form->addWidget(box);
    }
    auto* note = new QLabel(QStringLiteral("Excl. range must be within incl. range."), this);
    form->addWidget(note);
    auto* buttons = new QHBoxLayout;
    buttonExclude = Button("buttonExclude", QStringLiteral("Exclude"));
    buttonInclude = Button("buttonInclude", QStringLiteral("Include"));
    buttons->addWidget(buttonExclude);
    buttons->addWidget(buttonInclude);
    buttons->addStretch(1);
    form->addLayout(buttons);
    form->addStretch(1);
    // Copying the kept range into the excluded one, or clearing that: through
    // the fields, so the borders are checked and the preview follows.
    connect(buttonExclude, &QPushButton::clicked, this, [this] {
        for (int c = 0; c < 3; ++c) {
            const int upper = levels[0][c], lower = levels[1][c];
            num[2][c]->setValue(upper);
            num[3][c]->setValue(lower);
        }
    });
    connect(buttonInclude, &QPushButton::clicked, this, [this] {
        for (int k = 2; k < 4; ++k)
            for (int c = 0; c < 3; ++c) num[k][c]->setValue(0);
    });
    MakePreviewBox(396, 292);
    Arrange(form, MakeButtons(true));
}

// Keeps the excluded range inside the kept one. The corrections are made
// here, at once, and written back without re-entering: applied one field
// at a time they chase each other for ever when the kept range's lower
// border is above 0 and nothing is excluded (the excluded lower border is
// raised to the kept one's and lowered back to the excluded upper one).
// Raising the excluded upper border to the kept lower one ends that: the
// excluded range is then empty at the kept range's edge.
void DialogKXOGrayTablet::changed() {
    if (!initimg || correcting) return;
    for (int k = 0; k < 4; ++k)
        for (int c = 0; c < 3; ++c) levels[k][c] = num[k][c]->value();
    for (int c = 0; c < 3; ++c) {
        int& upper = levels[0][c];
        int& lower = levels[1][c];
        int& xUpper = levels[2][c];
        int& xLower = levels[3][c];
        lower = std::min(lower, upper);
        xUpper = std::clamp(xUpper, lower, upper);
        xLower = std::clamp(xLower, lower, xUpper);
    }
    correcting = true;
    for (int k = 0; k < 4; ++k)
        for (int c = 0; c < 3; ++c) num[k][c]->setValue(levels[k][c]);
    correcting = false;
    UpdatePreview();
}

void DialogKXOGrayTablet::Prepare(KX_GfxBuffer* source, const QString& pdir) {
    OpenFrame(source, pdir);
    for (int k = 0; k < 4; ++k)
        for (int c = 0; c < 3; ++c) {
            levels[k][c] = k == 0 ? 255 : 0;
            num[k][c]->setValue(levels[k][c]);
        }
    Ready();
}

kxdlg::Plan DialogKXOGrayTablet::Steps() const {
    static const char* const keys[4][3] = {{"RED_LEVEL1", "GREEN_LEVEL1", "BLUE_LEVEL1"},
                                           {"RED_LEVEL2", "GREEN_LEVEL2", "BLUE_LEVEL2"},
                                           {"RED_LEVEL3", "GREEN_LEVEL3", "BLUE_LEVEL3"},
                                           {"RED_LEVEL4", "GREEN_LEVEL4", "BLUE_LEVEL4"}};
    kxdlg::Step s{KXOP_SELECTGRAYSCALES, {}};
    for (int k = 0; k < 4; ++k)
        for (int c = 0; c < 3; ++c) s.keys.emplace_back(keys[k][c], kxown::Int(levels[k][c]));
    return {s};
}
