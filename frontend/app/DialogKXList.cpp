#include "DialogKXList.h"

#include <QCheckBox>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <set>

#include "OwnOperator.h"
#include "PictureBox.h"
#include "View.h"
#include "core/catalogue.h"
#include "core/gfxbuffer.h"
#include "core/kxapp.h"
#include "core/kxclass.h"
#include "core/object.h"
#include "core/operator.h"

namespace {

QLabel* field(QGridLayout* g, int row, const char* caption, QWidget* parent) {
    g->addWidget(new QLabel(QString::fromLatin1(caption), parent), row, 0);
    auto* l = new QLabel(parent);
    l->setWordWrap(true);
    l->setMinimumWidth(300);
    g->addWidget(l, row, 1);
    return l;
}

}  // namespace

std::unique_ptr<KXClass> KX_MakeLibrary(const KXBrowserDirs& d) {
    auto lib = std::make_unique<KXClass>();
    lib->SetInstanceId(d.instance);
    lib->SetPaths(QFile::encodeName(d.program).constData(), QFile::encodeName(d.user).constData());
    return lib;
}

bool KX_HasSchema(const QString& archiveDir, const QString& name) {
    return !name.isEmpty() && QFile::exists(archiveDir + name + QStringLiteral(".cpinfo"));
}

QString KX_ModuleName(const char* padPath) {
    QString n = QFile::decodeName(padPath ? padPath : "");
    n = n.mid(n.lastIndexOf(QLatin1Char('/')) + 1);
    const int dot = n.indexOf(QLatin1Char('.'));
    return dot >= 0 ? n.left(dot) : n;
}

namespace {
QString operatorName(const KXOperator* op) { return KX_ModuleName(op->PadPath ? op->PadPath : op->PadName); }
}  // namespace

QStringList KX_OperatorNames(KXClass* lib) {
    std::set<QString> names;
    for (KXOperator** op = lib->GetOperators(); op && *op; ++op) names.insert(operatorName(*op));
    return QStringList(names.begin(), names.end());
}

QStringList KX_ObjectNames(KXClass* lib, uint32_t kinds) {
    std::set<QString> names;
    for (uint32_t kind = 0; kind < kinds; ++kind)
        for (KXObject** o = lib->GetObjects(kind); o && *o; ++o) names.insert(KX_ModuleName((*o)->PadPath));
    return QStringList(names.begin(), names.end());
}

const KXOperator* KX_OperatorNamed(KXClass* lib, const QString& name) {
    for (KXOperator** op = lib->GetOperators(); op && *op; ++op)
        if (operatorName(*op) == name) return *op;
    return nullptr;
}

const KXObject* KX_ObjectNamed(KXClass* lib, uint32_t kinds, const QString& name) {
    for (uint32_t kind = 0; kind < kinds; ++kind)
        for (KXObject** o = lib->GetObjects(kind); o && *o; ++o)
            if (KX_ModuleName((*o)->PadPath) == name) return *o;
    return nullptr;
}

QString KX_OperatorFlags(const KXOperator* op) {
    char words[256] = {};
    KX_OperatorCapsText(op->Capabilities, words, sizeof words);
    return QString::fromLatin1(words).trimmed();
}

QString KX_ObjectFlags(const KXObject* o) {
    char words[256] = {};
    KX_FormatCapsText(o->Capabilities, words, sizeof words);
    return QString::fromLatin1(words).trimmed();
}

// ---------------------------------------------------------------- operators

DialogKXPList::DialogKXPList(const KXBrowserDirs& dirs, QWidget* parent)
    : QDialog(parent), lib(KX_MakeLibrary(dirs)), archiveDir(dirs.archive) {
    setWindowTitle(QStringLiteral("KXOperator Full List"));
    listBoxOps = new QListWidget(this);
    listBoxOps->setMinimumWidth(200);
    auto* g = new QGridLayout;
    labelInfo = field(g, 0, "Info:", this);
    labelFlags = field(g, 1, "Flags:", this);
    labelImage = field(g, 2, "Image:", this);
    labelResult = field(g, 3, "Result:", this);
    checkBoxAuto24 = new QCheckBox(QStringLiteral("Auto-convert to 24/48 Bit"), this);
    checkBoxAuto24->setChecked(true);
    checkBoxFast = new QCheckBox(QStringLiteral("Fast Preview (wrong sizes/areas)"), this);
    pictureBoxPreview = new PictureBox(this);
    pictureBoxPreview->setMode(PictureBox::Zoom);
    pictureBoxPreview->setFixedSize(320, 240);
    // A frame round the box and a checker board under a transparent result.
    pictureBoxPreview->setSunken(true);
    pictureBoxPreview->setChecker(true);
    buttonSettings = new QPushButton(QStringLiteral("Settings..."), this);
    buttonRefresh = new QPushButton(QStringLiteral("Refresh"), this);
    buttonApply = new QPushButton(QStringLiteral("Apply"), this);
    buttonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    auto* right = new QVBoxLayout;
    right->addWidget(pictureBoxPreview);
    right->addLayout(g);
    right->addWidget(checkBoxAuto24);
    right->addWidget(checkBoxFast);
    right->addStretch();
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {buttonSettings, buttonRefresh}) buttons->addWidget(b);
    buttons->addStretch();
    for (QPushButton* b : {buttonApply, buttonCancel}) buttons->addWidget(b);
    right->addLayout(buttons);
    auto* h = new QHBoxLayout(this);
    h->addWidget(listBoxOps);
    h->addLayout(right);

    listBoxOps->addItems(KX_OperatorNames(lib.get()));
    for (QLabel* l : {labelInfo, labelFlags, labelImage}) l->setText(QStringLiteral("No Info."));
    labelResult->setText(QStringLiteral("No Error."));

    connect(listBoxOps, &QListWidget::currentRowChanged, this, [this] { selected(); });
    connect(listBoxOps, &QListWidget::itemDoubleClicked, this, [this] {
        if (buttonSettings->isEnabled()) buttonSettings->click();
    });
    connect(buttonSettings, &QPushButton::clicked, this, [this] {
        if (!openSettings || !listBoxOps->currentItem()) return;
        openSettings(listBoxOps->currentItem()->text());
        UpdatePreview();
    });
    connect(buttonRefresh, &QPushButton::clicked, this, [this] {
        showBuffer(image, false);
        labelResult->setText(QStringLiteral("Refreshed preview."));
    });
    connect(buttonApply, &QPushButton::clicked, this, [this] {
        _exit = 0;
        accept();
    });
    connect(buttonCancel, &QPushButton::clicked, this, [this] {
        _exit = 1;
        reject();
    });
}

DialogKXPList::~DialogKXPList() = default;

void DialogKXPList::PrepareP(KX_GfxBuffer* img, bool areaMode, int, int, int, int, bool hasMeta) {
    image = img;
    area = areaMode;
    meta = hasMeta;
    if (listBoxOps->count()) listBoxOps->setCurrentRow(0);
}

void DialogKXPList::PrepareS() {
    image = nullptr;
    pictureBoxPreview->setEnabled(false);
    for (QWidget* w : std::initializer_list<QWidget*>{buttonApply, labelImage, labelResult, buttonRefresh, checkBoxAuto24, checkBoxFast})
        w->hide();
    // The captions of the hidden lines go with them.
    for (QLabel* l : findChildren<QLabel*>())
        if (l->text() == QLatin1String("Image:") || l->text() == QLatin1String("Result:")) l->hide();
    buttonCancel->setText(QStringLiteral("Done"));
    if (listBoxOps->count()) listBoxOps->setCurrentRow(0);
}

int DialogKXPList::ShowDialogP(KX_GfxBuffer* img, bool areaMode, int l, int t, int w, int h, bool hasMeta) {
    PrepareP(img, areaMode, l, t, w, h, hasMeta);
    exec();
    return _exit;
}

