// The two dialogs of the image imports: DialogKXORAWImport, the wizard for
// headerless pixel data (layout, format, byte order, size and offsets, with
// a live preview through a raw importer object of its own and the first
// line of the file's "_COMMENT.txt" side file), and DialogKXODCRAW, the
// choices for a camera RAW file run through dcraw. Both only collect the
// choices; the main window runs the import.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <functional>
#include <utility>
#include <vector>

#include "core/kxlib.h"

class PictureBox;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class UiServices;

class DialogKXORAWImport : public QDialog {
    Q_OBJECT
public:
    // The preview's importer objects are made on lib.
    DialogKXORAWImport(UiServices* ui, KXClass* lib, QWidget* parent = nullptr);
    // Resets the choices and the controls (Chunky, RGB24, little-endian,
    // all numbers 0, no file); the file picker starts in loaddir.
    void Prepare(const QString& progdir, const QString& loaddir);

    // Copies the controls into the choices, enables the controls that the
    // format uses and refreshes the preview.
    void numericUpDown_ValueChanged();
    // Loads the chosen file with the current choices into the preview box
    // and reports the outcome in labelStatus (nothing before a file is chosen).
    void UpdatePreview();

    int _exit = 1;  // 0 only after OK
    int _width = 0, _height = 0, _offset_start = 0, _offset_end = 0;
    int _layout = 0;  // 0 chunky, 1 planar
    QString _format;
    int _endian = 0;  // 0 little-endian / RGB, 1 big-endian / BGR
    int _cm = 0;
    QString _loadname, progdir, loaddir;
    int initimg = 0;

    QSpinBox *numericWidth, *numericHeight, *numericStartOffset, *numericEndOffset;
    QComboBox *comboBoxLayout, *comboBoxFormat, *comboBoxEndian;
    QCheckBox* checkBoxCM;
    PictureBox* pictureBoxPreview;
    QLabel *labelFileName, *labelComment, *labelStatus;
    QPushButton *buttonSelectFile, *buttonOK, *buttonCancel;

private:
    void buttonSelectFile_Click();
    UiServices* ui;
    KXClass* lib;
    bool filling = false;  // Prepare sets the controls: no refresh per control
};

class DialogKXODCRAW : public QDialog {
    Q_OBJECT
public:
    explicit DialogKXODCRAW(UiServices* ui, QWidget* parent = nullptr);
    // Resets the choices and the controls (IMAGE, 8BIT, PPM, RAW, picture 0).
    void Prepare(const QString& progdir, const QString& loaddir);

    int _exit = 1;
    QString _mode, _layout, _format, _cspace, _loadname, progdir, loaddir;
    int _picnum = 0;

    QComboBox *comboBoxExtractMode, *comboBoxLayout, *comboBoxFileFormat, *comboBoxColorSpace;
    QSpinBox* numericPicNum;
    QLabel* labelFileName;
    QPushButton *buttonSelectFile, *buttonOK, *buttonCancel;

private:
    UiServices* ui;
};

// The device imports shared by the dialogs and the main window's commands.
namespace kxraw {

using Keys = std::vector<std::pair<QByteArray, QByteArray>>;
// Runs a library call; null runs it directly.
using Runner = std::function<uint32_t(const std::function<uint32_t()>&)>;

// The settings the raw importer gets from the wizard's choices.
Keys RawKeys(const DialogKXORAWImport& d);
// The settings dcraw's reader gets from its dialog, with the converter's path.
Keys DcrawKeys(const DialogKXODCRAW& d, const QByteArray& dcrawPath);

// Loads a fresh object of the device reader className (made on lib) in
// device mode with keys on a settings list named with its pad path; the
// list is taken back before this returns. On success *device is the
// loaded reader (the caller owns it); on failure it is null.
uint32_t LoadDevice(KXClass* lib, const char* className, const Keys& keys, uint32_t loadMeta, const Runner& run,
                    KXObject** device);

}  // namespace kxraw
