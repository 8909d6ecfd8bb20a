// Main: the area selection: the "Area active" box with the selection
// dialog, the thumbnail's click and its buttons "S" and "T" with the red
// frame, the Edit commands on an area (Mark, Cut, Crop) and the Shaping
// commands that choose their area with the dialog.
#include "Main.h"

#include <QCheckBox>
#include <QPushButton>
#include <cstdio>

#include "DialogAreaSelect.h"
#include "PictureBox.h"
#include "UiServices.h"

void Main::wireArea() {
    connect(checkBoxArea, &QCheckBox::toggled, this, [this](bool on) { areaChanged(on); });
    // A click on the thumbnail always starts a new selection.
    connect(pictureBoxPreview, &PictureBox::clicked, this, [this] {
        if (checkBoxArea->isChecked()) checkBoxArea->setChecked(false);
        checkBoxArea->setChecked(true);
    });
    connect(buttonArea, &QPushButton::clicked, this, [this] {
        UpdatePreview(false);
        areaChanged(checkBoxArea->isChecked());
    });
    connect(buttonToggle, &QPushButton::clicked, this, [this] { areaFrameToggle(); });
}

void Main::areaChanged(bool on) {
    if (!on) {
        buttonArea->setVisible(false);
        buttonToggle->setVisible(false);
        // Frees the buffer; the window hears of it (AreaDropped), which
        // takes the frame off the thumbnail.
        if (app.AreaBuffer) app.DropArea();
        return;
    }
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) {
        checkBoxArea->setChecked(false);
        app.Status(Text("TXT_NO_FILE_LOADED"));
        return;
    }
    // The area road converts results to the image's depth.
    checkBoxAutoConv->setChecked(true);
    QRect r;
    KX_GfxBuffer* cut = selectArea(img, &r);
    if (!cut) {
        checkBoxArea->setChecked(false);
        app.Status(Text("TXT_AREA_SELECT_CANCEL"));
        return;
    }
    app.SetArea(cut, r.x(), r.y(), r.width(), r.height());
    if (r == QRect(0, 0, int(img->Width), int(img->Height))) {
        checkBoxArea->setChecked(false);
        return;
    }
    const QImage& thumb = pictureBoxPreview->image();
    const float sx = float(img->Width) / std::max(1, thumb.width()), sy = float(img->Height) / std::max(1, thumb.height());
    x0 = int(float(app.AreaLeft) / sx);
    y0 = int(float(app.AreaTop) / sy);
    w0 = int(float(app.AreaWidth) / sx);
    h0 = int(float(app.AreaHeight) / sy);
    buttonArea->setVisible(true);
    buttonToggle->setVisible(true);
    areaFrameShown = false;
    areaFrameToggle();
    app.Status(Text("TXT_AREA_SECTION") + " " + std::to_string(app.AreaLeft) + ", " + std::to_string(app.AreaTop) + ", " +
               std::to_string(app.AreaWidth) + ", " + std::to_string(app.AreaHeight));
}

// The selection dialog on img: the cut-out area (the caller owns it) and
// its rectangle, or null when cancelled. Confirmed without a cut-out (its
// crop failed) counts as cancelled: an area that is shown but not there
// would let operators change the whole picture.
KX_GfxBuffer* Main::selectArea(KX_GfxBuffer* img, QRect* rect) {
    DialogAreaSelect dialog(app.Library, this);
    if (areaScript) {
        dialog.Prepare(img);
        areaScript(&dialog);
    } else {
        dialog.ShowDialogP(img);
    }
    KX_GfxBuffer* cut = dialog._exit ? nullptr : dialog.TakeResult();
    if (cut) *rect = QRect(int(dialog.numL), int(dialog.numT), int(dialog.numW), int(dialog.numH));
    return cut;
}

// The red frame on the thumbnail bitmap: on or off.
void Main::areaFrameToggle() {
    areaFrameShown = !areaFrameShown;
    if (!areaFrameShown) {
        UpdatePreview(false);
        return;
    }
    if (checkBoxArea->isChecked() && app.AreaBuffer && app.AreaBuffer->ColorDepth < 24) {
        UpdatePreview(false);
        areaFrameShown = true;
    }
    QImage thumb = pictureBoxPreview->image();
    DialogAreaSelect::DrawFrame(thumb, QRect(x0, y0, w0, h0));
    pictureBoxPreview->setImage(thumb);
}

void Main::cmdMark() {
    checkBoxArea->setChecked(false);
    checkBoxArea->setChecked(true);
}

// Edit > Cut and Edit > Crop: on the area, which is asked for first when
// there is none; the area goes to the clipboard, then the whole picture is
// cut or cropped by its rectangle.
void Main::cmdAreaCommand(bool crop) {
    if (!KX_GetGfxBuffer()) {
        app.Status(Text("TXT_NO_FILE_LOADED"));
        return;
    }
    if (!app.AreaBuffer) {
        checkBoxArea->setChecked(true);
        if (!app.AreaBuffer) return;
    }
    cmdCopy();
    checkBoxArea->setChecked(false);  // the buffer goes, the rectangle stays
    const uint32_t op = crop ? 21 : 23;
    std::unique_ptr<KXConfig> cfg(app.MakeOperatorSettings(op));
    if (!cfg) {
        statusError(KXERR_NOMEMORY);
        return;
    }
    char area[96];
    std::snprintf(area, sizeof area, "%ld,%ld,%ld,%ld", long(app.AreaLeft), long(app.AreaTop), long(app.AreaWidth),
                  long(app.AreaHeight));
    cfg->SetValue("KX_AREA", area);
    if (uint32_t err = app.DoOperation(KX_GetGfxBuffer(), nullptr, op, cfg.get())) statusError(err);
}

// Crop (Select), Cut (Erase) and Cut Inverse (Erase): the area chosen in
// the dialog, the whole picture cut or cropped by it.
void Main::cmdShapeArea(int kind) {
    static const char* const cancelled[] = {"TXT_CROP_SELECT_CANCEL", "TXT_CUT_SELECT_CANCEL", "TXT_CUTINV_SELECT_CANCEL"};
    KX_GfxBuffer* img = KX_GetGfxBuffer();
    if (!img) {
        app.Status(Text("TXT_NO_FILE_LOADED"));
        return;
    }
    QRect r;
    KX_GfxBuffer* cut = selectArea(img, &r);
    if (!cut) {
        app.Status(Text(cancelled[kind]));
        return;
    }
    checkBoxArea->setChecked(false);
    if (kind == 0) {
        // The cut-out is the picture now; a changed picture, as after an
        // operator, so that closing asks before it is lost.
        KX_SetGfxBuffer(cut);
        app.Modified = true;
        app.ChangeCount++;
        UpdatePreview(false);
        app.Status(Text("TXT_CROP_SECTION") + " " + std::to_string(r.x()) + ", " + std::to_string(r.y()) + ", " +
                   std::to_string(r.width()) + ", " + std::to_string(r.height()));
        return;
    }
    KXSUP_FreeGfxBuffer(cut);
    const uint32_t op = kind == 1 ? 23 : 34;
    std::unique_ptr<KXConfig> cfg(app.MakeOperatorSettings(op));
    if (!cfg) {
        statusError(KXERR_NOMEMORY);
        return;
    }
    char area[96];
    std::snprintf(area, sizeof area, "%d,%d,%d,%d", r.x(), r.y(), r.width(), r.height());
    cfg->SetValue("KX_AREA", area);
    if (uint32_t err = app.DoOperation(KX_GetGfxBuffer(), nullptr, op, cfg.get())) statusError(err);
}
