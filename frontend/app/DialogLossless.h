// The two dialogs of the lossless JPEG commands: DialogLLTransform (one of
// rotate, flip or transpose, the extra switches and the output file) and
// DialogLLCrop (the output file and the rectangle to keep). Both only
// collect choices; the main window runs the transformer.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class UiServices;

class DialogLLTransform : public QDialog {
    Q_OBJECT
public:
    DialogLLTransform(UiServices* ui, QWidget* parent = nullptr);
    // Resets the results and the controls to their first values; the file
    // chooser starts in savedir.
    void Prepare(const QString& progdir, const QString& savedir);

    bool _exit = true;  // true until OK is pressed with a file chosen
    bool _rotate = true, _flip = false, _transp = false, _optimize = false, _progress = false, _trim = false;
    QString _deg = QStringLiteral("90"), _flipxy = QStringLiteral("horizontal"), _transpxy = QStringLiteral("transpose");
    QString _filename, _fullname, progdir, savedir;

    QCheckBox *checkBoxRotate, *checkBoxFlip, *checkBoxTranspose, *checkBoxOptimize, *checkBoxProgressive, *checkBoxTrim;
    QComboBox *comboBoxDeg, *comboBoxFlip, *comboBoxTranspose;
    QLabel* labelFileName;
    QPushButton *buttonFile, *buttonOK, *buttonCancel;

private:
    void chooseFile();
    void accepted();
    UiServices* ui;
};

class DialogLLCrop : public QDialog {
    Q_OBJECT
public:
    // selectArea asks for the rectangle on the current picture: false when
    // cancelled.
    DialogLLCrop(UiServices* ui, std::function<bool(long*, long*, long*, long*)> selectArea, QWidget* parent = nullptr);
    // Clears the file and area choice; the picture is width x height.
    void Prepare(long width, long height, const QString& progdir, const QString& savedir);
    // "Select Area...": a rectangle equal to the whole picture counts as none.
    void chooseArea();

    bool _exit = true;
    bool _areasel = false;
    long areaL = 0, areaT = 0, areaW = 0, areaH = 0;
    QString _filename, _fullname, progdir, savedir;

    QLabel *labelFileName, *labelArea;
    QPushButton *buttonFile, *buttonArea, *buttonOK, *buttonCancel;

private:
    void chooseFile();
    void accepted();
    UiServices* ui;
    std::function<bool(long*, long*, long*, long*)> selectArea;
    long imageW = 0, imageH = 0;
};
