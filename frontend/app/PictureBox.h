// PictureBox: shows one image in one of five size modes (normal, stretch,
// auto size, centre, zoom), as the viewer and the thumbnail need them.
#pragma once

#include <QImage>
#include <QWidget>

class PictureBox : public QWidget {
    Q_OBJECT
public:
    enum Mode { Normal = 0, Stretch = 1, AutoSize = 2, Center = 3, Zoom = 4 };
    explicit PictureBox(QWidget* parent = nullptr);
    void setImage(const QImage& image);
    const QImage& image() const { return img; }
    void setMode(int mode);
    int mode() const { return sizeMode; }
    void setSunken(bool on) { sunken = on; update(); }
    // A checker board under the picture, so transparent parts show as
    // such rather than as nothing.
    void setChecker(bool on) { checker = on; update(); }
    QSize sizeHint() const override;

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;

private:
    QImage img;
    int sizeMode = Normal;
    bool sunken = false;
    bool checker = false;
};
