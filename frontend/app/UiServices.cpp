#include "UiServices.h"

#include <QColorDialog>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace {
QMessageBox::Icon boxIcon(UiServices::Icon icon) {
    switch (icon) {
    case UiServices::Icon::Information: return QMessageBox::Information;
    case UiServices::Icon::Warning: return QMessageBox::Warning;
    case UiServices::Icon::Critical: return QMessageBox::Critical;
    case UiServices::Icon::Question: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}
}  // namespace

void DesktopUiServices::Message(QWidget* parent, const QString& caption, const QString& text, Icon icon) {
    QMessageBox box(boxIcon(icon), caption, text, QMessageBox::Ok, parent);
    box.exec();
}

bool DesktopUiServices::Ask(QWidget* parent, const QString& caption, const QString& text, Icon icon) {
    QMessageBox box(boxIcon(icon), caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    return box.exec() == QMessageBox::Yes;
}

QString DesktopUiServices::OpenFileName(QWidget* parent, const QString& dir, const QString& file, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, QString(), file.isEmpty() ? dir : QDir(dir).filePath(file), filter);
}

QString DesktopUiServices::SaveFileName(QWidget* parent, const QString& dir, const QString& file, const QString& filter) {
    return QFileDialog::getSaveFileName(parent, QString(), file.isEmpty() ? dir : QDir(dir).filePath(file), filter);
}

QString DesktopUiServices::FolderName(QWidget* parent, const QString& caption, const QString& start) {
    return QFileDialog::getExistingDirectory(parent, caption, start);
}

bool DesktopUiServices::PickColour(QWidget* parent, QColor& colour) {
    QColor c = QColorDialog::getColor(colour, parent);
    if (!c.isValid()) return false;
    colour = c;
    return true;
}

bool DesktopUiServices::OpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }
