#include "VidView.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMediaPlayer>
#include <QScreen>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoWidget>

VidView::VidView(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Media Viewer"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* nav = new QToolBar(this);
    nav->setFocusPolicy(Qt::NoFocus);
    auto add = [this, nav](const QString& t, int code) {
        connect(nav->addAction(t), &QAction::triggered, this, [this, code] { finish(code); });
    };
    add(QStringLiteral("|<"), 2);
    add(QStringLiteral("<"), 1);
    add(QStringLiteral(">"), 0);
    nav->addAction(QStringLiteral(">|"))->setEnabled(false);
    add(QStringLiteral("X"), -1);
    layout->addWidget(nav);
    video = new QVideoWidget(this);
    layout->addWidget(video, 1);
    player = new QMediaPlayer(this);
    player->setVideoOutput(video);
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this] { finish(0); });
    resize(349, 268);
}

VidView::~VidView() { player->stop(); }

void VidView::ChangeSizeLimits(int pw, int ph, bool limit, bool fullscreen, bool borderless, int width, int height) {
    QScreen* s = QGuiApplication::primaryScreen();
    QRect work = s ? s->availableGeometry() : QRect(0, 0, 1024, 768);
    int w = pw, h = ph;
    if (limit && !fullscreen) {
        w = width;
        h = height;
    } else if (fullscreen) {
        w = work.width() - (borderless ? 0 : 10);
        h = work.height() - (borderless ? 0 : 10);
    }
    if (borderless) setWindowFlag(Qt::FramelessWindowHint, true);
    resize(std::max(1, int(w * 1.2)), std::max(1, int(h * 1.2)));
}

int VidView::ShowDialogDia(int* result, const QString& path, bool timerOn, int seconds) {
    _retval = result;
    player->setSource(QUrl::fromLocalFile(path));
    player->play();
    if (timerOn) timer->start(seconds * 1000);
    return exec();
}

void VidView::finish(int code) {
    if (_retval) *_retval = code;
    timer->stop();
    player->stop();
    accept();
}

void VidView::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
    case Qt::Key_Backspace:
    case Qt::Key_PageUp:
    case Qt::Key_MediaPrevious: finish(1); return;
    case Qt::Key_Space:
    case Qt::Key_PageDown:
    case Qt::Key_MediaNext: finish(0); return;
    case Qt::Key_Escape:
    case Qt::Key_X:
    case Qt::Key_Z: finish(-1); return;
    case Qt::Key_Q:
        timer->stop();
        player->stop();
        accept();
        return;
    default: QDialog::keyPressEvent(e);
    }
}
