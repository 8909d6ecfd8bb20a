// DialogAlphaChannel: adding an alpha map, blending a second picture in
// (and its watermark form) and setting one colour channel, each with its
// preview.
#pragma once

#include <memory>

#include "DialogFrame.h"

class QCheckBox;
class QComboBox;
class QLabel;

// "Add Alpha": ALPHA_MODE "ALL" (index 0) or "VALUE" (index 1) with the
// picked colour, ALPHA_VALUE8.
class DialogKXOAddAlpha : public DialogKXOFrame {
    Q_OBJECT
public:
    DialogKXOAddAlpha(KXClass* lib, UiServices* ui, QWidget* parent = nullptr);
    void Prepare(KX_GfxBuffer* source, const QString& pdir);
    kxdlg::Plan Steps() const override;
    // "%03ld, %03ld, %03ld (#%02lx, #%02lx, #%02lx)" of a colour 0xRRGGBB.
    static QString ColourText(uint32_t rgb);

    int _addmode = 1;
    uint32_t _color = 0;
    int _value = 255;
    QComboBox* comboAddMode;
    QPushButton* buttonPixel;
    QLabel* labelPixelValue;
    QSpinBox* numericTransparency;
    QCheckBox* checkBoxTransShow;

protected:
    kxdlg::Plan PreviewSteps() const override;
    bool PreviewAlpha() const override;

private:
    UiServices* ui;
};

// "Set/Reset Channel": MODE "RED", "GREEN" or "BLUE", CHANNEL_VALUE.
class DialogKXOResetChannel : public DialogKXOFrame {
    Q_OBJECT
public:
    explicit DialogKXOResetChannel(KXClass* lib = nullptr, QWidget* parent = nullptr);
    void Prepare(KX_GfxBuffer* source, const QString& pdir);
    kxdlg::Plan Steps() const override;

    int _resetmode = 1, _resetval = 0;
    QSpinBox *numericMode, *numericValue;
};

// "Alpha Blending (Source + Blend => Result)": in blend mode AddAlpha (a
// uniform alpha, when chosen) and AlphaBlend with the loaded picture; in
// watermark mode always both, the blend weighted by the source's new alpha.
class DialogKXOAlphaBlend : public DialogKXOFrame {
    Q_OBJECT
public:
    DialogKXOAlphaBlend(KXClass* lib, UiServices* ui, QWidget* parent = nullptr);
    ~DialogKXOAlphaBlend() override;
    void Prepare(KX_GfxBuffer* source, const QString& pdir, const QString& loaddir, const QString& userdir);
    void PrepareA(KX_GfxBuffer* source, const QString& pdir, const QString& loaddir, const QString& userdir);
    kxdlg::Plan Steps() const override;
    // The blend picture (what "Load Image..." does after the file dialog).
    void LoadBlend(const QString& path);

    QString _loadname;
    int _sourcealpha = 1, _useralpha = 127, _userblend = 0;
    QLabel *labelRef, *labelFileName, *labelReference, *labelStatus, *labelOpacity;
    QPushButton* button1;
    PictureBox *pictureBoxSource, *pictureBoxReference;
    QCheckBox *checkBoxSourceAlpha, *checkBoxBlendAlpha, *checkBoxUserAlpha;
    QSpinBox* numericTransparency;

protected:
    kxdlg::Plan PreviewSteps() const override;
    void PreviewShown(uint32_t err) override;

private:
    void open(KX_GfxBuffer* source, const QString& pdir, const QString& loaddir, const QString& userdir, bool watermark);
    void pairChanged(QCheckBox* box, bool on);
    UiServices* ui;
    bool watermark = false;
    bool loaded = false;
    bool pairing = false;
    QString loaddir, userdir;
    std::unique_ptr<KXClass> _KXClass2;  // the dialog's own readers
};
