#include "DialogPalette.h"

#include <QCheckBox>
#include <QFont>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

#include "PictureBox.h"
#include "UiServices.h"

namespace {
// Whatever block AlphaData owns (a map or a table) goes; an index is no block.
void releaseAlpha(KX_GfxBuffer* b) {
    const uint32_t kind = KXSUP_AlphaHolds(b);
    if (kind != KXALPHA_NONE && kind != KXALPHA_SINGLECOLOR) FreeVec(b->AlphaData);
    b->AlphaData = nullptr;
    b->AlphaType = 0;
}

// The record's editable state, to tell whether the dialog changed it.
QByteArray snapshot(const KX_GfxBuffer* b) {
    QByteArray s(reinterpret_cast<const char*>(b->Palette), sizeof b->Palette);
    const uint32_t kind = KXSUP_AlphaHolds(b);
    s += QByteArray::number(kind) + ':' + QByteArray::number(b->ColorDepth);
    if (kind == KXALPHA_SINGLECOLOR) s += ':' + QByteArray::number(KXSUP_AlphaIndex(b));
    if (kind == KXALPHA_MULTICOLOR && b->AlphaData) s += QByteArray(static_cast<const char*>(b->AlphaData), 256);
    return s;
}
}  // namespace

DialogPalette::DialogPalette(KXClass* l, UiServices* u, QWidget* parent) : DialogKXOFrame(l, parent), ui(u) {
    setWindowTitle(QStringLiteral("Kaxon5 Palette Editor"));
    auto* grid = new QGridLayout;
    grid->setSpacing(0);
    QFont small = font();
    small.setPixelSize(9);
    for (int i = 0; i < 256; ++i) {
        auto* b = new QPushButton(QString::number(i), this);
        b->setObjectName(QStringLiteral("colour%1").arg(i));
        b->setFont(small);
        b->setFixedSize(25, 25);
        b->setAutoDefault(false);
        grid->addWidget(b, i / 16, i % 16);
        connect(b, &QPushButton::clicked, this, [this, i] { colourClicked(i); });
        colourButtons[i] = b;
    }

    MakePreviewBox(151, 116);
    checkBoxTransShow = Check("checkBoxTransShow", QStringLiteral("Render Transparency"));
    checkBoxTrans = Check("checkBoxTrans", QStringLiteral("Single Trans Color"));
    checkBoxTransMap = Check("checkBoxTransMap", QStringLiteral("Multi Trans Color"));
    numericTransColor = Spin("numericTransColor", 0, 255, 0);
    numericTransparency = Spin("numericTransparency", 0, 255, 0);
    listBoxMT = new QListWidget(this);
    listBoxMT->setObjectName(QStringLiteral("listBoxMT"));
    listBoxMT->setFixedHeight(80);
    buttonMTPlus = Button("buttonMTPlus", QStringLiteral("+"));
    buttonMTMinus = Button("buttonMTMinus", QStringLiteral("-"));
    labelColorIndex = Label("labelColorIndex", QStringLiteral("0"));
    labelColorRGB = Label("labelColorRGB", QString());
    checkBoxColorDialog = Check("checkBoxColorDialog", QStringLiteral("Open Color Dialog"));
    checkBoxMakeTrans = Check("checkBoxMakeTrans", QStringLiteral("Make Transparent"));
    checkBoxColorDialog->setChecked(true);
    checkBoxMakeTrans->setEnabled(false);

    auto* side = new QVBoxLayout;
    side->addWidget(pictureBoxPreview);
    side->addWidget(checkBoxTransShow);
    auto* title = Label("label4", QStringLiteral("Transparency Management"));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    side->addWidget(title);
    side->addWidget(checkBoxTrans);
    auto* numbers = new QFormLayout;
    numbers->addRow(Label("label1", QStringLiteral("Color Index")), numericTransColor);
    numbers->addRow(Label("label2", QStringLiteral("Opacity Level")), numericTransparency);
    side->addLayout(numbers);
    side->addWidget(checkBoxTransMap);
    auto* list = new QHBoxLayout;
    list->addWidget(listBoxMT, 1);
    auto* pm = new QVBoxLayout;
    pm->addWidget(buttonMTPlus);
    pm->addWidget(buttonMTMinus);
    pm->addStretch(1);
    list->addLayout(pm);
    side->addLayout(list);
    auto* info = new QFormLayout;
    info->addRow(Label("label3", QStringLiteral("Color Index:")), labelColorIndex);
    info->addRow(Label("label5", QStringLiteral("RGB:")), labelColorRGB);
    side->addLayout(info);
    side->addWidget(Label("label6", QStringLiteral("On click:")));
    side->addWidget(checkBoxColorDialog);
    side->addWidget(checkBoxMakeTrans);
    side->addStretch(1);

    auto* top = new QHBoxLayout;
    top->addLayout(grid);
    top->addLayout(side);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addLayout(MakeButtons(false, QStringLiteral("Done")));
    all->setSizeConstraint(QLayout::SetFixedSize);

    connect(checkBoxTransShow, &QCheckBox::toggled, this, [this] { UpdatePreview(); });
    connect(checkBoxTrans, &QCheckBox::toggled, this, &DialogPalette::singleToggled);
    connect(checkBoxTransMap, &QCheckBox::toggled, this, &DialogPalette::multiToggled);
    connect(numericTransColor, &QSpinBox::valueChanged, this, [this](int v) {
        if (filling || !checkBoxTrans->isChecked()) return;
        editing();
        KXSUP_SetAlphaIndex(_gfxb, uint32_t(v));
        UpdatePreview();
    });
    connect(numericTransparency, &QSpinBox::valueChanged, this, [this](int v) {
        uint8_t* t = table();
        if (filling || !checkBoxTransMap->isChecked() || !t) return;
        editing();
        t[numericTransColor->value()] = uint8_t(v);
        if (v == 255) refreshList();
        UpdatePreview();
    });
    connect(listBoxMT, &QListWidget::currentTextChanged, this, [this](const QString& text) {
        const uint8_t* t = table();
        if (!checkBoxTransMap->isChecked() || !t || text.isEmpty()) return;
        const int i = text.toInt();
        filling = true;
        numericTransColor->setValue(i);
        numericTransparency->setValue(t[i]);
        filling = false;
    });
    connect(buttonMTPlus, &QPushButton::clicked, this, &DialogPalette::plus);
    connect(buttonMTMinus, &QPushButton::clicked, this, &DialogPalette::minus);
    connect(checkBoxColorDialog, &QCheckBox::toggled, this, [this](bool on) { checkBoxMakeTrans->setEnabled(!on); });
    connect(checkBoxMakeTrans, &QCheckBox::toggled, this, [this](bool on) {
        if (!on) return;
        if (!checkBoxTransShow->isChecked()) checkBoxTransShow->setChecked(true);
        if (!checkBoxTrans->isChecked() && !checkBoxTransMap->isChecked()) {
            numericTransColor->setValue(labelColorIndex->text().toInt());
            checkBoxTransMap->setChecked(true);
        }
    });
}

