// The module browsers: DialogKXPList lists the library's operators with
// their descriptions and capability words and previews the chosen one on
// the current image (or area); DialogKXOList lists the readers, writers and
// device readers. Each makes a library object of its own, so its modules
// start from their own pads and share nothing with the main window's.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class KXClass;
class KXOperator;
class KXObject;
class PictureBox;
class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;
struct KX_GfxBuffer;

// Directories a browser's library object is made with.
struct KXBrowserDirs {
    QString program, settings, archive, user;
    uint32_t instance = 0;
};

// A library object of the browser's own, made with these directories.
std::unique_ptr<KXClass> KX_MakeLibrary(const KXBrowserDirs& dirs);

// True when the archive settings directory (ending in "/") holds the
// module's schema, so the settings editor can edit its pad.
bool KX_HasSchema(const QString& archiveDir, const QString& name);

// A module's name as the browsers list it: its pad's file name up to the
// first "." ("Resize", "RAW-Import").
QString KX_ModuleName(const char* padPath);

// The library's operators, or the modules of its first `kinds` object
// tables (readers, writers, device readers), by name: sorted, once each.
QStringList KX_OperatorNames(KXClass* lib);
QStringList KX_ObjectNames(KXClass* lib, uint32_t kinds);
// The first module listed under that name, or null.
const KXOperator* KX_OperatorNamed(KXClass* lib, const QString& name);
const KXObject* KX_ObjectNamed(KXClass* lib, uint32_t kinds, const QString& name);
// What the browsers show after "Flags:": the module's capability words.
QString KX_OperatorFlags(const KXOperator* op);
QString KX_ObjectFlags(const KXObject* o);

class DialogKXPList : public QDialog {
    Q_OBJECT
public:
    explicit DialogKXPList(const KXBrowserDirs& dirs, QWidget* parent = nullptr);
    ~DialogKXPList() override;

    // With an image (and the area flag and rectangle): preview and "Apply".
    void PrepareP(KX_GfxBuffer* image, bool area, int left, int top, int width, int height, bool hasMeta);
    // Without image: the settings mode ("Done" instead of "Cancel").
    void PrepareS();
    int ShowDialogP(KX_GfxBuffer* image, bool area, int left, int top, int width, int height, bool hasMeta);
    int ShowDialogS();

    // Selects an operator by name (as a click on the list would).
    bool Select(const QString& name);
    // Runs the preview of the selected operator again.
    void UpdatePreview();

    int _exit = 1;
    int _kxpnum = -1;
    // Opens the settings editor on a module's name (set by the window).
    std::function<void(const QString& name)> openSettings;

    QListWidget* listBoxOps;
    QLabel *labelInfo, *labelFlags, *labelImage, *labelResult;
    QCheckBox *checkBoxAuto24, *checkBoxFast;
    PictureBox* pictureBoxPreview;
    QPushButton *buttonSettings, *buttonRefresh, *buttonApply, *buttonCancel;
    // The operator object the last preview ran on (for the tests).
    const KXOperator* lastPreviewOperator = nullptr;
    KXClass* library() const { return lib.get(); }

private:
    void selected();
    void showBuffer(KX_GfxBuffer* b, bool sizeChange);
    int operatorNumber(const QString& name) const;

    std::unique_ptr<KXClass> lib;
    QString archiveDir;
    KX_GfxBuffer* image = nullptr;
    bool area = false, meta = false;
};

class DialogKXOList : public QDialog {
    Q_OBJECT
public:
    explicit DialogKXOList(const KXBrowserDirs& dirs, QWidget* parent = nullptr);
    ~DialogKXOList() override;
    int ShowDialogS();
    bool Select(const QString& name);

    std::function<void(const QString& name)> openSettings;
    QListWidget* listBoxObjs;
    QLabel *labelInfo, *labelFlags;
    QPushButton *buttonSettings, *buttonDone;

private:
    void selected();
    std::unique_ptr<KXClass> lib;
    QString archiveDir;
};
