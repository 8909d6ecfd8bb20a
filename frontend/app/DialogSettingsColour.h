// DialogCPColor: picks a colour from a picture. The picture, reduced to the
// preview box by a Resize of the dialog's own library object, is shown; a
// click selects the picture's pixel under it, whose colour, palette index
// and opacity are read from the picture itself (a bit-plane picture from a
// chunky copy). Prepared for picking it returns the colour; prepared for
// browsing it only shows ("Done" instead of "OK"/"Cancel"). Callers show it
// through their modal seam.
#pragma once

#include <QDialog>
#include <memory>

#include "DialogKXList.h"

class KXClass;
class QLabel;
class QPushButton;
class QWidget;
struct KX_GfxBuffer;

class DialogCPColor : public QDialog {
    Q_OBJECT
public:
    DialogCPColor(const KXBrowserDirs& dirs, QWidget* parent = nullptr);
    ~DialogCPColor() override;

    // image is not owned; browse: the browsing mode.
    void Prepare(KX_GfxBuffer* image, bool browse);

    // Selects the picture's pixel under position p of the preview box.
    void ClickAt(const QPoint& p);
    // Selects a pixel of the picture (clamped to it) and reads it.
    void SelectPixel(long x, long y);

    int _exit = 1;
    long _R = 0, _G = 0, _B = 0, _A = 255, _I = -1;
    long pixelX = 0, pixelY = 0;

    QWidget* pictureBoxPreview;
    QLabel *labelPixel, *labelRGB, *labelIndex, *labelOpacity;
    QPushButton *buttonOK, *buttonCancel;

    static constexpr int kBoxWidth = 320, kBoxHeight = 240;

private:
    void release();
    std::unique_ptr<KXClass> lib;
    KXBrowserDirs dirs;
    const KX_GfxBuffer* picture = nullptr;  // what pixels are read from
    KX_GfxBuffer* chunky = nullptr;         // owned chunky copy of a bit-plane picture
};