bool DialogPalette::PreviewAlpha() const { return checkBoxTransShow->isChecked(); }

uint8_t* DialogPalette::table() const {
    return _gfxb && KXSUP_AlphaHolds(_gfxb) == KXALPHA_MULTICOLOR ? KXSUP_AlphaBytes(_gfxb) : nullptr;
}

void DialogPalette::editing() { Quiesce(); }

void DialogPalette::tableControls(bool on) {
    for (QWidget* w : {static_cast<QWidget*>(numericTransColor), static_cast<QWidget*>(numericTransparency),
                       static_cast<QWidget*>(listBoxMT), static_cast<QWidget*>(buttonMTPlus),
                       static_cast<QWidget*>(buttonMTMinus)})
        w->setEnabled(on);
}

void DialogPalette::raise() {
    if (_gfxb->Version < 3) KXSUP_SetGfxBufferVersion(_gfxb, 3);
}

QString DialogPalette::ColourText(int i) const {
    const uint8_t* p = _gfxb->Palette + 3 * i;
    return QString::asprintf("%03u, %03u, %03u (#%02x, #%02x, #%02x)", p[0], p[1], p[2], p[0], p[1], p[2]);
}

void DialogPalette::paintButton(int i) {
    QPushButton* b = colourButtons[i];
    QColor c = Qt::black;
    if (i < entries) c = QColor(_gfxb->Palette[3 * i], _gfxb->Palette[3 * i + 1], _gfxb->Palette[3 * i + 2]);
    const QColor text = c.lightness() > 128 ? Qt::black : Qt::white;
    b->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: %2; border: 1px solid #606060; padding: 0; }"
                                    "QPushButton:disabled { color: #505050; }")
                         .arg(c.name(), text.name()));
    b->setEnabled(i < entries);
}

void DialogPalette::showColour(int i) {
    labelColorIndex->setText(QString::number(i));
    labelColorRGB->setText(ColourText(i));
}

