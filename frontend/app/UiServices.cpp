#include "UiServices.h"

#include <QColorDialog>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QInputDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrintPreviewDialog>
#include <QScreen>
#include <QSpacerItem>
#include <QTimer>
#include <QTreeView>
#include <algorithm>

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

// The window manager draws the caption in the box's title bar; a box as
// narrow as a short text would cut the caption ("Ka… nfo"), so the box is
// made wide enough for the caption and the title bar's buttons.
static void fitCaption(QMessageBox& box, const QString& caption) {
    const int wanted = box.fontMetrics().horizontalAdvance(caption) + 160;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
}

void DesktopUiServices::Message(QWidget* parent, const QString& caption, const QString& text, Icon icon) {
    QMessageBox box(boxIcon(icon), caption, text, QMessageBox::Ok, parent);
    fitCaption(box, caption);
    box.exec();
}

bool DesktopUiServices::Ask(QWidget* parent, const QString& caption, const QString& text, Icon icon) {
    QMessageBox box(boxIcon(icon), caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    fitCaption(box, caption);
    return box.exec() == QMessageBox::Yes;
}

// Qt's own file dialog opens small, with a name column too narrow for real
// file names: it gets most of the screen and a name column for them.
static QString runFileDialog(QWidget* parent, QFileDialog::AcceptMode mode, QFileDialog::FileMode fileMode,
                             const QString& caption, const QString& start, const QString& filter) {
    QFileDialog dialog(parent, caption, start, filter);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(fileMode);
    dialog.setViewMode(QFileDialog::Detail);
    if (fileMode == QFileDialog::Directory) dialog.setOption(QFileDialog::ShowDirsOnly, true);
    const QScreen* screen = parent && parent->screen() ? parent->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    dialog.resize(std::min(area.width() * 3 / 4, 1000), std::min(area.height() * 3 / 4, 680));
    // The dialog restores its last column widths as it opens: these are set
    // once it is open.
    QTimer::singleShot(0, &dialog, [&dialog] {
        auto* view = dialog.findChild<QTreeView*>();
        if (!view) return;
        // Size, type and date at the width their texts need; the name gets
        // the rest.
        const QFontMetrics fm(view->font());
        const int size = fm.horizontalAdvance(QStringLiteral("999.99 MiB")) + 24;
        const int type = fm.horizontalAdvance(QStringLiteral("WebP image file")) + 24;
        const int date = fm.horizontalAdvance(QStringLiteral("31 Dec 2099 23:59:59")) + 24;
        QHeaderView* h = view->header();
        h->setStretchLastSection(false);
        h->resizeSection(1, size);
        h->resizeSection(2, type);
        h->resizeSection(3, date);
        h->resizeSection(0, std::max(200, view->viewport()->width() - size - type - date - 4));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().constFirst();
}

QString DesktopUiServices::OpenFileName(QWidget* parent, const QString& dir, const QString& file, const QString& filter) {
    return runFileDialog(parent, QFileDialog::AcceptOpen, QFileDialog::ExistingFile, QString(),
                         file.isEmpty() ? dir : QDir(dir).filePath(file), filter);
}

QString DesktopUiServices::SaveFileName(QWidget* parent, const QString& dir, const QString& file, const QString& filter) {
    return runFileDialog(parent, QFileDialog::AcceptSave, QFileDialog::AnyFile, QString(),
                         file.isEmpty() ? dir : QDir(dir).filePath(file), filter);
}

QString DesktopUiServices::FolderName(QWidget* parent, const QString& caption, const QString& start) {
    return runFileDialog(parent, QFileDialog::AcceptOpen, QFileDialog::Directory, caption, start, QString());
}

bool DesktopUiServices::PickColour(QWidget* parent, QColor& colour) {
    QColor c = QColorDialog::getColor(colour, parent);
    if (!c.isValid()) return false;
    colour = c;
    return true;
}

bool DesktopUiServices::OpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

void DesktopUiServices::SetUpPrinter(QPrinter*) {}

bool DesktopUiServices::PrintDialog(QWidget* parent, QPrinter* printer) {
    QPrintDialog dialog(printer, parent);
    return dialog.exec() == QDialog::Accepted;
}

void DesktopUiServices::PrintPreview(QWidget* parent, QPrinter* printer, const std::function<void(QPrinter*)>& paint) {
    QPrintPreviewDialog dialog(printer, parent);
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog, [&paint](QPrinter* p) { paint(p); });
    dialog.exec();
}

int DesktopUiServices::ChooseItem(QWidget* parent, const QString& caption, const QString& label, const QStringList& items) {
    if (items.isEmpty()) return -1;
    bool ok = false;
    const QString chosen = QInputDialog::getItem(parent, caption, label, items, 0, false, &ok);
    return ok ? int(items.indexOf(chosen)) : -1;
}
