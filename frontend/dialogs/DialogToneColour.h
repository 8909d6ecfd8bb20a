// DialogToneColour: the tone and colour dialogs, each with its preview:
// XOr, brightness, contrast, gamma, antique, grey extraction and the grey
// tablet (a colour range kept, the rest turned grey).
#pragma once

#include "DialogFrame.h"

class QCheckBox;
class QDoubleSpinBox;
class QSpinBox;

// "XOr Transformation": XORVALUE (XORVALUE16 on a 48-bit picture).
class DialogKXOXor : public DialogKXOFrame {
    Q_OBJECT
public:
    explicit DialogKXOXor(KXClass* lib = nullptr, QWidget* parent = nullptr);
    void Prepare(KX_GfxBuffer* source, const QString& pdir);
    kxdlg::Plan Steps() const override;

    int _p1 = 0;
    QSpinBox* numericXOR;

private:
    bool deep = false;  // the picture handed over has 48 bits
};

// "Adjust Brightness" and "Adjust Contrast": four buttons step the value.
class DialogKXOStepped : public DialogKXOFrame {
    Q_OBJECT
public:
    void Prepare(KX_GfxBuffer* source, const QString& pdir);

    QPushButton *buttonMinusMinus, *buttonMinus, *buttonPlus, *buttonPlusPlus;

protected:
    DialogKXOStepped(KXClass* lib, QWidget* parent, const QString& title, int start);
    int value;
    const int start;
};

class DialogKXOBrightness : public DialogKXOStepped {
    Q_OBJECT
public:
    explicit DialogKXOBrightness(KXClass* lib = nullptr, QWidget* parent = nullptr);
    kxdlg::Plan Steps() const override;
    int& _rgb = value;
};

class DialogKXOContrast : public DialogKXOStepped {
    Q_OBJECT
public:
    explicit DialogKXOContrast(KXClass* lib = nullptr, QWidget* parent = nullptr);
    kxdlg::Plan Steps() const override;
    int& _percent = value;
};

// "Gamma Correction": RED_GAMMA, GREEN_GAMMA, BLUE_GAMMA.
class DialogKXOGamma : public DialogKXOFrame {
    Q_OBJECT
public:
    explicit DialogKXOGamma(KXClass* lib = nullptr, QWidget* parent = nullptr);
    void Prepare(KX_GfxBuffer* source, const QString& pdir);
    kxdlg::Plan Steps() const override;

    float _pf1 = 0.5f, _pf2 = 0.5f, _pf3 = 0.5f;
    QDoubleSpinBox *numericRed, *numericGreen, *numericBlue;
};

// "Antique": COLORDEPTH and MODE.
class DialogKXOAntique : public DialogKXOFrame {
    Q_OBJECT
public:
    explicit DialogKXOAntique(KXClass* lib = nullptr, QWidget* parent = nullptr);
    void Prepare(KX_GfxBuffer* source, const QString& pdir);
    kxdlg::Plan Steps() const override;

    int _depth = 8, _mode = 1;
    QSpinBox *numericDepth, *numericMode;

protected:
    void Confirm() override;
};

// "Extract Gray": COLORDEPTH, QUICK, SORTED8BIT.
class DialogKXOExtractGray : public DialogKXOFrame {
    Q_OBJECT
public:
    explicit DialogKXOExtractGray(KXClass* lib = nullptr, QWidget* parent = nullptr);
    void Prepare(KX_GfxBuffer* source, const QString& pdir);
    kxdlg::Plan Steps() const override;

    int _depth = 8, _quick = 0, _sorted = 0;
    QSpinBox* numericDepth;
    QCheckBox *checkBoxQuick, *checkBoxDesc, *checkBoxSorted;
};

// "Gray Tablet": the twelve borders of the kept and the excluded range.
class DialogKXOGrayTablet : public DialogKXOFrame {
    Q_OBJECT
public:
    explicit DialogKXOGrayTablet(KXClass* lib = nullptr, QWidget* parent = nullptr);
    void Prepare(KX_GfxBuffer* source, const QString& pdir);
    kxdlg::Plan Steps() const override;

    // [0] upper and [1] lower border of the kept range, [2] upper and [3]
    // lower border of the excluded one; red, green, blue.
    int levels[4][3] = {{255, 255, 255}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
    QSpinBox* num[4][3];  // numRed1 ... numBlue4
    QPushButton *buttonExclude, *buttonInclude;

private:
    void changed();
    bool correcting = false;
};
