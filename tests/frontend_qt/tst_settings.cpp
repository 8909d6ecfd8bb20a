// The settings editor: the schema model from schema files, edits saved
// byte for byte, the Save buttons with and without a schema, the colour
// picker on palette, bit-plane, 24- and 48-bit pictures up to the last
// column and row, the module chooser, the window's openers, and every
// schema the program ships.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QLineEdit>
#include <set>

#include "DialogAreaSelect.h"
#include "DialogKXList.h"
#include "DialogOptions.h"
#include "DialogSettings.h"
#include "DialogSettingsColour.h"
#include "DialogSettingsModel.h"
#include "core/catalogue.h"
#include "core/gfxbuffer.h"
#include "core/kxclass.h"
#include "core/object.h"
#include "core/memory.h"
#include "core/operator.h"
#include "support/QtTestEnv.h"

namespace {

KXBrowserDirs dirsOf(const Sandbox& box) {
    return {box.progDir(), box.envDir(), box.progDir() + "/ENV/Kaxon5-Library/", box.userHome(), 0};
}

const char* editorName(CPEditor e) {
    switch (e) {
    case CPEditor::None: return "none";
    case CPEditor::Switch: return "switch";
    case CPEditor::Choice: return "choice";
    case CPEditor::Integer: return "integer";
    case CPEditor::Area: return "area";
    case CPEditor::Colour: return "colour";
    case CPEditor::Module: return "module";
    case CPEditor::File: return "file";
    case CPEditor::Text: return "text";
    }
    return "?";
}

// One section as "display editor min..max".
QStringList describe(const KXPrefsModel& m) {
    QStringList out;
    for (const CPSection& s : m.Sections()) {
        long min = 0, max = 0;
        KXPrefsModel::Limits(s, &min, &max);
        out << QStringLiteral("%1 %2 %3..%4").arg(QString::fromStdString(s.display), editorName(KXPrefsModel::EditorFor(s))).arg(min).arg(max);
    }
    return out;
}

// Answers the editor's nested dialogs in order; each step gets the dialog.
struct Script {
    std::vector<std::function<void(QDialog*)>> steps;
    QStringList seen;  // class names of the dialogs met
    KXModalRunner runner() {
        return [this](QDialog* d) {
            seen << d->metaObject()->className();
            if (steps.empty()) {
                d->reject();
                return 0;
            }
            auto step = steps.front();
            steps.erase(steps.begin());
            step(d);
            return 0;
        };
    }
};

const QByteArray kSchema =
    "; schema of the test pad\n"
    "SECTION=WIDTH\nTYPE=INTEGER\nMASK=*\nMIN=16\nMAX=4096\nDESCRIPTION=Width in pixels.\nDEFAULT=640\n"
    "SECTION=MODE\nTYPE=STRING\nMASK=<FAST|BEST|AUTO>\nDEFAULT=AUTO\n"
    "SECTION=QUICK\nTYPE=NONE\nMASK=*\nDEFAULT=ON\n"
    "SECTION=NAME\nTYPE=STRING\nMASK=*\n"
    "SECTION=BACK\nTYPE=COLOR_RGBA\nMASK=*\nDEFAULT=0x000000ff\n"
    "SECTION=ENGINE\nTYPE=STRING\nMASK=_KXOPERATOR\n"
    "SECTION=PADFILE\nTYPE=STRING\nMASK=_FILE_ENV\n";

// Comments, an empty line, keys with values and one without.
const QByteArray kPad =
    "; my settings\n"
    "WIDTH=800\n"
    "\n"
    "MODE=FAST\n"
    "// written by hand\n"
    "NAME=holiday pictures\n"
    "UNKNOWN_KEY=stays\n"
    "PADFILE\n";

}  // namespace

class SettingsTest : public QObject {
    Q_OBJECT
private slots:
    void schemaModel_data();
    void schemaModel();
    void edits_data();
    void edits();
    void disableAndSwitch();
    void saveButtons_data();
    void saveButtons();
    void failedGlobalSaveIsReported();
    void colourPicker_data();
    void colourPicker();
    void areaFromReference();
    void colourKeys_data();
    void colourKeys();
    void moduleChooser();
    void windowOpeners();
    void everyShippedSchema();
};