void DialogPalette::Prepare(KX_GfxBuffer* record) {
    OpenFrame(record, QString());
    _gfxb = record ? record : KX_GetGfxBuffer();
    if (!_gfxb) return;
    const int depth = int(std::min<uint32_t>(_gfxb->ColorDepth, 8));
    entries = IsHamBuffer(_gfxb) && depth > 2 ? 1 << (depth - 2) : 1 << depth;
    for (int i = 0; i < 256; ++i) paintButton(i);
    filling = true;
    numericTransColor->setMaximum(entries - 1);
    {
        QSignalBlocker a(checkBoxTrans), b(checkBoxTransMap);
        checkBoxTrans->setChecked(false);
        checkBoxTransMap->setChecked(false);
    }
    listBoxMT->clear();
    tableControls(false);
    filling = false;
    const uint32_t kind = KXSUP_AlphaHolds(_gfxb);
    if (kind == KXALPHA_MULTICOLOR && _gfxb->AlphaData) {
        checkBoxTransMap->setChecked(true);
    } else if (kind == KXALPHA_SINGLECOLOR && KXSUP_AlphaIndex(_gfxb) < uint32_t(entries)) {
        filling = true;
        numericTransColor->setValue(int(KXSUP_AlphaIndex(_gfxb)));
        filling = false;
        checkBoxTrans->setChecked(true);
    }
    showColour(0);
    before = snapshot(_gfxb);
    Ready();
}

bool DialogPalette::Changed() const { return _gfxb && snapshot(_gfxb) != before; }

void DialogPalette::colourClicked(int i) {
    if (checkBoxTransMap->isChecked()) numericTransColor->setValue(i);
    showColour(i);
    if (checkBoxColorDialog->isChecked()) {
        const uint8_t* p = _gfxb->Palette + 3 * i;
        QColor c(p[0], p[1], p[2]);
        if (!ui || !ui->PickColour(this, c)) return;
        editing();
        uint8_t* q = _gfxb->Palette + 3 * i;
        q[0] = uint8_t(c.red());
        q[1] = uint8_t(c.green());
        q[2] = uint8_t(c.blue());
        paintButton(i);
        showColour(i);
        UpdatePreview();
        return;
    }
    if (!checkBoxMakeTrans->isChecked()) return;
    numericTransColor->setValue(i);
    if (!checkBoxTrans->isChecked() && !checkBoxTransMap->isChecked()) checkBoxTransMap->setChecked(true);
    if (checkBoxTransMap->isChecked()) {
        filling = true;
        numericTransparency->setValue(0);
        filling = false;
        plus();
    }
}

void DialogPalette::singleToggled(bool on) {
    if (!_gfxb) return;
    editing();
    if (on) {
        checkBoxTransMap->setChecked(false);
        numericTransColor->setEnabled(true);
        numericTransparency->setEnabled(false);
        raise();
        releaseAlpha(_gfxb);
        _gfxb->AlphaType = KXALPHA_SINGLECOLOR;
        KXSUP_SetAlphaIndex(_gfxb, uint32_t(numericTransColor->value()));
    } else {
        numericTransColor->setEnabled(false);
        numericTransparency->setEnabled(false);
        if (KXSUP_AlphaHolds(_gfxb) == KXALPHA_SINGLECOLOR) releaseAlpha(_gfxb);
    }
    UpdatePreview();
}

void DialogPalette::multiToggled(bool on) {
    if (!_gfxb) return;
    editing();
    tableControls(on);
    if (on) {
        checkBoxTrans->setChecked(false);
        // Only a table is kept; an index or a map is no table.
        if (!table()) {
            auto* t = static_cast<uint8_t*>(AllocVec(256, MEMF_ANY));
            if (!t) {
                QSignalBlocker block(checkBoxTransMap);
                checkBoxTransMap->setChecked(false);
                return;
            }
            std::memset(t, 255, 256);
            t[numericTransColor->value()] = 0;
            raise();
            releaseAlpha(_gfxb);
            _gfxb->AlphaType = KXALPHA_MULTICOLOR;
            _gfxb->AlphaData = t;
        }
        refreshList();
    } else {
        if (table()) releaseAlpha(_gfxb);
        listBoxMT->clear();
    }
    UpdatePreview();
}

void DialogPalette::plus() {
    uint8_t* t = table();
    if (!t) return;
    editing();
    const int i = numericTransColor->value();
    t[i] = uint8_t(numericTransparency->value());
    refreshList();
    const auto found = listBoxMT->findItems(QString::number(i), Qt::MatchExactly);
    if (!found.isEmpty()) listBoxMT->setCurrentItem(found.first());
    UpdatePreview();
}

void DialogPalette::minus() {
    uint8_t* t = table();
    if (!t) return;
    if (listBoxMT->count() == 1) {
        checkBoxTransMap->setChecked(false);
        return;
    }
    editing();
    t[numericTransColor->value()] = 255;
    refreshList();
    UpdatePreview();
}

void DialogPalette::refreshList() {
    const uint8_t* t = table();
    QSignalBlocker block(listBoxMT);
    listBoxMT->clear();
    if (!t) return;
    for (int i = 0; i < entries; ++i)
        if (t[i] != 255) listBoxMT->addItem(QString::number(i));
    if (listBoxMT->count()) {
        listBoxMT->setCurrentRow(0);
        const int i = listBoxMT->item(0)->text().toInt();
        filling = true;
        numericTransColor->setValue(i);
        numericTransparency->setValue(t[i]);
        filling = false;
    }
}
