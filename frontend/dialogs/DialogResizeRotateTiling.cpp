#include "DialogResizeRotateTiling.h"

#include <QCheckBox>
#include <QFont>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "core/kxopnumbers.h"

// ---- Resize -------------------------------------------------------------------

DialogKXOResize::DialogKXOResize(KXClass* l, QWidget* parent) : DialogKXOFrame(l, parent) {
    setWindowTitle(QStringLiteral("Resize"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    auto* grid = new QGridLayout;
    newWidth = Spin("newWidth", 1, 65535, 1);
    newHeight = Spin("newHeight", 1, 65535, 1);
    oldWidth = Button("oldWidth", QString());
    oldHeight = Button("oldHeight", QString());
    checkBoxAspect = Check("checkBoxAspect", QStringLiteral("Keep Aspect"));
    numericPercent = Spin("numericPercent", 1, 1000, 100);
    checkBoxDDA = Check("checkBoxDDA", QStringLiteral("DDA Scale"));
    grid->addWidget(Label("widthLabel", QStringLiteral("Width")), 0, 0);
    grid->addWidget(newWidth, 0, 1);
    grid->addWidget(oldWidth, 0, 2);
    grid->addWidget(Label("heightLabel", QStringLiteral("Height")), 1, 0);
    grid->addWidget(newHeight, 1, 1);
    grid->addWidget(oldHeight, 1, 2);
    grid->addWidget(checkBoxAspect, 2, 0, 1, 3);
    grid->addWidget(Label("label1", QStringLiteral("Percent")), 3, 0);
    grid->addWidget(numericPercent, 3, 1);
    grid->addWidget(checkBoxDDA, 4, 0, 1, 3);
    Arrange(grid, MakeButtons(true));

    connect(oldWidth, &QPushButton::clicked, this, [this] { newWidth->setValue(_iw); });
    connect(oldHeight, &QPushButton::clicked, this, [this] { newHeight->setValue(_ih); });
    connect(numericPercent, &QSpinBox::valueChanged, this, [this](int p) {
        newWidth->setValue(int(double(_iw) * p / 100.0));
        newHeight->setValue(int(double(_ih) * p / 100.0));
    });
    connect(checkBoxAspect, &QCheckBox::toggled, this, &DialogKXOResize::aspectChanged);
    connect(checkBoxDDA, &QCheckBox::toggled, this, [this](bool on) {
        _ddascale = on ? 1 : 0;
        if (on) checkBoxAspect->setChecked(true);
        checkBoxAspect->setEnabled(!on);
    });
}

void DialogKXOResize::aspectChanged(bool on) {
    numericPercent->setEnabled(on);
    for (QWidget* w : {static_cast<QWidget*>(newWidth), static_cast<QWidget*>(newHeight), static_cast<QWidget*>(oldWidth),
                       static_cast<QWidget*>(oldHeight)})
        w->setEnabled(!on);
    if (on) {
        numericPercent->setValue(100);
        newWidth->setValue(_iw);
        newHeight->setValue(_ih);
    }
}

void DialogKXOResize::Prepare(int w, int h) {
    OpenFrame(nullptr, QString());
    _iw = _ew = w;
    _ih = _eh = h;
    _ddascale = 0;
    oldWidth->setText(QString::number(w));
    oldHeight->setText(QString::number(h));
    checkBoxDDA->setChecked(false);
    checkBoxAspect->setEnabled(true);
    checkBoxAspect->setChecked(true);
    aspectChanged(true);
    Ready();
}

void DialogKXOResize::Confirm() {
    _ew = newWidth->value();
    _eh = newHeight->value();
}

kxdlg::Plan DialogKXOResize::Steps() const {
    if (_ew == _iw && _eh == _ih) return {};
    if (_ddascale) {
        const float factor = _ew == _iw ? 1.0f : float(_ew) / float(_iw);
        return {{KXOP_RESIZEDDA, {{"ZOOM_FACTOR", kxdlg::Real(factor)}}}};
    }
    return {{KXOP_RESIZE, {{"NEW_WIDTH", kxown::Int(_ew)}, {"NEW_HEIGHT", kxown::Int(_eh)}}}};
}

// ---- Free rotation ---------------------------------------------------------------

DialogKXORotateFree::DialogKXORotateFree(KXClass* l, QWidget* parent) : DialogKXOFrame(l, parent) {
    setWindowTitle(QStringLiteral("Rotate Freely"));
    auto* form = new QVBoxLayout;
    form->addWidget(Label("widthLabel", QStringLiteral("Angle [deg]:")));
    newWidth = Spin("newWidth", 0, 360, 0);
    form->addWidget(newWidth);
    checkBoxKeepSize = Check("checkBoxKeepSize", QStringLiteral("Keep size"));
    form->addWidget(checkBoxKeepSize);
    form->addStretch(1);
    ArrangeWithPreview(form);
    Follow(newWidth, _deg);
    Follow(checkBoxKeepSize, _keep);
}

void DialogKXORotateFree::Prepare(KX_GfxBuffer* source, const QString& pdir, bool mustKeepSize) {
    _deg = 0;
    _keep = mustKeepSize ? 1 : 0;
    checkBoxKeepSize->setChecked(mustKeepSize);
    checkBoxKeepSize->setEnabled(!mustKeepSize);
    OpenFrame(source, pdir);
    newWidth->setValue(0);
    Ready();
}

kxdlg::Plan DialogKXORotateFree::Steps() const {
    kxdlg::Step s{KXOP_ROTATEFREE, {{"ROTATE_ANGLE", kxown::Int(_deg)}}};
    if (_keep) s.keys.emplace_back("KEEPSIZE", "0");
    return {s};
}

// ---- Tiling -------------------------------------------------------------------

DialogKXOTiling::DialogKXOTiling(KXClass* l, QWidget* parent) : DialogKXOFrame(l, parent) {
    setWindowTitle(QStringLiteral("Tiling Effect"));
    auto* form = new QVBoxLayout;
    form->addWidget(Label("label3", QStringLiteral("Tile Size")));
    numericXOR = Spin("numericXOR", 1, 255, 1);
    form->addWidget(numericXOR);
    QLabel* notes[] = {Label("label1", QStringLiteral("Note: there is also")),
                       Label("label2", QStringLiteral("a random component"))};
    for (QLabel* n : notes) {
        QFont f = n->font();
        f.setItalic(true);
        n->setFont(f);
        form->addWidget(n);
    }
    form->addStretch(1);
    ArrangeWithPreview(form);
    Follow(numericXOR, _p1);
}

void DialogKXOTiling::Prepare(KX_GfxBuffer* source, const QString& pdir) {
    // The first preview runs with 0, which the operator takes as 1.
    _p1 = 0;
    OpenFrame(source, pdir);
    Ready();
}

void DialogKXOTiling::Confirm() { _p1 = numericXOR->value(); }

kxdlg::Plan DialogKXOTiling::Steps() const { return {{KXOP_TILING, {{"TILESIZE", kxown::Int(_p1)}}}}; }
