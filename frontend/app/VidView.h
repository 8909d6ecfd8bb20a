// VidView: plays one video of a slide show with Qt Multimedia and reports
// the user's step like the viewer (0 forward, 1 back, 2 first, -1 stop).
#pragma once

#include <QDialog>

class QMediaPlayer;
class QTimer;
class QVideoWidget;

class VidView : public QDialog {
    Q_OBJECT
public:
    explicit VidView(QWidget* parent = nullptr);
    ~VidView() override;
    void ChangeSizeLimits(int picWidth, int picHeight, bool limit, bool fullscreen, bool borderless, int width, int height);
    int ShowDialogDia(int* result, const QString& path, bool timer, int seconds);

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    void finish(int code);
    QMediaPlayer* player;
    QVideoWidget* video;
    QTimer* timer;
    int* _retval = nullptr;
};
