#include "View.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

#include "core/colour.h"
#include "OwnOperator.h"
#include "PictureBox.h"
#include "UiServices.h"
#include "core/kxopnumbers.h"

namespace {

// The 24-bit copy the viewer shows instead of b. The core's conversion
// keeps keys, tables and 8-bit maps as an 8-bit map but leaves a 16-bit
// map behind: that one is narrowed here by its high bytes, as the bitmap
// takes it, or a picture with a profile (and the thumbnail while an area
// is active) would show opaque.
uint32_t to24(const KX_GfxBuffer* b, KX_GfxBuffer** out) {
    if (uint32_t err = KXSUP_GfxBufferTo24Bit(b, out)) return err;
    if (KXSUP_AlphaHolds(b) != KXALPHA_CHANNEL16 || KXSUP_AlphaHolds(*out) != KXALPHA_NONE) return KXERR_NONE;
    uint8_t* map = nullptr;
    const uint32_t err = KXSUP_CopyAlphaMap8(b, &map, 0);
    if (err == KXERR_NOMEMORY) {
        KXSUP_FreeGfxBuffer(*out);
        *out = nullptr;
        return err;
    }
    // A map the core does not count (such as one on a palette picture) is
    // not shown either.
    if (err) return KXERR_NONE;
    if ((*out)->Version < 3) (*out)->Version = 3;
    (*out)->AlphaType = KXALPHA_CHANNEL8;
    (*out)->AlphaData = map;
    return KXERR_NONE;
}

}  // namespace

View::View(KXClass* l, KX_GfxBuffer* buffer, const KXOSpecialInfo* meta, bool showalpha, bool applycms, bool force24,
           UiServices* u, QWidget* parent)
    : QDialog(parent), lib(l), ui(u), checkalpha(showalpha) {
    setWindowTitle(QStringLiteral("(V)iew -- (+)/(-), (L)eft/(R)ight - (Q)uit"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    menuStripNav = new QToolBar(this);
    auto nav = [this](const QString& text, int code) {
        QAction* a = menuStripNav->addAction(text);
        connect(a, &QAction::triggered, this, [this, code] { finish(code); });
        return a;
    };
    nav(QStringLiteral("|<"), First);
    nav(QStringLiteral("<"), Back);
    nav(QStringLiteral(">"), Forward);
    nav(QStringLiteral(">|"), Last)->setEnabled(false);
    connect(menuStripNav->addAction(QStringLiteral("L")), &QAction::triggered, this, &View::TurnLeft);
    connect(menuStripNav->addAction(QStringLiteral("R")), &QAction::triggered, this, &View::TurnRight);
    QAction* plus = menuStripNav->addAction(QStringLiteral("+"));
    QAction* minus = menuStripNav->addAction(QStringLiteral("-"));
    plus->setVisible(false);
    minus->setVisible(false);
    nav(QStringLiteral("X"), Stop);
    fileItem = menuStripNav->addAction(QString());
    fileItem->setEnabled(false);
    menuStripNav->setVisible(false);
    menuStripNav->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(menuStripNav);
    pictureBox1 = new PictureBox(this);
    pictureBox1->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(pictureBox1, 1);
    setFocusPolicy(Qt::StrongFocus);
    resize(345, 277);
    frameWatch = new QTimer(this);
    connect(frameWatch, &QTimer::timeout, this, [this] {
        if (frame() != QMargins()) {
            frameWatch->stop();
            resizeToSettings();
        } else if (--frameTries <= 0) {
            frameWatch->stop();
        }
    });
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this] { finish(Forward); });
    prepare(buffer, meta, applycms, force24);
}

View::~View() {
    timer->stop();
    KXSUP_FreeGfxBuffer(op2);
    KXSUP_FreeGfxBuffer(op1);
    KXSUP_FreeGfxBuffer(_free);
}

void View::prepare(KX_GfxBuffer* b, const KXOSpecialInfo* meta, bool applycms, bool force24) {
    _cs_scale = 0;
    _cs_rotate = 0;
    if (!b) return;
    // Only an embedded profile is used: this platform has no colour
    // directory with a display profile, and sRGB-declared images are sRGB.
    const uint8_t* icc = meta && meta->IccData && meta->IccSize ? meta->IccData : nullptr;
    const bool keyedPalette = checkalpha && b->ColorDepth <= 8 && b->Version >= 3 &&
                              (b->AlphaType & (KXALPHA_SINGLECOLOR | KXALPHA_MULTICOLOR));
    uint32_t err = 0;
    if (force24 || IsHamBuffer(b) || (icc && applycms) || keyedPalette) {
        err = to24(b, &_free);
        if (!err) b = _free;
    }
    if (!err && icc && applycms && KXSUP_ApplyCMSProfileSRGB(b, icc, meta->IccSize) != KXERR_NONE && ui)
        ui->Message(this, QStringLiteral("Error"), QStringLiteral("Broken/unsuitable ICC profile contained in image!"), UiServices::Icon::Critical);
    if (!err && b->Type == BITPLANE) {
        KX_GfxBuffer* chunky = nullptr;
        err = KXSUP_BitPlaneToOnePlane8(b, &chunky);
        if (!err) {
            KXSUP_FreeGfxBuffer(_free);
            _free = chunky;
            b = chunky;
        } else {
            KXSUP_FreeGfxBuffer(chunky);
        }
    }
    if (err) {
        _error = err;
        if (ui) ui->Message(this, QStringLiteral("Error"), QStringLiteral("Low memory, cannot prepare graphics!"), UiServices::Icon::Critical);
        return;
    }
    _gfxb = b;
    showBuffer(b);
    maxx = maxy = 65535;
}

