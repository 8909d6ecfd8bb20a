// UiServices: the few places where the program hands control to the user or
// the desktop (message boxes, file and folder pickers, the colour picker,
// opening a document or web address). The windows reach them only through
// this interface, so tests can answer them from a script.
#pragma once

#include <QColor>
#include <QString>
#include <QUrl>

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
};

// The real desktop: QMessageBox, QFileDialog, QColorDialog, QDesktopServices.
class DesktopUiServices : public UiServices {
public:
    void Message(QWidget* parent, const QString& caption, const QString& text, Icon icon) override;
    bool Ask(QWidget* parent, const QString& caption, const QString& text, Icon icon) override;
    QString OpenFileName(QWidget* parent, const QString& dir, const QString& file, const QString& filter) override;
    QString SaveFileName(QWidget* parent, const QString& dir, const QString& file, const QString& filter) override;
    QString FolderName(QWidget* parent, const QString& caption, const QString& start) override;
    bool PickColour(QWidget* parent, QColor& colour) override;
    bool OpenUrl(const QUrl& url) override;
};
