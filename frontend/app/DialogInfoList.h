// The read-only list dialogs: DialogInstanceInfo (where this instance keeps
// its files and how it logs) and DialogKXGfxInfo (every field of a graphics
// buffer in words). Both share one look: a fixed-pitch list, the selected
// row in a text box, "Details To Clip", "Line To Clip", "OK", and "Edit..."
// and "Cancel" present but disabled.
#pragma once

#include <QDialog>
#include <QStringList>

class QLineEdit;
class QListWidget;
class QPushButton;
class UiServices;
struct KX_GfxBuffer;
class KXClass;

class DialogInfoList : public QDialog {
    Q_OBJECT
public:
    DialogInfoList(UiServices* ui, QWidget* parent = nullptr);
    // Fills the list and selects the first row; false (after the box
    // "Sorry, no details available.") when there are no rows.
    bool Prepare(const QString& title, const QStringList& rows);
    // Prepare, then shown modally.
    int ShowDialog(const QString& title, const QStringList& rows);

    QListWidget* listBoxTags;
    QLineEdit* textBoxTag;
    QPushButton *buttonDetails, *buttonLine, *buttonOK, *buttonEdit, *buttonCancel;

private:
    UiServices* ui;
};

// The instance's facts, one "%-18s%s" row each.
struct KXInstanceFacts {
    QString instanceId, programDir, loadDir, saveDir, diaDir, iccDir;
    bool logging = false;
    long logLevel = 0;
};
QStringList KX_InstanceInfoRows(const KXClass* lib, const KXInstanceFacts& facts);
// The buffer's fields, one "%-32s" label and its value per row.
QStringList KX_GfxInfoRows(const KX_GfxBuffer* b, const QString& fileName, const QString& fileType,
                           const QString& subType);

namespace DialogInstanceInfo {
inline const char* kTitle = "Kaxon5 Program & Instance Info";
int ShowDialogP(UiServices* ui, QWidget* parent, const KXClass* lib, const KXInstanceFacts& facts);
}  // namespace DialogInstanceInfo

namespace DialogKXGfxInfo {
inline const char* kTitle = "Show Graphics Buffer Details";
int ShowDialogP(UiServices* ui, QWidget* parent, const KX_GfxBuffer* b, const QString& fileName,
                const QString& fileType, const QString& subType);
}  // namespace DialogKXGfxInfo