void SettingsTest::schemaModel_data() {
    QTest::addColumn<QByteArray>("schema");
    QTest::addColumn<QByteArray>("pad");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("every type") << QByteArray(
        "SECTION=A\nTYPE=NONE\nMASK=*\n"
        "SECTION=B\nTYPE=INTEGER\nMASK=*\nMIN=-5\nMAX=5\n"
        "SECTION=C\nTYPE=AREA\nMASK=*\n"
        "SECTION=D\nTYPE=COLOR_RGB\nMASK=*\n"
        "SECTION=E\nTYPE=color_idx\nMASK=*\n"
        "SECTION=F\nTYPE=STRING\nMASK=_KXOBJECT\n"
        "SECTION=G\nTYPE=STRING\nMASK=_kxoperator\n"
        "SECTION=H\nTYPE=STRING\nMASK=_FILE_ENVARC_SUB\n"
        "SECTION=I\nTYPE=STRING\nMASK=_ANYFILE\n"
        "SECTION=J\nTYPE=STRING\nMASK=free text\n") << QByteArray("A\nB=3\nJ=x\n")
        << QStringList{"A switch 0..65535", "B=3 integer -5..5", "*C area 0..65535", "*D colour 0..65535",
                       "*E colour 0..65535", "*F module 0..65535", "*G module 0..65535", "*H file 0..65535",
                       "*I file 0..65535", "J=x text 0..65535"};
    QTest::newRow("choice masks") << QByteArray(
        "SECTION=THREE\nMASK=<ON|OFF|AUTO>\nTYPE=INTEGER\n"
        "SECTION=ONE\nMASK=<ON>\nTYPE=INTEGER\n"
        "SECTION=SWITCH\nMASK=<A|B>\nTYPE=NONE\n") << QByteArray()
        << QStringList{"*THREE choice 0..65535", "*ONE integer 0..65535", "*SWITCH switch 0..65535"};
    // Attributes come from the section's own lines only: B has no MASK and
    // no limits of its own, and takes neither from C.
    QTest::newRow("own section only") << QByteArray(
        "SECTION=A\nTYPE=INTEGER\nMASK=*\nMIN=5\nMAX=9\n"
        "SECTION=B\nTYPE=INTEGER\n"
        "SECTION=C\nTYPE=INTEGER\nMASK=*\nMIN=100\nMAX=200\n"
        "SECTION=D\nTYPE=INTEGER\nMASK=*\n") << QByteArray("B=1\n")
        << QStringList{"*A integer 5..9", "B=1 none 0..65535", "*C integer 100..200", "*D integer 0..65535"};
    QTest::newRow("first attribute line counts") << QByteArray(
        "SECTION=A\nTYPE=INTEGER\nMASK=*\nMIN=1\nMIN=2\nMAX=7\nTYPE=NONE\n") << QByteArray()
        << QStringList{"*A integer 1..7"};
    QTest::newRow("malformed lines") << QByteArray(
        "TYPE=NONE\nMASK=*\n"                      // before any section
        "; comment\n\n"
        "SECTION\nMIN=1\n"                          // a section without a key
        "section=LOWER\ntype=integer\nmask=*\nmin=abc\nmax=\n"
        "SECTION=NOVALUE\nMASK\nTYPE=INTEGER\n"    // MASK without value: free text
        "SECTION=LONG\nMASK=*\n") << QByteArray("LOWER=12\nLONG=" + QByteArray(300, 'x') + "\n")
        << QStringList{"LOWER=12 integer 0..65535", "*NOVALUE integer 0..65535",
                       "LONG=" + QString(249, 'x') + " text 0..65535"};
    QTest::newRow("key case and empty values") << QByteArray("SECTION=KEY\nMASK=*\nSECTION=EMPTY\nMASK=*\n")
                                               << QByteArray("key=lower\nEMPTY=\n")
                                               << QStringList{"*KEY text 0..65535", "EMPTY text 0..65535"};
    QTest::newRow("no schema") << QByteArray() << QByteArray("A=1\n") << QStringList{};
}

void SettingsTest::schemaModel() {
    QFETCH(QByteArray, schema);
    QFETCH(QByteArray, pad);
    QFETCH(QStringList, expected);
    Sandbox box;
    const QString arc = box.progDir() + "/ENV/Kaxon5-Library/";
    // The schema from the archive, the pad from the user's folder.
    if (!schema.isEmpty()) QVERIFY(WriteBytes(arc + "T.cpinfo", schema));
    if (!pad.isEmpty()) QVERIFY(WriteBytes(box.envDir() + "T.controlpad", pad));
    KXPrefsModel m;
    QCOMPARE(m.Load("T", box.envDir().toStdString(), arc.toStdString()), !schema.isEmpty());
    QCOMPARE(describe(m), expected);
    if (schema.isEmpty()) QVERIFY(!m.Pad());  // released with no schema
    if (QTest::currentDataTag() == QByteArray("choice masks")) {
        QCOMPARE(KXPrefsModel::Choices(m.Sections()[0].mask), (std::vector<std::string>{"ON", "OFF", "AUTO"}));
    }
}

// Each row edits one line of kPad through the dialog and saves it: the
// saved file is the old one with that line changed (or one line added).
void SettingsTest::edits_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QStringList>("dialogs");
    QTest::newRow("number") << "WIDTH" << "WIDTH=800\n" << "WIDTH=1024\n" << QStringList{"DialogCPSlider"};
    QTest::newRow("number kept in its limits") << "WIDTH" << "WIDTH=800\n" << "WIDTH=4096\n" << QStringList{"DialogCPSlider"};
    QTest::newRow("choice") << "MODE" << "MODE=FAST\n" << "MODE=BEST\n" << QStringList{"DialogCPListView"};
    QTest::newRow("text") << "NAME" << "NAME=holiday pictures\n" << "NAME=snow\n" << QStringList{"DialogCPString"};
    QTest::newRow("switch on with its default") << "QUICK" << "" << "QUICK=ON\n" << QStringList{"DialogCPBool"};
    QTest::newRow("platform colour, then the text") << "BACK" << "" << "BACK=0xff0000ff\n" << QStringList{"DialogCPString"};
    QTest::newRow("module") << "ENGINE" << "" << "ENGINE=Negate\n" << QStringList{"DialogKXModuleList"};
    QTest::newRow("file") << "PADFILE" << "PADFILE\n" << "PADFILE=/tmp/x.controlpad\n" << QStringList{};
}

void SettingsTest::edits() {
    QFETCH(QString, key);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QStringList, dialogs);
    Sandbox box;
    const KXBrowserDirs dirs = dirsOf(box);
    QVERIFY(WriteBytes(dirs.archive + "T.cpinfo", kSchema));
    QVERIFY(WriteBytes(dirs.settings + "T.controlpad", kPad));
    ScriptedUi ui;
    ui.colours.push_back(QColor(255, 0, 0));
    ui.openNames.push_back("/tmp/x.controlpad");
    DialogKXPreferences dlg(dirs, &ui);
    Script script;
    const QString tag = QTest::currentDataTag();
    script.steps.push_back([&](QDialog* d) {
        if (auto* s = qobject_cast<DialogCPSlider*>(d)) {
            QCOMPARE(s->numericUpDown->minimum(), 16);
            QCOMPARE(s->numericUpDown->maximum(), 4096);
            QCOMPARE(s->numericUpDown->value(), 800);
            s->numericUpDown->setValue(tag.contains("limits") ? 99999 : 1024);
        } else if (auto* l = qobject_cast<DialogCPListView*>(d)) {
            QCOMPARE(l->listViewChoices->count(), 3);
            QCOMPARE(l->listViewChoices->currentRow(), 0);  // FAST, the current value
            l->listViewChoices->setCurrentRow(1);
        } else if (auto* t = qobject_cast<DialogCPString*>(d)) {
            if (key == "BACK") {
                QCOMPARE(t->textBoxValue->text(), QStringLiteral("0xff0000ff"));
            } else {
                QCOMPARE(t->textBoxValue->text(), QStringLiteral("holiday pictures"));
                t->textBoxValue->setText("snow");
            }
        } else if (auto* b = qobject_cast<DialogCPBool*>(d)) {
            QVERIFY(!b->checkBoxSwitch->isChecked());
            b->checkBoxSwitch->setChecked(true);
        } else if (auto* m = qobject_cast<DialogKXModuleList*>(d)) {
            QVERIFY(m->listBoxModules->findItems("Negate", Qt::MatchExactly).size() == 1);
            m->listBoxModules->setCurrentItem(m->listBoxModules->findItems("Negate", Qt::MatchExactly).first());
        }
        if (auto* v = qobject_cast<DialogCPValue*>(d)) v->buttonOK->click();
        if (auto* m = qobject_cast<DialogKXModuleList*>(d)) m->buttonOK->click();
    });
    dlg.modal = script.runner();
    dlg.Prepare("T", nullptr, false, 0, 0, 0, 0);
    QVERIFY(dlg.checkBoxReference->isHidden());
    if (tag == "number") {
        dlg.resize(dlg.sizeHint());
        dlg.grab().save(ArtefactDir() + "/settings_editor.png");
    }
    int row = -1;
    for (int i = 0; i < dlg.listBoxSections->count(); ++i) {
        const QString t = dlg.listBoxSections->item(i)->text();
        if (t == key || t == "*" + key || t.startsWith(key + "=")) row = i;
    }
    QVERIFY(row >= 0);
    dlg.listBoxSections->setCurrentRow(row);
    dlg.buttonModify->click();
    QCOMPARE(script.seen, dialogs);
    QCOMPARE(dlg.listBoxSections->currentRow(), row);
    QCOMPARE(dlg.listBoxSections->currentItem()->text() + "\n", to);
    dlg.buttonSaveUser->click();
    QCOMPARE(dlg._exit, 0);
    QByteArray expected = kPad;
    if (from.isEmpty())
        expected += to.toUtf8();
    else
        expected.replace(from.toUtf8(), to.toUtf8());
    QCOMPARE(ReadBytes(dirs.settings + "T.controlpad"), expected);
    // The archive's copy is the global one: untouched by "Save User".
    QVERIFY(!QFile::exists(dirs.archive + "T.controlpad"));
}

void SettingsTest::disableAndSwitch() {
    Sandbox box;
    const KXBrowserDirs dirs = dirsOf(box);
    QVERIFY(WriteBytes(dirs.archive + "T.cpinfo", kSchema));
    QVERIFY(WriteBytes(dirs.settings + "T.controlpad", "WIDTH=800\nMODE=FAST\nNAME=x\n"));
    ScriptedUi ui;
    DialogKXPreferences dlg(dirs, &ui);
    dlg.Prepare("T", nullptr, false, 0, 0, 0, 0);
    QCOMPARE(dlg.listBoxSections->currentRow(), 0);
    // Disabling the first of three keys keeps the other two.
    dlg.buttonDisable->click();
    QCOMPARE(dlg.listBoxSections->item(0)->text(), QStringLiteral("*WIDTH"));
    QCOMPARE(dlg.listBoxSections->item(1)->text(), QStringLiteral("MODE=FAST"));
    QCOMPARE(dlg.listBoxSections->item(3)->text(), QStringLiteral("NAME=x"));
    // A switch turned off goes like Disable.
    QVERIFY(WriteBytes(dirs.settings + "S.controlpad", "QUICK\n"));
    QVERIFY(WriteBytes(dirs.archive + "S.cpinfo", "SECTION=QUICK\nTYPE=NONE\nMASK=*\n"));
    DialogKXPreferences sw(dirs, &ui);
    Script script;
    script.steps.push_back([](QDialog* d) {
        auto* b = qobject_cast<DialogCPBool*>(d);
        QVERIFY(b && b->checkBoxSwitch->isChecked());
        b->checkBoxSwitch->setChecked(false);
        b->buttonOK->click();
    });
    // Switched on again without a DEFAULT: the key alone.
    script.steps.push_back([](QDialog* d) {
        auto* b = qobject_cast<DialogCPBool*>(d);
        QVERIFY(b && !b->checkBoxSwitch->isChecked());
        b->checkBoxSwitch->setChecked(true);
        b->buttonOK->click();
    });
    sw.modal = script.runner();
    sw.Prepare("S", nullptr, false, 0, 0, 0, 0);
    sw.Modify();
    QCOMPARE(sw.listBoxSections->item(0)->text(), QStringLiteral("*QUICK"));
    QVERIFY(!sw.model().Pad());  // the only entry went
    sw.Modify();
    QCOMPARE(sw.listBoxSections->item(0)->text(), QStringLiteral("QUICK"));
    // Cancel writes nothing.
    sw.buttonCancel->click();
    QCOMPARE(sw._exit, 1);
    QCOMPARE(ReadBytes(dirs.settings + "S.controlpad"), QByteArray("QUICK\n"));
    // A section without MASK opens nothing.
    QVERIFY(WriteBytes(dirs.archive + "N.cpinfo", "SECTION=WIDTH\nTYPE=INTEGER\n"));
    DialogKXPreferences none(dirs, &ui);
    Script silent;
    none.modal = silent.runner();
    none.Prepare("N", nullptr, false, 0, 0, 0, 0);
    none.Modify();
    QVERIFY(silent.seen.isEmpty());
}

// Without a schema the pad is released: the Save buttons are off, so the
// user's and the global pad survive. With one, all keys off deletes them.
void SettingsTest::saveButtons_data() {
    QTest::addColumn<bool>("schema");
    QTest::addColumn<bool>("global");
    QTest::newRow("no schema") << false << false;
    QTest::newRow("save user deletes the emptied pad") << true << false;
    QTest::newRow("save global deletes both") << true << true;
}

void SettingsTest::saveButtons() {
    QFETCH(bool, schema);
    QFETCH(bool, global);
    Sandbox box;
    const KXBrowserDirs dirs = dirsOf(box);
    QVERIFY(WriteBytes(dirs.settings + "T.controlpad", "WIDTH=800\n"));
    QVERIFY(WriteBytes(dirs.archive + "T.controlpad", "WIDTH=640\n"));
    if (schema) QVERIFY(WriteBytes(dirs.archive + "T.cpinfo", kSchema));
    ScriptedUi ui;
    DialogKXPreferences dlg(dirs, &ui);
    dlg.Prepare("T", nullptr, false, 0, 0, 0, 0);
    for (QPushButton* b : {dlg.buttonSaveUser, dlg.buttonSaveGlobal, dlg.buttonModify, dlg.buttonDisable})
        QCOMPARE(b->isEnabled(), schema);
    QVERIFY(dlg.buttonCancel->isEnabled());
    if (!schema) {
        QCOMPARE(dlg.listBoxSections->count(), 0);
        dlg.buttonSaveUser->click();  // (a click on a disabled button does nothing)
        dlg.buttonSaveGlobal->click();
        QCOMPARE(ReadBytes(dirs.settings + "T.controlpad"), QByteArray("WIDTH=800\n"));
        QCOMPARE(ReadBytes(dirs.archive + "T.controlpad"), QByteArray("WIDTH=640\n"));
        QCOMPARE(dlg._exit, 1);
        return;
    }
    dlg.listBoxSections->setCurrentRow(0);
    dlg.buttonDisable->click();
    QVERIFY(!dlg.model().Pad());
    (global ? dlg.buttonSaveGlobal : dlg.buttonSaveUser)->click();
    QCOMPARE(dlg._exit, 0);
    QVERIFY(!QFile::exists(dirs.settings + "T.controlpad"));
    QCOMPARE(QFile::exists(dirs.archive + "T.controlpad"), !global);
    QVERIFY(ui.messages.empty());
}

