#include "DialogSettings.h"

#include <QCheckBox>
#include <QColor>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <climits>

#include "DialogAreaSelect.h"
#include "DialogSettingsColour.h"
#include "OwnOperator.h"
#include "UiServices.h"
#include "core/catalogue.h"
#include "core/gfxbuffer.h"
#include "core/kxapp.h"
#include "core/kxclass.h"
#include "core/object.h"
#include "core/operator.h"

namespace {

QString qs(const std::string& s) { return QString::fromUtf8(s.c_str()); }
std::string ss(const QString& s) { return s.toUtf8().toStdString(); }
std::string fs(const QString& path) { return QFile::encodeName(path).toStdString(); }

QLabel* captioned(QGridLayout* g, int row, const QString& caption, const QString& text, QWidget* parent) {
    g->addWidget(new QLabel(caption, parent), row, 0);
    auto* l = new QLabel(text, parent);
    l->setWordWrap(true);
    l->setMinimumWidth(260);
    g->addWidget(l, row, 1);
    return l;
}

int clampInt(long v) { return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : int(v); }

}  // namespace

// ------------------------------------------------------------ value editors

DialogCPValue::DialogCPValue(const QString& key, const QString& description, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Select Value"));
    auto* v = new QVBoxLayout(this);
    auto* g = new QGridLayout;
    labelName = captioned(g, 0, QStringLiteral("Name"), key, this);
    labelDescription = captioned(g, 1, QStringLiteral("Description"), description, this);
    v->addLayout(g);
    body = new QVBoxLayout;
    v->addLayout(body);
    buttonOK = new QPushButton(QStringLiteral("OK"), this);
    buttonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    buttonOK->setDefault(true);
    auto* h = new QHBoxLayout;
    h->addStretch();
    h->addWidget(buttonOK);
    h->addWidget(buttonCancel);
    v->addLayout(h);
    connect(buttonOK, &QPushButton::clicked, this, [this] {
        _exit = 0;
        accept();
    });
    connect(buttonCancel, &QPushButton::clicked, this, [this] {
        _exit = 1;
        reject();
    });
}

DialogCPBool::DialogCPBool(bool on, const QString& key, const QString& description, QWidget* parent)
    : DialogCPValue(key, description, parent) {
    checkBoxSwitch = new QCheckBox(QStringLiteral("Switch Selection"), this);
    checkBoxSwitch->setChecked(on);
    body->addWidget(checkBoxSwitch);
}

bool DialogCPBool::_result() const { return checkBoxSwitch->isChecked(); }

DialogCPSlider::DialogCPSlider(long min, long max, long value, const QString& key, const QString& description,
                               QWidget* parent)
    : DialogCPValue(key, description, parent) {
    numericUpDown = new QSpinBox(this);
    // A value outside the limits starts at the nearer limit.
    numericUpDown->setRange(clampInt(min), clampInt(max < min ? min : max));
    numericUpDown->setValue(clampInt(value));
    labelMin = new QLabel(QString::number(min), this);
    labelMax = new QLabel(QString::number(max), this);
    auto* h = new QHBoxLayout;
    h->addWidget(labelMin);
    h->addWidget(numericUpDown, 1);
    h->addWidget(labelMax);
    body->addLayout(h);
}

long DialogCPSlider::_result() const { return numericUpDown->value(); }

DialogCPString::DialogCPString(const QString& min, const QString& max, const QString& text, const QString& key,
                               const QString& description, const QString& mask, const QString& type, QWidget* parent)
    : DialogCPValue(key, description, parent) {
    textBoxValue = new QLineEdit(text, this);
    textBoxValue->setMinimumWidth(320);
    body->addWidget(textBoxValue);
    auto* g = new QGridLayout;
    labelMinLen = captioned(g, 0, QStringLiteral("MinLen"), min, this);
    labelMaxLen = captioned(g, 1, QStringLiteral("MaxLen"), max, this);
    labelMask = captioned(g, 2, QStringLiteral("Mask"), mask, this);
    labelType = captioned(g, 3, QStringLiteral("Type"), type, this);
    body->addLayout(g);
}

