// The lossless JPEG dialogs (see DialogLossless.h).
#include "DialogLossless.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "UiServices.h"

namespace {
const char* const kNoFile = "No filename selected.";
const char* const kNoArea = "No crop area selected.";
const char* const kFilter = "JPEG-Files (*.jpg)";

QString fileNameOf(const QString& path) { return path.mid(path.lastIndexOf('/') + 1); }

QComboBox* combo(QWidget* parent, const QStringList& items) {
    auto* c = new QComboBox(parent);
    c->addItems(items);
    return c;
}

}  // namespace

DialogLLFile::DialogLLFile(UiServices* u, QWidget* parent, const QString& title) : QDialog(parent), ui(u) {
    setWindowTitle(title);
    labelFileName = new QLabel(QString::fromLatin1(kNoFile), this);
    buttonFile = new QPushButton(QStringLiteral("Select File..."), this);
    buttonOK = new QPushButton(QStringLiteral("OK"), this);
    buttonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    connect(buttonFile, &QPushButton::clicked, this, [this] { chooseFile(); });
    connect(buttonOK, &QPushButton::clicked, this, [this] { accepted(); });
    connect(buttonCancel, &QPushButton::clicked, this, [this] {
        _exit = true;
        reject();
    });
}

void DialogLLFile::openFiles(const QString& prog, const QString& save) {
    progdir = prog;
    savedir = save;
    _exit = true;
    _filename.clear();
    _fullname.clear();
    labelFileName->setText(QString::fromLatin1(kNoFile));
}

QBoxLayout* DialogLLFile::okCancel() {
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(buttonOK);
    buttons->addWidget(buttonCancel);
    return buttons;
}

void DialogLLFile::chooseFile() {
    const QString path = ui->SaveFileName(this, savedir, QString(), QString::fromLatin1(kFilter));
    if (path.isEmpty()) return;
    _fullname = path;
    _filename = fileNameOf(path);
    labelFileName->setText(_filename);
}

void DialogLLFile::accepted() {
    if (_fullname.isEmpty()) {
        ui->Message(this, QStringLiteral("Kaxon5 Error"), QStringLiteral("You have to select a filename first!\nOr Cancel?"),
                    UiServices::Icon::Critical);
        return;
    }
    if (!confirm()) return;
    _exit = false;
    accept();
}

DialogLLTransform::DialogLLTransform(UiServices* ui, QWidget* parent)
    : DialogLLFile(ui, parent, QStringLiteral("Lossless JPEG Transformation")) {
    checkBoxRotate = new QCheckBox(QStringLiteral("Rotate"), this);
    checkBoxFlip = new QCheckBox(QStringLiteral("Flip"), this);
    checkBoxTranspose = new QCheckBox(QStringLiteral("Transpose"), this);
    comboBoxDeg = combo(this, {QStringLiteral("90"), QStringLiteral("180"), QStringLiteral("270")});
    comboBoxFlip = combo(this, {QStringLiteral("horizontal"), QStringLiteral("vertical")});
    comboBoxTranspose = combo(this, {QStringLiteral("transpose"), QStringLiteral("transverse")});
    checkBoxOptimize = new QCheckBox(QStringLiteral("Optimize"), this);
    checkBoxProgressive = new QCheckBox(QStringLiteral("Progressive"), this);
    checkBoxTrim = new QCheckBox(QStringLiteral("Trim"), this);

    auto* grid = new QGridLayout;
    grid->addWidget(checkBoxRotate, 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("Angle [deg]:"), this), 0, 1);
    grid->addWidget(comboBoxDeg, 0, 2);
    grid->addWidget(checkBoxFlip, 1, 0);
    grid->addWidget(new QLabel(QStringLiteral("Axis [X/Y]:"), this), 1, 1);
    grid->addWidget(comboBoxFlip, 1, 2);
    grid->addWidget(checkBoxTranspose, 2, 0);
    grid->addWidget(new QLabel(QStringLiteral("Axis [UL/UR]:"), this), 2, 1);
    grid->addWidget(comboBoxTranspose, 2, 2);
    auto* note = new QLabel(QStringLiteral("select either operation (no combinations possible)"), this);
    auto* switches = new QHBoxLayout;
    switches->addWidget(checkBoxOptimize);
    switches->addWidget(checkBoxProgressive);
    switches->addWidget(checkBoxTrim);
    auto* trimNote = new QLabel(QStringLiteral("not fully lossless"), this);
    QFont small = trimNote->font();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    trimNote->setFont(small);
    switches->addWidget(trimNote);
    auto* file = new QHBoxLayout;
    file->addWidget(buttonFile);
    file->addWidget(labelFileName, 1);
    auto* v = new QVBoxLayout(this);
    v->addLayout(grid);
    v->addWidget(note);
    v->addLayout(switches);
    v->addLayout(file);
    v->addLayout(okCancel());

    // One operation at a time: checking one clears the other two.
    for (QCheckBox* b : {checkBoxRotate, checkBoxFlip, checkBoxTranspose})
        connect(b, &QCheckBox::toggled, this, [this, b](bool on) {
            if (!on) return;
            for (QCheckBox* o : {checkBoxRotate, checkBoxFlip, checkBoxTranspose})
                if (o != b) o->setChecked(false);
        });
    // The shared controls were made first; the keyboard still reaches them last.
    setTabOrder(checkBoxTrim, buttonFile);
    setTabOrder(buttonFile, buttonOK);
    setTabOrder(buttonOK, buttonCancel);
    Prepare(QString(), QString());
}