// An install folder that cannot be written: "Save Global" says so, and the
// editor stays open with the user's pad written.
void SettingsTest::failedGlobalSaveIsReported() {
    Sandbox box;
    KXBrowserDirs dirs = dirsOf(box);
    QVERIFY(WriteBytes(dirs.settings + "T.cpinfo", kSchema));
    QVERIFY(WriteBytes(dirs.settings + "T.controlpad", "WIDTH=800\n"));
    // A file where the folder should be: no one can write below it.
    QVERIFY(WriteBytes(box.root() + "/notafolder", "x"));
    dirs.archive = box.root() + "/notafolder/";
    ScriptedUi ui;
    DialogKXPreferences dlg(dirs, &ui);
    dlg.Prepare("T", nullptr, false, 0, 0, 0, 0);
    QVERIFY(dlg.buttonSaveGlobal->isEnabled());
    dlg.buttonSaveGlobal->click();
    QCOMPARE(dlg._exit, 1);
    QCOMPARE(int(ui.messages.size()), 1);
    QCOMPARE(ui.messages[0].caption, QStringLiteral("Kaxon5 Error"));
    QVERIFY2(ui.messages[0].text.contains(dirs.archive), qPrintable(ui.messages[0].text));
    QCOMPARE(ReadBytes(dirs.settings + "T.controlpad"), QByteArray("WIDTH=800\n"));
}

// Pixels read from the picture, the last column and row reachable and no
// further (a click on the box's far edge), bit planes read as chunky.
void SettingsTest::colourPicker_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("rgb");
    QTest::addColumn<QString>("index");
    QTest::addColumn<QString>("opacity");
    QTest::newRow("palette") << "palette" << "010, 020, 030 (#0a, #14, #1e)" << "5 (0..255)" << "255 (0..255) - fully";
    QTest::newRow("transparent index") << "transparent" << "010, 020, 030 (#0a, #14, #1e)" << "5 (0..255)"
                                       << "0 (0..255) - partially";
    QTest::newRow("bit planes") << "planar" << "010, 020, 030 (#0a, #14, #1e)" << "5 (0..255)" << "255 (0..255) - fully";
    QTest::newRow("24 bit with alpha map") << "rgb" << "200, 100, 050 (#c8, #64, #32)" << "[NONE]"
                                           << "128 (0..255) - partially";
    QTest::newRow("48 bit, big-endian") << "rgb48" << "171, 205, 239 (#ab, #cd, #ef)" << "[NONE]"
                                        << "255 (0..255) - fully";
}

void SettingsTest::colourPicker() {
    QFETCH(QString, kind);
    QFETCH(QString, rgb);
    QFETCH(QString, index);
    QFETCH(QString, opacity);
    const uint32_t w = 10, h = 3;  // a width that is no multiple of 8
    KX_GfxBuffer* b = nullptr;
    if (kind == "palette" || kind == "transparent") {
        b = MakeGfx(w, h, 8);
        b->Data[w * h - 1] = 5;
        if (kind == "transparent") {
            b->AlphaType = KXALPHA_SINGLECOLOR;
            KXSUP_SetAlphaIndex(b, 5);
        }
    } else if (kind == "planar") {
        b = MakeGfx(w, h, 4, BITPLANE);
        // Index 5 = planes 0 and 2 at the last pixel (bit 6 of byte 1).
        const uint32_t plane = b->BytesPerLine * h;
        b->Data[0 * plane + (h - 1) * b->BytesPerLine + 1] = 0x40;
        b->Data[2 * plane + (h - 1) * b->BytesPerLine + 1] = 0x40;
    } else if (kind == "rgb") {
        b = MakeGfx(w, h, 24);
        uint8_t* px = b->Data + (w * h - 1) * 3;
        px[0] = 200, px[1] = 100, px[2] = 50;
        auto* map = static_cast<uint8_t*>(AllocVec(w * h, MEMF_CLEAR));
        map[w * h - 1] = 128;
        b->AlphaType = KXALPHA_CHANNEL8;
        b->AlphaData = map;
    } else {
        b = MakeGfx(w, h, 48);
        b->Flags = KXGFXF_MM;
        uint8_t* px = b->Data + (w * h - 1) * 6;
        const uint8_t s[6] = {0xab, 0x01, 0xcd, 0x02, 0xef, 0x03};
        memcpy(px, s, 6);
    }
    b->Palette[15] = 10, b->Palette[16] = 20, b->Palette[17] = 30;
    QVERIFY(b);
    Sandbox box;
    DialogCPColor dlg(dirsOf(box));
    dlg.Prepare(b, false);
    dlg.show();
    QCOMPARE(dlg.labelPixel->text(), QStringLiteral("0, 0 (10, 3)"));
    // The box's far corner maps to x = width: the picture's last pixel.
    dlg.ClickAt(QPoint(DialogCPColor::kBoxWidth, DialogCPColor::kBoxHeight));
    QCOMPARE(dlg.labelPixel->text(), QStringLiteral("9, 2 (10, 3)"));
    QCOMPARE(dlg.labelRGB->text(), rgb);
    QCOMPARE(dlg.labelIndex->text(), index);
    QCOMPARE(dlg.labelOpacity->text(), opacity);
    // A real click on the box's last pixel lands there too.
    QTest::mouseClick(dlg.pictureBoxPreview, Qt::LeftButton, {},
                      QPoint(DialogCPColor::kBoxWidth - 1, DialogCPColor::kBoxHeight - 1));
    QCOMPARE(dlg.labelPixel->text(), QStringLiteral("9, 2 (10, 3)"));
    QCOMPARE(b->Type, kind == "planar" ? uint32_t(BITPLANE) : uint32_t(ONEPLANE));  // the caller's picture stays
    if (kind == "planar") {
        dlg.ClickAt(QPoint(0, DialogCPColor::kBoxHeight - 1));
        QCOMPARE(dlg.labelIndex->text(), QStringLiteral("0 (0..255)"));
    }
    dlg.buttonOK->click();
    QCOMPARE(dlg._exit, 0);
    if (kind == "rgb") {
        QCOMPARE(dlg._R, 200L);
        QCOMPARE(dlg._A, 128L);
        QCOMPARE(dlg._I, -1L);
        dlg.resize(dlg.sizeHint());
        dlg.grab().save(ArtefactDir() + "/colour_picker.png");
    }
    KXSUP_FreeGfxBuffer(b);
}