QImage View::SetImage(const KX_GfxBuffer* b, bool showalpha) {
    if (!b || !b->Data || b->Type != ONEPLANE || !b->Width || !b->Height) return QImage();
    const int w = int(b->Width), h = int(b->Height);
    if (b->ColorDepth <= 8) {
        if (b->BufferSize < uint64_t(w) * h) return QImage();
        QImage img(w, h, QImage::Format_Indexed8);
        if (img.isNull()) return img;
        QList<QRgb> table(256);
        for (int i = 0; i < 256; ++i) table[i] = qRgb(b->Palette[3 * i], b->Palette[3 * i + 1], b->Palette[3 * i + 2]);
        img.setColorTable(table);
        for (int y = 0; y < h; ++y) std::memcpy(img.scanLine(y), b->Data + size_t(y) * w, size_t(w));
        return img;
    }
    const bool deep = b->ColorDepth == 48;
    if (!deep && b->ColorDepth != 24) return QImage();
    if (b->BufferSize < uint64_t(w) * h * (deep ? 6 : 3)) return QImage();

    // 48-bit pixels are shown by their high bytes, through a 24-bit copy.
    KX_GfxBuffer* narrowed = nullptr;
    if (deep && KXSUP_GfxBufferTo24Bit(b, &narrowed) != KXERR_NONE) return QImage();
    const uint8_t* pixels = narrowed ? narrowed->Data : b->Data;

    // An alpha source: the 8-bit map as it is, a 16-bit map by its high bytes.
    uint8_t* alpha = nullptr;
    int alphaOwned = 0;
    if (showalpha && KXSUP_GetAlphaMap8(b, &alpha, &alphaOwned, 1, 0) != KXERR_NONE) alpha = nullptr;

    QImage img(w, h, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    for (int y = 0; !img.isNull() && y < h; ++y) {
        uint8_t* out = img.scanLine(y);
        const uint8_t* in = pixels + size_t(y) * w * 3;
        if (!alpha) {
            std::memcpy(out, in, size_t(w) * 3);
            continue;
        }
        const uint8_t* a = alpha + size_t(y) * w;
        for (int x = 0; x < w; ++x, in += 3) {
            *out++ = in[0];
            *out++ = in[1];
            *out++ = in[2];
            *out++ = a[x];
        }
    }
    if (alphaOwned) FreeVec(alpha);
    KXSUP_FreeGfxBuffer(narrowed);
    return img;
}

const KX_GfxBuffer* View::shown() const { return op2 ? op2 : op1 ? op1 : _gfxb; }

void View::showBuffer(const KX_GfxBuffer* b) {
    _img = SetImage(b, checkalpha);
    pictureBox1->setImage(_img);
    scalex = b ? b->Width : 0;
    scaley = b ? b->Height : 0;
}

int View::sizeMode() const { return pictureBox1->mode(); }

void View::ChangeSizeMode(int mode) { pictureBox1->setMode(mode); }

void View::ChangeSizeLimits(bool limit, bool fullscreen, bool borderless, int width, int height) {
    _cs_limit = limit;
    _cs_fullscreen = fullscreen;
    _cs_borderless = borderless;
    _cs_width = width;
    _cs_height = height;
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    QRect work = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    maxx = uint32_t(work.width()) * 6;
    maxy = uint32_t(work.height()) * 6;
    resizeToSettings();
}

// The frame the window manager puts around the window (known once it is
// shown; none before, and none on a platform without frames).
QMargins View::frame() const {
    const QRect outer = frameGeometry(), inner = geometry();
    if (!isVisible() || outer == inner) return {};
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                    outer.bottom() - inner.bottom());
}

void View::resizeToSettings() {
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QRect work = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    // The sizes below are the window's with its frame: the picture gets what
    // is left inside.
    const QMargins m = frame();
    const QRect inside = work.marginsRemoved(m);
    const int bar = menuStripNav->isVisible() ? menuStripNav->sizeHint().height() : 0;
    if (!_cs_limit && !_cs_fullscreen) {
        if (_cs_borderless) setWindowFlag(Qt::FramelessWindowHint, true);
        // The picture's size, but never beyond the screen's working area (a
        // large photo would otherwise open a window the user cannot reach
        // the edges of); the size mode then fits or cuts the picture.
        resize(std::clamp(_img.width(), 1, std::max(1, inside.width())),
               std::clamp(_img.height() + bar, 1 + bar, std::max(1 + bar, inside.height())));
    } else if (_cs_limit && !_cs_fullscreen) {
        resize(std::max(1, _cs_width), std::max(1, _cs_height) + bar);
    } else if (_cs_borderless) {
        setWindowFlag(Qt::FramelessWindowHint, true);
        setGeometry(work.x() + 1, work.y() + 1, work.width(), work.height());
        return;
    } else {
        // Five pixels inside the working area on every side, frame included.
        setGeometry(work.adjusted(5, 5, -5, -5).marginsRemoved(m));
        return;
    }
    // Centred on the screen's working area.
    QRect outer = frameGeometry();
    move(work.center() - QPoint(outer.width() / 2, outer.height() / 2));
}

