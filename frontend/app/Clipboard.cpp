#include "Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImageWriter>
#include <QMimeData>
#include <QSaveFile>

namespace kxclip {

void PutImage(const QImage& image) { QGuiApplication::clipboard()->setImage(image); }

QImage Image() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasImage()) return QImage();
    return QGuiApplication::clipboard()->image();
}

void PutRows(const QStringList& rows) {
    QString text;
    for (const QString& row : rows) text += row + QLatin1Char('\n');
    QGuiApplication::clipboard()->setText(text);
}

bool SavePng(const QImage& image, const QString& path) {
    if (image.isNull()) return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    QImageWriter writer(&file, "png");
    if (!writer.write(image)) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

}  // namespace kxclip