// An AREA key with the loaded picture as reference: the area dialog's
// rectangle is stored, then the text editor shows it.
void SettingsTest::areaFromReference() {
    if (!KX_IsBuilt("kxpCrop") || !KX_IsBuilt("kxpAnyTo24Bit")) QSKIP("needs Crop and AnyTo24Bit");
    Sandbox box;
    const KXBrowserDirs dirs = dirsOf(box);
    QVERIFY(WriteBytes(dirs.archive + "A.cpinfo", "SECTION=KX_AREA\nTYPE=AREA\nMASK=*\n"));
    KX_GfxBuffer* b = MakeGfx(40, 30, 8);
    ScriptedUi ui;
    DialogKXPreferences dlg(dirs, &ui);
    Script script;
    script.steps.push_back([](QDialog* d) {
        auto* a = qobject_cast<DialogAreaSelect*>(d);
        QVERIFY(a);
        a->numericUpDownL->setValue(4);
        a->numericUpDownT->setValue(3);
        a->buttonOK->click();
    });
    script.steps.push_back([](QDialog* d) {
        auto* t = qobject_cast<DialogCPString*>(d);
        QVERIFY(t);
        QCOMPARE(t->textBoxValue->text(), QStringLiteral("4,3,36,27"));
        t->buttonOK->click();
    });
    dlg.modal = script.runner();
    dlg.Prepare("A", b, false, 0, 0, 0, 0);
    QVERIFY(!dlg.checkBoxReference->isHidden());
    dlg.Modify();
    QCOMPARE(script.seen, (QStringList{"DialogAreaSelect", "DialogCPString"}));
    QCOMPARE(dlg.listBoxSections->item(0)->text(), QStringLiteral("KX_AREA=4,3,36,27"));
    QCOMPARE(b->ColorDepth, 8u);
    KXSUP_FreeGfxBuffer(b);
}

// Colour keys with the loaded picture as reference: the picker for RGB
// keys on true-colour pictures and for index keys on palette pictures,
// nothing further after it; otherwise the desktop's colour dialog (RGB) or
// the number editor (index), then the text editor for RGB.
void SettingsTest::colourKeys_data() {
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("depth");
    QTest::addColumn<bool>("reference");
    QTest::addColumn<QStringList>("dialogs");
    QTest::addColumn<QString>("stored");
    QTest::newRow("RGB from a 24-bit picture") << "COLOR_RGB" << 24 << true << QStringList{"DialogCPColor"} << "C=0xc86432";
    QTest::newRow("RGB0 from a 24-bit picture") << "COLOR_RGB0" << 24 << true << QStringList{"DialogCPColor"} << "C=0xc8643200";
    QTest::newRow("index from a palette picture") << "COLOR_IDX" << 8 << true << QStringList{"DialogCPColor"} << "C=5";
    QTest::newRow("RGB on a palette picture: desktop dialog") << "COLOR_RGB" << 8 << true << QStringList{"DialogCPString"} << "C=0x00ff00";
    QTest::newRow("reference off: desktop dialog") << "COLOR_RGBA" << 24 << false << QStringList{"DialogCPString"} << "C=0x00ff00ff";
    QTest::newRow("index on a true-colour picture: number") << "COLOR_IDX" << 24 << true << QStringList{"DialogCPSlider"} << "C=7";
}

void SettingsTest::colourKeys() {
    QFETCH(QString, type);
    QFETCH(int, depth);
    QFETCH(bool, reference);
    QFETCH(QStringList, dialogs);
    QFETCH(QString, stored);
    Sandbox box;
    const KXBrowserDirs dirs = dirsOf(box);
    QVERIFY(WriteBytes(dirs.archive + "K.cpinfo", "SECTION=C\nTYPE=" + type.toLatin1() + "\nMASK=*\nMAX=255\n"));
    KX_GfxBuffer* b = MakeGfx(4, 2, uint32_t(depth));
    if (depth == 24) {
        b->Data[0] = 200, b->Data[1] = 100, b->Data[2] = 50;
    } else {
        b->Data[0] = 5;
    }
    ScriptedUi ui;
    ui.colours.push_back(QColor(0, 255, 0));
    DialogKXPreferences dlg(dirs, &ui);
    Script script;
    script.steps.push_back([](QDialog* d) {
        if (auto* c = qobject_cast<DialogCPColor*>(d)) c->buttonOK->click();  // pixel 0, 0
        if (auto* n = qobject_cast<DialogCPSlider*>(d)) {
            n->numericUpDown->setValue(7);
            n->buttonOK->click();
        }
        if (auto* t = qobject_cast<DialogCPString*>(d)) t->buttonOK->click();
    });
    dlg.modal = script.runner();
    dlg.Prepare("K", b, false, 0, 0, 0, 0);
    dlg.checkBoxReference->setChecked(reference);
    dlg.Modify();
    QCOMPARE(script.seen, dialogs);
    QCOMPARE(dlg.listBoxSections->item(0)->text(), stored);
    KXSUP_FreeGfxBuffer(b);
}

