// DialogOptions: the program settings dialog. Shows the undo, log and
// undo-compression settings in force, lets the user pick the language
// folder (the one value it writes back into "Kaxon5.controlpad") and opens
// the settings editor on the whole pad (when that editor exists).
#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QSpinBox;
class QLineEdit;
class QPushButton;
class UiServices;

class DialogOptions : public QDialog {
    Q_OBJECT
public:
    explicit DialogOptions(UiServices* ui, QWidget* parent = nullptr);

    // Fills the controls, then shows the dialog modally.
    int ShowDialogP(const QString& progdir, const QString& envdir, const QString& envarcdir, bool undoLimited, int undoLimit,
                    bool logStart, int logLevel, bool undoComp, int undoCompLevel);

    // Fills the controls without showing the dialog (tests drive it then).
    void Prepare(const QString& progdir, const QString& envdir, const QString& envarcdir, bool undoLimited, int undoLimit,
                 bool logStart, int logLevel, bool undoComp, int undoCompLevel);

    // Results, read after the dialog has closed.
    bool _exit = true;  // cancelled
    bool _undo = false;  // the undo limit is enforced
    int _undolimit = 1;
    bool _logstart = false;
    int _loglevel = 1;
    bool _undocomp = false;
    int _undocomplevel = 6;
    bool _locale_changed = false;
    QString language = QStringLiteral("english");

    // The controls, for the tests.
    QCheckBox* checkBoxUnDo;
    QSpinBox* numericUnDoLimit;
    QCheckBox* checkBoxCompressUnDo;
    QSpinBox* numericUnDoComp;
    QCheckBox* checkBoxLogStart;
    QSpinBox* numericLogLevel;
    QLineEdit* textBoxLanguage;
    QPushButton* buttonLanguage;
    QPushButton* buttonAllSettings;
    QPushButton* buttonOK;
    QPushButton* buttonCancel;

public slots:
    void chooseLanguage();
    void confirm();
    void cancel();

private:
    UiServices* ui;
    QString progdir, envdir, envarcdir;
};
