// DialogPalette: the palette editor. Changes the colours of a picture of up
// to 8 bits and its transparency (one transparent index, or a table of 256
// opacity levels) in the picture's own record, at once; a preview of the
// picture follows every change. AlphaData is an index while AlphaType has
// bit 1 and a table only while bit 4 holds it (the core's one rule): a
// table is made when there is none, and released only when it is one.
#pragma once

#include "DialogFrame.h"

class QCheckBox;
class QLabel;
class QListWidget;

class DialogPalette : public DialogKXOFrame {
    Q_OBJECT
public:
    DialogPalette(KXClass* lib, UiServices* ui, QWidget* parent = nullptr);
    void Prepare(KX_GfxBuffer* record);
    // No operator runs: the editor works on the record itself.
    kxdlg::Plan Steps() const override { return {}; }
    // True when the record differs from what it was when the editor opened.
    bool Changed() const override;
    // Palette entries the picture uses (16 for HAM6, 64 for HAM8).
    int Entries() const { return entries; }
    // "%03ld, %03ld, %03ld (#%02lx, #%02lx, #%02lx)" of palette entry i.
    QString ColourText(int i) const;

    KX_GfxBuffer* _gfxb = nullptr;
    QPushButton* colourButtons[256] = {};
    QCheckBox *checkBoxTransShow, *checkBoxTrans, *checkBoxTransMap, *checkBoxColorDialog, *checkBoxMakeTrans;
    QSpinBox *numericTransColor, *numericTransparency;
    QListWidget* listBoxMT;
    QPushButton *buttonMTPlus, *buttonMTMinus;
    QLabel *labelColorIndex, *labelColorRGB;

protected:
    bool FreshThumbnail() const override { return true; }
    bool PreviewAlpha() const override;

private:
    void colourClicked(int i);
    void singleToggled(bool on);
    void multiToggled(bool on);
    void plus();
    void minus();
    void refreshList();
    void showColour(int i);
    void paintButton(int i);
    void raise();
    uint8_t* table() const;
    // Before the record changes: no preview may be reading it.
    void editing();
    // The fields, list and buttons of the table of opacity levels.
    void tableControls(bool on);

    UiServices* ui;
    int entries = 256;
    bool filling = false;
    QByteArray before;
};
