// Test support for the operator dialogs: pictures the readers open (blocks
// that scale exactly, 16-bit PPM, 4-bit BMP) and the window with a
// recording dispatcher seam and a scripted area selection.
#pragma once

#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QSpinBox>

#include "DialogAreaSelect.h"
#include "DialogFrame.h"
#include "support/QtTestEnv.h"

namespace kxtest {

// A picture of 2 x 2 blocks, twice the preview box: the box's copy of it is
// exact, so a pixel-by-pixel operator gives the same copy of its result.
inline QImage BlockPicture(int w, int h) {
    QImage img(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int bx = x / 2, by = y / 2;
            img.setPixelColor(x, y, QColor((bx * 37 + by * 11) & 255, (bx * 5 + by * 29) & 255, (bx * by * 3 + 60) & 255));
        }
    return img;
}

// A 16-bit binary PPM: 48-bit pictures for the library's PNM reader.
inline bool WritePPM16(const QString& path, int w, int h) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    f.write(QStringLiteral("P6\n%1 %2\n65535\n").arg(w).arg(h).toLatin1());
    QByteArray row;
    for (int y = 0; y < h; ++y) {
        row.clear();
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                const int v = (x * 997 + y * 131 + c * 7919) & 0xffff;
                row.append(char(v >> 8)).append(char(v & 255));
            }
        f.write(row);
    }
    return true;
}

// A 16-colour BMP of 4 bits per pixel, byte by byte.
inline bool WriteBmp4(const QString& path, int w, int h) {
    const int stride = ((w * 4 + 31) / 32) * 4;
    QByteArray b;
    auto u16 = [&b](int v) { b.append(char(v & 255)).append(char((v >> 8) & 255)); };
    auto u32 = [&](int v) { u16(v & 0xffff), u16((v >> 16) & 0xffff); };
    const int offset = 14 + 40 + 64;
    b.append("BM");
    u32(offset + stride * h), u32(0), u32(offset);
    u32(40), u32(w), u32(h), u16(1), u16(4), u32(0), u32(stride * h), u32(2835), u32(2835), u32(16), u32(0);
    for (int i = 0; i < 16; ++i) b.append(char(i * 16)).append(char(255 - i * 16)).append(char(i * 8)).append(char(0));
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row(stride, 0);
        for (int x = 0; x < w; ++x) row[x / 2] = char(row[x / 2] | (((x + y) & 15) << (x % 2 ? 0 : 4)));
        b.append(row);
    }
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(b) == b.size();
}

// The window with a recording dispatcher seam.
struct Desk {
    Sandbox box;
    ScriptedUi ui;
    std::unique_ptr<Main> w;
    QStringList runs;  // "op:KEY=VALUE;KEY=VALUE", or "op" without a list
    explicit Desk(const QStringList& settings = {"UNDO=NO"}) : box(settings) {
        w = std::make_unique<Main>(box.options(&ui));
        w->dispatchSpy = [this](uint32_t op, const kxown::KeyList* keys) {
            QString run = QString::number(op);
            if (keys) {
                QStringList pairs;
                for (const auto& [k, v] : *keys) pairs << QString::fromLatin1(k + "=" + v);
                run += ":" + pairs.join(';');
            }
            runs << run;
        };
        // No area is chosen unless a test says which.
        w->areaScript = [](DialogAreaSelect* d) {
            d->buttonCancel->click();
            return 0;
        };
    }
    bool open(const QImage& img, const QString& name = QStringLiteral("p.ppm")) {
        const QString path = box.pictures() + "/" + name;
        return WritePPM(path, img) && w->LoadFile(path) == 0;
    }
    // The area selection dialog picks this rectangle of the current image.
    void selectOnToggle(const QRect& r) {
        w->areaScript = [r](DialogAreaSelect* d) {
            const KX_GfxBuffer* img = KX_GetGfxBuffer();
            d->numericUpDownL->setValue(r.x());
            d->numericUpDownT->setValue(r.y());
            d->numericUpDownW->setValue(int(img->Width) - r.x() - r.width());
            d->numericUpDownH->setValue(int(img->Height) - r.y() - r.height());
            d->buttonOK->click();
            return 0;
        };
    }
};

template <class D>
D* as(QDialog* d) {
    D* x = qobject_cast<D*>(d);
    if (!x) qWarning("unexpected dialog %s", d ? d->metaObject()->className() : "none");
    return x;
}

inline void ok(QDialog* d) { static_cast<DialogKXOFrame*>(d)->buttonOK->click(); }

}  // namespace kxtest
