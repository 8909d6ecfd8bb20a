// DialogFrame: what every operator dialog shares. A dialog turns its
// controls into the operator runs its command makes (a Plan: operator
// numbers with the key=value lists the dispatcher hands them); the preview
// runs the same lists on operator objects of its own, made fresh for every
// run, on a copy of the picture scaled to the preview box, on a worker
// thread. The scaled copy is made once per dialog (the picture cannot
// change while the modal dialog is open), so a change of a control costs
// one operator run on a small picture. The interface thread makes no
// library call while a preview runs: it waits for it first (Quiesce).
#pragma once

#include <QDialog>
#include <QImage>
#include <QString>
#include <QStringList>
#include <memory>
#include <thread>
#include <vector>

#include "OwnOperator.h"
#include "core/kxlib.h"
#include "core/kxbridge.h"

class PictureBox;
class QBoxLayout;
class QCheckBox;
class QComboBox;
class QLabel;
class QLayout;
class QPushButton;
class QSpacerItem;
class QSpinBox;
class UiServices;

namespace kxdlg {

using Keys = kxown::KeyList;

// One operator run of a dialog's command, and of its preview.
struct Step {
    uint32_t op = 0;
    Keys keys;
    bool settings = true;   // false: no settings list (the operator reads its own pad)
    bool mayFail = false;   // the steps after it run even when it fails
    int after = -1;         // runs only when that earlier step ran and worked
    bool previewOnly = false;
    uint32_t previewBelow = 0;  // preview: runs only on a picture of fewer bits
    uint32_t previewAt = 0;     // preview: runs only on a picture of exactly these bits
};
using Plan = std::vector<Step>;

// The bitmap of a buffer as the viewer shows it (HAM, bit planes and, with
// showAlpha, keyed or table transparency through a true-colour copy);
// null for a buffer it cannot show. Any thread.
QImage Bitmap(const KX_GfxBuffer* buffer, bool showAlpha);

// "%f" of a single-precision value, as KXConfig stores reals.
QByteArray Real(float v);

// Loads a second picture (a reference or blend picture) with the readers of
// lib's table: 1 when no reader knows the file (or it cannot be opened),
// else the reader's code; on success *image is the caller's.
uint32_t LoadPicture(KXClass* lib, const QString& path, KX_GfxBuffer** image);

// A library object of a dialog's own (its own reader table for a second
// picture), with the application's instance number and folders.
std::unique_ptr<KXClass> OwnLibrary(const QString& progdir, const QString& userdir);

// The preview's runs on a true-colour copy: AnyTo24Bit first for a picture
// of fewer bits (for the commands that convert a palette picture on OK).
// An empty plan stays empty: the picture is shown as it is.
Plan InTrueColour(const Plan& plan);

// "Error: " and the message of the code, or "No error." for 0.
QString StatusText(uint32_t code);

}  // namespace kxdlg

class DialogKXOFrame : public QDialog {
    Q_OBJECT
public:
    ~DialogKXOFrame() override;

    // 1 = cancelled (also when the window is closed), 0 = confirmed with OK.
    int _exit = 1;
    // The picture to preview (the area or the current image); null: the
    // current image at each preview.
    KX_GfxBuffer* gfxb = nullptr;
    QString progdir;
    // 0 while the dialog is being filled: no preview is computed.
    bool initimg = false;
    PictureBox* pictureBoxPreview = nullptr;
    QPushButton* buttonOK = nullptr;
    QPushButton* buttonCancel = nullptr;

    // The operator runs of the command after OK, from the result fields.
    virtual kxdlg::Plan Steps() const = 0;
    // A dialog that edits the picture itself: whether it changed it.
    virtual bool Changed() const { return false; }

    // Waits until the preview shows the controls' last state (tests, and
    // whatever must see the final picture).
    void WaitPreview();
    // The scaled copy the previews start from (null before the first one).
    const KX_GfxBuffer* Thumbnail() const { return thumb; }
    int PreviewCount() const { return previews; }
    uint32_t PreviewError() const { return lastError; }
    QSize PreviewSize() const { return boxSize; }

protected:
    DialogKXOFrame(KXClass* lib, QWidget* parent);

    // The frame's opening steps: keeps the picture and the program folder,
    // _exit 1, initimg 0.
    void OpenFrame(KX_GfxBuffer* source, const QString& pdir);
    // initimg 1 and the first preview.
    void Ready();
    // Recomputes the preview from the fields (nothing while initimg is 0).
    void UpdatePreview();
    // Waits for a running preview: the library is the interface thread's again.
    void Quiesce();

    // The runs the preview makes on the scaled copy; the command's by default.
    virtual kxdlg::Plan PreviewSteps() const { return Steps(); }
    virtual bool PreviewAlpha() const { return true; }
    // A dialog that changes the picture itself scales it anew each time.
    virtual bool FreshThumbnail() const { return false; }
    // After each preview: err 0 and the new picture shown, or the run's
    // code (the box keeps its old picture unless the dialog clears it).
    virtual void PreviewShown(uint32_t err) { (void)err; }
    // OK: the fields take the controls' final values before the form closes.
    virtual void Confirm() {}

    // Layout pieces: the preview box of the given size (sunken, zoomed) and
    // the row of OK (with okText) and, when wanted, Cancel.
    PictureBox* MakePreviewBox(int width, int height);
    QBoxLayout* MakeButtons(bool withCancel, const QString& okText = QStringLiteral("OK"));
    // The controls on the left, the preview box (when made) on the right,
    // the buttons under both; the form keeps the size its texts need.
    void Arrange(QLayout* controls, QBoxLayout* buttons);
    // The usual form: the controls, the preview box of the usual size beside
    // them, OK and Cancel under both.
    void ArrangeWithPreview(QLayout* controls);
    // A whole-number field with its name.
    QSpinBox* Spin(const char* name, int min, int max, int value);
    // Named controls (scripts and tests find them by name).
    QLabel* Label(const char* name, const QString& text);
    QCheckBox* Check(const char* name, const QString& text);
    QComboBox* Combo(const char* name, const QStringList& items = {});
    // A button inside the form: it never takes Return from OK.
    QPushButton* Button(const char* name, const QString& text);
    // A sunken picture box of a fixed size that zooms its picture.
    PictureBox* Picture(const char* name, int width, int height);
    // Each change of the control stores its value in the result field (a
    // check box 1 or 0; a list its index, none ignored) and redraws.
    void Follow(QSpinBox* s, int& field);
    void Follow(QCheckBox* c, int& field);
    void Follow(QComboBox* c, int& field);

    void done(int result) override;
    void showEvent(QShowEvent* e) override;

    KXClass* lib;

private:
    struct Outcome {
        uint32_t err = 0;
        QImage image;
        KX_GfxBuffer* thumb = nullptr;  // a new scaled copy, when this run made one
    };
    void startJob();
    void collect();
    void apply(Outcome& o);
    // Keeps the form as wide as its title with the title bar's buttons.
    void fitTitle();
    QSpacerItem* titleRoom = nullptr;

    std::thread worker;
    Outcome outcome;  // written by the worker, read after the join
    bool again = false;
    KX_GfxBuffer* thumb = nullptr;
    QSize boxSize;
    int previews = 0;
    uint32_t lastError = 0;
};
