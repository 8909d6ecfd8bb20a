// DialogConvolve: the convolution dialogs (3 x 3 with whole or real
// numbers, 5 x 5, 7 x 7, 9 x 9) with their matrix files, and the sharpen
// dialog. A matrix file is a control pad of MATRIX_SIZE (the larger
// matrices), MATRIX_LINE1 ... MATRIX_LINEn, DIVIDE_EQUAL and ADD_EQUAL, read
// from the archive settings directory's sub-folder of the operator and
// saved into the same sub-folder of the settings directory.
#pragma once

#include <QString>

#include "DialogFrame.h"

class QCheckBox;
class QDoubleSpinBox;
class QLabel;

class DialogKXOConvolveMatrix : public DialogKXOFrame {
    Q_OBJECT
public:
    // Fills the fields (n x n coefficients in row-major order, divisor and
    // offset) and draws the first preview; area: an area is selected (no
    // border adjustment then).
    void Prepare(KX_GfxBuffer* source, const QString& pdir, const QString& edir, const QString& erdir, bool area,
                 const std::vector<double>& matrix, double div, double add);
    // Optional border, the convolution, the border stripped again.
    kxdlg::Plan Steps() const override;

    // Loads a matrix file (what "Load" does after its file dialog); false
    // when the file is refused.
    bool LoadMatrix(const QString& path);
    // Saves the matrix as name into the settings directory's sub-folder
    // (what "Save" does after its file dialog); false on failure, which a
    // box reports.
    bool SaveMatrix(const QString& name);
    // The sub-folder of this dialog's matrix files.
    QString SubFolder() const;
    int Size() const { return n; }
    bool RealMode() const { return _flag != 0; }

    int _adjbor = 0;
    int _p[81] = {};      // coefficients, row-major
    int _div = 1, _add = 0;
    float _pf[9] = {};    // the 3 x 3 real mode's
    float _divf = 1, _addf = 0;
    int _flag = 0;        // real mode
    QDoubleSpinBox* numericUpDown[81] = {};
    QDoubleSpinBox *numericDiv, *numericAdd;
    QCheckBox* checkBoxAdjustBorder;
    QLabel* labelMatrixName;
    QPushButton *buttonLoad, *buttonSave;

protected:
    DialogKXOConvolveMatrix(KXClass* lib, UiServices* ui, QWidget* parent, int n, bool real);
    kxdlg::Plan PreviewSteps() const override;
    void Confirm() override;

private:
    void valuesChanged();
    void sync();
    kxdlg::Step convolution() const;
    kxdlg::Plan plan(bool border) const;
    uint32_t op() const;
    UiServices* ui;
    int n;
    bool area = false;
    QString envdir, envarcdir;
};

// "Convolution Matrix 3x3"; real numbers with the mode flag.
class DialogKXOConvolve : public DialogKXOConvolveMatrix {
    Q_OBJECT
public:
    DialogKXOConvolve(KXClass* lib, UiServices* ui, bool real, QWidget* parent = nullptr);
};

class DialogKXOConvolve5x5 : public DialogKXOConvolveMatrix {
    Q_OBJECT
public:
    DialogKXOConvolve5x5(KXClass* lib, UiServices* ui, QWidget* parent = nullptr);
};

class DialogKXOConvolve7x7 : public DialogKXOConvolveMatrix {
    Q_OBJECT
public:
    DialogKXOConvolve7x7(KXClass* lib, UiServices* ui, QWidget* parent = nullptr);
};

class DialogKXOConvolve9x9 : public DialogKXOConvolveMatrix {
    Q_OBJECT
public:
    DialogKXOConvolve9x9(KXClass* lib, UiServices* ui, QWidget* parent = nullptr);
};

// "Sharpen": SHARPNESS 7 ... 15; no preview.
class DialogKXOSharpen : public DialogKXOFrame {
    Q_OBJECT
public:
    explicit DialogKXOSharpen(KXClass* lib = nullptr, QWidget* parent = nullptr);
    kxdlg::Plan Steps() const override;

    int _sh = 11;
    QSpinBox* newWidth;

protected:
    void Confirm() override;
};