QString DialogCPString::_result() const { return textBoxValue->text(); }

DialogCPListView::DialogCPListView(const QStringList& choices, int position, const QString& key,
                                   const QString& description, QWidget* parent)
    : DialogCPValue(key, description, parent) {
    listViewChoices = new QListWidget(this);
    listViewChoices->addItems(choices);
    if (position >= 0 && position < choices.size()) listViewChoices->setCurrentRow(position);
    body->addWidget(listViewChoices);
    connect(listViewChoices, &QListWidget::itemDoubleClicked, buttonOK, &QPushButton::click);
}

QString DialogCPListView::_result() const {
    return listViewChoices->currentItem() ? listViewChoices->currentItem()->text() : QString();
}

// ----------------------------------------------------------- module chooser

DialogKXModuleList::DialogKXModuleList(const KXBrowserDirs& dirs, bool operators, const QString& current,
                                       QWidget* parent)
    : QDialog(parent), lib(KX_MakeLibrary(dirs)), ops(operators) {
    setWindowTitle(QStringLiteral("Select KX Module"));
    listBoxModules = new QListWidget(this);
    listBoxModules->setMinimumSize(200, 280);
    auto* g = new QGridLayout;
    labelInfo = captioned(g, 0, QStringLiteral("Info:"), QStringLiteral("No Info."), this);
    labelFlags = captioned(g, 1, QStringLiteral("Flags:"), QStringLiteral("No Info."), this);
    buttonOK = new QPushButton(QStringLiteral("OK"), this);
    buttonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    auto* right = new QVBoxLayout;
    right->addLayout(g);
    right->addStretch();
    auto* b = new QHBoxLayout;
    b->addStretch();
    b->addWidget(buttonOK);
    b->addWidget(buttonCancel);
    right->addLayout(b);
    auto* h = new QHBoxLayout(this);
    h->addWidget(listBoxModules);
    h->addLayout(right);

    // Readers and writers: device readers are no format modules here.
    listBoxModules->addItems(ops ? KX_OperatorNames(lib.get()) : KX_ObjectNames(lib.get(), 2));
    connect(listBoxModules, &QListWidget::currentRowChanged, this, [this] { selected(); });
    connect(listBoxModules, &QListWidget::itemDoubleClicked, buttonOK, &QPushButton::click);
    connect(buttonOK, &QPushButton::clicked, this, [this] {
        if (listBoxModules->currentItem()) lastsel = listBoxModules->currentItem()->text();
        _exit = 0;
        accept();
    });
    connect(buttonCancel, &QPushButton::clicked, this, [this] {
        _exit = 1;
        reject();
    });
    if (listBoxModules->count()) listBoxModules->setCurrentRow(0);
    const auto found = listBoxModules->findItems(current, Qt::MatchExactly);
    if (!current.isEmpty() && !found.isEmpty()) listBoxModules->setCurrentItem(found.first());
}

DialogKXModuleList::~DialogKXModuleList() = default;

void DialogKXModuleList::selected() {
    const QListWidgetItem* it = listBoxModules->currentItem();
    if (!it) return;
    if (ops) {
        if (const KXOperator* op = KX_OperatorNamed(lib.get(), it->text())) {
            labelInfo->setText(QString::fromLatin1(op->Description));
            labelFlags->setText(KX_OperatorFlags(op));
        }
    } else if (const KXObject* o = KX_ObjectNamed(lib.get(), 2, it->text())) {
        labelInfo->setText(QString::fromLatin1(o->FormatName));
        labelFlags->setText(KX_ObjectFlags(o));
    }
}

// ------------------------------------------------------------------ editor

