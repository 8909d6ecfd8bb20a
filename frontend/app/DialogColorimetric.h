// DialogColorimetric: the colorimetry dialog. The user describes the
// picture's colour space by a file gamma, a white point and three
// primaries (each x, y, Y), or picks one of four stock profiles to compare
// in the preview, and either converts the pixels to sRGB ("Apply") or
// attaches the described profile ("Add ICC Profile"). The dialog only
// collects the choice; the main window changes the picture. The preview
// runs operators of its own on a scaled copy and never touches the
// caller's buffer.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>

#include "core/kxlib.h"

class PictureBox;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QPushButton;
class UiServices;

class DialogColorimetric : public QDialog {
    Q_OBJECT
public:
    // The stock profiles of the mode list (index 1..4), in the program's
    // "Resources/ICCP/" folder.
    static const char* const kStockProfiles[4];

    DialogColorimetric(KXClass* lib, UiServices* ui, QWidget* parent = nullptr);
    ~DialogColorimetric() override;

    // Sets the dialog up for buffer and its metadata record (either may be
    // null): the results are reset, "Apply original ICC Profile" is offered
    // only when the record has profile data, and the preview is drawn.
    // allowApply false disables "Apply", so that only "Add ICC Profile" or
    // "Cancel" can end the dialog.
    void Prepare(KX_GfxBuffer* buffer, const KXOSpecialInfo* record, const QString& progdir, bool allowApply = true);

    // Results.
    bool _exit = true;       // cancelled
    bool _icc = false;       // "Add ICC Profile" chosen
    bool _applyiccp = true;  // apply the picture's own profile first
    double _ig = 2.2;        // the file gamma (the profile's curve is 1 / _ig)
    double _wpx = 0.3127, _wpy = 0.329, _wpy2 = 1.0;
    double _rpx = 0.64, _rpy = 0.33, _rpy2 = 1.0;
    double _gpx = 0.3, _gpy = 0.6, _gpy2 = 1.0;
    double _bpx = 0.15, _bpy = 0.06, _bpy2 = 1.0;

    // Builds the profile the number fields describe (an AllocVec block the
    // caller frees with FreeVec).
    uint32_t BuildProfile(uint8_t** profile, uint32_t* size) const;
    // Reads a stock profile file whole; on failure the box "Error loading
    // ICC profile!" is shown and the result is null.
    uint8_t* LoadStockProfile(const QString& path, uint32_t* size);

    // Copies the thirteen values and the check box from the controls.
    void ReadFields();
    // Draws the preview (only once the dialog is set up).
    void DrawPreview();

    QDoubleSpinBox *numInvGam, *numWPx, *numWPy, *numWPy_, *numRPx, *numRPy, *numRPy_, *numGPx, *numGPy, *numGPy_,
        *numBPx, *numBPy, *numBPy_;
    QCheckBox* checkBoxICCP;
    QComboBox* comboBoxMode;
    PictureBox* pictureBoxPreview;
    QPushButton *buttonApply, *buttonAddICC, *buttonCancel;

private:
    void modeChanged();
    void finish(bool icc);

    KXClass* lib;
    UiServices* ui;
    KX_GfxBuffer* gfxb = nullptr;
    const KXOSpecialInfo* kxi = nullptr;
    KX_GfxBuffer* scaled = nullptr;  // the preview's 24- or 48-bit copy, made once
    QString progdir;
    int initimg = 0;
};