int DialogKXPList::ShowDialogS() {
    PrepareS();
    exec();
    return _exit;
}

bool DialogKXPList::Select(const QString& name) {
    const auto found = listBoxOps->findItems(name, Qt::MatchExactly);
    if (found.isEmpty()) return false;
    listBoxOps->setCurrentItem(found.first());
    return true;
}

int DialogKXPList::operatorNumber(const QString& name) const {
    KXOperator** ops = lib->GetOperators();
    for (int i = 0; ops && ops[i]; ++i)
        if (operatorName(ops[i]) == name) return i;
    return -1;
}

void DialogKXPList::selected() {
    const QListWidgetItem* it = listBoxOps->currentItem();
    if (!it) return;
    _kxpnum = operatorNumber(it->text());
    if (_kxpnum < 0) return;
    const KXOperator* op = lib->GetOperators()[_kxpnum];
    labelInfo->setText(QString::fromLatin1(op->Description));
    labelFlags->setText(KX_OperatorFlags(op));
    buttonSettings->setEnabled(KX_HasSchema(archiveDir, it->text()));
    UpdatePreview();
}

void DialogKXPList::UpdatePreview() {
    if (!image || _kxpnum < 0) return;
    uint32_t count = 0;
    const KXOperatorReg* regs = KX_OperatorRegs(&count);
    if (uint32_t(_kxpnum) >= count) return;
    const KXOperatorReg& reg = regs[_kxpnum];
    const QString name = listBoxOps->currentItem()->text();
    if (area && (reg.Capabilities & KXPCAP_SIZECHANGE)) {
        labelResult->setText(QStringLiteral("Size-changing operations not allowed in area-mode."));
        return;
    }
    KX_GfxBuffer* source = image;
    KX_GfxBuffer* reduced = nullptr;
    KX_GfxBuffer* converted = nullptr;
    auto release = [&] {
        if (reduced) KXSUP_FreeGfxBuffer(reduced);
        if (converted) KXSUP_FreeGfxBuffer(converted);
    };
    auto error = [&](uint32_t code) {
        labelResult->setText(QStringLiteral("Error: ") + QString::fromLatin1(KXL_GetErrorString(code)));
        release();
    };
    if (checkBoxFast->isChecked()) {
        const uint32_t err = kxown::Run(lib.get(), KXOP_RESIZE, source, &reduced,
                                        {{"NEW_WIDTH", kxown::Int(pictureBoxPreview->width())},
                                         {"NEW_HEIGHT", kxown::Int(pictureBoxPreview->height())}});
        if (err) return error(err);
        source = reduced;
    }
    if (checkBoxAuto24->isChecked() && source->ColorDepth < 24 && !(reg.Capabilities & 0x4)) {
        if (kxown::Run(lib.get(), KXOP_ANYTO24BIT, source, &converted, {}, false)) return release();
        source = converted;
    }
    // A fresh object of the chosen class: nothing of an earlier run (its
    // settings list, work buffers or result) reaches this one.
    std::unique_ptr<KXOperator> op(KX_NewOperator(lib.get(), reg));
    if (!op) return error(KXERR_NOMEMORY);
    lastPreviewOperator = op.get();
    op->Reset();
    op->Configure(nullptr);
    KX_GfxBuffer* result = nullptr;
    uint32_t err = op->OperateTagList(source, &result, nullptr);
    if (!err) err = op->DetachResult(&result);
    if (err) return error(err);
    showBuffer(result ? result : source, reg.Capabilities & KXPCAP_SIZECHANGE);
    if (result && result != source) KXSUP_FreeGfxBuffer(result);
    labelResult->setText(QStringLiteral("Updated preview for ") + name);
    release();
}

