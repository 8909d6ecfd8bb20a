// The image-import dialogs (see DialogRawImport.h).
#include "DialogRawImport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <cstring>
#include <new>

#include "DialogMetaInfo.h"
#include "PictureBox.h"
#include "UiServices.h"
#include "View.h"
#include "core/catalogue.h"
#include "core/kxbridge.h"

namespace {
const char* const kNoFile = "No filename selected.";
const char* const kNoComment = "No file comment available.";
const char* const kNoError = "No error.";
const char* const kFine = "Data seems to be fine. Press OK to import.";
const char* const kHint = "check comment, if any";

// The wizard's order; the first two are the 8-bit layouts.
const char* const kFormats[] = {"GRAY8",   "LUT8",   "RGB15",  "RGB16",  "ARGB16", "RGB24",   "RGBA32",
                                "ARGB32",  "RGB+A32", "RGB48", "RGBA64", "ARGB64", "RGB+A64", "BAYER8"};

QSpinBox* number(QWidget* parent, int max) {
    auto* s = new QSpinBox(parent);
    s->setRange(0, max);
    return s;
}

QComboBox* combo(QWidget* parent, const QStringList& items, bool editable) {
    auto* c = new QComboBox(parent);
    c->addItems(items);
    c->setEditable(editable);
    return c;
}

QLabel* hint(QWidget* parent) {
    auto* l = new QLabel(QString::fromLatin1(kHint), parent);
    QFont small = l->font();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    small.setItalic(true);
    l->setFont(small);
    return l;
}

// The first line of the side file, without its line end; empty when none.
QString sideComment(const QString& path) {
    char line[256];
    const QByteArray name = QFile::encodeName(path);
    if (!amGetComment(name.constData(), line, sizeof(line))) return QString();
    size_t n = strlen(line);
    while (n && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = 0;
    return KX_MetaText(line, qsizetype(n));
}
}  // namespace

DialogKXORAWImport::DialogKXORAWImport(UiServices* ui, KXClass* lib, QWidget* parent) : QDialog(parent), ui(ui), lib(lib) {
    setWindowTitle(QStringLiteral("Raw Data Import Wizard"));
    numericWidth = number(this, 65535);
    numericHeight = number(this, 65535);
    // The offsets travel as signed 32-bit numbers.
    numericStartOffset = number(this, 2147483647);
    numericEndOffset = number(this, 2147483647);
    comboBoxLayout = combo(this, {QStringLiteral("Chunky"), QStringLiteral("Planar")}, false);
    QStringList formats;
    for (const char* f : kFormats) formats << QString::fromLatin1(f);
    // Not editable: the preview needs one of the importer's formats.
    comboBoxFormat = combo(this, formats, false);
    comboBoxEndian = combo(this, {QStringLiteral("Little Endian / RGB"), QStringLiteral("Big Endian / BGR")}, false);
    checkBoxCM = new QCheckBox(QStringLiteral("Check for .cm file (colormap)"), this);
    pictureBoxPreview = new PictureBox(this);
    pictureBoxPreview->setMode(PictureBox::Zoom);
    pictureBoxPreview->setSunken(true);
    pictureBoxPreview->setMinimumSize(256, 192);
    labelFileName = new QLabel(QString::fromLatin1(kNoFile), this);
    labelComment = new QLabel(QString::fromLatin1(kNoComment), this);
    labelStatus = new QLabel(QString::fromLatin1(kNoError), this);
    for (QLabel* l : {labelFileName, labelComment, labelStatus}) {
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        l->setWordWrap(true);
    }
    buttonSelectFile = new QPushButton(QStringLiteral("Select File..."), this);
    buttonOK = new QPushButton(QStringLiteral("OK"), this);
    buttonCancel = new QPushButton(QStringLiteral("Cancel"), this);

    auto* grid = new QGridLayout;
    int row = 0;
    auto add = [&](const char* label, QWidget* control, bool withHint) {
        grid->addWidget(new QLabel(QString::fromLatin1(label), this), row, 0);
        grid->addWidget(control, row, 1);
        if (withHint) grid->addWidget(hint(this), row, 2);
        ++row;
    };
    add("Endianess", comboBoxEndian, false);
    add("Layout (8 bit)", comboBoxLayout, false);
    add("Format", comboBoxFormat, true);
    grid->addWidget(checkBoxCM, row++, 1, 1, 2);
    add("Width", numericWidth, true);
    add("Height", numericHeight, true);
    add("Start Offset", numericStartOffset, true);
    add("End Offset", numericEndOffset, false);

    auto* file = new QHBoxLayout;
    file->addWidget(buttonSelectFile);
    file->addWidget(labelFileName, 1);
    auto* status = new QHBoxLayout;
    status->addWidget(new QLabel(QStringLiteral("Status:"), this));
    status->addWidget(labelStatus, 1);
    auto* left = new QVBoxLayout;
    left->addLayout(grid);
    left->addStretch();
    auto* top = new QHBoxLayout;
    top->addLayout(left);
    top->addWidget(pictureBoxPreview, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(buttonOK);
    buttons->addWidget(buttonCancel);
    auto* v = new QVBoxLayout(this);
    v->addLayout(file);
    v->addWidget(labelComment);
    v->addLayout(top, 1);
    v->addLayout(status);
    v->addLayout(buttons);

    for (QSpinBox* s : {numericWidth, numericHeight, numericStartOffset, numericEndOffset})
        connect(s, &QSpinBox::valueChanged, this, [this] { numericUpDown_ValueChanged(); });
    for (QComboBox* c : {comboBoxLayout, comboBoxFormat, comboBoxEndian})
        connect(c, &QComboBox::currentIndexChanged, this, [this] { numericUpDown_ValueChanged(); });
    connect(checkBoxCM, &QCheckBox::toggled, this, [this] { numericUpDown_ValueChanged(); });
    connect(buttonSelectFile, &QPushButton::clicked, this, [this] { buttonSelectFile_Click(); });
    connect(buttonOK, &QPushButton::clicked, this, [this] {
        _exit = 0;
        numericUpDown_ValueChanged();
        accept();
    });
    connect(buttonCancel, &QPushButton::clicked, this, [this] {
        _exit = 1;
        reject();
    });
    Prepare(QString(), QString());
}

void DialogKXORAWImport::Prepare(const QString& prog, const QString& load) {
    progdir = prog;
    loaddir = load;
    _exit = 1;
    initimg = 0;
    _width = _height = _offset_start = _offset_end = 0;
    _loadname.clear();
    _format.clear();
    _cm = _endian = _layout = 0;
    filling = true;
    for (QSpinBox* s : {numericWidth, numericHeight, numericStartOffset, numericEndOffset}) s->setValue(0);
    comboBoxLayout->setCurrentIndex(0);
    comboBoxFormat->setCurrentText(QStringLiteral("RGB24"));
    comboBoxEndian->setCurrentIndex(0);
    checkBoxCM->setChecked(false);
    filling = false;
    labelFileName->setText(QString::fromLatin1(kNoFile));
    labelComment->setText(QString::fromLatin1(kNoComment));
    labelStatus->setText(QString::fromLatin1(kNoError));
    pictureBoxPreview->setImage(QImage());
    numericUpDown_ValueChanged();
}

void DialogKXORAWImport::buttonSelectFile_Click() {
    const QString path = ui->OpenFileName(this, loaddir, QString(), QStringLiteral("RAW-Files (*.raw *.RAW)"));
    if (path.isEmpty()) return;
    const QString comment = sideComment(path);
    labelComment->setText(comment.isEmpty() ? QString::fromLatin1(kNoComment) : comment);
    labelFileName->setText(path);
    _loadname = path;
    initimg = 1;
    UpdatePreview();
}

void DialogKXORAWImport::numericUpDown_ValueChanged() {
    if (filling) return;
    _width = numericWidth->value();
    _height = numericHeight->value();
    _offset_start = numericStartOffset->value();
    _offset_end = numericEndOffset->value();
    _layout = comboBoxLayout->currentIndex() == 1 ? 1 : 0;
    const int format = comboBoxFormat->currentIndex();
    _format = format >= 0 ? comboBoxFormat->currentText() : QString();
    _endian = comboBoxEndian->currentIndex() == 1 ? 1 : 0;
    _cm = checkBoxCM->isChecked() ? 1 : 0;
    // The layout box is for the 8-bit formats; the colour map for LUT8
    // (GRAY8 leaves the box as it is).
    comboBoxLayout->setEnabled(format == 0 || format == 1);
    if (format == 1) checkBoxCM->setEnabled(true);
    else if (format > 1) checkBoxCM->setEnabled(false);
    UpdatePreview();
}

void DialogKXORAWImport::UpdatePreview() {
    if (!initimg) return;
    KXObject* device = nullptr;
    const uint32_t err = kxraw::LoadDevice(lib, "kxoRAW_Import", kxraw::RawKeys(*this), 0, nullptr, &device);
    KX_GfxBuffer* image = nullptr;
    if (!err && device) device->GetGfxBuffer(&image);
    QImage bitmap;
    if (image) {
        View converter(lib, image, nullptr, true, false, false, ui, nullptr);
        bitmap = converter.image();
    }
    delete device;
    if (err || bitmap.isNull()) {
        labelStatus->setText(QStringLiteral("Error: ") + QString::fromUtf8(KXL_GetErrorString(err ? err : KXERR_NOVIEWABLEDATA)));
        pictureBoxPreview->setImage(QImage());
    } else {
        labelStatus->setText(QString::fromLatin1(kFine));
        pictureBoxPreview->setImage(bitmap);
    }
}

DialogKXODCRAW::DialogKXODCRAW(UiServices* ui, QWidget* parent) : QDialog(parent), ui(ui) {
    setWindowTitle(QStringLiteral("DCRAW File Import"));
    // The boxes take typed text too; whatever they hold at OK is used.
    comboBoxExtractMode = combo(this, {QStringLiteral("PREVIEW"), QStringLiteral("IMAGE")}, true);
    comboBoxLayout = combo(this, {QStringLiteral("8BIT"), QStringLiteral("16BIT")}, true);
    comboBoxFileFormat = combo(this, {QStringLiteral("PPM"), QStringLiteral("TIFF")}, true);
    comboBoxColorSpace = combo(this,
                               {QStringLiteral("RAW"), QStringLiteral("SRGB"), QStringLiteral("ADOB"), QStringLiteral("WIDE"),
                                QStringLiteral("PRO"), QStringLiteral("XYZ")},
                               true);
    numericPicNum = number(this, 99);
    labelFileName = new QLabel(QString::fromLatin1(kNoFile), this);
    labelFileName->setWordWrap(true);
    buttonSelectFile = new QPushButton(QStringLiteral("Select File..."), this);
    buttonOK = new QPushButton(QStringLiteral("OK"), this);
    buttonCancel = new QPushButton(QStringLiteral("Cancel"), this);

    auto* grid = new QGridLayout;
    int row = 0;
    auto add = [&](const char* label, QWidget* control) {
        grid->addWidget(new QLabel(QString::fromLatin1(label), this), row, 0);
        grid->addWidget(control, row++, 1);
    };
    add("Extract Mode", comboBoxExtractMode);
    add("Format (Layout)", comboBoxLayout);
    add("File Format", comboBoxFileFormat);
    add("Colorspace", comboBoxColorSpace);
    add("Picture No.", numericPicNum);
    auto* file = new QHBoxLayout;
    file->addWidget(buttonSelectFile);
    file->addWidget(labelFileName, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(buttonOK);
    buttons->addWidget(buttonCancel);
    auto* v = new QVBoxLayout(this);
    v->addLayout(file);
    v->addLayout(grid);
    for (const char* note : {"Import will start after pressing OK.", "In case of an error DCRAW may deadlock for ~1min.",
                             "Just leave Kaxon5 alone in this case."})
        v->addWidget(new QLabel(QString::fromLatin1(note), this));
    v->addLayout(buttons);

    connect(buttonSelectFile, &QPushButton::clicked, this, [this] {
        const QString path = this->ui->OpenFileName(this, loaddir, QString(), QStringLiteral("RAW-Files (*)"));
        if (path.isEmpty()) return;
        _loadname = path;
        labelFileName->setText(path);
    });
    connect(buttonOK, &QPushButton::clicked, this, [this] {
        _exit = 0;
        _picnum = numericPicNum->value();
        _mode = comboBoxExtractMode->currentText();
        _layout = comboBoxLayout->currentText();
        _format = comboBoxFileFormat->currentText();
        _cspace = comboBoxColorSpace->currentText();
        accept();
    });
    connect(buttonCancel, &QPushButton::clicked, this, [this] {
        _exit = 1;
        reject();
    });
    Prepare(QString(), QString());
}

void DialogKXODCRAW::Prepare(const QString& prog, const QString& load) {
    progdir = prog;
    loaddir = load;
    _exit = 1;
    _picnum = 0;
    _mode.clear();
    _layout.clear();
    _format.clear();
    _cspace.clear();
    _loadname.clear();
    comboBoxExtractMode->setCurrentText(QStringLiteral("IMAGE"));
    comboBoxLayout->setCurrentText(QStringLiteral("8BIT"));
    comboBoxFileFormat->setCurrentText(QStringLiteral("PPM"));
    comboBoxColorSpace->setCurrentText(QStringLiteral("RAW"));
    numericPicNum->setValue(0);
    labelFileName->setText(QString::fromLatin1(kNoFile));
}

namespace kxraw {

Keys RawKeys(const DialogKXORAWImport& d) {
    return {{"WIDTH", QByteArray::number(d._width)},
            {"HEIGHT", QByteArray::number(d._height)},
            {"OFFSET_START", QByteArray::number(d._offset_start)},
            {"OFFSET_END", QByteArray::number(d._offset_end)},
            {"LUT8_FORMAT", d._layout == 0 ? "CHUNKY" : "PLANAR"},
            {"FORMAT", d._format.toLatin1()},
            {"ENDIAN", d._endian == 0 ? "LITTLE" : "BIG"},
            {"LOAD_CM", d._cm ? "ON" : "OFF"},
            {"LOADNAME", QFile::encodeName(d._loadname)}};
}

Keys DcrawKeys(const DialogKXODCRAW& d, const QByteArray& dcrawPath) {
    return {{"EXTRACTMODE", d._mode.toUtf8()},
            {"FORMAT", d._layout.toUtf8()},
            {"METAFORMAT", d._format.toUtf8()},
            {"PICNUMBER", QByteArray::number(d._picnum)},
            {"COLORSPACE", d._cspace.toUtf8()},
            {"LOADNAME", QFile::encodeName(d._loadname)},
            {"DCRAW_PATH", dcrawPath}};
}

uint32_t LoadDevice(KXClass* lib, const char* className, const Keys& keys, uint32_t loadMeta, const Runner& run,
                    KXObject** device) {
    *device = nullptr;
    const KXFormatReg* reg = KX_FindFormatReg(className);
    if (!reg || !KX_IsBuilt(className)) return KXERR_NOTSUPPORTED;
    KXObject* obj = KX_NewObject(lib, *reg);
    if (!obj) return KXERR_NOMEMORY;
    uint32_t err = KXERR_NONE;
    auto* settings = new (std::nothrow) KXConfig(obj->PadPath ? obj->PadPath : obj->PadName, &err);
    if (!settings) err = KXERR_NOMEMORY;
    if (!err)
        for (const auto& [key, value] : keys) settings->SetValue(key.constData(), value.constData());
    if (!err) {
        obj->SetLocalConfig(settings->GetPadList());
        obj->SetLoadMeta(loadMeta);
        obj->SetProgress(MyProgress, 0);
        err = obj->SetIOMode(KXIO_DEVICE);
        auto load = [obj] {
            KX_GfxBuffer* image = nullptr;
            uint32_t e = obj->Load();
            if (!e) e = obj->GetGfxBuffer(&image);
            return e ? e : image ? uint32_t(KXERR_NONE) : uint32_t(KXERR_NOVIEWABLEDATA);
        };
        if (!err) err = run ? run(load) : load();
        // The list is the caller's: taken back before it goes.
        obj->FreeConfig();
    }
    delete settings;
    if (err) {
        delete obj;
        return err;
    }
    *device = obj;
    return KXERR_NONE;
}

}  // namespace kxraw
