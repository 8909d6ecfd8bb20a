// The settings editor: DialogKXPreferences edits one control pad through
// its schema (DialogSettingsModel), one key at a time with the small value
// editors below (switch, number, text, choice list), the colour picker
// (DialogSettingsColour), the area dialog, a file picker or the module
// chooser DialogKXModuleList. Every nested dialog goes through the editor's
// modal seam, so the window's dialogScript reaches them too. All texts are
// fixed English texts.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "DialogKXList.h"
#include "DialogSettingsModel.h"

class KXClass;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class UiServices;
struct KX_GfxBuffer;

// Shows a dialog modally; tests put their script here.
using KXModalRunner = std::function<int(QDialog*)>;

// The frame of the value editors: title "Select Value", "Name" (the key),
// "Description", "OK" and "Cancel"; _exit 0 after OK.
class DialogCPValue : public QDialog {
    Q_OBJECT
public:
    DialogCPValue(const QString& key, const QString& description, QWidget* parent);
    int _exit = 1;
    QLabel *labelName, *labelDescription;
    QPushButton *buttonOK, *buttonCancel;

protected:
    // The editor's own fields go here, between the description and the buttons.
    class QVBoxLayout* body;
};

class DialogCPBool : public DialogCPValue {
    Q_OBJECT
public:
    DialogCPBool(bool on, const QString& key, const QString& description, QWidget* parent = nullptr);
    bool _result() const;
    QCheckBox* checkBoxSwitch;
};

class DialogCPSlider : public DialogCPValue {
    Q_OBJECT
public:
    DialogCPSlider(long min, long max, long value, const QString& key, const QString& description,
                   QWidget* parent = nullptr);
    long _result() const;
    QSpinBox* numericUpDown;
    QLabel *labelMin, *labelMax;
};

class DialogCPString : public DialogCPValue {
    Q_OBJECT
public:
    DialogCPString(const QString& min, const QString& max, const QString& text, const QString& key,
                   const QString& description, const QString& mask, const QString& type, QWidget* parent = nullptr);
    QString _result() const;
    QLineEdit* textBoxValue;
    QLabel *labelMinLen, *labelMaxLen, *labelMask, *labelType;
};

class DialogCPListView : public DialogCPValue {
    Q_OBJECT
public:
    DialogCPListView(const QStringList& choices, int position, const QString& key, const QString& description,
                     QWidget* parent = nullptr);
    QString _result() const;
    QListWidget* listViewChoices;
};

// The module chooser: the format modules or the operators of a library
// object of its own, sorted, once each.
class DialogKXModuleList : public QDialog {
    Q_OBJECT
public:
    DialogKXModuleList(const KXBrowserDirs& dirs, bool operators, const QString& current, QWidget* parent = nullptr);
    ~DialogKXModuleList() override;
    int _exit = 1;
    QString lastsel;
    QListWidget* listBoxModules;
    QLabel *labelInfo, *labelFlags;
    QPushButton *buttonOK, *buttonCancel;

private:
    void selected();
    std::unique_ptr<KXClass> lib;
    bool ops;
};

class DialogKXPreferences : public QDialog {
    Q_OBJECT
public:
    DialogKXPreferences(const KXBrowserDirs& dirs, UiServices* ui, QWidget* parent = nullptr);
    ~DialogKXPreferences() override;

    // Loads the pad and its schema and fills the list; image (not owned)
    // may be null. Afterwards the dialog is shown by the caller.
    void Prepare(const QString& name, KX_GfxBuffer* image, bool area, long left, long top, long width, long height);
    // Prepare, then shown through the modal seam; returns _exit.
    int ShowDialogP(const QString& name, KX_GfxBuffer* image, bool area, long left, long top, long width, long height);

    // Edits the selected line (double click or "Modify").
    void Modify();
    // Switches the selected key off.
    void DisableSelected();

    KXModalRunner modal;  // null: exec()
    int _exit = 1;        // 0 after a save
    long areaL = 0, areaT = 0, areaW = 0, areaH = 0;

    QListWidget* listBoxSections;
    QPushButton *buttonModify, *buttonDisable, *buttonSaveUser, *buttonSaveGlobal, *buttonCancel;
    QCheckBox* checkBoxReference;
    const KXPrefsModel& model() const { return prefs; }

private:
    int run(QDialog* d) { return modal ? modal(d) : d->exec(); }
    void fill(int row);
    void save(bool global);
    // The editors of one section; each stores what the user chose.
    void editArea(size_t index);
    void editColour(size_t index);
    void editFile(size_t index);
    bool editText(size_t index);
    bool editNumber(size_t index);
    KXClass* library();

    KXBrowserDirs dirs;
    UiServices* ui;
    KXPrefsModel prefs;
    std::unique_ptr<KXClass> lib;
    KX_GfxBuffer* image = nullptr;
};