void DialogLLTransform::Prepare(const QString& prog, const QString& save) {
    openFiles(prog, save);
    _rotate = true;
    _flip = _transp = _optimize = _progress = _trim = false;
    _deg = QStringLiteral("90");
    _flipxy = QStringLiteral("horizontal");
    _transpxy = QStringLiteral("transpose");
    checkBoxRotate->setChecked(true);
    for (QCheckBox* b : {checkBoxFlip, checkBoxTranspose, checkBoxOptimize, checkBoxProgressive, checkBoxTrim})
        b->setChecked(false);
    comboBoxDeg->setCurrentIndex(0);
    comboBoxFlip->setCurrentIndex(0);
    comboBoxTranspose->setCurrentIndex(0);
}

bool DialogLLTransform::confirm() {
    _rotate = checkBoxRotate->isChecked();
    _flip = checkBoxFlip->isChecked();
    _transp = checkBoxTranspose->isChecked();
    _optimize = checkBoxOptimize->isChecked();
    _progress = checkBoxProgressive->isChecked();
    _trim = checkBoxTrim->isChecked();
    _deg = comboBoxDeg->currentText();
    _flipxy = comboBoxFlip->currentText();
    _transpxy = comboBoxTranspose->currentText();
    return true;
}

DialogLLCrop::DialogLLCrop(UiServices* ui, std::function<bool(long*, long*, long*, long*)> select, QWidget* parent)
    : DialogLLFile(ui, parent, QStringLiteral("Lossless JPEG Crop")), selectArea(std::move(select)) {
    labelArea = new QLabel(QString::fromLatin1(kNoArea), this);
    buttonArea = new QPushButton(QStringLiteral("Select Area..."), this);
    auto* grid = new QGridLayout;
    grid->addWidget(buttonFile, 0, 0);
    grid->addWidget(labelFileName, 0, 1);
    grid->addWidget(buttonArea, 1, 0);
    grid->addWidget(labelArea, 1, 1);
    auto* v = new QVBoxLayout(this);
    v->addLayout(grid);
    v->addLayout(okCancel());
    connect(buttonArea, &QPushButton::clicked, this, [this] { chooseArea(); });
    setTabOrder(buttonFile, buttonArea);
    setTabOrder(buttonArea, buttonOK);
    setTabOrder(buttonOK, buttonCancel);
}

void DialogLLCrop::Prepare(long width, long height, const QString& prog, const QString& save) {
    imageW = width;
    imageH = height;
    openFiles(prog, save);
    _areasel = false;
    areaL = areaT = areaW = areaH = 0;
    labelArea->setText(QString::fromLatin1(kNoArea));
}

void DialogLLCrop::chooseArea() {
    long l = 0, t = 0, w = 0, h = 0;
    if (!selectArea || !selectArea(&l, &t, &w, &h)) return;
    areaL = l;
    areaT = t;
    areaW = w;
    areaH = h;
    _areasel = !(l == 0 && t == 0 && w == imageW && h == imageH);
    labelArea->setText(_areasel ? QStringLiteral("Area Section: %1, %2, %3, %4").arg(l).arg(t).arg(w).arg(h)
                                : QString::fromLatin1(kNoArea));
}

bool DialogLLCrop::confirm() {
    if (!_areasel)
        ui->Message(this, QStringLiteral("Kaxon5 Error"), QStringLiteral("You have to select an area first!\nOr Cancel?"),
                    UiServices::Icon::Critical);
    return _areasel;
}
