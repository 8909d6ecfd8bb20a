// The two dialogs of the lossless JPEG commands: DialogLLTransform (one of
// rotate, flip or transpose, the extra switches and the output file) and
// DialogLLCrop (the output file and the rectangle to keep). Both only
// collect choices; the main window runs the transformer.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QBoxLayout;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class UiServices;

// What both share: the output file ("Select File..." and its label), OK
// (which needs a file) and Cancel.
class DialogLLFile : public QDialog {
    Q_OBJECT
public:
    bool _exit = true;  // true until OK is pressed with a file chosen
    QString _filename, _fullname, progdir, savedir;

    QLabel* labelFileName;
    QPushButton *buttonFile, *buttonOK, *buttonCancel;

protected:
    DialogLLFile(UiServices* ui, QWidget* parent, const QString& title);
    // No file, not confirmed; the chooser starts in save.
    void openFiles(const QString& prog, const QString& save);
    // OK and Cancel at the right.
    QBoxLayout* okCancel();
    // OK with a file chosen: the dialog's own checks and results; false
    // keeps it open.
    virtual bool confirm() = 0;

    UiServices* ui;

private:
    void chooseFile();
    void accepted();
};

class DialogLLTransform : public DialogLLFile {
    Q_OBJECT
public:
    DialogLLTransform(UiServices* ui, QWidget* parent = nullptr);
    // Resets the results and the controls to their first values; the file
    // chooser starts in savedir.
    void Prepare(const QString& progdir, const QString& savedir);

    bool _rotate = true, _flip = false, _transp = false, _optimize = false, _progress = false, _trim = false;
    QString _deg = QStringLiteral("90"), _flipxy = QStringLiteral("horizontal"), _transpxy = QStringLiteral("transpose");

    QCheckBox *checkBoxRotate, *checkBoxFlip, *checkBoxTranspose, *checkBoxOptimize, *checkBoxProgressive, *checkBoxTrim;
    QComboBox *comboBoxDeg, *comboBoxFlip, *comboBoxTranspose;

protected:
    bool confirm() override;
};

class DialogLLCrop : public DialogLLFile {
    Q_OBJECT
public:
    // selectArea asks for the rectangle on the current picture: false when
    // cancelled.
    DialogLLCrop(UiServices* ui, std::function<bool(long*, long*, long*, long*)> selectArea, QWidget* parent = nullptr);
    // Clears the file and area choice; the picture is width x height.
    void Prepare(long width, long height, const QString& progdir, const QString& savedir);
    // "Select Area...": a rectangle equal to the whole picture counts as none.
    void chooseArea();

    bool _areasel = false;
    long areaL = 0, areaT = 0, areaW = 0, areaH = 0;

    QLabel* labelArea;
    QPushButton* buttonArea;

protected:
    bool confirm() override;

private:
    std::function<bool(long*, long*, long*, long*)> selectArea;
    long imageW = 0, imageH = 0;
};