DialogKXPreferences::DialogKXPreferences(const KXBrowserDirs& d, UiServices* u, QWidget* parent)
    : QDialog(parent), dirs(d), ui(u) {
    setWindowTitle(QStringLiteral("Kaxon5 Preferences (.cpinfo)"));
    listBoxSections = new QListWidget(this);
    listBoxSections->setMinimumSize(360, 300);
    buttonModify = new QPushButton(QStringLiteral("Modify"), this);
    buttonDisable = new QPushButton(QStringLiteral("Disable"), this);
    buttonSaveUser = new QPushButton(QStringLiteral("Save User"), this);
    buttonSaveGlobal = new QPushButton(QStringLiteral("Save Global"), this);
    buttonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    checkBoxReference = new QCheckBox(QStringLiteral("Use loaded graphics as reference"), this);
    checkBoxReference->setChecked(true);
    auto* v = new QVBoxLayout(this);
    v->addWidget(listBoxSections, 1);
    v->addWidget(checkBoxReference);
    auto* h = new QHBoxLayout;
    for (QPushButton* b : {buttonModify, buttonDisable}) h->addWidget(b);
    h->addStretch();
    for (QPushButton* b : {buttonSaveUser, buttonSaveGlobal, buttonCancel}) h->addWidget(b);
    v->addLayout(h);

    connect(listBoxSections, &QListWidget::itemDoubleClicked, this, [this] { Modify(); });
    connect(buttonModify, &QPushButton::clicked, this, [this] { Modify(); });
    connect(buttonDisable, &QPushButton::clicked, this, [this] { DisableSelected(); });
    connect(buttonSaveUser, &QPushButton::clicked, this, [this] { save(false); });
    connect(buttonSaveGlobal, &QPushButton::clicked, this, [this] { save(true); });
    connect(buttonCancel, &QPushButton::clicked, this, [this] {
        _exit = 1;
        reject();
    });
}

DialogKXPreferences::~DialogKXPreferences() = default;

KXClass* DialogKXPreferences::library() {
    if (!lib) lib = KX_MakeLibrary(dirs);
    return lib.get();
}

void DialogKXPreferences::Prepare(const QString& name, KX_GfxBuffer* img, bool, long left, long top, long width,
                                  long height) {
    image = img;
    areaL = left;
    areaT = top;
    areaW = width;
    areaH = height;
    _exit = 1;
    prefs.Load(ss(name), fs(dirs.settings), fs(dirs.archive));
    // Without a schema the pad was released: saving now would delete the
    // user's pad (and the global one), so nothing can be saved or edited.
    const bool editable = prefs.HasSchema();
    for (QPushButton* b : {buttonModify, buttonDisable, buttonSaveUser, buttonSaveGlobal}) b->setEnabled(editable);
    if (!image) {
        checkBoxReference->setChecked(false);
        checkBoxReference->hide();
    }
    fill(0);
}

int DialogKXPreferences::ShowDialogP(const QString& name, KX_GfxBuffer* img, bool area, long left, long top,
                                     long width, long height) {
    Prepare(name, img, area, left, top, width, height);
    run(this);
    return _exit;
}

void DialogKXPreferences::fill(int row) {
    listBoxSections->clear();
    for (const CPSection& s : prefs.Sections()) listBoxSections->addItem(qs(s.display));
    if (listBoxSections->count()) listBoxSections->setCurrentRow(qBound(0, row, listBoxSections->count() - 1));
}

void DialogKXPreferences::DisableSelected() {
    const int row = listBoxSections->currentRow();
    if (row < 0 || size_t(row) >= prefs.Sections().size()) return;
    prefs.Disable(size_t(row));
    fill(row);
}