// The window manager tells the frame only some time after the window is
// shown: the window is fitted again once it is known (a platform without
// frames never tells, and the watch gives up after a second).
void View::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    frameTries = 40;
    frameWatch->start(25);
}

void View::zoom(bool in) {
    if (!_gfxb) return;
    int step = _cs_scale;
    if (in) {
        if (step == 0) step = 2;
        else if (step == -2) step = 0;
        else if (scalex <= maxx && scaley <= maxy) ++step;
    } else {
        if (step == 0) step = -2;
        else if (step == 2) step = 0;
        else if (scalex >= 4 && scaley >= 4) --step;
    }
    _opError = 0;
    if (step == _cs_scale) return;
    KX_GfxBuffer* fresh = nullptr;
    if (step != 0) {
        const double w = step > 0 ? double(_gfxb->Width) * step : double(_gfxb->Width) / -step;
        const double h = step > 0 ? double(_gfxb->Height) * step : double(_gfxb->Height) / -step;
        // A thin picture is not reduced below one pixel: the step is not taken.
        if (w < 1.0 || h < 1.0) return;
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        _opError = kxown::Run(lib, KXOP_RESIZE, _gfxb, &fresh, {{"NEW_WIDTH", kxown::Num(w)}, {"NEW_HEIGHT", kxown::Num(h)}});
        QGuiApplication::restoreOverrideCursor();
        // The operator's refusal leaves the picture as it was shown.
        if (_opError) return;
    }
    KXSUP_FreeGfxBuffer(op2);
    KXSUP_FreeGfxBuffer(op1);
    op2 = nullptr;
    op1 = fresh;
    _cs_scale = step;
    showBuffer(shown());
    resizeToSettings();
    if (_cs_rotate % 360) turn(_cs_rotate % 360, true);
}

void View::turn(int degrees, bool afterZoom) {
    if (!_gfxb) return;
    KX_GfxBuffer* source;
    bool fromPrepared = false;
    if (op2) {
        KXSUP_FreeGfxBuffer(op1);
        op1 = op2;
        op2 = nullptr;
        source = op1;
    } else if (op1) {
        source = op1;
    } else {
        source = _gfxb;
        fromPrepared = true;
    }
    KX_GfxBuffer* result = nullptr;
    _opError = kxown::Run(lib, KXOP_ROTATE, source, &result, {{"DEGREES", kxown::Int(degrees)}});
    if (!afterZoom) _cs_rotate += degrees;
    if (_opError) return;
    if (fromPrepared) op1 = result;
    else op2 = result;
    showBuffer(result);
    resizeToSettings();
}

void View::finish(int code) {
    if (_retval) *_retval = code;
    timer->stop();
    accept();
}

int View::ShowDialogDia(int* result, const QString& path, bool timerOn, int seconds) {
    _retval = result;
    diashow = true;
    fileItem->setText(path.mid(path.lastIndexOf('/') + 1));
    menuStripNav->setVisible(true);
    resizeToSettings();
    if (timerOn) timer->start(seconds * 1000);
    return exec();
}

void View::keyPressEvent(QKeyEvent* e) {
    const bool running = timer->isActive();
    const int interval = timer->interval();
    timer->stop();
    switch (e->key()) {
    case Qt::Key_V: {
        int m = pictureBox1->mode();
        pictureBox1->setMode(m >= 0 && m < 4 ? m + 1 : m == 4 ? 0 : 4);
        break;
    }
    case Qt::Key_L: TurnLeft(); break;
    case Qt::Key_R: TurnRight(); break;
    case Qt::Key_X:
        if (diashow) return finish(Stop);
        close();
        return;
    case Qt::Key_Escape:
    case Qt::Key_Z:
        if (diashow) return finish(Stop);
        _quitkx5 = true;
        close();
        return;
    case Qt::Key_Q: close(); return;
    // The main keyboard's "+" key carries "=" unshifted.
    case Qt::Key_Plus:
    case Qt::Key_Equal: ZoomIn(); break;
    case Qt::Key_Minus: ZoomOut(); break;
    case Qt::Key_Backspace:
    case Qt::Key_PageUp:
    case Qt::Key_MediaPrevious:
        if (diashow) return finish(Back);
        break;
    case Qt::Key_Space:
    case Qt::Key_PageDown:
    case Qt::Key_MediaNext:
        if (diashow) return finish(Forward);
        break;
    default: QDialog::keyPressEvent(e); break;
    }
    if (running) timer->start(interval);
}

void View::closeEvent(QCloseEvent* e) {
    timer->stop();
    QDialog::closeEvent(e);
}
