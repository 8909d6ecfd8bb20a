#include "DialogConvolve.h"

#include <QCheckBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <memory>

#include "UiServices.h"
#include "core/kxopnumbers.h"

namespace {

const QString kFilter = QStringLiteral("Controlpad-Files (*.controlpad)");
const QString kCaption = QStringLiteral("Kaxon5 Error");

const char* lineKey(int r) {
    static const char* const keys[] = {"MATRIX_LINE1", "MATRIX_LINE2", "MATRIX_LINE3", "MATRIX_LINE4", "MATRIX_LINE5",
                                       "MATRIX_LINE6", "MATRIX_LINE7", "MATRIX_LINE8", "MATRIX_LINE9"};
    return keys[r];
}

const char* value(KX_ControlPad* pad, const char* key) {
    char* v = nullptr;
    return KXSUP_FindControlPad(pad, key, &v) && v ? v : nullptr;
}

// Up to count numbers as sscanf's "%ld" (or "%lf") reads them one after
// the other: the first that does not parse ends the line, the rest keep
// what they held.
void numbers(const char* text, double* out, int count, bool real) {
    for (int i = 0; text && i < count; ++i) {
        int used = 0;
        if (real) {
            double v = 0;
            if (std::sscanf(text, "%lf%n", &v, &used) != 1) return;
            out[i] = v;
        } else {
            long v = 0;
            if (std::sscanf(text, "%ld%n", &v, &used) != 1) return;
            out[i] = double(v);
        }
        text += used;
    }
}
}  // namespace

DialogKXOConvolveMatrix::DialogKXOConvolveMatrix(KXClass* l, UiServices* u, QWidget* parent, int size, bool real)
    : DialogKXOFrame(l, parent), ui(u), n(size) {
    _flag = real ? 1 : 0;
    setWindowTitle(QStringLiteral("Convolution Matrix %1x%1").arg(n));
    const int limit = 255 * n * n;
    auto field = [this, real](const QString& name, int range) {
        auto* f = new QDoubleSpinBox(this);
        f->setObjectName(name);
        f->setDecimals(real ? 2 : 0);
        f->setRange(-range, range);
        if (n >= 7) f->setButtonSymbols(QAbstractSpinBox::NoButtons);
        connect(f, &QDoubleSpinBox::valueChanged, this, &DialogKXOConvolveMatrix::valuesChanged);
        return f;
    };
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(3);
    for (int k = 0; k < n * n; ++k) {
        numericUpDown[k] = field(QStringLiteral("numericUpDown%1").arg(k + 1), 255);
        grid->addWidget(numericUpDown[k], k / n, k % n);
    }
    const bool small = n <= 5;
    numericDiv = field(small && n == 3 ? QStringLiteral("numericUpDown10") : QStringLiteral("numericUpDownDiv"), limit);
    numericAdd = field(small && n == 3 ? QStringLiteral("numericUpDown11") : QStringLiteral("numericUpDownAdd"), limit);
    auto* sums = new QFormLayout;
    sums->addRow(new QLabel(small ? QStringLiteral("Div Equ.") : QStringLiteral("Div Equal"), this), numericDiv);
    sums->addRow(new QLabel(small ? QStringLiteral("Add Equ.") : QStringLiteral("Add Equal"), this), numericAdd);
    checkBoxAdjustBorder = Check("checkBoxAdjustBorder", QStringLiteral("Adjust Border"));
    labelMatrixName = Label("labelMatrixName", QStringLiteral("No matrix loaded."));
    buttonLoad = Button("buttonLoad", QStringLiteral("Load"));
    buttonSave = Button("buttonSave", QStringLiteral("Save"));
    auto* files = new QHBoxLayout;
    files->addWidget(buttonLoad);
    files->addWidget(buttonSave);
    files->addStretch(1);

    auto* form = new QVBoxLayout;
    form->addWidget(new QLabel(QStringLiteral("Matrix"), this));
    form->addLayout(grid);
    form->addLayout(sums);
    form->addWidget(checkBoxAdjustBorder);
    form->addWidget(labelMatrixName);
    form->addLayout(files);
    form->addStretch(1);
    MakePreviewBox(191, 166);
    Arrange(form, MakeButtons(false));

    Follow(checkBoxAdjustBorder, _adjbor);
    connect(buttonLoad, &QPushButton::clicked, this, [this] {
        const QString path = ui ? ui->OpenFileName(this, envarcdir + SubFolder(), QString(), kFilter) : QString();
        if (!path.isEmpty()) LoadMatrix(path);
    });
    connect(buttonSave, &QPushButton::clicked, this, [this] {
        const QString path = ui ? ui->SaveFileName(this, envarcdir + SubFolder(), QString(), kFilter) : QString();
        if (!path.isEmpty()) SaveMatrix(QFileInfo(path).fileName());
    });
}