void DialogKXPreferences::save(bool global) {
    if (!prefs.HasSchema()) return;
    QStringList failed;
    const std::string user = fs(dirs.settings);
    if (!prefs.SaveTo(user)) failed << dirs.settings;
    if (global && !prefs.SaveTo(fs(dirs.archive))) failed << dirs.archive;
    if (!failed.isEmpty()) {
        // The editor stays open: the user can save elsewhere or cancel.
        if (ui)
            ui->Message(this, QStringLiteral("Kaxon5 Error"),
                        QStringLiteral("Could not save the settings file %1 in\n%2")
                            .arg(qs(prefs.Name()) + QStringLiteral(".controlpad"), failed.join(QLatin1Char('\n'))),
                        UiServices::Icon::Critical);
        return;
    }
    _exit = 0;
    accept();
}

void DialogKXPreferences::Modify() {
    const int row = listBoxSections->currentRow();
    if (row < 0 || size_t(row) >= prefs.Sections().size()) return;
    const size_t i = size_t(row);
    const CPSection s = prefs.Sections()[i];
    switch (KXPrefsModel::EditorFor(s)) {
    case CPEditor::None:
        return;
    case CPEditor::Switch: {
        const bool was = prefs.IsOn(s);
        DialogCPBool d(was, qs(s.key), qs(s.description), this);
        run(&d);
        if (d._exit) break;
        if (d._result() && !was)
            prefs.SwitchOn(i);
        else if (!d._result() && was)
            prefs.Disable(i);
        break;
    }
    case CPEditor::Choice: {
        QStringList choices;
        for (const std::string& c : KXPrefsModel::Choices(s.mask)) choices << qs(c);
        const QString current = qs(prefs.CurrentValue(s));
        int pos = 0;
        for (int k = 0; k < choices.size(); ++k)
            if (choices[k].compare(current, Qt::CaseInsensitive) == 0) {
                pos = k;
                break;
            }
        DialogCPListView d(choices, pos, qs(s.key), qs(s.description), this);
        run(&d);
        if (!d._exit && d.listViewChoices->currentItem()) prefs.Store(i, ss(d._result()));
        break;
    }
    case CPEditor::Integer:
        editNumber(i);
        break;
    case CPEditor::Area:
        editArea(i);
        editText(i);
        break;
    case CPEditor::Colour:
        editColour(i);
        break;
    case CPEditor::Module: {
        const bool operators = qs(s.mask).compare(QLatin1String("_KXOPERATOR"), Qt::CaseInsensitive) == 0;
        DialogKXModuleList d(dirs, operators, qs(prefs.CurrentValue(s)), this);
        run(&d);
        if (!d._exit && !d.lastsel.isEmpty()) prefs.Store(i, ss(d.lastsel));
        break;
    }
    case CPEditor::File:
        editFile(i);
        break;
    case CPEditor::Text:
        editText(i);
        break;
    }
    fill(row);
}

bool DialogKXPreferences::editNumber(size_t i) {
    const CPSection s = prefs.Sections()[i];
    long min = 0, max = 0;
    KXPrefsModel::Limits(s, &min, &max);
    const long value = std::strtol(prefs.CurrentValue(s).c_str(), nullptr, 10);
    DialogCPSlider d(min, max, value, qs(s.key), qs(s.description), this);
    run(&d);
    if (d._exit) return false;
    prefs.Store(i, std::to_string(d._result()));
    return true;
}

bool DialogKXPreferences::editText(size_t i) {
    const CPSection s = prefs.Sections()[i];
    DialogCPString d(qs(s.min), qs(s.max), qs(prefs.CurrentValue(s)), qs(s.key), qs(s.description), qs(s.mask),
                     qs(s.type), this);
    run(&d);
    if (d._exit) return false;
    prefs.Store(i, ss(d._result()));
    return true;
}

