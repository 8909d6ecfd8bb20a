// DialogResizeRotateTiling: the size dialog (no preview; Resize, or the
// pixel-repeating ResizeDDA), free rotation and the tiling effect.
#pragma once

#include "DialogFrame.h"

class QCheckBox;
class QLabel;

// "Resize": a new size by fields or by percent.
class DialogKXOResize : public DialogKXOFrame {
    Q_OBJECT
public:
    explicit DialogKXOResize(KXClass* lib = nullptr, QWidget* parent = nullptr);
    void Prepare(int w, int h);
    // Nothing when the size stays; ResizeDDA with ZOOM_FACTOR, else Resize.
    kxdlg::Plan Steps() const override;

    int _iw = 0, _ih = 0, _ew = 0, _eh = 0, _ddascale = 0;
    QSpinBox *newWidth, *newHeight, *numericPercent;
    QPushButton *oldWidth, *oldHeight;
    QCheckBox *checkBoxAspect, *checkBoxDDA;

protected:
    void Confirm() override;

private:
    void aspectChanged(bool on);
};

// "Rotate Freely": ROTATE_ANGLE, KEEPSIZE.
class DialogKXORotateFree : public DialogKXOFrame {
    Q_OBJECT
public:
    explicit DialogKXORotateFree(KXClass* lib = nullptr, QWidget* parent = nullptr);
    void Prepare(KX_GfxBuffer* source, const QString& pdir, bool mustKeepSize);
    kxdlg::Plan Steps() const override;

    int _deg = 0, _keep = 0;
    QSpinBox* newWidth;
    QCheckBox* checkBoxKeepSize;
};

// "Tiling Effect": TILESIZE.
class DialogKXOTiling : public DialogKXOFrame {
    Q_OBJECT
public:
    explicit DialogKXOTiling(KXClass* lib = nullptr, QWidget* parent = nullptr);
    void Prepare(KX_GfxBuffer* source, const QString& pdir);
    kxdlg::Plan Steps() const override;

    int _p1 = 0;
    QSpinBox* numericXOR;

protected:
    void Confirm() override;
};