void DialogKXPList::showBuffer(KX_GfxBuffer* b, bool sizeChange) {
    if (!b) return;
    View converter(lib.get(), b, nullptr, true, false);
    pictureBoxPreview->setImage(converter.image());
    const QString sep = sizeChange ? QStringLiteral("[M] x ") : QStringLiteral(" x ");
    QString flags;
    if (IsHamBuffer(b) && (b->ColorDepth == 6 || b->ColorDepth == 8)) flags += b->ColorDepth == 6 ? " HAM6" : " HAM8";
    if (IsEhbBuffer(b)) flags += QStringLiteral(" EHB");
    if (b->Version >= 3) {
        if (b->AlphaType & 2) flags += QStringLiteral(" 8 Bit Alpha");
        if (b->AlphaType & 4) flags += QStringLiteral(" 8 Bit AlphaMap");
        if (b->AlphaType & 1) flags += QStringLiteral(" Transparent Color (%1)").arg(KXSUP_AlphaIndex(b));
    }
    if (meta) flags += QStringLiteral(" Meta");
    labelImage->setText(QString::number(b->Width) + sep + QString::number(b->Height) + sep +
                        QString::number(b->ColorDepth) + QStringLiteral(" [") +
                        (flags.isEmpty() ? QStringLiteral("no special flags]") : flags + QStringLiteral("]")));
}

// ------------------------------------------------------------------ formats

DialogKXOList::DialogKXOList(const KXBrowserDirs& dirs, QWidget* parent)
    : QDialog(parent), lib(KX_MakeLibrary(dirs)), archiveDir(dirs.archive) {
    setWindowTitle(QStringLiteral("KXObject Full List"));
    listBoxObjs = new QListWidget(this);
    listBoxObjs->setMinimumSize(200, 320);
    auto* g = new QGridLayout;
    labelInfo = field(g, 0, "Info:", this);
    labelFlags = field(g, 1, "Flags:", this);
    for (QLabel* l : {labelInfo, labelFlags}) l->setText(QStringLiteral("No Info."));
    buttonSettings = new QPushButton(QStringLiteral("Settings..."), this);
    buttonDone = new QPushButton(QStringLiteral("Done"), this);
    auto* right = new QVBoxLayout;
    right->addLayout(g);
    right->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(buttonSettings);
    buttons->addStretch();
    buttons->addWidget(buttonDone);
    right->addLayout(buttons);
    auto* h = new QHBoxLayout(this);
    h->addWidget(listBoxObjs);
    h->addLayout(right);

    listBoxObjs->addItems(KX_ObjectNames(lib.get(), 3));

    connect(listBoxObjs, &QListWidget::currentRowChanged, this, [this] { selected(); });
    connect(listBoxObjs, &QListWidget::itemDoubleClicked, this, [this] {
        if (buttonSettings->isEnabled()) buttonSettings->click();
    });
    connect(buttonSettings, &QPushButton::clicked, this, [this] {
        if (openSettings && listBoxObjs->currentItem()) openSettings(listBoxObjs->currentItem()->text());
    });
    connect(buttonDone, &QPushButton::clicked, this, &QDialog::accept);
    buttonSettings->setEnabled(false);
    if (listBoxObjs->count()) listBoxObjs->setCurrentRow(0);
}

DialogKXOList::~DialogKXOList() = default;

int DialogKXOList::ShowDialogS() { return exec(); }

bool DialogKXOList::Select(const QString& name) {
    const auto found = listBoxObjs->findItems(name, Qt::MatchExactly);
    if (found.isEmpty()) return false;
    listBoxObjs->setCurrentItem(found.first());
    return true;
}

void DialogKXOList::selected() {
    const QListWidgetItem* it = listBoxObjs->currentItem();
    if (!it) return;
    // The first table (readers, writers, device readers) that holds it.
    const KXObject* o = KX_ObjectNamed(lib.get(), 3, it->text());
    if (!o) return;
    labelInfo->setText(QString::fromLatin1(o->FormatName));
    labelFlags->setText(KX_ObjectFlags(o));
    buttonSettings->setEnabled(KX_HasSchema(archiveDir, it->text()));
}