void DialogKXPreferences::editArea(size_t i) {
    if (!image || !checkBoxReference->isChecked()) return;
    KX_GfxBuffer* on = image;
    KX_GfxBuffer* converted = nullptr;
    if (image->ColorDepth < 24) {
        if (kxown::Run(library(), KXOP_ANYTO24BIT, image, &converted, {}, false) != KXERR_NONE) return;
        on = converted;
    }
    DialogAreaSelect d(library(), this);
    d.Prepare(on);
    run(&d);
    if (!d._exit) {
        KXSUP_FreeGfxBuffer(d.TakeResult());
        areaL = d.numL;
        areaT = d.numT;
        areaW = d.numW;
        areaH = d.numH;
        const bool whole = areaL == 0 && areaT == 0 && areaW == long(on->Width) && areaH == long(on->Height);
        if (!whole)
            prefs.Store(i, std::to_string(areaL) + "," + std::to_string(areaT) + "," + std::to_string(areaW) + "," +
                               std::to_string(areaH));
    }
    if (converted) KXSUP_FreeGfxBuffer(converted);
}

void DialogKXPreferences::editColour(size_t i) {
    const CPSection s = prefs.Sections()[i];
    const bool index = QString::fromStdString(s.type).compare(QLatin1String("COLOR_IDX"), Qt::CaseInsensitive) == 0;
    auto hex = [](unsigned v) { return QStringLiteral("%1").arg(v & 0xFF, 2, 16, QLatin1Char('0')); };
    auto storeRgb = [&](unsigned r, unsigned g, unsigned b) {
        QString v = QStringLiteral("0x") + hex(r) + hex(g) + hex(b);
        if (QString::fromStdString(s.type).compare(QLatin1String("COLOR_RGB0"), Qt::CaseInsensitive) == 0)
            v += hex(0);
        else if (QString::fromStdString(s.type).compare(QLatin1String("COLOR_RGBA"), Qt::CaseInsensitive) == 0)
            v += hex(255);
        prefs.Store(i, ss(v));
    };
    const bool picker = image && checkBoxReference->isChecked() &&
                        (index ? image->ColorDepth <= 8 : image->ColorDepth > 8);
    if (picker) {
        DialogCPColor d(dirs, this);
        d.Prepare(image, false);
        run(&d);
        if (!d._exit) {
            if (index)
                prefs.Store(i, std::to_string(d._I));
            else
                storeRgb(unsigned(d._R), unsigned(d._G), unsigned(d._B));
        }
        return;  // after the picker no further editor opens
    }
    if (index) {
        editNumber(i);
        return;
    }
    QColor c;
    if (ui && ui->PickColour(this, c)) storeRgb(unsigned(c.red()), unsigned(c.green()), unsigned(c.blue()));
    editText(i);
}

void DialogKXPreferences::editFile(size_t i) {
    const CPSection s = prefs.Sections()[i];
    const QString mask = qs(s.mask).toUpper();
    const bool pads = mask == QLatin1String("_FILE_ENV") || mask == QLatin1String("_FILE_ENVARC") ||
                      mask == QLatin1String("_FILE_ENV_SUB") || mask == QLatin1String("_FILE_ENVARC_SUB");
    const QString filter = pads ? QStringLiteral("ControlPad Files (*.controlpad)") : QStringLiteral("All Files (*)");
    const QString current = qs(prefs.CurrentValue(s));
    QString dir, file;
    if (!current.isEmpty()) {
        const int slash = current.lastIndexOf(QLatin1Char('/'));
        dir = slash >= 0 ? current.left(slash + 1) : QString();
        file = current.mid(slash + 1);
    } else if (pads) {
        const QString name = qs(prefs.Name()) + QLatin1Char('/');
        if (mask == QLatin1String("_FILE_ENV")) dir = dirs.settings;
        else if (mask == QLatin1String("_FILE_ENVARC")) dir = dirs.archive;
        else if (mask == QLatin1String("_FILE_ENV_SUB")) dir = dirs.settings + name;
        else dir = dirs.archive + name;
    }
    const QString chosen = ui ? ui->OpenFileName(this, dir, file, filter) : QString();
    if (!chosen.isEmpty()) prefs.Store(i, ss(chosen));
}
