// Clipboard: the system clipboard as the program uses it: pictures in and
// out, and the text copies of the list dialogs (each row followed by a line
// feed, as text files end their lines here). Pictures that come in are
// written to PNG files the library's readers open.
#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

namespace kxclip {

void PutImage(const QImage& image);
// The clipboard's picture; a null image when it holds none.
QImage Image();
void PutRows(const QStringList& rows);

// Writes image as a PNG file. The file is made beside the target and
// renamed over it, so a link planted under the name is replaced, never
// followed. False when it cannot be written.
bool SavePng(const QImage& image, const QString& path);

}  // namespace kxclip