void SettingsTest::moduleChooser() {
    Sandbox box;
    for (bool ops : {true, false}) {
        KXClass lib;
        lib.SetPaths(box.progDir().toLocal8Bit().constData(), box.userHome().toLocal8Bit().constData());
        std::set<QString> names;
        if (ops)
            for (KXOperator** o = lib.GetOperators(); *o; ++o) names.insert(KX_ModuleName((*o)->PadPath));
        else
            for (uint32_t k = 0; k < 2; ++k)
                for (KXObject** o = lib.GetObjects(k); *o; ++o) names.insert(KX_ModuleName((*o)->PadPath));
        const QString current = ops ? "Resize" : "PNG";
        DialogKXModuleList dlg(dirsOf(box), ops, current);
        QStringList listed;
        for (int i = 0; i < dlg.listBoxModules->count(); ++i) listed << dlg.listBoxModules->item(i)->text();
        QCOMPARE(listed, QStringList(names.begin(), names.end()));
        QCOMPARE(listed.size(), ops ? 62 : int(names.size()));
        QVERIFY(!listed.contains("RAW-Import"));  // device readers are no format modules here
        QCOMPARE(dlg.listBoxModules->currentItem()->text(), current);
        QCOMPARE(dlg.labelInfo->text(), ops ? QStringLiteral("Resizes a graphics by interpolation.") : QStringLiteral("PNG"));
        QVERIFY(dlg.labelFlags->text().contains(ops ? "SIZECHANGE" : "WRITE"));
        dlg.buttonCancel->click();
        QCOMPARE(dlg._exit, 1);
        QVERIFY(dlg.lastsel.isEmpty());
        DialogKXModuleList first(dirsOf(box), ops, "no such module");
        QCOMPARE(first.listBoxModules->currentRow(), 0);
        first.buttonOK->click();
        QCOMPARE(first.lastsel, listed.first());
    }
}

// The window's openers: the browsers' "Settings...", "All Settings..."
// and the save panel's button; the colour browser commands.
void SettingsTest::windowOpeners() {
    Sandbox box;
    const QString arc = box.progDir() + "/ENV/Kaxon5-Library/";
    QVERIFY(WriteBytes(arc + "Negate.cpinfo", "SECTION=QUICK\nTYPE=NONE\nMASK=*\n"));
    QVERIFY(WriteBytes(arc + "PNG.cpinfo", "SECTION=Z_COMPRESSION\nTYPE=INTEGER\nMASK=*\nMIN=0\nMAX=9\n"));
    QVERIFY(WriteBytes(arc + "Kaxon5.cpinfo", "SECTION=UNDO\nTYPE=STRING\nMASK=<YES|NO>\n"));
    ScriptedUi ui;
    Main w(box.options(&ui));
    QStringList opened;
    QString title;
    // Checks run in a void lambda of their own: QVERIFY returns from it.
    auto answer = [&](QDialog* d) {
        opened << d->metaObject()->className();
        if (auto* p = qobject_cast<DialogKXPList*>(d)) {
            QVERIFY(p->Select("Negate"));
            QVERIFY(p->buttonSettings->isEnabled());
            p->buttonSettings->click();
            QVERIFY(p->Select("Blur"));
            QVERIFY(!p->buttonSettings->isEnabled());
        } else if (auto* e = qobject_cast<DialogKXPreferences*>(d)) {
            title = e->listBoxSections->count() ? e->listBoxSections->item(0)->text() : QString();
            e->buttonCancel->click();
        } else if (auto* o = qobject_cast<DialogKXOList*>(d)) {
            QVERIFY(o->Select("PNG"));
            o->buttonSettings->click();
        } else if (auto* c = qobject_cast<DialogCPColor*>(d)) {
            QVERIFY(c->buttonOK->isHidden());
            QCOMPARE(c->buttonCancel->text(), QStringLiteral("Done"));
        }
    };
    w.dialogScript = [&](QDialog* d) {
        answer(d);
        return 0;
    };
    QVERIFY(w.Trigger("options.filters"));
    QCOMPARE(opened, (QStringList{"DialogKXPList", "DialogKXPreferences"}));
    QCOMPARE(title, QStringLiteral("*QUICK"));
    opened.clear();
    QVERIFY(w.Trigger("options.formats"));
    QCOMPARE(opened, (QStringList{"DialogKXOList", "DialogKXPreferences"}));
    QCOMPARE(title, QStringLiteral("*Z_COMPRESSION"));

    // "All Settings..." edits the program's own pad.
    opened.clear();
    bool allSettings = false;
    w.optionsScript = [&](DialogOptions* d) {
        allSettings = d->buttonAllSettings->isEnabled();
        d->buttonAllSettings->click();
        d->buttonCancel->click();
        return 0;
    };
    QVERIFY(w.Trigger("options.program"));
    QVERIFY(allSettings);
    QCOMPARE(opened, QStringList{"DialogKXPreferences"});
    QCOMPARE(title, QStringLiteral("*UNDO"));

    // The save panel's button follows the chosen writer's schema.
    const int png = w.comboBoxFormat->findText("PNG");
    if (png >= 0) {
        w.comboBoxFormat->setCurrentIndex(png);
        QVERIFY(w.buttonConfig->isEnabled());
        opened.clear();
        w.buttonConfig->click();
        QCOMPARE(opened, QStringList{"DialogKXPreferences"});
        for (int i = 0; i < w.comboBoxFormat->count(); ++i)
            if (w.comboBoxFormat->itemText(i) != "PNG") {
                w.comboBoxFormat->setCurrentIndex(i);
                QVERIFY(!w.buttonConfig->isEnabled());
                break;
            }
    }

    // The colour browsers need a picture: off without one (the command
    // itself refuses too).
    for (const char* id : {"palette.browser", "info.analyzer"}) QVERIFY(!w.actions.value(id)->isEnabled());
    opened.clear();
    w.actions.value("info.analyzer")->setEnabled(true);
    QVERIFY(w.Trigger("info.analyzer"));
    QVERIFY(opened.isEmpty());
    QVERIFY(w.labelStatus->text().startsWith(w.Msg("TXT_ERROR") + " "));
    const QString pic = box.pictures() + "/p.ppm";
    QVERIFY(WritePPM(pic, TestPicture(12, 6)));
    QCOMPARE(w.LoadFile(pic), 0u);
    QVERIFY(w.Trigger("palette.browser"));
    QVERIFY(w.Trigger("info.analyzer"));
    QCOMPARE(opened, (QStringList{"DialogCPColor", "DialogCPColor"}));
}