QString DialogKXOConvolveMatrix::SubFolder() const {
    return n > 3 ? QStringLiteral("ConvolveNxN") : _flag ? QStringLiteral("ConvolveFloat") : QStringLiteral("Convolve");
}

uint32_t DialogKXOConvolveMatrix::op() const { return n > 3 ? KXOP_CONVOLVENXN : _flag ? KXOP_CONVOLVEFLOAT : KXOP_CONVOLVE; }

void DialogKXOConvolveMatrix::Prepare(KX_GfxBuffer* source, const QString& pdir, const QString& edir,
                                      const QString& erdir, bool inArea, const std::vector<double>& matrix, double div,
                                      double add) {
    OpenFrame(source, pdir);
    _adjbor = 0;
    area = inArea;
    envdir = edir;
    envarcdir = erdir;
    checkBoxAdjustBorder->setChecked(false);
    checkBoxAdjustBorder->setEnabled(!inArea);
    for (int k = 0; k < n * n; ++k) numericUpDown[k]->setValue(k < int(matrix.size()) ? matrix[size_t(k)] : 1.0);
    numericDiv->setValue(div);
    numericAdd->setValue(add);
    sync();
    Ready();
    labelMatrixName->setText(QStringLiteral("No matrix loaded."));
}

// The fields into the public values (whole numbers by truncation).
void DialogKXOConvolveMatrix::sync() {
    for (int k = 0; k < n * n; ++k) {
        _p[k] = int(numericUpDown[k]->value());
        if (k < 9) _pf[k] = float(numericUpDown[k]->value());
    }
    _div = int(numericDiv->value());
    _add = int(numericAdd->value());
    _divf = float(numericDiv->value());
    _addf = float(numericAdd->value());
}

void DialogKXOConvolveMatrix::valuesChanged() {
    if (!initimg) return;
    sync();
    UpdatePreview();
    labelMatrixName->setText(QStringLiteral("Unnamed, modified matrix."));
}

void DialogKXOConvolveMatrix::Confirm() { sync(); }

kxdlg::Step DialogKXOConvolveMatrix::convolution() const {
    const bool real = _flag != 0;
    kxdlg::Step s{op(), {}};
    if (n > 3) s.keys.emplace_back("MATRIX_SIZE", QByteArray::number(n) + "x" + QByteArray::number(n));
    for (int r = 0; r < n; ++r) {
        QByteArray line;
        for (int c = 0; c < n; ++c) {
            if (c) line += ' ';
            line += real ? kxdlg::Real(_pf[r * n + c]) : kxown::Int(_p[r * n + c]);
        }
        s.keys.emplace_back(lineKey(r), line);
    }
    s.keys.emplace_back("DIVIDE_EQUAL", real ? kxdlg::Real(_divf) : kxown::Int(_div));
    s.keys.emplace_back("ADD_EQUAL", real ? kxdlg::Real(_addf) : kxown::Int(_add));
    return s;
}

kxdlg::Plan DialogKXOConvolveMatrix::plan(bool border) const {
    kxdlg::Plan p;
    int bordered = -1;
    if (border) {
        const QByteArray w = kxown::Int(n / 2);
        kxdlg::Step b{KXOP_ADDBORDER, {{"LEFT_WIDTH", w}, {"RIGHT_WIDTH", w}, {"TOP_WIDTH", w}, {"BOTTOM_WIDTH", w}}};
        b.mayFail = true;
        b.previewAt = 24;  // the preview frames only a 24-bit copy
        bordered = int(p.size());
        p.push_back(b);
    }
    p.push_back(convolution());
    if (border) {
        kxdlg::Step strip{KXOP_AUTOBORDER, {}, false};
        strip.after = bordered;
        p.push_back(strip);
    }
    return p;
}

kxdlg::Plan DialogKXOConvolveMatrix::Steps() const { return plan(_adjbor && !area); }

kxdlg::Plan DialogKXOConvolveMatrix::PreviewSteps() const {
    kxdlg::Step to24{KXOP_ANYTO24BIT, {}, false};
    to24.previewBelow = 24;
    kxdlg::Plan p{to24};
    for (kxdlg::Step& s : plan(checkBoxAdjustBorder->isChecked())) p.push_back(s);
    // The steps after the conversion count from 1.
    for (size_t i = 1; i < p.size(); ++i)
        if (p[i].after >= 0) p[i].after++;
    return p;
}

