// View: the viewer window. Prepares one graphics buffer for display (HAM,
// keyed or table alpha and profiled images through a 24-bit copy, the
// embedded profile to sRGB, bit planes to chunky bytes), makes the bitmap,
// zooms and turns it with operators of its own, and inside a slide show
// reports the user's step (0 forward, 1 back, 2 first, 3 last, -1 stop).
// The caller's buffer is never changed.
#pragma once

#include <QDialog>
#include <QImage>

#include "core/kxlib.h"

class PictureBox;
class QTimer;
class QToolBar;
class QAction;
class UiServices;

class View : public QDialog {
    Q_OBJECT
public:
    enum Result { Forward = 0, Back = 1, First = 2, Last = 3, Stop = -1 };

    View(KXClass* lib, KX_GfxBuffer* buffer, const KXOSpecialInfo* meta, bool showalpha = true, bool applycms = false,
         bool force24 = false, UiServices* ui = nullptr, QWidget* parent = nullptr);
    ~View() override;

    // The bitmap of a prepared buffer: 8-bit indexed for palettes, RGB or
    // RGBA (non-premultiplied) otherwise; alpha only with showalpha and an
    // 8- or 16-bit map. Null image for a buffer it cannot show.
    static QImage SetImage(const KX_GfxBuffer* buffer, bool showalpha);

    void ChangeSizeMode(int mode);
    void ChangeSizeLimits(bool limit, bool fullscreen, bool borderless, int width, int height);
    int ShowDialogDia(int* result, const QString& path, bool timer, int seconds);

    void ZoomIn() { zoom(true); }
    void ZoomOut() { zoom(false); }
    void TurnLeft() { turn(90, false); }
    void TurnRight() { turn(270, false); }

    const QImage& image() const { return _img; }
    int zoomStep() const { return _cs_scale; }
    int rotation() const { return _cs_rotate; }
    QSize shownSize() const { return QSize(int(scalex), int(scaley)); }
    uint32_t prepareError() const { return _error; }
    bool quitRequested() const { return _quitkx5; }
    int sizeMode() const;
    // The operator error of the last zoom or turn (0 when it worked).
    uint32_t lastOperationError() const { return _opError; }

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void prepare(KX_GfxBuffer* buffer, const KXOSpecialInfo* meta, bool applycms, bool force24);
    void showBuffer(const KX_GfxBuffer* b);
    void resizeToSettings();
    QMargins frame() const;
    void zoom(bool in);
    void turn(int degrees, bool afterZoom);
    void finish(int code);
    const KX_GfxBuffer* shown() const;

    KXClass* lib;
    UiServices* ui;
    KX_GfxBuffer* _gfxb = nullptr;
    KX_GfxBuffer* _free = nullptr;
    KX_GfxBuffer* op1 = nullptr;
    KX_GfxBuffer* op2 = nullptr;
    QImage _img;
    uint32_t scalex = 0, scaley = 0;
    uint32_t maxx = 65535, maxy = 65535;
    int _cs_scale = 0;
    int _cs_rotate = 0;
    bool _cs_limit = false, _cs_fullscreen = false, _cs_borderless = false;
    int _cs_width = 0, _cs_height = 0;
    bool checkalpha = true;
    bool diashow = false;
    int* _retval = nullptr;
    bool _quitkx5 = false;
    uint32_t _error = 0;
    uint32_t _opError = 0;
    PictureBox* pictureBox1 = nullptr;
    QToolBar* menuStripNav = nullptr;
    QAction* fileItem = nullptr;
    QTimer* timer = nullptr;
    QTimer* frameWatch = nullptr;
    int frameTries = 0;
};