// Every module of the catalogue and the program itself ship a schema (one
// without sections for a module that reads no settings); each loads, every
// section can be edited, integer and choice defaults lie
// within their schema, and the pad saves.
void SettingsTest::everyShippedSchema() {
    Sandbox box;
    const QString arc = box.progDir() + "/ENV/Kaxon5-Library/";
    const QDir src(QStringLiteral(KX_SOURCE_DIR "/ENV/Kaxon5-Library"));
    for (const QString& f : src.entryList({"*.cpinfo"}, QDir::Files)) QVERIFY(QFile::copy(src.filePath(f), arc + f));
    QStringList names{"Kaxon5"};
    uint32_t count = 0;
    const KXOperatorReg* ops = KX_OperatorRegs(&count);
    for (uint32_t i = 0; i < count; ++i) names << KX_ModuleName(ops[i].PadName);
    const KXFormatReg* fmts = KX_FormatRegs(&count);
    for (uint32_t i = 0; i < count; ++i) names << KX_ModuleName(fmts[i].PadName);
    names.removeDuplicates();
    for (const QString& name : names) {
        KXPrefsModel m;
        QVERIFY2(m.Load(name.toStdString(), box.envDir().toStdString(), arc.toStdString()), qPrintable(name + ": no schema"));
        std::set<std::string> keys;
        for (size_t i = 0; i < m.Sections().size(); ++i) {
            const CPSection& s = m.Sections()[i];
            const QString where = name + "/" + QString::fromStdString(s.key);
            QVERIFY2(keys.insert(s.key).second, qPrintable(where + ": twice"));
            const CPEditor e = KXPrefsModel::EditorFor(s);
            QVERIFY2(e != CPEditor::None, qPrintable(where + ": no MASK"));
            QVERIFY2(!s.description.empty(), qPrintable(where + ": no DESCRIPTION"));
            if (e == CPEditor::Integer && s.hasDefault) {
                long min = 0, max = 0;
                KXPrefsModel::Limits(s, &min, &max);
                const long v = std::strtol(s.def.c_str(), nullptr, 10);
                QVERIFY2(min <= max && v >= min && v <= max, qPrintable(where + ": default outside its limits"));
            }
            if (e == CPEditor::Choice && s.hasDefault) {
                bool in = false;
                for (const std::string& c : KXPrefsModel::Choices(s.mask))
                    in = in || QString::fromStdString(c).compare(QString::fromStdString(s.def), Qt::CaseInsensitive) == 0;
                QVERIFY2(in, qPrintable(where + ": default not among the choices"));
            }
            if (e != CPEditor::Switch) QVERIFY(m.Store(i, m.CurrentValue(m.Sections()[i])));
        }
        QVERIFY2(m.SaveTo(box.envDir().toStdString()) || !m.Pad(), qPrintable(name));
    }
}

KX_QTEST_MAIN(SettingsTest)
#include "tst_settings.moc"
