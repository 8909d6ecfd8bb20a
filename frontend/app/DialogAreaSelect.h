// DialogAreaSelect: choosing the area of a picture that the following
// operators work on. The user narrows the picture by four margins (fields,
// reset buttons, or dragging a frame in the crop preview); the crop preview
// and the overview with its red frame follow every change. On OK the
// dialog hands back the rectangle and the cut-out area (made by a Crop of
// its own); the caller owns that buffer then.
#pragma once

#include <QDialog>
#include <QImage>
#include <QRect>

#include "core/kxlib.h"

class PictureBox;
class QLabel;
class QPushButton;
class QRubberBand;
class QSpinBox;

class DialogAreaSelect : public QDialog {
    Q_OBJECT
public:
    explicit DialogAreaSelect(KXClass* lib, QWidget* parent = nullptr);
    ~DialogAreaSelect() override;

    // Prepares the dialog for image (not owned) and shows it modally;
    // afterwards the caller reads _exit, numL to numH and TakeResult.
    int ShowDialogP(KX_GfxBuffer* image);
    // The preparation alone (tests drive the dialog then).
    void Prepare(KX_GfxBuffer* image);
    // The cut-out area handed over on OK (the caller owns it), or null.
    KX_GfxBuffer* TakeResult();

    // Draws the three-pixel red frame around r (picture-box pixels) into
    // image, as the thumbnail and the overview show an area.
    static void DrawFrame(QImage& image, const QRect& r);

    bool _exit = true;  // 1 until OK is pressed
    long numL = 0, numT = 0, numW = 0, numH = 0;

    PictureBox* pictureBoxPreview;  // the crop preview (348 x 343, stretched)
    PictureBox* pictureBoxFull;     // the overview (154 x 137, stretched)
    QSpinBox *numericUpDownL, *numericUpDownT, *numericUpDownW, *numericUpDownH;
    QPushButton *buttonL, *buttonT, *buttonW, *buttonH, *buttonAll, *buttonToggle, *buttonOK, *buttonCancel;
    QLabel *labelArea, *labelSize, *labelCropSize, *labelMousePos, *labelAreaPos;

private:
    void marginChanged();
    void cropPreview();
    void overview();
    void overviewFrame();
    void mouseDown(const QPoint& p);
    void mouseMove(const QPoint& p);
    void mouseUp(const QPoint& p);
    void accepted();
    QImage bitmapOf(KX_GfxBuffer* buffer) const;
    long W() const;
    long H() const;

    KXClass* lib;
    KX_GfxBuffer* gfxb = nullptr;
    KX_GfxBuffer* resgfxb = nullptr;
    bool chkval = true, initimg = false, finalcrop = false, show_ = false;
    bool start = false, drag = false;
    long newx = 0, newy = 0;
    int x0 = 0, y0 = 0;
    QImage overviewImage;
    QRubberBand* band = nullptr;
};
