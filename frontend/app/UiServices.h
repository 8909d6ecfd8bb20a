// UiServices: the few places where the program hands control to the user or
// the desktop (message boxes, file and folder pickers, the colour picker,
// opening a document or web address, the print dialogs, choosing a
// device). The windows reach them only through this interface, so tests
// can answer them from a script.
#pragma once

#include <QColor>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

class QPrinter;
class QWidget;

class UiServices {
public:
    enum class Icon { Information, Warning, Critical, Question };
    virtual ~UiServices() = default;
    virtual void Message(QWidget* parent, const QString& caption, const QString& text, Icon icon) = 0;
    // Yes/No question; true for Yes.
    virtual bool Ask(QWidget* parent, const QString& caption, const QString& text, Icon icon) = 0;
    // Empty result: cancelled.
    virtual QString OpenFileName(QWidget* parent, const QString& dir, const QString& file, const QString& filter) = 0;
    virtual QString SaveFileName(QWidget* parent, const QString& dir, const QString& file, const QString& filter) = 0;
    virtual QString FolderName(QWidget* parent, const QString& caption, const QString& start) = 0;
    virtual bool PickColour(QWidget* parent, QColor& colour) = 0;
    virtual bool OpenUrl(const QUrl& url) = 0;
    // A new printer as the desktop sets it up (the system's default).
    virtual void SetUpPrinter(QPrinter* printer) = 0;
    // The print dialog on the window's printer (its settings stay there);
    // true for OK.
    virtual bool PrintDialog(QWidget* parent, QPrinter* printer) = 0;
    // The print preview of the window's printer; paint draws the document.
    virtual void PrintPreview(QWidget* parent, QPrinter* printer, const std::function<void(QPrinter*)>& paint) = 0;
    // One item of a list (a scanner or camera); -1: cancelled.
    virtual int ChooseItem(QWidget* parent, const QString& caption, const QString& label, const QStringList& items) = 0;
};

// The real desktop: QMessageBox, QFileDialog, QColorDialog, QDesktopServices,
// QPrintDialog, QPrintPreviewDialog, QInputDialog.
class DesktopUiServices : public UiServices {
public:
    void Message(QWidget* parent, const QString& caption, const QString& text, Icon icon) override;
    bool Ask(QWidget* parent, const QString& caption, const QString& text, Icon icon) override;
    QString OpenFileName(QWidget* parent, const QString& dir, const QString& file, const QString& filter) override;
    QString SaveFileName(QWidget* parent, const QString& dir, const QString& file, const QString& filter) override;
    QString FolderName(QWidget* parent, const QString& caption, const QString& start) override;
    bool PickColour(QWidget* parent, QColor& colour) override;
    bool OpenUrl(const QUrl& url) override;
    void SetUpPrinter(QPrinter* printer) override;
    bool PrintDialog(QWidget* parent, QPrinter* printer) override;
    void PrintPreview(QWidget* parent, QPrinter* printer, const std::function<void(QPrinter*)>& paint) override;
    int ChooseItem(QWidget* parent, const QString& caption, const QString& label, const QStringList& items) override;
};
