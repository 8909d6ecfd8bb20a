// DialogDither: dithering to a computed or a fixed palette, and to the
// palette of a reference picture, each with its preview.
#pragma once

#include <memory>

#include "DialogFrame.h"

class QComboBox;
class QLabel;

// "Dithering Settings": Dither24Bit ("Best") or DitherFix24 ("Fixed") with
// COLORDEPTH and DITHERMODE.
class DialogKXODither : public DialogKXOFrame {
    Q_OBJECT
public:
    explicit DialogKXODither(KXClass* lib = nullptr, QWidget* parent = nullptr);
    void Prepare(KX_GfxBuffer* source, const QString& pdir);
    kxdlg::Plan Steps() const override;

    int _palmode = 0, _dithmode = 0, _depth = 8;
    QComboBox *comboPalMode, *comboDithMode;
    QSpinBox* palDepth;

private:
    void fillModes();
};

// "Dither to Reference Image (Palette)": PaletteDither with PALETTEFILE,
// PALETTEDEPTH, COLORDEPTH and DITHERMODE.
class DialogKXOPaletteDither : public DialogKXOFrame {
    Q_OBJECT
public:
    DialogKXOPaletteDither(KXClass* lib, UiServices* ui, QWidget* parent = nullptr);
    ~DialogKXOPaletteDither() override;
    void Prepare(KX_GfxBuffer* source, const QString& pdir, const QString& loaddir, const QString& appdir);
    kxdlg::Plan Steps() const override;
    // The reference (what "Load Reference..." does after the file dialog).
    void LoadReference(const QString& path);

    int _dithmode = 0, _depth = 8, _refdepth = 8, _loadsel = 0;
    QString _loadname;
    QSpinBox *palDepth, *refDepth;
    QComboBox* comboDithMode;
    QPushButton* button1;
    QLabel *labelFileName, *labelStatus, *labelReference;
    PictureBox* pictureBoxReference;

protected:
    kxdlg::Plan PreviewSteps() const override;
    void PreviewShown(uint32_t err) override;

private:
    UiServices* ui;
    QString loaddir, appdir;
    std::unique_ptr<KXClass> _KXClass2;  // the dialog's own readers
};