bool DialogKXOConvolveMatrix::LoadMatrix(const QString& path) {
    Quiesce();  // the control-pad reader runs on this thread
    KX_ControlPad* pad = nullptr;
    const QByteArray name = QFile::encodeName(path);
    if (!KXSUP_LoadControlPad(name.constData(), &pad) || !pad) return false;
    std::unique_ptr<KX_ControlPad, int (*)(KX_ControlPad*)> owned(pad, KXSUP_FreeControlPad);
    const bool real = _flag != 0;
    int size = 3;
    if (n > 3) {
        const char* s = nullptr;
        char* found = nullptr;
        if (KXSUP_FindControlPad(pad, "MATRIX_SIZE", &found)) s = found;
        size = !s ? 5 : !strcasecmp(s, "5x5") ? 5 : !strcasecmp(s, "7x7") ? 7 : 9;
        if (size != n) {
            if (ui) ui->Message(this, kCaption, QStringLiteral("Matrix size must be %1x%1").arg(n), UiServices::Icon::Critical);
            return false;
        }
    }
    std::vector<double> m(size_t(n * n), 1.0);
    double div = 1, add = 0;
    for (int r = 0; r < n; ++r) numbers(value(pad, lineKey(r)), m.data() + r * n, n, real);
    numbers(value(pad, "DIVIDE_EQUAL"), &div, 1, real);
    numbers(value(pad, "ADD_EQUAL"), &add, 1, real);
    if (n > 3 && div == 0) div = 1;
    // A value the fields cannot hold would be changed silently: the file
    // is refused instead.
    const double limit = 255.0 * n * n;
    bool fits = std::isfinite(div) && std::isfinite(add) && std::fabs(div) <= limit && std::fabs(add) <= limit;
    for (double v : m) fits = fits && std::isfinite(v) && std::fabs(v) <= 255.0;
    if (!fits) {
        if (ui)
            ui->Message(this, kCaption, QStringLiteral("The matrix file holds values outside the fields' ranges."),
                        UiServices::Icon::Critical);
        return false;
    }
    initimg = false;
    for (int k = 0; k < n * n; ++k) numericUpDown[k]->setValue(m[size_t(k)]);
    numericDiv->setValue(div);
    numericAdd->setValue(add);
    sync();
    initimg = true;
    UpdatePreview();
    QString shown = QFileInfo(path).fileName();
    if (shown.endsWith(QLatin1String(".controlpad"))) shown.chop(11);
    labelMatrixName->setText(shown);
    return true;
}

bool DialogKXOConvolveMatrix::SaveMatrix(const QString& fileName) {
    Quiesce();
    QString name = fileName;
    if (!name.endsWith(QLatin1String(".controlpad"))) name += QStringLiteral(".controlpad");
    const QString folder = envdir + SubFolder();
    bool saved = false;
    // The sub-folder may not exist yet in the user's settings directory.
    if (QDir().mkpath(folder) && lib && kxpAction) {
        KXOperator* table = kxpAction[op()];
        uint32_t err = 0;
        KXConfig list(table && table->PadPath ? table->PadPath : "", &err);
        if (!err) {
            for (const auto& [key, text] : convolution().keys) list.SetValue(key.constData(), text.constData());
            const QByteArray relative = QFile::encodeName(SubFolder() + QLatin1Char('/') + name);
            saved = list.SavePadAs(lib, relative.constData()) == 1;
        }
    }
    if (!saved) {
        if (ui)
            ui->Message(this, kCaption, QStringLiteral("The matrix could not be saved as %1.").arg(folder + QLatin1Char('/') + name),
                        UiServices::Icon::Critical);
        return false;
    }
    name.chop(11);
    labelMatrixName->setText(name);
    return true;
}

DialogKXOConvolve::DialogKXOConvolve(KXClass* l, UiServices* u, bool real, QWidget* parent)
    : DialogKXOConvolveMatrix(l, u, parent, 3, real) {}
DialogKXOConvolve5x5::DialogKXOConvolve5x5(KXClass* l, UiServices* u, QWidget* parent)
    : DialogKXOConvolveMatrix(l, u, parent, 5, false) {}
DialogKXOConvolve7x7::DialogKXOConvolve7x7(KXClass* l, UiServices* u, QWidget* parent)
    : DialogKXOConvolveMatrix(l, u, parent, 7, false) {}
DialogKXOConvolve9x9::DialogKXOConvolve9x9(KXClass* l, UiServices* u, QWidget* parent)
    : DialogKXOConvolveMatrix(l, u, parent, 9, false) {}

// ---- Sharpen ------------------------------------------------------------------

DialogKXOSharpen::DialogKXOSharpen(KXClass* l, QWidget* parent) : DialogKXOFrame(l, parent) {
    setWindowTitle(QStringLiteral("Sharpen"));
    _exit = 1;
    auto* form = new QFormLayout;
    newWidth = Spin("newWidth", 7, 15, 11);
    form->addRow(Label("widthLabel", QStringLiteral("Sharpness")), newWidth);
    Arrange(form, MakeButtons(false));
}

void DialogKXOSharpen::Confirm() { _sh = newWidth->value(); }

kxdlg::Plan DialogKXOSharpen::Steps() const { return {{KXOP_SHARPEN, {{"SHARPNESS", kxown::Int(_sh)}}}}; }
